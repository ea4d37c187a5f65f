// The table of open handles on its own: the Windows share-mode matrix and the bookkeeping.
#include "platform/HandleTable.h"

#include "testing/MachineFixture.h"
#include "platform/Environment.h"
#include "platform/HostIo.h"
#include "platform/Paths.h"
#include <fstream>
#include "platform/Files.h"
#include "platform/HostIo.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
using namespace platform::handles;

namespace {

Entry Open(DWORD access, DWORD share) {
  Entry e;
  e.dev = 1;
  e.ino = 2;
  e.access = access;
  e.share = share;
  return e;
}

TEST(HandleTable, ShareModeMatrix) {
  const DWORD R = GENERIC_READ, W = GENERIC_WRITE, D = DELETE;
  const DWORD SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE, SD = FILE_SHARE_DELETE;
  struct Case {
    DWORD a1, s1, a2, s2;
    bool ok;
  };
  const Case cases[] = {
      {R, SR, R, SR, true},        // two readers that share reading
      {R, SR, W, SR | SW, false},  // the first does not share writing
      {R, SR | SW, W, SW, false},  // the second does not let the first read
      {R, SR | SW, W, SR, true},
      {R, SR | SW, W, SR | SW, true},
      {W, 0, R, SR | SW | SD, false},   // exclusive
      {R, SR, D, SR | SW | SD, false},  // deleting needs FILE_SHARE_DELETE
      {R, SR | SD, D, SR | SW | SD, true},
      {D, SR | SW | SD, R, SR,
       false},              // an open for delete refused by a reader without share delete
      {0, 0, R, SR, true},  // attribute-only opens never conflict
      {R, 0, 0, 0, true},
      {GENERIC_ALL, SR | SW | SD, W, SR | SW | SD, true},
      {GENERIC_ALL, SR, W, SR | SW | SD, false},
  };
  for (const Case& c : cases) {
    std::vector<Entry> entries = {Open(c.a1, c.s1)};
    EXPECT_EQ(CheckShare(entries, 1, 2, c.a2, c.s2) == ERROR_SUCCESS, c.ok)
        << std::hex << c.a1 << "/" << c.s1 << " then " << c.a2 << "/" << c.s2;
    // Other files are never affected.
    EXPECT_EQ(CheckShare(entries, 1, 3, c.a2, c.s2), ERROR_SUCCESS);
  }
}

TEST(HandleTable, ProcessStartTimes) {
  EXPECT_NE(ProcessStartTime(getpid()), 0u);
  EXPECT_EQ(ProcessStartTime(getpid()), ProcessStartTime(getpid()));
  EXPECT_EQ(ProcessStartTime(0), 0u);
  EXPECT_EQ(ProcessStartTime(4194304 + 17), 0u);  // beyond pid_max
}

class HandleTableFile : public tltest::MachineTest {};

TEST_F(HandleTableFile, EntriesSurviveAndPathsWithBlanksRoundTrip) {
  const std::string table = temp_ + "/handles";
  std::uint64_t id;
  {
    LockedTable t(table);
    ASSERT_TRUE(t.Ok());
    Entry e = Open(GENERIC_READ, FILE_SHARE_READ);
    e.hostPath = "/x/Program Files/50% done\tand\nmore";
    id = t.Add(e);
    Entry img = Open(GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
    img.kind = Kind::Image;
    img.ino = 9;
    img.hostPath = "/x/app.exe";
    t.Add(img);
  }
  {
    LockedTable t(table);
    ASSERT_EQ(t.Entries().size(), 2u);
    EXPECT_EQ(t.Entries()[0].hostPath, "/x/Program Files/50% done\tand\nmore");
    EXPECT_EQ(t.Entries()[0].pid, getpid());
    EXPECT_TRUE(IsImage(t.Entries(), 1, 9));
    EXPECT_FALSE(IsImage(t.Entries(), 1, 2));
    EXPECT_TRUE(AnyUnder(t.Entries(), "/x/Program Files"));
    EXPECT_FALSE(AnyUnder(t.Entries(), "/x/Program"));
    t.Rename("/x/Program Files", "/x/Programs");
    EXPECT_EQ(t.Entries()[0].hostPath, "/x/Programs/50% done\tand\nmore");
    EXPECT_TRUE(t.Remove(id));
    EXPECT_FALSE(t.Remove(id));
  }
  LockedTable t(table);
  EXPECT_EQ(t.Entries().size(), 1u);
}

TEST_F(HandleTableFile, EntriesOfOtherProcessesThatEndedAreDropped) {
  const std::string table = temp_ + "/handles";
  // An entry of a process that has ended (a pid that no longer runs) and one whose pid was
  // reused by a process started later.
  const std::string line1 = "1 " + std::to_string(4194304 + 5) + " 10 1 2 2147483648 0 0 /a\n";
  const std::string line2 = "2 " + std::to_string(getpid()) + " 1 1 2 2147483648 0 0 /b\n";
  WriteHost(table, line1 + line2);
  LockedTable t(table);
  EXPECT_TRUE(t.Entries().empty());
  EXPECT_EQ(CheckShare(t.Entries(), 1, 2, GENERIC_READ, 0), ERROR_SUCCESS);
}

// A process of its own that waits until it is killed, with the table line of a handle it holds
// on (1, 2) without sharing.
struct WaitingChild {
  pid_t pid = 0;
  WaitingChild() {
    pid = fork();
    if (pid == 0) {
      for (;;) pause();
    }
  }
  ~WaitingChild() { End(); }
  void End() {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = 0;
  }
  std::string Line(int id) const {
    return std::to_string(id) + " " + std::to_string(pid) + " " +
           std::to_string(ProcessStartTime(pid)) + " 1 2 2147483648 0 0 /held\n";
  }
};

void Settle() { ::usleep(120 * 1000); }

TEST_F(HandleTableFile, AReadingStandsOnlyWhileTheTableIsTheSameSettledFile) {
  const std::string table = temp_ + "/handles";
  WaitingChild holder;
  ASSERT_GT(holder.pid, 0);
  WriteHost(table, holder.Line(1));
  Settle();
  {
    LockedTable first(table, Reading::ReuseUnchanged);  // nothing read before: read now
    EXPECT_FALSE(first.Reused());
    ASSERT_EQ(first.Entries().size(), 1u);
  }
  {
    LockedTable again(table, Reading::ReuseUnchanged);
    EXPECT_TRUE(again.Reused());
    EXPECT_EQ(again.Entries().size(), 1u);
  }
  {
    LockedTable afresh(table);  // an ordinary table always reads
    EXPECT_FALSE(afresh.Reused());
  }
  // Another process writes the table, to the same length, at once after a reading: that reading
  // was of a file changed a moment ago, and is not reused.
  std::string other = holder.Line(2);
  ASSERT_EQ(other.size(), holder.Line(1).size());
  WriteHost(table, holder.Line(1));
  {
    LockedTable read(table, Reading::ReuseUnchanged);
    EXPECT_FALSE(read.Reused());
    ASSERT_EQ(read.Entries().size(), 1u);
    EXPECT_EQ(read.Entries()[0].id, 1u);
  }
  WriteHost(table, other);
  {
    LockedTable read(table, Reading::ReuseUnchanged);
    EXPECT_FALSE(read.Reused());
    ASSERT_EQ(read.Entries().size(), 1u);
    EXPECT_EQ(read.Entries()[0].id, 2u);
  }
  // A table changed by this process is read again too.
  Settle();
  { LockedTable read(table, Reading::ReuseUnchanged); }
  {
    LockedTable t(table);
    Entry mine = Open(GENERIC_READ, FILE_SHARE_READ);
    mine.hostPath = "/mine";
    t.Add(mine);
  }
  {
    LockedTable read(table, Reading::ReuseUnchanged);
    EXPECT_FALSE(read.Reused());
    EXPECT_EQ(read.Entries().size(), 2u);
  }
  // The holder ends: a reused reading still shows its handle (more conflicts, never fewer), a
  // table read afresh drops it.
  Settle();
  { LockedTable read(table, Reading::ReuseUnchanged); }
  holder.End();
  {
    LockedTable read(table, Reading::ReuseUnchanged);
    EXPECT_TRUE(read.Reused());
    EXPECT_EQ(CheckShare(read.Entries(), 1, 2, DELETE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE),
              ERROR_SHARING_VIOLATION);
  }
  LockedTable afresh(table);
  EXPECT_FALSE(afresh.Reused());
  EXPECT_EQ(afresh.Entries().size(), 1u);  // this process's own
}

}  // namespace

TEST_F(HandleTableFile, ALinkPlantedAtTheTableIsNeverWrittenThrough) {
  const std::string victim = temp_ + "/victim.txt";
  WriteHost(victim, "precious");
  const std::string table = root_ + "/state/handles";
  ::unlink(table.c_str());
  ASSERT_EQ(::symlink(victim.c_str(), table.c_str()), 0);
  ASSERT_EQ(WriteWholeFile(L"C:\\a.txt", "a"), ERROR_ACCESS_DENIED);  // the table is refused
  std::string text;
  ASSERT_TRUE(hostio::ReadFile(victim, text));
  EXPECT_EQ(text, "precious");
}

TEST(HostIo, AtomicWritesNeverGoThroughAPlantedTemporaryName) {
  tltest::ScopedMachine m;
  const std::string victim = m.Base() + "/victim.txt";
  std::ofstream(victim) << "precious";
  const std::string target = m.Base() + "/out.txt";
  const std::string tmp = target + ".tmp." + std::to_string(::getpid());
  ASSERT_EQ(::symlink(victim.c_str(), tmp.c_str()), 0);
  ASSERT_TRUE(hostio::WriteFileAtomic(target, "new"));
  std::string text;
  ASSERT_TRUE(hostio::ReadFile(victim, text));
  EXPECT_EQ(text, "precious");
  ASSERT_TRUE(hostio::ReadFile(target, text));
  EXPECT_EQ(text, "new");
}
