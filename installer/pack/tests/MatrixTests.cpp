// The matrix of tlpack test: its file, its cells and their machines, the cell files and the
// reports; then tlpack itself on the sample and on small packages made here, over several
// processes, shards and a merge, with the report opened in a real browser.
#include "pack/Matrix.h"
#include "platform/Machine.h"
#include "pack/tests/ToolRun.h"
#include "platform/Text.h"
#include "testing/TempFolder.h"
#include "testing/MachineFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace TlPack;

namespace {

using packtest::Quote;
using packtest::ReadAll;
using packtest::Result;
using packtest::Shell;
using packtest::Write;

std::vector<ScriptLanguage> EnglishAndRussian() {
  return {{1033, L"English", L"English"}, {1049, L"Русский", L"Russian"}};
}

const MatrixCell& CellOf(const std::vector<MatrixCell>& cells, const std::string& id) {
  for (const MatrixCell& c : cells)
    if (c.id == id) return c;
  throw std::runtime_error("no cell " + id);
}

}  // namespace

// ---- the matrix file and its cells ------------------------------------------------------------

TEST(MatrixCells, TheDefaultMatrixMakesAMachinePerCellInTheLanguagesCodePages) {
  const std::vector<MatrixCell> cells = CellsOf(DefaultMatrix(), EnglishAndRussian());
  ASSERT_EQ(cells.size(), 24u);  // 4 systems, 3 accounts, 2 languages
  EXPECT_EQ(cells.front().id, "xp-admin-1033");
  EXPECT_EQ(cells.back().id, "win11-standard-1049");
  // XP has no UAC: an administrator without elevation does not exist there.
  EXPECT_THAT(CellOf(cells, "xp-limited-1033").notApplicable, HasSubstr("no UAC"));
  EXPECT_TRUE(CellOf(cells, "xp-limited-1033").machine.empty());
  EXPECT_TRUE(CellOf(cells, "win7-limited-1033").notApplicable.empty());

  // Each machine is what the machine layer reads, with the system, the account and the language.
  const platform::MachineConfig xp =
      platform::MachineConfig::Parse(CellOf(cells, "xp-standard-1049").machine);
  EXPECT_EQ(xp.os.major, 5u);
  EXPECT_EQ(xp.os.minor, 1u);
  EXPECT_FALSE(xp.os.is64Bit);
  EXPECT_EQ(xp.os.servicePack, L"Service Pack 3");
  EXPECT_FALSE(xp.uacEnabled);
  EXPECT_EQ(xp.memberships, std::vector<std::wstring>{L"Users"});
  EXPECT_FALSE(xp.elevated);
  EXPECT_EQ(xp.systemLcid, 0x0419);
  EXPECT_EQ(xp.uiLanguage, 0x0419);
  EXPECT_EQ(xp.ansiCodePage, 1251u);
  EXPECT_EQ(xp.oemCodePage, 866u);
  const platform::MachineConfig win11 =
      platform::MachineConfig::Parse(CellOf(cells, "win11-limited-1033").machine);
  EXPECT_EQ(win11.os.build, 22631u);
  EXPECT_TRUE(win11.os.is64Bit);
  EXPECT_TRUE(win11.uacEnabled);
  EXPECT_FALSE(win11.elevated);
  EXPECT_EQ(win11.ansiCodePage, 1252u);
  EXPECT_EQ(win11.oemCodePage, 437u);
  // What the matrix does not touch stays the default machine's (its drives, for one).
  EXPECT_TRUE(win11.Drive(L'C'));
  EXPECT_TRUE(win11.Drive(L'Z'));

  EXPECT_EQ(CodePagesOf(0x0405), (std::pair<unsigned, unsigned>{1250, 437}));  // Czech
  EXPECT_EQ(CodePagesOf(0x0422), (std::pair<unsigned, unsigned>{1251, 866}));  // Ukrainian
  EXPECT_EQ(CodePagesOf(0x041F), (std::pair<unsigned, unsigned>{1254, 437}));  // Turkish
  EXPECT_EQ(CodePagesOf(0x0407), (std::pair<unsigned, unsigned>{1252, 437}));  // German
}

TEST(MatrixCells, AMatrixFileNamesItsOwnMachinesAndLanguages) {
  const Matrix m = ReadMatrix(
      "# two machines of a customer\n"
      "[system vista]\ntitle = Windows Vista x86\nname = Windows Vista Business\nmajor = 6\n"
      "minor = 0\nbuild = 6002\narchitecture = x86\nuac.enabled = yes\n"
      "[system srv]\ntitle = Server 2019\nproduct_type = server\nmachine.server = yes\n"
      "[account power]\ntitle = a power user\nmemberships = Power Users, Users\nelevated = no\n"
      "[languages]\nonly = Russian\n",
      "m.ini");
  ASSERT_EQ(m.systems.size(), 2u);
  ASSERT_EQ(m.accounts.size(), 1u);
  EXPECT_EQ(m.systems[0].title, "Windows Vista x86");
  const std::vector<MatrixCell> cells = CellsOf(m, EnglishAndRussian());
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells[0].id, "vista-power-1049");
  const platform::MachineConfig vista = platform::MachineConfig::Parse(cells[0].machine);
  EXPECT_EQ(vista.os.productName, L"Windows Vista Business");
  EXPECT_EQ(vista.os.major, 6u);
  EXPECT_FALSE(vista.os.is64Bit);
  EXPECT_EQ(vista.memberships, (std::vector<std::wstring>{L"Power Users", L"Users"}));
  const platform::MachineConfig server = platform::MachineConfig::Parse(cells[1].machine);
  EXPECT_TRUE(server.server);
  EXPECT_EQ(server.os.productType, 3u);

  // Without systems or accounts the default ones are taken.
  const Matrix languagesOnly = ReadMatrix("[languages]\nonly = 1033\n", "m.ini");
  EXPECT_EQ(CellsOf(languagesOnly, EnglishAndRussian()).size(), 12u);
}

TEST(MatrixCells, WhatCannotMakeACellIsRefusedWithItsPlace) {
  auto refused = [](const std::string& text) {
    try {
      ReadMatrix(text, "m.ini");
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_THAT(refused("[system a]\nmajor = 6\n[system A]\n"), HasSubstr("m.ini, line 3"));
  EXPECT_THAT(refused("major = 6\n"), HasSubstr("outside any section"));
  EXPECT_THAT(refused("[window x]\n"), HasSubstr("unknown section"));
  EXPECT_THAT(refused("[system ../x]\n"), HasSubstr("needs an id"));
  EXPECT_THAT(refused("[system a]\nno value here\n"), HasSubstr("line 2"));
  EXPECT_THAT(refused("[languages]\nall = yes\n"), HasSubstr("only"));
  // A value the machine layer refuses names the machine and the line of machine.ini.
  try {
    CellsOf(ReadMatrix("[system odd]\narchitecture = arm\n", "m.ini"), EnglishAndRussian());
    ADD_FAILURE() << "an architecture the machine does not have was taken";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), HasSubstr("does not make a machine"));
    EXPECT_THAT(e.what(), HasSubstr("architecture"));
  }
  EXPECT_THROW(CellsOf(ReadMatrix("[languages]\nonly = German\n", "m.ini"), EnglishAndRussian()),
               std::runtime_error);
  EXPECT_THROW(CellsOf(DefaultMatrix(), {}), std::runtime_error);
}

