// The Setup program itself, started as a process on a fresh machine with an answer file.
#include "app/CommandLine.h"
#include "app/SingleCopy.h"
#include "app/tests/SetupProcess.h"
#include "package/tests/TestArchive.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Processes.h"
#include "platform/Text.h"

#include <gtest/gtest.h>
#include <wx/image.h>

#include <algorithm>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <fstream>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <tuple>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using setuptest::BinDir;
using setuptest::Outcome;
using setuptest::RunSetup;
using setuptest::SourceDir;

std::string WriteAnswers(const std::string& folder, const std::string& text) {
  std::string path = folder + "/answers.txt";
  std::ofstream(path) << text;
  return path;
}

// The lines of a log with their time stamps checked and removed.
std::vector<std::string> EntryTexts(const std::string& log) {
  static const std::regex stamp(R"(^\d{4}\.\d{2}\.\d{2} - \d{2}:\d{2}:\d{2}  )");
  std::vector<std::string> texts;
  size_t start = 0, end;
  while ((end = log.find("\r\n", start)) != std::string::npos) {
    std::string line = log.substr(start, end - start);
    start = end + 2;
    std::smatch m;
    if (std::regex_search(line, m, stamp))
      texts.push_back(line.substr(m.length(0)));
    else
      texts.push_back("RAW " + line);
  }
  return texts;
}

class SetupProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = machine.Base() + "/pkg with blanks";
    std::filesystem::create_directories(folder);
    std::string script =
        tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/InstallScript.cfg");
    ASSERT_FALSE(script.empty());
    ASSERT_TRUE(tltest::WriteZip(
        folder + "/Setup.data",
        {{"InstallScript.cfg", script}, {"license.txt", "The licence of the sample."}}));
  }
  std::string LogText() {
    std::string bytes;
    platform::ReadWholeFile(L"C:\\ProgramData\\TOLMERA\\tlinstall.log", bytes);
    return bytes;
  }

  tltest::ScopedMachine machine;
  std::string folder;
};

}  // namespace

