// The processing runs end to end: Setup as a process on fresh machines, answered by answer
// files, on the sample product and on small packages of their own.
#include "app/tests/SetupProcess.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

using setuptest::BinDir;
using setuptest::Outcome;
using setuptest::RunSetup;

namespace {

const std::wstring kLog = L"C:\\ProgramData\\TOLMERA\\tlinstall.log";
const std::wstring kRecord = L"C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg";

std::string Read(const std::wstring& path) {
  std::string bytes;
  platform::ReadWholeFile(path, bytes);
  return bytes;
}

// The record file as text (it is written in UTF-16).
std::string RecordText() {
  std::string bytes = Read(kRecord);
  std::wstring wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    wide += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return platform::ToUtf8(wide);
}

class ProcessingRuns : public ::testing::Test {
 protected:
  std::string Answers(const std::string& name, const std::string& text) {
    std::string path = machine.Base() + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  // tlmachine on this machine; its standard output.
  std::string Tool(const std::string& args) {
    std::string command =
        "TOLMERA_MACHINE='" + machine.Root() + "' '" + BinDir() + "/tlmachine' " + args + " 2>&1";
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
      char buffer[4096];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
      pclose(p);
    }
    return out;
  }
  // `tlmachine hold` keeps a file of this machine open without sharing until Release.
  class FileHolder {
   public:
    FileHolder(const std::string& root, const std::wstring& path) {
      std::string command = "TOLMERA_MACHINE='" + root + "' exec '" + BinDir() +
                            "/tlmachine' hold '" + platform::ToUtf8(path) + "'";
      pipe_ = popen(command.c_str(), "r");
      char line[512] = {};
      if (pipe_ && fgets(line, sizeof line, pipe_)) said_ = line;
      if (said_.rfind("holding ", 0) == 0)
        pid_ = std::atoi(said_.substr(said_.find("(pid ") + 5).c_str());
    }
    ~FileHolder() { Release(); }
    // What the holder said first: "holding <path> (pid N)" once the file is held.
    const std::string& Said() const { return said_; }
    void Release() {
      if (pid_ > 0) kill(pid_, SIGKILL);
      pid_ = 0;
      if (pipe_) pclose(pipe_);
      pipe_ = nullptr;
    }

   private:
    FILE* pipe_ = nullptr;
    std::string said_;
    int pid_ = 0;
  };
  Outcome Setup(const std::string& answers, const std::string& package) {
    return RunSetup(machine.Root(), answers, {"/X", package});
  }
  static bool Has(const std::string& log, const std::string& line) {
    return log.find(line + "\r\n") != std::string::npos;
  }

  tltest::ScopedMachine machine;
};

const char* kInstallAnswers =
    "[page DLG_GREETING]\nbutton = Next\n[page DLG_LANGUAGE_SELECTION]\nbutton = Next\n"
    "[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n[page DLG_INSTALL_TYPE]\nInstallType = "
    "Local\n"
    "button = Next\n[page DLG_DESTINATION]\nbutton = Next\n[page DLG_COMPONENTS]\nbutton = Next\n"
    "[page DLG_SUMMARY]\nbutton = Next\n[page DLG_FINISH]\nbutton = Next\n"
    "[message MsgAskStart]\nanswer = Yes\n";

std::string SamplePackage() {
  const char* build = std::getenv("TOLMERA_BUILD_DIR");
  return std::string(build ? build : "build") + "/examples/sample-product/Setup.data";
}

const std::wstring kSample = L"C:\\Program Files (x86)\\TOLMERA Design 7";

}  // namespace

