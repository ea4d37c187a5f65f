// The installed-products record, the common-files counter, and the manager's use of the record,
// the macros and the libraries.
#include "app/Tools.h"
#include "manager/tests/ManagerHarness.h"
#include "package/XmlSettings.h"
#include "platform/Registry.h"
#include "platform/Text.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>

using namespace InstallManager;
using tltest::MakeScript;
using tltest::ManagerHarness;
using tltest::ScriptOptions;

namespace {

// Languages with fixed IDs, for turning IDs into indexes and back.
class FixedLanguages : public CommonTools::ILanguages {
 public:
  explicit FixedLanguages(std::vector<int> ids) : m_ids(std::move(ids)) {}
  bool Load() override { return true; }
  bool Clear() override { return true; }
  unsigned GetCount() override { return static_cast<unsigned>(m_ids.size()); }
  std::optional<std::wstring> GetTitle(unsigned) override { return std::nullopt; }
  std::optional<std::wstring> GetSystemName(unsigned) override { return std::nullopt; }
  int GetId(unsigned index) override { return index < m_ids.size() ? m_ids[index] : 0; }
  unsigned FindById(int id) override {
    for (unsigned i = 0; i < m_ids.size(); ++i)
      if (m_ids[i] == id) return i;
    return 0;
  }
  void SetCurrent(unsigned) override {}
  unsigned GetCurrent() override { return 0; }
  bool GetCurrentNode(CommonTools::SettingsNodePtr&) override { return false; }

 private:
  std::vector<int> m_ids;
};

const std::wstring kFile = L"C:\\ProgramData\\TOLMERA\\TolmeraInstall.cfg";
const std::wstring kCommonKey = L"SOFTWARE\\TOLMERA\\Common";

void WriteFile(const std::wstring& path, const std::string& bytes) {
  platform::CreateDirectoryWithParents(L"C:\\ProgramData\\TOLMERA");
  ASSERT_EQ(platform::WriteWholeFile(path, bytes), platform::ERROR_SUCCESS);
}

std::string ReadFile(const std::wstring& path) {
  std::string bytes;
  platform::ReadWholeFile(path, bytes);
  return bytes;
}

// The saved file as text (it is written UTF-16 with a byte-order mark).
std::wstring FileText(const std::wstring& path) {
  std::string bytes = ReadFile(path);
  if (bytes.size() < 2 || bytes[0] != '\xFF' || bytes[1] != '\xFE')
    return L"<not UTF-16: " + platform::FromUtf8(bytes) + L">";
  return platform::FromUtf16LEBytes(bytes.substr(2));
}

// The "Project" elements of a saved file.
std::vector<CommonTools::SettingsNodePtr> Projects(CommonTools::CXmlSettings& doc,
                                                   const std::wstring& path) {
  std::vector<CommonTools::SettingsNodePtr> out;
  CommonTools::SettingsNodePtr root;
  CommonTools::SettingsNodeListPtr list;
  if (!doc.Load(path) || !doc.GetRoot(root) || !root->GetChildren(list)) return out;
  for (int i = 0; i < list->GetCount(); ++i) {
    CommonTools::SettingsNodePtr item;
    if (list->GetItem(i, item)) out.push_back(item);
  }
  return out;
}

bool HasAttribute(const CommonTools::SettingsNodePtr& node, const std::wstring& name) {
  return !node->GetAttribute(name, CommonTools::Variant()).isEmpty();
}

InstalledProduct Product(const std::wstring& pv, int version, int build,
                         const std::wstring& type = L"Local") {
  InstalledProduct p;
  p.pv = pv;
  p.version = version;
  p.build = build;
  p.type = type;
  p.path = L"C:\\Program Files (x86)\\TOLMERA\\" + pv;
  return p;
}

struct Counter {
  bool exists = false;
  platform::DWORD count = 0;
  bool hasCount = false;
  std::wstring path;
};

Counter ReadCounter(const std::wstring& key = kCommonKey) {
  Counter c;
  platform::RegKey k;
  if (k.Open(platform::HKEY_LOCAL_MACHINE, key, platform::KEY_READ) != platform::ERROR_SUCCESS)
    return c;
  c.exists = true;
  c.hasCount = k.QueryDword(L"Count", c.count) == platform::ERROR_SUCCESS;
  k.QueryString(L"Path", c.path);
  return c;
}

}  // namespace

// ---- loading and saving -----------------------------------------------------------------------

