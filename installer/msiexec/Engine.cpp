// The engine's set-up and its run: the package and the product's record, the properties, the
// directories, what the package asks for that this msiexec cannot do, and the end of the run.
#include "msiexec/Engine.h"

#include <algorithm>

#include "msiexec/EngineCommon.h"
#include "platform/Accounts.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/ShellFolders.h"

namespace Msi {

namespace {

using platform::HKEY;

constexpr wchar_t kSeparator = L'\x1f';  // between the fields of an item in the record

struct StandardEntry {
  const wchar_t* id;
  int machineCsidl, userCsidl;
  bool native;  // the 64-bit folder, whatever the process is
};

const StandardEntry kFolders[] = {
    {L"ProgramFilesFolder", platform::CSIDL_PROGRAM_FILESX86, 0, false},
    {L"ProgramFiles64Folder", platform::CSIDL_PROGRAM_FILES, 0, true},
    {L"CommonFilesFolder", platform::CSIDL_PROGRAM_FILES_COMMONX86, 0, false},
    {L"CommonFiles64Folder", platform::CSIDL_PROGRAM_FILES_COMMON, 0, true},
    {L"SystemFolder", platform::CSIDL_SYSTEMX86, 0, false},
    {L"System64Folder", platform::CSIDL_SYSTEM, 0, true},
    {L"WindowsFolder", platform::CSIDL_WINDOWS, 0, false},
    {L"FontsFolder", platform::CSIDL_FONTS, 0, false},
    {L"AppDataFolder", platform::CSIDL_APPDATA, 0, false},
    {L"LocalAppDataFolder", platform::CSIDL_LOCAL_APPDATA, 0, false},
    {L"CommonAppDataFolder", platform::CSIDL_COMMON_APPDATA, 0, false},
    {L"DesktopFolder", platform::CSIDL_COMMON_DESKTOPDIRECTORY, platform::CSIDL_DESKTOPDIRECTORY,
     false},
    {L"ProgramMenuFolder", platform::CSIDL_COMMON_PROGRAMS, platform::CSIDL_PROGRAMS, false},
    {L"StartMenuFolder", platform::CSIDL_COMMON_STARTMENU, platform::CSIDL_STARTMENU, false},
    {L"StartupFolder", platform::CSIDL_COMMON_STARTUP, platform::CSIDL_STARTUP, false},
    {L"TemplateFolder", platform::CSIDL_COMMON_TEMPLATES, platform::CSIDL_TEMPLATES, false},
    {L"PersonalFolder", platform::CSIDL_PERSONAL, 0, false},
};

// The folders of the shell by their property names; a per-user installation gets the user's
// menus and desktop, a per-machine one the common ones.
std::wstring StandardFolder(const std::wstring& id, bool perMachine) {
  for (const auto& f : kFolders) {
    if (id != f.id) continue;
    platform::MachineConfig config = platform::CurrentConfig();
    if (f.native && config.os.is64Bit) config.process32Bit = false;
    const int csidl = !perMachine && f.userCsidl ? f.userCsidl : f.machineCsidl;
    std::wstring path = platform::SpecialFolderPath(config, csidl);
    if (!path.empty()) return WithSlash(path);
  }
  return L"";
}

}  // namespace

// The drive's root, the Windows folder and what lies below it, and the shell's folders
// themselves (Program Files, the profiles' desktops, ...): places a package may not sweep.
bool Engine::SystemPlace(const std::wstring& folder) const {
  std::wstring f = WithoutSlash(folder);
  if (f.size() <= 3) return true;
  const std::wstring windows = platform::GetWindowsDirectoryW();
  if (platform::EqualsNoCase(f, windows) ||
      (f.size() > windows.size() &&
       platform::EqualsNoCase(std::wstring_view(f).substr(0, windows.size()), windows) &&
       f[windows.size()] == L'\\'))
    return true;
  for (const auto& entry : kFolders)
    for (bool perMachine : {true, false})
      if (platform::EqualsNoCase(f, WithoutSlash(StandardFolder(entry.id, perMachine))))
        return true;
  std::wstring profiles = platform::ProfilesDirectory(platform::CurrentConfig());
  return platform::EqualsNoCase(f, WithoutSlash(profiles));
}

// --- Items -----------------------------------------------------------------------------------

std::wstring Item::Encode() const {
  std::wstring out = component + kSeparator + std::wstring(1, kind);
  for (const auto& f : fields) out += kSeparator + f;
  return out;
}

bool Item::Decode(const std::wstring& text, Item& item) {
  item = Item{};
  std::vector<std::wstring> parts;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find(kSeparator, start);
    parts.push_back(text.substr(start, end == std::wstring::npos ? end : end - start));
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  if (parts.size() < 2 || parts[1].size() != 1) return false;
  item.component = parts[0];
  item.kind = parts[1][0];
  item.fields.assign(parts.begin() + 2, parts.end());
  return true;
}

// --- Set-up ----------------------------------------------------------------------------------

bool Engine::OpenPackage(const std::wstring& windowsPath) {
  std::wstring full;
  if (platform::GetFullPathNameW(windowsPath, full) != platform::ERROR_SUCCESS) return false;
  platform::HostLocation where;
  if (platform::ResolvePath(full, where) != platform::ERROR_SUCCESS || !where.exists) return false;
  std::string error;
  if (!m_database.Open(where.hostPath, error)) {
    m_log.Line(L"MSI (c): " + platform::FromUtf8(error));
    return false;
  }
  m_packagePath = full;
  return !m_database.Get(L"Property").columns.empty();
}

void Engine::SetProperty(const std::wstring& name, const std::wstring& value) {
  auto it = m_properties.find(name);
  if (it != m_properties.end() && it->second == value) return;
  m_log.Line(
      L"PROPERTY CHANGE: " + std::wstring(it == m_properties.end() ? L"Adding " : L"Modifying ") +
      name + L" property. Its " +
      (it == m_properties.end() ? L"" : L"current value is '" + it->second + L"'. Its new ") +
      L"value: '" + value + L"'.");
  m_properties[name] = value;
}

// The product's record: its features, and the items it holds.
bool Engine::LoadInstalledState() {
  const std::wstring packed = PackedGuid(m_productCode);
  platform::RegKey properties;
  if (packed.empty() || properties.Open(platform::HKEY_LOCAL_MACHINE,
                                        kUserDataKey + std::wstring(L"Products\\") + packed +
                                            L"\\InstallProperties") != platform::ERROR_SUCCESS)
    return false;
  std::vector<std::wstring> texts;
  properties.QueryMultiString(kItemsValue, texts);
  for (const auto& t : texts) {
    Item item;
    if (Item::Decode(t, item)) m_items.push_back(item);
  }
  std::vector<std::wstring> directories;
  properties.QueryMultiString(kDirectoriesValue, directories);
  for (const auto& d : directories) {
    std::size_t eq = d.find(L'=');
    if (eq != std::wstring::npos && eq > 0)
      m_rememberedDirectories[d.substr(0, eq)] = d.substr(eq + 1);
  }
  // A record of an older msiexec: files and values of the whole product.
  std::vector<std::wstring> files, values;
  properties.QueryMultiString(kOldFilesValue, files);
  properties.QueryMultiString(kOldValuesValue, values);
  for (const auto& f : files) m_items.push_back({L"", kFile, {f}});
  for (const auto& v : values) {
    std::size_t a = v.find(L'|'), b = v.find(L'|', a == std::wstring::npos ? 0 : a + 1);
    if (a == std::wstring::npos || b == std::wstring::npos) continue;
    const std::wstring root = v.substr(0, a), key = v.substr(a + 1, b - a - 1);
    // That msiexec took the keys the removal left empty, up to the root's first level.
    for (std::wstring k = key; k.find(L'\\') != std::wstring::npos; k = k.substr(0, k.rfind(L'\\')))
      m_items.push_back({L"", kKey, {L"", root, k}});
    if (b + 1 < v.size()) m_items.push_back({L"", kValue, {L"", root, key, v.substr(b + 1)}});
  }
  return true;
}

void Engine::SetProperties() {
  m_properties = m_database.Properties();
  const platform::MachineConfig& config = platform::CurrentConfig();
  const unsigned version =
      std::min<unsigned>(config.os.major * 100 + config.os.minor, 603);  // as the Installer says
  std::map<std::wstring, std::wstring> system = {
      {L"ROOTDRIVE", L"C:\\"},
      {L"VersionNT", std::to_wstring(version)},
      {L"WindowsBuild", std::to_wstring(config.os.build)},
      {L"ComputerName", config.computerName},
      {L"LogonUser", config.userName},
      {L"UserSID", platform::CurrentUserSid()},
      {L"AdminUser", L"1"},
      {L"Privileged", L"1"},
      {L"UILevel", m_options.quiet ? L"2" : L"5"},
      {L"OriginalDatabase", m_packagePath},
      {L"DATABASE", m_packagePath},
  };
  if (config.os.is64Bit) {
    system[L"VersionNT64"] = system[L"VersionNT"];
    system[L"Msix64"] = system[L"VersionNT"];
  } else {
    system[L"Intel"] = L"6";
  }
  {
    std::wstring folder = m_packagePath;
    platform::PathRemoveFileSpecW(folder);
    system[L"SourceDir"] = WithSlash(folder);
  }
  if (m_installed) system[L"Installed"] = L"1";
  for (const auto& [name, value] : system) m_properties[name] = value;
  for (const auto& [name, value] : m_options.properties) m_properties[name] = value;
  if (m_options.action == Options::Action::Remove) m_properties[L"REMOVE"] = L"ALL";
  m_removing = m_installed && platform::ToUpper(Property(L"REMOVE")) == L"ALL";
  for (const auto& [name, value] : m_properties)
    if (!value.empty()) m_directoryOverrides[name] = value;
  for (const auto& [id, path] : m_rememberedDirectories)
    if (!m_options.properties.count(id)) m_directoryOverrides[id] = path;
  const std::wstring all = Property(L"ALLUSERS");
  m_perMachine = all == L"1" || (all == L"2" && Property(L"MSIINSTALLPERUSER") != L"1");
}

// Tables the engine does not carry out, and the other things a package may ask for that it
// cannot do: named in the log, and the run fails rather than install part of the product.
bool Engine::CheckSupported() {
  static const wchar_t* const kUnsupported[] = {L"ServiceInstall",
                                                L"ServiceControl",
                                                L"Class",
                                                L"ProgId",
                                                L"Extension",
                                                L"Verb",
                                                L"MIME",
                                                L"TypeLib",
                                                L"SelfReg",
                                                L"Font",
                                                L"AppId",
                                                L"PublishComponent",
                                                L"ODBCDataSource",
                                                L"ODBCDriver",
                                                L"IsolatedComponent",
                                                L"Patch",
                                                L"MsiAssembly",
                                                L"DrLocator",
                                                L"CompLocator",
                                                L"IniLocator",
                                                L"ReserveCost",
                                                L"MsiServiceConfig",
                                                L"MsiLockPermissionsEx",
                                                L"LockPermissions",
                                                L"BindImage"};
  bool ok = true;
  for (const wchar_t* table : kUnsupported) {
    const Table& t = m_database.Get(table);
    if (t.rows.empty()) continue;
    m_log.Line(L"The table " + std::wstring(table) + L" (" + std::to_wstring(t.rows.size()) +
                   L" rows) is not supported by this msiexec",
               false);
    ok = false;
  }
  for (const wchar_t* table : {L"Registry", L"RemoveRegistry"}) {
    const Table& t = m_database.Get(table);
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
      const std::wstring root = t.Cell(i, L"Root");
      if (root == L"-1" || root == L"0" || root == L"1" || root == L"2" || root == L"3") continue;
      m_log.Line(L"The " + std::wstring(table) + L" row " + t.Cell(i, table) + L" has the root " +
                     root + L", which is none",
                 false);
      ok = false;
    }
  }
  const std::wstring templ = platform::ToUpper(m_database.Summary(L"Template"));
  m_package64 = templ.rfind(L"X64", 0) == 0 || templ.rfind(L"AMD64", 0) == 0;
  if (templ.rfind(L"INTEL64", 0) == 0 || templ.rfind(L"ARM", 0) == 0) {
    m_log.Line(L"The platform " + templ + L" of the package is not supported", false);
    ok = false;
  }
  return ok;
}

