// The folders and files steps: the scheduled lists put on disk from the package archive and
// taken away again, with the backups an update or repair makes first, and the amount of work
// the progress bar counts.
#include "manager/InstallManager.h"

#include "app/Tools.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "package/NameCheck.h"
#include "steps/FileUtilities.h"
#include "steps/RightsStep.h"

namespace InstallManager {

using InstallSteps::CombinePath;
using InstallSteps::IsFileExists;
using InstallSteps::SetupEntry;
using InstallSteps::SetupList;

namespace {

std::wstring TargetFolder(const SetupEntry& entry, const std::wstring& basePath) {
  return entry.target.empty() ? basePath : CombinePath(basePath, entry.target);
}

// The archive's name of a packaged folder: its entries are below "<name>\", and only they (a
// folder "bin" must not take "binaries\..." along).
std::wstring FolderPrefix(const std::wstring& name) {
  std::wstring prefix = name;
  while (!prefix.empty() && prefix.back() == L'\\') prefix.pop_back();
  return prefix + L"\\";
}

}  // namespace

// Copies each named file found below the target folder beside itself as ".bak" before an
// update, only-update or repair replaces it; a fresh installation has nothing to keep.
static void MakeBackups(int detectedAction, const std::wstring& target, std::wstring list) {
  if (detectedAction != kUpdate && detectedAction != kOnlyUpdate && detectedAction != kRepair)
    return;
  if (list.empty() || target.empty()) return;
  if (list.back() != L'|') list += L'|';
  size_t start = 0;
  for (size_t bar = list.find(L'|'); bar != std::wstring::npos;
       start = bar + 1, bar = list.find(L'|', start)) {
    std::wstring item = list.substr(start, bar - start);
    if (item.empty()) continue;
    std::wstring found = InstallSteps::FindFileBelow(target, item);
    if (found.empty()) continue;
    std::wstring bak = InstallSteps::BackupName(found);
    platform::CopyFileW(found, bak, false);
    Log(LogLevel::Info, L"Backup of %s is %s", found, bak);
  }
}

// A copy that the disk stopped (full, over its quota, a failed write) is a failed run: the
// installation cannot be whole. A damaged or missing entry stays a warning of its step.
void CInstallManager::CopyFailed(const wchar_t* format, const std::wstring& path) {
  const platform::DWORD failure = m_dataStorage->LastWriteFailure();
  if (failure == platform::ERROR_SUCCESS) return;
  Log(LogLevel::Error, format, path, platform::SystemErrorText(failure));
  RaiseResult(irErrorDuringInstall);
}

std::wstring CInstallManager::EntryBound(const SetupEntry& entry) const {
  if (!CommonTools::IsFullPath(entry.target))
    return entry.common ? m_guard.FamilyFolder() : m_guard.ProductFolder();
  // A data folder of the family's own: what holds its record of installed products.
  std::wstring data = m_commonInfo.productsFile;
  if (data.empty() || !platform::PathRemoveFileSpecW(data)) return L"";
  platform::PathRemoveBackslashW(data);
  if (InstallSteps::IsProtectedFolder(data)) return L"";
  return data;
}

void CInstallManager::CommonStepFolders(const SetupList& list, bool remove,
                                        const std::wstring& basePath) {
  if (!GuardFor(basePath, L"CommonStepFolders")) return;
  auto& window = GetGuiTools().MainWindow();
  for (const SetupEntry& entry : list) {
    if (entry.name.find_first_not_of(L" \\.") == std::wstring::npos) {
      Log(LogLevel::Error, L"CommonStepFolders: a folder without a name is skipped");
      continue;
    }
    std::wstring target = TargetFolder(entry, basePath);
    std::wstring path = target.empty() ? L"" : CombinePath(target, entry.name);
    if (path.empty()) continue;
    const std::wstring bound = EntryBound(entry);
    if (!InstallSteps::StepGuard::IsInside(path, bound)) {
      Log(LogLevel::Error,
          L"CommonStepFolders: Folder = %s lies outside the folder %s and is skipped", path, bound);
      continue;
    }
    if (remove) {
      if (m_guard.RollingBack() && !m_guard.MadeByProduct(path)) {
        Log(LogLevel::Info, L"CommonStepFolders: Folder = %s was there before this run and is kept",
            path);
        continue;
      }
      if (!IsFileExists(path)) continue;
      window.SetItemText(entry.name);
      if (!m_guard.DeleteFolderTree(path, L"CommonStepFolders", bound, entry.common)) continue;
      if (IsFileExists(path)) {
        Log(LogLevel::Warning, L"CommonStepFolders: Folder = %s is not deleted", path);
        m_result = irDeleteFolder;
        continue;
      }
      Log(LogLevel::Info, L"CommonStepFolders: Folder = %s is deleted", path);
      // The parents this removal emptied go too, up to the first one that holds anything, and
      // only those the product made: never a drive root or a folder of the system.
      m_guard.RemoveEmptyParents(
          path, entry.common || bound != m_guard.ProductFolder() ? bound : L"", true);
      continue;
    }

    window.SetItemText(entry.name);
    MakeBackups(m_detectedAction, target, entry.backupFiles);
    // A folder that is there already is the product's only in what the extraction adds to it.
    const bool existed = platform::PathIsDirectoryW(path);
    const InstallSteps::PathSet before =
        existed ? InstallSteps::StepGuard::ListFiles(path) : InstallSteps::PathSet();
    RememberMissing(path);
    std::wstring extracted;
    if (m_dataStorage && !m_dataStorage->ExtractFolder(target, FolderPrefix(entry.name), extracted,
                                                       entry.overwrite)) {
      CopyFailed(L"CommonStepFolders: Folder = %s is not copied: %s", path);
      Log(LogLevel::Warning, L"CommonStepFolders: Folder = %s is not extracted completely", path);
    }
    if (existed) m_guard.NoteNewFiles(path, before);
    if (!IsFileExists(path)) {
      platform::CreateDirectoryWithParents(path);
      if (!platform::PathIsDirectoryW(path))
        Log(LogLevel::Error, L"CommonStepFolders: Folder = %s is not created", path);
      else
        Log(LogLevel::Info, L"CommonStepFolders: Folder = %s is created", path);
    } else {
      Log(LogLevel::Info, L"CommonStepFolders: Folder = %s is created", path);
    }
    if (!entry.access.empty() && m_guard.MayResecure(path, L"CommonStepFolders")) {
      // "permisions" is spelt as the logs of every earlier version have it.
      if (!InstallSteps::SetRights(path, entry.access, L"y", L"-EVERYONE:"))
        Log(LogLevel::Warning, L"CommonStepRights: Folder = %s is not set permissions %s", path,
            entry.access);
      else
        Log(LogLevel::Info, L"CommonStepRights: Folder = %s is set permisions %s", path,
            entry.access);
    }
  }
}

void CInstallManager::CommonStepFiles(const SetupList& list, bool remove,
                                      const std::wstring& basePath) {
  if (!GuardFor(basePath, L"CommonStepFiles")) return;
  auto& window = GetGuiTools().MainWindow();
  for (const SetupEntry& entry : list) {
    if (entry.name.find_first_not_of(L" \\.") == std::wstring::npos) {
      Log(LogLevel::Error, L"CommonStepFiles: a file without a name is skipped");
      continue;
    }
    std::wstring target = TargetFolder(entry, basePath);
    std::wstring path = target.empty() ? L"" : CombinePath(target, entry.name);
    if (path.empty()) continue;
    const std::wstring bound = EntryBound(entry);
    if (!InstallSteps::StepGuard::IsInside(path, bound)) {
      Log(LogLevel::Error, L"CommonStepFiles: File = %s lies outside the folder %s and is skipped",
          path, bound);
      continue;
    }
    if (remove) {
      if (m_guard.RollingBack() && !m_guard.MadeByProduct(path)) {
        Log(LogLevel::Info, L"CommonStepFiles: File = %s was there before this run and is kept",
            path);
        continue;
      }
      if (!IsFileExists(path)) continue;
      window.SetItemText(entry.name);
      if (!m_guard.MayRemoveIn(path, bound, L"CommonStepFiles", entry.common)) continue;
      m_guard.DeleteFileIn(path, bound, L"CommonStepFiles", entry.common);
      if (platform::PathFileExistsW(path)) {
        Log(LogLevel::Warning, L"CommonStepFiles: File = %s is not deleted", path);
        // A folder that waits for the restart keeps the run's restart result.
        if (m_result != irDeleteFolder) m_result = irErrorDuringInstall;
      } else {
        Log(LogLevel::Info, L"CommonStepFiles: File = %s is deleted", path);
      }
      continue;
    }

    window.SetItemText(entry.name);
    MakeBackups(m_detectedAction, target, entry.backupFiles);
    RememberMissing(path);
    std::wstring out;
    if (!m_dataStorage || !m_dataStorage->ExtractFile(target, entry.name, out)) {
      if (m_dataStorage) CopyFailed(L"CommonStepFiles: File = %s is not copied: %s", path);
      Log(LogLevel::Warning, L"CommonStepFiles: File = %s is not extracted", path);
      out = path;
    }
    if (!entry.access.empty() && m_guard.MayResecure(out, L"CommonStepFiles")) {
      if (!InstallSteps::SetRights(out, entry.access, L"y", L"-EVERYONE:"))
        Log(LogLevel::Warning, L"CommonStepFiles: File = %s is not set permissions %s", out,
            entry.access);
      else
        Log(LogLevel::Info, L"CommonStepFiles: File = %s is set permisions %s", out, entry.access);
    }
  }
}

std::uint64_t CInstallManager::FolderWorkTotal(const std::wstring& basePath) {
  std::uint64_t total = 0;
  for (const SetupEntry& e : m_scheduled.removeFolders) {
    std::wstring p = CombinePath(basePath, e.name);
    if (!p.empty() && platform::PathIsDirectoryW(p)) total += InstallSteps::FolderBytes(p);
  }
  if (m_dataStorage) {
    for (const SetupList* list : {&m_scheduled.installFolders, &m_scheduled.commonFolders})
      for (const SetupEntry& e : *list) {
        std::uint64_t count = 0, packed = 0, unpacked = 0;
        std::wstring prefix = FolderPrefix(e.name);
        if (m_dataStorage->Measure(&prefix, count, packed, unpacked)) total += unpacked;
      }
  }
  return total;
}

void CInstallManager::CountKeptCommonFolders(const std::wstring& basePath) {
  std::uint64_t kept = 0;
  for (const SetupEntry& e : m_scheduled.commonFolders) {
    std::wstring p = CombinePath(basePath, e.name);
    if (!p.empty() && platform::PathIsDirectoryW(p)) kept += InstallSteps::FolderBytes(p);
  }
  if (kept != 0) GetGuiTools().MainWindow().StepProgress(kept);
}

}  // namespace InstallManager
