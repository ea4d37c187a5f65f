// The model tree and property panes in the real window: the tree's items, selection from a
// pick, the Delete and arrow keys, the header band's hide button, the grid's rows and their
// changes carried into the model and the view, and the panes after a language change. A
// walkthrough in both languages of the sample language file leaves its pictures in
// <build>/screenshots (panes-*.png).
#include "WindowTestSupport.h"

#include "model/elements/Shafts.h"
#include "ui/MlsString.h"
#include "ui/Object3DView.h"
#include "ui/PropertiesView.h"
#include "ui/PropertyGridRows.h"
#include "ui/TextIds.h"
#include "ui/TreeObjectView.h"

#include <wx/dcmemory.h>
#include <wx/propgrid/manager.h>
#include <wx/propgrid/propgrid.h>
#include <wx/settings.h>

#include <filesystem>

using namespace window_test;

namespace {

std::wstring LanguageFile() {
  return (std::filesystem::path(SourceDir()) / "examples/viewer-language/Morlane.lng").wstring();
}

// A frame with a model in the left workspace.
class ModelPanes : public ::testing::Test {
 public:
  void SetUp() override { REQUIRE_DISPLAY(); }
  void TearDown() override {
    frame.reset();
    CMlsString::Clear();
  }

  void Open(const char* model) {
    frame = std::make_unique<TestFrame>();
    ASSERT_TRUE(frame->created);
    ASSERT_TRUE((*frame)->OpenFile(Example(model)));
    morlane::SettleWindow(frame->frame);
  }

  CSplitterView& Ws() { return (*frame)->GetView1(); }
  CTreeObjectView& Tree() { return Ws().GetTreeObjectView(); }
  CViewTree& Ctrl() { return Tree().GetFileView(); }
  CPropertiesView& Props() { return Ws().GetPropertiesView(); }
  wxPropertyGrid& Grid() { return Props().GetGrid(); }
  QZ::CAD::IView& View() { return *Ws().GetCore().GetView(); }

  CTreeObject* Find(const std::wstring& name, CTreeObject* from = nullptr) {
    if (!from) from = Ws().GetRoot().get();
    if (from->GetName() == name) return from;
    if (from->IsNode())
      for (const auto& child : static_cast<CNode*>(from)->GetChildren())
        if (CTreeObject* found = Find(name, child.get())) return found;
    return nullptr;
  }

  wxTreeItemId Item(const wxString& text, wxTreeItemId from = wxTreeItemId()) {
    if (!from.IsOk()) from = Ctrl().GetRootItem();
    if (!from.IsOk()) return {};
    if (Ctrl().GetItemText(from) == text) return from;
    wxTreeItemIdValue cookie;
    for (auto c = Ctrl().GetFirstChild(from, cookie); c.IsOk();
         c = Ctrl().GetNextChild(from, cookie))
      if (auto found = Item(text, c); found.IsOk()) return found;
    return {};
  }

  // The row whose label is label, below parent when given.
  wxPGProperty* Row(const wxString& label, wxPGProperty* parent = nullptr) {
    for (auto it = Grid().GetIterator(wxPG_ITERATE_ALL); !it.AtEnd(); ++it) {
      wxPGProperty* p = *it;
      if (p->GetLabel() != label) continue;
      if (parent && p->GetParent() != parent) continue;
      return p;
    }
    return nullptr;
  }
  // The row of a model property of owner.
  wxPGProperty* FindRowOf(CGeometry* owner, const wchar_t* name) {
    return owner ? Props().FindRow(owner->FindProperty(name).get()) : nullptr;
  }
  int TopRows() { return static_cast<int>(Grid().GetRoot()->GetChildCount()); }

  // The user's edit of a row, as the grid reports it.
  void Edit(wxPGProperty* row, const CVariant& value) {
    ASSERT_NE(row, nullptr);
    Grid().ChangePropertyValue(row, MakeGridValue(value));
  }

  // Selects a row and tells the grid's owners so, as a click on it does.
  void Click(wxPGProperty* row) {
    ASSERT_NE(row, nullptr);
    Grid().SelectProperty(row);
    wxPropertyGridEvent e(wxEVT_PG_SELECTED, Grid().GetId());
    e.SetPropertyGrid(&Grid());
    e.SetProperty(row);
    e.SetEventObject(&Grid());
    Grid().ProcessWindowEvent(e);
  }

