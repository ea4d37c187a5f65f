// The fastener factory: bolts, screws and the double-end stud. Threads are shown as plain
// cylinders of the nominal diameter d.
//
// Every fastener stands on the z axis with the bearing face of its head at z = 0: the head
// above (up to its height), the shank below. Below a head come the unthreaded shank (diameter
// ds, 0 meaning d, over ls) and then the thread (d over b), ending in a 45 degree chamfer of
// 0.1 d. Hexagon heads have their flats across x and a 30 degree chamfer that meets the top face
// at 0.95 s; c is the height of the washer face (diameter dw) under a hexagon. Countersunk heads
// are 90 degree cones from d at z = 0 to d1. Slots run along x; sockets and recesses are cut from
// the top face, with a flat bottom at their depth.
#include "Context.h"
#include "Solids.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <Geom2dAPI_Interpolate.hxx>
#include <Geom2d_BSplineCurve.hxx>
#include <Geom2d_Line.hxx>
#include <Geom_Hyperbola.hxx>
#include <TColStd_HArray1OfBoolean.hxx>
#include <TColStd_HArray1OfReal.hxx>
#include <TColgp_Array1OfVec2d.hxx>
#include <TColgp_HArray1OfPnt2d.hxx>
#include <gp_Pln.hxx>
#include <Geom_Circle.hxx>
#include <Geom_ConicalSurface.hxx>
#include <Geom_Line.hxx>
#include <Precision.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Vertex.hxx>
#include <gp_Ax2.hxx>
#include <gp_Ax3.hxx>
#include <gp_Circ.hxx>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

