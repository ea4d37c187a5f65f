#include "pack/PackageTest.h"

#include "Programs.h"
#include "Snapshot.h"
#include "app/RunLog.h"
#include "pack/PackageFiles.h"
#include "package/Macros.h"
#include "package/ScriptFormat.h"
#include "package/ScriptVocabulary.h"
#include "package/XmlSettings.h"
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Processes.h"
#include "platform/Restart.h"
#include "platform/Text.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace TlPack {

namespace {

using Clock = std::chrono::steady_clock;

// A run that answers from a file never waits for anyone; one that runs this long is stopped.
constexpr auto kRunLimit = std::chrono::minutes(5);

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Starts a host program with the machine and the answers in its environment and waits for it.
// Without `screenshots` the program gets no display; with it, the display stays and the
// pictures go into that folder.
int Spawn(const std::string& program, const std::vector<std::string>& args,
          const std::string& machineRoot, const std::string& answers, const std::string& errPath,
          const std::string& screenshots, std::string& note) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string v = *e;
    if (v.rfind("TOLMERA_MACHINE=", 0) == 0 || v.rfind("TOLMERA_ANSWERS=", 0) == 0 ||
        v.rfind("TOLMERA_SCREENSHOTS=", 0) == 0 ||
        (screenshots.empty() &&
         (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0)))
      continue;
    env.push_back(v);
  }
  env.push_back("TOLMERA_MACHINE=" + machineRoot);
  env.push_back("TOLMERA_ANSWERS=" + answers);
  if (!screenshots.empty()) env.push_back("TOLMERA_SCREENSHOTS=" + screenshots);
  std::vector<char*> envp;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    note = program + " cannot be started";
    return -1;
  }
  int status = 0;
  const auto deadline = Clock::now() + kRunLimit;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      note = "stopped after 5 minutes";
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The ERROR and WARNING lines of a run log's text, and its "Message box: ...", "Page ..." and
// "Select installation: ..." (the row chosen on the install-type page) lines.
void ReadLogText(const std::string& text, std::vector<std::string>& lines,
                 std::vector<std::string>& questions) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find("  ERROR : ") != std::string::npos ||
        line.find("  WARNING : ") != std::string::npos)
      lines.push_back(line);
    else if (const std::size_t at = line.find("  INFO : ");
             at != std::string::npos && (line.compare(at + 9, 13, "Message box: ") == 0 ||
                                         line.compare(at + 9, 5, "Page ") == 0 ||
                                         line.compare(at + 9, 20, "Select installation:") == 0))
      questions.push_back(line.substr(at + 9));
  }
}

// The ERROR and WARNING lines of the run logs a step wrote (the files it added or changed that
// are run logs).
std::vector<std::string> LogLinesOf(const tlmachine::Snapshot& before,
                                    const tlmachine::Snapshot& after,
                                    std::set<std::wstring, platform::NoCaseLess>& logs,
                                    std::vector<std::string>& questions) {
  std::vector<std::string> lines;
  for (const auto& [id, details] : after) {
    if (id.rfind("F ", 0) != 0) continue;
    auto old = before.find(id);
    if (old != before.end() && old->second == details) continue;
    std::wstring path = platform::FromUtf8(id.substr(2));
    if (!InstallManager::IsRunLogFile(path)) continue;
    logs.insert(path);
    std::string bytes;
    if (platform::ReadWholeFile(path, bytes) != platform::ERROR_SUCCESS) continue;
    ReadLogText(platform::ToUtf8(platform::AnsiToWide(bytes)), lines, questions);
  }
  return lines;
}

std::string Upper(const std::string& s) {
  return platform::ToUtf8(platform::ToUpper(platform::FromUtf8(s)));
}

// A registry path in the form the snapshot ids have, upper case, without the 32-bit view's
// "WOW6432Node" (the counter's key is written by a 32-bit installer).
std::string KeyForm(std::string key) {
  key = Upper(key);
  const std::string wow = "\\WOW6432NODE";
  for (std::size_t at; (at = key.find(wow)) != std::string::npos;) key.erase(at, wow.size());
  return key;
}

