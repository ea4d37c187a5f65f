// The library (component) list: reading, selections, the dependency rule and the processing
// order of the libraries' steps.
#include "package/Libraries.h"
#include "package/XmlSettings.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

using namespace CommonTools;

namespace {

struct Loaded {
  CXmlSettings doc;
  CLibraries libraries;
};

void LoadInto(Loaded& l, const std::string& libraries) {
  ASSERT_TRUE(l.doc.LoadFromBytes("<?xml version=\"1.0\"?><S>" + libraries + "</S>"))
      << platform::ToUtf8(l.doc.LastError());
  SettingsNodePtr root;
  ASSERT_TRUE(l.doc.GetRoot(root));
  l.libraries.Load(root);
}

LibraryRecord Lib(int id, bool selected, std::vector<unsigned> deps = {}) {
  LibraryRecord r;
  r.ID = id;
  r.PV = L"L" + std::to_wstring(id);
  r.selected = r.installed = selected;
  r.dependencies = std::move(deps);
  return r;
}

bool IsSelected(const CLibraries& l, int id) {
  LibraryRecord r;
  EXPECT_TRUE(l.Find(id, r)) << id;
  return r.selected;
}

bool IsInstalled(const CLibraries& l, int id) {
  LibraryRecord r;
  EXPECT_TRUE(l.Find(id, r)) << id;
  return r.installed;
}

class RecordingSteps : public IStepDispatcher {
 public:
  void CommonSteps(const SettingsNodePtr& container, bool remove,
                   const std::wstring& basePath) override {
    std::wstring name =
        container ? container->GetAttribute(L"PV", Variant(L"?")).toString() : L"null";
    calls.push_back(name + (remove ? L" remove " : L" setup ") + basePath);
  }
  std::vector<std::wstring> calls;
};

}  // namespace

TEST(LibrariesLoad, RecordsWithTheirDefaults) {
  Loaded l;
  LoadInto(l,
           "<libraries>"
           "<LIBRARY ID=\"1\" Caption=\"Base\" PV=\"BASE\"><FILE Name=\"a\"/></LIBRARY>"
           "<Other ID=\"99\"/>"
           "<library ID=\"2\" Selected=\"0\" Readonly=\"1\" Dependency=\"1;;5; x\"/>"
           "<LIBRARY ID=\"3\" Selected=\"true\" Readonly=\"False\"/>"
           "<LIBRARY/>"
           "</libraries>");
  ASSERT_EQ(l.libraries.Count(), 4);
  LibraryRecord r;
  ASSERT_TRUE(l.libraries.Get(0, r));
  EXPECT_EQ(r.ID, 1);
  EXPECT_EQ(r.Caption, L"Base");
  EXPECT_EQ(r.PV, L"BASE");
  EXPECT_TRUE(r.selected);
  EXPECT_TRUE(r.installed);
  EXPECT_FALSE(r.readonly);
  ASSERT_TRUE(r.node);
  SettingsNodePtr file;
  EXPECT_TRUE(r.node->GetChild(L"FILE", file));

  ASSERT_TRUE(l.libraries.Get(1, r));
  EXPECT_EQ(r.ID, 2);
  EXPECT_FALSE(r.selected);
  EXPECT_FALSE(r.installed);
  EXPECT_TRUE(r.readonly);
  // Empty pieces are skipped; a piece without digits is 0, as wtol reads it.
  EXPECT_EQ(r.dependencies, (std::vector<unsigned>{1, 5, 0}));

  ASSERT_TRUE(l.libraries.Get(2, r));
  EXPECT_TRUE(r.selected);
  EXPECT_FALSE(r.readonly);
  ASSERT_TRUE(l.libraries.Get(3, r));
  EXPECT_EQ(r.ID, 0);
  EXPECT_FALSE(l.libraries.Get(4, r));
  EXPECT_FALSE(l.libraries.Get(-1, r));
}

TEST(LibrariesLoad, NoLibrariesAndValuesThatDoNotConvert) {
  Loaded none;
  LoadInto(none, "<INSTALL/>");
  EXPECT_EQ(none.libraries.Count(), 0);

  Loaded badId;
  EXPECT_THROW(LoadInto(badId, "<LIBRARIES><LIBRARY ID=\"A\"/></LIBRARIES>"), SettingsError);
  Loaded badFlag;
  EXPECT_THROW(LoadInto(badFlag, "<LIBRARIES><LIBRARY ID=\"1\" Selected=\"maybe\"/></LIBRARIES>"),
               SettingsError);
}

TEST(LibrarySelection, StringOfTheSelectedInListOrder) {
  CLibraries l;
  EXPECT_EQ(l.SelectionString(), L"");
  l.Add(Lib(1, true));
  l.Add(Lib(2, false));
  l.Add(Lib(3, true));
  EXPECT_EQ(l.SelectionString(), L"1;3");
  EXPECT_TRUE(l.SetSelectedById(2, true));
  EXPECT_TRUE(l.SetSelected(0, false));
  EXPECT_FALSE(l.SetSelected(3, true));
  EXPECT_FALSE(l.SetSelectedById(42, true));
  EXPECT_EQ(l.SelectionString(), L"2;3");
}

