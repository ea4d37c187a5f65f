// The emulated process environment (TEMP, PATH, USERPROFILE, ...), built from the machine's
// configuration, kept per process and handed down to started programs.
//
// Names are compared without regard to case, as on Windows. A program started by the machine
// layer receives the whole block in the host variable TOLMERA_ENVIRONMENT (see
// SerializeEnvironment); a process that finds it there starts from it instead of the defaults.
#pragma once

#include "platform/Win32Errors.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// GetEnvironmentVariableW: ERROR_SUCCESS and the value, or ERROR_ENVVAR_NOT_FOUND.
DWORD GetEnvironmentVariableW(std::wstring_view name, std::wstring& value);
// Convenience: the value or an empty optional.
std::optional<std::wstring> GetEnv(std::wstring_view name);
// SetEnvironmentVariableW: sets, or removes when `value` is empty (nullopt).
// ERROR_INVALID_PARAMETER for an empty name or one containing '=' after its first character.
DWORD SetEnvironmentVariableW(std::wstring_view name, std::optional<std::wstring_view> value);
// ExpandEnvironmentStringsW: replaces %NAME% by the value; unknown names and a lone '%' stay as
// they are.
std::wstring ExpandEnvironmentStringsW(std::wstring_view text);
// GetEnvironmentStringsW: every NAME=VALUE, sorted without regard to case (as Windows keeps the
// block), the "=C:" per-drive current directories first.
std::vector<std::pair<std::wstring, std::wstring>> GetEnvironmentStringsW();

// The environment a fresh process of the current machine starts with (SystemRoot, windir, TEMP,
// TMP, USERPROFILE, APPDATA, LOCALAPPDATA, ProgramData, ALLUSERSPROFILE, PUBLIC, ProgramFiles,
// ProgramFiles(x86), ProgramW6432, CommonProgramFiles..., COMPUTERNAME, USERNAME, USERDOMAIN,
// HOMEDRIVE, HOMEPATH, OS, PATH, PATHEXT, PROCESSOR_ARCHITECTURE (and PROCESSOR_ARCHITEW6432 for
// a 32-bit process on 64-bit Windows), SystemDrive, ComSpec, NUMBER_OF_PROCESSORS).
std::vector<std::pair<std::wstring, std::wstring>> DefaultEnvironment();

// The block as one text for the host variable TOLMERA_ENVIRONMENT (UTF-8 "NAME=VALUE" entries
// separated by the record separator U+001E, which no value may hold), and back.
std::string SerializeEnvironment();
std::vector<std::pair<std::wstring, std::wstring>> ParseSerializedEnvironment(
    std::string_view text);

// Drops this process's environment; the next use starts again from TOLMERA_ENVIRONMENT or the
// defaults of the current machine (tests call it after Machine::SetCurrentForProcess).
void ResetEnvironment();

}  // namespace platform
