// The shaft recogniser: reads a solid's B-rep faces as a turned part.
//
// The common axis is the axis shared by the largest area of cylinders and cones. Every face
// must then be one of: a cylinder, cone or torus about that axis; a plane perpendicular to it;
// or part of a feature cut into the surface (a cross hole, a parallel-key groove or a slot:
// planes parallel to the axis and cylinders whose axis crosses it at a right angle). Anything
// else (another surface kind, a second axis, material standing out of the surface) means the
// solid is not a shaft and the answer is null.
//
// Sections: each solid of the shape is cut at the planes perpendicular to the axis where the
// outer surface steps (no outer line runs on across the plane). Within a section the outer
// line with the longest run is its surface (outer diameters at both ends, extrapolated over the
// chamfers), a cone or convex torus at an end is a chamfer (negative length) or a rounding
// (positive radius), and the remaining outer faces are grouped by their axial overlap into
// grooves: a bottom cylinder (with concave corner tori) is a rectangular groove, one concave
// torus a circular groove, two cones meeting at the bottom a chevron notch. A narrower stretch
// between two stretches of one diameter is therefore read as a rectangular groove; a cone
// meeting a cylinder without a plane between them is read as one section only when one of
// them is a chamfer.
//
// Values are in the shaft's own frame: the placement's z axis is the shaft axis, its origin
// the axis point at the shaft's start; a section's position is its distance from the end of the
// section before it (from the start for the first), groove positions are measured from their
// section's start, and angles (degrees) about z from the placement's x axis.
#include "Context.h"
#include "Shape.h"

#include <Adaptor3d_Curve.hxx>
#include <BRepAdaptor_Curve.hxx>
#include <BRepAdaptor_Surface.hxx>
#include <BRepGProp.hxx>
#include <BRepLProp_SLProps.hxx>
#include <BRepTools.hxx>
#include <BRep_Tool.hxx>
#include <GProp_GProps.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopTools_ListOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Edge.hxx>
#include <TopoDS_Face.hxx>
#include <gp_Ax1.hxx>
#include <gp_Circ.hxx>
#include <gp_Cone.hxx>
#include <gp_Lin.hxx>
#include <gp_Cylinder.hxx>
#include <gp_Pln.hxx>
#include <gp_Torus.hxx>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <numeric>
#include <vector>

namespace cad_engine {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kAngular = 1e-6;  // parallel directions
constexpr double kLinear = 1e-5;   // mm: coaxial lines, equal radii
constexpr double kAxial = 1e-4;    // mm: faces meeting along the axis
constexpr int kSamplesPerEdge = 16;
constexpr int kMaxFaces = 200000;

// ---- results handed to the viewer ----

class CRecognizeGroove final : public RefCounted<QZ::CAD::IRecognizeGroove> {
 public:
  int type = 0;
  QZ::CAD::RecognizeNotchBlock notch{};
  QZ::CAD::RecognizeRectangularBlock rect{};
  QZ::CAD::RecognizeCrossHoleBlock hole{};
  QZ::CAD::RecognizeParallelKeyBlock key{};
  QZ::CAD::RecognizeSlotsBlock slots{};
  QZ::CAD::RecognizeCircularBlock circular{};
  double x = 0;  // for ordering within the section

  int GetType() override { return type; }
  void* GetNotch(QZ::CAD::RecognizeNotchBlock* out) override { return Give(out, notch, 1); }
  void* GetRectangular(QZ::CAD::RecognizeRectangularBlock* out) override {
    return Give(out, rect, 2);
  }
  void* GetCrossHole(QZ::CAD::RecognizeCrossHoleBlock* out) override { return Give(out, hole, 3); }
  void* GetParallelKey(QZ::CAD::RecognizeParallelKeyBlock* out) override {
    return Give(out, key, 4);
  }
  void* GetSlots(QZ::CAD::RecognizeSlotsBlock* out) override { return Give(out, slots, 5); }
  void* GetCircular(QZ::CAD::RecognizeCircularBlock* out) override {
    return Give(out, circular, 6);
  }

 private:
  // The block of another type reads as zeros.
  template <class B>
  void* Give(B* out, const B& block, int blockType) {
    if (!out) Throw(QZ::eCodeInvalidParameter, "no buffer for the groove's values");
    *out = type == blockType ? block : B{};
    return out;
  }
};

class CRecognizeSection final : public RefCounted<QZ::CAD::IRecognizeSection> {
 public:
  std::array<double, 8> values{};  // pos, dout1, dout2, din1, din2, l, lch1, lch2
  std::vector<QZ::ObjPtr<CRecognizeGroove>> grooves;

