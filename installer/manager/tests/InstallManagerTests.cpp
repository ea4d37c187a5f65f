#include "manager/tests/ManagerHarness.h"
#include "platform/Environment.h"
#include "platform/Registry.h"

using namespace InstallManager;
using tltest::MakeScript;
using tltest::ManagerHarness;
using tltest::ScriptOptions;

namespace {

ScriptOptions WithType(const std::wstring& type) {
  ScriptOptions o;
  o.root[L"InstallType"] = type;
  return o;
}

const char* kFreshAnswers =
    "[page DLG_GREETING]\nbutton = Next\n"
    "[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n"
    "[page DLG_INSTALL_TYPE]\nInstallType = Local\nbutton = Next\n";

}  // namespace

// ---- set-up failures --------------------------------------------------------------------------

TEST(RunSetUp, NoArchiveBesideTheProgram) {
  ManagerHarness h;
  EXPECT_EQ(h.Run(), irDataStorageNotFound);
  // The log's path is not set yet: everything went to the debugger output.
  EXPECT_TRUE(h.Logged("ERROR : Data storage not found"));
  EXPECT_TRUE(h.Logged("INFO : Message box: Installation is corrupted! -> OK"));
  EXPECT_TRUE(h.LogText().empty());
  EXPECT_TRUE(h.manager.calls.empty());
}

TEST(RunSetUp, ArchiveWithoutScript) {
  ManagerHarness h;
  ASSERT_TRUE(
      tltest::WriteZip(platform::ToHostPath(L"C:\\Pkg\\Setup.data"), {{"readme.txt", "x"}}));
  EXPECT_EQ(h.Run(), irDataStorageNotUnpacked);
  EXPECT_TRUE(h.Logged("ERROR : Can't unpack data storage"));
}

TEST(RunSetUp, ArchiveThatIsNoZip) {
  ManagerHarness h;
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Pkg\\Setup.data", "this is no archive"),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(h.Run(), irDataStorageNotFound);
}

TEST(RunSetUp, ScriptThatIsNotXml) {
  ManagerHarness h;
  h.Package("<?xml version=\"1.0\"?>\n<SCENARIO Name=\"x\">\n<INSTALL>\n</SCENARIO>");
  EXPECT_EQ(h.Run(), irScriptFile);
  EXPECT_TRUE(h.Logged("ERROR : Error in script file"));
  EXPECT_NE(platform::ToUtf8(h.debug).find("line 4"), std::string::npos)
      << platform::ToUtf8(h.debug);
  // Result 7 offers nothing at the end.
  EXPECT_FALSE(h.Logged("INFO : Message box: Installation is corrupted! -> OK"));
}

TEST(RunSetUp, ScriptsInOtherEncodingsAreRead) {
  {
    ManagerHarness h(kFreshAnswers);
    std::string script = MakeScript(ScriptOptions{});
    std::wstring wide = platform::FromUtf8(script);
    wide.replace(wide.find(L"UTF-8"), 5, L"UTF-16");
    h.Package("\xFF\xFE" + platform::ToUtf16LEBytes(wide));
    EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
    EXPECT_EQ(h.manager.GetProductName(), L"Tolmera Test");
  }
  {
    ManagerHarness h(kFreshAnswers);
    ScriptOptions o;
    o.root[L"Name"] = L"\u0422\u043e\u043b\u043c\u0435\u0440\u0430";
    std::wstring wide = platform::FromUtf8(MakeScript(o));
    wide.replace(wide.find(L"UTF-8"), 5, L"windows-1251");
    h.Package(platform::WideToAnsi(wide, 1251));
    EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
    EXPECT_EQ(h.manager.GetProductName(), L"\u0422\u043e\u043b\u043c\u0435\u0440\u0430");
  }
}

TEST(RunSetUp, BuildThatIsNotANumber) {
  ManagerHarness h;
  ScriptOptions o;
  o.root[L"Build"] = L"12b";
  h.Package(MakeScript(o));
  EXPECT_EQ(h.Run(), irScenario);
  EXPECT_TRUE(h.Logged("ERROR : Can't load scenario"));
  EXPECT_FALSE(h.manager.IsScenarioLoaded());
  // A scenario that is not loaded: the run is reported as corrupted.
  EXPECT_TRUE(h.Logged("INFO : Message box: Installation is corrupted! -> OK"));
}

TEST(RunSetUp, VersionWithoutDigitsIsZero) {
  ManagerHarness h(kFreshAnswers);
  ScriptOptions o;
  o.root[L"Version"] = L"v7";
  h.Package(MakeScript(o));
  EXPECT_EQ(h.Run(), irSuccess);
  EXPECT_EQ(h.manager.GetVersion(), 0);
  EXPECT_TRUE(h.Logged("INFO : CInstallManager::Init() Project TT version 0"));
}

TEST(RunSetUp, NoLocalization) {
  ManagerHarness h;
  ScriptOptions o;
  o.localization = false;
  h.Package(MakeScript(o));
  EXPECT_EQ(h.Run(), irLanguages);
  EXPECT_TRUE(h.Logged("ERROR : Can't load localization"));
}

TEST(RunSetUp, UnreadableRecord) {
  ManagerHarness h;
  h.Package(MakeScript(ScriptOptions{}));
  h.Record(L"<Project Version=\"5\" PV=\"TT\" Build=\"many\"/>");
  EXPECT_EQ(h.Run(), irInstalledProducts);
}

