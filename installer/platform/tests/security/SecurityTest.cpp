#include "platform/Security.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "SecurityMachine.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Text.h"

using namespace platform;
using tltest::SecurityMachine;

namespace {

template <class T>
std::vector<BYTE> Info(HANDLE token, TOKEN_INFORMATION_CLASS c) {
  DWORD need = 0;
  EXPECT_FALSE(GetTokenInformation(token, c, nullptr, 0, &need));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> buf(need);
  EXPECT_TRUE(GetTokenInformation(token, c, buf.data(), need, &need));
  return buf;
}

HANDLE ProcessToken(DWORD access = TOKEN_QUERY | TOKEN_DUPLICATE) {
  HANDLE t = nullptr;
  EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), access, &t));
  return t;
}

DWORD GroupAttributes(HANDLE token, const Sid& sid) {
  auto buf = Info<TOKEN_GROUPS>(token, TokenGroups);
  auto* g = reinterpret_cast<TOKEN_GROUPS*>(buf.data());
  for (DWORD i = 0; i < g->GroupCount; ++i)
    if (Sid::FromPsid(g->Groups[i].Sid) == sid) return g->Groups[i].Attributes;
  return 0xFFFFFFFFu;
}

DWORD Integrity(HANDLE token) {
  auto buf = Info<TOKEN_MANDATORY_LABEL>(token, TokenIntegrityLevel);
  auto* l = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buf.data());
  return *GetSidSubAuthority(l->Label.Sid, *GetSidSubAuthorityCount(l->Label.Sid) - 1);
}

bool IsAdmin(HANDLE token) {
  bool member = false;
  EXPECT_TRUE(CheckTokenMembership(token, BuiltinAdministratorsSid().Psid(), &member));
  return member;
}

SecurityDescriptor Sd(const wchar_t* sddl) {
  std::wstring why;
  auto sd = SecurityDescriptor::FromSddl(sddl, &why);
  EXPECT_TRUE(sd) << ToUtf8(why);
  return sd.value_or(SecurityDescriptor{});
}

MachineConfig Standard() {
  MachineConfig c = MachineConfig::Defaults();
  c.memberships = {L"Users"};
  return c;
}

MachineConfig UacNotElevated() {
  MachineConfig c = MachineConfig::Defaults();
  c.elevated = false;
  return c;
}

}  // namespace

TEST(Tokens, ElevatedAdministratorUnderUacHasALimitedLinkedToken) {
  SecurityMachine m;
  HANDLE t = ProcessToken();
  auto type = Info<DWORD>(t, TokenElevationType);
  EXPECT_EQ(*reinterpret_cast<DWORD*>(type.data()), TokenElevationTypeFull);
  auto elevation = Info<TOKEN_ELEVATION>(t, TokenElevation);
  EXPECT_EQ(reinterpret_cast<TOKEN_ELEVATION*>(elevation.data())->TokenIsElevated, 1u);
  EXPECT_EQ(Integrity(t), SECURITY_MANDATORY_HIGH_RID);
  EXPECT_EQ(GroupAttributes(t, BuiltinAdministratorsSid()),
            SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED | SE_GROUP_OWNER);
  bool member = false;
  ASSERT_TRUE(CheckTokenMembership(nullptr, BuiltinAdministratorsSid().Psid(), &member));
  EXPECT_TRUE(member);
  // A primary token handle cannot be asked directly.
  EXPECT_FALSE(CheckTokenMembership(t, BuiltinAdministratorsSid().Psid(), &member));
  EXPECT_EQ(GetLastError(), ERROR_NO_IMPERSONATION_TOKEN);

  auto linkedBuf = Info<TOKEN_LINKED_TOKEN>(t, TokenLinkedToken);
  HANDLE linked = reinterpret_cast<TOKEN_LINKED_TOKEN*>(linkedBuf.data())->LinkedToken;
  auto ltype = Info<DWORD>(linked, TokenElevationType);
  EXPECT_EQ(*reinterpret_cast<DWORD*>(ltype.data()), TokenElevationTypeLimited);
  EXPECT_EQ(GroupAttributes(linked, BuiltinAdministratorsSid()), SE_GROUP_USE_FOR_DENY_ONLY);
  EXPECT_EQ(Integrity(linked), SECURITY_MANDATORY_MEDIUM_RID);
  EXPECT_FALSE(IsAdmin(linked));
  EXPECT_TRUE(CloseHandle(linked));
  EXPECT_TRUE(CloseHandle(t));
  EXPECT_FALSE(CloseHandle(t));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Tokens, AdministratorWithoutElevationRunsTheLimitedHalf) {
  SecurityMachine m(UacNotElevated());
  HANDLE t = ProcessToken();
  auto type = Info<DWORD>(t, TokenElevationType);
  EXPECT_EQ(*reinterpret_cast<DWORD*>(type.data()), TokenElevationTypeLimited);
  auto elevation = Info<TOKEN_ELEVATION>(t, TokenElevation);
  EXPECT_EQ(reinterpret_cast<TOKEN_ELEVATION*>(elevation.data())->TokenIsElevated, 0u);
  EXPECT_EQ(Integrity(t), SECURITY_MANDATORY_MEDIUM_RID);
  bool member = true;
  ASSERT_TRUE(CheckTokenMembership(nullptr, BuiltinAdministratorsSid().Psid(), &member));
  EXPECT_FALSE(member);  // deny-only
  ASSERT_TRUE(CheckTokenMembership(nullptr, BuiltinUsersSid().Psid(), &member));
  EXPECT_TRUE(member);
  // The linked token is the full one: a member of Administrators.
  auto linkedBuf = Info<TOKEN_LINKED_TOKEN>(t, TokenLinkedToken);
  HANDLE linked = reinterpret_cast<TOKEN_LINKED_TOKEN*>(linkedBuf.data())->LinkedToken;
  EXPECT_TRUE(IsAdmin(linked));
  EXPECT_EQ(Integrity(linked), SECURITY_MANDATORY_HIGH_RID);
  CloseHandle(linked);
  // A duplicate for identification answers like the token.
  HANDLE dup = nullptr;
  ASSERT_TRUE(DuplicateToken(t, SecurityIdentification, &dup));
  EXPECT_FALSE(IsAdmin(dup));
  CloseHandle(dup);
  CloseHandle(t);
}

