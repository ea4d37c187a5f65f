// Gears: flanks against the analytic involute, tip and root circles with profile shift, tooth
// thickness, and pairs (external, internal, rack) that touch without overlapping.
#include "GeometryFixture.h"

#include "Gears.h"

#include <BRepBuilderAPI_Transform.hxx>

#include <cmath>
#include <vector>

using namespace geometry_test;

namespace {

QZ::CAD::IGearFactory* Gears() { return cad_engine::GearFactory(); }

double Inv(double a) { return std::tan(a) - a; }

// The textbook sizes of a spur gear of module m, written out independently of the engine.
struct Spur {
  unsigned z;
  double m, x, k;
  double alpha = 20.0 * kPi / 180.0;
  double r() const { return z * m / 2; }
  double rb() const { return r() * std::cos(alpha); }
  double ra() const { return r() + m * (1 + x - k); }
  double rf() const { return r() - m * (1.25 - x); }
  double halfTooth() const { return (kPi / 2 + 2 * x * std::tan(alpha)) / z; }
  // Polar angle of the flank at radius rho (rho >= rb).
  double flank(double rho) const { return halfTooth() + Inv(alpha) - Inv(std::acos(rb() / rho)); }
};

TopoDS_Shape Placed(const TopoDS_Shape& s, double angle, double dx, double dy) {
  gp_Trsf rot, move;
  rot.SetRotation(gp::OZ(), angle);
  move.SetTranslation(gp_Vec(dx, dy, 0));
  return BRepBuilderAPI_Transform(s, move * rot, true).Shape();
}

gp_Pnt At(double rho, double angle, double z) {
  return gp_Pnt(rho * std::cos(angle), rho * std::sin(angle), z);
}

}  // namespace

TEST(Gears, FlanksLieOnTheAnalyticInvoluteWithinOneMicrometre) {
  for (const Spur g :
       {Spur{20, 1.0, 0.0, 0.0}, Spur{12, 1.0, 0.5, 0.0}, Spur{57, 1.0, -0.2, 0.0}}) {
    SCOPED_TRACE(testing::Message() << "z=" << g.z << " x=" << g.x);
    auto gear = Build([&] { return Gears()->ExternalGear(g.z, g.m, 4, 20, 0, g.k, g.x, 0); });
    ASSERT_TRUE(gear);
    const TopoDS_Shape& s = gear->Kernel();
    ASSERT_TRUE(Valid(s));
    const double lo = std::max(g.rb(), g.r() - 0.4 * g.m), hi = g.ra() - 0.02;
    for (int i = 0; i <= 6; ++i) {
      const double rho = lo + (hi - lo) * i / 6;
      const double th = g.flank(rho);
      for (double zz : {0.0, 2.0}) {
        EXPECT_LT(BoundaryDistance(s, At(rho, th, zz)), 1e-3) << "upper flank at " << rho;
        EXPECT_LT(BoundaryDistance(s, At(rho, -th, zz)), 1e-3) << "lower flank at " << rho;
        // A point 0.01 rad beside the flank is clearly off the surface.
        EXPECT_GT(BoundaryDistance(s, At(rho, th + 0.01, zz)), 2e-3);
      }
      // Every tooth, not only the first.
      const double pitch = 2 * kPi / g.z;
      EXPECT_LT(BoundaryDistance(s, At(rho, th + 5 * pitch, 1.0)), 1e-3);
    }
  }
}

