#include "gui/pages/OptionPages.h"

#include "package/LogSink.h"
#include "package/ScriptVocabulary.h"
#include "platform/Format.h"
#include "platform/Text.h"

#include <map>

namespace InstallGui {

namespace {

constexpr int kInstall = 3, kLocal = 4, kClient = 5, kRepair = 7, kChange = 8, kUninstall = 9;

std::vector<OptionRow> DefaultRows(OptionTable table) {
  switch (table) {
    case OptionTable::InstallType:
      return {{1016, kInstall, L"TYPE_SERVER", L"TEXT_TYPE_SERVER"},
              {1017, kLocal, L"TYPE_LOCAL", L"TEXT_TYPE_LOCAL"},
              {1018, kClient, L"TYPE_CLIENT", L"TEXT_TYPE_CLIENT"}};
    case OptionTable::Repair:
      return {{1021, kRepair, L"TYPE_REPAIR", L"TEXT_TYPE_REPAIR"},
              {1022, kChange, L"TYPE_LIBCONFIG", L"TEXT_TYPE_CHANGE"},
              {1023, kUninstall, L"TYPE_UNINSTALL", L"TEXT_TYPE_UNINSTALL"}};
    case OptionTable::RepairTruncated:
      return {{1021, kRepair, nullptr, L"TEXT_TYPE_REPAIR"},
              {1023, kUninstall, nullptr, L"TEXT_TYPE_UNINSTALL"}};
    case OptionTable::Update:
      return {{1049, kRepair, L"TYPE_UPDATE", L"TEXT_TYPE_UPDATE"},
              {1023, kUninstall, L"TYPE_UNINSTALL", L"TEXT_TYPE_UNINSTALL"}};
  }
  return {};
}

std::map<OptionTable, std::vector<OptionRow>>& Tables() {
  static std::map<OptionTable, std::vector<OptionRow>> tables;
  if (tables.empty())
    for (auto t : {OptionTable::InstallType, OptionTable::Repair, OptionTable::RepairTruncated,
                   OptionTable::Update})
      tables[t] = DefaultRows(t);
  return tables;
}

// The names an install type is offered by in an answer file.
const wchar_t* TypeName(int type) {
  switch (type) {
    case kInstall: return L"Server";
    case kLocal: return L"Local";
    case kClient: return L"Client";
    case kRepair: return L"Repair";
    case kChange: return L"Change";
    case kUninstall: return L"Uninstall";
  }
  return L"";
}

}  // namespace

void COptionPage::ResetTables() { Tables().clear(); }

void COptionPage::HideOption(OptionTable table, size_t row) {
  auto& rows = Tables()[table];
  if (row < rows.size()) rows[row].state = OptionState::Hidden;
}

void COptionPage::DisableOption(OptionTable table, size_t row) {
  auto& rows = Tables()[table];
  if (row < rows.size()) rows[row].state = OptionState::Disabled;
}

const std::vector<OptionRow>& COptionPage::Rows(OptionTable table) { return Tables()[table]; }

COptionPage::COptionPage(const wchar_t* section, PageKind kind, OptionTable table, int textLine,
                         int defaultType, bool hasExport)
    : CBasePage(section, kind),
      m_table(table),
      m_textLine(textLine),
      m_defaultType(defaultType),
      m_hasExport(hasExport) {
  // The install-type page starts with no row; the others with their first.
  m_selection = defaultType < 0 ? -1 : 0;
}

bool COptionPage::RowUsable(int row) const {
  const auto& rows = Rows();
  return row >= 0 && row < static_cast<int>(rows.size()) && rows[row].state == OptionState::Shown;
}

bool COptionPage::Choose(int row) {
  if (!RowUsable(row)) return false;
  m_selection = row;
  return true;
}

void COptionPage::LoadSettings() {
  int stored = GetSettingInt(ScriptNames::Attribute::kInstallType, m_defaultType);
  if (m_defaultType < 0) m_selection = -1;
  const auto& rows = Rows();
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].installType == stored) {
      m_selection = static_cast<int>(i);
      break;
    }
  if (m_hasExport) m_export.SetCopyMsiPath(GetSetting(ScriptNames::Attribute::kCopyMsiPath, L""));
}

