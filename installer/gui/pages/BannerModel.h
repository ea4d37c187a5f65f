// The clickable picture strips of a page, without a toolkit: which picture and address a
// page's section gives for the top or the left strip, and how large the picture is drawn so
// that it covers the strip, anchored at the top left.
#pragma once

#include "gui/Languages.h"

#include <string>

namespace InstallGui {

enum class BannerPosition { Top = 0, Left = 1 };

struct BannerConfig {
  int imageId = 0;
  std::wstring url;
};

// The first "Banner" child of the section `sectionName` of the current language whose "Pos"
// equals "top" or "left" (any case). False when there is none or the language cannot be read.
bool FindBanner(CommonTools::ILanguages& languages, const std::wstring& sectionName,
                BannerPosition position, BannerConfig& config);

// The size the picture is drawn in: the picture scaled by the smaller of its ratios to the
// strip, rounded up, so it covers the strip completely (what exceeds it is cut off).
struct DrawSize {
  int width = 0, height = 0;
};
DrawSize BannerDrawSize(int clientWidth, int clientHeight, int imageWidth, int imageHeight);

}  // namespace InstallGui
