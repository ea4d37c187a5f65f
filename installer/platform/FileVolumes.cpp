// Volumes and well-known folders: volume information, free space, drive types, the Windows,
// system and temporary folders, temporary file names.
#include "platform/FilesInternal.h"

#include "platform/HandleTable.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <algorithm>
#include <cctype>
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

// The room of drives whose free space machine.ini fixes: what this process has added to the
// files of each, by machine and drive letter.
namespace {

struct SpaceLedger {
  std::mutex mutex;
  std::map<std::string, std::uint64_t> taken;
};
SpaceLedger& Ledger() {
  static auto* ledger = new SpaceLedger;  // lives as long as the process (writes at exit)
  return *ledger;
}

}  // namespace

namespace files_detail {

DWORD WriteAllOnDrive(int fd, const void* data, std::size_t size, wchar_t letter) {
  if (letter == 0 || size == 0) return WriteAll(fd, data, size);
  std::uint64_t room = 0;
  std::string key;
  try {
    const Machine& machine = Machine::Current();
    const DriveConfig* d = machine.Config().Drive(letter);
    if (!d || !d->freeBytes) return WriteAll(fd, data, size);
    room = *d->freeBytes;
    key = machine.Root() + '|' + static_cast<char>(std::toupper(static_cast<int>(letter)));
  } catch (const MachineError&) {
    return WriteAll(fd, data, size);
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return WriteAll(fd, data, size);
  const int flags = fcntl(fd, F_GETFL);
  const off_t at = (flags >= 0 && (flags & O_APPEND)) ? st.st_size : lseek(fd, 0, SEEK_CUR);
  if (at < 0) return WriteAll(fd, data, size);
  const auto end = static_cast<std::uint64_t>(st.st_size);
  const auto from = static_cast<std::uint64_t>(at);
  // Only what lies beyond the file's present end takes room.
  const std::uint64_t wanted = from + size > end ? from + size - end : 0;
  std::size_t part = size;
  {
    SpaceLedger& ledger = Ledger();
    std::lock_guard<std::mutex> lock(ledger.mutex);
    std::uint64_t& taken = ledger.taken[key];
    const std::uint64_t left = room > taken ? room - taken : 0;
    if (wanted > left) {
      // As far as the room goes, then the disk is full.
      const std::uint64_t limit = end + left;
      part = limit > from ? static_cast<std::size_t>(limit - from) : 0;
      taken += from + part > end ? from + part - end : 0;
    } else {
      taken += wanted;
    }
  }
  if (DWORD rc = WriteAll(fd, data, part)) return rc;
  return part == size ? ERROR_SUCCESS : ERROR_DISK_FULL;
}

}  // namespace files_detail

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