TEST_F(ProcessingRuns, TheSampleProductIsInstalledRepairedChangedAndRemovedLeavingOnlyTheLog) {
  ASSERT_TRUE(std::filesystem::exists(SamplePackage())) << "run through ctest";
  std::string snapshot = machine.Base() + "/before.snap";
  Tool("snapshot '" + snapshot + "'");

  Outcome o = Setup(Answers("install.txt", kInstallAnswers), SamplePackage());
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  std::string log = Read(kLog);
  EXPECT_TRUE(platform::PathFileExistsW(kSample + L"\\bin\\TolmeraDesign.exe")) << log;
  EXPECT_TRUE(platform::PathFileExistsW(kSample + L"\\license\\license_ru.txt"));
  EXPECT_TRUE(platform::PathIsDirectoryW(kSample + L"\\catalog"));
  EXPECT_FALSE(platform::PathFileExistsW(kSample + L"\\help")) << "library 4 is not selected";
  EXPECT_TRUE(Has(
      log, "INFO : CommonStepFolders: Folder = " + platform::ToUtf8(kSample) + "\\bin is created"))
      << log;
  EXPECT_TRUE(Has(log, "INFO : Add product TDESIGN version 7"));
  EXPECT_EQ(log.find("ERROR : "), std::string::npos) << log;
  std::string record = RecordText();
  EXPECT_NE(record.find("<Settings Application=\"TOLMERA Design 7\" Path=\"" +
                        platform::ToUtf8(kSample) + "\">"),
            std::string::npos)
      << record;
  EXPECT_NE(record.find("Path=\"" + platform::ToUtf8(kSample) +
                        "\\Design 7\" Type=\"Local\" Build=\"7120\" PV=\"TDESIGN\""),
            std::string::npos)
      << record;
  EXPECT_NE(record.find("Libraries=\"1;2;3\""), std::string::npos) << record;

  // A repair puts back what was lost and keeps a backup of the settings it replaces.
  platform::DeleteFileW(kSample + L"\\bin\\TolmeraDesign.exe");
  o = Setup(Answers("repair.txt",
                    "[page DLG_REPAIR]\nInstallType = Repair\nbutton = Next\n"
                    "[page DLG_FINISH]\nbutton = Next\n[message MsgAskRegister]\nanswer = Yes\n"
                    "[message MsgAskStart]\nanswer = No\n"),
            SamplePackage());
  log = Read(kLog);
  EXPECT_TRUE(platform::PathFileExistsW(kSample + L"\\bin\\TolmeraDesign.exe")) << log;
  EXPECT_TRUE(platform::PathFileExistsW(kSample + L"\\bin\\settings.bak")) << log;
  EXPECT_TRUE(Has(log, "INFO : Page DLG_FINISH -> Next")) << log;

  // A change of components adds the help and takes the templates away.
  o = Setup(Answers("change.txt",
                    "[page DLG_REPAIR]\nInstallType = Change\nbutton = Next\n"
                    "[page DLG_COMPONENTS]\nSelectedLibraries = 1;2;4\nbutton = Next\n"
                    "[page DLG_SUMMARY]\nbutton = Next\n[page DLG_FINISH]\nbutton = Next\n"),
            SamplePackage());
  log = Read(kLog);
  EXPECT_TRUE(Has(log, "INFO : ChangeConfiguration: start")) << log;
  EXPECT_TRUE(platform::PathIsDirectoryW(kSample + L"\\help")) << log;
  EXPECT_FALSE(platform::PathFileExistsW(kSample + L"\\templates")) << log;
  EXPECT_NE(RecordText().find("Libraries=\"1;2;4\""), std::string::npos) << RecordText();

  // The removal takes everything of the product away.
  o = Setup(Answers("remove.txt",
                    "[page DLG_REPAIR]\nInstallType = Uninstall\nbutton = Next\n"
                    "[message MsgUninstall]\nanswer = Yes\n[page DLG_FINISH]\nbutton = Next\n"),
            SamplePackage());
  log = Read(kLog);
  EXPECT_TRUE(Has(log, "INFO : Remove product TDESIGN version 7")) << log;
  EXPECT_TRUE(Has(log, "INFO : Delete common folders")) << log;
  EXPECT_TRUE(Has(log, "INFO : ProcessInstallMain: no other projects")) << log;
  EXPECT_FALSE(platform::PathFileExistsW(kSample)) << log;
  EXPECT_FALSE(platform::PathFileExistsW(kRecord));
  // Until the next start, the uninstaller program and the package wait under GUID names for
  // their removal, which the restart carries out.
  std::string diff = Tool("diff '" + snapshot + "'");
  EXPECT_NE(diff.find("+ F C:\\Windows\\Installer\\{"), std::string::npos) << diff;
  EXPECT_NE(diff.find("PendingFileRenameOperations"), std::string::npos) << diff;
  EXPECT_EQ(diff.find("tluninstall.exe"), std::string::npos) << diff;
  EXPECT_EQ(diff.find("SetupTDESIGN.data"), std::string::npos) << diff;
  Tool("restart");
  // What is left: the run log in its folder, and the family's counter at 0 (kept on purpose:
  // the next product of the family reads it).
  diff = Tool("diff '" + snapshot + "'");
  EXPECT_NE(diff.find("+ D C:\\ProgramData\\TOLMERA\t"), std::string::npos) << diff;
  EXPECT_NE(diff.find("+ F C:\\ProgramData\\TOLMERA\\tlinstall.log\t"), std::string::npos) << diff;
  EXPECT_NE(diff.find(": \"Count\"\tREG_DWORD dword:00000000"), std::string::npos) << diff;
  EXPECT_NE(diff.find("# 6 added, 0 changed, 0 removed"), std::string::npos) << diff;
  EXPECT_EQ(diff.find("Design 7\\"), std::string::npos) << diff;
}

