#include "gui/wx/MessageBox.h"

#include "gui/WindowPlacement.h"
#include "gui/wx/Screen.h"

#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include <algorithm>
#include <memory>

namespace InstallGui {

namespace {

constexpr int kIconSize = 32;

// The icon of a box's kind, drawn: a blue disc with "?" or "i", a red disc with a cross, a
// yellow triangle with "!".
wxBitmap KindIcon(unsigned kind) {
  wxBitmap bitmap(kIconSize, kIconSize, 32);
  bitmap.UseAlpha();
  {
    wxMemoryDC dc(bitmap);
    dc.SetBackground(*wxTRANSPARENT_BRUSH);
    dc.Clear();
    std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
    if (!gc) return bitmap;
    const double n = kIconSize;
    wxString mark;
    if (kind == MB_ICONEXCLAMATION) {
      gc->SetBrush(wxBrush(wxColour(250, 200, 30)));
      gc->SetPen(wxPen(wxColour(160, 120, 0), 1));
      wxGraphicsPath path = gc->CreatePath();
      path.MoveToPoint(n / 2, 1);
      path.AddLineToPoint(n - 1, n - 2);
      path.AddLineToPoint(1, n - 2);
      path.CloseSubpath();
      gc->DrawPath(path);
      mark = "!";
    } else {
      wxColour fill = kind == MB_ICONERROR ? wxColour(205, 40, 40) : wxColour(30, 100, 200);
      gc->SetBrush(wxBrush(fill));
      gc->SetPen(wxPen(fill.ChangeLightness(70), 1));
      gc->DrawEllipse(1, 1, n - 2, n - 2);
      mark = kind == MB_ICONERROR ? "X" : kind == MB_ICONQUESTION ? "?" : "i";
    }
    wxFont font(wxFontInfo(wxSize(0, 20)).Family(wxFONTFAMILY_SWISS).Bold());
    gc->SetFont(font, kind == MB_ICONEXCLAMATION ? *wxBLACK : *wxWHITE);
    double w = 0, h = 0;
    gc->GetTextExtent(mark, &w, &h);
    gc->DrawText(mark, (n - w) / 2, (n - h) / 2 + (kind == MB_ICONEXCLAMATION ? 3 : 0));
  }
  return bitmap;
}

std::vector<int> ButtonsOf(unsigned style) { return AllowedAnswers(style); }

}  // namespace

std::wstring MessageButtonText(int answer) {
  switch (answer) {
    case IDOK: return L"OK";
    case IDCANCEL: return L"Cancel";
    case IDABORT: return L"&Abort";
    case IDRETRY: return L"&Retry";
    case IDIGNORE: return L"&Ignore";
    case IDYES: return L"&Yes";
    case IDNO: return L"&No";
    default: return L"";
  }
}

int MessageEscapeAnswer(unsigned style) {
  switch (style & MB_TYPEMASK) {
    case MB_OK: return IDOK;
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL: return IDCANCEL;
    default: return 0;  // Yes/No, Abort/Retry/Ignore: only a button answers
  }
}

CMessageBox::CMessageBox(wxWindow* owner, const MessageRequest& request, const PixelRect& screen)
    : wxDialog(owner, wxID_ANY, request.caption, wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | (MessageEscapeAnswer(request.style) ? wxCLOSE_BOX : 0)),
      m_style(request.style),
      m_icon(request.style & MB_ICONMASK) {
  SetName("MessageBox");
  auto* top = new wxPanel(this, wxID_ANY);
  top->SetBackgroundColour(*wxWHITE);
  auto* all = new wxBoxSizer(wxVERTICAL);
  // On a display without a window manager no title bar shows the caption: the box shows it.
  if (screen.IsPositive() && !request.caption.empty() && !WindowManagerRunning()) {
    m_captionLine = new wxStaticText(this, wxID_ANY, request.caption);
    m_captionLine->SetFont(m_captionLine->GetFont().Bold());
    all->Add(m_captionLine, 0, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, 8);
  }
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  if (m_icon == MB_ICONQUESTION || m_icon == MB_ICONERROR || m_icon == MB_ICONEXCLAMATION ||
      m_icon == MB_ICONINFORMATION)
    row->Add(new wxStaticBitmap(top, wxID_ANY, KindIcon(m_icon)), 0, wxALL, 12);
  else
    m_icon = 0;
  auto* text = new wxStaticText(top, wxID_ANY, request.text);
  // No wider than the wizard's screen leaves room for.
  int wrap = 420;
  if (screen.IsPositive() && screen.Width() - 120 < wrap)
    wrap = std::max(screen.Width() - 120, 120);
  text->Wrap(wrap);
  row->Add(text, 1, wxALIGN_CENTER_VERTICAL | wxTOP | wxBOTTOM | wxRIGHT | (m_icon ? 0 : wxLEFT),
           16);
  top->SetSizer(row);

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->AddStretchSpacer();
  for (int answer : ButtonsOf(m_style)) {
    auto* b = new wxButton(this, wxID_ANY, MessageButtonText(answer), wxDefaultPosition,
                           ConvertDialogToPixels(wxSize(50, 14)));
    b->Bind(wxEVT_BUTTON, [this, answer](wxCommandEvent&) { Give(answer); });
    buttons->Add(b, 0, wxLEFT, 8);
    m_buttons.emplace_back(answer, b);
  }
  all->Add(top, 1, wxEXPAND | (m_captionLine ? wxTOP : 0), 6);
  all->Add(buttons, 0, wxEXPAND | wxALL, 10);
  SetSizerAndFit(all);
  // Wide enough for its caption in the title bar (with the bar's buttons beside it).
  int captionWidth = GetTextExtent(request.caption).x + 120;
  if (screen.IsPositive()) captionWidth = std::min(captionWidth, screen.Width());
  if (GetClientSize().x < captionWidth) SetClientSize(captionWidth, GetClientSize().y);

  if (!m_buttons.empty()) {
    m_buttons.front().second->SetDefault();
    SetDefaultItem(m_buttons.front().second);
  }
  SetEscapeId(wxID_NONE);
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
    if (e.GetKeyCode() != WXK_ESCAPE) {
      e.Skip();
      return;
    }
    if (int answer = MessageEscapeAnswer(m_style)) Give(answer);
  });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& e) {
    if (int answer = MessageEscapeAnswer(m_style))
      Give(answer);
    else if (e.CanVeto())
      e.Veto();
  });

  wxRect r = GetRect();
  if (owner && owner->IsShownOnScreen()) {
    CentreOnParent();
    r = GetRect();
  }
  if (screen.IsPositive()) {
    // Kept inside the screen the wizard uses, whatever the owner's place.
    PixelRect placed{r.x, r.y, r.x + r.width, r.y + r.height};
    if (!owner || !owner->IsShownOnScreen() || placed.left < screen.left ||
        placed.top < screen.top || placed.right > screen.right || placed.bottom > screen.bottom) {
      int x = std::min(std::max(placed.left, screen.left), screen.right - r.width);
      int y = std::min(std::max(placed.top, screen.top), screen.bottom - r.height);
      if (!owner || !owner->IsShownOnScreen()) {
        PixelRect c = CentreInArea(screen, r.width, r.height);
        x = c.left;
        y = c.top;
      }
      Move(std::max(x, screen.left), std::max(y, screen.top));
    }
  }
}

wxButton* CMessageBox::ButtonFor(int answer) const {
  for (const auto& [a, b] : m_buttons)
    if (a == answer) return b;
  return nullptr;
}

void CMessageBox::Give(int answer) {
  m_answer = answer;
  if (IsModal()) EndModal(wxID_OK);
}

int CMessageBox::Ask() {
  if (!m_buttons.empty()) {
    wxButton* first = m_buttons.front().second;
    CallAfter([first] { first->SetFocus(); });
  }
  ShowModal();
  // A box ended by other means counts as its Escape answer (OK for a box without one).
  if (m_answer == 0) m_answer = MessageEscapeAnswer(m_style) ? MessageEscapeAnswer(m_style) : IDOK;
  return m_answer;
}

}  // namespace InstallGui
