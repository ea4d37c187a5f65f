// `tlpack test --matrix`: a package's whole life (PackageTest.h) on every machine a package
// author's customers have: the Windows versions and bitnesses, the accounts with and without
// elevation, and every language of the script with its code pages. Each cell runs in a process
// and a throwaway machine of its own, several at a time; its result is kept as a small text
// file, from which report.html (one self-contained page) and junit.xml are written, also for the
// results of several runs together (`tlpack report merge`).
#pragma once

#include "pack/PackageTest.h"
#include "pack/ScriptCheck.h"

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace TlPack {

// A Windows of the matrix: its id, the title shown, and the machine.ini values that make it
// ("section/key" with their values; a plain key is of [os]).
struct MatrixSystem {
  std::string id, title;
  std::vector<std::pair<std::string, std::string>> values;
};

// An account of the matrix: the [user] values that make it (a plain key is of [user]).
struct MatrixAccount {
  std::string id, title;
  std::vector<std::pair<std::string, std::string>> values;
};

struct Matrix {
  std::vector<MatrixSystem> systems;
  std::vector<MatrixAccount> accounts;
  // The languages taken (IDs or system names, as written); empty: every language of the script.
  std::vector<std::string> languages;
};

// Windows XP x86, 7 x64, 10 x64 and 11 x64; an elevated administrator, an administrator under
// UAC without elevation and a standard user.
Matrix DefaultMatrix();

// Reads a matrix file (its format is in `tlpack test --help`). Throws std::runtime_error naming
// the line of what it cannot read; a file without systems or accounts takes the default ones.
Matrix ReadMatrix(const std::string& text, const std::string& fileName);

struct MatrixCell {
  MatrixSystem system;
  MatrixAccount account;
  ScriptLanguage language;
  std::string id;             // "<system>-<account>-<language ID>", a file name
  std::string machine;        // the machine.ini text of the cell ("" when it does not apply)
  std::string notApplicable;  // why the cell is left out (an account the system does not have)
};

// The cells in order (system, then account, then language); throws std::runtime_error when a
// language the matrix names is not in the script, or a value does not make a machine.
std::vector<MatrixCell> CellsOf(const Matrix& matrix, const std::vector<ScriptLanguage>& languages);

// The ANSI and OEM code pages of a language's system (1251 and 866 for Russian, ...).
std::pair<unsigned, unsigned> CodePagesOf(int lcid);

// What a cell runs, read from the script and the cell's machine before anything is run.
struct CellPlan {
  // The account is not an elevated administrator (a standard user, an administrator under UAC
  // without elevation): Setup refuses it before the package matters, with "MsgRights".
  bool refused = false;
  std::string refusalText;  // "MsgRights" in the cell's language ("": the script has none)
  // The installation types the install-type page offers in the cell ("server", "local",
  // "client"), or the one type a run without that page installs ("full", "server", ...); a type
  // that cannot be run in one machine alone has the reason in `notApplicable`.
  struct Type {
    std::string name;
    std::string
        answer;  // the page's answer ("Server", "Local", "Client"; "": the page is not shown)
    std::string notApplicable;
  };
  std::vector<Type> types;
};

// Is the account of this machine an administrator with an elevated token, the only one Setup
// lets set up software (and the only one the share probe lets set up a server)?
bool MaySetUpSoftware(const std::string& machineIni);

// The plan of a cell: `script` is the package's InstallScript.cfg, `languageId` the cell's.
CellPlan PlanCell(const std::string& script, int languageId, const std::string& machineIni);

// What one installation type came to in a cell.
struct TypeResult {
  std::string name;    // "server", "local", ...
  std::string status;  // "pass", "fail" or "n/a"
  std::string reason;
  double seconds = 0;
  std::vector<StepReport> steps;
  std::vector<std::string> traces;
  std::vector<std::string> kept;
};

// What one cell came to.
struct CellResult {
  std::string id, system, account, language;  // the id and the titles
  // "pass", "fail", "refused" (refused as designed: counted as passed), "n/a" (does not apply)
  // or "error" (could not be run).
  std::string status;
  std::string reason;  // why it failed (or was refused), in one line
  double seconds = 0;
  // The run of a refused account (and the cells of reports written before types were run).
  std::vector<StepReport> steps;
  std::vector<std::string> traces;
  std::vector<std::string> kept;
  std::vector<TypeResult> types;  // a run per installation type, each in a fresh machine
};

// A cell's result as a text file and back (lines of "key<TAB>value", escaped).
std::string CellResultText(const CellResult& result);
CellResult ParseCellResult(const std::string& text);

struct MatrixOptions {
  std::string package;
  std::string answers;     // the installation's answer file ("": the defaults)
  std::string previous;    // a previous build installed first in every cell ("": none)
  std::string matrixFile;  // "": the default matrix
  std::string out;         // the folder for the report (made; "": ./tlpack-report)
  std::string binDir;
  std::string self;  // this program, to run each cell in a process of its own
  int jobs = 2;
  int shardIndex = 1, shardCount = 1;  // --shard I/N: the cells k with k % N == I - 1
  bool screenshots = false;            // pictures of every page (a display is needed)
};

// Runs the matrix (each cell through `self test --cell`), writes the cell files, report.html and
// junit.xml into out and prints a line per cell. 0 when every cell passed, 1 when one failed;
// throws std::runtime_error when the package or the matrix cannot be read.
int RunMatrix(const MatrixOptions& options, std::ostream& out);

// One cell, run in this process: the test on the cell's machine, its result written to
// resultFile (the pictures into pictures/ beside it).
void RunCell(const TestOptions& options, const MatrixCell& cell, const std::string& resultFile,
             bool screenshots);

// report.html and junit.xml of these results into folder; the pictures each step names are
// put into the page.
void WriteReports(const std::vector<CellResult>& results, const std::string& title,
                  const std::string& folder);

// Reads the cell files of earlier runs (their report folders) and writes one report of them all
// into out: 0 when every cell passed, 1 when one failed; throws when a folder holds no results.
int MergeReports(const std::vector<std::string>& folders, const std::string& out,
                 std::ostream& report);

}  // namespace TlPack
