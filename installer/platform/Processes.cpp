#include "platform/Processes.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/HandleTable.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/Text.h"

extern char** environ;

namespace platform {

namespace {

bool Blank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program name's end: after the closing quote, or at the first blank.
std::size_t ProgramEnd(const std::wstring& line, std::wstring& program) {
  std::size_t i = 0;
  program.clear();
  if (!line.empty() && line[0] == L'"') {
    std::size_t close = line.find(L'"', 1);
    program = line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
    return close == std::wstring::npos ? line.size() : close + 1;
  }
  while (i < line.size() && !Blank(line[i])) program.push_back(line[i++]);
  return i;
}

bool HasExtension(const std::wstring& path) { return !PathFindExtensionW(path).empty(); }

bool IsFile(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool TryProgram(const std::wstring& candidate, std::wstring& path) {
  std::wstring full;
  if (GetFullPathNameW(candidate, full) != ERROR_SUCCESS) return false;
  if (IsFile(full)) {
    path = full;
    return true;
  }
  if (!HasExtension(full) && IsFile(full + L".exe")) {
    path = full + L".exe";
    return true;
  }
  return false;
}

}  // namespace

std::vector<std::wstring> CommandLineToArgvW(const std::wstring& commandLine) {
  std::vector<std::wstring> args;
  if (commandLine.empty()) return args;
  std::wstring program;
  std::size_t i = ProgramEnd(commandLine, program);
  args.push_back(program);
  while (true) {
    while (i < commandLine.size() && Blank(commandLine[i])) ++i;
    if (i >= commandLine.size()) break;
    std::wstring arg;
    bool quoted = false;
    while (i < commandLine.size() && (quoted || !Blank(commandLine[i]))) {
      if (commandLine[i] == L'\\') {
        std::size_t slashes = 0;
        while (i < commandLine.size() && commandLine[i] == L'\\') ++slashes, ++i;
        if (i < commandLine.size() && commandLine[i] == L'"') {
          arg.append(slashes / 2, L'\\');
          if (slashes % 2) {
            arg.push_back(L'"');
            ++i;
          }
        } else {
          arg.append(slashes, L'\\');
        }
        continue;
      }
      if (commandLine[i] == L'"') {
        // Inside quotes, "" is one literal quote.
        if (quoted && i + 1 < commandLine.size() && commandLine[i + 1] == L'"') {
          arg.push_back(L'"');
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg.push_back(commandLine[i++]);
    }
    args.push_back(std::move(arg));
  }
  return args;
}

DWORD FindProgram(const std::wstring& name, std::wstring& path) {
  if (name.empty()) return ERROR_FILE_NOT_FOUND;
  const bool hasFolder =
      name.find(L'\\') != std::wstring::npos || name.find(L':') != std::wstring::npos;
  if (hasFolder) return TryProgram(name, path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  std::vector<std::wstring> folders = {GetCurrentDirectoryW(), GetSystemDirectoryW(),
                                       GetWindowsDirectoryW()};
  std::wstring searchPath;
  if (GetEnvironmentVariableW(L"PATH", searchPath) == ERROR_SUCCESS) {
    std::size_t start = 0;
    while (start <= searchPath.size()) {
      std::size_t end = searchPath.find(L';', start);
      if (end == std::wstring::npos) end = searchPath.size();
      if (end > start) folders.push_back(searchPath.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const auto& folder : folders) {
    std::wstring candidate = folder;
    if (!PathAppendW(candidate, name)) continue;
    if (TryProgram(candidate, path)) return ERROR_SUCCESS;
  }
  return ERROR_FILE_NOT_FOUND;
}

struct StartedProcess {
  pid_t pid = 0;
  bool ended = false;
  DWORD exitCode = STILL_ACTIVE;
};

namespace {

// Reaps the program when it has ended (`block`: waits for it).
bool Reap(StartedProcess& p, bool block) {
  if (p.ended) return true;
  int wstatus = 0;
  while (true) {
    pid_t got = ::waitpid(p.pid, &wstatus, block ? 0 : WNOHANG);
    if (got == 0) return false;
    if (got < 0) {
      if (errno == EINTR) continue;
      p.ended = true;  // reaped elsewhere: nothing more to learn
      p.exitCode = 0;
      return true;
    }
    break;
  }
  p.ended = true;
  p.exitCode = WIFEXITED(wstatus) ? static_cast<DWORD>(WEXITSTATUS(wstatus))
                                  : static_cast<DWORD>(255 + WTERMSIG(wstatus));
  return true;
}

}  // namespace

DWORD CreateProcessW(const std::wstring& commandLine, const std::wstring& currentDirectory,
                     const StartupInfo&, ProcessHandle& process) {
  process.reset();
  std::vector<std::wstring> args = CommandLineToArgvW(commandLine);
  if (args.empty()) return ERROR_FILE_NOT_FOUND;

  // The program's current directory: the one asked for, else the caller's.
  std::wstring directory = GetCurrentDirectoryW();
  if (!currentDirectory.empty()) {
    std::wstring full;
    if (GetFullPathNameW(currentDirectory, full) != ERROR_SUCCESS) return ERROR_DIRECTORY;
    DWORD attributes = GetFileAttributesW(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return ERROR_DIRECTORY;
    directory = full;
  }
  HostLocation folder;
  const bool hostFolder = ResolvePath(directory, folder) == ERROR_SUCCESS && folder.exists;

  std::wstring program;
  DWORD status = FindProgram(args[0], program);
  if (status != ERROR_SUCCESS) return status;
  HostLocation where;
  status = ResolvePath(program, where);
  if (status != ERROR_SUCCESS) return status;
  if (!where.exists) return ERROR_FILE_NOT_FOUND;

  // Only a regular file that the host can run: an ELF image or a script.
  int fd = ::open(where.hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return ERROR_ACCESS_DENIED;
  struct stat st {};
  char magic[4] = {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const ssize_t got = regular ? ::read(fd, magic, sizeof magic) : 0;
  const bool runnable = got >= 2 && ((got == 4 && std::memcmp(magic,
                                                              "\x7f"
                                                              "ELF",
                                                              4) == 0) ||
                                     (magic[0] == '#' && magic[1] == '!'));
  if (runnable && !(st.st_mode & S_IXUSR)) ::fchmod(fd, st.st_mode | S_IXUSR | S_IXGRP | S_IXOTH);
  ::close(fd);
  if (!regular) return ERROR_ACCESS_DENIED;
  if (!runnable) return ERROR_BAD_EXE_FORMAT;

  std::vector<std::string> argv8 = {where.hostPath};
  for (std::size_t i = 1; i < args.size(); ++i) argv8.push_back(ToUtf8(args[i]));
  std::vector<char*> argv;
  for (auto& a : argv8) argv.push_back(a.data());
  argv.push_back(nullptr);

  // The machine, the emulated environment and the current directory go to the program.
  std::vector<std::string> env8;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    if (entry.rfind("TOLMERA_MACHINE=", 0) == 0 || entry.rfind("TOLMERA_ENVIRONMENT=", 0) == 0 ||
        entry.rfind("TOLMERA_CURRENT_DIRECTORY=", 0) == 0)
      continue;
    env8.push_back(std::move(entry));
  }
  env8.push_back("TOLMERA_MACHINE=" + Machine::Current().Root());
  env8.push_back("TOLMERA_ENVIRONMENT=" + SerializeEnvironment());
  env8.push_back("TOLMERA_CURRENT_DIRECTORY=" + ToUtf8(directory));
  std::vector<char*> envp;
  for (auto& e : env8) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (hostFolder) posix_spawn_file_actions_addchdir_np(&actions, folder.hostPath.c_str());
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, where.hostPath.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return rc == ENOEXEC ? ERROR_BAD_EXE_FORMAT : ERROR_ACCESS_DENIED;
  process = std::make_shared<StartedProcess>();
  process->pid = pid;
  return ERROR_SUCCESS;
}

DWORD WaitForSingleObject(const ProcessHandle& process, DWORD milliseconds) {
  if (!process) return WAIT_FAILED;
  if (milliseconds == INFINITE) {
    Reap(*process, true);
    return WAIT_OBJECT_0;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!Reap(*process, false)) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return WAIT_TIMEOUT;
    auto slice =
        std::min<std::chrono::steady_clock::duration>(deadline - now, std::chrono::milliseconds(5));
    std::this_thread::sleep_for(slice);
  }
  return WAIT_OBJECT_0;
}

bool GetExitCodeProcess(const ProcessHandle& process, DWORD& exitCode) {
  if (!process) return false;
  Reap(*process, false);
  exitCode = process->exitCode;
  return true;
}

int GetProcessId(const ProcessHandle& process) { return process ? process->pid : 0; }

std::uint64_t ProcessStartStamp(long pid) { return pid > 0 ? handles::ProcessStartTime(pid) : 0; }

void CloseHandle(ProcessHandle& process) {
  if (process) Reap(*process, false);
  process.reset();
}

std::string HostProgramPath(const std::string& name) {
  std::vector<std::string> folders;
  char self[4096];
  ssize_t got = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (got > 0) {
    std::string exe(self, static_cast<std::size_t>(got));
    folders.push_back(exe.substr(0, exe.rfind('/')));
  }
  if (const char* bin = std::getenv("TOLMERA_BIN_DIR"); bin && *bin) folders.push_back(bin);
  for (const auto& folder : folders) {
    std::string candidate = folder + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

void InstallSystemPrograms(const Machine& machine) {
  struct Program {
    const char* windowsName;
    const char* hostName;
  };
  static const Program kPrograms[] = {{"msiexec.exe", "tlmsiexec"}};
  const std::string drive = machine.DriveHostPath(L'C');
  if (drive.empty()) return;
  for (const auto& p : kPrograms) {
    const std::string host = HostProgramPath(p.hostName);
    if (host.empty() || host.find('\'') != std::string::npos) continue;
    const std::string text = "#!/bin/sh\nexec '" + host + "' \"$@\"\n";
    // Both system folders hold it, as a 32-bit program sees SysWOW64 under System32's name.
    for (const char* folder : {"/Windows/System32/", "/Windows/SysWOW64/"}) {
      const std::string launcher = drive + folder + p.windowsName;
      int fd = ::open(launcher.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0755);
      if (fd < 0) continue;
      const bool written =
          ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
      ::close(fd);
      if (!written) ::unlink(launcher.c_str());
    }
  }
}

DWORD RunProcess(const std::wstring& commandLine, DWORD& exitCode) {
  exitCode = 0;
  ProcessHandle process;
  DWORD status = CreateProcessW(commandLine, L"", StartupInfo{}, process);
  if (status != ERROR_SUCCESS) return status;
  WaitForSingleObject(process, INFINITE);
  GetExitCodeProcess(process, exitCode);
  CloseHandle(process);
  return ERROR_SUCCESS;
}

}  // namespace platform
