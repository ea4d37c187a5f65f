// Started programs: the Windows splitting of a command line, the search for the program, and the
// start of a host executable stored in the machine with the machine handed down.
#include "platform/Processes.h"

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

using namespace platform;

namespace {

struct SplitCase {
  const wchar_t* line;
  std::vector<std::wstring> args;
};

class Processes : public tltest::MachineTest {
 protected:
  void Script(const std::wstring& path, const std::string& body) {
    std::wstring folder = path.substr(0, path.rfind(L'\\'));
    CreateDirectoryWithParents(folder);
    ASSERT_EQ(WriteWholeFile(path, "#!/bin/sh\n" + body), ERROR_SUCCESS);
  }
  std::string HostFile(const std::string& name) const { return temp_ + "/" + name; }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

}  // namespace

TEST(CommandLineToArgv, SplitsAsTheWindowsRunTimeDoes) {
  const SplitCase cases[] = {
      {L"", {}},
      {L"prog", {L"prog"}},
      {L"\"C:\\My Windows\\Installer\\tluninstall.exe\" /XC:\\My Windows\\Installer\\Setup.data",
       {L"C:\\My Windows\\Installer\\tluninstall.exe", L"/XC:\\My",
        L"Windows\\Installer\\Setup.data"}},
      {L"C:\\Windows\\Installer\\tluninstall.exe /X C:\\Windows\\Installer\\SetupTDESIGN.data",
       {L"C:\\Windows\\Installer\\tluninstall.exe", L"/X",
        L"C:\\Windows\\Installer\\SetupTDESIGN.data"}},
      {L"p \"a b c\" d e", {L"p", L"a b c", L"d", L"e"}},
      {L"p \"ab\\\"c\" \"\\\\\" d", {L"p", L"ab\"c", L"\\", L"d"}},
      {L"p a\\\\\\b d\"e f\"g h", {L"p", L"a\\\\\\b", L"de fg", L"h"}},
      {L"p a\\\\\\\"b c d", {L"p", L"a\\\"b", L"c", L"d"}},
      {L"p a\\\\\\\\\"b c\" d e", {L"p", L"a\\\\b c", L"d", L"e"}},
      {L"p \"a\"\"b\"", {L"p", L"a\"b"}},
      {L"C:\\dir\\pro\"g a", {L"C:\\dir\\pro\"g", L"a"}},  // the program name has no escapes
      {L"p   \t  x  ", {L"p", L"x"}},
      {L"p \"\"", {L"p", L""}},
  };
  for (const auto& c : cases) EXPECT_EQ(CommandLineToArgvW(c.line), c.args) << ToUtf8(c.line);
}

TEST_F(Processes, AProgramInTheMachineRunsWithItsArgumentsAndTheMachine) {
  const std::string out = HostFile("args.txt");
  Script(L"C:\\Program Files\\Acme\\tool.exe", "printf '%s|' \"$@\" > '" + out +
                                                   "'\n[ \"$TOLMERA_MACHINE\" = '" + root_ +
                                                   "' ] || exit 9\nexit 7\n");
  DWORD code = 0;
  ASSERT_EQ(RunProcess(L"\"C:\\Program Files\\Acme\\tool.exe\" /X \"a b\" c\\\\\"d\"", code),
            ERROR_SUCCESS);
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(Read(out), "/X|a b|c\\d|");
}

TEST_F(Processes, TheProgramIsFoundAsCreateProcessFindsIt) {
  Script(L"C:\\Windows\\System32\\probe.exe", "exit 3\n");
  DWORD code = 0;
  ASSERT_EQ(RunProcess(L"probe", code), ERROR_SUCCESS);  // the system folder, ".exe" added
  EXPECT_EQ(code, 3u);
  std::wstring path;
  ASSERT_EQ(FindProgram(L"probe.exe", path), ERROR_SUCCESS);
  EXPECT_TRUE(EqualsNoCase(path, L"C:\\Windows\\System32\\probe.exe")) << ToUtf8(path);
  EXPECT_EQ(FindProgram(L"missing", path), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RunProcess(L"C:\\nowhere\\x.exe", code), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RunProcess(L"", code), ERROR_FILE_NOT_FOUND);
}

TEST_F(Processes, OnlyHostExecutablesAreStarted) {
  ASSERT_EQ(WriteWholeFile(L"C:\\Users\\Public\\notes.exe", "just text, no program"),
            ERROR_SUCCESS);
  DWORD code = 0;
  EXPECT_EQ(RunProcess(L"C:\\Users\\Public\\notes.exe", code), ERROR_BAD_EXE_FORMAT);
  CreateDirectoryWithParents(L"C:\\Users\\Public\\folder.exe");
  EXPECT_NE(RunProcess(L"C:\\Users\\Public\\folder.exe", code), ERROR_SUCCESS);
}

TEST_F(Processes, AStartedProgramIsWaitedForInSlicesAndGivesItsExitCode) {
  const std::string gate = HostFile("gate");
  // The program runs until the test lets it end.
  Script(L"C:\\Tools\\slow.exe", "while [ ! -e '" + gate + "' ]; do sleep 0.02; done\nexit 4\n");
  ProcessHandle process;
  ASSERT_EQ(CreateProcessW(L"C:\\Tools\\slow.exe", L"", StartupInfo{}, process), ERROR_SUCCESS);
  EXPECT_GT(GetProcessId(process), 0);
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(process, 50), WAIT_TIMEOUT);
  ASSERT_TRUE(GetExitCodeProcess(process, code));
  EXPECT_EQ(code, STILL_ACTIVE);
  std::ofstream(gate).put('x');
  DWORD waited = WAIT_TIMEOUT;
  for (int slice = 0; slice < 200 && waited == WAIT_TIMEOUT; ++slice)
    waited = WaitForSingleObject(process, 100);
  EXPECT_EQ(waited, WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeProcess(process, code));
  EXPECT_EQ(code, 4u);
  CloseHandle(process);
  EXPECT_FALSE(process);
  EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_FAILED);
  EXPECT_FALSE(GetExitCodeProcess(process, code));
}

