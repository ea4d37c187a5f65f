#pragma once
// The window of the `morlane` program: the viewer's frame with a menu and a tool bar bound to
// its commands, keyboard shortcuts, and a dialog with the shaft data of the selection.
//
// Files named on the command line go through the same commands as the menu's: the command's
// file dialog is answered with the file instead of being shown.

#include "ui/MainFrame.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

class wxButton;
class wxDialog;
class wxTextCtrl;

namespace morlane {

// The commands of the menu and the tool bar.
enum CommandId : int {
  kCmdOpen = 6001,
  kCmdImport,
  kCmdExportLeft,
  kCmdExportRight,
  kCmdRecognize,
  kCmdRecognizeSelection,
  kCmdShaftData,
  kCmdGrid,
  kCmdAxes,
  kCmdExit,
  kCmdAbout,
};

// The shaft data of the selection as the dialog shows it: one block per shaft, one line per
// section with its grooves.
std::wstring DescribeShafts(const std::vector<qz_RecognizeShaft>& shafts);

class CMorlaneFrame : public CMainFrame {
 public:
  // The smallest size the window takes.
  static constexpr int kMinWidth = 320, kMinHeight = 240;

  CMorlaneFrame();
  ~CMorlaneFrame() override;

  // The window with its menu, tool bar and status line; false when the engine is missing.
  bool Create();

  // Opens a file as the menu would: a model file (.xml) into the left workspace, an exchange
  // file (STEP, IGES, STL) imported there. False for another extension.
  bool OpenFile(const std::wstring& path);
  // The same into the right workspace (the title and the frame's file stay as they are).
  bool OpenFileRight(const std::wstring& path);

  // Answers for the next file dialogs, in order; with dialogs turned off, a dialog without an
  // answer counts as cancelled (for unattended runs).
  void QueueFileAnswer(const std::wstring& path) { m_answers.push_back(path); }
  void SetDialogsEnabled(bool enabled) { m_bDialogs = enabled; }
  size_t GetPendingAnswers() const { return m_answers.size(); }
  // Messages go to the log of the frame as well as to the screen; without dialogs only there.
  const std::vector<std::wstring>& GetMessages() const { return m_messages; }
  void ShowMessage(const std::wstring& text) override;

  // Runs a command as the menu does.
  void RunCommand(int id);
  wxDialog* GetShaftDataDialog() const { return m_pShaftData; }
  wxString GetShaftDataText() const;

  // The menus, the tool bar, the status line and both workspaces in the language now selected.
  void UpdateTexts();
  // Without dialogs, the about dialog is handed here while it exists, instead of being shown.
  void SetAboutHandler(std::function<void(wxDialog&)> handler) {
    m_aboutShown = std::move(handler);
  }

 protected:
  std::wstring AskFileName(const FileDialogRequest& request) override;

 private:
  void BuildMenu();
  void BuildToolBar();
  void ShowShaftData();
  void ShowAbout();

  std::deque<std::wstring> m_answers;
  bool m_bDialogs = true;
  std::vector<std::wstring> m_messages;
  wxDialog* m_pShaftData = nullptr;
  wxTextCtrl* m_pShaftText = nullptr;
  wxButton* m_pShaftOk = nullptr;
  std::function<void(wxDialog&)> m_aboutShown;
  bool m_bGrid = true;
  bool m_bAxes = true;
};

}  // namespace morlane
