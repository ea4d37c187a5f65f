// The guard of the steps, tried as a hostile package author would: names that leave their
// folder, a record edited to point at the system, shares of the drive or of another product's
// folder, programs of the host, keys that were there before the product. Each case runs on a
// fresh machine and compares the whole machine (files with their access lists, keys, values,
// shares) before and after: nothing outside the product changes, and each refusal has its line.
#include "Snapshot.h"
#include "package/NameCheck.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/Shares.h"
#include "steps/FileUtilities.h"
#include "steps/RegistryStep.h"
#include "steps/RightsStep.h"
#include "steps/ShareStep.h"
#include "steps/StepGuard.h"
#include "steps/tests/StepsFixture.h"

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace InstallManager;
using InstallSteps::SetupEntry;
using InstallSteps::StepGuard;
using tltest::StepsManager;
using tltest::StepsTest;

namespace {

const std::wstring kBase = L"C:\\Program Files (x86)\\TOLMERA\\Product";

SetupEntry Entry(const std::wstring& name, const std::wstring& target = L"") {
  SetupEntry e;
  e.name = name;
  e.target = target;
  return e;
}

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// What changed between two snapshots, outside the folders given (and the user's TEMP, where the
// package unpacks).
std::vector<std::string> ChangedOutside(const tlmachine::Snapshot& before,
                                        const tlmachine::Snapshot& after,
                                        std::vector<std::wstring> allowed = {}) {
  allowed.push_back(platform::GetTempPathW());
  auto outside = [&](const std::string& id) {
    std::string path = Lower(id.substr(2));
    for (const auto& a : allowed) {
      std::string prefix = Lower(platform::ToUtf8(a));
      while (!prefix.empty() && prefix.back() == '\\') prefix.pop_back();
      if (path.compare(0, prefix.size(), prefix) == 0 &&
          (path.size() == prefix.size() || path[prefix.size()] == '\\'))
        return false;
    }
    return true;
  };
  std::vector<std::string> changed;
  for (const auto& [id, details] : before) {
    auto it = after.find(id);
    if ((it == after.end() || it->second != details) && outside(id)) changed.push_back("- " + id);
  }
  for (const auto& [id, details] : after)
    if (!before.count(id) && outside(id)) changed.push_back("+ " + id);
  return changed;
}

std::string ReadBack(const std::wstring& path) {
  std::string bytes;
  platform::ReadWholeFile(path, bytes);
  return bytes;
}

bool HasShare(const std::wstring& name) {
  platform::SHARE_INFO_502 info;
  return platform::NetShareGetInfo(nullptr, name, 2, info) == platform::NERR_Success;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

}  // namespace

class StepGuardTest : public StepsTest {
 protected:
  void SetUp() override {
    StepsTest::SetUp();
    manager.SetAction(kUninstall, kLocal);
    // Things of the system and of others that a removal must never touch.
    Write(L"C:\\Windows\\System32\\drivers\\etc\\hosts", "127.0.0.1 localhost");
    Write(L"C:\\Windows\\win.ini", "[windows]");
    Write(L"C:\\Users\\User\\Documents\\thesis.doc", "years of work");
    Write(L"C:\\Program Files (x86)\\TOLMERA\\Other\\other.exe", "another product");
    Write(L"C:\\Program Files (x86)\\TOLMERA\\victim.txt", "not ours");
    Write(L"C:\\victim.txt", "not ours either");
    Write(kBase + L"\\bin\\app.exe", "ours");
    before = tlmachine::TakeSnapshot(true);
  }
  // Changes outside the product folder and the installer's own folder of records.
  std::vector<std::string> Changed() {
    return ChangedOutside(before, tlmachine::TakeSnapshot(true),
                          {kBase, L"C:\\ProgramData\\TOLMERA"});
  }
  tlmachine::Snapshot before;
};

TEST_F(StepGuardTest, NamesThatLeaveTheirFolderAreRefusedWhenReadWithTheirReason) {
  struct Case {
    const wchar_t* node;
    const char* line;
  } cases[] = {
      {L"<DIRECTORY Name=\"C:\\\"/>",
       "ERROR : CommonStepScheduleFolder: Name \"C:\\\" of a DIRECTORY is refused: it is an "
       "absolute "
       "path"},
      {L"<DIRECTORY Name=\"C:\\Windows\"/>", "Name \"C:\\Windows\" of a DIRECTORY is refused"},
      {L"<DIRECTORY Name=\"C:\\Users\\User\\Documents\"/>",
       "Name \"C:\\Users\\User\\Documents\" of a DIRECTORY is refused"},
      {L"<DIRECTORY Name=\"bin\\..\\..\\Other\"/>",
       "Name \"bin\\..\\..\\Other\" of a DIRECTORY is refused: it climbs out with \"..\""},
      {L"<DIRECTORY Name=\"bin/../../Other\"/>", "Name \"bin\\..\\..\\Other\" of a DIRECTORY"},
      {L"<DIRECTORY Name=\"bin\\...\\x\"/>", "Name \"bin\\...\\x\" of a DIRECTORY is refused"},
      {L"<DIRECTORY Name=\"\\\\.\\C:\"/>", "is refused: it names a device"},
      {L"<DIRECTORY Name=\"\\\\SERVER\\share\"/>", "is refused: it is a network path"},
      {L"<DIRECTORY Name=\"\\Windows\"/>", "Name \"\\Windows\" of a DIRECTORY is refused"},
      {L"<DIRECTORY Name=\"data\" Target=\"..\\..\"/>",
       "Target \"..\\..\" of a DIRECTORY is refused"},
      {L"<DIRECTORY Name=\"Common\" Type=\"common\" Target=\"..\\..\\Other\"/>",
       "Target \"..\\..\\Other\" of a DIRECTORY is refused"},
      {L"<FILE Name=\"..\\..\\victim.txt\"/>",
       "ERROR : CommonStepFile: Name \"..\\..\\victim.txt\" of a FILE is refused: it climbs out"},
      {L"<FILE Name=\"C:\\victim.txt\"/>", "Name \"C:\\victim.txt\" of a FILE is refused"},
      {L"<FILE Name=\"bin\\NUL.txt\"/>",
       "Name \"bin\\NUL.txt\" of a FILE is refused: it names a device"},
      {L"<FILE Name=\"com1\"/>", "Name \"com1\" of a FILE is refused: it names a device"},
      {L"<FILE Name=\"bin\\app.exe:stream\"/>", "is refused: it names a stream or a drive"},
      {L"<FILE Name=\"C:victim.txt\"/>", "Name \"C:victim.txt\" of a FILE is refused"},
  };
  std::wstring body;
  for (const auto& c : cases) body += c.node;
  auto root = Script(L"<INSTALL>" + body + L"<DIRECTORY Name=\"bin\"/></INSTALL>");
  manager.CommonSteps(Child(root, L"INSTALL"), true, kBase);
  for (const auto& c : cases) EXPECT_TRUE(Logged(c.line)) << c.line;
  // Only the honest entry is scheduled; its removal leaves everything else as it was.
  ASSERT_EQ(manager.Scheduled().removeFolders.size(), 1u);
  EXPECT_TRUE(manager.Scheduled().removeFiles.empty());
  manager.CommonStepFolders(manager.Scheduled().removeFolders, true, kBase);
  EXPECT_FALSE(Exists(kBase + L"\\bin"));
  EXPECT_EQ(Joined(Changed()), "");

  // The family's common folder may lie one level up, beside the product folder, and no higher.
  EXPECT_EQ(CommonTools::NameOutsideReason(L"..\\Common", 1), L"");
  EXPECT_NE(CommonTools::NameOutsideReason(L"..\\Common"), L"");
  EXPECT_NE(CommonTools::NameOutsideReason(L"x\\..\\..\\Common", 1), L"");
  EXPECT_EQ(CommonTools::NameOutsideReason(L"bin\\.\\tools\\app.exe"), L"");
  EXPECT_EQ(CommonTools::NameOutsideReason(L"C:\\P\\x", 0, true), L"");
  EXPECT_NE(CommonTools::NameOutsideReason(L"C:\\P\\..\\..\\x", 0, true), L"");
}

TEST_F(StepGuardTest, EntriesMadeWithoutTheReadingStillCannotReachOutsideTheProduct) {
  // A later step that builds its entries itself: the folder and file steps bound them.
  manager.CommonStepFolders({Entry(L"C:\\"), Entry(L"..\\Other"), Entry(L"x", L"..\\..\\..")}, true,
                            kBase);
  manager.CommonStepFiles({Entry(L"..\\victim.txt"), Entry(L"C:\\victim.txt")}, true, kBase);
  manager.CommonStepFolders({Entry(L"..\\Other")}, false, kBase);
  EXPECT_TRUE(
      Logged("ERROR : CommonStepFolders: Folder = C:\\Program Files (x86)\\TOLMERA\\Other "
             "lies outside the folder C:\\Program Files (x86)\\TOLMERA\\Product"));
  EXPECT_TRUE(
      Logged("ERROR : CommonStepFiles: File = C:\\Program Files (x86)\\TOLMERA\\victim.txt "
             "lies outside the folder C:\\Program Files (x86)\\TOLMERA\\Product"));
  EXPECT_EQ(Joined(Changed()), "");
  EXPECT_TRUE(Exists(kBase + L"\\bin\\app.exe"));
}

TEST_F(StepGuardTest, AFullTargetPutsTheEntryInTheFamilysDataFolderAndNowhereElse) {
  const std::wstring data = L"C:\\ProgramData\\TOLMERA";
  manager.Common().productsFile = data + L"\\TolmeraInstall.cfg";
  Write(data + L"\\Design 7\\user-notes.txt", "kept by the user");
  Write(data + L"\\Other 2\\other.dat", "another product's data");
  const std::wstring body =
      L"<INSTALL><DIRECTORY Name=\"Design 7\\cache\" Target=\"C:\\ProgramData\\TOLMERA\"/>"
      L"<DIRECTORY Name=\"data\" Target=\"C:\\Program Files (x86)\\TOLMERA\\Other\"/>"
      L"<DIRECTORY Name=\"System32\" Target=\"C:\\Windows\"/>"
      L"<FILE Name=\"win.ini\" Target=\"C:\\Windows\"/>"
      L"<DIRECTORY Name=\"x\" Target=\"C:\\ProgramData\\TOLMERA\\..\\..\\Windows\"/></INSTALL>";
  manager.SetAction(kInstall, kLocal);
  manager.CommonSteps(Child(Script(body), L"INSTALL"), false, kBase);
  EXPECT_TRUE(
      Logged("Target \"C:\\ProgramData\\TOLMERA\\..\\..\\Windows\" of a DIRECTORY is "
             "refused: it climbs out"));
  manager.CommonStepFolders(manager.Scheduled().installFolders, false, kBase);
  manager.CommonStepFiles(manager.Scheduled().installFiles, false, kBase);
  EXPECT_TRUE(platform::PathIsDirectoryW(data + L"\\Design 7\\cache"));
  for (const char* refused :
       {"Folder = C:\\Program Files (x86)\\TOLMERA\\Other\\data lies outside the folder "
        "C:\\ProgramData\\TOLMERA and is skipped",
        "Folder = C:\\Windows\\System32 lies outside the folder C:\\ProgramData\\TOLMERA",
        "File = C:\\Windows\\win.ini lies outside the folder C:\\ProgramData\\TOLMERA"})
    EXPECT_TRUE(Logged(refused)) << refused;
  EXPECT_FALSE(Exists(L"C:\\Program Files (x86)\\TOLMERA\\Other\\data"));

  // The removal takes the folder it made and leaves the user's and the other product's files.
  manager.SetAction(kUninstall, kLocal);
  manager.Scheduled().Clear();
  manager.CommonSteps(Child(Script(body), L"INSTALL"), true, kBase);
  manager.CommonStepFolders(manager.Scheduled().removeFolders, true, kBase);
  manager.CommonStepFiles(manager.Scheduled().removeFiles, true, kBase);
  EXPECT_FALSE(Exists(data + L"\\Design 7\\cache"));
  EXPECT_EQ(ReadBack(data + L"\\Design 7\\user-notes.txt"), "kept by the user");
  EXPECT_EQ(ReadBack(data + L"\\Other 2\\other.dat"), "another product's data");
  EXPECT_EQ(Joined(Changed()), "");

  // Without a record's folder, or with one in a place of the system, a full Target has no home.
  for (const wchar_t* record : {L"", L"C:\\Windows\\records.cfg", L"C:\\records.cfg"}) {
    manager.Common().productsFile = record;
    manager.Scheduled().Clear();
    manager.CommonSteps(Child(Script(body), L"INSTALL"), true, kBase);
    manager.CommonStepFolders(manager.Scheduled().removeFolders, true, kBase);
  }
  EXPECT_EQ(ReadBack(data + L"\\Design 7\\user-notes.txt"), "kept by the user");
  EXPECT_EQ(Joined(Changed()), "");
}

TEST_F(StepGuardTest, AProductFolderThatIsAPlaceOfTheSystemIsRefusedWithResult13) {
  for (const wchar_t* folder :
       {L"C:\\", L"C:\\Windows", L"C:\\Windows\\System32", L"C:\\Users", L"C:\\Users\\User",
        L"C:\\Users\\User\\Documents", L"C:\\Program Files (x86)", L"C:\\ProgramData",
        L"C:\\Users\\Public", L"C:\\Users\\User\\AppData", L"c:\\windows\\.", L"Z:\\tmp"}) {
    StepsManager m;
    debug.clear();
    m.CommonStepFolders({Entry(L"System32"), Entry(L"Documents"), Entry(L"drivers")}, true, folder);
    m.CommonStepFiles({Entry(L"win.ini"), Entry(L"victim.txt")}, true, folder);
    EXPECT_EQ(m.Result(), irErrorDuringInstall) << platform::ToUtf8(folder);
    EXPECT_TRUE(Logged("ERROR : CommonStepFolders: the product folder"))
        << platform::ToUtf8(folder);
  }
  EXPECT_EQ(Joined(Changed()), "");
  EXPECT_TRUE(InstallSteps::IsProtectedFolder(L"C:\\Users\\Default\\Documents"))
      << "another profile's special folders too";
  EXPECT_TRUE(InstallSteps::IsProtectedFolder(L"C:\\Windows\\Temp\\Sub"));
  EXPECT_FALSE(InstallSteps::IsProtectedFolder(kBase));
}

TEST_F(StepGuardTest, AnItemsFileOfAnotherFolderOrItemsOutsideCannotWidenTheRemoval) {
  // The product's items say it was installed in kBase; the record now says C:\Program Files
  // (x86)\TOLMERA (another product's folder holds it).
  InstallSteps::InstalledItems items;
  items.pv = manager.GetPV();
  items.version = manager.GetVersion();
  items.base = kBase;
  items.paths = {kBase + L"\\bin", L"C:\\Program Files (x86)\\TOLMERA\\Other",
                 L"C:\\Users\\User\\Documents"};
  ASSERT_TRUE(InstallSteps::SaveInstalledItems(manager.InstalledItemsPath(), items));
  before = tlmachine::TakeSnapshot(true);
  EXPECT_FALSE(manager.GuardRun(L"C:\\Program Files (x86)\\TOLMERA", L"RunSteps"));
  EXPECT_TRUE(
      Logged("ERROR : RunSteps: the product folder C:\\Program Files (x86)\\TOLMERA is "
             "not the folder " +
             platform::ToUtf8(kBase) + " the product was installed in"));
  EXPECT_EQ(manager.Result(), irErrorDuringInstall);

  // In its own folder, items that lie outside it stay as they are.
  StepsManager m;
  m.CommonStepFolders({Entry(L"bin")}, true, kBase);
  auto* guard = &m.Guard();
  EXPECT_FALSE(guard->MayRemove(L"C:\\Program Files (x86)\\TOLMERA\\Other", L"Test"));
  EXPECT_FALSE(guard->DeleteFolderTree(L"C:\\Users\\User\\Documents", L"Test"));
  EXPECT_FALSE(Exists(kBase + L"\\bin"));
  EXPECT_EQ(Joined(Changed()), "");

  // A file that is no regular file of this kind, or too large, is refused, not followed.
  std::wstring error;
  platform::CreateDirectoryWithParents(manager.InstalledItemsPath() + L".d");
  EXPECT_FALSE(
      InstallSteps::LoadInstalledItems(manager.InstalledItemsPath() + L".d", items, error));
  EXPECT_EQ(error, L"it is no regular file");
  Write(manager.InstalledItemsPath() + L".big",
        std::string(InstallSteps::kMaxItemsFileBytes + 1, 'x'));
  EXPECT_FALSE(
      InstallSteps::LoadInstalledItems(manager.InstalledItemsPath() + L".big", items, error));
  EXPECT_NE(error.find(L"larger than"), std::wstring::npos);
}

TEST_F(StepGuardTest, WithItsItemsAProductRemovesOnlyWhatItPutIntoAFolderThatWasThere) {
  // The product extracts into a folder the user had made before: only its own files go.
  Package({{"data/new.dat", "new"}, {"data/sub/deep.dat", "deep"}});
  Write(kBase + L"\\data\\mine.dat", "the user's");
  StepsManager installer;
  installer.UseStorage(storage);
  installer.CommonStepFolders({Entry(L"data")}, false, kBase);
  ASSERT_TRUE(Exists(kBase + L"\\data\\sub\\deep.dat"));
  const auto items = installer.Guard().AllItems(L"T", 1);
  EXPECT_TRUE(items.paths.count(kBase + L"\\data\\new.dat"));
  EXPECT_FALSE(items.paths.count(kBase + L"\\data\\mine.dat"));
  StepsManager remover;
  remover.Product().pv = L"T";
  remover.Product().version = 1;
  ASSERT_TRUE(InstallSteps::SaveInstalledItems(remover.InstalledItemsPath(), items));
  remover.CommonStepFolders({Entry(L"data")}, true, kBase);
  EXPECT_FALSE(Exists(kBase + L"\\data\\new.dat"));
  EXPECT_FALSE(Exists(kBase + L"\\data\\sub"));
  EXPECT_EQ(ReadBack(kBase + L"\\data\\mine.dat"), "the user's");
  EXPECT_TRUE(Logged("was there before this product; only its 3 items of the product go"));
}

TEST_F(StepGuardTest, SharesOnlyOfTheProductsFoldersAndOnlyTheProductsOwnAreRemoved) {
  manager.SetAction(kInstall, kServer);
  platform::CreateDirectoryWithParents(kBase + L"\\projects");
  auto root = Script(
      L"<SERVER><SHARE Name=\"Drive\" Path=\"C:\\\" Access=\"f\"/>"
      L"<SHARE Name=\"Win\" Path=\"C:\\Windows\" read=\"1\"/>"
      L"<SHARE Name=\"Up\" Path=\"..\\..\" read=\"1\"/>"
      L"<SHARE Name=\"Abs\" Path=\"C:\\Program Files (x86)\\TOLMERA\\Other\" read=\"1\"/>"
      L"<SHARE Name=\"Projects\" Path=\"projects\" read=\"1\"/></SERVER>");
  manager.ProcessServer(root, false, kBase);
  for (const wchar_t* name : {L"Drive", L"Win", L"Up", L"Abs"})
    EXPECT_FALSE(HasShare(name)) << platform::ToUtf8(name);
  EXPECT_TRUE(
      Logged("ERROR : CommonStepShare: C:\\ is a protected place of the system and is "
             "not shared"));
  EXPECT_TRUE(Logged("ERROR : CommonStepShare: C:\\Windows is a protected place"));
  EXPECT_TRUE(Logged("ERROR : CommonStepShare: Path \"..\\..\" of the SHARE Up is refused"));
  EXPECT_TRUE(
      Logged("ERROR : CommonStepShare: C:\\Program Files (x86)\\TOLMERA\\Other lies "
             "outside the product folder"));
  EXPECT_TRUE(InstallSteps::IsSharedAs(kBase + L"\\projects", L"Projects"));
  // The share primitive itself refuses the drive, whoever calls it.
  EXPECT_FALSE(InstallSteps::ShareFolder(L"C:\\", L"Raw", platform::ACCESS_ALL));

  // Another product's share of the same name, of another folder, stays at the removal.
  ASSERT_TRUE(platform::NetShareDel(nullptr, L"Projects", 0) == platform::NERR_Success);
  platform::SHARE_INFO_502 other;
  other.shi502_netname = L"Projects";
  other.shi502_type = platform::STYPE_DISKTREE;
  other.shi502_max_uses = platform::SHI_USES_UNLIMITED;
  other.shi502_path = L"C:\\Program Files (x86)\\TOLMERA\\Other";
  ASSERT_EQ(platform::NetShareAdd(nullptr, 502, other, nullptr), platform::NERR_Success);
  manager.SetAction(kUninstall, kServer);
  manager.ProcessServer(root, true, kBase);
  EXPECT_TRUE(InstallSteps::IsSharedAs(L"C:\\Program Files (x86)\\TOLMERA\\Other", L"Projects"));
  EXPECT_TRUE(
      Logged("ERROR : CommonStepShare: the share Projects of C:\\Program Files "
             "(x86)\\TOLMERA\\Other was not made by this product"));
  // Nothing outside the product changed but that other product's share (made by the test).
  for (const auto& line : Changed())
    EXPECT_NE(line.find("LanmanServer\\Shares"), std::string::npos) << line;
}

TEST_F(StepGuardTest, ProgramsOfTheHostAreNeverStartedAndArgumentsStayLiteral) {
  const std::string marker = temp_ + "/host-ran";
  manager.SetAction(kInstall, kLocal);
  // The host's own shell through Z:, with a line that would create the marker.
  for (const std::wstring& program :
       std::vector<std::wstring>{L"Z:\\bin\\sh", L"Z:\\usr\\bin\\touch", L"C:\\..\\..\\Z:\\bin\\sh",
                                 L"\\\\?\\Z:\\bin\\sh", platform::HostToWindowsPath("/bin/sh")}) {
    debug.clear();
    EXPECT_FALSE(manager.CallExecProcess(program, L"-c 'touch " + platform::FromUtf8(marker) + L"'",
                                         true, true))
        << platform::ToUtf8(program);
    EXPECT_TRUE(Logged("is not on a drive of this computer and is not started") ||
                Logged("CreateProcess failed"))
        << platform::ToUtf8(program);
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
  // An Exec node naming one is an error of the run.
  auto root = Script(L"<INSTALL><Exec Path=\"Z:\\bin\\sh\" CmdArguments=\"-c true\"/></INSTALL>");
  debug.clear();
  manager.CommonSteps(Child(root, L"INSTALL"), false, kBase);
  EXPECT_TRUE(
      Logged("ERROR : StepGuard: the program Z:\\bin\\sh is not on a drive of this "
             "computer and is not started"));
  EXPECT_TRUE(Logged("ERROR : CommonStepExec: Z:\\bin\\sh -c true"));

  // A program of the machine gets its arguments as they stand: no shell reads them.
  const std::string out = temp_ + "/args.txt";
  Write(L"C:\\Tools\\echo.exe",
        "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done > '" + out + "'\n");
  ASSERT_TRUE(manager.CallExecProcess(L"C:\\Tools\\echo.exe",
                                      L"a;touch " + platform::FromUtf8(marker) + L" $(touch " +
                                          platform::FromUtf8(marker) + L") `id` |x",
                                      true, true));
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "[a;touch][" + marker + "][$(touch][" + marker + ")][`id`][|x]");
  EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST_F(StepGuardTest, TheRegistryClimbKeepsKeysThatWereThereBeforeTheProduct) {
  manager.SetAction(kInstall, kLocal);
  {
    platform::RegKey policies;
    ASSERT_EQ(policies.Create(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Empty"),
              platform::ERROR_SUCCESS);
  }
  before = tlmachine::TakeSnapshot(true);
  auto root = Script(
      L"<REGISTRY><HKLM KeyName=\"SOFTWARE\\Policies\\Tolmera\\Design\" ValueName=\"v\" "
      L"TextValue=\"x\"/><HKLM KeyName=\"SOFTWARE\\Policies\\Empty\" ValueName=\"w\" "
      L"TextValue=\"y\"/><HKLM KeyName=\"\\SOFTWARE\\Policies\" ValueName=\"z\" "
      L"TextValue=\"z\"/></REGISTRY>");
  manager.ProcessRegistry(root, InstallSteps::kRegistryInstall);
  EXPECT_TRUE(
      Logged("ERROR : ProcessRegistry: KeyName \"\\SOFTWARE\\Policies\" of HKLM is "
             "refused: it starts at a root"));
  // The product's items as the run would keep them, then a removal in another run.
  StepsManager remover;
  remover.Product().pv = L"T";
  remover.Product().version = 1;
  manager.CommonStepFolders({}, false, kBase);  // the guard's folder of the run
  ASSERT_TRUE(InstallSteps::SaveInstalledItems(remover.InstalledItemsPath(),
                                               manager.Guard().AllItems(L"T", 1)));
  remover.SetAction(kUninstall, kLocal);
  remover.CommonStepFolders({}, true, kBase);  // the run's folder, with the product's items
  remover.ProcessRegistry(root, InstallSteps::kRegistryRemove);
  platform::RegKey k;
  EXPECT_NE(k.Open(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Tolmera"),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(k.Open(platform::HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Empty"),
            platform::ERROR_SUCCESS)
      << "a key the product only wrote into stays";
  EXPECT_TRUE(
      Logged("ProcessRegistry: key SOFTWARE\\Policies\\Empty was not made by this product "
             "and is kept"));
  for (const auto& line : Changed())
    EXPECT_NE(line.find("SOFTWARE\\Policies\\Empty : \"w\""), std::string::npos) << line;
}

TEST_F(StepGuardTest, TheGuardIsTheOnlyWayToTheRawCalls) {
  // By construction: the tree removal and the access-list writer refuse protected places
  // whoever calls them, a step that forgot the guard included.
  InstallSteps::DeleteFolder(L"C:\\Windows");
  InstallSteps::DeleteFolder(L"C:\\Users\\User\\Documents");
  InstallSteps::DeleteFolder(L"C:\\");
  EXPECT_TRUE(
      Logged("ERROR : DeleteFolder: C:\\Windows is a protected place of the system and is "
             "not deleted"));
  EXPECT_NE(StepGuard::WriteDacl(L"C:\\Windows", platform::DACL_SECURITY_INFORMATION, nullptr),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(InstallSteps::AddAccessRights(L"C:\\", 0x10000000), false);
  EXPECT_EQ(Joined(Changed()), "");

  // And by reading the sources: no step or run calls a raw destructive or widening function
  // of the machine but the guard, the tree walker it uses and the key primitives (which refuse
  // the roots and their first level, and climb only over keys the guard says are the product's).
  const char* raw[] = {
      "platform::DeleteFileW",      "platform::RemoveDirectoryW", "platform::RegDeleteTreeW",
      "platform::RegDeleteKeyExW",  "platform::RegDeleteKeyW",    "platform::RegDeleteValueW",
      "platform::NetShareAdd",      "platform::NetShareDel",      "platform::SetNamedSecurityInfoW",
      "platform::SetFileSecurityW", "platform::CreateProcessW",   "MOVEFILE_DELAY_UNTIL_REBOOT"};
  namespace fs = std::filesystem;
  const fs::path source = TL_INSTALLER_SOURCE_DIR;
  std::vector<fs::path> files{source / "manager" / "ProcessingRuns.cpp"};
  for (const auto& e : fs::directory_iterator(source / "steps"))
    if (e.path().extension() == ".cpp") files.push_back(e.path());
  ASSERT_GT(files.size(), 10u);
  for (const auto& f : files) {
    const std::string name = f.filename().string();
    if (name == "StepGuard.cpp" || name == "FileUtilities.cpp" || name == "RegistryStep.cpp")
      continue;
    std::ifstream in(f);
    std::stringstream text;
    text << in.rdbuf();
    for (const char* call : raw)
      EXPECT_EQ(text.str().find(call), std::string::npos) << name << " calls " << call;
  }
}
