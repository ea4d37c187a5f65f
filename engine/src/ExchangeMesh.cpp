// Mesh exchange for display programs: glTF 2.0 (binary or text) and Wavefront OBJ, written by
// the kernel's document writers from the document the STEP export writes (names, colours, the
// assembly tree). The solids are meshed first as the view meshes them (DisplayMesh.h).
//
// Both formats may write more than one file (the text glTF its ".bin", OBJ its ".mtl", the
// binary glTF a temporary ".bin.tmp"), and the writers derive those names from the file's own
// and open them wherever they point. So everything is written into a private folder made beside
// the file, under a plain name, and then renamed onto the names asked for: nothing is written
// through a link or outside the named folder, a name that is something other than a plain file
// is refused before anything is written, and a failed export leaves no file behind.
#include "DisplayMesh.h"
#include "ExchangeCommon.h"
#include "Mesh.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <RWGltf_CafWriter.hxx>
#include <RWMesh_CoordinateSystem.hxx>
#include <RWObj_CafWriter.hxx>
#include <TColStd_IndexedDataMapOfStringString.hxx>
#include <TDF_ChildIterator.hxx>
#include <TDataStd_Name.hxx>
#include <TopExp_Explorer.hxx>
#include <XCAFDoc_Color.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace cad_engine {

namespace {

namespace fs = std::filesystem;

// The view's shaded display: a deflection of 0.004 of the largest extent of each solid's box
// (the kernel's deviation coefficient 0.001, as Prs3d computes it) and 20 degrees.
constexpr double kDeviationCoefficient = 0.001;
constexpr double kDeviationAngle = 20.0 * M_PI / 180.0;
constexpr double kMinDeflection = 1e-4;  // mm: a bound for tiny solids

// Meshes every solid of the document that has no mesh of its own (STL meshes are written as
// they are), each product once, at the deflection its display would ask for.
void MeshDocument(const DocState& state) {
  TDF_LabelSequence labels;
  state.shapes->GetShapes(labels);
  const int count = labels.Length();
  for (int i = 1; i <= count; ++i) {
    if (!XCAFDoc_ShapeTool::IsSimpleShape(labels(i))) continue;
    const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(labels(i));
    if (shape.IsNull() || IsMeshShape(shape)) continue;
    Bnd_Box box;
    BRepBndLib::Add(shape, box, false);
    if (box.IsVoid()) continue;
    double x0, y0, z0, x1, y1, z1;
    box.Get(x0, y0, z0, x1, y1, z1);
    const double extent = std::max({x1 - x0, y1 - y0, z1 - z0});
    const double deflection = std::max(4.0 * kDeviationCoefficient * extent, kMinDeflection);
    if (!MeshForDisplay(shape, deflection, kDeviationAngle)) {
      const std::string name = LabelName(labels(i));
      std::string text = "a solid could not be meshed whole";
      if (!name.empty()) text.append(": ").append(name);
      Warn(text);
    }
    CheckStop(0.1 + 0.4 * i / count);
  }
}

// The names of the document's labels changed for a format for the time of one export, and put
// back afterwards (the document is the context's and is exported again).
class ScopedNames {
 public:
  template <class Change>
  ScopedNames(const DocState& state, Change change) {
    for (TDF_ChildIterator it(state.doc->Main(), true); it.More(); it.Next()) {
      Handle(TDataStd_Name) name;
      if (!it.Value().FindAttribute(TDataStd_Name::GetID(), name)) continue;
      const std::string before = LabelName(it.Value());
      const std::string after = change(before);
      if (after == before) continue;
      m_changed.emplace_back(it.Value(), name->Get());
      SetLabelName(it.Value(), after);
    }
  }
  ~ScopedNames() {
    for (auto& [label, name] : m_changed) {
      try {
        TDataStd_Name::Set(label, name);
      } catch (...) {}
    }
  }
  ScopedNames(const ScopedNames&) = delete;
  ScopedNames& operator=(const ScopedNames&) = delete;

 private:
  std::vector<std::pair<TDF_Label, TCollection_ExtendedString>> m_changed;
};

// OBJ names stand on their line to its end ("o", "g", "usemtl"), group names end at a space
// and '#' starts a comment for many readers: a name keeps its letters, whitespace, control
// characters and '#' become '_', so that no name can end a line or start another statement.
std::string ObjName(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f || c == '#') c = '_';
  }
  return out;
}

// A file name that any reader resolves as it stands, also as a relative URI: letters, digits,
// '-', '_' and '.', anything else '_'.
std::string PlainName(const std::string& stem) {
  std::string out;
  for (char c : stem) {
    const unsigned char u = static_cast<unsigned char>(c);
    out += (std::isalnum(u) && u < 0x80) || c == '-' || c == '_' || c == '.' ? c : '_';
  }
  if (out.empty() || out[0] == '.') out.insert(out.begin(), 'm');
  return out;
}

// What lies at a name: nothing, a plain file (replaced), or something else (refused).
void CheckReplaceable(const fs::path& p, const std::string& what) {
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    Fail(QZ::eCodeFileAccess, p.string() + ": " + std::strerror(errno));
  }
  if (S_ISLNK(st.st_mode))
    Fail(QZ::eCodeFileAccess, p.string() + ": the " + what + " is a symbolic link (not replaced)");
  if (!S_ISREG(st.st_mode))
    Fail(QZ::eCodeFileAccess, p.string() + ": the " + what + " is not a plain file");
}

