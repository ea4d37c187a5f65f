// CMlsString: loading a language file, selecting languages, every text overload and its
// fallback order, and the built-in string table against the sample language file.

#include "ui/MlsString.h"
#include "ui/StringTable.h"
#include "xml/XMLDocument.h"
#include "xml/XMLNode.h"
#include "testing/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace {

const char* kLanguages = R"(<?xml version="1.0" encoding="UTF-8"?>
<Root>
  <Other ID="2000" Caption="not a language"/>
  <Language ID="2000" Caption="English">
    <Messages>
      <Item ID="110" Caption="Viewer from file"/>
      <Item ID="390" Caption="Two\nlines\tand \x kept"/>
      <Item ID="0" Caption="zero"/>
      <Item ID="abc" Caption="letters"/>
      <Named Caption="by name"/>
      <Empty ID="391" Caption=""/>
      <Cmd ID="500" Caption="Run\nthe command" Description="Does\tit"/>
      <Cmd2 ID="501" Caption="Go" Tooltip="Tip\nline"/>
      <Attr ID="502" Caption="cap" Extra="extra\nvalue" Blank=""/>
      <Group>
        <G ID="600" Caption="grouped"/>
        <Sub>
          <Deep Caption="deep item"/>
          <Hollow Caption=""/>
        </Sub>
        <Flat Caption="flat item"/>
      </Group>
    </Messages>
    <Messages>
      <Item ID="110" Caption="second messages section"/>
    </Messages>
    <Dialogs>
      <Item ID="7" Caption="dialog text"/>
    </Dialogs>
  </Language>
  <Language ID="1049" Caption="Russian">
    <Messages>
      <Item ID="110" Caption="&#1055;&#1088;&#1086;&#1089;&#1084;&#1086;&#1090;&#1088;"/>
    </Messages>
    <Menus>
      <ToolDoc>
        <ModelStructure Caption="&#1057;&#1090;&#1088;&#1091;&#1082;&#1090;&#1091;&#1088;&#1072;"/>
      </ToolDoc>
    </Menus>
  </Language>
  <Language ID="1049" Caption="Russian again">
    <Messages>
      <Item ID="110" Caption="later Russian"/>
    </Messages>
  </Language>
  <Language ID="3000" Caption="No messages"/>
</Root>
)";

class MlsStringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CMlsString::Clear();
    CMlsString::m_codeSelectedLanguage = 2000;
    dir.Write("lang.xml", kLanguages);
    path = dir.WFile("lang.xml");
  }
  void TearDown() override { CMlsString::Clear(); }

  std::wstring Builtin(int id) { return MorlaneBuiltInString(id) ? MorlaneBuiltInString(id) : L""; }

  TempDir dir;
  std::wstring path;
};

}  // namespace

TEST_F(MlsStringTest, BeforeInitializeEverythingComesFromTheStringTable) {
  EXPECT_FALSE(CMlsString::IsMlsSupport());
  EXPECT_EQ(CMlsString::GetLanguagesCount(), 0);
  EXPECT_EQ(CMlsString::GetLanguageInfo(0), nullptr);
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 110), L"CAD Ondravel Viewer");
  EXPECT_EQ(CMlsString::GetResourceString(eMenus, 155, L"ToolDoc", L"ModelStructure"),
            L"Model Structure");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, L"Named"), L"");
  EXPECT_FALSE(CMlsString::SetLanguageLocation(2000));
  EXPECT_FALSE(CMlsString::SetLanguageLocation(L"English"));
  EXPECT_EQ(CMlsString::LoadResourceString(999999), L"");
}

TEST_F(MlsStringTest, InitializeReadsTheLanguageListAndSelects) {
  ASSERT_TRUE(CMlsString::Initialize(path.c_str(), 2000, nullptr));
  EXPECT_TRUE(CMlsString::IsMlsSupport());
  ASSERT_EQ(CMlsString::GetLanguagesCount(), 4);
  const auto* first = static_cast<MlsLanguageInfo*>(CMlsString::GetLanguageInfo(0));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->index, 1);  // the Other element counts
  EXPECT_EQ(first->code, 2000);
  EXPECT_EQ(first->caption, L"English");
  const auto* last = static_cast<MlsLanguageInfo*>(CMlsString::GetLanguageInfo(3));
  EXPECT_EQ(last->index, 4);
  EXPECT_EQ(last->code, 3000);
  EXPECT_EQ(CMlsString::GetLanguageInfo(4), nullptr);
  EXPECT_EQ(CMlsString::GetLanguageInfo(-1), nullptr);
  // The first Messages section counts.
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 110), L"Viewer from file");
  EXPECT_EQ(CMlsString::GetNodeSection(eDialogs)->GetTag(), L"Dialogs");
  EXPECT_EQ(CMlsString::GetNodeSection(eMenus), nullptr);
  EXPECT_EQ(CMlsString::GetNodeSection(static_cast<eXmlSection>(3)), nullptr);
  EXPECT_EQ(CMlsString::m_codeSelectedLanguage, 2000);
}

