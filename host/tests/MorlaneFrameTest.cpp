// The program's real window under a display, driven through its commands: open, export,
// recognise, grid, axes, a pick, the selection's recognition and its shaft data; screenshots of
// both workspaces go to <build>/screenshots.
#include "WindowTestSupport.h"

#include "model/elements/Shafts.h"
#include "ui/MlsString.h"
#include "ui/Object3DView.h"
#include "ui/PropertiesView.h"
#include "ui/TreeObjectView.h"
#include "ui/VHSplitter.h"
#include "workspace/CadEngineLibrary.h"

#include <wx/dialog.h>

#include <filesystem>
#include <fstream>

using namespace window_test;
using morlane::CMorlaneFrame;

namespace {

struct Folder {
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "morlane-win-XXXXXX").string();
    path = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~Folder() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  std::wstring W(const char* name) const { return (std::filesystem::path(path) / name).wstring(); }
  std::filesystem::path path;
};

// A left click at a point of a 3D pane, as the toolkit delivers it.
void Click(CObject3DView& pane, int x, int y) {
  wxMouseEvent down(wxEVT_LEFT_DOWN);
  down.m_x = x;
  down.m_y = y;
  down.m_leftDown = true;
  down.SetEventObject(&pane);
  pane.ProcessWindowEvent(down);
  wxMouseEvent up(wxEVT_LEFT_UP);
  up.m_x = x;
  up.m_y = y;
  up.SetEventObject(&pane);
  pane.ProcessWindowEvent(up);
}

