// Locale information and the machine's languages.
#include "platform/Locale.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

class LocaleOnMachine : public tltest::MachineTest {};

TEST_F(LocaleOnMachine, TableAnswersGetLocaleInfo) {
  std::wstring v;
  EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SENGLANGUAGE, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"German");
  EXPECT_EQ(GetLocaleInfoW(0x0419, LOCALE_IDEFAULTANSICODEPAGE, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"1251");
  EXPECT_EQ(GetLocaleInfoW(0x040C, LOCALE_SMONTHNAME1 + 1, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"f\u00E9vrier");
  EXPECT_EQ(GetLocaleInfoW(0x0415, LOCALE_SNAME, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"pl-PL");
  EXPECT_EQ(GetLocaleInfoW(0x0409, LOCALE_ILANGUAGE, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"0409");
  EXPECT_EQ(GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_SENGLANGUAGE, v), ERROR_SUCCESS);
  EXPECT_EQ(v, L"English");
  EXPECT_EQ(GetLocaleInfoW(0x7777, LOCALE_SENGLANGUAGE, v), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetLocaleInfoW(0x0409, 0x7654, v), ERROR_INVALID_FLAGS);
  EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SENGLANGUAGE, v, 6), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(GetLocaleInfoW(0x0407, LOCALE_SENGLANGUAGE, v, 7), ERROR_SUCCESS);
  ASSERT_NE(FindLocaleByName(L"russian"), nullptr);
  EXPECT_EQ(FindLocaleByName(L"russian")->lcid, 0x0419u);
  EXPECT_EQ(FindLocaleByName(L"DE-at")->lcid, 0x0C07u);
  // Every entry is complete and the table is in LCID order without duplicates.
  LCID last = 0;
  for (const LocaleInfo& l : AllLocales()) {
    EXPECT_GT(l.lcid, last);
    last = l.lcid;
    for (const wchar_t* m : l.months) EXPECT_TRUE(m && *m) << l.name;
    EXPECT_NE(l.ansiCodePage, 0u);
  }
  EXPECT_GE(AllLocales().size(), 25u);
}

TEST_F(LocaleOnMachine, MachineLanguages) {
  MachineConfig c = MachineConfig::Defaults();
  c.systemLcid = 0x0407;
  c.uiLanguage = 0x0419;
  const std::string other = temp_ + "/de";
  Machine::Init(other, c);
  Machine::SetCurrentForProcess(other);
  EXPECT_EQ(GetSystemDefaultLCID(), 0x0407u);
  EXPECT_EQ(GetUserDefaultUILanguage(), 0x0419);
  EXPECT_EQ(PRIMARYLANGID(GetSystemDefaultLangID()), 0x07);
  std::wstring v;
  EXPECT_EQ(GetLocaleInfoW(GetSystemDefaultLCID(), LOCALE_SENGLANGUAGE, v, 259), ERROR_SUCCESS);
  EXPECT_EQ(v, L"German");
}

}  // namespace
