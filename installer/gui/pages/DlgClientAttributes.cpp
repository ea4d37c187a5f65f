#include "gui/pages/DlgClientAttributes.h"

#include "package/LogSink.h"
#include "platform/Network.h"
#include "platform/Text.h"

namespace InstallGui {

namespace {

enum class Walk { Done, Cancelled };

Walk EnumerateLevel(const platform::NetResource& resource, ComputerList& list,
                    const ScanPump& pump) {
  if (pump && pump()) return Walk::Cancelled;
  platform::NetEnumHandle handle;
  if (platform::WNetOpenEnumW(platform::RESOURCE_GLOBALNET, platform::RESOURCETYPE_ANY, 0,
                              &resource, handle) != platform::ERROR_SUCCESS)
    return Walk::Done;
  auto close = [&](Walk w) {
    platform::WNetCloseEnum(handle);
    return w;
  };
  if (pump && pump()) return close(Walk::Cancelled);
  std::vector<platform::NetResource> entries;
  for (;;) {
    if (platform::WNetEnumResourceW(handle, static_cast<platform::DWORD>(-1), entries) !=
        platform::ERROR_SUCCESS)
      return close(Walk::Done);
    for (const auto& entry : entries) {
      if (pump && pump()) return close(Walk::Cancelled);
      if (entry.remoteName.size() > 2 && entry.remoteName.compare(0, 2, L"\\\\") == 0)
        list.push_back(entry.remoteName);
      if (entry.usage & platform::RESOURCEUSAGE_CONTAINER)
        if (EnumerateLevel(entry, list, pump) == Walk::Cancelled) return close(Walk::Cancelled);
    }
  }
}

}  // namespace

bool ScanNetwork(ComputerList& list, const ScanPump& pump) {
  list.clear();
  platform::NetResource root;  // zeroed: the network's root
  root.scope = 0;
  return EnumerateLevel(root, list, pump) == Walk::Done;
}

void NormalizeComputerList(ComputerList& list) {
  ComputerList out;
  for (std::wstring name : list) {
    if (!name.empty() && name[0] == L'\\') name.erase(0, name.size() >= 2 ? 2 : 1);
    size_t slash = name.find(L'\\');
    if (slash != std::wstring::npos) name.erase(slash);
    bool seen = false;
    for (const auto& earlier : out) seen = seen || platform::EqualsNoCase(earlier, name);
    if (!seen) out.push_back(name);
  }
  list.swap(out);
}

void CDlgComputerSelect::Localize(CommonTools::ILanguages& languages, ILocalizedWindow& window) {
  CLocalizer localizer(languages);
  if (!localizer.SelectSection(ScriptNames::Page::kComputerSelection)) return;
  localizer.AddControl(L"BUTTON_CANCEL", kControlCancel);
  localizer.AddControl(L"BUTTON_OK", kControlNext);
  localizer.AddControl(L"TEXT", kComputerListText);
  localizer.Apply(&window);
}

bool CDlgClientAttributes::IsComputerField(const std::wstring& name) {
  return platform::EqualsNoCase(name, L"Computer");
}

void CDlgClientAttributes::LocalizePage(CLocalizer& localizer) {
  localizer.AddControl(L"TEXT", kClientText);
  localizer.AddControl(L"SERVERNAME", kServerLabel);
  localizer.AddControl(L"BUTTON_INSTALL", kControlNext);
  localizer.AddControl(L"SCANTEXT", kScanLine);
}

void CDlgClientAttributes::LoadSettings() {
  m_serverName = GetSetting(ScriptNames::Attribute::kServerName, L"");
}

void CDlgClientAttributes::SaveSettings() {
  SetSetting(ScriptNames::Attribute::kServerName, CommonTools::Variant(m_serverName));
}

bool CDlgClientAttributes::PrepareComputerList(const ScanPump& pump) {
  if (!m_list) m_list = std::make_shared<ComputerList>();
  if (!m_list->empty()) return true;
  if (!ScanNetwork(*m_list, pump)) {
    m_list->clear();
    CommonTools::LogLine(CommonTools::LogLevel::Info,
                         L"CDlgClientAttributes: the network scan was cancelled");
    return false;
  }
  NormalizeComputerList(*m_list);
  return true;
}

void CDlgClientAttributes::ChooseComputer(int index) {
  if (m_list && index >= 0 && index < static_cast<int>(m_list->size()))
    m_serverName = (*m_list)[index];
}

bool CDlgClientAttributes::SetField(const std::wstring& name, const std::wstring& value) {
  if (platform::EqualsNoCase(name, L"ServerName")) {
    m_serverName = value;
    return true;
  }
  if (!IsComputerField(name)) return false;
  PrepareComputerList(nullptr);
  for (size_t i = 0; i < m_list->size(); ++i)
    if (platform::EqualsNoCase((*m_list)[i], value)) {
      ChooseComputer(static_cast<int>(i));
      return true;
    }
  CommonTools::LogLine(CommonTools::LogLevel::Warning,
                       L"CDlgClientAttributes: the network has no computer " + value);
  return false;
}

std::wstring CDlgClientAttributes::GetField(const std::wstring& name) const {
  if (platform::EqualsNoCase(name, L"ServerName") || IsComputerField(name)) return m_serverName;
  return L"";
}

}  // namespace InstallGui
