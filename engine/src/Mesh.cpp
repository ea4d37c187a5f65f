#include "Mesh.h"

#include "ExchangeCommon.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeSolid.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepLib.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Iterator.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace cad_engine {

namespace {

bool IsMeshFace(const TopoDS_Face& face) {
  TopLoc_Location loc;
  if (BRep_Tool::Surface(face, loc)) return false;
  const Handle(Poly_Triangulation)& tri = BRep_Tool::Triangulation(face, loc);
  return !tri.IsNull() && tri->NbTriangles() > 0;
}

std::uint64_t EdgeKey(int a, int b) {
  return (static_cast<std::uint64_t>(std::min(a, b)) << 32) |
         static_cast<std::uint32_t>(std::max(a, b));
}

// The faceted shape of one mesh face, its nodes placed by loc.
TopoDS_Shape FacetedFace(const TopoDS_Face& face) {
  TopLoc_Location loc;
  const Handle(Poly_Triangulation)& tri = BRep_Tool::Triangulation(face, loc);
  const gp_Trsf trsf = loc.Transformation();
  const int nodes = tri->NbNodes();
  std::vector<TopoDS_Vertex> vertices(static_cast<size_t>(nodes) + 1);
  std::vector<gp_Pnt> points(static_cast<size_t>(nodes) + 1);
  for (int i = 1; i <= nodes; ++i) points[i] = tri->Node(i).Transformed(trsf);
  auto vertexOf = [&](int i) -> const TopoDS_Vertex& {
    if (vertices[i].IsNull()) vertices[i] = BRepBuilderAPI_MakeVertex(points[i]);
    return vertices[i];
  };
  std::unordered_map<std::uint64_t, TopoDS_Edge> edges;
  std::unordered_map<std::uint64_t, int> uses;
  auto edgeOf = [&](int a, int b) -> TopoDS_Edge {
    const std::uint64_t key = EdgeKey(a, b);
    auto it = edges.find(key);
    if (it == edges.end()) {
      BRepBuilderAPI_MakeEdge make(vertexOf(std::min(a, b)), vertexOf(std::max(a, b)));
      if (!make.IsDone()) return TopoDS_Edge();
      it = edges.emplace(key, make.Edge()).first;
    }
    ++uses[key];
    return a < b ? it->second : TopoDS::Edge(it->second.Reversed());
  };
  BRep_Builder builder;
  TopoDS_Shell shell;
  builder.MakeShell(shell);
  int faces = 0;
  const int count = tri->NbTriangles();
  for (int t = 1; t <= count; ++t) {
    if ((t & 0x3FF) == 0) CheckStop();
    int a, b, c;
    tri->Triangle(t).Get(a, b, c);
    if (a == b || b == c || a == c) continue;
    const gp_Vec n = gp_Vec(points[a], points[b]).Crossed(gp_Vec(points[a], points[c]));
    if (n.Magnitude() <= 1e-12) continue;  // no area
    const TopoDS_Edge e0 = edgeOf(a, b), e1 = edgeOf(b, c), e2 = edgeOf(c, a);
    if (e0.IsNull() || e1.IsNull() || e2.IsNull()) continue;
    BRepBuilderAPI_MakeWire wire(e0, e1, e2);
    if (!wire.IsDone()) continue;
    BRepBuilderAPI_MakeFace made(wire.Wire(), true);
    if (!made.IsDone()) continue;
    builder.Add(shell, made.Face());
    ++faces;
  }
  if (faces == 0) return TopoDS_Shape();
  bool closed = true;
  for (const auto& [key, n] : uses) closed = closed && n == 2;
  if (closed) {
    shell.Closed(true);
    BRepBuilderAPI_MakeSolid makeSolid(shell);
    if (makeSolid.IsDone()) {
      TopoDS_Solid solid = makeSolid.Solid();
      if (BRepLib::OrientClosedSolid(solid)) return solid;
    }
  }
  return shell;
}

}  // namespace

TopoDS_Face MakeMeshFace(const Handle(Poly_Triangulation) & mesh) {
  TopoDS_Face face;
  if (mesh.IsNull() || mesh->NbTriangles() == 0) return face;
  BRep_Builder().MakeFace(face, mesh);
  return face;
}

bool IsMeshShape(const TopoDS_Shape& shape) {
  if (shape.IsNull()) return false;
  bool any = false;
  for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) {
    if (!IsMeshFace(TopoDS::Face(e.Current()))) return false;
    any = true;
  }
  return any;
}