// ---- what a cell runs ---------------------------------------------------------------------------

namespace {

// A script for the plan of a cell: `root` attributes, the children of the root, the DIALOGS
// switches of the install-type page, and whether the Russian section has that page's texts and
// a "MsgRights".
std::string PlanScript(const std::string& installType, const std::string& children,
                       const std::string& pageSwitch, bool russianPage, bool russianRights) {
  auto language = [](const std::string& tag, int id, const std::string& system, bool page,
                     bool rights, const std::string& text) {
    return "<" + tag + " ID=\"" + std::to_string(id) + "\" Title=\"" + system + "\" SystemName=\"" +
           system + "\">" +
           (page ? "<DLG_INSTALL_TYPE><TEXT Caption=\"How?\"/></DLG_INSTALL_TYPE>" : "") +
           "<MESSAGES>" + (rights ? "<MsgRights Caption=\"" + text + "\"/>" : "") +
           "<MsgCaption Caption=\"Setup\"/></MESSAGES></" + tag + ">";
  };
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SCENARIO Name=\"P\" PV=\"P\" Version=\"1\"" +
         (installType.empty() ? std::string() : " InstallType=\"" + installType + "\"") +
         " Build=\"1\">" + children + "<DIALOGS>" + pageSwitch + "</DIALOGS><Localization>" +
         language("ENGLISH", 1033, "English", true, true, "Administrators only.\\nAsk one.") +
         language("RUSSIAN", 1049, "Russian", russianPage, russianRights, "Только администратор.") +
         "</Localization></SCENARIO>\n";
}

const char* const kServerAndClient =
    "<SERVER/><CLIENT Share=\"S\"><Exec Path=\"client\\c.msi\"/></CLIENT>";

std::string MachineOf(const std::string& system, const std::string& account) {
  return CellOf(CellsOf(DefaultMatrix(), EnglishAndRussian()), system + "-" + account + "-1033")
      .machine;
}

std::vector<std::string> Names(const CellPlan& plan) {
  std::vector<std::string> out;
  for (const CellPlan::Type& t : plan.types)
    out.push_back(t.name + (t.answer.empty() ? "" : "=" + t.answer) +
                  (t.notApplicable.empty() ? "" : " n/a"));
  return out;
}

}  // namespace

TEST(MatrixPlan, OnlyAnElevatedAdministratorMaySetUpSoftware) {
  for (const char* system : {"xp", "win7", "win10", "win11"}) {
    EXPECT_TRUE(MaySetUpSoftware(MachineOf(system, "admin"))) << system;
    EXPECT_FALSE(MaySetUpSoftware(MachineOf(system, "standard"))) << system;
  }
  for (const char* system : {"win7", "win10", "win11"})
    EXPECT_FALSE(MaySetUpSoftware(MachineOf(system, "limited"))) << system;
  // Without UAC an administrator's token is the full one.
  const Matrix noUac = ReadMatrix(
      "[system w10]\nuac.enabled = no\n[account a]\nmemberships = Administrators\nelevated = yes\n"
      "[account low]\nmemberships = Administrators\nintegrity = medium\n",
      "m.ini");
  const std::vector<MatrixCell> cells = CellsOf(noUac, {{1033, L"English", L"English"}});
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_TRUE(MaySetUpSoftware(cells[0].machine));
  // A token lowered to the medium level is refused like one without elevation.
  EXPECT_FALSE(MaySetUpSoftware(cells[1].machine));
  EXPECT_FALSE(MaySetUpSoftware("[user]\nmemberships = \"\n[os\n"));
}

TEST(MatrixPlan, TheTypesAreThoseThePageOffersInTheCell) {
  const std::string admin = MachineOf("win10", "admin");
  using V = std::vector<std::string>;
  // The page with a server and a client: both rows and the local one; the client needs a
  // server's share and does not apply in one machine.
  const std::string both = PlanScript("Full", kServerAndClient, "", true, true);
  EXPECT_EQ(Names(PlanCell(both, 1033, admin)),
            (V{"server=Server", "local=Local", "client=Client n/a"}));
  EXPECT_THAT(PlanCell(both, 1033, admin).types[2].notApplicable, HasSubstr("shared folder"));
  EXPECT_EQ(Names(PlanCell(PlanScript("install", kServerAndClient, "", true, true), 1033, admin)),
            (V{"server=Server", "local=Local", "client=Client n/a"}));
  // A kind the script cannot install, or a row its switch hides, is not offered; a client
  // without its package neither.
  EXPECT_EQ(
      Names(PlanCell(PlanScript("Full", "<CLIENT><Exec Path=\"c.msi\"/></CLIENT>", "", true, true),
                     1033, admin)),
      (V{"local=Local", "client=Client n/a"}));
  EXPECT_EQ(Names(PlanCell(PlanScript("Full", "<SERVER/><CLIENT/>", "", true, true), 1033, admin)),
            (V{"server=Server", "local=Local"}));
  EXPECT_EQ(Names(PlanCell(PlanScript("Full", kServerAndClient,
                                      "<DLG_INSTALL_TYPE><TYPE_SERVER Show=\"N\"/>"
                                      "<TYPE_CLIENT Show=\"n\"/></DLG_INSTALL_TYPE>",
                                      true, true),
                           1033, admin)),
            (V{"local=Local"}));
  // The page switched off, or a script of another type: the script's own type, no page.
  EXPECT_EQ(Names(PlanCell(
                PlanScript("Full", kServerAndClient, "<DLG_INSTALL_TYPE Show=\"N\"/>", true, true),
                1033, admin)),
            (V{"full"}));
  EXPECT_EQ(Names(PlanCell(PlanScript("Server", kServerAndClient, "", true, true), 1033, admin)),
            (V{"server"}));
  EXPECT_EQ(Names(PlanCell(PlanScript("Local", kServerAndClient, "", true, true), 1033, admin)),
            (V{"local"}));
  EXPECT_EQ(Names(PlanCell(PlanScript("Client", kServerAndClient, "", true, true), 1033, admin)),
            (V{"client n/a"}));
  // The page without its texts in the cell's language is not shown: a local installation.
  const std::string noRussianPage = PlanScript("Full", kServerAndClient, "", false, true);
  EXPECT_EQ(Names(PlanCell(noRussianPage, 1049, admin)), (V{"local"}));
  EXPECT_EQ(Names(PlanCell(noRussianPage, 1033, admin)).size(), 3u);
  // A page that offers no row at all: one run, as the answers make of it.
  EXPECT_EQ(Names(PlanCell(PlanScript("Full", "",
                                      "<DLG_INSTALL_TYPE><TYPE_LOCAL Show=\"N\"/>"
                                      "</DLG_INSTALL_TYPE>",
                                      true, true),
                           1033, admin)),
            (V{"none"}));
  EXPECT_THROW(PlanCell("not a script", 1033, admin), std::runtime_error);
}

