// Path mapping: Windows paths of the machine to host locations (drives, shares, WOW64
// redirection, case-insensitive look-up, links checked to stay on their drive).
#include "platform/FilesInternal.h"

#include "platform/HandleTable.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

namespace files_detail {

DWORD Win32FromErrno(int err) { return static_cast<DWORD>(hostio::ErrnoToWin32(err)); }

// Function-local statics: other services install their hooks from their own static
// initialisers, which may run before this file's. Like all of the layer's process-wide state they
// are never destroyed, so that destructors of static objects can still use files at exit.
std::mutex& HookMutex() {
  static auto* m = new std::mutex;
  return *m;
}
ShareResolver& ShareResolverHook() {
  static auto* resolver = new ShareResolver;
  return *resolver;
}
DelayedMoveHandler& DelayedMoveHook() {
  static auto* handler = new DelayedMoveHandler;
  return *handler;
}
FileSecurityHooks& FileSecurityHook() {
  static auto* h = new FileSecurityHooks();
  return *h;
}

FileSecurityHooks SecurityHooksNow() {
  std::lock_guard<std::mutex> lock(HookMutex());
  return FileSecurityHook();
}

DWORD CheckAccess(const Resolved& r, DWORD desired) {
  FileSecurityHooks h = SecurityHooksNow();
  if (!h.check || !desired) return ERROR_SUCCESS;
  return h.check(r.isLink ? r.self : r.loc.hostPath, r.loc.driveRoot, r.loc.windowsPath, desired);
}

DWORD CheckCreate(const Resolved& r, bool isDir) {
  FileSecurityHooks h = SecurityHooksNow();
  if (!h.check || r.loc.hostPath.size() <= r.loc.driveRoot.size()) return ERROR_SUCCESS;
  return h.check(ParentOf(r.loc.hostPath), r.loc.driveRoot, r.loc.windowsPath,
                 isDir ? 0x0004u /* FILE_ADD_SUBDIRECTORY */ : 0x0002u /* FILE_ADD_FILE */);
}

DWORD CheckDelete(const Resolved& r) {
  FileSecurityHooks h = SecurityHooksNow();
  if (!h.check) return ERROR_SUCCESS;
  const std::string self = r.isLink ? r.self : r.loc.hostPath;
  if (h.check(self, r.loc.driveRoot, r.loc.windowsPath, DELETE) == ERROR_SUCCESS)
    return ERROR_SUCCESS;
  if (self.size() <= r.loc.driveRoot.size()) return ERROR_ACCESS_DENIED;
  return h.check(ParentOf(self), r.loc.driveRoot, r.loc.windowsPath,
                 0x0040u /* FILE_DELETE_CHILD */);
}

DWORD Leaving(const Resolved& r) {
  if (r.isLink) return ERROR_SUCCESS;  // a link keeps no list
  FileSecurityHooks h = SecurityHooksNow();
  return h.leaving ? h.leaving(r.loc.hostPath, r.loc.driveRoot) : ERROR_SUCCESS;
}

void Created(const Resolved& r, bool isDir) {
  FileSecurityHooks h = SecurityHooksNow();
  if (h.created) h.created(r.loc.hostPath, r.loc.driveRoot, isDir);
}

std::string RealRoot(const std::string& root) {
  static auto* m = new std::mutex;
  static auto* cache = new std::map<std::string, std::string>;
  std::lock_guard<std::mutex> lock(*m);
  auto it = cache->find(root);
  if (it != cache->end()) return it->second;
  char buf[PATH_MAX];
  std::string real = realpath(root.c_str(), buf) ? std::string(buf) : root;
  cache->emplace(root, real);
  return real;
}

bool IsInside(const std::string& path, const std::string& root) {
  if (root == "/") return !path.empty() && path[0] == '/';
  return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                          path[root.size()] == '/');
}

