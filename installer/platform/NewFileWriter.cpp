// New files written one after another into a few kept folders: unnamed while written, linked
// under their names when whole.
#include "platform/FilesInternal.h"

#include "platform/Paths.h"
#include "platform/Text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

using namespace files_detail;

namespace {

// Folders kept open at once; the one used longest ago is closed first.
constexpr std::size_t kKeptFolders = 64;

// How a finished file gets its name: through /proc (any user), or by its descriptor (needs the
// right to do so); when neither works, every writer leaves its files to FileHandle.
enum class LinkWay : int { Unknown, Proc, Descriptor, None };
std::atomic<int>& Way() {
  static auto* way = new std::atomic<int>(static_cast<int>(LinkWay::Unknown));
  return *way;
}

bool NameTaken(int err) { return err == EEXIST; }

}  // namespace

struct NewFileWriter::Folder {
  std::wstring key;          // the folder as the caller names it
  std::wstring windowsPath;  // its full form
  std::string host;
  std::string driveRoot;
  wchar_t drive = 0;  // the letter whose room the files take, or 0
  std::size_t limit = MAX_PATH;
  int fd = -1;
  std::uint64_t lastUse = 0;
  // The last security answer, valid while the folder's own descriptor reads the same.
  bool prepared = false;
  std::string ntsd;
  DWORD createStatus = ERROR_SUCCESS;
  std::string stored;
  timespec linkedChange{};  // the folder's change time right after the last file linked here
  ~Folder() {
    if (fd >= 0) close(fd);
  }
};

NewFileWriter::NewFileWriter() = default;
NewFileWriter::~NewFileWriter() { Reset(); }

void NewFileWriter::Reset() {
  Abandon();
  folders_.clear();
}

void NewFileWriter::Abandon() {
  if (fd_ >= 0) close(fd_);  // an unnamed file goes with its last descriptor
  fd_ = -1;
  folder_ = nullptr;
  name_.clear();
  wideName_.clear();
}

NewFileWriter::Folder* NewFileWriter::FolderFor(const std::wstring& folder, DWORD& status,
                                                struct stat& now) {
  for (auto it = folders_.begin(); it != folders_.end(); ++it) {
    Folder* f = it->get();
    if (f->key != folder) continue;
    if (fstat(f->fd, &now) == 0 && now.st_nlink > 0) {
      f->lastUse = ++clock_;
      return f;
    }
    folders_.erase(it);  // removed since: looked up again
    break;
  }
  Resolved r;
  try {
    r = Resolve(folder);
  } catch (const MachineError&) {
    status = ERROR_NOT_READY;
    return nullptr;
  }
  if (r.status != ERROR_SUCCESS) {
    status = r.status;
    return nullptr;
  }
  if (!r.loc.exists) {
    status = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  if (!S_ISDIR(r.st.st_mode) || !r.drive) {
    status = ERROR_NOT_SUPPORTED;  // FileHandle gives the answer for such a path
    return nullptr;
  }
  if (r.loc.readOnlyVolume) {
    status = ERROR_WRITE_PROTECT;
    return nullptr;
  }
  // Opened again from the drive root without following a link, and it must be the folder
  // that was checked.
  struct stat st;
  const int fd = OpenResolvedFolder(r, status, st);
  if (fd < 0) return nullptr;
  auto f = std::make_unique<Folder>();
  f->key = folder;
  f->windowsPath = r.loc.windowsPath;
  f->host = r.loc.hostPath;
  f->driveRoot = r.loc.driveRoot;
  f->drive = r.drive->letter;
  f->limit = PathLimitOf(folder);
  f->fd = fd;
  f->lastUse = ++clock_;
  if (folders_.size() >= kKeptFolders) {
    auto oldest =
        std::min_element(folders_.begin(), folders_.end(),
                         [](const auto& a, const auto& b) { return a->lastUse < b->lastUse; });
    folders_.erase(oldest);
  }
  now = st;
  folders_.push_back(std::move(f));
  return folders_.back().get();
}

DWORD NewFileWriter::Begin(std::wstring_view path, DWORD attributes) {
  Abandon();
  if (Way().load() == static_cast<int>(LinkWay::None)) return Fail(ERROR_NOT_SUPPORTED);
  const std::size_t cut = path.find_last_of(L'\\');
  if (cut == std::wstring_view::npos || cut == 0 || path.find(L'/') != std::wstring_view::npos)
    return Fail(ERROR_NOT_SUPPORTED);
  const std::wstring_view name = path.substr(cut + 1);
  if (!IsPlainFileName(name)) return Fail(ERROR_NOT_SUPPORTED);
  // "C:\" keeps its separator; any other folder is named without the last one.
  const std::wstring folderName(path.substr(0, cut == 2 && path[1] == L':' ? 3 : cut));
  DWORD status = ERROR_SUCCESS;
  struct stat now;
  Folder* folder = FolderFor(folderName, status, now);
  if (!folder) return Fail(status);

  const std::wstring& base = folder->windowsPath;
  const std::size_t full = base.size() + (base.back() == L'\\' ? 0 : 1) + name.size();
  if (full >= folder->limit) return Fail(ERROR_FILENAME_EXCED_RANGE);
  const std::wstring wide(name);
  const std::string utf8 = ToUtf8(wide);
  if (folder->host.size() + 1 + utf8.size() >= PATH_MAX) return Fail(ERROR_FILENAME_EXCED_RANGE);
  switch (FindChildAt(folder->fd, now, folder->host, wide, utf8)) {
    case 1: return Fail(ERROR_FILE_EXISTS);
    case 0: break;
    default: return Fail(ERROR_NOT_SUPPORTED);
  }

  // May a file be added here, and what does it store? Asked again when the folder's own
  // descriptor changed (or when it has none, as the answer then comes from further up). A
  // folder whose change time is the one it had right after this writer's last file there has
  // not changed at all since the answer was had.
  FileSecurityHooks hooks = SecurityHooksNow();
  // A security service that cannot answer before the file exists is left to FileHandle.
  if (!hooks.prepare && (hooks.check || hooks.created)) return Fail(ERROR_NOT_SUPPORTED);
  const bool unchanged = folder->prepared && folder->linkedChange.tv_sec == now.st_ctim.tv_sec &&
                         folder->linkedChange.tv_nsec == now.st_ctim.tv_nsec;
  if (hooks.prepare && !unchanged) {
    char buf[8192];
    const ssize_t n = fgetxattr(folder->fd, kNtsdName, buf, sizeof buf);
    const bool own = n >= 0;
    const std::string ntsd = own ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    if (!own || !folder->prepared || folder->ntsd != ntsd) {
      const std::wstring target = base + (base.back() == L'\\' ? L"" : L"\\") + wide;
      folder->createStatus =
          hooks.prepare(folder->host, folder->driveRoot, target, false, folder->stored);
      folder->prepared = own;
      folder->ntsd = ntsd;
    }
    if (folder->createStatus != ERROR_SUCCESS) return Fail(folder->createStatus);
  }

  int fd = openat(folder->fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) return Fail(ERROR_NOT_SUPPORTED);
    return Fail(Win32FromErrno(errno));
  }
  const DWORD attrs = attributes == FILE_ATTRIBUTE_NORMAL ? 0 : attributes;
  if (DWORD rc = WriteAttributes(fd, attrs); rc != ERROR_SUCCESS) {
    close(fd);
    return Fail(rc);
  }
  if (hooks.prepare && !folder->stored.empty() &&
      fsetxattr(fd, kNtsdName, folder->stored.data(), folder->stored.size(), 0) != 0) {
    const int err = errno;
    close(fd);
    return Fail(Win32FromErrno(err));
  }
  fd_ = fd;
  folder_ = folder;
  name_ = utf8;
  wideName_ = wide;
  return Fail(ERROR_SUCCESS);
}

