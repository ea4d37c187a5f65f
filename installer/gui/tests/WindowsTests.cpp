// The real windows over the sample product's package under a display: the main window's size,
// bar, texts and Escape, the page window's banners and common texts. Each test saves PNGs of
// what it showed into <build>/screenshots (or TOLMERA_SCREENSHOTS) for people to look at.
#include "gui/Graphics.h"
#include "gui/Languages.h"
#include "gui/pages/BasePage.h"
#include "gui/pages/DlgComponents.h"
#include "gui/pages/DlgDestination.h"
#include "gui/pages/DlgFinish.h"
#include "gui/pages/DlgGreeting.h"
#include "gui/pages/DlgLangSelect.h"
#include "gui/pages/DlgLicense.h"
#include "gui/pages/DlgSummary.h"
#include "gui/pages/OptionPages.h"
#include "gui/tests/ScriptData.h"
#include "gui/wx/PageViews.h"
#include "gui/wx/TriStateCheckTree.h"
#include "package/UserSettings.h"
#include "gui/wx/Banner.h"
#include "gui/wx/BaseDialog.h"
#include "gui/wx/BrowseDirDlg.h"
#include "gui/wx/DlgMain.h"
#include "gui/wx/Drawing.h"
#include "gui/wx/MessageBox.h"
#include "gui/wx/Screen.h"
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
#include <wx/dialog.h>
#include <wx/image.h>
#include <wx/statbmp.h>
#include <wx/init.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

#include <algorithm>
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

// The PNG a Shot saved, read back.
wxImage ShotImage(const std::string& name) {
  return wxImage(wxString::FromUTF8(ShotFolder() + "/" + name + ".png"), wxBITMAP_TYPE_PNG);
}