// The family's common-files counter key of the package's script ("": none).
std::string CommonKeyOf(const std::string& package) {
  std::string bytes;
  std::wstring error;
  if (!ReadArchiveEntry(platform::HostToWindowsPath(package), ScriptNames::kScriptFile, bytes,
                        error))
    return "";
  CommonTools::CXmlSettings doc;
  CommonTools::SettingsNodePtr root;
  if (!doc.LoadFromBytes(bytes) || !doc.GetRoot(root)) return "";
  CommonTools::CMacroTable macros;
  macros.Load(root);
  const auto builtins = CommonTools::BuiltinVariables({});
  CommonTools::Script::CommonInfo info;
  CommonTools::Script::ReadCommonInfo(
      root,
      [&](const CommonTools::SettingsNodePtr& node, const std::wstring& name) {
        std::wstring value = CommonTools::GetText(node, name);
        if (!value.empty()) macros.Expand(value, 0, 4, builtins);
        std::replace(value.begin(), value.end(), L'/', L'\\');
        return value;
      },
      info);
  if (info.commonKey.empty()) return "";
  std::wstring key = info.commonKey;
  while (!key.empty() && key.front() == L'\\') key.erase(0, 1);
  return KeyForm("HKEY_LOCAL_MACHINE\\" + platform::ToUtf8(key));
}

// Is a diff line something the installer keeps on purpose?
bool IsKept(const std::string& id, const std::string& details,
            const std::set<std::wstring, platform::NoCaseLess>& logs,
            const std::string& commonKey) {
  if (id.rfind("F ", 0) == 0) return logs.count(platform::FromUtf8(id.substr(2))) != 0;
  if (id.rfind("D ", 0) == 0) {
    std::wstring folder = platform::FromUtf8(id.substr(2)) + L"\\";
    for (const std::wstring& log : logs)
      if (platform::StartsWithNoCase(log, folder)) return true;
    return false;
  }
  if (commonKey.empty()) return false;
  if (id.rfind("K ", 0) == 0) {
    std::string key = KeyForm(id.substr(2));
    const std::string software = "HKEY_LOCAL_MACHINE\\SOFTWARE";
    return key == commonKey ||
           (key.size() > software.size() && commonKey.rfind(key + "\\", 0) == 0);
  }
  if (id.rfind("V ", 0) == 0) {
    std::size_t sep = id.find(" : \"");
    if (sep == std::string::npos) return false;
    if (KeyForm(id.substr(2, sep - 2)) != commonKey) return false;
    std::string name = Upper(id.substr(sep + 4, id.size() - sep - 5));
    if (name == "PATH") return true;
    return name == "COUNT" && details == "REG_DWORD dword:00000000";
  }
  return false;
}

// The [message ...] and [defaults] sections of an answer file, as written.
std::string MessageSections(const std::string& answers, const std::string& except) {
  std::istringstream in(answers);
  std::string line, out;
  bool keep = false;
  while (std::getline(in, line)) {
    std::string trimmed = line;
    trimmed.erase(0, trimmed.find_first_not_of(" \t"));
    if (!trimmed.empty() && trimmed[0] == '[') {
      std::string head = Upper(trimmed);
      keep = head.rfind("[DEFAULTS", 0) == 0 ||
             (head.rfind("[MESSAGE", 0) == 0 &&
              (except.empty() || head.find(Upper(except)) == std::string::npos));
      if (keep) out += "\n";
    }
    if (keep) out += line + "\n";
  }
  return out;
}

std::string ReadHost(const std::string& path) {
  std::string text;
  platform::hostio::ReadFile(path, text);
  return text;
}

}  // namespace

