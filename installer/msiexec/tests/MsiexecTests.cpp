// msiexec of the emulated machine over real packages built with wixl: the command line, the
// formatting of the Registry table, an installation, a repair and a removal, and the program
// that a fresh machine's System32 holds.
#include "msiexec/MsiDatabase.h"
#include "msiexec/Msiexec.h"

#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace platform;

namespace {

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string SampleClientPackage() {
  const char* build = std::getenv("TOLMERA_BUILD_DIR");
  return std::string(build ? build : ".") +
         "/examples/sample-product/client/TolmeraDesignClient.msi";
}

constexpr const wchar_t* kClientCode = L"{8A1C7E52-3F0B-4C55-9E61-7D2B4A9C1E07}";
constexpr const wchar_t* kPackedClientCode = L"25E7C1A8B0F355C4E916D7B2A4C9E170";

std::wstring Value(const std::wstring& key, const std::wstring& name) {
  RegKey k;
  std::wstring value;
  if (k.Open(HKEY_LOCAL_MACHINE, key) != ERROR_SUCCESS) return L"<no key>";
  if (k.QueryString(name, value) != ERROR_SUCCESS) return L"<no value>";
  return value;
}

bool KeyExists(const std::wstring& key) {
  RegKey k;
  return k.Open(HKEY_LOCAL_MACHINE, key) == ERROR_SUCCESS;
}

class Msiexec : public tltest::MachineTest {
 protected:
  // The sample client package in the machine.
  void SamplePackage(const std::wstring& path) {
    std::string bytes = ReadHost(SampleClientPackage());
    ASSERT_FALSE(bytes.empty()) << SampleClientPackage();
    std::wstring folder = path;
    PathRemoveFileSpecW(folder);
    CreateDirectoryWithParents(folder);
    ASSERT_EQ(WriteWholeFile(path, bytes), ERROR_SUCCESS);
  }
  // A package built by wixl from `wxs` into the machine at `path`.
  void BuildPackage(const std::string& wxs, const std::wstring& path) {
    const std::string source = temp_ + "/p.wxs", out = temp_ + "/p.msi";
    std::ofstream(source) << wxs;
    std::string output;
    ASSERT_TRUE(Msi::RunHost({"wixl", "-o", out, source}, output)) << "wixl failed";
    std::wstring folder = path;
    PathRemoveFileSpecW(folder);
    CreateDirectoryWithParents(folder);
    ASSERT_EQ(WriteWholeFile(path, ReadHost(out)), ERROR_SUCCESS);
  }
  int Run(const std::vector<std::wstring>& args) {
    Msi::Options options;
    std::wstring error;
    int parsed = Msi::ParseCommandLine(args, options, error);
    if (parsed != Msi::kSuccess) return parsed;
    return Msi::Run(options);
  }
};

const char kPropertyPackage[] = R"(<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="11111111-2222-3333-4444-555555555555" Name="Probe" Language="1033" Version="2.3.4"
           Manufacturer="Probe Makers" UpgradeCode="66666666-7777-8888-9999-000000000000">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Property Id="COLOUR" Value="red"/>
    <CustomAction Id="SetShade" Property="SHADE" Value="dark [COLOUR]"/>
    <InstallExecuteSequence><Custom Action="SetShade" Before="CostInitialize"/></InstallExecuteSequence>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="CommonAppDataFolder">
        <Directory Id="DATADIR" Name="Probe">
          <Component Id="Values" Guid="12121212-3434-5656-7878-909090909090">
            <CreateFolder/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Probe\[COLOUR]" Name="Shade" Type="string" Value="[SHADE]"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Probe\[COLOUR]" Name="Count" Type="integer" Value="42"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Probe\[COLOUR]" Name="Folder" Type="string" Value="[DATADIR]"/>
            <RegistryValue Root="HKLM" Key="SOFTWARE\Probe\[COLOUR]" Name="Literal" Type="string" Value="a[\[]b[\]]c [UNSET]d"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Values"/></Feature>
  </Product>
</Wix>
)";

}  // namespace

