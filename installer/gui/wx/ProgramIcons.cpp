#include "gui/wx/ProgramIcons.h"

#include "gui/MainWindowModel.h"

#include <wx/bitmap.h>
#include <wx/image.h>

namespace InstallGui {

wxIcon ProgramIcon(int id) {
  // A 32-pixel box: blue with a white arrow down for setup, red with a white bar for removal.
  const int n = 32;
  wxImage image(n, n);
  image.InitAlpha();
  bool removal = id == kIconUninstall;
  unsigned char r = removal ? 190 : 30, g = removal ? 40 : 90, b = removal ? 40 : 180;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      bool edge = x < 2 || y < 2 || x >= n - 2 || y >= n - 2;
      bool mark = removal ? (y >= 14 && y < 18 && x >= 7 && x < 25)
                          : ((x >= 14 && x < 18 && y >= 6 && y < 20) ||
                             (y >= 18 && y < 26 && x >= 8 + (y - 18) && x < 24 - (y - 18)));
      if (mark)
        image.SetRGB(x, y, 255, 255, 255);
      else if (edge)
        image.SetRGB(x, y, r / 2, g / 2, b / 2);
      else
        image.SetRGB(x, y, r, g, b);
      image.SetAlpha(x, y, 255);
    }
  wxIcon icon;
  icon.CopyFromBitmap(wxBitmap(image));
  return icon;
}

}  // namespace InstallGui
