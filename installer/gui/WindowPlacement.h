// Where the wizard's windows go on a person's display, without a toolkit. The screen the
// wizard uses is the visible work area of the display (what the window manager leaves free of
// panels and docks), no larger than the machine's own screen size; every window is centred in
// it and kept inside it, and a page too large for it gets a smaller window whose contents
// scroll while its buttons stay in view. Runs answered from a file (screenshots, smoke tests)
// keep the machine's screen as the pictures of the emulated machine show it.
#pragma once

#include "gui/MainWindowModel.h"

namespace InstallGui {

// The part of the display's work area (screen coordinates) the wizard uses: the work area, cut
// to `machineWidth` by `machineHeight` where those are smaller (0 or less: no limit), centred
// in it. An empty work area gives the machine's screen at the origin.
PixelRect WizardScreen(const PixelRect& workArea, int machineWidth, int machineHeight);

// A window of `width` by `height` centred in `area`; a window larger than the area starts at
// the area's left or top edge, so its left and top part stay on the screen.
PixelRect CentreInArea(const PixelRect& area, int width, int height);

// A page window on the wizard's screen. `clientWidth` by `clientHeight` is the page as drawn,
// `frameWidth` and `frameHeight` what the window manager adds around it (title bar, borders).
struct PagePlacement {
  PixelRect window;                       // the outer window, screen coordinates, inside the area
  int clientWidth = 0, clientHeight = 0;  // the page window's client size
  bool scrollX = false, scrollY = false;  // the page's contents scroll in that direction
};
PagePlacement PlacePage(const PixelRect& area, int clientWidth, int clientHeight, int frameWidth,
                        int frameHeight);

}  // namespace InstallGui
