// msiexec over packages that wixl builds from WiX sources written here (rows wixl cannot express
// are added with msibuild): a 64-bit feature tree with shortcuts, INI and environment entries
// through install, ADDLOCAL, REMOVE, repair and removal; a component shared by two products; the
// custom actions, the rollback of a failed run and the exit codes.
#include "msiexec/MsiDatabase.h"
#include "msiexec/Msiexec.h"

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Restart.h"
#include "platform/ShellLinks.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

using namespace platform;

namespace {

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Narrow(const std::wstring& s) { return ToUtf8(s); }

std::wstring Value(HKEY root, const std::wstring& key, const std::wstring& name, REGSAM view = 0) {
  RegKey k;
  std::wstring value;
  if (k.Open(root, key, KEY_READ | view) != ERROR_SUCCESS) return L"<no key>";
  if (k.QueryString(name, value) != ERROR_SUCCESS) return L"<no value>";
  return value;
}

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view = 0) {
  RegKey k;
  return k.Open(root, key, KEY_READ | view) == ERROR_SUCCESS;
}

std::string ReadText(const std::wstring& path) {
  std::string bytes;
  if (ReadWholeFile(path, bytes) != ERROR_SUCCESS) return "<not read>";
  return bytes;
}

constexpr const wchar_t* kSystemEnvironment =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// One table in the text form msibuild imports: columns, types, keys, rows.
struct TableText {
  std::string name, text;
};

class MsiPackages : public tltest::MachineTest {
 protected:
  // A package built by wixl from `wxs` (with the source files `files`), the tables `tables`
  // imported and the queries `queries` run by msibuild, put into the machine at `path`. The
  // host copy stays at Host(path name) for reading the package's own tables.
  void BuildPackage(const std::string& wxs, const std::map<std::string, std::string>& files,
                    const std::vector<TableText>& tables, const std::vector<std::string>& queries,
                    const std::wstring& path, const std::string& arch = "x86") {
    const std::string dir = temp_ + "/src";
    ::mkdir(dir.c_str(), 0755);
    for (const auto& [name, bytes] : files)
      std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
    const std::string source = dir + "/p.wxs";
    const std::string out = HostPackage(path);
    std::ofstream(source) << wxs;
    std::string output;
    ASSERT_TRUE(Msi::RunHost(
        {"sh", "-c", "cd '" + dir + "' && wixl -a " + arch + " -o '" + out + "' p.wxs"}, output))
        << "wixl failed";
    for (const auto& t : tables) {
      const std::string idt = dir + "/" + t.name + ".idt";
      std::ofstream(idt, std::ios::binary) << t.text;
      ASSERT_TRUE(Msi::RunHost({"msibuild", out, "-i", idt}, output)) << t.name;
    }
    for (const auto& q : queries)
      ASSERT_TRUE(Msi::RunHost({"msibuild", out, "-q", q}, output)) << q;
    std::wstring folder = path;
    PathRemoveFileSpecW(folder);
    CreateDirectoryWithParents(folder);
    ASSERT_EQ(WriteWholeFile(path, ReadHost(out)), ERROR_SUCCESS);
  }
  std::string HostPackage(const std::wstring& path) {
    return temp_ + "/" + Narrow(std::wstring(PathFindFileNameW(path)));
  }
  int Run(const std::vector<std::wstring>& args) {
    Msi::Options options;
    std::wstring error;
    int parsed = Msi::ParseCommandLine(args, options, error);
    if (parsed != Msi::kSuccess) return parsed;
    return Msi::Run(options);
  }
  std::string Tlmachine(const std::string& args) {
    const char* bin = std::getenv("TOLMERA_BIN_DIR");
    std::string out;
    Msi::RunHost(
        {"sh", "-c", std::string(bin ? bin : ".") + "/tlmachine --machine '" + root_ + "' " + args},
        out);
    return out;
  }
  // The size the package's File table gives for `fileKey`.
  std::string FileSize(const std::wstring& package, const std::wstring& fileKey) {
    Msi::Database db;
    std::string error;
    if (!db.Open(HostPackage(package), error)) return "<no package>";
    const Msi::Table& files = db.Get(L"File");
    for (std::size_t i = 0; i < files.rows.size(); ++i)
      if (files.Cell(i, L"File") == fileKey) return Narrow(files.Cell(i, L"FileSize"));
    return "<no file>";
  }
  std::string SizeOf(const std::wstring& path) {
    std::string bytes;
    if (ReadWholeFile(path, bytes) != ERROR_SUCCESS) return "<missing>";
    return std::to_string(bytes.size());
  }
};

