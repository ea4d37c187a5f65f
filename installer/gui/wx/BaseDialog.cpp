#include "gui/wx/BaseDialog.h"

#include "gui/Graphics.h"
#include "gui/Languages.h"
#include "gui/WindowPlacement.h"
#include "gui/wx/Banner.h"
#include "gui/wx/Screen.h"

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/panel.h>
#include <wx/scrolwin.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/settings.h>
#include <wx/textctrl.h>

#include <algorithm>

namespace InstallGui {

namespace {

// The page template in dialog units: the left strip, the top strip at the top right, the white
// area below it, the etched line and the buttons.
constexpr int kWidth = 434, kHeight = 215, kFinishHeight = 277;
constexpr int kLeftStripWidth = 100, kLeftStripHeight = 185;
constexpr int kTopStripWidth = 334, kTopStripHeight = 50;
constexpr int kLineY = 188, kButtonsY = 195, kButtonWidth = 50, kButtonHeight = 14;

}  // namespace

CBaseDialog::CBaseDialog(wxWindow* parent, IPage& page, const PageViewContext& context)
    : wxDialog(parent, wxID_ANY, page.GetTitle(), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      m_page(page),
      m_context(context) {
  BuildFrame(kHeight);
  BuildGenericBody();
  FinishInit();
}

CBaseDialog::CBaseDialog(wxWindow* parent, IPage& page, const PageViewContext& context, OwnBody)
    : wxDialog(parent, wxID_ANY, page.GetTitle(), wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      m_page(page),
      m_context(context) {
  auto* base = dynamic_cast<CBasePage*>(&page);
  // The finish page's template is taller.
  BuildFrame(base && base->GetPageKind() == PageKind::Finish ? kFinishHeight : kHeight);
}

void CBaseDialog::BuildFrame(int height) {
  auto du = [this](int x, int y) { return ConvertDialogToPixels(wxPoint(x, y)); };
  auto dus = [this](int w, int h) { return ConvertDialogToPixels(wxSize(w, h)); };
  const int lineY = height - (kHeight - kLineY), buttonsY = height - (kHeight - kButtonsY);
  const int stripHeight = height - (kHeight - kLeftStripHeight);
  m_pageSize = dus(kWidth, height);
  SetClientSize(m_pageSize);
  SetBackgroundColour(*wxWHITE);

  // The page above the buttons: it scrolls when the screen is too small for the page, while
  // the buttons below it stay in view.
  const wxSize bodySize(m_pageSize.x, du(0, lineY + 1).y);
  m_body = new wxScrolledWindow(this, wxID_ANY, wxPoint(0, 0), bodySize,
                                wxTAB_TRAVERSAL | wxBORDER_NONE | wxHSCROLL | wxVSCROLL);
  m_body->SetBackgroundColour(*wxWHITE);
  m_body->SetVirtualSize(bodySize);
  m_body->SetScrollRate(0, 0);
  auto* left = new wxPanel(m_body, kControlLeftBanner, du(0, 0), dus(kLeftStripWidth, stripHeight));
  auto* top = new wxPanel(m_body, kControlTopBanner, du(kLeftStripWidth, 0),
                          dus(kTopStripWidth, kTopStripHeight));
  left->SetBackgroundColour(*wxWHITE);
  top->SetBackgroundColour(*wxWHITE);
  m_content = new wxPanel(m_body, kControlContentArea, du(kLeftStripWidth + 7, kTopStripHeight + 6),
                          dus(kTopStripWidth - 14, stripHeight - kTopStripHeight - 10));
  m_content->SetBackgroundColour(*wxWHITE);
  new wxStaticLine(m_body, wxID_ANY, du(0, lineY), dus(kWidth, 1));
  // The row's height in dialog units as the template has it (rounded as the template rounds).
  m_buttons = new wxPanel(this, wxID_ANY, wxPoint(0, bodySize.y), dus(kWidth, height - lineY - 1));
  m_buttons->SetBackgroundColour(GetParent() ? GetParent()->GetBackgroundColour()
                                             : wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
  wxPoint offset(0, bodySize.y);
  auto place = [&](int id, const wxString& text, int x) {
    wxPoint p = du(x, buttonsY) - offset;
    auto* b = new wxButton(m_buttons, id, text, p, dus(kButtonWidth, kButtonHeight));
    AddControl(id, b);
    m_buttonPlaces.emplace_back(b, p);
    return b;
  };
  auto* base = dynamic_cast<CBasePage*>(&m_page);
  const bool finish = base && base->GetPageKind() == PageKind::Finish;
  // Alt and the underlined letter press a button; Cancel is Escape's.
  auto* back = place(kControlBack, "< &Back", kWidth - 3 * kButtonWidth - 14);
  // The last page's only button finishes the run.
  auto* next = place(kControlNext, finish ? "&Finish" : "&Next >",
                     kWidth - (finish ? 1 : 2) * kButtonWidth - (finish ? 7 : 14));
  auto* cancel = place(kControlCancel, "Cancel", kWidth - kButtonWidth - 7);
  next->SetDefault();
  SetDefaultItem(next);
  back->Show((!base || base->ShowsBack()) && !finish);
  cancel->Show(!finish);

  if (base && m_context.languages && m_context.graphics) {
    AddBanner(top, BannerPosition::Top);
    AddBanner(left, BannerPosition::Left);
  }
  // Without a left banner the content takes the page's whole width below the top strip.
  bool hasLeft = false;
  for (const CBanner* b : m_banners) hasLeft = hasLeft || b->GetParent() == left;
  if (!hasLeft) {
    left->Hide();
    m_content->SetSize(
        wxRect(du(7, kTopStripHeight + 6), dus(kWidth - 14, stripHeight - kTopStripHeight - 10)));
  }

  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { Press(PageButton::Back); }, kControlBack);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { Press(PageButton::Next); }, kControlNext);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { Press(PageButton::Cancel); }, kControlCancel);
  // Escape and the window's close box are the Cancel button.
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Press(PageButton::Cancel); });
  SetEscapeId(wxID_NONE);
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_ESCAPE)
      CallAfter([this] { Press(PageButton::Cancel); });
    else
      e.Skip();
  });
}

