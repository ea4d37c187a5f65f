// Status codes, locale table, times and the emulated environment.
#include "platform/Environment.h"
#include "platform/Locale.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "platform/Win32Errors.h"

#include "TestMachine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

using namespace platform;

namespace {

TEST(Win32Errors, LastErrorIsPerThreadAndTextsAreTheSystems) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD inThread = 1;
  std::thread t([&] { inThread = GetLastError(); });
  t.join();
  EXPECT_EQ(inThread, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(FormatMessageW(ERROR_FILE_NOT_FOUND),
            L"The system cannot find the file specified.\r\n");
  EXPECT_EQ(FormatMessageW(ERROR_SHARING_VIOLATION),
            L"The process cannot access the file because it is being used by another process.\r\n");
  EXPECT_EQ(SystemErrorText(ERROR_NO_MORE_ITEMS), L"No more data is available.");
  EXPECT_EQ(FormatMessageW(0xDEAD), L"");
  EXPECT_EQ(SystemErrorText(0xDEAD), L"Unknown error 57005.");
  EXPECT_EQ(ErrorName(ERROR_DIR_NOT_EMPTY), L"ERROR_DIR_NOT_EMPTY");
  EXPECT_EQ(ErrorName(NERR_DuplicateShare), L"NERR_DuplicateShare");
  EXPECT_EQ(HResultFromWin32(ERROR_ACCESS_DENIED), static_cast<HRESULT>(0x80070005u));
}

class LocaleOnMachine : public tltest::MachineTest {};

TEST_F(LocaleOnMachine, TableAnswersGetLocaleInfo) {
  std::wstring v;
  EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SENGLANGUAGE, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"German");
  EXPECT_EQ(GetLocaleInfoW(0x0419, LOCALE_IDEFAULTANSICODEPAGE, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"1251");
  EXPECT_EQ(GetLocaleInfoW(0x040C, LOCALE_SMONTHNAME1 + 1, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"f\u00E9vrier");
  EXPECT_EQ(GetLocaleInfoW(0x0415, LOCALE_SNAME, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"pl-PL");
  EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_ILANGUAGE, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"0409");
  EXPECT_EQ(GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"English");
  EXPECT_EQ(GetLocaleInfoW(0x7777, LOCALE_SENGLANGUAGE, v), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetLocaleInfoW(0x0409, 0x7654, v), ERROR_INVALID_FLAGS);
  EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SENGLANGUAGE, v, 6), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SENGLANGUAGE, v, 7), ERROR_SUCCESS);
  ASSERT_NE(FindLocaleByName(L"russian"), nullptr);
  EXPECT_EQ(FindLocaleByName(L"russian")->lcid, 0x0419u);
  EXPECT_EQ(FindLocaleByName(L"DE-at")->lcid, 0x0C07u);
  // Every entry is complete and the table is in LCID order without duplicates.
  LCID last = 0;
  for (const LocaleInfo& l : AllLocales()) {
    EXPECT_GT(l.lcid, last);
    last = l.lcid;
    for (const wchar_t* m : l.months) EXPECT_TRUE(m && *m) << l.name;
    EXPECT_NE(l.ansiCodePage, 0u);
  }
  EXPECT_GE(AllLocales().size(), 25u);
}

TEST_F(LocaleOnMachine, MachineLanguages) {
  MachineConfig c = MachineConfig::Defaults();
  c.systemLcid = 0x0407;
  c.uiLanguage = 0x0419;
  const std::string other = temp_ + "/de";
  Machine::Init(other, c);
  Machine::SetCurrentForProcess(other);
  EXPECT_EQ(GetSystemDefaultLCID(), 0x0407u);
  EXPECT_EQ(GetUserDefaultUILanguage(), 0x0419);
  EXPECT_EQ(PRIMARYLANGID(GetSystemDefaultLangID()), 0x07);
  std::wstring v;
  EXPECT_EQ(GetLocaleInfoW(GetSystemDefaultLCID(), LOCALE_SENGLANGUAGE, v, 259), ERROR_SUCCESS);
  EXPECT_EQ(v, L"German");
}

