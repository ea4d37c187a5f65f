#include "msiexec/Msiexec.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>

#include "msiexec/MsiDatabase.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "platform/Text.h"

namespace Msi {

namespace {

using Properties = std::map<std::wstring, std::wstring>;
using platform::HKEY;

constexpr const wchar_t* kUninstallKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const wchar_t* kProductsKey = L"SOFTWARE\\Classes\\Installer\\Products\\";
constexpr const wchar_t* kUserDataKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\";
// What the installation wrote, kept with its install properties for the removal.
constexpr const wchar_t* kWrittenFiles = L"TolmeraFiles";
constexpr const wchar_t* kWrittenValues = L"TolmeraRegistry";

std::wstring Upper(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(std::towupper(c));
  return s;
}

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

// The log of /l: lines kept in order and written when the run ends.
class RunLog {
 public:
  void Line(const std::wstring& text) { m_lines.push_back(text); }
  void WriteTo(const std::wstring& path) const {
    if (path.empty()) return;
    std::string bytes;
    for (const auto& l : m_lines) bytes += platform::ToUtf8(l) + "\r\n";
    platform::WriteWholeFile(path, bytes);
  }

 private:
  std::vector<std::wstring> m_lines;
};

// The local time in the strftime form `format`.
std::wstring LocalTime(const char* format) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, format, &tm);
  return platform::FromUtf8(buf);
}

std::wstring Now() { return LocalTime("%m/%d/%Y  %H:%M:%S"); }
std::wstring Today() { return LocalTime("%Y%m%d"); }

HKEY RootOf(const std::wstring& root) {
  if (root == L"0") return platform::HKEY_CLASSES_ROOT;
  if (root == L"1") return platform::HKEY_CURRENT_USER;
  if (root == L"3") return platform::HKEY_USERS;
  return platform::HKEY_LOCAL_MACHINE;  // 2, and -1 for a per-machine installation
}

std::wstring WithSlash(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path;
}

// The long name of a DefaultDir or FileName cell ("short|long", "target:source").
std::wstring LongName(std::wstring cell) {
  std::size_t colon = cell.find(L':');
  if (colon != std::wstring::npos) cell = cell.substr(0, colon);
  std::size_t bar = cell.find(L'|');
  if (bar != std::wstring::npos) cell = cell.substr(bar + 1);
  return cell;
}

