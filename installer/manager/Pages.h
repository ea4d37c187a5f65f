// The wizard pages that settle the action, as the run sees them: a page has its section name,
// the values it lets the user set and writes them into the user settings when it is left with
// Next or Back (never with Cancel).
//
// These are the pages' presenters in their least form: each offers the choices the run needs
// (the language, the install type, the action, the components) as plain named values. The
// pages' own windows, texts and checks replace them in their own stage.
#pragma once

#include "gui/UiBackend.h"
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

class CPage : public InstallGui::IPage {
 public:
  CPage(std::wstring name, IUserSettings* settings)
      : m_name(std::move(name)), m_settings(settings) {}

  std::wstring GetName() const override { return m_name; }
  bool SetField(const std::wstring& name, const std::wstring& value) override;
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override;
  void OnLeave(InstallGui::PageButton button) override;

  void SetBuilds(int installedBuild, int scenarioBuild) {
    m_installedBuild = installedBuild;
    m_scenarioBuild = scenarioBuild;
  }
  int InstalledBuild() const { return m_installedBuild; }
  int ScenarioBuild() const { return m_scenarioBuild; }

  // A choice among integer values (install types, languages): accepted as a number or, for
  // install types, as a script name.
  void AddChoice(const std::wstring& field, std::set<int> allowed, bool installTypeNames);
  // A free text value.
  void AddText(const std::wstring& field);
  // Reads the current values from the user settings (done before the page is shown).
  void LoadSettings();

  // Called after the values are stored on Next or Back (the language page makes its language
  // current).
  std::function<void(CPage&)> onSaved;

 private:
  struct Field {
    bool isChoice = false;
    std::set<int> allowed;
    bool installTypeNames = false;
    std::wstring value;
    bool set = false;
  };
  std::wstring m_name;
  IUserSettings* m_settings;
  std::vector<std::wstring> m_order;
  std::map<std::wstring, Field> m_fields;
  int m_installedBuild = 0;
  int m_scenarioBuild = 0;
};

using PagePtr = std::shared_ptr<CPage>;

}  // namespace InstallManager
