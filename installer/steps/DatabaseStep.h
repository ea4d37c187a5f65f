// The ODBC data source step: one DATABASE entry's machine data source registered or removed.
#pragma once

#include "steps/StepContext.h"

#include <string>

namespace InstallSteps {

class DatabaseStep : public FlaggedStep {
 public:
  using FlaggedStep::FlaggedStep;

 protected:
  void Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) override;
};

}  // namespace InstallSteps
