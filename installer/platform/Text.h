// Wide strings and their encodings, the way Windows does them.
//
// Text in the machine layer and the installer is std::wstring holding Unicode code points
// (one wchar_t per code point here; Windows' UTF-16 appears only at file and byte boundaries).
#pragma once

#include "platform/Win32Errors.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Code page identifiers.
inline constexpr unsigned CP_ACP = 0;         // the machine's ANSI code page
inline constexpr unsigned CP_OEMCP = 1;       // the machine's OEM code page
inline constexpr unsigned CP_THREAD_ACP = 3;  // the thread's ANSI code page (= the machine's)
inline constexpr unsigned CP_UTF8 = 65001;

// The machine's ANSI code page (machine.ini, default 1252) and OEM code page.
unsigned GetACP();
unsigned GetOEMCP();
// Is this code page one the conversions know (1250, 1251, 1252, 437, 850, 28591, 65001, ...)?
bool IsValidCodePage(unsigned codePage);

// WideCharToMultiByte. Characters the code page lacks become their best-fit byte when Windows
// has one (U+0100 'Ā' -> 'A' in 1252) and "?" otherwise; `usedDefault`, if given, tells whether
// a "?" was put in. Never fails: an unknown code page is treated as 1252.
std::string WideToAnsi(std::wstring_view text, unsigned codePage = CP_ACP,
                       bool* usedDefault = nullptr);
// MultiByteToWideChar. Bytes the code page leaves undefined map as Windows maps them (0x81 in
// 1252 -> U+0081); invalid UTF-8 sequences become U+FFFD. Never fails.
std::wstring AnsiToWide(std::string_view bytes, unsigned codePage = CP_ACP);

// UTF-8 <-> wide, the one codec of the installer; invalid sequences become U+FFFD, and so do
// lone surrogates unless they are kept (Surrogates::Keep: a surrogate is its own three bytes
// and reads back as it was, as the registry's files keep any sequence of UTF-16 units).
enum class Surrogates { Replace, Keep };
std::string ToUtf8(std::wstring_view text, Surrogates surrogates = Surrogates::Replace);
std::wstring FromUtf8(std::string_view bytes, Surrogates surrogates = Surrogates::Replace);
// The offset of the first byte that does not start a well-formed UTF-8 sequence (overlong
// forms, surrogates and values beyond U+10FFFF included); npos when there is none.
std::size_t InvalidUtf8At(std::string_view bytes);
// UTF-16 (for files written the Windows way).
std::u16string ToUtf16(std::wstring_view text);
std::wstring FromUtf16(std::u16string_view text);
// UTF-16LE bytes (no byte-order mark) <-> wide; an odd final byte is dropped.
std::string ToUtf16LEBytes(std::wstring_view text);
std::wstring FromUtf16LEBytes(std::string_view bytes);

// Case: the fixed Unicode upper-case table NTFS uses ($UpCase), independent of any locale.
wchar_t UpperChar(wchar_t c);
wchar_t LowerChar(wchar_t c);
std::wstring ToUpper(std::wstring_view text);
std::wstring ToLower(std::wstring_view text);
// Ordinal comparison of the upper-cased texts: <0, 0, >0 (CompareStringOrdinal with ignore case;
// also the NTFS order of names in a folder).
int CompareNoCase(std::wstring_view a, std::wstring_view b);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix);
bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix);
// Position of `needle` in `text` ignoring case, or npos.
std::size_t FindNoCase(std::wstring_view text, std::wstring_view needle, std::size_t from = 0);

// Function objects for containers keyed without regard to case.
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::wstring_view a, std::wstring_view b) const {
    return CompareNoCase(a, b) < 0;
  }
};
struct NoCaseEqual {
  using is_transparent = void;
  bool operator()(std::wstring_view a, std::wstring_view b) const { return EqualsNoCase(a, b); }
};
struct NoCaseHash {
  using is_transparent = void;
  std::size_t operator()(std::wstring_view s) const;
};

// Is the character a blank for the C run-time (iswspace: space, \t \n \v \f \r, and the Unicode
// spaces)?
bool IsSpace(wchar_t c);
std::wstring Trim(std::wstring_view text);

// _wtol: skips leading blanks, reads an optional sign and decimal digits, stops at the first
// other character; no digits gives 0; out of range gives LONG_MAX / LONG_MIN (32-bit, as on
// Windows).
std::int32_t wtol(std::wstring_view text);
// _wtoi64 with the same rules over 64 bits.
std::int64_t wtoi64(std::wstring_view text);
// _wtof-like reading in the C locale (never the host locale).
double wtof(std::wstring_view text);

// VariantChangeType(VT_BSTR -> VT_I4) with LOCALE_USER_DEFAULT of an English locale: blanks
// around the number are allowed, an optional sign, decimal digits with optional thousands
// separators (","), a fractional part rounded half to even, "&H" hex and "&O" octal forms.
// Returns S_OK and sets `value`, DISP_E_TYPEMISMATCH for text that is not a number (empty text
// included), DISP_E_OVERFLOW for a number outside the 32-bit range; `value` is untouched on
// failure.
HRESULT VariantToInt32(std::wstring_view text, std::int32_t& value);
// The same to VT_UI4 (negative numbers overflow) and VT_R8.
HRESULT VariantToUInt32(std::wstring_view text, std::uint32_t& value);
HRESULT VariantToDouble(std::wstring_view text, double& value);

// _itow / _ultow / _i64tow in any radix 2..36 (lower-case digits as the CRT writes them).
std::wstring IntToWide(std::int64_t value, int radix = 10);
std::wstring UIntToWide(std::uint64_t value, int radix = 10);

}  // namespace platform
