#include "platform/Files.h"

#include "platform/HandleTable.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr const char* kAttrName = "user.DOSATTRIB";
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

DWORD Win32FromErrno(int err) { return static_cast<DWORD>(hostio::ErrnoToWin32(err)); }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// ---------------------------------------------------------------------------------------------
// Resolvers installed by other services.

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

// Real (symlink-free) paths of drive roots, cached.
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

// Finds `name` in the host folder `dir` without regard to case. Exact spelling first, then a
// scan; among several spellings the first in NTFS order wins.
bool LookupChild(const std::string& dir, const std::wstring& name, std::string& hostName,
                 struct stat& st) {
  const std::string utf8 = ToUtf8(name);
  if (lstat(JoinHost(dir, utf8).c_str(), &st) == 0) {
    hostName = utf8;
    return true;
  }
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
  if (!found) return false;
  return lstat(JoinHost(dir, hostName).c_str(), &st) == 0;
}

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

struct Resolved {
  DWORD status = ERROR_SUCCESS;
  HostLocation loc;
  struct stat st {};
  bool haveStat = false;
  const DriveConfig* drive = nullptr;  // nullptr for shares resolved elsewhere
  // The final element itself: a symbolic link is deleted, removed or moved as the link, while
  // every other operation works on its (checked) target in loc.hostPath.
  bool isLink = false;
  std::string self;
};

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

// The heart of the layer: a Windows path to its host location.
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

// ---------------------------------------------------------------------------------------------
// Attributes

DWORD ReadAttributes(const std::string& host, const struct stat& st) {
  DWORD attrs = 0;
  char buf[64];
  ssize_t n = lgetxattr(host.c_str(), kAttrName, buf, sizeof buf - 1);
  if (n > 0) {
    buf[n] = 0;
    attrs = static_cast<DWORD>(std::strtoul(buf, nullptr, 0)) & kSettableAttributes;
  }
  if (S_ISDIR(st.st_mode)) attrs |= FILE_ATTRIBUTE_DIRECTORY;
  if (attrs == 0) attrs = FILE_ATTRIBUTE_NORMAL;
  return attrs;
}

DWORD WriteAttributes(const std::string& host, DWORD attrs) {
  attrs &= kSettableAttributes;
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%X", attrs);
  if (lsetxattr(host.c_str(), kAttrName, buf, std::strlen(buf), 0) != 0) {
    if (errno == ENOTSUP) return ERROR_NOT_SUPPORTED;
    return Win32FromErrno(errno);
  }
  return ERROR_SUCCESS;
}

