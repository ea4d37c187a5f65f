// The profile clean-up of an uninstall: every profile's local and roaming data of the product,
// the fallback to RegKey, other products beside DirName, and names that would reach too far.
#include "steps/tests/StepsFixture.h"

using namespace InstallManager;
using tltest::StepsTest;

namespace {

class ProfileCleanup : public StepsTest {
 protected:
  void Product(int version, const std::wstring& dirName, const std::wstring& regKey = L"TlKey") {
    manager.Product().version = version;
    manager.Product().name = L"TOLMERA";
    manager.Product().dirName = dirName;
    manager.Product().regKey = regKey;
  }
  static std::wstring Local(const std::wstring& user) {
    return L"C:\\Users\\" + user + L"\\AppData\\Local\\TOLMERA";
  }
  static std::wstring Roaming(const std::wstring& user) {
    return L"C:\\Users\\" + user + L"\\AppData\\Roaming\\TOLMERA";
  }
};

}  // namespace

TEST_F(ProfileCleanup, VersionFifteenTouchesNothing) {
  Product(15, L"Viewer");
  Write(Local(L"User") + L"\\Viewer\\a.dat", "a");
  manager.DeleteAllUsersFolders();
  EXPECT_TRUE(Exists(Local(L"User") + L"\\Viewer\\a.dat"));
  EXPECT_TRUE(Logged("INFO : DeleteAllUsersFolders: Ignore for version (15)< 16"));
}

TEST_F(ProfileCleanup, EveryProfileLosesTheProductsDataAndOtherProductsSurvive) {
  Product(16, L"Viewer");
  // The running user: local and roaming data, another product beside it in both.
  Write(Local(L"User") + L"\\Viewer\\cache\\a.dat", "a");
  Write(Local(L"User") + L"\\Designer\\keep.dat", "k");
  Write(Roaming(L"User") + L"\\Viewer\\settings.xml", "s");
  // Another account's profile and a folder that belongs to no account: local data under RegKey
  // only, and roaming data with nothing else beside it.
  Write(Local(L"Anna") + L"\\TlKey\\b.dat", "b");
  Write(Roaming(L"Anna") + L"\\Viewer\\s.xml", "s");
  Write(Local(L"Stray") + L"\\Viewer\\c.dat", "c");
  // A profile without local data of the product keeps its roaming data.
  platform::CreateDirectoryWithParents(L"C:\\Users\\Bob\\AppData\\Local\\Other");
  Write(Roaming(L"Bob") + L"\\Viewer\\s.xml", "s");

  manager.DeleteAllUsersFolders();
  EXPECT_FALSE(Exists(Local(L"User") + L"\\Viewer"));
  EXPECT_TRUE(Exists(Local(L"User") + L"\\Designer\\keep.dat"));
  EXPECT_FALSE(Exists(Roaming(L"User"))) << "left empty: it goes too";
  EXPECT_FALSE(Exists(Local(L"Anna") + L"\\TlKey"));
  EXPECT_FALSE(Exists(Local(L"Anna")));
  EXPECT_FALSE(Exists(Roaming(L"Anna")));
  EXPECT_FALSE(Exists(Local(L"Stray")));
  EXPECT_TRUE(Exists(Roaming(L"Bob") + L"\\Viewer\\s.xml"));
  EXPECT_TRUE(Exists(L"C:\\Users\\User\\AppData\\Local"));
  EXPECT_TRUE(Logged("INFO : DeleteAllUsersFolders:     Profiles Folder C:\\Users"));
  EXPECT_TRUE(
      Logged("INFO : DeleteAllUsersFolders:     User folder C:\\Users\\Anna\\AppData\\"
             "Local\\TOLMERA\\TlKey before delete"));
  EXPECT_TRUE(Logged("INFO : DeleteAllUsersFolders: Finish =============================="));
}

TEST_F(ProfileCleanup, EmptyOrClimbingNamesNeverTakeAWholeDataFolder) {
  Write(Local(L"User") + L"\\Viewer\\a.dat", "a");
  Write(Local(L"User") + L"\\Designer\\keep.dat", "k");
  Write(L"C:\\Users\\User\\AppData\\Local\\Other\\x.dat", "x");
  for (const wchar_t* dirName : {L"", L"  ", L"..", L"..\\..", L"Viewer\\..\\.."}) {
    Product(16, dirName, L"");
    manager.DeleteAllUsersFolders();
    EXPECT_TRUE(Exists(Local(L"User") + L"\\Viewer\\a.dat")) << platform::ToUtf8(dirName);
    EXPECT_TRUE(Exists(Local(L"User") + L"\\Designer\\keep.dat")) << platform::ToUtf8(dirName);
  }
  Product(16, L"Viewer");
  manager.Product().name = L"";
  manager.DeleteAllUsersFolders();
  EXPECT_TRUE(Exists(L"C:\\Users\\User\\AppData\\Local\\Other\\x.dat"));
  EXPECT_TRUE(Logged("nothing is deleted"));
}
