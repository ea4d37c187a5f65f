// The registry step: the keys and values of a REGISTRY element written, removed or checked.
// Every call is one registry batch: the hives are loaded once and written once.
#include "steps/RegistryStep.h"

#include "app/Tools.h"
#include "steps/RegistryStep.h"
#include "package/NameCheck.h"
#include "package/ScriptVocabulary.h"
#include "platform/Text.h"

#include <array>

namespace InstallSteps {

namespace {

// The key path with its trailing "\" cut.
std::wstring Trimmed(std::wstring key) {
  while (!key.empty() && key.back() == L'\\') key.pop_back();
  return key;
}

// The key's parent path; empty when the key has no parent below the root.
std::wstring ParentOf(const std::wstring& key) {
  std::size_t slash = key.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : Trimmed(key.substr(0, slash));
}

}  // namespace

bool IsProtectedKey(platform::HKEY root, const std::wstring& key) {
  std::wstring path = Trimmed(key);
  if (path.find_first_not_of(L'\\') == std::wstring::npos) return true;
  if (root == platform::HKEY_CLASSES_ROOT) return false;  // its first level are the classes
  if (path.find(L'\\') == std::wstring::npos) return true;
  return platform::EqualsNoCase(path, L"SOFTWARE\\Classes") ||
         platform::EqualsNoCase(path, L"SOFTWARE\\WOW6432Node");
}

platform::LSTATUS DeleteKeyTree(platform::HKEY root, const std::wstring& key) {
  if (IsProtectedKey(root, key)) return platform::ERROR_ACCESS_DENIED;
  return platform::RegDeleteTreeW(root, Trimmed(key).c_str());
}

void RemoveEmptyParents(platform::HKEY root, const std::wstring& key,
                        const std::function<bool(const std::wstring&)>& mayRemove) {
  for (std::wstring parent = ParentOf(Trimmed(key)); !parent.empty(); parent = ParentOf(parent)) {
    if (IsProtectedKey(root, parent) || !mayRemove || !mayRemove(parent)) return;
    platform::RegKey k;
    if (k.Open(root, parent, platform::KEY_READ | platform::KEY_WRITE) != platform::ERROR_SUCCESS)
      return;
    platform::DWORD subKeys = 0, values = 0;
    if (platform::RegQueryInfoKeyW(k.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                   &values, nullptr, nullptr, nullptr,
                                   nullptr) != platform::ERROR_SUCCESS ||
        subKeys != 0 || values != 0)
      return;
    k.Close();
    if (platform::RegDeleteKeyExW(root, parent.c_str(), 0, 0) != platform::ERROR_SUCCESS) return;
  }
}

}  // namespace InstallSteps

