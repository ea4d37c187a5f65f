#include "Solids.h"

#include <BRepAlgoAPI_Common.hxx>
#include <BRepAlgoAPI_Cut.hxx>
#include <BRepAlgoAPI_Fuse.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakePolygon.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepClass_FaceClassifier.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakePrism.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <BRep_Builder.hxx>
#include <BRepTools.hxx>
#include <BRepAdaptor_Curve.hxx>
#include <BRep_Tool.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>
#include <TopoDS_Vertex.hxx>
#include <GC_MakeArcOfCircle.hxx>
#include <TopExp_Explorer.hxx>
#include <TopLoc_Location.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <gp_Ax2.hxx>
#include <gp_Ax2d.hxx>
#include <gp_Ax3.hxx>
#include <gp_Trsf2d.hxx>
#include <Geom_Circle.hxx>
#include <Geom_SphericalSurface.hxx>
#include <Geom_SurfaceOfRevolution.hxx>
#include <Geom_ToroidalSurface.hxx>
#include <Geom_TrimmedCurve.hxx>
#include <Geom2d_Curve.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS_Iterator.hxx>
#include <Standard_Failure.hxx>
#include <gp_Circ.hxx>
#include <gp_Pln.hxx>
#include <gp_Vec.hxx>
#include <gp_Vec2d.hxx>

#include <cmath>
#include <cstring>
#include <atomic>
#include <condition_variable>
#include <list>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace cad_engine {

void Refuse(const char* element, const std::string& text) {
  Throw(QZ::eCodeInvalidParameter, std::string(element) + ": " + text);
}

void NeedPositive(const char* element, const char* name, double v) {
  if (!std::isfinite(v) || v <= 0.0) Refuse(element, std::string(name) + " must be above zero");
}

void NeedNotNegative(const char* element, const char* name, double v) {
  if (!std::isfinite(v) || v < 0.0) Refuse(element, std::string(name) + " must not be negative");
}

void NeedFinite(const char* element, const char* name, double v) {
  if (!std::isfinite(v)) Refuse(element, std::string(name) + " must be a finite number");
}

void NeedBelow(const char* element, const char* lowerName, double lower, const char* upperName,
               double upper) {
  if (!(lower < upper - kSizeTolerance))
    Refuse(element, std::string(lowerName) + " must be below " + upperName);
}

gp_Pnt ToSpace(const gp_Pnt2d& p, int plane, double z) {
  if (plane == 1) return gp_Pnt(p.X(), 0.0, p.Y());
  return gp_Pnt(p.X(), p.Y(), z);
}

Outline& Outline::LineTo(double u, double v) {
  OutlineStep s;
  s.to = gp_Pnt2d(u, v);
  if (s.to.Distance(m_at) > kSizeTolerance) {
    m_steps.push_back(s);
    m_at = s.to;
  }
  return *this;
}

Outline& Outline::ArcTo(double viaU, double viaV, double u, double v) {
  OutlineStep s;
  s.to = gp_Pnt2d(u, v);
  s.via = gp_Pnt2d(viaU, viaV);
  s.arc = true;
  m_steps.push_back(s);
  m_at = s.to;
  return *this;
}

Outline& Outline::CornerTo(double cu, double cv, double nextU, double nextV, double r) {
  const gp_Pnt2d c(cu, cv), n(nextU, nextV);
  if (r <= kSizeTolerance) return LineTo(cu, cv);
  gp_Vec2d u1(m_at, c), u2(c, n);
  const double l1 = u1.Magnitude(), l2 = u2.Magnitude();
  if (l1 < kSizeTolerance || l2 < kSizeTolerance) return LineTo(cu, cv);
  u1 /= l1;
  u2 /= l2;
  const double cosTurn = std::max(-1.0, std::min(1.0, (-u1).Dot(u2)));
  const double inner = std::acos(cosTurn);  // angle between the two legs at the corner
  if (inner < 1e-6 || inner > kPi - 1e-6) return LineTo(cu, cv);
  const double d = r / std::tan(inner / 2);
  if (d > l1 + kSizeTolerance || d > l2 + kSizeTolerance)
    Throw(QZ::eCodeInvalidParameter, "a rounding radius does not fit its corner");
  const gp_Pnt2d t1 = c.Translated(-u1 * d), t2 = c.Translated(u2 * d);
  gp_Vec2d bis = u2 - u1;
  bis.Normalize();
  const gp_Pnt2d centre = c.Translated(bis * (r / std::sin(inner / 2)));
  const gp_Pnt2d mid = centre.Translated(-bis * r);
  LineTo(t1.X(), t1.Y());
  return ArcTo(mid.X(), mid.Y(), t2.X(), t2.Y());
}

