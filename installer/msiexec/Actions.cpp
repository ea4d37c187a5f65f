// The table actions of the engine: files, folders, registry, shortcuts, INI entries,
// environment variables, moved and duplicated files, and taking each of them back.
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "msiexec/Engine.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/ShellLinks.h"

namespace Msi {

namespace {

using platform::HKEY;

constexpr const wchar_t* kSharedDllsKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr const wchar_t* kSystemEnvironmentKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr const wchar_t* kUserEnvironmentKey = L"Environment";

int Number(const std::wstring& text, int fallback = 0) {
  if (text.empty()) return fallback;
  try {
    return std::stoi(text);
  } catch (...) {
    return fallback;
  }
}

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

// A wildcard of the RemoveFile and MoveFile tables: one element, '*' and '?' allowed.
bool SafePattern(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(L"\\/:\"<>|") == std::wstring::npos;
}

std::wstring WithoutSlash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

// A registry key as the layer takes it: no "\" at either end, none doubled.
std::wstring CleanKey(const std::wstring& key) {
  std::wstring out;
  for (wchar_t c : key) {
    if (c == L'\\' && (out.empty() || out.back() == L'\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == L'\\') out.pop_back();
  return out;
}

platform::REGSAM View(const std::wstring& view) {
  if (view == L"64") return platform::KEY_WOW64_64KEY;
  if (view == L"32") return platform::KEY_WOW64_32KEY;
  return 0;
}

// Keys a package may not take away whole: a root's first two levels and the system's own.
bool KeyTooHighToDelete(const std::wstring& key) {
  const auto depth = std::count(key.begin(), key.end(), L'\\');
  if (depth < 1) return true;
  const std::wstring upper = platform::ToUpper(key);
  for (const wchar_t* top : {L"SOFTWARE\\MICROSOFT", L"SOFTWARE\\CLASSES", L"SOFTWARE\\POLICIES",
                             L"SOFTWARE\\WOW6432NODE", L"SYSTEM\\", L"SOFTWARE\\MICROSOFT\\WINDOWS"})
    if (upper == top || (upper.rfind(top, 0) == 0 && depth < 3)) return true;
  return false;
}

// --- INI files as text -----------------------------------------------------------------------

struct IniText {
  std::vector<std::wstring> lines;
  static std::wstring Trim(std::wstring s) {
    while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.erase(s.begin());
    while (!s.empty() && (s.back() == L' ' || s.back() == L'\t' || s.back() == L'\r')) s.pop_back();
    return s;
  }
  bool Load(const std::wstring& path) {
    std::string bytes;
    if (platform::ReadWholeFile(path, bytes) != platform::ERROR_SUCCESS) return false;
    std::wstring text = platform::FromUtf8(bytes);
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find(L'\n', start);
      lines.push_back(Trim(text.substr(start, end == std::wstring::npos ? end : end - start)));
      if (end == std::wstring::npos) break;
      start = end + 1;
    }
    return true;
  }
  bool Save(const std::wstring& path) const {
    std::wstring text;
    for (const auto& l : lines) text += l + L"\r\n";
    return platform::WriteWholeFile(path, platform::ToUtf8(text)) == platform::ERROR_SUCCESS;
  }
  // The line of [section]; -1 when missing.
  int Section(const std::wstring& section) const {
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i].size() >= 2 && lines[i].front() == L'[' && lines[i].back() == L']' &&
          platform::EqualsNoCase(Trim(lines[i].substr(1, lines[i].size() - 2)), section))
        return static_cast<int>(i);
    return -1;
  }
  int End(int section) const {
    std::size_t i = section + 1;
    while (i < lines.size() && !(lines[i].size() >= 1 && lines[i].front() == L'[')) ++i;
    return static_cast<int>(i);
  }
  int Key(const std::wstring& section, const std::wstring& key) const {
    int s = Section(section);
    if (s < 0) return -1;
    for (int i = s + 1; i < End(s); ++i) {
      std::size_t eq = lines[i].find(L'=');
      if (eq != std::wstring::npos && platform::EqualsNoCase(Trim(lines[i].substr(0, eq)), key))
        return i;
    }
    return -1;
  }
  std::wstring Value(int line) const {
    return Trim(lines[line].substr(lines[line].find(L'=') + 1));
  }
  void Set(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    int k = Key(section, key);
    if (k >= 0) {
      lines[k] = key + L"=" + value;
      return;
    }
    int s = Section(section);
    if (s < 0) {
      lines.push_back(L"[" + section + L"]");
      lines.push_back(key + L"=" + value);
      return;
    }
    int end = End(s);
    while (end > s + 1 && lines[end - 1].empty()) --end;
    lines.insert(lines.begin() + end, key + L"=" + value);
  }
  void Remove(const std::wstring& section, const std::wstring& key) {
    int k = Key(section, key);
    if (k >= 0) lines.erase(lines.begin() + k);
    int s = Section(section);
    if (s < 0) return;
    bool empty = true;
    for (int i = s + 1; i < End(s); ++i) empty = empty && lines[i].empty();
    if (empty) lines.erase(lines.begin() + s, lines.begin() + End(s));
  }
  bool Blank() const {
    for (const auto& l : lines)
      if (!l.empty()) return false;
    return true;
  }
};

std::vector<std::wstring> SplitOn(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::wstring::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::wstring JoinOn(const std::vector<std::wstring>& parts, wchar_t separator) {
  std::wstring out;
  for (const auto& p : parts) {
    if (p.empty()) continue;
    if (!out.empty()) out += separator;
    out += p;
  }
  return out;
}

}  // namespace

// --- Helpers ---------------------------------------------------------------------------------

const ComponentInfo* Engine::Component(const std::wstring& name) const {
  auto c = m_components.find(name);
  return c == m_components.end() ? nullptr : &c->second;
}

bool Engine::Coming(const std::wstring& component) const {
  const ComponentInfo* c = Component(component);
  return c && c->action == kStateLocal && !m_removing;
}

bool Engine::Going(const std::wstring& component) const {
  if (m_removing) return true;
  const ComponentInfo* c = Component(component);
  return c ? c->action == kStateAbsent : false;
}

void Engine::Add(Item item) {
  if (std::find(m_items.begin(), m_items.end(), item) != m_items.end()) return;
  m_items.push_back(item);
  m_written.push_back(std::move(item));
}

platform::HKEY Engine::RootOf(const std::wstring& root) const {
  if (root == L"0") return platform::HKEY_CLASSES_ROOT;
  if (root == L"1") return platform::HKEY_CURRENT_USER;
  if (root == L"3") return platform::HKEY_USERS;
  if (root == L"-1" && !m_perMachine) return platform::HKEY_CURRENT_USER;
  return platform::HKEY_LOCAL_MACHINE;
}

// The root as it is kept in the record: -1 settled by the kind of installation.
std::wstring Engine::RootText(const std::wstring& root) const {
  if (root == L"-1") return m_perMachine ? L"2" : L"1";
  return root;
}

// The path the engine writes to: the Installer is a 64-bit service, so its System32 is the
// real one, which a 32-bit process reaches through Sysnative.
std::wstring Engine::IoPath(const std::wstring& path, bool) const {
  if (!platform::CurrentConfig().IsWow64()) return path;
  const std::wstring system32 = platform::GetWindowsDirectoryW() + L"\\System32";
  if (path.size() >= system32.size() &&
      platform::EqualsNoCase(std::wstring_view(path).substr(0, system32.size()), system32) &&
      (path.size() == system32.size() || path[system32.size()] == L'\\'))
    return platform::GetWindowsDirectoryW() + L"\\Sysnative" + path.substr(system32.size());
  return path;
}

// Makes `folder` with its missing parents; each folder made is the component's to take back.
std::wstring Engine::CreateFolderFor(const std::wstring& component, const std::wstring& folder) {
  std::vector<std::wstring> missing;
  std::wstring f = WithoutSlash(folder);
  for (int depth = 0; f.size() > 3 && !platform::PathIsDirectoryW(f) && depth < 128; ++depth) {
    missing.push_back(f);
    platform::PathRemoveFileSpecW(f);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    platform::DWORD status = platform::CreateDirectoryW(*it);
    if (status != platform::ERROR_SUCCESS && status != platform::ERROR_ALREADY_EXISTS)
      return L"the folder " + *it + L" cannot be made: " + platform::SystemErrorText(status);
    if (status == platform::ERROR_SUCCESS) Add({component, kFolder, {*it}});
  }
  return L"";
}

void Engine::CreateKeyFor(const std::wstring& component, bool win64, HKEY root,
                          const std::wstring& rootText, const std::wstring& key) {
  const std::wstring view = win64 ? L"64" : L"32";
  std::vector<std::wstring> missing;
  std::wstring k = key;
  while (!k.empty()) {
    platform::RegKey probe;
    if (probe.Open(root, k, platform::KEY_READ | View(view)) == platform::ERROR_SUCCESS) break;
    missing.push_back(k);
    std::size_t cut = k.rfind(L'\\');
    k = cut == std::wstring::npos ? L"" : k.substr(0, cut);
  }
  platform::RegKey made;
  if (made.Create(root, key, platform::KEY_READ | platform::KEY_WRITE | View(view)) !=
      platform::ERROR_SUCCESS)
    return;
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    Add({component, kKey, {view, rootText, *it}});
}

bool Engine::ComponentHeldElsewhere(const std::wstring& component) const {
  const ComponentInfo* c = Component(component);
  if (!c) return false;
  const std::wstring packed = PackedGuid(c->guid);
  if (packed.empty()) return false;
  platform::RegKey key;
  if (key.Open(platform::HKEY_LOCAL_MACHINE,
               L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
               L"Components\\" +
                   packed) != platform::ERROR_SUCCESS)
    return false;
  const std::wstring product = PackedGuid(m_productCode);
  for (const auto& v : key.ValueList())
    if (!platform::EqualsNoCase(v.name, product)) return true;
  return false;
}

// Adds `item` to the records of the other products that hold its component.
void Engine::HandOver(const Item& item) {
  const ComponentInfo* c = Component(item.component);
  if (!c) return;
  const std::wstring base = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";
  platform::RegKey key;
  if (key.Open(platform::HKEY_LOCAL_MACHINE, base + L"Components\\" + PackedGuid(c->guid)) !=
      platform::ERROR_SUCCESS)
    return;
  const std::wstring self = PackedGuid(m_productCode);
  for (const auto& v : key.ValueList()) {
    if (platform::EqualsNoCase(v.name, self)) continue;
    platform::RegKey properties;
    if (properties.Open(platform::HKEY_LOCAL_MACHINE,
                        base + L"Products\\" + v.name + L"\\InstallProperties",
                        platform::KEY_READ | platform::KEY_WRITE) != platform::ERROR_SUCCESS)
      continue;
    std::vector<std::wstring> texts;
    properties.QueryMultiString(L"TolmeraItems", texts);
    const std::wstring text = item.Encode();
    if (std::find(texts.begin(), texts.end(), text) != texts.end()) continue;
    texts.push_back(text);
    properties.SetMultiString(L"TolmeraItems", texts);
  }
}

// --- Files -----------------------------------------------------------------------------------

bool Engine::InstallFiles() {
  const Table& files = m_database.Get(L"File");
  std::vector<std::size_t> wanted;
  for (std::size_t i = 0; i < files.rows.size(); ++i)
    if (Coming(files.Cell(i, L"Component_")) && m_filePaths.count(files.Cell(i, L"File")))
      wanted.push_back(i);
  if (wanted.empty()) return true;
  char pattern[] = "/tmp/tlmsiexec-XXXXXX";
  if (!::mkdtemp(pattern)) return false;
  const std::string scratch = pattern;
  std::vector<std::string> extracted;
  std::string error;
  bool ok = m_database.ExtractFiles(scratch, extracted, error);
  if (!ok) m_log.Line(platform::FromUtf8(error), false);
  for (std::size_t i : wanted) {
    if (!ok) break;
    const std::wstring component = files.Cell(i, L"Component_");
    const ComponentInfo& info = m_components[component];
    const std::wstring installed = m_filePaths[files.Cell(i, L"File")];
    const std::wstring target = IoPath(installed, info.win64);
    const std::string name = platform::ToUtf8(LongName(files.Cell(i, L"FileName")));
    // msiextract lays the files out by their folders' names; the one that ends like the
    // installed path is this file.
    const std::string wanted8 = platform::ToUtf8(installed);
    std::string best;
    std::size_t bestMatch = 0;
    for (const auto& e : extracted) {
      if (e.size() < name.size() || e.compare(e.size() - name.size(), name.size(), name) != 0 ||
          (e.size() > name.size() && e[e.size() - name.size() - 1] != '/'))
        continue;
      std::size_t match = 0;
      while (match < e.size() && match < wanted8.size()) {
        char a = e[e.size() - 1 - match], b = wanted8[wanted8.size() - 1 - match];
        if (!(a == b || (a == '/' && b == '\\'))) break;
        ++match;
      }
      if (best.empty() || match > bestMatch) best = e, bestMatch = match;
    }
    if (best.empty()) {
      m_log.Line(L"File " + installed + L" is not in the package", false);
      ok = false;
      break;
    }
    std::ifstream in(scratch + "/" + best, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    std::wstring folder = target;
    platform::PathRemoveFileSpecW(folder);
    const std::wstring why = CreateFolderFor(component, folder);
    if (!why.empty()) {
      m_log.Line(why, false);
      ok = false;
      break;
    }
    const bool existed = platform::PathFileExistsW(target);
    platform::DWORD status = platform::WriteWholeFile(target, bytes.str());
    if (status == platform::ERROR_SHARING_VIOLATION || status == platform::ERROR_ACCESS_DENIED) {
      // A file in use is replaced at the next start.
      const std::wstring pending = target + L".msinew";
      status = platform::WriteWholeFile(pending, bytes.str());
      if (status == platform::ERROR_SUCCESS)
        status = platform::MoveFileExW(pending, target,
                                       platform::MOVEFILE_REPLACE_EXISTING |
                                           platform::MOVEFILE_DELAY_UNTIL_REBOOT);
      if (status == platform::ERROR_SUCCESS) {
        m_log.Line(L"File " + target + L" is in use: it is replaced at the next start");
        m_rebootNeeded = true;
      }
    }
    if (status != platform::ERROR_SUCCESS) {
      m_log.Line(L"File " + target + L" cannot be written: " + platform::SystemErrorText(status),
                 false);
      ok = false;
      break;
    }
    m_log.Line(L"Installing file " + target);
    // A shared file counts its products in SharedDLLs.
    platform::RegKey shared;
    platform::DWORD count = 0;
    const std::wstring view = info.win64 ? L"64" : L"32";
    const bool sharedDll = (info.attributes & kComponentSharedDll) != 0;
    if ((sharedDll ? shared.Create(platform::HKEY_LOCAL_MACHINE, kSharedDllsKey,
                                   platform::KEY_READ | platform::KEY_WRITE | View(view))
                   : shared.Open(platform::HKEY_LOCAL_MACHINE, kSharedDllsKey,
                                 platform::KEY_READ | platform::KEY_WRITE | View(view))) ==
        platform::ERROR_SUCCESS) {
      const bool counted = shared.QueryDword(installed, count) == platform::ERROR_SUCCESS;
      const bool mine = std::find(m_items.begin(), m_items.end(),
                                  Item{component, kSharedDll, {view, installed}}) != m_items.end();
      if ((counted || sharedDll) && !mine) {
        // A file that was there before this count began is counted once for its old holder.
        if (!counted && existed) count = 1;
        shared.SetDword(installed, count + 1);
        Add({component, kSharedDll, {view, installed}});
      }
    }
    Add({component, kFile, {target}});
  }
  std::string dummy;
  RunHost({"rm", "-rf", "--", scratch}, dummy);
  return ok;
}

void Engine::CreateFolders() {
  const Table& t = m_database.Get(L"CreateFolder");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    const std::wstring why =
        CreateFolderFor(component, IoPath(Directory(t.Cell(i, L"Directory_")), false));
    if (!why.empty()) m_log.Line(why, false);
  }
}

// The RemoveFile table: files (wildcards) and empty folders that a component's installation
// (mode 1), removal (mode 2) or both (3) take away. Never a folder that holds something.
void Engine::RemoveFileTable(bool installing) {
  const Table& t = m_database.Get(L"RemoveFile");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    const int mode = Number(t.Cell(i, L"InstallMode"));
    const bool now = installing ? (Coming(component) && (mode & 1)) : (Going(component) && (mode & 2));
    if (!now) continue;
    std::wstring folder = Property(t.Cell(i, L"DirProperty"));
    if (folder.empty()) continue;
    folder = IoPath(WithoutSlash(folder), false);
    const std::wstring name = LongName(t.Cell(i, L"FileName"));
    if (name.empty()) {
      if (platform::RemoveDirectoryW(folder) == platform::ERROR_SUCCESS)
        m_log.Line(L"Removing folder " + folder);
      continue;
    }
    if (!SafePattern(name)) {
      m_log.Line(L"RemoveFile " + t.Cell(i, L"FileKey") + L": the name " + name +
                     L" is not one element; it is not used",
                 false);
      continue;
    }
    std::vector<platform::FindData> entries;
    platform::FindAll(folder + L"\\" + name, entries);
    for (const auto& e : entries) {
      if (e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) continue;
      if (platform::DeleteFileW(folder + L"\\" + e.fileName) == platform::ERROR_SUCCESS)
        m_log.Line(L"Removing file " + folder + L"\\" + e.fileName);
    }
  }
}

void Engine::MoveFiles() {
  const Table& t = m_database.Get(L"MoveFile");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    std::wstring source = WithoutSlash(Property(t.Cell(i, L"SourceFolder")));
    const std::wstring dest = WithoutSlash(Property(t.Cell(i, L"DestFolder")));
    const std::wstring sourceName = LongName(t.Cell(i, L"SourceName"));
    const std::wstring destName = LongName(t.Cell(i, L"DestName"));
    const bool move = (Number(t.Cell(i, L"Options")) & 1) != 0;
    if (source.empty() || dest.empty()) continue;
    std::vector<std::wstring> names;
    if (sourceName.empty()) {
      // The source folder's property names a single file.
      names.push_back(std::wstring(platform::PathFindFileNameW(source)));
      platform::PathRemoveFileSpecW(source);
    } else if (SafePattern(sourceName)) {
      std::vector<platform::FindData> entries;
      platform::FindAll(source + L"\\" + sourceName, entries);
      for (const auto& e : entries)
        if (!(e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY)) names.push_back(e.fileName);
    }
    if (!destName.empty() && !SafeElement(destName)) continue;
    const std::wstring why = CreateFolderFor(component, dest);
    if (!why.empty()) {
      m_log.Line(why, false);
      continue;
    }
    for (const auto& n : names) {
      if (!SafeElement(n)) continue;
      const std::wstring to = dest + L"\\" + (destName.empty() || names.size() > 1 ? n : destName);
      platform::DWORD status =
          move ? platform::MoveFileExW(source + L"\\" + n, to,
                                       platform::MOVEFILE_REPLACE_EXISTING |
                                           platform::MOVEFILE_COPY_ALLOWED)
               : platform::CopyFileW(source + L"\\" + n, to, false);
      if (status == platform::ERROR_SUCCESS) {
        m_log.Line((move ? L"Moving file " : L"Copying file ") + source + L"\\" + n + L" to " + to);
        Add({component, kFile, {to}});
      } else {
        m_log.Line(L"File " + source + L"\\" + n + L" cannot be " + (move ? L"moved" : L"copied") +
                       L": " + platform::SystemErrorText(status),
                   false);
      }
    }
  }
}

