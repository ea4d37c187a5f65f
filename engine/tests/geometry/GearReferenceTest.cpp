// The gears of the element catalogue and of the gear tests against the measures of their solids
// as the boolean construction (cutting and fusing lofted pieces) gave them: volume, exact box,
// number of faces and validity. A faster construction must give the same solid.
// MORLANE_GEAR_MEASURES=1 prints what is measured, as the table's lines.
#include "GeometryFixture.h"
#include "Gears.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBndLib.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <Bnd_Box.hxx>

#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace geometry_test {
namespace {

QZ::CAD::IGearFactory* Gears() { return cad_engine::GearFactory(); }

struct Reference {
  const char* name;
  std::function<QZ::CAD::IShape*()> build;
  double volume;
  std::array<double, 6> box;
  int faces;
};

// A profile gear of the catalogue's trapezoid tooth.
QZ::CAD::IShape* ProfileGear(bool spline, bool internal, bool two,
                             const QZ::CAD::ToothProfileValues& v) {
  QZ::CAD::IPointList* list = TrapezoidTooth(spline);
  struct Release {
    QZ::CAD::IPointList* l;
    ~Release() { l->Release(); }
  } release{list};
  if (internal)
    return two ? Gears()->DoubleInternalToothProfile(list, v)
               : Gears()->InternalToothProfile(list, v);
  return two ? Gears()->DoubleExternalToothProfile(list, v)
             : Gears()->ExternalToothProfile(list, v);
}

const std::vector<Reference>& References() {
  static const std::vector<Reference> refs = {
      {"catalogue bevel gear",
       [] { return Gears()->ConeGear(20, 3, 45, 12, 30, 12, 10, 4); },
       31553.357167,
       {-32.12132, -32.12132, -14, 32.12132, 32.12132, 8.485281},
       186},
      {"catalogue spur gear",
       [] { return Gears()->ExternalGear(24, 3, 20, 20, 0, 0, 0, 20); },
       73863.64626,
       {-39, -39, 0, 39, 39, 20},
       195},
      {"catalogue helical gear",
       [] { return Gears()->ExternalGear(24, 3, 20, 20, 15, 0, 0, 20); },
       79763.009479,
       {-40.269951, -40.269951, 0, 40.269951, 40.269951, 20},
       195},
      {"catalogue internal gear",
       [] { return Gears()->InternalGear(40, 2, 15, 20, 0, 0, 0, 100); },
       42170.285169,
       {-50, -50, 0, 50, 50, 15},
       243},
      {"catalogue double helical gear",
       [] { return Gears()->DoubleExternalGear(24, 3, 30, 20, 25, 0, 0, 20, 6, 60); },
       125138.742225,
       {-42.721614, -42.721614, 0, 42.721614, 42.721614, 30},
       294},
      {"catalogue double helical internal gear",
       [] { return Gears()->DoubleInternalGear(48, 2, 24, 20, 20, 0, 0, 120, 4, 108); },
       70321.467363,
       {-60, -60, 0, 60, 60, 24},
       582},
      {"catalogue profile gear",
       [] {
         return ProfileGear(true, false, false, {12, 10, 0, 10, 0, 0});
       },
       14674.491305,
       {-21.477653, -21.477653, 0, 21.45772, 21.477653, 10},
       4},
      {"catalogue internal profile gear",
       [] {
         return ProfileGear(false, true, false, {12, 10, 0, 50, 0, 0});
       },
       7931.987849,
       {-25, -25, 0, 25, 25, 10},
       75},
      {"catalogue double profile gear",
       [] {
         return ProfileGear(true, false, true, {12, 16, 20, 10, 4, 30});
       },
       15723.249821,
       {-21.477653, -21.477653, 0, 21.45772, 21.477653, 16},
       8},
      {"catalogue double internal profile gear",
       [] {
         return ProfileGear(false, true, true, {12, 16, 20, 50, 4, 44});
       },
       11290.248778,
       {-25, -25, 0, 25, 25, 16},
       150},
      {"helical internal gear",
       [] { return Gears()->InternalGear(40, 1, 8, 20, 15, 0, 0, 50); },
       4895.778389,
       {-25, -25, 0, 25, 25, 8},
       243},
      {"helical gear without bore",
       [] { return Gears()->ExternalGear(17, 2, 12, 20, -20, 0, 0.3, 0); },
       12934.724607,
       {-20.691022, -20.691022, 0, 20.691022, 20.690722, 12},
       104},
      {"double helical internal gear of the tests",
       [] { return Gears()->DoubleInternalGear(40, 1, 8, 20, 20, 0, 0, 50, 2, 46); },
       3814.536363,
       {-25, -25, 0, 25, 25, 8},
       486},
      {"helical profile gear",
       [] {
         return ProfileGear(false, false, false, {12, 12, 15, 0, 0, 0});
       },
       14043.563032,
       {-20.999997, -20.999997, 0, 20.999997, 20.999997, 12},
       74},
      {"helical internal profile gear",
       [] {
         return ProfileGear(true, true, false, {12, 12, -15, 0, 0, 0});
       },
       13330.190321,
       {-27, -27, 0, 27, 27, 12},
       4},
      {"double internal spline profile gear",
       [] {
         return ProfileGear(true, true, true, {12, 16, 20, 50, 4, 0});
       },
       11721.703601,
       {-25, -25, 0, 25, 25, 16},
       54},
      {"bevel gear without bore and hub",
       [] { return Gears()->ConeGear(17, 2, 30, 0, 0, 8, 0, 0); },
       4822.111268,
       {-18.527755, -18.703286, 0, 18.732051, 18.703286, 6.928203},
       138},
      {"bevel gear of many teeth",
       [] { return Gears()->ConeGear(40, 2, 60, 20, 36, 10, 8, 3); },
       37290.522628,
       {-41, -41, -11, 41, 41, 5},
       286},
      {"bevel gear with a body only",
       [] { return Gears()->ConeGear(24, 2.5, 40, 0, 0, 10, 0, 5); },
       29142.085833,
       {-31.915111, -31.915111, -5, 31.915111, 31.915111, 7.660445},
       171},
      {"bevel gear with a hub only",
       [] { return Gears()->ConeGear(18, 2, 50, 8, 16, 7, 6, 0); },
       3988.320858,
       {-19.285575, -19.105853, -6, 19.285575, 19.105853, 4.499513},
       149},
      {"double helical gear of straight teeth",
       [] { return Gears()->DoubleExternalGear(20, 2, 20, 20, 0, 0, 0, 10, 4, 30); },
       20948.607792,
       {-22, -22, 0, 22, 22, 20},
       326},
      {"double internal gear of straight teeth",
       [] { return Gears()->DoubleInternalGear(40, 1.5, 14, 20, 0, 0, 0, 0, 3, 64); },
       17342.52278,
       {-36.375, -36.375, 0, 36.375, 36.375, 14},
       486},
      {"double helical gear with its core at the roots",
       [] { return Gears()->DoubleExternalGear(20, 2, 20, 20, 25, 0, 0, 10, 4, 0); },
       27346.606915,
       {-24.067569, -24.067569, 0, 24.067569, 24.067569, 20},
       364},
      {"double helical internal gear with its hole at the roots",
       [] { return Gears()->DoubleInternalGear(40, 1, 8, 20, 20, 0, 0, 50, 2, 0); },
       3947.984174,
       {-25, -25, 0, 25, 25, 8},
       564},
      {"double helical gear of straight teeth with its core at the roots",
       [] { return Gears()->DoubleExternalGear(20, 2, 20, 20, 0, 0, 0, 10, 4, 0); },
       21969.625404,
       {-22, -22, 0, 22, 22, 20},
       364},
      {"shifted double helical gear without bore with its core at the roots",
       [] { return Gears()->DoubleExternalGear(17, 2, 16, 20, -20, 0, 0.3, 0, 3, 0); },
       16483.307759,
       {-20.685242, -20.691022, 0, 20.691022, 20.651254, 16},
       241},
      {"catalogue double helical internal gear with its hole at the roots",
       [] { return Gears()->DoubleInternalGear(48, 2, 24, 20, 20, 0, 0, 120, 4, 0); },
       70888.543373,
       {-60, -60, 0, 60, 60, 24},
       676},
      {"double internal gear of straight teeth with its hole at the roots",
       [] { return Gears()->DoubleInternalGear(40, 1.5, 14, 20, 0, 0, 0, 0, 3, 0); },
       17417.773742,
       {-36.375, -36.375, 0, 36.375, 36.375, 14},
       564},
      {"double helical gear without a gap",
       [] { return Gears()->DoubleExternalGear(20, 2, 20, 20, 25, 0, 0, 10, 0, 0); },
       28561.538456,
       {-24.067559, -24.067559, 0, 24.067559, 24.067559, 20},
       323},
      {"double helical internal gear without a gap",
       [] { return Gears()->DoubleInternalGear(40, 1, 8, 20, 20, 0, 0, 50, 0, 0); },
       4281.801121,
       {-25, -25, 0, 25, 25, 8},
       483},
      {"rack",
       [] { return Gears()->RackGear(2, 10, 12, 60); },
       5934.767778,
       {0, 0, 0, 60, 12, 10},
       44},
  };
  return refs;
}

struct Measured {
  double volume = 0;
  double engineVolume = 0;  // as the engine's shape gives it to the viewer
  std::array<double, 6> box{};
  int faces = 0, solids = 0;
  bool valid = false;
  double seconds = 0;
};

// Volume, exact box, faces, solids and validity of s.
void MeasureShape(const TopoDS_Shape& s, Measured& m) {
  // Integrated to a relative precision of 1e-9: the kernel's default integration of faces
  // bounded by one long spline is off by percents, differently for differently split faces.
  GProp_GProps props;
  BRepGProp::VolumeProperties(s, props, 1e-9);
  m.volume = props.Mass();
  Bnd_Box b;
  BRepBndLib::AddOptimal(s, b, false, false);
  b.SetGap(0);
  b.Get(m.box[0], m.box[1], m.box[2], m.box[3], m.box[4], m.box[5]);
  for (TopExp_Explorer e(s, TopAbs_FACE); e.More(); e.Next()) ++m.faces;
  m.solids = SolidCount(s);
  m.valid = Valid(s);
}

Measured Measure(const Reference& r) {
  Measured m;
  const auto t0 = std::chrono::steady_clock::now();
  auto built = Build(r.build);
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (!built) return m;
  MeasureShape(built->Kernel(), m);
  m.engineVolume = built->shape->GetVolume();
  return m;
}

// The gear's lofted halves (the outline twisted opposite ways from the middle plane), each a
// solid with its end faces, as the kernel lofts them.
std::pair<TopoDS_Shape, TopoDS_Shape> Halves(const cad_engine::InvoluteGear& g, double b) {
  const TopoDS_Wire outline = cad_engine::GearOutline(g);
  const double twist = std::tan(g.beta) / g.r, half = b / 2;
  return {cad_engine::ToothedBody(outline, half, twist),
          cad_engine::ToothedBody(outline, half, -twist, half, half * twist)};
}

double RimOf(const cad_engine::InvoluteGear& g, double d) {
  return d > 0 ? d / 2 : g.rf + 3 * g.mn;
}

// A double helical gear without a gap as cutting and fusing its lofted halves gives it: fused
// (external) or cut from the rim (internal), the bore cut out.
TopoDS_Shape FusedHalves(const cad_engine::InvoluteGear& g, double b, double d) {
  const auto [lower, upper] = Halves(g, b);
  if (g.internal) {
    TopTools_ListOfShape args, tools;
    args.Append(BRepPrimAPI_MakeCylinder(RimOf(g, d), b).Shape());
    tools.Append(lower);
    tools.Append(upper);
    BRepAlgoAPI_Cut cut;
    cut.SetArguments(args);
    cut.SetTools(tools);
    cut.Build();
    return cut.IsDone() ? cut.Shape() : TopoDS_Shape();
  }
  BRepAlgoAPI_Fuse fuse(lower, upper);
  if (!fuse.IsDone()) return {};
  if (d <= 0) return fuse.Shape();
  gp_Ax2 axis(gp_Pnt(0, 0, -1), gp::DZ());
  BRepAlgoAPI_Cut cut(fuse.Shape(), BRepPrimAPI_MakeCylinder(axis, d / 2, b + 2).Shape());
  return cut.IsDone() ? cut.Shape() : TopoDS_Shape();
}

// What the fused halves measure, from the halves alone (the booleans that fuse helical halves
// meeting in a plane take tens of seconds): the halves only touch, so the volume is theirs
// (with the bore taken out, or taken out of the rim), the box theirs (or the rim's), and every
// face of theirs but the two at the middle stays, with the bore's or the rim's cylinder.
Measured FromHalves(const cad_engine::InvoluteGear& g, double b, double d) {
  const auto [lower, upper] = Halves(g, b);
  Measured m;
  Bnd_Box box;
  for (const TopoDS_Shape& s : {lower, upper}) {
    GProp_GProps props;
    BRepGProp::VolumeProperties(s, props, 1e-9);
    m.volume += props.Mass();
    BRepBndLib::AddOptimal(s, box, false, false);
    for (TopExp_Explorer e(s, TopAbs_FACE); e.More(); e.Next()) ++m.faces;
  }
  m.faces -= 2;
  if (g.internal) {
    const double rim = RimOf(g, d);
    m.volume = cad_engine::kPi * rim * rim * b - m.volume;
    m.box = {-rim, -rim, 0, rim, rim, b};
    m.faces += 1 - 2 + 2;  // the rim; the halves' outer ends become the rim's end rings
  } else {
    if (d > 0) m.volume -= cad_engine::kPi * d * d / 4 * b;
    if (d > 0) ++m.faces;
    box.SetGap(0);
    box.Get(m.box[0], m.box[1], m.box[2], m.box[3], m.box[4], m.box[5]);
  }
  m.solids = 1;
  m.valid = true;
  return m;
}

// How many faces of s are faces of their own (not the very face of another, placed again).
size_t OwnFaces(const TopoDS_Shape& s) {
  std::set<const void*> own;
  for (TopExp_Explorer e(s, TopAbs_FACE); e.More(); e.Next())
    own.insert(e.Current().TShape().get());
  return own.size();
}

}  // namespace

