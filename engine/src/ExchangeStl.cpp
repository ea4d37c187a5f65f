// STL exchange. A file becomes one mesh shape (Mesh.h): one triangulation with shared nodes,
// read by the kernel's binary reader or by our own text reader (the kernel's text reader reads
// past its line buffer on some malformed lines). Exports write the triangulations as they are
// and mesh the other shapes.
#include "ExchangeCommon.h"
#include "Mesh.h"

#include <BRepMesh_IncrementalMesh.hxx>
#include <BRep_Builder.hxx>
#include <NCollection_Vector.hxx>
#include <Poly_MergeNodesTool.hxx>
#include <RWStl_Reader.hxx>
#include <StlAPI_Writer.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

namespace cad_engine {

namespace {

// What the kernel's binary reader gives: its nodes come merged already.
class MeshCollector final : public RWStl_Reader {
 public:
  Standard_Integer AddNode(const gp_XYZ& p) override {
    if (!std::isfinite(p.X()) || !std::isfinite(p.Y()) || !std::isfinite(p.Z())) finite = false;
    nodes.Append(p);
    return nodes.Size();
  }
  void AddTriangle(Standard_Integer a, Standard_Integer b, Standard_Integer c) override {
    triangles.Append(Poly_Triangle(a, b, c));
  }
  Handle(Poly_Triangulation) Result() const {
    if (triangles.IsEmpty()) return nullptr;
    Handle(Poly_Triangulation) t =
        new Poly_Triangulation(nodes.Size(), triangles.Size(), false, false);
    for (int i = 0; i < nodes.Size(); ++i) t->SetNode(i + 1, gp_Pnt(nodes(i)));
    for (int i = 0; i < triangles.Size(); ++i) t->SetTriangle(i + 1, triangles(i));
    return t;
  }
  NCollection_Vector<gp_XYZ> nodes{1 << 16};
  NCollection_Vector<Poly_Triangle> triangles{1 << 16};
  bool finite = true;
};

// A binary file holds exactly the facets its count announces (give or take a few trailing
// bytes); a file of any other size is read as text.
bool LooksBinary(std::ifstream& in, std::uint64_t size) {
  if (size < 84) return false;
  char head[84];
  in.seekg(0);
  if (!in.read(head, 84)) return false;
  std::uint32_t count = 0;
  std::memcpy(&count, head + 80, 4);  // little endian on the platforms we build for
  const std::uint64_t need = 84ull + 50ull * count;
  return count > 0 && need <= size && size - need < 50;
}

Handle(Poly_Triangulation) ReadBinaryStl(std::ifstream& in, const std::string& path) {
  in.clear();
  in.seekg(0);
  MeshCollector collector;
  Handle(ExchangeProgress) progress = new ExchangeProgress();
  const bool ok = collector.ReadBinary(in, progress->Start());
  if (!ok) FailOrStopped(QZ::eCodeBadFile, path + ": the binary STL data cannot be read");
  if (!collector.finite) Fail(QZ::eCodeBadFile, path + ": a coordinate is not a finite number");
  return collector.Result();
}

bool KeywordIs(std::string_view word, const char* keyword) {
  const size_t n = std::strlen(keyword);
  if (word.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(word[i])) != keyword[i]) return false;
  return true;
}

// Text STL as writers produce it: keywords in any case, "endsolid" optional at the end,
// vertices in threes with finite coordinates. The nodes are merged as the binary reader merges
// them.
Handle(Poly_Triangulation) ReadAsciiStl(const std::string& data, const std::string& path) {
  size_t i = 0;
  const size_t n = data.size();
  size_t line = 1;
  auto skipSpace = [&] {
    while (i < n && std::isspace(static_cast<unsigned char>(data[i]))) {
      if (data[i] == '\n') ++line;
      ++i;
    }
  };
  auto word = [&]() -> std::string_view {
    skipSpace();
    const size_t start = i;
    while (i < n && !std::isspace(static_cast<unsigned char>(data[i]))) ++i;
    return std::string_view(data).substr(start, i - start);
  };
  auto bad = [&](const std::string& what) {
    Fail(QZ::eCodeBadFile, path + ": line " + std::to_string(line) + ": " + what);
  };
  for (unsigned char c : data)
    if (c < 9 || c == 0x7f) Fail(QZ::eCodeBadFile, path + ": neither binary nor text STL");
  if (!KeywordIs(word(), "solid")) bad("the file does not start with \"solid\"");
  while (i < n && data[i] != '\n') ++i;  // the solid's name
  Handle(Poly_MergeNodesTool) merge = new Poly_MergeNodesTool(M_PI / 2.0, 0.0, -1);
  gp_XYZ corners[3];
  int corner = 0;
  size_t triangles = 0;
  while (true) {
    const std::string_view w = word();
    if (w.empty()) break;
    if (KeywordIs(w, "vertex")) {
      double xyz[3];
      for (double& c : xyz) {
        const std::string number(word());
        if (number.empty()) bad("a vertex lacks a coordinate");
        char* end = nullptr;
        c = std::strtod(number.c_str(), &end);
        if (end != number.c_str() + number.size()) bad("\"" + number + "\" is not a number");
        if (!std::isfinite(c)) bad("a coordinate is not a finite number");
      }
      corners[corner++].SetCoord(xyz[0], xyz[1], xyz[2]);
      if (corner == 3) {
        merge->AddTriangle(corners);
        corner = 0;
        if ((++triangles & 0xFFFF) == 0) CheckStop(static_cast<double>(i) / n);
      }
    } else if (KeywordIs(w, "endsolid")) {
      break;
    } else if (KeywordIs(w, "normal")) {
      for (int k = 0; k < 3; ++k) word();
    } else if (!(KeywordIs(w, "facet") || KeywordIs(w, "outer") || KeywordIs(w, "loop") ||
                 KeywordIs(w, "endloop") || KeywordIs(w, "endfacet"))) {
      bad("unexpected \"" + std::string(w.substr(0, 40)) + "\"");
    }
  }
  if (corner != 0) bad("a facet has fewer than three vertices");
  if (triangles == 0) Fail(QZ::eCodeBadFile, path + ": the file holds no facet");
  return merge->Result();
}

// The shapes of the document without their mesh faces (those are written as they are).
void SplitMeshes(const TopoDS_Shape& shape, BRep_Builder& b, TopoDS_Compound& others,
                 bool& anyOther) {
  for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) {
    const TopoDS_Face face = TopoDS::Face(e.Current());
    TopLoc_Location loc;
    if (BRep_Tool::Surface(face, loc).IsNull()) continue;
    b.Add(others, face);
    anyOther = true;
  }
}

}  // namespace

