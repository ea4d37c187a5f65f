// The file layer: Windows paths of the emulated machine mapped to host files, with Windows
// semantics (DOS attributes, share modes, NTFS enumeration order, Win32 status codes).
//
// Mapping: drive letters come from machine.ini (C: is <root>/drive_c, Z: the host's "/",
// read-only); "\\<this computer>\C$\..." and "\\<this computer>\ADMIN$\..." reach the drives;
// other shares are resolved by a resolver that the share service installs. Look-up ignores case
// with the fixed upper-case table. For a 32-bit process on 64-bit Windows, "C:\Windows\System32"
// is redirected to "C:\Windows\SysWOW64" ("Sysnative" reaches the real one), as Windows does.
// No path ever leads outside the machine root or a mapped drive: ".." stops at the root, device
// names (CON, NUL, ...) and over-long paths are refused, and a host symbolic link that leads
// outside its drive (or nowhere) is refused with ERROR_ACCESS_DENIED. A link within the drive is
// followed; deleting, removing or moving it acts on the link itself.
//
// Every operation returns its Win32 status and also stores it as the thread's last error.
#pragma once

#include "platform/Time.h"
#include "platform/Win32Errors.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct stat;

namespace platform {

// DOS attributes (kept in the host xattr user.DOSATTRIB and enforced by this layer).
inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
inline constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x00000040;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
inline constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100;
inline constexpr DWORD FILE_ATTRIBUTE_REPARSE_POINT = 0x00000400;
inline constexpr DWORD FILE_ATTRIBUTE_COMPRESSED = 0x00000800;
inline constexpr DWORD FILE_ATTRIBUTE_OFFLINE = 0x00001000;
inline constexpr DWORD FILE_ATTRIBUTE_NOT_CONTENT_INDEXED = 0x00002000;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

// Access rights and share modes of CreateFileW.
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD GENERIC_EXECUTE = 0x20000000;
inline constexpr DWORD GENERIC_ALL = 0x10000000;
inline constexpr DWORD DELETE = 0x00010000;
inline constexpr DWORD FILE_READ_DATA = 0x0001;
inline constexpr DWORD FILE_WRITE_DATA = 0x0002;
inline constexpr DWORD FILE_APPEND_DATA = 0x0004;
inline constexpr DWORD FILE_READ_ATTRIBUTES = 0x0080;
inline constexpr DWORD FILE_WRITE_ATTRIBUTES = 0x0100;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
inline constexpr DWORD FILE_SHARE_DELETE = 0x00000004;

// Creation dispositions of CreateFileW.
inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;

// Flags of CreateFileW (with the attributes in the same argument).
inline constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;
inline constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;

// SetFilePointer origins.
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;

// MoveFileExW flags.
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
inline constexpr DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x4;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

// ---------------------------------------------------------------------------------------------
// Path mapping

// Where a Windows path lands on the host.
struct HostLocation {
  std::string hostPath;      // absolute host path (existing elements with their stored case)
  std::wstring windowsPath;  // the full, canonical Windows path that was resolved
  wchar_t drive = 0;         // drive letter, or 0 for a share resolved by the share resolver
  std::string driveRoot;     // host folder of the drive (or share) root
  bool readOnlyVolume = false;
  bool exists = false;  // the final element exists on the host
};

// Resolves a Windows path (absolute, or relative to the emulated current directory) to its host
// location. ERROR_INVALID_NAME (bad characters, device names), ERROR_FILENAME_EXCED_RANGE
// (MAX_PATH or longer, or an element longer than 255), ERROR_PATH_NOT_FOUND (empty, no such drive),
// ERROR_BAD_NETPATH / ERROR_BAD_NET_NAME (unknown computer or share), ERROR_PATH_NOT_FOUND (a
// folder on the way is missing or is a file; `loc` is still filled), ERROR_ACCESS_DENIED (a
// symbolic link leads out of the drive). A missing final element is not an error
// (`loc.exists` is false).
DWORD ResolvePath(std::wstring_view windowsPath, HostLocation& loc);
// Whether the path resolves to a place of the machine itself: a drive kept inside the machine
// root, or a share of this or another configured computer. False for the drives that map the
// host's own folders (Z: maps "/"), for a path that does not resolve and for one whose
// symbolic links lead elsewhere. A program started from such a place is the host's, not the
// machine's.
bool IsMachinePath(std::wstring_view windowsPath);
// Convenience: the host path of a Windows path, or "" when it does not resolve.
std::string ToHostPath(std::wstring_view windowsPath);
// The Windows path of a host path: inside a drive of the machine (C: first) its drive path,
// otherwise through Z: ("/home/me/x" -> "Z:\home\me\x"); "" when no drive reaches it.
std::wstring HostToWindowsPath(const std::string& hostPath);
// GetModuleFileNameW(NULL): the running program's path in Windows form.
std::wstring GetModuleFileNameW();

// Share resolution for UNC paths other than the administrative shares of this computer. The
// resolver gets the computer and share names and returns ERROR_SUCCESS with the Windows path of
// the shared folder on that computer and that computer's machine root (empty = this machine),
// or NERR_NetNameNotFound / ERROR_BAD_NETPATH.
using ShareResolver = std::function<DWORD(std::wstring_view computer, std::wstring_view share,
                                          std::wstring& folder, std::string& machineRoot)>;
void SetShareResolver(ShareResolver resolver);

// ---------------------------------------------------------------------------------------------
// Queries

struct FileInfo {
  DWORD attributes = 0;         // FILE_ATTRIBUTE_*; NORMAL when no other is set
  FileTime creationTime = 0;    // UTC
  FileTime lastAccessTime = 0;  // UTC
  FileTime lastWriteTime = 0;   // UTC
  std::uint64_t size = 0;       // 0 for folders
};

// GetFileAttributesExW. ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND when missing.
DWORD GetFileAttributesExW(std::wstring_view path, FileInfo& info);
// GetFileAttributesW: the attributes, or INVALID_FILE_ATTRIBUTES with the last error set.
DWORD GetFileAttributesW(std::wstring_view path);
// SetFileAttributesW: sets the settable attributes (read-only, hidden, system, archive,
// temporary, not-content-indexed, offline); FILE_ATTRIBUTE_NORMAL alone clears them.
DWORD SetFileAttributesW(std::wstring_view path, DWORD attributes);
// PathFileExistsW / PathIsDirectoryW (the two path functions that ask the file system).
bool PathFileExistsW(std::wstring_view path);
bool PathIsDirectoryW(std::wstring_view path);
// GetFileSizeEx by path.
DWORD GetFileSize(std::wstring_view path, std::uint64_t& size);
// Sets the last-write time (UTC) of a file or folder by path (SetFileTime).
DWORD SetFileLastWriteTime(std::wstring_view path, FileTime lastWrite);

// ---------------------------------------------------------------------------------------------
// Folders and files

// CreateDirectoryW: ERROR_ALREADY_EXISTS when the name exists, ERROR_PATH_NOT_FOUND when the
// parent is missing.
DWORD CreateDirectoryW(std::wstring_view path);
// Creates the folder and every missing parent (SHCreateDirectoryExW): ERROR_SUCCESS, or
// ERROR_ALREADY_EXISTS when the folder exists, ERROR_FILE_EXISTS when a file has the name.
DWORD CreateDirectoryWithParents(std::wstring_view path);
// RemoveDirectoryW: ERROR_DIR_NOT_EMPTY, ERROR_ACCESS_DENIED (read-only folder), ERROR_DIRECTORY
// (a file), ERROR_SHARING_VIOLATION (open), ERROR_FILE_NOT_FOUND.
DWORD RemoveDirectoryW(std::wstring_view path);
// DeleteFileW: ERROR_ACCESS_DENIED for a read-only file, a folder or a running program's file,
// ERROR_SHARING_VIOLATION when a handle without FILE_SHARE_DELETE is open, ERROR_FILE_NOT_FOUND.
DWORD DeleteFileW(std::wstring_view path);
// CopyFileW: copies contents, attributes and last-write time (sets the archive attribute).
// `failIfExists` gives ERROR_FILE_EXISTS for an existing target; a read-only or hidden target is
// ERROR_ACCESS_DENIED, an open one ERROR_SHARING_VIOLATION.
DWORD CopyFileW(std::wstring_view from, std::wstring_view to, bool failIfExists);
// MoveFileExW: renames a file or folder (across drives only files, with MOVEFILE_COPY_ALLOWED).
// MOVEFILE_DELAY_UNTIL_REBOOT is handed to the delayed-move handler (the restart service);
// without one it fails with ERROR_INVALID_PARAMETER.
DWORD MoveFileExW(std::wstring_view from, std::wstring_view to, DWORD flags);
DWORD MoveFileW(std::wstring_view from, std::wstring_view to);
// `to` empty means "delete at the next start".
using DelayedMoveHandler = std::function<DWORD(std::wstring_view from, std::wstring_view to)>;
void SetDelayedMoveHandler(DelayedMoveHandler handler);

// File security, supplied by the security service (none by default: every access is granted).
// The layer asks before it creates (FILE_ADD_FILE or FILE_ADD_SUBDIRECTORY on the folder),
// opens for writing, deletes (DELETE on the object, or FILE_DELETE_CHILD on its folder) and
// renames; a refusal is ERROR_ACCESS_DENIED, as on Windows.
struct FileSecurityHooks {
  // `desired` (generic or specific rights) on the existing object at `hostPath` on the drive whose
  // root is `driveRoot`; `windowsPath` names it in reports. ERROR_SUCCESS or ERROR_ACCESS_DENIED.
  std::function<DWORD(const std::string& hostPath, const std::string& driveRoot,
                      const std::wstring& windowsPath, DWORD desired)>
      check;
  // A file or folder was just made: it gets its descriptor from its folder.
  std::function<void(const std::string& hostPath, const std::string& driveRoot, bool isDir)>
      created;
  // Before a file or folder is made in the folder `folderHost`: whether the caller may add it
  // there (as `check` with FILE_ADD_FILE or FILE_ADD_SUBDIRECTORY) and what it then stores as
  // its own descriptor (`stored`, "" for nothing), for writers that set it on the new object
  // themselves.
  std::function<DWORD(const std::string& folderHost, const std::string& driveRoot,
                      const std::wstring& windowsPath, bool isDir, std::string& stored)>
      prepare;
  // The object at `hostPath` is about to leave its folder for another one on the same drive: a
  // list it has from that folder without keeping it must be written on it, so that it keeps it;
  // the move does not happen when that fails.
  std::function<DWORD(const std::string& hostPath, const std::string& driveRoot)> leaving;
};
void SetFileSecurityHooks(FileSecurityHooks hooks);

// Whole-file helpers honouring share modes and attributes (open, read/write all, close).
// Reading: a file longer than `maxBytes` is ERROR_FILE_TOO_LARGE, and never read past that
// bound; what is not a file of the machine (a folder, a pipe, a device) is ERROR_ACCESS_DENIED.
DWORD ReadWholeFile(std::wstring_view path, std::string& bytes,
                    std::uint64_t maxBytes = UINT64_MAX);
// CREATE_ALWAYS semantics: creates or replaces the contents.
DWORD WriteWholeFile(std::wstring_view path, std::string_view bytes);
// Appends `bytes` at the end of the existing file `path` as an open for writing that shares
// reading would, and closes it again: ERROR_FILE_NOT_FOUND when the file is missing, else the
// statuses of FileHandle::Open. Other processes of the machine wait while the bytes are written
// rather than find the file open.
DWORD AppendToFile(std::wstring_view path, std::string_view bytes);
// AppendToFile again and again to one file (a log), without naming it afresh while it is as the
// last append left it. Between appends the file is not open for the machine (others may open,
// rename or delete it as they like); whatever anyone does to it sends the next append the whole
// way again.
class FileAppender {
 public:
  FileAppender() = default;
  FileAppender(const FileAppender&) = delete;
  FileAppender& operator=(const FileAppender&) = delete;
  ~FileAppender();
  DWORD Append(std::wstring_view path, std::string_view bytes);
  void Close();