TEST(RunSetUp, ArchiveNamedOnTheCommandLineAndLogLines) {
  ManagerHarness h(kFreshAnswers);
  platform::CreateDirectoryWithParents(L"C:\\Other Place");
  ASSERT_TRUE(tltest::WriteZip(platform::ToHostPath(L"C:\\Other Place\\Product.data"),
                               {{"installscript.CFG", MakeScript(ScriptOptions{})}}));
  EXPECT_EQ(h.Run(L"C:\\Other Place\\Product.data"), irSuccess) << platform::ToUtf8(h.debug);
  std::string log = h.LogText();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.rfind("---------------------\r\n", 0), 0u) << log;
  for (const char* line :
       {"INFO : CInstallManager::Init() extract script-file from data storage",
        "INFO : CInstallManager::Init() load localization from scenario",
        "INFO : CInstallManager::Init() load graphical resources",
        "INFO : CInstallManager::Init() create main dialog",
        "INFO : CInstallManager::Init() load info about installed products from "
        "C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg",
        "INFO : CInstallManager::Init() Project TT version 5", "INFO : Scenario build = 100",
        "INFO : Install Type = Full =====================", "INFO : Install product as Install"})
    EXPECT_TRUE(h.Logged(line)) << line << "\n" << log;
  EXPECT_NE(log.find("INFO : Setup Version = "), std::string::npos);
  // The run's temporary folder went with the archive.
  EXPECT_EQ(h.manager.GetDataStorage()->GetState(), 0);
}

TEST(RunSetUp, TheFirstRunOnAFreshMachineKeepsItsLogFile) {
  // The script names a log in a folder that nothing has made yet (as on a machine where no
  // product was ever installed): the run makes the folder instead of losing its log.
  ManagerHarness h(kFreshAnswers);
  ScriptOptions o;
  o.body = L"<INSTALL><COMMONINFO Log=\"C:/Logs/Tolmera/setup.log\"/></INSTALL>";
  h.Package(MakeScript(o));
  ASSERT_FALSE(platform::PathIsDirectoryW(L"C:\\Logs"));
  EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  std::string file;
  ASSERT_EQ(platform::ReadWholeFile(L"C:\\Logs\\Tolmera\\setup.log", file),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(file.rfind("---------------------\r\n", 0), 0u) << file;
  EXPECT_NE(file.find("INFO : CInstallManager::Init() Project TT version 5"), std::string::npos)
      << file;
  EXPECT_EQ(platform::ToUtf8(h.debug).find("cannot be written"), std::string::npos)
      << platform::ToUtf8(h.debug);
}

TEST(RunSetUp, EachRunStartsAFreshLogAtTheScriptsPlace) {
  ManagerHarness h(kFreshAnswers);
  ScriptOptions o;
  o.body =
      L"<INSTALL><COMMONINFO Log=\"C:/Logs/setup.log\" "
      L"File=\"C:/Records/products.cfg\"/></INSTALL>";
  h.Package(MakeScript(o));
  platform::CreateDirectoryWithParents(L"C:\\Logs");
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Logs\\setup.log",
                                     "---------------------\r\n"
                                     "2026.01.02 - 03:04:05  INFO : old run\r\n\r\n"),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  std::string log;
  ASSERT_EQ(platform::ReadWholeFile(L"C:\\Logs\\setup.log", log), platform::ERROR_SUCCESS);
  EXPECT_EQ(log.find("old run"), std::string::npos);
  EXPECT_EQ(log.rfind("---------------------\r\n", 0), 0u) << log;
  EXPECT_NE(log.find("load info about installed products from C:\\Records\\products.cfg"),
            std::string::npos)
      << log;
  // The record's folder was made, one level.
  EXPECT_TRUE(platform::PathIsDirectoryW(L"C:\\Records"));
}