TEST(Gears, TipRootAndToothThicknessFollowTheStandardFormulasWithProfileShift) {
  for (const Spur g : {Spur{15, 1.0, 0.4, 0.1}, Spur{30, 2.5, -0.3, 0.0}, Spur{8, 1.0, 0.6, 0.2}}) {
    SCOPED_TRACE(testing::Message() << "z=" << g.z << " x=" << g.x << " k=" << g.k);
    auto gear = Build([&] { return Gears()->ExternalGear(g.z, g.m, 3, 20, 0, g.k, g.x, 0); });
    ASSERT_TRUE(gear);
    const TopoDS_Shape& s = gear->Kernel();
    const double e = 1e-3, mid = 1.5;
    EXPECT_TRUE(Inside(s, At(g.ra() - e, 0, mid)));
    EXPECT_TRUE(Outside(s, At(g.ra() + e, 0, mid)));
    const double space = kPi / g.z;
    EXPECT_TRUE(Inside(s, At(g.rf() - e, space, mid)));
    EXPECT_TRUE(Outside(s, At(g.rf() + e, space, mid)));
    const double half = g.halfTooth(), de = e / g.r();
    EXPECT_TRUE(Inside(s, At(g.r(), half - de, mid)));
    EXPECT_TRUE(Outside(s, At(g.r(), half + de, mid)));
    EXPECT_TRUE(Inside(s, At(g.r(), -half + de, mid)));
    EXPECT_TRUE(Outside(s, At(g.r(), -half - de, mid)));
    double box[6];
    BoxOf(gear->shape, box);
    EXPECT_NEAR(box[3], g.ra(), 1e-6);
    EXPECT_NEAR(box[2], 0, 1e-6);
    EXPECT_NEAR(box[5], 3, 1e-6);
  }
}

TEST(Gears, PinionAndWheelAtTheWorkingCentreDistanceTouchWithoutOverlap) {
  struct Pair {
    unsigned z1, z2;
    double x1, x2;
  };
  for (const Pair p : {Pair{17, 40, 0, 0}, Pair{13, 29, 0.35, 0.1}}) {
    SCOPED_TRACE(testing::Message() << p.z1 << "/" << p.z2);
    const double alpha = 20.0 * kPi / 180.0;
    // Working pressure angle from inv(aw) = inv(a) + 2 tan(a) (x1 + x2) / (z1 + z2).
    const double target = Inv(alpha) + 2 * std::tan(alpha) * (p.x1 + p.x2) / (p.z1 + p.z2);
    double aw = alpha;
    for (int i = 0; i < 100; ++i) aw -= (Inv(aw) - target) / (std::tan(aw) * std::tan(aw));
    const double a = (p.z1 + p.z2) / 2.0 * std::cos(alpha) / std::cos(aw);
    auto pinion = Build([&] { return Gears()->ExternalGear(p.z1, 1, 1, 20, 0, 0, p.x1, 0); });
    auto wheel = Build([&] { return Gears()->ExternalGear(p.z2, 1, 1, 20, 0, 0, p.x2, 0); });
    ASSERT_TRUE(pinion && wheel);
    // The first pair in two phases of the mesh, the second (profile shifted) in one.
    for (int phase = 0; phase < (p.x1 == 0 ? 2 : 1); ++phase) {
      const double turn = (phase + 0.5) * (2 * kPi / p.z1) / 3;
      const TopoDS_Shape g1 = Placed(pinion->Kernel(), turn, 0, 0);
      const TopoDS_Shape g2 = Placed(wheel->Kernel(), kPi + kPi / p.z2 - turn * p.z1 / p.z2, a, 0);
      EXPECT_LT(CommonVolume(g1, g2), 1e-5) << "phase " << phase;
      EXPECT_LT(Distance(g1, g2), 1e-4) << "phase " << phase;
    }
    // Moved apart by 0.05 mm they no longer touch; moved together they overlap.
    const TopoDS_Shape g1 = pinion->Kernel();
    const TopoDS_Shape g2 = Placed(wheel->Kernel(), kPi + kPi / p.z2, a, 0);
    EXPECT_GT(Distance(g1, Placed(g2, 0, 0.05, 0)), 1e-3);
    EXPECT_GT(CommonVolume(g1, Placed(g2, 0, -0.05, 0)), 1e-4);
  }
}

