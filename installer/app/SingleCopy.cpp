#include "app/SingleCopy.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

namespace InstallManager {

namespace {
std::atomic<bool> g_raiseRequested{false};

void OnRaiseSignal(int) { g_raiseRequested.store(true); }
}  // namespace

SingleCopyGuard::SingleCopyGuard(const std::string& stateDir)
    : m_lockPath(stateDir + "/TOLMERAInstall.lock") {
  // The handler first: a second copy may signal as soon as the lock is held.
  struct sigaction sa {};
  sa.sa_handler = OnRaiseSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGUSR1, &sa, nullptr);

  // Never through a link planted at the lock's name.
  int fd = ::open(m_lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    char buf[32] = {};
    ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n > 0) m_firstPid = std::strtol(buf, nullptr, 10);
    ::close(fd);
    m_first = false;
    return;
  }
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
    // The lock itself is what counts; the id only serves the raise request.
  }
  m_fd = fd;
}

SingleCopyGuard::~SingleCopyGuard() {
  if (m_fd >= 0) {
    if (::ftruncate(m_fd, 0) != 0) {}
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
  }
}

bool SingleCopyGuard::NotifyFirst() const {
  if (IsFirst() || m_firstPid <= 0) return false;
  return ::kill(static_cast<pid_t>(m_firstPid), SIGUSR1) == 0;
}

bool SingleCopyGuard::TakeRaiseRequest() { return g_raiseRequested.exchange(false); }

}  // namespace InstallManager