TEST_F(MlsStringTest, DuplicateCodesAndSwitchingLanguages) {
  ASSERT_TRUE(CMlsString::Initialize(path.c_str(), 1049, nullptr));
  // Initialize keeps the later of two languages with one code ...
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 110), L"later Russian");
  // ... SetLanguageLocation takes the first.
  ASSERT_TRUE(CMlsString::SetLanguageLocation(1049));
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 110),
            L"\u041f\u0440\u043e\u0441\u043c\u043e\u0442\u0440");
  EXPECT_EQ(CMlsString::GetResourceString(eMenus, 155, L"ToolDoc", L"ModelStructure"),
            L"\u0421\u0442\u0440\u0443\u043a\u0442\u0443\u0440\u0430");

  // By caption, without regard to case; the selected code stays.
  CMlsString::m_codeSelectedLanguage = 1049;
  ASSERT_TRUE(CMlsString::SetLanguageLocation(L"english"));
  EXPECT_EQ(CMlsString::m_codeSelectedLanguage, 1049);
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 110), L"Viewer from file");
  // Unknown: false and the selection stays.
  EXPECT_FALSE(CMlsString::SetLanguageLocation(L"Klingon"));
  EXPECT_FALSE(CMlsString::SetLanguageLocation(4242));
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 110), L"Viewer from file");
  EXPECT_EQ(CMlsString::m_codeSelectedLanguage, 1049);
  ASSERT_TRUE(CMlsString::SetLanguageLocation(3000));  // no Messages: every text falls back
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 110), L"CAD Ondravel Viewer");
  EXPECT_EQ(CMlsString::GetLanguagesCount(), 4);
}

TEST_F(MlsStringTest, RefusedFilesKeepTheLanguagesRead) {
  EXPECT_FALSE(CMlsString::Initialize(dir.WFile("missing.xml").c_str(), 2000, nullptr));
  EXPECT_FALSE(CMlsString::IsMlsSupport());
  EXPECT_EQ(CMlsString::GetLanguagesCount(), 0);

  // The requested language has no Messages section.
  EXPECT_FALSE(CMlsString::Initialize(path.c_str(), 3000, nullptr));
  EXPECT_FALSE(CMlsString::IsMlsSupport());
  EXPECT_EQ(CMlsString::m_pXMLRoot, nullptr);
  EXPECT_EQ(CMlsString::GetLanguagesCount(), 4);
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 110), L"CAD Ondravel Viewer");

  // No such code at all; a malformed file.
  EXPECT_FALSE(CMlsString::Initialize(path.c_str(), 77, nullptr));
  dir.Write("bad.xml", "<Root><Language ID=\"2000\"><Messages></Root>");
  EXPECT_FALSE(CMlsString::Initialize(dir.WFile("bad.xml").c_str(), 2000, nullptr));
  EXPECT_EQ(CMlsString::GetLanguagesCount(), 0);
}

TEST_F(MlsStringTest, SecondInitializeNeverListsALanguageTwice) {
  ASSERT_TRUE(CMlsString::Initialize(path.c_str(), 2000, nullptr));
  ASSERT_TRUE(CMlsString::Initialize(path.c_str(), 1049, nullptr));
  EXPECT_EQ(CMlsString::GetLanguagesCount(), 4);
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 110), L"later Russian");
  CMlsString::Clear();
  EXPECT_FALSE(CMlsString::IsMlsSupport());
  EXPECT_EQ(CMlsString::GetLanguagesCount(), 0);
  EXPECT_EQ(CMlsString::m_xmlNodeMessages, nullptr);
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 110), L"CAD Ondravel Viewer");
}