  void Key(int code) {
    wxKeyEvent e(wxEVT_KEY_DOWN);
    e.m_keyCode = code;
    e.SetEventObject(&Ctrl());
    // As the toolkit does: a key press the window did not take becomes a character.
    if (Ctrl().ProcessWindowEvent(e)) return;
    wxKeyEvent c(wxEVT_CHAR);
    c.m_keyCode = code;
    c.SetEventObject(&Ctrl());
    Ctrl().ProcessWindowEvent(c);
  }

  void Mouse(wxWindow& pane, wxEventType type, wxPoint at, bool left) {
    wxMouseEvent e(type);
    e.m_x = at.x;
    e.m_y = at.y;
    e.m_leftDown = left;
    e.SetEventObject(&pane);
    pane.ProcessWindowEvent(e);
  }

  std::unique_ptr<TestFrame> frame;
};

TEST_F(ModelPanes, TwoGroupsOfThreeGiveNineItemsEveryGroupExpandedAndNoSelection) {
  Open("assembly.xml");
  auto root = std::make_shared<CNodeRoot>();
  for (const wchar_t* group : {L"A", L"B"}) {
    auto node = std::make_shared<CNode>();
    node->SetValue(L"Name", CVariant(group));
    for (int i = 1; i <= 3; ++i) {
      auto leaf = std::make_shared<CObject3D>();
      leaf->SetValue(L"Name", CVariant(std::wstring(group) + std::to_wstring(i)));
      node->AddChild(leaf);
    }
    root->AddChild(node);
  }
  Tree().UpdateTreeObjects(root);
  EXPECT_EQ(Tree().GetItemCount(), 9);
  EXPECT_EQ(Tree().GetRootObject(), root.get());
  EXPECT_EQ(Tree().GetRootText(), root->GetName());
  EXPECT_EQ(Tree().GetSelectedObject(), nullptr);
  // The control's idle time does not select the root item by itself.
  morlane::SettleWindow(frame->frame);
  EXPECT_EQ(Tree().GetSelectedObject(), nullptr);
  for (const wchar_t* group : {L"A", L"B"}) {
    const wxTreeItemId item = Item(group);
    ASSERT_TRUE(item.IsOk()) << group;
    EXPECT_TRUE(Ctrl().IsExpanded(item)) << group;
    EXPECT_EQ(Ctrl().GetChildrenCount(item, false), 3u);
    EXPECT_EQ(Ctrl().GetItemParent(item), Ctrl().GetRootItem());
  }
  const wxTreeItemId b2 = Item("B2");
  ASSERT_TRUE(b2.IsOk());
  EXPECT_EQ(Ctrl().GetItemObject(b2)->GetName(), L"B2");
  Tree().UpdateTreeObjects(std::shared_ptr<CNodeRoot>());
  EXPECT_EQ(Tree().GetItemCount(), 0);
  EXPECT_EQ(Tree().GetRootObject(), nullptr);
}

TEST_F(ModelPanes, APickInACollapsedGroupSelectsItsItemAndEmptySpaceClearsEverything) {
  Open("assembly.xml");
  auto* pin = static_cast<CObject3D*>(Find(L"Pin 1"));
  ASSERT_TRUE(pin);
  const wxTreeItemId frameItem = Item("Frame");
  Ctrl().CollapseAllChildren(frameItem);
  Ctrl().Collapse(frameItem);
  ASSERT_FALSE(Ctrl().IsExpanded(frameItem));

  Tree().SelectItem(pin->GetShapeVis());
  EXPECT_EQ(Tree().GetSelectedObject(), pin);
  EXPECT_TRUE(Ctrl().IsExpanded(frameItem)) << "the group opens to show the item";
  EXPECT_TRUE(Ctrl().IsExpanded(Item("Pins")));
  EXPECT_EQ(Props().GetShownObject(), pin);
  EXPECT_EQ(View().GetSelectedCount(), 1);
  EXPECT_NE(Row("r"), nullptr);

  Tree().SelectItem(QZ::ObjPtr<QZ::CAD::IShapeVis>());
  EXPECT_EQ(Tree().GetSelectedObject(), nullptr);
  EXPECT_EQ(Props().GetShownObject(), nullptr);
  EXPECT_EQ(TopRows(), 0);
  EXPECT_EQ(View().GetSelectedCount(), 0);

  // Selecting a group selects every shape below it.
  Ctrl().SelectItem(frameItem);
  EXPECT_EQ(Tree().GetSelectedObject(), Find(L"Frame"));
  EXPECT_EQ(View().GetSelectedCount(), 3);
  Tree().ResetSelect();
  EXPECT_EQ(View().GetSelectedCount(), 0);
}

TEST_F(ModelPanes, ArrowKeysDoNotMoveTheSelection) {
  Open("assembly.xml");
  CTreeObject* plate = Find(L"Plate");
  Tree().SelectObject(plate);
  ASSERT_EQ(Tree().GetSelectedObject(), plate);
  for (int key : std::initializer_list<int>{WXK_DOWN, WXK_UP, WXK_LEFT, WXK_RIGHT, WXK_HOME,
                                            WXK_END, WXK_PAGEDOWN, '*'})
    Key(key);
  EXPECT_EQ(Tree().GetSelectedObject(), plate);
  EXPECT_TRUE(Ctrl().IsExpanded(Item("Frame")));
  EXPECT_EQ(Find(L"Plate"), plate);
}

TEST_F(ModelPanes, DeleteInAGroupRemovesTheObjectAndItsItemOnly) {
  Open("assembly.xml");
  auto* pins = static_cast<CNode*>(Find(L"Pins"));
  ASSERT_TRUE(pins);
  const int items = Tree().GetItemCount(), shown = View().GetDisplayedCount();
  Tree().SelectObject(Find(L"Pin 1"));
  ASSERT_EQ(Props().GetShownObject(), Find(L"Pin 1"));
  Key(WXK_DELETE);
  EXPECT_EQ(Find(L"Pin 1"), nullptr);
  EXPECT_EQ(pins->GetChildCount(), 1);
  EXPECT_EQ(Tree().GetItemCount(), items - 1);
  EXPECT_FALSE(Item("Pin 1").IsOk());
  for (const char* other : {"Frame", "Plate", "Pins", "Pin 2"}) EXPECT_TRUE(Item(other).IsOk());
  EXPECT_EQ(View().GetDisplayedCount(), shown - 1);
  // Nothing points into the removed object any more, and nothing else gets selected.
  morlane::SettleWindow(frame->frame);
  EXPECT_EQ(View().GetSelectedCount(), 0);
  EXPECT_EQ(Tree().GetSelectedObject(), nullptr);
  EXPECT_EQ(Props().GetShownObject(), nullptr);
  EXPECT_EQ(TopRows(), 0);

  // Deleting the item of a shape leaves the model as it is.
  auto* pin2 = static_cast<CObject3D*>(Find(L"Pin 2"));
  Tree().DeleteItem(pin2->GetShapeVis());
  EXPECT_FALSE(Item("Pin 2").IsOk());
  EXPECT_EQ(Tree().GetItemCount(), items - 2);
  EXPECT_EQ(pins->GetChildCount(), 1);
  Tree().DeleteItem(QZ::ObjPtr<QZ::CAD::IShapeVis>());
  EXPECT_EQ(Tree().GetItemCount(), items - 2);
}

TEST_F(ModelPanes, DeleteOnTheRootEmptiesTheModelAndLeavesTheRootItem) {
  Open("assembly.xml");
  Ctrl().SelectItem(Ctrl().GetRootItem());
  ASSERT_EQ(Tree().GetSelectedObject(), Ws().GetRoot().get());
  EXPECT_EQ(View().GetSelectedCount(), View().GetDisplayedCount());
  Key(WXK_DELETE);
  EXPECT_EQ(Ws().GetRoot()->GetChildCount(), 0);
  EXPECT_EQ(Tree().GetItemCount(), 1);
  EXPECT_EQ(Tree().GetRootObject(), Ws().GetRoot().get());
  EXPECT_EQ(View().GetDisplayedCount(), 0);
  EXPECT_EQ(Props().GetShownObject(), Ws().GetRoot().get());
  Shot(frame->frame, "panes-root-deleted");
  // Nothing selected, Delete does nothing.
  Tree().ResetSelect();
  Key(WXK_DELETE);
  EXPECT_EQ(Tree().GetItemCount(), 1);
}

TEST_F(ModelPanes, TheHideButtonHidesItsPaneOnlyWhenPressedAndReleasedOnIt) {
  Open("assembly.xml");
  for (CHeaderPane* pane :
       {static_cast<CHeaderPane*>(&Tree()), static_cast<CHeaderPane*>(&Props())}) {
    const CBtn& button = pane->GetHideButton();
    ASSERT_FALSE(button.IsEmpty());
    EXPECT_EQ(button.GetRight(), pane->GetClientSize().x - 2);
    EXPECT_EQ(button.y, 1);
    const wxPoint on(button.x + 10, button.y + 10), off(10, 10);
    Mouse(*pane, wxEVT_MOTION, on, false);
    EXPECT_EQ(button.m_nState, CBtn::eHot);
    Mouse(*pane, wxEVT_LEFT_DOWN, on, true);
    EXPECT_EQ(button.m_nState, CBtn::ePressed);
    EXPECT_TRUE(pane->HasCapture());
    Mouse(*pane, wxEVT_MOTION, off, true);
    EXPECT_EQ(button.m_nState, CBtn::eNormal);
    Mouse(*pane, wxEVT_LEFT_UP, off, false);
    EXPECT_FALSE(pane->HasCapture());
    EXPECT_TRUE(Ws().GetShowTreeObjectView());
    EXPECT_TRUE(Ws().GetShowPropertiesView());
  }
  Mouse(Tree(), wxEVT_LEFT_DOWN, wxPoint(Tree().GetHideButton().x + 5, 5), true);
  Mouse(Tree(), wxEVT_LEFT_UP, wxPoint(Tree().GetHideButton().x + 5, 5), false);
  EXPECT_FALSE(Ws().GetShowTreeObjectView());
  EXPECT_FALSE(Tree().IsShown());
  EXPECT_TRUE(Props().IsShown());
  morlane::SettleWindow(frame->frame);
  Shot(frame->frame, "panes-tree-hidden");
  Mouse(Props(), wxEVT_LEFT_DOWN, wxPoint(Props().GetHideButton().x + 5, 5), true);
  Mouse(Props(), wxEVT_LEFT_UP, wxPoint(Props().GetHideButton().x + 5, 5), false);
  EXPECT_FALSE(Ws().GetShowPropertiesView());
  EXPECT_EQ(Ws().GetColumnCount(), 1) << "both hidden: the left column goes";
}

TEST_F(ModelPanes, ANarrowPaneHasNoButtonAndClicksInItsBandDoNothing) {
  Open("assembly.xml");
  CTreeObjectView& pane = Tree();
  const int narrow = pane.GetSmallCaptionHeight() + 9;
  pane.SetSize(narrow, 200);
  pane.AdjustLayout();
  EXPECT_TRUE(pane.GetHideButton().IsEmpty());
  for (int x = 0; x < narrow; x += 3) {
    Mouse(pane, wxEVT_LEFT_DOWN, wxPoint(x, 8), true);
    Mouse(pane, wxEVT_LEFT_UP, wxPoint(x, 8), false);
  }
  EXPECT_TRUE(Ws().GetShowTreeObjectView());
  EXPECT_TRUE(pane.IsShown());
  pane.SetSize(narrow + 1, 200);
  pane.AdjustLayout();
  EXPECT_FALSE(pane.GetHideButton().IsEmpty());
}

TEST_F(ModelPanes, TheButtonIsDrawnWithItsEdgesByStateAndTheCloseMarkInTheMiddle) {
  Open("assembly.xml");
  const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE),
                 shadow = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNSHADOW),
                 light = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNHIGHLIGHT),
                 frameColour = wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOWFRAME);
  auto draw = [&](int state, const wxRect& rect) {
    wxBitmap bitmap(24, 24, 24);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(*wxRED_BRUSH);
    dc.Clear();
    CBtn button;
    button.SetPosition(rect.GetPosition());
    button.SetSize(rect.GetSize());
    button.m_nState = state;
    Tree().DrawBtn(dc, &button, kGlyphClose, kPaneButtonStyle);
    dc.SelectObject(wxNullBitmap);
    return bitmap.ConvertToImage();
  };
  auto at = [](const wxImage& image, int x, int y) {
    return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
  };
  const wxRect square(2, 2, 20, 20);
  const wxImage pressed = draw(CBtn::ePressed, square);
  EXPECT_EQ(at(pressed, 2, 2), frameColour);
  EXPECT_EQ(at(pressed, 3, 3), shadow);
  EXPECT_EQ(at(pressed, 21, 21), light);
  EXPECT_EQ(at(pressed, 20, 20), face);
  const wxImage hot = draw(CBtn::eHot, square);
  EXPECT_EQ(at(hot, 2, 2), light);
  EXPECT_EQ(at(hot, 21, 21), frameColour);
  EXPECT_EQ(at(hot, 20, 20), shadow);
  EXPECT_EQ(at(hot, 3, 3), face);
  const wxImage normal = draw(CBtn::eNormal, square);
  EXPECT_EQ(at(normal, 2, 2), face);
  EXPECT_EQ(at(normal, 21, 21), face);
  EXPECT_EQ(at(normal, 1, 1), *wxRED) << "nothing outside the button";
  // The close mark: ink where its strokes cross, face colour between its arms.
  const CPaneGlyph& glyph = Tree().GetGlyph(kGlyphClose);
  const int gx = 2 + (20 - glyph.width) / 2, gy = 2 + (20 - glyph.height) / 2;
  EXPECT_EQ(at(normal, gx, gy), *wxBLACK);
  EXPECT_EQ(at(normal, gx + glyph.width / 2, gy), face);
  EXPECT_EQ(at(normal, gx + glyph.width / 2, gy + glyph.height / 2), *wxBLACK);
  // An empty button draws nothing.
  const wxImage none = draw(CBtn::ePressed, wxRect());
  EXPECT_EQ(at(none, 2, 2), *wxRED);
  EXPECT_EQ(at(none, 12, 12), *wxRED);
}

