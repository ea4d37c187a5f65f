// What a step sees of the run it belongs to: the action filter and the attributes read with
// their macros, what the run knows (the action, the installed kind, the product, the package,
// the user's choices, the components), the progress display, the record of installed
// products, the guard of destructive operations, the scheduled folders and files, the pages a
// step may show and the run's result. The run log is the tools' Log (app/Tools.h).
//
// The run controller implements it; the steps know nothing else of the run, and the step kinds
// share one interface, IStep: a node's effect installed (or scheduled), or removed again. A
// roll-back of a cut-short installation is a removal while the guard is rolling back: it takes
// only what this run made.
#pragma once

#include "gui/ProgressDisplay.h"
#include "gui/UiBackend.h"
#include "package/DataStorage.h"
#include "package/InstallTypes.h"
#include "package/Libraries.h"
#include "package/ScriptFormat.h"
#include "package/Settings.h"
#include "package/UserSettings.h"
#include "steps/SetupEntry.h"
#include "steps/StepGuard.h"

#include <string>
#include <string_view>

namespace InstallSteps {

using CommonTools::SettingsNodePtr;

class StepContext {
 public:
  virtual ~StepContext() = default;

  // ---- the filter and the attributes ----
  // The action filter of a node ("IgnoreFor" against the detected action and installed kind).
  bool IsIgnored(const SettingsNodePtr& node);
  // The question of a node's "AskKey"; true when there is none or the answer is Yes.
  bool AskUser(const SettingsNodePtr& node);
  // The attribute's text (or `def`) with its macros replaced; with `isPath` every "/" becomes "\".
  virtual std::wstring ReadAttribute(const SettingsNodePtr& node, std::wstring_view name,
                                     const std::wstring& def, bool isPath) = 0;
  virtual void ExpandMacros(std::wstring& s) = 0;

  // ---- what the run knows ----
  virtual int DetectedAction() const = 0;
  virtual int InstalledKind() const = 0;
  virtual const CommonTools::Script::ProductDescription& ProductData() const = 0;
  virtual const CommonTools::Script::CommonInfo& CommonData() const = 0;
  // The package archive; null before one is open.
  virtual DataStorage::IDataStorage* Storage() const = 0;
  // The user's choices; null before the script is loaded.
  virtual InstallManager::CUserSettings* Settings() const = 0;
  virtual const CommonTools::CLibraries& Components() const = 0;
  // The Windows folder that holds the uninstaller and the program's own path (Windows form).
  virtual std::wstring WindowsFolder() const = 0;
  virtual std::wstring ProgramPath() const = 0;

  // ---- progress ----
  virtual InstallGui::IProgressDisplay& Progress() = 0;

  // ---- the record of installed products ----
  virtual std::wstring RecordPath() = 0;
  // The folder recorded for this run's product; false when it is not recorded.
  virtual bool RecordedFolder(std::wstring& folder) = 0;
  // This run's product recorded as installed with `type` in `folder`, with the run's language.
  virtual void RecordProduct(int type, const std::wstring& folder) = 0;
  virtual void ForgetProduct() = 0;
  virtual bool SaveRecord(const std::wstring& path) = 0;

  // ---- the guard ----
  virtual StepGuard& Guard() = 0;
  // The product folder of a step called with `basePath` made the guard's (nothing new when the
  // guard has that folder); false, with its level-0 line and result 13, when it is refused.
  virtual bool GuardFor(const std::wstring& basePath, const wchar_t* who) = 0;

  // ---- scheduling ----
  virtual ScheduledEntries& Scheduled() = 0;

  // ---- the run's other parts a step hands on to ----
  // The script's page `name` made, loaded and shown modally; the button that closed it.
  virtual InstallGui::PageButton ShowPage(const std::wstring& name) = 0;
  // The steps of the script's ADDITIONAL node.
  virtual bool ProcessAdditional(const SettingsNodePtr& root, const std::wstring& basePath,
                                 bool remove) = 0;

  // ---- the result ----
  virtual int RunResult() const = 0;
  // What the steps report: 13 (a file stayed) or 15 (a folder stayed, restart needed).
  virtual void SetResult(int result) = 0;
};

// One kind of step. The node is the one the dispatcher hands over (the child, or for the
// registry and shortcut steps the container holding it).
class IStep {
 public:
  explicit IStep(StepContext& context) : m_ctx(context) {}
  virtual ~IStep() = default;
  // The node's effect put on the machine, or scheduled for later (folders and files).
  virtual void Install(const SettingsNodePtr& node, const std::wstring& basePath) = 0;
  // The node's effect taken away: in a removal, and in the roll-back of a cut-short
  // installation (the guard then lets go only what this run made).
  virtual void Remove(const SettingsNodePtr& node, const std::wstring& basePath) = 0;
  void Apply(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) {
    if (remove)
      Remove(node, basePath);
    else
      Install(node, basePath);
  }

 protected:
  StepContext& m_ctx;
};

// A step whose installation and removal are one walk of its node with the removal flag.
class FlaggedStep : public IStep {
 public:
  using IStep::IStep;
  void Install(const SettingsNodePtr& node, const std::wstring& basePath) final {
    Run(node, false, basePath);
  }
  void Remove(const SettingsNodePtr& node, const std::wstring& basePath) final {
    Run(node, true, basePath);
  }

 protected:
  virtual void Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) = 0;
};

}  // namespace InstallSteps
