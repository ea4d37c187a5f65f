// The window of a wizard page: the page template every page shares (the top and left banner
// strips, the white content area, an etched line and the Back, Next and Cancel buttons), its
// texts from the language, and the page's presenter behind it: the buttons only ask the
// presenter (IPage::Press), which keeps or drops the page's choices.
//
// A page's own window derives from it and puts its controls into Content(); a presenter
// without a window of its own is shown with its text and one line per value.
#pragma once

#include "gui/Localizer.h"
#include "gui/MainWindowModel.h"
#include "gui/UiBackend.h"
#include "gui/pages/BannerModel.h"
#include "gui/pages/BasePage.h"

#include <wx/dialog.h>

#include <exception>
#include <functional>
#include <map>

class wxPanel;
class wxScrolledWindow;
class wxButton;
class wxTextCtrl;
class wxChoice;

namespace CommonTools {
class ILanguages;
class IGraphics;
}  // namespace CommonTools

namespace InstallGui {

class CBanner;

// What a page's window draws on.
struct PageViewContext {
  CommonTools::ILanguages* languages = nullptr;
  CommonTools::IGraphics* graphics = nullptr;
  // The part of a person's display the wizard uses (screen coordinates): the page is centred in
  // it and made to fit. Empty: the page is centred on its owner as it is (runs from a file).
  PixelRect screen;
};

class CBaseDialog : public wxDialog, public ILocalizedWindow {
 public:
  // A page shown with its text and one line per value.
  CBaseDialog(wxWindow* parent, IPage& page, const PageViewContext& context);
  ~CBaseDialog() override;

  // The window of the page's own kind (its view), made and set up; the generic page for a
  // presenter without one.
  static CBaseDialog* Make(wxWindow* parent, IPage& page, const PageViewContext& context);

  // The button that left the page (Cancel until one did).
  PageButton LeftWith() const { return m_button; }
  // Leaves the page with `button` as its press would, when the presenter agrees.
  void Press(PageButton button);
  // Ends the page with a button already pressed on the presenter (an answer file's).
  void EndWith(PageButton button);
  // Ends the page because its handling failed; the error is raised again by RethrowIfFailed
  // once the page's event loop is left (no exception crosses an event handler).
  void EndWithError(std::exception_ptr error);
  void RethrowIfFailed();

  // ILocalizedWindow over the page's controls.
  void SetTitle(const std::wstring& text) override { wxDialog::SetTitle(text); }
  bool HasControl(int controlId) override { return m_controls.count(controlId) > 0; }
  void SetControlText(int controlId, const std::wstring& text) override;

  // Centres the page in `screen`; a page larger than it gets a window that fits, its contents
  // scrolling above the buttons, which stay in view at the right.
  void FitToScreen(const PixelRect& screen);
  // Once the page is shown: placed again when the window manager's frame made it too large.
  void Settled();
  // The focus goes to the default button (Next), or the first control while Next is disabled.
  void FocusDefault();
  // The part of a person's display the page was fitted to (empty: none).
  const PixelRect& Screen() const { return m_screen; }
  // Whether the page's contents scroll (the screen is smaller than the page).
  bool Scrolls() const { return m_scrolls; }
  // The page's size as drawn (client pixels), whatever window it has.
  wxSize PageSize() const { return m_pageSize; }

  IPage& Page() { return m_page; }
  wxWindow* Control(int controlId) const;
  const std::map<int, wxWindow*>& Controls() const { return m_controls; }
  size_t BannerCount() const { return m_banners.size(); }
  const CBanner* BannerAt(size_t i) const { return m_banners[i]; }

 protected:
  // For a page's own view: the template only; the view adds its controls, then calls
  // FinishInit.
  struct OwnBody {};
  CBaseDialog(wxWindow* parent, IPage& page, const PageViewContext& context, OwnBody);
  // Sets the page up (its texts, switches and state), localises the window and shows the
  // page's state (ApplyPageState, ShowPage).
  void FinishInit();
  // The presenter's hidden and disabled controls, and the Next button it allows.
  void ApplyPageState();
  // Fills the page's own controls from the presenter (after set-up and after a change).
  virtual void ShowPage() {}
  // Localises the window again (after a change of language).
  void LocalizeAgain();
  const PageViewContext& Context() const { return m_context; }
  // The white area for the page's own controls.
  wxPanel* Content() { return m_content; }
  void AddControl(int controlId, wxWindow* window) { m_controls[controlId] = window; }
  // Copies what the person entered into the presenter (before a button is pressed).
  virtual void TransferToPage();

 private:
  void BuildFrame(int heightDialogUnits);
  void BuildGenericBody();
  void AddBanner(wxWindow* placeholder, BannerPosition position);

  IPage& m_page;
  PageViewContext m_context;
  PageButton m_button = PageButton::Cancel;
  std::exception_ptr m_error;
  wxPanel* m_content = nullptr;
  wxScrolledWindow* m_body = nullptr;
  wxPanel* m_buttons = nullptr;
  std::vector<std::pair<wxWindow*, wxPoint>> m_buttonPlaces;
  wxSize m_pageSize;
  PixelRect m_screen;
  bool m_scrolls = false;
  std::map<int, wxWindow*> m_controls;
  std::vector<CBanner*> m_banners;
  std::map<std::wstring, wxTextCtrl*> m_edits;
  std::map<std::wstring, wxChoice*> m_choices;
};

}  // namespace InstallGui
