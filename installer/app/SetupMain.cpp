// The installer program. One application object runs one install manager from inside the event
// loop and ends the process after the run. With an answer file (TOLMERA_ANSWERS) every answer
// comes from the file and the program needs no display: it runs as a console application. An
// answer file that asks for screenshots ([screenshots] folder, or TOLMERA_SCREENSHOTS) shows the
// real windows instead, answers them from the file and saves a PNG of each.
//
// Exit status: with an answer file it is the run's result (installer/gui/ANSWERS.md), so that
// scripts can tell; without one it is 0, as the installer has always ended. Setup that cannot
// start at all (no display for its windows, the single-copy lock unusable, an answer file that
// cannot be read) says why in one line and exits with kExitNotStarted.
#include "app/CommandLine.h"
#include "app/Restart.h"
#include "app/SingleCopy.h"
#include "app/Tools.h"
#include "gui/ScriptedBackend.h"
#include "gui/WxBackend.h"
#include "gui/wx/DlgMain.h"
#include "manager/InstallManager.h"
#include "platform/Machine.h"
#include "platform/Text.h"

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/timer.h>
#include <wx/utils.h>

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace InstallManager;

std::wstring g_commandLine;

// The exit codes that are no run's result.
constexpr int kExitSecondCopy = 17;  // another copy runs on this machine (with an answer file)
constexpr int kExitNotStarted = 18;  // Setup could not start a run
// The process's exit status, set by the run.
int g_exitCode = 0;

// The answer file named by TOLMERA_ANSWERS, or none.
std::shared_ptr<InstallGui::ScriptedBackend> LoadAnswers() {
  const char* answers = std::getenv("TOLMERA_ANSWERS");
  if (!answers || !*answers) return nullptr;
  return InstallGui::ScriptedBackend::FromFile(answers);
}

void Report(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// Whether the toolkit can show windows: an X display that answers, or a Wayland session that
// the toolkit is allowed to use. The probe's connection stays open until the toolkit has its
// own: an X server whose last client leaves resets itself, and a toolkit connecting meanwhile
// would find no display.
class DisplayProbe {
 public:
  ~DisplayProbe() {
    if (m_display) XCloseDisplay(m_display);
  }
  bool HasDisplay() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* backend = std::getenv("GDK_BACKEND");
    if (wayland && *wayland && !(backend && std::string(backend) == "x11")) return true;
    const char* x = std::getenv("DISPLAY");
    if (!x || !*x) return false;
    if (!m_display) m_display = XOpenDisplay(nullptr);
    return m_display != nullptr;
  }

 private:
  Display* m_display = nullptr;
};

// The application object's start, shared by the console and the GUI forms. Returns false when
// no run is to be made (a second copy, a machine that cannot be opened).
class SetupRun {
 public:
  // `windows` shows the real windows (driven by the answer file when there is one).
  bool Start(bool windows) {
    try {
      // The run log takes every line from the first on (the tools connect it to the layers'
      // Log when they are made).
      GetInstallTools();
      auto answers = LoadAnswers();
      m_answered = answers != nullptr;
      // Single copy per machine: the second one brings the first forward and ends silently
      // (with an answer file its exit status says it was turned away). A lock that cannot be
      // taken lets no copy run.
      m_guard = std::make_unique<SingleCopyGuard>(platform::Machine::Current().StateDir());
      if (m_guard->Failed()) {
        Report("Setup: " + m_guard->Error() + "; Setup does not run");
        g_exitCode = kExitNotStarted;
        return false;
      }
      if (!m_guard->IsFirst()) {
        m_guard->NotifyFirst();
        g_exitCode = m_answered ? kExitSecondCopy : 0;
        return false;
      }
      if (!windows) {
        GetGuiTools().SetUiBackend(answers);
        // The main window of an unattended run shows nothing; it presses Escape where the
        // answer file says.
        GetGuiTools().SetMainWindow(answers->MakeMainWindow());
      } else {
        std::string folder = answers ? answers->ScreenshotFolder() : std::string();
        m_wx = answers ? std::make_shared<InstallGui::WxBackend>(answers, folder)
                       : std::make_shared<InstallGui::WxBackend>();
        GetGuiTools().SetUiBackend(m_wx);
      }
      m_commandLine = PrepareCommandLine(g_commandLine);
      g_exitCode = 0;
      return true;
    } catch (const std::exception& e) {
      Report(std::string("Setup: ") + e.what());
      g_exitCode = kExitNotStarted;
      return false;
    }
  }

