// The action filter, the macro table and the built-in path variables.
#include "package/ActionFilter.h"
#include "package/Macros.h"
#include "package/XmlSettings.h"
#include "testing/MachineFixture.h"
#include "platform/ShellFolders.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

using namespace CommonTools;

namespace {

constexpr int kInstall = 0, kUpdate = 1, kOnlyUpdate = 2, kRepair = 7, kUninstall = 9;
constexpr int kServer = 3, kLocal = 4, kClient = 5, kNone = -1;

SettingsNodePtr RootOf(CXmlSettings& doc, const std::string& xml) {
  SettingsNodePtr root;
  EXPECT_TRUE(doc.LoadFromBytes(xml)) << platform::ToUtf8(doc.LastError());
  EXPECT_TRUE(doc.GetRoot(root));
  return root;
}

std::wstring Expand(const CMacroTable& table, std::wstring s, int action = kInstall,
                    int kind = kLocal, const std::vector<BuiltinVariable>& builtins = {}) {
  table.Expand(s, action, kind, builtins);
  return s;
}

std::wstring Folder(int csidl) {
  std::wstring path;
  EXPECT_TRUE(platform::SHGetSpecialFolderPathW(nullptr, path, csidl, false));
  return path;
}

std::wstring Builtin(const std::vector<BuiltinVariable>& v, const std::wstring& name) {
  for (const auto& [n, value] : v)
    if (n == name) return value;
  ADD_FAILURE() << "no built-in " << platform::ToUtf8(name);
  return L"";
}

}  // namespace

// ---- the action filter ------------------------------------------------------------------------

TEST(ActionFilter, ActionsOnlyIgnoreThoseActionsWhateverTheKind) {
  for (int kind : {kServer, kLocal, kClient, kNone}) {
    EXPECT_TRUE(MatchesIgnoreFor(L"Repair", kRepair, kind));
    EXPECT_FALSE(MatchesIgnoreFor(L"Repair", kInstall, kind));
    EXPECT_FALSE(MatchesIgnoreFor(L"Repair", kUpdate, kind));
    EXPECT_FALSE(MatchesIgnoreFor(L"Repair", kUninstall, kind));
  }
  EXPECT_TRUE(MatchesIgnoreFor(L"install|UNINSTALL", kUninstall, kLocal));
  EXPECT_TRUE(MatchesIgnoreFor(L"install|UNINSTALL", kInstall, kLocal));
  EXPECT_FALSE(MatchesIgnoreFor(L"install|UNINSTALL", kRepair, kLocal));
}

TEST(ActionFilter, KindsOnlyIgnoreThoseKindsWhateverTheAction) {
  for (int action : {kInstall, kUpdate, kOnlyUpdate, kRepair, kUninstall, 8}) {
    EXPECT_TRUE(MatchesIgnoreFor(L"server", action, kServer));
    EXPECT_FALSE(MatchesIgnoreFor(L"server", action, kLocal));
    EXPECT_FALSE(MatchesIgnoreFor(L"server", action, kNone));
  }
}

TEST(ActionFilter, ActionsAndKindsTogetherIgnoreOnlyWhereTheyMeet) {
  EXPECT_TRUE(MatchesIgnoreFor(L"Update|Client", kUpdate, kClient));
  EXPECT_FALSE(MatchesIgnoreFor(L"Update|Client", kRepair, kClient));
  EXPECT_FALSE(MatchesIgnoreFor(L"Update|Client", kUpdate, kLocal));
  EXPECT_FALSE(MatchesIgnoreFor(L"Update|Client", kInstall, kServer));
}

TEST(ActionFilter, AllActions) {
  for (int action : {kInstall, kUpdate, kOnlyUpdate, kRepair, kUninstall, 8})
    for (int kind : {kServer, kLocal, kClient, kNone})
      EXPECT_TRUE(MatchesIgnoreFor(L"AllActions", action, kind)) << action << " " << kind;
  for (int action : {kInstall, kUpdate, kRepair, kUninstall}) {
    EXPECT_TRUE(MatchesIgnoreFor(L"AllActions|Local", action, kLocal));
    EXPECT_FALSE(MatchesIgnoreFor(L"AllActions|Local", action, kServer));
    EXPECT_FALSE(MatchesIgnoreFor(L"AllActions|Local", action, kNone));
  }
}

