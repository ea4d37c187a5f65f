// tlpack: build, check and test a package of the installer.
#include "pack/Matrix.h"
#include "pack/PackageFiles.h"
#include "pack/PackageTest.h"
#include "pack/ScriptCheck.h"
#include "package/LogSink.h"
#include "package/ScriptVocabulary.h"
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Text.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char kUsage[] =
    "usage: tlpack build FOLDER [-o Setup.data] [--strict]\n"
    "       tlpack check FOLDER|Setup.data [--strict]\n"
    "       tlpack test Setup.data [--answers FILE] [--previous OLD.data] [--keep DIR]\n"
    "       tlpack test Setup.data --matrix [FILE] [-j N] [--shard I/N] [--out DIR]\n"
    "                              [--answers FILE] [--previous OLD.data] [--screenshots]\n"
    "       tlpack report merge OUT DIR...\n"
    "       tlpack help [build|check|test|report]   (or: tlpack VERB --help)\n";

const char kBuildHelp[] =
    "NAME\n"
    "    tlpack build - pack a package folder into a package archive\n"
    "\n"
    "SYNOPSIS\n"
    "    tlpack build FOLDER [-o ARCHIVE] [--strict]\n"
    "\n"
    "DESCRIPTION\n"
    "    Checks FOLDER as `tlpack check` does, then packs every file below it (the install\n"
    "    script InstallScript.cfg at its root, the payload, the pictures) into ARCHIVE exactly\n"
    "    as Setup reads it: names in the machine's ANSI code page with \"\\\" between folders\n"
    "    as the reader expects, deflate, each file's time and attributes kept. Links inside\n"
    "    FOLDER are not followed and not packed. The archive is written under a temporary name\n"
    "    and renamed over ARCHIVE only when complete; on an error nothing is written.\n"
    "\n"
    "OPTIONS\n"
    "    -o ARCHIVE   the archive to write (default: Setup.data in the current folder); when\n"
    "                 it lies inside FOLDER it is not packed into itself\n"
    "    --strict     warnings refuse the build too\n"
    "\n"
    "EXIT STATUS\n"
    "    0 written; 1 refused for warnings (--strict); 2 refused for errors, or the archive\n"
    "    could not be written; 3 wrong usage.\n";

const char kCheckHelp[] =
    "NAME\n"
    "    tlpack check - check an install script against its package\n"
    "\n"
    "SYNOPSIS\n"
    "    tlpack check FOLDER|ARCHIVE [--strict]\n"
    "\n"
    "DESCRIPTION\n"
    "    Reads InstallScript.cfg of a package folder or archive as Setup reads it and reports,\n"
    "    one line each, compiler-style:\n"
    "        InstallScript.cfg:LINE:COLUMN: error|warning: text\n"
    "    Errors: XML that does not parse; a root element that is not the first node after the\n"
    "    declaration; DIRECTORY and FILE names, images, icons, licence files and the client\n"
    "    package that the package lacks; a \"Build\" or \"Language\" (or a library's number)\n"
    "    that does not convert; a Localization the installer refuses; an UNINSTALLER without\n"
    "    \"Title\"; names the code page cannot hold.\n"
    "    Warnings: elements inside INSTALL, a LIBRARY or ADDITIONAL that are not steps, and\n"
    "    unknown children of the root (skipped silently); attribute names that differ from the\n"
    "    installer's only in case (ignored); macros used but never defined; \"IgnoreFor\" tags\n"
    "    that match nothing; library dependencies on IDs that do not exist, dependency cycles,\n"
    "    read-only libraries that are not selected, IDs used twice; messages the installer or\n"
    "    the script asks for that a language lacks; text keys one language has and another\n"
    "    lacks; DIALOGS switches that name no page.\n"
    "\n"
    "OPTIONS\n"
    "    --strict     warnings make the exit status 1\n"
    "\n"
    "EXIT STATUS\n"
    "    0 clean (or warnings only, without --strict); 1 warnings only, with --strict;\n"
    "    2 errors; 3 wrong usage.\n";