namespace cad_engine {

namespace {

constexpr double kTan30 = 0.57735026918962576;

// The shank below the head: ds over ls from z = top down, then the thread d over b. A collar
// (a cylinder of diameter collarD from top up to top + collarH, such as a washer face or a
// cylindrical head) is turned with it in one profile, which is the same solid as the two fused
// and much quicker to build.
// Whether the shank's profile carries a collar of diameter collarD and height collarH.
bool HasCollar(double d, double ds, double ls, double collarD, double collarH) {
  if (ds == 0) ds = d;
  return collarH > 0 && collarD > (ls > 0 ? ds : d) + kSizeTolerance;
}

// The shank's profile drawn on o from where o stands (on the axis, or farther out on the line
// z = top + collarH, or z = top without a collar) down to its end on the axis.
Outline& ShankSteps(const char* e, Outline& o, double d, double ds, double ls, double b, double top,
                    double collarD, double collarH) {
  NeedPositive(e, "d", d);
  NeedPositive(e, "b", b);
  NeedNotNegative(e, "ls", ls);
  NeedNotNegative(e, "ds", ds);
  if (ds == 0) ds = d;
  if (ls > 0 && ds > 4 * d) Refuse(e, "the shank diameter ds is far above d");
  const double end = top - ls - b, ct = std::min(0.1 * d, b / 4);
  if (HasCollar(d, ds, ls, collarD, collarH))
    o.LineTo(collarD / 2, top + collarH).LineTo(collarD / 2, top);
  if (ls > 0) o.LineTo(ds / 2, top).LineTo(ds / 2, top - ls);
  o.LineTo(d / 2, top - ls).LineTo(d / 2, end + ct).LineTo(d / 2 - ct, end).LineTo(0, end);
  return o;
}

// The shank below the head: ds over ls from z = top down, then the thread d over b. A collar
// (a cylinder of diameter collarD from top up to top + collarH, such as a washer face or a
// cylindrical head) is turned with it in one profile, which is the same solid as the two fused
// and much quicker to build.
TopoDS_Shape Shank(const char* e, double d, double ds, double ls, double b, double top = 0.0,
                   double collarD = 0.0, double collarH = 0.0) {
  const bool collar = HasCollar(d, ds, ls, collarD, collarH);
  Outline o(gp_Pnt2d(0, collar ? top + collarH : top));
  return Revolve(ShankSteps(e, o, d, ds, ls, b, top, collarD, collarH).Face(1));
}

// A hexagon of width across flats s from z0 to z1, chamfered at the top (and at the bottom when
// both is set).
void CheckHexHead(const char* e, double s, double z0, double z1) {
  NeedPositive(e, "s", s);
  if (z1 <= z0 + kSizeTolerance) Refuse(e, "the head height must exceed the washer face");
}

TopoDS_Shape HexHead(const char* e, double s, double z0, double z1, bool both = false) {
  CheckHexHead(e, s, z0, z1);
  const TopoDS_Shape hex = PolygonPrism(6, s, z0, z1);
  // The chamfer is the cone through radius r0 on the end face and rc beyond the corners. What
  // lies outside it is cut away by a ring around the cone that touches no face of the prism
  // other than where the cone crosses it (quicker than intersecting with a whole solid of
  // revolution that shares the prism's end faces).
  const double rc = s / std::sqrt(3.0) + 1, r0 = 0.475 * s;
  const double drop = (rc - r0) * kTan30;
  const double over = std::min(1.0, 0.5 * r0 * kTan30);  // beyond the end face, r stays > 0
  const double rOver = r0 - over / kTan30;
  auto ring = [&](double face, double side) {  // side +1: above the top face, -1: below z0
    Outline o(gp_Pnt2d(rc, face - side * drop));
    o.LineTo(rOver, face + side * over)
        .LineTo(rc + 1, face + side * over)
        .LineTo(rc + 1, face - side * drop);
    return Revolve(o.Face(1));
  };
  std::vector<TopoDS_Shape> tools{ring(z1, 1)};
  if (both) tools.push_back(ring(z0, -1));
  return CutAll(hex, tools);
}

std::atomic<bool> g_hexHeadsCut{false};
std::atomic<long> g_hexBoltsTurned{0};

// Pieces of solids put together from their faces.
TopoDS_Vertex VertexAt(double x, double y, double z) {
  return BRepBuilderAPI_MakeVertex(gp_Pnt(x, y, z)).Vertex();
}

// The edge on c from a (at ua) to b (at ub); throws failure when the kernel cannot make it.
TopoDS_Edge EdgeOn(const Handle(Geom_Curve) & c, const TopoDS_Vertex& a, const TopoDS_Vertex& b,
                   double ua, double ub, const std::string& failure) {
  BRepBuilderAPI_MakeEdge make(c, a, b, ua, ub);
  if (!make.IsDone()) Throw(QZ::eCodeFailure, failure);
  return make.Edge();
}

TopoDS_Edge LineEdge(const TopoDS_Vertex& a, const TopoDS_Vertex& b) {
  return BRepBuilderAPI_MakeEdge(a, b).Edge();
}

// The closed wire of edges that follow each other.
TopoDS_Wire ClosedWire(const std::vector<TopoDS_Edge>& edges) {
  BRep_Builder builder;
  TopoDS_Wire w;
  builder.MakeWire(w);
  for (const auto& x : edges) builder.Add(w, x);
  w.Closed(true);
  return w;
}

TopoDS_Edge ReversedEdge(const TopoDS_Edge& x) { return TopoDS::Edge(x.Reversed()); }

// The faces of a solid turned about z apart from its flat top at height z (given to faces), and
// that top's circular edge of the given radius (null when there is none): what is left to join
// to a head put together from its own faces.
TopoDS_Edge FacesBelowTop(const TopoDS_Shape& turned, double z, double radius,
                          std::vector<TopoDS_Face>& faces) {
  const double tol = Precision::Confusion();
  TopoDS_Edge circle;
  for (TopExp_Explorer f(turned, TopAbs_FACE); f.More(); f.Next()) {
    const TopoDS_Face& face = TopoDS::Face(f.Current());
    BRepAdaptor_Surface surface(face);
    const bool top = surface.GetType() == GeomAbs_Plane &&
                     surface.Plane().Axis().Direction().IsParallel(gp::DZ(), 1e-12) &&
                     std::fabs(surface.Plane().Location().Z() - z) < tol;
    if (!top) {
      faces.push_back(face);
      continue;
    }
    for (TopExp_Explorer x(face, TopAbs_EDGE); x.More(); x.Next()) {
      BRepAdaptor_Curve c(TopoDS::Edge(x.Current()));
      if (c.GetType() == GeomAbs_Circle && std::fabs(c.Circle().Radius() - radius) < tol)
        circle = TopoDS::Edge(x.Current());
    }
  }
  return circle;
}

// A hexagon bolt put together from its faces: the head's top disc, its chamfer cone, the six
// flats and the bearing face around the shank, and the faces of the shank turned with its
// washer face (washer face diameter collarD, height collarH; the head from z0 to z1). These are
// the faces that cutting the chamfer and fusing the shank give, when the chamfer cone meets
// every corner of the hexagon above the bearing face: the cone (30 degrees from the top, from
// 0.95 s on the top) crosses each flat in an arc of hyperbola from corner to corner, and its seam
// (at +x) meets the flat across +x in the middle of that arc. Null when the head is lower or the
// shank or the washer face reaches the flats, for the booleans to build.
TopoDS_Shape HexBoltOfFaces(const char* e, double s, double z0, double z1, double d, double ds,
                            double ls, double b, double collarD, double collarH,
                            bool proven = true) {
  CheckHexHead(e, s, z0, z1);
  if (g_hexHeadsCut) return TopoDS_Shape();
  const bool collar = HasCollar(d, ds, ls, collarD, collarH);
  if (collarH > 0 && !collar) return TopoDS_Shape();
  const double shankR = (ls > 0 && ds > 0 ? ds : d) / 2;
  const double inner = collar ? collarD / 2 : shankR;
  const double margin = 1e-6 * std::max(1.0, s);
  if (std::max(inner, d / 2) >= s / 2 - margin) return TopoDS_Shape();
  const double r0 = 0.475 * s, rCorner = s / std::sqrt(3.0), half = s / 2;
  const double zCorner = z1 - (rCorner - r0) * kTan30;  // where the cone crosses the corners
  if (zCorner <= z0 + margin) return TopoDS_Shape();
  const double tol = Precision::Confusion();
  BRep_Builder builder;
  const std::string failure = std::string(e) + ": the head could not be built";

  // The shank and washer face, turned; its top disc gives way to the bearing face, whose hole is
  // the disc's circle.
  Outline o(gp_Pnt2d(0, z0));
  const TopoDS_Shape shank = Revolve(ShankSteps(e, o, d, ds, ls, b, 0.0, collarD, collarH).Face(1));
  std::vector<TopoDS_Face> faces;
  const TopoDS_Edge hole = FacesBelowTop(shank, z0, inner, faces);
  if (hole.IsNull() || faces.empty()) return TopoDS_Shape();

  // Corner j at 30 + 60 j degrees; flat i (its normal at 60 i degrees) runs from corner i - 1 to
  // corner i.
  TopoDS_Vertex low[6], high[6];
  TopoDS_Edge up[6], bottom[6];
  for (int j = 0; j < 6; ++j) {
    const double a = kPi / 6 + j * kPi / 3, x = rCorner * std::cos(a), y = rCorner * std::sin(a);
    low[j] = VertexAt(x, y, z0);
    high[j] = VertexAt(x, y, zCorner);
    up[j] = LineEdge(low[j], high[j]);
  }
  for (int i = 0; i < 6; ++i) bottom[i] = LineEdge(low[(i + 5) % 6], low[i]);

  // The chamfer cone: apex above, semi-angle -60 degrees, radius r0 at v = 0 (z = z1); v is the
  // length along the generatrix, z = z1 + v / 2.
  const double alpha = -kPi / 3;
  const Handle(Geom_ConicalSurface) cone =
      new Geom_ConicalSurface(gp_Ax3(gp_Pnt(0, 0, z1), gp::DZ(), gp::DX()), alpha, r0);
  TopoDS_Face coneFace;
  builder.MakeFace(coneFace, cone, tol);
  const double zApex = z1 + r0 * kTan30, t1 = std::asinh(kTan30);
  const double zSeam = z1 - (half - r0) * kTan30;
  const TopoDS_Vertex seamLow = VertexAt(half, 0, zSeam), seamHigh = VertexAt(r0, 0, z1);

  // Flat i meets the cone in the hyperbola (s/2) n + (s/2) sinh(t) w + (zApex - (s/2) tan30
  // cosh(t)) z (w the flat's direction counter-clockwise), t from -t1 to t1 corner to corner; on
  // the cone at u = 60 i degrees + atan(sinh t), v = 2 tan30 (r0 - (s/2) cosh t), drawn as a
  // spline through points of that curve at the hyperbola's own parameters.
  auto onCone = [&](double angle, double ta, double tb, double uShift) {
    constexpr int kPoints = 65;
    Handle(TColgp_HArray1OfPnt2d) points = new TColgp_HArray1OfPnt2d(1, kPoints);
    Handle(TColStd_HArray1OfReal) params = new TColStd_HArray1OfReal(1, kPoints);
    TColgp_Array1OfVec2d tangents(1, kPoints);
    Handle(TColStd_HArray1OfBoolean) given = new TColStd_HArray1OfBoolean(1, kPoints);
    for (int q = 0; q < kPoints; ++q) {
      const double t = ta + (tb - ta) * q / (kPoints - 1);
      points->SetValue(q + 1, gp_Pnt2d(angle + uShift + std::atan(std::sinh(t)),
                                       2 * kTan30 * (r0 - half * std::cosh(t))));
      params->SetValue(q + 1, t);
      tangents.SetValue(q + 1, gp_Vec2d(1 / std::cosh(t), -2 * kTan30 * half * std::sinh(t)));
      given->SetValue(q + 1, Standard_True);
    }
    Geom2dAPI_Interpolate interpolate(points, params, false, 1e-12);
    interpolate.Load(tangents, given, Standard_False);
    interpolate.Perform();
    if (!interpolate.IsDone())
      Throw(QZ::eCodeFailure, std::string(e) + ": the head could not be built");
    return Handle(Geom2d_Curve)(interpolate.Curve());
  };
  double deviation = 0;
  auto hyperbolaEdge = [&](int i, const TopoDS_Vertex& from, const TopoDS_Vertex& to, double ta,
                           double tb, double uShift) {
    const double angle = i * kPi / 3;
    const gp_Dir n(std::cos(angle), std::sin(angle), 0);
    const Handle(Geom_Hyperbola) h = new Geom_Hyperbola(
        gp_Ax2(gp_Pnt(half * n.X(), half * n.Y(), zApex), n, -gp::DZ()), half * kTan30, half);
    const TopoDS_Edge x = EdgeOn(h, from, to, ta, tb, failure);
    const Handle(Geom2d_Curve) pc = onCone(angle, ta, tb, uShift);
    builder.UpdateEdge(x, pc, coneFace, tol);
    for (int q = 0; q <= 40; ++q) {
      const double t = ta + (tb - ta) * q / 40;
      const gp_Pnt2d uv = pc->Value(t);
      deviation = std::max(deviation, cone->Value(uv.X(), uv.Y()).Distance(h->Value(t)));
    }
    return x;
  };
  TopoDS_Edge arcs[7];  // flat 0's second half (from the seam), flats 1..5, flat 0's first half
  arcs[0] = hyperbolaEdge(0, seamLow, high[0], 0, t1, 0);
  for (int i = 1; i < 6; ++i) arcs[i] = hyperbolaEdge(i, high[i - 1], high[i], -t1, t1, 0);
  arcs[6] = hyperbolaEdge(0, high[5], seamLow, -t1, 0, 2 * kPi);
  // The splines run within about 2e-10 s of the hyperbolas; far larger heads are cut instead.
  if (deviation > 0.5 * tol) return TopoDS_Shape();

  // The seam: the generatrix at u = 0 from the flat up to the top circle; the top circle.
  const double vSeam = 2 * (zSeam - z1);
  const gp_Pnt pLow(half, 0, zSeam), pHigh(r0, 0, z1);
  const Handle(Geom_Line) generatrix = new Geom_Line(pLow, gp_Vec(pLow, pHigh).Normalized());
  const TopoDS_Edge seam = EdgeOn(generatrix, seamLow, seamHigh, 0, -vSeam, failure);
  builder.UpdateEdge(seam, new Geom2d_Line(gp_Pnt2d(2 * kPi, vSeam), gp_Dir2d(0, 1)),
                     new Geom2d_Line(gp_Pnt2d(0, vSeam), gp_Dir2d(0, 1)), coneFace, tol);
  const TopoDS_Edge circle =
      EdgeOn(new Geom_Circle(gp_Ax2(gp_Pnt(0, 0, z1), gp::DZ(), gp::DX()), r0), seamHigh, seamHigh,
             0, 2 * kPi, failure);
  builder.UpdateEdge(circle, new Geom2d_Line(gp_Pnt2d(0, 0), gp_Dir2d(1, 0)), coneFace, tol);
  {
    std::vector<TopoDS_Edge> round(arcs, arcs + 7);
    round.push_back(seam);
    round.push_back(ReversedEdge(circle));
    round.push_back(ReversedEdge(seam));
    builder.Add(coneFace, ClosedWire(round));
  }
  faces.push_back(coneFace);
  faces.push_back(PlanarFace(ClosedWire({circle}), {}, z1, true));

  // The flats, counter-clockwise seen from outside: along the bottom, up the corner, back along
  // the arc, down the corner before.
  for (int i = 0; i < 6; ++i) {
    const int before = (i + 5) % 6;
    std::vector<TopoDS_Edge> edges{bottom[i], up[i]};
    if (i == 0) {
      edges.push_back(ReversedEdge(arcs[0]));
      edges.push_back(ReversedEdge(arcs[6]));
    } else {
      edges.push_back(ReversedEdge(arcs[i]));
    }
    edges.push_back(ReversedEdge(up[before]));
    const double angle = i * kPi / 3;
    const gp_Dir n(std::cos(angle), std::sin(angle), 0);
    BRepBuilderAPI_MakeFace flat(gp_Pln(gp_Pnt(half * n.X(), half * n.Y(), 0), n),
                                 ClosedWire(edges));
    if (!flat.IsDone()) Throw(QZ::eCodeFailure, std::string(e) + ": the head could not be built");
    faces.push_back(flat.Face());
  }
  // The bearing face: the hexagon around the shank's circle, facing down.
  faces.push_back(PlanarFace(ClosedWire(std::vector<TopoDS_Edge>(bottom, bottom + 6)),
                             {CounterClockwise(ClosedWire({hole}))}, z0, false));
  ++g_hexBoltsTurned;
  // Valid for every size that comes this far (the geometry tests analyse a spread of them);
  // not said when the caller joins more to it.
  if (proven) ConstructionProven();
  return SolidOfFaces(faces);
}

// A socket head cap screw put together from its faces: the cylindrical head (diameter d1, from
// z = 0 to k) turned with the shank, its top disc replaced by the top with the hexagon socket
// (width across flats s, corners at 30 + 60 j degrees as PolygonPrism's) cut into it, the
// socket's six walls and its flat bottom at depth t: the faces that cutting the socket gives.
// The sizes are checked (the socket within the head's top and above its bearing face).
TopoDS_Shape SocketHeadOfFaces(const char* e, double d, double ds, double ls, double b, double d1,
                               double k, double s, double t) {
  if (g_hexHeadsCut) return TopoDS_Shape();
  if (!HasCollar(d, ds, ls, d1, k)) return TopoDS_Shape();
  Outline o(gp_Pnt2d(0, k));
  const TopoDS_Shape turned = Revolve(ShankSteps(e, o, d, ds, ls, b, 0.0, d1, k).Face(1));
  std::vector<TopoDS_Face> faces;
  const TopoDS_Edge rim = FacesBelowTop(turned, k, d1 / 2, faces);
  if (rim.IsNull() || faces.empty()) return TopoDS_Shape();
  const double rCorner = s / std::sqrt(3.0), zBottom = k - t;
  TopoDS_Vertex high[6], low[6];
  TopoDS_Edge down[6], top[6], bottom[6];
  for (int j = 0; j < 6; ++j) {
    const double a = kPi / 6 + j * kPi / 3, x = rCorner * std::cos(a), y = rCorner * std::sin(a);
    high[j] = BRepBuilderAPI_MakeVertex(gp_Pnt(x, y, k)).Vertex();
    low[j] = BRepBuilderAPI_MakeVertex(gp_Pnt(x, y, zBottom)).Vertex();
    down[j] = LineEdge(high[j], low[j]);
  }
  // Edge i of the hexagon runs from corner i - 1 to corner i (counter-clockwise).
  for (int i = 0; i < 6; ++i) {
    top[i] = LineEdge(high[(i + 5) % 6], high[i]);
    bottom[i] = LineEdge(low[(i + 5) % 6], low[i]);
  }
  // The top around the socket, facing up; the socket's bottom, facing up.
  faces.push_back(PlanarFace(CounterClockwise(ClosedWire({rim})),
                             {ClosedWire(std::vector<TopoDS_Edge>(top, top + 6))}, k, true));
  faces.push_back(
      PlanarFace(ClosedWire(std::vector<TopoDS_Edge>(bottom, bottom + 6)), {}, zBottom, true));
  // The walls face the axis: counter-clockwise seen from there, back along the bottom, up the
  // corner before, along the top, down the corner.
  for (int i = 0; i < 6; ++i) {
    const int before = (i + 5) % 6;
    const double angle = i * kPi / 3, half = s / 2;
    const gp_Dir n(std::cos(angle), std::sin(angle), 0);
    const TopoDS_Wire w =
        ClosedWire({ReversedEdge(bottom[i]), ReversedEdge(down[before]), top[i], down[i]});
    BRepBuilderAPI_MakeFace wall(gp_Pln(gp_Pnt(half * n.X(), half * n.Y(), 0), n.Reversed()), w);
    if (!wall.IsDone()) Throw(QZ::eCodeFailure, std::string(e) + ": the socket could not be built");
    faces.push_back(wall.Face());
  }
  ++g_hexBoltsTurned;
  // Planes and the turned head and shank, valid for every size the checks let through (the
  // geometry tests analyse a spread of them).
  ConstructionProven();
  return SolidOfFaces(faces);
}

// A hexagon bolt in one boolean: the head's chamfer cone, its bearing face (with the washer face
// of diameter collarD and height collarH under it, if any) and the shank turned from one
// outline, intersected with the hexagon prism (width across flats s, head from z0 to z1) that
// runs down past the shank's end. The chamfer cone and the bearing face reach beyond the
// hexagon's corners as the ring HexHead cuts with does, so the solid is the one that cutting
// the chamfer and fusing the shank give. Null when the shank or the washer face would reach the
// hexagon's flats, or the cone would meet the bearing face within the washer face or the
// shank, for the booleans to build.
TopoDS_Shape HexBoltTurned(const char* e, double s, double z0, double z1, double d, double ds,
                           double ls, double b, double collarD, double collarH) {
  CheckHexHead(e, s, z0, z1);
  if (g_hexHeadsCut) return TopoDS_Shape();
  const bool collar = HasCollar(d, ds, ls, collarD, collarH);
  if (collarH > 0 && !collar) return TopoDS_Shape();
  const double shankR = std::max(d, ls > 0 && ds > 0 ? ds : d) / 2;
  const double inner = std::max(shankR, collar ? collarD / 2 : 0.0);
  const double margin = 1e-6 * std::max(1.0, s);
  if (inner >= s / 2 - margin) return TopoDS_Shape();
  const double rc = s / std::sqrt(3.0) + 1, r0 = 0.475 * s;
  const double atFace = r0 + (z1 - z0) / kTan30;  // the cone's radius on the bearing face
  if (atFace <= inner + margin) return TopoDS_Shape();
  Outline o(gp_Pnt2d(0, z1));
  o.LineTo(r0, z1);
  if (atFace <= rc) {
    o.LineTo(atFace, z0);
  } else {
    o.LineTo(rc, z1 - (rc - r0) * kTan30).LineTo(rc, z0);
  }
  ShankSteps(e, o, d, ds, ls, b, 0.0, collarD, collarH);
  const double end = -ls - b;
  const TopoDS_Shape bolt = Common(Revolve(o.Face(1)), PolygonPrism(6, s, end - 1, z1 + 1));
  ++g_hexBoltsTurned;
  return bolt;
}

// The knurled head of a thumb screw: a cylinder of radius R from z = 0 to k, chamfered by c at
// 45 degrees at both ends, with 24 flutes (width w, their flat bottoms w / 3 inside the circle,
// the first centred on +x) along its cylindrical part from c to k - c. It is put together from
// the faces that cutting the flutes from the turned head gives (see SolidOfFaces): the fluted
// outline extruded from c to k - c; at each end a cone bounded by the outline's arcs and the arcs
// across the flutes, the flutes' ends on the plane z = c or k - c, and the end disc.
TopoDS_Shape KnurledHead(double R, double c, double k, double w) {
  constexpr int kFlutes = 24;
  const double hw = w / 2, xi = R - w / 3, delta = std::asin(hw / R);
  const double u0 = delta;  // the cones' seams: where the first flute's far side meets the circle
  const double slant = c * std::sqrt(2.0);  // the chamfers' length along the cones
  const double tol = Precision::Confusion();
  BRep_Builder builder;
  // A circle about the z axis whose parameter is the angle from +x, and arcs of it.
  auto circle = [](double r, double z) -> Handle(Geom_Circle) {
    return new Geom_Circle(gp_Ax2(gp_Pnt(0, 0, z), gp::DZ(), gp::DX()), r);
  };

  // The outline at z = c. Flute i: near side D (angle ud) -> C -> B (its flat bottom) -> far side
  // A (angle ua), the arc "across" from D to A; "next" is the outline's arc from A to the next
  // flute's D. Angles run from u0 to u0 + 2 pi, so the first flute's D and its arc across lie at
  // the end of the turn and its A is the seam's vertex.
  struct Flute {
    double ud, ua;
    TopoDS_Vertex a, d;
    TopoDS_Edge dc, cb, ba, across, next;
  };
  std::vector<Flute> f(kFlutes);
  const Handle(Geom_Circle) low = circle(R, c);
  for (int i = 0; i < kFlutes; ++i) {
    const double t = 2 * kPi * i / kFlutes, ct = std::cos(t), st = std::sin(t);
    f[i].ud = t - delta + (i == 0 ? 2 * kPi : 0);
    f[i].ua = t + delta + (i == 0 ? 2 * kPi : 0);
    f[i].a = VertexAt(R * std::cos(f[i].ua), R * std::sin(f[i].ua), c);
    f[i].d = VertexAt(R * std::cos(f[i].ud), R * std::sin(f[i].ud), c);
    const TopoDS_Vertex vc = VertexAt(xi * ct + hw * st, xi * st - hw * ct, c);
    const TopoDS_Vertex vb = VertexAt(xi * ct - hw * st, xi * st + hw * ct, c);
    f[i].dc = LineEdge(f[i].d, vc);
    f[i].cb = LineEdge(vc, vb);
    f[i].ba = LineEdge(vb, f[i].a);
    f[i].across =
        EdgeOn(low, f[i].d, f[i].a, f[i].ud, f[i].ua, "ScrewThumb: the knurl could not be built");
  }
  for (int i = 0; i < kFlutes; ++i) {
    const Flute& to = f[(i + 1) % kFlutes];
    f[i].next = EdgeOn(low, f[i].a, to.d, i == 0 ? u0 : f[i].ua, to.ud,
                       "ScrewThumb: the knurl could not be built");
  }
  std::vector<TopoDS_Edge> outline;
  for (int i = 0; i < kFlutes; ++i) {
    const Flute& to = f[(i + 1) % kFlutes];
    for (const TopoDS_Edge& e : {f[i].next, to.dc, to.cb, to.ba}) outline.push_back(e);
  }
  // The fluted part, its lateral faces kept; its end edges are shared with the ends' faces.
  BRepPrimAPI_MakePrism prism(FaceWithHoles(ClosedWire(outline), {}, c), gp_Vec(0, 0, k - 2 * c),
                              false, true);
  if (!prism.IsDone()) Throw(QZ::eCodeFailure, "ScrewThumb: the knurl could not be built");
  auto top = [&](const TopoDS_Shape& s) { return prism.LastShape(s); };
  std::vector<TopoDS_Face> faces;
  const TopoDS_Shape first = prism.FirstShape(), last = prism.LastShape();
  for (TopExp_Explorer e(prism.Shape(), TopAbs_FACE); e.More(); e.Next())
    if (!e.Current().IsSame(first) && !e.Current().IsSame(last))
      faces.push_back(TopoDS::Face(e.Current()));

  // The end at z = z0: the cone (semi-angle +-45 degrees, radius r at z0) from the outline's
  // circle (at height z0 + s slant, s 1 for the lower end, 0 for the upper) to the disc's
  // circle, the flutes' ends on the outline's plane, the disc.
  const double zHigh = k - c;
  const Handle(Geom_Circle) high = circle(R, zHigh);
  for (const bool lower : {true, false}) {
    const double zCone = lower ? 0.0 : zHigh, angle = lower ? kPi / 4 : -kPi / 4;
    const double rCone = lower ? R - c : R, vChain = lower ? slant : 0.0,
                 vDisc = lower ? 0.0 : slant, zChain = lower ? c : zHigh, zDisc = lower ? 0.0 : k;
    const Handle(Geom_ConicalSurface) cone =
        new Geom_ConicalSurface(gp_Ax3(gp_Pnt(0, 0, zCone), gp::DZ(), gp::DX()), angle, rCone);
    TopoDS_Face coneFace;
    builder.MakeFace(coneFace, cone, tol);
    // The chain of arcs on the outline's circle, counter-clockwise from the seam's vertex.
    std::vector<TopoDS_Edge> chain;
    std::vector<TopoDS_Face> ends;
    for (int i = 0; i < kFlutes; ++i) {
      const Flute& to = f[(i + 1) % kFlutes];
      const TopoDS_Edge next = lower ? f[i].next : TopoDS::Edge(top(f[i].next));
      TopoDS_Edge across = to.across;
      TopoDS_Edge dc = to.dc, cb = to.cb, ba = to.ba;
      if (!lower) {
        across = EdgeOn(high, TopoDS::Vertex(top(to.d)), TopoDS::Vertex(top(to.a)), to.ud, to.ua,
                        "ScrewThumb: the knurl could not be built");
        dc = TopoDS::Edge(top(dc));
        cb = TopoDS::Edge(top(cb));
        ba = TopoDS::Edge(top(ba));
      }
      chain.push_back(next);
      chain.push_back(across);
      ends.push_back(
          PlanarFace(ClosedWire({ReversedEdge(ba), ReversedEdge(cb), ReversedEdge(dc), across}), {},
                     zChain, lower));
    }
    const gp_Pnt seamStart = cone->Value(u0, 0), seamEnd = cone->Value(u0, slant);
    const TopoDS_Vertex chainStart = lower ? f[0].a : TopoDS::Vertex(top(f[0].a));
    const TopoDS_Vertex discVertex = VertexAt(seamStart.X(), seamStart.Y(), seamStart.Z());
    const TopoDS_Vertex seamLow = lower ? discVertex : chainStart;
    const TopoDS_Vertex discAt =
        lower ? discVertex : VertexAt(seamEnd.X(), seamEnd.Y(), seamEnd.Z());
    const TopoDS_Vertex seamHigh = lower ? chainStart : discAt;
    const TopoDS_Edge disc = EdgeOn(circle(R - c, zDisc), discAt, discAt, u0, u0 + 2 * kPi,
                                    "ScrewThumb: the knurl could not be built");
    const Handle(Geom_Line) generatrix =
        new Geom_Line(seamStart, gp_Vec(seamStart, seamEnd).Normalized());
    const TopoDS_Edge seam =
        EdgeOn(generatrix, seamLow, seamHigh, 0, slant, "ScrewThumb: the knurl could not be built");
    // Counter-clockwise in the cone's (u, v): along v = 0 with u growing, up the seam at
    // u0 + 2 pi, back along v = slant, down the seam at u0.
    auto onCone = [&](const TopoDS_Edge& e, double v) {
      builder.UpdateEdge(e, new Geom2d_Line(gp_Pnt2d(0, v), gp_Dir2d(1, 0)), coneFace, tol);
    };
    for (const auto& e : chain) onCone(e, vChain);
    onCone(disc, vDisc);
    builder.UpdateEdge(seam, new Geom2d_Line(gp_Pnt2d(u0 + 2 * kPi, 0), gp_Dir2d(0, 1)),
                       new Geom2d_Line(gp_Pnt2d(u0, 0), gp_Dir2d(0, 1)), coneFace, tol);
    std::vector<TopoDS_Edge> round;
    if (lower) {
      round.push_back(disc);
      round.push_back(seam);
      for (auto e = chain.rbegin(); e != chain.rend(); ++e) round.push_back(ReversedEdge(*e));
    } else {
      round = chain;
      round.push_back(seam);
      round.push_back(ReversedEdge(disc));
    }
    round.push_back(ReversedEdge(seam));
    builder.Add(coneFace, ClosedWire(round));
    faces.push_back(coneFace);
    faces.insert(faces.end(), ends.begin(), ends.end());
    faces.push_back(PlanarFace(ClosedWire({disc}), {}, zDisc, !lower));
  }
  return SolidOfFaces(faces);
}

TopoDS_Shape Cylinder(double d, double z0, double z1) { return CylinderZ(d / 2, z0, z1); }

std::atomic<long> g_headsTurned{0};

// A head of revolution turned with its shank (and the shank's collar) as one outline, instead of
// fused with it: o is drawn from the head's top on the axis down to the bearing face z = 0, the
// shank follows. It is turned walked counter-clockwise, as the heads' own outlines are, so that
// their roundings become the tori the kernel's revolution makes of such arcs; the arcs of domes
// turn into the spheres the booleans' domes are. Null when the heads are to be joined by the
// booleans.
TopoDS_Shape HeadWithShank(const char* e, Outline& o, double d, double ds, double ls, double b,
                           double collarD = 0.0, double collarH = 0.0) {
  if (g_hexHeadsCut) return TopoDS_Shape();
  ShankSteps(e, o, d, ds, ls, b, 0.0, collarD, collarH);
  const TopoDS_Shape turned = RevolveOnTori(o.Reversed().Face(1), [](const gp_Circ& c) {
    return std::hypot(c.Location().X(), c.Location().Y()) < 1e-9 * std::max(1.0, c.Radius());
  });
  ++g_headsTurned;
  return turned;
}

// The arc of a dome of base diameter d and height h (at most d / 2) standing on z = z0 (see
// Dome), drawn on o from its top on the axis down to its base.
Outline& DomeArc(Outline& o, double d, double h, double z0) {
  const double a = d / 2, R = (h * h + a * a) / (2 * h), zc = z0 + h - R;
  const double mid = (kPi / 2 + std::atan2(z0 - zc, a)) / 2;
  return o.ArcTo(R * std::cos(mid), zc + R * std::sin(mid), a, z0);
}

// A spherical cap of base diameter d and height h standing on z = z0.
TopoDS_Shape Dome(double d, double h, double z0) {
  const double a = d / 2, R = (h * h + a * a) / (2 * h);
  const TopoDS_Shape ball = BRepPrimAPI_MakeSphere(gp_Pnt(0, 0, z0 + h - R), R).Shape();
  return Common(ball, Cylinder(d + 2, z0, z0 + h + 1));
}

// A 90 degree countersunk head from d at z = 0 to d1 at its top; returns the top height.
TopoDS_Shape Countersunk(const char* e, double d, double d1, double* top) {
  NeedPositive(e, "d1", d1);
  NeedBelow(e, "d", d, "d1", d1);
  *top = (d1 - d) / 2;
  return ConeZ(d / 2, d1 / 2, 0, *top);
}

// A slot of width n and depth t across the top face at height top, wide enough for a head of
// diameter w.
TopoDS_Shape Slot(const char* e, double n, double t, double w, double top, double headHeight) {
  NeedPositive(e, "n", n);
  NeedPositive(e, "t", t);
  if (n >= w * 0.6) Refuse(e, "the slot width n must stay well below the head");
  if (t >= headHeight + kSizeTolerance) Refuse(e, "the slot depth t must stay within the head");
  return BoxXYZ(-w, -n / 2, top - t, w, n / 2, top + 1);
}

// A hexagon socket of width across flats s and depth t from the top face.
TopoDS_Shape Socket(const char* e, double s, double t, double w, double top, double depthLimit) {
  NeedPositive(e, "s", s);
  NeedPositive(e, "t", t);
  if (s / std::sqrt(3.0) * 2 >= w - kSizeTolerance)
    Refuse(e, "the socket s is too wide for the head");
  if (t >= depthLimit - kSizeTolerance) Refuse(e, "the socket depth t is too deep");
  return PolygonPrism(6, s, top - t, top + 1);
}

// A cross recess: two arms of length a and width a / 5, depth n, from the top face.
std::vector<TopoDS_Shape> Cross(const char* e, double a, double n, double w, double top,
                                double depthLimit) {
  NeedPositive(e, "a", a);
  NeedPositive(e, "n", n);
  if (a >= w - kSizeTolerance) Refuse(e, "the cross recess a is too wide for the head");
  if (n >= depthLimit - kSizeTolerance) Refuse(e, "the cross recess depth n is too deep");
  const double h = a / 2, arm = a / 10;
  return {BoxXYZ(-h, -arm, top - n, h, arm, top + 1), BoxXYZ(-arm, -h, top - n, arm, h, top + 1)};
}

TopoDS_Shape Join(const char* e, std::vector<TopoDS_Shape> parts,
                  const std::vector<TopoDS_Shape>& cuts = {}) {
  TopoDS_Shape s = parts.size() == 1 ? parts[0] : FuseAll(parts);
  if (!cuts.empty()) s = CutAll(s, cuts);
  return SingleSolid(s, e);
}

void HeadBiggerThanShank(const char* e, const char* name, double head, double d) {
  NeedPositive(e, name, head);
  if (head <= d + kSizeTolerance) Refuse(e, std::string("the head ") + name + " must exceed d");
}

class CFastenerFactory final : public QZ::CAD::IFastenerFactory {
 public:
  QZ::CAD::IShape* BoltHex(double s, double k, double c, double dw, double ls, double b, double ds,
                           double d) override {
    return BuildCached("BoltHex", {s, k, c, dw, ls, b, ds, d}, [&] {
      const char* e = "BoltHex";
      HeadBiggerThanShank(e, "s", s, d);
      NeedPositive(e, "k", k);
      NeedNotNegative(e, "c", c);
      NeedNotNegative(e, "dw", dw);
      const bool face = c > 0 && dw > 0;
      if (face) {
        if (dw > s / std::sqrt(3.0) * 2) Refuse(e, "the washer face dw exceeds the hexagon");
        if (dw <= d) Refuse(e, "the washer face dw must exceed d");
      }
      // Head and shank put together from their faces, or turned as one and cut to the hexagon
      // at once, where they lie within it.
      const TopoDS_Shape faced =
          HexBoltOfFaces(e, s, face ? c : 0.0, k, d, ds, ls, b, face ? dw : 0.0, face ? c : 0.0);
      if (!faced.IsNull()) return faced;
      const TopoDS_Shape one =
          HexBoltTurned(e, s, face ? c : 0.0, k, d, ds, ls, b, face ? dw : 0.0, face ? c : 0.0);
      if (!one.IsNull()) return SingleSolid(one, e);
      // The washer face is turned with the shank.
      return Join(e, {face ? Shank(e, d, ds, ls, b, 0, dw, c) : Shank(e, d, ds, ls, b),
                      HexHead(e, s, face ? c : 0.0, k)});
    });
  }
  QZ::CAD::IShape* BoltHexSocket(double d, double ds, double ls, double b, double d1, double k,
                                 double s, double t) override {
    return BuildCached("BoltHexSocket", {d, ds, ls, b, d1, k, s, t}, [&] {
      const char* e = "BoltHexSocket";
      HeadBiggerThanShank(e, "d1", d1, d);
      NeedPositive(e, "k", k);
      const TopoDS_Shape socket = Socket(e, s, t, d1, k, k);  // checks s and t
      const TopoDS_Shape faced = SocketHeadOfFaces(e, d, ds, ls, b, d1, k, s, t);
      if (!faced.IsNull()) return faced;
      return Join(e, {Shank(e, d, ds, ls, b), Cylinder(d1, 0, k)}, {socket});
    });
  }
  QZ::CAD::IShape* BoltHexSocketCountersunk(double d, double ds, double ls, double b, double d1,
                                            double s, double t) override {
    return BuildCached("BoltHexSocketCountersunk", {d, ds, ls, b, d1, s, t}, [&] {
      const char* e = "BoltHexSocketCountersunk";
      double top = 0;
      const TopoDS_Shape head = Countersunk(e, d, d1, &top);
      return Join(e, {Shank(e, d, ds, ls, b), head}, {Socket(e, s, t, d1, top, top)});
    });
  }
  QZ::CAD::IShape* BoltHexFlange(double d, double ds, double ls, double b, double d1, double k,
                                 double s) override {
    return BuildCached("BoltHexFlange", {d, ds, ls, b, d1, k, s}, [&] {
      const char* e = "BoltHexFlange";
      HeadBiggerThanShank(e, "s", s, d);
      NeedPositive(e, "k", k);
      NeedPositive(e, "d1", d1);
      if (d1 <= s + kSizeTolerance) Refuse(e, "the flange d1 must exceed the hexagon s");
      const double flange = 0.25 * k;
      // The flange: a disc with a conical top that meets the hexagon.
      Outline turned(gp_Pnt2d(0, flange));
      turned.LineTo(s / 2, flange).LineTo(d1 / 2, flange * 0.4).LineTo(d1 / 2, 0);
      const TopoDS_Shape one = HeadWithShank(e, turned, d, ds, ls, b);
      if (!one.IsNull()) return Join(e, {one, HexHead(e, s, flange, k)});
      const TopoDS_Shape disc = Revolve(Outline(gp_Pnt2d(0, 0))
                                            .LineTo(d1 / 2, 0)
                                            .LineTo(d1 / 2, flange * 0.4)
                                            .LineTo(s / 2, flange)
                                            .LineTo(0, flange)
                                            .Face(1));
      return Join(e, {Shank(e, d, ds, ls, b), disc, HexHead(e, s, flange, k)});
    });
  }
  QZ::CAD::IShape* BoltCarriage(double d, double ds, double ls, double b, double d1, double v,
                                double f, double k) override {
    return BuildCached("BoltCarriage", {d, ds, ls, b, d1, v, f, k}, [&] {
      const char* e = "BoltCarriage";
      HeadBiggerThanShank(e, "d1", d1, d);
      NeedPositive(e, "k", k);
      NeedPositive(e, "v", v);
      NeedPositive(e, "f", f);
      if (v < d - kSizeTolerance || v * std::sqrt(2.0) >= d1)
        Refuse(e, "the square neck v must lie between d and the head");
      if (f >= ls + b) Refuse(e, "the square neck f must be shorter than the shank");
      if (2 * k > d1) Refuse(e, "the head height k must not exceed half its diameter");
      const TopoDS_Shape neck = BoxXYZ(-v / 2, -v / 2, -f, v / 2, v / 2, 0);
      Outline turned(gp_Pnt2d(0, k));
      DomeArc(turned, d1, k, 0);
      const TopoDS_Shape one = HeadWithShank(e, turned, d, ds, ls, b);
      if (!one.IsNull()) return Join(e, {one, neck});
      return Join(e, {Shank(e, d, ds, ls, b), Dome(d1, k, 0), neck});
    });
  }
  QZ::CAD::IShape* BoltHexSetDogPoint(double d, double b, double ds, double ls, double k, double s,
                                      double dp, double zp) override {
    return BuildCached("BoltHexSetDogPoint", {d, b, ds, ls, k, s, dp, zp}, [&] {
      return SetBolt("BoltHexSetDogPoint", d, b, ds, ls, k, s, dp, zp, false);
    });
  }
  QZ::CAD::IShape* BoltHexSetDogCone(double d, double b, double ds, double ls, double k, double s,
                                     double dp, double zp) override {
    return BuildCached("BoltHexSetDogCone", {d, b, ds, ls, k, s, dp, zp}, [&] {
      return SetBolt("BoltHexSetDogCone", d, b, ds, ls, k, s, dp, zp, true);
    });
  }
  QZ::CAD::IShape* BoltT_Head(double d, double b, double ls, double s1, double k) override {
    return BuildCached("BoltT_Head", {d, b, ls, s1, k},
                       [&] { return THead("BoltT_Head", d, b, ls, s1, k, false); });
  }
  QZ::CAD::IShape* BoltT_HeadSquareNeck(double d, double b, double ls, double s1,
                                        double k) override {
    return BuildCached("BoltT_HeadSquareNeck", {d, b, ls, s1, k},
                       [&] { return THead("BoltT_HeadSquareNeck", d, b, ls, s1, k, true); });
  }
  QZ::CAD::IShape* BoltSpigot(double d, double b, double ds, double ls, double d1, double s,
                              double k) override {
    return BuildCached("BoltSpigot", {d, b, ds, ls, d1, s, k}, [&] {
      const char* e = "BoltSpigot";
      HeadBiggerThanShank(e, "s", s, d);
      NeedPositive(e, "k", k);
      NeedPositive(e, "d1", d1);
      if (d1 >= s) Refuse(e, "the spigot d1 must be narrower than the hexagon s");
      // The spigot stands on the head, half the head's height.
      const TopoDS_Shape spigot = Cylinder(d1, k, 1.5 * k);
      const TopoDS_Shape bolt = HexBoltOfFaces(e, s, 0, k, d, ds, ls, b, 0, 0, false);
      if (!bolt.IsNull()) return Join(e, {bolt, spigot});
      return Join(e, {Shank(e, d, ds, ls, b), HexHead(e, s, 0, k), spigot});
    });
  }
  QZ::CAD::IShape* BoltEye(double d, double b, double ls, double d1, double d2, double s) override {
    return BuildCached("BoltEye", {d, b, ls, d1, d2, s}, [&] {
      const char* e = "BoltEye";
      NeedPositive(e, "d1", d1);
      NeedPositive(e, "s", s);
      NeedBelow(e, "d1", d1, "d2", d2);
      if (d >= (d2 - d1) * 2 || s < d * 0.5) Refuse(e, "the eye is too slender for the shank");
      // The eye: a ring of inner diameter d1, outer d2 and thickness s across y, on the shank.
      const double rc = d2 / 2, wall = (d2 - d1) / 2;
      TopoDS_Shape ring =
          Cut(CylinderZ(d2 / 2, -s / 2, s / 2), CylinderZ(d1 / 2, -s / 2 - 1, s / 2 + 1));
      gp_Trsf stand;
      stand.SetRotation(gp::OX(), kPi / 2);
      ring = PlaceShape(ring, Translation(0, 0, rc) * stand);
      return Join(e, {Shank(e, d, 0, ls + wall / 2, b, wall / 2), ring});
    });
  }
  QZ::CAD::IShape* BoltU(double d, double b, double ls, double d1) override {
    return BuildCached("BoltU", {d, b, ls, d1}, [&] {
      const char* e = "BoltU";
      NeedPositive(e, "d", d);
      NeedPositive(e, "d1", d1);
      NeedPositive(e, "ls", ls);
      NeedPositive(e, "b", b);
      if (b > ls + kSizeTolerance) Refuse(e, "the thread b must not be longer than the legs ls");
      // Legs of length ls at x = +-(d1 + d) / 2 joined by a half ring above z = 0.
      const double R = (d1 + d) / 2;
      TopoDS_Shape bend = BRepPrimAPI_MakeTorus(gp_Ax2(gp::Origin(), gp::DY()), R, d / 2).Shape();
      bend = Common(bend, BoxXYZ(-R - d, -d, 0, R + d, d, R + d));
      const TopoDS_Shape leg = Shank(e, d, 0, ls - b, b);
      return Join(e, {bend, Moved(leg, Translation(R, 0, 0)), Moved(leg, Translation(-R, 0, 0))});
    });
  }
  QZ::CAD::IShape* BoltRing(double d, double b, double d1, double d2, double d3,
                            double k) override {
    return BuildCached("BoltRing", {d, b, d1, d2, d3, k}, [&] {
      const char* e = "BoltRing";
      NeedPositive(e, "d1", d1);
      NeedBelow(e, "d1", d1, "d2", d2);
      HeadBiggerThanShank(e, "d3", d3, d);
      NeedPositive(e, "k", k);
      // A round ring (inner d1, outer d2) standing on a collar of diameter d3 and height k.
      const double major = (d1 + d2) / 4, minor = (d2 - d1) / 4;
      if (2 * minor > d3) Refuse(e, "the ring is thicker than the collar d3");
      const double centre = k + major + minor / 2;
      const TopoDS_Shape ring =
          BRepPrimAPI_MakeTorus(gp_Ax2(gp_Pnt(0, 0, centre), gp::DY()), major, minor).Shape();
      Outline turned(gp_Pnt2d(0, k));
      const TopoDS_Shape one = HeadWithShank(e, turned, d, 0, 0, b, d3, k);
      if (!one.IsNull()) return Join(e, {one, ring});
      return Join(e, {Shank(e, d, 0, 0, b), Cylinder(d3, 0, k), ring});
    });
  }
  QZ::CAD::IShape* ScrewCheeseSlotted(double d, double b, double d1, double k, double n,
                                      double t) override {
    return BuildCached("ScrewCheeseSlotted", {d, b, d1, k, double(n), t}, [&] {
      const char* e = "ScrewCheeseSlotted";
      HeadBiggerThanShank(e, "d1", d1, d);
      NeedPositive(e, "k", k);
      const double c = std::min(0.1 * k, 0.05 * d1);
      const TopoDS_Shape slot = Slot(e, n, t, d1, k, k);
      Outline turned(gp_Pnt2d(0, k));
      turned.LineTo(d1 / 2 - c, k).LineTo(d1 / 2, k - c).LineTo(d1 / 2, 0);
      const TopoDS_Shape one = HeadWithShank(e, turned, d, 0, 0, b);
      if (!one.IsNull()) return Join(e, {one}, {slot});
      const TopoDS_Shape head = Revolve(Outline(gp_Pnt2d(0, 0))
                                            .LineTo(d1 / 2, 0)
                                            .LineTo(d1 / 2, k - c)
                                            .LineTo(d1 / 2 - c, k)
                                            .LineTo(0, k)
                                            .Face(1));
      return Join(e, {Shank(e, d, 0, 0, b), head}, {slot});
    });
  }
  QZ::CAD::IShape* ScrewPanSlotted(double d, double b, double d1, double k, double n,
                                   double t) override {
    return BuildCached("ScrewPanSlotted", {d, b, d1, k, double(n), t}, [&] {
      const char* e = "ScrewPanSlotted";
      HeadBiggerThanShank(e, "d1", d1, d);
      NeedPositive(e, "k", k);
      const TopoDS_Shape slot = Slot(e, n, t, d1, k, k);
      Outline turned(gp_Pnt2d(0, k));
      turned.CornerTo(d1 / 2, k, d1 / 2, 0, PanRadius(d1, k)).LineTo(d1 / 2, 0);
      const TopoDS_Shape one = HeadWithShank(e, turned, d, 0, 0, b);
      if (!one.IsNull()) return Join(e, {one}, {slot});
      return Join(e, {Shank(e, d, 0, 0, b), PanHead(e, d1, k)}, {slot});
    });
  }
  QZ::CAD::IShape* ScrewCountersunkSlotted(double d, double b, double d1, double n,
                                           double t) override {
    return BuildCached("ScrewCountersunkSlotted", {d, b, d1, double(n), t}, [&] {
      const char* e = "ScrewCountersunkSlotted";
      double top = 0;
      const TopoDS_Shape head = Countersunk(e, d, d1, &top);
      const TopoDS_Shape slot = Slot(e, n, t, d1, top, top);
      Outline turned(gp_Pnt2d(0, top));
      turned.LineTo(d1 / 2, top).LineTo(d / 2, 0);
      const TopoDS_Shape one = HeadWithShank(e, turned, d, 0, 0, b);
      if (!one.IsNull()) return Join(e, {one}, {slot});
      return Join(e, {Shank(e, d, 0, 0, b), head}, {slot});
    });
  }
  QZ::CAD::IShape* ScrewCountersunkRaisedSlotted(double d, double b, double d1, double k, double n,
                                                 double t) override {
    return BuildCached("ScrewCountersunkRaisedSlotted", {d, b, d1, k, double(n), t}, [&] {
      const char* e = "ScrewCountersunkRaisedSlotted";
      double top = 0;
      const TopoDS_Shape head = Countersunk(e, d, d1, &top);
      NeedPositive(e, "k", k);
      if (2 * k > d1) Refuse(e, "the raised head k must not exceed half of d1");
      const TopoDS_Shape slot = Slot(e, n, t, d1, top + k, top + k);
      Outline turned(gp_Pnt2d(0, top + k));
      DomeArc(turned, d1, k, top).LineTo(d / 2, 0);
      const TopoDS_Shape one = HeadWithShank(e, turned, d, 0, 0, b);
      if (!one.IsNull()) return Join(e, {one}, {slot});
      return Join(e, {Shank(e, d, 0, 0, b), head, Dome(d1, k, top)}, {slot});
    });
  }
  QZ::CAD::IShape* ScrewFillisterCrossRecessed(double d, double b, double d1, double a, double n,
                                               double k) override {
    return BuildCached("ScrewFillisterCrossRecessed", {d, b, d1, a, double(n), k}, [&] {
      const char* e = "ScrewFillisterCrossRecessed";
      HeadBiggerThanShank(e, "d1", d1, d);
      NeedPositive(e, "k", k);
      // A cylindrical head with a low dome: three quarters of k straight, the rest domed.
      const double straight = 0.75 * k;
      const std::vector<TopoDS_Shape> cross = Cross(e, a, n, d1, k, k);
      // A dome higher than half its base is the ball within a cylinder just wider than the
      // head, no spherical cap: left to the booleans.
      Outline turned(gp_Pnt2d(0, k));
      DomeArc(turned, d1, k - straight, straight).LineTo(d1 / 2, 0);
      const TopoDS_Shape one =
          k - straight <= d1 / 2 ? HeadWithShank(e, turned, d, 0, 0, b) : TopoDS_Shape();
      if (!one.IsNull()) return Join(e, {one}, cross);
      return Join(
          e, {Shank(e, d, 0, 0, b), Cylinder(d1, 0, straight), Dome(d1, k - straight, straight)},
          cross);
    });
  }
  QZ::CAD::IShape* ScrewCountersunkCrossRecessed(double d, double b, double d1, double a,
                                                 double n) override {
    return BuildCached("ScrewCountersunkCrossRecessed", {d, b, d1, a, double(n)}, [&] {
      const char* e = "ScrewCountersunkCrossRecessed";
      double top = 0;
      const TopoDS_Shape head = Countersunk(e, d, d1, &top);
      const std::vector<TopoDS_Shape> cross = Cross(e, a, n, d1, top, top);
      Outline turned(gp_Pnt2d(0, top));
      turned.LineTo(d1 / 2, top).LineTo(d / 2, 0);
      const TopoDS_Shape one = HeadWithShank(e, turned, d, 0, 0, b);
      if (!one.IsNull()) return Join(e, {one}, cross);
      return Join(e, {Shank(e, d, 0, 0, b), head}, cross);
    });
  }
  QZ::CAD::IShape* ScrewCountersunkRaisedCrossRecessed(double d, double b, double d1, double a,
                                                       double n, double k) override {
    return BuildCached("ScrewCountersunkRaisedCrossRecessed", {d, b, d1, a, double(n), k}, [&] {
      const char* e = "ScrewCountersunkRaisedCrossRecessed";
      double top = 0;
      const TopoDS_Shape head = Countersunk(e, d, d1, &top);
      NeedPositive(e, "k", k);
      if (2 * k > d1) Refuse(e, "the raised head k must not exceed half of d1");
      const std::vector<TopoDS_Shape> cross = Cross(e, a, n, d1, top + k, top + k);
      Outline turned(gp_Pnt2d(0, top + k));
      DomeArc(turned, d1, k, top).LineTo(d / 2, 0);
      const TopoDS_Shape one = HeadWithShank(e, turned, d, 0, 0, b);
      if (!one.IsNull()) return Join(e, {one}, cross);
      return Join(e, {Shank(e, d, 0, 0, b), head, Dome(d1, k, top)}, cross);
    });
  }
  QZ::CAD::IShape* ScrewHexSocketButton(double d, double b, double d1, double s,
                                        double t) override {
    return BuildCached("ScrewHexSocketButton", {d, b, d1, s, t}, [&] {
      const char* e = "ScrewHexSocketButton";
      HeadBiggerThanShank(e, "d1", d1, d);
      const double h = 0.31 * d1;  // the button's height
      const TopoDS_Shape socket = Socket(e, s, t, d1 * 0.7, h, h);
      Outline turned(gp_Pnt2d(0, h));
      DomeArc(turned, d1, h, 0);
      const TopoDS_Shape one = HeadWithShank(e, turned, d, 0, 0, b);
      if (!one.IsNull()) return Join(e, {one}, {socket});
      return Join(e, {Shank(e, d, 0, 0, b), Dome(d1, h, 0)}, {socket});
    });
  }
  QZ::CAD::IShape* ScrewCountersunkSquareNeck(double d, double b, double d1, double v,
                                              double f) override {
    return BuildCached("ScrewCountersunkSquareNeck", {d, b, d1, v, f}, [&] {
      const char* e = "ScrewCountersunkSquareNeck";
      double top = 0;
      const TopoDS_Shape head = Countersunk(e, d, d1, &top);
      NeedPositive(e, "v", v);
      NeedPositive(e, "f", f);
      if (v < d - kSizeTolerance || v * std::sqrt(2.0) >= d1)
        Refuse(e, "the square neck v must lie between d and the head");
      if (f >= b) Refuse(e, "the square neck f must be shorter than the thread b");
      const TopoDS_Shape neck = BoxXYZ(-v / 2, -v / 2, -f, v / 2, v / 2, 0);
      Outline turned(gp_Pnt2d(0, top));
      turned.LineTo(d1 / 2, top).LineTo(d / 2, 0);
      const TopoDS_Shape one = HeadWithShank(e, turned, d, 0, 0, b);
      if (!one.IsNull()) return Join(e, {one, neck});
      return Join(e, {Shank(e, d, 0, 0, b), head, neck});
    });
  }
  QZ::CAD::IShape* ScrewSquareCollar(double d, double b, double ds, double ls, double s, double k,
                                     double d1, double c) override {
    return BuildCached("ScrewSquareCollar", {d, b, ds, ls, s, k, d1, c}, [&] {
      const char* e = "ScrewSquareCollar";
      HeadBiggerThanShank(e, "s", s, d);
      NeedPositive(e, "k", k);
      NeedPositive(e, "c", c);
      HeadBiggerThanShank(e, "d1", d1, d);
      if (c >= k) Refuse(e, "the collar c must be lower than the head k");
      const TopoDS_Shape square = BoxXYZ(-s / 2, -s / 2, c, s / 2, s / 2, k);
      Outline turned(gp_Pnt2d(0, c));
      const TopoDS_Shape one = HasCollar(d, ds, ls, d1, c)
                                   ? HeadWithShank(e, turned, d, ds, ls, b, d1, c)
                                   : TopoDS_Shape();
      if (!one.IsNull()) return Join(e, {one, square});
      return Join(e, {Shank(e, d, ds, ls, b), Cylinder(d1, 0, c), square});
    });
  }
  QZ::CAD::IShape* ScrewThumb(double d, double b, double ds, double ls, double d1,
                              double k) override {
    return BuildCached("ScrewThumb", {d, b, ds, ls, d1, k}, [&] {
      const char* e = "ScrewThumb";
      HeadBiggerThanShank(e, "d1", d1, d);
      NeedPositive(e, "k", k);
      // A knurled head: 24 shallow flutes round a cylinder, chamfered at both ends.
      const double c = std::min(0.1 * k, 0.05 * d1);
      return Join(e, {Shank(e, d, ds, ls, b), KnurledHead(d1 / 2, c, k, kPi * d1 / 48)});
    });
  }
  QZ::CAD::IShape* ScrewSetSlottedDogPoint(double d, double b, double dp, double zp, double n,
                                           double t) override {
    return BuildCached("ScrewSetSlottedDogPoint", {d, b, dp, zp, double(n), t}, [&] {
      const char* e = "ScrewSetSlottedDogPoint";
      return Join(e, {SetBody(e, d, b), DogPoint(e, d, b, dp, zp)}, {Slot(e, n, t, d, 0, b)});
    });
  }
  QZ::CAD::IShape* ScrewSetSlottedConePoint(double d, double b, double n, double t) override {
    return BuildCached("ScrewSetSlottedConePoint", {d, b, double(n), t}, [&] {
      const char* e = "ScrewSetSlottedConePoint";
      return Join(e, {ConePointBody(e, d, b, t)}, {Slot(e, n, t, d, 0, b)});
    });
  }
  QZ::CAD::IShape* ScrewSetHexSocketDogPoint(double d, double b, double dp, double zp, double s,
                                             double t) override {
    return BuildCached("ScrewSetHexSocketDogPoint", {d, b, dp, zp, s, t}, [&] {
      const char* e = "ScrewSetHexSocketDogPoint";
      return Join(e, {SetBody(e, d, b), DogPoint(e, d, b, dp, zp)}, {Socket(e, s, t, d, 0, b)});
    });
  }
  QZ::CAD::IShape* ScrewSetHexSocketConePoint(double d, double b, double s, double t) override {
    return BuildCached("ScrewSetHexSocketConePoint", {d, b, s, t}, [&] {
      const char* e = "ScrewSetHexSocketConePoint";
      return Join(e, {ConePointBody(e, d, b, t)}, {Socket(e, s, t, d, 0, b)});
    });
  }
  QZ::CAD::IShape* StudDoubleEnd(double d, double b1, double b2, double ds, double ls) override {
    return BuildCached("StudDoubleEnd", {d, b1, b2, ds, ls}, [&] {
      const char* e = "StudDoubleEnd";
      NeedPositive(e, "d", d);
      NeedPositive(e, "b1", b1);
      NeedPositive(e, "b2", b2);
      NeedNotNegative(e, "ls", ls);
      NeedNotNegative(e, "ds", ds);
      if (ds == 0) ds = d;
      if (ds > 4 * d) Refuse(e, "the shank diameter ds is far above d");
      // From z = 0: the stud end b1, the shank ls, the nut end b2, chamfered at both ends.
      const double ct = std::min({0.1 * d, b1 / 4, b2 / 4}), top = b1 + ls + b2;
      Outline o(gp_Pnt2d(0, 0));
      o.LineTo(d / 2 - ct, 0).LineTo(d / 2, ct).LineTo(d / 2, b1);
      if (ls > 0) o.LineTo(ds / 2, b1).LineTo(ds / 2, b1 + ls);
      o.LineTo(d / 2, b1 + ls).LineTo(d / 2, top - ct).LineTo(d / 2 - ct, top).LineTo(0, top);
      return Revolve(o.Face(1));
    });
  }

