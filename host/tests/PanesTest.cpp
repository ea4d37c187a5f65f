// The panes of a workspace in the real window: the 3D pane's mouse, wheel and Delete key, and
// the splitters (shares kept on resize, a drag to a third, panes hidden and shown).
#include "WindowTestSupport.h"

#include "ui/Object3DView.h"
#include "ui/PropertiesView.h"
#include "ui/TreeObjectView.h"
#include "ui/VHSplitter.h"

#include <algorithm>

using namespace window_test;

namespace {

struct Buttons {
  bool left = false, middle = false, right = false;
};

void Send(CObject3DView& pane, wxEventType type, int x, int y, Buttons b = {}, int wheel = 0) {
  wxMouseEvent e(type);
  e.m_x = x;
  e.m_y = y;
  e.m_leftDown = b.left;
  e.m_middleDown = b.middle;
  e.m_rightDown = b.right;
  e.m_wheelRotation = wheel;
  e.m_wheelDelta = 120;
  e.SetEventObject(&pane);
  pane.ProcessWindowEvent(e);
}

// A frame with the assembly in the left workspace, whose 3D pane records what it asks its view.
class PaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_DISPLAY();
    frame = std::make_unique<TestFrame>();
    ASSERT_TRUE(frame->created);
    ASSERT_TRUE((*frame)->OpenFile(Example("assembly.xml")));
    pane = &(*frame)->GetView1().GetObject3DView();
    real = (*frame)->GetView1().GetCore().GetView();
    ASSERT_TRUE(real);
    recorder = new RecordingView(real);
    QZ::ObjPtr<QZ::CAD::IView> wrapped(recorder);
    pane->SetViewer(wrapped);
    morlane::SettleWindow(frame->frame);
  }
  // The engine's view goes before the window it draws into.
  void TearDown() override {
    real = nullptr;
    frame.reset();
  }

  // A point of the pane with a shape under it (searched on a coarse grid).
  wxPoint ShapePoint() {
    const wxSize size = pane->GetClientSize();
    for (int y = size.y / 10; y < size.y; y += size.y / 10)
      for (int x = size.x / 10; x < size.x; x += size.x / 10)
        if (QZ::ObjPtr<QZ::CAD::IShapeVis>(real->Pick(x, y))) return {x, y};
    ADD_FAILURE() << "no shape in the view";
    return {size.x / 2, size.y / 2};
  }

  std::unique_ptr<TestFrame> frame;
  CObject3DView* pane = nullptr;
  QZ::ObjPtr<QZ::CAD::IView> real;
  RecordingView* recorder = nullptr;  // held by the pane
};

TEST_F(PaneTest, AClickOnEmptySpaceClearsTheTreeSelectionAndStillStartsADrag) {
  CTreeObjectView& tree = (*frame)->GetView1().GetTreeObjectView();
  const wxPoint at = ShapePoint();
  Send(*pane, wxEVT_LEFT_DOWN, at.x, at.y, {true});
  Send(*pane, wxEVT_LEFT_UP, at.x, at.y);
  ASSERT_NE(tree.GetSelectedObject(), nullptr);
  EXPECT_EQ(real->GetSelectedCount(), 1);

  recorder->calls.clear();
  Send(*pane, wxEVT_LEFT_DOWN, 3, 3, {true});
  EXPECT_EQ(tree.GetSelectedObject(), nullptr);
  EXPECT_EQ((*frame)->GetView1().GetPropertiesView().GetShownObject(), nullptr);
  EXPECT_EQ(real->GetSelectedCount(), 0);
  EXPECT_TRUE(pane->IsLeftDown());
  Send(*pane, wxEVT_MOTION, 40, 30, {true});
  EXPECT_EQ(recorder->Input(), (std::vector<std::string>{"ButtonDown", "Drag"}));
}

