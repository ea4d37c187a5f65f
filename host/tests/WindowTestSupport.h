#pragma once
// What the window tests share: one wx application for the binary (when there is a display),
// the folder screenshots go to, example files, and a view that records the calls the 3D pane
// makes while it hands them on to the engine's real view.
#include "MorlaneFrame.h"
#include "WindowPicture.h"

#include "ui/MorlaneApp.h"

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace window_test {

inline bool& WxReady() {
  static bool ready = false;
  return ready;
}

class WxEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return;
    setenv("GDK_BACKEND", "x11", 1);
    static int argc = 1;
    static char name[] = "host_window_tests";
    static char* argv[] = {name, nullptr};
    wxApp::SetInstance(new CMorlaneApp);
    WxReady() = wxEntryStart(argc, argv) && wxTheApp->CallOnInit();
  }
  void TearDown() override {
    if (!WxReady()) return;
    wxTheApp->OnExit();
    wxEntryCleanup();
  }
};

// Registered once for the binary, whichever test files include this header.
inline ::testing::Environment* const g_wxEnvironment =
    ::testing::AddGlobalTestEnvironment(new WxEnvironment);

#define REQUIRE_DISPLAY() \
  if (!window_test::WxReady()) GTEST_SKIP() << "no display"

// The model object leaves below a group, depth first.
inline int CountLeaves(const CTreeObject* object) {
  if (!object) return 0;
  if (!object->IsNode()) return 1;
  int n = 0;
  for (const auto& child : static_cast<const CNode*>(object)->GetChildren())
    n += CountLeaves(child.get());
  return n;
}

inline std::string SourceDir() {
  const char* src = std::getenv("TOLMERA_SOURCE_DIR");
  return src ? src : TOLMERA_TEST_SOURCE_DIR;
}

inline std::wstring Example(const char* name) {
  return (std::filesystem::path(SourceDir()) / "examples/models" / name).wstring();
}

inline std::string ShotFolder() {
  const char* env = std::getenv("TOLMERA_SCREENSHOTS");
  const char* build = std::getenv("TOLMERA_BUILD_DIR");
  std::string folder = env ? env : std::string(build ? build : ".") + "/screenshots";
  std::filesystem::create_directories(folder);
  return folder;
}

inline void Shot(wxWindow* window, const std::string& name) {
  EXPECT_TRUE(morlane::SaveWindowPicture(window, ShotFolder() + "/" + name + ".png")) << name;
}

// A frame of the program without dialogs, destroyed at the end of the test.
struct TestFrame {
  TestFrame() {
    frame = new morlane::CMorlaneFrame;
    frame->SetDialogsEnabled(false);
    created = frame->Create();
    if (created) {
      frame->Show();
      morlane::SettleWindow(frame);
    }
  }
  ~TestFrame() {
    if (created) {
      frame->Destroy();
    } else {
      delete frame;
    }
    if (wxTheApp) wxTheApp->Yield(true);
  }
  morlane::CMorlaneFrame* operator->() const { return frame; }
  morlane::CMorlaneFrame* frame = nullptr;
  bool created = false;
};

// Records the view operations it is asked for, by name, and hands them on to the real view.
class RecordingView : public QZ::CAD::IView {
 public:
  explicit RecordingView(QZ::ObjPtr<QZ::CAD::IView> real) : m_real(std::move(real)) {}
  std::vector<std::string> calls;

  void AddRef() override { ++m_refs; }
  void Release() override {
    if (--m_refs == 0) delete this;
  }
  QZ::CAD::IShapeVis* Display(QZ::CAD::IShape* s) override {
    calls.push_back("Display");
    return m_real->Display(s);
  }
  void Paint() override { m_real->Paint(); }
  void Zoom(double& f) override {
    calls.push_back("Zoom");
    m_real->Zoom(f);
  }
  void ButtonDown(int& x, int& y) override {
    calls.push_back("ButtonDown");
    m_real->ButtonDown(x, y);
  }
  void RightButtonDown(int& x, int& y) override {
    calls.push_back("RightButtonDown");
    m_real->RightButtonDown(x, y);
  }
  void Drag(int& x, int& y) override {
    calls.push_back("Drag");
    m_real->Drag(x, y);
  }
  void RightDrag(int& x, int& y) override {
    calls.push_back("RightDrag");
    m_real->RightDrag(x, y);
  }
  void Resized() override { m_real->Resized(); }
  void ShowGrid(bool s) override { m_real->ShowGrid(s); }
  void ShowAxes(bool s) override { m_real->ShowAxes(s); }
  void Select(QZ::CAD::IShapeVis* v) override { m_real->Select(v); }
  QZ::CAD::IShapeVis* Pick(int x, int y) override {
    calls.push_back("Pick");
    return m_real->Pick(x, y);
  }
  void Erase(QZ::CAD::IShapeVis* v) override { m_real->Erase(v); }
  void ClearSelection() override { m_real->ClearSelection(); }
  void FinishSelection() override { m_real->FinishSelection(); }
  void DeleteSelected() override {
    calls.push_back("DeleteSelected");
    m_real->DeleteSelected();
  }
  void Redraw() override { m_real->Redraw(); }
  void FitAll() override { m_real->FitAll(); }
  void UpdateView() override { m_real->UpdateView(); }
  void EraseAll() override { m_real->EraseAll(); }
  void ResetView() override { m_real->ResetView(); }
  bool SaveImage(const char* p, int w, int h) override { return m_real->SaveImage(p, w, h); }
  int GetDisplayedCount() override { return m_real->GetDisplayedCount(); }
  int GetSelectedCount() override { return m_real->GetSelectedCount(); }
  double GetScale() override { return m_real->GetScale(); }
  void SetDragMode(int mode) override {
    calls.push_back("SetDragMode " + std::to_string(mode));
    m_real->SetDragMode(mode);
  }
  void Prepare(QZ::CAD::IShape* const* shapes, int count) override {
    m_real->Prepare(shapes, count);
  }
  long GetSceneDrawCount() override { return m_real->GetSceneDrawCount(); }
  bool SaveShownImage(const char* path) override { return m_real->SaveShownImage(path); }
  void KeepInFront(QZ::CAD::IShapeVis* const* visuals, int count) override {
    m_real->KeepInFront(visuals, count);
  }
  bool GetGrid(QZ::CAD::GridPlacement* out) override { return m_real->GetGrid(out); }

  // The recorded calls from the first Pick/ButtonDown on, without Pick.
  std::vector<std::string> Input() const {
    std::vector<std::string> out;
    for (const auto& c : calls)
      if (c == "ButtonDown" || c == "RightButtonDown" || c == "Drag" || c == "RightDrag")
        out.push_back(c);
    return out;
  }

 private:
  virtual ~RecordingView() = default;
  int m_refs = 1;
  QZ::ObjPtr<QZ::CAD::IView> m_real;
};

}  // namespace window_test