Outline Outline::Reversed() const {
  Outline r(m_start);
  r.LineTo(m_at.X(), m_at.Y());  // the closing line, walked back
  for (size_t i = m_steps.size(); i-- > 0;) {
    const gp_Pnt2d& to = i > 0 ? m_steps[i - 1].to : m_start;
    const OutlineStep& s = m_steps[i];
    if (s.arc)
      r.ArcTo(s.via.X(), s.via.Y(), to.X(), to.Y());
    else
      r.LineTo(to.X(), to.Y());
  }
  return r;
}

Outline RoundedPolygon(const char* element, const std::vector<Corner>& c) {
  if (c.size() < 3) Refuse(element, "an outline needs three corners");
  Outline o(gp_Pnt2d(c[0].u, c[0].v));
  try {
    for (size_t i = 1; i < c.size(); ++i) {
      const Corner& next = c[(i + 1) % c.size()];
      if (c[i].r > 0)
        o.CornerTo(c[i].u, c[i].v, next.u, next.v, c[i].r);
      else
        o.LineTo(c[i].u, c[i].v);
    }
  } catch (QZ::IException* e) {
    const std::string text = e->GetText();
    e->Release();
    Refuse(element, text);
  }
  return o;
}

TopoDS_Wire Outline::Wire(int plane, double z) const {
  BRepBuilderAPI_MakeWire wire;
  gp_Pnt2d from = m_start;
  auto add = [&](const OutlineStep& s) {
    const gp_Pnt a = ToSpace(from, plane, z), b = ToSpace(s.to, plane, z);
    if (a.Distance(b) < kSizeTolerance) return;
    if (s.arc) {
      GC_MakeArcOfCircle arc(a, ToSpace(s.via, plane, z), b);
      if (!arc.IsDone()) Throw(QZ::eCodeInvalidParameter, "an outline arc is degenerate");
      wire.Add(BRepBuilderAPI_MakeEdge(arc.Value()).Edge());
    } else {
      wire.Add(BRepBuilderAPI_MakeEdge(a, b).Edge());
    }
    from = s.to;
  };
  for (const auto& s : m_steps) add(s);
  OutlineStep close;
  close.to = m_start;
  add(close);
  if (!wire.IsDone()) Throw(QZ::eCodeInvalidParameter, "the outline does not close");
  return wire.Wire();
}

TopoDS_Face Outline::Face(int plane, double z) const {
  BRepBuilderAPI_MakeFace face(Wire(plane, z), true);
  if (!face.IsDone()) Throw(QZ::eCodeInvalidParameter, "the outline is not planar");
  return face.Face();
}

TopoDS_Face FaceWithHoles(const TopoDS_Wire& outer, const std::vector<TopoDS_Wire>& holes,
                          double z) {
  // The wires turned counter-clockwise here (their signed area, from a few points per edge),
  // rather than by the kernel's check that the face is finite, which classifies a point against
  // a fine polygon of every edge: most of the time of a gear's end face of many splines.
  BRepBuilderAPI_MakeFace make(gp_Pln(gp_Pnt(0, 0, z), gp::DZ()), CounterClockwise(outer), false);
  if (!make.IsDone()) Throw(QZ::eCodeInvalidParameter, "the outline is not planar");
  for (const auto& h : holes) make.Add(TopoDS::Wire(CounterClockwise(h).Reversed()));
  return make.Face();
}

