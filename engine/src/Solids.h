// Building blocks of the element families: parameter checks that name the element, planar
// outlines (polygons and arcs) turned into faces, prisms and solids of revolution, and the
// boolean operations with their failures turned into engine errors.
//
// Conventions of every element: lengths in millimetres, angles in degrees at the interface;
// solids of revolution turn about the z axis; outlines of revolution are drawn in the xz
// plane with x as the radius.
#pragma once

#include "EngineBase.h"
#include "Shape.h"

#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <TopoDS_Wire.hxx>
#include <gp_Circ.hxx>
#include <gp_Pnt.hxx>
#include <gp_Pnt2d.hxx>

#include <functional>
#include <string>
#include <vector>

namespace cad_engine {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSizeTolerance = 1e-7;  // sizes closer than this count as equal

inline double Radians(double degrees) { return degrees * kPi / 180.0; }

// Throws eCodeInvalidParameter with "<element>: <text>".
[[noreturn]] void Refuse(const char* element, const std::string& text);
// Finite and > 0 / finite and >= 0 / finite.
void NeedPositive(const char* element, const char* name, double v);
void NeedNotNegative(const char* element, const char* name, double v);
void NeedFinite(const char* element, const char* name, double v);
// lower < upper (by more than the size tolerance), else "<lowerName> must be below <upperName>".
void NeedBelow(const char* element, const char* lowerName, double lower, const char* upperName,
               double upper);

// One segment of a planar outline: a straight line to `to`, or an arc through `via` to `to`.
struct OutlineStep {
  gp_Pnt2d to;
  bool arc = false;
  gp_Pnt2d via;
};

// A closed outline from its start point and steps (the last step returns to the start).
// plane 0: xy plane at height z; plane 1: the xz plane (x radius, z axial).
class Outline {
 public:
  explicit Outline(gp_Pnt2d start) : m_start(start), m_at(start) {}
  Outline& LineTo(double u, double v);
  Outline& ArcTo(double viaU, double viaV, double u, double v);
  // A rounded corner: line towards the corner point, then a tangent arc of radius r that turns
  // onto the line towards `next`. r == 0 gives a sharp corner. The corner is consumed; the
  // outline continues from the arc's end (on the way to `next`).
  Outline& CornerTo(double cu, double cv, double nextU, double nextV, double r);
  const gp_Pnt2d& At() const { return m_at; }
  // The same outline walked the other way round, from the same start.
  Outline Reversed() const;

  TopoDS_Wire Wire(int plane = 0, double z = 0.0) const;
  TopoDS_Face Face(int plane = 0, double z = 0.0) const;