// Every link of the machine (host paths below drive C:).
std::vector<std::string> Links(const std::string& root) {
  std::vector<std::string> links;
  for (const auto& e : std::filesystem::recursive_directory_iterator(
           root + "/drive_c", std::filesystem::directory_options::skip_permission_denied))
    if (e.is_regular_file() && e.path().extension() == ".lnk") links.push_back(e.path().string());
  return links;
}

// lnkinfo's value of a label of a link.
std::string LnkInfo(const std::string& link, const std::string& label) {
  std::string out;
  if (FILE* p = popen(("lnkinfo '" + link + "' 2>&1").c_str(), "r")) {
    char buffer[4096];
    while (fgets(buffer, sizeof buffer, p)) {
      std::string line = buffer;
      std::size_t at = line.find(label), colon = line.find(": ", at);
      if (at == std::string::npos || colon == std::string::npos || !out.empty()) continue;
      out = line.substr(colon + 2);
      while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    }
    pclose(p);
  }
  return out;
}

TEST_F(ProcessingRuns, TheSampleProductRemovedFromTheListOfProgramsLeavesNothingAfterTheRestart) {
  ASSERT_TRUE(std::filesystem::exists(SamplePackage())) << "run through ctest";
  std::string snapshot = machine.Base() + "/before.snap";
  Tool("snapshot '" + snapshot + "'");
  Outcome o = Setup(Answers("install.txt", kInstallAnswers), SamplePackage());
  ASSERT_EQ(o.exitCode, 0) << o.stderrText;
  std::string log = Read(kLog);
  EXPECT_EQ(log.find("ERROR : "), std::string::npos) << log;

  // The links of the sample product, read by lnkinfo: the program on the desktop and in the
  // Start menu, the read-me there, and the family's web site in the family's folder.
  const std::string programs = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";
  const std::string program = platform::ToUtf8(kSample) + "\\bin\\TolmeraDesign.exe";
  const std::string readme = platform::ToUtf8(kSample) + "\\readme.txt";
  struct Expected {
    std::string link, target;
  };
  const Expected expected[] = {
      {"C:\\Users\\Public\\Desktop\\TOLMERA Design 7.lnk", program},
      {programs + "\\TOLMERA\\Design 7\\TOLMERA Design 7.lnk", program},
      {programs + "\\TOLMERA\\Design 7\\Read me.lnk", readme},
      {programs + "\\TOLMERA\\TOLMERA web site.lnk", readme},
  };
  EXPECT_EQ(Links(machine.Root()).size(), std::size(expected));
  for (const auto& e : expected) {
    std::string host = platform::ToHostPath(platform::FromUtf8(e.link));
    ASSERT_TRUE(std::filesystem::exists(host)) << e.link << "\n" << log;
    EXPECT_EQ(LnkInfo(host, "Local path"), e.target) << e.link;
    EXPECT_EQ(LnkInfo(host, "Working directory"), e.target.substr(0, e.target.rfind('\\')))
        << e.link;
    EXPECT_EQ(LnkInfo(host, "Icon location"), e.target) << e.link;
  }
  // The document associations and the entry in the list of programs.
  std::string classes = Tool("reg query \"HKCR\\.tdd\"");
  EXPECT_NE(classes.find("(Default)    REG_SZ    TOLMERA Design 7.tdd"), std::string::npos)
      << classes;
  std::string list = Tool("programs");
  EXPECT_NE(list.find("TOLMERA Design 7\t7\tTOLMERA Engineering\t" + platform::ToUtf8(kSample) +
                      "\tHKLM (32-bit)\\TolmeraDesign7\n"),
            std::string::npos)
      << list;

  // The removal as the list of programs starts it: the kept uninstaller with its package.
  std::string answers = Answers(
      "remove.txt", "[message MsgUninstall]\nanswer = Yes\n[page DLG_FINISH]\nbutton = Next\n");
  std::string removal;
  std::string command = "TOLMERA_ANSWERS='" + answers + "' TOLMERA_MACHINE='" + machine.Root() +
                        "' '" + BinDir() + "/tlmachine' uninstall TolmeraDesign7 2>&1";
  int status = -1;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) removal.append(buffer, n);
    status = pclose(p);
  }
  log = Read(kLog);
  EXPECT_EQ(status, 0) << removal << log;
  EXPECT_NE(
      removal.find("running C:\\Windows\\Installer\\tluninstall.exe /XC:\\Windows\\Installer\\"
                   "SetupTDESIGN.data"),
      std::string::npos)
      << removal;
  EXPECT_TRUE(Has(log, "INFO : Remove product TDESIGN version 7")) << log;
  EXPECT_FALSE(platform::PathFileExistsW(kSample)) << log;
  EXPECT_TRUE(Links(machine.Root()).empty());
  EXPECT_EQ(Tool("programs").find("TolmeraDesign7"), std::string::npos);

  // The running uninstaller's package was moved aside: the next start removes that name, never
  // "SetupTDESIGN.data", which a reinstallation before the start writes anew.
  std::string pending = Tool(
      "reg query 'HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager' /v "
      "PendingFileRenameOperations");
  EXPECT_NE(pending.find("Installer\\{"), std::string::npos) << pending;
  EXPECT_EQ(pending.find("SetupTDESIGN.data"), std::string::npos) << pending;
  // After the next start nothing of the product is left: only the log and the family's counter.
  Tool("restart");
  std::string diff = Tool("diff '" + snapshot + "'");
  EXPECT_NE(diff.find("# 6 added, 0 changed, 0 removed"), std::string::npos) << diff;
  // (The counter keeps the last folder in "Path" on purpose; nothing below it is left.)
  for (const char* trace : {"Design 7\\", "TolmeraDesign", ".lnk", ".tdd", ".tdt", "tluninstall",
                            "Installer\\", "Uninstall"})
    EXPECT_EQ(diff.find(trace), std::string::npos) << trace << "\n" << diff;
}

