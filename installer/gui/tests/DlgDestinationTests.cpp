// The destination page: the product folder at the end of the path, the space lines and the
// folders it accepts.
#include "gui/pages/DlgDestination.h"
#include "gui/tests/PageTestSupport.h"
#include "testing/MachineFixture.h"

using namespace InstallGui;

TEST(AppendProductFolder, AddsTheFolderOnceWhateverItsCase) {
  struct {
    const wchar_t* path;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\Programs", L"C:\\Programs\\Design"},
      {L"C:\\Programs\\", L"C:\\Programs\\Design"},
      {L"C:\\Programs\\DESIGN\\", L"C:\\Programs\\DESIGN"},
      {L"C:\\Programs\\design", L"C:\\Programs\\design"},
      {L"\\\\srv\\share", L"\\\\srv\\share\\Design"},
  };
  for (const auto& c : cases) {
    std::wstring path = c.path;
    AppendProductFolder(path, L"Design");
    EXPECT_EQ(path, c.expected) << platform::ToUtf8(c.path);
  }
}

TEST(SpaceLine, WholeMebibytesFromAFormatOfTheLanguage) {
  EXPECT_EQ(FormatSpaceLine(L"Free: %I64d MB", 5ull << 10), L"Free: 5120 MB");
  EXPECT_EQ(FormatSpaceLine(L"Free: %llu MB", 5ull << 10), L"Free: 5120 MB");
  EXPECT_EQ(FormatSpaceLine(L"Needed: %u MB", 1048575u >> 20), L"Needed: 0 MB");
  // A format that takes no number, or one that wants a text, is shown as it stands.
  EXPECT_EQ(FormatSpaceLine(L"Space required:", 7), L"Space required:");
  EXPECT_EQ(FormatSpaceLine(L"Needed: %s", 7), L"Needed: %s");
  EXPECT_EQ(FormatSpaceLine(L"", 7), L"");
  // A long translation never overflows the line.
  std::wstring longFormat(300, L'x');
  EXPECT_EQ(FormatSpaceLine(longFormat + L"%u", 1).size(), 99u);
}

TEST(DestinationFolder, OnlyAFullLocalOrNetworkFolderIsAccepted) {
  for (const wchar_t* good : {L"C:\\Programs\\Design", L"d:\\x", L"\\\\srv\\share\\Design"})
    EXPECT_EQ(CheckDestinationFolder(good), L"") << platform::ToUtf8(good);
  for (const wchar_t* bad : {L"", L"Programs\\Design", L"C:", L"C:Programs", L"\\Programs",
                             L"\\\\srv", L"\\\\srv\\", L"C:\\a|b", L"C:\\a\\b:c"})
    EXPECT_NE(CheckDestinationFolder(bad), L"") << platform::ToUtf8(bad);
  EXPECT_NE(CheckDestinationFolder(L"C:\\" + std::wstring(250, L'a')), L"");
}

namespace {

const std::string kTexts =
    "<DLG_DESTINATION Caption=\"Destination\"><TEXT Caption=\"Into:\"/>"
    "<SPACE_REQUIRED Caption=\"Required: %u MB\"/><SPACE_AVAILABLE Caption=\"Free: %I64d MB\"/>"
    "<BROWSECAPTION Caption=\"Folder\"/><BROWSETEXT Caption=\"Choose:\"/></DLG_DESTINATION>";

platform::MachineConfig WithFreeSpace(std::uint64_t bytes) {
  auto config = platform::MachineConfig::Defaults();
  for (auto& d : config.drives)
    if (d.letter == L'C') d.freeBytes = bytes;
  return config;
}

}  // namespace

TEST(DestinationPage, SpaceLinesFollowTheFolder) {
  tltest::ScopedMachine machine(WithFreeSpace(5ull << 30));
  pagetest::PageScript script(pagetest::English(kTexts));
  script.userSettings.Set(L"InstallPath", L"C:\\Programs\\Design");
  CDlgDestination page(L"", L"Design");
  page.SetServices(script.Services());
  page.SetRequiredBytes(1048575);
  pagetest::Show(page);
  EXPECT_EQ(page.InstallPath(), L"C:\\Programs\\Design");
  EXPECT_EQ(page.SpaceAvailableLine(), L"Free: 5120 MB");
  EXPECT_EQ(page.SpaceRequiredLine(), L"Required: 0 MB");
  EXPECT_EQ(page.BrowseCaption(), L"Folder");
  EXPECT_EQ(page.BrowsePrompt(), L"Choose:");
  // A drive the machine does not have has no free space; a bare drive letter is asked as it is.
  page.SetInstallPath(L"Q:\\x");
  EXPECT_EQ(page.SpaceAvailableLine(), L"Free: 0 MB");
  page.SetInstallPath(L"C:");
  EXPECT_EQ(page.SpaceAvailableLine(), L"Free: 5120 MB");
  // The browser's folder gets the product folder; Next keeps it.
  page.AcceptBrowsedFolder(L"C:\\Apps\\");
  EXPECT_EQ(page.InstallPath(), L"C:\\Apps\\Design");
  EXPECT_TRUE(page.Press(PageButton::Next));
  EXPECT_EQ(script.userSettings.Text(L"InstallPath"), L"C:\\Apps\\Design");
}

TEST(DestinationPage, AFolderThatIsNotAcceptedKeepsThePageWithAMessage) {
  tltest::ScopedMachine machine;
  pagetest::PageScript script(pagetest::English(kTexts));
  CDlgDestination page(L"C:\\Programs", L"Design");
  page.SetServices(script.Services());
  pagetest::Show(page);
  EXPECT_EQ(page.InstallPath(), L"C:\\Programs");  // the run's folder before the setting
  pagetest::LogLines log;
  ASSERT_TRUE(page.SetField(L"InstallPath", L"relative\\folder"));
  EXPECT_FALSE(page.Press(PageButton::Next));
  ASSERT_EQ(script.shown.size(), 1u);
  EXPECT_NE(script.shown[0].find(L"not a full local or network folder"), std::wstring::npos);
  EXPECT_TRUE(
      log.Has("1 CDlgDestination: The folder \"relative\\folder\" cannot be used: the "
              "folder is not a full local or network folder."));
  ASSERT_TRUE(page.SetField(L"InstallPath", L""));
  EXPECT_FALSE(page.Press(PageButton::Next));
  EXPECT_TRUE(script.userSettings.values.empty());
  // Back keeps what was typed, as a person's Back does.
  ASSERT_TRUE(page.SetField(L"InstallPath", L"\\\\srv\\share"));
  EXPECT_TRUE(page.Press(PageButton::Back));
  EXPECT_EQ(script.userSettings.Text(L"InstallPath"), L"\\\\srv\\share\\Design");
}