// A 64-bit product: a feature tree, an advertised shortcut, a value under a key written with
// a final "\", an INI entry, environment variables set and appended to.
const char kTreeSource[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="A1A1A1A1-2222-3333-4444-555555555501" Name="Probe Tree" Language="1033" Version="1.2.3"
           Manufacturer="Probe Makers" UpgradeCode="A1A1A1A1-7777-8888-9999-000000000001">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="tree.cab" EmbedCab="yes"/>
    <Property Id="COLOUR" Value="red"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="Probe Tree">
          <Component Id="Main" Guid="A1A1A1A1-3434-5656-7878-909090909001" Win64="yes">
            <File Id="AppExe" Name="app.exe" Source="app.exe" KeyPath="yes">
              <Shortcut Id="AppLnk" Directory="MenuDir" Name="Probe Tree" Advertise="yes"
                        WorkingDirectory="INSTALLDIR" Description="The probe"/>
            </File>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Probe Tree\" Name="Path" Type="string" Value="[INSTALLDIR]"/>
          </Component>
          <Component Id="Extra" Guid="A1A1A1A1-3434-5656-7878-909090909002" Win64="yes">
            <File Id="LibDll" Name="lib.dll" Source="lib.dll" KeyPath="yes"/>
          </Component>
          <Directory Id="DOCSDIR" Name="Docs">
            <Component Id="Docs" Guid="A1A1A1A1-3434-5656-7878-909090909003" Win64="yes">
              <File Id="Readme" Name="readme.txt" Source="readme.txt" KeyPath="yes"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
      <Directory Id="System64Folder">
        <Component Id="SystemPart" Guid="A1A1A1A1-3434-5656-7878-909090909005" Win64="yes">
          <File Id="Probe64" Name="probe64.dll" Source="lib.dll" KeyPath="yes"/>
        </Component>
      </Directory>
      <Directory Id="ProgramMenuFolder">
        <Directory Id="MenuDir" Name="Probe Tree">
          <Component Id="Menu" Guid="A1A1A1A1-3434-5656-7878-909090909004">
            <RemoveFolder Id="RemoveMenuDir" On="uninstall"/>
            <RegistryValue Root="HKCU" Key="Software\Probe Tree" Name="Menu" Type="integer" Value="1" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1">
      <ComponentRef Id="Main"/>
      <ComponentRef Id="Menu"/>
      <ComponentRef Id="SystemPart"/>
      <Feature Id="ExtraFeature" Level="1"><ComponentRef Id="Extra"/></Feature>
      <Feature Id="DocsFeature" Level="4"><ComponentRef Id="Docs"/></Feature>
    </Feature>
  </Product>
</Wix>
)";

const std::vector<TableText> kTreeTables = {
    {"IniFile",
     "IniFile\tFileName\tDirProperty\tSection\tKey\tValue\tAction\tComponent_\r\n"
     "s72\tl255\tS72\tl96\tl128\tl255\ti2\ts72\r\nIniFile\tIniFile\r\n"
     "Ini1\ttree.ini\tINSTALLDIR\tMain\tColour\t[COLOUR]\t0\tMain\r\n"},
    {"Environment",
     "Environment\tName\tValue\tComponent_\r\ns72\tl255\tL255\ts72\r\nEnvironment\tEnvironment\r\n"
     "Env1\t=-*PROBE_TREE_HOME\t[INSTALLDIR]\tMain\r\n"
     "Env2\t=-*PROBE_TREE_PATH\t[~];[INSTALLDIR]bin\tMain\r\n"},
    {"Condition",
     "Feature_\tLevel\tCondition\r\ns38\ti2\tS255\r\nCondition\tFeature_\tLevel\r\n"
     "DocsFeature\t1\tWITHDOCS\r\n"},
};

const std::vector<std::string> kTreeQueries = {
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('RemoveIniValues', 3100)",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES "
    "('RemoveEnvironmentStrings', 3300)",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('WriteIniValues', 5100)",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES "
    "('WriteEnvironmentStrings', 5200)",
    "UPDATE `Component` SET `Condition` = 'NOT NOEXTRA' WHERE `Component` = 'Extra'",
};

const std::map<std::string, std::string> kTreeFiles = {
    {"app.exe", "#!/bin/sh\nexit 0\n"}, {"lib.dll", "library bytes"}, {"readme.txt", "read me\n"}};

constexpr const wchar_t* kTreeCode = L"{A1A1A1A1-2222-3333-4444-555555555501}";
constexpr const wchar_t* kTreeDir = L"C:\\Program Files\\Probe Tree";
constexpr const wchar_t* kTreeLink =
    L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Probe Tree\\Probe Tree.lnk";

}  // namespace

