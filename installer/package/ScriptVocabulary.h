// The vocabulary of the install script ("InstallScript.cfg"): every element and attribute name
// the installer reads or writes, and every message ID it shows, in one place. Readers name elements
// and attributes only through these constants. Element names are matched without regard to case by
// the settings tree; attribute names exactly.
#pragma once

#include <array>

namespace ScriptNames {

// The script's file inside the package archive.
inline constexpr const wchar_t* kScriptFile = L"InstallScript.cfg";

namespace Element {
// Children of the root element.
inline constexpr const wchar_t* kInstall = L"INSTALL";
inline constexpr const wchar_t* kMacros = L"MACROS";
inline constexpr const wchar_t* kLibraries = L"LIBRARIES";
inline constexpr const wchar_t* kShortcuts = L"SHORTCUTS";
inline constexpr const wchar_t* kRegistry = L"REGISTRY";
inline constexpr const wchar_t* kServer = L"SERVER";
inline constexpr const wchar_t* kRights = L"RIGHTS";
inline constexpr const wchar_t* kRedist = L"REDIST";
inline constexpr const wchar_t* kAdditional = L"ADDITIONAL";
inline constexpr const wchar_t* kUninstaller = L"UNINSTALLER";
inline constexpr const wchar_t* kClient = L"CLIENT";
inline constexpr const wchar_t* kDialogs = L"DIALOGS";
inline constexpr const wchar_t* kLocalization = L"Localization";
inline constexpr const wchar_t* kIcons = L"ICONS";
inline constexpr const wchar_t* kImages = L"Images";
inline constexpr const wchar_t* kUserSettings = L"UserSettings";
// Inside INSTALL.
inline constexpr const wchar_t* kCommonInfo = L"COMMONINFO";
inline constexpr const wchar_t* kCfg = L"CFG";
inline constexpr const wchar_t* kCfgFile = L"FILE";
inline constexpr const wchar_t* kCfgChange = L"CHANGE";
// Items of the lists.
inline constexpr const wchar_t* kMacro = L"MACRO";
inline constexpr const wchar_t* kLibrary = L"LIBRARY";
inline constexpr const wchar_t* kShortcut = L"SHORTCUT";
inline constexpr const wchar_t* kShare = L"SHARE";
inline constexpr const wchar_t* kHklm = L"HKLM";
inline constexpr const wchar_t* kHkcu = L"HKCU";
inline constexpr const wchar_t* kHkcr = L"HKCR";
// Step nodes (INSTALL, LIBRARY, ADDITIONAL).
inline constexpr const wchar_t* kDirectory = L"DIRECTORY";
inline constexpr const wchar_t* kFile = L"FILE";
inline constexpr const wchar_t* kAssociation = L"ASSOCIATION";
inline constexpr const wchar_t* kExec = L"Exec";
inline constexpr const wchar_t* kDatabase = L"DATABASE";
// Inside a language of Localization.
inline constexpr const wchar_t* kMessages = L"MESSAGES";
inline constexpr const wchar_t* kCommon = L"Common";
inline constexpr const wchar_t* kBanner = L"Banner";
inline constexpr const wchar_t* kProgressSection = L"DLG_PROGRESS";
inline constexpr const wchar_t* kBackground = L"BACKGROUND";  // in DLG_PROGRESS
inline constexpr const wchar_t* kLicenseFile = L"LICENSE";    // in DLG_LICENSE ("Path")
// The main window's progress bar (a child of the root).
inline constexpr const wchar_t* kProgressBar = L"ProgressBar";

// The step nodes the dispatcher runs inside INSTALL, a LIBRARY or ADDITIONAL (its table in
// steps/CommonSteps.cpp has one line for each); any other element there is skipped.
inline constexpr std::array<const wchar_t*, 9> kSteps = {
    kDirectory, kFile, kRegistry, kShortcuts, kAssociation, kExec, kRights, kShare, kDatabase};
// The children of the root element that some reader looks for.
inline constexpr std::array<const wchar_t*, 17> kRootChildren = {
    kInstall,      kMacros, kLibraries,  kShortcuts,    kRegistry,   kServer,
    kRights,       kRedist, kAdditional, kUninstaller,  kClient,     kDialogs,
    kLocalization, kIcons,  kImages,     kUserSettings, kProgressBar};
}  // namespace Element

namespace Attribute {
// Product description (the root element).
inline constexpr const wchar_t* kName = L"Name";
inline constexpr const wchar_t* kPv = L"PV";
inline constexpr const wchar_t* kRegKey = L"RegKey";
inline constexpr const wchar_t* kVersion = L"Version";
inline constexpr const wchar_t* kInstallType = L"InstallType";
inline constexpr const wchar_t* kBuild = L"Build";
inline constexpr const wchar_t* kDirName = L"DirName";
inline constexpr const wchar_t* kLanguage = L"Language";
// COMMONINFO and CFG.
inline constexpr const wchar_t* kFile = L"File";
inline constexpr const wchar_t* kLog = L"Log";
inline constexpr const wchar_t* kRegKeyInstall = L"RegKeyInstall";
inline constexpr const wchar_t* kRegKeyProjectPath = L"RegKeyProjectPath";
inline constexpr const wchar_t* kPath = L"Path";
// Shared by many elements.
inline constexpr const wchar_t* kIgnoreFor = L"IgnoreFor";
inline constexpr const wchar_t* kId = L"ID";
inline constexpr const wchar_t* kCaption = L"Caption";
inline constexpr const wchar_t* kValue = L"Value";
inline constexpr const wchar_t* kType = L"Type";
inline constexpr const wchar_t* kAccess = L"Access";
inline constexpr const wchar_t* kWait = L"Wait";
inline constexpr const wchar_t* kCmdArguments = L"CmdArguments";
inline constexpr const wchar_t* kMsgKey = L"MsgKey";
inline constexpr const wchar_t* kAskKey = L"AskKey";
// Libraries.
inline constexpr const wchar_t* kSelected = L"Selected";
inline constexpr const wchar_t* kReadonly = L"Readonly";
inline constexpr const wchar_t* kDependency = L"Dependency";
// Folders and files.
inline constexpr const wchar_t* kOverwrite = L"Overwrite";
inline constexpr const wchar_t* kTarget = L"Target";
inline constexpr const wchar_t* kBackupFiles = L"BackupFiles";
// Registry.
inline constexpr const wchar_t* kKeyName = L"KeyName";
inline constexpr const wchar_t* kValueName = L"ValueName";
inline constexpr const wchar_t* kIntValue = L"IntValue";
inline constexpr const wchar_t* kTextValue = L"TextValue";
inline constexpr const wchar_t* kAction = L"Action";
// Shortcuts and associations.
inline constexpr const wchar_t* kStartFolder = L"StartFolder";
inline constexpr const wchar_t* kDesktop = L"Desktop";
inline constexpr const wchar_t* kStart = L"Start";
inline constexpr const wchar_t* kQuickLaunch = L"QuickLaunch";
inline constexpr const wchar_t* kExtension = L"Extension";
inline constexpr const wchar_t* kProgram = L"Program";
// Exec.
inline constexpr const wchar_t* kShowWindow = L"ShowWindow";
inline constexpr const wchar_t* kExecCmdError = L"ExecCmdError";
// Rights.
inline constexpr const wchar_t* kRights = L"Rights";
// Database.
inline constexpr const wchar_t* kDbSystem = L"DBSystem";
inline constexpr const wchar_t* kDsnSystem = L"DSNSystem";
inline constexpr const wchar_t* kDefaultDir = L"DefaultDir";
inline constexpr const wchar_t* kDsn = L"DSN";
inline constexpr const wchar_t* kDriver = L"Driver";
// Uninstaller.
inline constexpr const wchar_t* kCompany = L"Company";
inline constexpr const wchar_t* kTitle = L"Title";
inline constexpr const wchar_t* kIconPath = L"IconPath";
inline constexpr const wchar_t* kVersionMajor = L"VersionMajor";
inline constexpr const wchar_t* kVersionMinor = L"VersionMinor";
// Client.
inline constexpr const wchar_t* kShare = L"Share";
inline constexpr const wchar_t* kPort = L"Port";
// Icons.
inline constexpr const wchar_t* kPathDi = L"PathDI";
// Localization, dialogs and images.
inline constexpr const wchar_t* kSystemName = L"SystemName";
inline constexpr const wchar_t* kShow = L"Show";
inline constexpr const wchar_t* kPos = L"Pos";
inline constexpr const wchar_t* kImageId = L"ImageID";
inline constexpr const wchar_t* kUrl = L"URL";
// ProgressBar.
inline constexpr const wchar_t* kPosX = L"PosX";
inline constexpr const wchar_t* kPosY = L"PosY";
inline constexpr const wchar_t* kWidth = L"Width";
inline constexpr const wchar_t* kHeight = L"Height";
inline constexpr const wchar_t* kClrText = L"ClrText";
// UserSettings.
inline constexpr const wchar_t* kInstallPath = L"InstallPath";
inline constexpr const wchar_t* kProjectPath = L"ProjectPath";
inline constexpr const wchar_t* kTolmeraPath = L"TolmeraPath";
inline constexpr const wchar_t* kSelectedLibraries = L"SelectedLibraries";
inline constexpr const wchar_t* kCopyMsiPath = L"CopyMSIPath";
inline constexpr const wchar_t* kServerName = L"ServerName";

// Every attribute name above (a name that differs from one of these only in case is not read).
inline constexpr std::array kAll = {kName,
                                    kPv,
                                    kRegKey,
                                    kVersion,
                                    kInstallType,
                                    kBuild,
                                    kDirName,
                                    kLanguage,
                                    kFile,
                                    kLog,
                                    kRegKeyInstall,
                                    kRegKeyProjectPath,
                                    kPath,
                                    kIgnoreFor,
                                    kId,
                                    kCaption,
                                    kValue,
                                    kType,
                                    kAccess,
                                    kWait,
                                    kCmdArguments,
                                    kMsgKey,
                                    kAskKey,
                                    kSelected,
                                    kReadonly,
                                    kDependency,
                                    kOverwrite,
                                    kTarget,
                                    kBackupFiles,
                                    kKeyName,
                                    kValueName,
                                    kIntValue,
                                    kTextValue,
                                    kAction,
                                    kStartFolder,
                                    kDesktop,
                                    kStart,
                                    kQuickLaunch,
                                    kExtension,
                                    kProgram,
                                    kShowWindow,
                                    kExecCmdError,
                                    kRights,
                                    kDbSystem,
                                    kDsnSystem,
                                    kDefaultDir,
                                    kDsn,
                                    kDriver,
                                    kCompany,
                                    kTitle,
                                    kIconPath,
                                    kVersionMajor,
                                    kVersionMinor,
                                    kShare,
                                    kPort,
                                    kPathDi,
                                    kSystemName,
                                    kShow,
                                    kPos,
                                    kImageId,
                                    kUrl,
                                    kPosX,
                                    kPosY,
                                    kWidth,
                                    kHeight,
                                    kClrText,
                                    kInstallPath,
                                    kProjectPath,
                                    kTolmeraPath,
                                    kSelectedLibraries,
                                    kCopyMsiPath,
                                    kServerName};
// The attributes whose value names a message of the catalogue.
inline constexpr std::array<const wchar_t*, 3> kMessageIds = {kMsgKey, kAskKey, kExecCmdError};
}  // namespace Attribute

// Message IDs: the texts the installer shows, looked up under MESSAGES of the chosen language
// (a missing one falls back to the default text or to the ID itself).
namespace Message {
inline constexpr const wchar_t* kCaption = L"MsgCaption";  // the caption of every message box
inline constexpr const wchar_t* kRights = L"MsgRights";  // the user lacks the rights the run needs
inline constexpr const wchar_t* kRightsDomainForServerChange = L"MsgRightsDomainForServerChange";
inline constexpr const wchar_t* kRightsForServerChange = L"MsgRightsForServerChange";
inline constexpr const wchar_t* kVersionOs =
    L"MsgVersionOS";  // the Windows version is not supported
inline constexpr const wchar_t* kOldInstallation =
    L"MsgOldInstallation";  // an installed build is newer than the package's
inline constexpr const wchar_t* kBeginUpdate = L"MsgBeginUpdate";  // asks before an update
inline constexpr const wchar_t* kInstallError =
    L"MsgInstallError";  // asks to keep the log after a failed run
inline constexpr const wchar_t* kSaveLogFile =
    L"SaveLogFile";  // title of the log-saving file dialog
// The texts of the run results (one per eInstallResult, several share one).
inline constexpr const wchar_t* kErrorDuringInstall = L"MsgErrorDuringInstall";
inline constexpr const wchar_t* kDataStorageNotFound = L"MsgDataStorageNotFound";
inline constexpr const wchar_t* kDataStorageNotUnpacked = L"MsgDataStorageNotUnpacked";
inline constexpr const wchar_t* kScriptFileError = L"MsgScriptFileError";
inline constexpr const wchar_t* kScenarioError = L"MsgScenarioError";
inline constexpr const wchar_t* kLanguagesError = L"MsgLanguagesError";
inline constexpr const wchar_t* kGraphicsError = L"MsgGraphicsError";
inline constexpr const wchar_t* kOldInstall = L"MsgOldInstall";
inline constexpr const wchar_t* kCantSendEmail = L"MsgCantSendEmail";
inline constexpr const wchar_t* kErrorDeleteFolder = L"MsgErrorDeleteFolder";
inline constexpr const wchar_t* kErrorCreateFile = L"MsgErrorCreateFile";
// The processing runs.
inline constexpr const wchar_t* kCancelInstallation =
    L"MsgCancellInstallation";  // asks before Escape cancels (spelt as scripts have it)
inline constexpr const wchar_t* kUninstall = L"MsgUninstall";  // asks before a removal
inline constexpr const wchar_t* kFinishInstallServerOk = L"MsgFinishInstallServerOK";
inline constexpr const wchar_t* kFinishUpdateOk = L"MsgFinishUpdateOK";
inline constexpr const wchar_t* kFinishUpdateServerOk = L"MsgFinishUpdateServerOK";
inline constexpr const wchar_t* kFinishRepairOk = L"MsgFinishRepairOK";
inline constexpr const wchar_t* kFinishRepairServerOk = L"MsgFinishRepairServerOK";
inline constexpr const wchar_t* kFinishUninstall =
    L"MsgFinishUnunstall";  // spelt as every script has it
// The wizard pages.
inline constexpr const wchar_t* kDenyServerInstall =
    L"MsgDenyServerInstall";  // a server chosen by a user who may not install one
inline constexpr const wchar_t* kCaptionFolderBrowser =
    L"MsgCaptionFolderBrowser";  // the folder browser's title when its page gives none

// Every message ID above: the messages a run may ask a language for.
inline constexpr std::array kAll = {kCaption,
                                    kRights,
                                    kRightsDomainForServerChange,
                                    kRightsForServerChange,
                                    kVersionOs,
                                    kOldInstallation,
                                    kBeginUpdate,
                                    kInstallError,
                                    kSaveLogFile,
                                    kErrorDuringInstall,
                                    kDataStorageNotFound,
                                    kDataStorageNotUnpacked,
                                    kScriptFileError,
                                    kScenarioError,
                                    kLanguagesError,
                                    kGraphicsError,
                                    kOldInstall,
                                    kCantSendEmail,
                                    kErrorDeleteFolder,
                                    kErrorCreateFile,
                                    kCancelInstallation,
                                    kUninstall,
                                    kFinishInstallServerOk,
                                    kFinishUpdateOk,
                                    kFinishUpdateServerOk,
                                    kFinishRepairOk,
                                    kFinishRepairServerOk,
                                    kFinishUninstall,
                                    kDenyServerInstall,
                                    kCaptionFolderBrowser};
}  // namespace Message

// The main window's stage texts, by their IDs in the language's progress section.
namespace Stage {
inline constexpr const wchar_t* kInstall = L"TEXT_INSTALL";
inline constexpr const wchar_t* kUninstall = L"TEXT_UN_INSTALL";
inline constexpr const wchar_t* kShortcuts = L"TEXT_SHORTCUTS";
inline constexpr const wchar_t* kUnShortcuts = L"TEXT_UN_SHORTCUTS";
inline constexpr const wchar_t* kRegistry = L"TEXT_REGISTRY";
inline constexpr const wchar_t* kUnRegistry = L"TEXT_UN_REGISTRY";
inline constexpr const wchar_t* kShareServer = L"TEXT_SHARESERVER";
inline constexpr const wchar_t* kRights = L"TEXT_RIGHTS";
inline constexpr const wchar_t* kFinish = L"TEXT_FINISH";
inline constexpr const wchar_t* kUnFinish = L"TEXT_UN_FINISH";
inline constexpr const wchar_t* kInstallRedist = L"TEXT_INSTALLREDIST";
}  // namespace Stage

// Text keys of the windows' controls.
namespace Control {
inline constexpr const wchar_t* kButtonNext = L"BUTTON_NEXT";  // in Common
inline constexpr const wchar_t* kButtonBack = L"BUTTON_BACK";
inline constexpr const wchar_t* kButtonCancel = L"BUTTON_CANCEL";  // in Common and DLG_PROGRESS
}  // namespace Control

// Wizard pages: their sections in a language and their switches under DIALOGS.
namespace Page {
inline constexpr const wchar_t* kGreeting = L"DLG_GREETING";
inline constexpr const wchar_t* kLanguageSelection = L"DLG_LANGUAGE_SELECTION";
inline constexpr const wchar_t* kLicense = L"DLG_LICENSE";
inline constexpr const wchar_t* kInstallType = L"DLG_INSTALL_TYPE";
inline constexpr const wchar_t* kComputerSelection = L"DLG_COMPUTER_SELECTION";
inline constexpr const wchar_t* kClientAttributes = L"DLG_CLIENTATTRIBUTES";
inline constexpr const wchar_t* kDestination = L"DLG_DESTINATION";
inline constexpr const wchar_t* kComponents = L"DLG_COMPONENTS";
inline constexpr const wchar_t* kSummary = L"DLG_SUMMARY";
inline constexpr const wchar_t* kUpdate = L"DLG_UPDATE";
inline constexpr const wchar_t* kRepair = L"DLG_REPAIR";
inline constexpr const wchar_t* kRepairTruncated = L"DLG_REPAIR_TRUNCATED";
inline constexpr const wchar_t* kChangeRepair = L"DLG_CHANGE_REPAIR";
inline constexpr const wchar_t* kProgress = L"DLG_PROGRESS";
inline constexpr const wchar_t* kFinish = L"DLG_FINISH";

// Every page, in the order of the list above (the names DIALOGS may switch).
inline constexpr std::array kAll = {
    kGreeting,         kLanguageSelection, kLicense,      kInstallType, kComputerSelection,
    kClientAttributes, kDestination,       kComponents,   kSummary,     kUpdate,
    kRepair,           kRepairTruncated,   kChangeRepair, kProgress,    kFinish};
}  // namespace Page

// Words of the values.
namespace Value {
inline constexpr const wchar_t* kUninstall = L"Uninstall";
inline constexpr const wchar_t* kInstallFull = L"Install";
inline constexpr const wchar_t* kHide = L"n";  // "Show": hides a page or a control
inline constexpr const wchar_t* kYes = L"y";   // the yes/no flags of the steps
inline constexpr const wchar_t* kCommonType = L"common";
inline constexpr const wchar_t* kAdd = L"add";  // "Action" of a registry value: append the text
inline constexpr const wchar_t* kTop = L"top";
inline constexpr const wchar_t* kLeft = L"left";
}  // namespace Value

}  // namespace ScriptNames
