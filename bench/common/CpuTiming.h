// CPU time of a piece of work, for the benchmarks that compare the engine with the kernel called
// directly: process CPU time, so other work on the machine does not count, and the median of
// repeated runs.
#pragma once

#include <algorithm>
#include <ctime>
#include <functional>
#include <vector>

namespace bench {

inline double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec * 1e-9;
}

inline double Seconds(const std::function<void()>& f) {
  const double t0 = CpuNow();
  f();
  return CpuNow() - t0;
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace bench
