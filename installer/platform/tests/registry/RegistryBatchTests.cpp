// Batches of registry changes: one load and one atomic save per batch, nothing of a batch seen by
// other processes before it ends, their writes kept, nested scopes, a killed writer and a failed
// save.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Registry.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

using namespace platform;

namespace {

class RegistryBatches : public tltest::MachineTest {
 protected:
  std::string Hive() const { return HivePath(); }
  static std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
  }
};

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

// 0 when the key holds exactly `count` values named v0..v<count-1> (as another process reads it).
int ChildCountsValues(const std::wstring& key, std::size_t count) {
  ResetRegistryCache();
  RegKey k;
  LSTATUS s = k.Open(HKEY_LOCAL_MACHINE, key);
  if (count == 0) return s == ERROR_FILE_NOT_FOUND ? 0 : 3;
  if (s != ERROR_SUCCESS) return 4;
  return k.ValueList().size() == count ? 0 : 5;
}

}  // namespace

TEST_F(RegistryBatches, ChangesAreWrittenOnceAtTheEndAndOtherProcessesSeeNoneBefore) {
  // The hive is on disk before the batch starts.
  RegKey existing;
  ASSERT_EQ(existing.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Existing"), ERROR_SUCCESS);
  const std::string before = Bytes(Hive());
  const ino_t inode = Inode(Hive());
  {
    RegistryBatch batch;
    RegKey k;
    ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Batch\\Deep"), ERROR_SUCCESS);
    for (int i = 0; i < 50; ++i)
      ASSERT_EQ(k.SetDword(L"v" + std::to_wstring(i), static_cast<DWORD>(i)), ERROR_SUCCESS);
    // This process reads its own changes at once.
    DWORD v = 0;
    EXPECT_EQ(k.QueryDword(L"v49", v), ERROR_SUCCESS);
    EXPECT_EQ(v, 49u);
    EXPECT_EQ(k.ValueList().size(), 50u);
    // Nothing reached the file yet: same file, same bytes; another process sees no key.
    EXPECT_EQ(Inode(Hive()), inode);
    EXPECT_EQ(Bytes(Hive()), before);
    EXPECT_EQ(Wait(Spawn([] { return ChildCountsValues(L"SOFTWARE\\Batch\\Deep", 0); })), 0);
    EXPECT_EQ(batch.Commit(), ERROR_SUCCESS);
  }
  EXPECT_NE(Bytes(Hive()), before);
  EXPECT_EQ(Wait(Spawn([] { return ChildCountsValues(L"SOFTWARE\\Batch\\Deep", 50); })), 0);
}

TEST_F(RegistryBatches, AnotherProcessWritingDuringTheBatchWaitsAndLosesNothing) {
  pid_t child = 0;
  {
    RegistryBatch batch;
    RegKey k;
    ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Mine"), ERROR_SUCCESS);
    ASSERT_EQ(k.SetString(L"parent", L"1"), ERROR_SUCCESS);
    child = Spawn([] {
      ResetRegistryCache();
      RegKey c;
      if (c.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Theirs") != ERROR_SUCCESS) return 3;
      return c.SetString(L"child", L"2") == ERROR_SUCCESS ? 0 : 4;
    });
    ::usleep(100 * 1000);  // give the child time to reach the lock
    ASSERT_EQ(k.SetString(L"parent2", L"3"), ERROR_SUCCESS);
  }
  ASSERT_EQ(Wait(child), 0);
  ResetRegistryCache();
  RegKey mine, theirs;
  ASSERT_EQ(mine.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Mine"), ERROR_SUCCESS);
  EXPECT_EQ(mine.ValueList().size(), 2u);
  ASSERT_EQ(theirs.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Theirs"), ERROR_SUCCESS);
  std::wstring v;
  EXPECT_EQ(theirs.QueryString(L"child", v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"2");
}

TEST_F(RegistryBatches, OnlyTheOutermostScopeWritesAndUserHivesJoinToo) {
  const std::string before = Bytes(Hive());
  {
    RegistryBatch outer;
    {
      RegistryBatch inner;
      RegKey k, u;
      ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Nested"), ERROR_SUCCESS);
      ASSERT_EQ(u.Create(HKEY_CURRENT_USER, L"Software\\Nested"), ERROR_SUCCESS);
      ASSERT_EQ(u.SetDword(L"x", 7), ERROR_SUCCESS);
      EXPECT_EQ(inner.Commit(), ERROR_SUCCESS);
    }
    EXPECT_EQ(Bytes(Hive()), before);
    EXPECT_EQ(Wait(Spawn([] {
                ResetRegistryCache();
                RegKey u;
                return u.Open(HKEY_CURRENT_USER, L"Software\\Nested") == ERROR_FILE_NOT_FOUND ? 0
                                                                                              : 3;
              })),
              0);
  }
  EXPECT_EQ(Wait(Spawn([] {
              ResetRegistryCache();
              RegKey u;
              DWORD x = 0;
              if (u.Open(HKEY_CURRENT_USER, L"Software\\Nested") != ERROR_SUCCESS) return 3;
              return u.QueryDword(L"x", x) == ERROR_SUCCESS && x == 7 ? 0 : 4;
            })),
            0);
  RegKey k;
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Nested"), ERROR_SUCCESS);
}

TEST_F(RegistryBatches, AWriterKilledInTheMiddleOfABatchLeavesTheHiveAsItWas) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kept"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"a", L"1"), ERROR_SUCCESS);
  const std::string before = Bytes(Hive());
  pid_t child = Spawn([] {
    ResetRegistryCache();
    auto* batch = new RegistryBatch;  // never ended: the process dies inside it
    (void)batch;
    for (int i = 0; i < 100; ++i) {
      RegKey c;
      if (c.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Lost\\K" + std::to_wstring(i)) != ERROR_SUCCESS)
        return 3;
    }
    ::raise(SIGKILL);
    return 4;
  });
  EXPECT_EQ(Wait(child), 100 + SIGKILL);
  EXPECT_EQ(Bytes(Hive()), before);
  ResetRegistryCache();
  RegKey lost;
  EXPECT_EQ(lost.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Lost"), ERROR_FILE_NOT_FOUND);
  // The lock died with the writer: this process writes again.
  RegKey again;
  ASSERT_EQ(again.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kept", KEY_ALL_ACCESS), ERROR_SUCCESS);
  EXPECT_EQ(again.SetString(L"b", L"2"), ERROR_SUCCESS);
}

TEST_F(RegistryBatches, ASaveThatFailsIsReportedAndTheBatchIsDropped) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Fails"), ERROR_SUCCESS);
  RegistryBatch batch;
  ASSERT_EQ(k.SetString(L"lost", L"1"), ERROR_SUCCESS);
  // A folder with something in it at the temporary file's name: the save cannot replace it.
  std::filesystem::create_directories(Hive() + ".tmp/inside");
  EXPECT_EQ(batch.Commit(), ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(batch.Commit(), ERROR_SUCCESS);  // ended once
  std::filesystem::remove_all(Hive() + ".tmp");
  std::wstring v;
  EXPECT_EQ(k.QueryString(L"lost", v), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(k.SetString(L"kept", L"2"), ERROR_SUCCESS);  // writes go to the file again
  ResetRegistryCache();
  RegKey again;
  ASSERT_EQ(again.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Fails"), ERROR_SUCCESS);
  EXPECT_EQ(again.QueryString(L"kept", v), ERROR_SUCCESS);
}
