// The sample product's package (built from examples/sample-product) read the way a run reads
// it: archive, script, product description, languages with every page and message, pictures.
#include "app/Tools.h"
#include "gui/Localizer.h"
#include "package/DataStorage.h"
#include "package/Macros.h"
#include "package/ScriptFormat.h"
#include "package/ScriptVocabulary.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <gtest/gtest.h>
#include <wx/image.h>

#include <cstdlib>
#include <regex>
#include <set>

using namespace InstallManager;
namespace E = ScriptNames::Element;
namespace P = ScriptNames::Page;

namespace {

std::wstring SamplePackage() {
  const char* build = std::getenv("TOLMERA_BUILD_DIR");
  std::string host = std::string(build ? build : "build") + "/examples/sample-product/Setup.data";
  return platform::HostToWindowsPath(host);
}

// Every message ID the installer asks for.
const wchar_t* const kMessageIds[] = {L"MsgCaption",
                                      L"MsgCaptionFolderBrowser",
                                      L"MsgCancellInstallation",
                                      L"MsgRights",
                                      L"MsgRightsForServerChange",
                                      L"MsgRightsDomainForServerChange",
                                      L"MsgVersionOS",
                                      L"MsgDataStorageNotFound",
                                      L"MsgDataStorageNotUnpacked",
                                      L"MsgScriptFileError",
                                      L"MsgScenarioError",
                                      L"MsgLanguagesError",
                                      L"MsgGraphicsError",
                                      L"MsgOldInstall",
                                      L"MsgOldInstallation",
                                      L"MsgBeginUpdate",
                                      L"MsgErrorDuringInstall",
                                      L"MsgCantSendEmail",
                                      L"MsgErrorDeleteFolder",
                                      L"MsgErrorCreateFile",
                                      L"MsgInstallError",
                                      L"MsgUninstall",
                                      L"MsgDenyServerInstall",
                                      L"MsgFinishInstallServerOK",
                                      L"MsgFinishUpdateOK",
                                      L"MsgFinishUpdateServerOK",
                                      L"MsgFinishRepairOK",
                                      L"MsgFinishRepairServerOK",
                                      L"MsgFinishUnunstall",
                                      L"SaveLogFile"};

const wchar_t* const kSections[] = {E::kCommon,           P::kGreeting,    P::kLanguageSelection,
                                    P::kLicense,          P::kInstallType, P::kComputerSelection,
                                    P::kClientAttributes, P::kDestination, P::kComponents,
                                    P::kSummary,          P::kUpdate,      P::kChangeRepair,
                                    P::kRepairTruncated,  P::kProgress,    P::kFinish,
                                    E::kMessages};

class SampleProduct : public ::testing::Test {
 protected:
  void SetUp() override {
    GetInstallTools().Reset();
    GetGuiTools().Reset();
    GetInstallTools().Log().SetDebugOutput([this](const std::wstring& s) { out += s; });
    std::wstring package = SamplePackage();
    ASSERT_TRUE(platform::PathFileExistsW(package))
        << "build the target sample_product_package first";
    ASSERT_TRUE(storage.Open(package, nullptr));
    std::wstring script;
    ASSERT_TRUE(storage.ExtractFile(L"", ScriptNames::kScriptFile, script));
    ASSERT_TRUE(GetInstallTools().Script().Load(script))
        << platform::ToUtf8(GetInstallTools().Script().LastError());
    ASSERT_TRUE(GetInstallTools().GetScriptRoot(root));
  }
  void TearDown() override {
    storage.Close();
    GetInstallTools().Reset();
    GetGuiTools().Reset();
  }
  tltest::ScopedMachine machine;
  DataStorage::CDataStorage storage;
  CommonTools::SettingsNodePtr root;
  std::wstring out;
};

}  // namespace

