// Views: display, pick, select, erase and an off-screen render to PNG. They need an X display
// (the test scripts run everything under Xvfb).
#include "EngineFixture.h"

#include <cstring>
#include <functional>

using namespace engine_test;

namespace {

class ViewTest : public EngineTest {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
    EngineTest::SetUp();
    try {
      view = ObjPtr<CAD::IView>(ctx->NewView(nullptr, CAD::eViewOffscreen));
    } catch (QZ::IException* e) {
      ADD_FAILURE() << "NewView: " << e->GetText();
      e->Release();
    }
    ASSERT_TRUE(view);
  }
  ObjPtr<CAD::IView> view;
};

}  // namespace

TEST_F(ViewTest, OffscreenRenderOfASmallAssembly) {
  // A grey base plate, a red column and a blue ball on top.
  ObjPtr<CAD::IShape> plate(ctx->Box(100, 100, 10));
  ObjPtr<CAD::IShape> column0(ctx->Cylinder(10, 60));
  ObjPtr<CAD::IShape> ball0(ctx->Sphere(20));
  double m[12];
  Translation(m, 50, 50, 10);
  ObjPtr<CAD::IShape> column(column0->Placed(m));
  Translation(m, 50, 50, 90);
  ObjPtr<CAD::IShape> ball(ball0->Placed(m));
  view->EraseAll();
  view->ResetView();
  ObjPtr<CAD::IShapeVis> v1(view->Display(plate.Get()));
  ObjPtr<CAD::IShapeVis> v2(view->Display(column.Get()));
  ObjPtr<CAD::IShapeVis> v3(view->Display(ball.Get()));
  v1->SetColor(0.6, 0.6, 0.6);
  v2->SetColor(1, 0, 0);
  v3->SetColor(0, 0, 1);
  view->ShowAxes(true);
  view->FitAll();
  view->Redraw();
  EXPECT_EQ(view->GetDisplayedCount(), 3);

  TempDir dir;
  const std::string path = dir / "assembly.png";
  ASSERT_TRUE(view->SaveImage(path.c_str(), 320, 240));
  const Png png = ReadPng(path);
  ASSERT_EQ(png.width, 320u);
  ASSERT_EQ(png.height, 240u);
  // White background in the corner, and both coloured solids visible (shaded, so allow a range).
  const auto* corner = png.At(2, 2);
  EXPECT_GT(corner[0], 240);
  EXPECT_GT(corner[1], 240);
  EXPECT_GT(corner[2], 240);
  size_t reddish = 0, bluish = 0;
  double redY = 0, blueY = 0;
  for (unsigned y = 0; y < png.height; ++y)
    for (unsigned x = 0; x < png.width; ++x) {
      const auto* c = png.At(x, y);
      if (c[0] > 100 && c[0] > 2 * c[1] + 20 && c[0] > 2 * c[2] + 20) {
        ++reddish;
        redY += y;
      }
      if (c[2] > 100 && c[2] > 2 * c[0] + 20 && c[2] > 2 * c[1] + 20) {
        ++bluish;
        blueY += y;
      }
    }
  ASSERT_GT(reddish, 200u);
  ASSERT_GT(bluish, 500u);
  // z points up in the image: the ball on top of the column is drawn above it.
  EXPECT_LT(blueY / bluish, redY / reddish);
  EXPECT_LT(CountNear(png, 255, 255, 255, 3), png.width * png.height * 9 / 10)
      << "the model fills part of the image";
  if (const char* keep = std::getenv("ENGINE_TEST_KEEP_PNG"))
    std::filesystem::copy_file(path, keep, std::filesystem::copy_options::overwrite_existing);

  // Nothing remains after EraseAll: the image is plain background.
  view->EraseAll();
  EXPECT_EQ(view->GetDisplayedCount(), 0);
  EXPECT_FALSE(v1->IsDisplayed());
  const std::string empty = dir / "empty.png";
  ASSERT_TRUE(view->SaveImage(empty.c_str(), 64, 48));
  const Png blank = ReadPng(empty);
  EXPECT_GT(CountNear(blank, 255, 255, 255, 3), blank.width * blank.height * 9 / 10);
}