const char kTestHelp[] =
    "NAME\n"
    "    tlpack test - install, repair and remove a package in a throwaway machine\n"
    "\n"
    "SYNOPSIS\n"
    "    tlpack test ARCHIVE [--answers FILE] [--previous OLD] [--keep DIR]\n"
    "    tlpack test ARCHIVE --matrix [FILE] [-j N] [--shard I/N] [--out DIR] [--answers FILE]\n"
    "                [--previous OLD] [--screenshots]\n"
    "\n"
    "DESCRIPTION\n"
    "    Makes a fresh emulated machine, installs ARCHIVE with Setup answered by FILE (by\n"
    "    default: a local installation into the offered folder with the offered components),\n"
    "    repairs it, changes it (Change on the maintenance page, with the components it has;\n"
    "    a package without components has nothing to change), removes it through the list of\n"
    "    programs (the entry's UninstallString, as the Control Panel runs it) and restarts the\n"
    "    machine. It prints each run's exit status, time and the ERROR and WARNING lines of\n"
    "    its run log, then what the package left behind against the fresh machine (the lines\n"
    "    of `tlmachine diff`), apart from what the installer keeps on purpose: the run log and\n"
    "    the family's common-files counter.\n"
    "    The repair, the change and the removal answer their own pages and take every\n"
    "    [message ...] answer of FILE. Without FILE every page and question the defaults\n"
    "    leave open takes its default button.\n"
    "\n"
    "    With --matrix the same runs go over every machine of a matrix and every language of\n"
    "    the script (its <Localization>, with the code pages of each): by default Windows XP\n"
    "    x86, 7 x64, 10 x64 and 11 x64, each with an elevated administrator, an administrator\n"
    "    under UAC without elevation (not on XP, which has no UAC) and a standard user. Each\n"
    "    cell runs in a process of its own, N at a time, and every installation type its\n"
    "    install-type page offers there (server, local, client; the script's own type where\n"
    "    the page is not shown) runs its whole life in a fresh machine of its own. A client\n"
    "    needs the share of a server on another computer: it does not apply in one machine.\n"
    "    Setup lets only an elevated administrator set up software: the cell of another\n"
    "    account passes as \"refused as designed\" when its installation ends with result 3,\n"
    "    the message \"MsgRights\" in the cell's language, and nothing left behind; it fails\n"
    "    otherwise. A line per cell tells how it ended; DIR receives report.html (the matrix\n"
    "    as a table, each cell opening its types with their steps, log lines, what was left\n"
    "    and their pages' pictures), junit.xml (a case per cell and type) and cells/ (a\n"
    "    result file per cell, for `tlpack report merge`).\n"
    "\n"
    "    A matrix FILE names its own machines, in sections:\n"
    "        [system xp]                    a Windows: its [os] values of machine.ini\n"
    "        title = Windows XP x86         (other sections as section.key: uac.enabled = no)\n"
    "        major = 5\n"
    "        architecture = x86\n"
    "        [account standard]             an account: its [user] values of machine.ini\n"
    "        title = standard user\n"
    "        memberships = Users\n"
    "        elevated = no\n"
    "        [languages]                    the languages taken, by ID or system name\n"
    "        only = 1033, Russian\n"
    "    Without systems or accounts the default ones are taken.\n"
    "\n"
    "OPTIONS\n"
    "    --answers FILE   the answer file of the installation (format: the installer's\n"
    "                     answer files)\n"
    "    --keep DIR       make the machine in DIR (new or empty) and keep it, for a look with\n"
    "                     `tlmachine --machine DIR ...`\n"
    "    --previous OLD   install the previous build's archive OLD first (the same answers),\n"
    "                     so that ARCHIVE's installation is its update\n"
    "    --matrix [FILE]  the runs on every cell of the matrix (the default one without FILE)\n"
    "    -j N             cells run at once (default 2)\n"
    "    --shard I/N      only the cells k (counted from 0) with k mod N = I - 1, so that N\n"
    "                     machines share a large matrix; merge their DIRs afterwards\n"
    "    --out DIR        the report's folder (default ./tlpack-report)\n"
    "    --screenshots    a picture of every window each run shows (a display is needed:\n"
    "                     Setup then shows its windows, answered from the file)\n"
    "\n"
    "EXIT STATUS\n"
    "    0 every run succeeded and nothing of the product is left (with --matrix: in every\n"
    "    cell, a refusal as designed counted as passed); 1 a run failed or something of the\n"
    "    product is left; 2 the test could not be carried out (a package or matrix that\n"
    "    cannot be read); 3 wrong usage.\n";

const char kReportHelp[] =
    "NAME\n"
    "    tlpack report merge - one report of the cells of several matrix runs\n"
    "\n"
    "SYNOPSIS\n"
    "    tlpack report merge OUT DIR...\n"
    "\n"
    "DESCRIPTION\n"
    "    Reads the cell results of the report folders DIR (of `tlpack test --matrix --shard`\n"
    "    on several machines) and writes report.html, junit.xml and cells/ of them all into\n"
    "    OUT. A cell found in two folders is taken from the first.\n"
    "\n"
    "EXIT STATUS\n"
    "    0 every cell passed; 1 some cell failed; 2 a folder holds no cell results; 3 wrong\n"
    "    usage.\n";

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string ProgramFolder() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

