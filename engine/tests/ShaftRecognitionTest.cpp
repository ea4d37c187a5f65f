// Shaft recognition over turned parts built directly with the kernel, handed to the engine
// through STEP files (the way users bring them), and over the engine's own primitives.
#include "EngineFixture.h"

#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepFilletAPI_MakeFillet2d.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRep_Builder.hxx>
#include <GC_MakeArcOfCircle.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <STEPControl_Writer.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <gp_Ax2.hxx>

#include <array>
#include <cstdlib>
#include <utility>
#include <vector>

namespace engine_test {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTol = 1e-6;  // mm

using Profile = std::vector<std::pair<double, double>>;  // (r, z)

// A face in the xz plane (x is the radius) from a closed polygon, its listed corners rounded.
TopoDS_Face ProfileFace(const Profile& pts,
                        const std::vector<std::pair<int, double>>& fillets = {}) {
  BRepBuilderAPI_MakePolygon poly;
  for (const auto& [r, z] : pts) poly.Add(gp_Pnt(r, 0, z));
  poly.Close();
  TopoDS_Face face = BRepBuilderAPI_MakeFace(poly.Wire(), true).Face();
  if (fillets.empty()) return face;
  BRepFilletAPI_MakeFillet2d f(face);
  std::vector<TopoDS_Vertex> corners;
  for (TopExp_Explorer e(poly.Wire(), TopAbs_VERTEX); e.More(); e.Next())
    corners.push_back(TopoDS::Vertex(e.Current()));
  for (const auto& [index, radius] : fillets) {
    const gp_Pnt at(pts[index].first, 0, pts[index].second);
    for (const TopoDS_Vertex& v : corners)
      if (BRep_Tool::Pnt(v).Distance(at) < 1e-9) {
        f.AddFillet(v, radius);
        break;
      }
  }
  f.Build();
  return TopoDS::Face(f.Shape());
}

TopoDS_Shape Revolve(const TopoDS_Face& face) {
  return BRepPrimAPI_MakeRevol(face, gp_Ax1(gp_Pnt(0, 0, 0), gp::DZ())).Shape();
}

// A section from pos to pos + l with chamfers (negative) or roundings (positive) at its ends.
TopoDS_Shape Section(double pos, double r1, double r2, double rin1, double rin2, double l,
                     double c1 = 0, double c2 = 0) {
  Profile p{{rin1, pos}};
  std::vector<std::pair<int, double>> round;
  const double end = pos + l;
  auto outer = [&](double z) { return r1 + (r2 - r1) * (z - pos) / l; };
  if (c1 < 0) {
    p.push_back({r1 + c1, pos});
    p.push_back({outer(pos - c1), pos - c1});
  } else {
    if (c1 > 0) round.push_back({static_cast<int>(p.size()), c1});
    p.push_back({r1, pos});
  }
  if (c2 < 0) {
    p.push_back({outer(end + c2), end + c2});
    p.push_back({r2 + c2, end});
  } else {
    if (c2 > 0) round.push_back({static_cast<int>(p.size()), c2});
    p.push_back({r2, end});
  }
  p.push_back({rin2, end});
  if (rin1 == 0 && rin2 == 0) {
    // A solid section: the profile closes on the axis.
    p.front().first = 0;
    p.back().first = 0;
  }
  return Revolve(ProfileFace(p, round));
}

TopoDS_Shape Cut(const TopoDS_Shape& a, const TopoDS_Shape& b) {
  BRepAlgoAPI_Cut cut(a, b);
  EXPECT_TRUE(cut.IsDone());
  return cut.Shape();
}

TopoDS_Shape Fuse(const TopoDS_Shape& a, const TopoDS_Shape& b) {
  BRepAlgoAPI_Fuse fuse(a, b);
  EXPECT_TRUE(fuse.IsDone());
  fuse.SimplifyResult();
  return fuse.Shape();
}

// Tools of the grooves, for a surface of radius R; z0 is the groove's start.
TopoDS_Shape RectangularTool(double R, double z0, double m, double t, double r) {
  Profile p{{R + 1, z0}, {R - t, z0}, {R - t, z0 + m}, {R + 1, z0 + m}};
  std::vector<std::pair<int, double>> round;
  if (r > 0) round = {{1, r}, {2, r}};
  return Revolve(ProfileFace(p, round));
}
TopoDS_Shape CircularTool(double R, double zc, double t, double r) {
  return BRepPrimAPI_MakeTorus(gp_Ax2(gp_Pnt(0, 0, zc), gp::DZ()), R - t + r, r).Shape();
}
TopoDS_Shape ChevronTool(double R, double zc, double t) {
  return Revolve(ProfileFace({{R - t, zc}, {R + 1, zc - t - 1}, {R + 1, zc + t + 1}}));
}
gp_Trsf RotZ(double degrees) {
  gp_Trsf t;
  t.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp::DZ()), degrees * kPi / 180);
  return t;
}
TopoDS_Shape Moved(const TopoDS_Shape& s, const gp_Trsf& t) {
  return BRepBuilderAPI_Transform(s, t, true).Shape();
}
TopoDS_Shape CrossHoleTool(double R, double zc, double t, double r, double angle) {
  const double a = angle * kPi / 180;
  const gp_Dir dir(std::cos(a), std::sin(a), 0);
  const double from = std::max(R - t, -R - 1);
  const gp_Pnt start(from * dir.X(), from * dir.Y(), zc);
  return BRepPrimAPI_MakeCylinder(gp_Ax2(start, dir), r, R + 1 - from).Shape();
}
// A key groove's stadium (length l, width 2 r) from depth bottom up through the surface.
TopoDS_Shape KeyTool(double R, double z0, double l, double bottom, double r, double angle) {
  BRepBuilderAPI_MakeWire wire;
  auto line = [&](gp_Pnt a, gp_Pnt b) { wire.Add(BRepBuilderAPI_MakeEdge(a, b).Edge()); };
  auto arc = [&](gp_Pnt a, gp_Pnt m, gp_Pnt b) {
    wire.Add(BRepBuilderAPI_MakeEdge(GC_MakeArcOfCircle(a, m, b).Value()).Edge());
  };
  // In the plane x = bottom: y across, z along the shaft.
  const double x = bottom;
  line(gp_Pnt(x, -r, z0 + r), gp_Pnt(x, -r, z0 + l - r));
  arc(gp_Pnt(x, -r, z0 + l - r), gp_Pnt(x, 0, z0 + l), gp_Pnt(x, r, z0 + l - r));
  line(gp_Pnt(x, r, z0 + l - r), gp_Pnt(x, r, z0 + r));
  arc(gp_Pnt(x, r, z0 + r), gp_Pnt(x, 0, z0), gp_Pnt(x, -r, z0 + r));
  const TopoDS_Face face = BRepBuilderAPI_MakeFace(wire.Wire(), true).Face();
  const TopoDS_Shape prism = BRepPrimAPI_MakePrism(face, gp_Vec(R + 1 - bottom, 0, 0)).Shape();
  return Moved(prism, RotZ(angle));
}
// n slots of length l from z0: bottom at radius rb, width win there, wout at radius Rmin.
TopoDS_Shape SlotsTool(double R, double Rmin, double z0, double l, int n, double rb, double win,
                       double wout) {
  const double top = R + 1;
  const double slope = (wout - win) / 2 / (Rmin - rb);
  const double halfTop = win / 2 + slope * (top - rb);
  BRepBuilderAPI_MakePolygon poly(gp_Pnt(rb, -win / 2, z0), gp_Pnt(top, -halfTop, z0),
                                  gp_Pnt(top, halfTop, z0), gp_Pnt(rb, win / 2, z0), true);
  const TopoDS_Face face = BRepBuilderAPI_MakeFace(poly.Wire(), true).Face();
  const TopoDS_Shape one = BRepPrimAPI_MakePrism(face, gp_Vec(0, 0, l)).Shape();
  TopoDS_Compound all;
  BRep_Builder b;
  b.MakeCompound(all);
  for (int i = 0; i < n; ++i) b.Add(all, Moved(one, RotZ(360.0 * i / n)));
  return all;
}