void Engine::DuplicateFiles() {
  const Table& t = m_database.Get(L"DuplicateFile");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    auto original = m_filePaths.find(t.Cell(i, L"File_"));
    if (original == m_filePaths.end()) continue;
    std::wstring folder = t.Cell(i, L"DestFolder").empty()
                              ? m_componentDirs[component]
                              : Property(t.Cell(i, L"DestFolder"));
    std::wstring name = LongName(t.Cell(i, L"DestName"));
    if (name.empty()) name = std::wstring(platform::PathFindFileNameW(original->second));
    if (folder.empty() || !SafeElement(name)) continue;
    folder = IoPath(WithoutSlash(folder), false);
    if (!CreateFolderFor(component, folder).empty()) continue;
    const std::wstring to = folder + L"\\" + name;
    if (platform::CopyFileW(IoPath(original->second, false), to, false) == platform::ERROR_SUCCESS) {
      m_log.Line(L"Duplicating file " + original->second + L" to " + to);
      Add({component, kFile, {to}});
    }
  }
}

// --- Registry --------------------------------------------------------------------------------

void Engine::WriteRegistry() {
  const Table& t = m_database.Get(L"Registry");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    const ComponentInfo& info = m_components[component];
    const std::wstring view = info.win64 ? L"64" : L"32";
    const std::wstring rootText = RootText(t.Cell(i, L"Root"));
    const HKEY root = RootOf(rootText);
    const std::wstring key = CleanKey(Format(t.Cell(i, L"Key")));
    const std::wstring name = Format(t.Cell(i, L"Name"));
    const std::wstring raw = t.Cell(i, L"Value");
    if (key.empty()) continue;
    if ((name == L"+" || name == L"-" || name == L"*") && raw.empty()) {
      // The key alone: "+" made with the component, "-" taken whole with it, "*" both.
      if (name != L"-") CreateKeyFor(component, info.win64, root, rootText, key);
      if (name != L"+") {
        if (KeyTooHighToDelete(key))
          m_log.Line(L"Registry key " + key + L" is not taken away whole at the removal", false);
        else
          Add({component, kTree, {view, rootText, key}});
      }
      continue;
    }
    CreateKeyFor(component, info.win64, root, rootText, key);
    platform::RegKey opened;
    if (opened.Open(root, key, platform::KEY_READ | platform::KEY_WRITE | View(view)) !=
        platform::ERROR_SUCCESS) {
      m_log.Line(L"Registry key " + key + L" cannot be created", false);
      continue;
    }
    platform::LSTATUS status = platform::ERROR_SUCCESS;
    if (raw.rfind(L"#x", 0) == 0) {
      std::vector<platform::BYTE> data;
      const std::wstring hex = raw.substr(2);
      for (std::size_t h = 0; h + 1 < hex.size(); h += 2) {
        int byte = 0;
        if (std::swscanf(hex.substr(h, 2).c_str(), L"%2x", &byte) == 1)
          data.push_back(static_cast<platform::BYTE>(byte));
      }
      status = opened.SetBinary(name, data);
    } else if (raw.rfind(L"#%", 0) == 0) {
      status = opened.SetString(name, Format(raw.substr(2)), platform::REG_EXPAND_SZ);
    } else if (raw.rfind(L"##", 0) == 0) {
      status = opened.SetString(name, Format(raw.substr(1)));
    } else if (raw.rfind(L"#", 0) == 0) {
      long value = 0;
      try {
        value = std::stol(Format(raw.substr(1)));
      } catch (...) {}
      status = opened.SetDword(name, static_cast<platform::DWORD>(value));
    } else {
      const std::wstring value = Format(raw);
      if (value.find(L'\0') != std::wstring::npos) {
        std::vector<std::wstring> items;
        for (auto& part : SplitOn(value, L'\0'))
          if (!part.empty()) items.push_back(part);
        status = opened.SetMultiString(name, items);
      } else {
        status = opened.SetString(name, value);
      }
    }
    if (status != platform::ERROR_SUCCESS) {
      m_log.Line(L"Registry value " + key + L"\\" + name + L" cannot be written", false);
      continue;
    }
    m_log.Line(L"Registry " + key + L"\\" + name);
    Add({component, kValue, {view, rootText, key, name}});
  }
}

