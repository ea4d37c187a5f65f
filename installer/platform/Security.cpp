// Tokens, security descriptors in SDDL and binary form, the access check and inheritance.
#include "platform/Security.h"

#include "platform/Machine.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <map>
#include <set>

namespace platform {

ACCESS_MASK MapGenericMask(ACCESS_MASK mask, const GENERIC_MAPPING& m) {
  ACCESS_MASK out = mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (mask & GENERIC_READ) out |= m.GenericRead;
  if (mask & GENERIC_WRITE) out |= m.GenericWrite;
  if (mask & GENERIC_EXECUTE) out |= m.GenericExecute;
  if (mask & GENERIC_ALL) out |= m.GenericAll;
  return out;
}

// ---------------------------------------------------------------------------------------------
// Tokens

namespace {

struct PrivilegeName {
  const wchar_t* name;
  const wchar_t* display;
};
// Index + 2 is the privilege's LUID, as Windows numbers them.
constexpr PrivilegeName kPrivileges[] = {
    {L"SeCreateTokenPrivilege", L"Create a token object"},
    {L"SeAssignPrimaryTokenPrivilege", L"Replace a process level token"},
    {L"SeLockMemoryPrivilege", L"Lock pages in memory"},
    {L"SeIncreaseQuotaPrivilege", L"Adjust memory quotas for a process"},
    {L"SeMachineAccountPrivilege", L"Add workstations to domain"},
    {L"SeTcbPrivilege", L"Act as part of the operating system"},
    {L"SeSecurityPrivilege", L"Manage auditing and security log"},
    {L"SeTakeOwnershipPrivilege", L"Take ownership of files or other objects"},
    {L"SeLoadDriverPrivilege", L"Load and unload device drivers"},
    {L"SeSystemProfilePrivilege", L"Profile system performance"},
    {L"SeSystemtimePrivilege", L"Change the system time"},
    {L"SeProfileSingleProcessPrivilege", L"Profile single process"},
    {L"SeIncreaseBasePriorityPrivilege", L"Increase scheduling priority"},
    {L"SeCreatePagefilePrivilege", L"Create a pagefile"},
    {L"SeCreatePermanentPrivilege", L"Create permanent shared objects"},
    {L"SeBackupPrivilege", L"Back up files and directories"},
    {L"SeRestorePrivilege", L"Restore files and directories"},
    {L"SeShutdownPrivilege", L"Shut down the system"},
    {L"SeDebugPrivilege", L"Debug programs"},
    {L"SeAuditPrivilege", L"Generate security audits"},
    {L"SeSystemEnvironmentPrivilege", L"Modify firmware environment values"},
    {L"SeChangeNotifyPrivilege", L"Bypass traverse checking"},
    {L"SeRemoteShutdownPrivilege", L"Force shutdown from a remote system"},
    {L"SeUndockPrivilege", L"Remove computer from docking station"},
    {L"SeSyncAgentPrivilege", L"Synchronize directory service data"},
    {L"SeEnableDelegationPrivilege",
     L"Enable computer and user accounts to be trusted for delegation"},
    {L"SeManageVolumePrivilege", L"Perform volume maintenance tasks"},
    {L"SeImpersonatePrivilege", L"Impersonate a client after authentication"},
    {L"SeCreateGlobalPrivilege", L"Create global objects"},
    {L"SeTrustedCredManAccessPrivilege", L"Access Credential Manager as a trusted caller"},
    {L"SeRelabelPrivilege", L"Modify an object label"},
    {L"SeIncreaseWorkingSetPrivilege", L"Increase a process working set"},
    {L"SeTimeZonePrivilege", L"Change the time zone"},
    {L"SeCreateSymbolicLinkPrivilege", L"Create symbolic links"},
    {L"SeDelegateSessionUserImpersonatePrivilege",
     L"Obtain an impersonation token for another user in the same session"},
};

int PrivilegeIndex(std::wstring_view name) {
  for (std::size_t i = 0; i < std::size(kPrivileges); ++i)
    if (EqualsNoCase(std::wstring(name), kPrivileges[i].name)) return static_cast<int>(i);
  return -1;
}

constexpr DWORD kGroupOn = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;

std::vector<TokenPrivilege> Privileges(bool full, bool vista) {
  const DWORD on = SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT;
  if (!full) {
    return {{L"SeShutdownPrivilege", 0},
            {L"SeChangeNotifyPrivilege", on},
            {L"SeUndockPrivilege", 0},
            {L"SeIncreaseWorkingSetPrivilege", 0},
            {L"SeTimeZonePrivilege", 0}};
  }
  std::vector<TokenPrivilege> p = {{L"SeIncreaseQuotaPrivilege", 0},
                                   {L"SeSecurityPrivilege", 0},
                                   {L"SeTakeOwnershipPrivilege", 0},
                                   {L"SeLoadDriverPrivilege", 0},
                                   {L"SeSystemProfilePrivilege", 0},
                                   {L"SeSystemtimePrivilege", 0},
                                   {L"SeProfileSingleProcessPrivilege", 0},
                                   {L"SeIncreaseBasePriorityPrivilege", 0},
                                   {L"SeCreatePagefilePrivilege", 0},
                                   {L"SeBackupPrivilege", 0},
                                   {L"SeRestorePrivilege", 0},
                                   {L"SeShutdownPrivilege", 0},
                                   {L"SeDebugPrivilege", 0},
                                   {L"SeSystemEnvironmentPrivilege", 0},
                                   {L"SeChangeNotifyPrivilege", on},
                                   {L"SeRemoteShutdownPrivilege", 0},
                                   {L"SeUndockPrivilege", 0},
                                   {L"SeManageVolumePrivilege", 0},
                                   {L"SeImpersonatePrivilege", on},
                                   {L"SeCreateGlobalPrivilege", on}};
  if (vista) {
    p.push_back({L"SeIncreaseWorkingSetPrivilege", 0});
    p.push_back({L"SeTimeZonePrivilege", 0});
    p.push_back({L"SeCreateSymbolicLinkPrivilege", 0});
    p.push_back({L"SeDelegateSessionUserImpersonatePrivilege", 0});
  }
  return p;
}

bool IsAdminGroup(const Sid& s, const Sid& domain) {
  if (s == BuiltinAdministratorsSid()) return true;
  if (domain.Empty() || s.Prefix() != domain) return false;
  DWORD rid = s.Rid();
  return rid == DOMAIN_GROUP_RID_ADMINS || rid == DOMAIN_GROUP_RID_SCHEMA_ADMINS ||
         rid == DOMAIN_GROUP_RID_ENTERPRISE_ADMINS;
}

// One half of the user's token: `full` with the administrator groups enabled, else filtered.
Token BuildToken(const MachineConfig& c, const AccountTable& accounts, bool full, bool vista,
                 DWORD integrity) {
  Token t;
  const Account& user = accounts.User();
  t.user = user.sid;
  const Sid domain =
      UserIsDomainAccount(c) ? *Sid::Parse(DomainSidOf(c)) : *Sid::Parse(MachineSidOf(c));
  bool admin = false;
  t.groups.push_back({EveryoneSid(), kGroupOn});
  std::vector<TokenGroup> domainGroups;
  for (const Sid& g : accounts.UserGroups()) {
    const Account* a = accounts.FindSid(g);
    DWORD attrs = kGroupOn;
    if (a && a->use == SidTypeAlias && a->domain != L"BUILTIN") attrs |= SE_GROUP_RESOURCE;
    if (IsAdminGroup(g, domain)) {
      if (g == BuiltinAdministratorsSid()) admin = true;
      attrs = full ? (g == BuiltinAdministratorsSid() ? kGroupOn | SE_GROUP_OWNER : kGroupOn)
                   : SE_GROUP_USE_FOR_DENY_ONLY;
    }
    if (a && a->use == SidTypeGroup)
      domainGroups.push_back({g, attrs});
    else
      t.groups.push_back({g, attrs});
  }
  t.groups.push_back({Sid(SECURITY_NT_AUTHORITY, {4}), kGroupOn});         // INTERACTIVE
  t.groups.push_back({Sid(SECURITY_LOCAL_SID_AUTHORITY, {1}), kGroupOn});  // CONSOLE LOGON
  t.groups.push_back({AuthenticatedUsersSid(), kGroupOn});
  t.groups.push_back({Sid(SECURITY_NT_AUTHORITY, {15}), kGroupOn});        // This Organization
  t.groups.push_back({Sid(SECURITY_LOCAL_SID_AUTHORITY, {0}), kGroupOn});  // LOCAL
  for (const auto& g : domainGroups) t.groups.push_back(g);
  t.groups.push_back(
      {Sid(SECURITY_NT_AUTHORITY, {5, 0, t.logonId.LowPart}), kGroupOn | SE_GROUP_LOGON_ID});
  t.groups.push_back({Sid(SECURITY_NT_AUTHORITY, {64, 10}), kGroupOn});  // NTLM Authentication
  t.hasElevation = vista;
  t.integrity = integrity;
  if (vista)
    t.groups.push_back(
        {IntegrityLabelSid(integrity), SE_GROUP_INTEGRITY | SE_GROUP_INTEGRITY_ENABLED});
  t.privileges = Privileges(full && admin, vista);
  t.owner = full && admin ? BuiltinAdministratorsSid() : t.user;
  t.primaryGroup = domain.WithRid(DOMAIN_GROUP_RID_USERS);
  t.elevated = full && admin;
  return t;
}

DWORD IntegrityRid(const std::wstring& name) {
  if (name == L"low") return SECURITY_MANDATORY_LOW_RID;
  if (name == L"medium") return SECURITY_MANDATORY_MEDIUM_RID;
  if (name == L"system") return SECURITY_MANDATORY_SYSTEM_RID;
  return SECURITY_MANDATORY_HIGH_RID;
}

}  // namespace

bool Token::Matches(const Sid& sid, bool forDeny) const {
  if (sid == user) return true;
  for (const TokenGroup& g : groups) {
    if (g.sid != sid || (g.attributes & SE_GROUP_INTEGRITY)) continue;
    if (g.attributes & SE_GROUP_USE_FOR_DENY_ONLY) return forDeny;
    if (g.attributes & SE_GROUP_ENABLED) return true;
  }
  return false;
}

const TokenPrivilege* Token::Privilege(std::wstring_view name) const {
  for (const TokenPrivilege& p : privileges)
    if (EqualsNoCase(p.name, std::wstring(name))) return &p;
  return nullptr;
}

Token MakeUserToken(const MachineConfig& c) {
  AccountTable accounts = AccountTable::For(c);
  const bool vista = c.os.major >= 6;
  bool admin = false;
  for (const Sid& g : accounts.UserGroups()) admin = admin || g == BuiltinAdministratorsSid();
  // The configured integrity can lower the level of the token; "system" raises it.
  const DWORD configured = IntegrityRid(c.integrity);
  auto level = [&](DWORD natural) {
    return configured == SECURITY_MANDATORY_SYSTEM_RID ? configured : std::min(configured, natural);
  };
  if (!vista) return BuildToken(c, accounts, true, false, SECURITY_MANDATORY_HIGH_RID);
  if (!admin || !c.uacEnabled) {
    Token t =
        BuildToken(c, accounts, true, true,
                   level(admin ? SECURITY_MANDATORY_HIGH_RID : SECURITY_MANDATORY_MEDIUM_RID));
    t.elevationType = TokenElevationTypeDefault;
    return t;
  }
  Token fullToken = BuildToken(c, accounts, true, true, SECURITY_MANDATORY_HIGH_RID);
  fullToken.elevationType = TokenElevationTypeFull;
  Token limited = BuildToken(c, accounts, false, true, SECURITY_MANDATORY_MEDIUM_RID);
  limited.elevationType = TokenElevationTypeLimited;
  limited.logonId.LowPart += 1;  // the two halves are two logon sessions
  for (TokenGroup& g : limited.groups)
    if (g.attributes & SE_GROUP_LOGON_ID) g.sid = g.sid.WithLastReplaced(limited.logonId.LowPart);
  Token& running = c.elevated ? fullToken : limited;
  Token other = c.elevated ? limited : fullToken;
  running.integrity = level(running.integrity);
  for (TokenGroup& g : running.groups)
    if (g.attributes & SE_GROUP_INTEGRITY) g.sid = IntegrityLabelSid(running.integrity);
  other.type = TokenImpersonation;
  other.level = SecurityIdentification;
  running.linked = std::make_shared<const Token>(other);
  return running;
}

namespace {
// What the user token is made from: the settings compared before the cached token is reused.
struct TokenKey {
  std::string root;
  std::wstring computer, user, domain, integrity;
  JoinStatus join = JoinStatus::Unknown;
  std::vector<std::wstring> memberships;
  bool elevated = false, uac = false;
  DWORD major = 0;
  std::map<std::string, std::wstring> raw;
  static TokenKey Of(const Machine& m) {
    const MachineConfig& c = m.Config();
    return {m.Root(),      c.computerName, c.userName,   c.domain,   c.integrity, c.join,
            c.memberships, c.elevated,     c.uacEnabled, c.os.major, c.raw};
  }
  bool Same(const Machine& m) const {
    const MachineConfig& c = m.Config();
    return root == m.Root() && computer == c.computerName && user == c.userName &&
           domain == c.domain && integrity == c.integrity && join == c.join &&
           memberships == c.memberships && elevated == c.elevated && uac == c.uacEnabled &&
           major == c.os.major && raw == c.raw;
  }
};
}  // namespace

std::shared_ptr<const Token> CurrentToken() {
  static std::mutex mutex;
  static auto* key = new TokenKey();
  static auto* token = new std::shared_ptr<const Token>();
  static std::uint64_t revision = 0;  // the configuration the key was last found the same as
  Machine& machine = Machine::Current();
  std::lock_guard<std::mutex> lock(mutex);
  if (*token && revision == machine.Revision()) return *token;
  if (!*token || !key->Same(machine)) {
    *token = std::make_shared<const Token>(MakeUserToken(machine.Config()));
    *key = TokenKey::Of(machine);
  }
  revision = machine.Revision();
  return *token;
}

namespace {

// Handles: the two pseudo handles, and token handles handed out by OpenProcessToken and friends.
const HANDLE kProcessHandle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));
const HANDLE kThreadHandle = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-2));