TopoDS_Compound Compound(const std::vector<TopoDS_Shape>& shapes) {
  TopoDS_Compound c;
  BRep_Builder b;
  b.MakeCompound(c);
  for (const auto& s : shapes) b.Add(c, s);
  return c;
}

struct Section8 {
  double pos, dout1, dout2, din1, din2, l, lch1, lch2;
};

class ShaftRecognitionTest : public EngineTest {
 protected:
  // The engine's shape of a kernel shape, read back from a STEP file of it.
  ObjPtr<CAD::IShape> ThroughStep(const TopoDS_Shape& shape) {
    STEPControl_Writer writer;
    EXPECT_EQ(writer.Transfer(shape, STEPControl_AsIs), IFSelect_RetDone);
    const std::string path = dir / "part.step";
    EXPECT_EQ(writer.Write(path.c_str()), IFSelect_RetDone);
    EXPECT_TRUE(ctx->ImportSTEP(path.c_str())) << ctx->GetLastErrorText();
    ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
    EXPECT_EQ(doc->GetChildCount(), 1);
    ObjPtr<CAD::IItem> item(doc->GetChild(0));
    auto* part = dynamic_cast<CAD::IPart*>(item.Get());
    if (!part) return nullptr;
    return ObjPtr<CAD::IShape>(part->GetShape());
  }
  ObjPtr<CAD::IRecognizeShaft> Recognize(const TopoDS_Shape& shape) {
    ObjPtr<CAD::IShape> s = ThroughStep(shape);
    if (!s) return nullptr;
    return ObjPtr<CAD::IRecognizeShaft>(ctx->GetShaftRecognizer()->Recognize(s.Get()));
  }
  static Section8 Values(CAD::IRecognizeShaft* shaft, int i) {
    ObjPtr<CAD::IRecognizeSection> s(shaft->GetSection(i));
    Section8 v{};
    s->GetValues(&v.pos);
    return v;
  }
  static void ExpectSection(const Section8& got, const Section8& want) {
    EXPECT_NEAR(got.pos, want.pos, kTol);
    EXPECT_NEAR(got.dout1, want.dout1, kTol);
    EXPECT_NEAR(got.dout2, want.dout2, kTol);
    EXPECT_NEAR(got.din1, want.din1, kTol);
    EXPECT_NEAR(got.din2, want.din2, kTol);
    EXPECT_NEAR(got.l, want.l, kTol);
    EXPECT_NEAR(got.lch1, want.lch1, kTol);
    EXPECT_NEAR(got.lch2, want.lch2, kTol);
  }
  static ObjPtr<CAD::IRecognizeGroove> Groove(CAD::IRecognizeShaft* shaft, int s, int g) {
    ObjPtr<CAD::IRecognizeSection> section(shaft->GetSection(s));
    return ObjPtr<CAD::IRecognizeGroove>(section->GetGroove(g));
  }
  static int GrooveCount(CAD::IRecognizeShaft* shaft, int s) {
    ObjPtr<CAD::IRecognizeSection> section(shaft->GetSection(s));
    return section->GetGrooveCount();
  }
  TempDir dir;
};

