// The main window's decisions without a window: colours and placement from the script, the
// layout over the picture, the shortening of paths, the bar's count and what Escape does.
#include "gui/MainWindowModel.h"
#include "package/LogSink.h"
#include "package/XmlSettings.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace InstallGui;

namespace {

CommonTools::SettingsNodePtr RootOf(CommonTools::CXmlSettings& settings, const std::string& xml) {
  EXPECT_TRUE(settings.LoadFromBytes(xml));
  CommonTools::SettingsNodePtr root;
  EXPECT_TRUE(settings.GetRoot(root));
  return root;
}

// A line where every character is one unit wide and `width` units fit.
std::function<size_t(const std::wstring&)> FixedWidth(size_t width) {
  return [width](const std::wstring& t) { return t.size() < width ? t.size() : width; };
}

}  // namespace

TEST(TextColour, PartsAreReadLikeTheScriptWritesThem) {
  EXPECT_EQ(ParseTextColour(L"255,0"), 255u);
  EXPECT_EQ(ParseTextColour(L"10"), 10u);
  EXPECT_EQ(ParseTextColour(L"300,0,0"), 44u);  // low 8 bits
  EXPECT_EQ(ParseTextColour(L"255,255,255"), 0xFFFFFFu);
  std::uint32_t c = ParseTextColour(L"1,2,3");
  EXPECT_EQ(ColourRed(c), 1);
  EXPECT_EQ(ColourGreen(c), 2);
  EXPECT_EQ(ColourBlue(c), 3);
  EXPECT_EQ(ParseTextColour(L" 12 , 34 , 56 "), 12u + 256u * 34u + 65536u * 56u);
  // What is not a number counts as 0: the colour stays defined.
  EXPECT_EQ(ParseTextColour(L"red,green,blue"), 0u);
  EXPECT_EQ(ParseTextColour(L""), 0u);
  EXPECT_EQ(ParseTextColour(L",,"), 0u);
  EXPECT_EQ(ParseTextColour(L"-1,0,0"), 255u);
  // A run of digits far beyond 32 bits neither overflows nor wraps to a random colour.
  EXPECT_EQ(ColourRed(ParseTextColour(std::wstring(400, L'9') + L",0,0")), 0xFF);
  EXPECT_EQ(ParseTextColour(L"0,0,1,7"), 65536u);  // the third part is read up to its end
}

TEST(ProgressBarSettings, ReadFromTheScriptWithDefaultsForWhatDoesNotParse) {
  CommonTools::CXmlSettings a;
  ProgressBarSettings s;
  ReadProgressBarSettings(
      RootOf(a,
             "<?xml version=\"1.0\"?><S><ProgressBar PosX=\"40\" PosY=\"520\" Width=\"720\" "
             "Height=\"18\" ClrText=\"255,128,0\"/></S>"),
      s);
  EXPECT_EQ(s.rect, (PixelRect{40, 520, 760, 538}));
  EXPECT_EQ(s.colour, 255u + 256u * 128u);

  // Without the element nothing changes.
  CommonTools::CXmlSettings b;
  ReadProgressBarSettings(RootOf(b, "<?xml version=\"1.0\"?><S/>"), s);
  EXPECT_EQ(s.rect, (PixelRect{40, 520, 760, 538}));

  // A position that is not a number reads as 0 and is logged; ClrText absent reads as black.
  std::vector<std::wstring> lines;
  CommonTools::SetLogSink(
      [&](CommonTools::LogLevel, const std::wstring& text) { lines.push_back(text); });
  CommonTools::CXmlSettings c;
  ProgressBarSettings t;
  t.colour = 0x123456;
  ReadProgressBarSettings(
      RootOf(c,
             "<?xml version=\"1.0\"?><S><ProgressBar PosX=\"left\" PosY=\"5\" Width=\"9\" "
             "Height=\"3\"/></S>"),
      t);
  CommonTools::SetLogSink(nullptr);
  EXPECT_EQ(t.rect, (PixelRect{0, 5, 9, 8}));
  EXPECT_EQ(t.colour, 0u);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], L"ProgressBar: \"PosX\" is not a number; 0 is used");
}

TEST(MainWindowLayout, CentredOnTheScreenWithTheScriptsBar) {
  PixelRect bar{40, 520, 760, 538};
  MainWindowLayout l = ArrangeMainWindow(800, 600, 1920, 1080, bar, 20, 16);
  EXPECT_EQ(l.window, (PixelRect{560, 240, 1360, 840}));
  EXPECT_EQ(l.bar, (PixelRect{40, 520, 760, 538}));
  // The item line directly above the bar, the stage line 5 pixels below; both as wide as the
  // window less twice the bar's left edge.
  EXPECT_EQ(l.itemLine, (PixelRect{40, 503, 760, 519}));
  EXPECT_EQ(l.stageLine, (PixelRect{40, 543, 760, 563}));
}

