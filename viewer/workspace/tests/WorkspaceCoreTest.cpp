// One workspace with the real engine and an off-screen view: opening, importing, exporting,
// recognition, the shaft data of the selection, the language refresh and the selection flow.
#include "workspace/WorkspaceCore.h"

#include "WorkspaceFixture.h"

#include "model/elements/Shafts.h"
#include "model/tests/TreeTestEngine.h"
#include "testing/TestFiles.h"
#include "ui/MlsString.h"
#include "ui/TextIds.h"
#include "xml/XmlText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using QZ::ObjPtr;
namespace CAD = QZ::CAD;

namespace {

using workspace_test::ExampleModel;

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
  void UpdateItemName(CTreeObject* object) override { renamedItems.push_back(object); }
  void RemoveItem(CTreeObject* object) override { removedItems.push_back(object); }
  void RemoveChildItems(CTreeObject* object) override { emptiedItems.push_back(object); }

  CWorkspaceCore* core = nullptr;
  std::vector<CTreeObject*> renamedItems, removedItems, emptiedItems;
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

class WorkspaceCoreTest
    : public workspace_test::WorkspaceFixture<RecordingTree, RecordingProperties> {
 protected:
  void SetUp() override {
    WorkspaceFixture::SetUp();
    if (!Ready()) return;
    SetBuildErrorReporter([this](const std::wstring& text) { messages.push_back(text); });
  }
  void TearDown() override { SetBuildErrorReporter(nullptr); }

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
  // Held, so that no new visual can take an old one's address.
  std::vector<ObjPtr<CAD::IShapeVis>> before;
  for (const auto& child : shaft->GetChildren())
    before.push_back(static_cast<CObject3D&>(*child).GetShapeVis());
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
    EXPECT_NE(vis.Get(), before[i].Get()) << "section " << i << " was not shown again";
    EXPECT_TRUE(vis->IsDisplayed()) << i;
  }
  EXPECT_EQ(core.GetView()->GetSelectedCount(), 1);
  // The changed section is the one selected: picking where it is finds it again.
  EXPECT_EQ(core.FindObjectOfVisual(section->GetShapeVis().Get()), section);
  // The longer section is a bigger solid.
  EXPECT_GT(section->GetShape()->GetVolume(), volume * 1.01);
}

}  // namespace

namespace {

// The property changes of the property pane, carried through the workspace with the real
// engine: what is written, what is rebuilt and shown again, and what a failed rebuild leaves.
class PropertyChangeTest : public WorkspaceCoreTest {
 protected:
  void Open(const char* model) { ASSERT_TRUE(core.OpenXml(ExampleModel(model))); }

  CTreeObject* Find(const std::wstring& name, CTreeObject* from = nullptr) {
    if (!from) from = core.GetRoot().get();
    if (from->GetName() == name) return from;
    if (from->IsNode())
      for (const auto& child : static_cast<CNode*>(from)->GetChildren())
        if (CTreeObject* found = Find(name, child.get())) return found;
    return nullptr;
  }