TEST(Tokens, StandardUserXpAndUacOff) {
  {
    SecurityMachine m(Standard());
    HANDLE t = ProcessToken();
    auto type = Info<DWORD>(t, TokenElevationType);
    EXPECT_EQ(*reinterpret_cast<DWORD*>(type.data()), TokenElevationTypeDefault);
    DWORD n = 0;
    BYTE buf[64];
    EXPECT_FALSE(GetTokenInformation(t, TokenLinkedToken, buf, sizeof buf, &n));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_LOGON_SESSION);
    EXPECT_EQ(Integrity(t), SECURITY_MANDATORY_MEDIUM_RID);
    EXPECT_EQ(GroupAttributes(t, BuiltinAdministratorsSid()), 0xFFFFFFFFu);  // not there at all
    HANDLE dup = nullptr;
    ASSERT_TRUE(DuplicateToken(t, SecurityIdentification, &dup));
    EXPECT_FALSE(IsAdmin(dup));
    CloseHandle(dup);
    CloseHandle(t);
  }
  {
    MachineConfig c = MachineConfig::Defaults();
    c.os.major = 5;
    c.os.minor = 1;
    c.elevated = false;  // means nothing before Vista
    SecurityMachine m(c);
    HANDLE t = ProcessToken();
    DWORD n = 0;
    BYTE buf[64];
    EXPECT_FALSE(GetTokenInformation(t, TokenElevationType, buf, sizeof buf, &n));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(GetTokenInformation(t, TokenIntegrityLevel, buf, sizeof buf, &n));
    HANDLE dup = nullptr;
    ASSERT_TRUE(DuplicateToken(t, SecurityIdentification, &dup));
    EXPECT_TRUE(IsAdmin(dup));
    CloseHandle(dup);
    CloseHandle(t);
  }
  {
    MachineConfig c = MachineConfig::Defaults();
    c.uacEnabled = false;
    c.elevated = false;  // without UAC an administrator always has the full token
    SecurityMachine m(c);
    HANDLE t = ProcessToken();
    auto type = Info<DWORD>(t, TokenElevationType);
    EXPECT_EQ(*reinterpret_cast<DWORD*>(type.data()), TokenElevationTypeDefault);
    auto elevation = Info<TOKEN_ELEVATION>(t, TokenElevation);
    EXPECT_EQ(reinterpret_cast<TOKEN_ELEVATION*>(elevation.data())->TokenIsElevated, 1u);
    EXPECT_TRUE(CurrentToken()->IsMember(BuiltinAdministratorsSid()));
    CloseHandle(t);
  }
  {
    MachineConfig c = MachineConfig::Defaults();
    c.integrity = L"medium";  // a full administrator token at medium integrity
    SecurityMachine m(c);
    HANDLE t = ProcessToken();
    EXPECT_EQ(Integrity(t), SECURITY_MANDATORY_MEDIUM_RID);
    CloseHandle(t);
  }
}

