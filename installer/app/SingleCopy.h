// One Setup per machine. The first copy holds a lock in the machine's state folder and keeps
// its process id there; a second copy finds the lock taken, asks the first to bring its window
// forward (a signal that the first copy's window answers) and ends without a word.
#pragma once

#include <string>

namespace InstallManager {

class SingleCopyGuard {
 public:
  // Takes the lock in `stateDir` (a host folder). Afterwards IsFirst() tells the outcome.
  explicit SingleCopyGuard(const std::string& stateDir);
  ~SingleCopyGuard();
  SingleCopyGuard(const SingleCopyGuard&) = delete;
  SingleCopyGuard& operator=(const SingleCopyGuard&) = delete;

  // True also when the lock cannot be made at all (a run is never refused for that).
  bool IsFirst() const { return m_first; }
  // For a second copy: asks the first one to come forward. False when it cannot be reached.
  bool NotifyFirst() const;
  // For the first copy: whether a second copy asked since the last call.
  static bool TakeRaiseRequest();

 private:
  std::string m_lockPath;
  int m_fd = -1;
  bool m_first = true;
  long m_firstPid = 0;
};

}  // namespace InstallManager
