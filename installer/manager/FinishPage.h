// The finish page's presenter as the run sees it: the text it shows, and, when folders wait for
// a restart, the choice to restart Windows now or later. The page's window is the wizard's.
#pragma once

#include "gui/UiBackend.h"

#include <string>

namespace InstallManager {

class CFinishPage : public InstallGui::IPage {
 public:
  CFinishPage(std::wstring text, bool restartOffered, std::wstring clientMsiPath)
      : m_text(std::move(text)),
        m_restartOffered(restartOffered),
        m_clientMsiPath(std::move(clientMsiPath)) {}

  std::wstring GetName() const override;
  // "Restart": "Now" or "Later" (only while a restart is offered); "Text" is read only.
  bool SetField(const std::wstring& name, const std::wstring& value) override;
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override;

  const std::wstring& Text() const { return m_text; }
  bool RestartOffered() const { return m_restartOffered; }
  bool RestartNow() const { return m_restartOffered && m_restartNow; }
  // The client package the page may offer for export (empty: none).
  const std::wstring& ClientMsiPath() const { return m_clientMsiPath; }

 private:
  std::wstring m_text;
  bool m_restartOffered = false;
  bool m_restartNow = true;  // the page's default choice when it offers the restart
  std::wstring m_clientMsiPath;
};

}  // namespace InstallManager
