#pragma once
// The model tree pane of a workspace: a header band with the caption "Model Structure" and a
// hide button (CHeaderPane), and below it the tree control (CViewTree) that mirrors the model
// tree: one item per model object, labelled with its name and holding a plain pointer to it
// (the model owns the objects). The model root is the only top-level item; every group starts
// expanded.
//
// Selecting an item selects the object's shapes in the workspace's 3D view and shows its
// properties (through the workspace, CWorkspaceCore::OnTreeSelectionChanged); a pick in the 3D
// view selects the item of the shape picked, expanding a collapsed group to show it. The Delete
// key asks the workspace to delete the selected object (CWorkspaceCore::DeleteSelected), which
// then tells the pane which items go; no other key is handled, so the arrow keys do not move
// the selection. The pane knows its workspace only by the core handed to it (SetCore) and the
// hide handler of its header.

#include "MorlaneExport.h"
#include "ui/PaneHeader.h"
#include "workspace/WorkspaceCore.h"

#include <wx/treectrl.h>

class CTreeObjectView;

// The tree control of the pane (child ID 4).
class MORLANE_API CViewTree : public wxTreeCtrl {
 public:
  static constexpr int kId = 4;
  CViewTree();
  ~CViewTree() override;
  bool Create(wxWindow* parent);
  // The pane whose Delete the key runs; null: the key does nothing.
  void SetPane(CTreeObjectView* pane) { m_pPane = pane; }

  // The object an item holds; null for an invalid item or one without object.
  CTreeObject* GetItemObject(const wxTreeItemId& item) const;

  // The control would select its root item by itself at idle time whenever nothing is
  // selected; here a tree may stay without selection.
  void OnInternalIdle() override;

 protected:
  // Delete removes the selected object; every other key is swallowed (no keyboard navigation).
  void OnKeyDown(wxKeyEvent& event);

 private:
  bool m_bIdle = false;
  CTreeObjectView* m_pPane = nullptr;
};

class MORLANE_API CTreeObjectView : public CHeaderPane, public IWorkspaceTree {
 public:
  CTreeObjectView();
  ~CTreeObjectView() override;
  bool Create(wxWindow* parent, wxWindowID id);

  CViewTree& GetFileView() { return *m_wndFileView; }
  // The workspace whose selection flow and commands the pane runs; null: none.
  void SetCore(CWorkspaceCore* core) { m_pCore = core; }
  CWorkspaceCore* GetCore() const { return m_pCore; }

  // IWorkspaceTree
  void UpdateTreeObjects(const std::shared_ptr<CNodeRoot>& root) override;
  CTreeObject* GetSelectedObject() const override;
  CTreeObject* GetRootObject() const override;
  void SelectObject(CTreeObject* object) override;
  void SetRootText(const std::wstring& text) override;
  void RefreshTexts() override;
  void UpdateSelName() override;
  void UpdateItemName(CTreeObject* object) override;
  void RemoveItem(CTreeObject* object) override;
  void RemoveChildItems(CTreeObject* object) override;

  // Selects the item whose object's visual is `shape` (the same visual by the engine's test);
  // clears the selection when no item holds it.
  void SelectItem(const QZ::ObjPtr<QZ::CAD::IShapeVis>& shape);
  // Deletes the item whose object's visual is `shape` (the model is not touched).
  void DeleteItem(const QZ::ObjPtr<QZ::CAD::IShapeVis>& shape);
  // Asks the workspace to delete the selected object: it leaves the model, the view and the
  // tree; for the model root, every object of the model goes and the root item stays.
  void DeleteSelectedItem();
  void ResetSelect();

  // The text of the root item ("" without one).
  std::wstring GetRootText() const;
  // Items of the tree, the root's included.
  int GetItemCount() const;

 protected:
  void UpdateTreeObjects(const std::shared_ptr<CTreeObject>& object, const wxTreeItemId& parent);
  wxTreeItemId FindTreeItem(const QZ::ObjPtr<QZ::CAD::IShapeVis>& shape,
                            const wxTreeItemId& item) const;
  wxTreeItemId FindObjectItem(const CTreeObject* object, const wxTreeItemId& item) const;

  // Selects the item (none: clears the selection) and runs the selection change.
  void Select(const wxTreeItemId& item);
  // Clears the selection when it lies below the item (or on it, when itself is set), so that
  // the selection never outlives its item.
  void ResetSelectBelow(const wxTreeItemId& item, bool itself);
  void OnSelChanged(const wxTreeItemId& newItem, const wxTreeItemId& oldItem);
  void OnTreeSelChanged(wxTreeEvent& event);
  void OnContextMenu(wxContextMenuEvent& event);
  void OnSetFocus(wxFocusEvent& event);

  // CHeaderPane
  wxWindow* GetPaneControl() const override { return m_wndFileView; }
  std::wstring GetCaption() const override;

 public:
  // The width the items' texts need (0 for an empty tree); GetFitWidth: and the band's.
  int GetItemsFitWidth() const;
  int GetFitWidth() const override;

 protected:
  bool IsControlFramed() const override { return true; }

 private:
  CViewTree* m_wndFileView = nullptr;
  CWorkspaceCore* m_pCore = nullptr;
  // Keeps the model whose objects the items point to alive as long as the tree shows it.
  std::shared_ptr<CNodeRoot> m_pRoot;
  bool m_bSelecting = false;
};