// Whether the pixel is the filled part of the bar (green), its trough (light grey) or neither.
bool IsBarFill(const wxImage& image, int x, int y) {
  return image.GetRed(x, y) < 60 && image.GetGreen(x, y) > 140 && image.GetBlue(x, y) < 90;
}
bool IsBarTrough(const wxImage& image, int x, int y) {
  return image.GetRed(x, y) > 200 && image.GetGreen(x, y) > 200 && image.GetBlue(x, y) > 200;
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
  {
    // The bar fills the script's whole placement (40,520 to 760,538), 18 pixels high, its
    // first 40 per cent filled; the picture shows above and below it.
    wxImage shot = ShotImage("main-en-copying");
    ASSERT_TRUE(shot.IsOk());
    for (int y : {521, 529, 536}) {
      EXPECT_TRUE(IsBarFill(shot, 60, y)) << y;
      EXPECT_TRUE(IsBarFill(shot, 320, y)) << y;
      EXPECT_TRUE(IsBarTrough(shot, 340, y)) << y;
      EXPECT_TRUE(IsBarTrough(shot, 750, y)) << y;
    }
    for (int y : {518, 539}) {
      EXPECT_FALSE(IsBarFill(shot, 60, y)) << y;
      EXPECT_FALSE(IsBarTrough(shot, 750, y)) << y;
    }
  }

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
  PageViewContext context{&sample.languages, &sample.graphics, {}};

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

namespace {

// User settings kept in a map, as the run's are kept in the script.
class MapSettings : public InstallManager::IUserSettings {
 public:
  bool Set(const std::wstring& name, const CommonTools::Variant& value) override {
    values[name] = value;
    return true;
  }
  CommonTools::Variant Get(const std::wstring& name, const CommonTools::Variant& def) override {
    auto it = values.find(name);
    return it == values.end() ? def : it->second;
  }
  std::map<std::wstring, CommonTools::Variant> values;
};

// Every page of the sample product in one language, shown as the run shows it; a PNG of each.
class SamplePages {
 public:
  SamplePages(SamplePackage& sample, const std::string& language)
      : m_sample(sample), m_language(language) {
    SettingsNodePtr root;
    sample.settings.GetRoot(root);
    libraries.Load(root);
    settings.Set(L"InstallPath", L"C:\\Program Files (x86)\\TOLMERA Design 7");
    settings.Set(L"SelectedLibraries", L"1;2;3");
    settings.Set(L"ServerName", L"TOLMERA-SRV");
    settings.Set(L"CopyMSIPath", L"C:\\Exports");
  }
  PageServices Services() {
    PageServices s;
    s.settings = &settings;
    s.languages = &m_sample.languages;
    s.root = [this](SettingsNodePtr& root) { return m_sample.settings.GetRoot(root); };
    return s;
  }
  // Shows the page's window, saves it and hands it to `check` before it goes.
  void Show(CBasePage& page, const std::function<void(CBaseDialog&)>& check = nullptr) {
    page.SetServices(Services());
    page.SetBuilds(7001, 7120);
    page.LoadSettings();
    CBaseDialog* view =
        CBaseDialog::Make(nullptr, page, {&m_sample.languages, &m_sample.graphics, {}});
    Closing closing(view);
    view->Show();
    std::string name = "page-" + m_language + "-" + platform::ToUtf8(page.GetName());
    Shot(view, name);
    shots.push_back(ShotFolder() + "/" + name + ".png");
    if (check) check(*view);
  }
  CommonTools::CLibraries libraries;
  MapSettings settings;
  std::vector<std::string> shots;

 private:
  SamplePackage& m_sample;
  std::string m_language;
};

std::wstring Label(CBaseDialog& view, int id) {
  wxWindow* w = view.Control(id);
  return w ? w->GetLabel().ToStdWstring() : L"(none)";
}

// A small picture of all pages: `columns` across, each page a quarter of its size.
void ContactSheet(const std::vector<std::string>& files, const std::string& target, int columns) {
  std::vector<wxImage> images;
  for (const auto& f : files) {
    wxImage image(wxString::FromUTF8(f), wxBITMAP_TYPE_PNG);
    if (image.IsOk())
      images.push_back(
          image.Scale(image.GetWidth() / 3, image.GetHeight() / 3, wxIMAGE_QUALITY_HIGH));
  }
  if (images.empty()) return;
  int cellW = 0, cellH = 0;
  for (const auto& i : images) {
    cellW = std::max(cellW, i.GetWidth());
    cellH = std::max(cellH, i.GetHeight());
  }
  int rows = (static_cast<int>(images.size()) + columns - 1) / columns;
  wxImage sheet(columns * (cellW + 6) + 6, rows * (cellH + 6) + 6);
  sheet.SetRGB(wxRect(0, 0, sheet.GetWidth(), sheet.GetHeight()), 60, 60, 60);
  for (size_t n = 0; n < images.size(); ++n)
    sheet.Paste(images[n], 6 + static_cast<int>(n % columns) * (cellW + 6),
                6 + static_cast<int>(n / columns) * (cellH + 6));
  EXPECT_TRUE(sheet.SaveFile(wxString::FromUTF8(target), wxBITMAP_TYPE_PNG));
}

}  // namespace

TEST(PageWindow, EveryPageOfTheSampleProductInEnglishAndRussian) {
  REQUIRE_DISPLAY();
  tltest::ScopedMachine machine;
  SamplePackage sample;
  ASSERT_TRUE(sample.Open());
  platform::CreateDirectoryWithParents(L"C:\\Exports");
  std::vector<std::string> all;
  for (unsigned language : {0u, 1u}) {
    sample.languages.SetCurrent(language);
    bool en = language == 0;
    SamplePages pages(sample, en ? "en" : "ru");
    COptionPage::ResetTables();

    CDlgGreeting greeting;
    pages.Show(greeting, [&](CBaseDialog& v) {
      EXPECT_FALSE(v.Control(kControlBack)->IsShown());
      EXPECT_NE(Label(v, kGreetingText).find(en ? L"Welcome" : L"Вас приветствует"),
                std::wstring::npos);
    });
    CDlgLangSelect language_page;
    pages.Show(language_page);
    CDlgLicense license(std::shared_ptr<DataStorage::IDataStorage>(
        &sample.storage, [](DataStorage::IDataStorage*) {}));
    pages.Show(license, [&](CBaseDialog& v) {
      EXPECT_FALSE(v.Control(kControlNext)->IsEnabled());  // until the agreement is accepted
      auto* edit = dynamic_cast<wxTextCtrl*>(v.Control(kLicenseEdit));
      ASSERT_TRUE(edit);
      EXPECT_NE(edit->GetValue().Find(en ? L"LICENCE AGREEMENT" : L"ЛИЦЕНЗИОННОЕ"), wxNOT_FOUND);
    });
    CDlgInstallType type;
    type.SetClientMsiPath(L"C:\\Pkg\\TolmeraDesignClient.msi");
    pages.Show(type, [&](CBaseDialog& v) {
      EXPECT_FALSE(v.Control(kControlNext)->IsEnabled());  // nothing stored, nothing chosen
      // The script's switch "EXPORTMSI" hides the folder line and its text.
      EXPECT_FALSE(v.Control(kExportFolder)->IsShown());
      EXPECT_FALSE(v.Control(kExportText)->IsShown());
    });
    CDlgDestination destination(L"", L"TOLMERA Design 7");
    destination.SetRequiredBytes(150u << 20);
    pages.Show(destination, [&](CBaseDialog& v) {
      EXPECT_EQ(Label(v, kSpaceRequiredLine),
                en ? L"Space required: 150 MB" : L"Требуется места: 150 МБ");
    });
    CDlgComponents components(pages.libraries);
    pages.Show(components);
    CDlgSummary summary(pages.libraries);
    pages.Show(summary, [&](CBaseDialog& v) {
      EXPECT_EQ(Label(v, kControlNext), en ? L"&Install" : L"&Установить");
    });
    CDlgUpdate update;
    update.SetClientMsiPath(L"C:\\Pkg\\TolmeraDesignClient.msi");
    pages.Show(update, [&](CBaseDialog& v) {
      EXPECT_TRUE(v.Control(kExportButton)->IsShown());
      EXPECT_EQ(dynamic_cast<wxTextCtrl*>(v.Control(kExportFolder))->GetValue(), "C:\\Exports");
    });
    CDlgRepair repair;
    pages.Show(repair);
    CDlgRepairTruncated truncated;
    pages.Show(truncated);
    CDlgClientAttributes client;
    pages.Show(client, [&](CBaseDialog& v) {
      EXPECT_EQ(dynamic_cast<wxTextCtrl*>(v.Control(kServerEdit))->GetValue(), "TOLMERA-SRV");
      EXPECT_FALSE(v.Control(kScanLine)->IsShown());
    });
    {
      ComputerList list = {L"TOLMERA-PC", L"TOLMERA-SRV"};
      CDlgComputerSelect model(list);
      auto* view = new CComputerSelectView(nullptr, model, &sample.languages);
      Closing closing(view);
      view->Show();
      std::string name = std::string("page-") + (en ? "en" : "ru") + "-DLG_COMPUTER_SELECTION";
      Shot(view, name);
      pages.shots.push_back(ShotFolder() + "/" + name + ".png");
    }
    CDlgFinish finish(L"", true, L"C:\\Pkg\\TolmeraDesignClient.msi");
    pages.Show(finish, [&](CBaseDialog& v) {
      EXPECT_EQ(Label(v, kControlNext), en ? L"&Finish" : L"&Готово");
      EXPECT_FALSE(v.Control(kControlCancel)->IsShown());
      EXPECT_TRUE(v.Control(kRestartNow)->IsShown());
    });
    all.insert(all.end(), pages.shots.begin(), pages.shots.end());
  }
  COptionPage::ResetTables();
  EXPECT_EQ(all.size(), 26u);
  ContactSheet(all, ShotFolder() + "/pages-contact-sheet.png", 4);
}

TEST(MainWindow, TheBarIsPlacedAgainWhenTheLanguageBringsAnotherPicture) {
  REQUIRE_DISPLAY();
  tltest::ScopedMachine machine;
  // Two languages with pictures of different sizes and no placement of the bar in the script.
  std::string script =
      "<?xml version=\"1.0\"?><S><Images><BACKGROUND ID=\"0\" Path=\"small.png\"/>"
      "<BACKGROUND ID=\"1\" Path=\"large.png\"/></Images><Localization>"
      "<EN ID=\"1033\" Title=\"English\" SystemName=\"English\"><DLG_PROGRESS>"
      "<BACKGROUND ImageID=\"0\"/></DLG_PROGRESS></EN>"
      "<DE ID=\"1031\" Title=\"Deutsch\" SystemName=\"German\"><DLG_PROGRESS>"
      "<BACKGROUND ImageID=\"1\"/></DLG_PROGRESS></DE></Localization></S>";
  std::string host = machine.Base() + "/Setup.data";
  ASSERT_TRUE(tltest::WriteZip(host, {{"InstallScript.cfg", script},
                                      {"small.png", scriptdata::PngBytes(400, 300)},
                                      {"large.png", scriptdata::PngBytes(800, 600)}}));
  DataStorage::CDataStorage storage;
  ASSERT_TRUE(storage.Open(platform::HostToWindowsPath(host), nullptr));
  CommonTools::CXmlSettings settings;
  ASSERT_TRUE(settings.LoadFromBytes(script));
  GuiSettings::CLanguages::RootProvider provider = [&](SettingsNodePtr& root) {
    return settings.GetRoot(root);
  };
  GuiSettings::CLanguages languages(provider);
  GuiSettings::CGraphics graphics(provider);
  ASSERT_TRUE(languages.Load());
  ASSERT_TRUE(graphics.Load(&storage));
  MainWindowRequest request;
  request.languages = &languages;
  request.graphics = &graphics;
  request.root = provider;
  auto* main = new CDlgMain(request);
  Closing closing(main);
  main->PrepareWnd();
  EXPECT_EQ(main->Layout().bar, (PixelRect{200 - 160, 150 - 11, 200 + 160, 150 + 11}));
  languages.SetCurrent(1);
  main->LocalizeResources();
  // The default placement of the larger picture, not the one made for the smaller.
  EXPECT_EQ(main->Layout().bar, (PixelRect{400 - 320, 300 - 11, 400 + 320, 300 + 11}));
  EXPECT_EQ(main->GetClientSize(), wxSize(800, 600));
  storage.Close();
}

namespace {

// Two libraries in a group and a read-only one: what the tree's own rules see.
struct GroupProvider : ITreeDataProv {
  GroupProvider() {
    group = std::make_shared<CItem>(L"Group", 0, kUnchecked, true);
    a = std::make_shared<CItem>(L"a", 1, kUnchecked, true);
    b = std::make_shared<CItem>(L"b", 2, kUnchecked, true);
    fixed = std::make_shared<CItem>(L"fixed", 3, kChecked, false);
    group->AddChild(a);
    group->AddChild(b);
  }
  size_t GetCount() const override { return 2; }
  IItemData* GetItem(size_t i) const override {
    return i == 0 ? static_cast<IItemData*>(group.get()) : i == 1 ? fixed.get() : nullptr;
  }
  unsigned GetStyle() const override { return 0; }
  unsigned GetOptions() const override { return 0; }
  std::shared_ptr<CItem> group, a, b, fixed;
};

wxPoint LabelPoint(CTriStateCheckTree& tree, IItemData* item) {
  wxRect r;
  EXPECT_TRUE(tree.GetBoundingRect(tree.IdOf(item), r, true));
  return wxPoint(r.x + r.width / 2, r.y + r.height / 2);
}

}  // namespace

TEST(ComponentsTreeWindow, ClicksSpaceAndTheHotImage) {
  REQUIRE_DISPLAY();
  auto* frame = new wxDialog(nullptr, wxID_ANY, "tree", wxDefaultPosition, wxSize(300, 200));
  Closing closing(frame);
  auto* tree = new CTriStateCheckTree(frame, 1030);
  GroupProvider provider;
  int changes = 0;
  tree->SetDataProvider(&provider);
  tree->onToggle = [&](IItemData& item) {
    ++changes;
    return ToggleItem(provider, item);
  };
  tree->Rebuild();
  frame->Show();
  Settle(frame);
  EXPECT_EQ(tree->ShownImage(provider.a.get()), 1);      // unchecked
  EXPECT_EQ(tree->ShownImage(provider.fixed.get()), 6);  // checked, disabled
  // A click on a child checks it; its group shows the mixture.
  tree->ClickAt(LabelPoint(*tree, provider.a.get()));
  EXPECT_EQ(provider.a->GetState(), kChecked);
  EXPECT_EQ(provider.group->GetState(), kPartlyChecked);
  EXPECT_EQ(tree->ShownImage(provider.a.get()), 2 + 8);  // checked and hot after the click
  EXPECT_EQ(tree->ShownImage(provider.group.get()), 3);
  // The mouse moves the hot image to the next item and leaves it there off the items.
  tree->MoveTo(LabelPoint(*tree, provider.b.get()));
  EXPECT_EQ(tree->HotItem(), provider.b.get());
  EXPECT_EQ(tree->ShownImage(provider.a.get()), 2);
  EXPECT_EQ(tree->ShownImage(provider.b.get()), 1 + 8);
  tree->MoveTo(wxPoint(5, 190));
  EXPECT_EQ(tree->HotItem(), provider.b.get());
  // The read-only item changes nothing, by click or Space.
  tree->ClickAt(LabelPoint(*tree, provider.fixed.get()));
  tree->SelectItem(tree->IdOf(provider.fixed.get()));
  tree->PressSpace();
  EXPECT_EQ(provider.fixed->GetState(), kChecked);
  EXPECT_EQ(changes, 1);
  // Space on the group clears what the group holds.
  tree->SelectItem(tree->IdOf(provider.group.get()));
  tree->PressSpace();
  EXPECT_EQ(provider.a->GetState(), kUnchecked);
  EXPECT_EQ(provider.group->GetState(), kUnchecked);
}

TEST(MainWindow, OnAPersonsDisplayItIsCentredInTheWizardsScreenAndCutToIt) {
  REQUIRE_DISPLAY();
  tltest::ScopedMachine machine;  // the machine's screen: 1920 by 1080
  SamplePackage sample;
  ASSERT_TRUE(sample.Open());
  auto* main = new CDlgMain(sample.Request());
  Closing closing(main);
  // A 1280 by 900 display: centred there, not on the machine's larger screen. (Arranged
  // without being shown: the display is shared with the other window tests.)
  main->UseScreen({0, 0, 1280, 900});
  main->LocalizeResources();
  EXPECT_EQ(main->Layout().window, (PixelRect{240, 150, 1040, 750}));
  EXPECT_EQ(main->GetPosition(), wxPoint(240, 150));
  // A screen that does not start at the origin (a panel at the left and at the top) and is
  // smaller than the picture: the window is that screen.
  main->UseScreen({60, 24, 700, 504});
  main->LocalizeResources();
  EXPECT_EQ(main->Layout().window, (PixelRect{60, 24, 700, 504}));
  EXPECT_EQ(main->GetPosition(), wxPoint(60, 24));
  EXPECT_EQ(main->GetSize(), wxSize(640, 480));
  // The bar is placed for the window's size, in its own coordinates.
  EXPECT_EQ(main->Layout().bar, (PixelRect{320 - 256, 240 - 11, 320 + 256, 240 + 11}));
}

TEST(PageWindow, OnASmallScreenThePageScrollsAndItsButtonsStayInside) {
  REQUIRE_DISPLAY();
  tltest::ScopedMachine machine;
  SamplePackage sample;
  ASSERT_TRUE(sample.Open());
  struct Case {
    PixelRect screen;
    PageKind kind;
    const wchar_t* section;
    bool scrolls;
  };
  const Case cases[] = {
      {{0, 0, 640, 480}, PageKind::Greeting, ScriptNames::Page::kGreeting, true},
      {{0, 0, 640, 480}, PageKind::Finish, ScriptNames::Page::kFinish, true},
      {{100, 40, 1466, 808}, PageKind::Finish, ScriptNames::Page::kFinish, false},
      {{0, 0, 1920, 1080}, PageKind::License, ScriptNames::Page::kLicense, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.screen.Width()) + "x" + std::to_string(c.screen.Height()) + " " +
                 platform::ToUtf8(c.section));
    PageViewContext context{&sample.languages, &sample.graphics, c.screen};
    SimplePage page(c.section, c.kind, true);
    auto* dlg = new CBaseDialog(nullptr, page, context);
    Closing closing(dlg);
    // Placed without being shown: the display is shared with the other window tests, and
    // without a window manager the place asked is the place taken.
    const wxRect screen(c.screen.left, c.screen.top, c.screen.Width(), c.screen.Height());
    const wxRect window = dlg->GetRect();
    EXPECT_TRUE(screen.Contains(window))
        << window.x << "," << window.y << " " << window.width << "x" << window.height;
    EXPECT_EQ(dlg->Scrolls(), c.scrolls);
    // Centred in the screen (a window too large for it at its left and top edge).
    EXPECT_EQ(window.x, c.screen.left + std::max(0, (c.screen.Width() - window.width) / 2));
    EXPECT_EQ(window.y, c.screen.top + std::max(0, (c.screen.Height() - window.height) / 2));
    // The page as drawn is the template's size whatever window it got.
    const wxSize page0 = dlg->PageSize();
    if (c.scrolls)
      EXPECT_LT(dlg->GetClientSize().x, page0.x);
    else
      EXPECT_EQ(dlg->GetClientSize(), page0);
    // Every shown button lies whole inside the window's client area, so inside the screen.
    const wxRect client(dlg->GetPosition(), dlg->GetClientSize());
    int shown = 0;
    for (int id : {kControlBack, kControlNext, kControlCancel}) {
      wxWindow* b = dlg->Control(id);
      if (!b || !b->IsShown()) continue;
      ++shown;
      // The button's place on the screen: through its row to the page's window.
      wxRect r = b->GetRect();
      for (wxWindow* w = b->GetParent(); w && w != dlg; w = w->GetParent())
        r.Offset(w->GetPosition());
      r.Offset(dlg->GetPosition());
      EXPECT_TRUE(client.Contains(r)) << id << " at " << r.x << "," << r.y;
      EXPECT_TRUE(screen.Contains(r)) << id;
    }
    EXPECT_EQ(shown, c.kind == PageKind::Finish ? 1 : 3);
  }
}

