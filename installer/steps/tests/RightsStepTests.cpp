// The rights step: the letters, the read-only flags, the grant to Everyone in the access lists
// of a tree, and what happens on volumes without lists and at paths too long for the walk.
#include "platform/Security.h"
#include "steps/FileUtilities.h"
#include "steps/RightsStep.h"
#include "steps/tests/StepsFixture.h"

#include <sys/xattr.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

using namespace InstallManager;
using tltest::StepsTest;

namespace {

const std::wstring kProduct = L"C:\\Program Files (x86)\\TOLMERA\\Rights";

bool ReadOnly(const std::wstring& path) {
  return (platform::GetFileAttributesW(path) & platform::FILE_ATTRIBUTE_READONLY) != 0;
}

// The access list of a file or folder: explicit entries and inherited ones, in order.
std::vector<platform::Ace> Dacl(const std::wstring& path) {
  platform::SecurityDescriptor sd;
  EXPECT_EQ(platform::GetObjectSecurity(path, platform::SE_FILE_OBJECT, sd),
            platform::ERROR_SUCCESS);
  return sd.dacl ? *sd.dacl : std::vector<platform::Ace>{};
}

bool IsEveryone(const platform::Ace& ace) { return ace.sid == platform::EveryoneSid(); }
bool Inherited(const platform::Ace& ace) { return (ace.flags & platform::INHERITED_ACE) != 0; }

int ExplicitEveryone(const std::vector<platform::Ace>& dacl) {
  return static_cast<int>(std::count_if(dacl.begin(), dacl.end(), [](const platform::Ace& a) {
    return IsEveryone(a) && !Inherited(a);
  }));
}

}  // namespace

TEST(RightsMask, LettersCountInTheirOwnCaseAndNoLetterMeansFullAccess) {
  EXPECT_EQ(InstallSteps::RightsMask(L"r"), 0x80000000u);
  EXPECT_EQ(InstallSteps::RightsMask(L"rw"), 0xC0000000u);
  EXPECT_EQ(InstallSteps::RightsMask(L"fewrdapc"), 0xF0000074u);
  EXPECT_EQ(InstallSteps::RightsMask(L""), 0x10000000u);
  EXPECT_EQ(InstallSteps::RightsMask(L"0"), 0x10000000u);
  EXPECT_EQ(InstallSteps::RightsMask(L"R"), 0x10000000u) << "upper case is no letter";
  // Letters are read wherever they stand: "Users:RW" holds an "e" and an "r".
  EXPECT_EQ(InstallSteps::RightsMask(L"Users:RW"), 0xA0000000u);
}

class RightsStep : public StepsTest {
 protected:
  void Tree() {
    Write(kProduct + L"\\a.txt", "a");
    Write(kProduct + L"\\sub\\b.txt", "b");
    Write(kProduct + L"\\sub\\deeper\\c.txt", "c");
  }
};

TEST_F(RightsStep, LowerCaseReadMakesTheTreeReadOnlyAndUpperCaseDiffersBetweenTheTwoPasses) {
  Tree();
  ASSERT_EQ(InstallSteps::SetRights(kProduct, L"r", L"y", L"-EVERYONE:"), 1) << debug;
  for (const auto& p :
       {kProduct, kProduct + L"\\a.txt", kProduct + L"\\sub", kProduct + L"\\sub\\deeper\\c.txt"})
    EXPECT_TRUE(ReadOnly(p)) << platform::ToUtf8(p);
  // "R" in the read-only pass is no letter: full access, so the flags go.
  EXPECT_TRUE(InstallSteps::SetReadOnlyFlags(kProduct, L"R", false));
  EXPECT_FALSE(ReadOnly(kProduct + L"\\sub\\deeper\\c.txt"));
  EXPECT_FALSE(ReadOnly(kProduct));
  // In SetRights it is lower-cased: read only again.
  ASSERT_EQ(InstallSteps::SetRights(kProduct, L"R", L"y", L"-EVERYONE:"), 1) << debug;
  EXPECT_TRUE(ReadOnly(kProduct + L"\\sub\\b.txt"));
  EXPECT_TRUE(Logged("INFO : SetRights: " + platform::ToUtf8(kProduct) +
                     " Rights = R Enum = y AccountName = -EVERYONE:"));
  EXPECT_TRUE(Logged("INFO : " + std::string(66, '-')));
}

