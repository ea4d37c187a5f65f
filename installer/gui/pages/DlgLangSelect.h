// The language page: the script's languages by title; picking one makes it the run's language
// at once (the page, the wizard and the main window follow), and Next or Back keep its index as
// user setting "Language".
#pragma once

#include "gui/pages/BasePage.h"
#include "package/ScriptVocabulary.h"

namespace InstallGui {

inline constexpr int kLanguageText = 1022;
inline constexpr int kLanguageList = 1028;

class CDlgLangSelect : public CBasePage {
 public:
  CDlgLangSelect() : CBasePage(ScriptNames::Page::kLanguageSelection, PageKind::Language) {}

  // "Language": the index in the script's list, or the language's title (any case).
  bool SetField(const std::wstring& name, const std::wstring& value) override;
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override { return {L"Language"}; }
  std::vector<std::wstring> FieldChoices(const std::wstring& name) const override;
  int TextControl() const override { return kLanguageText; }

  // The titles in the list, and the one selected (the current language).
  std::vector<std::wstring> Titles() const;
  int Selection() const { return m_selection; }
  // The person picks an entry: it becomes the current language when it differs, and the run
  // localises its windows again (onLanguageChanged).
  void Select(int index);
  std::function<void()> onLanguageChanged;

  void LoadSettings() override;
  void SaveSettings() override;

 protected:
  void LocalizePage(CLocalizer& localizer) override {
    localizer.AddControl(L"TEXT", kLanguageText);
  }
  void InitPage() override;

 private:
  int m_selection = 0;
};

}  // namespace InstallGui
