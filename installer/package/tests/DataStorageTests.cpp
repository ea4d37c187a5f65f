#include "package/DataStorage.h"
#include "package/tests/TestArchive.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <gtest/gtest.h>
#include <unistd.h>

using DataStorage::CDataStorage;

namespace {

void MakeArchive(const std::wstring& path,
                 const std::vector<std::pair<std::string, std::string>>& entries) {
  std::wstring folder = path.substr(0, path.rfind(L'\\'));
  platform::CreateDirectoryWithParents(folder);
  ASSERT_TRUE(tltest::WriteZip(platform::ToHostPath(path), entries));
}

}  // namespace

TEST(DataStorage, OpenExtractAndCloseRemovesTheTemporaryFolder) {
  tltest::ScopedMachine machine;
  MakeArchive(L"C:\\Pkg\\Setup.data",
              {{"InstallScript.cfg", "<script/>"}, {"images/logo.bmp", "BM"}});
  CDataStorage storage;
  std::wstring none;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", &none));
  EXPECT_EQ(storage.GetState(), 1);
  EXPECT_EQ(storage.GetTempFolder(), platform::GetTempPathW() + L"Setup");

  // The same archive in another case stays open.
  EXPECT_TRUE(storage.Open(L"c:\\pkg\\SETUP.DATA", nullptr));
  EXPECT_EQ(storage.GetArchivePath(), L"C:\\Pkg\\Setup.data");

  std::wstring path;
  ASSERT_TRUE(storage.ExtractFile(L"", L"installscript.CFG", path));
  EXPECT_EQ(path, storage.GetTempFolder() + L"\\installscript.CFG");
  std::string bytes;
  ASSERT_EQ(platform::ReadWholeFile(path, bytes), platform::ERROR_SUCCESS);
  EXPECT_EQ(bytes, "<script/>");
  EXPECT_EQ(storage.GetState(), 2);

  // A stored name with "/" lands in the matching sub-folder; the backslash form finds it too.
  ASSERT_TRUE(storage.ExtractFile(L"C:\\Out", L"images\\logo.bmp", path));
  EXPECT_EQ(path, L"C:\\Out\\images\\logo.bmp");
  EXPECT_TRUE(platform::PathFileExistsW(L"C:\\Out\\images\\logo.bmp"));

  EXPECT_FALSE(storage.ExtractFile(L"", L"missing.txt", path));

  storage.Close();
  EXPECT_EQ(storage.GetState(), 0);
  EXPECT_FALSE(platform::PathFileExistsW(platform::GetTempPathW() + L"Setup"));
  // What was extracted elsewhere stays.
  EXPECT_TRUE(platform::PathFileExistsW(L"C:\\Out\\images\\logo.bmp"));
  EXPECT_FALSE(storage.ExtractFile(L"", L"InstallScript.cfg", path));
}

TEST(DataStorage, MissingOrBrokenArchives) {
  tltest::ScopedMachine machine;
  CDataStorage storage;
  EXPECT_FALSE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  platform::CreateDirectoryWithParents(L"C:\\Pkg");
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Pkg\\Setup.data", "not a zip"), platform::ERROR_SUCCESS);
  EXPECT_FALSE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  EXPECT_FALSE(storage.Open(L"C:\\Pkg", nullptr));
  EXPECT_EQ(storage.GetState(), 0);
}

TEST(DataStorage, EntryNamesOutsideTheDestinationAreRefused) {
  tltest::ScopedMachine machine;
  MakeArchive(L"C:\\Pkg\\Setup.data", {{"../evil.txt", "x"}, {"ok.txt", "y"}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  EXPECT_FALSE(storage.ExtractFile(L"C:\\Dest", L"..\\evil.txt", path));
  EXPECT_FALSE(storage.ExtractFile(L"C:\\Dest", L"C:\\evil.txt", path));
  EXPECT_FALSE(storage.ExtractFile(L"C:\\Dest", L"\\evil.txt", path));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\evil.txt"));
  EXPECT_TRUE(storage.ExtractFile(L"C:\\Dest", L"ok.txt", path));
}

TEST(DataStorage, TreeRemovalTakesLinksAsLinksAndNeverWalksThem) {
  tltest::ScopedMachine m;
  ASSERT_EQ(platform::CreateDirectoryWithParents(L"C:\\Temp\\run\\sub"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Temp\\run\\sub\\a.txt", "a"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Windows\\keep.txt", "keep"), platform::ERROR_SUCCESS);
  // Links inside the removed tree: to C:\Windows, and back up to the tree itself.
  ASSERT_EQ(::symlink(m.C("Windows").c_str(), m.C("Temp/run/win").c_str()), 0);
  ASSERT_EQ(::symlink(m.C("Temp/run").c_str(), m.C("Temp/run/sub/loop").c_str()), 0);
  EXPECT_TRUE(DataStorage::DeleteFolderTree(L"C:\\Temp\\run"));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Temp\\run"));
  EXPECT_TRUE(platform::PathFileExistsW(L"C:\\Windows\\keep.txt"));
  EXPECT_TRUE(platform::PathIsDirectoryW(L"C:\\Windows\\System32"));
}