TEST_F(SampleProduct, DescriptionAndTheWholeVocabulary) {
  CommonTools::Script::ProductDescription d;
  std::wstring error;
  ASSERT_TRUE(CommonTools::Script::ReadProductDescription(root, d, error));
  EXPECT_EQ(d.pv, L"TDESIGN");
  EXPECT_EQ(d.version, 7);
  EXPECT_EQ(d.build, 7120);
  EXPECT_EQ(d.installType, L"Full");
  CommonTools::Script::CommonInfo info;
  CommonTools::Script::ReadCommonInfo(
      root,
      [](const CommonTools::SettingsNodePtr& n, const std::wstring& a) {
        return CommonTools::GetText(n, a);
      },
      info);
  EXPECT_EQ(info.projectPathKey, L"SOFTWARE\\TOLMERA\\Design");
  EXPECT_EQ(info.projectPathValue, L"ProjectPath");
  EXPECT_FALSE(info.cfgPath.empty());

  for (const wchar_t* name : {E::kInstall, E::kMacros, E::kLibraries, E::kShortcuts, E::kRegistry,
                              E::kServer, E::kRights, E::kRedist, E::kAdditional, E::kUninstaller,
                              E::kClient, E::kDialogs, E::kLocalization, E::kIcons, E::kImages}) {
    CommonTools::SettingsNodePtr child;
    EXPECT_TRUE(root->GetChild(name, child)) << platform::ToUtf8(name);
  }
  // The steps the dispatcher knows all stand in INSTALL, a library or ADDITIONAL (what needs the
  // copied files: INSTALL's own steps run before its folders and files are copied).
  CommonTools::SettingsNodePtr install, libraries, additional;
  ASSERT_TRUE(root->GetChild(E::kInstall, install));
  ASSERT_TRUE(root->GetChild(E::kLibraries, libraries));
  ASSERT_TRUE(root->GetChild(E::kAdditional, additional));
  std::set<std::wstring> used;
  auto collect = [&used](const CommonTools::SettingsNodePtr& parent) {
    CommonTools::SettingsNodeListPtr children;
    ASSERT_TRUE(parent->GetChildren(children));
    for (int i = 0; i < children->GetCount(); ++i) {
      CommonTools::SettingsNodePtr child;
      ASSERT_TRUE(children->GetItem(i, child));
      used.insert(platform::ToUpper(child->GetName()));
    }
  };
  collect(install);
  collect(additional);
  CommonTools::SettingsNodeListPtr libs;
  ASSERT_TRUE(libraries->GetChildren(libs));
  for (int i = 0; i < libs->GetCount(); ++i) {
    CommonTools::SettingsNodePtr library;
    ASSERT_TRUE(libs->GetItem(i, library));
    collect(library);
  }
  for (const wchar_t* step :
       {E::kDirectory, E::kFile, E::kRegistry, E::kShortcuts, E::kAssociation, E::kExec, E::kRights,
        E::kShare, E::kDatabase, E::kCommonInfo, E::kCfg})
    EXPECT_TRUE(used.count(platform::ToUpper(step))) << platform::ToUtf8(step);
  CommonTools::SettingsNodeListPtr list;
  ASSERT_TRUE(libraries->GetChildren(list));
  EXPECT_EQ(list->GetCount(), 5);
}

TEST_F(SampleProduct, EveryPlaceholderOfTheScriptIsAMacroOrABuiltInName) {
  // A macro's name is the literal text it replaces, percent signs included: a name written
  // without them would turn "%DataDir%" into "%C:\ProgramData\...%".
  CommonTools::CMacroTable macros;
  macros.Load(root);
  ASSERT_GE(macros.Entries().size(), 3u);
  std::set<std::wstring> known;
  for (const auto& e : macros.Entries()) {
    EXPECT_TRUE(e.Name.size() > 2 && e.Name.front() == L'%' && e.Name.back() == L'%')
        << platform::ToUtf8(e.Name);
    known.insert(e.Name);
  }
  for (const auto& [name, value] : CommonTools::BuiltinVariables({})) known.insert(name);

  std::wstring script;
  ASSERT_TRUE(storage.ExtractFile(L"", ScriptNames::kScriptFile, script));
  std::string text;
  ASSERT_EQ(platform::ReadWholeFile(script, text), platform::ERROR_SUCCESS);
  static const std::regex kPlaceholder("%[A-Za-z_][A-Za-z_ 0-9]*%");
  int count = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), kPlaceholder), end; it != end; ++it) {
    ++count;
    EXPECT_TRUE(known.count(platform::FromUtf8(it->str()))) << it->str();
  }
  EXPECT_GE(count, 20);

  // The data folder's rights name the folder itself.
  CommonTools::BuiltinInputs in;
  in.installPath = L"C:\\Program Files (x86)\\TOLMERA Design 7";
  std::wstring rights = L"%DataDir%", exec = L"%BinDir%\\postinstall.cmd";
  macros.Expand(rights, 0, 4, CommonTools::BuiltinVariables(in));
  macros.Expand(exec, 0, 4, CommonTools::BuiltinVariables(in));
  EXPECT_EQ(rights, L"C:\\ProgramData\\TOLMERA\\Design 7");
  EXPECT_EQ(exec, L"C:\\Program Files (x86)\\TOLMERA Design 7\\bin\\postinstall.cmd");
}

