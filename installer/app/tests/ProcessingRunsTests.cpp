// The processing runs end to end: Setup as a process on fresh machines, answered by answer
// files, on the sample product and on small packages of their own.
#include "app/tests/SetupProcess.h"
#include "package/DataStorage.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using setuptest::BinDir;
using setuptest::Outcome;
using setuptest::PagesShown;
using setuptest::RunSetup;
using setuptest::Tlmachine;

namespace {

const std::wstring kLog = L"C:\\ProgramData\\TOLMERA\\tlinstall.log";
const std::wstring kRecord = L"C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg";

// Every page left with Next, in this order.
std::vector<std::string> Pages(std::initializer_list<const char*> names) {
  std::vector<std::string> pages;
  for (const char* name : names) pages.push_back(std::string(name) + " -> Next");
  return pages;
}

// The entries a `tlmachine diff` lists (its lines up to their details), in its order.
std::vector<std::string> DiffEntries(const std::string& diff) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  for (std::size_t end; (end = diff.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string line = diff.substr(start, end - start);
    if (line.empty() || line[0] == '#') continue;
    entries.push_back(line.substr(0, line.find('\t')));
  }
  return entries;
}

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
  std::string Tool(const std::string& args) { return Tlmachine(machine.Root(), args); }
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
  // The sample product packed again by tlpack from its staged folder, as its maker would pack
  // a later package: each text of `edits` in its script replaced (each must be there), each file
  // of `files` (a path below the package's folder, its content) written.
  std::string SampleVariant(const std::string& name,
                            const std::vector<std::pair<std::string, std::string>>& edits,
                            const std::vector<std::pair<std::string, std::string>>& files) {
    const char* build = std::getenv("TOLMERA_BUILD_DIR");
    const std::string stage = machine.Base() + "/" + name;
    std::filesystem::copy(std::string(build ? build : "build") + "/examples/sample-product/stage",
                          stage, std::filesystem::copy_options::recursive);
    std::string script = tltest::ReadHostFile(stage + "/InstallScript.cfg");
    for (const auto& [from, to] : edits) {
      std::size_t at = script.find(from);
      EXPECT_NE(at, std::string::npos) << from;
      if (at != std::string::npos) script.replace(at, from.size(), to);
    }
    std::ofstream(stage + "/InstallScript.cfg", std::ios::binary) << script;
    for (const auto& [path, text] : files)
      std::ofstream(stage + "/" + path, std::ios::binary) << text;
    const std::string package = stage + ".data";
    std::string said;
    int status = -1;
    std::string command =
        "'" + BinDir() + "/tlpack' build --strict '" + stage + "' -o '" + package + "' 2>&1";
    if (FILE* p = popen(command.c_str(), "r")) {
      char buffer[4096];
      size_t n;
      while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) said.append(buffer, n);
      status = pclose(p);
    }
    EXPECT_EQ(status, 0) << said;
    return package;
  }
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
    "[message MsgAskRegister]\nanswer = Yes\n[message MsgAskStart]\nanswer = Yes\n";

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
  EXPECT_EQ(PagesShown(log),
            Pages({"DLG_GREETING", "DLG_LANGUAGE_SELECTION", "DLG_LICENSE", "DLG_INSTALL_TYPE",
                   "DLG_DESTINATION", "DLG_COMPONENTS", "DLG_SUMMARY", "DLG_FINISH"}));
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
  EXPECT_EQ(PagesShown(log), Pages({"DLG_REPAIR", "DLG_FINISH"}));
  EXPECT_TRUE(Has(log, "INFO : Selected install action Repair")) << log;
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;

  // A change of components adds the help and takes the templates away.
  o = Setup(Answers("change.txt",
                    "[page DLG_REPAIR]\nInstallType = Change\nbutton = Next\n"
                    "[page DLG_COMPONENTS]\nSelectedLibraries = 1;2;4\nbutton = Next\n"
                    "[page DLG_SUMMARY]\nbutton = Next\n[page DLG_FINISH]\nbutton = Next\n"),
            SamplePackage());
  log = Read(kLog);
  EXPECT_TRUE(Has(log, "INFO : ChangeConfiguration: start")) << log;
  EXPECT_EQ(PagesShown(log), Pages({"DLG_REPAIR", "DLG_COMPONENTS", "DLG_SUMMARY", "DLG_FINISH"}));
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
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
  EXPECT_EQ(PagesShown(log), Pages({"DLG_REPAIR", "DLG_FINISH"}));
  EXPECT_TRUE(Has(log, "INFO : Selected install action Uninstall")) << log;
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
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
  // Those six, each by name: the log's folder and the log, the family's key with the counter of
  // the common files (at 0, and the last folder that used them).
  EXPECT_EQ(DiffEntries(diff),
            (std::vector<std::string>{
                "+ D C:\\ProgramData\\TOLMERA",
                "+ F C:\\ProgramData\\TOLMERA\\tlinstall.log",
                "+ K HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\TOLMERA",
                "+ K HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\TOLMERA\\Common",
                "+ V HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\TOLMERA\\Common : \"Count\"",
                "+ V HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\TOLMERA\\Common : \"Path\"",
            }))
      << diff;
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
  Outcome o = Setup(Answers("repair.txt",
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
  EXPECT_EQ(o.exitCode, 9) << o.stderrText << log;
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

namespace {

const char* kUpdateAnswers =
    "[page DLG_UPDATE]\nInstallType = Repair\nbutton = Next\n[page DLG_FINISH]\nbutton = Next\n"
    "[message MsgAskRegister]\nanswer = Yes\n[message MsgAskStart]\nanswer = No\n";

// How often `part` occurs in `text`.
int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

TEST_F(ProcessingRuns, AHigherBuildUpdatesTheFilesAndTheRecordAndThenTheOlderOneIsRefused) {
  Outcome o = Setup(Answers("install.txt", kInstallAnswers), SamplePackage());
  ASSERT_EQ(o.exitCode, 0) << o.stderrText;
  const std::string later = SampleVariant("build-7121", {{"Build=\"7120\"", "Build=\"7121\""}},
                                          {{"readme.txt", "Read me of build 7121\r\n"}});
  // The user's own settings, which the package's settings file replaces after a backup.
  ASSERT_EQ(platform::WriteWholeFile(kSample + L"\\bin\\settings.ini", "the user's settings"),
            platform::ERROR_SUCCESS);

  o = Setup(Answers("update.txt", kUpdateAnswers), later);
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  std::string log = Read(kLog);
  const std::string sample = platform::ToUtf8(kSample);
  EXPECT_TRUE(Has(log, "INFO : Scenario build = 7121")) << log;
  EXPECT_TRUE(Has(log, "INFO : Installed product build = 7120")) << log;
  EXPECT_TRUE(Has(log, "INFO : Install Type = Update =====================")) << log;
  EXPECT_EQ(PagesShown(log), Pages({"DLG_UPDATE", "DLG_FINISH"}));
  EXPECT_TRUE(Has(log, "INFO : Selected install action Repair")) << log;
  EXPECT_TRUE(Has(log, "INFO : Backup of " + sample + "\\bin\\settings.ini is " + sample +
                           "\\bin\\settings.bak"))
      << log;
  EXPECT_TRUE(Has(log, "INFO : Add product TDESIGN version 7")) << log;
  EXPECT_EQ(log.find("ERROR : "), std::string::npos) << log;
  EXPECT_EQ(Read(kSample + L"\\readme.txt"), "Read me of build 7121\r\n");
  EXPECT_EQ(Read(kSample + L"\\bin\\settings.bak"), "the user's settings");
  EXPECT_NE(Read(kSample + L"\\bin\\settings.ini"), "the user's settings");
  // One entry of the product, now at the new build, with what it had before.
  std::string record = RecordText();
  EXPECT_EQ(Occurrences(record, "<Project "), 1) << record;
  EXPECT_NE(record.find("Type=\"Local\" Build=\"7121\" PV=\"TDESIGN\""), std::string::npos)
      << record;
  EXPECT_NE(record.find("Libraries=\"1;2;3\""), std::string::npos) << record;

  // The earlier package is older than what is installed now: refused, nothing changes.
  o = Setup(Answers("again.txt", "# no question is expected\n"), SamplePackage());
  EXPECT_EQ(o.exitCode, 12) << o.stderrText;
  log = Read(kLog);
  EXPECT_NE(log.find("INFO : Message box: This package holds build 7120.\nA newer build is "
                     "installed already. -> OK\r\n"),
            std::string::npos)
      << log;
  EXPECT_TRUE(Has(log, "ERROR : A newer build of TOLMERA Design 7 is installed already.")) << log;
  EXPECT_TRUE(PagesShown(log).empty()) << log;
  EXPECT_EQ(RecordText(), record);
  EXPECT_EQ(Read(kSample + L"\\readme.txt"), "Read me of build 7121\r\n");
}

TEST_F(ProcessingRuns, AnUpdatePackageOfTheInstalledBuildUpdatesOnlyAfterYes) {
  Outcome o = Setup(Answers("install.txt", kInstallAnswers), SamplePackage());
  ASSERT_EQ(o.exitCode, 0) << o.stderrText;
  const std::string readme = Read(kSample + L"\\readme.txt");
  ASSERT_FALSE(readme.empty());
  const std::string record = RecordText();
  const std::string update =
      SampleVariant("only-update", {{"InstallType=\"Full\"", "InstallType=\"Update\""}},
                    {{"readme.txt", "Read me, updated in place\r\n"}});

  // No: the run ends with 1 before any page, and nothing is touched.
  o = Setup(Answers("no.txt", "[message MsgBeginUpdate]\nanswer = No\n"), update);
  EXPECT_EQ(o.exitCode, 1) << o.stderrText;
  std::string log = Read(kLog);
  EXPECT_TRUE(Has(log,
                  "INFO : Message box: This build is installed already. Update it anyway? "
                  "-> No"))
      << log;
  EXPECT_TRUE(PagesShown(log).empty()) << log;
  EXPECT_EQ(log.find("Add product"), std::string::npos) << log;
  EXPECT_EQ(Read(kSample + L"\\readme.txt"), readme);
  EXPECT_EQ(RecordText(), record);

  // Yes: the only-update, without a page before the finish page.
  o = Setup(Answers("yes.txt", std::string("[message MsgBeginUpdate]\nanswer = Yes\n") +
                                   "[page DLG_FINISH]\nbutton = Next\n"
                                   "[message MsgAskRegister]\nanswer = Yes\n"
                                   "[message MsgAskStart]\nanswer = No\n"),
            update);
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  log = Read(kLog);
  EXPECT_TRUE(Has(log, "INFO : Install Type = OnlyUpdate =====================")) << log;
  EXPECT_EQ(PagesShown(log), Pages({"DLG_FINISH"}));
  EXPECT_TRUE(Has(log, "INFO : Add product TDESIGN version 7")) << log;
  EXPECT_EQ(log.find("ERROR : "), std::string::npos) << log;
  EXPECT_EQ(Read(kSample + L"\\readme.txt"), "Read me, updated in place\r\n");
  EXPECT_EQ(RecordText(), record) << "the same build, libraries and language as before";
}

TEST_F(ProcessingRuns, TheWizardGoesBackAndInstallsInRussianWhereAndWhatTheUserChose) {
  // Russian, a destination that is changed after going back, and the components the user
  // picked: the record holds exactly those choices.
  Outcome o = Setup(Answers("wizard.txt",
                            "[page DLG_GREETING]\nbutton = Next\n"
                            "[page DLG_LANGUAGE_SELECTION]\nLanguage = 1\nbutton = Next\n"
                            "[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n"
                            "[page DLG_INSTALL_TYPE]\nInstallType = Local\nbutton = Next\n"
                            "[page DLG_DESTINATION]\nInstallPath = D:\\Nowhere\nbutton = Back\n"
                            "[page DLG_DESTINATION]\nInstallPath = C:\\Engineering\nbutton = Next\n"
                            "[page DLG_COMPONENTS]\nSelectedLibraries = 1;4\nbutton = Next\n"
                            "[page DLG_SUMMARY]\nbutton = Next\n[page DLG_FINISH]\nbutton = Next\n"
                            "[message MsgAskRegister]\nanswer = Yes\n"
                            "[message MsgAskStart]\nanswer = No\n"),
                    SamplePackage());
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  std::string log = Read(kLog);
  // Back on the first page of the installation's own group shows the group before again from
  // its last page.
  EXPECT_EQ(PagesShown(log),
            (std::vector<std::string>{"DLG_GREETING -> Next", "DLG_LANGUAGE_SELECTION -> Next",
                                      "DLG_LICENSE -> Next", "DLG_INSTALL_TYPE -> Next",
                                      "DLG_DESTINATION -> Back", "DLG_INSTALL_TYPE -> Next",
                                      "DLG_DESTINATION -> Next", "DLG_COMPONENTS -> Next",
                                      "DLG_SUMMARY -> Next", "DLG_FINISH -> Next"}))
      << log;
  EXPECT_EQ(log.find("ERROR : "), std::string::npos) << log;
  const std::wstring folder = L"C:\\Engineering\\TOLMERA Design 7";
  EXPECT_TRUE(platform::PathFileExistsW(folder + L"\\bin\\TolmeraDesign.exe")) << log;
  EXPECT_TRUE(platform::PathFileExistsW(folder + L"\\help\\index.html")) << log;
  EXPECT_FALSE(platform::PathFileExistsW(folder + L"\\catalog")) << "library 2 is not selected";
  EXPECT_FALSE(platform::PathFileExistsW(folder + L"\\templates")) << "library 3 is not selected";
  EXPECT_FALSE(platform::PathFileExistsW(kSample));
  EXPECT_FALSE(platform::PathFileExistsW(L"D:\\Nowhere"));
  EXPECT_EQ(RecordText(),
            "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"yes\"?>\n"
            "<Settings Application=\"TOLMERA Design 7\" Path=\"C:\\Engineering\\TOLMERA Design "
            "7\">\n"
            "\t<Project Version=\"7\" Path=\"C:\\Engineering\\TOLMERA Design 7\\Design 7\" "
            "Type=\"Local\" Build=\"7120\" PV=\"TDESIGN\" Registry=\"TolmeraDesign7\" "
            "Language=\"1049\" Libraries=\"1;4\" />\n"
            "</Settings>\n");
  std::string settings = Tool("reg query \"HKCU\\Software\\TOLMERA\\Design\\Settings\"");
  EXPECT_NE(settings.find("Language    REG_DWORD    0x419"), std::string::npos) << settings;

  // The removal finds the product where it went; the folder the user typed stays, empty.
  o = Setup(Answers("remove.txt",
                    "[page DLG_REPAIR]\nInstallType = Uninstall\nbutton = Next\n"
                    "[message MsgUninstall]\nanswer = Yes\n[page DLG_FINISH]\nbutton = Next\n"),
            SamplePackage());
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  log = Read(kLog);
  EXPECT_EQ(PagesShown(log), Pages({"DLG_REPAIR", "DLG_FINISH"}));
  EXPECT_TRUE(Has(log, "INFO : Remove product TDESIGN version 7")) << log;
  EXPECT_FALSE(platform::PathFileExistsW(folder)) << log;
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Engineering\\Common")) << log;
  EXPECT_TRUE(std::filesystem::is_empty(machine.C("Engineering"))) << log;
  EXPECT_FALSE(platform::PathFileExistsW(kRecord));
}

TEST_F(ProcessingRuns, AFreshInstallThatLeavesAFolderToTheRestartIsRegisteredForRemoval) {
  // A file of the help (a library the installation leaves out) is there before and held open:
  // the installation cannot take that folder away, which leaves it to the next start.
  const std::wstring held = kSample + L"\\help\\index.html";
  platform::CreateDirectoryWithParents(kSample + L"\\help");
  ASSERT_EQ(platform::WriteWholeFile(held, "left from before"), platform::ERROR_SUCCESS);
  FileHolder holder(machine.Root(), held);
  ASSERT_EQ(holder.Said().rfind("holding ", 0), 0u) << holder.Said();
  std::string answers = kInstallAnswers;
  answers.replace(answers.find("[page DLG_FINISH]\nbutton = Next\n"),
                  std::string("[page DLG_FINISH]\nbutton = Next\n").size(),
                  "[page DLG_FINISH]\nRestart = Later\nbutton = Next\n");
  Outcome o = Setup(Answers("install.txt", answers), SamplePackage());
  holder.Release();
  // The finish page offered the restart (the answer's "Restart" is taken only then).
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  std::string log = Read(kLog);
  EXPECT_TRUE(Has(log, "WARNING : CommonStepFolders: Folder = " + platform::ToUtf8(kSample) +
                           "\\help is not deleted"))
      << log;
  // Installed all the same, and the user can remove it from the list of programs.
  EXPECT_TRUE(platform::PathFileExistsW(kSample + L"\\bin\\TolmeraDesign.exe")) << log;
  EXPECT_NE(RecordText().find("PV=\"TDESIGN\""), std::string::npos) << RecordText();
  EXPECT_NE(Tool("programs").find("\tHKLM (32-bit)\\TolmeraDesign7\n"), std::string::npos) << log;
  EXPECT_NE(log.find("INFO : AddUninstallerInfo: create key "
                     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TolmeraDesign7 OK"),
            std::string::npos)
      << log;
  // The next start takes the help away.
  std::string restart = Tool("restart");
  EXPECT_NE(restart.find("restarted;"), std::string::npos) << restart;
  EXPECT_FALSE(platform::PathFileExistsW(kSample + L"\\help")) << restart;
  EXPECT_TRUE(platform::PathFileExistsW(kSample + L"\\bin\\TolmeraDesign.exe"));
}

TEST_F(ProcessingRuns, ADestinationAPersonCouldNotChooseEndsTheRunWithItsReasonAndInstallsNothing) {
  std::string answers = kInstallAnswers;
  const std::string page = "[page DLG_DESTINATION]\n";
  answers.insert(answers.find(page) + page.size(), "InstallPath = Engineering\\Design\n");
  Outcome o = Setup(Answers("relative.txt", answers), SamplePackage());
  EXPECT_EQ(o.exitCode, 13) << o.stderrText;
  std::string log = Read(kLog);
  const std::string why =
      "The folder \"Engineering\\Design\" cannot be used: the folder is not a full local or "
      "network folder.";
  // The page's own message, as a person would see it, then the line that names the page.
  EXPECT_TRUE(Has(log, "WARNING : CDlgDestination: " + why)) << log;
  EXPECT_TRUE(Has(log, "INFO : Message box: " + why + " -> OK")) << log;
  EXPECT_NE(log.find("ERROR : CInstallManager::Run() a question was not answered: The page "
                     "DLG_DESTINATION does not accept the answer's values"),
            std::string::npos)
      << log;
  EXPECT_EQ(PagesShown(log),
            Pages({"DLG_GREETING", "DLG_LANGUAGE_SELECTION", "DLG_LICENSE", "DLG_INSTALL_TYPE"}));
  EXPECT_FALSE(platform::PathFileExistsW(kSample));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Engineering"));
  EXPECT_FALSE(platform::PathFileExistsW(kRecord));
  EXPECT_EQ(Tool("programs").find("TolmeraDesign7"), std::string::npos);
}

namespace {

const std::wstring kOnD = L"D:\\Programs\\TOLMERA Design 7";
const std::string kDiskFull = "There is not enough space on the disk.";

// The unpacked bytes of a folder of the sample package.
std::uint64_t SampleFolderBytes(const std::wstring& folder) {
  DataStorage::CDataStorage storage;
  const std::string package = std::filesystem::absolute(SamplePackage()).string();
  EXPECT_TRUE(storage.Open(platform::HostToWindowsPath(package), nullptr)) << package;
  std::uint64_t count = 0, packed = 0, unpacked = 0;
  const std::wstring prefix = folder + L"\\";
  EXPECT_TRUE(storage.Measure(&prefix, count, packed, unpacked));
  storage.Close();
  return unpacked;
}

// Room on D: for the catalogue folder alone, not for it after the folders the installation
// copies before it (config, bin): the copy of the catalogue finds the disk full midway.
std::string RoomForTheCatalogueOnly() {
  const std::uint64_t before = SampleFolderBytes(L"config") + SampleFolderBytes(L"bin");
  return std::to_string(SampleFolderBytes(L"catalog") + before / 2);
}

// The files below a host folder with their contents, by their paths below it.
std::map<std::string, std::string> FilesBelow(const std::string& folder) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::exists(folder)) return files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder))
    if (e.is_regular_file())
      files[std::filesystem::relative(e.path(), folder).string()] =
          tltest::ReadHostFile(e.path().string());
  return files;
}

// The file named by the run log's "is not written" line, or empty.
std::string FileNotWritten(const std::string& log) {
  const std::string mark = "ERROR : CUnzipper::UnzipFile File = ";
  const std::string tail = " is not written: " + kDiskFull;
  std::size_t at = log.find(mark);
  if (at == std::string::npos) return "";
  at += mark.size();
  std::size_t end = log.find(tail, at);
  return end == std::string::npos ? "" : log.substr(at, end - at);
}

// Every file below a host folder with its size, for a before/after comparison.
std::string TreeListing(const std::string& folder) {
  std::string out;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    out += e.path().string();
    if (e.is_regular_file()) out += " " + std::to_string(e.file_size());
    out += "\n";
  }
  return out;
}

}  // namespace