class GearReference : public testing::TestWithParam<size_t> {
 protected:
  void SetUp() override { cad_engine::SolidMemo::SetEnabled(false); }
  void TearDown() override { cad_engine::SolidMemo::SetEnabled(true); }
};

TEST_P(GearReference, KeepsItsVolumeBoxAndFaces) {
  const Reference& r = References()[GetParam()];
  const Measured m = Measure(r);
  if (std::getenv("MORLANE_GEAR_MEASURES"))
    std::printf("      %s  %.4fs\n      %.6f, {%.6f, %.6f, %.6f, %.6f, %.6f, %.6f}, %d},\n", r.name,
                m.seconds, m.volume, m.box[0], m.box[1], m.box[2], m.box[3], m.box[4], m.box[5],
                m.faces);
  EXPECT_TRUE(m.valid);
  EXPECT_EQ(m.solids, 1);
  EXPECT_NEAR(m.volume, r.volume, 1e-6 * r.volume);
  EXPECT_NEAR(m.engineVolume, r.volume, 1e-6 * r.volume);
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(m.box[k], r.box[k], 1e-4) << "box " << k;
  EXPECT_EQ(m.faces, r.faces);
}

// Without a gap the halves of a double helical gear meet at the middle plane: the gear is put
// together from the halves' faces, which there share their edges, and comes out as the solid
// fusing them gives, over a spread of teeth, modules, helix angles, shifts, bores and rims.
TEST_F(GearReference, DoubleHelicalGearsWithoutAGapAreTheirFusedHalves) {
  struct Size {
    unsigned z;
    double mn, b, beta, x, d;
    bool internal, fuse;  // fuse: measured against the boolean itself (straight teeth: quick)
  };
  const Size sizes[] = {
      {9, 3, 12, 15, 0, 0, false, false},        {13, 1.5, 8, -30, 0.4, 6, false, false},
      {23, 1.5, 14, -30, 0.4, 12, false, false}, {40, 1, 10, 20, -0.3, 30, false, false},
      {11, 2, 6, 0, 0, 4, false, true},          {24, 2, 12, 15, 0, 0, true, false},
      {37, 1, 8, -25, 0.3, 50, true, false},     {15, 2, 6, 20, 0.2, 0, true, false},
      {14, 2, 4, 0, 0, 0, true, true},
  };
  for (const Size& size : sizes) {
    const std::string name = std::string(size.internal ? "internal " : "external ") +
                             std::to_string(size.z) + " teeth, helix " + std::to_string(size.beta);
    auto built = Build([&] {
      return size.internal ? Gears()->DoubleInternalGear(size.z, size.mn, size.b, 20, size.beta, 0,
                                                         size.x, size.d, 0, 0)
                           : Gears()->DoubleExternalGear(size.z, size.mn, size.b, 20, size.beta, 0,
                                                         size.x, size.d, 0, 0);
    });
    ASSERT_TRUE(built) << name;
    const cad_engine::InvoluteGear g = cad_engine::MakeInvoluteGear(
        "Test", size.z, size.mn, 20, size.beta, 0, size.x, size.internal);
    Measured ours, theirs;
    MeasureShape(built->Kernel(), ours);
    if (size.fuse) {
      const TopoDS_Shape fused = FusedHalves(g, size.b, size.d);
      ASSERT_FALSE(fused.IsNull()) << name;
      MeasureShape(fused, theirs);
    } else {
      theirs = FromHalves(g, size.b, size.d);
    }
    EXPECT_TRUE(ours.valid) << name;
    EXPECT_EQ(ours.solids, 1) << name;
    EXPECT_NEAR(ours.volume, theirs.volume, 1e-9 * theirs.volume) << name;
    for (int k = 0; k < 6; ++k)
      EXPECT_NEAR(ours.box[k], theirs.box[k], 1e-6) << name << " box " << k;
    EXPECT_EQ(ours.faces, theirs.faces) << name;
    // Put together, not cut and fused: the helical halves' faces are those of one pitch,
    // repeated about the axis.
    if (size.beta != 0) {
      EXPECT_LT(OwnFaces(built->Kernel()) * 4, size_t(ours.faces)) << name;
    }
  }
}