TEST_F(SampleProduct, EveryPageAndMessageInBothLanguages) {
  auto& languages = GetGuiTools().Languages();
  ASSERT_TRUE(languages.Load());
  ASSERT_EQ(languages.GetCount(), 2u);
  EXPECT_EQ(languages.GetCurrent(), 0u);  // the machine speaks English
  EXPECT_EQ(languages.GetTitle(1).value_or(L""), L"Русский");
  for (unsigned lang = 0; lang < 2; ++lang) {
    languages.SetCurrent(lang);
    for (const wchar_t* section : kSections) {
      InstallGui::CLocalizer localizer(languages);
      EXPECT_TRUE(localizer.SelectSection(section))
          << platform::ToUtf8(section) << " in language " << lang;
    }
    for (const wchar_t* id : kMessageIds)
      EXPECT_FALSE(GetGuiTools().GetMessage(id).empty())
          << platform::ToUtf8(id) << " in language " << lang;
    InstallGui::CLocalizer progress(languages);
    ASSERT_TRUE(progress.SelectSection(P::kProgress));
    std::wstring text;
    EXPECT_TRUE(progress.GetText(L"TEXT_INSTALL", text));
    EXPECT_FALSE(text.empty());
  }
  EXPECT_EQ(out.find(L"WARNING"), std::wstring::npos) << platform::ToUtf8(out);
  languages.SetCurrent(1);
  EXPECT_EQ(
      GetGuiTools().GetMessage(L"MsgErrorDeleteFolder"),
      L"Некоторые папки не удалось удалить.\nОни будут удалены при следующем запуске Windows.");
}

TEST_F(SampleProduct, PicturesAndPayload) {
  auto& graphics = GetGuiTools().Graphics();
  ASSERT_TRUE(graphics.Load(&storage));
  ASSERT_EQ(graphics.GetCount(), 4);
  const wxImage* background = graphics.GetImage(0);
  ASSERT_NE(background, nullptr);
  EXPECT_EQ(background->GetWidth(), 800);
  EXPECT_EQ(background->GetHeight(), 600);
  ASSERT_NE(graphics.GetImage(3), nullptr);
  EXPECT_EQ(graphics.GetImage(3)->GetWidth(), 500);

  std::uint64_t count = 0, packed = 0, unpacked = 0;
  ASSERT_TRUE(storage.Measure(nullptr, count, packed, unpacked));
  EXPECT_GT(count, 300u);
  std::wstring help = L"help";
  std::uint64_t helpCount = 0;
  ASSERT_TRUE(storage.Measure(&help, helpCount, packed, unpacked));
  EXPECT_EQ(helpCount, 121u);
  std::wstring path;
  ASSERT_TRUE(storage.ExtractFolder(L"C:\\Program Files\\TOLMERA\\Design 7", L"help", path, L""));
  EXPECT_TRUE(platform::PathFileExistsW(
      L"C:\\Program Files\\TOLMERA\\Design 7\\help\\topics\\topic_120.html"));
  ASSERT_TRUE(storage.ExtractFile(L"", L"LICENSE\\license_ru.txt", path));
  std::string licence;
  ASSERT_EQ(platform::ReadWholeFile(path, licence), platform::ERROR_SUCCESS);
  EXPECT_NE(platform::FromUtf8(licence).find(L"ЛИЦЕНЗИОННОЕ"), std::wstring::npos);
}

TEST_F(SampleProduct, EveryFileTheScriptNamesIsInTheArchive) {
  // Icons, pictures, licences of both languages, the client package, the FILE steps' files and
  // the folders of the DIRECTORY steps.
  std::vector<std::wstring> names = {L"icons\\setup.ico",
                                     L"icons\\uninstall.ico",
                                     L"license\\license_en.txt",
                                     L"license\\license_ru.txt",
                                     L"client\\TolmeraDesignClient.msi",
                                     L"readme.txt",
                                     L"redist\\runtime-setup.exe",
                                     L"bin\\postinstall.cmd",
                                     L"config\\project.cfg"};
  CommonTools::SettingsNodePtr images;
  CommonTools::SettingsNodeListPtr list;
  ASSERT_TRUE(root->GetChild(E::kImages, images));
  ASSERT_TRUE(images->GetChildren(list));
  for (int i = 0; i < list->GetCount(); ++i) {
    CommonTools::SettingsNodePtr image;
    ASSERT_TRUE(list->GetItem(i, image));
    names.push_back(CommonTools::GetText(image, ScriptNames::Attribute::kPath));
  }
  for (const auto& name : names) {
    std::wstring path;
    EXPECT_TRUE(storage.ExtractFile(L"C:\\Check", name, path)) << platform::ToUtf8(name);
  }
  for (const wchar_t* folder : {L"bin\\", L"catalog\\", L"templates\\", L"help\\", L"database\\",
                                L"config\\", L"common\\bin\\"}) {
    std::wstring prefix = folder;
    std::uint64_t count = 0, packed = 0, unpacked = 0;
    ASSERT_TRUE(storage.Measure(&prefix, count, packed, unpacked));
    EXPECT_GT(count, 0u) << platform::ToUtf8(prefix);
  }
}
