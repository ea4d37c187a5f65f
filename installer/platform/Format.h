// printf-style formatting of wide texts with the Windows meaning of the conversions, type-safe.
//
// In a wide format: %s and %ls take a wide text, %S and %hs a narrow (ANSI) text, %c a wide
// character, %C and %hc a narrow one, %d %i signed and %u %x %X %o unsigned 32-bit integers,
// %I64d %I64u %I64x %lld %llu 64-bit ones, %ld %lu 32-bit ones, %e %f %g floating point, %p a
// pointer, %% a percent sign; flags "-+ #0", a width and a precision, "*" taking an int argument.
// Arguments are carried with their kind, so a conversion that does not fit its argument (a %s
// given a number, a %d given a text, too few arguments, a 64-bit value that does not fit a 32-bit
// conversion) is a FormatError (or a failed status from TryFormat), never undefined behaviour.
// Extra arguments are ignored, as printf ignores them. Types that cannot be formatted at all are
// compile errors.
#pragma once

#include "platform/Win32Errors.h"

#include <cstdint>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace platform {

class FormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The kind of an argument, as a format checker sees it.
enum class ArgKind { Int, UInt, WideText, NarrowText, WideChar, NarrowChar, Double, Pointer };

// One argument of Format. Built implicitly from the supported types only.
class FormatArg {
 public:
  template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T> &&
                                          !std::is_same_v<T, char> && !std::is_same_v<T, wchar_t>,
                                      int> = 0>
  FormatArg(T v) : kind_(ArgKind::Int), i_(v), wide64_(sizeof(T) > 4) {}
  template <class T,
            std::enable_if_t<std::is_integral_v<T> && std::is_unsigned_v<T> &&
                                 !std::is_same_v<T, bool> && !std::is_same_v<T, char8_t> &&
                                 !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t>,
                             int> = 0>
  FormatArg(T v) : kind_(ArgKind::UInt), u_(v), wide64_(sizeof(T) > 4) {}
  FormatArg(bool v) : kind_(ArgKind::Int), i_(v ? 1 : 0) {}
  FormatArg(char c) : kind_(ArgKind::NarrowChar), i_(static_cast<unsigned char>(c)) {}
  FormatArg(wchar_t c) : kind_(ArgKind::WideChar), i_(static_cast<std::int64_t>(c)) {}
  FormatArg(double d) : kind_(ArgKind::Double), d_(d) {}
  FormatArg(float d) : kind_(ArgKind::Double), d_(d) {}
  FormatArg(const wchar_t* s)
      : kind_(ArgKind::WideText),
        ws_(s ? std::wstring_view(s) : std::wstring_view()),
        null_(s == nullptr) {}
  FormatArg(std::wstring_view s) : kind_(ArgKind::WideText), ws_(s) {}
  FormatArg(const std::wstring& s) : kind_(ArgKind::WideText), ws_(s) {}
  FormatArg(const char* s)
      : kind_(ArgKind::NarrowText),
        ns_(s ? std::string_view(s) : std::string_view()),
        null_(s == nullptr) {}
  FormatArg(std::string_view s) : kind_(ArgKind::NarrowText), ns_(s) {}
  FormatArg(const std::string& s) : kind_(ArgKind::NarrowText), ns_(s) {}
  FormatArg(const void* p) : kind_(ArgKind::Pointer), u_(reinterpret_cast<std::uintptr_t>(p)) {}
  FormatArg(std::nullptr_t) = delete;  // ambiguous: say which kind of text or pointer

  ArgKind Kind() const { return kind_; }
  bool Is64Bit() const { return wide64_; }
  std::int64_t Int() const { return i_; }
  std::uint64_t UInt() const { return u_; }
  double Double() const { return d_; }
  std::wstring_view Wide() const { return ws_; }
  std::string_view Narrow() const { return ns_; }
  bool IsNull() const { return null_; }

 private:
  ArgKind kind_;
  std::int64_t i_ = 0;
  std::uint64_t u_ = 0;
  double d_ = 0;
  std::wstring_view ws_;
  std::string_view ns_;
  bool wide64_ = false;
  bool null_ = false;
};

// Formats `format` with `args`; throws FormatError naming the conversion and the argument at
// fault. Narrow texts (%S) are converted from the machine's ANSI code page.
std::wstring FormatArgs(std::wstring_view format, std::span<const FormatArg> args);

template <class... A>
std::wstring Format(std::wstring_view format, const A&... args) {
  const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
  return FormatArgs(format, std::span<const FormatArg>(list, sizeof...(A)));
}

// The same without exceptions: ERROR_SUCCESS and the text in `out`, or ERROR_INVALID_PARAMETER
// with the reason in `why` (if given); `out` is untouched on failure.
DWORD TryFormat(std::wstring_view format, std::span<const FormatArg> args, std::wstring& out,
                std::wstring* why = nullptr);
// The same appending to `out`, for a caller that formats again and again into one buffer: the
// text added at its end, or on failure `out` as it was.
DWORD TryFormatAppend(std::wstring_view format, std::span<const FormatArg> args, std::wstring& out,
                      std::wstring* why = nullptr);

// Checks a format that comes from data (a script, a language file) against the kinds of the
// arguments it will be given: true when every conversion is well formed and takes an argument
// of a fitting kind; otherwise false with the reason in `why`.
bool CheckFormat(std::wstring_view format, std::span<const ArgKind> kinds,
                 std::wstring* why = nullptr);
bool CheckFormat(std::wstring_view format, std::initializer_list<ArgKind> kinds,
                 std::wstring* why = nullptr);

// The number of arguments the format consumes ("*" widths included), or -1 when malformed.
int CountFormatArguments(std::wstring_view format);

}  // namespace platform
