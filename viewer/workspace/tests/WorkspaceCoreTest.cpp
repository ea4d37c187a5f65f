// One workspace with the real engine and an off-screen view: opening, importing, exporting,
// recognition, the shaft data of the selection, the language refresh and the selection flow.
#include "workspace/WorkspaceCore.h"

#include "model/elements/Shafts.h"
#include "model/tests/TreeTestEngine.h"
#include "testing/TestFiles.h"
#include "ui/MlsString.h"
#include "ui/TextIds.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using QZ::ObjPtr;
namespace CAD = QZ::CAD;

namespace {

std::wstring ExampleModel(const char* name) {
  const char* src = std::getenv("TOLMERA_SOURCE_DIR");
  return (std::filesystem::path(src ? src : TOLMERA_TEST_SOURCE_DIR) / "examples/models" / name)
      .wstring();
}

// The tree pane as the workspace sees it: what it was given and what it was asked.
class RecordingTree : public IWorkspaceTree {
 public:
  void UpdateTreeObjects(const std::shared_ptr<CNodeRoot>& r) override {
    ++updates;
    root = r;
    selected = nullptr;
  }
  CTreeObject* GetSelectedObject() const override { return selected; }
  CTreeObject* GetRootObject() const override { return root.get(); }
  void SelectObject(CTreeObject* object) override {
    selected = object;
    ++selections;
    if (core) core->OnTreeSelectionChanged(object);
  }
  void SetRootText(const std::wstring& text) override { rootText = text; }
  void RefreshTexts() override { ++refreshes; }
  void UpdateSelName() override { ++renames; }

  CWorkspaceCore* core = nullptr;
  std::shared_ptr<CNodeRoot> root;
  CTreeObject* selected = nullptr;
  std::wstring rootText;
  int updates = 0, selections = 0, refreshes = 0, renames = 0;
};

class RecordingProperties : public IWorkspaceProperties {
 public:
  void UpdateObjectProperties(CTreeObject* object) override {
    shown = object;
    ++updates;
  }
  void RemoveAll() override { ++removals; }
  void RefreshTexts() override { ++refreshes; }
  CTreeObject* shown = nullptr;
  int updates = 0, removals = 0, refreshes = 0;
};

class WorkspaceCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "the engine's views need a display";
    tools = tree_test::EngineTools();
    ASSERT_NE(tools, nullptr) << "engine not loaded from " << tree_test::EnginePath();
    core.SetTools(tools);
    ObjPtr<ICADContext> viewContext(tools->NewContext());
    core.SetView(ObjPtr<CAD::IView>(viewContext->NewView(nullptr, CAD::eViewOffscreen)));
    tree.core = &core;
    core.SetPanes(&tree, &properties);
    core.SetMessageSink([this](const std::wstring& text) { messages.push_back(text); });
    SetBuildErrorReporter([this](const std::wstring& text) { messages.push_back(text); });
  }
  void TearDown() override { SetBuildErrorReporter(nullptr); }

  int Displayed() { return core.GetView()->GetDisplayedCount(); }

  // A leaf holding a turned solid of the given sections (position, diameter, length).
  std::shared_ptr<CObject3D> TurnedLeaf(const wchar_t* name,
                                        const std::vector<std::array<double, 3>>& sections) {
    auto shaft = std::make_shared<CShaft>();
    scratch->AddChild(shaft);
    for (const auto& [pos, d, l] : sections) {
      auto s = std::make_shared<CShaftSection>();
      for (auto [n, v] : {std::pair{L"pos", pos}, {L"dout1", d}, {L"dout2", d}, {L"l", l}})
        s->SetValue(n, CVariant(v));
      shaft->AddChild(s);
    }
    auto leaf = std::make_shared<CObject3D>();
    leaf->SetValue(L"Name", CVariant(name));
    leaf->SetShape(ObjPtr<CAD::IShape>(shaft->GetShaftBuilder()->GetShape()));
    return leaf;
  }

  void MakeScratch() {
    scratch = std::make_shared<CNodeRoot>();
    scratch->SetContext(ObjPtr<ICADContext>(tools->NewContext()));
  }

  CAD::ICADTools* tools = nullptr;
  CWorkspaceCore core;
  RecordingTree tree;
  RecordingProperties properties;
  std::vector<std::wstring> messages;
  std::shared_ptr<CNodeRoot> scratch;
};