TEST(ActionFilter, TagsMatchAsWholeTags) {
  EXPECT_FALSE(MatchesIgnoreFor(L"UpdateOnly", kUpdate, kLocal));
  EXPECT_TRUE(MatchesIgnoreFor(L"UpdateOnly", kOnlyUpdate, kLocal));
  EXPECT_FALSE(MatchesIgnoreFor(L"Update", kOnlyUpdate, kLocal));
  EXPECT_FALSE(MatchesIgnoreFor(L"Uninstall", kInstall, kLocal));
  EXPECT_FALSE(MatchesIgnoreFor(L"Install", kUninstall, kLocal));
  // A change (8) and other values have no tag: only AllActions reaches them.
  EXPECT_FALSE(MatchesIgnoreFor(L"Install|Update|UpdateOnly|Repair|Uninstall", 8, kLocal));
  // Unknown words select nothing, blanks are part of a tag.
  EXPECT_FALSE(MatchesIgnoreFor(L"Whatever", kInstall, kLocal));
  EXPECT_FALSE(MatchesIgnoreFor(L" Repair", kRepair, kLocal));
}

// ---- replacement ------------------------------------------------------------------------------

TEST(MacroReplace, ValueContainingItsOwnNameIsInsertedOnce) {
  std::wstring s = L"a%X%b%X%c";
  EXPECT_EQ(ReplaceAll(s, L"%X%", L"[%X%]"), 2u);
  EXPECT_EQ(s, L"a[%X%]b[%X%]c");

  // A value that forms the name together with the text after it is not replaced again.
  s = L"%A%B%";
  EXPECT_EQ(ReplaceAll(s, L"%A%", L"%A"), 1u);
  EXPECT_EQ(s, L"%AB%");

  s = L"nothing here";
  EXPECT_EQ(ReplaceAll(s, L"%X%", L"y"), 0u);
  EXPECT_EQ(ReplaceAll(s, L"", L"y"), 0u);
  EXPECT_EQ(s, L"nothing here");
}

TEST(MacroTable, ReadsMacroChildrenInOrderAndSkipsOthers) {
  CXmlSettings doc;
  auto root =
      RootOf(doc,
             "<?xml version=\"1.0\"?><S><macros>"
             "<MACRO Name=\"%A%\" Value=\"1\"/><!-- note --><OTHER Name=\"%B%\" Value=\"2\"/>"
             "<macro Name=\"%C%\" Value=\"%A%/x\" IgnoreFor=\"Repair\"/><MACRO/></macros></S>");
  CMacroTable table;
  table.Add({L"%OLD%", L"old", L""});
  table.Load(root);
  ASSERT_EQ(table.Entries().size(), 3u);
  EXPECT_EQ(table.Entries()[0].Name, L"%A%");
  EXPECT_EQ(table.Entries()[1].Name, L"%C%");
  EXPECT_EQ(table.Entries()[1].Value, L"%A%/x");  // stored as written
  EXPECT_EQ(table.Entries()[1].IgnoreFor, L"Repair");
  EXPECT_EQ(table.Entries()[2].Name, L"");

  CXmlSettings none;
  table.Load(RootOf(none, "<?xml version=\"1.0\"?><S/>"));
  EXPECT_TRUE(table.Entries().empty());
}

TEST(MacroTable, ScriptMacrosThenIgnoredOnesThenBuiltins) {
  CMacroTable table;
  table.Add({L"%COMMON FILES%", L"%COMMON_APPDATA%\\Common", L""});
  table.Add({L"%DATA%", L"%DEST%\\data", L""});
  table.Add({L"%DEST%", L"D:\\Dest", L""});
  table.Add({L"%SKIP%", L"never", L"Repair"});
  std::vector<BuiltinVariable> builtins = {{L"%COMMON_APPDATA%", L"C:\\ProgramData"},
                                           {L"%COMMON FILES%", L""}};

  // A script macro may use built-ins and later script macros in its value.
  EXPECT_EQ(Expand(table, L"%COMMON FILES%\\bin", kInstall, kLocal, builtins),
            L"C:\\ProgramData\\Common\\bin");
  EXPECT_EQ(Expand(table, L"%DATA%", kInstall, kLocal, builtins), L"D:\\Dest\\data");
  // An ignored macro is removed from the text, the rest stays.
  EXPECT_EQ(Expand(table, L"a%SKIP%b", kRepair, kLocal, builtins), L"ab");
  EXPECT_EQ(Expand(table, L"a%SKIP%b", kInstall, kLocal, builtins), L"aneverb");
  // Matching is exact: lower case is not replaced; unknown placeholders stay.
  EXPECT_EQ(Expand(table, L"%common files%|%UNKNOWN%", kInstall, kLocal, builtins),
            L"%common files%|%UNKNOWN%");
  EXPECT_EQ(Expand(table, L"", kInstall, kLocal, builtins), L"");

  // Without a script macro "%COMMON FILES%" becomes empty.
  CMacroTable empty;
  EXPECT_EQ(Expand(empty, L"x%COMMON FILES%y", kInstall, kLocal, builtins), L"xy");
}

