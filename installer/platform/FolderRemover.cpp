// The entries of one folder listed and deleted one after another through the folder, opened
// once.
#include "platform/FilesInternal.h"

#include "platform/HandleTable.h"
#include "platform/Paths.h"
#include "platform/System.h"
#include "platform/Text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace platform {

using namespace files_detail;

FolderRemover::FolderRemover(std::wstring_view folder) : folder_(folder) {}

FolderRemover::~FolderRemover() {
  WritePending();
  if (fd_ >= 0) close(fd_);
}

namespace {

// Deletions side by side: at most this many threads (the caller's one included), each given at
// least kFilesPerThread files. They wait for the disk, not for the processor.
constexpr std::size_t kUnlinkThreads = 4;
constexpr std::size_t kFilesPerThread = 8;

// Unlinks each of `names` in the folder `fd`; `errors` gets 0 or the errno of each. A machine
// change is noted for each file deleted.
void UnlinkAll(int fd, const std::vector<const char*>& names, std::vector<int>& errors) {
  errors.assign(names.size(), 0);
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < names.size();) {
      if (unlinkat(fd, names[i], 0) != 0)
        errors[i] = errno;
      else
        NoteMachineChange();
    }
  };
  const std::size_t helpers =
      std::min(kUnlinkThreads, std::max<std::size_t>(1, names.size() / kFilesPerThread)) - 1;
  std::vector<std::thread> threads;
  threads.reserve(helpers);
  try {
    for (std::size_t t = 0; t < helpers; ++t) threads.emplace_back(work);
  } catch (const std::system_error&) {
    // No thread to spare: the ones started and this one do it all.
  }
  work();
  for (auto& t : threads) t.join();
}

// What the open handles of `table` say against deleting the file `st`: ERROR_SUCCESS, or the
// status DeleteFileW gives for it (a running program's image, a handle without delete sharing).
DWORD HandleConflict(const handles::LockedTable& table, const struct stat& st) {
  const auto dev = static_cast<std::uint64_t>(st.st_dev),
             ino = static_cast<std::uint64_t>(st.st_ino);
  if (handles::IsImage(table.Entries(), dev, ino)) return ERROR_ACCESS_DENIED;
  if (handles::CheckShare(table.Entries(), dev, ino, DELETE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) != ERROR_SUCCESS)
    return ERROR_SHARING_VIOLATION;
  return ERROR_SUCCESS;
}

bool SameState(const struct stat& st, std::uint64_t dev, std::uint64_t ino, std::int64_t sec,
               std::int64_t nsec) {
  return static_cast<std::uint64_t>(st.st_dev) == dev &&
         static_cast<std::uint64_t>(st.st_ino) == ino && st.st_ctim.tv_sec == sec &&
         st.st_ctim.tv_nsec == nsec;
}

}  // namespace