TEST_F(ViewTest, PickSelectAndDelete) {
  ObjPtr<CAD::IShape> box(ctx->Box(10, 10, 10));
  ObjPtr<CAD::IShapeVis> vis(view->Display(box.Get()));
  view->ResetView();
  view->FitAll();
  view->Redraw();
  // The view's window is 640 x 480; the fitted box covers its centre and not its corner.
  ObjPtr<CAD::IShapeVis> hit(view->Pick(320, 240));
  ASSERT_TRUE(hit);
  EXPECT_TRUE(hit->IsSame(vis.Get()));
  EXPECT_TRUE(vis->IsSame(hit.Get()));
  ObjPtr<CAD::IShape> shown(hit->GetShape());
  EXPECT_EQ(shown.Get(), box.Get());
  EXPECT_FALSE(ObjPtr<CAD::IShapeVis>(view->Pick(2, 2)));

  view->ClearSelection();
  view->Select(vis.Get());
  view->Select(vis.Get());  // twice is still one selected visual
  view->FinishSelection();
  EXPECT_EQ(view->GetSelectedCount(), 1);
  view->ClearSelection();
  EXPECT_EQ(view->GetSelectedCount(), 0);
  view->Select(vis.Get());
  view->DeleteSelected();
  EXPECT_EQ(view->GetDisplayedCount(), 0);
  EXPECT_FALSE(vis->IsDisplayed());
  // Operations on a visual the view no longer shows do nothing.
  view->Erase(vis.Get());
  view->Select(vis.Get());
  EXPECT_EQ(view->GetSelectedCount(), 0);
}

TEST_F(ViewTest, TheSceneIsDrawnAgainOnlyAfterAChange) {
  ObjPtr<CAD::IShape> box(ctx->Box(10, 10, 10));
  ObjPtr<CAD::IShapeVis> vis(view->Display(box.Get()));
  view->FitAll();
  view->Redraw();
  long draws = view->GetSceneDrawCount();
  EXPECT_GE(draws, 1);
  // Asked again with nothing changed: the last picture is shown, the scene not drawn.
  view->Redraw();
  view->Paint();
  view->UpdateView();
  view->FinishSelection();
  view->ClearSelection();  // nothing was selected
  view->Redraw();
  EXPECT_EQ(view->GetSceneDrawCount(), draws);

  // Every change is drawn, once, by the next request however many follow.
  auto drawnOnce = [&](const char* what, const std::function<void()>& change) {
    change();
    view->UpdateView();
    view->Redraw();
    view->Paint();
    EXPECT_EQ(view->GetSceneDrawCount(), draws + 1) << what;
    draws = view->GetSceneDrawCount();
  };
  drawnOnce("select", [&] { view->Select(vis.Get()); });
  view->Select(vis.Get());  // already selected: no change
  view->Redraw();
  EXPECT_EQ(view->GetSceneDrawCount(), draws);
  drawnOnce("clear the selection", [&] { view->ClearSelection(); });
  drawnOnce("colour", [&] { vis->SetColor(1, 0, 0); });
  double in = 1.1;
  drawnOnce("zoom", [&] { view->Zoom(in); });
  drawnOnce("pan", [&] {
    int x = 320, y = 240, x2 = 330, y2 = 250;
    view->ButtonDown(x, y);
    view->Drag(x2, y2);
  });
  drawnOnce("fit", [&] { view->FitAll(); });
  drawnOnce("axes", [&] { view->ShowAxes(true); });
  drawnOnce("resize", [&] { view->Resized(); });
  TempDir dir;
  const std::string path = dir / "between.png";
  drawnOnce("picture saved", [&] { ASSERT_TRUE(view->SaveImage(path.c_str(), 64, 48)); });
  ObjPtr<CAD::IShape> ball(ctx->Sphere(4));
  ObjPtr<CAD::IShapeVis> second;
  drawnOnce("display", [&] { second = ObjPtr<CAD::IShapeVis>(view->Display(ball.Get())); });
  drawnOnce("erase", [&] { view->Erase(second.Get()); });
  drawnOnce("delete the selected", [&] {
    view->Select(vis.Get());
    view->DeleteSelected();
  });
  EXPECT_EQ(view->GetDisplayedCount(), 0);
  drawnOnce("display after all",
            [&] { second = ObjPtr<CAD::IShapeVis>(view->Display(ball.Get())); });
  drawnOnce("erase all", [&] { view->EraseAll(); });
}

