// The uninstaller registration: the kept copy, the package with the script marked for removal,
// the entry in the list of programs, and its removal with one or several products of the family.
#include "platform/Registry.h"
#include "platform/Restart.h"
#include "steps/UninstallerStep.h"
#include "steps/tests/StepsFixture.h"

using namespace InstallManager;
using namespace platform;
using tltest::StepsTest;

namespace {

const std::wstring kUninstaller = L"C:\\Windows\\Installer\\tluninstall.exe";
const std::wstring kEntries = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::wstring Value(const std::wstring& regKey, const std::wstring& name) {
  RegKey k;
  std::wstring v;
  if (k.Open(HKEY_LOCAL_MACHINE, kEntries + L"\\" + regKey) != ERROR_SUCCESS) return L"<no key>";
  if (k.QueryString(name, v) != ERROR_SUCCESS) return L"<no value>";
  return v;
}

DWORD Number(const std::wstring& regKey, const std::wstring& name) {
  RegKey k;
  DWORD v = 0xFFFFFFFF;
  if (k.Open(HKEY_LOCAL_MACHINE, kEntries + L"\\" + regKey) == ERROR_SUCCESS) k.QueryDword(name, v);
  return v;
}

bool Scheduled(const std::wstring& path) {
  for (const auto& op : PendingFileOperations())
    if (EqualsNoCase(op.source, path) && op.destination.empty()) return true;
  return false;
}

}  // namespace

class UninstallerStep : public StepsTest {
 protected:
  void SetUp() override {
    StepsTest::SetUp();
    Package({{"InstallScript.cfg", "<x/>"}});
    Script(
        L"<UNINSTALLER Company=\"Acme Engineering\" Title=\"Acme Probe 7\" "
        L"URL=\"https://acme.example/probe\" IconPath=\"bin/Probe.exe\"/>");
    Write(L"C:\\Pkg\\Setup.exe", "the installer program");
    manager.GetHooks().programPath = L"C:\\Pkg\\Setup.exe";
    Product(L"PROBE", L"AcmeProbe");
    manager.SetAction(0, 4);
  }
  void Product(const std::wstring& pv, const std::wstring& regKey) {
    manager.Product().name = L"Acme Probe";
    manager.Product().pv = pv;
    manager.Product().regKey = regKey;
    manager.Product().version = 7;
    manager.Product().versionText = L"7";
  }
  const std::wstring base = L"C:\\Program Files (x86)\\Acme\\Probe";
};

TEST_F(UninstallerStep, AnInstallationRegistersTheCopyThePackageAndTheEntry) {
  manager.RegisterUninstaller(base);
  std::string copy;
  ASSERT_EQ(ReadWholeFile(kUninstaller, copy), ERROR_SUCCESS);
  EXPECT_EQ(copy, "the installer program");
  // The package holds the script of the run, marked for removal.
  const std::wstring package = L"C:\\Windows\\Installer\\SetupPROBE.data";
  DataStorage::CDataStorage stored;
  ASSERT_TRUE(stored.Open(package, nullptr));
  std::wstring extracted;
  ASSERT_TRUE(stored.ExtractFile(L"C:\\Check", L"InstallScript.cfg", extracted));
  CommonTools::CXmlSettings script;
  ASSERT_TRUE(script.Load(extracted));
  CommonTools::SettingsNodePtr root;
  ASSERT_TRUE(script.GetRoot(root));
  EXPECT_EQ(CommonTools::GetText(root, L"InstallType"), L"Uninstall");
  stored.Close();
  // The entry, as the list of programs reads it.
  EXPECT_EQ(Value(L"AcmeProbe", L"DisplayName"), L"Acme Probe 7");
  EXPECT_EQ(Value(L"AcmeProbe", L"DisplayVersion"), L"7");
  EXPECT_EQ(Value(L"AcmeProbe", L"Publisher"), L"Acme Engineering");
  EXPECT_EQ(Value(L"AcmeProbe", L"URLInfoAbout"), L"https://acme.example/probe");
  EXPECT_EQ(Value(L"AcmeProbe", L"InstallLocation"), base);
  EXPECT_EQ(Value(L"AcmeProbe", L"DisplayIcon"), base + L"\\bin\\Probe.exe");
  EXPECT_EQ(Value(L"AcmeProbe", L"UninstallString"), kUninstaller + L" /X" + package);
  EXPECT_EQ(Number(L"AcmeProbe", L"VersionMinor"), 7u);
  EXPECT_EQ(Number(L"AcmeProbe", L"VersionMajor"), 0u);
  EXPECT_EQ(Number(L"AcmeProbe", L"NoModify"), 1u);
  EXPECT_EQ(Number(L"AcmeProbe", L"NoRepair"), 1u);
  EXPECT_TRUE(Logged("INFO : GetUninstallerPath: Finish C:\\Windows\\Installer\\tluninstall.exe"));
  EXPECT_TRUE(
      Logged("INFO : AddUninstallerInfo: create key " + ToUtf8(kEntries) + "\\AcmeProbe OK"));
  // An existing copy is left as it is.
  Write(L"C:\\Pkg\\Setup.exe", "a newer installer");
  manager.RegisterUninstaller(base);
  ASSERT_EQ(ReadWholeFile(kUninstaller, copy), ERROR_SUCCESS);
  EXPECT_EQ(copy, "the installer program");
}