TEST_F(Processes, TheProgramRunsInItsWindowsCurrentFolder) {
  const std::string out = HostFile("where.txt");
  CreateDirectoryWithParents(L"C:\\Work\\Here");
  CreateDirectoryWithParents(L"C:\\Work\\There");
  ASSERT_EQ(WriteWholeFile(L"C:\\Work\\Here\\local.exe",
                           "#!/bin/sh\necho \"$TOLMERA_CURRENT_DIRECTORY\" > '" + out +
                               "'\ncat marker.txt >> '" + out + "'\n"),
            ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Work\\There\\marker.txt", "there"), ERROR_SUCCESS);
  ASSERT_EQ(SetCurrentDirectoryW(L"C:\\Work\\Here"), ERROR_SUCCESS);
  ProcessHandle process;
  // The bare name is found in the caller's current folder; the program runs in the one given.
  ASSERT_EQ(CreateProcessW(L"local.exe", L"C:\\Work\\There", StartupInfo{}, process),
            ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(process, INFINITE), WAIT_OBJECT_0);
  CloseHandle(process);
  EXPECT_EQ(Read(out), "C:\\Work\\There\nthere");
  EXPECT_EQ(CreateProcessW(L"local.exe", L"C:\\Work\\There\\marker.txt", StartupInfo{}, process),
            ERROR_DIRECTORY);
  EXPECT_EQ(CreateProcessW(L"local.exe", L"C:\\Work\\Nowhere", StartupInfo{}, process),
            ERROR_DIRECTORY);
  EXPECT_FALSE(process);
  ASSERT_EQ(SetCurrentDirectoryW(L"C:\\"), ERROR_SUCCESS);
}

TEST(ProcessStart, TellsARunningProcessFromOneThatEndedOrCameLater) {
  const long self = ::getpid();
  const std::uint64_t mine = ProcessStartStamp(self);
  ASSERT_NE(mine, 0u);
  EXPECT_EQ(ProcessStartStamp(self), mine);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    char c;
    const ssize_t got = ::read(ready[0], &c, 1);  // runs until told to end
    ::_exit(got == 1 ? 0 : 1);
  }
  const std::uint64_t running = ProcessStartStamp(child);
  EXPECT_NE(running, 0u);
  EXPECT_GE(running, mine) << "started after this process";
  ASSERT_EQ(::write(ready[1], "x", 1), 1);
  // Ended but not yet reaped: no longer running.
  for (int i = 0; i < 200 && ProcessStartStamp(child) != 0; ++i) ::usleep(10000);
  EXPECT_EQ(ProcessStartStamp(child), 0u);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(ProcessStartStamp(child), 0u);
  EXPECT_EQ(ProcessStartStamp(0), 0u);
  EXPECT_EQ(ProcessStartStamp(-1), 0u);
  ::close(ready[0]);
  ::close(ready[1]);
}