TEST_F(ProcessingRuns, EscapeDuringTheCopyRemovesWhatWasCopied) {
  std::string answers = std::string(kInstallAnswers) +
                        "[progress Escape]\nitems = 40\n"
                        "[message MsgCancellInstallation]\nanswer = Yes\n";
  Outcome o = Setup(Answers("cancel.txt", answers), SamplePackage());
  std::string log = Read(kLog);
  EXPECT_NE(log.find("INFO : Escape pressed at stage TEXT_INSTALL"), std::string::npos) << log;
  EXPECT_TRUE(Has(log, "WARNING : User interrupted process by Escape!")) << log;
  EXPECT_NE(log.find("INFO : FinishRun: the installation into " + platform::ToUtf8(kSample) +
                     " is rolled back"),
            std::string::npos)
      << log;
  EXPECT_FALSE(platform::PathFileExistsW(kSample)) << log;
  EXPECT_EQ(RecordText().find("TDESIGN"), std::string::npos) << RecordText();
  EXPECT_EQ(log.find("INFO : Page DLG_FINISH"), std::string::npos) << "no finish page";
  // No record was there before the run: none is left, not even an empty one.
  EXPECT_FALSE(platform::PathFileExistsW(kRecord)) << RecordText();
  EXPECT_EQ(o.exitCode, 1) << "cancelled";
}