TEST_F(MsiPackages, A64BitFeatureTreeIsInstalledChangedRepairedAndRemovedWithoutATrace) {
  BuildPackage(kTreeSource, kTreeFiles, kTreeTables, kTreeQueries, L"C:\\Temp\\tree.msi", "x64");
  {
    RegKey env;
    ASSERT_EQ(env.Open(HKEY_LOCAL_MACHINE, kSystemEnvironment, KEY_READ | KEY_WRITE),
              ERROR_SUCCESS);
    ASSERT_EQ(env.SetString(L"PROBE_TREE_PATH", L"C:\\Old"), ERROR_SUCCESS);
  }
  const std::string snapshot = temp_ + "/before.txt";
  Tlmachine("snapshot '" + snapshot + "'");
  ASSERT_FALSE(ReadHost(snapshot).empty()) << "tlmachine snapshot";

  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\tree.msi", L"/qn", L"/l*v", L"C:\\Temp\\tree.log"}),
            Msi::kSuccess)
      << ReadText(L"C:\\Temp\\tree.log");
  const std::wstring dir = kTreeDir;
  // Files of the features chosen by level, in the 64-bit Program Files, as the package has them.
  EXPECT_EQ(SizeOf(dir + L"\\app.exe"), FileSize(L"C:\\Temp\\tree.msi", L"AppExe"));
  EXPECT_EQ(SizeOf(dir + L"\\lib.dll"), FileSize(L"C:\\Temp\\tree.msi", L"LibDll"));
  EXPECT_EQ(ReadText(dir + L"\\lib.dll"), "library bytes");
  EXPECT_FALSE(PathFileExistsW(dir + L"\\Docs\\readme.txt"));  // level 4 above INSTALLLEVEL 1
  EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files (x86)\\Probe Tree"));
  // The 64-bit system folder is the real System32, which this 32-bit process sees as Sysnative.
  EXPECT_EQ(ReadText(L"C:\\Windows\\Sysnative\\probe64.dll"), "library bytes");
  EXPECT_FALSE(PathFileExistsW(L"C:\\Windows\\SysWOW64\\probe64.dll"));
  // The value of a 64-bit component is in the 64-bit view only.
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Tree", L"Path", KEY_WOW64_64KEY),
            dir + L"\\");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Tree", KEY_WOW64_32KEY));
  // The advertised shortcut starts the component's key file.
  ShellLink link;
  ASSERT_EQ(ReadShellLink(kTreeLink, link), ERROR_SUCCESS);
  EXPECT_EQ(link.target, dir + L"\\app.exe");
  EXPECT_EQ(link.workingDirectory, dir);
  EXPECT_EQ(link.description, L"The probe");
  EXPECT_EQ(ReadText(dir + L"\\tree.ini"), "[Main]\r\nColour=red\r\n");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kSystemEnvironment, L"PROBE_TREE_HOME"), dir + L"\\");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kSystemEnvironment, L"PROBE_TREE_PATH"),
            L"C:\\Old;" + dir + L"\\bin");
  {
    RegKey menu;
    DWORD one = 0;
    ASSERT_EQ(menu.Open(HKEY_CURRENT_USER, L"Software\\Probe Tree"), ERROR_SUCCESS);
    EXPECT_EQ(menu.QueryDword(L"Menu", one), ERROR_SUCCESS);
    EXPECT_EQ(one, 1u);
  }
  const std::string log = ReadText(L"C:\\Temp\\tree.log");
  EXPECT_NE(log.find("=== Verbose logging started: "), std::string::npos);
  EXPECT_NE(log.find("]: Doing action: WriteIniValues"), std::string::npos) << log;
  EXPECT_NE(log.find("Action start "), std::string::npos);
  EXPECT_NE(log.find("Feature: DocsFeature; Installed: Absent;   Request: Absent;   Action: Null"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Component: Extra; Installed: Absent;   Request: Local;   Action: Local"),
            std::string::npos);
  EXPECT_NE(log.find("]: MainEngineThread is returning 0"), std::string::npos);
  DeleteFileW(L"C:\\Temp\\tree.log");

  // ADDLOCAL brings the documentation and leaves the rest as it is.
  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\tree.msi", L"/qn", L"ADDLOCAL=DocsFeature"}), Msi::kSuccess);
  EXPECT_EQ(ReadText(dir + L"\\Docs\\readme.txt"), "read me\n");
  EXPECT_TRUE(PathFileExistsW(dir + L"\\lib.dll"));
  EXPECT_TRUE(PathFileExistsW(kTreeLink));
  // REMOVE takes one child feature away, its files and nothing else.
  ASSERT_EQ(Run({std::wstring(L"/i") + kTreeCode, L"/qn", L"REMOVE=ExtraFeature"}), Msi::kSuccess);
  EXPECT_FALSE(PathFileExistsW(dir + L"\\lib.dll"));
  EXPECT_TRUE(PathFileExistsW(dir + L"\\app.exe"));
  EXPECT_TRUE(PathFileExistsW(dir + L"\\Docs\\readme.txt"));
  // A repair puts back what the installed features lack, not the feature that was removed.
  ASSERT_EQ(DeleteFileW(dir + L"\\app.exe"), ERROR_SUCCESS);
  ASSERT_EQ(DeleteFileW(kTreeLink), ERROR_SUCCESS);
  // The Installer's copy of the package serves, whether or not the package is where it was.
  ASSERT_EQ(MoveFileExW(L"C:\\Temp\\tree.msi", L"C:\\Temp\\away.msi", 0), ERROR_SUCCESS);
  ASSERT_EQ(
      Run({std::wstring(L"/i") + kTreeCode, L"/qn", L"REINSTALL=ALL", L"REINSTALLMODE=vomus"}),
      Msi::kSuccess);
  EXPECT_EQ(ReadText(dir + L"\\app.exe"), "#!/bin/sh\nexit 0\n");
  EXPECT_TRUE(PathFileExistsW(kTreeLink));
  EXPECT_FALSE(PathFileExistsW(dir + L"\\lib.dll"));
  ASSERT_EQ(MoveFileExW(L"C:\\Temp\\away.msi", L"C:\\Temp\\tree.msi", 0), ERROR_SUCCESS);

  // The removal, then the next start: the machine is as it was before the installation.
  ASSERT_EQ(Run({L"/x", kTreeCode, L"/qn"}), Msi::kSuccess);
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kSystemEnvironment, L"PROBE_TREE_PATH"), L"C:\\Old");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kSystemEnvironment, L"PROBE_TREE_HOME"), L"<no value>");
  Tlmachine("restart");
  const std::string diff = Tlmachine("diff '" + snapshot + "'");
  EXPECT_NE(diff.find("# 0 added, 0 changed, 0 removed"), std::string::npos) << diff;
  EXPECT_EQ(Run({L"/x", kTreeCode, L"/qn"}), Msi::kUnknownProduct);

  // The Condition table raises the documentation to level 1; a component's own condition keeps
  // the library out although its feature is chosen.
  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\tree.msi", L"/qn", L"WITHDOCS=1", L"NOEXTRA=1"}),
            Msi::kSuccess);
  EXPECT_TRUE(PathFileExistsW(dir + L"\\Docs\\readme.txt"));
  EXPECT_FALSE(PathFileExistsW(dir + L"\\lib.dll"));
  EXPECT_TRUE(PathFileExistsW(dir + L"\\app.exe"));
  ASSERT_EQ(Run({L"/x", kTreeCode, L"/qn"}), Msi::kSuccess);
  // INSTALLLEVEL on the command line reaches the level-4 feature.
  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\tree.msi", L"/qn", L"INSTALLLEVEL=4"}), Msi::kSuccess);
  EXPECT_TRUE(PathFileExistsW(dir + L"\\Docs\\readme.txt"));
  EXPECT_TRUE(PathFileExistsW(dir + L"\\lib.dll"));
  ASSERT_EQ(Run({L"/x", kTreeCode, L"/qn"}), Msi::kSuccess);
  EXPECT_FALSE(PathFileExistsW(dir));
}

