// The two process-wide tool objects. Both are created on first use and destroyed at process
// exit; a use after that raises ToolsGone.
//  - CInstallTools: the run log and the install script's settings tree.
//  - CGuiTools: the languages, the graphics, the user-interface back-end and the script's
//    messages with their message boxes.
#pragma once

#include "app/RunLog.h"
#include "gui/Graphics.h"
#include "gui/Languages.h"
#include "gui/ProgressDisplay.h"
#include "gui/UiBackend.h"
#include "package/XmlSettings.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace InstallManager {

class ToolsGone : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class CInstallTools {
 public:
  CInstallTools();
  ~CInstallTools();
  CRunLog& Log() { return *m_log; }
  CommonTools::CXmlSettings& Script() { return *m_script; }
  // The script's root element, if the script is loaded.
  bool GetScriptRoot(CommonTools::SettingsNodePtr& root) { return m_script->GetRoot(root); }
  // A fresh log and an empty script tree, as at process start (for a run that starts over in
  // the same process, as tests do); the package's log and current-file sinks lead here again.
  void Reset();

 private:
  void ConnectSinks();
  std::unique_ptr<CRunLog> m_log;
  std::unique_ptr<CommonTools::CXmlSettings> m_script;
};

class CGuiTools {
 public:
  CGuiTools();
  CommonTools::ILanguages& Languages() { return *m_languages; }
  CommonTools::IGraphics& Graphics() { return *m_graphics; }

  // The back-end every question goes through. Until one is set, questions other than a plain
  // OK box raise InstallGui::UnansweredQuestion (nothing can answer them).
  void SetUiBackend(std::shared_ptr<InstallGui::IUiBackend> backend) { m_ui = std::move(backend); }
  InstallGui::IUiBackend* UiBackend() { return m_ui.get(); }
  // The main window's progress display. Until one is set (and after Reset) the run reports to
  // a silent one, so the steps never ask whether a window exists.
  void SetMainWindow(std::shared_ptr<InstallGui::IProgressDisplay> window) {
    m_mainWindow = std::move(window);
  }
  InstallGui::IProgressDisplay& MainWindow();
  bool HasMainWindow() const { return m_mainWindow != nullptr; }
  // Languages and graphics emptied and the first language current, as at process start.
  void Reset();

  // The text of message `id` in the current language ("\n" pairs become line breaks), or ""
  // (logged as a warning) when the script has none.
  std::wstring GetMessage(const std::wstring& id);
  // A message box with `text` and the caption "MsgCaption" (default "Ondravel Installer").
  int ShowText(const std::wstring& text, unsigned style);
  // ShowText of message `id`, or of the ID itself when the script has none.
  int ShowMessage(const std::wstring& id, unsigned style);

  // The same box, naming the message ID for back-ends that answer by ID.
  int ShowBox(const std::wstring& id, const std::wstring& text, unsigned style);

 private:
  std::unique_ptr<CommonTools::ILanguages> m_languages;
  std::unique_ptr<CommonTools::IGraphics> m_graphics;
  std::shared_ptr<InstallGui::IUiBackend> m_ui;
  std::shared_ptr<InstallGui::IProgressDisplay> m_mainWindow;
  InstallGui::CProgressState m_silentWindow;
};

// The accessors. Both create their object on first use; after process exit began they raise
// ToolsGone.
CInstallTools& GetInstallTools();
CGuiTools& GetGuiTools();

// The text of stage `id` ("TEXT_INSTALL", ...) in the current language; empty when it has none.
std::wstring StageText(const wchar_t* id);
// The main window's stage line set to stage `id` (nullptr or "": none).
void ShowStage(const wchar_t* id);

// Every layer logs with the one Log of package/LogSink.h; the run log of the tools is where its
// lines go.
using CommonTools::Log;

}  // namespace InstallManager