 private:
  int fd_ = -1;
  std::wstring path_;
  std::string tablePath_;
  std::uint64_t dev_ = 0, ino_ = 0;
  struct timespec changed_ {};
};

// ---------------------------------------------------------------------------------------------
// Enumeration (FindFirstFileW / FindNextFileW)

struct FindData {
  DWORD attributes = 0;
  FileTime creationTime = 0, lastAccessTime = 0, lastWriteTime = 0;  // UTC
  std::uint64_t size = 0;
  std::wstring fileName;           // long name
  std::wstring alternateFileName;  // 8.3 name; empty (not generated)
  // The file the listing found under the name (its volume and number) and its last change of
  // contents, attributes or access list, in nanoseconds; 0 when not known (a link, "." and
  // "..", a file changed in the last second). Together they tell whether the entry is still the
  // one listed, unchanged.
  std::uint64_t volumeId = 0, fileId = 0, changeStamp = 0;
};

// One enumeration. The entries come in NTFS order (ordinal order of the upper-cased names),
// with "." and ".." first for a folder that is not a drive root, filtered by the DOS wildcard
// rules of the last element of the pattern ('*' and '?', "*.*" matching every name, "*." the
// names without extension, a '?' before a '.' or at the end matching zero characters too).
class FileFinder {
 public:
  FileFinder();
  FileFinder(const FileFinder&) = delete;
  FileFinder& operator=(const FileFinder&) = delete;
  FileFinder(FileFinder&&) noexcept;
  FileFinder& operator=(FileFinder&&) noexcept;
  ~FileFinder();

