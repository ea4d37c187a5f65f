// The registry step: values written with their types, additions, removal of keys with the climb
// over emptied parents, the check mode, and the keys no step may delete.
#include "steps/RegistryStep.h"
#include "steps/tests/StepsFixture.h"

using namespace InstallManager;
using namespace platform;
using tltest::StepsTest;

namespace {

bool KeyExists(HKEY root, const std::wstring& key) {
  RegKey k;
  return k.Open(root, key) == ERROR_SUCCESS;
}

std::wstring Text(HKEY root, const std::wstring& key, const std::wstring& name,
                  DWORD* type = nullptr) {
  RegKey k;
  std::wstring value;
  if (k.Open(root, key) != ERROR_SUCCESS) return L"<no key>";
  if (k.QueryString(name, value, type) != ERROR_SUCCESS) return L"<no value>";
  return value;
}

void Make(HKEY root, const std::wstring& key, const std::wstring& value = L"") {
  RegKey k;
  ASSERT_EQ(k.Create(root, key), ERROR_SUCCESS);
  if (!value.empty()) {
    ASSERT_EQ(k.SetString(value, L"x"), ERROR_SUCCESS);
  }
}

}  // namespace

class RegistryStep : public StepsTest {
 protected:
  void SetUp() override {
    StepsTest::SetUp();
    manager.SetAction(0, 4);  // a fresh local installation
  }
  // The REGISTRY element `body` under a container, run in `mode`.
  bool Run(const std::wstring& body, int mode) {
    auto root = Script(
        L"<MACROS><MACRO Name=\"%Dir%\" Value=\"C:/Tolmera/Design\"/></MACROS>"
        L"<INSTALL><REGISTRY>" +
        body + L"</REGISTRY></INSTALL>");
    manager.LoadMacros(root);
    return manager.ProcessRegistry(Child(root, L"INSTALL"), mode);
  }
};

