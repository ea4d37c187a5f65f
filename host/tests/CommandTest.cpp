// The options of a command: flags and values taken in the order they stand, files kept in
// order, an unknown option and an option that lacks its value refused with the command's name;
// the table of commands as the README lists it, a wrong command line run to its exit code, and
// render's views.
#include "Command.h"
#include "Headless.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace morlane {
namespace {

struct Seen {
  std::vector<std::string> taken;  // "name=value" in the order taken
  std::vector<CommandOption> Options() {
    auto record = [this](const char* name) {
      return [this, name](const std::string& v) { taken.push_back(std::string(name) + "=" + v); };
    };
    return {{"--json", false, record("--json")},
            {"--size", true, record("--size")},
            {"--view", true, record("--view")}};
  }
};

std::string RefusedLine(const std::vector<CommandOption>& options,
                        const std::vector<std::string>& args) {
  try {
    ParseOptions("render", options, args);
  } catch (const UsageError& e) {
    return e.line;
  }
  return "(taken)";
}

TEST(CommandTest, OptionsAreTakenInOrderAndTheOtherArgumentsAreTheFiles) {
  Seen seen;
  const auto files = ParseOptions(
      "render", seen.Options(),
      {"a.xml", "--size", "20x30", "--json", "", "b.png", "--view", "--json", "--size", "1x1"});
  EXPECT_EQ(files, (std::vector<std::string>{"a.xml", "", "b.png"}));
  // A value is the next argument whatever it looks like; an option may stand twice.
  EXPECT_EQ(seen.taken,
            (std::vector<std::string>{"--size=20x30", "--json=", "--view=--json", "--size=1x1"}));
  EXPECT_TRUE(ParseOptions("info", {}, {}).empty());
}

TEST(CommandTest, UnknownOptionsAndMissingValuesAreRefusedWithTheCommandsName) {
  Seen seen;
  EXPECT_EQ(RefusedLine(seen.Options(), {"a.xml", "--colour", "red"}),
            "render: unknown option --colour");
  EXPECT_EQ(RefusedLine(seen.Options(), {"-"}), "render: unknown option -");
  EXPECT_EQ(RefusedLine(seen.Options(), {"--JSON"}), "render: unknown option --JSON");
  EXPECT_EQ(RefusedLine(seen.Options(), {"--json=1"}), "render: unknown option --json=1");
  // An option with a value that stands last has none.
  EXPECT_EQ(RefusedLine(seen.Options(), {"a.xml", "b.png", "--size"}),
            "render: unknown option --size");
  // Options of other commands are no options here.
  EXPECT_EQ(RefusedLine({}, {"--json"}), "render: unknown option --json");
}

TEST(CommandTest, AValueRefusedStopsTheParsingWhereItStands) {
  int taken = 0;
  const std::vector<CommandOption> options = {
      {"--size", true,
       [&](const std::string& v) {
         if (v != "ok") throw UsageError{"--size wants ok: " + v};
         ++taken;
       }},
  };
  EXPECT_EQ(RefusedLine(options, {"--size", "ok", "--size", "bad", "--unknown"}),
            "--size wants ok: bad");
  EXPECT_EQ(taken, 1);
}

TEST(CommandTest, FilesAreKnownByTheirExtensionInAnyCase) {
  EXPECT_EQ(KindOf("a/b.XML"), FileKind::Model);
  EXPECT_EQ(KindOf("part.Stp"), FileKind::Step);
  EXPECT_EQ(KindOf("part.step"), FileKind::Step);
  EXPECT_EQ(KindOf("part.igs"), FileKind::Iges);
  EXPECT_EQ(KindOf("part.IGES"), FileKind::Iges);
  EXPECT_EQ(KindOf("mesh.stl"), FileKind::Stl);
  EXPECT_EQ(KindOf("notes.txt"), FileKind::Unknown);
  EXPECT_EQ(KindOf("folder.step/file"), FileKind::Unknown);  // the dot is the folder's
  EXPECT_EQ(KindOf("step"), FileKind::Unknown);
  EXPECT_EQ(KindOf("part.step.bak"), FileKind::Unknown);
}

TEST(CommandTest, TheTableHoldsTheCommandsTheReadmeListsInItsOrder) {
  const char* src = std::getenv("TOLMERA_SOURCE_DIR");
  std::ifstream readme(std::string(src ? src : TOLMERA_TEST_SOURCE_DIR) + "/host/README.md");
  ASSERT_TRUE(readme) << "no host/README.md";
  // The commands are the lines "morlane NAME ..." of the README's first code block.
  std::vector<std::string> listed;
  std::string line;
  int fences = 0;
  while (fences < 2 && std::getline(readme, line)) {
    if (line.rfind("```", 0) == 0)
      ++fences;
    else if (fences == 1 && line.rfind("morlane ", 0) == 0)
      listed.push_back(line.substr(8, line.find(' ', 8) - 8));
  }
  std::vector<std::string> table;
  for (const Command& c : Commands()) {
    table.push_back(c.name);
    EXPECT_EQ(FindCommand(c.name), &c);
    EXPECT_TRUE(IsHeadlessCommand(c.name));
    // Its lines in the usage text, as the table gives them.
    EXPECT_NE(std::string(Usage()).find(c.usage), std::string::npos) << c.name;
  }
  EXPECT_EQ(table, listed);
  for (const char* other : {"Render", "recognise", "", "--help", "render "})
    EXPECT_FALSE(IsHeadlessCommand(other)) << other;
  EXPECT_FALSE(IsHeadlessCommand(nullptr));
}

// Runs the command line through the table: its exit code and its error text.
std::pair<int, std::string> RunLine(std::vector<std::string> args) {
  args.insert(args.begin(), "morlane");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStderr();
  const int code = RunHeadless(static_cast<int>(args.size()), argv.data());
  return {code, testing::internal::GetCapturedStderr()};
}

TEST(CommandTest, AWrongCommandLineExitsWithTwoAndTheUsageAfterItsReason) {
  const std::string usage = Usage();
  const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
      {{"render", "a.xml", "b.png", "--bogus"}, "render: unknown option --bogus"},
      {{"render", "a.xml", "b.png", "--size"}, "render: unknown option --size"},
      {{"render", "a.xml"}, "render wants FILE OUT.png"},
      {{"render", "a.xml", "b.png", "--size", "15x20"},
       "--size wants WIDTHxHEIGHT, each from 16 to 8192: 15x20"},
      {{"render", "a.xml", "b.png", "--view", "sideways"},
       "--view is one of iso, front, back, left, right, top, bottom: sideways"},
      {{"render", "a.xml", "b.jpg"}, "render writes a .png file: b.jpg"},
      {{"convert", "a.xml"}, "convert wants IN OUT"},
      {{"convert", "a.xml", "b.dae"},
       "convert writes STEP, IGES, STL, glTF or OBJ (.step, .stp, .iges, .igs, .stl, .glb, "
       ".gltf, .obj): b.dae"},
      {{"share", "a.xml"}, "share wants IN OUT.html"},
      {{"share", "a.xml", "b.glb"}, "share writes a page (.html, .htm): b.glb"},
      {{"info", "a.xml", "--exact", "--view"}, "info: unknown option --view"},
      {{"info"}, "info wants FILE"},
      {{"recognize", "a.xml", "--progress"}, "recognize: unknown option --progress"},
      {{"recognize", "a.xml", "b.xml"}, "recognize wants FILE"},
      {{"recognise", "a.xml"}, "unknown command recognise"},
  };
  for (const auto& [args, why] : wrong) {
    const auto [code, err] = RunLine(args);
    EXPECT_EQ(code, 2) << why;
    EXPECT_EQ(err, "morlane: " + why + "\n" + usage);
  }
}