TEST(MacroTable, SelfReferenceEndsAfterOneSubstitution) {
  CMacroTable table;
  table.Add({L"%P%", L"%P%\\sub", L""});
  EXPECT_EQ(Expand(table, L"%P%;%P%"), L"%P%\\sub;%P%\\sub");
  // A macro without a name (a MACRO element without "Name") matches nothing.
  CMacroTable unnamed;
  unnamed.Add({L"", L"x", L""});
  unnamed.Add({L"", L"y", L"AllActions"});
  EXPECT_EQ(Expand(unnamed, L"abc"), L"abc");
  // A built-in whose value holds its own name.
  EXPECT_EQ(Expand(CMacroTable{}, L"x%B%y", kInstall, kLocal, {{L"%B%", L"<%B%>"}}), L"x<%B%>y");
}

// ---- built-in variables -----------------------------------------------------------------------

TEST(BuiltinVariables, OrderAndValues) {
  tltest::ScopedMachine machine;
  BuiltinInputs in;
  in.installPath = L"C:\\Inst";
  in.projectPath = L"C:\\Proj";
  in.tolmeraPath = L"C:\\Tolmera";
  in.dirName = L"TT";
  in.name = L"Tolmera Test";
  in.installedKind = L"Local";
  in.languageId = 1049;
  in.wow64 = true;
  in.build = 321;
  auto v = BuiltinVariables(in);
  const wchar_t* order[] = {L"%ProductDirName%",   L"%ProjectDirName%",
                            L"%ProjectName%",      L"%DestinationDir%",
                            L"%InstallType%",      L"%LanguageID%",
                            L"%COMMON_APPDATA%",   L"%USER_APPDATA%",
                            L"%COMMON_DOCUMENTS%", L"%USER_DOCUMENTS%",
                            L"%PROGRAM_FILES%",    L"%WINDOWS%",
                            L"%SYSTEM%",           L"%PROCESSOR_ARCHITECTURE%",
                            L"%CAPACITY_OS%",      L"%BUILD%",
                            L"%COMMON FILES%"};
  ASSERT_EQ(v.size(), std::size(order));
  for (size_t i = 0; i < v.size(); ++i) EXPECT_EQ(v[i].first, order[i]);
  EXPECT_EQ(Builtin(v, L"%ProductDirName%"), L"C:\\Proj");
  EXPECT_EQ(Builtin(v, L"%DestinationDir%"), L"C:\\Inst");
  EXPECT_EQ(Builtin(v, L"%LanguageID%"), L"1049");
  EXPECT_EQ(Builtin(v, L"%PROCESSOR_ARCHITECTURE%"), L"x64");
  EXPECT_EQ(Builtin(v, L"%CAPACITY_OS%"), L"64");
  EXPECT_EQ(Builtin(v, L"%BUILD%"), L"321");
  EXPECT_EQ(Builtin(v, L"%COMMON FILES%"), L"");
  EXPECT_EQ(Builtin(v, L"%PROGRAM_FILES%"), Folder(platform::CSIDL_PROGRAM_FILES));
  EXPECT_EQ(Builtin(v, L"%COMMON_APPDATA%"), Folder(platform::CSIDL_COMMON_APPDATA));
  EXPECT_EQ(Builtin(v, L"%USER_DOCUMENTS%"), Folder(platform::CSIDL_PERSONAL));
  EXPECT_EQ(Builtin(v, L"%SYSTEM%"), Folder(platform::CSIDL_SYSTEM));
  EXPECT_FALSE(Builtin(v, L"%PROGRAM_FILES%").empty());

  // Without an installation folder the product folder is the family's folder; 32-bit Windows.
  in.installPath.clear();
  in.wow64 = false;
  v = BuiltinVariables(in);
  EXPECT_EQ(Builtin(v, L"%ProductDirName%"), L"C:\\Tolmera");
  EXPECT_EQ(Builtin(v, L"%PROCESSOR_ARCHITECTURE%"), L"x32");
  EXPECT_EQ(Builtin(v, L"%CAPACITY_OS%"), L"32");
}

TEST(BuiltinVariables, MacroOverCommonApplicationData) {
  tltest::ScopedMachine machine;
  CMacroTable table;
  table.Add({L"%SHARED%", L"%COMMON_APPDATA%\\Tolmera\\Shared", L""});
  std::wstring s = L"%SHARED%\\a.txt|%SHARED%";
  table.Expand(s, kInstall, kLocal, BuiltinVariables(BuiltinInputs{}));
  std::wstring common = Folder(platform::CSIDL_COMMON_APPDATA);
  ASSERT_FALSE(common.empty());
  EXPECT_EQ(s, common + L"\\Tolmera\\Shared\\a.txt|" + common + L"\\Tolmera\\Shared");
}
