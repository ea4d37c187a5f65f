#include "ui/TreeObjectView.h"

#include "ui/MlsString.h"
#include "ui/TextIds.h"

#include <wx/msgdlg.h>
#include <wx/settings.h>

#include <algorithm>
#include <vector>

namespace {

// The item data: the object the item shows, owned by the model.
class CTreeItemObject : public wxTreeItemData {
 public:
  explicit CTreeItemObject(CTreeObject* object) : m_pObject(object) {}
  CTreeObject* m_pObject;
};

// Menu commands the pane answers (its own and the edit commands, which do nothing).
constexpr int kCmdProperties = 135;
constexpr int kCmdQuiet[] = {136, 137, 138, wxID_CUT, wxID_COPY, wxID_CLEAR};

}  // namespace

// --- CViewTree ---------------------------------------------------------------------------------

CViewTree::CViewTree() = default;
CViewTree::~CViewTree() = default;

bool CViewTree::Create(wxWindow* parent) {
  if (!wxTreeCtrl::Create(parent, kId, wxDefaultPosition, wxDefaultSize,
                          wxTR_HAS_BUTTONS | wxTR_LINES_AT_ROOT | wxTR_NO_LINES | wxTR_SINGLE |
                              wxTR_FULL_ROW_HIGHLIGHT | wxBORDER_NONE))
    return false;
  Bind(wxEVT_KEY_DOWN, &CViewTree::OnKeyDown, this);
  Bind(wxEVT_TREE_SEL_CHANGING, [this](wxTreeEvent& event) {
    if (m_bIdle)
      event.Veto();
    else
      event.Skip();
  });
  return true;
}

void CViewTree::OnInternalIdle() {
  m_bIdle = true;
  wxTreeCtrl::OnInternalIdle();
  m_bIdle = false;
}

CTreeObject* CViewTree::GetItemObject(const wxTreeItemId& item) const {
  if (!item.IsOk()) return nullptr;
  auto* data = static_cast<CTreeItemObject*>(GetItemData(item));
  return data ? data->m_pObject : nullptr;
}

void CViewTree::OnKeyDown(wxKeyEvent& event) {
  // Not handed on to the control: it does no keyboard navigation.
  if (event.GetKeyCode() != WXK_DELETE) return;
  if (m_pPane) m_pPane->DeleteSelectedItem();
}

// --- CTreeObjectView ---------------------------------------------------------------------------

CTreeObjectView::CTreeObjectView() = default;
CTreeObjectView::~CTreeObjectView() = default;

bool CTreeObjectView::Create(wxWindow* parent, wxWindowID id) {
  if (!wxWindow::Create(parent, id, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE))
    return false;
  m_wndFileView = new CViewTree;
  if (!m_wndFileView->Create(this)) {
    delete m_wndFileView;
    m_wndFileView = nullptr;
    return false;
  }
  m_wndFileView->SetPane(this);
  BindHeader();
  m_wndFileView->Bind(wxEVT_TREE_SEL_CHANGED, &CTreeObjectView::OnTreeSelChanged, this);
  Bind(wxEVT_CONTEXT_MENU, &CTreeObjectView::OnContextMenu, this);
  Bind(wxEVT_SET_FOCUS, &CTreeObjectView::OnSetFocus, this);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) { wxMessageBox(wxT("Properties...."), wxEmptyString, wxOK, this); },
      kCmdProperties);
  for (int cmd : kCmdQuiet)
    Bind(
        wxEVT_MENU, [](wxCommandEvent&) {}, cmd);
  InitBtn();
  UpdateCaption();
  AdjustLayout();
  return true;
}

std::wstring CTreeObjectView::GetCaption() const {
  return CMlsString::GetResourceString(eMenus, TextId::ModelStructure, L"ToolDoc",
                                       L"ModelStructure");
}

void CTreeObjectView::OnSetFocus(wxFocusEvent& event) {
  event.Skip();
  if (m_wndFileView) m_wndFileView->SetFocus();
}

// --- Filling -----------------------------------------------------------------------------------

void CTreeObjectView::UpdateTreeObjects(const std::shared_ptr<CNodeRoot>& root) {
  m_bSelecting = true;
  m_wndFileView->DeleteAllItems();
  m_bSelecting = false;
  m_pRoot = root;
  if (root) {
    UpdateTreeObjects(root, wxTreeItemId());
    // The control selects a new root item by itself; a fresh tree has no selection.
    m_bSelecting = true;
    m_wndFileView->Unselect();
    m_bSelecting = false;
  }
  m_wndFileView->Refresh();
  FitChanged();
}

