// STL exchange.
#include "ExchangeCommon.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeSolid.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRepLib.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Builder.hxx>
#include <StlAPI_Writer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>
#include <gp_Pnt.hxx>
#include <gp_Vec.hxx>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace cad_engine {

namespace {

// STL files are read by our own parser (the kernel's text reader reads past its line buffer on
// some malformed lines): a binary file must hold exactly the facets its count announces (give
// or take a few trailing bytes); a text file starts with "solid" and holds "vertex" lines in
// threes. Coordinates must be finite numbers.
struct StlMesh {
  std::vector<gp_Pnt> points;  // three per triangle
};

bool ParseBinaryStl(const std::string& data, StlMesh& mesh) {
  if (data.size() < 84) return false;
  std::uint32_t count = 0;
  std::memcpy(&count, data.data() + 80, 4);  // little endian on the platforms we build for
  const std::uint64_t need = 84ull + 50ull * count;
  if (count == 0 || need > data.size() || data.size() - need >= 50) return false;
  mesh.points.reserve(static_cast<size_t>(count) * 3);
  for (std::uint32_t t = 0; t < count; ++t) {
    const char* facet = data.data() + 84 + 50ull * t;
    for (int v = 0; v < 3; ++v) {
      float xyz[3];
      std::memcpy(xyz, facet + 12 + 12 * v, 12);
      for (float c : xyz)
        if (!std::isfinite(c)) return false;
      mesh.points.emplace_back(xyz[0], xyz[1], xyz[2]);
    }
  }
  return true;
}

bool ParseAsciiStl(const std::string& data, StlMesh& mesh) {
  size_t i = 0;
  const size_t n = data.size();
  auto skipSpace = [&] {
    while (i < n && std::isspace(static_cast<unsigned char>(data[i]))) ++i;
  };
  auto word = [&]() -> std::string_view {
    skipSpace();
    const size_t start = i;
    while (i < n && !std::isspace(static_cast<unsigned char>(data[i]))) ++i;
    return std::string_view(data).substr(start, i - start);
  };
  for (unsigned char c : data)
    if (c < 9 || c == 0x7f) return false;  // not text
  if (word() != "solid") return false;
  while (i < n && data[i] != '\n') ++i;  // the solid's name
  bool ended = false;
  while (true) {
    const std::string_view w = word();
    if (w.empty()) break;
    if (w == "vertex") {
      double xyz[3];
      for (double& c : xyz) {
        const std::string number(word());
        if (number.empty()) return false;
        char* end = nullptr;
        c = std::strtod(number.c_str(), &end);
        if (end != number.c_str() + number.size() || !std::isfinite(c)) return false;
      }
      mesh.points.emplace_back(xyz[0], xyz[1], xyz[2]);
    } else if (w == "endsolid") {
      ended = true;
      break;
    } else if (w == "facet" || w == "normal" || w == "outer" || w == "loop" || w == "endloop" ||
               w == "endfacet") {
      if (w == "normal")
        for (int k = 0; k < 3; ++k) word();
    } else {
      return false;
    }
  }
  return ended && !mesh.points.empty() && mesh.points.size() % 3 == 0;
}

// One face per triangle, sharing vertices and edges, in one shell (triangles that span no area
// are left out); a closed shell (every edge between exactly two triangles) becomes a solid.
// Null when no triangle is left.
TopoDS_Shape BuildMeshShape(const StlMesh& mesh) {
  struct Key {
    double x, y, z;
    bool operator==(const Key& o) const { return x == o.x && y == o.y && z == o.z; }
  };
  struct KeyHash {
    size_t operator()(const Key& k) const {
      const std::hash<double> h;
      return h(k.x) * 73856093u ^ h(k.y) * 19349663u ^ h(k.z) * 83492791u;
    }
  };
  std::unordered_map<Key, int, KeyHash> vertexIndex;
  std::vector<TopoDS_Vertex> vertices;
  std::vector<gp_Pnt> vertexPoints;
  std::unordered_map<std::uint64_t, TopoDS_Edge> edges;
  std::unordered_map<std::uint64_t, int> edgeUses;
  BRep_Builder builder;
  TopoDS_Shell shell;
  builder.MakeShell(shell);
  int faces = 0;
  auto vertexOf = [&](const gp_Pnt& p) {
    const Key k{p.X() + 0.0, p.Y() + 0.0, p.Z() + 0.0};  // + 0.0 folds -0 into 0
    auto [it, added] = vertexIndex.emplace(k, static_cast<int>(vertices.size()));
    if (added) {
      vertices.push_back(BRepBuilderAPI_MakeVertex(p));
      vertexPoints.push_back(p);
    }
    return it->second;
  };
  auto edgeOf = [&](int a, int b) -> TopoDS_Edge {
    const std::uint64_t key = (static_cast<std::uint64_t>(std::min(a, b)) << 32) |
                              static_cast<std::uint32_t>(std::max(a, b));
    auto it = edges.find(key);
    if (it == edges.end()) {
      const int lo = std::min(a, b), hi = std::max(a, b);
      BRepBuilderAPI_MakeEdge make(vertices[lo], vertices[hi]);
      if (!make.IsDone()) return TopoDS_Edge();
      it = edges.emplace(key, make.Edge()).first;
    }
    ++edgeUses[key];
    return a < b ? it->second : TopoDS::Edge(it->second.Reversed());
  };
  for (size_t t = 0; t + 2 < mesh.points.size(); t += 3) {
    const int v0 = vertexOf(mesh.points[t]), v1 = vertexOf(mesh.points[t + 1]),
              v2 = vertexOf(mesh.points[t + 2]);
    if (v0 == v1 || v1 == v2 || v0 == v2) continue;
    const gp_Vec n = gp_Vec(vertexPoints[v0], vertexPoints[v1])
                         .Crossed(gp_Vec(vertexPoints[v0], vertexPoints[v2]));
    if (n.Magnitude() <= 1e-12) continue;  // no area
    const TopoDS_Edge e0 = edgeOf(v0, v1), e1 = edgeOf(v1, v2), e2 = edgeOf(v2, v0);
    if (e0.IsNull() || e1.IsNull() || e2.IsNull()) continue;
    BRepBuilderAPI_MakeWire wire(e0, e1, e2);
    if (!wire.IsDone()) continue;
    BRepBuilderAPI_MakeFace face(wire.Wire(), true);
    if (!face.IsDone()) continue;
    builder.Add(shell, face.Face());
    ++faces;
  }
  if (faces == 0) return TopoDS_Shape();
  bool closed = true;
  for (const auto& [key, uses] : edgeUses) closed = closed && uses == 2;
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

bool WriteSTL(const DocState& state, const std::string& path) {
  InitExchange();
  state.shapes->UpdateAssemblies();
  TopoDS_Shape all = DocumentShape(state);
  BRepMesh_IncrementalMesh mesh(all, 0.001, true, 0.35, false);
  StlAPI_Writer writer;
  writer.ASCIIMode() = false;
  return writer.Write(all, path.c_str());
}

std::shared_ptr<DocState> ReadSTL(const std::string& path) {
  InitExchange();
  if (!FileReadable(path)) return nullptr;
  std::ifstream in(path, std::ios::binary);
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size <= 0) return nullptr;
  in.seekg(0);
  std::string data(static_cast<size_t>(size), '\0');
  if (!in.read(data.data(), size)) return nullptr;
  StlMesh mesh;
  // A binary file may begin with "solid" too: its size decides first.
  if (!ParseBinaryStl(data, mesh)) {
    mesh.points.clear();
    if (!ParseAsciiStl(data, mesh)) return nullptr;
  }
  const TopoDS_Shape shape = BuildMeshShape(mesh);
  if (shape.IsNull()) return nullptr;
  auto state = WrapImported(NewXdeDocument());
  const TDF_Label label = state->shapes->AddShape(shape, false, false);
  SetLabelName(label, std::filesystem::path(path).stem().string());
  state->topItems.push_back(label);
  return state;
}

}  // namespace cad_engine