std::wstring Engine::Directory(const std::wstring& id, int depth) {
  auto known = m_directories.find(id);
  if (known != m_directories.end()) return known->second;
  const Table& t = m_database.Get(L"Directory");
  std::wstring path;
  auto given = m_directoryOverrides.find(id);
  if (given != m_directoryOverrides.end() && id != L"ROOTDRIVE") {
    std::wstring full;
    path = platform::GetFullPathNameW(given->second, full) == platform::ERROR_SUCCESS
               ? WithSlash(full)
               : WithSlash(given->second);
  } else if (!(path = StandardFolder(id, m_perMachine)).empty()) {
  } else if (id == L"TARGETDIR" || depth > 64) {
    path = WithSlash(Property(L"ROOTDRIVE"));
  } else {
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
      if (t.Cell(i, L"Directory") != id) continue;
      const std::wstring parent = t.Cell(i, L"Directory_Parent");
      path = parent.empty() || parent == id ? WithSlash(Property(L"ROOTDRIVE"))
                                            : Directory(parent, depth + 1);
      const std::wstring name = LongName(t.Cell(i, L"DefaultDir"));
      if (name != L"." && SafeElement(name))
        path += name + L"\\";
      else if (name != L".")
        m_badNames.push_back(L"The directory " + id + L" has the name '" + name +
                             L"', which is no folder name");
      break;
    }
    if (path.empty()) path = WithSlash(Property(L"ROOTDRIVE"));
  }
  m_directories[id] = path;
  m_properties[id] = path;
  return path;
}

