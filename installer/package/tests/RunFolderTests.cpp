// The run folders below TEMP: made with their note, released, and taken away after a run that
// was killed, never anything else.
#include "package/DataStorage.h"
#include "package/RunFolder.h"
#include "package/tests/TestArchive.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Processes.h"
#include "platform/Restart.h"
#include "platform/Text.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace platform;

std::string HostOf(const std::wstring& path) { return ToHostPath(path); }

std::string NoteFor(const std::string& folderName, long pid, std::uint64_t started) {
  return "TOLMERA Setup run folder\r\nfolder=" + folderName + "\r\nprocess=" + std::to_string(pid) +
         "\r\nstarted=" + std::to_string(started) + "\r\n";
}

// The id of a process that has ended (and been reaped).
long EndedProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

class RunFolders : public ::testing::Test {
 protected:
  void SetUp() override { temp = GetTempPathW(); }
  // A folder of a run in TEMP with a file, a read-only file in a sub-folder, and its note.
  std::wstring Planted(const std::string& name, const std::string& note) {
    const std::wstring folder = temp + FromUtf8(name);
    EXPECT_EQ(CreateDirectoryWithParents(folder + L"\\images"), ERROR_SUCCESS);
    EXPECT_EQ(WriteWholeFile(folder + L"\\InstallScript.cfg", "<script/>"), ERROR_SUCCESS);
    EXPECT_EQ(WriteWholeFile(folder + L"\\images\\logo.bmp", "BM"), ERROR_SUCCESS);
    SetFileAttributesW(folder + L"\\images\\logo.bmp", FILE_ATTRIBUTE_READONLY);
    if (!note.empty()) {
      EXPECT_EQ(WriteWholeFile(folder + L".run", note), ERROR_SUCCESS);
    }
    return folder;
  }

  tltest::ScopedMachine machine;
  std::wstring temp;
  const long self = ::getpid();
};

}  // namespace

TEST_F(RunFolders, AFolderIsMadeWithItsNoteAndTheNoteGoesAfterIt) {
  bool noted = false;
  const std::wstring folder = DataStorage::MakeRunFolder(temp, L"SetupX", noted);
  ASSERT_TRUE(noted);
  ASSERT_TRUE(PathIsDirectoryW(folder));
  const std::wstring name = folder.substr(temp.size());
  ASSERT_EQ(name.size(), 6u + 1 + 8) << ToUtf8(name);
  EXPECT_EQ(name.substr(0, 7), L"SetupX-");
  std::string note;
  ASSERT_EQ(ReadWholeFile(folder + L".run", note), ERROR_SUCCESS);
  EXPECT_EQ(note, NoteFor(ToUtf8(name), self, ProcessStartStamp(self)));

  // Released while the folder waits for the next start: the note goes at that start, after it.
  DataStorage::ReleaseRunFolder(folder);
  EXPECT_TRUE(PathFileExistsW(folder + L".run"));
  auto pending = PendingFileOperations();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].source, folder + L".run");
  EXPECT_TRUE(pending[0].destination.empty());

  ASSERT_EQ(RemoveDirectoryW(folder), ERROR_SUCCESS);
  DataStorage::ReleaseRunFolder(folder);
  EXPECT_FALSE(PathFileExistsW(folder + L".run"));
}

