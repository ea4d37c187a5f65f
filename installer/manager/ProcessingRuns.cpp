// The processing runs in their least form: the run's choice reaches them and is logged, and the
// end of the run closes the package archive (which removes its temporary folder). The step
// sequences, the record's update, the uninstaller registration and the finish page replace
// these bodies in their own stage.
#include "manager/InstallManager.h"

#include "app/Tools.h"

namespace InstallManager {

bool CInstallManager::ProcessInstallMain(int type) {
  Log(LogLevel::Warning,
      L"CInstallManager::ProcessInstallMain() %s: the steps of this action are not part of this "
      L"build",
      InstallTypeLogName(type));
  return true;
}

bool CInstallManager::ProcessRepairOrUpdate() {
  Log(LogLevel::Warning,
      L"CInstallManager::ProcessRepairOrUpdate(): the steps of this action are not part of this "
      L"build");
  return true;
}

bool CInstallManager::ProcessOnlyUpdate() {
  Log(LogLevel::Warning,
      L"CInstallManager::ProcessOnlyUpdate(): the steps of this action are not part of this build");
  return true;
}

bool CInstallManager::ChangeConfiguration(const std::wstring& path) {
  Log(LogLevel::Warning,
      L"CInstallManager::ChangeConfiguration(%s): the steps of this action are not part of this "
      L"build",
      path);
  return true;
}

int CInstallManager::FinishRun() {
  if (m_dataStorage) m_dataStorage->Close();
  return m_result;
}

}  // namespace InstallManager