  // The run itself; called from inside the event loop.
  void Execute(CInstallManager::Hooks hooks) {
    try {
      m_manager.GetHooks().wait = hooks.wait;
      // Until the run returns, an end by an error is an error of the installation.
      if (m_answered) g_exitCode = irErrorDuringInstall;
      int result = m_manager.Run(m_commandLine.archivePath, m_commandLine.admin);
      if (m_answered) g_exitCode = result;
      Log(LogLevel::Info, L"TOLMERAInstall Finish");
      if (m_wx) m_wx->DestroyMainWindow();
      if (result == irDeleteFolder) RestartWindows(EWX_REBOOT);
    } catch (const std::exception& e) {
      Report(std::string("Setup: ") + e.what());
    } catch (...) {
      Report("Setup: unexpected error");
    }
  }

  InstallGui::WxBackend* Windows() { return m_wx.get(); }

 private:
  std::shared_ptr<InstallGui::WxBackend> m_wx;
  std::unique_ptr<SingleCopyGuard> m_guard;
  bool m_answered = false;  // the answers come from a file
  CommandLine m_commandLine;
  CInstallManager m_manager;
};

class ConsoleSetupApp : public wxAppConsole {
 public:
  bool OnInit() override {
    SetAppName("TOLMERAInstall");
    if (!m_run.Start(false)) return false;
    CallAfter([this] {
      m_run.Execute({});
      ExitMainLoop();
    });
    return true;
  }

 private:
  SetupRun m_run;
};

class GuiSetupApp : public wxApp {
 public:
  bool OnInit() override {
    SetAppName("TOLMERAInstall");
    if (!m_run.Start(true)) return false;
    // A second copy's request brings the window forward.
    m_timer = std::make_unique<wxTimer>();
    m_timer->Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
      if (!SingleCopyGuard::TakeRaiseRequest()) return;
      if (auto* ui = m_run.Windows()) ui->BringToFront();
    });
    m_timer->Start(200);
    CallAfter([this] {
      CInstallManager::Hooks hooks;
      hooks.wait = [](int ms) {
        for (int waited = 0; waited < ms; waited += 20) {
          wxMilliSleep(20);
          wxTheApp->Yield(true);
        }
      };
      m_run.Execute(hooks);
      m_timer->Stop();
      ExitMainLoop();
    });
    return true;
  }

 private:
  SetupRun m_run;
  std::unique_ptr<wxTimer> m_timer;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(platform::FromUtf8(argv[i]));
  g_commandLine = BuildCommandLine(args);

  // An answer file without screenshots needs no display.
  bool scripted = false, answered = false;
  try {
    auto answers = LoadAnswers();
    answered = answers != nullptr;
    scripted = answers && answers->ScreenshotFolder().empty();
  } catch (const std::exception& e) {
    Report(std::string("Setup: ") + e.what());
    return kExitNotStarted;
  }
  // Without a display the toolkit would abort inside its own start.
  DisplayProbe probe;
  if (!scripted && !probe.HasDisplay()) {
    Report("Setup: a display (DISPLAY) or an answer file (TOLMERA_ANSWERS) is needed");
    return kExitNotStarted;
  }
  // A person's windows: scroll bars that show (a page larger than the screen scrolls, and the
  // person must see that it does), unless the person's own settings say otherwise.
  if (!answered) setenv("GTK_OVERLAY_SCROLLING", "0", 0);
  // Until the application object has started, an end is a start that failed (the toolkit's).
  g_exitCode = kExitNotStarted;
  wxApp::SetInstance(scripted ? static_cast<wxAppConsole*>(new ConsoleSetupApp) : new GuiSetupApp);
  // wx sees no arguments: the command line belongs to the installer.
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  wxEntry(wxArgc, wxArgv);
  return g_exitCode;
}