TEST(Time, FileTimesAndCalendar) {
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToSystemTime(FileTimeFromUnix(0), st));
  EXPECT_EQ(st.wYear, 1970);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wDayOfWeek, 4);  // a Thursday
  EXPECT_EQ(FileTimeFromUnix(0), 116444736000000000ull);
  SYSTEMTIME leap{};
  leap.wYear = 2024;
  leap.wMonth = 2;
  leap.wDay = 29;
  leap.wHour = 23;
  leap.wMinute = 59;
  leap.wSecond = 58;
  FileTime ft;
  ASSERT_TRUE(SystemTimeToFileTime(leap, ft));
  ASSERT_TRUE(FileTimeToSystemTime(ft, st));
  EXPECT_EQ(st.wDay, 29);
  EXPECT_EQ(st.wSecond, 58);
  leap.wYear = 2023;
  EXPECT_FALSE(SystemTimeToFileTime(leap, ft));
  std::uint16_t d, t;
  SYSTEMTIME z{};
  z.wYear = 2010;
  z.wMonth = 6;
  z.wDay = 15;
  z.wHour = 13;
  z.wMinute = 30;
  z.wSecond = 31;
  ASSERT_TRUE(SystemTimeToFileTime(z, ft));
  ASSERT_TRUE(FileTimeToDosDateTime(ft, d, t));
  FileTime back;
  ASSERT_TRUE(DosDateTimeToFileTime(d, t, back));
  ASSERT_TRUE(FileTimeToSystemTime(back, st));
  EXPECT_EQ(st.wSecond, 30);  // DOS times have two-second steps
  EXPECT_EQ(st.wHour, 13);
  z.wYear = 1975;
  ASSERT_TRUE(SystemTimeToFileTime(z, ft));
  EXPECT_FALSE(FileTimeToDosDateTime(ft, d, t));
}

class TimeOnMachine : public tltest::MachineTest {};

TEST_F(TimeOnMachine, LocalTimeFollowsTheMachineZone) {
  // Default: central Europe, UTC+1, summer time from the last Sunday of March.
  SYSTEMTIME s{};
  s.wYear = 2026;
  s.wMonth = 1;
  s.wDay = 15;
  s.wHour = 12;
  FileTime winter, summer, local;
  ASSERT_TRUE(SystemTimeToFileTime(s, winter));
  s.wMonth = 7;
  ASSERT_TRUE(SystemTimeToFileTime(s, summer));
  SYSTEMTIME out;
  local = FileTimeToLocalFileTime(winter);
  FileTimeToSystemTime(local, out);
  EXPECT_EQ(out.wHour, 13);
  local = FileTimeToLocalFileTime(summer);
  FileTimeToSystemTime(local, out);
  EXPECT_EQ(out.wHour, 14);
  EXPECT_EQ(LocalFileTimeToFileTime(local), summer);
  // The switch: 2026-03-29 01:00 UTC.
  s.wMonth = 3;
  s.wDay = 29;
  s.wHour = 0;
  s.wMinute = 59;
  FileTime before;
  ASSERT_TRUE(SystemTimeToFileTime(s, before));
  EXPECT_EQ(TimeZoneBiasAt(before), -60);
  EXPECT_EQ(TimeZoneBiasAt(before + 2ull * 60 * 10000000), -120);
  // A machine in New York.
  MachineConfig c = MachineConfig::Defaults();
  c.timeZone.name = L"Eastern Standard Time";
  c.timeZone.biasMinutes = 300;
  c.timeZone.dstRule = L"us";
  Machine::Init(temp_ + "/ny", c);
  Machine::SetCurrentForProcess(temp_ + "/ny");
  FileTimeToSystemTime(FileTimeToLocalFileTime(winter), out);
  EXPECT_EQ(out.wHour, 7);
  FileTimeToSystemTime(FileTimeToLocalFileTime(summer), out);
  EXPECT_EQ(out.wHour, 8);
}

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

#include "platform/System.h"

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
