// The gear factory: involute spur and helical gears (external and internal), double helical
// gears, racks, straight bevel gears and gears from a tooth profile given as points.
#include "Gears.h"

#include "Context.h"
#include "Solids.h"

#include <BRepAdaptor_Curve.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepOffsetAPI_ThruSections.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepTools.hxx>
#include <BRepTools_ReShape.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS_Compound.hxx>
#include <BRepTools_WireExplorer.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <ElCLib.hxx>
#include <Geom2dAPI_Interpolate.hxx>
#include <Geom2d_BSplineCurve.hxx>
#include <Geom2d_Line.hxx>
#include <TColgp_HArray1OfPnt2d.hxx>
#include <Geom_Circle.hxx>
#include <Geom_CylindricalSurface.hxx>
#include <Geom_Line.hxx>
#include <Precision.hxx>
#include <TopExp.hxx>
#include <TopoDS_Vertex.hxx>
#include <gp_Ax3.hxx>
#include <gp_Lin.hxx>
#include <BRep_Builder.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <GC_MakeArcOfCircle.hxx>
#include <GeomAPI_Interpolate.hxx>
#include <Geom_BSplineCurve.hxx>
#include <Standard_Failure.hxx>
#include <TColStd_HArray1OfReal.hxx>
#include <TColgp_HArray1OfPnt.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Ax2.hxx>
#include <gp_Circ.hxx>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <vector>

