#include "gui/pages/DlgComponents.h"

#include "package/LogSink.h"
#include "platform/Text.h"

#include <set>

namespace InstallGui {

void CDlgComponents::LoadSettings() {
  std::wstring stored = GetSetting(ScriptNames::Attribute::kSelectedLibraries, L"empty");
  if (stored != L"empty" && !stored.empty()) {
    for (int i = 0; i < m_libraries.Count(); ++i) m_libraries.SetSelected(i, false);
    for (long id : CommonTools::SplitIds(stored))
      m_libraries.SetSelectedById(static_cast<int>(id), true);
  }
  m_provider.Load(m_libraries);
}

void CDlgComponents::SaveSettings() {
  m_provider.Save(m_libraries);
  SetSetting(ScriptNames::Attribute::kSelectedLibraries,
             CommonTools::Variant(m_libraries.SelectionString()));
}

bool CDlgComponents::Toggle(IItemData& item) {
  if (!ToggleItem(m_provider, item)) return false;
  OnItemChanged(item);
  return true;
}

void CDlgComponents::OnItemChanged(IItemData& item) {
  auto* changed = dynamic_cast<CItem*>(&item);
  if (!changed) return;
  int index = m_libraries.IndexOf(changed->LibraryId());
  if (index < 0) return;
  if (changed->GetState() == kChecked) {
    m_libraries.Select(index);
  } else if (!m_libraries.TryClear(index)) {
    CommonTools::LogLine(CommonTools::LogLevel::Info,
                         L"CDlgComponents: the library " + changed->GetText() +
                             L" is needed by another selected library and stays selected");
  }
  // The items show the selection the rule left.
  CommonTools::LibraryRecord record;
  for (int i = 0; i < m_libraries.Count(); ++i)
    if (m_libraries.Get(i, record))
      if (CItem* it = m_provider.FindItem(record.ID))
        it->SetState(record.selected ? kChecked : kUnchecked);
}

std::wstring CDlgComponents::Selection() const {
  std::wstring out;
  for (size_t i = 0; i < m_provider.GetCount(); ++i) {
    const CItem* item = m_provider.Item(i);
    if (item->GetState() != kChecked) continue;
    if (!out.empty()) out += L";";
    out += std::to_wstring(item->LibraryId());
  }
  return out;
}

std::wstring CDlgComponents::GetField(const std::wstring& name) const {
  return platform::EqualsNoCase(name, ScriptNames::Attribute::kSelectedLibraries) ? Selection()
                                                                                  : L"";
}

bool CDlgComponents::SetField(const std::wstring& name, const std::wstring& value) {
  if (!platform::EqualsNoCase(name, ScriptNames::Attribute::kSelectedLibraries)) return false;
  std::set<int> wanted;
  for (long id : CommonTools::SplitIds(value)) {
    if (!m_provider.FindItem(static_cast<int>(id))) {
      CommonTools::LogLine(CommonTools::LogLevel::Warning,
                           L"CDlgComponents: the script has no library " + std::to_wstring(id));
      return false;
    }
    wanted.insert(static_cast<int>(id));
  }
  // Clicks as a person makes them: clear what goes (until nothing more can go), then check
  // what comes.
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t i = m_provider.GetCount(); i-- > 0;) {
      CItem* item = m_provider.Item(i);
      if (wanted.count(item->LibraryId()) || item->GetState() != kChecked || !item->IsEnabled())
        continue;
      if (Toggle(*item) && item->GetState() != kChecked) changed = true;
    }
  }
  for (size_t i = 0; i < m_provider.GetCount(); ++i) {
    CItem* item = m_provider.Item(i);
    if (wanted.count(item->LibraryId()) && item->GetState() != kChecked) Toggle(*item);
  }
  for (size_t i = 0; i < m_provider.GetCount(); ++i) {
    const CItem* item = m_provider.Item(i);
    bool want = wanted.count(item->LibraryId()) > 0;
    if (want == (item->GetState() == kChecked)) continue;
    std::wstring why = !item->IsEnabled() ? L"it cannot be changed"
                       : want             ? L"it cannot be selected"
                                          : L"a selected library needs it";
    CommonTools::LogLine(CommonTools::LogLevel::Warning,
                         L"CDlgComponents: the selection " + value + L" cannot be made: " +
                             item->GetText() + L" (" + std::to_wstring(item->LibraryId()) +
                             L") is " + (want ? L"not selected" : L"selected") + L", " + why);
    return false;
  }
  return true;
}

}  // namespace InstallGui