void CTreeObjectView::UpdateTreeObjects(const std::shared_ptr<CTreeObject>& object,
                                        const wxTreeItemId& parent) {
  if (!object) return;
  const wxString text(object->GetName());
  wxTreeItemId item =
      parent.IsOk() ? m_wndFileView->AppendItem(parent, text) : m_wndFileView->AddRoot(text);
  m_wndFileView->SetItemData(item, new CTreeItemObject(object.get()));
  if (!object->IsNode()) return;
  for (const auto& child : static_cast<CNode&>(*object).GetChildren())
    UpdateTreeObjects(child, item);
  m_wndFileView->Expand(item);
}

int CTreeObjectView::GetItemCount() const {
  return m_wndFileView ? static_cast<int>(m_wndFileView->GetCount()) : 0;
}

CTreeObject* CTreeObjectView::GetRootObject() const {
  return m_wndFileView->GetItemObject(m_wndFileView->GetRootItem());
}

std::wstring CTreeObjectView::GetRootText() const {
  const wxTreeItemId root = m_wndFileView->GetRootItem();
  return root.IsOk() ? m_wndFileView->GetItemText(root).ToStdWstring() : std::wstring();
}

void CTreeObjectView::SetRootText(const std::wstring& text) {
  const wxTreeItemId root = m_wndFileView->GetRootItem();
  if (root.IsOk()) m_wndFileView->SetItemText(root, text);
}

void CTreeObjectView::RefreshTexts() {
  UpdateCaption();
  Refresh();
  m_wndFileView->Refresh();
}

int CTreeObjectView::GetItemsFitWidth() const {
  // The right end of the widest item's text where the control places it (a level's indent per
  // step down, the room of the buttons), whether its group is open or not, and room for the
  // vertical scroll bar. Measured from the texts, since the control places its items only when
  // it is next idle.
  const wxTreeItemId root = m_wndFileView->GetRootItem();
  if (!root.IsOk()) return 0;
  const wxFont font = m_wndFileView->GetFont();
  const int indent = static_cast<int>(m_wndFileView->GetIndent());
  const int spacing = static_cast<int>(m_wndFileView->GetSpacing());
  int right = 0;
  std::vector<std::pair<wxTreeItemId, int>> pending{{root, 0}};
  // A tree of a hostile file may be huge: measuring stops after this many items.
  for (int measured = 0; !pending.empty() && measured < 20000; ++measured) {
    const auto [item, depth] = pending.back();
    pending.pop_back();
    int width = 0, height = 0;
    m_wndFileView->GetTextExtent(m_wndFileView->GetItemText(item), &width, &height, nullptr,
                                 nullptr, &font);
    right = std::max(right, (depth + 1) * indent + spacing + width + 4);
    wxTreeItemIdValue cookie;
    for (wxTreeItemId child = m_wndFileView->GetFirstChild(item, cookie); child.IsOk();
         child = m_wndFileView->GetNextChild(item, cookie))
      pending.emplace_back(child, depth + 1);
  }
  return right + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, m_wndFileView);
}

int CTreeObjectView::GetFitWidth() const {
  return std::max(GetCaptionFitWidth(), GetItemsFitWidth());
}

// --- Finding -----------------------------------------------------------------------------------

wxTreeItemId CTreeObjectView::FindTreeItem(const QZ::ObjPtr<QZ::CAD::IShapeVis>& shape,
                                           const wxTreeItemId& item) const {
  if (!item.IsOk()) return {};
  CTreeObject* object = m_wndFileView->GetItemObject(item);
  if (object && !object->IsNode()) {
    if (!shape) return {};
    auto own = static_cast<CObject3D*>(object)->GetShapeVis();
    if (own && (own.Get() == shape.Get() || own->IsSame(shape.Get()))) return item;
    return {};
  }
  wxTreeItemIdValue cookie;
  for (wxTreeItemId child = m_wndFileView->GetFirstChild(item, cookie); child.IsOk();
       child = m_wndFileView->GetNextChild(item, cookie)) {
    const wxTreeItemId found = FindTreeItem(shape, child);
    if (found.IsOk()) return found;
  }
  return {};
}

wxTreeItemId CTreeObjectView::FindObjectItem(const CTreeObject* object,
                                             const wxTreeItemId& item) const {
  if (!item.IsOk() || !object) return {};
  if (m_wndFileView->GetItemObject(item) == object) return item;
  wxTreeItemIdValue cookie;
  for (wxTreeItemId child = m_wndFileView->GetFirstChild(item, cookie); child.IsOk();
       child = m_wndFileView->GetNextChild(item, cookie)) {
    const wxTreeItemId found = FindObjectItem(object, child);
    if (found.IsOk()) return found;
  }
  return {};
}

// --- Selection ---------------------------------------------------------------------------------

CTreeObject* CTreeObjectView::GetSelectedObject() const {
  const wxTreeItemId item = m_wndFileView->GetSelection();
  if (!item.IsOk() || !m_wndFileView->IsSelected(item)) return nullptr;
  return m_wndFileView->GetItemObject(item);
}

