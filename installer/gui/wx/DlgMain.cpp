#include "gui/wx/DlgMain.h"

#include "gui/Graphics.h"
#include "gui/Languages.h"
#include "gui/wx/Drawing.h"
#include "gui/wx/ProgramIcons.h"
#include "package/LogSink.h"
#include "package/ScriptVocabulary.h"
#include "platform/Files.h"
#include "platform/System.h"

#include <wx/dcbuffer.h>
#include <wx/dcclient.h>
#include <wx/control.h>
#include <wx/dcmemory.h>
#include <wx/window.h>
#include <wx/evtloop.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/utils.h>

#include <chrono>
#include <stdexcept>

namespace InstallGui {

namespace {

using CommonTools::LogLevel;

void Info(const std::wstring& text) { CommonTools::LogLine(LogLevel::Info, text); }

// Heights of the two text lines (pixels): room for the 14- and 12-pixel fonts.
constexpr int kStageLineHeight = 20;
constexpr int kItemLineHeight = 16;

// The first icon of an icon file of the machine, or none.
wxIcon IconFromFile(const std::wstring& path) {
  if (path.empty()) return wxIcon();
  std::string bytes;
  if (platform::ReadWholeFile(path, bytes) != platform::ERROR_SUCCESS || bytes.empty())
    return wxIcon();
  wxLogNull quiet;
  wxMemoryInputStream in(bytes.data(), bytes.size());
  wxImage image;
  if (!image.LoadFile(in, wxBITMAP_TYPE_ANY, 0) || !image.IsOk()) return wxIcon();
  wxIcon icon;
  icon.CopyFromBitmap(wxBitmap(image));
  return icon;
}

wxColour ColourOf(std::uint32_t c, unsigned char alpha) {
  return wxColour(ColourRed(c), ColourGreen(c), ColourBlue(c), alpha);
}

wxRect RectOf(const PixelRect& r) { return wxRect(r.left, r.top, r.Width(), r.Height()); }

}  // namespace

// The progress bar, drawn over the whole of its placement: the toolkit's own bar keeps its
// theme's height (a few pixels) whatever "Height" the script gives. A sunken trough with the
// filled part in the colour Windows gives its bars.
class CBarWindow : public wxWindow {
 public:
  CBarWindow(wxWindow* parent, int id, int range)
      : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE), m_range(range) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CBarWindow::OnPaint, this);
    Bind(wxEVT_SIZE, [this](wxSizeEvent& e) {
      Refresh(false);
      e.Skip();
    });
  }
  int GetValue() const { return m_value; }
  void SetValue(int value) {
    value = value < 0 ? 0 : (value > m_range ? m_range : value);
    if (value == m_value) return;
    const int before = FilledWidth();
    m_value = value;
    // Only a change that moves the edge by a pixel is drawn: most steps do not.
    if (FilledWidth() != before) Refresh(false);
  }

 private:
  int FilledWidth() const {
    const int inner = GetClientSize().x - 2;
    if (inner <= 0 || m_range <= 0) return 0;
    return static_cast<int>(static_cast<long long>(inner) * m_value / m_range);
  }
  void OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    dc.SetPen(wxPen(wxColour(188, 188, 188)));
    dc.SetBrush(wxBrush(wxColour(230, 230, 230)));
    dc.DrawRectangle(0, 0, size.x, size.y);
    const int filled = FilledWidth();
    if (filled > 0 && size.y > 2) {
      dc.SetPen(*wxTRANSPARENT_PEN);
      dc.SetBrush(wxBrush(wxColour(6, 176, 37)));
      dc.DrawRectangle(1, 1, filled, size.y - 2);
    }
  }

  int m_range;
  int m_value = 0;
};