TEST_F(RunFolders, OnlyTheFoldersOfEndedRunsAreTakenAway) {
  const long ended = EndedProcess();
  const std::uint64_t started = ProcessStartStamp(self);
  ASSERT_NE(started, 0u);
  ASSERT_EQ(ProcessStartStamp(ended), 0u) << "an ended process has no start";

  const std::wstring killed = Planted("SetupA-00000001", NoteFor("SetupA-00000001", ended, 77));
  // The id of this process, but of a process that started at another time.
  const std::wstring reused =
      Planted("SetupA-00000002", NoteFor("SetupA-00000002", self, started + 1));
  // A note of an ended run without its folder (killed before the folder was made).
  ASSERT_EQ(WriteWholeFile(temp + L"SetupA-00000003.run", NoteFor("SetupA-00000003", ended, 77)),
            ERROR_SUCCESS);
  // A link inside a killed run's folder goes as the link; what it leads to stays.
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Users\\User\\Documents\\mine"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Users\\User\\Documents\\mine\\keep.txt", "keep me"),
            ERROR_SUCCESS);
  const std::string mine = HostOf(L"C:\\Users\\User\\Documents\\mine");
  ASSERT_EQ(::symlink(mine.c_str(), (HostOf(killed) + "/linked").c_str()), 0);

  // What stays: a live run's folder, the user's folder of a like name, a note that names
  // another folder, a note that is not one of ours, a folder name of another form, and a link
  // in the place of a folder.
  const std::wstring live = Planted("SetupA-00000010", NoteFor("SetupA-00000010", self, started));
  const std::wstring users = Planted("SetupA-00000011", "");
  const std::wstring other = Planted("SetupA-00000012", NoteFor("SetupA-00000013", ended, 77));
  const std::wstring garbled =
      Planted("SetupA-00000014", NoteFor("SetupA-00000014", ended, 77) + "more\r\n");
  const std::wstring form = Planted("SetupA-0000001G", NoteFor("SetupA-0000001G", ended, 77));
  const std::string linkPlace = HostOf(temp) + "/SetupA-00000015";
  ASSERT_EQ(::symlink(mine.c_str(), linkPlace.c_str()), 0);
  ASSERT_EQ(WriteWholeFile(temp + L"SetupA-00000015.run", NoteFor("SetupA-00000015", ended, 77)),
            ERROR_SUCCESS);

  EXPECT_EQ(DataStorage::RemoveEndedRunFolders(temp), 2u);
  EXPECT_FALSE(PathFileExistsW(killed));
  EXPECT_FALSE(PathFileExistsW(killed + L".run"));
  EXPECT_FALSE(PathFileExistsW(reused));
  EXPECT_FALSE(PathFileExistsW(reused + L".run"));
  EXPECT_FALSE(PathFileExistsW(temp + L"SetupA-00000003.run"));
  std::string kept;
  EXPECT_EQ(ReadWholeFile(L"C:\\Users\\User\\Documents\\mine\\keep.txt", kept), ERROR_SUCCESS);
  EXPECT_EQ(kept, "keep me");
  for (const std::wstring& folder : {live, users, other, garbled, form}) {
    EXPECT_TRUE(PathFileExistsW(folder + L"\\InstallScript.cfg")) << ToUtf8(folder);
    EXPECT_TRUE(PathFileExistsW(folder + L"\\images\\logo.bmp")) << ToUtf8(folder);
  }
  for (const std::wstring& folder : {live, other, garbled, form})
    EXPECT_TRUE(PathFileExistsW(folder + L".run")) << ToUtf8(folder);
  EXPECT_TRUE(std::filesystem::is_symlink(linkPlace));
  EXPECT_TRUE(PathFileExistsW(temp + L"SetupA-00000015.run"));
  EXPECT_TRUE(PendingFileOperations().empty());
}

TEST_F(RunFolders, ASweepLooksAtABoundedNumberOfNotes) {
  const long ended = EndedProcess();
  for (int i = 0; i < 5; ++i) {
    const std::string name = "SetupB-0000000" + std::to_string(i);
    Planted(name, NoteFor(name, ended, 77));
  }
  EXPECT_EQ(DataStorage::RemoveEndedRunFolders(temp, 3), 3u);
  EXPECT_EQ(DataStorage::RemoveEndedRunFolders(temp, 3), 2u);
  EXPECT_EQ(DataStorage::RemoveEndedRunFolders(temp, 3), 0u);
}

TEST_F(RunFolders, TheArchivesOpenTakesAwayAKilledRunsFolderAndItsCloseLeavesNothing) {
  const long ended = EndedProcess();
  const std::wstring killed = Planted("Setup-0000abcd", NoteFor("Setup-0000abcd", ended, 77));
  CreateDirectoryWithParents(L"C:\\Pkg");
  ASSERT_TRUE(tltest::WriteZip(HostOf(L"C:\\Pkg\\Setup.data"), {{"InstallScript.cfg", "<s/>"}}));
  {
    DataStorage::CDataStorage storage;
    ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
    EXPECT_FALSE(PathFileExistsW(killed));
    EXPECT_FALSE(PathFileExistsW(killed + L".run"));
    const std::wstring own = storage.GetTempFolder();
    EXPECT_TRUE(PathFileExistsW(own + L".run"));
    std::wstring path;
    ASSERT_TRUE(storage.ExtractFile(L"", L"InstallScript.cfg", path));
    storage.Close();
    EXPECT_FALSE(PathFileExistsW(own));
    EXPECT_FALSE(PathFileExistsW(own + L".run"));
  }
  std::vector<FindData> left;
  ASSERT_EQ(FindAll(temp + L"*", left), ERROR_SUCCESS);
  EXPECT_TRUE(left.empty()) << ToUtf8(left.front().fileName);
}