TEST_F(PaneTest, TheMiddleButtonDragsAsTheLeftOneAndEitherButtonUpEndsIt) {
  Send(*pane, wxEVT_MIDDLE_DOWN, 100, 100, {false, true});
  Send(*pane, wxEVT_MOTION, 120, 110, {false, true});
  EXPECT_EQ(recorder->Input(), (std::vector<std::string>{"ButtonDown", "Drag"}));
  // The middle button moves the model, the left one turns it.
  EXPECT_EQ(recorder->calls.front(), "SetDragMode " + std::to_string(QZ::CAD::eDragPan));
  // No pick for the middle button.
  EXPECT_EQ(std::count(recorder->calls.begin(), recorder->calls.end(), "Pick"), 0);
  // The left button going up ends the middle drag.
  Send(*pane, wxEVT_LEFT_UP, 120, 110);
  EXPECT_FALSE(pane->IsLeftDown());
  Send(*pane, wxEVT_MOTION, 140, 120, {false, true});
  EXPECT_EQ(recorder->Input().size(), 2u);
  // Leaving the window ends a drag too.
  recorder->calls.clear();
  Send(*pane, wxEVT_LEFT_DOWN, 5, 5, {true});
  EXPECT_NE(std::find(recorder->calls.begin(), recorder->calls.end(),
                      "SetDragMode " + std::to_string(QZ::CAD::eDragRotate)),
            recorder->calls.end());
  Send(*pane, wxEVT_LEAVE_WINDOW, 0, 0);
  EXPECT_FALSE(pane->IsLeftDown());
}

TEST_F(PaneTest, BothButtonsSendBothDragsLeftFirst) {
  Send(*pane, wxEVT_LEFT_DOWN, 5, 5, {true});
  Send(*pane, wxEVT_RIGHT_DOWN, 5, 5, {true, false, true});
  recorder->calls.clear();
  Send(*pane, wxEVT_MOTION, 20, 25, {true, false, true});
  Send(*pane, wxEVT_MOTION, 30, 35, {true, false, true});
  EXPECT_EQ(recorder->Input(),
            (std::vector<std::string>{"Drag", "RightDrag", "Drag", "RightDrag"}));
  Send(*pane, wxEVT_RIGHT_UP, 30, 35, {true});
  EXPECT_FALSE(pane->IsRightDown());
  Send(*pane, wxEVT_MOTION, 40, 45, {true, false, true});
  EXPECT_EQ(recorder->Input().back(), "Drag");
}

TEST_F(PaneTest, AWheelStepZoomsByATenthAndBackAgain) {
  const double scale = real->GetScale();
  Send(*pane, wxEVT_MOUSEWHEEL, 50, 50, {}, 120);
  EXPECT_NEAR(real->GetScale(), scale * 1.1, scale * 1e-6);
  Send(*pane, wxEVT_MOUSEWHEEL, 50, 50, {}, -120);
  EXPECT_NEAR(real->GetScale(), scale, scale * 1e-6);
}

TEST_F(PaneTest, TheDeleteKeyRemovesTheSelectedObjectFromViewAndModel) {
  const wxPoint at = ShapePoint();
  Send(*pane, wxEVT_LEFT_DOWN, at.x, at.y, {true});
  Send(*pane, wxEVT_LEFT_UP, at.x, at.y);
  CTreeObject* picked = (*frame)->GetView1().GetTreeObjectView().GetSelectedObject();
  ASSERT_NE(picked, nullptr);
  const int shown = real->GetDisplayedCount();
  // Another key does nothing.
  wxKeyEvent other(wxEVT_KEY_DOWN);
  other.m_keyCode = 'A';
  pane->ProcessWindowEvent(other);
  EXPECT_EQ(real->GetDisplayedCount(), shown);

  auto* parent = static_cast<CNode*>(picked->GetParent());
  const int children = parent->GetChildCount();
  wxKeyEvent del(wxEVT_KEY_DOWN);
  del.m_keyCode = WXK_DELETE;
  pane->ProcessWindowEvent(del);
  EXPECT_EQ(real->GetDisplayedCount(), shown - 1);
  EXPECT_EQ(parent->GetChildCount(), children - 1);
  EXPECT_EQ((*frame)->GetView1().GetTreeObjectView().GetSelectedObject(), nullptr);
}

