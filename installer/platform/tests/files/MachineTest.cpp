#include "platform/Machine.h"

#include "testing/MachineFixture.h"
#include "platform/Environment.h"
#include "platform/HostIo.h"
#include "platform/Paths.h"
#include <fstream>
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

std::string ReplaceLine(std::string text, const std::string& from, const std::string& to) {
  std::size_t p = text.find(from);
  EXPECT_NE(p, std::string::npos) << from;
  if (p != std::string::npos) text.replace(p, from.size(), to);
  return text;
}

class MachineRoot : public tltest::MachineTest {};

TEST_F(MachineRoot, FreshMachineHasDefaultsAndSkeleton) {
  const MachineConfig& c = Machine::Current().Config();
  EXPECT_EQ(c.os.major, 10u);
  EXPECT_TRUE(c.os.is64Bit);
  EXPECT_TRUE(c.process32Bit);
  EXPECT_TRUE(c.IsWow64());
  EXPECT_EQ(c.ansiCodePage, 1252u);
  EXPECT_TRUE(c.elevated);
  ASSERT_NE(c.Drive(L'c'), nullptr);
  EXPECT_TRUE(c.Drive(L'C')->PersistentAcls());
  EXPECT_EQ(c.Drive(L'C')->fileSystem, L"NTFS");
  ASSERT_NE(c.Drive(L'Z'), nullptr);
  EXPECT_TRUE(c.Drive(L'Z')->readOnly);
  EXPECT_EQ(c.Drive(L'Z')->hostPath, "/");
  for (const char* dir :
       {"Windows/System32", "Windows/SysWOW64", "Program Files", "Program Files (x86)",
        "ProgramData", "Users/Public", "Users/User/AppData/Local/Temp"})
    EXPECT_TRUE(hostio::IsDirectory(C(dir))) << dir;
  EXPECT_EQ(Machine::Current().DriveHostPath(L'C'), root_ + "/drive_c");
}

TEST_F(MachineRoot, IniRoundTripKeepsEverything) {
  MachineConfig c = MachineConfig::Defaults();
  c.computerName = L"WS-07";
  c.userName = L"J\u00FCrgen";
  c.join = JoinStatus::Domain;
  c.domain = L"CORP";
  c.os.major = 6;
  c.os.minor = 1;
  c.os.build = 7601;
  c.os.servicePack = L"Service Pack 1";
  c.process32Bit = false;
  c.systemLcid = 0x0407;
  c.ansiCodePage = 1250;
  c.timeZone.biasMinutes = 300;
  c.timeZone.dstRule = L"us";
  c.drives[0].freeBytes = 123456789;
  c.drives[0].totalBytes = 987654321;
  c.memberships = {L"Users", L"Power Users"};
  c.elevated = false;
  c.integrity = L"medium";
  c.uacEnabled = false;
  c.network = {NetworkComputer{L"SRV1", L"CORP", true, std::string("/srv/m1")}};
  c.raw["security/machine_sid"] = L"S-1-5-21-1-2-3";
  MachineConfig back = MachineConfig::Parse(c.ToIni());
  EXPECT_EQ(back.computerName, L"WS-07");
  EXPECT_EQ(back.userName, L"J\u00FCrgen");
  EXPECT_EQ(back.join, JoinStatus::Domain);
  EXPECT_EQ(back.domain, L"CORP");
  EXPECT_EQ(back.os.build, 7601u);
  EXPECT_EQ(back.os.servicePack, L"Service Pack 1");
  EXPECT_FALSE(back.process32Bit);
  EXPECT_EQ(back.systemLcid, 0x0407);
  EXPECT_EQ(back.ansiCodePage, 1250u);
  EXPECT_EQ(back.timeZone.biasMinutes, 300);
  EXPECT_EQ(back.timeZone.dstRule, L"us");
  ASSERT_NE(back.Drive(L'C'), nullptr);
  EXPECT_EQ(back.Drive(L'C')->freeBytes, std::optional<std::uint64_t>(123456789));
  EXPECT_EQ(back.Drive(L'C')->flags, c.drives[0].flags);
  EXPECT_EQ(back.Drive(L'Z')->readOnly, true);
  EXPECT_EQ(back.memberships, c.memberships);
  EXPECT_FALSE(back.elevated);
  EXPECT_EQ(back.integrity, L"medium");
  EXPECT_FALSE(back.uacEnabled);
  ASSERT_EQ(back.network.size(), 1u);
  EXPECT_EQ(back.network[0].name, L"SRV1");
  EXPECT_EQ(back.network[0].machineRoot, std::optional<std::string>("/srv/m1"));
  EXPECT_EQ(back.raw["security/machine_sid"], L"S-1-5-21-1-2-3");
}

