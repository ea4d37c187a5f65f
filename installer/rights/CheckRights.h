// Who runs the installer and what that user may change: membership in the local Administrators
// with an elevated token, the join and server status of the computer, membership in the
// domain's Domain Admins, and full access to HKEY_LOCAL_MACHINE and the Program Files folder
// (access lists read and reported, then a real write test). Every step writes its account of the
// user's token and of the access lists to the run log for support.
//
// The answers come from the machine layer's accounts and security service (tokens, access
// lists, look-ups), so a user without rights gets the refusals Windows would give.
#pragma once

#include "platform/Registry.h"
#include "platform/Security.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace InstallManager {

// The answers the run keeps (CInstallManager::CheckRights).
struct AdminRights {
  bool isDomainAdmin = false;
  bool registryWritable = false;      // full access to HKEY_LOCAL_MACHINE
  bool programFilesWritable = false;  // full access to the Program Files folder
  int joinStatus = 0;                 // NetGetJoinInformation: 0 unknown, 1 not joined, 2, 3
  bool isServer = false;
  std::vector<std::wstring> groupSids;  // the token's groups as listed in the log
};

// A token call that failed while the administrator rights were checked; `code` is its status.
class RightsCheckError : public std::runtime_error {
 public:
  explicit RightsCheckError(platform::DWORD code);
  platform::DWORD code;
};

class CCheckRights {
 public:
  CCheckRights();
  ~CCheckRights();
  CCheckRights(const CCheckRights&) = delete;
  CCheckRights& operator=(const CCheckRights&) = delete;

  // May this user set up software: a member of Administrators whose token runs as one, at high
  // or system integrity on Windows Vista and later. Keeps no state. Throws RightsCheckError.
  static bool HasUserAdminRightsDoSetup();
  // Fills every answer; always true.
  bool VerifyAdminRights();
  // A check object's answers, for the run.
  static void VerifyAdminRights(AdminRights& result);
  // Whether the user may share folders of this computer (the network-share probe asks this);
  // until that probe exists: a member of Administrators by the current token.
  static bool VerifySetShareForFolder();

  // The access checks of the registry and a folder.
  bool isFullAccessForRegistry(platform::HKEY root);
  bool isFullAccessForDirectory(const std::wstring& path);
  // The account name of a SID, its domain in `domain`.
  std::wstring LookupSidName(platform::PSID sid, std::wstring& domain);

  AdminRights Answers() const;

  std::wstring m_strComputerName;
  std::wstring m_strUserName;
  std::wstring m_strDomain;
  platform::PSID m_pSidGroupDomainAdmin = nullptr;
  platform::PSID m_pSidGroupAdmin = nullptr;
  bool m_bDomainAdmin = false;
  bool m_bFullAccessRegistry = false;
  bool m_bFullAccessDirectory = false;
  int m_nJoinStatus = 0;
  bool m_bServer = false;
  std::vector<std::wstring> m_arGroupSids;

 private:
  static bool IsAdminGroupMember();
  static bool RunsAsAdmin();
  static platform::DWORD IntegrityLevel();
  void GetGroups();
  bool GetAdministratorSID();
  bool IsElevated();
  bool IsUserDomainAdmin(int joinStatus);
  void GetListPrivileges();
  std::wstring GetFullUserName();
  void GetJoinInformation();
  // The access-list report of one object; `first` says whether it is the first of the check.
  bool ReportAccess(platform::DWORD readStatus, platform::ACL* dacl,
                    platform::PSECURITY_DESCRIPTOR sd, platform::ACCESS_MASK mask, bool first);
};

}  // namespace InstallManager