TEST(Gears, PinionInsideAnInternalGearTouchesWithoutOverlap) {
  // Few teeth between pinion and ring make the ring's tips interfere with the pinion's flanks
  // (a property of internal pairs, not of the model): 20 in 60 is a sound pair.
  const unsigned z1 = 20, z2 = 60;
  auto pinion = Build([&] { return Gears()->ExternalGear(z1, 1, 1, 20, 0, 0, 0, 0); });
  auto ring = Build([&] { return Gears()->InternalGear(z2, 1, 1, 20, 0, 0, 0, 72); });
  ASSERT_TRUE(pinion && ring);
  ASSERT_TRUE(Valid(ring->Kernel()));
  const double a = (z2 - z1) / 2.0;
  for (int phase = 0; phase < 2; ++phase) {
    const double turn = phase * (2 * kPi / z1) / 3;
    const TopoDS_Shape g1 = Placed(pinion->Kernel(), turn, a, 0);
    const TopoDS_Shape g2 = Placed(ring->Kernel(), turn * z1 / z2, 0, 0);
    EXPECT_LT(CommonVolume(g1, g2), 1e-5) << "phase " << phase;
    EXPECT_LT(Distance(g1, g2), 1e-4) << "phase " << phase;
  }
  // The internal gear's sizes: tip (inside) r - m, root r + 1.25 m, rim d / 2.
  const TopoDS_Shape& s = ring->Kernel();
  const double r = z2 / 2.0;
  EXPECT_TRUE(Outside(s, gp_Pnt(r - 1 - 1e-3, 0, 0.5)));  // a space is centred on +x
  EXPECT_TRUE(Inside(s, At(r - 1 + 1e-3, kPi / z2, 0.5)));
  EXPECT_TRUE(Outside(s, gp_Pnt(r + 1.25 - 1e-3, 0, 0.5)));
  EXPECT_TRUE(Inside(s, gp_Pnt(r + 1.25 + 1e-3, 0, 0.5)));
  double box[6];
  BoxOf(ring->shape, box);
  EXPECT_NEAR(box[3], 36, 1e-6);
}

TEST(Gears, PinionOnTheRackTouchesWithoutOverlap) {
  const double h = 8, l = 40;
  auto rack = Build([&] { return Gears()->RackGear(1, 1, h, l); });
  auto pinion = Build([&] { return Gears()->ExternalGear(18, 1, 1, 20, 0, 0, 0, 0); });
  ASSERT_TRUE(rack && pinion);
  ASSERT_TRUE(Valid(rack->Kernel()));
  double box[6];
  BoxOf(rack->shape, box);
  EXPECT_NEAR(box[0], 0, 1e-6);
  EXPECT_NEAR(box[3], l, 1e-6);
  EXPECT_NEAR(box[4], h, 1e-6);
  EXPECT_NEAR(box[5], 1, 1e-6);
  const double p = kPi, x0 = 6 * p;
  for (int phase = 0; phase < 3; ++phase) {
    const double turn = phase * (2 * kPi / 18) / 3;
    // Rolling: the pinion turns clockwise by `turn` and moves along +x by r * turn.
    const TopoDS_Shape g = Placed(pinion->Kernel(), -kPi / 2 - turn, x0 + 9 * turn, h - 1 + 9);
    EXPECT_LT(CommonVolume(g, rack->Kernel()), 1e-5) << "phase " << phase;
    EXPECT_LT(Distance(g, rack->Kernel()), 1e-4) << "phase " << phase;
  }
}

