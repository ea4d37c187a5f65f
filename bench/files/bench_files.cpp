// Benchmark: enumerate and stat a machine tree of 20,000 files through the file layer
// (FindFirstFileW-style, recursive, every entry with attributes, size and times), against
// `find <tree> -printf` over the same host tree, measured in the same run. Prints the ratio.
//
// Usage: bench_files [files=20000] [rounds=5]
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Text.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Walks a folder through the layer; returns the number of entries seen.
std::size_t Walk(const std::wstring& dir, std::uint64_t& bytes) {
  std::size_t count = 0;
  FileFinder finder;
  FindData d;
  if (finder.First(dir + L"\\*", d) != ERROR_SUCCESS) return 0;
  do {
    if (d.fileName == L"." || d.fileName == L"..") continue;
    ++count;
    bytes += d.size;
    if (d.attributes & FILE_ATTRIBUTE_DIRECTORY) count += Walk(dir + L"\\" + d.fileName, bytes);
  } while (finder.Next(d) == ERROR_SUCCESS);
  return count;
}

double RunFind(const std::string& tree) {
  auto t0 = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execlp("find", "find", tree.c_str(), "-printf", "%p %s %T@ %m\n", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  auto t1 = Clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "bench_files: find failed\n");
    std::exit(1);
  }
  return Seconds(t0, t1);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::max(100, std::atoi(argv[1])) : 20000;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string temp = hostio::MakeTempDir("tl-bench-files-");
  if (temp.empty()) return 1;
  const std::string root = temp + "/machine";
  Machine::SetCurrentForProcess(root);
  // The tree: 200 folders of 100 files (plus sub-folders every 10th folder), made on the host.
  const std::string tree = root + "/drive_c/Tree";
  const int perDir = 100;
  int made = 0;
  for (int d = 0; made < files; ++d) {
    std::string dir = tree + "/Folder " + std::to_string(d);
    if (d % 10 == 9)
      dir = tree + "/Folder " + std::to_string(d - 1) + "/Nested " + std::to_string(d);
    hostio::MakeDirs(dir);
    for (int f = 0; f < perDir && made < files; ++f, ++made) {
      std::string name = dir + "/File_" + std::to_string(f) + (f % 3 ? ".dat" : ".TXT");
      int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        if (write(fd, name.data(), static_cast<std::size_t>(f % 50)) < 0) std::perror("write");
        close(fd);
      }
    }
  }
  // Warm the host caches once with each.
  std::uint64_t bytes = 0;
  std::size_t seen = Walk(L"C:\\Tree", bytes);
  RunFind(tree);
  std::vector<double> layer, find;
  for (int r = 0; r < rounds; ++r) {
    bytes = 0;
    auto t0 = Clock::now();
    seen = Walk(L"C:\\Tree", bytes);
    auto t1 = Clock::now();
    layer.push_back(Seconds(t0, t1));
    find.push_back(RunFind(tree));
  }
  const double l = Median(layer), f = Median(find);
  std::printf("bench_files: %zu entries (%d files), %d rounds, median times\n", seen, files,
              rounds);
  std::printf("  file layer (FileFinder, recursive, attributes+size+times): %.4f s\n", l);
  std::printf("  find -printf (same host tree):                             %.4f s\n", f);
  std::printf("  ratio layer/find: %.2f (aim: within 2)\n", l / f);
  Machine::ResetCurrent();
  hostio::RemoveTree(temp);
  return 0;
}
