// The finish page's presenter as the run sees it: the text it shows, and, when folders wait for
// a restart, the choice to restart Windows now or later. The page's window is the wizard's.
#pragma once

#include "gui/pages/BasePage.h"

#include "package/ScriptVocabulary.h"

#include <string>

namespace InstallManager {

class CFinishPage : public InstallGui::CBasePage {
 public:
  CFinishPage(std::wstring text, bool restartOffered, std::wstring clientMsiPath)
      : CBasePage(ScriptNames::Page::kFinish, InstallGui::PageKind::Finish, false),
        m_text(std::move(text)),
        m_restartOffered(restartOffered),
        m_clientMsiPath(std::move(clientMsiPath)) {}

  // The run's closing message, shown as the page's text when there is one.
  std::wstring MessageText() const override { return m_text; }
  bool IsFieldEditable(const std::wstring& name) const override;
  // "Restart": "Now" or "Later" (only while a restart is offered); "Text" is read only.
  bool SetField(const std::wstring& name, const std::wstring& value) override;
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override;

  const std::wstring& Text() const { return m_text; }
  bool RestartOffered() const { return m_restartOffered; }
  bool RestartNow() const { return m_restartOffered && m_restartNow; }
  // The client package the page may offer for export (empty: none).
  const std::wstring& ClientMsiPath() const { return m_clientMsiPath; }

 protected:
  // The section's own text ("TEXT"), which the run's message replaces.
  void LocalizePage(InstallGui::CLocalizer& localizer) override;

 private:
  std::wstring m_text;
  bool m_restartOffered = false;
  bool m_restartNow = true;  // the page's default choice when it offers the restart
  std::wstring m_clientMsiPath;
};

}  // namespace InstallManager