TEST(MsiexecCommandLine, TheFormsMsiexecTakes) {
  Msi::Options o;
  std::wstring error;
  ASSERT_EQ(Msi::ParseCommandLine({L"/i", L"C:\\a b\\c.msi", L"/qn", L"TL_SERVER_NAME=SRV",
                                   L"tl_share_folder=Share One", L"/l*v", L"C:\\log.txt"},
                                  o, error),
            Msi::kSuccess);
  EXPECT_EQ(o.action, Msi::Options::Action::Install);
  EXPECT_EQ(o.target, L"C:\\a b\\c.msi");
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(o.logFile, L"C:\\log.txt");
  EXPECT_EQ(o.properties[L"TL_SERVER_NAME"], L"SRV");
  EXPECT_EQ(o.properties[L"TL_SHARE_FOLDER"], L"Share One");  // names are upper case
  ASSERT_EQ(Msi::ParseCommandLine({L"/i{8A1C7E52-3F0B-4C55-9E61-7D2B4A9C1E07}", L"/qn",
                                   L"REINSTALLMODE=vems", L"REINSTALL=ALL"},
                                  o, error),
            Msi::kSuccess);
  EXPECT_EQ(o.target, kClientCode);
  EXPECT_EQ(o.properties[L"REINSTALL"], L"ALL");
  ASSERT_EQ(Msi::ParseCommandLine({L"/X", L"{8A1C7E52-3F0B-4C55-9E61-7D2B4A9C1E07}"}, o, error),
            Msi::kSuccess);
  EXPECT_EQ(o.action, Msi::Options::Action::Remove);
  EXPECT_EQ(Msi::ParseCommandLine({L"/qn"}, o, error), Msi::kInvalidCommandLine);
  EXPECT_EQ(Msi::ParseCommandLine({L"/i"}, o, error), Msi::kInvalidCommandLine);
  EXPECT_EQ(Msi::ParseCommandLine({L"/i", L"a.msi", L"/x", L"b.msi"}, o, error),
            Msi::kInvalidCommandLine);
  EXPECT_EQ(Msi::ParseCommandLine({L"/i", L"a.msi", L"stray"}, o, error), Msi::kInvalidCommandLine);
  EXPECT_EQ(Msi::ParseCommandLine({L"/i", L"a.msi", L"/z"}, o, error), Msi::kInvalidCommandLine);
}

TEST(MsiexecCommandLine, LongFormsAndRepairs) {
  Msi::Options o;
  std::wstring error;
  ASSERT_EQ(Msi::ParseCommandLine(
                {L"/fvomus", L"{8A1C7E52-3F0B-4C55-9E61-7D2B4A9C1E07}", L"/quiet", L"/norestart"},
                o, error),
            Msi::kSuccess);
  EXPECT_EQ(o.action, Msi::Options::Action::Install);
  EXPECT_EQ(o.target, kClientCode);
  EXPECT_EQ(o.properties[L"REINSTALL"], L"ALL");
  EXPECT_EQ(o.properties[L"REINSTALLMODE"], L"vomus");
  EXPECT_TRUE(o.quiet);
  ASSERT_EQ(Msi::ParseCommandLine({L"/f", L"C:\\p.msi"}, o, error), Msi::kSuccess);
  EXPECT_EQ(o.properties[L"REINSTALLMODE"], L"pecms");
  ASSERT_EQ(Msi::ParseCommandLine({L"/package", L"C:\\p.msi", L"/passive", L"/l+", L"C:\\l.txt"}, o,
                                  error),
            Msi::kSuccess);
  EXPECT_EQ(o.action, Msi::Options::Action::Install);
  EXPECT_EQ(o.target, L"C:\\p.msi");
  EXPECT_EQ(o.logFlags, L"+");
  ASSERT_EQ(Msi::ParseCommandLine({L"/uninstall", L"C:\\p.msi"}, o, error), Msi::kSuccess);
  EXPECT_EQ(o.action, Msi::Options::Action::Remove);
  EXPECT_EQ(Msi::ParseCommandLine({L"/fz", L"C:\\p.msi"}, o, error), Msi::kInvalidCommandLine);
  EXPECT_EQ(Msi::ParseCommandLine({L"/x", L"a.msi", L"/nothing"}, o, error),
            Msi::kInvalidCommandLine);
  EXPECT_EQ(Msi::ParseCommandLine({L"/f"}, o, error), Msi::kInvalidCommandLine);
}

