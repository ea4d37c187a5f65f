#include "platform/Format.h"

#include "platform/Text.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <locale.h>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace platform {

namespace {

// What a conversion needs from its argument.
enum class Need {
  Int8,
  Int16,
  Int32,
  Int64,
  WideText,
  NarrowText,
  WideChar,
  NarrowChar,
  Double,
  Pointer,
  StarInt
};

struct Conversion {
  std::size_t start = 0, end = 0;  // position of the whole "%...x" in the format
  std::string flags;
  bool widthStar = false;
  int width = -1;
  bool precisionStar = false;
  int precision = -1;
  Need need = Need::Int32;
  wchar_t type = 0;
  bool isSigned = false;
};

struct Parsed {
  std::vector<Conversion> conversions;  // in order; '%%' is not a conversion
  std::vector<Need> needs;  // every argument the conversions take, in order ('*' its own)
  std::wstring error;
};

const wchar_t* NeedName(Need n) {
  switch (n) {
    case Need::Int8:
    case Need::Int16:
    case Need::Int32: return L"a 32-bit integer";
    case Need::Int64: return L"a 64-bit integer";
    case Need::WideText: return L"a wide text";
    case Need::NarrowText: return L"a narrow (ANSI) text";
    case Need::WideChar: return L"a wide character";
    case Need::NarrowChar: return L"a narrow character";
    case Need::Double: return L"a floating-point number";
    case Need::Pointer: return L"a pointer";
    case Need::StarInt: return L"an int for \"*\"";
  }
  return L"?";
}

const wchar_t* KindName(ArgKind k) {
  switch (k) {
    case ArgKind::Int: return L"a signed integer";
    case ArgKind::UInt: return L"an unsigned integer";
    case ArgKind::WideText: return L"a wide text";
    case ArgKind::NarrowText: return L"a narrow text";
    case ArgKind::WideChar: return L"a wide character";
    case ArgKind::NarrowChar: return L"a narrow character";
    case ArgKind::Double: return L"a floating-point number";
    case ArgKind::Pointer: return L"a pointer";
  }
  return L"?";
}

bool Accepts(Need n, ArgKind k) {
  switch (n) {
    case Need::Int8:
    case Need::Int16:
    case Need::Int32:
    case Need::Int64:
      return k == ArgKind::Int || k == ArgKind::UInt || k == ArgKind::WideChar ||
             k == ArgKind::NarrowChar;
    case Need::WideText: return k == ArgKind::WideText;
    case Need::NarrowText: return k == ArgKind::NarrowText;
    case Need::WideChar:
    case Need::NarrowChar:
      return k == ArgKind::WideChar || k == ArgKind::NarrowChar || k == ArgKind::Int ||
             k == ArgKind::UInt;
    case Need::Double: return k == ArgKind::Double;
    case Need::Pointer: return k == ArgKind::Pointer;
    case Need::StarInt: return k == ArgKind::Int || k == ArgKind::UInt;
  }
  return false;
}

std::wstring Quote(std::wstring_view f) { return L"\"" + std::wstring(f) + L"\""; }

Parsed Parse(std::wstring_view f) {
  Parsed p;
  std::size_t i = 0;
  while (i < f.size()) {
    if (f[i] != L'%') {
      ++i;
      continue;
    }
    Conversion c;
    c.start = i++;
    if (i < f.size() && f[i] == L'%') {
      ++i;
      continue;
    }
    while (i < f.size() &&
           (f[i] == L'-' || f[i] == L'+' || f[i] == L' ' || f[i] == L'#' || f[i] == L'0'))
      c.flags += static_cast<char>(f[i++]);
    if (i < f.size() && f[i] == L'*') {
      c.widthStar = true;
      ++i;
    } else {
      while (i < f.size() && f[i] >= L'0' && f[i] <= L'9') {
        c.width = (c.width < 0 ? 0 : c.width) * 10 + (f[i++] - L'0');
        if (c.width > 100000) {
          p.error = L"the width at position " + std::to_wstring(c.start) + L" is too large";
          return p;
        }
      }
    }
    if (i < f.size() && f[i] == L'.') {
      ++i;
      c.precision = 0;
      if (i < f.size() && f[i] == L'*') {
        c.precisionStar = true;
        ++i;
      } else {
        while (i < f.size() && f[i] >= L'0' && f[i] <= L'9') {
          c.precision = c.precision * 10 + (f[i++] - L'0');
          if (c.precision > 100000) {
            p.error = L"the precision at position " + std::to_wstring(c.start) + L" is too large";
            return p;
          }
        }
      }
    }
    // Size prefixes.
    enum { None, H, HH, L, LL, I64, I32, Isz, W, BigL } size = None;
    if (i < f.size()) {
      if (f.substr(i, 3) == L"I64") {
        size = I64;
        i += 3;
      } else if (f.substr(i, 3) == L"I32") {
        size = I32;
        i += 3;
      } else if (f[i] == L'I') {
        size = Isz;
        ++i;
      } else if (f.substr(i, 2) == L"hh") {
        size = HH;
        i += 2;
      } else if (f[i] == L'h') {
        size = H;
        ++i;
      } else if (f.substr(i, 2) == L"ll") {
        size = LL;
        i += 2;
      } else if (f[i] == L'l') {
        size = L;
        ++i;
      } else if (f[i] == L'w') {
        size = W;
        ++i;
      } else if (f[i] == L'L') {
        size = BigL;
        ++i;
      } else if (f[i] == L'z' || f[i] == L'j' || f[i] == L't') {
        size = Isz;
        ++i;
      }
    }
    if (i >= f.size()) {
      p.error = L"the conversion at position " + std::to_wstring(c.start) + L" is incomplete";
      return p;
    }
    c.type = f[i++];
    c.end = i;
    switch (c.type) {
      case L'd':
      case L'i':
      case L'u':
      case L'x':
      case L'X':
      case L'o':
        c.isSigned = c.type == L'd' || c.type == L'i';
        if (size == LL || size == I64 || size == Isz)
          c.need = Need::Int64;
        else if (size == H)
          c.need = Need::Int16;
        else if (size == HH)
          c.need = Need::Int8;
        else if (size == None || size == L || size == I32)
          c.need = Need::Int32;
        else {
          p.error =
              L"a size prefix does not fit the conversion at position " + std::to_wstring(c.start);
          return p;
        }
        break;
      case L's':
        c.need = size == H                                  ? Need::NarrowText
                 : (size == None || size == L || size == W) ? Need::WideText
                                                            : Need::Int32;
        if (size != None && size != H && size != L && size != W) {
          p.error = L"a size prefix does not fit %s at position " + std::to_wstring(c.start);
          return p;
        }
        break;
      case L'S':
        c.need = (size == L || size == W) ? Need::WideText : Need::NarrowText;
        if (size != None && size != H && size != L && size != W) {
          p.error = L"a size prefix does not fit %S at position " + std::to_wstring(c.start);
          return p;
        }
        break;
      case L'c': c.need = size == H ? Need::NarrowChar : Need::WideChar; break;
      case L'C': c.need = (size == L || size == W) ? Need::WideChar : Need::NarrowChar; break;
      case L'e':
      case L'E':
      case L'f':
      case L'F':
      case L'g':
      case L'G':
      case L'a':
      case L'A': c.need = Need::Double; break;
      case L'p': c.need = Need::Pointer; break;
      case L'n':
        p.error = L"%n is not supported (position " + std::to_wstring(c.start) + L")";
        return p;
      default:
        p.error = L"unknown conversion \"%" + std::wstring(1, c.type) + L"\" at position " +
                  std::to_wstring(c.start);
        return p;
    }
    p.conversions.push_back(c);
  }
  for (const Conversion& c : p.conversions) {
    if (c.widthStar) p.needs.push_back(Need::StarInt);
    if (c.precisionStar) p.needs.push_back(Need::StarInt);
    p.needs.push_back(c.need);
  }
  return p;
}

// Whether the arguments fit the conversions. `kinds` is a span of ArgKind or of FormatArg.
template <class K>
bool CheckKinds(std::wstring_view format, const Parsed& p, std::span<K> kinds, std::wstring* why) {
  const auto kindAt = [&](std::size_t i) {
    if constexpr (std::is_same_v<std::remove_const_t<K>, FormatArg>)
      return kinds[i].Kind();
    else
      return kinds[i];
  };
  if (!p.error.empty()) {
    if (why) *why = L"format " + Quote(format) + L": " + p.error;
    return false;
  }
  const std::vector<Need>& needs = p.needs;
  for (std::size_t i = 0; i < needs.size(); ++i) {
    if (i >= kinds.size()) {
      if (why)
        *why = L"format " + Quote(format) + L" takes " + std::to_wstring(needs.size()) +
               L" arguments but is given " + std::to_wstring(kinds.size());
      return false;
    }
    const ArgKind kind = kindAt(i);
    if (!Accepts(needs[i], kind)) {
      if (why)
        *why = L"format " + Quote(format) + L": argument " + std::to_wstring(i + 1) +
               L" should be " + NeedName(needs[i]) + L" but is " + KindName(kind) +
               (needs[i] == Need::WideText && kind == ArgKind::NarrowText
                    ? L" (use %S for a narrow text)"
                : needs[i] == Need::NarrowText && kind == ArgKind::WideText
                    ? L" (use %s for a wide text)"
                    : L"");
      return false;
    }
  }
  return true;
}

std::wstring Pad(std::wstring body, int width, bool left, wchar_t fill = L' ') {
  if (width > 0 && static_cast<int>(body.size()) < width) {
    std::wstring pad(static_cast<std::size_t>(width) - body.size(), fill);
    body = left ? body + pad : pad + body;
  }
  return body;
}

std::wstring CFormat(const std::string& cfmt, auto value) {
  // Numbers are always written in the C locale, whatever the host's locale.
  static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  locale_t old = cLocale ? uselocale(cLocale) : static_cast<locale_t>(0);
  char small[128];
  int n = std::snprintf(small, sizeof small, cfmt.c_str(), value);
  std::string out;
  if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
    out.assign(small, static_cast<std::size_t>(n));
  } else if (n >= 0) {
    out.resize(static_cast<std::size_t>(n) + 1);
    std::snprintf(out.data(), out.size(), cfmt.c_str(), value);
    out.resize(static_cast<std::size_t>(n));
  }
  if (cLocale) uselocale(old);
  return FromUtf8(out);
}

