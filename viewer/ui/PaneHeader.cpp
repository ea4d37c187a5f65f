#include "ui/PaneHeader.h"

#include <wx/bitmap.h>
#include <wx/dcbuffer.h>
#include <wx/image.h>
#include <wx/settings.h>

#include <algorithm>

CBtn::~CBtn() = default;

// --- Glyphs ------------------------------------------------------------------------------------

CPaneGlyph MakePaneGlyph(int index, int fontHeight) {
  CPaneGlyph g;
  const int h = std::max(fontHeight, 6);
  auto make = [&g](int width, int height) {
    g.width = width;
    g.height = height;
    g.bits.assign(static_cast<size_t>(width) * height, 0);
  };
  auto ink = [&g](int x, int y) {
    if (x >= 0 && y >= 0 && x < g.width && y < g.height) g.bits[y * g.width + x] = 1;
  };
  const int k = std::max(h / 3, 2);  // half the base of an arrow
  switch (index) {
    case 0:  // left arrow: the tip at the left
    case 1:  // right arrow
      make(k, 2 * k - 1);
      for (int c = 0; c < k; ++c)
        for (int r = k - 1 - c; r <= k - 1 + c; ++r) ink(index == 0 ? c : k - 1 - c, r);
      break;
    case 2:  // down arrow: the tip at the bottom
    case 3:  // up arrow
      make(2 * k - 1, k);
      for (int r = 0; r < k; ++r)
        for (int x = r; x <= 2 * k - 2 - r; ++x) ink(x, index == 2 ? r : k - 1 - r);
      break;
    case kGlyphClose: {  // two crossing strokes, two pixels wide
      const int s = std::max(h * 4 / 7, 3);
      make(s + 1, s);
      for (int y = 0; y < s; ++y) {
        ink(y, y);
        ink(y + 1, y);
        ink(s - 1 - y, y);
        ink(s - y, y);
      }
      break;
    }
    default: break;
  }
  return g;
}

int SmallCaptionHeight(const wxWindow* window) {
  // The platform's small caption is 22 pixels at 96 dots per inch.
  return window ? window->FromDIP(22) : 22;
}

// --- The band's state --------------------------------------------------------------------------

void CPaneHeader::Layout(int bandWidth, int bandHeight) {
  if (bandWidth - 2 - 8 >= m_nSmCaptionHeight) {
    const int right = bandWidth - 1;  // one pixel inside the band's right edge (exclusive)
    m_btnHide.SetLeft(right - kPaneButtonSize);
    m_btnHide.SetTop(std::max(1, (bandHeight - kPaneButtonSize) / 2));
    m_btnHide.SetWidth(kPaneButtonSize);
    m_btnHide.SetHeight(kPaneButtonSize);
  } else {
    m_btnHide.SetLeft(0);
    m_btnHide.SetTop(0);
    m_btnHide.SetWidth(0);
    m_btnHide.SetHeight(0);
  }
}

bool CPaneHeader::HitTest(const wxPoint& point) const {
  return !m_btnHide.IsEmpty() && m_btnHide.Contains(point);
}

CPaneHeader::Reaction CPaneHeader::SetState(int state) {
  Reaction r;
  r.repaint = m_btnHide.m_nState != state;
  m_btnHide.m_nState = state;
  return r;
}

CPaneHeader::Reaction CPaneHeader::OnMouseMove(const wxPoint& point) {
  const bool inside = HitTest(point);
  if (m_bBtnCaptured == 1) return SetState(inside ? CBtn::ePressed : CBtn::eNormal);
  return SetState(inside ? CBtn::eHot : CBtn::eNormal);
}

CPaneHeader::Reaction CPaneHeader::OnLeftDown(const wxPoint& point) {
  Reaction r;
  if (m_bBtnCaptured || !HitTest(point)) return r;
  m_bBtnCaptured = 1;
  m_btnHide.m_nState = CBtn::ePressed;
  r.capture = true;
  r.repaint = true;
  return r;
}

CPaneHeader::Reaction CPaneHeader::OnLeftUp(const wxPoint& point) {
  Reaction r;
  if (m_bBtnCaptured != 1) return r;
  r = SetState(CBtn::eNormal);
  m_bBtnCaptured = 0;
  r.release = true;
  r.hide = HitTest(point);
  return r;
}

CPaneHeader::Reaction CPaneHeader::OnCaptureChanged() {
  Reaction r;
  if (m_bBtnCaptured == 1) {
    m_btnHide.m_nState = CBtn::eNormal;
    r.repaint = true;
  }
  m_bBtnCaptured = 0;
  return r;
}

CPaneHeader::Reaction CPaneHeader::OnMouseLeave() {
  if (m_btnHide.m_nState == CBtn::eNormal) return {};
  return SetState(CBtn::eNormal);
}

// --- The window --------------------------------------------------------------------------------

namespace {

wxColour Sys(wxSystemColour colour) { return wxSystemSettings::GetColour(colour); }

void Fill(wxDC& dc, const wxRect& rect, const wxColour& colour) {
  if (rect.width <= 0 || rect.height <= 0) return;
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(colour));
  dc.DrawRectangle(rect);
}