TEST_F(ShaftRecognitionTest, PlainSectionsWithChamfersRoundingsAndBores) {
  // A solid section with a chamfer at the start and a rounding at the end.
  auto a = Recognize(Section(0, 20, 20, 0, 0, 100, -2, 3));
  ASSERT_TRUE(a);
  ASSERT_EQ(a->GetSectionCount(), 1);
  ExpectSection(Values(a.Get(), 0), {0, 40, 40, 0, 0, 100, -2, 3});
  EXPECT_EQ(GrooveCount(a.Get(), 0), 0);
  // A hollow cone, rounded at the start and chamfered at the end.
  auto b = Recognize(Section(0, 25, 15, 8, 5, 60, 2.5, -1.5));
  ASSERT_TRUE(b);
  ASSERT_EQ(b->GetSectionCount(), 1);
  ExpectSection(Values(b.Get(), 0), {0, 50, 30, 16, 10, 60, 2.5, -1.5});
}

TEST_F(ShaftRecognitionTest, PlacementOfAShaftAwayFromTheOrigin) {
  // A section from z = 10, turned so that its axis is the world's y axis and moved.
  gp_Trsf turn;
  turn.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp::DX()), -kPi / 2);  // z -> y
  gp_Trsf move;
  move.SetTranslation(gp_Vec(5, -7, 3));
  auto r = Recognize(Moved(Section(10, 12, 12, 4, 4, 30, -1, -1), move * turn));
  ASSERT_TRUE(r);
  ASSERT_EQ(r->GetSectionCount(), 1);
  ExpectSection(Values(r.Get(), 0), {0, 24, 24, 8, 8, 30, -1, -1});
  double m[12];
  ASSERT_EQ(r->GetMatrix(m), m);
  // The shaft's z axis is the world's y axis; its origin the axis point at the shaft's start.
  EXPECT_NEAR(m[2], 0, kTol);
  EXPECT_NEAR(m[6], 1, kTol);
  EXPECT_NEAR(m[10], 0, kTol);
  EXPECT_NEAR(m[3], 5, kTol);
  EXPECT_NEAR(m[7], -7 + 10, kTol);
  EXPECT_NEAR(m[11], 3, kTol);
  // The frame is a rotation (orthonormal columns).
  for (int c = 0; c < 3; ++c) {
    const double len = m[c] * m[c] + m[4 + c] * m[4 + c] + m[8 + c] * m[8 + c];
    EXPECT_NEAR(len, 1, 1e-9);
  }
}

