#include "gui/wx/Screen.h"

#include <wx/display.h>
#include <wx/toplevel.h>

#include <algorithm>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace InstallGui {

namespace {

// A title bar and thin borders of the usual themes, used until the window manager said how
// large its frame is.
constexpr int kGuessedFrameWidth = 8;
constexpr int kGuessedFrameHeight = 32;

}  // namespace

PixelRect DisplayWorkArea(const wxWindow* near) {
  int index = near ? wxDisplay::GetFromWindow(near) : wxNOT_FOUND;
  if (index == wxNOT_FOUND) index = 0;
  if (static_cast<unsigned>(index) >= wxDisplay::GetCount()) return {};
  wxRect r = wxDisplay(static_cast<unsigned>(index)).GetClientArea();
  if (r.width <= 0 || r.height <= 0) r = wxDisplay(static_cast<unsigned>(index)).GetGeometry();
  return {r.x, r.y, r.x + r.width, r.y + r.height};
}

bool WindowManagerRunning() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  bool running = false;
  Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
  if (check != None) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW,
                           &type, &format, &count, &after, &data) == Success &&
        data) {
      // The window the manager names must still be there (a manager that ended leaves it).
      Window child = *reinterpret_cast<Window*>(data);
      XWindowAttributes attributes;
      running = type == XA_WINDOW && count == 1 && child != None;
      XFree(data);
      if (running) {
        XSync(display, False);
        auto old = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
        running = XGetWindowAttributes(display, child, &attributes) != 0;
        XSync(display, False);
        XSetErrorHandler(old);
      }
    }
  }
  XCloseDisplay(display);
  return running;
}

wxSize WindowFrameSize(const wxTopLevelWindow& window) {
  wxSize frame = window.GetSize() - window.GetClientSize();
  if (frame.x < 0) frame.x = 0;
  if (frame.y < 0) frame.y = 0;
  if (frame.x == 0 && frame.y == 0 && !window.HasFlag(wxBORDER_NONE) && WindowManagerRunning())
    frame = wxSize(kGuessedFrameWidth, kGuessedFrameHeight);
  return frame;
}

void KeepOnScreen(wxTopLevelWindow& window, const PixelRect& screen) {
  if (!screen.IsPositive()) return;
  const wxSize frame = WindowFrameSize(window);
  wxSize client = window.GetClientSize();
  client.x = std::min(client.x, std::max(screen.Width() - frame.x, 1));
  client.y = std::min(client.y, std::max(screen.Height() - frame.y, 1));
  window.SetClientSize(client);
  if (window.GetParent()) window.CentreOnParent();
  const wxRect r = window.GetRect();
  const int width = client.x + frame.x, height = client.y + frame.y;
  int x = std::max(screen.left, std::min(r.x, screen.right - width));
  int y = std::max(screen.top, std::min(r.y, screen.bottom - height));
  if (!window.GetParent()) {
    x = screen.left + (screen.Width() - width) / 2;
    y = screen.top + (screen.Height() - height) / 2;
  }
  window.Move(x, y);
}

}  // namespace InstallGui