TEST_F(ViewTest, ZoomPanRotateAndBadInput) {
  ObjPtr<CAD::IShape> box(ctx->Box(10, 10, 10));
  ObjPtr<CAD::IShapeVis> vis(view->Display(box.Get()));
  view->FitAll();
  const double scale = view->GetScale();
  double in = 1.1, out = 1 / 1.1;
  view->Zoom(in);
  EXPECT_NEAR(view->GetScale(), scale * 1.1, scale * 1e-6);
  view->Zoom(out);
  EXPECT_NEAR(view->GetScale(), scale, scale * 1e-6);
  double zero = 0;
  EXPECT_EQ(CodeOf([&] { view->Zoom(zero); }), QZ::eCodeInvalidParameter);

  // A pan moves the box away from the centre; a rotation keeps the view usable.
  int x = 320, y = 240;
  view->ButtonDown(x, y);
  int x2 = 620, y2 = 240;
  view->Drag(x2, y2);
  view->Redraw();
  EXPECT_FALSE(ObjPtr<CAD::IShapeVis>(view->Pick(320, 240)));
  view->RightButtonDown(x, y);
  int x3 = 360, y3 = 260;
  view->RightDrag(x3, y3);
  view->ShowGrid(true);
  view->ShowGrid(false);
  view->ShowAxes(false);
  view->Resized();
  view->UpdateView();
  view->ResetView();
  view->FitAll();
  EXPECT_TRUE(ObjPtr<CAD::IShapeVis>(view->Pick(320, 240)));

  EXPECT_EQ(CodeOf([&] { view->Display(nullptr); }), QZ::eCodeNullShape);
  EXPECT_EQ(CodeOf([&] { ctx->NewView(nullptr, CAD::eViewWindow); }), QZ::eCodeInvalidParameter);
  EXPECT_EQ(CodeOf([&] { ctx->NewView(nullptr, 7); }), QZ::eCodeInvalidParameter);
  EXPECT_EQ(CodeOf([&] { view->SaveImage(nullptr, 10, 10); }), QZ::eCodeInvalidParameter);
  double nanColor = std::nan("");
  EXPECT_EQ(CodeOf([&] { vis->SetColor(nanColor, 0, 0); }), QZ::eCodeInvalidParameter);
}

namespace {

// The grid lies under the box: its plane below the lowest point, its extent beyond the box by
// at least one spacing on each side, its lines at whole multiples of the spacing.
void ExpectGridUnder(const CAD::GridPlacement& g, const double* box) {
  const double largest = std::max({box[3] - box[0], box[4] - box[1], box[5] - box[2]});
  EXPECT_LT(g.z, box[2]);
  EXPECT_GT(g.z, box[2] - largest / 20);  // just below, not far down
  EXPECT_LE(g.xmin, box[0] - g.spacing + 1e-9);
  EXPECT_LE(g.ymin, box[1] - g.spacing + 1e-9);
  EXPECT_GE(g.xmax, box[3] + g.spacing - 1e-9);
  EXPECT_GE(g.ymax, box[4] + g.spacing - 1e-9);
  // Not much beyond: two spacings and the rounding to whole multiples at most.
  EXPECT_LE(g.xmax - g.xmin, box[3] - box[0] + 5 * g.spacing);
  EXPECT_LE(g.ymax - g.ymin, box[4] - box[1] + 5 * g.spacing);
  for (double v : {g.xmin, g.ymin, g.xmax, g.ymax})
    EXPECT_NEAR(v / g.spacing, std::round(v / g.spacing), 1e-9) << v;
  // The spacing: 1, 2 or 5 times a power of ten, about a tenth of the largest side.
  EXPECT_GE(g.spacing, largest / 10 - 1e-9);
  EXPECT_LE(g.spacing, largest / 4 + 1e-9);
  const double mantissa = g.spacing / std::pow(10.0, std::floor(std::log10(g.spacing) + 1e-12));
  EXPECT_TRUE(std::fabs(mantissa - 1) < 1e-9 || std::fabs(mantissa - 2) < 1e-9 ||
              std::fabs(mantissa - 5) < 1e-9)
      << g.spacing;
}

// Pixels of the grid's grey (neither the white background nor a coloured solid).
int GreyPixels(const Png& png) {
  int grey = 0;
  for (unsigned y = 0; y < png.height; ++y)
    for (unsigned x = 0; x < png.width; ++x) {
      const auto* p = png.At(x, y);
      const int lo = std::min({p[0], p[1], p[2]}), hi = std::max({p[0], p[1], p[2]});
      if (hi - lo < 12 && hi < 235 && lo > 60) ++grey;
    }
  return grey;
}

}  // namespace