// The RemoveRegistry table: values (or whole keys, "-") a component's installation takes away.
void Engine::RemoveRegistry() {
  const Table& t = m_database.Get(L"RemoveRegistry");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    const std::wstring view = m_components[component].win64 ? L"64" : L"32";
    const HKEY root = RootOf(RootText(t.Cell(i, L"Root")));
    const std::wstring key = CleanKey(Format(t.Cell(i, L"Key")));
    const std::wstring name = Format(t.Cell(i, L"Name"));
    if (key.empty()) continue;
    if (name == L"-") {
      if (KeyTooHighToDelete(key)) {
        m_log.Line(L"Registry key " + key + L" is not taken away whole", false);
        continue;
      }
      platform::RegKey k;
      if (k.Open(root, key, platform::KEY_ALL_ACCESS | View(view)) != platform::ERROR_SUCCESS)
        continue;
      platform::RegDeleteTreeW(k.Get(), nullptr);
      k.Close();
      if (platform::RegDeleteKeyExW(root, key.c_str(), View(view), 0) == platform::ERROR_SUCCESS)
        m_log.Line(L"Removing registry key " + key);
      continue;
    }
    platform::RegKey opened;
    if (opened.Open(root, key, platform::KEY_READ | platform::KEY_WRITE | View(view)) ==
            platform::ERROR_SUCCESS &&
        opened.DeleteValue(name) == platform::ERROR_SUCCESS)
      m_log.Line(L"Removing registry value " + key + L"\\" + name);
  }
}

