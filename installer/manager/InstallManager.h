// One run of the installer: set-up, the checks before anything on the machine changes, the
// detection of an installed copy, the choice of action and the end of the run.
#pragma once

#include "package/InstallTypes.h"
#include "manager/InstalledProducts.h"
#include "gui/pages/OptionPages.h"
#include "manager/Pages.h"
#include "package/UserSettings.h"
#include "package/DataStorage.h"
#include "package/Libraries.h"
#include "package/Macros.h"
#include "package/ScriptFormat.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "rights/CheckRights.h"
#include "steps/ShareStep.h"
#include "steps/StepContext.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace InstallManager {

// The texts of the finish page for one situation of the run.
struct FinishRequest {
  std::wstring messageId;    // the script message; empty: no text
  std::wstring defaultText;  // when the script lacks the message
  bool offerExport = false;  // the page may offer the client package for export
};

// The run talks to the steps through the step context it implements (steps/StepContext.h); the
// steps' names below are its entry points, each handing the context to its step kind.
class CInstallManager : public CommonTools::IStepDispatcher, public InstallSteps::StepContext {
 public:
  CInstallManager();
  virtual ~CInstallManager();

  // The whole run; returns the run's eInstallResult (15: restart Windows now). Never throws.
  int Run(const std::wstring& archivePath, bool adminFlag);

  bool Init();
  bool CheckSystem();
  void CheckRights();
  int DetectAction();
  bool LoadScenario();
  std::wstring InstalledProductsPath();
  // 0 cancelled, 1 all pages completed, 2 "Back" on the first page.
  int RunPages(size_t index);
  void AddPage(const PagePtr& page);
  std::wstring ResultText(int result);
  // A script message used as a format for one argument ("MsgOldInstallation" with a build,
  // "MsgErrorCreateFile" with a file name, a step's "ExecCmdError"): checked against the
  // argument first; a text that does not fit is used as it stands and the misfit is logged.
  std::wstring FormatScriptText(const std::wstring& id, const std::wstring& text,
                                const platform::FormatArg& arg);

  void SaveLogCopy();
  void OfferLogSave();

  // Macros: the script's MACROS and the built-in path variables.
  void LoadMacros(const CommonTools::SettingsNodePtr& root);
  void ExpandMacros(std::wstring& s) override;
  // The attribute's text (or `def`) with its macros replaced; with `isPath` every "/" becomes "\".
  std::wstring ReadAttribute(const CommonTools::SettingsNodePtr& node, std::wstring_view name,
                             const std::wstring& def, bool isPath) override;
  const CommonTools::CMacroTable& GetMacros() const { return m_macros; }

  // Libraries (the product's components).
  void LoadLibraries(const CommonTools::SettingsNodePtr& root);
  int GetLibraryCount() const { return m_libraries.Count(); }
  bool GetLibrary(int index, CommonTools::LibraryRecord& record) const {
    return m_libraries.Get(index, record);
  }
  bool FindLibrary(int id, CommonTools::LibraryRecord& record) const {
    return m_libraries.Find(id, record);
  }
  bool SetSelected(int index, bool flag) { return m_libraries.SetSelected(index, flag); }
  bool SetSelectedById(int id, bool flag) { return m_libraries.SetSelectedById(id, flag); }
  void ApplyInstalledSelection(const std::wstring& selection) {
    m_libraries.ApplyInstalledSelection(selection);
  }
  // Stores the selection string of the selected libraries as user setting "SelectedLibraries".
  void SaveSelection();
  // Empties the library list and the macro table; the script counts as not loaded.
  void ClearLibraries();
  CommonTools::CLibraries& Libraries() { return m_libraries; }
  // Runs the libraries' steps through the step dispatcher (removal first, then installation).
  void ProcessComponents(const CommonTools::SettingsNodePtr& root, bool removeAll,
                         const std::wstring& path);
  // The dispatcher that runs the steps of a container node (not owned).
  void SetStepDispatcher(CommonTools::IStepDispatcher* dispatcher) {
    m_stepDispatcher = dispatcher;
  }

