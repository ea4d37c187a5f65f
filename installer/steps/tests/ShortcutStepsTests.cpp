// The shortcut steps: links in the three places (read back by lnkinfo), their names, the end of
// the step at a place that is no number, the removal that leaves other products' links and the
// folders above alone, and the associations of document extensions.
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "platform/ShellLinks.h"
#include "steps/ShortcutSteps.h"
#include "steps/tests/StepsFixture.h"

#include <array>
#include <cstdio>
#include <memory>

using namespace InstallManager;
using namespace platform;
using tltest::StepsTest;

namespace {

const std::wstring kBase = L"C:\\Program Files (x86)\\Acme Probe";

std::wstring Folder(int csidl) {
  std::wstring path;
  SHGetSpecialFolderPathW(nullptr, path, csidl, false);
  return path;
}

// lnkinfo's value of one label ("Local path", "Working directory", "Icon location").
std::string LnkInfoField(const std::wstring& link, const std::string& label) {
  std::string command = "lnkinfo '" + ToHostPath(link) + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  std::array<char, 4096> line{};
  while (pipe && std::fgets(line.data(), line.size(), pipe.get())) {
    std::string text = line.data();
    std::size_t at = text.find(label);
    std::size_t colon = text.find(": ", at);
    if (at == std::string::npos || colon == std::string::npos) continue;
    std::string value = text.substr(colon + 2);
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
  }
  return "<none>";
}

}  // namespace

class ShortcutSteps : public StepsTest {
 protected:
  void SetUp() override {
    StepsTest::SetUp();
    manager.SetAction(0, 4);
    Write(kBase + L"\\bin\\Probe.exe", "MZ");
    Write(kBase + L"\\readme.txt", "text");
  }
  void Shortcuts(const std::wstring& group, bool remove) {
    auto root = Script(L"<INSTALL>" + group + L"</INSTALL>");
    manager.ProcessShortcuts(Child(root, L"INSTALL"), remove, kBase);
  }
  const std::wstring desktop = Folder(CSIDL_COMMON_DESKTOPDIRECTORY);
  const std::wstring programs = Folder(CSIDL_COMMON_PROGRAMS);
  const std::wstring quickLaunch =
      Folder(CSIDL_APPDATA) + L"\\Microsoft\\Internet Explorer\\Quick Launch";
};

TEST_F(ShortcutSteps, LinksInTheThreePlacesAreReadByLnkinfoWithTargetFolderAndIcon) {
  Shortcuts(
      L"<SHORTCUTS StartFolder=\"Acme/Probe\">"
      L"<SHORTCUT Name=\"Probe\" Path=\"bin/Probe.exe\" Desktop=\"1\" Start=\"1\" "
      L"QuickLaunch=\"1\"/>"
      L"<shortcut Name=\"Read me.lnk\" Path=\"readme.txt\" Desktop=\"0\" Start=\"2\" "
      L"QuickLaunch=\"0\"/>"
      L"<SHORTCUT Name=\"Notes.url\" Path=\"readme.txt\" Desktop=\"1\" Start=\"0\" "
      L"QuickLaunch=\"0\"/><OTHER Name=\"x\"/></SHORTCUTS>",
      false);
  const std::wstring target = kBase + L"\\bin\\Probe.exe";
  const std::wstring start = programs + L"\\Acme\\Probe";
  for (const std::wstring& link :
       {desktop + L"\\Probe.lnk", start + L"\\Probe.lnk", quickLaunch + L"\\Probe.lnk"}) {
    ASSERT_TRUE(Exists(link)) << ToUtf8(link);
    EXPECT_EQ(LnkInfoField(link, "Local path"), ToUtf8(target));
    EXPECT_EQ(LnkInfoField(link, "Working directory"), ToUtf8(kBase + L"\\bin"));
    EXPECT_EQ(LnkInfoField(link, "Icon location"), ToUtf8(target));
    ShellLink back;
    ASSERT_EQ(ReadShellLink(link, back), ERROR_SUCCESS);
    EXPECT_EQ(back.showCommand, 1);
    EXPECT_EQ(back.iconIndex, 0);
    EXPECT_TRUE(back.arguments.empty());
  }
  // A name with an extension of its own gets no second one.
  EXPECT_TRUE(Exists(start + L"\\Read me.lnk"));
  EXPECT_FALSE(Exists(start + L"\\Read me.lnk.lnk"));
  EXPECT_TRUE(Exists(desktop + L"\\Notes.url"));
  EXPECT_FALSE(Exists(desktop + L"\\Read me.lnk"));
  EXPECT_TRUE(Logged("INFO : ProcessShortcuts: start folder Acme\\Probe\r\n"));
  EXPECT_TRUE(Logged(
      "INFO : ProcessShortcuts: desktop create Shortcut\r\n                File, Icon = " +
      ToUtf8(target) +
      "\r\n                Target = \r\n                path = " + ToUtf8(desktop) +
      "\\Probe.lnk\r\n                Description = \r\n                CurDir = " + ToUtf8(kBase) +
      "\\bin\r\n"));
  EXPECT_TRUE(Logged("INFO : ProcessShortcuts: StartMenu create Shortcut\r\n"));
  EXPECT_TRUE(Logged("INFO : ProcessShortcuts: quick launch create Shortcut\r\n"));
}

