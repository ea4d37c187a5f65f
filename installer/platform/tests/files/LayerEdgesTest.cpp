// Edge cases across the services: other machine configurations, races, host oddities.
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/HostIo.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include "testing/MachineFixture.h"
#include "platform/Environment.h"
#include "platform/HostIo.h"
#include "platform/Paths.h"
#include <fstream>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace platform;

namespace {

class Edges : public tltest::MachineTest {
 protected:
  void Use(const MachineConfig& c, const std::string& name) {
    Machine::Init(temp_ + "/" + name, c);
    Machine::SetCurrentForProcess(temp_ + "/" + name);
    ResetEnvironment();
    root_ = temp_ + "/" + name;
  }
};

TEST_F(Edges, SixtyFourBitInstallerSeesTheNativeSystem) {
  MachineConfig c = MachineConfig::Defaults();
  c.process32Bit = false;
  Use(c, "x64");
  EXPECT_EQ(ToHostPath(L"C:\\Windows\\System32"), C("Windows/System32"));
  EXPECT_EQ(GetEnv(L"ProgramFiles"), std::optional<std::wstring>(L"C:\\Program Files"));
  EXPECT_EQ(GetEnv(L"PROCESSOR_ARCHITECTURE"), std::optional<std::wstring>(L"AMD64"));
  EXPECT_FALSE(GetEnv(L"PROCESSOR_ARCHITEW6432"));
}

TEST_F(Edges, ThirtyTwoBitWindowsHasNoWow64) {
  MachineConfig c = MachineConfig::Defaults();
  c.os.is64Bit = false;
  Use(c, "x86");
  EXPECT_EQ(ToHostPath(L"C:\\Windows\\System32"), C("Windows/System32"));
  std::wstring wow;
  EXPECT_EQ(GetSystemWow64DirectoryW(wow), ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_FALSE(GetEnv(L"ProgramFiles(x86)"));
  EXPECT_EQ(GetEnv(L"PROCESSOR_ARCHITECTURE"), std::optional<std::wstring>(L"x86"));
  EXPECT_FALSE(hostio::Exists(C("Program Files (x86)")));
}

TEST_F(Edges, XpMachineEnvironment) {
  MachineConfig c = MachineConfig::Defaults();
  c.os.major = 5;
  c.os.minor = 1;
  c.userName = L"Anna";
  Use(c, "xp");
  EXPECT_EQ(GetTempPathW(), L"C:\\Documents and Settings\\Anna\\Local Settings\\Temp\\");
  EXPECT_TRUE(PathIsDirectoryW(GetTempPathW()));
  EXPECT_EQ(GetEnv(L"ALLUSERSPROFILE"),
            std::optional<std::wstring>(L"C:\\Documents and Settings\\All Users"));
  EXPECT_FALSE(GetEnv(L"LOCALAPPDATA"));
}

TEST_F(Edges, NamesThatDifferOnlyByCaseOnTheHost) {
  ASSERT_EQ(CreateDirectoryW(L"C:\\dup"), ERROR_SUCCESS);
  WriteHost(C("dup/Readme.txt"), "mixed");
  WriteHost(C("dup/README.TXT"), "upper");
  std::string data;
  ASSERT_EQ(ReadWholeFile(L"C:\\dup\\Readme.txt", data), ERROR_SUCCESS);
  EXPECT_EQ(data, "mixed");  // the exact spelling first
  ASSERT_EQ(ReadWholeFile(L"C:\\dup\\readme.TXT", data), ERROR_SUCCESS);
  EXPECT_EQ(data, "upper");  // then the first in order, every time
  ASSERT_EQ(ReadWholeFile(L"C:\\DUP\\README.txt", data), ERROR_SUCCESS);
  EXPECT_EQ(data, "upper");
  // Writing through another spelling changes the existing file, never adds a third.
  ASSERT_EQ(WriteWholeFile(L"C:\\dup\\readme.txt", "new"), ERROR_SUCCESS);
  std::vector<FindData> all;
  ASSERT_EQ(FindAll(L"C:\\dup\\*", all), ERROR_SUCCESS);
  EXPECT_EQ(all.size(), 2u);
}

TEST_F(Edges, ManyThreadsShareTheHandleTable) {
  ASSERT_EQ(WriteWholeFile(L"C:\\busy.txt", "busy"), ERROR_SUCCESS);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        FileHandle h;
        if (h.Open(L"C:\\busy.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING) != ERROR_SUCCESS)
          ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  // Every entry was removed again: a writer without sharing gets in.
  FileHandle w;
  EXPECT_EQ(w.Open(L"C:\\busy.txt", GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_SUCCESS);
  std::string table;
  ASSERT_TRUE(hostio::ReadFile(root_ + "/state/handles", table));
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 1);
}

TEST_F(Edges, OpenFilesPinTheirFolders) {
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\pinned\\inner"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\pinned\\inner\\f.txt", "f"), ERROR_SUCCESS);
  FileHandle h;
  ASSERT_EQ(h.Open(L"C:\\pinned\\inner\\f.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                   OPEN_EXISTING),
            ERROR_SUCCESS);
  EXPECT_EQ(MoveFileW(L"C:\\pinned", L"C:\\moved"), ERROR_SHARING_VIOLATION);
  FileHandle dir;
  ASSERT_EQ(dir.Open(L"C:\\pinned\\inner", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS),
            ERROR_SUCCESS);
  h.Close();
  ASSERT_EQ(DeleteFileW(L"C:\\pinned\\inner\\f.txt"), ERROR_SUCCESS);
  EXPECT_EQ(RemoveDirectoryW(L"C:\\pinned\\inner"), ERROR_SHARING_VIOLATION);
  dir.Close();
  EXPECT_EQ(RemoveDirectoryW(L"C:\\pinned\\inner"), ERROR_SUCCESS);
  EXPECT_EQ(MoveFileW(L"C:\\pinned", L"C:\\moved"), ERROR_SUCCESS);
}

TEST_F(Edges, HandleTimesAndAccessChecks) {
  FileHandle h;
  ASSERT_EQ(h.Open(L"C:\\t.bin", GENERIC_WRITE, 0, OPEN_ALWAYS), ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);  // it did not exist
  char c;
  std::size_t got;
  EXPECT_EQ(h.Read(&c, 1, got), ERROR_ACCESS_DENIED);
  SYSTEMTIME st{};
  st.wYear = 1999;
  st.wMonth = 12;
  st.wDay = 31;
  st.wHour = 23;
  st.wMinute = 59;
  st.wSecond = 59;
  FileTime when, lw = 0, cr = 0;
  ASSERT_TRUE(SystemTimeToFileTime(st, when));
  ASSERT_EQ(h.SetLastWriteTime(when), ERROR_SUCCESS);
  ASSERT_EQ(h.GetTimes(&cr, nullptr, &lw), ERROR_SUCCESS);
  EXPECT_EQ(lw, when);
  EXPECT_NE(cr, 0u);
  EXPECT_EQ(h.Flush(), ERROR_SUCCESS);
  h.Close();
  // Writing marks the file for backup again.
  ASSERT_EQ(SetFileAttributesW(L"C:\\t.bin", FILE_ATTRIBUTE_HIDDEN), ERROR_SUCCESS);
  ASSERT_EQ(h.Open(L"C:\\t.bin", GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(L"C:\\t.bin"), FILE_ATTRIBUTE_HIDDEN);
  ASSERT_EQ(h.Write("abc", 3), ERROR_SUCCESS);
  EXPECT_EQ(GetFileAttributesW(L"C:\\t.bin"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  h.Close();
  EXPECT_EQ(h.Close(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(CopyFileW(L"C:\\t.bin", L"Z:\\tmp\\t.bin", false), ERROR_WRITE_PROTECT);
  EXPECT_EQ(SetFileLastWriteTime(L"Z:\\tmp", when), ERROR_WRITE_PROTECT);
  EXPECT_EQ(
      h.Open(L"Z:\\tmp", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS),
      ERROR_SUCCESS);
}

TEST_F(Edges, TwoProcessesCreateOneMachine) {
  const std::string shared = temp_ + "/raced";
  pid_t pids[2];
  for (pid_t& pid : pids) {
    pid = fork();
    if (pid == 0) {
      try {
        auto m = Machine::Open(shared, true);
        _exit(m->Config().computerName == L"TOLMERA-PC" ? 0 : 1);
      } catch (...) {
        _exit(2);
      }
    }
  }
  for (pid_t pid : pids) {
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  EXPECT_NO_THROW(Machine::Open(shared, false));
}

TEST_F(Edges, ReloadKeepsTheOldConfigurationWhenTheFileBreaks) {
  Machine& m = Machine::Current();
  std::string ini;
  ASSERT_TRUE(hostio::ReadFile(m.IniPath(), ini));
  const std::string renamed =
      std::string(ini).replace(ini.find("computer = TOLMERA-PC"), 21, "computer = RENAMED");
  WriteHost(m.IniPath(), renamed);
  m.Reload();
  EXPECT_EQ(m.Config().computerName, L"RENAMED");
  WriteHost(m.IniPath(), renamed + "\n[uac]\nenabled = perhaps\n");
  EXPECT_THROW(m.Reload(), MachineError);
  EXPECT_EQ(m.Config().computerName, L"RENAMED");
}

// Random paths built from the pieces that cause trouble: no crash, a status for every call, and
// nothing written anywhere but inside the machine.
TEST_F(Edges, RandomBadPathsStayInside) {
  const std::vector<std::wstring> pieces = {L"C:",
                                            L"c:",
                                            L"Z:",
                                            L"Q:",
                                            L"\\\\",
                                            L"\\",
                                            L"/",
                                            L"..",
                                            L".",
                                            L"...",
                                            L"CON",
                                            L"nul.txt",
                                            L"lpt1",
                                            L"a",
                                            L"B b",
                                            L"*",
                                            L"?",
                                            L"|",
                                            L":",
                                            L"\\\\?\\",
                                            L"\\\\TOLMERA-PC\\C$",
                                            L"\\\\x\\y",
                                            std::wstring(120, L'n'),
                                            L"\u00E9",
                                            std::wstring(1, static_cast<wchar_t>(0xDFFF)),
                                            std::wstring(1, L'\x7F'),
                                            L" ",
                                            L"Windows",
                                            L"System32",
                                            L"Sysnative",
                                            L"\\\\.\\",
                                            L"tmp"};
  unsigned state = 12345;
  auto next = [&] {
    state = state * 1103515245u + 12345u;
    return (state >> 16) & 0x7FFF;
  };
  for (int i = 0; i < 1000; ++i) {
    std::wstring path;
    const int n = 1 + static_cast<int>(next() % 7);
    for (int k = 0; k < n; ++k) {
      path += pieces[next() % pieces.size()];
      if (next() % 2) path += L'\\';
    }
    std::wstring other = L"C:\\fuzz" + std::to_wstring(i % 7);
    DWORD statuses[] = {WriteWholeFile(path, "x"),
                        CreateDirectoryWithParents(path),
                        SetFileAttributesW(path, FILE_ATTRIBUTE_HIDDEN),
                        CopyFileW(other, path, false),
                        MoveFileExW(path, other, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED),
                        DeleteFileW(path),
                        RemoveDirectoryW(path),
                        GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES ? 1u : 0u};
    std::vector<FindData> found;
    FindAll(path, found);
    std::wstring full;
    GetFullPathNameW(path, full);
    for (DWORD s : statuses) EXPECT_LT(s, 0x10000u);
  }
  std::vector<std::string> beside;
  for (const auto& e : std::filesystem::directory_iterator(temp_))
    beside.push_back(e.path().filename().string());
  EXPECT_EQ(beside, std::vector<std::string>{"machine"});
}

TEST_F(Edges, DrivesWithTheirOwnHostFolder) {
  const std::string data = temp_ + "/data-disk";
  ASSERT_TRUE(hostio::MakeDirs(data + "/inside"));
  const std::string escape = temp_ + "/elsewhere";
  ASSERT_TRUE(hostio::MakeDirs(escape));
  ASSERT_EQ(symlink(escape.c_str(), (data + "/out").c_str()), 0);
  ASSERT_EQ(symlink((data + "/inside").c_str(), (data + "/in").c_str()), 0);
  MachineConfig c = MachineConfig::Defaults();
  DriveConfig e;
  e.letter = L'E';
  e.hostPath = data;
  c.drives.insert(c.drives.begin() + 1, e);
  Use(c, "withe");
  ASSERT_EQ(WriteWholeFile(L"E:\\Inside\\f.txt", "on E"), ERROR_SUCCESS);
  EXPECT_TRUE(hostio::Exists(data + "/inside/f.txt"));
  EXPECT_TRUE(PathFileExistsW(L"E:\\in\\f.txt"));  // a link within the drive
  EXPECT_EQ(WriteWholeFile(L"E:\\out\\g.txt", "no"), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(hostio::Exists(escape + "/g.txt"));
  EXPECT_EQ(HostToWindowsPath(data + "/inside/f.txt"), L"E:\\inside\\f.txt");
  EXPECT_EQ(GetFileAttributesW(L"E:\\"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetLogicalDriveStringsW(), (std::vector<std::wstring>{L"C:\\", L"E:\\", L"Z:\\"}));
}

TEST_F(Edges, PatternsRelativeToCurrentDirectories) {
  ASSERT_EQ(CreateDirectoryW(L"C:\\rel"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\rel\\one.txt", "1"), ERROR_SUCCESS);
  ASSERT_EQ(SetCurrentDirectoryW(L"C:\\rel"), ERROR_SUCCESS);
  std::vector<FindData> found;
  ASSERT_EQ(FindAll(L"*.txt", found), ERROR_SUCCESS);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].fileName, L"one.txt");
  ASSERT_EQ(FindAll(L"C:*.txt", found), ERROR_SUCCESS);
  EXPECT_EQ(found.size(), 1u);
  ASSERT_EQ(FindAll(L"..\\rel\\o*", found), ERROR_SUCCESS);
  EXPECT_EQ(found.size(), 1u);
  EXPECT_EQ(FindAll(L"C:\\rel\\a<b", found), ERROR_INVALID_NAME);
}

TEST(TextEdges, OemAndLatin1CodePages) {
  EXPECT_EQ(AnsiToWide("\x80\x9B\xE1\xB3", 437), L"\u00C7\u00A2\u00DF\u2502");
  EXPECT_EQ(WideToAnsi(L"\u00C7\u2502\u00E9", 437), "\x80\xB3\x82");
  EXPECT_EQ(WideToAnsi(L"\u0100", 437), "A");  // best fit
  EXPECT_EQ(AnsiToWide("\x80\xFF", 28591), L"\u0080\u00FF");
  EXPECT_EQ(WideToAnsi(L"\u20AC\u00FF", 28591), "?\xFF");
  EXPECT_EQ(WideToAnsi(L"\u00E9\u20AC", 20127), "e?");
  EXPECT_EQ(AnsiToWide("\xC1", 20127), L"A");
  EXPECT_EQ(WideToAnsi(L"\u011F\u0130\u015F\u0131\u00E7", 1254), "\xF0\xDD\xFE\xFD\xE7");
  EXPECT_EQ(AnsiToWide("\xD0\xDE\x8E", 1254), L"\u011E\u015E\u008E");
  EXPECT_EQ(WideToAnsi(L"\u00D0", 1254), "D");  // the Icelandic letter has only its best fit
  EXPECT_TRUE(IsValidCodePage(1251));
  EXPECT_FALSE(IsValidCodePage(9999));
}

TEST(FormatEdges, FlagsWidthsAndNarrowConversions) {
  EXPECT_EQ(Format(L"%+d|% d|%#x|%#o|%08.3f|%-5c|", 5, 5, 255u, 8u, 3.14159, L'x'),
            L"+5| 5|0xff|010|0003.142|x    |");
  EXPECT_EQ(Format(L"%5S|%-4hc|%C", "ab", 'z', static_cast<char>('\xE9')), L"   ab|z   |\u00E9");
  EXPECT_EQ(Format(L"%S", std::string("\xE9t\xE9")),
            L"\u00E9t\u00E9");  // from the machine's code page
  EXPECT_EQ(Format(L"%.0f %g", 2.5, 0.0001), L"2 0.0001");
  EXPECT_EQ(Format(L"%s", std::wstring(L"\u4E2D\u6587")), L"\u4E2D\u6587");
  EXPECT_EQ(Format(L"%3s|", L"\u00E9"), L"  \u00E9|");  // widths count characters, not bytes
  EXPECT_EQ(Format(L"%I64x", static_cast<std::uint64_t>(0xFFFFFFFFFull)), L"fffffffff");
  EXPECT_EQ(Format(L"%p", static_cast<const void*>(nullptr)),
            std::wstring(2 * sizeof(void*), L'0'));
  EXPECT_THROW(Format(L"%*d", L"x", 1), FormatError);
  EXPECT_THROW(Format(L"%ls", "narrow"), FormatError);
  EXPECT_THROW(Format(L"%hs", L"wide"), FormatError);
}

TEST(PathEdges, MoreCornerCases) {
  std::wstring out = L"x";
  EXPECT_FALSE(PathCombineW(out, std::wstring(200, L'a'), std::wstring(100, L'b')));
  EXPECT_EQ(out, L"");
  std::wstring p;
  EXPECT_TRUE(PathCanonicalizeW(p, L"C:\\a\\...\\b"));
  EXPECT_EQ(p, L"C:\\a\\...\\b");
  EXPECT_TRUE(PathCanonicalizeW(p, L"\\a\\.\\b\\..\\c"));
  EXPECT_EQ(p, L"\\a\\c");
  EXPECT_EQ(PathRootLength(L"\\\\srv\\share\\x"), 11u);
  EXPECT_EQ(PathRootLength(L"C:x"), 2u);
  EXPECT_EQ(PathRootLength(L"x\\y"), 0u);
}

class PathEdgesOnMachine : public tltest::MachineTest {};

TEST_F(PathEdgesOnMachine, FullPathNamesOfSpecialForms) {
  std::wstring full;
  EXPECT_EQ(GetFullPathNameW(L"\\\\?\\C:\\x\\..\\y", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"\\\\?\\C:\\x\\..\\y");  // the device namespace is taken as it stands
  ASSERT_EQ(SetCurrentDirectoryW(L"C:\\Windows"), ERROR_SUCCESS);
  EXPECT_EQ(GetFullPathNameW(L"C:", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"C:\\Windows");
  EXPECT_EQ(GetFullPathNameW(L".", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"C:\\Windows");
  ASSERT_EQ(SetCurrentDirectoryW(L"\\\\TOLMERA-PC\\C$\\Users"), ERROR_SUCCESS);
  EXPECT_EQ(GetFullPathNameW(L"..\\..\\x", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"\\\\TOLMERA-PC\\C$\\x");
  EXPECT_EQ(GetFullPathNameW(L"\\y", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"\\\\TOLMERA-PC\\C$\\y");
}

}  // namespace
