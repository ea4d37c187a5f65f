// The back-end for people: real wx message boxes, file dialogs, the wizard pages' windows and
// the main window. Needs a running wx GUI application.
//
// Driven by an answer file (for screenshots and smoke tests under a display), it shows the same
// windows, saves a PNG of each page as it is shown and of the main window at start and at each
// stage of progress, and takes every answer from the file as the scripted back-end does.
#pragma once

#include "gui/ScriptedBackend.h"
#include "gui/UiBackend.h"
#include "gui/wx/BaseDialog.h"

#include <memory>
#include <string>

namespace InstallGui {

class CDlgMain;

class WxBackend : public IUiBackend {
 public:
  WxBackend();
  // Shows the windows and takes the answers from `answers`; PNGs go into `screenshotFolder`
  // (a host folder, created; empty for none).
  WxBackend(std::shared_ptr<ScriptedBackend> answers, std::string screenshotFolder);
  ~WxBackend() override;

  int ShowMessageBox(const MessageRequest& request) override;
  std::optional<std::wstring> ShowFileDialog(const FileDialogRequest& request) override;
  PageButton RunPageModal(IPage& page) override;
  bool IsScripted() const override { return false; }
  std::shared_ptr<IProgressDisplay> CreateMainWindow(const MainWindowRequest& request) override;
  void LocalizeMainWindow() override;
  // The window goes (at the end of the run); its progress display stays and shows nothing.
  void DestroyMainWindow();

  CDlgMain* MainWindow() { return m_main; }
  // Brings the wizard forward (a second copy asked for it): the main window, then the pages
  // in front of it in their order, so that a page stays above the window behind it.
  void BringToFront();
  // The part of the display the wizard's windows use: on a person's display its work area (no
  // larger than the machine's screen); empty in a run answered from a file, whose windows are
  // placed for the machine's screen as its pictures show it.
  const PixelRect& Screen() const { return m_pageContext.screen; }
  // The PNG files saved so far (host paths), in order.
  const std::vector<std::string>& Screenshots() const { return m_shots; }
  // Saves a PNG of the window under the next number and `what`; logs where it went.
  void Screenshot(wxWindow* window, const std::wstring& what);

 private:
  class ProgressWatch;
  std::shared_ptr<ScriptedBackend> m_answers;
  std::string m_folder;
  std::vector<std::string> m_shots;
  PageViewContext m_pageContext;
  CDlgMain* m_main = nullptr;
  std::shared_ptr<ProgressWatch> m_watch;
  // The windows in front of the main window (pages, questions), innermost last: a question
  // belongs to the page that asks it.
  std::vector<wxWindow*> m_pages;
  wxWindow* Owner() const;
  const PixelRect& PersonsScreen();
};

// Converts the platform's filter ("Log-Files (*.log)|*.log|All Files (*.*)|*.*|") to wx's form
// (the same pairs without the final bar).
std::wstring WxFilterFromWindowsFilter(const std::wstring& filter);

// A file name part made of `text`: letters, digits, '-' and '_' kept, everything else '-',
// at most 60 characters.
std::string ScreenshotName(const std::wstring& text);

}  // namespace InstallGui
