#include "DisplayMesh.h"

#include <BRepMesh_Context.hxx>
#include <BRepMesh_DelabellaMeshAlgoFactory.hxx>
#include <BRepMesh_FaceDiscret.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRepMesh_MeshAlgoFactory.hxx>
#include <BRep_Tool.hxx>
#include <IMeshTools_MeshAlgoFactory.hxx>
#include <StdPrs_ToolTriangulatedShape.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>

namespace cad_engine {

namespace {

// The kernel's mesh algorithms, but for planar faces those over the sweep-hull triangulation.
// The kernel meshes a plane with the points of its boundary and of its inner vertices only; both
// triangulations keep every boundary segment, and however the inside is cut into triangles, a
// plane is drawn the same (one normal everywhere, the same outline). On a gear's end faces, with
// a thousand points round the teeth, the sweep hull takes a third of the time. Curved surfaces
// keep the kernel's default, whose triangles decide where points are added.
class DisplayMeshAlgoFactory final : public IMeshTools_MeshAlgoFactory {
 public:
  Handle(IMeshTools_MeshAlgo) GetAlgo(const GeomAbs_SurfaceType type,
                                      const IMeshTools_Parameters& parameters) const override {
    return type == GeomAbs_Plane ? m_planes->GetAlgo(type, parameters)
                                 : m_others->GetAlgo(type, parameters);
  }
  DEFINE_STANDARD_RTTI_INLINE(DisplayMeshAlgoFactory, IMeshTools_MeshAlgoFactory)

 private:
  Handle(IMeshTools_MeshAlgoFactory) m_planes = new BRepMesh_DelabellaMeshAlgoFactory;
  Handle(IMeshTools_MeshAlgoFactory) m_others = new BRepMesh_MeshAlgoFactory;
};

}  // namespace

bool EveryFaceMeshed(const TopoDS_Shape& s) {
  TopLoc_Location location;
  for (TopExp_Explorer e(s, TopAbs_FACE); e.More(); e.Next())
    if (BRep_Tool::Triangulation(TopoDS::Face(e.Current()), location).IsNull()) return false;
  return true;
}

bool MeshForDisplay(const TopoDS_Shape& s, double deflection, double angle, bool inParallel) {
  try {
    // What BRepMesh_IncrementalMesh(s, deflection, false, angle, inParallel) does, with the
    // algorithms above.
    BRepMesh_IncrementalMesh mesher;
    mesher.SetShape(s);
    IMeshTools_Parameters& p = mesher.ChangeParameters();
    p.Deflection = deflection;
    p.Angle = angle;
    p.Relative = false;
    p.InParallel = inParallel;
    Handle(BRepMesh_Context) context = new BRepMesh_Context(IMeshTools_MeshAlgoType_Watson);
    context->SetFaceDiscret(new BRepMesh_FaceDiscret(new DisplayMeshAlgoFactory));
    mesher.Perform(context);
    if (!EveryFaceMeshed(s)) BRepMesh_IncrementalMesh(s, deflection, false, angle, inParallel);
    for (TopExp_Explorer e(s, TopAbs_FACE); e.More(); e.Next()) {
      const TopoDS_Face& face = TopoDS::Face(e.Current());
      TopLoc_Location location;
      StdPrs_ToolTriangulatedShape::ComputeNormals(face, BRep_Tool::Triangulation(face, location));
    }
  } catch (...) {
    // The display meshes what is left and reports what fails.
    return false;
  }
  return EveryFaceMeshed(s);
}

}  // namespace cad_engine
