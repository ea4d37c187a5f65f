// What the installer benchmarks share: payload files that read like model data (words with a
// little noise, so deflate has work to do) and a shell command that says when it failed.
#pragma once

#include <cstdio>
#include <cstdlib>
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

// Runs a reference command of a benchmark; a failure is printed with the benchmark's name.
inline int RunCommand(const char* benchmark, const std::string& command) {
  int rc = std::system(command.c_str());
  if (rc != 0) std::fprintf(stderr, "%s: '%s' failed (%d)\n", benchmark, command.c_str(), rc);
  return rc;
}

}  // namespace bench