  // FindFirstFileW: ERROR_SUCCESS and the first entry, ERROR_FILE_NOT_FOUND when nothing
  // matches, ERROR_PATH_NOT_FOUND when the folder is missing.
  // Without `storedAttributes` a scan gives of the attributes only what the host's own status
  // says (folder, link, device): enough to walk a tree and count its sizes.
  DWORD First(std::wstring_view pattern, FindData& data, bool storedAttributes = true);
  // FindNextFileW: ERROR_SUCCESS and the next entry, ERROR_NO_MORE_FILES at the end.
  DWORD Next(FindData& data);
  void Close();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Every entry of a pattern, in enumeration order ("." and ".." included when
// `includeDots`). ERROR_SUCCESS also for an empty result.
DWORD FindAll(std::wstring_view pattern, std::vector<FindData>& entries, bool includeDots = false,
              bool storedAttributes = true);
// Does `name` match the DOS wildcard `pattern` (the rules of FindFirstFileW)?
bool MatchDosPattern(std::wstring_view pattern, std::wstring_view name);

// ---------------------------------------------------------------------------------------------
// Handles (CreateFileW) with Windows share modes enforced across processes

// An open file. Share modes are recorded in a per-machine table of open handles
// (<root>/state/handles), so they hold against other processes on the same machine too;
// entries of processes that have died are dropped.
class FileHandle {
 public:
  FileHandle() = default;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&&) noexcept;
  FileHandle& operator=(FileHandle&&) noexcept;
  ~FileHandle();

  // CreateFileW. `access`: GENERIC_READ | GENERIC_WRITE | DELETE (or 0 for attributes only);
  // `share`: FILE_SHARE_*; `disposition`: CREATE_NEW ... TRUNCATE_EXISTING;
  // `flagsAndAttributes`: FILE_ATTRIBUTE_* for a new file, FILE_FLAG_DELETE_ON_CLOSE.
  // Statuses: ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED (read-only file opened for writing,
  // a folder, CREATE_ALWAYS over a hidden or system file without those attributes),
  // ERROR_FILE_EXISTS (CREATE_NEW), ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
  // ERROR_WRITE_PROTECT (read-only drive). CREATE_ALWAYS and OPEN_ALWAYS over an existing file
  // succeed and leave ERROR_ALREADY_EXISTS as the last error, as Windows does.
  DWORD Open(std::wstring_view path, DWORD access, DWORD share, DWORD disposition,
             DWORD flagsAndAttributes = FILE_ATTRIBUTE_NORMAL);

  bool IsOpen() const { return fd_ >= 0; }
  const std::wstring& Path() const { return path_; }

  // ReadFile: up to `size` bytes; `done` is 0 at the end of the file.
  DWORD Read(void* buffer, std::size_t size, std::size_t& done);
  // WriteFile: all bytes or a failure.
  DWORD Write(const void* buffer, std::size_t size);
  // SetFilePointerEx.
  DWORD Seek(std::int64_t distance, DWORD origin, std::uint64_t* newPosition = nullptr);
  DWORD GetSize(std::uint64_t& size) const;
  DWORD SetEndOfFile();
  DWORD GetTimes(FileTime* creation, FileTime* lastAccess, FileTime* lastWrite) const;
  DWORD SetLastWriteTime(FileTime lastWrite);
  DWORD Flush();
  // CloseHandle. Also done by the destructor.
  DWORD Close();

 private:
  int fd_ = -1;
  std::wstring path_;
  std::string hostPath_;
  DWORD access_ = 0;
  std::uint64_t tableId_ = 0;
  std::string tablePath_;
  bool deleteOnClose_ = false;
  bool archiveMarked_ = false;  // the first write sets FILE_ATTRIBUTE_ARCHIVE, as Windows does
  wchar_t drive_ = 0;           // the drive letter whose room the writes take, or 0
};

// New files written one after another into a few folders, as an extraction does. Each folder
// is resolved, checked and opened once and then kept (the folder, not its name: one renamed
// meanwhile still receives the files, one swapped for a link is never followed); a new file is
// written without a name and appears under its name whole, with its attributes, descriptor and
// time, when Finish() links it. No other process ever sees it half written or open, so it takes
// no part in share modes, and a write given up leaves nothing behind.
//
// Begin() answers ERROR_NOT_SUPPORTED for what it leaves to FileHandle: a name that is not a
// plain file name, a volume that cannot hold unnamed files. ERROR_FILE_EXISTS: the name (in any
// case) is taken.
class NewFileWriter {
 public:
  NewFileWriter();
  NewFileWriter(const NewFileWriter&) = delete;
  NewFileWriter& operator=(const NewFileWriter&) = delete;
  ~NewFileWriter();

