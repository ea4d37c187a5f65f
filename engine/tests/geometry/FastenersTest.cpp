// Fasteners: every operation gives a valid solid of the lengths it is given; a hexagon bolt's
// width across flats, head height, washer face, chamfer and length; volumes against a hand
// computation for M6, M12 and M24; a socket's depth; impossible sizes refused. The thumb screw's
// knurled head, put together from its faces, is the solid that cutting its flutes gave.
#include "GeometryFixture.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>

#include <array>
#include <cmath>
#include <functional>
#include <vector>

using namespace geometry_test;

namespace {

QZ::CAD::IFastenerFactory* F() { return cad_engine::FastenerFactory(); }

struct Case {
  const char* name;
  std::function<QZ::CAD::IShape*()> build;
  double zmin, zmax;  // extent along the axis
  // A drive cut through the top of a dome lowers the highest point by less than this.
  double drive = 0;
};

// Volume of a hexagon head of width across flats s and height h whose top is chamfered at 30
// degrees from 0.95 s outwards, integrated in polar coordinates over the hexagon.
double ChamferedHexVolume(double s, double h) {
  const double r0 = 0.475 * s, tan30 = std::tan(kPi / 6);
  const int steps = 4000;
  double v = 0;
  for (int i = 0; i < steps; ++i) {
    const double a = (i + 0.5) * (kPi / 3) / steps - kPi / 6;  // one sixth, flat centred on 0
    const double rmax = s / 2 / std::cos(a);
    // integral of height(rho) rho d rho from 0 to rmax, height = h - max(0, rho - r0) tan30
    double inner = h * rmax * rmax / 2;
    if (rmax > r0) {
      // minus tan30 * integral_{r0}^{rmax} (rho - r0) rho d rho
      const double u = rmax, w = r0;
      inner -= tan30 * ((u * u * u - w * w * w) / 3 - w * (u * u - w * w) / 2);
    }
    v += inner * (kPi / 3) / steps;
  }
  return 6 * v;
}

// A round shank ds over ls and a thread d over b with a 45 degree end chamfer of 0.1 d.
double ShankVolume(double d, double ds, double ls, double b) {
  const double ct = std::min(0.1 * d, b / 4);
  const double chamfer = 2 * kPi * (d / 2 - ct / 3) * ct * ct / 2;
  return kPi * ds * ds / 4 * ls + kPi * d * d / 4 * b - chamfer;
}

}  // namespace