TEST(RunSetUp, ALogPathNamingAnyOtherFileLeavesItAndLogsToTheDebuggerOutput) {
  struct Case {
    const char* what;
    std::wstring scriptPath;  // the "Log" attribute as the script writes it
    std::wstring path;        // the same in Windows form
    std::string bytes;        // what stands there before the run
    bool isFolder = false;    // a folder stands there instead
  };
  const Case cases[] = {
      {"the hosts file", L"C:/Windows/System32/drivers/etc/hosts",
       L"C:\\Windows\\System32\\drivers\\etc\\hosts", "127.0.0.1 localhost\r\n"},
      {"a document", L"C:/Users/Public/Documents/report.txt",
       L"C:\\Users\\Public\\Documents\\report.txt", "Quarterly report\r\n"},
      {"the dashes alone", L"C:/Logs/notes.log", L"C:\\Logs\\notes.log",
       "---------------------\r\nmy own notes, not a log\r\n"},
      {"an empty file", L"C:/Logs/empty.log", L"C:\\Logs\\empty.log", ""},
      {"a folder", L"C:/Logs/folder.log", L"C:\\Logs\\folder.log", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ManagerHarness h(kFreshAnswers);
    ScriptOptions o;
    o.body = L"<INSTALL><COMMONINFO Log=\"" + c.scriptPath + L"\"/></INSTALL>";
    h.Package(MakeScript(o));
    std::wstring folder = c.path.substr(0, c.path.rfind(L'\\'));
    platform::CreateDirectoryWithParents(folder);
    const bool isFolder = c.isFolder;
    if (isFolder) {
      ASSERT_EQ(platform::CreateDirectoryW(c.path), platform::ERROR_SUCCESS);
      ASSERT_EQ(platform::WriteWholeFile(c.path + L"\\inside.txt", "kept"),
                platform::ERROR_SUCCESS);
    } else {
      ASSERT_EQ(platform::WriteWholeFile(c.path, c.bytes), platform::ERROR_SUCCESS);
    }
    EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
    if (isFolder) {
      std::string inside;
      EXPECT_EQ(platform::ReadWholeFile(c.path + L"\\inside.txt", inside), platform::ERROR_SUCCESS);
      EXPECT_EQ(inside, "kept");
    } else {
      std::string after;
      ASSERT_EQ(platform::ReadWholeFile(c.path, after), platform::ERROR_SUCCESS);
      EXPECT_EQ(after, c.bytes);
    }
    // One line says why; the run's entries went to the debugger output.
    EXPECT_TRUE(GetInstallTools().Log().GetPath().empty());
    EXPECT_TRUE(h.Logged("WARNING : CInstallManager::Init() " + platform::ToUtf8(c.path) +
                         " is not a run log: it is left as it is and the run logs to the "
                         "debugger output"))
        << platform::ToUtf8(h.debug);
    EXPECT_NE(h.debug.find(L"INFO : Setup Version = "), std::wstring::npos);
    EXPECT_NE(h.debug.find(L"INFO : Install product as Install"), std::wstring::npos);
  }
}

TEST(RunSetUp, AnOldLogWhoseFirstEntriesWentToTheDebuggerOutputIsStillALog) {
  // A run whose archive on the command line was missing wrote its first entry to the debugger
  // output: its file begins with an entry, without the dashes.
  ManagerHarness h(kFreshAnswers);
  ScriptOptions o;
  o.body = L"<INSTALL><COMMONINFO Log=\"C:/Logs/setup.log\"/></INSTALL>";
  h.Package(MakeScript(o));
  platform::CreateDirectoryWithParents(L"C:\\Logs");
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Logs\\setup.log",
                                     "2026.01.02 - 03:04:05  INFO : the earlier run\r\n"),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  std::string log;
  ASSERT_EQ(platform::ReadWholeFile(L"C:\\Logs\\setup.log", log), platform::ERROR_SUCCESS);
  EXPECT_EQ(log.find("the earlier run"), std::string::npos) << log;
  EXPECT_NE(log.find("INFO : Setup Version = "), std::string::npos) << log;
  EXPECT_EQ(h.debug.find(L"is not a run log"), std::wstring::npos);
}

// ---- detection ----------------------------------------------------------------------------------

TEST(Detection, UpdateWithNothingInstalled) {
  ManagerHarness h;
  h.Package(MakeScript(WithType(L"Update")));
  EXPECT_EQ(h.Run(), irCancelled);
  EXPECT_TRUE(h.Logged(
      "ERROR : Detect InstalType = Update in script, but product TT version 5 is not installed"));
  EXPECT_TRUE(h.manager.calls.empty());
}

TEST(Detection, SameBuildInstalledGivesRepair) {
  ManagerHarness h("[page DLG_REPAIR]\nInstallType = Repair\nbutton = Next\n");
  h.Package(MakeScript(ScriptOptions{}));
  h.Record(ManagerHarness::Project(100));
  EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  EXPECT_EQ(h.manager.GetDetectedAction(), kRepair);
  EXPECT_TRUE(h.Logged("INFO : Installed product build = 100"));
  EXPECT_TRUE(h.Logged("INFO : Install Type = Repair ====================="));
  EXPECT_TRUE(h.Logged("INFO : Selected install action Repair"));
  EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"repair"});
  EXPECT_EQ(h.manager.GetInstalledKind(), kLocal);
}

TEST(Detection, SameBuildWithUpdateAsksAndNoEnds) {
  ManagerHarness h("[message MsgBeginUpdate]\nanswer = No\n");
  h.Package(MakeScript(WithType(L"Update")));
  h.Record(ManagerHarness::Project(100));
  EXPECT_EQ(h.Run(), irCancelled);
  EXPECT_EQ(h.ui->UseCount(L"message", L"MsgBeginUpdate"), 1);
  EXPECT_TRUE(h.manager.calls.empty());
}

TEST(Detection, SameBuildWithUpdateAndYesIsAnOnlyUpdate) {
  ManagerHarness h("[message MsgBeginUpdate]\nanswer = Yes\n");
  h.Package(MakeScript(WithType(L"Update")));
  h.Record(ManagerHarness::Project(100));
  EXPECT_EQ(h.Run(), irSuccess);
  EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"onlyupdate"});
  EXPECT_TRUE(h.Logged("INFO : Install Type = OnlyUpdate ====================="));
}

TEST(Detection, NewerBuildInstalled) {
  ManagerHarness h;
  ScriptOptions o;
  o.messages = L"<MsgOldInstallation Caption=\"Build %d is older than the installed one\"/>";
  h.Package(MakeScript(o));
  h.Record(ManagerHarness::Project(120));
  EXPECT_EQ(h.Run(), irOldInstall);
  EXPECT_TRUE(h.Logged("INFO : Message box: Build 100 is older than the installed one -> OK"));
  EXPECT_TRUE(h.Logged("ERROR : The newer version of product is already installed"));
  // No offer to save the log after result 12.
  EXPECT_EQ(h.ui->UseCount(L"message", L"MsgInstallError"), 0);
  EXPECT_FALSE(h.Logged("WARNING : Message with ID = 'MsgInstallError' was not found in script!"));
}

TEST(Detection, ScriptMessageThatDoesNotFitItsArgumentIsShownAsItStands) {
  ManagerHarness h;
  ScriptOptions o;
  o.messages = L"<MsgOldInstallation Caption=\"Installed %s is newer\"/>";
  h.Package(MakeScript(o));
  h.Record(ManagerHarness::Project(120));
  EXPECT_EQ(h.Run(), irOldInstall);
  EXPECT_TRUE(h.Logged("INFO : Message box: Installed %s is newer -> OK"));
}

