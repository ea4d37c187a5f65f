// The program's window in English and in Russian: every menu, tool, dialog and pane text from
// the language file, pane headers that show their whole captions (checked on the pixels of the
// screen), a very long model name, a window made very small and large again, and no toolkit
// warning on the error stream meanwhile. Screenshots go to <build>/screenshots/language-*.
#include "WindowTestSupport.h"

#include "ProgramTexts.h"
#include "ui/MlsString.h"
#include "ui/Object3DView.h"
#include "ui/PropertiesView.h"
#include "ui/TreeObjectView.h"
#include "ui/VHSplitter.h"

#include <wx/propgrid/propgrid.h>

#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/dialog.h>
#include <wx/image.h>
#include <wx/menu.h>
#include <wx/stattext.h>
#include <wx/toolbar.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace window_test;

namespace {

std::wstring LanguageFile() {
  return (std::filesystem::path(SourceDir()) / "examples/viewer-language/Morlane.lng").wstring();
}

// What the process writes to its error stream (the toolkit's warnings too) between its
// construction and Take.
class ErrorStream {
 public:
  ErrorStream() {
    std::string pattern = (std::filesystem::temp_directory_path() / "morlane-err-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    m_path = pattern;
    std::fflush(stderr);
    m_saved = dup(2);
    if (fd >= 0) {
      dup2(fd, 2);
      close(fd);
    }
  }
  ~ErrorStream() { Take(); }
  std::string Take() {
    if (m_saved >= 0) {
      std::fflush(stderr);
      dup2(m_saved, 2);
      close(m_saved);
      m_saved = -1;
      std::ifstream in(m_path);
      std::stringstream all;
      all << in.rdbuf();
      m_text = all.str();
      std::filesystem::remove(m_path);
    }
    return m_text;
  }

 private:
  std::string m_path, m_text;
  int m_saved = -1;
};

bool HasToolkitWarning(const std::string& err) { return err.find("Gtk-") != std::string::npos; }

// The header band of a pane shows its whole caption: not shortened, ending before the button,
// and on the screen its ink lies within the caption's place, with clear band between the
// caption's end and the button.
testing::AssertionResult HeaderShowsItsWholeCaption(CHeaderPane& pane, const std::string& shot) {
  const CHeaderPane::CaptionLayout caption = pane.GetCaptionLayout();
  const CBtn& button = pane.GetHideButton();
  if (caption.shortened || caption.text.empty())
    return testing::AssertionFailure() << shot << ": the caption is shortened to \""
                                       << wxString(caption.text).utf8_str() << "\"";
  if (button.IsEmpty()) return testing::AssertionFailure() << shot << ": no hide button";
  if (caption.x + caption.width >= button.x)
    return testing::AssertionFailure() << shot << ": the caption runs into the button";
  // The screen's picture is kept to be looked at; the pixels checked are the pane's own drawing,
  // made into a bitmap, which a window of another test on the same display cannot cover.
  const std::string path = ShotFolder() + "/" + shot + ".png";
  if (!morlane::SaveWindowPicture(&pane, path))
    return testing::AssertionFailure() << "no picture " << path;
  const wxSize client = pane.GetClientSize();
  if (client.x <= 0 || client.y <= 0) return testing::AssertionFailure() << shot << ": no size";
  wxBitmap drawn(client.x, client.y, 24);
  {
    wxMemoryDC dc(drawn);
    pane.PaintHeader(dc);
  }
  const wxImage image = drawn.ConvertToImage();
  if (!image.IsOk()) return testing::AssertionFailure() << shot << ": nothing drawn";
  auto ink = [&](int x0, int x1) {
    int n = 0;
    for (int y = 2; y < pane.GetBandHeight() - 2 && y < image.GetHeight(); ++y)
      for (int x = std::max(x0, 0); x < x1 && x < image.GetWidth(); ++x)
        n += image.GetRed(x, y) + image.GetGreen(x, y) + image.GetBlue(x, y) < 3 * 110;
    return n;
  };
  const int inside = ink(caption.x, caption.x + caption.width);
  const int after = ink(caption.x + caption.width + 1, button.x - 1);
  if (inside < 20) return testing::AssertionFailure() << shot << ": no caption drawn";
  if (after != 0)
    return testing::AssertionFailure()
           << shot << ": " << after << " ink pixels right of the caption's end";
  return testing::AssertionSuccess();
}

struct Language {
  const char* name;
  int code;  // 0: no language file
};

class WindowLanguage : public ::testing::TestWithParam<Language> {
 protected:
  void SetUp() override {
    REQUIRE_DISPLAY();
    CMlsString::Clear();
    if (GetParam().code) {
      ASSERT_EQ(CMainFrame::LoadLocation(LanguageFile().c_str(), GetParam().code), 1);
    }
  }
  void TearDown() override { CMlsString::Clear(); }
  std::string Name(const char* what) const {
    // The run at 144 dots per inch (below) keeps its pictures beside those at 96.
    const char* scale = std::getenv("GDK_DPI_SCALE");
    return std::string("language-") + GetParam().name + (scale ? "-dpi144-" : "-") + what;
  }
};

TEST_P(WindowLanguage, MenusToolsDialogsAndPanesSpeakTheLanguageAndNoHeaderIsCut) {
  ErrorStream err;
  const bool russian = GetParam().code == 1049;
  {
    TestFrame frame;
    ASSERT_TRUE(frame.created);
    ASSERT_TRUE(frame->OpenFile(Example("drive.xml")));
    morlane::SettleWindow(frame.frame);
    Shot(frame.frame, Name("window"));

    // Menus and tools: the file's texts, and in Russian none of the English defaults.
    wxMenuBar* bar = frame->GetMenuBar();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->GetMenuCount(), 4u);
    const int menus[] = {ProgramText::MenuFile, ProgramText::MenuShafts, ProgramText::MenuView,
                         ProgramText::MenuHelp};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(bar->GetMenuLabel(i).ToStdWstring(), ProgramTextOf(menus[i]));
      if (russian) {
        EXPECT_NE(bar->GetMenuLabel(i).ToStdWstring(), ProgramDefaultText(menus[i]));
      }
    }
    int items = 0;
    for (int id = morlane::kCmdOpen; id <= morlane::kCmdAbout; ++id) {
      wxMenuItem* item = bar->FindItem(id);
      ASSERT_NE(item, nullptr) << id;
      ++items;
      const std::wstring label = item->GetItemLabelText().ToStdWstring();
      EXPECT_FALSE(label.empty()) << id;
      if (russian) {
        EXPECT_TRUE(label.find_first_of(L"абвгдежзийклмнопрстуфхцчшщыьэюяАБВГДЕОПРСФ") !=
                    std::wstring::npos)
            << id << " is not Russian: " << wxString(label).utf8_str();
        EXPECT_FALSE(item->GetHelp().empty()) << id;
      }
    }
    EXPECT_EQ(items, 11);
    wxToolBar* tools = frame->GetToolBar();
    ASSERT_NE(tools, nullptr);
    const std::pair<int, int> toolTexts[] = {
        {morlane::kCmdOpen, ProgramText::ToolOpen},
        {morlane::kCmdRecognizeSelection, ProgramText::ToolRecognizeSelection},
        {morlane::kCmdAxes, ProgramText::ToolAxes}};
    for (auto [command, text] : toolTexts) {
      wxToolBarToolBase* tool = tools->FindById(command);
      ASSERT_NE(tool, nullptr);
      EXPECT_EQ(tool->GetLabel().ToStdWstring(), ProgramTextOf(text));
      EXPECT_EQ(tool->GetShortHelp().Find(wxString(ProgramTextOf(text + 20))), 0)
          << "the tooltip says what the tool does";
      if (russian) {
        EXPECT_NE(tool->GetLabel().ToStdWstring(), ProgramDefaultText(text));
      }
    }
    EXPECT_EQ(frame->GetStatusBar()->GetStatusText().ToStdWstring(),
              CMlsString::GetResourceString(eMessages, 110));

