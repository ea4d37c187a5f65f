// The folders and files a run schedules: the script's DIRECTORY and FILE nodes are collected
// into six lists first and processed later in a fixed order, so that every folder is in place
// before the files and the removals come last.
#pragma once

#include <string>
#include <vector>

namespace InstallSteps {

// One scheduled folder or file, as its node's attributes were read (macros replaced, "/" made
// "\").
struct SetupEntry {
  std::wstring access;       // rights to grant on what is installed ("Access")
  std::wstring name;         // the folder or file, relative to the target folder ("Name")
  std::wstring target;       // the target folder relative to the base path; empty: the base
  std::wstring overwrite;    // names the folder extraction always replaces ("Overwrite")
  std::wstring backupFiles;  // "|"-separated names backed up before an update ("BackupFiles")
  bool common = false;       // a folder or file of the family's common files ("Type" "common")
};

using SetupList = std::vector<SetupEntry>;

struct ScheduledEntries {
  SetupList installFolders, commonFolders, removeFolders;
  SetupList installFiles, commonFiles, removeFiles;
  void Clear() { *this = ScheduledEntries(); }
};

}  // namespace InstallSteps