TEST(Detection, OlderBuildInstalledGivesUpdate) {
  ManagerHarness h("[page DLG_UPDATE]\nInstallType = Uninstall\nbutton = Next\n");
  h.Package(MakeScript(ScriptOptions{}));
  h.Record(ManagerHarness::Project(90));
  EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  EXPECT_EQ(h.manager.GetDetectedAction(), kUpdate);
  EXPECT_EQ(h.manager.GetInstalledBuild(), 90);
  EXPECT_TRUE(h.Logged("INFO : Selected install action Uninstall"));
  EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"main 9"});
}

TEST(Detection, UninstallWithoutTheRecordFile) {
  ManagerHarness h;
  h.Package(MakeScript(WithType(L"Uninstall")));
  EXPECT_EQ(h.Run(), irScriptFile);
  EXPECT_TRUE(h.Logged("INFO : Install Type = Uninstall ====================="));
  EXPECT_TRUE(h.manager.calls.empty());
}

TEST(Detection, UninstallDoesNotLookTheProductUp) {
  ManagerHarness h;
  h.Package(MakeScript(WithType(L"Uninstall")));
  h.Record(L"");  // the file exists; the product is not in it
  EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  EXPECT_FALSE(h.Logged("INFO : Installed product build = 100"));
  EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"main 9"});
}

TEST(Detection, OnlyUpdateInTheScriptFollowsTheBuildComparisonLikeAnyOtherType) {
  {
    // The same build installed: a repair, as for every type but "Update".
    ManagerHarness h("[page DLG_REPAIR]\nInstallType = Repair\nbutton = Next\n");
    h.Package(MakeScript(WithType(L"OnlyUpdate")));
    h.Record(ManagerHarness::Project(100));
    EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
    EXPECT_EQ(h.manager.GetDetectedAction(), kRepair);
    EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"repair"});
  }
  {
    // An older build installed: the update and its page.
    ManagerHarness h("[page DLG_UPDATE]\nInstallType = Repair\nbutton = Next\n");
    h.Package(MakeScript(WithType(L"OnlyUpdate")));
    h.Record(ManagerHarness::Project(90));
    EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
    EXPECT_EQ(h.manager.GetDetectedAction(), kUpdate);
    EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"repair"});
  }
  {
    // Not installed: the script's own type, never the update error.
    ManagerHarness h;
    h.Package(MakeScript(WithType(L"OnlyUpdate")));
    h.Record(L"");
    EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
    EXPECT_EQ(h.manager.GetDetectedAction(), kOnlyUpdate);
    EXPECT_TRUE(h.Logged("INFO : Install Type = OnlyUpdate ====================="));
    EXPECT_FALSE(h.Logged(
        "ERROR : Detect InstalType = Update in script, but product TT version 5 is not installed"));
    EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"onlyupdate"});
  }
  {
    // Not installed and no record file at all: an only-update needs the record (result 7).
    ManagerHarness h;
    h.Package(MakeScript(WithType(L"OnlyUpdate")));
    EXPECT_EQ(h.Run(), irScriptFile);
    EXPECT_TRUE(h.manager.calls.empty());
  }
}

TEST(Detection, InstallTypeNamesOfTheScriptFormat) {
  {
    ManagerHarness h(kFreshAnswers);
    h.Package(MakeScript(WithType(L"full")));
    EXPECT_EQ(h.Run(), irSuccess);
    EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"main 4"});
  }
  {
    // "OnlyUpdate" is the script's name of type 2 (the record file exists; the product is
    // not in it).
    ManagerHarness h;
    h.Package(MakeScript(WithType(L"OnlyUpdate")));
    h.Record(L"");
    EXPECT_EQ(h.Run(), irSuccess);
    EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"onlyupdate"});
  }
  for (const wchar_t* type : {L"Bogus", L"", L"Change"}) {
    ManagerHarness h;
    h.Package(MakeScript(WithType(type)));
    EXPECT_EQ(h.Run(), irScenario) << platform::ToUtf8(type);
    EXPECT_TRUE(h.Logged("ERROR : Can't load scenario"));
    EXPECT_TRUE(h.manager.calls.empty());
  }
}

// ---- checks -------------------------------------------------------------------------------------

TEST(Checks, UserWithoutAdministratorRights) {
  ManagerHarness h;
  h.Package(MakeScript(ScriptOptions{}));
  h.manager.GetHooks().hasUserAdminRightsDoSetup = [] { return false; };
  EXPECT_EQ(h.Run(), irRights);
  EXPECT_TRUE(h.Logged("INFO : User is NOT LOCAL ADMINISTRATOR!"));
  EXPECT_TRUE(h.Logged("INFO : Message box: MsgRights -> OK"));
  EXPECT_TRUE(h.Logged("WARNING : Message with ID = 'MsgRights' was not found in script!"));
}

TEST(Checks, NoFullAccessToRegistryOrProgramFiles) {
  ManagerHarness h("[message MsgInstallError]\nanswer = No\n");
  h.Package(MakeScript(ScriptOptions{}));
  h.manager.GetHooks().verifyAdminRights = [](AdminRights& r) {
    r.registryWritable = true;
    r.programFilesWritable = false;
    r.joinStatus = 2;
  };
  EXPECT_EQ(h.Run(), irRights);
  EXPECT_TRUE(
      h.Logged("ERROR : User has not rights for change of registry (LM) or folder Program Files"));
  EXPECT_TRUE(h.Logged("INFO : " + std::string(57, '-')));
  // An error was logged and the scenario is loaded: the log-save offer is made.
  EXPECT_EQ(h.ui->UseCount(L"message", L"MsgInstallError"), 1);
}