TEST(Fasteners, EveryOperationGivesAValidSolidOfItsLength) {
  const std::vector<Case> cases = {
      {"BoltHex", [] { return F()->BoltHex(16, 6.4, 0.6, 14.6, 20, 26, 10, 10); }, -46, 6.4},
      {"BoltHexSocket", [] { return F()->BoltHexSocket(10, 10, 15, 25, 16, 10, 8, 5.5); }, -40, 10},
      {"BoltHexSocketCountersunk",
       [] { return F()->BoltHexSocketCountersunk(10, 10, 10, 20, 20, 6, 3.5); }, -30, 5},
      {"BoltHexFlange", [] { return F()->BoltHexFlange(10, 10, 15, 25, 21, 10, 15); }, -40, 10},
      {"BoltCarriage", [] { return F()->BoltCarriage(10, 10, 20, 25, 25, 10, 6, 6); }, -45, 6},
      {"BoltHexSetDogPoint", [] { return F()->BoltHexSetDogPoint(10, 25, 10, 10, 6.4, 16, 7, 5); },
       -40, 6.4},
      {"BoltHexSetDogCone", [] { return F()->BoltHexSetDogCone(10, 25, 10, 10, 6.4, 16, 7, 5); },
       -40, 6.4},
      {"BoltT_Head", [] { return F()->BoltT_Head(10, 25, 15, 22, 7); }, -40, 7},
      {"BoltT_HeadSquareNeck", [] { return F()->BoltT_HeadSquareNeck(10, 25, 15, 22, 7); }, -40, 7},
      {"BoltSpigot", [] { return F()->BoltSpigot(10, 25, 10, 15, 8, 16, 6.4); }, -40, 9.6},
      {"BoltEye", [] { return F()->BoltEye(10, 25, 10, 20, 36, 12); }, -35, 36},
      {"BoltU", [] { return F()->BoltU(10, 25, 60, 40); }, -60, 30},
      {"BoltRing", [] { return F()->BoltRing(10, 20, 25, 45, 25, 8); }, -20, 50.5},
      {"ScrewCheeseSlotted", [] { return F()->ScrewCheeseSlotted(6, 20, 10, 4, 1.6, 2); }, -20, 4},
      {"ScrewPanSlotted", [] { return F()->ScrewPanSlotted(6, 20, 12, 3.6, 1.6, 1.8); }, -20, 3.6},
      {"ScrewCountersunkSlotted", [] { return F()->ScrewCountersunkSlotted(6, 20, 12, 1.6, 1.5); },
       -20, 3},
      {"ScrewCountersunkRaisedSlotted",
       [] { return F()->ScrewCountersunkRaisedSlotted(6, 20, 12, 1.5, 1.6, 2); }, -20, 4.5, 0.05},
      {"ScrewFillisterCrossRecessed",
       [] { return F()->ScrewFillisterCrossRecessed(6, 20, 10, 5, 2.5, 4.6); }, -20, 4.6, 0.05},
      {"ScrewCountersunkCrossRecessed",
       [] { return F()->ScrewCountersunkCrossRecessed(6, 20, 12, 6, 2.5); }, -20, 3},
      {"ScrewCountersunkRaisedCrossRecessed",
       [] { return F()->ScrewCountersunkRaisedCrossRecessed(6, 20, 12, 6, 3, 1.5); }, -20, 4.5,
       0.05},
      {"ScrewHexSocketButton", [] { return F()->ScrewHexSocketButton(6, 16, 10.5, 4, 2.3); }, -16,
       0.31 * 10.5, 0.4},
      {"ScrewCountersunkSquareNeck",
       [] { return F()->ScrewCountersunkSquareNeck(10, 40, 22, 10, 6); }, -40, 6},
      {"ScrewSquareCollar", [] { return F()->ScrewSquareCollar(10, 25, 10, 15, 17, 8, 22, 2); },
       -40, 8},
      {"ScrewThumb", [] { return F()->ScrewThumb(6, 16, 6, 4, 16, 6); }, -20, 6},
      {"ScrewSetSlottedDogPoint",
       [] { return F()->ScrewSetSlottedDogPoint(8, 12, 5.5, 4, 1.2, 2); }, -16, 0},
      {"ScrewSetSlottedConePoint", [] { return F()->ScrewSetSlottedConePoint(8, 14, 1.2, 2); }, -14,
       0},
      {"ScrewSetHexSocketDogPoint",
       [] { return F()->ScrewSetHexSocketDogPoint(8, 12, 5.5, 4, 4, 3.5); }, -16, 0},
      {"ScrewSetHexSocketConePoint", [] { return F()->ScrewSetHexSocketConePoint(8, 14, 4, 3.5); },
       -14, 0},
      {"StudDoubleEnd", [] { return F()->StudDoubleEnd(10, 12, 25, 10, 20); }, 0, 57},
  };
  EXPECT_EQ(cases.size(), 29u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto f = Build(c.build);
    ASSERT_TRUE(f);
    EXPECT_TRUE(Valid(f->Kernel()));
    EXPECT_EQ(SolidCount(f->Kernel()), 1);
    double box[6];
    BoxOf(f->shape, box);
    EXPECT_NEAR(box[2], c.zmin, 1e-6);
    EXPECT_LE(box[5], c.zmax + 1e-6);
    EXPECT_GE(box[5], c.zmax - std::max(c.drive, 1e-6));
  }
}

