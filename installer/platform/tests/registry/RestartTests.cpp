// Operations scheduled for the next start, and the restart.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "testing/MachineFixture.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include <filesystem>
#include "platform/Files.h"
#include "platform/Restart.h"

using namespace platform;

namespace {

class Restart : public tltest::MachineTest {
 protected:
  void MakeFile(const std::wstring& path, const std::string& text = "x") {
    ASSERT_EQ(WriteWholeFile(path, text), ERROR_SUCCESS) << ToUtf8(path);
  }
  std::vector<std::wstring> RawPendingValue() {
    RegKey k;
    std::vector<BYTE> data;
    if (k.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager") !=
        ERROR_SUCCESS)
      return {};
    DWORD type = 0;
    if (k.QueryBinary(L"PendingFileRenameOperations", data, &type) != ERROR_SUCCESS) return {};
    EXPECT_EQ(type, REG_MULTI_SZ);
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    std::vector<std::wstring> items;
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t nul = text.find(L'\0', start);
      if (nul == std::wstring::npos) nul = text.size();
      items.push_back(text.substr(start, nul - start));
      start = nul + 1;
    }
    return items;
  }
};

}  // namespace

TEST_F(Restart, ScheduledOperationsAreKeptAsWindowsKeepsThem) {
  ASSERT_EQ(ScheduleFileOperation(L"C:\\a.txt", L""), ERROR_SUCCESS);
  ASSERT_EQ(ScheduleFileOperation(L"C:\\b.txt", L"C:\\c.txt", true), ERROR_SUCCESS);
  // "\??\" paths, an empty string for a deletion, "!" for replace, and the final terminator.
  EXPECT_EQ(RawPendingValue(),
            (std::vector<std::wstring>{L"\\??\\C:\\a.txt", L"", L"\\??\\C:\\b.txt",
                                       L"!\\??\\C:\\c.txt", L"", L""}));
  auto ops = PendingFileOperations();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].source, L"C:\\a.txt");
  EXPECT_TRUE(ops[0].destination.empty());
  EXPECT_EQ(ops[1].destination, L"C:\\c.txt");
  EXPECT_TRUE(ops[1].replaceExisting);
  EXPECT_EQ(ScheduleFileOperation(L"", L""), ERROR_INVALID_PARAMETER);
}

TEST_F(Restart, RestartCarriesOutInOrderIgnoresFailuresAndClears) {
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Product\\Sub"), ERROR_SUCCESS);
  MakeFile(L"C:\\Product\\Sub\\a.dll");
  MakeFile(L"C:\\Product\\keep.txt");
  MakeFile(L"C:\\Product\\new.bin", "new");
  MakeFile(L"C:\\Product\\old.bin", "old");
  ASSERT_EQ(SetFileAttributesW(L"C:\\Product\\Sub\\a.dll", 0x1), ERROR_SUCCESS);  // read-only

  // Order matters: the file first, then its folder; "Product" is not empty and stays.
  ASSERT_EQ(ScheduleFileOperation(L"C:\\Product\\Sub\\a.dll", L""), ERROR_SUCCESS);
  ASSERT_EQ(ScheduleFileOperation(L"C:\\Product\\Sub", L""), ERROR_SUCCESS);
  ASSERT_EQ(ScheduleFileOperation(L"C:\\Product", L""), ERROR_SUCCESS);
  ASSERT_EQ(ScheduleFileOperation(L"C:\\Missing\\file.txt", L""), ERROR_SUCCESS);  // fails, ignored
  ASSERT_EQ(ScheduleFileOperation(L"C:\\Product\\new.bin", L"C:\\Product\\old.bin", true),
            ERROR_SUCCESS);

  auto results = RestartMachine();
  ASSERT_EQ(results.size(), 5u);
  EXPECT_EQ(results[0].status, ERROR_SUCCESS);
  EXPECT_EQ(results[1].status, ERROR_SUCCESS);
  EXPECT_EQ(results[2].status, ERROR_DIR_NOT_EMPTY);
  EXPECT_NE(results[3].status, ERROR_SUCCESS);
  EXPECT_EQ(results[4].status, ERROR_SUCCESS);

  EXPECT_FALSE(PathFileExistsW(L"C:\\Product\\Sub"));
  EXPECT_TRUE(PathFileExistsW(L"C:\\Product\\keep.txt"));
  std::string text;
  ASSERT_EQ(ReadWholeFile(L"C:\\Product\\old.bin", text), ERROR_SUCCESS);
  EXPECT_EQ(text, "new");
  EXPECT_TRUE(PendingFileOperations().empty());
  EXPECT_TRUE(RawPendingValue().empty());  // the value is gone
  EXPECT_EQ(RestartCount(), 1u);
  // A second restart has nothing to do.
  EXPECT_TRUE(RestartMachine().empty());
  EXPECT_EQ(RestartCount(), 2u);
}