TEST(Checks, ServerInstallationNeedsTheShareRight) {
  struct Case {
    int join;
    bool domainAdmin;
    const char* message;
  };
  for (Case c : {Case{2, false, nullptr}, Case{3, false, "MsgRightsDomainForServerChange"},
                 Case{0, false, "MsgRightsForServerChange"}, Case{3, true, nullptr}}) {
    ManagerHarness h("[message MsgInstallError]\nanswer = No\n");
    h.Package(MakeScript(ScriptOptions{}));
    h.Record(ManagerHarness::Project(100, L"Server"));
    h.manager.GetHooks().verifyAdminRights = [c](AdminRights& r) {
      r.registryWritable = r.programFilesWritable = true;
      r.joinStatus = c.join;
      r.isDomainAdmin = c.domainAdmin;
    };
    h.manager.GetHooks().verifySetShareForFolder = [] { return false; };
    EXPECT_EQ(h.Run(L"", true), irRights) << c.join;
    EXPECT_TRUE(
        h.Logged("ERROR : Detected Server installation for user without Domain or Workgroup "
                 "Administrator rights"));
    if (c.message) {
      EXPECT_TRUE(h.Logged(std::string("INFO : Message box: ") + c.message + " -> OK"))
          << c.message;
    } else {
      EXPECT_FALSE(h.Logged("INFO : Message box: MsgRightsForServerChange -> OK"));
      EXPECT_FALSE(h.Logged("INFO : Message box: MsgRightsDomainForServerChange -> OK"));
    }
    EXPECT_TRUE(h.manager.calls.empty());
  }
}

TEST(Checks, OperatingSystemTooOld) {
  ManagerHarness h;
  platform::MachineConfig config = platform::MachineConfig::Defaults();
  config.os.platformId = 1;  // Windows 98
  config.os.major = 4;
  config.os.minor = 10;
  std::string root = h.machine.Base() + "/old";
  platform::Machine::Init(root, config);
  platform::Machine::SetCurrentForProcess(root);
  platform::ResetEnvironment();
  platform::CreateDirectoryWithParents(L"C:\\Pkg");
  h.Package(MakeScript(ScriptOptions{}));
  h.ui = std::make_shared<InstallGui::ScriptedBackend>("[message MsgInstallError]\nanswer = No\n",
                                                       L"answers");
  GetGuiTools().SetUiBackend(h.ui);
  EXPECT_EQ(h.Run(), irOsVersion);
  EXPECT_TRUE(h.Logged("INFO : CInstallManager VersionOS <= WinME"))
      << h.LogText() << platform::ToUtf8(h.debug);
  EXPECT_TRUE(h.Logged("INFO : Message box: MsgVersionOS -> OK"));
}

// ---- choice of action ---------------------------------------------------------------------------

TEST(Choice, FreshInstallationThroughItsPages) {
  ManagerHarness h(
      "[page DLG_GREETING]\nbutton = Next\n"
      "[page DLG_LICENSE]\nbutton = Back\n"
      "[page DLG_GREETING]\nbutton = Next\n"
      "[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n"
      "[page DLG_INSTALL_TYPE]\nInstallType = Client\nbutton = Next\n");
  ScriptOptions o;
  o.body = L"<SERVER/><CLIENT/>";
  h.Package(MakeScript(o));
  EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"main 5"});
  EXPECT_EQ(h.manager.GetInstalledKind(), kClient);
  EXPECT_EQ(h.manager.GetUserSettings()->GetInt(L"InstallType", -1), kClient);
  EXPECT_EQ(h.ui->UseCount(L"page", L"DLG_GREETING"), 2);
}

TEST(Choice, CancelEndsWithOneAndNothingIsProcessed) {
  ManagerHarness h("[page DLG_GREETING]\nbutton = Cancel\n");
  h.Package(MakeScript(ScriptOptions{}));
  EXPECT_EQ(h.Run(), irCancelled);
  EXPECT_TRUE(h.manager.calls.empty());
  EXPECT_FALSE(h.Logged("ERROR : Error during installation"));
}

TEST(Choice, HiddenPagesAndTheInstallTypeFromTheScript) {
  ManagerHarness h;  // no page is answered: none may be shown
  ScriptOptions o;
  o.root[L"InstallType"] = L"Server";
  o.body = L"<DIALOGS><dlg_greeting Show=\"N\"/><DLG_LICENSE Show=\"n\"/></DIALOGS>";
  h.Package(MakeScript(o));
  EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"main 3"});
  EXPECT_TRUE(h.Logged("INFO : Install product as Server"));
}

TEST(Choice, ShowNoIsNotHidden) {
  ManagerHarness h;
  ScriptOptions o;
  o.body = L"<DIALOGS><DLG_GREETING Show=\"no\"/></DIALOGS>";
  h.Package(MakeScript(o));
  // "no" is not "n": the greeting is shown, and the answer file has no answer for it.
  EXPECT_EQ(h.Run(), irErrorDuringInstall);
  EXPECT_NE(platform::ToUtf8(h.debug + platform::FromUtf8(h.LogText()))
                .find("No answer for the page DLG_GREETING"),
            std::string::npos);
}

