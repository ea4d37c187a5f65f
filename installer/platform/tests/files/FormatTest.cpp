#include "platform/Format.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace platform;

namespace {

TEST(Format, WindowsMeaningOfConversions) {
  EXPECT_EQ(Format(L"%d.%02d.%02d - %02d:%02d:%02d  ", 2026, 3, 7, 9, 5, 0),
            L"2026.03.07 - 09:05:00  ");
  EXPECT_EQ(Format(L"[%s] [%S]", L"wide", std::string("narrow")), L"[wide] [narrow]");
  EXPECT_EQ(Format(L"%ls|%hs|%ws", L"a", "b", L"c"), L"a|b|c");
  EXPECT_EQ(Format(L"%i %u %X %x %o", -5, 4000000000u, 255u, 255, 8), L"-5 4000000000 FF ff 10");
  EXPECT_EQ(Format(L"%c%C%c", L'\u00E9', 'x', 65), L"\u00E9xA");
  EXPECT_EQ(Format(L"%I64d %I64u %lld", INT64_MIN, UINT64_MAX, 1LL << 40),
            L"-9223372036854775808 18446744073709551615 1099511627776");
  EXPECT_EQ(Format(L"<%-10s><%10s><%.2s>", L"left", L"right", L"cut"),
            L"<left      ><     right><cu>");
  EXPECT_EQ(Format(L"%-40s|", L"Name"), L"Name" + std::wstring(36, L' ') + L"|");
  EXPECT_EQ(Format(L"100%% %d%%", 5), L"100% 5%");
  EXPECT_EQ(Format(L"%*d|%-*d|", 4, 7, 3, 1), L"   7|1  |");
  EXPECT_EQ(Format(L"%.3f %e", 3.14159, 1234.5), L"3.142 1.234500e+03");
  EXPECT_EQ(Format(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
  EXPECT_EQ(Format(L"no conversions"), L"no conversions");
  EXPECT_EQ(Format(L"%hd %hu", 70000, 70000), L"4464 4464");
}

TEST(Format, ThirtyTwoBitConversionsReinterpretLikeC) {
  EXPECT_EQ(Format(L"%d", 0xFFFFFFFFu), L"-1");
  EXPECT_EQ(Format(L"%u", -1), L"4294967295");
  EXPECT_EQ(Format(L"%X", -1), L"FFFFFFFF");
  // A 64-bit value that fits 32 bits is fine; one that does not is refused, not truncated.
  EXPECT_EQ(Format(L"%u", static_cast<std::size_t>(12)), L"12");
  EXPECT_THROW(Format(L"%d", static_cast<std::int64_t>(1) << 33), FormatError);
  EXPECT_THROW(Format(L"%u", static_cast<std::uint64_t>(1) << 32), FormatError);
}

TEST(Format, DecimalsAreWrittenAsTheCLibraryWritesThem) {
  // Every width, flag and size of a plain decimal against the C library's own text.
  const long long values[] = {0,       1,         -1,        7,         -7,  42,  -42, 99999,
                              -100000, INT32_MAX, INT32_MIN, INT16_MIN, 255, 256, -129};
  const char* flags[] = {"", "0", "-", "-0", "00"};
  for (long long v : values) {
    for (const char* f : flags) {
      for (int width : {-1, 0, 1, 2, 5, 12}) {
        std::string w = width < 0 ? "" : std::to_string(width);
        char expected[64];
        std::snprintf(expected, sizeof expected, ("%" + std::string(f) + w + "lld").c_str(), v);
        std::wstring format =
            L"%" + std::wstring(f, f + std::strlen(f)) + std::wstring(w.begin(), w.end());
        const std::string what = std::string(f) + w + " " + std::to_string(v);
        EXPECT_EQ(Format(format + L"d", static_cast<int>(v)),
                  std::wstring(expected, expected + std::strlen(expected)))
            << what;
        std::snprintf(expected, sizeof expected, ("%" + std::string(f) + w + "llu").c_str(),
                      static_cast<unsigned long long>(static_cast<std::uint32_t>(v)));
        EXPECT_EQ(Format(format + L"u", static_cast<int>(v)),
                  std::wstring(expected, expected + std::strlen(expected)))
            << what;
        std::snprintf(expected, sizeof expected, ("%" + std::string(f) + w + "lld").c_str(),
                      static_cast<long long>(static_cast<std::int16_t>(v)));
        EXPECT_EQ(Format(format + L"hd", static_cast<int>(v)),
                  std::wstring(expected, expected + std::strlen(expected)))
            << what;
      }
    }
  }
  EXPECT_EQ(Format(L"%I64d|%I64u|%hhd|%hhu", INT64_MIN, UINT64_MAX, 300, 300),
            L"-9223372036854775808|18446744073709551615|44|44");
  EXPECT_EQ(Format(L"%5i|%-5i|%05i", -3, -3, -3), L"   -3|-3   |-0003");
  // Other flags and precisions keep the C library's forms.
  EXPECT_EQ(Format(L"%+d|% d|%.3d|%+05d", 5, 5, 5, 5), L"+5| 5|005|+0005");
}

TEST(Format, TextsAsTheyStandCutAndPadded) {
  // A wide text goes in as it stands unless a precision cuts it or a width pads it; a narrow
  // one always takes the general way. Both against the text made by hand.
  const std::wstring texts[] = {L"", L"a", L"abc", L"abcdef", L"C:\\Program Files\\x"};
  for (const std::wstring& t : texts) {
    const std::string narrow(t.begin(), t.end());
    for (const wchar_t* flag : {L"", L"-"}) {
      for (int width : {-1, 0, 1, 3, 6, 30}) {
        for (int precision : {-1, 0, 2, 3, 6, 40}) {
          std::wstring conversion = L"%" + std::wstring(flag);
          if (width >= 0) conversion += std::to_wstring(width);
          if (precision >= 0) conversion += L"." + std::to_wstring(precision);
          std::wstring body = precision >= 0 ? t.substr(0, precision) : t;
          if (width > static_cast<int>(body.size())) {
            const std::wstring pad(width - body.size(), L' ');
            body = *flag ? body + pad : pad + body;
          }
          const std::wstring expected = L"<" + body + L">";
          const std::string what = platform::ToUtf8(conversion) + " " + narrow;
          EXPECT_EQ(Format(L"<" + conversion + L"s>", t), expected) << what;
          EXPECT_EQ(Format(L"<" + conversion + L"s>", t.c_str()), expected) << what;
          EXPECT_EQ(Format(L"<" + conversion + L"S>", narrow), expected) << what;
        }
      }
    }
  }
  EXPECT_EQ(Format(L"%5s|%-5s|%.1s", static_cast<const wchar_t*>(nullptr),
                   static_cast<const wchar_t*>(nullptr), static_cast<const wchar_t*>(nullptr)),
            L"(null)|(null)|(");
}

TEST(Format, PercentSignsAroundConversions) {
  EXPECT_EQ(Format(L"%%"), L"%");
  EXPECT_EQ(Format(L"%%%%"), L"%%");
  EXPECT_EQ(Format(L"%%%d%%", 5), L"%5%");
  EXPECT_EQ(Format(L"a%%b%%%%c%sd%%%%%%", L"X"), L"a%b%%cXd%%%");
  EXPECT_EQ(Format(L"%s%s%%%s", L"1", L"2", L"3"), L"12%3");
  EXPECT_EQ(Format(L"100%% of %d%% is %s%%", 40, L"40"), L"100% of 40% is 40%");
  EXPECT_EQ(Format(L"\u00E9%%\u20AC%c", L'\u0416'), L"\u00E9%\u20AC\u0416");
}

TEST(Format, AppendingKeepsTheBufferAndAFailureLeavesItAsItWas) {
  std::wstring out = L"head:";
  ASSERT_EQ(TryFormatAppend(L"%s=%d;", std::vector<FormatArg>{L"a", 1}, out), ERROR_SUCCESS);
  ASSERT_EQ(TryFormatAppend(L"%s=%d;", std::vector<FormatArg>{L"b", 2}, out), ERROR_SUCCESS);
  EXPECT_EQ(out, L"head:a=1;b=2;");
  // A misfit found before anything is written, and one found halfway (a "*" out of range after
  // a text is written, a 64-bit value after a number): the buffer is as it was, and the reason
  // is the one TryFormat gives.
  const std::pair<std::wstring, std::vector<FormatArg>> bad[] = {
      {L"%d %s", {L"text", L"x"}},
      {L"x%s%*d", {L"written", 200000, 1}},
      {L"%d:%d", {1, static_cast<std::int64_t>(1) << 40}},
      {L"%s %q", {L"x"}},
  };
  for (const auto& [format, args] : bad) {
    std::wstring why, whyAlone, alone = L"untouched";
    EXPECT_EQ(TryFormatAppend(format, args, out, &why), ERROR_INVALID_PARAMETER)
        << platform::ToUtf8(format);
    EXPECT_EQ(out, L"head:a=1;b=2;") << platform::ToUtf8(format);
    EXPECT_EQ(TryFormat(format, args, alone, &whyAlone), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(alone, L"untouched");
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(why, whyAlone);
  }
}

TEST(Format, AFormatChangedInPlaceIsReadAnew) {
  // Parsed formats are found again by where their text lies; a buffer that holds another format
  // at the same place must not be taken for the one before.
  std::wstring buffer;
  buffer.reserve(64);
  const wchar_t* at = buffer.data();
  buffer = L"%d";
  EXPECT_EQ(Format(std::wstring_view(buffer), 7), L"7");
  buffer[1] = L's';
  EXPECT_EQ(Format(std::wstring_view(buffer), L"text"), L"text");
  EXPECT_THROW(Format(std::wstring_view(buffer), 7), FormatError);
  buffer = L"%s|%s";
  EXPECT_EQ(Format(std::wstring_view(buffer), L"a", L"b"), L"a|b");
  buffer.resize(2);
  EXPECT_EQ(Format(std::wstring_view(buffer), L"a"), L"a");
  ASSERT_EQ(buffer.data(), at) << "the test needs the text at one place";
  // Many formats at many places, each right, twice over (the second time found again).
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 100; ++i) {
      const std::wstring format = std::to_wstring(i) + (i % 2 ? L":%d" : L":%s");
      EXPECT_EQ(i % 2 ? Format(format, i) : Format(format, L"t"),
                std::to_wstring(i) + L":" + (i % 2 ? std::to_wstring(i) : L"t"));
    }
  }
  // The same from other threads at once.
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &wrong] {
      std::wstring own;
      own.reserve(16);
      for (int i = 0; i < 2000; ++i) {
        own = (i + t) % 2 ? L"%d" : L"<%s>";
        const std::wstring got =
            (i + t) % 2 ? Format(std::wstring_view(own), i) : Format(std::wstring_view(own), L"x");
        if (got != ((i + t) % 2 ? std::to_wstring(i) : L"<x>")) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(Format, WrongArgumentsAreClearFailures) {
  // The classic mistake: a narrow text given to %s of a wide format.
  try {
    Format(L"File %s", std::string("x"));
    FAIL() << "no error";
  } catch (const FormatError& e) {
    EXPECT_NE(std::string(e.what()).find("use %S"), std::string::npos) << e.what();
  }
  EXPECT_THROW(Format(L"%s", 5), FormatError);
  EXPECT_THROW(Format(L"%d", L"text"), FormatError);
  EXPECT_THROW(Format(L"%d %d", 1), FormatError);
  EXPECT_THROW(Format(L"%f", 1), FormatError);
  EXPECT_THROW(Format(L"%n", 1), FormatError);
  EXPECT_THROW(Format(L"50%"), FormatError);
  EXPECT_THROW(Format(L"%q", 1), FormatError);
  EXPECT_THROW(Format(L"%99999999d", 1), FormatError);
  // Extra arguments are ignored as printf ignores them.
  EXPECT_EQ(Format(L"%d", 1, 2, 3), L"1");
  std::wstring out = L"keep", why;
  const FormatArg args[] = {FormatArg(1)};
  EXPECT_EQ(TryFormat(L"%s", args, out, &why), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(out, L"keep");
  EXPECT_FALSE(why.empty());
}

TEST(Format, CheckingFormatsFromData) {
  std::wstring why;
  EXPECT_TRUE(
      CheckFormat(L"CommonStepFolders: Folder = %s is not deleted", {ArgKind::WideText}, &why))
      << why;
  EXPECT_FALSE(CheckFormat(L"Folder = %s, code %d", {ArgKind::WideText}, &why));
  EXPECT_NE(why.find(L"takes 2 arguments"), std::wstring::npos) << why;
  EXPECT_FALSE(CheckFormat(L"%d", {ArgKind::WideText}, &why));
  EXPECT_FALSE(CheckFormat(L"%s%", {ArgKind::WideText}, &why));
  EXPECT_TRUE(CheckFormat(L"%c", {ArgKind::Int}));
  EXPECT_TRUE(CheckFormat(L"%%", {}));
  EXPECT_EQ(CountFormatArguments(L"%*.*f %s %%"), 4);
  EXPECT_EQ(CountFormatArguments(L"%"), -1);
}

}  // namespace
