// The summary and the finish page.
#include "gui/pages/DlgFinish.h"
#include "gui/pages/DlgSummary.h"
#include "gui/tests/PageTestSupport.h"

using namespace InstallGui;

namespace {

struct Libraries {
  Libraries() {
    EXPECT_TRUE(script.LoadFromBytes(
        "<?xml version=\"1.0\"?><S><LIBRARIES><LIBRARY ID=\"1\" Caption=\"Core\"/>"
        "<LIBRARY ID=\"2\" Caption=\"Help\" Selected=\"0\"/><LIBRARY ID=\"3\" Caption=\"Parts\"/>"
        "</LIBRARIES></S>"));
    CommonTools::SettingsNodePtr root;
    script.GetRoot(root);
    list.Load(root);
  }
  CommonTools::CXmlSettings script;
  CommonTools::CLibraries list;
};

const std::string kSummary =
    "<DLG_SUMMARY Caption=\"Ready\"><TITLE Caption=\"Summary\"/>"
    "<BUTTON_INSTALL Caption=\"&amp;Install\"/><TEXT_CORE Caption=\"Folder:\"/>"
    "<TEXT_COMPONENTS Caption=\"Components:\"/></DLG_SUMMARY>";

}  // namespace

TEST(SummaryPage, TheFolderAndTheSelectedComponents) {
  Libraries libs;
  pagetest::PageScript script(pagetest::English(kSummary));
  script.userSettings.Set(L"InstallPath", L"C:\\Programs\\Design");
  script.userSettings.Set(L"SelectedLibraries", L"3;2;1;9");
  CDlgSummary page(libs.list);
  page.SetServices(script.Services());
  pagetest::Show(page);
  EXPECT_EQ(page.Text(), L"Folder:\r\n  C:\\Programs\\Design\r\nComponents:\r\n");
  // In the stored order; a library that is not selected or does not exist is left out.
  EXPECT_EQ(page.Lines(), (std::vector<std::wstring>{L"  Parts", L"  Core"}));
  EXPECT_EQ(page.ControlText(kControlNext), L"&Install");
  EXPECT_EQ(page.ControlText(kSummaryGroup), L"Summary");
}

TEST(SummaryPage, WithoutComponentsNeitherTheirLinesNorTheirHeading) {
  Libraries libs;
  pagetest::PageScript script(pagetest::English(kSummary));
  script.userSettings.Set(L"InstallPath", L"C:\\P");
  script.userSettings.Set(L"SelectedLibraries", L"empty");
  CDlgSummary page(libs.list);
  page.SetServices(script.Services());
  pagetest::Show(page);
  EXPECT_EQ(page.Text(), L"Folder:\r\n  C:\\P\r\n");
  EXPECT_TRUE(page.Lines().empty());
}

namespace {

const std::string kFinish =
    "<Common><BUTTON_NEXT Caption=\"Next\"/><BUTTON_FINISH Caption=\"&amp;Finish\"/></Common>"
    "<DLG_FINISH Caption=\"Done\"><TEXT Caption=\"Installed.\"/>"
    "<TEXT_RESTART Caption=\"Restart?\"/></DLG_FINISH>";

}  // namespace

TEST(FinishPage, WithoutARestartTheQuestionIsHiddenAndFinishEndsTheRun) {
  pagetest::PageScript script(pagetest::English(kFinish));
  CDlgFinish page(L"", false, L"");
  page.SetServices(script.Services());
  pagetest::Show(page);
  for (int id : {kRestartQuestion, kRestartNow, kRestartLater, kExportButton, kExportFolder})
    EXPECT_TRUE(page.IsControlHidden(id)) << id;
  EXPECT_FALSE(page.SetField(L"Restart", L"Now"));
  EXPECT_FALSE(page.CanCancel());
  EXPECT_FALSE(page.Press(PageButton::Cancel));
  EXPECT_FALSE(page.ShowsBack());
  // The Finish button reads as the language's finish text, never as Next.
  EXPECT_EQ(page.ControlText(kControlNext), L"&Finish");
  EXPECT_EQ(page.ControlText(kFinishText), L"Installed.");
  EXPECT_TRUE(page.Press(PageButton::Next));
  EXPECT_FALSE(page.RestartNow());
}

TEST(FinishPage, ARestartOfferedIsNowUnlessThePersonSaysLater) {
  pagetest::PageScript script(pagetest::English(kFinish),
                              "<DLG_FINISH><TEXT Show=\"N\"/></DLG_FINISH>");
  script.userSettings.Set(L"CopyMSIPath", L"C:\\Out");
  CDlgFinish page(L"Some folders wait for a restart.", true, L"C:\\Pkg\\Client.msi");
  page.SetServices(script.Services());
  pagetest::Show(page);
  EXPECT_EQ(page.MessageText(), L"Some folders wait for a restart.");
  EXPECT_TRUE(page.IsControlHidden(kFinishText));
  EXPECT_FALSE(page.IsControlHidden(kRestartNow));
  EXPECT_FALSE(page.IsControlHidden(kExportButton));
  EXPECT_EQ(page.Export().CopyMsiPath(), L"C:\\Out");
  EXPECT_TRUE(page.RestartNow());
  ASSERT_TRUE(page.SetField(L"Restart", L"later"));
  EXPECT_FALSE(page.RestartNow());
  EXPECT_FALSE(page.SetField(L"Text", L"other"));
  EXPECT_FALSE(page.IsFieldEditable(L"Text"));
}