// A name from a package that must stay one path element.
bool SafeElement(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

std::wstring StandardFolder(const std::wstring& id) {
  struct Entry {
    const wchar_t* id;
    int csidl;
  };
  static const Entry kFolders[] = {
      {L"ProgramFilesFolder", platform::CSIDL_PROGRAM_FILESX86},
      {L"ProgramFiles64Folder", platform::CSIDL_PROGRAM_FILES},
      {L"CommonFilesFolder", platform::CSIDL_PROGRAM_FILES_COMMONX86},
      {L"CommonFiles64Folder", platform::CSIDL_PROGRAM_FILES_COMMON},
      {L"SystemFolder", platform::CSIDL_SYSTEMX86},
      {L"System64Folder", platform::CSIDL_SYSTEM},
      {L"WindowsFolder", platform::CSIDL_WINDOWS},
      {L"AppDataFolder", platform::CSIDL_APPDATA},
      {L"LocalAppDataFolder", platform::CSIDL_LOCAL_APPDATA},
      {L"CommonAppDataFolder", platform::CSIDL_COMMON_APPDATA},
      {L"DesktopFolder", platform::CSIDL_COMMON_DESKTOPDIRECTORY},
      {L"ProgramMenuFolder", platform::CSIDL_COMMON_PROGRAMS},
      {L"StartMenuFolder", platform::CSIDL_COMMON_STARTMENU},
      {L"PersonalFolder", platform::CSIDL_PERSONAL},
  };
  for (const auto& f : kFolders) {
    if (id != f.id) continue;
    std::wstring path;
    if (platform::SHGetSpecialFolderPathW(nullptr, path, f.csidl, false)) return WithSlash(path);
  }
  return L"";
}

// One run of the engine over a package.
class Engine {
 public:
  Engine(const Options& options, RunLog& log) : m_options(options), m_log(log) {}
  int Run();

 private:
  bool OpenPackage(const std::wstring& windowsPath);
  void ResolveProperties();
  void ResolveDirectories();
  std::wstring Directory(const std::wstring& id, int depth = 0);
  int Install();
  int Remove(const std::wstring& productCode);
  void Register(const std::vector<std::wstring>& files, const std::vector<std::wstring>& values);
  bool InstallFiles(std::vector<std::wstring>& written);
  void WriteRegistry(std::vector<std::wstring>& written);
  std::wstring Format(const std::wstring& text) const {
    return FormatText(text, m_properties, m_filePaths, m_componentDirs);
  }
  std::wstring Property(const std::wstring& name) const {
    auto it = m_properties.find(name);
    return it == m_properties.end() ? L"" : it->second;
  }

  const Options& m_options;
  RunLog& m_log;
  Database m_database;
  std::wstring m_packagePath;  // Windows path of the package
  Properties m_properties;
  std::map<std::wstring, std::wstring> m_directories;  // resolved, with a final "\"
  std::map<std::wstring, std::wstring> m_filePaths;    // File key -> installed path
  std::map<std::wstring, std::wstring> m_componentDirs;
};

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

void Engine::ResolveProperties() {
  m_properties = m_database.Properties();
  m_properties[L"ROOTDRIVE"] = L"C:\\";
  for (const auto& [name, value] : m_options.properties) m_properties[name] = value;
  // Custom actions that only set a property (type 51), in the order of the execute sequence.
  const Table& actions = m_database.Get(L"CustomAction");
  const Table& sequence = m_database.Get(L"InstallExecuteSequence");
  std::multimap<int, std::size_t> ordered;
  for (std::size_t i = 0; i < actions.rows.size(); ++i) {
    int type = 0;
    try {
      type = std::stoi(actions.Cell(i, L"Type"));
    } catch (...) {
      continue;
    }
    if ((type & 0x3f) != 51) continue;
    int order = 1 << 30;
    for (std::size_t s = 0; s < sequence.rows.size(); ++s) {
      if (sequence.Cell(s, L"Action") != actions.Cell(i, L"Action")) continue;
      if (!sequence.Cell(s, L"Condition").empty())
        order = -1;  // conditions are not evaluated
      else {
        try {
          order = std::stoi(sequence.Cell(s, L"Sequence"));
        } catch (...) {}
      }
    }
    if (order >= 0) ordered.emplace(order, i);
  }
  for (const auto& [order, i] : ordered) {
    const std::wstring name = actions.Cell(i, L"Source");
    const std::wstring value = Format(actions.Cell(i, L"Target"));
    m_properties[name] = value;
    m_log.Line(L"MSI (s): PROPERTY CHANGE: Adding " + name + L" property. Its value is '" + value +
               L"'.");
  }
}

std::wstring Engine::Directory(const std::wstring& id, int depth) {
  auto known = m_directories.find(id);
  if (known != m_directories.end()) return known->second;
  const Table& t = m_database.Get(L"Directory");
  std::wstring path;
  // A property of the directory's name (from the command line, say) is where it goes.
  auto given = m_properties.find(id);
  if (given != m_properties.end() && !given->second.empty() && id != L"ROOTDRIVE") {
    path = WithSlash(given->second);
  } else if (!(path = StandardFolder(id)).empty()) {
  } else if (id == L"TARGETDIR" || depth > 64) {
    path = WithSlash(Property(L"ROOTDRIVE"));
  } else {
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
      if (t.Cell(i, L"Directory") != id) continue;
      const std::wstring parent = t.Cell(i, L"Directory_Parent");
      path = parent.empty() || parent == id ? WithSlash(Property(L"ROOTDRIVE"))
                                            : Directory(parent, depth + 1);
      const std::wstring name = LongName(t.Cell(i, L"DefaultDir"));
      if (name != L"." && !name.empty()) {
        if (SafeElement(name)) path += name + L"\\";
      }
      break;
    }
    if (path.empty()) path = WithSlash(Property(L"ROOTDRIVE"));
  }
  m_directories[id] = path;
  m_properties[id] = path;
  return path;
}

void Engine::ResolveDirectories() {
  const Table& t = m_database.Get(L"Directory");
  for (std::size_t i = 0; i < t.rows.size(); ++i) Directory(t.Cell(i, L"Directory"));
  const Table& components = m_database.Get(L"Component");
  for (std::size_t i = 0; i < components.rows.size(); ++i)
    m_componentDirs[components.Cell(i, L"Component")] =
        Directory(components.Cell(i, L"Directory_"));
  const Table& files = m_database.Get(L"File");
  for (std::size_t i = 0; i < files.rows.size(); ++i) {
    const std::wstring name = LongName(files.Cell(i, L"FileName"));
    if (!SafeElement(name)) continue;
    m_filePaths[files.Cell(i, L"File")] = m_componentDirs[files.Cell(i, L"Component_")] + name;
  }
}