void Engine::ResolveDirectories() {
  m_directories.clear();
  m_badNames.clear();
  const Table& t = m_database.Get(L"Directory");
  for (std::size_t i = 0; i < t.rows.size(); ++i) Directory(t.Cell(i, L"Directory"));
  for (auto& [name, info] : m_components) m_componentDirs[name] = Directory(info.directory);
  const Table& files = m_database.Get(L"File");
  for (std::size_t i = 0; i < files.rows.size(); ++i) {
    const std::wstring name = LongName(files.Cell(i, L"FileName"));
    if (!SafeElement(name)) {
      m_badNames.push_back(L"The file " + files.Cell(i, L"File") + L" has the name '" + name +
                           L"', which is no file name");
      continue;
    }
    m_filePaths[files.Cell(i, L"File")] = m_componentDirs[files.Cell(i, L"Component_")] + name;
  }
  m_directoriesResolved = true;
}

// --- The run ---------------------------------------------------------------------------------

int Engine::Run() {
  std::wstring package = m_options.target;
  if (IsGuid(package)) {
    m_productCode = platform::ToUpper(package);
    platform::RegKey properties;
    if (properties.Open(platform::HKEY_LOCAL_MACHINE,
                        kUserDataKey + std::wstring(L"Products\\") + PackedGuid(m_productCode) +
                            L"\\InstallProperties") != platform::ERROR_SUCCESS ||
        properties.QueryString(L"LocalPackage", package) != platform::ERROR_SUCCESS) {
      m_log.Line(L"Product " + m_options.target + L" is not installed", false);
      return kUnknownProduct;
    }
  }
  if (!OpenPackage(package)) {
    m_log.Line(L"The package " + package + L" cannot be opened", false);
    return kPackageOpenFailed;
  }
  const std::wstring code = platform::ToUpper(m_database.Properties()[L"ProductCode"]);
  if (!IsGuid(code)) {
    m_log.Line(L"The package has no product code", false);
    return kInstallFailure;
  }
  if (!m_productCode.empty() && m_productCode != code) {
    m_log.Line(L"The Installer's copy of " + m_productCode + L" is another product's", false);
    return kInstallFailure;
  }
  m_productCode = code;
  m_installed = LoadInstalledState();
  if (m_options.action == Options::Action::Remove && !m_installed) {
    m_log.Line(L"Product " + m_productCode + L" is not installed", false);
    return kUnknownProduct;
  }
  SetProperties();
  if (!CheckSupported()) return kInstallFailure;
  if (m_package64 && !platform::CurrentConfig().os.is64Bit) {
    m_log.Line(L"This installation package is not supported by this processor type", false);
    return kPlatformUnsupported;
  }
  ReadFeaturesAndComponents();
  int result = RunSequence();
  return Finish(result);
}

