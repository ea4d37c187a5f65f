#include "PrivateDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace morlane {

std::string EnsureDisplay() {
  const char* d = std::getenv("DISPLAY");
  if (d && *d) return {};
  const char* server = "/usr/bin/Xvfb";
  if (access(server, X_OK) != 0)
    return "render needs an X display: DISPLAY is not set and " + std::string(server) +
           " is not installed";
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return "cannot start Xvfb: " + std::string(strerror(errno));
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    const int error = errno;
    close(fds[0]);
    close(fds[1]);
    return "cannot start Xvfb: " + std::string(strerror(error));
  }
  if (pid == 0) {
    // The child: ends with this process; the write end as descriptor 3 for -displayfd,
    // nothing else inherited. When the write end is descriptor 3 already (a standard stream
    // was closed), dup2 leaves its close-on-exec set: it is cleared here instead.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    if (fds[1] == 3) {
      if (fcntl(3, F_SETFD, 0) != 0) _exit(127);
    } else if (dup2(fds[1], 3) != 3) {
      _exit(127);
    }
    // The standard streams on /dev/null; one that was closed here gets it as it is (dup2 onto
    // itself would leave it closed at exec).
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    for (int k = 0; null >= 0 && k <= 2; ++k) {
      if (null == k)
        fcntl(k, F_SETFD, 0);
      else
        dup2(null, k);
    }
    execl(server, "Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (number.size() < 16 && poll(&p, 1, 20000) > 0) {
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return "Xvfb did not start";
  }
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return {};
}

}  // namespace morlane
