#include "platform/Accounts.h"

#include <gtest/gtest.h>

#include <cstring>

#include "SecurityMachine.h"
#include "platform/Machine.h"
#include "platform/Security.h"
#include "platform/Text.h"

using namespace platform;
using tltest::SecurityMachine;

namespace {

std::wstring Text(PSID sid) {
  std::wstring s;
  EXPECT_TRUE(ConvertSidToStringSidW(sid, s));
  return s;
}

struct Looked {
  bool ok = false;
  DWORD error = 0;
  std::wstring name, domain;
  SID_NAME_USE use = SidTypeInvalid;
};
Looked BySid(const std::wstring& text) {
  Looked r;
  auto sid = Sid::Parse(text);
  if (!sid) return r;
  wchar_t name[256], domain[256];
  DWORD n = 256, d = 256;
  r.ok = LookupAccountSidW(nullptr, sid->Psid(), name, &n, domain, &d, &r.use);
  r.error = GetLastError();
  if (r.ok) r.name = name, r.domain = domain;
  return r;
}
std::wstring SidOfName(const wchar_t* account, SID_NAME_USE* use = nullptr) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  wchar_t domain[256];
  DWORD cb = sizeof sid, cch = 256;
  SID_NAME_USE u;
  if (!LookupAccountNameW(nullptr, account, sid, &cb, domain, &cch, &u)) return L"";
  if (use) *use = u;
  return Text(sid);
}

}  // namespace

TEST(Sids, TextAndBinaryFormsRoundTrip) {
  auto s = Sid::Parse(L"S-1-5-21-1-2-3-1001");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->ToString(), L"S-1-5-21-1-2-3-1001");
  // The Windows layout: revision, count, 6-byte big-endian authority, little-endian RIDs.
  const auto& b = s->Bytes();
  ASSERT_EQ(b.size(), 8u + 5 * 4);
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[1], 5);
  EXPECT_EQ(b[7], 5);
  DWORD last;
  std::memcpy(&last, &b[24], 4);
  EXPECT_EQ(last, 1001u);
  EXPECT_EQ(s->Rid(), 1001u);
  EXPECT_EQ(s->Prefix().ToString(), L"S-1-5-21-1-2-3");
  EXPECT_EQ(s->WithLastReplaced(512).ToString(), L"S-1-5-21-1-2-3-512");
  EXPECT_EQ(*GetSidSubAuthorityCount(s->Psid()), 5);
  EXPECT_EQ(*GetSidSubAuthority(s->Psid(), 0), 21u);
  EXPECT_EQ(GetLengthSid(s->Psid()), 28u);

  PSID admins = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                       DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins));
  EXPECT_EQ(Text(admins), L"S-1-5-32-544");
  EXPECT_TRUE(EqualSid(admins, BuiltinAdministratorsSid().Psid()));
  EXPECT_EQ(FreeSid(admins), nullptr);

  EXPECT_EQ(Sid::Parse(L"BA")->ToString(), L"S-1-5-32-544");
  EXPECT_EQ(Sid::Parse(L"wd")->ToString(), L"S-1-1-0");
  EXPECT_EQ(Sid::Parse(L"S-1-0x123456789ABC-7")->ToString(), L"S-1-0x123456789ABC-7");
  Sid domain = *Sid::Parse(L"S-1-5-21-9-8-7");
  EXPECT_EQ(Sid::Parse(L"DA", &domain)->ToString(), L"S-1-5-21-9-8-7-512");
  EXPECT_FALSE(Sid::Parse(L"DA"));  // needs a domain
}

