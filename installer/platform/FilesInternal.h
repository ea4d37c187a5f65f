// Shared by the files of the file layer (mapping, operations, enumeration, handles, volumes):
// the resolved form of a path, the DOS attribute store and the hooks other services install.
// Not for use outside installer/platform.
#pragma once

#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Paths.h"

#include <mutex>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace platform::files_detail {

inline constexpr const char* kAttrName = "user.DOSATTRIB";
inline constexpr const char* kNtsdName = "user.NTSD";  // the stored security descriptor
inline constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                             FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                             FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                             FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

DWORD Win32FromErrno(int err);
inline bool IsDriveLetter(wchar_t c) {
  return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// Hooks installed by other services (guarded by HookMutex).
std::mutex& HookMutex();
ShareResolver& ShareResolverHook();
DelayedMoveHandler& DelayedMoveHook();
FileSecurityHooks& FileSecurityHook();

// Real (symlink-free) path of a drive root, cached.
std::string RealRoot(const std::string& root);
bool IsInside(const std::string& path, const std::string& root);
std::string JoinHost(const std::string& dir, const std::string& name);
std::string ParentOf(const std::string& host);
// Finds `name` in the host folder `dir` without regard to case. Exact spelling first, then the
// folder's listing (kept while the folder is unchanged); among several spellings the first in
// NTFS order wins.
bool LookupChild(const std::string& dir, const std::wstring& name, std::string& hostName,
                 struct stat& st);
// The layer has just created the file or folder `host` (whose name a look-up found missing):
// its folder's kept listing gains the name instead of being listed again.
void NoteChildCreated(const std::string& host);
// The same two for a folder the caller holds open as `dirFd` (host path `dir`) and has just
// read the status of (after the creation, for the second): 1 when `name` (host spelling `utf8`)
// is there in any case, 0 when it is not, -1 when that cannot be told.
int FindChildAt(int dirFd, const struct stat& dirStatus, const std::string& dir,
                const std::wstring& name, const std::string& utf8);
void NoteChildCreatedAt(const struct stat& dirStatus, const std::string& dir,
                        const std::string& hostName, const std::wstring& name);

// A checked host path opened again from its drive root without a window: every folder below the
// root is entered without following a link (a link swapped in after the check fails with ELOOP
// or ENOTDIR), and the final element is then reached relative to that folder.
class BeneathParent {
 public:
  // `host` must lie inside `root` and differ from it.
  BeneathParent(const std::string& root, const std::string& host);
  ~BeneathParent();
  BeneathParent(const BeneathParent&) = delete;
  BeneathParent& operator=(const BeneathParent&) = delete;
  bool Ok() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  const char* Name() const { return name_.c_str(); }
  // The walk's failure as a status: a link met on the way is refused, a missing folder is one.
  DWORD Status() const;

 private:
  int fd_ = -1;
  int err_ = 0;
  std::string name_;
};

// A plain file name: one element that Windows keeps as it stands (no separators, wildcards or
// device names, no trailing dot or blank that the path rules would cut off). Such a name can be
// used in its folder directly, with the meaning the path rules would give it.
bool IsPlainFileName(std::wstring_view name);

// How long a path below `folder` may be: MAX_PATH, or 32767 characters below a "\\?\" folder.
inline std::size_t PathLimitOf(std::wstring_view folder) {
  return folder.size() >= 4 && folder.compare(0, 4, L"\\\\?\\") == 0 ? 32767 : MAX_PATH;
}

struct Resolved;
// The resolved folder `r` opened again from its drive root without following a link
// (O_RDONLY|O_DIRECTORY), checked to be the folder that was resolved: the descriptor with its
// status in `st`, or -1 with `status` set.
int OpenResolvedFolder(const Resolved& r, DWORD& status, struct stat& st);

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

// The heart of the layer: a Windows path to its host location. Throws MachineError when no
// machine is current.
Resolved Resolve(std::wstring_view input);

// Extended attributes of the entry `name` of the open folder `dirFd`, never through a link (a
// link's own attributes, which hold no user values). As lgetxattr/lsetxattr: the size or 0 on
// success, -1 with errno.
ssize_t GetXattrAt(int dirFd, const char* name, const char* attr, void* value, std::size_t size);
int SetXattrAt(int dirFd, const char* name, const char* attr, const void* value, std::size_t size);

// DOS attributes kept in the host xattr.
DWORD ReadAttributes(const std::string& host, const struct stat& st);
// The same for the entry `name` of the open folder `dirFd` (`st` its status).
DWORD ReadAttributesAt(int dirFd, const char* name, const struct stat& st);
// What the host's own status says of the attributes (folder, device), none of the stored ones.
DWORD HostAttributes(const struct stat& st);
DWORD WriteAttributesAt(int dirFd, const char* name, DWORD attrs);
DWORD WriteAttributes(const std::string& host, DWORD attrs);
DWORD WriteAttributes(int fd, DWORD attrs);
FileTime CreationTimeOf(const std::string& host, const struct stat& st);
// The last change of the file's contents, attributes or access list, in nanoseconds (0, taken
// as not known, only at the very start of the host's epoch).
inline std::uint64_t ChangeStampOf(const struct stat& st) {
  return static_cast<std::uint64_t>(st.st_ctim.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(st.st_ctim.tv_nsec);
}
// The two times for futimens/utimensat that set the last-write time alone.
void LastWriteTimes(FileTime lastWrite, struct timespec (&times)[2]);
// Writes all of `size` bytes to the open file: ERROR_SUCCESS or the failure.
DWORD WriteAll(int fd, const void* data, std::size_t size);
// The same for a file of the drive `letter` (0: none known): on a drive whose free space
// machine.ini fixes, what the write adds to the file's length is taken from the room that
// figure gives this process; a write that needs more writes what fits and fails with
// ERROR_DISK_FULL, as on a full disk.
DWORD WriteAllOnDrive(int fd, const void* data, std::size_t size, wchar_t letter);
void FillInfo(const std::string& host, const struct stat& st, FileInfo& info,
              bool withCreation = true);

// The security service's checks (ERROR_SUCCESS when none is installed): `desired` on the object
// itself; creating a file or folder in its parent; deleting (DELETE on the object or
// FILE_DELETE_CHILD on its folder). `Created` hands a new object to the service, `Leaving` one
// that is moved out of its folder.
FileSecurityHooks SecurityHooksNow();
DWORD CheckAccess(const Resolved& r, DWORD desired);
DWORD CheckCreate(const Resolved& r, bool isDir);
DWORD CheckDelete(const Resolved& r);
void Created(const Resolved& r, bool isDir);
DWORD Leaving(const Resolved& r);

inline bool IsDriveRoot(const Resolved& r) { return r.loc.hostPath == r.loc.driveRoot; }
inline DWORD ReadOnlyDrive(const Resolved& r) {
  return r.loc.readOnlyVolume ? ERROR_WRITE_PROTECT : ERROR_SUCCESS;
}
// Status for a missing final element: FILE_NOT_FOUND, or PATH_NOT_FOUND when the walk failed.
inline DWORD MissingStatus(const Resolved& r) {
  if (r.status != ERROR_SUCCESS) return r.status;
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace platform::files_detail

// Resolves `path` into `var`, returning ERROR_NOT_READY from the caller when no machine is
// current.
#define TL_RESOLVE(var, path)                      \
  ::platform::files_detail::Resolved var;          \
  try {                                            \
    var = ::platform::files_detail::Resolve(path); \
  } catch (const MachineError&) {                  \
    return Fail(ERROR_NOT_READY);                  \
  }
