// Which built solids the kernel's validity analysis still looks at. Involute gears from their
// checked outlines (prisms, and solids assembled from the lofts' faces, double helical halves
// without a gap joined at the middle plane) are returned without it:
// here they are analysed over a spread of their sizes and must all be valid. Bevel gears are
// analysed as they are assembled (some sizes assemble into solids that are not valid: those
// are cut and fused instead, and must be valid too). What a
// boolean made or a user's profile points gave is still analysed and refused when it is not
// valid, also right after a build that needed no analysis; a compound's copies of one solid are
// analysed once, its other pieces each.
#include "GeometryFixture.h"

#include <BRepBuilderAPI_Transform.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <TopTools_MapOfShape.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace geometry_test {
namespace {

QZ::CAD::IGearFactory* Gears() { return cad_engine::GearFactory(); }

// The engine's result for one size, or null when it refuses the size.
QZ::CAD::IShape* Attempt(const std::function<QZ::CAD::IShape*()>& build) {
  try {
    return build();
  } catch (QZ::IException* e) {
    e->Release();
    return nullptr;
  }
}

// Analyses every solid the sizes give; returns how many were built (refusals are no solids).
int ExpectAllValid(
    const std::vector<std::pair<std::string, std::function<QZ::CAD::IShape*()>>>& sizes) {
  int built = 0;
  for (const auto& [name, build] : sizes) {
    QZ::CAD::IShape* s = Attempt(build);
    if (!s) continue;
    Built owner(s);
    ++built;
    EXPECT_TRUE(Valid(owner.Kernel())) << name;
    EXPECT_EQ(SolidCount(owner.Kernel()), 1) << name;
  }
  return built;
}

std::string Name(const char* kind, double a, double b, double c, double d) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%s(%g, %g, %g, %g)", kind, a, b, c, d);
  return buf;
}

// The code CheckSolid throws for s (0 when it accepts s).
int CheckError(const TopoDS_Shape& s) {
  try {
    cad_engine::CheckSolid(s, "Test");
    return 0;
  } catch (QZ::IException* e) {
    const int code = e->GetCode();
    e->Release();
    return code;
  }
}

// A box whose shell lacks its top face, made a solid: not valid.
TopoDS_Shape OpenBox() {
  const TopoDS_Shape box = BRepPrimAPI_MakeBox(10, 10, 10).Shape();
  BRep_Builder b;
  TopoDS_Shell shell;
  b.MakeShell(shell);
  int n = 0;
  for (TopExp_Explorer f(box, TopAbs_FACE); f.More(); f.Next())
    if (n++ < 5) b.Add(shell, f.Current());
  TopoDS_Solid solid;
  b.MakeSolid(solid);
  b.Add(solid, shell);
  return solid;
}

class Validity : public testing::Test {
 protected:
  void SetUp() override { cad_engine::SolidMemo::SetEnabled(false); }
  void TearDown() override { cad_engine::SolidMemo::SetEnabled(true); }
};

}  // namespace

