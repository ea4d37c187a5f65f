// What the exchange formats share: the kernel's exchange settings, the limits and progress of
// one call (time limit, cancellation, warnings, failures with their reason), the document a
// reader fills, text conversions, and the crash-guarded read of a file into a document.
#pragma once

#include "Context.h"

#include <IFSelect_ReturnStatus.hxx>
#include <Message_ProgressIndicator.hxx>
#include <Message_ProgressRange.hxx>
#include <TCollection_HAsciiString.hxx>
#include <TDocStd_Document.hxx>
#include <XCAFApp_Application.hxx>

#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace cad_engine {

// The kernel's exchange settings (units, schema), once per process.
void InitExchange();

using ProgressCallback = bool (*)(void* user, double done);

// The limits of one import or export and what it reports besides its result. One is active
// per thread while a call of the context runs (ExchangeScope); the code below reaches it
// through the functions that follow.
struct ExchangeControl {
  double timeLimit = 120.0;  // seconds; 0 or less: none
  ProgressCallback callback = nullptr;
  void* user = nullptr;
  std::vector<std::string> warnings;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  int stopCode = 0;  // eCodeTimeLimit or eCodeCancelled once the call has been stopped
  double done = 0;   // the share reported so far (never goes back)
};

class ExchangeScope {
 public:
  explicit ExchangeScope(ExchangeControl& control);
  ~ExchangeScope();
  ExchangeScope(const ExchangeScope&) = delete;
  ExchangeScope& operator=(const ExchangeScope&) = delete;

 private:
  ExchangeControl* m_previous;
};

// A failure of the call with its code and reason (thrown as an engine exception).
[[noreturn]] void Fail(int code, const std::string& reason);
// Whether the active call must stop (past its time limit, or cancelled); reports progress.
bool ShouldStop(double done = -1.0);
// Fails with eCodeTimeLimit or eCodeCancelled when the call must stop.
void CheckStop(double done = -1.0);
// Fails with the stop's code when the call was stopped, else with code and reason.
[[noreturn]] void FailOrStopped(int code, const std::string& reason);
// A warning of the active call (at most kMaxWarnings are kept; the last one says how many more).
void Warn(const std::string& text);
constexpr size_t kMaxWarnings = 50;

// The kernel's progress indicator for the active call: its UserBreak is ShouldStop.
class ExchangeProgress : public Message_ProgressIndicator {
 public:
  Standard_Boolean UserBreak() override;
  void Show(const Message_ProgressScope& scope, const Standard_Boolean force) override;
};

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

// Links between a file's entities that the kernel's transfers follow recursively: a loop of them
// would never end. Whether the links form one (iterative depth-first search with three colours).
using Graph = std::unordered_map<const Standard_Transient*, std::vector<const Standard_Transient*>>;
bool GraphHasCycle(const Graph& edges);

Handle(TCollection_HAsciiString) Ascii(const std::string& s);
std::string Text(const Handle(TCollection_HAsciiString) & s);
bool HasShapes(const DocState& state);
bool FileReadable(const std::string& path);

// Reads a file with one of the kernel's document readers into a new document, under the active
// call's limits. The reader and the document are abandoned if the kernel crashes inside (see
// RunCrashGuarded). `checkRead` looks at what the reader read before anything is transferred,
// and may refuse it (by Fail) or ask for nothing to be transferred (false); `afterTransfer`
// sees the reader and the filled document. Fails with the reason; null only when checkRead
// said false.
struct NoAfterTransfer {
  template <class Reader>
  void operator()(Reader&, const Handle(TDocStd_Document) &) const {}
};

template <class Reader, class CheckRead, class AfterTransfer = NoAfterTransfer>
std::shared_ptr<DocState> ReadDocument(const std::string& path, const char* format,
                                       CheckRead checkRead,
                                       AfterTransfer afterTransfer = AfterTransfer()) {
  auto* reader = new Reader();
  auto* pending = new PendingDoc();
  bool read = false, checked = false, transferred = false;
  bool survived = false;
  try {
    survived = RunCrashGuarded([&] {
      reader->SetColorMode(true);
      reader->SetNameMode(true);
      reader->SetLayerMode(false);
      if (reader->ReadFile(path.c_str()) != IFSelect_RetDone) return;
      read = true;
      CheckStop(0.3);
      if (!checkRead(*reader)) return;
      checked = true;
      Handle(ExchangeProgress) progress = new ExchangeProgress();
      transferred = reader->Transfer(pending->doc, progress->Start());
      if (transferred) afterTransfer(*reader, pending->doc);
    });
  } catch (...) {
    delete pending;
    delete reader;
    throw;
  }
  if (!survived)
    Fail(QZ::eCodeBadFile, path + ": the " + format + " reader failed on the file's content");
  std::unique_ptr<Reader> ownReader(reader);
  std::unique_ptr<PendingDoc> ownDoc(pending);
  if (!read) Fail(QZ::eCodeBadFile, path + ": the file cannot be read as " + format);
  if (!checked) return nullptr;
  if (!transferred)
    FailOrStopped(QZ::eCodeFailure, path + ": the file's shapes cannot be transferred");
  CheckStop(1.0);
  auto state = WrapImported(pending->Release());
  if (!HasShapes(*state)) Fail(QZ::eCodeBadFile, path + ": the file holds no shape");
  return state;
}

// A format that needs surfaces (STEP, IGES) gets a mesh as one planar face per triangle, and
// each such face costs the kernel about kFacetedFaceBytes of memory at the peak of the export
// (measured by bench_stl on a closed mesh of 20,000 triangles: 23 kB, for the faces, their edges
// and vertices and the writer's model of them) and about 0.75 ms. An export whose meshes need
// more faces than the limit is refused before anything is built: the limit keeps that peak
// below kFacetedExportMemory (about 43,000 faces, some 30 s, well within the default time
// limit). The environment variable CAD_ONDRAVEL_MAX_MESH_FACES sets another limit (a positive
// number of faces).
constexpr std::size_t kFacetedFaceBytes = 24 * 1024;
constexpr std::size_t kFacetedExportMemory = std::size_t(1) << 30;
std::size_t FacetedFaceLimit();
// The triangles of the document's meshes that a surface format would make faces of.
std::size_t MeshTriangles(const DocState& state);
// Fails with eCodeTooLarge, naming the mesh's size and the limit, when the document's meshes
// need more faces than the limit allows.
void CheckFacetedSize(const DocState& state, const char* format);

// Replaces the mesh shapes of a document by faceted solids or shells for a format that needs
// surfaces, and puts the meshes back when it goes.
class FacetedMeshes {
 public:
  explicit FacetedMeshes(const DocState& state);
  ~FacetedMeshes();
  FacetedMeshes(const FacetedMeshes&) = delete;
  FacetedMeshes& operator=(const FacetedMeshes&) = delete;

 private:
  const DocState& m_state;
  std::vector<std::pair<TDF_Label, TopoDS_Shape>> m_replaced;
};

}  // namespace cad_engine
