#include "platform/Processes.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/Environment.h"
#include "platform/Files.h"
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

DWORD RunProcess(const std::wstring& commandLine, DWORD& exitCode) {
  exitCode = 0;
  std::vector<std::wstring> args = CommandLineToArgvW(commandLine);
  if (args.empty()) return ERROR_FILE_NOT_FOUND;
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
  env8.push_back("TOLMERA_CURRENT_DIRECTORY=" + ToUtf8(GetCurrentDirectoryW()));
  std::vector<char*> envp;
  for (auto& e : env8) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, where.hostPath.c_str(), nullptr, nullptr, argv.data(), envp.data());
  if (rc != 0) return rc == ENOEXEC ? ERROR_BAD_EXE_FORMAT : ERROR_ACCESS_DENIED;
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) return ERROR_INVALID_HANDLE;
  }
  exitCode = WIFEXITED(wstatus) ? static_cast<DWORD>(WEXITSTATUS(wstatus))
                                : static_cast<DWORD>(255 + WTERMSIG(wstatus));
  return ERROR_SUCCESS;
}

}  // namespace platform
