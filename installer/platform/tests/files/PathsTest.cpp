#include "platform/Paths.h"

#include "testing/MachineFixture.h"
#include "platform/Environment.h"
#include "platform/HostIo.h"
#include "platform/Paths.h"
#include <fstream>

#include <gtest/gtest.h>

using namespace platform;

namespace {

std::wstring Canon(std::wstring_view in) {
  std::wstring out = L"unchanged";
  EXPECT_TRUE(PathCanonicalizeW(out, in)) << std::wstring(in).size();
  return out;
}

TEST(Paths, CanonicalizeDocumentedExamples) {
  EXPECT_EQ(Canon(L"A:\\name_1\\.\\name_2\\..\\name_3"), L"A:\\name_1\\name_3");
  EXPECT_EQ(Canon(L"A:\\name_1\\..\\name_2\\.\\name_3"), L"A:\\name_2\\name_3");
  EXPECT_EQ(Canon(L"A:\\name_1\\name_2\\.\\name_3\\..\\name_4"), L"A:\\name_1\\name_2\\name_4");
  EXPECT_EQ(Canon(L"A:\\name_1\\.\\name_2\\.\\name_3\\..\\name_4\\.."), L"A:\\name_1\\name_2");
  EXPECT_EQ(Canon(L"C:\\..\\..\\Windows"), L"C:\\Windows");
  EXPECT_EQ(Canon(L"C:\\a\\b\\"), L"C:\\a\\b\\");
  EXPECT_EQ(Canon(L"C:"), L"C:\\");
  EXPECT_EQ(Canon(L""), L"\\");
  EXPECT_EQ(Canon(L"\\\\server\\share\\..\\x"), L"\\\\server\\share\\x");
  EXPECT_EQ(Canon(L"a\\..\\.."), L"\\");
  std::wstring out = L"unchanged";
  EXPECT_FALSE(PathCanonicalizeW(out, std::wstring(300, L'a')));
  EXPECT_EQ(out, L"unchanged");
}

TEST(Paths, AppendAndCombine) {
  std::wstring p = L"C:\\Program Files";
  EXPECT_TRUE(PathAppendW(p, L"TOLMERA\\bin"));
  EXPECT_EQ(p, L"C:\\Program Files\\TOLMERA\\bin");
  p = L"C:\\a\\";
  EXPECT_TRUE(PathAppendW(p, L"\\b"));  // a leading backslash is taken as relative
  EXPECT_EQ(p, L"C:\\a\\b");
  p = L"C:\\a";
  EXPECT_TRUE(PathAppendW(p, L"D:\\x"));
  EXPECT_EQ(p, L"D:\\x");
  p = L"C:\\a\\b";
  EXPECT_TRUE(PathAppendW(p, L"..\\c"));
  EXPECT_EQ(p, L"C:\\a\\c");
  p = L"C:\\" + std::wstring(250, L'x');
  const std::wstring before = p;
  EXPECT_FALSE(PathAppendW(p, L"0123456789"));
  EXPECT_EQ(p, before);  // left as it was, never emptied
  std::wstring out;
  EXPECT_TRUE(PathCombineW(out, L"C:\\dir", L"\\file"));
  EXPECT_EQ(out, L"C:\\file");
  EXPECT_TRUE(PathCombineW(out, L"C:\\dir", L""));
  EXPECT_EQ(out, L"C:\\dir");
}

TEST(Paths, RemoveFileSpec) {
  struct Case {
    const wchar_t* in;
    const wchar_t* out;
    bool changed;
  };
  const Case cases[] = {
      {L"C:\\a\\b", L"C:\\a", true},
      {L"C:\\a", L"C:\\", true},
      {L"C:\\", L"C:\\", false},
      {L"a", L"", true},
      {L"\\a", L"\\", true},
      {L"\\\\server\\share", L"\\\\server", true},
      {L"C:\\a\\b\\", L"C:\\a\\b", true},
      {L"", L"", false},
  };
  for (const Case& c : cases) {
    std::wstring p = c.in;
    EXPECT_EQ(PathRemoveFileSpecW(p), c.changed) << c.in;
    EXPECT_EQ(p, c.out) << c.in;
  }
}

TEST(Paths, Extensions) {
  EXPECT_EQ(PathFindExtensionW(L"C:\\dir\\file.txt"), L".txt");
  EXPECT_EQ(PathFindExtensionW(L"C:\\dir.ext\\file"), L"");
  EXPECT_EQ(PathFindExtensionW(L"file.tar.gz"), L".gz");
  EXPECT_EQ(PathFindExtensionW(L"file. txt"), L"");  // a blank after the dot ends it
  EXPECT_EQ(PathFindExtensionW(L"file."), L".");
  std::wstring p = L"C:\\setup";
  EXPECT_TRUE(PathAddExtensionW(p));
  EXPECT_EQ(p, L"C:\\setup.exe");
  EXPECT_FALSE(PathAddExtensionW(p, L".dll"));
  EXPECT_EQ(p, L"C:\\setup.exe");
  p = L"C:\\readme";
  EXPECT_TRUE(PathAddExtensionW(p, L".txt"));
  EXPECT_EQ(p, L"C:\\readme.txt");
  p = L"C:\\" + std::wstring(254, L'x');
  EXPECT_FALSE(PathAddExtensionW(p, L".txt"));
  p = L"a.b.c";
  PathRemoveExtensionW(p);
  EXPECT_EQ(p, L"a.b");
  EXPECT_TRUE(PathRenameExtensionW(p, L".zip"));
  EXPECT_EQ(p, L"a.zip");
}

TEST(Paths, QuoteSpaces) {
  std::wstring p = L"C:\\Program Files\\x.exe";
  EXPECT_TRUE(PathQuoteSpacesW(p));
  EXPECT_EQ(p, L"\"C:\\Program Files\\x.exe\"");
  p = L"C:\\nospace";
  EXPECT_FALSE(PathQuoteSpacesW(p));
  EXPECT_EQ(p, L"C:\\nospace");
  p = L"C:\\ " + std::wstring(255, L'x');  // would not fit MAX_PATH with the quotes
  EXPECT_FALSE(PathQuoteSpacesW(p));
  p = L"\"quoted\"";
  PathUnquoteSpacesW(p);
  EXPECT_EQ(p, L"quoted");
}

TEST(Paths, RootsDrivesUncAndUrls) {
  EXPECT_TRUE(PathIsUNCW(L"\\\\server\\share"));
  EXPECT_TRUE(PathIsUNCW(L"\\\\?\\UNC\\server\\share"));
  EXPECT_FALSE(PathIsUNCW(L"\\\\?\\C:\\x"));
  EXPECT_FALSE(PathIsUNCW(L"C:\\x"));
  EXPECT_TRUE(PathIsUNCServerW(L"\\\\server"));
  EXPECT_TRUE(PathIsUNCServerShareW(L"\\\\server\\share"));
  EXPECT_FALSE(PathIsUNCServerShareW(L"\\\\server\\share\\x"));
  EXPECT_EQ(PathGetDriveNumberW(L"C:\\x"), 2);
  EXPECT_EQ(PathGetDriveNumberW(L"z:"), 25);
  EXPECT_EQ(PathGetDriveNumberW(L"\\\\?\\D:\\x"), 3);
  EXPECT_EQ(PathGetDriveNumberW(L"\\\\server\\x"), -1);
  EXPECT_EQ(PathGetDriveNumberW(L"1:\\"), -1);
  EXPECT_TRUE(PathIsURLW(L"http://www.example.com/x"));
  EXPECT_TRUE(PathIsURLW(L"file:///C:/x"));
  EXPECT_TRUE(PathIsURLW(L"mailto:a@b"));
  EXPECT_FALSE(PathIsURLW(L"C:\\x"));
  EXPECT_FALSE(PathIsURLW(L"no scheme"));
  EXPECT_FALSE(PathIsURLW(L"a b:c"));
  std::wstring p = L"C:\\a\\b";
  EXPECT_TRUE(PathStripToRootW(p));
  EXPECT_EQ(p, L"C:\\");
  p = L"\\\\server\\share\\a\\b";
  EXPECT_TRUE(PathStripToRootW(p));
  EXPECT_EQ(p, L"\\\\server\\share");
  p = L"relative\\x";
  EXPECT_FALSE(PathStripToRootW(p));
  EXPECT_TRUE(PathIsRootW(L"C:\\"));
  EXPECT_TRUE(PathIsRootW(L"\\"));
  EXPECT_FALSE(PathIsRootW(L"C:"));
  EXPECT_FALSE(PathIsRootW(L"\\\\server\\share\\"));
  EXPECT_TRUE(PathIsRelativeW(L"a\\b"));
  EXPECT_FALSE(PathIsRelativeW(L"\\a"));
  EXPECT_FALSE(PathIsRelativeW(L"C:a"));
}

TEST(Paths, BackslashesAndStripPath) {
  std::wstring p = L"C:\\a\\";
  EXPECT_EQ(PathRemoveBackslashW(p), 4u);
  EXPECT_EQ(p, L"C:\\a");
  p = L"C:\\";
  PathRemoveBackslashW(p);
  EXPECT_EQ(p, L"C:\\");  // a root keeps it
  p = L"C:\\a";
  EXPECT_TRUE(PathAddBackslashW(p));
  EXPECT_EQ(p, L"C:\\a\\");
  p = std::wstring(259, L'x');
  EXPECT_FALSE(PathAddBackslashW(p));
  p = L"C:\\a\\b.txt";
  PathStripPathW(p);
  EXPECT_EQ(p, L"b.txt");
  p = L"C:\\a\\";
  PathStripPathW(p);
  EXPECT_EQ(p, L"a\\");
  EXPECT_EQ(PathFindFileNameW(L"C:\\x/y.txt"), L"y.txt");
}

TEST(Paths, DeviceNamesAndInvalidCharacters) {
  EXPECT_TRUE(IsDosDeviceName(L"CON"));
  EXPECT_TRUE(IsDosDeviceName(L"con.txt"));
  EXPECT_TRUE(IsDosDeviceName(L"Nul "));
  EXPECT_TRUE(IsDosDeviceName(L"LPT9.log"));
  EXPECT_FALSE(IsDosDeviceName(L"COM0"));
  EXPECT_FALSE(IsDosDeviceName(L"CONSOLE"));
  EXPECT_TRUE(PathHasDeviceName(L"C:\\x\\aux\\y"));
  EXPECT_FALSE(IsValidFileName(L"a*b"));
  EXPECT_FALSE(IsValidFileName(L"a:b"));
  EXPECT_FALSE(IsValidFileName(std::wstring(L"a\x01")));
  EXPECT_TRUE(IsValidFileName(L"Program Files (x86)"));
}

class PathsOnMachine : public tltest::MachineTest {};

TEST_F(PathsOnMachine, FullPathNamesAgainstCurrentDirectories) {
  ASSERT_EQ(SetCurrentDirectoryW(L"C:\\Windows"), ERROR_SUCCESS);
  std::wstring full;
  EXPECT_EQ(GetFullPathNameW(L"System32\\x.dll", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"C:\\Windows\\System32\\x.dll");
  EXPECT_EQ(GetFullPathNameW(L"..\\..\\..\\x", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"C:\\x");
  EXPECT_EQ(GetFullPathNameW(L"\\Users", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"C:\\Users");
  EXPECT_EQ(GetFullPathNameW(L"C:/a/./b//c/", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"C:\\a\\b\\c\\");
  EXPECT_EQ(GetFullPathNameW(L"C:\\a\\name. . \\b", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"C:\\a\\name\\b");
  // Per-drive current directory: "Z:x" against Z:'s own directory.
  ASSERT_EQ(SetCurrentDirectoryW(L"Z:\\tmp"), ERROR_SUCCESS);
  ASSERT_EQ(SetCurrentDirectoryW(L"C:\\Users"), ERROR_SUCCESS);
  EXPECT_EQ(GetFullPathNameW(L"Z:x", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"Z:\\tmp\\x");
  EXPECT_EQ(GetFullPathNameW(L"C:x", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"C:\\Users\\x");
  EXPECT_EQ(GetCurrentDirectoryOfDrive(L'z'), L"Z:\\tmp");
  EXPECT_EQ(GetCurrentDirectoryOfDrive(L'D'), L"D:\\");
  EXPECT_EQ(GetFullPathNameW(L"C:\\x\\con.txt", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"\\\\.\\CON");
  EXPECT_EQ(GetFullPathNameW(L"\\\\server\\share\\a\\..\\..\\b", full), ERROR_SUCCESS);
  EXPECT_EQ(full, L"\\\\server\\share\\b");
  EXPECT_EQ(GetFullPathNameW(L"", full), ERROR_INVALID_NAME);
  EXPECT_EQ(GetFullPathNameW(std::wstring(33000, L'a'), full), ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(PathsOnMachine, SetCurrentDirectoryChecksTheFolder) {
  EXPECT_EQ(SetCurrentDirectoryW(L"C:\\NoSuchFolder"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetCurrentDirectoryW(L"C:\\NoSuch\\Folder"), ERROR_PATH_NOT_FOUND);
  WriteHost(C("file.txt"), "x");
  EXPECT_EQ(SetCurrentDirectoryW(L"C:\\file.txt"), ERROR_DIRECTORY);
  EXPECT_EQ(GetCurrentDirectoryW(), L"C:\\");
  EXPECT_EQ(SetCurrentDirectoryW(L"c:\\program files\\"), ERROR_SUCCESS);
  EXPECT_EQ(GetCurrentDirectoryW(), L"C:\\program files");
  // The per-drive directory is kept in the environment, where started programs inherit it.
  std::wstring v;
  EXPECT_EQ(GetEnvironmentVariableW(L"=C:", v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"C:\\program files");
}

}  // namespace
