// The shaft factory: shaft builders whose sections are solids of revolution about the z axis
// (outer and inner diameters at both ends, chamfered ends for negative lch, rounded ends for
// positive lch), the six kinds of groove cut into a section, and the planet carrier.
//
// A shaft builder lays its sections out one after the other along z: a section's pos is its
// distance from the end of the section added before it (from z = 0 for the first), so a
// section at position 0 adjoins the previous one and a shaft whose sections are all at
// position 0 is one piece. A section then runs from its start to its start + l.
//
// Grooves are placed by x, their distance from the section's start, and cut from the outer
// surface inwards by their depth t measured from the outer diameter at x. Angles are degrees
// about the z axis, 0 on +x.
//
// The turned grooves (rectangular, circular, chevron) of a section that has nothing but turned
// grooves yet are drawn into the section's outline, which is turned again: the same solid as
// cutting a turned tool from it, and many times quicker. A groove that reaches a chamfer, a
// rounding or another groove, and every groove after a cross hole, key groove or slot, is cut
// with its tool.
#include "Context.h"
#include "Solids.h"

#include <BRepCheck_Analyzer.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <gp_Ax2.hxx>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace cad_engine {

namespace {

struct SectionSizes {
  double pos, r1, r2, rin1, rin2, l;
  double Outer(double z) const { return r1 + (r2 - r1) * (z - pos) / l; }
  double Inner(double z) const { return rin1 + (rin2 - rin1) * (z - pos) / l; }
};

class CSectionShape final : public RefCounted<QZ::CAD::ISectionShape>, public KernelShape {
 public:
  // outline: the corners the solid was turned from; the outer line runs from corner lineStart
  // to the next one, straight between z = straight0 and straight1.
  CSectionShape(const TopoDS_Shape& s, const SectionSizes& sizes, std::vector<Corner> outline,
                size_t lineStart, double straight0, double straight1)
      : m_shape(s),
        m_sizes(sizes),
        m_outline(std::move(outline)),
        m_lineStart(lineStart),
        m_straight0(straight0),
        m_straight1(straight1) {}

  const TopoDS_Shape& Kernel() const override { return m_shape; }
  // What made the solid so far (the section's sizes, then its grooves), under which sections
  // of the same sizes and grooves share it; empty: not shared.
  void SetKey(std::string key) { m_key = std::move(key); }

  QZ::CAD::IShape* Placed(const double* matrix) override {
    return Guard("Placed", [&]() -> QZ::CAD::IShape* {
      return new CShape(m_shape, PlaceShape(m_shape, ToTrsf(matrix)));
    });
  }
  bool GetBoundingBox(double* box6) override { return CShape(m_shape).GetBoundingBox(box6); }
  double GetVolume() override { return CShape(m_shape).GetVolume(); }
  bool IsValid() override { return CShape(m_shape).IsValid(); }
  int GetSolidCount() override { return CShape(m_shape).GetSolidCount(); }

