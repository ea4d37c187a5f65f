// The entries of a folder deleted through the folder opened once: every answer is the one the
// call by full path gives (twin folders, one worked by each), a kept folder swapped for a link,
// and who may delete what when the lists of the folder and its files say different things.
#include "platform/Files.h"
#include "platform/HandleTable.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Security.h"
#include "platform/Text.h"

#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

bool HostExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

class FolderRemoval : public tltest::MachineTest {
 protected:
  // The same entries in `folder`: plain and read-only files, a subfolder, links to a file of
  // the machine and to one outside it, a file held without delete sharing, one held with it and a
  // running program's file.
  void Populate(const std::wstring& folder, const std::string& host) {
    ASSERT_EQ(CreateDirectoryW(folder), ERROR_SUCCESS);
    for (const wchar_t* name :
         {L"plain.txt", L"ro.txt", L"case.txt", L"held.txt", L"shared.txt", L"image.exe"})
      ASSERT_EQ(WriteWholeFile(folder + L"\\" + name, "x"), ERROR_SUCCESS);
    ASSERT_EQ(
        SetFileAttributesW(folder + L"\\ro.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
        ERROR_SUCCESS);
    ASSERT_EQ(CreateDirectoryW(folder + L"\\sub"), ERROR_SUCCESS);
    outside_ = temp_ + "/outside.txt";
    WriteHost(outside_, "keep");
    ASSERT_EQ(::symlink(outside_.c_str(), (host + "/out.txt").c_str()), 0);
    WriteHost(C("target.txt"), "keep");
    ASSERT_EQ(::symlink(C("target.txt").c_str(), (host + "/link.txt").c_str()), 0);
  }

  std::string outside_;

  // C:\\box with 1.txt, 2.txt and 3.txt, and a process (returned; -1 on failure) that holds
  // 2.txt open without sharing, as its line in the machine's table of handles says.
  pid_t BoxWithAHeldFile() {
    if (CreateDirectoryW(L"C:\\box") != ERROR_SUCCESS) return -1;
    for (const wchar_t* name : {L"1.txt", L"2.txt", L"3.txt"})
      if (WriteWholeFile(std::wstring(L"C:\\box\\") + name, "x") != ERROR_SUCCESS) return -1;
    struct stat st;
    if (::stat(C("box/2.txt").c_str(), &st) != 0) return -1;
    const pid_t holder = fork();
    if (holder == 0) {
      for (;;) pause();
    }
    if (holder < 0) return -1;
    const std::string table = root_ + "/state/handles";
    std::string text;
    if (!hostio::ReadFile(table, text)) {
      kill(holder, SIGKILL);
      waitpid(holder, nullptr, 0);
      return -1;
    }
    text += "7 " + std::to_string(holder) + " " +
            std::to_string(handles::ProcessStartTime(holder)) + " " + std::to_string(st.st_dev) +
            " " + std::to_string(st.st_ino) + " 2147483648 0 0 " + C("box/2.txt") + "\n";
    WriteHost(table, text);
    ::usleep(120 * 1000);
    return holder;
  }
};

TEST_F(FolderRemoval, EachCallAnswersAsTheCallByPathWould) {
  Populate(L"C:\\byPath", C("byPath"));
  Populate(L"C:\\kept", C("kept"));
  FileHandle heldA, heldB, sharedA, sharedB;
  ASSERT_EQ(heldA.Open(L"C:\\byPath\\held.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);
  ASSERT_EQ(heldB.Open(L"C:\\kept\\held.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  ASSERT_EQ(sharedA.Open(L"C:\\byPath\\shared.txt", GENERIC_READ, all, OPEN_EXISTING),
            ERROR_SUCCESS);
  ASSERT_EQ(sharedB.Open(L"C:\\kept\\shared.txt", GENERIC_READ, all, OPEN_EXISTING), ERROR_SUCCESS);
  ImageLock imageA, imageB;
  ASSERT_EQ(imageA.Acquire(L"C:\\byPath\\image.exe"), ERROR_SUCCESS);
  ASSERT_EQ(imageB.Acquire(L"C:\\kept\\image.exe"), ERROR_SUCCESS);

  FolderRemover folder(L"C:\\kept");
  struct Case {
    const wchar_t* name;
    DWORD expected;
  };
  const Case deletions[] = {
      {L"plain.txt", ERROR_SUCCESS},
      {L"ro.txt", ERROR_ACCESS_DENIED},  // read-only: the attribute first
      {L"CASE.TXT", ERROR_SUCCESS},      // another spelling finds it
      {L"missing.txt", ERROR_FILE_NOT_FOUND},
      {L"sub", ERROR_ACCESS_DENIED},  // a folder is no file
      {L"held.txt", ERROR_SHARING_VIOLATION},
      {L"shared.txt", ERROR_SUCCESS},
      {L"image.exe", ERROR_ACCESS_DENIED},
      {L"link.txt", ERROR_SUCCESS},       // the link goes, never what it leads to
      {L"out.txt", ERROR_ACCESS_DENIED},  // a link out of the machine is not even removed
      {L"bad|name", ERROR_INVALID_NAME},
  };
  for (const Case& c : deletions) {
    SCOPED_TRACE(ToUtf8(c.name));
    const DWORD byPath = DeleteFileW(std::wstring(L"C:\\byPath\\") + c.name);
    EXPECT_EQ(byPath, c.expected);
    EXPECT_EQ(folder.DeleteFile(c.name), byPath);
    EXPECT_EQ(GetLastError(), byPath);
  }
  for (const char* name : {"plain.txt", "case.txt", "shared.txt", "link.txt"})
    EXPECT_FALSE(HostExists(C("kept/") + name)) << name;
  for (const char* name : {"ro.txt", "held.txt", "image.exe", "sub", "out.txt"})
    EXPECT_TRUE(HostExists(C("kept/") + name)) << name;
  EXPECT_TRUE(HostExists(outside_));
  EXPECT_TRUE(HostExists(C("target.txt")));

  // Attributes given to a file are written by the next call (here one for a folder, written at
  // once), and a read-only file whose attribute was reset goes.
  EXPECT_EQ(folder.SetAttributes(L"ro.txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_SUCCESS);
  EXPECT_EQ(folder.SetAttributes(L"SUB", FILE_ATTRIBUTE_HIDDEN), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(L"C:\\kept\\ro.txt"), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetFileAttributesW(L"C:\\kept\\sub"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
  ASSERT_EQ(SetFileAttributesW(L"C:\\kept\\ro.txt", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  EXPECT_EQ(folder.SetAttributes(L"ro.txt", FILE_ATTRIBUTE_NORMAL), ERROR_SUCCESS);
  EXPECT_EQ(folder.DeleteFile(L"ro.txt"), ERROR_SUCCESS);
  EXPECT_EQ(folder.SetAttributes(L"nothing.txt", FILE_ATTRIBUTE_NORMAL),
            SetFileAttributesW(L"C:\\byPath\\nothing.txt", FILE_ATTRIBUTE_NORMAL));
  // A file that stays (held open) has the attributes it was given before its deletion failed.
  ASSERT_EQ(SetFileAttributesW(L"C:\\kept\\held.txt", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  EXPECT_EQ(folder.SetAttributes(L"held.txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_SUCCESS);
  EXPECT_EQ(folder.DeleteFile(L"held.txt"), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(GetFileAttributesW(L"C:\\kept\\held.txt"), FILE_ATTRIBUTE_ARCHIVE);
  // One made read-only again by someone else meanwhile is refused, as it would be by path.
  ASSERT_EQ(WriteWholeFile(L"C:\\kept\\again.txt", "x"), ERROR_SUCCESS);
  ASSERT_EQ(SetFileAttributesW(L"C:\\kept\\again.txt", FILE_ATTRIBUTE_HIDDEN), ERROR_SUCCESS);
  EXPECT_EQ(folder.SetAttributes(L"again.txt", FILE_ATTRIBUTE_NORMAL), ERROR_SUCCESS);
  ASSERT_EQ(SetFileAttributesW(L"C:\\kept\\again.txt", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  EXPECT_EQ(folder.DeleteFile(L"again.txt"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(HostExists(C("kept/again.txt")));
  EXPECT_EQ(GetFileAttributesW(L"C:\\kept\\again.txt"), FILE_ATTRIBUTE_READONLY);
  // Written to meanwhile (its attributes left as they were): the reset given still holds.
  EXPECT_EQ(folder.SetAttributes(L"again.txt", FILE_ATTRIBUTE_NORMAL), ERROR_SUCCESS);
  WriteHost(C("kept/again.txt"), "changed");
  EXPECT_EQ(folder.DeleteFile(L"again.txt"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\kept\\again.txt", "x"), ERROR_SUCCESS);
  // The same with what a listing read for it: someone's attributes given meanwhile stand.
  ASSERT_EQ(SetFileAttributesW(L"C:\\kept\\again.txt", FILE_ATTRIBUTE_HIDDEN), ERROR_SUCCESS);
  EXPECT_EQ(folder.SetAttributes(L"again.txt", FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_HIDDEN),
            ERROR_SUCCESS);
  ASSERT_EQ(SetFileAttributesW(L"C:\\kept\\again.txt", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  EXPECT_EQ(folder.DeleteFile(L"again.txt"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetFileAttributesW(L"C:\\kept\\again.txt"), FILE_ATTRIBUTE_READONLY);
  // What the remover holds back when it goes is written then.
  {
    FolderRemover last(L"C:\\kept");
    EXPECT_EQ(last.SetAttributes(L"again.txt", FILE_ATTRIBUTE_HIDDEN), ERROR_SUCCESS);
  }
  EXPECT_EQ(GetFileAttributesW(L"C:\\kept\\again.txt"), FILE_ATTRIBUTE_HIDDEN);

  // Once the holders let go, the rest goes too.
  heldB.Close();
  imageB.Release();
  EXPECT_EQ(folder.DeleteFile(L"held.txt"), ERROR_SUCCESS);
  EXPECT_EQ(folder.DeleteFile(L"image.exe"), ERROR_SUCCESS);
}

// The removal of a tree: the listing names every entry with its kind in NTFS order, and each
// file goes with its read-only attribute reset, with the status the path would give then.
TEST_F(FolderRemoval, ATreesEntriesAreListedAndRemovedAsByPathAfterTheReset) {
  Populate(L"C:\\byPath", C("byPath"));
  Populate(L"C:\\kept", C("kept"));
  ASSERT_TRUE(hostio::MakeDirs(temp_ + "/outdir"));
  ASSERT_EQ(::symlink((temp_ + "/outdir").c_str(), C("kept/dirlink").c_str()), 0);
  ASSERT_EQ(SetFileAttributesW(L"C:\\kept\\sub", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  for (const char* folder : {"kept", "byPath"}) {
    ASSERT_EQ(
        SetFileAttributesW(L"C:\\" + FromUtf8(folder) + L"\\held.txt", FILE_ATTRIBUTE_READONLY),
        ERROR_SUCCESS);
    WriteHost(C(folder) + "/Zeta.txt", "12345");
    WriteHost(C(folder) + "/alpha.txt", "");
  }

  FolderRemover folder(L"C:\\kept");
  std::vector<FolderRemover::Entry> entries;
  ASSERT_EQ(folder.List(entries), ERROR_SUCCESS);
  std::vector<FindData> byPath;
  ASSERT_EQ(FindAll(L"C:\\kept\\*", byPath), ERROR_SUCCESS);
  ASSERT_EQ(entries.size(), byPath.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(ToUtf8(entries[i].name));
    EXPECT_EQ(entries[i].name, byPath[i].fileName);  // the same names in the same order
    EXPECT_EQ(entries[i].folder, (byPath[i].attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    EXPECT_EQ(entries[i].link, (byPath[i].attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
  }
  EXPECT_EQ(entries.front().name, L"alpha.txt");
  EXPECT_EQ(entries.back().name, L"Zeta.txt");

  FileHandle heldA, heldB;
  ASSERT_EQ(heldA.Open(L"C:\\byPath\\held.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);
  ASSERT_EQ(heldB.Open(L"C:\\kept\\held.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);
  ImageLock imageA, imageB;
  ASSERT_EQ(imageA.Acquire(L"C:\\byPath\\image.exe"), ERROR_SUCCESS);
  ASSERT_EQ(imageB.Acquire(L"C:\\kept\\image.exe"), ERROR_SUCCESS);
  struct Case {
    const wchar_t* name;
    DWORD expected;
    std::uint64_t size;
  };
  const Case removals[] = {
      {L"plain.txt", ERROR_SUCCESS, 1},
      {L"ro.txt", ERROR_SUCCESS, 1},  // the reset lets it go
      {L"Zeta.txt", ERROR_SUCCESS, 5},
      {L"missing.txt", ERROR_FILE_NOT_FOUND, 0},
      {L"held.txt", ERROR_SHARING_VIOLATION, 1},
      {L"image.exe", ERROR_ACCESS_DENIED, 1},
      {L"link.txt", ERROR_SUCCESS, 0},       // the link goes, never what it leads to
      {L"out.txt", ERROR_ACCESS_DENIED, 0},  // a link out of the machine is not even removed
  };
  for (const Case& c : removals) {
    SCOPED_TRACE(ToUtf8(c.name));
    const std::wstring path = std::wstring(L"C:\\byPath\\") + c.name;
    // The reset by path, of what is no link (by path it would reach what the link leads to).
    const DWORD attributes = GetFileAttributesW(path);
    if (c.size != 0 && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY))
      SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    const DWORD expected = DeleteFileW(path);
    EXPECT_EQ(expected, c.expected);
    std::uint64_t size = 99;
    EXPECT_EQ(folder.RemoveFile(c.name, size), expected);
    EXPECT_EQ(GetLastError(), expected);
    EXPECT_EQ(size, c.size);
  }
  for (const char* name : {"plain.txt", "ro.txt", "Zeta.txt", "link.txt"})
    EXPECT_FALSE(HostExists(C("kept/") + name)) << name;
  // What stays has lost its read-only attribute, as after the reset by path.
  EXPECT_EQ(GetFileAttributesW(L"C:\\kept\\held.txt"), GetFileAttributesW(L"C:\\byPath\\held.txt"));
  EXPECT_EQ(GetFileAttributesW(L"C:\\kept\\held.txt") & FILE_ATTRIBUTE_READONLY, 0u);
  // Nothing a link leads to is touched.
  EXPECT_TRUE(HostExists(C("target.txt")));
  EXPECT_TRUE(HostExists(outside_));

  // A folder's attribute is reset where it is; a link's target is left alone.
  ASSERT_EQ(SetFileAttributesW(L"C:\\target.txt", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  EXPECT_EQ(folder.ResetReadOnly(L"sub"), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(L"C:\\kept\\sub"), FILE_ATTRIBUTE_DIRECTORY);
  ASSERT_EQ(::symlink(C("target.txt").c_str(), C("kept/link2.txt").c_str()), 0);
  EXPECT_EQ(folder.ResetReadOnly(L"link2.txt"), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(L"C:\\target.txt"), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(folder.ResetReadOnly(L"nothing.txt"), ERROR_FILE_NOT_FOUND);
  std::uint64_t size = 0;
  // A folder is no file.
  EXPECT_EQ(folder.RemoveFile(L"sub", size), DeleteFileW(L"C:\\byPath\\sub"));
  EXPECT_TRUE(HostExists(C("kept/sub")));

  // Once the holders let go, the rest goes too.
  heldB.Close();
  imageB.Release();
  EXPECT_EQ(folder.RemoveFile(L"held.txt", size), ERROR_SUCCESS);
  EXPECT_EQ(folder.RemoveFile(L"image.exe", size), ERROR_SUCCESS);
}

// Files removed together answer, file by file, what RemoveFile answers for each alone (a twin
// folder worked one call at a time): many plain files, read-only ones, one held open, a running
// program's, missing names, another spelling, a link, a folder, a name Windows refuses.
TEST_F(FolderRemoval, FilesRemovedTogetherAnswerAsEachRemovedAlone) {
  Populate(L"C:\\alone", C("alone"));
  Populate(L"C:\\together", C("together"));
  std::vector<std::wstring> names;
  for (int i = 0; i < 300; ++i) {
    const std::wstring name = L"f" + std::to_wstring(i) + L".dat";
    names.push_back(name);
    const std::string data(static_cast<std::size_t>(i), 'x');
    for (const wchar_t* folder : {L"C:\\alone\\", L"C:\\together\\"}) {
      ASSERT_EQ(WriteWholeFile(folder + name, data), ERROR_SUCCESS);
      if (i % 7 == 0)
        ASSERT_EQ(SetFileAttributesW(folder + name, FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
    }
  }
  for (const wchar_t* name : {L"plain.txt", L"ro.txt", L"CASE.TXT", L"missing.txt", L"held.txt",
                              L"image.exe", L"link.txt", L"out.txt", L"sub", L"bad|name"})
    names.insert(names.begin() + static_cast<std::ptrdiff_t>(names.size() / 2), name);
  FileHandle heldA, heldB;
  ASSERT_EQ(heldA.Open(L"C:\\alone\\held.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);
  ASSERT_EQ(heldB.Open(L"C:\\together\\held.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);
  ASSERT_EQ(SetFileAttributesW(L"C:\\alone\\held.txt", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  ASSERT_EQ(SetFileAttributesW(L"C:\\together\\held.txt", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  ImageLock imageA, imageB;
  ASSERT_EQ(imageA.Acquire(L"C:\\alone\\image.exe"), ERROR_SUCCESS);
  ASSERT_EQ(imageB.Acquire(L"C:\\together\\image.exe"), ERROR_SUCCESS);

  FolderRemover alone(L"C:\\alone");
  FolderRemover together(L"C:\\together");
  std::vector<std::wstring_view> views(names.begin(), names.end());
  std::vector<FolderRemover::Removed> results;
  together.RemoveFiles(views, results);
  ASSERT_EQ(results.size(), names.size());
  int gone = 0;
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(ToUtf8(names[i]));
    std::uint64_t size = 99;
    const DWORD status = alone.RemoveFile(names[i], size);
    EXPECT_EQ(results[i].status, status);
    EXPECT_EQ(results[i].size, size);
    if (status == ERROR_SUCCESS) ++gone;
  }
  EXPECT_EQ(gone, 300 + 4);  // plain, ro, case and the link among the named ones
  // What stays is the same in both, held open and without its read-only attribute.
  for (const char* name : {"held.txt", "image.exe", "sub"}) {
    EXPECT_TRUE(HostExists(C("together/") + name)) << name;
    EXPECT_EQ(GetFileAttributesW(L"C:\\together\\" + FromUtf8(name)),
              GetFileAttributesW(L"C:\\alone\\" + FromUtf8(name)))
        << name;
  }
  EXPECT_EQ(GetFileAttributesW(L"C:\\together\\held.txt") & FILE_ATTRIBUTE_READONLY, 0u);
  for (const char* name : {"f0.dat", "f150.dat", "f299.dat", "case.txt", "link.txt"})
    EXPECT_FALSE(HostExists(C("together/") + name)) << name;
  EXPECT_TRUE(HostExists(outside_));
  EXPECT_TRUE(HostExists(C("target.txt")));

  // None at all, and again once the holders let go.
  together.RemoveFiles({}, results);
  EXPECT_TRUE(results.empty());
  heldB.Close();
  imageB.Release();
  together.RemoveFiles({L"held.txt", L"image.exe"}, results);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].status, ERROR_SUCCESS);
  EXPECT_EQ(results[1].status, ERROR_SUCCESS);
  EXPECT_FALSE(HostExists(C("together/held.txt")));
}

// Files removed together where the table of open handles was read before a holder ended: the
// conflict it shows is asked of the table read afresh, and where the folder cannot be worked in
// directly (a link in its place) each name goes by its path, which refuses to follow.
TEST_F(FolderRemoval, FilesRemovedTogetherAskAFreshTableAndNeverFollowAFolderLink) {
  const pid_t holder = BoxWithAHeldFile();
  ASSERT_GT(holder, 0);
  FolderRemover folder(L"C:\\box");
  std::vector<FolderRemover::Removed> results;
  folder.RemoveFiles({L"1.txt", L"2.txt"}, results);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].status, ERROR_SUCCESS);
  EXPECT_EQ(results[1].status, ERROR_SHARING_VIOLATION);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  folder.RemoveFiles({L"2.txt", L"3.txt"}, results);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].status, ERROR_SUCCESS);
  EXPECT_EQ(results[1].status, ERROR_SUCCESS);
  EXPECT_FALSE(HostExists(C("box/2.txt")));

  // The folder is a link to a folder outside the machine: nothing there is deleted.
  ASSERT_TRUE(hostio::MakeDirs(temp_ + "/elsewhere"));
  WriteHost(temp_ + "/elsewhere/a.txt", "keep");
  ASSERT_EQ(::symlink((temp_ + "/elsewhere").c_str(), C("linked").c_str()), 0);
  FolderRemover linked(L"C:\\linked");
  linked.RemoveFiles({L"a.txt"}, results);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].status, DeleteFileW(L"C:\\linked\\a.txt"));
  EXPECT_NE(results[0].status, ERROR_SUCCESS);
  EXPECT_TRUE(HostExists(temp_ + "/elsewhere/a.txt"));
}

// A handle of a process that has ended since the table was last read does not keep a file.
TEST_F(FolderRemoval, AHandleOfAProcessThatEndedSinceDoesNotKeepTheFile) {
  const pid_t holder = BoxWithAHeldFile();
  ASSERT_GT(holder, 0);
  FolderRemover folder(L"C:\\box");
  std::uint64_t size = 0;
  EXPECT_EQ(folder.RemoveFile(L"1.txt", size), ERROR_SUCCESS);
  EXPECT_EQ(folder.RemoveFile(L"2.txt", size), ERROR_SHARING_VIOLATION);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_EQ(folder.RemoveFile(L"2.txt", size), ERROR_SUCCESS);
  EXPECT_EQ(folder.RemoveFile(L"3.txt", size), ERROR_SUCCESS);
  EXPECT_FALSE(HostExists(C("box/2.txt")));
}

// What a listing read of an entry stands for it only while the name holds that very file,
// unchanged: one made read-only, swapped for another file or for a link since is judged as it
// is now.
TEST_F(FolderRemoval, AListingsAttributesStandOnlyForTheFileListedUnchanged) {
  ASSERT_EQ(CreateDirectoryW(L"C:\\listed"), ERROR_SUCCESS);
  for (const wchar_t* name : {L"same.txt", L"ro.txt", L"swapped.txt", L"linked.txt", L"old.txt"})
    ASSERT_EQ(WriteWholeFile(std::wstring(L"C:\\listed\\") + name, "x"), ERROR_SUCCESS);
  ASSERT_EQ(SetFileAttributesW(L"C:\\listed\\old.txt", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  std::vector<FindData> entries;
  // Changed this very second: its listing does not vouch for it.
  ASSERT_EQ(FindAll(L"C:\\listed\\*", entries), ERROR_SUCCESS);
  for (const FindData& e : entries) EXPECT_EQ(e.changeStamp, 0u) << ToUtf8(e.fileName);
  // Settled: the listing does, while nothing changes.
  ::usleep(1100 * 1000);
  ASSERT_EQ(FindAll(L"C:\\listed\\*", entries), ERROR_SUCCESS);
  auto listed = [&](const wchar_t* name) -> FindData {
    for (const FindData& e : entries)
      if (e.fileName == name) return e;
    ADD_FAILURE() << ToUtf8(name) << " is not listed";
    return FindData();
  };
  const FindData same = listed(L"same.txt"), ro = listed(L"ro.txt"),
                 swapped = listed(L"swapped.txt"), linked = listed(L"linked.txt"),
                 old = listed(L"old.txt");
  EXPECT_NE(same.fileId, 0u);
  EXPECT_NE(same.changeStamp, 0u);
  EXPECT_NE(same.fileId, ro.fileId);

  // Made read-only after the listing: refused, as by path, and kept.
  ASSERT_EQ(SetFileAttributesW(L"C:\\listed\\ro.txt", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  // Replaced by a read-only file of the same name.
  ASSERT_EQ(::rename(C("listed/swapped.txt").c_str(), C("listed/gone.txt").c_str()), 0);
  ASSERT_EQ(WriteWholeFile(L"C:\\listed\\swapped.txt", "y"), ERROR_SUCCESS);
  ASSERT_EQ(SetFileAttributesW(L"C:\\listed\\swapped.txt", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  // Replaced by a link to a file outside the machine.
  const std::string outside = temp_ + "/outside.txt";
  WriteHost(outside, "keep");
  ASSERT_EQ(::unlink(C("listed/linked.txt").c_str()), 0);
  ASSERT_EQ(::symlink(outside.c_str(), C("listed/linked.txt").c_str()), 0);
  // Its read-only attribute reset after the listing: it may go now.
  ASSERT_EQ(SetFileAttributesW(L"C:\\listed\\old.txt", FILE_ATTRIBUTE_NORMAL), ERROR_SUCCESS);

  FolderRemover folder(L"C:\\listed");
  EXPECT_EQ(folder.DeleteFile(L"same.txt", &same), ERROR_SUCCESS);
  EXPECT_EQ(folder.DeleteFile(L"ro.txt", &ro), ERROR_ACCESS_DENIED);
  EXPECT_EQ(folder.DeleteFile(L"swapped.txt", &swapped), ERROR_ACCESS_DENIED);
  EXPECT_EQ(folder.DeleteFile(L"linked.txt", &linked), ERROR_ACCESS_DENIED);  // out of the machine
  EXPECT_EQ(folder.DeleteFile(L"old.txt", &old), ERROR_SUCCESS);
  EXPECT_FALSE(HostExists(C("listed/same.txt")));
  EXPECT_TRUE(HostExists(C("listed/ro.txt")));
  EXPECT_TRUE(HostExists(C("listed/swapped.txt")));
  EXPECT_FALSE(HostExists(C("listed/old.txt")));
  EXPECT_TRUE(HostExists(C("listed/linked.txt")));
  EXPECT_TRUE(HostExists(outside));

  // A listing for sizes reads no stored attributes: folders and links are still told apart.
  ASSERT_EQ(CreateDirectoryW(L"C:\\listed\\sub"), ERROR_SUCCESS);
  ASSERT_EQ(FindAll(L"C:\\listed\\*", entries, false, false), ERROR_SUCCESS);
  bool sawSub = false, sawRo = false;
  for (const FindData& e : entries) {
    if (e.fileName == L"sub") {
      sawSub = true;
      EXPECT_EQ(e.attributes, FILE_ATTRIBUTE_DIRECTORY);
    } else if (e.fileName == L"ro.txt") {
      sawRo = true;
      EXPECT_EQ(e.attributes, FILE_ATTRIBUTE_NORMAL);
      EXPECT_EQ(e.size, 1u);
    }
  }
  EXPECT_TRUE(sawSub);
  EXPECT_TRUE(sawRo);
}

TEST_F(FolderRemoval, APathLongerThanWindowsAllowsIsRefusedAsByPath) {
  const std::wstring deep = L"C:\\" + std::wstring(200, L'd');
  ASSERT_EQ(CreateDirectoryW(deep), ERROR_SUCCESS);
  const std::wstring name(60, L'n');
  // Made through the long form, which lifts the limit.
  ASSERT_EQ(WriteWholeFile(L"\\\\?\\" + deep + L"\\" + name, "x"), ERROR_SUCCESS);
  FolderRemover folder(deep);
  const DWORD byPath = DeleteFileW(deep + L"\\" + name);
  EXPECT_NE(byPath, ERROR_SUCCESS);
  EXPECT_EQ(folder.DeleteFile(name), byPath);
  EXPECT_TRUE(PathFileExistsW(L"\\\\?\\" + deep + L"\\" + name));
  FolderRemover longForm(L"\\\\?\\" + deep);
  EXPECT_EQ(longForm.DeleteFile(name), ERROR_SUCCESS);
  EXPECT_FALSE(PathFileExistsW(L"\\\\?\\" + deep + L"\\" + name));
}

TEST_F(FolderRemoval, AKeptFolderSwappedForALinkIsNeverFollowed) {
  const std::string outside = temp_ + "/outside";
  ASSERT_TRUE(hostio::MakeDirs(outside));
  WriteHost(outside + "/2.txt", "theirs");
  ASSERT_EQ(CreateDirectoryW(L"C:\\box"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\box\\1.txt", "1"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\box\\2.txt", "2"), ERROR_SUCCESS);
  FolderRemover folder(L"C:\\box");
  ASSERT_EQ(folder.DeleteFile(L"1.txt"), ERROR_SUCCESS);
  // The folder is moved away and a link to a folder outside the machine put in its place.
  ASSERT_EQ(::rename(C("box").c_str(), C("box.moved").c_str()), 0);
  ASSERT_EQ(::symlink(outside.c_str(), C("box").c_str()), 0);
  // The kept folder is the one that was opened: its file goes, the outside one stays.
  EXPECT_EQ(folder.DeleteFile(L"2.txt"), ERROR_SUCCESS);
  EXPECT_FALSE(HostExists(C("box.moved/2.txt")));
  EXPECT_TRUE(HostExists(outside + "/2.txt"));
  // A remover that meets the link afresh answers as the path does and touches nothing outside.
  FolderRemover afresh(L"C:\\box");
  EXPECT_EQ(afresh.DeleteFile(L"2.txt"), DeleteFileW(L"C:\\box\\2.txt"));
  EXPECT_EQ(afresh.SetAttributes(L"2.txt", FILE_ATTRIBUTE_READONLY),
            SetFileAttributesW(L"C:\\box\\2.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(HostExists(outside + "/2.txt"));
  char buf[64];
  EXPECT_LT(::lgetxattr((outside + "/2.txt").c_str(), "user.DOSATTRIB", buf, sizeof buf), 0);
}

MachineConfig StandardUser() {
  MachineConfig c = MachineConfig::Defaults();
  c.memberships = {L"Users"};
  return c;
}

void Store(const std::string& host, const std::string& sddl) {
  ASSERT_EQ(::lsetxattr(host.c_str(), "user.NTSD", sddl.data(), sddl.size(), 0), 0) << host;
}

TEST(FolderRemovalSecurity, TheFolderOrTheFileLetsItGoAndAChangedListIsAskedAgain) {
  tltest::ScopedMachine m(StandardUser());
  // Windows\Temp gives CREATOR OWNER full control: the user's own folder and files.
  ASSERT_EQ(CreateDirectoryW(L"C:\\Windows\\Temp\\box"), ERROR_SUCCESS);
  for (const wchar_t* name : {L"1.txt", L"2.txt", L"3.txt"})
    ASSERT_EQ(WriteWholeFile(std::wstring(L"C:\\Windows\\Temp\\box\\") + name, "x"), ERROR_SUCCESS);
  const std::string onlySystem = "O:SYG:SYD:P(A;OICI;FA;;;SY)";
  const std::string box = m.C("Windows/Temp/box");
  FolderRemover folder(L"C:\\Windows\\Temp\\box");
  // The folder's list lets the user delete its entries: that is enough.
  EXPECT_EQ(folder.DeleteFile(L"1.txt"), ERROR_SUCCESS);
  // The folder now lets only SYSTEM delete; the file's own list still lets the user. The
  // folder's list is written on the host, without the machine's passing on: the list the file
  // reads from the folder is written on it first, as the machine does before such a change.
  SecurityDescriptor had;
  ASSERT_EQ(GetObjectSecurity(L"C:\\Windows\\Temp\\box\\2.txt", SE_FILE_OBJECT, had),
            ERROR_SUCCESS);
  Store(box + "/2.txt", ToUtf8(had.ToSddl()));
  Store(box, onlySystem);
  EXPECT_EQ(folder.DeleteFile(L"2.txt"), ERROR_SUCCESS);
  // Neither lets the user: refused, as by path.
  Store(box + "/3.txt", onlySystem);
  EXPECT_EQ(DeleteFileW(L"C:\\Windows\\Temp\\box\\3.txt"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(folder.DeleteFile(L"3.txt"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(HostExists(box + "/3.txt"));
  // The folder's list changes back: asked again, and the file goes.
  const std::string userFull =
      "O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;" + ToUtf8(CurrentUserSid()) + ")";
  Store(box, userFull);
  EXPECT_EQ(folder.DeleteFile(L"3.txt"), ERROR_SUCCESS);
  EXPECT_FALSE(HostExists(box + "/3.txt"));
  // And where the user may delete nothing at all, nothing goes.
  FolderRemover windows(L"C:\\Windows");
  EXPECT_EQ(windows.DeleteFile(L"win.ini"), DeleteFileW(L"C:\\Windows\\win.ini"));
}

}  // namespace
