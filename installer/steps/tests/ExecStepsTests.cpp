// The Exec step, the redistributables and the start of a program the run waits for.
#include "steps/tests/StepsFixture.h"

#include "platform/Registry.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

using namespace InstallManager;
using tltest::StepsTest;

namespace {

// A window that counts how often the bar was shown, and with which range.
class BarWindow : public tltest::RecordingWindow {
 public:
  void BeginProgress(std::uint64_t position, bool wrap) override {
    RecordingWindow::BeginProgress(position, wrap);
    ++begun;
    lastRange = Range();
  }
  void PumpMessages() override { ++pumped; }
  int begun = 0;
  int pumped = 0;
  std::uint64_t lastRange = 0;
};

class ExecSteps : public StepsTest {
 protected:
  void SetUp() override {
    StepsTest::SetUp();
    bar = std::make_shared<BarWindow>();
    GetGuiTools().SetMainWindow(bar);
    manager.SetAction(kInstall, kInstallNone);
  }
  // A program of the machine that appends its name, its arguments and the folder it runs in
  // to the host file `ran`.
  void Program(const std::wstring& path, const std::string& name, const std::string& extra = "") {
    Write(path, "#!/bin/sh\n" + extra + "printf '%s' '" + name + "' >> '" + Ran() +
                    "'\nfor a in \"$@\"; do printf ' [%s]' \"$a\"; done >> '" + Ran() +
                    "'\nprintf ' in %s\\n' \"$TOLMERA_CURRENT_DIRECTORY\" >> '" + Ran() + "'\n");
  }
  std::string Ran() const { return temp_ + "/ran.txt"; }
  std::string RanText() const {
    std::ifstream in(Ran());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::shared_ptr<BarWindow> bar;
};

std::string ProgramBody(const std::string& name) { return "#!/bin/sh\necho " + name + "\n"; }

}  // namespace

TEST_F(ExecSteps, AnUninstallRunOnlyLogsItsTwoLines) {
  Program(L"C:\\Tools\\conv.exe", "conv");
  auto root = Script(L"<INSTALL><Exec Path=\"C:\\Tools\\conv.exe\"/></INSTALL>");
  manager.CommonSteps(Child(root, L"INSTALL"), true, L"C:\\P");
  EXPECT_TRUE(Logged("INFO : CommonStepExec: Start"));
  EXPECT_TRUE(Logged("INFO : CommonStepExec: Finish for remove"));
  EXPECT_FALSE(Logged("CommonStepExec: exec path"));
  EXPECT_EQ(RanText(), "");
}

TEST_F(ExecSteps, ARelativePathIsTriedHereThenInTheProductFolderThenInThePackage) {
  Program(L"C:\\Here\\bin\\tool.exe", "here");
  Program(L"C:\\Product\\bin\\tool.exe", "product");
  Program(L"C:\\Product\\bin\\only.exe", "product-only");
  Package({{"bin/packed.exe", ProgramBody("packed")}});
  auto root = Script(
      L"<INSTALL><Exec Path=\"bin/tool.exe\" CmdArguments=\"/S /D=C:/x\" Wait=\"y\"/>"
      L"<Exec Path=\"bin\\only.exe\" Wait=\"Y\"/><Exec Path=\"bin/packed.exe\" Wait=\"y\"/>"
      L"<Exec Path=\"bin/absent.exe\"/></INSTALL>");
  manager.UseUserSettings();
  manager.GetUserSettings()->Set(L"ProjectPath", CommonTools::Variant(L"C:\\Product"));
  ASSERT_EQ(platform::SetCurrentDirectoryW(L"C:\\Here"), platform::ERROR_SUCCESS);
  manager.CommonSteps(Child(root, L"INSTALL"), false, L"C:\\P");
  // The arguments keep their "/" (switches stay switches); the path has "\".
  EXPECT_TRUE(Logged("CommonStepExec: File = bin\\tool.exe Arg = /S /D=C:/x ShowWnd = Y"));
  std::string ran = RanText();
  EXPECT_NE(ran.find("here [/S] [/D=C:/x] in C:\\Here\\bin\n"), std::string::npos) << ran;
  EXPECT_NE(ran.find("product-only in C:\\Product\\bin\n"), std::string::npos) << ran;
  EXPECT_EQ(ran.find("product "), std::string::npos) << ran;
  EXPECT_TRUE(Logged("INFO : CommonStepExec: Extract File = "));
  EXPECT_TRUE(Logged("WARNING : File bin\\absent.exe is not found in scenario"));
  // Each start leaves the current directory where it was.
  EXPECT_TRUE(platform::EqualsNoCase(platform::GetCurrentDirectoryW(), L"C:\\Here"));
  ASSERT_EQ(platform::SetCurrentDirectoryW(L"C:\\"), platform::ERROR_SUCCESS);
}

TEST_F(ExecSteps, ThePathComesFromTheMessageWhenTheNodeHasNone) {
  Program(L"C:\\Tools\\fromtext.exe", "fromtext");
  auto root = Script(
      L"<Localization><EN ID=\"1033\" Title=\"English\" SystemName=\"English\"><MESSAGES>"
      L"<MsgTool Caption=\"C:\\Tools\\fromtext.exe\"/></MESSAGES></EN></Localization>"
      L"<INSTALL><Exec MsgKey=\"MsgTool\" Wait=\"y\"/><Exec/></INSTALL>");
  ASSERT_TRUE(GetGuiTools().Languages().Load());
  manager.CommonSteps(Child(root, L"INSTALL"), false, L"C:\\P");
  EXPECT_EQ(RanText(), "fromtext in C:\\Tools\n");
  EXPECT_TRUE(Logged("INFO : CommonStepExec: File path is empty"));
}

struct WindowCase {
  const wchar_t* showWindow;  // nullptr: no attribute
  const wchar_t* wait;
  bool barShown;  // hidden and waited for
  bool waited;
};

class ExecWindow : public ExecSteps, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(ExecWindow, ShowWindowAndWaitAreReadAsTheScriptsHaveThem) {
  const WindowCase& c = GetParam();
  // The program takes a while before it leaves its mark, so a run that does not wait has
  // gone on before the mark is there.
  Program(L"C:\\Tools\\slow.exe", "slow", "sleep 0.8\n");
  std::wstring node = L"<INSTALL><Exec Path=\"C:\\Tools\\slow.exe\"";
  if (c.showWindow) node += std::wstring(L" ShowWindow=\"") + c.showWindow + L"\"";
  node += std::wstring(L" Wait=\"") + c.wait + L"\"/></INSTALL>";
  auto root = Script(node);
  manager.CommonSteps(Child(root, L"INSTALL"), false, L"C:\\P");
  EXPECT_EQ(bar->begun, c.barShown ? 1 : 0);
  if (c.barShown) {
    EXPECT_EQ(bar->lastRange, 50u);
    EXPECT_GE(bar->stepped, 1u);  // one step per slice of waiting
    EXPECT_FALSE(bar->IsActive());
  }
  if (c.waited) EXPECT_GE(bar->pumped, 1);
  EXPECT_EQ(RanText() == "slow in C:\\Tools\n", c.waited) << RanText();
  EXPECT_EQ(Logged("INFO : CallExecProcess: wait process"), c.waited);
  // A program that was not waited for still runs to its end.
  for (int i = 0; i < 100 && RanText().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(RanText(), "slow in C:\\Tools\n");
}

INSTANTIATE_TEST_SUITE_P(
    Values, ExecWindow,
    ::testing::Values(WindowCase{L"yes", L"y", false, true}, WindowCase{nullptr, L"Y", false, true},
                      WindowCase{L"No", L"y", true, true}, WindowCase{L"1", L"Y", true, true},
                      WindowCase{L"", L"y", true, true}, WindowCase{L"N", L"yes", false, false},
                      WindowCase{L"Y", L"", false, false}));

TEST_F(ExecSteps, AFileThatIsNoProgramLogsTheScriptsErrorText) {
  Write(L"C:\\Tools\\notes.exe", "plain text");
  auto root = Script(
      L"<Localization><EN ID=\"1033\" Title=\"English\" SystemName=\"English\"><MESSAGES>"
      L"<ExecCmdError Caption=\"Cannot run %s with %s\"/></MESSAGES></EN></Localization>"
      L"<INSTALL><Exec Path=\"C:\\Tools\\notes.exe\" CmdArguments=\"-q\"/></INSTALL>");
  ASSERT_TRUE(GetGuiTools().Languages().Load());
  manager.CommonSteps(Child(root, L"INSTALL"), false, L"C:\\P");
  EXPECT_TRUE(Logged("INFO : CreateProcess failed (193)"));
  EXPECT_TRUE(Logged("WARNING : CallExecProcess: process returned error"));
  EXPECT_TRUE(Logged("ERROR : Cannot run C:\\Tools\\notes.exe with -q"));
  EXPECT_TRUE(Logged("INFO : CommonStepExec: Finish"));
}

TEST_F(ExecSteps, ALineLongerThanTheOldBufferReachesTheProgramWhole) {
  Program(L"C:\\Tools\\long.exe", "long");
  const std::wstring argument(400, L'a');
  auto root = Script(L"<INSTALL><Exec Path=\"C:\\Tools\\long.exe\" Wait=\"y\" CmdArguments=\"" +
                     argument + L" end\"/></INSTALL>");
  manager.CommonSteps(Child(root, L"INSTALL"), false, L"C:\\P");
  EXPECT_EQ(RanText(), "long [" + std::string(400, 'a') + "] [end] in C:\\Tools\n");
}

TEST_F(ExecSteps, RedistributablesRunUnlessInstalledAndLeaveTheTree) {
  Package({{"redist/one.exe", ProgramBody("one")},
           {"redist/two.exe", "#!/bin/sh\nprintf 'two %s\\n' \"$1\" >> '" + Ran() + "'\n"},
           {"redist/three.exe", "#!/bin/sh\nprintf 'three\\n' >> '" + Ran() + "'\n"}});
  {
    platform::RegKey key;
    ASSERT_EQ(key.Create(platform::HKEY_LOCAL_MACHINE,
                         L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\RuntimeOne"),
              platform::ERROR_SUCCESS);
  }
  manager.SetAction(kInstall, kInstallNone);
  auto root = Script(
      L"<REDIST RegKey=\"RuntimeOne\" Path=\"redist/one.exe\" Wait=\"y\"/>"
      L"<REDIST RegKey=\"RuntimeTwo\" Path=\"redist/two.exe\" CmdArguments=\"/quiet\" Wait=\"y\"/>"
      L"<REDIST RegKey=\"RuntimeSkip\" Path=\"redist/one.exe\" IgnoreFor=\"AllActions\"/>"
      L"<REDIST RegKey=\"RuntimeThree\" Path=\"redist/three.exe\" Wait=\"Y\"/>"
      L"<REDIST RegKey=\"RuntimeGone\" Path=\"redist/missing.exe\"/>");
  manager.ProcessRedist(root, false);
  EXPECT_TRUE(Logged("WARNING : ProcessRedist: VCRedist has been installed"));
  EXPECT_TRUE(Logged("INFO : ProcessRedist: File = redist\\two.exe Arg = /quiet Wait = y"));
  EXPECT_TRUE(Logged("WARNING : ProcessRedist: Call redist\\two.exe /quiet"));
  EXPECT_TRUE(Logged("WARNING : ProcessRedist: File = redist\\missing.exe IS NOT FOUND"));
  // The ignored node does not stop the one after it.
  EXPECT_EQ(RanText(), "two /quiet\nthree\n");
  EXPECT_EQ(bar->StageId(), L"TEXT_INSTALLREDIST");
  EXPECT_FALSE(Logged("IS NOT CORRECT"));
  // What was carried out (or found installed) has left the tree; the ignored node stays.
  CommonTools::SettingsNodePtr left;
  ASSERT_TRUE(root->GetChild(L"REDIST", left));
  EXPECT_EQ(CommonTools::GetText(left, L"RegKey", L""), L"RuntimeSkip");
  CommonTools::SettingsNodeListPtr children;
  ASSERT_TRUE(root->GetChildren(children));
  EXPECT_EQ(children->GetCount(), 1);
}

TEST_F(ExecSteps, RedistributablesAreLeftAloneByARemovalAndAScriptWithoutThemIsQuiet) {
  Package({{"redist/one.exe", "#!/bin/sh\nprintf 'one\\n' >> '" + Ran() + "'\n"}});
  auto root = Script(L"<REDIST RegKey=\"RuntimeOne\" Path=\"redist/one.exe\" Wait=\"y\"/>");
  manager.ProcessRedist(root, true);
  EXPECT_EQ(RanText(), "");
  EXPECT_FALSE(Logged("ProcessRedist: Start"));
  CommonTools::SettingsNodePtr kept;
  EXPECT_TRUE(root->GetChild(L"REDIST", kept));

  auto empty = Script(L"<INSTALL/>");
  manager.ProcessRedist(empty, false);
  EXPECT_TRUE(Logged("INFO : ProcessRedist: Start"));
  EXPECT_FALSE(Logged("IS NOT CORRECT"));
  EXPECT_FALSE(Logged("WARNING : ProcessRedist"));
}