TEST_F(ModelPanes, TheGridShowsGroupsAsCategoriesAndValuesByTheirFormat) {
  Open("shaft-grooves.xml");
  auto* journal = static_cast<CShaftSection*>(Find(L"Journal"));
  ASSERT_TRUE(journal);
  // The language refresh gives the section's values their descriptions.
  (*frame)->UpdateAll();
  Tree().SelectObject(journal);
  ASSERT_EQ(TopRows(), 1);
  wxPGProperty* caption = Grid().GetRoot()->Item(0);
  EXPECT_TRUE(caption->IsCategory());
  EXPECT_EQ(caption->GetLabel().ToStdWstring(), journal->GetCaption());
  EXPECT_EQ(RowProperty(Row("Name"))->GetOwner(), journal);
  EXPECT_EQ(Row("Name")->GetValueAsString(), "Journal");
  EXPECT_EQ(Row("l")->GetValueAsString(), "40.00");
  EXPECT_EQ(Row("l")->GetHelpString().ToStdWstring(),
            journal->FindProperty(L"l")->GetDescription());
  EXPECT_FALSE(Row("l")->GetHelpString().empty());
  // Each groove is a group of its own below the section's.
  wxPGProperty* hole = Row(wxString(journal->GetGrooves()[1]->GetCaption()));
  ASSERT_NE(hole, nullptr);
  EXPECT_TRUE(hole->IsCategory());
  EXPECT_EQ(hole->GetParent(), caption);
  EXPECT_EQ(Row("angle", hole)->GetValueAsString(), "45.000000");
  EXPECT_EQ(Row("r", hole)->GetValueAsString(), "2.00");
  // The colour row is a colour picker with the section's colour.
  auto* colour = dynamic_cast<CPropertyGridColorProperty*>(Row("Color"));
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(colour->GetColor(), journal->FindColorProperty(L"Color")->GetColor());
  // Text that does not read as the row's type changes nothing.
  wxVariant v;
  EXPECT_FALSE(Row("l")->StringToValue(v, "forty"));
  EXPECT_FALSE(Row("l")->StringToValue(v, "40.00")) << "the text as shown is no change";
  EXPECT_TRUE(Row("l")->StringToValue(v, "41"));

  Props().UpdateObjectProperties(nullptr);
  EXPECT_EQ(TopRows(), 0);
}