TEST_F(WorkspaceCoreTest, OpeningShowsTheModelAndAFileThatIsNoModelKeepsTheOldOne) {
  ASSERT_TRUE(core.OpenXml(ExampleModel("assembly.xml")));
  auto model = core.GetRoot();
  ASSERT_TRUE(model);
  EXPECT_EQ(tree.root, model);
  EXPECT_EQ(Displayed(), 4);
  EXPECT_EQ(model->GetHeader()->GetValue(L"FileDescription").ToText(),
            L"Frame assembly with nested groups");
  const int updates = tree.updates;

  TempDir dir;
  dir.Write("other.xml", "<?xml version=\"1.0\"?><Drawing><Data/></Drawing>");
  EXPECT_FALSE(core.OpenXml(dir.WFile("other.xml")));
  EXPECT_FALSE(core.OpenXml(dir.WFile("missing.xml")));
  EXPECT_EQ(core.GetRoot(), model);
  EXPECT_EQ(tree.updates, updates);
  EXPECT_EQ(Displayed(), 4);
}

TEST_F(WorkspaceCoreTest, StepHeaderTextsComeBackOnlyThroughStep) {
  ASSERT_TRUE(core.OpenXml(ExampleModel("assembly.xml")));
  auto header = core.GetRoot()->GetHeader();
  header->SetValue(L"FileName", CVariant(L"frame.stp"));
  header->SetValue(L"Organization", CVariant(L"Works Ltd"));
  header->SetValue(L"Authorisation", CVariant(L"approved"));
  TempDir dir;
  ASSERT_TRUE(core.ExportFile(dir.WFile("frame.STEP"), L"STEP"));
  ASSERT_TRUE(core.ExportFile(dir.WFile("frame.igs"), L"igs"));
  ASSERT_TRUE(core.ExportFile(dir.WFile("frame.stl"), L"Stl"));
  ASSERT_TRUE(messages.empty()) << messages.front();

  ASSERT_TRUE(core.ImportFile(dir.WFile("frame.STEP"), L"STEP", false));
  auto imported = core.GetRoot();
  EXPECT_EQ(imported->GetValue(L"FileDescription").ToText(), L"Frame assembly with nested groups");
  EXPECT_EQ(imported->GetValue(L"Author").ToText(), L"Morlane");
  EXPECT_EQ(imported->GetValue(L"Organization").ToText(), L"Works Ltd");
  EXPECT_EQ(imported->GetValue(L"Authorisation").ToText(), L"approved");
  EXPECT_EQ(Displayed(), 4);

  for (const char* file : {"frame.igs", "frame.stl"}) {
    const std::wstring ext = std::filesystem::path(file).extension().wstring().substr(1);
    ASSERT_TRUE(core.ImportFile(dir.WFile(file), ext, false)) << file;
    for (const auto& name : HeaderPropertyNames())
      EXPECT_EQ(core.GetRoot()->GetValue(name).ToText(), L"") << file;
    EXPECT_GT(Displayed(), 0) << file;
  }
  // An STL part has no colour: the default one.
  auto* part = core.GetRoot()->GetChild(0).get();
  while (part && part->IsNode()) part = static_cast<CNode*>(part)->GetChild(0).get();
  ASSERT_TRUE(part);
  EXPECT_EQ(part->FindColorProperty(L"Color")->GetColor(), kDefaultObjectColor);
}