TEST(MsiexecFormat, PropertiesEscapesAndReferences) {
  std::map<std::wstring, std::wstring> p = {
      {L"A", L"one"}, {L"B", L"[A]-two"}, {L"SELF", L"x[SELF]"}};
  EXPECT_EQ(Msi::FormatText(L"\\\\[A]\\[B]", p), L"\\\\one\\[A]-two");
  EXPECT_EQ(Msi::FormatText(L"[MISSING]z", p), L"z");
  EXPECT_EQ(Msi::FormatText(L"[\\[]A[\\]]", p), L"[A]");
  EXPECT_EQ(Msi::FormatText(L"open [A", p), L"open [A");
  EXPECT_EQ(Msi::FormatText(L"a[~]b", p), std::wstring(L"a\0b", 3));
  EXPECT_EQ(
      Msi::FormatText(L"[#f1] in [$c1]", p, {{L"f1", L"C:\\x\\f.exe"}}, {{L"c1", L"C:\\x\\"}}),
      L"C:\\x\\f.exe in C:\\x\\");
  // A value is not formatted again, so a property that names itself cannot grow.
  EXPECT_EQ(Msi::FormatText(L"[SELF]", p), L"x[SELF]");
  EXPECT_EQ(Msi::PackedGuid(kClientCode), kPackedClientCode);
  EXPECT_EQ(Msi::PackedGuid(L"8A1C7E52-3F0B-4C55-9E61-7D2B4A9C1E07"), L"");
}

TEST(MsiexecExport, TheExportFormatIsRead) {
  Msi::Table t;
  ASSERT_TRUE(Msi::ParseExport("A\tB\r\ns72\tS72\r\nT\tA\r\nk1\tv\x11tab\r\nk2\t\r\nk3\r\n", t));
  ASSERT_EQ(t.columns, (std::vector<std::wstring>{L"A", L"B"}));
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.Cell(0, L"B"), L"v\ttab");
  EXPECT_EQ(t.Cell(1, L"B"), L"");
  EXPECT_EQ(t.Cell(2, L"B"), L"");  // a short row is filled up
  EXPECT_EQ(t.Cell(0, L"C"), L"");
  EXPECT_FALSE(Msi::ParseExport("A\tB\r\n", t));
}

