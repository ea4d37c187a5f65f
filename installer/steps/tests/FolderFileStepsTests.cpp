// The folders and files steps on real archives and machines: extraction, backups, removal with
// what is in use, the climb over emptied parents, links, and the work the bar counts.
#include "platform/Restart.h"
#include "steps/FileUtilities.h"
#include "steps/tests/StepsFixture.h"

#include <algorithm>
#include <filesystem>

using namespace InstallManager;
using InstallSteps::SetupEntry;
using InstallSteps::SetupList;
using tltest::StepsTest;

namespace {

const std::wstring kBase = L"C:\\Program Files (x86)\\TOLMERA\\Product";

SetupEntry Entry(const std::wstring& name, const std::wstring& backups = L"",
                 const std::wstring& target = L"") {
  SetupEntry e;
  e.name = name;
  e.backupFiles = backups;
  e.target = target;
  return e;
}

std::string Read(const std::wstring& path) {
  std::string bytes;
  platform::ReadWholeFile(path, bytes);
  return bytes;
}

}  // namespace

class FolderSteps : public StepsTest {};

TEST_F(FolderSteps, AFolderIsExtractedWithItsTreeAndNothingOfAFolderThatOnlyStartsAlike) {
  Package({{"bin/app.exe", "program"},
           {"bin/sub/lib.dll", std::string(3000, 'x')},
           {"binaries/other.dat", "not mine"},
           {"readme.txt", "read me"}});
  manager.CommonStepFolders({Entry(L"bin")}, false, kBase);
  EXPECT_EQ(Read(kBase + L"\\bin\\app.exe"), "program");
  EXPECT_EQ(Read(kBase + L"\\bin\\sub\\lib.dll").size(), 3000u);
  EXPECT_FALSE(Exists(kBase + L"\\binaries"));
  EXPECT_TRUE(
      Logged("INFO : CommonStepFolders: Folder = " + platform::ToUtf8(kBase) + "\\bin is created"));
  // The bar moved by the bytes written, the item line showed what was copied.
  EXPECT_EQ(window->stepped, 3007u);
  EXPECT_FALSE(window->items.empty());
}

TEST_F(FolderSteps, ADirectoryNotInThePackageIsCreatedEmpty) {
  Package({{"readme.txt", "x"}});
  manager.CommonStepFolders({Entry(L"logs\\today")}, false, kBase);
  EXPECT_TRUE(platform::PathIsDirectoryW(kBase + L"\\logs\\today"));
  EXPECT_TRUE(InstallSteps::IsFolderEmpty(kBase + L"\\logs\\today"));
}

TEST_F(FolderSteps, AnUpdateBacksUpAFileTwoLevelsDownAndAFreshInstallMakesNoBackups) {
  Package({{"bin/a/b/settings.ini", "new settings"}});
  Write(kBase + L"\\bin\\a\\b\\settings.ini", "old settings");
  manager.SetAction(kInstall, kLocal);
  manager.CommonStepFolders({Entry(L"bin", L"settings.ini")}, false, kBase);
  EXPECT_FALSE(Exists(kBase + L"\\bin\\a\\b\\settings.bak")) << "no backup in a fresh install";

  Write(kBase + L"\\bin\\a\\b\\settings.ini", "edited settings");
  manager.SetAction(kUpdate, kLocal);
  SetupEntry e = Entry(L"bin", L"settings.ini|");
  e.overwrite = L"|SETTINGS.INI|";  // replaced even though the file on disk is newer
  manager.CommonStepFolders({e}, false, kBase);
  EXPECT_EQ(Read(kBase + L"\\bin\\a\\b\\settings.bak"), "edited settings");
  EXPECT_EQ(Read(kBase + L"\\bin\\a\\b\\settings.ini"), "new settings");
}

