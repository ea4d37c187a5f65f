// The shell links of the shortcut step and the folders that hold them.
#pragma once

#include "steps/StepContext.h"

#include <string>

namespace InstallSteps {

// Writes one shell link. False when the target or the link path is empty, the show command or
// the icon index is negative, or the link could not be written; the link's folder is made with
// its parents when missing. The description, a show command of 0 and an empty working folder or
// icon path are left out of the link.
bool CreateShortcut(const std::wstring& target, const std::wstring& arguments,
                    const std::wstring& linkPath, const std::wstring& description, int showCommand,
                    const std::wstring& workingFolder, const std::wstring& iconPath, int iconIndex);
// Whether `path` is `folder` itself or lies below it (names compared without case).
bool IsInsideFolder(const std::wstring& path, const std::wstring& folder);

// The SHORTCUTS element of a container: its links on the desktop, in the Start menu and in
// Quick Launch made or deleted.
class ShortcutsStep : public FlaggedStep {
 public:
  using FlaggedStep::FlaggedStep;

 protected:
  void Run(const SettingsNodePtr& container, bool remove, const std::wstring& basePath) override;
};

// One ASSOCIATION: the extension and its class registered or removed.
class AssociationStep : public FlaggedStep {
 public:
  using FlaggedStep::FlaggedStep;

 protected:
  void Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) override;
};

}  // namespace InstallSteps