  void AddGrooveRectangular(double x, double m, double t, double r) override {
    Guard("GrooveRectangular", [&] {
      Kept("GrooveRectangular", {x, m, t, r}, [&] {
        const char* e = "GrooveRectangular";
        NeedPositive(e, "m", m);
        NeedNotNegative(e, "r", r);
        const double z0 = At(e, x, m);
        const double R = std::min(m_sizes.Outer(z0), m_sizes.Outer(z0 + m));
        Depth(e, t, z0, z0 + m);
        if (2 * r > m + kSizeTolerance || r > t + kSizeTolerance)
          Refuse(e, "the radius r must fit the groove's width m and depth t");
        const double bottom = R - t;
        if (Turn({z0,
                  z0 + m,
                  {{m_sizes.Outer(z0), z0},
                   {bottom, z0, r},
                   {bottom, z0 + m, r},
                   {m_sizes.Outer(z0 + m), z0 + m}}}))
          return;
        const double top = R + 1;
        Outline o =
            RoundedPolygon(e, {{top, z0}, {bottom, z0, r}, {bottom, z0 + m, r}, {top, z0 + m}});
        CutTool(e, Revolve(o.Face(1)));
      });
    });
  }
  void AddNotchChevron(double x, double t) override {
    Guard("NotchChevron", [&] {
      Kept("NotchChevron", {x, t}, [&] {
        const char* e = "NotchChevron";
        const double z0 = At(e, x, 0);
        // A 90 degree V notch: as wide at the surface as it is twice deep.
        Depth(e, t, z0 - t, z0 + t);
        const double R = m_sizes.Outer(z0), over = 1;
        // Where the flanks meet the outer line r = R + k (z - z0).
        const double k = (m_sizes.r2 - m_sizes.r1) / m_sizes.l;
        if (std::fabs(k) < 0.9) {
          const double zl = z0 - t / (1 + k), zr = z0 + t / (1 - k);
          if (Turn({zl, zr, {{m_sizes.Outer(zl), zl}, {R - t, z0}, {m_sizes.Outer(zr), zr}}}))
            return;
        }
        Outline o(gp_Pnt2d(R - t, z0));
        o.LineTo(R + over, z0 - t - over).LineTo(R + over, z0 + t + over);
        CutTool(e, Revolve(o.Face(1)));
      });
    });
  }
  void AddGrooveCircular(double x, double t, double r) override {
    Guard("GrooveCircular", [&] {
      Kept("GrooveCircular", {x, t, r}, [&] {
        const char* e = "GrooveCircular";
        NeedPositive(e, "r", r);
        const double z0 = At(e, x, 0);
        if (t > r + kSizeTolerance) Refuse(e, "the depth t must not exceed the radius r");
        const double half = std::sqrt(std::max(0.0, r * r - (r - t) * (r - t)));
        Depth(e, t, z0 - half, z0 + half);
        const double R = m_sizes.Outer(z0);
        // Where the circle about (R - t + r, z0) meets the outer line r = R + k (z - z0): with
        // w = z - z0, (k w + t - r)^2 + w^2 = r^2.
        const double k = (m_sizes.r2 - m_sizes.r1) / m_sizes.l, a = t - r;
        const double disc = r * r * (1 + k * k) - a * a;
        if (t < r - kSizeTolerance && disc > 0) {
          const double w0 = (-k * a - std::sqrt(disc)) / (1 + k * k);
          const double w1 = (-k * a + std::sqrt(disc)) / (1 + k * k);
          const double za = z0 + w0, zb = z0 + w1;
          Dip dip{za, zb, {{m_sizes.Outer(za), za}, {m_sizes.Outer(zb), zb}}};
          dip.arcVia = gp_Pnt2d(R - t, z0);
          dip.arc = true;
          dip.centre = gp_Pnt2d(R - t + r, z0);
          dip.radius = r;
          if (Turn(dip)) return;
        }
        CutTool(e, BRepPrimAPI_MakeTorus(gp_Ax2(gp_Pnt(0, 0, z0), gp::DZ()), R - t + r, r).Shape());
      });
    });
  }
  void AddCrossHole(double x, double t, double r, double angle) override {
    Guard("CrossHole", [&] {
      Kept("CrossHole", {x, t, r, angle}, [&] {
        const char* e = "CrossHole";
        NeedPositive(e, "r", r);
        NeedFinite(e, "angle", angle);
        const double z0 = At(e, x, 0);
        if (z0 - r < m_sizes.pos - kSizeTolerance ||
            z0 + r > m_sizes.pos + m_sizes.l + kSizeTolerance)
          Refuse(e, "the hole must lie inside the section");
        NeedPositive(e, "t", t);
        const double R = m_sizes.Outer(z0);
        const double from = std::max(R - t, -R - 1);  // deeper than the diameter: a through hole
        if (2 * r >= 2 * std::min(m_sizes.r1, m_sizes.r2))
          Refuse(e, "the hole is wider than the shaft");
        const double a = Radians(angle);
        const gp_Dir dir(std::cos(a), std::sin(a), 0);
        const gp_Pnt start(from * dir.X(), from * dir.Y(), z0);
        CutTool(e, BRepPrimAPI_MakeCylinder(gp_Ax2(start, dir), r, R + 1 - from).Shape());
      });
    });
  }
  void AddGrooveParallelKey(double x, double l, double t, double r, double angle) override {
    Guard("GrooveParallelKey", [&] {
      Kept("GrooveParallelKey", {x, l, t, r, angle}, [&] {
        const char* e = "GrooveParallelKey";
        NeedPositive(e, "l", l);
        NeedPositive(e, "r", r);
        NeedFinite(e, "angle", angle);
        const double z0 = At(e, x, l);
        Depth(e, t, z0, z0 + l);
        if (2 * r > l + kSizeTolerance) Refuse(e, "the key width 2 r must not exceed its length l");
        if (r >= std::min(m_sizes.Outer(z0), m_sizes.Outer(z0 + l)))
          Refuse(e, "the key groove is wider than the shaft");
        const double R = std::max(m_sizes.Outer(z0), m_sizes.Outer(z0 + l));
        const double bottom = std::min(m_sizes.Outer(z0), m_sizes.Outer(z0 + l)) - t;
        // A stadium in a local xy plane (u along the shaft, v across), raised along local z.
        Outline o(gp_Pnt2d(r, -r));
        o.LineTo(l - r, -r).ArcTo(l, 0, l - r, r).LineTo(r, r).ArcTo(0, 0, r, -r);
        const TopoDS_Shape local = Prism(o.Face(0, 0), R + 1 - bottom);
        gp_Trsf place;
        // local x -> axial z, local y -> -y, local z -> radial x; then to z0, the bottom, the
        // angle.
        place.SetValues(0, 0, 1, bottom, 0, -1, 0, 0, 1, 0, 0, z0);
        CutTool(e, PlaceLocal(local, RotationZ(Radians(angle)) * place));
      });
    });
  }
  void AddSlots(double x, double l, unsigned int n, double d, double win, double wout) override {
    Guard("Slots", [&] {
      Kept("Slots", {x, l, double(n), d, win, wout}, [&] {
        const char* e = "Slots";
        NeedPositive(e, "l", l);
        NeedPositive(e, "d", d);
        NeedPositive(e, "win", win);
        NeedPositive(e, "wout", wout);
        if (n < 1 || n > 1000) Refuse(e, "the number of slots n must lie between 1 and 1000");
        const double z0 = At(e, x, l);
        const double R = std::max(m_sizes.Outer(z0), m_sizes.Outer(z0 + l));
        const double Rmin = std::min(m_sizes.Outer(z0), m_sizes.Outer(z0 + l));
        if (d / 2 >= Rmin - kSizeTolerance)
          Refuse(e, "the slot bottom d must lie inside the shaft");
        if (d / 2 <= std::max(m_sizes.Inner(z0), m_sizes.Inner(z0 + l)) + kSizeTolerance)
          Refuse(e, "the slot bottom d must lie outside the bore");
        const double rb = d / 2, top = R + 1;
        // The flanks run from win at the bottom to wout at the outer surface, and on beyond it.
        const double slope = (wout - win) / 2 / (Rmin - rb);
        const double halfTop = win / 2 + slope * (top - rb);
        if (halfTop <= 0) Refuse(e, "the slots close before the surface");
        if (std::max(win, wout) / 2 >= rb * std::sin(kPi / n) * 0.999 && n > 1)
          Refuse(e, "the slots overlap one another");
        Outline o(gp_Pnt2d(rb, -win / 2));
        o.LineTo(top, -halfTop).LineTo(top, halfTop).LineTo(rb, win / 2);
        const TopoDS_Shape one = Prism(o.Face(0, z0), l);
        std::vector<TopoDS_Shape> tools;
        for (unsigned int i = 0; i < n; ++i)
          tools.push_back(Moved(one, RotationZ(2 * kPi * i / n)));
        CutTool(e, Compound(tools));
      });
    });
  }

