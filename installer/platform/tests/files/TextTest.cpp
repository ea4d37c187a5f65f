#include "platform/Text.h"

#include "testing/MachineFixture.h"
#include "platform/Environment.h"
#include "platform/HostIo.h"
#include "platform/Paths.h"
#include <fstream>
#include <set>

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(Text, Cp1252BestFitAndDefaultCharacter) {
  bool usedDefault = true;
  // Letters 1252 has are exact; accented letters it lacks fall back to their base letter.
  EXPECT_EQ(WideToAnsi(L"Gr\u00FC\u00DFe \u20AC", 1252, &usedDefault),
            "Gr\xFC\xDF"
            "e \x80");
  EXPECT_FALSE(usedDefault);
  EXPECT_EQ(WideToAnsi(L"\u0100\u0107\u0141\u0142\u0159\u017B", 1252, &usedDefault), "AcLlrZ");
  EXPECT_FALSE(usedDefault);
  // Characters with a 1252 byte of their own keep it (no best fit for them).
  EXPECT_EQ(WideToAnsi(L"\u0160\u0152\u017E\u0178", 1252), "\x8A\x8C\x9E\x9F");
  // Full-width forms and typographic spaces.
  EXPECT_EQ(WideToAnsi(L"\uFF21\uFF42\u2003x", 1252), "Ab x");
  // Nothing fits: "?" and the flag.
  EXPECT_EQ(WideToAnsi(L"a\u4E2D\u0416b", 1252, &usedDefault), "a??b");
  EXPECT_TRUE(usedDefault);
  // Lone surrogates and values beyond Unicode never fail either.
  EXPECT_EQ(WideToAnsi(std::wstring(1, static_cast<wchar_t>(0xD800)) + L"z", 1252), "?z");
}

TEST(Text, Cp1252UndefinedBytesMapToControls) {
  EXPECT_EQ(AnsiToWide("\x81\x8D\x8F\x90\x9D", 1252), L"\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(WideToAnsi(L"\u0081\u009D", 1252), "\x81\x9D");
  EXPECT_EQ(AnsiToWide("\x80\x85\x99", 1252), L"\u20AC\u2026\u2122");
}

TEST(Text, Cp1251RoundTripAndBestFit) {
  const std::wstring russian = L"\u041F\u0440\u0438\u0432\u0435\u0442, \u0451\u0401 \u2116";
  std::string bytes = WideToAnsi(russian, 1251);
  EXPECT_EQ(bytes, "\xCF\xF0\xE8\xE2\xE5\xF2, \xB8\xA8 \xB9");
  EXPECT_EQ(AnsiToWide(bytes, 1251), russian);
  // Latin accents are not in 1251: best fit to the base letter.
  EXPECT_EQ(WideToAnsi(L"\u00E9\u00C4", 1251), "eA");
  EXPECT_EQ(WideToAnsi(L"\u00DF", 1251), "?");
}

TEST(Text, Cp1250Letters) {
  EXPECT_EQ(WideToAnsi(L"\u0141\u00F3d\u017A", 1250),
            "\xA3\xF3"
            "d\x9F");
  EXPECT_EQ(AnsiToWide("\x8A\xE8", 1250), L"\u0160\u010D");
}

TEST(Text, Utf8BothWaysAndInvalidBytes) {
  const std::wstring text = L"a\u00E9\u4E2D\U0001F600";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(WideToAnsi(text, CP_UTF8), ToUtf8(text));
  // Invalid sequences become U+FFFD and never swallow the following character.
  EXPECT_EQ(FromUtf8("a\xFF"
                     "b"),
            L"a\uFFFD"
            L"b");
  EXPECT_EQ(FromUtf8("\xC3"), L"\uFFFD");
  EXPECT_EQ(FromUtf8("\xE4\xB8x"), L"\uFFFDx");
  EXPECT_EQ(FromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");    // overlong '/'
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), L"\uFFFD");      // encoded surrogate
  EXPECT_EQ(FromUtf8("\xF4\x90\x80\x80"), L"\uFFFD");  // beyond U+10FFFF
}