TEST_F(MlsStringTest, ObjectsResetAndClearTheState) {
  ASSERT_TRUE(CMlsString::Initialize(path.c_str(), 1049, nullptr));
  {
    CMlsString table;
    EXPECT_FALSE(CMlsString::IsMlsSupport());
    EXPECT_EQ(CMlsString::m_codeSelectedLanguage, 2000);
    EXPECT_EQ(CMlsString::GetLanguagesCount(), 0);
    ASSERT_TRUE(CMlsString::Initialize(path.c_str(), 2000, nullptr));
  }
  EXPECT_FALSE(CMlsString::IsMlsSupport());
  EXPECT_EQ(CMlsString::GetLanguagesCount(), 0);
}

TEST_F(MlsStringTest, ItemsByIdAndByName) {
  ASSERT_TRUE(CMlsString::Initialize(path.c_str(), 2000, nullptr));
  XMLNode* messages = CMlsString::GetNodeSection(eMessages);
  EXPECT_EQ(CMlsString::GetSubNode(messages, 0), nullptr);  // ID 0 and "abc" never match
  EXPECT_NE(CMlsString::GetSubNode(messages, L"named"), nullptr);
  EXPECT_EQ(CMlsString::GetSubNode(nullptr, 110), nullptr);
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, L"NAMED"), L"by name");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, L"Missing"), L"");
  // Backslash-n and backslash-t become line feed and tab; other escapes stay.
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 390), L"Two\nlines\tand \\x kept");
  // An empty caption falls back to the table for numbered look-ups.
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 391), L"Root");
  // A number the file lacks.
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 392), L"Object 3D");
  EXPECT_EQ(CMlsString::GetResourceString(eDialogs, 7), L"dialog text");
}

TEST_F(MlsStringTest, AttributeGroupAndSubgroupOverloads) {
  ASSERT_TRUE(CMlsString::Initialize(path.c_str(), 2000, nullptr));
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 502, L"Extra"), L"extra\nvalue");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 502, L"Blank"), L"cap");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 110, L"Nothing"), L"Viewer from file");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 392, L"Extra"), L"Object 3D");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, L"Attr", L"extra"), L"extra\nvalue");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, L"Nope", L"Extra"), L"");

  EXPECT_EQ(CMlsString::GetResourceString(eMessages, L"Group", 600), L"grouped");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, L"Group", 110), L"CAD Ondravel Viewer");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 155, L"Group", L"Flat"), L"flat item");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 155, L"Group", L"Nope"), L"Model Structure");

  // Five arguments: the subgroup is optional; an empty caption stays empty; a missing item
  // falls back only for a non-zero number.
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 155, L"Deep", L"Group", L"Sub"), L"deep item");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 155, L"Flat", L"Group", L""), L"flat item");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 155, L"Flat", L"Group", nullptr),
            L"flat item");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 155, L"Hollow", L"Group", L"Sub"), L"");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 155, L"Missing", L"Group", L"Sub"),
            L"Model Structure");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 0, L"Missing", L"Group", L"Sub"), L"");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 155, L"Deep", L"Group", L"NoSub"),
            L"Model Structure");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, L"default", L"Missing", L"Group", L"Sub"),
            L"default");
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, L"default", L"Deep", L"Group", L"Sub"),
            L"deep item");

  // Menus missing in the selected language: the table's entry.
  EXPECT_EQ(CMlsString::GetResourceString(eMenus, 155, L"ToolDoc", L"ModelStructure"),
            L"Model Structure");
  EXPECT_EQ(CMlsString::GetResourceString(eMenus, 158, L"ToolDoc", L"ModelGeom"),
            L"Model Geometry and Properties");
}