TEST(Tokens, GroupsAndPrivilegesInTheWindowsLayout) {
  SecurityMachine m(SecurityMachine::Domain([] {
    MachineConfig c = MachineConfig::Defaults();
    c.memberships = {L"Administrators", L"Users", L"Domain Admins"};
    return c;
  }()));
  HANDLE t = ProcessToken(TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES);
  auto buf = Info<TOKEN_GROUPS_AND_PRIVILEGES>(t, TokenGroupsAndPrivileges);
  auto* gp = reinterpret_cast<TOKEN_GROUPS_AND_PRIVILEGES*>(buf.data());
  ASSERT_GT(gp->SidCount, 8u);
  // The user comes first, then Everyone; every pointer lies inside the buffer.
  EXPECT_EQ(Sid::FromPsid(gp->Sids[0].Sid).ToString(), CurrentUserSid());
  EXPECT_EQ(Sid::FromPsid(gp->Sids[1].Sid), EveryoneSid());
  for (DWORD i = 0; i < gp->SidCount; ++i) {
    auto* p = static_cast<BYTE*>(gp->Sids[i].Sid);
    EXPECT_TRUE(p >= buf.data() && p + GetLengthSid(p) <= buf.data() + buf.size());
  }
  bool domainAdmins = false, logon = false;
  for (DWORD i = 0; i < gp->SidCount; ++i) {
    Sid s = Sid::FromPsid(gp->Sids[i].Sid);
    if (s.ToString() == DomainSidOf(CurrentConfig()) + L"-512") domainAdmins = true;
    if ((gp->Sids[i].Attributes & SE_GROUP_LOGON_ID) == SE_GROUP_LOGON_ID) logon = true;
  }
  EXPECT_TRUE(domainAdmins);
  EXPECT_TRUE(logon);
  ASSERT_GT(gp->PrivilegeCount, 20u);

  // Names, display names and enabled state.
  LUID shutdown;
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &shutdown));
  EXPECT_EQ(shutdown.LowPart, 19u);
  wchar_t name[64], display[128];
  DWORD n = 64, d = 128, lang = 0;
  ASSERT_TRUE(LookupPrivilegeNameW(nullptr, &shutdown, name, &n));
  EXPECT_EQ(std::wstring(name), L"SeShutdownPrivilege");
  ASSERT_TRUE(LookupPrivilegeDisplayNameW(nullptr, name, display, &d, &lang));
  EXPECT_EQ(std::wstring(display), L"Shut down the system");
  EXPECT_FALSE(LookupPrivilegeValueW(nullptr, L"SeFlyPrivilege", &shutdown));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_PRIVILEGE);

  PRIVILEGE_SET set{1, PRIVILEGE_SET_ALL_NECESSARY, {{shutdown, 0}}};
  bool held = true;
  ASSERT_TRUE(PrivilegeCheck(t, &set, &held));
  EXPECT_FALSE(held);  // present but disabled
  LUID notify;
  LookupPrivilegeValueW(nullptr, L"SeChangeNotifyPrivilege", &notify);
  PRIVILEGE_SET set2{1, PRIVILEGE_SET_ALL_NECESSARY, {{notify, 0}}};
  ASSERT_TRUE(PrivilegeCheck(t, &set2, &held));
  EXPECT_TRUE(held);
  TOKEN_PRIVILEGES enable{1, {{shutdown, SE_PRIVILEGE_ENABLED}}};
  ASSERT_TRUE(AdjustTokenPrivileges(t, false, &enable));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  ASSERT_TRUE(PrivilegeCheck(t, &set, &held));
  EXPECT_TRUE(held);
  CloseHandle(t);

  // The limited token of a standard user lacks the administrator privileges.
  auto standard = MakeUserToken(Standard());
  EXPECT_EQ(standard.Privilege(L"SeBackupPrivilege"), nullptr);
  EXPECT_NE(standard.Privilege(L"SeShutdownPrivilege"), nullptr);
}