TEST_F(WorkspaceCoreTest, AnotherExtensionKeepsTheModelAndRefreshes) {
  ASSERT_TRUE(core.OpenXml(ExampleModel("assembly.xml")));
  auto model = core.GetRoot();
  const int updates = tree.updates;
  TempDir dir;
  dir.Write("x.dxf", "0\nSECTION\n");
  EXPECT_TRUE(core.ImportFile(dir.WFile("x.dxf"), L"dxf", false));
  EXPECT_EQ(core.GetRoot(), model);
  EXPECT_EQ(tree.updates, updates + 1);
  EXPECT_EQ(Displayed(), 4);
  EXPECT_TRUE(core.ExportFile(dir.WFile("x.dwg"), L"dwg"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.dwg")));
  EXPECT_TRUE(messages.empty());
}

TEST_F(WorkspaceCoreTest, AFailedImportOrExportSaysWhyAndKeepsTheModelOnDisplay) {
  ASSERT_TRUE(core.OpenXml(ExampleModel("assembly.xml")));
  auto model = core.GetRoot();
  TempDir dir;
  dir.Write("bad.stp", "ISO-10303-21;\nthis is not a STEP file\n");
  EXPECT_FALSE(core.ImportFile(dir.WFile("bad.stp"), L"stp", false));
  EXPECT_FALSE(core.ImportFile(dir.WFile("none.igs"), L"igs", true));
  ASSERT_EQ(messages.size(), 2u);
  for (const auto& m : messages) {
    EXPECT_EQ(m.rfind(L"Error in file import!\n", 0), 0u) << m;
    EXPECT_GT(m.size(), std::wstring(L"Error in file import!\n").size()) << "no reason given";
  }
  EXPECT_EQ(core.GetRoot(), model);
  EXPECT_EQ(Displayed(), 4);

  messages.clear();
  EXPECT_FALSE(core.ExportFile(dir.WFile("no-such-folder/out.stp"), L"stp"));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].rfind(L"Error in file export!", 0), 0u);
  EXPECT_EQ(core.GetRoot(), model);
}

TEST_F(WorkspaceCoreTest, RecognisingTheRootAddsEveryShaftAndKeepsTheSecondsState) {
  MakeScratch();
  auto source = std::make_shared<CNodeRoot>();
  source->SetContext(scratch->GetContext());
  // One section: all at 0. Two sections, the second 40 after the end of the first: only some.
  auto plain = TurnedLeaf(L"Plain", {{0, 30, 40}});
  auto stepped = TurnedLeaf(L"Stepped", {{0, 40, 40}, {40, 25, 30}});
  source->AddChild(plain);
  source->AddChild(stepped);

  RecognizeState state = eRecognizeNoneAtZero;
  ASSERT_TRUE(core.RecognizeSelected(source.get(), state));
  auto copy = core.GetRoot();
  ASSERT_EQ(copy->GetChildCount(), 2);
  EXPECT_EQ(copy->GetChild(0)->GetType(), eTypeShaft);
  EXPECT_EQ(copy->GetChild(1)->GetType(), eTypeShaft);
  EXPECT_EQ(static_cast<CNode&>(*copy->GetChild(1)).GetChildCount(), 2);
  EXPECT_EQ(state, eRecognizeSomeAtZero);
  ASSERT_EQ(core.GetRecognizeData().size(), 2u);
  EXPECT_TRUE(core.GetRecognizeData()[0]);
  EXPECT_TRUE(core.GetRecognizeData()[1]);
  EXPECT_EQ(Displayed(), 3);  // every section of both shafts

  // The other order: the second is the plain one.
  auto reversed = std::make_shared<CNodeRoot>();
  reversed->SetContext(scratch->GetContext());
  reversed->AddChild(stepped);
  reversed->AddChild(plain);
  ASSERT_TRUE(core.RecognizeSelected(reversed.get(), state));
  EXPECT_EQ(state, eRecognizeAllAtZero);
}

