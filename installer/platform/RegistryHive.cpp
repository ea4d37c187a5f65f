#include "platform/RegistryHive.h"

#include "platform/FilesInternal.h"
#include "platform/System.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Text.h"

namespace platform::reg {

namespace {

bool ReadAll(int fd, std::string& bytes) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return false;
  bytes.clear();
  bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buf[1 << 16];
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  return true;
}

void MakeDirs(const std::string& path) {
  std::string partial;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (!partial.empty()) ::mkdir(partial.c_str(), 0777);
  }
}

std::string DirOf(const std::string& file) {
  auto slash = file.rfind('/');
  return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

// This process's id (every registry call checks it, to tell a batch of the parent from its own).
pid_t ThisProcess() { return static_cast<pid_t>(GetCurrentProcessId()); }

}  // namespace

// The batch of one thread: its depth and the hives it holds, each with its store kept alive.
struct BatchState {
  pid_t pid = 0;
  int depth = 0;
  std::vector<std::pair<std::shared_ptr<Store>, Hive*>> hives;
};
thread_local BatchState tBatchState;

// The calling thread's batch; a forked child starts without its parent's.
BatchState& Batch() {
  if (tBatchState.pid != ThisProcess()) {
    tBatchState.hives.clear();
    tBatchState.depth = 0;
    tBatchState.pid = ThisProcess();
  }
  return tBatchState;
}

std::uint64_t Hive::NewStamp() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}

Hive::Hive(std::string file, std::wstring rootPath, std::string requiredIf, Store* owner)
    : file_(std::move(file)),
      rootPath_(std::move(rootPath)),
      requiredIf_(std::move(requiredIf)),
      owner_(owner),
      tree_(std::make_unique<Key>()) {}

void Hive::ForgetInheritedBatch() {
  if (!batched_ || batchPid_ == ThisProcess()) return;
  batched_ = false;
  dirty_ = false;
  loaded_ = false;
}

DWORD Hive::BeginWriteLocked() {
  ForgetInheritedBatch();
  if (batched_) return ERROR_SUCCESS;
  DWORD status = LockFile();
  if (status != ERROR_SUCCESS) return status;
  status = RefreshLocked();
  if (status != ERROR_SUCCESS) return status;
  BatchState& batch = Batch();
  if (batch.depth > 0 && owner_) {
    std::shared_ptr<Store> store;
    try {
      store = owner_->shared_from_this();
    } catch (const std::bad_weak_ptr&) {
      return ERROR_SUCCESS;  // a store not held by a shared pointer writes at once
    }
    batch.hives.emplace_back(std::move(store), this);
    batched_ = true;
    batchPid_ = ThisProcess();
    dirty_ = false;
  }
  return ERROR_SUCCESS;
}

DWORD Hive::EndBatch() {
  std::lock_guard<std::mutex> lock(mutex_);
  ForgetInheritedBatch();
  if (!batched_) return ERROR_SUCCESS;
  DWORD status = dirty_ ? SaveLocked() : ERROR_SUCCESS;
  batched_ = false;
  dirty_ = false;
  UnlockFile();
  return status;
}

void BeginBatch() { ++Batch().depth; }

DWORD EndBatchScope() {
  BatchState& batch = Batch();
  if (batch.depth <= 0) return ERROR_SUCCESS;
  if (--batch.depth > 0) return ERROR_SUCCESS;
  DWORD first = ERROR_SUCCESS;
  auto hives = std::move(batch.hives);
  batch.hives.clear();
  for (auto& entry : hives) {
    DWORD status = entry.second->EndBatch();
    if (first == ERROR_SUCCESS) first = status;
  }
  return first;
}

Hive::~Hive() {
  if (heldFd_ >= 0) ::close(heldFd_);
  if (lockFd_ >= 0) ::close(lockFd_);
}

bool Hive::Exists() const {
  struct stat st {};
  return ::stat(file_.c_str(), &st) == 0;
}

DWORD Hive::Status(std::wstring* errorText) {
  std::lock_guard<std::mutex> lock(mutex_);
  DWORD status = RefreshLocked();
  if (errorText) *errorText = status == ERROR_SUCCESS ? std::wstring() : corruptText_;
  return status;
}

