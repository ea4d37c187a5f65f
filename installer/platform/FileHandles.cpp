// Handles: CreateFileW and the handle operations, with share modes kept in the machine's handle
// table; image locks for running programs' files.
#include "platform/FilesInternal.h"

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

using namespace files_detail;

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
    drive_ = o.drive_;
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
    // Pipes, sockets and device nodes of the host are not files of the machine: opening one
    // could wait for ever.
    if (!S_ISDIR(r.st.st_mode) && !S_ISREG(r.st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
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
    // The object's access list (reads are not asked: every list of the machine lets them).
    if (wantWrite || truncates || (effective & DELETE))
      if (DWORD rc = CheckAccess(r, effective & ~(GENERIC_READ | GENERIC_EXECUTE))) return Fail(rc);
    if (handles::CheckShare(table.Entries(), dev, ino, effective, share) != ERROR_SUCCESS)
      return Fail(ERROR_SHARING_VIOLATION);
    // O_NONBLOCK: a pipe put in the file's place meanwhile is opened without waiting, then
    // refused below.
    int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    if (S_ISDIR(r.st.st_mode))
      flags |= O_RDONLY | O_DIRECTORY;
    else if (wantWrite && handles::WantsRead(access))
      flags |= O_RDWR;
    else if (wantWrite)
      flags |= O_WRONLY;
    else
      flags |= O_RDONLY;
    if (truncates && !S_ISDIR(r.st.st_mode)) flags |= O_TRUNC;
    if (IsDriveRoot(r)) {
      fd = open(r.loc.hostPath.c_str(), flags);
    } else {
      // Reopened from the drive root: a folder swapped for a link since the check is refused.
      BeneathParent parent(r.loc.driveRoot, r.loc.hostPath);
      if (!parent.Ok()) return Fail(parent.Status());
      fd = openat(parent.Fd(), parent.Name(), flags);
    }
    if (fd < 0)
      return Fail(errno == ELOOP || errno == ENXIO ? ERROR_ACCESS_DENIED : Win32FromErrno(errno));
    struct stat opened;
    if (fstat(fd, &opened) != 0 || (!S_ISREG(opened.st_mode) && !S_ISDIR(opened.st_mode))) {
      close(fd);
      return Fail(ERROR_ACCESS_DENIED);
    }
    if (disposition == CREATE_ALWAYS)
      WriteAttributes(fd, newAttrs | (attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)));
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
    if (DWORD rc = CheckCreate(r, false)) return Fail(rc);
    int flags = O_CLOEXEC | O_NOFOLLOW | O_CREAT | O_EXCL;
    flags |= (wantWrite && handles::WantsRead(access)) ? O_RDWR : wantWrite ? O_WRONLY : O_RDONLY;
    BeneathParent parent(r.loc.driveRoot, r.loc.hostPath);
    if (!parent.Ok()) return Fail(parent.Status());
    fd = openat(parent.Fd(), parent.Name(), flags, 0644);
    if (fd < 0) {
      if (errno == ENOENT || errno == ENOTDIR) return Fail(ERROR_PATH_NOT_FOUND);
      if (errno == ELOOP) return Fail(ERROR_ACCESS_DENIED);
      if (errno == EEXIST)
        return Fail(ERROR_SHARING_VIOLATION);  // created meanwhile by another process
      return Fail(Win32FromErrno(errno));
    }
    NoteChildCreated(r.loc.hostPath);
    WriteAttributes(fd, newAttrs);
    Created(r, false);
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
  drive_ = r.drive ? r.drive->letter : 0;
  // A file created or replaced here has just been given the archive attribute.
  archiveMarked_ = !existed || disposition == CREATE_ALWAYS;
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
  if (DWORD rc = WriteAllOnDrive(fd_, buffer, size, drive_)) return Fail(rc);
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
  struct timespec ts[2];
  LastWriteTimes(lastWrite, ts);
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

namespace {

// AppendToFile; with `keep`, the descriptor stays open for the caller, and `after` is the
// file's status once written.
DWORD AppendOnce(std::wstring_view path, std::string_view bytes, int* keep, struct stat* after) {
  TL_RESOLVE(r, path);
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  if (!r.loc.exists) return Fail(ERROR_FILE_NOT_FOUND);
  if (S_ISDIR(r.st.st_mode) || !S_ISREG(r.st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
  if (r.loc.readOnlyVolume) return Fail(ERROR_WRITE_PROTECT);
  const DWORD attrs = ReadAttributes(r.loc.hostPath, r.st);
  if (attrs & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
  if (DWORD rc = CheckAccess(r, GENERIC_WRITE)) return Fail(rc);
  std::string tablePath;
  try {
    tablePath = handles::CurrentTablePath();
  } catch (const MachineError&) {
    return Fail(ERROR_NOT_READY);
  }
  // The table stays locked until the bytes are written: nobody opens the file meanwhile, so
  // the open needs no entry of its own (and the table is only read).
  handles::LockedTable table(tablePath);
  if (!table.Ok()) return Fail(ERROR_ACCESS_DENIED);
  if (handles::CheckShare(table.Entries(), static_cast<std::uint64_t>(r.st.st_dev),
                          static_cast<std::uint64_t>(r.st.st_ino), GENERIC_WRITE,
                          FILE_SHARE_READ) != ERROR_SUCCESS)
    return Fail(ERROR_SHARING_VIOLATION);
  if (IsDriveRoot(r)) return Fail(ERROR_ACCESS_DENIED);
  BeneathParent parent(r.loc.driveRoot, r.loc.hostPath);
  if (!parent.Ok()) return Fail(parent.Status());
  const int fd =
      openat(parent.Fd(), parent.Name(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0)
    return Fail(errno == ELOOP || errno == ENXIO ? ERROR_ACCESS_DENIED : Win32FromErrno(errno));
  struct stat opened;
  // The file checked, not one put in its place since.
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != r.st.st_dev ||
      opened.st_ino != r.st.st_ino) {
    close(fd);
    return Fail(ERROR_SHARING_VIOLATION);
  }
  const DWORD status = WriteAll(fd, bytes.data(), bytes.size());
  if (status == ERROR_SUCCESS && !bytes.empty() && !(attrs & FILE_ATTRIBUTE_ARCHIVE))
    WriteAttributes(fd, (attrs & kSettableAttributes) | FILE_ATTRIBUTE_ARCHIVE);
  if (status == ERROR_SUCCESS && keep && fstat(fd, after) == 0) {
    *keep = fd;
    return Fail(status);
  }
  close(fd);
  return Fail(status);
}

}  // namespace

DWORD AppendToFile(std::wstring_view path, std::string_view bytes) {
  return AppendOnce(path, bytes, nullptr, nullptr);
}

FileAppender::~FileAppender() { Close(); }

void FileAppender::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  path_.clear();
}

DWORD FileAppender::Append(std::wstring_view path, std::string_view bytes) {
  std::string tablePath;
  try {
    tablePath = handles::CurrentTablePath();
  } catch (const MachineError&) {
    Close();
    return Fail(ERROR_NOT_READY);
  }
  if (fd_ >= 0 && path == path_ && tablePath == tablePath_) {
    // Nobody has done anything to the file since the last append (no write, rename, new or
    // removed name, attribute or list: each changes the change time), so what was checked
    // then still holds; only the share modes of those who opened it since are asked.
    struct stat st;
    if (fstat(fd_, &st) == 0 && st.st_nlink > 0 && static_cast<std::uint64_t>(st.st_dev) == dev_ &&
        static_cast<std::uint64_t>(st.st_ino) == ino_ && st.st_ctim.tv_sec == changed_.tv_sec &&
        st.st_ctim.tv_nsec == changed_.tv_nsec) {
      handles::LockedTable table(tablePath);
      if (!table.Ok()) return Fail(ERROR_ACCESS_DENIED);
      if (handles::CheckShare(table.Entries(), dev_, ino_, GENERIC_WRITE, FILE_SHARE_READ) !=
          ERROR_SUCCESS)
        return Fail(ERROR_SHARING_VIOLATION);
      const DWORD status = WriteAll(fd_, bytes.data(), bytes.size());
      if (status != ERROR_SUCCESS || fstat(fd_, &st) != 0) {
        Close();
        return Fail(status);
      }
      changed_ = st.st_ctim;
      return Fail(ERROR_SUCCESS);
    }
  }
  Close();
  int fd = -1;
  struct stat after;
  const DWORD status = AppendOnce(path, bytes, &fd, &after);
  if (status == ERROR_SUCCESS && fd >= 0) {
    fd_ = fd;
    path_ = std::wstring(path);
    tablePath_ = tablePath;
    dev_ = static_cast<std::uint64_t>(after.st_dev);
    ino_ = static_cast<std::uint64_t>(after.st_ino);
    changed_ = after.st_ctim;
  }
  return Fail(status);
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

}  // namespace platform
