// The dispatcher, the action filter on step nodes, the question of a node and the scheduling of
// folders and files.
#include "steps/tests/StepsFixture.h"

using namespace InstallManager;
using tltest::StepsTest;

namespace {

std::vector<std::wstring> Names(const InstallSteps::SetupList& list) {
  std::vector<std::wstring> names;
  for (const auto& e : list) names.push_back(e.name);
  return names;
}

}  // namespace

class CommonStepsDispatch : public StepsTest {};

TEST_F(CommonStepsDispatch, ChildrenReachTheirStepsByNameWithoutRegardToCase) {
  auto root = Script(
      L"<INSTALL><directory Name=\"bin\" Access=\"r\" Overwrite=\"|A.INI|\" BackupFiles=\"a.ini\"/>"
      L"<File Name=\"readme.txt\" Target=\"doc\"/><EXEC Path=\"x.exe\"/><UNKNOWN Name=\"u\"/>"
      L"<registry/><!-- a comment --></INSTALL>");
  manager.CommonSteps(Child(root, L"INSTALL"), false, L"C:\\P");
  auto& s = manager.Scheduled();
  ASSERT_EQ(s.installFolders.size(), 1u);
  EXPECT_EQ(s.installFolders[0].name, L"bin");
  EXPECT_EQ(s.installFolders[0].access, L"r");
  EXPECT_EQ(s.installFolders[0].overwrite, L"|A.INI|");
  EXPECT_EQ(s.installFolders[0].backupFiles, L"a.ini");
  ASSERT_EQ(s.installFiles.size(), 1u);
  EXPECT_EQ(s.installFiles[0].target, L"doc");
  EXPECT_TRUE(Logged("INFO : CommonSteps: start"));
  EXPECT_TRUE(Logged("INFO : CommonSteps: node = EXEC"));
  EXPECT_TRUE(Logged("INFO : CommonSteps: node = UNKNOWN"));
  EXPECT_TRUE(Logged("INFO : CommonStepExec: exec path = x.exe"));
  EXPECT_TRUE(Logged("INFO : ProcessRegistry: start"));
  EXPECT_TRUE(Logged("INFO : CommonStepScheduleFolder: Folder = bin\r\n"));
  EXPECT_TRUE(Logged("INFO : CommonStepFile: File = readme.txt\r\n"));
}

TEST_F(CommonStepsDispatch, CommonEntriesGoToTheCommonListsEvenInARemovePass) {
  auto root = Script(
      L"<INSTALL><DIRECTORY Name=\"Common\\bin\" Type=\"COMMON\"/><DIRECTORY Name=\"bin\"/>"
      L"<FILE Name=\"c.dll\" Type=\"common\"/><FILE Name=\"a.txt\"/></INSTALL>");
  manager.CommonSteps(Child(root, L"INSTALL"), true, L"C:\\P");
  auto& s = manager.Scheduled();
  EXPECT_EQ(Names(s.commonFolders), std::vector<std::wstring>{L"Common\\bin"});
  EXPECT_EQ(Names(s.removeFolders), std::vector<std::wstring>{L"bin"});
  EXPECT_EQ(Names(s.commonFiles), std::vector<std::wstring>{L"c.dll"});
  EXPECT_EQ(Names(s.removeFiles), std::vector<std::wstring>{L"a.txt"});
  EXPECT_TRUE(s.installFolders.empty());
  EXPECT_TRUE(Logged("INFO : CommonStepScheduleFolder: Folder = Common\\bin common"));
  EXPECT_TRUE(Logged("INFO : CommonStepScheduleFolder: Folder = bin remove"));
  EXPECT_TRUE(Logged("INFO : CommonStepFile: File = a.txt remove"));
}

TEST_F(CommonStepsDispatch, ANodeWithoutANameIsSkippedWithAnErrorLine) {
  auto root = Script(
      L"<MACROS><MACRO Name=\"Nothing\" Value=\"\"/></MACROS><INSTALL><DIRECTORY Name=\"\"/>"
      L"<DIRECTORY/><FILE Name=\"  \"/><DIRECTORY Name=\"\\\"/><DIRECTORY "
      L"Name=\"keep\"/></INSTALL>");
  manager.LoadMacros(root);
  manager.CommonSteps(Child(root, L"INSTALL"), true, L"C:\\P");
  auto& s = manager.Scheduled();
  EXPECT_EQ(Names(s.removeFolders), std::vector<std::wstring>{L"keep"});
  EXPECT_TRUE(s.removeFiles.empty());
  EXPECT_TRUE(Logged("ERROR : CommonStepScheduleFolder: a DIRECTORY without a Name"));
  EXPECT_TRUE(Logged("ERROR : CommonStepFile: a FILE without a Name"));
}

