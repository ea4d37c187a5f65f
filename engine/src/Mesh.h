// Mesh shapes: a face that carries one triangulation and no surface, as an STL file gives it.
// The kernel draws, places and writes to STL such a face as it is; the engine computes its
// extent and volume from the triangles, and builds a faceted solid or shell from it only where
// a format needs surfaces (STEP, IGES).
#pragma once

#include <Poly_Triangulation.hxx>
#include <TopoDS_Face.hxx>
#include <TopoDS_Shape.hxx>
#include <gp_Trsf.hxx>

namespace cad_engine {

// A face holding the triangulation (null when it has no triangle).
TopoDS_Face MakeMeshFace(const Handle(Poly_Triangulation) & mesh);
// True for a shape whose faces (at least one) all carry a triangulation and no surface.
bool IsMeshShape(const TopoDS_Shape& shape);
// The mesh shape with a transformation that scales: a face with transformed nodes (rigid
// transformations are locations, as for every shape).
TopoDS_Shape TransformedMesh(const TopoDS_Shape& shape, const gp_Trsf& trsf);
// Whether every edge of every triangulation lies between exactly two triangles.
bool IsClosedMesh(const TopoDS_Shape& shape);
// The triangles of the shape's mesh faces.
std::size_t MeshTriangleCount(const TopoDS_Shape& shape);
// The volume the triangles of a closed mesh enclose (placed as the shape is); 0 for an open one.
double MeshVolume(const TopoDS_Shape& shape);
// Every triangle as a planar face, sharing vertices and edges, in one shell (triangles without
// area left out), a closed one made a solid; placed as the shape is. Mesh faces inside a larger
// shape are replaced and the rest kept. Null when no triangle is left.
TopoDS_Shape FacetedShape(const TopoDS_Shape& shape);

}  // namespace cad_engine
