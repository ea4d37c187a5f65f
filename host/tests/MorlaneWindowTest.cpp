// The windowed program's command line and what it opens: files for the left workspace (plain or
// --left) and for the right one (--right), the right workspace filled as the left is, a missing
// file and a missing value refused in one line; and the grid of both workspaces under the model
// they show, following it when it changes.
#include "WindowTestSupport.h"

#include "MorlaneWindow.h"
#include "ui/TreeObjectView.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace window_test;

namespace {

bool Parse(std::vector<std::string> args, morlane::WindowOptions& options, std::string& error) {
  args.insert(args.begin(), "morlane");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return morlane::ParseWindowOptions(static_cast<int>(args.size()), argv.data(), options, error);
}

TEST(MorlaneWindowOptions, FilesGoLeftPlainOrWithLeftAndRightWithRightInTheirOrder) {
  morlane::WindowOptions o;
  std::string error;
  ASSERT_TRUE(Parse({"a.xml", "--right", "c.xml", "--left", "b.step", "--snapshot", "s.png",
                     "--right", "d.stl", "--", "--e.xml"},
                    o, error))
      << error;
  EXPECT_EQ(o.files, (std::vector<std::string>{"a.xml", "b.step", "--e.xml"}));
  EXPECT_EQ(o.rightFiles, (std::vector<std::string>{"c.xml", "d.stl"}));
  EXPECT_EQ(o.snapshot, "s.png");

  // Wrong command lines, each with its one reason.
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"a.xml", "--right"}, "--right needs a value"},
      {{"--left"}, "--left needs a value"},
      {{"--rightside", "a.xml"}, "unknown option --rightside"},
      {{"--right=a.xml"}, "unknown option --right=a.xml"},
  };
  for (const auto& [args, reason] : refused) {
    morlane::WindowOptions none;
    error.clear();
    EXPECT_FALSE(Parse(args, none, error)) << args.back();
    EXPECT_EQ(error, reason);
  }
}

// The item texts of a tree, depth first.
void Texts(const wxTreeCtrl& tree, wxTreeItemId item, std::vector<std::string>& out) {
  if (!item.IsOk()) return;
  out.push_back(tree.GetItemText(item).utf8_string());
  wxTreeItemIdValue cookie;
  for (auto c = tree.GetFirstChild(item, cookie); c.IsOk(); c = tree.GetNextChild(item, cookie))
    Texts(tree, c, out);
}

std::vector<std::string> TreeTexts(CSplitterView& ws) {
  std::vector<std::string> out;
  CViewTree& tree = ws.GetTreeObjectView().GetFileView();
  Texts(tree, tree.GetRootItem(), out);
  return out;
}

TEST(MorlaneWindowRight, TheRightWorkspaceHoldsTheFilesTreeAsTheLeftWould) {
  REQUIRE_DISPLAY();
  TestFrame frame;
  ASSERT_TRUE(frame.created);
  const std::wstring title = frame->GetTitle().ToStdWstring();

  ASSERT_TRUE(frame->OpenFileRight(Example("drive.xml")));
  ASSERT_TRUE(frame->GetView2().GetRoot());
  const std::vector<std::string> right = TreeTexts(frame->GetView2());
  ASSERT_GT(right.size(), 5u);
  EXPECT_NE(std::find(right.begin(), right.end(), "Spur gear"), right.end());
  EXPECT_NE(std::find(right.begin(), right.end(), "Pinion"), right.end());
  const int leaves = CountLeaves(frame->GetView2().GetRoot().get());
  EXPECT_EQ(frame->GetView2().GetCore().GetView()->GetDisplayedCount(), leaves);
  // The left stays empty, the title and the frame's file are the left's.
  EXPECT_TRUE(TreeTexts(frame->GetView1()).size() <= 1);
  EXPECT_EQ(frame->GetTitle().ToStdWstring(), title);
  EXPECT_TRUE(frame->GetPathName().empty());
  // The same file opened on the left gives the same tree.
  ASSERT_TRUE(frame->OpenFile(Example("drive.xml")));
  EXPECT_EQ(TreeTexts(frame->GetView1()), right);
  EXPECT_TRUE(frame->GetMessages().empty());

  // An exchange file is imported into the right workspace, replacing its model.
  const std::wstring step =
      (std::filesystem::path(SourceDir()) / "examples/exchange/pin-header-1x04.step").wstring();
  ASSERT_TRUE(frame->OpenFileRight(step));
  EXPECT_GT(CountLeaves(frame->GetView2().GetRoot().get()), 0);
  EXPECT_NE(TreeTexts(frame->GetView2()), right);
  EXPECT_EQ(TreeTexts(frame->GetView1()), right);

  // Another extension is not tried; a model file that is not read says so and keeps the model.
  const std::vector<std::string> imported = TreeTexts(frame->GetView2());
  EXPECT_FALSE(frame->OpenFileRight(L"/tmp/notes.txt"));
  EXPECT_TRUE(frame->GetMessages().empty());
  EXPECT_FALSE(frame->OpenFileRight(L"/nonexistent/model.xml"));
  ASSERT_EQ(frame->GetMessages().size(), 1u);
  EXPECT_NE(frame->GetMessages()[0].find(L"/nonexistent/model.xml"), std::wstring::npos);
  EXPECT_EQ(TreeTexts(frame->GetView2()), imported);
}