TEST(RecordFile, NoFileYetThenTheFirstSaveCreatesFolderAndFile) {
  tltest::ScopedMachine machine;
  InstalledProducts record;
  const std::wstring file = L"C:\\ProgramData\\TOLMERA\\New\\Deeper\\TolmeraInstall.cfg";
  ASSERT_TRUE(record.Load(file, L"", L""));
  EXPECT_EQ(record.Count(), 0);
  ASSERT_TRUE(record.SetProduct(L"TT", 5, Product(L"TT", 5, 100), false));
  ASSERT_TRUE(record.Save(file));
  EXPECT_TRUE(platform::PathFileExistsW(file));
  EXPECT_FALSE(platform::PathFileExistsW(file + L".tmp"));
  std::wstring text = FileText(file);
  EXPECT_NE(text.find(L"<Settings"), std::wstring::npos) << platform::ToUtf8(text);
  EXPECT_NE(text.find(L"\n\t<Project"), std::wstring::npos)
      << "indented: " << platform::ToUtf8(text);
}

TEST(RecordFile, RoundTripWritesOnlyTheAttributesThatApply) {
  tltest::ScopedMachine machine;
  FixedLanguages languages({1033, 1049});
  InstalledProducts record;
  record.SetLanguages(&languages);
  record.SetApplication(L"Tolmera Suite");
  record.SetPath(L"C:\\Program Files (x86)\\TOLMERA");

  InstalledProduct full = Product(L"AA", 3, 1207);
  full.registry = L"SOFTWARE\\TOLMERA\\AA";
  full.libraries = L"1;3";
  full.language = 1;
  full.cfPath = L"C:\\Common";
  InstalledProduct bare = Product(L"", 0, 0);
  bare.path.clear();
  InstalledProduct client = Product(L"CC", 2, 7, L"client");
  client.libraries = L"4";
  for (const auto& p : {full, bare, client})
    ASSERT_TRUE(record.SetProduct(p.pv, p.version, p, false));
  ASSERT_TRUE(record.Save(kFile));

  CommonTools::CXmlSettings doc;
  auto projects = Projects(doc, kFile);
  ASSERT_EQ(projects.size(), 3u);
  EXPECT_EQ(projects[0]->GetName(), L"Project");
  EXPECT_EQ(CommonTools::GetText(projects[0], L"Language"), L"1049");  // the ID, not the index
  EXPECT_EQ(CommonTools::GetText(projects[0], L"Libraries"), L"1;3");
  EXPECT_EQ(CommonTools::GetText(projects[0], L"Build"), L"1207");
  // Build 0, empty PV, Registry, Libraries and CFPath are not written; Version, Path, Type are.
  for (const wchar_t* name : {L"Build", L"PV", L"Registry", L"Libraries", L"CFPath"})
    EXPECT_FALSE(HasAttribute(projects[1], name)) << platform::ToUtf8(name);
  for (const wchar_t* name : {L"Version", L"Path", L"Type", L"Language"})
    EXPECT_TRUE(HasAttribute(projects[1], name)) << platform::ToUtf8(name);
  // A client entry never has its libraries written, whatever the case of its type.
  EXPECT_FALSE(HasAttribute(projects[2], L"Libraries"));

  InstalledProducts again;
  again.SetLanguages(&languages);
  ASSERT_TRUE(again.Load(kFile, L"", L""));
  EXPECT_EQ(again.GetApplication(), L"Tolmera Suite");
  EXPECT_EQ(again.GetPath(), L"C:\\Program Files (x86)\\TOLMERA");
  ASSERT_EQ(again.Count(), 3);
  InstalledProduct e;
  ASSERT_EQ(again.Find(L"AA", 3, e), 0);
  EXPECT_EQ(e.build, 1207);
  EXPECT_EQ(e.registry, full.registry);
  EXPECT_EQ(e.libraries, L"1;3");
  EXPECT_EQ(e.language, 1);
  EXPECT_EQ(e.cfPath, L"C:\\Common");
  EXPECT_EQ(e.path, full.path);
  ASSERT_EQ(again.Find(L"", 0, e), 1);
  EXPECT_EQ(e.build, 0);
  ASSERT_EQ(again.Find(L"CC", 2, e), 2);
  EXPECT_EQ(e.libraries, L"");
  EXPECT_EQ(again.Find(L"cc", 2, e), -1);  // the key compares exactly
}

TEST(RecordFile, LanguagesAsIndexesOrIds) {
  tltest::ScopedMachine machine;
  FixedLanguages languages({1033, 1049, 1031});
  WriteFile(kFile,
            "<?xml version=\"1.0\"?><Settings>"
            "<Project PV=\"A\" Version=\"1\" Language=\"2\"/>"
            "<Project PV=\"B\" Version=\"1\" Language=\"3\"/>"
            "<Project PV=\"C\" Version=\"1\" Language=\"1049\"/>"
            "<Project PV=\"D\" Version=\"1\" Language=\"2052\"/>"
            "<Entry PV=\"E\" Version=\"1\"/></Settings>");
  InstalledProducts record;
  record.SetLanguages(&languages);
  ASSERT_TRUE(record.Load(kFile, L"", L""));
  ASSERT_EQ(record.Count(), 5);  // the element names of the entries are not examined
  InstalledProduct e;
  int expected[] = {2, 0, 1, 0, 0};
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(record.GetAt(i, e));
    EXPECT_EQ(e.language, expected[i]) << i;
  }
  EXPECT_FALSE(record.GetAt(5, e));
  EXPECT_FALSE(record.SetAt(-1, e));
}