TEST(Fasteners, HexagonBoltHasItsWidthHeadWasherFaceChamferAndLength) {
  const double s = 18, k = 7.5, c = 0.6, dw = 16.6, ls = 30, b = 30, d = 12;
  auto bolt = Build([&] { return F()->BoltHex(s, k, c, dw, ls, b, 0, d); });
  ASSERT_TRUE(bolt);
  const TopoDS_Shape& t = bolt->Kernel();
  const double mid = (c + k) / 2, e = s / std::sqrt(3.0);  // e: half the width across corners
  EXPECT_TRUE(Inside(t, gp_Pnt(s / 2 - 0.01, 0, mid)));
  EXPECT_TRUE(Outside(t, gp_Pnt(s / 2 + 0.01, 0, mid)));
  EXPECT_TRUE(Inside(t, gp_Pnt(0, e - 0.05, c + 0.05)));
  EXPECT_TRUE(Inside(t, gp_Pnt(0, 0, k - 0.01)));
  EXPECT_TRUE(Outside(t, gp_Pnt(0, 0, k + 0.01)));
  // The 30 degree chamfer: at the corners the head is lower by (e - 0.475 s) tan 30.
  const double drop = (e - 0.475 * s) * std::tan(kPi / 6);
  EXPECT_TRUE(Outside(t, gp_Pnt(0, e - 0.01, k - drop + 0.05)));
  EXPECT_TRUE(Inside(t, gp_Pnt(0, 0.475 * s - 0.05, k - 0.01)));
  // The washer face of diameter dw and height c.
  EXPECT_TRUE(Inside(t, gp_Pnt(dw / 2 - 0.01, 0, c / 2)));
  EXPECT_TRUE(Outside(t, gp_Pnt(0, dw / 2 + 0.01, c / 2)));
  // Length under the head and the thread's end chamfer (45 degrees, 0.1 d).
  double box[6];
  BoxOf(bolt->shape, box);
  EXPECT_NEAR(box[2], -(ls + b), 1e-9);
  EXPECT_TRUE(Outside(t, gp_Pnt(d / 2 - 0.01, 0, -(ls + b) + 0.1 * d - 0.02)));
  EXPECT_TRUE(Inside(t, gp_Pnt(d / 2 - 0.01, 0, -(ls + b) + 0.1 * d + 0.02)));
}

TEST(Fasteners, VolumesMatchAHandComputationForM6M12AndM24) {
  struct Size {
    double d, s, k, c, dw, ls, b;
  };
  for (const Size z : {Size{6, 10, 4, 0.5, 8.9, 20, 18}, Size{12, 18, 7.5, 0.6, 16.6, 30, 30},
                       Size{24, 36, 15, 0.8, 33.3, 50, 54}}) {
    SCOPED_TRACE(testing::Message() << "M" << z.d);
    auto bolt = Build([&] { return F()->BoltHex(z.s, z.k, z.c, z.dw, z.ls, z.b, z.d, z.d); });
    ASSERT_TRUE(bolt);
    const double hand = ShankVolume(z.d, z.d, z.ls, z.b) + kPi * z.dw * z.dw / 4 * z.c +
                        ChamferedHexVolume(z.s, z.k - z.c);
    EXPECT_NEAR(Volume(bolt->Kernel()), hand, 0.01 * hand);
    // Socket head cap screw: cylinder head less a hexagon socket of depth t.
    const double d1 = 1.5 * z.d, sk = z.d, ss = 0.5 * z.d, st = 0.5 * z.d;
    auto cap = Build([&] { return F()->BoltHexSocket(z.d, z.d, z.ls, z.b, d1, sk, ss, st); });
    ASSERT_TRUE(cap);
    const double socket = std::sqrt(3.0) / 2 * ss * ss * st;
    const double capHand = ShankVolume(z.d, z.d, z.ls, z.b) + kPi * d1 * d1 / 4 * sk - socket;
    EXPECT_NEAR(Volume(cap->Kernel()), capHand, 0.01 * capHand);
  }
}

TEST(Fasteners, ASocketIsAsDeepAsItsT) {
  auto cap = Build([] { return F()->BoltHexSocket(10, 10, 15, 25, 16, 10, 8, 5.5); });
  ASSERT_TRUE(cap);
  EXPECT_TRUE(Outside(cap->Kernel(), gp_Pnt(0, 0, 10 - 5.5 + 0.01)));
  EXPECT_TRUE(Inside(cap->Kernel(), gp_Pnt(0, 0, 10 - 5.5 - 0.01)));
  EXPECT_TRUE(Outside(cap->Kernel(), gp_Pnt(3.99, 0, 9)));  // across flats 8
  EXPECT_TRUE(Inside(cap->Kernel(), gp_Pnt(4.01, 0, 9)));
  auto set = Build([] { return F()->ScrewSetHexSocketConePoint(8, 14, 4, 3.5); });
  ASSERT_TRUE(set);
  EXPECT_TRUE(Outside(set->Kernel(), gp_Pnt(0, 0, -3.49)));
  EXPECT_TRUE(Inside(set->Kernel(), gp_Pnt(0, 0, -3.51)));
  auto slotted = Build([] { return F()->ScrewCheeseSlotted(6, 20, 10, 4, 1.6, 2); });
  ASSERT_TRUE(slotted);
  EXPECT_TRUE(Outside(slotted->Kernel(), gp_Pnt(4.5, 0, 4 - 1.99)));
  EXPECT_TRUE(Inside(slotted->Kernel(), gp_Pnt(4.5, 0.81, 4 - 1.0)));
}