TEST_F(MachineRoot, MalformedIniNamesTheLineAndIsNeverOverwritten) {
  const std::string good = MachineConfig::Defaults().ToIni();
  struct Case {
    std::string text;
    std::string expect;
  };
  const Case cases[] = {
      {ReplaceLine(good, "bitness = 32", "bitness = 48"), "bitness must be 32 or 64"},
      {ReplaceLine(good, "ansi_code_page = 1252", "ansi_code_page = 9999"), "code page 9999"},
      {ReplaceLine(good, "\ntype = fixed", "\ntype = flopy"), "unknown drive type"},
      {ReplaceLine(good, "[screen]", "[screen"), "must end with"},
      {ReplaceLine(good, "server = no", "server = maybe"), "is not yes or no"},
      {ReplaceLine(good, "width = 1920", "width 1920"), "expected key = value"},
      {"computer = X\n" + good, "before any [section]"},
      {good + "\n[drive C]\n", "described twice"},
      {good + "\n[later]\nname = caf\xE9\n", "not valid UTF-8"},
      {good + "\n[later]\nname = a" + std::string(1, '\0') + "b\n", "zero byte"},
      {ReplaceLine(good, "computer = TOLMERA-PC", "computer = A-NAME-LONGER-THAN-15"),
       "1 to 15 characters"},
      {ReplaceLine(good, "width = 1920", "width = 99999999999999999999999"), "too large"},
  };
  for (const Case& c : cases) {
    try {
      MachineConfig::Parse(c.text, "machine.ini");
      ADD_FAILURE() << "accepted: " << c.expect;
    } catch (const MachineError& e) {
      std::string what = e.what();
      EXPECT_NE(what.find("machine.ini, line "), std::string::npos) << what;
      EXPECT_NE(what.find(c.expect), std::string::npos) << what;
    }
  }
  // The line number is the right one.
  std::string bad = "; comment\n\n[machine]\nserver = sometimes\n";
  try {
    MachineConfig::Parse(bad, "m.ini");
    FAIL();
  } catch (const MachineError& e) {
    EXPECT_NE(std::string(e.what()).find("m.ini, line 4:"), std::string::npos) << e.what();
  }
  // Opening a machine with a broken machine.ini fails and leaves the file alone.
  const std::string ini = root_ + "/machine.ini";
  const std::string broken = ReplaceLine(good, "bitness = 32", "bitness = x");
  WriteHost(ini, broken);
  EXPECT_THROW(Machine::Open(root_, true), MachineError);
  std::string after;
  ASSERT_TRUE(hostio::ReadFile(ini, after));
  EXPECT_EQ(after, broken);
  EXPECT_THROW(Machine::Init(root_), MachineError);
  ASSERT_TRUE(hostio::ReadFile(ini, after));
  EXPECT_EQ(after, broken);
}

TEST_F(MachineRoot, WholeFileRules) {
  const std::string good = MachineConfig::Defaults().ToIni();
  std::string noC = good;
  std::size_t s = noC.find("[drive C]");
  std::size_t e = noC.find("[drive Z]");
  noC.erase(s, e - s);
  EXPECT_THROW(MachineConfig::Parse(noC), MachineError);
  std::string x86 = ReplaceLine(ReplaceLine(good, "architecture = x64", "architecture = x86"),
                                "bitness = 32", "bitness = 64");
  EXPECT_THROW(MachineConfig::Parse(x86), MachineError);
  // Unknown sections of later services are kept, not refused.
  MachineConfig c = MachineConfig::Parse(good + "\n[shares]\nlimit = 5\n");
  EXPECT_EQ(c.raw["shares/limit"], L"5");
}

