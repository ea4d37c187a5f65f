#include "gui/Languages.h"
#include "gui/ScriptedBackend.h"
#include "gui/WxBackend.h"
#include "package/LogSink.h"
#include "package/XmlSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

using namespace InstallGui;

namespace {

// A page with two values; refuses Next while "Accept" is not "yes".
class TestPage : public IPage {
 public:
  std::wstring GetName() const override { return L"DLG_LICENSE"; }
  bool SetField(const std::wstring& name, const std::wstring& value) override {
    if (name != L"Accept" && name != L"Path") return false;
    values[name] = value;
    return true;
  }
  std::wstring GetField(const std::wstring& name) const override {
    auto it = values.find(name);
    return it == values.end() ? L"" : it->second;
  }
  std::vector<std::wstring> FieldNames() const override { return {L"Accept", L"Path"}; }
  bool CanLeaveWithNext() override { return values[L"Accept"] == L"yes"; }
  void OnLeave(PageButton b) override { left.push_back(b); }

  std::map<std::wstring, std::wstring> values;
  std::vector<PageButton> left;
};

MessageRequest Box(const std::wstring& id, const std::wstring& text, unsigned style) {
  return {id, text, L"Caption", style};
}

}  // namespace

TEST(AnswerFile, MalformedLinesNameTheirLine) {
  EXPECT_THROW(ScriptedBackend("[page DLG_GREETING\nbutton = Next\n", L"a.txt"),
               std::runtime_error);
  EXPECT_THROW(ScriptedBackend("button = Next\n", L"a.txt"), std::runtime_error);
  EXPECT_THROW(ScriptedBackend("[window X]\n", L"a.txt"), std::runtime_error);
  try {
    ScriptedBackend("# comment\n\n[page X]\nno equals sign here\n", L"answers.txt");
    ADD_FAILURE() << "a line without '=' was accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("answers.txt, line 4"), std::string::npos) << e.what();
  }
}

TEST(AnswerFile, MessageBoxesByIdOrTextAndOnlyWithFittingAnswers) {
  ScriptedBackend b(
      "[message MsgBeginUpdate]\nanswer = no\n"
      "[message \"Save the log?\"]\nanswer = Yes\n"
      "[message MsgRights]\nanswer = Yes\n",
      L"t");
  EXPECT_EQ(b.ShowMessageBox(Box(L"MsgBeginUpdate", L"Update now?", MB_YESNO | MB_ICONQUESTION)),
            IDNO);
  // A literal text is answered by its quoted section.
  EXPECT_EQ(b.ShowMessageBox(Box(L"", L"Save the log?", MB_YESNO)), IDYES);
  // An answer that the box does not offer is refused, not bent into another answer.
  EXPECT_THROW(b.ShowMessageBox(Box(L"MsgRights", L"No rights", MB_OK | MB_ICONERROR)),
               UnansweredQuestion);
  // A plain OK box needs no answer.
  EXPECT_EQ(b.ShowMessageBox(Box(L"MsgVersionOS", L"Too old", MB_OK | MB_ICONERROR)), IDOK);
  // Any other question without an answer ends at once.
  try {
    b.ShowMessageBox(Box(L"MsgInstallError", L"Errors. Save the log?", MB_YESNO | MB_ICONQUESTION));
    ADD_FAILURE() << "an unanswered question was answered";
  } catch (const UnansweredQuestion& e) {
    EXPECT_NE(std::string(e.what()).find("MsgInstallError"), std::string::npos) << e.what();
  }
}

TEST(AnswerFile, RepeatedSectionsAreUsedInOrderAndTheLastStays) {
  ScriptedBackend b("[message Q]\nanswer = Yes\n[message q]\nanswer = No\n", L"t");
  EXPECT_EQ(b.ShowMessageBox(Box(L"Q", L"?", MB_YESNO)), IDYES);
  EXPECT_EQ(b.ShowMessageBox(Box(L"Q", L"?", MB_YESNO)), IDNO);
  EXPECT_EQ(b.ShowMessageBox(Box(L"Q", L"?", MB_YESNO)), IDNO);
  EXPECT_EQ(b.UseCount(L"message", L"Q"), 3);
}