// --- Shortcuts -------------------------------------------------------------------------------

void Engine::CreateShortcuts() {
  const Table& t = m_database.Get(L"Shortcut");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    const ComponentInfo& info = m_components[component];
    const std::wstring name = LongName(t.Cell(i, L"Name"));
    if (!SafeElement(name)) {
      m_log.Line(L"Shortcut " + t.Cell(i, L"Shortcut") + L": the name is no file name", false);
      continue;
    }
    const std::wstring folder = WithoutSlash(Directory(t.Cell(i, L"Directory_")));
    const std::wstring targetCell = t.Cell(i, L"Target");
    platform::ShellLink link;
    if (m_features.count(targetCell)) {
      // Advertised: the component's key file (or its folder) is what the link starts.
      link.target = m_filePaths.count(info.keyPath) ? m_filePaths[info.keyPath]
                                                    : WithoutSlash(m_componentDirs[component]);
    } else {
      link.target = Format(targetCell);
    }
    link.arguments = Format(t.Cell(i, L"Arguments"));
    link.description = Format(t.Cell(i, L"Description"));
    const std::wstring wk = t.Cell(i, L"WkDir");
    if (!wk.empty()) link.workingDirectory = WithoutSlash(Property(wk));
    link.iconIndex = Number(t.Cell(i, L"IconIndex"));
    link.showCommand = Number(t.Cell(i, L"ShowCmd"), 1);
    if (!t.Cell(i, L"Icon_").empty()) link.iconLocation = link.target;
    const std::wstring why = CreateFolderFor(component, folder);
    const std::wstring path = folder + L"\\" + name + L".lnk";
    platform::DWORD status =
        why.empty() ? platform::WriteShellLink(path, link) : platform::ERROR_PATH_NOT_FOUND;
    if (status != platform::ERROR_SUCCESS) {
      m_log.Line(L"Shortcut " + path + L" cannot be written: " + platform::SystemErrorText(status),
                 false);
      continue;
    }
    m_log.Line(L"Creating shortcut " + path + L" to " + link.target);
    Add({component, kLink, {path}});
  }
}