// Appends the formatted text to `out`. Throws FormatError for what only the values show (a "*"
// out of range, a 64-bit value too large for its conversion); `out` then holds a part.
void Render(std::wstring_view format, const Parsed& p, std::span<const FormatArg> args,
            std::wstring& out) {
  std::size_t argi = 0;
  std::size_t pos = 0;
  // The text between conversions, in runs up to the next "%" ("%%" written as one).
  auto literal = [&](std::size_t upto) {
    std::size_t i = pos;
    while (i < upto) {
      const std::size_t percent = std::min(format.find(L'%', i), upto);
      out.append(format.data() + i, percent - i);
      if (percent == upto) break;
      out += L'%';
      i = percent + (percent + 1 < upto && format[percent + 1] == L'%' ? 2 : 1);
    }
  };
  for (const Conversion& c : p.conversions) {
    literal(c.start);
    pos = c.end;
    std::string flags = c.flags;
    int width = c.width;
    int precision = c.precision;
    if (c.widthStar) {
      const FormatArg& a = args[argi++];
      std::int64_t w = a.Kind() == ArgKind::Int ? a.Int() : static_cast<std::int64_t>(a.UInt());
      if (w < -100000 || w > 100000) throw FormatError("a \"*\" width is out of range");
      if (w < 0) {
        flags += '-';
        w = -w;
      }
      width = static_cast<int>(w);
    }
    if (c.precisionStar) {
      const FormatArg& a = args[argi++];
      std::int64_t pr = a.Kind() == ArgKind::Int ? a.Int() : static_cast<std::int64_t>(a.UInt());
      if (pr > 100000) throw FormatError("a \"*\" precision is out of range");
      precision = pr < 0 ? -1 : static_cast<int>(pr);
    }
    const bool left = flags.find('-') != std::string::npos;
    const FormatArg& a = args[argi];
    const std::size_t argNumber = argi + 1;
    ++argi;
    switch (c.need) {
      case Need::Int8:
      case Need::Int16:
      case Need::Int32:
      case Need::Int64: {
        // The value as the 64 bits the argument carries.
        std::uint64_t bits;
        bool negative = false;
        if (a.Kind() == ArgKind::Int || a.Kind() == ArgKind::WideChar ||
            a.Kind() == ArgKind::NarrowChar) {
          bits = static_cast<std::uint64_t>(a.Int());
          negative = a.Int() < 0;
        } else {
          bits = a.UInt();
        }
        if (c.need != Need::Int64 && a.Is64Bit()) {
          const bool fitsSigned =
              negative ? static_cast<std::int64_t>(bits) >= INT32_MIN : bits <= 0xFFFFFFFFull;
          if (!fitsSigned)
            throw FormatError(
                "format argument " + std::to_string(argNumber) +
                " is a 64-bit value that does not fit a 32-bit conversion (use %I64)");
        }
        // The value at the conversion's size.
        long long sv = 0;
        unsigned long long uv = 0;
        if (c.need == Need::Int64) {
          sv = static_cast<long long>(bits);
          uv = bits;
        } else if (c.need == Need::Int16) {
          sv = static_cast<std::int16_t>(bits);
          uv = static_cast<std::uint16_t>(bits);
        } else if (c.need == Need::Int8) {
          sv = static_cast<std::int8_t>(bits);
          uv = static_cast<std::uint8_t>(bits);
        } else {
          sv = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
          uv = static_cast<std::uint32_t>(bits);
        }
        // The plain decimal forms, by far the most common (also with a width and '0' or '-', as
        // a run log's time stamp has them), are written directly.
        if (precision < 0 && (c.isSigned || c.type == L'u') &&
            flags.find_first_not_of("0-") == std::string::npos) {
          const bool minus = c.isSigned && sv < 0;
          std::uint64_t magnitude = !c.isSigned ? uv
                                    : minus     ? 0 - static_cast<std::uint64_t>(sv)
                                                : static_cast<std::uint64_t>(sv);
          wchar_t digits[24];
          std::size_t n = 0;
          do {
            digits[n++] = static_cast<wchar_t>(L'0' + magnitude % 10);
            magnitude /= 10;
          } while (magnitude);
          const std::size_t length = n + (minus ? 1 : 0);
          const std::size_t pad =
              width > 0 && static_cast<std::size_t>(width) > length ? width - length : 0;
          const bool zeros = !left && flags.find('0') != std::string::npos;
          if (!left && !zeros) out.append(pad, L' ');
          if (minus) out += L'-';
          if (zeros) out.append(pad, L'0');
          while (n) out += digits[--n];
          if (left) out.append(pad, L' ');
          break;
        }
        std::string cfmt = "%" + flags;
        if (width >= 0) cfmt += std::to_string(width);
        if (precision >= 0) cfmt += "." + std::to_string(precision);
        if (c.isSigned) {
          cfmt += "lld";
          out += CFormat(cfmt, sv);
        } else {
          cfmt += "ll";
          cfmt += static_cast<char>(c.type);
          out += CFormat(cfmt, uv);
        }
        break;
      }
      case Need::WideText:
      case Need::NarrowText: {
        // A wide text that is neither cut nor padded, as almost every one is, goes in as it is.
        if (!a.IsNull() && a.Kind() == ArgKind::WideText &&
            (precision < 0 || static_cast<std::size_t>(precision) >= a.Wide().size()) &&
            (width <= 0 || static_cast<std::size_t>(width) <= a.Wide().size())) {
          out += a.Wide();
          break;
        }
        std::wstring text;
        if (a.IsNull())
          text = L"(null)";
        else if (a.Kind() == ArgKind::WideText)
          text = std::wstring(a.Wide());
        else
          text = AnsiToWide(a.Narrow(), CP_ACP);
        if (precision >= 0 && static_cast<std::size_t>(precision) < text.size())
          text.resize(static_cast<std::size_t>(precision));
        out += Pad(text, width, left);
        break;
      }
      case Need::WideChar:
      case Need::NarrowChar: {
        wchar_t ch;
        if (a.Kind() == ArgKind::NarrowChar ||
            (c.need == Need::NarrowChar && a.Kind() != ArgKind::WideChar)) {
          char b = static_cast<char>(
              a.Kind() == ArgKind::UInt ? a.UInt() : static_cast<std::uint64_t>(a.Int()));
          std::wstring w = AnsiToWide(std::string_view(&b, 1), CP_ACP);
          ch = w.empty() ? L'?' : w[0];
        } else {
          std::uint64_t v =
              a.Kind() == ArgKind::UInt ? a.UInt() : static_cast<std::uint64_t>(a.Int());
          ch = static_cast<wchar_t>(v & 0xFFFF);
          if (a.Kind() == ArgKind::WideChar) ch = static_cast<wchar_t>(a.Int());
        }
        out += Pad(std::wstring(1, ch), width, left);
        break;
      }
      case Need::Double: {
        std::string cfmt = "%" + flags;
        if (width >= 0) cfmt += std::to_string(width);
        if (precision >= 0) cfmt += "." + std::to_string(precision);
        cfmt += static_cast<char>(c.type);
        out += CFormat(cfmt, a.Double());
        break;
      }
      case Need::Pointer: {
        std::string cfmt = "%0" + std::to_string(2 * sizeof(void*)) + "llX";
        out += Pad(CFormat(cfmt, static_cast<unsigned long long>(a.UInt())), width, left);
        break;
      }
      case Need::StarInt: break;
    }
  }
  literal(format.size());
}

}  // namespace