TEST_F(MachineRoot, AMachineIniThatIsNoFileOrTooLargeIsRefusedInOneLine) {
  // A pipe, a device, a folder or megabytes of text in machine.ini's place: refused at once
  // (never waited on, never read whole), the reason in the error.
  const std::string ini = root_ + "/machine.ini";
  const std::string good = MachineConfig::Defaults().ToIni();
  struct Case {
    std::function<void()> plant;
    std::string expect;
  };
  const std::vector<Case> cases = {
      {[&] { ASSERT_EQ(mkfifo(ini.c_str(), 0644), 0); }, "it is not a regular file"},
      {[&] { ASSERT_EQ(symlink("/dev/zero", ini.c_str()), 0); }, "it is not a regular file"},
      {[&] { ASSERT_TRUE(hostio::MakeDirs(ini)); }, "it is a folder, not a file"},
      {[&] { WriteHost(ini, good + "\n;" + std::string(2u << 20, 'x') + "\n"); },
       "it is larger than 1048576 bytes"},
  };
  for (const Case& c : cases) {
    hostio::RemoveTree(ini);
    c.plant();
    try {
      Machine::Open(root_, true);
      ADD_FAILURE() << "opened with " << c.expect;
    } catch (const MachineError& e) {
      EXPECT_EQ(std::string(e.what()), ini + ": cannot be read: " + c.expect);
    }
  }
  // The shared reader itself: a file up to its bound is read, one byte more is not.
  hostio::RemoveTree(ini);
  WriteHost(ini, std::string(100, 'a'));
  std::string text, why;
  EXPECT_EQ(hostio::ReadRegularFile(ini, text, 100, &why), ERROR_SUCCESS);
  EXPECT_EQ(text, std::string(100, 'a'));
  text = "kept";
  EXPECT_EQ(hostio::ReadRegularFile(ini, text, 99, &why), ERROR_FILE_TOO_LARGE);
  EXPECT_EQ(why, "it is larger than 99 bytes");
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(hostio::ReadRegularFile(ini + ".missing", text, 99, &why), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(why, "No such file or directory");
}

TEST_F(MachineRoot, NeverSpreadsOverAForeignFolder) {
  const std::string foreign = temp_ + "/home-like";
  ASSERT_TRUE(hostio::MakeDirs(foreign));
  WriteHost(foreign + "/notes.txt", "mine");
  EXPECT_THROW(Machine::Open(foreign, true), MachineError);
  EXPECT_FALSE(hostio::Exists(foreign + "/machine.ini"));
  EXPECT_FALSE(hostio::Exists(foreign + "/drive_c"));
  EXPECT_THROW(Machine::Open(temp_ + "/missing", false), MachineError);
}

TEST_F(MachineRoot, CurrentFollowsTolmeraMachine) {
  const std::string other = temp_ + "/from-env";
  Machine::ResetCurrent();
  setenv("TOLMERA_MACHINE", other.c_str(), 1);
  EXPECT_EQ(Machine::SelectedRootPath(), other);
  EXPECT_EQ(Machine::Current().Root(), other);
  EXPECT_TRUE(hostio::Exists(other + "/machine.ini"));
  unsetenv("TOLMERA_MACHINE");
  Machine::ResetCurrent();
  Machine::SetCurrentForProcess(root_);
}

TEST_F(MachineRoot, InitHooksRunForFreshMachines) {
  int calls = 0;
  std::string seen;
  Machine::AddInitHook("test-hook", [&](Machine& m) {
    ++calls;
    seen = m.Root();
  });
  const std::string fresh = temp_ + "/fresh";
  auto m = Machine::Init(fresh);
  Machine::AddInitHook("test-hook", [](Machine&) {});
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen, fresh);
  // Opening an existing machine does not run them again.
  auto again = Machine::Open(fresh, true);
  EXPECT_EQ(calls, 1);
}

TEST_F(MachineRoot, HooksMayUseTheLayerWhileCurrentCreatesTheMachine) {
  const std::string fresh = temp_ + "/hooked";
  bool sawWindows = false;
  Machine::AddInitHook("test-hook",
                       [&](Machine&) { sawWindows = PathFileExistsW(L"C:\\Windows\\Temp"); });
  Machine::ResetCurrent();
  setenv("TOLMERA_MACHINE", fresh.c_str(), 1);
  EXPECT_EQ(Machine::Current().Root(), fresh);  // would dead-lock if Current() held its lock
  unsetenv("TOLMERA_MACHINE");
  Machine::AddInitHook("test-hook", [](Machine&) {});
  EXPECT_TRUE(sawWindows);
  Machine::SetCurrentForProcess(root_);
}

TEST_F(MachineRoot, XpLayoutForOldWindows) {
  MachineConfig c = MachineConfig::Defaults();
  c.os.major = 5;
  c.os.minor = 1;
  c.os.build = 2600;
  c.os.is64Bit = false;
  const std::string xp = temp_ + "/xp";
  Machine::Init(xp, c);
  EXPECT_TRUE(hostio::IsDirectory(xp + "/drive_c/Documents and Settings/User/Local Settings/Temp"));
  EXPECT_FALSE(hostio::IsDirectory(xp + "/drive_c/Program Files (x86)"));
}

}  // namespace
