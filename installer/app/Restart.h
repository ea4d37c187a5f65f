// Restarting Windows at the end of a run: on this machine a restart of the emulated machine,
// which carries out the pending file operations after the program exits.
#pragma once

namespace InstallManager {

inline constexpr unsigned EWX_REBOOT = 2;

// Enables the shutdown privilege, asks for the restart and disables the privilege again.
// False when the privilege cannot be had or the restart cannot be asked for.
bool RestartWindows(unsigned flags);

}  // namespace InstallManager