TEST_F(ShaftRecognitionTest, SectionsOfFusedCylindersAndCones) {
  // Steps fused into one solid: 40 x 50, 30 x 30 (chamfered at its end), a cone 24 -> 20.
  TopoDS_Shape fused = Fuse(Section(0, 20, 20, 0, 0, 50), Section(50, 15, 15, 0, 0, 30, 0, -1));
  fused = Fuse(fused, Section(80, 12, 10, 0, 0, 20));
  auto f = Recognize(fused);
  ASSERT_TRUE(f);
  ASSERT_EQ(f->GetSectionCount(), 3);
  ExpectSection(Values(f.Get(), 0), {0, 40, 40, 0, 0, 50, 0, 0});
  // Each adjoins the one before: position 0.
  ExpectSection(Values(f.Get(), 1), {0, 30, 30, 0, 0, 30, 0, -1});
  ExpectSection(Values(f.Get(), 2), {0, 24, 20, 0, 0, 20, 0, 0});
  // A hollow row starting at z = 5, fused from pieces listed out of order: in axial order from
  // the shaft's start, the bore through all of them.
  TopoDS_Shape hollow = Fuse(Section(55, 15, 15, 5, 5, 30), Section(5, 20, 20, 5, 5, 50, -1, 0));
  hollow = Fuse(hollow, Section(85, 12, 10, 5, 5, 20));
  auto s = Recognize(hollow);
  ASSERT_TRUE(s);
  ASSERT_EQ(s->GetSectionCount(), 3);
  ExpectSection(Values(s.Get(), 0), {0, 40, 40, 10, 10, 50, -1, 0});
  ExpectSection(Values(s.Get(), 1), {0, 30, 30, 10, 10, 30, 0, 0});
  ExpectSection(Values(s.Get(), 2), {0, 24, 20, 10, 10, 20, 0, 0});
  double m[12];
  s->GetMatrix(m);
  EXPECT_NEAR(m[11], 5, kTol);
}

TEST_F(ShaftRecognitionTest, TurnedGrooves) {
  // One section, R = 20, l = 120: a rectangular groove with corner radius, a circular groove,
  // a chevron notch and a sharp rectangular groove.
  TopoDS_Shape s = Section(0, 20, 20, 0, 0, 120, -1, -1);
  s = Cut(s, RectangularTool(20, 10, 6, 2, 0.5));
  s = Cut(s, CircularTool(20, 40, 1.5, 2));
  s = Cut(s, ChevronTool(20, 60, 1.2));
  s = Cut(s, RectangularTool(20, 90, 3, 1, 0));
  auto r = Recognize(s);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->GetSectionCount(), 1);
  ExpectSection(Values(r.Get(), 0), {0, 40, 40, 0, 0, 120, -1, -1});
  ASSERT_EQ(GrooveCount(r.Get(), 0), 4);

  auto g0 = Groove(r.Get(), 0, 0);
  ASSERT_EQ(g0->GetType(), 2);
  CAD::RecognizeRectangularBlock rect{};
  ASSERT_EQ(g0->GetRectangular(&rect), &rect);
  EXPECT_NEAR(rect.x, 10, kTol);
  EXPECT_NEAR(rect.t, 2, kTol);
  EXPECT_NEAR(rect.r, 0.5, kTol);
  EXPECT_NEAR(rect.m, 6, kTol);
  // Another type's block reads as zeros.
  CAD::RecognizeNotchBlock none{1, 1};
  g0->GetNotch(&none);
  EXPECT_EQ(none.x, 0);
  EXPECT_EQ(none.t, 0);

  auto g1 = Groove(r.Get(), 0, 1);
  ASSERT_EQ(g1->GetType(), 6);
  CAD::RecognizeCircularBlock circ{};
  g1->GetCircular(&circ);
  EXPECT_NEAR(circ.x, 40, kTol);
  EXPECT_NEAR(circ.t, 1.5, kTol);
  EXPECT_NEAR(circ.r, 2, kTol);

  auto g2 = Groove(r.Get(), 0, 2);
  ASSERT_EQ(g2->GetType(), 1);
  CAD::RecognizeNotchBlock notch{};
  g2->GetNotch(&notch);
  EXPECT_NEAR(notch.x, 60, kTol);
  EXPECT_NEAR(notch.t, 1.2, kTol);

  auto g3 = Groove(r.Get(), 0, 3);
  ASSERT_EQ(g3->GetType(), 2);
  g3->GetRectangular(&rect);
  EXPECT_NEAR(rect.x, 90, kTol);
  EXPECT_NEAR(rect.t, 1, kTol);
  EXPECT_NEAR(rect.r, 0, kTol);
  EXPECT_NEAR(rect.m, 3, kTol);
}

