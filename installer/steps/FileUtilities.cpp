#include "steps/FileUtilities.h"

#include "app/Tools.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Restart.h"
#include "platform/ShellFolders.h"
#include "platform/Text.h"

#include <vector>

namespace InstallSteps {

using InstallManager::GetGuiTools;
using InstallManager::GetInstallTools;
using InstallManager::Log;
using InstallManager::LogLevel;

namespace {

bool IsDots(const std::wstring& name) { return name == L"." || name == L".."; }

bool IsLink(const platform::FindData& e) {
  return (e.attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsDirectory(const platform::FindData& e) {
  return (e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The entries of one folder without "." and ".."; a folder whose pattern is too long for a
// Windows path is said so in the log and gives nothing. Without `storedAttributes` only the
// folder and link bits of the attributes are read (a walk for sizes needs no more).
std::vector<platform::FindData> Entries(const std::wstring& folder, bool storedAttributes = true) {
  std::vector<platform::FindData> entries;
  std::wstring pattern = folder + L"\\*.*";
  if (pattern.size() >= platform::MAX_PATH) {
    Log(LogLevel::Error, L"The folder %s is too long to be listed (%u characters) and is left out",
        folder, static_cast<unsigned>(folder.size()));
    return entries;
  }
  platform::FindAll(pattern, entries, false, storedAttributes);
  std::vector<platform::FindData> out;
  out.reserve(entries.size());
  for (auto& e : entries)
    if (!IsDots(e.fileName)) out.push_back(std::move(e));
  return out;
}

std::wstring CauseText(platform::DWORD code) {
  // The system's text on one line.
  std::wstring text = platform::FormatMessageW(code);
  for (auto& c : text)
    if (c == L'\r' || c == L'\n') c = L' ';
  while (!text.empty() && text.back() == L' ') text.pop_back();
  return text;
}

void RemoveAtNextStart(const std::wstring& path) {
  if (platform::MoveFileExW(path, L"", platform::MOVEFILE_DELAY_UNTIL_REBOOT) !=
      platform::ERROR_SUCCESS)
    platform::ScheduleFileOperation(path, L"");
}

std::wstring WithoutFinalSlash(std::wstring path) {
  platform::PathRemoveBackslashW(path);
  return path;
}

}  // namespace

bool IsFileExists(const std::wstring& path) {
  if (platform::PathFileExistsW(path)) return true;
  Log(LogLevel::Info, L"IsFileExists: '%s' is NOT FOUND. Cause: %s", path,
      platform::SystemErrorText(platform::GetLastError()));
  return false;
}

bool DeleteFolder(const std::wstring& path) {
  InstallManager::CRunLog::Batch logBatch(GetInstallTools().Log());
  auto& window = GetGuiTools().MainWindow();
  Log(LogLevel::Info, L"DeleteFolder: Start Folder %s", path);
  if (IsProtectedFolder(path)) {
    // Whoever asks: a drive root, the Windows folder or a special folder is never emptied.
    Log(LogLevel::Error, L"DeleteFolder: %s is a protected place of the system and is not deleted",
        path);
    return true;
  }
  platform::DWORD attributes = platform::GetFileAttributesW(path);
  if (attributes != platform::INVALID_FILE_ATTRIBUTES &&
      (attributes & platform::FILE_ATTRIBUTE_READONLY))
    platform::SetFileAttributesW(path, attributes & ~platform::FILE_ATTRIBUTE_READONLY);
  if (attributes != platform::INVALID_FILE_ATTRIBUTES &&
      (attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT)) {
    // A link in the folder's place: the link goes, never what it leads to.
    Log(LogLevel::Info, L"DeleteFolder: %s is a link; the link is removed, not followed", path);
  } else {
    Log(LogLevel::Info, L"DeleteFolder: before RecursiveDelete folder %s", path);
    RecursiveDelete(path);
  }
  window.SetItemText(path);
  platform::DWORD status = platform::RemoveDirectoryW(path);
  if (status != platform::ERROR_SUCCESS && status != platform::ERROR_FILE_NOT_FOUND) {
    Log(LogLevel::Info, L"DeleteFolder: %s is not deleted. Cause: %s", path, CauseText(status));
    Log(LogLevel::Info, L"DeleteFolder: %s is marked as deleted folder", path);
    RemoveAtNextStart(path);
  }
  Log(LogLevel::Info, L"DeleteFolder: Finish Folder %s", path);
  return true;
}

namespace {

// The entries of a folder being removed: read through the folder kept open, without the status
// of each; by path (with the listing's own checks) where the folder cannot be worked in so.
bool RemovalEntries(const std::wstring& path, platform::FolderRemover& folder,
                    std::vector<platform::FolderRemover::Entry>& entries) {
  if (path.size() + 4 >= platform::MAX_PATH) return false;  // Entries says why
  return folder.List(entries) == platform::ERROR_SUCCESS;
}

// At most so many files of a folder are removed together (their names and results are held).
constexpr std::size_t kFilesRemovedTogether = 256;

}  // namespace

void RecursiveDelete(const std::wstring& path) {
  InstallManager::CRunLog::Batch logBatch(GetInstallTools().Log());
  auto& window = GetGuiTools().MainWindow();
  // The folder is opened once for the listing and the deletions of its entries.
  platform::FolderRemover folder(path);
  std::vector<platform::FolderRemover::Entry> entries;
  if (!RemovalEntries(path, folder, entries)) {
    for (const auto& e : Entries(path)) entries.push_back({e.fileName, IsDirectory(e), IsLink(e)});
  }
  // The files between two folders (or links) go together, then are told in the log in turn.
  std::vector<std::wstring_view> run;
  std::vector<platform::FolderRemover::Removed> removed;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto& entry = entries[i];
    if (!entry.link && !entry.folder) {
      run.clear();
      std::size_t end = i;
      while (end < entries.size() && !entries[end].link && !entries[end].folder &&
             run.size() < kFilesRemovedTogether)
        run.push_back(entries[end++].name);
      folder.RemoveFiles(run, removed);
      for (std::size_t k = 0; k < run.size(); ++k) {
        std::wstring e = path + L"\\" + entries[i + k].name;
        Log(LogLevel::Info, L"RecursiveDelete: folder %s", e);
        window.SetItemText(e);
        // The read-only attribute was reset and the file deleted in one call; the bar advances
        // by the length it had.
        Log(LogLevel::Info, L"RecursiveDelete: file %s", e);
        window.StepProgress(removed[k].size);
        if (removed[k].status != platform::ERROR_SUCCESS) {
          Log(LogLevel::Info, L"DeleteFolder: file %s is not deleted. Cause: %s", e,
              CauseText(removed[k].status));
          Log(LogLevel::Info, L"RecursiveDelete: file %s is marked as deleted", e);
          RemoveAtNextStart(e);
        }
      }
      i = end - 1;
      continue;
    }
    std::wstring e = path + L"\\" + entry.name;
    Log(LogLevel::Info, L"RecursiveDelete: folder %s", e);
    window.SetItemText(e);
    if (entry.link) {
      // Removed as a link: what it leads to is not this installation's (and a link has no
      // read-only attribute of its own to reset).
      platform::DWORD status =
          entry.folder ? platform::RemoveDirectoryW(e) : platform::DeleteFileW(e);
      Log(LogLevel::Info, L"RecursiveDelete: %s is a link; the link is removed, not followed", e);
      if (status != platform::ERROR_SUCCESS) {
        Log(LogLevel::Info, L"DeleteFolder: %s is not deleted. Cause: %s", e, CauseText(status));
        RemoveAtNextStart(e);
      }
    } else {
      folder.ResetReadOnly(entry.name);
      Log(LogLevel::Info, L"RecursiveDelete: folder %s is directory", e);
      RecursiveDelete(e);
      platform::DWORD status = platform::RemoveDirectoryW(e);
      if (status != platform::ERROR_SUCCESS) {
        Log(LogLevel::Info, L"DeleteFolder: %s is not deleted. Cause: %s", e, CauseText(status));
        RemoveAtNextStart(e);
      }
    }
  }
}

std::uint64_t FolderBytes(const std::wstring& path) {
  std::uint64_t total = 0;
  for (const auto& entry : Entries(path, false)) {
    if (IsLink(entry)) continue;
    if (IsDirectory(entry))
      total += FolderBytes(path + L"\\" + entry.fileName);
    else
      total += entry.size;
  }
  return total;
}

bool IsFolderEmpty(const std::wstring& path) {
  std::vector<platform::FindData> entries;
  if (platform::FindAll(path + L"\\*", entries, false) != platform::ERROR_SUCCESS) return false;
  for (const auto& e : entries)
    if (!IsDots(e.fileName)) return false;
  return true;
}

std::wstring FindFileBelow(const std::wstring& folder, const std::wstring& name) {
  std::wstring p = CombinePath(folder, name);
  if (!p.empty() && IsFileExists(p)) return p;
  for (const auto& entry : Entries(folder)) {
    if (!IsDirectory(entry) || IsLink(entry)) continue;
    std::wstring r = FindFileBelow(folder + L"\\" + entry.fileName, name);
    if (!r.empty()) return r;
  }
  return L"";
}

std::wstring CombinePath(const std::wstring& base, const std::wstring& more) {
  std::wstring joined = base;
  if (!platform::PathAppendW(joined, more)) {
    Log(LogLevel::Error,
        L"CombinePath: %s joined with %s is longer than a Windows path may be and is refused", base,
        more);
    return L"";
  }
  return joined;
}

std::wstring BackupName(const std::wstring& path) {
  std::wstring_view file = platform::PathFindFileNameW(path);
  std::wstring_view ext = platform::PathFindExtensionW(file);
  if (ext.empty()) return path + L".bak";
  return path.substr(0, path.size() - ext.size()) + L".bak";
}

namespace {

// The folders no step may take away, as full paths: the special folders of the machine, the
// folder of the profiles and each profile with the per-user special folders it holds, TEMP.
std::vector<std::wstring> ProtectedFolders() {
  std::vector<std::wstring> special;
  std::wstring profile;
  platform::SHGetSpecialFolderPathW(nullptr, profile, platform::CSIDL_PROFILE, false);
  profile = WithoutFinalSlash(profile);
  std::vector<std::wstring> perUser;  // relative to a profile ("AppData\Roaming", "Documents")
  for (int csidl = 0; csidl < 0x40; ++csidl) {
    std::wstring folder;
    if (!platform::SHGetSpecialFolderPathW(nullptr, folder, csidl, false) || folder.empty())
      continue;
    folder = WithoutFinalSlash(folder);
    special.push_back(folder);
    if (!profile.empty() && folder.size() > profile.size() + 1 && folder[profile.size()] == L'\\' &&
        platform::EqualsNoCase(folder.substr(0, profile.size()), profile))
      perUser.push_back(folder.substr(profile.size() + 1));
  }
  if (!profile.empty()) {
    std::wstring profiles = profile;
    platform::PathRemoveFileSpecW(profiles);
    profiles = WithoutFinalSlash(profiles);
    special.push_back(profiles);
    for (const auto& e : Entries(profiles)) {
      if (!IsDirectory(e) || IsLink(e)) continue;
      std::wstring other = profiles + L"\\" + e.fileName;
      special.push_back(other);
      for (const auto& rel : perUser) special.push_back(other + L"\\" + rel);
    }
  }
  special.push_back(WithoutFinalSlash(platform::GetTempPathW()));
  return special;
}

// The list kept while a ProtectedFoldersKept lives on this thread.
struct KeptList {
  bool active = false;
  bool read = false;
  std::vector<std::wstring> folders;
};
thread_local KeptList t_kept;

const std::vector<std::wstring>& CurrentProtectedFolders(std::vector<std::wstring>& fresh) {
  if (!t_kept.active) return fresh = ProtectedFolders();
  if (!t_kept.read) {
    t_kept.folders = ProtectedFolders();
    t_kept.read = true;
  }
  return t_kept.folders;
}

// `inner` is `outer` or lies below it.
bool IsWithin(const std::wstring& inner, const std::wstring& outer) {
  if (outer.empty()) return false;
  if (platform::EqualsNoCase(inner, outer)) return true;
  return inner.size() > outer.size() + 1 && inner[outer.size()] == L'\\' &&
         platform::EqualsNoCase(std::wstring_view(inner).substr(0, outer.size()), outer);
}

}  // namespace

bool IsProtectedFolder(const std::wstring& path) {
  std::wstring p = WithoutFinalSlash(path);
  if (p.empty() || platform::PathIsRootW(p) || platform::PathIsRootW(p + L"\\")) return true;
  // The path as the system reads it ("C:\Windows\.", "c:\users\..\Users", "C:\WINDOWS ").
  std::wstring full;
  if (platform::GetFullPathNameW(p, full) == platform::ERROR_SUCCESS) p = WithoutFinalSlash(full);
  if (p.empty() || platform::PathIsRootW(p) || platform::PathIsRootW(p + L"\\")) return true;
  // The Windows folder and every folder in it (a regular file there may be the product's own).
  const std::wstring windows = WithoutFinalSlash(platform::GetWindowsDirectoryW());
  if (IsWithin(p, windows) && !(platform::PathFileExistsW(p) && !platform::PathIsDirectoryW(p)))
    return true;
  // A special folder, or a folder that holds one.
  std::vector<std::wstring> fresh;
  for (const auto& s : CurrentProtectedFolders(fresh))
    if (IsWithin(s, p)) return true;
  return false;
}

ProtectedFoldersKept::ProtectedFoldersKept() : outermost_(!t_kept.active) { t_kept.active = true; }

ProtectedFoldersKept::~ProtectedFoldersKept() {
  if (!outermost_) return;
  t_kept = KeptList{};
}

}  // namespace InstallSteps
