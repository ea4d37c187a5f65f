// What the page presenters' tests share: user settings kept in a map, a script with one or
// two languages and the page's switches, and the services a page gets from the run.
#pragma once

#include "gui/Languages.h"
#include "gui/pages/BasePage.h"
#include "package/UserSettings.h"
#include "package/LogSink.h"
#include "package/XmlSettings.h"
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace pagetest {

class MapSettings : public InstallManager::IUserSettings {
 public:
  bool Set(const std::wstring& name, const CommonTools::Variant& value) override {
    values[name] = value;
    return true;
  }
  CommonTools::Variant Get(const std::wstring& name, const CommonTools::Variant& def) override {
    auto it = values.find(name);
    return it == values.end() ? def : it->second;
  }
  std::wstring Text(const std::wstring& name) { return Get(name, L"").toString(); }
  std::map<std::wstring, CommonTools::Variant> values;
};

// A script of `languages` (language elements) and `dialogs` (children of DIALOGS).
struct PageScript {
  explicit PageScript(const std::string& languages, const std::string& dialogs = "")
      : languages([this](CommonTools::SettingsNodePtr& root) { return settings.GetRoot(root); }) {
    EXPECT_TRUE(settings.LoadFromBytes("<?xml version=\"1.0\"?><S><Localization>" + languages +
                                       "</Localization><DIALOGS>" + dialogs + "</DIALOGS></S>"));
    EXPECT_TRUE(this->languages.Load());
  }
  // The services a run hands a page; message boxes are recorded and answered OK.
  InstallGui::PageServices Services() {
    InstallGui::PageServices s;
    s.settings = &userSettings;
    s.languages = &languages;
    s.root = [this](CommonTools::SettingsNodePtr& root) { return settings.GetRoot(root); };
    s.showMessage = [this](const std::wstring& id, unsigned) {
      shown.push_back(id);
      return InstallGui::IDOK;
    };
    s.showText = [this](const std::wstring& text, unsigned) {
      shown.push_back(text);
      return InstallGui::IDOK;
    };
    return s;
  }
  CommonTools::CXmlSettings settings;
  InstallGui::GuiSettings::CLanguages languages;
  MapSettings userSettings;
  std::vector<std::wstring> shown;
};

inline std::string English(const std::string& sections) {
  return "<EN ID=\"1033\" Title=\"English\" SystemName=\"English\">" + sections + "</EN>";
}

struct LogLines {
  LogLines() {
    CommonTools::SetLogSink([this](CommonTools::LogLevel level, const std::wstring& text) {
      lines.push_back(std::to_string(static_cast<int>(level)) + " " + platform::ToUtf8(text));
    });
  }
  ~LogLines() { CommonTools::SetLogSink(nullptr); }
  bool Has(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::vector<std::string> lines;
};

// Shows the page as a back-end does: its settings, then its set-up.
inline void Show(InstallGui::CBasePage& page) {
  page.LoadSettings();
  page.OnInit();
}

}  // namespace pagetest
