// The licence page: the file's encodings, the accept box and what the package must give.
#include "gui/ScriptedBackend.h"
#include "gui/pages/DlgLicense.h"
#include "gui/tests/PageTestSupport.h"
#include "package/DataStorage.h"
#include "package/tests/TestArchive.h"
#include "platform/Files.h"
#include "testing/MachineFixture.h"

#include <stdexcept>

using namespace InstallGui;

TEST(LicenseText, EncodingsByTheirMarks) {
  bool unsupported = true;
  EXPECT_EQ(DecodeLicenseText("\xEF\xBB\xBF\xD0\x9B\xD0\xB8", 1252, &unsupported), L"Ли");
  EXPECT_FALSE(unsupported);
  // UTF-16 with its mark, both byte orders, is shown.
  EXPECT_EQ(DecodeLicenseText(std::string("\xFF\xFE"
                                          "A\0B\0",
                                          6),
                              1252, &unsupported),
            L"AB");
  EXPECT_FALSE(unsupported);
  EXPECT_EQ(DecodeLicenseText(std::string("\xFE\xFF\0A\0B", 6), 1252, &unsupported), L"AB");
  // UTF-32 and mark-less UTF-16 are not read.
  EXPECT_EQ(DecodeLicenseText(std::string("\xFF\xFE\0\0A\0\0\0", 8), 1252, &unsupported), L"");
  EXPECT_TRUE(unsupported);
  EXPECT_EQ(DecodeLicenseText(std::string("T\0e\0x\0t\0", 8), 1252, &unsupported), L"");
  EXPECT_TRUE(unsupported);
  // ANSI in the machine's code page, up to the first zero byte; fewer than 4 bytes: nothing.
  EXPECT_EQ(DecodeLicenseText(std::string("\xC4hre\0rest", 9), 1252, &unsupported), L"Ähre");
  EXPECT_FALSE(unsupported);
  EXPECT_EQ(DecodeLicenseText("\xC4hr", 1252, &unsupported), L"");
  EXPECT_EQ(DecodeLicenseText("\xCB\xE8\xF6\xE5", 1251, nullptr), L"Лице");
}

namespace {

class LicensePage : public ::testing::Test {
 protected:
  // A package holding `file` as license\en.txt.
  std::shared_ptr<DataStorage::CDataStorage> Package(const std::string& file) {
    std::string host = machine().Base() + "/Setup.data";
    EXPECT_TRUE(tltest::WriteZip(host, {{"license/en.txt", file}}));
    auto storage = std::make_shared<DataStorage::CDataStorage>();
    EXPECT_TRUE(storage->Open(platform::HostToWindowsPath(host), nullptr));
    return storage;
  }
  tltest::ScopedMachine& machine() { return m_machine; }
  tltest::ScopedMachine m_machine;
};

const std::string kSection =
    "<DLG_LICENSE Caption=\"Licence\"><LICENSE Path=\"license\\en.txt\"/>"
    "<TEXT Caption=\"Read it\"/><BUTTON_ACCEPT Caption=\"I accept\"/></DLG_LICENSE>";

}  // namespace

TEST_F(LicensePage, TheAcceptBoxAloneLetsThePersonGoOn) {
  pagetest::PageScript script(pagetest::English(kSection));
  auto storage = Package("\xEF\xBB\xBFThe licence.");
  CDlgLicense page(storage);
  page.SetServices(script.Services());
  pagetest::Show(page);
  EXPECT_EQ(page.Text(), L"The licence.");
  EXPECT_EQ(page.ControlText(kLicenseAccept), L"I accept");
  EXPECT_TRUE(page.IsControlDisabled(kControlNext));
  EXPECT_FALSE(page.Press(PageButton::Next));
  ASSERT_TRUE(page.SetField(L"Accept", L"yes"));
  EXPECT_FALSE(page.IsControlDisabled(kControlNext));
  // Unchecking disables Next again.
  page.SetAccepted(false);
  EXPECT_TRUE(page.IsControlDisabled(kControlNext));
  EXPECT_FALSE(page.SetField(L"Accept", L"maybe"));
  page.SetAccepted(true);
  EXPECT_TRUE(page.Press(PageButton::Next));
  // Nothing is stored: a new page starts unchecked.
  EXPECT_TRUE(script.userSettings.values.empty());
  CDlgLicense again(storage);
  EXPECT_FALSE(again.Accepted());
  storage->Close();
}

TEST_F(LicensePage, AnUnsupportedEncodingShowsNothingAndIsLogged) {
  pagetest::PageScript script(pagetest::English(kSection));
  auto storage = Package(std::string("L\0i\0c\0e\0n\0c\0e\0", 14));
  CDlgLicense page(storage);
  page.SetServices(script.Services());
  pagetest::LogLines log;
  pagetest::Show(page);
  EXPECT_EQ(page.Text(), L"");
  EXPECT_TRUE(log.Has("1 License file encoding is not supported. Only UFT-8 or ANSI allowed."));
  storage->Close();
}

TEST_F(LicensePage, ASectionWithoutItsFileEndsTheRun) {
  auto storage = Package("some text");
  {
    pagetest::PageScript script(pagetest::English("<DLG_LICENSE Caption=\"L\"/>"));
    CDlgLicense page(storage);
    page.SetServices(script.Services());
    EXPECT_THROW(pagetest::Show(page), std::runtime_error);
  }
  {
    pagetest::PageScript script(
        pagetest::English("<DLG_LICENSE><LICENSE Path=\"license\\missing.txt\"/></DLG_LICENSE>"));
    CDlgLicense page(storage);
    page.SetServices(script.Services());
    EXPECT_THROW(pagetest::Show(page), std::runtime_error);
  }
  storage->Close();
}

TEST_F(LicensePage, AnAnswerFileCannotGoOnWithoutAccepting) {
  pagetest::PageScript script(pagetest::English(kSection));
  auto storage = Package("\xEF\xBB\xBFThe licence.");
  CDlgLicense page(storage);
  page.SetServices(script.Services());
  page.LoadSettings();
  pagetest::LogLines log;
  ScriptedBackend answers("[page DLG_LICENSE]\nbutton = Next\n", L"answers.txt");
  try {
    answers.RunPageModal(page);
    ADD_FAILURE() << "Next without accepting was taken";
  } catch (const UnansweredQuestion& e) {
    EXPECT_NE(std::string(e.what()).find("The page DLG_LICENSE does not accept"), std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(log.Has("1 CDlgLicense: Next is not possible before the agreement is accepted"));
  // The file's own "Accept = yes" is the person's tick.
  ScriptedBackend accepted("[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n", L"answers.txt");
  EXPECT_EQ(accepted.RunPageModal(page), PageButton::Next);
  storage->Close();
}
