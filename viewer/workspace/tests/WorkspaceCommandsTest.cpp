// The commands that change a workspace's model tree (delete, rename), with the real engine and
// an off-screen view: each checked in the model, in the view and in the panes the workspace
// tells what changed.
#include "workspace/WorkspaceCore.h"

#include "WorkspaceFixture.h"

#include "model/elements/Shafts.h"
#include "model/tests/TreeTestEngine.h"
#include "testing/TestFiles.h"
#include "xml/XmlText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

using QZ::ObjPtr;
namespace CAD = QZ::CAD;

namespace {

using workspace_test::ExampleModel;

// An item of the tree: the object of its parent item and its text.
using Item = std::pair<const CTreeObject*, std::wstring>;
using Items = std::map<const CTreeObject*, Item>;

// The items a tree showing the model holds.
void CollectItems(const CTreeObject* object, const CTreeObject* parent, Items& items) {
  items[object] = {parent, object->GetName()};
  if (object->IsNode())
    for (const auto& child : static_cast<const CNode*>(object)->GetChildren())
      CollectItems(child.get(), object, items);
}

Items ItemsOf(const CTreeObject* root) {
  Items items;
  if (root) CollectItems(root, nullptr, items);
  return items;
}

// The tree pane as the items it holds: filled from the model, then changed only by what the
// workspace tells it. An item never reads its object once it is asked to remove it (the object
// may be gone).
class ItemTree : public IWorkspaceTree {
 public:
  void UpdateTreeObjects(const std::shared_ptr<CNodeRoot>& r) override {
    root = r;
    items = ItemsOf(r.get());
    selected = nullptr;
  }
  CTreeObject* GetSelectedObject() const override { return selected; }
  CTreeObject* GetRootObject() const override {
    return root && items.count(root.get()) ? root.get() : nullptr;
  }
  void SelectObject(CTreeObject* object) override {
    selected = object && items.count(object) ? object : nullptr;
    if (core) core->OnTreeSelectionChanged(selected);
  }
  void SetRootText(const std::wstring& text) override {
    if (root && items.count(root.get())) items[root.get()].second = text;
  }
  void RefreshTexts() override {}
  void UpdateSelName() override {
    if (selected) items[selected].second = selected->GetName();
  }
  void UpdateItemName(CTreeObject* object) override {
    auto it = items.find(object);
    if (it != items.end()) it->second.second = object->GetName();
  }
  void RemoveItem(CTreeObject* object) override {
    ++removals;
    Remove(object, true);
  }
  void RemoveChildItems(CTreeObject* object) override {
    ++removals;
    Remove(object, false);
  }

  CWorkspaceCore* core = nullptr;
  std::shared_ptr<CNodeRoot> root;
  CTreeObject* selected = nullptr;
  Items items;
  int removals = 0;

 private:
  bool Below(const CTreeObject* item, const CTreeObject* top) const {
    for (const CTreeObject* up = item; up;) {
      if (up == top) return true;
      auto it = items.find(up);
      up = it == items.end() ? nullptr : it->second.first;
    }
    return false;
  }
  void Remove(const CTreeObject* object, bool itself) {
    if (!items.count(object)) return;
    // The selection never outlives its item.
    if (selected && Below(selected, object) && (itself || selected != object)) selected = nullptr;
    std::vector<const CTreeObject*> gone;
    for (const auto& entry : items)
      if (Below(entry.first, object) && (itself || entry.first != object))
        gone.push_back(entry.first);
    for (const CTreeObject* item : gone) items.erase(item);
  }
};

class ShownProperties : public IWorkspaceProperties {
 public:
  void UpdateObjectProperties(CTreeObject* object) override {
    shown = object;
    ++updates;
  }
  void RemoveAll() override { shown = nullptr; }
  void RefreshTexts() override {}
  CTreeObject* shown = nullptr;
  int updates = 0;
};

class WorkspaceCommandsTest : public workspace_test::WorkspaceFixture<ItemTree, ShownProperties> {
 protected:
  void Open(const char* model) {
    ASSERT_TRUE(core.OpenXml(ExampleModel(model)));
    ASSERT_EQ(tree.items, ItemsOf(core.GetRoot().get()));
  }