TEST_F(ShortcutSteps, APlaceThatIsNoNumberEndsTheStepAndAnIgnoredGroupMakesNothing) {
  Shortcuts(
      L"<SHORTCUTS StartFolder=\"Acme\">"
      L"<SHORTCUT Name=\"First\" Path=\"readme.txt\" Desktop=\"1\" Start=\"0\" "
      L"QuickLaunch=\"0\"/>"
      L"<SHORTCUT Name=\"Second\" Path=\"readme.txt\" Desktop=\"Y\" Start=\"1\" "
      L"QuickLaunch=\"0\"/>"
      L"<SHORTCUT Name=\"Third\" Path=\"readme.txt\" Desktop=\"1\" Start=\"0\" "
      L"QuickLaunch=\"0\"/></SHORTCUTS>",
      false);
  EXPECT_TRUE(Exists(desktop + L"\\First.lnk"));
  EXPECT_FALSE(Exists(desktop + L"\\Second.lnk"));
  EXPECT_FALSE(Exists(desktop + L"\\Third.lnk"));
  Shortcuts(
      L"<SHORTCUTS StartFolder=\"Acme\"><SHORTCUT Name=\"Missing\" Path=\"readme.txt\" "
      L"Desktop=\"1\" Start=\"1\"/></SHORTCUTS>",
      false);
  EXPECT_FALSE(Exists(desktop + L"\\Missing.lnk"));
  Shortcuts(
      L"<SHORTCUTS StartFolder=\"Acme\" IgnoreFor=\"INSTALL\"><SHORTCUT Name=\"Ignored\" "
      L"Path=\"readme.txt\" Desktop=\"1\" Start=\"1\" QuickLaunch=\"1\"/></SHORTCUTS>",
      false);
  EXPECT_FALSE(Exists(desktop + L"\\Ignored.lnk"));
  EXPECT_FALSE(Exists(programs + L"\\Acme"));
}