TEST(Choice, InstallTypePageRefusesWhatItDoesNotOffer) {
  ManagerHarness h(
      "[page DLG_GREETING]\nbutton = Next\n[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n"
      "[page DLG_INSTALL_TYPE]\nInstallType = Repair\nbutton = Next\n");
  h.Package(MakeScript(ScriptOptions{}));
  EXPECT_EQ(h.Run(), irErrorDuringInstall);
  EXPECT_TRUE(h.manager.calls.empty());
}

TEST(Choice, RepairPageOffersChangeOnlyWithLibraries) {
  {
    ManagerHarness h("[page DLG_REPAIR]\nInstallType = Change\nbutton = Next\n");
    h.Package(MakeScript(ScriptOptions{}));
    h.Record(ManagerHarness::Project(100));
    EXPECT_EQ(h.Run(), irErrorDuringInstall);
    EXPECT_TRUE(h.manager.calls.empty());
  }
  {
    ManagerHarness h(
        "[page DLG_REPAIR]\nInstallType = Change\nbutton = Next\n"
        "[page DLG_COMPONENTS]\nSelectedLibraries = 1\nbutton = Next\n"
        "[page DLG_SUMMARY]\nbutton = Next\n");
    ScriptOptions o;
    o.body = L"<Libraries><LIBRARY ID=\"1\"/></Libraries>";
    h.Package(MakeScript(o));
    h.Record(ManagerHarness::Project(100));
    EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
    EXPECT_EQ(h.manager.calls,
              std::vector<std::wstring>{L"change C:\\Program Files (x86)\\TOLMERA\\TT"});
    EXPECT_EQ(h.manager.GetUserSettings()->GetText(L"InstallPath"),
              L"C:\\Program Files (x86)\\TOLMERA");
    EXPECT_EQ(h.manager.GetUserSettings()->GetText(L"SelectedLibraries"), L"1");
    EXPECT_TRUE(h.Logged("INFO : Selected install action Unknown"));
  }
}

TEST(Choice, BackFromTheChangesFirstPageReturnsToTheChoiceAndTheNewChoiceIsCarriedOut) {
  ScriptOptions o;
  o.body = L"<Libraries><LIBRARY ID=\"1\"/></Libraries>";
  {
    ManagerHarness h(
        "[page DLG_REPAIR]\nInstallType = Change\nbutton = Next\n"
        "[page DLG_COMPONENTS]\nbutton = Back\n"
        "[page DLG_REPAIR]\nInstallType = Uninstall\nbutton = Next\n");
    h.Package(MakeScript(o));
    h.Record(ManagerHarness::Project(100));
    EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
    EXPECT_EQ(h.manager.calls, std::vector<std::wstring>{L"main 9"});
    EXPECT_EQ(h.ui->UseCount(L"page", L"DLG_REPAIR"), 2);
    EXPECT_EQ(h.ui->UseCount(L"page", L"DLG_SUMMARY"), 0);
    EXPECT_TRUE(h.Logged("INFO : Selected install action Uninstall"));
  }
  {
    // Back inside the change's pages still goes one page back.
    ManagerHarness h(
        "[page DLG_REPAIR]\nInstallType = Change\nbutton = Next\n"
        "[page DLG_COMPONENTS]\nSelectedLibraries = 1\nbutton = Next\n"
        "[page DLG_SUMMARY]\nbutton = Back\n[page DLG_SUMMARY]\nbutton = Next\n");
    h.Package(MakeScript(o));
    h.Record(ManagerHarness::Project(100));
    EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
    EXPECT_EQ(h.manager.calls,
              std::vector<std::wstring>{L"change C:\\Program Files (x86)\\TOLMERA\\TT"});
    EXPECT_EQ(h.ui->UseCount(L"page", L"DLG_COMPONENTS"), 2);
    EXPECT_EQ(h.ui->UseCount(L"page", L"DLG_REPAIR"), 1);
  }
}

TEST(Choice, RecordLanguageAndLibrariesBecomeUserSettings) {
  ManagerHarness h("[page DLG_REPAIR]\nInstallType = 7\nbutton = Next\n");
  ScriptOptions o;
  o.body = L"<Localization/>";  // a second Localization element is never looked at
  h.Package(MakeScript(o));
  h.Record(ManagerHarness::Project(100, L"Local", L" Language=\"1033\" Libraries=\"|A|B|\""),
           L"C:\\Program Files (x86)\\TOLMERA");
  EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  auto settings = h.manager.GetUserSettings();
  EXPECT_EQ(settings->GetInt(L"Language", -1), 0);
  EXPECT_EQ(settings->GetText(L"SelectedLibraries"), L"|A|B|");
  EXPECT_EQ(settings->GetText(L"ProjectPath"), L"C:\\Program Files (x86)\\TOLMERA");
  EXPECT_TRUE(h.Logged("INFO : CInstallManager::Init() installed libraries |A|B|"));
  EXPECT_TRUE(
      h.Logged("INFO : CInstallManager::Init() install path C:\\Program Files (x86)\\TOLMERA"));
}

// ---- the end of a run ---------------------------------------------------------------------------

TEST(EndOfRun, ErrorsOfAnyKindEndTheRunCleanly) {
  ManagerHarness h("[message MsgInstallError]\nanswer = No\n");
  h.Package(MakeScript(ScriptOptions{}));
  h.manager.GetHooks().verifyAdminRights = [](AdminRights&) {
    throw std::runtime_error("the rights check broke");
  };
  EXPECT_EQ(h.Run(), irErrorDuringInstall);
  EXPECT_TRUE(h.Logged("ERROR : CInstallManager::Run() unexpected error: the rights check broke"));
  EXPECT_TRUE(h.Logged("ERROR : Error during installation"));
}