namespace {

// Two products that share one component (the same id, file and value) and have one of their
// own each; the shared one counts its products in SharedDLLs.
std::string SharedSource(const std::string& letter, const std::string& digit) {
  return R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="B2B2B2B2-2222-3333-4444-55555555550)" +
         digit + R"(" Name="Probe )" + letter +
         R"(" Language="1033" Version="1.0.0" Manufacturer="Probe Makers"
           UpgradeCode="B2B2B2B2-7777-8888-9999-00000000000)" +
         digit + R"(">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="s.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="CommonFilesFolder">
        <Directory Id="SHAREDDIR" Name="Probe Shared">
          <Component Id="Shared" Guid="B2B2B2B2-3434-5656-7878-909090909000">
            <File Id="SharedDll" Name="shared.dll" Source="shared.dll" KeyPath="yes"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Probe Shared" Name="Version" Type="string" Value="1"/>
          </Component>
        </Directory>
      </Directory>
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Probe )" +
         letter + R"(">
          <Component Id="Own" Guid="B2B2B2B2-3434-5656-7878-90909090900)" +
         digit + R"(">
            <File Id="OwnTxt" Name="own.txt" Source="own.txt" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Shared"/><ComponentRef Id="Own"/></Feature>
  </Product>
</Wix>
)";
}

constexpr const wchar_t* kSharedDll =
    L"C:\\Program Files (x86)\\Common Files\\Probe Shared\\shared.dll";
constexpr const wchar_t* kSharedDlls = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr const wchar_t* kSharedComponentKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components\\"
    L"2B2B2B2B434365658787090909090900";

DWORD SharedCount() {
  RegKey k;
  DWORD count = 0;
  if (k.Open(HKEY_LOCAL_MACHINE, kSharedDlls, KEY_READ | KEY_WOW64_32KEY) != ERROR_SUCCESS ||
      k.QueryDword(kSharedDll, count) != ERROR_SUCCESS)
    return 0;
  return count;
}

}  // namespace

TEST_F(MsiPackages, AComponentTwoProductsShareStaysUntilTheLastOneGoes) {
  const std::map<std::string, std::string> files = {{"shared.dll", "shared"}, {"own.txt", "own"}};
  const std::vector<std::string> sharedDll = {
      "UPDATE `Component` SET `Attributes` = 8 WHERE `Component` = 'Shared'"};
  BuildPackage(SharedSource("A", "1"), files, {}, sharedDll, L"C:\\Temp\\a.msi");
  BuildPackage(SharedSource("B", "2"), files, {}, sharedDll, L"C:\\Temp\\b.msi");
  // A public property on the command line puts A's own folder elsewhere.
  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\a.msi", L"/qn", L"INSTALLDIR=C:\\Custom A"}), Msi::kSuccess);
  EXPECT_EQ(ReadText(L"C:\\Custom A\\own.txt"), "own");
  EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files (x86)\\Probe A"));
  // A repair works in the folder the installation was told.
  ASSERT_EQ(DeleteFileW(L"C:\\Custom A\\own.txt"), ERROR_SUCCESS);
  ASSERT_EQ(Run({L"/i", L"{B2B2B2B2-2222-3333-4444-555555555501}", L"/qn", L"REINSTALL=ALL"}),
            Msi::kSuccess);
  EXPECT_EQ(ReadText(L"C:\\Custom A\\own.txt"), "own");
  EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files (x86)\\Probe A"));
  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\b.msi", L"/qn", L"ADDLOCAL=ALL"}), Msi::kSuccess);
  EXPECT_EQ(ReadText(L"C:\\Program Files (x86)\\Probe B\\own.txt"), "own");
  EXPECT_EQ(SharedCount(), 2u);
  RegKey component;
  ASSERT_EQ(component.Open(HKEY_LOCAL_MACHINE, kSharedComponentKey), ERROR_SUCCESS);
  EXPECT_EQ(component.ValueList().size(), 2u);
  component.Close();
  // The 32-bit component's value is in the 32-bit view.
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Shared", L"Version", KEY_WOW64_32KEY),
            L"1");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Shared", KEY_WOW64_64KEY));

  ASSERT_EQ(Run({L"/x", L"{B2B2B2B2-2222-3333-4444-555555555501}", L"/qn"}), Msi::kSuccess);
  EXPECT_FALSE(PathFileExistsW(L"C:\\Custom A"));
  EXPECT_EQ(ReadText(kSharedDll), "shared");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Shared", L"Version", KEY_WOW64_32KEY),
            L"1");
  EXPECT_EQ(SharedCount(), 1u);
  ASSERT_EQ(component.Open(HKEY_LOCAL_MACHINE, kSharedComponentKey), ERROR_SUCCESS);
  EXPECT_EQ(component.ValueList().size(), 1u);
  component.Close();

  ASSERT_EQ(Run({L"/x", L"C:\\Temp\\b.msi", L"/qn"}), Msi::kSuccess);
  EXPECT_FALSE(PathFileExistsW(kSharedDll));
  EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files (x86)\\Common Files\\Probe Shared"));
  EXPECT_TRUE(PathFileExistsW(L"C:\\Program Files (x86)\\Common Files"));
  EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files (x86)\\Probe B"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Shared", KEY_WOW64_32KEY));
  EXPECT_EQ(SharedCount(), 0u);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSharedComponentKey));
}