struct TokenHandle {
  std::shared_ptr<const Token> token;
  DWORD access = 0;
};
std::mutex& HandleMutex() {
  static auto* m = new std::mutex();
  return *m;
}
std::set<TokenHandle*>& Handles() {
  static auto* h = new std::set<TokenHandle*>();
  return *h;
}

HANDLE NewTokenHandle(std::shared_ptr<const Token> token, DWORD access) {
  auto* h = new TokenHandle{std::move(token), access};
  std::lock_guard<std::mutex> lock(HandleMutex());
  Handles().insert(h);
  return h;
}

bool FailWith(DWORD code) {
  SetLastError(code);
  return false;
}
bool Ok() {
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace

HANDLE GetCurrentProcess() { return kProcessHandle; }
HANDLE GetCurrentThread() { return kThreadHandle; }

bool OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
  if (!token) return FailWith(ERROR_INVALID_PARAMETER);
  if (process != kProcessHandle) return FailWith(ERROR_INVALID_HANDLE);
  *token = NewTokenHandle(CurrentToken(), access);
  return Ok();
}

bool OpenThreadToken(HANDLE thread, DWORD, bool, HANDLE* token) {
  if (!token) return FailWith(ERROR_INVALID_PARAMETER);
  if (thread != kThreadHandle) return FailWith(ERROR_INVALID_HANDLE);
  *token = nullptr;
  return FailWith(ERROR_NO_TOKEN);
}