TEST(EndOfRun, SettingsErrorsEndTheRunCleanly) {
  ManagerHarness h("[message MsgInstallError]\nanswer = No\n");
  h.Package(MakeScript(ScriptOptions{}));
  h.Record(ManagerHarness::Project(100));
  // The repair reads user setting "Language" as a number; here it holds a word.
  h.manager.GetHooks().verifySetShareForFolder = [&] {
    h.manager.GetUserSettings()->Set(L"Language", CommonTools::Variant(L"first"));
    return true;
  };
  EXPECT_EQ(h.Run(), irErrorDuringInstall);
  EXPECT_TRUE(
      h.Logged("ERROR : CInstallManager::Run() error in the script's settings: Type mismatch."));
  EXPECT_TRUE(h.manager.calls.empty());
}

TEST(EndOfRun, LogCopyIsOfferedAndSaved) {
  ManagerHarness h(
      "[message MsgInstallError]\nanswer = Yes\n[file-dialog SaveLogFile]\npath = "
      "C:\\Saved\\copy.log\n");
  ScriptOptions o;
  o.messages = L"<SaveLogFile Caption=\"Save the log as\"/>";
  h.Package(MakeScript(o));
  platform::CreateDirectoryWithParents(L"C:\\Saved");
  h.manager.GetHooks().verifyAdminRights = [](AdminRights& r) { r.joinStatus = 2; };
  EXPECT_EQ(h.Run(), irRights);
  std::string copy;
  ASSERT_EQ(platform::ReadWholeFile(L"C:\\Saved\\copy.log", copy), platform::ERROR_SUCCESS);
  EXPECT_NE(copy.find("ERROR : Error during installation"), std::string::npos) << copy;
  EXPECT_TRUE(h.Logged("INFO : File dialog: Save the log as -> C:\\Saved\\copy.log"));
}

TEST(EndOfRun, UnansweredLogOfferIsLoggedNotThrown) {
  ManagerHarness h;
  h.Package(MakeScript(ScriptOptions{}));
  h.manager.GetHooks().verifyAdminRights = [](AdminRights& r) { r.joinStatus = 2; };
  EXPECT_EQ(h.Run(), irRights);
  EXPECT_NE(h.LogText().find("ERROR : CInstallManager::Run() a question was not answered: No "
                             "answer for the message box MsgInstallError"),
            std::string::npos)
      << h.LogText();
}

TEST(ResultTexts, EveryResultHasItsText) {
  ManagerHarness h;
  EXPECT_EQ(ResultDefaultText(5), L"Data storage not found");
  EXPECT_EQ(ResultMessageId(12), L"MsgOldInstall");
  EXPECT_EQ(ResultMessageId(0), L"");
  EXPECT_EQ(h.manager.ResultText(2), L"Error during installation");
  GetInstallTools().Log().SetCurrentFile(L"C:\\A\\b%d.dll");
  EXPECT_EQ(h.manager.ResultText(16),
            L"Error creating file C:\\A\\b%d.dll: file maybe readonly or used other application");
}

TEST(InstallTypeTable, NamesBothWays) {
  EXPECT_EQ(InstallTypeFromName(L"uninstall"), kUninstall);
  EXPECT_EQ(InstallTypeFromName(L"CHANGE"), kChange);
  EXPECT_EQ(InstallTypeFromName(L"Full"), kInstall);
  EXPECT_EQ(InstallTypeFromName(L"OnlyUpdate"), kOnlyUpdate);
  EXPECT_EQ(InstallTypeFromName(L"Reinstall"), -1);
  EXPECT_EQ(InstallTypeScriptName(kOnlyUpdate), L"");
  EXPECT_EQ(InstallTypeLogName(kInstall), L"Full");
  EXPECT_EQ(InstallTypeLogName(kChange), L"Unknown");
  EXPECT_EQ(InstallTypeLogName(6), L"Unknown");
}

TEST(EndOfRun, RelativeLogPathIsCopiedFromTheProgramsFolder) {
  ManagerHarness h(
      "[message MsgInstallError]\nanswer = Yes\n[file-dialog save]\npath = "
      "C:\\Saved\\relative.log\n");
  ScriptOptions o;
  o.body = L"<INSTALL><COMMONINFO Log=\"run.log\"/></INSTALL>";
  h.Package(MakeScript(o));
  platform::CreateDirectoryWithParents(L"C:\\Saved");
  h.manager.GetHooks().verifyAdminRights = [](AdminRights& r) { r.joinStatus = 2; };
  EXPECT_EQ(h.Run(), irRights);
  // The log lies in the program's folder, which the run made current.
  std::string original, copy;
  ASSERT_EQ(platform::ReadWholeFile(L"C:\\Pkg\\run.log", original), platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::ReadWholeFile(L"C:\\Saved\\relative.log", copy), platform::ERROR_SUCCESS);
  EXPECT_NE(copy.find("INFO : Setup Version = "), std::string::npos);
  EXPECT_EQ(original.substr(0, copy.size()), copy);
}

TEST(ResultTexts, ScriptTextForAFileErrorIsCheckedBeforeUse) {
  ManagerHarness h;
  ScriptOptions o;
  o.messages = L"<MsgErrorCreateFile Caption=\"File %s: error %d\"/>";
  ASSERT_TRUE(GetInstallTools().Script().LoadFromBytes(MakeScript(o)));
  ASSERT_TRUE(GetGuiTools().Languages().Load());
  GetInstallTools().Log().SetCurrentFile(L"C:\\x.dll");
  // Two conversions for one argument: the text is shown as it stands.
  EXPECT_EQ(h.manager.ResultText(16), L"File %s: error %d");
  EXPECT_NE(platform::ToUtf8(h.debug).find(
                "WARNING : The message MsgErrorCreateFile does not fit its argument"),
            std::string::npos);
}