bool TestReport::Passed() const {
  if (!traces.empty() || steps.empty()) return false;
  return std::all_of(steps.begin(), steps.end(), [](const StepReport& s) { return s.ok; });
}

std::string DefaultInstallAnswers() {
  return "# The defaults: a local installation into the offered folder, the offered components;\n"
         "# every other page and question takes its default button.\n"
         "[defaults]\nbutton = default\n\n"
         "[page DLG_GREETING]\nbutton = Next\n\n"
         "[page DLG_LANGUAGE_SELECTION]\nbutton = Next\n\n"
         "[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n\n"
         "[page DLG_INSTALL_TYPE]\nInstallType = Local\nbutton = Next\n\n"
         "[page DLG_DESTINATION]\nbutton = Next\n\n"
         "[page DLG_COMPONENTS]\nbutton = Next\n\n"
         "[page DLG_SUMMARY]\nbutton = Next\n\n"
         "[page DLG_FINISH]\nbutton = Next\n";
}

std::string WithInstallType(const std::string& installAnswers, const std::string& installType) {
  const std::string page =
      "[PAGE " + Upper(platform::ToUtf8(ScriptNames::Page::kInstallType)) + "]";
  std::istringstream in(installAnswers);
  std::string line, out;
  bool drop = false;
  while (std::getline(in, line)) {
    std::string head = line;
    head.erase(0, head.find_first_not_of(" \t"));
    while (!head.empty() && (head.back() == '\r' || head.back() == ' ' || head.back() == '\t'))
      head.pop_back();
    if (!head.empty() && head[0] == '[') {
      // "[ page  DLG_INSTALL_TYPE ]" is the same section: blanks around the words do not count.
      std::string words;
      std::istringstream split(Upper(head.substr(1, head.find(']') - 1)));
      for (std::string w; split >> w;) words += (words.empty() ? "" : " ") + w;
      drop = "[" + words + "]" == page;
    }
    if (!drop) out += line + "\n";
  }
  return out + "\n[page " + platform::ToUtf8(ScriptNames::Page::kInstallType) +
         "]\nInstallType = " + installType + "\nbutton = Next\n";
}

std::string RepairAnswers(const std::string& installAnswers) {
  return "[page DLG_REPAIR]\nInstallType = Repair\nbutton = Next\n\n"
         "[page DLG_REPAIR_TRUNCATED]\nInstallType = Repair\nbutton = Next\n\n"
         "[page DLG_FINISH]\nbutton = Next\n" +
         MessageSections(installAnswers, "");
}

std::string ChangeAnswers(const std::string& installAnswers) {
  return "[page DLG_REPAIR]\nInstallType = Change\nbutton = Next\n\n"
         "[page DLG_REPAIR_TRUNCATED]\nbutton = Cancel\n\n"
         "[page DLG_COMPONENTS]\nbutton = Next\n\n"
         "[page DLG_SUMMARY]\nbutton = Next\n\n"
         "[page DLG_FINISH]\nbutton = Next\n" +
         MessageSections(installAnswers, "");
}

std::string RemovalAnswers(const std::string& installAnswers) {
  return "[page DLG_REPAIR]\nInstallType = Uninstall\nbutton = Next\n\n"
         "[page DLG_REPAIR_TRUNCATED]\nInstallType = Uninstall\nbutton = Next\n\n"
         "[message MsgUninstall]\nanswer = Yes\n\n"
         "[page DLG_FINISH]\nbutton = Next\n" +
         MessageSections(installAnswers, platform::ToUtf8(ScriptNames::Message::kUninstall));
}

