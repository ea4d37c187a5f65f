#include "xml/XmlText.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cwctype>
#include <type_traits>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define MORLANE_TEXT_AVX2 1
#endif

namespace MorlaneText {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  char bytes[4];
  out.append(bytes, EncodeUtf8(c, bytes));
}

// Decodes one code point at text[i]; advances i. Returns kReplacement for invalid sequences and
// sets ok=false.
char32_t DecodeUtf8(std::string_view text, std::size_t& i, bool& ok) {
  const unsigned char b0 = static_cast<unsigned char>(text[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra;
  char32_t c;
  char32_t minimum;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    c = b0 & 0x1F;
    minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    c = b0 & 0x0F;
    minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    c = b0 & 0x07;
    minimum = 0x10000;
  } else {
    ++i;
    ok = false;
    return kReplacement;
  }
  if (i + static_cast<std::size_t>(extra) >= text.size()) {
    i = text.size();
    ok = false;
    return kReplacement;
  }
  for (int k = 1; k <= extra; ++k) {
    const unsigned char b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) {
      i += k;
      ok = false;
      return kReplacement;
    }
    c = (c << 6) | (b & 0x3F);
  }
  i += extra + 1;
  if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ok = false;
    return kReplacement;
  }
  return c;
}

// DecodeUtf8 with ASCII taken without the call, for the loops over whole texts.
inline char32_t NextCodePoint(std::string_view text, std::size_t& i, bool& ok) {
  const unsigned char b = static_cast<unsigned char>(text[i]);
  if (b < 0x80) {
    ++i;
    return b;
  }
  return DecodeUtf8(text, i, ok);
}

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f';
}

}  // namespace

std::string ToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    char32_t c = static_cast<char32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring FromUtf8(std::string_view text) {
  // Never more characters than bytes: written in place, then cut to length.
  std::wstring out(text.size(), L'\0');
  wchar_t* to = out.data();
  std::size_t i = 0;
  bool ok = true;
  const std::size_t n = text.size();
  while (i < n) {
    // Eight ASCII bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      if (word & 0x8080808080808080ULL) break;
      for (int k = 0; k < 8; ++k) to[k] = static_cast<wchar_t>(text[i + k]);
      to += 8;
      i += 8;
    }
    if (i >= n) break;
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      *to++ = static_cast<wchar_t>(b);
      ++i;
    } else {
      *to++ = static_cast<wchar_t>(DecodeUtf8(text, i, ok));
    }
  }
  out.resize(static_cast<std::size_t>(to - out.data()));
  return out;
}

bool IsValidUtf8(std::string_view text) { return InvalidUtf8At(text) == std::string_view::npos; }

#if defined(MORLANE_TEXT_AVX2)
namespace {
// The length of the run of ASCII at the start of text, in steps of 128 bytes (a shorter rest is
// left to the caller), where the processor has the wide registers.
__attribute__((target("avx2"))) std::size_t AsciiRunWide(const char* text, std::size_t n) {
  std::size_t i = 0;
  while (i + 128 <= n) {
    const __m256i* p = reinterpret_cast<const __m256i*>(text + i);
    const __m256i any =
        _mm256_or_si256(_mm256_or_si256(_mm256_loadu_si256(p), _mm256_loadu_si256(p + 1)),
                        _mm256_or_si256(_mm256_loadu_si256(p + 2), _mm256_loadu_si256(p + 3)));
    if (_mm256_movemask_epi8(any)) break;
    i += 128;
  }
  return i;
}
bool WideAscii() {
  static const bool wide = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
  return wide;
}
}  // namespace
#endif