 private:
  // Start of a groove of width w at x; refuses a groove outside the section.
  double At(const char* e, double x, double w) const {
    NeedNotNegative(e, "x", x);
    if (x + w > m_sizes.l + kSizeTolerance) Refuse(e, "the groove reaches beyond the section");
    return m_sizes.pos + x;
  }
  // Depth t must stay outside the bore between z0 and z1.
  void Depth(const char* e, double t, double z0, double z1) const {
    NeedPositive(e, "t", t);
    z0 = std::max(z0, m_sizes.pos);
    z1 = std::min(z1, m_sizes.pos + m_sizes.l);
    for (double z : {z0, z1})
      if (m_sizes.Outer(z) - t <= m_sizes.Inner(z) + kSizeTolerance)
        Refuse(e, "the depth t reaches the bore (or the axis)");
  }
  static TopoDS_Shape PlaceLocal(const TopoDS_Shape& s, const gp_Trsf& t) {
    return PlaceShape(s, t);
  }
  // Cuts a groove's tool from the solid; from then on the outline no longer describes it.
  void CutTool(const char* what, const TopoDS_Shape& tool) {
    const TopoDS_Shape cut = SingleSolid(Cut(m_shape, tool), what);
    BRepCheck_Analyzer check(cut);
    if (!check.IsValid())
      Throw(QZ::eCodeInvalidParameter, std::string(what) + ": the groove gives no valid solid");
    m_shape = cut;
    m_turnedOnly = false;
  }

