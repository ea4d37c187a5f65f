// File and folder operations by path: attributes, queries, create, remove, delete, copy, move.
#include "platform/FilesInternal.h"

#include "platform/HandleTable.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "platform/Text.h"

#include <algorithm>
#include <atomic>
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
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

using namespace files_detail;

namespace files_detail {

// ---------------------------------------------------------------------------------------------
// Attributes

namespace {

// The value of the attribute xattr as read (`n` bytes, or -1) with what the host's own type says.
DWORD AttributesFrom(char* buf, ssize_t n, const struct stat& st) {
  DWORD attrs = 0;
  if (n > 0) {
    buf[n] = 0;
    attrs = static_cast<DWORD>(std::strtoul(buf, nullptr, 0)) & kSettableAttributes;
  }
  if (S_ISDIR(st.st_mode)) attrs |= FILE_ATTRIBUTE_DIRECTORY;
  // A pipe, socket or device node of the host: never a file that can be read to its end.
  if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) attrs |= FILE_ATTRIBUTE_DEVICE;
  if (attrs == 0) attrs = FILE_ATTRIBUTE_NORMAL;
  return attrs;
}

DWORD StatusOfXattrWrite(int err) {
  if (err == ENOTSUP) return ERROR_NOT_SUPPORTED;
  return Win32FromErrno(err);
}

// The kernel's calls for the attributes of a folder's entry (numbered alike on the machines
// with the common table); older kernels have none, and the entry is then named through /proc.
struct XattrArgs {
  std::uint64_t value;
  std::uint32_t size;
  std::uint32_t flags;
};
constexpr long kSetXattrAt = 463;
constexpr long kGetXattrAt = 464;
std::atomic<bool>& XattrAtMissing() {
#if defined(__x86_64__) || defined(__aarch64__) || (defined(__riscv) && __riscv_xlen == 64)
  static auto* missing = new std::atomic<bool>(false);
#else
  static auto* missing = new std::atomic<bool>(true);  // numbers not checked for this machine
#endif
  return *missing;
}

std::string ProcEntry(int dirFd, const char* name) {
  return "/proc/self/fd/" + std::to_string(dirFd) + "/" + name;
}

}  // namespace

ssize_t GetXattrAt(int dirFd, const char* name, const char* attr, void* value, std::size_t size) {
  if (!XattrAtMissing().load(std::memory_order_relaxed)) {
    XattrArgs args{reinterpret_cast<std::uintptr_t>(value), static_cast<std::uint32_t>(size), 0};
    const long n = syscall(kGetXattrAt, dirFd, name, AT_SYMLINK_NOFOLLOW, attr, &args, sizeof args);
    if (n >= 0 || errno != ENOSYS) return static_cast<ssize_t>(n);
    XattrAtMissing().store(true, std::memory_order_relaxed);
  }
  return lgetxattr(ProcEntry(dirFd, name).c_str(), attr, value, size);
}

int SetXattrAt(int dirFd, const char* name, const char* attr, const void* value, std::size_t size) {
  if (!XattrAtMissing().load(std::memory_order_relaxed)) {
    XattrArgs args{reinterpret_cast<std::uintptr_t>(value), static_cast<std::uint32_t>(size), 0};
    const long rc =
        syscall(kSetXattrAt, dirFd, name, AT_SYMLINK_NOFOLLOW, attr, &args, sizeof args);
    if (rc == 0 || errno != ENOSYS) return static_cast<int>(rc);
    XattrAtMissing().store(true, std::memory_order_relaxed);
  }
  return lsetxattr(ProcEntry(dirFd, name).c_str(), attr, value, size, 0);
}

DWORD ReadAttributes(const std::string& host, const struct stat& st) {
  char buf[64];
  return AttributesFrom(buf, lgetxattr(host.c_str(), kAttrName, buf, sizeof buf - 1), st);
}

DWORD ReadAttributesAt(int dirFd, const char* name, const struct stat& st) {
  char buf[64];
  return AttributesFrom(buf, GetXattrAt(dirFd, name, kAttrName, buf, sizeof buf - 1), st);
}

DWORD HostAttributes(const struct stat& st) { return AttributesFrom(nullptr, -1, st); }

DWORD WriteAttributes(const std::string& host, DWORD attrs) {
  attrs &= kSettableAttributes;
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%X", attrs);
  if (lsetxattr(host.c_str(), kAttrName, buf, std::strlen(buf), 0) != 0)
    return StatusOfXattrWrite(errno);
  return ERROR_SUCCESS;
}

DWORD WriteAttributesAt(int dirFd, const char* name, DWORD attrs) {
  attrs &= kSettableAttributes;
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%X", attrs);
  if (SetXattrAt(dirFd, name, kAttrName, buf, std::strlen(buf)) != 0)
    return StatusOfXattrWrite(errno);
  return ERROR_SUCCESS;
}

DWORD WriteAttributes(int fd, DWORD attrs) {
  attrs &= kSettableAttributes;
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%X", attrs);
  if (fsetxattr(fd, kAttrName, buf, std::strlen(buf), 0) != 0) return StatusOfXattrWrite(errno);
  return ERROR_SUCCESS;
}