TEST(RecordFile, ValuesThatDoNotConvert) {
  tltest::ScopedMachine machine;
  InstalledProducts record;
  WriteFile(kFile,
            "<?xml version=\"1.0\"?><Settings><Project PV=\"A\" Version=\"1\"/>"
            "<Project PV=\"B\" Version=\"1\" Build=\"many\"/></Settings>");
  EXPECT_FALSE(record.Load(kFile, L"", L""));
  EXPECT_EQ(record.Count(), 0);

  WriteFile(kFile,
            "<?xml version=\"1.0\"?><Settings><Project PV=\"A\" Version=\"1\" "
            "Language=\"en\"/></Settings>");
  EXPECT_FALSE(record.Load(kFile, L"", L""));
  EXPECT_EQ(record.Count(), 0);

  // A version is read as its leading digits.
  WriteFile(kFile,
            "<?xml version=\"1.0\"?><Settings><Project PV=\"A\" Version=\"5b\"/><Project PV=\"B\" "
            "Version=\"beta\"/>"
            "<Project PV=\"A\" Version=\"5\" Build=\"9\"/></Settings>");
  ASSERT_TRUE(record.Load(kFile, L"", L""));
  InstalledProduct e;
  ASSERT_EQ(record.Count(), 2);  // the second (A, 5) replaces the first
  ASSERT_EQ(record.Find(L"A", 5, e), 0);
  EXPECT_EQ(e.build, 9);
  EXPECT_EQ(record.Find(L"B", 0, e), 1);
}

TEST(RecordFile, AnUnreadableFileIsEmptyAndKeptAsideBeforeASave) {
  tltest::ScopedMachine machine;
  const std::string junk = "this is not XML <<< but other products' entries may be in here";
  WriteFile(kFile, junk);
  InstalledProducts record;
  ASSERT_TRUE(record.Load(kFile, L"", L""));
  EXPECT_EQ(record.Count(), 0);
  EXPECT_EQ(ReadFile(kFile), junk);  // reading alone changes nothing
  record.SetProduct(L"TT", 5, Product(L"TT", 5, 1), false);
  ASSERT_TRUE(record.Save(kFile));
  EXPECT_EQ(ReadFile(kFile + L".bad"), junk);
  InstalledProducts again;
  ASSERT_TRUE(again.Load(kFile, L"", L""));
  EXPECT_EQ(again.Count(), 1);

  // A second save over the now readable file keeps nothing aside again.
  platform::DeleteFileW(kFile + L".bad");
  ASSERT_TRUE(again.Save(kFile));
  EXPECT_FALSE(platform::PathFileExistsW(kFile + L".bad"));

  // Without the declaration in front the root cannot be found: the same, nothing is lost.
  const std::string bare = "<Settings><Project PV=\"A\" Version=\"1\"/></Settings>";
  WriteFile(kFile, bare);
  ASSERT_TRUE(again.Load(kFile, L"", L""));
  EXPECT_EQ(again.Count(), 0);
  ASSERT_TRUE(again.Save(kFile));
  EXPECT_EQ(ReadFile(kFile + L".bad"), bare);

  // An empty file too.
  WriteFile(kFile, "");
  ASSERT_TRUE(again.Load(kFile, L"", L""));
  EXPECT_EQ(again.Count(), 0);
}

TEST(RecordFile, ARecordThatIsNoFileOrTooLargeIsNotReadAndTheLogSaysWhy) {
  tltest::ScopedMachine machine;
  const std::string host = machine.C("ProgramData/TOLMERA/TolmeraInstall.cfg");
  platform::CreateDirectoryWithParents(L"C:\\ProgramData\\TOLMERA");
  const std::string entry = "<Project Version=\"1\" PV=\"A\" Path=\"C:\\A\" Type=\"Local\"/>";
  std::string huge = "<?xml version=\"1.0\"?>\n<Settings>";
  while (huge.size() <= (4u << 20)) huge += entry;
  huge += "</Settings>";
  struct Case {
    std::function<void()> plant;
    std::string why;
  };
  const std::vector<Case> cases = {
      // A pipe is never waited on.
      {[&] { ASSERT_EQ(mkfifo(host.c_str(), 0644), 0); }, "it is not a regular file"},
      {[&] { ASSERT_EQ(platform::CreateDirectoryW(kFile), platform::ERROR_SUCCESS); },
       "it is a folder, not a file"},
      {[&] { WriteFile(kFile, huge); }, "it is larger than 4194304 bytes"},
  };
  std::wstring debug;
  GetInstallTools().Log().SetDebugOutput([&debug](const std::wstring& s) { debug += s; });
  for (const Case& c : cases) {
    std::filesystem::remove_all(host);
    c.plant();
    debug.clear();
    InstalledProducts record;
    ASSERT_TRUE(record.Load(kFile, L"", L""));
    EXPECT_EQ(record.Count(), 0) << c.why;
    GetInstallTools().Log().Flush();
    const std::string line = "WARNING : InstalledProducts: " + platform::ToUtf8(kFile) +
                             " cannot be read (" + c.why + ") and counts as empty";
    EXPECT_NE(platform::ToUtf8(debug).find(line), std::string::npos) << platform::ToUtf8(debug);
  }
  GetInstallTools().Log().SetDebugOutput(nullptr);
}