TEST_F(ProcessingRuns, ARolledBackInstallationKeepsTheRecordOfTheProductsBefore) {
  // Another product is recorded already: the roll-back leaves its entry as it was.
  platform::CreateDirectoryWithParents(L"C:\\ProgramData\\TOLMERA");
  const std::string other =
      "<?xml version=\"1.0\"?>\n<Settings Application=\"Other\" Path=\"C:\\Other\">"
      "<Project Version=\"1\" PV=\"OTHER\" Path=\"C:\\Other\\One\" Type=\"Local\" "
      "Build=\"5\"/></Settings>";
  ASSERT_EQ(platform::WriteWholeFile(kRecord, other), platform::ERROR_SUCCESS);
  std::string answers = std::string(kInstallAnswers) +
                        "[progress Escape]\nitems = 40\n"
                        "[message MsgCancellInstallation]\nanswer = Yes\n";
  Setup(Answers("cancel.txt", answers), SamplePackage());
  std::string log = Read(kLog);
  EXPECT_TRUE(Has(log, "WARNING : User interrupted process by Escape!")) << log;
  std::string record = RecordText();
  EXPECT_NE(record.find("PV=\"OTHER\""), std::string::npos) << record;
  EXPECT_EQ(record.find("TDESIGN"), std::string::npos) << record;
}

TEST_F(ProcessingRuns, ARollBackKeepsAFolderThatWasThereBefore) {
  platform::CreateDirectoryWithParents(kSample + L"\\config");
  platform::WriteWholeFile(kSample + L"\\config\\mine.cfg", "the user's own");
  std::string answers = std::string(kInstallAnswers) +
                        "[progress Escape]\nitems = 60\n"
                        "[message MsgCancellInstallation]\nanswer = Yes\n";
  Setup(Answers("cancel.txt", answers), SamplePackage());
  std::string log = Read(kLog);
  EXPECT_TRUE(Has(log, "WARNING : User interrupted process by Escape!")) << log;
  EXPECT_EQ(Read(kSample + L"\\config\\mine.cfg"), "the user's own") << log;
  EXPECT_FALSE(platform::PathFileExistsW(kSample + L"\\bin")) << log;
}

TEST_F(ProcessingRuns, ARepairOfAProductWhoseFolderVanishedEndsWithResult9) {
  Setup(Answers("install.txt", kInstallAnswers), SamplePackage());
  std::filesystem::remove_all(machine.C("Program Files (x86)/TOLMERA Design 7"));
  Setup(Answers("repair.txt",
                "[page DLG_REPAIR]\nInstallType = Repair\nbutton = Next\n"
                "[message MsgInstallError]\nanswer = No\n"),
        SamplePackage());
  std::string log = Read(kLog);
  EXPECT_TRUE(Has(log, "ERROR : The installation folder " + platform::ToUtf8(kSample) +
                           " of project TDESIGN version 7 does not exist"))
      << log;
  EXPECT_TRUE(Has(log, "ERROR : The installed products information is not loaded or wrong.") ||
              log.find("ERROR : ", log.find("does not exist") + 20) != std::string::npos)
      << log;
  EXPECT_FALSE(platform::PathFileExistsW(kSample)) << "nothing was put back";
}