  // The installed-products record: this run's product.
  void AddProduct(int type, const std::wstring& basePath);
  void SaveLanguageToRecord();
  void SaveLibrariesToRecord();

  // Processing runs: what each action carries out on the machine (ProcessingRuns.cpp).
  // `type` 3 server, 4 local, 5 client, or 9 for the removal of the product.
  virtual bool ProcessInstallMain(int type);
  virtual bool ProcessRepairOrUpdate();
  virtual bool ProcessOnlyUpdate();
  virtual bool ChangeConfiguration(const std::wstring& path);
  virtual int FinishRun();
  // The step sequence every processing run uses; false when the guard let none of it run.
  bool RunSteps(int type, const CommonTools::SettingsNodePtr& root, bool remove,
                const std::wstring& basePath);
  void ProcessData(const CommonTools::SettingsNodePtr& root, bool remove,
                   const std::wstring& basePath);
  bool ProcessInstallAdditional(const CommonTools::SettingsNodePtr& root,
                                const std::wstring& basePath, bool remove);
  void FinishPage(const FinishRequest& request);
  // The finish page's texts for the situation.
  FinishRequest FinishTexts(int situation, int kind) const;
  void Clean();

  // Steps (installer/steps): the dispatcher of a container's children and the steps it calls.
  void CommonSteps(const CommonTools::SettingsNodePtr& container, bool remove,
                   const std::wstring& basePath) override;
  // The action filter (IsIgnored) and the question of a node (AskUser) are the context's.
  void CommonStepScheduleFolder(const CommonTools::SettingsNodePtr& node, bool remove);
  void CommonStepFile(const CommonTools::SettingsNodePtr& node, bool remove);
  void CommonStepFolders(const InstallSteps::SetupList& list, bool remove,
                         const std::wstring& basePath);
  void CommonStepFiles(const InstallSteps::SetupList& list, bool remove,
                       const std::wstring& basePath);
  // The bytes the folder lists will move: the progress range of a run.
  std::uint64_t FolderWorkTotal(const std::wstring& basePath);
  // The bytes of the common folders an uninstall keeps, added to the progress.
  void CountKeptCommonFolders(const std::wstring& basePath);
  void ProcessRights(const CommonTools::SettingsNodePtr& root, bool remove,
                     const std::wstring& basePath);
  void CommonStepRights(const CommonTools::SettingsNodePtr& node, bool remove,
                        const std::wstring& basePath);
  // The REGISTRY element of `container`: `mode` 0 writes its values, 1 removes its keys, 2 checks
  // whether its first key exists (InstallSteps::RegistryMode). The result matters in mode 2 only:
  // false when that key is missing.
  bool ProcessRegistry(const CommonTools::SettingsNodePtr& container, int mode);
  // The SHORTCUTS element of `container`: its links made or deleted.
  void ProcessShortcuts(const CommonTools::SettingsNodePtr& container, bool remove,
                        const std::wstring& basePath);
  // One ASSOCIATION: the extension and its class registered or removed.
  void CommonStepAssociation(const CommonTools::SettingsNodePtr& node, bool remove,
                             const std::wstring& basePath);
  // The uninstaller registration: the kept copy of the installer in the Windows folder, this
  // product's uninstall package beside it and its entry in the list of programs.
  std::wstring GetUninstallerPath();
  std::wstring UninstallPackageName() const;
  void RegisterUninstaller(const std::wstring& basePath);
  void AddUninstallerInfo(const std::wstring& installPath, const std::wstring& packagePath);
  void UnregisterUninstaller();
  // The shares of a server installation (the SERVER node) and one SHARE entry.
  void ProcessServer(const CommonTools::SettingsNodePtr& root, bool remove,
                     const std::wstring& basePath);
  void CommonStepShare(const CommonTools::SettingsNodePtr& node, bool remove,
                       const std::wstring& basePath);
  // One DATABASE entry: its machine data source registered or removed.
  void CommonStepDatabase(const CommonTools::SettingsNodePtr& node, bool remove,
                          const std::wstring& basePath);
  // The product's configuration file brought in line with the run: the CHANGE entries of
  // INSTALL / CFG, or the list of installed libraries.
  void ProcessUpdateProjectConfig(const CommonTools::SettingsNodePtr& root,
                                  const std::wstring& basePath);
  // Applies the CHANGE entries to the file at `path`; true when there were changes, none asked
  // for the library list, and all of them could be applied.
  bool ChangeTagsProductConfig(const std::wstring& path);
  // The product's data in the local and roaming application-data folders of every profile.
  void DeleteAllUsersFolders();
  // Programs of Exec nodes and the redistributables, started in order.
  void CommonStepExec(const CommonTools::SettingsNodePtr& node, bool remove);
  void ProcessRedist(const CommonTools::SettingsNodePtr& root, bool remove);
  // Starts `file` with `arguments` from the file's folder; with `wait` the run waits for it in
  // slices, the window alive. False when the program could not be started.
  bool CallExecProcess(const std::wstring& file, const std::wstring& arguments, bool show,
                       bool wait);
  // The program an Exec node names: "Path", else the text of the message "MsgKey" names.
  std::wstring ProgramOfNode(const CommonTools::SettingsNodePtr& node);
  // The client package of the script's CLIENT node, extracted; sets the client package path.
  bool GetMSI();
  // Whether the registry entries of CLIENT/UNINSTALLER are there (true when none are described).
  bool ClientStillRegistered();
  // The client product's code: from the first key of CLIENT/UNINSTALLER/REGISTRY, the key name
  // from its first "{" on; `packagePath` when there is none.
  std::wstring ClientProductCode(const CommonTools::SettingsNodePtr& client,
                                 const std::wstring& packagePath);
  // The counter of clients on the server's share, one up for an installation, one down for a
  // removal.
  void UpdateClientCounter(const CommonTools::SettingsNodePtr& client,
                           const std::wstring& serverPath, bool remove);
  // The client installation through msiexec: 1 done (also for an ignored CLIENT node or a setup
  // program in place of the package), 0 failed (nodes or package missing), 2 Back on its page.
  int ClientInstall(const CommonTools::SettingsNodePtr& root, bool remove,
                    const std::wstring& basePath);