DWORD Hive::RefreshLocked() {
  struct stat st {};
  if (::stat(file_.c_str(), &st) != 0) {
    if (errno != ENOENT) return ERROR_REGISTRY_IO_FAILED;
    // A hive that was there (loaded by this process, or the machine hive of a registry that
    // holds user hives) and is gone now is damage, never an empty hive.
    struct stat req {};
    const bool required =
        haveFile_ || (!requiredIf_.empty() && ::stat(requiredIf_.c_str(), &req) == 0);
    if (required) {
      corrupt_ = ERROR_REGISTRY_CORRUPT;
      corruptText_ = FromUtf8(file_, Surrogates::Keep) + L": the hive file is missing";
      ReplaceTree(std::make_unique<Key>());
      if (heldFd_ >= 0) ::close(heldFd_);
      heldFd_ = -1;
      loaded_ = true;
      return corrupt_;
    }
    if (!loaded_ || haveFile_ || corrupt_ != ERROR_SUCCESS) {
      ReplaceTree(std::make_unique<Key>());
      if (heldFd_ >= 0) ::close(heldFd_);
      heldFd_ = -1;
      haveFile_ = false;
      corrupt_ = ERROR_SUCCESS;
      corruptText_.clear();
      loaded_ = true;
    }
    return ERROR_SUCCESS;
  }
  if (loaded_ && haveFile_ && st.st_ino == heldIno_ && st.st_dev == heldDev_ &&
      st.st_size == heldSize_ && st.st_mtim.tv_sec == heldMtime_.tv_sec &&
      st.st_mtim.tv_nsec == heldMtime_.tv_nsec)
    return corrupt_;

  int fd = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0)
    return errno == ENOENT ? (loaded_ = false, RefreshLocked()) : ERROR_REGISTRY_IO_FAILED;
  struct stat fst {};
  std::string bytes;
  if (fstat(fd, &fst) != 0 || !ReadAll(fd, bytes)) {
    ::close(fd);
    return ERROR_REGISTRY_IO_FAILED;
  }
  if (heldFd_ >= 0) ::close(heldFd_);
  heldFd_ = fd;
  heldDev_ = fst.st_dev;
  heldIno_ = fst.st_ino;
  heldSize_ = fst.st_size;
  heldMtime_ = fst.st_mtim;
  haveFile_ = true;
  loaded_ = true;

  ParseError error;
  std::unique_ptr<Key> tree = ParseHive(bytes, rootPath_, &error, /*keepValueLines=*/true);
  if (!tree) {
    corrupt_ = ERROR_REGISTRY_CORRUPT;
    corruptText_ = FromUtf8(file_, Surrogates::Keep) + L", line " + std::to_wstring(error.line) +
                   L": " + error.message;
    ReplaceTree(std::make_unique<Key>());
    KeepCorruptCopy(bytes);
    return corrupt_;
  }
  corrupt_ = ERROR_SUCCESS;
  corruptText_.clear();
  ReplaceTree(std::move(tree));
  return ERROR_SUCCESS;
}

void Hive::KeepCorruptCopy(const std::string& bytes) {
  // One copy per distinct broken content: "<file>.corrupt-1", "-2", ...
  for (int n = 1; n < 1000; ++n) {
    std::string copy = file_ + ".corrupt-" + std::to_string(n);
    int fd = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
      std::string existing;
      bool same = ReadAll(fd, existing) && existing == bytes;
      ::close(fd);
      if (same) return;
      continue;
    }
    fd = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return;
    }
    files_detail::WriteAll(fd, bytes.data(), bytes.size());
    ::close(fd);
    return;
  }
}