TEST_F(RightsStep, ARemovePassClearsTheFlagsAndGrantsNothing) {
  Tree();
  ASSERT_EQ(InstallSteps::SetRights(kProduct, L"r", L"y", L"-EVERYONE:"), 1);
  auto root = Script(L"<RIGHTS><DIRECTORY Name=\"Rights\" Rights=\"r\"/></RIGHTS>");
  auto before = Dacl(kProduct + L"\\a.txt");
  manager.ProcessRights(root, true, L"C:\\Program Files (x86)\\TOLMERA");
  EXPECT_FALSE(ReadOnly(kProduct + L"\\a.txt"));
  EXPECT_FALSE(ReadOnly(kProduct + L"\\sub\\deeper"));
  EXPECT_FALSE(ReadOnly(kProduct));
  EXPECT_EQ(Dacl(kProduct + L"\\a.txt").size(), before.size());
  EXPECT_TRUE(Logged("INFO : ProcessRights: Start"));
}

TEST_F(RightsStep, TwoRunsLeaveOneExplicitEveryoneEntryAfterTheOthersAndBeforeTheInherited) {
  Tree();
  // An explicit list of our own first: Users may read, Everyone may read.
  platform::PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(platform::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;WD)", platform::SDDL_REVISION_1, &sd, nullptr));
  bool present = false, defaulted = false;
  platform::ACL* acl = nullptr;
  ASSERT_TRUE(platform::GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted));
  ASSERT_EQ(platform::SetNamedSecurityInfoW(kProduct.c_str(), platform::SE_FILE_OBJECT,
                                            platform::DACL_SECURITY_INFORMATION |
                                                platform::UNPROTECTED_DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, acl, nullptr),
            platform::ERROR_SUCCESS);
  platform::LocalFree(sd);

  for (int run = 0; run < 2; ++run)
    ASSERT_EQ(InstallSteps::SetRights(kProduct, L"rw", L"y", L"-EVERYONE:"), 1) << debug;
  auto dacl = Dacl(kProduct);
  ASSERT_GE(dacl.size(), 2u);
  EXPECT_EQ(ExplicitEveryone(dacl), 1);
  EXPECT_FALSE(IsEveryone(dacl[0])) << "the other explicit entry stays first";
  EXPECT_FALSE(Inherited(dacl[0]));
  EXPECT_TRUE(IsEveryone(dacl[1]));
  EXPECT_FALSE(Inherited(dacl[1]));
  EXPECT_EQ(dacl[1].flags & 3, 3) << "object and container inherit";
  for (size_t i = 2; i < dacl.size(); ++i) EXPECT_TRUE(Inherited(dacl[i])) << i;
  // Every file of the tree has its own explicit grant too, once.
  EXPECT_EQ(ExplicitEveryone(Dacl(kProduct + L"\\sub\\deeper\\c.txt")), 1);
  EXPECT_TRUE(Logged("INFO :    AddAccessRights() succeeded. File = " + platform::ToUtf8(kProduct) +
                     ", Account = -EVERYONE:"));
}

TEST_F(RightsStep, AnEmptyFolderIsGrantedItself) {
  platform::CreateDirectoryWithParents(kProduct + L"\\empty");
  EXPECT_EQ(InstallSteps::SetRights(kProduct + L"\\empty", L"", L"y", L"-EVERYONE:"), 1) << debug;
  EXPECT_EQ(ExplicitEveryone(Dacl(kProduct + L"\\empty")), 1);
}

