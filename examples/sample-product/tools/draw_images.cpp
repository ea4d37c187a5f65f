// Draws the pictures of the sample product: the main window's background, the page banners and
// the two window icons. Everything is computed pixel by pixel, so no display is needed.
//
//   tl_sample_images <output folder>
//
// writes background.png, banner_top.png, banner_top_ru.png, banner_left.png, setup.ico and
// uninstall.ico into the folder.
#include <wx/image.h>
#include <wx/init.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

struct Rgb {
  double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void Put(wxImage& img, int x, int y, Rgb c, double alpha = 1.0) {
  if (x < 0 || y < 0 || x >= img.GetWidth() || y >= img.GetHeight()) return;
  Rgb old{double(img.GetRed(x, y)), double(img.GetGreen(x, y)), double(img.GetBlue(x, y))};
  Rgb m = Mix(old, c, alpha);
  img.SetRGB(x, y, static_cast<unsigned char>(m.r), static_cast<unsigned char>(m.g),
             static_cast<unsigned char>(m.b));
}

// A spur gear seen from the front: involute-like teeth approximated by a smooth profile.
void Gear(wxImage& img, double cx, double cy, double radius, int teeth, double phase, Rgb colour,
          double alpha) {
  int x0 = static_cast<int>(cx - radius * 1.2), x1 = static_cast<int>(cx + radius * 1.2);
  int y0 = static_cast<int>(cy - radius * 1.2), y1 = static_cast<int>(cy + radius * 1.2);
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) {
      double dx = x - cx, dy = y - cy;
      double r = std::sqrt(dx * dx + dy * dy);
      double a = std::atan2(dy, dx) + phase;
      double tooth = 0.5 + 0.5 * std::tanh(4.0 * std::cos(teeth * a));
      double outer = radius * (0.88 + 0.12 * tooth);
      double hub = radius * 0.28;
      bool spoke = std::fabs(std::sin(3 * (a - phase))) < 0.18 && r < radius * 0.75;
      bool body = r <= outer && (r >= radius * 0.62 || r <= hub || spoke);
      if (body) {
        double edge = std::clamp(outer - r, 0.0, 1.0);
        Put(img, x, y, colour, alpha * edge);
      }
    }
}

wxImage Gradient(int w, int h, Rgb top, Rgb bottom, bool horizontal) {
  wxImage img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double t = horizontal ? double(x) / (w - 1) : double(y) / (h - 1);
      Rgb c = Mix(top, bottom, t);
      // A faint drawing grid, as on a drafting board.
      if ((x % 24 == 0) || (y % 24 == 0)) c = Mix(c, Rgb{255, 255, 255}, 0.06);
      img.SetRGB(x, y, static_cast<unsigned char>(c.r), static_cast<unsigned char>(c.g),
                 static_cast<unsigned char>(c.b));
    }
  return img;
}

bool Save(const wxImage& img, const std::string& folder, const char* name, wxBitmapType type) {
  std::string path = folder + "/" + name;
  if (!img.SaveFile(wxString::FromUTF8(path.c_str()), type)) {
    std::fprintf(stderr, "tl_sample_images: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tl_sample_images <output folder>\n");
    return 2;
  }
  wxInitializer init;
  wxInitAllImageHandlers();
  std::string out = argv[1];
  const Rgb navy{18, 38, 74}, teal{22, 110, 128}, steel{205, 214, 224}, amber{236, 168, 48};

  wxImage background = Gradient(800, 600, navy, teal, false);
  Gear(background, 610, 210, 150, 24, 0.0, steel, 0.35);
  Gear(background, 418, 330, 92, 15, 0.21, steel, 0.30);
  Gear(background, 700, 430, 64, 11, 0.1, amber, 0.45);
  // The band behind the progress bar and texts.
  for (int y = 500; y < 560; ++y)
    for (int x = 30; x < 770; ++x) Put(background, x, y, Rgb{0, 0, 0}, 0.25);

  wxImage top = Gradient(500, 75, navy, teal, true);
  Gear(top, 450, 38, 30, 14, 0.0, steel, 0.6);
  Gear(top, 405, 52, 18, 9, 0.3, amber, 0.7);
  wxImage topRu = Gradient(500, 75, Rgb{70, 24, 32}, teal, true);
  Gear(topRu, 450, 38, 30, 14, 0.0, steel, 0.6);
  Gear(topRu, 405, 52, 18, 9, 0.3, amber, 0.7);

  wxImage left = Gradient(150, 310, teal, navy, false);
  Gear(left, 75, 90, 56, 16, 0.0, steel, 0.55);
  Gear(left, 100, 200, 34, 11, 0.2, amber, 0.6);

  wxImage icon(32, 32);
  icon.SetAlpha();
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      icon.SetRGB(x, y, 0, 0, 0);
      icon.SetAlpha(x, y, 0);
    }
  wxImage uninstall = icon.Copy();
  for (wxImage* img : {&icon, &uninstall}) {
    Rgb c = img == &icon ? teal : Rgb{160, 40, 40};
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) {
        double dx = x - 15.5, dy = y - 15.5, r = std::sqrt(dx * dx + dy * dy);
        double tooth = 0.5 + 0.5 * std::tanh(4.0 * std::cos(8 * std::atan2(dy, dx)));
        if (r < 12.5 + 2.5 * tooth && r > 4) {
          img->SetRGB(x, y, static_cast<unsigned char>(c.r), static_cast<unsigned char>(c.g),
                      static_cast<unsigned char>(c.b));
          img->SetAlpha(x, y, 255);
        }
      }
  }

  bool ok = Save(background, out, "background.png", wxBITMAP_TYPE_PNG) &&
            Save(top, out, "banner_top.png", wxBITMAP_TYPE_PNG) &&
            Save(topRu, out, "banner_top_ru.png", wxBITMAP_TYPE_PNG) &&
            Save(left, out, "banner_left.png", wxBITMAP_TYPE_PNG) &&
            Save(icon, out, "setup.ico", wxBITMAP_TYPE_ICO) &&
            Save(uninstall, out, "uninstall.ico", wxBITMAP_TYPE_ICO);
  return ok ? 0 : 1;
}
