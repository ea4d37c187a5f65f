// The wizard pages that settle the action, as the run sees them: a page has its section name,
// the values it lets the user set and writes them into the user settings when it is left with
// Next or Back (never with Cancel).
//
// These are the pages' presenters in their least form: each offers the choices the run needs
// (the language, the install type, the action, the components) as plain named values. The
// pages' own windows, texts and checks replace them in their own stage.
#pragma once

#include "gui/pages/BasePage.h"
#include "manager/UserSettings.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace CommonTools {
class ILanguages;
}

namespace InstallManager {

class CPage : public InstallGui::CBasePage {
 public:
  CPage(std::wstring name, IUserSettings* settings)
      : CBasePage(name, PageKindOf(name)), m_settings(settings) {}
  // The kind of the page with this section name (None for a name no page has).
  static InstallGui::PageKind PageKindOf(const std::wstring& sectionName);

  bool SetField(const std::wstring& name, const std::wstring& value) override;
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override;
  std::vector<std::wstring> FieldChoices(const std::wstring& name) const override;

  // A choice among integer values (install types, languages): accepted as a number or, for
  // install types, as a script name.
  void AddChoice(const std::wstring& field, std::set<int> allowed, bool installTypeNames);
  // A free text value.
  void AddText(const std::wstring& field);
  // Reads the current values from the user settings (done before the page is shown).
  void LoadSettings() override;
  // Writes the values set into the user settings (on Next and Back).
  void SaveSettings() override;

  // Called after the values are stored on Next or Back (the language page makes its language
  // current).
  std::function<void(CPage&)> onSaved;

 protected:
  // The page's text ("TEXT") in the page's window.
  void LocalizePage(InstallGui::CLocalizer& localizer) override;

 private:
  struct Field {
    bool isChoice = false;
    std::set<int> allowed;
    bool installTypeNames = false;
    std::wstring value;
    bool set = false;
  };
  IUserSettings* m_settings;
  std::vector<std::wstring> m_order;
  std::map<std::wstring, Field> m_fields;
};

using PagePtr = std::shared_ptr<CPage>;

}  // namespace InstallManager