 private:
  gp_Pnt2d m_start;
  gp_Pnt2d m_at;
  std::vector<OutlineStep> m_steps;
};

// A closed polygon whose corners may be rounded: each corner with its radius (0: sharp). The
// first corner must be sharp. Refuses radii that do not fit their corners.
struct Corner {
  double u, v, r = 0.0;
};
Outline RoundedPolygon(const char* element, const std::vector<Corner>& corners);

gp_Pnt ToSpace(const gp_Pnt2d& p, int plane, double z);

// A face in the plane at height z (normal +z) bounded by outer with holes; every outline is
// given counter-clockwise seen from +z.
TopoDS_Face FaceWithHoles(const TopoDS_Wire& outer, const std::vector<TopoDS_Wire>& holes,
                          double z = 0.0);
// A circle of radius r about the z axis at height z (a closed wire).
TopoDS_Wire CircleWire(double r, double z = 0.0);

// Face extruded along +z by length.
TopoDS_Shape Prism(const TopoDS_Shape& face, double length);
// Face in the xz plane turned a full turn about the z axis.
TopoDS_Shape Revolve(const TopoDS_Face& face);
// The same, with every arc of circle turned into a torus (a sphere when the circle's centre lies
// on the axis) rather than a general surface of revolution of the arc: the very surfaces that
// cutting with the kernel's torus or sphere leaves, so that the solid measures as the one the
// boolean gives.
TopoDS_Shape RevolveOnTori(const TopoDS_Face& face);
// The same for the arcs whose circle (in space, in the xz plane) onTorus takes; the others stay
// surfaces of revolution, as where the boolean leaves a face of a solid that was turned so.
TopoDS_Shape RevolveOnTori(const TopoDS_Face& face,
                           const std::function<bool(const gp_Circ&)>& onTorus);
// Cylinder about the z axis from z0 to z1, of radius r; cone with radii r0 at z0, r1 at z1.
TopoDS_Shape CylinderZ(double r, double z0, double z1);
TopoDS_Shape ConeZ(double r0, double r1, double z0, double z1);
// A box [x0,x1] x [y0,y1] x [z0,z1].
TopoDS_Shape BoxXYZ(double x0, double y0, double z0, double x1, double y1, double z1);
// A regular polygon prism (hexagon: corners 6, width across flats s) about z from z0 to z1.
TopoDS_Shape PolygonPrism(int corners, double acrossFlats, double z0, double z1);

TopoDS_Shape Fuse(const TopoDS_Shape& a, const TopoDS_Shape& b);
TopoDS_Shape FuseAll(const std::vector<TopoDS_Shape>& shapes);
TopoDS_Shape Cut(const TopoDS_Shape& a, const TopoDS_Shape& b);
TopoDS_Shape CutAll(const TopoDS_Shape& a, const std::vector<TopoDS_Shape>& tools);
TopoDS_Shape Common(const TopoDS_Shape& a, const TopoDS_Shape& b);
// Several separate solids as one compound (bearings: rings and rolling elements).
TopoDS_Shape Compound(const std::vector<TopoDS_Shape>& shapes);
// The shape moved by a rigid transformation.
TopoDS_Shape Moved(const TopoDS_Shape& s, const gp_Trsf& t);
gp_Trsf RotationZ(double radians);
gp_Trsf Translation(double x, double y, double z);

// Solids put together from their faces, where a boolean would find the same faces only by
// intersecting them again: every edge must be shared by exactly two of the faces (the very
// edge, not a copy), each face oriented with its normal out of the solid.
//
// The side of a cylinder about the z axis from z0 to z1 (normal away from the axis) and the
// circles that bound it, counter-clockwise seen from +z, for the faces that meet it.
struct CylinderBand {
  TopoDS_Face face;
  TopoDS_Wire bottom, top;
};
CylinderBand CylinderBandZ(double r, double z0, double z1);
// The wire turned counter-clockwise seen from +z (a closed wire in a plane across z).
TopoDS_Wire CounterClockwise(const TopoDS_Wire& w);
// A planar face at height z bounded by outer with holes (all counter-clockwise seen from +z),
// its normal +z (up) or -z.
TopoDS_Face PlanarFace(const TopoDS_Wire& outer, const std::vector<TopoDS_Wire>& holes, double z,
                       bool up);
// The solid bounded by the closed shell of these faces (as they are oriented).
TopoDS_Shape SolidOfFaces(const std::vector<TopoDS_Face>& faces);

// The one solid of s (a boolean's result holds one when all went well), or s itself when it
// holds several; throws when it holds none.
TopoDS_Shape SingleSolid(const TopoDS_Shape& s, const char* element);

// Said by a builder, on the thread that builds, when the solid it returns was put together by a
// construction whose results the geometry tests analyse and find valid for the sizes the
// builder's checks let through (involute gears from their checked outlines, turned into
// prisms or assembled from their faces): the kernel's validity analysis, which costs as much as
// building such a solid, is then left out for it. Whatever a boolean of user-chosen sizes made,
// every profile of user-given points and everything read from a file is analysed as before.
void ConstructionProven();
// Whether the solid just built was said to be proven (and forgets it, for the next build).
bool TakeConstructionProven();

// The solid that build returns, analysed unless its construction is proven (see above): throws
// for none and, after the analysis, for one that is not valid.
template <class F>
TopoDS_Shape BuildAndCheck(const char* element, F&& build) {
  TakeConstructionProven();
  const TopoDS_Shape s = build();
  if (!TakeConstructionProven()) {
    CheckSolid(s, element);
  } else if (s.IsNull()) {
    Throw(QZ::eCodeFailure, std::string(element) + ": no shape built");
  }
  return s;
}

// Runs build under the engine's guard and wraps the result as a checked solid.
template <class F>
QZ::CAD::IShape* BuildChecked(const char* element, F&& build) {
  return Guard(element,
               [&]() -> QZ::CAD::IShape* { return new CShape(BuildAndCheck(element, build)); });
}

// The solids last built, by element and sizes. A model holds many elements of the same sizes (a
// hundred bolts of three sizes): each size is built and checked once, and every element of that
// size gets the very solid that was built (the kernel's instancing: the same topology, placed by
// a location of its own), so that it is also meshed once and held once. An exchange document
// makes a part of its own of each (Document.cpp copies a shape it already holds), so two such
// parts keep their own names and colours there. Failures are never kept. While one thread
// builds a size, another that asks for the same size waits for it rather than building it too.
// At most kMaxKept solids, holding at most kMaxKeptFaces faces in all, are kept; the least
// recently used go first.
class SolidMemo {
 public:
  static constexpr size_t kMaxKept = 512;
  static constexpr size_t kMaxKeptFaces = 400000;
  static std::string Key(const char* element, std::initializer_list<double> sizes);
  // The solid kept under key (null when none).
  static TopoDS_Shape Find(const std::string& key);
  static void Keep(const std::string& key, const TopoDS_Shape& solid);
  // Find, or build (and keep) what is not kept yet. build's exceptions pass through, and nothing
  // is kept then.
  static TopoDS_Shape FindOrBuild(const std::string& key,
                                  const std::function<TopoDS_Shape()>& build);
  static size_t Count();
  static void Clear();
  // Whether solids are kept and shared at all (on by default); off, every element is built on
  // its own, as tests need to compare with.
  static void SetEnabled(bool enabled);
  static bool Enabled();
};

// BuildChecked for an element whose solid depends on the given sizes only.
template <class F>
QZ::CAD::IShape* BuildCached(const char* element, std::initializer_list<double> sizes, F&& build) {
  return Guard(element, [&]() -> QZ::CAD::IShape* {
    if (!SolidMemo::Enabled()) return new CShape(BuildAndCheck(element, build));
    // A solid that is not valid is refused, and not kept.
    const TopoDS_Shape solid = SolidMemo::FindOrBuild(
        SolidMemo::Key(element, sizes), [&] { return BuildAndCheck(element, build); });
    return new CShape(solid);
  });
}

}  // namespace cad_engine