bool Engine::InstallFiles(std::vector<std::wstring>& written) {
  const Table& files = m_database.Get(L"File");
  if (files.rows.empty()) return true;
  char pattern[] = "/tmp/tlmsiexec-XXXXXX";
  if (!::mkdtemp(pattern)) return false;
  const std::string scratch = pattern;
  std::vector<std::string> extracted;
  std::string error;
  bool ok = m_database.ExtractFiles(scratch, extracted, error);
  if (!ok) m_log.Line(L"MSI (s): " + platform::FromUtf8(error));
  for (std::size_t i = 0; ok && i < files.rows.size(); ++i) {
    auto target = m_filePaths.find(files.Cell(i, L"File"));
    if (target == m_filePaths.end()) continue;
    const std::string name = platform::ToUtf8(LongName(files.Cell(i, L"FileName")));
    // msiextract lays the files out by their folders' names; the one that ends like the
    // installed path is this file.
    const std::string installed = platform::ToUtf8(target->second);
    std::string best;
    std::size_t bestMatch = 0;
    for (const auto& e : extracted) {
      if (e.size() < name.size() || e.compare(e.size() - name.size(), name.size(), name) != 0 ||
          (e.size() > name.size() && e[e.size() - name.size() - 1] != '/'))
        continue;
      std::size_t match = 0;
      while (match < e.size() && match < installed.size()) {
        char a = e[e.size() - 1 - match], b = installed[installed.size() - 1 - match];
        if (!(a == b || (a == '/' && b == '\\'))) break;
        ++match;
      }
      if (best.empty() || match > bestMatch) best = e, bestMatch = match;
    }
    if (best.empty()) {
      m_log.Line(L"MSI (s): File " + target->second + L" is not in the package");
      ok = false;
      break;
    }
    std::ifstream in(scratch + "/" + best, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::wstring folder = target->second;
    platform::PathRemoveFileSpecW(folder);
    platform::CreateDirectoryWithParents(folder);
    if (platform::WriteWholeFile(target->second, bytes.str()) != platform::ERROR_SUCCESS) {
      m_log.Line(L"MSI (s): File " + target->second + L" cannot be written");
      ok = false;
      break;
    }
    m_log.Line(L"MSI (s): Installing file " + target->second);
    written.push_back(target->second);
  }
  std::string dummy;
  RunHost({"rm", "-rf", "--", scratch}, dummy);
  return ok;
}

void Engine::WriteRegistry(std::vector<std::wstring>& written) {
  const Table& t = m_database.Get(L"Registry");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring rootText = t.Cell(i, L"Root");
    const HKEY root = RootOf(rootText);
    const std::wstring key = Format(t.Cell(i, L"Key"));
    std::wstring name = Format(t.Cell(i, L"Name"));
    const std::wstring raw = t.Cell(i, L"Value");
    if (key.empty()) continue;
    platform::RegKey opened;
    if (opened.Create(root, key, platform::KEY_READ | platform::KEY_WRITE) !=
        platform::ERROR_SUCCESS) {
      m_log.Line(L"MSI (s): Registry key " + key + L" cannot be created");
      continue;
    }
    if ((name == L"+" || name == L"-" || name == L"*") && raw.empty()) {
      written.push_back(rootText + L"|" + key + L"|");
      continue;  // the key alone
    }
    if (raw.rfind(L"#x", 0) == 0) {
      std::vector<platform::BYTE> data;
      const std::wstring hex = raw.substr(2);
      for (std::size_t h = 0; h + 1 < hex.size(); h += 2)
        data.push_back(static_cast<platform::BYTE>(std::stoi(hex.substr(h, 2), nullptr, 16)));
      opened.SetBinary(name, data);
    } else if (raw.rfind(L"#%", 0) == 0) {
      opened.SetString(name, Format(raw.substr(2)), platform::REG_EXPAND_SZ);
    } else if (raw.rfind(L"##", 0) == 0) {
      opened.SetString(name, Format(raw.substr(1)));
    } else if (raw.rfind(L"#", 0) == 0) {
      long value = 0;
      try {
        value = std::stol(Format(raw.substr(1)));
      } catch (...) {}
      opened.SetDword(name, static_cast<platform::DWORD>(value));
    } else {
      const std::wstring value = Format(raw);
      if (value.find(L'\0') != std::wstring::npos) {
        std::vector<std::wstring> items;
        std::size_t start = 0;
        while (start <= value.size()) {
          std::size_t end = value.find(L'\0', start);
          if (end == std::wstring::npos) end = value.size();
          if (end > start) items.push_back(value.substr(start, end - start));
          start = end + 1;
        }
        opened.SetMultiString(name, items);
      } else {
        opened.SetString(name, value);
      }
    }
    m_log.Line(L"MSI (s): Registry " + key + L"\\" + name);
    written.push_back(rootText + L"|" + key + L"|" + name);
  }
}