  InstallSteps::ScheduledEntries& Scheduled() override { return m_scheduled; }
  // What the steps report: 13 (a file stayed) or 15 (a folder stayed, restart needed).
  void SetResult(int result) override { m_result = result; }
  // The library selection of user setting "SelectedLibraries" (the components page's answer, or
  // the installed copy's) made the selection of the run; "empty" keeps the script's.
  void ApplySelectionSetting();
  // Remembers `path` and each missing folder above it as made by this run.
  void RememberMissing(const std::wstring& path);
  // The guard the steps go through for whatever they delete, share, grant or start.
  InstallSteps::StepGuard& Guard() override { return m_guard; }
  // The product folder of a run made the guard's, with the product's installed items loaded;
  // false (with its level-0 line and result 13) when the folder is refused or the items do not
  // belong to it.
  bool GuardRun(const std::wstring& basePath, const wchar_t* who);
  // The same for a step called with `basePath`: nothing new when the guard has that folder.
  bool GuardFor(const std::wstring& basePath, const wchar_t* who) override;
  // The installed-items file of this run's product, and its writing at the end of a run (a
  // removal of the product deletes it, a roll-back the one this run made).
  std::wstring InstalledItemsPath();
  void SaveInstalledItems(bool remove);
  // This removal runs from the product's entry in the list of programs, which is still there.
  bool RemovalLeftItsEntry();