  // A turned groove as a stretch of the outline between z0 and z1: corners from where it
  // leaves the outer line to where it comes back (with rounded corners), or, for an arc, the
  // two points on the line and a point of the arc between them.
  struct Dip {
    double z0, z1;
    std::vector<Corner> corners;
    bool arc = false;
    gp_Pnt2d arcVia = gp_Pnt2d();
    gp_Pnt2d centre = gp_Pnt2d();  // the arc's circle
    double radius = 0;
  };

  // Draws the groove into the outline and turns it again; false (nothing changed) when the
  // groove does not lie on the straight outer line clear of the other grooves.
  bool Turn(const Dip& dip) {
    constexpr double kClear = 1e-6;
    if (!m_turnedOnly) return false;
    if (dip.z0 < m_straight0 + kClear || dip.z1 > m_straight1 - kClear) return false;
    for (const Dip& d : m_dips)
      if (dip.z0 < d.z1 + kClear && d.z0 < dip.z1 + kClear) return false;
    std::vector<Dip> dips = m_dips;
    dips.insert(std::upper_bound(dips.begin(), dips.end(), dip,
                                 [](const Dip& a, const Dip& b) { return a.z0 < b.z0; }),
                dip);
    // The outline in order: the corners up to the outer line's start, the grooves, the rest.
    struct Step {
      Corner c;
      bool arc = false;
      gp_Pnt2d via = gp_Pnt2d();
    };
    std::vector<Step> steps;
    for (size_t i = 0; i <= m_lineStart; ++i) steps.push_back({m_outline[i]});
    for (const Dip& d : dips)
      for (size_t j = 0; j < d.corners.size(); ++j) {
        Step st{d.corners[j]};
        if (d.arc && j + 1 == d.corners.size()) {
          st.arc = true;
          st.via = d.arcVia;
        }
        steps.push_back(st);
      }
    for (size_t i = m_lineStart + 1; i < m_outline.size(); ++i) steps.push_back({m_outline[i]});
    TopoDS_Shape solid;
    try {
      Outline o(gp_Pnt2d(steps[0].c.u, steps[0].c.v));
      for (size_t i = 1; i < steps.size(); ++i) {
        const Step& st = steps[i];
        const Corner& next = steps[(i + 1) % steps.size()].c;
        if (st.arc)
          o.ArcTo(st.via.X(), st.via.Y(), st.c.u, st.c.v);
        else if (st.c.r > 0)
          o.CornerTo(st.c.u, st.c.v, next.u, next.v, st.c.r);
        else
          o.LineTo(st.c.u, st.c.v);
      }
      // A circular groove's arc turns into the torus the cutting tool is; the section's own
      // roundings stay the surfaces of revolution the section was turned with.
      solid = RevolveOnTori(o.Face(1), [&](const gp_Circ& c) {
        for (const Dip& d : dips) {
          const double tol = 1e-9 * std::max(1.0, d.radius);
          if (d.arc && std::fabs(c.Radius() - d.radius) < tol &&
              c.Location().Distance(gp_Pnt(d.centre.X(), 0, d.centre.Y())) < tol)
            return true;
        }
        return false;
      });
    } catch (QZ::IException* e) {
      if (e) e->Release();
      return false;  // an outline the kernel cannot turn: the groove is cut instead
    }
    BRepCheck_Analyzer check(solid);
    if (!check.IsValid()) return false;
    m_shape = solid;
    m_dips = std::move(dips);
    return true;
  }

