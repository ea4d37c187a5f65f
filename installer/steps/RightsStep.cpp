// The rights step: RIGHTS entries, the read-only flags of the installed files and the grant to
// Everyone.
#include "steps/RightsStep.h"

#include "app/Tools.h"
#include "steps/RightsStep.h"
#include "package/NameCheck.h"
#include "package/ScriptVocabulary.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Security.h"
#include "platform/Text.h"
#include "steps/FileUtilities.h"
#include "steps/StepGuard.h"

#include <cstdint>
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

namespace {

bool IsNtfs(const std::wstring& path) {
  if (path.size() < 3) return false;
  platform::VolumeInfo info;
  if (platform::GetVolumeInformationW(path.substr(0, 3), info) != platform::ERROR_SUCCESS)
    return false;
  std::wstring name = platform::ToUpper(info.fileSystemName);
  if (name.size() > 79) name.resize(79);
  return name.find(L"NTFS") != std::wstring::npos;
}

struct WalkItem {
  std::wstring path;
  bool folder = false;
  platform::DWORD status = 0;  // 0, or ERROR_ACCESS_DENIED for a folder that cannot be listed
};

// The tree below `folder` in the order of the walk: the folder's own entries, then each
// sub-folder's tree. Links are entries, never entered. The result is ERROR_NO_MORE_FILES at
// the end, ERROR_INVALID_NAME at a path of MAX_PATH characters or more, or the failure.
platform::DWORD WalkTree(const std::wstring& folder, std::vector<WalkItem>& items, bool top) {
  std::wstring pattern = folder + L"\\*.*";
  if (pattern.size() >= platform::MAX_PATH) return platform::ERROR_INVALID_NAME;
  std::vector<platform::FindData> entries;
  platform::DWORD status = platform::FindAll(pattern, entries, false);
  if (status == platform::ERROR_ACCESS_DENIED && !top) {
    items.push_back({folder, true, platform::ERROR_ACCESS_DENIED});
    return platform::ERROR_NO_MORE_FILES;
  }
  if (status != platform::ERROR_SUCCESS && status != platform::ERROR_FILE_NOT_FOUND) return status;
  std::vector<std::wstring> folders;
  for (const auto& e : entries) {
    if (e.fileName == L"." || e.fileName == L"..") continue;
    std::wstring p = folder + L"\\" + e.fileName;
    if (p.size() >= platform::MAX_PATH) return platform::ERROR_INVALID_NAME;
    bool isFolder = (e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool isLink = (e.attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    items.push_back({p, isFolder, 0});
    if (isFolder && !isLink) folders.push_back(p);
  }
  for (const auto& f : folders) {
    platform::DWORD s = WalkTree(f, items, false);
    if (s != platform::ERROR_NO_MORE_FILES) return s;
  }
  return platform::ERROR_NO_MORE_FILES;
}

bool Grant(const std::wstring& entry, platform::DWORD mask, const std::wstring& accountName,
           const wchar_t* prefix) {
  Log(LogLevel::Info, L"%sRun AddAccessRights = filename is '%s' account is '%s' rights is %u",
      std::wstring(prefix), entry, accountName, static_cast<unsigned>(mask));
  if (AddAccessRights(entry, mask)) {
    Log(LogLevel::Info, L"   AddAccessRights() succeeded. File = %s, Account = %s", entry,
        std::wstring(L"-EVERYONE:"));
    return true;
  }
  Log(LogLevel::Warning, L"   AddAccessRights() failed. File = %s, Account = %s", entry,
      std::wstring(L"-EVERYONE:"));
  return false;
}

}  // namespace

bool AddAccessRights(const std::wstring& path, platform::DWORD mask) {
  platform::Sid everyone = platform::EveryoneSid();
  platform::PSID world = everyone.Psid();
  // The new list is made from the old one while the object's path stays resolved; a failure
  // while making it is logged where it happens and ends the edit with this status.
  constexpr platform::DWORD kNotMade = platform::ERROR_INVALID_ACL;
  std::vector<std::uint64_t> buffer;
  auto make = [&](platform::PSECURITY_DESCRIPTOR old, platform::ACL* oldDacl,
                  platform::SECURITY_INFORMATION& what,
                  const platform::ACL*& newDacl) -> platform::DWORD {
    platform::WORD control = 0;
    platform::DWORD revision = 0;
    if (!platform::GetSecurityDescriptorControl(old, &control, &revision)) {
      LogApiError(L"48) GetSecurityDescriptorControl() failed.");
      return kNotMade;
    }
    platform::ACL_SIZE_INFORMATION size{0, sizeof(platform::ACL), 0};
    if (oldDacl &&
        !platform::GetAclInformation(oldDacl, &size, sizeof size, platform::AclSizeInformation)) {
      LogApiError(L"GetAclInformation() failed.");
      return kNotMade;
    }
    platform::DWORD bytes = size.AclBytesInUse + sizeof(platform::ACCESS_ALLOWED_ACE) -
                            sizeof(platform::DWORD) + platform::GetLengthSid(world);
    buffer.assign(bytes / 8 + 1, 0);
    auto* acl = reinterpret_cast<platform::ACL*>(buffer.data());
    if (!platform::InitializeAcl(acl, bytes, platform::ACL_REVISION)) {
      LogApiError(L"InitializeAcl() failed.");
      return kNotMade;
    }
    platform::DWORD index = 0;
    // The explicit entries first (Everyone's own is replaced), up to the first inherited one.
    for (; index < size.AceCount; ++index) {
      void* ace = nullptr;
      if (!platform::GetAce(oldDacl, index, &ace)) {
        LogApiError(L"GetAce() failed.");
        return kNotMade;
      }
      auto* header = static_cast<platform::ACE_HEADER*>(ace);
      if (header->AceFlags & platform::INHERITED_ACE) break;
      auto* allowed = static_cast<platform::ACCESS_ALLOWED_ACE*>(ace);
      if (platform::EqualSid(&allowed->SidStart, world)) continue;
      if (!platform::AddAce(acl, platform::ACL_REVISION, 0xFFFFFFFF, ace, header->AceSize)) {
        LogApiError(L"AddAce() failed.");
        return kNotMade;
      }
    }
    if (!platform::AddAccessAllowedAceEx(
            acl, platform::ACL_REVISION,
            platform::OBJECT_INHERIT_ACE | platform::CONTAINER_INHERIT_ACE, mask, world)) {
      LogApiError(L"AddAccessAllowedAceEx() failed.");
      return kNotMade;
    }
    // The inherited entries stay behind it, as they were.
    for (; index < size.AceCount; ++index) {
      void* ace = nullptr;
      if (!platform::GetAce(oldDacl, index, &ace)) {
        LogApiError(L"GetAce() failed. CurrentAceIndex = " + std::to_wstring(index) + L".");
        return kNotMade;
      }
      auto* header = static_cast<platform::ACE_HEADER*>(ace);
      if (!platform::AddAce(acl, platform::ACL_REVISION, 0xFFFFFFFF, ace, header->AceSize)) {
        LogApiError(L"AddAce() failed. CurrentAceIndex = " + std::to_wstring(index) + L".");
        return kNotMade;
      }
    }
    // The control bits of the old list: still taking what the parent passes on, or protected.
    what = platform::DACL_SECURITY_INFORMATION;
    if (control & platform::SE_DACL_AUTO_INHERITED)
      what |= platform::UNPROTECTED_DACL_SECURITY_INFORMATION;
    else if (control & platform::SE_DACL_PROTECTED)
      what |= platform::PROTECTED_DACL_SECURITY_INFORMATION;
    newDacl = acl;
    return platform::ERROR_SUCCESS;
  };
  platform::DaclEditStage stage = platform::DaclEditStage::read;
  platform::DWORD status = StepGuard::EditDacl(path, make, stage);
  if (status == platform::ERROR_SUCCESS) return true;
  if (stage == platform::DaclEditStage::edit) return false;
  platform::SetLastError(status);
  LogApiError(stage == platform::DaclEditStage::read ? L"GetFileSecurity() failed."
                                                     : L"SetFileSecurity() failed.");
  return false;
}

int SetRights(const std::wstring& path, const std::wstring& rights, const std::wstring& enumWord,
              const std::wstring& accountName) {
  Log(LogLevel::Info, L"SetRights: %s Rights = %s Enum = %s AccountName = %s", path, rights,
      enumWord, accountName);
  Log(LogLevel::Info, L"%s", std::wstring(66, L'-'));
  if (rights.size() > 49) {
    Log(LogLevel::Warning, L"   The rights text %s is longer than 49 characters and is refused",
        rights);
    return 0;
  }
  if (!IsNtfs(path)) {
    Log(LogLevel::Info, L"   Folder = %s  is not NTFS", path);
    return 0;
  }
  platform::DWORD mask = RightsMask(platform::ToLower(rights));
  std::wstring full;
  if (platform::GetFullPathNameW(path, full) != platform::ERROR_SUCCESS || full.size() >= 1024) {
    LogApiError(L"GetFullPathName fail!");
    return 0;
  }
  if (!platform::PathFileExistsW(full)) {
    Log(LogLevel::Warning, L"   File %s does not exist or is not accessible", full);
    return 0;
  }
  std::wstring word = platform::ToLower(enumWord);
  bool wholeTree = word == L"y" || word == L"yes";
  platform::DWORD attributes = platform::GetFileAttributesW(full);
  ApplyReadOnlyRule(full, attributes, mask, false);
  bool folder = attributes != platform::INVALID_FILE_ATTRIBUTES &&
                (attributes & platform::FILE_ATTRIBUTE_DIRECTORY) &&
                !(attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT);
  if (folder && wholeTree) {
    // Every entry's list is judged against the protected places: read once for the walk.
    ProtectedFoldersKept keptPlaces;
    std::vector<WalkItem> items;
    platform::DWORD status = WalkTree(full, items, true);
    if (items.empty() && status != platform::ERROR_NO_MORE_FILES) {
      platform::SetLastError(status);
      LogApiError(L"path = " + full + L"\\*.* failed.");
      return 0;
    }
    bool lastWasFile = false;
    for (const auto& item : items) {
      Log(LogLevel::Info,
          item.folder ? L"   Directory = %s%s --------------------"
                      : L"   File      = %s%s --------------------",
          item.path,
          std::wstring(item.status == platform::ERROR_ACCESS_DENIED ? L"ACCESS DENIED" : L""));
      lastWasFile = !item.folder;
      ApplyReadOnlyRule(item.path, platform::GetFileAttributesW(item.path), mask, false);
      if (!IsNtfs(item.path)) {
        Log(LogLevel::Warning, L"    %s Volume is not NTFS!", item.path);
        continue;
      }
      if (!Grant(item.path, mask, accountName, L"   ")) return 0;
    }
    if (status != platform::ERROR_NO_MORE_FILES) {
      // Reported as the failure it is: the rest of the tree and the folder itself are not
      // granted.
      Log(LogLevel::Warning, L"   Error! Enumeration failed, #%d\n", static_cast<int>(status));
      return 0;
    }
    // An empty folder is granted too: it is the folder that was asked for.
    Log(LogLevel::Info, lastWasFile ? L"   file name = %s" : L"   dir  name = %s", path);
    if (!IsNtfs(path)) {
      Log(LogLevel::Warning, L"   %s Volume is not NTFS", path);
      return 1;
    }
    return Grant(path, mask, accountName, L" ") ? 1 : 0;
  }
  Log(LogLevel::Info, L"   file name = %s", path);
  if (!IsNtfs(path)) {
    Log(LogLevel::Warning, L"   %s Volume is not NTFS!", path);
    return 1;
  }
  return Grant(path, mask, accountName, L"   ") ? 1 : 0;
}

}  // namespace InstallSteps

namespace InstallSteps {

using namespace InstallManager;

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;

void RightsStep::ProcessAll(const SettingsNodePtr& root, bool remove,
                            const std::wstring& basePath) {
  Log(LogLevel::Info, L"ProcessRights: Start");
  try {
    SettingsNodePtr rights;
    if (!root || !root->GetChild(ScriptNames::Element::kRights, rights) || !rights) return;
    if (m_ctx.IsIgnored(rights)) return;
    SettingsNodeListPtr children;
    if (!rights->GetChildren(children) || !children) return;
    for (int i = 0, n = children->GetCount(); i < n; ++i) {
      SettingsNodePtr child;
      if (!children->GetItem(i, child) || !child || m_ctx.IsIgnored(child)) continue;
      if (platform::EqualsNoCase(child->GetName(), ScriptNames::Element::kDirectory))
        Run(child, remove, basePath);
    }
  } catch (const CommonTools::SettingsError&) {
    // Ends the step without a message; the run goes on.
  }
}

void RightsStep::Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) {
  try {
    if (m_ctx.IsIgnored(node)) return;
    std::wstring name = m_ctx.ReadAttribute(node, ScriptNames::Attribute::kName, L"", true);
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
    const std::wstring outside = CommonTools::NameOutsideReason(name, 0, true);
    if (!outside.empty()) {
      Log(LogLevel::Error, L"CommonStepRights: Name \"%s\" of a rights entry is refused: %s", name,
          outside);
      return;
    }
    // Only the product's own folders are re-secured, never a place of the system.
    if (!m_ctx.GuardFor(basePath, L"CommonStepRights") ||
        !m_ctx.Guard().MayResecure(path, L"CommonStepRights"))
      return;
    std::wstring rights = CommonTools::GetText(node, ScriptNames::Attribute::kRights, L"0");
    if (!SetReadOnlyFlags(path, rights, remove))
      Log(LogLevel::Warning, L"CommonStepRights: Folder = %s is not set rights %s", path, rights);
    if (!remove && !SetRights(path, rights, L"y", L"-EVERYONE:"))
      Log(LogLevel::Warning, L"CommonStepRights: Folder = %s is not set permissions %s", path,
          rights);
  } catch (const CommonTools::SettingsError&) {
    // Ends the step without a message; the run goes on.
  }
}

}  // namespace InstallSteps