TEST_F(ShaftRecognitionTest, CrossHolesKeyGroovesAndSlots) {
  // Section 0: R = 15, l = 80 with a blind cross hole at 30 degrees and a key groove at 90.
  TopoDS_Shape a = Section(0, 15, 15, 0, 0, 80);
  a = Cut(a, CrossHoleTool(15, 20, 6, 2.5, 30));
  a = Cut(a, KeyTool(15, 40, 25, 15 - 4, 3, 90));
  // Section 1: a hollow R = 20 from 80 to 140 with four slots and a hole through it.
  TopoDS_Shape b = Section(80, 20, 20, 6, 6, 60);
  b = Cut(b, SlotsTool(20, 20, 85, 20, 4, 12, 4, 6));
  b = Cut(b, CrossHoleTool(20, 125, 100, 2, 45));
  auto r = Recognize(a);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->GetSectionCount(), 1);
  ExpectSection(Values(r.Get(), 0), {0, 30, 30, 0, 0, 80, 0, 0});

  ASSERT_EQ(GrooveCount(r.Get(), 0), 2);
  auto hole = Groove(r.Get(), 0, 0);
  ASSERT_EQ(hole->GetType(), 3);
  CAD::RecognizeCrossHoleBlock h{};
  hole->GetCrossHole(&h);
  EXPECT_NEAR(h.x, 20, kTol);
  EXPECT_NEAR(h.t, 6, kTol);
  EXPECT_NEAR(h.r, 2.5, kTol);
  EXPECT_NEAR(h.angle, 30, 1e-6);
  auto key = Groove(r.Get(), 0, 1);
  ASSERT_EQ(key->GetType(), 4);
  CAD::RecognizeParallelKeyBlock k{};
  key->GetParallelKey(&k);
  EXPECT_NEAR(k.x, 40, kTol);
  EXPECT_NEAR(k.l, 25, kTol);
  EXPECT_NEAR(k.t, 4, kTol);
  EXPECT_NEAR(k.r, 3, kTol);
  EXPECT_NEAR(k.angle, 90, 1e-6);

  auto q = Recognize(b);
  ASSERT_TRUE(q);
  ASSERT_EQ(q->GetSectionCount(), 1);
  ExpectSection(Values(q.Get(), 0), {0, 40, 40, 12, 12, 60, 0, 0});
  ASSERT_EQ(GrooveCount(q.Get(), 0), 2);
  auto slots = Groove(q.Get(), 0, 0);
  ASSERT_EQ(slots->GetType(), 5);
  CAD::RecognizeSlotsBlock sl{};
  slots->GetSlots(&sl);
  EXPECT_NEAR(sl.x, 5, kTol);
  EXPECT_NEAR(sl.l, 20, kTol);
  EXPECT_EQ(sl.n, 4u);
  EXPECT_NEAR(sl.d, 24, kTol);
  EXPECT_NEAR(sl.win, 4, kTol);
  EXPECT_NEAR(sl.wout, 6, kTol);
  auto through = Groove(q.Get(), 0, 1);
  ASSERT_EQ(through->GetType(), 3);
  through->GetCrossHole(&h);
  EXPECT_NEAR(h.x, 45, kTol);
  EXPECT_NEAR(h.t, 40, kTol);  // through the whole diameter
  EXPECT_NEAR(h.r, 2, kTol);
  EXPECT_NEAR(h.angle, 45, 1e-6);
}