TEST_F(SetupProgram, InstallsTheSamplePackageWithAnAnswerFile) {
  std::string answers =
      WriteAnswers(machine.Base(),
                   tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/answers.txt"));
  Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Setup.data"});
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  std::string log = LogText();
  std::vector<std::string> texts = EntryTexts(log);
  ASSERT_GE(texts.size(), 10u) << log << o.stderrText;
  EXPECT_EQ(texts[0], "RAW ---------------------");
  std::vector<std::string> expected = {
      "INFO : CInstallManager::Init() extract script-file from data storage",
      "INFO : CInstallManager::Init() load localization from scenario",
      "INFO : CInstallManager::Init() load graphical resources",
      "INFO : CInstallManager::Init() create main dialog",
      "INFO : CInstallManager::Init() load info about installed products from "
      "C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg",
      "INFO : CInstallManager::Init() Project TSAMPLE version 3",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup Start",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup User is in group Administrators",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup User runs as Administrator",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup Integrity level is only available on "
      "Windows Vista and newer operating systems",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup Process Integrity Level is high or system",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup Finish OK",
      "INFO : Scenario build = 1207",
      "INFO : Install Type = Full =====================",
      "INFO : " + std::string(57, '-'),
      "INFO : " + std::string(57, '-'),
      "INFO : VerifySetShareForFolder: Folder = C:\\Program Files (x86) was shared as Product "
      "shared temporary folder with permissions ACCESS_READ & ACCESS_WRITE",
      "INFO : VerifySetShareForFolder: Folder = Product shared temporary folder is removed status "
      "share",
      "INFO : Install product as Install",
      "INFO : Page DLG_GREETING -> Next",
      "INFO : Page DLG_LICENSE -> Next",
      "INFO : Select installation: Local",
      "INFO : Page DLG_INSTALL_TYPE -> Next",
      "INFO : ProcessInstallMain: Start",
      "INFO : ProcessInstallMain: choose install Server or Local",
      "INFO : Page DLG_SUMMARY -> Next",
      "INFO : ProcessData start",
      "INFO : CommonSteps: start",
      "INFO : CommonSteps: node = COMMONINFO",
      "INFO : CommonSteps: node = DIRECTORY",
      "INFO : CommonStepScheduleFolder: Folder = bin",
      "INFO : ProcessComponents: start",
      "INFO : IsFileExists: 'C:\\Program Files (x86)\\Tolmera Sample\\bin' is NOT FOUND. Cause: "
      "The system cannot find the path specified.",
      "INFO : CommonStepFolders: Folder = C:\\Program Files (x86)\\Tolmera Sample\\bin is created",
      "INFO : ProcessShortcuts: start",
      "INFO : ProcessRegistry: start",
      "INFO : ProcessUpdateProjectConfig: start",
      "INFO : ProcessUpdateProjectConfig: Finish Config file is not set in scenario",
      "INFO : Add product TSAMPLE version 3",
      "INFO : AddProduct: Common Files path = ",
      "INFO : Copy common folders",
      "INFO : ProcessRights: Start",
      "INFO : ProcessRedist: Start",
      "INFO : ProcessRedist: Finish",
      "INFO : ProcessInstallAdditional start",
      "INFO : RegisterUninstaller: start C:\\Program Files (x86)\\Tolmera Sample",
      "INFO : GetUninstallerPath: start",
      "INFO : GetUninstallerPath: WindowsDirectory = C:\\Windows",
      "INFO : GetUninstallerPath: Finish C:\\Windows\\Installer\\tluninstall.exe",
      "INFO : RegisterUninstaller: TempPath = <temp>",
      "INFO : RegisterUninstaller: UninstallSettings = <temp>\\InstallScript.cfg",
      "INFO : RegisterUninstaller: Save <temp>\\InstallScript.cfg",
      "INFO : IsFileExists: 'C:\\Windows\\Installer\\tluninstall.exe' is NOT FOUND. Cause: The "
      "system cannot find the file specified.",
      "INFO : RegisterUninstaller: copy uninstaller <Setup> -> "
      "C:\\Windows\\Installer\\tluninstall.exe",
      "INFO : RegisterUninstaller: add <temp>\\InstallScript.cfg to "
      "C:\\Windows\\Installer\\SetupTSAMPLE.data",
      "INFO : RegisterUninstaller: add banners to C:\\Windows\\Installer\\SetupTSAMPLE.data",
      "INFO : AddUninstallerInfo: start",
      "INFO : AddUninstallerInfo: before create key "
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TolmeraSample",
      "INFO : AddUninstallerInfo: create key "
      "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TolmeraSample OK",
      "INFO : GetUninstallerPath: start",
      "INFO : GetUninstallerPath: WindowsDirectory = C:\\Windows",
      "INFO : GetUninstallerPath: Finish C:\\Windows\\Installer\\tluninstall.exe",
      "WARNING : AddUninstallerInfo: Can't read info about uninstaller!",
      "INFO : Page DLG_FINISH -> Next",
      "INFO : CInstallManager::Clean",
      "INFO : TOLMERAInstall Finish",
  };
  // The account of the user's rights between the two dashed lines is taken out and checked on
  // its own (its group and privilege listings depend on the machine).
  const std::string dashes = "INFO : " + std::string(57, '-');
  auto first = std::find(texts.begin(), texts.end(), dashes);
  ASSERT_NE(first, texts.end()) << log;
  auto second = std::find(first + 1, texts.end(), dashes);
  ASSERT_NE(second, texts.end()) << log;
  std::vector<std::string> rights(first + 1, second);
  texts.erase(first + 1, second);
  ASSERT_GE(rights.size(), 10u) << log;
  EXPECT_EQ(rights.front(), "INFO : CCheckRights::VerifyAdminRights() Start");
  EXPECT_EQ(rights.back(), "INFO : CCheckRights::VerifyAdminRights() FINISH");
  EXPECT_NE(std::find(rights.begin(), rights.end(),
                      "INFO :          FILE_GENERIC_READ | FILE_GENERIC_WRITE | "
                      "FILE_GENERIC_EXECUTE is GRANT_ACCESS"),
            rights.end())
      << log;
  ASSERT_GE(texts.size(), expected.size() + 2);
  EXPECT_EQ(
      texts[1].rfind(std::string("INFO : Setup Version = ") + TL_EXPECTED_VERSION + " Date = ", 0),
      0u)
      << texts[1];
  // The run's own temporary folder and the program's path differ from run to run and host to
  // host: they stand as <temp> and <Setup>.
  static const std::regex temp(R"(C:\\Users\\User\\AppData\\Local\\Temp\\Setup-[0-9a-f]+)");
  const std::string program =
      platform::ToUtf8(InstallManager::HostPathToZ(platform::FromUtf8(BinDir() + "/Setup")));
  for (auto& text : texts) {
    text = std::regex_replace(text, temp, "<temp>");
    for (std::size_t at; (at = text.find(program)) != std::string::npos;)
      text.replace(at, program.size(), "<Setup>");
  }
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(texts[2 + i], expected[i]) << "entry " << i + 2 << "\n" << log;
  // The log's end: the blank line that closes the file.
  EXPECT_EQ(texts.back(), "RAW ");
  EXPECT_EQ(log.find("ERROR"), std::string::npos);
  // The folder of the package's DIRECTORY, which the archive does not hold, is there, empty.
  EXPECT_TRUE(platform::PathIsDirectoryW(L"C:\\Program Files (x86)\\Tolmera Sample\\bin"));
  // The run's temporary folder is gone.
  EXPECT_FALSE(platform::PathFileExistsW(platform::GetTempPathW() + L"Setup\\InstallScript.cfg"));
}

TEST_F(SetupProgram, RemovesTheSamplePackageFromTheRepairPageAndLogsEachStepWordForWord) {
  const std::string package = folder + "/Setup.data";
  std::string answers =
      WriteAnswers(machine.Base(),
                   tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/answers.txt"));
  Outcome o = RunSetup(machine.Root(), answers, {"/X", package});
  ASSERT_EQ(o.exitCode, 0) << o.stderrText;
  // The package has no texts of the full repair page: the short one is shown.
  o = RunSetup(machine.Root(),
               WriteAnswers(machine.Base(),
                            "[page DLG_REPAIR_TRUNCATED]\nInstallType = Uninstall\nbutton = Next\n"
                            "[message MsgUninstall]\nanswer = Yes\n"
                            "[page DLG_FINISH]\nbutton = Next\n"),
               {"/X", package});
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  std::string log = LogText();
  std::vector<std::string> texts = EntryTexts(log);
  // The account of the user's rights between the dashed lines is the installation's (above).
  const std::string dashes = "INFO : " + std::string(57, '-');
  auto first = std::find(texts.begin(), texts.end(), dashes);
  ASSERT_NE(first, texts.end()) << log;
  auto second = std::find(first + 1, texts.end(), dashes);
  ASSERT_NE(second, texts.end()) << log;
  texts.erase(first + 1, second);
  // The names the removal gives the files it leaves for the next start differ from run to run.
  static const std::regex guid(
      R"(\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\})");
  for (auto& text : texts) text = std::regex_replace(text, guid, "{<guid>}");
  const std::string bin = "C:\\Program Files (x86)\\Tolmera Sample\\bin";
  const std::vector<std::string> expected = {
      "RAW ---------------------",
      "",  // the version line, checked by the installation's test
      "INFO : CInstallManager::Init() extract script-file from data storage",
      "INFO : CInstallManager::Init() load localization from scenario",
      "INFO : CInstallManager::Init() load graphical resources",
      "INFO : CInstallManager::Init() create main dialog",
      "INFO : CInstallManager::Init() load info about installed products from "
      "C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg",
      "INFO : CInstallManager::Init() install path C:\\Program Files (x86)\\Tolmera Sample",
      "INFO : CInstallManager::Init() Project TSAMPLE version 3",
      "INFO : CInstallManager::Init() installed libraries ",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup Start",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup User is in group Administrators",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup User runs as Administrator",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup Integrity level is only available on "
      "Windows Vista and newer operating systems",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup Process Integrity Level is high or system",
      "INFO : CCheckRights::HasUserAdminRightsDoSetup Finish OK",
      "INFO : Scenario build = 1207",
      "INFO : Installed product build = 1207",
      "INFO : Install Type = Repair =====================",
      dashes,
      dashes,
      "INFO : VerifySetShareForFolder: Folder = C:\\Program Files (x86) was shared as Product "
      "shared temporary folder with permissions ACCESS_READ & ACCESS_WRITE",
      "INFO : VerifySetShareForFolder: Folder = Product shared temporary folder is removed status "
      "share",
      "INFO : Page DLG_REPAIR_TRUNCATED -> Next",
      "INFO : Selected install action Uninstall",
      "INFO : ProcessInstallMain: Start",
      "WARNING : Message with ID = 'MsgUninstall' was not found in script!",
      "INFO : Message box: MsgUninstall -> Yes",
      "INFO : ProcessData start",
      "INFO : CommonSteps: start",
      "INFO : CommonSteps: node = COMMONINFO",
      "INFO : CommonSteps: node = DIRECTORY",
      "INFO : CommonStepScheduleFolder: Folder = bin remove",
      "INFO : ProcessComponents: start",
      "INFO : DeleteFolder: Start Folder " + bin,
      "INFO : DeleteFolder: before RecursiveDelete folder " + bin,
      "INFO : DeleteFolder: Finish Folder " + bin,
      "INFO : IsFileExists: '" + bin +
          "' is NOT FOUND. Cause: The system cannot find the file specified.",
      "INFO : CommonStepFolders: Folder = " + bin + " is deleted",
      "INFO : DeleteFolder: Start Folder C:\\Program Files (x86)\\Tolmera Sample",
      "INFO : DeleteFolder: before RecursiveDelete folder C:\\Program Files (x86)\\Tolmera Sample",
      "INFO : DeleteFolder: Finish Folder C:\\Program Files (x86)\\Tolmera Sample",
      "INFO : ProcessShortcuts: start",
      "INFO : ProcessRegistry: start",
      "INFO : Remove product TSAMPLE version 3",
      "INFO : Delete common folders",
      "INFO : DeleteAllUsersFolders: Start ==============================",
      "INFO : DeleteAllUsersFolders: Ignore for version (3)< 16",
      "INFO : ProcessInstallMain: no other projects",
      "INFO : ProcessInstallMain: try delete C:\\ProgramData\\TOLMERA",
      "INFO : ProcessInstallMain: C:\\ProgramData\\TOLMERA is kept: it holds more than the record",
      // The entry goes last, and before the files it starts.
      "INFO : GetUninstallerPath: start",
      "INFO : GetUninstallerPath: WindowsDirectory = C:\\Windows",
      "INFO : GetUninstallerPath: Finish C:\\Windows\\Installer\\tluninstall.exe",
      "INFO : UnregisterUninstaller: remove registry key",
      "INFO : UnregisterUninstaller: move file C:\\Windows\\Installer\\SetupTSAMPLE.data to "
      "C:\\Windows\\Installer\\{<guid>}",
      "INFO : UnregisterUninstaller: move file C:\\Windows\\Installer\\tluninstall.exe to "
      "C:\\Windows\\Installer\\{<guid>}",
      "INFO : UnregisterUninstaller: file C:\\Windows\\Installer\\{<guid>} file must deleted when "
      "the system restarts",
      "WARNING : Message with ID = 'MsgFinishUnunstall' was not found in script!",
      "INFO : Page DLG_FINISH -> Next",
      "INFO : CInstallManager::Clean",
      "INFO : TOLMERAInstall Finish",
      "RAW ",
  };
  ASSERT_EQ(texts.size(), expected.size()) << log;
  for (size_t i = 0; i < expected.size(); ++i)
    if (i != 1) EXPECT_EQ(texts[i], expected[i]) << "entry " << i << "\n" << log;
  EXPECT_EQ(texts[1].rfind("INFO : Setup Version = ", 0), 0u) << texts[1];
  // The product's folder, its record and its entry in the list of programs are gone.
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Program Files (x86)\\Tolmera Sample"));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg"));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Windows\\Installer\\SetupTSAMPLE.data"));
}