  // What the run asks outside itself; the defaults are the machine's answers.
  struct Hooks {
    std::function<bool()> hasUserAdminRightsDoSetup = [] {
      return CCheckRights::HasUserAdminRightsDoSetup();
    };
    std::function<void(AdminRights&)> verifyAdminRights = [](AdminRights& r) {
      CCheckRights::VerifyAdminRights(r);
    };
    std::function<bool()> verifySetShareForFolder = [] {
      return InstallSteps::VerifySetShareForFolder();
    };
    // The start-up pause with the main window showing (3000 ms; the scripted back-end skips it).
    std::function<void(int milliseconds)> wait;
    // Creates and prepares the main window with the script's install type and icon.
    std::function<void(const std::wstring& installType, const std::wstring& iconPath)>
        createMainWindow;
    // The program's own path (Windows form); empty: GetModuleFileNameW.
    std::wstring programPath;
    // The Windows folder that holds the uninstaller (Windows form); empty: GetWindowsDirectoryW.
    std::wstring windowsFolder;
  };
  Hooks& GetHooks() { return m_hooks; }

  // State, readable by the pages, the processing runs and tests.
  int GetResult() const { return m_result; }
  int GetDetectedAction() const { return m_detectedAction; }
  int GetInstalledKind() const { return m_installedKind; }
  int GetInstalledBuild() const { return m_installedBuild; }
  int GetScenarioBuild() const { return m_scenarioBuild; }
  bool IsScenarioLoaded() const { return m_scenarioLoaded; }
  bool IsServerAdmin() const { return m_serverAdmin; }
  const CommonTools::Script::ProductDescription& GetProduct() const { return m_product; }
  const CommonTools::Script::CommonInfo& GetCommonInfo() const { return m_commonInfo; }
  const AdminRights& GetRights() const { return m_rights; }
  const std::wstring& GetProductName() const { return m_product.name; }
  const std::wstring& GetPV() const { return m_product.pv; }
  int GetVersion() const { return m_product.version; }
  const std::wstring& GetInstallTypeText() const { return m_product.installType; }
  int GetBuild() const { return m_product.build; }
  int GetLanguagePreset() const { return m_product.language; }
  const std::wstring& GetProcessorArchitecture() const { return m_processorArchitecture; }
  const std::wstring& GetOsCapacity() const { return m_osCapacity; }
  std::shared_ptr<CUserSettings> GetUserSettings() const { return m_userSettings; }
  InstalledProducts& GetInstalledProducts() { return m_installedProducts; }
  const std::vector<PagePtr>& GetPages() const { return m_pages; }
  std::shared_ptr<DataStorage::IDataStorage> GetDataStorage() const { return m_dataStorage; }
  const std::wstring& GetProjectConfigPath() const { return m_commonInfo.cfgPath; }

 protected:
  // ---- the step context ----
  int DetectedAction() const override { return m_detectedAction; }
  int InstalledKind() const override { return m_installedKind; }
  const CommonTools::Script::ProductDescription& ProductData() const override { return m_product; }
  const CommonTools::Script::CommonInfo& CommonData() const override { return m_commonInfo; }
  DataStorage::IDataStorage* Storage() const override { return m_dataStorage.get(); }
  CUserSettings* Settings() const override { return m_userSettings.get(); }
  const CommonTools::CLibraries& Components() const override { return m_libraries; }
  std::wstring WindowsFolder() const override { return m_hooks.windowsFolder; }
  std::wstring ProgramPath() const override { return m_hooks.programPath; }
  InstallGui::IProgressDisplay& Progress() override;
  std::wstring RecordPath() override { return InstalledProductsPath(); }
  bool RecordedFolder(std::wstring& folder) override;
  void RecordProduct(int type, const std::wstring& folder) override;
  void ForgetProduct() override;
  bool SaveRecord(const std::wstring& path) override;
  InstallGui::PageButton ShowPage(const std::wstring& name) override;
  bool ProcessAdditional(const CommonTools::SettingsNodePtr& root, const std::wstring& basePath,
                         bool remove) override {
    return ProcessInstallAdditional(root, basePath, remove);
  }
  int RunResult() const override { return m_result; }

