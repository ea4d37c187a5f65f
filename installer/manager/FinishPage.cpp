#include "manager/FinishPage.h"

#include "package/ScriptVocabulary.h"
#include "platform/Text.h"

namespace InstallManager {

bool CFinishPage::SetField(const std::wstring& name, const std::wstring& value) {
  if (!m_restartOffered || !platform::EqualsNoCase(name, L"Restart")) return false;
  if (platform::EqualsNoCase(value, L"Now")) {
    m_restartNow = true;
    return true;
  }
  if (platform::EqualsNoCase(value, L"Later")) {
    m_restartNow = false;
    return true;
  }
  return false;
}

std::wstring CFinishPage::GetField(const std::wstring& name) const {
  if (platform::EqualsNoCase(name, L"Text")) return m_text;
  if (m_restartOffered && platform::EqualsNoCase(name, L"Restart"))
    return m_restartNow ? L"Now" : L"Later";
  return L"";
}

bool CFinishPage::IsFieldEditable(const std::wstring& name) const {
  return !platform::EqualsNoCase(name, L"Text");
}

void CFinishPage::LocalizePage(InstallGui::CLocalizer& localizer) {
  localizer.AddControl(L"TEXT", InstallGui::kControlText);
}

std::vector<std::wstring> CFinishPage::FieldNames() const {
  if (m_restartOffered) return {L"Text", L"Restart"};
  return {L"Text"};
}

}  // namespace InstallManager