  CTreeObject* Find(const std::wstring& name, CTreeObject* from = nullptr) {
    if (!from) from = core.GetRoot().get();
    if (from->GetName() == name) return from;
    if (from->IsNode())
      for (const auto& child : static_cast<CNode*>(from)->GetChildren())
        if (CTreeObject* found = Find(name, child.get())) return found;
    return nullptr;
  }

  // The model's own reference to an object, to see whether anything keeps it after a delete.
  std::weak_ptr<CTreeObject> Watch(CTreeObject* object) {
    for (const auto& child : static_cast<CNode*>(object->GetParent())->GetChildren())
      if (child.get() == object) return child;
    ADD_FAILURE() << "not a child of its parent";
    return {};
  }

  // The visuals of every leaf below the object.
  std::vector<ObjPtr<CAD::IShapeVis>> Visuals(CTreeObject* object) {
    std::vector<ObjPtr<CAD::IShapeVis>> visuals;
    if (object->IsNode()) {
      for (const auto& child : static_cast<CNode*>(object)->GetChildren())
        for (auto& vis : Visuals(child.get())) visuals.push_back(std::move(vis));
    } else if (auto vis = static_cast<CObject3D*>(object)->GetShapeVis()) {
      visuals.push_back(std::move(vis));
    }
    return visuals;
  }

  CAD::IView& View() { return *core.GetView(); }

  // The picture the view shows after a command is the one a whole draw of the scene gives:
  // nothing of an erased shape stays behind.
  void ExpectThePictureOfAWholeDraw(const char* what) {
    TempDir dir;
    const std::string shown = dir / "shown.png", whole = dir / "whole.png";
    ASSERT_TRUE(View().SaveShownImage(shown.c_str())) << what;
    View().Resized();  // changes nothing but the need of a whole draw
    View().Redraw();
    ASSERT_TRUE(View().SaveShownImage(whole.c_str())) << what;
    EXPECT_TRUE(dir.Read("shown.png") == dir.Read("whole.png")) << what;
  }