void CTreeObjectView::Select(const wxTreeItemId& item) {
  wxTreeItemId old = m_wndFileView->GetSelection();
  if (old.IsOk() && !m_wndFileView->IsSelected(old)) old = wxTreeItemId();
  // The change is run here once, not by the control's own notification.
  m_bSelecting = true;
  if (item.IsOk()) {
    // An item inside a collapsed group: the group opens to show it.
    m_wndFileView->EnsureVisible(item);
    m_wndFileView->SelectItem(item);
  } else {
    m_wndFileView->Unselect();
  }
  m_bSelecting = false;
  m_wndFileView->Refresh();
  OnSelChanged(item, old);
}

void CTreeObjectView::SelectObject(CTreeObject* object) {
  Select(FindObjectItem(object, m_wndFileView->GetRootItem()));
}

void CTreeObjectView::SelectItem(const QZ::ObjPtr<QZ::CAD::IShapeVis>& shape) {
  Select(FindTreeItem(shape, m_wndFileView->GetRootItem()));
}

void CTreeObjectView::ResetSelect() { Select(wxTreeItemId()); }

void CTreeObjectView::OnTreeSelChanged(wxTreeEvent& event) {
  if (m_bSelecting) return;
  OnSelChanged(event.GetItem(), event.GetOldItem());
}

void CTreeObjectView::OnSelChanged(const wxTreeItemId& newItem, const wxTreeItemId& oldItem) {
  if (newItem.IsOk() && oldItem.IsOk()) SetFocus();
  CTreeObject* object = m_wndFileView->GetItemObject(newItem);
  if (m_pCore) m_pCore->OnTreeSelectionChanged(object);
}

void CTreeObjectView::UpdateSelName() {
  const wxTreeItemId item = m_wndFileView->GetSelection();
  CTreeObject* object = GetSelectedObject();
  if (object) m_wndFileView->SetItemText(item, object->GetName());
}

void CTreeObjectView::UpdateItemName(CTreeObject* object) {
  const wxTreeItemId item = FindObjectItem(object, m_wndFileView->GetRootItem());
  if (item.IsOk()) m_wndFileView->SetItemText(item, object->GetName());
}

void CTreeObjectView::OnContextMenu(wxContextMenuEvent& event) {
  if (event.GetEventObject() != m_wndFileView) {
    event.Skip();
    return;
  }
  const wxPoint screen = event.GetPosition();
  if (screen != wxDefaultPosition) {
    int flags = 0;
    const wxTreeItemId hit = m_wndFileView->HitTest(m_wndFileView->ScreenToClient(screen), flags);
    if (hit.IsOk()) Select(hit);
  }
  m_wndFileView->SetFocus();
}

// --- Deleting ----------------------------------------------------------------------------------

void CTreeObjectView::DeleteItem(const QZ::ObjPtr<QZ::CAD::IShapeVis>& shape) {
  const wxTreeItemId item = FindTreeItem(shape, m_wndFileView->GetRootItem());
  if (!item.IsOk()) return;
  if (item == m_wndFileView->GetSelection()) ResetSelect();
  m_bSelecting = true;
  m_wndFileView->Delete(item);
  m_bSelecting = false;
  m_wndFileView->Refresh();
}

void CTreeObjectView::DeleteSelectedItem() {
  if (m_pCore) m_pCore->DeleteSelected();
}

void CTreeObjectView::ResetSelectBelow(const wxTreeItemId& item, bool itself) {
  // The workspace's delete has cleared it already; anyone else is told here.
  const wxTreeItemId selected = m_wndFileView->GetSelection();
  if (!selected.IsOk() || !m_wndFileView->IsSelected(selected)) return;
  wxTreeItemId up = itself ? selected : m_wndFileView->GetItemParent(selected);
  for (; up.IsOk(); up = m_wndFileView->GetItemParent(up))
    if (up == item) {
      ResetSelect();
      return;
    }
}

void CTreeObjectView::RemoveItem(CTreeObject* object) {
  const wxTreeItemId item = FindObjectItem(object, m_wndFileView->GetRootItem());
  if (!item.IsOk()) return;
  ResetSelectBelow(item, true);
  m_bSelecting = true;
  m_wndFileView->Delete(item);
  m_bSelecting = false;
  m_wndFileView->Refresh();
}

void CTreeObjectView::RemoveChildItems(CTreeObject* object) {
  const wxTreeItemId item = FindObjectItem(object, m_wndFileView->GetRootItem());
  if (!item.IsOk()) return;
  ResetSelectBelow(item, false);
  m_bSelecting = true;
  m_wndFileView->DeleteChildren(item);
  m_bSelecting = false;
  m_wndFileView->Refresh();
}
