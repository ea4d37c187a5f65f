// The folders and files steps: the scheduled lists put on disk from the package archive and
// taken away again, with the backups an update or repair makes first, and the amount of work
// the progress bar counts.
#include "steps/FolderFileSteps.h"

#include "app/Tools.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "package/NameCheck.h"
#include "package/ScriptVocabulary.h"
#include "platform/Text.h"
#include "steps/FileUtilities.h"
#include "steps/RightsStep.h"

namespace InstallSteps {

using namespace InstallManager;
namespace Attribute = ScriptNames::Attribute;

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

// A scheduled entry read from its node; false (with a level-0 line) for a node whose name is
// empty, which would stand for the whole target folder.
bool ReadEntry(StepContext& context, const SettingsNodePtr& node, const wchar_t* step,
               const wchar_t* what, SetupEntry& entry, std::wstring& type) {
  entry.name = context.ReadAttribute(node, Attribute::kName, L"", true);
  type = context.ReadAttribute(node, Attribute::kType, L"", true);
  entry.access = context.ReadAttribute(node, Attribute::kAccess, L"", true);
  entry.overwrite = context.ReadAttribute(node, Attribute::kOverwrite, L"", true);
  entry.target = context.ReadAttribute(node, Attribute::kTarget, L"", true);
  entry.backupFiles = context.ReadAttribute(node, Attribute::kBackupFiles, L"", true);
  if (entry.name.find_first_not_of(L" \\.") == std::wstring::npos) {
    Log(LogLevel::Error,
        L"%s: a %s without a Name (\"%s\") would stand for the whole installation folder and is "
        L"skipped",
        std::wstring(step), std::wstring(what), entry.name);
    return false;
  }
  // A name that is absolute, climbs or names a device would put the entry, and its removal,
  // outside the folder it belongs to.
  // The family's common files may lie one level up, beside the product folder.
  entry.common = platform::EqualsNoCase(type, ScriptNames::Value::kCommonType);
  for (const auto& [attribute, value] :
       {std::pair<const wchar_t*, const std::wstring*>{Attribute::kName, &entry.name},
        std::pair<const wchar_t*, const std::wstring*>{Attribute::kTarget, &entry.target}}) {
    // A full path as Target places the entry in the family's data folder; the steps keep it
    // there (EntryBound).
    const bool target = value == &entry.target;
    const std::wstring reason =
        CommonTools::NameOutsideReason(*value, target && entry.common ? 1 : 0, target);
    if (reason.empty()) continue;
    Log(LogLevel::Error, L"%s: %s \"%s\" of a %s is refused: %s", std::wstring(step),
        std::wstring(attribute), *value, std::wstring(what), reason);
    return false;
  }
  return true;
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
    std::wstring found = FindFileBelow(target, item);
    if (found.empty()) continue;
    std::wstring bak = BackupName(found);
    platform::CopyFileW(found, bak, false);
    Log(LogLevel::Info, L"Backup of %s is %s", found, bak);
  }
}

// A copy that the disk stopped (full, over its quota, a failed write) is a failed run: the
// installation cannot be whole. A damaged or missing entry stays a warning of its step.
void CopyFailed(StepContext& context, const wchar_t* format, const std::wstring& path) {
  const platform::DWORD failure = context.Storage()->LastWriteFailure();
  if (failure == platform::ERROR_SUCCESS) return;
  Log(LogLevel::Error, format, path, platform::SystemErrorText(failure));
  RaiseResult(irErrorDuringInstall);
}

std::wstring EntryBound(StepContext& context, const SetupEntry& entry) {
  if (!CommonTools::IsFullPath(entry.target))
    return entry.common ? context.Guard().FamilyFolder() : context.Guard().ProductFolder();
  // A data folder of the family's own: what holds its record of installed products.
  std::wstring data = context.CommonData().productsFile;
  if (data.empty() || !platform::PathRemoveFileSpecW(data)) return L"";
  platform::PathRemoveBackslashW(data);
  if (IsProtectedFolder(data)) return L"";
  return data;
}