  // Nothing is selected anywhere, and the tree holds exactly the model's items.
  void ExpectNothingSelectedAndTheTreeAsTheModel() {
    EXPECT_EQ(tree.selected, nullptr);
    EXPECT_EQ(properties.shown, nullptr);
    EXPECT_EQ(View().GetSelectedCount(), 0);
    EXPECT_EQ(tree.items, ItemsOf(core.GetRoot().get()));
  }
};

TEST_F(WorkspaceCommandsTest, DeletingALeafTakesItOutOfModelViewAndTreeAndSelectsNothing) {
  Open("assembly.xml");
  CTreeObject* plate = Find(L"Plate");
  ASSERT_TRUE(plate);
  CTreeObject* frame = plate->GetParent();
  tree.SelectObject(plate);
  ASSERT_EQ(properties.shown, plate);
  ASSERT_EQ(View().GetSelectedCount(), 1);
  const auto gone = Watch(plate);
  const auto vis = static_cast<CObject3D*>(plate)->GetShapeVis();
  const auto others = Visuals(core.GetRoot().get());
  const int shown = View().GetDisplayedCount();
  const size_t items = tree.items.size();

  EXPECT_TRUE(core.DeleteSelected());
  EXPECT_TRUE(gone.expired()) << "something still holds the deleted object";
  EXPECT_EQ(Find(L"Plate"), nullptr);
  EXPECT_EQ(static_cast<CNode*>(frame)->GetChildCount(), 1);
  EXPECT_EQ(View().GetDisplayedCount(), shown - 1);
  EXPECT_FALSE(vis->IsDisplayed());
  for (const auto& other : others)
    EXPECT_TRUE(other.Get() == vis.Get() || other->IsDisplayed()) << "another shape went too";
  EXPECT_EQ(tree.items.size(), items - 1);
  ExpectNothingSelectedAndTheTreeAsTheModel();
  ExpectThePictureOfAWholeDraw("plate deleted");
  EXPECT_TRUE(messages.empty());

  // Its shape is nobody's any more; the others are still picked.
  core.OnPick(vis.Get());
  EXPECT_EQ(tree.selected, nullptr);
  CTreeObject* bush = Find(L"Bush");
  core.OnPick(static_cast<CObject3D*>(bush)->GetShapeVis().Get());
  EXPECT_EQ(tree.selected, bush);
  EXPECT_EQ(properties.shown, bush);
}

TEST_F(WorkspaceCommandsTest, DeletingAGroupTakesEveryObjectBelowIt) {
  Open("assembly.xml");
  CTreeObject* pins = Find(L"Pins");
  ASSERT_TRUE(pins);
  tree.SelectObject(pins);
  ASSERT_EQ(View().GetSelectedCount(), 2);
  const auto gone = Watch(pins);
  const auto visuals = Visuals(pins);
  ASSERT_EQ(visuals.size(), 2u);
  const int shown = View().GetDisplayedCount();
  const size_t items = tree.items.size();

  EXPECT_TRUE(core.DeleteSelected());
  EXPECT_TRUE(gone.expired());
  for (const wchar_t* name : {L"Pins", L"Pin 1", L"Pin 2"})
    EXPECT_EQ(Find(name), nullptr) << MorlaneText::ToUtf8(name);
  for (const auto& vis : visuals) EXPECT_FALSE(vis->IsDisplayed());
  EXPECT_EQ(View().GetDisplayedCount(), shown - 2);
  EXPECT_EQ(tree.items.size(), items - 3);
  ASSERT_TRUE(Find(L"Plate"));
  EXPECT_TRUE(static_cast<CObject3D*>(Find(L"Plate"))->GetShapeVis()->IsDisplayed());
  ExpectNothingSelectedAndTheTreeAsTheModel();
}

TEST_F(WorkspaceCommandsTest, DeletingAShaftSectionLeavesTheRestOfItsShaftAsItWas) {
  Open("shaft-grooves.xml");
  auto* shaft = static_cast<CNode*>(Find(L"Drive"));
  ASSERT_TRUE(shaft);
  ASSERT_EQ(shaft->GetChildCount(), 4);
  CTreeObject* seat = Find(L"Seat");
  ASSERT_TRUE(seat);
  tree.SelectObject(seat);
  ASSERT_EQ(View().GetSelectedCount(), 1);
  const auto vis = static_cast<CObject3D*>(seat)->GetShapeVis();
  std::vector<ObjPtr<CAD::IShape>> shapes;
  std::vector<ObjPtr<CAD::IShapeVis>> visuals;
  for (const auto& child : shaft->GetChildren()) {
    if (child.get() == seat) continue;
    shapes.push_back(static_cast<CObject3D&>(*child).GetShape());
    visuals.push_back(static_cast<CObject3D&>(*child).GetShapeVis());
  }
  const int shown = View().GetDisplayedCount();

  EXPECT_TRUE(core.DeleteSelected());
  EXPECT_EQ(Find(L"Seat"), nullptr);
  EXPECT_EQ(Find(L"Drive"), shaft) << "the shaft stays";
  ASSERT_EQ(shaft->GetChildCount(), 3);
  EXPECT_FALSE(vis->IsDisplayed());
  EXPECT_EQ(View().GetDisplayedCount(), shown - 1);
  // The other sections are neither rebuilt nor shown again.
  for (int i = 0; i < 3; ++i) {
    auto& section = static_cast<CObject3D&>(*shaft->GetChild(i));
    EXPECT_EQ(section.GetShape().Get(), shapes[i].Get()) << i;
    EXPECT_EQ(section.GetShapeVis().Get(), visuals[i].Get()) << i;
    EXPECT_TRUE(section.GetShapeVis()->IsDisplayed()) << i;
  }
  // The shaft's data are those of the sections left.
  std::vector<qz_RecognizeShaft> data;
  core.GetDataSelected(shaft, data);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].size(), 3u);
  ExpectNothingSelectedAndTheTreeAsTheModel();
  ExpectThePictureOfAWholeDraw("section deleted");

  // A change of a section left rebuilds the shaft of the sections left and shows them all.
  auto* journal = static_cast<CObject3D*>(Find(L"Journal"));
  ASSERT_TRUE(journal);
  tree.SelectObject(journal);
  auto length = journal->FindStandardProperty(L"l");
  ASSERT_TRUE(length);
  EXPECT_EQ(core.ChangeProperty(*length, CVariant(length->GetValue().ToDouble() + 10)),
            PropertyChange::Rebuilt);
  EXPECT_TRUE(messages.empty()) << messages.front();
  for (int i = 0; i < 3; ++i) {
    auto& section = static_cast<CObject3D&>(*shaft->GetChild(i));
    EXPECT_NE(section.GetShape().Get(), shapes[i].Get()) << i;
    ASSERT_TRUE(section.GetShapeVis()) << i;
    EXPECT_TRUE(section.GetShapeVis()->IsDisplayed()) << i;
  }
  EXPECT_EQ(View().GetDisplayedCount(), shown - 1);
  EXPECT_FALSE(vis->IsDisplayed());

  // The last sections go one by one; the empty shaft stays.
  while (shaft->GetChildCount() > 0) {
    tree.SelectObject(shaft->GetChild(0).get());
    ASSERT_TRUE(core.DeleteSelected());
  }
  EXPECT_EQ(Find(L"Drive"), shaft);
  EXPECT_EQ(View().GetDisplayedCount(), shown - 4);
  ExpectNothingSelectedAndTheTreeAsTheModel();
}

