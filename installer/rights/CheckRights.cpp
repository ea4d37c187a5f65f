#include "rights/CheckRights.h"

#include "package/LogSink.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/ShellFolders.h"
#include "platform/System.h"
#include "platform/Text.h"

#include <cstring>
#include <vector>

namespace InstallManager {

using namespace platform;
using CommonTools::LogLevel;

namespace {

using CommonTools::Log;
template <class... A>
void Info(std::wstring_view format, const A&... args) {
  Log(LogLevel::Info, format, args...);
}

int OsMajor() {
  OSVERSIONINFOEXW v;
  GetVersionExW(v);
  return static_cast<int>(v.dwMajorVersion);
}

// Closes a token handle when it goes.
struct TokenHolder {
  HANDLE h = nullptr;
  ~TokenHolder() {
    if (h) CloseHandle(h);
  }
};

const wchar_t* SidUseName(SID_NAME_USE use) {
  switch (use) {
    case SidTypeUser: return L"User";
    case SidTypeGroup: return L"Group";
    case SidTypeDomain: return L"Domain";
    case SidTypeAlias: return L"Alias";
    case SidTypeWellKnownGroup: return L"WellKnownGroup";
    case SidTypeDeletedAccount: return L"DeletedAccount";
    case SidTypeInvalid: return L"Invalid";
    case SidTypeUnknown: return L"Unknown";
    case SidTypeComputer: return L"Computer";
    case SidTypeLabel: return L"Label";
  }
  return L"unknown other";
}

std::wstring SidString(PSID sid) {
  std::wstring s;
  ConvertSidToStringSidW(sid, s);
  return s;
}

const wchar_t kTestKey[] = L"Software\\Install_test_4_Full_Access_For_Registry";

}  // namespace

RightsCheckError::RightsCheckError(DWORD c)
    : std::runtime_error("a token call of the rights check failed with " + ToUtf8(ErrorName(c))),
      code(c) {}

CCheckRights::CCheckRights() = default;

CCheckRights::~CCheckRights() {
  if (m_pSidGroupDomainAdmin) LocalFree(m_pSidGroupDomainAdmin);
  if (m_pSidGroupAdmin) FreeSid(m_pSidGroupAdmin);
}

// ---------------------------------------------------------------------------------------------
// May the user set up software at all

bool CCheckRights::IsAdminGroupMember() {
  TokenHolder process;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process.h))
    throw RightsCheckError(GetLastError());
  TokenHolder check;
  if (OsMajor() >= 6) {
    DWORD type = 0, size = 0;
    if (!GetTokenInformation(process.h, TokenElevationType, &type, sizeof type, &size))
      throw RightsCheckError(GetLastError());
    if (type == TokenElevationTypeLimited) {
      TOKEN_LINKED_TOKEN linked{};
      if (!GetTokenInformation(process.h, TokenLinkedToken, &linked, sizeof linked, &size))
        throw RightsCheckError(GetLastError());
      check.h = linked.LinkedToken;
    }
  }
  if (!check.h && !DuplicateToken(process.h, SecurityIdentification, &check.h))
    throw RightsCheckError(GetLastError());
  BYTE admins[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof admins;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size))
    throw RightsCheckError(GetLastError());
  bool member = false;
  if (!CheckTokenMembership(check.h, admins, &member)) throw RightsCheckError(GetLastError());
  return member;
}

bool CCheckRights::RunsAsAdmin() {
  PSID admins = nullptr;
  if (!AllocateAndInitializeSid(&SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins))
    throw RightsCheckError(GetLastError());
  bool member = false;
  bool ok = CheckTokenMembership(nullptr, admins, &member);
  DWORD error = GetLastError();
  FreeSid(admins);
  if (!ok) throw RightsCheckError(error);
  return member;
}

