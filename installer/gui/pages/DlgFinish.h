// The finish page at the end of every run: its section's text or the run's closing message,
// the offer to restart Windows now or later when folders wait for a restart, and the export of
// the client package. It has only the Finish button, and Cancel does nothing on it.
#pragma once

#include "gui/pages/BasePage.h"
#include "gui/pages/ClientPackageExport.h"
#include "package/ScriptVocabulary.h"

#include <string>

namespace InstallGui {

inline constexpr int kFinishText = 1007;
inline constexpr int kRestartQuestion = 1017;
inline constexpr int kFinishTitle = 1018;
inline constexpr int kRestartNow = 1050;
inline constexpr int kRestartLater = 1051;

class CDlgFinish : public CBasePage {
 public:
  CDlgFinish(std::wstring text, bool restartOffered, std::wstring clientMsiPath);

  // The run's closing message, shown instead of the section's text when there is one.
  std::wstring MessageText() const override { return m_text; }
  int TextControl() const override { return kFinishText; }
  // "Restart": "Now" or "Later" (only while a restart is offered); "ExportPath": the folder to
  // copy the client package to; "Text" is read only.
  bool SetField(const std::wstring& name, const std::wstring& value) override;
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override;
  std::vector<std::wstring> FieldChoices(const std::wstring& name) const override;
  bool IsFieldEditable(const std::wstring& name) const override;
  bool IsControlHidden(int controlId) const override;

  const std::wstring& Text() const { return m_text; }
  bool RestartOffered() const { return m_restartOffered; }
  bool RestartNow() const { return m_restartOffered && m_restartNow; }
  void SetRestartNow(bool now) { m_restartNow = now; }
  const std::wstring& ClientMsiPath() const { return m_export.ClientMsiPath(); }
  CClientPackageExport& Export() { return m_export; }
  const CClientPackageExport& Export() const { return m_export; }
  bool ExportTo(const std::wstring& folder);

  void LoadSettings() override;

 protected:
  // The finish button's text: "BUTTON_FINISH" of "Common", then of the page's section.
  void LocalizeCommon(CLocalizer& localizer, ILocalizedWindow& window) override;
  void LocalizePage(CLocalizer& localizer) override;
  void InitPage() override;

 private:
  std::wstring m_text;
  bool m_restartOffered = false;
  bool m_restartNow = true;  // the page's choice when it offers the restart
  CClientPackageExport m_export;
  std::vector<int> m_hidden;
};

}  // namespace InstallGui