namespace {

// Custom actions: a property set under a condition, installed programs run (one that fails
// when asked to, one that interrupts msiexec), and rows msibuild adds (wixl has no form for
// them): a DLL action, an error action and a directory set after the costing, each behind a
// property.
const char kToolsSource[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="C3C3C3C3-2222-3333-4444-555555555501" Name="Probe Tools" Language="1033" Version="3.0.0"
           Manufacturer="Probe Makers" UpgradeCode="C3C3C3C3-7777-8888-9999-000000000001">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="t.cab" EmbedCab="yes"/>
    <Property Id="COLOUR" Value="blue"/>
    <CustomAction Id="SetMode" Property="MODE" Value="loud [COLOUR]"/>
    <CustomAction Id="RunOk" FileKey="OkExe" ExeCommand="--now" Return="check" Execute="deferred" Impersonate="no"/>
    <CustomAction Id="RunBad" FileKey="BadExe" ExeCommand="" Return="check" Execute="deferred" Impersonate="no"/>
    <CustomAction Id="Interrupt" FileKey="StopExe" ExeCommand="" Return="check" Execute="deferred" Impersonate="no"/>
    <InstallExecuteSequence>
      <Custom Action="SetMode" Before="CostInitialize">NOT Installed AND COLOUR ~= "RED"</Custom>
      <Custom Action="RunOk" After="InstallFiles">NOT Installed</Custom>
      <Custom Action="RunBad" After="InstallFiles">FAILTOOL</Custom>
      <Custom Action="Interrupt" After="InstallFiles">STOPME</Custom>
    </InstallExecuteSequence>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Probe Tools">
          <Component Id="Tools" Guid="C3C3C3C3-3434-5656-7878-909090909001">
            <File Id="OkExe" Name="ok.exe" Source="ok.exe" KeyPath="yes"/>
            <File Id="BadExe" Name="bad.exe" Source="bad.exe"/>
            <File Id="StopExe" Name="stop.exe" Source="stop.exe"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Probe Tools" Name="Mode" Type="string" Value="[MODE]"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Tools"/></Feature>
  </Product>
</Wix>
)";

const std::vector<std::string> kToolsQueries = {
    "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES "
    "('DllCall', 1, 'NoBinary', 'Go')",
    "INSERT INTO `CustomAction` (`Action`, `Type`, `Target`) VALUES "
    "('Refuse', 19, 'Probe Tools refuses [COLOUR]')",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES "
    "('DllCall', 'USEDLL', 5500)",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES "
    "('Refuse', 'REFUSE', 5600)",
    "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES "
    "('SetElsewhere', 35, 'INSTALLDIR', '[ProgramFilesFolder]Probe Tools Elsewhere')",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Condition`, `Sequence`) VALUES "
    "('SetElsewhere', 'ELSEWHERE', 1001)",
};

constexpr const wchar_t* kToolsDir = L"C:\\Program Files (x86)\\Probe Tools";
constexpr const wchar_t* kToolsUninstall =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    L"{C3C3C3C3-2222-3333-4444-555555555501}";

}  // namespace

TEST_F(MsiPackages, CustomActionsFailuresAndTheirExitCodes) {
  BuildPackage(kToolsSource,
               {{"ok.exe", "#!/bin/sh\nexit 0\n"},
                {"bad.exe", "#!/bin/sh\nexit 7\n"},
                {"stop.exe", "#!/bin/sh\nkill -INT $PPID\n"}},
               {}, kToolsQueries, L"C:\\Temp\\tools.msi");
  const std::wstring package = L"C:\\Temp\\tools.msi";
  // A program that fails, an action this msiexec cannot carry out, an error action: each fails
  // the run, and what the run had written is taken back.
  struct Failing {
    const wchar_t* property;
    const char* logged;
  };
  for (const Failing& f :
       {Failing{L"FAILTOOL=1", "The action RunBad ended with 7"},
        Failing{L"USEDLL=1", "The custom action DllCall of type 1 is not supported"},
        Failing{L"REFUSE=1", "Error: Probe Tools refuses blue"}}) {
    EXPECT_EQ(Run({L"/i", package, L"/qn", f.property, L"/l*v", L"C:\\Temp\\fail.log"}),
              Msi::kInstallFailure)
        << f.logged;
    const std::string log = ReadText(L"C:\\Temp\\fail.log");
    EXPECT_NE(log.find(f.logged), std::string::npos) << log;
    EXPECT_NE(log.find("MainEngineThread is returning 1603"), std::string::npos);
    EXPECT_FALSE(PathFileExistsW(kToolsDir)) << f.logged;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Tools")) << f.logged;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kToolsUninstall)) << f.logged;
  }
  // Another installation in progress on the machine.
  {
    const std::string lock = root_ + "/state/msiexec.lock";
    int fd = ::open(lock.c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Run({L"/i", package, L"/qn"}), Msi::kInstallAlreadyRunning);
    ::close(fd);
    EXPECT_FALSE(PathFileExistsW(kToolsDir));
  }
  // msiexec interrupted on the way (its program signals it): cancelled, nothing left.
  {
    DWORD code = 0;
    ASSERT_EQ(RunProcess(L"msiexec.exe /i C:\\Temp\\tools.msi /qn STOPME=1", code), ERROR_SUCCESS);
    EXPECT_EQ(code, static_cast<DWORD>(Msi::kUserExit & 0xff));  // a host status keeps 8 bits
    EXPECT_FALSE(PathFileExistsW(kToolsDir));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kToolsUninstall));
  }
  // A directory set by a custom action after the costing moves the files with it.
  ASSERT_EQ(Run({L"/i", package, L"/qn", L"ELSEWHERE=1"}), Msi::kSuccess);
  EXPECT_TRUE(PathFileExistsW(L"C:\\Program Files (x86)\\Probe Tools Elsewhere\\ok.exe"));
  EXPECT_FALSE(PathFileExistsW(kToolsDir));
  ASSERT_EQ(Run({L"/x", package, L"/qn"}), Msi::kSuccess);
  EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files (x86)\\Probe Tools Elsewhere"));
  // The sequence's condition sees the command line (~= ignores case); the installed program
  // runs and succeeds.
  ASSERT_EQ(Run({L"/i", package, L"/qn", L"COLOUR=Red", L"/l", L"C:\\Temp\\ok.log"}),
            Msi::kSuccess);
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Tools", L"Mode"), L"loud Red");
  const std::string brief = ReadText(L"C:\\Temp\\ok.log");
  EXPECT_NE(brief.find("=== Logging started: "), std::string::npos) << brief;
  EXPECT_NE(brief.find("Action ended "), std::string::npos);
  EXPECT_NE(brief.find("Installation completed successfully."), std::string::npos);
  EXPECT_EQ(brief.find("Doing action:"), std::string::npos);  // verbose lines need "v"
  // A repair while a file of the product is in use: replaced at the next start, 3010.
  {
    FileHandle held;
    ASSERT_EQ(held.Open(std::wstring(kToolsDir) + L"\\bad.exe", GENERIC_READ, 0, OPEN_EXISTING),
              ERROR_SUCCESS);
    EXPECT_EQ(Run({L"/i", L"{C3C3C3C3-2222-3333-4444-555555555501}", L"/qn", L"REINSTALL=ALL"}),
              Msi::kRebootRequired);
  }
  bool pending = false;
  for (const auto& op : PendingFileOperations())
    pending = pending || EqualsNoCase(op.destination, std::wstring(kToolsDir) + L"\\bad.exe");
  EXPECT_TRUE(pending);
  ASSERT_EQ(Run({L"/x", package, L"/qn"}), Msi::kSuccess);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Tools"));
}

namespace {

class MsiPackagesOn32BitWindows : public MsiPackages {
 protected:
  platform::MachineConfig Config() override {
    platform::MachineConfig c = platform::MachineConfig::Defaults();
    c.os.is64Bit = false;
    return c;
  }
};

}  // namespace

TEST_F(MsiPackagesOn32BitWindows, A64BitPackageIsRefusedAndChangesNothing) {
  BuildPackage(kTreeSource, kTreeFiles, {}, {}, L"C:\\Temp\\tree.msi", "x64");
  EXPECT_EQ(Run({L"/i", L"C:\\Temp\\tree.msi", L"/qn"}), Msi::kPlatformUnsupported);
  EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files\\Probe Tree"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Tree"));
}

namespace {

// A per-user product (no ALLUSERS) with the tables of file and registry housekeeping: registry
// searches (a folder, a text, a number), a duplicated file, files moved in from the folder found,
// files removed at the installation, values and keys removed at the installation, keys made alone
// ("+") and taken whole ("*"), an empty folder, a desktop shortcut to a file, a value under the
// root of the kind of installation.
const char kOddsSource[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="D4D4D4D4-2222-3333-4444-555555555501" Name="Probe Odds" Language="1033" Version="4.0.0"
           Manufacturer="Probe Makers" UpgradeCode="D4D4D4D4-7777-8888-9999-000000000001">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="o.cab" EmbedCab="yes"/>
    <Property Id="OLDDIR"><RegistrySearch Id="OldDir" Root="HKLM" Key="SOFTWARE\Probe Old" Name="Dir" Type="directory"/></Property>
    <Property Id="OLDCOLOUR"><RegistrySearch Id="OldColour" Root="HKLM" Key="SOFTWARE\Probe Old" Name="Colour" Type="raw"/></Property>
    <Property Id="OLDCOUNT"><RegistrySearch Id="OldCount" Root="HKLM" Key="SOFTWARE\Probe Old" Name="Count" Type="raw"/></Property>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Probe Odds">
          <Component Id="Main" Guid="D4D4D4D4-3434-5656-7878-909090909001">
            <File Id="AppTxt" Name="app.txt" Source="app.txt" KeyPath="yes"/>
            <Shortcut Id="DeskLnk" Directory="DesktopFolder" Name="Odds" Target="[#AppTxt]" Arguments="--odd"/>
            <RegistryValue Root="HKMU" Key="Software\Probe Odds" Name="Scope" Type="string" Value="any"/>
          </Component>
          <Directory Id="BACKUPDIR" Name="Backup"/>
        </Directory>
      </Directory>
      <Directory Id="CommonAppDataFolder">
        <Directory Id="ODDSDATA" Name="Probe Odds">
          <Directory Id="DATADIR" Name="Data">
            <Component Id="Data" Guid="D4D4D4D4-3434-5656-7878-909090909002">
              <CreateFolder/>
              <RegistryValue Root="HKLM" Key="SOFTWARE\Probe Odds" Name="Data" Type="string" Value="[DATADIR]" KeyPath="yes"/>
              <RegistryValue Root="HKLM" Key="SOFTWARE\Probe Odds" Name="Found" Type="string" Value="[OLDCOLOUR] [OLDCOUNT]"/>
            </Component>
          </Directory>
        </Directory>
      </Directory>
      <Directory Id="DesktopFolder"/>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Main"/><ComponentRef Id="Data"/></Feature>
  </Product>
</Wix>
)";

const std::vector<TableText> kOddsTables = {
    {"DuplicateFile",
     "FileKey\tComponent_\tFile_\tDestName\tDestFolder\r\ns72\ts72\ts72\tL255\tS72\r\n"
     "DuplicateFile\tFileKey\r\nDup1\tMain\tAppTxt\tcopy.txt\tBACKUPDIR\r\n"},
    {"MoveFile",
     "FileKey\tComponent_\tSourceName\tDestName\tSourceFolder\tDestFolder\tOptions\r\n"
     "s72\ts72\tL255\tL255\tS72\ts72\ti2\r\nMoveFile\tFileKey\r\n"
     "Move1\tMain\t*.cfg\t\tOLDDIR\tINSTALLDIR\t1\r\n"},
    {"RemoveFile",
     "FileKey\tComponent_\tFileName\tDirProperty\tInstallMode\r\ns72\ts72\tL255\ts72\ti2\r\n"
     "RemoveFile\tFileKey\r\nRm1\tMain\t*.tmp\tINSTALLDIR\t1\r\n"
     "Rm2\tMain\t..\\*.*\tINSTALLDIR\t1\r\n"
     "Rm3\tMain\t*.*\tDesktopFolder\t1\r\n"},
    {"RemoveRegistry",
     "RemoveRegistry\tRoot\tKey\tName\tComponent_\r\ns72\ti2\tl255\tL255\ts72\r\n"
     "RemoveRegistry\tRemoveRegistry\r\n"
     "RmReg1\t2\tSOFTWARE\\Probe Old\tGone\tMain\r\n"
     "RmReg2\t2\tSOFTWARE\\Probe Older\t-\tMain\r\n"
     "RmReg3\t2\tSOFTWARE\t-\tMain\r\n"},
};

const std::vector<std::string> kOddsQueries = {
    // wixl writes HKMU as root 4; the table's root of the installation's kind is -1.
    "UPDATE `Registry` SET `Root` = -1 WHERE `Name` = 'Scope'",
    "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES "
    "('RegTree', 2, 'SOFTWARE\\Probe Odds\\Cache', '*', 'Main')",
    "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES "
    "('RegPlus', 2, 'SOFTWARE\\Probe Odds\\Empty', '+', 'Main')",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('MoveFiles', 3800)",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('DuplicateFiles', 4210)",
    "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES "
    "('RemoveDuplicateFiles', 3400)",
};

void Write(HKEY root, const std::wstring& key, const std::wstring& name, const std::wstring& v,
           REGSAM view = 0) {
  RegKey k;
  ASSERT_EQ(k.Create(root, key, KEY_READ | KEY_WRITE | view), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(name, v), ERROR_SUCCESS);
}

}  // namespace

TEST_F(MsiPackages, HousekeepingTablesOfAPerUserProduct) {
  BuildPackage(kOddsSource, {{"app.txt", "app"}}, kOddsTables, kOddsQueries, L"C:\\Temp\\odds.msi");
  const std::wstring dir = L"C:\\Program Files (x86)\\Probe Odds";
  // Things the machine has before: files to move in, files to remove in a folder that exists,
  // values and keys the package removes.
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Old"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Old\\one.cfg", "1"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Old\\two.cfg", "2"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Old\\keep.txt", "k"), ERROR_SUCCESS);
  ASSERT_EQ(CreateDirectoryWithParents(dir), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(dir + L"\\stale.tmp", "t"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(dir + L"\\mine.txt", "m"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Program Files (x86)\\outside.txt", "o"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Users\\User\\Desktop\\precious.txt", "p"), ERROR_SUCCESS);
  Write(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Old", L"Gone", L"x", KEY_WOW64_32KEY);
  Write(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Old", L"Stays", L"y", KEY_WOW64_32KEY);
  Write(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Old", L"Dir", L"C:\\Old", KEY_WOW64_32KEY);
  Write(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Old", L"Colour", L"green", KEY_WOW64_32KEY);
  {
    RegKey old;
    ASSERT_EQ(old.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Old",
                       KEY_READ | KEY_WRITE | KEY_WOW64_32KEY),
              ERROR_SUCCESS);
    ASSERT_EQ(old.SetDword(L"Count", 12), ERROR_SUCCESS);
  }
  Write(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Older\\Deep", L"Any", L"z", KEY_WOW64_32KEY);

  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\odds.msi", L"/qn"}), Msi::kSuccess);
  // The searches: a number raw is "#12".
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Odds", L"Found", KEY_WOW64_32KEY),
            L"green #12");
  EXPECT_EQ(ReadText(dir + L"\\Backup\\copy.txt"), "app");
  EXPECT_EQ(ReadText(dir + L"\\one.cfg"), "1");
  EXPECT_EQ(ReadText(dir + L"\\two.cfg"), "2");
  EXPECT_FALSE(PathFileExistsW(L"C:\\Old\\one.cfg"));  // moved, not copied
  EXPECT_EQ(ReadText(L"C:\\Old\\keep.txt"), "k");
  EXPECT_FALSE(PathFileExistsW(dir + L"\\stale.tmp"));
  EXPECT_EQ(ReadText(dir + L"\\mine.txt"), "m");
  // A name that leaves its folder is not used.
  EXPECT_EQ(ReadText(L"C:\\Program Files (x86)\\outside.txt"), "o");
  // Nor is a sweep of the system's folders (the user's desktop).
  EXPECT_EQ(ReadText(L"C:\\Users\\User\\Desktop\\precious.txt"), "p");
  EXPECT_TRUE(PathIsDirectoryW(L"C:\\ProgramData\\Probe Odds\\Data"));
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Old", L"Gone", KEY_WOW64_32KEY),
            L"<no value>");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Old", L"Stays", KEY_WOW64_32KEY), L"y");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Older", KEY_WOW64_32KEY));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft", KEY_WOW64_32KEY));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Odds\\Cache", KEY_WOW64_32KEY));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Odds\\Empty", KEY_WOW64_32KEY));
  // Per user: the user's desktop and HKEY_CURRENT_USER for the root of the installation's kind.
  EXPECT_EQ(Value(HKEY_CURRENT_USER, L"Software\\Probe Odds", L"Scope"), L"any");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Odds\\Scope", KEY_WOW64_32KEY));
  ShellLink link;
  ASSERT_EQ(ReadShellLink(L"C:\\Users\\User\\Desktop\\Odds.lnk", link), ERROR_SUCCESS);
  EXPECT_EQ(link.target, dir + L"\\app.txt");
  EXPECT_EQ(link.arguments, L"--odd");
  EXPECT_FALSE(PathFileExistsW(L"C:\\Users\\Public\\Desktop\\Odds.lnk"));

  // What the product's program left in its keys: "*" takes the key whole, "+" only when empty.
  Write(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Odds\\Cache\\Run", L"Last", L"1", KEY_WOW64_32KEY);
  Write(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Odds\\Empty", L"User", L"2", KEY_WOW64_32KEY);
  ASSERT_EQ(Run({L"/x", L"C:\\Temp\\odds.msi", L"/qn"}), Msi::kSuccess);
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Odds\\Cache", KEY_WOW64_32KEY));
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Probe Odds\\Empty", L"User", KEY_WOW64_32KEY),
            L"2");
  EXPECT_FALSE(PathFileExistsW(dir + L"\\Backup"));
  EXPECT_FALSE(PathFileExistsW(dir + L"\\one.cfg"));
  EXPECT_FALSE(PathFileExistsW(dir + L"\\app.txt"));
  // The folder was there before: it stays with what else it holds.
  EXPECT_EQ(ReadText(dir + L"\\mine.txt"), "m");
  EXPECT_FALSE(PathFileExistsW(L"C:\\ProgramData\\Probe Odds"));
  EXPECT_FALSE(PathFileExistsW(L"C:\\Users\\User\\Desktop\\Odds.lnk"));
  EXPECT_TRUE(PathIsDirectoryW(L"C:\\Users\\User\\Desktop"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Probe Odds"));
}

namespace {

// Two versions of one product (one upgrade code) that replace the older on install and refuse
// to go back.
std::string UpSource(const std::string& code, const std::string& version) {
  return R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id=")" +
         code + R"(" Name="Probe Up" Language="1033" Version=")" + version + R"("
           Manufacturer="Probe Makers" UpgradeCode="E5E5E5E5-7777-8888-9999-000000000001">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <MajorUpgrade DowngradeErrorMessage="A newer Probe Up is installed."/>
    <Media Id="1" Cabinet="u.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Probe Up">
          <Component Id="Main" Guid="E5E5E5E5-3434-5656-7878-909090909001">
            <File Id="VersionTxt" Name="version.txt" Source="version.txt" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
)";
}

constexpr const wchar_t* kUpOld = L"{E5E5E5E5-2222-3333-4444-555555555501}";
constexpr const wchar_t* kUpNew = L"{E5E5E5E5-2222-3333-4444-555555555502}";

}  // namespace

TEST_F(MsiPackages, ANewerVersionReplacesTheOlderAndAnOlderOneIsRefused) {
  BuildPackage(UpSource("E5E5E5E5-2222-3333-4444-555555555501", "1.0.0"), {{"version.txt", "one"}},
               {}, {}, L"C:\\Temp\\up1.msi");
  BuildPackage(UpSource("E5E5E5E5-2222-3333-4444-555555555502", "2.0.0"), {{"version.txt", "two"}},
               {}, {}, L"C:\\Temp\\up2.msi");
  const std::wstring uninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  const std::wstring file = L"C:\\Program Files (x86)\\Probe Up\\version.txt";
  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\up1.msi", L"/qn"}), Msi::kSuccess);
  EXPECT_EQ(ReadText(file), "one");
  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\up2.msi", L"/qn", L"/l*v", L"C:\\Temp\\up.log"}),
            Msi::kSuccess);
  EXPECT_EQ(ReadText(file), "two");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, uninstall + kUpOld));
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, uninstall + kUpNew, L"DisplayVersion"), L"2.0.0");
  EXPECT_NE(ReadText(L"C:\\Temp\\up.log")
                .find(Narrow(L"Removing the related product " + std::wstring(kUpOld))),
            std::string::npos);
  // Going back is refused by the newer one's launch condition; nothing changes.
  EXPECT_EQ(Run({L"/i", L"C:\\Temp\\up1.msi", L"/qn", L"/l", L"C:\\Temp\\down.log"}),
            Msi::kInstallFailure);
  EXPECT_NE(ReadText(L"C:\\Temp\\down.log").find("A newer Probe Up is installed."),
            std::string::npos);
  EXPECT_EQ(ReadText(file), "two");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, uninstall + kUpOld));
  ASSERT_EQ(Run({L"/x", kUpNew, L"/qn"}), Msi::kSuccess);
  EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files (x86)\\Probe Up"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Installer\\UpgradeCodes"));
  EXPECT_EQ(Msi::UnpackedGuid(Msi::PackedGuid(kUpNew)), kUpNew);
  EXPECT_EQ(Msi::UnpackedGuid(L"not a packed code"), L"");
}

TEST_F(MsiPackages, NamesThatWouldLeaveTheirFolderFailTheRunBeforeAnyChange) {
  const std::map<std::string, std::string> files = {{"shared.dll", "shared"}, {"own.txt", "own"}};
  struct Hostile {
    const char* query;
    const char* logged;
  };
  for (const Hostile& h :
       {Hostile{"UPDATE `Directory` SET `DefaultDir` = '..' WHERE `Directory` = 'INSTALLDIR'",
                "The directory INSTALLDIR has the name '..', which is no folder name"},
        Hostile{"UPDATE `File` SET `FileName` = 'x|..\\..\\evil.txt' WHERE `File` = 'OwnTxt'",
                "The file OwnTxt has the name '..\\..\\evil.txt', which is no file name"}}) {
    BuildPackage(SharedSource("A", "1"), files, {}, {h.query}, L"C:\\Temp\\hostile.msi");
    EXPECT_EQ(Run({L"/i", L"C:\\Temp\\hostile.msi", L"/qn", L"/l", L"C:\\Temp\\hostile.log"}),
              Msi::kInstallFailure)
        << h.query;
    EXPECT_NE(ReadText(L"C:\\Temp\\hostile.log").find(h.logged), std::string::npos)
        << ReadText(L"C:\\Temp\\hostile.log");
    EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files (x86)\\own.txt"));
    EXPECT_FALSE(PathFileExistsW(L"C:\\evil.txt"));
    EXPECT_FALSE(PathFileExistsW(kSharedDll));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE,
                           L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                           L"{B2B2B2B2-2222-3333-4444-555555555501}"));
  }
}
