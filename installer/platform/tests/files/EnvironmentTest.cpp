// The environment block of the machine.
#include "platform/Environment.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace platform;

namespace {

class EnvironmentOnMachine : public tltest::MachineTest {};

TEST_F(EnvironmentOnMachine, DefaultsMatchTheMachine) {
  EXPECT_EQ(GetEnv(L"windir"), std::optional<std::wstring>(L"C:\\Windows"));
  EXPECT_EQ(GetEnv(L"TEMP"), std::optional<std::wstring>(L"C:\\Users\\User\\AppData\\Local\\Temp"));
  EXPECT_EQ(GetEnv(L"programfiles"),
            std::optional<std::wstring>(L"C:\\Program Files (x86)"));  // 32-bit process
  EXPECT_EQ(GetEnv(L"ProgramW6432"), std::optional<std::wstring>(L"C:\\Program Files"));
  EXPECT_EQ(GetEnv(L"PROCESSOR_ARCHITECTURE"), std::optional<std::wstring>(L"x86"));
  EXPECT_EQ(GetEnv(L"PROCESSOR_ARCHITEW6432"), std::optional<std::wstring>(L"AMD64"));
  EXPECT_EQ(GetEnv(L"COMPUTERNAME"), std::optional<std::wstring>(L"TOLMERA-PC"));
  EXPECT_FALSE(GetEnv(L"NO_SUCH_VARIABLE"));
  std::wstring v;
  EXPECT_EQ(GetEnvironmentVariableW(L"NO_SUCH_VARIABLE", v), ERROR_ENVVAR_NOT_FOUND);
  EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
}

TEST_F(EnvironmentOnMachine, SetExpandAndHandDown) {
  EXPECT_EQ(SetEnvironmentVariableW(L"MyVar", std::wstring_view(L"one")), ERROR_SUCCESS);
  EXPECT_EQ(GetEnv(L"MYVAR"), std::optional<std::wstring>(L"one"));
  EXPECT_EQ(SetEnvironmentVariableW(L"myvar", std::wstring_view(L"two")), ERROR_SUCCESS);
  EXPECT_EQ(GetEnv(L"MyVar"), std::optional<std::wstring>(L"two"));
  EXPECT_EQ(ExpandEnvironmentStringsW(L"%SystemRoot%\\x;%MYVAR%;%NOPE%;100%;%%"),
            L"C:\\Windows\\x;two;%NOPE%;100%;%%");
  EXPECT_EQ(ExpandEnvironmentStringsW(L"50% of %windir%"), L"50% of C:\\Windows");
  EXPECT_EQ(SetEnvironmentVariableW(L"a=b", std::wstring_view(L"x")), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetEnvironmentVariableW(L"", std::wstring_view(L"x")), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetEnvironmentVariableW(L"MyVar", std::nullopt), ERROR_SUCCESS);
  EXPECT_FALSE(GetEnv(L"MyVar"));
  // The block is sorted without regard to case.
  auto block = GetEnvironmentStringsW();
  for (std::size_t i = 1; i < block.size(); ++i)
    EXPECT_LE(CompareNoCase(block[i - 1].first, block[i].first), 0);
  // A started program inherits the block through TOLMERA_ENVIRONMENT.
  SetEnvironmentVariableW(L"Handed", std::wstring_view(L"down \u00E9"));
  const std::string serial = SerializeEnvironment();
  auto parsed = ParseSerializedEnvironment(serial);
  EXPECT_EQ(parsed, GetEnvironmentStringsW());
  setenv("TOLMERA_ENVIRONMENT", serial.c_str(), 1);
  ResetEnvironment();
  EXPECT_EQ(GetEnv(L"Handed"), std::optional<std::wstring>(L"down \u00E9"));
  unsetenv("TOLMERA_ENVIRONMENT");
  ResetEnvironment();
  EXPECT_FALSE(GetEnv(L"Handed"));
}

}  // namespace
