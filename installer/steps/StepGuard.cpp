#include "steps/StepGuard.h"

#include "app/Tools.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Restart.h"
#include "platform/Shares.h"
#include "steps/FileUtilities.h"
#include "steps/RegistryStep.h"
#include "steps/ShareStep.h"

#include <algorithm>
#include <cwctype>
#include <sstream>
#include <vector>

namespace InstallSteps {

using InstallManager::Log;
using InstallManager::LogLevel;

namespace {

constexpr const char* kItemsHeader = "# TOLMERA installed items 1";
constexpr std::size_t kMaxListedFiles = 200000;

std::wstring Full(const std::wstring& path) {
  std::wstring full;
  if (platform::GetFullPathNameW(path, full) != platform::ERROR_SUCCESS) full = path;
  platform::PathRemoveBackslashW(full);
  return full;
}

bool Inside(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty()) return false;
  if (platform::EqualsNoCase(path, folder)) return true;
  return path.size() > folder.size() + 1 && path[folder.size()] == L'\\' &&
         platform::EqualsNoCase(path.substr(0, folder.size()), folder);
}

const wchar_t* RootName(platform::HKEY root) {
  if (root == platform::HKEY_LOCAL_MACHINE) return L"HKLM";
  if (root == platform::HKEY_CURRENT_USER) return L"HKCU";
  if (root == platform::HKEY_CLASSES_ROOT) return L"HKCR";
  return L"";
}

std::wstring TrimKey(std::wstring key) {
  while (!key.empty() && key.back() == L'\\') key.pop_back();
  return key;
}

bool KeyExists(platform::HKEY root, const std::wstring& key) {
  platform::RegKey k;
  return k.Open(root, key, platform::KEY_READ) == platform::ERROR_SUCCESS;
}

std::wstring SafeKey(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) out += (std::iswalnum(c) && c < 128) || c == L'-' || c == L'_' ? c : L'_';
  return out.empty() ? L"_" : out;
}

void ListBelow(const std::wstring& folder, PathSet& out) {
  std::vector<platform::FindData> entries;
  if (out.size() >= kMaxListedFiles ||
      platform::FindAll(folder + L"\\*", entries, false) != platform::ERROR_SUCCESS)
    return;
  for (const auto& e : entries) {
    if (e.fileName == L"." || e.fileName == L"..") continue;
    std::wstring p = folder + L"\\" + e.fileName;
    out.insert(p);
    if ((e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) &&
        !(e.attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT))
      ListBelow(p, out);
  }
}

}  // namespace

// ---- the installed-items file ----

std::wstring KeyItem(platform::HKEY root, const std::wstring& key) {
  return std::wstring(RootName(root)) + L"\\" + TrimKey(key);
}

std::wstring InstalledItemsPath(const std::wstring& recordPath, const std::wstring& pv,
                                int version) {
  std::wstring folder = recordPath;
  platform::PathRemoveFileSpecW(folder);
  return folder + L"\\TolmeraInstall." + SafeKey(pv) + L"." + std::to_wstring(version) + L".items";
}