CDlgMain::CDlgMain(const MainWindowRequest& request)
    : wxDialog(nullptr, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE),
      m_request(request) {
  SetName("TOLMERAInstall");
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  // The template's size (536 by 402 dialog units) until a background gives the window its own.
  SetClientSize(ConvertDialogToPixels(wxSize(536, 402)));
  m_bar = new CBarWindow(this, kProgressBar, CDlgMain::kBarSteps);
  m_bar->Hide();
  m_stageFont = wxFont(wxFontInfo(wxSize(0, 14)).FaceName("Arial").Bold());
  m_itemFont = wxFont(wxFontInfo(wxSize(0, 12)).FaceName("Arial"));

  m_icon = IconFromFile(request.iconPath);
  if (!m_icon.IsOk()) {
    m_iconResource = MainWindowIconResource(request.installType);
    m_icon = ProgramIcon(m_iconResource);
  }
  if (m_icon.IsOk()) SetIcon(m_icon);

  Bind(wxEVT_PAINT, &CDlgMain::OnPaint, this);
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_ESCAPE)
      m_escapePressed = true;  // acted on by the run's next PumpMessages
    else
      e.Skip();
  });
  // Closing the window is not a way out of the run: the run ends it.
  Bind(wxEVT_CLOSE_WINDOW, [](wxCloseEvent& e) {
    if (e.CanVeto()) e.Veto();
  });
}

CDlgMain::~CDlgMain() = default;

void CDlgMain::PrepareWnd() {
  Info(L"CDlgMain::PrepareWnd Start");
  if (IsShown())
    Info(L"CDlgMain::PrepareWnd IsWindow(m_hWnd)");
  else
    Info(L"CDlgMain::PrepareWnd !IsWindow(m_hWnd)");
  // Hidden bar, nothing armed: the window shows its picture alone until progress begins.
  CProgressState::EndProgress();
  m_bar->Hide();
  CommonTools::SettingsNodePtr root;
  if (m_request.root && m_request.root(root)) ReadProgressBarSettings(root, m_barSettings);
  LocalizeResources();
  if (!IsShown()) {
    Show();
    Info(L"CDlgMain::PrepareWnd ForegroundWindow");
    Raise();
  }
}

void CDlgMain::LocalizeResources() {
  if (!m_request.languages) return;
  CLocalizer localizer(*m_request.languages);
  if (localizer.SelectSection(ScriptNames::Element::kProgressSection)) {
    localizer.AddControl(ScriptNames::Control::kButtonCancel, kCancelButton);
    localizer.Apply(this);
    CommonTools::SettingsNodePtr language, section, background;
    if (!m_request.languages->GetCurrentNode(language) || !language ||
        !language->GetChild(ScriptNames::Element::kProgressSection, section) ||
        !section->GetChild(ScriptNames::Element::kBackground, background))
      // The run ends as an error: the script's main window cannot be drawn.
      throw std::runtime_error("CDlgMain::LocalizeResources() DLG_PROGRESS has no BACKGROUND");
    int id = CommonTools::GetInt(background, ScriptNames::Attribute::kImageId, 0);
    m_background = m_request.graphics ? m_request.graphics->GetImage(id) : nullptr;
  }
  ArrangeControls();
  Refresh();
}

void CDlgMain::ArrangeControls() {
  if (!m_background) return;
  const bool display = m_screen.IsPositive();
  int sw = display ? m_screen.Width() : platform::GetSystemMetrics(platform::SM_CXSCREEN);
  int sh = display ? m_screen.Height() : platform::GetSystemMetrics(platform::SM_CYSCREEN);
  // The script's placement each time: a default placement made for one picture must not stay
  // when another picture (of another size) comes with a change of language.
  PixelRect bar = m_barSettings.rect;
  m_layout = ArrangeMainWindow(m_background->GetWidth(), m_background->GetHeight(), sw, sh, bar,
                               kStageLineHeight, kItemLineHeight);
  if (display) {
    // Placed in the part of the display the wizard uses, which need not start at the origin.
    m_layout.window.left += m_screen.left;
    m_layout.window.right += m_screen.left;
    m_layout.window.top += m_screen.top;
    m_layout.window.bottom += m_screen.top;
  }
  SetSize(RectOf(m_layout.window));
  SetClientSize(m_layout.window.Width(), m_layout.window.Height());
  m_bar->SetSize(RectOf(m_layout.bar));
  // Brought to the front only while no page stands before it: a page (a change of language
  // arranges the window again) stays above the window it belongs to.
  if (!HasVisibleChildWindow()) Raise();
}

bool CDlgMain::HasVisibleChildWindow() const {
  for (const wxWindow* child : GetChildren())
    if (child->IsTopLevel() && child->IsShown()) return true;
  return false;
}