TEST_F(RegistryStep, InstallWritesTextsAndNumbersUnderTheThreeRootsAndSkipsOthers) {
  EXPECT_TRUE(
      Run(L"<HKLM KeyName=\"SOFTWARE\\Acme\\Probe\" ValueName=\"Path\" TextValue=\"%Dir%/bin\"/>"
          L"<hkcu KeyName=\"Software/Acme/Probe\" ValueName=\"Build\" IntValue=\"7120\"/>"
          L"<HKCR KeyName=\"Acme.Doc\\shell\\open\\command\" TextValue=\"a/b &quot;%1&quot;\"/>"
          L"<HKU KeyName=\".DEFAULT\\Software\\Acme\" ValueName=\"x\" TextValue=\"1\"/>"
          L"<HKLM KeyName=\"SOFTWARE\\Acme\\Ignored\" ValueName=\"x\" TextValue=\"1\" "
          L"IgnoreFor=\"INSTALL\"/>",
          InstallSteps::kRegistryInstall));
  // Macros are expanded and every "/" becomes "\", in values too.
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Probe", L"Path"),
            L"C:\\Tolmera\\Design\\bin");
  // The 32-bit installer's view: the key lies below WOW6432Node.
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Probe"));
  RegKey physical;
  EXPECT_EQ(physical.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node\\Acme\\Probe",
                          KEY_READ | KEY_WOW64_64KEY),
            ERROR_SUCCESS);
  RegKey user;
  ASSERT_EQ(user.Open(HKEY_CURRENT_USER, L"Software\\Acme\\Probe"), ERROR_SUCCESS);
  DWORD build = 0;
  EXPECT_EQ(user.QueryDword(L"Build", build), ERROR_SUCCESS);
  EXPECT_EQ(build, 7120u);
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\Acme.Doc\\shell\\open\\command", L""),
            L"a\\b \"%1\"");
  EXPECT_FALSE(KeyExists(HKEY_USERS, L".DEFAULT\\Software\\Acme"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Ignored"));
  EXPECT_TRUE(Logged("INFO : ProcessRegistry: start"));
  EXPECT_TRUE(Logged("INFO : ProcessRegistry: create key SOFTWARE\\Acme\\Probe\r\n"));
  EXPECT_TRUE(Logged("INFO : ProcessRegistry: Path = C:\\Tolmera\\Design\\bin\r\n"));
  EXPECT_TRUE(Logged("INFO : ProcessRegistry: Build = 7120\r\n"));
  EXPECT_FALSE(Logged(".DEFAULT")) << "an unknown root is skipped without a line";
}

TEST_F(RegistryStep, AdditionsKeepOneCopyTheTypeAndTextsOfAnyLength) {
  const std::wstring longText(5000, L'p');
  {
    RegKey k;
    ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme"), ERROR_SUCCESS);
    ASSERT_EQ(k.SetString(L"Path", L"%SystemRoot%;" + longText, REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(k.SetDword(L"Number", 5), ERROR_SUCCESS);
  }
  const std::wstring body =
      L"<HKLM KeyName=\"SOFTWARE\\Acme\" ValueName=\"Path\" TextValue=\";C:/Acme\" Action=\"ADD\"/>"
      L"<HKLM KeyName=\"SOFTWARE\\Acme\" ValueName=\"New\" TextValue=\"first\" Action=\"add\"/>"
      L"<HKLM KeyName=\"SOFTWARE\\Acme\" ValueName=\"Number\" TextValue=\"text\" Action=\"add\"/>";
  Run(body, InstallSteps::kRegistryInstall);
  Run(body, InstallSteps::kRegistryInstall);
  DWORD type = 0;
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme", L"Path", &type),
            L"%SystemRoot%;" + longText + L";C:\\Acme");
  EXPECT_EQ(type, REG_EXPAND_SZ);
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme", L"New", &type), L"first");
  EXPECT_EQ(type, REG_SZ);
  // A value of another type counts as empty and becomes the text.
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme", L"Number", &type), L"text");
  EXPECT_EQ(type, REG_SZ);
}

TEST_F(RegistryStep, ANumberThatIsNoUnsignedNumberEndsTheStep) {
  EXPECT_TRUE(
      Run(L"<HKLM KeyName=\"SOFTWARE\\Acme\" ValueName=\"a\" TextValue=\"1\"/>"
          L"<HKLM KeyName=\"SOFTWARE\\Acme\" ValueName=\"b\" IntValue=\"many\"/>"
          L"<HKLM KeyName=\"SOFTWARE\\Acme\" ValueName=\"c\" TextValue=\"3\"/>",
          InstallSteps::kRegistryInstall));
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme", L"a"), L"1");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme", L"b"), L"<no value>");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme", L"c"), L"<no value>");
  Run(L"<HKLM KeyName=\"SOFTWARE\\Acme\" ValueName=\"d\" IntValue=\"-1\"/>",
      InstallSteps::kRegistryInstall);
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme", L"d"), L"<no value>");
}