bool LoadInstalledItems(const std::wstring& path, InstalledItems& items, std::wstring& error) {
  items = InstalledItems();
  error.clear();
  platform::FileInfo info;
  if (platform::GetFileAttributesExW(path, info) != platform::ERROR_SUCCESS) return false;
  if (info.attributes &
      (platform::FILE_ATTRIBUTE_DIRECTORY | platform::FILE_ATTRIBUTE_REPARSE_POINT)) {
    error = L"it is no regular file";
    return false;
  }
  if (info.size > kMaxItemsFileBytes) {
    error = L"it is larger than " + std::to_wstring(kMaxItemsFileBytes) + L" bytes";
    return false;
  }
  std::string bytes;
  if (platform::ReadWholeFile(path, bytes) != platform::ERROR_SUCCESS ||
      bytes.size() > kMaxItemsFileBytes) {
    error = L"it cannot be read";
    return false;
  }
  std::istringstream in(bytes);
  std::string line;
  if (!std::getline(in, line) || line != kItemsHeader) {
    error = L"it does not start with \"" + platform::FromUtf8(kItemsHeader) + L"\"";
    return false;
  }
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::wstring text = platform::FromUtf8(line.substr(line.find(' ') + 1));
    const std::string tag = line.substr(0, line.find(' '));
    std::wstring::size_type tab = text.find(L'\t');
    if (tag == "PRODUCT" && tab != std::wstring::npos) {
      items.pv = text.substr(0, tab);
      try {
        items.version = std::stoi(platform::ToUtf8(text.substr(tab + 1)).substr(0, 10));
      } catch (const std::exception&) {
        error = L"its product line has no version";
        return false;
      }
    } else if (tag == "BASE") {
      items.base = text;
    } else if (tag == "P") {
      items.paths.insert(text);
    } else if (tag == "K") {
      items.keys.insert(text);
    } else if (tag == "S" && tab != std::wstring::npos) {
      items.shares[text.substr(0, tab)] = text.substr(tab + 1);
    }
  }
  return true;
}

bool SaveInstalledItems(const std::wstring& path, const InstalledItems& items) {
  std::string out = std::string(kItemsHeader) + "\n";
  auto line = [&out](const char* tag, const std::wstring& text) {
    if (text.find_first_of(L"\r\n") != std::wstring::npos) return;  // never a line of its own
    out.append(tag).append(" ").append(platform::ToUtf8(text)).append("\n");
  };
  line("PRODUCT", items.pv + L"\t" + std::to_wstring(items.version));
  line("BASE", items.base);
  for (const auto& p : items.paths) line("P", p);
  for (const auto& k : items.keys) line("K", k);
  for (const auto& [name, folder] : items.shares) line("S", name + L"\t" + folder);
  std::wstring folder = path;
  platform::PathRemoveFileSpecW(folder);
  platform::CreateDirectoryWithParents(folder);
  const std::wstring temporary = path + L".new";
  if (platform::WriteWholeFile(temporary, out) != platform::ERROR_SUCCESS) {
    platform::DeleteFileW(temporary);
    return false;
  }
  if (platform::MoveFileExW(temporary, path, platform::MOVEFILE_REPLACE_EXISTING) !=
      platform::ERROR_SUCCESS) {
    platform::DeleteFileW(temporary);
    return false;
  }
  return true;
}

// ---- what needs no run ----

bool StepGuard::IsMachineProgram(const std::wstring& program) {
  if (program.empty() || program.find(L'"') != std::wstring::npos) return false;
  return platform::IsMachinePath(program);
}

platform::DWORD StepGuard::StartProgram(const std::wstring& program, const std::wstring& line,
                                        const platform::StartupInfo& startup,
                                        platform::ProcessHandle& process) {
  std::wstring found = program;
  if (program.find_first_of(L"\\/:") == std::wstring::npos &&
      platform::FindProgram(program, found) != platform::ERROR_SUCCESS)
    found = program;
  if (!IsMachineProgram(found)) {
    Log(LogLevel::Error,
        L"StepGuard: the program %s is not on a drive of this computer and is not started", found);
    return platform::ERROR_ACCESS_DENIED;
  }
  // The line starts with the program found and checked, so that the search cannot find
  // another one; the arguments follow as they stand.
  std::wstring rest = line;
  if (!rest.empty() && rest[0] == L'"') {
    std::wstring::size_type close = rest.find(L'"', 1);
    rest = close == std::wstring::npos ? L"" : rest.substr(close + 1);
  } else {
    std::wstring::size_type blank = rest.find(L' ');
    rest = blank == std::wstring::npos ? L"" : rest.substr(blank);
  }
  return platform::CreateProcessW(L"\"" + found + L"\"" + rest, L"", startup, process);
}

bool StepGuard::RefusesAccessList(const std::wstring& path) {
  if (!IsProtectedFolder(path)) return false;
  Log(LogLevel::Error, L"StepGuard: the access list of %s is not changed: it is a protected place",
      path);
  return true;
}

