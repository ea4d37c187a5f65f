// The header band of the side panes without a window: where its hide button lies, what the mouse
// does to it (press-move-release), and the glyphs it is drawn with.
#include "ui/PaneHeader.h"

#include <gtest/gtest.h>

namespace {

constexpr int kCaption = 22;  // the small caption height of the tests

wxPoint Centre(const CBtn& b) { return {b.x + b.width / 2, b.y + b.height / 2}; }

TEST(PaneHeader, TheButtonIsA20PixelSquareOneInsideTheRightEdgeWhenThePaneIsWideEnough) {
  CPaneHeader header(kCaption);
  header.Layout(300);
  EXPECT_EQ(header.m_btnHide, wxRect(279, 1, 20, 20));
  EXPECT_TRUE(header.HitTest({279, 1}));
  EXPECT_TRUE(header.HitTest({298, 20}));
  EXPECT_FALSE(header.HitTest({299, 10}));
  EXPECT_FALSE(header.HitTest({278, 10}));
  EXPECT_FALSE(header.HitTest({285, 21}));

  // The narrowest pane with a button: the small caption height plus 10.
  header.Layout(kCaption + 10);
  EXPECT_FALSE(header.m_btnHide.IsEmpty());
  EXPECT_EQ(header.m_btnHide.GetRight(), kCaption + 10 - 2);
  // One pixel less: no button, and nothing in the band is a hit.
  header.Layout(kCaption + 9);
  EXPECT_TRUE(header.m_btnHide.IsEmpty());
  for (int x = 0; x < kCaption + 9; ++x)
    for (int y = 0; y < kPaneHeaderHeight; ++y)
      ASSERT_FALSE(header.HitTest({x, y})) << x << "," << y;
  const auto press = header.OnLeftDown({kCaption, 10});
  EXPECT_FALSE(press.capture);
  EXPECT_EQ(header.m_bBtnCaptured, 0);
  EXPECT_FALSE(header.OnLeftUp({kCaption, 10}).hide);
}

// A band made higher by a larger caption font keeps the button in the middle of its height.
TEST(PaneHeader, InAHigherBandTheButtonStaysInTheMiddleOfItsHeight) {
  CPaneHeader header(kCaption);
  header.Layout(300, 34);
  EXPECT_EQ(header.m_btnHide, wxRect(279, 7, 20, 20));
  EXPECT_TRUE(header.HitTest({285, 26}));
  EXPECT_FALSE(header.HitTest({285, 27}));
  EXPECT_FALSE(header.HitTest({285, 6}));
  header.Layout(300, kPaneHeaderHeight);
  EXPECT_EQ(header.m_btnHide.y, 1);
  header.Layout(300, 10);  // lower than the button: it stays 1 pixel below the top
  EXPECT_EQ(header.m_btnHide.y, 1);
}

TEST(PaneHeader, PressingMovingOffAndReleasingLeavesThePaneAndPressingAndReleasingOnItHidesIt) {
  CPaneHeader header(kCaption);
  header.Layout(200);
  const wxPoint on = Centre(header.m_btnHide), off{20, 10};
  EXPECT_EQ(header.m_btnHide.m_nState, CBtn::eNormal);

  auto r = header.OnLeftDown(on);
  EXPECT_TRUE(r.capture);
  EXPECT_TRUE(r.repaint);
  EXPECT_EQ(header.m_bBtnCaptured, 1);
  EXPECT_EQ(header.m_btnHide.m_nState, CBtn::ePressed);
  // A second press while captured changes nothing.
  EXPECT_FALSE(header.OnLeftDown(on).capture);

  r = header.OnMouseMove(off);
  EXPECT_TRUE(r.repaint);
  EXPECT_EQ(header.m_btnHide.m_nState, CBtn::eNormal);
  EXPECT_FALSE(header.OnMouseMove({21, 10}).repaint) << "no repaint without a change";
  EXPECT_EQ(header.OnMouseMove(on).repaint, true);
  EXPECT_EQ(header.m_btnHide.m_nState, CBtn::ePressed) << "back on it while held: pressed";
  header.OnMouseMove(off);
  r = header.OnLeftUp(off);
  EXPECT_TRUE(r.release);
  EXPECT_FALSE(r.hide);
  EXPECT_EQ(header.m_bBtnCaptured, 0);
  EXPECT_EQ(header.m_btnHide.m_nState, CBtn::eNormal);

  header.OnLeftDown(on);
  r = header.OnLeftUp(on);
  EXPECT_TRUE(r.release);
  EXPECT_TRUE(r.hide);
  EXPECT_EQ(header.m_btnHide.m_nState, CBtn::eNormal);
  // A release without a press on the button hides nothing.
  EXPECT_FALSE(header.OnLeftUp(on).hide);
}

TEST(PaneHeader, TheButtonIsHotUnderTheMouseAndNormalWhenItLeavesOrTheCaptureGoes) {
  CPaneHeader header(kCaption);
  header.Layout(200);
  const wxPoint on = Centre(header.m_btnHide);
  EXPECT_TRUE(header.OnMouseMove(on).repaint);
  EXPECT_EQ(header.m_btnHide.m_nState, CBtn::eHot);
  EXPECT_TRUE(header.OnMouseLeave().repaint);
  EXPECT_EQ(header.m_btnHide.m_nState, CBtn::eNormal);
  EXPECT_FALSE(header.OnMouseLeave().repaint);

  header.OnLeftDown(on);
  auto r = header.OnCaptureChanged();
  EXPECT_TRUE(r.repaint);
  EXPECT_EQ(header.m_bBtnCaptured, 0);
  EXPECT_EQ(header.m_btnHide.m_nState, CBtn::eNormal);
  // After the capture went elsewhere, the release does not hide the pane.
  EXPECT_FALSE(header.OnLeftUp(on).hide);
  EXPECT_FALSE(header.OnCaptureChanged().repaint);
}

TEST(PaneHeader, TheGlyphsPointWhereTheirNamesSayAndTheCloseMarkIsACross) {
  const int font = kCaption - 8;
  for (int i = 0; i < 5; ++i) {
    const CPaneGlyph g = MakePaneGlyph(i, font);
    ASSERT_GT(g.width, 1) << i;
    ASSERT_GT(g.height, 1) << i;
    ASSERT_EQ(g.bits.size(), static_cast<size_t>(g.width * g.height)) << i;
  }
  EXPECT_TRUE(MakePaneGlyph(5, font).bits.empty());
  auto column = [](const CPaneGlyph& g, int x) {
    int n = 0;
    for (int y = 0; y < g.height; ++y) n += g.IsInk(x, y);
    return n;
  };
  auto row = [](const CPaneGlyph& g, int y) {
    int n = 0;
    for (int x = 0; x < g.width; ++x) n += g.IsInk(x, y);
    return n;
  };
  const CPaneGlyph left = MakePaneGlyph(0, font), right = MakePaneGlyph(1, font);
  EXPECT_LT(column(left, 0), column(left, left.width - 1)) << "the left arrow's tip is at the left";
  EXPECT_GT(column(right, 0), column(right, right.width - 1));
  const CPaneGlyph down = MakePaneGlyph(2, font), up = MakePaneGlyph(3, font);
  EXPECT_GT(row(down, 0), row(down, down.height - 1)) << "the down arrow's tip is at the bottom";
  EXPECT_LT(row(up, 0), row(up, up.height - 1));

  const CPaneGlyph close = MakePaneGlyph(kGlyphClose, font);
  for (int y = 0; y < close.height; ++y)
    for (int x = 0; x < close.width; ++x) {
      ASSERT_EQ(close.IsInk(x, y), close.IsInk(x, close.height - 1 - y)) << x << "," << y;
      ASSERT_EQ(close.IsInk(x, y), close.IsInk(close.width - 1 - x, y)) << x << "," << y;
    }
  EXPECT_TRUE(close.IsInk(0, 0));
  EXPECT_TRUE(close.IsInk(close.width - 1, 0));
  EXPECT_TRUE(close.IsInk(close.width / 2, close.height / 2));
  EXPECT_FALSE(close.IsInk(close.width / 2, 0));
  EXPECT_FALSE(close.IsInk(0, close.height / 2));
}

}  // namespace
