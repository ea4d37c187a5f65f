#include "package/ScriptFormat.h"

#include "package/ScriptVocabulary.h"
#include "platform/Text.h"

namespace CommonTools::Script {

namespace A = ScriptNames::Attribute;
namespace E = ScriptNames::Element;

bool ReadProductDescription(const SettingsNodePtr& root, ProductDescription& d,
                            std::wstring& error) {
  if (!root) {
    error = L"the script has no root element";
    return false;
  }
  try {
    d.name = GetText(root, A::kName);
    d.pv = GetText(root, A::kPv);
    d.regKey = GetText(root, A::kRegKey);
    d.versionText = GetText(root, A::kVersion);
    d.version = platform::wtol(d.versionText);
    d.installType = GetText(root, A::kInstallType);
    d.build = GetInt(root, A::kBuild, 0);
    d.dirName = GetText(root, A::kDirName);
    d.language = GetInt(root, A::kLanguage, 0);
  } catch (const SettingsError& e) {
    error = platform::FromUtf8(e.what());
    return false;
  }
  return true;
}

void ReadCommonInfo(const SettingsNodePtr& root, const PathAttributeReader& read,
                    CommonInfo& info) {
  SettingsNodePtr install, cfg, file, common;
  if (!root || !root->GetChild(E::kInstall, install)) return;
  if (install->GetChild(E::kCfg, cfg) && cfg->GetChild(E::kCfgFile, file))
    info.cfgPath = read(file, A::kPath);
  if (!install->GetChild(E::kCommonInfo, common)) return;
  info.productsFile = read(common, A::kFile);
  info.logFile = read(common, A::kLog);
  std::wstring key = read(common, A::kRegKeyInstall);
  if (!key.empty()) info.commonKey = key;
  SplitProjectPath(read(common, A::kRegKeyProjectPath), info.projectPathKey, info.projectPathValue);
}

bool SplitProjectPath(const std::wstring& text, std::wstring& key, std::wstring& valueName) {
  if (text.empty()) return false;
  size_t slash = text.rfind(L'\\');
  if (slash == std::wstring::npos) {
    key = valueName = text;
    return true;
  }
  if (slash == 0) return false;
  valueName = text.substr(slash + 1);
  key = text.substr(0, slash - 1);
  return true;
}

}  // namespace CommonTools::Script
