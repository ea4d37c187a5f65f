// The program's texts and the shipped language file: every number the program and the library
// look up is in every language of the file; a text a language lacks is the English default;
// the toolkit's language follows the language code.
#include "MorlaneFrame.h"
#include "ProgramLanguage.h"
#include "ProgramTexts.h"

#include "ui/MlsString.h"
#include "ui/StringTable.h"
#include "xml/XMLNode.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Source() {
  const char* src = std::getenv("TOLMERA_SOURCE_DIR");
  return src ? src : TOLMERA_TEST_SOURCE_DIR;
}

std::string ShippedFile() { return Source() + "/examples/viewer-language/Morlane.lng"; }

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

struct TempFile {
  explicit TempFile(const std::string& text) {
    std::string pattern = (std::filesystem::temp_directory_path() / "morlane-lng-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd >= 0) close(fd);
    path = pattern;
    std::ofstream(path, std::ios::binary) << text;
  }
  ~TempFile() { std::filesystem::remove(path); }
  std::wstring W() const { return std::filesystem::path(path).wstring(); }
  std::string path;
};

// Every number the window looks up: the library's string table and the program's own.
std::vector<int> UsedTextIds() {
  std::vector<int> ids;
  std::size_t count = 0;
  const MorlaneStringEntry* library = MorlaneBuiltInStrings(count);
  for (std::size_t i = 0; i < count; ++i) ids.push_back(library[i].id);
  ids.push_back(3011);  // the library leaves this one to the language file
  const ProgramTextEntry* program = ProgramTexts(count);
  for (std::size_t i = 0; i < count; ++i) ids.push_back(program[i].id);
  return ids;
}

// For each language of the file (by its caption), the numbers it lacks or gives empty.
std::map<std::wstring, std::vector<int>> MissingTexts(const std::wstring& file,
                                                      const std::vector<int>& ids) {
  std::map<std::wstring, std::vector<int>> missing;
  CMlsString::Clear();
  // Any code lists the languages; each is then selected by its code.
  CMlsString::Initialize(file.c_str(), 2000, nullptr);
  std::vector<std::pair<int, std::wstring>> languages;
  for (int i = 0; i < CMlsString::GetLanguagesCount(); ++i) {
    const auto* info = static_cast<MlsLanguageInfo*>(CMlsString::GetLanguageInfo(i));
    languages.emplace_back(info->code, info->caption);
  }
  for (const auto& [code, caption] : languages) {
    CMlsString::Clear();
    std::vector<int>& lacks = missing[caption];
    if (!CMlsString::Initialize(file.c_str(), code, nullptr)) {
      lacks = ids;  // no Messages at all
      continue;
    }
    XMLNode* messages = CMlsString::GetNodeSection(eMessages);
    for (int id : ids) {
      XMLNode* item = CMlsString::GetSubNode(messages, id);
      if (!item || item->GetStrAttr(L"Caption", L"").empty()) lacks.push_back(id);
    }
    if (CMlsString::GetResourceString(eMenus, 0, L"ModelStructure", L"ToolDoc", nullptr).empty())
      lacks.push_back(155);
    if (CMlsString::GetResourceString(eMenus, 0, L"ModelGeom", L"ToolDoc", nullptr).empty())
      lacks.push_back(158);
  }
  CMlsString::Clear();
  return missing;
}

std::string List(const std::vector<int>& ids) {
  std::string text;
  for (int id : ids) text += " " + std::to_string(id);
  return text;
}

TEST(ProgramTexts, EveryLanguageOfTheShippedFileHasEveryTextTheWindowUses) {
  const auto missing = MissingTexts(std::filesystem::path(ShippedFile()).wstring(), UsedTextIds());
  ASSERT_EQ(missing.size(), 2u) << "English and Russian";
  for (const auto& [language, ids] : missing)
    EXPECT_TRUE(ids.empty()) << std::filesystem::path(language).string() << " lacks" << List(ids);
}

TEST(ProgramTexts, TheCheckListsAnItemRemovedFromTheFileAndOneLeftEmpty) {
  std::string text = Read(ShippedFile());
  // Russian loses the tool bar's "Open" and the about dialog's title becomes empty.
  const std::regex open("<Item ID=\"4030\" Caption=\"Открыть\"/>");
  ASSERT_TRUE(std::regex_search(text, open));
  text = std::regex_replace(text, open, "");
  const std::string about = "<Item ID=\"4090\" Caption=\"О программе\"/>";
  const size_t at = text.find(about);
  ASSERT_NE(at, std::string::npos);
  text.replace(at, about.size(), "<Item ID=\"4090\" Caption=\"\"/>");
  TempFile file(text);
  const auto missing = MissingTexts(file.W(), UsedTextIds());
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_TRUE(missing.at(L"English").empty()) << List(missing.at(L"English"));
  EXPECT_EQ(missing.at(L"Русский"), (std::vector<int>{4030, 4090}));
}

TEST(ProgramTexts, TheProgramsNumbersAreSortedAndLieOutsideTheLibrarysTable) {
  std::size_t count = 0;
  const ProgramTextEntry* table = ProgramTexts(count);
  ASSERT_GT(count, 40u);
  for (std::size_t i = 0; i < count; ++i) {
    EXPECT_GE(table[i].id, 4000);
    EXPECT_LT(table[i].id, 4200);
    if (i) {
      EXPECT_LT(table[i - 1].id, table[i].id) << table[i].id;
    }
    EXPECT_EQ(MorlaneBuiltInString(table[i].id), nullptr) << table[i].id;
    EXPECT_EQ(ProgramDefaultText(table[i].id), std::wstring(table[i].text));
    EXPECT_FALSE(std::wstring(table[i].text).empty()) << table[i].id;
  }
  EXPECT_EQ(ProgramDefaultText(3999), nullptr);
  EXPECT_EQ(ProgramDefaultText(4200), nullptr);
}

// The constants of ProgramTexts.h are the table's numbers, one each.
TEST(ProgramTexts, EveryConstantOfTheHeaderHasItsDefault) {
  std::string header = Read(Source() + "/host/ProgramTexts.h");
  header = std::regex_replace(header, std::regex("//[^\n]*"), "");
  std::set<int> declared;
  const std::regex constant("[A-Za-z]+\\s*=\\s*(4[0-9]{3})");
  for (std::sregex_iterator c(header.begin(), header.end(), constant), end; c != end; ++c)
    declared.insert(std::stoi((*c)[1]));
  std::size_t count = 0;
  const ProgramTextEntry* table = ProgramTexts(count);
  std::set<int> listed;
  for (std::size_t i = 0; i < count; ++i) listed.insert(table[i].id);
  EXPECT_EQ(declared, listed);
}

TEST(ProgramTexts, ALanguageWithoutATextGivesTheEnglishDefault) {
  TempFile file(R"(<?xml version="1.0" encoding="UTF-8"?>
<Languages>
  <Language ID="1031" Caption="Deutsch">
    <Messages>
      <Item ID="4000" Caption="&amp;Datei"/>
      <Item ID="4001" Caption=""/>
      <Item ID="4072" Caption="Welle"/>
    </Messages>
  </Language>
</Languages>)");
  CMlsString::Clear();
  EXPECT_EQ(ProgramTextOf(ProgramText::MenuFile), L"&File") << "no file: the defaults";
  ASSERT_TRUE(CMlsString::Initialize(file.W().c_str(), 1031, nullptr));
  EXPECT_EQ(ProgramTextOf(ProgramText::MenuFile), L"&Datei");
  EXPECT_EQ(ProgramTextOf(ProgramText::MenuShafts), L"&Shafts") << "empty in the file";
  EXPECT_EQ(ProgramTextOf(ProgramText::MenuView), L"&View") << "missing in the file";
  EXPECT_EQ(ProgramTextOf(4199), L"") << "no such text";
  // The shaft data's words follow the language, the rest stays English.
  qz_RecognizeShaft shaft(1);
  const std::wstring text = morlane::DescribeShafts({shaft});
  EXPECT_EQ(text.rfind(L"Welle 1, sections: 1\n", 0), 0u) << text;
  CMlsString::Clear();
  EXPECT_EQ(morlane::DescribeShafts({}), L"No shaft in the selection.\n");
}

TEST(ProgramLanguage, TheToolkitsLanguageFollowsTheLanguageCode) {
  EXPECT_EQ(morlane::IsoLanguageOf(1049), "ru");
  EXPECT_EQ(morlane::IsoLanguageOf(1033), "en");
  EXPECT_EQ(morlane::IsoLanguageOf(2057), "en") << "English of another country";
  EXPECT_EQ(morlane::IsoLanguageOf(2000), "en") << "the library's own code";
  EXPECT_EQ(morlane::IsoLanguageOf(1031), "de");
  EXPECT_EQ(morlane::IsoLanguageOf(0), "");
  EXPECT_EQ(morlane::IsoLanguageOf(-1049), "");
  EXPECT_EQ(morlane::IsoLanguageOf(0x10000 + 1049), "");
  EXPECT_EQ(morlane::IsoLanguageOf(1000), "") << "no language of that number";
}

}  // namespace
