// `tlpack test`: a package's whole life in a throwaway machine. A fresh machine is made, the
// package installed with an answer file (or answers that take every default), repaired, changed
// (to the components installed), removed
// through the list of programs (the entry's "UninstallString", as the Control Panel runs it) and
// the machine restarted; then what the package left behind is compared with the fresh machine.
//
// What the installer keeps on purpose is told apart from the product's traces: the run log
// (and the folders made for it) and the family's common-files counter (COMMONINFO
// "RegKeyInstall", its "Count" back at 0, and its "Path"). Everything else that differs from the
// fresh machine is a trace.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace TlPack {

struct TestOptions {
  std::string package;  // host path of the package archive
  std::string answers;  // host path of the installation's answer file ("": the defaults)
  std::string keep;     // host folder to keep the machine in ("": a temporary one)
  std::string binDir;   // the folder of the Setup program
  // A previous build's archive ("": none): installed first, so that the package updates it.
  std::string previous;
  // The machine's machine.ini text ("": a default machine). Read as the machine layer reads
  // machine.ini; a malformed one makes the test impossible (std::runtime_error).
  std::string machineIni;
  // A host folder for pictures of every window the runs show, one folder per step below it
  // ("": none). Setup then shows its real windows, answered from the file: a display is needed.
  std::string screenshots;
  // The row to choose on the install-type page ("Server", "Local", "Client"; "": as the answers
  // say). The answers' own section of that page gives way to it.
  std::string installType;
};

struct StepReport {
  std::string name;
  int exitCode = -1;  // the program's exit status (-1: it did not run)
  double seconds = 0;
  std::string note;                   // what was run, or why not
  std::vector<std::string> logLines;  // the run log's ERROR and WARNING lines
  // The run log's "Page ... -> ...", "Message box: ..." and "Select installation: ..." lines:
  // what a person would have seen and answered, in order.
  std::vector<std::string> questions;
  std::vector<std::string> screenshots;  // host paths of the pictures taken, in order
  bool ok = false;
};

struct TestReport {
  std::vector<StepReport> steps;
  std::vector<std::string> traces;  // diff lines of what the product left
  std::vector<std::string> kept;    // diff lines the installer keeps on purpose
  std::string machineRoot;
  bool Passed() const;
};

// Runs the test; throws std::runtime_error when it cannot be carried out at all (no Setup, a
// --keep folder that is not empty, a package that is not there).
TestReport RunPackageTest(const TestOptions& options);

// The report as `tlpack test` prints it.
void PrintTestReport(const TestReport& report, std::ostream& out);

// The answers of the repair and of the removal: the pages of those runs, and every message
// answer of the installation's answer file (`installAnswers`, its text).
std::string RepairAnswers(const std::string& installAnswers);
std::string RemovalAnswers(const std::string& installAnswers);
// The answers of a change: Change on the maintenance page, the components offered (those
// installed), and the message answers of the installation; Cancel on the short maintenance page
// of a package that has no Change.
std::string ChangeAnswers(const std::string& installAnswers);
// The answers of an installation that takes every default: a local installation into the
// offered folder with the offered components, the licence accepted.
std::string DefaultInstallAnswers();
// The installation's answers with the install-type page answered with `installType` (its
// sections of the answers dropped, one with that choice and Next added).
std::string WithInstallType(const std::string& installAnswers, const std::string& installType);

}  // namespace TlPack
