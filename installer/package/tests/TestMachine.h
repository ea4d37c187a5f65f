// A fresh emulated machine in a temporary folder for one test, removed afterwards.
#pragma once

#include "platform/Environment.h"
#include "platform/Machine.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tltest {

class TempMachine {
 public:
  TempMachine() {
    char pattern[] = "/tmp/tl-spine-XXXXXX";
    char* dir = ::mkdtemp(pattern);
    m_base = dir ? dir : "";
    m_root = m_base + "/machine";
    platform::Machine::SetCurrentForProcess(m_root);
    platform::ResetEnvironment();
  }
  ~TempMachine() {
    platform::Machine::ResetCurrent();
    platform::ResetEnvironment();
    std::error_code ec;
    std::filesystem::remove_all(m_base, ec);
  }
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  // The machine's root and a scratch folder beside it (outside the machine).
  const std::string& Root() const { return m_root; }
  const std::string& Base() const { return m_base; }

 private:
  std::string m_base;
  std::string m_root;
};

}  // namespace tltest
