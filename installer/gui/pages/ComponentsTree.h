// The components as a tree of items with three-state check boxes (unchecked, checked, partly
// checked) and a disabled look for what the user may not change, without any toolkit: the items
// and their provider, the state rules of a click or Space (a container passes its new state
// down; its parents show the aggregate of their children) and the hot item under the mouse.
// The wx tree (wx/TriStateCheckTree) draws it; the components page owns it.
#pragma once

#include "package/Libraries.h"

#include <memory>
#include <string>
#include <vector>

namespace InstallGui {

enum CheckState : int { kUnchecked = 0, kChecked = 1, kPartlyChecked = 2 };

class IItemData {
 public:
  virtual ~IItemData() = default;
  virtual std::wstring GetText() const = 0;
  virtual int GetState() const = 0;
  virtual void SetState(int state) = 0;
  virtual bool IsEnabled() const = 0;
  virtual bool HasCheckBox() const = 0;
  virtual size_t ChildCount() const = 0;
  virtual IItemData* Child(size_t index) const = 0;
};

class CItem : public IItemData {
 public:
  CItem(std::wstring text, int libraryId, int state, bool enabled)
      : m_text(std::move(text)), m_libraryId(libraryId), m_state(state), m_enabled(enabled) {}
  std::wstring GetText() const override { return m_text; }
  int GetState() const override { return m_state; }
  void SetState(int state) override { m_state = state; }
  bool IsEnabled() const override { return m_enabled; }
  bool HasCheckBox() const override { return true; }
  size_t ChildCount() const override { return m_children.size(); }
  IItemData* Child(size_t index) const override {
    return index < m_children.size() ? m_children[index].get() : nullptr;
  }
  int LibraryId() const { return m_libraryId; }
  void AddChild(std::shared_ptr<CItem> child) { m_children.push_back(std::move(child)); }

 private:
  std::wstring m_text;
  int m_libraryId;
  int m_state;
  bool m_enabled;
  std::vector<std::shared_ptr<CItem>> m_children;
};

// What the tree shows: the top-level items, the tree's style bits and options.
class ITreeDataProv {
 public:
  static constexpr unsigned kFullRowSelect = 0x1000;
  static constexpr unsigned kHasButtons = 0x1;
  static constexpr unsigned kHasLines = 0x2;
  static constexpr unsigned kSwallowDoubleClick = 0x1;  // an option bit
  virtual ~ITreeDataProv() = default;
  virtual size_t GetCount() const = 0;
  virtual IItemData* GetItem(size_t index) const = 0;
  virtual unsigned GetStyle() const = 0;
  virtual unsigned GetOptions() const = 0;
};

// The libraries as items, one per library in list order.
class CComponentsDataProv : public ITreeDataProv {
 public:
  size_t GetCount() const override { return m_items.size(); }
  IItemData* GetItem(size_t index) const override {
    return index < m_items.size() ? m_items[index].get() : nullptr;
  }
  unsigned GetStyle() const override { return m_style; }
  unsigned GetOptions() const override { return 0; }
  CItem* Item(size_t index) const {
    return index < m_items.size() ? m_items[index].get() : nullptr;
  }
  CItem* FindItem(int libraryId) const;

  // The items of the libraries (checked: selected, disabled: read-only); every library a
  // selected one depends on is selected too.
  bool Load(CommonTools::CLibraries& libraries);
  // The check states into the libraries: checked is selected, anything else is not.
  bool Save(CommonTools::CLibraries& libraries) const;

 private:
  unsigned m_style = kFullRowSelect;
  std::vector<std::shared_ptr<CItem>> m_items;
};

// The state rules of the tree.
// The state image of an item: its state + 1, + 4 when disabled, + 8 while hot; 0 without box.
int StateImageIndex(const IItemData& item, bool hot);
// Sets an enabled item's state (an item with children passes it down first); returns the
// item's resulting state.
int SetSubtreeState(IItemData& item, int state);
// The aggregate of children's states: partly when any is partly or when checked and unchecked
// mix; else checked or unchecked.
int AggregateState(const IItemData& parent);
// The path from a top-level item down to `item` (empty when the provider does not hold it).
std::vector<IItemData*> PathTo(const ITreeDataProv& provider, const IItemData* item);
// A click or Space on `item` as the tree takes it: nothing for a disabled item; else checked
// or partly checked items become unchecked, others checked, down the subtree, and the parents
// show their aggregate. True when the item changed.
bool ToggleItem(const ITreeDataProv& provider, IItemData& item);

// The item under the mouse: drawn hot until the mouse moves to another item; moving off every
// item keeps it.
class CHotTracker {
 public:
  // The mouse is over `item` (nullptr: over no item). Returns whether it is over an item.
  // `force` redraws the same item (after a click).
  bool Update(IItemData* item, bool force);
  IItemData* Hot() const { return m_hot; }
  void Forget() { m_hot = nullptr; }

 private:
  IItemData* m_hot = nullptr;
};

}  // namespace InstallGui
