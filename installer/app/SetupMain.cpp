// The installer program. One application object runs one install manager from inside the event
// loop and ends the process after the run. With an answer file (TOLMERA_ANSWERS) every answer
// comes from the file and the program needs no display: it runs as a console application.
#include "app/CommandLine.h"
#include "app/Restart.h"
#include "app/SingleCopy.h"
#include "app/Tools.h"
#include "gui/ScriptedBackend.h"
#include "gui/WxBackend.h"
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

void Report(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

// The application object's start, shared by the console and the GUI forms. Returns false when
// no run is to be made (a second copy, a machine that cannot be opened).
class SetupRun {
 public:
  bool Start(bool scripted) {
    try {
      // Single copy per machine: the second one brings the first forward and ends silently.
      m_guard = std::make_unique<SingleCopyGuard>(platform::Machine::Current().StateDir());
      if (!m_guard->IsFirst()) {
        m_guard->NotifyFirst();
        return false;
      }
      if (scripted) {
        std::shared_ptr<InstallGui::ScriptedBackend> backend =
            InstallGui::ScriptedBackend::FromFile(std::getenv("TOLMERA_ANSWERS"));
        GetGuiTools().SetUiBackend(backend);
        GetGuiTools().SetMainWindow(backend->MakeMainWindow());
      } else
        GetGuiTools().SetUiBackend(std::make_shared<InstallGui::WxBackend>());
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
      m_manager.GetHooks().createMainWindow = hooks.createMainWindow;
      m_manager.GetHooks().wait = hooks.wait;
      int result = m_manager.Run(m_commandLine.archivePath, m_commandLine.admin);
      Log(LogLevel::Info, L"TOLMERAInstall Finish");
      if (result == irDeleteFolder) RestartWindows(EWX_REBOOT);
    } catch (const std::exception& e) {
      Report(std::string("Setup: ") + e.what());
    } catch (...) {
      Report("Setup: unexpected error");
    }
  }

 private:
  std::unique_ptr<SingleCopyGuard> m_guard;
  CommandLine m_commandLine;
  CInstallManager m_manager;
};

class ConsoleSetupApp : public wxAppConsole {
 public:
  bool OnInit() override {
    SetAppName("TOLMERAInstall");
    if (!m_run.Start(true)) return false;
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
    if (!m_run.Start(false)) return false;
    // A second copy's request brings the window forward.
    m_timer = std::make_unique<wxTimer>();
    m_timer->Bind(wxEVT_TIMER, [this](wxTimerEvent&) {
      if (SingleCopyGuard::TakeRaiseRequest() && m_frame) {
        m_frame->Iconize(false);
        m_frame->Raise();
      }
    });
    m_timer->Start(200);
    CallAfter([this] {
      CInstallManager::Hooks hooks;
      hooks.createMainWindow = [this](const std::wstring&, const std::wstring& iconPath) {
        // The background window in its least form: a frame named after the program.
        if (!m_frame) {
          m_frame = new wxFrame(nullptr, wxID_ANY, "TOLMERAInstall");
          SetTopWindow(m_frame);
          m_frame->Show();
        }
      };
      hooks.wait = [](int ms) {
        for (int waited = 0; waited < ms; waited += 20) {
          wxMilliSleep(20);
          wxTheApp->Yield(true);
        }
      };
      m_run.Execute(hooks);
      m_timer->Stop();
      if (m_frame) m_frame->Destroy();
      ExitMainLoop();
    });
    return true;
  }

 private:
  SetupRun m_run;
  std::unique_ptr<wxTimer> m_timer;
  wxFrame* m_frame = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(platform::FromUtf8(argv[i]));
  g_commandLine = BuildCommandLine(args);

  const char* answers = std::getenv("TOLMERA_ANSWERS");
  bool scripted = answers && *answers;
  wxApp::SetInstance(scripted ? static_cast<wxAppConsole*>(new ConsoleSetupApp) : new GuiSetupApp);
  // wx sees no arguments: the command line belongs to the installer.
  int wxArgc = 1;
  char* wxArgv[] = {argv[0], nullptr};
  wxEntry(wxArgc, wxArgv);
  // The process exit code carries no result.
  return 0;
}