TEST_F(RightsStep, AWalkKeepsTheProtectedPlacesItReadAndStillRefusesThem) {
  // A profile's tree holds special folders: the walk meets the first and stops there, as with
  // each entry judged afresh.
  ASSERT_TRUE(platform::PathIsDirectoryW(L"C:\\Users\\User\\Documents"));
  EXPECT_EQ(InstallSteps::SetRights(L"C:\\Users\\User", L"r", L"y", L"-EVERYONE:"), 0);
  EXPECT_TRUE(
      Logged("ERROR : StepGuard: the access list of C:\\Users\\User\\AppData is not "
             "changed: it is a protected place"))
      << debug;
  EXPECT_EQ(ExplicitEveryone(Dacl(L"C:\\Users\\User\\Documents")), 0);

  // The places are read once while a walk lasts, and afresh once it has ended: a profile
  // folder made meanwhile counts from then on.
  const std::wstring newcomer = L"C:\\Users\\Newcomer";
  {
    InstallSteps::ProtectedFoldersKept kept;
    EXPECT_TRUE(InstallSteps::IsProtectedFolder(L"C:\\Users\\User\\Documents"));
    EXPECT_FALSE(InstallSteps::IsProtectedFolder(kProduct));
    ASSERT_EQ(platform::CreateDirectoryW(newcomer), platform::ERROR_SUCCESS);
    EXPECT_FALSE(InstallSteps::IsProtectedFolder(newcomer));
    { InstallSteps::ProtectedFoldersKept inner; }  // an inner one ending keeps the outer's list
    EXPECT_FALSE(InstallSteps::IsProtectedFolder(newcomer));
    EXPECT_TRUE(InstallSteps::IsProtectedFolder(L"C:\\Users\\User\\Documents"));
  }
  EXPECT_TRUE(InstallSteps::IsProtectedFolder(newcomer));
}

TEST_F(RightsStep, AnEnumerationThatFailsAtALongPathIsAFailureNotASuccess) {
  // A folder whose listing pattern ("\\*.*") reaches 260 characters.
  std::wstring deep = kProduct + L"\\" + std::wstring(258 - kProduct.size() - 1, L'x');
  ASSERT_LT(deep.size(), 260u);
  ASSERT_EQ(platform::CreateDirectoryWithParents(deep), platform::ERROR_SUCCESS);
  EXPECT_EQ(InstallSteps::SetRights(kProduct, L"r", L"y", L"-EVERYONE:"), 0);
  EXPECT_TRUE(Logged("WARNING :    Error! Enumeration failed, #123\n"));
  EXPECT_EQ(ExplicitEveryone(Dacl(kProduct)), 0) << "the root is not granted";
}

TEST_F(RightsStep, AnEntryWithoutANameIsSkippedAndAMissingRightsGrantsFullAccess) {
  Tree();
  auto root =
      Script(L"<RIGHTS><DIRECTORY Name=\"\" Rights=\"r\"/><DIRECTORY Name=\"Rights\"/></RIGHTS>");
  manager.ProcessRights(root, false, L"C:\\Program Files (x86)\\TOLMERA");
  EXPECT_TRUE(Logged("ERROR : CommonStepRights: a rights entry without a Name"));
  EXPECT_FALSE(ReadOnly(kProduct + L"\\a.txt")) << "the nameless entry did nothing";
  auto dacl = Dacl(kProduct);
  auto it = std::find_if(dacl.begin(), dacl.end(),
                         [](const platform::Ace& a) { return IsEveryone(a) && !Inherited(a); });
  ASSERT_NE(it, dacl.end());
  EXPECT_EQ(it->mask & 0x10000000u, 0x10000000u) << "GENERIC_ALL, or what it maps to";
}

class RightsOnFat : public StepsTest {
 protected:
  platform::MachineConfig Config() override {
    platform::MachineConfig c = platform::MachineConfig::Defaults();
    platform::DriveConfig d;
    d.letter = L'E';
    d.fileSystem = L"FAT32";
    c.drives.push_back(d);
    std::sort(c.drives.begin(), c.drives.end(),
              [](auto& a, auto& b) { return a.letter < b.letter; });
    return c;
  }
};

TEST_F(RightsOnFat, AFatVolumeGetsNoEntryAndNoAttributeChangeButTheReadOnlyPassRuns) {
  // (The product folder is a folder of the volume: its root is no product's folder.)
  Write(L"E:\\Base\\Product\\a.txt", "a");
  EXPECT_EQ(InstallSteps::SetRights(L"E:\\Base\\Product", L"r", L"y", L"-EVERYONE:"), 0);
  EXPECT_TRUE(Logged("INFO :    Folder = E:\\Base\\Product  is not NTFS"));
  EXPECT_FALSE(ReadOnly(L"E:\\Base\\Product\\a.txt"));
  auto root = Script(L"<RIGHTS><DIRECTORY Name=\"Product\" Rights=\"r\"/></RIGHTS>");
  manager.ProcessRights(root, false, L"E:\\Base");
  EXPECT_TRUE(ReadOnly(L"E:\\Base\\Product\\a.txt"))
      << "the read-only pass of the entry still runs";
  EXPECT_TRUE(
      Logged("WARNING : CommonStepRights: Folder = E:\\Base\\Product is not set permissions r"));
}