bool CloseHandle(HANDLE handle) {
  if (handle == kProcessHandle || handle == kThreadHandle) return Ok();
  std::lock_guard<std::mutex> lock(HandleMutex());
  auto it = Handles().find(static_cast<TokenHandle*>(handle));
  if (it == Handles().end()) return FailWith(ERROR_INVALID_HANDLE);
  delete *it;
  Handles().erase(it);
  return Ok();
}

std::shared_ptr<const Token> TokenOf(HANDLE handle) {
  std::lock_guard<std::mutex> lock(HandleMutex());
  auto it = Handles().find(static_cast<TokenHandle*>(handle));
  return it == Handles().end() ? nullptr : (*it)->token;
}

namespace {

DWORD AccessOf(HANDLE handle) {
  std::lock_guard<std::mutex> lock(HandleMutex());
  auto it = Handles().find(static_cast<TokenHandle*>(handle));
  return it == Handles().end() ? 0 : (*it)->access;
}

// Lays out a structure with its trailing arrays and SIDs in one buffer: a first pass counts,
// a second writes.
class Layout {
 public:
  explicit Layout(BYTE* base) : base_(base) {}
  std::size_t Take(std::size_t bytes, std::size_t align = alignof(void*)) {
    size_ = (size_ + align - 1) / align * align;
    std::size_t at = size_;
    size_ += bytes;
    return at;
  }
  template <class T>
  T* At(std::size_t offset) const {
    return base_ ? reinterpret_cast<T*>(base_ + offset) : nullptr;
  }
  PSID PutSid(const Sid& s) {
    std::size_t at = Take(s.Length(), 4);
    if (base_) std::memcpy(base_ + at, s.Psid(), s.Length());
    return base_ ? base_ + at : nullptr;
  }
  std::size_t Size() const { return size_; }