// --- INI files -------------------------------------------------------------------------------

void Engine::WriteIni() {
  const Table& t = m_database.Get(L"IniFile");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    const std::wstring name = LongName(t.Cell(i, L"FileName"));
    const std::wstring dirProperty = t.Cell(i, L"DirProperty");
    std::wstring folder = dirProperty.empty() ? Directory(L"WindowsFolder") : Property(dirProperty);
    if (dirProperty.empty() || folder.empty())
      folder = platform::GetWindowsDirectoryW();
    if (!SafeElement(name)) continue;
    folder = IoPath(WithoutSlash(folder), false);
    const std::wstring path = folder + L"\\" + name;
    const std::wstring section = Format(t.Cell(i, L"Section"));
    const std::wstring key = Format(t.Cell(i, L"Key"));
    const std::wstring value = Format(t.Cell(i, L"Value"));
    const int action = Number(t.Cell(i, L"Action"));
    if (section.empty() || key.empty()) continue;
    IniText ini;
    const bool existed = ini.Load(path);
    const int line = ini.Key(section, key);
    std::wstring written = value;
    if (action == 1 && line >= 0) continue;  // createLine: only where there is none
    if (action == 3) {                       // addTag: one more in a comma list
      std::vector<std::wstring> tags = line >= 0 ? SplitOn(ini.Value(line), L',') : std::vector<std::wstring>{};
      if (std::find(tags.begin(), tags.end(), value) != tags.end()) continue;
      tags.push_back(value);
      written = JoinOn(tags, L',');
    } else if (action != 0 && action != 1) {
      m_log.Line(L"IniFile " + t.Cell(i, L"IniFile") + L": action " + std::to_wstring(action) +
                     L" is not one that installs",
                 false);
      continue;
    }
    if (!existed && !CreateFolderFor(component, folder).empty()) continue;
    ini.Set(section, key, written);
    if (!ini.Save(path)) {
      m_log.Line(L"INI file " + path + L" cannot be written", false);
      continue;
    }
    m_log.Line(L"Writing INI value [" + section + L"] " + key + L"=" + written + L" to " + path);
    Add({component, kIni,
         {path, section, key, value, std::to_wstring(action), existed ? L"" : L"created"}});
  }
}