// Profile gears' halves without a gap are joined the same way (lofted whole, not from a pitch):
// every section of a twisted half is the profile turned, so the gear holds what the single
// helical gear of that profile holds (to the lofts' following of the helix), with the faces of
// the straight one, and is valid.
TEST_F(GearReference, DoubleProfileGearsWithoutAGapAreTheirJoinedHalves) {
  for (bool spline : {false, true})
    for (bool internal : {false, true}) {
      SCOPED_TRACE(std::string(spline ? "spline" : "polygon") + (internal ? ", internal" : ""));
      const double d = internal ? 50 : 10;
      auto joined = Build([&] {
        return ProfileGear(spline, internal, true, {12, 16, 20, d, 0, 0});
      });
      auto single = Build([&] {
        return ProfileGear(spline, internal, false, {12, 16, 20, d, 0, 0});
      });
      auto straight = Build([&] {
        return ProfileGear(spline, internal, true, {12, 16, 0, d, 0, 0});
      });
      ASSERT_TRUE(joined);
      ASSERT_TRUE(single);
      ASSERT_TRUE(straight);
      Measured j, h, s;
      MeasureShape(joined->Kernel(), j);
      MeasureShape(single->Kernel(), h);
      MeasureShape(straight->Kernel(), s);
      EXPECT_TRUE(j.valid);
      EXPECT_TRUE(s.valid);
      EXPECT_EQ(j.solids, 1);
      EXPECT_EQ(s.solids, 1);
      EXPECT_NEAR(j.volume, h.volume, 1e-5 * h.volume);
      EXPECT_EQ(j.faces, s.faces);
      EXPECT_NEAR(j.box[2], 0, 1e-6);
      EXPECT_NEAR(j.box[5], 16, 1e-6);
    }
}