TEST_F(WorkspaceCoreTest, RecognisingAGroupCopiesItAtIdentityAndItsLeavesAtTheirGlobalPlacement) {
  CWorkspaceCore left;
  left.SetTools(tools);
  ASSERT_TRUE(left.OpenXml(ExampleModel("assembly.xml")));
  auto frame = std::dynamic_pointer_cast<CNode>(left.GetRoot()->GetChild(0));
  ASSERT_TRUE(frame);
  auto plate = frame->GetChild(0);
  auto pins = std::dynamic_pointer_cast<CNode>(frame->GetChild(1));
  ASSERT_TRUE(pins);
  ASSERT_EQ(plate->GetName(), L"Plate");
  const Matrix12 plateGlobal = plate->GetGlobalMatrix();
  ASSERT_NE(plateGlobal, IdentityMatrix12());
  ASSERT_NE(pins->GetMatrix(), IdentityMatrix12());

  RecognizeState state = eRecognizeAllAtZero;
  ASSERT_TRUE(core.RecognizeSelected(frame.get(), state));
  auto copy = core.GetRoot();
  ASSERT_EQ(copy->GetChildCount(), 1);
  auto group = std::dynamic_pointer_cast<CNode>(copy->GetChild(0));
  ASSERT_TRUE(group);
  EXPECT_EQ(group->GetName(), L"Frame");
  EXPECT_EQ(group->GetMatrix(), IdentityMatrix12());
  ASSERT_EQ(group->GetChildCount(), 2);
  // The plate is no shaft: a plain copy at the plate's global placement, with its colour.
  auto plateCopy = group->GetChild(0);
  EXPECT_EQ(plateCopy->GetType(), eTypeObject3D);
  EXPECT_EQ(plateCopy->GetName(), L"Plate");
  const Matrix12 got = plateCopy->GetMatrix();
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(got[i], plateGlobal[i], 1e-9) << i;
  EXPECT_EQ(plateCopy->FindColorProperty(L"Color")->GetColor(),
            plate->FindColorProperty(L"Color")->GetColor());
  // The nested group is at identity too; its pins are cylinders, recognised as shafts.
  auto pinsCopy = std::dynamic_pointer_cast<CNode>(group->GetChild(1));
  ASSERT_TRUE(pinsCopy);
  EXPECT_EQ(pinsCopy->GetMatrix(), IdentityMatrix12());
  ASSERT_EQ(pinsCopy->GetChildCount(), 2);
  EXPECT_EQ(pinsCopy->GetChild(0)->GetType(), eTypeShaft);
  // The last leaf tried was a pin: recognised, its one section at 0.
  EXPECT_EQ(state, eRecognizeAllAtZero);
  // The source model is only read.
  EXPECT_EQ(left.GetRoot()->GetChildCount(), 2);
  EXPECT_EQ(frame->GetChildCount(), 2);
}

TEST_F(WorkspaceCoreTest, RecognisingTheOwnModelsSelectionIsSafe) {
  ASSERT_TRUE(core.OpenXml(ExampleModel("assembly.xml")));
  CTreeObject* own = core.GetRoot()->GetChild(0).get();
  RecognizeState state = eRecognizeAllAtZero;
  ASSERT_TRUE(core.RecognizeSelected(own, state));
  ASSERT_EQ(core.GetRoot()->GetChildCount(), 1);
  EXPECT_EQ(core.GetRoot()->GetChild(0)->GetName(), L"Frame");
}

