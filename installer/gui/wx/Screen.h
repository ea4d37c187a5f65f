// The person's display as the wizard's windows see it: the work area the window manager leaves
// free, whether a window manager runs at all, and what it adds around a window.
#pragma once

#include "gui/MainWindowModel.h"

#include <wx/gdicmn.h>

class wxTopLevelWindow;
class wxWindow;

namespace InstallGui {

// The visible work area of the display that shows `near` (the first display without it), in
// screen coordinates; empty when the toolkit cannot tell.
PixelRect DisplayWorkArea(const wxWindow* near = nullptr);

// Whether a window manager runs on the X display (one that says so, as the standard asks).
bool WindowManagerRunning();

// What the window manager adds around `window` (title bar and borders: width and height). Known
// once the window was shown; before that the toolkit's guess, or a title bar's usual size when a
// window manager runs and the toolkit does not know yet.
wxSize WindowFrameSize(const wxTopLevelWindow& window);

// A dialog of a page (a folder browser, a list to choose from) kept on the wizard's `screen`:
// no larger than it (with the window manager's frame), centred on its parent and moved inside
// the screen where that would leave it. Nothing changes for an empty screen.
void KeepOnScreen(wxTopLevelWindow& window, const PixelRect& screen);

}  // namespace InstallGui
