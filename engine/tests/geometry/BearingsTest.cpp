// Bearings: every kind is a valid compound of rings and rolling elements of the given bore,
// outside diameter and width, whose elements sit on the pitch circle and touch no ring.
#include "GeometryFixture.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>

#include <cmath>
#include <vector>

using namespace geometry_test;

namespace {

QZ::CAD::IBearingFactory* Bearings() { return cad_engine::BearingFactory(); }

struct Parts {
  std::vector<TopoDS_Shape> rings, elements;
};

// Rings turn about the axis (their box is centred on it); rolling elements do not.
Parts Split(const TopoDS_Shape& s) {
  Parts p;
  for (TopExp_Explorer e(s, TopAbs_SOLID); e.More(); e.Next()) {
    Bnd_Box b;
    BRepBndLib::AddOptimal(e.Current(), b, false, false);
    double x0, y0, z0, x1, y1, z1;
    b.Get(x0, y0, z0, x1, y1, z1);
    const bool centred = std::fabs(x0 + x1) < 1e-3 && std::fabs(y0 + y1) < 1e-3 && x1 - x0 > 1;
    (centred ? p.rings : p.elements).push_back(e.Current());
  }
  return p;
}

gp_Pnt Centre(const TopoDS_Shape& s) {
  GProp_GProps g;
  BRepGProp::VolumeProperties(s, g);
  return g.CentreOfMass();
}

}  // namespace

TEST(Bearings, EveryKindHasItsSizesAndElementsOnThePitchCircleClearOfTheRings) {
  const double dout = 62, din = 30, B = 16;
  for (int type = -2; type <= 18; ++type) {
    SCOPED_TRACE(testing::Message() << "type " << type);
    auto bearing = Build([&] {
      if (type == -2) return Bearings()->SlidingBearing(dout, din, B);
      if (type == -1) return Bearings()->RollerBearing(dout, din, B);
      return Bearings()->RollingBearing(dout, din, B, type);
    });
    ASSERT_TRUE(bearing);
    const TopoDS_Shape& s = bearing->Kernel();
    EXPECT_TRUE(Valid(s));
    double box[6];
    BoxOf(bearing->shape, box);
    EXPECT_NEAR(box[0], -dout / 2, 1e-6);
    EXPECT_NEAR(box[3], dout / 2, 1e-6);
    EXPECT_NEAR(box[2], 0, 1e-6);
    EXPECT_NEAR(box[5], B, 1e-6);
    // The bore is free and of the given diameter.
    EXPECT_TRUE(Outside(s, gp_Pnt(din / 2 - 0.01, 0, B / 2)));
    if (type == -2) {
      EXPECT_TRUE(Inside(s, gp_Pnt(din / 2 + 0.01, 0, B / 2)));
      EXPECT_EQ(SolidCount(s), 1);
      continue;
    }
    const Parts p = Split(s);
    EXPECT_GE(p.rings.size(), 2u);
    EXPECT_LE(p.rings.size(), 3u);
    ASSERT_GE(p.elements.size(), 6u);
    // The counts the engine's README states for this size: 12 balls, 15 rollers.
    if (type == 0) {
      EXPECT_EQ(p.elements.size(), 12u);
    }
    if (type == -1 || type == 10) {
      EXPECT_EQ(p.elements.size(), 15u);
    }
    EXPECT_LE(p.elements.size(), 80u);
    // Elements on the pitch circle (their centres within 10 % of the mean diameter's radius).
    const double rm = (dout + din) / 4;
    for (size_t i = 0; i < p.elements.size(); i += p.elements.size() / 3 + 1) {
      const gp_Pnt c = Centre(p.elements[i]);
      EXPECT_NEAR(std::hypot(c.X(), c.Y()), rm, 0.1 * rm);
      for (const auto& ring : p.rings) EXPECT_GT(Distance(p.elements[i], ring), 1e-4);
    }
    // Neighbouring elements do not touch either.
    EXPECT_GT(Distance(p.elements[0], p.elements[1]), 1e-4);
  }
}

TEST(Bearings, ImpossibleSizesAndUnknownTypesAreRefused) {
  const int bad = QZ::eCodeInvalidParameter;
  std::string text;
  EXPECT_EQ(ErrorOf([] { return Bearings()->RollingBearing(30, 40, 10, 0); }, &text), bad);
  EXPECT_NE(text.find("din must be below dout"), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([] { return Bearings()->RollingBearing(60, 30, 0, 0); }), bad);
  EXPECT_EQ(ErrorOf([] { return Bearings()->RollingBearing(60, 30, 10, 19); }), bad);
  EXPECT_EQ(ErrorOf([] { return Bearings()->RollingBearing(60, 30, 10, -1); }), bad);
  EXPECT_EQ(ErrorOf([] { return Bearings()->SlidingBearing(60, 60, 10); }), bad);
  EXPECT_EQ(ErrorOf([] { return Bearings()->RollerBearing(-60, 30, 10); }), bad);
  // Rings with no room between them.
  EXPECT_EQ(ErrorOf([] { return Bearings()->RollingBearing(10.001, 10, 10, 0); }), bad);
}