TEST(MorlaneWindow, OpenExportRecogniseGridAxesPickAndShaftData) {
  REQUIRE_DISPLAY();
  TestFrame frame;
  ASSERT_TRUE(frame.created);
  Folder dir;

  // Open: the left workspace shows the shaft model.
  frame->QueueFileAnswer(Example("shaft-grooves.xml"));
  frame->RunCommand(morlane::kCmdOpen);
  ASSERT_TRUE(frame->GetView1().GetRoot());
  EXPECT_EQ(frame->GetPathName(), Example("shaft-grooves.xml"));
  EXPECT_EQ(frame->GetFileExt(), L"xml");
  EXPECT_EQ(frame->GetTitle().ToStdWstring(), L"shaft-grooves.xml - CAD Ondravel Viewer");
  const int leaves = CountLeaves(frame->GetView1().GetRoot().get());
  ASSERT_GT(leaves, 1);
  EXPECT_EQ(frame->GetView1().GetCore().GetView()->GetDisplayedCount(), leaves);
  Shot(frame.frame, "morlane-1-opened");

  // Export the left model to STEP: a name typed without extension takes the default one.
  frame->QueueFileAnswer(dir.W("shafts.stp"));
  frame->RunCommand(morlane::kCmdExportLeft);
  EXPECT_TRUE(frame->GetMessages().empty());
  ASSERT_TRUE(std::filesystem::exists(dir.path / "shafts.stp"));
  EXPECT_EQ(frame->GetPendingAnswers(), 0u);

  // Recognise: both workspaces import the file, the right one recognises its shafts.
  frame->QueueFileAnswer(dir.W("shafts.stp"));
  frame->RunCommand(morlane::kCmdRecognize);
  EXPECT_TRUE(frame->GetMessages().empty());
  EXPECT_EQ(frame->GetFileExt(), L"stp");
  EXPECT_EQ(frame->GetTitle().ToStdWstring(), L"shafts.stp - CAD Ondravel Viewer");
  auto right = frame->GetView2().GetRoot();
  ASSERT_TRUE(right);
  ASSERT_FALSE(frame->GetRecognizeData().empty());
  int recognised = 0;
  for (const auto& r : frame->GetRecognizeData()) recognised += r ? 1 : 0;
  EXPECT_GT(recognised, 0);
  bool anyShaft = false;
  std::vector<const CTreeObject*> pending{right.get()};
  while (!pending.empty()) {
    const CTreeObject* o = pending.back();
    pending.pop_back();
    anyShaft |= o->GetType() == eTypeShaft;
    if (o->IsNode())
      for (const auto& c : static_cast<const CNode*>(o)->GetChildren()) pending.push_back(c.get());
  }
  EXPECT_TRUE(anyShaft);
  Shot(frame.frame, "morlane-2-recognised");

  // Grid and axes off in both workspaces, then on again.
  frame->RunCommand(morlane::kCmdGrid);
  frame->RunCommand(morlane::kCmdAxes);
  EXPECT_FALSE(frame->GetView1().GetCore().IsGridShown());
  EXPECT_FALSE(frame->GetView2().GetCore().IsGridShown());
  EXPECT_FALSE(frame->GetView1().GetCore().IsTrihedronShown());
  EXPECT_FALSE(frame->GetView2().GetCore().IsTrihedronShown());
  Shot(frame.frame, "morlane-3-no-grid-no-axes");
  frame->RunCommand(morlane::kCmdGrid);
  frame->RunCommand(morlane::kCmdAxes);
  EXPECT_TRUE(frame->GetView2().GetCore().IsGridShown());
  EXPECT_TRUE(frame->GetView1().GetCore().IsTrihedronShown());

  // A pick in the middle of the left view selects the shape under it in the tree, in the view
  // and in the property pane.
  CObject3DView& pane = frame->GetView1().GetObject3DView();
  const wxSize size = pane.GetClientSize();
  Click(pane, size.x / 2, size.y / 2);
  CTreeObject* picked = frame->GetView1().GetTreeObjectView().GetSelectedObject();
  ASSERT_NE(picked, nullptr) << "nothing under the middle of the view";
  EXPECT_FALSE(picked->IsNode());
  EXPECT_EQ(frame->GetView1().GetPropertiesView().GetShownObject(), picked);
  EXPECT_EQ(frame->GetView1().GetCore().GetView()->GetSelectedCount(), 1);
  Shot(frame.frame, "morlane-4-picked");

  // A left drag in the right view turns its model; the wheel then zooms out a step.
  CObject3DView& rightPane = frame->GetView2().GetObject3DView();
  const double scale = frame->GetView2().GetCore().GetView()->GetScale();
  wxMouseEvent down(wxEVT_LEFT_DOWN);
  down.m_x = 5;
  down.m_y = 5;
  down.m_leftDown = true;
  rightPane.ProcessWindowEvent(down);
  for (int step = 1; step <= 4; ++step) {
    wxMouseEvent move(wxEVT_MOTION);
    move.m_x = 5 + 40 * step;
    move.m_y = 5 + 25 * step;
    move.m_leftDown = true;
    rightPane.ProcessWindowEvent(move);
  }
  wxMouseEvent up(wxEVT_LEFT_UP);
  rightPane.ProcessWindowEvent(up);
  wxMouseEvent wheel(wxEVT_MOUSEWHEEL);
  wheel.m_wheelRotation = -120;
  wheel.m_wheelDelta = 120;
  rightPane.ProcessWindowEvent(wheel);
  EXPECT_NEAR(frame->GetView2().GetCore().GetView()->GetScale(), scale / 1.1, scale * 1e-6);
  frame->GetView2().GetCore().GetView()->Redraw();
  Shot(frame.frame, "morlane-4b-right-turned");

  // Recognise the selection into the right workspace, then fetch the shaft data there.
  frame->RunCommand(morlane::kCmdRecognizeSelection);
  auto copy = frame->GetView2().GetRoot();
  ASSERT_TRUE(copy);
  ASSERT_EQ(copy->GetChildCount(), 1);
  frame->RunCommand(morlane::kCmdShaftData);
  ASSERT_EQ(frame->GetRecognizeSelected().size(), 1u);
  ASSERT_NE(frame->GetShaftDataDialog(), nullptr);
  EXPECT_TRUE(frame->GetShaftDataDialog()->IsShown());
  EXPECT_TRUE(frame->GetShaftDataText().StartsWith("Shaft 1, sections: 1\n  1. pos=0 "))
      << frame->GetShaftDataText();
  Shot(frame.frame, "morlane-5-selection-recognised");
  Shot(frame->GetShaftDataDialog(), "morlane-6-shaft-data");

  // Export the right model to IGES.
  frame->QueueFileAnswer(dir.W("right.igs"));
  frame->RunCommand(morlane::kCmdExportRight);
  EXPECT_TRUE(std::filesystem::exists(dir.path / "right.igs"));
  EXPECT_TRUE(frame->GetMessages().empty());
}

