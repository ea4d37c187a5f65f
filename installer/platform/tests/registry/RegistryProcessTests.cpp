// The hive files shared by several processes: persistence, concurrent writers, a writer killed
// in the middle, and hand-edited files with errors.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "testing/MachineFixture.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include <filesystem>
#include "platform/Registry.h"

using namespace platform;

namespace {

class RegistryProcesses : public tltest::MachineTest {};

// Runs `body` in a child process on the same machine; returns its exit status.
template <class F>
pid_t Spawn(F body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    int code = 1;
    try {
      code = body();
    } catch (...) {
      code = 2;
    }
    ::_exit(code);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

}  // namespace

TEST_F(RegistryProcesses, ValuesWrittenByOneProcessAreReadByAnother) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Shared"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"from parent", L"1"), ERROR_SUCCESS);
  // The child sees the parent's value, then writes one the parent reads through its open handle.
  pid_t child = Spawn([] {
    RegKey c;
    if (c.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Shared", KEY_ALL_ACCESS) != ERROR_SUCCESS) return 3;
    std::wstring v;
    if (c.QueryString(L"from parent", v) != ERROR_SUCCESS || v != L"1") return 4;
    return c.SetString(L"from child", L"2") == ERROR_SUCCESS ? 0 : 5;
  });
  ASSERT_EQ(Wait(child), 0);
  std::wstring v;
  EXPECT_EQ(k.QueryString(L"from child", v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"2");
  // The parent's earlier value survived the child's write.
  EXPECT_EQ(k.QueryString(L"from parent", v), ERROR_SUCCESS);
  // A process that starts afresh (no cache) reads both from the file.
  ResetRegistryCache();
  RegKey again;
  ASSERT_EQ(again.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Shared"), ERROR_SUCCESS);
  EXPECT_EQ(again.ValueList().size(), 2u);
}

TEST_F(RegistryProcesses, ConcurrentWritersLoseNothing) {
  constexpr int kWriters = 4;
  constexpr int kValues = 60;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    children.push_back(Spawn([w] {
      for (int i = 0; i < kValues; ++i) {
        RegKey k;
        // Writers also create keys of their own and a shared one, at the same time.
        if (k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Race\\W" + std::to_wstring(w)) !=
            ERROR_SUCCESS)
          return 3;
        if (k.SetDword(L"v" + std::to_wstring(i), static_cast<DWORD>(i)) != ERROR_SUCCESS) return 4;
        RegKey shared;
        if (shared.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Race\\Shared") != ERROR_SUCCESS) return 5;
        if (shared.SetDword(L"w" + std::to_wstring(w) + L"-" + std::to_wstring(i), 1) !=
            ERROR_SUCCESS)
          return 6;
      }
      return 0;
    }));
  }
  for (pid_t c : children) EXPECT_EQ(Wait(c), 0);
  RegKey shared;
  ASSERT_EQ(shared.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Race\\Shared"), ERROR_SUCCESS);
  EXPECT_EQ(shared.ValueList().size(), static_cast<std::size_t>(kWriters * kValues));
  for (int w = 0; w < kWriters; ++w) {
    RegKey k;
    ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Race\\W" + std::to_wstring(w)), ERROR_SUCCESS);
    EXPECT_EQ(k.ValueList().size(), static_cast<std::size_t>(kValues));
  }
}

TEST_F(RegistryProcesses, ThreadsOfOneProcessShareTheHiveSafely) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      RegKey k;
      ASSERT_EQ(k.Create(HKEY_CURRENT_USER, L"Software\\Threads"), ERROR_SUCCESS);
      for (int i = 0; i < 50; ++i)
        ASSERT_EQ(k.SetDword(L"t" + std::to_wstring(t) + L"_" + std::to_wstring(i), i),
                  ERROR_SUCCESS);
    });
  }
  for (auto& t : threads) t.join();
  RegKey k;
  ASSERT_EQ(k.Open(HKEY_CURRENT_USER, L"Software\\Threads"), ERROR_SUCCESS);
  EXPECT_EQ(k.ValueList().size(), 200u);
}