TEST_F(WorkspaceCoreTest, TheDataOfASelectedSectionIsItsWholeShaft) {
  ASSERT_TRUE(core.OpenXml(ExampleModel("shaft-grooves.xml")));
  auto root = core.GetRoot();
  CTreeObject* shaft = nullptr;
  for (const auto& child : root->GetChildren())
    if (child->GetType() == eTypeShaft) shaft = child.get();
  ASSERT_TRUE(shaft);
  auto& sections = static_cast<CNode&>(*shaft);
  ASSERT_GE(sections.GetChildCount(), 2);
  CTreeObject* last = sections.GetChild(sections.GetChildCount() - 1).get();

  std::vector<qz_RecognizeShaft> out;
  core.GetDataSelected(last, out);
  ASSERT_EQ(out.size(), 1u);
  const qz_RecognizeShaft expected = RecognizeShaftRecord(static_cast<CShaft&>(*shaft));
  ASSERT_EQ(out[0].size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(out[0][i].pos, expected[i].pos) << i;
    EXPECT_EQ(out[0][i].l, expected[i].l) << i;
    EXPECT_EQ(out[0][i].grooves.size(), expected[i].grooves.size()) << i;
  }
  // The shaft itself: the same, once; the root: once per shaft.
  out.clear();
  core.GetDataSelected(shaft, out);
  EXPECT_EQ(out.size(), 1u);

  // Through the tree: the selected section, then nothing selected (the root item).
  tree.selected = last;
  auto selected = core.GetRecognizeDataSelected();
  ASSERT_EQ(selected.size(), 1u);
  EXPECT_EQ(selected[0].size(), expected.size());
  tree.selected = nullptr;
  EXPECT_EQ(core.GetRecognizeDataSelected().size(), 1u);
  EXPECT_TRUE(messages.empty());

  // An empty tree: the message, and the data of the last call.
  tree.root = nullptr;
  auto again = core.GetRecognizeDataSelected();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], L"Nothing is selected!");
  EXPECT_EQ(again.size(), 1u);
}

TEST_F(WorkspaceCoreTest, APickSelectsTheTreeItemWhichSelectsTheShapeAndShowsItsProperties) {
  ASSERT_TRUE(core.OpenXml(ExampleModel("assembly.xml")));
  auto* plate =
      static_cast<CObject3D*>(static_cast<CNode&>(*core.GetRoot()->GetChild(0)).GetChild(0).get());
  ASSERT_EQ(plate->GetName(), L"Plate");
  core.OnPick(plate->GetShapeVis().Get());
  EXPECT_EQ(tree.selected, plate);
  EXPECT_EQ(properties.shown, plate);
  EXPECT_EQ(core.GetView()->GetSelectedCount(), 1);
  EXPECT_TRUE(core.IsSelectedItem());

  // Selecting the frame group selects all of its leaves.
  tree.SelectObject(core.GetRoot()->GetChild(0).get());
  EXPECT_EQ(core.GetView()->GetSelectedCount(), 3);  // the plate and both pins

  // Nothing there: the selection is cleared everywhere.
  core.OnPick(nullptr);
  EXPECT_EQ(tree.selected, nullptr);
  EXPECT_EQ(properties.shown, nullptr);
  EXPECT_EQ(core.GetView()->GetSelectedCount(), 0);
  EXPECT_FALSE(core.IsSelectedItem());
}

TEST_F(WorkspaceCoreTest, ResetEmptiesTheModelAndTheViewButKeepsTheRecognitionResults) {
  MakeScratch();
  auto source = std::make_shared<CNodeRoot>();
  source->SetContext(scratch->GetContext());
  source->AddChild(TurnedLeaf(L"Plain", {{0, 30, 40}}));
  RecognizeState state{};
  core.RecognizeSelected(source.get(), state);
  ASSERT_EQ(core.GetRecognizeData().size(), 1u);
  const int removals = properties.removals;
  core.Reset();
  ASSERT_TRUE(core.GetRoot());
  EXPECT_EQ(core.GetRoot()->GetChildCount(), 0);
  EXPECT_EQ(Displayed(), 0);
  EXPECT_EQ(tree.root, core.GetRoot());
  EXPECT_EQ(properties.removals, removals + 1);
  EXPECT_EQ(core.GetRecognizeData().size(), 1u);

  // Recognising every leaf appends to the results.
  core.RecognizeAllShapes(source);
  EXPECT_EQ(core.GetRecognizeData().size(), 2u);
}

