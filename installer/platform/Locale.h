// The locale table: the languages the machine knows with their LCID, names, month and day
// names and ANSI code page (GetLocaleInfoW and friends), and the machine's own languages.
#pragma once

#include "platform/Win32Errors.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

using LCID = std::uint32_t;
using LANGID = std::uint16_t;

inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
inline constexpr LCID LOCALE_INVARIANT = 0x007F;

// GetLocaleInfoW types the table answers.
inline constexpr DWORD LOCALE_ILANGUAGE = 0x0001;     // LCID as 4 hex digits, "0409"
inline constexpr DWORD LOCALE_SLANGUAGE = 0x0002;     // localized name = English name here
inline constexpr DWORD LOCALE_SENGLANGUAGE = 0x1001;  // "German"
inline constexpr DWORD LOCALE_SENGLISHLANGUAGENAME = 0x1001;
inline constexpr DWORD LOCALE_SNATIVELANGNAME = 0x0004;  // "Deutsch"
inline constexpr DWORD LOCALE_SNATIVELANGUAGENAME = 0x0004;
inline constexpr DWORD LOCALE_SENGCOUNTRY = 0x1002;  // "Germany"
inline constexpr DWORD LOCALE_SENGLISHCOUNTRYNAME = 0x1002;
inline constexpr DWORD LOCALE_SABBREVLANGNAME = 0x0003;       // "DEU"
inline constexpr DWORD LOCALE_SISO639LANGNAME = 0x0059;       // "de"
inline constexpr DWORD LOCALE_SISO3166CTRYNAME = 0x005A;      // "DE"
inline constexpr DWORD LOCALE_SNAME = 0x005C;                 // "de-DE"
inline constexpr DWORD LOCALE_IDEFAULTANSICODEPAGE = 0x1004;  // "1252"
inline constexpr DWORD LOCALE_IDEFAULTCODEPAGE = 0x000B;      // OEM code page, "850"
inline constexpr DWORD LOCALE_SDECIMAL = 0x000E;
inline constexpr DWORD LOCALE_STHOUSAND = 0x000F;
inline constexpr DWORD LOCALE_SSHORTDATE = 0x001F;
inline constexpr DWORD LOCALE_SMONTHNAME1 = 0x0038;  // .. LOCALE_SMONTHNAME12 = 0x0043

// One language of the table.
struct LocaleInfo {
  LCID lcid;
  const wchar_t* name;                    // "de-DE"
  const wchar_t* englishName;             // "German" (LOCALE_SENGLANGUAGE)
  const wchar_t* nativeName;              // "Deutsch"
  const wchar_t* englishCountry;          // "Germany"
  const wchar_t* abbrevName;              // "DEU"
  unsigned ansiCodePage;                  // 1252
  unsigned oemCodePage;                   // 850
  const wchar_t* decimal;                 // ","
  const wchar_t* thousand;                // "."
  const wchar_t* shortDate;               // "dd.MM.yyyy"
  std::array<const wchar_t*, 12> months;  // in the language itself, January first
};

// Every language of the table, in LCID order.
const std::vector<LocaleInfo>& AllLocales();
// The entry of an LCID (LOCALE_SYSTEM_DEFAULT / LOCALE_USER_DEFAULT resolve to the machine's),
// or nullptr when unknown.
const LocaleInfo* FindLocale(LCID lcid);
// The entry whose name ("de-DE") or English language name ("German") matches, ignoring case.
const LocaleInfo* FindLocaleByName(std::wstring_view name);

// The machine's languages (machine.ini [locale]).
LCID GetSystemDefaultLCID();
LCID GetUserDefaultLCID();
LANGID GetSystemDefaultLangID();
LANGID GetUserDefaultLangID();
LANGID GetUserDefaultUILanguage();
LANGID GetSystemDefaultUILanguage();

// GetLocaleInfoW: the value of `type` for `lcid` in `value`. ERROR_INVALID_PARAMETER for an
// unknown LCID, ERROR_INVALID_FLAGS for a type the table does not answer; `maxChars` (counting
// the final zero, as the Windows buffer size; 0 = no limit) too small gives
// ERROR_INSUFFICIENT_BUFFER.
DWORD GetLocaleInfoW(LCID lcid, DWORD type, std::wstring& value, std::size_t maxChars = 0);

// Primary and sub-language of a LANGID (PRIMARYLANGID, SUBLANGID, MAKELANGID).
constexpr LANGID PRIMARYLANGID(LANGID id) { return static_cast<LANGID>(id & 0x3FF); }
constexpr LANGID SUBLANGID(LANGID id) { return static_cast<LANGID>(id >> 10); }
constexpr LANGID MAKELANGID(LANGID primary, LANGID sub) {
  return static_cast<LANGID>((sub << 10) | primary);
}

}  // namespace platform