namespace cad_engine {

namespace {

constexpr double kFilletFactor = 0.38;  // root fillet radius / normal module
constexpr int kInvolutePoints = 17;     // interpolation points per flank

double Inv(double a) { return std::tan(a) - a; }

gp_Pnt Polar(double rho, double angle, double z) {
  return gp_Pnt(rho * std::cos(angle), rho * std::sin(angle), z);
}

double AngleOf(const gp_Pnt& p) { return std::atan2(p.Y(), p.X()); }

// Geometry of a gear given by its (possibly not whole) number of teeth; bevel gears use the
// virtual number of teeth of their back cone.
struct ToothGeometry {
  double z = 0;  // teeth (for the pitch angle)
  double rb = 0, ra = 0, rf = 0;
  double baseAngle = 0;  // polar angle of the upper flank where it leaves the base circle
  double fillet = 0;
  bool internal = false;
};

// Point of the upper flank for roll parameter t (radius rb sqrt(1 + t^2)).
gp_Pnt FlankPoint(const ToothGeometry& g, double t, double z) {
  const double x = g.rb * (std::cos(t) + t * std::sin(t));
  const double y = -g.rb * (std::sin(t) - t * std::cos(t));
  const double c = std::cos(g.baseAngle), s = std::sin(g.baseAngle);
  return gp_Pnt(c * x - s * y, s * x + c * y, z);
}

double RollOf(const ToothGeometry& g, double rho) {
  return std::sqrt(std::max(0.0, rho * rho / (g.rb * g.rb) - 1.0));
}

double FlankAngleAt(const ToothGeometry& g, double rho) {
  const double t = RollOf(g, rho);
  return g.baseAngle - (t - std::atan(t));
}

// The upper flank as a B-spline through points at roll parameters t0..t1.
TopoDS_Edge InvoluteEdge(const ToothGeometry& g, double t0, double t1, double z) {
  Handle(TColgp_HArray1OfPnt) pts = new TColgp_HArray1OfPnt(1, kInvolutePoints);
  Handle(TColStd_HArray1OfReal) pars = new TColStd_HArray1OfReal(1, kInvolutePoints);
  for (int i = 0; i < kInvolutePoints; ++i) {
    const double t = t0 + (t1 - t0) * i / (kInvolutePoints - 1);
    pts->SetValue(i + 1, FlankPoint(g, t, z));
    pars->SetValue(i + 1, t);
  }
  GeomAPI_Interpolate interp(pts, pars, false, 1e-9);
  interp.Perform();
  if (!interp.IsDone()) Throw(QZ::eCodeFailure, "the tooth flank could not be interpolated");
  return BRepBuilderAPI_MakeEdge(interp.Curve()).Edge();
}

TopoDS_Edge Mirrored(const TopoDS_Edge& e) {
  gp_Trsf m;
  m.SetMirror(gp_Ax2(gp::Origin(), gp::DY(), gp::DX()));
  return TopoDS::Edge(BRepBuilderAPI_Transform(e, m, true).Shape());
}

TopoDS_Edge CircleArc(double rho, double a0, double a1, double z) {
  gp_Circ c(gp_Ax2(gp_Pnt(0, 0, z), gp::DZ()), rho);
  return BRepBuilderAPI_MakeEdge(c, a0, a1).Edge();
}

TopoDS_Edge ArcThrough(const gp_Pnt& a, const gp_Pnt& centre, double radius, const gp_Pnt& b) {
  gp_Vec mid(centre, gp_Pnt((a.XYZ() + b.XYZ()) / 2));
  mid.Normalize();
  const gp_Pnt m = centre.Translated(mid * radius);
  GC_MakeArcOfCircle arc(a, m, b);
  if (!arc.IsDone()) Throw(QZ::eCodeFailure, "a root fillet is degenerate");
  return BRepBuilderAPI_MakeEdge(arc.Value()).Edge();
}

struct Fillet {
  gp_Pnt contact;  // on the flank
  gp_Pnt root;     // on the root circle
  gp_Pnt centre;
  double roll = 0;  // roll parameter of the contact; < 0: on the radial line below the base
  bool ok = false;
};

// Fillet of radius rho at the upper flank's root.
Fillet UpperFillet(const ToothGeometry& g, double rho, double z) {
  Fillet f;
  const double c = std::cos(g.baseAngle), s = std::sin(g.baseAngle);
  auto rot = [&](double x, double y) { return gp_Pnt(c * x - s * y, s * x + c * y, z); };
  if (!g.internal) {
    const double rc = g.rf + rho;  // centre radius
    if (g.rf * g.rf + 2 * g.rf * rho >= g.rb * g.rb) {
      const double t = (std::sqrt(rc * rc - g.rb * g.rb) - rho) / g.rb;
      const double bx = g.rb * std::cos(t), by = -g.rb * std::sin(t);
      const double nx = std::sin(t), ny = std::cos(t);
      f.contact = rot(bx + g.rb * t * nx, by + g.rb * t * ny);
      f.centre = rot(bx + (g.rb * t + rho) * nx, by + (g.rb * t + rho) * ny);
      f.roll = t;
    } else {
      const double d = std::asin(rho / rc);
      f.centre = Polar(rc, g.baseAngle + d, z);
      f.contact = Polar(rc * std::cos(d), g.baseAngle, z);
      f.roll = -1;
    }
    const double a = AngleOf(f.centre);
    f.root = Polar(g.rf, a, z);
    f.ok = a < kPi / g.z - 1e-4;
  } else {
    const double rc = g.rf - rho;
    if (rc <= g.rb) return f;
    const double t = (std::sqrt(rc * rc - g.rb * g.rb) + rho) / g.rb;
    const double bx = g.rb * std::cos(t), by = -g.rb * std::sin(t);
    const double nx = std::sin(t), ny = std::cos(t);
    f.contact = rot(bx + g.rb * t * nx, by + g.rb * t * ny);
    f.centre = rot(bx + (g.rb * t - rho) * nx, by + (g.rb * t - rho) * ny);
    f.roll = t;
    const double a = AngleOf(f.centre);
    f.root = Polar(g.rf, a, z);
    f.ok = a > 1e-4 && f.contact.Distance(gp_Pnt(0, 0, z)) > g.ra + 1e-6;
  }
  return f;
}

// The largest fillet up to the nominal radius that fits the space.
Fillet FittingFillet(const ToothGeometry& g, double z) {
  double rho = g.fillet;
  for (int i = 0; i < 60; ++i, rho *= 0.8) {
    Fillet f = UpperFillet(g, rho, z);
    if (f.ok) return f;
  }
  return Fillet{};
}

// One pitch of the outline, counter-clockwise, from the root (external) or the tip (internal)
// at the start of the pitch to the same place one pitch further.
std::vector<TopoDS_Edge> PitchEdges(const ToothGeometry& g, double z) {
  std::vector<TopoDS_Edge> edges;
  const Fillet f = FittingFillet(g, z);
  if (!f.ok)
    Throw(QZ::eCodeInvalidParameter,
          "the tooth space is too narrow at the root for these parameters");
  const double pitch = 2 * kPi / g.z;
  const double tTip = RollOf(g, g.ra);
  if (!g.internal) {
    const double tFoot = f.roll >= 0 ? f.roll : 0.0;
    const TopoDS_Edge upper = InvoluteEdge(g, tFoot, tTip, z);
    const TopoDS_Edge upperFillet = ArcThrough(f.contact, f.centre, g.fillet, f.root);
    TopoDS_Edge upperRadial;
    if (f.roll < 0) upperRadial = BRepBuilderAPI_MakeEdge(FlankPoint(g, 0, z), f.contact).Edge();
    const double tipAngle = FlankAngleAt(g, g.ra);
    edges.push_back(Mirrored(upperFillet));
    if (f.roll < 0) edges.push_back(Mirrored(upperRadial));
    edges.push_back(Mirrored(upper));
    edges.push_back(CircleArc(g.ra, -tipAngle, tipAngle, z));
    edges.push_back(upper);
    if (f.roll < 0) edges.push_back(upperRadial);
    edges.push_back(upperFillet);
    const double rootAngle = AngleOf(f.root);
    edges.push_back(CircleArc(g.rf, rootAngle, pitch - rootAngle, z));
  } else {
    const TopoDS_Edge upper = InvoluteEdge(g, RollOf(g, g.ra), f.roll, z);
    const TopoDS_Edge upperFillet = ArcThrough(f.contact, f.centre, g.fillet, f.root);
    const double rootAngle = AngleOf(f.root);
    const double tipAngle = FlankAngleAt(g, g.ra);
    edges.push_back(Mirrored(upper));
    edges.push_back(Mirrored(upperFillet));
    edges.push_back(CircleArc(g.rf, -rootAngle, rootAngle, z));
    edges.push_back(upperFillet);
    edges.push_back(upper);
    edges.push_back(CircleArc(g.ra, tipAngle, pitch - tipAngle, z));
  }
  return edges;
}

// Fillet radius actually used is recorded for the arcs (FittingFillet may shrink it).
ToothGeometry Geometry(const InvoluteGear& g) {
  ToothGeometry t;
  t.z = g.z;
  t.rb = g.rb;
  t.ra = g.ra;
  t.rf = g.rf;
  t.baseAngle = g.halfAngle + Inv(g.alphat);
  t.fillet = kFilletFactor * g.mn;
  t.internal = g.internal;
  return t;
}

ToothGeometry WithFittingFillet(ToothGeometry t) {
  double rho = t.fillet;
  for (int i = 0; i < 60; ++i, rho *= 0.8) {
    if (UpperFillet(t, rho, 0).ok) {
      t.fillet = rho;
      return t;
    }
  }
  Throw(QZ::eCodeInvalidParameter,
        "the tooth space is too narrow at the root for these parameters");
}

TopoDS_Wire RepeatPitch(const std::vector<TopoDS_Edge>& pitchEdges, unsigned int count,
                        double pitch) {
  BRepBuilderAPI_MakeWire one;
  for (const auto& e : pitchEdges) one.Add(e);
  if (!one.IsDone()) Throw(QZ::eCodeFailure, "the tooth outline does not connect");
  const TopoDS_Wire pitchWire = one.Wire();
  BRepBuilderAPI_MakeWire all;
  for (unsigned int i = 0; i < count; ++i)
    all.Add(TopoDS::Wire(pitchWire.Moved(TopLoc_Location(RotationZ(pitch * i)))));
  if (!all.IsDone()) Throw(QZ::eCodeFailure, "the gear outline does not close");
  return all.Wire();
}

TopoDS_Wire OutlineOf(const ToothGeometry& geometry, unsigned int z, double height) {
  const ToothGeometry t = WithFittingFillet(geometry);
  return RepeatPitch(PitchEdges(t, height), z, 2 * kPi / t.z);
}

void CheckCommon(const char* element, unsigned int z, double mn, double b, double beta) {
  if (z < 3) Refuse(element, "a gear needs at least 3 teeth");
  if (z > 10000) Refuse(element, "more than 10000 teeth");
  NeedPositive(element, "mn", mn);
  NeedPositive(element, "b", b);
  NeedFinite(element, "beta", beta);
  if (std::fabs(beta) >= 89.0) Refuse(element, "the helix angle must be below 89 degrees");
}

// The rim of an internal gear: its outside radius from d, or root radius + 3 mn.
double RimRadius(const char* element, double d, double rootRadius, double mn) {
  NeedNotNegative(element, "d", d);
  if (d == 0.0) return rootRadius + 3 * mn;
  if (d / 2 <= rootRadius + kSizeTolerance)
    Refuse(element, "the outside diameter d must exceed the root diameter");
  return d / 2;
}

void CheckBore(const char* element, double d, double rootRadius) {
  NeedNotNegative(element, "d", d);
  if (d > 0 && d / 2 >= rootRadius - kSizeTolerance)
    Refuse(element, "the bore d must be below the root diameter");
}

// A toothed body with its end faces.
struct ToothedPiece {
  TopoDS_Shape solid;
  TopoDS_Face bottom, top;
};

// The end faces as the solid holds them (facing out of it).
ToothedPiece Oriented(ToothedPiece piece) {
  for (TopExp_Explorer e(piece.solid, TopAbs_FACE); e.More(); e.Next()) {
    if (e.Current().IsSame(piece.bottom)) piece.bottom = TopoDS::Face(e.Current());
    if (e.Current().IsSame(piece.top)) piece.top = TopoDS::Face(e.Current());
  }
  return piece;
}

ToothedPiece ToothedPieceOf(const TopoDS_Wire& outline, double b, double twistPerLength, double z0,
                            double twist0) {
  const double total = b * twistPerLength;
  auto section = [&](double along, double angle) {
    gp_Trsf t = RotationZ(angle);
    t.SetTranslationPart(gp_Vec(0, 0, along));
    return TopoDS::Wire(BRepBuilderAPI_Transform(outline, t, true).Shape());
  };
  ToothedPiece piece;
  if (std::fabs(total) < 1e-12) {
    BRepPrimAPI_MakePrism prism(FaceWithHoles(section(z0, twist0), {}, z0), gp_Vec(0, 0, b), true);
    if (!prism.IsDone()) Throw(QZ::eCodeFailure, "the extrusion failed");
    piece.solid = prism.Shape();
    piece.bottom = TopoDS::Face(prism.FirstShape());
    piece.top = TopoDS::Face(prism.LastShape());
    return Oriented(piece);
  }
  // Sections every 4 degrees of twist (at least three) follow the helix closely.
  const int count = std::max(3, static_cast<int>(std::ceil(std::fabs(total) / Radians(4.0))) + 1);
  BRepOffsetAPI_ThruSections loft(true, false, 1e-6);
  loft.CheckCompatibility(false);
  for (int i = 0; i < count; ++i) {
    const double f = static_cast<double>(i) / (count - 1);
    loft.AddWire(section(z0 + f * b, twist0 + f * total));
  }
  loft.Build();
  if (!loft.IsDone()) Throw(QZ::eCodeFailure, "the helical tooth surfaces could not be built");
  piece.solid = loft.Shape();
  piece.bottom = TopoDS::Face(loft.FirstShape());
  piece.top = TopoDS::Face(loft.LastShape());
  return Oriented(piece);
}

// A stretch of a toothed piece along z: width b from z0, its section turned by twist0 there and
// further by twistPerLength per unit of length.
struct Tier {
  double b = 0, twistPerLength = 0, z0 = 0, twist0 = 0;
};

// The edges of the faces that bound only one of them and lie in the plane at height z.
std::vector<TopoDS_Edge> FreeEdgesAt(const TopoDS_Shape& faces, double z) {
  TopTools_IndexedDataMapOfShapeListOfShape facesOf;
  TopExp::MapShapesAndAncestors(faces, TopAbs_EDGE, TopAbs_FACE, facesOf);
  std::vector<TopoDS_Edge> out;
  for (int i = 1; i <= facesOf.Extent(); ++i) {
    if (facesOf(i).Extent() != 1) continue;
    const TopoDS_Edge& e = TopoDS::Edge(facesOf.FindKey(i));
    if (BRep_Tool::Degenerated(e)) continue;
    BRepAdaptor_Curve c(e);
    bool on = true;
    for (int k = 0; k <= 4 && on; ++k)
      on = std::fabs(
               c.Value(c.FirstParameter() + (c.LastParameter() - c.FirstParameter()) * k / 4).Z() -
               z) < 1e-7;
    if (on) out.push_back(e);
  }
  return out;
}

// The faces of upper where they meet lower's in the plane at height z take lower's edges and
// vertices there in place of their own, so that the two share them (as a fused solid would):
// every free edge of upper in that plane must have a free edge of lower that runs through the
// same points with the same parameters, which then also carries upper's curve on its face. Null
// when the two ends do not match edge for edge.
TopoDS_Shape JoinedAt(const TopoDS_Shape& lower, const TopoDS_Shape& upper, double z) {
  const std::vector<TopoDS_Edge> below = FreeEdgesAt(lower, z), above = FreeEdgesAt(upper, z);
  if (below.empty() || below.size() != above.size()) return {};
  TopTools_IndexedDataMapOfShapeListOfShape facesOf;
  TopExp::MapShapesAndAncestors(upper, TopAbs_EDGE, TopAbs_FACE, facesOf);
  BRep_Builder builder;
  BRepTools_ReShape reshape;
  std::vector<bool> taken(below.size(), false);
  for (const TopoDS_Edge& mine : above) {
    double u0, u1;
    BRep_Tool::Range(mine, u0, u1);
    BRepAdaptor_Curve along(mine);
    size_t match = below.size();
    for (size_t i = 0; i < below.size() && match == below.size(); ++i) {
      if (taken[i]) continue;
      double l0, l1;
      BRep_Tool::Range(below[i], l0, l1);
      if (std::fabs(l0 - u0) > 1e-9 || std::fabs(l1 - u1) > 1e-9) continue;
      BRepAdaptor_Curve theirs(below[i]);
      bool same = true;
      for (int k = 0; k <= 16 && same; ++k) {
        const double t = u0 + (u1 - u0) * k / 16;
        same = along.Value(t).Distance(theirs.Value(t)) < 1e-7;
      }
      if (same) match = i;
    }
    if (match == below.size()) return {};
    taken[match] = true;
    const TopoDS_Edge& shared = below[match];
    const TopoDS_Face& face = TopoDS::Face(facesOf.FindFromKey(mine).First());
    double c0, c1;
    const Handle(Geom2d_Curve) onFace = BRep_Tool::CurveOnSurface(mine, face, c0, c1);
    if (onFace.IsNull() || std::fabs(c0 - u0) > 1e-9 || std::fabs(c1 - u1) > 1e-9) return {};
    const double tol = std::max(BRep_Tool::Tolerance(shared), BRep_Tool::Tolerance(mine));
    builder.UpdateEdge(shared, onFace, face, tol);
    TopoDS_Edge placed = shared;
    placed.Orientation(mine.Orientation());
    reshape.Replace(mine, placed);
    const TopoDS_Vertex ends[2][2] = {{TopExp::FirstVertex(mine), TopExp::LastVertex(mine)},
                                      {TopExp::FirstVertex(shared), TopExp::LastVertex(shared)}};
    for (int k = 0; k < 2; ++k) {
      const TopoDS_Vertex own = TopoDS::Vertex(ends[0][k].Oriented(TopAbs_FORWARD));
      const TopoDS_Vertex other = TopoDS::Vertex(ends[1][k].Oriented(TopAbs_FORWARD));
      if (own.IsSame(other) || reshape.IsRecorded(own)) continue;
      if (BRep_Tool::Pnt(own).Distance(BRep_Tool::Pnt(other)) > 1e-7) return {};
      builder.UpdateVertex(other, std::max(BRep_Tool::Tolerance(own), BRep_Tool::Tolerance(other)));
      reshape.Replace(own, other);
    }
  }
  return reshape.Apply(upper);
}

// One tier's loft of a pitch of the outline (side faces only) and its two edges along the helix
// that neighbouring pitches share.
struct PitchLoft {
  TopoDS_Shape shell;
  TopoDS_Edge first, last;  // along the helix at the pitch's start, and one pitch on
  TopoDS_Face lastFace;
  Handle(Geom2d_Curve) onLast;  // the last edge's curve on its face
  double tolerance = 0;         // what the first edge, turned, needs on the last face
  double step = 0;              // the pitch, signed as the wire runs
};

TopoDS_Shape LoftedPitch(const TopoDS_Wire& pitchWire, const Tier& tier) {
  const double total = tier.b * tier.twistPerLength;
  const int sections =
      std::max(3, static_cast<int>(std::ceil(std::fabs(total) / Radians(4.0))) + 1);
  BRepOffsetAPI_ThruSections loft(false, false, 1e-6);
  loft.CheckCompatibility(false);
  for (int i = 0; i < sections; ++i) {
    const double f = static_cast<double>(i) / (sections - 1);
    gp_Trsf t = RotationZ(tier.twist0 + f * total);
    t.SetTranslationPart(gp_Vec(0, 0, tier.z0 + f * tier.b));
    loft.AddWire(TopoDS::Wire(BRepBuilderAPI_Transform(pitchWire, t, true).Shape()));
  }
  loft.Build();
  if (!loft.IsDone()) return {};
  return loft.Shape();
}

// Finds the tier's edges along the helix (see PitchLoft) in its loft; false when they are not
// there as the repetition needs them.
bool HelixEdgesOf(PitchLoft& l, const Tier& tier, double startAngle, double pitch) {
  TopTools_IndexedDataMapOfShapeListOfShape facesOf;
  TopExp::MapShapesAndAncestors(l.shell, TopAbs_EDGE, TopAbs_FACE, facesOf);
  l.step = pitch;
  for (int i = 1; i <= facesOf.Extent(); ++i) {
    if (facesOf(i).Extent() != 1) continue;
    const TopoDS_Edge& e = TopoDS::Edge(facesOf.FindKey(i));
    const gp_Pnt a = BRep_Tool::Pnt(TopExp::FirstVertex(e)),
                 c = BRep_Tool::Pnt(TopExp::LastVertex(e));
    if (std::fabs(a.Z() - c.Z()) < tier.b / 2) continue;  // at an end
    const gp_Pnt low = a.Z() < c.Z() ? a : c;
    double d = std::remainder(std::atan2(low.Y(), low.X()) - startAngle, 2 * kPi);
    if (std::fabs(d) < 1e-6) {
      l.first = e;
    } else if (std::fabs(std::fabs(d) - pitch) < 1e-6) {  // the wire may run either way
      l.last = e;
      l.lastFace = TopoDS::Face(facesOf(i).First());
      l.step = d > 0 ? pitch : -pitch;
    }
  }
  if (l.first.IsNull() || l.last.IsNull()) return false;
  // Both run with the sections' parameter; the turned first edge takes the last one's place.
  double f0, f1, l0, l1;
  BRep_Tool::Range(l.first, f0, f1);
  BRep_Tool::Range(l.last, l0, l1);
  if (std::fabs(f0 - l0) > 1e-9 || std::fabs(f1 - l1) > 1e-9) return false;
  const bool sameWay = (BRep_Tool::Pnt(TopExp::FirstVertex(l.first)).Z() <
                        BRep_Tool::Pnt(TopExp::LastVertex(l.first)).Z()) ==
                       (BRep_Tool::Pnt(TopExp::FirstVertex(l.last)).Z() <
                        BRep_Tool::Pnt(TopExp::LastVertex(l.last)).Z());
  if (!sameWay) return false;
  double c0, c1;
  l.onLast = BRep_Tool::CurveOnSurface(l.last, l.lastFace, c0, c1);
  if (l.onLast.IsNull()) return false;
  // How far the turned edge runs from the last face's surface along its curve there.
  const TopLoc_Location unit(RotationZ(pitch));
  const TopLoc_Location turn = l.step > 0 ? unit : unit.Inverted();
  BRepAdaptor_Curve along(TopoDS::Edge(l.first.Moved(turn)));
  BRepAdaptor_Surface surface(l.lastFace, false);
  double gap = 0;
  for (int i = 0; i <= 16; ++i) {
    const double u = c0 + (c1 - c0) * i / 16;
    const gp_Pnt2d uv = l.onLast->Value(u);
    gap = std::max(gap, along.Value(u).Distance(surface.Value(uv.X(), uv.Y())));
  }
  if (gap > 1e-5) return false;
  l.tolerance = std::max(BRep_Tool::Tolerance(l.last), gap * 1.5);
  return true;
}

// The lateral faces of a toothed piece from the loft of one pitch (one or more tiers, see
// PitchLoft) repeated count times about the axis, with planar end faces at z0 and z1 bounded by
// the pitches' free edges there; shortest: the least extent of a tier along z.
ToothedPiece PatternOf(const std::vector<PitchLoft>& lofts, unsigned count, double pitch, double z0,
                       double z1, double shortest) {
  const double step = lofts.front().step;
  // Every placement a power of the one turn, so that the kernel finds the shared edges and
  // vertices of neighbouring pitches the same.
  const TopLoc_Location unit(RotationZ(pitch));
  const TopLoc_Location turn = step > 0 ? unit : unit.Inverted();
  BRep_Builder b2;
  TopoDS_Compound shells;
  b2.MakeCompound(shells);
  for (const auto& l : lofts) b2.Add(shells, l.shell);
  // The pitch with the last edge of each tier the first one placed at `at` (a turn by one pitch).
  auto joinedAt = [&](const TopLoc_Location& at) {
    BRepTools_ReShape reshape;
    for (const auto& l : lofts) {
      TopoDS_Edge shared = TopoDS::Edge(l.first.Moved(at));
      shared.Orientation(l.last.Orientation());
      b2.UpdateEdge(shared, l.onLast, l.lastFace, l.tolerance);
      reshape.Replace(l.last, shared);
      const TopoDS_Vertex pairs[2][2] = {{TopExp::FirstVertex(l.last), TopExp::FirstVertex(shared)},
                                         {TopExp::LastVertex(l.last), TopExp::LastVertex(shared)}};
      for (const auto& pair : pairs) {
        const TopoDS_Shape own = pair[0].Oriented(TopAbs_FORWARD);
        if (!reshape.IsRecorded(own)) reshape.Replace(own, pair[1].Oriented(TopAbs_FORWARD));
      }
    }
    return reshape.Apply(shells);
  };
  const TopoDS_Shape joined = joinedAt(turn);
  // The pitch that closes the turn meets the first pitch's first edge where it is (the kernel
  // does not take a full turn for no turn).
  const int sign = step > 0 ? 1 : -1, closing = step > 0 ? static_cast<int>(count) - 1 : 0;
  const TopoDS_Shape closer = joinedAt(unit.Powered(sign * (1 - static_cast<int>(count))));
  // Facing out of the body the outline bounds: the outermost face looks away from the axis.
  double farthest = -1;
  bool reversed = false;
  for (TopExp_Explorer e(joined, TopAbs_FACE); e.More(); e.Next()) {
    const TopoDS_Face& f = TopoDS::Face(e.Current());
    BRepAdaptor_Surface sf(f);
    const double u = (sf.FirstUParameter() + sf.LastUParameter()) / 2,
                 v = (sf.FirstVParameter() + sf.LastVParameter()) / 2;
    gp_Pnt p;
    gp_Vec du, dv;
    sf.D1(u, v, p, du, dv);
    const double rho = std::hypot(p.X(), p.Y());
    if (rho <= farthest) continue;
    farthest = rho;
    gp_Vec n = du.Crossed(dv);
    if (f.Orientation() == TopAbs_REVERSED) n.Reverse();
    reversed = n.X() * p.X() + n.Y() * p.Y() < 0;
  }
  TopoDS_Compound sides;
  b2.MakeCompound(sides);
  TopoDS_Wire bottom, top;
  b2.MakeWire(bottom);
  b2.MakeWire(top);
  for (unsigned i = 0; i < count; ++i) {
    const TopoDS_Shape placed =
        (static_cast<int>(i) == closing ? closer : joined).Moved(unit.Powered(static_cast<int>(i)));
    for (TopExp_Explorer e(placed, TopAbs_FACE); e.More(); e.Next())
      b2.Add(sides, reversed ? e.Current().Reversed() : e.Current());
    TopTools_IndexedDataMapOfShapeListOfShape faces;
    TopExp::MapShapesAndAncestors(placed, TopAbs_EDGE, TopAbs_FACE, faces);
    for (int k = 1; k <= faces.Extent(); ++k) {
      if (faces(k).Extent() != 1) continue;
      const TopoDS_Edge& e = TopoDS::Edge(faces.FindKey(k));
      const gp_Pnt a = BRep_Tool::Pnt(TopExp::FirstVertex(e)),
                   c = BRep_Tool::Pnt(TopExp::LastVertex(e));
      if (std::fabs(a.Z() - c.Z()) > shortest / 2) continue;
      b2.Add(a.Z() < (z0 + z1) / 2 ? bottom : top, e);
    }
  }
  bottom.Closed(true);
  top.Closed(true);
  ToothedPiece piece;
  piece.bottom = PlanarFace(CounterClockwise(bottom), {}, z0, false);
  piece.top = PlanarFace(CounterClockwise(top), {}, z1, true);
  b2.Add(sides, piece.bottom);
  b2.Add(sides, piece.top);
  piece.solid = sides;
  return piece;
}

// The lateral faces of a helical toothed piece lofted through one pitch of the outline (an open
// wire from a point to the same point turned by `pitch`) and repeated `count` times about the
// axis: every pitch the very faces of the first, placed by a rotation. The lofted pitch's last
// edge along the helix is replaced by its first turned by one pitch (it runs through the same
// sections' points), so that neighbouring pitches share it. Tiers one on the other (the halves
// of a double helical gear without a gap) are lofted each and share the edges where they meet.
// Null when the loft does not lend itself to that (the caller lofts the whole outline then).
ToothedPiece PatternedPiece(const TopoDS_Wire& pitchWire, unsigned count, double pitch,
                            const std::vector<Tier>& tiers) {
  if (tiers.empty()) return {};
  const double z0 = tiers.front().z0, z1 = tiers.back().z0 + tiers.back().b;
  double shortest = tiers.front().b;
  for (const auto& t : tiers) shortest = std::min(shortest, t.b);
  const gp_Pnt origin =
      BRep_Tool::Pnt(TopExp::FirstVertex(BRepTools_WireExplorer(pitchWire).Current(), true));
  std::vector<PitchLoft> lofts;
  for (const Tier& tier : tiers) {
    PitchLoft l;
    l.shell = LoftedPitch(pitchWire, tier);
    if (l.shell.IsNull()) return {};
    if (!lofts.empty()) {
      l.shell = JoinedAt(lofts.back().shell, l.shell, tier.z0);
      if (l.shell.IsNull()) return {};
    }
    const double startAngle = std::atan2(origin.Y(), origin.X()) + tier.twist0;
    if (!HelixEdgesOf(l, tier, startAngle, pitch)) return {};
    if (!lofts.empty() && l.step != lofts.front().step) return {};
    lofts.push_back(l);
  }
  return PatternOf(lofts, count, pitch, z0, z1, shortest);
}

// Toothed body of one or two helical halves with an optional gap between them.
struct Halves {
  double b = 0;          // face width
  double gap = 0;        // width of the gap (double helical)
  double gapRadius = 0;  // radius of the gap's core (external) or hole (internal)
  bool two = false;      // double helical
  double twistPerLength = 0;
  bool gapClear = false;   // the gap's cylinder keeps clear of the outline
  bool rootedGap = false;  // the gap's cylinder is the root cylinder (its arcs in the outline)
  TopoDS_Wire pitchWire;   // one pitch of the outline (open), repeated `teeth` times; or null
  unsigned teeth = 0;
};

TopoDS_Shape HelicalPieces(const TopoDS_Wire& outline, const Halves& h, bool internal) {
  if (!h.two) return ToothedBody(outline, h.b, h.twistPerLength);
  const double half = (h.b - h.gap) / 2;
  const double turned = half * h.twistPerLength;
  std::vector<TopoDS_Shape> pieces;
  pieces.push_back(ToothedBody(outline, half, h.twistPerLength));
  if (h.gap > kSizeTolerance) pieces.push_back(CylinderZ(h.gapRadius, half, half + h.gap));
  pieces.push_back(ToothedBody(outline, half, -h.twistPerLength, half + h.gap, turned));
  if (internal) return Compound(pieces);
  return SingleSolid(FuseAll(pieces), "gear");
}

// The faces of a gear put together directly from its toothed pieces (see SolidOfFaces): the
// side faces of the lofts as they are, their end faces replaced by faces on the same planes
// that reach the bore, the rim or the gap's cylinder, and those cylinders' sides. This gives the
// solid that cutting and fusing the pieces gives, without intersecting the lofted faces with
// each other and with the planes they end on (which takes the boolean seconds).
struct Assembly {
  std::vector<TopoDS_Face> faces;