TEST_F(WorkspaceCoreTest, TheLanguageRefreshRenamesTheRootAndRelabelsWholeShafts) {
  ASSERT_TRUE(core.OpenXml(ExampleModel("shaft-grooves.xml")));
  core.UpdateTreeObjectView();
  EXPECT_EQ(core.GetRoot()->GetName(), L"Root");
  EXPECT_EQ(tree.rootText, L"Root");
  EXPECT_GT(tree.refreshes, 0);

  CTreeObject* shaft = nullptr;
  for (const auto& child : core.GetRoot()->GetChildren())
    if (child->GetType() == eTypeShaft) shaft = child.get();
  ASSERT_TRUE(shaft);
  auto* section = static_cast<CNode&>(*shaft).GetChild(0).get();
  auto pos = section->FindStandardProperty(L"pos");
  ASSERT_TRUE(pos);
  section->SetDescriptionId(L"pos", 0);
  tree.selected = section;
  const int updates = properties.updates;
  core.UpdatePropertiesView();
  EXPECT_EQ(section->FindStandardProperty(L"pos")->GetDescription(),
            CProperty::TextOf(TextId::DescPosition));
  EXPECT_FALSE(section->FindStandardProperty(L"pos")->GetDescription().empty());
  EXPECT_EQ(properties.shown, section);
  EXPECT_EQ(properties.updates, updates + 1);
}

TEST_F(WorkspaceCoreTest, GridAndAxesSwitchesAreKeptForTheNextModel) {
  core.EnableGrid(false);
  core.EnableTrihedron(false);
  EXPECT_FALSE(core.IsGridShown());
  EXPECT_FALSE(core.IsTrihedronShown());
  ASSERT_TRUE(core.OpenXml(ExampleModel("assembly.xml")));
  EXPECT_FALSE(core.IsGridShown());
  core.EnableGrid(true);
  EXPECT_TRUE(core.IsGridShown());
}

}  // namespace

namespace {

TEST_F(WorkspaceCoreTest, AChangedSectionRedisplaysItsWholeShaftAndStaysSelected) {
  ASSERT_TRUE(core.OpenXml(ExampleModel("shaft-grooves.xml")));
  CNode* shaft = nullptr;
  for (const auto& child : core.GetRoot()->GetChildren())
    if (child->GetType() == eTypeShaft) shaft = static_cast<CNode*>(child.get());
  ASSERT_TRUE(shaft);
  ASSERT_GE(shaft->GetChildCount(), 2);
  auto* section = static_cast<CObject3D*>(shaft->GetChild(0).get());
  std::vector<CAD::IShapeVis*> before;
  for (const auto& child : shaft->GetChildren())
    before.push_back(static_cast<CObject3D&>(*child).GetShapeVis().Get());
  const int shown = Displayed();

  tree.SelectObject(section);
  ASSERT_EQ(core.GetView()->GetSelectedCount(), 1);
  const double length = section->GetValue(L"l").ToDouble();
  const double volume = section->GetShape()->GetVolume();
  section->SetValue(L"l", CVariant(length + 10));
  core.OnObjectChanged(section);
  EXPECT_TRUE(messages.empty()) << messages.front();

  EXPECT_EQ(Displayed(), shown);
  for (int i = 0; i < shaft->GetChildCount(); ++i) {
    auto vis = static_cast<CObject3D&>(*shaft->GetChild(i)).GetShapeVis();
    ASSERT_TRUE(vis) << i;
    EXPECT_NE(vis.Get(), before[i]) << "section " << i << " was not shown again";
    EXPECT_TRUE(vis->IsDisplayed()) << i;
  }
  EXPECT_EQ(core.GetView()->GetSelectedCount(), 1);
  // The changed section is the one selected: picking where it is finds it again.
  EXPECT_EQ(core.FindObjectOfVisual(section->GetShapeVis().Get()), section);
  // The longer section is a bigger solid.
  EXPECT_GT(section->GetShape()->GetVolume(), volume * 1.01);
}

}  // namespace