TEST(Sids, MalformedTextsAreRefused) {
  SecurityMachine m;
  for (const wchar_t* bad :
       {L"", L"S-1", L"S-1-", L"S-2-5-32", L"S-1-5-x", L"S-1-5--1", L"X-1-5-18",
        L"S-1-5-4294967296", L"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", L"ZZ",
        L"S-1-5-32-544 "}) {
    PSID sid = reinterpret_cast<PSID>(1);
    EXPECT_FALSE(ConvertStringSidToSidW(bad, &sid)) << ToUtf8(bad);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SID) << ToUtf8(bad);
  }
  PSID sid = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidW(L"S-1-5-18", &sid));
  EXPECT_EQ(Text(sid), L"S-1-5-18");
  LocalFree(sid);
  BYTE junk[8] = {9, 1, 0, 0, 0, 0, 0, 5};
  std::wstring text;
  EXPECT_FALSE(ConvertSidToStringSidW(junk, text));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_SID);
}

TEST(Sids, WellKnownSidsAndTheirBufferSizes) {
  DWORD size = 0;
  EXPECT_FALSE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, nullptr, &size));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, 16u);
  BYTE buf[SECURITY_MAX_SID_SIZE];
  size = sizeof buf;
  ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, buf, &size));
  EXPECT_EQ(Text(buf), L"S-1-5-32-544");
  struct {
    WELL_KNOWN_SID_TYPE type;
    const wchar_t* text;
  } cases[] = {{WinWorldSid, L"S-1-1-0"},
               {WinLocalSystemSid, L"S-1-5-18"},
               {WinAuthenticatedUserSid, L"S-1-5-11"},
               {WinCreatorOwnerSid, L"S-1-3-0"},
               {WinBuiltinUsersSid, L"S-1-5-32-545"},
               {WinHighLabelSid, L"S-1-16-12288"},
               {WinMediumLabelSid, L"S-1-16-8192"},
               {WinSystemLabelSid, L"S-1-16-16384"}};
  for (auto& c : cases) {
    size = sizeof buf;
    ASSERT_TRUE(CreateWellKnownSid(c.type, nullptr, buf, &size));
    EXPECT_EQ(Text(buf), c.text);
  }
  // Account SIDs need the domain.
  size = sizeof buf;
  EXPECT_FALSE(CreateWellKnownSid(WinAccountDomainAdminsSid, nullptr, buf, &size));
  Sid domain = *Sid::Parse(L"S-1-5-21-10-20-30");
  ASSERT_TRUE(CreateWellKnownSid(WinAccountDomainAdminsSid, domain.Psid(), buf, &size));
  EXPECT_EQ(Text(buf), L"S-1-5-21-10-20-30-512");
}

