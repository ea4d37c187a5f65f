#include "testing/MachineFixture.h"

#include "package/LogSink.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/System.h"

#include <fstream>

namespace tltest {

namespace {
void ResetMachineLayerState() {
  platform::Machine::ResetCurrent();
  platform::ResetRegistryCache();
  platform::ResetEnvironment();
  platform::ResetCurrentDirectories();
  platform::ClearDebugOutput();
  platform::SetDelayedMoveHandler(nullptr);
}
}  // namespace

void ResetProcessState() {
  ResetMachineLayerState();
  CommonTools::SetLogSink(nullptr);
  CommonTools::SetCurrentFileSink(nullptr);
  CommonTools::SetResultRaiser(nullptr);
}

ScopedMachine::ScopedMachine(const platform::MachineConfig& config)
    : m_folder("tl-machine-"), m_root(m_folder / "machine") {
  // The package's sinks are left as they are: a test may catch the log before it makes the
  // machine. They are reset when the machine goes.
  ResetMachineLayerState();
  if (m_folder.Path().empty()) throw platform::MachineError("no temporary folder for the machine");
  platform::Machine::Init(m_root, config);
  // Selecting the machine also connects its services (the restart service's delayed moves).
  platform::Machine::SetCurrentForProcess(m_root);
  platform::SetCurrentDirectoryW(L"C:\\");
}

ScopedMachine::~ScopedMachine() { ResetProcessState(); }

void MachineTest::SetUp() {
  machine_ = std::make_unique<ScopedMachine>(Config());
  temp_ = machine_->Base();
  root_ = machine_->Root();
  ASSERT_FALSE(temp_.empty());
  ASSERT_EQ(platform::SetCurrentDirectoryW(L"C:\\"), platform::ERROR_SUCCESS);
}

void MachineTest::TearDown() { machine_.reset(); }

void MachineTest::WriteHost(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

}  // namespace tltest