  // A groove: the section that the same section with the same grooves became before, or the
  // groove cut (and kept for the next such section). A groove that fails keeps nothing.
  struct State {
    TopoDS_Shape shape;
    std::vector<Dip> dips;
    bool turnedOnly = true;
  };
  template <class F>
  void Kept(const char* groove, std::initializer_list<double> sizes, F&& cut) {
    if (m_key.empty() || !SolidMemo::Enabled()) return cut();
    const std::string key = m_key + SolidMemo::Key(groove, sizes);
    {
      std::lock_guard<std::mutex> lock(StatesLock());
      auto it = States().find(key);
      if (it != States().end()) {
        m_shape = it->second.shape;
        m_dips = it->second.dips;
        m_turnedOnly = it->second.turnedOnly;
        m_key = key;
        return;
      }
    }
    cut();
    m_key = key;
    std::lock_guard<std::mutex> lock(StatesLock());
    if (States().size() >= kMaxStates) States().clear();
    States()[key] = State{m_shape, m_dips, m_turnedOnly};
  }
  static constexpr size_t kMaxStates = 1024;
  static std::unordered_map<std::string, State>& States() {
    static auto* states = new std::unordered_map<std::string, State>();
    return *states;
  }
  static std::mutex& StatesLock() {
    static std::mutex lock;
    return lock;
  }

  TopoDS_Shape m_shape;
  std::string m_key;
  SectionSizes m_sizes;
  std::vector<Corner> m_outline;
  size_t m_lineStart;
  double m_straight0, m_straight1;
  std::vector<Dip> m_dips;   // the turned grooves drawn into the outline, by z
  bool m_turnedOnly = true;  // the solid is still the outline turned
};

// A section starting at z = start (its pos already laid out by the builder).
QZ::CAD::ISectionShape* NewSection(double start, double dout1, double dout2, double din1,
                                   double din2, double l, double lch1, double lch2) {
  const char* e = "ShaftSection";
  const double pos = start;
  NeedPositive(e, "dout1", dout1);
  NeedPositive(e, "dout2", dout2);
  NeedNotNegative(e, "din1", din1);
  NeedNotNegative(e, "din2", din2);
  NeedPositive(e, "l", l);
  NeedFinite(e, "lch1", lch1);
  NeedFinite(e, "lch2", lch2);
  NeedBelow(e, "din1", din1, "dout1", dout1);
  NeedBelow(e, "din2", din2, "dout2", dout2);
  const SectionSizes s{pos, dout1 / 2, dout2 / 2, din1 / 2, din2 / 2, l};
  const double end = pos + l;
  const double wall = std::min(s.r1 - s.rin1, s.r2 - s.rin2);
  for (double ch : {lch1, lch2}) {
    if (std::fabs(ch) >= l / 2 + kSizeTolerance)
      Refuse(e, "a chamfer or rounding must be shorter than half the section");
    if (std::fabs(ch) >= wall + kSizeTolerance)
      Refuse(e, "a chamfer or rounding must be smaller than the wall");
  }
  std::vector<Corner> c;
  c.push_back({s.rin1, pos});
  if (lch1 < -1e-6) {
    c.push_back({s.r1 + lch1, pos});
    c.push_back({s.Outer(pos - lch1), pos - lch1});
  } else {
    c.push_back({s.r1, pos, lch1 > 1e-6 ? lch1 : 0.0});
  }
  if (lch2 < -1e-6) {
    c.push_back({s.Outer(end + lch2), end + lch2});
    c.push_back({s.r2 + lch2, end});
  } else {
    c.push_back({s.r2, end, lch2 > 1e-6 ? lch2 : 0.0});
  }
  c.push_back({s.rin2, end});
  auto turn = [&] {
    const TopoDS_Shape turned = Revolve(RoundedPolygon(e, c).Face(1));
    BRepCheck_Analyzer check(turned);
    if (!check.IsValid()) Refuse(e, "the parameters give no valid solid");
    return turned;
  };
  std::string key;
  if (SolidMemo::Enabled())
    key = SolidMemo::Key(e, {start, dout1, dout2, din1, din2, l, lch1, lch2});
  const TopoDS_Shape solid = key.empty() ? turn() : SolidMemo::FindOrBuild(key, turn);
  // Where the outer line is straight: after a chamfer, or the axial length of a rounding's arc
  // (its tangent length along the line, as the outline's corner rounding makes it).
  const double k = (s.r2 - s.r1) / l, n = std::sqrt(1 + k * k);
  auto arcLength = [&](double radius, double cosInner) {
    return radius / std::tan(std::acos(cosInner) / 2) / n;
  };
  const double straight0 = lch1 < -1e-6  ? pos - lch1
                           : lch1 > 1e-6 ? pos + arcLength(lch1, -k / n)
                                         : pos;
  const double straight1 = lch2 < -1e-6  ? end + lch2
                           : lch2 > 1e-6 ? end - arcLength(lch2, k / n)
                                         : end;
  const size_t lineStart = lch1 < -1e-6 ? 2 : 1;
  auto* section = new CSectionShape(solid, s, std::move(c), lineStart, straight0, straight1);
  section->SetKey(std::move(key));
  return section;
}

class CShaftBuilder final : public RefCounted<QZ::CAD::IShaftBuilder> {
 public:
  int GetSectionCount() override { return static_cast<int>(m_sections.size()); }
  QZ::CAD::IShape* GetShape() override {
    return Guard("GetShape", [&]() -> QZ::CAD::IShape* {
      if (m_sections.empty()) return nullptr;
      std::vector<TopoDS_Shape> all;
      for (const auto& s : m_sections) all.push_back(ShapeOf(s.Get()));
      return new CShape(Compound(all));
    });
  }
  QZ::CAD::ISectionShape* AddSection(double pos, double dout1, double dout2, double din1,
                                     double din2, double l, double lch1, double lch2) override {
    return Guard("AddSection", [&] {
      if (m_sections.size() >= 10000) Throw(QZ::eCodeInvalidUse, "too many shaft sections");
      NeedFinite("ShaftSection", "pos", pos);
      const double start = m_end + pos;
      QZ::CAD::ISectionShape* s = NewSection(start, dout1, dout2, din1, din2, l, lch1, lch2);
      s->AddRef();
      m_sections.push_back(QZ::ObjPtr<QZ::CAD::ISectionShape>(s));
      m_end = start + l;
      return s;
    });
  }

