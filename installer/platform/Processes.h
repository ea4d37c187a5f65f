// Started programs: a Windows command line split the way the C run-time and CommandLineToArgvW
// split it, and the start of its program, which is a host executable stored in the machine (an
// ELF file or a script, whatever its name says), with the machine, the emulated environment and
// the current directory handed down.
#pragma once

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

// Starts the command line and waits for the program to end (CreateProcessW with
// WaitForSingleObject and GetExitCodeProcess). The program's host file must be an ELF file or a
// script ("#!"); it is made executable on the host when it is not (Windows has no such bit).
// `exitCode` is the program's exit status (255 + signal for a killed one).
// ERROR_FILE_NOT_FOUND, ERROR_BAD_EXE_FORMAT, ERROR_ACCESS_DENIED, or the start's failure.
DWORD RunProcess(const std::wstring& commandLine, DWORD& exitCode);

}  // namespace platform