TEST_F(Validity, InvoluteGearsFromTheirOutlinesAreValidOverTheirSizes) {
  std::vector<std::pair<std::string, std::function<QZ::CAD::IShape*()>>> sizes;
  const unsigned teeth[] = {7, 17, 41};
  const double shifts[] = {-0.4, 0.6}, helix[] = {0, 12, -30};
  for (unsigned z : teeth)
    for (double x : shifts)
      for (double beta : helix) {
        const double mn = z < 10 ? 3 : 1.5;
        sizes.emplace_back(Name("external", z, x, beta, 0),
                           [=] { return Gears()->ExternalGear(z, mn, 10, 20, beta, 0, x, 0); });
        sizes.emplace_back(Name("internal", z, x, beta, 0),
                           [=] { return Gears()->InternalGear(z, mn, 10, 20, beta, 0.1, x, 0); });
      }
  // Double helical: a clear gap (a core below the roots), and the gap at the roots (dn 0).
  for (unsigned z : teeth)
    for (double dn : {0.0, 1.0}) {
      const double mn = 2, r = z * mn / std::cos(cad_engine::Radians(25)) / 2;
      const double core = dn > 0 ? 2 * (r - 1.25 * mn) - 1 : 0;
      sizes.emplace_back(Name("double external", z, 25, 3, core), [=] {
        return Gears()->DoubleExternalGear(z, mn, 16, 20, 25, 0, 0, z > 10 ? 8 : 0, 3, core);
      });
      const double hole = dn > 0 ? 2 * (r + 1.25 * mn) + 1 : 0;
      sizes.emplace_back(Name("double internal", z, -20, 2, hole), [=] {
        return Gears()->DoubleInternalGear(z, mn, 12, 20, -20, 0, 0, 0, 2, hole);
      });
    }
  // Double helical without a gap: the halves joined at the middle plane.
  for (unsigned z : teeth)
    for (double x : shifts) {
      const double mn = z < 10 ? 3 : 1.5;
      sizes.emplace_back(Name("double external without a gap", z, x, 25, 0), [=] {
        return Gears()->DoubleExternalGear(z, mn, 16, 20, 25, 0, x, z > 10 ? 8 : 0, 0, 0);
      });
      sizes.emplace_back(Name("double internal without a gap", z, x, -12, 0), [=] {
        return Gears()->DoubleInternalGear(z, mn, 12, 20, -12, 0.1, x, 0, 0, 0);
      });
    }
  // Pressure angles and tip shortenings at both ends of what the checks let through.
  for (double alpha : {14.5, 25.0, 30.0})
    for (double k : {0.0, 0.3})
      sizes.emplace_back(Name("pressure angle", alpha, k, 0, 0),
                         [=] { return Gears()->ExternalGear(23, 2, 8, alpha, 15, k, 0.2, 10); });
  // A bore or a rim right at the root circle (the limits the checks allow, and a little inside).
  const double rf = 24 * 3 / 2.0 - 1.25 * 3;  // 24 teeth of module 3
  for (double gap : {2e-7, 1e-6, 1e-4, 1e-2}) {
    sizes.emplace_back(Name("bore at the roots", 24, gap, 0, 0), [=] {
      return Gears()->ExternalGear(24, 3, 10, 20, 0, 0, 0, 2 * (rf - gap));
    });
    sizes.emplace_back(Name("helical bore at the roots", 24, gap, 15, 0), [=] {
      return Gears()->ExternalGear(24, 3, 10, 20, 0, 0, 0, 2 * (rf - gap));
    });
    const double rfi = 40 * 2 / 2.0 + 1.25 * 2;  // internal, 40 teeth of module 2
    sizes.emplace_back(Name("rim at the roots", 40, gap, 0, 0), [=] {
      return Gears()->InternalGear(40, 2, 10, 20, 0, 0, 0, 2 * (rfi + gap));
    });
    sizes.emplace_back(Name("helical rim at the roots", 40, gap, 15, 0), [=] {
      return Gears()->InternalGear(40, 2, 10, 20, 15, 0, 0, 2 * (rfi + gap));
    });
  }
  const int built = ExpectAllValid(sizes);
  EXPECT_GE(built, static_cast<int>(sizes.size()) * 3 / 4) << "too many sizes refused";
}

TEST_F(Validity, BevelGearsAreValidOverTheirSizes) {
  std::vector<std::pair<std::string, std::function<QZ::CAD::IShape*()>>> sizes;
  for (unsigned z : {9u, 20u, 45u})
    for (double angle : {20.0, 45.0, 70.0})
      for (int shape = 0; shape < 3; ++shape) {
        // 0: teeth alone; 1: body, hub and bore; 2: body and bore, no hub.
        const double me = 2, R = z * me / 2 / std::sin(cad_engine::Radians(angle));
        const double a = 0.3 * R, db = shape ? 0.1 * z * me : 0;
        const double dc = shape == 1 ? 2 * db : 0, c = shape == 1 ? 5 : 0, e = shape ? 3 : 0;
        sizes.emplace_back(Name("bevel", z, angle, shape, a),
                           [=] { return Gears()->ConeGear(z, me, angle, db, dc, a, c, e); });
      }
  const int built = ExpectAllValid(sizes);
  EXPECT_GE(built, static_cast<int>(sizes.size()) * 3 / 4) << "too many sizes refused";
  // Sizes whose assembly is not valid (a body behind 20 teeth on a cone of 20 degrees) are cut
  // and fused, not refused.
  for (int shape = 1; shape < 3; ++shape) {
    SCOPED_TRACE(shape);
    const double R = 20.0 / std::sin(cad_engine::Radians(20));
    auto gear = Build([&] {
      return Gears()->ConeGear(20, 2, 20, 4, shape == 1 ? 8 : 0, 0.3 * R, shape == 1 ? 5 : 0, 3);
    });
    ASSERT_TRUE(gear);
    EXPECT_TRUE(Valid(gear->Kernel()));
    EXPECT_EQ(SolidCount(gear->Kernel()), 1);
  }
}

