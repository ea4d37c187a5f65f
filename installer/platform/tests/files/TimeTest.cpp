// File times, the calendar and the machine's time zone.
#include "platform/Text.h"
#include "platform/Time.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace platform;

namespace {

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

}  // namespace