TEST_F(SetupProgram, RunsTheSampleProductUnattendedWithItsAnswerFile) {
  // The sample product's own package and answer file, as the demonstration runs them.
  const char* build = std::getenv("TOLMERA_BUILD_DIR");
  ASSERT_NE(build, nullptr) << "run through ctest";
  std::string package = std::string(build) + "/examples/sample-product/Setup.data";
  ASSERT_TRUE(std::filesystem::exists(package)) << package;
  Outcome o = RunSetup(machine.Root(), SourceDir() + "/examples/sample-product/answers.txt",
                       {"/X", package});
  EXPECT_EQ(o.exitCode, 0);
  std::string log = LogText();
  ASSERT_FALSE(log.empty()) << o.stderrText;
  for (const char* line :
       {"INFO : CInstallManager::Init() Project TDESIGN version 7\r\n",
        "INFO : Scenario build = 7120\r\n", "INFO : Page DLG_INSTALL_TYPE -> Next\r\n",
        "INFO : TOLMERAInstall Finish\r\n"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  EXPECT_EQ(log.find("ERROR : "), std::string::npos) << log;
}

TEST_F(SetupProgram, ShowsTheRealWindowsAnsweredFromTheFileAndSavesEachAsPng) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no display";
  const char* build = std::getenv("TOLMERA_BUILD_DIR");
  ASSERT_NE(build, nullptr) << "run through ctest";
  std::string package = std::string(build) + "/examples/sample-product/Setup.data";
  std::string shots = machine.Base() + "/shots";
  std::string answers = tltest::ReadHostFile(SourceDir() + "/examples/sample-product/answers.txt") +
                        "\n[screenshots]\nfolder = " + shots + "\n";
  Outcome o =
      RunSetup(machine.Root(), WriteAnswers(machine.Base(), answers), {"/X", package}, display);
  EXPECT_EQ(o.exitCode, 0);
  std::string log = LogText();
  ASSERT_FALSE(log.empty()) << o.stderrText;
  EXPECT_EQ(log.find("ERROR : "), std::string::npos) << log;
  // The main window at start, each page as it was shown, the main window while the files were
  // copied: each a PNG of the window's size, each logged.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(shots))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  ASSERT_GE(names.size(), 4u) << o.stderrText;
  EXPECT_EQ(names.front(), "01-main-start.png");
  auto has = [&](const std::string& part) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return n.find(part) != std::string::npos; });
  };
  EXPECT_TRUE(has("-page-DLG_GREETING.png"));
  EXPECT_TRUE(has("-page-DLG_INSTALL_TYPE.png"));
  EXPECT_TRUE(has("-main-TEXT_INSTALL.png"));
  EXPECT_TRUE(has("-main-TEXT_INSTALL-progress.png"));
  EXPECT_TRUE(has("-page-DLG_FINISH.png"));
  wxInitAllImageHandlers();
  wxImage start(wxString::FromUTF8(shots + "/01-main-start.png"), wxBITMAP_TYPE_PNG);
  ASSERT_TRUE(start.IsOk());
  EXPECT_EQ(start.GetWidth(), 800);  // the sample product's background
  EXPECT_EQ(start.GetHeight(), 600);
  for (const auto& n : names)
    EXPECT_NE(log.find("INFO : Screenshot " + shots + "/" + n + "\r\n"), std::string::npos) << n;
  // The same run as without windows: the product is installed.
  EXPECT_NE(log.find("INFO : TOLMERAInstall Finish\r\n"), std::string::npos);
}