TEST(MatrixPlan, ARefusedAccountRunsNoTypeAndExpectsTheRefusalInItsLanguage) {
  const std::string script = PlanScript("Full", kServerAndClient, "", true, false);
  for (const char* account : {"limited", "standard"}) {
    const CellPlan english = PlanCell(script, 1033, MachineOf("win11", account));
    EXPECT_TRUE(english.refused) << account;
    EXPECT_TRUE(english.types.empty()) << account;
    EXPECT_EQ(english.refusalText, "Administrators only.\\nAsk one.");
    // The Russian section has no "MsgRights": nothing to show but the bare ID.
    const CellPlan russian = PlanCell(script, 1049, MachineOf("win11", account));
    EXPECT_TRUE(russian.refused);
    EXPECT_EQ(russian.refusalText, "");
  }
  const CellPlan admin = PlanCell(script, 1049, MachineOf("xp", "admin"));
  EXPECT_FALSE(admin.refused);
  EXPECT_EQ(admin.types.size(), 3u);
  EXPECT_EQ(PlanCell(PlanScript("Full", "", "", true, true), 1049, MachineOf("xp", "standard"))
                .refusalText,
            "Только администратор.");
}

TEST(MatrixPlan, TheChosenTypeReplacesTheAnswersOwnInstallTypePage) {
  const std::string own =
      "# mine\n[page DLG_GREETING]\nbutton = Next\n\n[page DLG_INSTALL_TYPE]\n"
      "InstallType = Local\nbutton = Next\n\n[ Page   dlg_install_type ]\r\nInstallType = Client\n"
      "[message MsgAskStart]\nanswer = No\n";
  const std::string server = WithInstallType(own, "Server");
  EXPECT_THAT(server, HasSubstr("[page DLG_GREETING]\nbutton = Next\n"));
  EXPECT_THAT(server, HasSubstr("[message MsgAskStart]\nanswer = No\n"));
  EXPECT_THAT(server, Not(HasSubstr("InstallType = Local")));
  EXPECT_THAT(server, Not(HasSubstr("InstallType = Client")));
  EXPECT_THAT(server, HasSubstr("[page DLG_INSTALL_TYPE]\nInstallType = Server\nbutton = Next\n"));
  const std::string defaults = WithInstallType(DefaultInstallAnswers(), "Local");
  EXPECT_EQ(defaults.find("DLG_INSTALL_TYPE"), defaults.rfind("DLG_INSTALL_TYPE"));
  EXPECT_THAT(defaults, HasSubstr("[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n"));
}

// ---- the cell files and the reports ------------------------------------------------------------

TEST(MatrixReports, ACellFileReadsBackAsItWasWrittenWhateverItsTexts) {
  CellResult r;
  r.id = "win10-admin-1049";
  r.system = "Windows 10 x64";
  r.account = "administrator";
  r.language = "Русский";
  r.status = "fail";
  r.reason = "install (exit status 13): two\tcolumns\nand a line \\n";
  r.seconds = 2.5;
  StepReport step;
  step.name = "install";
  step.exitCode = 13;
  step.seconds = 1.25;
  step.note = "answers: the defaults";
  step.logLines = {"  ERROR : a\tb", ""};
  step.questions = {"Message box: Save it?\nNow? -> Yes"};
  step.screenshots = {"pictures/win10-admin-1049/install/01-main-start.png"};
  r.steps = {step, StepReport{}};
  r.steps[1].name = "restart";
  r.traces = {"+ K HKEY_LOCAL_MACHINE\\SOFTWARE\\X\tsecurity=..."};
  r.kept = {"+ D C:\\ProgramData\\TOLMERA\tattr=D"};
  const CellResult back = ParseCellResult(CellResultText(r));
  EXPECT_EQ(back.id, r.id);
  EXPECT_EQ(back.language, r.language);
  EXPECT_EQ(back.reason, r.reason);
  EXPECT_DOUBLE_EQ(back.seconds, 2.5);
  ASSERT_EQ(back.steps.size(), 2u);
  EXPECT_EQ(back.steps[0].exitCode, 13);
  EXPECT_FALSE(back.steps[0].ok);
  EXPECT_EQ(back.steps[0].note, step.note);
  EXPECT_EQ(back.steps[0].logLines, step.logLines);
  EXPECT_EQ(back.steps[0].questions, step.questions);
  EXPECT_EQ(back.steps[0].screenshots, step.screenshots);
  EXPECT_EQ(back.steps[1].name, "restart");
  EXPECT_EQ(back.traces, r.traces);
  EXPECT_EQ(back.kept, r.kept);
  EXPECT_THROW(ParseCellResult("something else\n"), std::runtime_error);
}

TEST(MatrixReports, TheReportsCarryEveryCellEscapedAndThePicturesInThePage) {
  tltest::TempFolder temp{"matrix-report-"};
  const std::string folder = temp / "report";
  // A picture of a page: a few bytes are enough to be carried as they are.
  Write(folder + "/pictures/c1/install/01-page-DLG_GREETING.png", std::string("\x89PNG\r\n", 6));
  std::vector<CellResult> results(3);
  results[0].id = "c1";
  results[0].system = "Win <10>";
  results[0].account = "admin";
  results[0].language = "English";
  results[0].status = "pass";
  results[0].steps.resize(1);
  results[0].steps[0].name = "install";
  results[0].steps[0].ok = true;
  results[0].steps[0].screenshots = {"pictures/c1/install/01-page-DLG_GREETING.png"};
  results[1] = results[0];
  results[1].id = "c2";
  results[1].language = "Русский";
  results[1].status = "fail";
  results[1].reason = "install: \"A & B\" <left>";
  results[1].steps[0].screenshots.clear();
  results[1].traces = {"+ F C:\\x\x01.txt\tsize=1"};
  results[2] = results[0];
  results[2].id = "c3";
  results[2].account = "limited";
  results[2].status = "n/a";
  results[2].reason = "no UAC";
  WriteReports(results, "Product & Co", folder);

  const std::string html = ReadAll(folder + "/report.html");
  EXPECT_THAT(html, HasSubstr("<title>Product &amp; Co: package test matrix</title>"));
  EXPECT_THAT(html, HasSubstr("<th>Win &lt;10&gt;</th>"));
  EXPECT_THAT(html, HasSubstr("<td class=\"pass\""));
  EXPECT_THAT(html, HasSubstr("<td class=\"fail\" title=\"install: &quot;A &amp; B&quot; "
                              "&lt;left&gt;\"><a href=\"#c2\">fail</a></td>"));
  EXPECT_THAT(html, HasSubstr("<td class=\"na\""));
  EXPECT_THAT(html, HasSubstr("<section class=\"cell\" id=\"c2\">"));
  EXPECT_THAT(html, HasSubstr("src=\"data:image/png;base64,iVBORw0K\""));
  EXPECT_THAT(html, Not(HasSubstr("<left>")));
  EXPECT_THAT(html, Not(HasSubstr("http")));  // nothing is fetched when the page is shown

  const std::string junit = ReadAll(folder + "/junit.xml");
  EXPECT_THAT(junit, HasSubstr("<testsuites name=\"Product &amp; Co\" tests=\"3\" failures=\"1\" "
                               "errors=\"0\" skipped=\"1\""));
  EXPECT_THAT(junit,
              HasSubstr("<failure message=\"install: &quot;A &amp; B&quot; &lt;left&gt;\">"));
  EXPECT_THAT(junit, HasSubstr("<skipped message=\"no UAC\"/>"));
  EXPECT_THAT(junit, Not(HasSubstr("\x01")));  // XML cannot carry it
  // A JUnit reader reads it: suites per system and account, cases per language.
  const std::string python =
      "import sys, xml.etree.ElementTree as E\n"
      "r = E.parse(sys.argv[1]).getroot()\n"
      "for s in r.findall('testsuite'):\n"
      "  print(s.get('name'), s.get('tests'), s.get('failures'), s.get('skipped'),\n"
      "        [c.get('name') for c in s.findall('testcase')])\n";
  Write(temp / "read.py", python);
  const Result read =
      Shell("python3 " + Quote(temp / "read.py") + " " + Quote(folder + "/junit.xml"));
  ASSERT_EQ(read.status, 0) << read.out;
  EXPECT_EQ(read.out,
            "Win <10> / admin 2 1 0 ['English', 'Русский']\n"
            "Win <10> / limited 1 0 1 ['English']\n");
}

