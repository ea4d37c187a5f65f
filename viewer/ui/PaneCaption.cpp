#include "ui/PaneCaption.h"

#include <wx/settings.h>

namespace PaneCaption {

void Draw(wxDC& dc, const wxSize& size, const std::wstring& caption, const std::wstring& line) {
  dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)));
  dc.Clear();
  const int band = dc.GetCharHeight() + 8;
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
  dc.DrawRectangle(0, 0, size.x, band);
  dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT));
  dc.DrawText(wxString(caption), 6, 4);
  if (!line.empty()) {
    dc.SetTextForeground(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWTEXT));
    dc.DrawText(wxString(line), 6, band + 6);
  }
}

}  // namespace PaneCaption
