// The data source step: the keys and values exactly as the ODBC setup keeps them, a second
// installation, the removal, and names that could reach other keys.
#include "platform/Odbc.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "steps/tests/StepsFixture.h"

using namespace InstallManager;
using tltest::StepsTest;

namespace {

const std::wstring kBase = L"C:\\Program Files (x86)\\TOLMERA\\Db";
const std::wstring kList = L"SOFTWARE\\WOW6432Node\\ODBC\\ODBC.INI\\ODBC Data Sources";

class DatabaseStep : public StepsTest {
 protected:
  CommonTools::SettingsNodePtr Entry(const std::wstring& attributes) {
    return Child(Script(L"<INSTALL><DATABASE " + attributes + L"/></INSTALL>"), L"INSTALL");
  }
  void Run(const std::wstring& attributes, bool remove) {
    auto install = Entry(attributes);
    manager.CommonStepDatabase(Child(install, L"DATABASE"), remove, kBase);
  }
  static const platform::OdbcDataSource* Find(const std::vector<platform::OdbcDataSource>& all,
                                              const std::wstring& name) {
    for (const auto& s : all)
      if (s.name == name) return &s;
    return nullptr;
  }
};

}  // namespace

TEST_F(DatabaseStep, WritesTheKeysAndValuesOfAnAccessDataSource) {
  Run(L"DSN=\"TolmeraParts\" File=\"Data/parts.mdb\"", false);
  // A 32-bit installer on 64-bit Windows writes the 32-bit view.
  platform::RegKey list;
  ASSERT_EQ(list.Open(platform::HKEY_LOCAL_MACHINE, kList,
                      platform::KEY_READ | platform::KEY_WOW64_64KEY),
            platform::ERROR_SUCCESS);
  std::wstring driver;
  ASSERT_EQ(list.QueryString(L"TolmeraParts", driver), platform::ERROR_SUCCESS);
  EXPECT_EQ(driver, L"Microsoft Access Driver (*.mdb)");

  platform::RegKey key, jet;
  ASSERT_EQ(key.Open(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\ODBC\\ODBC.INI\\TolmeraParts"),
            platform::ERROR_SUCCESS);
  std::vector<std::pair<std::wstring, std::wstring>> texts;
  for (const auto& v : key.ValueList()) {
    if (v.type == platform::REG_SZ)
      texts.emplace_back(v.name, platform::reg::DataToString(v.data));
    else
      EXPECT_EQ(v.type, platform::REG_DWORD) << platform::ToUtf8(v.name);
  }
  std::wstring system;
  ASSERT_TRUE(platform::SHGetSpecialFolderPathW(nullptr, system, platform::CSIDL_SYSTEM, false));
  EXPECT_EQ(texts, (std::vector<std::pair<std::wstring, std::wstring>>{
                       {L"DefaultDir", kBase},
                       {L"DBQ", kBase + L"\\Data\\parts.mdb"},
                       {L"UID", L""},
                       {L"Driver", system + L"\\odbcjt32.dll"}}));
  platform::DWORD d = 0;
  EXPECT_EQ(key.QueryDword(L"DriverId", d), platform::ERROR_SUCCESS);
  EXPECT_EQ(d, 0x19u);
  EXPECT_EQ(key.QueryDword(L"SafeTransactions", d), platform::ERROR_SUCCESS);
  EXPECT_EQ(d, 0u);
  ASSERT_EQ(jet.Open(platform::HKEY_LOCAL_MACHINE,
                     L"SOFTWARE\\ODBC\\ODBC.INI\\TolmeraParts\\Engines\\Jet"),
            platform::ERROR_SUCCESS);
  std::wstring text;
  EXPECT_EQ(jet.QueryString(L"ImplicitCommitSync", text), platform::ERROR_SUCCESS);
  EXPECT_EQ(text, L"");
  EXPECT_EQ(jet.QueryString(L"UserCommitSync", text), platform::ERROR_SUCCESS);
  EXPECT_EQ(text, L"Yes");
  for (const auto& [name, value] : std::vector<std::pair<std::wstring, platform::DWORD>>{
           {L"MaxBufferSize", 0x800}, {L"PageTimeout", 5}, {L"Threads", 3}}) {
    EXPECT_EQ(jet.QueryDword(name, d), platform::ERROR_SUCCESS);
    EXPECT_EQ(d, value) << platform::ToUtf8(name);
  }
  EXPECT_TRUE(
      Logged("INFO : CommonStepDatabase: create key DsnDataSources = SOFTWARE\\ODBC\\"
             "ODBC.INI\\ODBC Data Sources attributes = Microsoft Access Driver (*.mdb)"));
  EXPECT_TRUE(
      Logged("INFO : CommonStepDatabase: create key DbDsnRegPath = SOFTWARE\\ODBC\\"
             "ODBC.INI\\TolmeraParts\\ \r\n"));
  EXPECT_TRUE(Logged("INFO : CommonStepDatabase: attribute = " + platform::ToUtf8(kBase) +
                     "\\Data\\parts.mdb \r\n"));
}

TEST_F(DatabaseStep, TwiceInstalledIsOneSourceAndRemovalTakesItsKeyAndListEntryOnly) {
  Run(L"DSN=\"Other\" File=\"other.mdb\"", false);
  Run(L"DSN=\"TolmeraParts\" File=\"old.mdb\"", false);
  Run(L"DSN=\"TolmeraParts\" File=\"parts.mdb\"", false);
  auto all = platform::SystemDataSources();
  ASSERT_EQ(all.size(), 2u);
  const auto* parts = Find(all, L"TolmeraParts");
  ASSERT_TRUE(parts);
  EXPECT_FALSE(parts->is64Bit);
  EXPECT_EQ(parts->Attribute(L"DBQ"), kBase + L"\\parts.mdb");
  EXPECT_EQ(parts->Attribute(L"Engines\\Jet\\Threads"), L"3");
  EXPECT_EQ(parts->attributes.size(), 11u) << "six values and five of the Jet engine, once";

  Run(L"DSN=\"TolmeraParts\" File=\"parts.mdb\"", true);
  all = platform::SystemDataSources();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, L"Other");
  EXPECT_EQ(all[0].Attribute(L"DBQ"), kBase + L"\\other.mdb");
  platform::RegKey gone;
  EXPECT_EQ(gone.Open(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\ODBC\\ODBC.INI\\TolmeraParts"),
            platform::ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(
      Logged("INFO : CommonStepDatabase: delete key = SOFTWARE\\ODBC\\ODBC.INI\\"
             "TolmeraParts\\ \r\n"));
  EXPECT_TRUE(
      Logged("INFO : CommonStepDatabase: delete value TolmeraParts from key = "
             "SOFTWARE\\ODBC\\ODBC.INI\\ODBC Data Sources \r\n"));
  // A source that was never registered is passed over.
  debug.clear();
  Run(L"DSN=\"Never\"", true);
  EXPECT_FALSE(Logged("WARNING"));
  EXPECT_EQ(platform::SystemDataSources().size(), 1u);
}

TEST_F(DatabaseStep, ANameThatIsNoDataSourceNeverReachesAnotherKey) {
  Run(L"DSN=\"Other\" File=\"other.mdb\"", false);
  for (const wchar_t* dsn :
       {L"", L"  ", L"..\\ODBC.INI", L"A\\B", L"ODBC Data Sources", L"odbc data sources", L"x/y"}) {
    debug.clear();
    Run(std::wstring(L"DSN=\"") + dsn + L"\"", true);
    Run(std::wstring(L"DSN=\"") + dsn + L"\" File=\"f.mdb\"", false);
    EXPECT_TRUE(Logged("is no data source name; nothing is changed")) << platform::ToUtf8(dsn);
  }
  auto all = platform::SystemDataSources();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].name, L"Other");
  EXPECT_TRUE(all[0].hasKey);
}

TEST_F(DatabaseStep, IgnoredEntriesChangeNothing) {
  manager.SetAction(kInstall, kLocal);
  Run(L"DSN=\"TolmeraParts\" File=\"parts.mdb\" IgnoreFor=\"install\"", false);
  EXPECT_TRUE(platform::SystemDataSources().empty());
}