TEST_F(ViewTest, TheGridLiesUnderWhatIsShownAndFollowsIt) {
  CAD::GridPlacement g{};
  EXPECT_FALSE(view->GetGrid(&g)) << "no grid before ShowGrid";
  EXPECT_EQ(CodeOf([&] { view->GetGrid(nullptr); }), QZ::eCodeInvalidParameter);
  view->ShowGrid(true);
  // Nothing shown: around the origin.
  ASSERT_TRUE(view->GetGrid(&g));
  EXPECT_EQ(g.xmin, -100);
  EXPECT_EQ(g.ymax, 100);
  EXPECT_EQ(g.z, 0);
  EXPECT_EQ(g.spacing, 10);

  // A box far from the origin: 40 by 30 by 20 from (200, -50, 30); spacing 5 (a tenth of 40
  // is 4), one spacing of margin and an even number of cells: x 195 to 245, y -55 to -15.
  ObjPtr<CAD::IShape> box0(ctx->Box(40, 30, 20));
  double m[12];
  Translation(m, 200, -50, 30);
  ObjPtr<CAD::IShape> box(box0->Placed(m));
  ObjPtr<CAD::IShapeVis> boxVis(view->Display(box.Get()));
  ASSERT_TRUE(view->GetGrid(&g));
  double b[6];
  ASSERT_TRUE(box->GetBoundingBox(b));
  ExpectGridUnder(g, b);
  EXPECT_DOUBLE_EQ(g.spacing, 5);
  EXPECT_DOUBLE_EQ(g.xmin, 195);
  EXPECT_DOUBLE_EQ(g.xmax, 245);
  EXPECT_DOUBLE_EQ(g.ymin, -55);
  EXPECT_DOUBLE_EQ(g.ymax, -15);
  EXPECT_NEAR(g.z, 30 - 40.0 / 50, 1e-6);

  // A gear of the catalogue lifted and moved off the origin joins it: the grid spans both.
  ObjPtr<CAD::IShape> gear0(ctx->GetGearFactory()->ExternalGear(12, 3, 20, 20, 0, 0, 0, 12));
  Translation(m, -80, 120, -15);
  ObjPtr<CAD::IShape> gear(gear0->Placed(m));
  ObjPtr<CAD::IShapeVis> gearVis(view->Display(gear.Get()));
  double both[6], gb[6];
  ASSERT_TRUE(gear->GetBoundingBox(gb));
  for (int i = 0; i < 3; ++i) {
    both[i] = std::min(b[i], gb[i]);
    both[i + 3] = std::max(b[i + 3], gb[i + 3]);
  }
  ASSERT_TRUE(view->GetGrid(&g));
  ExpectGridUnder(g, both);
  EXPECT_LT(g.z, -15);

  // Drawn: grey lines under the model; fewer without the grid.
  TempDir dir;
  view->ResetView();
  view->FitAll();
  ASSERT_TRUE(view->SaveImage((dir / "grid.png").c_str(), 320, 240));
  const int withGrid = GreyPixels(ReadPng(dir / "grid.png"));
  view->ShowGrid(false);
  EXPECT_FALSE(view->GetGrid(&g));
  ASSERT_TRUE(view->SaveImage((dir / "nogrid.png").c_str(), 320, 240));
  const int withoutGrid = GreyPixels(ReadPng(dir / "nogrid.png"));
  EXPECT_GT(withGrid, withoutGrid + 1500) << withGrid << " " << withoutGrid;
  view->ShowGrid(true);

  // The gear deleted (selected, then DeleteSelected): back under the box alone.
  view->Select(gearVis.Get());
  view->DeleteSelected();
  ASSERT_TRUE(view->GetGrid(&g));
  ExpectGridUnder(g, b);
  EXPECT_DOUBLE_EQ(g.xmin, 195);
  // Erased, and everything erased: around the origin again.
  ObjPtr<CAD::IShapeVis> again(view->Display(gear.Get()));
  view->Erase(boxVis.Get());
  ASSERT_TRUE(view->GetGrid(&g));
  ExpectGridUnder(g, gb);
  view->EraseAll();
  ASSERT_TRUE(view->GetGrid(&g));
  EXPECT_EQ(g.xmin, -100);
  EXPECT_EQ(g.z, 0);
}

#include <X11/Xlib.h>

TEST(EngineWindowView, DrawsIntoAWindowGivenByItsHandle) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
  // The display stays open for the life of the process, as the viewer's toolkit keeps its own.
  static Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr);
  const Window window =
      XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 150, 0, 0, 0xFFFFFF);
  XMapWindow(display, window);
  XSync(display, False);
  {
    ObjPtr<CAD::ICADContext> ctx(Tools()->NewContext());
    CAD::XWindowHandle handle{display, window};
    ObjPtr<CAD::IView> view(ctx->NewView(&handle, CAD::eViewWindow));
    ASSERT_TRUE(view);
    ObjPtr<CAD::IShape> box(ctx->Box(10, 10, 10));
    ObjPtr<CAD::IShapeVis> vis(view->Display(box.Get()));
    vis->SetColor(0, 0.5, 0);
    view->FitAll();
    view->Paint();
    // Picking uses the window's own size: its centre hits the box.
    ObjPtr<CAD::IShapeVis> hit(view->Pick(100, 75));
    ASSERT_TRUE(hit);
    EXPECT_TRUE(hit->IsSame(vis.Get()));
    XResizeWindow(display, window, 400, 300);
    XSync(display, False);
    view->Resized();
    view->FitAll();
    EXPECT_TRUE(ObjPtr<CAD::IShapeVis>(view->Pick(200, 150)));
    TempDir dir;
    ASSERT_TRUE(view->SaveImage((dir / "w.png").c_str(), 100, 80));
    const Png png = ReadPng(dir / "w.png");
    EXPECT_EQ(png.width, 100u);
    size_t greenish = 0;
    for (unsigned y = 0; y < png.height; ++y)
      for (unsigned x = 0; x < png.width; ++x) {
        const auto* c = png.At(x, y);
        if (c[1] > 60 && c[1] > c[0] + 30 && c[1] > c[2] + 30) ++greenish;
      }
    EXPECT_GT(greenish, 100u);
    EXPECT_FALSE(view->SaveShownImage((dir / "shown.png").c_str())) << "a window's view";
  }
  XDestroyWindow(display, window);
  XSync(display, False);
}

