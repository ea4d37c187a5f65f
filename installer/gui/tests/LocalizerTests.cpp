#include "gui/tests/ScriptData.h"

using namespace scriptdata;

TEST(Localizer, SectionTextsTitleAndMissingKeys) {
  tltest::ScopedMachine machine;
  LogCapture log;
  Script script(
      "<?xml version=\"1.0\"?><S><Localization><EN ID=\"1033\" Title=\"English\" "
      "SystemName=\"English\">"
      "<dlg_license Caption=\"Licence of build %d\">"
      "<TEXT Caption=\"First\\nSecond\\tthird\"/><BUTTON_ACCEPT Caption=\"\"/><Hidden "
      "Caption=\"h\"/>"
      "<TEXT Caption=\"second TEXT\"/></dlg_license>"
      "<DLG_EMPTY Caption=\"\"><KEY Caption=\"k\"/></DLG_EMPTY>"
      "</EN></Localization></S>");
  CLanguages languages(script.Provider());
  ASSERT_TRUE(languages.Load());

  InstallGui::CLocalizer missing(languages);
  EXPECT_FALSE(missing.SelectSection(L"DLG_NOWHERE"));
  FakeWindow untouched;
  EXPECT_FALSE(missing.Apply(&untouched));
  EXPECT_EQ(untouched.title, L"template title");

  InstallGui::CLocalizer localizer(languages);
  ASSERT_TRUE(localizer.SelectSection(L"DLG_LICENSE"));
  std::wstring into;
  localizer.AddControl(L"text", 10);
  localizer.AddControl(L"BUTTON_ACCEPT", 11);
  localizer.AddControl(L"NO_SUCH_KEY", 12);
  localizer.AddString(L"Hidden", &into);
  localizer.AddControl(L"Hidden", 99);  // the window has no control 99
  localizer.AddControl(L"TEXT", 13);
  localizer.ReplaceControl(L"Hidden", 13);
  FakeWindow window;
  ASSERT_TRUE(localizer.Apply(&window));
  EXPECT_EQ(window.title, L"Licence of build %d");
  EXPECT_EQ(window.controls[10], L"First\nSecond\\tthird");  // only \n is an escape
  EXPECT_TRUE(window.controls.count(11));
  EXPECT_EQ(window.controls[11], L"");  // set even when empty
  EXPECT_FALSE(window.controls.count(12));
  EXPECT_FALSE(window.controls.count(99));
  EXPECT_EQ(window.controls[13], L"h");
  EXPECT_EQ(into, L"h");
  EXPECT_EQ(log.Count("1 Node DLG_LICENSE/NO_SUCH_KEY not found!"), 1);

  // An empty section caption keeps the window's own title.
  InstallGui::CLocalizer empty(languages);
  ASSERT_TRUE(empty.SelectSection(L"DLG_EMPTY"));
  FakeWindow keeps;
  ASSERT_TRUE(empty.Apply(&keeps));
  EXPECT_EQ(keeps.title, L"template title");
  std::wstring text;
  EXPECT_TRUE(empty.GetText(L"key", text));
  EXPECT_EQ(text, L"k");
}

TEST(Localizer, DialogAndControlSwitches) {
  Script script(
      "<?xml version=\"1.0\"?><S><dialogs>"
      "<DLG_LICENSE Show=\"N\"/><DLG_SUMMARY Show=\"no\"/><DLG_FINISH Show=\"\"/><DLG_UPDATE "
      "Show=\"y\"/>"
      "<DLG_DESTINATION><BUTTON_BROWSE Show=\"n\"/><SPACE_REQUIRED Show=\"Y\"/></DLG_DESTINATION>"
      "</dialogs></S>");
  auto root = script.Root();
  EXPECT_FALSE(InstallGui::IsDialogShown(root, L"DLG_LICENSE"));
  EXPECT_TRUE(InstallGui::IsDialogShown(root, L"DLG_SUMMARY"));
  EXPECT_TRUE(InstallGui::IsDialogShown(root, L"DLG_FINISH"));
  EXPECT_TRUE(InstallGui::IsDialogShown(root, L"DLG_UPDATE"));
  EXPECT_TRUE(InstallGui::IsDialogShown(root, L"DLG_GREETING"));
  EXPECT_TRUE(InstallGui::IsDialogShown(root, L"DLG_DESTINATION"));
  EXPECT_FALSE(InstallGui::IsControlShown(root, L"dlg_destination", L"button_browse"));
  EXPECT_TRUE(InstallGui::IsControlShown(root, L"DLG_DESTINATION", L"SPACE_REQUIRED"));
  EXPECT_TRUE(InstallGui::IsControlShown(root, L"DLG_DESTINATION", L"SPACE_AVAILABLE"));
  EXPECT_TRUE(InstallGui::IsDialogShown(nullptr, L"DLG_LICENSE"));
  Script none("<?xml version=\"1.0\"?><S/>");
  EXPECT_TRUE(InstallGui::IsDialogShown(none.Root(), L"DLG_LICENSE"));
}
