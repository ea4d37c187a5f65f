#pragma once
// A picture of a window as it stands on the screen (the engine's drawing included), as PNG.

#include <string>

class wxWindow;

namespace morlane {

// Lets the window finish its pending drawing: events are handled a few times over.
void SettleWindow(wxWindow* window);
bool SaveWindowPicture(wxWindow* window, const std::string& path);

}  // namespace morlane
