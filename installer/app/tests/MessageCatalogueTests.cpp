// Message look-ups in scripts whose languages lack parts of the catalogue.
#include "app/Tools.h"
#include "app/tests/ToolsFixture.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

using namespace InstallManager;

namespace {

using Catalogue = apptest::ToolsFixture;

}  // namespace

TEST_F(Catalogue, LanguageWithoutMessagesAndEmptyCaptions) {
  Load(
      "<?xml version=\"1.0\"?><R><Localization>"
      "<EN ID=\"1033\" Title=\"English\" SystemName=\"English\"><DLG_GREETING Caption=\"Hi\"/></EN>"
      "<RU ID=\"1049\" Title=\"Russian\" SystemName=\"Russian\"><Messages>"
      "<MSGCAPTION Caption=\"Setup RU\"/><MsgEmpty Caption=\"\"/><MsgNoCaption/>"
      "<MsgEscapes Caption=\"a\\\\nb\\tc\\n\"/></Messages></RU>"
      "</Localization></R>");
  // English has no MESSAGES: every look-up is empty and logged once.
  EXPECT_EQ(GetGuiTools().GetMessage(L"MsgCaption"), L"");
  EXPECT_EQ(Count(L"WARNING : Message with ID = 'MsgCaption' was not found in script!\r\n"), 1);
  GetGuiTools().Languages().SetCurrent(1);
  // Element names match without case; a present but empty caption is empty and not logged.
  EXPECT_EQ(GetGuiTools().GetMessage(L"MsgCaption"), L"Setup RU");
  EXPECT_EQ(GetGuiTools().GetMessage(L"MsgEmpty"), L"");
  EXPECT_EQ(GetGuiTools().GetMessage(L"MsgNoCaption"), L"");
  EXPECT_EQ(Count(L"'MsgEmpty'"), 0);
  EXPECT_EQ(Count(L"'MsgNoCaption'"), 0);
  // Only backslash-n is a line break; a backslash before it stays.
  EXPECT_EQ(GetGuiTools().GetMessage(L"MsgEscapes"), L"a\\\nb\\tc\n");
}