TEST_F(ShaftRecognitionTest, SolidsThatAreNoShaftGiveNull) {
  EXPECT_FALSE(Recognize(BRepPrimAPI_MakeBox(10, 20, 30).Shape()));
  EXPECT_FALSE(Recognize(BRepPrimAPI_MakeTorus(20, 5).Shape()));
  // A boss standing out of a cylinder.
  TopoDS_Shape boss = Fuse(Section(0, 10, 10, 0, 0, 50),
                           BRepPrimAPI_MakeBox(gp_Pnt(5, -3, 20), gp_Pnt(14, 3, 30)).Shape());
  EXPECT_FALSE(Recognize(boss));
  // Two cylinders fused side by side: two axes.
  TopoDS_Shape other = Moved(Section(0, 5, 5, 0, 0, 20), [] {
    gp_Trsf t;
    t.SetTranslation(gp_Vec(12, 0, 0));
    return t;
  }());
  EXPECT_FALSE(Recognize(Fuse(Section(0, 10, 10, 0, 0, 50), other)));
  // A null shape.
  EXPECT_EQ(ctx->GetShaftRecognizer()->Recognize(nullptr), nullptr);
}

TEST_F(ShaftRecognitionTest, EnginePrimitivesAndResultObjects) {
  ObjPtr<CAD::IShape> cyl(ctx->Cylinder(7, 40));
  ObjPtr<CAD::IRecognizeShaft> r(ctx->GetShaftRecognizer()->Recognize(cyl.Get()));
  ASSERT_TRUE(r);
  ASSERT_EQ(r->GetSectionCount(), 1);
  ExpectSection(Values(r.Get(), 0), {0, 14, 14, 0, 0, 40, 0, 0});
  ObjPtr<CAD::IShape> cone(ctx->HollowCone(30, 20, 10, 8, 25));
  ObjPtr<CAD::IRecognizeShaft> c(ctx->GetShaftRecognizer()->Recognize(cone.Get()));
  ASSERT_TRUE(c);
  ExpectSection(Values(c.Get(), 0), {0, 30, 20, 10, 8, 25, 0, 0});
  ObjPtr<CAD::IShape> box(ctx->Box(1, 2, 3));
  EXPECT_EQ(ctx->GetShaftRecognizer()->Recognize(box.Get()), nullptr);

  // Indices outside the range are refused; values written back replace the section's.
  EXPECT_EQ(CodeOf([&] { r->GetSection(1); }), QZ::eCodeOutOfRange);
  EXPECT_EQ(CodeOf([&] { r->GetSection(-1); }), QZ::eCodeOutOfRange);
  ObjPtr<CAD::IRecognizeSection> s(r->GetSection(0));
  EXPECT_EQ(CodeOf([&] { s->GetGroove(0); }), QZ::eCodeOutOfRange);
  s->SetValues(0, 1, 2, 0, 0, 3, -0.1, 0.2);
  ExpectSection(Values(r.Get(), 0), {0, 1, 2, 0, 0, 3, -0.1, 0.2});
  EXPECT_EQ(CodeOf([&] { s->SetValues(NAN, 1, 2, 0, 0, 3, 0, 0); }), QZ::eCodeInvalidParameter);
  ExpectSection(Values(r.Get(), 0), {0, 1, 2, 0, 0, 3, -0.1, 0.2});
}