TEST_F(ProcessingRuns, AFileInUseAtUninstallEndsWithTheRestartAndTheRestartCompletesIt) {
  Setup(Answers("install.txt", kInstallAnswers), SamplePackage());
  std::wstring held = kSample + L"\\bin\\TolmeraDesign.exe";
  ASSERT_TRUE(platform::PathFileExistsW(held));
  FileHolder holder(machine.Root(), held);
  ASSERT_EQ(holder.Said().rfind("holding ", 0), 0u) << holder.Said();

  Outcome o = Setup(Answers("remove.txt",
                            "[page DLG_REPAIR]\nInstallType = Uninstall\nbutton = Next\n"
                            "[message MsgUninstall]\nanswer = Yes\n"
                            "[page DLG_FINISH]\nRestart = Later\nbutton = Next\n"),
                    SamplePackage());
  // The restart left for later: the run itself succeeded.
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  holder.Release();
  std::string log = Read(kLog);
  EXPECT_TRUE(Has(log, "WARNING : CommonStepFolders: Folder = " + platform::ToUtf8(kSample) +
                           "\\bin is not deleted"))
      << log;
  EXPECT_TRUE(platform::PathFileExistsW(held));
  EXPECT_FALSE(platform::PathFileExistsW(kSample + L"\\bin\\settings.ini"));
  std::string restart = Tool("restart");
  EXPECT_NE(restart.find("restarted;"), std::string::npos) << restart;
  EXPECT_FALSE(platform::PathFileExistsW(kSample + L"\\bin")) << restart;
}

TEST_F(ProcessingRuns, ARestartChosenOnTheFinishPageIsTheExitStatus15) {
  Setup(Answers("install.txt", kInstallAnswers), SamplePackage());
  std::wstring held = kSample + L"\\bin\\TolmeraDesign.exe";
  FileHolder holder(machine.Root(), held);
  ASSERT_EQ(holder.Said().rfind("holding ", 0), 0u) << holder.Said();
  Outcome o = Setup(Answers("remove.txt",
                            "[page DLG_REPAIR]\nInstallType = Uninstall\nbutton = Next\n"
                            "[message MsgUninstall]\nanswer = Yes\n"
                            "[page DLG_FINISH]\nRestart = Now\nbutton = Next\n"),
                    SamplePackage());
  holder.Release();
  EXPECT_EQ(o.exitCode, 15) << o.stderrText << Read(kLog);
}

namespace {

// A product of the family: its own folder in the family's installation folder, and the
// family's common folder that every product of it installs.
std::string FamilyScript(const std::string& product, const std::string& pv,
                         const std::string& installType = "Install") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SCENARIO Name=\"Family\" PV=\"" + pv +
         "\" Version=\"1\" Build=\"10\" InstallType=\"" + installType + "\" DirName=\"" + product +
         "\">"
         "<Localization><EN ID=\"1033\" Title=\"English\" SystemName=\"English\"><MESSAGES>"
         "<MsgCaption Caption=\"Family\"/><MsgUninstall Caption=\"Remove?\"/></MESSAGES>"
         "</EN></Localization><Images/>"
         "<DIALOGS><DLG_GREETING Show=\"n\"/><DLG_SUMMARY Show=\"n\"/><DLG_FINISH Show=\"n\"/>"
         "<DLG_INSTALL_TYPE Show=\"n\"/><DLG_LICENSE Show=\"n\"/><DLG_DESTINATION Show=\"n\"/>"
         "</DIALOGS>"
         "<INSTALL><COMMONINFO RegKeyInstall=\"SOFTWARE\\TOLMERA\\Family\"/>"
         "<DIRECTORY Name=\"" +
         product +
         "\"/>"
         "<DIRECTORY Name=\"Shared\" Type=\"common\"/></INSTALL>"
         "</SCENARIO>";
}

}  // namespace