DWORD NewFileWriter::Write(const void* buffer, std::size_t size) {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  return Fail(WriteAllOnDrive(fd_, buffer, size, folder_->drive));
}

DWORD NewFileWriter::Finish(FileTime lastWrite) {
  if (fd_ < 0) return Fail(ERROR_INVALID_HANDLE);
  if (lastWrite != 0) {
    struct timespec ts[2];
    LastWriteTimes(lastWrite, ts);
    if (futimens(fd_, ts) != 0) {
      const DWORD rc = Win32FromErrno(errno);
      Abandon();
      return Fail(rc);
    }
  }
  // A folder removed since Begin takes no name; that says nothing about how names are given.
  // Asked only when a link fails as it would then: the folder's status is not read per file.
  auto folderGone = [this] {
    struct stat folder;
    return fstat(folder_->fd, &folder) == 0 && folder.st_nlink == 0;
  };
  // By the descriptor where that is allowed (no path to walk), else through /proc.
  int rc = -1, err = 0;
  int way = Way().load();
  if (way == static_cast<int>(LinkWay::Unknown) || way == static_cast<int>(LinkWay::Descriptor)) {
    rc = linkat(fd_, "", folder_->fd, name_.c_str(), AT_EMPTY_PATH);
    err = errno;
    if (rc != 0 && err == ENOENT && folderGone()) {
      Abandon();
      return Fail(ERROR_PATH_NOT_FOUND);
    }
    if (rc == 0 || NameTaken(err))
      Way().store(static_cast<int>(LinkWay::Descriptor));
    else if (way == static_cast<int>(LinkWay::Unknown) && (err == EPERM || err == ENOENT))
      way = static_cast<int>(LinkWay::Proc);
  }
  if (way == static_cast<int>(LinkWay::Proc)) {
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd_);
    rc = linkat(AT_FDCWD, proc, folder_->fd, name_.c_str(), AT_SYMLINK_FOLLOW);
    err = errno;
    if (rc != 0 && err == ENOENT && folderGone()) {
      Abandon();
      return Fail(ERROR_PATH_NOT_FOUND);
    }
    if (rc == 0 || NameTaken(err))
      Way().store(static_cast<int>(LinkWay::Proc));
    else if (Way().load() == static_cast<int>(LinkWay::Unknown) && (err == ENOENT || err == EACCES))
      Way().store(static_cast<int>(LinkWay::None));
  }
  if (rc != 0) {
    Abandon();
    if (NameTaken(err)) return Fail(ERROR_FILE_EXISTS);
    if (Way().load() == static_cast<int>(LinkWay::None)) return Fail(ERROR_NOT_SUPPORTED);
    return Fail(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : Win32FromErrno(err));
  }
  struct stat after;
  if (fstat(folder_->fd, &after) == 0) {
    NoteChildCreatedAt(after, folder_->host, name_, wideName_);
    folder_->linkedChange = after.st_ctim;
  } else {
    folder_->linkedChange = timespec{};
  }
  Abandon();
  return Fail(ERROR_SUCCESS);
}

}  // namespace platform
