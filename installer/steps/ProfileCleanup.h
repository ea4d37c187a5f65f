// The product's data in the local and roaming application-data folders of every profile, taken
// away when the product is removed.
#pragma once

#include "steps/StepContext.h"

#include <string>

namespace InstallSteps {

class ProfileCleanupStep : public IStep {
 public:
  using IStep::IStep;
  // An installation leaves the profiles as they are.
  void Install(const SettingsNodePtr& node, const std::wstring& basePath) override {}
  void Remove(const SettingsNodePtr& node, const std::wstring& basePath) override;
};

}  // namespace InstallSteps
