#include "rights/CheckRights.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "package/LogSink.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "testing/MachineFixture.h"

using InstallManager::AdminRights;
using InstallManager::CCheckRights;
using namespace platform;

namespace {

// A machine of its own configuration, made current for the test, with the log caught.
class ConfiguredMachine {
 public:
  explicit ConfiguredMachine(const MachineConfig& config = MachineConfig::Defaults())
      : m_machine(config) {
    CommonTools::SetLogSink([this](CommonTools::LogLevel level, const std::wstring& text) {
      lines.push_back(text);
      levels.push_back(level);
    });
  }
  bool Has(const std::wstring& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // The caught lines from `first` up to and including `last`.
  std::vector<std::wstring> Between(const std::wstring& first, const std::wstring& last) const {
    auto a = std::find(lines.begin(), lines.end(), first);
    auto b = std::find(a, lines.end(), last);
    return b == lines.end() ? std::vector<std::wstring>{} : std::vector<std::wstring>(a, b + 1);
  }
  std::string C(const std::string& rel) const { return m_machine.C(rel); }

  std::vector<std::wstring> lines;
  std::vector<CommonTools::LogLevel> levels;

 private:
  tltest::ScopedMachine m_machine;
};

MachineConfig Joined(MachineConfig c = MachineConfig::Defaults()) {
  c.join = JoinStatus::Domain;
  c.domain = L"CORP";
  return c;
}

const std::wstring kHas = L"CCheckRights::HasUserAdminRightsDoSetup ";

}  // namespace

TEST(CheckRights, ElevatedAdministratorInAWorkgroup) {
  ConfiguredMachine m;
  EXPECT_TRUE(CCheckRights::HasUserAdminRightsDoSetup());
  EXPECT_EQ(m.lines,
            (std::vector<std::wstring>{
                kHas + L"Start", kHas + L"User is in group Administrators",
                kHas + L"User runs as Administrator",
                kHas + L"Integrity level is only available on Windows Vista and newer operating "
                       L"systems",
                kHas + L"Process Integrity Level is high or system", kHas + L"Finish OK"}));
  m.lines.clear();
  AdminRights r;
  CCheckRights::VerifyAdminRights(r);
  EXPECT_TRUE(r.registryWritable);
  EXPECT_TRUE(r.programFilesWritable);
  EXPECT_FALSE(r.isDomainAdmin);
  EXPECT_EQ(r.joinStatus, 2);
  EXPECT_FALSE(r.isServer);
  EXPECT_TRUE(CCheckRights::VerifySetShareForFolder());

  EXPECT_EQ(m.lines.front(), L"CCheckRights::VerifyAdminRights() Start");
  EXPECT_TRUE(m.Has(L"   CCheckRights::VerifyAdminRights()      Computer TOLMERA-PC"));
  EXPECT_TRUE(m.Has(L"   CCheckRights::VerifyAdminRights()      User User"));
  EXPECT_TRUE(m.Has(L"TOLMERA-PC\\User"));
  EXPECT_TRUE(m.Has(L"The computer is joined to a WORKGROUP WORKGROUP."));
  EXPECT_TRUE(m.Has(L"The computer is not a server."));
  EXPECT_TRUE(m.Has(L"Local Admin SID = S-1-5-32-544"));
  EXPECT_TRUE(m.Has(L"UAC is enabled"));
  EXPECT_TRUE(m.Has(L"User has extended privilegies"));
  EXPECT_TRUE(m.Has(L"The token is linked to an elevated token"));
  EXPECT_TRUE(m.Has(L"GetAdministratorSID: FINISH 1"));
  // A workgroup computer: no domain look-up at all.
  EXPECT_EQ(m.Between(L"IsUserDomainAdmin: START", L"IsUserDomainAdmin: Finish").size(), 2u);
  EXPECT_TRUE(m.Has(L"User IS NOT DOMAIN Administrator account"));
  // The group listing: the well-known groups without a domain are left out.
  EXPECT_TRUE(
      m.Has(L"      BUILTIN\\Administrators                   (S-1-5-32-544), owner, "
            L"default, mandatory, Alias"));
  EXPECT_TRUE(
      m.Has(L"      TOLMERA-PC\\User                          (" + CurrentUserSid() + L"), User"));
  EXPECT_FALSE(
      m.Has(L"      \\Everyone                                (S-1-1-0), default, "
            L"mandatory, WellKnownGroup"));
  EXPECT_NE(std::find(r.groupSids.begin(), r.groupSids.end(), L"S-1-5-32-544"), r.groupSids.end());
  EXPECT_TRUE(m.Has(L"         + Bypass traverse checking (SeChangeNotifyPrivilege)"));
  EXPECT_TRUE(m.Has(L"         - Shut down the system (SeShutdownPrivilege)"));

  // Registry: an elevated administrator has full access to HKEY_LOCAL_MACHINE.
  auto registry = m.Between(L"Verify access (KEY_ALL_ACCESS) to HKEY_LOCAL_MACHINE",
                            L"         KEY_ALL_ACCESS is GRANT_ACCESS");
  ASSERT_GE(registry.size(), 4u);
  EXPECT_EQ(registry[1], L"                                DESIRED ACCESS: F003F");
  EXPECT_EQ(registry[2], L"     BUILTIN\\Users (S-1-5-32-545)");
  EXPECT_EQ(registry[3], L"                          ACCESS MASK:    20019");
  EXPECT_TRUE(
      m.Has(L"         test create key Software\\Install_test_4_Full_Access_For_Registry OK"));
  EXPECT_TRUE(
      m.Has(L"         test delete key Software\\Install_test_4_Full_Access_For_Registry OK"));
  // Program Files gives an administrator modify rights, not full control, and the file test
  // passes: both lines, and the answer true.
  EXPECT_TRUE(m.Has(L"Verify access (FILE_ALL_ACCESS) to C:\\Program Files (x86)"));
  EXPECT_TRUE(m.Has(L"         FILE_ALL_ACCESS is not GRANT_ACCESS"));
  EXPECT_TRUE(
      m.Has(L"Verify access (FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE) "
            L"to C:\\Program Files (x86)"));
  EXPECT_TRUE(
      m.Has(L"         FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE is "
            L"GRANT_ACCESS"));
  EXPECT_TRUE(
      m.Has(L"     NT SERVICE\\TrustedInstaller "
            L"(S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)"));
  EXPECT_TRUE(
      m.Has(L"         test create file VerifyAdminRights_test.000 in directory "
            L"C:\\Program Files (x86) OK"));
  EXPECT_EQ(m.lines.back(), L"CCheckRights::VerifyAdminRights() FINISH");
  // The test file and the test key are gone.
  EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files (x86)\\VerifyAdminRights_test.000"));
  RegKey k;
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"Software\\Install_test_4_Full_Access_For_Registry"),
            ERROR_FILE_NOT_FOUND);
}

