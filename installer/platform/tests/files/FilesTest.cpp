#include "platform/Files.h"

#include "testing/MachineFixture.h"
#include "platform/Environment.h"
#include "platform/HostIo.h"
#include "platform/Paths.h"
#include <fstream>
#include "platform/Environment.h"
#include "platform/HostIo.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace platform;

namespace {

class Files : public tltest::MachineTest {
 protected:
  void Touch(std::wstring_view path, std::string_view text = "data") {
    ASSERT_EQ(WriteWholeFile(path, text), ERROR_SUCCESS) << ToUtf8(path);
  }
  std::string Read(std::wstring_view path) {
    std::string out;
    EXPECT_EQ(ReadWholeFile(path, out), ERROR_SUCCESS) << ToUtf8(path);
    return out;
  }
  std::vector<std::wstring> Names(std::wstring_view pattern, bool dots = true) {
    std::vector<FindData> entries;
    EXPECT_EQ(FindAll(pattern, entries, dots), ERROR_SUCCESS);
    std::vector<std::wstring> names;
    for (const FindData& d : entries) names.push_back(d.fileName);
    return names;
  }
  // A second machine with a writable D: drive, made current.
  void UseMachineWithDriveD() {
    MachineConfig c = MachineConfig::Defaults();
    DriveConfig d;
    d.letter = L'D';
    d.fileSystem = L"FAT32";
    d.freeBytes = 5000;
    d.totalBytes = 9000;
    c.drives.push_back(d);
    std::sort(c.drives.begin(), c.drives.end(),
              [](auto& a, auto& b) { return a.letter < b.letter; });
    Machine::Init(temp_ + "/withd", c);
    Machine::SetCurrentForProcess(temp_ + "/withd");
    ResetEnvironment();
    root_ = temp_ + "/withd";
  }
};

// ---------------------------------------------------------------------------------------------
// Mapping

TEST_F(Files, DrivesMapIntoTheMachineAndIgnoreCase) {
  HostLocation loc;
  ASSERT_EQ(ResolvePath(L"c:\\WINDOWS\\system32", loc), ERROR_SUCCESS);
  EXPECT_EQ(loc.hostPath, C("Windows/SysWOW64"));  // a 32-bit process sees SysWOW64
  EXPECT_TRUE(loc.exists);
  ASSERT_EQ(ResolvePath(L"C:\\program files (X86)\\New Folder", loc), ERROR_SUCCESS);
  EXPECT_EQ(loc.hostPath, C("Program Files (x86)/New Folder"));
  EXPECT_FALSE(loc.exists);
  EXPECT_EQ(ToHostPath(L"C:\\Windows\\Sysnative\\drivers\\etc"), C("Windows/System32/drivers/etc"));
  EXPECT_EQ(ToHostPath(L"C:\\Windows\\System32\\drivers\\etc\\hosts"),
            C("Windows/System32/drivers/etc/hosts"));
  EXPECT_EQ(ToHostPath(L"Z:\\tmp"), "/tmp");
  EXPECT_EQ(ToHostPath(L"Q:\\x"), "");
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(HostToWindowsPath(C("Windows")), L"C:\\Windows");
  EXPECT_EQ(HostToWindowsPath("/usr/bin"), L"Z:\\usr\\bin");
  const std::wstring self = GetModuleFileNameW();
  EXPECT_TRUE(StartsWithNoCase(self, L"Z:\\")) << ToUtf8(self);
  EXPECT_TRUE(EndsWithNoCase(self, L"\\platform_files_tests")) << ToUtf8(self);
  EXPECT_TRUE(PathFileExistsW(self));
}

TEST_F(Files, UncPathsReachAdministrativeSharesAndOtherMachines) {
  Touch(L"C:\\shared.txt", "over the network");
  EXPECT_EQ(Read(L"\\\\TOLMERA-PC\\C$\\shared.txt"), "over the network");
  EXPECT_EQ(Read(L"\\\\localhost\\c$\\SHARED.TXT"), "over the network");
  EXPECT_TRUE(PathIsDirectoryW(L"\\\\tolmera-pc\\ADMIN$\\Temp"));
  std::string data;
  EXPECT_EQ(ReadWholeFile(L"\\\\NOBODY\\C$\\shared.txt", data), ERROR_BAD_NETPATH);
  EXPECT_EQ(ReadWholeFile(L"\\\\TOLMERA-PC\\NoShare\\shared.txt", data), ERROR_BAD_NET_NAME);
  // A share service can resolve other shares.
  SetShareResolver([](std::wstring_view computer, std::wstring_view share, std::wstring& folder,
                      std::string& root) {
    if (!EqualsNoCase(share, L"Data")) return NERR_NetNameNotFound;
    folder = L"C:\\Windows\\Temp";
    return ERROR_SUCCESS;
  });
  Touch(L"\\\\TOLMERA-PC\\Data\\via-share.txt", "x");
  EXPECT_TRUE(PathFileExistsW(L"C:\\Windows\\Temp\\via-share.txt"));
  EXPECT_EQ(ReadWholeFile(L"\\\\TOLMERA-PC\\Other\\x", data), ERROR_BAD_NET_NAME);
  SetShareResolver(nullptr);
  // Another configured computer with a machine root of its own.
  const std::string serverRoot = temp_ + "/server";
  Machine::Init(serverRoot);
  hostio::MakeDirs(serverRoot + "/drive_c/Data");
  WriteHost(serverRoot + "/drive_c/Data/on-server.txt", "server file");
  MachineConfig c = MachineConfig::Defaults();
  c.network = {NetworkComputer{L"SRV", L"WORKGROUP", true, serverRoot}};
  Machine::Init(temp_ + "/client", c);
  Machine::SetCurrentForProcess(temp_ + "/client");
  EXPECT_EQ(Read(L"\\\\srv\\C$\\Data\\on-server.txt"), "server file");
}

TEST_F(Files, NothingLeavesTheMachine) {
  // ".." stops at the drive root.
  HostLocation loc;
  ASSERT_EQ(ResolvePath(L"C:\\..\\..\\..\\..\\etc\\passwd", loc), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(loc.hostPath, C("etc/passwd"));
  ASSERT_EQ(ResolvePath(L"C:\\Windows\\..\\..\\..\\x.txt", loc), ERROR_SUCCESS);
  EXPECT_EQ(loc.hostPath, C("x.txt"));
  ASSERT_EQ(ResolvePath(L"\\\\TOLMERA-PC\\C$\\..\\..\\x.txt", loc), ERROR_SUCCESS);
  EXPECT_EQ(loc.hostPath, C("x.txt"));
  // Device names.
  FileHandle h;
  EXPECT_EQ(h.Open(L"CON", GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_INVALID_NAME);
  EXPECT_EQ(h.Open(L"C:\\Windows\\nul.txt", GENERIC_WRITE, 0, CREATE_ALWAYS), ERROR_INVALID_NAME);
  EXPECT_EQ(CreateDirectoryW(L"C:\\aux"), ERROR_INVALID_NAME);
  EXPECT_EQ(DeleteFileW(L"C:\\lpt1\\x"), ERROR_INVALID_NAME);
  // Over-long paths and elements.
  EXPECT_EQ(CreateDirectoryWithParents(L"C:\\" + std::wstring(300, L'a')),
            ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(h.Open(L"C:\\" + std::wstring(120, L'b') + L"\\" + std::wstring(150, L'c'),
                   GENERIC_WRITE, 0, CREATE_ALWAYS),
            ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(h.Open(L"\\\\?\\C:\\" + std::wstring(256, L'd'), GENERIC_WRITE, 0, CREATE_ALWAYS),
            ERROR_FILENAME_EXCED_RANGE);
  // Characters Windows never allows, and text that is no text (a lone surrogate).
  EXPECT_EQ(h.Open(L"C:\\a|b", GENERIC_WRITE, 0, CREATE_ALWAYS), ERROR_INVALID_NAME);
  EXPECT_EQ(h.Open(L"C:\\a\x01", GENERIC_WRITE, 0, CREATE_ALWAYS), ERROR_INVALID_NAME);
  EXPECT_EQ(h.Open(std::wstring(L"C:\\x") + static_cast<wchar_t>(0xD800), GENERIC_WRITE, 0,
                   CREATE_ALWAYS),
            ERROR_INVALID_NAME);
  EXPECT_EQ(h.Open(std::wstring(L"C:\\x\0y", 6), GENERIC_WRITE, 0, CREATE_ALWAYS),
            ERROR_INVALID_NAME);
  EXPECT_EQ(h.Open(L"", GENERIC_READ, 0, OPEN_EXISTING), ERROR_PATH_NOT_FOUND);
  // None of it created anything beside the machine or in the test's current folder.
  std::vector<FindData> none;
  EXPECT_FALSE(hostio::Exists(temp_ + "/CON"));
  EXPECT_FALSE(hostio::Exists(C("aux")));
  EXPECT_FALSE(hostio::Exists(C("Windows/nul.txt")));
  EXPECT_FALSE(hostio::Exists(C("a|b")));
}

TEST_F(Files, SymbolicLinksNeverLeadOut) {
  const std::string outside = temp_ + "/outside";
  ASSERT_TRUE(hostio::MakeDirs(outside));
  WriteHost(outside + "/secret.txt", "secret");
  ASSERT_EQ(symlink(outside.c_str(), C("escape").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/secret.txt").c_str(), C("secret-link.txt").c_str()), 0);
  ASSERT_EQ(symlink((outside + "/new.txt").c_str(), C("dangling.txt").c_str()), 0);
  ASSERT_EQ(symlink(C("Windows").c_str(), C("win-link").c_str()), 0);
  std::string data;
  EXPECT_EQ(ReadWholeFile(L"C:\\escape\\secret.txt", data), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadWholeFile(L"C:\\secret-link.txt", data), ERROR_ACCESS_DENIED);
  EXPECT_EQ(WriteWholeFile(L"C:\\escape\\planted.txt", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(WriteWholeFile(L"C:\\dangling.txt", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(CreateDirectoryW(L"C:\\escape\\dir"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteFileW(L"C:\\escape\\secret.txt"), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(hostio::Exists(outside + "/planted.txt"));
  EXPECT_FALSE(hostio::Exists(outside + "/new.txt"));
  EXPECT_FALSE(hostio::Exists(outside + "/dir"));
  EXPECT_TRUE(hostio::Exists(outside + "/secret.txt"));
  // A link that stays inside the drive is followed, and goes as a link.
  EXPECT_TRUE(PathIsDirectoryW(L"C:\\win-link\\System32"));
  Touch(L"C:\\target.txt", "t");
  ASSERT_EQ(symlink(C("target.txt").c_str(), C("file-link.txt").c_str()), 0);
  EXPECT_EQ(Read(L"C:\\file-link.txt"), "t");
  EXPECT_EQ(MoveFileW(L"C:\\file-link.txt", L"C:\\moved-link.txt"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteFileW(L"C:\\moved-link.txt"), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\target.txt"), "t");
  EXPECT_EQ(RemoveDirectoryW(L"C:\\win-link"), ERROR_SUCCESS);
  EXPECT_TRUE(PathIsDirectoryW(L"C:\\Windows\\System32"));
}

TEST_F(Files, ReadOnlyDriveRefusesChanges) {
  EXPECT_EQ(CreateDirectoryW(L"Z:\\tmp\\tl-should-not-exist"), ERROR_WRITE_PROTECT);
  EXPECT_EQ(WriteWholeFile(L"Z:\\tmp\\tl-should-not-exist.txt", "x"), ERROR_WRITE_PROTECT);
  const std::wstring onHost = HostToWindowsPath(C("Windows"));
  EXPECT_EQ(onHost, L"C:\\Windows");
  // The machine's own files seen through Z: cannot be changed either.
  const std::wstring viaZ = L"Z:" + FromUtf8(root_);
  std::wstring ini = viaZ + L"/machine.ini";
  std::replace(ini.begin(), ini.end(), L'/', L'\\');
  EXPECT_TRUE(PathFileExistsW(ini));
  EXPECT_EQ(DeleteFileW(ini), ERROR_WRITE_PROTECT);
  EXPECT_EQ(SetFileAttributesW(ini, FILE_ATTRIBUTE_HIDDEN), ERROR_WRITE_PROTECT);
  EXPECT_FALSE(hostio::Exists("/tmp/tl-should-not-exist"));
}

// ---------------------------------------------------------------------------------------------
// Attributes

TEST_F(Files, ReadOnlyFileCannotBeDeletedEvenByRoot) {
  Touch(L"C:\\ro.txt", "keep me");
  EXPECT_EQ(GetFileAttributesW(L"C:\\ro.txt"), FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_EQ(SetFileAttributesW(L"C:\\ro.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
            ERROR_SUCCESS);
  char buf[32] = {};
  ASSERT_GT(getxattr(C("ro.txt").c_str(), "user.DOSATTRIB", buf, sizeof buf - 1), 0);
  EXPECT_STREQ(buf, "0x21");
  EXPECT_EQ(DeleteFileW(L"C:\\ro.txt"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(FormatMessageW(GetLastError()), L"Access is denied.\r\n");
  EXPECT_EQ(WriteWholeFile(L"C:\\ro.txt", "overwritten"), ERROR_ACCESS_DENIED);
  FileHandle h;
  EXPECT_EQ(h.Open(L"C:\\ro.txt", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(h.Open(L"C:\\ro.txt", GENERIC_READ, FILE_SHARE_DELETE, OPEN_EXISTING,
                   FILE_FLAG_DELETE_ON_CLOSE),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(h.Open(L"C:\\ro.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);  // reading is fine
  h.Close();
  Touch(L"C:\\other.txt", "other");
  EXPECT_EQ(CopyFileW(L"C:\\other.txt", L"C:\\ro.txt", false), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MoveFileExW(L"C:\\other.txt", L"C:\\ro.txt", MOVEFILE_REPLACE_EXISTING),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(Read(L"C:\\ro.txt"), "keep me");
  // Renaming a read-only file is allowed, as on Windows.
  EXPECT_EQ(MoveFileExW(L"C:\\ro.txt", L"C:\\ro2.txt", 0), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(L"C:\\ro2.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_EQ(SetFileAttributesW(L"C:\\ro2.txt", FILE_ATTRIBUTE_NORMAL), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(L"C:\\ro2.txt"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(DeleteFileW(L"C:\\ro2.txt"), ERROR_SUCCESS);
  // A read-only folder cannot be removed.
  ASSERT_EQ(CreateDirectoryW(L"C:\\rodir"), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(L"C:\\rodir"), FILE_ATTRIBUTE_DIRECTORY);
  ASSERT_EQ(SetFileAttributesW(L"C:\\rodir", FILE_ATTRIBUTE_READONLY), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(L"C:\\rodir"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(RemoveDirectoryW(L"C:\\rodir"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(hostio::IsDirectory(C("rodir")));
}

TEST_F(Files, HiddenAndSystemFilesNeedTheirAttributesToBeReplaced) {
  FileHandle h;
  ASSERT_EQ(h.Open(L"C:\\hidden.dat", GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN),
            ERROR_SUCCESS);
  h.Close();
  EXPECT_EQ(GetFileAttributesW(L"C:\\hidden.dat"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(h.Open(L"C:\\hidden.dat", GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(h.Open(L"C:\\hidden.dat", GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN),
            ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  h.Close();
  // Other handles open without trouble.
  EXPECT_EQ(h.Open(L"C:\\hidden.dat", GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_SUCCESS);
}

TEST_F(Files, TimesAndSizes) {
  Touch(L"C:\\sized.bin", std::string(12345, 'x'));
  FileInfo info;
  ASSERT_EQ(GetFileAttributesExW(L"C:\\sized.bin", info), ERROR_SUCCESS);
  EXPECT_EQ(info.size, 12345u);
  const FileTime now = GetSystemTimeAsFileTime();
  EXPECT_LE(info.lastWriteTime, now + 10000000ull);
  EXPECT_GE(info.lastWriteTime, now - 600ull * 10000000ull);
  SYSTEMTIME st{};
  st.wYear = 2001;
  st.wMonth = 2;
  st.wDay = 3;
  st.wHour = 4;
  st.wMinute = 5;
  st.wSecond = 6;
  FileTime when;
  ASSERT_TRUE(SystemTimeToFileTime(st, when));
  ASSERT_EQ(SetFileLastWriteTime(L"C:\\sized.bin", when), ERROR_SUCCESS);
  ASSERT_EQ(GetFileAttributesExW(L"C:\\sized.bin", info), ERROR_SUCCESS);
  EXPECT_EQ(info.lastWriteTime, when);
  SYSTEMTIME local;
  FileTimeToSystemTime(FileTimeToLocalFileTime(info.lastWriteTime), local);
  EXPECT_EQ(local.wHour, 5);  // the machine's zone, UTC+1 in winter
  std::uint64_t size = 0;
  EXPECT_EQ(GetFileSize(L"C:\\sized.bin", size), ERROR_SUCCESS);
  EXPECT_EQ(size, 12345u);
  EXPECT_EQ(GetFileSize(L"C:\\Windows", size), ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetFileAttributesW(L"C:\\missing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesW(L"C:\\missing\\deeper"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesW(L"C:\\sized.bin\\below"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// ---------------------------------------------------------------------------------------------
// Enumeration

TEST_F(Files, NamesIgnoreCaseWhileTheFolderChanges) {
  // Each look-up of a missing name lists the folder at most once; what changes afterwards, through
  // the layer or behind its back, is seen by the next look-up all the same.
  ASSERT_EQ(CreateDirectoryW(L"C:\\Mixed"), ERROR_SUCCESS);
  Touch(L"C:\\Mixed\\Alpha.txt", "a");
  EXPECT_EQ(Read(L"C:\\MIXED\\alpha.TXT"), "a");
  EXPECT_EQ(GetFileAttributesW(L"C:\\Mixed\\gamma.txt"), INVALID_FILE_ATTRIBUTES);

  // Created through the layer just after a look-up found it missing.
  Touch(L"C:\\Mixed\\Gamma.txt", "g");
  EXPECT_EQ(Read(L"C:\\mixed\\GAMMA.TXT"), "g");
  // Replaced by another spelling: the file keeps its name, no second file appears.
  Touch(L"C:\\Mixed\\GAMMA.TXT", "g2");
  EXPECT_EQ(Names(L"C:\\Mixed\\*", false), (std::vector<std::wstring>{L"Alpha.txt", L"Gamma.txt"}));
  EXPECT_EQ(Read(L"C:\\Mixed\\gamma.txt"), "g2");

  // Made and removed by someone else on the host.
  WriteHost(C("Mixed/BETA.txt"), "b");
  EXPECT_EQ(Read(L"C:\\Mixed\\beta.txt"), "b");
  ASSERT_EQ(::unlink(C("Mixed/Alpha.txt").c_str()), 0);
  EXPECT_EQ(GetFileAttributesW(L"C:\\Mixed\\alpha.txt"), INVALID_FILE_ATTRIBUTES);
  ASSERT_EQ(::rename(C("Mixed/BETA.txt").c_str(), C("Mixed/Delta.txt").c_str()), 0);
  EXPECT_EQ(GetFileAttributesW(L"C:\\Mixed\\beta.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Read(L"C:\\Mixed\\DELTA.txt"), "b");

  // A folder made through the layer is found in any case, and so is what is made inside it.
  ASSERT_EQ(CreateDirectoryW(L"C:\\Mixed\\Sub"), ERROR_SUCCESS);
  Touch(L"C:\\MIXED\\SUB\\Inner.txt", "i");
  EXPECT_EQ(Read(L"C:\\mixed\\sub\\inner.txt"), "i");
  EXPECT_EQ(CreateDirectoryW(L"C:\\Mixed\\SUB"), ERROR_ALREADY_EXISTS);

  // Two spellings side by side on the host: the first in NTFS order wins, before and after a
  // listing was kept.
  WriteHost(C("Mixed/twin.txt"), "lower");
  WriteHost(C("Mixed/TWIN.txt"), "upper");
  EXPECT_EQ(Read(L"C:\\Mixed\\Twin.txt"), "upper");
  EXPECT_EQ(Read(L"C:\\Mixed\\Twin.TXT"), "upper");
}

TEST_F(Files, LookupsInManyFoldersAtOnce) {
  // More folders than listings are kept, filled in turns as an extraction does.
  for (int d = 0; d < 80; ++d)
    ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Turns\\D" + std::to_wstring(d)), ERROR_SUCCESS);
  for (int i = 0; i < 400; ++i)
    Touch(L"C:\\Turns\\D" + std::to_wstring(i % 80) + L"\\File" + std::to_wstring(i) + L".dat",
          std::to_string(i));
  for (int i = 0; i < 400; i += 13)
    EXPECT_EQ(
        Read(L"C:\\turns\\d" + std::to_wstring(i % 80) + L"\\FILE" + std::to_wstring(i) + L".DAT"),
        std::to_string(i));
  EXPECT_EQ(Names(L"C:\\Turns\\D7\\*", false).size(), 5u);
}

TEST_F(Files, EnumerationInNtfsOrderWithDots) {
  ASSERT_EQ(CreateDirectoryW(L"C:\\e"), ERROR_SUCCESS);
  for (const wchar_t* n :
       {L"b.txt", L"A.txt", L"_x", L"a", L"Z", L"\u00E4.txt", L"10", L"9", L"a.b.txt", L"noext."})
    Touch(std::wstring(L"C:\\e\\") + n);
  ASSERT_EQ(CreateDirectoryW(L"C:\\e\\Sub"), ERROR_SUCCESS);
  // "noext." was stored as "noext": Windows drops trailing dots.
  const std::vector<std::wstring> all = {L".",       L"..",    L"10",        L"9",     L"a",
                                         L"a.b.txt", L"A.txt", L"b.txt",     L"noext", L"Sub",
                                         L"Z",       L"_x",    L"\u00E4.txt"};
  EXPECT_EQ(Names(L"C:\\e\\*"), all);
  EXPECT_EQ(Names(L"C:\\e\\*.*"), all);
  EXPECT_EQ(Names(L"C:\\e\\*.txt"),
            (std::vector<std::wstring>{L"a.b.txt", L"A.txt", L"b.txt", L"\u00E4.txt"}));
  EXPECT_EQ(Names(L"C:\\e\\*.", false),
            (std::vector<std::wstring>{L"10", L"9", L"a", L"noext", L"Sub", L"Z", L"_x"}));
  EXPECT_EQ(Names(L"C:\\e\\?.txt"), (std::vector<std::wstring>{L"A.txt", L"b.txt", L"\u00E4.txt"}));
  EXPECT_EQ(Names(L"C:\\e\\a?"), (std::vector<std::wstring>{L"a"}));
  EXPECT_EQ(Names(L"C:\\e\\A.TXT"), (std::vector<std::wstring>{L"A.txt"}));
  EXPECT_EQ(Names(L"C:\\e\\S*"), (std::vector<std::wstring>{L"Sub"}));
  // The root of a drive has no "." and "..".
  std::vector<std::wstring> root = Names(L"C:\\*");
  ASSERT_FALSE(root.empty());
  EXPECT_NE(root.front(), L".");
  EXPECT_TRUE(std::is_sorted(root.begin(), root.end(),
                             [](auto& a, auto& b) { return CompareNoCase(a, b) < 0; }));
  // Entry details.
  FileFinder f;
  FindData d;
  ASSERT_EQ(f.First(L"C:\\e\\sub", d), ERROR_SUCCESS);
  EXPECT_EQ(d.fileName, L"Sub");
  EXPECT_TRUE(d.attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(f.Next(d), ERROR_NO_MORE_FILES);
  ASSERT_EQ(f.First(L"C:\\e\\b.txt", d), ERROR_SUCCESS);
  EXPECT_EQ(d.size, 4u);
  EXPECT_EQ(d.attributes, FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(f.First(L"C:\\e\\*.none", d), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(f.First(L"C:\\missing\\*", d), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(f.First(L"C:\\e\\", d), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FileFinder().Next(d), ERROR_INVALID_HANDLE);
}

TEST_F(Files, EnumerationSkipsNamesWindowsCannotHold) {
  ASSERT_EQ(CreateDirectoryW(L"C:\\odd"), ERROR_SUCCESS);
  WriteHost(C("odd/ok.txt"), "1");
  WriteHost(C("odd/bad\xFF\xFEname"), "2");  // not UTF-8
  WriteHost(C("odd/colon:name"), "3");       // ':' is not allowed on Windows
  EXPECT_EQ(Names(L"C:\\odd\\*", false), (std::vector<std::wstring>{L"ok.txt"}));
}

TEST(FilesPattern, DosWildcardRules) {
  EXPECT_TRUE(MatchDosPattern(L"*", L"anything.at.all"));
  EXPECT_TRUE(MatchDosPattern(L"*.*", L"noext"));
  EXPECT_TRUE(MatchDosPattern(L"*.txt", L"a.b.TXT"));
  EXPECT_FALSE(MatchDosPattern(L"*.txt", L"a.txt.bak"));
  EXPECT_FALSE(MatchDosPattern(L"*.txt", L"atxt"));
  EXPECT_TRUE(MatchDosPattern(L"*.", L"noext"));
  EXPECT_FALSE(MatchDosPattern(L"*.", L"has.ext"));
  EXPECT_TRUE(MatchDosPattern(L"a??.txt", L"a.txt"));
  EXPECT_TRUE(MatchDosPattern(L"a??.txt", L"abc.txt"));
  EXPECT_FALSE(MatchDosPattern(L"a??.txt", L"abcd.txt"));
  EXPECT_TRUE(MatchDosPattern(L"file?", L"file"));
  EXPECT_FALSE(MatchDosPattern(L"?", L"ab"));
  EXPECT_TRUE(MatchDosPattern(L"*.t?t", L"x.tet"));
  EXPECT_TRUE(MatchDosPattern(L"data.*", L"data"));
  EXPECT_TRUE(MatchDosPattern(L"data.*", L"data.bin"));
  EXPECT_TRUE(MatchDosPattern(L"*a*b*", L"xxaYYbzz"));
  EXPECT_FALSE(MatchDosPattern(L"*a*b*", L"xxbYYazz"));
  EXPECT_TRUE(MatchDosPattern(L"\u00C4*", L"\u00E4rger"));
  // Long patterns against long names finish quickly (no exponential backtracking).
  EXPECT_FALSE(MatchDosPattern(L"*a*a*a*a*a*a*a*a*a*a*a*b", std::wstring(200, L'a')));
}

// ---------------------------------------------------------------------------------------------
// Folders, copy, move, delete

TEST_F(Files, FoldersAndTheirStatuses) {
  EXPECT_EQ(CreateDirectoryW(L"C:\\Windows"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(CreateDirectoryW(L"C:\\no\\parent"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CreateDirectoryWithParents(L"C:\\deep\\er\\and\\deeper"), ERROR_SUCCESS);
  EXPECT_TRUE(hostio::IsDirectory(C("deep/er/and/deeper")));
  EXPECT_EQ(CreateDirectoryWithParents(L"c:\\DEEP\\er"), ERROR_ALREADY_EXISTS);
  Touch(L"C:\\deep\\file");
  EXPECT_EQ(CreateDirectoryWithParents(L"C:\\deep\\file"), ERROR_FILE_EXISTS);
  EXPECT_EQ(CreateDirectoryWithParents(L"C:\\deep\\file\\below"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(RemoveDirectoryW(L"C:\\deep"), ERROR_DIR_NOT_EMPTY);
  EXPECT_EQ(RemoveDirectoryW(L"C:\\deep\\file"), ERROR_DIRECTORY);
  EXPECT_EQ(RemoveDirectoryW(L"C:\\nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RemoveDirectoryW(L"C:\\"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteFileW(L"C:\\deep"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteFileW(L"C:\\deep\\missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeleteFileW(L"C:\\missing\\missing"), ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(SetCurrentDirectoryW(L"C:\\deep\\er\\and\\deeper"), ERROR_SUCCESS);
  EXPECT_EQ(RemoveDirectoryW(L"."), ERROR_SHARING_VIOLATION);
  ASSERT_EQ(SetCurrentDirectoryW(L".."), ERROR_SUCCESS);
  EXPECT_EQ(RemoveDirectoryW(L"deeper"), ERROR_SUCCESS);
  EXPECT_FALSE(hostio::Exists(C("deep/er/and/deeper")));
}

TEST_F(Files, CopyKeepsContentsTimeAndAttributes) {
  Touch(L"C:\\src.txt", "payload");
  SYSTEMTIME st{};
  st.wYear = 2012;
  st.wMonth = 12;
  st.wDay = 12;
  FileTime when;
  ASSERT_TRUE(SystemTimeToFileTime(st, when));
  ASSERT_EQ(SetFileLastWriteTime(L"C:\\src.txt", when), ERROR_SUCCESS);
  ASSERT_EQ(SetFileAttributesW(L"C:\\src.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
            ERROR_SUCCESS);
  ASSERT_EQ(CopyFileW(L"C:\\src.txt", L"C:\\Windows\\dst.txt", true), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\Windows\\dst.txt"), "payload");
  FileInfo info;
  ASSERT_EQ(GetFileAttributesExW(L"C:\\Windows\\dst.txt", info), ERROR_SUCCESS);
  EXPECT_EQ(info.attributes,
            FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(info.lastWriteTime, when);
  EXPECT_EQ(CopyFileW(L"C:\\src.txt", L"C:\\Windows\\dst.txt", true), ERROR_FILE_EXISTS);
  EXPECT_EQ(CopyFileW(L"C:\\nosuch.txt", L"C:\\x.txt", false), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CopyFileW(L"C:\\src.txt", L"C:\\nodir\\x.txt", false), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(CopyFileW(L"C:\\Windows", L"C:\\x.txt", false), ERROR_ACCESS_DENIED);
  Touch(L"C:\\target.txt", "old");
  EXPECT_EQ(CopyFileW(L"C:\\target.txt", L"C:\\TARGET.TXT", false),
            ERROR_SHARING_VIOLATION);  // onto itself
  ASSERT_EQ(SetFileAttributesW(L"C:\\src.txt", FILE_ATTRIBUTE_NORMAL), ERROR_SUCCESS);
  ASSERT_EQ(CopyFileW(L"C:\\src.txt", L"C:\\target.txt", false), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\target.txt"), "payload");
}

TEST_F(Files, MoveRenamesAndReplaces) {
  Touch(L"C:\\one.txt", "1");
  Touch(L"C:\\two.txt", "2");
  EXPECT_EQ(MoveFileExW(L"C:\\one.txt", L"C:\\two.txt", 0), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(MoveFileExW(L"C:\\one.txt", L"C:\\two.txt", MOVEFILE_REPLACE_EXISTING), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\two.txt"), "1");
  EXPECT_FALSE(PathFileExistsW(L"C:\\one.txt"));
  EXPECT_EQ(MoveFileExW(L"C:\\two.txt", L"C:\\TWO.txt", 0), ERROR_SUCCESS);  // a change of case
  EXPECT_EQ(Names(L"C:\\tw*"), (std::vector<std::wstring>{L"TWO.txt"}));
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\folder\\inner"), ERROR_SUCCESS);
  Touch(L"C:\\folder\\inner\\f.txt", "f");
  EXPECT_EQ(MoveFileW(L"C:\\folder", L"C:\\Renamed"), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\Renamed\\inner\\f.txt"), "f");
  EXPECT_EQ(MoveFileW(L"C:\\Renamed", L"C:\\Renamed\\inner\\x"), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(MoveFileW(L"C:\\gone.txt", L"C:\\x.txt"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(MoveFileW(L"C:\\TWO.txt", L"C:\\nodir\\x.txt"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(MoveFileW(L"C:\\TWO.txt", L"Z:\\tmp\\x.txt"), ERROR_WRITE_PROTECT);
  // Delayed moves go to the restart service; without a handler they fail.
  SetDelayedMoveHandler(nullptr);
  EXPECT_EQ(MoveFileExW(L"C:\\TWO.txt", L"", MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_INVALID_PARAMETER);
  std::wstring seenFrom, seenTo = L"unset";
  SetDelayedMoveHandler([&](std::wstring_view from, std::wstring_view to) {
    seenFrom = from;
    seenTo = to;
    return ERROR_SUCCESS;
  });
  ASSERT_EQ(SetCurrentDirectoryW(L"C:\\Renamed"), ERROR_SUCCESS);
  EXPECT_EQ(MoveFileExW(L"inner\\f.txt", L"", MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_SUCCESS);
  SetDelayedMoveHandler(nullptr);
  EXPECT_EQ(seenFrom, L"C:\\Renamed\\inner\\f.txt");
  EXPECT_EQ(seenTo, L"");
  EXPECT_TRUE(PathFileExistsW(L"C:\\Renamed\\inner\\f.txt"));
}

TEST_F(Files, MovesAcrossDrives) {
  UseMachineWithDriveD();
  Touch(L"C:\\a.txt", "across");
  ASSERT_EQ(CreateDirectoryW(L"C:\\dir"), ERROR_SUCCESS);
  EXPECT_EQ(MoveFileExW(L"C:\\a.txt", L"D:\\a.txt", 0), ERROR_NOT_SAME_DEVICE);
  EXPECT_EQ(MoveFileExW(L"C:\\dir", L"D:\\dir", MOVEFILE_COPY_ALLOWED), ERROR_NOT_SAME_DEVICE);
  EXPECT_EQ(MoveFileExW(L"C:\\a.txt", L"D:\\a.txt", MOVEFILE_COPY_ALLOWED), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"D:\\a.txt"), "across");
  EXPECT_FALSE(PathFileExistsW(L"C:\\a.txt"));
  EXPECT_TRUE(hostio::Exists(root_ + "/drive_d/a.txt"));
  std::uint64_t freeBytes = 0, total = 0, totalFree = 0;
  EXPECT_EQ(GetDiskFreeSpaceExW(L"D:\\", &freeBytes, &total, &totalFree), ERROR_SUCCESS);
  EXPECT_EQ(freeBytes, 5000u);
  EXPECT_EQ(total, 9000u);
  VolumeInfo vi;
  EXPECT_EQ(GetVolumeInformationW(L"D:\\", vi), ERROR_SUCCESS);
  EXPECT_EQ(vi.fileSystemName, L"FAT32");
  EXPECT_FALSE(vi.fileSystemFlags & FILE_PERSISTENT_ACLS);
}

// ---------------------------------------------------------------------------------------------
// Handles and share modes

TEST_F(Files, ShareModesWithinOneProcess) {
  Touch(L"C:\\locked.txt", "content");
  FileHandle exclusive;
  ASSERT_EQ(exclusive.Open(L"C:\\locked.txt", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING),
            ERROR_SUCCESS);
  FileHandle other;
  EXPECT_EQ(other.Open(L"C:\\LOCKED.TXT", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       OPEN_EXISTING),
            ERROR_SHARING_VIOLATION);
  EXPECT_EQ(DeleteFileW(L"C:\\locked.txt"), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(WriteWholeFile(L"C:\\locked.txt", "x"), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(MoveFileW(L"C:\\locked.txt", L"C:\\moved.txt"), ERROR_SHARING_VIOLATION);
  // Attributes can still be read.
  EXPECT_NE(GetFileAttributesW(L"C:\\locked.txt"), INVALID_FILE_ATTRIBUTES);
  exclusive.Close();
  EXPECT_EQ(other.Open(L"C:\\locked.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);
  FileHandle second;
  EXPECT_EQ(second.Open(L"C:\\locked.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);
  FileHandle writer;
  EXPECT_EQ(writer.Open(L"C:\\locked.txt", GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SHARING_VIOLATION);
  // Readers that share delete allow the delete.
  other.Close();
  second.Close();
  ASSERT_EQ(other.Open(L"C:\\locked.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                       OPEN_EXISTING),
            ERROR_SUCCESS);
  EXPECT_EQ(DeleteFileW(L"C:\\locked.txt"), ERROR_SUCCESS);
}

TEST_F(Files, CreateDispositions) {
  FileHandle h;
  EXPECT_EQ(h.Open(L"C:\\new.txt", GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(h.Open(L"C:\\nodir\\new.txt", GENERIC_WRITE, 0, CREATE_NEW), ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(h.Open(L"C:\\new.txt", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW), ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  ASSERT_EQ(h.Write("hello world", 11), ERROR_SUCCESS);
  std::uint64_t pos = 0, size = 0;
  ASSERT_EQ(h.Seek(6, FILE_BEGIN, &pos), ERROR_SUCCESS);
  EXPECT_EQ(pos, 6u);
  char buf[16] = {};
  std::size_t got = 0;
  ASSERT_EQ(h.Read(buf, sizeof buf, got), ERROR_SUCCESS);
  EXPECT_EQ(std::string(buf, got), "world");
  EXPECT_EQ(h.Seek(-100, FILE_CURRENT), ERROR_NEGATIVE_SEEK);
  ASSERT_EQ(h.Seek(5, FILE_BEGIN), ERROR_SUCCESS);
  ASSERT_EQ(h.SetEndOfFile(), ERROR_SUCCESS);
  ASSERT_EQ(h.GetSize(size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  h.Close();
  EXPECT_EQ(h.Read(buf, 1, got), ERROR_INVALID_HANDLE);
  EXPECT_EQ(h.Open(L"C:\\new.txt", GENERIC_WRITE, 0, CREATE_NEW), ERROR_FILE_EXISTS);
  ASSERT_EQ(h.Open(L"C:\\new.txt", GENERIC_READ, 0, OPEN_ALWAYS), ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(h.Write("x", 1), ERROR_ACCESS_DENIED);  // opened for reading only
  h.Close();
  EXPECT_EQ(h.Open(L"C:\\new.txt", GENERIC_READ, 0, TRUNCATE_EXISTING), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(h.Open(L"C:\\new.txt", GENERIC_WRITE, 0, TRUNCATE_EXISTING), ERROR_SUCCESS);
  h.Close();
  EXPECT_EQ(Read(L"C:\\new.txt"), "");
  EXPECT_EQ(h.Open(L"C:\\new.txt", GENERIC_READ, 0, 9), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(h.Open(L"C:\\Windows", GENERIC_READ, 0, OPEN_EXISTING), ERROR_ACCESS_DENIED);
  EXPECT_EQ(h.Open(L"C:\\Windows", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                   FILE_FLAG_BACKUP_SEMANTICS),
            ERROR_SUCCESS);
  h.Close();
  ASSERT_EQ(h.Open(L"C:\\temp.tmp", GENERIC_WRITE, FILE_SHARE_DELETE, CREATE_ALWAYS,
                   FILE_FLAG_DELETE_ON_CLOSE),
            ERROR_SUCCESS);
  EXPECT_TRUE(PathFileExistsW(L"C:\\temp.tmp"));
  h.Close();
  EXPECT_FALSE(PathFileExistsW(L"C:\\temp.tmp"));
  // Moving a handle moves its ownership; the table entry goes with the last owner.
  FileHandle a;
  ASSERT_EQ(a.Open(L"C:\\new.txt", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SUCCESS);
  FileHandle b = std::move(a);
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(DeleteFileW(L"C:\\new.txt"), ERROR_SHARING_VIOLATION);
  b.Close();
  EXPECT_EQ(DeleteFileW(L"C:\\new.txt"), ERROR_SUCCESS);
}

TEST_F(Files, RunningProgramFileCanBeMovedButNotDeleted) {
  Touch(L"C:\\Program Files\\app.exe", "program");
  ImageLock image;
  ASSERT_EQ(image.Acquire(L"C:\\Program Files\\app.exe"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteFileW(L"C:\\Program Files\\app.exe"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(WriteWholeFile(L"C:\\Program Files\\app.exe", "patched"), ERROR_SHARING_VIOLATION);
  Touch(L"C:\\new.exe", "new");
  EXPECT_EQ(MoveFileExW(L"C:\\new.exe", L"C:\\Program Files\\app.exe", MOVEFILE_REPLACE_EXISTING),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(MoveFileW(L"C:\\Program Files\\app.exe", L"C:\\Program Files\\app.old"), ERROR_SUCCESS);
  EXPECT_EQ(DeleteFileW(L"C:\\Program Files\\app.old"), ERROR_ACCESS_DENIED);  // still running
  image.Release();
  EXPECT_EQ(DeleteFileW(L"C:\\Program Files\\app.old"), ERROR_SUCCESS);
}

// Runs `child` in a forked process that holds what it opened until told to go.
class ChildProcess {
 public:
  template <class F>
  explicit ChildProcess(F child) {
    if (pipe(ready_) != 0 || pipe(go_) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready_[0]);
      close(go_[1]);
      char status = child() ? 'y' : 'n';
      if (write(ready_[1], &status, 1) != 1) _exit(3);
      char c;
      if (read(go_[0], &c, 1) != 1) _exit(4);
      _exit(0);  // closes nothing through the layer: the handle table keeps the entry
    }
    close(ready_[1]);
    close(go_[0]);
  }
  bool WaitReady() {
    char status = 0;
    return pid_ > 0 && read(ready_[0], &status, 1) == 1 && status == 'y';
  }
  void Kill() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    Reap();
  }
  void Finish() {
    char c = 'g';
    if (pid_ > 0 && write(go_[1], &c, 1) != 1) kill(pid_, SIGKILL);
    Reap();
  }
  ~ChildProcess() { Kill(); }

 private:
  void Reap() {
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  int ready_[2] = {-1, -1}, go_[2] = {-1, -1};
  pid_t pid_ = -1;
};

TEST_F(Files, TwoProcessesAndOneFileOpenedWithoutSharing) {
  Touch(L"C:\\shared.db", "database");
  ChildProcess child([] {
    static FileHandle h;  // stays open until the process ends
    return h.Open(L"C:\\shared.db", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING) ==
           ERROR_SUCCESS;
  });
  ASSERT_TRUE(child.WaitReady());
  FileHandle mine;
  EXPECT_EQ(
      mine.Open(L"C:\\shared.db", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
      ERROR_SHARING_VIOLATION);
  EXPECT_EQ(DeleteFileW(L"C:\\shared.db"), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(WriteWholeFile(L"C:\\shared.db", "overwritten"), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(CopyFileW(L"C:\\Windows\\..\\shared.db", L"C:\\copy.db", false),
            ERROR_SHARING_VIOLATION);
  // The other process ends without closing: its entries are dropped as dead.
  child.Finish();
  EXPECT_EQ(mine.Open(L"C:\\shared.db", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);
  mine.Close();
  std::string data;
  EXPECT_EQ(ReadWholeFile(L"C:\\shared.db", data), ERROR_SUCCESS);
  EXPECT_EQ(data, "database");
}

TEST_F(Files, AForkedChildNeverClosesTheParentsHandles) {
  // Parent and child continue from the same handle counter after the fork; closing a handle in
  // one must never remove the other's entry.
  Touch(L"C:\\parent.txt", "p");
  Touch(L"C:\\child.txt", "c");
  {
    FileHandle warmUp;
    ASSERT_EQ(warmUp.Open(L"C:\\parent.txt", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SUCCESS);
  }
  ChildProcess child([] {
    static FileHandle h;
    return h.Open(L"C:\\child.txt", GENERIC_READ, 0, OPEN_EXISTING) == ERROR_SUCCESS;
  });
  ASSERT_TRUE(child.WaitReady());
  {
    FileHandle mine;
    ASSERT_EQ(mine.Open(L"C:\\parent.txt", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SUCCESS);
  }
  FileHandle again;
  EXPECT_EQ(again.Open(L"C:\\parent.txt", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SUCCESS);
  EXPECT_EQ(DeleteFileW(L"C:\\child.txt"), ERROR_SHARING_VIOLATION);
  child.Finish();
}

TEST_F(Files, AChildSeesHandlesTheParentOpenedBeforeTheFork) {
  // The parent's table is in use when the child starts: the child still reads what the parent
  // holds, and the parent what the child holds.
  Touch(L"C:\\held-by-parent.txt", "p");
  Touch(L"C:\\held-by-child.txt", "c");
  FileHandle held;
  ASSERT_EQ(held.Open(L"C:\\held-by-parent.txt", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING),
            ERROR_SUCCESS);
  ChildProcess child([] {
    FileHandle other;
    if (other.Open(L"C:\\held-by-parent.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                   OPEN_EXISTING) != ERROR_SHARING_VIOLATION ||
        DeleteFileW(L"C:\\held-by-parent.txt") != ERROR_SHARING_VIOLATION)
      return false;
    static FileHandle h;
    return h.Open(L"C:\\held-by-child.txt", GENERIC_READ, 0, OPEN_EXISTING) == ERROR_SUCCESS;
  });
  ASSERT_TRUE(child.WaitReady());
  FileHandle mine;
  EXPECT_EQ(mine.Open(L"C:\\held-by-child.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SHARING_VIOLATION);
  held.Close();
  child.Finish();
  EXPECT_EQ(mine.Open(L"C:\\held-by-child.txt", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SUCCESS);
}

TEST_F(Files, ATableRemovedWhileInUseIsMadeAgain) {
  // The table's file is removed (a machine made again at the same place): the next open writes a
  // new one, which other processes read.
  Touch(L"C:\\first.txt", "1");
  Touch(L"C:\\second.txt", "2");
  {
    FileHandle warmUp;
    ASSERT_EQ(warmUp.Open(L"C:\\first.txt", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SUCCESS);
  }
  const std::string table = root_ + "/state/handles";
  ASSERT_EQ(::unlink(table.c_str()), 0);
  FileHandle held;
  ASSERT_EQ(held.Open(L"C:\\second.txt", GENERIC_READ, 0, OPEN_EXISTING), ERROR_SUCCESS);
  std::string text;
  ASSERT_TRUE(hostio::ReadFile(table, text));
  EXPECT_NE(text.find("second.txt"), std::string::npos);
  ChildProcess child([] { return DeleteFileW(L"C:\\second.txt") == ERROR_SHARING_VIOLATION; });
  EXPECT_TRUE(child.WaitReady());
  child.Finish();
}

TEST_F(Files, HandlesOfAKilledProcessAreDropped) {
  Touch(L"C:\\victim.txt", "v");
  ChildProcess child([] {
    static FileHandle h;
    return h.Open(L"C:\\victim.txt", GENERIC_READ, 0, OPEN_EXISTING) == ERROR_SUCCESS;
  });
  ASSERT_TRUE(child.WaitReady());
  EXPECT_EQ(DeleteFileW(L"C:\\victim.txt"), ERROR_SHARING_VIOLATION);
  child.Kill();
  EXPECT_EQ(DeleteFileW(L"C:\\victim.txt"), ERROR_SUCCESS);
  // A garbled table line does not break the layer.
  WriteHost(root_ + "/state/handles", "garbage line\n1 2\n");
  Touch(L"C:\\after.txt", "ok");
  EXPECT_EQ(Read(L"C:\\after.txt"), "ok");
}

// ---------------------------------------------------------------------------------------------
// Volumes and well-known folders

TEST_F(Files, ADriveWithFixedFreeSpaceHoldsNoMoreThanThatOfWhatTheProcessAdds) {
  UseMachineWithDriveD();  // D: has 5000 bytes free
  const std::string block(3000, 'b');
  {
    FileHandle a;
    ASSERT_EQ(a.Open(L"D:\\a.bin", GENERIC_WRITE, 0, CREATE_NEW), ERROR_SUCCESS);
    EXPECT_EQ(a.Write(block.data(), block.size()), ERROR_SUCCESS);
  }
  {
    // Writing over what a file holds takes no room.
    FileHandle a;
    ASSERT_EQ(a.Open(L"D:\\a.bin", GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_SUCCESS);
    EXPECT_EQ(a.Write(block.data(), block.size()), ERROR_SUCCESS);
  }
  {
    // What fits is written, then the disk is full.
    FileHandle b;
    ASSERT_EQ(b.Open(L"D:\\b.bin", GENERIC_WRITE, 0, CREATE_NEW), ERROR_SUCCESS);
    EXPECT_EQ(b.Write(block.data(), block.size()), ERROR_DISK_FULL);
    EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
    EXPECT_EQ(b.Write("x", 1), ERROR_DISK_FULL);
  }
  EXPECT_EQ(Read(L"D:\\b.bin"), std::string(2000, 'b'));
  EXPECT_EQ(WriteWholeFile(L"D:\\c.txt", "more"), ERROR_DISK_FULL);
  // A new file written whole fails the same way and leaves nothing behind.
  NewFileWriter writer;
  ASSERT_EQ(writer.Begin(L"D:\\d.bin", FILE_ATTRIBUTE_ARCHIVE), ERROR_SUCCESS);
  EXPECT_EQ(writer.Write("x", 1), ERROR_DISK_FULL);
  writer.Abandon();
  EXPECT_FALSE(PathFileExistsW(L"D:\\d.bin"));
  // The figure the volume reports is machine.ini's.
  std::uint64_t freeBytes = 0;
  EXPECT_EQ(GetDiskFreeSpaceExW(L"D:\\", &freeBytes, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(freeBytes, 5000u);
  // C:, whose free space is the host's, takes what the host has.
  EXPECT_EQ(WriteWholeFile(L"C:\\big.bin", std::string(20000, 'c')), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\big.bin").size(), 20000u);
}

TEST_F(Files, VolumesDrivesAndFreeSpace) {
  VolumeInfo vi;
  ASSERT_EQ(GetVolumeInformationW(L"C:\\", vi), ERROR_SUCCESS);
  EXPECT_EQ(vi.fileSystemName, L"NTFS");
  EXPECT_TRUE(vi.fileSystemFlags & FILE_PERSISTENT_ACLS);
  EXPECT_EQ(vi.maxComponentLength, 255u);
  ASSERT_EQ(GetVolumeInformationW(L"z:", vi), ERROR_SUCCESS);
  EXPECT_TRUE(vi.fileSystemFlags & FILE_READ_ONLY_VOLUME);
  EXPECT_EQ(GetVolumeInformationW(L"Q:\\", vi), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetVolumeInformationW(L"C:\\Windows", vi), ERROR_INVALID_NAME);
  ASSERT_EQ(GetVolumeInformationW(L"\\\\TOLMERA-PC\\C$\\", vi), ERROR_SUCCESS);
  EXPECT_EQ(vi.fileSystemName, L"NTFS");
  std::uint64_t freeBytes = 0, total = 0;
  ASSERT_EQ(GetDiskFreeSpaceExW(L"C:\\Windows", &freeBytes, &total, nullptr), ERROR_SUCCESS);
  EXPECT_GT(total, 0u);
  EXPECT_LE(freeBytes, total);
  EXPECT_EQ(GetDiskFreeSpaceExW(L"C:\\missing", &freeBytes, nullptr, nullptr),
            ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetDriveTypeW(L"C:\\"), DRIVE_FIXED);
  EXPECT_EQ(GetDriveTypeW(L"Q:\\"), DRIVE_NO_ROOT_DIR);
  EXPECT_EQ(GetLogicalDrives(), (1u << 2) | (1u << 25));
  EXPECT_EQ(GetLogicalDriveStringsW(), (std::vector<std::wstring>{L"C:\\", L"Z:\\"}));
}

TEST_F(Files, TemporaryAndWindowsFolders) {
  EXPECT_EQ(GetTempPathW(), L"C:\\Users\\User\\AppData\\Local\\Temp\\");
  EXPECT_TRUE(PathIsDirectoryW(GetTempPathW()));
  EXPECT_EQ(GetWindowsDirectoryW(), L"C:\\Windows");
  EXPECT_TRUE(PathIsDirectoryW(GetSystemDirectoryW()));
  std::wstring wow;
  EXPECT_EQ(GetSystemWow64DirectoryW(wow), ERROR_SUCCESS);
  EXPECT_EQ(wow, L"C:\\Windows\\SysWOW64");
  std::wstring a, b;
  ASSERT_EQ(GetTempFileNameW(GetTempPathW(), L"tlsetup", 0, a), ERROR_SUCCESS);
  ASSERT_EQ(GetTempFileNameW(GetTempPathW(), L"tlsetup", 0, b), ERROR_SUCCESS);
  EXPECT_NE(a, b);
  EXPECT_TRUE(StartsWithNoCase(PathFindFileNameW(a), L"tls"));
  EXPECT_TRUE(EndsWithNoCase(a, L".tmp"));
  EXPECT_TRUE(PathFileExistsW(a));
  EXPECT_TRUE(PathFileExistsW(b));
  std::wstring fixed;
  ASSERT_EQ(GetTempFileNameW(L"C:\\Windows\\Temp", L"x", 0xABC, fixed), ERROR_SUCCESS);
  EXPECT_EQ(fixed, L"C:\\Windows\\Temp\\xABC.tmp");
  EXPECT_FALSE(PathFileExistsW(fixed));
  EXPECT_EQ(GetTempFileNameW(L"C:\\missing", L"x", 0, fixed), ERROR_DIRECTORY);
  // TMP of the emulated environment decides.
  ASSERT_EQ(SetEnvironmentVariableW(L"TMP", std::wstring_view(L"C:\\Windows\\Temp")),
            ERROR_SUCCESS);
  EXPECT_EQ(GetTempPathW(), L"C:\\Windows\\Temp\\");
}

}  // namespace
