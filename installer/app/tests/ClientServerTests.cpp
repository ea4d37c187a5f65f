// The server and its clients end to end: the sample product installed as a server on one
// machine, then as a client on another machine that reaches the first one's share, repaired and
// removed again, each run a Setup process answered from a file.
#include "app/tests/SetupProcess.h"

#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace {

std::string SamplePackage() {
  const char* build = std::getenv("TOLMERA_BUILD_DIR");
  return std::string(build ? build : "build") + "/examples/sample-product/Setup.data";
}

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A settings file as text, whatever its encoding (UTF-16 with its mark, or UTF-8).
std::string SettingsText(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::wstring w;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      w.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                       (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return platform::ToUtf8(w);
  }
  return bytes;
}

platform::MachineConfig Server() {
  platform::MachineConfig c = platform::MachineConfig::Defaults();
  c.computerName = L"ALPHA";
  c.server = true;
  return c;
}

constexpr const char* kInstallPages =
    "[page DLG_GREETING]\nbutton = Next\n[page DLG_LANGUAGE_SELECTION]\nbutton = Next\n"
    "[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n[page DLG_DESTINATION]\nbutton = Next\n"
    "[page DLG_COMPONENTS]\nbutton = Next\n[page DLG_SUMMARY]\nbutton = Next\n"
    "[page DLG_FINISH]\nbutton = Next\n[message MsgAskStart]\nanswer = No\n"
    "[message MsgAskRegister]\nanswer = Yes\n";

constexpr const wchar_t* kClientEntry =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    L"{8A1C7E52-3F0B-4C55-9E61-7D2B4A9C1E07}";
constexpr const wchar_t* kClientProduct =
    L"SOFTWARE\\Classes\\Installer\\Products\\25E7C1A8B0F355C4E916D7B2A4C9E170";

class ClientServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(SamplePackage())) << "run through ctest";
    server = std::make_unique<tltest::ScopedMachine>(Server());
    platform::MachineConfig c = platform::MachineConfig::Defaults();
    c.computerName = L"BRAVO";
    platform::NetworkComputer alpha;
    alpha.name = L"ALPHA";
    alpha.workgroup = L"WORKGROUP";
    alpha.server = true;
    alpha.machineRoot = server->Root();
    c.network.push_back(alpha);
    client = std::make_unique<tltest::ScopedMachine>(c);  // the current machine from here on
  }
  std::string Answers(const std::string& name, const std::string& text) {
    std::string path = client->Base() + "/" + name;
    std::ofstream(path) << text;
    return path;
  }
  std::string Log(const tltest::ScopedMachine& m) {
    return SettingsText(ReadHost(m.C("ProgramData/TOLMERA/tlinstall.log")));
  }
  // The counter in the server's shared folder.
  std::string Counter() {
    return SettingsText(
        ReadHost(server->C("Program Files (x86)/TOLMERA Design 7/config/TolmeraInstall.cfg")));
  }
  static std::wstring ClientValue() {
    platform::RegKey key;
    std::wstring value;
    if (key.Open(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\Design") !=
        platform::ERROR_SUCCESS)
      return L"<no key>";
    if (key.QueryString(L"ProjectPath", value) != platform::ERROR_SUCCESS) return L"<no value>";
    return value;
  }
  // tlmachine on the machine at `root`; what it wrote.
  static std::string Tool(const std::string& root, const std::string& args) {
    return setuptest::Tlmachine(root, args);
  }
  // A file read from here (BRAVO) through a path of the network; "<not read>" when it cannot be.
  static std::string ReadThere(const std::wstring& path) {
    std::string bytes;
    if (platform::ReadWholeFile(path, bytes) != platform::ERROR_SUCCESS) return "<not read>";
    return bytes;
  }
  // Whether a `tlmachine shares` listing has the share `name` of `folder` (the folder follows the
  // name on its line, or on the next when the name is long).
  static bool Lists(const std::string& shares, const std::string& name, const std::string& folder) {
    std::size_t at = shares.find("\n" + name + " ");
    if (at == std::string::npos) at = shares.find("\n" + name + "\n");
    if (at == std::string::npos) return false;
    at = shares.find_first_not_of(" \n", at + 1 + name.size());
    if (at == std::string::npos || shares.compare(at, folder.size(), folder) != 0) return false;
    at += folder.size();
    return at < shares.size() && (shares[at] == ' ' || shares[at] == '\n');
  }
  static bool KeyExists(const std::wstring& key) {
    platform::RegKey k;
    return k.Open(platform::HKEY_LOCAL_MACHINE, key) == platform::ERROR_SUCCESS;
  }

  // The record of installed products on the client machine.
  std::string ClientRecord() {
    return SettingsText(ReadHost(client->C("ProgramData/TOLMERA/TolmeraInstall.cfg")));
  }

  // The server installed on ALPHA and its share declared, reached from BRAVO.
  bool ServerWithShare() {
    setuptest::Outcome o = setuptest::RunSetup(
        server->Root(),
        Answers("server.txt", std::string(kInstallPages) +
                                  "[page DLG_INSTALL_TYPE]\nInstallType = Server\nbutton = Next\n"),
        {"/X", SamplePackage()});
    EXPECT_EQ(o.exitCode, 0) << Log(*server);
    if (o.exitCode != 0) return false;
    EXPECT_NE(Counter().find("<INSTALL"), std::string::npos) << Counter();
    EXPECT_EQ(Counter().find("Clients="), std::string::npos) << Counter();

    // The server's share of its configuration folder, declared on ALPHA by hand in the server
    // service's key, open to everyone for reading and writing (the sample's own share entry
    // runs before its folder is there).
    platform::Machine::SetCurrentForProcess(server->Root());
    platform::LSTATUS declared = platform::ERROR_ACCESS_DENIED;
    {
      platform::RegKey shares;
      if (shares.Create(platform::HKEY_LOCAL_MACHINE,
                        L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares") ==
          platform::ERROR_SUCCESS)
        declared = shares.SetMultiString(
            L"TolmeraDesign",
            {L"CATimeout=0", L"CSCFlags=0", L"MaxUses=4294967295",
             L"Path=C:\\Program Files (x86)\\TOLMERA Design 7\\config", L"Permissions=127",
             L"Remark=", L"ShareName=TolmeraDesign", L"Type=0"});
    }
    platform::Machine::SetCurrentForProcess(client->Root());
    EXPECT_EQ(declared, platform::ERROR_SUCCESS);
    if (declared != platform::ERROR_SUCCESS) return false;
    platform::HostLocation counter;
    if (platform::ResolvePath(L"\\\\ALPHA\\TolmeraDesign\\TolmeraInstall.cfg", counter) !=
            platform::ERROR_SUCCESS ||
        !counter.exists) {
      ADD_FAILURE() << "the client machine does not reach the server's share";
      return false;
    }
    return true;
  }

  // The client installed on BRAVO through \\ALPHA\TolmeraDesign; the log of the run.
  std::string InstallClient() {
    setuptest::Outcome o = setuptest::RunSetup(
        client->Root(),
        Answers("client.txt",
                std::string(kInstallPages) +
                    "[page DLG_INSTALL_TYPE]\nInstallType = Client\nbutton = Next\n"
                    "[page DLG_CLIENTATTRIBUTES]\nServerName = ALPHA\nbutton = Next\n"),
        {"/X", SamplePackage()});
    std::string log = Log(*client);
    EXPECT_EQ(o.exitCode, 0) << log;
    return log;
  }

  // A removal of the client answered from the file; its exit status.
  int RemoveClient() {
    return setuptest::RunSetup(client->Root(),
                               Answers("remove.txt",
                                       "[page DLG_REPAIR]\nInstallType = Uninstall\nbutton = Next\n"
                                       "[message MsgUninstall]\nanswer = Yes\n"
                                       "[page DLG_FINISH]\nbutton = Next\n"),
                               {"/X", SamplePackage()})
        .exitCode;
  }

  std::unique_ptr<tltest::ScopedMachine> server, client;
};

}  // namespace