// ---- the grant to Everyone against the same grants made one public call at a time

namespace {

// The stored text of a host object ("" when it has none).
std::string StoredText(const std::string& host) {
  char buf[8192];
  ssize_t n = ::lgetxattr(host.c_str(), "user.NTSD", buf, sizeof buf);
  return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

void Store(const std::string& host, const std::string& text) {
  ASSERT_EQ(::lsetxattr(host.c_str(), "user.NTSD", text.data(), text.size(), 0), 0) << host;
}

// A list from SDDL, written on `path` (its explicit entries; the inherited ones follow).
void SetList(const std::wstring& path, const std::wstring& sddl,
             platform::SECURITY_INFORMATION what) {
  platform::PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(platform::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      sddl, platform::SDDL_REVISION_1, &sd, nullptr));
  bool present = false, defaulted = false;
  platform::ACL* acl = nullptr;
  ASSERT_TRUE(platform::GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted));
  EXPECT_EQ(platform::SetNamedSecurityInfoW(path.c_str(), platform::SE_FILE_OBJECT, what, nullptr,
                                            nullptr, acl, nullptr),
            platform::ERROR_SUCCESS)
      << platform::ToUtf8(path);
  platform::LocalFree(sd);
}

// The grant of `mask` to Everyone as separate calls: the list read, a new one made of the
// explicit entries (Everyone's left out), Everyone's entry and the inherited ones, written back.
// An audit list handed along but not asked to be written makes every write take its long way.
bool GrantOneCallAtATime(const std::wstring& path, platform::DWORD mask) {
  platform::PSECURITY_DESCRIPTOR old = nullptr;
  platform::ACL* oldDacl = nullptr;
  if (platform::GetNamedSecurityInfoW(path.c_str(), platform::SE_FILE_OBJECT,
                                      platform::DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &oldDacl, nullptr, &old) != platform::ERROR_SUCCESS)
    return false;
  platform::WORD control = 0;
  platform::DWORD revision = 0;
  platform::GetSecurityDescriptorControl(old, &control, &revision);
  auto sd = platform::SecurityDescriptor::FromBinary(old);
  platform::LocalFree(old);
  if (!sd) return false;
  std::vector<platform::Ace> list;
  std::size_t i = 0;
  const std::vector<platform::Ace> entries = sd->dacl ? *sd->dacl : std::vector<platform::Ace>{};
  for (; i < entries.size() && !Inherited(entries[i]); ++i)
    if (!IsEveryone(entries[i])) list.push_back(entries[i]);
  platform::Ace everyone;
  everyone.flags = platform::OBJECT_INHERIT_ACE | platform::CONTAINER_INHERIT_ACE;
  everyone.mask = mask;
  everyone.sid = platform::EveryoneSid();
  list.push_back(everyone);
  for (; i < entries.size(); ++i) list.push_back(entries[i]);
  platform::SecurityDescriptor made;
  made.dacl = list;
  std::vector<platform::BYTE> bytes = made.ToBinary();
  bool present = false, defaulted = false;
  platform::ACL* acl = nullptr;
  platform::GetSecurityDescriptorDacl(bytes.data(), &present, &acl, &defaulted);
  platform::SECURITY_INFORMATION what = platform::DACL_SECURITY_INFORMATION;
  if (control & platform::SE_DACL_AUTO_INHERITED)
    what |= platform::UNPROTECTED_DACL_SECURITY_INFORMATION;
  else if (control & platform::SE_DACL_PROTECTED)
    what |= platform::PROTECTED_DACL_SECURITY_INFORMATION;
  platform::SecurityDescriptor audit;
  audit.dacl = std::vector<platform::Ace>{};
  std::vector<platform::BYTE> auditBytes = audit.ToBinary();
  platform::ACL* sacl = nullptr;
  platform::GetSecurityDescriptorDacl(auditBytes.data(), &present, &sacl, &defaulted);
  return platform::SetNamedSecurityInfoW(path.c_str(), platform::SE_FILE_OBJECT, what, nullptr,
                                         nullptr, acl, sacl) == platform::ERROR_SUCCESS;
}

