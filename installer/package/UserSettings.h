// The user's choices: named values kept as attributes of the script's "UserSettings" element
// (created on first use), so that they travel with the script into the uninstall package.
#pragma once

#include "package/Settings.h"

#include <functional>
#include <string>

namespace InstallManager {

class IUserSettings {
 public:
  virtual ~IUserSettings() = default;
  virtual bool Set(const std::wstring& name, const CommonTools::Variant& value) = 0;
  virtual CommonTools::Variant Get(const std::wstring& name, const CommonTools::Variant& def) = 0;
};

class CUserSettings : public IUserSettings {
 public:
  // `root` hands out the script's root element when asked (the script may be reloaded).
  using RootProvider = std::function<bool(CommonTools::SettingsNodePtr&)>;
  explicit CUserSettings(RootProvider root) : m_root(std::move(root)) {}

  bool Set(const std::wstring& name, const CommonTools::Variant& value) override;
  CommonTools::Variant Get(const std::wstring& name, const CommonTools::Variant& def) override;

  // Typed reads: an integer setting whose text is not a number raises SettingsError.
  int GetInt(const std::wstring& name, int def) { return Get(name, def).toInt(); }
  std::wstring GetText(const std::wstring& name, const std::wstring& def = L"") {
    return Get(name, def).toString();
  }

 private:
  bool Node(bool create, CommonTools::SettingsNodePtr& node);
  RootProvider m_root;
};

}  // namespace InstallManager