  // The piece's side faces (turned inside out for the space of an internal gear).
  void AddSides(const ToothedPiece& p, bool reversed) {
    for (TopExp_Explorer e(p.solid, TopAbs_FACE); e.More(); e.Next()) {
      const TopoDS_Face& f = TopoDS::Face(e.Current());
      if (f.IsSame(p.bottom) || f.IsSame(p.top)) continue;
      faces.push_back(reversed ? TopoDS::Face(f.Reversed()) : f);
    }
  }
  // A face on the plane of the piece's end face, facing the same way, bounded by outer with
  // holes (counter-clockwise seen from +z): the piece's outline and the bore, rim or gap circle,
  // or one tooth of a bevel gear's outer end.
  void AddEnd(const TopoDS_Face& end, const TopoDS_Wire& outer,
              const std::vector<TopoDS_Wire>& holes) {
    const TopoDS_Wire own = BRepTools::OuterWire(end);
    const bool up = CounterClockwise(own).Orientation() == own.Orientation();
    TopoDS_Face f = TopoDS::Face(end.EmptyCopied());
    BRep_Builder builder;
    builder.Add(f, up ? outer : TopoDS::Wire(outer.Reversed()));
    for (const auto& hole : holes) builder.Add(f, up ? TopoDS::Wire(hole.Reversed()) : hole);
    faces.push_back(f);
  }
  void Add(const TopoDS_Face& f, bool reversed = false) {
    faces.push_back(reversed ? TopoDS::Face(f.Reversed()) : f);
  }
};

// The outline of a piece's end face, counter-clockwise seen from +z.
TopoDS_Wire EndOutline(const TopoDS_Face& end) {
  return CounterClockwise(BRepTools::OuterWire(end));
}

// The gap of a double helical gear whose core (external) or hole (internal) is the root
// cylinder: the cylinder runs on from the root faces of both halves, so their root arcs bound it,
// and each half ends at the gap in a face per tooth, bounded by the outline from one root arc to
// the next and by the arc of the root circle under the tooth (which the cylinder shares).
struct RootedEnd {
  std::vector<TopoDS_Edge> circle;  // counter-clockwise from the seam's vertex: root arcs and
                                    // the arcs under the teeth (whose curves run with u)
  std::vector<bool> own;            // which of circle are the arcs under the teeth
  std::vector<TopoDS_Wire> teeth;   // counter-clockwise seen from +z
  TopoDS_Vertex seam;
};

double AngleOfPoint(const gp_Pnt& p) { return std::atan2(p.Y(), p.X()); }

// Whether the edge runs along the circle of radius r about the axis (the lofts' end edges are
// splines: it is judged by points along it).
bool OnRootCircle(const TopoDS_Edge& e, double r) {
  BRepAdaptor_Curve c(e);
  for (int i = 0; i <= 8; ++i) {
    const gp_Pnt p = c.Value(c.FirstParameter() + (c.LastParameter() - c.FirstParameter()) * i / 8);
    if (std::fabs(std::hypot(p.X(), p.Y()) - r) > 1e-7) return false;
  }
  return true;
}

// The end's outline split at the root circle of radius r (at height z), the seam at the start of
// the root arc that begins at angle seamAngle (or, when that is not given, at the first root
// arc's start). Empty when the outline has no arcs of that circle.
RootedEnd RootedEndOf(const TopoDS_Face& end, double r, double z, const double* seamAngle) {
  std::vector<TopoDS_Edge> edges;
  for (BRepTools_WireExplorer e(EndOutline(end)); e.More(); e.Next()) edges.push_back(e.Current());
  const size_t n = edges.size();
  if (n < 2) return {};
  // Counter-clockwise and chained, as the explorer gives them.
  double area = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!TopExp::LastVertex(edges[i], true).IsSame(TopExp::FirstVertex(edges[(i + 1) % n], true)))
      return {};
    const gp_Pnt a = BRep_Tool::Pnt(TopExp::FirstVertex(edges[i], true)),
                 b = BRep_Tool::Pnt(TopExp::LastVertex(edges[i], true));
    area += a.X() * b.Y() - b.X() * a.Y();
  }
  if (area <= 0) return {};
  std::vector<bool> root(n);
  for (size_t i = 0; i < n; ++i) root[i] = OnRootCircle(edges[i], r);
  size_t start = n;
  for (size_t i = 0; i < n && start == n; ++i) {
    if (!root[i]) continue;
    const double a = AngleOfPoint(BRep_Tool::Pnt(TopExp::FirstVertex(edges[i], true)));
    if (!seamAngle || std::fabs(std::remainder(a - *seamAngle, 2 * kPi)) < 1e-9) start = i;
  }
  if (start == n) return {};
  RootedEnd out;
  out.seam = TopExp::FirstVertex(edges[start], true);
  const double seam = AngleOfPoint(BRep_Tool::Pnt(out.seam));
  const Handle(Geom_Circle) circle = new Geom_Circle(
      gp_Ax2(gp_Pnt(0, 0, z), gp::DZ(), gp_Dir(std::cos(seam), std::sin(seam), 0)), r);
  // u of a point on the circle, counter-clockwise from the seam.
  auto uOf = [&](const TopoDS_Vertex& v) {
    double u = std::remainder(AngleOfPoint(BRep_Tool::Pnt(v)) - seam, 2 * kPi);
    if (u < -1e-9) u += 2 * kPi;
    return std::max(u, 0.0);
  };
  BRep_Builder builder;
  for (size_t k = 0; k < n;) {
    const size_t i = (start + k) % n;
    if (root[i]) {
      out.circle.push_back(edges[i]);
      out.own.push_back(false);
      ++k;
      continue;
    }
    // The tooth from the end of the root arc before to the start of the next.
    TopoDS_Wire tooth;
    builder.MakeWire(tooth);
    const TopoDS_Vertex from = TopExp::FirstVertex(edges[i], true);
    TopoDS_Vertex to;
    for (; k < n && !root[(start + k) % n]; ++k) {
      builder.Add(tooth, edges[(start + k) % n]);
      to = TopExp::LastVertex(edges[(start + k) % n], true);
    }
    const double u0 = uOf(from);
    double u1 = uOf(to);
    if (u1 <= u0 + 1e-9) u1 += 2 * kPi;  // the last tooth ends at the seam
    BRepBuilderAPI_MakeEdge make(circle, from, to, u0, u1);
    if (!make.IsDone()) return {};
    const TopoDS_Edge under = make.Edge();
    builder.Add(tooth, under.Reversed());
    tooth.Closed(true);
    out.teeth.push_back(CounterClockwise(tooth));
    out.circle.push_back(under);
    out.own.push_back(true);
  }
  return out;
}

