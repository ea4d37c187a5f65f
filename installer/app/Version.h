// The installer's version and date, fixed by the build: the version is the project's version;
// the date is the build's date text when the build gives one, otherwise the last-write time of
// the program file in the machine's local time, "dd MMMM yyyy  HH:mm:ss" with the month name of
// the system's default locale.
#pragma once

#include "platform/Time.h"

#include <string>

namespace InstallManager {

std::wstring InstallerVersion();
std::wstring InstallerDate();

// "dd MMMM yyyy" immediately followed by "  HH:mm:ss", month names of the system locale.
std::wstring FormatInstallerDate(const platform::SYSTEMTIME& local);

}  // namespace InstallManager
