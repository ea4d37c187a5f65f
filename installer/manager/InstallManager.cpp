#include "manager/InstallManager.h"

#include "app/RunLog.h"
#include "app/Tools.h"
#include "app/Version.h"
#include "gui/Localizer.h"
#include "gui/pages/DlgClientAttributes.h"
#include "gui/pages/DlgComponents.h"
#include "gui/pages/DlgDestination.h"
#include "gui/pages/DlgGreeting.h"
#include "gui/pages/DlgLangSelect.h"
#include "gui/pages/DlgLicense.h"
#include "gui/pages/DlgSummary.h"
#include "gui/pages/OptionPages.h"
#include "package/LogSink.h"
#include "package/ScriptFormat.h"
#include "package/ScriptVocabulary.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/ShellFolders.h"
#include "platform/Text.h"

#include <exception>

namespace InstallManager {

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;
using CommonTools::Variant;
using namespace InstallGui;
namespace Msg = ScriptNames::Message;

namespace {

bool IsFreshInstall(int w) { return w == kInstall || w == kServer || w == kLocal; }
bool NeedsRecord(int w) {
  return w == kUpdate || w == kOnlyUpdate || w == kRepair || w == kUninstall;
}

}  // namespace

CInstallManager::CInstallManager() = default;
CInstallManager::~CInstallManager() = default;

bool CInstallManager::ScriptRoot(SettingsNodePtr& root) {
  return GetInstallTools().GetScriptRoot(root);
}

std::wstring CInstallManager::ReadPathAttribute(const SettingsNodePtr& node,
                                                const std::wstring& name) {
  return ReadAttribute(node, name, L"", true);
}

int CInstallManager::Run(const std::wstring& archivePath, bool adminFlag) {
  m_archivePath = archivePath;
  m_adminFlag = adminFlag;
  try {
    try {
      if (!Init()) RaiseResult(irInitFailed);
      if (m_hooks.wait) {
        auto* ui = GetGuiTools().UiBackend();
        if (!ui || !ui->IsScripted()) m_hooks.wait(3000);
      }
      if (!CheckSystem()) RaiseResult(irOsVersion);
      int w = DetectAction();
      Log(LogLevel::Info, L"Install Type = %s =====================", InstallTypeLogName(w));

      // A value that leaves the run with nothing to do is a script that cannot be carried
      // out, not a success.
      if (!IsFreshInstall(w) && w != kUpdate && w != kOnlyUpdate && w != kRepair &&
          w != kUninstall) {
        Log(LogLevel::Error,
            L"CInstallManager::Run() the script's InstallType = '%s' leaves no action to take",
            m_product.installType);
        RaiseResult(irScenario);
      }
      if (NeedsRecord(w)) {
        std::wstring file = InstalledProductsPath();
        // A removal that ended early may have taken the record away before the product's
        // entry in the list of programs; a run from that entry does the rest.
        if ((file.empty() || !platform::PathFileExistsW(file)) &&
            !(w == kUninstall && RemovalLeftItsEntry()))
          RaiseResult(irScriptFile);
      }
      CheckRights();
      if (!m_rights.registryWritable || !m_rights.programFilesWritable) {
        Log(LogLevel::Error,
            L"User has not rights for change of registry (LM) or folder Program Files");
        GetGuiTools().ShowMessage(Msg::kRights, MB_ICONERROR);
        RaiseResult(irRights);
      }
      m_detectedAction = w;
      if (!m_serverAdmin && adminFlag) m_serverAdmin = true;
      m_serverAdmin = m_hooks.verifySetShareForFolder ? m_hooks.verifySetShareForFolder() : false;
      if (m_installedKind == kServer && !m_serverAdmin && NeedsRecord(w)) {
        Log(LogLevel::Error,
            L"Detected Server installation for user without Domain or Workgroup Administrator "
            L"rights");
        if (!m_rights.isDomainAdmin) {
          if (m_rights.joinStatus == 3)
            GetGuiTools().ShowMessage(Msg::kRightsDomainForServerChange, MB_ICONERROR);
          else if (m_rights.joinStatus != 2)
            GetGuiTools().ShowMessage(Msg::kRightsForServerChange, MB_ICONERROR);
        }
        RaiseResult(irRights);
      }
      ChooseAndProcess(w);
    } catch (const InstallResultError& e) {
      m_result = e.result;
    } catch (const UnansweredQuestion& e) {
      Log(LogLevel::Error, L"CInstallManager::Run() a question was not answered: %s",
          platform::FromUtf8(e.what()));
      m_result = irErrorDuringInstall;
    } catch (const CommonTools::SettingsError& e) {
      Log(LogLevel::Error, L"CInstallManager::Run() error in the script's settings: %s",
          platform::FromUtf8(e.what()));
      m_result = irErrorDuringInstall;
    } catch (const std::exception& e) {
      Log(LogLevel::Error, L"CInstallManager::Run() unexpected error: %s",
          platform::FromUtf8(e.what()));
      m_result = irErrorDuringInstall;
    } catch (...) {
      Log(LogLevel::Error, L"CInstallManager::Run() unexpected error");
      m_result = irErrorDuringInstall;
    }
    EndOfRun();
    return FinishRun();
  } catch (const std::exception& e) {
    // Even the end of a run may fail (the log gone at process exit, say); the run still ends.
    try {
      Log(LogLevel::Error, L"CInstallManager::Run() error at the end of the run: %s",
          platform::FromUtf8(e.what()));
    } catch (...) {}
  } catch (...) {}
  return m_result;
}

void CInstallManager::EndOfRun() {
  try {
    if (m_result != irSuccess && m_result != irCancelled)
      Log(LogLevel::Error, L"%s", ResultText(m_result));
    if (m_result != irOldInstall && m_result != irScriptFile) {
      int type = -1;
      if (m_userSettings) {
        try {
          type = m_userSettings->GetInt(ScriptNames::Attribute::kInstallType, -1);
        } catch (const CommonTools::SettingsError&) {
          type = -1;
        }
      }
      if (type != kUninstall && GetInstallTools().Log().ErrorSeen()) {
        if (m_scenarioLoaded)
          OfferLogSave();
        else
          GetGuiTools().ShowText(L"Installation is corrupted!", MB_ICONERROR);
      }
    }
  } catch (const UnansweredQuestion& e) {
    Log(LogLevel::Error, L"CInstallManager::Run() a question was not answered: %s",
        platform::FromUtf8(e.what()));
  } catch (const InstallResultError& e) {
    Log(LogLevel::Error, L"%s", ResultText(e.result));
  } catch (const std::exception& e) {
    Log(LogLevel::Error, L"CInstallManager::Run() unexpected error at the end of the run: %s",
        platform::FromUtf8(e.what()));
  }
}

bool CInstallManager::Init() {
  // 1. What the macros %PROCESSOR_ARCHITECTURE% and %CAPACITY_OS% stand for.
  bool wow64 = platform::CurrentConfig().IsWow64();
  m_processorArchitecture = wow64 ? L"x64" : L"x32";
  m_osCapacity = wow64 ? L"64" : L"32";

  // 2. The program's folder becomes the current directory.
  std::wstring program =
      m_hooks.programPath.empty() ? platform::GetModuleFileNameW() : m_hooks.programPath;
  std::wstring folder = program;
  platform::PathRemoveFileSpecW(folder);
  platform::SetCurrentDirectoryW(folder);

  // 3. Version and date of the installer.
  std::wstring version = InstallerVersion();
  std::wstring date = InstallerDate();

  // 4. to 6. The package archive and the script in it.
  const std::wstring archive = OpenPackage();

  // 7. The product description, then the user settings.
  if (!LoadScenario()) RaiseResult(irScenario);
  m_userSettings = std::make_shared<CUserSettings>(
      [](SettingsNodePtr& root) { return GetInstallTools().GetScriptRoot(root); });

  // 8. COMMONINFO and CFG, and the log's place.
  ReadCommonInfo();
  StartRunLog();

  // 9.
  Log(LogLevel::Info, L"Setup Version = %s Date = %s", version, date);

  // 10. The archive stays open from step 4; opening the same path again keeps it.
  std::wstring empty;
  if (!m_dataStorage->Open(archive, &empty)) RaiseResult(irDataStorageNotFound);
  Log(LogLevel::Info, L"CInstallManager::Init() extract script-file from data storage");

  // 11. and 12. Languages and graphics; 13. and 14. the main window with its icon.
  LoadLanguagesAndGraphics();
  MakeMainWindow();
  // 15. and 16. The record of installed products and the common installation folder.
  LoadRecord();
  // 17. The installed copy of this product.
  FindInstalledCopy();

  // 18. The client package, when the script names one.
  GetMSI();
  // 19. The installed copy's library selection.
  std::wstring selection =
      m_userSettings->GetText(ScriptNames::Attribute::kSelectedLibraries, L"empty");
  if (!selection.empty() && selection != L"empty") ApplyInstalledSelection(selection);
  return true;
}

std::wstring CInstallManager::OpenPackage() {
  // 4. The package archive.
  auto storage = std::make_shared<DataStorage::CDataStorage>();
  m_dataStorage = storage;
  // The archive's unpacker ends the run with result 16 when it cannot create a file.
  CommonTools::SetResultRaiser([](int result) { RaiseResult(result); });
  std::wstring archive = m_archivePath.empty() ? L"Setup.data" : m_archivePath;
  std::wstring full;
  if (platform::GetFullPathNameW(archive, full) == platform::ERROR_SUCCESS) archive = full;
  std::wstring empty;
  if (!m_dataStorage->Open(archive, &empty)) RaiseResult(irDataStorageNotFound);

  // 5. and 6. The script, unpacked and loaded.
  std::wstring scriptPath;
  if (!m_dataStorage->ExtractFile(L"", ScriptNames::kScriptFile, scriptPath))
    RaiseResult(irDataStorageNotUnpacked);
  auto& script = GetInstallTools().Script();
  if (!script.Load(scriptPath)) {
    Log(LogLevel::Error, L"CInstallManager::Init() the script %s cannot be read: %s", scriptPath,
        script.LastError());
    RaiseResult(irScriptFile);
  }

  return archive;
}

// Each run starts a fresh log.
void CInstallManager::StartRunLog() {
  std::wstring logPath = m_commonInfo.logFile;
  if (logPath.empty()) {
    logPath = InstalledProductsPath();
    platform::PathRemoveFileSpecW(logPath);
    logPath = logPath.empty() ? std::wstring(L"tlinstall.log") : logPath + L"\\tlinstall.log";
  }
  // The old log goes only when it is one: the script's "Log" may name any file (a document,
  // the hosts file), and that file is never deleted nor written into.
  std::wstring notALog;
  if (platform::PathFileExistsW(logPath)) {
    if (IsRunLogFile(logPath)) {
      platform::DeleteFileW(logPath);
    } else {
      notALog = logPath;
      logPath.clear();
    }
  }
  // On a machine where no product was installed yet the log's folder does not exist; without
  // it the first run's log would be lost.
  std::wstring logFolder = logPath;
  if (!logPath.empty() && platform::PathRemoveFileSpecW(logFolder) && !logFolder.empty() &&
      !platform::PathIsDirectoryW(logFolder))
    platform::CreateDirectoryWithParents(logFolder);
  GetInstallTools().Log().SetPath(logPath);
  if (!notALog.empty())
    Log(LogLevel::Warning,
        L"CInstallManager::Init() %s is not a run log: it is left as it is and the run logs to "
        L"the debugger output",
        notALog);
}

void CInstallManager::LoadLanguagesAndGraphics() {
  // 11. Languages.
  Log(LogLevel::Info, L"CInstallManager::Init() load localization from scenario");
  auto& gui = GetGuiTools();
  gui.Languages().Clear();
  if (!gui.Languages().Load()) RaiseResult(irLanguages);
  m_installedProducts.SetLanguages(&gui.Languages());
  if (m_product.language != 0) {
    unsigned index = gui.Languages().FindById(m_product.language);
    gui.Languages().SetCurrent(index);
    m_userSettings->Set(ScriptNames::Attribute::kLanguage, Variant(static_cast<int>(index)));
  }

  // 12. Graphics.
  Log(LogLevel::Info, L"CInstallManager::Init() load graphical resources");
  gui.Graphics().Clear();
  if (!gui.Graphics().Load(m_dataStorage.get())) RaiseResult(irGraphics);
}

void CInstallManager::MakeMainWindow() {
  auto& gui = GetGuiTools();
  // 13. The main window's icon.
  SettingsNodePtr root, icons;
  if (ScriptRoot(root) && root->GetChild(ScriptNames::Element::kIcons, icons)) {
    std::wstring attr =
        platform::EqualsNoCase(m_product.installType, ScriptNames::Value::kUninstall)
            ? ScriptNames::Attribute::kPathDi
            : ScriptNames::Attribute::kPath;
    std::wstring icon = ReadPathAttribute(icons, attr);
    std::wstring extracted;
    if (!icon.empty() && m_dataStorage->ExtractFile(L"", icon, extracted) &&
        platform::PathFileExistsW(extracted))
      m_iconPath = extracted;
  }

  // 14. The main window.
  if (auto* ui = gui.UiBackend()) {
    MainWindowRequest window;
    window.installType = m_product.installType;
    window.iconPath = m_iconPath;
    window.languages = &gui.Languages();
    window.graphics = &gui.Graphics();
    window.root = [](SettingsNodePtr& root) { return GetInstallTools().GetScriptRoot(root); };
    if (auto display = ui->CreateMainWindow(window)) gui.SetMainWindow(display);
  }
  if (m_hooks.createMainWindow) m_hooks.createMainWindow(m_product.installType, m_iconPath);
  Log(LogLevel::Info, L"CInstallManager::Init() create main dialog");
}

void CInstallManager::LoadRecord() {
  // 15. The record of installed products.
  std::wstring recordPath = InstalledProductsPath();
  Log(LogLevel::Info, L"CInstallManager::Init() load info about installed products from %s",
      recordPath);
  m_installedProducts.SetApplication(m_product.name);
  if (!m_installedProducts.Load(recordPath, m_commonInfo.projectPathKey,
                                m_commonInfo.projectPathValue))
    RaiseResult(irInstalledProducts);

  // 16. The common installation folder.
  std::wstring common = m_installedProducts.GetPath();
  if (common.empty()) {
    std::wstring counterFolder;
    m_installedProducts.GetCommonUsage(counterFolder, m_product.name);
    if (!counterFolder.empty() && platform::PathIsDirectoryW(counterFolder)) {
      m_installedProducts.SetPath(counterFolder);
      common = counterFolder;
    }
  }
  if (!common.empty()) {
    m_userSettings->Set(ScriptNames::Attribute::kProjectPath, Variant(common));
    Log(LogLevel::Info, L"CInstallManager::Init() install path %s", common);
  }
}

void CInstallManager::FindInstalledCopy() {
  auto& gui = GetGuiTools();
  // 17. The installed copy of this product.
  Log(LogLevel::Info, L"CInstallManager::Init() Project %s version %i", m_product.pv,
      m_product.version);
  InstalledProduct installed;
  if (m_installedProducts.Find(m_product.pv, m_product.version, installed) >= 0) {
    m_installedKind = InstallTypeFromName(installed.type);
    if (m_installedKind == kClient && !ClientStillRegistered()) {
      // The client's own registration is gone (removed by hand, say): installed afresh.
      Log(LogLevel::Info, L"CInstallManager::Init() the client's registry entries are gone");
      SettingsNodePtr root;
      if (ScriptRoot(root) && root)
        root->SetAttribute(ScriptNames::Attribute::kInstallType,
                           Variant(ScriptNames::Value::kInstallFull));
      m_product.installType = ScriptNames::Value::kInstallFull;
      m_userSettings->Set(ScriptNames::Attribute::kInstallType, Variant(-1));
      m_installedKind = kInstallNone;
      // Its entry would make the action a repair of what is no longer there; the fresh
      // installation records the client again.
      m_installedProducts.RemoveProduct(m_product.pv, m_product.version);
    } else {
      m_userSettings->Set(ScriptNames::Attribute::kLanguage, Variant(installed.language));
      gui.Languages().SetCurrent(static_cast<unsigned>(installed.language));
      m_userSettings->Set(ScriptNames::Attribute::kSelectedLibraries, Variant(installed.libraries));
      Log(LogLevel::Info, L"CInstallManager::Init() installed libraries %s", installed.libraries);
    }
  }
}

void CInstallManager::ReadCommonInfo() {
  SettingsNodePtr root;
  if (!ScriptRoot(root)) return;
  CommonTools::Script::ReadCommonInfo(
      root,
      [this](const SettingsNodePtr& node, const std::wstring& name) {
        return ReadPathAttribute(node, name);
      },
      m_commonInfo);
  if (!m_commonInfo.commonKey.empty()) m_installedProducts.SetCommonKey(m_commonInfo.commonKey);
}

std::wstring CInstallManager::InstalledProductsPath() {
  if (!m_commonInfo.productsFile.empty()) {
    if (!platform::PathFileExistsW(m_commonInfo.productsFile)) {
      std::wstring folder = m_commonInfo.productsFile;
      if (platform::PathRemoveFileSpecW(folder) && !folder.empty())
        platform::CreateDirectoryW(folder);
    }
    return m_commonInfo.productsFile;
  }
  // The common application-data folder.
  std::wstring folder;
  if (!platform::SHGetSpecialFolderPathW(nullptr, folder, platform::CSIDL_COMMON_APPDATA, true) ||
      folder.empty())
    folder = platform::GetEnv(L"ProgramData").value_or(L"C:\\ProgramData");
  folder += L"\\TOLMERA";
  if (!platform::PathIsDirectoryW(folder)) platform::CreateDirectoryW(folder);
  return folder + L"\\TolmeraInstall.cfg";
}

bool CInstallManager::LoadScenario() {
  SettingsNodePtr root;
  if (!ScriptRoot(root)) return false;
  CommonTools::Script::ProductDescription description;
  std::wstring error;
  if (!CommonTools::Script::ReadProductDescription(root, description, error)) {
    Log(LogLevel::Error, L"CInstallManager::LoadScenario() %s", error);
    return false;
  }
  m_product = description;
  try {
    // The macro table and the libraries; their number decides whether a change of
    // components is offered.
    LoadMacros(root);
    LoadLibraries(root);
    m_libraryCount = GetLibraryCount();
  } catch (const CommonTools::SettingsError& e) {
    Log(LogLevel::Error, L"CInstallManager::LoadScenario() %s", platform::FromUtf8(e.what()));
    return false;
  }
  m_scenarioLoaded = true;
  return true;
}

bool CInstallManager::CheckSystem() {
  const auto& os = platform::CurrentConfig().os;
  bool tooOld = os.platformId != 2 || os.major < 4;
  if (tooOld) {
    Log(LogLevel::Info, L"CInstallManager VersionOS <= WinME");
    GetGuiTools().ShowMessage(Msg::kVersionOs, MB_ICONERROR);
    RaiseResult(irOsVersion);
  }
  bool admin = m_hooks.hasUserAdminRightsDoSetup ? m_hooks.hasUserAdminRightsDoSetup() : false;
  if (!admin) {
    Log(LogLevel::Info, L"User is NOT LOCAL ADMINISTRATOR!");
    GetGuiTools().ShowMessage(Msg::kRights, MB_ICONERROR);
    RaiseResult(irRights);
  }
  return true;
}

void CInstallManager::CheckRights() {
  const std::wstring dashes(57, L'-');
  Log(LogLevel::Info, L"%s", dashes);
  AdminRights rights;
  if (m_hooks.verifyAdminRights) m_hooks.verifyAdminRights(rights);
  m_rights = rights;
  // On purpose: a domain administrator counts only on a domain member (3), any other user only
  // in a workgroup (2); a domain administrator in a workgroup is not a server administrator.
  m_serverAdmin = m_rights.isDomainAdmin ? m_rights.joinStatus == 3 : m_rights.joinStatus == 2;
  Log(LogLevel::Info, L"%s", dashes);
}

int CInstallManager::DetectAction() {
  m_installedBuild = 0;
  m_scenarioBuild = m_product.build;
  Log(LogLevel::Info, L"Scenario build = %i", m_scenarioBuild);
  int t = InstallTypeFromName(m_product.installType);
  if (t == kUninstall) return kUninstall;
  InstalledProduct installed;
  if (m_installedProducts.Find(m_product.pv, m_product.version, installed) >= 0) {
    Log(LogLevel::Info, L"Installed product build = %i", installed.build);
    m_installedBuild = installed.build;
    if (m_scenarioBuild < m_installedBuild) {
      std::wstring text = GetGuiTools().GetMessage(Msg::kOldInstallation);
      if (text.empty()) text = Msg::kOldInstallation;
      GetGuiTools().ShowBox(Msg::kOldInstallation,
                            FormatScriptText(Msg::kOldInstallation, text, m_scenarioBuild),
                            MB_ICONEXCLAMATION);
      RaiseResult(irOldInstall);
    }
    if (m_scenarioBuild > m_installedBuild) return kUpdate;
    if (t == kUpdate) {
      if (GetGuiTools().ShowMessage(Msg::kBeginUpdate, MB_YESNO | MB_ICONQUESTION) != IDYES)
        RaiseResult(irCancelled);
      return kOnlyUpdate;
    }
    return kRepair;
  }
  if (t == kUpdate) {
    // "InstalType" is spelt as the logs of every earlier version have it; log readers match it.
    Log(LogLevel::Error,
        L"Detect InstalType = Update in script, but product %s version %i is not installed",
        m_product.pv, m_product.version);
    RaiseResult(irCancelled);
  }
  return t;
}

std::wstring CInstallManager::FormatScriptText(const std::wstring& id, const std::wstring& text,
                                               const platform::FormatArg& arg) {
  std::wstring why;
  platform::ArgKind kinds[] = {arg.Kind()};
  if (!platform::CheckFormat(text, kinds, &why)) {
    Log(LogLevel::Warning,
        L"The message %s does not fit its argument (%s) and is shown as it stands", id, why);
    return text;
  }
  std::wstring out;
  platform::FormatArg args[] = {arg};
  if (platform::TryFormat(text, args, out, &why) != platform::ERROR_SUCCESS) {
    Log(LogLevel::Warning,
        L"The message %s does not fit its argument (%s) and is shown as it stands", id, why);
    return text;
  }
  return out;
}

std::wstring CInstallManager::ResultText(int result) {
  std::wstring id = ResultMessageId(result);
  std::wstring text = id.empty() ? L"" : GetGuiTools().GetMessage(id);
  if (text.empty()) text = ResultDefaultText(result);
  if (result == irCreateFile)
    text = FormatScriptText(id, text, GetInstallTools().Log().GetCurrentFile());
  return text;
}

bool CInstallManager::IsDialogShown(const std::wstring& page) {
  SettingsNodePtr root;
  return !ScriptRoot(root) || InstallGui::IsDialogShown(root, page);
}

bool CInstallManager::HasSection(const std::wstring& page) {
  SettingsNodePtr lang, section;
  return GetGuiTools().Languages().GetCurrentNode(lang) && lang->GetChild(page, section);
}

void CInstallManager::AddPages(std::initializer_list<ListedPage> list) {
  for (const ListedPage& listed : list) {
    if (listed.offered && !listed.offered(*this)) continue;
    if (listed.scriptMayHide && !IsDialogShown(listed.name)) continue;
    if (listed.prepare) listed.prepare(*this);
    AddPage(MakePage(listed.name));
  }
}

void CInstallManager::AddPage(const PagePtr& page) {
  page->SetBuilds(m_installedBuild, m_scenarioBuild);
  m_pages.push_back(page);
}

int CInstallManager::RunPages(size_t index) {
  auto* ui = GetGuiTools().UiBackend();
  if (!ui) throw UnansweredQuestion("No user interface to run the wizard pages");
  while (index < m_pages.size()) {
    InstallGui::CBasePage& page = *m_pages[index];
    page.LoadSettings();
    PageButton b = ui->RunPageModal(page);
    if (b == PageButton::Cancel) return 0;
    if (b == PageButton::Back) {
      if (index == 0) return 2;
      --index;
      continue;
    }
    ++index;
  }
  return 1;
}

PagePtr CInstallManager::MakePage(const std::wstring& name) {
  namespace P = ScriptNames::Page;
  using Maker = PagePtr (*)(CInstallManager & m);
  struct PageKind {
    const wchar_t* name;
    Maker make;
  };
  // The table of pages: each section name of the script makes its presenter with what it needs
  // of the run.
  static const PageKind kPages[] = {
      {P::kGreeting,
       [](CInstallManager&) -> PagePtr { return std::make_shared<InstallGui::CDlgGreeting>(); }},
      {P::kLanguageSelection,
       [](CInstallManager&) -> PagePtr {
         auto language = std::make_shared<InstallGui::CDlgLangSelect>();
         // The main window's title and picture follow the language.
         language->onLanguageChanged = [] {
           if (auto* ui = GetGuiTools().UiBackend()) ui->LocalizeMainWindow();
         };
         return language;
       }},
      {P::kLicense,
       [](CInstallManager& m) -> PagePtr {
         return std::make_shared<InstallGui::CDlgLicense>(m.m_dataStorage);
       }},
      {P::kInstallType,
       [](CInstallManager& m) -> PagePtr {
         auto type = std::make_shared<InstallGui::CDlgInstallType>();
         type->SetServerPermission(m.m_serverAdmin);
         type->SetClientMsiPath(m.m_clientMsiPath);
         return type;
       }},
      {P::kRepair,
       [](CInstallManager& m) -> PagePtr {
         return m.OptionPage(std::make_shared<InstallGui::CDlgRepair>());
       }},
      {P::kRepairTruncated,
       [](CInstallManager& m) -> PagePtr {
         return m.OptionPage(std::make_shared<InstallGui::CDlgRepairTruncated>());
       }},
      {P::kUpdate,
       [](CInstallManager& m) -> PagePtr {
         return m.OptionPage(std::make_shared<InstallGui::CDlgUpdate>());
       }},
      // The proposed folder ends with the product's name (ProcessInstallMain); a folder the user
      // browses to gets it too. The record adds DirName below it.
      {P::kDestination,
       [](CInstallManager& m) -> PagePtr {
         return std::make_shared<InstallGui::CDlgDestination>(L"", m.m_product.name);
       }},
      {P::kComponents,
       [](CInstallManager& m) -> PagePtr {
         return std::make_shared<InstallGui::CDlgComponents>(m.m_libraries);
       }},
      {P::kSummary,
       [](CInstallManager& m) -> PagePtr {
         return std::make_shared<InstallGui::CDlgSummary>(m.m_libraries);
       }},
      {P::kClientAttributes,
       [](CInstallManager&) -> PagePtr {
         return std::make_shared<InstallGui::CDlgClientAttributes>();
       }},
  };
  auto is = [&](const wchar_t* n) { return platform::EqualsNoCase(name, n); };
  PagePtr page;
  for (const PageKind& kind : kPages)
    if (is(kind.name)) {
      page = kind.make(*this);
      break;
    }
  if (!page) throw std::logic_error("CInstallManager::MakePage: no page " + platform::ToUtf8(name));
  InstallGui::PageServices services;
  services.settings = m_userSettings.get();
  services.languages = &GetGuiTools().Languages();
  services.root = [this](SettingsNodePtr& root) { return ScriptRoot(root); };
  services.showMessage = [](const std::wstring& id, unsigned style) {
    return GetGuiTools().ShowMessage(id, style);
  };
  services.showText = [](const std::wstring& text, unsigned style) {
    return GetGuiTools().ShowText(text, style);
  };
  page->SetServices(std::move(services));
  // The greeting opens the wizard: there is nothing to go back to.
  if (is(P::kGreeting)) page->SetShowBack(false);
  page->SetCancelQuestion([] {
    return GetGuiTools().ShowMessage(Msg::kCancelInstallation, MB_YESNO | MB_ICONQUESTION) == IDYES;
  });
  return page;
}

PagePtr CInstallManager::OptionPage(std::shared_ptr<InstallGui::COptionPage> option) {
  // The client package is offered where the installed copy is a server.
  if (m_installedKind == kServer) option->SetClientMsiPath(m_clientMsiPath);
  return option;
}

void CInstallManager::SetCurrentLanguageFromSettings() {
  int index = m_userSettings->GetInt(ScriptNames::Attribute::kLanguage, 0);
  auto& languages = GetGuiTools().Languages();
  unsigned before = languages.GetCurrent();
  languages.SetCurrent(static_cast<unsigned>(index < 0 ? 0 : index));
  // The main window's title and picture follow the language.
  if (languages.GetCurrent() != before)
    if (auto* ui = GetGuiTools().UiBackend()) ui->LocalizeMainWindow();
}

void CInstallManager::ChooseAndProcess(int w) {
  // The choices the pages offer start whole with every run.
  InstallGui::COptionPage::ResetTables();
  if (IsFreshInstall(w))
    ChooseFreshInstallation(w);
  else if (w == kUpdate || w == kRepair)
    ChooseUpdateOrRepair(w);
  else if (w == kOnlyUpdate)
    ProcessOnlyUpdate();
  else if (w == kUninstall) {
    SetCurrentLanguageFromSettings();
    ProcessInstallMain(kUninstall);
  }
}

void CInstallManager::ChooseFreshInstallation(int w) {
  Log(LogLevel::Info, L"Install product as %s", InstallTypeScriptName(w));
  auto& languages = GetGuiTools().Languages();
  if (IsDialogShown(ScriptNames::Page::kGreeting)) {
    AddPage(MakePage(ScriptNames::Page::kGreeting));
    if (RunPages(0) == 0) RaiseResult(irCancelled);
  }
  m_userSettings->Set(ScriptNames::Attribute::kLanguage,
                      Variant(static_cast<int>(languages.GetCurrent())));

  size_t groupStart = m_pages.size();
  AddPages({
      {ScriptNames::Page::kLanguageSelection,
       [](const CInstallManager&) { return GetGuiTools().Languages().GetCount() > 1; }},
      {ScriptNames::Page::kLicense},
  });
  if (IsDialogShown(ScriptNames::Page::kInstallType) && w == kInstall) {
    if (HasSection(ScriptNames::Page::kInstallType)) {
      SettingsNodePtr root, client, server;
      ScriptRoot(root);
      bool hasClient = root && root->GetChild(ScriptNames::Element::kClient, client);
      bool hasServer = root && root->GetChild(ScriptNames::Element::kServer, server);
      if (!hasClient || !hasServer)
        Log(LogLevel::Warning,
            L"CInstallManager: the script offers the install type page without %s",
            std::wstring(!hasClient ? L"CLIENT" : L"SERVER"));
      // A kind the script cannot install is not offered.
      if (!hasServer) InstallGui::COptionPage::HideOption(InstallGui::OptionTable::InstallType, 0);
      if (!hasClient) InstallGui::COptionPage::HideOption(InstallGui::OptionTable::InstallType, 2);
      AddPage(MakePage(ScriptNames::Page::kInstallType));
    } else {
      m_userSettings->Set(ScriptNames::Attribute::kInstallType, Variant(static_cast<int>(kLocal)));
    }
  } else {
    m_userSettings->Set(ScriptNames::Attribute::kInstallType, Variant(w));
  }

  size_t start = groupStart;
  for (;;) {
    int r = start < m_pages.size() ? RunPages(start) : 1;
    if (r == 0) RaiseResult(irCancelled);
    if (r == 2) {
      start = 0;
      continue;
    }
    int type = m_userSettings->GetInt(ScriptNames::Attribute::kInstallType, -1);
    if (type < 0) {
      Log(LogLevel::Error, L"CInstallManager: no install type was chosen");
      RaiseResult(irErrorDuringInstall);
    }
    if (type >= kServer && type <= kClient) m_installedKind = type;
    if (ProcessInstallMain(type)) break;
    // Back from the first page of the processing run: the group again, from its last page.
    if (m_pages.empty()) RaiseResult(irCancelled);
    start = m_pages.size() - 1;
  }
}

void CInstallManager::ChooseUpdateOrRepair(int w) {
  SetCurrentLanguageFromSettings();
  using InstallGui::COptionPage;
  using InstallGui::OptionTable;
  PagePtr page;
  if (w == kUpdate) {
    // An installed client is not updated by the package: only its removal is offered.
    if (m_installedKind == kClient) COptionPage::DisableOption(OptionTable::Update, 0);
    page = MakePage(ScriptNames::Page::kUpdate);
  } else {
    // The full page takes its texts from DLG_CHANGE_REPAIR (older scripts: DLG_REPAIR).
    bool full =
        HasSection(ScriptNames::Page::kChangeRepair) || HasSection(ScriptNames::Page::kRepair);
    if (m_installedKind == kClient || m_libraryCount == 0)
      COptionPage::DisableOption(OptionTable::Repair, 1);
    page = MakePage(full ? ScriptNames::Page::kRepair : ScriptNames::Page::kRepairTruncated);
  }
  AddPage(page);

  for (;;) {
    if (RunPages(0) == 0) RaiseResult(irCancelled);
    int choice = m_userSettings->GetInt(ScriptNames::Attribute::kInstallType, -1);
    Log(LogLevel::Info, L"Selected install action %s", InstallTypeLogName(choice));
    if (choice == kRepair) {
      if (ProcessRepairOrUpdate()) return;
    } else if (choice == kChange) {
      InstalledProduct installed;
      m_installedProducts.Find(m_product.pv, m_product.version, installed);
      std::wstring base = installed.path;
      platform::PathRemoveFileSpecW(base);
      m_userSettings->Set(ScriptNames::Attribute::kInstallPath, Variant(base));
      m_userSettings->Set(ScriptNames::Attribute::kProjectPath, Variant(installed.path));
      // The change's pages are a group of their own: Back on the first of them goes back to
      // the choice, and what is chosen there then is carried out.
      std::vector<PagePtr> choicePages;
      choicePages.swap(m_pages);
      AddPages({
          {ScriptNames::Page::kComponents,
           [](const CInstallManager& m) { return m.m_libraryCount > 0; }, nullptr, false},
          {ScriptNames::Page::kSummary, nullptr, nullptr, false},
      });
      int r = RunPages(0);
      m_pages.swap(choicePages);
      if (r == 0) RaiseResult(irCancelled);
      if (r != 2 && ChangeConfiguration(installed.path)) return;
    } else if (choice == kUninstall) {
      ProcessInstallMain(kUninstall);
      return;
    }
  }
}

void CInstallManager::AddProduct(int type, const std::wstring& basePath) {
  Log(LogLevel::Info, L"Add product %s version %i", m_product.pv, m_product.version);
  InstalledProduct entry;
  entry.build = m_product.build < 0 ? 0 : m_product.build;
  entry.version = m_product.version;
  entry.type = InstallTypeScriptName(type);
  entry.path = basePath;
  if (type != kClient) platform::PathAppendW(entry.path, m_product.dirName);
  entry.pv = m_product.pv;
  entry.registry = m_product.regKey;
  entry.cfPath = L"%COMMON FILES%";
  ExpandMacros(entry.cfPath);
  Log(LogLevel::Info, L"AddProduct: Common Files path = %s", entry.cfPath);
  m_installedProducts.SetProduct(m_product.pv, m_product.version, entry, true);
}

void CInstallManager::SaveLanguageToRecord() {
  InstalledProduct entry;
  int index = m_installedProducts.Find(m_product.pv, m_product.version, entry);
  if (index < 0 || !m_userSettings) return;
  entry.language = m_userSettings->GetInt(ScriptNames::Attribute::kLanguage, 0);
  m_installedProducts.SetAt(index, entry);
}

void CInstallManager::SaveLibrariesToRecord() {
  InstalledProduct entry;
  int index = m_installedProducts.Find(m_product.pv, m_product.version, entry);
  if (index < 0 || !m_userSettings) return;
  entry.libraries = m_userSettings->GetText(ScriptNames::Attribute::kSelectedLibraries, L"");
  m_installedProducts.SetAt(index, entry);
}

void CInstallManager::OfferLogSave() {
  try {
    if (GetGuiTools().ShowMessage(Msg::kInstallError, MB_YESNO | MB_ICONQUESTION) == IDYES)
      SaveLogCopy();
  } catch (const InstallResultError& e) {
    Log(LogLevel::Error, L"%s", ResultText(e.result));
  }
}

void CInstallManager::SaveLogCopy() {
  GetInstallTools().Log().Flush();
  std::wstring logPath = GetInstallTools().Log().GetPath();
  FileDialogRequest request;
  request.save = true;
  request.fileName = std::wstring(platform::PathFindFileNameW(logPath));
  if (!logPath.empty() && platform::IsSlash(logPath.back())) request.fileName.clear();
  request.flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
  request.filter = L"Log-Files (*.log)|*.log|All Files (*.*)|*.*|";
  request.titleId = Msg::kSaveLogFile;
  request.title = GetGuiTools().GetMessage(Msg::kSaveLogFile);
  if (request.title.empty()) request.title = L"Save LOG-file";
  auto* ui = GetGuiTools().UiBackend();
  if (!ui) throw UnansweredQuestion("No user interface for the Save-file dialog");
  std::optional<std::wstring> target = ui->ShowFileDialog(request);
  if (!target) return;
  std::wstring source = logPath;
  if (platform::PathIsRelativeW(source)) {
    std::wstring full;
    if (platform::GetFullPathNameW(source, full) == platform::ERROR_SUCCESS) source = full;
  }
  platform::CopyFileW(source, *target, false);
}

}  // namespace InstallManager