platform::DWORD StepGuard::WriteDacl(const std::wstring& path, platform::SECURITY_INFORMATION what,
                                     const platform::ACL* acl) {
  if (RefusesAccessList(path)) return platform::ERROR_ACCESS_DENIED;
  return platform::SetNamedSecurityInfoW(path.c_str(), platform::SE_FILE_OBJECT, what, nullptr,
                                         nullptr, acl, nullptr);
}

platform::DWORD StepGuard::EditDacl(const std::wstring& path, const platform::FileDaclEdit& edit,
                                    platform::DaclEditStage& stage) {
  bool refused = false;
  platform::DWORD status = platform::EditFileDacl(
      path,
      [&](platform::PSECURITY_DESCRIPTOR sd, platform::ACL* dacl,
          platform::SECURITY_INFORMATION& what, const platform::ACL*& acl) -> platform::DWORD {
        if (platform::DWORD s = edit(sd, dacl, what, acl)) return s;
        refused = RefusesAccessList(path);
        return refused ? platform::ERROR_ACCESS_DENIED : platform::ERROR_SUCCESS;
      },
      stage);
  if (refused) stage = platform::DaclEditStage::write;
  return status;
}

bool StepGuard::DeleteOwnFile(const std::wstring& path) {
  if (platform::PathIsDirectoryW(path)) return false;
  return platform::DeleteFileW(path) == platform::ERROR_SUCCESS;
}

bool StepGuard::DeleteOwnFileAtRestart(const std::wstring& path) {
  if (platform::PathIsDirectoryW(path)) return false;
  return platform::MoveFileExW(path, L"", platform::MOVEFILE_DELAY_UNTIL_REBOOT) ==
         platform::ERROR_SUCCESS;
}

bool StepGuard::KeepOwnFileAtRestart(const std::wstring& path) {
  return platform::CancelScheduledDeletion(path) == platform::ERROR_SUCCESS;
}

platform::DWORD StepGuard::AddShare(const platform::SHARE_INFO_502& record,
                                    platform::DWORD* parmError) {
  if (IsProtectedFolder(record.shi502_path) && record.shi502_netname != kProbeShareName) {
    Log(LogLevel::Error, L"StepGuard: %s is a protected place of the system and is not shared",
        record.shi502_path);
    return platform::ERROR_ACCESS_DENIED;
  }
  return platform::NetShareAdd(nullptr, 502, record, parmError);
}

platform::DWORD StepGuard::DeleteShare(const std::wstring& name) {
  if (name.empty()) return platform::NERR_NetNameNotFound;
  return platform::NetShareDel(nullptr, name, 0);
}

platform::LSTATUS StepGuard::DeleteValue(platform::HKEY root, const std::wstring& key,
                                         const std::wstring& name) {
  platform::RegKey k;
  platform::LSTATUS status = k.Open(root, key, platform::KEY_READ | platform::KEY_WRITE);
  if (status != platform::ERROR_SUCCESS) return status;
  return platform::RegDeleteValueW(k.Get(), name.c_str());
}

// ---- the run ----

bool StepGuard::BeginRun(const std::wstring& productFolder, const wchar_t* who) {
  m_product.clear();
  std::wstring full = Full(productFolder);
  if (productFolder.empty() || platform::PathIsRelativeW(productFolder) ||
      platform::PathIsUNCW(productFolder) || !platform::IsMachinePath(full)) {
    Log(LogLevel::Error,
        L"%s: the product folder \"%s\" is no folder of this computer; nothing "
        L"is changed",
        std::wstring(who), productFolder);
    return false;
  }
  if (IsProtectedFolder(full)) {
    Log(LogLevel::Error,
        L"%s: the product folder %s is a protected place of the system; nothing is changed",
        std::wstring(who), full);
    return false;
  }
  m_product = full;
  return true;
}

bool StepGuard::IsInsideProduct(const std::wstring& path) const {
  return !m_product.empty() && Inside(Full(path), m_product);
}

std::wstring StepGuard::FamilyFolder() const {
  std::wstring family = m_product;
  if (!platform::PathRemoveFileSpecW(family)) return m_product;
  platform::PathRemoveBackslashW(family);
  return family;
}