TEST_F(UninstallerStep, TheCommandQuotesAWindowsFolderWithSpacesButNotThePackage) {
  manager.GetHooks().windowsFolder = L"C:\\My Windows";
  manager.RegisterUninstaller(base);
  EXPECT_EQ(Value(L"AcmeProbe", L"UninstallString"),
            L"\"C:\\My Windows\\Installer\\tluninstall.exe\" /XC:\\My "
            L"Windows\\Installer\\SetupPROBE.data");
  EXPECT_TRUE(Exists(L"C:\\My Windows\\Installer\\SetupPROBE.data"));
}

TEST_F(UninstallerStep, AnEmptyProductKeyAndARepairAndAnEmptyRegKey) {
  Product(L"", L"AcmeProbe");
  manager.RegisterUninstaller(base);
  EXPECT_TRUE(Exists(L"C:\\Windows\\Installer\\Setup.data"));
  // A repair leaves the entry and the package of the installation alone.
  Product(L"PROBE", L"AcmeProbe");
  RegKey entry;
  ASSERT_EQ(entry.Open(HKEY_LOCAL_MACHINE, kEntries + L"\\AcmeProbe", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  ASSERT_EQ(entry.SetString(L"DisplayName", L"as installed"), ERROR_SUCCESS);
  manager.SetAction(7, 4);
  manager.RegisterUninstaller(base);
  EXPECT_EQ(Value(L"AcmeProbe", L"DisplayName"), L"as installed");
  EXPECT_FALSE(Exists(L"C:\\Windows\\Installer\\SetupPROBE.data"));
  // Without a RegKey nothing is written into, or deleted from, the Uninstall key itself.
  manager.SetAction(0, 4);
  Product(L"PROBE", L"");
  manager.RegisterUninstaller(base);
  manager.UnregisterUninstaller();
  RegKey entries;
  ASSERT_EQ(entries.Open(HKEY_LOCAL_MACHINE, kEntries), ERROR_SUCCESS);
  EXPECT_EQ(entries.ValueList().size(), 0u);
  EXPECT_EQ(Value(L"AcmeProbe", L"DisplayName"), L"as installed");
  EXPECT_TRUE(Logged("WARNING : AddUninstallerInfo: Can't register uninstaller!"));
}

TEST_F(UninstallerStep, RemovingOneOfSeveralProductsKeepsTheProgramWhateverTheirKeys) {
  Product(L"LONGERKEY", L"AcmeLonger");  // not two characters: the family's search must see it
  manager.RegisterUninstaller(base);
  Product(L"PROBE", L"AcmeProbe");
  manager.RegisterUninstaller(base);
  manager.UnregisterUninstaller();
  EXPECT_FALSE(Exists(L"C:\\Windows\\Installer\\SetupPROBE.data")) << "moved aside";
  EXPECT_EQ(Value(L"AcmeProbe", L"DisplayName"), L"<no key>");
  EXPECT_EQ(Value(L"AcmeLonger", L"DisplayName"), L"Acme Probe 7");
  EXPECT_TRUE(Exists(kUninstaller));
  EXPECT_TRUE(Exists(L"C:\\Windows\\Installer\\SetupLONGERKEY.data"));
  auto pending = PendingFileOperations();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].source.rfind(L"C:\\Windows\\Installer\\{", 0), 0u);
  EXPECT_TRUE(Exists(pending[0].source)) << "the package under its new name, until the start";
  RestartMachine();
  EXPECT_FALSE(Exists(pending[0].source));
  EXPECT_TRUE(Exists(kUninstaller));
  EXPECT_TRUE(Exists(L"C:\\Windows\\Installer\\SetupLONGERKEY.data"));
}

