// The folder browser's contents: the machine's drives and network, the folders below them and
// the way to a start folder, local or on the network.
#include "gui/pages/FolderBrowser.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

using namespace InstallGui;

TEST(FolderBrowser, TheWayToAStartFolder) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(CFolderBrowser::PathChain(L"c:\\Programs\\Design\\"),
            (V{L"C:\\", L"C:\\Programs", L"C:\\Programs\\Design"}));
  EXPECT_EQ(CFolderBrowser::PathChain(L"C:\\"), (V{L"C:\\"}));
  // A network folder starts at the network and its computer.
  EXPECT_EQ(CFolderBrowser::PathChain(L"\\\\server\\share\\Product"),
            (V{L"\\\\", L"\\\\server", L"\\\\server\\share", L"\\\\server\\share\\Product"}));
  EXPECT_EQ(CFolderBrowser::PathChain(L"\\\\server"), (V{L"\\\\", L"\\\\server"}));
  EXPECT_TRUE(CFolderBrowser::PathChain(L"relative\\folder").empty());
  EXPECT_TRUE(CFolderBrowser::PathChain(L"").empty());
  EXPECT_FALSE(CFolderBrowser::IsFileSystemFolder(L"\\\\"));
  EXPECT_FALSE(CFolderBrowser::IsFileSystemFolder(L"\\\\server"));
  EXPECT_TRUE(CFolderBrowser::IsFileSystemFolder(L"\\\\server\\share"));
  EXPECT_EQ(CFolderBrowser::Label(L"C:\\Programs\\Design"), L"Design");
  EXPECT_EQ(CFolderBrowser::Label(L"D:\\"), L"D:\\");
  EXPECT_EQ(CFolderBrowser::Title(L"", L""), L"Select folder");
  EXPECT_EQ(CFolderBrowser::Title(L"", L"Choose a folder"), L"Choose a folder");
  EXPECT_EQ(CFolderBrowser::Title(L"Destination", L"Choose a folder"), L"Destination");
}

TEST(FolderBrowser, DrivesFoldersAndTheNetworkOfTheMachine) {
  tltest::ScopedMachine machine;
  ASSERT_EQ(platform::CreateDirectoryWithParents(L"C:\\Tree\\B"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::CreateDirectoryWithParents(L"C:\\Tree\\a"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Tree\\file.txt", "x"), platform::ERROR_SUCCESS);
  CFolderBrowser browser;
  std::vector<std::wstring> roots = browser.Roots();
  ASSERT_GE(roots.size(), 2u);
  EXPECT_EQ(roots.front(), L"C:\\");
  EXPECT_EQ(roots.back(), CFolderBrowser::kNetwork);
  // Folders only, in the file system's order; files are not offered.
  EXPECT_EQ(browser.Children(L"C:\\Tree"),
            (std::vector<std::wstring>{L"C:\\Tree\\a", L"C:\\Tree\\B"}));
  EXPECT_TRUE(browser.Children(L"C:\\Missing").empty());
  // The network: this computer and the server a fresh machine knows.
  EXPECT_EQ(browser.Children(CFolderBrowser::kNetwork),
            (std::vector<std::wstring>{L"\\\\TOLMERA-PC", L"\\\\TOLMERA-SRV"}));
  int pumps = 0;
  // Scanned once: a second look asks nothing of the network.
  browser.Children(CFolderBrowser::kNetwork, [&] { return ++pumps > 100; });
  EXPECT_EQ(pumps, 0);
}
