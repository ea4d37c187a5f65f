#pragma once
// Where the tests find the CAD engine library: the folder ctest names (TOLMERA_LIB_DIR), else
// the build's library folder compiled into the test, else lib/ beside the test's bin/ folder.

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace morlane_test {

inline std::string EngineLibraryDir() {
  if (const char* d = std::getenv("TOLMERA_LIB_DIR"); d && *d) return d;
#ifdef TOLMERA_DEFAULT_LIB_DIR
  return TOLMERA_DEFAULT_LIB_DIR;
#else
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return ".";
  std::string path(exe, static_cast<size_t>(n));
  path = path.substr(0, path.rfind('/'));
  return path.substr(0, path.rfind('/')) + "/lib";
#endif
}

// The engine's file name, as the viewer looks for it beside itself.
inline const char* EngineLibraryName() { return "libcad-ondravel.so"; }

inline std::string EngineLibraryPath() { return EngineLibraryDir() + "/" + EngineLibraryName(); }

}  // namespace morlane_test