TEST(CheckRights, UsersWithoutElevationOrMembership) {
  {
    MachineConfig c = MachineConfig::Defaults();
    c.elevated = false;
    ConfiguredMachine m(c);
    // Under UAC without elevation: a member by the linked token, but not running as one.
    EXPECT_FALSE(CCheckRights::HasUserAdminRightsDoSetup());
    EXPECT_TRUE(m.Has(kHas + L"User is in group Administrators"));
    EXPECT_EQ(m.lines.back(), kHas + L"User does not run as Administrator");
    m.lines.clear();
    AdminRights r;
    CCheckRights::VerifyAdminRights(r);
    // The registry answer is true whatever the checks found; the folder test decides.
    EXPECT_TRUE(r.registryWritable);
    EXPECT_FALSE(r.programFilesWritable);
    EXPECT_FALSE(CCheckRights::VerifySetShareForFolder());
    // Not elevated: GetAdministratorSID is false, the domain is not asked.
    EXPECT_TRUE(m.Has(L"User is not a member of the Administrator group"));
    EXPECT_TRUE(m.Has(L"GetAdministratorSID: FINISH 0"));
    EXPECT_FALSE(m.Has(L"IsUserDomainAdmin: START"));
    EXPECT_TRUE(m.Has(L"         KEY_ALL_ACCESS is not GRANT_ACCESS"));
    EXPECT_TRUE(m.Has(L"         KEY_READ | KEY_WRITE | KEY_EXECUTE is not GRANT_ACCESS"));
    EXPECT_TRUE(
        m.Has(L"         test create key Software\\Install_test_4_Full_Access_For_Registry FALSE"));
    EXPECT_TRUE(
        m.Has(L"      BUILTIN\\Administrators                   (S-1-5-32-544), deny, "
              L"Alias"));
  }
  {
    MachineConfig c = MachineConfig::Defaults();
    c.memberships = {L"Users"};
    ConfiguredMachine m(c);
    EXPECT_FALSE(CCheckRights::HasUserAdminRightsDoSetup());
    EXPECT_EQ(m.lines.back(), kHas + L"User is not in group Administrators");
  }
  {
    MachineConfig c = MachineConfig::Defaults();
    c.integrity = L"medium";  // a full administrator token at medium integrity
    ConfiguredMachine m(c);
    EXPECT_FALSE(CCheckRights::HasUserAdminRightsDoSetup());
    EXPECT_EQ(m.lines.back(), kHas + L"Process Integrity Level is not high or system");
  }
}