TEST_F(MlsStringTest, CommandTextsWithDescriptionAndTooltip) {
  ASSERT_TRUE(CMlsString::Initialize(path.c_str(), 2000, nullptr));
  std::wstring description = L"old", tooltip = L"old";
  // Two-line caption without a tooltip: the tooltip is the first line.
  EXPECT_EQ(CMlsString::GetResourceString2(eMessages, 500, description, tooltip),
            L"Run\nthe command");
  EXPECT_EQ(description, L"Does\tit");
  EXPECT_EQ(tooltip, L"Run");
  EXPECT_EQ(CMlsString::GetResourceString2(eMessages, 501, description, tooltip), L"Go");
  EXPECT_EQ(description, L"");
  EXPECT_EQ(tooltip, L"Tip\nline");
  EXPECT_EQ(CMlsString::GetResourceString2(eMessages, L"Cmd2", description, tooltip), L"Go");
  EXPECT_EQ(tooltip, L"Tip\nline");
  EXPECT_EQ(CMlsString::GetResourceString2(eMessages, L"NoSuch", description, tooltip), L"");
  EXPECT_EQ(description, L"");
  EXPECT_EQ(tooltip, L"");
  // A number the file lacks: the table's text, whose first line would be a description.
  EXPECT_EQ(CMlsString::GetResourceString2(eMessages, 3009, description, tooltip),
            L"Nothing is selected!");
  EXPECT_EQ(description, L"");
  EXPECT_EQ(tooltip, L"Nothing is selected!");
  EXPECT_EQ(CMlsString::GetResourceString2(eMessages, 999999, description, tooltip), L"");
}

TEST(MlsStringUnescape, LineFeedsThenTabs) {
  EXPECT_EQ(CMlsString::Unescape(L"a\\nb\\tc\\\\n"), L"a\nb\tc\\\n");
  EXPECT_EQ(CMlsString::Unescape(L"\\n\\n"), L"\n\n");
  EXPECT_EQ(CMlsString::Unescape(L"\\q"), L"\\q");
}

TEST(MlsStringTable, TheTableHoldsTheDocumentedTexts) {
  EXPECT_STREQ(MorlaneBuiltInString(393), L"No name");
  EXPECT_STREQ(MorlaneBuiltInString(520), L"Rack gear");
  EXPECT_STREQ(MorlaneBuiltInString(690), L"Sliding");
  EXPECT_STREQ(MorlaneBuiltInString(710), L"Needle roller");
  EXPECT_STREQ(MorlaneBuiltInString(625), L"c1 x 45\u00b0");
  EXPECT_STREQ(MorlaneBuiltInString(1113), L"Initial chamfer width, \u04411, mm");
  EXPECT_STREQ(MorlaneBuiltInString(3000), L"Invalid parameter in '%s'");
  EXPECT_STREQ(MorlaneBuiltInString(683), L"b");
  EXPECT_EQ(MorlaneBuiltInString(3011), nullptr);
  std::size_t count = 0;
  const MorlaneStringEntry* table = MorlaneBuiltInStrings(count);
  ASSERT_GT(count, 400u);
  for (std::size_t i = 1; i < count; ++i) EXPECT_LT(table[i - 1].id, table[i].id);
}

// The sample language file has English and Russian texts for every number of the table, and
// its English texts are the table's.
TEST(MlsStringTable, SampleLanguageFileCoversEveryText) {
  const char* source = std::getenv("TOLMERA_SOURCE_DIR");
  const std::string root = source ? source : TOLMERA_TEST_SOURCE_DIR;
  const std::wstring file =
      std::filesystem::path(root + "/examples/viewer-language/Morlane.lng").wstring();
  std::size_t count = 0;
  const MorlaneStringEntry* table = MorlaneBuiltInStrings(count);
  for (int code : {2000, 1049}) {
    CMlsString::Clear();
    ASSERT_TRUE(CMlsString::Initialize(file.c_str(), code, nullptr)) << code;
    XMLNode* messages = CMlsString::GetNodeSection(eMessages);
    for (std::size_t i = 0; i < count; ++i) {
      XMLNode* item = CMlsString::GetSubNode(messages, table[i].id);
      ASSERT_NE(item, nullptr) << code << " lacks " << table[i].id;
      EXPECT_FALSE(item->GetStrAttr(L"Caption").empty()) << table[i].id;
      if (code == 2000) {
        EXPECT_EQ(CMlsString::GetResourceString(eMessages, table[i].id), table[i].text);
      }
    }
    EXPECT_FALSE(CMlsString::GetResourceString(eMessages, 3011).empty());
    EXPECT_FALSE(
        CMlsString::GetResourceString(eMenus, 0, L"ModelGeom", L"ToolDoc", nullptr).empty());
  }
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 393),
            L"\u0411\u0435\u0437 \u0438\u043c\u0435\u043d\u0438");
  ASSERT_EQ(CMlsString::GetLanguagesCount(), 2);
  CMlsString::Clear();
}
