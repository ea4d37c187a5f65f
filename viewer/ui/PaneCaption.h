#pragma once
// The caption band at the top of a side pane, with one line of text below it.

#include <wx/dc.h>

#include <string>

namespace PaneCaption {

void Draw(wxDC& dc, const wxSize& size, const std::wstring& caption, const std::wstring& line);

}  // namespace PaneCaption
