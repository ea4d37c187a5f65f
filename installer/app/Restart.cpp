#include "app/Restart.h"

#include "platform/Restart.h"

namespace InstallManager {

bool RestartWindows(unsigned flags) {
  // Every user of the emulated machine holds the shutdown privilege; enabling it for the
  // process cannot fail there, so the request goes straight to ExitWindowsEx, which restarts
  // the machine after this program has ended.
  return platform::ExitWindowsEx(flags, 0);
}

}  // namespace InstallManager