void FolderStep::Process(const SetupList& list, bool remove, const std::wstring& basePath) {
  if (!m_ctx.GuardFor(basePath, L"CommonStepFolders")) return;
  auto& window = m_ctx.Progress();
  for (const SetupEntry& entry : list) {
    if (entry.name.find_first_not_of(L" \\.") == std::wstring::npos) {
      Log(LogLevel::Error, L"CommonStepFolders: a folder without a name is skipped");
      continue;
    }
    std::wstring target = TargetFolder(entry, basePath);
    std::wstring path = target.empty() ? L"" : CombinePath(target, entry.name);
    if (path.empty()) continue;
    const std::wstring bound = EntryBound(m_ctx, entry);
    if (!StepGuard::IsInside(path, bound)) {
      Log(LogLevel::Error,
          L"CommonStepFolders: Folder = %s lies outside the folder %s and is skipped", path, bound);
      continue;
    }
    if (remove) {
      if (m_ctx.Guard().RollingBack() && !m_ctx.Guard().MadeByProduct(path)) {
        Log(LogLevel::Info, L"CommonStepFolders: Folder = %s was there before this run and is kept",
            path);
        continue;
      }
      if (!IsFileExists(path)) continue;
      window.SetItemText(entry.name);
      if (!m_ctx.Guard().DeleteFolderTree(path, L"CommonStepFolders", bound, entry.common))
        continue;
      if (IsFileExists(path)) {
        Log(LogLevel::Warning, L"CommonStepFolders: Folder = %s is not deleted", path);
        m_ctx.SetResult(irDeleteFolder);
        continue;
      }
      Log(LogLevel::Info, L"CommonStepFolders: Folder = %s is deleted", path);
      // The parents this removal emptied go too, up to the first one that holds anything, and
      // only those the product made: never a drive root or a folder of the system.
      m_ctx.Guard().RemoveEmptyParents(
          path, entry.common || bound != m_ctx.Guard().ProductFolder() ? bound : L"", true);
      continue;
    }

    window.SetItemText(entry.name);
    MakeBackups(m_ctx.DetectedAction(), target, entry.backupFiles);
    // A folder that is there already is the product's only in what the extraction adds to it.
    const bool existed = platform::PathIsDirectoryW(path);
    const PathSet before = existed ? StepGuard::ListFiles(path) : PathSet();
    m_ctx.Guard().NoteMissing(path);
    std::wstring extracted;
    if (m_ctx.Storage() && !m_ctx.Storage()->ExtractFolder(target, FolderPrefix(entry.name),
                                                           extracted, entry.overwrite)) {
      CopyFailed(m_ctx, L"CommonStepFolders: Folder = %s is not copied: %s", path);
      Log(LogLevel::Warning, L"CommonStepFolders: Folder = %s is not extracted completely", path);
    }
    if (existed) m_ctx.Guard().NoteNewFiles(path, before);
    if (!IsFileExists(path)) {
      platform::CreateDirectoryWithParents(path);
      if (!platform::PathIsDirectoryW(path))
        Log(LogLevel::Error, L"CommonStepFolders: Folder = %s is not created", path);
      else
        Log(LogLevel::Info, L"CommonStepFolders: Folder = %s is created", path);
    } else {
      Log(LogLevel::Info, L"CommonStepFolders: Folder = %s is created", path);
    }
    if (!entry.access.empty() && m_ctx.Guard().MayResecure(path, L"CommonStepFolders")) {
      // "permisions" is spelt as the logs of every earlier version have it.
      if (!SetRights(path, entry.access, L"y", L"-EVERYONE:"))
        Log(LogLevel::Warning, L"CommonStepRights: Folder = %s is not set permissions %s", path,
            entry.access);
      else
        Log(LogLevel::Info, L"CommonStepRights: Folder = %s is set permisions %s", path,
            entry.access);
    }
  }
}

void FileStep::Process(const SetupList& list, bool remove, const std::wstring& basePath) {
  if (!m_ctx.GuardFor(basePath, L"CommonStepFiles")) return;
  auto& window = m_ctx.Progress();
  for (const SetupEntry& entry : list) {
    if (entry.name.find_first_not_of(L" \\.") == std::wstring::npos) {
      Log(LogLevel::Error, L"CommonStepFiles: a file without a name is skipped");
      continue;
    }
    std::wstring target = TargetFolder(entry, basePath);
    std::wstring path = target.empty() ? L"" : CombinePath(target, entry.name);
    if (path.empty()) continue;
    const std::wstring bound = EntryBound(m_ctx, entry);
    if (!StepGuard::IsInside(path, bound)) {
      Log(LogLevel::Error, L"CommonStepFiles: File = %s lies outside the folder %s and is skipped",
          path, bound);
      continue;
    }
    if (remove) {
      if (m_ctx.Guard().RollingBack() && !m_ctx.Guard().MadeByProduct(path)) {
        Log(LogLevel::Info, L"CommonStepFiles: File = %s was there before this run and is kept",
            path);
        continue;
      }
      if (!IsFileExists(path)) continue;
      window.SetItemText(entry.name);
      if (!m_ctx.Guard().MayRemoveIn(path, bound, L"CommonStepFiles", entry.common)) continue;
      m_ctx.Guard().DeleteFileIn(path, bound, L"CommonStepFiles", entry.common);
      if (platform::PathFileExistsW(path)) {
        Log(LogLevel::Warning, L"CommonStepFiles: File = %s is not deleted", path);
        // A folder that waits for the restart keeps the run's restart result.
        if (m_ctx.RunResult() != irDeleteFolder) m_ctx.SetResult(irErrorDuringInstall);
      } else {
        Log(LogLevel::Info, L"CommonStepFiles: File = %s is deleted", path);
      }
      continue;
    }

    window.SetItemText(entry.name);
    MakeBackups(m_ctx.DetectedAction(), target, entry.backupFiles);
    m_ctx.Guard().NoteMissing(path);
    std::wstring out;
    if (!m_ctx.Storage() || !m_ctx.Storage()->ExtractFile(target, entry.name, out)) {
      if (m_ctx.Storage()) CopyFailed(m_ctx, L"CommonStepFiles: File = %s is not copied: %s", path);
      Log(LogLevel::Warning, L"CommonStepFiles: File = %s is not extracted", path);
      out = path;
    }
    if (!entry.access.empty() && m_ctx.Guard().MayResecure(out, L"CommonStepFiles")) {
      if (!SetRights(out, entry.access, L"y", L"-EVERYONE:"))
        Log(LogLevel::Warning, L"CommonStepFiles: File = %s is not set permissions %s", out,
            entry.access);
      else
        Log(LogLevel::Info, L"CommonStepFiles: File = %s is set permisions %s", out, entry.access);
    }
  }
}