// The walk of the rights step made of those calls: a folder's entries, then each sub-folder's
// tree (links are entries, never entered), the folder itself last; the first failure ends it.
bool GrantEntriesOneCallAtATime(const std::wstring& folder, platform::DWORD mask) {
  std::vector<platform::FindData> entries;
  platform::FindAll(folder + L"\\*.*", entries, false);
  std::vector<std::wstring> folders;
  for (const auto& e : entries) {
    if (e.fileName == L"." || e.fileName == L"..") continue;
    const std::wstring p = folder + L"\\" + e.fileName;
    if (!GrantOneCallAtATime(p, mask)) return false;
    if ((e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) &&
        !(e.attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT))
      folders.push_back(p);
  }
  for (const auto& f : folders)
    if (!GrantEntriesOneCallAtATime(f, mask)) return false;
  return true;
}
bool GrantTreeOneCallAtATime(const std::wstring& folder, platform::DWORD mask) {
  return GrantEntriesOneCallAtATime(folder, mask) && GrantOneCallAtATime(folder, mask);
}

// Every list of a tree by its path inside it, as text.
std::map<std::wstring, std::wstring> Lists(const std::wstring& folder) {
  std::map<std::wstring, std::wstring> lists;
  std::function<void(const std::wstring&, const std::wstring&)> walk =
      [&](const std::wstring& path, const std::wstring& rel) {
        platform::SecurityDescriptor sd;
        lists[rel] = platform::GetObjectSecurity(path, platform::SE_FILE_OBJECT, sd) ==
                             platform::ERROR_SUCCESS
                         ? sd.ToSddl()
                         : L"(unreadable)";
        std::vector<platform::FindData> entries;
        if (!platform::PathIsDirectoryW(path) ||
            platform::FindAll(path + L"\\*.*", entries, false) != platform::ERROR_SUCCESS)
          return;
        for (const auto& e : entries)
          if (e.fileName != L"." && e.fileName != L".." &&
              !(e.attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT))
            walk(path + L"\\" + e.fileName, rel + L"\\" + e.fileName);
      };
  walk(folder, L"");
  return lists;
}

}  // namespace

class RightsLikeSeparateCalls : public StepsTest {
 protected:
  const std::wstring a = kProduct + L"\\A";
  const std::wstring b = kProduct + L"\\B";
  // The same tree in A and B: files in folders, a file and a folder with lists of their own,
  // a protected folder.
  void Twins() {
    for (const auto& root : {a, b}) {
      Write(root + L"\\one.txt", "1");
      Write(root + L"\\two.txt", "2");
      Write(root + L"\\sub\\three.txt", "3");
      Write(root + L"\\sub\\four.txt", "4");
      Write(root + L"\\sub\\deeper\\five.txt", "5");
      Write(root + L"\\own\\six.txt", "6");
      Write(root + L"\\shut\\seven.txt", "7");
      SetList(
          root + L"\\two.txt", L"D:(A;;FR;;;BU)(A;;FA;;;WD)",
          platform::DACL_SECURITY_INFORMATION | platform::UNPROTECTED_DACL_SECURITY_INFORMATION);
      SetList(
          root + L"\\own", L"D:(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;AU)",
          platform::DACL_SECURITY_INFORMATION | platform::UNPROTECTED_DACL_SECURITY_INFORMATION);
      SetList(root + L"\\shut", L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
              platform::DACL_SECURITY_INFORMATION | platform::PROTECTED_DACL_SECURITY_INFORMATION);
    }
  }
  void ExpectSameLists() {
    auto mine = Lists(a), theirs = Lists(b);
    ASSERT_EQ(mine.size(), theirs.size());
    for (const auto& [rel, text] : theirs)
      EXPECT_EQ(platform::ToUtf8(mine[rel]), platform::ToUtf8(text)) << platform::ToUtf8(rel);
  }
};