TEST_F(WorkspaceCommandsTest, DeletingTheRootEmptiesTheModelAndKeepsTheRootSelectedAndShown) {
  Open("assembly.xml");
  auto model = core.GetRoot();
  tree.SelectObject(model.get());
  ASSERT_EQ(View().GetSelectedCount(), View().GetDisplayedCount());
  const auto frame = Watch(Find(L"Frame"));
  const auto visuals = Visuals(model.get());
  ASSERT_EQ(visuals.size(), 4u);
  const int updates = properties.updates;

  EXPECT_TRUE(core.DeleteSelected());
  EXPECT_EQ(core.GetRoot(), model);
  EXPECT_EQ(model->GetChildCount(), 0);
  EXPECT_TRUE(frame.expired());
  EXPECT_EQ(View().GetDisplayedCount(), 0);
  for (const auto& vis : visuals) EXPECT_FALSE(vis->IsDisplayed());
  EXPECT_EQ(tree.items, ItemsOf(model.get()));
  EXPECT_EQ(tree.items.size(), 1u);
  EXPECT_EQ(tree.selected, model.get());
  EXPECT_EQ(properties.shown, model.get());
  EXPECT_EQ(properties.updates, updates + 1) << "the root's properties are shown again";
  EXPECT_EQ(View().GetSelectedCount(), 0);
  // Again on the empty model: it stays as it is.
  EXPECT_TRUE(core.DeleteSelected());
  EXPECT_EQ(tree.items.size(), 1u);
  EXPECT_EQ(tree.selected, model.get());

  // The root deleted while an object below it is selected: the selection goes with it.
  Open("assembly.xml");
  tree.SelectObject(Find(L"Pin 2"));
  EXPECT_TRUE(core.DeleteObject(core.GetRoot().get()));
  EXPECT_EQ(core.GetRoot()->GetChildCount(), 0);
  EXPECT_EQ(View().GetDisplayedCount(), 0);
  EXPECT_EQ(tree.items.size(), 1u);
  ExpectNothingSelectedAndTheTreeAsTheModel();
}

