// The components tree: the items of a data provider with three-state check boxes drawn by the
// toolkit's native renderer (normal, hot, pressed-free, disabled; unchecked, checked, partly
// checked), as 16 state images by the index rule of the items. A click on an item (not on its
// expand button) or Space toggles it through the owner's handler; the mouse moves the hot
// image; a double click is swallowed when the provider asks for it.
#pragma once

#include "gui/pages/ComponentsTree.h"

#include <wx/imaglist.h>
#include <wx/treectrl.h>

#include <functional>
#include <map>
#include <memory>

namespace InstallGui {

class CTriStateCheckTree : public wxTreeCtrl {
 public:
  CTriStateCheckTree(wxWindow* parent, int id);

  void SetDataProvider(ITreeDataProv* provider) { m_provider = provider; }
  // (Re)creates the items from the provider.
  void Rebuild();
  // Draws every item's state again (after the owner changed states).
  void RefreshStates();
  // Called after the user changed an item (the owner applies its rules; false: nothing).
  std::function<bool(IItemData&)> onToggle;

  IItemData* ItemData(const wxTreeItemId& id) const;
  wxTreeItemId IdOf(const IItemData* item) const;
  IItemData* HotItem() const { return m_hot.Hot(); }
  // The state image an item shows now.
  int ShownImage(const IItemData* item) const;
  // What a click at `point` does (the tree's handler and tests).
  void ClickAt(const wxPoint& point);
  void MoveTo(const wxPoint& point);
  void PressSpace();

 private:
  void BuildImages();
  void Insert(const wxTreeItemId& parent, IItemData& item);
  void ShowState(IItemData& item);

  ITreeDataProv* m_provider = nullptr;
  std::unique_ptr<wxImageList> m_images;
  std::map<const IItemData*, wxTreeItemId> m_ids;
  CHotTracker m_hot;
};

}  // namespace InstallGui
