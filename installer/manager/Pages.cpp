#include "manager/Pages.h"

#include "manager/InstallTypes.h"
#include "package/ScriptVocabulary.h"
#include "platform/Text.h"

namespace InstallManager {

using InstallGui::PageKind;

PageKind CPage::PageKindOf(const std::wstring& sectionName) {
  namespace P = ScriptNames::Page;
  static const struct {
    const wchar_t* section;
    PageKind kind;
  } kinds[] = {
      {P::kLicense, PageKind::License},       {P::kDestination, PageKind::Destination},
      {P::kUpdate, PageKind::Update},         {P::kSummary, PageKind::Summary},
      {P::kFinish, PageKind::Finish},         {P::kLanguageSelection, PageKind::Language},
      {P::kComponents, PageKind::Components}, {P::kInstallType, PageKind::InstallType},
      {P::kRepair, PageKind::Repair},         {P::kRepairTruncated, PageKind::Repair},
      {P::kChangeRepair, PageKind::Repair},   {P::kClientAttributes, PageKind::ClientAttributes},
      {P::kGreeting, PageKind::Greeting},
  };
  for (const auto& k : kinds)
    if (platform::EqualsNoCase(sectionName, k.section)) return k.kind;
  return PageKind::None;
}

void CPage::AddChoice(const std::wstring& field, std::set<int> allowed, bool installTypeNames) {
  Field f;
  f.isChoice = true;
  f.allowed = std::move(allowed);
  f.installTypeNames = installTypeNames;
  m_order.push_back(field);
  m_fields[field] = f;
}

void CPage::AddText(const std::wstring& field) {
  m_order.push_back(field);
  m_fields[field] = Field{};
}

std::vector<std::wstring> CPage::FieldNames() const { return m_order; }

std::vector<std::wstring> CPage::FieldChoices(const std::wstring& name) const {
  std::vector<std::wstring> out;
  for (const auto& [key, f] : m_fields) {
    if (!platform::EqualsNoCase(key, name) || !f.isChoice) continue;
    for (int v : f.allowed)
      out.push_back(f.installTypeNames ? std::wstring(InstallTypeScriptName(v))
                                       : std::to_wstring(v));
  }
  return out;
}

void CPage::LocalizePage(InstallGui::CLocalizer& localizer) {
  localizer.AddControl(L"TEXT", InstallGui::kControlText);
}

bool CPage::SetField(const std::wstring& name, const std::wstring& value) {
  for (auto& [key, f] : m_fields) {
    if (!platform::EqualsNoCase(key, name)) continue;
    if (f.isChoice) {
      int v = -1;
      std::int32_t number = 0;
      if (platform::VariantToInt32(value, number) == platform::S_OK)
        v = number;
      else if (f.installTypeNames)
        v = InstallTypeFromName(value);
      if (!f.allowed.count(v)) return false;
      f.value = std::to_wstring(v);
    } else {
      f.value = value;
    }
    f.set = true;
    return true;
  }
  return false;
}

std::wstring CPage::GetField(const std::wstring& name) const {
  for (const auto& [key, f] : m_fields) {
    if (!platform::EqualsNoCase(key, name)) continue;
    // An install type reads as the name it is offered by.
    std::int32_t number = 0;
    if (f.isChoice && f.installTypeNames &&
        platform::VariantToInt32(f.value, number) == platform::S_OK)
      return InstallTypeScriptName(number);
    return f.value;
  }
  return L"";
}

void CPage::LoadSettings() {
  if (!m_settings) return;
  for (auto& [key, f] : m_fields) {
    CommonTools::Variant v = m_settings->Get(key, CommonTools::Variant());
    if (v.isEmpty()) continue;
    if (f.isChoice) {
      std::int32_t number = 0;
      if (platform::VariantToInt32(v.toString(), number) != platform::S_OK ||
          !f.allowed.count(number))
        continue;
    }
    f.value = v.toString();
    f.set = true;
  }
}

void CPage::SaveSettings() {
  if (!m_settings) return;
  for (const auto& [key, f] : m_fields) {
    if (!f.set) continue;
    if (f.isChoice)
      m_settings->Set(key, CommonTools::Variant(std::stoi(f.value)));
    else
      m_settings->Set(key, CommonTools::Variant(f.value));
  }
  if (onSaved) onSaved(*this);
}

}  // namespace InstallManager
