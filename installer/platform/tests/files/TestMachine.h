// A fresh emulated machine in a temporary folder for each test, made current for the process.
#pragma once

#include "platform/Environment.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace tltest {

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = platform::hostio::MakeTempDir("tl-platform-files-");
    ASSERT_FALSE(temp_.empty());
    root_ = temp_ + "/machine";
    platform::Machine::SetCurrentForProcess(root_);
    platform::ResetEnvironment();
    platform::ResetCurrentDirectories();
    ASSERT_EQ(platform::SetCurrentDirectoryW(L"C:\\"), platform::ERROR_SUCCESS);
  }
  void TearDown() override {
    platform::Machine::ResetCurrent();
    platform::ResetEnvironment();
    platform::ResetCurrentDirectories();
    platform::hostio::RemoveTree(temp_);
  }
  // Host path of a file of drive C:.
  std::string C(const std::string& rel) const { return root_ + "/drive_c/" + rel; }
  static void WriteHost(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }
  std::string temp_;
  std::string root_;
};

}  // namespace tltest
