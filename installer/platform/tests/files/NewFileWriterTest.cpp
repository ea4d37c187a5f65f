// New files written unnamed and named when whole (what a named file is like, what others see
// while it is written, names taken before and meanwhile, what is left to FileHandle, folders
// swapped for links, the access lists the files get and obey), and appending to a log.
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Security.h"
#include "platform/Text.h"
#include "platform/Time.h"

#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace platform;

namespace {

std::size_t HostEntries(const std::string& dir) {
  std::size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    (void)e;
    ++n;
  }
  return n;
}

std::string Stored(const std::string& host) {
  char buf[4096];
  ssize_t n = ::lgetxattr(host.c_str(), "user.NTSD", buf, sizeof buf);
  return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

std::string Read(std::wstring_view path) {
  std::string bytes;
  EXPECT_EQ(ReadWholeFile(path, bytes), ERROR_SUCCESS) << ToUtf8(std::wstring(path));
  return bytes;
}

// Writes `bytes` as `path` through the writer; the status of the step that failed.
DWORD WriteNew(NewFileWriter& w, std::wstring_view path, const std::string& bytes,
               DWORD attributes = FILE_ATTRIBUTE_ARCHIVE, FileTime time = 0) {
  if (DWORD rc = w.Begin(path, attributes)) return rc;
  if (DWORD rc = w.Write(bytes.data(), bytes.size())) return rc;
  return w.Finish(time);
}

class NewFiles : public tltest::MachineTest {
 protected:
  void SetUp() override {
    tltest::MachineTest::SetUp();
    ASSERT_EQ(CreateDirectoryW(L"C:\\out"), ERROR_SUCCESS);
  }
};

TEST_F(NewFiles, ANamedFileHasItsBytesAttributesAndTime) {
  NewFileWriter w;
  const FileTime time = FileTimeFromUnix(1500000000, 0);
  ASSERT_EQ(WriteNew(w, L"C:\\out\\a.txt", "hello",
                     FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, time),
            ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\out\\a.txt"), "hello");
  FileInfo info;
  ASSERT_EQ(GetFileAttributesExW(L"C:\\out\\a.txt", info), ERROR_SUCCESS);
  EXPECT_EQ(info.attributes, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(info.lastWriteTime, time);
  EXPECT_EQ(info.size, 5u);
  // The read-only attribute holds as for any file.
  FileHandle h;
  EXPECT_EQ(h.Open(L"C:\\out\\a.txt", GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_ACCESS_DENIED);

  // FILE_ATTRIBUTE_NORMAL stores none; an empty file and one in the drive's root work too.
  ASSERT_EQ(WriteNew(w, L"C:\\out\\plain.bin", "", FILE_ATTRIBUTE_NORMAL), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(L"C:\\out\\plain.bin"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(Read(L"C:\\out\\plain.bin"), "");
  ASSERT_EQ(WriteNew(w, L"C:\\top.txt", "t"), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\top.txt"), "t");
  EXPECT_EQ(GetFileAttributesW(L"C:\\top.txt"), FILE_ATTRIBUTE_ARCHIVE);

  // A name found missing and then made is known to the look-ups at once, in any case.
  EXPECT_TRUE(PathFileExistsW(L"C:\\OUT\\A.TXT"));
  EXPECT_EQ(w.Begin(L"C:\\out\\A.Txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_FILE_EXISTS);
}

TEST_F(NewFiles, NothingIsSeenBeforeTheNameAndAFileGivenUpLeavesNothing) {
  const std::string out = C("out");
  {
    NewFileWriter w;
    ASSERT_EQ(w.Begin(L"C:\\out\\part.dat", FILE_ATTRIBUTE_ARCHIVE), ERROR_SUCCESS);
    ASSERT_EQ(w.Write("half", 4), ERROR_SUCCESS);
    // Neither the machine nor the host sees it, and its name is still free for anyone.
    EXPECT_FALSE(PathFileExistsW(L"C:\\out\\part.dat"));
    EXPECT_EQ(HostEntries(out), 0u);
    w.Abandon();
    EXPECT_EQ(w.Finish(0), ERROR_INVALID_HANDLE);
    EXPECT_EQ(HostEntries(out), 0u);

    // A writer that goes without naming its file leaves nothing either.
    ASSERT_EQ(w.Begin(L"C:\\out\\part.dat", FILE_ATTRIBUTE_ARCHIVE), ERROR_SUCCESS);
    ASSERT_EQ(w.Write("more", 4), ERROR_SUCCESS);
  }
  EXPECT_EQ(HostEntries(out), 0u);
  // A new Begin gives up the file begun before it.
  NewFileWriter w;
  ASSERT_EQ(w.Begin(L"C:\\out\\first.dat", FILE_ATTRIBUTE_ARCHIVE), ERROR_SUCCESS);
  ASSERT_EQ(WriteNew(w, L"C:\\out\\second.dat", "2"), ERROR_SUCCESS);
  EXPECT_FALSE(PathFileExistsW(L"C:\\out\\first.dat"));
  EXPECT_EQ(HostEntries(out), 1u);
  EXPECT_EQ(w.Write("x", 1), ERROR_INVALID_HANDLE);
}

TEST_F(NewFiles, ANameTakenInAnyCaseBeforeOrMeanwhileIsLeftAsItIs) {
  ASSERT_EQ(WriteWholeFile(L"C:\\out\\Readme.TXT", "theirs"), ERROR_SUCCESS);
  NewFileWriter w;
  EXPECT_EQ(w.Begin(L"C:\\out\\README.txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_FILE_EXISTS);
  ASSERT_EQ(CreateDirectoryW(L"C:\\out\\sub"), ERROR_SUCCESS);
  EXPECT_EQ(w.Begin(L"C:\\out\\SUB", FILE_ATTRIBUTE_ARCHIVE), ERROR_FILE_EXISTS);
  // Made on the host behind the layer's back (the folder changed, so it is looked at again).
  tltest::MachineTest::WriteHost(C("out/host.txt"), "host");
  EXPECT_EQ(w.Begin(L"C:\\out\\HOST.TXT", FILE_ATTRIBUTE_ARCHIVE), ERROR_FILE_EXISTS);

  // Taken while the new file was written: the one there stays, the new one goes.
  ASSERT_EQ(w.Begin(L"C:\\out\\late.txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_SUCCESS);
  ASSERT_EQ(w.Write("mine", 4), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\out\\late.txt", "first"), ERROR_SUCCESS);
  EXPECT_EQ(w.Finish(0), ERROR_FILE_EXISTS);
  EXPECT_EQ(Read(L"C:\\out\\late.txt"), "first");
  EXPECT_EQ(Read(L"C:\\out\\Readme.TXT"), "theirs");
  EXPECT_EQ(HostEntries(C("out")), 4u);
}

TEST_F(NewFiles, WhatTheWriterLeavesToFileHandleAndWhatItRefuses) {
  NewFileWriter w;
  // Names the path rules would change, devices, separators of the host, wildcards.
  for (const wchar_t* path : {L"C:\\out\\CON", L"C:\\out\\nul.txt", L"C:\\out\\dot.",
                              L"C:\\out\\blank ", L"C:\\out/slash", L"C:\\out\\a*b", L"C:\\out\\",
                              L"relative.txt", L"C:\\out\\..", L"C:\\out\\a:b"})
    EXPECT_EQ(w.Begin(path, FILE_ATTRIBUTE_ARCHIVE), ERROR_NOT_SUPPORTED) << ToUtf8(path);
  ASSERT_EQ(WriteWholeFile(L"C:\\out\\file", "f"), ERROR_SUCCESS);
  EXPECT_EQ(w.Begin(L"C:\\out\\file\\inner.txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_NOT_SUPPORTED);
  // What FileHandle would answer the same way.
  EXPECT_EQ(w.Begin(L"C:\\missing\\a.txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(w.Begin(L"Q:\\a.txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_PATH_NOT_FOUND);
  std::wstring longName(215, L'n');
  ASSERT_EQ(CreateDirectoryW(L"C:\\out\\" + std::wstring(40, L'd')), ERROR_SUCCESS);
  EXPECT_EQ(
      w.Begin(L"C:\\out\\" + std::wstring(40, L'd') + L"\\" + longName, FILE_ATTRIBUTE_ARCHIVE),
      ERROR_FILENAME_EXCED_RANGE);
  // The long form lifts the limit.
  EXPECT_EQ(WriteNew(w, L"\\\\?\\C:\\out\\" + std::wstring(40, L'd') + L"\\" + longName, "l"),
            ERROR_SUCCESS);
  EXPECT_EQ(Read(L"\\\\?\\C:\\out\\" + std::wstring(40, L'd') + L"\\" + longName), "l");
  // A name of other scripts is kept as it is.
  EXPECT_EQ(WriteNew(w, L"C:\\out\\\u0424\u0430\u0439\u043B.txt", "ru"), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\out\\\u0444\u0430\u0439\u043B.TXT"), "ru");
}

TEST_F(NewFiles, AKeptFolderSwappedForALinkIsNeverFollowed) {
  const std::string outside = temp_ + "/outside";
  ASSERT_TRUE(hostio::MakeDirs(outside));
  ASSERT_EQ(CreateDirectoryW(L"C:\\box"), ERROR_SUCCESS);
  NewFileWriter w;
  ASSERT_EQ(WriteNew(w, L"C:\\box\\1.txt", "1"), ERROR_SUCCESS);
  // The folder is moved away and a link to a folder outside the machine put in its place.
  ASSERT_EQ(rename(C("box").c_str(), C("box.moved").c_str()), 0);
  ASSERT_EQ(symlink(outside.c_str(), C("box").c_str()), 0);
  // The kept folder is the one that was checked: the file goes there, under its new name.
  EXPECT_EQ(WriteNew(w, L"C:\\box\\2.txt", "2"), ERROR_SUCCESS);
  EXPECT_EQ(HostEntries(outside), 0u);
  EXPECT_EQ(HostEntries(C("box.moved")), 2u);
  // A writer that meets the link afresh refuses it.
  w.Reset();
  EXPECT_EQ(w.Begin(L"C:\\box\\3.txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_ACCESS_DENIED);
  EXPECT_EQ(HostEntries(outside), 0u);

  // A kept folder removed meanwhile: the name cannot be given, and nothing lands elsewhere.
  ASSERT_EQ(unlink(C("box").c_str()), 0);
  ASSERT_EQ(CreateDirectoryW(L"C:\\gone"), ERROR_SUCCESS);
  ASSERT_EQ(WriteNew(w, L"C:\\gone\\a.txt", "a"), ERROR_SUCCESS);
  ASSERT_EQ(DeleteFileW(L"C:\\gone\\a.txt"), ERROR_SUCCESS);
  ASSERT_EQ(RemoveDirectoryW(L"C:\\gone"), ERROR_SUCCESS);
  EXPECT_EQ(WriteNew(w, L"C:\\gone\\b.txt", "b"), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(PathFileExistsW(L"C:\\gone"));
  // Removed while a file was written: no name, and the next folder is written as before.
  ASSERT_EQ(CreateDirectoryW(L"C:\\brief"), ERROR_SUCCESS);
  ASSERT_EQ(w.Begin(L"C:\\brief\\c.txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_SUCCESS);
  ASSERT_EQ(w.Write("c", 1), ERROR_SUCCESS);
  ASSERT_EQ(rmdir(C("brief").c_str()), 0);
  EXPECT_EQ(w.Finish(0), ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(CreateDirectoryW(L"C:\\later"), ERROR_SUCCESS);
  EXPECT_EQ(WriteNew(w, L"C:\\later\\d.txt", "d"), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\later\\d.txt"), "d");
}

MachineConfig StandardUser() {
  MachineConfig c = MachineConfig::Defaults();
  c.memberships = {L"Users"};
  return c;
}

TEST(NewFilesSecurity, TheFolderDecidesAndTheFileGetsWhatAHandleWouldGiveIt) {
  tltest::ScopedMachine m(StandardUser());
  NewFileWriter w;
  // Where the user may not add files, nothing is begun.
  EXPECT_EQ(w.Begin(L"C:\\Windows\\evil.dll", FILE_ATTRIBUTE_ARCHIVE), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(PathFileExistsW(L"C:\\Windows\\evil.dll"));
  // Windows\Temp gives CREATOR OWNER full control: the new file stores what a file made
  // through a handle stores there.
  ASSERT_EQ(WriteWholeFile(L"C:\\Windows\\Temp\\by-handle.tmp", "h"), ERROR_SUCCESS);
  ASSERT_EQ(WriteNew(w, L"C:\\Windows\\Temp\\by-writer.tmp", "w"), ERROR_SUCCESS);
  const std::string expected = Stored(m.C("Windows/Temp/by-handle.tmp"));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(Stored(m.C("Windows/Temp/by-writer.tmp")), expected);
  EXPECT_NE(expected.find("O:" + ToUtf8(CurrentUserSid())), std::string::npos) << expected;
  FileHandle h;
  EXPECT_EQ(h.Open(L"C:\\Windows\\Temp\\by-writer.tmp", GENERIC_WRITE, 0, OPEN_EXISTING),
            ERROR_SUCCESS);
  h.Close();
  EXPECT_EQ(DeleteFileW(L"C:\\Windows\\Temp\\by-writer.tmp"), ERROR_SUCCESS);

  // A folder of its own list (the creator's) whose list changes between two files: the
  // second is asked about afresh.
  ASSERT_EQ(CreateDirectoryW(L"C:\\Windows\\Temp\\box"), ERROR_SUCCESS);
  ASSERT_FALSE(Stored(m.C("Windows/Temp/box")).empty());
  ASSERT_EQ(WriteNew(w, L"C:\\Windows\\Temp\\box\\1.txt", "1"), ERROR_SUCCESS);
  ASSERT_EQ(WriteNew(w, L"C:\\Windows\\Temp\\box\\2.txt", "2"), ERROR_SUCCESS);
  const std::string onlySystem = "O:SYG:SYD:P(A;OICI;FA;;;SY)";
  ASSERT_EQ(::lsetxattr(m.C("Windows/Temp/box").c_str(), "user.NTSD", onlySystem.data(),
                        onlySystem.size(), 0),
            0);
  EXPECT_EQ(w.Begin(L"C:\\Windows\\Temp\\box\\3.txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_ACCESS_DENIED);
  EXPECT_EQ(HostEntries(m.C("Windows/Temp/box")), 2u);
}

}  // namespace

namespace {

class Appending : public tltest::MachineTest {};

TEST_F(Appending, AtTheEndAsAnOpenForWritingThatSharesReadingWould) {
  EXPECT_EQ(AppendToFile(L"C:\\log.txt", "x"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(WriteWholeFile(L"C:\\log.txt", "one\n"), ERROR_SUCCESS);
  ASSERT_EQ(SetFileAttributesW(L"C:\\log.txt", FILE_ATTRIBUTE_HIDDEN), ERROR_SUCCESS);
  ASSERT_EQ(AppendToFile(L"C:\\LOG.TXT", "two\n"), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\log.txt"), "one\ntwo\n");
  // Written to: the archive attribute comes back, the others stay.
  EXPECT_EQ(GetFileAttributesW(L"C:\\log.txt"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  {
    FileHandle reader;
    ASSERT_EQ(reader.Open(L"C:\\log.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          OPEN_EXISTING),
              ERROR_SUCCESS);
    EXPECT_EQ(AppendToFile(L"C:\\log.txt", "three\n"), ERROR_SUCCESS);
  }
  {
    FileHandle exclusive;
    ASSERT_EQ(exclusive.Open(L"C:\\log.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
              ERROR_SUCCESS);
    EXPECT_EQ(AppendToFile(L"C:\\log.txt", "four\n"), ERROR_SHARING_VIOLATION);
  }
  ASSERT_EQ(SetFileAttributesW(L"C:\\log.txt", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  EXPECT_EQ(AppendToFile(L"C:\\log.txt", "five\n"), ERROR_ACCESS_DENIED);
  ASSERT_EQ(CreateDirectoryW(L"C:\\dir"), ERROR_SUCCESS);
  EXPECT_EQ(AppendToFile(L"C:\\dir", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Read(L"C:\\log.txt"), "one\ntwo\nthree\n");
  // A link planted in the log's place is never written through.
  const std::string outside = temp_ + "/outside.txt";
  tltest::MachineTest::WriteHost(outside, "theirs");
  ASSERT_EQ(symlink(outside.c_str(), C("planted.txt").c_str()), 0);
  EXPECT_NE(AppendToFile(L"C:\\planted.txt", "x"), ERROR_SUCCESS);
  std::string kept;
  ASSERT_TRUE(hostio::ReadFile(outside, kept));
  EXPECT_EQ(kept, "theirs");
}

TEST_F(Appending, AnAppenderGoesTheWholeWayAgainOnceAnyoneTouchedTheFile) {
  FileAppender log;
  ASSERT_EQ(WriteWholeFile(L"C:\\run.log", ""), ERROR_SUCCESS);
  ASSERT_EQ(log.Append(L"C:\\run.log", "1"), ERROR_SUCCESS);
  ASSERT_EQ(log.Append(L"C:\\run.log", "2"), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\run.log"), "12");
  // Between appends the file is not open for the machine.
  {
    FileHandle h;
    ASSERT_EQ(h.Open(L"C:\\run.log", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING),
              ERROR_SUCCESS);
    // ... but an exclusive open made since is honoured.
    EXPECT_EQ(log.Append(L"C:\\run.log", "x"), ERROR_SHARING_VIOLATION);
  }
  // Renamed away: the next entry finds no file at the name, the moved one keeps what it had.
  ASSERT_EQ(MoveFileW(L"C:\\run.log", L"C:\\old.log"), ERROR_SUCCESS);
  EXPECT_EQ(log.Append(L"C:\\run.log", "3"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Read(L"C:\\old.log"), "12");
  // Another file under the name: written from then on.
  ASSERT_EQ(WriteWholeFile(L"C:\\run.log", "new:"), ERROR_SUCCESS);
  ASSERT_EQ(log.Append(L"C:\\run.log", "4"), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\run.log"), "new:4");
  // Written by someone else meanwhile: appended after their bytes.
  ASSERT_EQ(AppendToFile(L"C:\\run.log", "theirs"), ERROR_SUCCESS);
  ASSERT_EQ(log.Append(L"C:\\run.log", "5"), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\run.log"), "new:4theirs5");
  // Made read-only meanwhile (a change of its attributes only): refused.
  ASSERT_EQ(SetFileAttributesW(L"C:\\run.log", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  EXPECT_EQ(log.Append(L"C:\\run.log", "6"), ERROR_ACCESS_DENIED);
  ASSERT_EQ(SetFileAttributesW(L"C:\\run.log", FILE_ATTRIBUTE_NORMAL), ERROR_SUCCESS);
  // Deleted: gone for good, nothing written anywhere.
  ASSERT_EQ(DeleteFileW(L"C:\\run.log"), ERROR_SUCCESS);
  EXPECT_EQ(log.Append(L"C:\\run.log", "7"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(PathFileExistsW(L"C:\\run.log"));
  EXPECT_EQ(Read(L"C:\\old.log"), "12");
}

TEST(AppendingSecurity, AListChangedBetweenTwoEntriesIsAskedAgain) {
  tltest::ScopedMachine m(StandardUser());
  ASSERT_EQ(WriteWholeFile(L"C:\\Windows\\Temp\\setup.log", ""), ERROR_SUCCESS);
  FileAppender log;
  ASSERT_EQ(log.Append(L"C:\\Windows\\Temp\\setup.log", "a"), ERROR_SUCCESS);
  const std::string onlySystem = "O:SYG:SYD:P(A;;FA;;;SY)";
  ASSERT_EQ(::lsetxattr(m.C("Windows/Temp/setup.log").c_str(), "user.NTSD", onlySystem.data(),
                        onlySystem.size(), 0),
            0);
  EXPECT_EQ(log.Append(L"C:\\Windows\\Temp\\setup.log", "b"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(AppendToFile(L"C:\\Windows\\Temp\\setup.log", "c"), ERROR_ACCESS_DENIED);
}

}  // namespace
