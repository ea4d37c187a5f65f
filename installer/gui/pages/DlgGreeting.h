// The greeting, the first page of a fresh installation: its section's text and nothing to
// choose; no Back.
#pragma once

#include "gui/pages/BasePage.h"
#include "package/ScriptVocabulary.h"

namespace InstallGui {

inline constexpr int kGreetingText = 102;

class CDlgGreeting : public CBasePage {
 public:
  CDlgGreeting() : CBasePage(ScriptNames::Page::kGreeting, PageKind::Greeting, false) {}
  bool SetField(const std::wstring&, const std::wstring&) override { return false; }
  std::wstring GetField(const std::wstring&) const override { return L""; }
  std::vector<std::wstring> FieldNames() const override { return {}; }
  int TextControl() const override { return kGreetingText; }

 protected:
  void LocalizePage(CLocalizer& localizer) override {
    localizer.AddControl(L"TEXT", kGreetingText);
  }
};

}  // namespace InstallGui