// --- Environment -----------------------------------------------------------------------------

void Engine::WriteEnvironment() {
  const Table& t = m_database.Get(L"Environment");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring component = t.Cell(i, L"Component_");
    if (!Coming(component)) continue;
    std::wstring name = t.Cell(i, L"Name");
    bool system = false, createOnly = false, removeAtRemoval = false, removeNow = false;
    while (!name.empty() && std::wstring(L"=+-!*").find(name[0]) != std::wstring::npos) {
      system = system || name[0] == L'*';
      createOnly = createOnly || name[0] == L'+';
      removeAtRemoval = removeAtRemoval || name[0] == L'-';
      removeNow = removeNow || name[0] == L'!';
      name.erase(name.begin());
    }
    if (name.empty() || name.find(L'=') != std::wstring::npos) continue;
    const std::wstring raw = t.Cell(i, L"Value");
    std::wstring mode = L"set", part;
    if (raw.rfind(L"[~]", 0) == 0) {
      mode = L"append";
      part = Format(raw.substr(3));
    } else if (raw.size() >= 3 && raw.compare(raw.size() - 3, 3, L"[~]") == 0) {
      mode = L"prepend";
      part = Format(raw.substr(0, raw.size() - 3));
    } else {
      part = Format(raw);
    }
    const HKEY root = system ? platform::HKEY_LOCAL_MACHINE : platform::HKEY_CURRENT_USER;
    const std::wstring keyName = system ? kSystemEnvironmentKey : kUserEnvironmentKey;
    platform::RegKey key;
    if (key.Create(root, keyName, platform::KEY_READ | platform::KEY_WRITE) !=
        platform::ERROR_SUCCESS)
      continue;
    std::wstring current;
    const bool exists = key.QueryString(name, current) == platform::ERROR_SUCCESS;
    if (removeNow) {
      if (exists && (part.empty() || current == part)) key.DeleteValue(name);
      continue;
    }
    if (createOnly && exists) continue;
    std::wstring value = part;
    // The separator of a list is the character next to [~]; a part already there is not added.
    wchar_t separator = L';';
    if (mode == L"append" && !part.empty()) separator = part.front();
    if (mode == L"prepend" && !part.empty()) separator = part.back();
    std::wstring bare = part;
    if (mode != L"set" && !bare.empty())
      bare = mode == L"append" ? bare.substr(1) : bare.substr(0, bare.size() - 1);
    if (mode != L"set" && exists) {
      const auto parts = SplitOn(current, separator);
      if (std::find(parts.begin(), parts.end(), bare) != parts.end()) continue;
      value = mode == L"append" ? current + part : part + current;
    } else if (mode != L"set") {
      value = bare;
    }
    key.SetString(name, value,
                  value.find(L'%') != std::wstring::npos ? platform::REG_EXPAND_SZ : platform::REG_SZ);
    m_log.Line(L"Setting environment variable " + name + L" to " + value);
    if (removeAtRemoval)
      Add({component, kEnv,
           {system ? L"system" : L"user", name, mode == L"set" ? value : bare, mode,
            std::wstring(1, separator)}});
  }
}

