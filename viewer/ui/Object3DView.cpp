#include "ui/Object3DView.h"

#include <wx/dcclient.h>
#include <wx/utils.h>

// The toolkit's calls that give the pane a native window of its own and its X11 id.
extern "C" {
void gtk_widget_realize(void* widget);
int gdk_window_ensure_native(void* window);
unsigned long gdk_x11_window_get_xid(void* window);
}

namespace {
constexpr double kWheelZoom = 1.1;
}

CObject3DView::CObject3DView() = default;
CObject3DView::~CObject3DView() { m_pView = nullptr; }

template <class F>
void CObject3DView::Guarded(const F& call) {
  if (!m_pView) return;
  try {
    call();
  } catch (QZ::IException* e) {
    if (e) e->Release();
  }
}

bool CObject3DView::Create(wxWindow* parent, wxWindowID id) {
  if (!wxWindow::Create(parent, id, wxDefaultPosition, wxDefaultSize,
                        wxFULL_REPAINT_ON_RESIZE | wxWANTS_CHARS))
    return false;
  // The engine draws the whole window: no background erase by the toolkit.
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &CObject3DView::OnPaint, this);
  Bind(wxEVT_SIZE, &CObject3DView::OnSize, this);
  Bind(wxEVT_LEFT_DOWN, &CObject3DView::OnLeftDown, this);
  Bind(wxEVT_MIDDLE_DOWN, &CObject3DView::OnMiddleDown, this);
  Bind(wxEVT_RIGHT_DOWN, &CObject3DView::OnRightDown, this);
  Bind(wxEVT_LEFT_UP, &CObject3DView::OnLeftOrMiddleUp, this);
  Bind(wxEVT_MIDDLE_UP, &CObject3DView::OnLeftOrMiddleUp, this);
  Bind(wxEVT_RIGHT_UP, &CObject3DView::OnRightUp, this);
  Bind(wxEVT_MOTION, &CObject3DView::OnMouseMove, this);
  Bind(wxEVT_MOUSEWHEEL, &CObject3DView::OnMouseWheel, this);
  Bind(wxEVT_LEAVE_WINDOW, &CObject3DView::OnMouseLeave, this);
  Bind(wxEVT_KEY_DOWN, &CObject3DView::OnKeyDown, this);
  // No context menu of the toolkit's own.
  Bind(wxEVT_CONTEXT_MENU, [](wxContextMenuEvent&) {});
  return true;
}

QZ::CAD::XWindowHandle* CObject3DView::GetWindowHandle() {
  if (m_handle.window) return &m_handle;
  void* display = wxGetX11Display();
  if (!display || !GetHandle()) return nullptr;
  gtk_widget_realize(GetHandle());
  void* window = GTKGetDrawingWindow();
  if (!window || !gdk_window_ensure_native(window)) return nullptr;
  m_handle.display = display;
  m_handle.window = gdk_x11_window_get_xid(window);
  return m_handle.window ? &m_handle : nullptr;
}

void CObject3DView::SetViewer(QZ::ObjPtr<QZ::CAD::IView>& view) { m_pView = view; }

void CObject3DView::SelectShape(CTreeObject* object) {
  if (m_pCore) m_pCore->SelectShapes(object);
}
void CObject3DView::SelectRecurs(CTreeObject* object) {
  if (m_pCore) m_pCore->AddToSelection(object);
}
void CObject3DView::Erase(CTreeObject* object) {
  if (m_pCore) m_pCore->EraseShapes(object);
}
void CObject3DView::DeleteSelectedShape() {
  Guarded([&] { m_pView->DeleteSelected(); });
}
void CObject3DView::UpdateSelectedObject(CObject3D* object) {
  if (m_pCore) m_pCore->ShowAgain(object);
}

void CObject3DView::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  if (!m_pView) {
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    return;
  }
  // The engine's view fills the window (white where there is no model).
  Guarded([&] { m_pView->Paint(); });
}

void CObject3DView::OnSize(wxSizeEvent& event) {
  event.Skip();
  Guarded([&] { m_pView->Resized(); });
}

void CObject3DView::OnLeftDown(wxMouseEvent& event) {
  int x = event.GetX(), y = event.GetY();
  if (m_pView) {
    QZ::ObjPtr<QZ::CAD::IShapeVis> vis;
    Guarded([&] { vis = QZ::ObjPtr<QZ::CAD::IShapeVis>(m_pView->Pick(x, y)); });
    // Nothing there clears the tree's selection; a shape selects its item.
    if (m_pCore) m_pCore->OnPick(vis.Get());
  }
  SetFocus();
  m_bLeftDown = 1;
  Guarded([&] {
    m_pView->SetDragMode(QZ::CAD::eDragRotate);
    m_pView->ButtonDown(x, y);
  });
}

void CObject3DView::OnMiddleDown(wxMouseEvent& event) {
  int x = event.GetX(), y = event.GetY();
  SetFocus();
  m_bLeftDown = 1;
  Guarded([&] {
    m_pView->SetDragMode(QZ::CAD::eDragPan);
    m_pView->ButtonDown(x, y);
  });
}

void CObject3DView::OnRightDown(wxMouseEvent& event) {
  int x = event.GetX(), y = event.GetY();
  SetFocus();
  m_bRightDown = 1;
  Guarded([&] { m_pView->RightButtonDown(x, y); });
}

void CObject3DView::OnLeftOrMiddleUp(wxMouseEvent&) { m_bLeftDown = 0; }
void CObject3DView::OnRightUp(wxMouseEvent&) { m_bRightDown = 0; }
void CObject3DView::OnMouseLeave(wxMouseEvent&) { m_bLeftDown = 0; }

void CObject3DView::OnMouseMove(wxMouseEvent& event) {
  int x = event.GetX(), y = event.GetY();
  if ((event.LeftIsDown() || event.MiddleIsDown()) && m_bLeftDown) {
    Guarded([&] { m_pView->Drag(x, y); });
  }
  if (event.RightIsDown() && m_bRightDown) {
    int rx = event.GetX(), ry = event.GetY();
    Guarded([&] { m_pView->RightDrag(rx, ry); });
  }
}

void CObject3DView::OnMouseWheel(wxMouseEvent& event) {
  double factor = event.GetWheelRotation() > 0 ? kWheelZoom : 1.0 / kWheelZoom;
  Guarded([&] { m_pView->Zoom(factor); });
}

void CObject3DView::OnKeyDown(wxKeyEvent& event) {
  if (event.GetKeyCode() != WXK_DELETE) return;
  // The selected object leaves the model, this view and the tree; the view is drawn again.
  if (m_pCore) m_pCore->DeleteSelected();
  Guarded([&] { m_pView->Redraw(); });
}
