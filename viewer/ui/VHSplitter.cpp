#include "ui/VHSplitter.h"

#include <wx/toplevel.h>

#include <algorithm>
#include <cmath>

CVHSplitter::CVHSplitter() = default;
CVHSplitter::~CVHSplitter() = default;

bool CVHSplitter::CreateStatic(wxWindow* parent, int rows, int columns, wxWindowID id) {
  m_nRows = rows > 1 ? 2 : 1;
  m_nColumns = m_nRows == 2 ? 1 : 2;
  (void)columns;
  long style = wxSP_3DSASH | wxSP_NO_XP_THEME;
  if (m_bDragFullWindows) style |= wxSP_LIVE_UPDATE;
  if (!Create(parent, id, wxDefaultPosition, wxDefaultSize, style)) return false;
  // The panes never vanish by a drag or a double click: only HideColumn and HideRow hide them.
  SetMinimumPaneSize(16);
  Bind(wxEVT_SIZE, &CVHSplitter::OnSizeEvent, this);
  // Keys are not for the splitter (no keyboard tracking).
  Bind(wxEVT_KEY_DOWN, [](wxKeyEvent&) {});
  return true;
}

void CVHSplitter::SetPanes(wxWindow* first, wxWindow* second) {
  m_pFirst = first;
  m_pSecond = second;
  m_nHiddenCol = m_nHiddenRow = -1;
  Resplit();
}

int CVHSplitter::GetRowCount() const { return m_nRows == 2 && !IsSplit() ? 1 : m_nRows; }
int CVHSplitter::GetColumnCount() const { return m_nColumns == 2 && !IsSplit() ? 1 : m_nColumns; }

void CVHSplitter::SetRatio(double ratio) {
  if (std::isfinite(ratio)) m_dRatio = std::clamp(ratio, 0.0, 1.0);
}

int CVHSplitter::Available() const {
  const wxSize size = GetClientSize();
  const int extent = m_nRows == 2 ? size.y : size.x;
  return extent - GetSashSize();
}

void CVHSplitter::SetFirstPaneFit(int extent) {
  extent = std::max(extent, 0);
  if (extent == m_nFirstFit) return;
  m_nFirstFit = extent;
  RecalcLayout();
}

int CVHSplitter::FitFloor(int available) const {
  if (m_bDragged) return 0;
  return std::clamp(m_nFirstFit, 0, std::max(available, 0) * 3 / 5);
}

int CVHSplitter::BarPositionFor(int available) const {
  if (available <= 0) return 0;
  const int share = std::max(0, static_cast<int>(available * m_dRatio));
  return std::min(std::max(share, FitFloor(available)), available);
}

void CVHSplitter::RecalcLayout() {
  if (!IsSplit()) return;
  const int available = Available();
  if (available <= 0) return;
  SetSashPosition(BarPositionFor(available), true);
}

void CVHSplitter::Resplit() {
  if (!m_pFirst || !m_pSecond) return;
  const int available = std::max(0, Available());
  const int position = std::max(1, BarPositionFor(available));
  if (m_nRows == 2)
    SplitHorizontally(m_pFirst, m_pSecond, position);
  else
    SplitVertically(m_pFirst, m_pSecond, position);
}

void CVHSplitter::HideColumn() {
  if (m_nColumns != 2 || !IsSplit() || !m_pFirst) return;
  m_nHiddenCol = 0;
  Unsplit(m_pFirst);
}

void CVHSplitter::ShowColumn() {
  if (m_nHiddenCol < 0) return;
  m_nHiddenCol = -1;
  Resplit();
}

void CVHSplitter::HideRow(int row) {
  if (m_nRows != 2 || !IsSplit() || row < 0 || row > 1) return;
  m_nHiddenRow = row;
  Unsplit(row == 0 ? m_pFirst : m_pSecond);
}

void CVHSplitter::ShowRow() {
  if (m_nHiddenRow < 0) return;
  m_nHiddenRow = -1;
  Resplit();
}

bool CVHSplitter::OnSashPositionChange(int newSashPosition) {
  const int available = Available();
  if (available > 0) {
    m_dRatio = static_cast<double>(newSashPosition) / available;
    m_bDragged = true;
  }
  return true;
}

void CVHSplitter::OnSizeEvent(wxSizeEvent& event) {
  wxSplitterWindow::OnSize(event);
  const wxSize size = event.GetSize();
  wxWindow* top = wxGetTopLevelParent(this);
  auto* frame = dynamic_cast<wxTopLevelWindow*>(top);
  const bool minimised = frame && frame->IsIconized();
  if (!minimised && size.x > 0 && size.y > 0) RecalcLayout();
}
