// The folders and files steps: DIRECTORY and FILE nodes scheduled into the six lists of
// SetupEntry.h, and the lists later put on disk from the package archive or taken away.
#pragma once

#include "steps/StepContext.h"

#include <cstdint>
#include <string>

namespace InstallSteps {

// DIRECTORY: Install and Remove schedule the node (a common folder in either pass to the common
// list); Process carries a list out.
class FolderStep : public FlaggedStep {
 public:
  using FlaggedStep::FlaggedStep;
  void Process(const SetupList& list, bool remove, const std::wstring& basePath);
  // The bytes the folder lists will move: the progress range of a run.
  std::uint64_t WorkTotal(const std::wstring& basePath);
  // The bytes of the common folders an uninstall keeps, added to the progress.
  void CountKeptCommon(const std::wstring& basePath);

 protected:
  // Schedules the node.
  void Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) override;
};

// FILE: as FolderStep, for single files.
class FileStep : public FlaggedStep {
 public:
  using FlaggedStep::FlaggedStep;
  void Process(const SetupList& list, bool remove, const std::wstring& basePath);

 protected:
  // Schedules the node.
  void Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) override;
};

// The folder a scheduled entry must lie in: the family's data folder (the one holding the
// installed-products record) for an entry whose Target is a full path, the folder beside the
// product folder for a common entry, the product folder for every other one. Empty when the
// data folder is missing or a protected place of the system.
std::wstring EntryBound(StepContext& context, const SetupEntry& entry);
// Ends the run with irErrorDuringInstall when the last extraction for `path` was stopped by
// the disk; `format` is the error line, with the path and the system's text of the failure.
void CopyFailed(StepContext& context, const wchar_t* format, const std::wstring& path);

}  // namespace InstallSteps