namespace {

// Formats parsed once: a program formats the same few hundred texts again and again (its log
// lines). Bounded: texts beyond that many are parsed each time. Kept for the whole process, as
// exit handlers format too. `hold` keeps a format alive that is not kept.
const Parsed& ParsedOnce(std::wstring_view format, std::shared_ptr<const Parsed>& hold) {
  constexpr std::size_t kKept = 512;
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::wstring_view v) const { return std::hash<std::wstring_view>{}(v); }
  };
  using Kept =
      std::unordered_map<std::wstring, std::shared_ptr<const Parsed>, Hash, std::equal_to<>>;
  static auto* mutex = new std::mutex;
  static auto* kept = new Kept;
  // Each thread remembers where the kept formats it used last were: a log line's format is
  // mostly the same literal again, found here by its address and then compared, without the
  // lock and the hash. The kept entries are never removed, so what these point at stays.
  struct Recent {
    const wchar_t* at = nullptr;
    const std::wstring* text = nullptr;
    const Parsed* parsed = nullptr;
  };
  constexpr std::size_t kRecent = 16;
  thread_local Recent recent[kRecent];
  Recent& slot =
      recent[((reinterpret_cast<std::uintptr_t>(format.data()) >> 3) ^ format.size()) % kRecent];
  if (slot.text && slot.at == format.data() && *slot.text == format) return *slot.parsed;

  const auto remember = [&](Kept::const_iterator it) -> const Parsed& {
    slot = {format.data(), &it->first, it->second.get()};
    return *it->second;
  };
  {
    std::lock_guard<std::mutex> lock(*mutex);
    auto it = kept->find(format);
    if (it != kept->end()) return remember(it);
  }
  auto p = std::make_shared<const Parsed>(Parse(format));
  std::lock_guard<std::mutex> lock(*mutex);
  if (kept->size() < kKept) {
    // Another thread may have kept the same text meanwhile: its entry is the one used.
    return remember(kept->emplace(std::wstring(format), std::move(p)).first);
  }
  hold = std::move(p);
  return *hold;
}