void LastWriteTimes(FileTime lastWrite, struct timespec (&times)[2]) {
  std::int64_t s, ns;
  FileTimeToUnix(lastWrite, s, ns);
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(s);
  times[1].tv_nsec = static_cast<long>(ns);
}

DWORD WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  for (std::size_t off = 0; off < size;) {
    const ssize_t n = write(fd, p + off, size - off);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Win32FromErrno(errno);
    off += static_cast<std::size_t>(n);
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

void FillInfo(const std::string& host, const struct stat& st, FileInfo& info, bool withCreation) {
  info.attributes = ReadAttributes(host, st);
  info.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
  info.lastWriteTime = FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  info.lastAccessTime = FileTimeFromUnix(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  info.creationTime = withCreation ? CreationTimeOf(host, st) : info.lastWriteTime;
}

}  // namespace files_detail

// ---------------------------------------------------------------------------------------------
// Queries

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
  struct timespec ts[2];
  LastWriteTimes(lastWrite, ts);
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
  if (DWORD rc = CheckCreate(r, true)) return Fail(rc);
  BeneathParent parent(r.loc.driveRoot, r.loc.hostPath);
  if (!parent.Ok()) return Fail(parent.Status());
  if (mkdirat(parent.Fd(), parent.Name(), 0755) != 0) {
    if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
    if (errno == ENOENT) return Fail(ERROR_PATH_NOT_FOUND);
    return Fail(Win32FromErrno(errno));
  }
  NoteChildCreated(r.loc.hostPath);
  Created(r, true);
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
  if (DWORD rc = CheckDelete(r)) return Fail(rc);
  if (r.isLink) {
    // A folder link goes as the link; what it points to stays.
    BeneathParent parent(r.loc.driveRoot, r.self);
    if (!parent.Ok()) return Fail(parent.Status());
    if (unlinkat(parent.Fd(), parent.Name(), 0) != 0) return Fail(Win32FromErrno(errno));
    NoteMachineChange();
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
    BeneathParent parent(r.loc.driveRoot, r.loc.hostPath);
    if (!parent.Ok()) return Fail(parent.Status());
    if (unlinkat(parent.Fd(), parent.Name(), AT_REMOVEDIR) != 0) {
      if (errno == ENOTEMPTY || errno == EEXIST) return Fail(ERROR_DIR_NOT_EMPTY);
      return Fail(Win32FromErrno(errno));
    }
  }
  NoteMachineChange();
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
  if (DWORD rc = CheckDelete(r)) return Fail(rc);
  handles::LockedTable table(handles::CurrentTablePath());
  const auto dev = static_cast<std::uint64_t>(r.st.st_dev),
             ino = static_cast<std::uint64_t>(r.st.st_ino);
  if (handles::IsImage(table.Entries(), dev, ino)) return Fail(ERROR_ACCESS_DENIED);
  if (handles::CheckShare(table.Entries(), dev, ino, DELETE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) != ERROR_SUCCESS)
    return Fail(ERROR_SHARING_VIOLATION);
  BeneathParent parent(r.loc.driveRoot, r.isLink ? r.self : r.loc.hostPath);
  if (!parent.Ok()) return Fail(parent.Status());
  if (unlinkat(parent.Fd(), parent.Name(), 0) != 0) return Fail(Win32FromErrno(errno));
  NoteMachineChange();
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
  // Moving takes the object from its folder and adds it to the other (replacing deletes the
  // target).
  if (DWORD rc = CheckDelete(src)) return Fail(rc);
  if (!sameFile) {
    if (dst.loc.exists)
      if (DWORD rc = CheckDelete(dst)) return Fail(rc);
    if (DWORD rc = CheckCreate(dst, srcDir)) return Fail(rc);
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
      // Both folders reopened from the drive root, so that neither can have become a link.
      BeneathParent from(src.loc.driveRoot, src.isLink ? src.self : src.loc.hostPath);
      BeneathParent into(dst.loc.driveRoot, target);
      if (!from.Ok()) return Fail(from.Status());
      if (!into.Ok()) return Fail(into.Status());
      if (!sameFile && ParentOf(src.loc.hostPath) != ParentOf(target))
        if (DWORD rc = Leaving(src)) return Fail(rc);
      if (renameat(from.Fd(), from.Name(), into.Fd(), into.Name()) == 0) {
        table.Rename(src.loc.hostPath, target);
        NoteMachineChange();
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

DWORD ReadWholeFile(std::wstring_view path, std::string& bytes, std::uint64_t maxBytes) {
  FileHandle h;
  if (DWORD rc = h.Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING); rc != ERROR_SUCCESS)
    return rc;
  std::uint64_t size = 0;
  if (h.GetSize(size) == ERROR_SUCCESS && size > maxBytes) return Fail(ERROR_FILE_TOO_LARGE);
  std::string out;
  char buf[65536];
  while (true) {
    std::size_t got = 0;
    if (DWORD rc = h.Read(buf, sizeof buf, got); rc != ERROR_SUCCESS) return rc;
    if (got == 0) break;
    // A file that grew since its size was read is not read past the bound either.
    if (got > maxBytes - out.size()) return Fail(ERROR_FILE_TOO_LARGE);
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

}  // namespace platform
