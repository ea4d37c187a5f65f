#include "gui/wx/TriStateCheckTree.h"

#include <wx/dcmemory.h>
#include <wx/renderer.h>
#include <wx/settings.h>

namespace InstallGui {

namespace {

class ItemRef : public wxTreeItemData {
 public:
  explicit ItemRef(IItemData* item) : item(item) {}
  IItemData* item;
};

}  // namespace

CTriStateCheckTree::CTriStateCheckTree(wxWindow* parent, int id)
    : wxTreeCtrl(parent, id, wxDefaultPosition, wxDefaultSize,
                 wxTR_HIDE_ROOT | wxTR_NO_LINES | wxTR_FULL_ROW_HIGHLIGHT | wxTR_SINGLE |
                     wxTR_HAS_BUTTONS) {
  Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent& e) {
    int flags = 0;
    wxTreeItemId id = HitTest(e.GetPosition(), flags);
    ClickAt(e.GetPosition());
    // The default handling selects (and an expand button expands).
    if (!id.IsOk() || !(flags & wxTREE_HITTEST_ONITEMSTATEICON)) e.Skip();
  });
  Bind(wxEVT_LEFT_DCLICK, [this](wxMouseEvent& e) {
    if (m_provider && (m_provider->GetOptions() & ITreeDataProv::kSwallowDoubleClick)) return;
    e.Skip();
  });
  Bind(wxEVT_MOTION, [this](wxMouseEvent& e) {
    int flags = 0;
    wxTreeItemId id = HitTest(e.GetPosition(), flags);
    MoveTo(e.GetPosition());
    if (!id.IsOk()) e.Skip();
  });
  Bind(wxEVT_CHAR, [this](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_SPACE)
      PressSpace();
    else
      e.Skip();
  });
}

IItemData* CTriStateCheckTree::ItemData(const wxTreeItemId& id) const {
  if (!id.IsOk()) return nullptr;
  auto* ref = dynamic_cast<ItemRef*>(GetItemData(id));
  return ref ? ref->item : nullptr;
}

wxTreeItemId CTriStateCheckTree::IdOf(const IItemData* item) const {
  auto it = m_ids.find(item);
  return it == m_ids.end() ? wxTreeItemId() : it->second;
}

int CTriStateCheckTree::ShownImage(const IItemData* item) const {
  wxTreeItemId id = IdOf(item);
  return id.IsOk() ? const_cast<CTriStateCheckTree*>(this)->GetItemState(id) : -1;
}

void CTriStateCheckTree::BuildImages() {
  const int size = 16;
  m_images = std::make_unique<wxImageList>(size, size, false, 16);
  // Each image on the window's colour (the tree's own background), inset by one pixel.
  wxColour window = GetBackgroundColour();
  for (int index = 0; index < 16; ++index) {
    wxBitmap bitmap(size, size, 24);
    int state = index % 4;  // 0 none, 1 unchecked, 2 checked, 3 partly
    bool disabled = (index / 4) % 2 == 1;
    {
      wxMemoryDC dc(bitmap);
      dc.SetBackground(wxBrush(window));
      dc.Clear();
      if (state != 0) {
        int flags = 0;
        if (state == 2) flags |= wxCONTROL_CHECKED;
        if (state == 3) flags |= wxCONTROL_UNDETERMINED;
        if (disabled) flags |= wxCONTROL_DISABLED;
        if (index >= 8 && !disabled) flags |= wxCONTROL_CURRENT;
        wxRendererNative::Get().DrawCheckBox(this, dc, wxRect(1, 1, size - 2, size - 2), flags);
      }
    }
    // The disabled look, also where the native renderer draws disabled boxes as enabled ones.
    if (disabled && state != 0) bitmap = wxBitmap(bitmap.ConvertToImage().ConvertToDisabled(255));
    m_images->Add(bitmap);
  }
  SetStateImageList(m_images.get());
}

void CTriStateCheckTree::Rebuild() {
  m_hot.Forget();
  if (!m_provider) return;
  DeleteAllItems();
  m_ids.clear();
  BuildImages();
  wxTreeItemId root = AddRoot(wxEmptyString);
  for (size_t i = 0; i < m_provider->GetCount(); ++i)
    if (IItemData* item = m_provider->GetItem(i)) Insert(root, *item);
  wxTreeItemIdValue cookie;
  wxTreeItemId first = GetFirstChild(root, cookie);
  if (first.IsOk()) EnsureVisible(first);
}

void CTriStateCheckTree::Insert(const wxTreeItemId& parent, IItemData& item) {
  wxTreeItemId id = AppendItem(parent, item.GetText(), -1, -1, new ItemRef(&item));
  m_ids[&item] = id;
  ShowState(item);
  for (size_t i = 0; i < item.ChildCount(); ++i)
    if (IItemData* child = item.Child(i)) Insert(id, *child);
  if (item.ChildCount() > 0) Expand(id);
}

void CTriStateCheckTree::ShowState(IItemData& item) {
  wxTreeItemId id = IdOf(&item);
  if (!id.IsOk()) return;
  int image = StateImageIndex(item, m_hot.Hot() == &item);
  SetItemState(id, image == 0 ? wxTREE_ITEMSTATE_NONE : image);
}

void CTriStateCheckTree::RefreshStates() {
  for (auto& [item, id] : m_ids) ShowState(*const_cast<IItemData*>(item));
}

void CTriStateCheckTree::ClickAt(const wxPoint& point) {
  int flags = 0;
  wxTreeItemId id = HitTest(point, flags);
  IItemData* item = ItemData(id);
  if (!item || (flags & wxTREE_HITTEST_ONITEMBUTTON)) return;
  if (item->IsEnabled() && onToggle) onToggle(*item);
  m_hot.Update(item, true);
  RefreshStates();
}

void CTriStateCheckTree::MoveTo(const wxPoint& point) {
  int flags = 0;
  IItemData* item = ItemData(HitTest(point, flags));
  IItemData* before = m_hot.Hot();
  if (!m_hot.Update(item, false)) return;
  if (before && before != item) ShowState(*before);
  ShowState(*item);
}

void CTriStateCheckTree::PressSpace() {
  IItemData* item = ItemData(GetSelection());
  if (!item || !item->IsEnabled() || !onToggle) return;
  onToggle(*item);
  RefreshStates();
}

}  // namespace InstallGui
