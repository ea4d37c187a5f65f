// The real windows over the sample product's package under a display: the main window's size,
// bar, texts and Escape, the page window's banners and common texts. Each test saves PNGs of
// what it showed into <build>/screenshots (or TOLMERA_SCREENSHOTS) for people to look at.
#include "gui/Graphics.h"
#include "gui/Languages.h"
#include "gui/pages/BasePage.h"
#include "gui/wx/Banner.h"
#include "gui/wx/BaseDialog.h"
#include "gui/wx/DlgMain.h"
#include "gui/wx/Drawing.h"
#include "package/DataStorage.h"
#include "package/ScriptVocabulary.h"
#include "package/XmlSettings.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Shell.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/utils.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace InstallGui;
using CommonTools::SettingsNodePtr;

namespace {

bool g_wx = false;

// One wx application for the binary, when there is a display.
class WxEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) return;
    static int argc = 1;
    static char name[] = "installer_gui_tests";
    static char* argv[] = {name, nullptr};
    wxApp::SetInstance(new wxApp);
    g_wx = wxEntryStart(argc, argv) && wxTheApp->CallOnInit();
  }
  void TearDown() override {
    if (!g_wx) return;
    wxTheApp->OnExit();
    wxEntryCleanup();
  }
};
[[maybe_unused]] auto* const g_environment = ::testing::AddGlobalTestEnvironment(new WxEnvironment);

std::string ShotFolder() {
  const char* env = std::getenv("TOLMERA_SCREENSHOTS");
  const char* build = std::getenv("TOLMERA_BUILD_DIR");
  std::string folder = env ? env : std::string(build ? build : ".") + "/screenshots";
  std::filesystem::create_directories(folder);
  return folder;
}

void Settle(wxWindow* w) {
  for (int i = 0; i < 10; ++i) {
    w->Update();
    if (wxTheApp) wxTheApp->Yield(true);
    wxMilliSleep(15);
  }
}

void Shot(wxWindow* w, const std::string& name) {
  Settle(w);
  EXPECT_TRUE(SaveWindowPng(w, ShotFolder() + "/" + name + ".png")) << name;
}

// The sample product's script, languages and pictures, read as a run reads them.
class SamplePackage {
 public:
  bool Open() {
    const char* build = std::getenv("TOLMERA_BUILD_DIR");
    std::string host = std::string(build ? build : "build") + "/examples/sample-product/Setup.data";
    std::wstring script;
    return storage.Open(platform::HostToWindowsPath(host), nullptr) &&
           storage.ExtractFile(L"", ScriptNames::kScriptFile, script) && settings.Load(script) &&
           languages.Load() && graphics.Load(&storage);
  }
  ~SamplePackage() { storage.Close(); }

  MainWindowRequest Request(const std::wstring& installType = L"Full") {
    MainWindowRequest r;
    r.installType = installType;
    r.languages = &languages;
    r.graphics = &graphics;
    r.root = [this](SettingsNodePtr& root) { return settings.GetRoot(root); };
    return r;
  }

  DataStorage::CDataStorage storage;
  CommonTools::CXmlSettings settings;
  GuiSettings::CLanguages::RootProvider provider = [this](SettingsNodePtr& root) {
    return settings.GetRoot(root);
  };
  GuiSettings::CLanguages languages{provider};
  GuiSettings::CGraphics graphics{provider};
};

// Destroys a top-level window at the end of a test.
struct Closing {
  explicit Closing(wxWindow* w) : window(w) {}
  ~Closing() {
    window->Destroy();
    if (wxTheApp) wxTheApp->Yield(true);
  }
  wxWindow* window;
};

class SimplePage : public CBasePage {
 public:
  using CBasePage::CBasePage;
  bool SetField(const std::wstring&, const std::wstring&) override { return false; }
  std::wstring GetField(const std::wstring&) const override { return L""; }
  std::vector<std::wstring> FieldNames() const override { return {}; }
  void SaveSettings() override { ++saved; }
  int saved = 0;