void CBaseDialog::FinishInit() {
  auto* base = dynamic_cast<CBasePage*>(&m_page);
  m_page.OnInit();
  if (base && m_context.languages) base->Localize(*m_context.languages, *this);
  int textControl = base ? base->TextControl() : kControlText;
  if (std::wstring message = m_page.MessageText(); !message.empty())
    SetControlText(textControl, message);
  ShowPage();
  ApplyPageState();
  m_content->Layout();
  if (m_context.screen.IsPositive())
    FitToScreen(m_context.screen);
  else
    CentreOnParent();
}

void CBaseDialog::FitToScreen(const PixelRect& screen) {
  const wxSize frame = WindowFrameSize(*this);
  const PagePlacement p = PlacePage(screen, m_pageSize.x, m_pageSize.y, frame.x, frame.y);
  const int buttonsHeight = m_buttons->GetSize().y;
  // The buttons' row keeps its height; what is left above it shows the page, scrolled.
  const int bodyHeight = std::max(p.clientHeight - buttonsHeight, 1);
  const bool scrolls = p.scrollX || p.scrollY;
  SetClientSize(p.clientWidth, p.clientHeight);
  m_body->SetSize(0, 0, p.clientWidth, bodyHeight);
  m_body->SetScrollRate(scrolls ? 10 : 0, scrolls ? 10 : 0);
  m_body->ShowScrollbars(scrolls ? wxSHOW_SB_DEFAULT : wxSHOW_SB_NEVER,
                         scrolls ? wxSHOW_SB_DEFAULT : wxSHOW_SB_NEVER);
  m_buttons->SetSize(0, bodyHeight, p.clientWidth, buttonsHeight);
  // The buttons keep their distance from the right edge, and never leave the left one.
  const int shift = m_pageSize.x - p.clientWidth;
  for (auto& [button, place] : m_buttonPlaces) button->Move(std::max(place.x - shift, 2), place.y);
  m_scrolls = scrolls;
  SetSize(p.window.left, p.window.top, wxDefaultCoord, wxDefaultCoord, wxSIZE_ALLOW_MINUS_ONE);
  m_screen = screen;
}

void CBaseDialog::FocusDefault() {
  auto* next = dynamic_cast<wxButton*>(Control(kControlNext));
  if (next && next->IsShown() && next->IsEnabled()) {
    next->SetFocus();
    return;
  }
  // A page whose Next waits for a choice starts on its first control.
  if (m_content) m_content->SetFocus();
}

void CBaseDialog::Settled() {
  if (!m_screen.IsPositive() || !IsShown()) return;
  // The window manager's frame is known now: the page is placed again when it did not fit.
  wxRect outer = GetScreenRect();
  const wxSize frame = WindowFrameSize(*this);
  outer.width = std::max(outer.width, GetClientSize().x + frame.x);
  outer.height = std::max(outer.height, GetClientSize().y + frame.y);
  if (outer.x < m_screen.left || outer.y < m_screen.top || outer.GetRight() >= m_screen.right ||
      outer.GetBottom() >= m_screen.bottom)
    FitToScreen(m_screen);
}

