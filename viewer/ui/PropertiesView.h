#pragma once
// The property pane of a workspace: a header band with the caption "Model Geometry and
// Properties" and a hide button (CHeaderPane), and below it a property grid (child ID 2) with a
// description area, filled from the shown object's property tree: each group an expandable
// category, each value a row formatted by its type (two decimals, six for angles), each colour a
// colour picker (ui/PropertyGridRows.h).
//
// A value the user changes is handed to the workspace (CWorkspaceCore::ChangeProperty), which
// writes it into the model, rebuilds the owner and shows it again, or renames the tree item;
// the row then shows what the model holds (the old value after a failed rebuild), and the two
// edge rows of a shaft section take the label and description of what their value means.
// Without a workspace nothing is written: the row shows the model's value again. The pane knows
// its workspace only by the core handed to it (SetCore) and the hide handler of its header.

#include "MorlaneExport.h"
#include "ui/PaneHeader.h"
#include "workspace/WorkspaceCore.h"

#include <memory>

class wxPropertyGridManager;
class wxPropertyGrid;
class wxPGProperty;
class wxPropertyGridEvent;

class MORLANE_API CPropertiesView : public CHeaderPane, public IWorkspaceProperties {
 public:
  static constexpr int kGridId = 2;
  // The pane's commands (a host binds them to its menu): expand every row, switch the
  // alphabetic order; 152 and 153 do nothing.
  static constexpr int kCmdExpandAll = 154;
  static constexpr int kCmdSort = 151;

  CPropertiesView();
  ~CPropertiesView() override;
  bool Create(wxWindow* parent, wxWindowID id);
  // The workspace that changed values go to; null: none.
  void SetCore(CWorkspaceCore* core) { m_pCore = core; }
  CWorkspaceCore* GetCore() const { return m_pCore; }

  wxPropertyGridManager& GetPropList() { return *m_wndPropList; }
  wxPropertyGrid& GetGrid() const;
  // Caption rows in the button face colour over the full width (on), or the grid's own look.
  void SetVSDotNetLook(bool set);
  bool IsAlphabeticMode() const { return m_bAlphabetic; }

  // IWorkspaceProperties
  void UpdateObjectProperties(CTreeObject* object) override;
  void RemoveAll() override;
  void RefreshTexts() override;
  CTreeObject* GetShownObject() const { return m_pObject; }

  // The write-back of a changed row, as the grid's change notification runs it; a notification
  // of another control (id) or one that arrives during a write-back is ignored.
  void OnPropertyChanged(int id, wxPGProperty* row);
  // The row showing a model property; null when none does.
  wxPGProperty* FindRow(const CProperty* property) const;

 protected:
  void FillProperties(const std::shared_ptr<CProperty>& property, wxPGProperty* parent);
  void InitPropList();
  void OnGridChanged(wxPropertyGridEvent& event);
  void OnSetFocus(wxFocusEvent& event);

  // CHeaderPane
  wxWindow* GetPaneControl() const override;
  std::wstring GetCaption() const override;

 private:
  wxPropertyGridManager* m_wndPropList = nullptr;
  CWorkspaceCore* m_pCore = nullptr;
  unsigned char m_bUpdating = 0;
  bool m_bAlphabetic = false;
  CTreeObject* m_pObject = nullptr;
  // The groups of the shown tree live as long as their rows (the values belong to the model).
  std::shared_ptr<CProperty> m_pShownTree;
};