struct FilterCase {
  const wchar_t* ignoreFor;
  int action;
  int kind;
  bool ignored;
};

// Readable case names in the test list.
void PrintTo(const FilterCase& c, std::ostream* os) {
  *os << "IgnoreFor=" << platform::ToUtf8(c.ignoreFor) << " action=" << c.action
      << " kind=" << c.kind;
}

class CommonStepsFilter : public StepsTest, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(CommonStepsFilter, TagCombinationsDecideWhetherTheNodeRuns) {
  const FilterCase& c = GetParam();
  auto root = Script(std::wstring(L"<INSTALL><DIRECTORY Name=\"d\" IgnoreFor=\"") + c.ignoreFor +
                     L"\"/></INSTALL>");
  manager.SetAction(c.action, c.kind);
  EXPECT_EQ(manager.IsIgnored(Child(Child(root, L"INSTALL"), L"DIRECTORY")), c.ignored);
  manager.CommonSteps(Child(root, L"INSTALL"), false, L"C:\\P");
  EXPECT_EQ(manager.Scheduled().installFolders.empty(), c.ignored);
}

INSTANTIATE_TEST_SUITE_P(IgnoreFor, CommonStepsFilter,
                         ::testing::Values(FilterCase{L"", kRepair, kLocal, false},
                                           FilterCase{L"Repair", kRepair, kServer, true},
                                           FilterCase{L"Repair", kInstall, kLocal, false},
                                           FilterCase{L"Repair", kUpdate, kLocal, false},
                                           FilterCase{L"server", kUninstall, kServer, true},
                                           FilterCase{L"server", kInstall, kLocal, false},
                                           FilterCase{L"Update|Client", kUpdate, kClient, true},
                                           FilterCase{L"Update|Client", kRepair, kClient, false},
                                           FilterCase{L"Update|Client", kUpdate, kLocal, false},
                                           FilterCase{L"AllActions", kUninstall, kLocal, true},
                                           FilterCase{L"AllActions|Local", kRepair, kLocal, true},
                                           FilterCase{L"AllActions|Local", kRepair, kServer, false},
                                           FilterCase{L"UpdateOnly", kUpdate, kLocal, false},
                                           FilterCase{L"Update", kOnlyUpdate, kLocal, false},
                                           FilterCase{L"Uninstall", kRepair, kLocal, false},
                                           FilterCase{L"Uninstall", kUninstall, kLocal, true}));

class CommonStepsAsk : public StepsTest {
 protected:
  std::string Answers() override { return "[message MsgAskGo]\nanswer = No\n"; }
};

TEST_F(CommonStepsAsk, AQuestionIsAskedOnlyWhenTheScriptHasItsText) {
  auto root = Script(
      L"<Localization><EN ID=\"1033\" Title=\"English\" SystemName=\"English\"><MESSAGES>"
      L"<MsgAskGo Caption=\"Go on?\"/></MESSAGES></EN></Localization>"
      L"<INSTALL><Exec AskKey=\"MsgAskGo\"/><Exec AskKey=\"MsgMissing\"/><Exec/></INSTALL>");
  ASSERT_TRUE(GetGuiTools().Languages().Load());
  auto install = Child(root, L"INSTALL");
  CommonTools::SettingsNodeListPtr children;
  ASSERT_TRUE(install->GetChildren(children));
  CommonTools::SettingsNodePtr asked, missing, none;
  children->GetItem(0, asked);
  children->GetItem(1, missing);
  children->GetItem(2, none);
  EXPECT_FALSE(manager.AskUser(asked));
  EXPECT_TRUE(Logged("INFO : Ask = Go on? Press No"));
  EXPECT_TRUE(manager.AskUser(missing)) << "a message the script lacks is not asked";
  EXPECT_TRUE(manager.AskUser(none));
  EXPECT_EQ(ui->UseCount(L"message", L"MsgAskGo"), 1);
}