TEST(Descriptors, SddlRoundTripsAndTheBinaryLayoutCanBeWalked) {
  SecurityMachine m;
  const wchar_t* text =
      L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(D;;FW;;;S-1-5-21-1-2-3-1001)(A;OICIIO;GA;;;CO)"
      L"(A;;0x1200a9;;;BU)";
  SecurityDescriptor sd = Sd(text);
  EXPECT_EQ(sd.ToSddl(), text);
  EXPECT_TRUE(sd.control & SE_DACL_PROTECTED);

  PSECURITY_DESCRIPTOR bin = nullptr;
  DWORD size = 0;
  ASSERT_TRUE(
      ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &bin, &size));
  EXPECT_TRUE(IsValidSecurityDescriptor(bin));
  EXPECT_EQ(GetSecurityDescriptorLength(bin), size);
  auto* header = static_cast<SECURITY_DESCRIPTOR_RELATIVE*>(bin);
  EXPECT_EQ(header->Revision, 1);
  EXPECT_TRUE(header->Control & SE_SELF_RELATIVE);
  EXPECT_TRUE(header->Control & SE_DACL_PRESENT);
  bool present = false, defaulted = true;
  ACL* dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(bin, &present, &dacl, &defaulted));
  ASSERT_TRUE(present);
  ACL_SIZE_INFORMATION info{};
  ASSERT_TRUE(GetAclInformation(dacl, &info, sizeof info, AclSizeInformation));
  EXPECT_EQ(info.AceCount, 4u);
  EXPECT_EQ(info.AclBytesInUse, dacl->AclSize);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(dacl, 1, &ace));
  auto* denied = static_cast<ACCESS_DENIED_ACE*>(ace);
  EXPECT_EQ(denied->Header.AceType, ACCESS_DENIED_ACE_TYPE);
  EXPECT_EQ(denied->Mask, FILE_GENERIC_WRITE);
  std::wstring who;
  ConvertSidToStringSidW(&denied->SidStart, who);
  EXPECT_EQ(who, L"S-1-5-21-1-2-3-1001");
  ASSERT_TRUE(GetAce(dacl, 2, &ace));
  EXPECT_EQ(static_cast<ACE_HEADER*>(ace)->AceFlags,
            OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERIT_ONLY_ACE);
  EXPECT_FALSE(GetAce(dacl, 4, &ace));
  PSID owner = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorOwner(bin, &owner, &defaulted));
  ConvertSidToStringSidW(owner, who);
  EXPECT_EQ(who, L"S-1-5-32-544");
  std::wstring back;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      bin, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, back));
  EXPECT_EQ(back, std::wstring(text).substr(std::wstring(text).find(L"D:")));
  LocalFree(bin);

  // A NULL DACL and an empty one are different things.
  EXPECT_FALSE(Sd(L"D:NO_ACCESS_CONTROL").dacl);
  ASSERT_TRUE(Sd(L"D:").dacl);
  EXPECT_TRUE(Sd(L"D:").dacl->empty());
}

TEST(Descriptors, MalformedSddlIsRefusedWithItsReason) {
  SecurityMachine m;
  for (const wchar_t* bad :
       {L"", L"D:(A;;FA;;;XX)", L"D:(Q;;FA;;;BA)", L"D:(A;;FA;;BA)", L"X:BA", L"D:(A;;FA;;;BA",
        L"D:(A;ZZ;FA;;;BA)", L"D:(A;;QQ;;;BA)", L"O:BAO:SY", L"D:(A;;0x1g;;;BA)", L"O:S-1-5-x"}) {
    std::wstring why;
    EXPECT_FALSE(SecurityDescriptor::FromSddl(bad, &why)) << ToUtf8(bad);
    EXPECT_FALSE(why.empty()) << ToUtf8(bad);
    PSECURITY_DESCRIPTOR sd = nullptr;
    EXPECT_FALSE(
        ConvertStringSecurityDescriptorToSecurityDescriptorW(bad, SDDL_REVISION_1, &sd, nullptr));
  }
  // An entry of a type the checks do not use is kept and skipped.
  SecurityDescriptor sd = Sd(L"D:(XA;;FA;;;BU)(A;;FR;;;BU)");
  EXPECT_EQ(sd.ToSddl(), L"D:(XA;;FA;;;BU)(A;;FR;;;BU)");
  Token user = MakeUserToken(Standard());
  EXPECT_TRUE(AccessCheck(sd, user, FILE_GENERIC_READ, kFileMapping));
  EXPECT_FALSE(AccessCheck(sd, user, FILE_GENERIC_WRITE, kFileMapping));
}