std::size_t InvalidUtf8At(std::string_view text) {
  std::size_t i = 0;
  bool ok = true;
  const std::size_t n = text.size();
  while (i < n) {
#if defined(MORLANE_TEXT_AVX2)
    if (WideAscii()) i += AsciiRunWide(text.data() + i, n - i);
#endif
    // Fast path over ASCII runs: sixty-four bytes at a time, then eight.
    while (i + 64 <= n) {
      std::uint64_t words[8];
      std::memcpy(words, text.data() + i, 64);
      if ((words[0] | words[1] | words[2] | words[3] | words[4] | words[5] | words[6] | words[7]) &
          0x8080808080808080ULL)
        break;
      i += 64;
    }
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, text.data() + i, 8);
      if (word & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i >= n) break;
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    DecodeUtf8(text, i, ok);
    if (!ok) return start;
  }
  return std::string_view::npos;
}

std::string Utf16ToUtf8(const unsigned char* data, std::size_t size, bool bigEndian) {
  std::string out;
  out.reserve(size / 2 + size / 8);
  const std::size_t units = size / 2;
  auto unit = [&](std::size_t k) -> char32_t {
    const unsigned char a = data[2 * k], b = data[2 * k + 1];
    return bigEndian ? static_cast<char32_t>((a << 8) | b) : static_cast<char32_t>((b << 8) | a);
  };
  for (std::size_t k = 0; k < units; ++k) {
    char32_t c = unit(k);
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (k + 1 < units) {
        const char32_t d = unit(k + 1);
        if (d >= 0xDC00 && d <= 0xDFFF) {
          c = 0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00);
          ++k;
        } else {
          c = kReplacement;
        }
      } else {
        c = kReplacement;
      }
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string Utf8ToUtf16LE(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  std::size_t i = 0;
  bool ok = true;
  auto put = [&](char32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>((u >> 8) & 0xFF));
  };
  while (i < text.size()) {
    char32_t c = NextCodePoint(text, i, ok);
    if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

namespace {

std::string NormaliseEncodingName(const std::string& name) {
  std::string n;
  for (char c : name) n.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  return n;
}

// A windows-1252 fast path (the ANSI code page of the emulated machines and the default of the
// viewer's files): 0x80..0x9F hold the typographic characters, the rest is Latin-1.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

bool IsCp1252(const std::string& upper) {
  return upper == "WINDOWS-1252" || upper == "CP1252" || upper == "WINDOWS1252";
}

void AppendCharRef(std::string& out, char32_t c) {
  out += "&#";
  out += std::to_string(static_cast<unsigned long>(c));
  out += ';';
}

}  // namespace

bool ConvertToUtf8(std::string_view bytes, const std::string& encoding, std::string& out,
                   std::size_t* invalidAt) {
  const std::string upper = NormaliseEncodingName(encoding);
  out.clear();
  if (invalidAt) *invalidAt = std::string_view::npos;
  if (upper == "UTF-8" || upper == "UTF8") {
    out.assign(bytes);
    return true;
  }
  if (IsCp1252(upper)) {
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char ch : bytes) {
      const unsigned char b = static_cast<unsigned char>(ch);
      if (b < 0x80) {
        out.push_back(ch);
      } else if (b < 0xA0) {
        if (invalidAt && kCp1252High[b - 0x80] == kReplacement) {
          *invalidAt = static_cast<std::size_t>(&ch - bytes.data());
          return false;
        }
        AppendUtf8(out, kCp1252High[b - 0x80]);
      } else
        AppendUtf8(out, b);
    }
    return true;
  }
  iconv_t cd = iconv_open("UTF-8", encoding.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string input(bytes);
  char* in = input.data();
  std::size_t inLeft = input.size();
  std::string buffer(4096, '\0');
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t r = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // A byte the code page does not define: the caller's failure, or the replacement
      // character and on.
      if (invalidAt) {
        *invalidAt = static_cast<std::size_t>(in - input.data());
        iconv_close(cd);
        return false;
      }
      AppendUtf8(out, kReplacement);
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return true;
}

bool ConvertFromUtf8(std::string_view text, const std::string& encoding, std::string& out) {
  const std::string upper = NormaliseEncodingName(encoding);
  out.clear();
  if (upper == "UTF-8" || upper == "UTF8") {
    out.assign(text);
    return true;
  }
  if (upper == "UTF-16" || upper == "UTF-16LE" || upper == "UCS-2") {
    out = Utf8ToUtf16LE(text);
    return true;
  }
  if (IsCp1252(upper)) {
    out.reserve(text.size());
    std::size_t i = 0;
    bool ok = true;
    while (i < text.size()) {
      const unsigned char b = static_cast<unsigned char>(text[i]);
      if (b < 0x80) {
        out.push_back(static_cast<char>(b));
        ++i;
        continue;
      }
      const char32_t c = DecodeUtf8(text, i, ok);
      if (c >= 0xA0 && c <= 0xFF) {
        out.push_back(static_cast<char>(c));
        continue;
      }
      int found = -1;
      for (int k = 0; k < 32; ++k) {
        if (kCp1252High[k] == c && c != 0xFFFD) {
          found = k;
          break;
        }
      }
      if (found >= 0)
        out.push_back(static_cast<char>(0x80 + found));
      else
        AppendCharRef(out, c);
    }
    return true;
  }
  iconv_t cd = iconv_open(encoding.c_str(), "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::size_t i = 0;
  std::string buffer(16, '\0');
  bool ok = true;
  while (i < text.size()) {
    // One character at a time keeps the fallback simple; the texts that go this way are small.
    const std::size_t start = i;
    const char32_t c = DecodeUtf8(text, i, ok);
    std::string one(text.substr(start, i - start));
    char* in = one.data();
    std::size_t inLeft = one.size();
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      AppendCharRef(out, c);
    } else {
      out.append(buffer.data(), buffer.size() - outLeft);
    }
  }
  iconv_close(cd);
  return true;
}

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;  // Latin-1
  if (c >= 0x100 && c <= 0x17F) {                          // Latin Extended-A
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c == 0x178) return 0xFF;
    return (c & 1) ? c : c + 1;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 32;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x460 && c <= 0x4FF && !(c >= 0x482 && c <= 0x489)) return (c & 1) ? c : c + 1;
  return c;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] &&
        FoldCase(static_cast<char32_t>(a[i])) != FoldCase(static_cast<char32_t>(b[i])))
      return false;
  }
  return true;
}