void Engine::Register(const std::vector<std::wstring>& files,
                      const std::vector<std::wstring>& values) {
  const std::wstring code = Property(L"ProductCode");
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
    entry.SetString(L"InstallSource", [&] {
      std::wstring folder = m_packagePath;
      platform::PathRemoveFileSpecW(folder);
      return WithSlash(folder);
    }());
    entry.SetString(L"InstallDate", Today());
    entry.SetString(L"UninstallString", L"MsiExec.exe /X" + code);
    entry.SetString(L"ModifyPath", L"MsiExec.exe /X" + code);
    entry.SetDword(L"WindowsInstaller", 1);
    entry.SetDword(L"Version", packedVersion);
  }
  platform::RegKey product;
  if (product.Create(platform::HKEY_LOCAL_MACHINE, kProductsKey + packed) ==
      platform::ERROR_SUCCESS) {
    product.SetString(L"ProductName", name);
    product.SetDword(L"Language", static_cast<platform::DWORD>(std::wcstoul(
                                      Property(L"ProductLanguage").c_str(), nullptr, 10)));
    product.SetDword(L"Version", packedVersion);
    product.SetDword(L"Assignment", 1);
  }
  platform::RegKey properties;
  if (properties.Create(platform::HKEY_LOCAL_MACHINE,
                        kUserDataKey + packed + L"\\InstallProperties") ==
      platform::ERROR_SUCCESS) {
    properties.SetString(L"LocalPackage", cached);
    properties.SetString(L"DisplayName", name);
    properties.SetString(L"DisplayVersion", version);
    properties.SetString(L"Publisher", publisher);
    properties.SetMultiString(kWrittenFiles, files.empty() ? std::vector<std::wstring>{} : files);
    properties.SetMultiString(kWrittenValues, values);
  }
}

int Engine::Install() {
  ResolveProperties();
  ResolveDirectories();
  const std::wstring code = Property(L"ProductCode");
  if (!IsGuid(code)) {
    m_log.Line(L"MSI (s): The package has no product code");
    return kInstallFailure;
  }
  m_log.Line(L"MSI (s): Doing action: InstallFiles");
  std::vector<std::wstring> files, values;
  if (!InstallFiles(files)) return kInstallFailure;
  m_log.Line(L"MSI (s): Doing action: WriteRegistryValues");
  WriteRegistry(values);
  Register(files, values);
  for (const auto& [name, value] : m_properties)
    m_log.Line(L"Property(S): " + name + L" = " + value);
  const bool repair = !Property(L"REINSTALL").empty();
  m_log.Line(L"MSI (s): Product: " + Property(L"ProductName") +
             (repair ? L" -- Configuration completed successfully."
                     : L" -- Installation completed successfully."));
  m_log.Line(L"MSI (s): Windows Installer " +
             std::wstring(repair ? L"reconfigured" : L"installed") +
             L" the product. Product Name: " + Property(L"ProductName") + L". Product Version: " +
             Property(L"ProductVersion") + L". Product Language: " + Property(L"ProductLanguage") +
             L". Manufacturer: " + Property(L"Manufacturer") +
             L". Installation success or error status: 0.");
  return kSuccess;
}

// Removes a key that holds nothing any more, and the parents it leaves empty; a root's first
// level (SOFTWARE, ...) is never taken.
void RemoveEmptyKeys(HKEY root, std::wstring key) {
  while (std::count(key.begin(), key.end(), L'\\') >= 1) {
    platform::RegKey opened;
    if (opened.Open(root, key) != platform::ERROR_SUCCESS) return;
    if (!opened.SubKeyNames().empty() || !opened.ValueList().empty()) return;
    opened.Close();
    std::size_t cut = key.rfind(L'\\');
    platform::RegKey parent;
    if (parent.Open(root, key.substr(0, cut), platform::KEY_READ | platform::KEY_WRITE) !=
        platform::ERROR_SUCCESS)
      return;
    if (parent.DeleteSubKey(key.substr(cut + 1)) != platform::ERROR_SUCCESS) return;
    key = key.substr(0, cut);
  }
}