TEST_F(Validity, WhatIsNotProvenIsStillAnalysedAndRefused) {
  using cad_engine::BuildChecked;
  std::string text;
  EXPECT_EQ(ErrorOf([] { return BuildChecked("Test", [] { return OpenBox(); }); }, &text),
            QZ::eCodeInvalidParameter);
  EXPECT_EQ(text, "Test: the parameters give no valid solid");
  // A proven build leaves nothing behind for the next one on the thread.
  auto proven = Build([] {
    return BuildChecked("Test", [] {
      cad_engine::ConstructionProven();
      return BRepPrimAPI_MakeBox(1, 2, 3).Shape();
    });
  });
  ASSERT_TRUE(proven);
  EXPECT_EQ(ErrorOf([] { return BuildChecked("Test", [] { return OpenBox(); }); }),
            QZ::eCodeInvalidParameter);
  // A build that says it is proven and then fails passes its error on; the next is analysed.
  EXPECT_NE(ErrorOf([] {
              return BuildChecked("Test", []() -> TopoDS_Shape {
                cad_engine::ConstructionProven();
                cad_engine::Refuse("Test", "no such size");
              });
            }),
            0);
  EXPECT_EQ(ErrorOf([] { return BuildChecked("Test", [] { return OpenBox(); }); }),
            QZ::eCodeInvalidParameter);
  EXPECT_EQ(ErrorOf([] { return BuildChecked("Test", [] { return TopoDS_Shape(); }); }),
            QZ::eCodeFailure);
  // Profile gears are the user's points: a spline through wild points is analysed (refused or
  // valid, never an invalid solid returned).
  QZ::CAD::IPointList* wild = Gears()->NewPointList();
  const double r[] = {20, 5, 30, 6, 28, 4}, angle[] = {0, 0.01, 0.02, 0.2, 0.21, 0.3};
  for (int i = 0; i < 6; ++i) wild->AddPoint(r[i], angle[i]);
  wild->SetSpline(true);
  QZ::CAD::IShape* s = Attempt([&] {
    return Gears()->ExternalToothProfile(wild, {12, 10, 0, 0, 0, 0});
  });
  wild->Release();
  if (s) {
    Built owner(s);
    EXPECT_TRUE(Valid(owner.Kernel()));
  }
}

TEST_F(Validity, ACompoundsCopiesOfOneSolidAreAnalysedOnceItsOtherPiecesEach) {
  const TopoDS_Shape ball = BRepPrimAPI_MakeSphere(gp_Pnt(20, 0, 0), 3).Shape();
  auto compound = [](const std::vector<TopoDS_Shape>& pieces) {
    BRep_Builder b;
    TopoDS_Compound c;
    b.MakeCompound(c);
    for (const auto& p : pieces) b.Add(c, p);
    return TopoDS_Shape(c);
  };
  std::vector<TopoDS_Shape> balls;
  for (int i = 0; i < 12; ++i) balls.push_back(cad_engine::Moved(ball, cad_engine::RotationZ(i)));
  EXPECT_EQ(CheckError(compound(balls)), 0);
  // A piece that is not valid, after the copies or among them, is found.
  std::vector<TopoDS_Shape> broken = balls;
  broken.push_back(OpenBox());
  EXPECT_EQ(CheckError(compound(broken)), QZ::eCodeInvalidParameter);
  broken.insert(broken.begin(), cad_engine::Moved(OpenBox(), cad_engine::Translation(50, 0, 0)));
  broken.pop_back();
  EXPECT_EQ(CheckError(compound(broken)), QZ::eCodeInvalidParameter);
  // Nested compounds alike.
  EXPECT_EQ(CheckError(compound({compound(balls), compound({OpenBox()})})),
            QZ::eCodeInvalidParameter);
  EXPECT_EQ(CheckError(OpenBox()), QZ::eCodeInvalidParameter);
}

TEST_F(Validity, AShapeAskedForItsValidityIsAnalysedWhereverItCameFrom) {
  // What an import hands over is the kernel's solid as it was read: IsValid analyses it.
  Built open(new cad_engine::CShape(OpenBox()));
  EXPECT_FALSE(open.shape->IsValid());
  QZ::ObjPtr<QZ::CAD::IShape> placed(
      open.shape->Placed(std::array<double, 12>{1, 0, 0, 5, 0, 1, 0, 0, 0, 0, 1, 0}.data()));
  EXPECT_FALSE(placed->IsValid());
  // A gear built without the analysis is valid when asked.
  auto gear = Build([] { return Gears()->DoubleExternalGear(20, 2, 20, 20, 25, 0, 0, 10, 4, 0); });
  ASSERT_TRUE(gear);
  EXPECT_TRUE(gear->shape->IsValid());
}