TopoDS_Wire CircleWire(double r, double z) {
  gp_Circ c(gp_Ax2(gp_Pnt(0, 0, z), gp::DZ()), r);
  return BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(c).Edge()).Wire();
}

TopoDS_Shape Prism(const TopoDS_Shape& face, double length) {
  BRepPrimAPI_MakePrism prism(face, gp_Vec(0, 0, length), true);
  if (!prism.IsDone()) Throw(QZ::eCodeFailure, "the extrusion failed");
  return prism.Shape();
}

TopoDS_Shape Revolve(const TopoDS_Face& face) {
  BRepPrimAPI_MakeRevol revol(face, gp::OZ(), 2 * kPi, true);
  if (!revol.IsDone()) Throw(QZ::eCodeFailure, "the revolution failed");
  return revol.Shape();
}

namespace {

// A face turned from an arc of circle in the xz plane: its surface of revolution replaced by the
// torus (or sphere) it is, with its edges' curves on the face carried over. The surface of
// revolution is parametrised by the angle u about z and the circle's parameter t; the torus by
// the same u and the angle v on its meridian circle from the radial direction towards +z, so
// v = t + phi or v = phi - t by the circle's orientation, and the curves on the face follow by
// that map. Faces of any other kind are left as they are.
TopoDS_Face TurnArcFaceIntoTorus(const TopoDS_Face& face,
                                 const std::function<bool(const gp_Circ&)>& onTorus) {
  TopLoc_Location loc;
  const Handle(Geom_Surface) old = BRep_Tool::Surface(face, loc);
  const Handle(Geom_SurfaceOfRevolution) rev = Handle(Geom_SurfaceOfRevolution)::DownCast(old);
  if (rev.IsNull()) return face;
  Handle(Geom_Curve) basis = rev->BasisCurve();
  while (auto trimmed = Handle(Geom_TrimmedCurve)::DownCast(basis)) basis = trimmed->BasisCurve();
  const Handle(Geom_Circle) circle = Handle(Geom_Circle)::DownCast(basis);
  if (circle.IsNull() || (onTorus && !onTorus(circle->Circ()))) return face;
  const gp_Ax1 axis = rev->Axis();
  constexpr double kAngular = 1e-12;
  if (!axis.Direction().IsParallel(gp::DZ(), kAngular) || axis.Direction().Z() < 0 ||
      gp_Pnt2d(axis.Location().X(), axis.Location().Y()).Distance(gp_Pnt2d(0, 0)) > 1e-12)
    return face;
  const gp_Ax2& frame = circle->Position();
  const gp_Pnt c = frame.Location();
  const double ny = frame.Direction().Y();
  if (std::fabs(std::fabs(ny) - 1) > kAngular || std::fabs(c.Y()) > 1e-12 || c.X() < -1e-12)
    return face;
  const double r = circle->Radius(), R = std::max(0.0, c.X());
  const gp_Dir& xc = frame.XDirection();
  const double phi = std::atan2(xc.Z(), xc.X());
  const bool mirrored = ny > 0;  // v = phi - t
  // Where the face lies in t: the arc's range, to bring v into the surface's usual period.
  double u0, u1, t0, t1;
  BRepTools::UVBounds(face, u0, u1, t0, t1);
  const double v0 = mirrored ? phi - t1 : phi + t0;
  const double v1 = mirrored ? phi - t0 : phi + t1;
  const bool sphere = R < 1e-9 * std::max(1.0, r);
  if (!sphere && R <= r) return face;  // a torus through its own axis: left as it is
  double shift = 0;
  if (sphere) {
    // Latitudes within -pi/2 .. pi/2: the arc must lie on the +x side of the axis.
    shift = std::round((v0 + v1) / 2 / (2 * kPi)) * -2 * kPi;
    if (v0 + shift < -kPi / 2 - 1e-9 || v1 + shift > kPi / 2 + 1e-9) return face;
  } else {
    shift = -std::floor(v0 / (2 * kPi) + 1e-12) * 2 * kPi;
    if (v1 + shift > 2 * kPi + 1e-9) shift = 0;  // the arc passes v = 0: leave it where it is
  }
  const gp_Ax3 at(gp_Pnt(0, 0, c.Z()), gp::DZ(), gp::DX());
  Handle(Geom_Surface) exact;
  if (sphere)
    exact = new Geom_SphericalSurface(at, r);
  else
    exact = new Geom_ToroidalSurface(at, R, r);
  gp_Trsf2d map;
  if (mirrored) map.SetMirror(gp_Ax2d(gp_Pnt2d(0, 0), gp_Dir2d(1, 0)));
  gp_Trsf2d move;
  move.SetTranslation(gp_Vec2d(0, phi + shift));
  map = move * map;

  struct OnFace {
    TopoDS_Edge edge;
    Handle(Geom2d_Curve) c1, c2;
    double first, last, tol;
  };
  std::vector<OnFace> edges;
  TopTools_IndexedMapOfShape seen;
  for (TopExp_Explorer e(face, TopAbs_EDGE); e.More(); e.Next()) {
    if (seen.Add(e.Current()) != seen.Extent()) continue;
    OnFace o;
    o.edge = TopoDS::Edge(e.Current().Oriented(TopAbs_FORWARD));
    o.c1 = BRep_Tool::CurveOnSurface(o.edge, face, o.first, o.last);
    if (o.c1.IsNull()) return face;
    if (BRep_Tool::IsClosed(o.edge, face)) {
      double f, l;
      o.c2 = BRep_Tool::CurveOnSurface(TopoDS::Edge(o.edge.Reversed()), face, f, l);
      if (o.c2.IsNull()) return face;
      o.c2 = Handle(Geom2d_Curve)::DownCast(o.c2->Transformed(map));
    }
    o.c1 = Handle(Geom2d_Curve)::DownCast(o.c1->Transformed(map));
    o.tol = BRep_Tool::Tolerance(o.edge);
    edges.push_back(o);
  }
  // The new face on the torus, with the same wires (walked the other way where the map mirrors
  // them, and the face then turned over, so that the material stays where it was).
  BRep_Builder b;
  TopoDS_Face exactFace;
  b.MakeFace(exactFace, exact, loc, BRep_Tool::Tolerance(face));
  for (const OnFace& o : edges) {
    if (o.c2.IsNull()) {
      b.UpdateEdge(o.edge, o.c1, exactFace, o.tol);
      b.UpdateEdge(o.edge, Handle(Geom2d_Curve)(), old, loc, o.tol);
    } else {
      // Walked the other way, a seam's two sides change places.
      b.UpdateEdge(o.edge, mirrored ? o.c2 : o.c1, mirrored ? o.c1 : o.c2, exactFace, o.tol);
      b.UpdateEdge(o.edge, Handle(Geom2d_Curve)(), Handle(Geom2d_Curve)(), old, loc, o.tol);
    }
    b.Range(o.edge, exactFace, o.first, o.last);
  }
  for (TopoDS_Iterator w(face.Oriented(TopAbs_FORWARD)); w.More(); w.Next())
    b.Add(exactFace, mirrored ? w.Value().Reversed() : w.Value());
  exactFace.Orientation(face.Orientation());
  return mirrored ? TopoDS::Face(exactFace.Reversed()) : exactFace;
}

}  // namespace