void FolderRemover::WritePending() {
  if (!pending_.held) return;
  pending_.held = false;
  // Written as it would have been at the call: not when the name is another file's by now, nor
  // when someone gave the file attributes of their own since (theirs came later).
  struct stat st;
  if (fstatat(fd_, pending_.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      static_cast<std::uint64_t>(st.st_dev) != pending_.dev ||
      static_cast<std::uint64_t>(st.st_ino) != pending_.ino)
    return;
  if (!SameState(st, pending_.dev, pending_.ino, pending_.changeSec, pending_.changeNsec) &&
      ReadAttributesAt(fd_, pending_.name.c_str(), st) != pending_.before)
    return;
  WriteAttributesAt(fd_, pending_.name.c_str(), pending_.attributes);
}

bool FolderRemover::Ready() {
  if (tried_) return fd_ >= 0;
  tried_ = true;
  Resolved r;
  try {
    r = Resolve(folder_);
  } catch (const MachineError&) {
    return false;
  }
  // Shares, links and whatever is not a folder of a drive here are left to the full path.
  if (r.status != ERROR_SUCCESS || !r.loc.exists || !r.drive || r.isLink || !S_ISDIR(r.st.st_mode))
    return false;
  DWORD status = ERROR_SUCCESS;
  struct stat st;
  const int fd = OpenResolvedFolder(r, status, st);
  if (fd < 0) return false;
  // A host file system without the attributes' store: every write goes by path and fails there.
  char probe[64];
  if (fgetxattr(fd, kAttrName, probe, sizeof probe) < 0 && errno == ENOTSUP) {
    close(fd);
    return false;
  }
  fd_ = fd;
  windowsPath_ = r.loc.windowsPath;
  host_ = r.loc.hostPath;
  driveRoot_ = r.loc.driveRoot;
  readOnlyVolume_ = r.loc.readOnlyVolume;
  limit_ = PathLimitOf(folder_);
  return true;
}

std::wstring FolderRemover::PathOf(std::wstring_view name) const {
  std::wstring path = folder_;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path.append(name);
}

bool FolderRemover::Direct(std::wstring_view name, std::string& utf8) {
  if (!IsPlainFileName(name) || !Ready()) return false;
  const std::size_t full =
      windowsPath_.size() + (windowsPath_.back() == L'\\' ? 0 : 1) + name.size();
  if (full >= limit_) return false;
  utf8 = ToUtf8(std::wstring(name));
  return host_.size() + 1 + utf8.size() < PATH_MAX;
}

std::wstring FolderRemover::WindowsPathOf(std::wstring_view name) const {
  return windowsPath_ + (windowsPath_.back() == L'\\' ? L"" : L"\\") + std::wstring(name);
}

DWORD FolderRemover::MayDelete(const std::string& utf8, std::wstring_view name) {
  FileSecurityHooks hooks = SecurityHooksNow();
  if (!hooks.check) return ERROR_SUCCESS;
  if (MayDeleteChildren(hooks, name) == ERROR_SUCCESS) return ERROR_SUCCESS;
  return MayDeleteItself(hooks, utf8, name);
}

DWORD FolderRemover::MayDeleteItself(const FileSecurityHooks& hooks, const std::string& utf8,
                                     std::wstring_view name) {
  return hooks.check(JoinHost(host_, utf8), driveRoot_, WindowsPathOf(name), DELETE);
}

DWORD FolderRemover::MayDeleteChildren(const FileSecurityHooks& hooks, std::wstring_view name) {
  const std::wstring target = WindowsPathOf(name);
  // FILE_DELETE_CHILD on the folder lets any entry go, whatever the entry's own list says; the
  // answer is kept while the folder's own descriptor reads the same (a folder without one has
  // its answer from further up, asked each time).
  char buf[8192];
  const ssize_t n = fgetxattr(fd_, kNtsdName, buf, sizeof buf);
  const bool own = n >= 0;
  const std::string ntsd = own ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
  if (!own || !childDeleteKnown_ || ntsd != ntsd_) {
    childDelete_ = hooks.check(host_, driveRoot_, target, 0x0040u /* FILE_DELETE_CHILD */);
    childDeleteKnown_ = own;
    ntsd_ = ntsd;
  }
  return childDelete_;
}

DWORD FolderRemover::SetAttributes(std::wstring_view name, DWORD attributes, DWORD had) {
  WritePending();
  std::string utf8;
  struct stat st;
  const DWORD stored = attributes == FILE_ATTRIBUTE_NORMAL ? 0 : attributes;
  if (Direct(name, utf8) && !readOnlyVolume_ &&
      fstatat(fd_, utf8.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISREG(st.st_mode)) {
      // Held back for the next call: most often the deletion that makes it needless.
      pending_ =
          Pending{true,
                  utf8,
                  stored,
                  had != INVALID_FILE_ATTRIBUTES ? had : ReadAttributesAt(fd_, utf8.c_str(), st),
                  static_cast<std::uint64_t>(st.st_dev),
                  static_cast<std::uint64_t>(st.st_ino),
                  st.st_ctim.tv_sec,
                  st.st_ctim.tv_nsec};
      return Fail(ERROR_SUCCESS);
    }
    if (S_ISDIR(st.st_mode) && WriteAttributesAt(fd_, utf8.c_str(), stored) == ERROR_SUCCESS)
      return Fail(ERROR_SUCCESS);
  }
  // A missing name (perhaps in another case), a link, a device: the full path answers.
  return SetFileAttributesW(PathOf(name), attributes);
}

DWORD FolderRemover::DeleteFile(std::wstring_view name, const FindData* listed) {
  std::string utf8;
  struct stat st;
  const bool direct = Direct(name, utf8);
  // Attributes held back for this very entry, untouched since, are what it has now.
  bool ownPending = false;
  if (pending_.held && direct && pending_.name == utf8 &&
      fstatat(fd_, utf8.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      SameState(st, pending_.dev, pending_.ino, pending_.changeSec, pending_.changeNsec)) {
    ownPending = true;
  } else {
    WritePending();
    if (!direct || fstatat(fd_, utf8.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
      return DeleteFileW(PathOf(name));
  }
  const DWORD status = DeleteEntry(utf8, name, st, ownPending, listed);
  // Not deleted: the attributes it was given are written after all.
  if (ownPending && status != ERROR_SUCCESS) WritePending();
  pending_.held = false;
  return Fail(status);
}

DWORD FolderRemover::DeleteEntry(const std::string& utf8, std::wstring_view name,
                                 const struct stat& st, bool ownPending, const FindData* listed) {
  if (readOnlyVolume_) return ERROR_WRITE_PROTECT;
  // The listing's attributes are the file's while it is the file listed and has not changed
  // since: every write of its attributes moves its change time.
  const bool asListed = listed && listed->changeStamp != 0 &&
                        listed->volumeId == static_cast<std::uint64_t>(st.st_dev) &&
                        listed->fileId == static_cast<std::uint64_t>(st.st_ino) &&
                        listed->changeStamp == ChangeStampOf(st);
  const DWORD attributes = ownPending ? pending_.attributes
                           : asListed ? listed->attributes
                                      : ReadAttributesAt(fd_, utf8.c_str(), st);
  if (attributes & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  return DeleteChecked(utf8, name, st);
}

DWORD FolderRemover::DeleteChecked(const std::string& utf8, std::wstring_view name,
                                   const struct stat& st) {
  if (readOnlyVolume_) return ERROR_WRITE_PROTECT;
  if (DWORD rc = MayDelete(utf8, name)) return rc;
  // The table as this process last read it while it is unchanged; a conflict it shows may be a
  // handle of a process that has ended since, and is asked of the table read afresh.
  for (handles::Reading reading : {handles::Reading::ReuseUnchanged, handles::Reading::Afresh}) {
    handles::LockedTable table(handles::CurrentTablePath(), reading);
    if (const DWORD conflict = HandleConflict(table, st); conflict != ERROR_SUCCESS) {
      if (table.Reused()) continue;
      return conflict;
    }
    if (unlinkat(fd_, utf8.c_str(), 0) != 0)
      return errno == ENOENT ? ERROR_FILE_NOT_FOUND : Win32FromErrno(errno);
    NoteMachineChange();
    return ERROR_SUCCESS;
  }
  return ERROR_SHARING_VIOLATION;  // not reached: the table read afresh answers
}

DWORD FolderRemover::List(std::vector<Entry>& entries) {
  entries.clear();
  WritePending();
  if (!Ready()) return Fail(ERROR_PATH_NOT_FOUND);
  // A descriptor of its own for the listing: the folder's is kept for the deletions.
  const int listed = openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listed >= 0 ? fdopendir(listed) : nullptr;
  if (!dir) {
    const int err = errno;
    if (listed >= 0) close(listed);
    return Fail(Win32FromErrno(err));
  }
  const int dfd = dirfd(dir);
  while (dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    Entry entry;
    entry.name = FromUtf8(e->d_name);
    if (entry.name.find(L'\xFFFD') != std::wstring::npos || !IsValidFileName(entry.name)) continue;
    unsigned char type = e->d_type;
    struct stat st;
    if (type == DT_UNKNOWN) {
      if (fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
    }
    entry.link = type == DT_LNK;
    // What a link leads to is only looked at, never entered.
    entry.folder =
        entry.link ? fstatat(dfd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode) : type == DT_DIR;
    entries.push_back(std::move(entry));
  }
  closedir(dir);
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    const int c = CompareNoCase(a.name, b.name);
    return c != 0 ? c < 0 : a.name < b.name;
  });
  return Fail(ERROR_SUCCESS);
}

DWORD FolderRemover::ResetReadOnly(std::wstring_view name) {
  WritePending();
  std::string utf8;
  struct stat st;
  if (Direct(name, utf8) && fstatat(fd_, utf8.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return Fail(ERROR_SUCCESS);
    if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode)) {
      const DWORD attributes = ReadAttributesAt(fd_, utf8.c_str(), st);
      if (!(attributes & FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_SUCCESS);
      if (readOnlyVolume_) return Fail(ERROR_WRITE_PROTECT);
      return Fail(WriteAttributesAt(fd_, utf8.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY));
    }
  }
  const std::wstring path = PathOf(name);
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (!(attributes & FILE_ATTRIBUTE_READONLY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return Fail(ERROR_SUCCESS);
  return SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

DWORD FolderRemover::RemoveFile(std::wstring_view name, std::uint64_t& size) {
  WritePending();
  size = 0;
  std::string utf8;
  struct stat st;
  const bool direct = Direct(name, utf8);
  const bool found = direct && fstatat(fd_, utf8.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (found && S_ISREG(st.st_mode)) {
    size = static_cast<std::uint64_t>(st.st_size);
    // Whatever its attributes say, the reset would let it go: they are not read to be deleted.
    const DWORD status = DeleteChecked(utf8, name, st);
    if (status != ERROR_SUCCESS) KeepWithoutReadOnly(utf8, st);
    return Fail(status);
  }
  // A link goes as the link; any other entry, and a name the folder cannot take as it stands,
  // the way of the full path.
  const std::wstring path = PathOf(name);
  if (!(found && S_ISLNK(st.st_mode))) {
    FileInfo info;
    if (GetFileAttributesExW(path, info) == ERROR_SUCCESS &&
        !(info.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
      size = info.size;
      if (info.attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path, info.attributes & ~FILE_ATTRIBUTE_READONLY);
    }
  }
  return DeleteFileW(path);
}

void FolderRemover::KeepWithoutReadOnly(const std::string& utf8, const struct stat& st) {
  if (readOnlyVolume_) return;
  const DWORD attributes = ReadAttributesAt(fd_, utf8.c_str(), st);
  if (attributes & FILE_ATTRIBUTE_READONLY)
    WriteAttributesAt(fd_, utf8.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

void FolderRemover::RemoveFiles(const std::vector<std::wstring_view>& names,
                                std::vector<Removed>& results) {
  WritePending();
  results.assign(names.size(), Removed{});
  struct Candidate {
    std::size_t index;
    std::string utf8;
    struct stat st;
  };
  std::vector<Candidate> files;
  std::vector<std::size_t> others;
  // The folder's own answer, asked once for all of them: where it lets its entries go, no
  // entry's list is read.
  const FileSecurityHooks hooks = SecurityHooksNow();
  const bool children = !hooks.check || (Ready() && !names.empty() &&
                                         MayDeleteChildren(hooks, names.front()) == ERROR_SUCCESS);
  for (std::size_t i = 0; i < names.size(); ++i) {
    Candidate c{i, {}, {}};
    if (!Direct(names[i], c.utf8) ||
        fstatat(fd_, c.utf8.c_str(), &c.st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(c.st.st_mode)) {
      others.push_back(i);
      continue;
    }
    results[i].size = static_cast<std::uint64_t>(c.st.st_size);
    // The checks of DeleteChecked before the table's: the volume, then who may delete.
    DWORD status = readOnlyVolume_ ? ERROR_WRITE_PROTECT
                   : children      ? ERROR_SUCCESS
                                   : MayDeleteItself(hooks, c.utf8, names[i]);
    if (status != ERROR_SUCCESS) {
      results[i].status = status;
      KeepWithoutReadOnly(c.utf8, c.st);
      continue;
    }
    files.push_back(std::move(c));
  }
  // The open handles, asked of the table once for all the files; a conflict a reused reading
  // shows may be a handle of a process that has ended since, and is asked of the table read
  // afresh.
  for (handles::Reading reading : {handles::Reading::ReuseUnchanged, handles::Reading::Afresh}) {
    if (files.empty()) break;
    handles::LockedTable table(handles::CurrentTablePath(), reading);
    std::vector<DWORD> conflicts(files.size(), ERROR_SUCCESS);
    bool any = false;
    for (std::size_t j = 0; j < files.size(); ++j) {
      conflicts[j] = HandleConflict(table, files[j].st);
      any = any || conflicts[j] != ERROR_SUCCESS;
    }
    if (any && table.Reused()) continue;
    // Still locked: nobody opens any of them before it is gone.
    std::vector<const char*> free;
    std::vector<std::size_t> freeIndex;
    for (std::size_t j = 0; j < files.size(); ++j)
      if (conflicts[j] == ERROR_SUCCESS) {
        free.push_back(files[j].utf8.c_str());
        freeIndex.push_back(j);
      }
    std::vector<int> errors;
    UnlinkAll(fd_, free, errors);
    for (std::size_t k = 0; k < free.size(); ++k)
      if (errors[k] != 0)
        conflicts[freeIndex[k]] =
            errors[k] == ENOENT ? ERROR_FILE_NOT_FOUND : Win32FromErrno(errors[k]);
    for (std::size_t j = 0; j < files.size(); ++j) {
      results[files[j].index].status = conflicts[j];
      if (conflicts[j] != ERROR_SUCCESS) KeepWithoutReadOnly(files[j].utf8, files[j].st);
    }
    break;
  }
  for (std::size_t i : others) results[i].status = RemoveFile(names[i], results[i].size);
  Fail(ERROR_SUCCESS);
}

}  // namespace platform
