// The page base as the back-ends see it: the buttons' protocol, the common texts and the title,
// and the banners a section gives.
#include "gui/Languages.h"
#include "gui/pages/BannerModel.h"
#include "gui/pages/BasePage.h"
#include "package/XmlSettings.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

using namespace InstallGui;
using CommonTools::SettingsNodePtr;

namespace {

// A page that counts what the base asks of it.
class CountingPage : public CBasePage {
 public:
  using CBasePage::CBasePage;
  bool SetField(const std::wstring&, const std::wstring&) override { return false; }
  std::wstring GetField(const std::wstring&) const override { return L""; }
  std::vector<std::wstring> FieldNames() const override { return {}; }
  bool CanLeaveWithNext() override { return nextAllowed; }
  void SaveSettings() override { ++saved; }
  int saved = 0;
  bool nextAllowed = true;
};

class FakeWindow : public ILocalizedWindow {
 public:
  void SetTitle(const std::wstring& text) override { title = text; }
  bool HasControl(int id) override { return id != 99; }
  void SetControlText(int id, const std::wstring& text) override { controls[id] = text; }
  std::wstring title = L"template title";
  std::map<int, std::wstring> controls;
};

struct Languages {
  explicit Languages(const std::string& sections)
      : languages([this](SettingsNodePtr& root) { return settings.GetRoot(root); }) {
    EXPECT_TRUE(settings.LoadFromBytes(
        "<?xml version=\"1.0\"?><S><Localization><EN ID=\"1033\" Title=\"English\" "
        "SystemName=\"English\">" +
        sections + "</EN></Localization></S>"));
    EXPECT_TRUE(languages.Load());
  }
  CommonTools::CXmlSettings settings;
  GuiSettings::CLanguages languages;
};

const char* kCommon =
    "<Common><BUTTON_NEXT Caption=\"&amp;Next &gt;\"/><BUTTON_BACK Caption=\"&lt; "
    "&amp;Back\"/><BUTTON_CANCEL Caption=\"Cancel\"/></Common>";

}  // namespace

TEST(PageButtons, BackAndNextKeepTheChoicesCancelNever) {
  CountingPage page(L"DLG_LICENSE", PageKind::License);
  int asked = 0;
  page.SetCancelQuestion([&] {
    ++asked;
    return true;
  });
  EXPECT_TRUE(page.Press(PageButton::Next));
  EXPECT_EQ(page.saved, 1);
  EXPECT_TRUE(page.Press(PageButton::Back));
  EXPECT_EQ(page.saved, 2);
  EXPECT_TRUE(page.Press(PageButton::Cancel));
  EXPECT_EQ(page.saved, 2);
  EXPECT_EQ(asked, 1);
  // A page whose checks refuse Next stays open and keeps nothing.
  page.nextAllowed = false;
  EXPECT_FALSE(page.Press(PageButton::Next));
  EXPECT_EQ(page.saved, 2);
}

TEST(PageButtons, CancelAsksFirstAndNoLeavesThePageOpen) {
  CountingPage page(L"DLG_GREETING", PageKind::Greeting);
  std::vector<bool> answers = {false, true};
  size_t at = 0;
  page.SetCancelQuestion([&] { return answers[at++]; });
  EXPECT_FALSE(page.Press(PageButton::Cancel));
  EXPECT_EQ(at, 1u);
  EXPECT_TRUE(page.Press(PageButton::Cancel));
  EXPECT_EQ(at, 2u);
  EXPECT_EQ(page.saved, 0);
}

TEST(PageButtons, CancelOnTheFinishPageDoesNothing) {
  CountingPage finish(L"DLG_FINISH", PageKind::Finish);
  int asked = 0;
  finish.SetCancelQuestion([&] {
    ++asked;
    return true;
  });
  EXPECT_FALSE(finish.CanCancel());
  EXPECT_FALSE(finish.Press(PageButton::Cancel));
  EXPECT_EQ(asked, 0);  // not even asked
  EXPECT_EQ(finish.saved, 0);
  EXPECT_TRUE(finish.Press(PageButton::Next));
}

