// Programs run during an installation: the Exec step, the redistributables the product needs and
// the start of a program that the installer waits for with its window alive.
#pragma once

#include "steps/StepContext.h"

#include <string>

namespace InstallSteps {

class ExecStep : public FlaggedStep {
 public:
  using FlaggedStep::FlaggedStep;
  // The REDIST nodes of the script's root, started in order (none in a removal).
  void Redistributables(const SettingsNodePtr& root, bool remove);
  // Starts `file` with `arguments` from the file's folder; with `wait` the run waits for it in
  // slices, the window alive. False when the program could not be started.
  bool Start(const std::wstring& file, const std::wstring& arguments, bool show, bool wait);
  // The program an Exec node names: "Path", else the text of the message "MsgKey" names.
  std::wstring ProgramOfNode(const SettingsNodePtr& node);

 protected:
  void Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) override;
};

}  // namespace InstallSteps