// Hexagon bolts and socket head cap screws put together from their faces are returned without
// the analysis: over a spread of sizes (tiny to large, shanks up to the flats, low and tall
// heads, with and without washer faces, reduced shanks, no plain shank) every one is valid, as
// are those that still take the booleans (heads too low for the chamfer to reach the corners,
// washer faces past the flats, shanks wider than the head).
TEST_F(Validity, HexagonBoltsAreValidOverTheirSizes) {
  std::vector<std::pair<std::string, std::function<QZ::CAD::IShape*()>>> sizes;
  QZ::CAD::IFastenerFactory* f = cad_engine::FastenerFactory();
  const long turnedBefore = cad_engine::HexBoltsTurned();
  for (double s : {1.2, 10.0, 46.0, 150.0})
    for (double d : {s / 1.5, s / 1.02})
      for (double k : {0.07 * s, 0.4 * s, 1.5 * s})
        for (int washer = 0; washer < 3; ++washer)
          for (double ds : {0.0, 0.8 * d})
            for (int shank = 0; shank < 2; ++shank) {
              const double c = washer ? 0.04 * k : 0;
              const double dw = washer == 1 ? (d + s) / 2 : washer == 2 ? 1.1 * s : 0;
              const double ls = shank ? 2 * d : 0, b = shank ? 3 * d : 0.3 * d;
              char name[200];
              std::snprintf(name, sizeof name, "BoltHex(%g, %g, %g, %g, %g, %g, %g, %g)", s, k, c,
                            dw, ls, b, ds, d);
              sizes.emplace_back(name, [=] { return f->BoltHex(s, k, c, dw, ls, b, ds, d); });
            }
  // Socket head cap screws: sockets shallow and nearly through the head, narrow and with their
  // corners near the rim, shanks plain, reduced and wider than the head (the booleans).
  for (double d : {1.0, 8.0, 60.0})
    for (double s : {0.3 * d, 0.86 * d})
      for (double t : {0.05 * d, 0.99 * d})
        for (double ds : {0.0, 0.8 * d, 1.6 * d}) {
          char name[200];
          std::snprintf(name, sizeof name, "BoltHexSocket(%g, %g, %g, %g, %g, %g, %g, %g)", d, ds,
                        2 * d, 3 * d, 1.5 * d, d, s, t);
          sizes.emplace_back(
              name, [=] { return f->BoltHexSocket(d, ds, 2 * d, 3 * d, 1.5 * d, d, s, t); });
        }
  const int built = ExpectAllValid(sizes);
  EXPECT_EQ(built, static_cast<int>(sizes.size()));
  // Most of them without the booleans.
  EXPECT_GT(cad_engine::HexBoltsTurned() - turnedBefore, static_cast<long>(sizes.size()) / 2);
}

// Bearings whose rings are all turned from their outlines are returned without the analysis:
// every kind over a spread of sizes (small to large, thin and thick rings, narrow and wide) is
// valid, or refused.
TEST_F(Validity, BearingsAreValidOverTheirSizes) {
  QZ::CAD::IBearingFactory* f = cad_engine::BearingFactory();
  int built = 0, tried = 0;
  for (double dout : {6.0, 40.0, 300.0})
    for (double ratio : {0.2, 0.5, 0.85})
      for (double wide : {0.3, 1.5})
        for (int type = -1; type <= 18; ++type) {
          const double din = ratio * dout, B = wide * (dout - din) / 2;
          ++tried;
          QZ::CAD::IShape* s = Attempt([&] {
            return type < 0 ? f->RollerBearing(dout, din, B)
                            : f->RollingBearing(dout, din, B, type);
          });
          if (!s) continue;
          Built owner(s);
          ++built;
          // Each ring, and one of each row's copies of its element.
          TopTools_MapOfShape seen;
          for (TopExp_Explorer e(owner.Kernel(), TopAbs_SOLID); e.More(); e.Next()) {
            if (seen.Add(e.Current().Located(TopLoc_Location()))) {
              EXPECT_TRUE(Valid(e.Current()))
                  << "type " << type << ", " << dout << " x " << din << " x " << B;
            }
          }
        }
  EXPECT_GE(built, tried / 2) << "too many sizes refused";
}

}  // namespace geometry_test
