// The meshes the view draws solids with: made before they are shown, on as many threads as there
// are processors (View.cpp), the same meshes the kernel's shaded display would make.
#pragma once

#include <TopoDS_Shape.hxx>

namespace cad_engine {

// Meshes s for its shaded display at the deflection and angle the display asks for, so that the
// display finds its mesh made: as the kernel's mesher does, but with the triangles of planar
// faces found by the kernel's faster sweep-hull triangulator (a face it leaves without a mesh is
// meshed again the usual way). Then gives each face's mesh the normals at its nodes that the
// shading computes. Writes the faces and edges of s: the caller makes sure that no other thread
// reads or writes them meanwhile. With inParallel, the faces of s are meshed on all processors
// (for a solid meshed while no other is). Whether every face has a mesh; false when the kernel
// failed.
bool MeshForDisplay(const TopoDS_Shape& s, double deflection, double angle,
                    bool inParallel = false);

// Whether every face of s has a mesh.
bool EveryFaceMeshed(const TopoDS_Shape& s);

}  // namespace cad_engine