// The pcurve on the cylinder (u from the seam, v = z) of a circle edge of the end at z, run
// counter-clockwise (own: an arc under a tooth, its parameter u); null when it cannot be had.
// A root arc's spline is followed by a curve through its points' angles; tolerance grows to the
// largest distance found between the two.
Handle(Geom2d_Curve)
    OnCylinder(const TopoDS_Edge& e, bool own, double seam, double r, double z, double& tolerance) {
  if (own) return new Geom2d_Line(gp_Pnt2d(0, z), gp_Dir2d(1, 0));
  BRepAdaptor_Curve c(e);
  const double t0 = c.FirstParameter(), t1 = c.LastParameter();
  constexpr int kPoints = 33;
  Handle(TColgp_HArray1OfPnt2d) pts = new TColgp_HArray1OfPnt2d(1, kPoints);
  Handle(TColStd_HArray1OfReal) pars = new TColStd_HArray1OfReal(1, kPoints);
  std::vector<double> u(kPoints);
  for (int i = 0; i < kPoints; ++i) {
    const double a = AngleOfPoint(c.Value(t0 + (t1 - t0) * i / (kPoints - 1)));
    u[i] = i == 0 ? a : u[i - 1] + std::remainder(a - u[i - 1], 2 * kPi);
  }
  // Counter-clockwise the arc starts where its angle is least: there u is its angle from the
  // seam, in [0, 2 pi).
  const double least = std::min(u.front(), u.back());
  double start = std::remainder(least - seam, 2 * kPi);
  if (start < -1e-9) start += 2 * kPi;
  start = std::max(start, 0.0);
  for (int i = 0; i < kPoints; ++i) {
    pts->SetValue(i + 1, gp_Pnt2d(u[i] - least + start, z));
    pars->SetValue(i + 1, t0 + (t1 - t0) * i / (kPoints - 1));
  }
  Geom2dAPI_Interpolate interp(pts, pars, false, 1e-12);
  interp.Perform();
  if (!interp.IsDone()) return {};
  const Handle(Geom2d_Curve) curve = Handle(Geom2d_Curve)(interp.Curve());
  for (int i = 0; i < 4 * kPoints; ++i) {
    const double t = t0 + (t1 - t0) * (i + 0.5) / (4 * kPoints);
    const gp_Pnt2d uv = curve->Value(t);
    const gp_Pnt on(r * std::cos(seam + uv.X()), r * std::sin(seam + uv.X()), uv.Y());
    tolerance = std::max(tolerance, 1.5 * on.Distance(c.Value(t)));
  }
  return curve;
}

// The root cylinder of radius r from z0 to z1 bounded by both ends' circles (facing away from
// the axis), its seam through both ends' seam vertices.
TopoDS_Face RootCylinder(const RootedEnd& low, const RootedEnd& high, double r, double z0,
                         double z1) {
  const double seam = AngleOfPoint(BRep_Tool::Pnt(low.seam));
  const gp_Dir x(std::cos(seam), std::sin(seam), 0);
  const Handle(Geom_CylindricalSurface) surface =
      new Geom_CylindricalSurface(gp_Ax3(gp::Origin(), gp::DZ(), x), r);
  BRep_Builder builder;
  TopoDS_Face face;
  builder.MakeFace(face, surface, Precision::Confusion());
  // The edges' pcurves on the cylinder (none of the edges is on it yet).
  const auto onCylinder = [&](const TopoDS_Edge& e, bool own, double z) {
    double tolerance = BRep_Tool::Tolerance(e);
    const Handle(Geom2d_Curve) pcurve = OnCylinder(e, own, seam, r, z, tolerance);
    if (pcurve.IsNull() || tolerance > 1e-5) return false;
    builder.UpdateEdge(e, pcurve, face, tolerance);
    return true;
  };
  TopoDS_Wire w;
  builder.MakeWire(w);
  for (size_t i = 0; i < low.circle.size(); ++i) {
    if (!onCylinder(low.circle[i], low.own[i], z0)) return {};
    builder.Add(w, low.circle[i]);
  }
  const Handle(Geom_Line) line = new Geom_Line(gp_Pnt(r * x.X(), r * x.Y(), 0), gp::DZ());
  BRepBuilderAPI_MakeEdge make(line, low.seam, high.seam, z0, z1);
  if (!make.IsDone()) return {};
  const TopoDS_Edge seamEdge = make.Edge();
  // Run upwards at u = 2 pi, downwards at u = 0.
  builder.UpdateEdge(seamEdge, new Geom2d_Line(gp_Pnt2d(2 * kPi, 0), gp_Dir2d(0, 1)),
                     new Geom2d_Line(gp_Pnt2d(0, 0), gp_Dir2d(0, 1)), face,
                     BRep_Tool::Tolerance(seamEdge));
  builder.Add(w, seamEdge);
  for (size_t i = high.circle.size(); i-- > 0;) {
    if (!onCylinder(high.circle[i], high.own[i], z1)) return {};
    builder.Add(w, high.circle[i].Reversed());
  }
  builder.Add(w, seamEdge.Reversed());
  w.Closed(true);
  builder.Add(face, w);
  return face;
}

// The rooted gap's faces (see RootedEnd) between the ends low (facing up, at z0) and high
// (facing down, at z1); false when the ends' outlines do not run along the root circle.
bool AddRootedGap(Assembly& a, const TopoDS_Face& low, const TopoDS_Face& high, double r, double z0,
                  double z1, bool internal) {
  const RootedEnd l = RootedEndOf(low, r, z0, nullptr);
  if (l.circle.empty()) return false;
  const double seam = AngleOfPoint(BRep_Tool::Pnt(l.seam));
  const RootedEnd u = RootedEndOf(high, r, z1, &seam);
  if (u.circle.empty() || u.teeth.size() != l.teeth.size()) return false;
  const TopoDS_Face cylinder = RootCylinder(l, u, r, z0, z1);
  if (cylinder.IsNull()) return false;
  const size_t first = a.faces.size();
  a.Add(cylinder, internal);
  for (const auto& t : l.teeth) a.AddEnd(low, t, {});
  for (const auto& t : u.teeth) a.AddEnd(high, t, {});
  BRep_Builder builder;
  TopoDS_Compound made;
  builder.MakeCompound(made);
  for (size_t i = first; i < a.faces.size(); ++i) builder.Add(made, a.faces[i]);
  return BRepCheck_Analyzer(made).IsValid();
}

