// The network share step: the SERVER node of a server installation and its SHARE entries, a SHARE
// inside a container, and the share probe of the rights check.
#include "steps/ShareStep.h"

#include "steps/FileUtilities.h"
#include "steps/StepGuard.h"

#include "app/Tools.h"
#include "steps/ShareStep.h"
#include "package/NameCheck.h"
#include "package/ScriptVocabulary.h"
#include "platform/Paths.h"
#include "platform/Security.h"
#include "platform/Shares.h"
#include "platform/ShellFolders.h"
#include "platform/Text.h"

namespace InstallSteps {

using InstallManager::Log;
using InstallManager::LogLevel;

platform::DWORD SharePermissions(const std::wstring& access, int read, int write) {
  if (access.empty()) {
    platform::DWORD bits = 0;
    if (read == 1) bits |= platform::ACCESS_READ;
    if (write == 1) bits |= platform::ACCESS_WRITE;
    return bits;
  }
  platform::DWORD bits = 0;
  for (wchar_t c : access) {
    switch (c) {
      case L'f': bits |= platform::ACCESS_ALL; break;
      case L'e': bits |= platform::ACCESS_EXEC; break;
      case L'w': bits |= platform::ACCESS_WRITE; break;
      case L'r': bits |= platform::ACCESS_READ; break;
      case L'd': bits |= platform::ACCESS_DELETE; break;
      case L'c': bits |= platform::ACCESS_CREATE; break;
      case L'a': bits |= platform::ACCESS_ATRIB; break;
      case L'p': bits |= platform::ACCESS_PERM; break;
      default: break;
    }
  }
  return bits;
}

platform::DWORD EveryoneFolderMask(platform::DWORD permissions) {
  platform::DWORD mask = 0;
  if (permissions & platform::ACCESS_READ) mask |= 0x80020000;   // GENERIC_READ | READ_CONTROL
  if (permissions & platform::ACCESS_WRITE) mask |= 0x40020000;  // GENERIC_WRITE | READ_CONTROL
  if ((permissions & platform::ACCESS_ALL) == platform::ACCESS_ALL)
    mask |= 0x101F0000;                                         // GENERIC_ALL | STANDARD_RIGHTS_ALL
  if (permissions & platform::ACCESS_EXEC) mask |= 0x20020000;  // GENERIC_EXECUTE | READ_CONTROL
  return mask;
}

namespace {

// The folder's Everyone entry set in its existing list: the earlier explicit entries of Everyone
// give way to it, every other entry (administrators, SYSTEM, the owner, inherited ones) stays.
void SetEveryoneEntry(const std::wstring& folder, platform::DWORD mask) {
  platform::SID_IDENTIFIER_AUTHORITY world = platform::SECURITY_WORLD_SID_AUTHORITY;
  platform::PSID everyone = nullptr;
  if (!platform::AllocateAndInitializeSid(&world, 1, 0, 0, 0, 0, 0, 0, 0, 0, &everyone)) return;
  platform::EXPLICIT_ACCESS_W entry;
  entry.grfAccessPermissions = mask;
  entry.grfAccessMode = platform::SET_ACCESS;
  entry.grfInheritance = platform::SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  entry.Trustee.TrusteeForm = platform::TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = platform::TRUSTEE_IS_WELL_KNOWN_GROUP;
  entry.Trustee.ptstrName = static_cast<const wchar_t*>(everyone);

  platform::PSECURITY_DESCRIPTOR sd = nullptr;
  platform::ACL* oldAcl = nullptr;
  if (platform::GetNamedSecurityInfoW(folder.c_str(), platform::SE_FILE_OBJECT,
                                      platform::DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &oldAcl, nullptr, &sd) != platform::ERROR_SUCCESS)
    oldAcl = nullptr;
  platform::ACL* newAcl = nullptr;
  if (platform::SetEntriesInAclW(1, &entry, oldAcl, &newAcl) == platform::ERROR_SUCCESS) {
    if (StepGuard::WriteDacl(folder, platform::DACL_SECURITY_INFORMATION, newAcl) !=
        platform::ERROR_SUCCESS)
      Log(LogLevel::Warning, L"Folder = %s is not set for Everyone ", folder);
  }
  platform::FreeSid(everyone);
  if (newAcl) platform::LocalFree(newAcl);
  if (sd) platform::LocalFree(sd);
}

}  // namespace

bool ShareFolder(const std::wstring& folder, const std::wstring& shareName,
                 platform::DWORD permissions, platform::DWORD* status, bool folderAccess) {
  // A drive root, the Windows folder or a special folder is never opened to the network (the
  // probe's program-files folder is shared only for a moment and keeps its list: the caller's
  // `folderAccess` false).
  if (folderAccess && IsProtectedFolder(folder)) {
    Log(LogLevel::Error, L"ShareFolder: %s is a protected place of the system and is not shared",
        folder);
    if (status) *status = platform::ERROR_ACCESS_DENIED;
    return false;
  }
  const platform::DWORD mask = EveryoneFolderMask(permissions);
  platform::SHARE_INFO_502 record;
  record.shi502_netname = shareName;
  record.shi502_type = platform::STYPE_DISKTREE;
  record.shi502_permissions = permissions;
  record.shi502_max_uses = platform::SHI_USES_UNLIMITED;
  record.shi502_current_uses = 0;
  record.shi502_path = folder;
  platform::DWORD parmError = 0;
  const platform::DWORD rc = StepGuard::AddShare(record, &parmError);
  if (status) *status = rc;
  if (folderAccess) SetEveryoneEntry(folder, mask);
  return rc == platform::NERR_Success;
}

bool IsFolderShared(const std::wstring& folder) {
  platform::DWORD type = 0;
  return platform::NetShareCheck(nullptr, folder, &type) == platform::NERR_Success;
}

bool IsSharedAs(const std::wstring& folder, const std::wstring& shareName) {
  platform::SHARE_INFO_502 info;
  if (shareName.empty() ||
      platform::NetShareGetInfo(nullptr, shareName, 2, info) != platform::NERR_Success)
    return false;
  std::wstring a, b;
  if (platform::GetFullPathNameW(info.shi502_path, a) != platform::ERROR_SUCCESS ||
      platform::GetFullPathNameW(folder, b) != platform::ERROR_SUCCESS)
    return false;
  platform::PathRemoveBackslashW(a);
  platform::PathRemoveBackslashW(b);
  return platform::EqualsNoCase(a, b);
}

bool RemoveShare(const std::wstring& shareName) {
  if (shareName.empty()) return false;
  return StepGuard::DeleteShare(shareName) == platform::NERR_Success;
}

bool VerifySetShareForFolder() {
  std::wstring pf;
  if (!platform::SHGetSpecialFolderPathW(nullptr, pf, platform::CSIDL_PROGRAM_FILES, true)) {
    Log(LogLevel::Warning, L"VerifySetShareForFolder: Folder 'Program Files' is NOT found");
    return false;
  }
  const std::wstring name = kProbeShareName;
  if (!IsFolderShared(pf)) {
    // The system's own folder keeps its access list: only the share is tried.
    bool created =
        ShareFolder(pf, name, platform::ACCESS_READ | platform::ACCESS_WRITE, nullptr, false);
    if (!created || !IsFolderShared(pf)) {
      Log(LogLevel::Warning, L"VerifySetShareForFolder: Folder = %s is not sharing ", pf);
      return false;
    }
  }
  Log(LogLevel::Info,
      L"VerifySetShareForFolder: Folder = %s was shared as %s with permissions ACCESS_READ & "
      L"ACCESS_WRITE",
      pf, name);
  if (RemoveShare(name))
    Log(LogLevel::Info, L"VerifySetShareForFolder: Folder = %s is removed status share", name);
  else
    Log(LogLevel::Warning, L"VerifySetShareForFolder: Folder = %s is not removed status share",
        name);
  return true;
}

}  // namespace InstallSteps

