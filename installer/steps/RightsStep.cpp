// The rights step: RIGHTS entries, the read-only flags of the installed files and the grant to
// Everyone.
#include "steps/RightsStep.h"

#include "app/Tools.h"
#include "manager/InstallManager.h"
#include "package/ScriptVocabulary.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <vector>

namespace InstallSteps {

using InstallManager::Log;
using InstallManager::LogLevel;

platform::DWORD RightsMask(const std::wstring& text) {
  platform::DWORD mask = 0;
  for (wchar_t c : text) {
    switch (c) {
      case L'f': mask |= 0x10000000; break;
      case L'e': mask |= 0x20000000; break;
      case L'w': mask |= 0x40000000; break;
      case L'r': mask |= 0x80000000; break;
      case L'd': mask |= 0x00000010; break;
      case L'a': mask |= 0x00000020; break;
      case L'p': mask |= 0x00000040; break;
      case L'c': mask |= 0x00000004; break;
      default: break;
    }
  }
  return mask == 0 ? 0x10000000 : mask;
}

platform::DWORD LogApiError(const std::wstring& message) {
  platform::DWORD code = platform::GetLastError();
  Log(LogLevel::Warning, L"   %s Error #%d = %s", message, static_cast<int>(code),
      platform::SystemErrorText(code));
  return code;
}

namespace {

// The read-only rule on one file or folder: exactly "read" on an entry that stays gets the flag;
// anything else loses it and is marked for archiving.
void ApplyReadOnlyRule(const std::wstring& path, platform::DWORD attributes, platform::DWORD mask,
                       bool remove) {
  if (attributes == platform::INVALID_FILE_ATTRIBUTES) return;
  attributes &= ~(platform::FILE_ATTRIBUTE_DIRECTORY | platform::FILE_ATTRIBUTE_NORMAL |
                  platform::FILE_ATTRIBUTE_REPARSE_POINT);
  if (mask == 0x80000000 && !remove) {
    if (!(attributes & platform::FILE_ATTRIBUTE_READONLY))
      platform::SetFileAttributesW(path, attributes | platform::FILE_ATTRIBUTE_READONLY);
    return;
  }
  platform::DWORD changed =
      (attributes & ~platform::FILE_ATTRIBUTE_READONLY) | platform::FILE_ATTRIBUTE_ARCHIVE;
  platform::SetFileAttributesW(path, changed);
}

}  // namespace

bool SetReadOnlyFlags(const std::wstring& path, const std::wstring& rights, bool remove) {
  platform::DWORD mask = RightsMask(rights);
  std::wstring full;
  if (platform::GetFullPathNameW(path, full) != platform::ERROR_SUCCESS || full.size() > 1024) {
    LogApiError(L"GetFullPathName fail!");
    return false;
  }
  if (!platform::PathFileExistsW(full)) {
    Log(LogLevel::Warning, L"   File %s does not exist or is not accessible", full);
    return false;
  }
  platform::DWORD attributes = platform::GetFileAttributesW(full);
  bool folder = attributes != platform::INVALID_FILE_ATTRIBUTES &&
                (attributes & platform::FILE_ATTRIBUTE_DIRECTORY);
  bool link = attributes != platform::INVALID_FILE_ATTRIBUTES &&
              (attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT);
  if (folder && !link) {
    std::vector<platform::FindData> entries;
    if (platform::FindAll(full + L"\\*.*", entries, false) != platform::ERROR_SUCCESS) return false;
    for (const auto& e : entries) {
      if (e.fileName == L"." || e.fileName == L"..") continue;
      std::wstring entry = full;
      if (!platform::PathAppendW(entry, e.fileName)) {
        Log(LogLevel::Warning, L"   %s\\%s is too long for a Windows path", full, e.fileName);
        return false;
      }
      // A link is treated as an entry of its own, never entered.
      if ((e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) &&
          !(e.attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!SetReadOnlyFlags(entry, rights, remove)) return false;
      } else {
        ApplyReadOnlyRule(entry, e.attributes, mask, remove);
      }
    }
  }
  ApplyReadOnlyRule(path, attributes, mask, remove);
  return true;
}

int SetRights(const std::wstring& path, const std::wstring& rights, const std::wstring& enumWord,
              const std::wstring& accountName) {
  Log(LogLevel::Info, L"SetRights: %s Rights = %s Enum = %s AccountName = %s", path, rights,
      enumWord, accountName);
  Log(LogLevel::Info, L"%s", std::wstring(66, L'-'));
  Log(LogLevel::Warning, L"SetRights: access lists are not part of this build");
  return 0;
}

}  // namespace InstallSteps

namespace InstallManager {

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;

void CInstallManager::ProcessRights(const SettingsNodePtr& root, bool remove,
                                    const std::wstring& basePath) {
  Log(LogLevel::Info, L"ProcessRights: Start");
  try {
    SettingsNodePtr rights;
    if (!root || !root->GetChild(ScriptNames::Element::kRights, rights) || !rights) return;
    if (IsIgnored(rights)) return;
    SettingsNodeListPtr children;
    if (!rights->GetChildren(children) || !children) return;
    for (int i = 0, n = children->GetCount(); i < n; ++i) {
      SettingsNodePtr child;
      if (!children->GetItem(i, child) || !child || IsIgnored(child)) continue;
      if (platform::EqualsNoCase(child->GetName(), ScriptNames::Element::kDirectory))
        CommonStepRights(child, remove, basePath);
    }
  } catch (const CommonTools::SettingsError&) {
    // Ends the step without a message; the run goes on.
  }
}

void CInstallManager::CommonStepRights(const SettingsNodePtr& node, bool remove,
                                       const std::wstring& basePath) {
  try {
    if (IsIgnored(node)) return;
    std::wstring name = ReadAttribute(node, ScriptNames::Attribute::kName, L"", true);
    if (name.find_first_not_of(L" \\.") == std::wstring::npos) {
      Log(LogLevel::Error,
          L"CommonStepRights: a rights entry without a Name (\"%s\") would stand for the whole "
          L"installation folder and is skipped",
          name);
      return;
    }
    std::wstring path = basePath;
    if (!platform::PathAppendW(path, name)) {
      Log(LogLevel::Error,
          L"CommonStepRights: %s joined with %s is longer than a Windows path may be and is "
          L"refused",
          basePath, name);
      return;
    }
    std::wstring rights = CommonTools::GetText(node, ScriptNames::Attribute::kRights, L"0");
    if (!InstallSteps::SetReadOnlyFlags(path, rights, remove))
      Log(LogLevel::Warning, L"CommonStepRights: Folder = %s is not set rights %s", path, rights);
    if (!remove && !InstallSteps::SetRights(path, rights, L"y", L"-EVERYONE:"))
      Log(LogLevel::Warning, L"CommonStepRights: Folder = %s is not set permissions %s", path,
          rights);
  } catch (const CommonTools::SettingsError&) {
    // Ends the step without a message; the run goes on.
  }
}

}  // namespace InstallManager