TopoDS_Shape RevolveOnTori(const TopoDS_Face& face) { return RevolveOnTori(face, nullptr); }

TopoDS_Shape RevolveOnTori(const TopoDS_Face& face,
                           const std::function<bool(const gp_Circ&)>& onTorus) {
  const TopoDS_Shape s = Revolve(face);
  std::vector<TopoDS_Face> faces;
  bool changed = false;
  try {
    for (TopExp_Explorer f(s, TopAbs_FACE); f.More(); f.Next()) {
      const TopoDS_Face& one = TopoDS::Face(f.Current());
      faces.push_back(TurnArcFaceIntoTorus(one, onTorus));
      changed = changed || !faces.back().IsEqual(one);
    }
  } catch (const Standard_Failure&) {
    return Revolve(face);  // the faces were changed in place: turned again from the outline
  }
  return changed ? SolidOfFaces(faces) : s;
}

TopoDS_Shape CylinderZ(double r, double z0, double z1) {
  return BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(0, 0, z0), gp::DZ()), r, z1 - z0).Shape();
}

TopoDS_Shape ConeZ(double r0, double r1, double z0, double z1) {
  if (std::fabs(r0 - r1) < kSizeTolerance) return CylinderZ(r0, z0, z1);
  return BRepPrimAPI_MakeCone(gp_Ax2(gp_Pnt(0, 0, z0), gp::DZ()), r0, r1, z1 - z0).Shape();
}