bool EqualsNoCaseUtf8(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  bool ok = true;
  while (i < a.size() && j < b.size()) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[j]);
    if (x < 0x80 && y < 0x80) {
      if (x != y && FoldCase(x) != FoldCase(y)) return false;
      ++i;
      ++j;
      continue;
    }
    const char32_t cx = DecodeUtf8(a, i, ok);
    const char32_t cy = DecodeUtf8(b, j, ok);
    if (cx != cy && FoldCase(cx) != FoldCase(cy)) return false;
  }
  return i == a.size() && j == b.size();
}

namespace {

template <class Char>
bool IsDigit(Char c) {
  return c >= Char('0') && c <= Char('9');
}

template <class Char>
bool IsBlankChar(Char c) {
  return c == Char(' ') || c == Char('\t') || c == Char('\n') || c == Char('\r') ||
         c == Char('\v') || c == Char('\f');
}

// The longest prefix of s from start that is a decimal floating-point number; start if none.
// Characters outside ASCII are never part of one.
template <class Char>
std::size_t NumberPrefix(std::basic_string_view<Char> s, std::size_t start) {
  std::size_t i = start;
  if (i < s.size() && (s[i] == Char('+') || s[i] == Char('-'))) ++i;
  std::size_t digits = 0;
  while (i < s.size() && IsDigit(s[i])) {
    ++i;
    ++digits;
  }
  if (i < s.size() && s[i] == Char('.')) {
    ++i;
    while (i < s.size() && IsDigit(s[i])) {
      ++i;
      ++digits;
    }
  }
  if (digits == 0) return start;
  if (i < s.size() && (s[i] == Char('e') || s[i] == Char('E'))) {
    std::size_t k = i + 1;
    if (k < s.size() && (s[k] == Char('+') || s[k] == Char('-'))) ++k;
    std::size_t expDigits = 0;
    while (k < s.size() && IsDigit(s[k])) {
      ++k;
      ++expDigits;
    }
    if (expDigits > 0) i = k;
  }
  return i;
}

// The number digits[0, n), which NumberPrefix has found, as strtod reads it.
bool ConvertDigits(const char* digits, std::size_t n, double& value) {
  const auto result = std::from_chars(digits, digits + n, value);
  if (result.ec == std::errc::result_out_of_range) {
    // Overflow gives infinity, underflow zero, as strtod does.
    const bool negative = n > 0 && digits[0] == '-';
    const std::string_view text(digits, n);
    const std::size_t e = text.find_first_of("eE");
    const bool bigExponent = e != std::string_view::npos && e + 1 < n && text[e + 1] != '-';
    value = bigExponent ? (negative ? -HUGE_VAL : HUGE_VAL) : (negative ? -0.0 : 0.0);
    return true;
  }
  return result.ec == std::errc() && result.ptr == digits + n;
}

// The number s[from, to), which NumberPrefix has found (so ASCII).
template <class Char>
bool ConvertDouble(std::basic_string_view<Char> s, std::size_t from, std::size_t to,
                   double& value) {
  if (from < to && s[from] == Char('+')) ++from;
  const std::size_t n = to - from;
  if constexpr (std::is_same_v<Char, char>) {
    return ConvertDigits(s.data() + from, n, value);
  } else {
    // Wide digits as narrow text: on the stack for every number of a sensible length.
    char small[96];
    std::string large;
    char* out = small;
    if (n > sizeof small) {
      large.resize(n);
      out = large.data();
    }
    for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<char>(s[from + k]);
    return ConvertDigits(out, n, value);
  }
}

template <class Char>
double DoublePrefix(std::basic_string_view<Char> s) {
  std::size_t start = 0;
  while (start < s.size() && IsBlankChar(s[start])) ++start;
  const std::size_t end = NumberPrefix(s, start);
  if (end == start) return 0.0;
  double value = 0.0;
  if (!ConvertDouble(s, start, end, value)) return 0.0;
  return value;
}

template <class Char>
bool WholeNumber(std::basic_string_view<Char> s, double& value) {
  std::size_t start = 0, end = s.size();
  while (start < end && IsBlankChar(s[start])) ++start;
  while (end > start && IsBlankChar(s[end - 1])) --end;
  if (start == end) return false;
  if (NumberPrefix(s, start) != end) return false;
  return ConvertDouble(s, start, end, value);
}

}  // namespace

