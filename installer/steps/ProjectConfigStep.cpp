// The project configuration update: the product's configuration file brought in line with the
// run, either by the attribute changes of INSTALL / CFG / CHANGE or by rewriting its list of
// installed libraries from the selection.
#include "steps/ProjectConfigStep.h"

#include "app/Tools.h"
#include "package/ScriptVocabulary.h"
#include "package/XmlSettings.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "steps/FileUtilities.h"

#include <vector>

namespace InstallSteps {

using namespace InstallManager;

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;
using CommonTools::Variant;
namespace Attribute = ScriptNames::Attribute;
namespace Element = ScriptNames::Element;

namespace {

constexpr const wchar_t* kGeneral = L"GENERAL";
constexpr const wchar_t* kLibrariesTag = L"General\\Libraries";
constexpr const wchar_t* kLibraryEntry = L"Library";
constexpr const wchar_t* kTag = L"Tag";
constexpr const wchar_t* kAttr = L"Attr";
constexpr const wchar_t* kDb = L"DB";
constexpr const wchar_t* kSystemType = L"system";

// A name an element or attribute of the written file can carry.
bool IsXmlName(const std::wstring& name) {
  if (name.empty() || name.size() > 255) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    wchar_t c = name[i];
    bool letter =
        (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || c == L'_' || c == L':' || c >= 0xC0;
    bool more = (c >= L'0' && c <= L'9') || c == L'-' || c == L'.';
    if (!(letter || (i > 0 && more))) return false;
  }
  return true;
}

std::vector<std::wstring> TagParts(const std::wstring& tag) {
  std::vector<std::wstring> parts;
  std::size_t b = 0;
  for (std::size_t i = 0; i <= tag.size(); ++i)
    if (i == tag.size() || tag[i] == L'\\') {
      if (i > b) parts.push_back(tag.substr(b, i - b));
      b = i + 1;
    }
  return parts;
}

// The first child of `list` named "Library" whose "ID" is `id`, or -1. An "ID" that is no number
// raises SettingsError.
int FindLibraryEntry(const SettingsNodeListPtr& list, int id, SettingsNodePtr& entry) {
  for (int i = 0; list && i < list->GetCount(); ++i) {
    SettingsNodePtr child;
    if (!list->GetItem(i, child) || !child) continue;
    if (!platform::EqualsNoCase(child->GetName(), kLibraryEntry)) continue;
    if (child->GetAttribute(Attribute::kId, Variant(0)).toInt() == id) {
      entry = child;
      return i;
    }
  }
  return -1;
}

}  // namespace

bool ProjectConfigStep::ChangeTags(const std::wstring& path) {
  bool librariesAsked = false, changeFound = false, changed = false, failed = false;
  try {
    SettingsNodePtr root, install, cfg;
    SettingsNodeListPtr changes;
    if (!GetInstallTools().GetScriptRoot(root) || !root->GetChild(Element::kInstall, install) ||
        !install || !install->GetChild(Element::kCfg, cfg) || !cfg || !cfg->GetChildren(changes) ||
        !changes)
      return false;
    CommonTools::CXmlSettings file;
    SettingsNodePtr fileRoot;
    if (!file.Load(path) || !file.GetRoot(fileRoot) || !fileRoot) return false;
    for (int i = 0; i < changes->GetCount(); ++i) {
      SettingsNodePtr change;
      if (!changes->GetItem(i, change) || !change) {
        failed = true;
        continue;
      }
      if (!platform::EqualsNoCase(change->GetName(), Element::kCfgChange)) continue;
      const std::wstring tag = m_ctx.ReadAttribute(change, kTag, L"", true);
      if (platform::EqualsNoCase(tag, kLibrariesTag)) {
        librariesAsked = true;
        continue;
      }
      const std::wstring attr = m_ctx.ReadAttribute(change, kAttr, L"", false);
      if (tag.empty() && attr.empty()) continue;
      changeFound = true;
      SettingsNodePtr node = fileRoot;
      bool reached = true;
      for (const std::wstring& part : TagParts(tag)) {
        SettingsNodePtr next;
        if (node->GetChild(part, next) && next) {
          node = next;
          continue;
        }
        if (!IsXmlName(part) || !node->CreateChild(part, next) || !next) {
          Log(LogLevel::Warning, L"ChangeTagsProductConfig: tag %s cannot be made in %s", tag,
              path);
          reached = false;
          break;
        }
        node = next;
        changed = true;
      }
      if (!reached) {
        failed = true;
        continue;
      }
      if (attr.empty()) continue;
      if (!IsXmlName(attr)) {
        Log(LogLevel::Warning, L"ChangeTagsProductConfig: attribute %s cannot be set in %s", attr,
            path);
        failed = true;
        continue;
      }
      std::wstring value = m_ctx.ReadAttribute(change, Attribute::kValue, L"", false);
      m_ctx.ExpandMacros(value);
      const std::wstring current = m_ctx.ReadAttribute(node, attr, L"", false);
      if (!current.empty() && platform::EqualsNoCase(current, value)) continue;
      node->RemoveAttribute(attr);
      if (!node->SetAttribute(attr, Variant(value))) failed = true;
      changed = true;
    }
    if (changed) {
      Log(LogLevel::Info, L"ChangeTagsProductConfig: save %s", path);
      if (!file.Save(path)) failed = true;
    }
  } catch (const CommonTools::SettingsError&) {
    failed = true;
  }
  if (librariesAsked || !changeFound) return false;
  return !failed;
}

void ProjectConfigStep::Install(const SettingsNodePtr& root, const std::wstring& installPath) {
  Log(LogLevel::Info, L"ProcessUpdateProjectConfig: start");
  const std::wstring& config = m_ctx.CommonData().cfgPath;
  if (config.empty()) {
    Log(LogLevel::Info, L"ProcessUpdateProjectConfig: Finish Config file is not set in scenario");
    return;
  }
  // A relative name is the file below the product folder, not below whatever folder the
  // installer was started in.
  const std::wstring scriptPath =
      platform::PathIsRelativeW(config) ? CombinePath(installPath, config) : config;
  if (scriptPath.empty() || !IsFileExists(scriptPath)) {
    Log(LogLevel::Info, L"ProcessUpdateProjectConfig: Config file %s is not found", config);
    return;
  }
  SettingsNodePtr scriptLibraries;
  const bool hasLibraries =
      root && root->GetChild(Element::kLibraries, scriptLibraries) && scriptLibraries;
  if (!hasLibraries)
    Log(LogLevel::Info, L"ProcessUpdateProjectConfig: tag LIBRARIES is not detected in scenario");
  const std::wstring path = CombinePath(installPath, config);
  Log(LogLevel::Info, L"ProcessUpdateProjectConfig: Update file %s", path);
  if (path.empty() || !IsFileExists(path)) return;
  Log(LogLevel::Info, L"ProcessUpdateProjectConfig: File %s is found", path);
  if (ChangeTags(path)) {
    Log(LogLevel::Info, L"ProcessUpdateProjectConfig: detected tags <CFG\\Change>");
    return;
  }

  CommonTools::CXmlSettings file;
  bool modified = false;
  SettingsNodePtr fileRoot, general, libraries;
  SettingsNodeListPtr rootChildren, generalChildren, entries;
  try {
    if (!file.Load(path) || !file.GetRoot(fileRoot) || !fileRoot ||
        !fileRoot->GetChildren(rootChildren) || !rootChildren ||
        rootChildren->FindFirst(kGeneral, general) < 0 || !general) {
      Log(LogLevel::Info,
          L"ProcessUpdateProjectConfig: File %s is not correct (tag GENERAL is not found)", path);
      return;
    }
    if (general->GetChildren(generalChildren) && generalChildren &&
        generalChildren->FindFirst(Element::kLibraries, libraries) < 0)
      libraries.reset();
    if (hasLibraries) {
      Log(LogLevel::Info, L"ProcessUpdateProjectConfig: try get teg LIBRARIES");
      if (!libraries) {
        Log(LogLevel::Info, L"ProcessUpdateProjectConfig: create LIBRARIES");
        if (!general->CreateChild(Element::kLibraries, libraries)) libraries.reset();
      }
      if (!libraries || !libraries->GetChildren(entries)) entries.reset();
    } else if (libraries) {
      Log(LogLevel::Info, L"ProcessUpdateProjectConfig: delete teg LIBRARIES from %s", path);
      general->RemoveChild(libraries);
      modified = true;
    }
  } catch (const CommonTools::SettingsError&) {
    return;
  }

  for (int i = 0; hasLibraries && entries && i < m_ctx.Components().Count(); ++i) {
    Log(LogLevel::Info, L"ProcessUpdateProjectConfig: cycle by libraries");
    CommonTools::LibraryRecord library;
    if (!m_ctx.Components().Get(i, library)) continue;
    try {
      // The list is taken again for each library: entries may have gone or come.
      if (!libraries->GetChildren(entries) || !entries) continue;
      SettingsNodePtr entry;
      const int at = FindLibraryEntry(entries, library.ID, entry);
      if (!library.selected) {
        if (at < 0) continue;
        Log(LogLevel::Info, L"ProcessUpdateProjectConfig: Library %i is not selected", library.ID);
        libraries->RemoveChild(entry);
        modified = true;
        continue;
      }
      if (at >= 0) continue;  // an existing entry is left as it is
      modified = true;
      if (!libraries->CreateChild(Element::kLibrary, entry) || !entry) continue;
      entry->SetAttribute(Attribute::kId, Variant(library.ID));
      entry->SetAttribute(Attribute::kPv, Variant(library.PV));
      entry->SetAttribute(Attribute::kTitle, Variant(library.Caption));
      Log(LogLevel::Info, L"ProcessUpdateProjectConfig: Library %s is updated", library.Caption);
      SettingsNodeListPtr steps;
      if (!library.node || !library.node->GetChildren(steps) || !steps) continue;
      for (int s = 0; s < steps->GetCount(); ++s) {
        SettingsNodePtr step;
        if (!steps->GetItem(s, step) || !step) continue;
        const std::wstring name = step->GetName();
        if (platform::EqualsNoCase(name, Element::kDirectory)) {
          entry->SetAttribute(
              Attribute::kPath,
              Variant(L"..\\" + m_ctx.ReadAttribute(step, Attribute::kName, L"", true)));
        } else if (platform::EqualsNoCase(name, Element::kDatabase)) {
          const std::wstring dsn = m_ctx.ReadAttribute(step, Attribute::kDsn, L"", true);
          const std::wstring db = m_ctx.ReadAttribute(step, Attribute::kFile, L"", true);
          const std::wstring type = m_ctx.ReadAttribute(step, Attribute::kType, L"", true);
          const bool system = platform::EqualsNoCase(type, kSystemType);
          if (!dsn.empty())
            entry->SetAttribute(system ? Attribute::kDsnSystem : Attribute::kDsn, Variant(dsn));
          if (!db.empty()) entry->SetAttribute(system ? Attribute::kDbSystem : kDb, Variant(db));
        }
      }
    } catch (const CommonTools::SettingsError&) {
      // This library's entry stays as far as it got; the next library is treated.
    }
  }
  if (modified) {
    Log(LogLevel::Info, L"ProcessUpdateProjectConfig: save %s", path);
    file.Save(path);
  }
}

}  // namespace InstallSteps