 private:
  std::vector<QZ::ObjPtr<QZ::CAD::ISectionShape>> m_sections;
  double m_end = 0;  // where the last section ends: the next one's position counts from here
};

// A planet carrier: a plate of radius 1.35 r and thickness l / 5 with a central bore of radius
// r / 5, carrying n pins of radius 0.15 r (less when the pins would touch) at radius r that
// reach to z = l.
TopoDS_Shape Carrier(unsigned int n, double r, double l) {
  const char* e = "PlanetCarrier";
  if (n < 1 || n > 100) Refuse(e, "the number of planets n must lie between 1 and 100");
  NeedPositive(e, "r", r);
  NeedPositive(e, "l", l);
  const double plate = l / 5;
  const double pin = n > 1 ? std::min(0.15 * r, 0.8 * r * std::sin(kPi / n)) : 0.15 * r;
  std::vector<TopoDS_Shape> parts;
  parts.push_back(Cut(CylinderZ(1.35 * r, 0, plate), CylinderZ(r / 5, -1, plate + 1)));
  for (unsigned int i = 0; i < n; ++i) {
    const double a = 2 * kPi * i / n;
    parts.push_back(
        Moved(CylinderZ(pin, plate, l), Translation(r * std::cos(a), r * std::sin(a), 0)));
  }
  return SingleSolid(FuseAll(parts), e);
}

class CShaftFactory final : public QZ::CAD::IShaftFactory {
 public:
  QZ::CAD::IShaftBuilder* NewShaftBuilder() override {
    return Guard("NewShaftBuilder",
                 [] { return static_cast<QZ::CAD::IShaftBuilder*>(new CShaftBuilder()); });
  }
  QZ::CAD::IShape* PlanetCarrier(unsigned int n, double r, double l) override {
    return BuildChecked("PlanetCarrier", [&] { return Carrier(n, r, l); });
  }
};

}  // namespace

QZ::CAD::IShaftFactory* ShaftFactory() {
  static CShaftFactory factory;
  return &factory;
}

}  // namespace cad_engine
