// Starts the Setup program as a process of its own, for the tests that run it end to end.
#pragma once

#include "package/tests/TestArchive.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace setuptest {

// The C form of a list of strings, null-ended, for posix_spawn (argv, envp): the pointers lead
// into `strings`, which must outlive it.
inline std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

inline std::string BinDir() {
  if (const char* d = std::getenv("TOLMERA_BIN_DIR")) return d;
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// Setup started with args and exactly the environment env, its error output into errPath: its
// process id, 0 when it could not be started.
inline pid_t SpawnSetup(const std::vector<std::string>& args, std::vector<std::string> env,
                        const std::string& errPath) {
  std::vector<char*> envp = CStrings(env);
  std::string program = BinDir() + "/Setup";
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv = CStrings(all);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = 0;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

inline std::string SourceDir() {
  if (const char* d = std::getenv("TOLMERA_SOURCE_DIR")) return d;
  return std::filesystem::path(__FILE__)
      .parent_path()
      .parent_path()
      .parent_path()
      .parent_path()
      .string();
}

// tlmachine run on the machine at `root` with `args` (a shell command line); what it wrote,
// its errors included.
inline std::string Tlmachine(const std::string& root, const std::string& args) {
  std::string command =
      "TOLMERA_MACHINE='" + root + "' '" + BinDir() + "/tlmachine' " + args + " 2>&1";
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
  }
  return out;
}

struct Outcome {
  int exitCode = -1;
  std::string stderrText;
};

// Runs Setup with the machine and answer file in its environment; stderr is caught in a file.
// The display is passed on only when `display` names one (a run with real windows).
inline Outcome RunSetup(const std::string& machineRoot, const std::string& answers,
                        const std::vector<std::string>& args, const std::string& display = "") {
  std::string errPath = machineRoot + ".stderr";
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string v = *e;
    if (v.rfind("TOLMERA_MACHINE=", 0) == 0 || v.rfind("TOLMERA_ANSWERS=", 0) == 0 ||
        v.rfind("TOLMERA_ENVIRONMENT=", 0) == 0 || v.rfind("TOLMERA_CURRENT_DIRECTORY=", 0) == 0 ||
        v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0)
      continue;
    env.push_back(v);
  }
  env.push_back("TOLMERA_MACHINE=" + machineRoot);
  env.push_back("TOLMERA_ANSWERS=" + answers);
  if (!display.empty()) env.push_back("DISPLAY=" + display);
  Outcome out;
  const pid_t pid = SpawnSetup(args, env, errPath);
  if (pid == 0) return out;
  int status = 0;
  // A run never waits for anyone: give it a generous minute, then stop it.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "Setup did not end";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  out.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  out.stderrText = tltest::ReadHostFile(errPath);
  return out;
}

// Setup started as a person starts it: no answer file, its windows on `display`. It is ended
// (killed) when the object goes and it has not ended by itself.
class PersonsSetup {
 public:
  PersonsSetup(const std::string& machineRoot, const std::vector<std::string>& args,
               const std::string& display)
      : m_errPath(machineRoot + ".stderr") {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string v = *e;
      if (v.rfind("TOLMERA_", 0) == 0 || v.rfind("DISPLAY=", 0) == 0 ||
          v.rfind("WAYLAND_DISPLAY=", 0) == 0 || v.rfind("GDK_BACKEND=", 0) == 0)
        continue;
      env.push_back(v);
    }
    env.push_back("TOLMERA_MACHINE=" + machineRoot);
    env.push_back("DISPLAY=" + display);
    env.push_back("GDK_BACKEND=x11");
    m_pid = SpawnSetup(args, env, m_errPath);
  }
  ~PersonsSetup() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  bool Started() const { return m_pid > 0; }
  bool Running() {
    if (m_pid <= 0) return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == 0) return true;
    m_status = status;
    m_pid = 0;
    return false;
  }
  // Waits at most `seconds` for the end; its outcome, or exit code -1 when it was stopped.
  Outcome Wait(int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (Running()) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = 0;
        m_status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Outcome out;
    out.exitCode = m_status >= 0 && WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    out.stderrText = tltest::ReadHostFile(m_errPath);
    return out;
  }

 private:
  std::string m_errPath;
  pid_t m_pid = 0;
  int m_status = -1;
};

// The wizard's pages in the order a run showed them, each with the button that left it
// ("DLG_LICENSE -> Next"), read from the run log's "Page <name> -> <button>" lines.
inline std::vector<std::string> PagesShown(const std::string& log) {
  static const std::string kMark = "INFO : Page ";
  std::vector<std::string> pages;
  for (std::size_t at = log.find(kMark); at != std::string::npos; at = log.find(kMark, at)) {
    at += kMark.size();
    std::size_t end = log.find("\r\n", at);
    if (end == std::string::npos) break;
    pages.push_back(log.substr(at, end - at));
  }
  return pages;
}

}  // namespace setuptest