 private:
  BYTE* base_;
  std::size_t size_ = 0;
};

void PutGroups(Layout& l, SID_AND_ATTRIBUTES* array, const std::vector<TokenGroup>& groups) {
  for (std::size_t i = 0; i < groups.size(); ++i) {
    PSID p = l.PutSid(groups[i].sid);
    if (array) array[i] = {p, groups[i].attributes};
  }
}

LUID_AND_ATTRIBUTES PrivilegeEntry(const TokenPrivilege& p) {
  int index = PrivilegeIndex(p.name);
  return {{static_cast<DWORD>(index + 2), 0}, p.attributes};
}

bool Fill(const Token& t, TOKEN_INFORMATION_CLASS c, Layout& l) {
  switch (c) {
    case TokenUser: {
      auto at = l.Take(sizeof(TOKEN_USER));
      PSID p = l.PutSid(t.user);
      if (auto* u = l.At<TOKEN_USER>(at)) *u = {{p, 0}};
      return true;
    }
    case TokenGroups: {
      auto at =
          l.Take(offsetof(TOKEN_GROUPS, Groups) + sizeof(SID_AND_ATTRIBUTES) * t.groups.size());
      auto* g = l.At<TOKEN_GROUPS>(at);
      if (g) g->GroupCount = static_cast<DWORD>(t.groups.size());
      PutGroups(l, g ? g->Groups : nullptr, t.groups);
      return true;
    }
    case TokenPrivileges: {
      auto at = l.Take(offsetof(TOKEN_PRIVILEGES, Privileges) +
                           sizeof(LUID_AND_ATTRIBUTES) * t.privileges.size(),
                       4);
      if (auto* p = l.At<TOKEN_PRIVILEGES>(at)) {
        p->PrivilegeCount = static_cast<DWORD>(t.privileges.size());
        for (std::size_t i = 0; i < t.privileges.size(); ++i)
          p->Privileges[i] = PrivilegeEntry(t.privileges[i]);
      }
      return true;
    }
    case TokenOwner:
    case TokenPrimaryGroup: {
      auto at = l.Take(sizeof(PSID));
      PSID p = l.PutSid(c == TokenOwner ? t.owner : t.primaryGroup);
      if (auto* o = l.At<PSID>(at)) *o = p;
      return true;
    }
    case TokenType: {
      auto at = l.Take(sizeof(DWORD), 4);
      if (auto* v = l.At<DWORD>(at)) *v = t.type;
      return true;
    }
    case TokenImpersonationLevel: {
      if (t.type != TokenImpersonation) return FailWith(ERROR_INVALID_PARAMETER);
      auto at = l.Take(sizeof(DWORD), 4);
      if (auto* v = l.At<DWORD>(at)) *v = t.level;
      return true;
    }
    case TokenGroupsAndPrivileges: {
      std::vector<TokenGroup> sids = {{t.user, 0}};
      sids.insert(sids.end(), t.groups.begin(), t.groups.end());
      auto at = l.Take(sizeof(TOKEN_GROUPS_AND_PRIVILEGES));
      auto arr = l.Take(sizeof(SID_AND_ATTRIBUTES) * sids.size());
      auto privs = l.Take(sizeof(LUID_AND_ATTRIBUTES) * t.privileges.size(), 4);
      std::size_t sidStart = l.Size();
      PutGroups(l, l.At<SID_AND_ATTRIBUTES>(arr), sids);
      if (auto* g = l.At<TOKEN_GROUPS_AND_PRIVILEGES>(at)) {
        g->SidCount = static_cast<DWORD>(sids.size());
        g->SidLength =
            static_cast<DWORD>(sizeof(SID_AND_ATTRIBUTES) * sids.size() + (l.Size() - sidStart));
        g->Sids = l.At<SID_AND_ATTRIBUTES>(arr);
        g->RestrictedSidCount = 0;
        g->RestrictedSidLength = 0;
        g->RestrictedSids = nullptr;
        g->PrivilegeCount = static_cast<DWORD>(t.privileges.size());
        g->PrivilegeLength = static_cast<DWORD>(sizeof(LUID_AND_ATTRIBUTES) * t.privileges.size());
        g->Privileges = l.At<LUID_AND_ATTRIBUTES>(privs);
        for (std::size_t i = 0; i < t.privileges.size(); ++i)
          g->Privileges[i] = PrivilegeEntry(t.privileges[i]);
        g->AuthenticationId = t.logonId;
      }
      return true;
    }
    case TokenElevationType:
    case TokenElevation: {
      if (!t.hasElevation) return FailWith(ERROR_INVALID_PARAMETER);
      auto at = l.Take(sizeof(DWORD), 4);
      if (auto* v = l.At<DWORD>(at))
        *v = c == TokenElevation ? (t.elevated ? 1u : 0u) : static_cast<DWORD>(t.elevationType);
      return true;
    }
    case TokenLinkedToken: {
      if (!t.hasElevation) return FailWith(ERROR_INVALID_PARAMETER);
      if (!t.linked) return FailWith(ERROR_NO_SUCH_LOGON_SESSION);
      auto at = l.Take(sizeof(TOKEN_LINKED_TOKEN));
      if (auto* v = l.At<TOKEN_LINKED_TOKEN>(at))
        v->LinkedToken = NewTokenHandle(t.linked, TOKEN_QUERY | TOKEN_DUPLICATE);
      return true;
    }
    case TokenIntegrityLevel: {
      if (!t.hasElevation) return FailWith(ERROR_INVALID_PARAMETER);
      auto at = l.Take(sizeof(TOKEN_MANDATORY_LABEL));
      PSID p = l.PutSid(IntegrityLabelSid(t.integrity));
      if (auto* v = l.At<TOKEN_MANDATORY_LABEL>(at))
        *v = {{p, SE_GROUP_INTEGRITY | SE_GROUP_INTEGRITY_ENABLED}};
      return true;
    }
  }
  return FailWith(ERROR_INVALID_PARAMETER);
}

}  // namespace