TEST(MatrixReports, TypesAndRefusalsReadBackAndCountAsTheyShould) {
  CellResult typed;
  typed.id = "win10-admin-1033";
  typed.system = "Windows 10 x64";
  typed.account = "administrator";
  typed.language = "English";
  typed.status = "fail";
  typed.reason = "local: install (exit status 13): broken";
  typed.types.resize(3);
  typed.types[0].name = "server";
  typed.types[0].status = "pass";
  typed.types[0].seconds = 1.5;
  typed.types[0].steps.resize(1);
  typed.types[0].steps[0].name = "install";
  typed.types[0].steps[0].ok = true;
  typed.types[0].steps[0].exitCode = 0;
  typed.types[0].steps[0].questions = {"Select installation: &Server"};
  typed.types[0].kept = {"+ D C:\\ProgramData\\TOLMERA\tattr=D"};
  typed.types[1].name = "local";
  typed.types[1].status = "fail";
  typed.types[1].reason = "install (exit status 13): broken";
  typed.types[1].steps = typed.types[0].steps;
  typed.types[1].steps[0].exitCode = 13;
  typed.types[1].steps[0].ok = false;
  typed.types[1].traces = {"+ F C:\\left.txt\tsize=1"};
  typed.types[2].name = "client";
  typed.types[2].status = "n/a";
  typed.types[2].reason = "needs a server's share";
  const CellResult back = ParseCellResult(CellResultText(typed));
  ASSERT_EQ(back.types.size(), 3u);
  EXPECT_TRUE(back.steps.empty());
  EXPECT_EQ(back.types[0].name, "server");
  EXPECT_DOUBLE_EQ(back.types[0].seconds, 1.5);
  ASSERT_EQ(back.types[0].steps.size(), 1u);
  EXPECT_EQ(back.types[0].steps[0].questions, typed.types[0].steps[0].questions);
  EXPECT_EQ(back.types[0].kept, typed.types[0].kept);
  EXPECT_TRUE(back.types[0].traces.empty());
  EXPECT_EQ(back.types[1].status, "fail");
  EXPECT_EQ(back.types[1].reason, typed.types[1].reason);
  EXPECT_EQ(back.types[1].steps[0].exitCode, 13);
  EXPECT_EQ(back.types[1].traces, typed.types[1].traces);
  EXPECT_EQ(back.types[2].reason, "needs a server's share");
  EXPECT_TRUE(back.types[2].steps.empty());
  // A cell file of a report written before types were run keeps its steps on the cell.
  const CellResult old =
      ParseCellResult("cell\tc\nstatus\tpass\nstep\tinstall\t0\t1\t0.5\tnote\ntrace\t+ F x\n");
  EXPECT_TRUE(old.types.empty());
  ASSERT_EQ(old.steps.size(), 1u);
  EXPECT_EQ(old.traces, std::vector<std::string>{"+ F x"});

  CellResult refused;
  refused.id = "win10-standard-1033";
  refused.system = "Windows 10 x64";
  refused.account = "standard user";
  refused.language = "English";
  refused.status = "refused";
  refused.reason = "refused as designed: Administrators only.";
  refused.steps.resize(1);
  refused.steps[0].name = "install";
  refused.steps[0].exitCode = 3;
  refused.steps[0].questions = {"Message box: Administrators only. -> OK"};
  EXPECT_EQ(ParseCellResult(CellResultText(refused)).status, "refused");

  tltest::TempFolder temp{"matrix-types-"};
  const std::string folder = temp / "report";
  fs::create_directories(folder);
  WriteReports({typed, refused}, "P", folder);
  const std::string junit = ReadAll(folder + "/junit.xml");
  // A case per type (the client skipped, the local one failed) and one for the refusal, passed.
  EXPECT_THAT(junit, HasSubstr("<testsuites name=\"P\" tests=\"4\" failures=\"1\" errors=\"0\" "
                               "skipped=\"1\""));
  EXPECT_THAT(junit, HasSubstr("name=\"English / local\" time=\"0.00\">\n      <failure "
                               "message=\"install (exit status 13): broken\">"));
  EXPECT_THAT(junit, HasSubstr("name=\"English / client\" time=\"0.00\">\n      <skipped "
                               "message=\"needs a server&apos;s share\"/>"));
  EXPECT_THAT(junit, HasSubstr("name=\"English\" time=\"0.00\">\n      <system-out>refused as "
                               "designed: Administrators only.\ninstall: FAILED, exit status 3\n"
                               "  Message box: Administrators only. -&gt; OK\n"));
  const std::string html = ReadAll(folder + "/report.html");
  EXPECT_THAT(html, HasSubstr("<td class=\"refused\" title=\"refused as designed: Administrators "
                              "only.\"><a href=\"#win10-standard-1033\">refused as designed</a>"));
  EXPECT_THAT(html, HasSubstr("<small>server pass, local fail, client n/a</small>"));
  EXPECT_THAT(html, HasSubstr("<details class=\"type fail\" id=\"win10-admin-1033-local\" open>"
                              "<summary>local: fail (install (exit status 13): broken)"));
  EXPECT_THAT(html, HasSubstr("<details class=\"type na\" id=\"win10-admin-1033-client\" open>"));
  EXPECT_THAT(html, HasSubstr("1 are refused as designed"));
  // The exit status counts the refusal as passed and the failed type as failed.
  const std::string one = temp / "one", two = temp / "two";
  packtest::Write(one + "/cells/" + refused.id + ".cell", CellResultText(refused));
  std::ostringstream said;
  EXPECT_EQ(MergeReports({one}, temp / "merged", said), 0);
  EXPECT_THAT(said.str(), HasSubstr("1 cells: 0 pass, 0 fail, 1 refused as designed (from 1"));
  packtest::Write(two + "/cells/" + typed.id + ".cell", CellResultText(typed));
  EXPECT_EQ(MergeReports({one, two}, temp / "both", said), 1);
}