TEST_F(ModelPanes, AChangedRowRebuildsTheSolidAndARefusedOneComesBackWithTheMessage) {
  Open("drive.xml");
  auto* gear = static_cast<CObject3D*>(Find(L"Spur gear"));
  ASSERT_TRUE(gear);
  Tree().SelectObject(gear);
  wxPGProperty* z = Row("z");
  ASSERT_NE(z, nullptr);
  EXPECT_EQ(z->GetValueAsString(), "24");
  const double volume = gear->GetShape()->GetVolume();
  Edit(z, CVariant(30));
  EXPECT_EQ(gear->GetValue(L"z").ToInt(), 30);
  EXPECT_GT(gear->GetShape()->GetVolume(), volume * 1.1) << "more teeth, a bigger gear";
  EXPECT_EQ(View().GetSelectedCount(), 1);
  EXPECT_TRUE((*frame)->GetMessages().empty());
  Shot(frame->frame, "panes-gear-30-teeth");

  Edit(Row("z"), CVariant(2));
  ASSERT_EQ((*frame)->GetMessages().size(), 1u);
  EXPECT_EQ((*frame)->GetMessages()[0], L"Invalid parameter!");
  EXPECT_EQ(gear->GetValue(L"z").ToInt(), 30);
  EXPECT_EQ(Row("z")->GetValueAsString(), "30") << "the grid shows the model's value again";
  ASSERT_TRUE(gear->GetShapeVis());
  EXPECT_TRUE(gear->GetShapeVis()->IsDisplayed());
}