std::uint64_t FolderStep::WorkTotal(const std::wstring& basePath) {
  std::uint64_t total = 0;
  for (const SetupEntry& e : m_ctx.Scheduled().removeFolders) {
    std::wstring p = CombinePath(basePath, e.name);
    if (!p.empty() && platform::PathIsDirectoryW(p)) total += FolderBytes(p);
  }
  if (m_ctx.Storage()) {
    for (const SetupList* list :
         {&m_ctx.Scheduled().installFolders, &m_ctx.Scheduled().commonFolders})
      for (const SetupEntry& e : *list) {
        std::uint64_t count = 0, packed = 0, unpacked = 0;
        std::wstring prefix = FolderPrefix(e.name);
        if (m_ctx.Storage()->Measure(&prefix, count, packed, unpacked)) total += unpacked;
      }
  }
  return total;
}

void FolderStep::CountKeptCommon(const std::wstring& basePath) {
  std::uint64_t kept = 0;
  for (const SetupEntry& e : m_ctx.Scheduled().commonFolders) {
    std::wstring p = CombinePath(basePath, e.name);
    if (!p.empty() && platform::PathIsDirectoryW(p)) kept += FolderBytes(p);
  }
  if (kept != 0) m_ctx.Progress().StepProgress(kept);
}

namespace {

// The three lists of one kind of entry, and how its scheduling names itself in the log.
struct ScheduleLists {
  const wchar_t* step;   // "CommonStepScheduleFolder"
  const wchar_t* label;  // "Folder"
  const wchar_t* element;
  SetupList& common;
  SetupList& removed;
  SetupList& installed;
};

// A DIRECTORY or FILE node read and put on its list: the common one whatever `remove` is.
void Schedule(StepContext& context, const SettingsNodePtr& node, bool remove,
              const ScheduleLists& lists) {
  if (context.IsIgnored(node)) return;
  SetupEntry entry;
  std::wstring type;
  if (!ReadEntry(context, node, lists.step, lists.element, entry, type)) return;
  const std::wstring line = std::wstring(lists.step) + L": " + lists.label + L" = %s";
  if (platform::EqualsNoCase(type, ScriptNames::Value::kCommonType)) {
    Log(LogLevel::Info, line + L" common", entry.name);
    lists.common.push_back(std::move(entry));
  } else if (remove) {
    Log(LogLevel::Info, line + L" remove", entry.name);
    lists.removed.push_back(std::move(entry));
  } else {
    Log(LogLevel::Info, line, entry.name);
    lists.installed.push_back(std::move(entry));
  }
}

}  // namespace

void FolderStep::Run(const SettingsNodePtr& node, bool remove, const std::wstring&) {
  ScheduledEntries& s = m_ctx.Scheduled();
  Schedule(m_ctx, node, remove,
           {L"CommonStepScheduleFolder", L"Folder", L"DIRECTORY", s.commonFolders, s.removeFolders,
            s.installFolders});
}

void FileStep::Run(const SettingsNodePtr& node, bool remove, const std::wstring&) {
  ScheduledEntries& s = m_ctx.Scheduled();
  Schedule(m_ctx, node, remove,
           {L"CommonStepFile", L"File", L"FILE", s.commonFiles, s.removeFiles, s.installFiles});
}

}  // namespace InstallSteps
