// The uninstaller registration: the installer's kept copy in the Windows folder, the product's
// uninstall package beside it, and the product's entry in the list of programs; and their
// removal at the end of an uninstall.
#include "steps/UninstallerStep.h"

#include "app/Tools.h"
#include "package/DataStorage.h"
#include "package/ScriptVocabulary.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "steps/StepGuard.h"
#include "steps/FileUtilities.h"
#include "steps/RegistryStep.h"

namespace InstallSteps {

using namespace InstallManager;

using CommonTools::SettingsNodePtr;
using CommonTools::Variant;
namespace Attribute = ScriptNames::Attribute;
namespace Element = ScriptNames::Element;

namespace {

constexpr const wchar_t* kUninstallKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const wchar_t* kUninstallerFolder = L"Installer";
constexpr const wchar_t* kUninstallerName = L"tluninstall.exe";

std::wstring FolderOf(const std::wstring& path) {
  std::wstring folder = path;
  platform::PathRemoveFileSpecW(folder);
  return folder;
}

// A new name of the registry form beside the uninstaller ("{...GUID...}"); the folder itself
// when no GUID can be made (the move then fails and the file stays).
std::wstring SpareName(const std::wstring& folder) {
  platform::GUID guid;
  if (platform::CoCreateGuid(guid) != platform::S_OK) return folder;
  return CombinePath(folder, platform::StringFromGUID2(guid));
}

// The entry's key below the Uninstall key; empty when the product has no key of its own (an
// empty name would be the Uninstall key itself, which holds every program's entry).
std::wstring EntryKey(const std::wstring& regKey) {
  if (regKey.find_first_not_of(L"\\ ") == std::wstring::npos) return L"";
  return std::wstring(kUninstallKey) + L"\\" + regKey;
}

}  // namespace

std::wstring UninstallerStep::UninstallerPath() {
  Log(LogLevel::Info, L"GetUninstallerPath: start");
  const std::wstring windows =
      m_ctx.WindowsFolder().empty() ? platform::GetWindowsDirectoryW() : m_ctx.WindowsFolder();
  Log(LogLevel::Info, L"GetUninstallerPath: WindowsDirectory = %s", windows);
  std::wstring path = windows;
  platform::PathAppendW(path, kUninstallerFolder);
  platform::PathAppendW(path, kUninstallerName);
  Log(LogLevel::Info, L"GetUninstallerPath: Finish %s", path);
  return path;
}

std::wstring UninstallerStep::PackageName(const CommonTools::Script::ProductDescription& product) {
  // "Setup.data" with the product key before its first "."; a character that a file name cannot
  // hold (a "\" would lead out of the folder) becomes "_".
  std::wstring pv = product.pv;
  for (wchar_t& c : pv)
    if (c < 32 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) c = L'_';
  return L"Setup" + pv + L".data";
}

void UninstallerStep::Install(const SettingsNodePtr&, const std::wstring& installPath) {
  if (m_ctx.DetectedAction() != kInstall && m_ctx.DetectedAction() != kUpdate) return;
  Log(LogLevel::Info, L"RegisterUninstaller: start %s", installPath);
  const std::wstring uninstaller = UninstallerPath();
  const std::wstring temp = m_ctx.Storage() ? m_ctx.Storage()->GetTempFolder() : std::wstring();
  Log(LogLevel::Info, L"RegisterUninstaller: TempPath = %s", temp);
  const std::wstring script = CombinePath(temp, ScriptNames::kScriptFile);
  Log(LogLevel::Info, L"RegisterUninstaller: UninstallSettings = %s", script);
  SettingsNodePtr root;
  if (temp.empty() || script.empty() || !GetInstallTools().GetScriptRoot(root) || !root) {
    // Nothing to register from; the product stays installed, so the run goes on.
    Log(LogLevel::Error, L"RegisterUninstaller: Settings = NULL");
    return;
  }
  try {
    root->SetAttribute(Attribute::kInstallType, Variant(ScriptNames::Value::kUninstall));
  } catch (const CommonTools::SettingsError&) {}
  if (!GetInstallTools().Script().Save(script)) {
    Log(LogLevel::Error, L"RegisterUninstaller: %s is not saved", script);
    return;
  }
  Log(LogLevel::Info, L"RegisterUninstaller: Save %s", script);

  const std::wstring folder = FolderOf(uninstaller);
  const std::wstring package = CombinePath(folder, PackageName(m_ctx.ProductData()));
  if (!platform::PathIsDirectoryW(folder)) platform::CreateDirectoryWithParents(folder);
  // A removal that ended early may have left the program and this product's package to the
  // next start; the entry written now needs them after it.
  StepGuard::KeepOwnFileAtRestart(uninstaller);
  StepGuard::KeepOwnFileAtRestart(package);
  if (!IsFileExists(uninstaller)) {
    // One copy serves the family; an existing one is kept even when it is older.
    const std::wstring self =
        m_ctx.ProgramPath().empty() ? platform::GetModuleFileNameW() : m_ctx.ProgramPath();
    platform::CopyFileW(self, uninstaller, false);
    Log(LogLevel::Info, L"RegisterUninstaller: copy uninstaller %s -> %s", self, uninstaller);
  }

  Log(LogLevel::Info, L"RegisterUninstaller: add %s to %s", script, package);
  DataStorage::CZipper zip;
  if (!zip.Open(package)) {
    Log(LogLevel::Warning, L"RegisterUninstaller: %s cannot be created", package);
  } else {
    zip.SetRoot(temp);
    zip.AddFile(script, false);
    Log(LogLevel::Info, L"RegisterUninstaller: add banners to %s", package);
    CommonTools::IGraphics& graphics = GetGuiTools().Graphics();
    for (int i = 0; i < graphics.GetCount(); ++i) {
      const std::wstring image = graphics.GetPath(graphics.GetIdAt(i));
      if (!image.empty()) zip.AddFile(image, false);
    }
    if (!zip.Close()) Log(LogLevel::Warning, L"RegisterUninstaller: %s is not complete", package);
  }
  AddInfo(installPath, package);
}

void UninstallerStep::AddInfo(const std::wstring& installPath, const std::wstring& packagePath) {
  Log(LogLevel::Info, L"AddUninstallerInfo: start");
  SettingsNodePtr root, info;
  std::wstring company, title, url, icon;
  bool haveInfo = false;
  try {
    if (GetInstallTools().GetScriptRoot(root) && root &&
        root->GetChild(Element::kUninstaller, info) && info) {
      company = m_ctx.ReadAttribute(info, Attribute::kCompany, L"", false);
      title = m_ctx.ReadAttribute(info, Attribute::kTitle, L"", false);
      url = m_ctx.ReadAttribute(info, Attribute::kUrl, L"", false);
      icon = m_ctx.ReadAttribute(info, Attribute::kIconPath, L"", true);
      haveInfo = true;
    }
  } catch (const CommonTools::SettingsError&) {
    haveInfo = false;
  }
  const std::wstring key = EntryKey(m_ctx.ProductData().regKey);
  Log(LogLevel::Info, L"AddUninstallerInfo: before create key %s", key);
  platform::RegistryBatch batch;
  platform::RegKey entry;
  if (key.empty() ||
      entry.Create(platform::HKEY_LOCAL_MACHINE, key, platform::KEY_READ | platform::KEY_WRITE) !=
          platform::ERROR_SUCCESS) {
    Log(LogLevel::Warning, L"AddUninstallerInfo: Can't register uninstaller!");
    return;
  }
  Log(LogLevel::Info, L"AddUninstallerInfo: create key %s OK", key);
  std::wstring command = UninstallerPath();
  platform::PathQuoteSpacesW(command);
  // The package path follows "/X" unquoted: the installer takes the rest of the line as the path.
  command += L" /X" + packagePath;
  std::wstring iconPath = installPath;
  if (!icon.empty()) iconPath = CombinePath(installPath, icon);
  entry.SetDword(L"VersionMinor", static_cast<platform::DWORD>(m_ctx.ProductData().version));
  entry.SetDword(L"VersionMajor", 0);
  entry.SetDword(L"NoModify", 1);
  entry.SetDword(L"NoRepair", 1);
  entry.SetString(L"UninstallString", command);
  entry.SetString(L"Publisher", company);
  entry.SetString(L"InstallLocation", installPath);
  entry.SetString(L"DisplayIcon", iconPath);
  entry.SetString(L"DisplayName", title);
  entry.SetString(L"DisplayVersion", m_ctx.ProductData().versionText);
  entry.SetString(L"URLInfoAbout", url);
  if (!haveInfo) Log(LogLevel::Warning, L"AddUninstallerInfo: Can't read info about uninstaller!");
}

void UninstallerStep::Remove(const SettingsNodePtr&, const std::wstring&) {
  const std::wstring uninstaller = UninstallerPath();
  const std::wstring folder = FolderOf(uninstaller);
  const std::wstring spare = SpareName(folder);
  const std::wstring ownName = PackageName(m_ctx.ProductData());
  const std::wstring package = CombinePath(folder, ownName);

  // When this run reads its own package (a removal from the list of programs), the run has what
  // it needs of it by now: it is closed first, as a file in use cannot be moved.
  if (auto* storage = dynamic_cast<DataStorage::CDataStorage*>(m_ctx.Storage())) {
    std::wstring running;
    if (storage->GetState() != 0 &&
        platform::GetFullPathNameW(storage->GetArchivePath(), running) == platform::ERROR_SUCCESS &&
        platform::EqualsNoCase(running, package))
      storage->Close();
  }

  // Another product of the family still needs the program when a package of its own is there,
  // whatever the length of its product key.
  std::vector<platform::FindData> packages;
  platform::FindAll(CombinePath(folder, L"Setup*.data"), packages);
  bool otherProduct = false;
  for (const auto& p : packages)
    if (!(p.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) &&
        !platform::EqualsNoCase(p.fileName, ownName))
      otherProduct = true;

  // While the entry is there, a removal stopped at any moment is started again from it and
  // finds the program and the package where the entry says; so both keep their names until the
  // entry has gone. From then on nothing starts this removal again: the names are given to the
  // next start in the same write of the registry that takes the entry away, and an
  // installation that uses them again before that start takes them back (Install).
  Log(LogLevel::Info, L"UnregisterUninstaller: remove registry key");
  const std::wstring key = EntryKey(m_ctx.ProductData().regKey);
  {
    platform::RegistryBatch batch;
    if (platform::PathFileExistsW(package)) StepGuard::DeleteOwnFileAtRestart(package);
    if (!otherProduct && platform::PathFileExistsW(uninstaller))
      StepGuard::DeleteOwnFileAtRestart(uninstaller);
    if (key.empty())
      Log(LogLevel::Error,
          L"UnregisterUninstaller: the product has no RegKey; the Uninstall key is left alone");
    else
      DeleteKeyTree(platform::HKEY_LOCAL_MACHINE, key);
  }

  // The package is moved aside and its new name removed at the next start, so that an
  // installation before that start writes a package of its own that the start leaves alone.
  const std::wstring packageSpare = SpareName(folder);
  Log(LogLevel::Info, L"UnregisterUninstaller: move file %s to %s", package, packageSpare);
  if (platform::PathFileExistsW(package)) MoveToSpare(package, packageSpare);
  if (otherProduct) return;

  Log(LogLevel::Info, L"UnregisterUninstaller: move file %s to %s", uninstaller, spare);
  // A running program can be moved but not deleted.
  if (!MoveToSpare(uninstaller, spare)) return;
  Log(LogLevel::Info, L"UnregisterUninstaller: file %s file must deleted when the system restarts",
      spare);
}

bool UninstallerStep::MoveToSpare(const std::wstring& path, const std::wstring& spare) {
  // The new name is given to the next start before the file takes it: a run stopped between
  // the two leaves nothing under a name that no one would remove. Once moved, the file's own
  // name is free again and no longer waits for the start.
  if (spare == FolderOf(path) || !StepGuard::DeleteOwnFileAtRestart(spare) ||
      platform::MoveFileW(path, spare) != platform::ERROR_SUCCESS)
    return false;
  StepGuard::KeepOwnFileAtRestart(path);
  return true;
}

bool UninstallerStep::EntryStartsPackage(const std::wstring& regKey,
                                         const std::wstring& packagePath) {
  const std::wstring key = EntryKey(regKey);
  std::wstring command;
  platform::RegKey entry;
  if (key.empty() || packagePath.empty() ||
      entry.Open(platform::HKEY_LOCAL_MACHINE, key, platform::KEY_READ) !=
          platform::ERROR_SUCCESS ||
      entry.QueryString(L"UninstallString", command) != platform::ERROR_SUCCESS)
    return false;
  // The program (quoted when it has blanks), then "/X" and the package, the rest of the line,
  // as AddInfo writes it.
  const std::size_t programEnd =
      !command.empty() && command[0] == L'"' ? command.find(L'"', 1) : command.find(L' ');
  const std::size_t x =
      programEnd == std::wstring::npos ? programEnd : command.find(L"/X", programEnd);
  if (x == std::wstring::npos) return false;
  const std::wstring named = platform::Trim(std::wstring_view(command).substr(x + 2));
  std::wstring fullNamed, running;
  return !named.empty() &&
         platform::GetFullPathNameW(named, fullNamed) == platform::ERROR_SUCCESS &&
         platform::GetFullPathNameW(packagePath, running) == platform::ERROR_SUCCESS &&
         platform::EqualsNoCase(fullNamed, running);
}

}  // namespace InstallSteps
