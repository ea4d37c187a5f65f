// Setup as a person runs it: no answer file, its windows on a display of the test's own
// (640 by 480, 1366 by 768, 1920 by 1080), under the openbox window manager and without one,
// driven by synthetic keys alone or clicks alone, as the X test extension delivers them. Each
// page and question is found by the run log's line that says where it was placed; the screen
// is photographed there (PNGs in <build>/screenshots) and its pixels show that the buttons are
// on the screen and not hidden behind the main window. At the end the sample product is
// installed and recorded.
#include "app/tests/SetupProcess.h"
#include "gui/pages/BasePage.h"
#include "gui/pages/DlgLicense.h"
#include "gui/pages/OptionPages.h"
#include "testing/MachineFixture.h"
// Last: the X headers' macros (None, Status ...) would clash with the names above.
#include "app/tests/XSession.h"

#include <gtest/gtest.h>
#include <wx/image.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace setuptest;

namespace {

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  int CentreX() const { return x + width / 2; }
  int CentreY() const { return y + height / 2; }
};

// "x,y wxh" as the placement lines write a rectangle.
bool ParseRect(const std::string& text, Rect& r) {
  return std::sscanf(text.c_str(), "%d,%d %dx%d", &r.x, &r.y, &r.width, &r.height) == 4;
}

// A placement line: "<what> placed at x,y wxh[, scrolled]; Next x,y wxh; #1011 x,y wxh ...".
struct Placement {
  Rect window;
  std::map<std::string, Rect> parts;  // "Next", "Yes", "#1011" ...
  bool found = false;
};

Placement ParsePlacement(const std::string& line) {
  Placement p;
  std::size_t at = line.find(" placed at ");
  if (at == std::string::npos) return p;
  std::stringstream rest(line.substr(at + 11));
  std::string item;
  bool first = true;
  while (std::getline(rest, item, ';')) {
    while (!item.empty() && item.front() == ' ') item.erase(0, 1);
    if (first) {
      p.found = ParseRect(item, p.window);
      first = false;
      continue;
    }
    std::size_t space = item.find(' ');
    Rect r;
    if (space != std::string::npos && ParseRect(item.substr(space + 1), r))
      p.parts[item.substr(0, space)] = r;
  }
  return p;
}

enum class Driver { Keys, Clicks };

struct DisplayCase {
  int width, height;
  bool windowManager;
  Driver driver;
  int panel = 0;  // the height of a panel at the top of the screen (with the window manager)
};

std::string CaseName(const DisplayCase& c) {
  return std::to_string(c.width) + "x" + std::to_string(c.height) +
         (c.windowManager ? "_openbox" : "_bare") + (c.panel ? "_panel" : "") +
         (c.driver == Driver::Keys ? "_keys" : "_clicks");
}

void PrintTo(const DisplayCase& c, std::ostream* out) { *out << CaseName(c); }

std::string ShotFolder() {
  const char* build = std::getenv("TOLMERA_BUILD_DIR");
  std::string folder = std::string(build ? build : ".") + "/screenshots";
  std::filesystem::create_directories(folder);
  return folder;
}

int Brightness(const wxImage& image, int x, int y) {
  return (image.GetRed(x, y) + image.GetGreen(x, y) + image.GetBlue(x, y)) / 3;
}