TEST_F(Msiexec, TheSampleClientIsInstalledRegisteredRepairedAndRemoved) {
  SamplePackage(L"C:\\Temp\\TolmeraDesignClient.msi");
  const std::wstring uninstall =
      std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kClientCode;
  const std::wstring product =
      std::wstring(L"SOFTWARE\\Classes\\Installer\\Products\\") + kPackedClientCode;
  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\TolmeraDesignClient.msi", L"/qn", L"TL_SERVER_NAME=ALPHA",
                 L"TL_SHARE_FOLDER=TolmeraDesign", L"/l*v", L"C:\\Temp\\client.log"}),
            Msi::kSuccess);
  EXPECT_EQ(Value(L"SOFTWARE\\TOLMERA\\Design", L"ProjectPath"), L"\\\\ALPHA\\TolmeraDesign");
  EXPECT_EQ(Value(L"SOFTWARE\\TOLMERA\\Design\\Client", L"Server"), L"ALPHA");
  RegKey client;
  DWORD installed = 0;
  ASSERT_EQ(client.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\Design\\Client"), ERROR_SUCCESS);
  EXPECT_EQ(client.QueryDword(L"Installed", installed), ERROR_SUCCESS);
  EXPECT_EQ(installed, 1u);
  client.Close();
  const std::wstring exe =
      L"C:\\Program Files (x86)\\TOLMERA\\Design 7 Client\\TolmeraDesignClient.exe";
  std::string bytes;
  ASSERT_EQ(ReadWholeFile(exe, bytes), ERROR_SUCCESS);
  // The file as the package holds it: its size as the File table gives it.
  Msi::Database db;
  std::string error;
  ASSERT_TRUE(db.Open(SampleClientPackage(), error));
  const Msi::Table& files = db.Get(L"File");
  ASSERT_EQ(files.rows.size(), 1u);
  EXPECT_EQ(std::to_wstring(bytes.size()), files.Cell(0, L"FileSize"));
  EXPECT_EQ(bytes.rfind("#!", 0), 0u);
  EXPECT_EQ(Value(uninstall, L"DisplayName"), L"TOLMERA Design 7 Client");
  EXPECT_EQ(Value(uninstall, L"DisplayVersion"), L"7.1.7120");
  EXPECT_EQ(Value(uninstall, L"UninstallString"), std::wstring(L"MsiExec.exe /X") + kClientCode);
  EXPECT_EQ(Value(product, L"ProductName"), L"TOLMERA Design 7 Client");
  std::string log;
  ASSERT_EQ(ReadWholeFile(L"C:\\Temp\\client.log", log), ERROR_SUCCESS);
  EXPECT_NE(log.find("=== Verbose logging started: "), std::string::npos);
  EXPECT_NE(log.find("Property(S): TL_SERVER_NAME = ALPHA"), std::string::npos);
  EXPECT_NE(log.find("Product: TOLMERA Design 7 Client -- Installation completed successfully."),
            std::string::npos);
  EXPECT_NE(log.find("MainEngineThread is returning 0"), std::string::npos);

  // A repair by product code takes the Installer's copy: the package itself may be gone.
  ASSERT_EQ(DeleteFileW(L"C:\\Temp\\TolmeraDesignClient.msi"), ERROR_SUCCESS);
  RegKey design;
  ASSERT_EQ(design.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\Design", KEY_READ | KEY_WRITE),
            ERROR_SUCCESS);
  ASSERT_EQ(design.DeleteValue(L"ProjectPath"), ERROR_SUCCESS);
  design.Close();
  ASSERT_EQ(Run({std::wstring(L"/i") + kClientCode, L"/qn", L"REINSTALLMODE=vems", L"REINSTALL=ALL",
                 L"TL_SERVER_NAME=BETA", L"TL_SHARE_FOLDER=S"}),
            Msi::kSuccess);
  EXPECT_EQ(Value(L"SOFTWARE\\TOLMERA\\Design", L"ProjectPath"), L"\\\\BETA\\S");

  ASSERT_EQ(Run({L"/x", kClientCode, L"/qn"}), Msi::kSuccess);
  EXPECT_FALSE(KeyExists(L"SOFTWARE\\TOLMERA\\Design"));
  EXPECT_FALSE(KeyExists(uninstall));
  EXPECT_FALSE(KeyExists(product));
  EXPECT_FALSE(PathFileExistsW(exe));
  EXPECT_FALSE(PathFileExistsW(L"C:\\Program Files (x86)\\TOLMERA"));
  EXPECT_TRUE(PathFileExistsW(L"C:\\Program Files (x86)"));
  // Once removed, the product is unknown.
  EXPECT_EQ(Run({L"/x", kClientCode, L"/qn"}), Msi::kUnknownProduct);
  EXPECT_EQ(Run({std::wstring(L"/i") + kClientCode, L"REINSTALL=ALL"}), Msi::kUnknownProduct);
  EXPECT_EQ(Run({L"/i", L"C:\\Temp\\missing.msi"}), Msi::kPackageOpenFailed);
}