TEST(RecordFile, EveryUnreadableCopyIsKeptAsideUnderANameOfItsOwn) {
  tltest::ScopedMachine machine;
  // Three runs in turn find the record unreadable, each with other products' entries in it.
  const std::string copies[] = {"first <<< entries of products A and B",
                                "second <<< entries of product C", "third <<< product D"};
  for (const std::string& junk : copies) {
    WriteFile(kFile, junk);
    InstalledProducts record;
    ASSERT_TRUE(record.Load(kFile, L"", L""));
    record.SetProduct(L"TT", 5, Product(L"TT", 5, 1), false);
    ASSERT_TRUE(record.Save(kFile));
  }
  EXPECT_EQ(ReadFile(kFile + L".bad"), copies[0]);
  EXPECT_EQ(ReadFile(kFile + L".bad.1"), copies[1]);
  EXPECT_EQ(ReadFile(kFile + L".bad.2"), copies[2]);
  EXPECT_FALSE(platform::PathFileExistsW(kFile + L".bad.3"));

  // A name already taken by something else (here a folder) is passed over as well.
  ASSERT_EQ(platform::CreateDirectoryW(kFile + L".bad.3"), platform::ERROR_SUCCESS);
  WriteFile(kFile, "fourth <<<");
  InstalledProducts record;
  ASSERT_TRUE(record.Load(kFile, L"", L""));
  ASSERT_TRUE(record.Save(kFile));
  EXPECT_TRUE(platform::PathIsDirectoryW(kFile + L".bad.3"));
  EXPECT_EQ(ReadFile(kFile + L".bad.4"), "fourth <<<");
  InstalledProducts saved;
  ASSERT_TRUE(saved.Load(kFile, L"", L""));
  EXPECT_EQ(saved.Count(), 0);
}

TEST(RecordFile, AFailedSaveIsReportedAndLeavesTheOldFile) {
  tltest::ScopedMachine machine;
  InstalledProducts record;
  record.SetProduct(L"TT", 5, Product(L"TT", 5, 1), false);
  // A file stands where the folder would be.
  WriteFile(L"C:\\ProgramData\\TOLMERA\\blocker", "x");
  EXPECT_FALSE(record.Save(L"C:\\ProgramData\\TOLMERA\\blocker\\TolmeraInstall.cfg"));
  EXPECT_FALSE(record.Save(L""));

  // A read-only record cannot be replaced: the save fails and the old file stays whole.
  ASSERT_TRUE(record.Save(kFile));
  std::string before = ReadFile(kFile);
  ASSERT_EQ(platform::SetFileAttributesW(kFile, platform::FILE_ATTRIBUTE_READONLY),
            platform::ERROR_SUCCESS);
  record.SetProduct(L"UU", 1, Product(L"UU", 1, 1), false);
  EXPECT_FALSE(record.Save(kFile));
  EXPECT_EQ(ReadFile(kFile), before);
  EXPECT_FALSE(platform::PathFileExistsW(kFile + L".tmp"));
}