TEST(MainWindowLayout, APictureLargerThanTheScreenTakesTheScreenAndTheDefaultBarCentresOnIt) {
  PixelRect bar;  // no ProgressBar in the script
  MainWindowLayout l = ArrangeMainWindow(2500, 1200, 1920, 1080, bar, 20, 16);
  EXPECT_EQ(l.window, (PixelRect{0, 0, 1920, 1080}));
  // l = int(1920 * 0.8) / 2 = 768; 22 pixels high around the middle.
  EXPECT_EQ(l.bar, (PixelRect{960 - 768, 540 - 11, 960 + 768, 540 + 11}));
  EXPECT_EQ(bar, l.bar);  // kept from now on

  // One dimension only: the other is centred.
  PixelRect bar2;
  MainWindowLayout wide = ArrangeMainWindow(2000, 500, 1920, 1080, bar2, 20, 16);
  EXPECT_EQ(wide.window, (PixelRect{0, 290, 1920, 790}));
  PixelRect bar3;
  MainWindowLayout odd = ArrangeMainWindow(801, 601, 1920, 1080, bar3, 20, 16);
  EXPECT_EQ(odd.window.left, 559);  // halving rounds toward zero
  EXPECT_EQ(odd.window.top, 239);
}

TEST(MainWindowLayout, ABarWithoutSizeOrOutsideThePictureGetsTheDefaultPlacement) {
  const PixelRect kDefault{400 - 320, 300 - 11, 400 + 320, 300 + 11};
  PixelRect zeroWidth{40, 520, 40, 538};  // "Width" 0
  EXPECT_EQ(ArrangeMainWindow(800, 600, 1920, 1080, zeroWidth, 20, 16).bar, kDefault);
  PixelRect negative{100, 100, 50, 120};
  EXPECT_EQ(ArrangeMainWindow(800, 600, 1920, 1080, negative, 20, 16).bar, kDefault);
  PixelRect offPicture{700, 5000, 900, 5020};
  EXPECT_EQ(ArrangeMainWindow(800, 600, 1920, 1080, offPicture, 20, 16).bar, kDefault);
  PixelRect leftOfIt{-10, 10, 100, 20};
  EXPECT_EQ(ArrangeMainWindow(800, 600, 1920, 1080, leftOfIt, 20, 16).bar, kDefault);
}

TEST(ItemLine, APathThatDoesNotFitKeepsItsFirstFolderAndItsShortestFittingTail) {
  const std::wstring path = L"C:\\Program Files\\Folder\\Sub\\file.dat";
  EXPECT_EQ(ShortenItemPath(path, FixedWidth(20)), L"C:\\...\\Sub\\file.dat");
  EXPECT_EQ(ShortenItemPath(path, FixedWidth(25)), L"C:\\...\\Folder\\Sub\\file.dat");
  EXPECT_EQ(ShortenItemPath(path, FixedWidth(100)), path);
  // A last component that is still too long stays whole.
  EXPECT_EQ(ShortenItemPath(path, FixedWidth(5)), L"C:\\...\\file.dat");
  // Without "\" never shortened; a trailing "\" always dropped.
  EXPECT_EQ(ShortenItemPath(L"averyveryverylongname.dat", FixedWidth(4)),
            L"averyveryverylongname.dat");
  EXPECT_EQ(ShortenItemPath(L"C:\\Tolmera\\", FixedWidth(100)), L"C:\\Tolmera");
  EXPECT_EQ(ShortenItemPath(L"\\", FixedWidth(0)), L"");
  EXPECT_EQ(ShortenItemPath(L"", FixedWidth(0)), L"");
  // The fit is asked of the text without its trailing "\".
  std::wstring asked;
  ShortenItemPath(L"C:\\a\\b\\", [&](const std::wstring& t) {
    asked = t;
    return t.size();
  });
  EXPECT_EQ(asked, L"C:\\a\\b");
  // Text of any length: a path of 100,000 characters is shortened, not cut or refused.
  std::wstring longPath = L"D:\\" + std::wstring(100000, L'x') + L"\\end.txt";
  EXPECT_EQ(ShortenItemPath(longPath, FixedWidth(30)), L"D:\\...\\end.txt");
}

TEST(ProgressBarSteps, CountsOfAnySizeShowOnTheBar) {
  EXPECT_EQ(BarSteps(3ull << 30, 6ull << 30, 10000), 5000);  // bytes beyond 32 bits
  EXPECT_EQ(BarSteps(0, 50, 10000), 0);
  EXPECT_EQ(BarSteps(50, 50, 10000), 10000);
  EXPECT_EQ(BarSteps(140, 100, 10000), 10000);  // a count past its range shows a full bar
  EXPECT_EQ(BarSteps(5, 0, 10000), 0);          // no range yet
  EXPECT_EQ(BarSteps(1, 3, 10000), 3333);
}

TEST(MainWindowIcon, TheRemovalIconForAnUninstallation) {
  EXPECT_EQ(MainWindowIconResource(L"Uninstall"), kIconUninstall);
  EXPECT_EQ(MainWindowIconResource(L"uninstall"), 141);
  EXPECT_EQ(MainWindowIconResource(L"9"), 141);
  EXPECT_EQ(MainWindowIconResource(L"Install"), kIconSetup);
  EXPECT_EQ(MainWindowIconResource(L""), 128);
}
