#include "platform/Time.h"

#include "platform/Machine.h"

#include <chrono>

namespace platform {

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kTicksPerDay = kTicksPerSecond * 86400;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDiff = 11644473600LL;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
}

// Weekday of days since 1970-01-01 (0 = Sunday).
unsigned Weekday(std::int64_t days) {
  return static_cast<unsigned>(days >= -4 ? (days + 4) % 7 : (days + 5) % 7 + 6);
}

std::int64_t FileTimeOfDays(std::int64_t days) {
  return (days * 86400 + kEpochDiff) * kTicksPerSecond;
}

// n-th (1-based; 5 = last) Sunday of a month, as days since 1970.
std::int64_t NthSunday(std::int64_t year, unsigned month, int n) {
  if (n == 5) {
    unsigned nextMonth = month == 12 ? 1 : month + 1;
    std::int64_t nextYear = month == 12 ? year + 1 : year;
    std::int64_t last = DaysFromCivil(nextYear, nextMonth, 1) - 1;
    return last - Weekday(last);
  }
  std::int64_t first = DaysFromCivil(year, month, 1);
  std::int64_t firstSunday = first + (7 - Weekday(first)) % 7;
  return firstSunday + 7 * (n - 1);
}

}  // namespace

TimeZoneRule CurrentTimeZoneRule() {
  TimeZoneRule z;
  try {
    const TimeZoneConfig& tz = Machine::Current().Config().timeZone;
    z.bias = tz.biasMinutes;
    z.dstBias = tz.daylightBiasMinutes;
    z.rule = tz.dstRule == L"eu" ? 1 : tz.dstRule == L"us" ? 2 : 0;
  } catch (...) {}
  return z;
}

namespace {

bool InDst(const TimeZoneRule& z, FileTime utc) {
  if (z.rule == 0) return false;
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(utc, st)) return false;
  const std::int64_t t = static_cast<std::int64_t>(utc);
  const std::int64_t minute = 60 * kTicksPerSecond;
  if (z.rule == 1) {
    // Europe: last Sunday of March 01:00 UTC to last Sunday of October 01:00 UTC.
    std::int64_t start = FileTimeOfDays(NthSunday(st.wYear, 3, 5)) + 60 * minute;
    std::int64_t end = FileTimeOfDays(NthSunday(st.wYear, 10, 5)) + 60 * minute;
    return t >= start && t < end;
  }
  // United States: second Sunday of March 02:00 local standard time to the first Sunday of
  // November 02:00 local daylight time.
  std::int64_t start = FileTimeOfDays(NthSunday(st.wYear, 3, 2)) + (120 + z.bias) * minute;
  std::int64_t end =
      FileTimeOfDays(NthSunday(st.wYear, 11, 1)) + (120 + z.bias + z.dstBias) * minute;
  return t >= start && t < end;
}

}  // namespace

FileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
  std::int64_t v = (seconds + kEpochDiff) * kTicksPerSecond + nanoseconds / 100;
  return v < 0 ? 0 : static_cast<FileTime>(v);
}

void FileTimeToUnix(FileTime ft, std::int64_t& seconds, std::int64_t& nanoseconds) {
  std::int64_t t = static_cast<std::int64_t>(ft);
  seconds = t / kTicksPerSecond - kEpochDiff;
  nanoseconds = (t % kTicksPerSecond) * 100;
}

FileTime GetSystemTimeAsFileTime() {
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
  return FileTimeFromUnix(ns / 1000000000, ns % 1000000000);
}

bool FileTimeToSystemTime(FileTime ft, SYSTEMTIME& st) {
  if (ft >= 0x8000000000000000ull) return false;
  std::int64_t t = static_cast<std::int64_t>(ft);
  std::int64_t days1601 = t / kTicksPerDay;
  std::int64_t rem = t % kTicksPerDay;
  const std::int64_t days = days1601 + DaysFromCivil(1601, 1, 1);
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  if (y > 30827) return false;
  st.wYear = static_cast<std::uint16_t>(y);
  st.wMonth = static_cast<std::uint16_t>(m);
  st.wDay = static_cast<std::uint16_t>(d);
  st.wDayOfWeek = static_cast<std::uint16_t>(Weekday(days));
  std::int64_t secs = rem / kTicksPerSecond;
  st.wHour = static_cast<std::uint16_t>(secs / 3600);
  st.wMinute = static_cast<std::uint16_t>((secs / 60) % 60);
  st.wSecond = static_cast<std::uint16_t>(secs % 60);
  st.wMilliseconds = static_cast<std::uint16_t>((rem % kTicksPerSecond) / 10000);
  return true;
}