TEST(MorlaneWindow, CommandsThatHaveNothingToWorkOnDoNothing) {
  REQUIRE_DISPLAY();
  TestFrame frame;
  ASSERT_TRUE(frame.created);
  // No model on the right: no dialog (the answer stays unused).
  frame->QueueFileAnswer(L"/nonexistent/out.stp");
  frame->RunCommand(morlane::kCmdExportRight);
  frame->RunCommand(morlane::kCmdExportLeft);
  EXPECT_EQ(frame->GetPendingAnswers(), 1u);
  frame->RunCommand(morlane::kCmdOpen);  // takes the answer: a file that is not there
  EXPECT_EQ(frame->GetPendingAnswers(), 0u);
  ASSERT_EQ(frame->GetMessages().size(), 1u);
  EXPECT_EQ(frame->GetMessages()[0].rfind(L"The model file cannot be opened.", 0), 0u);
  EXPECT_EQ(frame->GetTitle().ToStdWstring(), L"CAD Ondravel Viewer");
  EXPECT_TRUE(frame->GetPathName().empty());
  // Recognising the selection before anything was opened does nothing.
  frame->RunCommand(morlane::kCmdRecognizeSelection);
  EXPECT_FALSE(frame->GetView2().GetRoot());

  // After an STL import it still does nothing.
  Folder dir;
  frame->QueueFileAnswer(Example("assembly.xml"));
  frame->RunCommand(morlane::kCmdOpen);
  frame->QueueFileAnswer(dir.W("a.stl"));
  frame->RunCommand(morlane::kCmdExportLeft);
  frame->QueueFileAnswer(dir.W("a.stl"));
  frame->RunCommand(morlane::kCmdImport);
  EXPECT_EQ(frame->GetFileExt(), L"stl");
  EXPECT_EQ(frame->GetTitle().ToStdWstring(), L"a.stl - CAD Ondravel Viewer");
  frame->RunCommand(morlane::kCmdRecognizeSelection);
  EXPECT_FALSE(frame->GetView2().GetRoot());

  // A cancelled dialog changes nothing.
  auto model = frame->GetView1().GetRoot();
  frame->RunCommand(morlane::kCmdImport);
  EXPECT_EQ(frame->GetView1().GetRoot(), model);
  EXPECT_EQ(frame->GetFileExt(), L"stl");
}

TEST(MorlaneWindow, RecognisingWithoutTreeSelectionTakesTheWholeModel) {
  REQUIRE_DISPLAY();
  TestFrame frame;
  ASSERT_TRUE(frame.created);
  ASSERT_TRUE(frame->OpenFile(Example("assembly.xml")));
  ASSERT_EQ(frame->GetView1().GetTreeObjectView().GetSelectedObject(), nullptr);
  frame->RunCommand(morlane::kCmdRecognizeSelection);
  auto copy = frame->GetView2().GetRoot();
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->GetChildCount(), frame->GetView1().GetRoot()->GetChildCount());
  // The pins and the bushing are turned parts: the state is the last leaf's.
  EXPECT_EQ(frame->GetRecognizeState(), eRecognizeAllAtZero);
  Shot(frame.frame, "morlane-7-assembly-recognised");
}

TEST(MorlaneWindow, TheTitleReadsTheFileNameAndTheProgramsName) {
  REQUIRE_DISPLAY();
  Folder dir;
  std::filesystem::copy_file(std::filesystem::path(Example("assembly.xml")), dir.path / "gear.xml");
  TestFrame frame;
  ASSERT_TRUE(frame.created);
  ASSERT_TRUE(frame->OpenFile(dir.W("gear.xml")));
  EXPECT_EQ(frame->GetTitle().ToStdWstring(), L"gear.xml - CAD Ondravel Viewer");
}

