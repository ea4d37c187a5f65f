// The table of the commands that need no window, the usage text made from it, and the run of
// one command with its exit code. host/README.md lists the same commands.
#include "Headless.h"

#include "Command.h"

#include <cstdio>
#include <cstring>
#include <exception>

namespace morlane {

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"render", &RunRender,
       "  morlane render FILE OUT.png [--size WxH] [--view iso|front|back|left|right|top|bottom]\n"
       "                                     [--progress]\n"},
      {"convert", &RunConvert,
       "  morlane convert IN OUT             IN: model file (.xml), STEP, IGES or STL; OUT: STEP, "
       "IGES,\n"
       "                                     STL, glTF (.glb, .gltf) or OBJ by its extension\n"},
      {"info", &RunInfo,
       "  morlane info FILE [--json] [--exact] [--progress]\n"
       "                                     the model tree: names, types, colours, placements, "
       "boxes\n"
       "                                     (the kernel's quick bounds; --exact: exact boxes)\n"},
      {"recognize", &RunRecognize,
       "  morlane recognize FILE [--json]    the recognised shafts with their sections and "
       "grooves\n"},
      {"share", &RunShare,
       "  morlane share IN OUT.html          a page that shows the model in a browser, with its "
       "tree\n"
       "                                     (one file: the WebGL library and the model inside)\n"},
  };
  return kCommands;
}

const Command* FindCommand(const char* name) {
  if (!name) return nullptr;
  for (const Command& c : Commands())
    if (!std::strcmp(name, c.name)) return &c;
  return nullptr;
}

const char* Usage() {
  static const std::string text = [] {
    std::string s =
        "usage:\n"
        "  morlane [--lang FILE] [--language NAME|ID] [--snapshot OUT.png]\n"
        "          [--left FILE] [--right FILE] [FILE...]\n"
        "                                     the viewer window: model files (.xml) opened, "
        "exchange\n"
        "                                     files imported, into the left workspace (FILE, "
        "--left)\n"
        "                                     or the right one (--right), in the order "
        "given\n";
    for (const Command& c : Commands()) s += c.usage;
    return s;
  }();
  return text.c_str();
}

bool IsHeadlessCommand(const char* name) { return FindCommand(name) != nullptr; }

int RunHeadless(int argc, char** argv) {
  const Command* found = argc >= 2 ? FindCommand(argv[1]) : nullptr;
  if (!found) {
    std::fprintf(stderr, "morlane: unknown command %s\n%s", argc >= 2 ? argv[1] : "", Usage());
    return 2;
  }
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  try {
    try {
      return found->run(args);
    } catch (QZ::IException* e) {
      // An engine failure outside the model's own reporting: one line with its code.
      const int code = e ? e->GetCode() : 0;
      if (e) e->Release();
      throw Failure{command + ": the engine failed (code " + std::to_string(code) + ")"};
    }
  } catch (const UsageError& e) {
    std::fprintf(stderr, "morlane: %s\n%s", e.line.c_str(), Usage());
    return 2;
  } catch (const Failure& e) {
    std::fprintf(stderr, "morlane: %s\n", e.line.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "morlane: %s: %s\n", command.c_str(), e.what());
    return 1;
  }
}

}  // namespace morlane