TEST(AnswerFile, PagesGetTheirValuesAndButton) {
  ScriptedBackend b(
      "[page DLG_LICENSE]\nAccept = yes\nPath = \"C:\\Program Files\\X \"\nbutton = Next\n"
      "[page DLG_LICENSE]\nbutton = back\n",
      L"t");
  TestPage page;
  EXPECT_EQ(b.RunPageModal(page), PageButton::Next);
  EXPECT_EQ(page.values[L"Path"], L"C:\\Program Files\\X ");  // quotes keep the blank
  EXPECT_EQ(b.RunPageModal(page), PageButton::Back);
  ASSERT_EQ(page.left.size(), 2u);
  EXPECT_EQ(page.left[1], PageButton::Back);
}

TEST(AnswerFile, PageAnswersThatCannotBeCarriedOutEndTheRun) {
  TestPage page;
  // The page refuses Next: a person would stay, an answer file cannot try again.
  EXPECT_THROW(
      ScriptedBackend("[page DLG_LICENSE]\nAccept = no\nbutton = Next\n", L"t").RunPageModal(page),
      UnansweredQuestion);
  EXPECT_THROW(
      ScriptedBackend("[page DLG_LICENSE]\nColour = red\nbutton = Next\n", L"t").RunPageModal(page),
      UnansweredQuestion);
  EXPECT_THROW(ScriptedBackend("[page DLG_LICENSE]\nAccept = yes\n", L"t").RunPageModal(page),
               UnansweredQuestion);
  EXPECT_THROW(ScriptedBackend("[page DLG_LICENSE]\nbutton = Finish\n", L"t").RunPageModal(page),
               UnansweredQuestion);
  EXPECT_THROW(ScriptedBackend("[page DLG_GREETING]\nbutton = Next\n", L"t").RunPageModal(page),
               UnansweredQuestion);
  EXPECT_TRUE(page.left.empty());
}

TEST(AnswerFile, PagesAnsweredTheSameWayAgainAndAgainEndTheRun) {
  ScriptedBackend b("[page DLG_LICENSE]\nAccept = yes\nbutton = Back\n", L"t");
  TestPage page;
  EXPECT_THROW(
      {
        for (int i = 0; i < 100000; ++i) b.RunPageModal(page);
      },
      UnansweredQuestion);
}

TEST(AnswerFile, FileDialogs) {
  ScriptedBackend b(
      "[file-dialog SaveLogFile]\npath = C:\\Logs\\copy.log\n[file-dialog open]\nanswer = Cancel\n",
      L"t");
  FileDialogRequest save;
  save.titleId = L"SaveLogFile";
  save.title = L"Save LOG-file";
  EXPECT_EQ(b.ShowFileDialog(save).value_or(L""), L"C:\\Logs\\copy.log");
  FileDialogRequest open;
  open.save = false;
  EXPECT_FALSE(b.ShowFileDialog(open).has_value());
  ScriptedBackend none("", L"t");
  EXPECT_THROW(none.ShowFileDialog(save), UnansweredQuestion);
}

TEST(AnswerFile, AnswersAreLogged) {
  std::vector<std::wstring> lines;
  CommonTools::SetLogSink(
      [&](CommonTools::LogLevel, const std::wstring& t) { lines.push_back(t); });
  ScriptedBackend b("", L"t");
  b.ShowMessageBox(Box(L"", L"Installation is corrupted!", MB_ICONERROR));
  CommonTools::SetLogSink(nullptr);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], L"Message box: Installation is corrupted! -> OK");
}