int Engine::Remove(const std::wstring& productCode) {
  const std::wstring packed = PackedGuid(productCode);
  platform::RegKey properties;
  if (packed.empty() ||
      properties.Open(platform::HKEY_LOCAL_MACHINE,
                      kUserDataKey + packed + L"\\InstallProperties") != platform::ERROR_SUCCESS) {
    m_log.Line(L"MSI (s): Product " + productCode + L" is not installed");
    return kUnknownProduct;
  }
  std::vector<std::wstring> files, values;
  properties.QueryMultiString(kWrittenFiles, files);
  properties.QueryMultiString(kWrittenValues, values);
  std::wstring cached, name;
  properties.QueryString(L"LocalPackage", cached);
  properties.QueryString(L"DisplayName", name);
  properties.Close();

  m_log.Line(L"MSI (s): Doing action: RemoveFiles");
  std::set<std::wstring, platform::NoCaseLess> folders;
  for (const auto& f : files) {
    if (platform::DeleteFileW(f) == platform::ERROR_SUCCESS)
      m_log.Line(L"MSI (s): Removing file " + f);
    std::wstring folder = f;
    platform::PathRemoveFileSpecW(folder);
    folders.insert(folder);
  }
  // Folders the files leave empty go, deepest first, up to the drive.
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    std::wstring folder = *it;
    while (folder.size() > 3 && platform::RemoveDirectoryW(folder) == platform::ERROR_SUCCESS)
      platform::PathRemoveFileSpecW(folder);
  }
  m_log.Line(L"MSI (s): Doing action: RemoveRegistryValues");
  for (const auto& v : values) {
    std::size_t a = v.find(L'|'), b = v.find(L'|', a == std::wstring::npos ? 0 : a + 1);
    if (a == std::wstring::npos || b == std::wstring::npos) continue;
    const HKEY root = RootOf(v.substr(0, a));
    const std::wstring key = v.substr(a + 1, b - a - 1), value = v.substr(b + 1);
    platform::RegKey opened;
    if (opened.Open(root, key, platform::KEY_READ | platform::KEY_WRITE) ==
            platform::ERROR_SUCCESS &&
        !value.empty())
      opened.DeleteValue(value);
    opened.Close();
    RemoveEmptyKeys(root, key);
  }
  platform::RegKey hklm;
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, (kUninstallKey + productCode).c_str());
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, (kProductsKey + packed).c_str());
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, (kUserDataKey + packed).c_str());
  if (!cached.empty()) platform::DeleteFileW(cached);
  m_log.Line(L"MSI (s): Product: " + name + L" -- Removal completed successfully.");
  m_log.Line(L"MSI (s): Windows Installer removed the product. Product Name: " + name +
             L". Installation success or error status: 0.");
  return kSuccess;
}

int Engine::Run() {
  if (m_options.action == Options::Action::Remove) {
    std::wstring code = m_options.target;
    if (!IsGuid(code)) {
      if (!OpenPackage(code)) return kPackageOpenFailed;
      code = m_database.Properties()[L"ProductCode"];
    }
    return Remove(Upper(code));
  }
  std::wstring package = m_options.target;
  if (IsGuid(package)) {
    // A repair by product code: the Installer's cached copy of the package.
    platform::RegKey properties;
    if (properties.Open(platform::HKEY_LOCAL_MACHINE,
                        kUserDataKey + PackedGuid(package) + L"\\InstallProperties") !=
            platform::ERROR_SUCCESS ||
        properties.QueryString(L"LocalPackage", package) != platform::ERROR_SUCCESS) {
      m_log.Line(L"MSI (s): Product " + m_options.target + L" is not installed");
      return kUnknownProduct;
    }
  }
  if (!OpenPackage(package)) return kPackageOpenFailed;
  return Install();
}

}  // namespace