  int GetGrooveCount() override { return static_cast<int>(grooves.size()); }
  QZ::CAD::IRecognizeGroove* GetGroove(int index) override {
    if (index < 0 || index >= GetGrooveCount())
      Throw(QZ::eCodeOutOfRange, "groove index " + std::to_string(index) + " out of range");
    return grooves[static_cast<size_t>(index)].AddRefGet();
  }
  double* GetValues(double* out8) override {
    if (!out8) Throw(QZ::eCodeInvalidParameter, "no buffer for the section's values");
    std::copy(values.begin(), values.end(), out8);
    return out8;
  }
  void SetValues(double pos, double dout1, double dout2, double din1, double din2, double l,
                 double lch1, double lch2) override {
    const std::array<double, 8> v{pos, dout1, dout2, din1, din2, l, lch1, lch2};
    for (double d : v)
      if (!std::isfinite(d)) Throw(QZ::eCodeInvalidParameter, "section values must be finite");
    values = v;
  }
};

class CRecognizeShaft final : public RefCounted<QZ::CAD::IRecognizeShaft> {
 public:
  std::array<double, 12> matrix{};
  std::vector<QZ::ObjPtr<CRecognizeSection>> sections;

  double* GetMatrix(double* out12) override {
    if (!out12) Throw(QZ::eCodeInvalidParameter, "no buffer for the matrix");
    std::copy(matrix.begin(), matrix.end(), out12);
    return out12;
  }
  int GetSectionCount() override { return static_cast<int>(sections.size()); }
  QZ::CAD::IRecognizeSection* GetSection(int index) override {
    if (index < 0 || index >= GetSectionCount())
      Throw(QZ::eCodeOutOfRange, "section index " + std::to_string(index) + " out of range");
    return sections[static_cast<size_t>(index)].AddRefGet();
  }
};

// ---- geometry ----

// The shaft's frame: origin on the axis, z along it.
struct Frame {
  gp_Pnt o;
  gp_Dir x, y, z;
  double Z(const gp_Pnt& p) const { return gp_Vec(o, p).Dot(gp_Vec(z)); }
  double R(const gp_Pnt& p) const {
    const gp_Vec v(o, p);
    return std::hypot(v.Dot(gp_Vec(x)), v.Dot(gp_Vec(y)));
  }
  // Degrees about z from x, of a direction across the axis.
  double Angle(const gp_Vec& v) const {
    double a = std::atan2(v.Dot(gp_Vec(y)), v.Dot(gp_Vec(x))) * 180 / kPi;
    if (a < 0) a += 360;
    if (a >= 360 - 1e-9) a = 0;
    return a;
  }
  // The part of v across the axis.
  gp_Vec Across(const gp_Vec& v) const { return v - gp_Vec(z) * v.Dot(gp_Vec(z)); }
};

enum class Kind { Plane, Cylinder, Cone, Torus, Other };

struct FaceInfo {
  TopoDS_Face face;
  Kind kind = Kind::Other;
  gp_Ax1 axis;  // cylinders, cones, tori: their axis; planes: the normal
  double radius = 0, minor = 0;
  double area = 0;
  std::vector<gp_Pnt> samples;  // points on the boundary
  // Filled against the shaft frame.
  bool coaxial = false, perpendicular = false, outward = false, concave = false;
  double z0 = 0, z1 = 0;    // axial range
  double rz0 = 0, rz1 = 0;  // radius at z0 and z1 (cylinders and cones)
  int cluster = -1;
};

gp_Pnt PointOn(const TopoDS_Face& f, gp_Vec* normal) {
  BRepAdaptor_Surface s(f);
  double u0, u1, v0, v1;
  BRepTools::UVBounds(f, u0, u1, v0, v1);
  BRepLProp_SLProps props(s, 0.5 * (u0 + u1), 0.5 * (v0 + v1), 1, 1e-9);
  gp_Vec n(0, 0, 0);
  if (props.IsNormalDefined()) {
    n = gp_Vec(props.Normal());
    if (f.Orientation() == TopAbs_REVERSED) n.Reverse();
  }
  if (normal) *normal = n;
  return props.Value();
}

FaceInfo Describe(const TopoDS_Face& f) {
  FaceInfo info;
  info.face = f;
  // A mesh face has no surface: not a turned part.
  if (BRep_Tool::Surface(f).IsNull()) return info;
  BRepAdaptor_Surface s(f, true);
  switch (s.GetType()) {
    case GeomAbs_Plane: {
      info.kind = Kind::Plane;
      gp_Dir n = s.Plane().Axis().Direction();
      if (f.Orientation() == TopAbs_REVERSED) n.Reverse();
      info.axis = gp_Ax1(s.Plane().Location(), n);
      break;
    }
    case GeomAbs_Cylinder:
      info.kind = Kind::Cylinder;
      info.axis = s.Cylinder().Axis();
      info.radius = s.Cylinder().Radius();
      break;
    case GeomAbs_Cone:
      info.kind = Kind::Cone;
      info.axis = s.Cone().Axis();
      break;
    case GeomAbs_Torus:
      info.kind = Kind::Torus;
      info.axis = s.Torus().Axis();
      info.radius = s.Torus().MajorRadius();
      info.minor = s.Torus().MinorRadius();
      break;
    case GeomAbs_SurfaceOfRevolution: {
      // What turning a profile gives: lines and arcs swept about an axis.
      const gp_Ax1 axis = s.AxeOfRevolution();
      const Handle(Adaptor3d_Curve) basis = s.BasisCurve();
      const gp_Lin axisLine(axis);
      if (basis->GetType() == GeomAbs_Line) {
        const gp_Lin line = basis->Line();
        info.axis = axis;
        if (line.Direction().IsParallel(axis.Direction(), kAngular)) {
          info.kind = Kind::Cylinder;
          info.radius = axisLine.Distance(line.Location());
        } else if (line.Direction().IsNormal(axis.Direction(), kAngular)) {
          info.kind = Kind::Plane;
          info.axis = gp_Ax1(line.Location(), axis.Direction());
        } else {
          info.kind = Kind::Cone;
        }
      } else if (basis->GetType() == GeomAbs_Circle) {
        const gp_Circ c = basis->Circle();
        const double major = axisLine.Distance(c.Location());
        if (major > kLinear) {
          const gp_Vec along(axis.Direction());
          const double h = gp_Vec(axis.Location(), c.Location()).Dot(along);
          info.kind = Kind::Torus;
          info.axis = gp_Ax1(axis.Location().Translated(along * h), axis.Direction());
          info.radius = major;
          info.minor = c.Radius();
        }
      }
      break;
    }
    default: info.kind = Kind::Other;
  }
  GProp_GProps props;
  BRepGProp::SurfaceProperties(f, props);
  info.area = props.Mass();
  for (TopExp_Explorer e(f, TopAbs_EDGE); e.More(); e.Next()) {
    const TopoDS_Edge& edge = TopoDS::Edge(e.Current());
    if (BRep_Tool::Degenerated(edge)) continue;
    BRepAdaptor_Curve c(edge);
    const double a = c.FirstParameter(), b = c.LastParameter();
    if (!std::isfinite(a) || !std::isfinite(b)) continue;
    for (int i = 0; i <= kSamplesPerEdge; ++i)
      info.samples.push_back(c.Value(a + (b - a) * i / kSamplesPerEdge));
  }
  return info;
}

bool SameLine(const gp_Ax1& a, const gp_Ax1& b) {
  if (!a.IsParallel(b, kAngular)) return false;
  return gp_Lin(a).Distance(b.Location()) < kLinear;
}

// An axis through the shaft axis at a right angle (cross holes, key-groove ends).
bool Radial(const gp_Ax1& a, const gp_Ax1& shaft) {
  if (!a.IsNormal(shaft, kAngular)) return false;
  return gp_Lin(shaft).Distance(gp_Lin(a)) < kLinear;
}

// An outer (or bore) line r = r0 + slope (z - z0) over [z0, z1].
struct Line {
  double z0, z1, r0, r1;
  double At(double z) const {
    return z1 - z0 > 1e-12 ? r0 + (r1 - r0) * (z - z0) / (z1 - z0) : 0.5 * (r0 + r1);
  }
  double Slope() const { return z1 - z0 > 1e-12 ? (r1 - r0) / (z1 - z0) : 0; }
  bool Same(const Line& o) const {
    return std::fabs(Slope() - o.Slope()) < 1e-7 && std::fabs(At(o.z0) - o.r0) < kLinear;
  }
};

Line LineOf(const FaceInfo& f) { return Line{f.z0, f.z1, f.rz0, f.rz1}; }

// A stretch of one solid along the axis that is one section.
struct Stretch {
  double za, zb;
  std::vector<const FaceInfo*> outer, bore;
};

// Leaves the recognition: the solid is no shaft.
[[noreturn]] void NotAShaft() { throw 0; }

class Recognition {
 public:
  explicit Recognition(const TopoDS_Shape& shape) : m_shape(shape) {}