TEST_F(RegistryStep, RemovalDeletesTheTreeAndClimbsOnlyOverEmptyParents) {
  // The product made these keys (the climb takes only keys it made).
  for (auto [root, key] :
       {std::pair{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Probe\\Deep\\Leaf\\Below"},
        std::pair{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Valued\\Leaf"},
        std::pair{HKEY_CURRENT_USER, L"Software\\Acme\\Empty\\Chain"}})
    manager.Guard().NoteMissingKey(root, key);
  // Three levels: Probe\Deep\Leaf with a sub-key of its own; Probe has another sub-key.
  Make(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Probe\\Deep\\Leaf\\Below", L"v");
  Make(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Probe\\Other");
  // A parent that still holds values stays.
  Make(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Valued\\Leaf");
  Make(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Valued", L"keep");
  // A key that is gone already: its empty parents still go.
  Make(HKEY_CURRENT_USER, L"Software\\Acme\\Empty\\Chain");
  EXPECT_TRUE(
      Run(L"<HKLM KeyName=\"SOFTWARE\\Acme\\Probe\\Deep\\Leaf\"/>"
          L"<HKLM KeyName=\"SOFTWARE\\Acme\\Valued\\Leaf\"/>"
          L"<HKCU KeyName=\"Software\\Acme\\Empty\\Chain\\Missing\"/>",
          InstallSteps::kRegistryRemove));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Probe\\Deep"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Probe\\Other"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Valued\\Leaf"));
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Valued", L"keep"), L"x");
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Acme"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software"));
  EXPECT_TRUE(Logged("INFO : ProcessRegistry: key SOFTWARE\\Acme\\Probe\\Deep\\Leaf is removed"));
  EXPECT_FALSE(Logged("Missing is removed"));
}

TEST_F(RegistryStep, RemovalNeverTakesARootOrAKeyDirectlyBelowIt) {
  Make(HKEY_LOCAL_MACHINE, L"TopLevel\\Leaf");
  Make(HKEY_CURRENT_USER, L"Software\\Solo");
  Make(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\.probe");
  Run(L"<HKLM KeyName=\"\"/><HKCU KeyName=\"\\\"/><HKLM KeyName=\"SOFTWARE\"/>"
      L"<HKLM KeyName=\"TopLevel\\Leaf\"/><HKCU KeyName=\"Software\\Solo\"/>"
      L"<HKLM KeyName=\"SOFTWARE\\Classes\"/><HKCR KeyName=\"\"/><HKCR KeyName=\".probe\"/>",
      InstallSteps::kRegistryRemove);
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SYSTEM"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software\\Microsoft"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"TopLevel\\Leaf"));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, L"TopLevel")) << "the climb stops below the root";
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, L"Software\\Solo"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L".probe")) << "the classes are HKCR's first level";
  EXPECT_TRUE(Logged("ERROR : ProcessRegistry: key \"\" is not removed"));
  EXPECT_TRUE(Logged("ERROR : ProcessRegistry: key \"SOFTWARE\" is not removed"));
}

TEST_F(RegistryStep, RemovalKeepsTheKeyThatHoldsTheFamilysCounter) {
  manager.Common().commonKey = L"SOFTWARE\\TOLMERA\\Common";
  Make(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\Common", L"Count");
  Make(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\CommonTools");
  Run(L"<HKLM KeyName=\"SOFTWARE\\TOLMERA\\Common\"/><HKLM KeyName=\"software\\tolmera\"/>"
      L"<HKLM KeyName=\"SOFTWARE\\TOLMERA\\CommonTools\"/>",
      InstallSteps::kRegistryRemove);
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\Common", L"Count"), L"x");
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\CommonTools"));
  EXPECT_TRUE(Logged("WARNING : ProcessRegistry: key software\\tolmera is kept"));
}

TEST_F(RegistryStep, CheckLooksAtTheFirstKeyThatIsNotIgnored) {
  auto none = Script(L"<INSTALL/>");
  EXPECT_TRUE(manager.ProcessRegistry(Child(none, L"INSTALL"), InstallSteps::kRegistryCheck));
  EXPECT_TRUE(Run(L"", InstallSteps::kRegistryCheck));
  Make(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Client");
  const std::wstring present = L"<HKLM KeyName=\"SOFTWARE\\Acme\\Client\"/>";
  const std::wstring missing = L"<HKLM KeyName=\"SOFTWARE\\Acme\\Missing\"/>";
  EXPECT_TRUE(Run(present + missing, InstallSteps::kRegistryCheck));
  EXPECT_TRUE(Logged("INFO : ProcessRegistry: key SOFTWARE\\Acme\\Client is detected"));
  EXPECT_FALSE(Run(missing + present, InstallSteps::kRegistryCheck));
  EXPECT_TRUE(Logged("INFO : ProcessRegistry: key SOFTWARE\\Acme\\Missing is not detected"));
  EXPECT_TRUE(Run(L"<HKLM KeyName=\"SOFTWARE\\Acme\\Missing\" IgnoreFor=\"INSTALL\"/>" + present,
                  InstallSteps::kRegistryCheck));
  // Checking writes nothing.
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme\\Missing"));
}

TEST_F(RegistryStep, AnIgnoredRegistryElementDoesNothing) {
  auto root = Script(
      L"<INSTALL><REGISTRY IgnoreFor=\"INSTALL\"><HKLM KeyName=\"SOFTWARE\\Acme\" "
      L"ValueName=\"a\" TextValue=\"1\"/></REGISTRY></INSTALL>");
  EXPECT_TRUE(manager.ProcessRegistry(Child(root, L"INSTALL"), InstallSteps::kRegistryInstall));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Acme"));
}
