// The manager's macro table and library list: reading them from the script, replacing macros
// in the values the steps read, the selection of libraries and their processing in a run.
#include "manager/InstallManager.h"

#include "app/Tools.h"
#include "package/ScriptVocabulary.h"
#include "platform/Machine.h"

namespace InstallManager {

using CommonTools::SettingsNodePtr;
using CommonTools::Variant;

void CInstallManager::LoadMacros(const SettingsNodePtr& root) { m_macros.Load(root); }

void CInstallManager::ExpandMacros(std::wstring& s) {
  if (s.empty()) return;
  m_macros.Expand(s, m_detectedAction, m_installedKind, {});
  // Every built-in name has percent signs: a text without one needs no look-up of the folders.
  if (s.find(L'%') == std::wstring::npos) return;
  CommonTools::BuiltinInputs in;
  if (m_userSettings) {
    in.installPath = m_userSettings->GetText(ScriptNames::Attribute::kInstallPath);
    in.projectPath = m_userSettings->GetText(ScriptNames::Attribute::kProjectPath);
    in.tolmeraPath = m_userSettings->GetText(ScriptNames::Attribute::kTolmeraPath);
  }
  in.dirName = m_product.dirName;
  in.name = m_product.name;
  if (m_installedKind == kServer || m_installedKind == kLocal || m_installedKind == kClient)
    in.installedKind = InstallTypeScriptName(m_installedKind);
  auto& languages = GetGuiTools().Languages();
  // Before the languages are loaded this is -1, the ID of a language the list does not have.
  in.languageId = languages.GetId(languages.GetCurrent());
  // Set once at set-up; before that the machine is asked.
  in.wow64 = m_processorArchitecture.empty() ? platform::CurrentConfig().IsWow64()
                                             : m_processorArchitecture == L"x64";
  in.build = m_product.build < 0 ? 0 : m_product.build;
  for (const auto& [name, value] : CommonTools::BuiltinVariables(in))
    CommonTools::ReplaceAll(s, name, value);
}

std::wstring CInstallManager::ReadAttribute(const SettingsNodePtr& node, std::wstring_view name,
                                            const std::wstring& def, bool isPath) {
  std::wstring value = CommonTools::GetText(node, name, def);
  if (!value.empty()) ExpandMacros(value);
  if (isPath)
    for (auto& c : value)
      if (c == L'/') c = L'\\';
  return value;
}

void CInstallManager::LoadLibraries(const SettingsNodePtr& root) { m_libraries.Load(root); }

void CInstallManager::SaveSelection() {
  if (m_userSettings)
    m_userSettings->Set(ScriptNames::Attribute::kSelectedLibraries,
                        Variant(m_libraries.SelectionString()));
}

void CInstallManager::ClearLibraries() {
  m_libraries.Clear();
  m_macros.Clear();
  m_scenarioLoaded = false;
}

void CInstallManager::ProcessComponents(const SettingsNodePtr& root, bool removeAll,
                                        const std::wstring& path) {
  Log(LogLevel::Info, L"ProcessComponents: start");
  if (!m_dataStorage || !root) return;
  if (!m_stepDispatcher) {
    Log(LogLevel::Warning,
        L"ProcessComponents: no step dispatcher, the libraries' steps are not run");
    return;
  }
  try {
    m_libraries.Process(
        removeAll, path, *m_stepDispatcher, [](const std::wstring& pv, const std::wstring& action) {
          Log(LogLevel::Info, L"ProcessComponents: Library = %s Action = %s", pv, action);
        });
  } catch (const CommonTools::SettingsError&) {
    // An error of the settings tree ends the processing; what was done keeps its effect.
  }
}

}  // namespace InstallManager