TEST(Choice, LanguagePresetAndTheLanguagePage) {
  ManagerHarness h(
      "[page DLG_GREETING]\nbutton = Next\n"
      "[page DLG_LANGUAGE_SELECTION]\nLanguage = 0\nbutton = Next\n"
      "[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n"
      "[page DLG_INSTALL_TYPE]\nInstallType = Local\nbutton = Next\n");
  ScriptOptions o;
  o.root[L"Language"] = L"1031";
  o.languages =
      L"<DE ID=\"1031\" Title=\"Deutsch\" SystemName=\"German\"><DLG_INSTALL_TYPE "
      L"Caption=\"Art\"/></DE>";
  h.Package(MakeScript(o));
  unsigned atMainWindow = 99;
  h.manager.GetHooks().createMainWindow = [&](const std::wstring&, const std::wstring&) {
    atMainWindow = GetGuiTools().Languages().GetCurrent();
  };
  EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  // The script's preset made German current before the main window was made.
  EXPECT_EQ(atMainWindow, 1u);
  // The language page chose English.
  EXPECT_EQ(GetGuiTools().Languages().GetCurrent(), 0u);
  EXPECT_EQ(h.manager.GetUserSettings()->GetInt(L"Language", -1), 0);
  EXPECT_EQ(h.ui->UseCount(L"page", L"DLG_LANGUAGE_SELECTION"), 1);
}

TEST(Choice, LanguagePageRefusesAnIndexBeyondTheList) {
  ManagerHarness h(
      "[page DLG_GREETING]\nbutton = Next\n[page DLG_LANGUAGE_SELECTION]\nLanguage = 2\nbutton = "
      "Next\n");
  ScriptOptions o;
  o.languages = L"<DE ID=\"1031\" Title=\"Deutsch\" SystemName=\"German\"/>";
  h.Package(MakeScript(o));
  EXPECT_EQ(h.Run(), irErrorDuringInstall);
  EXPECT_TRUE(h.manager.calls.empty());
}

TEST(RunSetUp, IconOfTheMainWindowComesFromTheArchive) {
  ManagerHarness h(kFreshAnswers);
  ScriptOptions o;
  o.body = L"<ICONS Path=\"images/setup.ico\" PathDI=\"images/remove.ico\"/>";
  h.Package(MakeScript(o), {{"images/setup.ico", "ICO"}});
  std::wstring icon;
  h.manager.GetHooks().createMainWindow = [&](const std::wstring&, const std::wstring& path) {
    icon = path;
    std::string bytes;
    EXPECT_EQ(platform::ReadWholeFile(path, bytes), platform::ERROR_SUCCESS);
    EXPECT_EQ(bytes, "ICO");
  };
  EXPECT_EQ(h.Run(), irSuccess);
  // Unpacked into the run's own temporary folder, "Setup-<unique>".
  const std::wstring prefix = platform::GetTempPathW() + L"Setup-";
  ASSERT_TRUE(platform::StartsWithNoCase(icon, prefix)) << platform::ToUtf8(icon);
  EXPECT_EQ(icon.substr(icon.find(L'\\', prefix.size())), L"\\images\\setup.ico");
}

TEST(Choice, AnInstalledClientWhoseRegistrationIsGoneIsInstalledAfresh) {
  const std::wstring client =
      L"<CLIENT><UNINSTALLER><REGISTRY><HKLM KeyName=\"SOFTWARE\\TT\\Client\"/></REGISTRY>"
      L"</UNINSTALLER></CLIENT>";
  {
    // The client's key is gone: a fresh installation, which the greeting begins.
    ManagerHarness h("[page DLG_GREETING]\nbutton = Cancel\n");
    ScriptOptions o;
    o.body = client;
    h.Package(MakeScript(o));
    h.Record(ManagerHarness::Project(100, L"Client", L" Libraries=\"|A|\""));
    EXPECT_EQ(h.Run(), irCancelled) << h.LogText();
    EXPECT_EQ(h.manager.GetInstalledKind(), kInstallNone);
    EXPECT_EQ(h.manager.GetUserSettings()->GetInt(L"InstallType", 0), -1);
    EXPECT_TRUE(h.Logged("INFO : CInstallManager::Init() the client's registry entries are gone"));
    EXPECT_FALSE(h.Logged("INFO : CInstallManager::Init() installed libraries |A|"));
    EXPECT_EQ(h.ui->UseCount(L"page", L"DLG_GREETING"), 1);
  }
  {
    // The key is there: the installed client is taken as it is recorded.
    ManagerHarness h("[page DLG_REPAIR]\nbutton = Cancel\n");
    ScriptOptions o;
    o.body = client;
    h.Package(MakeScript(o));
    h.Record(ManagerHarness::Project(100, L"Client", L" Libraries=\"|A|\""));
    platform::RegKey key;
    ASSERT_EQ(key.Create(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\TT\\Client"),
              platform::ERROR_SUCCESS);
    key.Close();
    h.Run();
    EXPECT_EQ(h.manager.GetInstalledKind(), kClient);
    EXPECT_TRUE(h.Logged("INFO : CInstallManager::Init() installed libraries |A|"));
    EXPECT_FALSE(h.Logged("INFO : CInstallManager::Init() the client's registry entries are gone"));
  }
}
