#include "app/SingleCopy.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
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

  auto fail = [this](const std::string& why) {
    m_error = "the single-copy lock " + m_lockPath + " cannot be taken (" + why + ")";
  };
  // Never through a link planted at the lock's name, never waiting on a pipe put there.
  int fd = ::open(m_lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) {
    fail(errno == ELOOP ? "it is a link" : std::strerror(errno));
    return;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    fail("it is not a file");
    return;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int error = errno;
    if (error != EWOULDBLOCK) {
      ::close(fd);
      fail(std::strerror(error));
      return;
    }
    char buf[32] = {};
    ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    if (n > 0) m_firstPid = std::strtol(buf, nullptr, 10);
    ::close(fd);
    return;
  }
  m_first = true;
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