bool SystemTimeToFileTime(const SYSTEMTIME& st, FileTime& ft) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
      st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59 || st.wMilliseconds > 999)
    return false;
  bool leap = (st.wYear % 4 == 0 && st.wYear % 100 != 0) || st.wYear % 400 == 0;
  unsigned maxDay = kDays[st.wMonth - 1] + ((st.wMonth == 2 && leap) ? 1 : 0);
  if (st.wDay > maxDay) return false;
  std::int64_t days = DaysFromCivil(st.wYear, st.wMonth, st.wDay) - DaysFromCivil(1601, 1, 1);
  std::int64_t t = days * kTicksPerDay +
                   (static_cast<std::int64_t>(st.wHour) * 3600 + st.wMinute * 60 + st.wSecond) *
                       kTicksPerSecond +
                   static_cast<std::int64_t>(st.wMilliseconds) * 10000;
  ft = static_cast<FileTime>(t);
  return true;
}

namespace {

int BiasAt(const TimeZoneRule& z, FileTime utc) { return z.bias + (InDst(z, utc) ? z.dstBias : 0); }

FileTime ToLocal(const TimeZoneRule& z, FileTime utc) {
  std::int64_t bias = BiasAt(z, utc);
  std::int64_t v = static_cast<std::int64_t>(utc) - bias * 60 * kTicksPerSecond;
  return v < 0 ? 0 : static_cast<FileTime>(v);
}

}  // namespace

int TimeZoneBiasAt(FileTime utc) { return BiasAt(CurrentTimeZoneRule(), utc); }

FileTime FileTimeToLocalFileTime(FileTime utc) { return ToLocal(CurrentTimeZoneRule(), utc); }

FileTime LocalFileTimeToFileTime(FileTime local) {
  TimeZoneRule z = CurrentTimeZoneRule();
  const std::int64_t minute = 60 * kTicksPerSecond;
  // Try standard time first, then daylight time; the first consistent one wins.
  std::int64_t asStd = static_cast<std::int64_t>(local) + z.bias * minute;
  if (asStd >= 0 && !InDst(z, static_cast<FileTime>(asStd))) return static_cast<FileTime>(asStd);
  std::int64_t asDst = static_cast<std::int64_t>(local) + (z.bias + z.dstBias) * minute;
  if (asDst < 0) asDst = 0;
  return static_cast<FileTime>(asDst);
}

SYSTEMTIME GetSystemTime() {
  SYSTEMTIME st;
  FileTimeToSystemTime(GetSystemTimeAsFileTime(), st);
  return st;
}

SYSTEMTIME GetLocalTime() { return LocalTimeOf(GetSystemTimeAsFileTime(), CurrentTimeZoneRule()); }

SYSTEMTIME LocalTimeOf(FileTime utc, const TimeZoneRule& zone) {
  SYSTEMTIME st;
  FileTimeToSystemTime(ToLocal(zone, utc), st);
  return st;
}

bool FileTimeToDosDateTime(FileTime local, std::uint16_t& dosDate, std::uint16_t& dosTime) {
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(local, st)) return false;
  if (st.wYear < 1980 || st.wYear > 2107) return false;
  dosDate = static_cast<std::uint16_t>(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
  dosTime = static_cast<std::uint16_t>((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
  return true;
}

bool DosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& local) {
  SYSTEMTIME st;
  st.wYear = static_cast<std::uint16_t>(1980 + (dosDate >> 9));
  st.wMonth = static_cast<std::uint16_t>((dosDate >> 5) & 0xF);
  st.wDay = static_cast<std::uint16_t>(dosDate & 0x1F);
  st.wHour = static_cast<std::uint16_t>(dosTime >> 11);
  st.wMinute = static_cast<std::uint16_t>((dosTime >> 5) & 0x3F);
  st.wSecond = static_cast<std::uint16_t>((dosTime & 0x1F) * 2);
  return SystemTimeToFileTime(st, local);
}

}  // namespace platform