// A model of a catalogue gear well away from the origin and a plate beside it.
const char* const kOffsetModel = R"(<?xml version="1.0" encoding="UTF-8"?>
<Model>
  <Data>
    <Object Type="GearExternal" Name="Gear" Color="#D28C3C">
      <MatrixTransform>
        <Element Row="1" Col="4">150</Element>
        <Element Row="2" Col="4">-60</Element>
        <Element Row="3" Col="4">25</Element>
      </MatrixTransform>
      <GeometryParameters>
        <Param Name="z">12</Param><Param Name="mn">3</Param><Param Name="b">20</Param>
        <Param Name="alpha">20</Param><Param Name="beta">0</Param><Param Name="k">0</Param>
        <Param Name="x">0</Param><Param Name="d">12</Param>
      </GeometryParameters>
    </Object>
    <Object Type="Box" Name="Plate" Color="#C03030">
      <MatrixTransform>
        <Element Row="1" Col="4">190</Element>
        <Element Row="2" Col="4">-80</Element>
        <Element Row="3" Col="4">30</Element>
      </MatrixTransform>
      <GeometryParameters>
        <Param Name="w">40</Param><Param Name="h">30</Param><Param Name="l">6</Param>
      </GeometryParameters>
    </Object>
  </Data>
</Model>
)";

// The box of every solid below the object.
void AddBoxes(const CTreeObject* object, double* box, bool& any) {
  if (!object) return;
  if (object->IsNode()) {
    for (const auto& child : static_cast<const CNode*>(object)->GetChildren())
      AddBoxes(child.get(), box, any);
    return;
  }
  auto shape = static_cast<const CObject3D*>(object)->GetShape();
  double b[6];
  if (!shape || !shape->GetBoundingBox(b)) return;
  for (int i = 0; i < 3; ++i) {
    box[i] = any ? std::min(box[i], b[i]) : b[i];
    box[i + 3] = any ? std::max(box[i + 3], b[i + 3]) : b[i + 3];
  }
  any = true;
}

QZ::CAD::GridPlacement GridOf(CSplitterView& ws) {
  QZ::CAD::GridPlacement g{};
  EXPECT_TRUE(ws.GetCore().GetView()->GetGrid(&g));
  return g;
}

void ExpectUnder(const QZ::CAD::GridPlacement& g, const double* box) {
  EXPECT_LT(g.z, box[2]);
  EXPECT_GT(g.z, box[2] - std::max({box[3] - box[0], box[4] - box[1], box[5] - box[2]}) / 20);
  EXPECT_LE(g.xmin, box[0] - g.spacing + 1e-9);
  EXPECT_LE(g.ymin, box[1] - g.spacing + 1e-9);
  EXPECT_GE(g.xmax, box[3] + g.spacing - 1e-9);
  EXPECT_GE(g.ymax, box[4] + g.spacing - 1e-9);
  EXPECT_LE(g.xmax - g.xmin, box[3] - box[0] + 5 * g.spacing);
  EXPECT_LE(g.ymax - g.ymin, box[4] - box[1] + 5 * g.spacing);
}

bool SameGrid(const QZ::CAD::GridPlacement& a, const QZ::CAD::GridPlacement& b) {
  return a.xmin == b.xmin && a.ymin == b.ymin && a.xmax == b.xmax && a.ymax == b.ymax &&
         a.z == b.z && a.spacing == b.spacing;
}

