#include "gui/pages/ClientPackageExport.h"

#include "package/LogSink.h"
#include "package/ScriptVocabulary.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace InstallGui {

std::wstring CClientPackageExport::StartFolder(const CBasePage& page) const {
  if (!m_copyMsiPath.empty()) return m_copyMsiPath;
  std::wstring project = page.GetSetting(ScriptNames::Attribute::kProjectPath, L"");
  if (!project.empty()) return project;
  return page.GetSetting(ScriptNames::Attribute::kTolmeraPath, L"");
}

bool CClientPackageExport::CopyTo(const CBasePage& page, const std::wstring& folder) {
  if (folder.empty() || m_clientMsiPath.empty()) return false;
  std::wstring name = m_clientMsiPath;
  platform::PathStripPathW(name);
  std::wstring destination = folder;
  platform::PathAppendW(destination, name);
  platform::CopyFileW(m_clientMsiPath, destination, false);
  if (platform::PathFileExistsW(destination) && !platform::PathIsDirectoryW(destination)) {
    std::wstring copied = destination;
    platform::PathRemoveFileSpecW(copied);
    m_copyMsiPath = copied;
    return true;
  }
  std::wstring text = L"File " + m_clientMsiPath + L" is not copy to " + destination;
  CommonTools::LogLine(CommonTools::LogLevel::Warning, text);
  page.ShowText(text, MB_ICONERROR);
  return false;
}

}  // namespace InstallGui
