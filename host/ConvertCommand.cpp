// morlane convert IN OUT
// The model tree written as the workspace exports it (a part per solid, groups as
// assemblies), to STEP, IGES or STL by OUT's extension.
#include "Command.h"

#include <cstdio>

namespace morlane {

namespace CAD = QZ::CAD;

// convert takes no options: both arguments are files, also a name that begins with '-'.
int RunConvert(const std::vector<std::string>& args) {
  if (args.size() != 2) throw UsageError{"convert wants IN OUT"};
  const FileKind out = KindOf(args[1]);
  if (out != FileKind::Step && out != FileKind::Iges && out != FileKind::Stl)
    throw UsageError{"convert writes STEP, IGES or STL (.step, .stp, .iges, .igs, .stl): " +
                     args[1]};
  Session session;
  auto root = session.Read(args[0]);
  std::vector<CObject3D*> leaves;
  Leaves(*root, leaves);
  if (leaves.empty()) throw Failure{args[0] + ": holds no solid to convert"};
  QZ::ObjPtr<ICADContext> target = session.NewContext();
  QZ::ObjPtr<CAD::IAssembly> assembly(target->GetAssembly());
  root->ExportToAssembly(assembly.Get());
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
