// A fresh emulated machine of a given configuration in a temporary folder, made current for the
// test (with the security service's hooks in place) and removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/Environment.h"
#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/System.h"

namespace tltest {

class SecurityMachine {
 public:
  explicit SecurityMachine(platform::MachineConfig config = platform::MachineConfig::Defaults()) {
    char pattern[] = "/tmp/tl-security-XXXXXX";
    char* dir = ::mkdtemp(pattern);
    temp_ = dir ? dir : "";
    root_ = temp_ + "/machine";
    platform::InstallSecurityService();
    platform::Machine::Init(root_, config);
    platform::Machine::SetCurrentForProcess(root_);
    platform::ResetEnvironment();
    platform::ClearDebugOutput();
  }
  ~SecurityMachine() {
    platform::Machine::ResetCurrent();
    platform::ResetRegistryCache();
    platform::ResetEnvironment();
    std::error_code ec;
    std::filesystem::remove_all(temp_, ec);
  }
  SecurityMachine(const SecurityMachine&) = delete;
  SecurityMachine& operator=(const SecurityMachine&) = delete;

  const std::string& Root() const { return root_; }
  std::string C(const std::string& rel) const { return root_ + "/drive_c/" + rel; }

  // A configuration with extra machine.ini entries ("accounts/local_users" = "Anna").
  static platform::MachineConfig With(
      std::map<std::string, std::wstring> raw,
      platform::MachineConfig c = platform::MachineConfig::Defaults()) {
    for (auto& [k, v] : raw) c.raw[k] = v;
    return c;
  }
  static platform::MachineConfig Domain(
      platform::MachineConfig c = platform::MachineConfig::Defaults()) {
    c.join = platform::JoinStatus::Domain;
    c.domain = L"CORP";
    return c;
  }

 private:
  std::string temp_;
  std::string root_;
};

}  // namespace tltest
