#include "platform/Text.h"

#include "platform/Machine.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <unordered_map>

namespace platform {

namespace {

// ---------------------------------------------------------------------------------------------
// Single-byte code pages: the upper half (0x80..0xFF) of each, as Windows maps it. Bytes that a
// code page leaves undefined map to the C1 control of the same value, as Windows does.

// clang-format off
constexpr std::array<char16_t, 128> kCp1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7, 0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7, 0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7, 0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7, 0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF};

constexpr std::array<char16_t, 128> kCp1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

constexpr std::array<char16_t, 128> kCp1250 = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021, 0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7, 0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7, 0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7, 0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7, 0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7, 0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7, 0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9};

constexpr std::array<char16_t, 128> kCp437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};
// clang-format on

// 1254 (Turkish) is 1252 with six Turkish letters in place of Icelandic ones and two bytes
// fewer in the upper control range.
constexpr std::array<char16_t, 128> MakeCp1254() {
  std::array<char16_t, 128> t = kCp1252;
  t[0x8E - 0x80] = 0x008E;
  t[0x9E - 0x80] = 0x009E;
  t[0xD0 - 0x80] = 0x011E;
  t[0xDD - 0x80] = 0x0130;
  t[0xDE - 0x80] = 0x015E;
  t[0xF0 - 0x80] = 0x011F;
  t[0xFD - 0x80] = 0x0131;
  t[0xFE - 0x80] = 0x015F;
  return t;
}
constexpr std::array<char16_t, 128> kCp1254 = MakeCp1254();

// 866 (the OEM code page of Cyrillic machines): the Cyrillic alphabet around the box drawing of
// 437, then Ё, the Ukrainian and Belarusian letters and a few signs.
constexpr std::array<char16_t, 128> MakeCp866() {
  std::array<char16_t, 128> t{};
  for (int i = 0; i < 48; ++i) t[i] = static_cast<char16_t>(0x0410 + i);         // А..п
  for (int i = 0x30; i < 0x60; ++i) t[i] = kCp437[i];                            // box drawing
  for (int i = 0; i < 16; ++i) t[0x60 + i] = static_cast<char16_t>(0x0440 + i);  // р..я
  const char16_t tail[16] = {0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
                             0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0};
  for (int i = 0; i < 16; ++i) t[0x70 + i] = tail[i];
  return t;
}
constexpr std::array<char16_t, 128> kCp866 = MakeCp866();

struct SingleByteTable {
  const std::array<char16_t, 128>* high = nullptr;  // nullptr: identity (ISO 8859-1)
  std::unordered_map<char32_t, unsigned char> reverse;
};

// The tables live until the process ends (never destroyed), as text is converted at exit too.
const SingleByteTable* TableFor(unsigned cp) {
  static const auto make = [](const std::array<char16_t, 128>* high) {
    SingleByteTable t;
    t.high = high;
    for (int i = 0; i < 128; ++i) {
      char32_t u = high ? (*high)[i] : static_cast<char32_t>(0x80 + i);
      t.reverse.emplace(u, static_cast<unsigned char>(0x80 + i));
    }
    return t;
  };
  static const SingleByteTable& t1252 = *new SingleByteTable(make(&kCp1252));
  static const SingleByteTable& t1251 = *new SingleByteTable(make(&kCp1251));
  static const SingleByteTable& t1250 = *new SingleByteTable(make(&kCp1250));
  static const SingleByteTable& t437 = *new SingleByteTable(make(&kCp437));
  static const SingleByteTable& t866 = *new SingleByteTable(make(&kCp866));
  static const SingleByteTable& t1254 = *new SingleByteTable(make(&kCp1254));
  static const SingleByteTable& t28591 = *new SingleByteTable(make(nullptr));
  switch (cp) {
    case 1250: return &t1250;
    case 1251: return &t1251;
    case 437: return &t437;
    case 866: return &t866;
    case 1254: return &t1254;
    case 28591: return &t28591;
    default: return &t1252;
  }
}

unsigned ResolveCodePage(unsigned cp) {
  if (cp == CP_ACP || cp == CP_THREAD_ACP) return GetACP();
  if (cp == CP_OEMCP) return GetOEMCP();
  return cp;
}

