#include "WindowPicture.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/utils.h>
#include <wx/window.h>

#include <algorithm>

namespace morlane {

void SettleWindow(wxWindow* window) {
  for (int i = 0; i < 8; ++i) {
    if (window) window->Update();
    if (wxTheApp) wxTheApp->Yield(true);
    wxMilliSleep(20);
  }
}

bool SaveWindowPicture(wxWindow* window, const std::string& path) {
  if (!window) return false;
  SettleWindow(window);
  auto* display = static_cast<Display*>(wxGetX11Display());
  if (!display) return false;
  XSync(display, False);
  // What the screen shows now, read from the root window: the engine's drawing is in the
  // panes' own windows, which a copy of the toolkit's drawing would miss.
  const wxRect rect = window->GetScreenRect();
  const int screenW = DisplayWidth(display, DefaultScreen(display));
  const int screenH = DisplayHeight(display, DefaultScreen(display));
  const int x0 = std::max(0, rect.x), y0 = std::max(0, rect.y);
  const int w = std::min(rect.GetRight() + 1, screenW) - x0;
  const int h = std::min(rect.GetBottom() + 1, screenH) - y0;
  if (w <= 0 || h <= 0) return false;
  XImage* shot = XGetImage(display, DefaultRootWindow(display), x0, y0, static_cast<unsigned>(w),
                           static_cast<unsigned>(h), AllPlanes, ZPixmap);
  if (!shot) return false;
  wxImage image(w, h);
  unsigned char* rgb = image.GetData();
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const unsigned long pixel = XGetPixel(shot, x, y);
      *rgb++ = static_cast<unsigned char>((pixel & shot->red_mask) >> 16);
      *rgb++ = static_cast<unsigned char>((pixel & shot->green_mask) >> 8);
      *rgb++ = static_cast<unsigned char>(pixel & shot->blue_mask);
    }
  }
  XDestroyImage(shot);
  if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) wxImage::AddHandler(new wxPNGHandler);
  return image.SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
}

}  // namespace morlane