bool GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, void* buffer,
                         DWORD length, DWORD* returned) {
  auto t = TokenOf(token);
  if (!t) return FailWith(ERROR_INVALID_HANDLE);
  if (!returned) return FailWith(ERROR_INVALID_PARAMETER);
  if (!(AccessOf(token) & TOKEN_QUERY)) return FailWith(ERROR_ACCESS_DENIED);
  Layout count(nullptr);
  if (!Fill(*t, infoClass, count)) return false;
  *returned = static_cast<DWORD>(count.Size());
  if (!buffer || length < count.Size()) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  Layout write(static_cast<BYTE*>(buffer));
  Fill(*t, infoClass, write);
  return Ok();
}

bool DuplicateToken(HANDLE token, SECURITY_IMPERSONATION_LEVEL level, HANDLE* duplicate) {
  auto t = TokenOf(token);
  if (!t) return FailWith(ERROR_INVALID_HANDLE);
  if (!duplicate) return FailWith(ERROR_INVALID_PARAMETER);
  if (!(AccessOf(token) & TOKEN_DUPLICATE)) return FailWith(ERROR_ACCESS_DENIED);
  auto copy = std::make_shared<Token>(*t);
  copy->type = TokenImpersonation;
  copy->level = level;
  *duplicate = NewTokenHandle(copy, TOKEN_ALL_ACCESS);
  return Ok();
}