// The engine's own shaft (three sections, every groove kind, the last one 7 apart) read back and
// built again from what was recognised: the same solid in the same place, shown in the colours
// of its sections.
TEST_F(ShaftRecognitionTest, BuilderShaftRebuiltFromItsRecognition) {
  ObjPtr<CAD::IShaftBuilder> builder(ctx->GetShaftFactory()->NewShaftBuilder());
  ObjPtr<CAD::ISectionShape> a(builder->AddSection(0, 40, 40, 8, 8, 100, -1, 2));
  a->AddGrooveRectangular(10, 6, 2, 0.5);
  a->AddNotchChevron(30, 1.2);
  a->AddGrooveCircular(45, 1.5, 2);
  a->AddCrossHole(60, 8, 2.5, 30);
  a->AddGrooveParallelKey(70, 20, 4, 3, 90);
  ObjPtr<CAD::ISectionShape> b(builder->AddSection(0, 30, 30, 8, 8, 60, 0, -1));
  b->AddSlots(5, 20, 4, 20, 3, 4);
  ObjPtr<CAD::ISectionShape> c(builder->AddSection(7, 24, 24, 8, 8, 30, 0, 0));
  ObjPtr<CAD::IShape> shaft(builder->GetShape());
  ObjPtr<CAD::IRecognizeShaft> r(ctx->GetShaftRecognizer()->Recognize(shaft.Get()));
  ASSERT_TRUE(r);
  ASSERT_EQ(r->GetSectionCount(), 3);
  ExpectSection(Values(r.Get(), 0), {0, 40, 40, 8, 8, 100, -1, 2});
  ExpectSection(Values(r.Get(), 1), {0, 30, 30, 8, 8, 60, 0, -1});
  ExpectSection(Values(r.Get(), 2), {7, 24, 24, 8, 8, 30, 0, 0});
  ASSERT_EQ(GrooveCount(r.Get(), 0), 5);
  const int types[] = {2, 1, 6, 3, 4};
  for (int g = 0; g < 5; ++g) EXPECT_EQ(Groove(r.Get(), 0, g)->GetType(), types[g]) << g;
  ASSERT_EQ(GrooveCount(r.Get(), 1), 1);

  // Build it again from the recognised values.
  ObjPtr<CAD::IShaftBuilder> again(ctx->GetShaftFactory()->NewShaftBuilder());
  for (int i = 0; i < r->GetSectionCount(); ++i) {
    const Section8 v = Values(r.Get(), i);
    ObjPtr<CAD::ISectionShape> s(
        again->AddSection(v.pos, v.dout1, v.dout2, v.din1, v.din2, v.l, v.lch1, v.lch2));
    for (int g = 0; g < GrooveCount(r.Get(), i); ++g) {
      auto groove = Groove(r.Get(), i, g);
      switch (groove->GetType()) {
        case 1: {
          CAD::RecognizeNotchBlock k{};
          groove->GetNotch(&k);
          s->AddNotchChevron(k.x, k.t);
          break;
        }
        case 2: {
          CAD::RecognizeRectangularBlock k{};
          groove->GetRectangular(&k);
          s->AddGrooveRectangular(k.x, k.m, k.t, k.r);
          break;
        }
        case 3: {
          CAD::RecognizeCrossHoleBlock k{};
          groove->GetCrossHole(&k);
          s->AddCrossHole(k.x, k.t, k.r, k.angle);
          break;
        }
        case 4: {
          CAD::RecognizeParallelKeyBlock k{};
          groove->GetParallelKey(&k);
          s->AddGrooveParallelKey(k.x, k.l, k.t, k.r, k.angle);
          break;
        }
        case 5: {
          CAD::RecognizeSlotsBlock k{};
          groove->GetSlots(&k);
          s->AddSlots(k.x, k.l, k.n, k.d, k.win, k.wout);
          break;
        }
        case 6: {
          CAD::RecognizeCircularBlock k{};
          groove->GetCircular(&k);
          s->AddGrooveCircular(k.x, k.t, k.r);
          break;
        }
        default: ADD_FAILURE() << "groove type " << groove->GetType();
      }
    }
  }
  ObjPtr<CAD::IShape> rebuilt(again->GetShape());
  EXPECT_NEAR(rebuilt->GetVolume(), shaft->GetVolume(), 1e-6 * shaft->GetVolume());
  double was[6], is[6];
  ASSERT_TRUE(shaft->GetBoundingBox(was));
  ASSERT_TRUE(rebuilt->GetBoundingBox(is));
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(is[k], was[k], 1e-6) << k;
  EXPECT_NEAR(is[5], 197, 1e-6);  // 100 + 60 + 7 + 30

  // Shown off-screen (MORLANE_TEST_IMAGES names a folder to keep the picture in); a view needs
  // a display even off-screen.
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
  ObjPtr<CAD::IView> view(ctx->NewView(nullptr, CAD::eViewOffscreen));
  ASSERT_TRUE(view);
  ObjPtr<CAD::IShapeVis> vis(view->Display(rebuilt.Get()));
  vis->SetColor(1, 0, 0);
  view->FitAll();
  const char* keep = std::getenv("MORLANE_TEST_IMAGES");
  const std::string png = keep ? std::string(keep) + "/recognised-shaft.png" : dir / "shaft.png";
  ASSERT_TRUE(view->SaveImage(png.c_str(), 640, 320));
  EXPECT_GT(RedShare(ReadPng(png)), 0.05);
}

}  // namespace
}  // namespace engine_test
