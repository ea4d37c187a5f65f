// The client attributes page: the network scan over the machine's neighbourhood, the list it
// gives, Escape during the scan and the server chosen from the list.
#include "gui/pages/DlgClientAttributes.h"
#include "gui/tests/PageTestSupport.h"
#include "platform/Machine.h"
#include "platform/Network.h"
#include "platform/Registry.h"
#include "testing/MachineFixture.h"
#include "testing/TempFolder.h"

#include <fstream>
#include <iterator>

using namespace InstallGui;

TEST(ComputerList, ComputerNamesOnlyEachOnce) {
  ComputerList list = {L"\\\\HOST", L"\\\\host\\share", L"\\\\OTHER\\a\\b", L"\\\\Third"};
  NormalizeComputerList(list);
  EXPECT_EQ(list, (ComputerList{L"HOST", L"OTHER", L"Third"}));
}

namespace {

// This computer, a server of the same workgroup with a share and a computer of another one.
platform::MachineConfig Neighbourhood(const std::string& serverRoot) {
  auto config = platform::MachineConfig::Defaults();
  platform::NetworkComputer server;
  server.name = L"TOLMERA-SRV";
  server.workgroup = L"WORKGROUP";
  server.server = true;
  server.machineRoot = serverRoot;
  platform::NetworkComputer other;
  other.name = L"LAB-PC";
  other.workgroup = L"LAB";
  config.network = {server, other};
  return config;
}

struct Network {
  Network() {
    std::string root = folder.Path() + "/srv";
    // The server's share, written into its own registry.
    platform::Machine::SetCurrentForProcess(root);
    platform::HKEY key = nullptr;
    EXPECT_EQ(
        platform::RegCreateKeyExW(platform::HKEY_LOCAL_MACHINE,
                                  L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares", 0,
                                  nullptr, 0, platform::KEY_ALL_ACCESS, nullptr, &key, nullptr),
        platform::ERROR_SUCCESS);
    const wchar_t data[] = L"Path=C:\\Projects";
    EXPECT_EQ(platform::RegSetValueExW(key, L"Projects", 0, platform::REG_SZ,
                                       reinterpret_cast<const platform::BYTE*>(data), sizeof data),
              platform::ERROR_SUCCESS);
    platform::RegCloseKey(key);
    platform::Machine::ResetCurrent();
    machine = std::make_unique<tltest::ScopedMachine>(Neighbourhood(root));
  }
  tltest::TempFolder folder;
  std::unique_ptr<tltest::ScopedMachine> machine;
};

}  // namespace

TEST(NetworkScan, WorkgroupsComputersAndTheirShares) {
  Network net;
  ComputerList list;
  int pumps = 0;
  EXPECT_TRUE(ScanNetwork(list, [&] { return ++pumps < 0; }));
  EXPECT_GT(pumps, 5);
  EXPECT_EQ(list, (ComputerList{L"\\\\TOLMERA-PC", L"\\\\TOLMERA-SRV", L"\\\\TOLMERA-SRV\\Projects",
                                L"\\\\LAB-PC"}));
  CDlgClientAttributes page;
  ASSERT_TRUE(page.PrepareComputerList(nullptr));
  EXPECT_EQ(*page.Computers(), (ComputerList{L"TOLMERA-PC", L"TOLMERA-SRV", L"LAB-PC"}));
}

TEST(NetworkScan, EscapeStopsTheScanAndTheNextClickScansAgain) {
  Network net;
  CDlgClientAttributes page;
  int pumps = 0;
  EXPECT_FALSE(page.PrepareComputerList([&] { return ++pumps == 3; }));
  EXPECT_EQ(pumps, 3);  // nothing asked of the network after Escape
  ASSERT_TRUE(page.Computers());
  EXPECT_TRUE(page.Computers()->empty());
  EXPECT_TRUE(page.PrepareComputerList([] { return false; }));
  EXPECT_EQ(page.Computers()->size(), 3u);
  // The list stays: a second click needs no scan.
  EXPECT_TRUE(page.PrepareComputerList([] { return true; }));
  EXPECT_EQ(page.Computers()->size(), 3u);
}

TEST(ClientAttributesPage, TheServerTypedOrChosenFromTheList) {
  Network net;
  pagetest::PageScript script(pagetest::English(
      "<DLG_CLIENTATTRIBUTES Caption=\"Client\"><BUTTON_INSTALL Caption=\"Install\"/>"
      "</DLG_CLIENTATTRIBUTES><DLG_COMPUTER_SELECTION><TEXT Caption=\"Pick\"/>"
      "<BUTTON_OK Caption=\"OK\"/></DLG_COMPUTER_SELECTION>"));
  script.userSettings.Set(L"ServerName", L"OLD");
  auto list = std::make_shared<ComputerList>();
  CDlgClientAttributes page;
  page.SetServices(script.Services());
  page.SetComputerList(list);
  pagetest::Show(page);
  EXPECT_EQ(page.ServerName(), L"OLD");
  EXPECT_EQ(page.ControlText(kControlNext), L"Install");
  EXPECT_FALSE(page.SetField(L"Computer", L"NOWHERE"));
  EXPECT_TRUE(page.SetField(L"Computer", L"tolmera-srv"));
  EXPECT_EQ(page.ServerName(), L"TOLMERA-SRV");
  EXPECT_EQ(list->size(), 3u);  // the run's list was filled
  CDlgComputerSelect select(*list);
  EXPECT_EQ(select.Selection(), 0);
  select.Select(2);
  page.ChooseComputer(select.Selection());
  EXPECT_TRUE(page.Press(PageButton::Next));
  EXPECT_EQ(script.userSettings.Text(L"ServerName"), L"LAB-PC");
}

TEST(NetworkScan, AMachineWithoutANetworkGivesAnEmptyListNotACancel) {
  tltest::ScopedMachine machine;
  // machine.ini says so in its [machine] section.
  std::string ini;
  {
    std::ifstream in(platform::Machine::Current().IniPath());
    ini.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  size_t at = ini.find("[machine]");
  ASSERT_NE(at, std::string::npos);
  ini.insert(ini.find('\n', at) + 1, "network = no\n");
  std::ofstream(platform::Machine::Current().IniPath(), std::ios::trunc) << ini;
  platform::Machine::Current().Reload();
  platform::NetEnumHandle handle;
  EXPECT_EQ(platform::WNetOpenEnumW(platform::RESOURCE_GLOBALNET, platform::RESOURCETYPE_ANY, 0,
                                    nullptr, handle),
            platform::ERROR_NO_NETWORK);
  CDlgClientAttributes page;
  EXPECT_TRUE(page.PrepareComputerList([] { return false; }));
  ASSERT_TRUE(page.Computers());
  EXPECT_TRUE(page.Computers()->empty());
}
