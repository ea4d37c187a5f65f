// The data side of the script's languages, texts, switches and pictures.
#include "gui/Graphics.h"
#include "gui/Languages.h"
#include "gui/Localizer.h"
#include "package/DataStorage.h"
#include "package/LogSink.h"
#include "package/XmlSettings.h"
#include "package/tests/TestArchive.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Text.h"

#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/mstream.h>

#include <filesystem>
#include <map>

using CommonTools::SettingsNodePtr;
using InstallGui::GuiSettings::CGraphics;
using InstallGui::GuiSettings::CLanguages;

namespace {

struct Script {
  explicit Script(const std::string& xml) { EXPECT_TRUE(settings.LoadFromBytes(xml)); }
  CLanguages::RootProvider Provider() {
    return [this](SettingsNodePtr& root) { return settings.GetRoot(root); };
  }
  SettingsNodePtr Root() {
    SettingsNodePtr root;
    settings.GetRoot(root);
    return root;
  }
  CommonTools::CXmlSettings settings;
};

struct LogCapture {
  LogCapture() {
    CommonTools::SetLogSink([this](CommonTools::LogLevel level, const std::wstring& text) {
      lines.push_back(std::to_string(static_cast<int>(level)) + " " + platform::ToUtf8(text));
    });
  }
  ~LogCapture() { CommonTools::SetLogSink(nullptr); }
  int Count(const std::string& line) const {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
  }
  std::vector<std::string> lines;
};

// A machine whose system language is given by its LCID.
platform::MachineConfig WithLanguage(std::uint16_t lcid) {
  auto config = platform::MachineConfig::Defaults();
  config.systemLcid = lcid;
  return config;
}

const char* kLanguages =
    "<?xml version=\"1.0\"?><S><Localization>"
    "<A ID=\"1033\" Title=\"English\" SystemName=\"English\"/>"
    "<B ID=\"1031\" Title=\"Deutsch\" SystemName=\"german\"/>"
    "<C ID=\"1031\" Title=\"Deutsch 2\" SystemName=\"German\"/>"
    "</Localization></S>";

class FakeWindow : public InstallGui::ILocalizedWindow {
 public:
  void SetTitle(const std::wstring& text) override { title = text; }
  bool HasControl(int id) override { return id != 99; }
  void SetControlText(int id, const std::wstring& text) override { controls[id] = text; }
  std::wstring title = L"template title";
  std::map<int, std::wstring> controls;
};

std::string PngBytes(int width, int height) {
  wxInitAllImageHandlers();
  wxImage image(width, height);
  image.SetRGB(0, 0, 200, 10, 20);
  wxMemoryOutputStream out;
  EXPECT_TRUE(image.SaveFile(out, wxBITMAP_TYPE_PNG));
  std::string bytes(out.GetSize(), '\0');
  out.CopyTo(bytes.data(), bytes.size());
  return bytes;
}

}  // namespace

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

TEST(Graphics, ImagesFromTheArchiveByIdInMemory) {
  tltest::ScopedMachine machine;
  LogCapture log;
  std::string wide = PngBytes(8, 4), tall = PngBytes(3, 9);
  platform::CreateDirectoryWithParents(L"C:\\Pkg");
  ASSERT_TRUE(tltest::WriteZip(platform::ToHostPath(L"C:\\Pkg\\Setup.data"),
                               {{"images/wide.png", wide},
                                {"images/tall.png", tall},
                                {"images/broken.png", "not a picture"}}));
  DataStorage::CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  Script script(
      "<?xml version=\"1.0\"?><S><IMAGES>"
      "<Background ID=\"7\" Path=\"images/wide.png\"/>"
      "<Banner ID=\"3\" Path=\"images/tall.png\"/>"
      "<Missing ID=\"4\" Path=\"images/missing.png\"/>"
      "<Broken ID=\"5\" Path=\"images/broken.png\"/>"
      "<NoId Path=\"images/tall.png\"/>"
      "<Again ID=\"7\" Path=\"images/tall.png\"/>"
      "</IMAGES></S>");
  CGraphics graphics(script.Provider());
  EXPECT_FALSE(graphics.Load(nullptr));
  ASSERT_TRUE(graphics.Load(&storage));
  EXPECT_EQ(graphics.GetCount(), 3);  // 0, 3 and 7
  EXPECT_EQ(graphics.GetIdAt(0), 0);
  EXPECT_EQ(graphics.GetIdAt(1), 3);
  EXPECT_EQ(graphics.GetIdAt(2), 7);
  EXPECT_EQ(graphics.GetIdAt(3), -1);
  EXPECT_EQ(graphics.GetIdAt(-1), -1);
  // The later of two images with one ID counts.
  const wxImage* seven = graphics.GetImage(7);
  ASSERT_NE(seven, nullptr);
  EXPECT_EQ(seven->GetWidth(), 3);
  EXPECT_EQ(seven->GetHeight(), 9);
  EXPECT_TRUE(seven->HasAlpha());
  EXPECT_EQ(graphics.GetPath(7), storage.GetTempFolder() + L"\\images\\tall.png");
  EXPECT_EQ(graphics.GetImage(4), nullptr);
  EXPECT_EQ(graphics.GetImage(5), nullptr);
  EXPECT_EQ(graphics.GetPath(5), L"");
  EXPECT_EQ(log.Count("1 don't extract graphical resources images/missing.png"), 1);
  EXPECT_EQ(log.Count("1 don't extract graphical resources images/broken.png"), 0);

  // The pictures stay when the extracted files go with the archive's temporary folder.
  storage.Close();
  EXPECT_FALSE(platform::PathFileExistsW(graphics.GetPath(3)));
  const wxImage* three = graphics.GetImage(3);
  ASSERT_NE(three, nullptr);
  EXPECT_EQ(three->GetRed(0, 0), 200);
  graphics.Clear();
  EXPECT_EQ(graphics.GetCount(), 0);
  EXPECT_EQ(graphics.GetImage(3), nullptr);

  // Without an Images element the load fails.
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  Script none("<?xml version=\"1.0\"?><S/>");
  CGraphics empty(none.Provider());
  EXPECT_FALSE(empty.Load(&storage));
}
