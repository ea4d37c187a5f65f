// The installer's message box: the caption (in the title bar, or at the box's top where no
// window manager draws a title bar) and text of the question, the icon of its kind
// (question, exclamation, error, information) and the buttons of its style in the platform's
// order, the first one default and focused. Return presses the focused button, Alt and the
// underlined letter a button of its own, and Escape (or the close box) answers Cancel where the
// box has a Cancel button and OK where OK is its only one; a Yes/No or Abort/Retry/Ignore
// question has to be answered with a button. It stays above its owner (a page, or the main
// window) and inside the wizard's screen.
#pragma once

#include "gui/MainWindowModel.h"
#include "gui/UiBackend.h"

#include <wx/dialog.h>

#include <vector>

class wxButton;
class wxStaticText;

namespace InstallGui {

// The buttons' texts of a box, with the letters Alt reaches underlined ("&Yes").
std::wstring MessageButtonText(int answer);
// The answer Escape gives a box of `style`, or 0 when Escape does nothing there.
int MessageEscapeAnswer(unsigned style);

class CMessageBox : public wxDialog {
 public:
  // `screen`: the part of the display the wizard uses (empty: where the owner is).
  CMessageBox(wxWindow* owner, const MessageRequest& request, const PixelRect& screen);

  // Shows the box until it is answered; IDOK, IDYES ... as the platform's MessageBoxW returns.
  int Ask();
  // The answer given (0 before one is).
  int Answer() const { return m_answer; }
  wxButton* ButtonFor(int answer) const;
  // The icon's kind: MB_ICONQUESTION, MB_ICONERROR ... or 0 for none.
  unsigned IconKind() const { return m_icon; }
  // The caption shown inside the box (a display without a window manager), or none.
  const wxStaticText* CaptionLine() const { return m_captionLine; }

 private:
  void Give(int answer);

  unsigned m_style;
  unsigned m_icon;
  int m_answer = 0;
  wxStaticText* m_captionLine = nullptr;
  std::vector<std::pair<int, wxButton*>> m_buttons;
};

}  // namespace InstallGui