// Whether the circle of radius r about the axis at z = 0 keeps clear of the outline there (by
// more than margin), outside it (outside) or inside it. (A profile's straight edges come closer
// to the axis than their ends, its spline runs beyond its points.)
bool CircleClears(const TopoDS_Wire& outline, double r, bool outside, double margin) {
  const TopoDS_Edge circle = BRepBuilderAPI_MakeEdge(gp_Circ(gp_Ax2(gp_Pnt(0, 0, 0), gp::DZ()), r));
  BRepExtrema_DistShapeShape distance(circle, outline);
  if (!distance.IsDone() || distance.Value() <= margin) return false;
  TopExp_Explorer v(outline, TopAbs_VERTEX);
  if (!v.More()) return false;
  const gp_Pnt p = BRep_Tool::Pnt(TopoDS::Vertex(v.Current()));
  return outside == (std::hypot(p.X(), p.Y()) < r);
}

// Whether the gap's cylinder clears the outline (a core that touches the roots, or a gap of no
// width, leaves faces to be merged and split: those gears are cut and fused).
constexpr double kGapMargin = 1e-3;
bool GapClear(const Halves& h) { return !h.two || (h.gap > kSizeTolerance && h.gapClear); }

// One or two toothed pieces of the halves: the lower from z = 0, the upper ending at b.
ToothedPiece PieceOf(const TopoDS_Wire& outline, const Halves& h, double b, double twistPerLength,
                     double z0, double twist0) {
  if (!h.pitchWire.IsNull() && std::fabs(b * twistPerLength) > 1e-12) {
    ToothedPiece p = PatternedPiece(h.pitchWire, h.teeth, 2 * kPi / h.teeth,
                                    {Tier{b, twistPerLength, z0, twist0}});
    if (!p.solid.IsNull()) return p;
  }
  return ToothedPieceOf(outline, b, twistPerLength, z0, twist0);
}

// The halves of a double helical gear without a gap as one toothed piece: where they meet at the
// middle plane, the upper half's side faces share the lower half's edges (the outline there is
// the same: the lower half's twist is where the upper half's starts). Null when they do not
// meet edge for edge.
ToothedPiece JoinedHalves(const TopoDS_Wire& outline, const Halves& h) {
  const double half = h.b / 2;
  if (!h.pitchWire.IsNull() && std::fabs(half * h.twistPerLength) > 1e-12) {
    ToothedPiece p = PatternedPiece(h.pitchWire, h.teeth, 2 * kPi / h.teeth,
                                    {Tier{half, h.twistPerLength, 0, 0},
                                     Tier{half, -h.twistPerLength, half, half * h.twistPerLength}});
    if (!p.solid.IsNull()) return p;
  }
  const ToothedPiece lower = ToothedPieceOf(outline, half, h.twistPerLength, 0, 0);
  const ToothedPiece upper =
      ToothedPieceOf(outline, half, -h.twistPerLength, half, half * h.twistPerLength);
  BRep_Builder builder;
  auto allBut = [&](const ToothedPiece& piece, const TopoDS_Face& end) {
    TopoDS_Compound c;
    builder.MakeCompound(c);
    for (TopExp_Explorer e(piece.solid, TopAbs_FACE); e.More(); e.Next())
      if (!e.Current().IsSame(end)) builder.Add(c, e.Current());
    return c;
  };
  const TopoDS_Compound below = allBut(lower, lower.top);
  const TopoDS_Shape above = JoinedAt(below, allBut(upper, upper.bottom), half);
  if (above.IsNull()) return {};
  ToothedPiece joined;
  joined.bottom = lower.bottom;
  for (TopExp_Explorer e(above, TopAbs_FACE); e.More(); e.Next())
    if (e.Current().IsSame(upper.top)) joined.top = TopoDS::Face(e.Current());
  if (joined.top.IsNull()) return {};
  TopoDS_Compound all;
  builder.MakeCompound(all);
  builder.Add(all, below);
  builder.Add(all, above);
  joined.solid = all;
  return joined;
}

// The toothed pieces of the halves: one (a single helix, or two halves without a gap joined at
// the middle) or two, the lower from z = 0, the upper ending at b. None when the halves without
// a gap do not join.
std::vector<ToothedPiece> PiecesOf(const TopoDS_Wire& outline, const Halves& h) {
  if (!h.two) return {PieceOf(outline, h, h.b, h.twistPerLength, 0, 0)};
  if (h.gap == 0) {
    ToothedPiece joined = JoinedHalves(outline, h);
    if (joined.solid.IsNull()) return {};
    return {joined};
  }
  const double half = (h.b - h.gap) / 2;
  return {PieceOf(outline, h, half, h.twistPerLength, 0, 0),
          PieceOf(outline, h, half, -h.twistPerLength, half + h.gap, half * h.twistPerLength)};
}

TopoDS_Shape AssembledExternal(const TopoDS_Wire& outline, double bore, const Halves& h) {
  const std::vector<ToothedPiece> p = PiecesOf(outline, h);
  if (p.empty()) return {};
  const ToothedPiece &lower = p.front(), &upper = p.back();
  Assembly a;
  std::vector<TopoDS_Wire> bottomHoles, topHoles;
  if (bore > 0) {
    const CylinderBand hole = CylinderBandZ(bore / 2, 0, h.b);
    a.Add(hole.face, true);
    bottomHoles.push_back(hole.bottom);
    topHoles.push_back(hole.top);
  }
  for (const auto& piece : p) a.AddSides(piece, false);
  a.AddEnd(lower.bottom, EndOutline(lower.bottom), bottomHoles);
  a.AddEnd(upper.top, EndOutline(upper.top), topHoles);
  if (p.size() == 2 && !GapClear(h)) {
    const double half = (h.b - h.gap) / 2;
    if (!AddRootedGap(a, lower.top, upper.bottom, h.gapRadius, half, half + h.gap, false))
      return {};
  } else if (p.size() == 2) {
    const double half = (h.b - h.gap) / 2;
    const CylinderBand core = CylinderBandZ(h.gapRadius, half, half + h.gap);
    a.Add(core.face);
    a.AddEnd(lower.top, EndOutline(lower.top), {core.bottom});
    a.AddEnd(upper.bottom, EndOutline(upper.bottom), {core.top});
  }
  return SolidOfFaces(a.faces);
}

TopoDS_Shape AssembledInternal(const TopoDS_Wire& outline, double rim, const Halves& h) {
  const std::vector<ToothedPiece> p = PiecesOf(outline, h);
  if (p.empty()) return {};
  const ToothedPiece &lower = p.front(), &upper = p.back();
  Assembly a;
  const CylinderBand outside = CylinderBandZ(rim, 0, h.b);
  a.Add(outside.face);
  for (const auto& piece : p) a.AddSides(piece, true);
  a.AddEnd(lower.bottom, outside.bottom, {EndOutline(lower.bottom)});
  a.AddEnd(upper.top, outside.top, {EndOutline(upper.top)});
  if (p.size() == 2 && !GapClear(h)) {
    const double half = (h.b - h.gap) / 2;
    if (!AddRootedGap(a, lower.top, upper.bottom, h.gapRadius, half, half + h.gap, true)) return {};
  } else if (p.size() == 2) {
    const double half = (h.b - h.gap) / 2;
    const CylinderBand hole = CylinderBandZ(h.gapRadius, half, half + h.gap);
    a.Add(hole.face, true);
    a.AddEnd(lower.top, hole.bottom, {EndOutline(lower.top)});
    a.AddEnd(upper.bottom, hole.top, {EndOutline(upper.bottom)});
  }
  return SolidOfFaces(a.faces);
}

// Whether a gear with its gap at the roots, or with halves joined without a gap, came out whole:
// the gap's new faces (the cylinder and the teeth's ends, see AddRootedGap) valid, and every edge
// of the shell bounding one face forwards and one backwards (the lofts' faces are those of the
// gears with a clear gap). Should some outline not lend itself to the construction, the gear is
// cut and fused as before rather than refused.
bool RootedValid(const TopoDS_Shape& s);

// The gear with its gap at the roots put together by build, or null when it does not come out
// whole (or the kernel fails on the way).
template <class F>
TopoDS_Shape RootedOrNull(F&& build) {
  try {
    const TopoDS_Shape s = build();
    return RootedValid(s) ? s : TopoDS_Shape();
  } catch (const Standard_Failure&) {
    return {};
  }
}

bool RootedValid(const TopoDS_Shape& s) {
  if (s.IsNull()) return false;
  TopTools_IndexedMapOfShape edges;
  TopExp::MapShapes(s, TopAbs_EDGE, edges);
  std::vector<int> forwards(edges.Extent() + 1), backwards(edges.Extent() + 1);
  for (TopExp_Explorer f(s, TopAbs_FACE); f.More(); f.Next())
    for (TopExp_Explorer e(f.Current(), TopAbs_EDGE); e.More(); e.Next())
      ++(e.Current().Orientation() == TopAbs_FORWARD ? forwards
                                                     : backwards)[edges.FindIndex(e.Current())];
  for (int i = 1; i <= edges.Extent(); ++i)
    if (forwards[i] != 1 || backwards[i] != 1) return false;
  return true;
}

// Says the construction is proven (see ConstructionProven) when the outline is (an involute
// gear's, from checked sizes; a profile's points are the user's) and returns s.
TopoDS_Shape Proven(bool outlineProven, const TopoDS_Shape& s) {
  if (outlineProven) ConstructionProven();
  return s;
}

// The gear's solid; outlineProven: the outline is one the geometry tests prove (an involute
// gear's), so that prisms and assemblies of it need no analysis (the booleans still get one).
TopoDS_Shape ExternalGearSolid(const char* element, const TopoDS_Wire& outline, double bore,
                               const Halves& h, bool outlineProven) {
  if (!h.two && std::fabs(h.twistPerLength) < 1e-12) {
    std::vector<TopoDS_Wire> holes;
    if (bore > 0) holes.push_back(CircleWire(bore / 2));
    return Proven(outlineProven, Prism(FaceWithHoles(outline, holes), h.b));
  }
  if (GapClear(h)) return Proven(outlineProven, AssembledExternal(outline, bore, h));
  if (h.rootedGap || h.gap == 0) {
    const TopoDS_Shape s = RootedOrNull([&] { return AssembledExternal(outline, bore, h); });
    if (!s.IsNull()) return Proven(outlineProven, s);
  }
  TopoDS_Shape body = HelicalPieces(outline, h, false);
  if (bore > 0) body = Cut(body, CylinderZ(bore / 2, -1, h.b + 1));
  return SingleSolid(body, element);
}

TopoDS_Shape InternalGearSolid(const char* element, const TopoDS_Wire& outline, double rim,
                               const Halves& h, bool outlineProven) {
  if (!h.two && std::fabs(h.twistPerLength) < 1e-12)
    return Proven(outlineProven, Prism(FaceWithHoles(CircleWire(rim), {outline}), h.b));
  if (GapClear(h)) return Proven(outlineProven, AssembledInternal(outline, rim, h));
  if (h.rootedGap || h.gap == 0) {
    const TopoDS_Shape s = RootedOrNull([&] { return AssembledInternal(outline, rim, h); });
    if (!s.IsNull()) return Proven(outlineProven, s);
  }
  const TopoDS_Shape spaces = HelicalPieces(outline, h, true);
  std::vector<TopoDS_Shape> tools;
  for (TopExp_Explorer e(spaces, TopAbs_SOLID); e.More(); e.Next()) tools.push_back(e.Current());
  return SingleSolid(CutAll(CylinderZ(rim, 0, h.b), tools), element);
}

}  // namespace

