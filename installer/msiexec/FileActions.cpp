// The table actions on files and folders: installed, moved, duplicated and removed files,
// created folders and shortcuts; and the helpers every table action uses.
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "msiexec/Engine.h"
#include "msiexec/EngineCommon.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/ShellLinks.h"

namespace Msi {

namespace {

using platform::HKEY;

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
std::wstring Engine::IoPath(const std::wstring& path) const {
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
    const std::wstring target = IoPath(installed);
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
        status = platform::MoveFileExW(
            pending, target,
            platform::MOVEFILE_REPLACE_EXISTING | platform::MOVEFILE_DELAY_UNTIL_REBOOT);
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
        CreateFolderFor(component, IoPath(Directory(t.Cell(i, L"Directory_"))));
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
    const bool now =
        installing ? (Coming(component) && (mode & 1)) : (Going(component) && (mode & 2));
    if (!now) continue;
    std::wstring folder = Property(t.Cell(i, L"DirProperty"));
    if (folder.empty()) continue;
    folder = IoPath(WithoutSlash(folder));
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
    if (SystemPlace(folder)) {
      m_log.Line(L"RemoveFile " + t.Cell(i, L"FileKey") + L": " + folder +
                     L" is the system's; it is not swept",
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
    if (move && SystemPlace(source)) {
      m_log.Line(L"MoveFile " + t.Cell(i, L"FileKey") + L": " + source +
                     L" is the system's; nothing is moved out of it",
                 false);
      continue;
    }
    const std::wstring why = CreateFolderFor(component, dest);
    if (!why.empty()) {
      m_log.Line(why, false);
      continue;
    }
    for (const auto& n : names) {
      if (!SafeElement(n)) continue;
      const std::wstring to = dest + L"\\" + (destName.empty() || names.size() > 1 ? n : destName);
      platform::DWORD status = move ? platform::MoveFileExW(source + L"\\" + n, to,
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
    std::wstring folder = t.Cell(i, L"DestFolder").empty() ? m_componentDirs[component]
                                                           : Property(t.Cell(i, L"DestFolder"));
    std::wstring name = LongName(t.Cell(i, L"DestName"));
    if (name.empty()) name = std::wstring(platform::PathFindFileNameW(original->second));
    if (folder.empty() || !SafeElement(name)) continue;
    folder = IoPath(WithoutSlash(folder));
    if (!CreateFolderFor(component, folder).empty()) continue;
    const std::wstring to = folder + L"\\" + name;
    if (platform::CopyFileW(IoPath(original->second), to, false) == platform::ERROR_SUCCESS) {
      m_log.Line(L"Duplicating file " + original->second + L" to " + to);
      Add({component, kFile, {to}});
    }
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

}  // namespace Msi