TEST(Descriptors, AclFunctionsOnTheBinaryLayout) {
  alignas(4) BYTE buf[256];
  ACL* acl = reinterpret_cast<ACL*>(buf);
  ASSERT_TRUE(InitializeAcl(acl, sizeof buf, ACL_REVISION));
  EXPECT_EQ(acl->AceCount, 0);
  ASSERT_TRUE(AddAccessAllowedAceEx(acl, ACL_REVISION, SUB_CONTAINERS_AND_OBJECTS_INHERIT,
                                    FILE_ALL_ACCESS, BuiltinAdministratorsSid().Psid()));
  ASSERT_TRUE(AddAccessDeniedAce(acl, ACL_REVISION, DELETE, EveryoneSid().Psid()));
  ACL_SIZE_INFORMATION info{};
  ASSERT_TRUE(GetAclInformation(acl, &info, sizeof info, AclSizeInformation));
  EXPECT_EQ(info.AceCount, 2u);
  EXPECT_EQ(info.AclBytesInUse, 8u + 24 + 20);
  EXPECT_EQ(info.AclBytesFree, sizeof buf - info.AclBytesInUse);
  // AddAce at the front with the bytes of an existing entry.
  void* second = nullptr;
  ASSERT_TRUE(GetAce(acl, 1, &second));
  std::vector<BYTE> copy(static_cast<BYTE*>(second),
                         static_cast<BYTE*>(second) + static_cast<ACE_HEADER*>(second)->AceSize);
  ASSERT_TRUE(AddAce(acl, ACL_REVISION, 0, copy.data(), static_cast<DWORD>(copy.size())));
  void* first = nullptr;
  ASSERT_TRUE(GetAce(acl, 0, &first));
  EXPECT_EQ(static_cast<ACE_HEADER*>(first)->AceType, ACCESS_DENIED_ACE_TYPE);
  ASSERT_TRUE(DeleteAce(acl, 0));
  ASSERT_TRUE(GetAce(acl, 0, &first));
  EXPECT_EQ(static_cast<ACCESS_ALLOWED_ACE*>(first)->Mask, FILE_ALL_ACCESS);
  // No room: the list is left as it was.
  alignas(4) BYTE small[16];
  ACL* tiny = reinterpret_cast<ACL*>(small);
  ASSERT_TRUE(InitializeAcl(tiny, sizeof small, ACL_REVISION));
  EXPECT_FALSE(AddAccessAllowedAce(tiny, ACL_REVISION, FILE_ALL_ACCESS, EveryoneSid().Psid()));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(tiny->AceCount, 0);
  // A corrupt count is refused.
  acl->AceCount = 40;
  EXPECT_FALSE(IsValidAcl(acl));
  EXPECT_FALSE(GetAclInformation(acl, &info, sizeof info, AclSizeInformation));
}