TEST(Text, Utf8KeepsLoneSurrogatesWhenAskedAndFindsTheFirstBadByte) {
  // The registry's files keep any sequence of UTF-16 units: a lone surrogate survives the trip.
  const std::wstring lone = std::wstring(L"a") + static_cast<wchar_t>(0xD800) + L"b";
  EXPECT_EQ(ToUtf8(lone, Surrogates::Keep),
            "a\xED\xA0\x80"
            "b");
  EXPECT_EQ(FromUtf8(ToUtf8(lone, Surrogates::Keep), Surrogates::Keep), lone);
  EXPECT_EQ(ToUtf8(lone),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), L"\uFFFD");
  // Keeping surrogates lets nothing else through.
  EXPECT_EQ(FromUtf8("\xC0\xAF", Surrogates::Keep), L"\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("\xF4\x90\x80\x80", Surrogates::Keep), L"\uFFFD");
  EXPECT_EQ(ToUtf8(std::wstring(1, static_cast<wchar_t>(0x110000)), Surrogates::Keep),
            "\xEF\xBF\xBD");

  EXPECT_EQ(InvalidUtf8At("plain \xC3\xA9t\xC3\xA9"), std::string_view::npos);
  EXPECT_EQ(InvalidUtf8At(""), std::string_view::npos);
  EXPECT_EQ(InvalidUtf8At("ab\xFFz"), 2u);
  EXPECT_EQ(InvalidUtf8At("ab\xC3"), 2u);                    // cut short at the end
  EXPECT_EQ(InvalidUtf8At("a\xE4\xB8x"), 1u);                // a lead without its last byte
  EXPECT_EQ(InvalidUtf8At("ok\xC0\xAF"), 2u);                // overlong '/'
  EXPECT_EQ(InvalidUtf8At("\xE2\x82\xAC\xED\xA0\x80"), 3u);  // an encoded surrogate
  EXPECT_EQ(InvalidUtf8At("\xF4\x90\x80\x80"), 0u);          // beyond U+10FFFF
}

TEST(Text, Utf16Surrogates) {
  const std::wstring text = L"x\U0001F600y";
  std::u16string u = ToUtf16(text);
  ASSERT_EQ(u.size(), 4u);
  EXPECT_EQ(u[1], 0xD83D);
  EXPECT_EQ(u[2], 0xDE00);
  EXPECT_EQ(FromUtf16(u), text);
  EXPECT_EQ(FromUtf16LEBytes(ToUtf16LEBytes(text)), text);
  EXPECT_EQ(FromUtf16(std::u16string(1, static_cast<char16_t>(0xDC00))), L"\uFFFD");
  EXPECT_EQ(FromUtf16LEBytes(std::string("A\0B", 3)), L"A");  // odd final byte dropped
}

TEST(Text, CaseInsensitiveCompareUsesFixedTable) {
  EXPECT_TRUE(EqualsNoCase(L"Program Files", L"PROGRAM FILES"));
  EXPECT_TRUE(EqualsNoCase(L"\u00E4\u00F6\u00FC\u00FF", L"\u00C4\u00D6\u00DC\u0178"));
  EXPECT_TRUE(EqualsNoCase(L"\u043F\u0440\u0438\u0432\u0435\u0442\u0451",
                           L"\u041F\u0420\u0418\u0412\u0415\u0422\u0401"));
  EXPECT_TRUE(EqualsNoCase(L"\u03B1\u03C2", L"\u0391\u03A3"));
  EXPECT_TRUE(EqualsNoCase(L"\u0142\u017C", L"\u0141\u017B"));
  // No Turkish or German special rules: the dotless i and sharp s keep their identity.
  EXPECT_FALSE(EqualsNoCase(L"\u0131", L"I"));
  EXPECT_FALSE(EqualsNoCase(L"stra\u00DFe", L"STRASSE"));
  // Ordinal order of the upper-cased texts: '_' (0x5F) sorts after letters upper-cased.
  EXPECT_LT(CompareNoCase(L"abc", L"ABD"), 0);
  EXPECT_LT(CompareNoCase(L"Z", L"_"), 0);
  EXPECT_LT(CompareNoCase(L"ab", L"abc"), 0);
  EXPECT_EQ(CompareNoCase(L"", L""), 0);
  EXPECT_EQ(ToUpper(L"stra\u00DFe \u00E9"), L"STRA\u00DFE \u00C9");
  EXPECT_EQ(ToLower(L"\u0401\u0178ABC"),
            L"\u0451\u00FF"
            L"abc");
  EXPECT_EQ(FindNoCase(L"C:\\Program Files\\TOLMERA", L"files\\tol"), 11u);
  EXPECT_TRUE(StartsWithNoCase(L"HKEY_LOCAL_MACHINE\\x", L"hkey_local_machine"));
  EXPECT_TRUE(EndsWithNoCase(L"setup.EXE", L".exe"));
  EXPECT_EQ(NoCaseHash{}(L"Windows"), NoCaseHash{}(L"WINDOWS"));
}

