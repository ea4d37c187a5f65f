#pragma once
// The model tree pane of a workspace. For now the pane shows its caption and the selected
// object's name; it keeps the model it shows and its selection for the workspace.

#include "MorlaneExport.h"
#include "workspace/WorkspaceCore.h"

#include <wx/window.h>

class CSplitterView;

class MORLANE_API CTreeObjectView : public wxWindow, public IWorkspaceTree {
 public:
  CTreeObjectView();
  ~CTreeObjectView() override;
  bool Create(wxWindow* parent, wxWindowID id);

  void UpdateTreeObjects(const std::shared_ptr<CNodeRoot>& root) override;
  CTreeObject* GetSelectedObject() const override { return m_pSelected; }
  CTreeObject* GetRootObject() const override { return m_pRoot.get(); }
  void SelectObject(CTreeObject* object) override;
  void SetRootText(const std::wstring& text) override;
  void RefreshTexts() override;
  // Deletes the selected object from the model (the Delete key of the 3D pane).
  void DeleteSelectedItem();
  const std::wstring& GetRootText() const { return m_rootText; }

 protected:
  CSplitterView* GetSplitterView() const;
  void OnPaint(wxPaintEvent& event);

 private:
  std::shared_ptr<CNodeRoot> m_pRoot;
  CTreeObject* m_pSelected = nullptr;
  std::wstring m_rootText;
};