TEST(Fasteners, ImpossibleSizesAreRefused) {
  const int bad = QZ::eCodeInvalidParameter;
  std::string text;
  EXPECT_EQ(ErrorOf([] { return F()->BoltHex(8, 6, 0.5, 7, 20, 20, 10, 10); }, &text), bad);
  EXPECT_NE(text.find("must exceed d"), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([] { return F()->BoltHex(16, 0, 0.5, 14, 20, 20, 10, 10); }), bad);
  EXPECT_EQ(ErrorOf([] { return F()->BoltHex(16, 6, 0.5, 30, 20, 20, 10, 10); }), bad);
  EXPECT_EQ(ErrorOf([] { return F()->BoltHex(16, 6, 0.5, 14, 20, -1, 10, 10); }), bad);
  EXPECT_EQ(ErrorOf([] { return F()->BoltHexSocket(10, 10, 15, 25, 16, 10, 8, 12); }), bad);
  EXPECT_EQ(ErrorOf([] { return F()->BoltHexSocket(10, 10, 15, 25, 16, 10, 15, 3); }), bad);
  EXPECT_EQ(ErrorOf([] { return F()->ScrewCheeseSlotted(6, 20, 10, 4, 8, 2); }), bad);
  EXPECT_EQ(ErrorOf([] { return F()->ScrewCountersunkSlotted(6, 20, 5, 1, 1); }), bad);
  EXPECT_EQ(ErrorOf([] { return F()->BoltEye(10, 25, 10, 36, 20, 12); }), bad);
  EXPECT_EQ(ErrorOf([] { return F()->BoltU(10, 70, 60, 40); }), bad);
  EXPECT_EQ(ErrorOf([] { return F()->StudDoubleEnd(0, 12, 25, 10, 20); }), bad);
  EXPECT_EQ(ErrorOf([] { return F()->ScrewSetSlottedDogPoint(8, 12, 9, 4, 1.2, 2); }), bad);
  EXPECT_EQ(ErrorOf([] { return F()->BoltT_Head(10, 25, 15, 10, 7); }), bad);
}

// The volume of a thumb screw by hand: the shank, the chamfers' frustums and the fluted part
// (the circle less 24 flutes: a rectangle from the flat bottom to the chord, and the circle's
// segment beyond the chord).
double ThumbScrewVolume(double d, double b, double ds, double ls, double d1, double k) {
  const double R = d1 / 2, c = std::min(0.1 * k, 0.05 * d1), w = kPi * d1 / 48, hw = w / 2;
  const double xo = std::sqrt(R * R - hw * hw), xi = R - w / 3, delta = std::asin(hw / R);
  const double flute = (xo - xi) * w + R * R * delta - xo * hw;
  const double frustum = kPi * c / 3 * ((R - c) * (R - c) + (R - c) * R + R * R);
  return ShankVolume(d, ds > 0 ? ds : d, ls, b) + 2 * frustum +
         (k - 2 * c) * (kPi * R * R - 24 * flute);
}

TEST(Fasteners, ThumbScrewKnurlIsTheSolidThatCuttingItsFlutesGave) {
  cad_engine::SolidMemo::SetEnabled(false);
  // Measured on the head turned and cut by 24 boxes, joined with the shank: volume (integrated
  // to 1e-9), exact box, faces.
  struct Reference {
    std::array<double, 6> sizes;  // d, b, ds, ls, d1, k
    double volume;
    std::array<double, 6> box;
    int faces;
  };
  const Reference refs[] = {
      {{6, 16, 6, 4, 16, 6}, 1709.62750656, {-8, -8, -20, 8, 8, 6}, 152},
      {{4, 10, 0, 0, 9, 7}, 547.856171212, {-4.5, -4.5, -10, 4.5, 4.5, 7}, 151},
      {{12, 30, 12, 8, 30, 10}, 11006.0947967, {-15, -15, -38, 15, 15, 10}, 152},
      {{5, 12, 6, 3, 25, 3}, 1733.65682729, {-12.5, -12.5, -15, 12.5, 12.5, 3}, 153},
  };
  for (const Reference& r : refs) {
    const auto& q = r.sizes;
    SCOPED_TRACE(testing::Message() << "ScrewThumb(" << q[0] << ", " << q[1] << ", " << q[2] << ", "
                                    << q[3] << ", " << q[4] << ", " << q[5] << ")");
    auto screw = Build([&] { return F()->ScrewThumb(q[0], q[1], q[2], q[3], q[4], q[5]); });
    ASSERT_TRUE(screw);
    const TopoDS_Shape& s = screw->Kernel();
    EXPECT_TRUE(Valid(s));
    EXPECT_EQ(SolidCount(s), 1);
    GProp_GProps props;
    BRepGProp::VolumeProperties(s, props, 1e-9);
    EXPECT_NEAR(props.Mass(), r.volume, 1e-9 * r.volume);
    EXPECT_NEAR(props.Mass(), ThumbScrewVolume(q[0], q[1], q[2], q[3], q[4], q[5]),
                1e-7 * r.volume);
    Bnd_Box b;
    BRepBndLib::AddOptimal(s, b, false, false);
    b.SetGap(0);
    std::array<double, 6> box{};
    b.Get(box[0], box[1], box[2], box[3], box[4], box[5]);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(box[i], r.box[i], 1e-6) << "box " << i;
    int faces = 0;
    for (TopExp_Explorer e(s, TopAbs_FACE); e.More(); e.Next()) ++faces;
    EXPECT_EQ(faces, r.faces);
  }
  cad_engine::SolidMemo::SetEnabled(true);
}

