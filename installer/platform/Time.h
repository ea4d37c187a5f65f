// File times and local time of the emulated machine (its time zone comes from machine.ini).
#pragma once

#include "platform/Win32Errors.h"

#include <cstdint>
#include <ctime>

namespace platform {

// FILETIME as one number: 100-nanosecond intervals since 1601-01-01 UTC.
using FileTime = std::uint64_t;

struct SYSTEMTIME {
  std::uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
  std::uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

// Conversions between host time and FILETIME.
FileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds = 0);
void FileTimeToUnix(FileTime ft, std::int64_t& seconds, std::int64_t& nanoseconds);
FileTime GetSystemTimeAsFileTime();

// FileTimeToSystemTime / SystemTimeToFileTime (no time zone involved). The conversion back
// fails (false) for an invalid date.
bool FileTimeToSystemTime(FileTime ft, SYSTEMTIME& st);
bool SystemTimeToFileTime(const SYSTEMTIME& st, FileTime& ft);

// UTC <-> the machine's local time (bias and daylight saving rule of machine.ini).
FileTime FileTimeToLocalFileTime(FileTime utc);
FileTime LocalFileTimeToFileTime(FileTime local);
// The bias in minutes (UTC = local + bias) in force at a UTC instant.
int TimeZoneBiasAt(FileTime utc);

// GetSystemTime / GetLocalTime of the machine.
SYSTEMTIME GetSystemTime();
SYSTEMTIME GetLocalTime();

// The machine's time zone as local times are computed from it: equal rules give equal local
// times for one UTC instant. Its changes of bias fall on whole minutes, so within one second of
// UTC the local time moves by that second only.
struct TimeZoneRule {
  int bias = 0;     // minutes, UTC = local + bias
  int dstBias = 0;  // added while daylight saving time is in force
  int rule = 0;     // 0 none, 1 eu, 2 us
  bool operator==(const TimeZoneRule&) const = default;
};
TimeZoneRule CurrentTimeZoneRule();
// The local time of a UTC instant under `zone`; GetLocalTime is that of now under the
// machine's zone. For a caller that asks many times a second and keeps the last result.
SYSTEMTIME LocalTimeOf(FileTime utc, const TimeZoneRule& zone);

// FileTimeToDosDateTime / DosDateTimeToFileTime (local FILETIME, as ZIP entries keep them).
// The first fails for dates before 1980 or after 2107.
bool FileTimeToDosDateTime(FileTime local, std::uint16_t& dosDate, std::uint16_t& dosTime);
bool DosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& local);

}  // namespace platform