TopoDS_Shape TransformedMesh(const TopoDS_Shape& shape, const gp_Trsf& trsf) {
  BRep_Builder builder;
  TopoDS_Compound out;
  builder.MakeCompound(out);
  int faces = 0;
  TopoDS_Face last;
  for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) {
    TopLoc_Location loc;
    const TopoDS_Face face = TopoDS::Face(e.Current());
    const Handle(Poly_Triangulation)& tri = BRep_Tool::Triangulation(face, loc);
    if (tri.IsNull()) continue;
    const gp_Trsf full = trsf.Multiplied(loc.Transformation());
    Handle(Poly_Triangulation) copy =
        new Poly_Triangulation(tri->NbNodes(), tri->NbTriangles(), false, tri->HasNormals());
    for (int i = 1; i <= tri->NbNodes(); ++i) copy->SetNode(i, tri->Node(i).Transformed(full));
    for (int t = 1; t <= tri->NbTriangles(); ++t) copy->SetTriangle(t, tri->Triangle(t));
    if (tri->HasNormals()) {
      for (int i = 1; i <= tri->NbNodes(); ++i) {
        gp_Dir n = tri->Normal(i);
        copy->SetNormal(i, n.Transformed(full));
      }
    }
    last = MakeMeshFace(copy);
    if (face.Orientation() == TopAbs_REVERSED) last.Reverse();
    builder.Add(out, last);
    ++faces;
  }
  if (faces == 1) return last;
  return out;
}

bool IsClosedMesh(const TopoDS_Shape& shape) {
  bool any = false;
  for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) {
    TopLoc_Location loc;
    const Handle(Poly_Triangulation)& tri =
        BRep_Tool::Triangulation(TopoDS::Face(e.Current()), loc);
    if (tri.IsNull()) return false;
    std::unordered_map<std::uint64_t, int> uses;
    uses.reserve(static_cast<size_t>(tri->NbTriangles()) * 2);
    for (int t = 1; t <= tri->NbTriangles(); ++t) {
      int a, b, c;
      tri->Triangle(t).Get(a, b, c);
      ++uses[EdgeKey(a, b)];
      ++uses[EdgeKey(b, c)];
      ++uses[EdgeKey(c, a)];
    }
    for (const auto& [key, n] : uses)
      if (n != 2) return false;
    any = true;
  }
  return any;
}

std::size_t MeshTriangleCount(const TopoDS_Shape& shape) {
  std::size_t count = 0;
  for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) {
    TopLoc_Location loc;
    const Handle(Poly_Triangulation)& tri =
        BRep_Tool::Triangulation(TopoDS::Face(e.Current()), loc);
    if (!tri.IsNull()) count += static_cast<std::size_t>(tri->NbTriangles());
  }
  return count;
}

double MeshVolume(const TopoDS_Shape& shape) {
  if (!IsClosedMesh(shape)) return 0.0;
  double sum = 0.0;
  for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) {
    TopLoc_Location loc;
    const Handle(Poly_Triangulation)& tri =
        BRep_Tool::Triangulation(TopoDS::Face(e.Current()), loc);
    const gp_Trsf t = loc.Transformation();
    for (int k = 1; k <= tri->NbTriangles(); ++k) {
      int a, b, c;
      tri->Triangle(k).Get(a, b, c);
      const gp_XYZ p = tri->Node(a).Transformed(t).XYZ();
      const gp_XYZ q = tri->Node(b).Transformed(t).XYZ();
      const gp_XYZ r = tri->Node(c).Transformed(t).XYZ();
      sum += p.Dot(q.Crossed(r));
    }
  }
  return std::fabs(sum) / 6.0;
}

TopoDS_Shape FacetedShape(const TopoDS_Shape& shape) {
  if (shape.IsNull()) return shape;
  if (shape.ShapeType() == TopAbs_FACE) {
    const TopoDS_Face face = TopoDS::Face(shape);
    return IsMeshFace(face) ? FacetedFace(face) : shape;
  }
  if (!IsMeshShape(shape)) {
    // A compound that holds mesh faces among other shapes: replace those, keep the rest.
    bool hasMesh = false;
    for (TopExp_Explorer e(shape, TopAbs_FACE); e.More() && !hasMesh; e.Next())
      hasMesh = IsMeshFace(TopoDS::Face(e.Current()));
    if (!hasMesh || shape.ShapeType() != TopAbs_COMPOUND) return shape;
  }
  BRep_Builder builder;
  TopoDS_Compound out;
  builder.MakeCompound(out);
  int parts = 0;
  TopoDS_Shape last;
  for (TopoDS_Iterator it(shape); it.More(); it.Next()) {
    const TopoDS_Shape sub = FacetedShape(it.Value());
    if (sub.IsNull()) continue;
    builder.Add(out, sub);
    last = sub;
    ++parts;
  }
  if (parts == 0) return TopoDS_Shape();
  if (parts == 1) return last;
  return out;
}

}  // namespace cad_engine
