#include "platform/HostIo.h"

#include "platform/Win32Errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::hostio {

bool MakeDirs(const std::string& path, unsigned mode) {
  if (path.empty()) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string::size_type pos = 0;
  while (true) {
    pos = path.find('/', pos + 1);
    std::string part = path.substr(0, pos);
    if (!part.empty() && mkdir(part.c_str(), mode) != 0 && errno != EEXIST) return false;
    if (pos == std::string::npos) break;
  }
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

unsigned long ReadRegularFile(const std::string& path, std::string& out, std::size_t maxBytes,
                              std::string* why) {
  auto refuse = [&](unsigned long status, const std::string& reason) {
    if (why) *why = reason;
    return status;
  };
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    return refuse(ErrnoToWin32(err), std::strerror(err));
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    const int err = errno;
    close(fd);
    return refuse(ErrnoToWin32(err), std::strerror(err));
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return S_ISDIR(st.st_mode) ? refuse(ERROR_ACCESS_DENIED, "it is a folder, not a file")
                               : refuse(ERROR_ACCESS_DENIED, "it is not a regular file");
  }
  const std::string tooLarge = "it is larger than " + std::to_string(maxBytes) + " bytes";
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) {
    close(fd);
    return refuse(ERROR_FILE_TOO_LARGE, tooLarge);
  }
  std::string data;
  data.reserve(static_cast<std::size_t>(st.st_size));
  char buf[65536];
  while (true) {
    // One byte past the bound tells a file that grew meanwhile.
    const std::size_t want = std::min(sizeof buf, maxBytes + 1 - data.size());
    ssize_t n = read(fd, buf, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      close(fd);
      return refuse(ErrnoToWin32(err), std::strerror(err));
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
    if (data.size() > maxBytes) {
      close(fd);
      return refuse(ERROR_FILE_TOO_LARGE, tooLarge);
    }
  }
  close(fd);
  out.swap(data);
  return ERROR_SUCCESS;
}

bool ReadFile(const std::string& path, std::string& out, std::string* why) {
  return ReadRegularFile(path, out, kDefaultReadLimit, why) == ERROR_SUCCESS;
}

bool WriteFileAtomic(const std::string& path, std::string_view data) {
  std::string tmp = path + ".tmp." + std::to_string(getpid());
  // A file of our own: a stale one (or a link planted at the name) goes as a name first.
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EEXIST && unlink(tmp.c_str()) == 0)
    fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t off = 0;
  while (off < data.size()) {
    ssize_t n = write(fd, data.data() + off, data.size() - off);
    if (n < 0) {
      if (errno == EINTR) continue;
      close(fd);
      unlink(tmp.c_str());
      return false;
    }
    off += static_cast<std::size_t>(n);
  }
  if (fsync(fd) != 0 || close(fd) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    unlink(tmp.c_str());
    return false;
  }
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool IsEmptyDirectory(const std::string& path) {
  DIR* d = opendir(path.c_str());
  if (!d) return !Exists(path);
  bool empty = true;
  while (dirent* e = readdir(d)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  closedir(d);
  return empty;
}

namespace {
int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }
}  // namespace

bool RemoveTree(const std::string& path) {
  if (!Exists(path)) return true;
  return nftw(path.c_str(), RemoveEntry, 32, FTW_DEPTH | FTW_PHYS) == 0;
}

std::string MakeTempDir(const std::string& prefix) {
  std::string templ = "/tmp/" + prefix + "XXXXXX";
  std::string buf = templ;
  if (!mkdtemp(buf.data())) return std::string();
  return buf;
}

unsigned long ErrnoToWin32(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY: return ERROR_BUSY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EIO: return ERROR_GEN_FAILURE;
    default: return ERROR_GEN_FAILURE;
  }
}

}  // namespace platform::hostio
