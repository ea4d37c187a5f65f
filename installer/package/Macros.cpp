#include "package/Macros.h"

#include "package/ActionFilter.h"
#include "package/ScriptVocabulary.h"
#include "package/XmlSettings.h"
#include "platform/ShellFolders.h"

namespace CommonTools {

namespace {

std::wstring SpecialFolder(int csidl) {
  std::wstring path;
  if (!platform::SHGetSpecialFolderPathW(nullptr, path, csidl, false)) path.clear();
  return path;
}

}  // namespace

std::vector<BuiltinVariable> BuiltinVariables(const BuiltinInputs& in) {
  std::vector<BuiltinVariable> v;
  v.reserve(17);
  v.emplace_back(L"%ProductDirName%", in.installPath.empty() ? in.tolmeraPath : in.projectPath);
  v.emplace_back(L"%ProjectDirName%", in.dirName);
  v.emplace_back(L"%ProjectName%", in.name);
  v.emplace_back(L"%DestinationDir%", in.installPath);
  v.emplace_back(L"%InstallType%", in.installedKind);
  v.emplace_back(L"%LanguageID%", std::to_wstring(in.languageId));
  v.emplace_back(L"%COMMON_APPDATA%", SpecialFolder(platform::CSIDL_COMMON_APPDATA));
  v.emplace_back(L"%USER_APPDATA%", SpecialFolder(platform::CSIDL_LOCAL_APPDATA));
  v.emplace_back(L"%COMMON_DOCUMENTS%", SpecialFolder(platform::CSIDL_COMMON_DOCUMENTS));
  v.emplace_back(L"%USER_DOCUMENTS%", SpecialFolder(platform::CSIDL_PERSONAL));
  v.emplace_back(L"%PROGRAM_FILES%", SpecialFolder(platform::CSIDL_PROGRAM_FILES));
  v.emplace_back(L"%WINDOWS%", SpecialFolder(platform::CSIDL_WINDOWS));
  v.emplace_back(L"%SYSTEM%", SpecialFolder(platform::CSIDL_SYSTEM));
  v.emplace_back(L"%PROCESSOR_ARCHITECTURE%", in.wow64 ? L"x64" : L"x32");
  v.emplace_back(L"%CAPACITY_OS%", in.wow64 ? L"64" : L"32");
  v.emplace_back(L"%BUILD%", std::to_wstring(in.build));
  v.emplace_back(L"%COMMON FILES%", L"");
  return v;
}

size_t ReplaceAll(std::wstring& s, const std::wstring& name, const std::wstring& value) {
  if (name.empty()) return 0;
  size_t count = 0;
  size_t pos = s.find(name);
  while (pos != std::wstring::npos) {
    s.replace(pos, name.size(), value);
    ++count;
    pos = s.find(name, pos + value.size());
  }
  return count;
}

void CMacroTable::Load(const SettingsNodePtr& root) {
  m_entries.clear();
  SettingsNodePtr macros;
  if (!root || !root->GetChild(ScriptNames::Element::kMacros, macros)) return;
  SettingsNodeListPtr list;
  if (!macros->GetChildren(list)) return;
  SettingsNodePtr item;
  for (int i = list->Find(ScriptNames::Element::kMacro, 0, item); i >= 0;
       i = list->Find(ScriptNames::Element::kMacro, i + 1, item)) {
    MacroEntry e;
    e.Name = GetText(item, ScriptNames::Attribute::kName);
    e.Value = GetText(item, ScriptNames::Attribute::kValue);
    e.IgnoreFor = GetText(item, ScriptNames::Attribute::kIgnoreFor);
    m_entries.push_back(std::move(e));
  }
}

void CMacroTable::Expand(std::wstring& s, int action, int kind,
                         const std::vector<BuiltinVariable>& builtins) const {
  if (s.empty()) return;
  auto ignored = [&](const MacroEntry& e) {
    return !e.IgnoreFor.empty() && MatchesIgnoreFor(e.IgnoreFor, action, kind);
  };
  for (const auto& e : m_entries)
    if (!ignored(e)) ReplaceAll(s, e.Name, e.Value);
  for (const auto& e : m_entries)
    if (ignored(e)) ReplaceAll(s, e.Name, L"");
  for (const auto& [name, value] : builtins) ReplaceAll(s, name, value);
}

}  // namespace CommonTools