TEST_F(ViewTest, TheDragTurnsOrMovesAsItsModeSaysAndTheRightDragZooms) {
  ObjPtr<CAD::IShape> box(ctx->Box(40, 20, 10));
  ObjPtr<CAD::IShapeVis> vis(view->Display(box.Get()));
  view->FitAll();
  TempDir dir;
  const std::string before = dir / "before.png", turned = dir / "turned.png";
  ASSERT_TRUE(view->SaveImage(before.c_str(), 160, 120));

  // Turning keeps the box under the centre but shows it from elsewhere.
  view->SetDragMode(CAD::eDragRotate);
  int x = 320, y = 240;
  view->ButtonDown(x, y);
  int x2 = 420, y2 = 300;
  view->Drag(x2, y2);
  view->Redraw();
  EXPECT_TRUE(ObjPtr<CAD::IShapeVis>(view->Pick(320, 240)));
  ASSERT_TRUE(view->SaveImage(turned.c_str(), 160, 120));
  EXPECT_NE(dir.Read("before.png"), dir.Read("turned.png"));

  // Moving takes it away from the centre.
  view->SetDragMode(CAD::eDragPan);
  int left = 0, far = 639;
  for (int i = 0; i < 2; ++i) {
    view->ButtonDown(left, y);
    view->Drag(far, y);
  }
  view->Redraw();
  EXPECT_FALSE(ObjPtr<CAD::IShapeVis>(view->Pick(320, 240)));

  // The right drag zooms in going up and to the right, out going back.
  const double scale = view->GetScale();
  view->RightButtonDown(x, y);
  int up = 340, top = 200;
  view->RightDrag(up, top);
  const double zoomed = view->GetScale();
  EXPECT_GT(zoomed, scale * 1.01);
  int back = 320, bottom = 240;
  view->RightDrag(back, bottom);
  EXPECT_LT(view->GetScale(), zoomed);

  EXPECT_EQ(CodeOf([&] { view->SetDragMode(5); }), QZ::eCodeInvalidParameter);
}

namespace {

// A grey wall across the view, a green cylinder wholly behind it, a blue box in front of it
// and a red cylinder behind it standing out above it, on a floor wider than all of them (so
// that the changes below stay within the scene's box). The view looks from +x, -y, +z: what
// lies at a larger y is further away.
class FrontTest : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    if (!view) return;
    floor = Show(ctx->Box(300, 200, 5), 0, -100, -10, 0.8, 0.8, 0.8);
    wall = Show(ctx->Box(300, 10, 250), 0, 0, 0, 0.6, 0.6, 0.6);
    hidden = Show(ctx->Cylinder(10, 40), 100, 40, 30, 0, 0.6, 0);
    front = Show(ctx->Box(50, 30, 50), 120, -60, 60, 0, 0, 0.9);
    standing = Show(ctx->Cylinder(15, 100), 220, 40, 200, 0.8, 0, 0);
    view->FitAll();
    view->Redraw();
  }

  ObjPtr<CAD::IShapeVis> Show(CAD::IShape* made, double x, double y, double z, double r, double g,
                              double b) {
    ObjPtr<CAD::IShape> shape(made);
    double m[12];
    Translation(m, x, y, z);
    ObjPtr<CAD::IShape> placed(shape->Placed(m));
    ObjPtr<CAD::IShapeVis> vis(view->Display(placed.Get()));
    vis->SetColor(r, g, b);
    return vis;
  }

  void SelectOnly(CAD::IShapeVis* vis) {
    view->ClearSelection();
    view->Select(vis);
    view->FinishSelection();
  }

  // What the workspace does when the selected element changed: the selected visual deleted,
  // the new shape shown in its colour and selected, the view drawn again.
  ObjPtr<CAD::IShapeVis> ChangeSelected(CAD::IShape* made, double x, double y, double z, double r,
                                        double g, double b) {
    view->DeleteSelected();
    ObjPtr<CAD::IShapeVis> vis = Show(made, x, y, z, r, g, b);
    view->Select(vis.Get());
    view->Redraw();
    return vis;
  }

  // The picture the view shows now.
  Png Shown(const char* name) {
    const std::string path = dir / name;
    EXPECT_TRUE(view->SaveShownImage(path.c_str())) << name;
    return ReadPng(path);
  }

  // The picture of the same scene drawn whole (Resized changes nothing but makes it draw so).
  Png DrawnWhole(const char* name) {
    const long draws = view->GetSceneDrawCount();
    view->Resized();
    view->Redraw();
    EXPECT_EQ(view->GetSceneDrawCount(), draws + 1);
    return Shown(name);
  }

  // Pixels of the selection's orange (shaded): no other shape here has that hue.
  static size_t Orange(const Png& png) {
    return CountPixels(png, [](const unsigned char* c) {
      return c[0] > 120 && c[0] > c[1] + 30 && c[1] > c[2] + 30;
    });
  }

  TempDir dir;
  ObjPtr<CAD::IShapeVis> floor, wall, hidden, front, standing;
};

}  // namespace