namespace {

struct RingsCut {
  explicit RingsCut(bool cut) { cad_engine::SetBearingRingsCut(cut); }
  ~RingsCut() { cad_engine::SetBearingRingsCut(false); }
};

// One bearing built by the booleans and as it is built now: the same refusal, or the same
// solids (volume, exact box, faces and their kinds), the new one valid. True when both built it.
// Where the integrated volumes of a ring differ by more than 1e-9 (the kernel integrates the
// surfaces of revolution of crowned rollers' envelopes only to a few 1e-7), the rings' exact
// volumes from their meridian sections agree to 1e-9 and the new integrated volume is no
// farther from it than the booleans'.
bool SameBothWays(int type, double dout, double din, double B) {
  SCOPED_TRACE(testing::Message() << "type " << type << ", " << dout << " x " << din << " x " << B);
  auto make = [&] {
    return type == -1 ? Bearings()->RollerBearing(dout, din, B)
                      : Bearings()->RollingBearing(dout, din, B, type);
  };
  int cutError = 0, turnedError = 0;
  std::string cutText, turnedText;
  std::vector<SolidMeasure> cut, turned;
  std::vector<TopoDS_Shape> cutSolids, turnedSolids;
  auto solids = [](const TopoDS_Shape& s) {
    std::vector<TopoDS_Shape> out;
    for (TopExp_Explorer e(s, TopAbs_SOLID); e.More(); e.Next()) out.push_back(e.Current());
    return out;
  };
  {
    RingsCut old(true);
    cutError = ErrorOf(
        [&] {
          QZ::CAD::IShape* s = make();
          cut = MeasureSolids(cad_engine::ShapeOf(s));
          cutSolids = solids(cad_engine::ShapeOf(s));
          return s;
        },
        &cutText);
  }
  turnedError = ErrorOf(
      [&] {
        QZ::CAD::IShape* s = make();
        turned = MeasureSolids(cad_engine::ShapeOf(s));
        turnedSolids = solids(cad_engine::ShapeOf(s));
        EXPECT_TRUE(Valid(cad_engine::ShapeOf(s)));
        return s;
      },
      &turnedText);
  EXPECT_EQ(turnedError, cutError) << turnedText << " / " << cutText;
  if (turnedError != cutError) return false;
  ExpectSameSolids(turned, cut, false);
  if (turned.size() != cut.size()) return false;
  for (size_t i = 0; i < cut.size(); ++i) {
    const double was = cut[i].volume, now = turned[i].volume;
    if (std::fabs(now - was) <= 1e-9 * was) continue;
    SCOPED_TRACE(testing::Message() << "solid " << i << ": " << now << " against " << was);
    const double exact = RevolutionVolume(cutSolids[i]);
    EXPECT_NEAR(RevolutionVolume(turnedSolids[i]), exact, 1e-9 * exact);
    EXPECT_LE(std::fabs(now - exact), std::fabs(was - exact));
  }
  return cutError == 0;
}

}  // namespace

// The rings turned from their grooved outlines are the solids the booleans cut from the tubes:
// every kind over a spread of sizes (narrow and wide, thin and thick rings), solid by solid.
TEST(Bearings, RingsTurnedFromTheirOutlinesAreTheRingsTheBooleansCut) {
  cad_engine::SolidMemo::SetEnabled(false);
  struct Size {
    double dout, din, B;
  };
  const Size sizes[] = {{62, 30, 16}, {35, 15, 11},   {120, 60, 30}, {90, 70, 8},
                        {30, 10, 30}, {300, 100, 60}, {12, 4, 4}};
  const long turnedBefore = cad_engine::BearingRingsTurned();
  int compared = 0;
  for (const Size& z : sizes)
    for (int type = -1; type <= 18; ++type)
      if (SameBothWays(type, z.dout, z.din, z.B)) ++compared;
  cad_engine::SolidMemo::SetEnabled(true);
  EXPECT_GT(compared, 100);
  // Most kinds have tubes with grooves that the outline takes: deep groove, cylindrical and
  // needle roller rings, thrust washers.
  EXPECT_GT(cad_engine::BearingRingsTurned() - turnedBefore, 150);
}

// The rings that are no plain tubes with grooves on their sides (angular contact shoulders,
// spherical raceways, lipped washers) and the rings of leaning or crowned roller rows are cut
// from their meridian outlines in their plane and turned: the solids the booleans cut in space,
// over a wider spread of those kinds (small to large, thin to thick rings, narrow to wide).
TEST(Bearings, RingsCutInTheirMeridianPlaneAreTheRingsTheBooleansCut) {
  cad_engine::SolidMemo::SetEnabled(false);
  const long before = cad_engine::BearingRingsOfMeridians();
  int compared = 0, tried = 0;
  for (double dout : {9.0, 62.0, 240.0})
    for (double ratio : {0.3, 0.75})
      for (double wide : {0.35, 1.6})
        for (int type : {2, 3, 4, 8, 9, 12, 13, 14, 17}) {
          const double din = ratio * dout, B = wide * (dout - din) / 2;
          ++tried;
          if (SameBothWays(type, dout, din, B)) ++compared;
        }
  cad_engine::SolidMemo::SetEnabled(true);
  EXPECT_GT(compared, tried / 2) << "too many sizes refused";
  // Every such bearing built has one or two such rings.
  EXPECT_GE(cad_engine::BearingRingsOfMeridians() - before, compared);
}
