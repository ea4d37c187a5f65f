// The `tlmachine` tool, run as a program against a test machine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "testing/MachineFixture.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include <filesystem>
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Shares.h"

using namespace platform;

namespace {

struct Result {
  int status = -1;
  std::string out;
};

class Tlmachine : public tltest::MachineTest {
 protected:
  void SetUp() override {
    tltest::MachineTest::SetUp();
    const char* bin = std::getenv("TOLMERA_BIN_DIR");
    if (!bin) GTEST_SKIP() << "TOLMERA_BIN_DIR is not set (run through ctest)";
    tool_ = std::string(bin) + "/tlmachine";
    ASSERT_EQ(::access(tool_.c_str(), X_OK), 0) << tool_;
  }

  // Runs tlmachine on the test machine; standard output and error together.
  Result Run(const std::string& args, bool withMachine = true) {
    std::string command =
        "'" + tool_ + "' " + (withMachine ? "--machine '" + root_ + "' " : "") + args + " 2>&1";
    Result r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return r;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
    int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }

  std::string tool_;
};

bool HasLine(const std::string& text, const std::string& prefix) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) return true;
  return false;
}

}  // namespace

TEST_F(Tlmachine, SnapshotAndDiffShowAFileAndAKeyAddedByAProgram) {
  const std::string snap = temp_ + "/before.snap";
  Result r = Run("snapshot '" + snap + "'");
  ASSERT_EQ(r.status, 0) << r.out;

  // What a test program (here: this one) adds, changes and removes.
  ASSERT_EQ(WriteWholeFile(L"C:\\Program Files (x86)\\TOLMERA\\added.txt", "hello"),
            ERROR_PATH_NOT_FOUND);
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Program Files (x86)\\TOLMERA"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Program Files (x86)\\TOLMERA\\added.txt", "hello"), ERROR_SUCCESS);
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE,
                     L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TOLMERA"),
            ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"DisplayName", L"TOLMERA"), ERROR_SUCCESS);
  ASSERT_EQ(
      k.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
             KEY_ALL_ACCESS),
      ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"ComputerName", L"OTHER"), ERROR_SUCCESS);
  ASSERT_EQ(RemoveDirectoryW(L"C:\\Users\\Public\\Videos"), ERROR_SUCCESS);

  r = Run("diff '" + snap + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(HasLine(r.out, "+ D C:\\Program Files (x86)\\TOLMERA\t")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "+ F C:\\Program Files (x86)\\TOLMERA\\added.txt\tsize=5 attr=A"))
      << r.out;
  EXPECT_TRUE(HasLine(
      r.out,
      "+ K "
      "HKEY_LOCAL_"
      "MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TOLMERA"))
      << r.out;
  EXPECT_TRUE(HasLine(
      r.out,
      "+ V "
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
      "TOLMERA : \"DisplayName\"\tREG_SZ \"TOLMERA\""))
      << r.out;
  EXPECT_TRUE(HasLine(
      r.out,
      "~ V HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName : "
      "\"ComputerName\"\tREG_SZ \"TOLMERA-PC\" -> REG_SZ \"OTHER\""))
      << r.out;
  EXPECT_TRUE(HasLine(r.out, "- D C:\\Users\\Public\\Videos\t")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "# 4 added, 1 changed, 1 removed")) << r.out;

  // Nothing changed since a fresh snapshot: an empty diff.
  ASSERT_EQ(Run("snapshot '" + snap + "'").status, 0);
  r = Run("diff '" + snap + "'");
  EXPECT_EQ(r.out, "# 0 added, 0 changed, 0 removed\n");
}

