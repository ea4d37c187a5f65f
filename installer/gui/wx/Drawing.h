// Drawing the package's pictures with wx: an image of the graphics set (32-bit with alpha) drawn
// through wxGraphicsContext, so its transparency is kept; a window's picture saved as PNG.
#pragma once

#include <string>

class wxGraphicsContext;
class wxImage;
class wxWindow;

namespace InstallGui {

// Draws `image` stretched into the rectangle. The bitmap made from an image is kept for the
// next call with the same image, so a picture drawn on every paint is converted once.
void DrawImage(wxGraphicsContext& gc, const wxImage& image, double x, double y, double width,
               double height);

// Saves what the window shows on the screen as a PNG file (a host path); false when the window
// is not shown or the file cannot be written.
bool SaveWindowPng(wxWindow* window, const std::string& hostPath);

}  // namespace InstallGui
