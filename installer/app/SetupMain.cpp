// The installer program. One application object runs one install manager from inside the event
// loop and ends the process after the run. With an answer file (TOLMERA_ANSWERS) every answer
// comes from the file and the program needs no display: it runs as a console application. An
// answer file that asks for screenshots ([screenshots] folder, or TOLMERA_SCREENSHOTS) shows the
// real windows instead, answers them from the file and saves a PNG of each.
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

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace InstallManager;

std::wstring g_commandLine;

// The answer file named by TOLMERA_ANSWERS, or none.
std::shared_ptr<InstallGui::ScriptedBackend> LoadAnswers() {
  const char* answers = std::getenv("TOLMERA_ANSWERS");
  if (!answers || !*answers) return nullptr;
  return InstallGui::ScriptedBackend::FromFile(answers);
}

void Report(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// The application object's start, shared by the console and the GUI forms. Returns false when
// no run is to be made (a second copy, a machine that cannot be opened).
class SetupRun {
 public:
  // `windows` shows the real windows (driven by the answer file when there is one).
  bool Start(bool windows) {
    try {
      auto answers = LoadAnswers();
      // Single copy per machine: the second one brings the first forward and ends silently.
      m_guard = std::make_unique<SingleCopyGuard>(platform::Machine::Current().StateDir());
      if (!m_guard->IsFirst()) {
        m_guard->NotifyFirst();
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
      return true;
    } catch (const std::exception& e) {
      Report(std::string("Setup: ") + e.what());
      return false;
    }
  }

  // The run itself; called from inside the event loop.
  void Execute(CInstallManager::Hooks hooks) {
    try {
      m_manager.GetHooks().wait = hooks.wait;
      int result = m_manager.Run(m_commandLine.archivePath, m_commandLine.admin);
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
      if (auto* ui = m_run.Windows(); ui && ui->MainWindow()) {
        ui->MainWindow()->Iconize(false);
        ui->MainWindow()->Raise();
      }
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
  bool scripted = false;
  try {
    auto answers = LoadAnswers();
    scripted = answers && answers->ScreenshotFolder().empty();
  } catch (const std::exception& e) {
    Report(std::string("Setup: ") + e.what());
    return 0;
  }
  wxApp::SetInstance(scripted ? static_cast<wxAppConsole*>(new ConsoleSetupApp) : new GuiSetupApp);
  // wx sees no arguments: the command line belongs to the installer.
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  wxEntry(wxArgc, wxArgv);
  // The process exit code carries no result.
  return 0;
}