TEST_F(ModelPanes, AGrooveRowRebuildsTheWholeShaftAndTheEdgeRowsAreRelabelled) {
  Open("drive.xml");
  auto* shaft = static_cast<CNode*>(Find(L"Gear shaft"));
  auto* journal = static_cast<CShaftSection*>(Find(L"Journal"));
  ASSERT_TRUE(shaft && journal);
  Tree().SelectObject(journal);
  std::vector<QZ::ObjPtr<QZ::CAD::IShape>> before;  // held: no new shape takes their place
  for (const auto& s : shaft->GetChildren())
    before.push_back(static_cast<CObject3D&>(*s).GetShape());
  wxPGProperty* groove = Row(wxString(journal->GetGrooves()[0]->GetCaption()));
  ASSERT_NE(groove, nullptr);
  Edit(Row("t", groove), CVariant(3.0));
  EXPECT_DOUBLE_EQ(journal->GetGrooves()[0]->GetValue(L"t").ToDouble(), 3.0);
  for (int i = 0; i < shaft->GetChildCount(); ++i)
    EXPECT_NE(static_cast<CObject3D&>(*shaft->GetChild(i)).GetShape().Get(), before[i].Get()) << i;
  EXPECT_TRUE((*frame)->GetMessages().empty());

  wxPGProperty* lch1 = FindRowOf(journal, L"lch1");
  ASSERT_NE(lch1, nullptr);
  EXPECT_EQ(lch1->GetLabel(), wxString(L"c1 x 45°"));
  for (auto [value, label] : {std::pair{0.5, L"r1"}, {0.0, L"c1 (r1)"}, {-1.0, L"c1 x 45°"}}) {
    Edit(lch1, CVariant(value));
    EXPECT_EQ(lch1->GetLabel(), wxString(label)) << value;
    EXPECT_EQ(lch1->GetHelpString().ToStdWstring(),
              journal->FindProperty(L"lch1")->GetDescription());
  }
  Shot(frame->frame, "panes-groove-deeper");
}