namespace {

// The volume of a hexagon head (width across flats s, height h, 30 degree chamfer from 0.95 s)
// to about 1e-12: Simpson's rule over the angle, in pieces between the kinks where the flat
// meets the circle on which the chamfer reaches the bearing face (low heads).
double ExactHexHeadVolume(double s, double h) {
  const double r0 = 0.475 * s, tan30 = std::tan(kPi / 6), rCap = r0 + h / tan30;
  auto polar = [&](double a) {  // integral of the height times rho, from the axis outwards
    const double rho = std::min(s / 2 / std::cos(a), rCap);
    double v = h * rho * rho / 2;
    if (rho > r0)
      v -= tan30 * ((rho * rho * rho - r0 * r0 * r0) / 3 - r0 * (rho * rho - r0 * r0) / 2);
    return v;
  };
  std::vector<double> at{-kPi / 6};
  if (rCap > s / 2 && rCap < s / std::sqrt(3.0)) {
    at.push_back(-std::acos(s / 2 / rCap));
    at.push_back(std::acos(s / 2 / rCap));
  }
  at.push_back(kPi / 6);
  double v = 0;
  for (size_t i = 0; i + 1 < at.size(); ++i) {
    const int n = 4000;
    const double step = (at[i + 1] - at[i]) / n;
    double sum = polar(at[i]) + polar(at[i + 1]);
    for (int j = 1; j < n; ++j) sum += (j % 2 ? 4 : 2) * polar(at[i] + j * step);
    v += sum * step / 3;
  }
  return 6 * v;
}

struct HexHeadsCut {
  explicit HexHeadsCut(bool cut) { cad_engine::SetHexHeadsCut(cut); }
  ~HexHeadsCut() { cad_engine::SetHexHeadsCut(false); }
};

// A fastener's solids as the booleans cut and joined its head (old) and as it is built now
// (built, checked valid; solids: how many the new shape holds). Both empty, with a failure
// added, when either way gives no shape.
struct BothWays {
  std::vector<SolidMeasure> old, built;
  int solids = 0;
};

template <class Make>
BothWays BuildBothWays(const Make& make) {
  BothWays out;
  std::unique_ptr<Built> old;
  {
    HexHeadsCut cut(true);
    old = Build(make);
  }
  if (!old) {
    ADD_FAILURE() << "the booleans built nothing";
    return out;
  }
  auto now = Build(make);
  if (!now) {
    ADD_FAILURE() << "nothing was built";
    return out;
  }
  EXPECT_TRUE(Valid(now->Kernel()));
  out.old = MeasureSolids(old->Kernel());
  out.built = MeasureSolids(now->Kernel());
  out.solids = SolidCount(now->Kernel());
  return out;
}

}  // namespace

