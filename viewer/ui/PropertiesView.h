#pragma once
// The property pane of a workspace. For now the pane shows its caption and the name of the
// object whose properties it holds.

#include "MorlaneExport.h"
#include "workspace/WorkspaceCore.h"

#include <wx/window.h>

class MORLANE_API CPropertiesView : public wxWindow, public IWorkspaceProperties {
 public:
  CPropertiesView();
  ~CPropertiesView() override;
  bool Create(wxWindow* parent, wxWindowID id);

  void UpdateObjectProperties(CTreeObject* object) override;
  void RemoveAll() override;
  void RefreshTexts() override;
  CTreeObject* GetShownObject() const { return m_pObject; }

 protected:
  void OnPaint(wxPaintEvent& event);

 private:
  CTreeObject* m_pObject = nullptr;
};
