#include "app/CommandLine.h"
#include "app/Tools.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

using namespace InstallManager;

TEST(CommandLine, SwitchesAsTheInstallerReadsThem) {
  CommandLine empty = ParseCommandLine(L"");
  EXPECT_EQ(empty.archivePath, L"");
  EXPECT_FALSE(empty.admin);

  CommandLine x = ParseCommandLine(L"/X   C:\\Pkg\\Setup.data   ");
  EXPECT_EQ(x.archivePath, L"C:\\Pkg\\Setup.data");
  EXPECT_FALSE(x.admin);

  // The rest of the line is the path, blanks inside included.
  EXPECT_EQ(ParseCommandLine(L"/XC:\\My Packages\\Setup.data").archivePath,
            L"C:\\My Packages\\Setup.data");
  EXPECT_EQ(ParseCommandLine(L"/X \"C:\\My Packages\\Setup.data\"").archivePath,
            L"C:\\My Packages\\Setup.data");

  // Lower case is not the switch; the whole line is ignored.
  CommandLine lower = ParseCommandLine(L"/x C:\\Pkg\\Setup.data /ADMIN");
  EXPECT_EQ(lower.archivePath, L"");
  EXPECT_FALSE(lower.admin);

  EXPECT_TRUE(ParseCommandLine(L"something /admin else").admin);
  CommandLine both = ParseCommandLine(L"/admin /X C:\\P\\Setup.data");
  EXPECT_TRUE(both.admin);
  EXPECT_EQ(both.archivePath, L"C:\\P\\Setup.data");
  // The switch after the path is not part of it.
  CommandLine after = ParseCommandLine(L"/X C:\\P\\Setup.data /admin");
  EXPECT_TRUE(after.admin);
  EXPECT_EQ(after.archivePath, L"C:\\P\\Setup.data");

  // A host path is taken as its Z: path.
  EXPECT_EQ(ParseCommandLine(L"/X /home/me/pkg/Setup.data").archivePath,
            L"Z:\\home\\me\\pkg\\Setup.data");
}

TEST(CommandLine, HostArgumentsBecomeAWindowsLine) {
  EXPECT_EQ(BuildCommandLine({}), L"");
  EXPECT_EQ(BuildCommandLine({L"/X", L"/tmp/my dir/Setup.data", L"/admin"}),
            L"/X \"Z:\\tmp\\my dir\\Setup.data\" /admin");
  // A "/admin" right after "/X" stays the switch.
  EXPECT_EQ(BuildCommandLine({L"/X", L"/admin"}), L"/X /admin");
  EXPECT_EQ(QuoteArgument(L"a\"b"), L"\"a\\\"b\"");
  EXPECT_EQ(QuoteArgument(L""), L"\"\"");

  // What the program's arguments say arrives whole at the run.
  CommandLine cl =
      ParseCommandLine(BuildCommandLine({L"/X", L"/tmp/my dir/Setup.data", L"/admin"}));
  EXPECT_EQ(cl.archivePath, L"Z:\\tmp\\my dir\\Setup.data");
  EXPECT_TRUE(cl.admin);
  // A path under a folder named "admin" does not switch the flag on.
  EXPECT_FALSE(ParseCommandLine(BuildCommandLine({L"/X", L"/home/admin/Setup.data"})).admin);
}

TEST(CommandLine, AMissingArchiveIsDroppedAndLogged) {
  tltest::ScopedMachine machine;
  GetInstallTools().Reset();
  std::vector<std::wstring> out;
  GetInstallTools().Log().SetDebugOutput([&](const std::wstring& s) { out.push_back(s); });

  ASSERT_EQ(platform::CreateDirectoryWithParents(L"C:\\Pkg"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Pkg\\Setup.data", "PK"), platform::ERROR_SUCCESS);
  EXPECT_EQ(PrepareCommandLine(L"/X C:\\Pkg\\Setup.data  ").archivePath, L"C:\\Pkg\\Setup.data");
  EXPECT_TRUE(out.empty());

  CommandLine missing = PrepareCommandLine(L"/X C:\\Pkg\\Other.data");
  EXPECT_EQ(missing.archivePath, L"");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_NE(out[0].find(L"INFO : IsFileExists: 'C:\\Pkg\\Other.data' is NOT FOUND. Cause: The "
                        L"system cannot find the file specified."),
            std::wstring::npos)
      << platform::ToUtf8(out[0]);
  // The log's path is still empty: the first entry went to the debugger output with the dashes.
  EXPECT_EQ(out[0].find(L"---------------------\r\n"), 0u);
  GetInstallTools().Reset();
}

TEST(CommandLine, ARelativeArchivePathIsTheCallersFolderEvenAfterTheRunMovesOn) {
  tltest::ScopedMachine machine;
  GetInstallTools().Reset();
  std::vector<std::wstring> out;
  GetInstallTools().Log().SetDebugOutput([&](const std::wstring& s) { out.push_back(s); });
  ASSERT_EQ(platform::CreateDirectoryWithParents(L"C:\\Caller\\pkg"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Caller\\pkg\\Setup.data", "PK"),
            platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::CreateDirectoryWithParents(L"C:\\Program"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::SetCurrentDirectoryW(L"C:\\Caller"), platform::ERROR_SUCCESS);

  for (const wchar_t* line : {L"/X pkg\\Setup.data", L"/X pkg/Setup.data",
                              L"/X .\\pkg\\..\\pkg\\Setup.data", L"/X \"pkg\\Setup.data\""}) {
    CommandLine cl = PrepareCommandLine(line);
    EXPECT_EQ(cl.archivePath, L"C:\\Caller\\pkg\\Setup.data") << platform::ToUtf8(line);
  }
  EXPECT_TRUE(out.empty());
  // The run makes the program's folder current: the path still names the caller's package.
  CommandLine cl = PrepareCommandLine(L"/X pkg\\Setup.data");
  ASSERT_EQ(platform::SetCurrentDirectoryW(L"C:\\Program"), platform::ERROR_SUCCESS);
  EXPECT_TRUE(platform::PathFileExistsW(cl.archivePath));
  EXPECT_FALSE(platform::PathFileExistsW(L"pkg\\Setup.data"));

  // A relative path that names nothing is logged with its full form and dropped.
  CommandLine missing = PrepareCommandLine(L"/X other\\Setup.data");
  EXPECT_EQ(missing.archivePath, L"");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_NE(out[0].find(L"INFO : IsFileExists: 'C:\\Program\\other\\Setup.data' is NOT FOUND."),
            std::wstring::npos)
      << platform::ToUtf8(out[0]);
  GetInstallTools().Reset();
  platform::ResetCurrentDirectories();
}
