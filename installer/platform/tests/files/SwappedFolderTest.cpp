// A host process swaps a folder of the machine for a link to a folder outside it while the layer
// works in that folder: nothing may ever be created, made or moved outside the machine.
#include "platform/Files.h"
#include "platform/HostIo.h"

#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace platform;

namespace {

class SwappedFolder : public tltest::MachineTest {
 protected:
  void SetUp() override {
    tltest::MachineTest::SetUp();
    outside_ = temp_ + "/outside";
    ASSERT_TRUE(hostio::MakeDirs(outside_));
    ASSERT_EQ(CreateDirectoryW(L"C:\\box"), ERROR_SUCCESS);
    box_ = C("box");
    parked_ = C("box.parked");
  }
  void TearDown() override {
    StopSwapping();
    tltest::MachineTest::TearDown();
  }

  // Swaps C:\box for a link to the outside folder and back, as fast as the host allows.
  void StartSwapping() {
    stop_ = false;
    swapper_ = std::thread([this] {
      while (!stop_.load()) {
        if (rename(box_.c_str(), parked_.c_str()) != 0) continue;
        if (symlink(outside_.c_str(), box_.c_str()) == 0) {
          Spin();
          unlink(box_.c_str());
        }
        rename(parked_.c_str(), box_.c_str());
        swaps_.fetch_add(1);
        Spin(100);  // the folder stays a while, so that the layer finds it and goes on
      }
    });
  }
  static void Spin(int microseconds = 30) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(microseconds);
    while (std::chrono::steady_clock::now() < until) {}
  }
  void StopSwapping() {
    stop_ = true;
    if (swapper_.joinable()) swapper_.join();
    // Leave the folder in place whatever the last swap did.
    struct stat st;
    if (lstat(box_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(box_.c_str());
    if (lstat(parked_.c_str(), &st) == 0) rename(parked_.c_str(), box_.c_str());
  }
  std::size_t OutsideCount() const {
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(outside_)) {
      (void)e;
      ++n;
    }
    return n;
  }
  // Runs `step(i)` until `limit` steps or the time bound, with the swapper running; at least
  // until `enough()` says so, on a busy host where the swapper may sit long in one state.
  template <class Step, class Enough>
  std::size_t Race(std::size_t limit, Step step, Enough enough) {
    StartSwapping();
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    std::size_t i = 0;
    for (; (i < limit || !enough()) && std::chrono::steady_clock::now() < until; ++i) step(i);
    StopSwapping();
    return i;
  }
  template <class Step>
  std::size_t Race(std::size_t limit, Step step) {
    return Race(limit, step, [] { return true; });
  }

  std::string outside_, box_, parked_;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> swaps_{0};
  std::thread swapper_;
};

std::wstring Numbered(const wchar_t* prefix, std::size_t i) {
  return std::wstring(L"C:\\box\\") + prefix + std::to_wstring(i);
}

TEST_F(SwappedFolder, FilesCreatedDuringTheSwapStayInTheMachine) {
  std::size_t created = 0;
  const std::size_t steps = Race(
      4000,
      [&](std::size_t i) {
        FileHandle h;
        if (h.Open(Numbered(L"f", i), GENERIC_WRITE, 0, CREATE_ALWAYS) == ERROR_SUCCESS) {
          h.Write("x", 1);
          ++created;
        }
      },
      [&] { return created >= 20; });
  EXPECT_GT(steps, 0u);
  EXPECT_GT(swaps_.load(), 0u);
  EXPECT_GT(created, 0u);  // the folder was there often enough for the race to be real
  EXPECT_EQ(OutsideCount(), 0u) << "of " << steps << " creations";
}

TEST_F(SwappedFolder, FoldersMadeDuringTheSwapStayInTheMachine) {
  const std::size_t steps = Race(4000, [&](std::size_t i) { CreateDirectoryW(Numbered(L"d", i)); });
  EXPECT_GT(steps, 0u);
  EXPECT_EQ(OutsideCount(), 0u) << "of " << steps << " folders";
}

TEST_F(SwappedFolder, FilesOutsideAreNeitherTruncatedNorDeleted) {
  // The outside folder holds files with the names the layer works on inside.
  for (std::size_t i = 0; i < 500; ++i) {
    WriteHost(outside_ + "/f" + std::to_string(i), "keep");
    WriteHost(box_ + "/f" + std::to_string(i), "mine");
  }
  Race(1000, [&](std::size_t i) {
    const std::wstring name = Numbered(L"f", i % 500);
    if (i < 500) {
      FileHandle h;
      h.Open(name, GENERIC_WRITE, 0, TRUNCATE_EXISTING);
    } else {
      DeleteFileW(name);
    }
  });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < 500; ++i) {
    std::string data;
    hostio::ReadFile(outside_ + "/f" + std::to_string(i), data);
    if (data == "keep") ++kept;
  }
  EXPECT_EQ(kept, 500u);
}

TEST_F(SwappedFolder, FilesMovedDuringTheSwapStayInTheMachine) {
  ASSERT_EQ(CreateDirectoryW(L"C:\\src"), ERROR_SUCCESS);
  for (std::size_t i = 0; i < 2000; ++i) WriteHost(C("src/m" + std::to_string(i)), "m");
  const std::size_t steps = Race(2000, [&](std::size_t i) {
    MoveFileExW(L"C:\\src\\m" + std::to_wstring(i), Numbered(L"m", i), 0);
  });
  EXPECT_GT(steps, 0u);
  EXPECT_EQ(OutsideCount(), 0u) << "of " << steps << " moves";
}

TEST_F(SwappedFolder, LinksInsideTheDriveStillLeadWhereTheyPoint) {
  ASSERT_EQ(CreateDirectoryW(L"C:\\real"), ERROR_SUCCESS);
  ASSERT_EQ(symlink(C("real").c_str(), C("alias").c_str()), 0);
  FileHandle h;
  ASSERT_EQ(h.Open(L"C:\\alias\\new.txt", GENERIC_WRITE, 0, CREATE_NEW), ERROR_SUCCESS);
  ASSERT_EQ(h.Write("abc", 3), ERROR_SUCCESS);
  h.Close();
  std::string data;
  ASSERT_TRUE(hostio::ReadFile(C("real/new.txt"), data));
  EXPECT_EQ(data, "abc");
  EXPECT_EQ(CreateDirectoryW(L"C:\\alias\\sub"), ERROR_SUCCESS);
  EXPECT_TRUE(hostio::IsDirectory(C("real/sub")));
  EXPECT_EQ(DeleteFileW(L"C:\\alias\\new.txt"), ERROR_SUCCESS);
  EXPECT_FALSE(hostio::Exists(C("real/new.txt")));
  // A link out of the drive is refused as before.
  ASSERT_EQ(symlink(outside_.c_str(), C("away").c_str()), 0);
  FileHandle out;
  EXPECT_EQ(out.Open(L"C:\\away\\new.txt", GENERIC_WRITE, 0, CREATE_NEW), ERROR_ACCESS_DENIED);
  EXPECT_EQ(OutsideCount(), 0u);
}

}  // namespace
