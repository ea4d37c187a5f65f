// Beams: sections of the sizes given (areas by hand, roundings included), tapered flanges, and
// the refusal of impossible sizes.
#include "GeometryFixture.h"

#include <cmath>

using namespace geometry_test;

namespace {

QZ::CAD::IBeamFactory* Beams() { return cad_engine::BeamFactory(); }

// Area that a rounding of radius r adds to a concave corner (or takes from a convex one).
double Spandrel(double r) { return (1 - kPi / 4) * r * r; }
}  // namespace

TEST(Beams, EverySectionHasTheAreaAndExtentOfItsSizes) {
  struct Case {
    const char* name;
    std::function<QZ::CAD::IShape*()> build;
    double area;
    double box[4];  // x0, y0, x1, y1
  };
  const double l = 50;
  const std::vector<Case> cases = {
      {"rect tube",
       [&] { return Beams()->Rectangular(40, 30, l, 3); },
       40 * 30 - 34 * 24,
       {0, 0, 30, 40}},
      {"rect solid", [&] { return Beams()->Rectangular(40, 30, l, 0); }, 1200, {0, 0, 30, 40}},
      {"circle tube",
       [&] { return Beams()->Circular(40, l, 4); },
       kPi / 4 * (1600 - 1024),
       {-20, -20, 20, 20}},
      {"ellipse tube",
       [&] { return Beams()->Elliptical(60, 30, l, 3); },
       kPi / 4 * (60 * 30 - 54 * 24),
       {-30, -15, 30, 15}},
      {"L",
       [&] { return Beams()->BeamL(60, 40, 6, 5, l); },
       40 * 6 + 54 * 6 + Spandrel(5),
       {0, 0, 40, 60}},
      {"Z",
       [&] { return Beams()->BeamZ(80, 40, 8, 6, 6, 3, l); },
       2 * 40 * 8 + 64 * 6 + 2 * Spandrel(6) - 2 * Spandrel(3),
       {0, 0, 74, 80}},
      {"I",
       [&] { return Beams()->BeamI(100, 50, 7, 4.5, 7, 3, l, false); },
       2 * 50 * 7 + 86 * 4.5 + 4 * Spandrel(7) - 4 * Spandrel(3),
       {0, 0, 50, 100}},
      {"U",
       [&] { return Beams()->BeamU(100, 50, 8.5, 6, 8.5, 4.5, l, false); },
       2 * 50 * 8.5 + 83 * 6 + 2 * Spandrel(8.5) - 2 * Spandrel(4.5),
       {0, 0, 50, 100}},
      {"T",
       [&] { return Beams()->BeamT(50, 50, 6, 6, 6, 3, 1.5, l, false); },
       50 * 6 + 44 * 6 + 2 * Spandrel(6) - 2 * Spandrel(3) - 2 * Spandrel(1.5),
       {0, 0, 50, 50}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto beam = Build(c.build);
    ASSERT_TRUE(beam);
    EXPECT_TRUE(Valid(beam->Kernel()));
    EXPECT_NEAR(Volume(beam->Kernel()), c.area * l, 1e-6 * c.area * l);
    double box[6];
    BoxOf(beam->shape, box);
    EXPECT_NEAR(box[0], c.box[0], 1e-6);
    EXPECT_NEAR(box[1], c.box[1], 1e-6);
    EXPECT_NEAR(box[3], c.box[2], 1e-6);
    EXPECT_NEAR(box[4], c.box[3], 1e-6);
    EXPECT_NEAR(box[2], 0, 1e-6);
    EXPECT_NEAR(box[5], l, 1e-6);
  }
}

TEST(Beams, TaperedFlangesSlopeAndKeepTheirMeanThickness) {
  auto straight = Build([] { return Beams()->BeamI(200, 90, 11.3, 7.5, 0, 0, 10, false); });
  auto tapered = Build([] { return Beams()->BeamI(200, 90, 11.3, 7.5, 0, 0, 10, true); });
  ASSERT_TRUE(straight && tapered);
  EXPECT_TRUE(Valid(tapered->Kernel()));
  EXPECT_NEAR(Volume(tapered->Kernel()), Volume(straight->Kernel()), 1e-6);
  // 14 % over the flange's run of (b - s) / 2 = 41.25: 2.89 thinner at the tip.
  const gp_Pnt nearTip(89.9, 11.3 - 1.0, 5);
  EXPECT_TRUE(Inside(straight->Kernel(), nearTip));
  EXPECT_TRUE(Outside(tapered->Kernel(), nearTip));
  EXPECT_TRUE(Inside(tapered->Kernel(), gp_Pnt(90 / 2.0 + 7.5 / 2 + 0.1, 11.3 + 2.0, 5)));
  auto channel = Build([] { return Beams()->BeamU(100, 50, 8.5, 6, 0, 0, 10, true); });
  ASSERT_TRUE(channel);
  EXPECT_TRUE(Valid(channel->Kernel()));
  auto tee = Build([] { return Beams()->BeamT(50, 50, 6, 6, 3, 1.5, 1, 10, true); });
  ASSERT_TRUE(tee);
  EXPECT_TRUE(Valid(tee->Kernel()));
}

TEST(Beams, ImpossibleSizesAreRefused) {
  const int bad = QZ::eCodeInvalidParameter;
  EXPECT_EQ(ErrorOf([] { return Beams()->Rectangular(40, 30, 50, 15); }), bad);
  EXPECT_EQ(ErrorOf([] { return Beams()->Rectangular(0, 30, 50, 1); }), bad);
  EXPECT_EQ(ErrorOf([] { return Beams()->Circular(40, -1, 2); }), bad);
  EXPECT_EQ(ErrorOf([] { return Beams()->Circular(40, 10, 20); }), bad);
  EXPECT_EQ(ErrorOf([] { return Beams()->Elliptical(40, 10, 10, 5); }), bad);
  EXPECT_EQ(ErrorOf([] { return Beams()->BeamL(60, 40, 0, 5, 10); }), bad);
  EXPECT_EQ(ErrorOf([] { return Beams()->BeamL(60, 40, 6, 50, 10); }), bad);
  EXPECT_EQ(ErrorOf([] { return Beams()->BeamI(100, 50, 60, 5, 0, 0, 10, false); }), bad);
  EXPECT_EQ(ErrorOf([] { return Beams()->BeamU(100, 5, 8, 6, 0, 0, 10, false); }), bad);
  EXPECT_EQ(ErrorOf([] { return Beams()->BeamT(50, 50, 6, 6, 6, 3, -1, 10, false); }), bad);
  EXPECT_EQ(ErrorOf([] { return Beams()->BeamZ(80, 40, 8, 6, 6, 3, NAN); }), bad);
}
