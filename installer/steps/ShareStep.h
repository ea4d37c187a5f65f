// The share operations behind the SERVER and SHARE steps: a folder shared with its Everyone entry,
// the check whether a folder is shared, the removal of a share by name, and the probe that tells
// whether this user may share folders of the computer.
#pragma once

#include "steps/StepContext.h"

#include "platform/Win32Errors.h"

#include <string>

namespace InstallSteps {

// The share name the probe creates and removes again.
inline constexpr const wchar_t* kProbeShareName = L"Product shared temporary folder";

// The share permission bits of the "Access" letters (f e w r d c a p, lower case only; other
// characters add nothing), or, when `access` is empty, ACCESS_READ for read 1 and ACCESS_WRITE
// for write 1.
platform::DWORD SharePermissions(const std::wstring& access, int read, int write);
// The mask of the folder's Everyone entry for the permission bits.
platform::DWORD EveryoneFolderMask(platform::DWORD permissions);
// Shares `folder` as `shareName` (a disk share at level 502, unlimited uses) and, with
// `folderAccess`, sets the folder's allow entry for Everyone (inherited by everything below) in
// place of any earlier explicit Everyone entry, keeping every other entry of its access list.
// True when the share was created; `status` receives NetShareAdd's status.
bool ShareFolder(const std::wstring& folder, const std::wstring& shareName,
                 platform::DWORD permissions, platform::DWORD* status = nullptr,
                 bool folderAccess = true);
// Whether a share of this computer shares `folder`.
bool IsFolderShared(const std::wstring& folder);
// Whether the share `shareName` exists and shares exactly `folder`.
bool IsSharedAs(const std::wstring& folder, const std::wstring& shareName);
// Deletes the share `shareName`; false for an empty name (never a whole list) or a failure.
bool RemoveShare(const std::wstring& shareName);
// Could the current user share a folder? Shares the program-files folder under kProbeShareName
// (without touching its access list) and removes that share again.
bool VerifySetShareForFolder();

// One SHARE entry: its folder shared (inside the product folder only) or the share removed;
// Server walks the script's SERVER node.
class ShareStep : public FlaggedStep {
 public:
  using FlaggedStep::FlaggedStep;
  void Server(const SettingsNodePtr& root, bool remove, const std::wstring& basePath);

 protected:
  void Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) override;
};

}  // namespace InstallSteps