TEST_F(FolderSteps, TheBackupNameReplacesOnlyTheFileNamesExtension) {
  Package({{"data/v1.2/notes", "new"}, {"data/v1.2/table.csv", "new"}});
  Write(kBase + L"\\data\\v1.2\\notes", "old notes");
  Write(kBase + L"\\data\\v1.2\\table.csv", "old table");
  manager.SetAction(kRepair, kLocal);
  manager.CommonStepFolders({Entry(L"data", L"notes|table.csv")}, false, kBase);
  EXPECT_EQ(Read(kBase + L"\\data\\v1.2\\notes.bak"), "old notes");
  EXPECT_EQ(Read(kBase + L"\\data\\v1.2\\table.bak"), "old table");
  EXPECT_FALSE(Exists(kBase + L"\\data\\v1.bak")) << "a folder's dot is not an extension";
  EXPECT_EQ(InstallSteps::BackupName(L"C:\\a.b\\c"), L"C:\\a.b\\c.bak");
  EXPECT_EQ(InstallSteps::BackupName(L"C:\\a.b\\c.txt"), L"C:\\a.b\\c.bak");
}

TEST_F(FolderSteps, RemovingAMissingFolderOnlyLogsThatItIsNotFound) {
  Package({{"x", "x"}});
  manager.CommonStepFolders({Entry(L"gone")}, true, kBase);
  EXPECT_TRUE(Logged("INFO : IsFileExists: '" + platform::ToUtf8(kBase) + "\\gone' is NOT FOUND"));
  EXPECT_EQ(manager.Result(), irSuccess);
}

TEST_F(FolderSteps, EmptiedParentsGoButNeverAFolderOfTheSystemOrOneWithFilesOfNoBytes) {
  Package({{"x", "x"}});
  // The parents go because the product made them; one it did not make stays (below).
  manager.RememberMissing(kBase + L"\\bin\\app.exe");
  Write(kBase + L"\\bin\\app.exe", "program");
  manager.CommonStepFolders({Entry(L"bin")}, true, kBase);
  EXPECT_FALSE(Exists(kBase + L"\\bin"));
  EXPECT_FALSE(Exists(kBase)) << "the emptied installation folder goes";
  EXPECT_FALSE(Exists(L"C:\\Program Files (x86)\\TOLMERA"));
  EXPECT_TRUE(platform::PathIsDirectoryW(L"C:\\Program Files (x86)"))
      << "a special folder stays, even when it holds only empty folders";

  // A zero-byte file of another product keeps its folder.
  manager.RememberMissing(kBase + L"\\bin\\app.exe");
  Write(kBase + L"\\bin\\app.exe", "program");
  Write(L"C:\\Program Files (x86)\\TOLMERA\\Other\\empty.flag", "");
  manager.CommonStepFolders({Entry(L"bin")}, true, kBase);
  EXPECT_FALSE(Exists(kBase));
  EXPECT_TRUE(Exists(L"C:\\Program Files (x86)\\TOLMERA\\Other\\empty.flag"));
  EXPECT_TRUE(InstallSteps::IsProtectedFolder(L"C:\\"));
  EXPECT_TRUE(InstallSteps::IsProtectedFolder(L"C:\\Windows"));
  EXPECT_TRUE(InstallSteps::IsProtectedFolder(L"C:\\ProgramData\\"));
  EXPECT_TRUE(InstallSteps::IsProtectedFolder(L"C:\\Users"));
  EXPECT_FALSE(InstallSteps::IsProtectedFolder(L"C:\\Program Files (x86)\\TOLMERA"));
}

TEST_F(FolderSteps, AFileInUseLeavesItsFolderScheduledAndTheRestartResult) {
  Package({{"x", "x"}});
  Write(kBase + L"\\bin\\busy.dll", "in use");
  Write(kBase + L"\\bin\\free.dll", "free");
  {
    platform::FileHandle held;
    ASSERT_EQ(
        held.Open(kBase + L"\\bin\\busy.dll", platform::GENERIC_READ, 0, platform::OPEN_EXISTING),
        platform::ERROR_SUCCESS);
    manager.CommonStepFolders({Entry(L"bin")}, true, kBase);
  }
  EXPECT_TRUE(Logged("WARNING : CommonStepFolders: Folder = " + platform::ToUtf8(kBase) +
                     "\\bin is not deleted"));
  EXPECT_EQ(manager.Result(), irDeleteFolder);
  EXPECT_FALSE(Exists(kBase + L"\\bin\\free.dll"));
  EXPECT_TRUE(Exists(kBase + L"\\bin\\busy.dll"));
  bool folderScheduled = false;
  for (const auto& op : platform::PendingFileOperations())
    folderScheduled = folderScheduled || platform::EqualsNoCase(op.source, kBase + L"\\bin");
  EXPECT_TRUE(folderScheduled);
  platform::RestartMachine();
  EXPECT_FALSE(Exists(kBase + L"\\bin")) << "the restart completes the removal";
}