TEST(Descriptors, AccessCheckOrderDenyOnlyOwnerAndIntegrity) {
  SecurityMachine m(UacNotElevated());
  Token limited = *CurrentToken();
  Token full = *limited.linked;
  // Deny of Administrators applies to a deny-only membership; allow does not.
  SecurityDescriptor sd = Sd(L"D:(D;;0x6;;;BA)(A;;FA;;;BU)");
  EXPECT_TRUE(AccessCheck(sd, limited, FILE_GENERIC_READ, kFileMapping));
  EXPECT_FALSE(AccessCheck(sd, limited, FILE_WRITE_DATA, kFileMapping));
  // Denying the generic write rights also denies READ_CONTROL and SYNCHRONIZE, which reading
  // needs too, as on Windows.
  EXPECT_FALSE(
      AccessCheck(Sd(L"D:(D;;FW;;;BU)(A;;FA;;;BU)"), limited, FILE_GENERIC_READ, kFileMapping));
  EXPECT_FALSE(AccessCheck(Sd(L"D:(A;;FA;;;BA)"), limited, FILE_GENERIC_READ, kFileMapping));
  EXPECT_TRUE(AccessCheck(Sd(L"D:(A;;FA;;;BA)"), full, FILE_ALL_ACCESS, kFileMapping));
  // The first entry wins: an allow before a deny grants.
  EXPECT_TRUE(
      AccessCheck(Sd(L"D:(A;;FW;;;BU)(D;;FW;;;BU)"), limited, FILE_GENERIC_WRITE, kFileMapping));
  // Inherit-only entries do not apply to the object itself; generic rights are mapped.
  EXPECT_FALSE(AccessCheck(Sd(L"D:(A;OICIIO;GA;;;BU)"), limited, FILE_GENERIC_READ, kFileMapping));
  EXPECT_TRUE(AccessCheck(Sd(L"D:(A;;GR;;;BU)"), limited, FILE_GENERIC_READ, kFileMapping));
  EXPECT_TRUE(AccessCheck(Sd(L"D:(A;;GA;;;BU)"), limited, KEY_ALL_ACCESS, kKeyMapping));
  // NULL DACL: everything; empty DACL: nothing but the owner's rights.
  EXPECT_TRUE(AccessCheck(Sd(L"D:NO_ACCESS_CONTROL"), limited, FILE_ALL_ACCESS, kFileMapping));
  EXPECT_FALSE(AccessCheck(Sd(L"D:"), limited, FILE_GENERIC_READ, kFileMapping));
  std::wstring mine = L"O:" + limited.user.ToString() + L"D:";
  EXPECT_TRUE(AccessCheck(Sd(mine.c_str()), limited, READ_CONTROL | WRITE_DAC, kFileMapping));
  EXPECT_FALSE(AccessCheck(Sd(mine.c_str()), limited, FILE_GENERIC_READ, kFileMapping));
  // A low-integrity token cannot write up; a high label stops a medium token.
  MachineConfig low = UacNotElevated();
  low.integrity = L"low";
  Token lowToken = MakeUserToken(low);
  EXPECT_EQ(lowToken.integrity, SECURITY_MANDATORY_LOW_RID);
  EXPECT_TRUE(AccessCheck(Sd(L"D:(A;;FA;;;WD)"), lowToken, FILE_GENERIC_READ, kFileMapping));
  EXPECT_FALSE(AccessCheck(Sd(L"D:(A;;FA;;;WD)"), lowToken, FILE_WRITE_DATA, kFileMapping));
  EXPECT_FALSE(
      AccessCheck(Sd(L"D:(A;;FA;;;WD)S:(ML;;NW;;;HI)"), limited, FILE_WRITE_DATA, kFileMapping));
  EXPECT_TRUE(
      AccessCheck(Sd(L"D:(A;;FA;;;WD)S:(ML;;NW;;;HI)"), full, FILE_WRITE_DATA, kFileMapping));
}

TEST(Descriptors, InheritanceToFilesFoldersAndBelow) {
  SecurityMachine m;
  Token creator = *CurrentToken();
  SecurityDescriptor parent = Sd(
      L"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICIIO;GA;;;CO)(A;CI;0x6;;;BU)(A;OI;FR;;;WD)(A;CINP;FX;;;AU)"
      L"(A;;FA;;;BA)");
  SecurityDescriptor file = InheritDescriptor(parent, false, creator, kFileMapping);
  ASSERT_EQ(creator.owner, BuiltinAdministratorsSid());  // an elevated administrator's default
  const std::wstring owner = L"BA";
  EXPECT_EQ(file.ToSddl(DACL_SECURITY_INFORMATION),
            L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;" + owner + L")(A;ID;FR;;;WD)");
  EXPECT_EQ(*file.owner, creator.owner);
  SecurityDescriptor folder = InheritDescriptor(parent, true, creator, kFileMapping);
  EXPECT_EQ(folder.ToSddl(DACL_SECURITY_INFORMATION),
            L"D:AI(A;OICIID;FA;;;SY)(A;ID;FA;;;" + owner +
                L")(A;OICIIOID;GA;;;CO)(A;CIID;0x6;;;BU)(A;OIIOID;FR;;;WD)(A;ID;FX;;;AU)");
  // One level further: the no-propagate entry is gone, the object-only one reaches files.
  SecurityDescriptor below = InheritDescriptor(folder, false, creator, kFileMapping);
  EXPECT_EQ(below.ToSddl(DACL_SECURITY_INFORMATION),
            L"D:AI(A;ID;FA;;;SY)(A;ID;FA;;;" + owner + L")(A;ID;FR;;;WD)");
  // A child's own entries survive a change of its parent; a protected child keeps everything.
  SecurityDescriptor child = Sd(L"O:BAD:AI(A;;FA;;;BU)(A;ID;FR;;;WD)");
  SecurityDescriptor re =
      ReinheritDescriptor(child, Sd(L"D:(A;OICI;FR;;;AU)"), false, kFileMapping);
  EXPECT_EQ(re.ToSddl(DACL_SECURITY_INFORMATION), L"D:AI(A;;FA;;;BU)(A;ID;FR;;;AU)");
  SecurityDescriptor locked = Sd(L"D:P(A;;FA;;;BU)");
  EXPECT_EQ(ReinheritDescriptor(locked, Sd(L"D:(A;OICI;FR;;;AU)"), false, kFileMapping).ToSddl(),
            locked.ToSddl());
}