DWORD CCheckRights::IntegrityLevel() {
  TokenHolder token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token.h))
    throw RightsCheckError(GetLastError());
  DWORD size = 0;
  GetTokenInformation(token.h, TokenIntegrityLevel, nullptr, 0, &size);
  std::vector<BYTE> buf(size ? size : 1);
  if (!GetTokenInformation(token.h, TokenIntegrityLevel, buf.data(), size, &size))
    throw RightsCheckError(GetLastError());
  PSID label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buf.data())->Label.Sid;
  return *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1u);
}

bool CCheckRights::HasUserAdminRightsDoSetup() {
  Info(L"CCheckRights::HasUserAdminRightsDoSetup Start");
  if (!IsAdminGroupMember()) {
    Info(L"CCheckRights::HasUserAdminRightsDoSetup User is not in group Administrators");
    return false;
  }
  Info(L"CCheckRights::HasUserAdminRightsDoSetup User is in group Administrators");
  if (!RunsAsAdmin()) {
    Info(L"CCheckRights::HasUserAdminRightsDoSetup User does not run as Administrator");
    return false;
  }
  Info(L"CCheckRights::HasUserAdminRightsDoSetup User runs as Administrator");
  if (OsMajor() > 5) {
    // The line is logged on the systems that do have integrity levels, as the installer always
    // wrote it; support reads logs with it.
    Info(
        L"CCheckRights::HasUserAdminRightsDoSetup Integrity level is only available on Windows "
        L"Vista and newer operating systems");
    DWORD level = IntegrityLevel();
    if (level != SECURITY_MANDATORY_HIGH_RID && level != SECURITY_MANDATORY_SYSTEM_RID) {
      Info(
          L"CCheckRights::HasUserAdminRightsDoSetup Process Integrity Level is not high or "
          L"system");
      return false;
    }
    Info(L"CCheckRights::HasUserAdminRightsDoSetup Process Integrity Level is high or system");
  }
  Info(L"CCheckRights::HasUserAdminRightsDoSetup Finish OK");
  return true;
}

// ---------------------------------------------------------------------------------------------
// The account of the user

void CCheckRights::GetJoinInformation() {
  std::wstring name;
  NETSETUP_JOIN_STATUS status = NetSetupUnknownStatus;
  if (NetGetJoinInformation(nullptr, name, status) != NERR_Success) status = NetSetupUnknownStatus;
  m_nJoinStatus = status;
  switch (status) {
    case NetSetupUnjoined: Info(L"The computer is not joined in general."); break;
    case NetSetupWorkgroupName: Info(L"The computer is joined to a WORKGROUP %s.", name); break;
    case NetSetupDomainName: Info(L"The computer is joined to a DOMAIN %s.", name); break;
    default: Info(L"The join status of the computer is unknown."); break;
  }
}

void CCheckRights::GetGroups() {
  Info(L"GetGroups: START");
  TokenHolder token;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, true, &token.h) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token.h)) {
    Info(L"GetGroups: FINISH");
    return;
  }
  DWORD size = 0;
  GetTokenInformation(token.h, TokenGroupsAndPrivileges, nullptr, 0, &size);
  std::vector<BYTE> buf(size ? size : 1);
  if (!GetTokenInformation(token.h, TokenGroupsAndPrivileges, buf.data(), size, &size)) {
    Info(L"GetGroups: FINISH");
    return;
  }
  auto* info = reinterpret_cast<TOKEN_GROUPS_AND_PRIVILEGES*>(buf.data());
  Info(L"    Authentication ID: %d%d", info->AuthenticationId.HighPart,
       static_cast<int>(info->AuthenticationId.LowPart));
  Info(L"Groups: %i", static_cast<int>(info->SidCount));
  for (DWORD i = 0; i < info->SidCount; ++i) {
    Info(L"Group %i", static_cast<int>(i));
    const SID_AND_ATTRIBUTES& g = info->Sids[i];
    wchar_t name[256] = L"", domain[256] = L"";
    DWORD n = 256, d = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (!LookupAccountSidW(nullptr, g.Sid, name, &n, domain, &d, &use)) {
      name[0] = domain[0] = 0;
      use = SidTypeUnknown;
    }
    // As the installer always did: entries whose domain is m_strDomain (empty, so the
    // well-known groups without a domain) are left out of the listing.
    if (EqualsNoCase(std::wstring(domain), m_strDomain)) continue;
    std::wstring account = std::wstring(domain) + L"\\" + name;
    std::wstring sid = SidString(g.Sid);
    std::wstring line = Format(L"      %-40s", account) + L" (" + sid + L")";
    if (g.Attributes & SE_GROUP_OWNER) line += L", owner";
    if (g.Attributes & SE_GROUP_ENABLED_BY_DEFAULT) line += L", default";
    if (g.Attributes & SE_GROUP_RESOURCE) line += L", domain-local";
    if (g.Attributes & SE_GROUP_MANDATORY) line += L", mandatory";
    if (g.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) line += L", deny";
    line += L", ";
    line += SidUseName(use);
    Info(L"%s", line);
    m_arGroupSids.push_back(sid);
  }
  Info(L"GetGroups: FINISH");
}