    // Both workspaces' headers show their whole captions.
    for (CSplitterView* ws : {&frame->GetView1(), &frame->GetView2()}) {
      const char* side = ws == &frame->GetView1() ? "left" : "right";
      EXPECT_TRUE(HeaderShowsItsWholeCaption(ws->GetTreeObjectView(),
                                             Name((std::string(side) + "-tree").c_str())));
      EXPECT_TRUE(HeaderShowsItsWholeCaption(ws->GetPropertiesView(),
                                             Name((std::string(side) + "-properties").c_str())));
      EXPECT_EQ(ws->GetTreeObjectView().GetCaptionLayout().text,
                CMlsString::GetResourceString(eMenus, 155, L"ToolDoc", L"ModelStructure"));
      EXPECT_EQ(ws->GetPropertiesView().GetCaptionLayout().text,
                CMlsString::GetResourceString(eMenus, 158, L"ToolDoc", L"ModelGeom"));
    }
    Shot(&frame->GetView1().GetObject3DView(), Name("left-3d-view"));

    // The about dialog: the program's name, what it does, its version, and an OK of its own.
    std::vector<std::wstring> aboutTexts;
    frame->SetAboutHandler([&](wxDialog& dialog) {
      dialog.Show();
      morlane::SettleWindow(&dialog);
      Shot(&dialog, Name("about"));
      for (wxWindow* child : dialog.GetChildren()) {
        if (auto* text = dynamic_cast<wxStaticText*>(child))
          aboutTexts.push_back(text->GetLabel().ToStdWstring());
        if (auto* button = dynamic_cast<wxButton*>(child))
          aboutTexts.push_back(button->GetLabel().ToStdWstring());
      }
      EXPECT_EQ(dialog.GetTitle().ToStdWstring(), ProgramTextOf(ProgramText::AboutTitle));
      dialog.Hide();
    });
    frame->RunCommand(morlane::kCmdAbout);
    ASSERT_EQ(aboutTexts.size(), 4u);
    EXPECT_EQ(aboutTexts[0], CMlsString::GetResourceString(eMessages, 110));
    EXPECT_EQ(aboutTexts[2].rfind(ProgramTextOf(ProgramText::AboutVersion) + L" ", 0), 0u);
    EXPECT_EQ(aboutTexts[3], ProgramTextOf(ProgramText::ButtonOk));