// Appends the formatted text to `out`; on a FormatError `out` is as it was.
void FormatAppend(std::wstring_view format, std::span<const FormatArg> args, std::wstring& out) {
  std::shared_ptr<const Parsed> hold;
  const Parsed& p = ParsedOnce(format, hold);
  std::wstring why;
  if (!CheckKinds(format, p, args, &why)) throw FormatError(ToUtf8(why));
  const std::size_t start = out.size();
  try {
    Render(format, p, args, out);
  } catch (...) {
    out.resize(start);
    throw;
  }
}

}  // namespace

std::wstring FormatArgs(std::wstring_view format, std::span<const FormatArg> args) {
  std::wstring out;
  FormatAppend(format, args, out);
  return out;
}

DWORD TryFormat(std::wstring_view format, std::span<const FormatArg> args, std::wstring& out,
                std::wstring* why) {
  try {
    out = FormatArgs(format, args);
    return ERROR_SUCCESS;
  } catch (const FormatError& e) {
    if (why) *why = FromUtf8(e.what());
    return ERROR_INVALID_PARAMETER;
  }
}

DWORD TryFormatAppend(std::wstring_view format, std::span<const FormatArg> args, std::wstring& out,
                      std::wstring* why) {
  try {
    FormatAppend(format, args, out);
    return ERROR_SUCCESS;
  } catch (const FormatError& e) {
    if (why) *why = FromUtf8(e.what());
    return ERROR_INVALID_PARAMETER;
  }
}

bool CheckFormat(std::wstring_view format, std::span<const ArgKind> kinds, std::wstring* why) {
  return CheckKinds(format, Parse(format), kinds, why);
}

bool CheckFormat(std::wstring_view format, std::initializer_list<ArgKind> kinds,
                 std::wstring* why) {
  return CheckFormat(format, std::span<const ArgKind>(kinds.begin(), kinds.size()), why);
}

int CountFormatArguments(std::wstring_view format) {
  Parsed p = Parse(format);
  if (!p.error.empty()) return -1;
  return static_cast<int>(p.needs.size());
}

}  // namespace platform