TEST_F(ShortcutSteps, RemovalTakesThisProductsLinksAndOnlyEmptyFoldersUpToPrograms) {
  const std::wstring group =
      L"<SHORTCUTS StartFolder=\"Acme\\Probe\">"
      L"<SHORTCUT Name=\"Probe\" Path=\"bin\\Probe.exe\" Desktop=\"1\" Start=\"1\" "
      L"QuickLaunch=\"0\"/>"
      L"<SHORTCUT Name=\"Read me\" Path=\"readme.txt\" Desktop=\"0\" Start=\"1\" "
      L"QuickLaunch=\"0\"/></SHORTCUTS>";
  Shortcuts(group, false);
  // Another product's link in the same folder stays, and so does the folder.
  Write(programs + L"\\Acme\\Probe\\Other product.lnk", "link");
  Shortcuts(group, true);
  EXPECT_FALSE(Exists(desktop + L"\\Probe.lnk"));
  EXPECT_FALSE(Exists(programs + L"\\Acme\\Probe\\Probe.lnk"));
  EXPECT_FALSE(Exists(programs + L"\\Acme\\Probe\\Read me.lnk"));
  EXPECT_TRUE(Exists(programs + L"\\Acme\\Probe\\Other product.lnk"));
  EXPECT_TRUE(Logged("INFO : ProcessShortcuts: StartMenu delete file " + ToUtf8(programs) +
                     "\\Acme\\Probe\\Read me.lnk"));
  // Without it, the folder and its emptied parent go; the Programs folder stays.
  ASSERT_EQ(DeleteFileW(programs + L"\\Acme\\Probe\\Other product.lnk"), ERROR_SUCCESS);
  Shortcuts(group, false);
  Shortcuts(group, true);
  EXPECT_FALSE(Exists(programs + L"\\Acme"));
  EXPECT_TRUE(PathIsDirectoryW(programs));
}

TEST_F(ShortcutSteps, AStartFolderOutsideProgramsOrEmptyNeverLosesTheProgramsFolder) {
  Shortcuts(
      L"<SHORTCUTS StartFolder=\"..\\..\\..\\..\\..\">"
      L"<SHORTCUT Name=\"Probe\" Path=\"readme.txt\" Desktop=\"0\" Start=\"1\" "
      L"QuickLaunch=\"0\"/><SHORTCUT Name=\"..\\..\\Escape\" Path=\"readme.txt\" "
      L"Desktop=\"1\" Start=\"0\" QuickLaunch=\"0\"/></SHORTCUTS>",
      false);
  EXPECT_TRUE(Logged("lies outside the Programs folder"));
  EXPECT_FALSE(Exists(L"C:\\Probe.lnk"));
  EXPECT_FALSE(Exists(desktop + L"\\..\\..\\Escape.lnk"));
  const std::wstring flat =
      L"<SHORTCUTS><SHORTCUT Name=\"Probe\" Path=\"readme.txt\" "
      L"Desktop=\"0\" Start=\"1\" QuickLaunch=\"0\"/></SHORTCUTS>";
  Shortcuts(flat, false);
  EXPECT_TRUE(Exists(programs + L"\\Probe.lnk"));
  Shortcuts(flat, true);
  EXPECT_FALSE(Exists(programs + L"\\Probe.lnk"));
  EXPECT_TRUE(PathIsDirectoryW(programs));
}

TEST_F(ShortcutSteps, CreateShortcutRefusesWhatALinkCannotBe) {
  const std::wstring link = L"C:\\Links\\a.lnk";
  EXPECT_FALSE(InstallSteps::CreateShortcut(L"", L"", link, L"", 1, L"", L"", 0));
  EXPECT_FALSE(
      InstallSteps::CreateShortcut(kBase + L"\\readme.txt", L"", L"", L"", 1, L"", L"", 0));
  EXPECT_FALSE(
      InstallSteps::CreateShortcut(kBase + L"\\readme.txt", L"", link, L"", -1, L"", L"", 0));
  EXPECT_FALSE(
      InstallSteps::CreateShortcut(kBase + L"\\readme.txt", L"", link, L"", 1, L"", L"x", -2));
  EXPECT_FALSE(Exists(link));
  // The link's folder is made with its parents; an empty icon path leaves the icon out.
  EXPECT_TRUE(InstallSteps::CreateShortcut(kBase + L"\\readme.txt", L"-a",
                                           L"C:\\Links\\Deep\\b.lnk", L"About", 3, L"", L"", 5));
  ShellLink back;
  ASSERT_EQ(ReadShellLink(L"C:\\Links\\Deep\\b.lnk", back), ERROR_SUCCESS);
  EXPECT_EQ(back.showCommand, 3);
  EXPECT_EQ(back.description, L"About");
  EXPECT_TRUE(back.iconLocation.empty());
  EXPECT_EQ(back.iconIndex, 0);
}