TestReport RunPackageTest(const TestOptions& options) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const std::string setup = options.binDir + "/Setup";
  if (::access(setup.c_str(), X_OK) != 0) throw std::runtime_error(setup + " is not there");
  if (!fs::is_regular_file(options.package, ec))
    throw std::runtime_error(options.package + " is not a package archive");
  if (!options.previous.empty() && !fs::is_regular_file(options.previous, ec))
    throw std::runtime_error(options.previous + " is not a package archive");
  const std::string package = fs::absolute(options.package).lexically_normal().string();
  std::string installAnswers = DefaultInstallAnswers();
  if (!options.answers.empty() && !platform::hostio::ReadFile(options.answers, installAnswers))
    throw std::runtime_error(options.answers + " cannot be read");
  if (!options.installType.empty())
    installAnswers = WithInstallType(installAnswers, options.installType);

  TestReport report;
  const std::string scratch = platform::hostio::MakeTempDir("tlpack-test-");
  if (scratch.empty()) throw std::runtime_error("no temporary folder can be made");
  struct Cleanup {
    std::string scratch, machine;
    ~Cleanup() {
      platform::Machine::ResetCurrent();
      if (!machine.empty()) platform::hostio::RemoveTree(machine);
      platform::hostio::RemoveTree(scratch);
    }
  } cleanup{scratch, ""};
  if (!options.keep.empty()) {
    if (fs::exists(options.keep, ec) && !platform::hostio::IsEmptyDirectory(options.keep))
      throw std::runtime_error(options.keep + " is not empty: the machine is made in a new folder");
    report.machineRoot = fs::absolute(options.keep).lexically_normal().string();
  } else {
    report.machineRoot = scratch + "/machine";
    cleanup.machine = report.machineRoot;
  }
  if (options.machineIni.empty()) {
    platform::Machine::Init(report.machineRoot);
  } else {
    try {
      platform::Machine::Init(report.machineRoot,
                              platform::MachineConfig::Parse(options.machineIni));
    } catch (const platform::MachineError& e) {
      throw std::runtime_error(std::string("the machine cannot be made: ") + e.what());
    }
  }
  platform::Machine::SetCurrentForProcess(report.machineRoot);
  ::setenv("TOLMERA_MACHINE", report.machineRoot.c_str(), 1);

  // The author's own file is run as it is, unless a row of the install-type page is chosen.
  const bool own = !options.answers.empty() && options.installType.empty();
  const std::string installFile = own ? fs::absolute(options.answers).lexically_normal().string()
                                      : scratch + "/install.answers";
  if (!own) platform::hostio::WriteFileAtomic(installFile, installAnswers);
  const std::string repairFile = scratch + "/repair.answers";
  const std::string changeFile = scratch + "/change.answers";
  platform::hostio::WriteFileAtomic(changeFile, ChangeAnswers(installAnswers));
  const std::string removalFile = scratch + "/removal.answers";
  platform::hostio::WriteFileAtomic(repairFile, RepairAnswers(installAnswers));
  platform::hostio::WriteFileAtomic(removalFile, RemovalAnswers(installAnswers));
  const std::string errPath = scratch + "/setup.stderr";

  const tlmachine::Snapshot fresh = tlmachine::TakeSnapshot();
  const auto freshPrograms = tlmachine::ListPrograms();
  std::set<std::wstring, platform::NoCaseLess> logs;
  tlmachine::Snapshot last = fresh;

  // The pictures of a step, in the order they were taken (their names are numbered).
  auto shotsOf = [&](const std::string& step) {
    return options.screenshots.empty() ? std::string() : options.screenshots + "/" + step;
  };
  auto finish = [&](StepReport& step, Clock::time_point start) {
    step.seconds = Seconds(start);
    if (!options.screenshots.empty()) {
      std::vector<std::string> pictures;
      for (const auto& entry : fs::directory_iterator(shotsOf(step.name), ec))
        if (entry.is_regular_file() && entry.path().extension() == ".png")
          pictures.push_back(entry.path().string());
      std::sort(pictures.begin(), pictures.end());
      step.screenshots.insert(step.screenshots.end(), pictures.begin(), pictures.end());
    }
    // 15: the run succeeded and asked for a restart.
    step.ok = step.ok || step.exitCode == 0 || step.exitCode == 15;
    tlmachine::Snapshot now = tlmachine::TakeSnapshot();
    step.logLines = LogLinesOf(last, now, logs, step.questions);
    last = std::move(now);
    std::string err = ReadHost(errPath);
    // A run whose log cannot be written on the machine writes its entries to stderr instead:
    // what it asked and logged is read from there.
    if (step.logLines.empty() && step.questions.empty() &&
        err.find("its entries go to the debugger output") != std::string::npos)
      ReadLogText(err, step.logLines, step.questions);
    if (!err.empty() && step.exitCode != 0 && step.exitCode != 15) {
      while (!err.empty() && err.back() == '\n') err.pop_back();
      step.note += (step.note.empty() ? "" : "; ") + err;
    }
    ::unlink(errPath.c_str());
    report.steps.push_back(step);
  };

  // 0. With a previous build: that build installed first, so that the installation is its update.
  std::size_t before = 0;
  if (!options.previous.empty()) {
    StepReport step;
    step.name = "install previous";
    step.note = "the previous build " + options.previous;
    const auto start = Clock::now();
    step.exitCode =
        Spawn(setup, {"/X", fs::absolute(options.previous).lexically_normal().string()},
              report.machineRoot, installFile, errPath, shotsOf("install previous"), step.note);
    finish(step, start);
    before = 1;
  }

  // 1. Install (or update), 2. repair, 3. change (of the components, to those offered).
  const char* const kNames[] = {"install", "repair", "change"};
  for (int pass = 0; pass < 3 && (before == 0 || report.steps.front().ok); ++pass) {
    StepReport step;
    step.name = pass == 0 && before ? "update" : kNames[pass];
    step.note =
        pass == 0
            ? "answers: " +
                  (options.answers.empty() ? std::string("the defaults") : options.answers) +
                  (options.installType.empty() ? std::string()
                                               : ", the installation type " + options.installType)
        : pass == 1 ? "answers: a repair"
                    : "answers: a change to the components offered";
    const auto start = Clock::now();
    const std::string& answers = pass == 0 ? installFile : pass == 1 ? repairFile : changeFile;
    step.exitCode = Spawn(setup, {"/X", package}, report.machineRoot, answers, errPath,
                          shotsOf(step.name), step.note);
    // A package without components to change shows the short maintenance page, which has no
    // Change: the run is cancelled there, and there is nothing to change.
    if (pass == 2 && step.exitCode == 1) {
      step.ok = true;
      step.note = "the package offers no change of its components";
    }
    finish(step, start);
    if (pass == 2 && step.exitCode == 1 &&
        std::find(report.steps.back().questions.begin(), report.steps.back().questions.end(),
                  "Page DLG_REPAIR_TRUNCATED -> Cancel") == report.steps.back().questions.end()) {
      // Cancelled elsewhere: a failed change after all.
      report.steps.back().ok = false;
      report.steps.back().note = "answers: a change to the components offered; cancelled";
    }
    if (pass == 0 && !report.steps.back().ok) break;
  }

  // 4. Removal through the list of programs: every entry the installation added.
  if (report.steps.size() == before + 3) {
    std::vector<tlmachine::ProgramEntry> added;
    for (const auto& entry : tlmachine::ListPrograms()) {
      bool before = std::any_of(freshPrograms.begin(), freshPrograms.end(), [&](const auto& e) {
        return platform::EqualsNoCase(e.key, entry.key) && e.root == entry.root;
      });
      if (!before) added.push_back(entry);
    }
    if (added.empty()) {
      StepReport step;
      step.name = "remove";
      step.note = "the installation put no entry into the list of programs";
      report.steps.push_back(step);
    }
    ::setenv("TOLMERA_ANSWERS", removalFile.c_str(), 1);
    // The removal runs as the list of programs starts it, in this process's environment.
    if (!options.screenshots.empty()) ::setenv("TOLMERA_SCREENSHOTS", shotsOf("remove").c_str(), 1);
    for (const auto& entry : added) {
      StepReport step;
      step.name = "remove";
      step.note = "the list of programs' entry " + platform::ToUtf8(entry.key) + ": " +
                  platform::ToUtf8(entry.uninstallString);
      const auto start = Clock::now();
      platform::DWORD code = 0;
      platform::DWORD status = platform::RunProcess(entry.uninstallString, code);
      if (status != platform::ERROR_SUCCESS) {
        step.note += " cannot be run: " + platform::ToUtf8(platform::SystemErrorText(status));
        step.exitCode = -1;
      } else {
        step.exitCode = static_cast<int>(code);
      }
      finish(step, start);
    }
    ::unsetenv("TOLMERA_ANSWERS");
    ::unsetenv("TOLMERA_SCREENSHOTS");
  }

  // 5. The restart: what the removal left for the next start of Windows goes now.
  {
    StepReport step;
    step.name = "restart";
    const auto start = Clock::now();
    const auto results = platform::RestartMachine();
    std::size_t failed = 0;
    for (const auto& r : results)
      if (r.status != platform::ERROR_SUCCESS) ++failed;
    step.note = std::to_string(results.size()) + " pending file operations carried out" +
                (failed ? ", " + std::to_string(failed) + " of them failed" : std::string());
    step.exitCode = failed ? 1 : 0;
    finish(step, start);
  }

  // What is left.
  const std::string commonKey = CommonKeyOf(package);
  const tlmachine::Snapshot end = tlmachine::TakeSnapshot();
  auto a = fresh.begin();
  auto b = end.begin();
  auto add = [&](const std::string& line, const std::string& id, const std::string& details) {
    (IsKept(id, details, logs, commonKey) ? report.kept : report.traces).push_back(line);
  };
  while (a != fresh.end() || b != end.end()) {
    if (b == end.end() || (a != fresh.end() && a->first < b->first)) {
      report.traces.push_back("- " + a->first + "\t" + a->second);
      ++a;
    } else if (a == fresh.end() || b->first < a->first) {
      add("+ " + b->first + "\t" + b->second, b->first, b->second);
      ++b;
    } else {
      if (a->second != b->second)
        add("~ " + a->first + "\t" + a->second + " -> " + b->second, a->first, b->second);
      ++a;
      ++b;
    }
  }
  if (options.keep.empty()) platform::Machine::ResetCurrent();
  return report;
}

