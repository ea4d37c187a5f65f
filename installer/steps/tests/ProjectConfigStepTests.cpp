// The project configuration update: CHANGE entries, the library list from the selection, the
// Tag "General\Libraries" beside other changes, and files that stay untouched.
#include "package/XmlSettings.h"
#include "steps/tests/StepsFixture.h"

using namespace InstallManager;
using tltest::StepsTest;

namespace {

const std::wstring kBase = L"C:\\Program Files (x86)\\TOLMERA\\Cfg";
const std::wstring kFile = kBase + L"\\Config\\Project.cfg";

const wchar_t kLibraries[] =
    L"<LIBRARIES>"
    L"<LIBRARY ID=\"1\" Caption=\"Gears\" PV=\"G1\">"
    L"<DIRECTORY Name=\"Old\"/><DIRECTORY Name=\"Gears\"/>"
    L"<DATABASE DSN=\"GearDb\" File=\"gears.mdb\"/></LIBRARY>"
    L"<LIBRARY ID=\"2\" Caption=\"Shafts\" PV=\"S1\">"
    L"<DATABASE DSN=\"ShaftSys\" File=\"sys.mdb\" Type=\"System\"/></LIBRARY>"
    L"<LIBRARY ID=\"3\" Caption=\"Beams\" PV=\"B1\"/>"
    L"</LIBRARIES>";

class ProjectConfig : public StepsTest {
 protected:
  // The script with these INSTALL / CFG children and, with `libraries`, the LIBRARIES node.
  CommonTools::SettingsNodePtr Load(const std::wstring& cfg, bool libraries) {
    auto root = Script(
        L"<MACROS><MACRO Name=\"%Inner%\" Value=\"D:\\Shared\"/><MACRO "
        L"Name=\"%Data%\" Value=\"%Inner%\"/></MACROS>"
        L"<INSTALL><CFG><FILE Path=\"Config/Project.cfg\"/>" +
        cfg + L"</CFG></INSTALL>" + (libraries ? kLibraries : L""));
    manager.LoadMacros(root);
    manager.LoadLibraries(root);
    manager.Common().cfgPath = L"Config\\Project.cfg";
    return root;
  }
  void File(const std::wstring& body) {
    Write(kFile, platform::ToUtf8(L"<?xml version=\"1.0\"?><PROJECT>" + body + L"</PROJECT>"));
  }
  // The file's root node as it is on disk now.
  CommonTools::SettingsNodePtr Saved() {
    settings = std::make_shared<CommonTools::CXmlSettings>();
    EXPECT_TRUE(settings->Load(kFile)) << platform::ToUtf8(settings->LastError());
    CommonTools::SettingsNodePtr root;
    EXPECT_TRUE(settings->GetRoot(root));
    return root;
  }
  std::vector<CommonTools::SettingsNodePtr> Entries() {
    std::vector<CommonTools::SettingsNodePtr> out;
    auto libs = Child(Child(Saved(), L"GENERAL"), L"LIBRARIES");
    CommonTools::SettingsNodeListPtr list;
    if (!libs || !libs->GetChildren(list)) return out;
    for (int i = 0; i < list->GetCount(); ++i) {
      CommonTools::SettingsNodePtr n;
      if (list->GetItem(i, n)) out.push_back(n);
    }
    return out;
  }
  static std::wstring Text(const CommonTools::SettingsNodePtr& n, const wchar_t* name) {
    return CommonTools::GetText(n, name);
  }
  std::string Bytes() {
    std::string b;
    EXPECT_EQ(platform::ReadWholeFile(kFile, b), platform::ERROR_SUCCESS);
    return b;
  }
  std::shared_ptr<CommonTools::CXmlSettings> settings;
};

}  // namespace

TEST_F(ProjectConfig, WithoutLibrariesInTheScriptTheFilesListIsDeleted) {
  auto root = Load(L"", false);
  File(L"<GENERAL><LIBRARIES><Library ID=\"1\"/></LIBRARIES><Other/></GENERAL>");
  manager.ProcessUpdateProjectConfig(root, kBase);
  auto general = Child(Saved(), L"GENERAL");
  CommonTools::SettingsNodePtr libs;
  EXPECT_FALSE(general->GetChild(L"LIBRARIES", libs));
  EXPECT_TRUE(
      Logged("INFO : ProcessUpdateProjectConfig: tag LIBRARIES is not detected in scenario"));
  EXPECT_TRUE(Logged("INFO : ProcessUpdateProjectConfig: save " + platform::ToUtf8(kFile)));
}