class DiskFullRuns : public ProcessingRuns {
 protected:
  // Drive D: for Setup and for this process: `freeBytes` of room, or the host's when empty.
  void DriveD(const std::string& freeBytes) {
    const std::string ini = machine.Root() + "/machine.ini";
    std::string text = tltest::ReadHostFile(ini);
    const std::size_t at = text.find("\n[drive D]\n");
    if (at != std::string::npos) text.erase(at);
    text += "\n[drive D]\nfree_bytes = " + freeBytes + "\n";
    std::ofstream(ini, std::ios::binary) << text;
    platform::Machine::Current().Reload();
    std::filesystem::create_directories(machine.Root() + "/drive_d");
  }
  std::string OnD() const { return machine.Root() + "/drive_d/Programs/TOLMERA Design 7"; }
  static std::string InstallOnD() {
    std::string answers = kInstallAnswers;
    const std::string page = "[page DLG_DESTINATION]\n";
    answers.insert(answers.find(page) + page.size(),
                   "InstallPath = " + platform::ToUtf8(kOnD) + "\n");
    return answers + "[message MsgInstallError]\nanswer = No\n";
  }
};

TEST_F(DiskFullRuns, AFullDiskDuringAFreshInstallationFailsTheRunAndTakesBackWhatWasCopied) {
  DriveD(RoomForTheCatalogueOnly());
  // What the user has on D: already stays as it is.
  ASSERT_EQ(platform::CreateDirectoryWithParents(L"D:\\Programs"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(L"D:\\Programs\\notes.txt", "the user's notes"),
            platform::ERROR_SUCCESS);
  const std::string programs = Tool("programs");

  Outcome o = Setup(Answers("install-d.txt", InstallOnD()), SamplePackage());
  const std::string log = Read(kLog);
  const std::string product = platform::ToUtf8(kOnD);
  EXPECT_EQ(o.exitCode, 13) << o.stderrText << log;
  const std::string failed = FileNotWritten(log);
  EXPECT_EQ(failed.rfind(product + "\\catalog\\", 0), 0u) << log;
  EXPECT_TRUE(Has(log, "ERROR : CommonStepFolders: Folder = " + product +
                           "\\catalog is not copied: " + kDiskFull))
      << log;
  EXPECT_TRUE(Has(log, "ERROR : Errors happened during the installation.")) << log;
  EXPECT_TRUE(Has(log, "INFO : FinishRun: the installation into " + product + " is rolled back"))
      << log;
  EXPECT_EQ(log.find("INFO : Add product"), std::string::npos) << log;
  EXPECT_EQ(log.find("INFO : Page DLG_FINISH"), std::string::npos) << "no success shown";
  EXPECT_EQ(log.find("INFO : CommonStepFolders: Folder = " + product + "\\templates is created"),
            std::string::npos)
      << "nothing is copied after the failure";
  // Nothing of the product is left, nothing is recorded or registered; the user's file stays.
  EXPECT_FALSE(platform::PathFileExistsW(kOnD)) << log;
  EXPECT_FALSE(platform::PathFileExistsW(L"D:\\Programs\\Common")) << log;
  EXPECT_EQ(Read(L"D:\\Programs\\notes.txt"), "the user's notes");
  EXPECT_FALSE(platform::PathFileExistsW(kRecord)) << RecordText();
  EXPECT_EQ(Tool("programs"), programs);
}

TEST_F(DiskFullRuns, AFullDiskDuringAnUpdateKeepsTheInstalledProductAndItsRecord) {
  DriveD("");
  Outcome o = Setup(Answers("install-d.txt", InstallOnD()), SamplePackage());
  ASSERT_EQ(o.exitCode, 0) << o.stderrText << Read(kLog);
  const std::string record = RecordText();
  ASSERT_NE(record.find("Build=\"7120\""), std::string::npos) << record;
  const auto before = FilesBelow(OnD());
  ASSERT_GT(before.size(), 100u);
  const std::string later = SampleVariant("build-7121", {{"Build=\"7120\"", "Build=\"7121\""}},
                                          {{"readme.txt", "Read me of build 7121\r\n"}});

  DriveD(RoomForTheCatalogueOnly());
  o = Setup(Answers("update.txt",
                    std::string(kUpdateAnswers) + "[message MsgInstallError]\nanswer = No\n"),
            later);
  const std::string log = Read(kLog);
  const std::string product = platform::ToUtf8(kOnD);
  EXPECT_EQ(o.exitCode, 13) << o.stderrText << log;
  EXPECT_TRUE(Has(log, "INFO : Install Type = Update =====================")) << log;
  EXPECT_TRUE(Has(log, "ERROR : CommonStepFolders: Folder = " + product +
                           "\\catalog is not copied: " + kDiskFull))
      << log;
  EXPECT_EQ(log.find("INFO : Add product"), std::string::npos) << log;
  EXPECT_EQ(log.find("rolled back"), std::string::npos) << "an update is not taken back";
  // Still recorded as build 7120, as it was; every installed file is there, the one the disk
  // stopped with what it held, and no new file half written beside any.
  EXPECT_EQ(RecordText(), record);
  const auto after = FilesBelow(OnD());
  for (const auto& [path, content] : before) EXPECT_TRUE(after.count(path)) << path << " is gone";
  for (const auto& [path, content] : after)
    EXPECT_TRUE(before.count(path) || (path.size() > 4 && path.substr(path.size() - 4) == ".bak"))
        << path << " is new";
  const std::string failed = FileNotWritten(log);
  ASSERT_EQ(failed.rfind(product + "\\catalog\\", 0), 0u) << log;
  std::string relative = failed.substr(product.size() + 1);
  for (char& c : relative)
    if (c == '\\') c = '/';
  ASSERT_TRUE(before.count(relative)) << relative;
  EXPECT_EQ(after.at(relative), before.at(relative));
  // The product is still the installed one: the same package repairs it with room again.
  DriveD("");
  o = Setup(Answers("update-again.txt", kUpdateAnswers), later);
  EXPECT_EQ(o.exitCode, 0) << o.stderrText << Read(kLog);
  EXPECT_NE(RecordText().find("Build=\"7121\""), std::string::npos) << RecordText();
  EXPECT_EQ(Read(kOnD + L"\\readme.txt"), "Read me of build 7121\r\n");
}

TEST_F(ProcessingRuns, ACancelledFreshInstallationLeavesNoRecordFile) {
  // Cancelled on a page before anything is copied, and by Escape during the copy.
  for (const std::string& answers :
       {std::string("[page DLG_GREETING]\nbutton = Next\n[page DLG_LANGUAGE_SELECTION]\n"
                    "button = Next\n[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n"
                    "[page DLG_INSTALL_TYPE]\nInstallType = Local\nbutton = Next\n"
                    "[page DLG_DESTINATION]\nbutton = Next\n[page DLG_COMPONENTS]\n"
                    "button = Next\n[page DLG_SUMMARY]\nbutton = Cancel\n"),
        std::string(kInstallAnswers) + "[progress Escape]\nstage = TEXT_INSTALL\n"
                                       "[message MsgCancellInstallation]\nanswer = Yes\n"}) {
    Outcome o = Setup(Answers("cancel.txt", answers), SamplePackage());
    EXPECT_EQ(o.exitCode, 1) << o.stderrText << Read(kLog);
    EXPECT_FALSE(platform::PathFileExistsW(kRecord)) << RecordText();
    EXPECT_FALSE(platform::PathFileExistsW(kSample)) << Read(kLog);
    // The folder of the record keeps the run log only.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(machine.C("ProgramData/TOLMERA")))
      names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"tlinstall.log"});
  }
}

