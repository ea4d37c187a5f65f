#include "gui/WindowPlacement.h"

#include <algorithm>

namespace InstallGui {

PixelRect WizardScreen(const PixelRect& workArea, int machineWidth, int machineHeight) {
  if (!workArea.IsPositive()) return {0, 0, std::max(machineWidth, 0), std::max(machineHeight, 0)};
  int w = workArea.Width(), h = workArea.Height();
  if (machineWidth > 0) w = std::min(w, machineWidth);
  if (machineHeight > 0) h = std::min(h, machineHeight);
  return CentreInArea(workArea, w, h);
}

PixelRect CentreInArea(const PixelRect& area, int width, int height) {
  int x = area.left + std::max(0, (area.Width() - width) / 2);
  int y = area.top + std::max(0, (area.Height() - height) / 2);
  return {x, y, x + width, y + height};
}

PagePlacement PlacePage(const PixelRect& area, int clientWidth, int clientHeight, int frameWidth,
                        int frameHeight) {
  PagePlacement out;
  frameWidth = std::max(frameWidth, 0);
  frameHeight = std::max(frameHeight, 0);
  // The page never gets smaller than a button row can use, even on a tiny screen.
  const int roomX = std::max(area.Width() - frameWidth, 1);
  const int roomY = std::max(area.Height() - frameHeight, 1);
  out.clientWidth = clientWidth;
  out.clientHeight = clientHeight;
  if (clientWidth > roomX) {
    out.clientWidth = roomX;
    out.scrollX = true;
  }
  if (clientHeight > roomY) {
    out.clientHeight = roomY;
    out.scrollY = true;
  }
  out.window = CentreInArea(area, out.clientWidth + frameWidth, out.clientHeight + frameHeight);
  return out;
}

}  // namespace InstallGui
