// The shell's "open" of documents and addresses: recorded in the machine, never started.
#include "platform/Shell.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

namespace {

class Shell : public tltest::MachineTest {};

}  // namespace

TEST_F(Shell, OpenedAddressesAreRecordedInOrderAndNothingElse) {
  EXPECT_TRUE(platform::ShellOpened().empty());
  EXPECT_TRUE(
      platform::ShellExecuteW(L"open", L"https://tolmera.example/design", platform::SW_SHOW));
  EXPECT_TRUE(platform::ShellExecuteW(L"", L"C:\\Docs\\readme.txt", platform::SW_SHOW));
  // A line break in the name cannot forge a second record.
  EXPECT_TRUE(platform::ShellExecuteW(L"open", L"a\nopen\tb", platform::SW_SHOW));
  EXPECT_FALSE(platform::ShellExecuteW(L"open", L"", platform::SW_SHOW));
  std::vector<std::wstring> opened = platform::ShellOpened();
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[0], L"https://tolmera.example/design");
  EXPECT_EQ(opened[1], L"C:\\Docs\\readme.txt");
  EXPECT_EQ(opened[2], L"a open b");
}