TEST_F(ProcessingRuns, TheCommonFoldersStayWhileAProductOfTheFamilyRemains) {
  std::string a = machine.Base() + "/a.data", b = machine.Base() + "/b.data";
  ASSERT_TRUE(tltest::WriteZip(a, {{"InstallScript.cfg", FamilyScript("Alpha", "ALPHA")},
                                   {"Alpha/alpha.exe", "alpha"},
                                   {"Shared/common.dll", "shared"}}));
  ASSERT_TRUE(tltest::WriteZip(b, {{"InstallScript.cfg", FamilyScript("Beta", "BETA")},
                                   {"Beta/beta.exe", "beta"},
                                   {"Shared/common.dll", "shared"}}));
  std::string none = Answers("none.txt", "# no page is shown\n");
  std::string remove = Answers("remove.txt", "[message MsgUninstall]\nanswer = Yes\n");
  const std::wstring family = L"C:\\Program Files (x86)\\Family";
  const std::wstring common = family + L"\\Shared\\common.dll";
  Setup(none, a);
  EXPECT_TRUE(platform::PathFileExistsW(family + L"\\Alpha\\alpha.exe")) << Read(kLog);
  EXPECT_TRUE(platform::PathFileExistsW(common)) << Read(kLog);
  Setup(none, b);
  EXPECT_TRUE(platform::PathFileExistsW(family + L"\\Beta\\beta.exe")) << Read(kLog);
  EXPECT_NE(RecordText().find("PV=\"ALPHA\""), std::string::npos) << RecordText();
  EXPECT_NE(RecordText().find("PV=\"BETA\""), std::string::npos) << RecordText();

  ASSERT_TRUE(
      tltest::WriteZip(a, {{"InstallScript.cfg", FamilyScript("Alpha", "ALPHA", "Uninstall")}}));
  Setup(remove, a);
  std::string log = Read(kLog);
  EXPECT_FALSE(platform::PathFileExistsW(family + L"\\Alpha")) << log;
  EXPECT_TRUE(platform::PathFileExistsW(common)) << "Beta still uses it\n" << log;
  EXPECT_EQ(log.find("Delete common folders"), std::string::npos) << log;

  ASSERT_TRUE(
      tltest::WriteZip(b, {{"InstallScript.cfg", FamilyScript("Beta", "BETA", "Uninstall")}}));
  Setup(remove, b);
  log = Read(kLog);
  EXPECT_TRUE(Has(log, "INFO : Delete common folders")) << log;
  EXPECT_FALSE(platform::PathFileExistsW(common)) << log;
  EXPECT_FALSE(platform::PathFileExistsW(family)) << log;
  EXPECT_TRUE(platform::PathIsDirectoryW(L"C:\\Program Files (x86)")) << log;
}

TEST_F(ProcessingRuns, RemovingAProductThatIsNotRecordedSaysSoAndShowsNoSuccess) {
  std::string a = machine.Base() + "/a.data";
  ASSERT_TRUE(
      tltest::WriteZip(a, {{"InstallScript.cfg", FamilyScript("Alpha", "ALPHA", "Uninstall")}}));
  platform::CreateDirectoryWithParents(L"C:\\ProgramData\\TOLMERA");
  platform::WriteWholeFile(kRecord,
                           "<?xml version=\"1.0\"?>\n<Settings Application=\"Alpha\" Path=\"\"/>");
  Setup(Answers("remove.txt", "[message MsgUninstall]\nanswer = Yes\n"), a);
  std::string log = Read(kLog);
  EXPECT_TRUE(Has(log,
                  "ERROR : ProcessInstallMain: product ALPHA version 1 is not installed; "
                  "nothing is removed"))
      << log;
  EXPECT_EQ(log.find("Uninstall finish successfully"), std::string::npos) << log;
}