// A 1-pixel outline, topLeft on the top and left sides, bottomRight on the bottom and right
// ones; the rectangle then shrinks by 1 on each side.
void Edge(wxDC& dc, wxRect& r, const wxColour& topLeft, const wxColour& bottomRight) {
  Fill(dc, wxRect(r.x, r.y, r.width - 1, 1), topLeft);
  Fill(dc, wxRect(r.x, r.y, 1, r.height - 1), topLeft);
  Fill(dc, wxRect(r.x, r.y + r.height - 1, r.width, 1), bottomRight);
  Fill(dc, wxRect(r.x + r.width - 1, r.y, 1, r.height), bottomRight);
  r.Deflate(1);
}

}  // namespace

CHeaderPane::CHeaderPane() = default;
CHeaderPane::~CHeaderPane() = default;

void CHeaderPane::BindHeader() {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &CHeaderPane::OnPaint, this);
  Bind(wxEVT_SIZE, &CHeaderPane::OnSize, this);
  Bind(wxEVT_MOTION, &CHeaderPane::OnMouseMove, this);
  Bind(wxEVT_LEFT_DOWN, &CHeaderPane::OnLeftDown, this);
  Bind(wxEVT_LEFT_UP, &CHeaderPane::OnLeftUp, this);
  Bind(wxEVT_LEAVE_WINDOW, &CHeaderPane::OnMouseLeave, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &CHeaderPane::OnCaptureLost, this);
  Bind(wxEVT_MOUSE_CAPTURE_CHANGED, &CHeaderPane::OnCaptureChanged, this);
}

void CHeaderPane::InitBtn() {
  m_header.m_nSmCaptionHeight = SmallCaptionHeight(this);
  for (int i = 0; i < static_cast<int>(m_arGlyphs.size()); ++i)
    m_arGlyphs[i] = MakePaneGlyph(i, m_header.m_nSmCaptionHeight - 8);
}

void CHeaderPane::AdjustLayout() {
  wxWindow* control = GetPaneControl();
  if (!control) return;
  const wxSize client = GetClientSize();
  // However small the pane, the control gets a size it can lay itself out in (what does not fit
  // is cut off by the pane).
  control->SetSize(0, m_nBandHeight, std::max(client.x, kPaneControlMinWidth),
                   std::max(client.y - m_nBandHeight, kPaneControlMinWidth));
  m_header.Layout(client.x, m_nBandHeight);
}

wxFont CHeaderPane::GetCaptionFont() const {
  wxFont font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  font.SetWeight(wxFONTWEIGHT_BOLD);
  return font;
}

namespace {

// The caption's margins in the band: 2 pixels before it, and a gap before the button.
constexpr int kCaptionLeft = 2;
constexpr int kCaptionGap = 6;

wxSize TextExtent(const wxWindow* window, const wxString& text, const wxFont& font) {
  int width = 0, height = 0;
  window->GetTextExtent(text, &width, &height, nullptr, nullptr, &font);
  return {width, height};
}

}  // namespace

void CHeaderPane::UpdateCaption() {
  const wxFont font = GetCaptionFont();
  // "Ag" as well as the caption: the band is as high for every language.
  const int textHeight = std::max(TextExtent(this, wxString(GetCaption()), font).y,
                                  TextExtent(this, wxT("Ag"), font).y);
  m_nBandHeight = std::max(kPaneHeaderHeight, textHeight + 6);
  AdjustLayout();
  Refresh();
  FitChanged();
}

int CHeaderPane::GetCaptionFitWidth() const {
  const int text = TextExtent(this, wxString(GetCaption()), GetCaptionFont()).x;
  // The caption, the gap, the button and the pixel right of it.
  return kCaptionLeft + text + kCaptionGap + kPaneButtonSize + 1;
}

CHeaderPane::CaptionLayout CHeaderPane::GetCaptionLayout() const {
  CaptionLayout layout;
  const wxFont font = GetCaptionFont();
  const wxString caption(GetCaption());
  const int width = GetClientSize().x;
  CPaneHeader header = m_header;
  header.Layout(width, m_nBandHeight);
  const int end =
      header.m_btnHide.IsEmpty() ? width - kCaptionLeft : header.m_btnHide.x - kCaptionGap;
  const int room = std::max(0, end - kCaptionLeft);
  layout.x = kCaptionLeft;
  const int full = TextExtent(this, caption, font).x;
  if (full <= room) {
    layout.text = caption.ToStdWstring();
    layout.width = full;
    return layout;
  }
  // Too narrow: as much of the caption as fits, then an ellipsis (binary search on the length).
  layout.shortened = true;
  const wxString ellipsis(L"\u2026");
  size_t low = 0, high = caption.length();
  while (low < high) {
    const size_t mid = (low + high + 1) / 2;
    if (TextExtent(this, caption.Left(mid) + ellipsis, font).x <= room)
      low = mid;
    else
      high = mid - 1;
  }
  const wxString shown = low > 0 ? caption.Left(low) + ellipsis : wxString();
  layout.text = shown.ToStdWstring();
  layout.width = shown.empty() ? 0 : TextExtent(this, shown, font).x;
  return layout;
}

