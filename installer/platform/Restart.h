// "The next start of Windows": file operations scheduled for the restart, and the restart itself.
//
// Scheduled operations are kept where Windows keeps them: the REG_MULTI_SZ value
// "PendingFileRenameOperations" of HKLM\SYSTEM\CurrentControlSet\Control\Session Manager, as
// pairs of "\??\<source>" and "<destination>" ("" to delete, "!\??\<destination>" to replace an
// existing file). A restart carries them out in order (a folder is removed only when empty;
// failures are ignored, as Windows ignores them at start) and clears the value.
//
// ExitWindowsEx records the request; the restart happens when the program exits (an atexit
// hook), or at once through RestartMachine. Each restart appends a line to
// <root>/state/restarts.log.
#pragma once

#include <string>
#include <vector>

#include "platform/Win32Errors.h"

namespace platform {

inline constexpr unsigned EWX_LOGOFF = 0x0;
inline constexpr unsigned EWX_SHUTDOWN = 0x1;
inline constexpr unsigned EWX_REBOOT = 0x2;
inline constexpr unsigned EWX_FORCE = 0x4;
inline constexpr unsigned EWX_POWEROFF = 0x8;
inline constexpr unsigned EWX_FORCEIFHUNG = 0x10;

struct PendingFileOperation {
  std::wstring source;       // Windows path, without the "\??\" prefix
  std::wstring destination;  // empty: delete
  bool replaceExisting = false;
};

// Appends an operation to PendingFileRenameOperations (atomically, across processes).
// A relative path is made full against the current directory. ERROR_INVALID_PARAMETER for an
// empty source.
DWORD ScheduleFileOperation(const std::wstring& source, const std::wstring& destination,
                            bool replaceExisting = false);
// Takes back every deletion of `path` (made full as above) that waits for the restart, so that a
// program that uses the name again before that start keeps its file; the other operations stay
// as they are, in their order. ERROR_SUCCESS also when there was none (the registry is then
// not written); ERROR_INVALID_PARAMETER for an empty path.
DWORD CancelScheduledDeletion(const std::wstring& path);
// The scheduled operations in order. A malformed value gives what can be read of it.
std::vector<PendingFileOperation> PendingFileOperations();

struct RestartResult {
  PendingFileOperation operation;
  DWORD status = ERROR_SUCCESS;  // what the operation gave (failures are not retried)
};
// Restarts the machine now: carries out the pending operations in order and clears them.
std::vector<RestartResult> RestartMachine();

// ExitWindowsEx: records the request (EWX_REBOOT, EWX_SHUTDOWN and EWX_POWEROFF restart the
// machine when the program exits; EWX_LOGOFF only ends the session). Returns true.
bool ExitWindowsEx(unsigned flags, DWORD reason);
// Whether this process asked for a restart that has not happened yet.
bool IsRestartPending();
// Carries out a restart that ExitWindowsEx asked for (the atexit hook calls it); no-op otherwise.
void RunRequestedRestart();
// How many restarts the machine has had (lines of restarts.log).
unsigned RestartCount();

// Hands the file layer's delayed moves (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT) to
// ScheduleFileOperation. Done once per process by the registry service.
void InstallRestartService();

}  // namespace platform
