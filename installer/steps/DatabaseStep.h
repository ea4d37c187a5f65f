// The ODBC data source step: one DATABASE entry's machine data source registered or removed.
#pragma once

#include "steps/StepContext.h"

#include <string>

namespace InstallSteps {

class DatabaseStep : public IStep {
 public:
  using IStep::IStep;
  void Install(const SettingsNodePtr& node, const std::wstring& basePath) override;
  void Remove(const SettingsNodePtr& node, const std::wstring& basePath) override;

 private:
  void Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath);
};

}  // namespace InstallSteps
