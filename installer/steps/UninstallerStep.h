// The uninstaller registration: the kept copy of the installer in the Windows folder, this
// product's uninstall package beside it and its entry in the list of programs.
#pragma once

#include "steps/StepContext.h"

#include <string>

namespace InstallSteps {

class UninstallerStep : public IStep {
 public:
  using IStep::IStep;
  // Registers the uninstaller of the product installed in `basePath` (`node` is not read).
  void Install(const SettingsNodePtr& node, const std::wstring& basePath) override;
  // Takes the registration away.
  void Remove(const SettingsNodePtr& node, const std::wstring& basePath) override;
  std::wstring UninstallerPath();
  // The name of the product's uninstall package.
  static std::wstring PackageName(const CommonTools::Script::ProductDescription& product);
  void AddInfo(const std::wstring& installPath, const std::wstring& packagePath);
  // Whether the product's entry in the list of programs (`regKey` below the Uninstall key) is
  // there and starts the package `packagePath`: a removal run from it was started by the list.
  static bool EntryStartsPackage(const std::wstring& regKey, const std::wstring& packagePath);

 private:
  // Moves a file of the uninstaller to its spare name, which goes at the next start.
  static bool MoveToSpare(const std::wstring& path, const std::wstring& spare);
};

}  // namespace InstallSteps