TEST(PageTexts, CommonButtonsThenTheSectionWithTheBuildInTheTitle) {
  tltest::ScopedMachine machine;
  Languages l(std::string(kCommon) +
              "<DLG_LICENSE Caption=\"Licence (build %d)\\nsecond line\\tend\"/>"
              "<DLG_PLAIN Caption=\"\"/><DLG_BAD Caption=\"%s of %d\"/>");
  CountingPage page(L"DLG_LICENSE", PageKind::License);
  page.SetBuilds(7000, 7120);
  FakeWindow window;
  ASSERT_TRUE(page.Localize(l.languages, window));
  EXPECT_EQ(window.controls[kControlNext], L"&Next >");
  EXPECT_EQ(window.controls[kControlBack], L"< &Back");
  EXPECT_EQ(window.controls[kControlCancel], L"Cancel");
  // "\n" is a line break; "\t" stays as it is.
  EXPECT_EQ(window.title, L"Licence (build 7120)\nsecond line\\tend");
  EXPECT_EQ(page.GetTitle(), window.title);

  // An empty caption leaves the template's title.
  CountingPage plain(L"DLG_PLAIN", PageKind::Summary);
  FakeWindow keeps;
  ASSERT_TRUE(plain.Localize(l.languages, keeps));
  EXPECT_EQ(keeps.title, L"template title");

  // A caption that does not fit one integer is shown as it stands.
  CountingPage bad(L"DLG_BAD", PageKind::Summary);
  FakeWindow asIs;
  ASSERT_TRUE(bad.Localize(l.languages, asIs));
  EXPECT_EQ(asIs.title, L"%s of %d");

  // No section: the common texts are set all the same, and the page says so.
  CountingPage none(L"DLG_NOWHERE", PageKind::Update);
  FakeWindow w;
  EXPECT_FALSE(none.HasSection(l.languages));
  EXPECT_FALSE(none.Localize(l.languages, w));
  EXPECT_EQ(w.controls[kControlCancel], L"Cancel");
  EXPECT_TRUE(page.HasSection(l.languages));
}

TEST(PageTexts, TitlesOfAnyLengthAreFormattedWhole) {
  tltest::ScopedMachine machine;
  std::string longText(70000, 'w');
  Languages l("<DLG_LONG Caption=\"" + longText + " %d\"/>");
  CountingPage page(L"DLG_LONG", PageKind::Greeting);
  page.SetBuilds(0, 42);
  FakeWindow window;
  ASSERT_TRUE(page.Localize(l.languages, window));
  EXPECT_EQ(window.title, std::wstring(70000, L'w') + L" 42");
}

TEST(Banners, FirstBannerOfThePositionWithoutCase) {
  tltest::ScopedMachine machine;
  Languages l(
      "<DLG_GREETING><TEXT Caption=\"t\"/><Banner Pos=\"Left\" ImageID=\"2\"/>"
      "<Banner Pos=\"Top\" ImageID=\"1\" URL=\"https://tolmera.example\"/>"
      "<Banner Pos=\"top\" ImageID=\"5\" URL=\"second\"/></DLG_GREETING>"
      "<DLG_LICENSE><Banner Pos=\"bottom\" ImageID=\"1\"/></DLG_LICENSE>");
  BannerConfig top, left, none;
  ASSERT_TRUE(FindBanner(l.languages, L"DLG_GREETING", BannerPosition::Top, top));
  EXPECT_EQ(top.imageId, 1);
  EXPECT_EQ(top.url, L"https://tolmera.example");
  ASSERT_TRUE(FindBanner(l.languages, L"dlg_greeting", BannerPosition::Left, left));
  EXPECT_EQ(left.imageId, 2);
  EXPECT_EQ(left.url, L"");
  EXPECT_FALSE(FindBanner(l.languages, L"DLG_LICENSE", BannerPosition::Top, none));
  EXPECT_FALSE(FindBanner(l.languages, L"DLG_MISSING", BannerPosition::Top, none));
}

TEST(Banners, ThePictureCoversTheStripAnchoredTopLeft) {
  // A 500x75 picture in a 668x105 strip: scaled by 105/75 (the smaller ratio), cut on the right.
  DrawSize s = BannerDrawSize(668, 105, 500, 75);
  EXPECT_EQ(s.height, 105);
  EXPECT_EQ(s.width, 700);
  // A tall strip: the width decides.
  DrawSize tall = BannerDrawSize(200, 400, 150, 310);
  EXPECT_EQ(tall.width, 200);
  EXPECT_EQ(tall.height, 414);  // ceil(310 * 200 / 150)
  EXPECT_EQ(BannerDrawSize(0, 10, 5, 5).width, 0);
  EXPECT_EQ(BannerDrawSize(10, 10, 0, 5).height, 0);
}
