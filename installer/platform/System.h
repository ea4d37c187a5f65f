// System information of the emulated machine: names, version, bitness, screen, debug output.
#pragma once

#include "platform/Win32Errors.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A change the program has just made to the machine (a file or folder deleted, a file moved
// into place, a hive written), counted for the tests that stop a run at a chosen moment: with
// TOLMERA_KILL_AFTER_CHANGES=<n> in the host environment the process kills itself (SIGKILL, as
// `kill -9` or a power cut would end it) right after its n-th change. Without it, nothing.
void NoteMachineChange();

// GetCurrentProcessId: the host process's id, asked of the kernel once per process (and again in
// a forked child).
long GetCurrentProcessId();

// OSVERSIONINFOEXW as GetVersionExW fills it (for a manifested program: the real version).
struct OSVERSIONINFOEXW {
  DWORD dwMajorVersion = 0;
  DWORD dwMinorVersion = 0;
  DWORD dwBuildNumber = 0;
  DWORD dwPlatformId = 0;
  std::wstring szCSDVersion;
  unsigned wServicePackMajor = 0;
  unsigned wServicePackMinor = 0;
  unsigned wSuiteMask = 0;
  unsigned wProductType = 0;  // VER_NT_WORKSTATION 1, VER_NT_DOMAIN_CONTROLLER 2, VER_NT_SERVER 3
};
inline constexpr unsigned VER_NT_WORKSTATION = 1;
inline constexpr unsigned VER_NT_DOMAIN_CONTROLLER = 2;
inline constexpr unsigned VER_NT_SERVER = 3;
inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

DWORD GetVersionExW(OSVERSIONINFOEXW& info);
// GetComputerNameW (NetBIOS name) and GetUserNameW of the machine.
std::wstring GetComputerNameW();
std::wstring GetUserNameW();
// IsWow64Process for the current process: a 32-bit installer on 64-bit Windows.
bool IsWow64Process();

// GetSystemMetrics for the screen size.
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
int GetSystemMetrics(int index);

// OutputDebugStringW: kept in memory for tests (DebugOutput) and, when the host variable
// TOLMERA_DEBUG_OUTPUT names a file, appended to it (UTF-8).
void OutputDebugStringW(std::wstring_view text);
std::vector<std::wstring> DebugOutput();
void ClearDebugOutput();

// CoCreateGuid: a new random GUID (version 4); E_FAIL when no random bytes can be had.
struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0, Data3 = 0;
  std::uint8_t Data4[8] = {};
};
HRESULT CoCreateGuid(GUID& guid);
// StringFromGUID2: the registry form, braces included ("{6B29FC40-CA47-1067-B31D-00DD010662DA}").
std::wstring StringFromGUID2(const GUID& guid);

}  // namespace platform