TEST_F(ProcessingRuns, TheSamplesProgramsRunAfterTheFilesTheyNeedAreCopied) {
  Outcome o = Setup(Answers("install.txt", kInstallAnswers), SamplePackage());
  ASSERT_EQ(o.exitCode, 0) << o.stderrText;
  const std::string log = Read(kLog);
  const std::string bin = platform::ToUtf8(kSample) + "\\bin";
  // postinstall.cmd found its program beside it and registered the installed copy.
  EXPECT_TRUE(Has(log, "INFO : CommonStepExec: File = " + bin + "\\postinstall.cmd exists")) << log;
  EXPECT_EQ(Read(kSample + L"\\bin\\registered.txt"),
            "registered " + platform::ToUtf8(kSample) + "\n")
      << log;
  // It ran after the copy and after the record was saved.
  EXPECT_LT(log.find("INFO : Add product TDESIGN version 7"),
            log.find("INFO : CommonStepExec: File = " + bin + "\\postinstall.cmd exists"));
  // The data folder that the rights name exists, with its files, and the users have it.
  const std::wstring data = L"C:\\ProgramData\\TOLMERA\\Design 7";
  EXPECT_TRUE(platform::PathFileExistsW(data + L"\\readme.txt")) << log;
  EXPECT_EQ(log.find("does not exist or is not accessible"), std::string::npos) << log;
  EXPECT_EQ(log.find("is not set permissions"), std::string::npos) << log;
  EXPECT_NE(log.find("AddAccessRights() succeeded. File = " + platform::ToUtf8(data) +
                     ", Account = -EVERYONE:"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("ERROR : "), std::string::npos) << log;
}

TEST_F(ProcessingRuns, ARecordEditedToPointAtTheSystemRemovesNothingAndFailsWithItsLine) {
  std::string a = machine.Base() + "/a.data";
  ASSERT_TRUE(tltest::WriteZip(a, {{"InstallScript.cfg", FamilyScript("Alpha", "ALPHA")},
                                   {"Alpha/alpha.exe", "alpha"},
                                   {"Shared/common.dll", "shared"}}));
  Setup(Answers("none.txt", "# no page is shown\n"), a);
  ASSERT_TRUE(platform::PathFileExistsW(L"C:\\Program Files (x86)\\Family\\Alpha\\alpha.exe"))
      << Read(kLog);
  // What a removal by the script's names would take in the system's folders.
  ASSERT_EQ(platform::CreateDirectoryWithParents(L"C:\\Windows\\Alpha"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Windows\\Alpha\\keep.dll", "system"),
            platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Alpha.txt", "root"), platform::ERROR_SUCCESS);
  ASSERT_TRUE(
      tltest::WriteZip(a, {{"InstallScript.cfg", FamilyScript("Alpha", "ALPHA", "Uninstall")}}));
  const std::string remove = Answers("remove.txt", "[message MsgUninstall]\nanswer = Yes\n");
  for (const char* path : {"C:\\Windows\\Alpha", "C:\\Alpha"}) {
    const std::string record =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings Application=\"Family\" "
        "Path=\"C:\\Program Files (x86)\\Family\"><Project Version=\"1\" Path=\"" +
        std::string(path) + "\" Type=\"Local\" Build=\"10\" PV=\"ALPHA\"/></Settings>\n";
    ASSERT_EQ(platform::WriteWholeFile(L"C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg", record),
              platform::ERROR_SUCCESS);
    const std::string before = TreeListing(machine.Root() + "/drive_c");
    Outcome o = Setup(remove, a);
    const std::string log = Read(kLog);
    EXPECT_NE(o.exitCode, 0) << log;
    EXPECT_NE(log.find("ERROR : RunSteps: the product folder"), std::string::npos) << log;
    EXPECT_NE(log.find("is a protected place of the system; nothing is changed"), std::string::npos)
        << log;
    // The run log is the only thing that changed on the drive.
    std::string after = TreeListing(machine.Root() + "/drive_c");
    auto strip = [](std::string text) {
      std::string kept, line;
      std::istringstream in(text);
      while (std::getline(in, line))
        if (line.find("tlinstall.log") == std::string::npos &&
            line.find("/Temp/") == std::string::npos)
          kept += line + "\n";
      return kept;
    };
    EXPECT_EQ(strip(before), strip(after)) << path;
  }
}