    // The shaft data dialog of a recognised selection.
    frame->RunCommand(morlane::kCmdRecognizeSelection);
    frame->RunCommand(morlane::kCmdShaftData);
    ASSERT_NE(frame->GetShaftDataDialog(), nullptr);
    EXPECT_EQ(frame->GetShaftDataDialog()->GetTitle().ToStdWstring(),
              ProgramTextOf(ProgramText::ShaftDataTitle));
    EXPECT_TRUE(frame->GetShaftDataText().StartsWith(
        wxString(ProgramTextOf(ProgramText::ShaftWord) + L" 1, ")))
        << frame->GetShaftDataText();
    Shot(frame->GetShaftDataDialog(), Name("shaft-data"));
    frame->GetShaftDataDialog()->Hide();

    // A message: a model file that cannot be opened, in the language's words.
    frame->QueueFileAnswer(L"/nonexistent/model.xml");
    frame->RunCommand(morlane::kCmdOpen);
    ASSERT_EQ(frame->GetMessages().size(), 1u);
    const std::wstring cannot = CMlsString::GetResourceString(eMessages, 3011);
    if (GetParam().code) {
      EXPECT_EQ(frame->GetMessages()[0].rfind(cannot, 0), 0u);
    }
  }
  EXPECT_FALSE(HasToolkitWarning(err.Take())) << err.Take();
}

INSTANTIATE_TEST_SUITE_P(Languages, WindowLanguage,
                         ::testing::Values(Language{"built-in", 0}, Language{"english", 2000},
                                           Language{"russian", 1049}),
                         [](const auto& info) {
                           return std::string(info.param.name) == "built-in"
                                      ? std::string("BuiltIn")
                                  : info.param.code == 2000 ? std::string("English")
                                                            : std::string("Russian");
                         });