class RealDisplay : public ::testing::TestWithParam<DisplayCase> {
 protected:
  void SetUp() override {
    const char* build = std::getenv("TOLMERA_BUILD_DIR");
    ASSERT_NE(build, nullptr) << "run through ctest";
    m_package = std::string(build) + "/examples/sample-product/Setup.data";
    ASSERT_TRUE(std::filesystem::exists(m_package)) << m_package;
    for (const char* tool : {"Xvfb", "openbox", "xdotool"})
      if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0)
        GTEST_SKIP() << tool << " is not installed (scripts/deps)";
    wxInitAllImageHandlers();
    // The pictures of an earlier run of this case go.
    const std::string mine = "display-" + CaseName(GetParam()) + "-";
    for (const auto& e : std::filesystem::directory_iterator(ShotFolder()))
      if (e.path().filename().string().rfind(mine, 0) == 0) std::filesystem::remove(e.path());
  }

  std::string Log() const {
    return tltest::ReadHostFile(m_machine.C("ProgramData/TOLMERA/tlinstall.log"));
  }

  // The `occurrence`-th log line (from 1) that starts its text with `start` and holds `holds`;
  // waited for at most 20 seconds, or while Setup runs.
  std::string WaitForLine(const std::string& start, const std::string& holds, int occurrence,
                          PersonsSetup& setup) {
    const std::string mark = "INFO : " + start;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      std::string log = Log();
      int seen = 0;
      for (std::size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) {
        std::size_t end = log.find("\r\n", at);
        if (end == std::string::npos) break;
        std::string line = log.substr(at + 7, end - at - 7);
        if (line.find(holds) != std::string::npos && ++seen == occurrence) return line;
      }
      if (!setup.Running()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return "";
  }

  // The next page: its placement line, a picture of the screen, and the checks that each of its
  // buttons lies whole on the screen and shows as a button there (light, with its text).
  Placement Page(const std::string& name, PersonsSetup& setup, XSession& x) {
    std::string line = WaitForLine("Page " + name + " placed at", "", 1, setup);
    Placement p = ParsePlacement(line);
    EXPECT_TRUE(p.found) << name << " was not shown\n" << Log();
    if (!p.found) return p;
    std::vector<Rect> buttons;
    for (const char* button : {"Back", "Next", "Cancel"})
      if (auto it = p.parts.find(button); it != p.parts.end()) buttons.push_back(it->second);
    wxImage screen = PhotographWhenShown(x, "page-" + name, buttons);
    EXPECT_TRUE(Inside(p.window, x)) << name << " " << line;
    for (const char* button : {"Back", "Next", "Cancel"})
      if (auto it = p.parts.find(button); it != p.parts.end())
        ExpectButtonShown(screen, it->second, x, name + " " + button);
    EXPECT_TRUE(p.parts.count("Next")) << line;
    return p;
  }

  Placement Question(int occurrence, PersonsSetup& setup, XSession& x, const std::string& what) {
    std::string line = WaitForLine("Message box: ", " placed at ", occurrence, setup);
    Placement p = ParsePlacement(line);
    EXPECT_TRUE(p.found) << what << " was not asked\n" << Log();
    if (!p.found) return p;
    std::vector<Rect> buttons;
    for (auto& [name, r] : p.parts) buttons.push_back(r);
    wxImage screen = PhotographWhenShown(x, "message-" + std::to_string(occurrence), buttons);
    EXPECT_TRUE(Inside(p.window, x)) << line;
    for (auto& [name, r] : p.parts) ExpectButtonShown(screen, r, x, what + " " + name);
    return p;
  }

  wxImage Photograph(XSession& x, const std::string& what) {
    wxImage image = x.Screen();
    EXPECT_TRUE(image.IsOk());
    char number[16];
    std::snprintf(number, sizeof number, "%02d-", ++m_shots);
    if (image.IsOk())
      image.SaveFile(wxString::FromUTF8(ShotFolder() + "/display-" + CaseName(GetParam()) + "-" +
                                        number + what + ".png"),
                     wxBITMAP_TYPE_PNG);
    return image;
  }

  // The screen once every one of `buttons` shows as a button (a window drawn a moment late
  // under load is waited for, at most 3 seconds), photographed; the caller checks it.
  wxImage PhotographWhenShown(XSession& x, const std::string& what,
                              const std::vector<Rect>& buttons) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    while (std::chrono::steady_clock::now() < deadline) {
      wxImage now = x.Screen();
      bool all = now.IsOk();
      for (const Rect& r : buttons) all = all && LooksLikeButton(now, r, x);
      if (all) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return Photograph(x, what);
  }

  // Inside the screen, below its panel.
  static bool Inside(const Rect& r, const XSession& x) {
    return r.x >= 0 && r.y >= GetParam().panel && r.x + r.width <= x.Width() &&
           r.y + r.height <= x.Height() && r.width > 0 && r.height > 0;
  }

  // A button's pixels: its mean brightness and how many are dark (its text).
  struct ButtonPixels {
    int mean = 0, dark = 0, count = 0;
  };
  static ButtonPixels PixelsOf(const wxImage& screen, const Rect& r) {
    ButtonPixels out;
    long sum = 0;
    for (int py = r.y + 3; py < r.y + r.height - 3; ++py)
      for (int px = r.x + 3; px < r.x + r.width - 3; ++px) {
        int b = Brightness(screen, px, py);
        sum += b;
        out.dark += b < 190;
        ++out.count;
      }
    out.mean = out.count ? static_cast<int>(sum / out.count) : 0;
    return out;
  }
  // A button on the screen: whole inside it, mostly light (the pictures behind the pages are
  // dark, the screen's empty root is black) and with darker pixels of its text.
  static bool LooksLikeButton(const wxImage& screen, const Rect& r, const XSession& x) {
    if (!Inside(r, x)) return false;
    ButtonPixels p = PixelsOf(screen, r);
    return p.count > 0 && p.mean > 170 && p.dark >= 8;
  }
  void ExpectButtonShown(const wxImage& screen, const Rect& r, const XSession& x,
                         const std::string& what) {
    ASSERT_TRUE(Inside(r, x)) << what << " at " << r.x << "," << r.y << " " << r.width << "x"
                              << r.height << " is off the " << x.Width() << "x" << x.Height()
                              << " screen";
    ButtonPixels p = PixelsOf(screen, r);
    ASSERT_GT(p.count, 0) << what;
    EXPECT_GT(p.mean, 170) << what << " does not show as a button";
    EXPECT_GE(p.dark, 8) << what << " shows no text";
  }

  void Press(XSession& x, const std::string& keys) { EXPECT_TRUE(x.Key(keys)) << keys; }
  void ClickOn(XSession& x, const Placement& p, const std::string& part) {
    auto it = p.parts.find(part);
    ASSERT_NE(it, p.parts.end()) << part << " is not on the page";
    EXPECT_TRUE(x.Click(it->second.CentreX(), it->second.CentreY())) << part;
  }

  tltest::ScopedMachine m_machine;
  std::string m_package;
  int m_shots = 0;
};

