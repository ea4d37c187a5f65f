// The steps run through a step context of their own, without the install manager: the
// dispatcher's table hands each child (or its container) to the right step kind, the filter reads
// the context's action and kind, and the registry step writes, checks and removes through it.
#include "steps/CommonSteps.h"
#include "steps/RegistryStep.h"
#include "steps/StepContext.h"
#include "steps/tests/StepsFixture.h"

#include "platform/Registry.h"

namespace {

using CommonTools::SettingsNodePtr;

// A context that knows nothing but what a test gives it.
class TestContext : public InstallSteps::StepContext {
 public:
  std::wstring ReadAttribute(const SettingsNodePtr& node, std::wstring_view name,
                             const std::wstring& def, bool isPath) override {
    std::wstring value = CommonTools::GetText(node, name, def);
    ExpandMacros(value);
    if (isPath)
      for (auto& c : value)
        if (c == L'/') c = L'\\';
    return value;
  }
  void ExpandMacros(std::wstring& s) override { CommonTools::ReplaceAll(s, L"%BASE%", base); }
  int DetectedAction() const override { return action; }
  int InstalledKind() const override { return kind; }
  const CommonTools::Script::ProductDescription& ProductData() const override { return product; }
  const CommonTools::Script::CommonInfo& CommonData() const override { return common; }
  DataStorage::IDataStorage* Storage() const override { return nullptr; }
  InstallManager::CUserSettings* Settings() const override { return nullptr; }
  const CommonTools::CLibraries& Components() const override { return libraries; }
  std::wstring WindowsFolder() const override { return L""; }
  std::wstring ProgramPath() const override { return L""; }
  InstallGui::IProgressDisplay& Progress() override { return progress; }
  std::wstring RecordPath() override { return L""; }
  bool RecordedFolder(std::wstring&) override { return false; }
  void RecordProduct(int, const std::wstring&) override {}
  void ForgetProduct() override {}
  bool SaveRecord(const std::wstring&) override { return false; }
  InstallSteps::StepGuard& Guard() override { return guard; }
  bool GuardFor(const std::wstring& basePath, const wchar_t* who) override {
    return guard.BeginRun(basePath, who);
  }
  InstallSteps::ScheduledEntries& Scheduled() override { return scheduled; }
  InstallGui::PageButton ShowPage(const std::wstring&) override {
    return InstallGui::PageButton::Cancel;
  }
  bool ProcessAdditional(const SettingsNodePtr&, const std::wstring&, bool) override {
    return false;
  }
  int RunResult() const override { return result; }
  void SetResult(int r) override { result = r; }

  int action = InstallManager::kInstall;
  int kind = InstallManager::kLocal;
  int result = 0;
  std::wstring base = L"C:\\Program Files\\T";
  CommonTools::Script::ProductDescription product;
  CommonTools::Script::CommonInfo common;
  CommonTools::CLibraries libraries;
  InstallGui::CProgressState progress;
  InstallSteps::StepGuard guard;
  InstallSteps::ScheduledEntries scheduled;
};

std::vector<std::wstring> Names(const InstallSteps::SetupList& list) {
  std::vector<std::wstring> names;
  for (const auto& e : list) names.push_back(e.name);
  return names;
}

class StepContextTest : public tltest::StepsTest {};

TEST_F(StepContextTest, TheDispatcherSchedulesFoldersAndFilesIntoTheContextsLists) {
  SettingsNodePtr root = Script(
      L"<INSTALL>"
      L"<DIRECTORY Name=\"bin\"/>"
      L"<directory Name=\"shared/data\" Type=\"Common\"/>"
      L"<FILE Name=\"%BASE%-readme.txt\"/>"
      L"<FILE Name=\"repair.txt\" IgnoreFor=\"Repair\"/>"
      L"<UNKNOWN Name=\"x\"/>"
      L"</INSTALL>");
  TestContext context;
  context.base = L"doc";
  InstallSteps::DispatchSteps(context, Child(root, L"INSTALL"), false, L"C:\\Program Files\\T");
  using V = std::vector<std::wstring>;
  EXPECT_EQ(Names(context.scheduled.installFolders), V{L"bin"});
  EXPECT_EQ(Names(context.scheduled.commonFolders), V{L"shared\\data"});
  EXPECT_EQ(Names(context.scheduled.installFiles), (V{L"doc-readme.txt", L"repair.txt"}));
  EXPECT_TRUE(context.scheduled.removeFolders.empty());
  EXPECT_TRUE(Logged("CommonSteps: node = UNKNOWN"));

  // A removal in a repair: the filter reads the context's action, the common folder stays common.
  TestContext repair;
  repair.action = InstallManager::kRepair;
  repair.base = L"doc";
  InstallSteps::DispatchSteps(repair, Child(root, L"INSTALL"), true, L"C:\\Program Files\\T");
  EXPECT_EQ(Names(repair.scheduled.removeFolders), V{L"bin"});
  EXPECT_EQ(Names(repair.scheduled.commonFolders), V{L"shared\\data"});
  EXPECT_EQ(Names(repair.scheduled.removeFiles), V{L"doc-readme.txt"});
  // A name that the context's macro makes a full path is refused, never scheduled.
  TestContext outside;
  InstallSteps::DispatchSteps(outside, Child(root, L"INSTALL"), false, L"C:\\Program Files\\T");
  EXPECT_EQ(Names(outside.scheduled.installFiles), V{L"repair.txt"});
  EXPECT_TRUE(repair.scheduled.installFolders.empty());
}

TEST_F(StepContextTest, TheRegistryStepGetsTheContainerAndWritesChecksAndRemovesThroughTheContext) {
  SettingsNodePtr root = Script(
      L"<INSTALL>"
      L"<REGISTRY><HKLM KeyName=\"SOFTWARE\\TolmeraTest\\Ctx\" ValueName=\"Path\" "
      L"TextValue=\"%BASE%\"/></REGISTRY>"
      L"</INSTALL>");
  const SettingsNodePtr install = Child(root, L"INSTALL");
  TestContext context;
  context.base = L"C:\\T";
  InstallSteps::RegistryStep registry(context);
  EXPECT_FALSE(registry.Check(install));
  // Through the dispatcher: the REGISTRY child's container is what the step reads.
  InstallSteps::DispatchSteps(context, install, false, L"C:\\T");
  platform::RegKey key;
  ASSERT_EQ(key.Open(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\TolmeraTest\\Ctx"),
            platform::ERROR_SUCCESS);
  std::wstring value;
  EXPECT_EQ(key.QueryString(L"Path", value), platform::ERROR_SUCCESS);
  EXPECT_EQ(value, L"C:\\T");
  key.Close();
  EXPECT_TRUE(registry.Check(install));
  // The guard of the context made the key known as this run's: its removal takes it.
  EXPECT_TRUE(
      context.guard.KeyMadeByProduct(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\TolmeraTest\\Ctx"));
  registry.Apply(install, true, L"C:\\T");
  EXPECT_FALSE(registry.Check(install));
}

}  // namespace
