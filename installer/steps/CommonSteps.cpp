// The step framework: how the children of a container (INSTALL, a LIBRARY, ADDITIONAL) reach
// their steps, the action filter and the question of a node. The dispatcher is the table
// below; a new step is one line in it.
#include "steps/CommonSteps.h"

#include "app/Tools.h"
#include "package/ActionFilter.h"
#include "package/ScriptVocabulary.h"
#include "platform/Text.h"
#include "steps/DatabaseStep.h"
#include "steps/ExecSteps.h"
#include "steps/FolderFileSteps.h"
#include "steps/RegistryStep.h"
#include "steps/RightsStep.h"
#include "steps/ShareStep.h"
#include "steps/ShortcutSteps.h"

#include <array>

namespace InstallSteps {

using namespace InstallManager;
using CommonTools::SettingsNodeListPtr;
namespace Element = ScriptNames::Element;
namespace Attribute = ScriptNames::Attribute;

namespace {

// Which node a step receives: the child itself, or the container that holds it (the registry
// and shortcut steps read their group from the container).
enum class Hand { Child, Container };

template <class Step>
void Apply(StepContext& context, const SettingsNodePtr& node, bool remove,
           const std::wstring& basePath) {
  Step(context).Apply(node, remove, basePath);
}

using StepCall = void (*)(StepContext& context, const SettingsNodePtr& node, bool remove,
                          const std::wstring& basePath);

struct StepEntry {
  const wchar_t* element;
  StepCall step;
  Hand hand;
};

// clang-format off
const std::array<StepEntry, 9> kSteps = {{
    {Element::kDirectory,   Apply<FolderStep>,      Hand::Child},
    {Element::kFile,        Apply<FileStep>,        Hand::Child},
    {Element::kRegistry,    Apply<RegistryStep>,    Hand::Container},
    {Element::kShortcuts,   Apply<ShortcutsStep>,   Hand::Container},
    {Element::kAssociation, Apply<AssociationStep>, Hand::Child},
    {Element::kExec,        Apply<ExecStep>,        Hand::Child},
    {Element::kRights,      Apply<RightsStep>,      Hand::Child},
    {Element::kShare,       Apply<ShareStep>,       Hand::Child},
    {Element::kDatabase,    Apply<DatabaseStep>,    Hand::Child},
}};
// clang-format on

const StepEntry* FindStep(const std::wstring& element) {
  for (const auto& s : kSteps)
    if (platform::EqualsNoCase(element, s.element)) return &s;
  return nullptr;
}

}  // namespace

void DispatchSteps(StepContext& context, const SettingsNodePtr& container, bool remove,
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
      step->step(context, step->hand == Hand::Child ? child : container, remove, basePath);
    }
  } catch (const CommonTools::SettingsError& e) {
    // Ends this walk; the children already processed keep their effect.
    Log(LogLevel::Warning, L"CommonSteps: the script could not be read further: %s",
        platform::FromUtf8(e.what()));
  }
}

bool StepContext::IsIgnored(const SettingsNodePtr& node) {
  std::wstring value = ReadAttribute(node, Attribute::kIgnoreFor, L"", true);
  if (value.empty()) return false;
  return CommonTools::MatchesIgnoreFor(value, DetectedAction(), InstalledKind());
}

bool StepContext::AskUser(const SettingsNodePtr& node) {
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

}  // namespace InstallSteps