TEST_F(ProjectConfig, TheSelectionRewritesTheLibraryList) {
  auto root = Load(L"", true);
  // Library 1 has an entry with other values; 2 has two entries; 3 none.
  File(
      L"<GENERAL><LIBRARIES><Library ID=\"1\" Title=\"Mine\"/><Library ID=\"2\" Title=\"A\"/>"
      L"<LIBRARY ID=\"2\" Title=\"B\"/></LIBRARIES></GENERAL>");
  manager.SetSelectedById(2, false);
  manager.ProcessUpdateProjectConfig(root, kBase);
  auto entries = Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(Text(entries[0], L"Title"), L"Mine") << "an existing entry is not updated";
  EXPECT_EQ(Text(entries[1], L"Title"), L"B") << "only the first entry of a library goes";
  EXPECT_EQ(entries[2]->GetName(), L"LIBRARY");
  EXPECT_EQ(Text(entries[2], L"ID"), L"3");
  EXPECT_EQ(Text(entries[2], L"PV"), L"B1");
  EXPECT_EQ(Text(entries[2], L"Title"), L"Beams");
  EXPECT_TRUE(Logged("INFO : ProcessUpdateProjectConfig: Library 2 is not selected"));

  // A change of components: 1 goes, and 2 (still not selected) loses its other entry ...
  manager.SetSelectedById(1, false);
  manager.ProcessUpdateProjectConfig(root, kBase);
  entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(Text(entries[0], L"ID"), L"3");
  // ... and come back with the values of their steps.
  manager.SetSelectedById(1, true);
  manager.SetSelectedById(2, true);
  manager.ProcessUpdateProjectConfig(root, kBase);
  entries = Entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(Text(entries[1], L"ID"), L"1");
  EXPECT_EQ(Text(entries[1], L"Title"), L"Gears");
  EXPECT_EQ(Text(entries[1], L"Path"), L"..\\Gears") << "the later DIRECTORY wins";
  EXPECT_EQ(Text(entries[1], L"DSN"), L"GearDb");
  EXPECT_EQ(Text(entries[1], L"DB"), L"gears.mdb");
  EXPECT_EQ(Text(entries[2], L"ID"), L"2");
  EXPECT_EQ(Text(entries[2], L"DSNSystem"), L"ShaftSys");
  EXPECT_EQ(Text(entries[2], L"DBSystem"), L"sys.mdb");
  EXPECT_EQ(Text(entries[2], L"DSN"), L"");

  // The same selection again leaves the file as it is.
  const std::string before = Bytes();
  debug.clear();
  manager.ProcessUpdateProjectConfig(root, kBase);
  EXPECT_EQ(Bytes(), before);
  EXPECT_FALSE(Logged("ProcessUpdateProjectConfig: save"));
}

TEST_F(ProjectConfig, ChangesAreAppliedCreatingMissingElementsAndEqualValuesSaveNothing) {
  auto root = Load(
      L"<CHANGE Tag=\"General\\Paths\\Data\" Attr=\"Folder\" Value=\"%Data%\\parts\"/>"
      L"<CHANGE Tag=\"\" Attr=\"Mode\" Value=\"Server\"/>",
      true);
  File(L"<GENERAL><LIBRARIES/></GENERAL>");
  manager.ProcessUpdateProjectConfig(root, kBase);
  EXPECT_TRUE(Logged("INFO : ProcessUpdateProjectConfig: detected tags <CFG\\Change>"));
  auto saved = Saved();
  EXPECT_EQ(Text(saved, L"Mode"), L"Server");
  auto data = Child(Child(Child(saved, L"GENERAL"), L"Paths"), L"Data");
  ASSERT_TRUE(data);
  EXPECT_EQ(Text(data, L"Folder"), L"D:\\Shared\\parts") << "macros expanded twice";
  EXPECT_TRUE(Entries().empty()) << "the library list is not asked for";

  // The same value in another case: nothing is saved.
  Load(L"<CHANGE Attr=\"Mode\" Value=\"SERVER\"/>", true);
  const std::string before = Bytes();
  debug.clear();
  EXPECT_TRUE(manager.ChangeTagsProductConfig(kFile));
  EXPECT_EQ(Bytes(), before);
  EXPECT_FALSE(Logged("ChangeTagsProductConfig: save"));
  EXPECT_EQ(Text(Saved(), L"Mode"), L"Server");
}

TEST_F(ProjectConfig, TheLibrariesTagBesideOtherChangesAppliesThemAndRewritesTheList) {
  auto root = Load(
      L"<CHANGE Tag=\"General\" Attr=\"Mode\" Value=\"server\"/>"
      L"<CHANGE Tag=\"general\\libraries\"/>",
      true);
  File(L"<GENERAL/>");
  EXPECT_FALSE(manager.ChangeTagsProductConfig(kFile));
  manager.ProcessUpdateProjectConfig(root, kBase);
  EXPECT_FALSE(Logged("detected tags"));
  EXPECT_TRUE(Logged("INFO : ProcessUpdateProjectConfig: create LIBRARIES"));
  EXPECT_EQ(Text(Child(Saved(), L"GENERAL"), L"Mode"), L"server");
  EXPECT_EQ(Entries().size(), 3u);
}

TEST_F(ProjectConfig, MissingFilesAndAFileWithoutGeneralAreLeftUntouched) {
  auto root = Load(L"", true);
  manager.ProcessUpdateProjectConfig(root, kBase);
  EXPECT_TRUE(
      Logged("INFO : ProcessUpdateProjectConfig: Config file Config\\Project.cfg is not "
             "found"));
  Write(kFile, "<?xml version=\"1.0\"?><PROJECT><Other/></PROJECT>");
  const std::string before = Bytes();
  manager.ProcessUpdateProjectConfig(root, kBase);
  EXPECT_TRUE(Logged("is not correct (tag GENERAL is not found)"));
  EXPECT_EQ(Bytes(), before);
  manager.Common().cfgPath.clear();
  manager.ProcessUpdateProjectConfig(root, kBase);
  EXPECT_TRUE(
      Logged("INFO : ProcessUpdateProjectConfig: Finish Config file is not set in scenario"));
}

TEST_F(ProjectConfig, ChangesThatCannotBeWrittenAreRefusedAndTheFileStaysReadable) {
  auto root = Load(
      L"<CHANGE Tag=\"General\\1bad&lt;name\" Attr=\"A\" Value=\"v\"/>"
      L"<CHANGE Tag=\"General\" Attr=\"x y\" Value=\"v\"/>",
      false);
  File(L"<GENERAL/>");
  EXPECT_FALSE(manager.ChangeTagsProductConfig(kFile));
  EXPECT_TRUE(Logged("ChangeTagsProductConfig: tag General\\1bad<name cannot be made in"));
  EXPECT_TRUE(Logged("ChangeTagsProductConfig: attribute x y cannot be set in"));
  EXPECT_TRUE(Saved()) << "still a readable document";
  (void)root;
}