TEST(Gears, HelicalAndDoubleHelicalGearsAreValidSolidsOfTheirWidth) {
  auto helical = Build([] { return Gears()->ExternalGear(24, 2, 20, 20, 15, 0, 0, 10); });
  ASSERT_TRUE(helical);
  const TopoDS_Shape& s = helical->Kernel();
  EXPECT_TRUE(Valid(s));
  EXPECT_EQ(SolidCount(s), 1);
  // The transverse section at the start is exact: the tip in the middle of the tooth on +x.
  const double mt = 2 / std::cos(15 * kPi / 180), r = 24 * mt / 2;
  EXPECT_TRUE(Inside(s, gp_Pnt(r + 2 - 1e-3, 0, 1e-3)));
  EXPECT_TRUE(Outside(s, gp_Pnt(r + 2 + 1e-3, 0, 1e-3)));
  // At the far end the tooth has turned by b tan(beta) / r.
  const double turned = 20 * std::tan(15 * kPi / 180) / r;
  EXPECT_TRUE(Inside(s, At(r + 1.9, turned, 20 - 1e-3)));
  EXPECT_TRUE(Outside(s, At(r + 1.9, -turned, 20 - 1e-3)));
  EXPECT_TRUE(Outside(s, gp_Pnt(4.9, 0, 10)));  // bore d = 10
  const double full = kPi * (r * r - 25) * 20;
  EXPECT_NEAR(Volume(s), full, 0.05 * full);

  auto herringbone =
      Build([] { return Gears()->DoubleExternalGear(24, 2, 30, 20, 25, 0, 0, 10, 6, 40); });
  ASSERT_TRUE(herringbone);
  EXPECT_TRUE(Valid(herringbone->Kernel()));
  EXPECT_EQ(SolidCount(herringbone->Kernel()), 1);
  double box[6];
  BoxOf(herringbone->shape, box);
  EXPECT_NEAR(box[5] - box[2], 30, 1e-6);
  // In the gap only the core of diameter dn remains.
  EXPECT_TRUE(Outside(herringbone->Kernel(), gp_Pnt(20.5, 0, 15)));
  EXPECT_TRUE(Inside(herringbone->Kernel(), gp_Pnt(19.5, 0, 15)));

  auto internal =
      Build([] { return Gears()->DoubleInternalGear(40, 1, 8, 20, 20, 0, 0, 50, 2, 46); });
  ASSERT_TRUE(internal);
  EXPECT_TRUE(Valid(internal->Kernel()));
  EXPECT_EQ(SolidCount(internal->Kernel()), 1);
}

TEST(Gears, DoubleHelicalHalvesMeetTheGapCylinderAndTheRimOrBore) {
  // Internal: 48 teeth of module 2, halves of 10 with a gap of 4 whose hole has radius 54 (the
  // root at 53.57); rim 60.
  auto ring =
      Build([] { return Gears()->DoubleInternalGear(48, 2, 24, 20, 20, 0, 0, 120, 4, 108); });
  ASSERT_TRUE(ring);
  const TopoDS_Shape& s = ring->Kernel();
  ASSERT_TRUE(Valid(s));
  const double mt = 2 / std::cos(20 * kPi / 180), r = 48 * mt / 2, twist = std::tan(20 * kPi / 180);
  // In the gap only the ring outside the hole remains, whatever the angle.
  for (double a : {0.0, 0.03, 0.5}) {
    EXPECT_TRUE(Outside(s, At(53.9, a, 12))) << a;
    EXPECT_TRUE(Inside(s, At(54.1, a, 12))) << a;
    EXPECT_TRUE(Inside(s, At(59.9, a, 12))) << a;
    EXPECT_TRUE(Outside(s, At(60.1, a, 12))) << a;
  }
  // The space centred on +x at z = 0, turned by 10 tan(beta) / r where the lower half ends and
  // back to +x at the far face; a tooth (its tip at r - 2) halfway between.
  const double turned = 10 * twist / r, pitch = 2 * kPi / 48;
  for (auto [z, a] : std::vector<std::pair<double, double>>{
           {1e-3, 0}, {10 - 1e-3, turned}, {14 + 1e-3, turned}, {24 - 1e-3, 0}}) {
    EXPECT_TRUE(Outside(s, At(r - 1.9, a, z))) << z;
    EXPECT_TRUE(Inside(s, At(r - 1.9, a + pitch / 2, z))) << z;
  }
  EXPECT_LT(BoundaryDistance(s, At(54, 1.0, 12)), 1e-6);
  EXPECT_LT(BoundaryDistance(s, At(60, 2.0, 5)), 1e-6);

  // External, with a bore of 20 through the halves and a core of 60 in the gap.
  auto wheel =
      Build([] { return Gears()->DoubleExternalGear(24, 3, 30, 20, 25, 0, 0, 20, 6, 60); });
  ASSERT_TRUE(wheel);
  const TopoDS_Shape& w = wheel->Kernel();
  ASSERT_TRUE(Valid(w));
  for (double a : {0.0, 0.1, 2.0}) {
    EXPECT_TRUE(Inside(w, At(29.9, a, 15))) << a;
    EXPECT_TRUE(Outside(w, At(30.1, a, 15))) << a;
    EXPECT_TRUE(Outside(w, At(9.9, a, 5))) << a;
    EXPECT_TRUE(Inside(w, At(10.1, a, 5))) << a;
    EXPECT_TRUE(Outside(w, At(9.9, a, 15))) << a;
  }
  EXPECT_LT(BoundaryDistance(w, At(10, 0.7, 25)), 1e-6);
}

