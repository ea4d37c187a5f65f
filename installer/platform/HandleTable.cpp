#include "platform/HandleTable.h"

#include "platform/Files.h"
#include "platform/Machine.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sstream>
#include <sys/file.h>
#include <unistd.h>

namespace platform::handles {

namespace {

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '%' || c == ' ' || c == '\n' || c == '\t' || c == '\r') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::uint64_t NewId() {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t base = [] {
    std::random_device rd;
    return (static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^ static_cast<std::uint64_t>(getpid());
  }();
  // The process id takes part each time: a forked child continues the parent's counter.
  return (base + (++counter) * 0x9E3779B97F4A7C15ull) ^
         (static_cast<std::uint64_t>(getpid()) << 40);
}

std::uint64_t SelfStartTime() {
  // Cached per process id: a forked child is another process with its own start time.
  static std::atomic<long> cachedPid{0};
  static std::atomic<std::uint64_t> cachedStart{0};
  const long pid = getpid();
  if (cachedPid.load() == pid) return cachedStart.load();
  const std::uint64_t start = ProcessStartTime(pid);
  cachedStart.store(start);
  cachedPid.store(pid);
  return start;
}

bool Alive(const Entry& e) {
  if (e.pid <= 0) return false;
  // This process is alive; no need to ask /proc.
  if (e.pid == getpid()) return e.startTime == SelfStartTime();
  std::uint64_t st = ProcessStartTime(e.pid);
  return st != 0 && st == e.startTime;
}

}  // namespace

std::uint64_t ProcessStartTime(long pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[1024];
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return 0;
  buf[n] = 0;
  const char* p = std::strrchr(buf, ')');
  if (!p) return 0;
  // Fields after the command: state is field 3; start time is field 22.
  int field = 2;
  ++p;
  while (*p && field < 22) {
    while (*p == ' ') ++p;
    ++field;
    if (field == 22) break;
    while (*p && *p != ' ') ++p;
  }
  if (field != 22 || !*p) return 0;
  // A zombie has ended: its handles are closed.
  const char* state = std::strrchr(buf, ')') + 2;
  if (*state == 'Z' || *state == 'X') return 0;
  return std::strtoull(p, nullptr, 10);
}

LockedTable::LockedTable(const std::string& path) {
  // Never through a link planted at the table's name: such a table is refused (every open then
  // fails with ERROR_ACCESS_DENIED rather than writing outside the machine).
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ < 0) return;
  while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {}
  std::string text;
  char buf[65536];
  ssize_t n;
  off_t off = 0;
  while ((n = pread(fd_, buf, sizeof buf, off)) > 0) {
    text.append(buf, static_cast<std::size_t>(n));
    off += n;
  }
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    Entry e;
    int kind = 0;
    std::string path;
    if (!(ls >> e.id >> e.pid >> e.startTime >> e.dev >> e.ino >> e.access >> e.share >> kind >>
          path)) {
      dirty_ = true;  // a damaged line is dropped
      continue;
    }
    e.kind = static_cast<Kind>(kind);
    e.hostPath = Unescape(path);
    if (!Alive(e)) {
      dirty_ = true;
      continue;
    }
    entries_.push_back(std::move(e));
  }
}

LockedTable::~LockedTable() {
  if (fd_ < 0) return;
  Commit();
  flock(fd_, LOCK_UN);
  close(fd_);
}

std::uint64_t LockedTable::Add(Entry e) {
  e.id = NewId();
  e.pid = getpid();
  e.startTime = SelfStartTime();
  entries_.push_back(e);
  dirty_ = true;
  return e.id;
}

bool LockedTable::Remove(std::uint64_t id) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->id == id) {
      entries_.erase(it);
      dirty_ = true;
      return true;
    }
  }
  return false;
}

void LockedTable::Rename(const std::string& from, const std::string& to) {
  for (Entry& e : entries_) {
    if (e.hostPath == from) {
      e.hostPath = to;
      dirty_ = true;
    } else if (e.hostPath.size() > from.size() && e.hostPath.compare(0, from.size(), from) == 0 &&
               e.hostPath[from.size()] == '/') {
      e.hostPath = to + e.hostPath.substr(from.size());
      dirty_ = true;
    }
  }
}

void LockedTable::Commit() {
  if (fd_ < 0 || !dirty_) return;
  std::string text;
  for (const Entry& e : entries_) {
    text += std::to_string(e.id) + " " + std::to_string(e.pid) + " " + std::to_string(e.startTime) +
            " " + std::to_string(e.dev) + " " + std::to_string(e.ino) + " " +
            std::to_string(e.access) + " " + std::to_string(e.share) + " " +
            std::to_string(static_cast<int>(e.kind)) + " " + Escape(e.hostPath) + "\n";
  }
  // Written over in place, then cut to its new length: truncating to zero first would make the
  // file system flush the table to disk at every close.
  std::size_t off = 0;
  while (off < text.size()) {
    ssize_t w = pwrite(fd_, text.data() + off, text.size() - off, static_cast<off_t>(off));
    if (w <= 0) break;
    off += static_cast<std::size_t>(w);
  }
  if (off == text.size()) (void)ftruncate(fd_, static_cast<off_t>(text.size()));
  dirty_ = false;
}

std::string CurrentTablePath() { return Machine::Current().StateDir() + "/handles"; }

bool WantsRead(DWORD a) {
  return (a & (GENERIC_READ | GENERIC_ALL | GENERIC_EXECUTE | FILE_READ_DATA |
               0x0020 /*FILE_EXECUTE*/)) != 0;
}
bool WantsWrite(DWORD a) {
  return (a & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
}
bool WantsDelete(DWORD a) { return (a & (DELETE | GENERIC_ALL)) != 0; }

DWORD CheckShare(const std::vector<Entry>& entries, std::uint64_t dev, std::uint64_t ino,
                 DWORD access, DWORD share) {
  const bool r = WantsRead(access), w = WantsWrite(access), d = WantsDelete(access);
  // Opens for attributes only take no part in sharing, either way.
  if (!r && !w && !d) return ERROR_SUCCESS;
  for (const Entry& e : entries) {
    if (e.dev != dev || e.ino != ino) continue;
    const bool er = WantsRead(e.access), ew = WantsWrite(e.access), ed = WantsDelete(e.access);
    if (!er && !ew && !ed) continue;
    if ((r && !(e.share & FILE_SHARE_READ)) || (w && !(e.share & FILE_SHARE_WRITE)) ||
        (d && !(e.share & FILE_SHARE_DELETE)) || (er && !(share & FILE_SHARE_READ)) ||
        (ew && !(share & FILE_SHARE_WRITE)) || (ed && !(share & FILE_SHARE_DELETE)))
      return ERROR_SHARING_VIOLATION;
  }
  return ERROR_SUCCESS;
}

bool IsImage(const std::vector<Entry>& entries, std::uint64_t dev, std::uint64_t ino) {
  for (const Entry& e : entries)
    if (e.kind == Kind::Image && e.dev == dev && e.ino == ino) return true;
  return false;
}

bool AnyUnder(const std::vector<Entry>& entries, const std::string& dir) {
  for (const Entry& e : entries)
    if (e.hostPath.size() > dir.size() && e.hostPath.compare(0, dir.size(), dir) == 0 &&
        e.hostPath[dir.size()] == '/')
      return true;
  return false;
}

}  // namespace platform::handles
