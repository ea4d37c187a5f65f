// Programs run during an installation: the Exec step, the redistributables the product needs and
// the start of a program that the installer waits for with its window alive.
#include "steps/ExecSteps.h"

#include "app/Tools.h"
#include "package/ScriptVocabulary.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Text.h"
#include "steps/FileUtilities.h"
#include "steps/StepGuard.h"

#include <vector>

namespace InstallSteps {

using namespace InstallManager;

using CommonTools::SettingsNodePtr;
namespace Attribute = ScriptNames::Attribute;
namespace Element = ScriptNames::Element;

namespace {

constexpr const wchar_t* kUninstallKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr platform::DWORD kWaitSlice = 500;  // ms between two looks at the window
constexpr std::uint64_t kWaitRange = 50;

// "y" in either case, and nothing else, asks for the wait.
bool WaitRequested(const std::wstring& value) { return value == L"y" || value == L"Y"; }

// The current directory comes back however the wait ends (the run may be cancelled from the
// window while the program runs).
class CurrentDirectoryGuard {
 public:
  CurrentDirectoryGuard() : m_saved(platform::GetCurrentDirectoryW()) {}
  ~CurrentDirectoryGuard() { platform::SetCurrentDirectoryW(m_saved); }
  CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
  CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;

 private:
  std::wstring m_saved;
};

// The bar shown while a hidden program is waited for, reset and hidden on every way out.
class WaitProgress {
 public:
  explicit WaitProgress(bool shown) : m_shown(shown) {
    if (!m_shown) return;
    auto& window = GetGuiTools().MainWindow();
    window.SetProgressRange(kWaitRange);
    window.BeginProgress(0, true);
  }
  ~WaitProgress() {
    if (!m_shown) return;
    auto& window = GetGuiTools().MainWindow();
    window.SetProgressRange(0);
    window.EndProgress();
  }
  WaitProgress(const WaitProgress&) = delete;
  WaitProgress& operator=(const WaitProgress&) = delete;
  void Step() {
    if (m_shown) GetGuiTools().MainWindow().StepProgress(1);
  }

