// The check of an install script against its package: each finding on a small broken script of
// its own, with its line and column.
#include "pack/ScriptCheck.h"

#include "package/ScriptVocabulary.h"
#include "testing/MachineFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using TlPack::CheckScript;
using TlPack::PackageContents;

namespace {

std::string AllMessages() {
  std::string out;
  for (const wchar_t* id : ScriptNames::Message::kAll)
    out.append("<").append(platform::ToUtf8(id)).append(" Caption=\"text\"/>");
  return out;
}

// A small script that passes the check: one line per entry, so that a test names its lines.
std::vector<std::string> CleanLines() {
  return {
      R"(<?xml version="1.0" encoding="UTF-8"?>)",  // 1
      R"(<SCENARIO Name="P" PV="P" RegKey="P" Version="1" Build="10" DirName="P" Language="0">)",  // 2
      R"(  <MACROS>)",                                                        // 3
      R"(    <MACRO Name="%BinDir%" Value="%DestinationDir%\bin"/>)",         // 4
      R"(  </MACROS>)",                                                       // 5
      R"(  <LIBRARIES>)",                                                     // 6
      R"(    <LIBRARY ID="1" Caption="Core" PV="P.CORE" Readonly="1">)",      // 7
      R"(      <DIRECTORY Name="bin"/>)",                                     // 8
      R"(    </LIBRARY>)",                                                    // 9
      R"(    <LIBRARY ID="2" Caption="Extra" PV="P.EXTRA" Dependency="1">)",  // 10
      R"(      <FILE Name="extra/readme.txt"/>)",                             // 11
      R"(    </LIBRARY>)",                                                    // 12
      R"(  </LIBRARIES>)",                                                    // 13
      R"(  <INSTALL>)",                                                       // 14
      R"(    <COMMONINFO File="%COMMON_APPDATA%\P\P.cfg"/>)",                 // 15
      R"(    <FILE Name="readme.txt" IgnoreFor="UNINSTALL|Local"/>)",         // 16
      R"(    <REGISTRY>)",                                                    // 17
      R"(      <HKCR KeyName="P.Doc\shell\open\command" ValueName="" TextValue="&quot;%BinDir%\p.exe&quot; &quot;%1&quot;"/>)",  // 18
      R"(    </REGISTRY>)",                                               // 19
      R"(  </INSTALL>)",                                                  // 20
      R"(  <UNINSTALLER Title="P" Company="C"/>)",                        // 21
      R"(  <DIALOGS><DLG_GREETING Show="Y"/></DIALOGS>)",                 // 22
      R"(  <ICONS Path="icons\setup.ico"/>)",                             // 23
      R"(  <Images><BACKGROUND ID="0" Path="images/bg.png"/></Images>)",  // 24
      R"(  <Localization>)",                                              // 25
      R"(    <ENGLISH ID="1033" Title="English" SystemName="English">)",  // 26
      R"~(      <DLG_GREETING Caption="Hello (build %d)"><TEXT Caption="50% done"/></DLG_GREETING>)~",  // 27
      R"(      <DLG_LICENSE><LICENSE Path="license.txt"/></DLG_LICENSE>)",  // 28
      "      <MESSAGES>" + AllMessages() + "</MESSAGES>",                   // 29
      R"(    </ENGLISH>)",                                                  // 30
      R"(  </Localization>)",                                               // 31
      R"(</SCENARIO>)",                                                     // 32
  };
}

PackageContents CleanContents() {
  PackageContents c;
  for (const wchar_t* name :
       {L"InstallScript.cfg", L"bin/p.exe", L"bin/settings.ini", L"extra/readme.txt", L"readme.txt",
        L"icons/setup.ico", L"images/bg.png", L"license.txt"})
    c.Add(name);
  return c;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

// 1-based column of `token` in a line of the script.
int Col(const std::string& line, const std::string& token) {
  std::size_t at = line.find(token);
  EXPECT_NE(at, std::string::npos) << token << " is not in: " << line;
  return static_cast<int>(at) + 1;
}

class ScriptCheck : public tltest::MachineTest {
 protected:
  // The findings as "LINE:COL: kind: text".
  std::vector<std::string> Check(const std::vector<std::string>& lines,
                                 const PackageContents& contents) {
    std::vector<std::string> out;
    for (const TlPack::Diagnostic& d : CheckScript(Join(lines), contents))
      out.push_back(TlPack::FormatDiagnostic("", d).substr(1));
    return out;
  }
  std::vector<std::string> Check(const std::vector<std::string>& lines) {
    return Check(lines, CleanContents());
  }
  static std::string At(int line, int col, const std::string& rest) {
    return std::to_string(line) + ":" + std::to_string(col) + ": " + rest;
  }
};

TEST_F(ScriptCheck, TheCleanScriptHasNoFinding) { EXPECT_THAT(Check(CleanLines()), IsEmpty()); }

TEST_F(ScriptCheck, XmlThatDoesNotParseIsAnErrorAtItsPlace) {
  auto lines = CleanLines();
  lines[15] = R"(    <FILE Name="readme.txt" IgnoreFor=UNINSTALL/>)";
  auto found = Check(lines);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_THAT(found[0], HasSubstr("16:"));
  EXPECT_THAT(found[0], HasSubstr("error: the XML does not parse"));
  // The parser stops where the quote of the value should be.
  EXPECT_EQ(found[0].substr(0, found[0].find(": ")),
            "16:" + std::to_string(Col(lines[15], "UNINSTALL/")));
}

TEST_F(ScriptCheck, ARootThatDoesNotFollowTheDeclarationIsAnError) {
  auto noDeclaration = CleanLines();
  noDeclaration.erase(noDeclaration.begin());
  auto found = Check(noDeclaration);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_THAT(found[0],
              HasSubstr("1:1: error: the root element <SCENARIO> must be the first node"));

  auto commentBetween = CleanLines();
  commentBetween.insert(commentBetween.begin() + 1, "<!-- the product -->");
  found = Check(commentBetween);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_THAT(found[0], HasSubstr("3:1: error: the root element <SCENARIO>"));
  EXPECT_THAT(found[0], HasSubstr("finds a #comment node"));

  // A single comment in front of the root (no declaration) is what the installer reads.
  auto commentFirst = CleanLines();
  commentFirst[0] = "<!-- the product -->";
  EXPECT_THAT(Check(commentFirst), IsEmpty());
}

TEST_F(ScriptCheck, ElementsThatAreNotStepsAreWarnedAboutWhereTheDispatcherSkipsThem) {
  auto lines = CleanLines();
  lines[7] = "      <DIRECTORY Name=\"bin\"/><REGISTY/>";
  lines[19] =
      "    <SHORTCUT Name=\"x\"/>\n  </INSTALL>\n  <ADDITIONAL><Exe Path=\"x\"/></ADDITIONAL>";
  lines[20] = "  <UNINSTALLER Title=\"P\" Company=\"C\"/><REGISTRY_/>";
  auto found = Check(lines);
  EXPECT_THAT(found,
              ElementsAre(At(8, Col(lines[7], "<REGISTY"),
                             "warning: element <REGISTY> is not a step: the installer skips it "
                             "inside <LIBRARY>"),
                          At(20, 5,
                             "warning: element <SHORTCUT> is not a step: the installer skips it "
                             "inside <INSTALL>"),
                          At(22, 15,
                             "warning: element <Exe> is not a step: the installer skips it "
                             "inside <ADDITIONAL>"),
                          At(23, Col(lines[20], "<REGISTRY_"),
                             "warning: element <REGISTRY_> is not read by the installer")));
}

TEST_F(ScriptCheck, PlacesAreLinesAndCharactersWhateverTheLineEndsAndTheEncoding) {
  auto lines = CleanLines();
  lines[17] = "      <HKCR keyName=\"\u0414\u043e\u043a\" ValueName=\"\" textValue=\"x\"/>";
  const std::string expectedKey = "18:" + std::to_string(Col(lines[17], "keyName"));
  // "textValue" stands after three two-byte letters: its column counts characters, not bytes.
  const std::string expectedText = "18:" + std::to_string(Col(lines[17], "textValue") - 3);
  std::string crlf;
  for (const std::string& l : lines) crlf += l + "\r\n";
  std::string utf16 =
      std::string("\xFF\xFE", 2) + platform::ToUtf16LEBytes(platform::FromUtf8(Join(lines)));
  for (const std::string& text : {Join(lines), crlf, utf16}) {
    std::vector<std::string> places;
    for (const TlPack::Diagnostic& d : CheckScript(text, CleanContents()))
      places.push_back(std::to_string(d.line) + ":" + std::to_string(d.column));
    EXPECT_THAT(places, ElementsAre(expectedKey, expectedText));
  }
}

TEST_F(ScriptCheck, ASecondRegistryOrShortcutGroupInAContainerIsWarnedAbout) {
  auto lines = CleanLines();
  lines[18] =
      "    </REGISTRY><registry><HKLM KeyName=\"SOFTWARE\\P\\Other\"/></registry>"
      "<SHORTCUTS/><SHORTCUTS/>";
  EXPECT_THAT(Check(lines),
              ElementsAre(At(19, Col(lines[18], "<registry>"),
                             "warning: a second <registry> in <INSTALL>: the installer runs the "
                             "first one again in its place"),
                          At(19, Col(lines[18], "<SHORTCUTS/><SHORTCUTS/>") + 12,
                             "warning: a second <SHORTCUTS> in <INSTALL>: the installer runs the "
                             "first one again in its place")));
}

TEST_F(ScriptCheck, AttributeNamesThatDifferOnlyInCaseAreWarnedAbout) {
  auto lines = CleanLines();
  lines[17] = R"(      <HKCR keyName="P.Doc" ValueName="" Textvalue="x"/>)";
  lines[9] = R"(    <LIBRARY Id="2" Caption="Extra" PV="P.EXTRA" Dependency="1">)";
  auto found = Check(lines);
  EXPECT_THAT(found, ElementsAre(At(10, Col(lines[9], "Id="),
                                    "warning: attribute \"Id\" is ignored: the installer reads "
                                    "\"ID\" (attribute names match exactly)"),
                                 At(18, Col(lines[17], "keyName"),
                                    "warning: attribute \"keyName\" is ignored: the installer "
                                    "reads \"KeyName\" (attribute names match exactly)"),
                                 At(18, Col(lines[17], "Textvalue"),
                                    "warning: attribute \"Textvalue\" is ignored: the installer "
                                    "reads \"TextValue\" (attribute names match exactly)")));
}

TEST_F(ScriptCheck, FilesThePackageLacksAreErrorsAtTheAttributeThatNamesThem) {
  PackageContents contents;
  contents.Add(L"InstallScript.cfg");
  contents.Add(L"Bin/Other.exe");      // the folder "bin" is there, in another case
  contents.Add(L"EXTRA\\README.TXT");  // names compare without case, "/" as "\"
  auto lines = CleanLines();
  lines[22] = R"(  <ICONS Path="icons\setup.ico" PathDI="icons/uninstall.ico"/>)";
  lines[20] = R"(  <UNINSTALLER Title="P"/><CLIENT><Exec Path="client\c.msi"/></CLIENT>)";
  auto found = Check(lines, contents);
  EXPECT_THAT(
      found,
      ElementsAre(
          At(16, Col(lines[15], "Name="), "error: file \"readme.txt\" is not in the package"),
          At(21, Col(lines[20], "Path="),
             "error: client package \"client\\c.msi\" is not in the package"),
          At(23, Col(lines[22], "Path="), "error: icon \"icons\\setup.ico\" is not in the package"),
          At(23, Col(lines[22], "PathDI="),
             "error: icon \"icons\\uninstall.ico\" is not in the package"),
          At(24, Col(lines[23], "Path="), "error: image \"images\\bg.png\" is not in the package"),
          At(28, Col(lines[27], "Path="), "error: licence \"license.txt\" is not in the package")));

  // A folder that the package lacks, named through a macro.
  auto macroFolder = CleanLines();
  macroFolder[3] += R"(<MACRO Name="%Docs%" Value="docs"/>)";
  macroFolder[7] =
      R"(      <DIRECTORY Name="%Docs%/manual"/><DIRECTORY Name="%COMMON_APPDATA%\P"/>)";
  found = Check(macroFolder);
  // (A full path is no name of the package: the installer refuses it when it reads the step.)
  EXPECT_THAT(found,
              ElementsAre(At(8, Col(macroFolder[7], "Name="),
                             "error: folder \"docs\\manual\" is not in the package"),
                          At(8, Col(macroFolder[7], "Name=\"%COMMON"),
                             "error: Name \"C:\\ProgramData\\P\" of <DIRECTORY> is refused: it is "
                             "an absolute path; the installer skips the entry")));
}

TEST_F(ScriptCheck, NamesThatLeaveTheirFolderAreErrorsAsTheInstallerRefusesThem) {
  auto lines = CleanLines();
  lines[15] =
      R"(    <FILE Name="..\..\victim.txt"/><DIRECTORY Name="C:\"/><DIRECTORY Name="bin/../../Other"/>)";
  lines[17] = R"(      <HKLM KeyName="\SOFTWARE\Policies"/><HKLM KeyName="SOFTWARE\P"/>)";
  lines[18] = R"(    </REGISTRY><SHARE Name="S" Path="..\x"/><RIGHTS Name="NUL"/>)"
              R"(<DIRECTORY Name="bin" Type="common" Target="..\Common"/>)";
  auto found = Check(lines);
  EXPECT_THAT(
      found,
      ElementsAre(
          At(16, Col(lines[15], R"(Name="..)"),
             R"(error: Name "..\..\victim.txt" of <FILE> is refused: it climbs out with ".."; )"
             "the installer skips the entry"),
          At(16, Col(lines[15], R"(Name="C:)"),
             R"(error: Name "C:\" of <DIRECTORY> is refused: it is an absolute path; the )"
             "installer skips the entry"),
          At(16, Col(lines[15], R"(Name="bin)"),
             R"(error: Name "bin\..\..\Other" of <DIRECTORY> is refused: it climbs out with )"
             R"(".."; the installer skips the entry)"),
          At(18, Col(lines[17], "KeyName"),
             R"(error: KeyName "\SOFTWARE\Policies" of <HKLM> is refused: it starts at a root; )"
             "the installer skips the entry"),
          At(19, Col(lines[18], "Path="),
             R"(error: Path "..\x" of <SHARE> is refused: it climbs out with ".."; the )"
             "installer skips the entry"),
          At(19, Col(lines[18], R"(Name="NUL)"),
             R"(error: Name "NUL" of <RIGHTS> is refused: it names a device; the installer )"
             "skips the entry")));
}

TEST_F(ScriptCheck, AFullTargetMustLieInTheFolderOfTheInstalledProductsRecord) {
  auto lines = CleanLines();
  lines[15] = R"(    <DIRECTORY Name="bin" Target="%COMMON_APPDATA%\P"/><FILE Name="readme.txt" )"
              R"(Target="C:/ProgramData/P/docs/"/><DIRECTORY Name="bin" Target="C:\Windows"/>)"
              R"(<DIRECTORY Name="bin" Target="C:\ProgramData\PX"/>)";
  auto found = Check(lines);
  EXPECT_THAT(
      found,
      ElementsAre(At(16, Col(lines[15], R"(Target="C:\W)"),
                     R"(error: Target "C:\Windows" of <DIRECTORY> is refused: a full path must )"
                     R"(lie in the folder of the installed-products record "C:\ProgramData\P"; )"
                     "the installer skips the entry"),
                  At(16, Col(lines[15], R"(Target="C:\ProgramData\PX)"),
                     R"(error: Target "C:\ProgramData\PX" of <DIRECTORY> is refused: a full )"
                     R"(path must lie in the folder of the installed-products record )"
                     R"("C:\ProgramData\P"; the installer skips the entry)")));

  // Without a record there is no such folder.
  lines[14] = "";
  found = Check(lines);
  ASSERT_FALSE(found.empty());
  EXPECT_THAT(found[0], HasSubstr("(COMMONINFO names none)"));
}

TEST_F(ScriptCheck, MacrosUsedButNeverDefinedAreWarnedAbout) {
  auto lines = CleanLines();
  lines[17] =
      R"(      <HKLM KeyName="SOFTWARE\%Company%" ValueName="Path" TextValue="%BinDir%\%1 %BUILD% %COMMON FILES%"/>)";
  lines[14] = R"(    <COMMONINFO File="%COMMON_APPDATA%\P\P.cfg" Log="%common_appdata%\p.log"/>)";
  auto found = Check(lines);
  EXPECT_THAT(found, ElementsAre(At(15, Col(lines[14], "Log="),
                                    "warning: macro %common_appdata% is used but never defined: "
                                    "the text keeps it as written"),
                                 At(18, Col(lines[17], "KeyName="),
                                    "warning: macro %Company% is used but never defined: the "
                                    "text keeps it as written")));
}

TEST_F(ScriptCheck, IgnoreForTagsOfNoActionAreWarnedAbout) {
  auto lines = CleanLines();
  lines[15] = R"(    <FILE Name="readme.txt" IgnoreFor="Uninstal|LOCAL| Client|"/>)";
  auto found = Check(lines);
  const int col = Col(lines[15], "IgnoreFor=");
  EXPECT_THAT(found,
              ElementsAre(At(16, col,
                             "warning: \"IgnoreFor\" tag \"Uninstal\" matches no action and no "
                             "kind of installation"),
                          At(16, col,
                             "warning: \"IgnoreFor\" tag \" Client\" matches no action and no "
                             "kind of installation")));
}

TEST_F(ScriptCheck, LibraryDependenciesThatCannotHoldAreWarnedAbout) {
  auto lines = CleanLines();
  lines[6] = R"(    <LIBRARY ID="1" Caption="Core" PV="P.CORE" Readonly="1" Selected="0">)";
  lines[9] = R"(    <LIBRARY ID="2" Caption="Extra" PV="P.EXTRA" Dependency="3;7">)";
  lines[11] = R"(    </LIBRARY><LIBRARY ID="3" Dependency="2"/><LIBRARY ID="3" Dependency="3"/>)";
  auto found = Check(lines);
  EXPECT_THAT(found,
              ElementsAre(At(7, 5,
                             "warning: library 1 is read-only and not selected: nobody can ever "
                             "select it"),
                          At(10, Col(lines[9], "Dependency="),
                             "warning: library 2 depends on library 7, which does not exist"),
                          At(10, Col(lines[9], "Dependency="),
                             "warning: the dependencies of libraries form a cycle (2 -> 3 -> 2): "
                             "none of them can be cleared on the components page"),
                          At(12, Col(lines[11], "ID=\"3\" Dependency=\"3\""),
                             "warning: library ID 3 is used twice: the installer finds only the "
                             "first")));
}

TEST_F(ScriptCheck, MessagesAndTextsALanguageLacksAreWarnedAbout) {
  auto lines = CleanLines();
  lines[15] = R"(    <FILE Name="readme.txt"/><Exec Path="x" AskKey="MsgAskRun"/>)";
  std::string messages = AllMessages();
  const std::string uninstall = "<MsgUninstall Caption=\"text\"/>";
  messages.erase(messages.find(uninstall), uninstall.size());
  lines[29] =
      "    </ENGLISH>\n    <RUSSIAN ID=\"1049\" Title=\"Russian\" SystemName=\"Russian\">"
      "<DLG_GREETING Caption=\"x\"/><MESSAGES>" +
      messages + "</MESSAGES></RUSSIAN>";
  auto found = Check(lines);
  const std::string english = "language \"English\"";
  const std::string russian = "language \"Russian\"";
  EXPECT_THAT(
      found,
      ElementsAre(
          At(29, 7, "warning: " + english + " has no message \"MsgAskRun\""),
          At(31, 5,
             "warning: " + russian + " has no text \"DLG_GREETING/TEXT\" (\"English\" has it)"),
          At(31, 5, "warning: " + russian + " has no text \"DLG_LICENSE\" (\"English\" has it)"),
          At(31, 5,
             "warning: " + russian + " has no text \"DLG_LICENSE/LICENSE\" (\"English\" has it)"),
          At(31, Col(lines[29].substr(lines[29].find('\n') + 1), "<MESSAGES>"),
             "warning: " + russian + " has no messages \"MsgAskRun\", \"MsgUninstall\"")));
}

TEST_F(ScriptCheck, PageSwitchesOfNoPageAreWarnedAbout) {
  auto lines = CleanLines();
  lines[21] =
      R"(  <DIALOGS><DLG_GREETING Show="Y"/><dlg_license Show="n"/><DLG_LICENCE Show="n"/></DIALOGS>)";
  EXPECT_THAT(Check(lines),
              ElementsAre(At(22, Col(lines[21], "<DLG_LICENCE"),
                             "warning: <DIALOGS> switch <DLG_LICENCE> names no page of the "
                             "installer")));
}

TEST_F(ScriptCheck, NumbersThatDoNotConvertAreErrors) {
  auto lines = CleanLines();
  lines[1] =
      R"(<SCENARIO Name="P" PV="P" RegKey="P" Version="1a" Build="7x" DirName="P" Language="en">)";
  lines[9] = R"(    <LIBRARY ID="two" Caption="Extra" PV="P.EXTRA" Dependency="1">)";
  EXPECT_THAT(Check(lines),
              ElementsAre(At(2, Col(lines[1], "Build="),
                             "error: \"Build\" is not a number (\"7x\"): the installer cannot "
                             "read the product description"),
                          At(2, Col(lines[1], "Language="),
                             "error: \"Language\" is not a number (\"en\"): the installer "
                             "cannot read the product description"),
                          At(10, Col(lines[9], "ID="),
                             "error: \"ID\" of a library is not a number (\"two\"): the "
                             "installer cannot read the product description")));
}

TEST_F(ScriptCheck, ScriptsWithoutPicturesTheInstallerCanLoadAreErrors) {
  auto lines = CleanLines();
  lines[23] = R"(  <Images><BACKGROUND ID="zero" Path="images/bg.png"/></Images>)";
  EXPECT_THAT(Check(lines), ElementsAre(At(24, Col(lines[23], "ID="),
                                           "error: the \"ID\" of a picture is not a number: the "
                                           "installer cannot load its pictures and stops")));
  lines[23] = "  <!-- no pictures -->";
  EXPECT_THAT(Check(lines), ElementsAre(At(2, 1,
                                           "error: the script has no <Images>: the installer "
                                           "cannot load its pictures and stops")));
}

TEST_F(ScriptCheck, AnUninstallerWithoutTitleIsAnError) {
  auto lines = CleanLines();
  lines[20] = R"(  <UNINSTALLER Company="C"/>)";
  EXPECT_THAT(Check(lines),
              ElementsAre(At(21, 3,
                             "error: <UNINSTALLER> has no \"Title\": the product's entry in the "
                             "list of programs would have no name")));
}

TEST_F(ScriptCheck, LanguagesTheInstallerRefusesAreErrors) {
  auto lines = CleanLines();
  lines[25] = R"(    <!-- English --><ENGLISH ID="1033" Title="English">)";
  auto found = Check(lines);
  EXPECT_THAT(found, ElementsAre(At(25, 3,
                                    "error: <Localization> holds a #comment node: the installer "
                                    "accepts language elements only there"),
                                 At(26, Col(lines[25], "<ENGLISH"),
                                    "error: language <ENGLISH> has no \"SystemName\": the "
                                    "installer refuses the languages")));
  auto none = CleanLines();
  none.erase(none.begin() + 24, none.begin() + 31);
  EXPECT_THAT(Check(none), ElementsAre(At(2, 1,
                                          "error: the script has no <Localization>: the "
                                          "installer cannot start")));
}

TEST(PackageNames, NamesTheCodePageCannotHoldOrThatLeadOutsideAreErrors) {
  tltest::ScopedMachine machine;  // code page 1252
  PackageContents contents;
  contents.Add(L"docs/r\u00e9sum\u00e9.txt");  // in 1252
  contents.Add(L"docs/\u0100lpha.txt");        // best fit "A": another name
  contents.Add(L"docs/\u4e2d.txt");            // "?"
  contents.Add(L"..\\evil.txt");
  auto found = TlPack::CheckNames(contents);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_THAT(platform::ToUtf8(found[0].text), HasSubstr("docs\\\u0100lpha.txt"));
  EXPECT_THAT(platform::ToUtf8(found[0].text), HasSubstr("code page 1252 lacks"));
  EXPECT_THAT(platform::ToUtf8(found[1].text), HasSubstr("docs\\\u4e2d.txt"));
  EXPECT_THAT(platform::ToUtf8(found[2].text), HasSubstr("would land outside"));
  EXPECT_EQ(TlPack::FormatDiagnostic("Setup.data", found[2]).rfind("Setup.data: error: ", 0), 0u);
}

TEST(PackageNames, ContentsAnswerAsTheArchiveReaderLooksUp) {
  PackageContents c;
  c.Add(L"Bin/Tools/run.exe");
  c.Add(L"empty/");
  EXPECT_TRUE(c.HasFile(L"bin\\tools\\RUN.EXE"));
  EXPECT_TRUE(c.HasFile(L".\\bin/tools/run.exe"));
  EXPECT_FALSE(c.HasFile(L"bin\\tools"));
  EXPECT_TRUE(c.HasFolder(L"BIN"));
  EXPECT_TRUE(c.HasFolder(L"bin\\tools\\"));
  EXPECT_TRUE(c.HasFolder(L"empty"));
  EXPECT_FALSE(c.HasFolder(L"bi"));
  EXPECT_FALSE(c.HasFolder(L"bin\\tools\\run.exe"));
}

TEST(CheckStatus, ErrorsGiveTwoAndWarningsOneOnlyWhenStrict) {
  EXPECT_EQ(TlPack::CheckStatus({0, 0}, true), 0);
  EXPECT_EQ(TlPack::CheckStatus({0, 3}, false), 0);
  EXPECT_EQ(TlPack::CheckStatus({0, 3}, true), 1);
  EXPECT_EQ(TlPack::CheckStatus({1, 3}, false), 2);
  EXPECT_EQ(TlPack::CheckStatus({1, 0}, true), 2);
}

}  // namespace
