#include "package/UserSettings.h"
#include "package/ScriptVocabulary.h"

namespace InstallManager {

bool CUserSettings::Node(bool create, CommonTools::SettingsNodePtr& node) {
  CommonTools::SettingsNodePtr root;
  if (!m_root || !m_root(root) || !root) return false;
  if (root->GetChild(ScriptNames::Element::kUserSettings, node)) return true;
  return create && root->CreateChild(ScriptNames::Element::kUserSettings, node);
}

bool CUserSettings::Set(const std::wstring& name, const CommonTools::Variant& value) {
  CommonTools::SettingsNodePtr node;
  return Node(true, node) && node->SetAttribute(name, value);
}

CommonTools::Variant CUserSettings::Get(const std::wstring& name, const CommonTools::Variant& def) {
  CommonTools::SettingsNodePtr node;
  if (!Node(false, node)) return def;
  return node->GetAttribute(name, def);
}

}  // namespace InstallManager
