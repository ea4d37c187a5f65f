// Started programs: a Windows command line split the way the C run-time and CommandLineToArgvW
// split it, and the start of its program, which is a host executable stored in the machine (an
// ELF file or a script, whatever its name says), with the machine, the emulated environment and
// the current directory handed down.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Win32Errors.h"

namespace platform {

// CommandLineToArgvW: the program name ends at the closing quote when it starts with one, else
// at the first blank; in the arguments, blanks separate, quotes group, 2n backslashes before a
// quote give n backslashes (and the quote groups), 2n+1 give n and a literal quote, backslashes
// elsewhere stay. An empty line gives no elements.
std::vector<std::wstring> CommandLineToArgvW(const std::wstring& commandLine);

// The program of a command line as CreateProcessW finds it: an absolute path, or a name looked
// up in the current directory, the system folder, the Windows folder and PATH, with ".exe"
// added when the name has no extension. ERROR_FILE_NOT_FOUND when there is none.
DWORD FindProgram(const std::wstring& name, std::wstring& path);

inline constexpr DWORD WAIT_OBJECT_0 = 0;
inline constexpr DWORD WAIT_TIMEOUT = 258;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
inline constexpr DWORD INFINITE = 0xFFFFFFFF;
inline constexpr DWORD STILL_ACTIVE = 259;
inline constexpr unsigned short SW_HIDE = 0;
inline constexpr unsigned short SW_SHOW = 5;

// A started program (the process and its primary thread in one: the host has no thread of its
// own to wait for). The program is reaped when it is waited for; a handle closed before the
// program ended leaves it running.
using ProcessHandle = std::shared_ptr<struct StartedProcess>;

struct StartupInfo {
  unsigned short showWindow = SW_SHOW;  // kept for the program; the host has no windows to hide
};

// CreateProcessW: `commandLine` split as CommandLineToArgvW splits it, its program found by
// FindProgram (from `currentDirectory` when one is given, which also becomes the program's
// current directory; else the caller's). The program gets the machine, the emulated
// environment and its current directory, and runs in the host folder of that directory.
// ERROR_FILE_NOT_FOUND, ERROR_DIRECTORY (a current directory that is no folder),
// ERROR_BAD_EXE_FORMAT (no ELF image or script), ERROR_ACCESS_DENIED.
DWORD CreateProcessW(const std::wstring& commandLine, const std::wstring& currentDirectory,
                     const StartupInfo& startup, ProcessHandle& process);
// WAIT_OBJECT_0 when the program ended within `milliseconds` (INFINITE: no limit), else
// WAIT_TIMEOUT; WAIT_FAILED for an empty handle.
DWORD WaitForSingleObject(const ProcessHandle& process, DWORD milliseconds);
// STILL_ACTIVE while the program runs, then its exit status (255 + signal for a killed one; the
// host keeps only the low eight bits of a status a program returns).
bool GetExitCodeProcess(const ProcessHandle& process, DWORD& exitCode);
// The host's process id of the program (0 for an empty handle).
int GetProcessId(const ProcessHandle& process);
// When the process with the host id `pid` started, as a stamp that tells it from a later
// process given the same id (the host's clock ticks since its boot; only compared, never shown
// as a time): what GetProcessTimes gives of a process that OpenProcess found. 0 when no process
// has the id, or it has ended and only waits to be reaped.
std::uint64_t ProcessStartStamp(long pid);
void CloseHandle(ProcessHandle& process);

class Machine;
// The programs of System32 that are host programs (msiexec.exe starts tlmsiexec): each is a
// launcher script written into a fresh machine when its host program is found beside the
// running program (or in $TOLMERA_BIN_DIR); a machine made without it has no such program.
void InstallSystemPrograms(const Machine& machine);
// The host program a System32 launcher starts ("" when there is none).
std::string HostProgramPath(const std::string& name);

// Starts the command line and waits for the program to end (CreateProcessW with
// WaitForSingleObject and GetExitCodeProcess). The program's host file must be an ELF file or a
// script ("#!"); it is made executable on the host when it is not (Windows has no such bit).
// `exitCode` is the program's exit status (255 + signal for a killed one).
// ERROR_FILE_NOT_FOUND, ERROR_BAD_EXE_FORMAT, ERROR_ACCESS_DENIED, or the start's failure.
DWORD RunProcess(const std::wstring& commandLine, DWORD& exitCode);

}  // namespace platform