void WriteSTL(const DocState& state, const std::string& path) {
  InitExchange();
  state.shapes->UpdateAssemblies();
  const TopoDS_Shape all = DocumentShape(state);
  BRep_Builder b;
  TopoDS_Compound others;
  b.MakeCompound(others);
  bool anyOther = false;
  SplitMeshes(all, b, others, anyOther);
  if (anyOther) {
    BRepMesh_IncrementalMesh mesh(others, 0.001, true, 0.35, false);
    CheckStop(0.5);
  }
  StlAPI_Writer writer;
  writer.ASCIIMode() = false;
  Handle(ExchangeProgress) progress = new ExchangeProgress();
  if (!writer.Write(all, path.c_str(), progress->Start()))
    FailOrStopped(QZ::eCodeFileAccess, path + ": the STL file cannot be written");
}

std::shared_ptr<DocState> ReadSTL(const std::string& path) {
  InitExchange();
  if (!FileReadable(path)) Fail(QZ::eCodeFileAccess, path + ": no such file");
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(QZ::eCodeFileAccess, path + ": the file cannot be opened");
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size <= 0) Fail(QZ::eCodeBadFile, path + ": the file is empty");
  Handle(Poly_Triangulation) mesh;
  // A binary file may begin with "solid" too: its size decides first.
  if (LooksBinary(in, static_cast<std::uint64_t>(size))) {
    mesh = ReadBinaryStl(in, path);
  } else {
    in.clear();
    in.seekg(0);
    std::string data(static_cast<size_t>(size), '\0');
    if (!in.read(data.data(), size)) Fail(QZ::eCodeFileAccess, path + ": the file cannot be read");
    mesh = ReadAsciiStl(data, path);
  }
  CheckStop(1.0);
  const TopoDS_Face face = MakeMeshFace(mesh);
  if (face.IsNull()) Fail(QZ::eCodeBadFile, path + ": the file holds no facet");
  auto state = WrapImported(NewXdeDocument());
  const TDF_Label label = state->shapes->AddShape(face, false, false);
  SetLabelName(label, std::filesystem::path(path).stem().string());
  state->topItems.push_back(label);
  return state;
}

}  // namespace cad_engine