bool CCheckRights::IsElevated() {
  if (OsMajor() < 6) return true;
  HKEY key = nullptr;
  bool uac = false;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", 0,
                    KEY_READ | KEY_WRITE, &key) == ERROR_SUCCESS) {
    DWORD type = 0, value = 0, size = sizeof value;
    if (RegQueryValueExW(key, L"EnableLUA", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD && value == 1)
      uac = true;
    RegCloseKey(key);
  }
  Info(uac ? L"UAC is enabled" : L"UAC is disabled");
  TokenHolder token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token.h)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!GetTokenInformation(token.h, TokenElevation, &elevation, sizeof elevation, &size)) {
    Info(L"The GetTokenInformation function return FALSE");
    return false;
  }
  if (!elevation.TokenIsElevated) {
    Info(L"Token has not extended privilegies");
    return false;
  }
  Info(L"User has extended privilegies");
  DWORD type = 0;
  if (!GetTokenInformation(token.h, TokenElevationType, &type, sizeof type, &size)) return true;
  if (type == TokenElevationTypeDefault) Info(L"The token does not have a linked token");
  if (type == TokenElevationTypeFull) Info(L"The token is linked to an elevated token");
  if (type == TokenElevationTypeLimited) {
    Info(L"The token is linked to a limited token");
    TOKEN_LINKED_TOKEN linked{};
    if (!GetTokenInformation(token.h, TokenLinkedToken, &linked, sizeof linked, &size))
      return false;
    TokenHolder holder{linked.LinkedToken};
    bool member = false;
    // As written: the answer is whether the call succeeded, not the membership.
    return CheckTokenMembership(linked.LinkedToken, BuiltinAdministratorsSid().Psid(), &member);
  }
  return true;
}

bool CCheckRights::GetAdministratorSID() {
  Info(L"GetAdministratorSID: START");
  Info(L"GetAdministratorSID: before AllocateAndInitializeSid");
  PSID admins = nullptr;
  bool answer = false;
  if (AllocateAndInitializeSid(&SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID,
                               DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins)) {
    Info(L"GetAdministratorSID: after AllocateAndInitializeSid OK");
    Info(L"GetAdministratorSID: before ConvertSidToStringSid");
    std::wstring text = SidString(admins);
    Info(L"GetAdministratorSID: after ConvertSidToStringSid");
    Info(L"Local Admin SID = %s", text);
    Info(L"GetAdministratorSID: before CheckTokenMembership");
    bool member = false;
    if (CheckTokenMembership(nullptr, admins, &member) && member) {
      Info(L"GetAdministratorSID: user is included in group Administrators");
      Info(L"User is a member of the Administrator group");
      if (m_pSidGroupAdmin) FreeSid(m_pSidGroupAdmin);
      m_pSidGroupAdmin = admins;
      admins = nullptr;
      Info(L"GetAdministratorSID: after LocalFree SidGroupAdmin");
      Info(L"GetAdministratorSID: before IsElevated");
      answer = IsElevated();
      Info(L"GetAdministratorSID: after IsElevated");
    } else {
      Info(L"User is not a member of the Administrator group");
    }
    if (admins) FreeSid(admins);
  }
  Info(L"GetAdministratorSID: FINISH %i", answer ? 1 : 0);
  return answer;
}