  void ChooseAndProcess(int action);
  void ChooseFreshInstallation(int action);
  void ChooseUpdateOrRepair(int action);
  void EndOfRun();
  // Reads COMMONINFO and CFG below INSTALL.
  void ReadCommonInfo();
  // The parts of Init: the archive opened and the script loaded from it (the archive's full
  // path returned), the run log started where COMMONINFO puts it, the languages and graphics
  // loaded, the main window made, the record of installed products loaded with the common
  // folder, and the installed copy of this product found.
  std::wstring OpenPackage();
  void StartRunLog();
  void LoadLanguagesAndGraphics();
  void MakeMainWindow();
  void LoadRecord();
  void FindInstalledCopy();
  bool IsDialogShown(const std::wstring& page);
  bool HasSection(const std::wstring& page);
  PagePtr MakePage(const std::wstring& name);
  // One page of a page list: added when the run offers it (`offered` null: always) and the
  // script shows it (`scriptMayHide` false: whatever the script says); `prepare` runs before the
  // page is made.
  struct ListedPage {
    const wchar_t* name;
    bool (*offered)(const CInstallManager& m) = nullptr;
    void (*prepare)(CInstallManager& m) = nullptr;
    bool scriptMayHide = true;
  };
  void AddPages(std::initializer_list<ListedPage> list);
  // A repair, truncated repair or update page with the client package offered for a server.
  PagePtr OptionPage(std::shared_ptr<InstallGui::COptionPage> option);
  void SetCurrentLanguageFromSettings();
  // A path attribute: "/" becomes "\".
  std::wstring ReadPathAttribute(const CommonTools::SettingsNodePtr& node,
                                 const std::wstring& name);
  bool ScriptRoot(CommonTools::SettingsNodePtr& root);
  static CommonTools::Script::ProductDescription UnreadProduct() {
    CommonTools::Script::ProductDescription d;
    d.version = -1;
    d.build = -1;
    return d;
  }

  Hooks m_hooks;

  // The script's product description, COMMONINFO/CFG and the rights found, as they were read.
  // Version and build are -1 until a script is loaded.
  bool m_scenarioLoaded = false;
  CommonTools::Script::ProductDescription m_product = UnreadProduct();
  CommonTools::Script::CommonInfo m_commonInfo;
  AdminRights m_rights;
  int m_libraryCount = 0;

  // Run state.
  std::shared_ptr<DataStorage::IDataStorage> m_dataStorage;
  std::shared_ptr<CUserSettings> m_userSettings;
  InstalledProducts m_installedProducts;
  std::vector<PagePtr> m_pages;
  int m_detectedAction = -1;
  int m_installedKind = -1;
  int m_installedBuild = 0;
  int m_scenarioBuild = 0;
  int m_result = 0;
  bool m_serverAdmin = false;
  bool m_adminFlag = false;
  std::wstring m_archivePath;
  std::wstring m_processorArchitecture, m_osCapacity;
  std::wstring m_serverName;
  std::wstring m_iconPath;
  CommonTools::CMacroTable m_macros;
  CommonTools::CLibraries m_libraries;
  CommonTools::IStepDispatcher* m_stepDispatcher = this;
  InstallSteps::ScheduledEntries m_scheduled;
  // Set only while RunSteps carries out a fresh server or local installation; still set when a
  // raised result left RunSteps, so that FinishRun rolls the installation back.
  bool m_freshInstallRun = false;
  // The guard of every destructive or widening operation of the steps: the protected places,
  // the product folder of the run, what this run and the product's earlier runs made. While
  // FinishRun takes back a cut-short installation it is rolling back: only what this run made
  // is removed.
  InstallSteps::StepGuard m_guard;
  std::wstring m_clientMsiPath;
};

}  // namespace InstallManager
