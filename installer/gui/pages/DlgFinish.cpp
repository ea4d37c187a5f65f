#include "gui/pages/DlgFinish.h"

#include "package/LogSink.h"
#include "platform/Text.h"

namespace InstallGui {

CDlgFinish::CDlgFinish(std::wstring text, bool restartOffered, std::wstring clientMsiPath)
    : CBasePage(ScriptNames::Page::kFinish, PageKind::Finish, false),
      m_text(std::move(text)),
      m_restartOffered(restartOffered) {
  m_export.SetClientMsiPath(std::move(clientMsiPath));
}

void CDlgFinish::LocalizeCommon(CLocalizer& localizer, ILocalizedWindow& window) {
  // Only a language that has the common finish text gives it; the page's section may too.
  CommonTools::SettingsNodePtr language, common, finish;
  auto* languages = Services().languages;
  if (!languages || !languages->GetCurrentNode(language) || !language ||
      !language->GetChild(ScriptNames::Element::kCommon, common) || !common ||
      !common->GetChild(L"BUTTON_FINISH", finish))
    return;
  if (!localizer.SelectSection(ScriptNames::Element::kCommon)) return;
  localizer.AddControl(L"BUTTON_FINISH", kControlNext);
  localizer.Apply(&window);
}

void CDlgFinish::LocalizePage(CLocalizer& localizer) {
  localizer.AddControl(L"TITLE", kFinishTitle);
  localizer.AddControl(L"TEXT", kFinishText);
  localizer.AddControl(L"BUTTON_FINISH", kControlNext);
  localizer.AddControl(L"TEXT_RESTART", kRestartQuestion);
  localizer.AddControl(L"BUTTON_RESTARTNOW", kRestartNow);
  localizer.AddControl(L"BUTTON_RESTARTLATER", kRestartLater);
  localizer.AddControl(L"TEXT_EXPORTMSI", kExportText);
  localizer.AddControl(L"BUTTON_EXPORTMSI", kExportButton);
}

void CDlgFinish::LoadSettings() {
  m_export.SetCopyMsiPath(GetSetting(ScriptNames::Attribute::kCopyMsiPath, L""));
}

void CDlgFinish::InitPage() {
  m_hidden.clear();
  static const struct {
    const wchar_t* key;
    int control;
  } kSwitches[] = {{L"TEXT", kFinishText},       {L"RESTART", kRestartQuestion},
                   {L"RESTARTNOW", kRestartNow}, {L"RESTARTLATER", kRestartLater},
                   {L"EXPORTMSI", kExportText},  {L"BUTTON_EXPORTMSI", kExportButton}};
  for (const auto& s : kSwitches)
    if (!IsControlShown(s.key)) m_hidden.push_back(s.control);
  if (!m_restartOffered) {
    m_hidden.insert(m_hidden.end(), {kRestartNow, kRestartLater, kRestartQuestion});
    m_restartNow = false;
  }
  if (m_export.ClientMsiPath().empty())
    m_hidden.insert(m_hidden.end(), {kExportText, kExportButton, kExportFolder});
}

bool CDlgFinish::IsControlHidden(int controlId) const {
  for (int id : m_hidden)
    if (id == controlId) return true;
  return false;
}

bool CDlgFinish::ExportTo(const std::wstring& folder) {
  if (IsControlHidden(kExportButton)) return false;
  return m_export.CopyTo(*this, folder);
}

bool CDlgFinish::SetField(const std::wstring& name, const std::wstring& value) {
  if (platform::EqualsNoCase(name, L"ExportPath")) {
    if (ExportTo(value)) return true;
    CommonTools::LogLine(CommonTools::LogLevel::Warning,
                         L"Page DLG_FINISH: the client package cannot be exported to " + value);
    return false;
  }
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

std::wstring CDlgFinish::GetField(const std::wstring& name) const {
  if (platform::EqualsNoCase(name, L"Text")) return m_text;
  if (m_restartOffered && platform::EqualsNoCase(name, L"Restart"))
    return m_restartNow ? L"Now" : L"Later";
  if (platform::EqualsNoCase(name, L"ExportPath")) return m_export.CopyMsiPath();
  return L"";
}

bool CDlgFinish::IsFieldEditable(const std::wstring& name) const {
  return !platform::EqualsNoCase(name, L"Text");
}

std::vector<std::wstring> CDlgFinish::FieldNames() const {
  std::vector<std::wstring> names = {L"Text"};
  if (m_restartOffered) names.push_back(L"Restart");
  if (!m_export.ClientMsiPath().empty()) names.push_back(L"ExportPath");
  return names;
}

std::vector<std::wstring> CDlgFinish::FieldChoices(const std::wstring& name) const {
  if (m_restartOffered && platform::EqualsNoCase(name, L"Restart")) return {L"Now", L"Later"};
  return {};
}

}  // namespace InstallGui
