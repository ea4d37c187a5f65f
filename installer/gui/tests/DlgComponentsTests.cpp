// The components: the items of the libraries, the three-state rules of the tree, the hot item
// and the dependency rule of the page in both directions.
#include "gui/pages/DlgComponents.h"
#include "gui/tests/PageTestSupport.h"

using namespace InstallGui;

namespace {

// A (1) needs B (2); C (3) is read-only and selected; D (4) needs nothing.
const std::string kLibraries =
    "<LIBRARIES><LIBRARY ID=\"1\" Caption=\"A\" Selected=\"0\" Dependency=\"2\"/>"
    "<LIBRARY ID=\"2\" Caption=\"B\" Selected=\"0\"/>"
    "<LIBRARY ID=\"3\" Caption=\"C\" Selected=\"1\" Readonly=\"1\"/>"
    "<LIBRARY ID=\"4\" Caption=\"D\" Selected=\"0\"/></LIBRARIES>";

struct Components {
  Components() {
    EXPECT_TRUE(script.LoadFromBytes("<?xml version=\"1.0\"?><S>" + kLibraries + "</S>"));
    CommonTools::SettingsNodePtr root;
    script.GetRoot(root);
    libraries.Load(root);
  }
  std::vector<int> States() const {
    std::vector<int> out;
    for (size_t i = 0; i < page.Provider().GetCount(); ++i)
      out.push_back(page.Provider().GetItem(i)->GetState());
    return out;
  }
  IItemData& Item(size_t i) { return *page.Provider().GetItem(i); }
  CommonTools::CXmlSettings script;
  CommonTools::CLibraries libraries;
  pagetest::PageScript texts{pagetest::English("<DLG_COMPONENTS Caption=\"C\"/>")};
  CDlgComponents page{libraries};
};

}  // namespace

TEST(ComponentsPage, CheckingALibraryChecksWhatItNeeds) {
  Components c;
  c.page.SetServices(c.texts.Services());
  pagetest::Show(c.page);
  EXPECT_EQ(c.States(), (std::vector<int>{0, 0, 1, 0}));
  EXPECT_TRUE(c.page.Toggle(c.Item(0)));
  EXPECT_EQ(c.States(), (std::vector<int>{1, 1, 1, 0}));
  // Clearing B while A needs it: B is checked again and stays selected; nothing else changes.
  c.page.Toggle(c.Item(1));
  EXPECT_EQ(c.States(), (std::vector<int>{1, 1, 1, 0}));
  // With A cleared, B can go.
  c.page.Toggle(c.Item(0));
  c.page.Toggle(c.Item(1));
  EXPECT_EQ(c.States(), (std::vector<int>{0, 0, 1, 0}));
  EXPECT_TRUE(c.page.Press(PageButton::Next));
  EXPECT_EQ(c.texts.userSettings.Text(L"SelectedLibraries"), L"3");
}

TEST(ComponentsPage, AReadOnlyLibraryKeepsItsStateAndShowsDisabled) {
  Components c;
  c.page.SetServices(c.texts.Services());
  pagetest::Show(c.page);
  EXPECT_FALSE(c.page.Toggle(c.Item(2)));
  EXPECT_EQ(c.Item(2).GetState(), kChecked);
  EXPECT_EQ(StateImageIndex(c.Item(2), false), 6);  // checked, disabled
  EXPECT_EQ(StateImageIndex(c.Item(2), true), 14);
  EXPECT_EQ(StateImageIndex(c.Item(3), true), 9);               // unchecked, hot
  EXPECT_FALSE(c.page.SetField(L"SelectedLibraries", L"1;2"));  // C cannot be cleared
  EXPECT_FALSE(c.page.SetField(L"SelectedLibraries", L"3;9"));  // no library 9
}

TEST(ComponentsPage, AStoredSelectionGetsWhatItsLibrariesNeed) {
  Components c;
  c.texts.userSettings.Set(L"SelectedLibraries", L"1;3");
  c.page.SetServices(c.texts.Services());
  pagetest::Show(c.page);
  EXPECT_EQ(c.States(), (std::vector<int>{1, 1, 1, 0}));
  EXPECT_EQ(c.page.GetField(L"SelectedLibraries"), L"1;2;3");
  // The answer file's selection is reached by the clicks a person would make.
  EXPECT_TRUE(c.page.SetField(L"SelectedLibraries", L"3;4"));
  EXPECT_EQ(c.States(), (std::vector<int>{0, 0, 1, 1}));
  // A without B is not a selection a person can make.
  EXPECT_FALSE(c.page.SetField(L"SelectedLibraries", L"1;3"));
  EXPECT_EQ(c.page.GetField(L"SelectedLibraries"), L"1;2;3");
}

namespace {

// A container with two leaves, for the tree's own rules.
struct Tree : ITreeDataProv {
  Tree() {
    top = std::make_shared<CItem>(L"All", 0, kUnchecked, true);
    a = std::make_shared<CItem>(L"a", 1, kUnchecked, true);
    b = std::make_shared<CItem>(L"b", 2, kChecked, false);
    top->AddChild(a);
    top->AddChild(b);
  }
  size_t GetCount() const override { return 1; }
  IItemData* GetItem(size_t i) const override { return i == 0 ? top.get() : nullptr; }
  unsigned GetStyle() const override { return 0; }
  unsigned GetOptions() const override { return 0; }
  std::shared_ptr<CItem> top, a, b;
};

}  // namespace

TEST(ComponentsTree, ParentsShowTheirChildrenAndPassTheirClickDown) {
  Tree t;
  EXPECT_EQ(AggregateState(*t.top), kPartlyChecked);
  EXPECT_TRUE(ToggleItem(t, *t.a));  // a checked: both children checked
  EXPECT_EQ(t.top->GetState(), kChecked);
  // A click on the parent clears what may be cleared; the disabled child keeps its state.
  EXPECT_TRUE(ToggleItem(t, *t.top));
  EXPECT_EQ(t.a->GetState(), kUnchecked);
  EXPECT_EQ(t.b->GetState(), kChecked);
  EXPECT_EQ(t.top->GetState(), kPartlyChecked);
  // A partly checked parent is cleared by a click, as a checked one is.
  t.a->SetState(kChecked);
  t.top->SetState(kChecked);
  ToggleItem(t, *t.top);
  EXPECT_EQ(t.a->GetState(), kUnchecked);
  t.top->SetState(kPartlyChecked);
  ToggleItem(t, *t.top);
  EXPECT_EQ(t.a->GetState(), kUnchecked);
  EXPECT_EQ(t.top->GetState(), kPartlyChecked);
  EXPECT_FALSE(ToggleItem(t, *t.b));
  EXPECT_EQ(PathTo(t, t.b.get()).size(), 2u);
}

TEST(ComponentsTree, TheHotImageFollowsTheMouseAndStaysOffTheItems) {
  Tree t;
  CHotTracker hot;
  EXPECT_TRUE(hot.Update(t.a.get(), false));
  EXPECT_EQ(hot.Hot(), t.a.get());
  EXPECT_TRUE(hot.Update(t.b.get(), false));
  EXPECT_EQ(hot.Hot(), t.b.get());
  EXPECT_FALSE(hot.Update(nullptr, false));
  EXPECT_EQ(hot.Hot(), t.b.get());
}