 protected:
  void LocalizePage(CLocalizer& localizer) override { localizer.AddControl(L"TEXT", kControlText); }
};

#define REQUIRE_DISPLAY() \
  if (!g_wx) GTEST_SKIP() << "no display"

}  // namespace

TEST(MainWindow, TheSampleProductsBackgroundBarAndLinesInEnglishAndRussian) {
  REQUIRE_DISPLAY();
  tltest::ScopedMachine machine;
  SamplePackage sample;
  ASSERT_TRUE(sample.Open());
  auto* main = new CDlgMain(sample.Request());
  Closing closing(main);
  main->PrepareWnd();
  ASSERT_TRUE(main->HasBackground());
  // The picture's size, centred on the machine's screen (1920 by 1080), the script's bar.
  EXPECT_EQ(main->Layout().window, (PixelRect{560, 240, 1360, 840}));
  EXPECT_EQ(main->GetSize(), wxSize(800, 600));
  EXPECT_EQ(main->Layout().bar, (PixelRect{40, 520, 760, 538}));
  EXPECT_EQ(main->BarSettings().colour, 0xFFFFFFu);
  EXPECT_EQ(main->GetTitle(), "TOLMERA Design 7 Setup");
  EXPECT_EQ(main->CancelText(), L"Cancel");
  EXPECT_FALSE(main->BarShown());
  Shot(main, "main-en-start");

  main->SetProgressRange(1000);
  main->BeginProgress(0, false);
  main->SetStageText(L"TEXT_INSTALL", L"Copying the files of the product...");
  const std::wstring path =
      L"C:\\Program Files (x86)\\TOLMERA\\Design 7\\Catalogue\\Standard parts\\Bearings\\Ball "
      L"bearings\\Deep groove\\Single row\\DIN 625\\Metric series\\Bore 20 mm\\Sealed on both "
      L"sides\\Grease for high speeds\\6204-2RS with seals on both sides.xml";
  main->SetItemText(path);
  main->StepProgress(400);
  EXPECT_TRUE(main->BarShown());
  EXPECT_EQ(main->BarValue(), 4000);
  // The path did not fit the 720-pixel line: its first folder, "...\" and a tail.
  EXPECT_EQ(main->ShownItem().rfind(L"C:\\...\\", 0), 0u) << platform::ToUtf8(main->ShownItem());
  EXPECT_NE(main->ShownItem().find(L"6204-2RS with seals on both sides.xml"), std::wstring::npos);
  EXPECT_LT(main->ShownItem().size(), path.size());
  Shot(main, "main-en-copying");

  // Escape during progress asks through the run's handler, from the run's own call.
  int asked = 0;
  main->SetEscapeHandler([&] { ++asked; });
  main->NoteEscape();
  main->PumpMessages();
  EXPECT_EQ(asked, 1);
  main->SetItemText(L"");
  main->NoteEscape();
  main->PumpMessages();
  EXPECT_EQ(asked, 1);  // an empty item line lets the key go
  main->EndProgress();
  EXPECT_FALSE(main->BarShown());

  // Russian: the title and the texts follow the language.
  sample.languages.SetCurrent(1);
  main->LocalizeResources();
  EXPECT_EQ(main->GetTitle().ToStdWstring(), L"Установка TOLMERA Design 7");
  EXPECT_EQ(main->CancelText(), L"Отмена");
  main->BeginProgress(0, false);
  main->SetStageText(L"TEXT_INSTALL", L"Копирование файлов продукта...");
  main->SetItemText(L"C:\\Program Files (x86)\\TOLMERA\\Design 7\\Справка\\Начало работы.html");
  main->StepProgress(700);
  Shot(main, "main-ru-copying");
}

