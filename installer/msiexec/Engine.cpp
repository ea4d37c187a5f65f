#include "msiexec/Engine.h"

#include <algorithm>
#include <cwctype>

#include "platform/Accounts.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/ShellFolders.h"
#include "platform/System.h"

namespace Msi {

namespace {

using platform::HKEY;

constexpr const wchar_t* kUninstallKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const wchar_t* kProductsKey = L"SOFTWARE\\Classes\\Installer\\Products\\";
constexpr const wchar_t* kFeaturesKey = L"SOFTWARE\\Classes\\Installer\\Features\\";
constexpr const wchar_t* kUserDataKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";
// What the product holds, kept with its install properties for a change and the removal; an
// older record kept only the files and the values.
constexpr const wchar_t* kItemsValue = L"TolmeraItems";
constexpr const wchar_t* kOldFilesValue = L"TolmeraFiles";
constexpr const wchar_t* kOldValuesValue = L"TolmeraRegistry";
constexpr wchar_t kSeparator = L'\x1f';

constexpr int kComponentRegistryKeyPath = 0x0004;
constexpr int kComponent64 = 0x0100;
constexpr int kFeatureDisallowAbsent = 0x0010;

constexpr int kActionContinue = 0x40;  // msidbCustomActionTypeContinue: the result is ignored

std::wstring Upper(std::wstring s) { return platform::ToUpper(s); }

bool IsGuid(const std::wstring& s) {
  if (s.size() != 38 || s.front() != L'{' || s.back() != L'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (s[i] != L'-') return false;
    } else if (!std::iswxdigit(s[i])) {
      return false;
    }
  }
  return true;
}

std::wstring WithSlash(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path;
}

int Number(const std::wstring& text, int fallback = 0) {
  if (text.empty()) return fallback;
  try {
    return std::stoi(text);
  } catch (...) {
    return fallback;
  }
}

// The long name of a DefaultDir or FileName cell ("short|long", "target:source").
std::wstring LongName(std::wstring cell) {
  std::size_t colon = cell.find(L':');
  if (colon != std::wstring::npos) cell = cell.substr(0, colon);
  std::size_t bar = cell.find(L'|');
  if (bar != std::wstring::npos) cell = cell.substr(bar + 1);
  return cell;
}

bool SafeElement(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

std::vector<std::wstring> SplitList(const std::wstring& text) {
  std::vector<std::wstring> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(L',', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring part = text.substr(start, end - start);
    while (!part.empty() && part.front() == L' ') part.erase(part.begin());
    while (!part.empty() && part.back() == L' ') part.pop_back();
    if (!part.empty()) out.push_back(part);
    start = end + 1;
  }
  return out;
}

// The folders of the shell by their property names; a per-user installation gets the user's
// menus and desktop, a per-machine one the common ones.
std::wstring StandardFolder(const std::wstring& id, bool perMachine) {
  struct Entry {
    const wchar_t* id;
    int machineCsidl, userCsidl;
    bool native;  // the 64-bit folder, whatever the process is
  };
  static const Entry kFolders[] = {
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

struct Sequenced {
  int order;
  std::wstring action, condition;
};

}  // namespace

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

bool Item::operator<(const Item& o) const {
  if (component != o.component) return component < o.component;
  if (kind != o.kind) return kind < o.kind;
  return fields < o.fields;
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
  m_log.Line(L"PROPERTY CHANGE: " +
             std::wstring(it == m_properties.end() ? L"Adding " : L"Modifying ") + name +
             L" property. Its " + (it == m_properties.end() ? L"" : L"current value is '" +
                                                                        it->second + L"'. Its new ") +
             L"value: '" + value + L"'.");
  m_properties[name] = value;
}

// The product's record: its features, and the items it holds.
bool Engine::LoadInstalledState() {
  const std::wstring packed = PackedGuid(m_productCode);
  platform::RegKey properties;
  if (packed.empty() ||
      properties.Open(platform::HKEY_LOCAL_MACHINE,
                      kUserDataKey + std::wstring(L"Products\\") + packed + L"\\InstallProperties") !=
          platform::ERROR_SUCCESS)
    return false;
  std::vector<std::wstring> texts;
  properties.QueryMultiString(kItemsValue, texts);
  for (const auto& t : texts) {
    Item item;
    if (Item::Decode(t, item)) m_items.push_back(item);
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
    m_items.push_back({L"", kKey, {L"", root, key}});
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
  m_removing = m_installed && Upper(Property(L"REMOVE")) == L"ALL";
  for (const auto& [name, value] : m_properties)
    if (!value.empty()) m_directoryOverrides[name] = value;
  const std::wstring all = Property(L"ALLUSERS");
  m_perMachine = all == L"1" || (all == L"2" && Property(L"MSIINSTALLPERUSER") != L"1");
}

// Tables the engine does not carry out, and the other things a package may ask for that it
// cannot do: named in the log, and the run fails rather than install part of the product.
bool Engine::CheckSupported() {
  static const wchar_t* const kUnsupported[] = {
      L"ServiceInstall", L"ServiceControl", L"Class",       L"ProgId",      L"Extension",
      L"Verb",           L"MIME",           L"TypeLib",     L"SelfReg",     L"Font",
      L"AppId",          L"PublishComponent", L"ODBCDataSource", L"ODBCDriver", L"IsolatedComponent",
      L"Patch",          L"MsiAssembly",    L"RegLocator",  L"DrLocator",   L"CompLocator",
      L"IniLocator",     L"AppSearch",      L"ReserveCost", L"MsiServiceConfig",
      L"MsiLockPermissionsEx", L"LockPermissions", L"BindImage"};
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
  if (given != m_directoryOverrides.end() && id != L"ROOTDRIVE" && id != L"TARGETDIR") {
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
      if (name != L"." && SafeElement(name)) path += name + L"\\";
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
  const Table& t = m_database.Get(L"Directory");
  for (std::size_t i = 0; i < t.rows.size(); ++i) Directory(t.Cell(i, L"Directory"));
  for (auto& [name, info] : m_components) m_componentDirs[name] = Directory(info.directory);
  const Table& files = m_database.Get(L"File");
  for (std::size_t i = 0; i < files.rows.size(); ++i) {
    const std::wstring name = LongName(files.Cell(i, L"FileName"));
    if (!SafeElement(name)) continue;
    m_filePaths[files.Cell(i, L"File")] = m_componentDirs[files.Cell(i, L"Component_")] + name;
  }
  m_directoriesResolved = true;
}

void Engine::ReadFeaturesAndComponents() {
  const Table& components = m_database.Get(L"Component");
  for (std::size_t i = 0; i < components.rows.size(); ++i) {
    ComponentInfo c;
    c.name = components.Cell(i, L"Component");
    c.guid = Upper(components.Cell(i, L"ComponentId"));
    c.directory = components.Cell(i, L"Directory_");
    c.condition = components.Cell(i, L"Condition");
    c.keyPath = components.Cell(i, L"KeyPath");
    c.attributes = Number(components.Cell(i, L"Attributes"));
    c.win64 = (c.attributes & kComponent64) != 0;
    m_components[c.name] = c;
  }
  const Table& features = m_database.Get(L"Feature");
  for (std::size_t i = 0; i < features.rows.size(); ++i) {
    FeatureInfo f;
    f.name = features.Cell(i, L"Feature");
    f.parent = features.Cell(i, L"Feature_Parent");
    if (f.parent == f.name) f.parent.clear();
    f.level = Number(features.Cell(i, L"Level"), 1);
    f.attributes = Number(features.Cell(i, L"Attributes"));
    m_features[f.name] = f;
    m_featureOrder.push_back(f.name);
  }
  const Table& links = m_database.Get(L"FeatureComponents");
  for (std::size_t i = 0; i < links.rows.size(); ++i) {
    auto f = m_features.find(links.Cell(i, L"Feature_"));
    if (f != m_features.end()) f->second.components.push_back(links.Cell(i, L"Component_"));
  }
  // What the product has now.
  if (m_installed) {
    platform::RegKey key;
    if (key.Open(platform::HKEY_LOCAL_MACHINE, kFeaturesKey + PackedGuid(m_productCode)) ==
        platform::ERROR_SUCCESS) {
      for (const auto& v : key.ValueList()) {
        auto f = m_features.find(v.name);
        if (f != m_features.end()) f->second.installed = kStateLocal;
      }
    } else {
      // A record without features: everything it has was installed.
      for (auto& [name, f] : m_features) f.installed = kStateLocal;
    }
    for (auto& [name, f] : m_features)
      if (f.installed == kStateLocal)
        for (const auto& c : f.components)
          if (m_components.count(c)) m_components[c].installed = kStateLocal;
  }
}

// Feature levels, INSTALLLEVEL and the Condition table; ADDLOCAL, REMOVE, REINSTALL and
// ADDDEFAULT on the command line; then each component's action from its features'.
void Engine::ChooseFeatures() {
  const int installLevel = Number(Property(L"INSTALLLEVEL"), 1);
  const Table& conditions = m_database.Get(L"Condition");
  for (std::size_t i = 0; i < conditions.rows.size(); ++i) {
    auto f = m_features.find(conditions.Cell(i, L"Feature_"));
    if (f == m_features.end()) continue;
    if (Evaluate(conditions.Cell(i, L"Condition")) == ConditionResult::True)
      f->second.level = Number(conditions.Cell(i, L"Level"), f->second.level);
  }
  const std::wstring addLocal = Property(L"ADDLOCAL"), remove = Property(L"REMOVE"),
                     reinstall = Property(L"REINSTALL"), addDefault = Property(L"ADDDEFAULT");
  const bool requested = !addLocal.empty() || !remove.empty() || !addDefault.empty();
  std::map<std::wstring, int> request;
  if (!m_installed && !requested) {
    for (auto& [name, f] : m_features)
      request[name] = f.level > 0 && f.level <= installLevel ? kStateLocal : kStateAbsent;
  } else {
    for (auto& [name, f] : m_features) request[name] = m_installed ? f.installed : kStateAbsent;
    // A feature asked for brings its parents; REMOVE wins over ADDLOCAL.
    auto apply = [&](const std::wstring& list, int state) {
      for (const auto& name : SplitList(list)) {
        std::vector<std::wstring> names;
        if (Upper(name) == L"ALL") {
          for (auto& [n, f] : m_features) names.push_back(n);
        } else if (m_features.count(name)) {
          names.push_back(name);
        } else {
          m_log.Line(L"The feature " + name + L" of the command line is not in the package");
        }
        for (std::wstring n : names) {
          request[n] = state;
          for (int depth = 0; state == kStateLocal && depth < 64; ++depth) {
            n = m_features[n].parent;
            if (n.empty() || !m_features.count(n)) break;
            request[n] = kStateLocal;
          }
        }
      }
    };
    apply(addLocal, kStateLocal);
    apply(addDefault, kStateLocal);
    apply(remove, kStateAbsent);
  }
  // A feature with level 0 is off, and a child follows an absent parent.
  for (auto& [name, f] : m_features)
    if (f.level <= 0) request[name] = kStateAbsent;
  for (std::size_t pass = 0; pass <= m_features.size(); ++pass) {
    bool changed = false;
    for (auto& [name, f] : m_features) {
      if (f.parent.empty() || !m_features.count(f.parent)) continue;
      if (request[name] == kStateLocal && request[f.parent] != kStateLocal) {
        request[name] = kStateAbsent;
        changed = true;
      }
    }
    if (!changed) break;
  }
  if (m_removing)
    for (auto& [name, f] : m_features) request[name] = kStateAbsent;
  for (const auto& name : m_featureOrder) {
    FeatureInfo& f = m_features[name];
    if ((f.attributes & kFeatureDisallowAbsent) && request[name] == kStateAbsent && !m_removing &&
        f.installed == kStateLocal)
      request[name] = kStateLocal;
    f.action = request[name] == f.installed ? kStateUnknown : request[name];
    m_log.Line(L"Feature: " + name + L"; Installed: " +
               (f.installed == kStateLocal ? L"Local" : L"Absent") + L";   Request: " +
               (request[name] == kStateLocal ? L"Local" : L"Absent") + L";   Action: " +
               (f.action == kStateLocal    ? L"Local"
                : f.action == kStateAbsent ? L"Absent"
                                           : L"Null"));
  }
  const std::vector<std::wstring> reinstallList = SplitList(reinstall);
  auto reinstalled = [&](const std::wstring& feature) {
    for (const auto& r : reinstallList)
      if (Upper(r) == L"ALL" || r == feature) return true;
    return false;
  };
  for (auto& [name, c] : m_components) {
    bool wanted = false, again = false;
    for (const auto& [fname, f] : m_features) {
      if (std::find(f.components.begin(), f.components.end(), name) == f.components.end())
        continue;
      const int state = f.action == kStateUnknown ? f.installed : f.action;
      if (state == kStateLocal) wanted = true;
      if (state == kStateLocal && f.installed == kStateLocal && reinstalled(fname)) again = true;
    }
    // A component's own condition is asked when it would be installed.
    if (wanted && c.installed != kStateLocal &&
        Evaluate(c.condition) == ConditionResult::False)
      wanted = false;
    c.reinstall = again && c.installed == kStateLocal;
    if (wanted && (c.installed != kStateLocal || c.reinstall))
      c.action = kStateLocal;
    else if (!wanted && c.installed == kStateLocal)
      c.action = kStateAbsent;
    else
      c.action = kStateUnknown;
    m_log.Line(L"Component: " + name + L"; Installed: " +
               (c.installed == kStateLocal ? L"Local" : L"Absent") + L";   Request: " +
               (wanted ? L"Local" : L"Absent") + L";   Action: " +
               (c.action == kStateLocal    ? L"Local"
                : c.action == kStateAbsent ? L"Absent"
                                           : L"Null"));
  }
}

ConditionResult Engine::Evaluate(const std::wstring& condition) const {
  ConditionContext context;
  context.property = [this](const std::wstring& n) { return Property(n); };
  context.environment = [](const std::wstring& n) {
    std::wstring v;
    platform::GetEnvironmentVariableW(n, v);
    return v;
  };
  context.feature = [this](const std::wstring& n, bool installed) {
    auto f = m_features.find(n);
    if (f == m_features.end()) return kStateUnknown;
    return installed ? f->second.installed : f->second.action;
  };
  context.component = [this](const std::wstring& n, bool installed) {
    auto c = m_components.find(n);
    if (c == m_components.end()) return kStateUnknown;
    return installed ? c->second.installed : c->second.action;
  };
  std::wstring error;
  ConditionResult r = EvaluateCondition(condition, context, &error);
  if (r == ConditionResult::Error) m_log.Line(L"The condition '" + condition + L"' is bad: " + error);
  return r;
}

// --- The sequence ----------------------------------------------------------------------------

int Engine::RunSequence() {
  const Table& table = m_database.Get(L"InstallExecuteSequence");
  std::vector<Sequenced> steps;
  for (std::size_t i = 0; i < table.rows.size(); ++i) {
    const int order = Number(table.Cell(i, L"Sequence"), -1);
    if (order <= 0) continue;  // the sequence's special numbers (-1 success, ...) run no action
    steps.push_back({order, table.Cell(i, L"Action"), table.Cell(i, L"Condition")});
  }
  if (steps.empty()) {
    // A package without a sequence: the standard actions in their documented order.
    int order = 100;
    for (const wchar_t* a :
         {L"LaunchConditions", L"CostFinalize", L"InstallValidate", L"RemoveEnvironmentStrings",
          L"RemoveIniValues", L"RemoveRegistryValues", L"RemoveShortcuts", L"RemoveFiles",
          L"RemoveFolders", L"CreateFolders", L"MoveFiles", L"InstallFiles", L"DuplicateFiles",
          L"WriteRegistryValues", L"WriteIniValues", L"WriteEnvironmentStrings",
          L"CreateShortcuts"})
      steps.push_back({order += 100, a, L""});
  }
  std::stable_sort(steps.begin(), steps.end(),
                   [](const Sequenced& a, const Sequenced& b) { return a.order < b.order; });
  for (const auto& step : steps) {
    // Directories and choices are settled by CostFinalize at the latest.
    if (!m_directoriesResolved && (step.action == L"CostFinalize" || step.order >= 1000)) {
      ResolveDirectories();
      ChooseFeatures();
    }
    if (CancelRequested()) {
      m_log.Line(L"The installation was cancelled before " + step.action, false);
      return kUserExit;
    }
    const ConditionResult holds = Evaluate(step.condition);
    if (holds == ConditionResult::Error) return kInstallFailure;
    if (holds == ConditionResult::False) {
      m_log.Line(L"Skipping action: " + step.action + L" (condition is false)");
      continue;
    }
    m_log.Line(L"Doing action: " + step.action);
    m_log.Raw(L"Action start " + LogClock() + L": " + step.action + L".");
    int result = StandardAction(step.action);
    if (result < 0) result = CustomAction(step.action);
    m_log.Raw(L"Action ended " + LogClock() + L": " + step.action + L". Return value " +
              std::to_wstring(result == kSuccess ? 1 : 3) + L".");
    if (result != kSuccess) return result;
  }
  if (!m_directoriesResolved) {
    ResolveDirectories();
    ChooseFeatures();
  }
  return kSuccess;
}

// A standard action: its result, or -1 when `action` is none.
int Engine::StandardAction(const std::wstring& action) {
  if (action == L"CostFinalize") {
    if (!m_directoriesResolved) {
      ResolveDirectories();
      ChooseFeatures();
    }
    return kSuccess;
  }
  if (action == L"LaunchConditions") {
    const Table& t = m_database.Get(L"LaunchCondition");
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
      if (m_removing) break;
      if (!ConditionHolds(Evaluate(t.Cell(i, L"Condition")))) {
        m_log.Line(Format(t.Cell(i, L"Description")), false);
        return kInstallFailure;
      }
    }
    return kSuccess;
  }
  if (action == L"InstallFiles") return InstallFiles() ? kSuccess : kInstallFailure;
  if (action == L"WriteRegistryValues") return WriteRegistry(), kSuccess;
  if (action == L"RemoveRegistryValues") {
    RemoveItems(std::wstring{kValue, kTree, kKey});
    RemoveRegistry();
    return kSuccess;
  }
  if (action == L"CreateShortcuts") return CreateShortcuts(), kSuccess;
  if (action == L"RemoveShortcuts") return RemoveItems(std::wstring{kLink}), kSuccess;
  if (action == L"RemoveFiles") {
    RemoveFileTable(false);
    RemoveItems(std::wstring{kSharedDll, kFile, kFolder});
    RemoveFileTable(true);
    return kSuccess;
  }
  if (action == L"RemoveFolders") return RemoveItems(std::wstring{kFolder}), kSuccess;
  if (action == L"CreateFolders") return CreateFolders(), kSuccess;
  if (action == L"WriteIniValues") return WriteIni(), kSuccess;
  if (action == L"RemoveIniValues") return RemoveItems(std::wstring{kIni}), kSuccess;
  if (action == L"WriteEnvironmentStrings") return WriteEnvironment(), kSuccess;
  if (action == L"RemoveEnvironmentStrings") return RemoveItems(std::wstring{kEnv}), kSuccess;
  if (action == L"MoveFiles") return MoveFiles(), kSuccess;
  if (action == L"DuplicateFiles") return DuplicateFiles(), kSuccess;
  if (action == L"RemoveDuplicateFiles") return kSuccess;  // with RemoveFiles
  if (action == L"ScheduleReboot" || action == L"ForceReboot") {
    m_rebootNeeded = true;
    return kSuccess;
  }
  // Actions whose work is done elsewhere here (registration at the end) or that a machine
  // without a user interface and without a source list has nothing for.
  static const wchar_t* const kNothingToDo[] = {
      L"ValidateProductID", L"CostInitialize", L"FileCost", L"InstallValidate",
      L"InstallInitialize", L"InstallFinalize", L"ProcessComponents", L"UnpublishFeatures",
      L"UnpublishComponents", L"RegisterUser", L"RegisterProduct", L"PublishFeatures",
      L"PublishProduct", L"PublishComponents", L"FindRelatedProducts", L"MigrateFeatureStates",
      L"InstallExecute", L"InstallExecuteAgain", L"InstallAdminPackage", L"ResolveSource",
      L"CCPSearch", L"RMCCPSearch", L"InstallSFPCatalogFile", L"AllocateRegistrySpace",
      L"SetODBCFolders", L"DeleteServices", L"StopServices", L"StartServices",
      L"UnregisterComPlus", L"RegisterComPlus", L"SelfUnregModules", L"SelfRegModules",
      L"UnregisterTypeLibraries", L"RegisterTypeLibraries", L"UnregisterClassInfo",
      L"RegisterClassInfo", L"UnregisterExtensionInfo", L"RegisterExtensionInfo",
      L"UnregisterProgIdInfo", L"RegisterProgIdInfo", L"UnregisterMIMEInfo", L"RegisterMIMEInfo",
      L"UnregisterFonts", L"RegisterFonts", L"RemoveODBC", L"InstallODBC", L"AppSearch",
      L"RemoveExistingProducts", L"IsolateComponents", L"BindImage", L"PatchFiles",
      L"MsiPublishAssemblies", L"MsiUnpublishAssemblies", L"InstallServices",
      L"MsiConfigureServices", L"DisableRollback", L"SetODBCFolders"};
  for (const wchar_t* name : kNothingToDo)
    if (action == name) return kSuccess;
  return -1;
}

int Engine::CustomAction(const std::wstring& action) {
  const Table& t = m_database.Get(L"CustomAction");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    if (t.Cell(i, L"Action") != action) continue;
    const int type = Number(t.Cell(i, L"Type"));
    const std::wstring source = t.Cell(i, L"Source");
    const std::wstring target = Format(t.Cell(i, L"Target"));
    const int base = type & 0x3f;
    if (base == 51) {  // a property
      SetProperty(source, target);
      if (!m_directoriesResolved && !target.empty()) m_directoryOverrides[source] = target;
      return kSuccess;
    }
    if (base == 35) {  // a directory
      SetProperty(source, target);
      m_directoryOverrides[source] = target;
      if (m_directoriesResolved) {
        // Its folders below move with it.
        for (const auto& [id, path] : m_directories)
          if (!m_directoryOverrides.count(id) || id == source) m_properties.erase(id);
        ResolveDirectories();
      }
      return kSuccess;
    }
    if (base == 19) {  // an error that ends the run
      m_log.Line(L"Error: " + target, false);
      return kInstallFailure;
    }
    if (base == 18 || base == 34 || base == 50) {  // an installed program, a program in a folder
      std::wstring program, folder;
      if (base == 18) {
        auto f = m_filePaths.find(source);
        program = f == m_filePaths.end() ? L"" : f->second;
      } else if (base == 50) {
        program = Property(source);
      }
      std::wstring line = base == 34 ? target : L"\"" + program + L"\" " + target;
      if (base == 34) folder = Directory(source);
      if (base != 34 && program.empty()) {
        m_log.Line(L"The program of the action " + action + L" is not known", false);
        return (type & kActionContinue) ? kSuccess : kInstallFailure;
      }
      m_log.Line(L"Running " + line);
      platform::ProcessHandle process;
      platform::StartupInfo startup;
      platform::DWORD code = 1;
      platform::DWORD started = platform::CreateProcessW(line, folder, startup, process);
      if (started == platform::ERROR_SUCCESS) {
        platform::WaitForSingleObject(process, platform::INFINITE);
        platform::GetExitCodeProcess(process, code);
        platform::CloseHandle(process);
      }
      if (started != platform::ERROR_SUCCESS || code != 0) {
        m_log.Line(L"The action " + action + L" " +
                       (started != platform::ERROR_SUCCESS
                            ? L"could not start its program: " + platform::SystemErrorText(started)
                            : L"ended with " + std::to_wstring(code)),
                   false);
        if (!(type & kActionContinue)) return kInstallFailure;
      }
      return kSuccess;
    }
    m_log.Line(L"The custom action " + action + L" of type " + std::to_wstring(type) +
                   L" is not supported by this msiexec" +
                   ((type & kActionContinue) ? L"; it is skipped" : L""),
               false);
    return (type & kActionContinue) ? kSuccess : kInstallFailure;
  }
  m_log.Line(L"The action " + action + L" is not supported by this msiexec", false);
  return kInstallFailure;
}

// --- Registration ----------------------------------------------------------------------------

void Engine::RegisterComponents() {
  const std::wstring product = PackedGuid(m_productCode);
  for (const auto& [name, c] : m_components) {
    const std::wstring packed = PackedGuid(c.guid);
    if (packed.empty()) continue;  // a component without an id is not registered
    const std::wstring key = kUserDataKey + std::wstring(L"Components\\") + packed;
    const bool now = c.action == kStateLocal || (c.action == kStateUnknown && c.installed == kStateLocal);
    if (now && !m_removing) {
      platform::RegKey k;
      if (k.Create(platform::HKEY_LOCAL_MACHINE, key) != platform::ERROR_SUCCESS) continue;
      std::wstring keyPath = m_componentDirs[name];
      if (!c.keyPath.empty() && m_filePaths.count(c.keyPath)) keyPath = m_filePaths[c.keyPath];
      if (c.attributes & kComponentRegistryKeyPath) keyPath = L"registry:" + c.keyPath;
      k.SetString(product, keyPath);
    } else if (c.installed == kStateLocal) {
      platform::RegKey k;
      if (k.Open(platform::HKEY_LOCAL_MACHINE, key, platform::KEY_READ | platform::KEY_WRITE) !=
          platform::ERROR_SUCCESS)
        continue;
      k.DeleteValue(product);
      const bool empty = k.ValueList().empty() && k.SubKeyNames().empty();
      k.Close();
      if (empty) platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, key.c_str());
    }
  }
}

void Engine::Register() {
  const std::wstring code = m_productCode;
  const std::wstring packed = PackedGuid(code);
  const std::wstring name = Property(L"ProductName");
  const std::wstring version = Property(L"ProductVersion");
  const std::wstring publisher = Property(L"Manufacturer");

  // The Installer keeps its own copy of the package for a repair and the removal.
  const std::wstring cache = platform::GetWindowsDirectoryW() + L"\\Installer";
  platform::CreateDirectoryWithParents(cache);
  const std::wstring cached = cache + L"\\" + packed + L".msi";
  if (!platform::EqualsNoCase(cached, m_packagePath))
    platform::CopyFileW(m_packagePath, cached, false);

  platform::DWORD packedVersion = 0;
  {
    unsigned major = 0, minor = 0, build = 0;
    std::swscanf(version.c_str(), L"%u.%u.%u", &major, &minor, &build);
    packedVersion = ((major & 0xff) << 24) | ((minor & 0xff) << 16) | (build & 0xffff);
  }
  platform::RegKey entry;
  if (entry.Create(platform::HKEY_LOCAL_MACHINE, kUninstallKey + code) == platform::ERROR_SUCCESS) {
    entry.SetString(L"DisplayName", name);
    entry.SetString(L"DisplayVersion", version);
    entry.SetString(L"Publisher", publisher);
    std::wstring folder = m_packagePath;
    platform::PathRemoveFileSpecW(folder);
    entry.SetString(L"InstallSource", WithSlash(folder));
    std::wstring date;
    if (entry.QueryString(L"InstallDate", date) != platform::ERROR_SUCCESS || date.empty())
      entry.SetString(L"InstallDate", platform::FromUtf8(LocalDate()));
    entry.SetString(L"UninstallString", L"MsiExec.exe /X" + code);
    entry.SetString(L"ModifyPath", L"MsiExec.exe /X" + code);
    entry.SetDword(L"WindowsInstaller", 1);
    entry.SetDword(L"Version", packedVersion);
    const std::wstring location = Property(L"ARPINSTALLLOCATION");
    if (!location.empty()) entry.SetString(L"InstallLocation", location);
  }
  platform::RegKey product;
  if (product.Create(platform::HKEY_LOCAL_MACHINE, kProductsKey + packed) ==
      platform::ERROR_SUCCESS) {
    product.SetString(L"ProductName", name);
    product.SetDword(L"Language", static_cast<platform::DWORD>(std::wcstoul(
                                      Property(L"ProductLanguage").c_str(), nullptr, 10)));
    product.SetDword(L"Version", packedVersion);
    product.SetDword(L"Assignment", m_perMachine ? 1 : 0);
  }
  // The features the product has now, with their parents.
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, (kFeaturesKey + packed).c_str());
  platform::RegKey features;
  if (features.Create(platform::HKEY_LOCAL_MACHINE, kFeaturesKey + packed) ==
      platform::ERROR_SUCCESS)
    for (const auto& n : m_featureOrder) {
      const FeatureInfo& f = m_features[n];
      if ((f.action == kStateUnknown ? f.installed : f.action) == kStateLocal)
        features.SetString(n, f.parent);
    }
  platform::RegKey properties;
  if (properties.Create(platform::HKEY_LOCAL_MACHINE,
                        kUserDataKey + std::wstring(L"Products\\") + packed +
                            L"\\InstallProperties") == platform::ERROR_SUCCESS) {
    properties.SetString(L"LocalPackage", cached);
    properties.SetString(L"DisplayName", name);
    properties.SetString(L"DisplayVersion", version);
    properties.SetString(L"Publisher", publisher);
    std::vector<std::wstring> texts;
    for (const auto& item : m_items) texts.push_back(item.Encode());
    properties.SetMultiString(kItemsValue, texts);
    properties.DeleteValue(kOldFilesValue);
    properties.DeleteValue(kOldValuesValue);
  }
  RegisterComponents();
}

void Engine::Unregister() {
  RegisterComponents();
  const std::wstring packed = PackedGuid(m_productCode);
  std::wstring cached;
  {
    platform::RegKey properties;
    if (properties.Open(platform::HKEY_LOCAL_MACHINE, kUserDataKey + std::wstring(L"Products\\") +
                                                          packed + L"\\InstallProperties") ==
        platform::ERROR_SUCCESS)
      properties.QueryString(L"LocalPackage", cached);
  }
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, (kUninstallKey + m_productCode).c_str());
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, (kProductsKey + packed).c_str());
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, (kFeaturesKey + packed).c_str());
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE,
                           (kUserDataKey + std::wstring(L"Products\\") + packed).c_str());
  // Only the Installer's own copy goes, never a package the caller named.
  const std::wstring cache = platform::GetWindowsDirectoryW() + L"\\Installer\\";
  if (!cached.empty() && platform::EqualsNoCase(cached, cache + packed + L".msi"))
    platform::DeleteFileW(cached);
  // The Installer's own keys go when they hold nothing more (its cache folder is Windows').
  for (const wchar_t* key :
       {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer", L"SOFTWARE\\Classes\\Installer\\Features",
        L"SOFTWARE\\Classes\\Installer\\Products", L"SOFTWARE\\Classes\\Installer"}) {
    platform::RegKey k;
    if (k.Open(platform::HKEY_LOCAL_MACHINE, key) != platform::ERROR_SUCCESS) continue;
    const bool empty = k.ValueList().empty() && k.SubKeyNames().empty();
    k.Close();
    if (empty) platform::RegDeleteKeyW(platform::HKEY_LOCAL_MACHINE, key);
  }
}

