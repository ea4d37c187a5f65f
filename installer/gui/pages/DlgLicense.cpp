#include "gui/pages/DlgLicense.h"

#include "package/DataStorage.h"
#include "package/LogSink.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <stdexcept>

namespace InstallGui {

namespace {

// Most of the odd bytes of a text zero and hardly any of the even ones: UTF-16 of Latin text
// without a mark (the platform's test for Unicode text looks at the same).
bool LooksLikeUtf16(const std::string& bytes) {
  size_t n = bytes.size() & ~size_t{1};
  if (n < 4) return false;
  size_t oddZeros = 0, evenZeros = 0;
  for (size_t i = 0; i < n; i += 2) {
    if (bytes[i] == 0) ++evenZeros;
    if (bytes[i + 1] == 0) ++oddZeros;
  }
  size_t pairs = n / 2;
  return (oddZeros * 10 >= pairs * 7 && evenZeros * 10 < pairs) ||
         (evenZeros * 10 >= pairs * 7 && oddZeros * 10 < pairs);
}

bool StartsWith(const std::string& bytes, std::initializer_list<unsigned char> mark) {
  if (bytes.size() < mark.size()) return false;
  size_t i = 0;
  for (unsigned char c : mark)
    if (static_cast<unsigned char>(bytes[i++]) != c) return false;
  return true;
}

}  // namespace

std::wstring DecodeLicenseText(const std::string& bytes, unsigned codePage, bool* unsupported) {
  if (unsupported) *unsupported = false;
  if (bytes.size() < 4) return L"";
  if (StartsWith(bytes, {0xEF, 0xBB, 0xBF})) return platform::FromUtf8(bytes.substr(3));
  if (StartsWith(bytes, {0xFF, 0xFE, 0x00, 0x00}) || StartsWith(bytes, {0x00, 0x00, 0xFE, 0xFF})) {
    if (unsupported) *unsupported = true;
    return L"";
  }
  // A licence saved as UTF-16 with its mark is read as such (an editor's "Unicode").
  if (StartsWith(bytes, {0xFF, 0xFE})) return platform::FromUtf16LEBytes(bytes.substr(2));
  if (StartsWith(bytes, {0xFE, 0xFF})) {
    std::string swapped = bytes.substr(2);
    for (size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    return platform::FromUtf16LEBytes(swapped);
  }
  if (LooksLikeUtf16(bytes)) {
    if (unsupported) *unsupported = true;
    return L"";
  }
  size_t zero = bytes.find('\0');
  return platform::AnsiToWide(std::string_view(bytes).substr(0, zero), codePage);
}

void CDlgLicense::LocalizePage(CLocalizer& localizer) {
  localizer.AddControl(L"TEXT", kLicenseCaption);
  localizer.AddControl(L"BUTTON_ACCEPT", kLicenseAccept);
}

void CDlgLicense::InitPage() {
  m_text.clear();
  auto* languages = Services().languages;
  CommonTools::SettingsNodePtr language, section, license;
  // Without its section the page has no licence to show (the run keeps such a page only when
  // the script asks for it without texts).
  if (!languages || !languages->GetCurrentNode(language) || !language ||
      !language->GetChild(GetSectionName(), section) || !section)
    return;
  if (!section->GetChild(L"LICENSE", license) || !license)
    throw std::runtime_error("CDlgLicense: the section DLG_LICENSE has no LICENSE element");
  std::wstring name = CommonTools::GetText(license, ScriptNames::Attribute::kPath, L"");
  std::wstring path;
  if (name.empty() || !m_storage || !m_storage->ExtractFile(L"", name, path))
    throw std::runtime_error("CDlgLicense: the licence file " + platform::ToUtf8(name) +
                             " is not in the package");
  std::string bytes;
  if (platform::ReadWholeFile(path, bytes) != platform::ERROR_SUCCESS) return;
  bool unsupported = false;
  m_text = DecodeLicenseText(bytes, platform::GetACP(), &unsupported);
  if (unsupported)
    // The text of the log line is kept as the logs have always had it.
    CommonTools::LogLine(CommonTools::LogLevel::Warning,
                         L"License file encoding is not supported. Only UFT-8 or ANSI allowed.");
}

bool CDlgLicense::SetField(const std::wstring& name, const std::wstring& value) {
  if (!platform::EqualsNoCase(name, L"Accept")) return false;
  if (platform::EqualsNoCase(value, L"yes") || value == L"1")
    m_accepted = true;
  else if (platform::EqualsNoCase(value, L"no") || value == L"0")
    m_accepted = false;
  else
    return false;
  return true;
}

std::wstring CDlgLicense::GetField(const std::wstring& name) const {
  if (!platform::EqualsNoCase(name, L"Accept")) return L"";
  return m_accepted ? L"yes" : L"no";
}

std::vector<std::wstring> CDlgLicense::FieldChoices(const std::wstring& name) const {
  if (!platform::EqualsNoCase(name, L"Accept")) return {};
  return {L"no", L"yes"};
}

bool CDlgLicense::CanLeaveWithNext() {
  if (m_accepted) return true;
  CommonTools::LogLine(CommonTools::LogLevel::Warning,
                       L"CDlgLicense: Next is not possible before the agreement is accepted");
  return false;
}

}  // namespace InstallGui
