#include "package/Libraries.h"

#include "package/ScriptVocabulary.h"
#include "package/XmlSettings.h"

#include <set>

namespace CommonTools {

namespace {

// A boolean attribute: absent gives the default; "true"/"false" in any case or a number (the
// script writes 0 and 1); any other text raises SettingsError as a failed conversion does.
bool GetFlag(const SettingsNodePtr& node, const std::wstring& name, bool def) {
  Variant v = node->GetAttribute(name, Variant());
  if (v.isEmpty()) return def;
  std::wstring text = v.toString();
  if (EqualNoCase(text, L"true")) return true;
  if (EqualNoCase(text, L"false")) return false;
  return v.toInt() != 0;
}

bool HasOnlyBlanks(const std::wstring& s) {
  for (wchar_t c : s)
    if (c != L' ' && c != L'\t') return false;
  return true;
}

}  // namespace

std::vector<long> SplitIds(const std::wstring& text) {
  std::vector<long> ids;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L';', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring piece = text.substr(start, end - start);
    if (!piece.empty() && !HasOnlyBlanks(piece)) ids.push_back(Wtol(piece));
    start = end + 1;
  }
  return ids;
}

void CLibraries::Load(const SettingsNodePtr& root) {
  m_list.clear();
  SettingsNodePtr libraries;
  if (!root || !root->GetChild(ScriptNames::Element::kLibraries, libraries)) return;
  SettingsNodeListPtr list;
  if (!libraries->GetChildren(list)) return;
  SettingsNodePtr item;
  for (int i = list->Find(ScriptNames::Element::kLibrary, 0, item); i >= 0;
       i = list->Find(ScriptNames::Element::kLibrary, i + 1, item)) {
    LibraryRecord r;
    r.ID = GetInt(item, ScriptNames::Attribute::kId, 0);
    r.Caption = GetText(item, ScriptNames::Attribute::kCaption);
    r.PV = GetText(item, ScriptNames::Attribute::kPv);
    r.node = item;
    r.selected = GetFlag(item, ScriptNames::Attribute::kSelected, true);
    r.readonly = GetFlag(item, ScriptNames::Attribute::kReadonly, false);
    for (long id : SplitIds(GetText(item, ScriptNames::Attribute::kDependency)))
      r.dependencies.push_back(static_cast<unsigned>(id));
    r.installed = r.selected;
    m_list.push_back(std::move(r));
  }
}

bool CLibraries::Get(int index, LibraryRecord& record) const {
  if (index < 0 || index >= Count()) return false;
  record = m_list[static_cast<size_t>(index)];
  return true;
}

int CLibraries::IndexOf(int id) const {
  for (size_t i = 0; i < m_list.size(); ++i)
    if (m_list[i].ID == id) return static_cast<int>(i);
  return -1;
}

bool CLibraries::Find(int id, LibraryRecord& record) const { return Get(IndexOf(id), record); }

bool CLibraries::SetSelected(int index, bool flag) {
  if (index < 0 || index >= Count()) return false;
  m_list[static_cast<size_t>(index)].selected = flag;
  return true;
}

bool CLibraries::SetSelectedById(int id, bool flag) { return SetSelected(IndexOf(id), flag); }

void CLibraries::ApplyInstalledSelection(const std::wstring& selection) {
  for (long id : SplitIds(selection)) {
    int index = IndexOf(static_cast<int>(id));
    if (index >= 0) m_list[static_cast<size_t>(index)].installed = true;
  }
}

std::wstring CLibraries::SelectionString() const {
  std::wstring s;
  for (const auto& r : m_list) {
    if (!r.selected) continue;
    if (!s.empty()) s += L';';
    s += std::to_wstring(r.ID);
  }
  return s;
}

bool CLibraries::Select(int index) {
  if (index < 0 || index >= Count()) return false;
  std::set<int> visited;
  std::vector<int> pending = {index};
  while (!pending.empty()) {
    int i = pending.back();
    pending.pop_back();
    if (!visited.insert(i).second) continue;
    auto& r = m_list[static_cast<size_t>(i)];
    r.selected = true;
    for (unsigned dep : r.dependencies) {
      int d = IndexOf(static_cast<int>(dep));
      if (d >= 0 && !visited.count(d)) pending.push_back(d);
    }
  }
  return true;
}

bool CLibraries::CanClear(int index) const {
  if (index < 0 || index >= Count()) return false;
  const int id = m_list[static_cast<size_t>(index)].ID;
  for (size_t i = 0; i < m_list.size(); ++i) {
    const auto& other = m_list[i];
    if (static_cast<int>(i) == index || !other.selected) continue;
    for (unsigned dep : other.dependencies)
      if (static_cast<int>(dep) == id) return false;
  }
  return true;
}

bool CLibraries::TryClear(int index) {
  if (!CanClear(index)) return false;
  m_list[static_cast<size_t>(index)].selected = false;
  return true;
}

void CLibraries::Process(
    bool removeAll, const std::wstring& path, IStepDispatcher& steps,
    const std::function<void(const std::wstring& pv, const std::wstring& action)>& log) const {
  for (const auto& r : m_list) {
    if (removeAll || !r.selected) {
      if (log) log(r.PV, L"remove");
      steps.CommonSteps(r.node, true, path);
    }
  }
  if (removeAll) return;
  for (const auto& r : m_list) {
    if (r.selected) {
      if (log) log(r.PV, L"setup");
      steps.CommonSteps(r.node, false, path);
    }
  }
}

}  // namespace CommonTools