bool StepGuard::IsInside(const std::wstring& path, const std::wstring& folder) {
  return !folder.empty() && Inside(Full(path), Full(folder));
}

void StepGuard::UseProductItems(const InstalledItems& items, bool found) {
  m_done = items;
  m_haveItems = found;
}

void StepGuard::ForgetRun() { m_run = InstalledItems(); }

void StepGuard::NoteMissing(const std::wstring& path) {
  std::wstring p = Full(path);
  while (!p.empty() && !platform::PathFileExistsW(p)) {
    m_run.paths.insert(p);
    if (!platform::PathRemoveFileSpecW(p)) break;
  }
}

PathSet StepGuard::ListFiles(const std::wstring& folder) {
  PathSet out;
  if (platform::PathIsDirectoryW(folder)) ListBelow(Full(folder), out);
  return out;
}

void StepGuard::NoteNewFiles(const std::wstring& folder, const PathSet& before) {
  for (const auto& p : ListFiles(folder))
    if (!before.count(p)) m_run.paths.insert(p);
}

void StepGuard::NoteMissingKey(platform::HKEY root, const std::wstring& key) {
  for (std::wstring k = TrimKey(key); !k.empty() && !KeyExists(root, k);) {
    m_run.keys.insert(KeyItem(root, k));
    std::wstring::size_type slash = k.rfind(L'\\');
    if (slash == std::wstring::npos) break;
    k = TrimKey(k.substr(0, slash));
  }
}

void StepGuard::NoteShare(const std::wstring& name, const std::wstring& folder) {
  m_run.shares[name] = Full(folder);
}

bool StepGuard::MadeByProduct(const std::wstring& path) const {
  // The path, or a folder above it (below the product folder) that the product made.
  for (std::wstring p = Full(path); !p.empty() && !platform::EqualsNoCase(p, m_product);) {
    if (m_run.paths.count(p) || (!m_rollingBack && m_done.paths.count(p))) return true;
    if (!platform::PathRemoveFileSpecW(p) || !Inside(p, m_product)) break;
  }
  // The product folder itself only as itself.
  std::wstring p = Full(path);
  return platform::EqualsNoCase(p, m_product) &&
         (m_run.paths.count(p) || (!m_rollingBack && m_done.paths.count(p)));
}

bool StepGuard::KeyMadeByProduct(platform::HKEY root, const std::wstring& key) const {
  // The key, or a key above it that the product made (never a protected one).
  for (std::wstring k = TrimKey(key); !k.empty() && !IsProtectedKey(root, k);) {
    std::wstring item = KeyItem(root, k);
    if (m_run.keys.count(item) || (!m_rollingBack && m_done.keys.count(item))) return true;
    std::wstring::size_type slash = k.rfind(L'\\');
    if (slash == std::wstring::npos) break;
    k = TrimKey(k.substr(0, slash));
  }
  return false;
}

InstalledItems StepGuard::AllItems(const std::wstring& pv, int version) const {
  InstalledItems all = m_done;
  all.pv = pv;
  all.version = version;
  all.base = m_product;
  all.paths.insert(m_run.paths.begin(), m_run.paths.end());
  all.keys.insert(m_run.keys.begin(), m_run.keys.end());
  for (const auto& [name, folder] : m_run.shares) all.shares[name] = folder;
  // What is gone no longer belongs to anyone.
  for (auto it = all.paths.begin(); it != all.paths.end();)
    it = platform::PathFileExistsW(*it) ? std::next(it) : all.paths.erase(it);
  return all;
}

// ---- the operations ----

bool StepGuard::MayRemove(const std::wstring& path, const wchar_t* step) const {
  return MayRemoveIn(path, m_product, step);
}

