// The rights step: the letters, the read-only flags, the grant to Everyone in the access lists
// of a tree, and what happens on volumes without lists and at paths too long for the walk.
#include "platform/Security.h"
#include "steps/FileUtilities.h"
#include "steps/RightsStep.h"
#include "steps/tests/StepsFixture.h"

#include <algorithm>

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