// A bevel gear's teeth are lofted from one pitch and repeated about the axis, and so are the
// teeth's faces on the outer end: the faces of their own are a pitch's and a few more (the
// pitch that closes the turn, the ends, the body's and the bore's).
TEST_F(GearReference, BevelGearTeethAreOnePitchPlacedAgain) {
  for (unsigned z : {20u, 33u}) {
    auto built = Build([&] { return Gears()->ConeGear(z, 3, 45, 12, 30, 12, 10, 4); });
    ASSERT_TRUE(built) << z;
    int faces = 0;
    for (TopExp_Explorer e(built->Kernel(), TopAbs_FACE); e.More(); e.Next()) ++faces;
    // Six or more faces a tooth (flanks, tip, root, fillets; the outer end's face).
    EXPECT_GE(faces, 6 * static_cast<int>(z)) << z;
    EXPECT_LT(OwnFaces(built->Kernel()), 30u) << z;
    EXPECT_TRUE(Valid(built->Kernel())) << z;
  }
}

std::string NameOf(const testing::TestParamInfo<size_t>& info) {
  std::string name;
  bool upper = true;
  for (const char* c = References()[info.param].name; *c; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) {
      name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(*c))) : *c;
      upper = false;
    } else {
      upper = true;
    }
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Gears, GearReference, testing::Range<size_t>(0, References().size()),
                         NameOf);

}  // namespace geometry_test
