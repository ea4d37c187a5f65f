// Where the wizard's windows go on a person's display: the screen taken from the work area and
// the machine's screen, windows centred and kept on it, pages that do not fit made to scroll.
#include "gui/WindowPlacement.h"

#include <gtest/gtest.h>

using namespace InstallGui;

namespace {

bool Inside(const PixelRect& inner, const PixelRect& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

}  // namespace

TEST(WizardScreen, TheWorkAreaCutToTheMachinesScreenAndCentredInIt) {
  // A 1280 by 900 display with a panel of 30 pixels at the top, the machine's 1920 by 1080: the
  // work area itself, not the machine's larger screen.
  EXPECT_EQ(WizardScreen({0, 30, 1280, 900}, 1920, 1080), (PixelRect{0, 30, 1280, 900}));
  // A display larger than the machine's screen: the machine's size in the middle of the area.
  EXPECT_EQ(WizardScreen({0, 0, 2560, 1440}, 1920, 1080), (PixelRect{320, 180, 2240, 1260}));
  // One dimension smaller, one larger.
  EXPECT_EQ(WizardScreen({0, 0, 1366, 768}, 1024, 2000), (PixelRect{171, 0, 1195, 768}));
  // No limit from the machine.
  EXPECT_EQ(WizardScreen({10, 0, 650, 480}, 0, 0), (PixelRect{10, 0, 650, 480}));
  // A display that cannot tell its work area: the machine's screen.
  EXPECT_EQ(WizardScreen({}, 1920, 1080), (PixelRect{0, 0, 1920, 1080}));
}

TEST(WizardScreen, WindowsAreCentredAndALargerOneStartsAtTheAreasEdge) {
  const PixelRect area{0, 30, 1280, 900};
  EXPECT_EQ(CentreInArea(area, 800, 600), (PixelRect{240, 165, 1040, 765}));
  // Larger than the area: the top left of the window stays on the screen.
  EXPECT_EQ(CentreInArea({100, 50, 740, 530}, 900, 400), (PixelRect{100, 90, 1000, 490}));
  EXPECT_EQ(CentreInArea({100, 50, 740, 530}, 600, 700), (PixelRect{120, 50, 720, 750}));
}

TEST(PagePlacement, APageThatFitsKeepsItsSizeAndIsCentredWithItsFrame) {
  // 868 by 457 with a frame of 2 by 21 on a 1280 by 900 screen.
  PagePlacement p = PlacePage({0, 0, 1280, 900}, 868, 457, 2, 21);
  EXPECT_EQ(p.clientWidth, 868);
  EXPECT_EQ(p.clientHeight, 457);
  EXPECT_FALSE(p.scrollX);
  EXPECT_FALSE(p.scrollY);
  EXPECT_EQ(p.window, (PixelRect{205, 211, 1075, 689}));
}

TEST(PagePlacement, APageLargerThanTheScreenGetsAWindowInsideItAndScrolls) {
  struct Case {
    PixelRect screen;
    int width, height, frameWidth, frameHeight;
    bool scrollX, scrollY;
  };
  const Case cases[] = {
      {{0, 0, 640, 480}, 868, 457, 2, 21, true, false},    // too wide only
      {{0, 0, 640, 480}, 868, 589, 2, 21, true, true},     // the finish page: both
      {{0, 0, 1366, 768}, 868, 589, 2, 21, false, false},  // a laptop: fits
      {{0, 0, 1024, 600}, 868, 589, 2, 21, false, true},   // too high only
      {{0, 0, 640, 480}, 868, 457, 0, 0, true, false},     // no window manager
      {{0, 24, 640, 480}, 600, 457, 8, 32, false, true},   // a panel above and a large frame
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.screen.Width()) + "x" + std::to_string(c.screen.Height()) +
                 " page " + std::to_string(c.width) + "x" + std::to_string(c.height));
    PagePlacement p = PlacePage(c.screen, c.width, c.height, c.frameWidth, c.frameHeight);
    EXPECT_EQ(p.scrollX, c.scrollX);
    EXPECT_EQ(p.scrollY, c.scrollY);
    EXPECT_TRUE(Inside(p.window, c.screen));
    EXPECT_EQ(p.window.Width(), p.clientWidth + c.frameWidth);
    EXPECT_EQ(p.window.Height(), p.clientHeight + c.frameHeight);
    EXPECT_EQ(p.clientWidth, c.scrollX ? c.screen.Width() - c.frameWidth : c.width);
    EXPECT_EQ(p.clientHeight, c.scrollY ? c.screen.Height() - c.frameHeight : c.height);
  }
}