TEST(Gears, BevelGearBodyMeetsTheTeethAtTheRootCircle) {
  // 20 teeth of module 3 at 45 degrees: R = 30, the outer root circle 30 - 3.75 cos 45.
  auto bevel = Build([] { return Gears()->ConeGear(20, 3, 45, 12, 30, 12, 10, 4); });
  ASSERT_TRUE(bevel);
  const TopoDS_Shape& s = bevel->Kernel();
  ASSERT_TRUE(Valid(s));
  const double root = 30 - 3.75 * std::cos(kPi / 4), pitch = 2 * kPi / 20;
  for (double a : {0.0, pitch / 2, 1.0}) {
    // Behind the teeth the body of radius root, 4 long; the hub of radius 15 behind it.
    EXPECT_TRUE(Inside(s, At(root - 1e-3, a, -2))) << a;
    EXPECT_TRUE(Outside(s, At(root + 1e-3, a, -2))) << a;
    EXPECT_TRUE(Inside(s, At(14.9, a, -9))) << a;
    EXPECT_TRUE(Outside(s, At(15.1, a, -9))) << a;
    EXPECT_TRUE(Outside(s, At(5.9, a, -9))) << a;  // bore 12
    EXPECT_LT(BoundaryDistance(s, At(root, a, -1)), 1e-6) << a;
  }
  // On the outer end a tooth on +x stands out of the body, a space between two does not.
  EXPECT_TRUE(Inside(s, At(root + 1, 0, 1e-3)));
  EXPECT_TRUE(Outside(s, At(root + 1, pitch / 2, 1e-3)));
  EXPECT_TRUE(Outside(s, At(root + 1, 0, -1e-3)));
}

TEST(Gears, BevelAndProfileGearsAreValidSolids) {
  auto bevel = Build([] { return Gears()->ConeGear(20, 3, 45, 12, 30, 12, 10, 4); });
  ASSERT_TRUE(bevel);
  EXPECT_TRUE(Valid(bevel->Kernel()));
  EXPECT_EQ(SolidCount(bevel->Kernel()), 1);
  double box[6];
  BoxOf(bevel->shape, box);
  // Outer tip radius R + me cos(delta) = 30 + 3 cos 45.
  EXPECT_NEAR(box[3], 30 + 3 * std::cos(kPi / 4), 0.02);
  EXPECT_NEAR(box[2], -14, 1e-6);  // body e = 4 and hub c = 10 behind the teeth

  for (bool spline : {false, true}) {
    QZ::CAD::IPointList* list = TrapezoidTooth(spline);
    const double d = kPi / 180;
    QZ::CAD::ToothProfileValues v{12, 8, 0, 10, 0, 0};
    auto gear = Build([&] { return Gears()->ExternalToothProfile(list, v); });
    v.d = 50;
    auto ring = Build([&] { return Gears()->InternalToothProfile(list, v); });
    v.d = 10;
    v.beta = 20;
    v.b = 16;
    v.bn = 4;
    v.dn = 30;
    auto twin = Build([&] { return Gears()->DoubleExternalToothProfile(list, v); });
    list->Release();
    ASSERT_TRUE(gear && ring && twin);
    EXPECT_TRUE(Valid(gear->Kernel())) << spline;
    EXPECT_TRUE(Valid(ring->Kernel())) << spline;
    EXPECT_TRUE(Valid(twin->Kernel())) << spline;
    EXPECT_TRUE(Inside(gear->Kernel(), gp_Pnt(20.9, 0, 4)));
    EXPECT_TRUE(Outside(gear->Kernel(), At(19.5, 15 * d, 4)));
    EXPECT_TRUE(Outside(ring->Kernel(), gp_Pnt(20.9, 0, 4)));
    EXPECT_TRUE(Inside(ring->Kernel(), gp_Pnt(24, 0, 4)));
  }
}