// Hexagon bolts whose head and shank are turned as one and cut to the hexagon once are the
// solids that chamfering the head and fusing it with the shank gave: with and without washer
// face, reduced, plain and wider shanks, no shank at all, heads so low that the chamfer meets the
// bearing face within the corners, washer faces wider than the flats, tiny and large sizes.
TEST(Fasteners, HexagonBoltsTurnedAsOneAreTheBoltsTheBooleansJoined) {
  cad_engine::SolidMemo::SetEnabled(false);
  struct Size {
    double s, k, c, dw, ls, b, ds, d;
  };
  const Size sizes[] = {
      {10, 4, 0.5, 8.9, 20, 18, 6, 6},       {18, 7.5, 0.6, 16.6, 30, 30, 0, 12},
      {36, 15, 0.8, 33.3, 50, 54, 24, 24},   {16, 6.4, 0.6, 14.6, 20, 26, 10, 10},
      {13, 5.3, 0, 0, 25, 22, 7.2, 8},       {13, 5.3, 0.4, 11.6, 0, 22, 0, 8},
      {24, 10, 0.6, 22, 40, 38, 19, 16},     {10, 0.3, 0, 0, 10, 10, 0, 6},
      {10, 0.9, 0.6, 8.9, 10, 10, 0, 6},     {10, 4, 0.5, 10.5, 20, 18, 6, 6},
      {1.6, 0.64, 0.06, 1.46, 2, 2.6, 1, 1}, {100, 40, 1.5, 92, 150, 120, 64, 64},
      {30, 12.5, 0, 14, 60, 40, 20, 20},     {19, 8, 0.6, 17.5, 30, 1, 12, 12},
  };
  const long turnedBefore = cad_engine::HexBoltsTurned();
  for (const Size& z : sizes) {
    SCOPED_TRACE(testing::Message()
                 << "BoltHex(" << z.s << ", " << z.k << ", " << z.c << ", " << z.dw << ", " << z.ls
                 << ", " << z.b << ", " << z.ds << ", " << z.d << ")");
    const BothWays both =
        BuildBothWays([&] { return F()->BoltHex(z.s, z.k, z.c, z.dw, z.ls, z.b, z.ds, z.d); });
    ASSERT_FALSE(both.built.empty());
    EXPECT_EQ(both.solids, 1);
    const std::vector<SolidMeasure>&joined = both.old, &turned = both.built;
    ExpectSameSolids(turned, joined, false);
    ASSERT_EQ(turned.size(), 1u);
    ASSERT_EQ(joined.size(), 1u);
    // The same volume as the booleans' to 1e-9; where the booleans' is farther off (a chamfer
    // that meets the bearing face, by about 1.3e-9), the exact one to 1e-10.
    const bool face = z.c > 0 && z.dw > 0;
    const double exact = ShankVolume(z.d, z.ds > 0 ? z.ds : z.d, z.ls, z.b) +
                         (face ? kPi * z.dw * z.dw / 4 * z.c : 0.0) +
                         ExactHexHeadVolume(z.s, z.k - (face ? z.c : 0.0));
    const double v = turned[0].volume, was = joined[0].volume;
    if (std::fabs(v - was) > 1e-9 * was) {
      EXPECT_NEAR(v, exact, 1e-10 * exact);
      EXPECT_LT(std::fabs(v - exact), std::fabs(was - exact));
    }
    EXPECT_NEAR(v, was, 2e-9 * was);
    EXPECT_NEAR(v, exact, 1e-9 * exact);
  }
  cad_engine::SolidMemo::SetEnabled(true);
  // All but the washer face wider than the flats are turned as one.
  EXPECT_EQ(cad_engine::HexBoltsTurned() - turnedBefore, long(std::size(sizes)) - 1);
}

// Socket head cap screws put together from their faces are the screws that cutting the socket
// from the turned head gave: small and large, shallow and deep sockets, sockets whose corners
// come close to the rim, reduced and plain shanks, no plain shank.
TEST(Fasteners, SocketHeadsOfTheirFacesAreTheScrewsTheBooleansCut) {
  cad_engine::SolidMemo::SetEnabled(false);
  struct Size {
    double d, ds, ls, b, d1, k, s, t;
  };
  const Size sizes[] = {
      {8, 8, 16, 24, 12, 8, 6, 4},        {3, 0, 0, 12, 5.5, 3, 2.5, 1.3},
      {24, 20, 40, 60, 36, 24, 19, 12},   {10, 10, 20, 30, 16, 10, 8.6, 9.9},
      {6, 6, 10, 20, 10, 6, 5, 0.2},      {1, 1, 2, 3, 1.5, 1, 0.75, 0.5},
      {64, 64, 100, 140, 96, 64, 46, 34}, {12, 0, 30, 25, 18, 12, 10, 6},
  };
  const long turnedBefore = cad_engine::HexBoltsTurned();
  for (const Size& z : sizes) {
    SCOPED_TRACE(testing::Message()
                 << "BoltHexSocket(" << z.d << ", " << z.ds << ", " << z.ls << ", " << z.b << ", "
                 << z.d1 << ", " << z.k << ", " << z.s << ", " << z.t << ")");
    const BothWays both = BuildBothWays(
        [&] { return F()->BoltHexSocket(z.d, z.ds, z.ls, z.b, z.d1, z.k, z.s, z.t); });
    ASSERT_FALSE(both.built.empty());
    const std::vector<SolidMeasure>& faced = both.built;
    ExpectSameSolids(faced, both.old);
    ASSERT_EQ(faced.size(), 1u);
    const double exact = ShankVolume(z.d, z.ds > 0 ? z.ds : z.d, z.ls, z.b) +
                         kPi * z.d1 * z.d1 / 4 * z.k - std::sqrt(3.0) / 2 * z.s * z.s * z.t;
    EXPECT_NEAR(faced[0].volume, exact, 1e-9 * exact);
  }
  cad_engine::SolidMemo::SetEnabled(true);
  EXPECT_EQ(cad_engine::HexBoltsTurned() - turnedBefore, long(std::size(sizes)));
}

