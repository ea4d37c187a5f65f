// Small host-file helpers shared by the machine layer's own sources (not a public service).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::hostio {

// mkdir -p; true when the folder exists afterwards.
bool MakeDirs(const std::string& path, unsigned mode = 0755);
// What the machine layer reads whole of its own files at most (a state record, machine.ini).
inline constexpr std::size_t kDefaultReadLimit = 64u << 20;
// A regular file whole into `out`, when it holds at most `maxBytes`. It is opened without
// waiting (a FIFO planted at the name never blocks) and its type is checked on the open
// descriptor; it is never read past `maxBytes` + 1 (a device such as /dev/zero is refused before
// a byte is read). ERROR_SUCCESS, or the failure as a Win32 status with `why`, a short reason
// that completes "<path> cannot be read: " ("it is not a regular file", "it is larger than 1048576
// bytes", the system's text).
unsigned long ReadRegularFile(const std::string& path, std::string& out, std::size_t maxBytes,
                              std::string* why = nullptr);
// Whole file into `out` (a regular file of at most kDefaultReadLimit bytes); false when it cannot
// be read, with `why` as above.
bool ReadFile(const std::string& path, std::string& out, std::string* why = nullptr);
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
