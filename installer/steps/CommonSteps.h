// The step framework: how the children of a container (INSTALL, a LIBRARY, ADDITIONAL) reach
// their steps. The dispatcher is a table of the step kinds; a new step is one line in it.
#pragma once

#include "steps/StepContext.h"

#include <string>

namespace InstallSteps {

// Runs the step of every child of `container`, in document order; children without a step are
// passed over. An error of the settings tree ends the walk.
void DispatchSteps(StepContext& context, const SettingsNodePtr& container, bool remove,
                   const std::wstring& basePath);

}  // namespace InstallSteps
