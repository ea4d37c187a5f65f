// Helpers of the geometry tests: the engine's factories called in-process, the kernel shape
// behind a result, and measurements made with the kernel's own tools (distances, point
// classification, volumes of boolean commons).
#pragma once

#include "Context.h"
#include "Shape.h"
#include "Solids.h"

#include <BRepAdaptor_Surface.hxx>
#include <BRepAlgoAPI_Common.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepClass3d_SolidClassifier.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRepGProp.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <Bnd_Box.hxx>
#include <gp_Ax3.hxx>
#include <gp_Pln.hxx>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <algorithm>

namespace geometry_test {

using cad_engine::kPi;

// Owns one engine result.
struct Built {
  explicit Built(QZ::CAD::IShape* s) : shape(s) {}
  ~Built() {
    if (shape) shape->Release();
  }
  Built(const Built&) = delete;
  Built& operator=(const Built&) = delete;
  const TopoDS_Shape& Kernel() const { return cad_engine::ShapeOf(shape); }
  QZ::CAD::IShape* shape;
};

// Runs build; an engine exception becomes a test failure with its text.
template <class F>
std::unique_ptr<Built> Build(F&& build) {
  try {
    return std::make_unique<Built>(build());
  } catch (QZ::IException* e) {
    ADD_FAILURE() << "engine error " << std::hex << e->GetCode() << ": " << e->GetText();
    e->Release();
    return nullptr;
  }
}

// The code of the engine error that build throws (0 when it throws none), and its text.
template <class F>
int ErrorOf(F&& build, std::string* text = nullptr) {
  try {
    QZ::CAD::IShape* s = build();
    if (s) s->Release();
    return 0;
  } catch (QZ::IException* e) {
    const int code = e->GetCode();
    if (text) *text = e->GetText();
    e->Release();
    return code;
  }
}

inline double Volume(const TopoDS_Shape& s) {
  GProp_GProps p;
  BRepGProp::VolumeProperties(s, p);
  return p.Mass();
}

inline bool Valid(const TopoDS_Shape& s) { return BRepCheck_Analyzer(s).IsValid(); }

// Inside (true) or outside the solid (points on the boundary count as neither: false).
inline bool Inside(const TopoDS_Shape& solid, const gp_Pnt& p) {
  BRepClass3d_SolidClassifier c(solid, p, 1e-9);
  return c.State() == TopAbs_IN;
}
inline bool Outside(const TopoDS_Shape& solid, const gp_Pnt& p) {
  BRepClass3d_SolidClassifier c(solid, p, 1e-9);
  return c.State() == TopAbs_OUT;
}

// Distance from a point to the boundary of a shape (its faces).
inline double BoundaryDistance(const TopoDS_Shape& s, const gp_Pnt& p) {
  BRep_Builder b;
  TopoDS_Compound faces;
  b.MakeCompound(faces);
  for (TopExp_Explorer e(s, TopAbs_FACE); e.More(); e.Next()) b.Add(faces, e.Current());
  BRepExtrema_DistShapeShape d(BRepBuilderAPI_MakeVertex(p).Vertex(), faces);
  return d.IsDone() ? d.Value() : 1e300;
}

// Distance between two shapes (0 when they touch or overlap).
inline double Distance(const TopoDS_Shape& a, const TopoDS_Shape& b) {
  BRepExtrema_DistShapeShape d(a, b);
  return d.IsDone() ? d.Value() : 1e300;
}

inline double CommonVolume(const TopoDS_Shape& a, const TopoDS_Shape& b) {
  BRepAlgoAPI_Common c(a, b);
  if (!c.IsDone()) return 1e300;
  return Volume(c.Shape());
}

// The volume of a solid of revolution about the z axis from its meridian section (its common
// with the half plane y = 0, x > 0): 2 pi times the section's area times its centroid's radius.
// Exact to the integration of planar faces, where the kernel integrates general surfaces of
// revolution over the solid only to a few 1e-7.
inline double RevolutionVolume(const TopoDS_Shape& solid) {
  const TopoDS_Face half =
      BRepBuilderAPI_MakeFace(gp_Pln(gp_Ax3(gp::Origin(), gp::DY(), gp::DX())), 0, 1e6, -1e6, 1e6)
          .Face();
  BRepAlgoAPI_Common section(solid, half);
  if (!section.IsDone()) return -1;
  GProp_GProps p;
  BRepGProp::SurfaceProperties(section.Shape(), p, 1e-12);
  return 2 * kPi * p.Mass() * p.CentreOfMass().X();
}

inline int SolidCount(const TopoDS_Shape& s) {
  int n = 0;
  for (TopExp_Explorer e(s, TopAbs_SOLID); e.More(); e.Next()) ++n;
  return n;
}

inline void BoxOf(QZ::CAD::IShape* s, double* box) { ASSERT_TRUE(s->GetBoundingBox(box)); }

// What two constructions of one solid must share: the volume integrated to 1e-9 relative (as
// IShape::GetVolume), the exact box, and the faces, by the kind of their surface (plane,
// cylinder, cone, sphere, torus, ...).
struct SolidMeasure {
  double volume = 0;
  double box[6] = {};
  int faces = 0;
  int kinds[12] = {};
};

// Each solid of s measured, in the order they were put together.
inline std::vector<SolidMeasure> MeasureSolids(const TopoDS_Shape& s) {
  std::vector<SolidMeasure> out;
  for (TopExp_Explorer e(s, TopAbs_SOLID); e.More(); e.Next()) {
    SolidMeasure m;
    GProp_GProps props;
    BRepGProp::VolumeProperties(e.Current(), props, 1e-9);
    m.volume = props.Mass();
    Bnd_Box b;
    BRepBndLib::AddOptimal(e.Current(), b, false, false);
    b.SetGap(0);
    b.Get(m.box[0], m.box[1], m.box[2], m.box[3], m.box[4], m.box[5]);
    for (TopExp_Explorer f(e.Current(), TopAbs_FACE); f.More(); f.Next()) {
      ++m.faces;
      ++m.kinds[std::min<int>(BRepAdaptor_Surface(TopoDS::Face(f.Current())).GetType(), 11)];
    }
    out.push_back(m);
  }
  return out;
}

// volumes false: the volumes are compared by the caller.
inline void ExpectSameSolids(const std::vector<SolidMeasure>& got,
                             const std::vector<SolidMeasure>& want, bool volumes = true) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(testing::Message() << "solid " << i);
    if (volumes) {
      EXPECT_NEAR(got[i].volume, want[i].volume, 1e-9 * want[i].volume);
    }
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(got[i].box[k], want[i].box[k], 1e-6) << "box " << k;
    EXPECT_EQ(got[i].faces, want[i].faces);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(got[i].kinds[k], want[i].kinds[k]) << "kind " << k;
  }
}

// The trapezoid tooth of the profile gears: root at 18, tip at 21, for 12 teeth (pitch 30
// degrees). The caller releases the list.
inline QZ::CAD::IPointList* TrapezoidTooth(bool spline) {
  QZ::CAD::IPointList* list = cad_engine::GearFactory()->NewPointList();
  const double d = kPi / 180;
  for (auto [r, a] : {std::pair<double, double>{18, -14 * d},
                      {18, -9 * d},
                      {21, -4 * d},
                      {21, 4 * d},
                      {18, 9 * d},
                      {18, 14 * d}})
    list->AddPoint(r, a);
  list->SetSpline(spline);
  return list;
}

}  // namespace geometry_test
