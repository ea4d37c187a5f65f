#include "Shape.h"

#include "Mesh.h"

#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_Transform.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepGProp.hxx>
#include <Bnd_Box.hxx>
#include <GProp_GProps.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Iterator.hxx>
#include <TopLoc_Location.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <algorithm>
#include <cmath>
#include <vector>

namespace cad_engine {

const TopoDS_Shape& ShapeOf(QZ::CAD::IShape* shape) {
  if (!shape) Throw(QZ::eCodeNullShape, "no shape");
  auto* impl = dynamic_cast<KernelShape*>(shape);
  if (!impl) Throw(QZ::eCodeInvalidUse, "shape of another engine");
  return impl->Kernel();
}

ShapeColorsPtr ColorsOf(QZ::CAD::IShape* shape) {
  auto* impl = dynamic_cast<CShape*>(shape);
  return impl ? impl->Colors() : nullptr;
}

TopoDS_Shape ColoredSubShape(const TopoDS_Shape& shape, const SubShapeColor& entry) {
  TopTools_IndexedMapOfShape map;
  TopExp::MapShapes(shape, entry.kind, map);
  return entry.index >= 1 && entry.index <= map.Extent() ? map(entry.index) : TopoDS_Shape();
}

std::vector<std::pair<TopoDS_Shape, const SubShapeColor*>> ColoredSubShapes(
    const TopoDS_Shape& shape, const ShapeColors& colors) {
  std::vector<std::pair<TopoDS_Shape, const SubShapeColor*>> out;
  if (shape.IsNull()) return out;
  // One map per kind, made when the first entry of that kind asks.
  std::vector<std::pair<TopAbs_ShapeEnum, TopTools_IndexedMapOfShape>> maps;
  maps.reserve(TopAbs_SHAPE + 1);  // never moved: one per kind at most
  out.reserve(colors.subs.size());
  for (const SubShapeColor& entry : colors.subs) {
    auto it = std::find_if(maps.begin(), maps.end(),
                           [&](const auto& m) { return m.first == entry.kind; });
    if (it == maps.end()) {
      maps.emplace_back(entry.kind, TopTools_IndexedMapOfShape());
      it = maps.end() - 1;
      TopExp::MapShapes(shape, entry.kind, it->second);
    }
    if (entry.index >= 1 && entry.index <= it->second.Extent())
      out.emplace_back(it->second(entry.index), &entry);
  }
  return out;
}

TopoDS_Shape PlaceShape(const TopoDS_Shape& base, const gp_Trsf& trsf) {
  if (std::fabs(trsf.ScaleFactor() - 1.0) < 1e-9) return base.Moved(TopLoc_Location(trsf));
  // A mesh has no surfaces to transform: its nodes are.
  if (IsMeshShape(base)) return TransformedMesh(base, trsf);
  BRepBuilderAPI_Transform copy(base, trsf, true);
  return copy.Shape();
}

namespace {

// Whether the location moves without scaling or mirroring.
bool IsRigid(const TopLoc_Location& l) {
  const gp_Trsf t = l.Transformation();
  return !t.IsNegative() && std::fabs(t.ScaleFactor() - 1.0) < 1e-12;
}

// The kernel's analysis of s; a compound's pieces one by one, each solid once: a piece that is
// a solid analysed before, under another rigid location (a bearing's rolling elements, one
// solid placed round the pitch circle), is as valid as that one.
bool Analysed(const TopoDS_Shape& s) {
  if (s.ShapeType() != TopAbs_COMPOUND) return BRepCheck_Analyzer(s).IsValid();
  std::vector<TopoDS_Shape> seen;
  for (TopoDS_Iterator it(s); it.More(); it.Next()) {
    const TopoDS_Shape& piece = it.Value();
    const bool copy =
        IsRigid(piece.Location()) && std::any_of(seen.begin(), seen.end(), [&](const auto& p) {
          return p.IsPartner(piece) && p.Orientation() == piece.Orientation();
        });
    if (copy) continue;
    if (!Analysed(piece)) return false;
    if (IsRigid(piece.Location())) seen.push_back(piece);
  }
  return true;
}

}  // namespace

void CheckSolid(const TopoDS_Shape& s, const char* what) {
  if (s.IsNull()) Throw(QZ::eCodeFailure, std::string(what) + ": no shape built");
  if (!Analysed(s))
    Throw(QZ::eCodeInvalidParameter, std::string(what) + ": the parameters give no valid solid");
}

QZ::CAD::IShape* NewCheckedShape(const TopoDS_Shape& s, const char* what) {
  CheckSolid(s, what);
  return new CShape(s);
}

QZ::CAD::IShape* CShape::Placed(const double* matrix) {
  return Guard("Placed", [&]() -> QZ::CAD::IShape* {
    const gp_Trsf t = ToTrsf(matrix);
    return new CShape(m_base, PlaceShape(m_base, t), m_colors);
  });
}

bool QuickBox(const TopoDS_Shape& s, double* box) {
  if (s.IsNull()) return false;
  Bnd_Box b;
  // A mesh by its nodes; a solid by its geometry, never by a display mesh it may carry (which
  // lies inside curved faces).
  BRepBndLib::Add(s, b, IsMeshShape(s));
  if (b.IsVoid()) return false;
  b.SetGap(0.0);
  b.Get(box[0], box[1], box[2], box[3], box[4], box[5]);
  return true;
}

bool CShape::GetBoundingBox(double* box) {
  return Guard("GetBoundingBox", [&] {
    if (m_shape.IsNull()) return false;
    Bnd_Box b;
    if (IsMeshShape(m_shape))
      BRepBndLib::Add(m_shape, b, true);  // the nodes themselves
    else
      BRepBndLib::AddOptimal(m_shape, b, false, false);
    if (b.IsVoid()) return false;
    b.SetGap(0.0);
    b.Get(box[0], box[1], box[2], box[3], box[4], box[5]);
    return true;
  });
}

double CShape::GetVolume() {
  return Guard("GetVolume", [&] {
    if (m_shape.IsNull()) return 0.0;
    if (IsMeshShape(m_shape)) return MeshVolume(m_shape);
    // Integrated to a stated precision: the default integration is off by up to 40 % on faces
    // bounded by one long spline (the flanks of profile gears).
    GProp_GProps props;
    BRepGProp::VolumeProperties(m_shape, props, 1e-9);
    return props.Mass();
  });
}

bool CShape::IsValid() {
  return Guard("IsValid", [&] {
    if (m_shape.IsNull()) return false;
    // A mesh is valid when it has triangles (it was read with finite nodes only).
    if (IsMeshShape(m_shape)) return true;
    BRepCheck_Analyzer check(m_shape);
    return bool(check.IsValid());
  });
}

int CShape::GetSolidCount() {
  // A closed mesh counts as the one solid it encloses.
  if (IsMeshShape(m_shape)) return IsClosedMesh(m_shape) ? 1 : 0;
  int n = 0;
  for (TopExp_Explorer e(m_shape, TopAbs_SOLID); e.More(); e.Next()) ++n;
  return n;
}

}  // namespace cad_engine
