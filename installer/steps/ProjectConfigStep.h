// The product's configuration file brought in line with the run: the CHANGE entries of
// INSTALL / CFG, or the list of installed libraries.
#pragma once

#include "steps/StepContext.h"

#include <string>

namespace InstallSteps {

class ProjectConfigStep : public IStep {
 public:
  using IStep::IStep;
  // `node` is the script's root.
  void Install(const SettingsNodePtr& root, const std::wstring& basePath) override;
  // A removal leaves the configuration file as it is.
  void Remove(const SettingsNodePtr& root, const std::wstring& basePath) override {}
  // Applies the CHANGE entries to the file at `path`; true when there were changes, none asked
  // for the library list, and all of them could be applied.
  bool ChangeTags(const std::wstring& path);
};

}  // namespace InstallSteps