InvoluteGear MakeInvoluteGear(const char* element, unsigned int z, double mn, double alphaDeg,
                              double betaDeg, double k, double x, bool internal) {
  CheckCommon(element, z, mn, 1.0, betaDeg);
  NeedFinite(element, "alpha", alphaDeg);
  if (alphaDeg <= 0.0 || alphaDeg >= 45.0)
    Refuse(element, "the pressure angle must lie between 0 and 45 degrees");
  NeedFinite(element, "k", k);
  NeedFinite(element, "x", x);
  InvoluteGear g;
  g.z = z;
  g.mn = mn;
  g.alpha = Radians(alphaDeg);
  g.beta = Radians(betaDeg);
  g.k = k;
  g.x = x;
  g.internal = internal;
  g.mt = mn / std::cos(g.beta);
  g.alphat = std::atan(std::tan(g.alpha) / std::cos(g.beta));
  g.r = z * g.mt / 2;
  g.rb = g.r * std::cos(g.alphat);
  const double s = g.mt * (kPi / 2 + 2 * x * std::tan(g.alpha));
  g.halfAngle = s / (2 * g.r);
  if (!internal) {
    g.ra = g.r + mn * (1 + x - k);
    g.rf = g.r - mn * (1.25 - x);
    if (g.rf <= kSizeTolerance) Refuse(element, "the root circle vanishes (too few teeth or x)");
    if (g.ra <= g.rf + kSizeTolerance) Refuse(element, "the tip lies below the root (k too big)");
    if (g.ra <= g.rb + kSizeTolerance) Refuse(element, "the tip lies below the base circle");
  } else {
    g.ra = std::max(g.r - mn * (1 - x - k), g.rb);
    g.rf = g.r + mn * (1.25 + x);
    if (g.ra >= g.rf - kSizeTolerance) Refuse(element, "the tip lies beyond the root (k too big)");
  }
  if (g.halfAngle <= 0) Refuse(element, "the profile shift x leaves no tooth");
  ToothGeometry t = Geometry(g);
  if (FlankAngleAt(t, internal ? g.rf : g.ra) <= 1e-6)
    Refuse(element, internal ? "the tooth space is pointed at the root" : "the tooth is pointed");
  if (internal && FlankAngleAt(t, g.ra) >= kPi / z - 1e-6)
    Refuse(element, "the teeth are pointed at the tip");
  t = WithFittingFillet(t);
  g.fillet = t.fillet;
  return g;
}

double FlankAngle(const InvoluteGear& g, double rho) { return FlankAngleAt(Geometry(g), rho); }

TopoDS_Wire GearOutline(const InvoluteGear& g, double z) { return OutlineOf(Geometry(g), g.z, z); }

namespace {
// One pitch of the outline, as GearOutline repeats it.
TopoDS_Wire PitchOutline(const InvoluteGear& g) {
  BRepBuilderAPI_MakeWire w;
  for (const auto& e : PitchEdges(WithFittingFillet(Geometry(g)), 0)) w.Add(e);
  if (!w.IsDone()) Throw(QZ::eCodeFailure, "the tooth outline does not connect");
  return w.Wire();
}
}  // namespace

TopoDS_Shape ToothedBody(const TopoDS_Wire& outline, double b, double twistPerLength, double z0,
                         double twist0) {
  return ToothedPieceOf(outline, b, twistPerLength, z0, twist0).solid;
}

namespace {

// Tooth profile given as points: one tooth's outline in polar coordinates, repeated z times.
struct ProfilePoints {
  std::vector<double> r, angle;
  bool spline = false;
};

class CPointList final : public RefCounted<QZ::CAD::IPointList> {
 public:
  void SetSpline(bool spline) override { m_p.spline = spline; }
  int GetCount() override { return static_cast<int>(m_p.r.size()); }
  void AddPoint(double r, double angle) override {
    if (m_p.r.size() >= 100000) Throw(QZ::eCodeInvalidUse, "too many profile points");
    m_p.r.push_back(r);
    m_p.angle.push_back(angle);
  }
  const ProfilePoints& Points() const { return m_p; }

 private:
  ProfilePoints m_p;
};

TopoDS_Wire ProfileOutline(const char* element, QZ::CAD::IPointList* list, unsigned int z,
                           double* meanRadius, double* maxRadius, double* minRadius) {
  auto* impl = dynamic_cast<CPointList*>(list);
  if (!list) Throw(QZ::eCodeNullShape, std::string(element) + ": no point list");
  if (!impl) Throw(QZ::eCodeInvalidUse, std::string(element) + ": point list of another engine");
  const ProfilePoints& p = impl->Points();
  if (z < 3) Refuse(element, "a gear needs at least 3 teeth");
  if (z > 10000) Refuse(element, "more than 10000 teeth");
  if (p.r.size() < 2) Refuse(element, "a tooth profile needs at least two points");
  const double pitch = 2 * kPi / z;
  double sum = 0, hi = 0, lo = 1e300;
  for (size_t i = 0; i < p.r.size(); ++i) {
    NeedPositive(element, "r", p.r[i]);
    NeedFinite(element, "angle", p.angle[i]);
    if (i > 0 && !(p.angle[i] > p.angle[i - 1] + 1e-9))
      Refuse(element, "the profile angles must grow from point to point");
    sum += p.r[i];
    hi = std::max(hi, p.r[i]);
    lo = std::min(lo, p.r[i]);
  }
  if (p.angle.back() - p.angle.front() >= pitch - 1e-9)
    Refuse(element, "one tooth's profile spans more than one pitch");
  *meanRadius = sum / p.r.size();
  *maxRadius = hi;
  *minRadius = lo;
  const size_t n = p.r.size() * z;
  if (p.spline) {
    Handle(TColgp_HArray1OfPnt) pts = new TColgp_HArray1OfPnt(1, static_cast<int>(n));
    int at = 1;
    for (unsigned int i = 0; i < z; ++i)
      for (size_t j = 0; j < p.r.size(); ++j)
        pts->SetValue(at++, Polar(p.r[j], p.angle[j] + pitch * i, 0));
    GeomAPI_Interpolate interp(pts, true, 1e-7);
    interp.Perform();
    if (!interp.IsDone()) Refuse(element, "no spline passes through the profile points");
    return BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(interp.Curve()).Edge()).Wire();
  }
  BRepBuilderAPI_MakePolygon poly;
  for (unsigned int i = 0; i < z; ++i)
    for (size_t j = 0; j < p.r.size(); ++j) poly.Add(Polar(p.r[j], p.angle[j] + pitch * i, 0));
  poly.Close();
  if (!poly.IsDone()) Refuse(element, "the profile points do not make an outline");
  return poly.Wire();
}

QZ::CAD::IShape* ProfileGear(const char* element, QZ::CAD::IPointList* points,
                             const QZ::CAD::ToothProfileValues& v, bool internal, bool twoHalves) {
  return BuildChecked(element, [&] {
    double mean = 0, hi = 0, lo = 0;
    const TopoDS_Wire outline = ProfileOutline(element, points, v.z, &mean, &hi, &lo);
    CheckCommon(element, v.z, 1.0, v.b, v.beta);
    Halves h;
    h.b = v.b;
    h.twistPerLength = std::tan(Radians(v.beta)) / mean;
    if (twoHalves) {
      NeedNotNegative(element, "bn", v.bn);
      NeedNotNegative(element, "dn", v.dn);
      if (v.bn >= v.b - kSizeTolerance) Refuse(element, "the gap bn must be below the width b");
      h.two = true;
      h.gap = v.bn;
    }
    if (!internal) {
      CheckBore(element, v.d, lo);
      if (h.two) {
        h.gapRadius = v.dn > 0 ? v.dn / 2 : lo;
        if (h.gapRadius > lo + kSizeTolerance) Refuse(element, "dn must not exceed the profile");
        if (v.d > 0 && h.gapRadius <= v.d / 2 + kSizeTolerance)
          Refuse(element, "dn must exceed the bore d");
        h.gapClear = CircleClears(outline, h.gapRadius, false, kGapMargin);
      }
      return ExternalGearSolid(element, outline, v.d, h, false);
    }
    NeedNotNegative(element, "d", v.d);
    const double rim = v.d > 0 ? v.d / 2 : hi + (hi - lo) * 2;
    if (rim <= hi + kSizeTolerance)
      Refuse(element, "the outside diameter d must exceed the profile");
    if (h.two) {
      h.gapRadius = v.dn > 0 ? v.dn / 2 : hi;
      if (h.gapRadius < hi - kSizeTolerance || h.gapRadius >= rim - kSizeTolerance)
        Refuse(element, "dn must lie between the profile and the outside diameter");
      h.gapClear = CircleClears(outline, h.gapRadius, true, kGapMargin);
    }
    return InternalGearSolid(element, outline, rim, h, false);
  });
}

QZ::CAD::IShape* InvoluteGearShape(const char* element, bool internal, bool twoHalves,
                                   unsigned int z, double mn, double b, double alpha, double beta,
                                   double k, double x, double d, double bn, double dn) {
  return BuildCached(
      element,
      {double(internal), double(twoHalves), double(z), mn, b, alpha, beta, k, x, d, bn, dn}, [&] {
        CheckCommon(element, z, mn, b, beta);
        const InvoluteGear g = MakeInvoluteGear(element, z, mn, alpha, beta, k, x, internal);
        const TopoDS_Wire outline = GearOutline(g);
        Halves h;
        h.pitchWire = PitchOutline(g);
        h.teeth = g.z;
        h.b = b;
        h.twistPerLength = std::tan(g.beta) / g.r;
        if (twoHalves) {
          NeedNotNegative(element, "bn", bn);
          NeedNotNegative(element, "dn", dn);
          if (bn >= b - kSizeTolerance) Refuse(element, "the gap bn must be below the width b");
          h.two = true;
          h.gap = bn;
        }
        if (!internal) {
          CheckBore(element, d, g.rf);
          if (h.two) {
            h.gapRadius = dn > 0 ? dn / 2 : g.rf;
            if (h.gapRadius > g.rf + kSizeTolerance)
              Refuse(element, "dn must not exceed the root diameter");
            if (d > 0 && h.gapRadius <= d / 2 + kSizeTolerance)
              Refuse(element, "dn must exceed the bore d");
            h.gapClear = h.gapRadius < g.rf - kGapMargin;
            h.rootedGap = dn == 0 && h.gap > kSizeTolerance;
          }
          return ExternalGearSolid(element, outline, d, h, true);
        }
        const double rim = RimRadius(element, d, g.rf, mn);
        if (h.two) {
          h.gapRadius = dn > 0 ? dn / 2 : g.rf;
          if (h.gapRadius < g.rf - kSizeTolerance || h.gapRadius >= rim - kSizeTolerance)
            Refuse(element, "dn must lie between the root diameter and the outside diameter");
          h.gapClear = h.gapRadius > g.rf + kGapMargin;
          h.rootedGap = dn == 0 && h.gap > kSizeTolerance;
        }
        return InternalGearSolid(element, outline, rim, h, true);
      });
}