TEST(CheckRights, WindowsXpHasNoElevationOrIntegrityTests) {
  MachineConfig c = MachineConfig::Defaults();
  c.os.major = 5;
  c.os.minor = 1;
  c.os.build = 2600;
  c.os.is64Bit = false;
  c.elevated = false;
  ConfiguredMachine m(c);
  EXPECT_TRUE(CCheckRights::HasUserAdminRightsDoSetup());
  EXPECT_FALSE(m.Has(kHas + L"Process Integrity Level is high or system"));
  EXPECT_EQ(m.lines.back(), kHas + L"Finish OK");
  m.lines.clear();
  AdminRights r;
  CCheckRights::VerifyAdminRights(r);
  EXPECT_TRUE(r.programFilesWritable);
  EXPECT_FALSE(m.Has(L"UAC is enabled"));
  EXPECT_FALSE(m.Has(L"UAC is disabled"));
  EXPECT_TRUE(m.Has(L"GetAdministratorSID: FINISH 1"));
}

TEST(CheckRights, DomainAdministrator) {
  MachineConfig c = Joined();
  c.memberships = {L"Administrators", L"domain admins"};
  ConfiguredMachine m(c);
  AdminRights r;
  CCheckRights::VerifyAdminRights(r);
  EXPECT_TRUE(r.isDomainAdmin);
  EXPECT_EQ(r.joinStatus, 3);
  EXPECT_TRUE(m.Has(L"The computer is joined to a DOMAIN CORP."));
  EXPECT_TRUE(m.Has(L"IsUserDomainAdmin: user is in domain"));
  EXPECT_TRUE(m.Has(L"FullUserName = CORP\\User (size = 9)"));
  EXPECT_TRUE(m.Has(L"    CORP\\User"));
  EXPECT_TRUE(m.Has(L"    after LookupAccountName cbUserSID = 28 csDomainName = 5"));
  EXPECT_TRUE(m.Has(L"    after LookupAccountName pDomainName = CORP"));
  EXPECT_TRUE(m.Has(L"     SidSubAuthorityCount = 5"));
  EXPECT_TRUE(m.Has(L"     CheckTokenMembership return TRUE"));
  EXPECT_TRUE(m.Has(L"User IS DOMAIN Administrator account"));
  EXPECT_TRUE(m.Has(L"CCheckRights::VerifyAdminRights() m_bDomainAdmin && m_pSidGroupDomainAdmin"));
  EXPECT_TRUE(m.Has(L"Domain Administrator Group SID = " + DomainSidOf(CurrentConfig()) + L"-512"));
  EXPECT_TRUE(m.Has(L"CCheckRights::VerifyAdminRights() before LocalFree(m_pSidGroupDomainAdmin)"));
}

TEST(CheckRights, DomainUserWhoIsALocalAdministratorOnly) {
  ConfiguredMachine m(Joined());
  AdminRights r;
  CCheckRights::VerifyAdminRights(r);
  EXPECT_FALSE(r.isDomainAdmin);
  EXPECT_TRUE(m.Has(L"     AllocateAndInitializeSid return OK"));
  EXPECT_TRUE(m.Has(L"     CheckTokenMembership return FALSE"));
  EXPECT_TRUE(m.Has(L"     after FreeSid"));
  EXPECT_TRUE(m.Has(L"User IS NOT DOMAIN Administrator account"));
  EXPECT_FALSE(
      m.Has(L"CCheckRights::VerifyAdminRights() before LocalFree(m_pSidGroupDomainAdmin)"));
  // A local account of a joined computer: its "Domain Admins" would be the computer's, which
  // nobody is in.
  MachineConfig local = Joined();
  local.raw["accounts/user_account"] = L"local";
  ConfiguredMachine l(local);
  CCheckRights::VerifyAdminRights(r);
  EXPECT_FALSE(r.isDomainAdmin);
  EXPECT_TRUE(l.Has(L"FullUserName = TOLMERA-PC\\User (size = 15)"));
}

TEST(CheckRights, ServersAndAFailingServerQuery) {
  {
    MachineConfig c = Joined();
    c.server = true;
    c.os.productType = 3;
    ConfiguredMachine m(c);
    AdminRights r;
    CCheckRights::VerifyAdminRights(r);
    EXPECT_TRUE(r.isServer);
    EXPECT_TRUE(m.Has(L"The computer is a SERVER."));
  }
  {
    MachineConfig c = MachineConfig::Defaults();
    c.server = true;
    c.raw["accounts/server_type"] = L"fail";
    ConfiguredMachine m(c);
    AdminRights r;
    CCheckRights::VerifyAdminRights(r);
    EXPECT_FALSE(r.isServer);
    EXPECT_TRUE(m.Has(L"The computer is not a server."));
  }
  {
    MachineConfig c = MachineConfig::Defaults();
    c.join = JoinStatus::Unjoined;
    ConfiguredMachine m(c);
    AdminRights r;
    CCheckRights::VerifyAdminRights(r);
    EXPECT_EQ(r.joinStatus, 1);
    EXPECT_TRUE(m.Has(L"The computer is not joined in general."));
  }
}

