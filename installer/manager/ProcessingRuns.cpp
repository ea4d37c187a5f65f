// The processing runs: what the chosen action carries out. Each action hands its folder to the
// one step sequence (RunSteps), updates the record of installed products and ends with the
// finish page; FinishRun ends every run and rolls back a fresh installation that was cut short.
#include "manager/InstallManager.h"

#include "app/Tools.h"
#include "gui/pages/DlgDestination.h"
#include "gui/pages/DlgFinish.h"
#include "package/ScriptVocabulary.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/ShellFolders.h"
#include "platform/Text.h"
#include "steps/FileUtilities.h"
#include "steps/UninstallerStep.h"

namespace InstallManager {

using CommonTools::SettingsNodePtr;
using CommonTools::Variant;
namespace Attribute = ScriptNames::Attribute;
namespace Msg = ScriptNames::Message;
namespace Stage = ScriptNames::Stage;

namespace {

// The stage texts of one run, by the stage IDs of the table below.
struct StageTexts {
  const wchar_t* main;
  const wchar_t* removal;
  const wchar_t* shortcuts;
  const wchar_t* registry;
  const wchar_t* shares;
  const wchar_t* rights;
  const wchar_t* finish;
};

// clang-format off
//                                    main              removal           shortcuts            registry            shares              rights         finish
constexpr StageTexts kInstalling = {Stage::kInstall,   Stage::kUninstall, Stage::kShortcuts,   Stage::kRegistry,   Stage::kShareServer, Stage::kRights, Stage::kFinish};
constexpr StageTexts kRemoving   = {Stage::kUninstall, Stage::kUninstall, Stage::kUnShortcuts, Stage::kUnRegistry, Stage::kShareServer, Stage::kRights, Stage::kUnFinish};
// clang-format on

// The situations of the finish page.
enum Situation { kFreshServer, kOther, kUpdated, kRepaired, kRemoved };

std::wstring FolderOf(const std::wstring& path) {
  std::wstring folder = path;
  platform::PathRemoveFileSpecW(folder);
  return folder;
}

}  // namespace

bool CInstallManager::RunSteps(int type, const SettingsNodePtr& root, bool remove,
                               const std::wstring& basePath) {
  const StageTexts& stages = remove ? kRemoving : kInstalling;
  auto& window = GetGuiTools().MainWindow();
  window.SetEscapeHandler([] {
    if (GetGuiTools().ShowMessage(Msg::kCancelInstallation,
                                  InstallGui::MB_YESNO | InstallGui::MB_ICONQUESTION) ==
        InstallGui::IDYES) {
      Log(LogLevel::Warning, L"User interrupted process by Escape!");
      RaiseResult(irCancelled);
    }
  });
  if (auto* storage = dynamic_cast<DataStorage::CDataStorage*>(m_dataStorage.get()))
    storage->SetProgressSink(&window);
  // Nothing of the run touches the machine before its folder is known to be the product's.
  if (!GuardRun(basePath, L"RunSteps")) return false;
  const bool rollingBack = m_guard.RollingBack();

  window.BeginProgress(0, false);
  ShowStage(stages.main);
  m_scheduled.Clear();
  ProcessData(root, remove, basePath);
  ProcessComponents(root, remove, basePath);
  window.SetProgressRange(FolderWorkTotal(basePath));

  ShowStage(stages.main);
  CommonStepFolders(m_scheduled.installFolders, remove, basePath);
  CommonStepFiles(m_scheduled.installFiles, remove, basePath);
  ShowStage(stages.removal);
  CommonStepFolders(m_scheduled.removeFolders, true, basePath);
  CommonStepFiles(m_scheduled.removeFiles, true, basePath);
  window.FillProgress();
  window.SetItemText(L" ");
  window.EndProgress();

  ShowStage(stages.shortcuts);
  ProcessShortcuts(root, remove, basePath);
  ShowStage(stages.registry);
  ProcessRegistry(root, remove);
  if (!remove) ProcessUpdateProjectConfig(root, basePath);
  ShowStage(nullptr);
  if (type == kServer) {
    ShowStage(stages.shares);
    ProcessServer(root, remove, basePath);
  }

  // The record.
  if (remove) {
    Log(LogLevel::Info, L"Remove product %s version %i", m_product.pv, m_product.version);
    m_installedProducts.RemoveProduct(m_product.pv, m_product.version);
  } else {
    AddProduct(type, basePath);
  }

  // The common folders and files: copied by every installation, removed with the last product
  // of the family that nothing else uses.
  if (remove) {
    std::wstring counterFolder;
    if (m_installedProducts.Count() == 0 &&
        m_installedProducts.GetCommonUsage(counterFolder, L"") == 0) {
      Log(LogLevel::Info, L"Delete common folders");
      CommonStepFolders(m_scheduled.commonFolders, true, basePath);
      CommonStepFiles(m_scheduled.commonFiles, true, basePath);
      // The installation folder goes when it holds no file any more (empty folders at most),
      // never a folder of the system, and only when the product (in a roll-back this run)
      // made it.
      bool holdsFiles = false;
      for (const auto& p : InstallSteps::StepGuard::ListFiles(basePath))
        holdsFiles = holdsFiles || !platform::PathIsDirectoryW(p);
      // (The last product of the family takes the family's folder: the products share it.)
      if (!basePath.empty() && platform::PathIsDirectoryW(basePath) && !holdsFiles &&
          !InstallSteps::IsProtectedFolder(basePath) &&
          (!rollingBack || m_guard.MadeByRun(basePath)))
        InstallSteps::DeleteFolder(basePath);
    } else {
      CountKeptCommonFolders(basePath);
    }
  } else {
    Log(LogLevel::Info, L"Copy common folders");
    CommonStepFolders(m_scheduled.commonFolders, false, basePath);
    CommonStepFiles(m_scheduled.commonFiles, false, basePath);
    if (type == kLocal) {
      ShowStage(stages.rights);
      ProcessRights(root, false, basePath);
    }
  }
  window.SetItemText(L" ");
  window.FillProgress();
  window.EndProgress();
  ShowStage(nullptr);

  if (!remove) {
    SaveLibrariesToRecord();
    SaveLanguageToRecord();
  }
  std::wstring recordPath = InstalledProductsPath();
  if (rollingBack && m_installedProducts.Count() == 0 && m_guard.MadeByRun(recordPath)) {
    // The roll-back of the run that would have made the record: no record is left behind.
    if (platform::PathFileExistsW(recordPath)) InstallSteps::StepGuard::DeleteOwnFile(recordPath);
    Log(LogLevel::Info, L"FinishRun: no record of installed products is kept: %s", recordPath);
  } else if (!m_installedProducts.Save(recordPath)) {
    Log(LogLevel::Error, L"Can't save info about installed products: %s", recordPath);
  }
  SaveInstalledItems(remove);

  ProcessRedist(root, remove);
  ProcessInstallAdditional(root, basePath, remove);
  ShowStage(stages.finish);

  // A roll-back leaves the uninstaller alone; any other installation registers what it
  // installed (also when some file or folder failed, so that the user can still remove the
  // product). A removal takes the registration away at its very end (ProcessInstallMain).
  if (!rollingBack && !remove) RegisterUninstaller(basePath);
  return true;
}

void CInstallManager::ProcessData(const SettingsNodePtr& root, bool remove,
                                  const std::wstring& basePath) {
  Log(LogLevel::Info, L"ProcessData start");
  if (!m_dataStorage || !root) return;
  SettingsNodePtr install;
  if (!root->GetChild(ScriptNames::Element::kInstall, install) || !install) return;
  if (!IsIgnored(install)) CommonSteps(install, remove, basePath);
}

bool CInstallManager::ProcessInstallAdditional(const SettingsNodePtr& root,
                                               const std::wstring& basePath, bool remove) {
  if (remove) return true;
  Log(LogLevel::Info, L"ProcessInstallAdditional start");
  try {
    SettingsNodePtr additional;
    if (!root || !root->GetChild(ScriptNames::Element::kAdditional, additional) || !additional)
      return false;
    if (IsIgnored(additional)) return true;
    CommonSteps(additional, false, basePath);
    Log(LogLevel::Info, L"ProcessInstallAdditional Finish");
    return true;
  } catch (const CommonTools::SettingsError&) {
    Log(LogLevel::Info, L"ProcessInstallAdditional catch Error");
    return false;
  }
}

bool CInstallManager::ProcessInstallMain(int type) {
  if (type == kInstall) {
    // A script that installs without offering the kinds installs on this computer.
    type = kLocal;
    m_installedKind = kLocal;
  }
  const bool remove = type == kUninstall;
  const size_t pagesBefore = m_pages.size();
  Log(LogLevel::Info, L"ProcessInstallMain: Start");
  SettingsNodePtr root;
  if (!ScriptRoot(root) || !root) RaiseResult(irErrorDuringInstall);

  if (type == kServer || type == kLocal) {
    Log(LogLevel::Info, L"ProcessInstallMain: choose install Server or Local");
    std::wstring folder = m_userSettings->GetText(Attribute::kInstallPath, L"");
    if (folder.empty()) {
      folder = m_installedProducts.GetPath();
      if (!folder.empty()) m_userSettings->Set(Attribute::kInstallPath, Variant(folder));
    }
    // This operation's pages are a group of their own: Back on the first of them goes back to
    // the pages before.
    std::vector<PagePtr> before;
    before.swap(m_pages);
    if (folder.empty() || !platform::PathIsDirectoryW(folder)) {
      if (m_detectedAction == kRepair) {
        Log(LogLevel::Error, L"ProcessInstallMain: the installation folder %s does not exist",
            folder);
        RaiseResult(irInstalledProducts);
      }
      // The folder the destination page proposes; with the page hidden it is the folder.
      std::wstring proposed = folder;
      if (proposed.empty()) {
        platform::SHGetSpecialFolderPathW(nullptr, proposed, platform::CSIDL_PROGRAM_FILES, false);
        platform::PathAppendW(proposed, m_product.name);
      }
      m_userSettings->Set(Attribute::kInstallPath, Variant(proposed));
      if (IsDialogShown(ScriptNames::Page::kDestination)) {
        auto page = MakePage(ScriptNames::Page::kDestination);
        std::uint64_t count = 0, packed = 0, unpacked = 0;
        std::wstring everything;
        if (m_dataStorage && m_dataStorage->Measure(&everything, count, packed, unpacked))
          static_cast<InstallGui::CDlgDestination&>(*page).SetRequiredBytes(
              static_cast<std::uint32_t>(unpacked > 0xFFFFFFFFu ? 0xFFFFFFFFu : unpacked));
        AddPage(page);
      }
    }
    AddPages({
        {ScriptNames::Page::kComponents,
         [](const CInstallManager& m) { return m.GetLibraryCount() > 0; },
         [](CInstallManager& m) { m.SaveSelection(); }},
        {ScriptNames::Page::kSummary},
    });
    int r = m_pages.empty() ? 1 : RunPages(0);
    if (r == 0) RaiseResult(irCancelled);
    if (r == 2) {
      m_pages.swap(before);
      return false;
    }
    m_pages.clear();
    ApplySelectionSetting();
    (void)pagesBefore;

    std::wstring installPath = m_userSettings->GetText(Attribute::kInstallPath, L"");
    if (installPath.empty() || platform::PathIsRelativeW(installPath)) {
      // Without a full folder the steps would write relative to wherever the run stands.
      Log(LogLevel::Error, L"ProcessInstallMain: no full installation folder was chosen (\"%s\")",
          installPath);
      RaiseResult(irErrorDuringInstall);
    }
    m_installedProducts.SetPath(installPath);
    m_userSettings->Set(Attribute::kProjectPath, Variant(installPath));
    // What exists now is not this run's to take back in a roll-back.
    m_guard.ForgetRun();
    RememberMissing(installPath);
    RememberMissing(InstalledProductsPath());
    RememberMissing(InstalledItemsPath());
    m_freshInstallRun = true;
    RunSteps(type, root, remove, installPath);
    m_freshInstallRun = false;
    FinishPage(
        FinishTexts(m_detectedAction == kInstall && type == kServer ? kFreshServer : kOther, type));
    return true;
  }

  if (type == kClient) {
    Log(LogLevel::Info, L"ProcessInstallMain: choose install Client");
    int r = ClientInstall(root, remove, L"");
    if (r == 0) RaiseResult(irCancelled);
    if (r == 2) return false;
    FinishPage({});
    return true;
  }

  if (type != kUninstall) return true;
  if (GetGuiTools().ShowMessage(
          Msg::kUninstall, InstallGui::MB_YESNO | InstallGui::MB_ICONQUESTION) != InstallGui::IDYES)
    return false;
  InstalledProduct entry;
  int kind = kLocal;
  bool unregister = true;  // the steps ran, or there were none left to run
  if (m_installedProducts.Find(m_product.pv, m_product.version, entry) >= 0) {
    std::wstring basePath = FolderOf(entry.path);
    kind = InstallTypeFromName(entry.type);
    if (kind == kClient) {
      int r = ClientInstall(root, remove, basePath);
      if (r == 0) RaiseResult(irErrorDuringInstall);
      if (r == 2) return false;
      unregister = false;
    } else {
      unregister = RunSteps(kind, root, remove, basePath);
    }
  } else if (RemovalLeftItsEntry()) {
    // A removal of the product ended early, after its record no longer held the product: this
    // run from its entry in the list of programs does the rest.
    Log(LogLevel::Info,
        L"ProcessInstallMain: product %s version %i is no longer recorded; the rest of its "
        L"removal is done",
        m_product.pv, m_product.version);
    SaveInstalledItems(true);
  } else {
    // Nothing of this product is recorded: nothing is removed, and the run says so.
    Log(LogLevel::Error,
        L"ProcessInstallMain: product %s version %i is not installed; nothing is removed",
        m_product.pv, m_product.version);
    m_result = irErrorDuringInstall;
    return true;
  }
  DeleteAllUsersFolders();
  if (m_installedProducts.Count() == 0 && !GetInstallTools().Log().ErrorSeen()) {
    Log(LogLevel::Info, L"ProcessInstallMain: no other projects");
    std::wstring recordPath = InstalledProductsPath();
    std::wstring folder = FolderOf(recordPath);
    Log(LogLevel::Info, L"ProcessInstallMain: try delete %s", folder);
    // The empty record goes; its folder only when nothing else (another product's files, the
    // run log) is in it.
    InstallSteps::StepGuard::DeleteOwnFile(recordPath);
    if (!folder.empty() && InstallSteps::IsFolderEmpty(folder) &&
        !InstallSteps::IsProtectedFolder(folder))
      InstallSteps::DeleteFolder(folder);
    else
      Log(LogLevel::Info, L"ProcessInstallMain: %s is kept: it holds more than the record", folder);
  }
  // The entry in the list of programs goes last: until then, a removal stopped at any moment
  // is started again from it and finishes what this one began.
  if (unregister) UnregisterUninstaller();
  FinishPage(FinishTexts(kRemoved, kind));
  return true;
}

bool CInstallManager::ProcessRepairOrUpdate() {
  SettingsNodePtr root;
  if (!ScriptRoot(root) || !root) RaiseResult(irErrorDuringInstall);
  InstalledProduct entry;
  if (m_installedProducts.Find(m_product.pv, m_product.version, entry) < 0) {
    // The text ends with a blank, as every earlier version wrote it.
    Log(LogLevel::Error, L"Project %s version %i is not detected ", m_product.pv,
        m_product.version);
    return false;
  }
  int kind = InstallTypeFromName(entry.type);
  if (kind == kClient) {
    int r = ClientInstall(root, false, L"");
    if (r == 2) return false;
    if (r == 0) RaiseResult(irErrorDuringInstall);
    FinishPage({});
    return true;
  }
  ApplySelectionSetting();
  std::wstring basePath = FolderOf(entry.path);
  if (m_detectedAction == kRepair && !platform::PathIsDirectoryW(basePath)) {
    Log(LogLevel::Error, L"The installation folder %s of project %s version %i does not exist",
        basePath, m_product.pv, m_product.version);
    RaiseResult(irInstalledProducts);
  }
  m_userSettings->Set(Attribute::kInstallPath, Variant(basePath));
  m_userSettings->Set(Attribute::kProjectPath, Variant(basePath));
  m_installedProducts.SetPath(basePath);
  RunSteps(kind, root, false, basePath);
  bool updated = m_detectedAction == kUpdate || m_detectedAction == kOnlyUpdate;
  FinishPage(FinishTexts(updated ? kUpdated : kRepaired, kind));
  return true;
}

bool CInstallManager::ProcessOnlyUpdate() {
  InstalledProduct entry;
  if (m_installedProducts.Find(m_product.pv, m_product.version, entry) >= 0) {
    std::wstring basePath = FolderOf(entry.path);
    m_userSettings->Set(Attribute::kInstallPath, Variant(basePath));
    m_userSettings->Set(Attribute::kProjectPath, Variant(basePath));
    m_installedProducts.SetPath(basePath);
    ProcessRepairOrUpdate();
  }
  return true;
}

bool CInstallManager::ChangeConfiguration(const std::wstring& path) {
  Log(LogLevel::Info, L"ChangeConfiguration: start");
  SettingsNodePtr root;
  if (!ScriptRoot(root) || !root) RaiseResult(irErrorDuringInstall);
  // The steps' folder is the one that holds the product's recorded path (as for a repair);
  // the recorded path itself would put every folder one level too deep.
  std::wstring basePath = m_userSettings->GetText(Attribute::kInstallPath, L"");
  if (basePath.empty()) basePath = FolderOf(path);
  if (!GuardRun(basePath, L"ChangeConfiguration")) {
    FinishPage({});
    return true;
  }
  m_scheduled.installFolders.clear();
  m_scheduled.removeFolders.clear();
  m_scheduled.installFiles.clear();
  m_scheduled.removeFiles.clear();
  ApplySelectionSetting();
  ProcessComponents(root, false, basePath);

  auto& window = GetGuiTools().MainWindow();
  window.SetEscapeHandler([] {
    if (GetGuiTools().ShowMessage(Msg::kCancelInstallation,
                                  InstallGui::MB_YESNO | InstallGui::MB_ICONQUESTION) ==
        InstallGui::IDYES) {
      Log(LogLevel::Warning, L"User interrupted process by Escape!");
      RaiseResult(irCancelled);
    }
  });
  if (auto* storage = dynamic_cast<DataStorage::CDataStorage*>(m_dataStorage.get()))
    storage->SetProgressSink(&window);
  window.BeginProgress(0, false);
  std::uint64_t total = FolderWorkTotal(basePath);
  window.SetProgressRange(total);
  Log(LogLevel::Info, L"ChangeConfiguration: Size processing = %s", std::to_wstring(total));
  ShowStage(Stage::kInstall);
  CommonStepFolders(m_scheduled.installFolders, false, basePath);
  CommonStepFiles(m_scheduled.installFiles, false, basePath);
  ShowStage(Stage::kUninstall);
  CommonStepFolders(m_scheduled.removeFolders, true, basePath);
  CommonStepFiles(m_scheduled.removeFiles, true, basePath);
  window.SetItemText(L" ");
  window.FillProgress();
  window.EndProgress();
  ShowStage(Stage::kFinish);

  ProcessUpdateProjectConfig(root, basePath);
  SaveLibrariesToRecord();
  std::wstring recordPath = InstalledProductsPath();
  if (!m_installedProducts.Save(recordPath))
    Log(LogLevel::Error, L"Can't save info about installed products: %s", recordPath);
  SaveInstalledItems(false);
  FinishPage({});
  return true;
}

FinishRequest CInstallManager::FinishTexts(int situation, int kind) const {
  const std::wstring exportNote =
      L"\n\nIf you wish to have MSI-file for remote client installation export it by pressing "
      L"button \"Export\" ";
  switch (situation) {
    case kFreshServer:
      return {Msg::kFinishInstallServerOk, L"Server installation finish successfully." + exportNote,
              true};
    case kUpdated:
      if (kind == kServer)
        return {Msg::kFinishUpdateServerOk, L"Server updating successfully." + exportNote, true};
      return {Msg::kFinishUpdateOk, L"Updating successfully.", false};
    case kRepaired:
      if (kind == kServer)
        return {Msg::kFinishRepairServerOk, L"Server repairing successfully." + exportNote, true};
      return {Msg::kFinishRepairOk, L"Repairing successfully.", false};
    case kRemoved:
      return {Msg::kFinishUninstall, L"TOLMERA 14 Installer: Uninstall finish successfully", false};
    default: return {};
  }
}

void CInstallManager::FinishPage(const FinishRequest& request) {
  if (!IsDialogShown(ScriptNames::Page::kFinish)) return;
  std::wstring text;
  if (m_result == irErrorDuringInstall) {
    // Something failed: the page says so instead of a success text.
    text = ResultText(irErrorDuringInstall);
  } else if (!request.messageId.empty()) {
    text = GetGuiTools().GetMessage(request.messageId);
    if (text.empty()) text = request.defaultText;
  }
  std::wstring extra;
  const bool restartOffered = m_result == irDeleteFolder;
  if (restartOffered) {
    extra = GetGuiTools().GetMessage(Msg::kErrorDeleteFolder);
    if (extra.empty())
      extra =
          L"Some files or folders could not be deleted. Possibly they are locked by another "
          L"applications. To delete them you need to restart Windows.";
  }
  if (!extra.empty()) text = text.empty() ? extra : text + L"\n\n" + extra;
  InstallGui::CDlgFinish page(text, restartOffered, request.offerExport ? m_clientMsiPath : L"");
  page.SetBuilds(m_installedBuild, m_scenarioBuild);
  InstallGui::PageServices services;
  services.settings = m_userSettings.get();
  services.languages = &GetGuiTools().Languages();
  services.root = [this](SettingsNodePtr& root) { return ScriptRoot(root); };
  services.showText = [](const std::wstring& t, unsigned style) {
    return GetGuiTools().ShowText(t, style);
  };
  page.SetServices(std::move(services));
  page.LoadSettings();
  auto* ui = GetGuiTools().UiBackend();
  if (!ui) throw InstallGui::UnansweredQuestion("No user interface to show the finish page");
  ui->RunPageModal(page);
  if (m_result == irErrorDuringInstall) return;
  m_result = page.RestartNow() ? irDeleteFolder : irSuccess;
}

int CInstallManager::FinishRun() {
  try {
    if (m_freshInstallRun && m_result != irSuccess && m_detectedAction == kInstall) {
      // A fresh installation was cut short: what this run put on the machine goes again.
      SettingsNodePtr root;
      if (ScriptRoot(root) && root && m_userSettings) {
        std::wstring path = m_userSettings->GetText(Attribute::kProjectPath, L"");
        if (path.empty()) path = m_userSettings->GetText(Attribute::kTolmeraPath, L"");
        Log(LogLevel::Info, L"FinishRun: the installation into %s is rolled back", path);
        GetGuiTools().MainWindow().SetEscapeAllowed(false);
        m_guard.SetRollingBack(true);
        int keep = m_result;
        try {
          if (!path.empty()) RunSteps(kUninstall, root, true, path);
        } catch (const InstallResultError& e) {
          Log(LogLevel::Error, L"FinishRun: the roll-back ended with %s", ResultText(e.result));
        }
        m_guard.SetRollingBack(false);
        m_result = keep;
      }
      m_freshInstallRun = false;
    }
  } catch (const std::exception& e) {
    Log(LogLevel::Error, L"FinishRun: the roll-back failed: %s", platform::FromUtf8(e.what()));
  }
  if (GetGuiTools().HasMainWindow()) GetGuiTools().MainWindow().DestroyMainWindow();
  Clean();
  return m_result;
}

void CInstallManager::Clean() {
  Log(LogLevel::Info, L"CInstallManager::Clean");
  // The pictures, the user settings and the library list stay readable until the next run's
  // set-up replaces them (the main window may still draw, and callers read the run's state);
  // the archive goes now, with the files it unpacked.
  if (m_dataStorage) m_dataStorage->Close();
  m_scheduled.Clear();
}

void CInstallManager::ApplySelectionSetting() {
  if (!m_userSettings || GetLibraryCount() == 0) return;
  std::wstring selection = m_userSettings->GetText(Attribute::kSelectedLibraries, L"empty");
  if (selection == L"empty") return;
  for (int i = 0; i < GetLibraryCount(); ++i) SetSelected(i, false);
  for (long id : CommonTools::SplitIds(selection)) SetSelectedById(static_cast<int>(id), true);
}

void CInstallManager::RememberMissing(const std::wstring& path) { m_guard.NoteMissing(path); }

std::wstring CInstallManager::InstalledItemsPath() {
  return InstallSteps::InstalledItemsPath(InstalledProductsPath(), m_product.pv, m_product.version);
}

bool CInstallManager::GuardRun(const std::wstring& basePath, const wchar_t* who) {
  if (!m_guard.BeginRun(basePath, who)) {
    m_result = irErrorDuringInstall;
    return false;
  }
  // A roll-back takes back this run's own items only.
  if (m_guard.RollingBack()) return true;
  InstallSteps::InstalledItems items;
  std::wstring error;
  const std::wstring itemsPath = InstalledItemsPath();
  const bool found = InstallSteps::LoadInstalledItems(itemsPath, items, error);
  if (!found && !error.empty()) {
    Log(LogLevel::Error, L"%s: the installed items %s are not read: %s; nothing is changed",
        std::wstring(who), itemsPath, error);
    m_result = irErrorDuringInstall;
    return false;
  }
  if (found && (!platform::EqualsNoCase(items.base, m_guard.ProductFolder()) ||
                items.pv != m_product.pv || items.version != m_product.version)) {
    // A record edited to point elsewhere cannot widen what the product's items allow.
    Log(LogLevel::Error,
        L"%s: the product folder %s is not the folder %s the product was installed in; nothing "
        L"is changed",
        std::wstring(who), m_guard.ProductFolder(), items.base);
    m_result = irErrorDuringInstall;
    return false;
  }
  m_guard.UseProductItems(items, found);
  return true;
}

bool CInstallManager::GuardFor(const std::wstring& basePath, const wchar_t* who) {
  std::wstring full;
  if (!m_guard.ProductFolder().empty() &&
      platform::GetFullPathNameW(basePath, full) == platform::ERROR_SUCCESS) {
    platform::PathRemoveBackslashW(full);
    if (platform::EqualsNoCase(full, m_guard.ProductFolder())) return true;
  }
  return GuardRun(basePath, who);
}

bool CInstallManager::RemovalLeftItsEntry() {
  return InstallSteps::UninstallerStep::EntryStartsPackage(m_product.regKey, m_archivePath);
}

void CInstallManager::SaveInstalledItems(bool remove) {
  const std::wstring itemsPath = InstalledItemsPath();
  InstallSteps::PathSet none;
  if (m_guard.RollingBack()) {
    // The run that would have made the file leaves none behind.
    if (m_guard.MadeByRun(itemsPath)) InstallSteps::StepGuard::DeleteOwnFile(itemsPath);
    return;
  }
  InstalledProduct entry;
  if (remove && m_installedProducts.Find(m_product.pv, m_product.version, entry) < 0) {
    if (platform::PathFileExistsW(itemsPath)) InstallSteps::StepGuard::DeleteOwnFile(itemsPath);
    return;
  }
  if (!InstallSteps::SaveInstalledItems(itemsPath,
                                        m_guard.AllItems(m_product.pv, m_product.version)))
    Log(LogLevel::Error, L"Can't save the installed items of the product: %s", itemsPath);
}

}  // namespace InstallManager