// Hexagon set bolts and spigot bolts join their point or spigot to the hexagon bolt put together
// from its faces: the same solids as joining them to the chamfered head and the shank.
TEST(Fasteners, SetAndSpigotBoltsOnTheFaceBuiltHeadAreTheBoltsTheBooleansJoined) {
  cad_engine::SolidMemo::SetEnabled(false);
  const std::vector<std::pair<const char*, std::function<QZ::CAD::IShape*()>>> bolts = {
      {"dog point", [] { return F()->BoltHexSetDogPoint(10, 25, 10, 10, 6.4, 16, 7, 5); }},
      {"dog cone", [] { return F()->BoltHexSetDogCone(10, 25, 10, 10, 6.4, 16, 7, 5); }},
      {"dog point, no shank", [] { return F()->BoltHexSetDogPoint(4, 12, 0, 0, 2.8, 7, 2.5, 2); }},
      {"dog cone, reduced", [] { return F()->BoltHexSetDogCone(24, 50, 21, 30, 15, 36, 18, 9); }},
      {"spigot", [] { return F()->BoltSpigot(10, 25, 10, 15, 8, 16, 6.4); }},
      {"spigot, wide", [] { return F()->BoltSpigot(16, 40, 0, 0, 23, 24, 10); }},
      {"spigot, small", [] { return F()->BoltSpigot(3, 8, 3, 4, 2, 5.5, 2); }},
  };
  const long turnedBefore = cad_engine::HexBoltsTurned();
  for (const auto& [name, make] : bolts) {
    SCOPED_TRACE(name);
    const BothWays both = BuildBothWays(make);
    ASSERT_FALSE(both.built.empty());
    EXPECT_EQ(both.solids, 1);
    ExpectSameSolids(both.built, both.old);
  }
  cad_engine::SolidMemo::SetEnabled(true);
  EXPECT_EQ(cad_engine::HexBoltsTurned() - turnedBefore, long(bolts.size()));
}

