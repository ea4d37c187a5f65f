// A manager on a fresh machine with a package open and a script loaded, for running single
// steps without a whole run.
#pragma once

#include "app/Tools.h"
#include "gui/ScriptedBackend.h"
#include "manager/InstallManager.h"
#include "package/tests/TestArchive.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tltest {

// The manager with the run state a step reads made settable.
class StepsManager : public InstallManager::CInstallManager {
 public:
  void UseStorage(std::shared_ptr<DataStorage::IDataStorage> storage) { m_dataStorage = storage; }
  // The user settings kept in the loaded script, as a run has them.
  void UseUserSettings() {
    m_userSettings =
        std::make_shared<InstallManager::CUserSettings>([](CommonTools::SettingsNodePtr& root) {
          return InstallManager::GetInstallTools().GetScriptRoot(root);
        });
  }
  void SetAction(int action, int kind) {
    m_detectedAction = action;
    m_installedKind = kind;
  }
  int Result() const { return m_result; }
  CommonTools::Script::ProductDescription& Product() { return m_product; }
  CommonTools::Script::CommonInfo& Common() { return m_commonInfo; }
  void StartRollBack() { m_guard.SetRollingBack(true); }
};

// A progress display that keeps what it was told.
class RecordingWindow : public InstallGui::CProgressState {
 public:
  void SetItemText(const std::wstring& text) override {
    CProgressState::SetItemText(text);
    items.push_back(text);
  }
  void StepProgress(std::uint64_t delta) override {
    CProgressState::StepProgress(delta);
    stepped += delta;
  }
  std::vector<std::wstring> items;
  std::uint64_t stepped = 0;
};

class StepsTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    InstallManager::GetInstallTools().Reset();
    InstallManager::GetGuiTools().Reset();
    InstallManager::GetInstallTools().Log().SetDebugOutput(
        [this](const std::wstring& s) { debug += s; });
    ui = std::make_shared<InstallGui::ScriptedBackend>(Answers(), L"answers");
    InstallManager::GetGuiTools().SetUiBackend(ui);
    window = std::make_shared<RecordingWindow>();
    InstallManager::GetGuiTools().SetMainWindow(window);
    platform::CreateDirectoryWithParents(L"C:\\Pkg");
  }
  void TearDown() override {
    if (storage) storage->Close();
    InstallManager::GetGuiTools().SetUiBackend(nullptr);
    InstallManager::GetGuiTools().Reset();
    InstallManager::GetInstallTools().Reset();
    MachineTest::TearDown();
  }
  virtual std::string Answers() { return ""; }

  // The package with these entries (name as stored, contents), opened for the manager.
  void Package(const std::vector<std::pair<std::string, std::string>>& entries) {
    ASSERT_TRUE(WriteZip(platform::ToHostPath(L"C:\\Pkg\\Setup.data"), entries));
    storage = std::make_shared<DataStorage::CDataStorage>();
    std::wstring none;
    ASSERT_TRUE(storage->Open(L"C:\\Pkg\\Setup.data", &none));
    storage->SetProgressSink(window.get());  // as a run connects them
    manager.UseStorage(storage);
  }
  // The script's root: `body` inside a SCENARIO element, loaded as the run's script.
  CommonTools::SettingsNodePtr Script(const std::wstring& body) {
    std::wstring xml =
        L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SCENARIO Name=\"T\" PV=\"T\" "
        L"Version=\"1\" Build=\"1\">" +
        body + L"</SCENARIO>\n";
    EXPECT_TRUE(InstallManager::GetInstallTools().Script().LoadFromBytes(platform::ToUtf8(xml)));
    CommonTools::SettingsNodePtr root;
    EXPECT_TRUE(InstallManager::GetInstallTools().GetScriptRoot(root));
    return root;
  }
  CommonTools::SettingsNodePtr Child(const CommonTools::SettingsNodePtr& node,
                                     const std::wstring& name) {
    CommonTools::SettingsNodePtr child;
    EXPECT_TRUE(node && node->GetChild(name, child)) << platform::ToUtf8(name);
    return child;
  }
  bool Logged(const std::string& text) const {
    return platform::ToUtf8(debug).find(text) != std::string::npos;
  }
  static void Write(const std::wstring& path, const std::string& bytes) {
    std::wstring folder = path;
    platform::PathRemoveFileSpecW(folder);
    platform::CreateDirectoryWithParents(folder);
    ASSERT_EQ(platform::WriteWholeFile(path, bytes), platform::ERROR_SUCCESS);
  }
  static bool Exists(const std::wstring& path) { return platform::PathFileExistsW(path); }

  std::wstring debug;
  std::shared_ptr<InstallGui::ScriptedBackend> ui;
  std::shared_ptr<RecordingWindow> window;
  std::shared_ptr<DataStorage::CDataStorage> storage;
  StepsManager manager;
};

}  // namespace tltest