namespace InstallSteps {

using namespace InstallManager;

using CommonTools::SettingsNodePtr;
namespace Attribute = ScriptNames::Attribute;
namespace Element = ScriptNames::Element;

void ShareStep::Server(const SettingsNodePtr& root, bool remove, const std::wstring& basePath) {
  Log(LogLevel::Info, L"ProcessServer: Start");
  try {
    SettingsNodePtr server;
    if (!root || !root->GetChild(Element::kServer, server) || !server) return;
    if (m_ctx.IsIgnored(server)) return;
    CommonTools::SettingsNodeListPtr children;
    if (!server->GetChildren(children) || !children) return;
    for (int i = 0; i < children->GetCount(); ++i) {
      SettingsNodePtr child;
      if (!children->GetItem(i, child) || !child) return;
      if (m_ctx.IsIgnored(child)) continue;
      if (platform::EqualsNoCase(child->GetName(), Element::kShare)) Run(child, remove, basePath);
    }
  } catch (const CommonTools::SettingsError&) {
    // The settings tree failed: the step ends without a message.
  }
}

void ShareStep::Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) {
  try {
    if (m_ctx.IsIgnored(node)) return;
    if (!m_ctx.GuardFor(basePath, L"CommonStepShare")) return;
    const std::wstring name = m_ctx.ReadAttribute(node, Attribute::kName, L"", true);
    const std::wstring path = m_ctx.ReadAttribute(node, Attribute::kPath, L"", true);
    // A full path is judged where it lands (inside the product folder) by the guard.
    const std::wstring outside = CommonTools::NameOutsideReason(path, 0, true);
    if (!outside.empty() && !remove) {
      Log(LogLevel::Error, L"CommonStepShare: Path \"%s\" of the SHARE %s is refused: %s", path,
          name, outside);
      return;
    }
    // At a removal the product's items say which folder its share was of; the script's path
    // (whose macros may be gone by then) is only the fallback of a product without items.
    std::wstring folder = basePath;
    if (outside.empty()) platform::PathAppendW(folder, path);
    if (remove) {
      // Only the share this product made for this folder goes, never another's of that name.
      if (m_ctx.Guard().MayRemoveShare(name, folder, L"CommonStepShare") && RemoveShare(name))
        Log(LogLevel::Info, L"CommonStepShare: Folder = %s is removed status share", name);
      else
        Log(LogLevel::Warning, L"CommonStepShare: Folder = %s is not removed status share", name);
      return;
    }
    const std::wstring access = m_ctx.ReadAttribute(node, Attribute::kAccess, L"", true);
    const int read = node->GetAttribute(L"read", CommonTools::Variant(0)).toInt();
    const int write = node->GetAttribute(L"write", CommonTools::Variant(0)).toInt();
    const platform::DWORD permissions = SharePermissions(access, read, write);
    platform::DWORD status = 0;
    if (!m_ctx.Guard().MayShare(folder, L"CommonStepShare")) {
      Log(LogLevel::Warning, L"CommonStepShare: Folder = %s is not sharing ", folder);
      return;
    }
    bool shared = ShareFolder(folder, name, permissions, &status);
    if (shared) m_ctx.Guard().NoteShare(name, folder);
    // A share of this name that shares this very folder (a repair, an update) is the share the
    // entry asks for; only a real failure is reported as one.
    if (!shared && status == platform::NERR_DuplicateShare && IsSharedAs(folder, name)) {
      Log(LogLevel::Info, L"CommonStepShare: Folder = %s is shared as %s already", folder, name);
      shared = true;
    }
    if (shared && IsFolderShared(folder))
      Log(LogLevel::Info, L"CommonStepShare: Folder = %s was shared as %s with permissions %s",
          folder, name, access);
    else
      Log(LogLevel::Warning, L"CommonStepShare: Folder = %s is not sharing ", folder);
  } catch (const CommonTools::SettingsError&) {
    // An attribute that is no number ends the step without a message; the run goes on.
  }
}

}  // namespace InstallSteps