TEST(RecordFile, EntryWithoutPathTakesItFromTheRegistry) {
  tltest::ScopedMachine machine;
  {
    platform::RegKey key;
    ASSERT_EQ(key.Create(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\Project"),
              platform::ERROR_SUCCESS);
    ASSERT_EQ(key.SetString(L"ProjectPath", L"D:\\Projects\\TT"), platform::ERROR_SUCCESS);
  }
  WriteFile(kFile,
            "<?xml version=\"1.0\"?><Settings><Project PV=\"A\" Version=\"1\"/>"
            "<Project PV=\"B\" Version=\"1\" Path=\"C:\\Own\"/></Settings>");
  InstalledProducts record;
  ASSERT_TRUE(record.Load(kFile, L"SOFTWARE\\TOLMERA\\Project", L"ProjectPath"));
  InstalledProduct e;
  ASSERT_EQ(record.Find(L"A", 1, e), 0);
  EXPECT_EQ(e.path, L"D:\\Projects\\TT");
  ASSERT_EQ(record.Find(L"B", 1, e), 1);
  EXPECT_EQ(e.path, L"C:\\Own");
  // Without a value name (or a key that does not exist) the path stays empty.
  ASSERT_TRUE(record.Load(kFile, L"SOFTWARE\\TOLMERA\\Project", L""));
  ASSERT_EQ(record.Find(L"A", 1, e), 0);
  EXPECT_EQ(e.path, L"");
  ASSERT_TRUE(record.Load(kFile, L"SOFTWARE\\TOLMERA\\Nothing", L"ProjectPath"));
  ASSERT_EQ(record.Find(L"A", 1, e), 0);
  EXPECT_EQ(e.path, L"");
}

// ---- the common-files counter -----------------------------------------------------------------

TEST(CommonCounter, TwoProductsInstalledAndRemovedInTurn) {
  tltest::ScopedMachine machine;
  InstalledProducts record;
  record.SetCommonKey(kCommonKey);
  record.SetPath(L"C:\\Program Files (x86)\\TOLMERA");
  ASSERT_TRUE(record.SetProduct(L"A", 1, Product(L"A", 1, 10), true));
  EXPECT_EQ(ReadCounter().count, 1u);
  EXPECT_EQ(ReadCounter().path, L"C:\\Program Files (x86)\\TOLMERA");
  // A repair of a recorded pair does not count it again.
  ASSERT_TRUE(record.SetProduct(L"A", 1, Product(L"A", 1, 11), true));
  EXPECT_EQ(ReadCounter().count, 1u);
  ASSERT_TRUE(record.SetProduct(L"B", 2, Product(L"B", 2, 10), true));
  EXPECT_EQ(ReadCounter().count, 2u);

  std::wstring folder;
  EXPECT_EQ(record.GetCommonUsage(folder, L""), 2);
  EXPECT_EQ(folder, L"C:\\Program Files (x86)\\TOLMERA");

  EXPECT_TRUE(record.RemoveProduct(L"A", 1));
  EXPECT_EQ(ReadCounter().count, 1u);
  EXPECT_FALSE(record.RemoveProduct(L"A", 1));
  EXPECT_EQ(ReadCounter().count, 1u);
  EXPECT_TRUE(record.RemoveProduct(L"B", 2));
  Counter c = ReadCounter();
  EXPECT_TRUE(c.hasCount);
  EXPECT_EQ(c.count, 0u);
  EXPECT_EQ(c.path, L"C:\\Program Files (x86)\\TOLMERA");  // the key's Path stays
  EXPECT_EQ(record.Count(), 0);
  EXPECT_EQ(record.GetCommonUsage(folder, L"Tolmera"), 0);
  EXPECT_EQ(folder, L"");

  // Removing the last product leaves a record with its root and no entries.
  ASSERT_TRUE(record.Save(kFile));
  CommonTools::CXmlSettings doc;
  EXPECT_TRUE(Projects(doc, kFile).empty());
  CommonTools::SettingsNodePtr root;
  ASSERT_TRUE(doc.GetRoot(root));
  EXPECT_EQ(root->GetName(), L"Settings");
}

TEST(CommonCounter, NeverNegativeAndCountsOnFromAnExistingKey) {
  tltest::ScopedMachine machine;
  InstalledProducts record;
  record.SetCommonKey(kCommonKey);
  record.SetProduct(L"A", 1, Product(L"A", 1, 1), false);  // a load: not counted
  EXPECT_FALSE(ReadCounter().exists);
  EXPECT_TRUE(record.RemoveProduct(L"A", 1));
  EXPECT_EQ(ReadCounter().count, 0u);
  EXPECT_TRUE(ReadCounter().hasCount);
  EXPECT_EQ(ReadCounter().path, L"");

  {
    platform::RegKey key;
    ASSERT_EQ(key.Open(platform::HKEY_LOCAL_MACHINE, kCommonKey,
                       platform::KEY_READ | platform::KEY_WRITE),
              platform::ERROR_SUCCESS);
    key.SetDword(L"Count", 4);
  }
  record.SetProduct(L"B", 1, Product(L"B", 1, 1), true);
  EXPECT_EQ(ReadCounter().count, 5u);
  EXPECT_EQ(ReadCounter().path, L"");  // an empty record path is not written

  // Without a key nothing is counted anywhere.
  InstalledProducts none;
  none.SetProduct(L"C", 1, Product(L"C", 1, 1), true);
  std::wstring folder = L"x";
  EXPECT_EQ(none.GetCommonUsage(folder, L"Tolmera"), 0);
  EXPECT_EQ(folder, L"");
}

TEST(CommonCounter, UsageFolderTakesTheNameOnce) {
  tltest::ScopedMachine machine;
  InstalledProducts record;
  record.SetCommonKey(kCommonKey);
  std::wstring folder;
  EXPECT_EQ(record.GetCommonUsage(folder, L"Tolmera"), 0);  // no key yet
  platform::RegKey key;
  ASSERT_EQ(key.Create(platform::HKEY_LOCAL_MACHINE, kCommonKey), platform::ERROR_SUCCESS);
  key.SetDword(L"Count", 2);
  key.SetString(L"Path", L"C:\\Apps\\");
  EXPECT_EQ(record.GetCommonUsage(folder, L"Tolmera"), 2);
  EXPECT_EQ(folder, L"C:\\Apps\\Tolmera");
  key.SetString(L"Path", L"C:\\Apps\\TOLMERA");
  EXPECT_EQ(record.GetCommonUsage(folder, L"Tolmera"), 2);
  EXPECT_EQ(folder, L"C:\\Apps\\TOLMERA");
  // A count that is not a DWORD: 0, with the folder as read.
  key.SetString(L"Count", L"2");
  EXPECT_EQ(record.GetCommonUsage(folder, L"Tolmera"), 0);
  EXPECT_EQ(folder, L"C:\\Apps\\TOLMERA");
}

// ---- the manager and the record, macros and libraries -----------------------------------------

namespace {

ScriptOptions ProductScript(const std::wstring& body) {
  ScriptOptions o;
  o.root[L"DirName"] = L"TestDir";
  o.root[L"RegKey"] = L"SOFTWARE\\TOLMERA\\TT";
  o.body = body;
  return o;
}

const char* kLocalAnswers =
    "[page DLG_GREETING]\nbutton = Next\n[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n[page "
    "DLG_INSTALL_TYPE]\nInstallType = Local\nbutton = Next\n";

}  // namespace

TEST(ManagerRecord, AddProductAndTheSettingsItKeeps) {
  ManagerHarness h(kLocalAnswers);
  h.Package(MakeScript(ProductScript(
      L"<MACROS><MACRO Name=\"%COMMON FILES%\" Value=\"%PROGRAM_FILES%/Common\"/></MACROS>"
      L"<INSTALL><COMMONINFO RegKeyInstall=\"SOFTWARE\\TOLMERA\\Common\"/></INSTALL>")));
  ASSERT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  auto& record = h.manager.GetInstalledProducts();
  record.SetPath(L"C:\\Apps");
  h.manager.AddProduct(kLocal, L"C:\\Apps");
  InstalledProduct e;
  ASSERT_EQ(record.Find(L"TT", 5, e), 0);
  EXPECT_EQ(e.path, L"C:\\Apps\\TestDir");
  EXPECT_EQ(e.type, L"Local");
  EXPECT_EQ(e.build, 100);
  EXPECT_EQ(e.registry, L"SOFTWARE\\TOLMERA\\TT");
  EXPECT_EQ(e.cfPath, L"C:\\Program Files (x86)/Common");  // macros only; the slash is kept
  EXPECT_TRUE(h.Logged("INFO : Add product TT version 5"));
  EXPECT_TRUE(h.Logged("INFO : AddProduct: Common Files path = C:\\Program Files (x86)/Common"));
  EXPECT_EQ(ReadCounter().count, 1u);
  EXPECT_EQ(ReadCounter().path, L"C:\\Apps");

  auto settings = h.manager.GetUserSettings();
  settings->Set(L"Language", CommonTools::Variant(0));
  settings->Set(L"SelectedLibraries", CommonTools::Variant(L"1;3"));
  h.manager.SaveLanguageToRecord();
  h.manager.SaveLibrariesToRecord();
  ASSERT_EQ(record.Find(L"TT", 5, e), 0);
  EXPECT_EQ(e.libraries, L"1;3");
  EXPECT_EQ(e.language, 0);

  // A client installation is recorded at the folder itself; the same pair is not counted twice.
  h.manager.AddProduct(kClient, L"\\\\SERVER\\Tolmera");
  ASSERT_EQ(record.Find(L"TT", 5, e), 0);
  EXPECT_EQ(e.path, L"\\\\SERVER\\Tolmera");
  EXPECT_EQ(e.type, L"Client");
  EXPECT_EQ(ReadCounter().count, 1u);
  ASSERT_TRUE(record.Save(ManagerHarness::RecordPath()));
  CommonTools::CXmlSettings doc;
  auto projects = Projects(doc, ManagerHarness::RecordPath());
  ASSERT_EQ(projects.size(), 1u);
  EXPECT_FALSE(HasAttribute(projects[0], L"Libraries"));
}

TEST(ManagerRecord, SettingsWithoutAnEntryChangeNothing) {
  ManagerHarness h(kLocalAnswers);
  h.Package(MakeScript(ProductScript(L"")));
  ASSERT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  h.manager.GetUserSettings()->Set(L"SelectedLibraries", CommonTools::Variant(L"2"));
  h.manager.SaveLibrariesToRecord();
  h.manager.SaveLanguageToRecord();
  EXPECT_EQ(h.manager.GetInstalledProducts().Count(), 0);
}

TEST(ManagerMacros, AttributesReadWithMacrosAndSlashes) {
  ManagerHarness h("[page DLG_REPAIR]\nInstallType = Repair\nbutton = Next\n");
  h.Package(MakeScript(
      ProductScript(L"<MACROS><MACRO Name=\"%DATA%\" Value=\"%COMMON_APPDATA%/Tolmera\"/>"
                    L"<MACRO Name=\"%OLD%\" Value=\"old\" IgnoreFor=\"Repair\"/></MACROS>")));
  h.Record(ManagerHarness::Project(100));
  ASSERT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  ASSERT_EQ(h.manager.GetDetectedAction(), kRepair);

  CommonTools::CXmlSettings doc;
  ASSERT_TRUE(
      doc.LoadFromBytes("<?xml version=\"1.0\"?><S><N A=\"%PROGRAM_FILES%/Name\" B=\"%DATA%/x\" "
                        "C=\"[%OLD%]\" D=\"%common files%\" "
                        "E=\"%InstallType%-%BUILD%-%LanguageID%-%CAPACITY_OS%\"/></S>"));
  CommonTools::SettingsNodePtr root, node;
  ASSERT_TRUE(doc.GetRoot(root));
  ASSERT_TRUE(root->GetChild(L"N", node));
  EXPECT_EQ(h.manager.ReadAttribute(node, L"A", L"", true), L"C:\\Program Files (x86)\\Name");
  EXPECT_EQ(h.manager.ReadAttribute(node, L"A", L"", false), L"C:\\Program Files (x86)/Name");
  EXPECT_EQ(h.manager.ReadAttribute(node, L"B", L"", true), L"C:\\ProgramData\\Tolmera\\x");
  EXPECT_EQ(h.manager.ReadAttribute(node, L"C", L"", false), L"[]");
  EXPECT_EQ(h.manager.ReadAttribute(node, L"D", L"", false), L"%common files%");
  EXPECT_EQ(h.manager.ReadAttribute(node, L"E", L"", false), L"Local-100-1033-64");
  EXPECT_EQ(h.manager.ReadAttribute(node, L"missing", L"%BUILD%/d", true), L"100\\d");
}

TEST(ManagerMacros, LanguageIdBeforeTheLanguagesAreLoadedIsMinusOne) {
  ManagerHarness h;  // nothing is run: no language is loaded yet
  ASSERT_EQ(GetGuiTools().Languages().GetCount(), 0u);
  CommonTools::CXmlSettings doc;
  ASSERT_TRUE(doc.LoadFromBytes("<?xml version=\"1.0\"?><S><N E=\"[%LanguageID%]\"/></S>"));
  CommonTools::SettingsNodePtr root, node;
  ASSERT_TRUE(doc.GetRoot(root));
  ASSERT_TRUE(root->GetChild(L"N", node));
  EXPECT_EQ(h.manager.ReadAttribute(node, L"E", L"", false), L"[-1]");
  // The same for the table's own default.
  auto vars = CommonTools::BuiltinVariables({});
  auto id = std::find_if(vars.begin(), vars.end(),
                         [](const auto& v) { return v.first == L"%LanguageID%"; });
  ASSERT_NE(id, vars.end());
  EXPECT_EQ(id->second, L"-1");
}

TEST(ManagerLibraries, LoadedWithTheScriptAndTheInstalledSelectionApplied) {
  ManagerHarness h("[page DLG_REPAIR]\nInstallType = Repair\nbutton = Next\n");
  h.Package(MakeScript(ProductScript(
      L"<LIBRARIES><LIBRARY ID=\"1\" PV=\"A\"/><LIBRARY ID=\"2\" PV=\"B\" Selected=\"0\"/>"
      L"<LIBRARY ID=\"3\" PV=\"C\" Selected=\"0\"/></LIBRARIES>")));
  h.Record(ManagerHarness::Project(100, L"Local", L" Libraries=\"3;;77\""));
  ASSERT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  ASSERT_EQ(h.manager.GetLibraryCount(), 3);
  CommonTools::LibraryRecord r;
  ASSERT_TRUE(h.manager.FindLibrary(3, r));
  EXPECT_TRUE(r.installed);
  EXPECT_FALSE(r.selected);
  ASSERT_TRUE(h.manager.FindLibrary(2, r));
  EXPECT_FALSE(r.installed);
  ASSERT_TRUE(h.manager.SetSelectedById(3, true));
  h.manager.SaveSelection();
  EXPECT_EQ(h.manager.GetUserSettings()->GetText(L"SelectedLibraries"), L"1;3");

  h.manager.ClearLibraries();
  EXPECT_EQ(h.manager.GetLibraryCount(), 0);
  EXPECT_TRUE(h.manager.GetMacros().Entries().empty());
  EXPECT_FALSE(h.manager.IsScenarioLoaded());
}

TEST(ManagerLibraries, StoredSelectionEmptyIsNotApplied) {
  ManagerHarness h("[page DLG_REPAIR]\nInstallType = Repair\nbutton = Next\n");
  h.Package(MakeScript(
      ProductScript(L"<LIBRARIES><LIBRARY ID=\"0\" PV=\"Z\" Selected=\"0\"/></LIBRARIES>")));
  h.Record(ManagerHarness::Project(100, L"Local", L" Libraries=\"empty\""));
  ASSERT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  CommonTools::LibraryRecord r;
  ASSERT_TRUE(h.manager.FindLibrary(0, r));
  // "empty" would read as ID 0 if it were applied.
  EXPECT_FALSE(r.installed);
}

TEST(ManagerLibraries, ProcessComponentsGoesThroughTheDispatcher) {
  struct Steps : CommonTools::IStepDispatcher {
    void CommonSteps(const CommonTools::SettingsNodePtr& c, bool remove,
                     const std::wstring& base) override {
      calls.push_back(CommonTools::GetText(c, L"PV") + (remove ? L"-" : L"+") + base);
    }
    std::vector<std::wstring> calls;
  } steps;
  ManagerHarness h(kLocalAnswers);
  h.Package(
      MakeScript(ProductScript(L"<LIBRARIES><LIBRARY ID=\"1\" PV=\"A\"/><LIBRARY ID=\"2\" PV=\"B\" "
                               L"Selected=\"0\"/></LIBRARIES>")));
  ASSERT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  CommonTools::SettingsNodePtr root;
  ASSERT_TRUE(GetInstallTools().GetScriptRoot(root));
  // Without a dispatcher (the manager dispatches itself unless told otherwise) nothing runs,
  // and the log says so.
  h.manager.SetStepDispatcher(nullptr);
  h.manager.ProcessComponents(root, false, L"C:\\P");
  EXPECT_TRUE(h.Logged(
      "WARNING : ProcessComponents: no step dispatcher, the libraries' steps are not run"));
  h.manager.SetStepDispatcher(&steps);
  h.manager.ProcessComponents(nullptr, false, L"C:\\P");
  EXPECT_TRUE(steps.calls.empty());
  h.manager.ProcessComponents(root, false, L"C:\\P");
  EXPECT_EQ(steps.calls, (std::vector<std::wstring>{L"B-C:\\P", L"A+C:\\P"}));
  EXPECT_TRUE(h.Logged("INFO : ProcessComponents: Library = B Action = remove"));
  EXPECT_TRUE(h.Logged("INFO : ProcessComponents: Library = A Action = setup"));
  steps.calls.clear();
  h.manager.ProcessComponents(root, true, L"C:\\P");
  EXPECT_EQ(steps.calls, (std::vector<std::wstring>{L"A-C:\\P", L"B-C:\\P"}));
  h.manager.SetStepDispatcher(nullptr);
}

TEST(ManagerLibraries, ALibraryIdThatIsNoNumberFailsTheScenario) {
  ManagerHarness h(kLocalAnswers);
  h.Package(MakeScript(ProductScript(L"<LIBRARIES><LIBRARY ID=\"first\"/></LIBRARIES>")));
  EXPECT_EQ(h.Run(), irScenario);
  EXPECT_TRUE(h.manager.calls.empty());
}

TEST(ManagerMacros, ArchitectureOfA32BitWindows) {
  ManagerHarness h(kLocalAnswers);
  {
    auto& current = platform::Machine::Current();
    platform::MachineConfig config = current.Config();
    config.os.is64Bit = false;
    std::ofstream(current.IniPath(), std::ios::binary | std::ios::trunc) << config.ToIni();
    current.Reload();
    ASSERT_FALSE(platform::CurrentConfig().IsWow64());
  }
  h.Package(MakeScript(ProductScript(L"")));
  ASSERT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  EXPECT_EQ(h.manager.GetProcessorArchitecture(), L"x32");
  std::wstring s = L"%PROCESSOR_ARCHITECTURE%/%CAPACITY_OS%/%PROGRAM_FILES%";
  h.manager.ExpandMacros(s);
  EXPECT_EQ(s, L"x32/32/C:\\Program Files");
}