TEST_F(Msiexec, PropertySetsAndFormattedKeysAndValues) {
  BuildPackage(kPropertyPackage, L"C:\\Temp\\probe.msi");
  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\probe.msi", L"/qn", L"COLOUR=blue"}), Msi::kSuccess);
  const std::wstring key = L"SOFTWARE\\Probe\\blue";
  EXPECT_EQ(Value(key, L"Shade"), L"dark blue");
  EXPECT_EQ(Value(key, L"Folder"), L"C:\\ProgramData\\Probe\\");
  EXPECT_EQ(Value(key, L"Literal"), L"a[b]c d");
  RegKey k;
  DWORD count = 0;
  ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, key), ERROR_SUCCESS);
  EXPECT_EQ(k.QueryDword(L"Count", count), ERROR_SUCCESS);
  EXPECT_EQ(count, 42u);
  k.Close();
  // The removal takes back what was written, whatever the properties are now.
  ASSERT_EQ(Run({L"/x", L"C:\\Temp\\probe.msi", L"/qn"}), Msi::kSuccess);
  EXPECT_FALSE(KeyExists(L"SOFTWARE\\Probe"));
  EXPECT_TRUE(KeyExists(L"SOFTWARE"));
}

TEST_F(Msiexec, AFreshMachineStartsItThroughSystem32) {
  SamplePackage(L"C:\\Temp\\TolmeraDesignClient.msi");
  std::string launcher;
  ASSERT_EQ(ReadWholeFile(L"C:\\Windows\\System32\\msiexec.exe", launcher), ERROR_SUCCESS);
  EXPECT_EQ(launcher.rfind("#!/bin/sh\n", 0), 0u);
  DWORD code = 99;
  ASSERT_EQ(RunProcess(L"msiexec.exe /i C:\\Temp\\TolmeraDesignClient.msi /qn "
                       L"TL_SERVER_NAME=\"GAMMA\" TL_SHARE_FOLDER=\"Tolmera Design\"",
                       code),
            ERROR_SUCCESS);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(Value(L"SOFTWARE\\TOLMERA\\Design", L"ProjectPath"), L"\\\\GAMMA\\Tolmera Design");
  ASSERT_EQ(RunProcess(L"msiexec.exe /qn", code), ERROR_SUCCESS);
  // A host program's exit status keeps its low eight bits only.
  EXPECT_EQ(code, static_cast<DWORD>(Msi::kInvalidCommandLine & 0xff));
}

TEST_F(Msiexec, AProductRecordedByAnOlderMsiexecIsStillRemoved) {
  BuildPackage(kPropertyPackage, L"C:\\Temp\\probe.msi");
  ASSERT_EQ(Run({L"/i", L"C:\\Temp\\probe.msi", L"/qn"}), Msi::kSuccess);
  // The record as an older msiexec kept it: the files and "root|key|name" of the values.
  const std::wstring properties =
      L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\"
      L"11111111222233334444555555555555\\InstallProperties";
  {
    RegKey record;
    ASSERT_EQ(record.Open(HKEY_LOCAL_MACHINE, properties, KEY_READ | KEY_WRITE), ERROR_SUCCESS);
    ASSERT_EQ(record.DeleteValue(L"TolmeraItems"), ERROR_SUCCESS);
    ASSERT_EQ(record.SetMultiString(L"TolmeraFiles", {}), ERROR_SUCCESS);
    ASSERT_EQ(record.SetMultiString(
                  L"TolmeraRegistry",
                  {L"2|SOFTWARE\\Probe\\red|Shade", L"2|SOFTWARE\\Probe\\red|Count",
                   L"2|SOFTWARE\\Probe\\red|Folder", L"2|SOFTWARE\\Probe\\red|Literal"}),
              ERROR_SUCCESS);
  }
  ASSERT_TRUE(KeyExists(L"SOFTWARE\\Probe\\red"));
  ASSERT_EQ(Run({L"/x", L"{11111111-2222-3333-4444-555555555555}", L"/qn"}), Msi::kSuccess);
  EXPECT_FALSE(KeyExists(L"SOFTWARE\\Probe"));
  EXPECT_TRUE(KeyExists(L"SOFTWARE"));
  EXPECT_FALSE(KeyExists(properties));
}