TEST(CheckRights, RegistryAnswerIsTrueEvenWhenTheKeyTestFails) {
  // The report shows full access at the root, but the 32-bit SOFTWARE refuses new keys.
  MachineConfig c = MachineConfig::Defaults();
  c.raw["security/hklm\\software\\wow6432node"] = L"D:P(D;;KA;;;WD)";
  ConfiguredMachine m(c);
  CCheckRights check;
  EXPECT_TRUE(check.isFullAccessForRegistry(HKEY_LOCAL_MACHINE));
  EXPECT_TRUE(m.Has(L"         KEY_ALL_ACCESS is GRANT_ACCESS"));
  EXPECT_TRUE(
      m.Has(L"         test create key Software\\Install_test_4_Full_Access_For_Registry FALSE"));
}

TEST(CheckRights, FolderChecksOnFatTrailingBackslashAndUnknownAccounts) {
  {
    MachineConfig c = MachineConfig::Defaults();
    for (DriveConfig& d : c.drives)
      if (d.letter == L'C') {
        d.fileSystem = L"FAT32";
        d.flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
      }
    ConfiguredMachine m(c);
    CCheckRights check;
    EXPECT_FALSE(check.isFullAccessForDirectory(L"C:\\Program Files"));
    EXPECT_EQ(m.lines,
              (std::vector<std::wstring>{L"Verify access (FILE_ALL_ACCESS) to C:\\Program Files",
                                         L"     Rights is not supported"}));
  }
  {
    ConfiguredMachine m;
    ASSERT_EQ(CreateDirectoryW(L"C:\\Data"), ERROR_SUCCESS);
    // An entry for an account nobody knows, and one of a type the report does not list.
    SecurityDescriptor sd = *SecurityDescriptor::FromSddl(
        L"D:P(A;OICI;FA;;;BA)(A;;FR;;;S-1-5-21-5-6-7-1234)(XA;;FA;;;BU)");
    PSECURITY_DESCRIPTOR bin = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sd.ToSddl(), SDDL_REVISION_1,
                                                                     &bin, nullptr));
    bool present, defaulted;
    ACL* dacl = nullptr;
    GetSecurityDescriptorDacl(bin, &present, &dacl, &defaulted);
    ASSERT_EQ(SetNamedSecurityInfoW(L"C:\\Data", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, dacl, nullptr),
              ERROR_SUCCESS);
    LocalFree(bin);
    CCheckRights check;
    EXPECT_TRUE(check.isFullAccessForDirectory(L"C:\\Data\\"));
    EXPECT_TRUE(m.Has(L"         FILE_ALL_ACCESS is GRANT_ACCESS"));
    EXPECT_TRUE(m.Has(L"     unknown type"));
    auto it = std::find(m.lines.begin(), m.lines.end(),
                        L"     An unexpected error occurred during the call to LookupAccountSid. A "
                        L"name could not be found for the SID.");
    ASSERT_NE(it, m.lines.end());
    EXPECT_EQ(m.levels[static_cast<std::size_t>(it - m.lines.begin())],
              CommonTools::LogLevel::Warning);
    EXPECT_TRUE(m.Has(L"      (S-1-5-21-5-6-7-1234)"));
    // No second backslash before the test file's name, and the file is gone.
    EXPECT_TRUE(
        m.Has(L"         test create file VerifyAdminRights_test.000 in directory "
              L"C:\\Data\\ OK"));
    EXPECT_FALSE(PathFileExistsW(L"C:\\Data\\VerifyAdminRights_test.000"));
  }
}

TEST(CheckRights, ProgramFilesThatDeniesTheUser) {
  MachineConfig c = MachineConfig::Defaults();
  c.raw["security/c:\\program files (x86)"] = L"D:P(D;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  ConfiguredMachine m(c);
  AdminRights r;
  CCheckRights::VerifyAdminRights(r);
  EXPECT_FALSE(r.programFilesWritable);
  EXPECT_TRUE(r.registryWritable);
  EXPECT_TRUE(m.Has(L"         FILE_ALL_ACCESS is not GRANT_ACCESS"));
  EXPECT_TRUE(
      m.Has(L"         FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE is "
            L"not GRANT_ACCESS"));
  EXPECT_TRUE(
      m.Has(L"         test create file VerifyAdminRights_test.000 in directory "
            L"C:\\Program Files (x86) FALSE"));
  EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files (x86)\\VerifyAdminRights_test.000"));
}
