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

// --- Every kind measured against its catalogue line ----------------------------------------------
//
// The figures below come from the catalogue of kinds (engine/README.md), computed here from the
// sizes alone: each row's element diameter Dw, centre, tilt and length; the number of elements
// that fit on the row's narrowest circle with 1.15 element widths between centres; the volume
// of each element from its dimensions (ball, cylinder, frustum, crowned barrel); the rings'
// extents; and, where a ring is a plain tube with grooves on its sides, its volume by Pappus
// from its meridian rectangle less the segments of the balls' envelopes or the rectangles of
// the rollers'.

namespace {

struct ExpectedRow {
  bool ball = true;
  double r = 0, z = 0, tilt = 0;      // centre in the meridian plane, axis from z towards x
  double d1 = 0, d2 = 0, length = 0;  // ball: d1
  double crown = 0, clearance = 0;    // barrel's extra radius in the middle; running clearance
};

// A ring in the meridian plane: its extents, and whether it is a plain tube r0..r1 x z0..z1.
struct ExpectedRing {
  double r0 = 0, r1 = 0, z0 = 0, z1 = 0;
  bool tube = true;
};

struct ExpectedBearing {
  std::vector<ExpectedRow> rows;
  std::vector<ExpectedRing> rings;
};

// The least radius of a ring r0..ro x 0..B less the sphere of radius rs about (0, B / 2): where
// the sphere leaves its ends.
double Within(double rs, double r0, double B) {
  return std::max(r0, std::sqrt(std::max(0.0, rs * rs - B * B / 4)));
}

// The catalogue line of a rolling bearing type at a size.
ExpectedBearing Catalogue(int type, double dout, double din, double B) {
  const double ri = din / 2, ro = dout / 2, H = ro - ri, rm = (ro + ri) / 2, fit = 0.04 * H;
  ExpectedBearing x;
  auto ball = [&](double z, double d) {
    ExpectedRow w;
    w.r = rm, w.z = z, w.d1 = w.d2 = d, w.clearance = 0.02 * d;
    x.rows.push_back(w);
  };
  auto roller = [&](double z, double tilt, double d1, double d2, double len, double crown,
                    double clearance) {
    ExpectedRow w;
    w.ball = false;
    w.r = rm, w.z = z, w.tilt = tilt * kPi / 180, w.d1 = d1, w.d2 = d2, w.length = len;
    w.crown = crown, w.clearance = clearance;
    x.rows.push_back(w);
  };
  auto ring = [&](double r0, double r1, double z0, double z1, bool tube = true) {
    x.rings.push_back({r0, r1, z0, z1, tube});
  };
  auto radial = [&](double gap, bool tubes = true) {
    ring(ri, rm - gap, 0, B, tubes);
    ring(rm + gap, ro, 0, B, tubes);
  };
  switch (type) {
    case 0: {
      const double d = std::min(0.6 * H, 0.7 * B);
      ball(B / 2, d);
      radial(0.3 * d);
      break;
    }
    case 1: {
      const double d = std::min(0.6 * H, 0.4 * B);
      ball(B / 4, d);
      ball(3 * B / 4, d);
      radial(0.3 * d);
      break;
    }
    case 2:
    case 3: {  // the outer ring's shoulders lowered: no plain tube
      const double d = std::min(0.6 * H, type == 2 ? 0.7 * B : 0.4 * B);
      if (type == 2) ball(B / 2, d);
      if (type == 3) ball(B / 4, d), ball(3 * B / 4, d);
      ring(ri, rm - 0.3 * d, 0, B);
      ring(rm + 0.3 * d, ro, 0, B, false);
      break;
    }
    case 4: {  // the outer ring turned from the axis out, less a sphere
      const double d = std::min(0.5 * H, 0.38 * B);
      ball(B / 2 - 0.22 * B, d);
      ball(B / 2 + 0.22 * B, d);
      ring(ri, rm - 0.3 * d, 0, B);
      ring(Within(std::hypot(rm, 0.22 * B) + d / 2 + 0.02 * d, 0, B), ro, 0, B, false);
      break;
    }
    case 5: {
      const double d = std::min(0.6 * H, 0.7 * B);
      ball(B / 2, d);
      ring(ri, rm - 0.3 * d, 0, B / 2);
      ring(ri, rm - 0.3 * d, B / 2, B);
      ring(rm + 0.3 * d, ro, 0, B);
      break;
    }
    case 6:
    case 8: {
      const double d = std::min(0.6 * H, 0.7 * B);
      ball(B / 2, d);
      ring(ri, ro - fit, 0, B / 2 - 0.2 * d);
      ring(ri + fit, ro, type == 8 ? B / 2 : B / 2 + 0.2 * d, B, type == 6);
      break;
    }
    case 7:
    case 9: {
      const double d = std::min(0.6 * H, 0.35 * B), lip = type == 9;
      ball(B / 4, d);
      ball(3 * B / 4, d);
      ring(ri + fit, ro, 0, lip ? B / 4 : B / 4 - 0.2 * d, !lip);
      ring(ri, lip ? rm + 0.55 * d : ro - fit, B / 4 + 0.2 * d, 3 * B / 4 - 0.2 * d);
      ring(ri + fit, ro, lip ? 3 * B / 4 : 3 * B / 4 + 0.2 * d, B, !lip);
      break;
    }
    case 10: {
      const double d = std::min(0.5 * H, 0.6 * B);
      roller(B / 2, 0, d, d, std::min(d, 0.6 * B), 0, 0.02 * d);
      radial(0.2 * d);
      break;
    }
    case 11: {
      const double d = std::min(0.5 * H, 0.35 * B), len = std::min(d, 0.3 * B);
      roller(B / 4, 0, d, d, len, 0, 0.02 * d);
      roller(3 * B / 4, 0, d, d, len, 0, 0.02 * d);
      radial(0.2 * d);
      break;
    }
    case 12: {  // cone and cup cut by leaning rollers
      const double d = std::min(0.45 * H, 0.5 * B);
      roller(B / 2, 15, 0.85 * d, 1.15 * d, 0.6 * B, 0, 0.03 * d);
      radial(0.15 * d, false);
      break;
    }
    case 13: {
      const double d = std::min(0.5 * H, 0.6 * B), len = std::min(0.8 * d, 0.6 * B);
      roller(B / 2, 0, 0.85 * d, 0.85 * d, len, 0.075 * d, 0.03 * d);
      ring(ri, rm - 0.2 * d, 0, B, false);
      ring(Within(std::hypot(rm + 0.6 * d, len / 2) + 0.03 * d, rm + 0.2 * d, B), ro, 0, B, false);
      break;
    }
    case 14: {
      const double d = std::min(0.45 * H, 0.35 * B), len = std::min(0.9 * d, 0.35 * B);
      roller(B / 2 - 0.24 * B, 10, 0.85 * d, 0.85 * d, len, 0.075 * d, 0.03 * d);
      roller(B / 2 + 0.24 * B, -10, 0.85 * d, 0.85 * d, len, 0.075 * d, 0.03 * d);
      ring(ri, rm - 0.25 * d, 0, B, false);
      const double rs = std::hypot(rm, 0.24 * B) + d / 2 + 0.2 * len + 0.03 * d;
      ring(Within(rs, rm + 0.2 * d, B), ro, 0, B, false);
      break;
    }
    case 15: {
      const double d = std::min(0.45 * B, 0.4 * H);
      roller(B / 2, 90, d, d, 0.6 * H, 0, 0.02 * d);
      ring(ri, ro - fit, 0, B / 2 - 0.3 * d);
      ring(ri + fit, ro, B / 2 + 0.3 * d, B);
      break;
    }
    case 16: {
      const double d = std::min(0.25 * B, 0.4 * H);
      roller(B / 4, 90, d, d, 0.6 * H, 0, 0.02 * d);
      roller(3 * B / 4, 90, d, d, 0.6 * H, 0, 0.02 * d);
      ring(ri + fit, ro, 0, B / 4 - 0.3 * d);
      ring(ri, ro - fit, B / 4 + 0.3 * d, 3 * B / 4 - 0.3 * d);
      ring(ri + fit, ro, 3 * B / 4 + 0.3 * d, B);
      break;
    }
    case 17: {
      const double d = std::min(0.35 * B, 0.3 * H);
      roller(B / 2, 45, 0.85 * d, 0.85 * d, std::min(0.5 * H, 0.6 * B), 0.075 * d, 0.03 * d);
      ring(ri, ro - fit, 0, 0.25 * B, false);
      ring(rm - 0.1 * H, ro, 0.45 * B, B, false);
      break;
    }
    case 18: {
      const double d = std::min(0.2 * H, 0.3 * B);
      roller(B / 2, 0, d, d, 0.8 * B, 0, 0.02 * d);
      radial(0.3 * d);
      break;
    }
  }
  return x;
}

// Elements of a row: as many as fit on its narrowest circle with 1.15 widths between centres.
int ElementsOfRow(const ExpectedRow& w) {
  const double width = w.ball ? w.d1 : std::max(w.d1, w.d2) + 2 * w.crown;
  const double r = w.r - std::fabs(std::sin(w.tilt)) * w.length / 2;
  return static_cast<int>(std::floor(kPi / std::asin(0.575 * width / r)));
}

// An element's volume from its dimensions; along its axis, how far its centroid lies from its
// centre (towards the d2 end).
double ElementVolume(const ExpectedRow& w, double* shift) {
  *shift = 0;
  if (w.ball) return kPi * w.d1 * w.d1 * w.d1 / 6;
  const double h = w.length / 2, a = w.d1 / 2, b = w.d2 / 2;
  if (w.crown <= 0) {
    // A frustum (a cylinder when a = b), its centroid from the middle.
    *shift = w.length * (b * b - a * a) / (4 * (a * a + a * b + b * b));
    return kPi * w.length * (a * a + a * b + b * b) / 3;
  }
  // A barrel: the arc through (a, -h), (a + crown, 0), (a, h) about the centre (uc, 0) of
  // radius rho, turned about the axis: pi times the integral of (uc + sqrt(rho^2 - v^2))^2.
  const double m = w.crown, rho = (h * h - m * m) / (2 * m) + m, uc = a + m - rho;
  const double root = h * std::sqrt(rho * rho - h * h) + rho * rho * std::asin(h / rho);
  return kPi * ((uc * uc + rho * rho) * 2 * h - 2 * h * h * h / 3 + 2 * uc * root);
}

// The part of a row's envelope within a tube's meridian rectangle, by Pappus: its area times
// 2 pi times its centroid's radius. A ball's envelope is a circle that crosses one side of the
// rectangle (a segment inside); a roller's, whose axis runs along z or radially, a rectangle.
double EnvelopeInTube(const ExpectedRow& w, const ExpectedRing& g) {
  if (w.ball) {
    const double R = w.d1 / 2 + w.clearance, cr = w.r, cz = w.z;
    const double tol = 1e-12 * (cr + std::fabs(cz) + R);
    if (cr - R >= g.r1 || cr + R <= g.r0 || cz - R >= g.z1 || cz + R <= g.z0) return 0;
    // The side the centre lies beyond, and the centre's distance from it.
    double off = 0, outwards = 0;  // outwards: +1 or -1 for the radial sides, 0 the axial ones
    if (cr >= g.r1 - tol)
      off = cr - g.r1, outwards = -1;
    else if (cr <= g.r0 + tol)
      off = g.r0 - cr, outwards = 1;
    else if (cz >= g.z1 - tol)
      off = cz - g.z1;
    else if (cz <= g.z0 + tol)
      off = g.z0 - cz;
    else
      return -1;  // the centre within the ring: no groove
    if (off >= R) return 0;
    const double area = R * R * std::acos(off / R) - off * std::sqrt(R * R - off * off);
    const double reach = 2 * std::pow(R * R - off * off, 1.5) / (3 * area);  // from the centre
    const double radius = cr + outwards * reach;
    // A ring split at the row's middle holds the half of the segment on its side.
    const bool split = outwards != 0 && (std::fabs(cz - g.z0) < tol || std::fabs(cz - g.z1) < tol);
    return (split ? 0.5 : 1) * 2 * kPi * area * radius;
  }
  const bool radialAxis = std::fabs(std::sin(w.tilt)) > 0.5;
  const double along = w.length / 2 + w.clearance, across = w.d1 / 2 + w.clearance;
  const double hr = radialAxis ? along : across, hz = radialAxis ? across : along;
  const double a0 = std::max(g.r0, w.r - hr), a1 = std::min(g.r1, w.r + hr);
  const double b0 = std::max(g.z0, w.z - hz), b1 = std::min(g.z1, w.z + hz);
  if (a1 <= a0 || b1 <= b0) return 0;
  return kPi * (a1 * a1 - a0 * a0) * (b1 - b0);
}

// A solid's meridian section: its common with the half plane y = 0, x > 0.
TopoDS_Shape MeridianSection(const TopoDS_Shape& solid) {
  const TopoDS_Face half =
      BRepBuilderAPI_MakeFace(gp_Pln(gp_Ax3(gp::Origin(), gp::DY(), gp::DX())), 0, 1e6, -1e6, 1e6)
          .Face();
  BRepAlgoAPI_Common section(solid, half);
  return section.IsDone() ? section.Shape() : TopoDS_Shape();
}

// One bearing against its catalogue line; false when the engine refused the size.
bool MatchesCatalogue(int type, double dout, double din, double B) {
  SCOPED_TRACE(testing::Message() << "type " << type << ", " << dout << " x " << din << " x " << B);
  QZ::CAD::IShape* made = nullptr;
  std::string refusal;
  const int error = ErrorOf(
      [&] {
        made = Bearings()->RollingBearing(dout, din, B, type);
        made->AddRef();
        return made;
      },
      &refusal);
  if (error != 0) {
    // Only sizes where the rolling elements or the raceways have no room are refused.
    EXPECT_EQ(error, QZ::eCodeInvalidParameter) << refusal;
    return false;
  }
  Built bearing(made);
  const ExpectedBearing x = Catalogue(type, dout, din, B);
  std::vector<TopoDS_Shape> solids;
  for (TopExp_Explorer e(bearing.Kernel(), TopAbs_SOLID); e.More(); e.Next())
    solids.push_back(e.Current());
  size_t elements = 0;
  for (const ExpectedRow& w : x.rows) elements += ElementsOfRow(w);
  EXPECT_EQ(solids.size(), x.rings.size() + elements);
  if (solids.size() != x.rings.size() + elements) return true;
  const double scale = dout / 2 + B;
  // The rings first, in the catalogue's order: extents, and the tubes' volumes by Pappus.
  for (size_t i = 0; i < x.rings.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "ring " << i);
    const ExpectedRing& g = x.rings[i];
    const TopoDS_Shape section = MeridianSection(solids[i]);
    Bnd_Box box;
    BRepBndLib::AddOptimal(section, box, false, false);
    double x0, y0, z0, x1, y1, z1;
    box.Get(x0, y0, z0, x1, y1, z1);
    EXPECT_NEAR(x0, g.r0, 1e-9 * scale);
    EXPECT_NEAR(x1, g.r1, 1e-9 * scale);
    EXPECT_NEAR(z0, g.z0, 1e-9 * scale);
    EXPECT_NEAR(z1, g.z1, 1e-9 * scale);
    GProp_GProps p;
    BRepGProp::SurfaceProperties(section, p, 1e-12);
    const double pappus = 2 * kPi * p.Mass() * p.CentreOfMass().X();
    // Turned about the axis: the integrated volume is the meridian section's.
    EXPECT_NEAR(Volume(solids[i]), pappus, 1e-6 * pappus);
    if (!g.tube) continue;
    double want = kPi * (g.r1 * g.r1 - g.r0 * g.r0) * (g.z1 - g.z0);
    for (const ExpectedRow& w : x.rows) {
      const double cut = EnvelopeInTube(w, g);
      EXPECT_GE(cut, 0) << "an envelope inside a tube";
      want -= cut;
    }
    EXPECT_NEAR(pappus, want, 1e-9 * want);
  }
  // Then the rows' elements, row after row: each one's volume and centroid.
  size_t at = x.rings.size();
  for (size_t k = 0; k < x.rows.size(); ++k) {
    SCOPED_TRACE(testing::Message() << "row " << k);
    const ExpectedRow& w = x.rows[k];
    double shift = 0;
    const double volume = ElementVolume(w, &shift);
    const int n = ElementsOfRow(w);
    for (int i = 0; i < n; i += std::max(1, n / 4)) {
      GProp_GProps g;
      BRepGProp::VolumeProperties(solids[at + i], g, 1e-9);
      EXPECT_NEAR(g.Mass(), volume, 1e-6 * volume) << "element " << i;
      gp_Pnt c = g.CentreOfMass();
      if (w.crown > 0) {
        // A barrel is symmetric about its centre, where its box is centred; the kernel finds its
        // centroid only to some 1e-5.
        Bnd_Box b;
        BRepBndLib::AddOptimal(solids[at + i], b, false, false);
        b.SetGap(0);
        double x0, y0, z0, x1, y1, z1;
        b.Get(x0, y0, z0, x1, y1, z1);
        c = gp_Pnt((x0 + x1) / 2, (y0 + y1) / 2, (z0 + z1) / 2);
      }
      const double angle = 2 * kPi * i / n;
      const double r = w.r + shift * std::sin(w.tilt), z = w.z + shift * std::cos(w.tilt);
      EXPECT_NEAR(c.X(), r * std::cos(angle), 1e-6 * scale) << "element " << i;
      EXPECT_NEAR(c.Y(), r * std::sin(angle), 1e-6 * scale) << "element " << i;
      EXPECT_NEAR(c.Z(), z, 1e-6 * scale) << "element " << i;
    }
    at += n;
  }
  // The whole bearing spans the outside diameter and the width.
  double box[6];
  BoxOf(bearing.shape, box);
  EXPECT_NEAR(box[0], -dout / 2, 1e-6 * scale);
  EXPECT_NEAR(box[3], dout / 2, 1e-6 * scale);
  EXPECT_NEAR(box[2], 0, 1e-6 * scale);
  EXPECT_NEAR(box[5], B, 1e-6 * scale);
  return true;
}

}  // namespace

// Every type at sizes from small to large, thin to thick rings, narrow to wide, including the
// extremes the sizes' checks let through (the widest bore, a width of many heights).
TEST(Bearings, EveryKindIsItsCatalogueLineAtEverySize) {
  struct Size {
    double dout, din, B;
  };
  const Size sizes[] = {{62, 30, 16}, {12, 4, 4},    {300, 100, 60}, {90, 70, 8},
                        {30, 10, 30}, {9, 2.7, 1.1}, {240, 72, 295}, {99999, 50000, 99999}};
  int built = 0;
  for (int type = 0; type <= 18; ++type) {
    int sizesBuilt = 0;
    for (const Size& z : sizes)
      if (MatchesCatalogue(type, z.dout, z.din, z.B)) ++sizesBuilt;
    EXPECT_GE(sizesBuilt, 4) << "type " << type;
    built += sizesBuilt;
  }
  EXPECT_GE(built, 19 * 6);
}
