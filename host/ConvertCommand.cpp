// morlane convert IN OUT
// The model tree written as the workspace exports it (a part per solid, groups as
// assemblies), to STEP, IGES or STL, or as meshes to glTF (.glb, .gltf) or OBJ, by OUT's
// extension.
#include "Command.h"

#include <cstdio>

namespace morlane {

namespace CAD = QZ::CAD;

MeshFormat MeshFormatOf(const std::string& path) {
  const auto dot = path.rfind('.');
  const auto slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return MeshFormat::None;
  const std::string ext = Lower(path.substr(dot + 1));
  if (ext == "glb") return MeshFormat::Glb;
  if (ext == "gltf") return MeshFormat::Gltf;
  if (ext == "obj") return MeshFormat::Obj;
  return MeshFormat::None;
}

QZ::ObjPtr<ICADContext> ExportContext(Session& session, CNodeRoot& root, const std::string& in) {
  std::vector<CObject3D*> leaves;
  Leaves(root, leaves);
  if (leaves.empty()) throw Failure{in + ": holds no solid to convert"};
  QZ::ObjPtr<ICADContext> target = session.NewContext();
  QZ::ObjPtr<CAD::IAssembly> assembly(target->GetAssembly());
  root.ExportToAssembly(assembly.Get());
  return target;
}

void WriteMesh(ICADContext& target, MeshFormat format, const std::string& path) {
  const bool written = format == MeshFormat::Obj
                           ? target.ExportOBJ(path.c_str())
                           : target.ExportGLTF(path.c_str(), format == MeshFormat::Glb);
  if (!written) {
    const char* why = target.GetLastErrorText();
    throw Failure{"cannot write " + path + (why && *why ? ": " + Session::OneLine(why) : "")};
  }
}

// convert takes no options: both arguments are files, also a name that begins with '-'.
int RunConvert(const std::vector<std::string>& args) {
  if (args.size() != 2) throw UsageError{"convert wants IN OUT"};
  const FileKind out = KindOf(args[1]);
  const MeshFormat mesh = MeshFormatOf(args[1]);
  if (out != FileKind::Step && out != FileKind::Iges && out != FileKind::Stl &&
      mesh == MeshFormat::None)
    throw UsageError{
        "convert writes STEP, IGES, STL, glTF or OBJ (.step, .stp, .iges, .igs, .stl, .glb, "
        ".gltf, .obj): " +
        args[1]};
  Session session;
  auto root = session.Read(args[0]);
  QZ::ObjPtr<ICADContext> target = ExportContext(session, *root, args[0]);
  if (mesh != MeshFormat::None) {
    WriteMesh(*target, mesh, args[1]);
    return 0;
  }
  const char* path = args[1].c_str();
  const bool written = out == FileKind::Step   ? target->ExportSTEP(path)
                       : out == FileKind::Iges ? target->ExportIGES(path)
                                               : target->ExportSTL(path);
  if (!written) {
    const char* why = target->GetLastErrorText();
    throw Failure{"cannot write " + args[1] + (why && *why ? ": " + Session::OneLine(why) : "")};
  }
  // What the format could not keep (an empty group in IGES...), a line each.
  for (int i = 0; i < target->GetWarningCount(); ++i)
    if (const char* warning = target->GetWarning(i))
      std::fprintf(stderr, "morlane: %s: %s\n", args[1].c_str(), Session::OneLine(warning).c_str());
  return 0;
}

}  // namespace morlane