struct Arguments {
  std::vector<std::string> positional;
  std::string output, answers, keep;
  bool strict = false, help = false;
  // The matrix.
  bool matrix = false, screenshots = false;
  std::string matrixFile, out, previous;
  int jobs = 2, shardIndex = 1, shardCount = 1;
  bool matrixOnly = false;  // an option of the matrix was given
  // One cell of a matrix, run by the matrix in a process of its own.
  std::string cellMachine, cellResult;
  std::vector<std::string> cellTitles;
};

int PositiveNumber(const std::string& text, const std::string& what) {
  std::size_t used = 0;
  int n = 0;
  try {
    n = std::stoi(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != text.size() || n < 1 || n > 4096) throw UsageError(what + " must be a number from 1");
  return n;
}

Arguments Parse(const std::vector<std::string>& args, bool allowOutput, bool allowStrict,
                bool allowTest) {
  Arguments a;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& s = args[i];
    auto value = [&](const char* what) {
      if (i + 1 >= args.size()) throw UsageError(s + " needs " + what);
      return args[++i];
    };
    if (s == "--help" || s == "-h")
      a.help = true;
    else if (allowOutput && s == "-o")
      a.output = value("the archive's path");
    else if (allowStrict && s == "--strict")
      a.strict = true;
    else if (allowTest && s == "--answers")
      a.answers = value("an answer file");
    else if (allowTest && s == "--keep")
      a.keep = value("a folder");
    else if (allowTest && s == "--matrix") {
      a.matrix = true;
      // The file is optional: a next word that is no option and not the archive names it.
      if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-' &&
          !a.positional.empty())
        a.matrixFile = args[++i];
    } else if (allowTest && s == "-j") {
      a.jobs = PositiveNumber(value("a number"), "-j");
      a.matrixOnly = true;
    } else if (allowTest && s == "--out") {
      a.out = value("a folder");
      a.matrixOnly = true;
    } else if (allowTest && s == "--previous") {
      a.previous = value("the previous build's archive");
    } else if (allowTest && s == "--screenshots") {
      a.screenshots = true;
    } else if (allowTest && s == "--shard") {
      a.matrixOnly = true;
      const std::string v = value("I/N");
      const std::size_t slash = v.find('/');
      if (slash == std::string::npos) throw UsageError("--shard takes I/N, e.g. 2/4");
      a.shardIndex = PositiveNumber(v.substr(0, slash), "--shard I");
      a.shardCount = PositiveNumber(v.substr(slash + 1), "--shard N");
      if (a.shardIndex > a.shardCount) throw UsageError("--shard I/N needs I <= N");
    } else if (allowTest && s == "--cell")
      a.cellMachine = value("a machine file");
    else if (allowTest && s == "--result")
      a.cellResult = value("a file");
    else if (allowTest && s == "--cell-titles") {
      for (int k = 0; k < 5; ++k)
        a.cellTitles.push_back(value("the cell's id, titles and language ID"));
    } else if (!s.empty() && s[0] == '-')
      throw UsageError("unknown option " + s);
    else
      a.positional.push_back(s);
  }
  return a;
}

// Prints the diagnostics; returns the check's exit status.
int Report(const std::string& scriptName, const std::vector<TlPack::Diagnostic>& diagnostics,
           const std::string& packageName, bool strict) {
  for (const TlPack::Diagnostic& d : diagnostics)
    std::cout << TlPack::FormatDiagnostic(d.line > 0 ? scriptName : packageName, d) << "\n";
  TlPack::Counts counts = TlPack::CountOf(diagnostics);
  std::cout << counts.errors << " error(s), " << counts.warnings << " warning(s)\n";
  return TlPack::CheckStatus(counts, strict);
}