TEST_F(WorkspaceCommandsTest, WithNothingSelectedOrAnObjectOfAnotherModelNothingChanges) {
  Open("assembly.xml");
  tree.SelectObject(Find(L"Pins"));
  EXPECT_EQ(core.GetSelectedOrRootObject(), Find(L"Pins"));
  tree.SelectObject(nullptr);
  // What the frame's recognition of the selection takes without a selection.
  EXPECT_EQ(core.GetSelectedOrRootObject(), core.GetRoot().get());
  const int shown = View().GetDisplayedCount();
  const Items items = tree.items;
  const int updates = properties.updates;
  EXPECT_FALSE(core.DeleteSelected());
  EXPECT_FALSE(core.DeleteObject(nullptr));

  // Another workspace's model, and an object of none.
  CWorkspaceCore other;
  other.SetTools(tools);
  ASSERT_TRUE(other.OpenXml(ExampleModel("assembly.xml")));
  CTreeObject* foreign = Find(L"Plate", other.GetRoot().get());
  ASSERT_TRUE(foreign);
  EXPECT_FALSE(core.DeleteObject(foreign));
  EXPECT_FALSE(core.DeleteObject(other.GetRoot().get()));
  EXPECT_EQ(core.Rename(foreign, L"Stolen"), PropertyChange::Ignored);
  EXPECT_EQ(foreign->GetName(), L"Plate");
  EXPECT_EQ(other.GetRoot()->GetChildCount(), 2);
  CObject3D loose;
  EXPECT_FALSE(core.DeleteObject(&loose));
  EXPECT_EQ(core.Rename(&loose, L"Loose"), PropertyChange::Ignored);

  EXPECT_EQ(View().GetDisplayedCount(), shown);
  EXPECT_EQ(tree.items, items);
  EXPECT_EQ(tree.removals, 0);
  EXPECT_EQ(properties.updates, updates);
  EXPECT_EQ(core.GetRoot()->GetChildCount(), 2);
  ASSERT_TRUE(Find(L"Plate"));

  // Without a tree there is no selection to delete; an object is still deleted.
  core.SetPanes(nullptr, &properties);
  EXPECT_EQ(core.GetSelectedOrRootObject(), nullptr);
  EXPECT_FALSE(core.DeleteSelected());
  EXPECT_EQ(View().GetDisplayedCount(), shown);
  EXPECT_TRUE(core.DeleteObject(Find(L"Bush")));
  EXPECT_EQ(Find(L"Bush"), nullptr);
  EXPECT_EQ(View().GetDisplayedCount(), shown - 1);
  EXPECT_EQ(properties.shown, nullptr);
}

TEST_F(WorkspaceCommandsTest, RenamingGivesTheObjectAndItsItemTheNameAndRebuildsNothing) {
  Open("assembly.xml");
  auto* pin = static_cast<CObject3D*>(Find(L"Pin 1"));
  ASSERT_TRUE(pin);
  const auto shape = pin->GetShape();
  const auto vis = pin->GetShapeVis();
  tree.SelectObject(Find(L"Plate"));
  int updates = properties.updates;

  // Not the selected object: its item is renamed, the properties shown stay.
  EXPECT_EQ(core.Rename(pin, L"Locating pin"), PropertyChange::Renamed);
  EXPECT_EQ(pin->GetName(), L"Locating pin");
  EXPECT_EQ(pin->GetValue(L"Name").ToText(), L"Locating pin");
  EXPECT_EQ(tree.items[pin].second, L"Locating pin");
  EXPECT_EQ(tree.items[Find(L"Plate")].second, L"Plate");
  EXPECT_EQ(pin->GetShape().Get(), shape.Get());
  EXPECT_EQ(pin->GetShapeVis().Get(), vis.Get());
  EXPECT_TRUE(vis->IsDisplayed());
  EXPECT_EQ(properties.updates, updates);
  EXPECT_EQ(tree.selected, Find(L"Plate"));

  // The selected object: its properties are shown again with the new name.
  tree.SelectObject(pin);
  updates = properties.updates;
  EXPECT_EQ(core.Rename(pin, L"Pin A"), PropertyChange::Renamed);
  EXPECT_EQ(tree.items[pin].second, L"Pin A");
  EXPECT_EQ(properties.shown, pin);
  EXPECT_EQ(properties.updates, updates + 1);
  EXPECT_EQ(View().GetSelectedCount(), 1);

  // A group and the root: their items too.
  CTreeObject* pins = Find(L"Pins");
  EXPECT_EQ(core.Rename(pins, L"Dowels"), PropertyChange::Renamed);
  EXPECT_EQ(tree.items[pins].second, L"Dowels");
  auto root = core.GetRoot();
  EXPECT_EQ(core.Rename(root.get(), L"Frame model"), PropertyChange::Renamed);
  EXPECT_EQ(root->GetName(), L"Frame model");
  EXPECT_EQ(tree.items[root.get()].second, L"Frame model");
  EXPECT_EQ(tree.items, ItemsOf(root.get()));
  EXPECT_TRUE(messages.empty());
}

}  // namespace