TEST(Descriptors, ExplicitEntriesAndEffectiveRights) {
  SecurityMachine m(SecurityMachine::With({{"accounts/local_users", L"Anna"}}));
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;;FR;;;BU)(A;ID;FA;;;SY)",
                                                                   SDDL_REVISION_1, &sd, nullptr));
  bool present, defaulted;
  ACL* old = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &old, &defaulted);
  EXPLICIT_ACCESS_W e[3];
  e[0].grfAccessPermissions = FILE_GENERIC_WRITE;
  e[0].grfAccessMode = GRANT_ACCESS;
  e[0].Trustee.TrusteeForm = TRUSTEE_IS_NAME;
  e[0].Trustee.ptstrName = L"Users";
  e[1].grfAccessPermissions = DELETE;
  e[1].grfAccessMode = DENY_ACCESS;
  e[1].Trustee.TrusteeForm = TRUSTEE_IS_NAME;
  e[1].Trustee.ptstrName = L"Anna";
  e[2].grfAccessPermissions = FILE_ALL_ACCESS;
  e[2].grfAccessMode = SET_ACCESS;
  e[2].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
  e[2].Trustee.TrusteeForm = TRUSTEE_IS_SID;
  const Sid admins = BuiltinAdministratorsSid();
  e[2].Trustee.ptstrName = static_cast<const wchar_t*>(admins.Psid());
  ACL* updated = nullptr;
  ASSERT_EQ(SetEntriesInAclW(3, e, old, &updated), ERROR_SUCCESS);
  PSECURITY_DESCRIPTOR out = MakeSecurityDescriptor(nullptr, nullptr, updated, 0);
  std::wstring text;
  ConvertSecurityDescriptorToStringSecurityDescriptorW(out, SDDL_REVISION_1,
                                                       DACL_SECURITY_INFORMATION, text);
  const std::wstring anna = AccountTable::Current().FindName(L"Anna")->sid.ToString();
  EXPECT_EQ(text, L"D:(D;;SD;;;" + anna + L")(A;;0x12019f;;;BU)(A;OICI;FA;;;BA)(A;ID;FA;;;SY)");

  TRUSTEE_W me;
  me.TrusteeForm = TRUSTEE_IS_NAME;
  me.TrusteeType = TRUSTEE_IS_USER;
  me.ptstrName = L"CURRENT_USER";
  ACCESS_MASK rights = 0;
  ASSERT_EQ(GetEffectiveRightsFromAclW(updated, &me, &rights), ERROR_SUCCESS);
  EXPECT_EQ(rights & FILE_ALL_ACCESS, FILE_ALL_ACCESS);  // an elevated administrator
  TRUSTEE_W annaT = me;
  annaT.ptstrName = L"Anna";
  ASSERT_EQ(GetEffectiveRightsFromAclW(updated, &annaT, &rights), ERROR_SUCCESS);
  EXPECT_EQ(rights, 0u);  // Anna is in no group the list names
  annaT.ptstrName = L"Nobody";
  EXPECT_EQ(GetEffectiveRightsFromAclW(updated, &annaT, &rights), ERROR_NONE_MAPPED);
  EXPLICIT_ACCESS_W revoke;
  revoke.grfAccessMode = REVOKE_ACCESS;
  revoke.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
  revoke.Trustee.ptstrName = L"Users";
  ACL* fewer = nullptr;
  ASSERT_EQ(SetEntriesInAclW(1, &revoke, updated, &fewer), ERROR_SUCCESS);
  EXPECT_EQ(fewer->AceCount, 3);
  LocalFree(fewer);
  LocalFree(out);
  LocalFree(updated);
  LocalFree(sd);
}
