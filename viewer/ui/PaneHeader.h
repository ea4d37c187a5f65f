#pragma once
// The header band of the side panes (model tree and properties): a 22-pixel band with the pane's
// caption and a small hide button at its right end.
//
// CBtn is the button: its rectangle in pane coordinates (empty when the pane is too narrow for
// it) and its look (hot while the mouse is over it, pressed while the left button holds it,
// normal otherwise). CPaneHeader is the band's state without any window: where the button lies
// for a width, and what each mouse message does to the button (press-move-release: a press on
// the button captures the mouse, a release on the button hides the pane, a release elsewhere
// does nothing). CHeaderPane is the window base of both panes: it paints the band, draws the
// button with its glyph and turns the mouse messages into captures, repaints and the hiding of
// the pane.

#include "MorlaneExport.h"

#include <wx/gdicmn.h>
#include <wx/window.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

class wxDC;

// Height of the header band above the pane's control, in pixels, at 96 dots per inch; a larger
// caption font (a higher resolution) makes the band as high as its text needs.
constexpr int kPaneHeaderHeight = 22;
// The pane's control is never made narrower or lower than this, however small the pane: the
// toolkit's controls lay their parts out inside themselves and refuse negative sizes.
constexpr int kPaneControlMinWidth = 64;
// Side of the square hide button.
constexpr int kPaneButtonSize = 20;
// The one look the panes draw their button with (its 0x1C0 part selects the double edge).
constexpr unsigned kPaneButtonStyle = 0x280;
// The glyph of the hide button: the close mark.
constexpr int kGlyphClose = 4;

class MORLANE_API CBtn : public wxRect {
 public:
  enum State { eHot = 0, ePressed = 1, eNormal = 2 };
  virtual ~CBtn();
  int m_nState = eNormal;
};

// A one-bit glyph: width x height pixels, row after row from the top, 1 for the ink.
struct MORLANE_API CPaneGlyph {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> bits;
  bool IsInk(int x, int y) const { return bits[static_cast<size_t>(y) * width + x] != 0; }
};

// The five glyphs of the header buttons by index: 0 left arrow, 1 right arrow, 2 down arrow,
// 3 up arrow, 4 the close mark; drawn for a glyph font of the given height (the small caption
// height less 8). An index outside 0..4 gives an empty glyph.
MORLANE_API CPaneGlyph MakePaneGlyph(int index, int fontHeight);

// The system's small caption height for a window (the default metrics at its resolution).
MORLANE_API int SmallCaptionHeight(const wxWindow* window);

class MORLANE_API CPaneHeader {
 public:
  // What the window has to do after a mouse message.
  struct Reaction {
    bool repaint = false;
    bool capture = false;
    bool release = false;
    bool hide = false;
  };

  explicit CPaneHeader(int smallCaptionHeight = 22) : m_nSmCaptionHeight(smallCaptionHeight) {}

  // Places the button for a band of this width: the 20 x 20 square 1 pixel inside the band's
  // right edge and 1 pixel below its top when the width less 10 is at least the small caption
  // height; otherwise an empty rectangle (no button is drawn or hit). In a band higher than
  // kPaneHeaderHeight the button stays in the middle of the band's height.
  void Layout(int bandWidth, int bandHeight = kPaneHeaderHeight);
  // The point lies in the header button.
  bool HitTest(const wxPoint& point) const;

  Reaction OnMouseMove(const wxPoint& point);
  Reaction OnLeftDown(const wxPoint& point);
  Reaction OnLeftUp(const wxPoint& point);
  Reaction OnCaptureChanged();
  Reaction OnMouseLeave();

  CBtn m_btnHide;
  int m_bBtnCaptured = 0;
  int m_nSmCaptionHeight;

 private:
  Reaction SetState(int state);
};

// The window base of the side panes: the band, its caption and its button. The control of the
// pane lies below the band (AdjustLayout places it).
class MORLANE_API CHeaderPane : public wxWindow {
 public:
  CHeaderPane();
  ~CHeaderPane() override;

  // Reads the small caption height and makes the glyphs for it.
  void InitBtn();
  // Draws a button with glyph `glyph` in the look `style` (0x40, 0x80 or 0x100 after masking
  // with 0x1C0); nothing for an empty button.
  void DrawBtn(wxDC& dc, const CBtn* button, int glyph, unsigned style);
  bool HitTest(const wxPoint& point) const { return m_header.HitTest(point); }
  // Places the pane's control below the band, over the whole width.
  void AdjustLayout();
  // Draws the band, its caption and its button, and the frame of the control, into `dc` as the
  // pane's painting does (also into a bitmap, where no other window can lie over it).
  void PaintHeader(wxDC& dc);

  // The band's height: kPaneHeaderHeight, or the caption's height and a margin when that is more.
  int GetBandHeight() const { return m_nBandHeight; }
  // The caption as the band draws it: its text (ellipsized when the pane is too narrow for it),
  // where it starts and how wide it is drawn, for the pane's present width.
  struct CaptionLayout {
    std::wstring text;
    int x = 2;
    int width = 0;
    bool shortened = false;
  };
  CaptionLayout GetCaptionLayout() const;
  // The width the band needs to show its whole caption and the hide button beside it.
  int GetCaptionFitWidth() const;
  // The width the pane needs for its texts (the band's, and for the tree its items'); a pane
  // adds what its control shows.
  virtual int GetFitWidth() const { return GetCaptionFitWidth(); }
  // Told when the width the pane needs may have changed (new texts, a new tree).
  void SetFitHandler(std::function<void()> fit) { m_fit = std::move(fit); }
  // Measures the caption again (after a change of language) and tells the fit handler.
  void UpdateCaption();

  const CPaneHeader& GetHeader() const { return m_header; }
  const CBtn& GetHideButton() const { return m_header.m_btnHide; }
  int GetSmallCaptionHeight() const { return m_header.m_nSmCaptionHeight; }
  const CPaneGlyph& GetGlyph(int index) const { return m_arGlyphs[index]; }
  // What a release on the hide button runs: the holding window's hiding of this pane.
  void SetHideHandler(std::function<void()> hide) { m_hide = std::move(hide); }

 protected:
  // Binds the band's paint, size and mouse messages; called by the pane after Create.
  void BindHeader();
  virtual wxWindow* GetPaneControl() const = 0;
  virtual std::wstring GetCaption() const = 0;
  // The window that holds the pane hides it, as the handler handed in says (none: nothing).
  void HidePane() {
    if (m_hide) m_hide();
  }
  // Whether a 1-pixel frame is drawn around the control.
  virtual bool IsControlFramed() const { return false; }
  void FitChanged() {
    if (m_fit) m_fit();
  }
  wxFont GetCaptionFont() const;

  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnMouseMove(wxMouseEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnLeftUp(wxMouseEvent& event);
  void OnMouseLeave(wxMouseEvent& event);
  void OnCaptureLost(wxMouseCaptureLostEvent& event);
  void OnCaptureChanged(wxMouseCaptureChangedEvent& event);

  std::array<CPaneGlyph, 5> m_arGlyphs;
  CPaneHeader m_header;

 private:
  void Apply(const CPaneHeader::Reaction& reaction);

  std::function<void()> m_hide;
  std::function<void()> m_fit;
  int m_nBandHeight = kPaneHeaderHeight;
};