bool CheckTokenMembership(HANDLE token, PSID sid, bool* isMember) {
  if (!isMember) return FailWith(ERROR_INVALID_PARAMETER);
  *isMember = false;
  if (!IsValidSid(sid)) return FailWith(ERROR_INVALID_SID);
  std::shared_ptr<const Token> t;
  if (token) {
    t = TokenOf(token);
    if (!t) return FailWith(ERROR_INVALID_HANDLE);
    if (t->type != TokenImpersonation) return FailWith(ERROR_NO_IMPERSONATION_TOKEN);
  } else {
    t = CurrentToken();
  }
  *isMember = t->IsMember(Sid::FromPsid(sid));
  return Ok();
}

bool PrivilegeCheck(HANDLE token, PRIVILEGE_SET* set, bool* result) {
  auto t = TokenOf(token);
  if (!t) return FailWith(ERROR_INVALID_HANDLE);
  if (!set || !result) return FailWith(ERROR_INVALID_PARAMETER);
  DWORD held = 0;
  for (DWORD i = 0; i < set->PrivilegeCount; ++i) {
    LUID_AND_ATTRIBUTES& p = set->Privilege[i];
    DWORD index = p.Luid.LowPart - 2;
    const TokenPrivilege* tp = index < std::size(kPrivileges) && p.Luid.HighPart == 0
                                   ? t->Privilege(kPrivileges[index].name)
                                   : nullptr;
    if (tp && (tp->attributes & SE_PRIVILEGE_ENABLED)) {
      p.Attributes |= 0x80000000u;  // SE_PRIVILEGE_USED_FOR_ACCESS
      ++held;
    }
  }
  *result =
      (set->Control & PRIVILEGE_SET_ALL_NECESSARY) ? held == set->PrivilegeCount && held : held > 0;
  return Ok();
}