namespace InstallSteps {

using namespace InstallManager;

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;
namespace Attribute = ScriptNames::Attribute;
namespace Element = ScriptNames::Element;
using namespace InstallSteps;

namespace {

struct RootEntry {
  const wchar_t* element;
  platform::HKEY root;
};

// clang-format off
const std::array<RootEntry, 3> kRoots = {{
    {Element::kHklm, platform::HKEY_LOCAL_MACHINE},
    {Element::kHkcu, platform::HKEY_CURRENT_USER},
    {Element::kHkcr, platform::HKEY_CLASSES_ROOT},
}};
// clang-format on

const RootEntry* FindRoot(const std::wstring& element) {
  for (const auto& r : kRoots)
    if (platform::EqualsNoCase(element, r.element)) return &r;
  return nullptr;
}

constexpr platform::REGSAM kAccess = platform::KEY_READ | platform::KEY_WRITE;

// Whether deleting `key` takes `inner` with it (the key itself or one of its parents).
bool HoldsKey(const std::wstring& key, const std::wstring& inner) {
  if (inner.empty()) return false;
  std::wstring a = key, b = inner;
  while (!a.empty() && a.back() == L'\\') a.pop_back();
  while (!b.empty() && b.back() == L'\\') b.pop_back();
  if (a.empty() || a.size() > b.size()) return false;
  return platform::EqualsNoCase(b.substr(0, a.size()), a) &&
         (b.size() == a.size() || b[a.size()] == L'\\');
}

}  // namespace

bool RegistryStep::Process(const SettingsNodePtr& container, int mode) {
  Log(LogLevel::Info, L"ProcessRegistry: start");
  if (!container) return true;
  platform::RegistryBatch batch;
  CRunLog::Batch logBatch(GetInstallTools().Log());
  try {
    SettingsNodePtr reg;
    if (!container->GetChild(Element::kRegistry, reg) || !reg) return true;
    if (m_ctx.IsIgnored(reg)) return true;
    SettingsNodeListPtr children;
    if (!reg->GetChildren(children) || !children) return true;
    const int count = children->GetCount();
    for (int i = 0; i < count; ++i) {
      SettingsNodePtr k;
      if (!children->GetItem(i, k) || !k) continue;
      const RootEntry* root = FindRoot(k->GetName());
      if (!root || m_ctx.IsIgnored(k)) continue;
      const std::wstring key = m_ctx.ReadAttribute(k, Attribute::kKeyName, L"", true);
      const std::wstring outside = CommonTools::KeyOutsideReason(key);
      if (!outside.empty()) {
        Log(LogLevel::Error, L"ProcessRegistry: KeyName \"%s\" of %s is refused: %s", key,
            k->GetName(), outside);
        continue;
      }

      if (mode == kRegistryRemove || mode == kRegistryCheck) {
        Log(LogLevel::Info, L"ProcessRegistry: key %s", key);
        if (mode == kRegistryRemove && IsProtectedKey(root->root, key)) {
          // An empty or first-level name would take a whole root (or SOFTWARE) with it.
          Log(LogLevel::Error,
              L"ProcessRegistry: key \"%s\" is not removed: it is not a key of "
              L"the product",
              key);
          continue;
        }
        if (mode == kRegistryRemove && root->root == platform::HKEY_LOCAL_MACHINE &&
            HoldsKey(key, m_ctx.CommonData().commonKey)) {
          // The family's counter of the common files outlives every single product.
          Log(LogLevel::Warning,
              L"ProcessRegistry: key %s is kept: it holds the common files' counter %s", key,
              m_ctx.CommonData().commonKey);
          continue;
        }
        platform::RegKey opened;
        const bool found = opened.Open(root->root, key, kAccess) == platform::ERROR_SUCCESS;
        opened.Close();
        if (mode == kRegistryCheck) {
          Log(LogLevel::Info,
              found ? L"ProcessRegistry: key %s is detected"
                    : L"ProcessRegistry: key %s is not detected",
              key);
          return found;
        }
        if (found && m_ctx.Guard().DeleteKeyTree(root->root, key, L"ProcessRegistry") ==
                         platform::ERROR_SUCCESS)
          Log(LogLevel::Info, L"ProcessRegistry: key %s is removed", key);
        m_ctx.Guard().RemoveEmptyParentKeys(root->root, key);
        continue;
      }

      Log(LogLevel::Info, L"ProcessRegistry: create key %s", key);
      m_ctx.Guard().NoteMissingKey(root->root, key);
      platform::RegKey opened;
      if (opened.Create(root->root, key, kAccess) != platform::ERROR_SUCCESS) continue;
      const std::wstring name = m_ctx.ReadAttribute(k, Attribute::kValueName, L"", true);
      std::wstring present;
      if (k->GetAttributeText(Attribute::kIntValue, present)) {
        const std::wstring text = m_ctx.ReadAttribute(k, Attribute::kIntValue, L"", true);
        std::uint32_t number = 0;
        if (platform::VariantToUInt32(text, number) != platform::S_OK)
          throw CommonTools::SettingsError(CommonTools::SettingsError::Code::TypeMismatch,
                                           "Type mismatch.");
        Log(LogLevel::Info, L"ProcessRegistry: %s = %i", name, static_cast<int>(number));
        opened.SetDword(name, number);
        continue;
      }
      const std::wstring text = m_ctx.ReadAttribute(k, Attribute::kTextValue, L"", true);
      Log(LogLevel::Info, L"ProcessRegistry: %s = %s", name, text);
      const std::wstring action = m_ctx.ReadAttribute(k, Attribute::kAction, L"", true);
      if (!platform::EqualsNoCase(action, ScriptNames::Value::kAdd)) {
        opened.SetString(name, text);
        continue;
      }
      // An addition: the current text of any length, its type kept (REG_EXPAND_SZ stays).
      std::wstring current;
      platform::DWORD type = platform::REG_SZ;
      if (opened.QueryString(name, current, &type) != platform::ERROR_SUCCESS) {
        current.clear();
        type = platform::REG_SZ;
      }
      if (current.find(text) == std::wstring::npos) opened.SetString(name, current + text, type);
    }
  } catch (const CommonTools::SettingsError& e) {
    // Ends the step; the keys already written stay.
    Log(LogLevel::Warning, L"ProcessRegistry: the script could not be read further: %s",
        platform::FromUtf8(e.what()));
  }
  return true;
}

void RegistryStep::Install(const SettingsNodePtr& container, const std::wstring&) {
  Process(container, kRegistryInstall);
}

void RegistryStep::Remove(const SettingsNodePtr& container, const std::wstring&) {
  Process(container, kRegistryRemove);
}

bool RegistryStep::Check(const SettingsNodePtr& container) {
  return Process(container, kRegistryCheck);
}

}  // namespace InstallSteps