TEST_F(ModelPanes, ANameRowRenamesTheTreeItemButTheRootsRenamesOnlyTheModel) {
  Open("assembly.xml");
  CTreeObject* plate = Find(L"Plate");
  Tree().SelectObject(plate);
  const auto shape = static_cast<CObject3D*>(plate)->GetShape();
  Edit(Row("Name"), CVariant(L"Top plate"));
  EXPECT_EQ(plate->GetName(), L"Top plate");
  EXPECT_TRUE(Item("Top plate").IsOk());
  EXPECT_FALSE(Item("Plate").IsOk());
  EXPECT_EQ(static_cast<CObject3D*>(plate)->GetShape().Get(), shape.Get())
      << "no rebuild for a name";

  Ctrl().SelectItem(Ctrl().GetRootItem());
  const wxString rootText = Ctrl().GetItemText(Ctrl().GetRootItem());
  Edit(Row("Name"), CVariant(L"Frames"));
  EXPECT_EQ(Ws().GetRoot()->GetName(), L"Frames");
  EXPECT_EQ(Ctrl().GetItemText(Ctrl().GetRootItem()), rootText);
}

TEST_F(ModelPanes, AColourRowRecoloursTheObject) {
  Open("assembly.xml");
  auto* plate = static_cast<CObject3D*>(Find(L"Plate"));
  Tree().SelectObject(plate);
  wxPGProperty* colour = Row("Color");
  ASSERT_NE(colour, nullptr);
  const auto vis = plate->GetShapeVis();
  wxVariant value;
  value << wxColourPropertyValue(wxPG_COLOUR_CUSTOM, wxColour(0, 200, 0));
  Grid().ChangePropertyValue(colour, value);
  EXPECT_EQ(plate->FindColorProperty(L"Color")->GetColor(), 0x0000C800u);
  EXPECT_NE(plate->GetShapeVis().Get(), vis.Get());
  EXPECT_EQ(View().GetSelectedCount(), 1);
  // "Default" is the button face colour.
  wxVariant automatic;
  automatic << wxColourPropertyValue(wxSYS_COLOUR_BTNFACE);
  Grid().ChangePropertyValue(colour, automatic);
  EXPECT_EQ(plate->FindColorProperty(L"Color")->GetColor(),
            ToColorRef(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
  EXPECT_EQ(colour->GetValueAsString(), "Default");
}

TEST_F(ModelPanes, ARightClickSelectsTheItemUnderItAndShowsNoMenu) {
  Open("assembly.xml");
  const wxTreeItemId pin = Item("Pin 2");
  wxRect rect;
  ASSERT_TRUE(Ctrl().GetBoundingRect(pin, rect, true));
  wxContextMenuEvent menu(wxEVT_CONTEXT_MENU, Ctrl().GetId(),
                          Ctrl().ClientToScreen(wxPoint(rect.x + 2, rect.y + rect.height / 2)));
  menu.SetEventObject(&Ctrl());
  Ctrl().ProcessWindowEvent(menu);
  EXPECT_EQ(Tree().GetSelectedObject(), Find(L"Pin 2"));
  EXPECT_EQ(Props().GetShownObject(), Find(L"Pin 2"));
  // The menu key (no point): the selection stays.
  wxContextMenuEvent key(wxEVT_CONTEXT_MENU, Ctrl().GetId(), wxDefaultPosition);
  key.SetEventObject(&Ctrl());
  Ctrl().ProcessWindowEvent(key);
  EXPECT_EQ(Tree().GetSelectedObject(), Find(L"Pin 2"));
}

TEST_F(ModelPanes, TheGridsCommandsSortAndExpandAndForeignNotificationsAreIgnored) {
  Open("shaft-grooves.xml");
  auto* journal = static_cast<CShaftSection*>(Find(L"Journal"));
  Tree().SelectObject(journal);
  wxCommandEvent sort(wxEVT_MENU, CPropertiesView::kCmdSort);
  Props().ProcessWindowEvent(sort);
  EXPECT_TRUE(Props().IsAlphabeticMode());
  wxUpdateUIEvent check(CPropertiesView::kCmdSort);
  Props().ProcessWindowEvent(check);
  EXPECT_TRUE(check.GetChecked());
  // In alphabetic order the rows stand without their categories, sorted by label.
  wxString previous;
  for (unsigned i = 0; i < Grid().GetRoot()->GetChildCount(); ++i) {
    wxPGProperty* row = Grid().GetRoot()->Item(i);
    EXPECT_FALSE(row->IsCategory()) << row->GetLabel();
    EXPECT_LE(previous.CmpNoCase(row->GetLabel()), 0) << previous << " before " << row->GetLabel();
    previous = row->GetLabel();
  }
  Props().ProcessWindowEvent(sort);
  EXPECT_FALSE(Props().IsAlphabeticMode());
  EXPECT_TRUE(Grid().GetRoot()->Item(0)->IsCategory());

  wxPGProperty* hole = Row(wxString(journal->GetGrooves()[1]->GetCaption()));
  ASSERT_NE(hole, nullptr);
  Grid().Collapse(hole);
  ASSERT_FALSE(hole->IsExpanded());
  wxCommandEvent expand(wxEVT_MENU, CPropertiesView::kCmdExpandAll);
  Props().ProcessWindowEvent(expand);
  EXPECT_TRUE(hole->IsExpanded());

  // A notification of another control, or of a row without model property, writes nothing.
  wxPGProperty* length = FindRowOf(journal, L"l");
  auto* row = dynamic_cast<CMFCPropertyGridPropertyFormat*>(length);
  ASSERT_NE(row, nullptr);
  row->SetVariant(CVariant(55.0));
  Props().OnPropertyChanged(CPropertiesView::kGridId + 1, row);
  EXPECT_DOUBLE_EQ(journal->GetValue(L"l").ToDouble(), 40.0);
  CMFCPropertyGridPropertyFormat loose(wxT("x"), CVariant(1.0), wxEmptyString, nullptr,
                                       wxT("%.2f"));
  Props().OnPropertyChanged(CPropertiesView::kGridId, &loose);
  Props().OnPropertyChanged(CPropertiesView::kGridId, row);
  EXPECT_DOUBLE_EQ(journal->GetValue(L"l").ToDouble(), 55.0);
}

// The walkthrough: tree and 3D selection, a gear's teeth, a groove, a deletion, in one language.
void Walkthrough(ModelPanes& t, const char* language) {
  const std::string tag = std::string("panes-") + language + "-";
  CTreeObject* gear = t.Find(L"Spur gear");
  ASSERT_TRUE(gear);
  t.Tree().SelectObject(gear);
  Shot(t.frame->frame, tag + "1-tree-selection");
  // A pick in the 3D view: a point over the pinion.
  CObject3DView& pane = t.Ws().GetObject3DView();
  const wxSize size = pane.GetClientSize();
  CTreeObject* pinion = t.Find(L"Pinion");
  QZ::ObjPtr<QZ::CAD::IShapeVis> vis;
  for (int y = 0; y < size.y && !vis; y += 8)
    for (int x = 0; x < size.x && !vis; x += 8) {
      QZ::ObjPtr<QZ::CAD::IShapeVis> hit(t.View().Pick(x, y));
      if (hit && t.Ws().GetCore().FindObjectOfVisual(hit.Get()) == pinion) vis = hit;
    }
  ASSERT_TRUE(vis) << "the pinion is not in the view";
  t.Ws().GetCore().OnPick(vis.Get());
  EXPECT_EQ(t.Tree().GetSelectedObject(), pinion);
  EXPECT_EQ(t.Props().GetShownObject(), pinion);
  Shot(t.frame->frame, tag + "2-picked");
  t.Tree().SelectObject(gear);
  t.Edit(t.FindRowOf(gear, L"z"), CVariant(36));
  EXPECT_EQ(gear->GetValue(L"z").ToInt(), 36);
  t.Click(t.FindRowOf(gear, L"z"));
  EXPECT_EQ(t.Grid().GetSelection(), t.FindRowOf(gear, L"z"));
  Shot(t.frame->frame, tag + "3-gear-36-teeth");
  auto* journal = static_cast<CShaftSection*>(t.Find(L"Journal"));
  t.Tree().SelectObject(journal);
  t.Edit(t.FindRowOf(journal->GetGrooves()[0].get(), L"t"), CVariant(4.0));
  t.Edit(t.FindRowOf(journal, L"lch1"), CVariant(2.0));
  t.Click(t.FindRowOf(journal, L"lch1"));
  EXPECT_EQ(t.FindRowOf(journal, L"lch1")->GetLabel(),
            wxString(journal->FindProperty(L"lch1")->GetLabel()));
  Shot(t.frame->frame, tag + "4-groove-and-rounding");
  t.Tree().SelectObject(t.Find(L"Pinion"));
  t.Key(WXK_DELETE);
  EXPECT_EQ(t.Find(L"Pinion"), nullptr);
  Shot(t.frame->frame, tag + "5-pinion-deleted");
}

TEST_F(ModelPanes, BothPanesFollowALanguageChangeWithoutReopeningTheModel) {
  Open("drive.xml");
  // A wider left column for the pictures.
  Ws().SetInitialRatioH(0.4);
  Ws().RecalcLayout();
  (*frame)->UpdateAll();
  EXPECT_EQ(Tree().GetRootText(), L"Root");
  Walkthrough(*this, "en");

  ASSERT_EQ(CMainFrame::LoadLocation(LanguageFile().c_str(), 1049), 1);
  const auto model = Ws().GetRoot();
  CTreeObject* shaft = Find(L"Gear shaft");
  Tree().SelectObject(shaft->IsNode() ? static_cast<CNode*>(shaft)->GetChild(0).get() : shaft);
  (*frame)->UpdateAll();
  EXPECT_EQ(Ws().GetRoot(), model);
  const std::wstring russianRoot = CMlsString::GetResourceString(eMessages, TextId::Root);
  EXPECT_NE(russianRoot, L"Root");
  EXPECT_EQ(Tree().GetRootText(), russianRoot);
  EXPECT_EQ(Ws().GetRoot()->GetName(), russianRoot);
  const std::wstring name = CMlsString::GetResourceString(eMessages, TextId::Name);
  ASSERT_NE(name, L"Name");
  EXPECT_NE(Row(wxString(name)), nullptr) << "the grid shows the Russian labels";
  EXPECT_EQ(Row("Name"), nullptr);
  EXPECT_NE(Row(wxString(CMlsString::GetResourceString(eMessages, TextId::ShaftSection))), nullptr)
      << "the group's caption in Russian";
  Shot(frame->frame, "panes-ru-0-switched");

  // Back to English: everything relabelled again.
  ASSERT_EQ(CMainFrame::LoadLocation(LanguageFile().c_str(), 2000), 1);
  (*frame)->UpdateAll();
  EXPECT_EQ(Tree().GetRootText(), L"Root");
  EXPECT_NE(Row("Name"), nullptr);

  // The walkthrough in Russian, on a fresh copy of the model.
  ASSERT_EQ(CMainFrame::LoadLocation(LanguageFile().c_str(), 1049), 1);
  ASSERT_TRUE((*frame)->OpenFile(Example("drive.xml")));
  (*frame)->UpdateAll();
  EXPECT_EQ(Tree().GetRootText(), russianRoot);
  Walkthrough(*this, "ru");
}

}  // namespace
