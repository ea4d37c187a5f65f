// The registry operations of the steps: the modes of the REGISTRY step, the removal of a key
// with everything below it, and the climb that takes away parents a removal emptied.
#pragma once

#include "steps/StepContext.h"

#include "platform/Registry.h"

#include <functional>
#include <string>

namespace InstallSteps {

// What ProcessRegistry does with the keys of a REGISTRY element.
enum RegistryMode : int { kRegistryInstall = 0, kRegistryRemove = 1, kRegistryCheck = 2 };

// Whether the key (as a script names it below `root`) is one that no step may delete: the root
// itself (an empty name), a key directly below the root of HKEY_LOCAL_MACHINE or
// HKEY_CURRENT_USER (SOFTWARE, SYSTEM, Software, Control Panel, ...), and SOFTWARE\Classes and
// SOFTWARE\WOW6432Node of either.
bool IsProtectedKey(platform::HKEY root, const std::wstring& key);
// Deletes the key with all its sub-keys; a protected key is refused (ERROR_ACCESS_DENIED).
platform::LSTATUS DeleteKeyTree(platform::HKEY root, const std::wstring& key);
// After a removal: the parents of `key` that hold neither sub-keys nor values go, nearest first;
// the climb stops at the first parent that holds something, cannot be opened, is protected, or
// is not `mayRemove` (a key that was there before the product: the guard's answer).
void RemoveEmptyParents(platform::HKEY root, const std::wstring& key,
                        const std::function<bool(const std::wstring&)>& mayRemove);

// The REGISTRY element of a container: its values written, or its keys removed with the climb
// over emptied parents, or the check whether its first key exists. One registry batch per call.
class RegistryStep : public IStep {
 public:
  using IStep::IStep;
  void Install(const SettingsNodePtr& container, const std::wstring& basePath) override;
  void Remove(const SettingsNodePtr& container, const std::wstring& basePath) override;
  // Whether the first key of the REGISTRY element exists.
  bool Check(const SettingsNodePtr& container);
  // `mode` a RegistryMode; the result matters in kRegistryCheck only.
  bool Process(const SettingsNodePtr& container, int mode);
};

}  // namespace InstallSteps