void COptionPage::LocalizePage(CLocalizer& localizer) {
  if (m_textLine == kTitleLine) localizer.AddControl(L"TITLE", kTitleLine);
  localizer.AddControl(L"TEXT", TextControl());
  for (const auto& row : DefaultRows(m_table)) localizer.AddControl(row.textKey, row.controlId);
  if (m_hasExport) {
    localizer.AddControl(L"TEXT_EXPORTMSI", kExportText);
    localizer.AddControl(L"BUTTON_EXPORTMSI", kExportButton);
  }
}

void COptionPage::InitPage() {
  m_hiddenControls.clear();
  // The switch "TEXT" hides the page's first line (on the repair and update pages the line
  // that "TITLE" fills); the short repair page has no switches.
  if (m_table != OptionTable::RepairTruncated && !IsControlShown(L"TEXT"))
    m_hiddenControls.push_back(m_textLine);
  const auto& rows = Rows();
  for (size_t i = 0; i < rows.size(); ++i)
    if (rows[i].switchKey && !IsControlShown(rows[i].switchKey)) HideOption(m_table, i);
  if (m_hasExport) {
    if (!IsControlShown(L"EXPORTMSI")) {
      m_hiddenControls.push_back(kExportFolder);
      m_hiddenControls.push_back(kExportText);
    }
    if (!IsControlShown(L"BUTTON_EXPORTMSI")) m_hiddenControls.push_back(kExportButton);
    if (m_export.ClientMsiPath().empty())
      m_hiddenControls.insert(m_hiddenControls.end(), {kExportText, kExportButton, kExportFolder});
  }
  // A chosen row that is not offered gives way to the first row that is.
  if (m_selection >= 0 && !RowUsable(m_selection)) {
    m_selection = -1;
    for (size_t i = 0; i < rows.size(); ++i)
      if (RowUsable(static_cast<int>(i))) {
        m_selection = static_cast<int>(i);
        break;
      }
  }
}

bool COptionPage::IsControlHidden(int controlId) const {
  for (int id : m_hiddenControls)
    if (id == controlId) return true;
  for (const auto& row : Rows())
    if (row.controlId == controlId) return row.state == OptionState::Hidden;
  return false;
}

bool COptionPage::IsControlDisabled(int controlId) const {
  for (const auto& row : Rows())
    if (row.controlId == controlId) return row.state == OptionState::Disabled;
  return false;
}

void COptionPage::SaveSettings() {
  int type = m_selection >= 0 ? Rows()[m_selection].installType : NothingChosenType();
  SetSetting(ScriptNames::Attribute::kInstallType, CommonTools::Variant(type));
  if (m_hasExport)
    SetSetting(ScriptNames::Attribute::kCopyMsiPath, CommonTools::Variant(m_export.CopyMsiPath()));
}

bool COptionPage::ExportTo(const std::wstring& folder) {
  if (!m_hasExport || IsControlHidden(kExportButton) || IsControlHidden(kExportFolder))
    return false;
  return m_export.CopyTo(*this, folder);
}

