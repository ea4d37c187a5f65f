#include "gui/pages/DlgSummary.h"

#include "platform/Text.h"

namespace InstallGui {

void CDlgSummary::LocalizePage(CLocalizer& localizer) {
  localizer.AddControl(L"TITLE", kSummaryGroup);
  localizer.AddControl(L"BUTTON_INSTALL", kControlNext);
  localizer.AddString(L"TEXT_CORE", &m_core);
  localizer.AddString(L"TEXT_COMPONENTS", &m_components);
}

void CDlgSummary::InitPage() {
  m_text = m_core + L"\r\n  " + GetSetting(ScriptNames::Attribute::kInstallPath, L"") + L"\r\n";
  m_lines.clear();
  std::wstring selection = GetSetting(ScriptNames::Attribute::kSelectedLibraries, L"empty");
  if (selection != L"empty" && !selection.empty()) {
    CommonTools::LibraryRecord record;
    for (long id : CommonTools::SplitIds(selection))
      if (m_libraries.Find(static_cast<int>(id), record) && record.selected)
        m_lines.push_back(L"  " + record.Caption);
  }
  if (!m_lines.empty()) m_text += m_components + L"\r\n";
}

std::wstring CDlgSummary::GetField(const std::wstring& name) const {
  if (platform::EqualsNoCase(name, L"Text")) return m_text;
  if (!platform::EqualsNoCase(name, L"Components")) return L"";
  std::wstring out;
  for (const auto& line : m_lines) out += (out.empty() ? L"" : L";") + line.substr(2);
  return out;
}

}  // namespace InstallGui