TEST(MessageBoxWindow, CaptionIconButtonsAndWhatEscapeAnswers) {
  REQUIRE_DISPLAY();
  const PixelRect screen{0, 0, 1366, 768};
  MessageRequest question{L"MsgCancellInstallation", L"Do you want to cancel the installation?",
                          L"TOLMERA Design 7 Setup", MB_YESNO | MB_ICONQUESTION};
  CMessageBox box(nullptr, question, screen);
  EXPECT_EQ(box.GetTitle(), "TOLMERA Design 7 Setup");
  EXPECT_EQ(box.IconKind(), MB_ICONQUESTION);
  ASSERT_NE(box.ButtonFor(IDYES), nullptr);
  ASSERT_NE(box.ButtonFor(IDNO), nullptr);
  EXPECT_EQ(box.ButtonFor(IDCANCEL), nullptr);
  EXPECT_EQ(box.ButtonFor(IDYES)->GetLabel(), "&Yes");
  EXPECT_EQ(box.ButtonFor(IDNO)->GetLabel(), "&No");
  // The platform's order: Yes left of No, both at the bottom; the box centred on the screen.
  EXPECT_LT(box.ButtonFor(IDYES)->GetPosition().x, box.ButtonFor(IDNO)->GetPosition().x);
  const wxRect r = box.GetRect();
  EXPECT_NEAR(r.x + r.width / 2, 683, 1);
  EXPECT_NEAR(r.y + r.height / 2, 384, 1);
  // The caption fits the title bar.
  EXPECT_GE(box.GetClientSize().x, box.GetTextExtent("TOLMERA Design 7 Setup").x);

  // The icon is drawn: the blue of the question's disc, left of the text.
  const wxStaticBitmap* icon = nullptr;
  for (const wxWindow* top : box.GetChildren())
    for (const wxWindow* child : top->GetChildren())
      if (auto* b = dynamic_cast<const wxStaticBitmap*>(child)) icon = b;
  ASSERT_NE(icon, nullptr);
  wxImage image = icon->GetBitmap().ConvertToImage();
  ASSERT_TRUE(image.IsOk());
  int blue = 0;
  for (int y = 0; y < image.GetHeight(); ++y)
    for (int x = 0; x < image.GetWidth(); ++x)
      if ((!image.HasAlpha() || image.GetAlpha(x, y) > 128) && image.GetBlue(x, y) > 150 &&
          image.GetRed(x, y) < 80)
        ++blue;
  EXPECT_GT(blue, 200);

  // A click on No answers No. (Shown at the far corner of the shared display.)
  CMessageBox again(nullptr, question, {1500, 950, 1600, 1000});
  again.CallAfter([&again] {
    wxCommandEvent click(wxEVT_BUTTON, again.ButtonFor(IDNO)->GetId());
    click.SetEventObject(again.ButtonFor(IDNO));
    again.ButtonFor(IDNO)->GetEventHandler()->ProcessEvent(click);
  });
  EXPECT_EQ(again.Ask(), IDNO);

  // Escape answers Cancel where there is one, OK for a box with OK alone, nothing for a
  // question that only its buttons answer.
  EXPECT_EQ(MessageEscapeAnswer(MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(MessageEscapeAnswer(MB_OKCANCEL), IDCANCEL);
  EXPECT_EQ(MessageEscapeAnswer(MB_YESNOCANCEL), IDCANCEL);
  EXPECT_EQ(MessageEscapeAnswer(MB_RETRYCANCEL), IDCANCEL);
  EXPECT_EQ(MessageEscapeAnswer(MB_YESNO | MB_ICONQUESTION), 0);
  EXPECT_EQ(MessageEscapeAnswer(MB_ABORTRETRYIGNORE), 0);

  // Without an icon style no icon; an OK box has OK alone.
  CMessageBox plain(nullptr, {L"", L"Done.", L"Caption", MB_OK}, screen);
  EXPECT_EQ(plain.IconKind(), 0u);
  EXPECT_NE(plain.ButtonFor(IDOK), nullptr);
  EXPECT_EQ(plain.ButtonFor(IDCANCEL), nullptr);
}

TEST(PageWindow, ItsFolderBrowserStaysOnTheScreenThePageWasFittedTo) {
  REQUIRE_DISPLAY();
  tltest::ScopedMachine machine;
  SamplePackage sample;
  ASSERT_TRUE(sample.Open());
  // A 640 by 480 display with a panel of 40 pixels at the top: 640 by 440 are left.
  const PixelRect screen{0, 40, 640, 480};
  PageViewContext context{&sample.languages, &sample.graphics, screen};
  SimplePage page(ScriptNames::Page::kDestination, PageKind::Destination, true);
  auto* dlg = new CBaseDialog(nullptr, page, context);
  Closing closing(dlg);
  EXPECT_EQ(dlg->Screen(), screen);
  // The browser (420 by 460) is higher than what the screen leaves: it gets the screen's height
  // and stays below the panel. (Placed without being shown: the display is shared.)
  auto* browser = new CBrowseDirDlg(dlg, L"");
  Closing closingBrowser(browser);
  ASSERT_GT(browser->GetClientSize().y, 440);
  KeepOnScreen(*browser, dlg->Screen());
  const wxRect r = browser->GetRect();
  EXPECT_GE(r.y, 40);
  EXPECT_LE(r.y + browser->GetClientSize().y, 480);
  EXPECT_GE(r.x, 0);
  EXPECT_LE(r.x + browser->GetClientSize().x, 640);
  // An empty screen (a run answered from a file) leaves the dialog as it is.
  auto* other = new CBrowseDirDlg(dlg, L"");
  Closing closingOther(other);
  const wxSize before = other->GetClientSize();
  KeepOnScreen(*other, PixelRect{});
  EXPECT_EQ(other->GetClientSize(), before);
}