// Base letters of the accented Latin letters U+00C0..U+017F ('.' = none), the heart of the
// best-fit mappings Windows applies when a code page lacks the accented letter.
constexpr char kLatinBase[] =
    "AAAAAA.CEEEEIIIIDNOOOOO.OUUUUY.."  // U+00C0
    "aaaaaa.ceeeeiiiidnooooo.ouuuuy.y"  // U+00E0
    "AaAaAaCcCcCcCcDd"                  // U+0100
    "DdEeEeEeEeEeGgGg"                  // U+0110
    "GgGgHhHhIiIiIiIi"                  // U+0120
    "Ii..JjKk.LlLlLlL"                  // U+0130
    "lLlNnNnNn...OoOo"                  // U+0140
    "Oo..RrRrRrSsSsSs"                  // U+0150
    "SsTtTtTtUuUuUuUu"                  // U+0160
    "UuUuWwYyYZzZzZz.";                 // U+0170

// Best-fit replacement of a character the code page lacks, or 0.
char32_t BestFit(char32_t c) {
  if (c >= 0xC0 && c <= 0x17F) {
    char b = kLatinBase[c - 0xC0];
    return b == '.' ? 0 : static_cast<char32_t>(b);
  }
  if (c >= 0xFF01 && c <= 0xFF5E) return c - 0xFF01 + 0x21;  // full-width ASCII
  if (c >= 0x2000 && c <= 0x200A) return 0x20;               // the typographic spaces
  switch (c) {
    case 0x00A0: return 0x20;
    case 0x00AB: return '<';
    case 0x00BB: return '>';
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2013:
    case 0x2014:
    case 0x2212: return '-';
    case 0x2018:
    case 0x2019:
    case 0x201A:
    case 0x2032: return '\'';
    case 0x201C:
    case 0x201D:
    case 0x201E:
    case 0x2033: return '"';
    case 0x2039: return '<';
    case 0x203A: return '>';
    case 0x2022: return 0xB7;
    case 0x2026: return '.';
    case 0x2122: return 'T';
    case 0x0192: return 'f';
    case 0x02C6: return '^';
    case 0x02DC: return '~';
    case 0x0180: return 'b';
    case 0x0189: return 'D';
    case 0x0191: return 'F';
    case 0x0197: return 'I';
    case 0x019A: return 'l';
    case 0x019F: return 'O';
    case 0x01A0: return 'O';
    case 0x01A1: return 'o';
    case 0x01AF: return 'U';
    case 0x01B0: return 'u';
    case 0x01B6: return 'z';
    case 0x01CD: return 'A';
    case 0x01CE: return 'a';
    case 0x01CF: return 'I';
    case 0x01D0: return 'i';
    case 0x01D1: return 'O';
    case 0x01D2: return 'o';
    case 0x01D3: return 'U';
    case 0x01D4: return 'u';
    case 0x01E6: return 'G';
    case 0x01E7: return 'g';
    case 0x01E8: return 'K';
    case 0x01E9: return 'k';
    case 0x01EA: return 'O';
    case 0x01EB: return 'o';
    case 0x01F0: return 'j';
    case 0x0261: return 'g';
    case 0x02B9:
    case 0x02BC:
    case 0x02C8: return '\'';
    case 0x02BA: return '"';
    case 0x02CB: return '`';
    case 0x02CD: return '_';
    case 0x0300: return '`';
    case 0x0302: return '^';
    case 0x0303: return '~';
    case 0x0327: return 0xB8;
    case 0x0331:
    case 0x0332: return '_';
    case 0x2024: return '.';
    case 0x2030: return '%';
    case 0x2044: return '/';
    case 0x20A4: return 0xA3;
    case 0x2215: return '/';
    case 0x2216: return '\\';
    case 0x2217: return '*';
    case 0x2223: return '|';
    case 0x2236: return ':';
    case 0x223C: return '~';
    case 0x2264: return '=';
    case 0x2265: return '=';
    case 0x3000: return 0x20;
    default: return 0;
  }
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

char32_t Sanitize(wchar_t w) {
  char32_t c = static_cast<char32_t>(w);
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0xFFFD;
  return c;
}

// ---------------------------------------------------------------------------------------------
// Upper-case table (simple one-to-one mappings of the Unicode letters NTFS up-cases).

char32_t Upper(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c < 0x100) {
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c == 0xB5) return 0x39C;
    return c;
  }
  if (c < 0x180) {
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
      return (c & 1) ? c - 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
    return c;
  }
  if (c < 0x250) {
    switch (c) {
      case 0x180: return 0x243;
      case 0x183:
      case 0x185:
      case 0x188:
      case 0x18C:
      case 0x192:
      case 0x199:
      case 0x1A8:
      case 0x1AD:
      case 0x1B0:
      case 0x1B4:
      case 0x1B6:
      case 0x1B9:
      case 0x1BD: return c - 1;
      case 0x1A1:
      case 0x1A3:
      case 0x1A5: return c - 1;
      case 0x195: return 0x1F6;
      case 0x19A: return 0x23D;
      case 0x19E: return 0x220;
      case 0x1BF: return 0x1F7;
      case 0x1C6:
      case 0x1C9:
      case 0x1CC: return c - 2;
      case 0x1F3: return 0x1F1;
      case 0x1DD: return 0x18E;
      default: break;
    }
    if (c >= 0x1CD && c <= 0x1DC) return (c & 1) ? c : c - 1;
    if ((c >= 0x1DE && c <= 0x1EF) || (c >= 0x1F8 && c <= 0x21F) || (c >= 0x222 && c <= 0x233) ||
        (c >= 0x246 && c <= 0x24F))
      return (c & 1) ? c - 1 : c;
    return c;
  }
  if (c >= 0x370 && c < 0x400) {
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 0x20;
    switch (c) {
      case 0x3C2: return 0x3A3;
      case 0x3AC: return 0x386;
      case 0x3AD:
      case 0x3AE:
      case 0x3AF: return c - 0x25;
      case 0x3CC: return 0x38C;
      case 0x3CD:
      case 0x3CE: return c - 0x3F;
      default: break;
    }
    if (c >= 0x3D8 && c <= 0x3EF) return (c & 1) ? c - 1 : c;
    return c;
  }
  if (c >= 0x400 && c < 0x530) {
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
      return (c & 1) ? c - 1 : c;
    if (c >= 0x4C1 && c <= 0x4CE) return (c & 1) ? c : c - 1;
    if (c == 0x4CF) return 0x4C0;
    return c;
  }
  if (c >= 0x561 && c <= 0x586) return c - 0x30;
  if (c >= 0x1E00 && c <= 0x1EFF) {
    if ((c <= 0x1E95) || (c >= 0x1EA0)) return (c & 1) ? c - 1 : c;
    return c;
  }
  if (c >= 0x1F00 && c < 0x2000) {
    // Greek extended: lower-case rows at +0..7 of each 16 up-case to +8..15.
    unsigned row = (c >> 4) & 0xF;
    unsigned col = c & 0xF;
    if ((row == 0 || row == 1 || row == 2 || row == 3 || row == 4 || row == 6) && col < 8) {
      if ((row == 1 || row == 4) && col >= 6) return c;
      return c + 8;
    }
    if (row == 5 && col < 8 && (col & 1)) return c + 8;
    return c;
  }
  if (c >= 0x2170 && c <= 0x217F) return c - 0x10;
  if (c >= 0x24D0 && c <= 0x24E9) return c - 0x1A;
  if (c >= 0x2C30 && c <= 0x2C5F) return c - 0x30;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
  if (c >= 0x10428 && c <= 0x1044F) return c - 0x28;
  return c;
}