// ---- tlpack itself ------------------------------------------------------------------------------

class TlpackMatrix : public ::testing::Test {
 protected:
  void SetUp() override {
    tltest::ResetProcessState();
    const char* bin = std::getenv("TOLMERA_BIN_DIR");
    const char* build = std::getenv("TOLMERA_BUILD_DIR");
    if (!bin || !build) GTEST_SKIP() << "TOLMERA_BIN_DIR is not set (run through ctest)";
    tool_ = std::string(bin) + "/tlpack";
    sample_ = std::string(build) + "/examples/sample-product/Setup.data";
    ASSERT_TRUE(fs::exists(tool_)) << tool_;
    ASSERT_TRUE(fs::exists(sample_)) << sample_;
  }
  void TearDown() override { tltest::ResetProcessState(); }

  Result Run(const std::string& args) { return Shell(Quote(tool_) + " " + args); }

  // A package of two languages whose Russian licence page names a file the package lacks
  // (packed with the archive command: tlpack build refuses such a package).
  std::string LicencePackage() {
    const std::string folder = temp_ / "two-languages";
    Write(folder + "/bin/tool.exe", "#!/bin/sh\nexit 0\n");
    Write(folder + "/license_en.txt", "Use it.\n");
    auto language = [](const std::string& tag, int id, const std::string& title,
                       const std::string& system, const std::string& licence) {
      return "    <" + tag + " ID=\"" + std::to_string(id) + "\" Title=\"" + title +
             "\" SystemName=\"" + system + "\">\n      <DLG_LICENSE><LICENSE Path=\"" + licence +
             "\"/></DLG_LICENSE>\n    </" + tag + ">\n";
    };
    Write(folder + "/InstallScript.cfg",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<SCENARIO Name=\"Two Languages\" PV=\"TWOLANG\" RegKey=\"TwoLanguages\" Version=\"1\" "
          "InstallType=\"Install\" Build=\"1\" DirName=\"Two Languages\">\n"
          "  <INSTALL>\n    <DIRECTORY Name=\"bin\"/>\n  </INSTALL>\n"
          "  <DIALOGS><DLG_LICENSE Show=\"Y\"/></DIALOGS>\n"
          "  <UNINSTALLER Title=\"Two Languages 1\" Company=\"TOLMERA\"/>\n"
          "  <Images/>\n  <Localization>\n" +
              language("ENGLISH", 1033, "English", "English", "license_en.txt") +
              language("RUSSIAN", 1049, "Русский", "Russian", "license_ru.txt") +
              "  </Localization>\n</SCENARIO>\n");
    const std::string archive = temp_ / "TwoLanguages.data";
    const Result r = Shell("cd " + Quote(folder) + " && " + Quote(TL_CMAKE_COMMAND) +
                           " -E tar cf " + Quote(archive) + " --format=zip -- *");
    EXPECT_EQ(r.status, 0) << r.out;
    return archive;
  }

  // A small package built by tlpack from `files` (the script among them) into NAME.data.
  std::string Built(const std::string& name,
                    const std::vector<std::pair<std::string, std::string>>& files) {
    const std::string folder = temp_ / name;
    for (const auto& [path, text] : files) Write(folder + "/" + path, text);
    const std::string archive = temp_ / (name + ".data");
    const Result r = Run("build " + Quote(folder) + " -o " + Quote(archive));
    EXPECT_EQ(r.status, 0) << r.out;
    return archive;
  }

  // A script of one product in a folder bin, with `extra` in the root and these languages
  // (their sections whole).
  static std::string Script(const std::string& name, const std::string& extra,
                            const std::string& languages) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<SCENARIO Name=\"" +
           name + "\" PV=\"" + name + "\" RegKey=\"" + name +
           "\" Version=\"1\" InstallType=\"Install\" Build=\"1\" DirName=\"" + name +
           "\">\n"
           "  <INSTALL>\n    <DIRECTORY Name=\"bin\"/>\n  </INSTALL>\n" +
           extra + "  <UNINSTALLER Title=\"" + name +
           " 1\" Company=\"TOLMERA\"/>\n"
           "  <Images/>\n  <Localization>\n" +
           languages + "  </Localization>\n</SCENARIO>\n";
  }
  static std::string Language(const std::string& tag, int id, const std::string& title,
                              const std::string& system, const std::string& messages) {
    return "    <" + tag + " ID=\"" + std::to_string(id) + "\" Title=\"" + title +
           "\" SystemName=\"" + system +
           "\">\n      <DLG_LICENSE><LICENSE Path=\"license.txt\"/></DLG_LICENSE>\n"
           "      <MESSAGES>" +
           messages + "</MESSAGES>\n    </" + tag + ">\n";
  }

  std::string tool_, sample_;
  tltest::TempFolder temp_{"tlpack-matrix-"};
};