void CDlgMain::SetControlText(int controlId, const std::wstring& text) {
  if (controlId == kCancelButton) m_cancelText = text;
}

void CDlgMain::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  wxSize client = GetClientSize();
  if (!m_background) {
    dc.SetBackground(GetBackgroundColour());
    dc.Clear();
    return;
  }
  std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(dc));
  if (!gc) return;
  DrawImage(*gc, *m_background, 0, 0, client.x, client.y);
  if (!CProgressState::IsActive()) return;
  // Alpha 192: the lines let the picture show through a little.
  wxColour colour = ColourOf(m_barSettings.colour, 0xC0);
  const PixelRect& s = m_layout.stageLine;
  if (!StageText().empty() && s.Width() > 0) {
    gc->SetFont(m_stageFont, colour);
    // One line that ends in an ellipsis when it is too long for the line.
    wxString text = wxControl::Ellipsize(StageText(), dc, wxELLIPSIZE_END, s.Width());
    dc.SetFont(m_stageFont);
    gc->Clip(s.left, s.top, s.Width(), s.Height());
    gc->DrawText(text, s.left, s.top);
    gc->ResetClip();
  }
  const PixelRect& i = m_layout.itemLine;
  if (!ItemText().empty()) {
    gc->SetFont(m_itemFont, colour);
    gc->DrawText(ItemText(), i.left, i.top);
  }
}

void CDlgMain::RefreshLine(const PixelRect& r) {
  if (r.Width() <= 0 || r.Height() <= 0) {
    Refresh();
  } else {
    RefreshRect(RectOf(r), true);
  }
  Update();
}

int CDlgMain::BarValue() const { return m_bar->GetValue(); }

bool CDlgMain::BarShown() const { return m_bar->IsShown(); }

void CDlgMain::ShowBarPosition() { m_bar->SetValue(BarSteps(Position(), Range(), kBarSteps)); }

void CDlgMain::SetProgressRange(std::uint64_t count) {
  CProgressState::SetProgressRange(count);
  ShowBarPosition();
}

void CDlgMain::BeginProgress(std::uint64_t position, bool wrap) {
  wxBusyCursor wait;
  m_bar->Show();
  Refresh();
  CProgressState::BeginProgress(position, wrap);
  ShowBarPosition();
}

void CDlgMain::StepProgress(std::uint64_t delta) {
  CProgressState::StepProgress(delta);
  ShowBarPosition();
}

void CDlgMain::FillProgress() {
  CProgressState::FillProgress();
  ShowBarPosition();
}

void CDlgMain::EndProgress() {
  CProgressState::EndProgress();
  m_bar->Hide();
  Refresh();
}

void CDlgMain::SetStageText(const std::wstring& stageId, const std::wstring& text) {
  CProgressState::SetStageText(stageId, text);
  RefreshLine(m_layout.stageLine);
}

void CDlgMain::SetItemText(const std::wstring& text) {
  int width = m_layout.itemLine.Width();
  // Measured on a bitmap of its own: a window's drawing surface cannot always measure.
  wxBitmap surface(8, 8);
  wxMemoryDC dc(surface);
  dc.SetFont(m_itemFont);
  auto fitOf = [&](const std::wstring& t) -> size_t {
    if (width <= 0) return t.size();
    wxArrayInt extents;
    if (!dc.GetPartialTextExtents(t, extents)) return t.size();
    size_t n = 0;
    while (n < extents.size() && extents[n] <= width) ++n;
    return n;
  };
  CProgressState::SetItemText(ShortenItemPath(text, fitOf));
  RefreshLine(m_layout.itemLine);
}

void CDlgMain::PumpMessages() {
  if (m_pumping) return;  // a handler that reported progress itself
  static auto last = std::chrono::steady_clock::time_point();
  auto now = std::chrono::steady_clock::now();
  // Letting events run costs more than a small step: often enough to stay alive.
  if (!m_escapePressed && now - last < std::chrono::milliseconds(15)) return;
  last = now;
  m_pumping = true;
  if (auto* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_ALL);
  m_pumping = false;
  if (!m_escapePressed) return;
  m_escapePressed = false;
  // The state's rules decide whether the key counts; its handler asks and may end the run.
  PressEscape();
}

}  // namespace InstallGui