std::wstring CCheckRights::GetFullUserName() {
  wchar_t buf[512];
  DWORD size = 512;
  if (GetUserNameExW(NameSamCompatible, buf, &size)) {
    Info(L"FullUserName = %s (size = %i)", std::wstring(buf), static_cast<int>(size));
    return buf;
  }
  std::wstring user = GetUserNameW();
  std::wstring name = user.empty() ? std::wstring() : m_strDomain + L"\\" + user;
  if (name.empty())
    Info(L"ERROR getting full user name");
  else
    Info(L"FullUserName = %s", name);
  return name;
}

bool CCheckRights::IsUserDomainAdmin(int joinStatus) {
  Info(L"IsUserDomainAdmin: START");
  bool answer = false;
  if (joinStatus == NetSetupDomainName) {
    Info(L"IsUserDomainAdmin: user is in domain");
    std::wstring name = GetFullUserName();
    Info(L"    %s", name);
    DWORD cbSid = 0, cchDomain = 0;
    SID_NAME_USE use;
    LookupAccountNameW(nullptr, name.c_str(), nullptr, &cbSid, nullptr, &cchDomain, &use);
    Info(L"    after LookupAccountName cbUserSID = %i csDomainName = %i", static_cast<int>(cbSid),
         static_cast<int>(cchDomain));
    if (cbSid != 0 && cchDomain != 0) {
      std::vector<BYTE> userSid(cbSid);
      std::vector<wchar_t> domain(cchDomain);
      if (LookupAccountNameW(nullptr, name.c_str(), userSid.data(), &cbSid, domain.data(),
                             &cchDomain, &use)) {
        Info(L"    after LookupAccountName pDomainName = %s", std::wstring(domain.data()));
        BYTE count = *GetSidSubAuthorityCount(userSid.data());
        Info(L"     SidSubAuthorityCount = %i", static_cast<int>(count));
        DWORD sub[8] = {};
        for (BYTE i = 0; i < count && i < 8; ++i) sub[i] = *GetSidSubAuthority(userSid.data(), i);
        if (count > 0 && count <= 8) sub[count - 1] = DOMAIN_GROUP_RID_ADMINS;
        auto* authority = &reinterpret_cast<SID*>(userSid.data())->IdentifierAuthority;
        PSID admins = nullptr;
        Info(L"     after create SID");
        bool allocated = AllocateAndInitializeSid(authority, count, sub[0], sub[1], sub[2], sub[3],
                                                  sub[4], sub[5], sub[6], sub[7], &admins);
        Info(L"     after AllocateAndInitializeSid");
        if (allocated) {
          Info(L"     AllocateAndInitializeSid return OK");
          bool member = false;
          if (CheckTokenMembership(nullptr, admins, &member) && member) {
            Info(L"     CheckTokenMembership return TRUE");
            if (m_pSidGroupDomainAdmin) LocalFree(m_pSidGroupDomainAdmin);
            m_pSidGroupDomainAdmin = admins;
            Info(L"     after LocalFree");
            answer = true;
          } else {
            Info(L"     CheckTokenMembership return FALSE");
            FreeSid(admins);
            Info(L"     after FreeSid");
          }
        }
      }
      Info(L"     free memory pUserSID");
      Info(L"     free memory pDomainName");
    }
  }
  Info(L"IsUserDomainAdmin: Finish");
  return answer;
}