struct LowerMap {
  std::unordered_map<char32_t, char32_t> map;
  LowerMap() {
    for (char32_t c = 0; c < 0x10450; ++c) {
      if (c >= 0x2D00 && c < 0xFF00) {
        c = 0xFF00;
      }
      if (c >= 0xFFFF && c < 0x10400) {
        c = 0x10400;
      }
      char32_t u = Upper(c);
      if (u != c) map.emplace(u, c);
    }
    // Where several lower-case letters share one capital, keep the ordinary one.
    map[0x3A3] = 0x3C3;
    map[0x39C] = 0x3BC;
    map[0x178] = 0xFF;
  }
};

const LowerMap& Lowers() {
  static const LowerMap m;
  return m;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

}  // namespace

// ---------------------------------------------------------------------------------------------

unsigned GetACP() {
  try {
    return Machine::Current().Config().ansiCodePage;
  } catch (...) {
    return 1252;
  }
}

unsigned GetOEMCP() {
  try {
    return Machine::Current().Config().oemCodePage;
  } catch (...) {
    return 437;
  }
}

bool IsValidCodePage(unsigned cp) {
  switch (cp) {
    case 1250:
    case 1251:
    case 1252:
    case 1254:
    case 437:
    case 866:
    case 28591:
    case 20127:
    case CP_UTF8: return true;
    default: return false;
  }
}