TEST(MessageBoxStyles, AnswersOfEachStyle) {
  EXPECT_EQ(AllowedAnswers(MB_YESNO | MB_ICONQUESTION), (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(AllowedAnswers(MB_ABORTRETRYIGNORE), (std::vector<int>{IDABORT, IDRETRY, IDIGNORE}));
  EXPECT_EQ(AnswerFromName(L"rEtRy"), IDRETRY);
  EXPECT_EQ(AnswerFromName(L"Maybe"), 0);
  EXPECT_EQ(WxFilterFromWindowsFilter(L"Log-Files (*.log)|*.log|All Files (*.*)|*.*|"),
            L"Log-Files (*.log)|*.log|All Files (*.*)|*.*");
}

TEST(Languages, ReadsTheLocalizationElement) {
  CommonTools::CXmlSettings script;
  ASSERT_TRUE(script.LoadFromBytes(
      "<?xml version=\"1.0\"?><R><localization>"
      "<EN ID=\"1033\" Title=\"English\" SystemName=\"English\"><MESSAGES/></EN>"
      "<RU ID=\"1049\" Title=\"Russian\" SystemName=\"Russian\"/>"
      "</localization></R>"));
  GuiSettings::CLanguages languages(
      [&](CommonTools::SettingsNodePtr& root) { return script.GetRoot(root); });
  ASSERT_TRUE(languages.Load());
  EXPECT_EQ(languages.GetCount(), 2u);
  EXPECT_EQ(languages.FindById(1049), 1u);
  EXPECT_EQ(languages.FindById(7), 0u);  // an unknown ID selects the first language
  EXPECT_EQ(languages.GetId(5), -1);
  EXPECT_FALSE(languages.GetTitle(2).has_value());
  languages.SetCurrent(1);
  languages.SetCurrent(9);  // ignored
  EXPECT_EQ(languages.GetCurrent(), 1u);
  CommonTools::SettingsNodePtr node;
  ASSERT_TRUE(languages.GetCurrentNode(node));
  EXPECT_EQ(node->GetName(), L"RU");
}

TEST(Languages, RejectsIncompleteLanguages) {
  const char* bad[] = {
      "<?xml version=\"1.0\"?><R/>",
      "<?xml version=\"1.0\"?><R><Localization/></R>",
      "<?xml version=\"1.0\"?><R><Localization><EN ID=\"1033\" Title=\"\" "
      "SystemName=\"English\"/></Localization></R>",
      "<?xml version=\"1.0\"?><R><Localization><EN ID=\"-1\" Title=\"E\" "
      "SystemName=\"English\"/></Localization></R>",
      "<?xml version=\"1.0\"?><R><Localization><EN Title=\"E\" "
      "SystemName=\"English\"/></Localization></R>",
      "<?xml version=\"1.0\"?><R><Localization><EN ID=\"x\" Title=\"E\" "
      "SystemName=\"English\"/></Localization></R>",
      "<?xml version=\"1.0\"?><R><Localization><EN ID=\"1\" Title=\"E\" "
      "SystemName=\"E\"/>text</Localization></R>",
  };
  for (const char* doc : bad) {
    CommonTools::CXmlSettings script;
    ASSERT_TRUE(script.LoadFromBytes(doc)) << doc;
    GuiSettings::CLanguages languages(
        [&](CommonTools::SettingsNodePtr& root) { return script.GetRoot(root); });
    EXPECT_FALSE(languages.Load()) << doc;
  }
}

namespace {

// A page whose Cancel asks the run's question through the same back-end.
class AskingPage : public TestPage {
 public:
  AskingPage(ScriptedBackend& b, bool finish) : m_backend(b), m_finish(finish) {}
  bool CanCancel() const override { return !m_finish; }
  bool ConfirmCancel() override {
    ++asked;
    return m_backend.ShowMessageBox(
               Box(L"MsgCancellInstallation", L"Really?", MB_YESNO | MB_ICONQUESTION)) == IDYES;
  }
  int asked = 0;

 private:
  ScriptedBackend& m_backend;
  bool m_finish;
};

}  // namespace

TEST(AnswerFile, CancelIsTheCancelAndItsYesUnlessTheFileAnswersTheQuestion) {
  // No answer for the question: "button = Cancel" stands for both.
  ScriptedBackend plain("[page DLG_LICENSE]\nbutton = Cancel\n", L"t");
  AskingPage p1(plain, false);
  EXPECT_EQ(plain.RunPageModal(p1), PageButton::Cancel);
  EXPECT_EQ(p1.asked, 0);

  // The file answers the question: No keeps the page for its next answer.
  ScriptedBackend asked(
      "[page DLG_LICENSE]\nbutton = Cancel\n[message MsgCancellInstallation]\nanswer = No\n"
      "[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n",
      L"t");
  AskingPage p2(asked, false);
  EXPECT_EQ(asked.RunPageModal(p2), PageButton::Next);
  EXPECT_EQ(p2.asked, 1);
  ASSERT_EQ(p2.left.size(), 1u);
  EXPECT_EQ(p2.left[0], PageButton::Next);

  // Cancel on a page that ignores it (the finish page) cannot be carried out.
  ScriptedBackend finish("[page DLG_LICENSE]\nbutton = Cancel\n", L"t");
  AskingPage p3(finish, true);
  EXPECT_THROW(finish.RunPageModal(p3), UnansweredQuestion);
  EXPECT_TRUE(p3.left.empty());
}

TEST(AnswerFile, ScreenshotFolderFromTheFileOrTheEnvironment) {
  ScriptedBackend b("[screenshots]\nfolder = /tmp/shots here\n", L"t");
  EXPECT_EQ(b.ScreenshotFolder(), "/tmp/shots here");
  EXPECT_THROW(ScriptedBackend("[screenshots x]\nfolder = y\n", L"t"), std::runtime_error);
  EXPECT_THROW(ScriptedBackend("[page]\nbutton = Next\n", L"t"), std::runtime_error);
  ScriptedBackend none("[page X]\nbutton = Next\n", L"t");
  unsetenv("TOLMERA_SCREENSHOTS");
  EXPECT_EQ(none.ScreenshotFolder(), "");
  setenv("TOLMERA_SCREENSHOTS", "/tmp/from-env", 1);
  EXPECT_EQ(none.ScreenshotFolder(), "/tmp/from-env");
  EXPECT_EQ(b.ScreenshotFolder(), "/tmp/shots here");  // the file's own folder first
  unsetenv("TOLMERA_SCREENSHOTS");
}

TEST(AnswerFile, DefaultsAnswerWhatTheFileLeavesOpenWithTheDefaultButton) {
  ScriptedBackend b("[defaults]\nbutton = default\n[message MsgBeginUpdate]\nanswer = No\n", L"t");
  // Sections still win; then the box's default button: the first, or the one its style names.
  EXPECT_EQ(b.ShowMessageBox(Box(L"MsgBeginUpdate", L"Update now?", MB_YESNO)), IDNO);
  EXPECT_EQ(b.ShowMessageBox(Box(L"MsgAskStart", L"Start it?", MB_YESNO)), IDYES);
  EXPECT_EQ(b.ShowMessageBox(Box(L"MsgAskStart", L"Start it?", MB_YESNO | MB_DEFBUTTON2)), IDNO);
  EXPECT_EQ(b.ShowMessageBox(Box(L"", L"Really?", MB_YESNOCANCEL | MB_DEFBUTTON3)), IDCANCEL);
  EXPECT_EQ(b.ShowMessageBox(Box(L"", L"Go on?", MB_RETRYCANCEL)), IDRETRY);
  // A page without a section is left with Next as it stands, when it takes Next so.
  TestPage page;
  page.values[L"Accept"] = L"yes";
  EXPECT_EQ(b.RunPageModal(page), PageButton::Next);
  ASSERT_EQ(page.left.size(), 1u);
  TestPage refusing;
  EXPECT_THROW(b.RunPageModal(refusing), UnansweredQuestion);
  EXPECT_TRUE(refusing.left.empty());
  // File dialogs are not questions with a default button.
  EXPECT_THROW(b.ShowFileDialog({true, L"SaveLogFile", L"Save", L"x.log", L"", 0}),
               UnansweredQuestion);
  // Without the section nothing is answered for the file.
  ScriptedBackend plain("[page X]\nbutton = Next\n", L"t");
  EXPECT_THROW(plain.ShowMessageBox(Box(L"MsgAskStart", L"Start it?", MB_YESNO)),
               UnansweredQuestion);
  // The section takes one value only.
  EXPECT_THROW(ScriptedBackend("[defaults]\nbutton = Next\n", L"t"), std::runtime_error);
  EXPECT_THROW(ScriptedBackend("[defaults X]\nbutton = default\n", L"t"), std::runtime_error);
}