class AssociationStep : public StepsTest {
 protected:
  void SetUp() override {
    StepsTest::SetUp();
    manager.SetAction(0, 4);
    manager.Product().name = L"Acme Probe";
  }
  void Associate(const std::wstring& attributes, bool remove) {
    auto root = Script(L"<INSTALL><ASSOCIATION " + attributes + L"/></INSTALL>");
    manager.CommonStepAssociation(Child(Child(root, L"INSTALL"), L"ASSOCIATION"), remove, kBase);
  }
  static std::wstring Default(const std::wstring& key) {
    RegKey k;
    std::wstring value;
    if (k.Open(HKEY_CLASSES_ROOT, key) != ERROR_SUCCESS) return L"<no key>";
    if (k.QueryString(L"", value) != ERROR_SUCCESS) return L"<no value>";
    return value;
  }
};

TEST_F(AssociationStep, AnExtensionWithoutADotAndAProgramWithSpaces) {
  Associate(L"Extension=\"tdd\" Program=\"bin/Probe.exe\"", false);
  // The class is the product's name followed by the dotted extension.
  EXPECT_EQ(Default(L".tdd"), L"Acme Probe.tdd");
  EXPECT_EQ(Default(L"Acme Probe.tdd\\shell\\open\\command"),
            L"\"C:\\Program Files (x86)\\Acme Probe\\bin\\Probe.exe\" \"%1\"");
  EXPECT_TRUE(Logged("INFO : CommonStepAssociation: create Ext = .tdd Command = Acme Probe.tdd"));
  Associate(L"Extension=\"tdd\" Program=\"bin/Probe.exe\"", true);
  EXPECT_EQ(Default(L".tdd"), L"<no key>");
  EXPECT_EQ(Default(L"Acme Probe.tdd"), L"<no key>");
  EXPECT_TRUE(Logged("INFO : CommonStepAssociation: remove Ext = .tdd Command = Acme Probe.tdd"));
}

TEST_F(AssociationStep, RemovalKeepsAnExtensionThatAnotherProgramTookOver) {
  Associate(L"Extension=\".tdd\" Program=\"bin\\Probe.exe\"", false);
  {
    RegKey other;
    ASSERT_EQ(other.Open(HKEY_CLASSES_ROOT, L".tdd", KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(other.SetString(L"", L"Other.Document"), ERROR_SUCCESS);
  }
  Associate(L"Extension=\".tdd\" Program=\"bin\\Probe.exe\"", true);
  EXPECT_EQ(Default(L".tdd"), L"Other.Document");
  EXPECT_EQ(Default(L"Acme Probe.tdd"), L"<no key>");
  // A product without a name: the class is the extension's own key, which stays as well.
  manager.Product().name.clear();
  Associate(L"Extension=\".tdd\" Program=\"bin\\Probe.exe\"", true);
  EXPECT_EQ(Default(L".tdd"), L"Other.Document");
}

TEST_F(AssociationStep, IncompleteIgnoredOrBrokenAssociationsWriteNothing) {
  Associate(L"Extension=\"tdd\"", false);
  Associate(L"Program=\"bin\\Probe.exe\"", false);
  Associate(L"Extension=\"tdd\" Program=\"bin\\Probe.exe\" IgnoreFor=\"INSTALL\"", false);
  Associate(L"Extension=\"a\\..\\..\\b\" Program=\"bin\\Probe.exe\"", false);
  EXPECT_EQ(Default(L".tdd"), L"<no key>");
  EXPECT_EQ(Default(L"Acme Probe.tdd"), L"<no key>");
  EXPECT_EQ(Default(L".a"), L"<no key>");
  EXPECT_TRUE(Logged("is no file extension"));
}
