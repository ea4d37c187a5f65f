#include "package/DataStorage.h"
#include "package/tests/TestArchive.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "platform/Time.h"

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
  // A folder of its own, made by the open: "Setup-" and eight hexadecimal digits.
  const std::wstring temp = storage.GetTempFolder();
  ASSERT_TRUE(platform::StartsWithNoCase(temp, platform::GetTempPathW() + L"Setup-"));
  EXPECT_EQ(temp.size(), platform::GetTempPathW().size() + 5 + 1 + 8);
  EXPECT_TRUE(platform::PathIsDirectoryW(temp));

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
  EXPECT_FALSE(platform::PathFileExistsW(temp));
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

namespace {

// Every name below the user's TEMP, as "<relative path>" lines in enumeration order.
std::vector<std::wstring> TempTree(const std::wstring& folder = platform::GetTempPathW()) {
  std::vector<std::wstring> out;
  std::vector<platform::FindData> entries;
  platform::FindAll(folder + L"*", entries);
  for (const auto& e : entries) {
    out.push_back(folder + e.fileName);
    if (e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY)
      for (const auto& inner : TempTree(folder + e.fileName + L"\\")) out.push_back(inner);
  }
  return out;
}

void WriteFile(const std::wstring& path, const std::string& text) {
  platform::CreateDirectoryWithParents(path.substr(0, path.rfind(L'\\')));
  ASSERT_EQ(platform::WriteWholeFile(path, text), platform::ERROR_SUCCESS);
}

std::string ReadFile(const std::wstring& path) {
  std::string bytes;
  EXPECT_EQ(platform::ReadWholeFile(path, bytes), platform::ERROR_SUCCESS);
  return bytes;
}

}  // namespace

TEST(DataStorage, APlantedOrStaleScriptInTempIsNeverUsed) {
  tltest::ScopedMachine machine;
  const std::wstring temp = platform::GetTempPathW();
  // What a crashed run of another package, or anyone who can write TEMP, left behind: a newer
  // script where the old scheme unpacked this package.
  WriteFile(temp + L"Setup\\InstallScript.cfg", "<planted/>");
  ASSERT_EQ(platform::SetFileLastWriteTime(temp + L"Setup\\InstallScript.cfg",
                                           platform::GetSystemTimeAsFileTime() + 36000000000ull),
            platform::ERROR_SUCCESS);
  MakeArchive(L"C:\\Pkg\\Setup.data", {{"InstallScript.cfg", "<package/>"}});
  CDataStorage first, second;
  ASSERT_TRUE(first.Open(L"C:\\Pkg\\Setup.data", nullptr));
  ASSERT_TRUE(second.Open(L"C:\\Pkg\\Setup.data", nullptr));
  EXPECT_NE(first.GetTempFolder(), second.GetTempFolder());  // two runs never share one
  std::wstring path;
  ASSERT_TRUE(first.ExtractFile(L"", L"InstallScript.cfg", path));
  EXPECT_EQ(ReadFile(path), "<package/>");
  first.Close();
  second.Close();
  // What was there before is left as it was.
  EXPECT_EQ(ReadFile(temp + L"Setup\\InstallScript.cfg"), "<planted/>");
}

TEST(DataStorage, TheCleanUpRemovesOnlyWhatTheRunExtracted) {
  tltest::ScopedMachine machine;
  const std::wstring temp = platform::GetTempPathW();
  WriteFile(temp + L"keep.txt", "another program's");
  WriteFile(temp + L"Setup\\other.txt", "another program's Setup folder");
  WriteFile(temp + L"Other\\deep\\x.txt", "x");
  const std::vector<std::wstring> before = TempTree();
  // Names that once led the clean-up to TEMP itself, to another program's folder, or to the
  // package's own folder.
  for (const std::wstring& archive :
       {std::wstring(L"C:\\Pkg\\.data"), std::wstring(L"C:\\Pkg\\..data"),
        std::wstring(L"C:\\Pkg\\Setup.data"), temp + L"Setup\\Setup.data"}) {
    MakeArchive(archive, {{"InstallScript.cfg", "<s/>"}, {"img/a.png", "png"}});
    const std::vector<std::wstring> withPackage = TempTree();
    {
      CDataStorage storage;
      ASSERT_TRUE(storage.Open(archive, nullptr)) << platform::ToUtf8(archive);
      std::wstring path;
      ASSERT_TRUE(storage.ExtractFile(L"", L"InstallScript.cfg", path));
      ASSERT_TRUE(storage.ExtractFolder(L"", L"img", path, L""));
      storage.Close();
    }
    EXPECT_EQ(TempTree(), withPackage) << platform::ToUtf8(archive);
    EXPECT_TRUE(platform::PathFileExistsW(archive)) << platform::ToUtf8(archive);
    if (!platform::StartsWithNoCase(archive, temp)) platform::DeleteFileW(archive);
  }
  EXPECT_EQ(ReadFile(temp + L"keep.txt"), "another program's");
  EXPECT_EQ(ReadFile(temp + L"Setup\\other.txt"), "another program's Setup folder");
  EXPECT_EQ(ReadFile(temp + L"Other\\deep\\x.txt"), "x");
}

TEST(DataStorage, WhatOthersPutIntoTheRunsFolderStays) {
  tltest::ScopedMachine machine;
  MakeArchive(L"C:\\Pkg\\Setup.data", {{"img/a.png", "png"}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  ASSERT_TRUE(storage.ExtractFolder(L"", L"img", path, L""));
  const std::wstring temp = storage.GetTempFolder();
  WriteFile(temp + L"\\img\\theirs.txt", "not the run's");
  storage.Close();
  EXPECT_FALSE(platform::PathFileExistsW(temp + L"\\img\\a.png"));
  EXPECT_EQ(ReadFile(temp + L"\\img\\theirs.txt"), "not the run's");
}
