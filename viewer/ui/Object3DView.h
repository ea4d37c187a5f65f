#pragma once
// The 3D pane of a workspace: a window of its own on the display in which the engine's view
// draws the model. Paint, size, mouse, wheel and key events go to the engine's view; a left
// click picks the shape under the mouse and selects its tree item through the workspace
// (CWorkspaceCore::OnPick); the Delete key asks the workspace to delete the selected object
// (CWorkspaceCore::DeleteSelected). The pane knows its workspace only by the core handed to it.
//
// Buttons: the left and the middle button both start the view's drag (the left one turns the
// model, the middle one moves it), the right button its right drag (zoom), the wheel zooms by
// 1.1 a step.

#include "MorlaneExport.h"
#include "workspace/WorkspaceCore.h"

#include <wx/window.h>

class MORLANE_API CObject3DView : public wxWindow {
 public:
  CObject3DView();
  ~CObject3DView() override;

  bool Create(wxWindow* parent, wxWindowID id);
  // The workspace that picks and deletes go to, and whose view the shape operations below
  // work in; null: none (they do nothing).
  void SetCore(CWorkspaceCore* core) { m_pCore = core; }
  CWorkspaceCore* GetCore() const { return m_pCore; }

  // Replaces the view (releasing the old one).
  void SetViewer(QZ::ObjPtr<QZ::CAD::IView>& view);
  const QZ::ObjPtr<QZ::CAD::IView>& GetViewer() const { return m_pView; }
  // The address of the window handle the engine's view draws into; null when the window has
  // no native window on an X display.
  QZ::CAD::XWindowHandle* GetWindowHandle();

  // The shapes of the leaves below the object leave the view.
  void Erase(CTreeObject* object);
  // The view deletes its selected visuals (the model is not touched).
  void DeleteSelectedShape();
  // Shows a leaf again after its solid changed, selected (a shaft section: its whole shaft).
  void UpdateSelectedObject(CObject3D* object);
  // Selects the shapes of the leaves below the object and only them.
  void SelectShape(CTreeObject* object);

  // The drags in progress (tests read them).
  bool IsLeftDown() const { return m_bLeftDown != 0; }
  bool IsRightDown() const { return m_bRightDown != 0; }

 protected:
  void SelectRecurs(CTreeObject* object);

  void OnPaint(wxPaintEvent& event);
  void OnSize(wxSizeEvent& event);
  void OnLeftDown(wxMouseEvent& event);
  void OnMiddleDown(wxMouseEvent& event);
  void OnRightDown(wxMouseEvent& event);
  void OnLeftOrMiddleUp(wxMouseEvent& event);
  void OnRightUp(wxMouseEvent& event);
  void OnMouseMove(wxMouseEvent& event);
  void OnMouseWheel(wxMouseEvent& event);
  void OnMouseLeave(wxMouseEvent& event);
  void OnKeyDown(wxKeyEvent& event);

  unsigned char m_bLeftDown = 0;
  unsigned char m_bRightDown = 0;
  QZ::ObjPtr<QZ::CAD::IView> m_pView;

 private:
  // Runs a call of the engine's view; its errors are dropped (input never stops the program).
  template <class F>
  void Guarded(const F& call);

  QZ::CAD::XWindowHandle m_handle{};
  CWorkspaceCore* m_pCore = nullptr;
};