TopoDS_Shape BoxXYZ(double x0, double y0, double z0, double x1, double y1, double z1) {
  return BRepPrimAPI_MakeBox(gp_Pnt(x0, y0, z0), gp_Pnt(x1, y1, z1)).Shape();
}

TopoDS_Shape PolygonPrism(int corners, double acrossFlats, double z0, double z1) {
  const double rc = acrossFlats / 2 / std::cos(kPi / corners);
  BRepBuilderAPI_MakePolygon poly;
  for (int i = 0; i < corners; ++i) {
    const double a = 2 * kPi * i / corners + kPi / corners;
    poly.Add(gp_Pnt(rc * std::cos(a), rc * std::sin(a), z0));
  }
  poly.Close();
  return Prism(BRepBuilderAPI_MakeFace(poly.Wire(), true).Face(), z1 - z0);
}

namespace {
template <class Op>
TopoDS_Shape RunBoolean(Op& op, const char* what) {
  op.SetRunParallel(false);
  op.Build();
  if (!op.IsDone() || op.HasErrors())
    Throw(QZ::eCodeFailure, std::string("the boolean ") + what + " failed");
  return op.Shape();
}
}  // namespace

TopoDS_Shape Fuse(const TopoDS_Shape& a, const TopoDS_Shape& b) {
  BRepAlgoAPI_Fuse op;
  TopTools_ListOfShape args, tools;
  args.Append(a);
  tools.Append(b);
  op.SetArguments(args);
  op.SetTools(tools);
  TopoDS_Shape r = RunBoolean(op, "fuse");
  return r;
}

TopoDS_Shape FuseAll(const std::vector<TopoDS_Shape>& shapes) {
  if (shapes.empty()) return TopoDS_Shape();
  if (shapes.size() == 1) return shapes[0];
  BRepAlgoAPI_Fuse op;
  TopTools_ListOfShape args, tools;
  args.Append(shapes[0]);
  for (size_t i = 1; i < shapes.size(); ++i) tools.Append(shapes[i]);
  op.SetArguments(args);
  op.SetTools(tools);
  TopoDS_Shape r = RunBoolean(op, "fuse");
  return r;
}

TopoDS_Shape Cut(const TopoDS_Shape& a, const TopoDS_Shape& b) { return CutAll(a, {b}); }

TopoDS_Shape CutAll(const TopoDS_Shape& a, const std::vector<TopoDS_Shape>& tools) {
  if (tools.empty()) return a;
  BRepAlgoAPI_Cut op;
  TopTools_ListOfShape args, list;
  args.Append(a);
  for (const auto& t : tools) list.Append(t);
  op.SetArguments(args);
  op.SetTools(list);
  return RunBoolean(op, "cut");
}

TopoDS_Shape Common(const TopoDS_Shape& a, const TopoDS_Shape& b) {
  BRepAlgoAPI_Common op;
  TopTools_ListOfShape args, tools;
  args.Append(a);
  tools.Append(b);
  op.SetArguments(args);
  op.SetTools(tools);
  return RunBoolean(op, "common");
}