TEST_F(TlpackMatrix, TheSampleRunsEveryTypeItOffersAndIsRefusedAsDesignedForTheOtherAccounts) {
  const std::string out = temp_ / "report";
  const Result r = Run("test " + Quote(sample_) + " --matrix -j 2 --out " + Quote(out));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_THAT(r.out,
              HasSubstr("24 cells: 8 pass, 0 fail, 14 refused as designed, 2 do not apply; "));
  for (const char* system : {"xp", "win7", "win10", "win11"})
    for (const char* language : {"1033", "1049"}) {
      const std::string admin = std::string(system) + "-admin-" + language + " ";
      EXPECT_THAT(r.out, HasSubstr(admin)) << admin;
      const CellResult cell =
          ParseCellResult(ReadAll(out + "/cells/" + system + "-admin-" + language + ".cell"));
      EXPECT_EQ(cell.status, "pass") << admin << cell.reason;
      // The page offers a server, a local installation and a client: the first two run their
      // whole life each in a machine of its own, the client needs a server's share.
      ASSERT_EQ(cell.types.size(), 3u) << admin;
      EXPECT_EQ(cell.types[0].name, "server");
      EXPECT_EQ(cell.types[1].name, "local");
      EXPECT_EQ(cell.types[2].name, "client");
      EXPECT_EQ(cell.types[2].status, "n/a");
      EXPECT_THAT(cell.types[2].reason, HasSubstr("server"));
      EXPECT_TRUE(cell.types[2].steps.empty());
      for (int k = 0; k < 2; ++k) {
        const TypeResult& type = cell.types[k];
        EXPECT_EQ(type.status, "pass") << admin << type.name << ": " << type.reason;
        ASSERT_EQ(type.steps.size(), 5u) << admin << type.name;
        EXPECT_EQ(type.steps[2].name, "change");
        EXPECT_TRUE(type.steps[2].ok);
        EXPECT_THAT(type.steps[2].questions, ::testing::Contains("Page DLG_COMPONENTS -> Next"));
        EXPECT_EQ(type.steps[3].name, "remove");
        EXPECT_TRUE(type.traces.empty()) << admin << type.name;
      }
      // Each installation was the type it is named after: the page's row was chosen.
      const std::string server = language == std::string("1033") ? "&Server: " : "&Сервер: ";
      const std::string local = language == std::string("1033") ? "&Local" : "&Локально";
      auto chose = [](const TypeResult& t, const std::string& row) {
        for (const std::string& q : t.steps[0].questions)
          if (q.rfind("Select installation: " + row, 0) == 0) return true;
        return false;
      };
      EXPECT_TRUE(chose(cell.types[0], server)) << admin;
      EXPECT_TRUE(chose(cell.types[1], local)) << admin;
      EXPECT_FALSE(chose(cell.types[1], server)) << admin;
    }
  // Setup wants an administrator's elevated token: the others are refused, with the message a
  // person sees, in the cell's language, and nothing is left behind.
  const CellResult limited = ParseCellResult(ReadAll(out + "/cells/win10-limited-1033.cell"));
  EXPECT_EQ(limited.status, "refused");
  EXPECT_THAT(limited.reason, HasSubstr("refused as designed: You need the rights of an "
                                        "administrator"));
  ASSERT_FALSE(limited.steps.empty());
  EXPECT_EQ(limited.steps[0].exitCode, 3);
  EXPECT_TRUE(limited.types.empty());
  EXPECT_TRUE(limited.traces.empty());
  const CellResult russian = ParseCellResult(ReadAll(out + "/cells/win7-standard-1049.cell"));
  EXPECT_EQ(russian.status, "refused");
  EXPECT_THAT(russian.reason, HasSubstr("нужны права администратора"));
  // The question after it (save the log?) takes its default, Yes, and the file dialog that
  // follows has no answer: the run log names it with its Russian title as it stands.
  ASSERT_FALSE(russian.steps.empty());
  bool named = false;
  for (const std::string& line : russian.steps[0].logLines)
    named = named || line.find("No answer for the file dialog \"Сохранить журнал установки\"") !=
                         std::string::npos;
  EXPECT_TRUE(named) << ::testing::PrintToString(russian.steps[0].logLines);
  // On XP the standard user cannot write the run log; the refusal is read from what Setup
  // wrote instead.
  const CellResult xp = ParseCellResult(ReadAll(out + "/cells/xp-standard-1049.cell"));
  EXPECT_EQ(xp.status, "refused") << xp.reason;
  const CellResult na = ParseCellResult(ReadAll(out + "/cells/xp-limited-1049.cell"));
  EXPECT_EQ(na.status, "n/a");
  EXPECT_TRUE(na.steps.empty());
  // A case per cell and type: 8 cells of 3 types (the client skipped), 14 refusals passed with
  // their message, 2 cells that do not apply.
  const std::string junit = ReadAll(out + "/junit.xml");
  EXPECT_THAT(junit, HasSubstr("tests=\"40\" failures=\"0\" errors=\"0\" skipped=\"10\""));
  EXPECT_THAT(junit, HasSubstr("name=\"English / server\""));
  EXPECT_THAT(junit, HasSubstr("<system-out>refused as designed: You need the rights of an "
                               "administrator"));
  const std::string html = ReadAll(out + "/report.html");
  EXPECT_THAT(html, HasSubstr("<h1>TOLMERA Design 7 (Setup.data)</h1>"));
  EXPECT_THAT(html, HasSubstr("<td class=\"refused\""));
  EXPECT_THAT(html, HasSubstr(">refused as designed</a></td>"));
  EXPECT_THAT(html, HasSubstr("<small>server pass, local pass, client n/a</small>"));
  EXPECT_THAT(html, HasSubstr("<details class=\"type pass\" id=\"win10-admin-1033-server\""));
}

TEST_F(TlpackMatrix, AMissingRussianLicenceFailsTheRussianCellsOnly) {
  const std::string archive = LicencePackage();
  Write(temp_ / "matrix.ini",
        "[system win10]\ntitle = Windows 10 x64\n[account admin]\ntitle = administrator\n"
        "memberships = Administrators, Users\n");
  const std::string out = temp_ / "report";
  const Result r = Run("test " + Quote(archive) + " --matrix " + Quote(temp_ / "matrix.ini") +
                       " --out " + Quote(out));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_THAT(r.out, HasSubstr("2 cells: 1 pass, 1 fail;"));
  const CellResult english = ParseCellResult(ReadAll(out + "/cells/win10-admin-1033.cell"));
  EXPECT_EQ(english.status, "pass") << english.reason;
  const CellResult russian = ParseCellResult(ReadAll(out + "/cells/win10-admin-1049.cell"));
  EXPECT_EQ(russian.status, "fail");
  // The page has no texts in the script: the run installs locally without it.
  EXPECT_THAT(russian.reason, HasSubstr("local: install"));
  ASSERT_EQ(russian.types.size(), 1u);
  EXPECT_EQ(russian.types[0].name, "local");
  EXPECT_EQ(russian.types[0].status, "fail");
  ASSERT_FALSE(russian.types[0].steps.empty());
  bool named = false;
  for (const std::string& line : russian.types[0].steps[0].logLines)
    named = named || line.find("license_ru.txt") != std::string::npos;
  EXPECT_TRUE(named) << "the run log does not name the missing licence";
}

TEST_F(TlpackMatrix, ARefusalWithoutItsTextInTheCellsLanguageFailsThatCellOnly) {
  // "MsgRights" has an English text and no Russian one: a Russian refusal shows the bare ID.
  const std::string archive = Built(
      "refusals",
      {{"bin/tool.exe", "#!/bin/sh\nexit 0\n"},
       {"license.txt", "Use it.\n"},
       {"InstallScript.cfg",
        Script("Refusals", "",
               Language("ENGLISH", 1033, "English", "English",
                        "<MsgRights Caption=\"Only an administrator may install Refusals.\"/>") +
                   Language("RUSSIAN", 1049, "Русский", "Russian", ""))}});
  Write(temp_ / "matrix.ini",
        "[system win10]\ntitle = Windows 10 x64\n"
        "[account admin]\ntitle = administrator\nmemberships = Administrators, Users\n"
        "[account standard]\ntitle = standard user\nmemberships = Users\nelevated = no\n");
  const std::string out = temp_ / "report";
  const Result r = Run("test " + Quote(archive) + " --matrix " + Quote(temp_ / "matrix.ini") +
                       " --out " + Quote(out));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_THAT(r.out, HasSubstr("4 cells: 2 pass, 1 fail, 1 refused as designed;"));
  for (const char* id : {"win10-admin-1033", "win10-admin-1049"}) {
    const CellResult admin = ParseCellResult(ReadAll(out + "/cells/" + id + ".cell"));
    EXPECT_EQ(admin.status, "pass") << id << ": " << admin.reason;
    // Neither language has the install-type page's texts: a local installation alone.
    ASSERT_EQ(admin.types.size(), 1u) << id;
    EXPECT_EQ(admin.types[0].name, "local");
  }
  const CellResult english = ParseCellResult(ReadAll(out + "/cells/win10-standard-1033.cell"));
  EXPECT_EQ(english.status, "refused") << english.reason;
  EXPECT_EQ(english.reason, "refused as designed: Only an administrator may install Refusals.");
  const CellResult russian = ParseCellResult(ReadAll(out + "/cells/win10-standard-1049.cell"));
  EXPECT_EQ(russian.status, "fail");
  EXPECT_THAT(russian.reason, HasSubstr("the bare message ID \"MsgRights\""));
  EXPECT_THAT(russian.reason, HasSubstr("Русский"));
  ASSERT_FALSE(russian.steps.empty());
  EXPECT_EQ(russian.steps[0].exitCode, 3);
  EXPECT_THAT(russian.steps[0].questions, ::testing::Contains(HasSubstr("Message box: MsgRights")));
  const std::string junit = ReadAll(out + "/junit.xml");
  EXPECT_THAT(junit, HasSubstr("tests=\"4\" failures=\"1\" errors=\"0\" skipped=\"0\""));
  EXPECT_THAT(junit, HasSubstr("<failure message=\"the refusal shows the bare message ID"));
}

