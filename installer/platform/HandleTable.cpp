#include "platform/HandleTable.h"

#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/System.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <random>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
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

long SelfPid() { return GetCurrentProcessId(); }

std::uint64_t NewId() {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t base = [] {
    std::random_device rd;
    return (static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^ static_cast<std::uint64_t>(getpid());
  }();
  // The process id takes part each time: a forked child continues the parent's counter.
  return (base + (++counter) * 0x9E3779B97F4A7C15ull) ^
         (static_cast<std::uint64_t>(SelfPid()) << 40);
}

std::uint64_t SelfStartTime() {
  // Cached per process id: a forked child is another process with its own start time.
  static std::atomic<long> cachedPid{0};
  static std::atomic<std::uint64_t> cachedStart{0};
  const long pid = SelfPid();
  if (cachedPid.load() == pid) return cachedStart.load();
  const std::uint64_t start = ProcessStartTime(pid);
  cachedStart.store(start);
  cachedPid.store(pid);
  return start;
}

bool Alive(const Entry& e) {
  if (e.pid <= 0) return false;
  // This process is alive; no need to ask /proc.
  if (e.pid == SelfPid()) return e.startTime == SelfStartTime();
  std::uint64_t st = ProcessStartTime(e.pid);
  return st != 0 && st == e.startTime;
}

// One line of the table: nine fields separated by blanks (more are ignored).
bool ParseLine(std::string_view line, Entry& e) {
  std::string_view fields[9];
  std::size_t count = 0, at = 0;
  while (count < 9) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
    if (at >= line.size()) break;
    std::size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
    fields[count++] = line.substr(at, end - at);
    at = end;
  }
  if (count < 9) return false;
  auto number = [](std::string_view f, std::uint64_t max, std::uint64_t& out) {
    if (f.empty() || f.size() > 20) return false;
    std::uint64_t v = 0;
    for (char c : f) {
      if (c < '0' || c > '9') return false;
      const std::uint64_t d = static_cast<std::uint64_t>(c - '0');
      if (v > (max - d) / 10) return false;
      v = v * 10 + d;
    }
    out = v;
    return true;
  };
  std::uint64_t pid = 0, access = 0, share = 0, kind = 0;
  if (!number(fields[0], UINT64_MAX, e.id) || !number(fields[1], LONG_MAX, pid) ||
      !number(fields[2], UINT64_MAX, e.startTime) || !number(fields[3], UINT64_MAX, e.dev) ||
      !number(fields[4], UINT64_MAX, e.ino) || !number(fields[5], UINT32_MAX, access) ||
      !number(fields[6], UINT32_MAX, share) || !number(fields[7], INT_MAX, kind))
    return false;
  e.pid = static_cast<long>(pid);
  e.access = static_cast<DWORD>(access);
  e.share = static_cast<DWORD>(share);
  e.kind = static_cast<Kind>(kind);
  e.hostPath = Unescape(std::string(fields[8]));
  return true;
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

namespace {

// Each process keeps the table's file open between uses (the current machine's; another path
// opens another). Threads of the process take turns through the mutex, as the lock on the file
// does not tell them apart; a forked child opens its own (a lock on the parent's open file would
// be the parent's too).
struct OpenTable {
  std::mutex mutex;
  std::string path;
  int fd = -1;
  long pid = 0;
  // The last reading that may be reused, with the state of the file it was read from.
  bool kept = false;
  std::vector<Entry> keptEntries;
  std::uint64_t keptIno = 0, keptDev = 0, keptSize = 0;
  std::int64_t keptMtimeSec = 0, keptMtimeNsec = 0, keptCtimeSec = 0, keptCtimeNsec = 0;
};

// Whether the file's times lie before now by more than the file system's clock may stand still:
// any later write of it then gives it other times.
bool Settled(const struct stat& st) {
  struct timespec now;
  if (clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0) return false;
  constexpr std::int64_t kMarginNs = 50'000'000;  // far more than a tick of the coarse clock
  auto ns = [](const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
  };
  const std::int64_t limit = ns(now) - kMarginNs;
  return ns(st.st_mtim) < limit && ns(st.st_ctim) < limit;
}

bool SameFile(const OpenTable& t, const struct stat& st) {
  return t.kept && t.keptIno == static_cast<std::uint64_t>(st.st_ino) &&
         t.keptDev == static_cast<std::uint64_t>(st.st_dev) &&
         t.keptSize == static_cast<std::uint64_t>(st.st_size) &&
         t.keptMtimeSec == st.st_mtim.tv_sec && t.keptMtimeNsec == st.st_mtim.tv_nsec &&
         t.keptCtimeSec == st.st_ctim.tv_sec && t.keptCtimeNsec == st.st_ctim.tv_nsec;
}

void Keep(OpenTable& t, const struct stat& st, const std::vector<Entry>& entries) {
  t.kept = true;
  t.keptEntries = entries;
  t.keptIno = static_cast<std::uint64_t>(st.st_ino);
  t.keptDev = static_cast<std::uint64_t>(st.st_dev);
  t.keptSize = static_cast<std::uint64_t>(st.st_size);
  t.keptMtimeSec = st.st_mtim.tv_sec;
  t.keptMtimeNsec = st.st_mtim.tv_nsec;
  t.keptCtimeSec = st.st_ctim.tv_sec;
  t.keptCtimeNsec = st.st_ctim.tv_nsec;
}

OpenTable& SharedTable() {
  static auto* table = new OpenTable;
  return *table;
}

int OpenTableFile(const std::string& path) {
  // Never through a link planted at the table's name: such a table is refused (every open then
  // fails with ERROR_ACCESS_DENIED rather than writing outside the machine).
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0 && errno == ENOENT) {
    // The machine's state folder is made on first use.
    const std::size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && hostio::MakeDirs(path.substr(0, slash)))
      fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  }
  return fd;
}