double ParseDoublePrefix(std::wstring_view text) { return DoublePrefix(text); }

double ParseDoublePrefix(std::string_view utf8) { return DoublePrefix(utf8); }

int ParseIntPrefix(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) {
    negative = text[i] == L'-';
    ++i;
  }
  long long value = 0;
  while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
    value = value * 10 + (text[i] - L'0');
    if (value > 0x80000000LL) value = 0x80000000LL;  // saturate, as the runtime does
    ++i;
  }
  if (negative) value = -value;
  if (value > 0x7FFFFFFFLL) value = 0x7FFFFFFFLL;
  return static_cast<int>(value);
}

bool ParseNumber(std::wstring_view text, double& value) { return WholeNumber(text, value); }

bool ParseNumber(std::string_view utf8, double& value) { return WholeNumber(utf8, value); }

NameMatch MatchName(const char* utf8, std::wstring_view wide) {
  NameMatch match = NameMatch::Exact;
  const std::string_view text(utf8);
  std::size_t i = 0, k = 0;
  bool ok = true;
  while (i < text.size() && k < wide.size()) {
    const char32_t c = NextCodePoint(text, i, ok);
    char32_t w = static_cast<char32_t>(wide[k++]);
    if (w > 0x10FFFF || (w >= 0xD800 && w <= 0xDFFF)) w = kReplacement;  // as ToUtf8 writes it
    if (c == w) continue;
    if (FoldCase(c) != FoldCase(w)) return NameMatch::Different;
    match = NameMatch::NoCase;
  }
  return i == text.size() && k == wide.size() ? match : NameMatch::Different;
}

}  // namespace MorlaneText