  // Starts the file `path`; `attributes` (FILE_ATTRIBUTE_*) are what it is given.
  DWORD Begin(std::wstring_view path, DWORD attributes);
  DWORD Write(const void* buffer, std::size_t size);
  // Gives the file its last-write time (when `lastWrite` is not 0) and its name. Statuses:
  // ERROR_FILE_EXISTS when the name was taken meanwhile, ERROR_NOT_SUPPORTED when the file
  // cannot be named here (the caller writes it again through FileHandle).
  DWORD Finish(FileTime lastWrite);
  // Drops the file begun (also done by Begin and the destructor).
  void Abandon();
  // Closes the folders kept.
  void Reset();

 private:
  struct Folder;
  // The folder kept or opened now, with its status as just read.
  Folder* FolderFor(const std::wstring& folder, DWORD& status, struct ::stat& now);

  std::vector<std::unique_ptr<Folder>> folders_;
  std::uint64_t clock_ = 0;
  int fd_ = -1;
  Folder* folder_ = nullptr;
  std::string name_;  // the new file's host name in its folder
  std::wstring wideName_;
};

// The entries of one folder taken away one after another, as the removal of a tree does. Each
// call answers as SetFileAttributesW or DeleteFileW of the entry's full path would, with the
// same checks and statuses; but the folder is resolved and opened once (without following a
// link, and then kept: one renamed meanwhile is still the folder worked in, one swapped for a
// link is never followed), and whether it lets its entries be deleted is asked again only when
// its own descriptor changes. `name` is an entry's name as the folder's listing gives it; any
// other name, an entry that is not a plain file, and a folder that cannot be kept open go the
// way of the full path.
//
// The attributes given to a plain file are written when the next call comes (or the remover
// goes), and not at all when that call deletes the file: the reset of a read-only file before
// its deletion costs nothing then. A file that anyone changed in between is written first and
// then judged as it is.
class FolderRemover {
 public:
  explicit FolderRemover(std::wstring_view folder);
  FolderRemover(const FolderRemover&) = delete;
  FolderRemover& operator=(const FolderRemover&) = delete;
  ~FolderRemover();