TEST_F(FrontTest, AChangeOfTheSelectedShapeDrawsOnlyItAndGivesTheWholeDrawsPicture) {
  const Png scene = Shown("scene.png");
  ASSERT_EQ(scene.width, 640u);
  ASSERT_EQ(scene.height, 480u);
  EXPECT_EQ(Orange(scene), 0u);

  // In front of the wall: the change is drawn over the kept picture of the rest.
  SelectOnly(front.Get());
  const Png selected = Shown("selected.png");
  EXPECT_GT(Orange(selected), 1000u);
  long draws = view->GetSceneDrawCount();
  front = ChangeSelected(ctx->Box(70, 30, 60), 110, -60, 50, 0, 0, 0.9);
  EXPECT_EQ(view->GetSceneDrawCount(), draws) << "the change drew the whole scene";
  const Png bigger = Shown("bigger.png");
  EXPECT_GT(Orange(bigger), Orange(selected) + 500) << "the bigger box is not shown";
  EXPECT_EQ(Differing(bigger, DrawnWhole("bigger-whole.png")), 0u);

  // Wholly behind the wall: neither the selected cylinder nor its change shows.
  SelectOnly(hidden.Get());
  EXPECT_EQ(Orange(Shown("hidden.png")), 0u) << "the front is drawn over the wall";
  draws = view->GetSceneDrawCount();
  hidden = ChangeSelected(ctx->Cylinder(12, 45), 100, 40, 30, 0, 0.6, 0);
  EXPECT_EQ(view->GetSceneDrawCount(), draws);
  const Png stillHidden = Shown("still-hidden.png");
  EXPECT_EQ(Orange(stillHidden), 0u);
  EXPECT_EQ(Differing(stillHidden, DrawnWhole("still-hidden-whole.png")), 0u);

  // Partly hidden: the wall hides its foot, the rest shows.
  SelectOnly(standing.Get());
  const Png standingSelected = Shown("standing.png");
  draws = view->GetSceneDrawCount();
  standing = ChangeSelected(ctx->Cylinder(20, 100), 220, 35, 200, 0.8, 0, 0);
  EXPECT_EQ(view->GetSceneDrawCount(), draws);
  const Png thicker = Shown("thicker.png");
  EXPECT_GT(Orange(thicker), Orange(standingSelected) + 200);
  EXPECT_EQ(Differing(thicker, DrawnWhole("thicker-whole.png")), 0u);

  // A colour of the selected one is drawn the same way.
  draws = view->GetSceneDrawCount();
  standing = ChangeSelected(ctx->Cylinder(20, 100), 220, 35, 200, 0, 0.8, 0.8);
  EXPECT_EQ(view->GetSceneDrawCount(), draws);
  EXPECT_EQ(Differing(Shown("recoloured.png"), DrawnWhole("recoloured-whole.png")), 0u);

  // Deselected, the shape is back in the scene, drawn there once.
  view->ClearSelection();
  view->Redraw();
  EXPECT_EQ(Orange(Shown("none.png")), 0u);
  EXPECT_EQ(view->GetSceneDrawCount(), draws + 2);
}

TEST_F(FrontTest, WhatIsNotSelectedOrMovesTheDepthRangeIsDrawnWhole) {
  SelectOnly(front.Get());
  const Png selected = Shown("selected.png");

  // Another shape's colour, erase or display changes the kept picture.
  long draws = view->GetSceneDrawCount();
  standing->SetColor(0, 0, 0.9);
  view->Redraw();
  EXPECT_EQ(view->GetSceneDrawCount(), draws + 1);
  const Png recoloured = Shown("recoloured.png");
  EXPECT_GT(Differing(recoloured, selected), 500u);
  EXPECT_EQ(Differing(recoloured, DrawnWhole("recoloured-whole.png")), 0u);
  draws = view->GetSceneDrawCount();
  view->Erase(wall.Get());
  view->Redraw();
  EXPECT_EQ(view->GetSceneDrawCount(), draws + 1);
  EXPECT_GT(Orange(Shown("no-wall.png")), 0u) << "the wall hid nothing orange";
  draws = view->GetSceneDrawCount();
  wall = Show(ctx->Box(300, 10, 250), 0, 0, 0, 0.6, 0.6, 0.6);
  view->Redraw();
  EXPECT_EQ(view->GetSceneDrawCount(), draws + 1);

  // The selected box moved far towards the eye (beyond the room the depth fit keeps around the
  // model), where it covers the same place of the picture: the depth range the scene was drawn
  // with no longer holds it, so the scene is drawn whole, as it would be.
  draws = view->GetSceneDrawCount();
  front = ChangeSelected(ctx->Box(50, 30, 50), 750, -660, 690, 0, 0, 0.9);
  EXPECT_EQ(view->GetSceneDrawCount(), draws + 1);
  const Png moved = Shown("moved.png");
  EXPECT_GT(Orange(moved), 1000u);
  EXPECT_EQ(Differing(moved, DrawnWhole("moved-whole.png")), 0u);

  // A shape shown and not selected before the draw is part of the scene.
  draws = view->GetSceneDrawCount();
  ObjPtr<CAD::IShapeVis> extra = Show(ctx->Sphere(20), 50, -40, 200, 0.9, 0.9, 0);
  view->Redraw();
  EXPECT_EQ(view->GetSceneDrawCount(), draws + 1);
  EXPECT_EQ(Differing(Shown("extra.png"), DrawnWhole("extra-whole.png")), 0u);
}

