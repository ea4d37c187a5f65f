// STEP, IGES and STL exchange of documents.
#include "Context.h"

#include <APIHeaderSection_MakeHeader.hxx>
#include <BRepMesh_IncrementalMesh.hxx>
#include <IFSelect_ReturnStatus.hxx>
#include <IGESCAFControl_Reader.hxx>
#include <IGESCAFControl_Writer.hxx>
#include <IGESControl_Controller.hxx>
#include <Interface_Check.hxx>
#include <Interface_HArray1OfHAsciiString.hxx>
#include <Interface_Static.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <STEPControl_Controller.hxx>
#include <STEPControl_Reader.hxx>
#include <STEPControl_Writer.hxx>
#include <StdFail_NotDone.hxx>
#include <StepBasic_ProductDefinition.hxx>
#include <StepData_StepModel.hxx>
#include <StepRepr_MappedItem.hxx>
#include <StepRepr_HArray1OfRepresentationItem.hxx>
#include <StepRepr_NextAssemblyUsageOccurrence.hxx>
#include <StepRepr_Representation.hxx>
#include <StepRepr_RepresentationMap.hxx>
#include <StepRepr_RepresentationRelationship.hxx>
#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeFace.hxx>
#include <BRepBuilderAPI_MakeSolid.hxx>
#include <BRepLib.hxx>
#include <TopoDS_Solid.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <BRep_Builder.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Shell.hxx>
#include <gp_Pnt.hxx>
#include <gp_Vec.hxx>
#include <StlAPI_Writer.hxx>
#include <TCollection_HAsciiString.hxx>
#include <TDocStd_Document.hxx>
#include <TopoDS_Iterator.hxx>
#include <Quantity_Color.hxx>
#include <XCAFApp_Application.hxx>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace cad_engine {