TEST(MorlaneWindow, TheEngineIsLoadedOnceFromBesideTheViewerLibrary) {
  REQUIRE_DISPLAY();
  TestFrame first;
  ASSERT_TRUE(first.created);
  QZ::CAD::ICADTools* tools = first->GetCADTools();
  ASSERT_NE(tools, nullptr);
  EXPECT_TRUE(first->LoadCadOndravelDLL(true));
  EXPECT_EQ(first->GetCADTools(), tools);
  EXPECT_TRUE(first->FindCadOndravelDLL(false));
  EXPECT_EQ(CCadEngineLibrary::DefaultPath(),
            CCadEngineLibrary::ViewerFolder() + "libcad-ondravel.so");
  EXPECT_TRUE(std::filesystem::exists(CCadEngineLibrary::ViewerFolder() + "libMorlane.so"));
  // A second frame shares the process's engine.
  TestFrame second;
  ASSERT_TRUE(second.created);
  EXPECT_EQ(second->GetCADTools(), tools);
  EXPECT_TRUE(first->GetMessages().empty());
}

TEST(MorlaneWindow, TheSplitShareSetBeforeTheWindowWaitsForTheNextLayout) {
  REQUIRE_DISPLAY();
  auto* frame = new CMorlaneFrame;
  frame->SetDialogsEnabled(false);
  frame->SetSplitPercent(0.3);
  EXPECT_DOUBLE_EQ(frame->GetSplitPercent(), 0.3);
  ASSERT_TRUE(frame->Create());
  frame->Show();
  morlane::SettleWindow(frame);
  CVHSplitter* splitter = frame->GetSplitter();
  ASSERT_NE(splitter, nullptr);
  const int available = splitter->GetClientSize().x - splitter->GetSashSize();
  EXPECT_NEAR(splitter->GetSashPosition(), available / 2, 2);
  EXPECT_DOUBLE_EQ(frame->GetSplitPercent(), 0.3);
  // Now it applies at the next layout.
  frame->SetSplitPercent(0.3);
  splitter->RecalcLayout();
  EXPECT_NEAR(splitter->GetSashPosition(), available * 0.3, 2);
  frame->Destroy();
  wxTheApp->Yield(true);
}

TEST(MorlaneWindow, ALanguageFileRenamesTheModelsRoot) {
  REQUIRE_DISPLAY();
  const std::wstring lng =
      (std::filesystem::path(SourceDir()) / "examples/viewer-language/Morlane.lng").wstring();
  ASSERT_EQ(CMainFrame::LoadLocation(lng.c_str(), 1049), 1);
  auto* frame = new CMorlaneFrame;
  frame->SetDialogsEnabled(false);
  ASSERT_TRUE(frame->Create());
  frame->Show();
  ASSERT_TRUE(frame->OpenFile(Example("assembly.xml")));
  frame->UpdateAll();
  const std::wstring root = CMlsString::GetResourceString(eMessages, 391);
  EXPECT_NE(root, L"Root");
  EXPECT_EQ(frame->GetView1().GetTreeObjectView().GetRootText(), root);
  EXPECT_EQ(frame->GetView1().GetRoot()->GetName(), root);
  Shot(frame, "morlane-8-russian");
  // Closing the frame clears the language table.
  frame->Close(true);
  wxTheApp->Yield(true);
  EXPECT_EQ(CMlsString::GetResourceString(eMessages, 391), L"Root");
}

}  // namespace

TEST(MorlaneWindow, TheApplicationsStartUpTurnsTheTaskBarOffAndNamesTheSettingsKey) {
  REQUIRE_DISPLAY();
  auto* app = dynamic_cast<CMorlaneApp*>(wxTheApp);
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(app->GetRestartManagerSupport(), CMorlaneApp::kRestartAllAspects);
  EXPECT_FALSE(app->GetTaskbarInteraction());
  EXPECT_EQ(app->GetRegistryKey(), L"Local AppWizard-Generated Applications");
}