// Takes back what this run wrote, when the run fails on the way.
void Engine::Rollback() {
  if (m_written.empty()) return;
  m_log.Line(L"Rolling back what this run wrote", false);
  for (auto it = m_written.rbegin(); it != m_written.rend(); ++it) {
    if (it->kind == kFolder || it->kind == kKey) continue;
    RemoveItem(*it);
  }
  for (auto it = m_written.rbegin(); it != m_written.rend(); ++it)
    if (it->kind == kFolder || it->kind == kKey) RemoveItem(*it);
}

// --- The run ---------------------------------------------------------------------------------

int Engine::Run() {
  std::wstring package = m_options.target;
  if (IsGuid(package)) {
    m_productCode = Upper(package);
    platform::RegKey properties;
    if (properties.Open(platform::HKEY_LOCAL_MACHINE, kUserDataKey + std::wstring(L"Products\\") +
                                                          PackedGuid(m_productCode) +
                                                          L"\\InstallProperties") !=
            platform::ERROR_SUCCESS ||
        properties.QueryString(L"LocalPackage", package) != platform::ERROR_SUCCESS) {
      m_log.Line(L"Product " + m_options.target + L" is not installed", false);
      return kUnknownProduct;
    }
  }
  if (!OpenPackage(package)) {
    m_log.Line(L"The package " + package + L" cannot be opened", false);
    return kPackageOpenFailed;
  }
  const std::wstring code = Upper(m_database.Properties()[L"ProductCode"]);
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
  // What the components that went still hold, when the sequence had no action for it (a
  // package without RemoveFolders, say): taken back now, so that nothing is left unrecorded.
  RemoveItems(std::wstring{kEnv, kIni, kLink, kSharedDll, kFile, kFolder, kValue, kTree, kKey});
  bool anyLocal = false;
  for (const auto& [name, f] : m_features)
    anyLocal = anyLocal || (f.action == kStateUnknown ? f.installed : f.action) == kStateLocal;
  if (m_removing || (m_installed && !anyLocal && !m_features.empty())) {
    // Everything went: what is still listed belongs to components another product holds.
    m_removing = true;
    Unregister();
    m_log.Line(L"Product: " + Property(L"ProductName") + L" -- Removal completed successfully.",
               false);
    m_log.Line(L"Windows Installer removed the product. Product Name: " + Property(L"ProductName") +
                   L". Product Version: " + Property(L"ProductVersion") +
                   L". Product Language: " + Property(L"ProductLanguage") + L". Manufacturer: " +
                   Property(L"Manufacturer") + L". Removal success or error status: 0.",
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
                   L". Product Version: " + Property(L"ProductVersion") +
                   L". Product Language: " + Property(L"ProductLanguage") + L". Manufacturer: " +
                   Property(L"Manufacturer") + L". Installation success or error status: 0.",
               false);
  }
  return m_rebootNeeded ? kRebootRequired : kSuccess;
}

}  // namespace Msi