bool AdjustTokenPrivileges(HANDLE token, bool disableAll, const TOKEN_PRIVILEGES* state) {
  auto t = TokenOf(token);
  if (!t) return FailWith(ERROR_INVALID_HANDLE);
  if (!(AccessOf(token) & TOKEN_ADJUST_PRIVILEGES)) return FailWith(ERROR_ACCESS_DENIED);
  // The change holds for this handle (as a process keeps its adjusted token).
  auto copy = std::make_shared<Token>(*t);
  bool all = true;
  for (TokenPrivilege& p : copy->privileges)
    if (disableAll) p.attributes &= ~SE_PRIVILEGE_ENABLED;
  if (!disableAll && state) {
    for (DWORD i = 0; i < state->PrivilegeCount; ++i) {
      DWORD index = state->Privileges[i].Luid.LowPart - 2;
      TokenPrivilege* found = nullptr;
      if (index < std::size(kPrivileges))
        for (TokenPrivilege& p : copy->privileges)
          if (p.name == kPrivileges[index].name) found = &p;
      if (!found) {
        all = false;
        continue;
      }
      if (state->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED)
        found->attributes |= SE_PRIVILEGE_ENABLED;
      else
        found->attributes &= ~SE_PRIVILEGE_ENABLED;
    }
  }
  {
    std::lock_guard<std::mutex> lock(HandleMutex());
    auto it = Handles().find(static_cast<TokenHandle*>(token));
    if (it != Handles().end()) (*it)->token = copy;
  }
  SetLastError(all ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return true;
}

bool LookupPrivilegeValueW(const wchar_t*, const wchar_t* name, LUID* luid) {
  if (!name || !luid) return FailWith(ERROR_INVALID_PARAMETER);
  int i = PrivilegeIndex(name);
  if (i < 0) return FailWith(ERROR_NO_SUCH_PRIVILEGE);
  *luid = {static_cast<DWORD>(i + 2), 0};
  return Ok();
}

namespace {
bool CopyOut(const std::wstring& text, wchar_t* buffer, DWORD* chars) {
  if (!chars) return FailWith(ERROR_INVALID_PARAMETER);
  if (!buffer || *chars <= text.size()) {
    *chars = static_cast<DWORD>(text.size() + 1);
    return FailWith(ERROR_INSUFFICIENT_BUFFER);
  }
  std::wmemcpy(buffer, text.c_str(), text.size() + 1);
  *chars = static_cast<DWORD>(text.size());
  return Ok();
}
}  // namespace

bool LookupPrivilegeNameW(const wchar_t*, const LUID* luid, wchar_t* name, DWORD* chars) {
  if (!luid) return FailWith(ERROR_INVALID_PARAMETER);
  DWORD index = luid->LowPart - 2;
  if (luid->HighPart != 0 || index >= std::size(kPrivileges))
    return FailWith(ERROR_NO_SUCH_PRIVILEGE);
  return CopyOut(kPrivileges[index].name, name, chars);
}

bool LookupPrivilegeDisplayNameW(const wchar_t*, const wchar_t* name, wchar_t* displayName,
                                 DWORD* chars, DWORD* languageId) {
  if (!name) return FailWith(ERROR_INVALID_PARAMETER);
  int i = PrivilegeIndex(name);
  if (i < 0) return FailWith(ERROR_NO_SUCH_PRIVILEGE);
  if (languageId) *languageId = 0x0409;
  return CopyOut(kPrivileges[i].display, displayName, chars);
}

}  // namespace platform