TEST(LibrarySelection, ApplyingAStoredSelectionSetsOnlyInstalled) {
  CLibraries l;
  l.Add(Lib(1, false));
  l.Add(Lib(2, false));
  l.Add(Lib(12, false));
  l.ApplyInstalledSelection(L";12;;99;x;");
  EXPECT_TRUE(IsInstalled(l, 12));
  EXPECT_FALSE(IsInstalled(l, 1));
  EXPECT_FALSE(IsInstalled(l, 2));
  EXPECT_FALSE(IsSelected(l, 12));  // the choice is not changed
  l.ApplyInstalledSelection(L"2");
  EXPECT_TRUE(IsInstalled(l, 2));
  EXPECT_EQ(SplitIds(L""), std::vector<long>{});
  EXPECT_EQ(SplitIds(L"3;7;12"), (std::vector<long>{3, 7, 12}));
}

TEST(LibraryDependencies, SelectingPullsInWhatIsNeededTransitively) {
  CLibraries l;
  l.Add(Lib(1, false, {2, 5}));
  l.Add(Lib(2, false, {7}));
  l.Add(Lib(5, false));
  l.Add(Lib(7, false, {99}));  // an unknown ID is ignored
  l.Add(Lib(8, false));
  ASSERT_TRUE(l.Select(0));
  EXPECT_TRUE(IsSelected(l, 1));
  EXPECT_TRUE(IsSelected(l, 2));
  EXPECT_TRUE(IsSelected(l, 5));
  EXPECT_TRUE(IsSelected(l, 7));
  EXPECT_FALSE(IsSelected(l, 8));
  EXPECT_FALSE(l.Select(5));
}

TEST(LibraryDependencies, ANeededLibraryCannotBeCleared) {
  CLibraries l;
  l.Add(Lib(1, true, {5}));
  l.Add(Lib(5, true));
  l.Add(Lib(6, true, {5}));
  EXPECT_FALSE(l.CanClear(1));
  EXPECT_FALSE(l.TryClear(1));
  EXPECT_TRUE(IsSelected(l, 5));
  // Once nothing selected needs it, it may go.
  EXPECT_TRUE(l.TryClear(0));
  EXPECT_FALSE(l.TryClear(1));
  EXPECT_TRUE(l.TryClear(2));
  EXPECT_TRUE(l.TryClear(1));
  EXPECT_FALSE(IsSelected(l, 5));
  EXPECT_FALSE(l.CanClear(7));
}

TEST(LibraryDependencies, SelfAndCyclicDependenciesEnd) {
  CLibraries l;
  l.Add(Lib(1, false, {1}));  // names itself
  l.Add(Lib(2, false, {3}));
  l.Add(Lib(3, false, {4}));
  l.Add(Lib(4, false, {2, 4}));  // a cycle 2 -> 3 -> 4 -> 2
  ASSERT_TRUE(l.Select(0));
  EXPECT_TRUE(IsSelected(l, 1));
  // A library that names only itself can still be cleared.
  EXPECT_TRUE(l.TryClear(0));
  ASSERT_TRUE(l.Select(1));
  EXPECT_TRUE(IsSelected(l, 3));
  EXPECT_TRUE(IsSelected(l, 4));
  EXPECT_FALSE(l.CanClear(1));  // 4 needs 2
  EXPECT_EQ(l.SelectionString(), L"2;3;4");
}

TEST(LibraryProcessing, RemovesUnselectedFirstThenSetsUpSelected) {
  Loaded l;
  LoadInto(l,
           "<LIBRARIES><LIBRARY ID=\"1\" PV=\"A\"/><LIBRARY ID=\"2\" PV=\"B\" Selected=\"0\"/>"
           "<LIBRARY ID=\"3\" PV=\"C\"/><LIBRARY ID=\"4\" PV=\"D\" Selected=\"0\"/></LIBRARIES>");
  RecordingSteps steps;
  std::vector<std::wstring> logged;
  auto log = [&](const std::wstring& pv, const std::wstring& action) {
    logged.push_back(pv + L"=" + action);
  };
  l.libraries.Process(false, L"C:\\P", steps, log);
  EXPECT_EQ(steps.calls, (std::vector<std::wstring>{L"B remove C:\\P", L"D remove C:\\P",
                                                    L"A setup C:\\P", L"C setup C:\\P"}));
  EXPECT_EQ(logged, (std::vector<std::wstring>{L"B=remove", L"D=remove", L"A=setup", L"C=setup"}));

  steps.calls.clear();
  l.libraries.Process(true, L"C:\\Q", steps, nullptr);
  EXPECT_EQ(steps.calls, (std::vector<std::wstring>{L"A remove C:\\Q", L"B remove C:\\Q",
                                                    L"C remove C:\\Q", L"D remove C:\\Q"}));

  steps.calls.clear();
  CLibraries empty;
  empty.Process(false, L"C:\\P", steps, nullptr);
  EXPECT_TRUE(steps.calls.empty());
}