std::string WideToAnsi(std::wstring_view text, unsigned codePage, bool* usedDefault) {
  unsigned cp = ResolveCodePage(codePage);
  if (usedDefault) *usedDefault = false;
  std::string out;
  out.reserve(text.size());
  if (cp == CP_UTF8) {
    for (wchar_t w : text) AppendUtf8(out, Sanitize(w));
    return out;
  }
  if (cp == 20127) {  // US-ASCII: best fit to ASCII, else '?'
    for (wchar_t w : text) {
      char32_t c = Sanitize(w);
      if (c >= 0x80) {
        char32_t f = BestFit(c);
        if (f != 0 && f < 0x80)
          c = f;
        else {
          c = '?';
          if (usedDefault) *usedDefault = true;
        }
      }
      out += static_cast<char>(c);
    }
    return out;
  }
  const SingleByteTable* t = TableFor(cp);
  for (wchar_t w : text) {
    char32_t c = Sanitize(w);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    auto it = t->reverse.find(c);
    if (it != t->reverse.end()) {
      out += static_cast<char>(it->second);
      continue;
    }
    char32_t f = BestFit(c);
    if (f != 0) {
      if (f < 0x80) {
        out += static_cast<char>(f);
        continue;
      }
      auto it2 = t->reverse.find(f);
      if (it2 != t->reverse.end()) {
        out += static_cast<char>(it2->second);
        continue;
      }
    }
    out += '?';
    if (usedDefault) *usedDefault = true;
  }
  return out;
}

namespace {

// The well-formed sequence at s[i] (not ASCII): its length and character, or 0 with `broken`,
// the bytes to skip, when there is none there. `keep` lets encoded surrogates through.
int DecodeSequence(std::string_view s, std::size_t i, bool keep, char32_t& c, std::size_t& broken) {
  const std::size_t n = s.size();
  unsigned char b = static_cast<unsigned char>(s[i]);
  int len = 0;
  char32_t min = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    c = b & 0x1F;
    min = 0x80;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    c = b & 0x0F;
    min = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    c = b & 0x07;
    min = 0x10000;
  } else {
    broken = 1;
    return 0;
  }
  int k = 1;
  for (; k < len && i + k < n; ++k) {
    unsigned char cb = static_cast<unsigned char>(s[i + k]);
    if ((cb & 0xC0) != 0x80) break;
    c = (c << 6) | (cb & 0x3F);
  }
  if (k < len || c < min || c > 0x10FFFF || (!keep && c >= 0xD800 && c <= 0xDFFF)) {
    broken = (k < len) ? k : len;  // skip the broken sequence, resynchronise on the next lead
    return 0;
  }
  return len;
}

}  // namespace

std::size_t InvalidUtf8At(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    char32_t c = 0;
    std::size_t broken = 0;
    const int len = DecodeSequence(s, i, false, c, broken);
    if (len == 0) return i;
    i += len;
  }
  return std::string_view::npos;
}

std::wstring FromUtf8(std::string_view s, Surrogates surrogates) {
  const bool keep = surrogates == Surrogates::Keep;
  std::wstring out;
  out.reserve(s.size());
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      // A run of ASCII, the most of any text here, in one go.
      std::size_t end = i + 1;
      while (end < n && static_cast<unsigned char>(s[end]) < 0x80) ++end;
      std::size_t at = out.size();
      out.resize(at + (end - i));
      for (; i < end; ++i) out[at++] = static_cast<wchar_t>(static_cast<unsigned char>(s[i]));
      continue;
    }
    char32_t c = 0;
    std::size_t broken = 0;
    const int len = DecodeSequence(s, i, keep, c, broken);
    if (len == 0) {
      out += L'\xFFFD';
      i += broken;
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += len;
  }
  return out;
}