void PrintTestReport(const TestReport& report, std::ostream& out) {
  out << "machine: " << report.machineRoot << "\n";
  for (const StepReport& step : report.steps) {
    std::ostringstream time;
    time << std::fixed << std::setprecision(2) << step.seconds;
    out << "\n== " << step.name << ": " << (step.ok ? "ok" : "FAILED");
    if (step.exitCode >= 0) out << ", exit status " << step.exitCode;
    out << ", " << time.str() << " s\n";
    if (!step.note.empty()) out << "   " << step.note << "\n";
    // A long run may warn about every file it kept; the first lines say what kind of run it was.
    constexpr std::size_t kShown = 25;
    for (std::size_t i = 0; i < step.logLines.size() && i < kShown; ++i)
      out << "   " << step.logLines[i] << "\n";
    if (step.logLines.size() > kShown)
      out << "   ... and " << step.logLines.size() - kShown << " more ERROR and WARNING lines\n";
  }
  out << "\n== left behind (against the fresh machine)\n";
  for (const std::string& line : report.traces) out << line << "\n";
  if (report.traces.empty()) out << "nothing of the product\n";
  if (!report.kept.empty()) {
    out << "\nkept on purpose by the installer (the run log, the family's common-files "
           "counter):\n";
    for (const std::string& line : report.kept) out << "  " << line << "\n";
  }
  out << "\nresult: " << (report.Passed() ? "clean" : "FAILED") << " (" << report.traces.size()
      << " traces left)\n";
}

}  // namespace TlPack
