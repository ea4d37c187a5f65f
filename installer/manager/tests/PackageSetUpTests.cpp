// The run's set-up over the package: result 16 from the unpacker, the pictures of the script.
#include "manager/tests/ManagerHarness.h"

#include "app/Tools.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>
#include <wx/image.h>
#include <wx/mstream.h>

using namespace tltest;
using namespace InstallManager;

namespace {

const char* kAnswers =
    "[page DLG_GREETING]\nbutton = Next\n"
    "[page DLG_LICENSE]\nAccept = yes\nbutton = Next\n"
    "[page DLG_INSTALL_TYPE]\nInstallType = Local\nbutton = Next\n";

std::string Png() {
  wxInitAllImageHandlers();
  wxImage image(16, 8);
  wxMemoryOutputStream out;
  EXPECT_TRUE(image.SaveFile(out, wxBITMAP_TYPE_PNG));
  std::string bytes(out.GetSize(), '\0');
  out.CopyTo(bytes.data(), bytes.size());
  return bytes;
}

}  // namespace

TEST(PackageSetUp, ScriptThatCannotBeCreatedEndsTheRunWithResult16) {
  ManagerHarness h(kAnswers);
  h.Package(MakeScript(ScriptOptions{}));
  // A package name so long that the run's temporary folder ("<name>-<8 digits>") can be made
  // but the script's path inside it reaches MAX_PATH: the script cannot be created.
  const std::wstring temp = platform::GetTempPathW();
  const std::wstring name(platform::MAX_PATH - temp.size() - 9 - 10, L'p');
  const std::wstring archive = L"C:\\Pkg\\" + name + L".data";
  ASSERT_EQ(platform::CopyFileW(L"C:\\Pkg\\Setup.data", archive, false), platform::ERROR_SUCCESS);
  EXPECT_EQ(h.Run(archive), irCreateFile);
  const std::wstring blocked = GetInstallTools().Log().GetCurrentFile();
  ASSERT_TRUE(platform::StartsWithNoCase(blocked, temp + name + L"-")) << platform::ToUtf8(blocked);
  EXPECT_EQ(blocked.substr(blocked.rfind(L'\\')), L"\\InstallScript.cfg");
  EXPECT_TRUE(h.Logged("ERROR : CUnzipper::UnzipFile File = " + platform::ToUtf8(blocked) +
                       " is not create"))
      << platform::ToUtf8(h.debug);
  EXPECT_EQ(GetInstallTools().Log().GetCurrentFile(), blocked);
  // The result text names the file.
  EXPECT_NE(h.debug.find(L"Error creating file " + blocked), std::wstring::npos)
      << platform::ToUtf8(h.debug);
}

TEST(PackageSetUp, PicturesAreLoadedAndMissingOnesLogged) {
  ManagerHarness h(kAnswers);
  ScriptOptions o;
  o.images = false;
  o.body =
      L"<Images><Back ID=\"0\" Path=\"img/back.png\"/><Gone ID=\"1\" "
      L"Path=\"img/gone.png\"/></Images>";
  h.Package(MakeScript(o), {{"img/back.png", Png()}});
  EXPECT_EQ(h.Run(), irSuccess) << platform::ToUtf8(h.debug);
  EXPECT_TRUE(h.Logged("WARNING : don't extract graphical resources img/gone.png"));
  auto& graphics = GetGuiTools().Graphics();
  EXPECT_EQ(graphics.GetCount(), 1);
  ASSERT_NE(graphics.GetImage(0), nullptr);
  EXPECT_EQ(graphics.GetImage(0)->GetWidth(), 16);
}

TEST(PackageSetUp, NoImagesElementIsResult11) {
  ManagerHarness h(kAnswers);
  ScriptOptions o;
  o.images = false;
  h.Package(MakeScript(o));
  EXPECT_EQ(h.Run(), irGraphics);
}
