#pragma once
// Text helpers of the XML layer: UTF-8 / UTF-16 / wide conversions, the single-byte code pages,
// comparison without regard to case, and the C-runtime style number readers the viewer uses.

#include "MorlaneExport.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace MorlaneText {

// The UTF-8 bytes of one character (at most four) written at `out`; returns their count. The
// one encoder of the XML layer: every conversion and the scanner's references use it.
inline std::size_t EncodeUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

// Wide (UTF-32 on this platform) <-> UTF-8. Invalid input becomes U+FFFD.
MORLANE_API std::string ToUtf8(std::wstring_view text);
MORLANE_API std::wstring FromUtf8(std::string_view text);

// UTF-16 bytes (little- or big-endian) to UTF-8; unpaired surrogates become U+FFFD.
MORLANE_API std::string Utf16ToUtf8(const unsigned char* data, std::size_t size, bool bigEndian);
// UTF-8 to UTF-16 little-endian bytes.
MORLANE_API std::string Utf8ToUtf16LE(std::string_view text);

MORLANE_API bool IsValidUtf8(std::string_view text);
// The offset of the first byte that starts no valid UTF-8 character, or npos.
MORLANE_API std::size_t InvalidUtf8At(std::string_view text);

// Conversion between UTF-8 and a named encoding ("windows-1252", "windows-1251", "ISO-8859-1",
// ... whatever the C library's iconv knows). Returns false when the encoding is unknown.
// ConvertFromUtf8 writes characters that the target lacks as character references (&#N;).
// ConvertToUtf8 reads a byte the encoding does not define as U+FFFD, or, when invalidAt is
// given, stops there: false with *invalidAt its offset (npos when the encoding is unknown).
MORLANE_API bool ConvertToUtf8(std::string_view bytes, const std::string& encoding,
                               std::string& out, std::size_t* invalidAt = nullptr);
MORLANE_API bool ConvertFromUtf8(std::string_view text, const std::string& encoding,
                                 std::string& out);

// Case folding for comparisons: ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic letters,
// independent of the process locale.
MORLANE_API char32_t FoldCase(char32_t c);
MORLANE_API bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
MORLANE_API bool EqualsNoCaseUtf8(std::string_view a, std::string_view b);

// How a UTF-8 name compares with a wide one: the same letters, the same but for case, or not.
enum class NameMatch { Different, NoCase, Exact };
MORLANE_API NameMatch MatchName(const char* utf8, std::wstring_view wide);

// _wtof: leading blanks, then the longest prefix that is a decimal number (C locale); 0.0 if none.
MORLANE_API double ParseDoublePrefix(std::wstring_view text);
// The same over UTF-8 text (a letter outside ASCII is never part of a number).
MORLANE_API double ParseDoublePrefix(std::string_view utf8);
// _wtoi: leading blanks, optional sign, decimal digits; 0 if none.
MORLANE_API int ParseIntPrefix(std::wstring_view text);
// The whole text (blanks around allowed) as a number, as VariantChangeType reads a string:
// false when it is not a number.
MORLANE_API bool ParseNumber(std::wstring_view text, double& value);
MORLANE_API bool ParseNumber(std::string_view utf8, double& value);

}  // namespace MorlaneText

#include <pugixml.hpp>

namespace MorlaneText {
// The node after n in document order among the descendants of top (its children first unless
// descend is false); null after the last one. Walks without recursion.
inline pugi::xml_node NextInDocument(pugi::xml_node n, const pugi::xml_node& top,
                                     bool descend = true) {
  if (descend && n.first_child()) return n.first_child();
  while (n && !n.next_sibling()) {
    n = n.parent();
    if (n == top) return pugi::xml_node();
  }
  return n ? n.next_sibling() : n;
}

// True when node is ancestor or lies below it.
inline bool IsWithin(pugi::xml_node node, const pugi::xml_node& ancestor) {
  for (; node; node = node.parent()) {
    if (node == ancestor) return true;
  }
  return false;
}
}  // namespace MorlaneText