TEST(WorkspaceSplitters, HidingBothPanesHidesTheColumnAndTheTreeComesBackAlone) {
  REQUIRE_DISPLAY();
  TestFrame frame;
  ASSERT_TRUE(frame.created);
  CSplitterView& ws = frame->GetView1();
  CVHSplitter& left = ws.GetLeftSplitter();
  ASSERT_TRUE(ws.IsSplit());
  ASSERT_TRUE(left.IsSplit());

  ws.ShowTreeObjectView(false);
  EXPECT_TRUE(ws.IsSplit());
  EXPECT_FALSE(left.IsSplit());
  EXPECT_FALSE(ws.GetTreeObjectView().IsShown());
  EXPECT_TRUE(ws.GetPropertiesView().IsShown());
  ws.ShowPropertiesView(false);
  EXPECT_FALSE(ws.IsSplit());
  EXPECT_FALSE(left.IsShown());
  EXPECT_TRUE(ws.GetObject3DView().IsShown());
  EXPECT_EQ(ws.GetColumnCount(), 1);
  morlane::SettleWindow(frame.frame);
  Shot(frame.frame, "workspace-left-column-hidden");

  ws.ShowTreeObjectView(true);
  EXPECT_TRUE(ws.IsSplit());
  EXPECT_TRUE(left.IsShown());
  EXPECT_FALSE(left.IsSplit());
  EXPECT_TRUE(ws.GetTreeObjectView().IsShown());
  EXPECT_FALSE(ws.GetPropertiesView().IsShown());
  EXPECT_TRUE(ws.GetShowTreeObjectView());
  EXPECT_FALSE(ws.GetShowPropertiesView());

  ws.ShowPropertiesView(true);
  EXPECT_TRUE(left.IsSplit());
  EXPECT_TRUE(ws.GetPropertiesView().IsShown());
  EXPECT_EQ(left.GetRowCount(), 2);
}

TEST(WorkspaceSplitters, ADragToAThirdIsKeptWhenTheFrameGrows) {
  REQUIRE_DISPLAY();
  TestFrame frame;
  ASSERT_TRUE(frame.created);
  CSplitterView& ws = frame->GetView1();
  EXPECT_NEAR(ws.GetInitialRatioH(), 0.25, 1e-9);
  const int available = ws.GetClientSize().x - ws.GetSashSize();
  ASSERT_GT(available, 0);
  // What the splitter does when the user lets the bar go at a third.
  const int third = available / 3;
  ASSERT_TRUE(ws.OnSashPositionChange(third));
  ws.SetSashPosition(third);
  EXPECT_NEAR(ws.GetInitialRatioH(), 1.0 / 3, 0.01);

  frame->SetSize(frame->GetSize() + wxSize(200, 100));
  morlane::SettleWindow(frame.frame);
  const int wider = ws.GetClientSize().x - ws.GetSashSize();
  ASSERT_GT(wider, available);
  EXPECT_NEAR(ws.GetSashPosition(), wider / 3.0, 2);
  EXPECT_NEAR(ws.GetInitialRatioH(), 1.0 / 3, 0.01);

  // A share set in code waits for the next layout.
  ws.SetInitialRatioV(0.8);
  ws.GetLeftSplitter().RecalcLayout();
  const CVHSplitter& left = ws.GetLeftSplitter();
  const int height = left.GetClientSize().y - left.GetSashSize();
  EXPECT_NEAR(left.GetSashPosition(), height * 0.8, 2);
  EXPECT_DOUBLE_EQ(ws.GetInitialRatioV(), 0.8);
}

}  // namespace
