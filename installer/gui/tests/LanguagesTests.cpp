#include "gui/tests/ScriptData.h"

using namespace scriptdata;

TEST(Languages, TheSystemsLanguageIsCurrentByItsEnglishName) {
  {
    tltest::ScopedMachine german(WithLanguage(0x0407));
    Script script(kLanguages);
    CLanguages languages(script.Provider());
    ASSERT_TRUE(languages.Load());
    EXPECT_EQ(languages.GetCount(), 3u);
    EXPECT_EQ(languages.GetCurrent(), 1u);  // the first match, compared without case
    SettingsNodePtr node;
    ASSERT_TRUE(languages.GetCurrentNode(node));
    EXPECT_EQ(CommonTools::GetText(node, L"Title"), L"Deutsch");
    EXPECT_EQ(languages.FindById(1031), 1u);
    EXPECT_EQ(languages.FindById(1049), 0u);
    EXPECT_EQ(languages.GetId(7), -1);
    EXPECT_FALSE(languages.GetTitle(3).has_value());
    EXPECT_EQ(languages.GetSystemName(2).value_or(L""), L"German");
  }
  {
    tltest::ScopedMachine french(WithLanguage(0x040C));
    Script script(kLanguages);
    CLanguages languages(script.Provider());
    ASSERT_TRUE(languages.Load());
    EXPECT_EQ(languages.GetCurrent(), 0u);
    languages.SetCurrent(5);  // ignored
    EXPECT_EQ(languages.GetCurrent(), 0u);
  }
}

TEST(Languages, BadLocalizationFails) {
  tltest::ScopedMachine machine;
  const char* bad[] = {
      "<?xml version=\"1.0\"?><S/>",
      "<?xml version=\"1.0\"?><S><Localization/></S>",
      "<?xml version=\"1.0\"?><S><Localization><A ID=\"1\" Title=\"\" "
      "SystemName=\"English\"/></Localization></S>",
      "<?xml version=\"1.0\"?><S><Localization><A Title=\"E\" "
      "SystemName=\"English\"/></Localization></S>",
      "<?xml version=\"1.0\"?><S><Localization><A ID=\"1\" Title=\"E\" "
      "SystemName=\"English\"/><!-- x --></Localization></S>",
  };
  for (const char* xml : bad) {
    Script script(xml);
    CLanguages languages(script.Provider());
    EXPECT_FALSE(languages.Load()) << xml;
  }
  // A record read before the failure stays.
  Script partial(bad[4]);
  CLanguages languages(partial.Provider());
  EXPECT_FALSE(languages.Load());
  EXPECT_EQ(languages.GetCount(), 1u);
}