TEST_F(RightsLikeSeparateCalls, ATreeGrantedTwiceHoldsTheListsTheSeparateCallsMakeWithOneEntry) {
  Twins();
  ASSERT_EQ(InstallSteps::SetRights(a, L"rw", L"y", L"-EVERYONE:"), 1) << debug;
  ASSERT_TRUE(GrantTreeOneCallAtATime(b, InstallSteps::RightsMask(L"rw")));
  ExpectSameLists();
  // Again with other rights: Everyone's explicit entry is replaced, not added.
  ASSERT_EQ(InstallSteps::SetRights(a, L"r", L"y", L"-EVERYONE:"), 1) << debug;
  ASSERT_TRUE(GrantTreeOneCallAtATime(b, InstallSteps::RightsMask(L"r")));
  ExpectSameLists();
  for (const auto& path : {a, a + L"\\two.txt", a + L"\\sub\\deeper\\five.txt", a + L"\\shut"}) {
    auto dacl = Dacl(path);
    EXPECT_EQ(ExplicitEveryone(dacl), 1) << platform::ToUtf8(path);
    for (const auto& ace : dacl) {
      if (IsEveryone(ace) && !Inherited(ace)) {
        EXPECT_EQ(ace.mask, 0x80000000u) << platform::ToUtf8(path);
      }
    }
  }
}

TEST_F(RightsLikeSeparateCalls, AFoldersListChangedBetweenTwoGrantsInItCounts) {
  Twins();
  const platform::DWORD mask = InstallSteps::RightsMask(L"rw");
  // Two files of a folder that store the same text: one granted, then the folder's list
  // changed by the host itself, then the other.
  for (const auto& root : {a, b})
    for (const wchar_t* file : {L"\\sub\\three.txt", L"\\sub\\four.txt"})
      Store(platform::ToHostPath(root + file), "O:BAG:SYD:AI(A;;FA;;;BA)");
  ASSERT_TRUE(InstallSteps::AddAccessRights(a + L"\\sub\\three.txt", mask));
  ASSERT_TRUE(GrantOneCallAtATime(b + L"\\sub\\three.txt", mask));
  for (const auto& root : {a, b})
    Store(platform::ToHostPath(root + L"\\sub"), "D:AI(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)");
  ASSERT_TRUE(InstallSteps::AddAccessRights(a + L"\\sub\\four.txt", mask));
  ASSERT_TRUE(GrantOneCallAtATime(b + L"\\sub\\four.txt", mask));
  ExpectSameLists();
  EXPECT_NE(Lists(a)[L"\\sub\\four.txt"].find(L"(A;ID;FR;;;BU)"), std::wstring::npos)
      << platform::ToUtf8(Lists(a)[L"\\sub\\four.txt"]);
  // And by another call, between two grants of the same file.
  for (const auto& root : {a, b})
    SetList(root + L"\\sub", L"D:(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;AU)",
            platform::DACL_SECURITY_INFORMATION | platform::UNPROTECTED_DACL_SECURITY_INFORMATION);
  ASSERT_TRUE(InstallSteps::AddAccessRights(a + L"\\sub\\four.txt", mask));
  ASSERT_TRUE(GrantOneCallAtATime(b + L"\\sub\\four.txt", mask));
  ASSERT_TRUE(InstallSteps::AddAccessRights(a + L"\\sub\\three.txt", mask));
  ASSERT_TRUE(GrantOneCallAtATime(b + L"\\sub\\three.txt", mask));
  ExpectSameLists();
  const std::wstring four = Lists(a)[L"\\sub\\four.txt"];
  EXPECT_NE(four.find(L"(A;ID;0x1301bf;;;AU)"), std::wstring::npos) << platform::ToUtf8(four);
  EXPECT_EQ(four.find(L"(A;ID;FR;;;BU)"), std::wstring::npos) << platform::ToUtf8(four);
  // The file's own stored text changed by the host between two grants counts too.
  for (const auto& root : {a, b})
    Store(platform::ToHostPath(root + L"\\sub\\four.txt"), "D:(A;;FA;;;BA)(A;;FR;;;BG)");
  ASSERT_TRUE(InstallSteps::AddAccessRights(a + L"\\sub\\four.txt", mask));
  ASSERT_TRUE(GrantOneCallAtATime(b + L"\\sub\\four.txt", mask));
  ExpectSameLists();
  EXPECT_NE(Lists(a)[L"\\sub\\four.txt"].find(L"(A;;FR;;;BG)"), std::wstring::npos);
}