TEST(Text, WtolReadsLikeTheRuntime) {
  EXPECT_EQ(wtol(L"  42abc"), 42);
  EXPECT_EQ(wtol(L"-17"), -17);
  EXPECT_EQ(wtol(L"+5"), 5);
  EXPECT_EQ(wtol(L"abc"), 0);
  EXPECT_EQ(wtol(L""), 0);
  EXPECT_EQ(wtol(L"- 5"), 0);
  EXPECT_EQ(wtol(L"99999999999"), INT32_MAX);
  EXPECT_EQ(wtol(L"-99999999999"), INT32_MIN);
  EXPECT_EQ(wtoi64(L"-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(wtoi64(L"99999999999999999999"), INT64_MAX);
  EXPECT_DOUBLE_EQ(wtof(L" 2.5e2x"), 250.0);
  EXPECT_DOUBLE_EQ(wtof(L"-.5"), -0.5);
  EXPECT_DOUBLE_EQ(wtof(L"x"), 0.0);
}

TEST(Text, VariantConversionToIntegerAndItsFailures) {
  std::int32_t v = 7;
  EXPECT_EQ(VariantToInt32(L" 123 ", v), S_OK);
  EXPECT_EQ(v, 123);
  EXPECT_EQ(VariantToInt32(L"-1,234", v), S_OK);
  EXPECT_EQ(v, -1234);
  EXPECT_EQ(VariantToInt32(L"2.5", v), S_OK);  // banker's rounding
  EXPECT_EQ(v, 2);
  EXPECT_EQ(VariantToInt32(L"3.5", v), S_OK);
  EXPECT_EQ(v, 4);
  EXPECT_EQ(VariantToInt32(L"&HFF", v), S_OK);
  EXPECT_EQ(v, 255);
  EXPECT_EQ(VariantToInt32(L"&HFFFFFFFF", v), S_OK);
  EXPECT_EQ(v, -1);
  EXPECT_EQ(VariantToInt32(L"1e3", v), S_OK);
  EXPECT_EQ(v, 1000);
  v = 99;
  EXPECT_EQ(VariantToInt32(L"", v), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantToInt32(L"12abc", v), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantToInt32(L"abc", v), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantToInt32(L"1,23", v), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantToInt32(L"2147483648", v), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantToInt32(L"-2147483649", v), DISP_E_OVERFLOW);
  EXPECT_EQ(v, 99);  // untouched on failure
  EXPECT_EQ(VariantToInt32(L"-2147483648", v), S_OK);
  EXPECT_EQ(v, INT32_MIN);
  std::uint32_t u = 0;
  EXPECT_EQ(VariantToUInt32(L"4294967295", u), S_OK);
  EXPECT_EQ(u, 4294967295u);
  EXPECT_EQ(VariantToUInt32(L"-1", u), DISP_E_OVERFLOW);
  double d = 0;
  EXPECT_EQ(VariantToDouble(L"1,000.25", d), S_OK);
  EXPECT_DOUBLE_EQ(d, 1000.25);
}

TEST(Text, IntegerToText) {
  EXPECT_EQ(IntToWide(-255), L"-255");
  EXPECT_EQ(IntToWide(255, 16), L"ff");
  EXPECT_EQ(UIntToWide(0), L"0");
  EXPECT_EQ(UIntToWide(5, 2), L"101");
  EXPECT_EQ(IntToWide(INT64_MIN), L"-9223372036854775808");
}

class TextOnMachine : public tltest::MachineTest {};

TEST_F(TextOnMachine, AnsiCodePageComesFromTheMachine) {
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(WideToAnsi(L"\u00E9"), "\xE9");
  // A machine with code page 1251 converts the same text differently.
  std::string other = temp_ + "/ru";
  MachineConfig c = MachineConfig::Defaults();
  c.ansiCodePage = 1251;
  Machine::Init(other, c);
  Machine::SetCurrentForProcess(other);
  EXPECT_EQ(GetACP(), 1251u);
  EXPECT_EQ(WideToAnsi(L"\u0416\u00E9"),
            "\xC6"
            "e");
  EXPECT_EQ(AnsiToWide("\xC6", CP_THREAD_ACP), L"\u0416");
}

}  // namespace

TEST(Text, Cp866TheOemCodePageOfCyrillicMachines) {
  const std::wstring russian = L"\u041F\u0440\u0438\u0432\u0435\u0442, \u0451\u0401 \u2116";
  std::string bytes = WideToAnsi(russian, 866);
  EXPECT_EQ(bytes, "\x8F\xE0\xA8\xA2\xA5\xE2, \xF1\xF0 \xFC");
  EXPECT_EQ(AnsiToWide(bytes, 866), russian);
  // The frame characters sit where 437 has them; the Ukrainian letters at the end.
  EXPECT_EQ(AnsiToWide("\xC4\xB3\xDA\xD9", 866), L"\u2500\u2502\u250C\u2518");
  EXPECT_EQ(WideToAnsi(L"\u0404\u0457\u040E", 866), "\xF2\xF5\xF6");
  // Every byte is one character of its own and comes back as that byte.
  std::string all;
  for (int b = 0x80; b < 0x100; ++b) all.push_back(static_cast<char>(b));
  const std::wstring decoded = AnsiToWide(all, 866);
  ASSERT_EQ(decoded.size(), 128u);
  EXPECT_EQ(std::set<wchar_t>(decoded.begin(), decoded.end()).size(), 128u);
  EXPECT_EQ(WideToAnsi(decoded, 866), all);
  EXPECT_TRUE(IsValidCodePage(866));

  // A machine may say so; as its ANSI code page 866 is refused like 437.
  platform::MachineConfig c = platform::MachineConfig::Defaults();
  c.oemCodePage = 866;
  EXPECT_EQ(platform::MachineConfig::Parse(c.ToIni()).oemCodePage, 866u);
  std::string ini = c.ToIni();
  ini.replace(ini.find("ansi_code_page = 1252"), 21, "ansi_code_page = 866");
  EXPECT_THROW(platform::MachineConfig::Parse(ini), platform::MachineError);
}
