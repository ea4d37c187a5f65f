// Exchange code shared by the formats.
#include "ExchangeCommon.h"

#include "Mesh.h"

#include <IGESControl_Controller.hxx>
#include <Interface_Static.hxx>
#include <STEPControl_Controller.hxx>
#include <XCAFApp_Application.hxx>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

namespace cad_engine {

namespace {
thread_local ExchangeControl* g_active = nullptr;
}

ExchangeScope::ExchangeScope(ExchangeControl& control) : m_previous(g_active) {
  control.warnings.clear();
  control.stopCode = 0;
  control.done = 0;
  control.start = std::chrono::steady_clock::now();
  g_active = &control;
}

ExchangeScope::~ExchangeScope() { g_active = m_previous; }

void Fail(int code, const std::string& reason) { Throw(code, reason); }

bool ShouldStop(double done) {
  ExchangeControl* c = g_active;
  if (!c) return false;
  if (c->stopCode) return true;
  if (c->timeLimit > 0) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - c->start).count();
    if (elapsed > c->timeLimit) {
      c->stopCode = QZ::eCodeTimeLimit;
      return true;
    }
  }
  if (c->callback && done >= 0) {
    bool go = false;
    try {
      // The kernel's steps each count from 0: the callback sees the share never go back.
      c->done = std::max(c->done, done > 1 ? 1.0 : done);
      go = c->callback(c->user, c->done);
    } catch (...) {
      go = false;  // a callback that throws has not asked to go on
    }
    if (!go) {
      c->stopCode = QZ::eCodeCancelled;
      return true;
    }
  }
  return false;
}

void FailOrStopped(int code, const std::string& reason) {
  ExchangeControl* c = g_active;
  if (c && c->stopCode == QZ::eCodeTimeLimit) {
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", c->timeLimit);
    Fail(QZ::eCodeTimeLimit, std::string("the time limit of ") + limit + " s was reached");
  }
  if (c && c->stopCode == QZ::eCodeCancelled) Fail(QZ::eCodeCancelled, "cancelled");
  Fail(code, reason);
}

void CheckStop(double done) {
  if (ShouldStop(done)) FailOrStopped(QZ::eCodeFailure, "stopped");
}

void Warn(const std::string& text) {
  ExchangeControl* c = g_active;
  if (!c) return;
  if (c->warnings.size() < kMaxWarnings) {
    c->warnings.push_back(text);
  } else if (c->warnings.size() == kMaxWarnings) {
    c->warnings.push_back("more warnings left out");
  }
}

Standard_Boolean ExchangeProgress::UserBreak() { return ShouldStop(); }

void ExchangeProgress::Show(const Message_ProgressScope&, const Standard_Boolean) {
  ShouldStop(GetPosition());
}

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

namespace {

// The labels whose shapes are meshes, each once (a shape placed several times is written once).
template <class Visit>
void ForEachMeshLabel(const DocState& state, Visit visit) {
  TDF_LabelSequence labels;
  state.shapes->GetShapes(labels);
  for (int i = 1; i <= labels.Length(); ++i) {
    const TDF_Label& label = labels(i);
    if (XCAFDoc_ShapeTool::IsAssembly(label) || XCAFDoc_ShapeTool::IsReference(label)) continue;
    const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(label);
    if (IsMeshShape(shape)) visit(label, shape);
  }
}

// 1000000 as "1,000,000".
std::string Grouped(std::size_t n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

std::size_t FacetedFaceLimit() {
  if (const char* text = std::getenv("CAD_ONDRAVEL_MAX_MESH_FACES")) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long n = std::strtoull(text, &end, 10);
    if (errno == 0 && end != text && *end == '\0' && n > 0 && text[0] != '-')
      return static_cast<std::size_t>(std::min<unsigned long long>(n, SIZE_MAX));
  }
  return kFacetedExportMemory / kFacetedFaceBytes;
}

std::size_t MeshTriangles(const DocState& state) {
  std::size_t triangles = 0;
  ForEachMeshLabel(state, [&](const TDF_Label&, const TopoDS_Shape& shape) {
    triangles += MeshTriangleCount(shape);
  });
  return triangles;
}

void CheckFacetedSize(const DocState& state, const char* format) {
  const std::size_t triangles = MeshTriangles(state);
  const std::size_t limit = FacetedFaceLimit();
  if (triangles <= limit) return;
  Fail(QZ::eCodeTooLarge, std::string("the mesh has ") + Grouped(triangles) + " triangles; " +
                              format + " export of a mesh is limited to " + Grouped(limit) +
                              " faces (one face per triangle, about " +
                              std::to_string(kFacetedFaceBytes / 1024) +
                              " kB of memory each); export it as STL instead");
}

FacetedMeshes::FacetedMeshes(const DocState& state) : m_state(state) {
  ForEachMeshLabel(state, [&](const TDF_Label& label, const TopoDS_Shape& shape) {
    const TopoDS_Shape faceted = FacetedShape(shape);
    if (faceted.IsNull()) return;
    state.shapes->SetShape(label, faceted);
    m_replaced.emplace_back(label, shape);
  });
  if (!m_replaced.empty()) state.shapes->UpdateAssemblies();
}

FacetedMeshes::~FacetedMeshes() {
  try {
    for (const auto& [label, mesh] : m_replaced) m_state.shapes->SetShape(label, mesh);
    if (!m_replaced.empty()) m_state.shapes->UpdateAssemblies();
  } catch (...) {}
}

}  // namespace cad_engine