TEST_F(Restart, ADeletionIsTakenBackAndEverythingElseKeepsItsPlace) {
  ASSERT_EQ(ScheduleFileOperation(L"C:\\Installer\\tool.exe", L""), ERROR_SUCCESS);
  ASSERT_EQ(ScheduleFileOperation(L"C:\\Installer\\{spare}", L""), ERROR_SUCCESS);
  ASSERT_EQ(ScheduleFileOperation(L"C:\\new.bin", L"C:\\Installer\\tool.exe", true), ERROR_SUCCESS);
  ASSERT_EQ(ScheduleFileOperation(L"C:\\INSTALLER\\Tool.EXE", L""), ERROR_SUCCESS);
  // Every deletion of the name, in any case, goes; its move and the other names stay in order.
  ASSERT_EQ(CancelScheduledDeletion(L"c:\\installer\\TOOL.exe"), ERROR_SUCCESS);
  auto ops = PendingFileOperations();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].source, L"C:\\Installer\\{spare}");
  EXPECT_TRUE(ops[0].destination.empty());
  EXPECT_EQ(ops[1].source, L"C:\\new.bin");
  EXPECT_EQ(ops[1].destination, L"C:\\Installer\\tool.exe");
  EXPECT_TRUE(ops[1].replaceExisting);

  // A name that waits for nothing leaves the hive as it is.
  const auto written = std::filesystem::last_write_time(HivePath());
  auto hive = [&] {
    std::ifstream in(HivePath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string before = hive();
  EXPECT_EQ(CancelScheduledDeletion(L"C:\\other.txt"), ERROR_SUCCESS);
  EXPECT_EQ(hive(), before);
  EXPECT_EQ(std::filesystem::last_write_time(HivePath()), written);
  EXPECT_EQ(CancelScheduledDeletion(L""), ERROR_INVALID_PARAMETER);

  // The last one taken back takes the value with it.
  ASSERT_EQ(CancelScheduledDeletion(L"C:\\Installer\\{spare}"), ERROR_SUCCESS);
  ASSERT_EQ(PendingFileOperations().size(), 1u);
  MakeFile(L"C:\\keep.txt");
  ASSERT_EQ(ScheduleFileOperation(L"C:\\keep.txt", L""), ERROR_SUCCESS);
  ASSERT_EQ(CancelScheduledDeletion(L"C:\\keep.txt"), ERROR_SUCCESS);
  RestartMachine();
  EXPECT_TRUE(PathFileExistsW(L"C:\\keep.txt"));
  ASSERT_EQ(ScheduleFileOperation(L"C:\\keep.txt", L""), ERROR_SUCCESS);
  ASSERT_EQ(CancelScheduledDeletion(L"C:\\keep.txt"), ERROR_SUCCESS);
  EXPECT_TRUE(RawPendingValue().empty());
}

TEST_F(Restart, DelayedMovesOfTheFileLayerLandInThePendingList) {
  MakeFile(L"C:\\inuse.txt");
  ASSERT_EQ(MoveFileExW(L"C:\\inuse.txt", L"", MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_SUCCESS);
  auto ops = PendingFileOperations();
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_EQ(ops[0].source, L"C:\\inuse.txt");
  EXPECT_TRUE(PathFileExistsW(L"C:\\inuse.txt"));  // nothing happens before the restart
  RestartMachine();
  EXPECT_FALSE(PathFileExistsW(L"C:\\inuse.txt"));
}

TEST_F(Restart, ExitWindowsExRestartsWhenTheProgramExits) {
  MakeFile(L"C:\\later.txt");
  ASSERT_EQ(ScheduleFileOperation(L"C:\\later.txt", L""), ERROR_SUCCESS);
  pid_t pid = ::fork();
  if (pid == 0) {
    bool ok = ExitWindowsEx(EWX_REBOOT, 0) && IsRestartPending();
    // Still there while the program runs.
    ok = ok && PathFileExistsW(L"C:\\later.txt");
    std::exit(ok ? 0 : 3);  // exit handlers run the restart
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(PathFileExistsW(L"C:\\later.txt"));
  EXPECT_EQ(RestartCount(), 1u);

  // Logging off does not restart.
  EXPECT_TRUE(ExitWindowsEx(EWX_LOGOFF, 0));
  EXPECT_FALSE(IsRestartPending());
}

TEST_F(Restart, AHandWrittenListWithoutFinalTerminatorIsReadAndExtended) {
  // "\??\C:\x.txt", "" without the list's final NUL, as a careless tool might write it.
  std::wstring raw = L"\\??\\C:\\x.txt";
  raw.push_back(L'\0');
  RegKey k;
  ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                   KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(k.Get(), L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(raw.data()),
                           static_cast<DWORD>(raw.size() * sizeof(wchar_t))),
            ERROR_SUCCESS);
  auto ops = PendingFileOperations();
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_EQ(ops[0].source, L"C:\\x.txt");
  EXPECT_TRUE(ops[0].destination.empty());
  ASSERT_EQ(ScheduleFileOperation(L"C:\\y.txt", L"C:\\z.txt"), ERROR_SUCCESS);
  ops = PendingFileOperations();
  ASSERT_EQ(ops.size(), 2u);  // nothing lost, the new one after it
  EXPECT_EQ(ops[1].source, L"C:\\y.txt");
  EXPECT_EQ(ops[1].destination, L"C:\\z.txt");
  EXPECT_FALSE(ops[1].replaceExisting);
}

TEST_F(Restart, OperationsScheduledByTwoProcessesAtOnceAreAllKept) {
  std::vector<pid_t> children;
  for (int p = 0; p < 3; ++p) {
    pid_t pid = ::fork();
    if (pid == 0) {
      for (int i = 0; i < 20; ++i)
        if (ScheduleFileOperation(L"C:\\p" + std::to_wstring(p) + L"_" + std::to_wstring(i), L"") !=
            ERROR_SUCCESS)
          ::_exit(3);
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto ops = PendingFileOperations();
  EXPECT_EQ(ops.size(), 60u);
  // Each process's operations keep their order.
  for (int p = 0; p < 3; ++p) {
    int next = 0;
    for (const auto& op : ops)
      if (op.source.rfind(L"C:\\p" + std::to_wstring(p) + L"_", 0) == 0) {
        EXPECT_EQ(op.source, L"C:\\p" + std::to_wstring(p) + L"_" + std::to_wstring(next));
        ++next;
      }
    EXPECT_EQ(next, 20);
  }
}

TEST_F(Restart, TheMachineItselfHandsDelayedMovesToTheRestartService) {
  // No registry call is made first: selecting the machine connects its services.
  SetDelayedMoveHandler(nullptr);
  Machine::ResetCurrent();
  Machine::SetCurrentForProcess(root_);
  MakeFile(L"C:\\later.txt");
  ASSERT_EQ(MoveFileExW(L"C:\\later.txt", L"", MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_SUCCESS);
  auto ops = PendingFileOperations();
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_EQ(ops[0].source, L"C:\\later.txt");
  EXPECT_TRUE(ops[0].destination.empty());
}
