#include "gui/pages/DlgLangSelect.h"

#include "package/LogSink.h"
#include "platform/Format.h"
#include "platform/Text.h"

namespace InstallGui {

std::vector<std::wstring> CDlgLangSelect::Titles() const {
  std::vector<std::wstring> out;
  auto* languages = Services().languages;
  if (!languages) return out;
  for (unsigned i = 0; i < languages->GetCount(); ++i)
    out.push_back(languages->GetTitle(i).value_or(L""));
  return out;
}

void CDlgLangSelect::InitPage() {
  if (auto* languages = Services().languages)
    m_selection = static_cast<int>(languages->GetCurrent());
}

void CDlgLangSelect::LoadSettings() {
  // The stored index is not shown: the list shows the current language.
  InitPage();
}

void CDlgLangSelect::Select(int index) {
  auto* languages = Services().languages;
  if (!languages || index < 0 || index >= static_cast<int>(languages->GetCount())) return;
  m_selection = index;
  if (static_cast<unsigned>(index) == languages->GetCurrent()) return;
  languages->SetCurrent(static_cast<unsigned>(index));
  if (onLanguageChanged) onLanguageChanged();
}

void CDlgLangSelect::SaveSettings() {
  SetSetting(ScriptNames::Attribute::kLanguage, CommonTools::Variant(m_selection));
}

bool CDlgLangSelect::SetField(const std::wstring& name, const std::wstring& value) {
  if (!platform::EqualsNoCase(name, L"Language")) return false;
  std::vector<std::wstring> titles = Titles();
  int index = -1;
  std::int32_t number = 0;
  if (platform::VariantToInt32(value, number) == platform::S_OK) {
    index = number;
  } else {
    for (size_t i = 0; i < titles.size() && index < 0; ++i)
      if (platform::EqualsNoCase(titles[i], value)) index = static_cast<int>(i);
  }
  if (index < 0 || index >= static_cast<int>(titles.size())) {
    CommonTools::LogLine(CommonTools::LogLevel::Warning,
                         L"CDlgLangSelect: the script has no language \"" + value + L"\"");
    return false;
  }
  Select(index);
  return true;
}

std::wstring CDlgLangSelect::GetField(const std::wstring& name) const {
  if (!platform::EqualsNoCase(name, L"Language")) return L"";
  return std::to_wstring(m_selection);
}

std::vector<std::wstring> CDlgLangSelect::FieldChoices(const std::wstring& name) const {
  std::vector<std::wstring> out;
  if (!platform::EqualsNoCase(name, L"Language")) return out;
  for (size_t i = 0; i < Titles().size(); ++i) out.push_back(std::to_wstring(i));
  return out;
}

}  // namespace InstallGui