TEST_F(TlpackMatrix, ATraceLeftOnlyOnXpFailsTheXpCellsOnly) {
  // A program run after the installation (never by the removal) leaves a file beside the
  // product's folder when Setup runs on 32-bit Windows.
  const std::string archive = Built(
      "xp-trace",
      {{"bin/tool.exe", "#!/bin/sh\nexit 0\n"},
       {"bin/mark.exe",
        "#!/bin/sh\n# Runs in its own folder, bin; the argument is the processor architecture.\n"
        "if [ \"$1\" = x32 ]; then echo left > ../../left-on-x32.txt; fi\nexit 0\n"},
       {"license.txt", "Use it.\n"},
       {"InstallScript.cfg",
        Script("XpTrace",
               "  <ADDITIONAL>\n    <Exec Path=\"%DestinationDir%\\bin\\mark.exe\" "
               "CmdArguments=\"%PROCESSOR_ARCHITECTURE%\" ShowWindow=\"N\" Wait=\"Y\" "
               "IgnoreFor=\"UNINSTALL\"/>\n  </ADDITIONAL>\n",
               Language("ENGLISH", 1033, "English", "English",
                        "<MsgRights Caption=\"Administrators only.\"/>"))}});
  Write(temp_ / "matrix.ini",
        "[system xp]\ntitle = Windows XP x86\nname = Windows XP Professional\nmajor = 5\n"
        "minor = 1\nbuild = 2600\narchitecture = x86\nservice_pack = Service Pack 3\n"
        "uac.enabled = no\n"
        "[system win7]\ntitle = Windows 7 x64\nmajor = 6\nminor = 1\nbuild = 7601\n"
        "[system win10]\ntitle = Windows 10 x64\n"
        "[account admin]\ntitle = administrator\nmemberships = Administrators, Users\n");
  const std::string out = temp_ / "report";
  const Result r = Run("test " + Quote(archive) + " --matrix " + Quote(temp_ / "matrix.ini") +
                       " -j 2 --out " + Quote(out));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_THAT(r.out, HasSubstr("3 cells: 2 pass, 1 fail;"));
  const CellResult xp = ParseCellResult(ReadAll(out + "/cells/xp-admin-1033.cell"));
  EXPECT_EQ(xp.status, "fail");
  EXPECT_THAT(xp.reason, HasSubstr("local: 1 traces left after the removal, the first: + F "
                                   "C:\\Program Files\\left-on-x32.txt"));
  ASSERT_EQ(xp.types.size(), 1u);
  EXPECT_EQ(xp.types[0].status, "fail");
  EXPECT_EQ(xp.types[0].traces.size(), 1u);
  // The steps themselves went well: only what was left fails the cell.
  for (const StepReport& step : xp.types[0].steps) EXPECT_TRUE(step.ok) << step.name;
  for (const char* id : {"win7-admin-1033", "win10-admin-1033"}) {
    const CellResult cell = ParseCellResult(ReadAll(out + "/cells/" + id + ".cell"));
    EXPECT_EQ(cell.status, "pass") << id << ": " << cell.reason;
  }
}

TEST_F(TlpackMatrix, ShardsOfAMatrixMergeIntoTheWholeAndExitStatusesSayHowItWent) {
  Write(temp_ / "matrix.ini",
        "[system win7]\ntitle = Windows 7 x64\nmajor = 6\nminor = 1\nbuild = 7601\n"
        "[system win10]\ntitle = Windows 10 x64\n"
        "[account admin]\ntitle = administrator\nmemberships = Administrators, Users\n");
  const std::string matrix = Quote(temp_ / "matrix.ini");
  const Result one = Run("test " + Quote(sample_) + " --matrix " + matrix + " --shard 1/2 --out " +
                         Quote(temp_ / "one"));
  const Result two = Run("test " + Quote(sample_) + " --matrix " + matrix + " --shard 2/2 --out " +
                         Quote(temp_ / "two"));
  EXPECT_EQ(one.status, 0) << one.out;
  EXPECT_EQ(two.status, 0) << two.out;
  EXPECT_THAT(one.out, HasSubstr("2 cells: 2 pass, 0 fail;"));
  EXPECT_THAT(two.out, HasSubstr("2 cells: 2 pass, 0 fail;"));
  // The shards share no cell and together hold the whole matrix.
  for (const char* id : {"win7-admin-1033", "win10-admin-1033"}) {
    EXPECT_TRUE(fs::exists(temp_ / ("one/cells/" + std::string(id) + ".cell")));
    EXPECT_FALSE(fs::exists(temp_ / ("two/cells/" + std::string(id) + ".cell")));
  }
  for (const char* id : {"win7-admin-1049", "win10-admin-1049"}) {
    EXPECT_TRUE(fs::exists(temp_ / ("two/cells/" + std::string(id) + ".cell")));
    EXPECT_FALSE(fs::exists(temp_ / ("one/cells/" + std::string(id) + ".cell")));
  }
  const Result merged = Run("report merge " + Quote(temp_ / "all") + " " + Quote(temp_ / "one") +
                            " " + Quote(temp_ / "two"));
  EXPECT_EQ(merged.status, 0) << merged.out;
  EXPECT_THAT(merged.out, HasSubstr("4 cells: 4 pass, 0 fail (from 2 reports)"));
  // A case per cell and type: server, local and the client that needs a server's share.
  EXPECT_THAT(ReadAll(temp_ / "all/junit.xml"),
              HasSubstr("tests=\"12\" failures=\"0\" errors=\"0\" skipped=\"4\""));
  // A merged report merges again.
  EXPECT_EQ(Run("report merge " + Quote(temp_ / "again") + " " + Quote(temp_ / "all")).status, 0);

  // 2: what cannot be read; 3: a wrong call.
  Write(temp_ / "bad.ini", "[system a]\nmajor six\n");
  const Result bad = Run("test " + Quote(sample_) + " --matrix " + Quote(temp_ / "bad.ini") +
                         " --out " + Quote(temp_ / "bad"));
  EXPECT_EQ(bad.status, 2) << bad.out;
  EXPECT_THAT(bad.out, HasSubstr("bad.ini, line 2"));
  EXPECT_EQ(
      Run("test " + Quote(temp_ / "none.data") + " --matrix --out " + Quote(temp_ / "x")).status,
      2);
  EXPECT_EQ(Run("report merge " + Quote(temp_ / "m") + " " + Quote(temp_ / "empty")).status, 2);
  EXPECT_EQ(Run("test " + Quote(sample_) + " -j 2").status, 3);
  EXPECT_EQ(Run("test " + Quote(sample_) + " --matrix --shard 3/2").status, 3);
  EXPECT_EQ(Run("test " + Quote(sample_) + " --matrix -j 0").status, 3);
}