bool COptionPage::SetField(const std::wstring& name, const std::wstring& value) {
  if (platform::EqualsNoCase(name, L"ExportPath")) {
    if (ExportTo(value)) return true;
    CommonTools::LogLine(
        CommonTools::LogLevel::Warning,
        L"Page " + GetName() + L": the client package cannot be exported to " + value);
    return false;
  }
  if (!platform::EqualsNoCase(name, ScriptNames::Attribute::kInstallType)) return false;
  std::int32_t number = 0;
  bool isNumber = platform::VariantToInt32(value, number) == platform::S_OK;
  const auto& rows = Rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    bool named = isNumber ? rows[i].installType == number
                          : platform::EqualsNoCase(value, TypeName(rows[i].installType)) ||
                                (rows[i].installType == kInstall &&
                                 platform::EqualsNoCase(value, L"Install"));
    if (!named) continue;
    if (Choose(static_cast<int>(i))) return true;
    CommonTools::LogLine(CommonTools::LogLevel::Warning,
                         L"Page " + GetName() + L": the choice " + value + L" is not offered");
    return false;
  }
  return false;
}

std::wstring COptionPage::GetField(const std::wstring& name) const {
  if (platform::EqualsNoCase(name, ScriptNames::Attribute::kInstallType))
    return m_selection >= 0 ? TypeName(Rows()[m_selection].installType) : L"";
  if (platform::EqualsNoCase(name, L"ExportPath")) return m_export.CopyMsiPath();
  return L"";
}

std::vector<std::wstring> COptionPage::FieldNames() const {
  std::vector<std::wstring> names = {ScriptNames::Attribute::kInstallType};
  if (m_hasExport && !m_export.ClientMsiPath().empty()) names.push_back(L"ExportPath");
  return names;
}

std::vector<std::wstring> COptionPage::FieldChoices(const std::wstring& name) const {
  std::vector<std::wstring> out;
  if (!platform::EqualsNoCase(name, ScriptNames::Attribute::kInstallType)) return out;
  for (const auto& row : Rows())
    if (row.state == OptionState::Shown) out.push_back(TypeName(row.installType));
  return out;
}

CDlgInstallType::CDlgInstallType()
    : COptionPage(ScriptNames::Page::kInstallType, PageKind::InstallType, OptionTable::InstallType,
                  1015, -1, true) {}

bool CDlgInstallType::IsControlDisabled(int controlId) const {
  if (controlId == kControlNext) return m_selection < 0;
  return COptionPage::IsControlDisabled(controlId);
}

bool CDlgInstallType::CanLeaveWithNext() {
  if (m_selection < 0) return false;
  const OptionRow& row = Rows()[m_selection];
  CommonTools::LogLine(
      CommonTools::LogLevel::Info,
      L"Select installation: " + ControlText(row.controlId, TypeName(row.installType)));
  if (row.installType == kInstall && !m_serverAllowed) {
    CommonTools::LogLine(CommonTools::LogLevel::Info, L"    Server installation is NOT permitted!");
    ShowMessage(ScriptNames::Message::kDenyServerInstall, MB_ICONERROR);
    return false;
  }
  return true;
}

CDlgRepair::CDlgRepair()
    : COptionPage(ScriptNames::Page::kChangeRepair, PageKind::Repair, OptionTable::Repair,
                  kTitleLine, kInstall, true) {}

std::wstring CDlgRepair::GetName() const { return ScriptNames::Page::kRepair; }

CDlgRepairTruncated::CDlgRepairTruncated()
    : COptionPage(ScriptNames::Page::kRepairTruncated, PageKind::Repair,
                  OptionTable::RepairTruncated, kTitleLine, kInstall, false) {}

CDlgUpdate::CDlgUpdate()
    : COptionPage(ScriptNames::Page::kUpdate, PageKind::Update, OptionTable::Update, kTitleLine,
                  kInstall, true) {}

std::wstring CDlgUpdate::BuildLine() const {
  std::wstring format = ControlText(kTitleLine);
  std::wstring out;
  platform::FormatArg args[] = {InstalledBuild()};
  platform::ArgKind kinds[] = {platform::ArgKind::Int};
  if (!platform::CheckFormat(format, kinds, nullptr) ||
      platform::TryFormat(format, args, out, nullptr) != platform::ERROR_SUCCESS)
    return format;
  return out;
}

}  // namespace InstallGui
