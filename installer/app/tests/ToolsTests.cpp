#include "app/Restart.h"
#include "app/Tools.h"
#include "app/tests/ToolsFixture.h"
#include "gui/ScriptedBackend.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Restart.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

using namespace InstallManager;

namespace {

using apptest::ToolsFixture;

const char* kScript =
    "<?xml version=\"1.0\"?><R><Localization>"
    "<EN ID=\"1033\" Title=\"English\" SystemName=\"English\"><messages>"
    "<MsgTwoLines Caption=\"First line.\\nSecond line.\"/><msgcaption Caption=\"Sample Setup\"/>"
    "</messages></EN>"
    "<DE ID=\"1031\" Title=\"Deutsch\" SystemName=\"German\"><MESSAGES><OnlyGerman Caption=\"Nur "
    "deutsch\"/></MESSAGES></DE>"
    "</Localization></R>";

}  // namespace

TEST_F(ToolsFixture, MessagesOfTheCurrentLanguage) {
  Load(kScript);
  EXPECT_EQ(GetGuiTools().GetMessage(L"MsgTwoLines"), L"First line.\nSecond line.");
  // Another language's message is not looked up; each miss is one warning.
  EXPECT_EQ(GetGuiTools().GetMessage(L"OnlyGerman"), L"");
  EXPECT_EQ(GetGuiTools().GetMessage(L"OnlyGerman"), L"");
  EXPECT_EQ(Count(L"WARNING : Message with ID = 'OnlyGerman' was not found in script!\r\n"), 2);
  GetGuiTools().Languages().SetCurrent(1);
  EXPECT_EQ(GetGuiTools().GetMessage(L"OnlyGerman"), L"Nur deutsch");
}

TEST_F(ToolsFixture, MessageBoxesShowTheIdWhenTheScriptHasNoText) {
  Load(kScript);
  auto ui = std::make_shared<InstallGui::ScriptedBackend>("", L"answers");
  GetGuiTools().SetUiBackend(ui);
  EXPECT_EQ(GetGuiTools().ShowMessage(L"MsgTwoLines", InstallGui::MB_ICONERROR), InstallGui::IDOK);
  EXPECT_EQ(Count(L"INFO : Message box: First line.\nSecond line. -> OK\r\n"), 1);

  // Without "MsgCaption" in the current language: the ID is shown, two warnings are logged.
  GetGuiTools().Languages().SetCurrent(1);
  EXPECT_EQ(GetGuiTools().ShowMessage(L"MsgMissing", InstallGui::MB_OK), InstallGui::IDOK);
  EXPECT_EQ(Count(L"WARNING : Message with ID = 'MsgMissing' was not found in script!\r\n"), 1);
  EXPECT_EQ(Count(L"WARNING : Message with ID = 'MsgCaption' was not found in script!\r\n"), 1);
  EXPECT_EQ(Count(L"INFO : Message box: MsgMissing -> OK\r\n"), 1);
}

TEST_F(ToolsFixture, MessagesWithoutLanguages) {
  GetInstallTools().Reset();
  GetGuiTools().Reset();
  GetInstallTools().Log().SetDebugOutput([this](const std::wstring& s) { out += s; });
  EXPECT_EQ(GetGuiTools().GetMessage(L"MsgRights"), L"");
  EXPECT_EQ(Count(L"WARNING : Message with ID = 'MsgRights' was not found in script!"), 1);
  // Without a back-end a plain box passes; a question cannot be answered.
  EXPECT_EQ(GetGuiTools().ShowText(L"Note", InstallGui::MB_OK), InstallGui::IDOK);
  EXPECT_THROW(GetGuiTools().ShowText(L"Sure?", InstallGui::MB_YESNO),
               InstallGui::UnansweredQuestion);
}

TEST(RestartWindows, TheMachineRestartsAndCarriesOutThePendingOperations) {
  tltest::ScopedMachine machine;
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\locked.tmp", "x"), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::ScheduleFileOperation(L"C:\\locked.tmp", L""), platform::ERROR_SUCCESS);
  unsigned before = platform::RestartCount();
  EXPECT_TRUE(RestartWindows(EWX_REBOOT));
  EXPECT_TRUE(platform::IsRestartPending());
  // What happens when the program ends.
  platform::RunRequestedRestart();
  EXPECT_FALSE(platform::IsRestartPending());
  EXPECT_EQ(platform::RestartCount(), before + 1);
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\locked.tmp"));
  EXPECT_TRUE(platform::PendingFileOperations().empty());
}

#include "app/Version.h"

TEST(InstallerVersion, DateInTheSystemLocale) {
  tltest::ScopedMachine machine;
  platform::SYSTEMTIME t;
  t.wYear = 2017;
  t.wMonth = 3;
  t.wDay = 4;
  t.wHour = 9;
  t.wMinute = 41;
  t.wSecond = 7;
  EXPECT_EQ(FormatInstallerDate(t), L"04 March 2017  09:41:07");
  EXPECT_EQ(platform::ToUtf8(InstallerVersion()), TL_EXPECTED_VERSION);
  // Without a date fixed by the build, the program file's time gives it.
  std::wstring date = InstallerDate();
  EXPECT_EQ(date.size() > 10 ? date.substr(date.size() - 10, 2) : L"", L"  ")
      << platform::ToUtf8(date);
}