TEST_F(FolderSteps, ALinkInARemovedFolderIsRemovedAsALinkAndWhatItLeadsToStays) {
  Package({{"x", "x"}});
  Write(kBase + L"\\bin\\app.exe", "program");
  Write(L"C:\\Keep\\precious.txt", "keep me");
  std::filesystem::create_directory_symlink(C("Keep"),
                                            C("Program Files (x86)/TOLMERA/Product/bin/link"));
  EXPECT_EQ(InstallSteps::FolderBytes(kBase + L"\\bin"), 7u) << "the link is not counted";
  manager.CommonStepFolders({Entry(L"bin")}, true, kBase);
  EXPECT_FALSE(Exists(kBase + L"\\bin"));
  EXPECT_EQ(Read(L"C:\\Keep\\precious.txt"), "keep me");
}

TEST_F(FolderSteps, ARollBackRemovesOnlyWhatThisRunMade) {
  Package({{"bin/app.exe", "program"}, {"data/new.dat", "new"}});
  Write(kBase + L"\\data\\mine.dat", "the user's");
  manager.CommonStepFolders({Entry(L"bin"), Entry(L"data")}, false, kBase);
  manager.StartRollBack();
  manager.CommonStepFolders({Entry(L"bin"), Entry(L"data")}, true, kBase);
  EXPECT_FALSE(Exists(kBase + L"\\bin"));
  EXPECT_EQ(Read(kBase + L"\\data\\mine.dat"), "the user's");
  EXPECT_TRUE(Logged("was there before this run and is kept"));
}

TEST_F(FolderSteps, PathsTooLongForWindowsAreRefusedNotCut) {
  Package({{"x", "x"}});
  std::wstring deep(255, L'd');
  EXPECT_EQ(InstallSteps::CombinePath(L"C:\\Base", deep), L"");
  EXPECT_TRUE(Logged("ERROR : CombinePath: C:\\Base joined with " + platform::ToUtf8(deep) +
                     " is longer than a Windows path may be and is refused"));
  manager.CommonStepFolders({Entry(deep)}, false, L"C:\\Base");
  EXPECT_FALSE(Exists(L"C:\\Base"));
}

TEST_F(FolderSteps, TheWorkTotalCountsRemovedBytesAndPackedFoldersUnpacked) {
  Package({{"bin/a", std::string(1000, 'a')},
           {"bin/b", std::string(500, 'b')},
           {"binaries/c", std::string(70, 'c')},
           {"common/d", std::string(20, 'd')}});
  Write(kBase + L"\\old\\x.dat", std::string(300, 'x'));
  auto& s = manager.Scheduled();
  s.installFolders.push_back(Entry(L"bin"));
  s.commonFolders.push_back(Entry(L"common"));
  s.removeFolders.push_back(Entry(L"old"));
  EXPECT_EQ(manager.FolderWorkTotal(kBase), 1000u + 500u + 20u + 300u);
}

class FileSteps : public StepsTest {};

TEST_F(FileSteps, FilesAreExtractedBelowTheirTargetAndRemovedAgain) {
  Package({{"license/en.txt", "licence"}});
  manager.CommonStepFiles({Entry(L"license\\en.txt", L"", L"docs")}, false, kBase);
  EXPECT_EQ(Read(kBase + L"\\docs\\license\\en.txt"), "licence");
  manager.CommonStepFiles({Entry(L"license\\en.txt", L"", L"docs")}, true, kBase);
  EXPECT_FALSE(Exists(kBase + L"\\docs\\license\\en.txt"));
  EXPECT_TRUE(Logged("INFO : CommonStepFiles: File = " + platform::ToUtf8(kBase) +
                     "\\docs\\license\\en.txt is deleted"));
  EXPECT_TRUE(platform::PathIsDirectoryW(kBase + L"\\docs\\license")) << "its folders stay";
}