std::wstring AnsiToWide(std::string_view bytes, unsigned codePage) {
  unsigned cp = ResolveCodePage(codePage);
  if (cp == CP_UTF8) return FromUtf8(bytes);
  std::wstring out;
  out.reserve(bytes.size());
  const SingleByteTable* t = cp == 20127 ? nullptr : TableFor(cp);
  for (char ch : bytes) {
    unsigned char b = static_cast<unsigned char>(ch);
    if (b < 0x80)
      out += static_cast<wchar_t>(b);
    else if (!t)
      out += static_cast<wchar_t>(b & 0x7F);  // Windows strips the high bit for 20127
    else if (!t->high)
      out += static_cast<wchar_t>(b);
    else
      out += static_cast<wchar_t>((*t->high)[b - 0x80]);
  }
  return out;
}

std::string ToUtf8(std::wstring_view text, Surrogates surrogates) {
  std::string out;
  out.reserve(text.size());
  if (surrogates == Surrogates::Keep) {
    for (wchar_t w : text) {
      const auto c = static_cast<char32_t>(w);
      AppendUtf8(out, c > 0x10FFFF ? 0xFFFD : c);
    }
    return out;
  }
  for (wchar_t w : text) AppendUtf8(out, Sanitize(w));
  return out;
}

std::u16string ToUtf16(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (wchar_t w : text) {
    char32_t c = Sanitize(w);
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::wstring FromUtf16(std::u16string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      out += L'\xFFFD';
    } else {
      out += static_cast<wchar_t>(u);
    }
  }
  return out;
}

std::string ToUtf16LEBytes(std::wstring_view text) {
  std::u16string u = ToUtf16(text);
  std::string out;
  out.reserve(u.size() * 2);
  for (char16_t c : u) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

std::wstring FromUtf16LEBytes(std::string_view bytes) {
  std::u16string u;
  u.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    u += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                               (static_cast<unsigned char>(bytes[i + 1]) << 8));
  return FromUtf16(u);
}

wchar_t UpperChar(wchar_t c) {
  if (c >= 0 && c < 0x80) return (c >= L'a' && c <= L'z') ? c - 32 : c;
  return static_cast<wchar_t>(Upper(static_cast<char32_t>(c)));
}

wchar_t LowerChar(wchar_t c) {
  if (c >= 0 && c < 0x80) return (c >= L'A' && c <= L'Z') ? c + 32 : c;
  const auto& m = Lowers().map;
  auto it = m.find(static_cast<char32_t>(c));
  return it == m.end() ? c : static_cast<wchar_t>(it->second);
}

std::wstring ToUpper(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = UpperChar(c);
  return out;
}

std::wstring ToLower(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = LowerChar(c);
  return out;
}

int CompareNoCase(std::wstring_view a, std::wstring_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    wchar_t x = a[i], y = b[i];
    if (x == y) continue;
    x = UpperChar(x);
    y = UpperChar(y);
    if (x != y) return static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(y) ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

bool StartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithNoCase(std::wstring_view text, std::wstring_view suffix) {
  return text.size() >= suffix.size() &&
         EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::size_t FindNoCase(std::wstring_view text, std::wstring_view needle, std::size_t from) {
  if (needle.empty()) return from <= text.size() ? from : std::wstring_view::npos;
  for (std::size_t i = from; i + needle.size() <= text.size(); ++i)
    if (EqualsNoCase(text.substr(i, needle.size()), needle)) return i;
  return std::wstring_view::npos;
}

std::size_t NoCaseHash::operator()(std::wstring_view s) const {
  std::size_t h = 1469598103934665603ull;
  for (wchar_t c : s) {
    h ^= static_cast<std::size_t>(UpperChar(c));
    h *= 1099511628211ull;
  }
  return h;
}

bool IsSpace(wchar_t c) {
  switch (c) {
    case L' ':
    case L'\t':
    case L'\n':
    case L'\v':
    case L'\f':
    case L'\r':
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000: return true;
    default: return c >= 0x2000 && c <= 0x200A;
  }
}

std::wstring Trim(std::wstring_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && IsSpace(text[b])) ++b;
  while (e > b && IsSpace(text[e - 1])) --e;
  return std::wstring(text.substr(b, e - b));
}

std::int64_t wtoi64(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool neg = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) neg = text[i++] == L'-';
  std::uint64_t v = 0;
  bool overflow = false;
  const std::uint64_t limit = neg ? static_cast<std::uint64_t>(INT64_MAX) + 1 : INT64_MAX;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    unsigned d = static_cast<unsigned>(text[i] - L'0');
    if (!overflow && (v > (limit - d) / 10)) overflow = true;
    if (!overflow) v = v * 10 + d;
  }
  if (overflow) return neg ? INT64_MIN : INT64_MAX;
  if (neg)
    return v == static_cast<std::uint64_t>(INT64_MAX) + 1 ? INT64_MIN
                                                          : -static_cast<std::int64_t>(v);
  return static_cast<std::int64_t>(v);
}

