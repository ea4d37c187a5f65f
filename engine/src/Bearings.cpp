// The bearing factory: a sliding bearing (bushing), the roller bearing and the 19 kinds of
// rolling bearing, each from its outside diameter dout, bore din and width B. The bearing's axis
// is z, its width runs from z = 0 to z = B.
//
// A rolling bearing is drawn in its meridian (xz) plane: rings (or washers, for thrust kinds)
// as outlines of revolution, and rows of rolling elements given by their centre, the tilt of
// their axis and their diameters. Each row's envelope (the element's meridian outline grown by
// a running clearance, turned about the bearing's axis) is cut from the rings, so the rings
// carry raceways and ribs and never touch the elements. Element counts follow from a spacing
// of 1.15 element widths on the pitch circle. The kinds are the rows of one table (kKinds), of
// the proportions the engine's README lists, read by one builder (Rolling).
#include "Context.h"
#include "Solids.h"

#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepPrimAPI_MakeRevol.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <ShapeCustom.hxx>
#include <Bnd_Box.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <gp_Ax2.hxx>
#include <gp_Ax3.hxx>
#include <gp_Circ.hxx>
#include <gp_Pln.hxx>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <iterator>
#include <vector>

namespace cad_engine {

namespace {

struct Row {
  bool ball = true;
  double r = 0, z = 0;    // centre in the meridian plane
  double tilt = 0;        // axis angle from +z towards +x (radians)
  double d1 = 0, d2 = 0;  // diameters at the two ends (ball: d1)
  double length = 0;      // roller length
  double crown = 0;       // barrel rollers: extra radius in the middle
};

// A circle in the meridian plane about (r, z): a sphere's when r is 0.
struct MeridianCircle {
  double r = 0, z = 0, R = 0;
};

// A ring (or washer): the solid the booleans cut the rows from (made when first asked for), its
// meridian outline in the xz plane with what is cut from it before the rows (the ring is that
// outline turned about the axis), the spheres among those cuts, and, when it is a plain tube,
// its meridian rectangle r0..r1 x z0..z1.
struct Ring {
  std::function<TopoDS_Shape()> solid;
  TopoDS_Face meridian;
  std::vector<TopoDS_Face> cuts;
  std::vector<MeridianCircle> spheres;
  bool tube = false;
  double r0 = 0, r1 = 0, z0 = 0, z1 = 0;
};

struct Plan {
  std::vector<Ring> rings;
  std::vector<Row> rows;
  double clearance = 0;
};

// A roller's meridian outline (grown by c) in local coordinates u across, v along its axis,
// then tilted and moved to its centre.
Outline RollerOutline(const Row& w, double c) {
  const double h = w.length / 2 + c, a = w.d1 / 2 + c, b = w.d2 / 2 + c;
  const double ct = std::cos(w.tilt), st = std::sin(w.tilt);
  auto at = [&](double u, double v) {
    // local v runs along the axis (tilted from z towards x), u across it.
    return gp_Pnt2d(w.r + u * ct + v * st, w.z - u * st + v * ct);
  };
  const gp_Pnt2d p0 = at(-a, -h), p1 = at(a, -h), p2 = at(b, h), p3 = at(-b, h);
  Outline o(p0);
  o.LineTo(p1.X(), p1.Y());
  if (w.crown > 0) {
    const gp_Pnt2d m = at((a + b) / 2 + w.crown, 0);
    o.ArcTo(m.X(), m.Y(), p2.X(), p2.Y());
  } else {
    o.LineTo(p2.X(), p2.Y());
  }
  o.LineTo(p3.X(), p3.Y());
  if (w.crown > 0) {
    const gp_Pnt2d m = at(-(a + b) / 2 - w.crown, 0);
    o.ArcTo(m.X(), m.Y(), p0.X(), p0.Y());
  }
  return o;
}

// The rolling element itself: a ball, or a roller turned about its own axis.
TopoDS_Shape Element(const Row& w) {
  if (w.ball) return BRepPrimAPI_MakeSphere(gp_Pnt(w.r, 0, w.z), w.d1 / 2).Shape();
  // Half the outline (u >= 0) turned about the local axis.
  const double h = w.length / 2;
  Outline o(gp_Pnt2d(0, -h));
  o.LineTo(w.d1 / 2, -h);
  if (w.crown > 0)
    o.ArcTo((w.d1 + w.d2) / 4 + w.crown, 0, w.d2 / 2, h);
  else
    o.LineTo(w.d2 / 2, h);
  o.LineTo(0, h);
  TopoDS_Shape roller = Revolve(o.Face(1));
  gp_Trsf tilt;
  tilt.SetRotation(gp::OY(), w.tilt);
  return PlaceShape(roller, Translation(w.r, 0, w.z) * tilt);
}

TopoDS_Shape Envelope(const Row& w, double c) {
  if (w.ball)
    return BRepPrimAPI_MakeTorus(gp_Ax2(gp_Pnt(0, 0, w.z), gp::DZ()), w.r, w.d1 / 2 + c).Shape();
  return Revolve(RollerOutline(w, c).Face(1));
}

// How many elements of width w fit on the circle of radius r (the narrowest place they pass).
int CountOnCircle(double w, double r) {
  const double s = 0.575 * w / r;
  if (s >= 1) return 0;
  return static_cast<int>(std::floor(kPi / std::asin(s)));
}

TopoDS_Face Rectangle(double r0, double r1, double z0, double z1) {
  Outline o(gp_Pnt2d(r0, z0));
  o.LineTo(r1, z0).LineTo(r1, z1).LineTo(r0, z1);
  return o.Face(1);
}

// A disc in the meridian plane. A torus's circle starts at its point farthest from the axis,
// where the kernel's torus has its seam (and a ball's envelope its split, see TurnedRing); a
// sphere's at its lower pole, on the axis, so that its arc within a ring stays whole.
TopoDS_Face Disc(const MeridianCircle& c) {
  const gp_Circ circle(gp_Ax2(gp_Pnt(c.r, 0, c.z), gp::DY(), c.r > 0 ? gp::DX() : -gp::DZ()), c.R);
  const TopoDS_Wire w = BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(circle).Edge()).Wire();
  return BRepBuilderAPI_MakeFace(gp_Pln(gp_Ax3(gp_Pnt(c.r, 0, c.z), gp::DY(), gp::DX())), w).Face();
}

Ring Tube(double r0, double r1, double z0, double z1) {
  Ring ring;
  ring.meridian = Rectangle(r0, r1, z0, z1);
  const TopoDS_Shape turned = Revolve(ring.meridian);
  ring.solid = [turned] { return turned; };
  ring.tube = true;
  ring.r0 = r0, ring.r1 = r1, ring.z0 = z0, ring.z1 = z1;
  return ring;
}

// A ring turned from its meridian outline.
Ring Turned(const TopoDS_Face& meridian) {
  Ring ring;
  ring.meridian = meridian;
  const TopoDS_Shape turned = Revolve(meridian);
  ring.solid = [turned] { return turned; };
  return ring;
}

// The ring `from` with the rectangles (r0, r1, z0, z1) cut from it.
Ring WithoutRectangles(const Ring& from, const std::vector<std::array<double, 4>>& rectangles) {
  Ring ring;
  ring.meridian = from.meridian;
  std::vector<TopoDS_Shape> tools;
  for (const auto& r : rectangles) {
    ring.cuts.push_back(Rectangle(r[0], r[1], r[2], r[3]));
    tools.push_back(Revolve(ring.cuts.back()));
  }
  const auto solid = from.solid;
  ring.solid = [solid, tools] { return CutAll(solid(), tools); };
  return ring;
}

// The rectangle r0..r1 x z0..z1 turned, without the sphere about (0, zc) of radius rs: a
// spherical raceway.
Ring WithoutSphere(double r0, double r1, double z0, double z1, double zc, double rs) {
  Ring ring;
  ring.meridian = Rectangle(r0, r1, z0, z1);
  ring.spheres.push_back({0, zc, rs});
  ring.cuts.push_back(Disc(ring.spheres.back()));
  ring.solid = [=] {
    const TopoDS_Shape body = r0 > 0 ? Tube(r0, r1, z0, z1).solid() : CylinderZ(r1, z0, z1);
    return Cut(body, BRepPrimAPI_MakeSphere(gp_Pnt(0, 0, zc), rs).Shape());
  };
  return ring;
}

std::atomic<bool> g_ringsCut{false};
std::atomic<long> g_ringsTurned{0};
std::atomic<long> g_ringsOfMeridians{0};

// A row's envelope in the meridian plane, where a tube's outline can take it as a groove: the
// circle of a ball's torus, or the rectangle of a roller whose axis runs along z or radially.
struct Meridian {
  bool circle = true;
  double cr = 0, cz = 0, R = 0;           // circle
  double a0 = 0, a1 = 0, b0 = 0, b1 = 0;  // rectangle r a0..a1, z b0..b1 (and the circle's box)
};

bool MeridianOf(const Row& w, double c, Meridian* m) {
  if (w.ball) {
    m->circle = true;
    m->cr = w.r;
    m->cz = w.z;
    m->R = w.d1 / 2 + c;
    m->a0 = m->cr - m->R, m->a1 = m->cr + m->R, m->b0 = m->cz - m->R, m->b1 = m->cz + m->R;
    return true;
  }
  if (w.crown > 0 || std::fabs(w.d1 - w.d2) > 0) return false;
  const double ct = std::fabs(std::cos(w.tilt)), st = std::fabs(std::sin(w.tilt));
  if (std::min(ct, st) > 1e-12) return false;
  const double h = w.length / 2 + c, a = w.d1 / 2 + c;
  const double hr = ct < st ? h : a, hz = ct < st ? a : h;
  m->circle = false;
  m->a0 = w.r - hr, m->a1 = w.r + hr, m->b0 = w.z - hz, m->b1 = w.z + hz;
  return true;
}

// One groove on a side of the rectangle: where it meets the side (from..to along the side's
// coordinate), and its steps in the direction the side is walked, from its entry.
struct Groove {
  double from = 0, to = 0;
  std::vector<OutlineStep> steps;  // the last step ends on the side again
};

// The tube with the envelopes cut from it, turned from its outline with the grooves drawn in;
// null when an envelope does not make a groove within one side of the outline (it reaches a
// corner, another groove or through the ring, or lies within it), for the boolean to cut.
TopoDS_Shape TurnedRing(const Ring& g, const std::vector<Meridian>& env) {
  const double tol = 1e-6 * std::max({g.r1, g.z1 - g.z0, 1.0});
  // Sides: 0 bottom (z0, r rising), 1 outside (r1, z rising), 2 top (z1, r falling),
  // 3 inside (r0, z falling).
  std::vector<Groove> sides[4];
  for (const Meridian& m : env) {
    if (m.a0 > g.r1 + tol || m.a1 < g.r0 - tol || m.b0 > g.z1 + tol || m.b1 < g.z0 - tol)
      continue;  // clear of the ring
    if (m.a0 >= g.r1 - tol || m.a1 <= g.r0 + tol || m.b0 >= g.z1 - tol || m.b1 <= g.z0 + tol)
      return TopoDS_Shape();  // touching it
    const bool in0 = m.a0 > g.r0 + tol, in1 = m.a1 < g.r1 - tol;
    const bool inB = m.b0 > g.z0 + tol, inT = m.b1 < g.z1 - tol;
    int side = -1;
    if (in0 && !in1 && inB && inT) side = 1;
    if (!in0 && in1 && inB && inT) side = 3;
    if (in0 && in1 && inB && !inT) side = 2;
    if (in0 && in1 && !inB && inT) side = 0;
    if (side < 0) return TopoDS_Shape();
    const bool radial = side == 1 || side == 3;  // the side runs along z at r = line
    const bool forward = side < 2;               // walked with its coordinate rising
    const double line = side == 0 ? g.z0 : side == 1 ? g.r1 : side == 2 ? g.z1 : g.r0;
    const double lo = radial ? g.z0 : g.r0, hi = radial ? g.z1 : g.r1;
    // Points given as (along the side, across it).
    auto P = [&](double along, double across) {
      return radial ? gp_Pnt2d(across, along) : gp_Pnt2d(along, across);
    };
    Groove gr;
    if (m.circle) {
      const double cAlong = radial ? m.cz : m.cr, cAcross = radial ? m.cr : m.cz;
      // Into the material: towards r0 from r1, r1 from r0, z0 from z1, z1 from z0.
      const double inward = (side == 1 || side == 2) ? -1 : 1;
      // The centre on or beyond the side, so that the arc within the ring is at most a half.
      if ((cAcross - line) * inward > 0) return TopoDS_Shape();
      const double off = std::fabs(cAcross - line);
      if (off > m.R - tol) return TopoDS_Shape();
      const double hc = std::sqrt(m.R * m.R - off * off);
      gr.from = cAlong - hc;
      gr.to = cAlong + hc;
      if (gr.from < lo + tol || gr.to > hi - tol) return TopoDS_Shape();
      OutlineStep st;
      st.arc = true;
      st.via = P(cAlong, cAcross + inward * m.R);
      st.to = P(forward ? gr.to : gr.from, line);
      if (side == 3) {
        // The groove in the inside of a ring passes the circle's point farthest from the axis,
        // where the ball's torus has its seam and the boolean splits the groove in two faces:
        // two arcs meeting there.
        const double a = std::atan2(hc, off);  // from the farthest point to the side
        OutlineStep first, second;
        first.arc = second.arc = true;
        first.via = gp_Pnt2d(m.cr + m.R * std::cos(a / 2), m.cz + m.R * std::sin(a / 2));
        first.to = gp_Pnt2d(m.cr + m.R, m.cz);
        second.via = gp_Pnt2d(m.cr + m.R * std::cos(a / 2), m.cz - m.R * std::sin(a / 2));
        second.to = st.to;
        gr.steps = {first, second};
      } else {
        gr.steps.push_back(st);
      }
    } else {
      const double f = radial ? m.b0 : m.a0, t = radial ? m.b1 : m.a1;
      const double bottom = (side == 1) ? m.a0 : (side == 3) ? m.a1 : (side == 2) ? m.b0 : m.b1;
      gr.from = f;
      gr.to = t;
      const double entry = forward ? f : t, exit = forward ? t : f;
      OutlineStep s1, s2, s3;
      s1.to = P(entry, bottom);
      s2.to = P(exit, bottom);
      s3.to = P(exit, line);
      gr.steps = {s1, s2, s3};
    }
    sides[side].push_back(gr);
  }
  for (auto& grooves : sides) {
    std::sort(grooves.begin(), grooves.end(),
              [](const Groove& a, const Groove& b) { return a.from < b.from; });
    for (size_t i = 1; i < grooves.size(); ++i)
      if (grooves[i].from < grooves[i - 1].to + tol) return TopoDS_Shape();
  }
  // The top and the inside are walked backwards.
  std::reverse(sides[2].begin(), sides[2].end());
  std::reverse(sides[3].begin(), sides[3].end());
  Outline o(gp_Pnt2d(g.r0, g.z0));
  const gp_Pnt2d corners[4] = {gp_Pnt2d(g.r1, g.z0), gp_Pnt2d(g.r1, g.z1), gp_Pnt2d(g.r0, g.z1),
                               gp_Pnt2d(g.r0, g.z0)};
  for (int k = 0; k < 4; ++k) {
    const bool radial = k == 1 || k == 3;
    const double line = k == 0 ? g.z0 : k == 1 ? g.r1 : k == 2 ? g.z1 : g.r0;
    for (const Groove& gr : sides[k]) {
      const double at = k < 2 ? gr.from : gr.to;
      const gp_Pnt2d entry = radial ? gp_Pnt2d(line, at) : gp_Pnt2d(at, line);
      o.LineTo(entry.X(), entry.Y());
      for (const OutlineStep& st : gr.steps) {
        if (st.arc)
          o.ArcTo(st.via.X(), st.via.Y(), st.to.X(), st.to.Y());
        else
          o.LineTo(st.to.X(), st.to.Y());
      }
    }
    if (k < 3) o.LineTo(corners[k].X(), corners[k].Y());
  }
  // The arcs turn into tori, the surfaces the boolean leaves of the ball's envelope.
  return RevolveOnTori(o.Face(1));
}

// The ring with the rows' envelopes cut from its meridian outline in its plane, and turned: the
// solid the booleans cut from the turned ring, since ring and envelopes are solids of revolution
// about the same axis. Arcs of the balls' circles and of the spheres turn into tori and spheres,
// as the kernel's torus and sphere leave them; the arcs of crowned rollers keep their curves and
// are turned as the envelopes' own arcs were. Null where the outline does not stay one face
// clear of the axis (the booleans then decide, as before).
TopoDS_Shape RingOfMeridian(const Ring& ring, const std::vector<Row>& rows, double clearance) {
  if (ring.meridian.IsNull()) return TopoDS_Shape();
  std::vector<TopoDS_Shape> tools(ring.cuts.begin(), ring.cuts.end());
  std::vector<MeridianCircle> exact = ring.spheres;
  for (const Row& w : rows) {
    if (w.ball) {
      exact.push_back({w.r, w.z, w.d1 / 2 + clearance});
      tools.push_back(Disc(exact.back()));
    } else {
      tools.push_back(RollerOutline(w, clearance).Face(1));
    }
  }
  TopoDS_Face outline;
  for (TopExp_Explorer f(CutAll(ring.meridian, tools), TopAbs_FACE); f.More(); f.Next()) {
    if (!outline.IsNull()) return TopoDS_Shape();  // the ring falls apart
    outline = TopoDS::Face(f.Current());
  }
  if (outline.IsNull()) return TopoDS_Shape();
  Bnd_Box box;
  BRepBndLib::Add(outline, box);
  double x0, y0, z0, x1, y1, z1;
  box.Get(x0, y0, z0, x1, y1, z1);
  if (x0 < 1e-6 * std::max(1.0, x1)) return TopoDS_Shape();  // it reaches the axis
  auto onTorus = [&](const gp_Circ& c) {
    const double tol = 1e-9 * std::max(1.0, c.Radius());
    for (const MeridianCircle& m : exact)
      if (std::fabs(c.Radius() - m.R) < tol && c.Location().Distance(gp_Pnt(m.r, 0, m.z)) < tol)
        return true;
    return false;
  };
  return RevolveOnTori(outline, onTorus);
}

TopoDS_Shape Build(const char* e, Plan& p) {
  std::vector<Meridian> meridians;
  bool drawable = !g_ringsCut;
  for (const Row& w : p.rows) {
    Meridian m;
    drawable = drawable && MeridianOf(w, p.clearance, &m);
    meridians.push_back(m);
  }
  std::vector<TopoDS_Shape> parts;
  bool allTurned = true;
  for (const Ring& ring : p.rings) {
    if (drawable && ring.tube) {
      const TopoDS_Shape turned = TurnedRing(ring, meridians);
      if (!turned.IsNull()) {
        parts.push_back(turned);
        ++g_ringsTurned;
        continue;
      }
    }
    allTurned = false;
    if (!g_ringsCut) {
      const TopoDS_Shape turned = RingOfMeridian(ring, p.rows, p.clearance);
      if (!turned.IsNull()) {
        parts.push_back(turned);
        ++g_ringsOfMeridians;
        continue;
      }
    }
    std::vector<TopoDS_Shape> envelopes;
    for (const Row& w : p.rows) envelopes.push_back(Envelope(w, p.clearance));
    const TopoDS_Shape cut = CutAll(ring.solid(), envelopes);
    int n = 0;
    for (TopExp_Explorer x(cut, TopAbs_SOLID); x.More(); x.Next()) ++n;
    if (n != 1) Refuse(e, "the rolling elements do not fit between the rings");
    parts.push_back(SingleSolid(cut, e));
  }
  for (const Row& w : p.rows) {
    const double width = w.ball ? w.d1 : std::max(w.d1, w.d2) + 2 * w.crown;
    // The narrowest circle the row passes: its centre less half its radial reach.
    const double reach = w.ball ? 0.0 : std::fabs(std::sin(w.tilt)) * w.length / 2;
    const int n = CountOnCircle(width, w.r - reach);
    if (n < 3) Refuse(e, "fewer than three rolling elements fit on the pitch circle");
    if (n > 2000) Refuse(e, "more than 2000 rolling elements in a row");
    const TopoDS_Shape one = Element(w);
    for (int i = 0; i < n; ++i) parts.push_back(Moved(one, RotationZ(2 * kPi * i / n)));
  }
  // Rings turned from their outlines (simple outlines: each groove within one side, apart from
  // the corners and the other grooves) and elements turned from theirs are valid for every size
  // the checks let through (the geometry tests analyse them over a spread of kinds and sizes);
  // a ring a boolean cut is analysed.
  if (allTurned) ConstructionProven();
  return Compound(parts);
}

void CheckSizes(const char* e, double dout, double din, double B) {
  NeedPositive(e, "dout", dout);
  NeedPositive(e, "din", din);
  NeedPositive(e, "B", B);
  NeedBelow(e, "din", din, "dout", dout);
  if ((dout - din) / 2 < 1e-3) Refuse(e, "the rings have no room");
  if (dout > 1e5 || B > 1e5) Refuse(e, "sizes above 100 m");
}

// The kinds of rolling bearing, as data. Proportions are taken of the rings' radial height
// H = (dout - din) / 2, the width B, the element diameter Dw and the roller length.
enum Of { kOfH, kOfB, kOfDw };

// k times one of the quantities above; k 0 stands for no term.
struct Share {
  double k = 0;
  Of of = kOfB;
};

// Where the rows of a kind lie along the axis.
enum Placement {
  kMiddle,    // one row at B / 2
  kQuarters,  // two rows at B / 4 and 3 B / 4
  kSpread,    // two rows at B / 2 -+ spread B
};

// How the rings (or washers) of a kind stand about its rows.
enum Layout {
  kRadial,         // an inner ring up to rm - inner Dw, an outer ring from rm + outer Dw
  kShouldered,     // as kRadial, the outer ring's shoulder lowered to rm + shoulder Dw outwards
                   // of each row (towards the nearer end; a row in the middle: towards B)
  kSplitInner,     // as kRadial, the inner ring in two halves at B / 2
  kSpherical,      // as kRadial, the outer ring's raceway a sphere about (0, B / 2)
  kWashers,        // washers inner Dw clear of the rows' centres: a housing washer at B, then
                   // shaft and housing washers alternating downwards
  kLippedWashers,  // as kWashers, each housing washer with a lip from rm + lip Dw to the
                   // outside reaching the centre of its row; a shaft washer between two of
                   // them ends at rm + outer Dw
  kLeaningThrust,  // a shaft washer up to B / 4, a housing washer from 0.45 B and rm - 0.1 H
};

// The radius of a spherical raceway: hypot(rm + r Dw, e + z length) + d Dw + length-share
// length, and the running clearance; e is a row's distance from B / 2. It reaches past the
// farthest point of the row's elements.
struct SphereReach {
  double r = 0, z = 0, d = 0, length = 0;
};

struct Kind {
  const char* name;
  bool ball = true;
  double dwOfH = 0, dwOfB = 0;  // Dw = min(dwOfH H, dwOfB B)
  Share length[2] = {};         // a roller's length: the smaller share (one given: that one)
  Placement rows = kMiddle;
  double spread = 0;        // kSpread, of B
  double tilt = 0;          // degrees of the roller's axis from z towards x; of rows
                            // spread about the middle, the second leans the other way
  double d1 = 1, d2 = 1;    // a roller's diameters at its ends, of Dw
  double crown = 0;         // a barrel roller's extra radius in its middle, of Dw
  double clearance = 0.02;  // of Dw
  Layout rings = kRadial;
  double inner = 0, outer = 0;  // of Dw, as the layout says
  double shoulder = 0;          // kShouldered, of Dw
  double lip = 0;               // kLippedWashers, of Dw
  bool sphereFromAxis = false;  // kSpherical: the outer ring turned from the axis out
  SphereReach sphere = {};      // kSpherical
};

// One row per rolling bearing type, in type order, as the engine's README lists them: first the
// rolling elements (diameter Dw, length, rows, tilt, shape, clearance), then the rings.
// clang-format off
const Kind kKinds[] = {
    {.name = "0 single row deep groove ball", .dwOfH = 0.6, .dwOfB = 0.7,
     .inner = 0.3, .outer = 0.3},
    {.name = "1 double row deep groove ball", .dwOfH = 0.6, .dwOfB = 0.4, .rows = kQuarters,
     .inner = 0.3, .outer = 0.3},
    {.name = "2 single row angular contact ball", .dwOfH = 0.6, .dwOfB = 0.7,
     .rings = kShouldered, .inner = 0.3, .outer = 0.3, .shoulder = 0.45},
    {.name = "3 double row angular contact ball", .dwOfH = 0.6, .dwOfB = 0.4, .rows = kQuarters,
     .rings = kShouldered, .inner = 0.3, .outer = 0.3, .shoulder = 0.45},
    {.name = "4 self-aligning ball", .dwOfH = 0.5, .dwOfB = 0.38, .rows = kSpread, .spread = 0.22,
     .rings = kSpherical, .inner = 0.3, .sphereFromAxis = true, .sphere = {.d = 0.5}},
    {.name = "5 four point contact", .dwOfH = 0.6, .dwOfB = 0.7,
     .rings = kSplitInner, .inner = 0.3, .outer = 0.3},
    {.name = "6 single direction thrust ball", .dwOfH = 0.6, .dwOfB = 0.7,
     .rings = kWashers, .inner = 0.2},
    {.name = "7 double direction thrust ball", .dwOfH = 0.6, .dwOfB = 0.35, .rows = kQuarters,
     .rings = kWashers, .inner = 0.2},
    {.name = "8 single direction angular contact thrust ball", .dwOfH = 0.6, .dwOfB = 0.7,
     .rings = kLippedWashers, .inner = 0.2, .lip = 0.6},
    {.name = "9 double direction angular contact thrust ball", .dwOfH = 0.6, .dwOfB = 0.35, .rows = kQuarters,
     .rings = kLippedWashers, .inner = 0.2, .outer = 0.55, .lip = 0.6},
    {.name = "10 single row cylindrical roller", .ball = false, .dwOfH = 0.5, .dwOfB = 0.6,
     .length = {{1, kOfDw}, {0.6, kOfB}},
     .inner = 0.2, .outer = 0.2},
    {.name = "11 double row cylindrical roller", .ball = false, .dwOfH = 0.5, .dwOfB = 0.35,
     .length = {{1, kOfDw}, {0.3, kOfB}}, .rows = kQuarters,
     .inner = 0.2, .outer = 0.2},
    {.name = "12 tapered roller", .ball = false, .dwOfH = 0.45, .dwOfB = 0.5,
     .length = {{0.6, kOfB}}, .tilt = 15, .d1 = 0.85, .d2 = 1.15, .clearance = 0.03,
     .inner = 0.15, .outer = 0.15},
    {.name = "13 barrel roller", .ball = false, .dwOfH = 0.5, .dwOfB = 0.6,
     .length = {{0.8, kOfDw}, {0.6, kOfB}}, .d1 = 0.85, .d2 = 0.85, .crown = 0.075, .clearance = 0.03,
     .rings = kSpherical, .inner = 0.2, .outer = 0.2, .sphere = {.r = 0.6, .z = 0.5}},
    {.name = "14 spherical roller", .ball = false, .dwOfH = 0.45, .dwOfB = 0.35,
     .length = {{0.9, kOfDw}, {0.35, kOfB}}, .rows = kSpread, .spread = 0.24, .tilt = 10,
     .d1 = 0.85, .d2 = 0.85, .crown = 0.075, .clearance = 0.03,
     .rings = kSpherical, .inner = 0.25, .outer = 0.2, .sphere = {.d = 0.5, .length = 0.2}},
    {.name = "15 single direction cylindrical roller thrust", .ball = false, .dwOfH = 0.4, .dwOfB = 0.45,
     .length = {{0.6, kOfH}}, .tilt = 90,
     .rings = kWashers, .inner = 0.3},
    {.name = "16 double direction cylindrical roller thrust", .ball = false, .dwOfH = 0.4, .dwOfB = 0.25,
     .length = {{0.6, kOfH}}, .rows = kQuarters, .tilt = 90,
     .rings = kWashers, .inner = 0.3},
    {.name = "17 spherical roller thrust", .ball = false, .dwOfH = 0.3, .dwOfB = 0.35,
     .length = {{0.5, kOfH}, {0.6, kOfB}}, .tilt = 45, .d1 = 0.85, .d2 = 0.85, .crown = 0.075,
     .clearance = 0.03,
     .rings = kLeaningThrust},
    {.name = "18 needle roller", .ball = false, .dwOfH = 0.2, .dwOfB = 0.3,
     .length = {{0.8, kOfB}},
     .inner = 0.3, .outer = 0.3},
};
// clang-format on
constexpr int kKindCount = static_cast<int>(std::size(kKinds));

// A washer with a lip: the plate z0..z1 from rIn to ro, and the lip from rLip to ro reaching
// to zLip (above the plate when zLip > z1, below it otherwise).
Ring LippedWasher(double rIn, double rLip, double ro, double z0, double z1, double zLip) {
  Outline o(gp_Pnt2d(rIn, z0));
  if (zLip > z1) {
    o.LineTo(ro, z0).LineTo(ro, zLip).LineTo(rLip, zLip).LineTo(rLip, z1);
  } else {
    o.LineTo(rLip, z0).LineTo(rLip, zLip).LineTo(ro, zLip).LineTo(ro, z1);
  }
  o.LineTo(rIn, z1);
  return Turned(o.Face(1));
}

TopoDS_Shape Rolling(const char* e, double dout, double din, double B, int type) {
  CheckSizes(e, dout, din, B);
  if (type < 0 || type >= kKindCount)
    Refuse(e, "the rolling bearing type must lie between 0 and 18");
  const Kind& k = kKinds[type];
  const double ri = din / 2, ro = dout / 2, H = ro - ri, rm = (ro + ri) / 2;
  const double d = std::min(k.dwOfH * H, k.dwOfB * B);
  auto of = [&](const Share& s) { return s.k * (s.of == kOfH ? H : s.of == kOfB ? B : d); };
  const double len =
      k.length[1].k > 0 ? std::min(of(k.length[0]), of(k.length[1])) : of(k.length[0]);
  Plan p;
  p.clearance = k.clearance * d;

  std::vector<double> zs;
  if (k.rows == kMiddle) zs = {B / 2};
  if (k.rows == kQuarters) zs = {B / 4, 3 * B / 4};
  if (k.rows == kSpread) zs = {B / 2 - k.spread * B, B / 2 + k.spread * B};
  for (size_t i = 0; i < zs.size(); ++i) {
    Row w;
    w.ball = k.ball;
    w.r = rm;
    w.z = zs[i];
    if (k.ball) {
      w.d1 = d;
    } else {
      w.tilt = i == 1 && k.rows == kSpread ? -Radians(k.tilt) : Radians(k.tilt);
      w.d1 = k.d1 * d;
      w.d2 = k.d2 * d;
      w.length = len;
      w.crown = k.crown * d;
    }
    p.rows.push_back(w);
  }

  const double fit = 0.04 * H;  // shaft washers fit the bore, housing washers the outside
  switch (k.rings) {
    case kRadial:
      p.rings.push_back(Tube(ri, rm - k.inner * d, 0, B));
      p.rings.push_back(Tube(rm + k.outer * d, ro, 0, B));
      break;
    case kShouldered: {
      p.rings.push_back(Tube(ri, rm - k.inner * d, 0, B));
      std::vector<std::array<double, 4>> shoulders;
      for (double z : zs)
        shoulders.push_back(z < B / 2 ? std::array<double, 4>{rm, rm + k.shoulder * d, -1, z}
                                      : std::array<double, 4>{rm, rm + k.shoulder * d, z, B + 1});
      p.rings.push_back(WithoutRectangles(Tube(rm + k.outer * d, ro, 0, B), shoulders));
      break;
    }
    case kSplitInner:
      p.rings.push_back(Tube(ri, rm - k.inner * d, 0, B / 2));
      p.rings.push_back(Tube(ri, rm - k.inner * d, B / 2, B));
      p.rings.push_back(Tube(rm + k.outer * d, ro, 0, B));
      break;
    case kSpherical: {
      const SphereReach& s = k.sphere;
      const double offset = k.rows == kSpread ? k.spread * B : 0;
      const double rs =
          std::hypot(rm + s.r * d, offset + s.z * len) + s.d * d + s.length * len + p.clearance;
      if (rs >= ro - 0.05 * H) Refuse(e, "the outer ring is too thin for a spherical raceway");
      p.rings.push_back(Tube(ri, rm - k.inner * d, 0, B));
      p.rings.push_back(
          WithoutSphere(k.sphereFromAxis ? 0 : rm + k.outer * d, ro, 0, B, B / 2, rs));
      break;
    }
    case kWashers:
    case kLippedWashers: {
      // From the bottom: the washers between 0, the rows and B; the top one is a housing
      // washer and the sides alternate downwards.
      const bool lipped = k.rings == kLippedWashers;
      const size_t n = zs.size() + 1;
      for (size_t i = 0; i < n; ++i) {
        const double z0 = i == 0 ? 0 : zs[i - 1] + k.inner * d;
        const double z1 = i + 1 == n ? B : zs[i] - k.inner * d;
        const bool housing = (n - 1 - i) % 2 == 0;
        if (housing && lipped)
          p.rings.push_back(
              LippedWasher(ri + fit, rm + k.lip * d, ro, z0, z1, i == 0 ? zs[0] : zs[i - 1]));
        else if (housing)
          p.rings.push_back(Tube(ri + fit, ro, z0, z1));
        else if (lipped && i > 0 && i + 1 < n)
          p.rings.push_back(Tube(ri, rm + k.outer * d, z0, z1));
        else
          p.rings.push_back(Tube(ri, ro - fit, z0, z1));
      }
      break;
    }
    case kLeaningThrust:
      p.rings.push_back(Tube(ri, ro - fit, 0, B * 0.25));
      p.rings.push_back(Tube(rm - 0.1 * H, ro, B * 0.45, B));
      break;
  }
  return Build(e, p);
}

TopoDS_Shape Sliding(double dout, double din, double B) {
  const char* e = "SlidingBearing";
  CheckSizes(e, dout, din, B);
  const double ri = din / 2, ro = dout / 2;
  const double c = std::min({0.15 * (ro - ri), 0.1 * B, 1.0});
  Outline o(gp_Pnt2d(ri + c, 0));
  o.LineTo(ro - c, 0).LineTo(ro, c).LineTo(ro, B - c).LineTo(ro - c, B).LineTo(ri + c, B);
  o.LineTo(ri, B - c).LineTo(ri, c);
  return Revolve(o.Face(1));
}

class CBearingFactory final : public QZ::CAD::IBearingFactory {
 public:
  QZ::CAD::IShape* RollerBearing(double dout, double din, double B) override {
    return BuildCached("RollerBearing", {dout, din, B},
                       [&] { return Rolling("RollerBearing", dout, din, B, 10); });
  }
  QZ::CAD::IShape* SlidingBearing(double dout, double din, double B) override {
    return BuildCached("SlidingBearing", {dout, din, B}, [&] { return Sliding(dout, din, B); });
  }
  QZ::CAD::IShape* RollingBearing(double dout, double din, double B, int type) override {
    return BuildCached("RollingBearing", {dout, din, B, double(type)},
                       [&] { return Rolling("RollingBearing", dout, din, B, type); });
  }
};

}  // namespace

void SetBearingRingsCut(bool cut) { g_ringsCut = cut; }
long BearingRingsTurned() { return g_ringsTurned; }
long BearingRingsOfMeridians() { return g_ringsOfMeridians; }

QZ::CAD::IBearingFactory* BearingFactory() {
  static CBearingFactory factory;
  return &factory;
}

}  // namespace cad_engine