// Heads of revolution turned with their shanks as one outline, then slotted, recessed or joined
// to their necks, squares, rings and hexagons, are the solids that fusing head and shank gave:
// cheese, pan, countersunk and raised heads with slots or cross recesses, fillister and button
// heads, flanges, collars and domes, each tiny, as catalogued and large, in two proportions.
TEST(Fasteners, HeadsTurnedWithTheirShanksAreTheScrewsTheBooleansJoined) {
  cad_engine::SolidMemo::SetEnabled(false);
  // Each kind with its sizes as catalogued and in other proportions (scaled together).
  using P = std::vector<double>;
  struct Kind {
    const char* name;
    std::function<QZ::CAD::IShape*(const P&)> make;
    P sizes, other;
  };
  const Kind kinds[] = {
      {"BoltHexFlange",
       [](const P& p) { return F()->BoltHexFlange(p[0], p[1], p[2], p[3], p[4], p[5], p[6]); },
       {10, 10, 15, 25, 21, 10, 15},
       {10, 8, 0, 25, 18, 10, 15}},
      {"BoltCarriage",
       [](const P& p) { return F()->BoltCarriage(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]); },
       {10, 10, 20, 25, 25, 10, 6, 6},
       {10, 9, 0, 25, 25, 10, 6, 10}},
      {"BoltRing",
       [](const P& p) { return F()->BoltRing(p[0], p[1], p[2], p[3], p[4], p[5]); },
       {10, 20, 25, 45, 25, 8},
       {10, 20, 20, 30, 14, 3}},
      {"ScrewCheeseSlotted",
       [](const P& p) { return F()->ScrewCheeseSlotted(p[0], p[1], p[2], p[3], p[4], p[5]); },
       {6, 20, 10, 4, 1.6, 2},
       {6, 8, 14, 6, 2, 3}},
      {"ScrewPanSlotted",
       [](const P& p) { return F()->ScrewPanSlotted(p[0], p[1], p[2], p[3], p[4], p[5]); },
       {6, 20, 12, 3.6, 1.6, 1.8},
       {6, 10, 9, 5, 1.2, 2}},
      {"ScrewCountersunkSlotted",
       [](const P& p) { return F()->ScrewCountersunkSlotted(p[0], p[1], p[2], p[3], p[4]); },
       {6, 20, 12, 1.6, 1.5},
       {6, 30, 9, 1, 1}},
      {"ScrewCountersunkRaisedSlotted",
       [](const P& p) {
         return F()->ScrewCountersunkRaisedSlotted(p[0], p[1], p[2], p[3], p[4], p[5]);
       },
       {6, 20, 12, 1.5, 1.6, 2},
       {6, 12, 10, 4, 1.5, 3}},
      {"ScrewFillisterCrossRecessed",
       [](const P& p) {
         return F()->ScrewFillisterCrossRecessed(p[0], p[1], p[2], p[3], p[4], p[5]);
       },
       {6, 20, 10, 5, 2.5, 4.6},
       {6, 15, 12, 8, 3, 6}},
      {"ScrewCountersunkCrossRecessed",
       [](const P& p) { return F()->ScrewCountersunkCrossRecessed(p[0], p[1], p[2], p[3], p[4]); },
       {6, 20, 12, 6, 2.5},
       {6, 10, 16, 10, 4}},
      {"ScrewCountersunkRaisedCrossRecessed",
       [](const P& p) {
         return F()->ScrewCountersunkRaisedCrossRecessed(p[0], p[1], p[2], p[3], p[4], p[5]);
       },
       {6, 20, 12, 6, 3, 1.5},
       {6, 10, 14, 9, 5, 3}},
      {"ScrewHexSocketButton",
       [](const P& p) { return F()->ScrewHexSocketButton(p[0], p[1], p[2], p[3], p[4]); },
       {6, 16, 10.5, 4, 2.3},
       {6, 8, 14, 5, 3}},
      {"ScrewCountersunkSquareNeck",
       [](const P& p) { return F()->ScrewCountersunkSquareNeck(p[0], p[1], p[2], p[3], p[4]); },
       {10, 40, 22, 10, 6},
       {10, 20, 30, 14, 10}},
      {"ScrewSquareCollar",
       [](const P& p) {
         return F()->ScrewSquareCollar(p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]);
       },
       {10, 25, 10, 15, 17, 8, 22, 2},
       {10, 25, 8, 0, 14, 6, 16, 3}},
  };
  const long turnedBefore = cad_engine::HeadsTurnedWithShanks();
  long built = 0;
  for (const Kind& kind : kinds)
    for (double g : {0.1, 1.0, 4.0})
      for (bool alt : {false, true}) {
        SCOPED_TRACE(testing::Message() << kind.name << ", scale " << g << (alt ? ", other" : ""));
        P sizes = alt ? kind.other : kind.sizes;
        for (double& v : sizes) v *= g;
        const BothWays both = BuildBothWays([&] { return kind.make(sizes); });
        ASSERT_FALSE(both.built.empty());
        EXPECT_EQ(both.solids, 1);
        ExpectSameSolids(both.built, both.old);
        ++built;
      }
  // A fillister head so high that its dome is more than a half ball is what the booleans make
  // of it (the ball within a cylinder 1 mm wider than the head), not a turned ball.
  const long before = cad_engine::HeadsTurnedWithShanks();
  const BothWays tall =
      BuildBothWays([] { return F()->ScrewFillisterCrossRecessed(6, 20, 8, 5, 2.5, 48); });
  ASSERT_FALSE(tall.built.empty());
  ExpectSameSolids(tall.built, tall.old);
  EXPECT_EQ(cad_engine::HeadsTurnedWithShanks(), before);
  cad_engine::SolidMemo::SetEnabled(true);
  EXPECT_EQ(cad_engine::HeadsTurnedWithShanks() - turnedBefore, built);
}
