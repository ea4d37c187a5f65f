#include "gui/pages/DlgDestination.h"

#include "package/LogSink.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace InstallGui {

namespace {

// Room left for the product's own folders and files below the chosen folder.
constexpr size_t kLongestDestination = 200;
constexpr size_t kSpaceLineChars = 99;  // a line of 100 characters with its terminating zero

}  // namespace

void AppendProductFolder(std::wstring& path, const std::wstring& folder) {
  std::wstring leaf = path;
  platform::PathRemoveBackslashW(leaf);
  platform::PathStripPathW(leaf);
  platform::PathRemoveBackslashW(path);
  if (!platform::EqualsNoCase(leaf, folder)) platform::PathAppendW(path, folder);
}

std::wstring FormatSpaceLine(const std::wstring& format, std::uint64_t mebibytes) {
  if (format.empty()) return L"";
  std::wstring out;
  platform::FormatArg args[] = {mebibytes};
  platform::ArgKind kinds[] = {platform::ArgKind::UInt};
  if (!platform::CheckFormat(format, kinds, nullptr) ||
      platform::TryFormat(format, args, out, nullptr) != platform::ERROR_SUCCESS)
    out = format;
  if (out.size() > kSpaceLineChars) out.resize(kSpaceLineChars);
  return out;
}

std::wstring CheckDestinationFolder(const std::wstring& path) {
  if (path.empty()) return L"no folder is given";
  if (path.size() > kLongestDestination)
    return L"the folder is longer than " + std::to_wstring(kLongestDestination) + L" characters";
  bool unc = platform::PathIsUNCW(path);
  bool local = path.size() >= 3 &&
               ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
               path[1] == L':' && path[2] == L'\\';
  if (!unc && !local) return L"the folder is not a full local or network folder";
  if (unc) {
    // A server and a share at least: \\server\share.
    size_t slash = path.find(L'\\', 2);
    if (slash == std::wstring::npos || slash == 2 || slash + 1 >= path.size())
      return L"the network folder names no share";
  }
  for (size_t i = unc ? 2 : 3; i < path.size(); ++i) {
    wchar_t c = path[i];
    if (c < 32 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'/' || c == L'|' ||
        c == L'?' || c == L'*')
      return L"the folder holds a character no folder name may hold";
  }
  return L"";
}

void CDlgDestination::LocalizePage(CLocalizer& localizer) {
  localizer.AddControl(L"TEXT", kDestinationText);
  localizer.AddControl(L"BUTTON_BROWSE", kDestinationBrowse);
  localizer.AddControl(L"GROUP", kDestinationGroup);
  localizer.AddString(L"SPACE_REQUIRED", &m_requiredFormat);
  localizer.AddString(L"SPACE_AVAILABLE", &m_availableFormat);
  localizer.AddString(L"BROWSETEXT", &m_browsePrompt);
  localizer.AddString(L"BROWSECAPTION", &m_browseCaption);
}

void CDlgDestination::LoadSettings() {
  m_installPath = m_initialFolder.empty() ? GetSetting(ScriptNames::Attribute::kInstallPath, L"")
                                          : m_initialFolder;
}

void CDlgDestination::SaveSettings() {
  std::wstring path = m_installPath;
  if (!m_productFolder.empty()) AppendProductFolder(path, m_productFolder);
  SetSetting(ScriptNames::Attribute::kInstallPath, CommonTools::Variant(path));
}

void CDlgDestination::SetInstallPath(const std::wstring& path) {
  m_installPath = path;
  UpdateSpace();
}

void CDlgDestination::AcceptBrowsedFolder(const std::wstring& folder) {
  std::wstring path = folder;
  if (!m_productFolder.empty()) AppendProductFolder(path, m_productFolder);
  SetInstallPath(path);
}

void CDlgDestination::UpdateSpace() {
  std::wstring root = m_installPath;
  platform::PathStripToRootW(root);
  std::uint64_t free = 0;
  if (root.empty() ||
      platform::GetDiskFreeSpaceExW(root, &free, nullptr, nullptr) != platform::ERROR_SUCCESS)
    free = 0;
  m_availableLine = FormatSpaceLine(m_availableFormat, free >> 20);
  m_requiredLine = FormatSpaceLine(m_requiredFormat, m_requiredBytes >> 20);
}

bool CDlgDestination::CanLeaveWithNext() {
  std::wstring why = CheckDestinationFolder(m_installPath);
  if (why.empty()) return true;
  std::wstring text = L"The folder \"" + m_installPath + L"\" cannot be used: " + why + L".";
  CommonTools::LogLine(CommonTools::LogLevel::Warning, L"CDlgDestination: " + text);
  ShowText(text, MB_ICONEXCLAMATION);
  return false;
}

bool CDlgDestination::SetField(const std::wstring& name, const std::wstring& value) {
  if (!platform::EqualsNoCase(name, ScriptNames::Attribute::kInstallPath)) return false;
  SetInstallPath(value);
  return true;
}

std::wstring CDlgDestination::GetField(const std::wstring& name) const {
  return platform::EqualsNoCase(name, ScriptNames::Attribute::kInstallPath) ? m_installPath : L"";
}

}  // namespace InstallGui