TEST(Gears, ImpossibleParametersGiveClearEngineErrors) {
  const int bad = QZ::eCodeInvalidParameter;
  std::string text;
  EXPECT_EQ(ErrorOf([] { return Gears()->ExternalGear(2, 1, 5, 20, 0, 0, 0, 0); }, &text), bad);
  EXPECT_NE(text.find("at least 3 teeth"), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([] { return Gears()->ExternalGear(20, 1, 5, 20, 90, 0, 0, 0); }, &text), bad);
  EXPECT_NE(text.find("helix angle"), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([] { return Gears()->ExternalGear(20, 0, 5, 20, 0, 0, 0, 0); }), bad);
  EXPECT_EQ(ErrorOf([] { return Gears()->ExternalGear(20, 1, -5, 20, 0, 0, 0, 0); }), bad);
  EXPECT_EQ(ErrorOf([] { return Gears()->ExternalGear(20, 1, 5, 0, 0, 0, 0, 0); }), bad);
  EXPECT_EQ(ErrorOf([] { return Gears()->ExternalGear(20, 1, 5, 20, 0, 0, 0, 19); }, &text), bad);
  EXPECT_NE(text.find("bore"), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([] { return Gears()->ExternalGear(10, 1, 5, 20, 0, 0, 1.5, 0); }, &text), bad);
  EXPECT_NE(text.find("pointed"), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([] { return Gears()->InternalGear(60, 1, 5, 20, 0, 0, 0, 61); }), bad);
  EXPECT_EQ(ErrorOf([] { return Gears()->RackGear(1, 5, 2, 30); }), bad);
  EXPECT_EQ(ErrorOf([] { return Gears()->ConeGear(2, 2, 45, 0, 0, 5, 0, 0); }), bad);
  EXPECT_EQ(ErrorOf([] { return Gears()->ConeGear(20, 2, 90, 0, 0, 5, 0, 0); }), bad);
  EXPECT_EQ(ErrorOf([] { return Gears()->DoubleExternalGear(20, 1, 10, 20, 20, 0, 0, 0, 10, 0); }),
            bad);
  EXPECT_EQ(ErrorOf([] { return Gears()->ExternalGear(20, NAN, 5, 20, 0, 0, 0, 0); }), bad);
  // A point list that goes backwards is refused, and so is a missing one.
  QZ::CAD::IPointList* list = Gears()->NewPointList();
  list->AddPoint(10, 0.1);
  list->AddPoint(12, 0.0);
  QZ::CAD::ToothProfileValues v{10, 5, 0, 0, 0, 0};
  EXPECT_EQ(ErrorOf([&] { return Gears()->ExternalToothProfile(list, v); }), bad);
  list->Release();
  EXPECT_EQ(ErrorOf([&] { return Gears()->ExternalToothProfile(nullptr, v); }), QZ::eCodeNullShape);
}