  CPropertyStandard& Standard(CGeometry& owner, const wchar_t* name) {
    auto p = owner.FindStandardProperty(name);
    EXPECT_TRUE(p) << "no property " << MorlaneText::ToUtf8(name);
    return *p;
  }
};

TEST_F(PropertyChangeTest, ANewSizeRebuildsTheSolidAndShowsItAgainSelected) {
  Open("assembly.xml");
  auto* plate = static_cast<CObject3D*>(Find(L"Plate"));
  ASSERT_TRUE(plate);
  const long opened = core.GetView()->GetSceneDrawCount();
  tree.SelectObject(plate);
  EXPECT_EQ(core.GetView()->GetSceneDrawCount(), opened + 1) << "a selection is drawn once";
  const double volume = plate->GetShape()->GetVolume();
  const auto before = plate->GetShapeVis();  // held: no new visual takes its address
  const int shown = Displayed();
  const long draws = core.GetView()->GetSceneDrawCount();
  const double scale = core.GetView()->GetScale();

  EXPECT_EQ(core.ChangeProperty(Standard(*plate, L"w"), CVariant(160.0)), PropertyChange::Rebuilt);
  // The selected plate drawn again over the kept picture of the rest (no whole draw of the
  // scene), the camera where it was.
  EXPECT_EQ(core.GetView()->GetSceneDrawCount(), draws);
  EXPECT_DOUBLE_EQ(core.GetView()->GetScale(), scale);
  EXPECT_TRUE(messages.empty()) << messages.front();
  EXPECT_DOUBLE_EQ(plate->GetValue(L"w").ToDouble(), 160.0);
  EXPECT_NEAR(plate->GetShape()->GetVolume(), volume * 2, volume * 1e-6);
  ASSERT_TRUE(plate->GetShapeVis());
  EXPECT_NE(plate->GetShapeVis().Get(), before.Get());
  EXPECT_EQ(Displayed(), shown);
  EXPECT_EQ(core.GetView()->GetSelectedCount(), 1);
  EXPECT_EQ(core.FindObjectOfVisual(plate->GetShapeVis().Get()), plate);
  EXPECT_EQ(tree.renames, 0);
}

// A change of the selected element draws only the shapes it shows again, over the kept picture
// of the rest, and the picture is the one a whole draw gives; a section's change shows its
// whole shaft again that way.
TEST_F(PropertyChangeTest, AChangeOfTheSelectionIsDrawnAsTheWholeSceneWouldBe) {
  TempDir dir;
  CAD::IView& view = *core.GetView();
  auto same = [&](const char* what) {
    const std::string fast = dir / "fast.png", whole = dir / "whole.png";
    EXPECT_TRUE(view.SaveShownImage(fast.c_str())) << what;
    const long draws = view.GetSceneDrawCount();
    view.Resized();  // changes nothing but the need of a whole draw
    view.Redraw();
    EXPECT_EQ(view.GetSceneDrawCount(), draws + 1);
    EXPECT_TRUE(view.SaveShownImage(whole.c_str())) << what;
    EXPECT_TRUE(dir.Read("fast.png") == dir.Read("whole.png")) << what;
    return dir.Read("fast.png");
  };
  auto change = [&](CTreeObject* object, const wchar_t* name, const CVariant& value) {
    ASSERT_TRUE(object);
    tree.SelectObject(object);
    const std::string before = same("selected");
    const long draws = view.GetSceneDrawCount();
    auto* geometry = dynamic_cast<CGeometry*>(object);
    ASSERT_TRUE(geometry);
    auto& property = Standard(*geometry, name);
    EXPECT_EQ(core.ChangeProperty(property, value), PropertyChange::Rebuilt);
    EXPECT_EQ(view.GetSceneDrawCount(), draws) << MorlaneText::ToUtf8(name);
    EXPECT_FALSE(same(MorlaneText::ToUtf8(name).c_str()) == before) << "the change does not show";
  };
  Open("drive.xml");
  view.ShowGrid(true);
  view.FitAll();
  view.Redraw();
  CTreeObject* gear = Find(L"Spur gear");
  ASSERT_TRUE(gear);
  change(gear, L"b", CVariant(gear->GetValue(L"b").ToDouble() * 0.7));

  Open("shaft-grooves.xml");
  CTreeObject* journal = Find(L"Journal");
  ASSERT_TRUE(journal);
  change(journal, L"dout1", CVariant(journal->GetValue(L"dout1").ToDouble() * 0.9));
  EXPECT_EQ(view.GetSelectedCount(), 1);
  // Another selection gives the shaft's sections back to the scene: one whole draw.
  const long draws = view.GetSceneDrawCount();
  tree.SelectObject(nullptr);
  EXPECT_EQ(view.GetSceneDrawCount(), draws + 1);
}

TEST_F(PropertyChangeTest, AValueTheEngineRefusesShowsTheMessageAndPutsTheOldValueBack) {
  Open("assembly.xml");
  auto* plate = static_cast<CObject3D*>(Find(L"Plate"));
  ASSERT_TRUE(plate);
  tree.SelectObject(plate);
  const double volume = plate->GetShape()->GetVolume();
  const int shown = Displayed();

  EXPECT_EQ(core.ChangeProperty(Standard(*plate, L"w"), CVariant(-5.0)), PropertyChange::Restored);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], L"Invalid parameter!");
  EXPECT_DOUBLE_EQ(plate->GetValue(L"w").ToDouble(), 80.0);
  // Rebuilt with the old value and on display again.
  ASSERT_TRUE(plate->GetShape());
  EXPECT_NEAR(plate->GetShape()->GetVolume(), volume, volume * 1e-6);
  ASSERT_TRUE(plate->GetShapeVis());
  EXPECT_TRUE(plate->GetShapeVis()->IsDisplayed());
  EXPECT_EQ(Displayed(), shown);
}