TEST(WindowLayout, AVeryLongModelNameWidensTheLeftColumnOnlyUpTo60PercentOfTheWorkspace) {
  REQUIRE_DISPLAY();
  CMlsString::Clear();
  std::string pattern = (std::filesystem::temp_directory_path() / "morlane-long-XXXXXX").string();
  ASSERT_TRUE(mkdtemp(pattern.data()));
  const std::filesystem::path dir = pattern;
  const std::string longName(400, 'W');
  std::ofstream(dir / "long.xml") << "<?xml version=\"1.0\"?>\n<Model><Data>"
                                  << "<Object Type=\"Box\" Name=\"Short\"><GeometryParameters>"
                                  << "<Param Name=\"w\">10</Param><Param Name=\"h\">10</Param>"
                                  << "<Param Name=\"l\">10</Param></GeometryParameters></Object>"
                                  << "<Object Type=\"Box\" Name=\"" << longName
                                  << "\"><GeometryParameters><Param Name=\"w\">20</Param>"
                                  << "<Param Name=\"h\">20</Param><Param Name=\"l\">20</Param>"
                                  << "</GeometryParameters></Object></Data></Model>\n";
  ErrorStream err;
  {
    TestFrame frame;
    ASSERT_TRUE(frame.created);
    CSplitterView& ws = frame->GetView1();
    const int before = ws.GetSashPosition();
    ASSERT_TRUE(frame->OpenFile((dir / "long.xml").wstring()));
    morlane::SettleWindow(frame.frame);
    const int available = ws.GetClientSize().x - ws.GetSashSize();
    EXPECT_GT(ws.GetTreeObjectView().GetItemsFitWidth(), available) << "the name is long";
    EXPECT_GT(ws.GetSashPosition(), before) << "the column widened for the tree";
    EXPECT_NEAR(ws.GetSashPosition(), available * 3 / 5, 2) << "but only so far";
    EXPECT_GT(ws.GetObject3DView().GetClientSize().x, available / 3);
    EXPECT_TRUE(
        HeaderShowsItsWholeCaption(ws.GetPropertiesView(), "language-long-name-properties"));
    Shot(frame.frame, "language-long-name");
    // A model with short names again: the column narrows back to what the texts need.
    ASSERT_TRUE(frame->OpenFile(Example("drive.xml")));
    morlane::SettleWindow(frame.frame);
    EXPECT_LT(ws.GetSashPosition(), available / 2);
    EXPECT_GE(ws.GetSashPosition(), ws.GetPropertiesView().GetCaptionFitWidth());
  }
  std::filesystem::remove_all(dir);
  EXPECT_FALSE(HasToolkitWarning(err.Take())) << err.Take();
}

TEST(WindowLayout, AWindowMadeVerySmallAndLargeAgainHandsNoNegativeSizeToTheToolkit) {
  REQUIRE_DISPLAY();
  CMlsString::Clear();
  ASSERT_EQ(CMainFrame::LoadLocation(LanguageFile().c_str(), 1049), 1);
  ErrorStream err;
  {
    TestFrame frame;
    ASSERT_TRUE(frame.created);
    ASSERT_TRUE(frame->OpenFile(Example("drive.xml")));
    const wxSize full = frame->GetSize();
    for (const wxSize size : {wxSize(300, 200), wxSize(120, 90), wxSize(40, 30), wxSize(1, 1)}) {
      frame->SetSize(size);
      morlane::SettleWindow(frame.frame);
      for (CSplitterView* ws : {&frame->GetView1(), &frame->GetView2()})
        for (CHeaderPane* pane : {static_cast<CHeaderPane*>(&ws->GetTreeObjectView()),
                                  static_cast<CHeaderPane*>(&ws->GetPropertiesView())}) {
          EXPECT_GE(pane->GetSize().x, 0);
          EXPECT_GE(pane->GetSize().y, 0);
          const CHeaderPane::CaptionLayout caption = pane->GetCaptionLayout();
          EXPECT_LE(caption.x + caption.width, std::max(pane->GetClientSize().x, caption.x))
              << size.x << "x" << size.y << ": a shortened caption fits its pane";
        }
    }
    frame->SetSize(wxSize(300, 400));
    morlane::SettleWindow(frame.frame);
    // Too narrow for the caption: shortened with an ellipsis, never cut.
    const CHeaderPane::CaptionLayout narrow =
        frame->GetView1().GetPropertiesView().GetCaptionLayout();
    EXPECT_TRUE(narrow.shortened);
    EXPECT_EQ(narrow.text.back(), L'\u2026');
    Shot(frame.frame, "language-russian-small");
    frame->SetSize(full);
    morlane::SettleWindow(frame.frame);
    EXPECT_TRUE(HeaderShowsItsWholeCaption(frame->GetView1().GetPropertiesView(),
                                           "language-russian-large-again-properties"));
    Shot(frame.frame, "language-russian-large-again");
    frame->Close(true);
    wxTheApp->Yield(true);
    frame.created = false;  // closed: destroyed by the toolkit
    frame.frame = nullptr;
  }
  CMlsString::Clear();
  EXPECT_FALSE(HasToolkitWarning(err.Take())) << err.Take();
}

