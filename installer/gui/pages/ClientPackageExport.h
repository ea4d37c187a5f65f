// The export of the client package that the install-type, repair, update and finish pages
// offer (the ">>" button beside the folder line): the folder last copied to, the start folder
// of the folder browser, and the copy itself.
#pragma once

#include "gui/pages/BasePage.h"

#include <string>

namespace InstallGui {

inline constexpr int kExportText = 1044;
inline constexpr int kExportButton = 1045;
inline constexpr int kExportFolder = 1046;

class CClientPackageExport {
 public:
  // The client package of the run (empty: the page offers no export).
  void SetClientMsiPath(std::wstring path) { m_clientMsiPath = std::move(path); }
  const std::wstring& ClientMsiPath() const { return m_clientMsiPath; }
  // The folder the package was last copied to ("CopyMSIPath").
  const std::wstring& CopyMsiPath() const { return m_copyMsiPath; }
  void SetCopyMsiPath(std::wstring path) { m_copyMsiPath = std::move(path); }

  // The browser's start folder: the last folder, else "ProjectPath", else "TolmeraPath".
  std::wstring StartFolder(const CBasePage& page) const;
  // Copies the package into `folder` (an existing file is replaced). True when it is there
  // afterwards; then it is the last folder. A failed copy is logged and shown to the person
  // ("File %s is not copy to %s", the log's words) and the last folder stays.
  bool CopyTo(const CBasePage& page, const std::wstring& folder);

 private:
  std::wstring m_clientMsiPath;
  std::wstring m_copyMsiPath;
};

}  // namespace InstallGui
