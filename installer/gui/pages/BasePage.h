// What every wizard page is before it is a window: its section in the language, its kind, the
// builds it shows, whether it offers Back, the protocol of its buttons (Next and Back keep the
// page's choices, Cancel asks first and keeps nothing; the finish page ignores Cancel) and the
// texts every page takes from the language: the common buttons and its title, a format with the
// scenario build. A page of its own derives from it and reads and writes its choices in
// LoadSettings and SaveSettings. The wx view (wx/BaseDialog) and the scripted back-end show the
// same presenter.
#pragma once

#include "gui/Localizer.h"
#include "gui/UiBackend.h"
#include "package/UserSettings.h"

#include <functional>
#include <map>
#include <string>

namespace InstallGui {

// The kinds of page, as the run tells them apart.
enum class PageKind : int {
  None = 0,
  License = 1,
  Destination = 2,
  Update = 5,
  Summary = 6,
  Finish = 7,
  Language = 8,
  Components = 9,
  InstallType = 10,
  Repair = 11,  // both repair pages
  ClientAttributes = 12,
  Greeting = 14,
};

// The controls every page has; a view gives its controls these numbers.
inline constexpr int kControlNext = 1;
inline constexpr int kControlCancel = 2;
inline constexpr int kControlBack = 1020;
inline constexpr int kControlTopBanner = 1008;
inline constexpr int kControlLeftBanner = 1014;
inline constexpr int kControlContentArea = 1013;
inline constexpr int kControlText = 1010;  // the page's main text ("TEXT")

// What a page works with, handed over by the run: the user settings it reads and writes, the
// languages of its texts, the script (its control switches under DIALOGS) and the run's message
// boxes. Any of them may be missing; a page then does without.
struct PageServices {
  InstallManager::IUserSettings* settings = nullptr;
  CommonTools::ILanguages* languages = nullptr;
  std::function<bool(CommonTools::SettingsNodePtr&)> root;
  // The script message `id` (or the literal text with showText) in a message box of `style`.
  std::function<int(const std::wstring& id, unsigned style)> showMessage;
  std::function<int(const std::wstring& text, unsigned style)> showText;
};

class CBasePage : public IPage {
 public:
  CBasePage(std::wstring sectionName, PageKind kind, bool showBack = true);

  std::wstring GetName() const override { return m_section; }
  std::wstring GetTitle() const override { return m_title.empty() ? m_section : m_title; }
  const std::wstring& GetSectionName() const { return m_section; }
  PageKind GetPageKind() const { return m_kind; }
  bool ShowsBack() const { return m_showBack; }
  void SetShowBack(bool show) { m_showBack = show; }

  void SetBuilds(int installedBuild, int scenarioBuild) {
    m_installedBuild = installedBuild;
    m_scenarioBuild = scenarioBuild;
  }
  int InstalledBuild() const { return m_installedBuild; }
  int ScenarioBuild() const { return m_scenarioBuild; }

  void SetServices(PageServices services) { m_services = std::move(services); }
  const PageServices& Services() const { return m_services; }

  // The page's choices: read before it is shown, written when it is left with Next or Back.
  virtual void LoadSettings() {}
  virtual void SaveSettings() {}

  // Before the page is shown: its texts are read from the language (kept by control, see
  // ControlText) and the page sets itself up from its switches and settings (InitPage).
  void OnInit() override;
  // The text the language gave the control, or `fallback` (the template's text).
  std::wstring ControlText(int controlId, const std::wstring& fallback = L"") const;
  // Whether the page's switch `key` under DIALOGS leaves the control shown.
  bool IsControlShown(const std::wstring& key) const;
  // The controls the page hides (its switches and its state); a view hides them too.
  virtual bool IsControlHidden(int controlId) const { return false; }
  virtual bool IsControlDisabled(int controlId) const { return false; }
  // Settings helpers: nothing happens without user settings.
  std::wstring GetSetting(const std::wstring& name, const std::wstring& def) const;
  int GetSettingInt(const std::wstring& name, int def) const;
  void SetSetting(const std::wstring& name, const CommonTools::Variant& value) const;
  int ShowMessage(const std::wstring& id, unsigned style) const;
  int ShowText(const std::wstring& text, unsigned style) const;
  // The control that shows the page's main text (and the run's message in its place).
  virtual int TextControl() const { return kControlText; }

  // The question asked before Cancel (the run's "MsgCancellInstallation"); without one Cancel
  // leaves at once.
  void SetCancelQuestion(std::function<bool()> ask) { m_askCancel = std::move(ask); }
  bool CanCancel() const override { return m_kind != PageKind::Finish; }
  bool ConfirmCancel() override { return !m_askCancel || m_askCancel(); }
  void OnLeave(PageButton button) override;

  // The texts of the window: the common buttons ("Common": BUTTON_CANCEL, BUTTON_BACK,
  // BUTTON_NEXT), then the page's own section (its caption and its keys, LocalizePage). The
  // title is the caption formatted with the scenario build. False when the language has no
  // section for the page.
  bool Localize(CommonTools::ILanguages& languages, ILocalizedWindow& window);
  // Whether the current language has the page's section.
  bool HasSection(CommonTools::ILanguages& languages) const;
  // The caption as the title: a format of one integer (the scenario build); a caption that
  // does not fit one integer is used as it stands, whatever its length.
  std::wstring FormatTitle(const std::wstring& caption) const;

 protected:
  // The common buttons; the language page sets its own.
  virtual void LocalizeCommon(CLocalizer& localizer, ILocalizedWindow& window);
  // Adds the page's own keys to the localiser of its section (before it is applied).
  virtual void LocalizePage(CLocalizer& localizer) {}
  // The page's own set-up after its texts are known (OnInit).
  virtual void InitPage() {}

 private:
  std::wstring m_section;
  PageKind m_kind;
  bool m_showBack;
  int m_installedBuild = 0;
  int m_scenarioBuild = 0;
  std::wstring m_title;
  std::function<bool()> m_askCancel;
  PageServices m_services;
  std::map<int, std::wstring> m_controlTexts;
};

}  // namespace InstallGui