// Checks a package folder that the current machine shows as `folder`.
int CheckFolder(const std::wstring& folder, const std::string& hostFolder, bool strict,
                TlPack::FolderListing& listing) {
  std::wstring error;
  if (!TlPack::ListFolder(folder, listing, error)) {
    std::cerr << "tlpack: " << platform::ToUtf8(error) << "\n";
    return 2;
  }
  for (const std::wstring& link : listing.skipped)
    std::cout << hostFolder << ": warning: " << platform::ToUtf8(link)
              << " is a link and is not packed\n";
  std::vector<TlPack::Diagnostic> all = TlPack::CheckNames(listing.contents);
  const std::string scriptName = (fs::path(hostFolder) / "InstallScript.cfg").string();
  std::string bytes;
  if (!listing.contents.HasFile(ScriptNames::kScriptFile) ||
      platform::ReadWholeFile(folder + L"\\" + ScriptNames::kScriptFile, bytes) !=
          platform::ERROR_SUCCESS) {
    all.push_back(
        {0, 0, TlPack::Severity::Error, L"the folder has no InstallScript.cfg at its root"});
  } else {
    auto found = TlPack::CheckScript(bytes, listing.contents);
    all.insert(all.end(), found.begin(), found.end());
  }
  return Report(scriptName, all, hostFolder, strict);
}

int Check(const std::vector<std::string>& args) {
  Arguments a = Parse(args, false, true, false);
  if (a.help) {
    std::cout << kCheckHelp;
    return 0;
  }
  if (a.positional.size() != 1) throw UsageError("check needs one folder or archive");
  const std::string target = a.positional[0];
  std::error_code ec;
  if (fs::is_directory(target, ec)) {
    TlPack::ToolMachine machine(fs::absolute(target).lexically_normal().string());
    TlPack::FolderListing listing;
    return CheckFolder(L"S:", target, a.strict, listing);
  }
  if (!fs::is_regular_file(target, ec)) {
    std::cerr << "tlpack: " << target << " is neither a folder nor a file\n";
    return 2;
  }
  TlPack::ToolMachine machine;
  const std::wstring archive =
      platform::HostToWindowsPath(fs::absolute(target).lexically_normal().string());
  TlPack::PackageContents contents;
  std::wstring error;
  if (!TlPack::ListArchive(archive, contents, error)) {
    std::cerr << "tlpack: " << platform::ToUtf8(error) << "\n";
    return 2;
  }
  std::vector<TlPack::Diagnostic> all = TlPack::CheckNames(contents);
  std::string bytes;
  if (!TlPack::ReadArchiveEntry(archive, ScriptNames::kScriptFile, bytes, error)) {
    all.push_back({0, 0, TlPack::Severity::Error, error});
  } else {
    auto found = TlPack::CheckScript(bytes, contents);
    all.insert(all.end(), found.begin(), found.end());
  }
  return Report(platform::ToUtf8(ScriptNames::kScriptFile), all, target, a.strict);
}

int Build(const std::vector<std::string>& args) {
  Arguments a = Parse(args, true, true, false);
  if (a.help) {
    std::cout << kBuildHelp;
    return 0;
  }
  if (a.positional.size() != 1) throw UsageError("build needs one folder");
  std::error_code ec;
  if (!fs::is_directory(a.positional[0], ec)) {
    std::cerr << "tlpack: " << a.positional[0] << " is not a folder\n";
    return 2;
  }
  const fs::path folder = fs::canonical(a.positional[0], ec);
  const fs::path output =
      fs::absolute(a.output.empty() ? "Setup.data" : a.output).lexically_normal();
  const fs::path outFolder = fs::canonical(output.parent_path(), ec);
  if (ec || output.filename().empty()) {
    std::cerr << "tlpack: the folder of " << output.string() << " does not exist\n";
    return 2;
  }
  TlPack::ToolMachine machine(folder.string(), outFolder.string());
  TlPack::FolderListing listing;
  int status = CheckFolder(L"S:", a.positional[0], a.strict, listing);
  if (status != 0) {
    std::cout << "tlpack: nothing written\n";
    return status;
  }
  // The archive itself (and its partial copy) when it lies inside the folder.
  std::vector<std::wstring> names;
  const fs::path inside = (outFolder / output.filename()).lexically_relative(folder);
  const std::wstring self = platform::FromUtf8(inside.string());
  // The name WriteArchive writes first: "." + the archive's name + ".partial".
  std::string partialName = ".";
  partialName.append(output.filename().string()).append(".partial");
  const std::wstring partial = platform::FromUtf8((inside.parent_path() / partialName).string());
  for (const std::wstring& name : listing.contents.Names()) {
    std::wstring host = name;
    std::replace(host.begin(), host.end(), L'\\', L'/');
    if (platform::EqualsNoCase(host, self) || platform::EqualsNoCase(host, partial)) continue;
    names.push_back(name);
  }
  std::wstring error;
  const std::wstring archive =
      std::wstring(TlPack::ToolMachine::kOutput) + platform::FromUtf8(output.filename().string());
  if (!TlPack::WriteArchive(L"S:", names, archive, error)) {
    std::cerr << "tlpack: " << platform::ToUtf8(error) << "\n";
    return 2;
  }
  std::cout << "tlpack: " << output.string() << ": " << names.size() << " files\n";
  return 0;
}