TEST_F(RegistryProcesses, AWriterKilledMidWriteLeavesAReadableHive) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kill"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"before", L"kept"), ERROR_SUCCESS);
  // The child writes big values without pause; it is killed while doing so, several times.
  for (int round = 0; round < 3; ++round) {
    pid_t child = Spawn([round] {
      RegKey c;
      if (c.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kill", KEY_ALL_ACCESS) != ERROR_SUCCESS) return 3;
      std::vector<BYTE> blob(2 * 1024 * 1024, static_cast<BYTE>(round));
      for (int i = 0;; ++i) c.SetBinary(L"blob" + std::to_wstring(i % 3), blob);
      return 0;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150 + 70 * round));
    ::kill(child, SIGKILL);
    EXPECT_EQ(Wait(child), 100 + SIGKILL);
    // The hive still reads, keeps the earlier value, and takes new writes.
    std::wstring v;
    ASSERT_EQ(k.QueryString(L"before", v), ERROR_SUCCESS) << HiveErrorText(k.Get());
    EXPECT_EQ(v, L"kept");
    ASSERT_EQ(k.SetDword(L"after" + std::to_wstring(round), 1), ERROR_SUCCESS);
  }
  std::vector<HiveInfo> hives = ListHives();
  for (const auto& h : hives) EXPECT_EQ(h.status, ERROR_SUCCESS) << ToUtf8(h.errorText);
}

TEST_F(RegistryProcesses, ACorruptHiveIsReportedKeptAsideAndNeverReplaced) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Precious"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"data", L"important"), ERROR_SUCCESS);
  k.Close();

  // Someone edits the file by hand and breaks a line.
  std::string original = ReadFile(HivePath());
  std::string broken =
      "Windows Registry Editor Version "
      "5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Precious]\r\n\"data\"=dword:zz\r\n";
  WriteFile(HivePath(), broken);

  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Precious"), ERROR_REGISTRY_CORRUPT);
  RegKey w;
  EXPECT_EQ(w.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\New"), ERROR_REGISTRY_CORRUPT);
  std::wstring why = HiveErrorText(HKEY_LOCAL_MACHINE);
  EXPECT_NE(why.find(L"line 4"), std::wstring::npos) << ToUtf8(why);
  // The broken file is still there, unchanged, and a copy is kept aside.
  EXPECT_EQ(ReadFile(HivePath()), broken);
  EXPECT_EQ(ReadFile(HivePath() + ".corrupt-1"), broken);
  // Another process sees the same and does not overwrite it either.
  pid_t child = Spawn([] {
    RegKey c;
    return c.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Other") == ERROR_REGISTRY_CORRUPT ? 0 : 3;
  });
  EXPECT_EQ(Wait(child), 0);
  EXPECT_EQ(ReadFile(HivePath()), broken);
  EXPECT_FALSE(std::filesystem::exists(HivePath() + ".corrupt-2"));  // one copy per broken content

  // Other hives go on working.
  RegKey user;
  EXPECT_EQ(user.Create(HKEY_CURRENT_USER, L"Software\\StillFine"), ERROR_SUCCESS);

  // Once the file is mended, the registry reads it again.
  WriteFile(HivePath(), original);
  ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Precious"), ERROR_SUCCESS);
  std::wstring v;
  EXPECT_EQ(k.QueryString(L"data", v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"important");
}

TEST_F(RegistryProcesses, AMissingHiveFolderIsRefilledNotLeftEmpty) {
  // A machine whose registry folder was removed gets fresh contents on first use.
  std::filesystem::remove_all(root_ + "/registry");
  ResetRegistryCache();
  RegKey k;
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"),
            ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::exists(HivePath()));
}

TEST_F(RegistryProcesses, AKeyDeletedByAnotherProcessIsReportedOnTheHandle) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Doomed\\Child"), ERROR_SUCCESS);
  ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Doomed", KEY_ALL_ACCESS), ERROR_SUCCESS);
  pid_t child = Spawn([] {
    return RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Doomed") == ERROR_SUCCESS ? 0 : 3;
  });
  ASSERT_EQ(Wait(child), 0);
  std::wstring v;
  EXPECT_EQ(k.QueryString(L"x", v), ERROR_KEY_DELETED);
  RegKey sub;
  EXPECT_EQ(sub.Create(k.Get(), L"again"), ERROR_KEY_DELETED);
  EXPECT_EQ(sub.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Doomed"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryProcesses, AHiveEditedInPlaceByHandIsReloaded) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_CURRENT_USER, L"Software\\Edited"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"v", L"old"), ERROR_SUCCESS);
  std::string file = root_ + "/registry/HKU/" + ToUtf8(CurrentUserSid()) + ".reg";
  // Rewrite the same file (same inode) as UTF-8, the way an editor saving in place does.
  WriteFile(file, "Windows Registry Editor Version 5.00\n\n[HKEY_USERS\\" +
                      ToUtf8(CurrentUserSid()) + "\\Software\\Edited]\n\"v\"=\"new by hand\"\n");
  std::wstring v;
  ASSERT_EQ(k.QueryString(L"v", v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"new by hand");
  // The next write goes back to the registry editor's UTF-16 form and keeps the edit.
  ASSERT_EQ(k.SetString(L"w", L"2"), ERROR_SUCCESS);
  std::string bytes = ReadFile(file);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
  EXPECT_EQ(k.QueryString(L"v", v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"new by hand");
}