namespace {

void InitExchange() {
  static std::once_flag once;
  std::call_once(once, [] {
    SilenceKernel();
    STEPControl_Controller::Init();
    IGESControl_Controller::Init();
    Interface_Static::SetCVal("write.step.schema", "AP214IS");
    Interface_Static::SetIVal("write.iges.brep.mode", 1);
    Interface_Static::SetCVal("write.step.unit", "MM");
    Interface_Static::SetCVal("write.iges.unit", "MM");
  });
}

// A document for a reader; closed again when the read fails.
struct PendingDoc {
  Handle(TDocStd_Document) doc = NewXdeDocument();
  ~PendingDoc() {
    try {
      if (!doc.IsNull() && doc->IsOpened()) XCAFApp_Application::GetApplication()->Close(doc);
    } catch (...) {}
  }
  // Hands the document to a DocState, which closes it from then on.
  Handle(TDocStd_Document) Release() {
    Handle(TDocStd_Document) d = doc;
    doc.Nullify();
    return d;
  }
};

Handle(TCollection_HAsciiString) Ascii(const std::string& s) {
  return new TCollection_HAsciiString(s.c_str());
}

std::string Text(const Handle(TCollection_HAsciiString) & s) {
  return s.IsNull() ? std::string() : s->ToCString();
}

bool HasShapes(const DocState& state) {
  TDF_LabelSequence free;
  state.shapes->GetFreeShapes(free);
  return free.Length() > 0;
}

bool FileReadable(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

// Assembly links and shape-representation links of a STEP model must form no cycle: the
// kernel's transfer follows them recursively and would never end.
using Graph = std::unordered_map<const Standard_Transient*, std::vector<const Standard_Transient*>>;

// Iterative depth-first search with three colours.
bool GraphHasCycle(const Graph& edges) {
  std::unordered_map<const Standard_Transient*, int> state;  // 0 new, 1 on stack, 2 done
  for (const auto& [start, _] : edges) {
    if (state[start] != 0) continue;
    std::vector<std::pair<const Standard_Transient*, size_t>> stack{{start, 0}};
    state[start] = 1;
    while (!stack.empty()) {
      auto& [node, next] = stack.back();
      auto it = edges.find(node);
      if (it == edges.end() || next >= it->second.size()) {
        state[node] = 2;
        stack.pop_back();
        continue;
      }
      const Standard_Transient* child = it->second[next++];
      int& s = state[child];
      if (s == 1) return true;
      if (s == 0) {
        s = 1;
        stack.emplace_back(child, 0);
      }
    }
  }
  return false;
}

// Entities the reader could not read as written (unresolved references, values of the wrong
// type): the kernel's transfer follows such references without checking them, so a file holding
// any is refused as a whole.
bool HasBrokenEntity(const Handle(StepData_StepModel) & model) {
  const int n = model->NbEntities();
  for (int i = 1; i <= n; ++i) {
    if (model->IsErrorEntity(i)) return true;
  }
  const Handle(Interface_Check)& global = model->GlobalCheck();
  return !global.IsNull() && global->HasFailed();
}

bool HasReferenceCycle(const Handle(StepData_StepModel) & model) {
  // Each kind of link separately: assemblies, representation relationships, mapped items.
  Graph assemblies, relations, mappings;
  const int n = model->NbEntities();
  for (int i = 1; i <= n; ++i) {
    const Handle(Standard_Transient)& e = model->Value(i);
    if (auto nauo = Handle(StepRepr_NextAssemblyUsageOccurrence)::DownCast(e)) {
      auto a = nauo->RelatingProductDefinition();
      auto b = nauo->RelatedProductDefinition();
      if (!a.IsNull() && !b.IsNull()) assemblies[a.get()].push_back(b.get());
    } else if (auto rel = Handle(StepRepr_RepresentationRelationship)::DownCast(e)) {
      auto a = rel->Rep1();
      auto b = rel->Rep2();
      if (!a.IsNull() && !b.IsNull()) relations[a.get()].push_back(b.get());
    } else if (auto rep = Handle(StepRepr_Representation)::DownCast(e)) {
      auto items = rep->Items();
      if (items.IsNull()) continue;
      for (int k = items->Lower(); k <= items->Upper(); ++k) {
        auto mapped = Handle(StepRepr_MappedItem)::DownCast(items->Value(k));
        if (mapped.IsNull() || mapped->MappingSource().IsNull()) continue;
        auto target = mapped->MappingSource()->MappedRepresentation();
        if (!target.IsNull()) mappings[rep.get()].push_back(target.get());
      }
    }
  }
  return GraphHasCycle(assemblies) || GraphHasCycle(relations) || GraphHasCycle(mappings);
}

// The instances of a STEP file as written: every reference must name an instance of the file,
// and following references must never lead back to where it started. The kernel's reader
// trusts both (a dangling reference or a loop of references crashes its transfer), so files
// that break either are refused before it sees them.
bool StepReferencesSound(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  in.seekg(0, std::ios::end);
  const std::streamoff fileSize = in.tellg();
  if (fileSize <= 0) return false;
  in.seekg(0);
  std::string text(static_cast<size_t>(fileSize), '\0');
  if (!in.read(text.data(), fileSize)) return false;
  const size_t data = text.find("DATA;");
  if (data == std::string::npos) return false;

  std::vector<uint64_t> ids;        // instance ids, in file order
  std::vector<uint64_t> refs;       // all references, grouped by instance
  std::vector<size_t> firstRef{0};  // refs of instance k: [firstRef[k], firstRef[k+1])
  const size_t n = text.size();
  size_t i = data + 5;
  while (i < n) {
    // Start of a statement: skip blanks and comments.
    while (i < n && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i + 1 < n && text[i] == '/' && text[i + 1] == '*') {
      const size_t end = text.find("*/", i + 2);
      if (end == std::string::npos) return false;
      i = end + 2;
      continue;
    }
    if (i >= n) break;
    bool isInstance = false;
    uint64_t id = 0;
    if (text[i] == '#') {
      size_t j = i + 1;
      while (j < n && std::isdigit(static_cast<unsigned char>(text[j])))
        id = id * 10 + (text[j++] - '0');
      while (j < n && std::isspace(static_cast<unsigned char>(text[j]))) ++j;
      if (j < n && text[j] == '=') {
        isInstance = true;
        i = j + 1;
      }
    }
    // The statement's body up to its ';', outside strings and comments.
    const size_t refStart = refs.size();
    bool ended = false;
    while (i < n) {
      const char c = text[i];
      if (c == '\'') {
        ++i;
        while (i < n) {
          if (text[i] == '\'') {
            if (i + 1 < n && text[i + 1] == '\'') {
              i += 2;
              continue;
            }
            break;
          }
          ++i;
        }
        if (i >= n) return false;  // an open string
        ++i;
      } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
        const size_t end = text.find("*/", i + 2);
        if (end == std::string::npos) return false;
        i = end + 2;
      } else if (c == '#') {
        uint64_t r = 0;
        size_t j = i + 1;
        while (j < n && std::isdigit(static_cast<unsigned char>(text[j])))
          r = r * 10 + (text[j++] - '0');
        if (j > i + 1 && isInstance) refs.push_back(r);
        i = j;
      } else if (c == ';') {
        ++i;
        ended = true;
        break;
      } else {
        ++i;
      }
    }
    if (!ended) return false;  // cut off in the middle of a statement
    if (isInstance) {
      ids.push_back(id);
      firstRef.push_back(refs.size());
    } else {
      refs.resize(refStart);
      // "ENDSEC;" ends the data section; what follows are other sections or the end.
    }
  }

  // Ids are usually numbered densely from 1: index them by a table then, by a map otherwise.
  constexpr uint32_t kNone = ~0u;
  const uint64_t maxId = ids.empty() ? 0 : *std::max_element(ids.begin(), ids.end());
  std::vector<uint32_t> target(refs.size());
  if (maxId <= 4 * ids.size() + 1024) {
    std::vector<uint32_t> table(maxId + 1, kNone);
    for (uint32_t k = 0; k < ids.size(); ++k) {
      if (table[ids[k]] != kNone) return false;  // an id defined twice
      table[ids[k]] = k;
    }
    for (size_t k = 0; k < refs.size(); ++k) {
      if (refs[k] > maxId || table[refs[k]] == kNone) return false;  // a dangling reference
      target[k] = table[refs[k]];
    }
  } else {
    std::unordered_map<uint64_t, uint32_t> index;
    index.reserve(ids.size() * 2);
    for (uint32_t k = 0; k < ids.size(); ++k)
      if (!index.emplace(ids[k], k).second) return false;
    for (size_t k = 0; k < refs.size(); ++k) {
      auto it = index.find(refs[k]);
      if (it == index.end()) return false;
      target[k] = it->second;
    }
  }
  // Loops of references: iterative depth-first search with three colours.
  std::vector<uint8_t> colour(ids.size(), 0);
  std::vector<std::pair<uint32_t, size_t>> stack;
  for (uint32_t start = 0; start < ids.size(); ++start) {
    if (colour[start]) continue;
    colour[start] = 1;
    stack.emplace_back(start, firstRef[start]);
    while (!stack.empty()) {
      auto& [node, next] = stack.back();
      if (next == firstRef[node + 1]) {
        colour[node] = 2;
        stack.pop_back();
        continue;
      }
      const uint32_t child = target[next++];
      if (colour[child] == 1) return false;
      if (colour[child] == 0) {
        colour[child] = 1;
        stack.emplace_back(child, firstRef[child]);
      }
    }
  }
  return true;
}

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

bool WriteSTEP(const DocState& state, const HeaderTexts& header, const std::string& path) {
  InitExchange();
  state.shapes->UpdateAssemblies();
  STEPCAFControl_Writer writer;
  writer.SetColorMode(true);
  writer.SetNameMode(true);
  writer.SetLayerMode(false);
  if (!writer.Transfer(state.doc, STEPControl_AsIs)) return false;
  APIHeaderSection_MakeHeader h(writer.ChangeWriter().Model());
  h.SetName(Ascii(header.fileName));
  h.SetDescriptionValue(1, Ascii(header.fileDescription));
  h.SetAuthorValue(1, Ascii(header.author));
  h.SetOrganizationValue(1, Ascii(header.organization));
  h.SetAuthorisation(Ascii(header.authorisation));
  return writer.Write(path.c_str()) == IFSelect_RetDone;
}

bool WriteIGES(const DocState& state, const std::string& path) {
  InitExchange();
  state.shapes->UpdateAssemblies();
  IGESCAFControl_Writer writer;
  writer.SetColorMode(true);
  writer.SetNameMode(true);
  writer.SetLayerMode(false);
  if (!writer.Transfer(state.doc)) return false;
  return writer.Write(path.c_str());
}

bool WriteSTL(const DocState& state, const std::string& path) {
  InitExchange();
  state.shapes->UpdateAssemblies();
  TopoDS_Shape all = DocumentShape(state);
  BRepMesh_IncrementalMesh mesh(all, 0.001, true, 0.35, false);
  StlAPI_Writer writer;
  writer.ASCIIMode() = false;
  return writer.Write(all, path.c_str());
}

namespace {

// Reads a file with one of the kernel's document readers into a new document. The reader and the
// document are abandoned if the kernel crashes inside (see RunCrashGuarded). `checkRead` looks at
// what the reader read before anything is transferred, and may refuse it.
template <class Reader, class CheckRead>
std::shared_ptr<DocState> ReadDocument(const std::string& path, CheckRead checkRead) {
  auto* reader = new Reader();
  auto* pending = new PendingDoc();
  bool transferred = false;
  bool survived = false;
  try {
    survived = RunCrashGuarded([&] {
      reader->SetColorMode(true);
      reader->SetNameMode(true);
      reader->SetLayerMode(false);
      if (reader->ReadFile(path.c_str()) != IFSelect_RetDone) return;
      if (!checkRead(*reader)) return;
      transferred = reader->Transfer(pending->doc);
    });
  } catch (...) {
    delete pending;
    delete reader;
    throw;
  }
  if (!survived) return nullptr;
  std::unique_ptr<Reader> ownReader(reader);
  std::unique_ptr<PendingDoc> ownDoc(pending);
  if (!transferred) return nullptr;
  auto state = WrapImported(pending->Release());
  if (!HasShapes(*state)) return nullptr;
  return state;
}

}  // namespace

std::shared_ptr<DocState> ReadSTEP(const std::string& path, HeaderTexts& header) {
  InitExchange();
  if (!FileReadable(path)) return nullptr;
  if (!StepReferencesSound(path)) return nullptr;
  // The header is taken while the reader still holds its model (it goes with the reader).
  HeaderTexts read;
  auto state = ReadDocument<STEPCAFControl_Reader>(path, [&](STEPCAFControl_Reader& reader) {
    Handle(StepData_StepModel) model = reader.ChangeReader().StepModel();
    if (model.IsNull() || HasBrokenEntity(model) || HasReferenceCycle(model)) return false;
    APIHeaderSection_MakeHeader h(model);
    read.fileName = Text(h.Name());
    read.fileDescription = h.NbDescription() > 0 ? Text(h.DescriptionValue(1)) : std::string();
    read.author = h.NbAuthor() > 0 ? Text(h.AuthorValue(1)) : std::string();
    read.organization = h.NbOrganization() > 0 ? Text(h.OrganizationValue(1)) : std::string();
    read.authorisation = Text(h.Authorisation());
    return true;
  });
  if (!state) return nullptr;
  header = read;
  return state;
}

namespace {

// IGES files hold no assembly structure: the kernel reads them as one compound. Its pieces
// become the document's parts, each with the name and colour the file gave it.
void ExpandTopCompounds(DocState& state) {
  std::vector<TDF_Label> items;
  for (const TDF_Label& top : state.topItems) {
    const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(top);
    if (XCAFDoc_ShapeTool::IsAssembly(top) || shape.IsNull() ||
        shape.ShapeType() != TopAbs_COMPOUND) {
      items.push_back(top);
      continue;
    }
    int pieces = 0;
    for (TopoDS_Iterator it(shape); it.More(); it.Next()) ++pieces;
    if (pieces < 2) {
      items.push_back(top);
      continue;
    }
    for (TopoDS_Iterator it(shape); it.More(); it.Next()) {
      TDF_Label sub;
      if (!state.shapes->FindSubShape(top, it.Value(), sub))
        sub = state.shapes->AddSubShape(top, it.Value());
      if (sub.IsNull()) {
        items.push_back(top);  // keep the whole compound rather than lose pieces
        break;
      }
      Quantity_Color c;
      if (!state.colors->IsSet(sub, XCAFDoc_ColorSurf) &&
          !state.colors->IsSet(sub, XCAFDoc_ColorGen) &&
          state.colors->GetColor(it.Value(), XCAFDoc_ColorSurf, c))
        state.colors->SetColor(sub, c, XCAFDoc_ColorSurf);
      items.push_back(sub);
    }
  }
  state.topItems = std::move(items);
}

}  // namespace

std::shared_ptr<DocState> ReadIGES(const std::string& path) {
  InitExchange();
  if (!FileReadable(path)) return nullptr;
  auto state =
      ReadDocument<IGESCAFControl_Reader>(path, [](IGESCAFControl_Reader&) { return true; });
  if (!state) return nullptr;
  ExpandTopCompounds(*state);
  return state;
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
