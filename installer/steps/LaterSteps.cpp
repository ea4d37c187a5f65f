// The steps that later stages build (programs, shares, data sources, the project
// configuration, the client package, the profiles). Each is called in its place of the run and says
// in the log that it is not part of this build yet; each moves to a file of its own when it is
// built.
#include "manager/InstallManager.h"

#include "app/Tools.h"

namespace InstallManager {

using CommonTools::SettingsNodePtr;

namespace {

void NotBuilt(const wchar_t* step) {
  Log(LogLevel::Warning, L"%s: this step is not part of this build", std::wstring(step));
}

}  // namespace

void CInstallManager::CommonStepExec(const SettingsNodePtr&, bool) { NotBuilt(L"CommonStepExec"); }

void CInstallManager::CommonStepShare(const SettingsNodePtr&, bool, const std::wstring&) {
  NotBuilt(L"CommonStepShare");
}

void CInstallManager::CommonStepDatabase(const SettingsNodePtr&, bool, const std::wstring&) {
  NotBuilt(L"CommonStepDatabase");
}

void CInstallManager::ProcessUpdateProjectConfig(const SettingsNodePtr&, const std::wstring&) {
  NotBuilt(L"ProcessUpdateProjectConfig");
}

void CInstallManager::ProcessServer(const SettingsNodePtr&, bool, const std::wstring&) {
  NotBuilt(L"ProcessServer");
}

void CInstallManager::ProcessRedist(const SettingsNodePtr&, bool) { NotBuilt(L"ProcessRedist"); }

int CInstallManager::ClientInstall(const SettingsNodePtr&, bool, const std::wstring&) {
  NotBuilt(L"ClientInstall");
  return 1;
}

void CInstallManager::DeleteAllUsersFolders() { NotBuilt(L"DeleteAllUsersFolders"); }

}  // namespace InstallManager