TEST_F(RightsLikeSeparateCalls, AnUnreadableStoredListStopsTheWalkAndIsLeftAsItIs) {
  Twins();
  const std::string bad = "D:(A;;FA;;;BU";
  for (const auto& root : {a, b}) Store(platform::ToHostPath(root + L"\\sub\\four.txt"), bad);
  EXPECT_EQ(InstallSteps::SetRights(a, L"rw", L"y", L"-EVERYONE:"), 0);
  EXPECT_FALSE(GrantTreeOneCallAtATime(b, InstallSteps::RightsMask(L"rw")));
  EXPECT_TRUE(Logged("WARNING :    GetFileSecurity() failed. Error #1338")) << debug;
  EXPECT_TRUE(Logged("WARNING :    AddAccessRights() failed. File = " +
                     platform::ToUtf8(a + L"\\sub\\four.txt")));
  EXPECT_EQ(StoredText(platform::ToHostPath(a + L"\\sub\\four.txt")), bad);
  EXPECT_EQ(ExplicitEveryone(Dacl(a)), 0) << "the walk stopped before the folder itself";
  ExpectSameLists();
  // A folder's grant passes its list on past the unreadable one, which keeps denying, to the
  // readable file beside it.
  ASSERT_TRUE(InstallSteps::AddAccessRights(a + L"\\sub", 0x80000000u));
  ASSERT_TRUE(GrantOneCallAtATime(b + L"\\sub", 0x80000000u));
  EXPECT_EQ(StoredText(platform::ToHostPath(a + L"\\sub\\four.txt")), bad);
  ExpectSameLists();
  EXPECT_NE(Lists(a)[L"\\sub\\three.txt"].find(L"(A;ID;FR;;;WD)"), std::wstring::npos)
      << platform::ToUtf8(Lists(a)[L"\\sub\\three.txt"]);
}

TEST_F(RightsLikeSeparateCalls, ALinkAmongTheEntriesIsNeverEnteredAndNeverLeadsOut) {
  Twins();
  Write(L"C:\\Keep\\precious.txt", "keep me");
  const std::string precious = C("Keep/precious.txt");
  const std::string preciousBefore = StoredText(precious);
  // A link to a folder of the drive is an entry of its own: its list is granted as the
  // system grants a link's, the folder it leads to is not walked.
  for (const char* root : {"A", "B"})
    std::filesystem::create_directory_symlink(
        C("Keep"), C(std::string("Program Files (x86)/TOLMERA/Rights/") + root + "/sub/link"));
  const int result = InstallSteps::SetRights(a, L"rw", L"y", L"-EVERYONE:");
  EXPECT_EQ(result == 1, GrantTreeOneCallAtATime(b, InstallSteps::RightsMask(L"rw"))) << debug;
  EXPECT_EQ(result, 1) << debug;
  EXPECT_EQ(StoredText(precious), preciousBefore) << "what the link leads to is not walked";
  EXPECT_EQ(ExplicitEveryone(Dacl(L"C:\\Keep\\precious.txt")), 0);
  ExpectSameLists();

  // A link that leads out of the machine is refused, and what it leads to keeps its list.
  const std::string outside = temp_ + "/outside";
  std::filesystem::create_directory(outside);
  const std::string outsideBefore = StoredText(outside);
  for (const char* root : {"A", "B"})
    std::filesystem::create_directory_symlink(
        outside, C(std::string("Program Files (x86)/TOLMERA/Rights/") + root + "/out"));
  EXPECT_EQ(InstallSteps::SetRights(a, L"rw", L"y", L"-EVERYONE:"), 0);
  EXPECT_FALSE(GrantTreeOneCallAtATime(b, InstallSteps::RightsMask(L"rw")));
  EXPECT_TRUE(
      Logged("WARNING :    AddAccessRights() failed. File = " + platform::ToUtf8(a + L"\\out")))
      << debug;
  EXPECT_EQ(StoredText(outside), outsideBefore);
  ExpectSameLists();
}
