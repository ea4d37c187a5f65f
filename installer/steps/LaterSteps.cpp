// The steps that later stages build (programs, redistributables, the client package). Each is
// called in its place of the run and says in the log that it is not part of this build yet; each
// moves to a file of its own when it is built.
#include "manager/InstallManager.h"

#include "app/Tools.h"

namespace InstallManager {

using CommonTools::SettingsNodePtr;

namespace {

void NotBuilt(const wchar_t* step) {
  Log(LogLevel::Warning, L"%s: this step is not part of this build", std::wstring(step));
}

}  // namespace


int CInstallManager::ClientInstall(const SettingsNodePtr&, bool, const std::wstring&) {
  NotBuilt(L"ClientInstall");
  return 1;
}

}  // namespace InstallManager
