#pragma once
// A splitter of two panes, side by side (one row, two columns) or one above the other (two
// rows, one column), that keeps the share of its first pane when it is resized: the share
// (m_dRatio) is applied at every layout, and a drag of the bar by the user sets it anew.
// Either pane can be hidden and shown again; the other one then fills the splitter.

#include "MorlaneExport.h"

#include <wx/splitter.h>

class MORLANE_API CVHSplitter : public wxSplitterWindow {
 public:
  CVHSplitter();
  ~CVHSplitter() override;

  // Creates the window: rows x columns is 1 x 2 or 2 x 1. The panes are created by the caller
  // as children of this window and handed over with SetPanes.
  bool CreateStatic(wxWindow* parent, int rows, int columns, wxWindowID id = wxID_ANY);
  void SetPanes(wxWindow* first, wxWindow* second);
  wxWindow* GetPane(int index) const { return index == 0 ? m_pFirst : m_pSecond; }

  int GetRowCount() const;     // visible rows
  int GetColumnCount() const;  // visible columns

  // Places the bar at the share of the available size (less the bar).
  void RecalcLayout();

  // Hides the first column (side by side only) / shows it again.
  void HideColumn();
  void ShowColumn();
  // Hides the given row (one above the other only) / shows the hidden row again.
  void HideRow(int row);
  void ShowRow();

  double GetRatio() const { return m_dRatio; }
  // Takes effect at the next layout.
  void SetRatio(double ratio);

  // The extent (pixels) the first pane needs for its texts: a layout never places the bar
  // nearer than that, unless that would leave the second pane less than 40 % of the splitter,
  // until the user drags the bar: from then on the dragged share alone places it. The share
  // stays what it was set or dragged to. 0: no such need. A change lays the splitter out
  // again.
  void SetFirstPaneFit(int extent);
  int GetFirstPaneFit() const { return m_nFirstFit; }
  // Where a layout places the bar for this available extent (the splitter's size less the bar).
  int BarPositionFor(int available) const;

  // Whether the panes follow the bar while it is dragged (no tracking line is drawn then).
  bool m_bDragFullWindows = true;
  int m_nHiddenCol = -1;
  int m_nHiddenRow = -1;

  // The user's drag: the share follows the bar.
  bool OnSashPositionChange(int newSashPosition) override;

 protected:
  double m_dRatio = 0.5;

 private:
  int Available() const;
  void Resplit();
  void OnSizeEvent(wxSizeEvent& event);

  int FitFloor(int available) const;

  int m_nFirstFit = 0;
  bool m_bDragged = false;
  int m_nRows = 1;
  int m_nColumns = 2;
  wxWindow* m_pFirst = nullptr;
  wxWindow* m_pSecond = nullptr;
};