TEST_F(UninstallerStep, TheLastProductTakesTheProgramAwayAtTheNextStart) {
  manager.RegisterUninstaller(base);
  manager.UnregisterUninstaller();
  EXPECT_FALSE(Exists(kUninstaller));
  auto pending = PendingFileOperations();
  ASSERT_EQ(pending.size(), 2u);
  // The program went to a GUID name in its folder, which goes at the next start.
  const std::wstring spare = pending[1].source;
  EXPECT_EQ(spare.rfind(L"C:\\Windows\\Installer\\{", 0), 0u);
  EXPECT_EQ(spare.size(), std::wstring(L"C:\\Windows\\Installer\\").size() + 38);
  EXPECT_TRUE(Exists(spare));
  EXPECT_TRUE(Scheduled(spare));
  EXPECT_TRUE(Logged("INFO : UnregisterUninstaller: file " + ToUtf8(spare) +
                     " file must deleted when the system restarts"));
  RestartMachine();
  std::vector<FindData> left;
  ASSERT_EQ(FindAll(L"C:\\Windows\\Installer\\*", left), ERROR_SUCCESS);
  EXPECT_TRUE(left.empty());
  EXPECT_EQ(Value(L"AcmeProbe", L"DisplayName"), L"<no key>");
}

TEST_F(UninstallerStep, AReinstallationBeforeTheRestartKeepsItsPackageAndProgram) {
  manager.RegisterUninstaller(base);
  {
    // The removal runs from the package, which its run holds open.
    auto running = std::make_shared<DataStorage::CDataStorage>();
    ASSERT_TRUE(running->Open(L"C:\\Windows\\Installer\\SetupPROBE.data", nullptr));
    manager.UseStorage(running);
    manager.UnregisterUninstaller();
    EXPECT_EQ(running->GetState(), 0) << "closed before the move";
    EXPECT_FALSE(Exists(L"C:\\Windows\\Installer\\SetupPROBE.data"));
    EXPECT_FALSE(Scheduled(L"C:\\Windows\\Installer\\SetupPROBE.data"));
    manager.UseStorage(storage);
  }
  manager.RegisterUninstaller(base);
  RestartMachine();
  EXPECT_TRUE(Exists(kUninstaller));
  EXPECT_TRUE(Exists(L"C:\\Windows\\Installer\\SetupPROBE.data"));
  EXPECT_EQ(Value(L"AcmeProbe", L"DisplayName"), L"Acme Probe 7");
}

TEST_F(UninstallerStep, TheEntryGoesBeforeTheFilesItStartsAndTheyWaitForTheStartMeanwhile) {
  manager.RegisterUninstaller(base);
  const std::wstring package = L"C:\\Windows\\Installer\\SetupPROBE.data";
  // The entry starts this very package: a removal run from it was started by the list.
  EXPECT_TRUE(InstallSteps::UninstallerStep::EntryStartsPackage(L"AcmeProbe", package));
  EXPECT_TRUE(InstallSteps::UninstallerStep::EntryStartsPackage(
      L"AcmeProbe", L"c:\\windows\\INSTALLER\\setupprobe.data"));
  EXPECT_FALSE(
      InstallSteps::UninstallerStep::EntryStartsPackage(L"AcmeProbe", L"C:\\Pkg\\Setup.data"));
  EXPECT_FALSE(InstallSteps::UninstallerStep::EntryStartsPackage(L"AcmeOther", package));
  EXPECT_FALSE(InstallSteps::UninstallerStep::EntryStartsPackage(L"", package));

  // A removal stopped just after the entry went leaves both names to the next start.
  manager.UnregisterUninstaller();
  EXPECT_FALSE(InstallSteps::UninstallerStep::EntryStartsPackage(L"AcmeProbe", package));
  EXPECT_FALSE(Scheduled(kUninstaller)) << "moved: its name waits for nothing";
  EXPECT_FALSE(Scheduled(package));
  // What such a stopped removal leaves: the files under their names, waiting for the start.
  Write(kUninstaller, "the installer program");
  Write(package, "the package");
  ASSERT_EQ(ScheduleFileOperation(kUninstaller, L""), ERROR_SUCCESS);
  ASSERT_EQ(ScheduleFileOperation(package, L""), ERROR_SUCCESS);
  // An installation before the start keeps them for its own entry.
  manager.RegisterUninstaller(base);
  EXPECT_FALSE(Scheduled(kUninstaller));
  EXPECT_FALSE(Scheduled(package));
  RestartMachine();
  EXPECT_TRUE(Exists(kUninstaller));
  EXPECT_TRUE(Exists(package));
  EXPECT_TRUE(InstallSteps::UninstallerStep::EntryStartsPackage(L"AcmeProbe", package));
}