TEST_F(FrontTest, VisualsKeptInFrontChangeWithTheSelectedOneWithoutAWholeDraw) {
  // The red cylinder changes with the box (as the sections of a shaft do).
  SelectOnly(front.Get());
  CAD::IShapeVis* kept[] = {standing.Get()};
  view->KeepInFront(kept, 1);
  view->Redraw();
  long draws = view->GetSceneDrawCount();
  view->Erase(standing.Get());
  standing = Show(ctx->Cylinder(25, 100), 220, 40, 200, 0.8, 0, 0);
  view->DeleteSelected();
  front = Show(ctx->Box(60, 30, 50), 120, -60, 60, 0, 0, 0.9);
  CAD::IShapeVis* again[] = {standing.Get()};
  view->KeepInFront(again, 1);
  view->Select(front.Get());
  view->Redraw();
  EXPECT_EQ(view->GetSceneDrawCount(), draws);
  const Png changed = Shown("changed.png");
  EXPECT_EQ(Differing(changed, DrawnWhole("changed-whole.png")), 0u);

  // Given back to the scene, it is drawn there once; a visual the view does not show is left
  // out.
  draws = view->GetSceneDrawCount();
  view->KeepInFront(nullptr, 0);
  view->Redraw();
  EXPECT_EQ(view->GetSceneDrawCount(), draws + 1);
  EXPECT_EQ(Differing(Shown("back.png"), changed), 0u);
  ObjPtr<CAD::IShape> box(ctx->Box(1, 1, 1));
  ObjPtr<CAD::IShapeVis> gone(view->Display(box.Get()));
  view->Erase(gone.Get());
  CAD::IShapeVis* notShown[] = {gone.Get()};
  view->KeepInFront(notShown, 1);
  EXPECT_FALSE(gone->IsDisplayed());
  EXPECT_EQ(CodeOf([&] { view->KeepInFront(nullptr, 2); }), QZ::eCodeInvalidParameter);
}

TEST_F(ViewTest, TheShownPictureIsReadAsDrawnAndOnlyWhileItHoldsTheLastDraw) {
  TempDir dir;
  const std::string path = dir / "shown.png";
  EXPECT_FALSE(view->SaveShownImage(path.c_str())) << "nothing drawn yet";
  ObjPtr<CAD::IShape> box(ctx->Box(10, 10, 10));
  ObjPtr<CAD::IShapeVis> vis(view->Display(box.Get()));
  vis->SetColor(0, 0.5, 0);
  view->FitAll();
  view->Redraw();
  ASSERT_TRUE(view->SaveShownImage(path.c_str()));
  const Png shown = ReadPng(path);
  EXPECT_EQ(shown.width, 640u);
  EXPECT_GT(CountNear(shown, 255, 255, 255, 3), shown.width * shown.height / 2);
  EXPECT_LT(CountNear(shown, 255, 255, 255, 3), shown.width * shown.height - 1000)
      << "the box is not in the picture";
  // A picture saved at another size is drawn into the same buffers: until the next draw there
  // is no shown picture to read.
  ASSERT_TRUE(view->SaveImage((dir / "small.png").c_str(), 64, 48));
  EXPECT_FALSE(view->SaveShownImage(path.c_str()));
  view->Redraw();
  ASSERT_TRUE(view->SaveShownImage((dir / "again.png").c_str()));
  EXPECT_EQ(dir.Read("again.png"), dir.Read("shown.png"));
  EXPECT_EQ(CodeOf([&] { view->SaveShownImage(nullptr); }), QZ::eCodeInvalidParameter);
}