 private:
  bool m_shown;
};

void PumpWindow() {
  if (auto* state = dynamic_cast<InstallGui::CProgressState*>(&GetGuiTools().MainWindow()))
    state->PumpMessages();
}

}  // namespace

std::wstring ExecStep::ProgramOfNode(const SettingsNodePtr& node) {
  std::wstring path = m_ctx.ReadAttribute(node, Attribute::kPath, L"", true);
  if (path.empty()) {
    std::wstring key = m_ctx.ReadAttribute(node, Attribute::kMsgKey, L"", false);
    if (!key.empty()) path = GetGuiTools().GetMessage(key);
  }
  return path;
}

void ExecStep::Run(const SettingsNodePtr& node, bool remove, const std::wstring&) {
  Log(LogLevel::Info, L"CommonStepExec: Start");
  try {
    if (m_ctx.IsIgnored(node)) {
      Log(LogLevel::Info, L"CommonStepExec: Ignore");
      return;
    }
    if (remove) {
      // Programs run only when installing.
      Log(LogLevel::Info, L"CommonStepExec: Finish for remove");
      return;
    }
    const std::wstring path = ProgramOfNode(node);
    if (path.empty()) {
      Log(LogLevel::Info, L"CommonStepExec: File path is empty");
      return;
    }
    Log(LogLevel::Info, L"CommonStepExec: exec path = %s", path);
    const std::wstring arguments = m_ctx.ReadAttribute(node, Attribute::kCmdArguments, L"", false);
    const std::wstring showText = m_ctx.ReadAttribute(node, Attribute::kShowWindow, L"Y", false);
    const bool show = !showText.empty() && (showText[0] == L'Y' || showText[0] == L'y');
    Log(LogLevel::Info, L"CommonStepExec: File = %s Arg = %s ShowWnd = %s", path, arguments,
        showText);

    std::wstring file = path;
    if (!IsFileExists(path) && m_ctx.Settings()) {
      std::wstring base = m_ctx.Settings()->GetText(Attribute::kProjectPath);
      if (base.empty()) base = m_ctx.Settings()->GetText(Attribute::kTolmeraPath);
      if (!base.empty()) file = CombinePath(base, path);
    }
    Log(LogLevel::Info, L"CommonStepExec: File = %s", file);
    if (!IsFileExists(file)) {
      std::wstring extracted;
      if (!m_ctx.Storage() || !m_ctx.Storage()->ExtractFile(L"", path, extracted)) {
        Log(LogLevel::Warning, L"File %s is not found in scenario", path);
        return;
      }
      file = extracted;
      Log(LogLevel::Info, L"CommonStepExec: Extract File = %s", file);
    }
    if (!IsFileExists(file)) {
      Log(LogLevel::Warning, L"File %s is not found", file);
      return;
    }
    Log(LogLevel::Info, L"CommonStepExec: File = %s exists", file);
    if (!m_ctx.AskUser(node)) return;
    Log(LogLevel::Info, L"CommonStepExec: after Ask");
    const bool wait = WaitRequested(m_ctx.ReadAttribute(node, Attribute::kWait, L"", false));
    if (!Start(file, arguments, show, wait)) {
      const std::wstring text = GetGuiTools().GetMessage(Attribute::kExecCmdError);
      std::wstring line = text, why;
      const platform::FormatArg args[] = {platform::FormatArg(file),
                                          platform::FormatArg(arguments)};
      if (platform::TryFormat(text, args, line, &why) != platform::ERROR_SUCCESS) {
        Log(LogLevel::Warning,
            L"The message %s does not fit its argument (%s) and is shown as it stands",
            std::wstring(Attribute::kExecCmdError), why);
        line = text;
      }
      Log(LogLevel::Error, L"%s",
          line.empty() ? L"CommonStepExec: " + file + L" " + arguments : line);
    }
    Log(LogLevel::Info, L"CommonStepExec: Finish");
  } catch (const CommonTools::SettingsError&) {
    Log(LogLevel::Info, L"CommonStepExec: catch error");
    Log(LogLevel::Info, L"CommonStepExec: Finish");
  }
}

bool ExecStep::Start(const std::wstring& file, const std::wstring& arguments, bool show,
                     bool wait) {
  // A relative name is taken from where the run stands before its folder becomes current.
  // A bare name (msiexec.exe) is left to the program search.
  std::wstring program = file;
  std::wstring full;
  if (file.find_first_of(L"\\/:") != std::wstring::npos &&
      platform::GetFullPathNameW(file, full) == platform::ERROR_SUCCESS)
    program = full;
  CurrentDirectoryGuard currentDirectory;
  std::wstring folder = program;
  platform::PathRemoveFileSpecW(folder);
  if (!folder.empty()) platform::SetCurrentDirectoryW(folder);

  // The line is as long as it needs to be: a long path or argument list is never cut.
  const std::wstring line = L"\"" + program + L"\" " + arguments;
  platform::StartupInfo startup;
  startup.showWindow = show ? platform::SW_SHOW : platform::SW_HIDE;

  WaitProgress progress(!show && wait);
  Log(LogLevel::Info, L"CallExecProcess: %s", line);
  platform::ProcessHandle process;
  // Only a program of the machine starts, never one of the host's folders.
  const platform::DWORD status = StepGuard::StartProgram(program, line, startup, process);
  if (status != platform::ERROR_SUCCESS) {
    Log(LogLevel::Info, L"CreateProcess failed (%d)\n", static_cast<int>(status));
    Log(LogLevel::Warning, L"CallExecProcess: process returned error");
    return false;
  }
  if (wait) {
    Log(LogLevel::Info, L"CallExecProcess: wait process");
    while (platform::WaitForSingleObject(process, kWaitSlice) == platform::WAIT_TIMEOUT) {
      progress.Step();
      PumpWindow();
    }
  }
  platform::CloseHandle(process);
  return true;
}

void ExecStep::Redistributables(const SettingsNodePtr& root, bool remove) {
  if (remove || !root) return;
  Log(LogLevel::Info, L"ProcessRedist: Start");
  CommonTools::SettingsNodeListPtr children;
  if (!root->GetChildren(children) || !children) return;
  // The REDIST nodes as they stand now; each one carried out leaves the tree, so that a later
  // save of the script no longer holds it. An ignored one stays and the next is looked at.
  std::vector<SettingsNodePtr> redists;
  for (int i = 0; i < children->GetCount(); ++i) {
    SettingsNodePtr child;
    if (children->GetItem(i, child) && child &&
        platform::EqualsNoCase(child->GetName(), Element::kRedist))
      redists.push_back(child);
  }
  for (const auto& r : redists) {
    try {
      if (m_ctx.IsIgnored(r)) {
        Log(LogLevel::Info, L"ProcessRedist: Ignore");
        continue;
      }
      const std::wstring key =
          kUninstallKey + m_ctx.ReadAttribute(r, Attribute::kRegKey, L"", false);
      Log(LogLevel::Info, L"ProcessRedist: Regkey = %s", key);
      platform::RegKey installed;
      if (installed.Open(platform::HKEY_LOCAL_MACHINE, key,
                         platform::KEY_READ | platform::KEY_WRITE) == platform::ERROR_SUCCESS) {
        Log(LogLevel::Warning, L"ProcessRedist: VCRedist has been installed");
      } else {
        Log(LogLevel::Info, L"ProcessRedist: Regkey = %s IS NOT FOUND: need to install redist",
            key);
        const std::wstring path = m_ctx.ReadAttribute(r, Attribute::kPath, L"", true);
        const std::wstring arguments = m_ctx.ReadAttribute(r, Attribute::kCmdArguments, L"", false);
        const std::wstring waitText = m_ctx.ReadAttribute(r, Attribute::kWait, L"", false);
        Log(LogLevel::Info, L"ProcessRedist: File = %s Arg = %s Wait = %s", path, arguments,
            waitText);
        std::wstring extracted;
        if (path.empty() || !m_ctx.Storage() ||
            !m_ctx.Storage()->ExtractFile(L"", path, extracted)) {
          Log(LogLevel::Warning, L"ProcessRedist: File = %s IS NOT FOUND", path);
        } else {
          ShowStage(ScriptNames::Stage::kInstallRedist);
          Log(LogLevel::Warning, L"ProcessRedist: Call %s %s", path, arguments);
          Start(extracted, arguments, false, WaitRequested(waitText));
        }
      }
    } catch (const CommonTools::SettingsError&) {
      Log(LogLevel::Warning, L"ProcessRedist: a REDIST node could not be read");
    }
    root->RemoveChild(r);
  }
  Log(LogLevel::Info, L"ProcessRedist: Finish");
}

}  // namespace InstallSteps