int Engine::Finish(int result) {
  if (result != kSuccess) {
    Rollback();
    m_log.Line(L"Product: " + Property(L"ProductName") + L" -- Installation failed.", false);
    return result;
  }
  bool anyLocal = false;
  for (const auto& [name, f] : m_features)
    anyLocal = anyLocal || (f.action == kStateUnknown ? f.installed : f.action) == kStateLocal;
  // A change that leaves no feature removes the product.
  if (m_installed && !anyLocal && !m_features.empty()) m_removing = true;
  // What the components that went still hold, when the sequence had no action for it (a
  // package without RemoveFolders, say): taken back now, so that nothing is left unrecorded.
  RemoveItems(std::wstring{kEnv, kIni, kLink, kSharedDll, kFile, kFolder, kValue, kTree, kKey});
  if (!m_installed && !anyLocal && !m_features.empty()) {
    // Nothing was chosen: the product is not registered as installed.
    m_log.Line(L"Product: " + Property(L"ProductName") +
                   L" -- no feature is chosen; nothing is "
                   L"installed.",
               false);
    return kSuccess;
  }
  if (m_removing) {
    // Everything went: what is still listed belongs to components another product holds.
    Unregister();
    m_log.Line(L"Product: " + Property(L"ProductName") + L" -- Removal completed successfully.",
               false);
    m_log.Line(L"Windows Installer removed the product. Product Name: " + Property(L"ProductName") +
                   L". Product Version: " + Property(L"ProductVersion") + L". Product Language: " +
                   Property(L"ProductLanguage") + L". Manufacturer: " + Property(L"Manufacturer") +
                   L". Removal success or error status: 0.",
               false);
  } else {
    Register();
    const bool change = m_installed;
    for (const auto& [name, value] : m_properties)
      m_log.Raw(L"Property(S): " + name + L" = " + value);
    m_log.Line(L"Product: " + Property(L"ProductName") +
                   (change ? L" -- Configuration completed successfully."
                           : L" -- Installation completed successfully."),
               false);
    m_log.Line(L"Windows Installer " + std::wstring(change ? L"reconfigured" : L"installed") +
                   L" the product. Product Name: " + Property(L"ProductName") +
                   L". Product Version: " + Property(L"ProductVersion") + L". Product Language: " +
                   Property(L"ProductLanguage") + L". Manufacturer: " + Property(L"Manufacturer") +
                   L". Installation success or error status: 0.",
               false);
  }
  return m_rebootNeeded ? kRebootRequired : kSuccess;
}

}  // namespace Msi
