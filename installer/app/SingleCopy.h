// One Setup per machine. The first copy holds a lock in the machine's state folder and keeps
// its process id there; a second copy finds the lock taken, asks the first to bring its window
// forward (a signal that the first copy's window answers) and ends without a word. A lock that
// cannot be taken at all (its path is a folder, a link or anything but a file) fails closed:
// no copy runs then, since two runs would share one log and one record.
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

  // True only when this copy holds the lock.
  bool IsFirst() const { return m_first; }
  // True when the lock could not be taken at all; Error() says why.
  bool Failed() const { return !m_error.empty(); }
  const std::string& Error() const { return m_error; }
  // For a second copy: asks the first one to come forward. False when it cannot be reached.
  bool NotifyFirst() const;
  // For the first copy: whether a second copy asked since the last call.
  static bool TakeRaiseRequest();

 private:
  std::string m_lockPath;
  int m_fd = -1;
  bool m_first = false;
  long m_firstPid = 0;
  std::string m_error;
};

}  // namespace InstallManager