TEST_F(PropertyChangeTest, TheMessageIsTheLibrarysOwnTextInEveryLanguage) {
  const std::wstring lng =
      (std::filesystem::path(std::getenv("TOLMERA_SOURCE_DIR") ? std::getenv("TOLMERA_SOURCE_DIR")
                                                               : TOLMERA_TEST_SOURCE_DIR) /
       "examples/viewer-language/Morlane.lng")
          .wstring();
  ASSERT_TRUE(CMlsString::Initialize(lng.c_str(), 1049));
  ASSERT_NE(CMlsString::GetResourceString(eMessages, TextId::MsgInvalidParameter),
            L"Invalid parameter!");
  Open("assembly.xml");
  auto* plate = Find(L"Plate");
  ASSERT_TRUE(plate);
  core.ChangeProperty(Standard(*plate, L"h"), CVariant(0.0));
  CMlsString::Clear();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], L"Invalid parameter!");
  EXPECT_DOUBLE_EQ(plate->GetValue(L"h").ToDouble(), 60.0);
}

TEST_F(PropertyChangeTest, ANameRenamesTheTreeItemWithoutRebuildingAndTheRootsOnlyTheModel) {
  Open("assembly.xml");
  auto* plate = static_cast<CObject3D*>(Find(L"Plate"));
  ASSERT_TRUE(plate);
  tree.SelectObject(plate);
  const auto shape = plate->GetShape();
  const auto vis = plate->GetShapeVis();
  EXPECT_EQ(core.ChangeProperty(Standard(*plate, L"Name"), CVariant(L"Top plate")),
            PropertyChange::Renamed);
  EXPECT_EQ(plate->GetName(), L"Top plate");
  EXPECT_EQ(tree.renames, 1);
  EXPECT_EQ(plate->GetShape().Get(), shape.Get());
  EXPECT_EQ(plate->GetShapeVis().Get(), vis.Get());

  auto root = core.GetRoot();
  EXPECT_EQ(core.ChangeProperty(Standard(*root, L"Name"), CVariant(L"Whole frame")),
            PropertyChange::Written);
  EXPECT_EQ(root->GetName(), L"Whole frame");
  EXPECT_EQ(tree.renames, 1);
  // A header text of the root: the model only as well.
  EXPECT_EQ(core.ChangeProperty(Standard(*root, L"Author"), CVariant(L"Works")),
            PropertyChange::Written);
  EXPECT_EQ(root->GetValue(L"Author").ToText(), L"Works");
  EXPECT_TRUE(messages.empty());
}