TEST_F(FileSteps, AFileThatStaysMakesResult13AndKeepsARestartResult) {
  Package({{"x", "x"}});
  Write(kBase + L"\\a.txt", "a");
  platform::FileHandle held;
  ASSERT_EQ(held.Open(kBase + L"\\a.txt", platform::GENERIC_READ, 0, platform::OPEN_EXISTING),
            platform::ERROR_SUCCESS);
  manager.CommonStepFiles({Entry(L"a.txt")}, true, kBase);
  EXPECT_EQ(manager.Result(), irErrorDuringInstall);
  EXPECT_TRUE(Logged("WARNING : CommonStepFiles: File = " + platform::ToUtf8(kBase) +
                     "\\a.txt is not deleted"));
  EXPECT_TRUE(platform::PendingFileOperations().empty()) << "a file is not scheduled";
  manager.SetResult(irDeleteFolder);
  manager.CommonStepFiles({Entry(L"a.txt")}, true, kBase);
  EXPECT_EQ(manager.Result(), irDeleteFolder);
}

TEST_F(FolderSteps, ReadOnlyFilesAndFoldersInARemovedTreeGoToo) {
  Package({{"x", "x"}});
  Write(kBase + L"\\bin\\sub\\locked.dll", "read only");
  platform::SetFileAttributesW(kBase + L"\\bin\\sub\\locked.dll",
                               platform::FILE_ATTRIBUTE_READONLY);
  platform::SetFileAttributesW(kBase + L"\\bin\\sub", platform::FILE_ATTRIBUTE_READONLY);
  manager.CommonStepFolders({Entry(L"bin")}, true, kBase);
  EXPECT_FALSE(Exists(kBase + L"\\bin")) << platform::ToUtf8(debug);
  EXPECT_EQ(manager.Result(), irSuccess);
}

// Drive D: with 5000 bytes of room.
class FolderStepsOnAFullDisk : public StepsTest {
 protected:
  platform::MachineConfig Config() override {
    platform::MachineConfig config = platform::MachineConfig::Defaults();
    platform::DriveConfig d;
    d.letter = L'D';
    d.freeBytes = 5000;
    config.drives.push_back(d);
    std::sort(config.drives.begin(), config.drives.end(),
              [](const auto& a, const auto& b) { return a.letter < b.letter; });
    return config;
  }
  // The result a step ended the run with, or -1 when it went on.
  template <class Step>
  static int ResultOf(Step step) {
    try {
      step();
    } catch (const InstallResultError& e) {
      return e.result;
    }
    return -1;
  }
};

TEST_F(FolderStepsOnAFullDisk, ACopyTheDiskStopsEndsTheRunWithItsResultAMissingEntryDoesNot) {
  Package({{"bin/a.bin", std::string(3000, 'a')},
           {"data/b.bin", std::string(3000, 'b')},
           {"single.bin", std::string(3000, 's')}});
  const std::wstring base = L"D:\\Product";
  EXPECT_EQ(ResultOf([&] { manager.CommonStepFolders({Entry(L"bin")}, false, base); }), -1);
  EXPECT_EQ(Read(base + L"\\bin\\a.bin"), std::string(3000, 'a'));
  // Each fits the free space the drive reports; after the first, the disk is full.
  EXPECT_EQ(ResultOf([&] { manager.CommonStepFolders({Entry(L"data")}, false, base); }),
            irErrorDuringInstall);
  EXPECT_TRUE(
      Logged("ERROR : CommonStepFolders: Folder = D:\\Product\\data is not copied: There "
             "is not enough space on the disk."))
      << platform::ToUtf8(debug);
  EXPECT_FALSE(Exists(base + L"\\data\\b.bin"));
  EXPECT_EQ(ResultOf([&] { manager.CommonStepFiles({Entry(L"single.bin")}, false, base); }),
            irErrorDuringInstall);
  EXPECT_TRUE(
      Logged("ERROR : CommonStepFiles: File = D:\\Product\\single.bin is not copied: There "
             "is not enough space on the disk."))
      << platform::ToUtf8(debug);
  EXPECT_FALSE(Exists(base + L"\\single.bin"));
  // A file the package lacks stays a warning of its step, as before.
  EXPECT_EQ(ResultOf([&] { manager.CommonStepFiles({Entry(L"missing.txt")}, false, base); }), -1);
  EXPECT_TRUE(Logged("WARNING : CommonStepFiles: File = D:\\Product\\missing.txt is not extracted"))
      << platform::ToUtf8(debug);
}