TEST_F(Tlmachine, UsageAndErrorsGiveNonZeroExits) {
  Result r = Run("", false);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("usage: tlmachine"), std::string::npos);
  EXPECT_EQ(Run("frobnicate").status, 2);
  EXPECT_EQ(Run("reg query 'HKXX\\Software'").status, 2);
  r = Run("reg query 'HKLM\\SOFTWARE\\NoSuchKey'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("cannot find the file"), std::string::npos) << r.out;
  EXPECT_EQ(Run("diff '" + temp_ + "/missing.snap'").status, 1);
  {
    std::ofstream bad(temp_ + "/bad.snap");
    bad << "# tlmachine snapshot 1\nF C:\\x\tsize=1\ngarbage line\n";
  }
  r = Run("diff '" + temp_ + "/bad.snap'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("line 3"), std::string::npos) << r.out;
  r = Run("init '" + root_ + "'", false);
  EXPECT_EQ(r.status, 1);  // a machine is never overwritten
  EXPECT_EQ(Run("help").status, 0);
  EXPECT_EQ(Run("tree 'C:\\NoSuchFolder'").status, 1);
  EXPECT_EQ(Run("hold 'C:\\NoSuchFile.txt'").status, 1);
}

TEST_F(Tlmachine, InitQueryExportTreeAndRestart) {
  std::string other = temp_ + "/other";
  Result r = Run("init '" + other + "'", false);
  ASSERT_EQ(r.status, 0) << r.out;
  r = Run(
      "--machine '" + other +
          "' reg query \"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\" /v ProductName",
      false);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("ProductName    REG_SZ    Windows 10 Pro"), std::string::npos) << r.out;

  r = Run("reg export 'HKCU\\Environment' '" + temp_ + "/env.reg'");
  ASSERT_EQ(r.status, 0) << r.out;
  std::ifstream in(temp_ + "/env.reg", std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto tree = reg::ParseHive(bytes, L"HKEY_USERS\\" + CurrentUserSid(), nullptr);
  ASSERT_TRUE(tree);
  ASSERT_TRUE(tree->Child(L"Environment"));
  EXPECT_TRUE(tree->Child(L"Environment")->FindValue(L"TEMP"));

  r = Run("tree 'C:\\Users' 1");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(HasLine(r.out, "  User2\\")) << r.out;
  EXPECT_FALSE(HasLine(r.out, "    AppData\\")) << r.out;  // depth 1

  ASSERT_EQ(WriteWholeFile(L"C:\\gone.txt", "x"), ERROR_SUCCESS);
  ASSERT_EQ(MoveFileExW(L"C:\\gone.txt", L"", MOVEFILE_DELAY_UNTIL_REBOOT), ERROR_SUCCESS);
  r = Run("restart");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("delete C:\\gone.txt: done"), std::string::npos) << r.out;
  EXPECT_FALSE(PathFileExistsW(L"C:\\gone.txt"));
}

TEST_F(Tlmachine, HoldKeepsAFileInUseUntilKilled) {
  ASSERT_EQ(WriteWholeFile(L"C:\\held.txt", "x"), ERROR_SUCCESS);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], 1);
    ::close(fds[0]);
    ::execl(tool_.c_str(), tool_.c_str(), "--machine", root_.c_str(), "hold", "C:\\held.txt",
            (char*)nullptr);
    ::_exit(127);
  }
  ::close(fds[1]);
  // "holding ..." is printed once the file is open.
  std::string said;
  char c;
  while (said.find('\n') == std::string::npos && ::read(fds[0], &c, 1) == 1) said.push_back(c);
  ::close(fds[0]);
  ASSERT_EQ(said.rfind("holding C:\\held.txt", 0), 0u) << said;
  FileHandle h;
  EXPECT_EQ(h.Open(L"C:\\held.txt", GENERIC_READ,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING),
            ERROR_SHARING_VIOLATION);
  EXPECT_EQ(DeleteFileW(L"C:\\held.txt"), ERROR_SHARING_VIOLATION);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  EXPECT_EQ(DeleteFileW(L"C:\\held.txt"), ERROR_SUCCESS);
}

