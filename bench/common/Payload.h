// What the installer benchmarks share: payload files that read like model data (words with a
// little noise, so deflate has work to do) and a shell command that says when it failed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <stdlib.h>
#include <random>
#include <string>

namespace bench {

inline std::string Payload(std::mt19937& rng, std::size_t size) {
  static const char* words[] = {"shaft",   "gear",   "bearing", "module",  "teeth",     "width",
                                "chamfer", "groove", "bolt",    "nut",     "washer",    "M12",
                                "0.25",    "1450",   "steel",   "section", "<node id=", "/>\n"};
  std::string s;
  s.reserve(size + 16);
  std::uniform_int_distribution<int> pick(0, 17), noise(0, 255);
  while (s.size() < size) {
    s += words[pick(rng)];
    s += ' ';
    if (pick(rng) == 0) s += static_cast<char>(noise(rng));
  }
  s.resize(size);
  return s;
}

// A fresh folder for a benchmark's machine and reference trees, below `parent` (default /tmp).
// Both sides of a comparison work in it, so a file system whose own costs swamp the figures (a
// disk busy with other work) can be swapped for another, such as /dev/shm.
inline std::string WorkFolder(const char* prefix, const char* parent) {
  std::string templ = std::string(parent && *parent ? parent : "/tmp") + "/" + prefix + "XXXXXX";
  if (!mkdtemp(templ.data())) {
    std::fprintf(stderr, "%s: no folder can be made in %s\n", prefix, parent ? parent : "/tmp");
    return std::string();
  }
  return templ;
}

// Runs a reference command of a benchmark; a failure is printed with the benchmark's name.
inline int RunCommand(const char* benchmark, const std::string& command) {
  int rc = std::system(command.c_str());
  if (rc != 0) std::fprintf(stderr, "%s: '%s' failed (%d)\n", benchmark, command.c_str(), rc);
  return rc;
}

}  // namespace bench
