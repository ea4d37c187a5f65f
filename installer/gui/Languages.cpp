#include "gui/Languages.h"

#include "package/LogSink.h"
#include "package/ScriptVocabulary.h"
#include "platform/Locale.h"
#include "platform/Text.h"

namespace InstallGui::GuiSettings {

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;

bool CLanguages::GetLocalization(SettingsNodePtr& node) {
  SettingsNodePtr root;
  if (!m_root || !m_root(root) || !root) return false;
  return root->GetChild(ScriptNames::Element::kLocalization, node);
}

bool CLanguages::Load() {
  try {
    SettingsNodePtr loc;
    if (!GetLocalization(loc)) return false;
    SettingsNodeListPtr list;
    if (!loc->GetChildren(list)) return false;
    int count = list->GetCount();
    int languages = 0;
    for (int i = 0; i < count; ++i) {
      SettingsNodePtr item;
      if (!list->GetItem(i, item)) return false;
      std::wstring name = item->GetName();
      if (!name.empty() && name[0] == L'#')
        return false;  // text or comment: only language elements may stand here
      Record r;
      r.title = CommonTools::GetText(item, ScriptNames::Attribute::kTitle);
      r.systemName = CommonTools::GetText(item, ScriptNames::Attribute::kSystemName);
      r.id = CommonTools::GetInt(item, ScriptNames::Attribute::kId, -1);
      if (r.title.empty() || r.systemName.empty() || r.id == -1) return false;
      m_records.push_back(r);
      ++languages;
    }
    if (languages == 0) return false;
    // The language of the system, by its English name, is current when the script has it.
    std::wstring system;
    if (platform::GetLocaleInfoW(platform::GetSystemDefaultLCID(), platform::LOCALE_SENGLANGUAGE,
                                 system, 259) == platform::ERROR_SUCCESS &&
        !system.empty()) {
      for (unsigned i = 0; i < m_records.size(); ++i)
        if (platform::EqualsNoCase(m_records[i].systemName, system)) {
          m_current = i;
          break;
        }
    }
    return true;
  } catch (const CommonTools::SettingsError& e) {
    CommonTools::LogLine(
        CommonTools::LogLevel::Error,
        L"CLanguages::Load() " +
            std::wstring(e.what(), e.what() + std::char_traits<char>::length(e.what())));
    return false;
  }
}

bool CLanguages::Clear() {
  m_records.clear();
  m_current = 0;
  return true;
}

std::optional<std::wstring> CLanguages::GetTitle(unsigned index) {
  if (index >= m_records.size()) return std::nullopt;
  return m_records[index].title;
}

std::optional<std::wstring> CLanguages::GetSystemName(unsigned index) {
  if (index >= m_records.size()) return std::nullopt;
  return m_records[index].systemName;
}

int CLanguages::GetId(unsigned index) {
  return index < m_records.size() ? m_records[index].id : -1;
}

unsigned CLanguages::FindById(int id) {
  for (unsigned i = 0; i < m_records.size(); ++i)
    if (m_records[i].id == id) return i;
  return 0;
}

void CLanguages::SetCurrent(unsigned index) {
  if (index < m_records.size()) m_current = index;
}

bool CLanguages::GetCurrentNode(SettingsNodePtr& node) {
  SettingsNodePtr loc;
  if (!GetLocalization(loc)) return false;
  SettingsNodeListPtr list;
  if (!loc->GetChildren(list)) return false;
  return list->GetItem(static_cast<int>(m_current), node);
}

}  // namespace InstallGui::GuiSettings
