// The package folder, listed and packed with the installer's own packer, read back with its own
// reader; the archive is written whole or not at all.
#include "pack/PackageFiles.h"

#include "package/DataStorage.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"
#include "testing/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <utime.h>

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

namespace {

void Write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class PackageFiles : public ::testing::Test {
 protected:
  void SetUp() override { tltest::ResetProcessState(); }
  void TearDown() override { tltest::ResetProcessState(); }

  tltest::TempFolder source_{"tlpack-src-"};
  tltest::TempFolder output_{"tlpack-out-"};
  tltest::TempFolder outside_{"tlpack-outside-"};
};

TEST_F(PackageFiles, AFolderIsPackedWithItsNamesTimesAndContentAndNoLinkIsFollowed) {
  Write(source_ / "InstallScript.cfg", "<?xml version=\"1.0\"?><S/>");
  Write(source_ / "bin/Tools/run.exe", "#!/bin/sh\nexit 0\n");
  Write(source_ / "docs/r\xC3\xA9sum\xC3\xA9.txt", "accents");
  Write(outside_ / "secret.txt", "not for the package");
  fs::create_symlink(outside_ / "secret.txt", source_ / "docs/link.txt");
  fs::create_directory_symlink(outside_.Path(), source_ / "elsewhere");
  // A time of its own for one file, in the past.
  struct utimbuf times {
    1500000000, 1500000000
  };
  ASSERT_EQ(::utime((source_ / "bin/Tools/run.exe").c_str(), &times), 0);

  TlPack::ToolMachine machine(source_.Path(), output_.Path());
  TlPack::FolderListing listing;
  std::wstring error;
  ASSERT_TRUE(TlPack::ListFolder(TlPack::ToolMachine::kSource, listing, error))
      << platform::ToUtf8(error);
  EXPECT_THAT(
      listing.contents.Names(),
      ElementsAre(L"bin\\Tools\\run.exe", L"docs\\r\u00e9sum\u00e9.txt", L"InstallScript.cfg"));
  EXPECT_THAT(listing.skipped, UnorderedElementsAre(L"docs\\link.txt", L"elsewhere"));

  const std::wstring archive = std::wstring(TlPack::ToolMachine::kOutput) + L"Setup.data";
  ASSERT_TRUE(
      TlPack::WriteArchive(TlPack::ToolMachine::kSource, listing.contents.Names(), archive, error))
      << platform::ToUtf8(error);
  EXPECT_TRUE(fs::exists(output_ / "Setup.data"));
  EXPECT_FALSE(fs::exists(output_ / ".Setup.data.partial"));

  // Read back by the installer's reader: the names, the bytes and the times.
  TlPack::PackageContents back;
  ASSERT_TRUE(TlPack::ListArchive(archive, back, error));
  EXPECT_EQ(back.Names(), listing.contents.Names());
  std::string bytes;
  ASSERT_TRUE(TlPack::ReadArchiveEntry(archive, L"DOCS/R\u00c9SUM\u00c9.TXT", bytes, error));
  EXPECT_EQ(bytes, "accents");

  DataStorage::CUnzipper unzipper;
  ASSERT_TRUE(unzipper.Open(archive));
  ASSERT_TRUE(unzipper.Locate(L"bin\\Tools\\run.exe"));
  const std::wstring target = L"C:\\unpacked";
  std::wstring written;
  ASSERT_TRUE(unzipper.UnzipFile(&target, false, nullptr, &written));
  platform::FileInfo unpacked, original;
  ASSERT_EQ(platform::GetFileAttributesExW(written, unpacked), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::GetFileAttributesExW(L"S:\\bin\\Tools\\run.exe", original),
            platform::ERROR_SUCCESS);
  // The DOS time of an entry has two-second steps.
  const auto delta = static_cast<long long>(unpacked.lastWriteTime) -
                     static_cast<long long>(original.lastWriteTime);
  EXPECT_LE(std::llabs(delta), 20'000'000LL) << "the file's time is not kept";
  unzipper.Close();
}

TEST_F(PackageFiles, AnArchiveThatCannotBeCompletedLeavesTheEarlierOneAsItWas) {
  Write(source_ / "InstallScript.cfg", "<?xml version=\"1.0\"?><S/>");
  Write(output_ / "Setup.data", "the earlier archive");
  TlPack::ToolMachine machine(source_.Path(), output_.Path());
  std::wstring error;
  EXPECT_FALSE(TlPack::WriteArchive(TlPack::ToolMachine::kSource,
                                    {L"InstallScript.cfg", L"gone\\missing.txt"}, L"W:\\Setup.data",
                                    error));
  EXPECT_EQ(error, L"gone\\missing.txt cannot be packed");
  EXPECT_EQ(ReadAll(output_ / "Setup.data"), "the earlier archive");
  EXPECT_FALSE(fs::exists(output_ / ".Setup.data.partial"));
}

TEST_F(PackageFiles, ThePackageFolderCannotBeWrittenThroughItsDrive) {
  Write(source_ / "InstallScript.cfg", "<?xml version=\"1.0\"?><S/>");
  TlPack::ToolMachine machine(source_.Path(), output_.Path());
  EXPECT_EQ(platform::WriteWholeFile(L"S:\\planted.txt", "x"), platform::ERROR_WRITE_PROTECT);
  EXPECT_FALSE(fs::exists(source_ / "planted.txt"));
}

TEST_F(PackageFiles, AFileThatIsNotAnArchiveIsRefusedWithItsReason) {
  Write(output_ / "notes.txt", "plain text");
  TlPack::ToolMachine machine("", output_.Path());
  TlPack::PackageContents contents;
  std::wstring error;
  EXPECT_FALSE(TlPack::ListArchive(L"W:\\notes.txt", contents, error));
  EXPECT_EQ(error, L"W:\\notes.txt cannot be opened as a package archive");
  std::string bytes;
  EXPECT_FALSE(TlPack::ReadArchiveEntry(L"W:\\missing.data", L"InstallScript.cfg", bytes, error));
}

TEST_F(PackageFiles, TheToolMachineGoesWithItsObject) {
  std::string root;
  {
    TlPack::ToolMachine machine;
    root = platform::Machine::Current().Root();
    EXPECT_TRUE(fs::exists(root + "/machine.ini"));
  }
  EXPECT_FALSE(fs::exists(root));
}

}  // namespace