// A straight rack: teeth along +x from 0 to l, the tips at y = h, face width along z.
TopoDS_Shape RackSolid(double mn, double b, double h, double l) {
  const char* element = "RackGear";
  NeedPositive(element, "mn", mn);
  NeedPositive(element, "b", b);
  NeedPositive(element, "h", h);
  NeedPositive(element, "l", l);
  if (h <= 2.25 * mn + kSizeTolerance) Refuse(element, "the height h must exceed 2.25 mn");
  const double p = kPi * mn;
  if (l < p) Refuse(element, "the length l must hold at least one pitch (pi mn)");
  if (l / p > 20000) Refuse(element, "too many teeth");
  const double tanA = std::tan(Radians(20.0));
  const double yTip = h, yRoot = h - 2.25 * mn;  // the reference line lies at h - mn
  // Tooth i is centred at x = (i + 1/2) p; spaces at x = i p.
  const int first = -1, last = static_cast<int>(std::ceil(l / p)) + 1;
  Outline o(gp_Pnt2d(first * p, 0));
  for (int i = first; i <= last; ++i) {
    const double c = (i + 0.5) * p;
    const double tipHalf = p / 4 - mn * tanA, rootHalf = p / 4 + 1.25 * mn * tanA;
    o.LineTo(c - rootHalf, yRoot);
    o.LineTo(c - tipHalf, yTip);
    o.LineTo(c + tipHalf, yTip);
    o.LineTo(c + rootHalf, yRoot);
  }
  o.LineTo((last + 1) * p, yRoot);
  o.LineTo((last + 1) * p, 0);
  const TopoDS_Shape teeth = Prism(o.Face(0, 0), b);
  return SingleSolid(Common(teeth, BoxXYZ(0, 0, 0, l, h + 1, b)), element);
}

// The side of the body behind a bevel gear's teeth, a cylinder of radius r about z from z0 up to
// the plane z1, where it ends in `top`: edges on its circle, in order counter-clockwise.
// bottom: the circle where it ends at z0, counter-clockwise.
TopoDS_Face CylinderUnder(double r, double z0, double z1, const std::vector<TopoDS_Edge>& top,
                          TopoDS_Wire* bottom) {
  const double tol = Precision::Confusion();
  const TopoDS_Vertex start = TopExp::FirstVertex(top.front(), true);
  const gp_Pnt a = BRep_Tool::Pnt(start);
  const double seam = std::atan2(a.Y(), a.X());
  Handle(Geom_CylindricalSurface) surface =
      new Geom_CylindricalSurface(gp_Ax3(gp_Pnt(0, 0, 0), gp::DZ(), gp::DX()), r);
  BRep_Builder b;
  TopoDS_Face face;
  b.MakeFace(face, surface, tol);
  // On the cylinder u is the angle from +x, v the height: each circle's parameter runs with the
  // angle, so its curve on the cylinder is a line of v = height, shifted into the face's one turn
  // [seam, seam + 2 pi].
  auto onSurface = [&](const TopoDS_Edge& e, double height) {
    BRepAdaptor_Curve curve(e);
    const double t0 = curve.FirstParameter(), t1 = curve.LastParameter();
    const gp_Pnt p = curve.Value((t0 + t1) / 2);
    double shift = std::atan2(p.Y(), p.X()) - (t0 + t1) / 2;
    const double mid = shift + (t0 + t1) / 2;
    shift += 2 * kPi * std::floor((seam + 2 * kPi - mid) / (2 * kPi));
    b.UpdateEdge(e, new Geom2d_Line(gp_Pnt2d(shift, height), gp_Dir2d(1, 0)), face, tol);
  };
  const gp_Circ circle(gp_Ax2(gp_Pnt(0, 0, z0), gp::DZ(), gp::DX()), r);
  const TopoDS_Vertex low = BRepBuilderAPI_MakeVertex(ElCLib::Value(seam, circle)).Vertex();
  const TopoDS_Edge ground =
      BRepBuilderAPI_MakeEdge(new Geom_Circle(circle), low, low, seam, seam + 2 * kPi).Edge();
  b.UpdateEdge(ground, new Geom2d_Line(gp_Pnt2d(0, z0), gp_Dir2d(1, 0)), face, tol);
  const gp_Lin up(gp_Pnt(a.X(), a.Y(), 0), gp::DZ());
  const TopoDS_Edge side = BRepBuilderAPI_MakeEdge(new Geom_Line(up), low, start, z0, z1).Edge();
  b.UpdateEdge(side, new Geom2d_Line(gp_Pnt2d(seam + 2 * kPi, 0), gp_Dir2d(0, 1)),
               new Geom2d_Line(gp_Pnt2d(seam, 0), gp_Dir2d(0, 1)), face, tol);
  TopoDS_Wire w;
  b.MakeWire(w);
  b.Add(w, ground);
  b.Add(w, side);
  for (auto e = top.rbegin(); e != top.rend(); ++e) {
    onSurface(*e, z1);
    b.Add(w, e->Reversed());
  }
  b.Add(w, side.Reversed());
  w.Closed(true);
  b.Add(face, w);
  b.MakeWire(*bottom);
  b.Add(*bottom, ground);
  bottom->Closed(true);
  return face;
}

// A bevel gear's teeth from one pitch of the outer end's outline: the ruled faces between it and
// the same scaled towards the apex (zInner: the inner end's plane), repeated about the axis as
// the helical teeth are (see PatternOf). Null when the pitch does not lend itself to that, or
// when the outer end's root arcs are no longer circles (the body behind meets them).
ToothedPiece PatternedBevelTeeth(const std::vector<TopoDS_Edge>& pitchEdges, unsigned count,
                                 const gp_Trsf& toward, double zInner) {
  BRepBuilderAPI_MakeWire make;
  for (const auto& e : pitchEdges) make.Add(e);
  if (!make.IsDone()) return {};
  const TopoDS_Wire pitchWire = make.Wire();
  BRepOffsetAPI_ThruSections loft(false, true, 1e-6);
  loft.CheckCompatibility(false);
  loft.AddWire(pitchWire);
  loft.AddWire(TopoDS::Wire(BRepBuilderAPI_Transform(pitchWire, toward, true).Shape()));
  loft.Build();
  if (!loft.IsDone()) return {};
  const double pitch = 2 * kPi / count;
  PitchLoft l;
  l.shell = loft.Shape();
  const gp_Pnt origin =
      BRep_Tool::Pnt(TopExp::FirstVertex(BRepTools_WireExplorer(pitchWire).Current(), true));
  if (!HelixEdgesOf(l, Tier{zInner, 0, 0, 0}, std::atan2(origin.Y(), origin.X()), pitch)) return {};
  ToothedPiece teeth = PatternOf({l}, count, pitch, 0, zInner, zInner);
  if (teeth.solid.IsNull()) return {};
  for (TopExp_Explorer e(teeth.bottom, TopAbs_EDGE); e.More(); e.Next())
    if (BRepAdaptor_Curve(TopoDS::Edge(e.Current())).GetType() == GeomAbs_Circle) return teeth;
  return {};
}

// Whether a solid put together from its faces is valid: every edge bounding one face forwards
// and one backwards (see RootedValid), and the kernel's analysis of its faces, each face once
// however often it is placed again about the axis (a placed copy of a face is what the face is,
// turned: its analysis finds what the first one's finds).
bool ValidOnce(const TopoDS_Shape& s) {
  if (!RootedValid(s)) return false;
  std::set<const TopoDS_TShape*> seen;
  BRep_Builder builder;
  TopoDS_Compound faces;
  builder.MakeCompound(faces);
  for (TopExp_Explorer e(s, TopAbs_FACE); e.More(); e.Next())
    if (seen.insert(e.Current().TShape().get()).second) builder.Add(faces, e.Current());
  return BRepCheck_Analyzer(faces).IsValid();
}

// A bevel gear put together from its lofted teeth (see Assembly): their side faces; on the outer
// end a face per tooth outside the root circle, where the body (radius rootOuter, e behind) takes
// over, or the whole outer end (with the hub's or the bore's circle) without a body; the hub
// (diameter dc, 0: none, length c) behind; the bore's cylinder through all to the inner end.
TopoDS_Shape AssembledBevel(const ToothedPiece& teeth, const TopoDS_Wire& outer, double rootOuter,
                            double zInner, double db, double dc, double c, double e) {
  Assembly a;
  a.AddSides(teeth, false);
  const bool body = e > kSizeTolerance;
  const double zHub = body ? -e : 0.0, zBack = dc > 0 ? zHub - c : zHub;
  std::vector<TopoDS_Wire> innerHoles;
  TopoDS_Wire boreBottom;
  if (db > 0) {
    const CylinderBand bore = CylinderBandZ(db / 2, zBack, zInner);
    a.Add(bore.face, true);
    innerHoles.push_back(bore.top);
    boreBottom = bore.bottom;
  }
  a.AddEnd(teeth.top, EndOutline(teeth.top), innerHoles);
  // What lies behind the plane z (a wire, or nothing when the bore is the next thing).
  TopoDS_Wire behind;
  if (dc > 0) {
    const CylinderBand hub = CylinderBandZ(dc / 2, zBack, zHub);
    a.Add(hub.face);
    std::vector<TopoDS_Wire> holes;
    if (!boreBottom.IsNull()) holes.push_back(boreBottom);
    a.Add(PlanarFace(hub.bottom, holes, zBack, false));
    behind = hub.top;
  } else {
    behind = boreBottom;
  }
  if (!body) {
    std::vector<TopoDS_Wire> holes;
    if (!behind.IsNull()) holes.push_back(behind);
    a.AddEnd(teeth.bottom, EndOutline(teeth.bottom), holes);
    return SolidOfFaces(a.faces);
  }
  // The outer end: the root arcs (circles) belong to the body's side, the rest to the teeth.
  std::vector<TopoDS_Edge> edges;
  for (BRepTools_WireExplorer w(CounterClockwise(outer)); w.More(); w.Next())
    edges.push_back(w.Current());
  auto isRoot = [](const TopoDS_Edge& edge) {
    return BRepAdaptor_Curve(edge).GetType() == GeomAbs_Circle;
  };
  const auto first = std::find_if(edges.begin(), edges.end(), isRoot);
  if (first == edges.end()) Throw(QZ::eCodeFailure, "ConeGear: the outline has no root");
  std::rotate(edges.begin(), first + 1, edges.end());  // starts with the first tooth
  const gp_Circ root(gp_Ax2(gp_Pnt(0, 0, 0), gp::DZ(), gp::DX()), rootOuter);
  // Each tooth's edges (up to the root arc after it).
  std::vector<std::vector<TopoDS_Edge>> toothEdges;
  std::vector<TopoDS_Edge> rootArcs;
  for (size_t i = 0; i < edges.size();) {
    toothEdges.emplace_back();
    for (; i < edges.size() && !isRoot(edges[i]); ++i) toothEdges.back().push_back(edges[i]);
    if (i == edges.size() || toothEdges.back().empty())
      Throw(QZ::eCodeFailure, "ConeGear: the outline has no root");
    rootArcs.push_back(edges[i++]);
  }
  // Where the teeth are one tooth's edges placed again about the axis (the teeth lofted from one
  // pitch), their end faces are that tooth's face placed the same way. (The pitch that closes
  // the turn has edges of its own: the reference is the first tooth that others repeat.)
  auto placedAs = [&](size_t j, size_t ref, TopLoc_Location* at) {
    if (toothEdges[j].size() != toothEdges[ref].size()) return false;
    *at =
        toothEdges[j].front().Location().Multiplied(toothEdges[ref].front().Location().Inverted());
    for (size_t n = 0; n < toothEdges[j].size(); ++n) {
      const TopoDS_Edge &mine = toothEdges[j][n], &theirs = toothEdges[ref][n];
      if (mine.TShape() != theirs.TShape() ||
          !mine.Location().IsEqual(at->Multiplied(theirs.Location())) ||
          mine.Orientation() != theirs.Orientation())
        return false;
    }
    return true;
  };
  size_t ref = toothEdges.size();
  TopLoc_Location unused;
  for (size_t j = 0; j + 1 < toothEdges.size() && j < 2 && ref == toothEdges.size(); ++j)
    if (placedAs(j + 1, j, &unused)) ref = j;
  BRep_Builder b;
  auto toothFace = [&](size_t j, TopoDS_Edge* under) {
    TopoDS_Wire tooth;
    b.MakeWire(tooth);
    for (const auto& edge : toothEdges[j]) b.Add(tooth, edge);
    const TopoDS_Vertex from = TopExp::FirstVertex(toothEdges[j].front(), true);
    const TopoDS_Vertex to = TopExp::FirstVertex(rootArcs[j], true);
    *under = BRepBuilderAPI_MakeEdge(root, from, to).Edge();
    b.Add(tooth, under->Reversed());
    tooth.Closed(true);
    a.AddEnd(teeth.bottom, tooth, {});
    return a.faces.back();
  };
  TopoDS_Face refFace;
  TopoDS_Edge refUnder;
  if (ref != toothEdges.size()) {
    refFace = toothFace(ref, &refUnder);
    a.faces.pop_back();
  }
  std::vector<TopoDS_Edge> rim;
  for (size_t j = 0; j < toothEdges.size(); ++j) {
    TopLoc_Location at;
    TopoDS_Edge under;
    if (ref != toothEdges.size() && placedAs(j, ref, &at)) {
      a.Add(TopoDS::Face(refFace.Moved(at)));
      under = TopoDS::Edge(refUnder.Moved(at));
    } else {
      toothFace(j, &under);
    }
    rim.push_back(under);
    rim.push_back(rootArcs[j]);
  }
  TopoDS_Wire ground;
  a.Add(CylinderUnder(rootOuter, -e, 0, rim, &ground));
  std::vector<TopoDS_Wire> holes;
  if (!behind.IsNull()) holes.push_back(behind);
  a.Add(PlanarFace(ground, holes, -e, false));
  return SolidOfFaces(a.faces);
}