void CCheckRights::GetListPrivileges() {
  TokenHolder token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token.h)) {
    Info(L"    Error OpenProcessToken");
    return;
  }
  alignas(8) BYTE buf[1000];
  DWORD size = 0;
  if (!GetTokenInformation(token.h, TokenPrivileges, buf, sizeof buf, &size)) return;
  Info(L"Account privileges:");
  auto* privileges = reinterpret_cast<TOKEN_PRIVILEGES*>(buf);
  std::wstring sign = L"-";
  for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
    LUID luid = privileges->Privileges[i].Luid;
    wchar_t name[128] = L"", display[256] = L"";
    DWORD n = 128, d = 256, lang = 0;
    LookupPrivilegeNameW(nullptr, &luid, name, &n);
    LookupPrivilegeDisplayNameW(nullptr, name, display, &d, &lang);
    // The test of the privilege: the thread token, else the process token.
    TokenHolder check;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, true, &check.h)) {
      if (GetLastError() != ERROR_NO_TOKEN) Info(L"    OpenThreadToken error");
      if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &check.h)) {
        Info(L"    CAN'T GET THREAD TOKEN");
        check.h = nullptr;
      }
    }
    LUID value;
    if (check.h && !LookupPrivilegeValueW(nullptr, name, &value)) {
      Info(L"    LookupPrivilegeValue error");
    } else if (check.h) {
      PRIVILEGE_SET set{1, PRIVILEGE_SET_ALL_NECESSARY, {{value, 0}}};
      bool held = false;
      if (PrivilegeCheck(check.h, &set, &held)) sign = held ? L"+" : L"-";
    }
    Info(L"         %s %s (%s)", sign, std::wstring(display), std::wstring(name));
  }
}

bool CCheckRights::VerifyAdminRights() {
  Info(L"CCheckRights::VerifyAdminRights() Start");
  m_strComputerName = GetComputerNameW().substr(0, 15);
  Info(L"   CCheckRights::VerifyAdminRights()      Computer %s", m_strComputerName);
  m_strUserName = GetUserNameW().substr(0, 256);
  Info(L"   CCheckRights::VerifyAdminRights()      User %s", m_strUserName);
  Info(L"%s\\%s", m_strComputerName, m_strUserName);
  GetJoinInformation();
  SERVER_INFO_101 server;
  m_bServer = false;
  if (NetServerGetInfo(nullptr, 101, server) == NERR_Success)
    m_bServer = (server.sv101_type &
                 (SV_TYPE_DOMAIN_CTRL | SV_TYPE_DOMAIN_BAKCTRL | SV_TYPE_SERVER_NT)) != 0;
  Info(m_bServer ? L"The computer is a SERVER." : L"The computer is not a server.");
  GetGroups();
  if (GetAdministratorSID()) {
    m_bDomainAdmin = IsUserDomainAdmin(m_nJoinStatus);
    Info(m_bDomainAdmin ? L"User IS DOMAIN Administrator account"
                        : L"User IS NOT DOMAIN Administrator account");
  }
  if (m_bDomainAdmin && m_pSidGroupDomainAdmin) {
    Info(L"CCheckRights::VerifyAdminRights() m_bDomainAdmin && m_pSidGroupDomainAdmin");
    Info(L"Domain Administrator Group SID = %s", SidString(m_pSidGroupDomainAdmin));
  }
  Info(L"CCheckRights::VerifyAdminRights() before GetListPrivileges");
  GetListPrivileges();
  Info(L"CCheckRights::VerifyAdminRights() after GetListPrivileges");
  Info(L"CCheckRights::VerifyAdminRights() before isFullAccessForRegistry");
  m_bFullAccessRegistry = isFullAccessForRegistry(HKEY_LOCAL_MACHINE);
  Info(L"CCheckRights::VerifyAdminRights() after isFullAccessForRegistry");
  std::wstring programFiles;
  if (SHGetSpecialFolderPathW(nullptr, programFiles, CSIDL_PROGRAM_FILES, true)) {
    Info(L"CCheckRights::VerifyAdminRights() before isFullAccessForDirectory");
    m_bFullAccessDirectory = isFullAccessForDirectory(programFiles);
    Info(L"CCheckRights::VerifyAdminRights() after isFullAccessForDirectory");
  } else {
    Info(L"SHGetSpecialFolderPath return FALSE");
  }
  if (m_bDomainAdmin) {
    Info(L"CCheckRights::VerifyAdminRights() before LocalFree(m_pSidGroupDomainAdmin)");
    if (m_pSidGroupDomainAdmin) LocalFree(m_pSidGroupDomainAdmin);
    m_pSidGroupDomainAdmin = nullptr;
  }
  Info(L"CCheckRights::VerifyAdminRights() before FreeSid(m_pSidGroupAdmin)");
  if (m_pSidGroupAdmin) FreeSid(m_pSidGroupAdmin);
  m_pSidGroupAdmin = nullptr;
  Info(L"CCheckRights::VerifyAdminRights() FINISH");
  return true;
}

