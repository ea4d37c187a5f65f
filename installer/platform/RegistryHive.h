// One hive file of the emulated registry and the set of hives of a machine root (internal to
// the registry service; see Registry.h for the file layout and the rules).
#pragma once

#include <sys/types.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/RegistryTree.h"

namespace platform {
struct MachineConfig;
}

namespace platform::reg {

// The contents of a fresh machine's hives (RegistryDefaults.cpp). `user` is the profile name of
// the hive's user; empty for .DEFAULT and the system account.
void FillMachineHive(Key& root, const MachineConfig& config);
void FillUserHive(Key& root, const MachineConfig& config, const std::wstring& user);

class Store;

// What a write may change: keys and their descriptors (anything), or only values.
enum class Touches { Keys, ValuesOnly };

class Hive {
 public:
  // `requiredIf`: when that path exists, a missing file is a damaged hive, not an empty one.
  // `owner` is the store that holds the hive (a batch keeps it alive while it holds the hive).
  Hive(std::string file, std::wstring rootPath, std::string requiredIf = {},
       Store* owner = nullptr);
  ~Hive();
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  const std::string& File() const { return file_; }
  const std::wstring& RootPath() const { return rootPath_; }

  // Runs `f(const Key& root)` on the current contents (reloaded first when the file changed;
  // inside a batch that holds the hive, the batch's contents as they stand).
  template <class F>
  DWORD Read(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    ForgetInheritedBatch();
    DWORD status = batched_ ? corrupt_ : RefreshLocked();
    if (status != ERROR_SUCCESS) return status;
    return f(static_cast<const Key&>(*tree_));
  }

  // Runs `f(Key& root, bool& changed)` under the hive's file lock on the newest contents, and
  // writes the hive when `f` succeeded and set `changed`. Inside a batch of this thread the
  // first write takes the lock and loads the hive, and the lock stays held; the changes are
  // written once, when the batch ends.
  // `touches` says what `f` may change; ValuesOnly keeps the stamp.
  template <class F>
  DWORD Write(F&& f, Touches touches = Touches::Keys) {
    std::lock_guard<std::mutex> lock(mutex_);
    DWORD status = BeginWriteLocked();
    if (status == ERROR_SUCCESS) {
      bool changed = false;
      status = f(*tree_, changed);
      // A write that changed nothing (it says so when it succeeds) keeps the stamp too.
      if (touches == Touches::Keys && (changed || status != ERROR_SUCCESS)) stamp_ = NewStamp();
      if (status == ERROR_SUCCESS && changed) {
        if (batched_)
          dirty_ = true;
        else
          status = SaveLocked();
      }
    }
    if (!batched_) UnlockFile();
    return status;
  }

  // Ends this hive's part in a batch: writes what the batch changed (one atomic save) and lets
  // the file lock go. Called by the batch.
  DWORD EndBatch();

  // A number of this process that changes whenever the keys or their descriptors may have
  // changed (a load, a write other than of values); never the same for two versions of any hive.
  // Read it under the hive's lock, from inside Read or Write.
  std::uint64_t Stamp() const { return stamp_; }

  // Whether the file exists on disk now.
  bool Exists() const;
  // ERROR_SUCCESS, or ERROR_REGISTRY_CORRUPT with the text naming the line.
  DWORD Status(std::wstring* errorText);

 private:
  DWORD RefreshLocked();
  DWORD SaveLocked();
  // Takes the file lock and loads the newest contents, unless a batch holds them already; joins
  // the thread's batch when there is one.
  DWORD BeginWriteLocked();
  // In a forked child, the parent's batch is not the child's: its contents are loaded afresh.
  void ForgetInheritedBatch();
  DWORD LockFile();
  void UnlockFile();
  void KeepCorruptCopy(const std::string& bytes);
  void ReplaceTree(std::unique_ptr<Key> tree) {
    tree_ = std::move(tree);
    stamp_ = NewStamp();
  }
  static std::uint64_t NewStamp();

  std::string file_;
  std::wstring rootPath_;
  std::string requiredIf_;
  Store* owner_ = nullptr;
  std::mutex mutex_;
  bool batched_ = false;  // a batch holds the file lock and the loaded contents
  bool dirty_ = false;    // the batch changed the contents
  pid_t batchPid_ = 0;    // the process whose batch holds the hive
  std::unique_ptr<Key> tree_;
  std::uint64_t stamp_ = NewStamp();
  std::string saveBuffer_;  // the text of the last save, its room reused by the next
  int heldFd_ = -1;         // the loaded file stays open, so its inode cannot be reused
  dev_t heldDev_ = 0;
  ino_t heldIno_ = 0;
  off_t heldSize_ = 0;  // with the time, catches a file edited in place by hand
  struct timespec heldMtime_ {};
  bool loaded_ = false;  // tree_ reflects the file (or its absence)
  bool haveFile_ = false;
  DWORD corrupt_ = ERROR_SUCCESS;
  std::wstring corruptText_;
  int lockFd_ = -1;
  pid_t lockPid_ = 0;  // a forked child opens its own lock (flock locks belong to the open file)
};

// The hives of one machine root.
class Store : public std::enable_shared_from_this<Store> {
 public:
  explicit Store(std::string root);
  const std::string& Root() const { return root_; }
  std::string RegistryDir() const { return root_ + "/registry"; }
  Hive& Machine();
  // HKEY_USERS\<name>; the name is checked by the caller.
  Hive& User(const std::wstring& name);
  // Names of the user hives present on disk.
  std::vector<std::wstring> UserHiveNames() const;
  // Every hive whose file exists (HKLM first).
  std::vector<Hive*> ExistingHives();

  // The store of a machine root (one per root and process).
  static std::shared_ptr<Store> For(const std::string& root);
  static void ResetAll();
  // How many times ResetAll ran (a store kept by a caller is stale once it changed).
  static std::uint64_t Resets();

  // Whether the registry folder was checked (and filled when missing) by this process.
  std::atomic<bool> freshChecked{false};

 private:
  std::string root_;
  std::mutex mutex_;
  std::unique_ptr<Hive> machine_;
  std::map<std::wstring, std::unique_ptr<Hive>> users_;
  std::wstring lastUserName_;  // the name last asked for, as it was spelled, and its hive
  Hive* lastUser_ = nullptr;
};

// The batch of the calling thread (see RegistryBatch in Registry.h): nested scopes count, the
// outermost one ends it.
void BeginBatch();
// Ends one scope; the outermost writes every hive the batch changed and returns the first
// failure (ERROR_SUCCESS for an inner scope).
DWORD EndBatchScope();

}  // namespace platform::reg