std::wstring PackedGuid(const std::wstring& guid) {
  if (!IsGuid(guid)) return L"";
  std::wstring hex;
  for (wchar_t c : guid)
    if (std::iswxdigit(c)) hex += static_cast<wchar_t>(std::towupper(c));
  std::wstring out;
  auto reversed = [&](std::size_t from, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out += hex[from + count - 1 - i];
  };
  reversed(0, 8);
  reversed(8, 4);
  reversed(12, 4);
  for (std::size_t i = 16; i < 32; i += 2) {
    out += hex[i + 1];
    out += hex[i];
  }
  return out;
}

std::wstring FormatText(const std::wstring& text, const Properties& properties,
                        const std::map<std::wstring, std::wstring>& files,
                        const std::map<std::wstring, std::wstring>& components) {
  std::wstring out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != L'[') {
      out += text[i++];
      continue;
    }
    std::size_t close = text.find(L']', i + 1);
    // "[\]]" escapes a closing bracket.
    if (close == i + 2 && text[i + 1] == L'\\' && close + 1 < text.size() &&
        text[close + 1] == L']')
      close = close + 1;
    if (close == std::wstring::npos) {
      out += text.substr(i);
      break;
    }
    const std::wstring inner = text.substr(i + 1, close - i - 1);
    i = close + 1;
    if (inner.empty()) {
      out += L"[]";
      continue;
    }
    if (inner[0] == L'\\') {
      out += inner.substr(1, 1);
    } else if (inner == L"~") {
      out += L'\0';
    } else if (inner[0] == L'#' || inner[0] == L'!') {
      auto f = files.find(inner.substr(1));
      if (f != files.end()) out += f->second;
    } else if (inner[0] == L'$') {
      auto c = components.find(inner.substr(1));
      if (c != components.end()) out += c->second;
    } else if (inner[0] == L'%') {
      std::wstring value;
      if (platform::GetEnvironmentVariableW(inner.substr(1), value) == platform::ERROR_SUCCESS)
        out += value;
    } else {
      auto p = properties.find(inner);
      // The value goes in as it stands: references inside it are not formatted again.
      if (p != properties.end()) out += p->second;
    }
  }
  return out;
}

int ParseCommandLine(const std::vector<std::wstring>& args, Options& options, std::wstring& error) {
  options = Options{};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a.size() >= 2 && (a[0] == L'/' || a[0] == L'-')) {
      const wchar_t option = static_cast<wchar_t>(std::towlower(a[1]));
      std::wstring attached = a.substr(2);
      if (option == L'i' || option == L'x') {
        if (options.action != Options::Action::None) {
          error = L"more than one action";
          return kInvalidCommandLine;
        }
        options.action = option == L'i' ? Options::Action::Install : Options::Action::Remove;
        if (attached.empty()) {
          if (i + 1 >= args.size()) {
            error = L"/" + std::wstring(1, option) + L" without a package or product";
            return kInvalidCommandLine;
          }
          attached = args[++i];
        }
        options.target = attached;
        continue;
      }
      if (option == L'q') {
        options.quiet = true;
        continue;
      }
      if (option == L'l') {
        if (i + 1 >= args.size()) {
          error = L"/l without a log file";
          return kInvalidCommandLine;
        }
        options.logFile = args[++i];
        continue;
      }
      if (option == L'n' && a.size() > 2 && std::towlower(a[2]) == L'o') continue;  // /norestart
      error = L"unknown option " + a;
      return kInvalidCommandLine;
    }
    std::size_t eq = a.find(L'=');
    if (eq == std::wstring::npos || eq == 0) {
      error = L"unexpected argument " + a;
      return kInvalidCommandLine;
    }
    options.properties[Upper(a.substr(0, eq))] = a.substr(eq + 1);
  }
  if (options.action == Options::Action::None || options.target.empty()) {
    error = L"no action";
    return kInvalidCommandLine;
  }
  return kSuccess;
}

int Run(const Options& options) {
  RunLog log;
  log.Line(L"=== Verbose logging started: " + Now() +
           L"  Build type: SHIP UNICODE 5.00.10011.00  Calling process: " +
           platform::GetSystemDirectoryW() + L"\\msiexec.exe ===");
  int result = kInstallFailure;
  try {
    Engine engine(options, log);
    result = engine.Run();
  } catch (const std::exception& e) {
    log.Line(L"MSI (s): " + platform::FromUtf8(e.what()));
    result = kInstallFailure;
  }
  log.Line(L"MSI (s): MainEngineThread is returning " + std::to_wstring(result));
  log.Line(L"=== Verbose logging stopped: " + Now() + L" ===");
  log.WriteTo(options.logFile);
  return result;
}

}  // namespace Msi
