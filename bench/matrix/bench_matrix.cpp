// The default matrix of `tlpack test --matrix` (4 Windows, 3 accounts, the script's 2 languages)
// on the sample package, run with one cell at a time and with N at a time (default 2, the
// machine's cores) in the same run: the wall time, the cells per minute and the ratio of the two.
// Each cell installs, repairs, removes and restarts in a throwaway machine of its own.
//
//   build/bin/bench_matrix [N]

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
  // 1 is a matrix with failing cells (the sample needs an administrator): finished all the same.
  if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) return -1;
  return seconds;
}

int CountCells(const std::string& out) {
  int n = 0;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(out) / "cells", ec))
    n += entry.path().extension() == ".cell";
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const int jobs = argc > 1 ? std::atoi(argv[1]) : 2;
  std::error_code ec;
  const fs::path bin = fs::read_symlink("/proc/self/exe", ec).parent_path();
  const std::string tlpack = (bin / "tlpack").string();
  const std::string package = (bin.parent_path() / "examples/sample-product/Setup.data").string();
  if (!fs::exists(tlpack) || !fs::exists(package) || jobs < 1) {
    std::fprintf(stderr, "bench_matrix: needs %s and %s, and N >= 1\n", tlpack.c_str(),
                 package.c_str());
    return 2;
  }
  const fs::path scratch = fs::temp_directory_path() / ("bench-matrix-" + std::to_string(getpid()));
  const std::string one = (scratch / "one").string(), many = (scratch / "many").string();
  const double serial = RunMatrix(tlpack, package, 1, one);
  const double parallel = RunMatrix(tlpack, package, jobs, many);
  const int cells = CountCells(one);
  const bool same = cells > 0 && cells == CountCells(many);
  fs::remove_all(scratch, ec);
  if (serial < 0 || parallel < 0 || !same) {
    std::printf("FAILED: the matrix did not run to its end\n");
    return 1;
  }
  std::printf("%d cells\n", cells);
  std::printf("one at a time  %7.1f s   %6.1f cells per minute\n", serial, cells * 60.0 / serial);
  std::printf("%d at a time    %7.1f s   %6.1f cells per minute   speed-up %.2f\n", jobs, parallel,
              cells * 60.0 / parallel, serial / parallel);
  return 0;
}