FileTime CreationTimeOf(const std::string& host, const struct stat& st) {
  struct statx sx;
  if (statx(AT_FDCWD, host.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) == 0 &&
      (sx.stx_mask & STATX_BTIME))
    return FileTimeFromUnix(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
  return FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

void FillInfo(const std::string& host, const struct stat& st, FileInfo& info,
              bool withCreation = true) {
  info.attributes = ReadAttributes(host, st);
  info.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
  info.lastWriteTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  info.lastAccessTime = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  info.creationTime = withCreation ? CreationTimeOf(host, st) : info.lastWriteTime;
}

bool IsDriveRoot(const Resolved& r) { return r.loc.hostPath == r.loc.driveRoot; }

DWORD ReadOnlyDrive(const Resolved& r) {
  return r.loc.readOnlyVolume ? ERROR_WRITE_PROTECT : ERROR_SUCCESS;
}

// Status for a missing final element: FILE_NOT_FOUND, or PATH_NOT_FOUND when the walk failed.
DWORD MissingStatus(const Resolved& r) {
  if (r.status != ERROR_SUCCESS) return r.status;
  return ERROR_FILE_NOT_FOUND;
}

std::string ParentOf(const std::string& host) {
  std::size_t s = host.find_last_of('/');
  if (s == std::string::npos || s == 0) return "/";
  return host.substr(0, s);
}

}  // namespace

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

// ---------------------------------------------------------------------------------------------
// Queries

#define TL_RESOLVE(var, path)     \
  Resolved var;                   \
  try {                           \
    var = Resolve(path);          \
  } catch (const MachineError&) { \
    return Fail(ERROR_NOT_READY); \
  }

DWORD GetFileAttributesExW(std::wstring_view path, FileInfo& info) {
  TL_RESOLVE(r, path);
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  if (!r.loc.exists) return Fail(ERROR_FILE_NOT_FOUND);
  FillInfo(r.loc.hostPath, r.st, info);
  return Fail(ERROR_SUCCESS);
}

DWORD GetFileAttributesW(std::wstring_view path) {
  FileInfo info;
  if (GetFileAttributesExW(path, info) != ERROR_SUCCESS) return INVALID_FILE_ATTRIBUTES;
  return info.attributes;
}

DWORD SetFileAttributesW(std::wstring_view path, DWORD attributes) {
  TL_RESOLVE(r, path);
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  if (!r.loc.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (DWORD rc = ReadOnlyDrive(r)) return Fail(rc);
  return Fail(
      WriteAttributes(r.loc.hostPath, attributes == FILE_ATTRIBUTE_NORMAL ? 0 : attributes));
}

bool PathFileExistsW(std::wstring_view path) {
  FileInfo info;
  return GetFileAttributesExW(path, info) == ERROR_SUCCESS;
}

bool PathIsDirectoryW(std::wstring_view path) {
  FileInfo info;
  return GetFileAttributesExW(path, info) == ERROR_SUCCESS &&
         (info.attributes & FILE_ATTRIBUTE_DIRECTORY);
}

DWORD GetFileSize(std::wstring_view path, std::uint64_t& size) {
  FileInfo info;
  if (DWORD rc = GetFileAttributesExW(path, info); rc != ERROR_SUCCESS) return rc;
  if (info.attributes & FILE_ATTRIBUTE_DIRECTORY) return Fail(ERROR_ACCESS_DENIED);
  size = info.size;
  return Fail(ERROR_SUCCESS);
}

DWORD SetFileLastWriteTime(std::wstring_view path, FileTime lastWrite) {
  TL_RESOLVE(r, path);
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  if (!r.loc.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (DWORD rc = ReadOnlyDrive(r)) return Fail(rc);
  if (!S_ISDIR(r.st.st_mode) && (ReadAttributes(r.loc.hostPath, r.st) & FILE_ATTRIBUTE_READONLY))
    return Fail(ERROR_ACCESS_DENIED);
  std::int64_t s, ns;
  FileTimeToUnix(lastWrite, s, ns);
  struct timespec ts[2];
  ts[0].tv_nsec = UTIME_OMIT;
  ts[0].tv_sec = 0;
  ts[1].tv_sec = static_cast<time_t>(s);
  ts[1].tv_nsec = static_cast<long>(ns);
  if (utimensat(AT_FDCWD, r.loc.hostPath.c_str(), ts, AT_SYMLINK_NOFOLLOW) != 0)
    return Fail(Win32FromErrno(errno));
  return Fail(ERROR_SUCCESS);
}

// ---------------------------------------------------------------------------------------------
// Folders and files

DWORD CreateDirectoryW(std::wstring_view path) {
  TL_RESOLVE(r, path);
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  if (r.loc.exists) return Fail(ERROR_ALREADY_EXISTS);
  if (DWORD rc = ReadOnlyDrive(r)) return Fail(rc);
  if (mkdir(r.loc.hostPath.c_str(), 0755) != 0) {
    if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
    if (errno == ENOENT) return Fail(ERROR_PATH_NOT_FOUND);
    return Fail(Win32FromErrno(errno));
  }
  return Fail(ERROR_SUCCESS);
}

DWORD CreateDirectoryWithParents(std::wstring_view path) {
  std::wstring full;
  if (DWORD rc = GetFullPathNameW(path, full); rc != ERROR_SUCCESS) return rc;
  FileInfo info;
  DWORD rc = GetFileAttributesExW(full, info);
  if (rc == ERROR_SUCCESS)
    return Fail((info.attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_ALREADY_EXISTS
                                                             : ERROR_FILE_EXISTS);
  if (rc != ERROR_FILE_NOT_FOUND && rc != ERROR_PATH_NOT_FOUND) return Fail(rc);
  // Create from the root down.
  std::size_t root = PathRootLength(full);
  if (root == 0) return Fail(ERROR_BAD_PATHNAME);
  std::size_t pos = root;
  while (pos <= full.size()) {
    std::size_t next = full.find(L'\\', pos);
    if (next == std::wstring::npos) next = full.size();
    if (next > pos) {
      std::wstring part = full.substr(0, next);
      DWORD c = CreateDirectoryW(part);
      if (c != ERROR_SUCCESS && c != ERROR_ALREADY_EXISTS) return Fail(c);
      if (c == ERROR_ALREADY_EXISTS && !PathIsDirectoryW(part)) return Fail(ERROR_PATH_NOT_FOUND);
    }
    pos = next + 1;
  }
  return Fail(ERROR_SUCCESS);
}

DWORD RemoveDirectoryW(std::wstring_view path) {
  TL_RESOLVE(r, path);
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  if (!r.loc.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (!S_ISDIR(r.st.st_mode)) return Fail(ERROR_DIRECTORY);
  if (IsDriveRoot(r)) return Fail(ERROR_ACCESS_DENIED);
  if (DWORD rc = ReadOnlyDrive(r)) return Fail(rc);
  if (ReadAttributes(r.loc.hostPath, r.st) & FILE_ATTRIBUTE_READONLY)
    return Fail(ERROR_ACCESS_DENIED);
  if (r.isLink) {
    // A folder link goes as the link; what it points to stays.
    if (unlink(r.self.c_str()) != 0) return Fail(Win32FromErrno(errno));
    return Fail(ERROR_SUCCESS);
  }
  if (!hostio::IsEmptyDirectory(r.loc.hostPath)) return Fail(ERROR_DIR_NOT_EMPTY);
  // The process's own current directory cannot be removed.
  std::wstring cwd = GetCurrentDirectoryW();
  if (EqualsNoCase(cwd, r.loc.windowsPath)) return Fail(ERROR_SHARING_VIOLATION);
  {
    handles::LockedTable table(handles::CurrentTablePath());
    for (const handles::Entry& e : table.Entries())
      if (e.dev == static_cast<std::uint64_t>(r.st.st_dev) &&
          e.ino == static_cast<std::uint64_t>(r.st.st_ino))
        return Fail(ERROR_SHARING_VIOLATION);
    if (rmdir(r.loc.hostPath.c_str()) != 0) {
      if (errno == ENOTEMPTY || errno == EEXIST) return Fail(ERROR_DIR_NOT_EMPTY);
      return Fail(Win32FromErrno(errno));
    }
  }
  return Fail(ERROR_SUCCESS);
}

DWORD DeleteFileW(std::wstring_view path) {
  TL_RESOLVE(r, path);
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  if (!r.loc.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (S_ISDIR(r.st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (DWORD rc = ReadOnlyDrive(r)) return Fail(rc);
  if (ReadAttributes(r.loc.hostPath, r.st) & FILE_ATTRIBUTE_READONLY)
    return Fail(ERROR_ACCESS_DENIED);
  handles::LockedTable table(handles::CurrentTablePath());
  const auto dev = static_cast<std::uint64_t>(r.st.st_dev),
             ino = static_cast<std::uint64_t>(r.st.st_ino);
  if (handles::IsImage(table.Entries(), dev, ino)) return Fail(ERROR_ACCESS_DENIED);
  if (handles::CheckShare(table.Entries(), dev, ino, DELETE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) != ERROR_SUCCESS)
    return Fail(ERROR_SHARING_VIOLATION);
  if (unlink((r.isLink ? r.self : r.loc.hostPath).c_str()) != 0) return Fail(Win32FromErrno(errno));
  return Fail(ERROR_SUCCESS);
}

DWORD CopyFileW(std::wstring_view from, std::wstring_view to, bool failIfExists) {
  FileHandle src;
  if (DWORD rc = src.Open(from, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING); rc != ERROR_SUCCESS)
    return Fail(rc == ERROR_ACCESS_DENIED && PathIsDirectoryW(from) ? ERROR_ACCESS_DENIED : rc);
  FileInfo srcInfo;
  if (DWORD rc = GetFileAttributesExW(from, srcInfo); rc != ERROR_SUCCESS) return rc;
  // Copying a file onto itself fails as the target is open without sharing.
  FileHandle dst;
  DWORD attrs = (srcInfo.attributes & kSettableAttributes) | FILE_ATTRIBUTE_ARCHIVE;
  // The new file is created writable; the source's read-only attribute is applied at the end.
  DWORD createAttrs = attrs & ~FILE_ATTRIBUTE_READONLY;
  DWORD rc = dst.Open(to, GENERIC_WRITE, 0, failIfExists ? CREATE_NEW : CREATE_ALWAYS, createAttrs);
  if (rc != ERROR_SUCCESS) return Fail(rc);
  std::vector<char> buf(1 << 20);
  while (true) {
    std::size_t got = 0;
    if (DWORD e = src.Read(buf.data(), buf.size(), got); e != ERROR_SUCCESS) return Fail(e);
    if (got == 0) break;
    if (DWORD e = dst.Write(buf.data(), got); e != ERROR_SUCCESS) return Fail(e);
  }
  dst.SetLastWriteTime(srcInfo.lastWriteTime);
  dst.Close();
  src.Close();
  if (attrs & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(to, attrs);
  return Fail(ERROR_SUCCESS);
}

DWORD MoveFileExW(std::wstring_view from, std::wstring_view to, DWORD flags) {
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    DelayedMoveHandler h;
    {
      std::lock_guard<std::mutex> lock(HookMutex());
      h = DelayedMoveHook();
    }
    if (!h || (flags & MOVEFILE_COPY_ALLOWED)) return Fail(ERROR_INVALID_PARAMETER);
    std::wstring fullFrom, fullTo;
    if (DWORD rc = GetFullPathNameW(from, fullFrom); rc != ERROR_SUCCESS) return rc;
    if (!to.empty())
      if (DWORD rc = GetFullPathNameW(to, fullTo); rc != ERROR_SUCCESS) return rc;
    return Fail(h(fullFrom, fullTo));
  }
  TL_RESOLVE(src, from);
  if (src.status != ERROR_SUCCESS) return Fail(src.status);
  if (!src.loc.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (to.empty()) return Fail(ERROR_INVALID_PARAMETER);
  TL_RESOLVE(dst, to);
  if (dst.status != ERROR_SUCCESS) return Fail(dst.status);
  if (DWORD rc = ReadOnlyDrive(src)) return Fail(rc);
  if (DWORD rc = ReadOnlyDrive(dst)) return Fail(rc);
  if (IsDriveRoot(src)) return Fail(ERROR_ACCESS_DENIED);
  const bool srcDir = S_ISDIR(src.st.st_mode);
  const bool sameFile =
      dst.loc.exists && dst.st.st_dev == src.st.st_dev && dst.st.st_ino == src.st.st_ino;
  if (dst.loc.exists && !sameFile) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
    if (S_ISDIR(dst.st.st_mode) || srcDir) return Fail(ERROR_ACCESS_DENIED);
    if (ReadAttributes(dst.loc.hostPath, dst.st) & FILE_ATTRIBUTE_READONLY)
      return Fail(ERROR_ACCESS_DENIED);
  }
  // A folder cannot be moved into itself.
  if (srcDir && IsInside(dst.loc.hostPath, src.loc.hostPath) && !sameFile)
    return Fail(ERROR_SHARING_VIOLATION);
  const bool sameVolume = src.drive == dst.drive && src.loc.driveRoot == dst.loc.driveRoot;
  {
    handles::LockedTable table(handles::CurrentTablePath());
    const auto sdev = static_cast<std::uint64_t>(src.st.st_dev),
               sino = static_cast<std::uint64_t>(src.st.st_ino);
    if (handles::CheckShare(table.Entries(), sdev, sino, DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) !=
        ERROR_SUCCESS)
      return Fail(ERROR_SHARING_VIOLATION);
    if (srcDir && handles::AnyUnder(table.Entries(), src.loc.hostPath))
      return Fail(ERROR_SHARING_VIOLATION);
    if (dst.loc.exists && !sameFile) {
      const auto ddev = static_cast<std::uint64_t>(dst.st.st_dev),
                 dino = static_cast<std::uint64_t>(dst.st.st_ino);
      if (handles::IsImage(table.Entries(), ddev, dino)) return Fail(ERROR_ACCESS_DENIED);
      if (handles::CheckShare(table.Entries(), ddev, dino, DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) !=
          ERROR_SUCCESS)
        return Fail(ERROR_SHARING_VIOLATION);
    }
    if (!sameVolume && (srcDir || !(flags & MOVEFILE_COPY_ALLOWED)))
      return Fail(ERROR_NOT_SAME_DEVICE);
    if (sameVolume) {
      std::string target = dst.loc.hostPath;
      if (sameFile) {
        // A change of case only: rename to the new spelling.
        target = JoinHost(ParentOf(dst.loc.hostPath),
                          ToUtf8(std::wstring(PathFindFileNameW(dst.loc.windowsPath))));
      }
      if (rename((src.isLink ? src.self : src.loc.hostPath).c_str(), target.c_str()) == 0) {
        table.Rename(src.loc.hostPath, target);
        return Fail(ERROR_SUCCESS);
      }
      // One drive letter spread over two host file systems: copy below, as Windows would not.
      if (errno != EXDEV || srcDir || !(flags & MOVEFILE_COPY_ALLOWED))
        return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32FromErrno(errno));
    }
  }
  // Another volume: copy, then delete the source (the table is not held here, as the copy and
  // the delete take it themselves).
  if (DWORD rc = CopyFileW(from, to, !(flags & MOVEFILE_REPLACE_EXISTING)); rc != ERROR_SUCCESS)
    return rc;
  DWORD attrs = GetFileAttributesW(from);
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_READONLY))
    SetFileAttributesW(from, attrs & ~FILE_ATTRIBUTE_READONLY);
  if (DWORD rc = DeleteFileW(from); rc != ERROR_SUCCESS) {
    if (attrs != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(from, attrs);
    return rc;
  }
  return Fail(ERROR_SUCCESS);
}

DWORD MoveFileW(std::wstring_view from, std::wstring_view to) {
  return MoveFileExW(from, to, MOVEFILE_COPY_ALLOWED);
}

DWORD ReadWholeFile(std::wstring_view path, std::string& bytes) {
  FileHandle h;
  if (DWORD rc = h.Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING); rc != ERROR_SUCCESS)
    return rc;
  std::string out;
  char buf[65536];
  while (true) {
    std::size_t got = 0;
    if (DWORD rc = h.Read(buf, sizeof buf, got); rc != ERROR_SUCCESS) return rc;
    if (got == 0) break;
    out.append(buf, got);
  }
  bytes.swap(out);
  return Fail(ERROR_SUCCESS);
}

DWORD WriteWholeFile(std::wstring_view path, std::string_view bytes) {
  FileHandle h;
  if (DWORD rc = h.Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
      rc != ERROR_SUCCESS && rc != ERROR_ALREADY_EXISTS)
    return rc;
  if (DWORD rc = h.Write(bytes.data(), bytes.size()); rc != ERROR_SUCCESS) return rc;
  return h.Close();
}

// ---------------------------------------------------------------------------------------------
// Enumeration

namespace {

constexpr wchar_t kDosStar = L'<';
constexpr wchar_t kDosQm = L'>';
constexpr wchar_t kDosDot = L'"';

// FindFirstFileW turns '?', '*' before '.', and '.' before a wildcard or at the end into the DOS
// wildcards of the file system's name matching.
std::wstring ToDosExpression(std::wstring_view pattern) {
  if (pattern == L"*.*") return L"*";
  std::wstring e(pattern);
  for (std::size_t i = 0; i < e.size(); ++i) {
    wchar_t next = i + 1 < pattern.size() ? pattern[i + 1] : L'\0';
    if (pattern[i] == L'?')
      e[i] = kDosQm;
    else if (pattern[i] == L'*' && next == L'.')
      e[i] = kDosStar;
    else if (pattern[i] == L'.' && (next == L'?' || next == L'*' || next == L'\0'))
      e[i] = kDosDot;
  }
  return e;
}

bool MatchExpr(std::wstring_view p, std::wstring_view n, std::size_t pi, std::size_t ni,
               std::vector<signed char>& memo) {
  const std::size_t W = n.size() + 1;
  signed char& m = memo[pi * W + ni];
  if (m >= 0) return m != 0;
  bool result = false;
  if (pi == p.size()) {
    result = ni == n.size();
  } else {
    wchar_t c = p[pi];
    if (c == L'*') {
      for (std::size_t k = ni; k <= n.size() && !result; ++k)
        result = MatchExpr(p, n, pi + 1, k, memo);
    } else if (c == kDosStar) {
      const std::size_t lastDot = n.rfind(L'.');
      for (std::size_t k = ni; k <= n.size() && !result; ++k) {
        result = MatchExpr(p, n, pi + 1, k, memo);
        if (k < n.size() && lastDot != std::wstring_view::npos && k == lastDot)
          break;  // the final '.' stops it
      }
    } else if (c == kDosQm) {
      if (ni < n.size() && n[ni] != L'.') {
        result = MatchExpr(p, n, pi + 1, ni + 1, memo);
      } else {
        std::size_t q = pi;
        while (q < p.size() && p[q] == kDosQm) ++q;
        result = MatchExpr(p, n, q, ni, memo);
      }
    } else if (c == kDosDot) {
      if (ni < n.size() && n[ni] == L'.')
        result = MatchExpr(p, n, pi + 1, ni + 1, memo);
      else if (ni == n.size())
        result = MatchExpr(p, n, pi + 1, ni, memo);
    } else if (c == L'?') {
      result = ni < n.size() && MatchExpr(p, n, pi + 1, ni + 1, memo);
    } else {
      result = ni < n.size() && UpperChar(c) == UpperChar(n[ni]) &&
               MatchExpr(p, n, pi + 1, ni + 1, memo);
    }
  }
  m = result ? 1 : 0;
  return result;
}

bool MatchDosExpression(std::wstring_view expr, std::wstring_view name) {
  if (expr == L"*") return true;
  if (expr.find_first_of(L"*?<>\"") == std::wstring_view::npos) return EqualsNoCase(expr, name);
  std::vector<signed char> memo((expr.size() + 1) * (name.size() + 1), -1);
  return MatchExpr(expr, name, 0, 0, memo);
}

}  // namespace

bool MatchDosPattern(std::wstring_view pattern, std::wstring_view name) {
  return MatchDosExpression(ToDosExpression(pattern), name);
}

struct FileFinder::State {
  std::vector<FindData> entries;
  std::size_t next = 0;
};

FileFinder::FileFinder() = default;
FileFinder::FileFinder(FileFinder&&) noexcept = default;
FileFinder& FileFinder::operator=(FileFinder&&) noexcept = default;
FileFinder::~FileFinder() = default;

void FileFinder::Close() { state_.reset(); }

DWORD FileFinder::First(std::wstring_view pattern, FindData& data) {
  state_.reset();
  if (pattern.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  std::wstring pat(pattern);
  std::replace(pat.begin(), pat.end(), L'/', L'\\');
  // A pattern ending in a backslash names no file.
  if (pat.back() == L'\\') return Fail(ERROR_FILE_NOT_FOUND);
  // The last element is the pattern, taken as it stands (GetFullPathNameW would drop the final
  // dot of "*."); the rest names the folder.
  std::size_t cut = pat.find_last_of(L"\\:");
  std::wstring dirPart, filePatternText;
  if (cut == std::wstring::npos) {
    dirPart = L".";
    filePatternText = pat;
  } else {
    dirPart = pat.substr(0, cut + 1);
    filePatternText = pat.substr(cut + 1);
    if (dirPart.size() == 2 && dirPart[1] == L':') dirPart += L'.';  // "C:*.txt": drive C's folder
  }
  std::wstring_view filePattern = filePatternText;
  if (filePattern.empty()) return Fail(ERROR_FILE_NOT_FOUND);
  for (wchar_t c : filePattern)
    if (c < 0x20 || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'/')
      return Fail(ERROR_INVALID_NAME);
  Resolved r;
  try {
    r = Resolve(dirPart);
  } catch (const MachineError&) {
    return Fail(ERROR_NOT_READY);
  }
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  if (!r.loc.exists) return Fail(ERROR_PATH_NOT_FOUND);
  const std::string dirHost = r.loc.hostPath;
  struct stat dst;
  if (stat(dirHost.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) return Fail(ERROR_PATH_NOT_FOUND);
  const std::wstring expr = ToDosExpression(filePattern);
  const bool wild = filePattern.find_first_of(L"*?") != std::wstring_view::npos;

  auto st = std::make_unique<State>();
  const bool root = dirHost == r.loc.driveRoot;
  if (!root) {
    for (const wchar_t* dot : {L".", L".."}) {
      if (!MatchDosExpression(expr, dot)) continue;
      FindData d;
      d.fileName = dot;
      d.attributes = ReadAttributes(dirHost, dst);
      d.lastWriteTime = FileTimeFromUnix(dst.st_mtim.tv_sec, dst.st_mtim.tv_nsec);
      d.lastAccessTime = FileTimeFromUnix(dst.st_atim.tv_sec, dst.st_atim.tv_nsec);
      d.creationTime = d.lastWriteTime;
      st->entries.push_back(std::move(d));
    }
  }
  std::vector<FindData> found;
  if (!wild) {
    // An exact name: one look-up instead of a scan.
    std::string hostName;
    struct stat est;
    if (LookupChild(dirHost, std::wstring(filePattern), hostName, est) && filePattern != L"." &&
        filePattern != L"..") {
      std::string hp = JoinHost(dirHost, hostName);
      struct stat tst;
      if (S_ISLNK(est.st_mode) && stat(hp.c_str(), &tst) == 0) est = tst;
      FindData d;
      FileInfo info;
      FillInfo(hp, est, info);
      d.fileName = FromUtf8(hostName);
      d.attributes = info.attributes;
      d.size = info.size;
      d.lastWriteTime = info.lastWriteTime;
      d.lastAccessTime = info.lastAccessTime;
      d.creationTime = info.creationTime;
      found.push_back(std::move(d));
    }
  } else {
    DIR* dir = opendir(dirHost.c_str());
    if (!dir) return Fail(Win32FromErrno(errno));
    const int dfd = dirfd(dir);
    while (dirent* e = readdir(dir)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      std::wstring name = FromUtf8(e->d_name);
      // Names that Windows could not hold (or that are not valid UTF-8) are not shown.
      if (name.find(L'\xFFFD') != std::wstring::npos || !IsValidFileName(name)) continue;
      if (!MatchDosExpression(expr, name)) continue;
      struct stat est;
      if (fstatat(dfd, e->d_name, &est, 0) != 0 &&
          fstatat(dfd, e->d_name, &est, AT_SYMLINK_NOFOLLOW) != 0)
        continue;
      FindData d;
      d.fileName = std::move(name);
      const std::string hp = JoinHost(dirHost, e->d_name);
      d.attributes = ReadAttributes(hp, est);
      if (e->d_type == DT_LNK)
        d.attributes = (d.attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_REPARSE_POINT;
      d.size = S_ISDIR(est.st_mode) ? 0 : static_cast<std::uint64_t>(est.st_size);
      d.lastWriteTime = FileTimeFromUnix(est.st_mtim.tv_sec, est.st_mtim.tv_nsec);
      d.lastAccessTime = FileTimeFromUnix(est.st_atim.tv_sec, est.st_atim.tv_nsec);
      d.creationTime = d.lastWriteTime;
      found.push_back(std::move(d));
    }
    closedir(dir);
    std::sort(found.begin(), found.end(), [](const FindData& a, const FindData& b) {
      int c = CompareNoCase(a.fileName, b.fileName);
      return c != 0 ? c < 0 : a.fileName < b.fileName;
    });
  }
  for (FindData& d : found) st->entries.push_back(std::move(d));
  if (st->entries.empty()) return Fail(ERROR_FILE_NOT_FOUND);
  state_ = std::move(st);
  data = state_->entries[0];
  state_->next = 1;
  return Fail(ERROR_SUCCESS);
}

DWORD FileFinder::Next(FindData& data) {
  if (!state_) return Fail(ERROR_INVALID_HANDLE);
  if (state_->next >= state_->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  data = state_->entries[state_->next++];
  return Fail(ERROR_SUCCESS);
}

DWORD FindAll(std::wstring_view pattern, std::vector<FindData>& entries, bool includeDots) {
  entries.clear();
  FileFinder f;
  FindData d;
  DWORD rc = f.First(pattern, d);
  if (rc == ERROR_FILE_NOT_FOUND) return Fail(ERROR_SUCCESS);
  if (rc != ERROR_SUCCESS) return rc;
  do {
    if (includeDots || (d.fileName != L"." && d.fileName != L"..")) entries.push_back(d);
  } while (f.Next(d) == ERROR_SUCCESS);
  return Fail(ERROR_SUCCESS);
}

// ---------------------------------------------------------------------------------------------
// Handles

FileHandle::FileHandle(FileHandle&& o) noexcept { *this = std::move(o); }

FileHandle& FileHandle::operator=(FileHandle&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = o.fd_;
    path_ = std::move(o.path_);
    hostPath_ = std::move(o.hostPath_);
    access_ = o.access_;
    tableId_ = o.tableId_;
    tablePath_ = std::move(o.tablePath_);
    deleteOnClose_ = o.deleteOnClose_;
    archiveMarked_ = o.archiveMarked_;
    o.fd_ = -1;
    o.tableId_ = 0;
  }
  return *this;
}

FileHandle::~FileHandle() { Close(); }

DWORD FileHandle::Open(std::wstring_view path, DWORD access, DWORD share, DWORD disposition,
                       DWORD flagsAndAttributes) {
  Close();
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
    return Fail(ERROR_INVALID_PARAMETER);
  if (disposition == TRUNCATE_EXISTING && !handles::WantsWrite(access))
    return Fail(ERROR_INVALID_PARAMETER);
  if (share & ~(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
    return Fail(ERROR_INVALID_PARAMETER);
  TL_RESOLVE(r, path);
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  const bool wantWrite = handles::WantsWrite(access);
  const bool creates = disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING;
  const DWORD newAttrs = (flagsAndAttributes & kSettableAttributes) | FILE_ATTRIBUTE_ARCHIVE;
  std::string tablePath;
  try {
    tablePath = handles::CurrentTablePath();
  } catch (const MachineError&) {
    return Fail(ERROR_NOT_READY);
  }
  handles::LockedTable table(tablePath);
  if (!table.Ok()) return Fail(ERROR_ACCESS_DENIED);
  bool existed = r.loc.exists;
  int fd = -1;
  if (existed) {
    if (S_ISDIR(r.st.st_mode)) {
      if (wantWrite || disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING ||
          !(flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS))
        return Fail(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    }
    if (disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS);
    const DWORD attrs = ReadAttributes(r.loc.hostPath, r.st);
    const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if ((wantWrite || truncates || handles::WantsDelete(access)) && r.loc.readOnlyVolume)
      return Fail(ERROR_WRITE_PROTECT);
    if ((wantWrite || truncates || (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE)) &&
        (attrs & FILE_ATTRIBUTE_READONLY))
      return Fail(ERROR_ACCESS_DENIED);
    if (disposition == CREATE_ALWAYS) {
      // Replacing a hidden or system file needs those attributes in the request.
      if (((attrs & FILE_ATTRIBUTE_HIDDEN) && !(flagsAndAttributes & FILE_ATTRIBUTE_HIDDEN)) ||
          ((attrs & FILE_ATTRIBUTE_SYSTEM) && !(flagsAndAttributes & FILE_ATTRIBUTE_SYSTEM)))
        return Fail(ERROR_ACCESS_DENIED);
    }
    const auto dev = static_cast<std::uint64_t>(r.st.st_dev),
               ino = static_cast<std::uint64_t>(r.st.st_ino);
    DWORD effective = access | (truncates ? GENERIC_WRITE : 0) |
                      ((flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) ? DELETE : 0);
    if (handles::CheckShare(table.Entries(), dev, ino, effective, share) != ERROR_SUCCESS)
      return Fail(ERROR_SHARING_VIOLATION);
    int flags = O_CLOEXEC | O_NOFOLLOW;
    if (S_ISDIR(r.st.st_mode))
      flags |= O_RDONLY | O_DIRECTORY;
    else if (wantWrite && handles::WantsRead(access))
      flags |= O_RDWR;
    else if (wantWrite)
      flags |= O_WRONLY;
    else
      flags |= O_RDONLY;
    if (truncates && !S_ISDIR(r.st.st_mode)) flags |= O_TRUNC;
    fd = open(r.loc.hostPath.c_str(), flags);
    if (fd < 0) return Fail(Win32FromErrno(errno));
    if (disposition == CREATE_ALWAYS)
      WriteAttributes(r.loc.hostPath,
                      newAttrs | (attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)));
    struct stat now;
    fstat(fd, &now);
    handles::Entry e;
    e.dev = static_cast<std::uint64_t>(now.st_dev);
    e.ino = static_cast<std::uint64_t>(now.st_ino);
    e.access = effective;
    e.share = share;
    e.hostPath = r.loc.hostPath;
    tableId_ = table.Add(e);
  } else {
    if (!creates) return Fail(MissingStatus(r));
    if (r.loc.readOnlyVolume) return Fail(ERROR_WRITE_PROTECT);
    int flags = O_CLOEXEC | O_NOFOLLOW | O_CREAT | O_EXCL;
    flags |= (wantWrite && handles::WantsRead(access)) ? O_RDWR : wantWrite ? O_WRONLY : O_RDONLY;
    fd = open(r.loc.hostPath.c_str(), flags, 0644);
    if (fd < 0) {
      if (errno == ENOENT || errno == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
      if (errno == EEXIST)
        return Fail(ERROR_SHARING_VIOLATION);  // created meanwhile by another process
      return Fail(Win32FromErrno(errno));
    }
    WriteAttributes(r.loc.hostPath, newAttrs);
    struct stat now;
    fstat(fd, &now);
    handles::Entry e;
    e.dev = static_cast<std::uint64_t>(now.st_dev);
    e.ino = static_cast<std::uint64_t>(now.st_ino);
    e.access = access | ((flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) ? DELETE : 0);
    e.share = share;
    e.hostPath = r.loc.hostPath;
    tableId_ = table.Add(e);
  }
  table.Commit();
  fd_ = fd;
  path_ = r.loc.windowsPath;
  hostPath_ = r.loc.hostPath;
  access_ = access;
  tablePath_ = tablePath;
  deleteOnClose_ = (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;
  archiveMarked_ = false;
  // CREATE_ALWAYS and OPEN_ALWAYS over an existing file succeed with ERROR_ALREADY_EXISTS.
  if (existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return ERROR_SUCCESS;
  }
  return Fail(ERROR_SUCCESS);
}

DWORD FileHandle::Read(void* buffer, std::size_t size, std::size_t& done) {
  done = 0;
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (!handles::WantsRead(access_)) return Fail(ERROR_ACCESS_DENIED);
  while (true) {
    ssize_t n = read(fd_, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(errno == EISDIR ? ERROR_INVALID_FUNCTION : Win32FromErrno(errno));
    done = static_cast<std::size_t>(n);
    return Fail(ERROR_SUCCESS);
  }
}

DWORD FileHandle::Write(const void* buffer, std::size_t size) {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (!handles::WantsWrite(access_)) return Fail(ERROR_ACCESS_DENIED);
  const char* p = static_cast<const char*>(buffer);
  std::size_t off = 0;
  while (off < size) {
    ssize_t n = write(fd_, p + off, size - off);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(Win32FromErrno(errno));
    off += static_cast<std::size_t>(n);
  }
  if (!archiveMarked_ && size > 0) {
    archiveMarked_ = true;
    struct stat st;
    if (fstat(fd_, &st) == 0) {
      DWORD attrs = ReadAttributes(hostPath_, st);
      if (!(attrs & FILE_ATTRIBUTE_ARCHIVE))
        WriteAttributes(hostPath_, (attrs & kSettableAttributes) | FILE_ATTRIBUTE_ARCHIVE);
    }
  }
  return Fail(ERROR_SUCCESS);
}

DWORD FileHandle::Seek(std::int64_t distance, DWORD origin, std::uint64_t* newPosition) {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  int whence = origin == FILE_BEGIN     ? SEEK_SET
               : origin == FILE_CURRENT ? SEEK_CUR
               : origin == FILE_END     ? SEEK_END
                                        : -1;
  if (whence < 0) return Fail(ERROR_INVALID_PARAMETER);
  off_t cur = lseek(fd_, 0, SEEK_CUR);
  off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? cur : lseek(fd_, 0, SEEK_END);
  if (whence == SEEK_END) lseek(fd_, cur, SEEK_SET);
  if (base + distance < 0) return Fail(ERROR_NEGATIVE_SEEK);
  off_t pos = lseek(fd_, static_cast<off_t>(distance), whence);
  if (pos < 0) return Fail(Win32FromErrno(errno));
  if (newPosition) *newPosition = static_cast<std::uint64_t>(pos);
  return Fail(ERROR_SUCCESS);
}

DWORD FileHandle::GetSize(std::uint64_t& size) const {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  struct stat st;
  if (fstat(fd_, &st) != 0) return Fail(Win32FromErrno(errno));
  size = static_cast<std::uint64_t>(st.st_size);
  return Fail(ERROR_SUCCESS);
}

DWORD FileHandle::SetEndOfFile() {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (!handles::WantsWrite(access_)) return Fail(ERROR_ACCESS_DENIED);
  off_t pos = lseek(fd_, 0, SEEK_CUR);
  if (pos < 0 || ftruncate(fd_, pos) != 0) return Fail(Win32FromErrno(errno));
  return Fail(ERROR_SUCCESS);
}

DWORD FileHandle::GetTimes(FileTime* creation, FileTime* lastAccess, FileTime* lastWrite) const {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  struct stat st;
  if (fstat(fd_, &st) != 0) return Fail(Win32FromErrno(errno));
  if (lastWrite) *lastWrite = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  if (lastAccess) *lastAccess = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  if (creation) *creation = CreationTimeOf(hostPath_, st);
  return Fail(ERROR_SUCCESS);
}

DWORD FileHandle::SetLastWriteTime(FileTime lastWrite) {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (!handles::WantsWrite(access_) && !(access_ & FILE_WRITE_ATTRIBUTES))
    return Fail(ERROR_ACCESS_DENIED);
  std::int64_t s, ns;
  FileTimeToUnix(lastWrite, s, ns);
  struct timespec ts[2];
  ts[0].tv_sec = 0;
  ts[0].tv_nsec = UTIME_OMIT;
  ts[1].tv_sec = static_cast<time_t>(s);
  ts[1].tv_nsec = static_cast<long>(ns);
  if (futimens(fd_, ts) != 0) return Fail(Win32FromErrno(errno));
  return Fail(ERROR_SUCCESS);
}

DWORD FileHandle::Flush() {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (fsync(fd_) != 0 && errno != EINVAL) return Fail(Win32FromErrno(errno));
  return Fail(ERROR_SUCCESS);
}

DWORD FileHandle::Close() {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  {
    handles::LockedTable table(tablePath_);
    table.Remove(tableId_);
    if (deleteOnClose_) {
      struct stat st;
      bool others = false;
      if (fstat(fd_, &st) == 0)
        for (const handles::Entry& e : table.Entries())
          if (e.dev == static_cast<std::uint64_t>(st.st_dev) &&
              e.ino == static_cast<std::uint64_t>(st.st_ino))
            others = true;
      if (!others) unlink(hostPath_.c_str());
    }
  }
  close(fd_);
  fd_ = -1;
  tableId_ = 0;
  return Fail(ERROR_SUCCESS);
}

ImageLock::ImageLock(ImageLock&& o) noexcept { *this = std::move(o); }
ImageLock& ImageLock::operator=(ImageLock&& o) noexcept {
  if (this != &o) {
    Release();
    tableId_ = o.tableId_;
    tablePath_ = std::move(o.tablePath_);
    o.tableId_ = 0;
  }
  return *this;
}
ImageLock::~ImageLock() { Release(); }

DWORD ImageLock::Acquire(std::wstring_view path) {
  Release();
  TL_RESOLVE(r, path);
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  if (!r.loc.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (S_ISDIR(r.st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  std::string tablePath = handles::CurrentTablePath();
  handles::LockedTable table(tablePath);
  // A program file open for writing cannot be started.
  if (handles::CheckShare(table.Entries(), static_cast<std::uint64_t>(r.st.st_dev),
                          static_cast<std::uint64_t>(r.st.st_ino), GENERIC_READ | GENERIC_EXECUTE,
                          FILE_SHARE_READ | FILE_SHARE_DELETE) != ERROR_SUCCESS)
    return Fail(ERROR_SHARING_VIOLATION);
  handles::Entry e;
  e.dev = static_cast<std::uint64_t>(r.st.st_dev);
  e.ino = static_cast<std::uint64_t>(r.st.st_ino);
  e.access = GENERIC_READ | GENERIC_EXECUTE;
  e.share = FILE_SHARE_READ | FILE_SHARE_DELETE;
  e.kind = handles::Kind::Image;
  e.hostPath = r.loc.hostPath;
  tableId_ = table.Add(e);
  tablePath_ = tablePath;
  return Fail(ERROR_SUCCESS);
}

void ImageLock::Release() {
  if (!tableId_) return;
  handles::LockedTable table(tablePath_);
  table.Remove(tableId_);
  tableId_ = 0;
}

// ---------------------------------------------------------------------------------------------
// Volumes and well-known folders

namespace {

const DriveConfig* DriveOfRoot(std::wstring_view root, DWORD& status) {
  status = ERROR_SUCCESS;
  if (root.size() < 2 || root[1] != L':' || !IsDriveLetter(root[0]) ||
      !(root.size() == 2 || (root.size() == 3 && IsSlash(root[2])))) {
    status = ERROR_INVALID_NAME;
    return nullptr;
  }
  const DriveConfig* d = Machine::Current().Config().Drive(root[0]);
  if (!d) status = ERROR_PATH_NOT_FOUND;
  return d;
}

}  // namespace

DWORD GetVolumeInformationW(std::wstring_view rootPath, VolumeInfo& info) {
  try {
    const DriveConfig* d = nullptr;
    DWORD status = ERROR_SUCCESS;
    if (rootPath.size() >= 2 && rootPath[0] == L'\\' && rootPath[1] == L'\\') {
      if (rootPath.back() != L'\\') return Fail(ERROR_INVALID_NAME);
      Resolved r = Resolve(rootPath.substr(0, rootPath.size() - 1));
      if (r.status != ERROR_SUCCESS) return Fail(r.status);
      d = r.drive;
      if (!d) return Fail(ERROR_BAD_NET_NAME);
    } else {
      d = DriveOfRoot(rootPath, status);
      if (!d) return Fail(status);
    }
    info.volumeName = d->label;
    info.serialNumber = d->serial;
    info.maxComponentLength = 255;
    info.fileSystemFlags = d->flags | (d->readOnly ? FILE_READ_ONLY_VOLUME : 0);
    info.fileSystemName = d->fileSystem;
    return Fail(ERROR_SUCCESS);
  } catch (const MachineError&) {
    return Fail(ERROR_NOT_READY);
  }
}

DWORD GetDiskFreeSpaceExW(std::wstring_view path, std::uint64_t* freeToCaller, std::uint64_t* total,
                          std::uint64_t* totalFree) {
  TL_RESOLVE(r, path);
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  if (!r.loc.exists) return Fail(ERROR_PATH_NOT_FOUND);
  if (!S_ISDIR(r.st.st_mode)) return Fail(ERROR_DIRECTORY);
  struct statvfs vfs;
  std::uint64_t hostFree = 0, hostTotal = 0, hostAvail = 0;
  if (statvfs(r.loc.hostPath.c_str(), &vfs) == 0) {
    hostFree = static_cast<std::uint64_t>(vfs.f_bfree) * vfs.f_frsize;
    hostAvail = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    hostTotal = static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize;
  }
  const DriveConfig* d = r.drive;
  std::uint64_t t = d && d->totalBytes ? *d->totalBytes : hostTotal;
  std::uint64_t f = d && d->freeBytes ? *d->freeBytes : hostAvail;
  std::uint64_t tf = d && d->freeBytes ? *d->freeBytes : hostFree;
  if (d && d->readOnly && !d->freeBytes) f = tf = 0;
  if (freeToCaller) *freeToCaller = f;
  if (total) *total = t;
  if (totalFree) *totalFree = tf;
  return Fail(ERROR_SUCCESS);
}

unsigned GetDriveTypeW(std::wstring_view rootPath) {
  try {
    DWORD status;
    const DriveConfig* d = DriveOfRoot(rootPath, status);
    return d ? d->type : DRIVE_NO_ROOT_DIR;
  } catch (const MachineError&) {
    return DRIVE_UNKNOWN;
  }
}

DWORD GetLogicalDrives() {
  DWORD mask = 0;
  try {
    for (const DriveConfig& d : Machine::Current().Config().drives) mask |= 1u << (d.letter - L'A');
  } catch (const MachineError&) {}
  return mask;
}

std::vector<std::wstring> GetLogicalDriveStringsW() {
  std::vector<std::wstring> out;
  DWORD mask = GetLogicalDrives();
  for (int i = 0; i < 26; ++i)
    if (mask & (1u << i)) out.push_back(std::wstring(1, static_cast<wchar_t>(L'A' + i)) + L":\\");
  return out;
}

std::wstring GetWindowsDirectoryW() { return L"C:\\Windows"; }
std::wstring GetSystemDirectoryW() { return L"C:\\Windows\\system32"; }

DWORD GetSystemWow64DirectoryW(std::wstring& path) {
  try {
    if (!Machine::Current().Config().os.is64Bit) return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  } catch (const MachineError&) {
    return Fail(ERROR_NOT_READY);
  }
  path = L"C:\\Windows\\SysWOW64";
  return Fail(ERROR_SUCCESS);
}

std::wstring GetTempPathW() {
  std::wstring v;
  for (const wchar_t* name : {L"TMP", L"TEMP", L"USERPROFILE"}) {
    if (GetEnvironmentVariableW(name, v) == ERROR_SUCCESS && !v.empty()) {
      std::wstring full;
      if (GetFullPathNameW(v, full) == ERROR_SUCCESS) v = full;
      if (v.back() != L'\\') v += L'\\';
      SetLastError(ERROR_SUCCESS);
      return v;
    }
  }
  SetLastError(ERROR_SUCCESS);
  return GetWindowsDirectoryW() + L"\\";
}

DWORD GetTempFileNameW(std::wstring_view dir, std::wstring_view prefix, unsigned unique,
                       std::wstring& path) {
  std::wstring base(dir);
  if (base.empty()) return Fail(ERROR_INVALID_PARAMETER);
  if (base.back() != L'\\') base += L'\\';
  std::wstring pre(prefix.substr(0, 3));
  auto name = [&](unsigned n) {
    wchar_t buf[16];
    std::swprintf(buf, 16, L"%X", n & 0xFFFF);
    return base + pre + buf + L".tmp";
  };
  if (unique != 0) {
    path = name(unique);
    return Fail(ERROR_SUCCESS);
  }
  if (!PathIsDirectoryW(base)) return Fail(ERROR_DIRECTORY);
  unsigned start = static_cast<unsigned>(GetSystemTimeAsFileTime() / 10000) & 0xFFFF;
  if (start == 0) start = 1;
  for (unsigned i = 0; i < 0xFFFF; ++i) {
    unsigned n = ((start + i - 1) % 0xFFFF) + 1;
    std::wstring candidate = name(n);
    FileHandle h;
    DWORD rc = h.Open(candidate, GENERIC_WRITE, 0, CREATE_NEW);
    if (rc == ERROR_SUCCESS) {
      path = candidate;
      return Fail(ERROR_SUCCESS);
    }
    if (rc != ERROR_FILE_EXISTS && rc != ERROR_SHARING_VIOLATION && rc != ERROR_ACCESS_DENIED)
      return Fail(rc);
  }
  return Fail(ERROR_FILE_EXISTS);
}

}  // namespace platform