std::string Number(int id) { return std::string("#").append(std::to_string(id)); }

int LocalRowControl() {
  for (const auto& row : InstallGui::COptionPage::Rows(InstallGui::OptionTable::InstallType))
    if (row.installType == 4) return row.controlId;
  return 0;
}

TEST_P(RealDisplay, TheSampleIsInstalledThroughEveryPageWithinTheScreen) {
  const DisplayCase& c = GetParam();
  XSession x(c.width, c.height, c.windowManager, m_machine.Base() + "/session");
  ASSERT_TRUE(x.Ok()) << x.Error();
  if (c.panel) {
    ASSERT_TRUE(x.AddTopPanel(c.panel)) << "the work area did not change";
  }
  PersonsSetup setup(m_machine.Root(), {"/X", m_package}, x.Name());
  ASSERT_TRUE(setup.Started());
  const bool keys = c.driver == Driver::Keys;
  int questions = 0;

  // The main window: its picture (800 by 600) centred in the screen the wizard uses, or cut to
  // it; showing, not the empty screen.
  Placement main = ParsePlacement(WaitForLine("Main window placed at ", "", 1, setup));
  ASSERT_TRUE(main.found) << Log();
  EXPECT_TRUE(Inside(main.window, x));
  const int areaHeight = c.height - c.panel;
  EXPECT_EQ(main.window.width, std::min(800, c.width));
  EXPECT_EQ(main.window.height, std::min(600, areaHeight));
  EXPECT_EQ(main.window.x, std::max(0, (c.width - 800) / 2));
  EXPECT_EQ(main.window.y, c.panel + std::max(0, (areaHeight - 600) / 2));

  Placement greeting = Page("DLG_GREETING", setup, x);
  ASSERT_TRUE(greeting.found);
  {
    // The main window behind the page shows its picture (not the black of an empty screen).
    wxImage screen = x.Screen();
    const Rect& g = greeting.window;
    int picture = 0, visible = 0;
    for (int py = main.window.y; py < main.window.y + main.window.height; py += 4)
      for (int px = main.window.x; px < main.window.x + main.window.width; px += 4) {
        if (px >= g.x && px < g.x + g.width && py >= g.y && py < g.y + g.height) continue;
        ++visible;
        picture += Brightness(screen, px, py) > 20;
      }
    EXPECT_GE(picture * 10, visible * 9) << "the main window does not show";
  }
  if (keys) {
    // Escape asks whether to cancel; the page stays in front of the main window meanwhile, and
    // No (Alt+N) keeps it.
    Press(x, "Escape");
    Placement cancel = Question(++questions, setup, x, "the cancel question");
    ASSERT_TRUE(cancel.found);
    wxImage screen = x.Screen();
    ExpectButtonShown(screen, greeting.parts["Next"], x, "the greeting's Next behind the question");
    // The question's icon: a blue disc at its left.
    int blue = 0;
    for (int py = cancel.window.y; py < cancel.window.y + cancel.window.height; ++py)
      for (int px = cancel.window.x; px < cancel.window.x + 70; ++px)
        if (screen.GetBlue(px, py) > 150 && screen.GetRed(px, py) < 80) ++blue;
    EXPECT_GT(blue, 200) << "the question shows no icon";
    EXPECT_EQ(cancel.parts.count("Yes") + cancel.parts.count("No"), 2u);
    // Its title is the script's "MsgCaption" (a window of that title where the box is).
    bool titled = false;
    for (const auto& w : x.WindowsTitled("TOLMERA Design 7 Setup"))
      titled = titled ||
               (std::abs(w.x - cancel.window.x) <= 40 && std::abs(w.y - cancel.window.y) <= 40 &&
                std::abs(w.width - cancel.window.width) <= 40);
    EXPECT_TRUE(titled) << "no window titled with the caption where the question is";
    Press(x, "alt+n");
    EXPECT_NE(WaitForLine("Message box: ", " -> No", 1, setup), "");
    // The question gone, the page is still in front, and Return is still its Next.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ExpectButtonShown(
        PhotographWhenShown(x, "page-DLG_GREETING-after-the-question", {greeting.parts["Next"]}),
        greeting.parts["Next"], x, "the greeting's Next after the question");
    Press(x, "Return");
  } else {
    ClickOn(x, greeting, "Next");
  }

  Placement language = Page("DLG_LANGUAGE_SELECTION", setup, x);
  ASSERT_TRUE(language.found);
  if (!c.windowManager) {
    // A second copy started meanwhile brings the first forward and ends: the page stays in
    // front of the main window (no window manager keeps the order for it).
    PersonsSetup second(m_machine.Root(), {"/X", m_package}, x.Name());
    EXPECT_EQ(second.Wait(30).exitCode, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ExpectButtonShown(PhotographWhenShown(x, "page-DLG_LANGUAGE_SELECTION-after-a-second-copy",
                                          {language.parts["Next"]}),
                      language.parts["Next"], x, "the language page's Next after a second copy");
  }
  if (keys && !c.windowManager) {
    // Another language chosen with the arrow keys (from Next back to the list) and the first
    // one again: the page and the main window are localised again each time, and the main
    // window, arranged anew, stays behind the page (no window manager keeps the order for it).
    wxImage before = x.Screen();
    Press(x, "shift+Tab shift+Tab Down");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    wxImage russian = PhotographWhenShown(x, "page-DLG_LANGUAGE_SELECTION-in-another-language",
                                          {language.parts["Next"]});
    int changed = 0;
    const Rect& w = language.window;
    for (int py = w.y; py < w.y + w.height; py += 2)
      for (int px = w.x; px < w.x + w.width; px += 2)
        changed += Brightness(before, px, py) != Brightness(russian, px, py);
    EXPECT_GT(changed, 200) << "the language did not change";
    ExpectButtonShown(russian, language.parts["Next"], x,
                      "the language page's Next after a change of language");
    Press(x, "Up");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    ExpectButtonShown(PhotographWhenShown(x, "page-DLG_LANGUAGE_SELECTION-in-the-first-again",
                                          {language.parts["Next"]}),
                      language.parts["Next"], x,
                      "the language page's Next after the first language again");
    Press(x, "Tab Tab Return");
  } else {
    keys ? Press(x, "Return") : ClickOn(x, language, "Next");
  }

  Placement license = Page("DLG_LICENSE", setup, x);
  ASSERT_TRUE(license.found);
  if (keys) {
    // Alt and the underlined letter tick the box, or Tab from the licence text to the box and
    // Space; Return is the default button, Next.
    Press(x, c.windowManager ? "alt+a" : "Tab space");
    Press(x, "Return");
  } else {
    ClickOn(x, license, Number(InstallGui::kLicenseAccept));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ClickOn(x, license, "Next");
  }

  Placement type = Page("DLG_INSTALL_TYPE", setup, x);
  ASSERT_TRUE(type.found);
  if (keys) {
    // Tab from the first option to the next, Space chooses it; then Tab through the rest of the
    // page in order (Export..., Back, Next), and Space presses the button with the focus.
    Press(x, "Tab space");
    Press(x, c.windowManager ? "Tab Tab Tab space" : "Return");
  } else {
    ClickOn(x, type, Number(LocalRowControl()));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ClickOn(x, type, "Next");
  }

  for (const char* name : {"DLG_DESTINATION", "DLG_COMPONENTS", "DLG_SUMMARY"}) {
    Placement p = Page(name, setup, x);
    ASSERT_TRUE(p.found);
    keys ? Press(x, "Return") : ClickOn(x, p, "Next");
  }

  // The file types are registered (Yes, the default), the product is not started (No).
  Placement registerTypes = Question(++questions, setup, x, "the file types question");
  ASSERT_TRUE(registerTypes.found);
  keys ? Press(x, "Return") : ClickOn(x, registerTypes, "Yes");
  Placement start = Question(++questions, setup, x, "the start question");
  ASSERT_TRUE(start.found);
  keys ? Press(x, "alt+n") : ClickOn(x, start, "No");

  Placement finish = Page("DLG_FINISH", setup, x);
  ASSERT_TRUE(finish.found);
  keys ? Press(x, "Return") : ClickOn(x, finish, "Next");

  Outcome o = setup.Wait(30);
  EXPECT_EQ(o.exitCode, 0) << o.stderrText;
  std::string log = Log();
  EXPECT_NE(log.find("INFO : Message box: Register the file types of TOLMERA Design 7 now? -> Yes"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("INFO : Message box: Start TOLMERA Design 7 now? -> No"), std::string::npos)
      << log;
  EXPECT_NE(log.find("INFO : TOLMERAInstall Finish\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("ERROR : "), std::string::npos) << log;
  // Installed as a local installation, and recorded so.
  EXPECT_TRUE(std::filesystem::exists(
      m_machine.C("Program Files (x86)/TOLMERA Design 7/bin/TolmeraDesign.exe")));
  std::string record = tltest::ReadHostFile(m_machine.C("ProgramData/TOLMERA/TolmeraInstall.cfg"));
  std::wstring text;
  for (std::size_t i = 2; i + 1 < record.size(); i += 2)
    text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(record[i]) |
                                        (static_cast<unsigned char>(record[i + 1]) << 8)));
  EXPECT_NE(text.find(L"Type=\"Local\""), std::wstring::npos) << record;
  EXPECT_NE(text.find(L"Build=\"7120\""), std::wstring::npos);
  EXPECT_NE(text.find(L"PV=\"TDESIGN\""), std::wstring::npos);
}

// Every size with and without the window manager, each driven one way; keys where a page must
// scroll (a click would need the part scrolled into view first).
INSTANTIATE_TEST_SUITE_P(Screens, RealDisplay,
                         ::testing::Values(DisplayCase{640, 480, true, Driver::Keys},
                                           DisplayCase{640, 480, false, Driver::Keys},
                                           DisplayCase{1366, 768, true, Driver::Keys, 40},
                                           DisplayCase{1366, 768, false, Driver::Clicks},
                                           DisplayCase{1920, 1080, true, Driver::Clicks},
                                           DisplayCase{1920, 1080, false, Driver::Keys}),
                         [](const ::testing::TestParamInfo<DisplayCase>& info) {
                           return CaseName(info.param);
                         });

}  // namespace
