// System information and the debugger output.
#include "platform/System.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

class SystemOnMachine : public tltest::MachineTest {};

TEST_F(SystemOnMachine, NamesVersionAndScreenComeFromMachineIni) {
  OSVERSIONINFOEXW v;
  ASSERT_EQ(GetVersionExW(v), ERROR_SUCCESS);
  EXPECT_EQ(v.dwMajorVersion, 10u);
  EXPECT_EQ(v.dwBuildNumber, 19045u);
  EXPECT_EQ(v.wProductType, VER_NT_WORKSTATION);
  EXPECT_EQ(GetComputerNameW(), L"TOLMERA-PC");
  EXPECT_EQ(GetUserNameW(), L"User");
  EXPECT_TRUE(IsWow64Process());
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
  MachineConfig c = MachineConfig::Defaults();
  c.os.major = 5;
  c.os.minor = 2;
  c.os.servicePack = L"Service Pack 2";
  c.os.productType = VER_NT_SERVER;
  c.screenWidth = 1024;
  c.process32Bit = false;
  Machine::Init(temp_ + "/w2003", c);
  Machine::SetCurrentForProcess(temp_ + "/w2003");
  ASSERT_EQ(GetVersionExW(v), ERROR_SUCCESS);
  EXPECT_EQ(v.dwMinorVersion, 2u);
  EXPECT_EQ(v.wServicePackMajor, 2u);
  EXPECT_EQ(v.szCSDVersion, L"Service Pack 2");
  EXPECT_EQ(v.wProductType, VER_NT_SERVER);
  EXPECT_FALSE(IsWow64Process());
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  EXPECT_EQ(GetSystemMetrics(99), 0);
}

TEST(System, DebugOutputIsKept) {
  ClearDebugOutput();
  OutputDebugStringW(L"first\r\n");
  OutputDebugStringW(L"second");
  EXPECT_EQ(DebugOutput(), (std::vector<std::wstring>{L"first\r\n", L"second"}));
  ClearDebugOutput();
  EXPECT_TRUE(DebugOutput().empty());
}

}  // namespace