TEST_F(ClientServer, AClientInstalledThroughTheServersShareIsCountedRepairedAndRemoved) {
  // Our client package is a real one: msiinfo reads its tables.
  const std::string tablesFile = client->Base() + "/tables.txt";
  ASSERT_EQ(std::system(("msiinfo export '" + std::string(std::getenv("TOLMERA_BUILD_DIR")) +
                         "/examples/sample-product/client/TolmeraDesignClient.msi' Registry > '" +
                         tablesFile + "'")
                            .c_str()),
            0);
  EXPECT_NE(ReadHost(tablesFile).find("ProjectPath\t\\\\[TL_SERVER_NAME]\\[TL_SHARE_FOLDER]"),
            std::string::npos)
      << ReadHost(tablesFile);

  ASSERT_TRUE(ServerWithShare());

  // The client on BRAVO through \\ALPHA\TolmeraDesign.
  std::string log = InstallClient();
  // The client's own page follows the install type; destination, components and summary are
  // the server's.
  EXPECT_EQ(setuptest::PagesShown(log),
            (std::vector<std::string>{"DLG_GREETING -> Next", "DLG_LANGUAGE_SELECTION -> Next",
                                      "DLG_LICENSE -> Next", "DLG_INSTALL_TYPE -> Next",
                                      "DLG_CLIENTATTRIBUTES -> Next", "DLG_FINISH -> Next"}));
  EXPECT_EQ(ClientValue(), L"\\\\ALPHA\\TolmeraDesign") << log;
  EXPECT_TRUE(KeyExists(kClientEntry));
  EXPECT_TRUE(KeyExists(kClientProduct));
  EXPECT_NE(Counter().find("Clients=\"1\""), std::string::npos) << Counter() << log;

  // The repair knows its server from the record: no attributes page.
  setuptest::Outcome o =
      setuptest::RunSetup(client->Root(),
                          Answers("repair.txt",
                                  "[page DLG_REPAIR]\nInstallType = Repair\nbutton = Next\n"
                                  "[page DLG_FINISH]\nbutton = Next\n"
                                  "[message MsgAskStart]\nanswer = No\n"),
                          {"/X", SamplePackage()});
  log = Log(*client);
  ASSERT_EQ(o.exitCode, 0) << log;
  EXPECT_EQ(log.find("Page DLG_CLIENTATTRIBUTES"), std::string::npos) << log;
  EXPECT_EQ(setuptest::PagesShown(log),
            (std::vector<std::string>{"DLG_REPAIR -> Next", "DLG_FINISH -> Next"}));
  EXPECT_NE(log.find("REINSTALLMODE=vems REINSTALL=ALL TL_SERVER_NAME=\"ALPHA\""),
            std::string::npos)
      << log;
  EXPECT_EQ(ClientValue(), L"\\\\ALPHA\\TolmeraDesign");
  EXPECT_NE(Counter().find("Clients=\"1\""), std::string::npos) << Counter();

  // The removal.
  EXPECT_EQ(RemoveClient(), 0) << Log(*client);
  log = Log(*client);
  EXPECT_EQ(setuptest::PagesShown(log),
            (std::vector<std::string>{"DLG_REPAIR -> Next", "DLG_FINISH -> Next"}));
  EXPECT_EQ(ClientValue(), L"<no key>");
  EXPECT_FALSE(KeyExists(kClientEntry));
  EXPECT_FALSE(KeyExists(kClientProduct));
  EXPECT_EQ(Counter().find("Clients="), std::string::npos) << Counter();
  EXPECT_NE(Counter().find("<INSTALL"), std::string::npos) << Counter();
}