// --- Taking back -----------------------------------------------------------------------------

bool Engine::RemoveItem(const Item& item) {
  const auto& f = item.fields;
  auto field = [&](std::size_t n) { return n < f.size() ? f[n] : std::wstring(); };
  switch (item.kind) {
    case kFile:
    case kLink: {
      if (m_keptFiles.count(field(0))) return true;
      platform::DWORD status = platform::DeleteFileW(field(0));
      if (status == platform::ERROR_SUCCESS) {
        m_log.Line(L"Removing file " + field(0));
      } else if (status == platform::ERROR_SHARING_VIOLATION ||
                 status == platform::ERROR_ACCESS_DENIED) {
        if (platform::MoveFileExW(field(0), L"", platform::MOVEFILE_DELAY_UNTIL_REBOOT) ==
            platform::ERROR_SUCCESS) {
          m_log.Line(L"File " + field(0) + L" is in use: it goes at the next start");
          m_rebootNeeded = true;
        }
      }
      return true;
    }
    case kFolder:
      if (platform::RemoveDirectoryW(field(0)) == platform::ERROR_SUCCESS)
        m_log.Line(L"Removing folder " + field(0));
      return true;
    case kSharedDll: {
      platform::RegKey shared;
      platform::DWORD count = 0;
      if (shared.Open(platform::HKEY_LOCAL_MACHINE, kSharedDllsKey,
                      platform::KEY_READ | platform::KEY_WRITE | View(field(0))) !=
              platform::ERROR_SUCCESS ||
          shared.QueryDword(field(1), count) != platform::ERROR_SUCCESS)
        return true;
      if (count > 1) {
        shared.SetDword(field(1), count - 1);
        m_keptFiles.insert(IoPath(field(1), field(0) == L"64"));
        m_log.Line(L"File " + field(1) + L" is kept: SharedDLLs counts " +
                   std::to_wstring(count - 1) + L" more");
      } else {
        shared.DeleteValue(field(1));
        const bool empty = shared.ValueList().empty() && shared.SubKeyNames().empty();
        shared.Close();
        if (empty)
          platform::RegDeleteKeyExW(platform::HKEY_LOCAL_MACHINE, kSharedDllsKey, View(field(0)), 0);
      }
      return true;
    }
    case kValue: {
      platform::RegKey opened;
      if (opened.Open(RootOf(field(1)), field(2),
                      platform::KEY_READ | platform::KEY_WRITE | View(field(0))) ==
              platform::ERROR_SUCCESS &&
          opened.DeleteValue(field(3)) == platform::ERROR_SUCCESS)
        m_log.Line(L"Removing registry value " + field(2) + L"\\" + field(3));
      return true;
    }
    case kKey:
    case kTree: {
      const std::wstring key = field(2);
      const HKEY root = RootOf(field(1));
      if (key.find(L'\\') == std::wstring::npos) return true;  // a root's first level stays
      if (item.kind == kTree && KeyTooHighToDelete(key)) return true;
      platform::RegKey k;
      if (k.Open(root, key, platform::KEY_ALL_ACCESS | View(field(0))) != platform::ERROR_SUCCESS)
        return true;
      if (item.kind == kKey && (!k.SubKeyNames().empty() || !k.ValueList().empty())) return true;
      if (item.kind == kTree) platform::RegDeleteTreeW(k.Get(), nullptr);
      k.Close();
      if (platform::RegDeleteKeyExW(root, key.c_str(), View(field(0)), 0) == platform::ERROR_SUCCESS)
        m_log.Line(L"Removing registry key " + key);
      return true;
    }
    case kIni: {
      IniText ini;
      if (!ini.Load(field(0))) return true;
      const int action = Number(field(4));
      if (action == 3) {
        int line = ini.Key(field(1), field(2));
        if (line >= 0) {
          auto tags = SplitOn(ini.Value(line), L',');
          tags.erase(std::remove(tags.begin(), tags.end(), field(3)), tags.end());
          if (JoinOn(tags, L',').empty())
            ini.Remove(field(1), field(2));
          else
            ini.Set(field(1), field(2), JoinOn(tags, L','));
        }
      } else {
        ini.Remove(field(1), field(2));
      }
      if (ini.Blank() && field(5) == L"created") {
        platform::DeleteFileW(field(0));
      } else {
        ini.Save(field(0));
      }
      m_log.Line(L"Removing INI value [" + field(1) + L"] " + field(2) + L" from " + field(0));
      return true;
    }
    case kEnv: {
      const bool system = field(0) == L"system";
      platform::RegKey key;
      if (key.Open(system ? platform::HKEY_LOCAL_MACHINE : platform::HKEY_CURRENT_USER,
                   system ? kSystemEnvironmentKey : kUserEnvironmentKey,
                   platform::KEY_READ | platform::KEY_WRITE) != platform::ERROR_SUCCESS)
        return true;
      std::wstring current;
      if (key.QueryString(field(1), current) != platform::ERROR_SUCCESS) return true;
      if (field(3) == L"set") {
        key.DeleteValue(field(1));
      } else {
        const wchar_t separator = field(4).empty() ? L';' : field(4)[0];
        auto parts = SplitOn(current, separator);
        parts.erase(std::remove(parts.begin(), parts.end(), field(2)), parts.end());
        const std::wstring rest = JoinOn(parts, separator);
        if (rest.empty())
          key.DeleteValue(field(1));
        else
          key.SetString(field(1), rest);
      }
      m_log.Line(L"Removing environment variable " + field(1));
      return true;
    }
    default:
      return false;
  }
}

