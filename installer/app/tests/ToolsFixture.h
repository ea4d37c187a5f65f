// The process-wide tools over a script given as text, with its languages loaded and the run
// log's debugger output caught, for the tests of the message catalogue and the tools.
#pragma once

#include "app/Tools.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <string>

namespace apptest {

class ToolsFixture : public ::testing::Test {
 protected:
  void Load(const std::string& script) {
    InstallManager::GetInstallTools().Reset();
    InstallManager::GetGuiTools().Reset();
    InstallManager::GetInstallTools().Log().SetDebugOutput(
        [this](const std::wstring& s) { out += s; });
    ASSERT_TRUE(InstallManager::GetInstallTools().Script().LoadFromBytes(script));
    ASSERT_TRUE(InstallManager::GetGuiTools().Languages().Load());
  }
  void TearDown() override {
    InstallManager::GetGuiTools().SetUiBackend(nullptr);
    InstallManager::GetInstallTools().Reset();
    InstallManager::GetGuiTools().Reset();
  }
  // How often the text occurs in the debugger output.
  int Count(const std::wstring& text) const {
    int n = 0;
    for (size_t p = out.find(text); p != std::wstring::npos; p = out.find(text, p + 1)) ++n;
    return n;
  }
  tltest::ScopedMachine machine;
  std::wstring out;
};

}  // namespace apptest
