// A run of the install manager on a fresh machine, with its answers from an answer-file text.
#pragma once

#include "app/Tools.h"
#include "gui/ScriptedBackend.h"
#include "manager/InstallManager.h"
#include "package/tests/TestArchive.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace tltest {

// The processing runs record what they were asked to do.
class RecordingManager : public InstallManager::CInstallManager {
 public:
  bool ProcessInstallMain(int type) override {
    calls.push_back(L"main " + std::to_wstring(type));
    return true;
  }
  bool ProcessRepairOrUpdate() override {
    calls.push_back(L"repair");
    return true;
  }
  bool ProcessOnlyUpdate() override {
    calls.push_back(L"onlyupdate");
    return true;
  }
  bool ChangeConfiguration(const std::wstring& path) override {
    calls.push_back(L"change " + path);
    return true;
  }
  std::vector<std::wstring> calls;
};

struct ScriptOptions {
  std::map<std::wstring, std::wstring> root = {{L"Name", L"Tolmera Test"},
                                               {L"PV", L"TT"},
                                               {L"Version", L"5"},
                                               {L"Build", L"100"},
                                               {L"InstallType", L"Install"}};
  std::wstring body;       // more children of the root element
  std::wstring messages;   // more MESSAGES children of the English language
  std::wstring languages;  // more languages after English
  bool localization = true;
  bool images = true;  // an (empty) Images element: without one the graphics fail (result 11)
};

inline std::string MakeScript(const ScriptOptions& o) {
  std::wstring s = L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SCENARIO";
  for (const auto& [k, v] : o.root) s += L" " + k + L"=\"" + v + L"\"";
  s += L">\n";
  if (o.localization) {
    s += L"<Localization><EN ID=\"1033\" Title=\"English\" SystemName=\"English\"><MESSAGES>"
         L"<MsgCaption Caption=\"Tolmera Test Setup\"/>" +
         o.messages +
         L"</MESSAGES><DLG_INSTALL_TYPE Caption=\"Type\"/><DLG_REPAIR Caption=\"Repair\"/></EN>" +
         o.languages + L"</Localization>\n";
  }
  if (o.images) s += L"<Images/>\n";
  s += o.body + L"\n</SCENARIO>\n";
  return platform::ToUtf8(s);
}

class ManagerHarness {
 public:
  explicit ManagerHarness(const std::string& answers = "") {
    InstallManager::GetInstallTools().Reset();
    InstallManager::GetGuiTools().Reset();
    InstallManager::GetInstallTools().Log().SetDebugOutput(
        [this](const std::wstring& s) { debug += s; });
    ui = std::make_shared<InstallGui::ScriptedBackend>(answers, L"answers");
    InstallManager::GetGuiTools().SetUiBackend(ui);
    manager.GetHooks().programPath = L"C:\\Pkg\\Setup.exe";
    platform::CreateDirectoryWithParents(L"C:\\Pkg");
  }
  ~ManagerHarness() {
    InstallManager::GetGuiTools().SetUiBackend(nullptr);
    InstallManager::GetInstallTools().Reset();
  }

  void Package(const std::string& script,
               std::vector<std::pair<std::string, std::string>> more = {}) {
    more.insert(more.begin(), {"InstallScript.cfg", script});
    ASSERT_TRUE(WriteZip(platform::ToHostPath(L"C:\\Pkg\\Setup.data"), more));
  }
  void Record(const std::wstring& projects, const std::wstring& commonPath = L"") {
    std::wstring xml = L"<?xml version=\"1.0\"?>\n<Settings Application=\"Tolmera\" Path=\"" +
                       commonPath + L"\">" + projects + L"</Settings>";
    platform::CreateDirectoryWithParents(L"C:\\ProgramData\\TOLMERA");
    ASSERT_EQ(platform::WriteWholeFile(RecordPath(), platform::ToUtf8(xml)),
              platform::ERROR_SUCCESS);
  }
  static std::wstring Project(int build, const std::wstring& type = L"Local",
                              const std::wstring& more = L"") {
    return L"<Project Version=\"5\" PV=\"TT\" Path=\"C:\\Program Files (x86)\\TOLMERA\\TT\" "
           L"Type=\"" +
           type + L"\" Build=\"" + std::to_wstring(build) + L"\"" + more + L"/>";
  }
  static std::wstring RecordPath() { return L"C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg"; }
  static std::wstring LogPath() { return L"C:\\ProgramData\\TOLMERA\\tlinstall.log"; }

  int Run(const std::wstring& archive = L"", bool admin = false) {
    return manager.Run(archive, admin);
  }

  // The run log's file (where the run put it), or empty when none was written.
  std::string LogText() const {
    std::string bytes;
    std::wstring path = InstallManager::GetInstallTools().Log().GetPath();
    if (!path.empty()) platform::ReadWholeFile(path, bytes);
    return bytes;
  }
  // Whether a log line (file or debugger output) ends with this text.
  bool Logged(const std::string& tail) const {
    std::string all = LogText() + platform::ToUtf8(debug);
    return all.find(tail + "\r\n") != std::string::npos;
  }

  ScopedMachine machine;
  std::wstring debug;
  std::shared_ptr<InstallGui::ScriptedBackend> ui;
  RecordingManager manager;
};

}  // namespace tltest