DWORD Hive::LockFile() {
  if (lockFd_ >= 0 && lockPid_ != ThisProcess()) {
    ::close(lockFd_);
    lockFd_ = -1;
  }
  if (lockFd_ < 0) {
    lockPid_ = ThisProcess();
    MakeDirs(DirOf(file_));
    // Never through a link planted at the lock's name (such a lock is refused).
    lockFd_ = ::open((file_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (lockFd_ < 0) return ERROR_REGISTRY_IO_FAILED;
  }
  while (::flock(lockFd_, LOCK_EX) != 0) {
    if (errno != EINTR) return ERROR_REGISTRY_IO_FAILED;
  }
  return ERROR_SUCCESS;
}

void Hive::UnlockFile() {
  if (lockFd_ >= 0) ::flock(lockFd_, LOCK_UN);
}

DWORD Hive::SaveLocked() {
  // Only the holder of the file lock writes, so one temporary name serves; a temporary file left
  // by a writer that was killed is simply replaced.
  std::string& bytes = saveBuffer_;
  WriteHive(*tree_, rootPath_, true, bytes, /*keepValueLines=*/true);
  std::string tmp = file_ + ".tmp";
  // A new file of our own: whatever is at the name (a stale temporary file, or a link planted
  // there) is removed as a name, never written through. The folder is made when it is missing.
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(tmp.c_str(), flags, 0666);
  if (fd < 0 && errno == ENOENT) {
    MakeDirs(DirOf(file_));
    fd = ::open(tmp.c_str(), flags, 0666);
  }
  if (fd < 0 && errno == EEXIST && ::unlink(tmp.c_str()) == 0)
    fd = ::open(tmp.c_str(), flags, 0666);
  bool ok = fd >= 0 && files_detail::WriteAll(fd, bytes.data(), bytes.size()) == ERROR_SUCCESS;
  // A hive that shrank much gives back the room of its text.
  if (bytes.capacity() > 2 * bytes.size() + (1u << 20)) std::string().swap(bytes);
  struct stat st {};
  ok = ok && fstat(fd, &st) == 0 && ::rename(tmp.c_str(), file_.c_str()) == 0;
  if (!ok) {
    if (fd >= 0) ::close(fd);
    ::unlink(tmp.c_str());
    loaded_ = false;  // the next call reloads what is on disk; the change is dropped
    haveFile_ = false;
    return ERROR_REGISTRY_IO_FAILED;
  }
  NoteMachineChange();
  // The written file is the loaded version now; keep it open to pin its inode.
  if (heldFd_ >= 0) ::close(heldFd_);
  heldFd_ = fd;
  heldDev_ = st.st_dev;
  heldIno_ = st.st_ino;
  heldSize_ = st.st_size;
  heldMtime_ = st.st_mtim;
  haveFile_ = true;
  loaded_ = true;
  return ERROR_SUCCESS;
}

// ---------------------------------------------------------------------------------------------

Store::Store(std::string root) : root_(std::move(root)) {}

Hive& Store::Machine() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!machine_)
    machine_ = std::make_unique<Hive>(RegistryDir() + "/HKLM.reg", L"HKEY_LOCAL_MACHINE",
                                      RegistryDir() + "/HKU", this);
  return *machine_;
}

Hive& Store::User(const std::wstring& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Nearly every call names the same hive (the current user's) as the one before.
  if (lastUser_ && name == lastUserName_) return *lastUser_;
  auto& slot = users_[Fold(name)];
  if (!slot) {
    // The file keeps the name as first used; look for an existing file of any case first.
    std::wstring fileName = name;
    if (DIR* dir = ::opendir((RegistryDir() + "/HKU").c_str())) {
      while (dirent* e = ::readdir(dir)) {
        std::string entry = e->d_name;
        if (entry.size() > 4 && entry.compare(entry.size() - 4, 4, ".reg") == 0) {
          std::wstring stem = FromUtf8(entry.substr(0, entry.size() - 4), Surrogates::Keep);
          if (Fold(stem) == Fold(name)) fileName = stem;
        }
      }
      ::closedir(dir);
    }
    slot = std::make_unique<Hive>(
        RegistryDir() + "/HKU/" + ToUtf8(fileName, Surrogates::Keep) + ".reg",
        L"HKEY_USERS\\" + fileName, std::string(), this);
  }
  lastUserName_ = name;
  lastUser_ = slot.get();
  return *slot;
}

std::vector<std::wstring> Store::UserHiveNames() const {
  std::vector<std::wstring> names;
  if (DIR* dir = ::opendir((RegistryDir() + "/HKU").c_str())) {
    while (dirent* e = ::readdir(dir)) {
      std::string entry = e->d_name;
      if (entry.size() > 4 && entry[0] != '.' && entry.compare(entry.size() - 4, 4, ".reg") == 0)
        names.push_back(FromUtf8(entry.substr(0, entry.size() - 4), Surrogates::Keep));
      else if (entry == ".DEFAULT.reg")
        names.push_back(L".DEFAULT");
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end(),
            [](const std::wstring& a, const std::wstring& b) { return Fold(a) < Fold(b); });
  return names;
}

std::vector<Hive*> Store::ExistingHives() {
  std::vector<Hive*> hives;
  Hive& machine = Machine();
  if (machine.Exists()) hives.push_back(&machine);
  for (const auto& name : UserHiveNames()) hives.push_back(&User(name));
  return hives;
}

namespace {
std::mutex gStoresMutex;
std::atomic<std::uint64_t> gResets{0};
std::map<std::string, std::shared_ptr<Store>>& Stores() {
  static auto* stores = new std::map<std::string, std::shared_ptr<Store>>();
  return *stores;
}
}  // namespace

std::shared_ptr<Store> Store::For(const std::string& root) {
  std::lock_guard<std::mutex> lock(gStoresMutex);
  auto& slot = Stores()[root];
  if (!slot) slot = std::make_shared<Store>(root);
  return slot;
}

void Store::ResetAll() {
  std::lock_guard<std::mutex> lock(gStoresMutex);
  Stores().clear();
  ++gResets;
}

std::uint64_t Store::Resets() { return gResets.load(std::memory_order_acquire); }

}  // namespace platform::reg