TEST(Accounts, LocalAccountsOfAWorkgroupComputer) {
  SecurityMachine m(SecurityMachine::With({{"accounts/machine_sid", L"S-1-5-21-11-22-33"},
                                           {"accounts/local_users", L"Anna, Boris"},
                                           {"accounts/local_groups", L"Designers"}}));
  EXPECT_EQ(CurrentUserSid(), L"S-1-5-21-11-22-33-1001");
  EXPECT_EQ(SecondUserSid(), L"S-1-5-21-11-22-33-1002");

  Looked user = BySid(L"S-1-5-21-11-22-33-1001");
  ASSERT_TRUE(user.ok);
  EXPECT_EQ(user.name, L"User");
  EXPECT_EQ(user.domain, L"TOLMERA-PC");
  EXPECT_EQ(user.use, SidTypeUser);
  Looked admins = BySid(L"S-1-5-32-544");
  EXPECT_EQ(admins.domain, L"BUILTIN");
  EXPECT_EQ(admins.name, L"Administrators");
  EXPECT_EQ(admins.use, SidTypeAlias);
  Looked everyone = BySid(L"S-1-1-0");
  EXPECT_EQ(everyone.domain, L"");
  EXPECT_EQ(everyone.use, SidTypeWellKnownGroup);
  EXPECT_EQ(BySid(L"S-1-5-21-11-22-33").use, SidTypeDomain);
  EXPECT_EQ(BySid(L"S-1-16-12288").use, SidTypeLabel);
  EXPECT_EQ(BySid(L"S-1-5-18").name, L"SYSTEM");
  Looked unknown = BySid(L"S-1-5-21-99-99-99-1001");
  EXPECT_FALSE(unknown.ok);
  EXPECT_EQ(unknown.error, ERROR_NONE_MAPPED);

  EXPECT_EQ(SidOfName(L"Anna"), L"S-1-5-21-11-22-33-1003");
  EXPECT_EQ(SidOfName(L"tolmera-pc\\boris"), L"S-1-5-21-11-22-33-1004");
  SID_NAME_USE use;
  EXPECT_EQ(SidOfName(L"Designers", &use), L"S-1-5-21-11-22-33-1005");
  EXPECT_EQ(use, SidTypeAlias);
  EXPECT_EQ(SidOfName(L"BUILTIN\\Users"), L"S-1-5-32-545");
  EXPECT_EQ(SidOfName(L"Domain Admins"), L"");  // no domain here
  EXPECT_EQ(GetLastError(), ERROR_NONE_MAPPED);

  // Buffers too small: every size tells what is needed, terminator included.
  auto sid = Sid::Parse(L"S-1-5-32-544");
  wchar_t name[4], domain[4];
  DWORD n = 4, d = 4;
  EXPECT_FALSE(LookupAccountSidW(nullptr, sid->Psid(), name, &n, domain, &d, &use));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(n, 15u);
  EXPECT_EQ(d, 8u);
  DWORD cb = 0, cch = 0;
  EXPECT_FALSE(LookupAccountNameW(nullptr, L"User", nullptr, &cb, nullptr, &cch, &use));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(cb, 28u);
  EXPECT_EQ(cch, 11u);
  // Another computer cannot be asked.
  n = d = 4;
  EXPECT_FALSE(LookupAccountSidW(L"\\\\OTHER", sid->Psid(), name, &n, domain, &d, &use));
  EXPECT_EQ(GetLastError(), RPC_S_SERVER_UNAVAILABLE);

  wchar_t sam[64];
  DWORD size = 64;
  ASSERT_TRUE(GetUserNameExW(NameSamCompatible, sam, &size));
  EXPECT_EQ(std::wstring(sam), L"TOLMERA-PC\\User");
  EXPECT_EQ(size, 15u);
  size = 3;
  EXPECT_FALSE(GetUserNameExW(NameSamCompatible, sam, &size));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  EXPECT_EQ(size, 16u);
  size = 64;
  EXPECT_FALSE(GetUserNameExW(NameUserPrincipal, sam, &size));
  EXPECT_EQ(GetLastError(), ERROR_NONE_MAPPED);
}

TEST(Accounts, DomainAccountsOfAJoinedComputer) {
  auto c = SecurityMachine::Domain(
      SecurityMachine::With({{"accounts/domain_sid", L"S-1-5-21-700-800-900"},
                             {"accounts/domain_groups", L"Engineers"}}));
  c.memberships = {L"Administrators", L"Users", L"Domain Admins", L"Engineers"};
  SecurityMachine m(c);
  EXPECT_EQ(CurrentUserSid(), L"S-1-5-21-700-800-900-1105");
  wchar_t sam[64];
  DWORD size = 64;
  ASSERT_TRUE(GetUserNameExW(NameSamCompatible, sam, &size));
  EXPECT_EQ(std::wstring(sam), L"CORP\\User");
  SID_NAME_USE use;
  EXPECT_EQ(SidOfName(L"CORP\\Domain Admins", &use), L"S-1-5-21-700-800-900-512");
  EXPECT_EQ(use, SidTypeGroup);
  EXPECT_EQ(SidOfName(L"Engineers"), L"S-1-5-21-700-800-900-1106");
  EXPECT_EQ(BySid(L"S-1-5-21-700-800-900-513").name, L"Domain Users");
  EXPECT_EQ(BySid(L"S-1-5-21-700-800-900").use, SidTypeDomain);

  const auto& groups = AccountTable::Current().UserGroups();
  auto has = [&](const wchar_t* sid) {
    return std::find(groups.begin(), groups.end(), *Sid::Parse(sid)) != groups.end();
  };
  EXPECT_TRUE(has(L"S-1-5-32-544"));
  EXPECT_TRUE(has(L"S-1-5-21-700-800-900-512"));
  EXPECT_TRUE(has(L"S-1-5-21-700-800-900-513"));
  EXPECT_TRUE(has(L"S-1-5-21-700-800-900-1106"));

  // A local account on the same joined computer.
  auto local =
      SecurityMachine::With({{"accounts/user_account", L"local"}}, SecurityMachine::Domain());
  EXPECT_FALSE(UserIsDomainAccount(local));
  EXPECT_EQ(UserSidOf(local), MachineSidOf(local) + L"-1001");
}