TEST(MorlaneWindowGrid, BothWorkspacesPutTheSameGridUnderTheModelAndItFollowsIt) {
  REQUIRE_DISPLAY();
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("morlane-grid-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path model = dir / "offset.xml";
  std::ofstream(model) << kOffsetModel;
  {
    TestFrame frame;
    ASSERT_TRUE(frame.created);
    // Empty workspaces: the same grid around the origin in both.
    EXPECT_TRUE(SameGrid(GridOf(frame->GetView1()), GridOf(frame->GetView2())));
    EXPECT_EQ(GridOf(frame->GetView2()).z, 0);

    ASSERT_TRUE(frame->OpenFile(model.wstring()));
    ASSERT_TRUE(frame->OpenFileRight(model.wstring()));
    morlane::SettleWindow(frame.frame);
    double box[6];
    bool any = false;
    AddBoxes(frame->GetView1().GetRoot().get(), box, any);
    ASSERT_TRUE(any);
    const QZ::CAD::GridPlacement left = GridOf(frame->GetView1());
    const QZ::CAD::GridPlacement right = GridOf(frame->GetView2());
    ExpectUnder(left, box);
    EXPECT_TRUE(SameGrid(left, right)) << left.xmin << " " << right.xmin;
    Shot(frame.frame, "morlane-grid-both-workspaces");

    // The plate deleted on the right: its grid goes under the gear alone; the left's stays.
    CTreeObject* plate = nullptr;
    for (const auto& c : frame->GetView2().GetRoot()->GetChildren())
      if (c->GetName() == L"Plate") plate = c.get();
    ASSERT_TRUE(plate);
    ASSERT_TRUE(frame->GetView2().GetCore().DeleteObject(plate));
    morlane::SettleWindow(frame.frame);
    double gear[6];
    any = false;
    AddBoxes(frame->GetView2().GetRoot().get(), gear, any);
    ASSERT_TRUE(any);
    const QZ::CAD::GridPlacement after = GridOf(frame->GetView2());
    ExpectUnder(after, gear);
    EXPECT_LT(after.xmax, right.xmax);  // the plate reached further in x
    EXPECT_TRUE(SameGrid(GridOf(frame->GetView1()), left));
    // Another model opened on the left: its grid moves there.
    ASSERT_TRUE(frame->OpenFile(Example("assembly.xml")));
    double assembly[6];
    any = false;
    AddBoxes(frame->GetView1().GetRoot().get(), assembly, any);
    ExpectUnder(GridOf(frame->GetView1()), assembly);
    // The grid switched off and on by the frame's command: shown again where it was.
    frame->RunCommand(morlane::kCmdGrid);
    QZ::CAD::GridPlacement none{};
    EXPECT_FALSE(frame->GetView2().GetCore().GetView()->GetGrid(&none));
    frame->RunCommand(morlane::kCmdGrid);
    EXPECT_TRUE(SameGrid(GridOf(frame->GetView2()), after));
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

// The program run as a process with a display: its exit code and error stream.
struct ProgramRun {
  int code = -1;
  std::string err;
};

ProgramRun Program(const std::string& args) {
  const char* bin = std::getenv("TOLMERA_BIN_DIR");
  const std::string err =
      (std::filesystem::temp_directory_path() / ("morlane-err-" + std::to_string(getpid())))
          .string();
  const std::string command = "env -u LD_LIBRARY_PATH '" + std::string(bin ? bin : ".") +
                              "/morlane' " + args + " 2>'" + err + "' >/dev/null";
  const int status = std::system(command.c_str());
  ProgramRun run;
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(err);
  std::stringstream text;
  text << in.rdbuf();
  run.err = text.str();
  std::filesystem::remove(err);
  return run;
}

TEST(MorlaneWindowProgram, BothWorkspacesFromTheCommandLineAndTheirFailuresInOneLine) {
  // A wrong command line needs no display.
  ProgramRun run = Program("--right");
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.err, "morlane: --right needs a value\n");
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) GTEST_SKIP() << "no display";

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("morlane-cli-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string left = (std::filesystem::path(SourceDir()) / "examples/models/assembly.xml");
  const std::string right = (std::filesystem::path(SourceDir()) / "examples/models/drive.xml");
  const std::string shot = (dir / "both.png").string();
  run = Program("--snapshot '" + shot + "' '" + left + "' --right '" + right + "'");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(shot));
  std::error_code ec;
  std::filesystem::copy_file(shot, ShotFolder() + "/morlane-left-and-right.png",
                             std::filesystem::copy_options::overwrite_existing, ec);

  // A missing file for the right workspace is said by its name; the others are still shown.
  const std::string missing = (dir / "missing.xml").string();
  run = Program("--snapshot '" + shot + "' --left '" + left + "' --right '" + missing + "'");
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("morlane: --right " + missing + ": no such file\n"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("was not opened"), std::string::npos) << run.err;
  std::filesystem::remove_all(dir, ec);
}

}  // namespace
