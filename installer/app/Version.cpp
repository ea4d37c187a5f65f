#include "app/Version.h"

#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Locale.h"

#ifndef TL_SETUP_FILE_VERSION
#define TL_SETUP_FILE_VERSION "0.0.0.0"
#endif
#ifndef TL_SETUP_DATE
#define TL_SETUP_DATE ""
#endif

namespace InstallManager {

std::wstring InstallerVersion() {
  const char* v = TL_SETUP_FILE_VERSION;
  return std::wstring(v, v + std::char_traits<char>::length(v));
}

std::wstring FormatInstallerDate(const platform::SYSTEMTIME& t) {
  const platform::LocaleInfo* loc = platform::FindLocale(platform::LOCALE_SYSTEM_DEFAULT);
  if (!loc) loc = platform::FindLocale(0x0409);
  std::wstring month = loc && t.wMonth >= 1 && t.wMonth <= 12 ? loc->months[t.wMonth - 1]
                                                              : std::to_wstring(t.wMonth);
  return platform::Format(L"%02d %s %04d  %02d:%02d:%02d", int(t.wDay), month, int(t.wYear),
                          int(t.wHour), int(t.wMinute), int(t.wSecond));
}

std::wstring InstallerDate() {
  const char* d = TL_SETUP_DATE;
  if (*d) return std::wstring(d, d + std::char_traits<char>::length(d));
  platform::FileInfo info;
  if (platform::GetFileAttributesExW(platform::GetModuleFileNameW(), info) !=
      platform::ERROR_SUCCESS)
    return L"";
  platform::SYSTEMTIME st;
  if (!platform::FileTimeToSystemTime(platform::FileTimeToLocalFileTime(info.lastWriteTime), st))
    return L"";
  return FormatInstallerDate(st);
}

}  // namespace InstallManager