TEST(Accounts, MalformedAccountSettingsAreReported) {
  platform::MachineConfig c = SecurityMachine::With({{"accounts/machine_sid", L"S-1-5-32-544"}});
  EXPECT_THROW(MachineSidOf(c), MachineError);
  c = SecurityMachine::With({{"accounts/user_rid", L"12x"}});
  EXPECT_THROW(UserSidOf(c), MachineError);
  c = SecurityMachine::With({{"accounts/user_account", L"domain"}});  // not joined
  EXPECT_THROW(UserIsDomainAccount(c), MachineError);
  c = SecurityMachine::With({{"accounts/local_users", L"Administrator"}});
  EXPECT_THROW(AccountTable::For(c), MachineError);
  c = SecurityMachine::With({{"accounts/local_users", L"User2"}});
  EXPECT_THROW(AccountTable::For(c), MachineError);
}

TEST(Accounts, TheUserSidFollowsEverySettingItIsMadeOf) {
  // Asked for again and again with one configuration changing under it (as a reloaded
  // machine.ini does), the SID is always the one the settings give now.
  platform::MachineConfig c = SecurityMachine::With({});
  const std::wstring first = UserSidOf(c);
  EXPECT_EQ(UserSidOf(c), first);
  EXPECT_EQ(first, MachineSidOf(c) + L"-1001");
  c.raw["accounts/user_rid"] = L"1234";
  EXPECT_EQ(UserSidOf(c), MachineSidOf(c) + L"-1234");
  c.computerName = L"OTHER-PC";
  const std::wstring renamed = UserSidOf(c);
  EXPECT_EQ(renamed, MachineSidOf(c) + L"-1234");
  EXPECT_NE(renamed.substr(0, renamed.rfind(L'-')), first.substr(0, first.rfind(L'-')));
  c.raw["accounts/machine_sid"] = L"S-1-5-21-1-2-3";
  EXPECT_EQ(UserSidOf(c), L"S-1-5-21-1-2-3-1234");
  c.raw.erase("accounts/user_rid");
  EXPECT_EQ(UserSidOf(c), L"S-1-5-21-1-2-3-1001");
  // A bad setting throws every time (nothing of it is kept), and the good one comes back after.
  c.raw["accounts/user_rid"] = L"12x";
  EXPECT_THROW(UserSidOf(c), MachineError);
  EXPECT_THROW(UserSidOf(c), MachineError);
  c.raw.erase("accounts/user_rid");
  EXPECT_EQ(UserSidOf(c), L"S-1-5-21-1-2-3-1001");
  // Joined to a domain: the domain's SID and the domain user's RID.
  platform::MachineConfig d = SecurityMachine::With({}, SecurityMachine::Domain());
  EXPECT_EQ(UserSidOf(d), DomainSidOf(d) + L"-1105");
  d.raw["accounts/domain_sid"] = L"S-1-5-21-7-8-9";
  EXPECT_EQ(UserSidOf(d), L"S-1-5-21-7-8-9-1105");
  d.raw["accounts/user_account"] = L"local";
  EXPECT_EQ(UserSidOf(d), MachineSidOf(d) + L"-1001");
  // The first configuration again, as it was.
  EXPECT_EQ(UserSidOf(SecurityMachine::With({})), first);
}

