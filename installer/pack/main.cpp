// tlpack: build, check and test a package of the installer.
#include "pack/PackageFiles.h"
#include "pack/PackageTest.h"
#include "pack/ScriptCheck.h"
#include "package/LogSink.h"
#include "package/ScriptVocabulary.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Text.h"

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
    "       tlpack test Setup.data [--answers FILE] [--keep DIR]\n"
    "       tlpack help [build|check|test]   (or: tlpack VERB --help)\n";

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
    "    tlpack test ARCHIVE [--answers FILE] [--keep DIR]\n"
    "\n"
    "DESCRIPTION\n"
    "    Makes a fresh emulated machine, installs ARCHIVE with Setup answered by FILE (by\n"
    "    default: a local installation into the offered folder with the offered components),\n"
    "    repairs it, removes it through the list of programs (the entry's UninstallString, as\n"
    "    the Control Panel runs it) and restarts the machine. It prints each run's exit status,\n"
    "    time and the ERROR and WARNING lines of its run log, then what the package left behind\n"
    "    against the fresh machine (the lines of `tlmachine diff`), apart from what the\n"
    "    installer keeps on purpose: the run log and the family's common-files counter.\n"
    "    The repair and the removal answer their own pages and take every [message ...]\n"
    "    answer of FILE.\n"
    "\n"
    "OPTIONS\n"
    "    --answers FILE   the answer file of the installation (format: the installer's\n"
    "                     answer files)\n"
    "    --keep DIR       make the machine in DIR (new or empty) and keep it, for a look with\n"
    "                     `tlmachine --machine DIR ...`\n"
    "\n"
    "EXIT STATUS\n"
    "    0 every run succeeded and nothing of the product is left; 1 a run failed or\n"
    "    something of the product is left; 2 the test could not be carried out; 3 wrong usage.\n";

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
};

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
    else if (!s.empty() && s[0] == '-')
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
    if (verb == "help" || verb == "--help" || verb == "-h") {
      const std::string topic = rest.empty() ? "" : rest[0];
      std::cout << (topic == "build"   ? kBuildHelp
                    : topic == "check" ? kCheckHelp
                    : topic == "test"  ? kTestHelp
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