  // `had`: the attributes the caller's listing of the folder has just read for the entry, when
  // it has them (they tell whether anyone else changed them before a held-back write).
  DWORD SetAttributes(std::wstring_view name, DWORD attributes,
                      DWORD had = INVALID_FILE_ATTRIBUTES);
  // `listed`: the caller's listing of the entry, when it has one: while the name still holds the
  // file listed, unchanged since, the attributes it read are the file's.
  DWORD DeleteFile(std::wstring_view name, const FindData* listed = nullptr);

  // What the removal of a tree needs, read from the folder kept open.
  // One entry as the folder's listing names it: a folder, a link (and whether what it leads to
  // is a folder), or anything else.
  struct Entry {
    std::wstring name;
    bool folder = false;
    bool link = false;
  };
  // The entries in NTFS order (upper-cased name), without "." and "..", and without the names
  // Windows could not hold, as FindFirstFileW lists them; no entry's status or attributes are
  // read but a link's (what it leads to) and one the listing does not type. ERROR_PATH_NOT_FOUND
  // when the folder cannot be worked in directly (list it by path then).
  DWORD List(std::vector<Entry>& entries);
  // An entry's read-only attribute reset, as SetFileAttributesW of its full path with the
  // attributes it has less FILE_ATTRIBUTE_READONLY would; a link has none of its own and is
  // left alone.
  DWORD ResetReadOnly(std::wstring_view name);
  // A file of the tree: its read-only attribute reset and the file deleted, with the statuses
  // of DeleteFileW of its full path once the attribute is reset; `size` is its length (0 when
  // there is none). The attributes are read only when the file stays.
  DWORD RemoveFile(std::wstring_view name, std::uint64_t& size);
  // Files of the tree, each removed as RemoveFile would remove it, together: each file's checks
  // in turn, then the deletions side by side while the table of open handles stays locked for
  // all of them. (A file system that trims a file's freed blocks before its unlink returns waits
  // for the disk once for several files instead of once each.) `results` gets each name's status
  // and size, in the order of `names`; any name that is no plain file here goes as RemoveFile
  // takes it, after the others.
  struct Removed {
    DWORD status = ERROR_SUCCESS;
    std::uint64_t size = 0;
  };
  void RemoveFiles(const std::vector<std::wstring_view>& names, std::vector<Removed>& results);

