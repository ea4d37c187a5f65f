// The option pages: what they select from the stored install type, the rows the run and the
// switches take away, what Next, Back and the answer file may do, and the client package export.
#include "gui/pages/OptionPages.h"
#include "gui/tests/PageTestSupport.h"
#include "platform/Files.h"
#include "testing/MachineFixture.h"

using namespace InstallGui;
using pagetest::PageScript;

namespace {

const char* kTypeTexts =
    "<DLG_INSTALL_TYPE Caption=\"Kind (build %d)\"><TEXT Caption=\"How?\"/>"
    "<TEXT_TYPE_SERVER Caption=\"&amp;Server\"/><TEXT_TYPE_LOCAL Caption=\"&amp;Local\"/>"
    "<TEXT_TYPE_CLIENT Caption=\"&amp;Client\"/><TEXT_EXPORTMSI Caption=\"Folder:\"/>"
    "<BUTTON_EXPORTMSI Caption=\"&gt;&gt;\"/></DLG_INSTALL_TYPE>"
    "<DLG_UPDATE Caption=\"Update\"><TITLE Caption=\"Build %d is installed\"/>"
    "<TEXT Caption=\"What now?\"/><TEXT_TYPE_UPDATE Caption=\"Update\"/>"
    "<TEXT_TYPE_UNINSTALL Caption=\"Remove\"/></DLG_UPDATE>";

class OptionPages : public ::testing::Test {
 protected:
  void SetUp() override { COptionPage::ResetTables(); }
  void TearDown() override { COptionPage::ResetTables(); }
};

}  // namespace

TEST_F(OptionPages, InstallTypeWithNothingStoredChoosesNothingUntilARowIsClicked) {
  PageScript script(pagetest::English(kTypeTexts));
  CDlgInstallType page;
  page.SetServices(script.Services());
  pagetest::Show(page);
  EXPECT_EQ(page.Selection(), -1);
  EXPECT_TRUE(page.IsControlDisabled(kControlNext));
  EXPECT_FALSE(page.Press(PageButton::Next));
  // Back with nothing chosen stores the server type.
  EXPECT_TRUE(page.Press(PageButton::Back));
  EXPECT_EQ(script.userSettings.Get(L"InstallType", -7).toInt(), 3);
  EXPECT_TRUE(page.Choose(1));
  EXPECT_FALSE(page.IsControlDisabled(kControlNext));
  pagetest::LogLines log;
  EXPECT_TRUE(page.Press(PageButton::Next));
  EXPECT_TRUE(log.Has("2 Select installation: &Local")) << log.lines.size();
  EXPECT_EQ(script.userSettings.Get(L"InstallType", -7).toInt(), 4);
}

TEST_F(OptionPages, AHiddenServerRowGivesWayToTheFirstRowThatIsOffered) {
  PageScript script(
      pagetest::English(kTypeTexts),
      "<DLG_INSTALL_TYPE><TYPE_SERVER Show=\"N\"/><TEXT Show=\"N\"/></DLG_INSTALL_TYPE>");
  script.userSettings.Set(L"InstallType", 3);
  CDlgInstallType page;
  page.SetServices(script.Services());
  pagetest::Show(page);
  EXPECT_EQ(page.Selection(), 1);
  EXPECT_TRUE(page.IsControlHidden(1016));
  EXPECT_TRUE(page.IsControlHidden(1015));  // the text line's own switch
  EXPECT_FALSE(page.SetField(L"InstallType", L"Server"));
  EXPECT_EQ(page.FieldChoices(L"InstallType"), (std::vector<std::wstring>{L"Local", L"Client"}));
  // The hidden row stays hidden when the page is made again.
  CDlgInstallType again;
  EXPECT_EQ(COptionPage::Rows(OptionTable::InstallType)[0].state, OptionState::Hidden);
}

TEST_F(OptionPages, AServerChosenWithoutTheRightToInstallOneKeepsThePage) {
  PageScript script(pagetest::English(kTypeTexts));
  CDlgInstallType page;
  page.SetServices(script.Services());
  pagetest::Show(page);
  ASSERT_TRUE(page.SetField(L"InstallType", L"Server"));
  pagetest::LogLines log;
  EXPECT_FALSE(page.Press(PageButton::Next));
  EXPECT_TRUE(log.Has("2     Server installation is NOT permitted!"));
  EXPECT_EQ(script.shown, std::vector<std::wstring>{L"MsgDenyServerInstall"});
  EXPECT_TRUE(script.userSettings.values.empty());
  page.SetServerPermission(true);
  EXPECT_TRUE(page.Press(PageButton::Next));
  EXPECT_EQ(script.userSettings.Get(L"InstallType", -7).toInt(), 3);
}

