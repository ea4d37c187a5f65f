// Special folders and the profiles of a fresh machine.
#include <gtest/gtest.h>

#include <cwchar>

#include "testing/MachineFixture.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include <filesystem>
#include "platform/Files.h"
#include "platform/ShellFolders.h"

using namespace platform;

namespace {

class ShellFolders : public tltest::MachineTest {};

class ShellFoldersXp : public tltest::MachineTest {
  MachineConfig Config() override {
    MachineConfig c = MachineConfig::Defaults();
    c.os.major = 5;
    c.os.minor = 1;
    c.os.build = 2600;
    c.os.is64Bit = false;
    c.os.productName = L"Microsoft Windows XP";
    c.os.servicePack = L"Service Pack 3";
    return c;
  }
};

class ShellFolders64BitProcess : public tltest::MachineTest {
  MachineConfig Config() override {
    MachineConfig c = MachineConfig::Defaults();
    c.process32Bit = false;
    return c;
  }
};

std::wstring Folder(int csidl, bool create = false) {
  std::wstring path;
  if (!SHGetSpecialFolderPathW(nullptr, path, csidl, create)) return L"<none>";
  return path;
}

}  // namespace

TEST_F(ShellFolders, Windows10LayoutForA32BitInstaller) {
  EXPECT_EQ(Folder(CSIDL_PROGRAM_FILES), L"C:\\Program Files (x86)");
  EXPECT_EQ(Folder(CSIDL_PROGRAM_FILESX86), L"C:\\Program Files (x86)");
  EXPECT_EQ(Folder(CSIDL_PROGRAM_FILES_COMMON), L"C:\\Program Files (x86)\\Common Files");
  EXPECT_EQ(Folder(CSIDL_SYSTEM), L"C:\\Windows\\SysWOW64");
  EXPECT_EQ(Folder(CSIDL_SYSTEMX86), L"C:\\Windows\\SysWOW64");
  EXPECT_EQ(Folder(CSIDL_WINDOWS), L"C:\\Windows");
  EXPECT_EQ(Folder(CSIDL_COMMON_APPDATA), L"C:\\ProgramData");
  EXPECT_EQ(Folder(CSIDL_APPDATA), L"C:\\Users\\User\\AppData\\Roaming");
  EXPECT_EQ(Folder(CSIDL_LOCAL_APPDATA), L"C:\\Users\\User\\AppData\\Local");
  EXPECT_EQ(Folder(CSIDL_PROFILE), L"C:\\Users\\User");
  EXPECT_EQ(Folder(CSIDL_PERSONAL), L"C:\\Users\\User\\Documents");
  EXPECT_EQ(Folder(CSIDL_COMMON_DOCUMENTS), L"C:\\Users\\Public\\Documents");
  EXPECT_EQ(Folder(CSIDL_COMMON_DESKTOPDIRECTORY), L"C:\\Users\\Public\\Desktop");
  EXPECT_EQ(Folder(CSIDL_COMMON_PROGRAMS),
            L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
  EXPECT_EQ(Folder(CSIDL_COMMON_STARTUP),
            L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup");
  EXPECT_EQ(Folder(CSIDL_PROGRAMS),
            L"C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs");
  EXPECT_EQ(Folder(CSIDL_SENDTO), L"C:\\Users\\User\\AppData\\Roaming\\Microsoft\\Windows\\SendTo");
  EXPECT_EQ(Folder(CSIDL_FONTS), L"C:\\Windows\\Fonts");
}

TEST_F(ShellFolders64BitProcess, NativeProgramFilesAndSystem32) {
  EXPECT_EQ(Folder(CSIDL_PROGRAM_FILES), L"C:\\Program Files");
  EXPECT_EQ(Folder(CSIDL_PROGRAM_FILESX86), L"C:\\Program Files (x86)");
  EXPECT_EQ(Folder(CSIDL_PROGRAM_FILES_COMMON), L"C:\\Program Files\\Common Files");
  EXPECT_EQ(Folder(CSIDL_SYSTEM), L"C:\\Windows\\system32");
  EXPECT_EQ(Folder(CSIDL_SYSTEMX86), L"C:\\Windows\\SysWOW64");
}

TEST_F(ShellFoldersXp, XpLayoutWithAllUsersAndNoX86Folders) {
  EXPECT_EQ(Folder(CSIDL_COMMON_APPDATA),
            L"C:\\Documents and Settings\\All Users\\Application Data");
  EXPECT_EQ(Folder(CSIDL_APPDATA), L"C:\\Documents and Settings\\User\\Application Data");
  EXPECT_EQ(Folder(CSIDL_LOCAL_APPDATA),
            L"C:\\Documents and Settings\\User\\Local Settings\\Application Data");
  EXPECT_EQ(Folder(CSIDL_PERSONAL), L"C:\\Documents and Settings\\User\\My Documents");
  EXPECT_EQ(Folder(CSIDL_COMMON_DOCUMENTS), L"C:\\Documents and Settings\\All Users\\Documents");
  EXPECT_EQ(Folder(CSIDL_COMMON_PROGRAMS),
            L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs");
  EXPECT_EQ(Folder(CSIDL_PROGRAM_FILES), L"C:\\Program Files");
  EXPECT_EQ(Folder(CSIDL_PROGRAM_FILESX86), L"C:\\Program Files");
  EXPECT_EQ(Folder(CSIDL_SYSTEM), L"C:\\Windows\\system32");
  RegKey k;
  ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion"),
            ERROR_SUCCESS);
  std::wstring v;
  EXPECT_EQ(k.QueryString(L"CurrentVersion", v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"5.1");
  EXPECT_EQ(k.QueryString(L"CSDVersion", v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"Service Pack 3");
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(
      k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList"),
      ERROR_SUCCESS);
  EXPECT_EQ(k.QueryString(L"AllUsersProfile", v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"All Users");
  // The XP profiles of a fresh machine.
  for (const wchar_t* folder :
       {L"C:\\Documents and Settings\\User\\Application Data",
        L"C:\\Documents and Settings\\User2\\Local Settings\\Application Data",
        L"C:\\Documents and Settings\\Default User\\My Documents",
        L"C:\\Documents and Settings\\All Users\\Application Data",
        L"C:\\Documents and Settings\\User\\Local Settings\\Temp"})
    EXPECT_TRUE(PathIsDirectoryW(folder)) << ToUtf8(folder);
}

TEST_F(ShellFolders, EveryKnownFolderExistsOnAFreshMachine) {
  for (int csidl : KnownCsidls()) {
    std::wstring path;
    EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path), S_OK)
        << std::hex << csidl;
    EXPECT_TRUE(PathIsDirectoryW(path)) << ToUtf8(path);
  }
  // The profiles that per-user clean-up walks: the user, the second user, Default and Public.
  std::vector<FindData> entries;
  ASSERT_EQ(FindAll(L"C:\\Users\\*", entries), ERROR_SUCCESS);
  std::vector<std::wstring> names;
  for (const auto& e : entries) names.push_back(e.fileName);
  for (const wchar_t* expected : {L"User", L"User2", L"Default", L"Public"})
    EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << ToUtf8(expected);
  EXPECT_TRUE(PathIsDirectoryW(L"C:\\Users\\User2\\AppData\\Roaming"));
  EXPECT_TRUE(PathIsDirectoryW(L"C:\\Users\\User2\\AppData\\Local"));
  EXPECT_TRUE(PathIsDirectoryW(L"C:\\Users\\Default\\AppData\\Local"));
}

TEST_F(ShellFolders, CreateFlagMakesMissingFoldersWithParents) {
  ASSERT_EQ(RemoveDirectoryW(L"C:\\Users\\Public\\Documents"), ERROR_SUCCESS);
  EXPECT_EQ(Folder(CSIDL_COMMON_DOCUMENTS), L"<none>");
  std::wstring path;
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, 0, path),
            HResultFromWin32(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(path.empty());
  EXPECT_EQ(
      SHGetFolderPathW(nullptr, CSIDL_COMMON_DOCUMENTS | CSIDL_FLAG_DONT_VERIFY, nullptr, 0, path),
      S_OK);
  EXPECT_EQ(path, L"C:\\Users\\Public\\Documents");
  EXPECT_FALSE(PathIsDirectoryW(path));
  EXPECT_EQ(Folder(CSIDL_COMMON_DOCUMENTS, true), L"C:\\Users\\Public\\Documents");
  EXPECT_TRUE(PathIsDirectoryW(L"C:\\Users\\Public\\Documents"));

  EXPECT_EQ(SHGetFolderPathW(nullptr, 0x7f, nullptr, 0, path), E_INVALIDARG);
  wchar_t buffer[260];
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_COMMON_APPDATA, false));
  EXPECT_STREQ(buffer, L"C:\\ProgramData");
}

TEST_F(ShellFolders, ProfileRelativeFoldersAgreeAcrossUsers) {
  // Per-user clean-up cuts the profile off the application-data folders and applies the rest
  // to every profile: the layout must be the same for every user.
  const MachineConfig& c = CurrentConfig();
  for (int csidl : {CSIDL_APPDATA, CSIDL_LOCAL_APPDATA}) {
    std::wstring mine = SpecialFolderPath(c, csidl);
    std::wstring profile = SpecialFolderPath(c, CSIDL_PROFILE);
    ASSERT_EQ(mine.compare(0, profile.size(), profile), 0);
    std::wstring other = SpecialFolderPath(c, csidl, L"User2");
    EXPECT_EQ(other, ProfilePath(c, L"User2") + mine.substr(profile.size()));
  }
  EXPECT_TRUE(IsPerUserCsidl(CSIDL_APPDATA));
  EXPECT_FALSE(IsPerUserCsidl(CSIDL_COMMON_APPDATA));
  EXPECT_EQ(ProfilesDirectory(c), L"C:\\Users");
}