 private:
  // Opens the folder on first use; false when it cannot be worked in directly.
  bool Ready();
  bool Direct(std::wstring_view name, std::string& utf8);
  std::wstring PathOf(std::wstring_view name) const;
  // The Windows path of an entry, below the folder as it resolved.
  std::wstring WindowsPathOf(std::wstring_view name) const;
  // Who may delete the entry: the folder's FILE_DELETE_CHILD, else the entry's own DELETE.
  DWORD MayDelete(const std::string& utf8, std::wstring_view name);
  // The folder's FILE_DELETE_CHILD for the entry `name` (the name the check is told of).
  DWORD MayDeleteChildren(const FileSecurityHooks& hooks, std::wstring_view name);
  // The entry's own DELETE.
  DWORD MayDeleteItself(const FileSecurityHooks& hooks, const std::string& utf8,
                        std::wstring_view name);
  // Writes the attributes held back, if any.
  void WritePending();
  // The checks and the deletion of the plain file `utf8` (status `st`) through the folder.
  DWORD DeleteEntry(const std::string& utf8, std::wstring_view name, const struct ::stat& st,
                    bool ownPending, const FindData* listed);
  // The deletion of the plain file once its attributes allow it: the folder's list, the open
  // handles, the unlink.
  DWORD DeleteChecked(const std::string& utf8, std::wstring_view name, const struct ::stat& st);
  // A plain file that could not be deleted loses its read-only attribute, as the reset before
  // the deletion would have left it.
  void KeepWithoutReadOnly(const std::string& utf8, const struct ::stat& st);

