// The user profile clean-up of an uninstall: the product's local and roaming application data of
// every profile of the computer.
#include "steps/ProfileCleanup.h"

#include "package/NameCheck.h"

#include "app/Tools.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/ShellFolders.h"
#include "platform/Text.h"
#include "steps/FileUtilities.h"

#include <vector>

namespace InstallSteps {

using namespace InstallManager;

namespace {

constexpr const wchar_t* kPrefix = L"DeleteAllUsersFolders:     ";

bool IsDots(const std::wstring& name) { return name == L"." || name == L".."; }

// One element of a path below a profile's data folder: never empty, never "." or "..", never
// more than one element. An empty "Name" or "DirName" would otherwise make the target the whole
// data folder of every profile.
bool IsFolderName(const std::wstring& name) {
  if (platform::Trim(name).empty() || IsDots(platform::Trim(name))) return false;
  return name.find_first_of(L"\\/:") == std::wstring::npos;
}

// Whether a search for `folder` + "*.*" finds anything ("." included: the folder exists).
bool Finds(const std::wstring& folder) {
  std::vector<platform::FindData> entries;
  return platform::FindAll(folder + L"\\*.*", entries, true) == platform::ERROR_SUCCESS &&
         !entries.empty();
}

// The folder relative to the profile: `folder` without `profile` and the "\" after it; empty
// when it does not lie below the profile.
std::wstring BelowProfile(const std::wstring& folder, const std::wstring& profile) {
  if (!platform::StartsWithNoCase(folder, profile + L"\\")) return L"";
  return folder.substr(profile.size() + 1);
}

void DeleteTarget(const std::wstring& target, const std::wstring& parent) {
  if (!Finds(target)) {
    Log(LogLevel::Info, L"%s", std::wstring(kPrefix) + L"User folder " + target + L" is not found");
    return;
  }
  Log(LogLevel::Info, L"%s", std::wstring(kPrefix) + L"User folder " + target + L" before delete");
  DeleteFolder(target);
  if (IsFolderEmpty(parent) && !IsProtectedFolder(parent)) DeleteFolder(parent);
}

}  // namespace

void ProfileCleanupStep::Remove(const SettingsNodePtr&, const std::wstring&) {
  Log(LogLevel::Info, L"DeleteAllUsersFolders: Start ==============================");
  if (m_ctx.ProductData().version < 16) {
    Log(LogLevel::Info, L"DeleteAllUsersFolders: Ignore for version (%i)< 16",
        m_ctx.ProductData().version);
    return;
  }
  const std::wstring& name = m_ctx.ProductData().name;
  const std::wstring& dirName = m_ctx.ProductData().dirName;
  const std::wstring& regKey = m_ctx.ProductData().regKey;
  // The product's names are parts of folders below each profile: none may climb out of it.
  for (const std::wstring* part : {&name, &dirName, &regKey}) {
    const std::wstring reason = CommonTools::NameOutsideReason(*part);
    if (!reason.empty()) {
      Log(LogLevel::Error,
          L"DeleteAllUsersFolders: the product name \"%s\" is refused as a folder of a profile: "
          L"%s",
          *part, reason);
      return;
    }
  }
  std::wstring roaming, local, profile;
  platform::SHGetSpecialFolderPathW(nullptr, roaming, platform::CSIDL_APPDATA, true);
  platform::SHGetSpecialFolderPathW(nullptr, local, platform::CSIDL_LOCAL_APPDATA, true);
  platform::SHGetSpecialFolderPathW(nullptr, profile, platform::CSIDL_PROFILE, true);
  Log(LogLevel::Info, L"DeleteAllUsersFolders:     Roaming folder %s", roaming);
  Log(LogLevel::Info, L"DeleteAllUsersFolders:     Local folder %s", local);
  const std::wstring roamingRel = BelowProfile(roaming, profile);
  const std::wstring localRel = BelowProfile(local, profile);
  const std::size_t slash = profile.find_last_of(L'\\');
  const std::wstring profilesFolder =
      slash == std::wstring::npos ? std::wstring() : profile.substr(0, slash);
  Log(LogLevel::Info, L"DeleteAllUsersFolders:     Profiles Folder %s", profilesFolder);
  if (!IsFolderName(name) || roamingRel.empty() || localRel.empty() || profilesFolder.empty()) {
    Log(LogLevel::Warning,
        L"DeleteAllUsersFolders: the product's data folders cannot be named (Name = '%s'); "
        L"nothing is deleted",
        name);
    Log(LogLevel::Info, L"DeleteAllUsersFolders: Finish ==============================");
    return;
  }
  const bool dirNameOk = IsFolderName(dirName);
  const bool regKeyOk = IsFolderName(regKey);

  std::vector<platform::FindData> profiles;
  platform::FindAll(profilesFolder + L"\\*.*", profiles, false);
  for (const platform::FindData& entry : profiles) {
    if (!(entry.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) || IsDots(entry.fileName))
      continue;
    // A link or junction among the profiles ("All Users", "Default User") leads elsewhere: it is
    // no profile of its own.
    if (entry.attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT) continue;
    const std::wstring user = profilesFolder + L"\\" + entry.fileName;

    const std::wstring localBase = CombinePath(user, localRel);
    if (localBase.empty() || !Finds(localBase)) {
      Log(LogLevel::Info, L"%s",
          std::wstring(kPrefix) + L"User folder " + localBase + L" is not found");
    } else {
      const std::wstring parent = localBase + L"\\" + name;
      std::wstring target;
      if (dirNameOk && platform::PathFileExistsW(parent + L"\\" + dirName))
        target = parent + L"\\" + dirName;
      else if (regKeyOk && platform::PathFileExistsW(parent + L"\\" + regKey))
        target = parent + L"\\" + regKey;
      if (target.empty()) continue;  // no local data: the profile is left as it is
      Log(LogLevel::Info, L"%s", std::wstring(kPrefix) + L"User folder " + target);
      DeleteTarget(target, parent);
    }

    const std::wstring roamingBase = CombinePath(user, roamingRel);
    if (roamingBase.empty() || !Finds(roamingBase)) {
      Log(LogLevel::Info, L"%s",
          std::wstring(kPrefix) + L"User folder " + roamingBase + L" is not found");
      continue;
    }
    if (!dirNameOk) continue;
    const std::wstring parent = roamingBase + L"\\" + name;
    const std::wstring target = parent + L"\\" + dirName;
    Log(LogLevel::Info, L"%s", std::wstring(kPrefix) + L"User folder " + target);
    DeleteTarget(target, parent);
  }
  Log(LogLevel::Info, L"DeleteAllUsersFolders: Finish ==============================");
}

}  // namespace InstallSteps