bool StepGuard::MayRemoveIn(const std::wstring& path, const std::wstring& within,
                            const wchar_t* step, bool shared) const {
  const std::wstring p = Full(path);
  const std::wstring bound = within.empty() ? std::wstring() : Full(within);
  if (IsProtectedFolder(p)) {
    Log(LogLevel::Error, L"%s: %s is a protected place of the system and is not removed",
        std::wstring(step), p);
    return false;
  }
  if (!Inside(p, bound)) {
    Log(LogLevel::Error, L"%s: %s lies outside the folder %s and is not removed",
        std::wstring(step), p, bound);
    return false;
  }
  const bool made =
      MadeByProduct(p) || m_run.paths.count(p) || (!m_rollingBack && m_done.paths.count(p));
  if (m_rollingBack) {
    if (made) return true;
    Log(LogLevel::Info, L"%s: %s was there before this run and is kept", std::wstring(step), p);
    return false;
  }
  if (m_haveItems && !made && !shared) {
    Log(LogLevel::Info, L"%s: %s was not put there by this product and is kept", std::wstring(step),
        p);
    return false;
  }
  return true;
}

bool StepGuard::DeleteFileIn(const std::wstring& path, const std::wstring& within,
                             const wchar_t* step, bool shared) {
  if (!platform::PathFileExistsW(path) || platform::PathIsDirectoryW(path) ||
      !MayRemoveIn(path, within, step, shared))
    return false;
  platform::DeleteFileW(path);
  return !platform::PathFileExistsW(path);
}

bool StepGuard::DeleteFile(const std::wstring& path, const wchar_t* step) {
  if (!MayRemove(path, step) || platform::PathIsDirectoryW(path)) return false;
  platform::DeleteFileW(path);
  return !platform::PathFileExistsW(path);
}