void Engine::RemoveItems(const std::wstring& kinds) {
  for (wchar_t kind : kinds) {
    std::vector<Item> going;
    for (const auto& item : m_items)
      if (item.kind == kind && Going(item.component)) going.push_back(item);
    // Deepest folders and keys first.
    std::stable_sort(going.begin(), going.end(), [](const Item& a, const Item& b) {
      const std::wstring& x = a.fields.size() > 2 && (a.kind == kKey || a.kind == kTree)
                                  ? a.fields[2]
                                  : (a.fields.empty() ? L"" : a.fields[0]);
      const std::wstring& y = b.fields.size() > 2 && (b.kind == kKey || b.kind == kTree)
                                  ? b.fields[2]
                                  : (b.fields.empty() ? L"" : b.fields[0]);
      return x.size() > y.size();
    });
    for (const auto& item : going) {
      const ComponentInfo* c = Component(item.component);
      // A SharedDLLs count is each product's own: it goes down whoever else holds the file.
      const bool keep = item.kind != kSharedDll && (ComponentHeldElsewhere(item.component) ||
                                                    (c && (c->attributes & kComponentPermanent)));
      if (keep) {
        m_log.Line(L"Component " + item.component + L" is kept: another product holds it");
        // The folders and keys this product made now belong to those that keep the component.
        if (item.kind == kFolder || item.kind == kKey) HandOver(item);
      } else
        RemoveItem(item);
      m_items.erase(std::remove(m_items.begin(), m_items.end(), item), m_items.end());
    }
  }
}

}  // namespace Msi