  QZ::CAD::IRecognizeShaft* Run() {
    try {
      return Recognise();
    } catch (int) {
      return nullptr;
    }
  }

 private:
  QZ::CAD::IRecognizeShaft* Recognise() {
    std::vector<TopoDS_Shape> solids;
    for (TopExp_Explorer e(m_shape, TopAbs_SOLID); e.More(); e.Next())
      solids.push_back(e.Current());
    if (solids.empty()) return nullptr;
    for (const TopoDS_Shape& s : solids)
      for (TopExp_Explorer e(s, TopAbs_FACE); e.More(); e.Next()) {
        if (static_cast<int>(m_faces.size()) >= kMaxFaces) return nullptr;
        m_faces.push_back(Describe(TopoDS::Face(e.Current())));
        m_solidOf.push_back(static_cast<int>(&s - solids.data()));
      }
    FindAxis();
    Classify();
    auto shaft = QZ::ObjPtr<CRecognizeShaft>(new CRecognizeShaft());
    // Sections of every solid, ordered along the axis.
    std::vector<std::pair<double, QZ::ObjPtr<CRecognizeSection>>> all;
    for (size_t s = 0; s < solids.size(); ++s)
      for (Stretch& st : Stretches(static_cast<int>(s)))
        all.emplace_back(st.za, SectionOf(st, static_cast<int>(s)));
    if (all.empty()) return nullptr;
    std::stable_sort(all.begin(), all.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // The frame's origin moves to the shaft's start; each section's position is its distance
    // from the end of the section before it (from the start for the first), as the shaft
    // builder lays sections out: 0 for sections that adjoin.
    const double start = all.front().first;
    m_frame.o = m_frame.o.Translated(gp_Vec(m_frame.z) * start);
    double end = start;
    for (auto& [za, section] : all) {
      section->values[0] = za - end;
      end = za + section->values[5];
      shaft->sections.push_back(section);
    }
    const gp_Dir& x = m_frame.x;
    const gp_Dir& y = m_frame.y;
    const gp_Dir& z = m_frame.z;
    const gp_Pnt& o = m_frame.o;
    shaft->matrix = {x.X(), y.X(), z.X(), o.X(), x.Y(), y.Y(),
                     z.Y(), o.Y(), x.Z(), y.Z(), z.Z(), o.Z()};
    return shaft.Detach();
  }

  // The axis shared by the largest area of cylinders and cones.
  void FindAxis() {
    std::vector<std::pair<gp_Ax1, double>> axes;
    for (const FaceInfo& f : m_faces) {
      if (f.kind != Kind::Cylinder && f.kind != Kind::Cone) continue;
      auto it = std::find_if(axes.begin(), axes.end(),
                             [&](const auto& a) { return SameLine(a.first, f.axis); });
      if (it == axes.end())
        axes.emplace_back(f.axis, f.area);
      else
        it->second += f.area;
    }
    if (axes.empty()) NotAShaft();
    const auto best = std::max_element(
        axes.begin(), axes.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    gp_Dir z = best->first.Direction();
    // One orientation for every axis line: its largest component positive.
    const double cx = z.X(), cy = z.Y(), cz = z.Z();
    const double big = std::fabs(cx) >= std::fabs(cy) && std::fabs(cx) >= std::fabs(cz) ? cx
                       : std::fabs(cy) >= std::fabs(cz)                                 ? cy
                                                                                        : cz;
    if (big < 0) z.Reverse();
    gp_Vec ref = std::fabs(z.X()) < 0.9 ? gp_Vec(1, 0, 0) : gp_Vec(0, 1, 0);
    ref -= gp_Vec(z) * ref.Dot(gp_Vec(z));
    m_frame.z = z;
    m_frame.x = gp_Dir(ref);
    m_frame.y = z.Crossed(m_frame.x);
    // The origin: the foot of the world origin on the axis.
    const gp_Vec toOrigin(best->first.Location(), gp_Pnt(0, 0, 0));
    m_frame.o = best->first.Location().Translated(gp_Vec(z) * toOrigin.Dot(gp_Vec(z)));
    m_axis = gp_Ax1(m_frame.o, z);
  }

  void Classify() {
    for (FaceInfo& f : m_faces) {
      if (f.kind == Kind::Other || f.samples.empty()) NotAShaft();
      f.z0 = 1e300;
      f.z1 = -1e300;
      for (const gp_Pnt& p : f.samples) {
        const double z = m_frame.Z(p);
        if (z < f.z0) {
          f.z0 = z;
          f.rz0 = m_frame.R(p);
        }
        if (z > f.z1) {
          f.z1 = z;
          f.rz1 = m_frame.R(p);
        }
      }
      switch (f.kind) {
        case Kind::Plane:
          f.perpendicular = f.axis.IsParallel(m_axis, kAngular);
          if (!f.perpendicular && !f.axis.IsNormal(m_axis, kAngular)) NotAShaft();
          break;
        case Kind::Cylinder:
        case Kind::Cone:
        case Kind::Torus:
          f.coaxial = SameLine(f.axis, m_axis);
          if (f.coaxial) {
            gp_Vec n;
            const gp_Pnt p = PointOn(f.face, &n);
            const gp_Vec radial = m_frame.Across(gp_Vec(m_frame.o, p));
            f.outward = n.Dot(radial) > 0;
            if (f.kind == Kind::Torus) {
              // Convex (material inside the tube): a rounding; concave: a groove.
              const double zc = m_frame.Z(f.axis.Location());
              const gp_Vec dir =
                  radial.Magnitude() > 1e-12 ? radial.Normalized() : gp_Vec(m_frame.x);
              const gp_Pnt tube = m_frame.o.Translated(gp_Vec(m_frame.z) * zc + dir * f.radius);
              f.concave = n.Dot(gp_Vec(tube, p)) < 0;
              f.outward = true;
            }
          } else if (f.kind != Kind::Cylinder || !Radial(f.axis, m_axis)) {
            NotAShaft();
          }
          break;
        case Kind::Other: NotAShaft();
      }
    }
  }

  // The solid's stretches: cut at the perpendicular planes where no outer line runs across.
  std::vector<Stretch> Stretches(int solid) {
    double za = 1e300, zb = -1e300;
    std::vector<const FaceInfo*> outer, bore;
    std::vector<double> planes;
    for (size_t i = 0; i < m_faces.size(); ++i) {
      if (m_solidOf[i] != solid) continue;
      const FaceInfo& f = m_faces[i];
      za = std::min(za, f.z0);
      zb = std::max(zb, f.z1);
      if (f.coaxial) (f.outward ? outer : bore).push_back(&f);
      if (f.perpendicular) planes.push_back(f.z0);
    }
    if (outer.empty() || zb - za < kAxial) NotAShaft();
    // Lines of the outer cylinders and cones with their runs.
    std::vector<std::pair<Line, std::pair<double, double>>> lines;
    for (const FaceInfo* f : outer) {
      if (f->kind == Kind::Torus) continue;
      const Line l = LineOf(*f);
      auto it =
          std::find_if(lines.begin(), lines.end(), [&](const auto& x) { return x.first.Same(l); });
      if (it == lines.end())
        lines.push_back({l, {f->z0, f->z1}});
      else
        it->second = {std::min(it->second.first, f->z0), std::max(it->second.second, f->z1)};
    }
    std::sort(planes.begin(), planes.end());
    std::vector<double> cuts{za};
    for (double z : planes) {
      if (z < cuts.back() + kAxial || z > zb - kAxial) continue;
      const bool bridged = std::any_of(lines.begin(), lines.end(), [&](const auto& x) {
        return x.second.first < z - kAxial && x.second.second > z + kAxial;
      });
      if (!bridged) cuts.push_back(z);
    }
    cuts.push_back(zb);
    std::vector<Stretch> out;
    for (size_t k = 0; k + 1 < cuts.size(); ++k) {
      Stretch st{cuts[k], cuts[k + 1], {}, {}};
      for (const FaceInfo* f : outer)
        if (f->z0 > st.za - kAxial && f->z1 < st.zb + kAxial) st.outer.push_back(f);
      for (const FaceInfo* f : bore)
        if (f->z0 < st.zb - kAxial && f->z1 > st.za + kAxial) st.bore.push_back(f);
      if (st.outer.empty()) NotAShaft();
      out.push_back(std::move(st));
    }
    return out;
  }

  QZ::ObjPtr<CRecognizeSection> SectionOf(const Stretch& st, int solid) {
    auto section = QZ::ObjPtr<CRecognizeSection>(new CRecognizeSection());
    const double za = st.za, zb = st.zb;
    // The surface: the outer line with the longest run.
    std::vector<std::pair<Line, double>> lines;
    for (const FaceInfo* f : st.outer) {
      if (f->kind == Kind::Torus) continue;
      const Line l = LineOf(*f);
      auto it =
          std::find_if(lines.begin(), lines.end(), [&](const auto& x) { return x.first.Same(l); });
      if (it == lines.end())
        lines.push_back({l, f->z1 - f->z0});
      else
        it->second += f->z1 - f->z0;
    }
    if (lines.empty()) NotAShaft();
    const Line base =
        std::max_element(lines.begin(), lines.end(), [](const auto& a, const auto& b) {
          return a.second < b.second;
        })->first;
    double lch1 = 0, lch2 = 0;
    std::vector<const FaceInfo*> rest;
    for (const FaceInfo* f : st.outer) {
      if (f->kind != Kind::Torus && LineOf(*f).Same(base)) continue;
      const bool atStart = std::fabs(f->z0 - za) < kAxial;
      const bool atEnd = std::fabs(f->z1 - zb) < kAxial;
      if (f->kind == Kind::Cone && atStart && f->rz0 < base.At(za) - kLinear) {
        lch1 = -(f->z1 - za);
      } else if (f->kind == Kind::Cone && atEnd && f->rz1 < base.At(zb) - kLinear) {
        lch2 = -(zb - f->z0);
      } else if (f->kind == Kind::Torus && !f->concave && atStart) {
        lch1 = f->minor;
      } else if (f->kind == Kind::Torus && !f->concave && atEnd) {
        lch2 = f->minor;
      } else {
        rest.push_back(f);
      }
    }
    double din1 = 0, din2 = 0;
    if (!st.bore.empty()) {
      const FaceInfo* widest = *std::max_element(
          st.bore.begin(), st.bore.end(),
          [](const FaceInfo* a, const FaceInfo* b) { return a->z1 - a->z0 < b->z1 - b->z0; });
      if (widest->kind == Kind::Torus) NotAShaft();
      const Line l = LineOf(*widest);
      din1 = 2 * l.At(za);
      din2 = 2 * l.At(zb);
    }
    section->values = {za, 2 * base.At(za), 2 * base.At(zb), din1, din2, zb - za, lch1, lch2};
    std::vector<QZ::ObjPtr<CRecognizeGroove>> grooves = Revolved(rest, base, za);
    for (auto& g : Features(st, base, solid)) grooves.push_back(g);
    std::stable_sort(grooves.begin(), grooves.end(),
                     [](const auto& a, const auto& b) { return a->x < b->x - kAxial; });
    section->grooves = std::move(grooves);
    return section;
  }

  // Grooves turned into the surface, from the outer faces off the surface line.
  std::vector<QZ::ObjPtr<CRecognizeGroove>> Revolved(std::vector<const FaceInfo*> rest,
                                                     const Line& base, double za) {
    std::vector<QZ::ObjPtr<CRecognizeGroove>> out;
    std::sort(rest.begin(), rest.end(),
              [](const FaceInfo* a, const FaceInfo* b) { return a->z0 < b->z0; });
    for (size_t i = 0; i < rest.size();) {
      std::vector<const FaceInfo*> dip{rest[i]};
      double g0 = rest[i]->z0, g1 = rest[i]->z1;
      size_t j = i + 1;
      while (j < rest.size() && rest[j]->z0 < g1 + kAxial) {
        g1 = std::max(g1, rest[j]->z1);
        dip.push_back(rest[j++]);
      }
      i = j;
      int cylinders = 0, cones = 0, tori = 0;
      const FaceInfo* bottom = nullptr;
      for (const FaceInfo* f : dip) {
        if (f->kind == Kind::Cylinder) ++cylinders, bottom = f;
        if (f->kind == Kind::Cone) ++cones;
        if (f->kind == Kind::Torus) {
          if (!f->concave) NotAShaft();
          ++tori;
          if (!bottom) bottom = f;
        }
      }
      auto g = QZ::ObjPtr<CRecognizeGroove>(new CRecognizeGroove());
      g->x = g0 - za;
      if (cylinders == 1 && cones == 0 && (tori == 0 || tori == 2)) {
        const double rb = bottom->radius;
        const double corner =
            tori ? dip.front()->kind == Kind::Torus ? dip.front()->minor : dip.back()->minor : 0.0;
        g->type = 2;
        g->rect = {g0 - za, std::min(base.At(g0), base.At(g1)) - rb, corner, g1 - g0};
      } else if (cylinders == 0 && cones == 0 && tori == 2) {
        // Corners that meet: a groove as wide as twice its corner radius.
        const double rb = dip.front()->radius - dip.front()->minor;
        g->type = 2;
        g->rect = {g0 - za, std::min(base.At(g0), base.At(g1)) - rb, dip.front()->minor, g1 - g0};
      } else if (cylinders == 0 && cones == 0 && tori == 1) {
        const FaceInfo* t = dip.front();
        const double zc = m_frame.Z(t->axis.Location());
        const double rb = t->radius - t->minor;
        g->type = 6;
        g->x = zc - za;
        g->circular = {zc - za, base.At(zc) - rb, t->minor};
      } else if (cones == 2 && cylinders == 0 && tori == 0) {
        const double zb = dip.front()->z1;
        const double rb = dip.front()->rz1;
        g->type = 1;
        g->x = zb - za;
        g->notch = {zb - za, base.At(zb) - rb};
      } else {
        NotAShaft();
      }
      out.push_back(g);
    }
    return out;
  }

  // Features cut across the surface: cross holes, parallel-key grooves and slots.
  std::vector<QZ::ObjPtr<CRecognizeGroove>> Features(const Stretch& st, const Line& base,
                                                     int solid) {
    std::vector<size_t> ids;
    for (size_t i = 0; i < m_faces.size(); ++i) {
      const FaceInfo& f = m_faces[i];
      if (m_solidOf[i] != solid || f.coaxial || f.perpendicular) continue;
      const double zc = 0.5 * (f.z0 + f.z1);
      if (zc < st.za - kAxial || zc > st.zb + kAxial) continue;
      ids.push_back(i);
    }
    if (ids.empty()) return {};
    // Faces joined by edges form one feature; pieces of one cross hole (on both sides of a
    // bore) share their axis.
    std::vector<size_t> parent(ids.size());
    std::iota(parent.begin(), parent.end(), 0);
    auto find = [&](size_t a) {
      while (parent[a] != a) a = parent[a] = parent[parent[a]];
      return a;
    };
    TopTools_IndexedMapOfShape faceIndex;
    TopTools_IndexedDataMapOfShapeListOfShape edgeFaces;
    for (size_t k = 0; k < ids.size(); ++k) {
      faceIndex.Add(m_faces[ids[k]].face);
      TopExp::MapShapesAndAncestors(m_faces[ids[k]].face, TopAbs_EDGE, TopAbs_FACE, edgeFaces);
    }
    for (int e = 1; e <= edgeFaces.Extent(); ++e) {
      int first = 0;
      for (const TopoDS_Shape& f : edgeFaces(e)) {
        const int k = faceIndex.FindIndex(f);
        if (k == 0) continue;
        if (first == 0)
          first = k;
        else
          parent[find(static_cast<size_t>(k - 1))] = find(static_cast<size_t>(first - 1));
      }
    }
    for (size_t a = 0; a < ids.size(); ++a)
      for (size_t b = a + 1; b < ids.size(); ++b) {
        const FaceInfo& fa = m_faces[ids[a]];
        const FaceInfo& fb = m_faces[ids[b]];
        if (fa.kind == Kind::Cylinder && fb.kind == Kind::Cylinder && SameLine(fa.axis, fb.axis) &&
            std::fabs(fa.radius - fb.radius) < kLinear)
          parent[find(a)] = find(b);
      }
    std::map<size_t, std::vector<const FaceInfo*>> clusters;
    for (size_t k = 0; k < ids.size(); ++k) clusters[find(k)].push_back(&m_faces[ids[k]]);
    std::vector<QZ::ObjPtr<CRecognizeGroove>> out;
    std::vector<QZ::ObjPtr<CRecognizeGroove>> slots;
    for (auto& [root, faces] : clusters) {
      std::vector<const FaceInfo*> cylinders, planes;
      for (const FaceInfo* f : faces) (f->kind == Kind::Cylinder ? cylinders : planes).push_back(f);
      std::vector<const FaceInfo*> distinct;
      for (const FaceInfo* c : cylinders)
        if (std::none_of(distinct.begin(), distinct.end(),
                         [&](const FaceInfo* d) { return SameLine(d->axis, c->axis); }))
          distinct.push_back(c);
      if (distinct.size() == 1 && planes.size() <= 1)
        out.push_back(CrossHole(cylinders, st, base));
      else if (distinct.size() == 2 && planes.size() == 3)
        out.push_back(ParallelKey(distinct, planes, st, base));
      else if (distinct.empty() && planes.size() == 3)
        slots.push_back(Slot(planes, st, base));
      else
        NotAShaft();
    }
    // Slots of one size make one groove of n slots.
    std::vector<QZ::ObjPtr<CRecognizeGroove>> merged;
    for (auto& s : slots) {
      auto same = std::find_if(merged.begin(), merged.end(), [&](const auto& m) {
        const auto &a = m->slots, &b = s->slots;
        return std::fabs(a.x - b.x) < kAxial && std::fabs(a.l - b.l) < kAxial &&
               std::fabs(a.d - b.d) < kAxial && std::fabs(a.win - b.win) < kAxial &&
               std::fabs(a.wout - b.wout) < kAxial;
      });
      if (same == merged.end())
        merged.push_back(s);
      else
        ++(*same)->slots.n;
    }
    for (auto& s : merged) out.push_back(s);
    return out;
  }

  QZ::ObjPtr<CRecognizeGroove> CrossHole(const std::vector<const FaceInfo*>& cylinders,
                                         const Stretch& st, const Line& base) {
    const FaceInfo& c = *cylinders.front();
    const double zc = m_frame.Z(c.axis.Location());
    const gp_Pnt centre = m_frame.o.Translated(gp_Vec(m_frame.z) * zc);
    gp_Vec u = m_frame.Across(gp_Vec(c.axis.Direction()));
    if (u.Magnitude() < 1e-12) NotAShaft();
    u.Normalize();
    double smin = 1e300, smax = -1e300;
    for (const FaceInfo* f : cylinders)
      for (const gp_Pnt& p : f->samples) {
        const double s = gp_Vec(centre, p).Dot(u);
        smin = std::min(smin, s);
        smax = std::max(smax, s);
      }
    const double R = base.At(zc);
    double depth;
    if (smax + smin >= -kLinear) {
      depth = R - smin;
    } else {
      u.Reverse();
      depth = R + smax;
    }
    double angle = m_frame.Angle(u);
    // A hole through the whole shaft reads the same from both sides.
    if (depth > 2 * R - 10 * kLinear) {
      depth = 2 * R;
      if (angle >= 180 - 1e-9) angle -= 180;
    }
    auto g = QZ::ObjPtr<CRecognizeGroove>(new CRecognizeGroove());
    g->type = 3;
    g->x = zc - st.za;
    g->hole = {zc - st.za, depth, c.radius, angle};
    return g;
  }

  QZ::ObjPtr<CRecognizeGroove> ParallelKey(const std::vector<const FaceInfo*>& ends,
                                           const std::vector<const FaceInfo*>& planes,
                                           const Stretch& st, const Line& base) {
    double za = m_frame.Z(ends[0]->axis.Location());
    double zb = m_frame.Z(ends[1]->axis.Location());
    if (za > zb) std::swap(za, zb);
    const double r = ends[0]->radius;
    if (std::fabs(ends[1]->radius - r) > kLinear) NotAShaft();
    // The groove opens the way its end faces lie from the axis.
    gp_Vec sum(0, 0, 0);
    for (const FaceInfo* e : ends)
      for (const gp_Pnt& p : e->samples) sum += m_frame.Across(gp_Vec(m_frame.o, p));
    if (sum.Magnitude() < 1e-12) NotAShaft();
    const gp_Vec u = sum.Normalized();
    const FaceInfo* bottom =
        *std::max_element(planes.begin(), planes.end(), [&](const FaceInfo* a, const FaceInfo* b) {
          return std::fabs(gp_Vec(a->axis.Direction()).Dot(u)) <
                 std::fabs(gp_Vec(b->axis.Direction()).Dot(u));
        });
    const gp_Vec n = BottomNormal(*bottom, u);
    const double level = m_frame.Across(gp_Vec(m_frame.o, bottom->axis.Location())).Dot(n);
    const double z0 = za - r, z1 = zb + r;
    const double R = std::min(base.At(z0), base.At(z1));
    if (level >= R - kLinear) NotAShaft();
    auto g = QZ::ObjPtr<CRecognizeGroove>(new CRecognizeGroove());
    g->type = 4;
    g->x = z0 - st.za;
    g->key = {z0 - st.za, z1 - z0, R - level, r, m_frame.Angle(n)};
    return g;
  }

  // The normal of a feature's bottom plane: the exact direction the feature opens to, on the
  // side of the estimate u.
  gp_Vec BottomNormal(const FaceInfo& bottom, const gp_Vec& u) const {
    gp_Vec n = m_frame.Across(gp_Vec(bottom.axis.Direction()));
    if (n.Magnitude() < 1e-12) NotAShaft();
    n.Normalize();
    return n.Dot(u) < 0 ? n.Reversed() : n;
  }

  QZ::ObjPtr<CRecognizeGroove> Slot(const std::vector<const FaceInfo*>& planes, const Stretch& st,
                                    const Line& base) {
    gp_Vec sum(0, 0, 0);
    double z0 = 1e300, z1 = -1e300;
    for (const FaceInfo* f : planes) {
      for (const gp_Pnt& p : f->samples) sum += m_frame.Across(gp_Vec(m_frame.o, p));
      z0 = std::min(z0, f->z0);
      z1 = std::max(z1, f->z1);
    }
    if (sum.Magnitude() < 1e-12) NotAShaft();
    gp_Vec u = sum.Normalized();
    const FaceInfo* bottom =
        *std::max_element(planes.begin(), planes.end(), [&](const FaceInfo* a, const FaceInfo* b) {
          return std::fabs(gp_Vec(a->axis.Direction()).Dot(u)) <
                 std::fabs(gp_Vec(b->axis.Direction()).Dot(u));
        });
    u = BottomNormal(*bottom, u);
    const gp_Vec w = gp_Vec(m_frame.z).Crossed(u);
    const double rb = m_frame.Across(gp_Vec(m_frame.o, bottom->axis.Location())).Dot(u);
    const double Rmin = std::min(base.At(z0), base.At(z1));
    if (rb <= kLinear || rb >= Rmin - kLinear) NotAShaft();
    double vmin = 1e300, vmax = -1e300;
    for (const gp_Pnt& p : bottom->samples) {
      const double v = gp_Vec(m_frame.o, p).Dot(w);
      vmin = std::min(vmin, v);
      vmax = std::max(vmax, v);
    }
    // The flanks where they meet the height of the outer surface.
    std::vector<double> sides;
    for (const FaceInfo* f : planes) {
      if (f == bottom) continue;
      const gp_Vec n(f->axis.Direction());
      const gp_Vec p0 = m_frame.Across(gp_Vec(m_frame.o, f->axis.Location()));
      const double nw = n.Dot(w);
      if (std::fabs(nw) < 1e-9) NotAShaft();
      sides.push_back((n.Dot(p0) - Rmin * n.Dot(u)) / nw);
    }
    auto g = QZ::ObjPtr<CRecognizeGroove>(new CRecognizeGroove());
    g->type = 5;
    g->x = z0 - st.za;
    g->slots.x = z0 - st.za;
    g->slots.l = z1 - z0;
    g->slots.n = 1;
    g->slots.d = 2 * rb;
    g->slots.win = vmax - vmin;
    g->slots.wout = std::fabs(sides[0] - sides[1]);
    return g;
  }

  TopoDS_Shape m_shape;
  std::vector<FaceInfo> m_faces;
  std::vector<int> m_solidOf;
  Frame m_frame;
  gp_Ax1 m_axis;
};

class CShaftRecognizer final : public QZ::CAD::IShaftRecognizer {
 public:
  QZ::CAD::IRecognizeShaft* Recognize(QZ::CAD::IShape* shape) override {
    if (!shape) return nullptr;
    return Guard("Recognize", [&]() -> QZ::CAD::IRecognizeShaft* {
      const TopoDS_Shape& s = ShapeOf(shape);
      if (s.IsNull()) return nullptr;
      return Recognition(s).Run();
    });
  }
};

}  // namespace

QZ::CAD::IShaftRecognizer* ShaftRecognizer() {
  static CShaftRecognizer recognizer;
  return &recognizer;
}

}  // namespace cad_engine