TEST_F(PropertyChangeTest, AColourRecoloursTheShownSolid) {
  Open("assembly.xml");
  auto* plate = static_cast<CObject3D*>(Find(L"Plate"));
  ASSERT_TRUE(plate);
  tree.SelectObject(plate);
  const auto shape = plate->GetShape();
  const auto vis = plate->GetShapeVis();
  auto colour = plate->FindColorProperty(L"Color");
  ASSERT_TRUE(colour);
  EXPECT_EQ(core.ChangeProperty(*colour, 0x0000FF00), PropertyChange::Recoloured);
  EXPECT_EQ(colour->GetColor(), 0x0000FF00u);
  EXPECT_EQ(plate->GetShape().Get(), shape.Get()) << "a colour needs no rebuild";
  ASSERT_TRUE(plate->GetShapeVis());
  EXPECT_NE(plate->GetShapeVis().Get(), vis.Get()) << "the solid was not shown again";
  EXPECT_TRUE(plate->GetShapeVis()->IsDisplayed());
  const auto rgb = plate->GetColorRGB();
  EXPECT_EQ(rgb, (std::array<double, 3>{0.0, 1.0, 0.0}));
  EXPECT_EQ(core.GetView()->GetSelectedCount(), 1);
}

TEST_F(PropertyChangeTest, AGrooveOfASectionRebuildsTheWholeShaft) {
  Open("shaft-grooves.xml");
  auto* shaft = static_cast<CNode*>(Find(L"Drive"));
  auto* journal = static_cast<CShaftSection*>(Find(L"Journal"));
  ASSERT_TRUE(shaft && journal);
  ASSERT_FALSE(journal->GetGrooves().empty());
  tree.SelectObject(journal);
  std::vector<ObjPtr<CAD::IShape>> shapes;
  for (const auto& s : shaft->GetChildren())
    shapes.push_back(static_cast<CObject3D&>(*s).GetShape());
  const double volume = journal->GetShape()->GetVolume();

  // The rectangular groove's depth: its property's owner is the section.
  CGeometry& groove = *journal->GetGrooves().front();
  auto& depth = Standard(groove, L"t");
  ASSERT_EQ(depth.GetOwner(), journal);
  EXPECT_EQ(core.ChangeProperty(depth, CVariant(3.0)), PropertyChange::Rebuilt);
  EXPECT_TRUE(messages.empty()) << messages.front();
  for (int i = 0; i < shaft->GetChildCount(); ++i) {
    auto& section = static_cast<CObject3D&>(*shaft->GetChild(i));
    EXPECT_NE(section.GetShape().Get(), shapes[i].Get()) << "section " << i << " was not rebuilt";
    ASSERT_TRUE(section.GetShapeVis()) << i;
    EXPECT_TRUE(section.GetShapeVis()->IsDisplayed()) << i;
  }
  EXPECT_LT(journal->GetShape()->GetVolume(), volume) << "the deeper groove takes more away";
  EXPECT_EQ(core.GetView()->GetSelectedCount(), 1);
}

TEST_F(PropertyChangeTest, TheEdgesOfASectionAreRelabelledByTheSignOfTheirValue) {
  Open("shaft-grooves.xml");
  auto* journal = Find(L"Journal");
  ASSERT_TRUE(journal);
  tree.SelectObject(journal);
  auto& lch1 = Standard(*journal, L"lch1");
  struct Case {
    double value;
    const wchar_t* label;
    int description;
  };
  for (const Case& c :
       {Case{-1.0, L"c1 x 45°", TextId::DescChamfer1}, Case{0.5, L"r1", TextId::DescRounding1},
        Case{0.0, L"c1 (r1)", TextId::DescEnd1}}) {
    EXPECT_EQ(core.ChangeProperty(lch1, CVariant(c.value)), PropertyChange::Rebuilt) << c.value;
    EXPECT_EQ(lch1.GetLabel(), c.label) << c.value;
    EXPECT_EQ(lch1.GetDescription(), CProperty::TextOf(c.description)) << c.value;
  }
  auto& lch2 = Standard(*journal, L"lch2");
  core.ChangeProperty(lch2, CVariant(-0.5));
  EXPECT_EQ(lch2.GetLabel(), L"c2 x 45°");
  EXPECT_TRUE(messages.empty()) << messages.front();
}

