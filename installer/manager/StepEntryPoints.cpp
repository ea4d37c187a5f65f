// The steps' entry points of the run: each hands the run's step context to its step kind
// (installer/steps), and the parts of the context that the run itself keeps (the record of
// installed products, the pages, the progress display).
#include "manager/InstallManager.h"

#include "app/Tools.h"
#include "steps/ClientSteps.h"
#include "steps/CommonSteps.h"
#include "steps/DatabaseStep.h"
#include "steps/ExecSteps.h"
#include "steps/FolderFileSteps.h"
#include "steps/ProfileCleanup.h"
#include "steps/ProjectConfigStep.h"
#include "steps/RegistryStep.h"
#include "steps/RightsStep.h"
#include "steps/ShareStep.h"
#include "steps/ShortcutSteps.h"
#include "steps/UninstallerStep.h"

namespace InstallManager {

using CommonTools::SettingsNodePtr;

// ---- the entry points ----

void CInstallManager::CommonSteps(const SettingsNodePtr& container, bool remove,
                                  const std::wstring& basePath) {
  InstallSteps::DispatchSteps(*this, container, remove, basePath);
}

void CInstallManager::CommonStepScheduleFolder(const SettingsNodePtr& node, bool remove) {
  InstallSteps::FolderStep(*this).Apply(node, remove, L"");
}

void CInstallManager::CommonStepFile(const SettingsNodePtr& node, bool remove) {
  InstallSteps::FileStep(*this).Apply(node, remove, L"");
}

void CInstallManager::CommonStepFolders(const InstallSteps::SetupList& list, bool remove,
                                        const std::wstring& basePath) {
  InstallSteps::FolderStep(*this).Process(list, remove, basePath);
}

void CInstallManager::CommonStepFiles(const InstallSteps::SetupList& list, bool remove,
                                      const std::wstring& basePath) {
  InstallSteps::FileStep(*this).Process(list, remove, basePath);
}

std::uint64_t CInstallManager::FolderWorkTotal(const std::wstring& basePath) {
  return InstallSteps::FolderStep(*this).WorkTotal(basePath);
}

void CInstallManager::CountKeptCommonFolders(const std::wstring& basePath) {
  InstallSteps::FolderStep(*this).CountKeptCommon(basePath);
}

void CInstallManager::ProcessRights(const SettingsNodePtr& root, bool remove,
                                    const std::wstring& basePath) {
  InstallSteps::RightsStep(*this).ProcessAll(root, remove, basePath);
}

void CInstallManager::CommonStepRights(const SettingsNodePtr& node, bool remove,
                                       const std::wstring& basePath) {
  InstallSteps::RightsStep(*this).Apply(node, remove, basePath);
}

bool CInstallManager::ProcessRegistry(const SettingsNodePtr& container, int mode) {
  return InstallSteps::RegistryStep(*this).Process(container, mode);
}

void CInstallManager::ProcessShortcuts(const SettingsNodePtr& container, bool remove,
                                       const std::wstring& basePath) {
  InstallSteps::ShortcutsStep(*this).Apply(container, remove, basePath);
}

void CInstallManager::CommonStepAssociation(const SettingsNodePtr& node, bool remove,
                                            const std::wstring& basePath) {
  InstallSteps::AssociationStep(*this).Apply(node, remove, basePath);
}

std::wstring CInstallManager::GetUninstallerPath() {
  return InstallSteps::UninstallerStep(*this).UninstallerPath();
}

std::wstring CInstallManager::UninstallPackageName() const {
  return InstallSteps::UninstallerStep::PackageName(m_product);
}

void CInstallManager::RegisterUninstaller(const std::wstring& basePath) {
  InstallSteps::UninstallerStep(*this).Install(nullptr, basePath);
}

void CInstallManager::AddUninstallerInfo(const std::wstring& installPath,
                                         const std::wstring& packagePath) {
  InstallSteps::UninstallerStep(*this).AddInfo(installPath, packagePath);
}

void CInstallManager::UnregisterUninstaller() {
  InstallSteps::UninstallerStep(*this).Remove(nullptr, L"");
}

void CInstallManager::ProcessServer(const SettingsNodePtr& root, bool remove,
                                    const std::wstring& basePath) {
  InstallSteps::ShareStep(*this).Server(root, remove, basePath);
}

void CInstallManager::CommonStepShare(const SettingsNodePtr& node, bool remove,
                                      const std::wstring& basePath) {
  InstallSteps::ShareStep(*this).Apply(node, remove, basePath);
}

void CInstallManager::CommonStepDatabase(const SettingsNodePtr& node, bool remove,
                                         const std::wstring& basePath) {
  InstallSteps::DatabaseStep(*this).Apply(node, remove, basePath);
}

void CInstallManager::ProcessUpdateProjectConfig(const SettingsNodePtr& root,
                                                 const std::wstring& basePath) {
  InstallSteps::ProjectConfigStep(*this).Install(root, basePath);
}

bool CInstallManager::ChangeTagsProductConfig(const std::wstring& path) {
  return InstallSteps::ProjectConfigStep(*this).ChangeTags(path);
}

void CInstallManager::DeleteAllUsersFolders() {
  InstallSteps::ProfileCleanupStep(*this).Remove(nullptr, L"");
}

void CInstallManager::CommonStepExec(const SettingsNodePtr& node, bool remove) {
  InstallSteps::ExecStep(*this).Apply(node, remove, L"");
}

void CInstallManager::ProcessRedist(const SettingsNodePtr& root, bool remove) {
  InstallSteps::ExecStep(*this).Redistributables(root, remove);
}

bool CInstallManager::CallExecProcess(const std::wstring& file, const std::wstring& arguments,
                                      bool show, bool wait) {
  return InstallSteps::ExecStep(*this).Start(file, arguments, show, wait);
}

std::wstring CInstallManager::ProgramOfNode(const SettingsNodePtr& node) {
  return InstallSteps::ExecStep(*this).ProgramOfNode(node);
}

bool CInstallManager::GetMSI() {
  m_clientMsiPath = InstallSteps::ClientStep(*this).FindPackage();
  return !m_clientMsiPath.empty();
}

bool CInstallManager::ClientStillRegistered() {
  return InstallSteps::ClientStep(*this).StillRegistered();
}

std::wstring CInstallManager::ClientProductCode(const SettingsNodePtr& client,
                                                const std::wstring& packagePath) {
  return InstallSteps::ClientStep(*this).ProductCode(client, packagePath);
}

void CInstallManager::UpdateClientCounter(const SettingsNodePtr& client,
                                          const std::wstring& serverPath, bool remove) {
  InstallSteps::ClientStep(*this).UpdateCounter(client, serverPath, remove);
}

int CInstallManager::ClientInstall(const SettingsNodePtr& root, bool remove,
                                   const std::wstring& basePath) {
  return InstallSteps::ClientStep(*this).Process(root, remove, basePath);
}

// ---- what the run keeps of the context ----

InstallGui::IProgressDisplay& CInstallManager::Progress() { return GetGuiTools().MainWindow(); }

bool CInstallManager::RecordedFolder(std::wstring& folder) {
  InstalledProduct entry;
  if (m_installedProducts.Find(m_product.pv, m_product.version, entry) < 0) return false;
  folder = entry.path;
  return true;
}

void CInstallManager::RecordProduct(int type, const std::wstring& folder) {
  AddProduct(type, folder);
  SaveLanguageToRecord();
}

void CInstallManager::ForgetProduct() {
  m_installedProducts.RemoveProduct(m_product.pv, m_product.version);
}

bool CInstallManager::SaveRecord(const std::wstring& path) {
  return m_installedProducts.Save(path);
}

InstallGui::PageButton CInstallManager::ShowPage(const std::wstring& name) {
  PagePtr page = MakePage(name);
  page->LoadSettings();
  auto* ui = GetGuiTools().UiBackend();
  if (!ui) throw InstallGui::UnansweredQuestion("No user interface for the client page");
  return ui->RunPageModal(*page);
}

}  // namespace InstallManager