CylinderBand CylinderBandZ(double r, double z0, double z1) {
  CylinderBand band;
  BRepPrimAPI_MakeCylinder make(gp_Ax2(gp_Pnt(0, 0, z0), gp::DZ()), r, z1 - z0);
  band.face = make.Face();
  for (TopExp_Explorer e(make.Shape(), TopAbs_FACE); e.More(); e.Next()) {
    const TopoDS_Face& f = TopoDS::Face(e.Current());
    if (f.IsSame(band.face)) continue;
    const TopoDS_Wire w = BRepTools::OuterWire(f);
    TopExp_Explorer v(w, TopAbs_VERTEX);
    if (!v.More()) continue;
    const double z = BRep_Tool::Pnt(TopoDS::Vertex(v.Current())).Z();
    if (std::fabs(z - z0) < std::fabs(z - z1))
      band.bottom = CounterClockwise(w);
    else
      band.top = CounterClockwise(w);
  }
  if (band.bottom.IsNull() || band.top.IsNull())
    Throw(QZ::eCodeFailure, "the cylinder has no end circles");
  return band;
}

TopoDS_Wire CounterClockwise(const TopoDS_Wire& w) {
  // Twice the signed area enclosed, from the integral of x dy - y dx along the edges (each as a
  // polygon of a few points: only the sign counts).
  double area = 0;
  for (TopExp_Explorer e(w, TopAbs_EDGE); e.More(); e.Next()) {
    const TopoDS_Edge& edge = TopoDS::Edge(e.Current());
    BRepAdaptor_Curve c(edge);
    const bool reversed = edge.Orientation() == TopAbs_REVERSED;
    const double u0 = reversed ? c.LastParameter() : c.FirstParameter();
    const double u1 = reversed ? c.FirstParameter() : c.LastParameter();
    const int n = 16;
    gp_Pnt a = c.Value(u0);
    for (int i = 1; i <= n; ++i) {
      const gp_Pnt b = c.Value(u0 + (u1 - u0) * i / n);
      area += a.X() * b.Y() - b.X() * a.Y();
      a = b;
    }
  }
  return area < 0 ? TopoDS::Wire(w.Reversed()) : w;
}

TopoDS_Face PlanarFace(const TopoDS_Wire& outer, const std::vector<TopoDS_Wire>& holes, double z,
                       bool up) {
  const TopoDS_Face f = FaceWithHoles(outer, holes, z);
  return up ? f : TopoDS::Face(f.Reversed());
}

namespace {
thread_local bool t_constructionProven = false;
}

void ConstructionProven() { t_constructionProven = true; }

bool TakeConstructionProven() {
  const bool proven = t_constructionProven;
  t_constructionProven = false;
  return proven;
}

TopoDS_Shape SolidOfFaces(const std::vector<TopoDS_Face>& faces) {
  BRep_Builder b;
  TopoDS_Shell shell;
  b.MakeShell(shell);
  for (const auto& f : faces) b.Add(shell, f);
  shell.Closed(true);
  TopoDS_Solid solid;
  b.MakeSolid(solid);
  b.Add(solid, shell);
  return solid;
}

TopoDS_Shape Compound(const std::vector<TopoDS_Shape>& shapes) {
  BRep_Builder b;
  TopoDS_Compound c;
  b.MakeCompound(c);
  for (const auto& s : shapes)
    if (!s.IsNull()) b.Add(c, s);
  return c;
}

TopoDS_Shape Moved(const TopoDS_Shape& s, const gp_Trsf& t) { return s.Moved(TopLoc_Location(t)); }

gp_Trsf RotationZ(double radians) {
  gp_Trsf t;
  t.SetRotation(gp::OZ(), radians);
  return t;
}

gp_Trsf Translation(double x, double y, double z) {
  gp_Trsf t;
  t.SetTranslation(gp_Vec(x, y, z));
  return t;
}

namespace {

// What is kept: solids by key, in the order of their last use (front: most recent), and the
// keys being built right now.
struct Memo {
  struct Entry {
    TopoDS_Shape solid;
    size_t faces = 0;
  };
  std::mutex lock;
  std::condition_variable built;  // a build of a key in `building` ended
  std::list<std::pair<std::string, Entry>> order;
  std::unordered_map<std::string, std::list<std::pair<std::string, Entry>>::iterator> byKey;
  std::unordered_set<std::string> building;
  size_t faces = 0;
  std::atomic<bool> enabled{true};