bool StepGuard::DeleteFolderTree(const std::wstring& path, const wchar_t* step,
                                 const std::wstring& within, bool shared) {
  const std::wstring p = Full(path);
  const std::wstring bound = within.empty() ? m_product : Full(within);
  const bool ours =
      MadeByProduct(p) || (!m_haveItems && !m_rollingBack) || (shared && !m_rollingBack);
  if (ours) {
    if (!MayRemoveIn(p, bound, step, shared)) return false;
    InstallSteps::DeleteFolder(p);
    return true;
  }
  // A folder that was there before: only what the product put in it goes, deepest first,
  // and the folder itself stays.
  if (IsProtectedFolder(p) || !Inside(p, bound)) return MayRemoveIn(p, bound, step);
  std::vector<std::wstring> mine;
  const PathSet& run = m_run.paths;
  for (const PathSet* set : std::initializer_list<const PathSet*>{&run, &m_done.paths})
    for (const auto& item : *set)
      if (Inside(item, p) && !platform::EqualsNoCase(item, p) &&
          (!m_rollingBack || run.count(item)))
        mine.push_back(item);
  Log(LogLevel::Info, L"%s: %s was there before this product; only its %u items of the product go",
      std::wstring(step), p, static_cast<unsigned>(mine.size()));
  std::sort(mine.begin(), mine.end(),
            [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  for (const auto& item : mine) {
    if (platform::PathIsDirectoryW(item)) {
      if (IsFolderEmpty(item)) platform::RemoveDirectoryW(item);
    } else if (platform::PathFileExistsW(item)) {
      platform::DeleteFileW(item);
    }
  }
  return false;
}

bool StepGuard::RemoveEmptyFolder(const std::wstring& path, const std::wstring& within,
                                  bool logged) {
  const std::wstring p = Full(path);
  if (IsProtectedFolder(p) || !platform::PathIsDirectoryW(p) || !IsFolderEmpty(p)) return false;
  const bool made =
      MadeByProduct(p) || m_run.paths.count(p) || (!m_rollingBack && m_done.paths.count(p));
  // Without the product's items a folder it may have made is one inside `within`.
  const bool allowed =
      made || (!m_rollingBack && !m_haveItems && !within.empty() && Inside(p, Full(within)));
  if (!allowed) return false;
  if (!logged) return platform::RemoveDirectoryW(p) == platform::ERROR_SUCCESS;
  InstallSteps::DeleteFolder(p);
  return !platform::PathFileExistsW(p);
}

void StepGuard::RemoveEmptyParents(const std::wstring& path, const std::wstring& stop,
                                   bool logged) {
  std::wstring parent = Full(path);
  const std::wstring end = stop.empty() ? L"" : Full(stop);
  const std::wstring within = stop.empty() ? m_product : end;
  while (platform::PathRemoveFileSpecW(parent) && !parent.empty() &&
         !platform::EqualsNoCase(parent, end) && platform::PathIsDirectoryW(parent)) {
    if (!RemoveEmptyFolder(parent, within, logged)) break;
  }
}

bool StepGuard::MayRemoveKey(platform::HKEY root, const std::wstring& key,
                             const wchar_t* step) const {
  if (IsProtectedKey(root, key)) {
    Log(LogLevel::Error, L"%s: key \"%s\" is not removed: it is not a key of the product",
        std::wstring(step), key);
    return false;
  }
  if ((m_haveItems || m_rollingBack) && !KeyMadeByProduct(root, key)) {
    Log(LogLevel::Info, L"%s: key %s was not made by this product and is kept", std::wstring(step),
        key);
    return false;
  }
  return true;
}

platform::LSTATUS StepGuard::DeleteKeyTree(platform::HKEY root, const std::wstring& key,
                                           const wchar_t* step) {
  if (!MayRemoveKey(root, key, step)) return platform::ERROR_ACCESS_DENIED;
  return InstallSteps::DeleteKeyTree(root, key);
}

void StepGuard::RemoveEmptyParentKeys(platform::HKEY root, const std::wstring& key) {
  InstallSteps::RemoveEmptyParents(root, key, [this, root](const std::wstring& parent) {
    return KeyMadeByProduct(root, parent);
  });
}

bool StepGuard::MayShare(const std::wstring& folder, const wchar_t* step) const {
  const std::wstring p = Full(folder);
  if (IsProtectedFolder(p)) {
    Log(LogLevel::Error, L"%s: %s is a protected place of the system and is not shared",
        std::wstring(step), p);
    return false;
  }
  if (!IsInsideProduct(p)) {
    Log(LogLevel::Error, L"%s: %s lies outside the product folder %s and is not shared",
        std::wstring(step), p, m_product);
    return false;
  }
  return true;
}

bool StepGuard::MayRemoveShare(const std::wstring& name, const std::wstring& folder,
                               const wchar_t* step) const {
  platform::SHARE_INFO_502 info;
  if (name.empty() || platform::NetShareGetInfo(nullptr, name, 2, info) != platform::NERR_Success)
    return false;  // nothing to remove: the caller reports it
  const std::wstring shared = Full(info.shi502_path);
  auto made = [&](const InstalledItems& items) {
    auto it = items.shares.find(name);
    return it != items.shares.end() && platform::EqualsNoCase(Full(it->second), shared);
  };
  bool ours = false;
  if (m_rollingBack)
    ours = made(m_run);
  else if (m_haveItems)
    ours = made(m_run) || made(m_done);
  else
    ours = platform::EqualsNoCase(shared, Full(folder)) && IsInsideProduct(shared);
  if (!ours)
    Log(LogLevel::Error, L"%s: the share %s of %s was not made by this product for %s and is kept",
        std::wstring(step), name, shared, Full(folder));
  return ours;
}

bool StepGuard::MayResecure(const std::wstring& path, const wchar_t* step) const {
  const std::wstring p = Full(path);
  if (IsProtectedFolder(p)) {
    Log(LogLevel::Error, L"%s: %s is a protected place of the system; its rights are not changed",
        std::wstring(step), p);
    return false;
  }
  // Beside the product folder only what the product made; a place that is not there is left to
  // the step (which reports it).
  if (!IsInsideProduct(p) && !MadeByProduct(p) && !m_run.paths.count(p) && !m_done.paths.count(p) &&
      platform::PathFileExistsW(p)) {
    Log(LogLevel::Warning, L"%s: %s lies outside the product folder %s; its rights are not changed",
        std::wstring(step), p, m_product);
    return false;
  }
  return true;
}

}  // namespace InstallSteps