TEST(CommandTest, AFileThatCannotBeReadExitsWithOneAndOneLine) {
  const std::string missing = ::testing::TempDir() + "/no-such-model.xml";
  auto [code, err] = RunLine({"info", missing, "--json"});
  EXPECT_EQ(code, 1);
  EXPECT_EQ(err, "morlane: " + missing + ": No such file or directory\n");
  std::tie(code, err) = RunLine({"recognize", "notes.txt"});
  EXPECT_EQ(code, 1);
  EXPECT_EQ(err,
            "morlane: notes.txt: unknown kind of file (.xml, .step, .stp, .iges, .igs, .stl)\n");
  SetBuildErrorReporter(nullptr);  // the session's, on the error stream
}

TEST(CommandTest, EachViewTurnsItsSideOntoTheCornerViewAsARotation) {
  using Vec = std::array<double, 3>;
  // The corner view looks from (+x, -y, +z) with z up; each side: from where, which way is up.
  const double k = 1 / std::sqrt(3.0), u = 1 / std::sqrt(6.0);
  const Vec cornerEye{k, -k, k}, cornerUp{-u, u, 2 * u};
  const struct {
    const char* name;
    Vec eye, up;
  } sides[] = {{"front", {0, -1, 0}, {0, 0, 1}}, {"back", {0, 1, 0}, {0, 0, 1}},
               {"left", {-1, 0, 0}, {0, 0, 1}},  {"right", {1, 0, 0}, {0, 0, 1}},
               {"top", {0, 0, 1}, {0, 1, 0}},    {"bottom", {0, 0, -1}, {0, -1, 0}}};
  auto turned = [](const Matrix12& m, const Vec& v) {
    Vec out{};
    for (int r = 0; r < 3; ++r)
      out[r] = m[r * 4] * v[0] + m[r * 4 + 1] * v[1] + m[r * 4 + 2] * v[2];
    return out;
  };
  for (const auto& side : sides) {
    Matrix12 m{};
    ASSERT_TRUE(ViewRotation(side.name, m)) << side.name;
    const Vec eye = turned(m, side.eye), up = turned(m, side.up);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(eye[i], cornerEye[i], 1e-12) << side.name;
      EXPECT_NEAR(up[i], cornerUp[i], 1e-12) << side.name;
      EXPECT_EQ(m[i * 4 + 3], 0) << side.name << ": a turn, no move";
      // Rows of unit length, at right angles to each other.
      for (int j = 0; j < 3; ++j) {
        double dot = 0;
        for (int c = 0; c < 3; ++c) dot += m[i * 4 + c] * m[j * 4 + c];
        EXPECT_NEAR(dot, i == j ? 1 : 0, 1e-12) << side.name;
      }
    }
    const double det = m[0] * (m[5] * m[10] - m[6] * m[9]) - m[1] * (m[4] * m[10] - m[6] * m[8]) +
                       m[2] * (m[4] * m[9] - m[5] * m[8]);
    EXPECT_NEAR(det, 1, 1e-12) << side.name << ": no mirror";
  }
  Matrix12 m{};
  ASSERT_TRUE(ViewRotation("iso", m));
  EXPECT_EQ(m, IdentityMatrix12());
  for (const char* wrong : {"sideways", "Top", "", "iso "}) EXPECT_FALSE(ViewRotation(wrong, m));
}

}  // namespace
}  // namespace morlane
