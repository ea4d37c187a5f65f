// The display meshes: every face meshed, planar faces covering exactly the region the kernel's
// own mesh of them covers (same boundary points, same area, same triangle count), curved faces
// and face boundaries the very mesh the kernel makes, and the normals the shading uses present.
#include "DisplayMesh.h"
#include "GeometryFixture.h"

#include <BRepBuilderAPI_Copy.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <Poly_PolygonOnTriangulation.hxx>
#include <Poly_Triangulation.hxx>
#include <Prs3d.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

#include <cmath>
#include <functional>

using namespace geometry_test;

namespace {

// The area of the triangles of a face's mesh, where the face lies.
double MeshArea(const TopoDS_Face& face) {
  TopLoc_Location location;
  const Handle(Poly_Triangulation) t = BRep_Tool::Triangulation(face, location);
  double area = 0;
  for (int i = 1; i <= t->NbTriangles(); ++i) {
    int a, b, c;
    t->Triangle(i).Get(a, b, c);
    const gp_Vec ab(t->Node(a), t->Node(b)), ac(t->Node(a), t->Node(c));
    area += 0.5 * ab.Crossed(ac).Magnitude();
  }
  return area;
}

// A copy of s with topology and geometry of its own, and no mesh.
TopoDS_Shape FreshCopy(const TopoDS_Shape& s) {
  return BRepBuilderAPI_Copy(s, true, false).Shape();
}

}  // namespace

TEST(DisplayMesh, PlanesCoverTheirFacesAndCurvedFacesAreTheKernelsMesh) {
  struct Case {
    const char* name;
    std::function<QZ::CAD::IShape*()> build;
  };
  const std::vector<Case> cases = {
      {"spur gear",
       [] { return cad_engine::GearFactory()->ExternalGear(23, 2, 12, 20, 0, 0, 0, 8); }},
      {"helical gear",
       [] { return cad_engine::GearFactory()->ExternalGear(17, 1.5, 10, 20, 15, 0, 0.2, 6); }},
      {"round tube", [] { return cad_engine::BeamFactory()->Circular(40, 60, 4); }},
      {"ball bearing", [] { return cad_engine::BearingFactory()->RollingBearing(62, 30, 16, 0); }},
      {"hexagon bolt",
       [] { return cad_engine::FastenerFactory()->BoltHex(16, 6.4, 0.6, 14.6, 20, 26, 10, 10); }},
  };
  const double angle = 20 * kPi / 180;
  // Meshed on one thread and with its faces on all processors: the same meshes.
  for (const bool inParallel : {false, true})
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (inParallel ? ", faces meshed in parallel" : ""));
      auto built = Build(c.build);
      ASSERT_TRUE(built);
      const TopoDS_Shape mine = FreshCopy(built->Kernel());
      const TopoDS_Shape kernels = FreshCopy(built->Kernel());
      Bnd_Box box;
      BRepBndLib::Add(mine, box, false);
      const double deflection = Prs3d::GetDeflection(box, 0.001, 0.1);
      EXPECT_FALSE(cad_engine::EveryFaceMeshed(mine));
      ASSERT_TRUE(cad_engine::MeshForDisplay(mine, deflection, angle, inParallel));
      EXPECT_TRUE(cad_engine::EveryFaceMeshed(mine));
      BRepMesh_IncrementalMesh(kernels, deflection, false, angle, false);

      TopTools_IndexedMapOfShape facesA, facesB;
      TopExp::MapShapes(mine, TopAbs_FACE, facesA);
      TopExp::MapShapes(kernels, TopAbs_FACE, facesB);
      ASSERT_EQ(facesA.Extent(), facesB.Extent());
      int planes = 0, curved = 0;
      for (int i = 1; i <= facesA.Extent(); ++i) {
        const TopoDS_Face& a = TopoDS::Face(facesA(i));
        const TopoDS_Face& b = TopoDS::Face(facesB(i));
        TopLoc_Location la, lb;
        const Handle(Poly_Triangulation) ta = BRep_Tool::Triangulation(a, la);
        const Handle(Poly_Triangulation) tb = BRep_Tool::Triangulation(b, lb);
        ASSERT_FALSE(ta.IsNull()) << "face " << i;
        ASSERT_FALSE(tb.IsNull()) << "face " << i;
        // The shading's normals are there, one of unit length at every node.
        ASSERT_TRUE(ta->HasNormals()) << "face " << i;
        for (int n = 1; n <= ta->NbNodes(); n += 7)
          EXPECT_NEAR(gp_Vec(ta->Normal(n).XYZ()).Magnitude(), 1.0, 1e-9) << "face " << i;
        EXPECT_EQ(ta->NbNodes(), tb->NbNodes()) << "face " << i;
        EXPECT_EQ(ta->NbTriangles(), tb->NbTriangles()) << "face " << i;
        const double areaA = MeshArea(a), areaB = MeshArea(b);
        if (BRepAdaptor_Surface(a).GetType() == GeomAbs_Plane) {
          ++planes;
          // The same outline filled: neither a hole filled in nor a piece left out.
          EXPECT_NEAR(areaA, areaB, 1e-9 * areaB + 1e-12) << "face " << i;
          const gp_Dir normal = BRepAdaptor_Surface(a).Plane().Axis().Direction();
          EXPECT_NEAR(std::abs(gp_Dir(ta->Normal(1).XYZ()).Dot(normal)), 1.0, 1e-9) << "face " << i;
        } else {
          ++curved;
          for (int n = 1; n <= ta->NbNodes(); ++n)
            ASSERT_LT(ta->Node(n).Distance(tb->Node(n)), 1e-12) << "face " << i << " node " << n;
          EXPECT_NEAR(areaA, areaB, 1e-9 * areaB) << "face " << i;
        }
      }
      EXPECT_GT(planes, 0);
      EXPECT_GT(curved, 0);

      // The face boundaries the view draws: the same points on every edge.
      TopTools_IndexedMapOfShape edgesA, edgesB;
      TopExp::MapShapes(mine, TopAbs_EDGE, edgesA);
      TopExp::MapShapes(kernels, TopAbs_EDGE, edgesB);
      ASSERT_EQ(edgesA.Extent(), edgesB.Extent());
      for (int i = 1; i <= edgesA.Extent(); ++i) {
        const TopoDS_Edge& a = TopoDS::Edge(edgesA(i));
        const TopoDS_Edge& b = TopoDS::Edge(edgesB(i));
        Handle(Poly_PolygonOnTriangulation) pa, pb;
        Handle(Poly_Triangulation) ta, tb;
        TopLoc_Location la, lb;
        BRep_Tool::PolygonOnTriangulation(a, pa, ta, la);
        BRep_Tool::PolygonOnTriangulation(b, pb, tb, lb);
        ASSERT_EQ(pa.IsNull(), pb.IsNull()) << "edge " << i;
        if (pa.IsNull()) continue;
        ASSERT_EQ(pa->NbNodes(), pb->NbNodes()) << "edge " << i;
        for (int n = 1; n <= pa->NbNodes(); ++n)
          ASSERT_LT(ta->Node(pa->Node(n)).Distance(tb->Node(pb->Node(n))), 1e-12)
              << "edge " << i << " point " << n;
      }
    }
}