  struct Pending {
    bool held = false;
    std::string name;
    DWORD attributes = 0;  // to be written
    DWORD before = 0;      // what the file had at the call
    std::uint64_t dev = 0, ino = 0;
    std::int64_t changeSec = 0, changeNsec = 0;
  };

  std::wstring folder_;
  std::wstring windowsPath_;
  std::string host_;
  std::string driveRoot_;
  std::size_t limit_ = 260;  // MAX_PATH, or more for a "\\?\" folder
  int fd_ = -1;
  bool tried_ = false;
  bool readOnlyVolume_ = false;
  // The folder's answer to FILE_DELETE_CHILD, valid while its own descriptor reads the same.
  bool childDeleteKnown_ = false;
  std::string ntsd_;
  DWORD childDelete_ = ERROR_ACCESS_DENIED;
  Pending pending_;
};

// Marks a host file as the image of a running program of this process (until the returned
// object goes): the file can then be moved or renamed but not deleted or written, as Windows
// treats the files of running programs.
class ImageLock {
 public:
  ImageLock() = default;
  ImageLock(const ImageLock&) = delete;
  ImageLock& operator=(const ImageLock&) = delete;
  ImageLock(ImageLock&&) noexcept;
  ImageLock& operator=(ImageLock&&) noexcept;
  ~ImageLock();
  DWORD Acquire(std::wstring_view path);
  void Release();

 private:
  std::uint64_t tableId_ = 0;
  std::string tablePath_;
};

// ---------------------------------------------------------------------------------------------
// Volumes and well-known folders

struct VolumeInfo {
  std::wstring volumeName;  // label
  DWORD serialNumber = 0;
  DWORD maxComponentLength = 255;
  DWORD fileSystemFlags = 0;    // FILE_* flags of Machine.h
  std::wstring fileSystemName;  // "NTFS"
};
// GetVolumeInformationW of a root ("C:\", "\\server\share\"). ERROR_PATH_NOT_FOUND /
// ERROR_INVALID_DRIVE for a drive the machine lacks, ERROR_INVALID_NAME for a path that is not a
// root.
DWORD GetVolumeInformationW(std::wstring_view rootPath, VolumeInfo& info);
// GetDiskFreeSpaceExW of any folder: machine.ini's figures when it fixes them, else the host's.
DWORD GetDiskFreeSpaceExW(std::wstring_view path, std::uint64_t* freeToCaller, std::uint64_t* total,
                          std::uint64_t* totalFree);
// GetDriveTypeW ("C:\" or "C:"; DRIVE_NO_ROOT_DIR when absent).
unsigned GetDriveTypeW(std::wstring_view rootPath);
// GetLogicalDrives: bit 0 for A: ... bit 25 for Z:.
DWORD GetLogicalDrives();
// GetLogicalDriveStringsW: "C:\", "Z:\", ...
std::vector<std::wstring> GetLogicalDriveStringsW();

// GetWindowsDirectoryW ("C:\Windows"), GetSystemDirectoryW ("C:\Windows\system32"),
// GetSystemWow64DirectoryW ("C:\Windows\SysWOW64"; ERROR_CALL_NOT_IMPLEMENTED on 32-bit Windows).
std::wstring GetWindowsDirectoryW();
std::wstring GetSystemDirectoryW();
DWORD GetSystemWow64DirectoryW(std::wstring& path);
// GetTempPathW: TMP, TEMP, USERPROFILE of the emulated environment, or the Windows folder; with
// a final backslash.
std::wstring GetTempPathW();
// GetTempFileNameW: "<dir>\<prefix of 3><hex>.tmp"; with `unique` 0 a free number is chosen and
// the file created; returns the name in `path`.
DWORD GetTempFileNameW(std::wstring_view dir, std::wstring_view prefix, unsigned unique,
                       std::wstring& path);

}  // namespace platform