 private:
  static double PanRadius(double d1, double k) { return std::min(0.4 * k, d1 / 4); }
  static TopoDS_Shape PanHead(const char* e, double d1, double k) {
    const double r = PanRadius(d1, k);
    return Revolve(RoundedPolygon(e, {{0, 0}, {d1 / 2, 0}, {d1 / 2, k, r}, {0, k}}).Face(1));
  }
  // Hexagon set bolts: a plain hexagon head, the shank and a dog point (cylinder dp over zp) or
  // a flat cone point (from d to dp over zp) beyond the thread.
  static TopoDS_Shape SetBolt(const char* e, double d, double b, double ds, double ls, double k,
                              double s, double dp, double zp, bool cone) {
    HeadBiggerThanShank(e, "s", s, d);
    NeedPositive(e, "k", k);
    NeedPositive(e, "dp", dp);
    NeedPositive(e, "zp", zp);
    NeedBelow(e, "dp", dp, "d", d);
    const double end = -(ls + b);
    TopoDS_Shape point =
        cone ? ConeZ(dp / 2, d / 2, end - zp, end) : Cylinder(dp, end - zp, end + 0.01 * d);
    const TopoDS_Shape bolt = HexBoltOfFaces(e, s, 0, k, d, ds, ls, b, 0, 0, false);
    if (!bolt.IsNull()) return Join(e, {bolt, point});
    return Join(e, {Shank(e, d, ds, ls, b), HexHead(e, s, 0, k), point});
  }
  static TopoDS_Shape THead(const char* e, double d, double b, double ls, double s1, double k,
                            bool neck) {
    NeedPositive(e, "s1", s1);
    NeedPositive(e, "k", k);
    const double w = 1.25 * d;
    if (s1 <= w) Refuse(e, "the head length s1 must exceed 1.25 d");
    std::vector<TopoDS_Shape> parts{Shank(e, d, 0, ls, b),
                                    BoxXYZ(-s1 / 2, -w / 2, 0, s1 / 2, w / 2, k)};
    if (neck) {
      const double f = std::min(0.6 * d, 0.5 * (ls + b));
      parts.push_back(BoxXYZ(-d / 2, -d / 2, -f, d / 2, d / 2, 0));
    }
    return Join(e, parts);
  }
  // A set screw's thread: d over b below z = 0, chamfered at the top.
  static TopoDS_Shape SetBody(const char* e, double d, double b) {
    NeedPositive(e, "d", d);
    NeedPositive(e, "b", b);
    const double c = std::min(0.1 * d, b / 4);
    return Revolve(Outline(gp_Pnt2d(0, 0))
                       .LineTo(d / 2 - c, 0)
                       .LineTo(d / 2, -c)
                       .LineTo(d / 2, -b)
                       .LineTo(0, -b)
                       .Face(1));
  }
  static TopoDS_Shape DogPoint(const char* e, double d, double b, double dp, double zp) {
    NeedPositive(e, "dp", dp);
    NeedPositive(e, "zp", zp);
    NeedBelow(e, "dp", dp, "d", d);
    return Cylinder(dp, -b - zp, -b + 0.01 * d);
  }
  // A set screw with a 90 degree cone point: its last d / 2 (at most) is the cone.
  static TopoDS_Shape ConePointBody(const char* e, double d, double b, double t) {
    NeedPositive(e, "d", d);
    NeedPositive(e, "b", b);
    const double cone = std::min(d / 2, b / 2), c = std::min(0.1 * d, b / 4);
    if (t >= b - cone) Refuse(e, "the drive depth t reaches the cone point");
    Outline o(gp_Pnt2d(0, 0));
    o.LineTo(d / 2 - c, 0).LineTo(d / 2, -c).LineTo(d / 2, -(b - cone));
    o.LineTo(d / 2 - cone, -b).LineTo(0, -b);
    return Revolve(o.Face(1));
  }
};

}  // namespace

void SetHexHeadsCut(bool cut) { g_hexHeadsCut = cut; }
long HexBoltsTurned() { return g_hexBoltsTurned; }
long HeadsTurnedWithShanks() { return g_headsTurned; }

QZ::CAD::IFastenerFactory* FastenerFactory() {
  static CFastenerFactory factory;
  return &factory;
}

}  // namespace cad_engine