std::string JoinHost(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

namespace {

// What a folder looked like when it was listed: a changed folder has another modification or
// change time (or is another folder).
struct FolderStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{}, ctime{};
  bool operator==(const FolderStamp& o) const {
    return dev == o.dev && ino == o.ino && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

// `known`, when given, is the folder's status as the caller has just read it.
bool StampOf(const std::string& dir, FolderStamp& stamp, const struct stat* known = nullptr) {
  struct stat st;
  if (known)
    st = *known;
  else if (stat(dir.c_str(), &st) != 0)
    return false;
  if (!S_ISDIR(st.st_mode)) return false;
  stamp.dev = st.st_dev;
  stamp.ino = st.st_ino;
  stamp.mtime = st.st_mtim;
  stamp.ctime = st.st_ctim;
  return true;
}

// The names of a few recently listed folders by their upper-case form, so that looking up a
// missing name (every file an extraction creates) does not list its folder again each time. A
// listing is used only while the folder's stamp is unchanged; the layer's own creations are
// added to it right after the look-up that found the name missing, and every other change (by
// this process or another) makes the next look-up list the folder again.
class FolderNameCache {
 public:
  // Listing found (true, with `found` and `hostName` set) or could not be had (false).
  bool Find(const std::string& dir, const std::wstring& name, bool& found, std::string& hostName,
            const struct stat* known = nullptr) {
    FolderStamp stamp;
    if (!StampOf(dir, stamp, known)) return false;
    std::lock_guard<std::mutex> lock(m_);
    Folder* f = Get(dir, stamp);
    if (!f) return false;
    f->lastUse = ++clock_;
    f->lastMiss = ToUpper(name);
    auto it = f->names.find(f->lastMiss);
    found = it != f->names.end();
    if (found) hostName = it->second.host;
    return true;
  }

  // `hostName` was just created in `dir` after a look-up of its name found nothing there.
  void Created(const std::string& dir, const std::string& hostName,
               const struct stat* known = nullptr, const std::wstring* wideName = nullptr) {
    std::lock_guard<std::mutex> lock(m_);
    for (Folder& f : folders_) {
      if (f.dir != dir) continue;
      const std::wstring wide = wideName ? *wideName : FromUtf8(hostName);
      std::wstring upper = ToUpper(wide);
      FolderStamp now;
      if (f.lastMiss != upper || !StampOf(dir, now, known)) {
        f.dir.clear();  // listed again when next needed
        return;
      }
      f.lastMiss.clear();
      f.stamp = now;
      Add(f, wide, hostName, std::move(upper));
      if (f.names.size() > kMaxNames) {
        f.dir.clear();
        f.names.clear();
      }
      return;
    }
  }

 private:
  struct Spelling {
    std::wstring wide;
    std::string host;
  };
  struct Folder {
    std::string dir;
    FolderStamp stamp;
    std::unordered_map<std::wstring, Spelling> names;
    std::wstring lastMiss;
    std::uint64_t lastUse = 0;
  };
  static constexpr std::size_t kFolders = 64;
  // The names kept in all folders together; a folder with more is listed at every look-up.
  static constexpr std::size_t kMaxNames = 1u << 19;

  static void Add(Folder& f, const std::wstring& wide, const std::string& host,
                  std::wstring upper = std::wstring()) {
    if (upper.empty()) upper = ToUpper(wide);
    // Among several spellings of one name the first in NTFS order wins.
    auto [it, fresh] = f.names.try_emplace(std::move(upper), Spelling{wide, host});
    if (!fresh && wide < it->second.wide) it->second = Spelling{wide, host};
  }

  Folder* Get(const std::string& dir, const FolderStamp& stamp) {
    Folder* slot = nullptr;
    for (Folder& f : folders_) {
      if (f.dir == dir) {
        if (f.stamp == stamp) return &f;
        slot = &f;
        break;
      }
    }
    if (!slot) {
      if (folders_.size() < kFolders) {
        folders_.emplace_back();
        slot = &folders_.back();
      } else {
        slot = &*std::min_element(
            folders_.begin(), folders_.end(),
            [](const Folder& a, const Folder& b) { return a.lastUse < b.lastUse; });
      }
    }
    slot->dir.clear();
    slot->names.clear();
    slot->lastMiss.clear();
    DIR* d = opendir(dir.c_str());
    if (!d) return nullptr;
    bool fits = true;
    while (dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      if (slot->names.size() >= kMaxNames) {
        fits = false;
        break;
      }
      Add(*slot, FromUtf8(e->d_name), e->d_name);
    }
    closedir(d);
    if (!fits) {
      slot->names.clear();
      return nullptr;
    }
    // The folder may have changed while it was listed: the stamp is the one from before, so
    // such a change makes the next look-up list it again.
    slot->dir = dir;
    slot->stamp = stamp;
    // Within the budget: the folders used longest ago give up their names.
    std::size_t total = 0;
    for (const Folder& f : folders_) total += f.names.size();
    while (total > kMaxNames) {
      Folder* oldest = nullptr;
      for (Folder& f : folders_)
        if (&f != slot && !f.names.empty() && (!oldest || f.lastUse < oldest->lastUse)) oldest = &f;
      if (!oldest) break;
      total -= oldest->names.size();
      oldest->dir.clear();
      oldest->names.clear();
    }
    return slot;
  }

  std::mutex m_;
  std::uint64_t clock_ = 0;
  std::vector<Folder> folders_;
};

FolderNameCache& FolderNames() {
  static auto* cache = new FolderNameCache;
  return *cache;
}

// The look-up by listing the folder, for folders the cache does not keep.
bool ScanForChild(const std::string& dir, const std::wstring& name, std::string& hostName) {
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  bool found = false;
  std::wstring best;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    std::wstring w = FromUtf8(e->d_name);
    if (!EqualsNoCase(w, name)) continue;
    if (!found || w < best) {
      best = w;
      hostName = e->d_name;
      found = true;
    }
  }
  closedir(d);
  return found;
}

}  // namespace

bool LookupChild(const std::string& dir, const std::wstring& name, std::string& hostName,
                 struct stat& st) {
  const std::string utf8 = ToUtf8(name);
  if (lstat(JoinHost(dir, utf8).c_str(), &st) == 0) {
    hostName = utf8;
    return true;
  }
  bool found = false;
  if (!FolderNames().Find(dir, name, found, hostName)) found = ScanForChild(dir, name, hostName);
  if (!found) return false;
  return lstat(JoinHost(dir, hostName).c_str(), &st) == 0;
}

int FindChildAt(int dirFd, const struct stat& dirStatus, const std::string& dir,
                const std::wstring& name, const std::string& utf8) {
  bool found = false;
  std::string hostName;
  if (FolderNames().Find(dir, name, found, hostName, &dirStatus)) return found ? 1 : 0;
  // Not listed (too many names): only the exact spelling can be asked.
  struct stat st;
  if (fstatat(dirFd, utf8.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return 1;
  return -1;
}

void NoteChildCreatedAt(const struct stat& dirStatus, const std::string& dir,
                        const std::string& hostName, const std::wstring& name) {
  FolderNames().Created(dir, hostName, &dirStatus, &name);
}

void NoteChildCreated(const std::string& host) {
  const std::size_t cut = host.find_last_of('/');
  if (cut == std::string::npos || cut + 1 >= host.size()) return;
  FolderNames().Created(ParentOf(host), host.substr(cut + 1));
}

std::string ParentOf(const std::string& host) {
  std::size_t s = host.find_last_of('/');
  if (s == std::string::npos || s == 0) return "/";
  return host.substr(0, s);
}

namespace {

// Kernels without openat2 (or sandboxes that refuse it) fall back to the walk for good.
std::atomic<bool>& NoOpenat2() {
  static auto* flag = new std::atomic<bool>(false);
  return *flag;
}

// `rel` (folders below the root, '/'-separated) opened from `rootFd` without following links.
int OpenFoldersBeneath(int rootFd, const std::string& rel) {
#ifdef SYS_openat2
  if (!NoOpenat2().load(std::memory_order_relaxed)) {
    struct open_how how {};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd = syscall(SYS_openat2, rootFd, rel.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno == ENOSYS || errno == EPERM || errno == E2BIG)
      NoOpenat2().store(true, std::memory_order_relaxed);
    else if (errno != EAGAIN)
      return -1;
  }
#endif
  int cur = fcntl(rootFd, F_DUPFD_CLOEXEC, 0);
  std::size_t b = 0;
  while (cur >= 0 && b < rel.size()) {
    std::size_t e = rel.find('/', b);
    if (e == std::string::npos) e = rel.size();
    const std::string part = rel.substr(b, e - b);
    b = e + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      close(cur);
      errno = ELOOP;
      return -1;
    }
    int next = openat(cur, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int err = errno;
    close(cur);
    errno = err;
    cur = next;
  }
  return cur;
}

}  // namespace

BeneathParent::BeneathParent(const std::string& root, const std::string& host) {
  const std::size_t cut = host.find_last_of('/');
  if (!IsInside(host, root) || host == root || cut == std::string::npos || cut + 1 >= host.size()) {
    err_ = EXDEV;
    return;
  }
  name_ = host.substr(cut + 1);
  const std::size_t skip = root == "/" ? 1 : root.size() + 1;
  const std::string rel = cut > skip ? host.substr(skip, cut - skip) : std::string();
  int rootFd = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (rootFd < 0) {
    err_ = errno;
    return;
  }
  if (rel.empty()) {
    fd_ = rootFd;
    return;
  }
  fd_ = OpenFoldersBeneath(rootFd, rel);
  err_ = fd_ < 0 ? errno : 0;
  close(rootFd);
}

BeneathParent::~BeneathParent() {
  if (fd_ >= 0) close(fd_);
}

DWORD BeneathParent::Status() const {
  if (fd_ >= 0) return ERROR_SUCCESS;
  if (err_ == ENOENT || err_ == ENOTDIR) return ERROR_PATH_NOT_FOUND;
  if (err_ == ELOOP || err_ == EXDEV) return ERROR_ACCESS_DENIED;
  return Win32FromErrno(err_);
}

bool IsPlainFileName(std::wstring_view name) {
  if (name.empty() || name.size() > 255 || name == L"." || name == L"..") return false;
  if (name.back() == L'.' || name.back() == L' ') return false;
  for (wchar_t c : name) {
    if (c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'/' ||
        c == L'\\' || c == L'*' || c == L'?')
      return false;
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  }
  return !IsDosDeviceName(name);
}

int OpenResolvedFolder(const Resolved& r, DWORD& status, struct stat& st) {
  int fd = -1;
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  if (IsDriveRoot(r)) {
    fd = open(r.loc.hostPath.c_str(), flags);
  } else {
    BeneathParent parent(r.loc.driveRoot, r.loc.hostPath);
    if (!parent.Ok()) {
      status = parent.Status();
      return -1;
    }
    fd = openat(parent.Fd(), parent.Name(), flags);
  }
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_dev != r.st.st_dev || st.st_ino != r.st.st_ino) {
    if (fd >= 0) close(fd);
    status = ERROR_ACCESS_DENIED;
    return -1;
  }
  return fd;
}

namespace {

// The machine whose root is `root`, opened once (for UNC paths to other configured computers).
const Machine* OtherMachine(const std::string& root) {
  static auto* m = new std::mutex;
  static auto* cache = new std::map<std::string, std::unique_ptr<Machine>>;
  std::lock_guard<std::mutex> lock(*m);
  auto it = cache->find(root);
  if (it != cache->end()) return it->second.get();
  try {
    auto machine = Machine::Open(root, false);
    const Machine* p = machine.get();
    cache->emplace(root, std::move(machine));
    return p;
  } catch (...) {
    return nullptr;
  }
}

bool IsThisComputer(std::wstring_view server, const MachineConfig& c) {
  return EqualsNoCase(server, c.computerName) || EqualsNoCase(server, L"localhost") ||
         server == L"." || server == L"127.0.0.1";
}

// Splits "\\server\share\rest" into its parts.
void SplitUnc(const std::wstring& full, std::wstring& server, std::wstring& share,
              std::wstring& rest) {
  std::size_t s1 = full.find(L'\\', 2);
  server = full.substr(2, s1 == std::wstring::npos ? std::wstring::npos : s1 - 2);
  if (s1 == std::wstring::npos) return;
  std::size_t s2 = full.find(L'\\', s1 + 1);
  share = full.substr(s1 + 1, s2 == std::wstring::npos ? std::wstring::npos : s2 - s1 - 1);
  if (s2 != std::wstring::npos) rest = full.substr(s2 + 1);
}

// WOW64 file system redirection of System32 for a 32-bit process on 64-bit Windows.
std::wstring Redirect(const std::wstring& full, const MachineConfig& c) {
  if (!c.IsWow64()) return full;
  static const std::wstring& sys = *new std::wstring(L"C:\\Windows\\System32");
  static const std::wstring& native = *new std::wstring(L"C:\\Windows\\Sysnative");
  auto under = [&](const std::wstring& base) {
    return StartsWithNoCase(full, base) &&
           (full.size() == base.size() || full[base.size()] == L'\\');
  };
  if (under(native)) return sys + full.substr(native.size());
  if (!under(sys)) return full;
  std::wstring rest = full.substr(sys.size());
  for (const wchar_t* exempt :
       {L"\\catroot", L"\\catroot2", L"\\drivers\\etc", L"\\logfiles", L"\\spool"}) {
    std::wstring e = exempt;
    if (StartsWithNoCase(rest, e) && (rest.size() == e.size() || rest[e.size()] == L'\\'))
      return full;
  }
  return L"C:\\Windows\\SysWOW64" + rest;
}

// Checks the characters and lengths of a full Windows path below its root.
DWORD CheckElements(std::wstring_view rest) {
  std::size_t b = 0;
  for (std::size_t i = 0; i <= rest.size(); ++i) {
    if (i == rest.size() || rest[i] == L'\\') {
      std::wstring_view e = rest.substr(b, i - b);
      if (!e.empty()) {
        if (e.size() > 255) return ERROR_FILENAME_EXCED_RANGE;
        for (wchar_t c : e) {
          if (c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' ||
              c == L'/')
            return ERROR_INVALID_NAME;
          if (c == L'*' || c == L'?') return ERROR_INVALID_NAME;
          if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return ERROR_INVALID_NAME;
        }
        if (IsDosDeviceName(e)) return ERROR_INVALID_NAME;
      }
      b = i + 1;
    }
  }
  return ERROR_SUCCESS;
}

// The common case in one walk of the kernel: every element there in its exact spelling and no
// link on the way, or all but the last (which is then looked up without regard to case). Any
// other path (another spelling, a link, a missing folder) is left to the walk element by
// element, which gives the same answer for these.
bool ResolveExact(const std::string& realRoot, const std::vector<std::wstring>& elems,
                  Resolved& r) {
#ifdef SYS_openat2
  if (NoOpenat2().load(std::memory_order_relaxed) || elems.empty()) return false;
  std::string rel;
  std::size_t parentEnd = 0;
  for (std::size_t i = 0; i < elems.size(); ++i) {
    if (i) rel += '/';
    if (i + 1 == elems.size()) parentEnd = rel.empty() ? 0 : rel.size() - 1;
    rel += ToUtf8(elems[i]);
  }
  int rootFd = open(realRoot.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (rootFd < 0) return false;
  auto openBeneath = [rootFd](const std::string& path, int flags) {
    struct open_how how {};
    how.flags = static_cast<std::uint64_t>(flags | O_PATH | O_NOFOLLOW | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(syscall(SYS_openat2, rootFd, path.c_str(), &how, sizeof how));
  };
  struct stat st;
  int fd = openBeneath(rel, 0);
  const int err = errno;
  bool done = false;
  if (fd >= 0) {
    if (fstat(fd, &st) == 0 && !S_ISLNK(st.st_mode)) {
      r.loc.hostPath = JoinHost(realRoot, rel);
      r.self = r.loc.hostPath;
      r.isLink = false;
      r.st = st;
      r.haveStat = true;
      r.loc.exists = true;
      done = true;
    }
    close(fd);
  } else if (err == ENOENT) {
    // The last element missing in that spelling: its folder must be there exactly.
    const std::string parentRel = elems.size() > 1 ? rel.substr(0, parentEnd) : std::string();
    const int dirFd = parentRel.empty() ? -2 : openBeneath(parentRel, O_DIRECTORY);
    if (dirFd >= 0 || dirFd == -2) {
      if (dirFd >= 0) close(dirFd);
      const std::string dir = parentRel.empty() ? realRoot : JoinHost(realRoot, parentRel);
      std::string name;
      if (LookupChild(dir, elems.back(), name, st)) {
        // Found in another spelling: the walk takes it from here (it may be a link).
        done = false;
      } else {
        r.loc.hostPath = JoinHost(dir, ToUtf8(elems.back()));
        r.loc.exists = false;
        done = true;
      }
    }
  } else if (err == ENOSYS || err == EPERM || err == E2BIG) {
    NoOpenat2().store(true, std::memory_order_relaxed);
  }
  close(rootFd);
  return done;
#else
  (void)realRoot;
  (void)elems;
  (void)r;
  return false;
#endif
}

}  // namespace

Resolved Resolve(std::wstring_view input) {
  Resolved r;
  auto fail = [&](DWORD code) {
    r.status = code;
    return r;
  };
  if (input.empty()) return fail(ERROR_PATH_NOT_FOUND);
  if (input.find(L'\0') != std::wstring_view::npos) return fail(ERROR_INVALID_NAME);
  std::wstring path(input);
  std::size_t limit = MAX_PATH;
  // "\\?\C:\x" and "\\?\UNC\server\share" lift the MAX_PATH limit.
  if (path.size() >= 4 && path[0] == L'\\' && path[1] == L'\\' &&
      (path[2] == L'?' || path[2] == L'.') && path[3] == L'\\') {
    std::wstring rest = path.substr(4);
    if (StartsWithNoCase(rest, L"UNC\\"))
      path = L"\\\\" + rest.substr(4);
    else if (rest.size() >= 2 && rest[1] == L':')
      path = rest;
    else
      return fail(ERROR_INVALID_NAME);  // devices and volume GUIDs are not offered
    limit = 32767;
  }
  if (path.size() >= limit) return fail(ERROR_FILENAME_EXCED_RANGE);
  // Device names are refused before GetFullPathNameW turns them into "\\.\CON".
  {
    std::wstring slashes = path;
    std::replace(slashes.begin(), slashes.end(), L'/', L'\\');
    std::size_t s = slashes.find_last_of(L"\\:");
    std::wstring_view last = s == std::wstring::npos ? std::wstring_view(slashes)
                                                     : std::wstring_view(slashes).substr(s + 1);
    if (!last.empty() && IsDosDeviceName(last)) return fail(ERROR_INVALID_NAME);
  }
  std::wstring full;
  if (DWORD rc = GetFullPathNameW(path, full); rc != ERROR_SUCCESS) return fail(rc);
  if (full.size() >= limit) return fail(ERROR_FILENAME_EXCED_RANGE);

  const Machine& machine = Machine::Current();
  const MachineConfig& cfg = machine.Config();
  std::string rootHost;
  std::wstring rest;
  std::wstring winRoot;
  if (full.size() >= 2 && full[0] == L'\\' && full[1] == L'\\') {
    std::wstring server, share, tail;
    SplitUnc(full, server, share, tail);
    if (server.empty()) return fail(ERROR_BAD_NETPATH);
    if (share.empty()) return fail(ERROR_BAD_NET_NAME);
    const Machine* target = nullptr;
    std::wstring folder;  // Windows path of the share on its computer
    if (IsThisComputer(server, cfg)) {
      target = &machine;
    } else {
      for (const NetworkComputer& n : cfg.network)
        if (EqualsNoCase(n.name, server) && n.machineRoot) target = OtherMachine(*n.machineRoot);
    }
    const bool admin = share.size() == 2 && share[1] == L'$' && IsDriveLetter(share[0]);
    if (target && admin) {
      folder = std::wstring(1, UpperChar(share[0])) + L":\\";
    } else if (target && EqualsNoCase(share, L"ADMIN$")) {
      folder = L"C:\\Windows";
    } else {
      ShareResolver resolver;
      {
        std::lock_guard<std::mutex> lock(HookMutex());
        resolver = ShareResolverHook();
      }
      if (!resolver) return fail(target ? ERROR_BAD_NET_NAME : ERROR_BAD_NETPATH);
      std::string otherRoot;
      DWORD rc = resolver(server, share, folder, otherRoot);
      if (rc != ERROR_SUCCESS) return fail(rc == NERR_NetNameNotFound ? ERROR_BAD_NET_NAME : rc);
      target = otherRoot.empty() ? &machine : OtherMachine(otherRoot);
      if (!target) return fail(ERROR_BAD_NETPATH);
    }
    if (folder.size() < 3 || folder[1] != L':') return fail(ERROR_BAD_NET_NAME);
    const DriveConfig* d = target->Config().Drive(folder[0]);
    if (!d) return fail(ERROR_BAD_NET_NAME);
    r.drive = d;
    rootHost = target->DriveHostPath(d->letter);
    std::wstring inner = folder.substr(3);
    if (!inner.empty() && inner.back() == L'\\') inner.pop_back();
    rest = inner.empty() ? tail : (tail.empty() ? inner : inner + L"\\" + tail);
    winRoot = L"\\\\" + server + L"\\" + share;
    r.loc.drive = 0;
  } else {
    if (full.size() < 3 || full[1] != L':') return fail(ERROR_INVALID_NAME);
    full = Redirect(full, cfg);
    const DriveConfig* d = cfg.Drive(full[0]);
    if (!d) return fail(ERROR_PATH_NOT_FOUND);
    r.drive = d;
    rootHost = machine.DriveHostPath(d->letter);
    rest = full.substr(3);
    winRoot = full.substr(0, 3);
    r.loc.drive = d->letter;
  }
  if (!rest.empty() && rest.back() == L'\\') rest.pop_back();
  if (DWORD rc = CheckElements(rest); rc != ERROR_SUCCESS) return fail(rc);
  r.loc.windowsPath = full;
  r.loc.readOnlyVolume = r.drive && r.drive->readOnly;
  const std::string realRoot = RealRoot(rootHost);
  r.loc.driveRoot = realRoot;

  // Walk the elements below the root.
  std::string host = realRoot;
  std::vector<std::wstring> elems;
  {
    std::size_t b = 0;
    for (std::size_t i = 0; i <= rest.size(); ++i)
      if (i == rest.size() || rest[i] == L'\\') {
        if (i > b) elems.push_back(rest.substr(b, i - b));
        b = i + 1;
      }
  }
  if (elems.empty()) {
    r.loc.hostPath = host;
    r.haveStat = stat(host.c_str(), &r.st) == 0;
    r.loc.exists = r.haveStat;
    if (!r.haveStat) return fail(ERROR_PATH_NOT_FOUND);  // the drive's folder is missing
    return r;
  }
  if (ResolveExact(realRoot, elems, r)) {
    if (r.loc.hostPath.size() >= PATH_MAX) r.status = ERROR_FILENAME_EXCED_RANGE;
    return r;
  }
  bool missing = false;
  for (std::size_t i = 0; i < elems.size(); ++i) {
    const bool last = i + 1 == elems.size();
    if (missing) {
      host = JoinHost(host, ToUtf8(elems[i]));
      continue;
    }
    std::string name;
    struct stat st;
    if (!LookupChild(host, elems[i], name, st)) {
      host = JoinHost(host, ToUtf8(elems[i]));
      missing = true;
      if (!last) {
        // Keep walking textually so that the location is complete, then report.
        r.status = ERROR_PATH_NOT_FOUND;
      }
      continue;
    }
    host = JoinHost(host, name);
    if (last) {
      r.self = host;
      r.isLink = S_ISLNK(st.st_mode);
    }
    if (S_ISLNK(st.st_mode)) {
      char buf[PATH_MAX];
      if (!realpath(host.c_str(), buf)) return fail(ERROR_ACCESS_DENIED);  // dangling: never follow
      std::string real = buf;
      if (!IsInside(real, realRoot)) return fail(ERROR_ACCESS_DENIED);
      host = real;
      if (stat(host.c_str(), &st) != 0) return fail(ERROR_ACCESS_DENIED);
    }
    if (!last && !S_ISDIR(st.st_mode)) {
      r.status = ERROR_PATH_NOT_FOUND;
      missing = true;
      continue;
    }
    if (last) {
      r.st = st;
      r.haveStat = true;
    }
  }
  r.loc.hostPath = host;
  r.loc.exists = !missing && r.haveStat;
  if (r.status == ERROR_SUCCESS && host.size() >= PATH_MAX) r.status = ERROR_FILENAME_EXCED_RANGE;
  return r;
}

}  // namespace files_detail

using namespace files_detail;

// ---------------------------------------------------------------------------------------------
// Mapping

DWORD ResolvePath(std::wstring_view windowsPath, HostLocation& loc) {
  Resolved r;
  try {
    r = Resolve(windowsPath);
  } catch (const MachineError&) {
    return Fail(ERROR_NOT_READY);
  }
  if (r.status == ERROR_SUCCESS || r.status == ERROR_PATH_NOT_FOUND) loc = r.loc;
  return Fail(r.status);
}

std::string ToHostPath(std::wstring_view windowsPath) {
  HostLocation loc;
  if (ResolvePath(windowsPath, loc) != ERROR_SUCCESS) return std::string();
  return loc.hostPath;
}

namespace {

bool HostPathInside(const std::string& path, const std::string& folder) {
  if (folder.empty()) return false;
  std::string base = folder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return path == base || (path.size() > base.size() && path.compare(0, base.size(), base) == 0 &&
                          path[base.size()] == '/');
}

}  // namespace

bool IsMachinePath(std::wstring_view windowsPath) {
  HostLocation loc;
  // A place that does not exist yet is judged by where it would be.
  const DWORD status = ResolvePath(windowsPath, loc);
  if ((status != ERROR_SUCCESS && status != ERROR_PATH_NOT_FOUND) || loc.hostPath.empty())
    return false;
  const Machine& machine = Machine::Current();
  std::vector<std::string> roots{machine.Root()};
  for (const NetworkComputer& c : machine.Config().network)
    if (c.machineRoot && !c.machineRoot->empty()) roots.push_back(*c.machineRoot);
  // The drive (or the share's root) must be one of the machine's own, and so must the place.
  const std::string driveRoot = loc.drive ? machine.DriveHostPath(loc.drive) : loc.driveRoot;
  bool ownRoot = false, ownPlace = false;
  for (const std::string& r : roots) {
    ownRoot = ownRoot || (HostPathInside(driveRoot, r) && driveRoot.size() > r.size());
    ownPlace = ownPlace || HostPathInside(loc.hostPath, r);
  }
  return ownRoot && ownPlace;
}

std::wstring HostToWindowsPath(const std::string& hostIn) {
  std::string host = hostIn;
  if (host.empty()) return std::wstring();
  if (host[0] != '/') {
    char buf[PATH_MAX];
    if (!getcwd(buf, sizeof buf)) return std::wstring();
    host = JoinHost(buf, host);
  }
  char real[PATH_MAX];
  if (realpath(host.c_str(), real)) host = real;
  try {
    const Machine& m = Machine::Current();
    const DriveConfig* best = nullptr;
    std::string bestRoot;
    for (const DriveConfig& d : m.Config().drives) {
      std::string root = RealRoot(m.DriveHostPath(d.letter));
      if (IsInside(host, root) && (!best || root.size() > bestRoot.size())) {
        best = &d;
        bestRoot = root;
      }
    }
    if (!best) return std::wstring();
    std::string rest = host.substr(bestRoot == "/" ? 1 : bestRoot.size());
    if (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
    std::wstring out(1, best->letter);
    out += L":\\";
    std::wstring w = FromUtf8(rest);
    std::replace(w.begin(), w.end(), L'/', L'\\');
    return out + w;
  } catch (const MachineError&) {
    return std::wstring();
  }
}

std::wstring GetModuleFileNameW() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::wstring();
  buf[n] = 0;
  return HostToWindowsPath(buf);
}

void SetShareResolver(ShareResolver resolver) {
  std::lock_guard<std::mutex> lock(HookMutex());
  ShareResolverHook() = std::move(resolver);
}

void SetDelayedMoveHandler(DelayedMoveHandler handler) {
  std::lock_guard<std::mutex> lock(HookMutex());
  DelayedMoveHook() = std::move(handler);
}

void SetFileSecurityHooks(FileSecurityHooks hooks) {
  std::lock_guard<std::mutex> lock(HookMutex());
  files_detail::FileSecurityHook() = std::move(hooks);
}

}  // namespace platform