std::int32_t wtol(std::wstring_view text) {
  std::int64_t v = wtoi64(text);
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

double wtof(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  std::string ascii;
  for (; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c >= 0x80 || !(IsDigit(c) || c == L'+' || c == L'-' || c == L'.' || c == L'e' || c == L'E'))
      break;
    ascii += static_cast<char>(c);
  }
  // strtod in the "C" locale of this thread is not guaranteed; parse the form ourselves.
  std::size_t p = 0;
  bool neg = false;
  if (p < ascii.size() && (ascii[p] == '+' || ascii[p] == '-')) neg = ascii[p++] == '-';
  long double mant = 0;
  int exp10 = 0;
  bool any = false;
  for (; p < ascii.size() && ascii[p] >= '0' && ascii[p] <= '9'; ++p) {
    mant = mant * 10 + (ascii[p] - '0');
    any = true;
  }
  if (p < ascii.size() && ascii[p] == '.') {
    ++p;
    for (; p < ascii.size() && ascii[p] >= '0' && ascii[p] <= '9'; ++p) {
      mant = mant * 10 + (ascii[p] - '0');
      --exp10;
      any = true;
    }
  }
  if (!any) return 0.0;
  if (p < ascii.size() && (ascii[p] == 'e' || ascii[p] == 'E')) {
    std::size_t q = p + 1;
    bool eneg = false;
    if (q < ascii.size() && (ascii[q] == '+' || ascii[q] == '-')) eneg = ascii[q++] == '-';
    if (q < ascii.size() && ascii[q] >= '0' && ascii[q] <= '9') {
      int e = 0;
      for (; q < ascii.size() && ascii[q] >= '0' && ascii[q] <= '9'; ++q)
        e = e < 100000 ? e * 10 + (ascii[q] - '0') : e;
      exp10 += eneg ? -e : e;
    }
  }
  long double v = mant * std::pow(10.0L, static_cast<long double>(exp10));
  return static_cast<double>(neg ? -v : v);
}

