// A fresh emulated machine in a temporary folder, made current for the test and removed after.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/Text.h"

namespace tltest {

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tl-registry-XXXXXX";
    char* dir = ::mkdtemp(pattern);
    ASSERT_NE(dir, nullptr);
    temp_ = dir;
    root_ = temp_ + "/machine";
    platform::Machine::Init(root_, Config());
    platform::Machine::SetCurrentForProcess(root_);
  }
  void TearDown() override {
    platform::Machine::ResetCurrent();
    platform::ResetRegistryCache();
    std::error_code ec;
    std::filesystem::remove_all(temp_, ec);
  }
  // Override to describe another machine.
  virtual platform::MachineConfig Config() { return platform::MachineConfig::Defaults(); }

  std::string HivePath() const { return root_ + "/registry/HKLM.reg"; }

  std::string temp_;
  std::string root_;
};

}  // namespace tltest