TEST_F(ViewTest, ShapesMadeReadyAreShownAndPickedAsShapesShownStraightAway) {
  // Two sets of the same elements, each solid of its own, placed side by side: one set made ready
  // (Prepare) in this view, the other shown straight away in a second view.
  auto elements = [&] {
    std::vector<ObjPtr<CAD::IShape>> made;
    made.emplace_back(ctx->GetGearFactory()->ExternalGear(23, 2, 12, 20, 0, 0, 0, 8));
    made.emplace_back(ctx->GetFastenerFactory()->BoltHex(16, 6.4, 0.6, 14.6, 20, 26, 10, 10));
    made.emplace_back(ctx->GetBeamFactory()->Circular(40, 30, 4));
    made.emplace_back(ctx->GetBearingFactory()->RollingBearing(62, 30, 16, 0));
    made.emplace_back(ctx->Box(30, 20, 10));
    std::vector<ObjPtr<CAD::IShape>> placed;
    double m[12];
    for (size_t i = 0; i < made.size(); ++i) {
      Translation(m, 70.0 * (i % 3), 70.0 * (i / 3), 0);
      placed.emplace_back(made[i]->Placed(m));
    }
    return placed;
  };
  ctx->SetSharedSolids(false);
  const auto ready = elements(), straight = elements();
  ctx->SetSharedSolids(true);
  const size_t n = ready.size();
  ObjPtr<CAD::IView> other(ctx->NewView(nullptr, CAD::eViewOffscreen));
  ASSERT_TRUE(other);
  std::vector<CAD::IShape*> raw;
  for (const auto& s : ready) raw.push_back(s.Get());
  view->Prepare(raw.data(), static_cast<int>(raw.size()));
  std::vector<ObjPtr<CAD::IShapeVis>> shownReady, shownStraight;
  for (size_t i = 0; i < n; ++i) {
    const double r = 0.2 * i, g = 1.0 - 0.2 * i, b = 0.5;
    shownReady.emplace_back(view->Display(ready[i].Get()));
    shownReady.back()->SetColor(r, g, b);
    shownStraight.emplace_back(other->Display(straight[i].Get()));
    shownStraight.back()->SetColor(r, g, b);
  }
  EXPECT_EQ(view->GetDisplayedCount(), static_cast<int>(n));
  EXPECT_EQ(other->GetDisplayedCount(), static_cast<int>(n));
  for (CAD::IView* v : {view.Get(), other.Get()}) {
    v->FitAll();
    v->Redraw();
  }
  EXPECT_NEAR(view->GetScale(), other->GetScale(), 1e-9 * other->GetScale());

  // The same picture: the meshes of curved faces are the same, planar faces cover the same
  // outlines (allowed: a pixel here and there where two triangles meet differently; a mesh
  // coarser than the display asks for changes some hundreds).
  TempDir dir;
  ASSERT_TRUE(view->SaveImage((dir / "ready.png").c_str(), 400, 300));
  ASSERT_TRUE(other->SaveImage((dir / "straight.png").c_str(), 400, 300));
  const Png a = ReadPng(dir / "ready.png"), b = ReadPng(dir / "straight.png");
  EXPECT_LT(Differing(a, b), a.width * a.height / 1000) << "pixels that differ";
  EXPECT_LT(CountNear(a, 255, 255, 255, 3), a.width * a.height * 9 / 10) << "something is drawn";

  // Every point of the window picks the same element in both views, and every element is picked.
  auto indexOf = [](const std::vector<ObjPtr<CAD::IShapeVis>>& shown, CAD::IShapeVis* hit) {
    for (size_t i = 0; i < shown.size(); ++i)
      if (hit && hit->IsSame(shown[i].Get())) return static_cast<int>(i);
    return hit ? -2 : -1;
  };
  std::vector<int> picked(n, 0);
  int points = 0, same = 0;
  for (int y = 4; y < 480; y += 12)
    for (int x = 4; x < 640; x += 12) {
      ObjPtr<CAD::IShapeVis> hitReady(view->Pick(x, y)), hitStraight(other->Pick(x, y));
      const int i = indexOf(shownReady, hitReady.Get());
      const int j = indexOf(shownStraight, hitStraight.Get());
      ASSERT_NE(i, -2);
      ++points;
      if (i == j) ++same;
      if (i >= 0) ++picked[i];
    }
  EXPECT_GE(same, points - 2) << "of " << points << " points";
  for (size_t i = 0; i < n; ++i) EXPECT_GT(picked[i], 0) << "element " << i;
  // A picked element is the one selected.
  view->ClearSelection();
  for (int y = 4, found = 0; y < 480 && !found; y += 12)
    for (int x = 4; x < 640 && !found; x += 12) {
      ObjPtr<CAD::IShapeVis> hit(view->Pick(x, y));
      if (indexOf(shownReady, hit.Get()) != 0) continue;
      view->Select(hit.Get());
      EXPECT_EQ(view->GetSelectedCount(), 1);
      found = 1;
    }
  EXPECT_EQ(view->GetSelectedCount(), 1);
}