// Straight bevel gear. The teeth are those of the back cone's virtual spur gear (z / cos(delta)
// teeth of module me), laid on the outer end face at z = 0 and narrowing towards the cone's apex
// on the +z side; behind the teeth a body of thickness e and a hub of diameter dc and length c;
// a bore db through all.
TopoDS_Shape BevelSolid(unsigned int z, double me, double angle, double db, double dc, double a,
                        double c, double e) {
  const char* element = "ConeGear";
  CheckCommon(element, z, me, 1.0, 0.0);
  NeedFinite(element, "angle", angle);
  if (angle <= 1.0 || angle >= 89.0)
    Refuse(element, "the cone angle must lie between 1 and 89 degrees");
  NeedPositive(element, "a", a);
  NeedNotNegative(element, "db", db);
  NeedNotNegative(element, "dc", dc);
  NeedNotNegative(element, "c", c);
  NeedNotNegative(element, "e", e);
  const double delta = Radians(angle);
  const double R = z * me / 2, Re = R / std::sin(delta), apex = R / std::tan(delta);
  if (a >= Re / 2) Refuse(element, "the face width a must be below half the cone distance");
  // Virtual spur gear of the back cone.
  const double zv = z / std::cos(delta);
  const double alpha = Radians(20.0);
  ToothGeometry t;
  t.z = zv;
  const double rv = zv * me / 2;
  t.rb = rv * std::cos(alpha);
  t.ra = rv + me;
  t.rf = rv - 1.25 * me;
  t.baseAngle = kPi / (2 * zv) + Inv(alpha);
  t.fillet = kFilletFactor * me;
  if (FlankAngleAt(t, t.ra) <= 1e-6) Refuse(element, "the tooth is pointed");
  t = WithFittingFillet(t);
  const std::vector<TopoDS_Edge> virtualPitch = PitchEdges(t, 0);
  // Back-cone development: radius R + (rho - rv) cos(delta), angle scaled by rv / R.
  const double scale = rv / R;
  auto map = [&](const gp_Pnt& p) {
    const double rho = std::hypot(p.X(), p.Y());
    const double rr = R + (rho - rv) * std::cos(delta);
    return Polar(rr, AngleOf(p) * scale, 0);
  };
  std::vector<TopoDS_Edge> pitchEdges;
  for (const auto& edge : virtualPitch) {
    if (pitchEdges.size() + 1 == virtualPitch.size()) {
      // The root arc is an arc of the root circle (angles scaled, radius rootOuter): drawn as
      // such, the body behind the teeth meets it in its own circle.
      BRepAdaptor_Curve curve(edge);
      const double a0 = AngleOf(curve.Value(curve.FirstParameter())) * scale;
      const double a1 = a0 + (curve.LastParameter() - curve.FirstParameter()) * scale;
      pitchEdges.push_back(CircleArc(R - 1.25 * me * std::cos(delta), a0, a1, 0));
      break;
    }
    BRepAdaptor_Curve curve(edge);
    const int n = 9;
    Handle(TColgp_HArray1OfPnt) pts = new TColgp_HArray1OfPnt(1, n);
    for (int i = 0; i < n; ++i) {
      const double u =
          curve.FirstParameter() + (curve.LastParameter() - curve.FirstParameter()) * i / (n - 1);
      pts->SetValue(i + 1, map(curve.Value(u)));
    }
    GeomAPI_Interpolate interp(pts, false, 1e-9);
    interp.Perform();
    if (!interp.IsDone()) Throw(QZ::eCodeFailure, "ConeGear: the tooth outline failed");
    pitchEdges.push_back(BRepBuilderAPI_MakeEdge(interp.Curve()).Edge());
  }
  const TopoDS_Wire outer = RepeatPitch(pitchEdges, z, 2 * kPi / z);
  const double rootOuter = R - 1.25 * me * std::cos(delta);
  const double k = (Re - a) / Re;
  gp_Trsf toward;
  toward.SetScale(gp_Pnt(0, 0, apex), k);
  const double rootInner = rootOuter * k;
  if (db > 0 && db / 2 >= rootInner - kSizeTolerance)
    Refuse(element, "the bore db must be below the inner root diameter");
  if (dc > 0 && dc / 2 <= db / 2 + kSizeTolerance)
    Refuse(element, "the hub dc must exceed the bore db");
  // The teeth lofted whole: for the boolean, or where one pitch does not repeat.
  BRepOffsetAPI_ThruSections loft(true, true, 1e-6);
  auto whole = [&] {
    if (loft.IsDone()) return loft.Shape();
    loft.CheckCompatibility(false);
    loft.AddWire(outer);
    loft.AddWire(TopoDS::Wire(BRepBuilderAPI_Transform(outer, toward, true).Shape()));
    loft.Build();
    if (!loft.IsDone()) Throw(QZ::eCodeFailure, "ConeGear: the teeth could not be built");
    return loft.Shape();
  };
  const bool hub = c > kSizeTolerance && dc > 0;
  if (!hub || dc / 2 < rootOuter - 1e-3) {
    ToothedPiece teeth = PatternedBevelTeeth(pitchEdges, z, toward, apex * (1 - k));
    TopoDS_Wire end = teeth.solid.IsNull() ? TopoDS_Wire() : EndOutline(teeth.bottom);
    if (end.IsNull()) {
      teeth.solid = whole();
      teeth.bottom = TopoDS::Face(loft.FirstShape());
      teeth.top = TopoDS::Face(loft.LastShape());
      teeth = Oriented(teeth);
      end = outer;
    }
    const TopoDS_Shape assembled =
        AssembledBevel(teeth, end, rootOuter, apex * (1 - k), db, hub ? dc : 0, c, e);
    // Analysed here: a few sizes (a body behind few teeth on a flat cone) do not assemble into
    // a valid solid; those are cut and fused below rather than refused.
    if (ValidOnce(assembled)) return Proven(true, assembled);
  }
  TopoDS_Shape body = whole();
  std::vector<TopoDS_Shape> extra;
  if (e > kSizeTolerance) extra.push_back(CylinderZ(rootOuter, -e, 0));
  if (c > kSizeTolerance && dc > 0) extra.push_back(CylinderZ(dc / 2, -e - c, -e));
  if (!extra.empty()) {
    extra.insert(extra.begin(), body);
    body = SingleSolid(FuseAll(extra), element);
  }
  if (db > 0) body = Cut(body, CylinderZ(db / 2, -e - c - 1, apex));
  return SingleSolid(body, element);
}

class CGearFactory final : public QZ::CAD::IGearFactory {
 public:
  QZ::CAD::IShape* ExternalToothProfile(QZ::CAD::IPointList* p,
                                        const QZ::CAD::ToothProfileValues& v) override {
    return ProfileGear("GearExternalToothProfile", p, v, false, false);
  }
  QZ::CAD::IShape* ExternalGear(unsigned int z, double mn, double b, double alpha, double beta,
                                double k, double x, double d) override {
    return InvoluteGearShape("GearExternal", false, false, z, mn, b, alpha, beta, k, x, d, 0, 0);
  }
  QZ::CAD::IShape* InternalToothProfile(QZ::CAD::IPointList* p,
                                        const QZ::CAD::ToothProfileValues& v) override {
    return ProfileGear("GearInternalToothProfile", p, v, true, false);
  }
  QZ::CAD::IShape* InternalGear(unsigned int z, double mn, double b, double alpha, double beta,
                                double k, double x, double d) override {
    return InvoluteGearShape("GearInternal", true, false, z, mn, b, alpha, beta, k, x, d, 0, 0);
  }
  QZ::CAD::IShape* DoubleExternalToothProfile(QZ::CAD::IPointList* p,
                                              const QZ::CAD::ToothProfileValues& v) override {
    return ProfileGear("GearDoubleExternalToothProfile", p, v, false, true);
  }
  QZ::CAD::IShape* DoubleExternalGear(unsigned int z, double mn, double b, double alpha,
                                      double beta, double k, double x, double d, double bn,
                                      double dn) override {
    return InvoluteGearShape("GearDoubleExternal", false, true, z, mn, b, alpha, beta, k, x, d, bn,
                             dn);
  }
  QZ::CAD::IShape* DoubleInternalToothProfile(QZ::CAD::IPointList* p,
                                              const QZ::CAD::ToothProfileValues& v) override {
    return ProfileGear("GearDoubleInternalToothProfile", p, v, true, true);
  }
  QZ::CAD::IShape* DoubleInternalGear(unsigned int z, double mn, double b, double alpha,
                                      double beta, double k, double x, double d, double bn,
                                      double dn) override {
    return InvoluteGearShape("GearDoubleInternal", true, true, z, mn, b, alpha, beta, k, x, d, bn,
                             dn);
  }
  QZ::CAD::IShape* RackGear(double mn, double b, double h, double l) override {
    return BuildCached("RackGear", {mn, b, h, l}, [&] { return RackSolid(mn, b, h, l); });
  }
  QZ::CAD::IShape* ConeGear(unsigned int z, double me, double angle, double db, double dc, double a,
                            double c, double e) override {
    return BuildCached("ConeGear", {double(z), me, angle, db, dc, a, c, e},
                       [&] { return BevelSolid(z, me, angle, db, dc, a, c, e); });
  }
  QZ::CAD::IPointList* NewPointList() override {
    return Guard("NewPointList",
                 [] { return static_cast<QZ::CAD::IPointList*>(new CPointList()); });
  }
};

}  // namespace

QZ::CAD::IGearFactory* GearFactory() {
  static CGearFactory factory;
  return &factory;
}

}  // namespace cad_engine
