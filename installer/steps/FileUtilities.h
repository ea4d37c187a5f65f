// The file utilities the steps share: existence with its log line, removal of a folder tree
// with removal at the next start for what is in use, the bytes below a folder, the search for
// a file below a folder and the joining of paths.
//
// No walk here follows a link or junction: a link met inside a tree is removed as a link (or
// skipped by the counting and searching walks), never entered. Paths that would not fit the
// Windows limits are refused with a log line, never cut.
#pragma once

#include <cstdint>
#include <string>

namespace InstallSteps {

// PathFileExistsW; a miss logs "IsFileExists: '%s' is NOT FOUND. Cause: %s" at level 2.
bool IsFileExists(const std::wstring& path);
// Removes the folder tree; what cannot go now is scheduled for the next start. Always true.
// The main window's item line follows the walk, the bar advances by the bytes removed.
bool DeleteFolder(const std::wstring& path);
// Removes everything below `path` (used by DeleteFolder).
void RecursiveDelete(const std::wstring& path);
// The bytes of every file below the folder, all levels.
std::uint64_t FolderBytes(const std::wstring& path);
// Whether the folder holds nothing at all (no file of any size, no folder, no link).
bool IsFolderEmpty(const std::wstring& path);
// The first place below `folder` (the folder itself first, then each sub-folder's tree in
// enumeration order) where the relative path `name` exists; empty when none.
std::wstring FindFileBelow(const std::wstring& folder, const std::wstring& name);
// `base` joined with `more` and canonicalised; empty (with a log line) when the result would be
// longer than a Windows path may be.
std::wstring CombinePath(const std::wstring& base, const std::wstring& more);
// The backup name of a file: its extension (of the file name, never of a folder) replaced by
// ".bak", or ".bak" appended when the file name has none.
std::wstring BackupName(const std::wstring& path);
// A folder the climb after a removal must never take away: a drive root or a special folder of
// the machine (Program Files, Common Files, ProgramData, the Windows folder, the profiles and
// their folders, TEMP).
bool IsProtectedFolder(const std::wstring& path);
// While one lives (on this thread), IsProtectedFolder reads the machine's special folders once
// and keeps them: for a walk that judges every entry of a tree while it changes no folder of
// the system. The outermost one decides; the list is read again once it has gone.
class ProtectedFoldersKept {
 public:
  ProtectedFoldersKept();
  ~ProtectedFoldersKept();
  ProtectedFoldersKept(const ProtectedFoldersKept&) = delete;
  ProtectedFoldersKept& operator=(const ProtectedFoldersKept&) = delete;

 private:
  bool outermost_ = false;
};

}  // namespace InstallSteps
