// The step framework: how the children of a container (INSTALL, a LIBRARY, ADDITIONAL) reach
// their steps, the action filter, the question of a node and the scheduling of folders and
// files. The dispatcher is the table below; a new step is one line in it.
#include "manager/InstallManager.h"

#include "app/Tools.h"
#include "package/ActionFilter.h"
#include "package/NameCheck.h"
#include "package/ScriptVocabulary.h"
#include "platform/Text.h"
#include "steps/RegistryStep.h"

#include <array>

namespace InstallManager {

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;
using InstallSteps::SetupEntry;
namespace Element = ScriptNames::Element;
namespace Attribute = ScriptNames::Attribute;

namespace {

// Which node a step receives: the child itself, or the container that holds it (the registry
// and shortcut steps read their group from the container).
enum class Hand { Child, Container };

// The registry step's mode for a pass of the dispatcher.
int Mode(bool remove) {
  return remove ? InstallSteps::kRegistryRemove : InstallSteps::kRegistryInstall;
}

using StepCall = void (*)(CInstallManager& m, const SettingsNodePtr& node, bool remove,
                          const std::wstring& basePath);

struct StepEntry {
  const wchar_t* element;
  StepCall step;
  Hand hand;
};

// clang-format off
const std::array<StepEntry, 9> kSteps = {{
    {Element::kDirectory,   [](CInstallManager& m, const SettingsNodePtr& n, bool r, const std::wstring&)   { m.CommonStepScheduleFolder(n, r); },    Hand::Child},
    {Element::kFile,        [](CInstallManager& m, const SettingsNodePtr& n, bool r, const std::wstring&)   { m.CommonStepFile(n, r); },              Hand::Child},
    {Element::kRegistry,    [](CInstallManager& m, const SettingsNodePtr& n, bool r, const std::wstring&)   { m.ProcessRegistry(n, Mode(r)); },       Hand::Container},
    {Element::kShortcuts,   [](CInstallManager& m, const SettingsNodePtr& n, bool r, const std::wstring& b) { m.ProcessShortcuts(n, r, b); },         Hand::Container},
    {Element::kAssociation, [](CInstallManager& m, const SettingsNodePtr& n, bool r, const std::wstring& b) { m.CommonStepAssociation(n, r, b); },    Hand::Child},
    {Element::kExec,        [](CInstallManager& m, const SettingsNodePtr& n, bool r, const std::wstring&)   { m.CommonStepExec(n, r); },              Hand::Child},
    {Element::kRights,      [](CInstallManager& m, const SettingsNodePtr& n, bool r, const std::wstring& b) { m.CommonStepRights(n, r, b); },         Hand::Child},
    {Element::kShare,       [](CInstallManager& m, const SettingsNodePtr& n, bool r, const std::wstring& b) { m.CommonStepShare(n, r, b); },          Hand::Child},
    {Element::kDatabase,    [](CInstallManager& m, const SettingsNodePtr& n, bool r, const std::wstring& b) { m.CommonStepDatabase(n, r, b); },       Hand::Child},
}};
// clang-format on

const StepEntry* FindStep(const std::wstring& element) {
  for (const auto& s : kSteps)
    if (platform::EqualsNoCase(element, s.element)) return &s;
  return nullptr;
}

// A scheduled entry read from its node; false (with a level-0 line) for a node whose name is
// empty, which would stand for the whole target folder.
bool ReadEntry(CInstallManager& m, const SettingsNodePtr& node, const wchar_t* step,
               const wchar_t* what, SetupEntry& entry, std::wstring& type) {
  entry.name = m.ReadAttribute(node, Attribute::kName, L"", true);
  type = m.ReadAttribute(node, Attribute::kType, L"", true);
  entry.access = m.ReadAttribute(node, Attribute::kAccess, L"", true);
  entry.overwrite = m.ReadAttribute(node, Attribute::kOverwrite, L"", true);
  entry.target = m.ReadAttribute(node, Attribute::kTarget, L"", true);
  entry.backupFiles = m.ReadAttribute(node, Attribute::kBackupFiles, L"", true);
  if (entry.name.find_first_not_of(L" \\.") == std::wstring::npos) {
    Log(LogLevel::Error,
        L"%s: a %s without a Name (\"%s\") would stand for the whole installation folder and is "
        L"skipped",
        std::wstring(step), std::wstring(what), entry.name);
    return false;
  }
  // A name that is absolute, climbs or names a device would put the entry, and its removal,
  // outside the folder it belongs to.
  // The family's common files may lie one level up, beside the product folder.
  entry.common = platform::EqualsNoCase(type, ScriptNames::Value::kCommonType);
  for (const auto& [attribute, value] :
       {std::pair<const wchar_t*, const std::wstring*>{Attribute::kName, &entry.name},
        std::pair<const wchar_t*, const std::wstring*>{Attribute::kTarget, &entry.target}}) {
    // A full path as Target places the entry in the family's data folder; the steps keep it
    // there (EntryBound).
    const bool target = value == &entry.target;
    const std::wstring reason =
        CommonTools::NameOutsideReason(*value, target && entry.common ? 1 : 0, target);
    if (reason.empty()) continue;
    Log(LogLevel::Error, L"%s: %s \"%s\" of a %s is refused: %s", std::wstring(step),
        std::wstring(attribute), *value, std::wstring(what), reason);
    return false;
  }
  return true;
}

}  // namespace

void CInstallManager::CommonSteps(const SettingsNodePtr& container, bool remove,
                                  const std::wstring& basePath) {
  Log(LogLevel::Info, L"CommonSteps: start");
  if (!container) return;
  try {
    SettingsNodeListPtr children;
    if (!container->GetChildren(children) || !children) return;
    const int count = children->GetCount();
    for (int i = 0; i < count; ++i) {
      SettingsNodePtr child;
      if (!children->GetItem(i, child) || !child) continue;
      std::wstring name = child->GetName();
      Log(LogLevel::Info, L"CommonSteps: node = %s", name);
      const StepEntry* step = FindStep(name);
      if (!step) continue;
      step->step(*this, step->hand == Hand::Child ? child : container, remove, basePath);
    }
  } catch (const CommonTools::SettingsError& e) {
    // Ends this walk; the children already processed keep their effect.
    Log(LogLevel::Warning, L"CommonSteps: the script could not be read further: %S",
        std::string(e.what()));
  }
}

bool CInstallManager::IsIgnored(const SettingsNodePtr& node) {
  std::wstring value = ReadAttribute(node, Attribute::kIgnoreFor, L"", true);
  if (value.empty()) return false;
  return CommonTools::MatchesIgnoreFor(value, m_detectedAction, m_installedKind);
}

bool CInstallManager::AskUser(const SettingsNodePtr& node) {
  std::wstring key = ReadAttribute(node, Attribute::kAskKey, L"", true);
  if (key.empty()) return true;
  std::wstring text = GetGuiTools().GetMessage(key);
  if (text.empty()) return true;
  if (GetGuiTools().ShowBox(key, text, InstallGui::MB_YESNO) == InstallGui::IDYES) {
    Log(LogLevel::Info, L"Ask = %s Press YES", text);
    return true;
  }
  Log(LogLevel::Info, L"Ask = %s Press No", text);
  return false;
}

void CInstallManager::CommonStepScheduleFolder(const SettingsNodePtr& node, bool remove) {
  if (IsIgnored(node)) return;
  SetupEntry entry;
  std::wstring type;
  if (!ReadEntry(*this, node, L"CommonStepScheduleFolder", L"DIRECTORY", entry, type)) return;
  if (platform::EqualsNoCase(type, ScriptNames::Value::kCommonType)) {
    Log(LogLevel::Info, L"CommonStepScheduleFolder: Folder = %s common", entry.name);
    m_scheduled.commonFolders.push_back(std::move(entry));
  } else if (remove) {
    Log(LogLevel::Info, L"CommonStepScheduleFolder: Folder = %s remove", entry.name);
    m_scheduled.removeFolders.push_back(std::move(entry));
  } else {
    Log(LogLevel::Info, L"CommonStepScheduleFolder: Folder = %s", entry.name);
    m_scheduled.installFolders.push_back(std::move(entry));
  }
}

void CInstallManager::CommonStepFile(const SettingsNodePtr& node, bool remove) {
  if (IsIgnored(node)) return;
  SetupEntry entry;
  std::wstring type;
  if (!ReadEntry(*this, node, L"CommonStepFile", L"FILE", entry, type)) return;
  if (platform::EqualsNoCase(type, ScriptNames::Value::kCommonType)) {
    Log(LogLevel::Info, L"CommonStepFile: File = %s common", entry.name);
    m_scheduled.commonFiles.push_back(std::move(entry));
  } else if (remove) {
    Log(LogLevel::Info, L"CommonStepFile: File = %s remove", entry.name);
    m_scheduled.removeFiles.push_back(std::move(entry));
  } else {
    Log(LogLevel::Info, L"CommonStepFile: File = %s", entry.name);
    m_scheduled.installFiles.push_back(std::move(entry));
  }
}

}  // namespace InstallManager
