// Small host-file helpers shared by the machine layer's own sources (not a public service).
#pragma once

#include <string>
#include <string_view>

namespace platform::hostio {

// mkdir -p; true when the folder exists afterwards.
bool MakeDirs(const std::string& path, unsigned mode = 0755);
// Whole file into `out`; false when it cannot be read.
bool ReadFile(const std::string& path, std::string& out);
// Writes through a temporary file in the same folder and renames it over `path`.
bool WriteFileAtomic(const std::string& path, std::string_view data);
bool IsDirectory(const std::string& path);
bool Exists(const std::string& path);
// Is the folder empty (or missing)?
bool IsEmptyDirectory(const std::string& path);
// Removes a host tree (used by tests and tools for their own temporary machines).
bool RemoveTree(const std::string& path);
// A fresh temporary folder under /tmp (mkdtemp) with the given name prefix; "" on failure.
std::string MakeTempDir(const std::string& prefix);
// The host's errno as a Win32 status.
unsigned long ErrnoToWin32(int err);

}  // namespace platform::hostio
