// The product description, COMMONINFO/CFG and the "RegKeyProjectPath" split.
#include "package/ScriptFormat.h"
#include "package/ScriptVocabulary.h"
#include "package/XmlSettings.h"

#include <gtest/gtest.h>

using namespace CommonTools;

namespace {

SettingsNodePtr RootOf(CXmlSettings& settings, const std::string& xml) {
  SettingsNodePtr root;
  EXPECT_TRUE(settings.LoadFromBytes(xml));
  EXPECT_TRUE(settings.GetRoot(root));
  return root;
}

// The steps' path reading: "/" becomes "\" (macros are not this test's concern).
std::wstring PathForm(const SettingsNodePtr& node, const std::wstring& name) {
  std::wstring v = GetText(node, name);
  for (auto& c : v)
    if (c == L'/') c = L'\\';
  return v;
}

}  // namespace

TEST(ProductDescription, AttributesDefaultsAndFailures) {
  CXmlSettings s;
  Script::ProductDescription d;
  std::wstring error;
  auto root = RootOf(
      s,
      "<?xml version=\"1.0\"?><S Name=\"Tolmera Design\" PV=\"TD\" "
      "RegKey=\"SOFTWARE\\TOLMERA\\Design\" "
      "Version=\"12b\" InstallType=\"Full\" Build=\"2301\" DirName=\"Design\" Language=\"1049\"/>");
  ASSERT_TRUE(Script::ReadProductDescription(root, d, error));
  EXPECT_EQ(d.name, L"Tolmera Design");
  EXPECT_EQ(d.pv, L"TD");
  EXPECT_EQ(d.regKey, L"SOFTWARE\\TOLMERA\\Design");
  EXPECT_EQ(d.versionText, L"12b");
  EXPECT_EQ(d.version, 12);
  EXPECT_EQ(d.installType, L"Full");
  EXPECT_EQ(d.build, 2301);
  EXPECT_EQ(d.dirName, L"Design");
  EXPECT_EQ(d.language, 1049);

  // Nothing given: the defaults; a version without digits is 0 and never fails; attribute
  // names are exact ("build" is not "Build").
  Script::ProductDescription e;
  root = RootOf(s, "<?xml version=\"1.0\"?><S Version=\"beta\" build=\"x\"/>");
  ASSERT_TRUE(Script::ReadProductDescription(root, e, error));
  EXPECT_EQ(e.version, 0);
  EXPECT_EQ(e.build, 0);
  EXPECT_EQ(e.language, 0);
  EXPECT_TRUE(e.name.empty());

  // "Build" or "Language" that is not a number ends the reading.
  root = RootOf(s, "<?xml version=\"1.0\"?><S Name=\"N\" Build=\"twelve\"/>");
  EXPECT_FALSE(Script::ReadProductDescription(root, e, error));
  EXPECT_FALSE(error.empty());
  root = RootOf(s, "<?xml version=\"1.0\"?><S Build=\"1\" Language=\"ru\"/>");
  error.clear();
  EXPECT_FALSE(Script::ReadProductDescription(root, e, error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(Script::ReadProductDescription(nullptr, e, error));
}

TEST(CommonInfo, ReadBelowInstallInAnyCase) {
  CXmlSettings s;
  auto root =
      RootOf(s,
             "<?xml version=\"1.0\"?><S><install><Cfg><file Path=\"C:/P/project.cfg\"/></Cfg>"
             "<CommonInfo File=\"C:/Data/products.cfg\" Log=\"C:/Data/setup.log\" "
             "RegKeyInstall=\"SOFTWARE/TOLMERA/Common\" "
             "RegKeyProjectPath=\"SOFTWARE\\TOLMERA\\\\ProjectPath\"/>"
             "</install></S>");
  Script::CommonInfo info;
  Script::ReadCommonInfo(root, PathForm, info);
  EXPECT_EQ(info.cfgPath, L"C:\\P\\project.cfg");
  EXPECT_EQ(info.productsFile, L"C:\\Data\\products.cfg");
  EXPECT_EQ(info.logFile, L"C:\\Data\\setup.log");
  EXPECT_EQ(info.commonKey, L"SOFTWARE\\TOLMERA\\Common");
  EXPECT_EQ(info.projectPathKey, L"SOFTWARE\\TOLMERA");
  EXPECT_EQ(info.projectPathValue, L"ProjectPath");

  // Without INSTALL nothing is read: the defaults stay.
  Script::CommonInfo defaults;
  defaults.logFile = L"default.log";
  defaults.commonKey = L"SOFTWARE\\Default";
  root = RootOf(s, "<?xml version=\"1.0\"?><S><COMMONINFO Log=\"x\"/></S>");
  Script::ReadCommonInfo(root, PathForm, defaults);
  EXPECT_EQ(defaults.logFile, L"default.log");
  // An empty RegKeyInstall keeps the default key.
  root = RootOf(
      s, "<?xml version=\"1.0\"?><S><INSTALL><COMMONINFO RegKeyInstall=\"\"/></INSTALL></S>");
  Script::ReadCommonInfo(root, PathForm, defaults);
  EXPECT_EQ(defaults.commonKey, L"SOFTWARE\\Default");
  EXPECT_EQ(defaults.logFile, L"");
}

TEST(CommonInfo, ProjectPathSplit) {
  std::wstring key = L"k", value = L"v";
  // The separator written doubled gives the key as written.
  EXPECT_TRUE(Script::SplitProjectPath(L"SOFTWARE\\TOLMERA\\\\Path", key, value));
  EXPECT_EQ(key, L"SOFTWARE\\TOLMERA");
  EXPECT_EQ(value, L"Path");
  // A single separator loses the key's last character.
  EXPECT_TRUE(Script::SplitProjectPath(L"SOFTWARE\\Key\\Path", key, value));
  EXPECT_EQ(key, L"SOFTWARE\\Ke");
  EXPECT_EQ(value, L"Path");
  // No separator: both are the whole text.
  EXPECT_TRUE(Script::SplitProjectPath(L"Whole", key, value));
  EXPECT_EQ(key, L"Whole");
  EXPECT_EQ(value, L"Whole");
  // Only a leading separator, or nothing: not split.
  key = L"k";
  value = L"v";
  EXPECT_FALSE(Script::SplitProjectPath(L"\\Lead", key, value));
  EXPECT_FALSE(Script::SplitProjectPath(L"", key, value));
  EXPECT_EQ(key, L"k");
  EXPECT_EQ(value, L"v");
}