TEST_F(OptionPages, AnInstalledClientOnTheUpdatePageCanOnlyBeRemoved) {
  PageScript script(pagetest::English(kTypeTexts));
  COptionPage::DisableOption(OptionTable::Update, 0);
  CDlgUpdate page;
  page.SetServices(script.Services());
  page.SetBuilds(7001, 7120);
  pagetest::Show(page);  // nothing stored: the default 3 matches no row of this page
  EXPECT_EQ(page.Selection(), 1);
  EXPECT_TRUE(page.IsControlDisabled(1049));
  EXPECT_FALSE(page.IsControlHidden(1049));
  EXPECT_FALSE(page.SetField(L"InstallType", L"Repair"));
  EXPECT_EQ(page.BuildLine(), L"Build 7001 is installed");
  EXPECT_TRUE(page.Press(PageButton::Next));
  EXPECT_EQ(script.userSettings.Get(L"InstallType", -7).toInt(), 9);
}

TEST_F(OptionPages, TheRepairPagesNamesAndRows) {
  CDlgRepair repair;
  EXPECT_EQ(repair.GetName(), L"DLG_REPAIR");
  EXPECT_EQ(repair.GetSectionName(), L"DLG_CHANGE_REPAIR");
  COptionPage::DisableOption(OptionTable::Repair, 1);
  repair.LoadSettings();
  repair.OnInit();
  EXPECT_EQ(repair.Selection(), 0);
  EXPECT_FALSE(repair.SetField(L"InstallType", L"Change"));
  EXPECT_TRUE(repair.SetField(L"InstallType", L"9"));
  CDlgRepairTruncated truncated;
  EXPECT_FALSE(truncated.SetField(L"InstallType", L"Change"));
  EXPECT_FALSE(truncated.OffersExport());
  EXPECT_FALSE(truncated.SetField(L"ExportPath", L"C:\\Out"));
}

TEST_F(OptionPages, TheClientPackageIsCopiedIntoTheChosenFolder) {
  tltest::ScopedMachine machine;
  PageScript script(pagetest::English(kTypeTexts));
  ASSERT_EQ(platform::CreateDirectoryWithParents(L"C:\\Pkg"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Pkg\\Client.msi", "msi"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::CreateDirectoryWithParents(L"C:\\Out"), platform::ERROR_SUCCESS);
  script.userSettings.Set(L"ProjectPath", L"C:\\Projects");
  CDlgInstallType page;
  page.SetServices(script.Services());
  // Without a client package the export group is hidden and refused.
  pagetest::Show(page);
  EXPECT_TRUE(page.IsControlHidden(kExportButton));
  EXPECT_FALSE(page.SetField(L"ExportPath", L"C:\\Out"));
  page.SetClientMsiPath(L"C:\\Pkg\\Client.msi");
  pagetest::Show(page);
  EXPECT_FALSE(page.IsControlHidden(kExportButton));
  EXPECT_EQ(page.Export().StartFolder(page), L"C:\\Projects");
  ASSERT_TRUE(page.SetField(L"ExportPath", L"C:\\Out"));
  EXPECT_TRUE(platform::PathFileExistsW(L"C:\\Out\\Client.msi"));
  EXPECT_EQ(page.Export().StartFolder(page), L"C:\\Out");
  // A folder that does not exist: logged, shown, the last folder stays.
  pagetest::LogLines log;
  EXPECT_FALSE(page.SetField(L"ExportPath", L"C:\\Missing"));
  EXPECT_TRUE(log.Has("1 File C:\\Pkg\\Client.msi is not copy to C:\\Missing\\Client.msi"));
  EXPECT_EQ(script.shown.back(),
            L"File C:\\Pkg\\Client.msi is not copy to C:\\Missing\\Client.msi");
  ASSERT_TRUE(page.Choose(1));
  EXPECT_TRUE(page.Press(PageButton::Back));
  EXPECT_EQ(script.userSettings.Text(L"CopyMSIPath"), L"C:\\Out");
}
