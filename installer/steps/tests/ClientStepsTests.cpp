// The client installation through msiexec of the machine, with the sample product's real client
// package: the page, the msiexec lines, the registry checks, the record and the server's
// counter.
#include "steps/tests/StepsFixture.h"

#include "package/XmlSettings.h"
#include "platform/Registry.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace InstallManager;
using tltest::StepsTest;

namespace {

constexpr const wchar_t* kCode = L"{8A1C7E52-3F0B-4C55-9E61-7D2B4A9C1E07}";
constexpr const wchar_t* kUninstallEntry =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    L"{8A1C7E52-3F0B-4C55-9E61-7D2B4A9C1E07}";
constexpr const wchar_t* kRecord = L"C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg";
constexpr const wchar_t* kCounter = L"C:\\Srv\\TolmeraDesign\\TolmeraInstall.cfg";

std::string ClientPackageBytes() {
  const char* build = std::getenv("TOLMERA_BUILD_DIR");
  std::ifstream in(
      std::string(build ? build : ".") + "/examples/sample-product/client/TolmeraDesignClient.msi",
      std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::wstring ScriptBody(const std::wstring& exec, bool uninstaller = true) {
  std::wstring body = L"<CLIENT Share=\"TolmeraDesign\"><Exec Path=\"" + exec + L"\"/>";
  if (uninstaller)
    body += std::wstring(L"<UNINSTALLER><REGISTRY><HKLM KeyName=\"") + kUninstallEntry +
            L"\"/></REGISTRY></UNINSTALLER>";
  return body + L"</CLIENT>";
}

bool KeyExists(const std::wstring& key) {
  platform::RegKey k;
  return k.Open(platform::HKEY_LOCAL_MACHINE, key) == platform::ERROR_SUCCESS;
}

std::wstring Value(const std::wstring& key, const std::wstring& name) {
  platform::RegKey k;
  std::wstring value;
  if (k.Open(platform::HKEY_LOCAL_MACHINE, key) != platform::ERROR_SUCCESS) return L"<no key>";
  if (k.QueryString(name, value) != platform::ERROR_SUCCESS) return L"<no value>";
  return value;
}

class ClientSteps : public StepsTest {
 protected:
  std::string Answers() override { return answers; }
  void SetUp() override {
    StepsTest::SetUp();
    const std::string msi = ClientPackageBytes();
    ASSERT_FALSE(msi.empty()) << "the sample client package is built with the tests";
    Package({{"client/TolmeraDesignClient.msi", msi},
             {"client/setup.exe", "#!/bin/sh\necho ran > '" + temp_ + "/setup-ran'\n"}});
    manager.Product().pv = L"TDESIGN";
    manager.Product().version = 7;
    manager.Product().name = L"TOLMERA";
    manager.Common().productsFile = kRecord;
    manager.SetAction(kInstall, kInstallNone);
  }
  // Loads the script and makes the client value the one the package writes (or none).
  CommonTools::SettingsNodePtr Load(const std::wstring& body, bool checked) {
    auto root = Script(body);
    manager.UseUserSettings();
    manager.Common().projectPathKey = checked ? L"SOFTWARE\\TOLMERA\\Design" : L"";
    manager.Common().projectPathValue = checked ? L"ProjectPath" : L"";
    return root;
  }
  // The counter on the "server": a folder of this machine standing for its share.
  void Counter(const std::string& clients) {
    Write(kCounter, "<?xml version=\"1.0\"?>\n<TOLMERA><INSTALL" +
                        (clients.empty() ? std::string() : " Clients=\"" + clients + "\"") +
                        "/></TOLMERA>\n");
  }
  std::wstring CounterValue() {
    CommonTools::CXmlSettings file;
    CommonTools::SettingsNodePtr root, install;
    if (!file.Load(kCounter) || !file.GetRoot(root) || !root->GetChild(L"INSTALL", install))
      return L"<unreadable>";
    return CommonTools::GetText(install, L"Clients", L"<none>");
  }
  int Recorded(InstalledProduct& entry) {
    InstalledProducts record;
    record.Load(kRecord, L"", L"");
    return record.Find(L"TDESIGN", 7, entry);
  }
  // The run's result when the step raised one, else -1.
  template <class F>
  int Raised(F&& f) {
    try {
      f();
    } catch (const InstallResultError& e) {
      return e.result;
    }
    return -1;
  }
  std::string answers;
};

class ClientToLocalServer : public ClientSteps {
 protected:
  ClientToLocalServer() {
    answers = "[page DLG_CLIENTATTRIBUTES]\nServerName = C:\\Srv\nbutton = Next\n";
  }
};

class ClientToAlpha : public ClientSteps {
 protected:
  ClientToAlpha() { answers = "[page DLG_CLIENTATTRIBUTES]\nServerName = ALPHA\nbutton = Next\n"; }
};

}  // namespace

TEST_F(ClientToLocalServer, AnInstallationAndItsRemovalLeaveTheCounterWhereItWas) {
  // Without "RegKeyProjectPath" nothing is checked in the registry and the client's recorded
  // path is the server name.
  auto root = Load(ScriptBody(L"client/TolmeraDesignClient.msi"), false);
  Counter("2");
  EXPECT_EQ(manager.ClientInstall(root, false, L""), 1);
  EXPECT_TRUE(Logged("INFO : Client install: Share folder = TolmeraDesign"));
  EXPECT_TRUE(Logged(" /qn TL_SERVER_NAME=\"C:\\Srv\" TL_SHARE_FOLDER=\"TolmeraDesign\""));
  EXPECT_TRUE(KeyExists(kUninstallEntry));  // msiexec registered the product
  InstalledProduct entry;
  ASSERT_GE(Recorded(entry), 0);
  EXPECT_EQ(entry.type, L"Client");
  EXPECT_EQ(entry.path, L"C:\\Srv");
  EXPECT_EQ(CounterValue(), L"3");
  EXPECT_TRUE(Logged("INFO : change numberClients = 3"));

  manager.GetInstalledProducts().Load(kRecord, L"", L"");
  manager.SetAction(kUninstall, kClient);
  EXPECT_EQ(manager.ClientInstall(root, true, L""), 1);
  EXPECT_TRUE(Logged(std::string("/x ") + platform::ToUtf8(kCode) + " /qn"));
  EXPECT_FALSE(KeyExists(kUninstallEntry));
  EXPECT_LT(Recorded(entry), 0);
  EXPECT_EQ(CounterValue(), L"2");
  EXPECT_TRUE(Logged("INFO : Remove product TDESIGN version 7"));
}

TEST_F(ClientToLocalServer, TheLastClientRemovedTakesTheAttributeAwayAndAMissingCounterStays) {
  auto root = Load(ScriptBody(L"client/TolmeraDesignClient.msi"), false);
  Counter("");
  ASSERT_EQ(manager.ClientInstall(root, false, L""), 1);
  EXPECT_EQ(CounterValue(), L"1");
  manager.SetAction(kUninstall, kClient);
  ASSERT_EQ(manager.ClientInstall(root, true, L""), 1);
  EXPECT_EQ(CounterValue(), L"<none>");
  // A removal below nought stays at nought, and the file is not written.
  ASSERT_EQ(platform::DeleteFileW(kCounter), platform::ERROR_SUCCESS);
  manager.SetAction(kInstall, kInstallNone);
  ASSERT_EQ(manager.ClientInstall(root, false, L""), 1);
  EXPECT_FALSE(Exists(kCounter));
}

TEST_F(ClientToAlpha, TheClientValueHoldsTheServerPathAndARepairSkipsThePage) {
  auto root = Load(ScriptBody(L"client/TolmeraDesignClient.msi"), true);
  ASSERT_EQ(manager.ClientInstall(root, false, L""), 1);
  EXPECT_EQ(Value(L"SOFTWARE\\TOLMERA\\Design", L"ProjectPath"), L"\\\\ALPHA\\TolmeraDesign");
  InstalledProduct entry;
  ASSERT_GE(Recorded(entry), 0);
  EXPECT_EQ(entry.path, L"\\\\ALPHA\\TolmeraDesign");

  // The repair: the server name comes from the recorded UNC path, so the page (which the
  // answers would now answer with another name) is not shown.
  answers.clear();
  ui = std::make_shared<InstallGui::ScriptedBackend>(
      "[page DLG_CLIENTATTRIBUTES]\nServerName = WRONG\nbutton = Next\n", L"answers");
  GetGuiTools().SetUiBackend(ui);
  manager.GetUserSettings()->Set(L"ServerName", CommonTools::Variant(L""));
  manager.SetAction(kRepair, kClient);
  debug.clear();
  ASSERT_EQ(manager.ClientInstall(root, false, L""), 1);
  EXPECT_FALSE(Logged("Page DLG_CLIENTATTRIBUTES"));
  EXPECT_EQ(manager.GetUserSettings()->GetText(L"ServerName"), L"ALPHA");
  // The product code of the key path, without the key path in front.
  EXPECT_TRUE(Logged(std::string("/i") + platform::ToUtf8(kCode) +
                     " /qn REINSTALLMODE=vems REINSTALL=ALL TL_SERVER_NAME=\"ALPHA\""));
  EXPECT_TRUE(Logged("INFO : Remove value ProjectPath in RegKey SOFTWARE\\TOLMERA\\Design"));
  EXPECT_EQ(Value(L"SOFTWARE\\TOLMERA\\Design", L"ProjectPath"), L"\\\\ALPHA\\TolmeraDesign");
}

TEST_F(ClientToAlpha, ARemovalWhoseProductKeyStaysFailsAndKeepsTheRecord) {
  auto root = Load(ScriptBody(L"client/TolmeraDesignClient.msi"), true);
  ASSERT_EQ(manager.ClientInstall(root, false, L""), 1);
  {
    // Something else keeps the client key: the removal cannot take it.
    platform::RegKey other;
    ASSERT_EQ(other.Create(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\Design\\Other"),
              platform::ERROR_SUCCESS);
  }
  manager.SetAction(kUninstall, kClient);
  EXPECT_EQ(Raised([&] { manager.ClientInstall(root, true, L""); }), 13);
  EXPECT_TRUE(
      Logged("ERROR : Client install: msiexec.exe is not finished correctly\nProduct key "
             "SOFTWARE\\TOLMERA\\Design is detected in Registry"));
  InstalledProduct entry;
  EXPECT_GE(Recorded(entry), 0);
  EXPECT_GE(manager.GetInstalledProducts().Find(L"TDESIGN", 7, entry), 0);
}

TEST_F(ClientToAlpha, ARepairThatCannotStartMsiexecPutsTheClientValueBack) {
  auto root = Load(ScriptBody(L"client/TolmeraDesignClient.msi"), true);
  ASSERT_EQ(manager.ClientInstall(root, false, L""), 1);
  ASSERT_EQ(platform::DeleteFileW(L"C:\\Windows\\System32\\msiexec.exe"), platform::ERROR_SUCCESS);
  manager.SetAction(kRepair, kClient);
  EXPECT_EQ(Raised([&] { manager.ClientInstall(root, false, L""); }), 13);
  EXPECT_TRUE(Logged("WARNING : CallExecProcess: process returned error"));
  EXPECT_EQ(Value(L"SOFTWARE\\TOLMERA\\Design", L"ProjectPath"), L"\\\\ALPHA\\TolmeraDesign");
}

// A window whose bar, once armed, ends the run as a cancel does when it comes up for a wait.
class CancellingWindow : public tltest::RecordingWindow {
 public:
  void BeginProgress(std::uint64_t position, bool wrap) override {
    RecordingWindow::BeginProgress(position, wrap);
    if (armed) RaiseResult(irCancelled);
  }
  bool armed = false;
};

TEST_F(ClientToAlpha, ARepairCancelledWhileMsiexecIsAwaitedPutsTheClientValueBack) {
  auto cancelling = std::make_shared<CancellingWindow>();
  GetGuiTools().SetMainWindow(cancelling);
  auto root = Load(ScriptBody(L"client/TolmeraDesignClient.msi"), true);
  ASSERT_EQ(manager.ClientInstall(root, false, L""), 1);
  manager.SetAction(kRepair, kClient);
  cancelling->armed = true;
  EXPECT_EQ(Raised([&] { manager.ClientInstall(root, false, L""); }), irCancelled);
  EXPECT_TRUE(Logged("INFO : Remove value ProjectPath in RegKey SOFTWARE\\TOLMERA\\Design"));
  EXPECT_EQ(Value(L"SOFTWARE\\TOLMERA\\Design", L"ProjectPath"), L"\\\\ALPHA\\TolmeraDesign");
  // The stage line is cleared on the way out too.
  EXPECT_EQ(cancelling->StageId(), L"");
}

TEST_F(ClientSteps, ASetupProgramInPlaceOfThePackageRunsAsAProgramStep) {
  auto root = Load(ScriptBody(L"client/setup.exe"), true);
  Counter("4");
  EXPECT_EQ(manager.ClientInstall(root, false, L""), 1);
  EXPECT_TRUE(Logged("INFO : CommonStepExec: Start"));
  EXPECT_FALSE(Logged("msiexec"));
  EXPECT_EQ(CounterValue(), L"4");
  InstalledProduct entry;
  EXPECT_LT(Recorded(entry), 0);
}

TEST_F(ClientSteps, MissingNodesAndAnEmptyPathAreReportedAsFailures) {
  auto none = Load(L"<INSTALL/>", false);
  EXPECT_EQ(manager.ClientInstall(none, false, L""), 0);
  EXPECT_TRUE(Logged("INFO : Client install: NODE <CLIENT> is not found"));
  auto noExec = Load(L"<CLIENT Share=\"S\"/>", false);
  EXPECT_EQ(manager.ClientInstall(noExec, false, L""), 0);
  EXPECT_TRUE(Logged("INFO : Client install: NODE <EXEC> is not found"));
  auto empty = Load(L"<CLIENT><Exec Path=\"\"/></CLIENT>", false);
  EXPECT_EQ(manager.ClientInstall(empty, false, L""), 0);
  EXPECT_TRUE(Logged("ERROR : Client install: expect exe-file"));
  auto missing = Load(L"<CLIENT><Exec Path=\"client/none.msi\"/></CLIENT>", false);
  EXPECT_EQ(manager.ClientInstall(missing, false, L""), 0);
  EXPECT_TRUE(Logged("Client install: file client\\none.msi is not extracted from archive"));
  auto ignored = Load(L"<CLIENT IgnoreFor=\"AllActions\"><Exec Path=\"x.msi\"/></CLIENT>", false);
  EXPECT_EQ(manager.ClientInstall(ignored, false, L""), 1);
}

class ClientQuoted : public ClientSteps {
 protected:
  ClientQuoted() {
    answers = "[page DLG_CLIENTATTRIBUTES]\nServerName = \"AL\"PHA\"\nbutton = Next\n";
  }
};

TEST_F(ClientQuoted, AServerNameWithAQuoteIsRefusedBeforeMsiexecRuns) {
  auto root = Load(ScriptBody(L"client/TolmeraDesignClient.msi"), true);
  EXPECT_EQ(Raised([&] { manager.ClientInstall(root, false, L""); }), 13);
  EXPECT_TRUE(Logged("holds a double quote and is refused"));
  EXPECT_FALSE(KeyExists(kUninstallEntry));
}

class ClientPageButtons : public ClientSteps {
 protected:
  ClientPageButtons() {
    answers =
        "[page DLG_CLIENTATTRIBUTES]\nbutton = Back\n[page DLG_CLIENTATTRIBUTES]\nbutton = "
        "Cancel\n";
  }
};

TEST_F(ClientPageButtons, BackReturnsTwoAndCancelEndsTheRun) {
  auto root = Load(ScriptBody(L"client/TolmeraDesignClient.msi"), true);
  EXPECT_EQ(manager.ClientInstall(root, false, L""), 2);
  EXPECT_TRUE(Logged("INFO : Client install: Get attributes. Press BACK-button"));
  EXPECT_EQ(Raised([&] { manager.ClientInstall(root, false, L""); }), 1);
  EXPECT_TRUE(Logged("INFO : Client install: Get attributes. Press CANCEL- or ESC-button"));
  EXPECT_FALSE(KeyExists(kUninstallEntry));
}

TEST_F(ClientSteps, TheClientPackageIsFoundAndAClientWithoutItsRegistrationCountsAsGone) {
  auto root = Load(ScriptBody(L"client/TolmeraDesignClient.msi"), true);
  EXPECT_TRUE(manager.GetMSI());
  EXPECT_FALSE(manager.ClientStillRegistered());
  {
    platform::RegKey entry;
    ASSERT_EQ(entry.Create(platform::HKEY_LOCAL_MACHINE, kUninstallEntry), platform::ERROR_SUCCESS);
  }
  EXPECT_TRUE(manager.ClientStillRegistered());
  auto noClient = Load(L"<INSTALL/>", true);
  EXPECT_FALSE(manager.GetMSI());
  EXPECT_TRUE(manager.ClientStillRegistered());
  auto missing = Load(L"<CLIENT><Exec Path=\"client/none.msi\"/></CLIENT>", true);
  EXPECT_FALSE(manager.GetMSI());
  EXPECT_TRUE(Logged("CInstallManager::GetMSI File "));
}
