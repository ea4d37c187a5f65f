// The options of a command: flags and values taken in the order they stand, files kept in
// order, an unknown option and an option that lacks its value refused with the command's name.
#include "Command.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace morlane