void Lock(int fd) {
  while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {}
}

}  // namespace

LockedTable::LockedTable(const std::string& path, Reading reading) {
  OpenTable& shared = SharedTable();
  shared.mutex.lock();
  const long pid = SelfPid();
  if (shared.fd >= 0 && (shared.pid != pid || shared.path != path)) {
    close(shared.fd);
    shared.fd = -1;
  }
  struct stat st;
  bool haveStatus = false;
  if (shared.fd >= 0) {
    Lock(shared.fd);
    // The file kept open is still the table: one removed or replaced since (a machine made
    // again, a link planted at the name) is given up and the name opened again.
    if (fstat(shared.fd, &st) != 0 || st.st_nlink == 0) {
      flock(shared.fd, LOCK_UN);
      close(shared.fd);
      shared.fd = -1;
    } else {
      haveStatus = true;
    }
  }
  if (shared.fd < 0) {
    shared.kept = false;
    shared.fd = OpenTableFile(path);
    if (shared.fd < 0) {
      shared.mutex.unlock();
      return;
    }
    shared.path = path;
    shared.pid = pid;
    Lock(shared.fd);
    haveStatus = fstat(shared.fd, &st) == 0;
  }
  fd_ = shared.fd;
  if (reading == Reading::ReuseUnchanged && haveStatus && SameFile(shared, st)) {
    entries_ = shared.keptEntries;
    length_ = static_cast<std::size_t>(st.st_size);
    reused_ = true;
    return;
  }
  std::string text;
  char buf[65536];
  ssize_t n;
  off_t off = 0;
  while ((n = pread(fd_, buf, sizeof buf, off)) > 0) {
    text.append(buf, static_cast<std::size_t>(n));
    off += n;
    if (static_cast<std::size_t>(n) < sizeof buf) break;  // the end (the file is locked)
  }
  length_ = text.size();
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    Entry e;
    if (!ParseLine(std::string_view(text).substr(at, end - at), e)) {
      dirty_ = true;  // a damaged line is dropped
    } else if (!Alive(e)) {
      dirty_ = true;
    } else {
      entries_.push_back(std::move(e));
    }
    at = end + 1;
  }
  // A reading that changes nothing may stand for the next ones while the file stays as it is;
  // one that drops entries is written back, which changes the file anyway.
  shared.kept = false;
  if (!dirty_ && haveStatus && static_cast<std::size_t>(st.st_size) == length_ && Settled(st))
    Keep(shared, st, entries_);
}

LockedTable::~LockedTable() {
  if (fd_ < 0) return;
  Commit();
  flock(fd_, LOCK_UN);
  SharedTable().mutex.unlock();
}

std::uint64_t LockedTable::Add(Entry e) {
  e.id = NewId();
  e.pid = SelfPid();
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
  SharedTable().kept = false;  // held by this table: what is written now is another table
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
  // Cut only when the table got shorter (a longer one was written over all of the old).
  if (off == text.size() && text.size() < length_)
    (void)ftruncate(fd_, static_cast<off_t>(text.size()));
  if (off == text.size()) length_ = text.size();
  dirty_ = false;
}

std::string CurrentTablePath() { return Machine::Current().Root() + "/state/handles"; }

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
