#pragma once
// What the commands of `morlane` share (Headless.h runs them): the table of commands, the
// reasons a command stops, the parsing of its options, and the reading of a model or an
// exchange file as the workspace reads it, with its messages on the error stream. Each command
// keeps its options, its run and its output in a file of its own (RenderCommand.cpp,
// ConvertCommand.cpp, InfoCommand.cpp, RecognizeCommand.cpp, ShareCommand.cpp).

#include "model/TreeObject.h"
#include "workspace/CadEngineLibrary.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace morlane {

// A reason the command stops: a file it cannot read or write (exit 1), or a wrong command line
// (exit 2, with the usage).
struct Failure {
  std::string line;
};
struct UsageError {
  std::string line;
};

// A command: its name on the command line, its run over the arguments after the name (the
// program's exit code, or a Failure or UsageError thrown), and its lines in the usage text.
struct Command {
  const char* name;
  int (*run)(const std::vector<std::string>& args);
  const char* usage;
};

// Every command, in the order the usage lists them; null for a name that is none of them.
const std::vector<Command>& Commands();
const Command* FindCommand(const char* name);

int RunRender(const std::vector<std::string>& args);
int RunConvert(const std::vector<std::string>& args);
int RunInfo(const std::vector<std::string>& args);
int RunRecognize(const std::vector<std::string>& args);
int RunShare(const std::vector<std::string>& args);

// render's views (RenderCommand.cpp): the off-screen view looks from the corner (+x, -y, +z)
// with z up; another view (front, back, left, right, top, bottom) is had by turning the model
// with m. False for a name that is no view; "iso" is the corner view itself (no turn).
bool ViewRotation(const std::string& name, Matrix12& m);

// An option of a command: a flag, or a name with its value in the next argument. take is called
// in the order the options stand, with the value (empty for a flag); a value it refuses throws
// UsageError there.
struct CommandOption {
  const char* name;
  bool takesValue;
  std::function<void(const std::string& value)> take;
};

// The arguments that are no options (the files), in order. Any other argument that begins with
// '-', and an option with a value that stands last without one, is refused with
// "<command>: unknown option <argument>" (as the program has always said it).
std::vector<std::string> ParseOptions(const std::string& command,
                                      const std::vector<CommandOption>& options,
                                      const std::vector<std::string>& args);

std::string Lower(std::string s);

enum class FileKind { Unknown, Model, Step, Iges, Stl };
// By the name's extension, in any case.
FileKind KindOf(const std::string& path);

// The mesh formats convert and share write (ConvertCommand.cpp), by the name's extension in
// any case: binary glTF (.glb), glTF text with its .bin (.gltf), OBJ with its .mtl (.obj).
enum class MeshFormat { None, Glb, Gltf, Obj };
MeshFormat MeshFormatOf(const std::string& path);

// Whether a command shows the progress of building solids: asked with --progress, or the error
// stream is a terminal.
bool WantsProgress(bool asked);

// The engine beside the library, loaded for one command, and the file it reads.
class Session {
 public:
  Session();  // throws Failure when the engine cannot be loaded

  QZ::ObjPtr<ICADContext> NewContext();

  // The file's model as the workspace builds it: a model file read into the tree, an exchange
  // file imported (its parts tried as shafts when recognise is set). With progress set, the
  // building of a model file's solids is shown on the error stream. Throws Failure with the
  // file's name and why it cannot be read.
  std::shared_ptr<CNodeRoot> Read(const std::string& path, bool recognise = false,
                                  bool progress = false);

  // The context of the file read last.
  const QZ::ObjPtr<ICADContext>& Context() const { return m_context; }

  // An engine's message on one line.
  static std::string OneLine(std::string s);

 private:
  CCadEngineLibrary m_library;
  QZ::ObjPtr<ICADContext> m_context;
};

// A new context whose document holds the model tree as the workspace exports it (a part per
// solid, groups as assemblies); Failure when the tree holds no solid (in: the file's name).
QZ::ObjPtr<ICADContext> ExportContext(Session& session, CNodeRoot& root, const std::string& in);
// The context's document written as meshes; Failure with the engine's reason.
void WriteMesh(ICADContext& target, MeshFormat format, const std::string& path);

// A name or a text of the model in UTF-8.
std::string Utf8(const std::wstring& s);

// Every leaf below o with a solid, in tree order.
void Leaves(CTreeObject& o, std::vector<CObject3D*>& out);

}  // namespace morlane