TEST_F(PropertyChangeTest, APropertyWithoutOwnerIsNotWritten) {
  Open("assembly.xml");
  CPropertyStandard loose(nullptr, L"w", TextId::BoxW, 0, CVariant(1.0));
  EXPECT_EQ(core.ChangeProperty(loose, CVariant(2.0)), PropertyChange::Ignored);
  EXPECT_DOUBLE_EQ(loose.GetValue().ToDouble(), 1.0);
  CPropertyColor looseColour(nullptr, L"Color", TextId::Color, 0, 0x10);
  EXPECT_EQ(core.ChangeProperty(looseColour, 0x20), PropertyChange::Ignored);
  EXPECT_EQ(looseColour.GetColor(), 0x10u);
}

}  // namespace

namespace {

// Many elements of the same sizes: opening builds each size once and shows every element;
// opening can be cancelled; a changed size rebuilds that one element only.
class ManyElementsTest : public PropertyChangeTest {
 protected:
  // n bolts and n gears of one size each, side by side.
  std::wstring Write(TempDir& dir, int n, const char* file = "many.xml") {
    std::string data;
    for (int i = 0; i < n; ++i) {
      const std::string x = std::to_string(40 * i);
      data += "<Object Type=\"BoltHex\" Name=\"bolt" + std::to_string(i) +
              "\"><MatrixTransform><Element Col=\"4\" Row=\"1\">" + x +
              "</Element></MatrixTransform><GeometryParameters><Param Name=\"s\">16</Param>"
              "<Param Name=\"k\">6.4</Param><Param Name=\"c\">0.6</Param><Param "
              "Name=\"dw\">14.6</Param><Param Name=\"ls\">20</Param><Param Name=\"b\">26</Param>"
              "<Param Name=\"ds\">10</Param><Param Name=\"d\">10</Param></GeometryParameters>"
              "</Object>\n";
      data += "<Object Type=\"GearExternal\" Name=\"gear" + std::to_string(i) +
              "\"><MatrixTransform><Element Col=\"4\" Row=\"2\">" + x +
              "</Element></MatrixTransform><GeometryParameters><Param Name=\"z\">20</Param>"
              "<Param Name=\"mn\">2</Param><Param Name=\"b\">15</Param><Param "
              "Name=\"alpha\">20</Param><Param Name=\"d\">10</Param></GeometryParameters>"
              "</Object>\n";
    }
    dir.Write(file, "<?xml version=\"1.0\"?><Model><Data>" + data + "</Data></Model>");
    return dir.WFile(file);
  }
};

TEST_F(ManyElementsTest, ACancelledOpenLeavesThePreviousModelAsItWas) {
  Open("assembly.xml");
  const auto model = core.GetRoot();
  const int children = model->GetChildCount(), updates = tree.updates, shown = Displayed();
  TempDir dir;
  const std::wstring many = Write(dir, 30);
  int asked = 0;
  core.SetOpenProgress([&](int done, int total) {
    EXPECT_LE(done, total);
    ++asked;
    return false;
  });
  EXPECT_FALSE(core.OpenXml(many));
  EXPECT_GT(asked, 0);
  EXPECT_EQ(core.GetRoot(), model);
  EXPECT_EQ(model->GetChildCount(), children);
  EXPECT_EQ(tree.updates, updates);
  EXPECT_EQ(Displayed(), shown);
  EXPECT_TRUE(messages.empty());
  // Let go on, the same file opens.
  core.SetOpenProgress([](int, int) { return true; });
  ASSERT_TRUE(core.OpenXml(many));
  EXPECT_EQ(core.GetRoot()->GetChildCount(), 60);
  EXPECT_EQ(Displayed(), 60);
}

// The names of the model's leaves, in the tree's order.
std::vector<std::wstring> LeafNames(const CTreeObject& object) {
  std::vector<std::wstring> names;
  if (!object.IsNode()) return {object.GetName()};
  for (const auto& child : static_cast<const CNode&>(object).GetChildren())
    for (auto& name : LeafNames(*child)) names.push_back(std::move(name));
  return names;
}

TEST_F(ManyElementsTest, APreloadedModelIsTheOneAnOpenReadsWithItsMessagesOnTheOpensThread) {
  TempDir dir;
  Write(dir, 12);
  // Two boxes the engine refuses among the bolts and gears.
  std::string text = dir.Read("many.xml");
  const std::string bad =
      "<Object Type=\"Box\" Name=\"flat %\"><GeometryParameters><Param Name=\"w\">10</Param>"
      "<Param Name=\"h\">0</Param><Param Name=\"l\">5</Param></GeometryParameters></Object>";
  for (const char* n : {"1", "2"}) {
    std::string object = bad;
    object.replace(object.find('%'), 1, n);
    text.insert(text.find("</Data>"), object);
  }
  dir.Write("many.xml", text);
  const std::wstring path = dir.WFile("many.xml");

  std::vector<std::thread::id> reportedOn;
  SetBuildErrorReporter([&](const std::wstring& text) {
    messages.push_back(text);
    reportedOn.push_back(std::this_thread::get_id());
  });
  ASSERT_TRUE(core.OpenXml(path));
  const std::vector<std::wstring> names = LeafNames(*core.GetRoot()), read = messages;
  const int shown = Displayed();
  ASSERT_EQ(read.size(), 2u) << "a message for each refused box";
  ASSERT_GE(shown, 24);
  messages.clear();
  reportedOn.clear();

  int asked = 0;
  core.SetOpenProgress([&](int done, int total) {
    EXPECT_LE(done, total);
    ++asked;
    return true;
  });
  core.PreloadXml(path);
  ASSERT_TRUE(core.OpenXml(path));
  EXPECT_GT(asked, 0);
  EXPECT_EQ(LeafNames(*core.GetRoot()), names);
  EXPECT_EQ(Displayed(), shown);
  EXPECT_EQ(messages, read);
  for (const auto& id : reportedOn) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_EQ(tree.root, core.GetRoot());

  // A reading started before the workspace was there, handed to it.
  messages.clear();
  auto early = CModelPreload::Start(tools, path);
  ASSERT_TRUE(early);
  EXPECT_EQ(early->GetPath(), path);
  core.AdoptPreload(std::move(early));
  ASSERT_TRUE(core.OpenXml(path));
  EXPECT_EQ(LeafNames(*core.GetRoot()), names);
  EXPECT_EQ(messages, read);
  // Its model is taken once; without tools nothing starts.
  auto once = CModelPreload::Start(tools, path);
  ASSERT_TRUE(once);
  auto model = once->Take({});
  ASSERT_TRUE(model);
  EXPECT_EQ(LeafNames(*model), names);
  EXPECT_FALSE(once->Take({}));
  EXPECT_FALSE(CModelPreload::Start(nullptr, path));
}

TEST_F(ManyElementsTest, ACancelledPreloadedOpenLeavesThePreviousModelAsItWas) {
  Open("assembly.xml");
  const auto model = core.GetRoot();
  const int children = model->GetChildCount(), updates = tree.updates, shown = Displayed();
  TempDir dir;
  const std::wstring many = Write(dir, 30);
  core.PreloadXml(many);
  int asked = 0;
  core.SetOpenProgress([&](int, int) {
    ++asked;
    return false;
  });
  EXPECT_FALSE(core.OpenXml(many));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(core.GetRoot(), model);
  EXPECT_EQ(model->GetChildCount(), children);
  EXPECT_EQ(tree.updates, updates);
  EXPECT_EQ(Displayed(), shown);
  EXPECT_TRUE(messages.empty());
  // The cancelled preload is gone: the next open reads the file.
  core.SetOpenProgress(nullptr);
  ASSERT_TRUE(core.OpenXml(many));
  EXPECT_EQ(core.GetRoot()->GetChildCount(), 60);
  EXPECT_EQ(Displayed(), 60);
}

TEST_F(ManyElementsTest, APreloadIsDroppedByAnyOtherChangeOfTheModelAndNeverOpensStale) {
  Open("assembly.xml");
  const int assembly = core.GetRoot()->GetChildCount();
  TempDir dir;
  const std::wstring path = Write(dir, 3);
  // Another file opened: the preload is not taken for it, nor kept for later.
  core.PreloadXml(path);
  Open("assembly.xml");
  EXPECT_EQ(core.GetRoot()->GetChildCount(), assembly);
  Write(dir, 5);
  ASSERT_TRUE(core.OpenXml(path));
  EXPECT_EQ(core.GetRoot()->GetChildCount(), 10);
  // A reset and an import drop it too.
  core.PreloadXml(path);
  core.Reset();
  Write(dir, 2);
  ASSERT_TRUE(core.OpenXml(path));
  EXPECT_EQ(core.GetRoot()->GetChildCount(), 4);
  core.PreloadXml(path);
  core.ImportFile(dir.WFile("missing.stp"), L"stp", false);
  messages.clear();
  Write(dir, 4);
  ASSERT_TRUE(core.OpenXml(path));
  EXPECT_EQ(core.GetRoot()->GetChildCount(), 8);
  // A preload the workspace never takes ends with it.
  {
    CWorkspaceCore other;
    other.SetTools(tools);
    other.PreloadXml(Write(dir, 40, "left.xml"));
  }
  // A file that cannot be read fails as its open would.
  core.PreloadXml(dir.WFile("nowhere.xml"));
  EXPECT_FALSE(core.OpenXml(dir.WFile("nowhere.xml")));
  EXPECT_EQ(core.GetRoot()->GetChildCount(), 8);
}

TEST_F(ManyElementsTest, AChangedSizeRebuildsThatElementOnlyAndNeverAStaleSolid) {
  TempDir dir;
  ASSERT_TRUE(core.OpenXml(Write(dir, 6)));
  auto* gear = static_cast<CObject3D*>(Find(L"gear2"));
  ASSERT_TRUE(gear);
  tree.SelectObject(gear);
  std::vector<CAD::IShape*> before;
  std::vector<double> volumes;
  for (const auto& child : core.GetRoot()->GetChildren()) {
    before.push_back(static_cast<CObject3D&>(*child).GetShape().Get());
    volumes.push_back(static_cast<CObject3D&>(*child).GetShape()->GetVolume());
  }
  const double oldVolume = gear->GetShape()->GetVolume();
  // What the new width gives when built alone, nothing shared.
  ObjPtr<ICADContext> alone(tools->NewContext());
  alone->SetSharedSolids(false);
  ObjPtr<CAD::IShape> wider(alone->GetGearFactory()->ExternalGear(20, 2, 25, 20, 0, 0, 0, 10));
  alone->SetSharedSolids(true);

  EXPECT_EQ(core.ChangeProperty(Standard(*gear, L"b"), CVariant(25.0)), PropertyChange::Rebuilt);
  EXPECT_NEAR(gear->GetShape()->GetVolume(), wider->GetVolume(), 1e-9 * wider->GetVolume());
  const auto& children = core.GetRoot()->GetChildren();
  for (size_t i = 0; i < children.size(); ++i) {
    auto& leaf = static_cast<CObject3D&>(*children[i]);
    if (&leaf == gear) continue;
    EXPECT_EQ(leaf.GetShape().Get(), before[i]) << "element " << i << " was rebuilt";
    EXPECT_NEAR(leaf.GetShape()->GetVolume(), volumes[i], 1e-9 * volumes[i]) << i;
  }
  // Back to the old width: the old solid again, not the wider one.
  EXPECT_EQ(core.ChangeProperty(Standard(*gear, L"b"), CVariant(15.0)), PropertyChange::Rebuilt);
  EXPECT_NEAR(gear->GetShape()->GetVolume(), oldVolume, 1e-9 * oldVolume);
  EXPECT_TRUE(messages.empty()) << messages.front();
  EXPECT_EQ(Displayed(), 12);
}

}  // namespace