TEST(Network, JoinAndServerInformation) {
  {
    SecurityMachine m;
    std::wstring name;
    NETSETUP_JOIN_STATUS status;
    ASSERT_EQ(NetGetJoinInformation(nullptr, name, status), NERR_Success);
    EXPECT_EQ(status, NetSetupWorkgroupName);
    EXPECT_EQ(name, L"WORKGROUP");
    SERVER_INFO_101 info;
    ASSERT_EQ(NetServerGetInfo(nullptr, 101, info), NERR_Success);
    EXPECT_EQ(info.sv101_name, L"TOLMERA-PC");
    EXPECT_TRUE(info.sv101_type & SV_TYPE_WORKSTATION);
    EXPECT_FALSE(info.sv101_type & (SV_TYPE_SERVER_NT | SV_TYPE_DOMAIN_CTRL));
    EXPECT_EQ(NetServerGetInfo(nullptr, 100, info), ERROR_INVALID_LEVEL);
    EXPECT_EQ(NetGetJoinInformation(L"\\\\ELSEWHERE", name, status), RPC_S_SERVER_UNAVAILABLE);
  }
  {
    auto c = SecurityMachine::Domain();
    c.server = true;
    SecurityMachine m(c);
    std::wstring name;
    NETSETUP_JOIN_STATUS status;
    ASSERT_EQ(NetGetJoinInformation(nullptr, name, status), NERR_Success);
    EXPECT_EQ(status, NetSetupDomainName);
    EXPECT_EQ(name, L"CORP");
    SERVER_INFO_101 info;
    ASSERT_EQ(NetServerGetInfo(L"TOLMERA-PC", 101, info), NERR_Success);
    EXPECT_TRUE(info.sv101_type & SV_TYPE_SERVER_NT);
  }
  {
    auto c = MachineConfig::Defaults();
    c.join = JoinStatus::Unjoined;
    c.os.productType = 2;
    SecurityMachine m(c);
    std::wstring name = L"x";
    NETSETUP_JOIN_STATUS status;
    ASSERT_EQ(NetGetJoinInformation(nullptr, name, status), NERR_Success);
    EXPECT_EQ(status, NetSetupUnjoined);
    EXPECT_EQ(name, L"");
    SERVER_INFO_101 info;
    ASSERT_EQ(NetServerGetInfo(nullptr, 101, info), NERR_Success);
    EXPECT_TRUE(info.sv101_type & SV_TYPE_DOMAIN_CTRL);
  }
  {
    SecurityMachine m(SecurityMachine::With({{"accounts/server_type", L"fail"}}));
    SERVER_INFO_101 info;
    EXPECT_NE(NetServerGetInfo(nullptr, 101, info), NERR_Success);
  }
}

TEST(Accounts, TheCurrentSidAndTokenFollowAReloadAndAnotherMachine) {
  // Both are kept while the machine's configuration stays as it is; a reload of machine.ini,
  // and another machine, make them again.
  SecurityMachine machine;
  Machine& m = Machine::Current();
  const std::wstring before = CurrentUserSid();
  EXPECT_EQ(before, UserSidOf(m.Config()));
  EXPECT_EQ(CurrentToken(), CurrentToken()) << "kept while nothing changed";
  EXPECT_TRUE(CurrentToken()->elevated);
  const std::uint64_t revision = m.Revision();

  std::string ini = m.Config().ToIni();
  ini.replace(ini.find("elevated = yes"), 14, "elevated = no");
  SecurityMachine::WriteHostFile(m.IniPath(), ini + "\n[accounts]\nuser_rid = 1234\n");
  m.Reload();
  EXPECT_NE(m.Revision(), revision);
  EXPECT_EQ(CurrentUserSid(), MachineSidOf(m.Config()) + L"-1234");
  EXPECT_FALSE(CurrentToken()->elevated);
  EXPECT_EQ(CurrentToken()->user.ToString(), CurrentUserSid());

  {
    SecurityMachine other(SecurityMachine::With({{"accounts/user_rid", L"1500"}}));
    EXPECT_EQ(CurrentUserSid(), MachineSidOf(Machine::Current().Config()) + L"-1500");
    EXPECT_EQ(CurrentToken()->user.ToString(), CurrentUserSid());
  }
}