TEST_F(TlpackMatrix, TheReportShowsItsCellsInARealBrowser) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "the pictures of the pages need a display";
  ASSERT_EQ(Shell("command -v chromium").status, 0) << "chromium is installed by scripts/deps";
  Write(temp_ / "matrix.ini",
        "[system win10]\ntitle = Windows 10 x64\n"
        "[account admin]\ntitle = administrator\nmemberships = Administrators, Users\n"
        "[account standard]\ntitle = standard user\nmemberships = Users\nelevated = no\n"
        "[languages]\nonly = English\n");
  const std::string out = temp_ / "report";
  const Result r = Run("test " + Quote(sample_) + " --matrix " + Quote(temp_ / "matrix.ini") +
                       " --screenshots --out " + Quote(out));
  EXPECT_EQ(r.status, 0) << r.out;
  // The installation's pages were photographed and are in the page.
  const CellResult admin = ParseCellResult(ReadAll(out + "/cells/win10-admin-1033.cell"));
  ASSERT_FALSE(admin.types.empty());
  ASSERT_FALSE(admin.types[0].steps.empty());
  bool licence = false;
  for (const std::string& p : admin.types[0].steps[0].screenshots)
    licence = licence || p.find("page-DLG_LICENSE.png") != std::string::npos;
  EXPECT_TRUE(licence);
  const std::string html = ReadAll(out + "/report.html");
  EXPECT_THAT(html, HasSubstr("alt=\"04-page-DLG_LICENSE.png\" src=\"data:image/png;base64,"));

  // Headless Chromium draws the table: a green cell (pass) above a blue one (refused as
  // designed).
  const std::string shot = temp_ / "report.png";
  const std::string profile = temp_ / "chromium";
  const Result browser = Shell(
      "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
      "--disable-background-networking --disable-component-update --disable-sync "
      "--user-data-dir=" +
      Quote(profile) + " --window-size=800,400 --screenshot=" + Quote(shot) + " " +
      Quote("file://" + out + "/report.html"));
  ASSERT_TRUE(fs::exists(shot)) << browser.out;
  const std::string raw = temp_ / "report.rgb";
  ASSERT_EQ(Shell("convert " + Quote(shot) + " -depth 8 rgb:" + Quote(raw)).status, 0);
  const std::string pixels = ReadAll(raw);
  ASSERT_EQ(pixels.size(), 800u * 400u * 3u);
  int green = 0, blue = 0, greenBelowBlue = 0;
  int firstGreenRow = -1, firstBlueRow = -1;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 800; ++x) {
      const unsigned char* p =
          reinterpret_cast<const unsigned char*>(pixels.data()) + (y * 800 + x) * 3;
      if (p[0] == 0xb7 && p[1] == 0xe4 && p[2] == 0xb0) {
        ++green;
        if (firstGreenRow < 0) firstGreenRow = y;
      }
      if (p[0] == 0xb8 && p[1] == 0xd4 && p[2] == 0xf0) {
        ++blue;
        if (firstBlueRow < 0) firstBlueRow = y;
      }
    }
  greenBelowBlue = firstGreenRow > firstBlueRow;
  EXPECT_GT(green, 500) << "no passing cell drawn";
  EXPECT_GT(blue, 500) << "no refused cell drawn";
  EXPECT_FALSE(greenBelowBlue) << "the administrator's row comes first";
}

TEST_F(TlpackMatrix, APreviousBuildIsInstalledFirstSoThatThePackageUpdatesIt) {
  // The previous build: the sample's stage with an older build number.
  const std::string stage = fs::path(sample_).parent_path() / "stage";
  const std::string old = temp_ / "old-stage";
  fs::copy(stage, old, fs::copy_options::recursive);
  std::string script = ReadAll(old + "/InstallScript.cfg");
  const std::size_t at = script.find("Build=\"7120\"");
  ASSERT_NE(at, std::string::npos);
  script.replace(at, 12, "Build=\"7100\"");
  Write(old + "/InstallScript.cfg", script);
  const Result built = Run("build " + Quote(old) + " -o " + Quote(temp_ / "old.data"));
  ASSERT_EQ(built.status, 0) << built.out;

  Write(temp_ / "matrix.ini",
        "[system win7]\nmajor = 6\nminor = 1\nbuild = 7601\n"
        "[account admin]\nmemberships = Administrators, Users\n[languages]\nonly = Russian\n");
  const std::string out = temp_ / "report";
  const Result r = Run("test " + Quote(sample_) + " --matrix " + Quote(temp_ / "matrix.ini") +
                       " --previous " + Quote(temp_ / "old.data") + " --out " + Quote(out));
  EXPECT_EQ(r.status, 0) << r.out;
  const CellResult cell = ParseCellResult(ReadAll(out + "/cells/win7-admin-1049.cell"));
  EXPECT_EQ(cell.status, "pass") << cell.reason;
  // The previous build is installed as the same type as the package, which updates it.
  ASSERT_EQ(cell.types.size(), 3u);
  for (const TypeResult& type : {cell.types[0], cell.types[1]}) {
    ASSERT_EQ(type.steps.size(), 6u) << type.name;
    EXPECT_EQ(type.steps[0].name, "install previous");
    EXPECT_EQ(type.steps[1].name, "update");
    // The second run was an update of the first: its update page was shown, not the first pages.
    EXPECT_THAT(type.steps[1].questions, ::testing::Contains("Page DLG_UPDATE -> Next"));
    EXPECT_THAT(type.steps[1].questions, Not(::testing::Contains("Page DLG_LICENSE -> Next")));
    EXPECT_THAT(type.steps[0].questions, ::testing::Contains("Page DLG_LICENSE -> Next"));
    EXPECT_TRUE(type.traces.empty()) << type.name;
  }
  // One machine, the same steps, without the matrix.
  const Result single = Run("test " + Quote(sample_) + " --previous " + Quote(temp_ / "old.data"));
  EXPECT_EQ(single.status, 0) << single.out;
  EXPECT_THAT(single.out, HasSubstr("== install previous: ok, exit status 0"));
  EXPECT_THAT(single.out, HasSubstr("== update: ok, exit status 0"));
  EXPECT_EQ(Run("test " + Quote(sample_) + " --previous " + Quote(temp_ / "none.data")).status, 2);
}
