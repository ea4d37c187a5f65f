// A fresh emulated machine for one test, made the process's current machine, with every piece
// of process state of the machine layer and the package reset before and after: the current
// machine, the environment block, the current folders, the registry cache, the debugger output,
// the delayed-move handler and the package's log, current-file and result sinks. So no test
// sees what another left behind, whatever order they run in.
//
// `ScopedMachine` is the object form (for tests without a fixture and for helpers that hold a
// machine); `MachineTest` is the GoogleTest fixture over it, with a virtual `Config()` for tests
// that need another machine.ini.
#pragma once

#include "platform/Machine.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace tltest {

// Resets the process state named above (no machine is current afterwards).
void ResetProcessState();

class ScopedMachine {
 public:
  explicit ScopedMachine(
      const platform::MachineConfig& config = platform::MachineConfig::Defaults());
  ~ScopedMachine();
  ScopedMachine(const ScopedMachine&) = delete;
  ScopedMachine& operator=(const ScopedMachine&) = delete;

  // The machine's root and the scratch folder that holds it (outside the machine).
  const std::string& Root() const { return m_root; }
  const std::string& Base() const { return m_folder.Path(); }
  // Host path of a file of drive C:.
  std::string C(const std::string& relative) const { return m_root + "/drive_c/" + relative; }

 private:
  TempFolder m_folder;
  std::string m_root;
};

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Override to describe another machine.
  virtual platform::MachineConfig Config() { return platform::MachineConfig::Defaults(); }

  // Host path of a file of drive C:.
  std::string C(const std::string& rel) const { return root_ + "/drive_c/" + rel; }
  // The stored HKEY_LOCAL_MACHINE hive.
  std::string HivePath() const { return root_ + "/registry/HKLM.reg"; }
  static void WriteHost(const std::string& path, const std::string& text);

  std::string temp_;  // the scratch folder (outside the machine)
  std::string root_;  // the machine's root, inside temp_

 private:
  std::unique_ptr<ScopedMachine> machine_;
};

}  // namespace tltest
