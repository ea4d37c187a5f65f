// The rights operations behind the RIGHTS step and the "Access" of folders and files: the
// rights letters, the read-only flags kept in line with the rights, and the grant to Everyone.
#pragma once

#include "steps/StepContext.h"

#include "platform/Win32Errors.h"

#include <string>

namespace InstallSteps {

// The mask of the rights letters (f e w r d a p c); a text without any known letter means
// GENERIC_ALL alone. Letters count in their own case only.
platform::DWORD RightsMask(const std::wstring& text);
// Sets or clears the read-only flags over a folder tree (or one file) by the read-only rule;
// false when it could not treat the whole tree.
bool SetReadOnlyFlags(const std::wstring& path, const std::wstring& rights, bool remove);
// Grants the rights to Everyone on a folder and everything below it, or on one file: 1 on
// success, 0 on failure.
int SetRights(const std::wstring& path, const std::wstring& rights, const std::wstring& enumWord,
              const std::wstring& accountName);
// Merges one allow entry for Everyone (inherited by files and folders below) into the access
// list of one file or folder: the other explicit entries first, then the new one in place of
// any earlier Everyone entry, then the inherited entries; the list's protection kept. True when
// the new list was written.
bool AddAccessRights(const std::wstring& path, platform::DWORD mask);
// Logs "   %s Error #%d = %s" with the last error and its text at level 1; returns the code.
platform::DWORD LogApiError(const std::wstring& message);

// One RIGHTS entry: its rights granted to Everyone (the read-only flags kept in line), or the
// read-only flags taken back at a removal; ProcessAll walks the script's RIGHTS nodes.
class RightsStep : public FlaggedStep {
 public:
  using FlaggedStep::FlaggedStep;
  void ProcessAll(const SettingsNodePtr& root, bool remove, const std::wstring& basePath);

 protected:
  void Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) override;
};

}  // namespace InstallSteps