void CHeaderPane::DrawBtn(wxDC& dc, const CBtn* button, int glyph, unsigned style) {
  if (!button || button->IsEmpty()) return;
  const wxColour face = Sys(wxSYS_COLOUR_BTNFACE), shadow = Sys(wxSYS_COLOUR_BTNSHADOW),
                 light = Sys(wxSYS_COLOUR_BTNHIGHLIGHT), frame = Sys(wxSYS_COLOUR_WINDOWFRAME);
  wxRect r = *button;
  const unsigned look = style & 0x1C0;
  if (button->m_nState == CBtn::eHot) {
    if (look == 0x40) {
      Edge(dc, r, light, shadow);
    } else if (look == 0x80) {
      Edge(dc, r, light, frame);
      Edge(dc, r, face, shadow);
    } else if (look == 0x100) {
      Edge(dc, r, wxColour(10, 36, 106), wxColour(10, 36, 106));
    }
  } else if (button->m_nState == CBtn::ePressed) {
    if (look == 0x40) {
      Edge(dc, r, shadow, light);
    } else if (look == 0x80) {
      Edge(dc, r, frame, light);
      Edge(dc, r, shadow, face);
    } else if (look == 0x100) {
      Edge(dc, r, *wxBLACK, *wxBLACK);
    }
  }
  Fill(dc, r, face);
  if (glyph < 0 || glyph >= static_cast<int>(m_arGlyphs.size())) return;
  const CPaneGlyph& g = m_arGlyphs[glyph];
  if (g.width <= 0 || g.height <= 0) return;
  // The glyph's background takes the face colour; its ink stays black.
  wxImage image(g.width, g.height);
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) {
      const wxColour& c = g.IsInk(x, y) ? *wxBLACK : face;
      image.SetRGB(x, y, c.Red(), c.Green(), c.Blue());
    }
  const int x = button->x + (button->width - g.width) / 2;
  const int y = button->y + (button->height - g.height) / 2;
  dc.DrawBitmap(wxBitmap(image), x, y);
}

void CHeaderPane::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  PaintHeader(dc);
}

void CHeaderPane::PaintHeader(wxDC& dc) {
  const wxSize client = GetClientSize();
  dc.SetBackground(wxBrush(Sys(wxSYS_COLOUR_BTNFACE)));
  dc.Clear();
  wxWindow* control = GetPaneControl();
  if (IsControlFramed() && control) {
    wxRect around = control->GetRect();
    around.Inflate(1);
    dc.SetPen(wxPen(Sys(wxSYS_COLOUR_BTNSHADOW)));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(around);
  }
  wxRect band(0, 0, client.x, m_nBandHeight);
  Fill(dc, band, Sys(wxSYS_COLOUR_BTNFACE));
  wxRect edge = band;
  Edge(dc, edge, Sys(wxSYS_COLOUR_BTNHIGHLIGHT), Sys(wxSYS_COLOUR_BTNSHADOW));

  dc.SetFont(GetCaptionFont());
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  dc.SetTextForeground(Sys(wxSYS_COLOUR_BTNTEXT));
  const CaptionLayout caption = GetCaptionLayout();
  if (!caption.text.empty()) {
    const wxSize extent = dc.GetTextExtent(wxString(caption.text));
    dc.SetClippingRegion(band);
    dc.DrawText(wxString(caption.text), caption.x, (band.height - extent.y) / 2);
    dc.DestroyClippingRegion();
  }

  m_header.Layout(band.width, band.height);
  DrawBtn(dc, &m_header.m_btnHide, kGlyphClose, kPaneButtonStyle);
}

void CHeaderPane::OnSize(wxSizeEvent& event) {
  event.Skip();
  AdjustLayout();
  Refresh();
}

void CHeaderPane::Apply(const CPaneHeader::Reaction& reaction) {
  if (reaction.capture && !HasCapture()) CaptureMouse();
  if (reaction.release && HasCapture()) ReleaseMouse();
  if (reaction.repaint) Refresh();
  if (reaction.hide) HidePane();
}

void CHeaderPane::OnMouseMove(wxMouseEvent& event) {
  Apply(m_header.OnMouseMove(event.GetPosition()));
  event.Skip();
}

void CHeaderPane::OnLeftDown(wxMouseEvent& event) {
  SetFocus();
  Apply(m_header.OnLeftDown(event.GetPosition()));
  event.Skip();
}

void CHeaderPane::OnLeftUp(wxMouseEvent& event) {
  Apply(m_header.OnLeftUp(event.GetPosition()));
  event.Skip();
}

void CHeaderPane::OnMouseLeave(wxMouseEvent& event) {
  Apply(m_header.OnMouseLeave());
  event.Skip();
}

void CHeaderPane::OnCaptureLost(wxMouseCaptureLostEvent&) { Apply(m_header.OnCaptureChanged()); }

void CHeaderPane::OnCaptureChanged(wxMouseCaptureChangedEvent& event) {
  if (event.GetCapturedWindow() != this) Apply(m_header.OnCaptureChanged());
}
