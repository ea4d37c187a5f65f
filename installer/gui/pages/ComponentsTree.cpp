#include "gui/pages/ComponentsTree.h"

namespace InstallGui {

CItem* CComponentsDataProv::FindItem(int libraryId) const {
  for (const auto& item : m_items)
    if (item->LibraryId() == libraryId) return item.get();
  return nullptr;
}

bool CComponentsDataProv::Load(CommonTools::CLibraries& libraries) {
  m_style |= kHasButtons | kHasLines;
  m_items.clear();
  CommonTools::LibraryRecord record;
  for (int i = 0; i < libraries.Count(); ++i) {
    if (!libraries.Get(i, record)) return false;
    m_items.push_back(std::make_shared<CItem>(
        record.Caption, record.ID, record.selected ? kChecked : kUnchecked, !record.readonly));
  }
  // What a selected library needs comes with it.
  for (int i = 0; i < libraries.Count(); ++i)
    if (libraries.Get(i, record) && record.selected) libraries.Select(i);
  for (int i = 0; i < libraries.Count(); ++i)
    if (libraries.Get(i, record) && record.selected) m_items[i]->SetState(kChecked);
  return true;
}

bool CComponentsDataProv::Save(CommonTools::CLibraries& libraries) const {
  bool ok = true;
  for (const auto& item : m_items)
    ok = libraries.SetSelectedById(item->LibraryId(), item->GetState() == kChecked) && ok;
  return ok;
}

int StateImageIndex(const IItemData& item, bool hot) {
  if (!item.HasCheckBox()) return 0;
  int state = item.GetState();
  if (state < 0 || state > 2) state = 0;
  return state + 1 + (item.IsEnabled() ? 0 : 4) + (hot ? 8 : 0);
}

namespace {

int Aggregate(int checked, int cleared, int partly) {
  if (partly > 0) return kPartlyChecked;
  if (checked == 0) return kUnchecked;
  if (cleared > 0) return kPartlyChecked;
  return kChecked;
}

void SetOwnState(IItemData& item, int state) {
  if (item.IsEnabled() && item.HasCheckBox()) item.SetState(state);
}

bool FindPath(IItemData* at, const IItemData* item, std::vector<IItemData*>& path) {
  path.push_back(at);
  if (at == item) return true;
  for (size_t i = 0; i < at->ChildCount(); ++i)
    if (IItemData* child = at->Child(i); child && FindPath(child, item, path)) return true;
  path.pop_back();
  return false;
}

}  // namespace

int AggregateState(const IItemData& parent) {
  int checked = 0, cleared = 0, partly = 0;
  for (size_t i = 0; i < parent.ChildCount(); ++i) {
    const IItemData* child = parent.Child(i);
    if (!child) continue;
    int s = child->GetState();
    if (s == kChecked)
      ++checked;
    else if (s == kPartlyChecked)
      ++partly;
    else
      ++cleared;
  }
  return Aggregate(checked, cleared, partly);
}

int SetSubtreeState(IItemData& item, int state) {
  if (item.ChildCount() == 0) {
    SetOwnState(item, state);
    return item.GetState();
  }
  for (size_t i = 0; i < item.ChildCount(); ++i)
    if (IItemData* child = item.Child(i)) SetSubtreeState(*child, state);
  SetOwnState(item, AggregateState(item));
  return item.GetState();
}

std::vector<IItemData*> PathTo(const ITreeDataProv& provider, const IItemData* item) {
  std::vector<IItemData*> path;
  for (size_t i = 0; i < provider.GetCount(); ++i)
    if (IItemData* top = provider.GetItem(i); top && FindPath(top, item, path)) return path;
  return {};
}

bool ToggleItem(const ITreeDataProv& provider, IItemData& item) {
  if (!item.IsEnabled() || !item.HasCheckBox()) return false;
  int before = item.GetState();
  SetSubtreeState(item, before == kUnchecked ? kChecked : kUnchecked);
  std::vector<IItemData*> path = PathTo(provider, &item);
  // The parents, nearest first.
  for (size_t i = path.size(); i-- > 1;) SetOwnState(*path[i - 1], AggregateState(*path[i - 1]));
  return item.GetState() != before;
}

bool CHotTracker::Update(IItemData* item, bool force) {
  if (!item) return false;
  if (m_hot && (force || m_hot != item)) m_hot = nullptr;
  m_hot = item;
  return true;
}

}  // namespace InstallGui