TEST(SetupScreenshots, OnAScreenSmallerThanThePictureTheMainWindowTakesTheScreen) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no display";
  const char* build = std::getenv("TOLMERA_BUILD_DIR");
  ASSERT_NE(build, nullptr) << "run through ctest";
  auto config = platform::MachineConfig::Defaults();
  config.screenWidth = 640;
  config.screenHeight = 480;
  tltest::ScopedMachine machine(config);
  const std::string shots = machine.Base() + "/shots";
  // The Russian language chosen on its page: the run goes on in it.
  std::string answers = tltest::ReadHostFile(SourceDir() + "/examples/sample-product/answers.txt");
  const std::string english = "Language = 0\n";
  ASSERT_NE(answers.find(english), std::string::npos);
  answers.replace(answers.find(english), english.size(), "Language = 1\n");
  answers += "\n[screenshots]\nfolder = " + shots + "\n";
  Outcome o = RunSetup(machine.Root(), WriteAnswers(machine.Base(), answers),
                       {"/X", std::string(build) + "/examples/sample-product/Setup.data"}, display);
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  wxInitAllImageHandlers();
  // The 800 by 600 picture on a 640 by 480 screen: the window is the screen, at start and
  // while the files are copied.
  std::vector<std::string> main;
  for (const auto& e : std::filesystem::directory_iterator(shots)) {
    const std::string name = e.path().filename().string();
    if (name.find("-main-") != std::string::npos) main.push_back(name);
  }
  std::sort(main.begin(), main.end());
  ASSERT_GE(main.size(), 3u);
  EXPECT_EQ(main.front(), "01-main-start.png");
  for (const std::string& name : main) {
    wxImage shot(wxString::FromUTF8(shots + "/" + name), wxBITMAP_TYPE_PNG);
    ASSERT_TRUE(shot.IsOk()) << name;
    EXPECT_EQ(shot.GetWidth(), 640) << name;
    EXPECT_EQ(shot.GetHeight(), 480) << name;
  }
  std::string log;
  platform::ReadWholeFile(L"C:\\ProgramData\\TOLMERA\\tlinstall.log", log);
  EXPECT_NE(log.find("INFO : TOLMERAInstall Finish\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("INFO : ProcessRegistry: Language = 1049\r\n"), std::string::npos) << log;
}

TEST_F(SetupProgram, EmptyCommandLineUsesThePackageBesideTheProgram) {
  // Beside the program (the build's bin folder) there is no Setup.data.
  std::string answers = WriteAnswers(machine.Base(), "");
  Outcome o = RunSetup(machine.Root(), answers, {});
  EXPECT_EQ(o.exitCode, 5) << "the run's result with an answer file";
  EXPECT_NE(o.stderrText.find("ERROR : Data storage not found\r\n"), std::string::npos)
      << o.stderrText;
  EXPECT_NE(o.stderrText.find("INFO : Message box: Installation is corrupted! -> OK\r\n"),
            std::string::npos)
      << o.stderrText;
  EXPECT_NE(o.stderrText.find("INFO : TOLMERAInstall Finish\r\n"), std::string::npos)
      << o.stderrText;
  EXPECT_TRUE(LogText().empty());
}

TEST_F(SetupProgram, MissingArchiveOnTheCommandLineFallsBack) {
  std::string answers = WriteAnswers(machine.Base(), "");
  Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Nothing.data"});
  std::wstring z = L"Z:" + platform::FromUtf8(folder) + L"\\Nothing.data";
  for (auto& c : z)
    if (c == L'/') c = L'\\';
  std::string line = "INFO : IsFileExists: '" + platform::ToUtf8(z) +
                     "' is NOT FOUND. Cause: The system cannot find the file specified.\r\n";
  EXPECT_NE(o.stderrText.find(line), std::string::npos) << o.stderrText;
  EXPECT_NE(o.stderrText.find("ERROR : Data storage not found\r\n"), std::string::npos)
      << o.stderrText;
}

TEST_F(SetupProgram, AQuestionWithoutAnswerEndsTheRunAtOnce) {
  // Only the greeting is answered.
  std::string answers = WriteAnswers(machine.Base(), "[page DLG_GREETING]\nbutton = Next\n");
  Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Setup.data"});
  EXPECT_EQ(o.exitCode, 13) << "the run's result with an answer file";
  std::string log = LogText();
  EXPECT_NE(log.find("ERROR : CInstallManager::Run() a question was not answered: No answer for "
                     "the page DLG_LICENSE"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ERROR : Error during installation\r\n"), std::string::npos) << log;
}

TEST_F(SetupProgram, ASecondCopyOnTheSameMachineEndsSilently) {
  // This process plays the first copy: it holds the machine's lock.
  platform::Machine& m = platform::Machine::Current();
  InstallManager::SingleCopyGuard first(m.StateDir());
  ASSERT_TRUE(first.IsFirst());
  InstallManager::SingleCopyGuard::TakeRaiseRequest();

  std::string answers =
      WriteAnswers(machine.Base(),
                   tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/answers.txt"));
  Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Setup.data"});
  // Turned away: silent, but an unattended caller can tell from the status.
  EXPECT_EQ(o.exitCode, 17);
  EXPECT_TRUE(o.stderrText.empty()) << o.stderrText;
  EXPECT_TRUE(LogText().empty());
  // The first copy was asked to come forward.
  bool asked = false;
  for (int i = 0; i < 100 && !asked; ++i) {
    asked = InstallManager::SingleCopyGuard::TakeRaiseRequest();
    if (!asked) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(asked);
}

TEST_F(SetupProgram, AnAnswerFileThatCannotBeReadStopsBeforeTheRun) {
  Outcome o = RunSetup(machine.Root(), machine.Base() + "/no-such-answers.txt",
                       {"/X", folder + "/Setup.data"});
  EXPECT_EQ(o.exitCode, 18) << "no run was started";
  EXPECT_NE(o.stderrText.find("cannot be read"), std::string::npos) << o.stderrText;
  EXPECT_TRUE(LogText().empty());
}

TEST_F(SetupProgram, AnAnswerFileOrMachineIniThatIsNoFileOrTooLargeStopsBeforeTheRunInOneLine) {
  const std::string basic =
      tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/answers.txt");
  const std::string fifo = machine.Base() + "/answers.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  const std::string large = machine.Base() + "/large.txt";
  {
    std::ofstream out(large);
    out << basic;
    for (int i = 0; i < 110000; ++i) out << "# a comment line\n";  // 1.9 MB
  }
  struct Case {
    std::string answers, why;
  };
  // A pipe would make the run wait for ever, a device read for ever.
  for (const Case& c :
       {Case{fifo, "it is not a regular file"}, Case{"/dev/zero", "it is not a regular file"},
        Case{machine.Base(), "it is a folder, not a file"},
        Case{large, "it is larger than 1048576 bytes"}}) {
    Outcome o = RunSetup(machine.Root(), c.answers, {"/X", folder + "/Setup.data"});
    EXPECT_EQ(o.exitCode, 18) << c.answers;
    EXPECT_EQ(o.stderrText,
              "Setup: The answer file " + c.answers + " cannot be read: " + c.why + "\n");
  }
  // The machine's own configuration, the same way.
  const std::string ini = machine.Root() + "/machine.ini";
  const std::string config = tltest::ReadHostFile(ini);
  ASSERT_EQ(std::rename(ini.c_str(), (ini + ".kept").c_str()), 0);
  ASSERT_EQ(mkfifo(ini.c_str(), 0644), 0);
  Outcome o =
      RunSetup(machine.Root(), WriteAnswers(machine.Base(), basic), {"/X", folder + "/Setup.data"});
  EXPECT_EQ(o.exitCode, 18);
  EXPECT_EQ(o.stderrText, "Setup: " + ini + ": cannot be read: it is not a regular file\n");
  std::remove(ini.c_str());
  ASSERT_EQ(std::rename((ini + ".kept").c_str(), ini.c_str()), 0);
  EXPECT_EQ(tltest::ReadHostFile(ini), config);
  EXPECT_TRUE(LogText().empty()) << "no run was started";
}

TEST_F(SetupProgram, WithAnAnswerFileTheExitStatusIsTheRunsResult) {
  const std::string basic =
      tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/answers.txt");
  // Success (the whole run answered): 0.
  Outcome o =
      RunSetup(machine.Root(), WriteAnswers(machine.Base(), basic), {"/X", folder + "/Setup.data"});
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  // The same build again: the repair page, cancelled by the user: 1.
  o = RunSetup(machine.Root(),
               WriteAnswers(machine.Base(),
                            "[page DLG_REPAIR]\nbutton = Cancel\n"
                            "[page DLG_REPAIR_TRUNCATED]\nbutton = Cancel\n"),
               {"/X", folder + "/Setup.data"});
  EXPECT_EQ(o.exitCode, 1) << o.stderrText << LogText();
  // A package that is no archive: the script cannot be unpacked, the run's result 5.
  std::ofstream(folder + "/Broken.data") << "not a zip archive";
  o = RunSetup(machine.Root(),
               WriteAnswers(machine.Base(), "[message MsgInstallError]\nanswer = No\n"),
               {"/X", folder + "/Broken.data"});
  EXPECT_EQ(o.exitCode, 5) << o.stderrText << LogText();
  EXPECT_NE(o.stderrText.find("ERROR : Data storage not found"), std::string::npos) << o.stderrText;
}

TEST_F(SetupProgram, ARelativeArchivePathNamesTheCallersFolder) {
  // The program's folder is not the caller's: the path is taken from where Setup was started.
  std::string relative =
      std::filesystem::relative(folder + "/Setup.data", std::filesystem::current_path()).string();
  ASSERT_NE(relative.front(), '/');
  std::string answers =
      WriteAnswers(machine.Base(),
                   tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/answers.txt"));
  Outcome o = RunSetup(machine.Root(), answers, {"/X", relative});
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  std::string log = LogText();
  EXPECT_NE(log.find("INFO : Install product as Install\r\n"), std::string::npos)
      << log << o.stderrText;
  EXPECT_EQ(o.stderrText.find("is NOT FOUND"), std::string::npos) << o.stderrText;
}

TEST_F(SetupProgram, WithoutADisplayOrAnAnswerFileOneLineSaysWhatIsNeeded) {
  // No answer file and no display at all; then a display that does not answer.
  for (const std::string display : {"", ":987"}) {
    SCOPED_TRACE(display);
    Outcome o = RunSetup(machine.Root(), "", {"/X", folder + "/Setup.data"}, display);
    EXPECT_EQ(o.exitCode, 18);
    EXPECT_EQ(o.stderrText,
              "Setup: a display (DISPLAY) or an answer file (TOLMERA_ANSWERS) is needed\n");
    EXPECT_TRUE(LogText().empty());
  }
}

TEST_F(SetupProgram, ASingleCopyLockThatCannotBeTakenLetsNoCopyRun) {
  const std::string lock = platform::Machine::Current().StateDir() + "/TOLMERAInstall.lock";
  const std::string victim = machine.Base() + "/victim.txt";
  std::ofstream(victim) << "precious";
  std::string answers =
      WriteAnswers(machine.Base(),
                   tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/answers.txt"));
  struct Planted {
    const char* what;
    std::function<void()> plant;
    const char* why;
  };
  const Planted cases[] = {
      {"a folder", [&] { std::filesystem::create_directory(lock); }, "Is a directory"},
      {"a link", [&] { std::filesystem::create_symlink(victim, lock); }, "it is a link"},
      {"a pipe", [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0644), 0); }, "it is not a file"},
  };
  for (const Planted& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(lock);
    c.plant();
    Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Setup.data"});
    EXPECT_EQ(o.exitCode, 18);
    EXPECT_EQ(o.stderrText, "Setup: the single-copy lock " + lock + " cannot be taken (" + c.why +
                                "); Setup does not run\n");
    EXPECT_TRUE(LogText().empty());
    EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Program Files (x86)\\Tolmera Sample"));
  }
  EXPECT_EQ(tltest::ReadHostFile(victim), "precious");
}

namespace {

// Setup run end to end on a machine described by its configuration: the result and the log.
struct RightsRun {
  int exitCode = -1;
  std::vector<std::string> texts;
  std::string log;
  std::string stderrText;
  bool Has(const std::string& text) const {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }
};

RightsRun RunOn(const platform::MachineConfig& config) {
  tltest::ScopedMachine machine(config);
  std::string folder = machine.Base() + "/pkg";
  std::filesystem::create_directories(folder);
  std::string script =
      tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/InstallScript.cfg");
  EXPECT_TRUE(tltest::WriteZip(
      folder + "/Setup.data",
      {{"InstallScript.cfg", script}, {"license.txt", "The licence of the sample."}}));
  // A refused run offers to keep its log: the answer file declines.
  std::string answers =
      WriteAnswers(machine.Base(),
                   tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/answers.txt") +
                       "\n[message MsgInstallError]\nanswer = No\n");
  Outcome o = RunSetup(machine.Root(), answers, {"/X", folder + "/Setup.data"});
  RightsRun r;
  r.exitCode = o.exitCode;
  r.stderrText = o.stderrText;
  platform::ReadWholeFile(L"C:\\ProgramData\\TOLMERA\\tlinstall.log", r.log);
  r.texts = EntryTexts(r.log);
  return r;
}

const std::string kHasRights = "INFO : CCheckRights::HasUserAdminRightsDoSetup ";

}  // namespace

TEST(SetupRights, AStandardUserIsTurnedAwayBeforeAnythingChanges) {
  platform::MachineConfig c = platform::MachineConfig::Defaults();
  c.memberships = {L"Users"};
  RightsRun r = RunOn(c);
  EXPECT_TRUE(r.Has(kHasRights + "User is not in group Administrators")) << r.log << r.stderrText;
  EXPECT_TRUE(r.Has("INFO : User is NOT LOCAL ADMINISTRATOR!")) << r.log;
  EXPECT_TRUE(r.Has("INFO : Message box: MsgRights -> OK")) << r.log;
  EXPECT_FALSE(r.Has("INFO : Install product as Install")) << r.log;
}

TEST(SetupRights, AnAdministratorWithoutElevationUnderUacIsTurnedAway) {
  platform::MachineConfig c = platform::MachineConfig::Defaults();
  c.elevated = false;
  RightsRun r = RunOn(c);
  EXPECT_TRUE(r.Has(kHasRights + "User is in group Administrators")) << r.log << r.stderrText;
  EXPECT_TRUE(r.Has(kHasRights + "User does not run as Administrator")) << r.log;
  EXPECT_TRUE(r.Has("INFO : User is NOT LOCAL ADMINISTRATOR!")) << r.log;
  EXPECT_TRUE(r.Has("INFO : Message box: MsgRights -> OK")) << r.log;
  EXPECT_FALSE(r.Has("INFO : Install product as Install")) << r.log;
}

TEST(SetupRights, AnElevatedLocalAdministratorInstalls) {
  RightsRun r = RunOn(platform::MachineConfig::Defaults());
  EXPECT_EQ(r.exitCode, 0) << r.log << r.stderrText;
  EXPECT_TRUE(r.Has(kHasRights + "Finish OK")) << r.log;
  EXPECT_TRUE(r.Has("INFO : User IS NOT DOMAIN Administrator account")) << r.log;
  EXPECT_TRUE(r.Has("INFO : Install product as Install")) << r.log;
  EXPECT_EQ(r.log.find("ERROR"), std::string::npos) << r.log;
}

TEST(SetupRights, ADomainAdministratorOnAServerInstalls) {
  platform::MachineConfig c = platform::MachineConfig::Defaults();
  c.join = platform::JoinStatus::Domain;
  c.domain = L"CORP";
  c.server = true;
  c.os.productType = 3;
  c.os.productName = L"Windows Server 2019 Standard";
  c.memberships = {L"Administrators", L"Domain Admins"};
  RightsRun r = RunOn(c);
  EXPECT_EQ(r.exitCode, 0) << r.log << r.stderrText;
  EXPECT_TRUE(r.Has("INFO : The computer is joined to a DOMAIN CORP.")) << r.log;
  EXPECT_TRUE(r.Has("INFO : The computer is a SERVER.")) << r.log;
  EXPECT_TRUE(r.Has("INFO : User IS DOMAIN Administrator account")) << r.log;
  EXPECT_TRUE(r.Has("INFO : Install product as Install")) << r.log;
}

TEST(SetupRights, AProgramFilesThatDeniesTheUserEndsTheRunWithTheRightsResult) {
  platform::MachineConfig c = platform::MachineConfig::Defaults();
  c.raw["security/c:\\program files (x86)"] = L"D:P(D;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
  RightsRun r = RunOn(c);
  EXPECT_TRUE(
      r.Has("INFO :          test create file VerifyAdminRights_test.000 in directory "
            "C:\\Program Files (x86) FALSE"))
      << r.log << r.stderrText;
  EXPECT_TRUE(
      r.Has("ERROR : User has not rights for change of registry (LM) or folder Program "
            "Files"))
      << r.log;
  EXPECT_TRUE(r.Has("INFO : Message box: MsgRights -> OK")) << r.log;
  EXPECT_FALSE(r.Has("INFO : Install product as Install")) << r.log;
}

TEST(SingleCopy, ALinkPlantedAtTheLockIsNeverWrittenThrough) {
  tltest::ScopedMachine machine;
  const std::string victim = machine.Base() + "/victim.txt";
  std::ofstream(victim) << "precious";
  const std::string state = platform::Machine::Current().StateDir();
  ASSERT_EQ(::symlink(victim.c_str(), (state + "/TOLMERAInstall.lock").c_str()), 0);
  {
    InstallManager::SingleCopyGuard guard(state);
    // Fails closed: neither the first copy nor a second one.
    EXPECT_FALSE(guard.IsFirst());
    EXPECT_TRUE(guard.Failed());
    EXPECT_NE(guard.Error().find("it is a link"), std::string::npos) << guard.Error();
  }
  EXPECT_EQ(tltest::ReadHostFile(victim), "precious");
}

namespace {

// A product with a folder of files in two levels and its entry in the list of programs,
// installed into a machine, with what its user added afterwards: a file of theirs in the
// product folder, a folder of theirs elsewhere, and links to that folder planted in the product
// folder and in the product's own folder "bin".
class KilledRemoval : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string script =
        tltest::ReadHostFile(SourceDir() + "/examples/test-packages/basic/InstallScript.cfg");
    const std::string tail = "  <SERVER/>";
    ASSERT_NE(script.find(tail), std::string::npos);
    script.insert(
        script.find(tail),
        "  <UNINSTALLER Company=\"Tolmera\" Title=\"Tolmera Sample\" Publisher=\"Tolmera\""
        " VersionMajor=\"3\" VersionMinor=\"0\"/>\n");
    std::vector<std::pair<std::string, std::string>> entries = {
        {"InstallScript.cfg", script}, {"license.txt", "The licence of the sample."}};
    for (int i = 0; i < 12; ++i)
      entries.push_back({"bin/file" + std::to_string(i) + ".dat", std::string(100 + i, 'x')});
    for (int i = 0; i < 4; ++i)
      entries.push_back({"bin/sub/part" + std::to_string(i) + ".dat", "part"});
    package_ = machine_.Base() + "/Setup.data";
    ASSERT_TRUE(tltest::WriteZip(package_, entries));
    install_ = machine_.Base() + "/install.txt";
    std::ofstream(install_) << tltest::ReadHostFile(SourceDir() +
                                                    "/examples/test-packages/basic/answers.txt");
    uninstall_ = machine_.Base() + "/uninstall.txt";
    std::ofstream(uninstall_) << "[page DLG_REPAIR_TRUNCATED]\nInstallType = Uninstall\n"
                                 "button = Next\n[message MsgUninstall]\nanswer = Yes\n"
                                 "[page DLG_FINISH]\nbutton = Next\n";
  }

  // A machine of its own with the product installed and the user's additions; the snapshot
  // of the machine before the installation is `<root>.before`.
  std::string Installed(const std::string& name) {
    const std::string root = machine_.Base() + "/" + name;
    EXPECT_NE(setuptest::Tlmachine(root, "init '" + root + "'"), "");
    setuptest::Tlmachine(root, "snapshot '" + root + ".before'");
    Outcome o = RunSetup(root, install_, {"/X", package_});
    EXPECT_EQ(o.exitCode, 0) << o.stderrText;
    const std::string product = root + "/drive_c/Program Files (x86)/Tolmera Sample";
    EXPECT_TRUE(std::filesystem::is_regular_file(product + "/bin/sub/part3.dat")) << product;
    std::ofstream(product + "/notes.txt") << "the user's notes";
    const std::string mine = root + "/drive_c/Users/User/Documents/mine";
    std::filesystem::create_directories(mine);
    std::ofstream(mine + "/keep.txt") << "keep me";
    EXPECT_EQ(::symlink(mine.c_str(), (product + "/bin/planted").c_str()), 0);
    EXPECT_EQ(::symlink(mine.c_str(), (product + "/mine").c_str()), 0);
    return root;
  }

  // The removal from the list of programs; its output.
  std::string Uninstall(const std::string& root, long killAfter = 0) {
    std::string env = "TOLMERA_ANSWERS='" + uninstall_ + "' ";
    if (killAfter > 0) env += "TOLMERA_KILL_AFTER_CHANGES=" + std::to_string(killAfter) + " ";
    return RunTool(root, env, "uninstall TolmeraSample");
  }
  static std::string RunTool(const std::string& root, const std::string& env,
                             const std::string& args) {
    std::string command =
        env + "TOLMERA_MACHINE='" + root + "' '" + BinDir() + "/tlmachine' " + args + " 2>&1";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
      char buffer[4096];
      std::size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
      pclose(p);
    }
    return out;
  }

  // What the machine has that it did not have before the installation, and what it lost, once
  // the removals waiting for the restart are done: one "+ <id>" or "- <id>" line each (a change
  // of what stays, such as the run log's length, is not told).
  static std::string Left(const std::string& root) {
    RunTool(root, "", "restart");
    std::istringstream diff(RunTool(root, "", "diff '" + root + ".before'"));
    std::string out, line;
    while (std::getline(diff, line))
      if (!line.empty() && (line[0] == '+' || line[0] == '-'))
        out += line.substr(0, line.find('\t')) + "\n";
    return out;
  }

  // The removal run again ends with the machine as a complete removal leaves it. A run killed
  // once its entry in the list of programs is gone cannot be started again: the product is gone
  // by then, and the restart takes what that run still had of its own.
  void ExpectRemovedAgain(const std::string& root, const std::string& expected) {
    const std::string again = Uninstall(root);
    if (again.find("no such entry in the list of programs") == std::string::npos)
      EXPECT_NE(again.find("the uninstaller ended with exit status 0"), std::string::npos) << again;
    EXPECT_EQ(Left(root), expected) << again;
  }

  // The removal killed after `n` changes to the machine: true when the kill came before its end.
  bool KilledAfter(const std::string& root, long n) {
    const std::string first = Uninstall(root, n);
    if (first.find("the uninstaller ended with exit status 264") != std::string::npos) return true;
    EXPECT_NE(first.find("the uninstaller ended with exit status 0"), std::string::npos) << first;
    return false;
  }

  // What a complete removal leaves, from a machine of its own.
  std::string CompleteRemoval() {
    const std::string clean = Installed("clean");
    const std::string out = Uninstall(clean);
    EXPECT_NE(out.find("the uninstaller ended with exit status 0"), std::string::npos) << out;
    return Left(clean);
  }

  // How many changes a complete removal makes, plus one: the first n at which a kill comes too
  // late. Each try is on a copy of one installed machine (attributes kept), put back in its
  // place.
  long ChangesOfARemoval() {
    const std::string root = Installed("count");
    const std::string kept = machine_.Base() + "/count.kept";
    EXPECT_EQ(std::system(("cp -a '" + root + "' '" + kept + "'").c_str()), 0);
    auto killed = [&](long at) {
      std::filesystem::remove_all(root);
      EXPECT_EQ(std::system(("cp -a '" + kept + "' '" + root + "'").c_str()), 0);
      return KilledAfter(root, at);
    };
    long n = 1;
    while (n < 100000 && killed(n)) n *= 2;
    long low = n / 2, high = n;  // killed at low (or low is 0), not at high
    while (high - low > 1) {
      const long mid = (low + high) / 2;
      (killed(mid) ? low : high) = mid;
    }
    return high;
  }

  static void ExpectTheUsersThingsKept(const std::string& root) {
    const std::string product = root + "/drive_c/Program Files (x86)/Tolmera Sample";
    const std::string mine = root + "/drive_c/Users/User/Documents/mine";
    EXPECT_EQ(tltest::ReadHostFile(product + "/notes.txt"), "the user's notes");
    EXPECT_EQ(tltest::ReadHostFile(mine + "/keep.txt"), "keep me");
    EXPECT_TRUE(std::filesystem::is_symlink(product + "/mine"));
    EXPECT_FALSE(std::filesystem::exists(product + "/bin")) << "the product's folder goes";
  }

  tltest::ScopedMachine machine_;
  std::string package_, install_, uninstall_;
};

}  // namespace

TEST_F(KilledRemoval, ARemovalKilledAtAnyMomentAndRunAgainLeavesWhatACompleteOneLeaves) {
  const std::string clean = Installed("clean");
  const std::string out = Uninstall(clean);
  ASSERT_NE(out.find("the uninstaller ended with exit status 0"), std::string::npos) << out;
  const std::string expected = Left(clean);
  // The product is gone: only the run log's folder and the family's counter are left.
  EXPECT_EQ(expected.find("Tolmera Sample\\bin"), std::string::npos) << expected;
  EXPECT_EQ(expected.find("TolmeraSample"), std::string::npos) << expected;
  EXPECT_EQ(expected.find("tluninstall"), std::string::npos) << expected;
  EXPECT_EQ(expected.find("TolmeraInstall.cfg"), std::string::npos) << expected;
  EXPECT_EQ(expected.find("\\Temp\\"), std::string::npos) << expected;
  EXPECT_NE(expected.find("+ F C:\\ProgramData\\TOLMERA\\tlinstall.log"), std::string::npos)
      << expected;
  ExpectTheUsersThingsKept(clean);

  // Killed after 1, 2, 3, 5, 8, ... changes to the machine, until a run gets to its end, then
  // just before the end too.
  std::vector<long> points;
  long last = 0;
  for (long a = 1, b = 2; a < 100000; std::tie(a, b) = std::make_pair(b, a + b)) {
    const std::string root = Installed("killed" + std::to_string(a));
    if (!KilledAfter(root, a)) {
      last = a;
      break;
    }
    points.push_back(a);
    SCOPED_TRACE("killed after " + std::to_string(a) + " changes");
    ExpectRemovedAgain(root, expected);
    ExpectTheUsersThingsKept(root);
  }
  ASSERT_GT(last, 3) << "the removal makes more than a few changes";
  ASSERT_GT(points.size(), 3u);
  for (long n = last - 1; n > points.back() && n >= last - 3; --n) {
    SCOPED_TRACE("killed after " + std::to_string(n) + " changes");
    const std::string root = Installed("late" + std::to_string(n));
    if (!KilledAfter(root, n)) continue;  // its end came first
    ExpectRemovedAgain(root, expected);
    ExpectTheUsersThingsKept(root);
  }
}

// The end of a removal, where it changes its record, takes its entry from the list of programs
// and gives its program and package to the restart: killed after each of those changes and run
// again (or, once its entry is gone, restarted), the machine ends as a complete removal leaves it.
TEST_F(KilledRemoval, EveryMomentOfTheRemovalsEndIsTakenUpAgain) {
  const std::string expected = CompleteRemoval();
  const long changes = ChangesOfARemoval();
  ASSERT_GT(changes, 12) << "the removal makes more than a few changes";
  int afterTheEntry = 0;
  for (long n = changes - 1; n >= changes - 12; --n) {
    SCOPED_TRACE("killed after " + std::to_string(n) + " of " + std::to_string(changes) +
                 " changes");
    const std::string root = Installed("end" + std::to_string(n));
    ASSERT_TRUE(KilledAfter(root, n));
    const std::string again = Uninstall(root);
    afterTheEntry += again.find("no such entry in the list of programs") != std::string::npos;
    if (again.find("no such entry in the list of programs") == std::string::npos)
      EXPECT_NE(again.find("the uninstaller ended with exit status 0"), std::string::npos) << again;
    EXPECT_EQ(Left(root), expected) << again;
    ExpectTheUsersThingsKept(root);
  }
  // Both sides of the entry's removal were met.
  EXPECT_GT(afterTheEntry, 0);
  EXPECT_LT(afterTheEntry, 12);
}

// The temporary folder of a killed run goes with the next run; a folder of the user's with a
// like name, a folder whose note is not one of ours, a link in a run folder's place and the
// folder of a run that still goes on all stay as they are.
TEST_F(KilledRemoval, TheNextRunTakesOnlyTheFoldersOfKilledRuns) {
  const std::string root = Installed("scratch");
  const std::string temp = root + "/drive_c/Users/User/AppData/Local/Temp";
  // Killed while it works: its folder, with the script it extracted, and its note are there.
  ASSERT_TRUE(KilledAfter(root, 3));
  std::vector<std::string> killed;
  for (const auto& e : std::filesystem::directory_iterator(temp))
    if (e.path().filename().string().rfind("SetupTSAMPLE-", 0) == 0) killed.push_back(e.path());
  ASSERT_EQ(killed.size(), 2u) << "the folder and its note";
  std::sort(killed.begin(), killed.end());
  EXPECT_TRUE(std::filesystem::is_regular_file(killed[0] + "/InstallScript.cfg")) << killed[0];
  EXPECT_EQ(killed[1], killed[0] + ".run");

  // The user's: a folder named like a run's, without a note.
  std::filesystem::create_directories(temp + "/SetupTSAMPLE-0badf00d");
  std::ofstream(temp + "/SetupTSAMPLE-0badf00d/mine.txt") << "the user's";
  // A note that names another folder than its own, beside a folder.
  std::filesystem::create_directories(temp + "/SetupTSAMPLE-1badf00d");
  std::ofstream(temp + "/SetupTSAMPLE-1badf00d/mine.txt") << "the user's";
  std::ofstream(temp + "/SetupTSAMPLE-1badf00d.run")
      << "TOLMERA Setup run folder\r\nfolder=SetupTSAMPLE-2badf00d\r\nprocess=1\r\n"
         "started=1\r\n";
  // A note of an ended run whose folder is a link to the user's documents.
  const std::string mine = root + "/drive_c/Users/User/Documents/mine";
  ASSERT_EQ(::symlink(mine.c_str(), (temp + "/SetupTSAMPLE-3badf00d").c_str()), 0);
  std::ofstream(temp + "/SetupTSAMPLE-3badf00d.run")
      << "TOLMERA Setup run folder\r\nfolder=SetupTSAMPLE-3badf00d\r\nprocess=1\r\n"
         "started=1\r\n";
  // A run that goes on: this test's process, with its start.
  std::filesystem::create_directories(temp + "/SetupTSAMPLE-4badf00d");
  std::ofstream(temp + "/SetupTSAMPLE-4badf00d/InstallScript.cfg") << "in use";
  const long self = ::getpid();
  std::ofstream(temp + "/SetupTSAMPLE-4badf00d.run")
      << "TOLMERA Setup run folder\r\nfolder=SetupTSAMPLE-4badf00d\r\nprocess=" << self
      << "\r\nstarted=" << platform::ProcessStartStamp(self) << "\r\n";

  const std::string again = Uninstall(root);
  EXPECT_NE(again.find("the uninstaller ended with exit status 0"), std::string::npos) << again;
  EXPECT_FALSE(std::filesystem::exists(killed[0])) << again;
  EXPECT_FALSE(std::filesystem::exists(killed[1])) << again;
  EXPECT_EQ(tltest::ReadHostFile(temp + "/SetupTSAMPLE-0badf00d/mine.txt"), "the user's");
  EXPECT_EQ(tltest::ReadHostFile(temp + "/SetupTSAMPLE-1badf00d/mine.txt"), "the user's");
  EXPECT_TRUE(std::filesystem::exists(temp + "/SetupTSAMPLE-1badf00d.run"));
  EXPECT_TRUE(std::filesystem::is_symlink(temp + "/SetupTSAMPLE-3badf00d"));
  EXPECT_EQ(tltest::ReadHostFile(mine + "/keep.txt"), "keep me");
  EXPECT_EQ(tltest::ReadHostFile(temp + "/SetupTSAMPLE-4badf00d/InstallScript.cfg"), "in use");
  EXPECT_TRUE(std::filesystem::exists(temp + "/SetupTSAMPLE-4badf00d.run"));
  // Nothing of the run's own folder is left either.
  std::size_t runs = 0;
  for (const auto& e : std::filesystem::directory_iterator(temp))
    runs += e.path().filename().string().rfind("SetupTSAMPLE-", 0) == 0;
  EXPECT_EQ(runs, 7u) << "the four planted folders and their three notes";
}

// A removal killed once its entry is gone leaves its program and package to the restart; an
// installation before that restart keeps them for its own entry.
TEST_F(KilledRemoval, AnInstallationBeforeTheRestartKeepsWhatAKilledRemovalLeftToIt) {
  const long changes = ChangesOfARemoval();
  const std::string program = "/drive_c/Windows/Installer/tluninstall.exe";
  // The latest moment at which the entry is gone and the program still has its name.
  std::string root;
  for (long n = changes - 1; n >= changes - 12 && root.empty(); --n) {
    const std::string candidate = Installed("reinstalled" + std::to_string(n));
    ASSERT_TRUE(KilledAfter(candidate, n));
    if (std::filesystem::exists(candidate + program) &&
        Uninstall(candidate).find("no such entry in the list of programs") != std::string::npos)
      root = candidate;
  }
  ASSERT_FALSE(root.empty()) << "no kill left the program after its entry";
  Outcome o = RunSetup(root, install_, {"/X", package_});
  ASSERT_EQ(o.exitCode, 0) << o.stderrText;
  RunTool(root, "", "restart");
  EXPECT_TRUE(std::filesystem::exists(root + program));
  EXPECT_TRUE(std::filesystem::exists(root + "/drive_c/Windows/Installer/SetupTSAMPLE.data"));
  const std::string out = Uninstall(root);
  EXPECT_NE(out.find("the uninstaller ended with exit status 0"), std::string::npos) << out;
}