TEST(MainWindow, ABackgroundLargerThanTheScreenTakesTheScreen) {
  REQUIRE_DISPLAY();
  auto config = platform::MachineConfig::Defaults();
  config.screenWidth = 640;
  config.screenHeight = 480;
  tltest::ScopedMachine machine(config);
  SamplePackage sample;
  ASSERT_TRUE(sample.Open());
  auto* main = new CDlgMain(sample.Request(L"Uninstall"));
  Closing closing(main);
  main->PrepareWnd();
  EXPECT_EQ(main->Layout().window, (PixelRect{0, 0, 640, 480}));
  EXPECT_EQ(main->GetSize(), wxSize(640, 480));
  // The script's bar lies outside the 640 by 480 window: the default placement on that size.
  EXPECT_EQ(main->Layout().bar, (PixelRect{320 - 256, 240 - 11, 320 + 256, 240 + 11}));
  // No icon file: the program's removal icon.
  EXPECT_EQ(main->IconResource(), 141);
  main->SetProgressRange(50);
  main->BeginProgress(0, true);
  main->SetStageText(L"TEXT_UN_INSTALL", L"Removing the files of the product...");
  main->SetItemText(L"C:\\Program Files (x86)\\TOLMERA\\Design 7\\bin\\TolmeraDesign.exe");
  main->StepProgress(30);
  Shot(main, "main-larger-than-screen");
}

TEST(PageWindow, BannersCommonTextsTitleAndTheButtons) {
  REQUIRE_DISPLAY();
  tltest::ScopedMachine machine;
  SamplePackage sample;
  ASSERT_TRUE(sample.Open());
  PageViewContext context{&sample.languages, &sample.graphics};

  SimplePage greeting(ScriptNames::Page::kGreeting, PageKind::Greeting, false);
  greeting.SetBuilds(0, 7120);
  auto* dlg = new CBaseDialog(nullptr, greeting, context);
  Closing closing(dlg);
  EXPECT_EQ(dlg->BannerCount(), 2u);  // top and left
  EXPECT_EQ(dlg->GetTitle(), "TOLMERA Design 7 Setup (build 7120)");
  EXPECT_EQ(dlg->Control(kControlNext)->GetLabel(), "&Next >");
  EXPECT_EQ(dlg->Control(kControlCancel)->GetLabel(), "Cancel");
  EXPECT_FALSE(dlg->Control(kControlBack)->IsShown());  // the first page offers no Back
  EXPECT_NE(dlg->Control(kControlText)->GetLabel().Find("Welcome"), wxNOT_FOUND);
  dlg->Show();
  Shot(dlg, "page-en-greeting-base");

  // A click on the top banner opens its address through the machine's shell.
  const_cast<CBanner*>(dlg->BannerAt(0))->Click();
  ASSERT_EQ(platform::ShellOpened().size(), 1u);
  EXPECT_EQ(platform::ShellOpened()[0], L"https://tolmera.example/design");

  // Next keeps the page's choices and ends it.
  dlg->Press(PageButton::Next);
  EXPECT_EQ(greeting.saved, 1);
  EXPECT_EQ(dlg->LeftWith(), PageButton::Next);

  // The finish page ignores Cancel: it stays open and keeps nothing.
  SimplePage finish(ScriptNames::Page::kFinish, PageKind::Finish);
  auto* fin = new CBaseDialog(nullptr, finish, context);
  Closing closingFinish(fin);
  fin->Show();
  fin->Press(PageButton::Cancel);
  EXPECT_TRUE(fin->IsShown());
  EXPECT_EQ(finish.saved, 0);

  // Russian texts and the Russian banner.
  sample.languages.SetCurrent(1);
  SimplePage license(ScriptNames::Page::kLicense, PageKind::License);
  license.SetBuilds(0, 7120);
  auto* ru = new CBaseDialog(nullptr, license, context);
  Closing closingRu(ru);
  EXPECT_EQ(ru->BannerCount(), 1u);
  EXPECT_EQ(ru->Control(kControlNext)->GetLabel().ToStdWstring(), L"&Далее >");
  ru->Show();
  Shot(ru, "page-ru-license-base");
}