AdminRights CCheckRights::Answers() const {
  AdminRights r;
  r.isDomainAdmin = m_bDomainAdmin;
  r.registryWritable = m_bFullAccessRegistry;
  r.programFilesWritable = m_bFullAccessDirectory;
  r.joinStatus = m_nJoinStatus;
  r.isServer = m_bServer;
  r.groupSids = m_arGroupSids;
  return r;
}

void CCheckRights::VerifyAdminRights(AdminRights& result) {
  CCheckRights check;
  check.VerifyAdminRights();
  result = check.Answers();
}

bool CCheckRights::VerifySetShareForFolder() {
  return CurrentToken()->IsMember(BuiltinAdministratorsSid());
}

// ---------------------------------------------------------------------------------------------
// Access to the registry and to a folder

std::wstring CCheckRights::LookupSidName(PSID sid, std::wstring& domain) {
  std::vector<wchar_t> name(256), dom(256);
  domain.clear();
  while (true) {
    DWORD n = static_cast<DWORD>(name.size()), d = static_cast<DWORD>(dom.size());
    SID_NAME_USE use;
    if (LookupAccountSidW(nullptr, sid, name.data(), &n, dom.data(), &d, &use)) {
      domain = dom.data();
      return name.data();
    }
    DWORD error = GetLastError();
    if (error == ERROR_INSUFFICIENT_BUFFER) {
      name.resize(std::max<std::size_t>(n, name.size()));
      dom.resize(std::max<std::size_t>(d, dom.size()));
      continue;
    }
    if (error == ERROR_NONE_MAPPED) {
      Log(LogLevel::Warning,
          L"     An unexpected error occurred during the call to LookupAccountSid. A name could "
          L"not be found for the SID.");
    } else {
      Info(L"     LookupAccountSid failed.");
    }
    return L"";
  }
}

bool CCheckRights::ReportAccess(DWORD readStatus, ACL* dacl, PSECURITY_DESCRIPTOR sd,
                                ACCESS_MASK mask, bool first) {
  if (readStatus != ERROR_SUCCESS || !dacl) {
    if (first)
      Info(readStatus != ERROR_SUCCESS ? L"     GetNamedSecurityInfo return FALSE."
                                       : L"     User has no DACL. Full control for all users.");
    if (sd) LocalFree(sd);
    return true;
  }
  ACL_SIZE_INFORMATION size{};
  if (!GetAclInformation(dacl, &size, sizeof size, AclSizeInformation) || size.AceCount == 0) {
    if (first) Info(L"     ACL list is empty. For all users access is denied.");
    LocalFree(sd);
    return false;
  }
  Info(L"                                DESIRED ACCESS: %X", mask);
  for (DWORD i = 0; i < size.AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) {
      Info(L"     GetAce failed");
      continue;
    }
    auto* header = static_cast<ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) {
      Info(L"     unknown type");
      continue;
    }
    auto* entry = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    PSID sid = &entry->SidStart;
    std::wstring domain;
    std::wstring name = LookupSidName(sid, domain);
    Info(L"%s",
         L"     " + (domain.empty() ? L"" : domain + L"\\") + name + L" (" + SidString(sid) + L")");
    Info(L"                          ACCESS MASK:    %X", entry->Mask);
  }
  TRUSTEE_W me;
  me.TrusteeForm = TRUSTEE_IS_NAME;
  me.TrusteeType = TRUSTEE_IS_USER;
  me.ptstrName = L"CURRENT_USER";
  ACCESS_MASK rights = 0;
  bool granted =
      GetEffectiveRightsFromAclW(dacl, &me, &rights) == ERROR_SUCCESS && (rights & mask) == mask;
  LocalFree(sd);
  return granted;
}

