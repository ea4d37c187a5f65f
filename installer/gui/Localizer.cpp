#include "gui/Localizer.h"

#include "package/LogSink.h"
#include "package/ScriptVocabulary.h"
#include "platform/Text.h"

namespace InstallGui {

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;
namespace A = ScriptNames::Attribute;

std::wstring ExpandLineBreaks(std::wstring text) {
  size_t pos = 0;
  while ((pos = text.find(L"\\n", pos)) != std::wstring::npos) {
    text.replace(pos, 2, L"\n");
    ++pos;
  }
  return text;
}

bool CLocalizer::SelectSection(const std::wstring& name) {
  m_section.reset();
  m_sectionName.clear();
  try {
    SettingsNodePtr language, section;
    if (!m_languages.GetCurrentNode(language) || !language || !language->GetChild(name, section))
      return false;
    m_section = section;
    m_sectionName = name;
    return true;
  } catch (const CommonTools::SettingsError&) {
    return false;
  }
}

void CLocalizer::AddControl(const std::wstring& key, int controlId) {
  m_entries.push_back({key, 1, controlId, nullptr});
}

void CLocalizer::AddString(const std::wstring& key, std::wstring* target) {
  m_entries.push_back({key, 2, 0, target});
}

void CLocalizer::ReplaceControl(const std::wstring& key, int controlId) {
  for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
    if (it->kind == 1 && it->controlId == controlId) {
      m_entries.erase(it);
      break;
    }
  AddControl(key, controlId);
}

std::wstring CLocalizer::GetCaption() {
  if (!m_section) return L"";
  try {
    return ExpandLineBreaks(CommonTools::GetText(m_section, A::kCaption));
  } catch (const CommonTools::SettingsError&) {
    return L"";
  }
}

bool CLocalizer::GetText(const std::wstring& key, std::wstring& text) {
  if (!m_section) return false;
  try {
    SettingsNodePtr child;
    if (!m_section->GetChild(key, child)) {
      CommonTools::LogLine(CommonTools::LogLevel::Warning,
                           L"Node " + m_sectionName + L"/" + key + L" not found!");
      return false;
    }
    text = ExpandLineBreaks(CommonTools::GetText(child, A::kCaption));
    return true;
  } catch (const CommonTools::SettingsError&) {
    return false;
  }
}

bool CLocalizer::Apply(ILocalizedWindow* window) {
  if (!m_section) return false;
  std::wstring caption = GetCaption();
  if (!caption.empty() && window) window->SetTitle(caption);
  for (const auto& entry : m_entries) {
    std::wstring text;
    if (!GetText(entry.key, text)) continue;
    if (entry.kind == 1) {
      if (window && window->HasControl(entry.controlId))
        window->SetControlText(entry.controlId, text);
    } else if (entry.target) {
      *entry.target = text;
    }
  }
  return true;
}

namespace {

bool ShownBy(const SettingsNodePtr& node) {
  std::wstring show = CommonTools::GetText(node, A::kShow, L"Y");
  return show.empty() || !platform::EqualsNoCase(show, ScriptNames::Value::kHide);
}

}  // namespace

bool IsDialogShown(const SettingsNodePtr& root, const std::wstring& sectionName) {
  try {
    SettingsNodePtr dialogs, page;
    if (!root || !root->GetChild(ScriptNames::Element::kDialogs, dialogs) ||
        !dialogs->GetChild(sectionName, page))
      return true;
    return ShownBy(page);
  } catch (...) {
    return true;
  }
}

bool IsControlShown(const SettingsNodePtr& root, const std::wstring& sectionName,
                    const std::wstring& key) {
  try {
    SettingsNodePtr dialogs, page, control;
    if (!root || !root->GetChild(ScriptNames::Element::kDialogs, dialogs) ||
        !dialogs->GetChild(sectionName, page) || !page->GetChild(key, control))
      return true;
    return ShownBy(control);
  } catch (...) {
    return true;
  }
}

}  // namespace InstallGui
