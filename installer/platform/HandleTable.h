// The per-machine table of open file handles that makes Windows share modes hold across the
// processes of one machine (internal to the file layer).
//
// The table is a text file, <root>/state/handles, one line per open handle:
//   <id> <pid> <process start time> <device> <inode> <access> <share> <kind> <host path>
// read and rewritten under an exclusive flock. Entries whose process has ended (or whose pid now
// belongs to a process started at another time) are dropped whenever the table is read.
#pragma once

#include "platform/Win32Errors.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform::handles {

enum class Kind : int { Handle = 0, Image = 1 };

struct Entry {
  std::uint64_t id = 0;
  long pid = 0;
  std::uint64_t startTime = 0;
  std::uint64_t dev = 0;
  std::uint64_t ino = 0;
  DWORD access = 0;
  DWORD share = 0;
  Kind kind = Kind::Handle;
  std::string hostPath;
};

// Whether a table may stand on what this process read of it before.
enum class Reading {
  Afresh,          // read now, entries of ended processes dropped
  ReuseUnchanged,  // the last reading kept while the table's file has not changed since
};

// Holds the table locked from construction to destruction; changes are written back by
// Commit() or the destructor.
//
// With Reading::ReuseUnchanged the entries of the process's last reading stand, without reading
// the file, while the file is the same one with the same length and times, and those times were
// already in the past when it was read (a write afterwards gives it a later time, however
// coarse the file system's clock). Such a table may still hold entries of processes that have
// ended since: it never shows fewer conflicts than there are, but may show more, which the
// caller confirms with a table read afresh. Many checks in a row (a folder's deletions) read
// the table once so.
class LockedTable {
 public:
  explicit LockedTable(const std::string& path, Reading reading = Reading::Afresh);
  ~LockedTable();
  LockedTable(const LockedTable&) = delete;
  LockedTable& operator=(const LockedTable&) = delete;

  bool Ok() const { return fd_ >= 0; }
  const std::vector<Entry>& Entries() const { return entries_; }
  // The entries are the last reading's (Reading::ReuseUnchanged), not read now.
  bool Reused() const { return reused_; }
  // Adds an entry for this process; returns its id.
  std::uint64_t Add(Entry e);
  bool Remove(std::uint64_t id);
  // Updates the host path of entries (after a rename).
  void Rename(const std::string& from, const std::string& to);
  void Commit();

 private:
  int fd_ = -1;
  bool dirty_ = false;
  bool reused_ = false;
  std::size_t length_ = 0;  // of the file as read or last written
  std::vector<Entry> entries_;
};

// The table of the current machine.
std::string CurrentTablePath();

// Would a new open of (dev, ino) with `access` and `share` conflict with the entries?
// ERROR_SUCCESS or ERROR_SHARING_VIOLATION.
DWORD CheckShare(const std::vector<Entry>& entries, std::uint64_t dev, std::uint64_t ino,
                 DWORD access, DWORD share);
// Is there an image entry (a running program's file) for (dev, ino)?
bool IsImage(const std::vector<Entry>& entries, std::uint64_t dev, std::uint64_t ino);
// Is any entry's host path inside the folder `dir` (for moving or removing folders)?
bool AnyUnder(const std::vector<Entry>& entries, const std::string& dir);

// Access masks reduced to their effect on sharing.
bool WantsRead(DWORD access);
bool WantsWrite(DWORD access);
bool WantsDelete(DWORD access);

// Start time of a process (field 22 of /proc/<pid>/stat), 0 when it does not exist.
std::uint64_t ProcessStartTime(long pid);

}  // namespace platform::handles