TEST_F(Tlmachine, AclAndWhoamiShowTheMachinesSecurity) {
  Result r = Run("acl 'C:\\Program Files'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(HasLine(r.out, "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"))
      << r.out;
  EXPECT_TRUE(HasLine(r.out, "Owner: NT SERVICE\\TrustedInstaller")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "  Allow  BUILTIN\\Administrators  0x001301BF modify")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "  Allow  CREATOR OWNER  0x10000000 full control  (OI)(CI)(IO)"))
      << r.out;
  r = Run("acl 'HKLM\\SOFTWARE'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(HasLine(r.out, "O:BAG:SYD:PAI(A;CIIO;KA;;;CO)")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "  Allow  BUILTIN\\Users  0x00020019 read  (CI)")) << r.out;
  EXPECT_EQ(Run("acl 'C:\\NoSuchFolder'").status, 1);
  EXPECT_EQ(Run("acl").status, 2);

  r = Run("whoami");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(HasLine(r.out, "TOLMERA-PC\\User  " + ToUtf8(CurrentUserSid()))) << r.out;
  EXPECT_TRUE(HasLine(r.out,
                      "BUILTIN\\Administrators  Alias  S-1-5-32-544  Mandatory group, "
                      "Enabled by default, Enabled group, Group owner"))
      << r.out;
  EXPECT_TRUE(HasLine(r.out, "SeShutdownPrivilege  Shut down the system  Disabled")) << r.out;
  EXPECT_TRUE(HasLine(r.out,
                      "Elevation: elevated, type full, integrity Mandatory Label\\High "
                      "Mandatory Level, linked token present"))
      << r.out;
}

TEST_F(Tlmachine, SnapshotAndTreeListLinksWithoutWalkingThem) {
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Data\\Sub"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\Sub\\a.txt", "a"), ERROR_SUCCESS);
  // A link back up the tree would make a walk that follows links endless.
  ASSERT_EQ(::symlink((root_ + "/drive_c/Data").c_str(), (root_ + "/drive_c/Data/Sub/up").c_str()),
            0);
  std::string snap = temp_ + "/links.snap";
  Result r = Run("snapshot '" + snap + "'");
  ASSERT_EQ(r.status, 0) << r.out;
  std::ifstream in(snap);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(HasLine(text, "D C:\\Data\\Sub\\up\t")) << text;
  EXPECT_FALSE(HasLine(text, "D C:\\Data\\Sub\\up\\Sub")) << text;
  r = Run("tree 'C:\\Data' 5");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(HasLine(r.out, "    up\\")) << r.out;
  EXPECT_FALSE(HasLine(r.out, "      Sub\\")) << r.out;
}

namespace {

void Entry(HKEY root, REGSAM view, const std::wstring& key,
           const std::vector<std::pair<std::wstring, std::wstring>>& values, DWORD system = 0) {
  RegKey k;
  ASSERT_EQ(k.Create(root, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + key,
                     KEY_READ | KEY_WRITE | view),
            ERROR_SUCCESS);
  for (const auto& v : values) ASSERT_EQ(k.SetString(v.first, v.second), ERROR_SUCCESS);
  if (system) {
    ASSERT_EQ(k.SetDword(L"SystemComponent", system), ERROR_SUCCESS);
  }
}

}  // namespace

TEST_F(Tlmachine, ProgramsListsTheEntriesOfBothViewsAndTheUserByName) {
  Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"TolmeraDesign7",
        {{L"DisplayName", L"TOLMERA Design 7"},
         {L"DisplayVersion", L"7"},
         {L"Publisher", L"TOLMERA Engineering"},
         {L"InstallLocation", L"C:\\Program Files (x86)\\TOLMERA Design 7"}});
  Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"{64-bit tool}",
        {{L"DisplayName", L"Acme Tool"}, {L"DisplayVersion", L"2.1"}});
  Entry(HKEY_CURRENT_USER, 0, L"UserApp", {{L"DisplayName", L"a user's app"}});
  Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"Hidden", {{L"DisplayName", L"Hidden"}}, 1);
  Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"Nameless", {{L"DisplayVersion", L"1"}});
  Result r = Run("programs");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "Name\tVersion\tPublisher\tLocation\tEntry\n"
            "a user's app\t\t\t\tHKCU\\UserApp\n"
            "Acme Tool\t2.1\t\t\tHKLM\\{64-bit tool}\n"
            "TOLMERA Design 7\t7\tTOLMERA Engineering\tC:\\Program Files (x86)\\TOLMERA Design "
            "7\tHKLM (32-bit)\\TolmeraDesign7\n"
            "# 3 programs\n");
}