// The same window with the fonts at 144 dots per inch (GTK's font scale, which wxGTK 3.2 follows
// for its texts while the window's pixels stay): this binary again, with the language tests
// only, since the toolkit reads the scale when it starts.
TEST(WindowLayout, TheHeadersShowTheirWholeCaptionsAt144DotsPerInch) {
  REQUIRE_DISPLAY();
  if (std::getenv("GDK_DPI_SCALE")) GTEST_SKIP() << "already the run at 144 dots per inch";
  char self[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  const std::string log = (std::filesystem::temp_directory_path() /
                           ("morlane-dpi-" + std::to_string(getpid()) + ".txt"))
                              .string();
  const std::string command = std::string("GDK_DPI_SCALE=1.5 '") + self +
                              "' --gtest_filter='Languages/WindowLanguage.*' >'" + log + "' 2>&1";
  const int status = std::system(command.c_str());
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  std::filesystem::remove(log);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text.str();
  EXPECT_NE(text.str().find("[  PASSED  ] 3 tests"), std::string::npos) << text.str();
}

// The fit of the left column: at least what the texts need, at most 60 % of the workspace, and
// a drag of the user's wins over it; the grid's descriptions stay in its own area.
TEST(WindowLayout, TheLeftColumnFitsItsTextsUntilTheUserDragsTheBar) {
  REQUIRE_DISPLAY();
  CMlsString::Clear();
  TestFrame frame;
  ASSERT_TRUE(frame.created);
  CSplitterView& ws = frame->GetView1();
  const int available = ws.GetClientSize().x - ws.GetSashSize();
  ASSERT_GT(available, 400);
  const int needed =
      std::max(ws.GetTreeObjectView().GetFitWidth(), ws.GetPropertiesView().GetFitWidth());
  EXPECT_EQ(ws.GetFirstPaneFit(), needed);
  EXPECT_GE(ws.GetSashPosition(), needed);
  EXPECT_EQ(ws.BarPositionFor(available), ws.GetSashPosition());
  // A share below the fit: the fit; a fit beyond 60 %: 60 %; a share beyond the fit: the share.
  ws.SetInitialRatioH(0.05);
  ws.RecalcLayout();
  EXPECT_EQ(ws.GetSashPosition(), needed);
  ws.SetFirstPaneFit(available);
  EXPECT_EQ(ws.GetSashPosition(), available * 3 / 5);
  ws.SetInitialRatioH(0.7);
  ws.RecalcLayout();
  EXPECT_NEAR(ws.GetSashPosition(), available * 0.7, 1);
  EXPECT_EQ(ws.BarPositionFor(0), 0);
  EXPECT_EQ(ws.BarPositionFor(-5), 0);
  // The user drags the bar to a tenth: it stays there, narrower than the texts.
  ws.SetFirstPaneFit(needed);
  const int tenth = available / 10;
  ASSERT_TRUE(ws.OnSashPositionChange(tenth));
  ws.SetSashPosition(tenth);
  ws.RecalcLayout();
  EXPECT_NEAR(ws.GetSashPosition(), tenth, 1);
  morlane::SettleWindow(frame.frame);
  EXPECT_TRUE(ws.GetPropertiesView().GetCaptionLayout().shortened);

  // A row's description goes to the grid's area below the rows, not to the status line.
  const wxString status = frame->GetStatusBar()->GetStatusText();
  ASSERT_TRUE(frame->OpenFile(Example("shaft-grooves.xml")));
  CTreeObject* root = ws.GetRoot().get();
  ASSERT_NE(root, nullptr);
  ws.GetPropertiesView().UpdateObjectProperties(root);
  wxPropertyGrid& grid = ws.GetPropertiesView().GetGrid();
  wxPGProperty* first = grid.GetFirstChild(grid.GetRoot());
  ASSERT_NE(first, nullptr);
  first->SetHelpString("a description of the row");
  grid.SelectProperty(first);
  morlane::SettleWindow(frame.frame);
  EXPECT_EQ(frame->GetStatusBar()->GetStatusText(), status);
}

}  // namespace
