// The default matrix of `tlpack test --matrix` (4 Windows, 3 accounts, the script's 2 languages)
// on the sample package, run with one cell at a time and with N at a time (default 2, the
// machine's cores) in the same run: the wall time, the cells per minute, the Setup runs per
// minute (a cell installs, repairs, changes, removes and restarts once per installation type it
// runs, each in a throwaway machine of its own; a refused account runs once) and the ratio of
// the two.
//
// With a REFERENCE tlpack (an earlier build of it, beside this build's Setup) both programs run
// the same matrix, one after the other at each -j, in this process, and the ratios of this
// build against the reference are printed too. Every report folder is kept until the end, so
// that no run creates its files just after another one deleted its own.
//
//   build/bin/bench_matrix [N] [REFERENCE]

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Runs the matrix; the wall seconds, or a negative number when tlpack did not finish it.
double RunMatrix(const std::string& tlpack, const std::string& package, int jobs,
                 const std::string& out) {
  const std::string command = "'" + tlpack + "' test '" + package + "' --matrix -j " +
                              std::to_string(jobs) + " --out '" + out + "' >/dev/null 2>&1";
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // 1 is a matrix with failing cells: finished all the same.
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) return -1;
  return seconds;
}

struct Work {
  int cells = 0;
  int runs = 0;  // the steps of every cell that ran a program (the restart aside)
};

// The cells of a report and the Setup runs they made.
Work CountWork(const std::string& out) {
  Work w;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(out) / "cells", ec)) {
    if (entry.path().extension() != ".cell") continue;
    ++w.cells;
    std::ifstream in(entry.path());
    for (std::string line; std::getline(in, line);)
      if (line.rfind("step\t", 0) == 0 && line.rfind("step\trestart\t", 0) != 0) ++w.runs;
  }
  return w;
}

struct Measure {
  double seconds = -1;
  Work work;
};

Measure Measured(const std::string& tlpack, const std::string& package, int jobs,
                 const std::string& out) {
  Measure m;
  m.seconds = RunMatrix(tlpack, package, jobs, out);
  m.work = CountWork(out);
  return m;
}

void Print(const char* who, int jobs, const Measure& m) {
  std::printf(
      "%-10s %d at a time  %7.1f s  %6.1f cells per minute  %7.1f Setup runs per minute "
      "(%d runs in %d cells)\n",
      who, jobs, m.seconds, m.work.cells * 60.0 / m.seconds, m.work.runs * 60.0 / m.seconds,
      m.work.runs, m.work.cells);
}

}  // namespace

int main(int argc, char** argv) {
  const int jobs = argc > 1 ? std::atoi(argv[1]) : 2;
  const std::string reference = argc > 2 ? fs::absolute(argv[2]).string() : std::string();
  std::error_code ec;
  const fs::path bin = fs::read_symlink("/proc/self/exe", ec).parent_path();
  const std::string tlpack = (bin / "tlpack").string();
  const std::string package = (bin.parent_path() / "examples/sample-product/Setup.data").string();
  if (!fs::exists(tlpack) || !fs::exists(package) || jobs < 1 ||
      (!reference.empty() && !fs::exists(reference))) {
    std::fprintf(stderr, "bench_matrix: needs %s and %s (and the reference), and N >= 1\n",
                 tlpack.c_str(), package.c_str());
    return 2;
  }
  const fs::path scratch = fs::temp_directory_path() / ("bench-matrix-" + std::to_string(getpid()));
  auto folder = [&](const char* name) { return (scratch / name).string(); };
  Measure refOne, refMany;
  if (!reference.empty()) refOne = Measured(reference, package, 1, folder("ref-one"));
  const Measure one = Measured(tlpack, package, 1, folder("one"));
  if (!reference.empty()) refMany = Measured(reference, package, jobs, folder("ref-many"));
  const Measure many = Measured(tlpack, package, jobs, folder("many"));
  fs::remove_all(scratch, ec);
  const bool same =
      one.work.cells > 0 && one.work.cells == many.work.cells && one.work.runs == many.work.runs;
  if (one.seconds < 0 || many.seconds < 0 || !same ||
      (!reference.empty() &&
       (refOne.seconds < 0 || refMany.seconds < 0 || refOne.work.cells != one.work.cells))) {
    std::printf("FAILED: the matrix did not run to its end\n");
    return 1;
  }
  std::printf("%d cells\n", one.work.cells);
  if (!reference.empty()) {
    Print("reference", 1, refOne);
    Print("reference", jobs, refMany);
  }
  Print("this build", 1, one);
  Print("this build", jobs, many);
  std::printf("speed-up of %d at a time: %.2f\n", jobs, one.seconds / many.seconds);
  if (!reference.empty()) {
    std::printf(
        "this build against the reference, %d at a time: %.2f of its cells per minute, "
        "%.2f of its Setup runs per minute, %.2f times its runs per cell\n",
        jobs, refMany.seconds / many.seconds,
        (many.work.runs / many.seconds) / (refMany.work.runs / refMany.seconds),
        static_cast<double>(many.work.runs) / refMany.work.runs);
  }
  return 0;
}