TEST_F(Tlmachine, UninstallRunsTheEntrysCommandAndPassesItsExitStatusOn) {
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Program Files\\Acme Tool"), ERROR_SUCCESS);
  const std::string seen = temp_ + "/seen.txt";
  ASSERT_EQ(WriteWholeFile(L"C:\\Program Files\\Acme Tool\\remove.exe",
                           "#!/bin/sh\nprintf '%s|' \"$@\" > '" + seen + "'\nexit 5\n"),
            ERROR_SUCCESS);
  Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"AcmeTool",
        {{L"DisplayName", L"Acme Tool"},
         {L"UninstallString", L"\"C:\\Program Files\\Acme Tool\\remove.exe\" /X C:\\a b.data"}});
  Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"NoCommand", {{L"DisplayName", L"No command"}});
  Entry(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"Broken",
        {{L"DisplayName", L"Broken"}, {L"UninstallString", L"C:\\missing\\un.exe /X"}});
  Result r = Run("uninstall acmetool");
  EXPECT_EQ(r.status, 5) << r.out;
  EXPECT_NE(r.out.find("running \"C:\\Program Files\\Acme Tool\\remove.exe\" /X C:\\a b.data"),
            std::string::npos)
      << r.out;
  std::ifstream in(seen);
  std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(args, "/X|C:\\a|b.data|");
  EXPECT_EQ(Run("uninstall \"Acme Tool\"").status, 5) << "found by its name too";
  EXPECT_EQ(Run("uninstall Missing").status, 1);
  EXPECT_EQ(Run("uninstall NoCommand").status, 1);
  r = Run("uninstall Broken");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("The system cannot find the file specified"), std::string::npos) << r.out;
  EXPECT_EQ(Run("uninstall").status, 2);
  EXPECT_EQ(Run("programs extra").status, 2);
}

TEST_F(Tlmachine, SharesAndDataSourcesAreListedAsTheSystemToolsListThem) {
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Srv\\Data"), ERROR_SUCCESS);
  SHARE_INFO_502 share;
  share.shi502_netname = L"TlData";
  share.shi502_path = L"C:\\Srv\\Data";
  share.shi502_permissions = ACCESS_READ;
  DWORD parm = 0;
  ASSERT_EQ(NetShareAdd(nullptr, 502, share, &parm), NERR_Success);
  RegKey list, source;
  ASSERT_EQ(list.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources"),
            ERROR_SUCCESS);
  ASSERT_EQ(list.SetString(L"TolmeraParts", L"Microsoft Access Driver (*.mdb)"), ERROR_SUCCESS);
  ASSERT_EQ(source.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\ODBC\\ODBC.INI\\TolmeraParts"),
            ERROR_SUCCESS);
  ASSERT_EQ(source.SetString(L"DBQ", L"C:\\Srv\\Data\\parts.mdb"), ERROR_SUCCESS);
  ASSERT_EQ(source.SetDword(L"DriverId", 25), ERROR_SUCCESS);
  list.Close();
  source.Close();

  Result r = Run("shares");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(HasLine(r.out, "Share name   Resource                        Remark")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "C$           C:\\                             Default share"))
      << r.out;
  EXPECT_TRUE(HasLine(r.out, "TlData       C:\\Srv\\Data")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "The command completed successfully.")) << r.out;

  r = Run("odbc");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(HasLine(r.out, "TolmeraParts            32-bit    Microsoft Access Driver (*.mdb)"))
      << r.out;
  EXPECT_TRUE(HasLine(r.out, "    DBQ = C:\\Srv\\Data\\parts.mdb")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "    DriverId = 25")) << r.out;
}
