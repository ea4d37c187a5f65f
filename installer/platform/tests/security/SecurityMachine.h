// The machine of a security test: the shared machine fixture with a configuration of its own,
// and short-hands for the configurations these tests use.
#pragma once

#include <fstream>
#include <map>
#include <string>

#include "platform/Machine.h"
#include "testing/MachineFixture.h"

namespace tltest {

class SecurityMachine : public ScopedMachine {
 public:
  using ScopedMachine::ScopedMachine;

  // A configuration with extra machine.ini entries ("accounts/local_users" = "Anna").
  static platform::MachineConfig With(
      const std::map<std::string, std::wstring>& raw,
      platform::MachineConfig c = platform::MachineConfig::Defaults()) {
    for (const auto& [k, v] : raw) c.raw[k] = v;
    return c;
  }
  static void WriteHostFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  // The same computer joined to the domain CORP.
  static platform::MachineConfig Domain(
      platform::MachineConfig c = platform::MachineConfig::Defaults()) {
    c.join = platform::JoinStatus::Domain;
    c.domain = L"CORP";
    return c;
  }
};

}  // namespace tltest