bool CCheckRights::isFullAccessForRegistry(HKEY root) {
  auto report = [&](ACCESS_MASK mask, bool first) {
    ACL* dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD s = GetSecurityInfo(root, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &dacl, nullptr, &sd);
    return ReportAccess(s, dacl, sd, mask, first);
  };
  Info(L"Verify access (KEY_ALL_ACCESS) to HKEY_LOCAL_MACHINE");
  if (report(KEY_ALL_ACCESS, true)) {
    Info(L"         KEY_ALL_ACCESS is GRANT_ACCESS");
  } else {
    Info(L"         KEY_ALL_ACCESS is not GRANT_ACCESS");
    Info(L"Verify access (KEY_READ | KEY_WRITE | KEY_EXECUTE) to HKEY_LOCAL_MACHINE");
    Info(report(KEY_READ | KEY_WRITE | KEY_EXECUTE, false)
             ? L"         KEY_READ | KEY_WRITE | KEY_EXECUTE is GRANT_ACCESS"
             : L"         KEY_READ | KEY_WRITE | KEY_EXECUTE is not GRANT_ACCESS");
  }
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(root, kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition) !=
      ERROR_SUCCESS) {
    Info(L"         test create key Software\\Install_test_4_Full_Access_For_Registry FALSE");
  } else {
    Info(L"         test create key Software\\Install_test_4_Full_Access_For_Registry OK");
    Info(RegDeleteTreeW(root, kTestKey) == ERROR_SUCCESS
             ? L"         test delete key Software\\Install_test_4_Full_Access_For_Registry OK"
             : L"         test delete key Software\\Install_test_4_Full_Access_For_Registry FALSE");
    RegCloseKey(key);
  }
  // The registry answer never stops an installation.
  return true;
}

bool CCheckRights::isFullAccessForDirectory(const std::wstring& path) {
  Info(L"Verify access (FILE_ALL_ACCESS) to %s", path);
  std::wstring root;
  if (PathIsUNCW(path)) {
    std::size_t slash = path.find(L'\\', 2);
    root = slash == std::wstring::npos ? path + L"\\" : path.substr(0, slash + 1);
  } else {
    root = Format(L"%c:\\", static_cast<wchar_t>(L'A' + PathGetDriveNumberW(path)));
  }
  VolumeInfo volume;
  if (GetVolumeInformationW(root, volume) != ERROR_SUCCESS ||
      !(volume.fileSystemFlags & FILE_PERSISTENT_ACLS)) {
    Info(L"     Rights is not supported");
    return false;
  }
  auto report = [&](ACCESS_MASK mask, bool first) {
    ACL* dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    DWORD s = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &dacl, nullptr, &sd);
    return ReportAccess(s, dacl, sd, mask, first);
  };
  if (report(FILE_ALL_ACCESS, true)) {
    Info(L"         FILE_ALL_ACCESS is GRANT_ACCESS");
  } else {
    Info(L"         FILE_ALL_ACCESS is not GRANT_ACCESS");
    Info(L"Verify access (FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE) to %s",
         path);
    Info(report(FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE, false)
             ? L"         FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE is "
               L"GRANT_ACCESS"
             : L"         FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE is not "
               L"GRANT_ACCESS");
  }
  std::wstring file = path;
  if (file.empty() || file.back() != L'\\') file += L"\\";
  file += L"VerifyAdminRights_test.000";
  FileHandle handle;
  bool answer = handle.Open(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS,
                            0) == ERROR_SUCCESS;
  if (answer) {
    handle.Close();
    DeleteFileW(file);
  }
  Info(L"         test create file VerifyAdminRights_test.000 in directory %s%s", path,
       std::wstring(answer ? L" OK" : L" FALSE"));
  return answer;
}

}  // namespace InstallManager