TEST_F(ClientServer, TheServersSharesAreListedUsedFromTheClientAndGoWithItsRemoval) {
  const std::string snapshot = server->Base() + "/before.snap";
  Tool(server->Root(), "snapshot '" + snapshot + "'");
  const std::string folder = "C:\\Program Files (x86)\\TOLMERA Design 7";

  // The server installation on ALPHA, through every page of the wizard.
  setuptest::Outcome o = setuptest::RunSetup(
      server->Root(),
      Answers("server.txt", std::string(kInstallPages) +
                                "[page DLG_INSTALL_TYPE]\nInstallType = Server\nbutton = Next\n"),
      {"/X", SamplePackage()});
  std::string log = Log(*server);
  ASSERT_EQ(o.exitCode, 0) << log;
  EXPECT_EQ(setuptest::PagesShown(log),
            (std::vector<std::string>{"DLG_GREETING -> Next", "DLG_LANGUAGE_SELECTION -> Next",
                                      "DLG_LICENSE -> Next", "DLG_INSTALL_TYPE -> Next",
                                      "DLG_DESTINATION -> Next", "DLG_COMPONENTS -> Next",
                                      "DLG_SUMMARY -> Next", "DLG_FINISH -> Next"}))
      << log;
  EXPECT_NE(log.find("INFO : CommonStepShare: Folder = " + folder +
                     "\\projects was shared as TolmeraProjects with permissions Everyone:RW\r\n"),
            std::string::npos)
      << log;
  // The install script's own share of the configuration folder stands in INSTALL, whose steps
  // run before the folders are made: a fresh installation cannot share it yet.
  EXPECT_NE(
      log.find("WARNING : CommonStepShare: Folder = " + folder + "\\config is not sharing \r\n"),
      std::string::npos)
      << log;
  EXPECT_EQ(log.find("ERROR : "), std::string::npos) << log;
  std::string record = SettingsText(ReadHost(server->C("ProgramData/TOLMERA/TolmeraInstall.cfg")));
  EXPECT_NE(record.find("Type=\"Server\" Build=\"7120\" PV=\"TDESIGN\""), std::string::npos)
      << record;
  std::string shares = Tool(server->Root(), "shares");
  EXPECT_TRUE(Lists(shares, "TolmeraProjects", folder + "\\projects")) << shares;
  EXPECT_EQ(shares.find("TolmeraDesign"), std::string::npos) << shares;

  // From BRAVO the share is \\ALPHA\TolmeraProjects: read, written and cleaned through it.
  const std::string readme =
      ReadHost(setuptest::SourceDir() + "/examples/sample-product/payload/projects/readme.txt");
  ASSERT_FALSE(readme.empty());
  EXPECT_EQ(ReadThere(L"\\\\ALPHA\\TolmeraProjects\\readme.txt"), readme);
  EXPECT_EQ(
      platform::WriteWholeFile(L"\\\\ALPHA\\TolmeraProjects\\shaft.tdd", "a drawing of BRAVO"),
      platform::ERROR_SUCCESS);
  EXPECT_EQ(ReadHost(server->C("Program Files (x86)/TOLMERA Design 7/projects/shaft.tdd")),
            "a drawing of BRAVO");
  EXPECT_EQ(platform::DeleteFileW(L"\\\\ALPHA\\TolmeraProjects\\shaft.tdd"),
            platform::ERROR_SUCCESS);
  EXPECT_FALSE(std::filesystem::exists(
      server->C("Program Files (x86)/TOLMERA Design 7/projects/shaft.tdd")));
  EXPECT_EQ(ReadThere(L"\\\\ALPHA\\TolmeraDesign\\project.cfg"), "<not read>");

  // A repair meets the projects' share in place and now shares the configuration folder too.
  o = setuptest::RunSetup(server->Root(),
                          Answers("repair.txt",
                                  "[page DLG_REPAIR]\nInstallType = Repair\nbutton = Next\n"
                                  "[page DLG_FINISH]\nbutton = Next\n"
                                  "[message MsgAskRegister]\nanswer = Yes\n"
                                  "[message MsgAskStart]\nanswer = No\n"),
                          {"/X", SamplePackage()});
  log = Log(*server);
  ASSERT_EQ(o.exitCode, 0) << log;
  EXPECT_EQ(setuptest::PagesShown(log),
            (std::vector<std::string>{"DLG_REPAIR -> Next", "DLG_FINISH -> Next"}));
  EXPECT_NE(log.find("INFO : CommonStepShare: Folder = " + folder +
                     "\\projects is shared as TolmeraProjects already\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("INFO : CommonStepShare: Folder = " + folder +
                     "\\config was shared as TolmeraDesign with permissions Everyone:R\r\n"),
            std::string::npos)
      << log;
  shares = Tool(server->Root(), "shares");
  EXPECT_TRUE(Lists(shares, "TolmeraDesign", folder + "\\config")) << shares;
  EXPECT_TRUE(Lists(shares, "TolmeraProjects", folder + "\\projects")) << shares;
  EXPECT_EQ(ReadThere(L"\\\\ALPHA\\TolmeraDesign\\project.cfg"),
            ReadHost(server->C("Program Files (x86)/TOLMERA Design 7/config/project.cfg")));

  // The removal takes both shares away: neither ALPHA lists them nor BRAVO reaches them.
  o = setuptest::RunSetup(server->Root(),
                          Answers("remove.txt",
                                  "[page DLG_REPAIR]\nInstallType = Uninstall\nbutton = Next\n"
                                  "[message MsgUninstall]\nanswer = Yes\n"
                                  "[page DLG_FINISH]\nbutton = Next\n"),
                          {"/X", SamplePackage()});
  log = Log(*server);
  ASSERT_EQ(o.exitCode, 0) << log;
  EXPECT_EQ(setuptest::PagesShown(log),
            (std::vector<std::string>{"DLG_REPAIR -> Next", "DLG_FINISH -> Next"}));
  EXPECT_NE(log.find("INFO : CommonStepShare: Folder = TolmeraDesign is removed status share\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(
      log.find("INFO : CommonStepShare: Folder = TolmeraProjects is removed status share\r\n"),
      std::string::npos)
      << log;
  shares = Tool(server->Root(), "shares");
  EXPECT_EQ(shares.find("Tolmera"), std::string::npos) << shares;
  EXPECT_NE(shares.find("The command completed successfully."), std::string::npos) << shares;
  EXPECT_EQ(ReadThere(L"\\\\ALPHA\\TolmeraProjects\\readme.txt"), "<not read>");
  platform::HostLocation gone;
  EXPECT_NE(platform::ResolvePath(L"\\\\ALPHA\\TolmeraProjects\\readme.txt", gone),
            platform::ERROR_SUCCESS);
  // After the next start nothing of the product is left on ALPHA, its shares' key included.
  Tool(server->Root(), "restart");
  std::string diff = Tool(server->Root(), "diff '" + snapshot + "'");
  EXPECT_NE(diff.find("# 6 added, 0 changed, 0 removed"), std::string::npos) << diff;
  for (const char* trace : {"LanmanServer", "Design 7\\", "TolmeraDesign", "Uninstall"})
    EXPECT_EQ(diff.find(trace), std::string::npos) << trace << "\n" << diff;
}

TEST_F(ClientServer, ARemovalThatLeavesTheClientsKeyFailsAndKeepsRecordAndCounter) {
  ASSERT_TRUE(ServerWithShare());
  InstallClient();
  ASSERT_NE(Counter().find("Clients=\"1\""), std::string::npos) << Counter();
  ASSERT_NE(ClientRecord().find("TDESIGN"), std::string::npos) << ClientRecord();
  const std::string recordBefore = ClientRecord();
  {
    // Something else keeps a key below the client's: msiexec's removal cannot take the key.
    platform::RegKey other;
    ASSERT_EQ(other.Create(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\Design\\Other"),
              platform::ERROR_SUCCESS);
  }
  EXPECT_EQ(RemoveClient(), 13);
  const std::string log = Log(*client);
  EXPECT_NE(log.find("ERROR : Client install: msiexec.exe is not finished correctly"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Product key SOFTWARE\\TOLMERA\\Design is detected in Registry"),
            std::string::npos)
      << log;
  // The product stays recorded as installed and the server still counts its client.
  EXPECT_EQ(ClientRecord(), recordBefore);
  EXPECT_NE(Counter().find("Clients=\"1\""), std::string::npos) << Counter();
  // msiexec took away the value it wrote; the key stays for what else is below it.
  EXPECT_EQ(ClientValue(), L"<no value>");
}