// The files of one export: written into a private folder beside the target, then renamed onto
// the target's name and its companions' (the companion takes the plain form of the target's
// stem, which is what the file refers to it by). The folder goes with everything left in it.
class ExportFiles {
 public:
  // companionExt: the extension of the file beside the target (".bin", ".mtl"), or null.
  ExportFiles(const std::string& path, const char* companionExt) : m_target(path) {
    const fs::path name = m_target.filename();
    if (name.empty() || name == "." || name == "..")
      Fail(QZ::eCodeFileAccess, path + ": the path names no file");
    fs::path folder = m_target.parent_path();
    if (folder.empty()) folder = ".";
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      Fail(QZ::eCodeFileAccess, path + ": the folder " + folder.string() + " does not exist");
    m_plain = PlainName(m_target.stem().string());
    CheckReplaceable(m_target, "file");
    if (companionExt) {
      m_companion = folder / (m_plain + companionExt);
      if (m_companion == m_target)
        Fail(QZ::eCodeFileAccess, path + ": the file would be its own " + companionExt + " file");
      CheckReplaceable(m_companion, std::string(companionExt) + " file beside it");
    }
    std::string templ = (folder / ".morlane-export-XXXXXX").string();
    if (!::mkdtemp(templ.data()))
      Fail(QZ::eCodeFileAccess,
           path + ": cannot write in " + folder.string() + ": " + std::strerror(errno));
    m_work = templ;
    m_written = m_work / (m_plain + m_target.extension().string());
    if (companionExt) m_writtenCompanion = m_work / (m_plain + companionExt);
  }
  ~ExportFiles() {
    std::error_code ec;
    fs::remove_all(m_work, ec);
  }
  ExportFiles(const ExportFiles&) = delete;
  ExportFiles& operator=(const ExportFiles&) = delete;

  // Where the writer writes.
  std::string WritePath() const { return m_written.string(); }

  // Moves what was written to its place: the companion first (when the writer made it), the
  // file last, so that the file never refers to a companion that is not there.
  void Commit() {
    if (!m_companion.empty() && fs::exists(m_writtenCompanion)) {
      CheckReplaceable(m_companion, "file beside it");
      Move(m_writtenCompanion, m_companion);
    }
    CheckReplaceable(m_target, "file");
    Move(m_written, m_target);
  }

 private:
  static void Move(const fs::path& from, const fs::path& to) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      Fail(QZ::eCodeFileAccess, to.string() + ": the writer wrote nothing");
    // The folder's default rights, as a file created there directly would have them.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(from.c_str(), 0666 & ~mask);
    if (std::rename(from.c_str(), to.c_str()) != 0)
      Fail(QZ::eCodeFileAccess, to.string() + ": " + std::strerror(errno));
  }

  fs::path m_target, m_companion, m_work, m_written, m_writtenCompanion;
  std::string m_plain;
};

bool HasAnyShape(const DocState& state) {
  TDF_LabelSequence free;
  state.shapes->GetFreeShapes(free);
  for (int i = 1; i <= free.Length(); ++i) {
    const TopoDS_Shape s = XCAFDoc_ShapeTool::GetShape(free(i));
    if (!s.IsNull() && TopExp_Explorer(s, TopAbs_FACE).More()) return true;
  }
  return false;
}

}  // namespace

void WriteGLTF(const DocState& state, const std::string& path, bool binary) {
  InitExchange();
  state.shapes->UpdateAssemblies();
  if (!HasAnyShape(state)) Fail(QZ::eCodeBadFile, path + ": there is no shape to write");
  ExportFiles files(path, binary ? nullptr : ".bin");
  MeshDocument(state);
  RWGltf_CafWriter writer(files.WritePath().c_str(), binary);
  // The model's millimetres and z up become the format's metres and y up.
  writer.ChangeCoordinateSystemConverter().SetInputLengthUnit(0.001);
  writer.ChangeCoordinateSystemConverter().SetInputCoordinateSystem(RWMesh_CoordinateSystem_Zup);
  writer.SetTransformationFormat(RWGltf_WriterTrsfFormat_Compact);
  writer.SetNodeNameFormat(RWMesh_NameFormat_InstanceOrProduct);
  writer.SetMeshNameFormat(RWMesh_NameFormat_Product);
  // One primitive per colour of a part, not per face: a fraction of the JSON.
  writer.SetMergeFaces(true);
  TColStd_IndexedDataMapOfStringString info;
  Handle(ExchangeProgress) progress = new ExchangeProgress();
  if (!writer.Perform(state.doc, info, progress->Start()))
    FailOrStopped(QZ::eCodeFileAccess, path + ": the glTF file cannot be written");
  CheckStop(1.0);
  files.Commit();
}

void WriteOBJ(const DocState& state, const std::string& path) {
  InitExchange();
  state.shapes->UpdateAssemblies();
  if (!HasAnyShape(state)) Fail(QZ::eCodeBadFile, path + ": there is no shape to write");
  ExportFiles files(path, ".mtl");
  MeshDocument(state);
  ScopedNames names(state, ObjName);
  RWObj_CafWriter writer(files.WritePath().c_str());
  TColStd_IndexedDataMapOfStringString info;
  Handle(ExchangeProgress) progress = new ExchangeProgress();
  if (!writer.Perform(state.doc, info, progress->Start()))
    FailOrStopped(QZ::eCodeFileAccess, path + ": the OBJ file cannot be written");
  CheckStop(1.0);
  files.Commit();
}

}  // namespace cad_engine
