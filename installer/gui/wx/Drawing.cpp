#include "gui/wx/Drawing.h"

#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/window.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <map>

namespace InstallGui {

namespace {

struct CachedBitmap {
  const unsigned char* data = nullptr;  // the image's pixels when the bitmap was made
  int width = 0, height = 0;
  wxBitmap bitmap;
};

const wxBitmap& BitmapOf(const wxImage& image) {
  // A few pictures per run (the background and the banners); bounded all the same.
  static std::map<const wxImage*, CachedBitmap> cache;
  auto it = cache.find(&image);
  if (it == cache.end()) {
    if (cache.size() >= 64) cache.clear();
    it = cache.emplace(&image, CachedBitmap{}).first;
  }
  CachedBitmap& entry = it->second;
  if (entry.data != image.GetData() || entry.width != image.GetWidth() ||
      entry.height != image.GetHeight() || !entry.bitmap.IsOk()) {
    entry.data = image.GetData();
    entry.width = image.GetWidth();
    entry.height = image.GetHeight();
    entry.bitmap = wxBitmap(image, 32);
  }
  return entry.bitmap;
}

}  // namespace

void DrawImage(wxGraphicsContext& gc, const wxImage& image, double x, double y, double width,
               double height) {
  if (!image.IsOk() || width <= 0 || height <= 0) return;
  gc.DrawBitmap(BitmapOf(image), x, y, width, height);
}

bool SaveWindowPng(wxWindow* window, const std::string& hostPath) {
  if (!window || !window->IsShownOnScreen()) return false;
  // What the X server shows in the window's place, the windows in front of it included (the
  // toolkit's own screen reading leaves out windows drawn since it was made).
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  Window root = DefaultRootWindow(display);
  XWindowAttributes attributes;
  XGetWindowAttributes(display, root, &attributes);
  wxRect r = window->GetScreenRect();
  r.Intersect(wxRect(0, 0, attributes.width, attributes.height));
  bool saved = false;
  if (r.width > 0 && r.height > 0) {
    XSync(display, False);
    if (XImage* shot = XGetImage(display, root, r.x, r.y, r.width, r.height, AllPlanes, ZPixmap)) {
      wxImage image(r.width, r.height);
      unsigned char* out = image.GetData();
      for (int y = 0; y < r.height; ++y)
        for (int x = 0; x < r.width; ++x) {
          unsigned long p = XGetPixel(shot, x, y);
          *out++ = static_cast<unsigned char>((p & shot->red_mask) >> 16);
          *out++ = static_cast<unsigned char>((p & shot->green_mask) >> 8);
          *out++ = static_cast<unsigned char>(p & shot->blue_mask);
        }
      XDestroyImage(shot);
      wxLogNull quiet;
      saved = image.SaveFile(wxString::FromUTF8(hostPath), wxBITMAP_TYPE_PNG);
    }
  }
  XCloseDisplay(display);
  return saved;
}

}  // namespace InstallGui