namespace {

// Reads the number forms VariantChangeType accepts from a text. Returns false when the text is
// not a number at all.
bool ParseVariantNumber(std::wstring_view text, long double& value, bool& isIntegerForm) {
  std::wstring t = Trim(text);
  if (t.empty()) return false;
  std::size_t i = 0;
  bool neg = false;
  if (t[i] == L'+' || t[i] == L'-') {
    neg = t[i] == L'-';
    ++i;
    while (i < t.size() && IsSpace(t[i])) ++i;
  }
  if (i + 1 < t.size() && t[i] == L'&' &&
      (t[i + 1] == L'H' || t[i + 1] == L'h' || t[i + 1] == L'O' || t[i + 1] == L'o')) {
    const int radix = (t[i + 1] == L'H' || t[i + 1] == L'h') ? 16 : 8;
    i += 2;
    if (i >= t.size()) return false;
    long double v = 0;
    for (; i < t.size(); ++i) {
      wchar_t c = t[i];
      int d;
      if (c >= L'0' && c <= L'9')
        d = c - L'0';
      else if (radix == 16 && c >= L'a' && c <= L'f')
        d = c - L'a' + 10;
      else if (radix == 16 && c >= L'A' && c <= L'F')
        d = c - L'A' + 10;
      else
        return false;
      if (d >= radix) return false;
      v = v * radix + d;
    }
    // Hex forms are two's complement 32-bit values: &HFFFFFFFF is -1.
    if (radix == 16 && v > INT32_MAX && v <= UINT32_MAX) v -= 4294967296.0L;
    value = neg ? -v : v;
    isIntegerForm = true;
    return true;
  }
  long double mant = 0;
  bool any = false;
  std::size_t groupDigits = 0;
  bool sawSeparator = false;
  for (; i < t.size(); ++i) {
    wchar_t c = t[i];
    if (IsDigit(c)) {
      mant = mant * 10 + (c - L'0');
      any = true;
      ++groupDigits;
      continue;
    }
    if (c == L',' && any) {
      if (sawSeparator && groupDigits != 3) return false;
      sawSeparator = true;
      groupDigits = 0;
      continue;
    }
    break;
  }
  if (sawSeparator && groupDigits != 3) return false;
  int exp10 = 0;
  isIntegerForm = true;
  if (i < t.size() && t[i] == L'.') {
    ++i;
    for (; i < t.size() && IsDigit(t[i]); ++i) {
      mant = mant * 10 + (t[i] - L'0');
      --exp10;
      any = true;
      isIntegerForm = false;
    }
  }
  if (!any) return false;
  if (i < t.size() && (t[i] == L'e' || t[i] == L'E')) {
    ++i;
    bool eneg = false;
    if (i < t.size() && (t[i] == L'+' || t[i] == L'-')) eneg = t[i++] == L'-';
    if (i >= t.size() || !IsDigit(t[i])) return false;
    int e = 0;
    for (; i < t.size() && IsDigit(t[i]); ++i) e = e < 100000 ? e * 10 + (t[i] - L'0') : e;
    exp10 += eneg ? -e : e;
    isIntegerForm = false;
  }
  if (i != t.size()) return false;
  long double v = mant * std::pow(10.0L, static_cast<long double>(exp10));
  value = neg ? -v : v;
  return true;
}

long double RoundHalfEven(long double v) {
  long double f = std::floor(v);
  long double diff = v - f;
  if (diff > 0.5L) return f + 1;
  if (diff < 0.5L) return f;
  return std::fmod(f, 2.0L) == 0 ? f : f + 1;
}

}  // namespace

HRESULT VariantToInt32(std::wstring_view text, std::int32_t& value) {
  long double v;
  bool integer;
  if (!ParseVariantNumber(text, v, integer)) return DISP_E_TYPEMISMATCH;
  v = RoundHalfEven(v);
  if (v > INT32_MAX || v < INT32_MIN || std::isnan(v)) return DISP_E_OVERFLOW;
  value = static_cast<std::int32_t>(v);
  return S_OK;
}

HRESULT VariantToUInt32(std::wstring_view text, std::uint32_t& value) {
  long double v;
  bool integer;
  if (!ParseVariantNumber(text, v, integer)) return DISP_E_TYPEMISMATCH;
  v = RoundHalfEven(v);
  if (v > UINT32_MAX || v < 0 || std::isnan(v)) return DISP_E_OVERFLOW;
  value = static_cast<std::uint32_t>(v);
  return S_OK;
}

HRESULT VariantToDouble(std::wstring_view text, double& value) {
  long double v;
  bool integer;
  if (!ParseVariantNumber(text, v, integer)) return DISP_E_TYPEMISMATCH;
  if (std::isinf(v) || v > std::numeric_limits<double>::max() ||
      v < -std::numeric_limits<double>::max())
    return DISP_E_OVERFLOW;
  value = static_cast<double>(v);
  return S_OK;
}

std::wstring UIntToWide(std::uint64_t value, int radix) {
  if (radix < 2 || radix > 36) radix = 10;
  std::wstring out;
  do {
    unsigned d = static_cast<unsigned>(value % static_cast<unsigned>(radix));
    out.insert(out.begin(), static_cast<wchar_t>(d < 10 ? L'0' + d : L'a' + d - 10));
    value /= static_cast<unsigned>(radix);
  } while (value);
  return out;
}

std::wstring IntToWide(std::int64_t value, int radix) {
  if (radix == 10 && value < 0)
    return L"-" + UIntToWide(static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(value), 10);
  return UIntToWide(static_cast<std::uint64_t>(value), radix);
}

}  // namespace platform