  // Under the lock.
  TopoDS_Shape Use(const std::string& key) {
    auto it = byKey.find(key);
    if (it == byKey.end()) return TopoDS_Shape();
    order.splice(order.begin(), order, it->second);
    return it->second->second.solid;
  }
  void Put(const std::string& key, const TopoDS_Shape& solid) {
    size_t n = 0;
    for (TopExp_Explorer e(solid, TopAbs_FACE); e.More(); e.Next()) ++n;
    if (auto it = byKey.find(key); it != byKey.end()) {
      faces -= it->second->second.faces;
      order.erase(it->second);
      byKey.erase(it);
    }
    order.push_front({key, Entry{solid, n}});
    byKey[key] = order.begin();
    faces += n;
    while (order.size() > 1 &&
           (order.size() > SolidMemo::kMaxKept || faces > SolidMemo::kMaxKeptFaces)) {
      faces -= order.back().second.faces;
      byKey.erase(order.back().first);
      order.pop_back();
    }
  }
};

Memo& TheMemo() {
  static Memo* memo = new Memo();  // lives as long as the process: solids outlive the callers
  return *memo;
}

}  // namespace

std::string SolidMemo::Key(const char* element, std::initializer_list<double> sizes) {
  // The sizes' exact bits: only the very same sizes give the same solid.
  std::string key(element);
  key += '\0';
  for (double v : sizes) {
    char bytes[sizeof v];
    std::memcpy(bytes, &v, sizeof v);
    key.append(bytes, sizeof v);
  }
  return key;
}

TopoDS_Shape SolidMemo::Find(const std::string& key) {
  Memo& m = TheMemo();
  std::lock_guard<std::mutex> lock(m.lock);
  return m.Use(key);
}

void SolidMemo::Keep(const std::string& key, const TopoDS_Shape& solid) {
  if (solid.IsNull()) return;
  Memo& m = TheMemo();
  std::lock_guard<std::mutex> lock(m.lock);
  m.Put(key, solid);
}

TopoDS_Shape SolidMemo::FindOrBuild(const std::string& key,
                                    const std::function<TopoDS_Shape()>& build) {
  Memo& m = TheMemo();
  {
    std::unique_lock<std::mutex> lock(m.lock);
    for (;;) {
      const TopoDS_Shape kept = m.Use(key);
      if (!kept.IsNull()) return kept;
      if (m.building.insert(key).second) break;  // this thread builds it
      m.built.wait(lock);                        // another one does: its result, or our turn
    }
  }
  auto done = [&](const TopoDS_Shape* solid) {
    {
      std::lock_guard<std::mutex> lock(m.lock);
      m.building.erase(key);
      if (solid) m.Put(key, *solid);
    }
    m.built.notify_all();
  };
  TopoDS_Shape solid;
  try {
    solid = build();
  } catch (...) {
    done(nullptr);
    throw;
  }
  done(solid.IsNull() ? nullptr : &solid);
  return solid;
}

size_t SolidMemo::Count() {
  Memo& m = TheMemo();
  std::lock_guard<std::mutex> lock(m.lock);
  return m.order.size();
}

void SolidMemo::Clear() {
  Memo& m = TheMemo();
  std::lock_guard<std::mutex> lock(m.lock);
  m.order.clear();
  m.byKey.clear();
  m.faces = 0;
}

void SolidMemo::SetEnabled(bool enabled) {
  TheMemo().enabled = enabled;
  if (!enabled) Clear();
}

bool SolidMemo::Enabled() { return TheMemo().enabled; }

TopoDS_Shape SingleSolid(const TopoDS_Shape& s, const char* element) {
  int n = 0;
  TopoDS_Shape one;
  for (TopExp_Explorer e(s, TopAbs_SOLID); e.More(); e.Next()) {
    ++n;
    one = e.Current();
  }
  if (n == 0) Throw(QZ::eCodeFailure, std::string(element) + ": the result holds no solid");
  return n == 1 ? one : s;
}

}  // namespace cad_engine