void CBaseDialog::LocalizeAgain() {
  auto* base = dynamic_cast<CBasePage*>(&m_page);
  if (base && m_context.languages) {
    base->OnInit();
    base->Localize(*m_context.languages, *this);
    if (m_banners.size() > 0) Refresh();
  }
  ShowPage();
  ApplyPageState();
  m_content->Layout();
}

void CBaseDialog::ApplyPageState() {
  auto* base = dynamic_cast<CBasePage*>(&m_page);
  if (!base) return;
  for (auto& [id, window] : m_controls) {
    if (id == kControlBack || id == kControlCancel) continue;
    if (base->IsControlHidden(id)) window->Hide();
    window->Enable(!base->IsControlDisabled(id));
  }
}

CBaseDialog::~CBaseDialog() = default;

void CBaseDialog::AddBanner(wxWindow* placeholder, BannerPosition position) {
  auto* banner = new CBanner(placeholder);
  auto* base = dynamic_cast<CBasePage*>(&m_page);
  if (!base || !banner->Configure(*m_context.languages, *m_context.graphics, base->GetSectionName(),
                                  position)) {
    banner->Destroy();
    return;
  }
  m_banners.push_back(banner);
}

void CBaseDialog::BuildGenericBody() {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* text = new wxStaticText(m_content, kControlText, wxEmptyString);
  AddControl(kControlText, text);
  sizer->Add(text, 0, wxEXPAND | wxBOTTOM, 8);
  auto* grid = new wxFlexGridSizer(2, 5, 8);
  grid->AddGrowableCol(1, 1);
  for (const auto& name : m_page.FieldNames()) {
    if (!m_page.IsFieldEditable(name)) continue;
    grid->Add(new wxStaticText(m_content, wxID_ANY, name), 0, wxALIGN_CENTER_VERTICAL);
    std::vector<std::wstring> choices = m_page.FieldChoices(name);
    if (!choices.empty()) {
      auto* choice = new wxChoice(m_content, wxID_ANY);
      for (const auto& c : choices) choice->Append(c);
      int at = choice->FindString(m_page.GetField(name));
      choice->SetSelection(at == wxNOT_FOUND ? 0 : at);
      m_choices[name] = choice;
      grid->Add(choice, 1, wxEXPAND);
    } else {
      auto* edit = new wxTextCtrl(m_content, wxID_ANY, m_page.GetField(name));
      m_edits[name] = edit;
      grid->Add(edit, 1, wxEXPAND);
    }
  }
  sizer->Add(grid, 0, wxEXPAND);
  m_content->SetSizer(sizer);
}

void CBaseDialog::SetControlText(int controlId, const std::wstring& text) {
  wxWindow* w = Control(controlId);
  if (!w) return;
  if (auto* st = dynamic_cast<wxStaticText*>(w); st && st->GetParent() == m_content) {
    // The page's texts wrap at the content's width.
    st->SetLabel(text);
    st->Wrap(m_content->GetClientSize().x - 4);
    m_content->Layout();
  } else if (auto* tc = dynamic_cast<wxTextCtrl*>(w)) {
    tc->ChangeValue(text);
  } else {
    w->SetLabel(text);
  }
}

wxWindow* CBaseDialog::Control(int controlId) const {
  auto it = m_controls.find(controlId);
  return it == m_controls.end() ? nullptr : it->second;
}

void CBaseDialog::TransferToPage() {
  for (auto& [name, edit] : m_edits) m_page.SetField(name, edit->GetValue().ToStdWstring());
  for (auto& [name, choice] : m_choices)
    if (choice->GetSelection() != wxNOT_FOUND)
      m_page.SetField(name, choice->GetString(choice->GetSelection()).ToStdWstring());
}

void CBaseDialog::Press(PageButton button) {
  try {
    if (button != PageButton::Cancel) TransferToPage();
    // The presenter asks its questions (Cancel) and keeps the values (Next, Back).
    if (!m_page.Press(button)) return;
    EndWith(button);
  } catch (...) {
    EndWithError(std::current_exception());
  }
}

void CBaseDialog::EndWithError(std::exception_ptr error) {
  m_error = error;
  EndWith(PageButton::Cancel);
}

void CBaseDialog::RethrowIfFailed() {
  if (auto e = m_error) {
    m_error = nullptr;
    std::rethrow_exception(e);
  }
}

void CBaseDialog::EndWith(PageButton button) {
  m_button = button;
  if (IsModal())
    EndModal(wxID_OK);
  else
    Hide();
}

}  // namespace InstallGui
