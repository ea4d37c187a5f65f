// The installer's layers, read from its sources: a folder includes only the folders below it
// (the machine, the package, the rights checks, the wizard, the tools' leaf of app/, the steps,
// the run controller, the program on top), never one above.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The folder a source belongs to, as its includes name it; the run log, the tools and the
// version of app/ are a layer of their own ("app-leaf"), below the steps.
std::string LayerOf(const std::string& folder, const std::string& file) {
  if (folder == "app") {
    const std::string stem = fs::path(file).stem().string();
    if (stem == "RunLog" || stem == "Tools" || stem == "Version") return "app-leaf";
    if (stem == "SetupMain") return "app-main";
  }
  return folder;
}

// What each layer may include, its own folder besides.
const std::map<std::string, std::set<std::string>>& Allowed() {
  static const std::map<std::string, std::set<std::string>> allowed = {
      {"platform", {"platform"}},
      {"package", {"platform", "package"}},
      {"rights", {"platform", "package", "rights"}},
      {"gui", {"platform", "package", "gui"}},
      {"app-leaf", {"platform", "package", "gui", "app-leaf"}},
      {"steps", {"platform", "package", "gui", "app-leaf", "steps"}},
      {"manager", {"platform", "package", "rights", "gui", "app-leaf", "steps", "manager"}},
      {"app", {"platform", "package", "gui", "app-leaf", "app"}},
      {"app-main", {"platform", "package", "rights", "gui", "app-leaf", "app", "manager"}},
      {"msiexec", {"platform", "msiexec"}},
      {"machine-tool", {"platform", "machine-tool"}},
      {"pack", {"platform", "package", "app-leaf", "machine-tool", "pack"}},
      {"testing", {"platform", "package", "testing"}},
  };
  return allowed;
}

// The includes of one source that lead to a layer it may not use: "<include> from <layer>".
std::vector<std::string> UpwardIncludes(const std::string& folder, const std::string& file,
                                        const std::string& text) {
  std::vector<std::string> found;
  const std::string layer = LayerOf(folder, file);
  const auto rule = Allowed().find(layer);
  if (rule == Allowed().end()) {
    found.push_back("no rule for the folder " + folder);
    return found;
  }
  std::istringstream lines(text);
  std::string line;
  const std::string directive = "#include \"";
  while (std::getline(lines, line)) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, directive.size(), directive) != 0)
      continue;
    const std::size_t from = start + directive.size();
    const std::size_t to = line.find('"', from);
    if (to == std::string::npos) continue;
    const std::string path = line.substr(from, to - from);
    const std::size_t slash = path.find('/');
    if (slash == std::string::npos) continue;  // a header beside the source
    const std::string target = LayerOf(path.substr(0, slash), path.substr(slash + 1));
    if (!rule->second.count(target)) found.push_back(path + " from " + layer);
  }
  return found;
}

TEST(Layers, TheCheckFindsAnIncludeThatRunsUpward) {
  // A step reaching the run controller, the package reaching the wizard, the wizard reaching
  // the controller and the tools' leaf reaching the program's command line are each found.
  EXPECT_EQ(UpwardIncludes("steps", "X.cpp", "#include \"manager/InstallManager.h\"\n"),
            std::vector<std::string>{"manager/InstallManager.h from steps"});
  EXPECT_EQ(UpwardIncludes("package", "X.h", "  #include \"gui/UiBackend.h\"\n").size(), 1u);
  EXPECT_EQ(UpwardIncludes("gui", "pages/X.h", "#include \"manager/Pages.h\"\n").size(), 1u);
  EXPECT_EQ(UpwardIncludes("app", "Tools.cpp", "#include \"app/CommandLine.h\"\n").size(), 1u);
  EXPECT_EQ(UpwardIncludes("steps", "X.cpp", "#include \"app/SingleCopy.h\"\n").size(), 1u);
  // What lies below is allowed, and so are system headers and headers beside the source.
  EXPECT_TRUE(UpwardIncludes("steps", "X.cpp",
                             "#include \"app/Tools.h\"\n#include \"platform/Files.h\"\n"
                             "#include <string>\n#include \"Local.h\"\n")
                  .empty());
  EXPECT_TRUE(
      UpwardIncludes("app", "SetupMain.cpp", "#include \"manager/InstallManager.h\"\n").empty());
  EXPECT_FALSE(
      UpwardIncludes("app", "CommandLine.cpp", "#include \"manager/InstallManager.h\"\n").empty());
}

TEST(Layers, NoSourceOfTheInstallerIncludesALayerAboveItsOwn) {
  const fs::path root = TL_INSTALLER_SOURCE_DIR;
  std::size_t scanned = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::string ext = entry.path().extension().string();
    if (ext != ".cpp" && ext != ".h") continue;
    const fs::path relative = fs::relative(entry.path(), root);
    // Tests drive a layer from above (the steps' tests run them through the manager).
    bool test = false;
    for (const auto& part : relative)
      if (part == "tests") test = true;
    if (test) continue;
    const std::string folder = relative.begin()->string();
    std::ifstream in(entry.path());
    std::stringstream text;
    text << in.rdbuf();
    const std::string file = fs::relative(entry.path(), root / folder).string();
    for (const std::string& wrong : UpwardIncludes(folder, file, text.str()))
      ADD_FAILURE() << relative.string() << ": " << wrong;
    ++scanned;
  }
  EXPECT_GT(scanned, 150u);
}

}  // namespace