int Test(const std::vector<std::string>& args) {
  Arguments a = Parse(args, false, false, true);
  if (a.help) {
    std::cout << kTestHelp;
    return 0;
  }
  if (a.positional.size() != 1) throw UsageError("test needs one package archive");
  TlPack::TestOptions options;
  options.package = a.positional[0];
  options.answers = a.answers;
  options.keep = a.keep;
  options.binDir = ProgramFolder();
  options.previous = a.previous;
  if (!a.cellMachine.empty()) {
    // One cell of a matrix run (the matrix starts this process for it).
    if (a.cellResult.empty() || a.cellTitles.size() != 5)
      throw UsageError("--cell needs --result and --cell-titles");
    TlPack::MatrixCell cell;
    cell.id = a.cellTitles[0];
    cell.system.title = a.cellTitles[1];
    cell.account.title = a.cellTitles[2];
    cell.language.title = platform::FromUtf8(a.cellTitles[3]);
    cell.language.id = std::atoi(a.cellTitles[4].c_str());
    if (!platform::hostio::ReadFile(a.cellMachine, cell.machine))
      throw std::runtime_error(a.cellMachine + " cannot be read");
    TlPack::RunCell(options, cell, a.cellResult, a.screenshots);
    return 0;
  }
  if (a.matrix) {
    if (!a.keep.empty()) throw UsageError("--keep is for one machine, not a matrix");
    TlPack::MatrixOptions m;
    m.package = options.package;
    m.answers = a.answers.empty() ? std::string() : fs::absolute(a.answers).string();
    m.previous = a.previous.empty() ? std::string() : fs::absolute(a.previous).string();
    m.matrixFile = a.matrixFile;
    m.out = a.out;
    m.binDir = options.binDir;
    m.self = options.binDir + "/tlpack";
    m.jobs = a.jobs;
    m.shardIndex = a.shardIndex;
    m.shardCount = a.shardCount;
    m.screenshots = a.screenshots;
    if (a.screenshots && !std::getenv("DISPLAY"))
      throw UsageError("--screenshots needs a display (DISPLAY)");
    try {
      return TlPack::RunMatrix(m, std::cout);
    } catch (const std::exception& e) {
      std::cerr << "tlpack: " << e.what() << "\n";
      return 2;
    }
  }
  if (a.screenshots || a.matrixOnly)
    throw UsageError("-j, --shard, --out and --screenshots go with --matrix");
  try {
    TlPack::TestReport report = TlPack::RunPackageTest(options);
    TlPack::PrintTestReport(report, std::cout);
    if (!a.keep.empty())
      std::cout << "the machine is kept: tlmachine --machine " << report.machineRoot << " ...\n";
    return report.Passed() ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "tlpack: " << e.what() << "\n";
    return 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // The package code's log lines are the installer's; the tool says what it finds itself.
  CommonTools::SetLogSink([](CommonTools::LogLevel, const std::wstring&) {});
  try {
    if (args.empty()) throw UsageError("a verb is needed");
    const std::string verb = args[0];
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (verb == "build") return Build(rest);
    if (verb == "check") return Check(rest);
    if (verb == "test") return Test(rest);
    if (verb == "report") {
      if (!rest.empty() && (rest[0] == "--help" || rest[0] == "-h")) {
        std::cout << kReportHelp;
        return 0;
      }
      if (rest.size() < 3 || rest[0] != "merge")
        throw UsageError("report merge needs the output folder and at least one report folder");
      try {
        return TlPack::MergeReports(std::vector<std::string>(rest.begin() + 2, rest.end()), rest[1],
                                    std::cout);
      } catch (const std::exception& e) {
        std::cerr << "tlpack: " << e.what() << "\n";
        return 2;
      }
    }
    if (verb == "help" || verb == "--help" || verb == "-h") {
      const std::string topic = rest.empty() ? "" : rest[0];
      std::cout << (topic == "build"    ? kBuildHelp
                    : topic == "check"  ? kCheckHelp
                    : topic == "test"   ? kTestHelp
                    : topic == "report" ? kReportHelp
                                        : kUsage);
      return 0;
    }
    throw UsageError("unknown verb " + verb);
  } catch (const UsageError& e) {
    std::cerr << "tlpack: " << e.what() << "\n" << kUsage;
    return 3;
  } catch (const std::exception& e) {
    std::cerr << "tlpack: " << e.what() << "\n";
    return 2;
  }
}
