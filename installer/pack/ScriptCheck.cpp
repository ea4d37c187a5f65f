#include "pack/ScriptCheck.h"

#include "package/NameCheck.h"
#include "package/ActionFilter.h"
#include "package/DataStorage.h"
#include "package/Libraries.h"
#include "package/Macros.h"
#include "package/ScriptFormat.h"
#include "package/ScriptVocabulary.h"
#include "package/XmlSettings.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <functional>
#include <map>
#include <optional>

namespace TlPack {

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;
namespace Element = ScriptNames::Element;
namespace Attribute = ScriptNames::Attribute;

namespace {

std::wstring Backslashes(std::wstring name) {
  std::replace(name.begin(), name.end(), L'/', L'\\');
  while (name.rfind(L".\\", 0) == 0) name.erase(0, 2);
  while (!name.empty() && name.front() == L'\\') name.erase(0, 1);
  return name;
}

bool IsElement(const SettingsNodePtr& node) {
  std::wstring name = node->GetName();
  return !name.empty() && name[0] != L'#' && name != L"xml";
}

// The element children of a node, in document order.
std::vector<SettingsNodePtr> Elements(const SettingsNodePtr& node) {
  std::vector<SettingsNodePtr> out;
  SettingsNodeListPtr list;
  if (!node || !node->GetChildren(list)) return out;
  for (int i = 0, n = list->GetCount(); i < n; ++i) {
    SettingsNodePtr item;
    if (list->GetItem(i, item) && IsElement(item)) out.push_back(item);
  }
  return out;
}

bool OneOf(const std::wstring& name, const auto& names) {
  for (const wchar_t* n : names)
    if (platform::EqualsNoCase(name, n)) return true;
  return false;
}

// An attribute as it stands in the text of an element's start tag.
struct SourceAttribute {
  std::wstring name;
  long offset = 0;  // of its name
};

class Checker {
 public:
  explicit Checker(const PackageContents& contents) : m_contents(contents) {}

  std::vector<Diagnostic> Run(const std::string& bytes) {
    if (!m_doc.LoadFromBytes(bytes)) {
      ReportParseError(m_doc.LastError());
      return Sorted();
    }
    m_text = &m_doc.SourceText();
    IndexLines();
    SettingsNodePtr root;
    if (!CheckRoot(root)) return Sorted();
    CheckProduct(root);
    CheckElementsAndAttributes(root, L"");
    LoadMacros(root);
    CheckMacroUses(root, false);
    CheckContainers(root);
    CheckLibraries(root);
    CheckPackageFiles(root);
    CheckLanguages(root);
    CheckDialogs(root);
    CheckUninstaller(root);
    return Sorted();
  }

 private:
  // ---- places ----
  void IndexLines() {
    m_lineStarts.assign(1, 0);
    for (std::size_t i = 0; i < m_text->size(); ++i)
      if ((*m_text)[i] == '\n') m_lineStarts.push_back(static_cast<long>(i + 1));
  }

  void Place(long offset, int& line, int& column) const {
    if (offset < 0) {
      line = column = 0;
      return;
    }
    auto it = std::upper_bound(m_lineStarts.begin(), m_lineStarts.end(), offset);
    line = static_cast<int>(it - m_lineStarts.begin());
    long start = m_lineStarts[static_cast<std::size_t>(line - 1)];
    column = 1;
    for (long i = start; i < offset; ++i)
      if ((static_cast<unsigned char>((*m_text)[static_cast<std::size_t>(i)]) & 0xC0) != 0x80)
        ++column;
  }

  void Report(long offset, Severity severity, const std::wstring& text) {
    Diagnostic d;
    d.severity = severity;
    d.text = text;
    Place(offset, d.line, d.column);
    m_out.push_back(d);
  }
  void At(const SettingsNodePtr& node, Severity severity, const std::wstring& text) {
    Report(m_doc.SourceOffset(node), severity, text);
  }
  void AtAttribute(const SettingsNodePtr& node, const std::wstring& name, Severity severity,
                   const std::wstring& text) {
    for (const SourceAttribute& a : AttributesOf(node))
      if (a.name == name) return Report(a.offset, severity, text);
    At(node, severity, text);
  }

  // The attributes of an element's start tag, read from the text (the settings tree does not
  // list attributes).
  std::vector<SourceAttribute> AttributesOf(const SettingsNodePtr& node) const {
    std::vector<SourceAttribute> out;
    long at = m_doc.SourceOffset(node);
    const std::string& t = *m_text;
    if (at < 0 || static_cast<std::size_t>(at) >= t.size() ||
        t[static_cast<std::size_t>(at)] != '<')
      return out;
    std::size_t i = static_cast<std::size_t>(at) + 1;
    auto space = [&](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (i < t.size() && !space(t[i]) && t[i] != '>' && t[i] != '/') ++i;  // the name
    for (;;) {
      while (i < t.size() && space(t[i])) ++i;
      if (i >= t.size() || t[i] == '>' || t[i] == '/') break;
      std::size_t start = i;
      while (i < t.size() && !space(t[i]) && t[i] != '=' && t[i] != '>') ++i;
      SourceAttribute a;
      a.name = platform::FromUtf8(t.substr(start, i - start));
      a.offset = static_cast<long>(start);
      out.push_back(a);
      while (i < t.size() && space(t[i])) ++i;
      if (i >= t.size() || t[i] != '=') break;
      ++i;
      while (i < t.size() && space(t[i])) ++i;
      if (i >= t.size() || (t[i] != '"' && t[i] != '\'')) break;
      char quote = t[i++];
      while (i < t.size() && t[i] != quote) ++i;
      ++i;
    }
    return out;
  }

  void ReportParseError(const std::wstring& error) {
    // "line L, column C: reason"
    Diagnostic d;
    d.severity = Severity::Error;
    int line = 0, column = 0;
    if (std::swscanf(error.c_str(), L"line %d, column %d:", &line, &column) == 2) {
      d.line = line;
      d.column = column;
      std::size_t colon = error.find(L": ");
      d.text = L"the XML does not parse: " + error.substr(colon + 2);
    } else {
      d.line = 1;
      d.column = 1;
      d.text = L"the XML does not parse: " + error;
    }
    m_out.push_back(d);
  }

  std::vector<Diagnostic> Sorted() {
    std::stable_sort(m_out.begin(), m_out.end(), [](const Diagnostic& a, const Diagnostic& b) {
      return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return m_out;
  }

  // ---- the root and the product ----
  bool CheckRoot(SettingsNodePtr& root) {
    SettingsNodePtr element;
    m_doc.GetDocumentElement(element);
    if (m_doc.GetRoot(root) && IsElement(root)) return true;
    At(element, Severity::Error,
       L"the root element <" + element->GetName() +
           L"> must be the first node after the XML declaration: the installer takes the node "
           L"after the document's first node as the root and finds " +
           (root ? L"a " + root->GetName() + L" node" : std::wstring(L"none")));
    return false;
  }

  void CheckProduct(const SettingsNodePtr& root) {
    for (const wchar_t* name : {Attribute::kBuild, Attribute::kLanguage}) {
      try {
        CommonTools::GetInt(root, name, 0);
      } catch (const std::exception&) {
        AtAttribute(root, name, Severity::Error,
                    L"\"" + std::wstring(name) + L"\" is not a number (\"" +
                        CommonTools::GetText(root, name) +
                        L"\"): the installer cannot read the product description");
      }
    }
    std::wstring error;
    CommonTools::Script::ReadProductDescription(root, m_product, error);
  }

  // Unknown children of the root, and attribute names that differ from the vocabulary only in
  // case, everywhere.
  void CheckElementsAndAttributes(const SettingsNodePtr& node, const std::wstring& path) {
    for (const SourceAttribute& a : AttributesOf(node)) {
      if (OneOf(a.name, Attribute::kAll)) {
        bool exact = false;
        const wchar_t* known = nullptr;
        for (const wchar_t* n : Attribute::kAll) {
          if (a.name == n) exact = true;
          if (platform::EqualsNoCase(a.name, n)) known = n;
        }
        if (!exact)
          Report(a.offset, Severity::Warning,
                 L"attribute \"" + a.name + L"\" is ignored: the installer reads \"" + known +
                     L"\" (attribute names match exactly)");
      }
    }
    for (const SettingsNodePtr& child : Elements(node)) {
      if (path.empty() && !OneOf(child->GetName(), Element::kRootChildren))
        At(child, Severity::Warning,
           L"element <" + child->GetName() + L"> is not read by the installer");
      CheckElementsAndAttributes(child, path + L"/" + child->GetName());
    }
  }

  // ---- macros ----
  void LoadMacros(const SettingsNodePtr& root) {
    m_macros.Load(root);
    CommonTools::BuiltinInputs in;
    in.installPath = L"C:\\Program Files (x86)\\" + m_product.dirName;
    in.dirName = m_product.dirName;
    in.name = m_product.name;
    in.build = m_product.build;
    in.languageId = 1033;
    m_builtins = CommonTools::BuiltinVariables(in);
    for (const auto& m : m_macros.Entries()) m_defined.insert(m.Name);
    for (const auto& b : m_builtins) m_defined.insert(b.first);
    // The family's data folder: the one holding the record of installed products.
    SettingsNodePtr install, common;
    m_dataFolder.clear();
    if (root->GetChild(Element::kInstall, install) &&
        install->GetChild(Element::kCommonInfo, common)) {
      m_dataFolder = CommonTools::GetText(common, Attribute::kFile);
      m_macros.Expand(m_dataFolder, 0, 4, m_builtins);
      std::replace(m_dataFolder.begin(), m_dataFolder.end(), L'/', L'\\');
      const std::size_t slash = m_dataFolder.rfind(L'\\');
      m_dataFolder = slash == std::wstring::npos ? L"" : m_dataFolder.substr(0, slash);
    }
  }

  // Macro-like names in a value: "%" name "%" where the name starts with a letter or "_".
  static std::vector<std::wstring> MacroNames(const std::wstring& value) {
    std::vector<std::wstring> out;
    std::size_t i = 0;
    while ((i = value.find(L'%', i)) != std::wstring::npos) {
      std::size_t j = value.find(L'%', i + 1);
      if (j == std::wstring::npos) break;
      std::wstring inner = value.substr(i + 1, j - i - 1);
      bool name = !inner.empty() && (std::iswalpha(inner[0]) || inner[0] == L'_');
      for (wchar_t c : inner)
        if (!(std::iswalnum(c) || c == L'_' || c == L' ' || c == L'.' || c == L'-')) name = false;
      if (name) {
        out.push_back(value.substr(i, j - i + 1));
        i = j + 1;
      } else {
        i = j;
      }
    }
    return out;
  }

  void CheckMacroUses(const SettingsNodePtr& node, bool inMacro) {
    for (const SourceAttribute& a : AttributesOf(node)) {
      if (inMacro && a.name == Attribute::kName) continue;
      std::wstring value = CommonTools::GetText(node, a.name);
      for (const std::wstring& m : MacroNames(value))
        if (!m_defined.count(m))
          Report(a.offset, Severity::Warning,
                 L"macro " + m + L" is used but never defined: the text keeps it as written");
    }
    for (const SettingsNodePtr& child : Elements(node)) {
      // Texts of the windows are not macro-expanded.
      if (platform::EqualsNoCase(child->GetName(), Element::kLocalization)) continue;
      CheckMacroUses(child, platform::EqualsNoCase(child->GetName(), Element::kMacro));
      CheckIgnoreFor(child);
    }
  }

  void CheckIgnoreFor(const SettingsNodePtr& node) {
    std::wstring value = CommonTools::GetText(node, Attribute::kIgnoreFor);
    std::size_t start = 0;
    while (start <= value.size()) {
      std::size_t end = value.find(L'|', start);
      if (end == std::wstring::npos) end = value.size();
      std::wstring tag = value.substr(start, end - start);
      if (!tag.empty() && !CommonTools::IsIgnoreForTag(tag))
        AtAttribute(
            node, Attribute::kIgnoreFor, Severity::Warning,
            L"\"IgnoreFor\" tag \"" + tag + L"\" matches no action and no kind of installation");
      start = end + 1;
    }
  }

  // A name of the package as the step reads it (macros replaced, "/" turned into "\"); empty
  // when it does not name an entry of the package (an absolute path, an unknown macro).
  std::wstring PackageName(const SettingsNodePtr& node, const std::wstring& attribute,
                           bool expand) {
    std::wstring name = CommonTools::GetText(node, attribute);
    if (expand && !name.empty()) m_macros.Expand(name, 0, 4, m_builtins);
    if (name.find(L':') != std::wstring::npos || name.rfind(L"\\\\", 0) == 0 ||
        name.rfind(L"//", 0) == 0 || !MacroNames(name).empty())
      return L"";
    return Backslashes(name);
  }

  // A name the installer refuses when it reads the step: absolute, climbing, a device (as
  // steps/StepGuard and the steps read it, macros replaced, "/" made "\").
  bool CheckInside(const SettingsNodePtr& node, const wchar_t* attribute, bool key = false,
                   int climbs = 0, bool absolute = false) {
    std::wstring value = CommonTools::GetText(node, attribute);
    if (value.empty()) return false;
    m_macros.Expand(value, 0, 4, m_builtins);
    // As the step reads it: "/" made "\", nothing cut from its front.
    std::replace(value.begin(), value.end(), L'/', L'\\');
    const std::wstring reason = key ? CommonTools::KeyOutsideReason(value)
                                    : CommonTools::NameOutsideReason(value, climbs, absolute);
    if (!reason.empty())
      AtAttribute(node, attribute, Severity::Error,
                  L"" + std::wstring(attribute) + L" \"" + value + L"\" of <" + node->GetName() +
                      L"> is refused: " + reason + L"; the installer skips the entry");
    return !reason.empty();
  }

  // A full path as Target puts the entry in the family's data folder, and only there.
  bool CheckDataTarget(const SettingsNodePtr& step) {
    std::wstring value = CommonTools::GetText(step, Attribute::kTarget);
    m_macros.Expand(value, 0, 4, m_builtins);
    std::replace(value.begin(), value.end(), L'/', L'\\');
    if (!CommonTools::IsFullPath(value) || !CommonTools::NameOutsideReason(value, 0, true).empty())
      return false;
    while (value.size() > 3 && value.back() == L'\\') value.pop_back();
    const bool inside =
        !m_dataFolder.empty() &&
        platform::EqualsNoCase(value.substr(0, m_dataFolder.size()), m_dataFolder) &&
        (value.size() == m_dataFolder.size() || value[m_dataFolder.size()] == L'\\');
    if (inside) return false;
    AtAttribute(step, Attribute::kTarget, Severity::Error,
                L"Target \"" + value + L"\" of <" + step->GetName() +
                    L"> is refused: a full path must lie in the folder of the installed-products "
                    L"record" +
                    (m_dataFolder.empty() ? std::wstring(L" (COMMONINFO names none)")
                                          : L" \"" + m_dataFolder + L"\"") +
                    L"; the installer skips the entry");
    return true;
  }

  // The names of one step that must stay inside the folder they are relative to.
  bool CheckNamesInside(const SettingsNodePtr& step) {
    const std::wstring name = step->GetName();
    bool refused = false;
    if (platform::EqualsNoCase(name, Element::kDirectory) ||
        platform::EqualsNoCase(name, Element::kFile)) {
      refused = CheckInside(step, Attribute::kName);
      const bool common =
          platform::EqualsNoCase(CommonTools::GetText(step, Attribute::kType), L"common");
      refused = CheckInside(step, Attribute::kTarget, false, common ? 1 : 0, true) || refused;
      refused = CheckDataTarget(step) || refused;
    } else if (platform::EqualsNoCase(name, Element::kShare)) {
      refused = CheckInside(step, Attribute::kPath, false, 0, true);
    } else if (platform::EqualsNoCase(name, Element::kRights)) {
      refused = CheckInside(step, Attribute::kName, false, 0, true);
    } else if (platform::EqualsNoCase(name, Element::kRegistry)) {
      for (const SettingsNodePtr& key : Elements(step)) CheckInside(key, Attribute::kKeyName, true);
    }
    return refused;
  }

  // ---- step containers ----
  void CheckContainer(const SettingsNodePtr& container, bool isInstall) {
    // The registry and shortcut steps read their group from the container: the first one.
    std::set<std::wstring, platform::NoCaseLess> groups;
    for (const SettingsNodePtr& step : Elements(container)) {
      std::wstring name = step->GetName();
      if ((platform::EqualsNoCase(name, Element::kRegistry) ||
           platform::EqualsNoCase(name, Element::kShortcuts)) &&
          !groups.insert(name).second)
        At(step, Severity::Warning,
           L"a second <" + name + L"> in <" + container->GetName() +
               L">: the installer runs the first one again in its place");
      if (OneOf(name, Element::kSteps)) {
        // A refused name is reported once, as refused, not also as missing from the package.
        if (CheckNamesInside(step)) continue;
        if (platform::EqualsNoCase(name, Element::kDirectory)) {
          std::wstring folder = PackageName(step, Attribute::kName, true);
          while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
          if (!folder.empty() && !m_contents.HasFolder(folder))
            AtAttribute(step, Attribute::kName, Severity::Error,
                        L"folder \"" + folder + L"\" is not in the package");
        } else if (platform::EqualsNoCase(name, Element::kFile)) {
          std::wstring file = PackageName(step, Attribute::kName, true);
          if (!file.empty() && !m_contents.HasFile(file))
            AtAttribute(step, Attribute::kName, Severity::Error,
                        L"file \"" + file + L"\" is not in the package");
        }
        continue;
      }
      if (isInstall && (platform::EqualsNoCase(name, Element::kCommonInfo) ||
                        platform::EqualsNoCase(name, Element::kCfg)))
        continue;
      At(step, Severity::Warning,
         L"element <" + name + L"> is not a step: the installer skips it inside <" +
             container->GetName() + L">");
    }
  }

  void CheckContainers(const SettingsNodePtr& root) {
    SettingsNodePtr node;
    // The groups at the root: the shares of a server, the rights entries, the registry.
    if (root->GetChild(Element::kServer, node))
      for (const SettingsNodePtr& share : Elements(node))
        if (platform::EqualsNoCase(share->GetName(), Element::kShare)) CheckNamesInside(share);
    if (root->GetChild(Element::kRights, node))
      for (const SettingsNodePtr& entry : Elements(node))
        if (platform::EqualsNoCase(entry->GetName(), Element::kDirectory))
          CheckInside(entry, Attribute::kName, false, 0, true);
    if (root->GetChild(Element::kRegistry, node)) CheckNamesInside(node);
    if (root->GetChild(Element::kInstall, node)) CheckContainer(node, true);
    if (root->GetChild(Element::kAdditional, node)) CheckContainer(node, false);
    if (root->GetChild(Element::kLibraries, node))
      for (const SettingsNodePtr& library : Elements(node))
        if (platform::EqualsNoCase(library->GetName(), Element::kLibrary))
          CheckContainer(library, false);
  }

  // ---- libraries ----
  void CheckLibraries(const SettingsNodePtr& root) {
    CommonTools::CLibraries libraries;
    SettingsNodePtr node;
    if (!root->GetChild(Element::kLibraries, node)) return;
    try {
      libraries.Load(root);
    } catch (const std::exception&) {
      for (const SettingsNodePtr& library : Elements(node)) {
        if (!platform::EqualsNoCase(library->GetName(), Element::kLibrary)) continue;
        for (const wchar_t* name : {Attribute::kId, Attribute::kSelected, Attribute::kReadonly}) {
          try {
            if (name == Attribute::kId)
              CommonTools::GetInt(library, name, 0);
            else if (!CommonTools::GetText(library, name).empty() &&
                     !platform::EqualsNoCase(CommonTools::GetText(library, name), L"true") &&
                     !platform::EqualsNoCase(CommonTools::GetText(library, name), L"false"))
              CommonTools::GetInt(library, name, 0);
          } catch (const std::exception&) {
            AtAttribute(library, name, Severity::Error,
                        L"\"" + std::wstring(name) + L"\" of a library is not a number (\"" +
                            CommonTools::GetText(library, name) +
                            L"\"): the installer cannot read the product description");
          }
        }
      }
      return;
    }
    const int count = libraries.Count();
    std::vector<CommonTools::LibraryRecord> records(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) libraries.Get(i, records[static_cast<std::size_t>(i)]);
    for (int i = 0; i < count; ++i) {
      const auto& r = records[static_cast<std::size_t>(i)];
      if (libraries.IndexOf(r.ID) != i)
        AtAttribute(r.node, Attribute::kId, Severity::Warning,
                    L"library ID " + std::to_wstring(r.ID) +
                        L" is used twice: the installer finds only the first");
      for (unsigned dep : r.dependencies)
        if (libraries.IndexOf(static_cast<int>(dep)) < 0)
          AtAttribute(r.node, Attribute::kDependency, Severity::Warning,
                      L"library " + std::to_wstring(r.ID) + L" depends on library " +
                          std::to_wstring(dep) + L", which does not exist");
      if (r.readonly && !r.selected)
        At(r.node, Severity::Warning,
           L"library " + std::to_wstring(r.ID) +
               L" is read-only and not selected: nobody can ever select it");
    }
    // Cycles: a depth-first walk; each cycle is reported once, at its first library.
    std::vector<int> state(static_cast<std::size_t>(count), 0);  // 0 new, 1 on the path, 2 done
    std::vector<int> path;
    std::set<std::vector<int>> reported;
    std::function<void(int)> visit = [&](int i) {
      state[static_cast<std::size_t>(i)] = 1;
      path.push_back(i);
      for (unsigned dep : records[static_cast<std::size_t>(i)].dependencies) {
        int j = libraries.IndexOf(static_cast<int>(dep));
        if (j < 0 || j == i) continue;
        if (state[static_cast<std::size_t>(j)] == 1) {
          auto from = std::find(path.begin(), path.end(), j);
          std::vector<int> cycle(from, path.end());
          std::vector<int> key = cycle;
          std::sort(key.begin(), key.end());
          if (!reported.insert(key).second) continue;
          std::wstring chain;
          for (int k : cycle)
            chain += std::to_wstring(records[static_cast<std::size_t>(k)].ID) + L" -> ";
          chain += std::to_wstring(records[static_cast<std::size_t>(j)].ID);
          AtAttribute(
              records[static_cast<std::size_t>(*std::min_element(cycle.begin(), cycle.end()))].node,
              Attribute::kDependency, Severity::Warning,
              L"the dependencies of libraries form a cycle (" + chain +
                  L"): none of them can be cleared on the components page");
        } else if (state[static_cast<std::size_t>(j)] == 0) {
          visit(j);
        }
      }
      path.pop_back();
      state[static_cast<std::size_t>(i)] = 2;
    };
    for (int i = 0; i < count; ++i)
      if (state[static_cast<std::size_t>(i)] == 0) visit(i);
  }

  // ---- files the script names outside the steps ----
  void NeedFile(const SettingsNodePtr& node, const wchar_t* attribute, const std::wstring& what) {
    std::wstring name = PackageName(node, attribute, false);
    if (!name.empty() && !m_contents.HasFile(name))
      AtAttribute(node, attribute, Severity::Error,
                  what + L" \"" + name + L"\" is not in the package");
  }

  void CheckPackageFiles(const SettingsNodePtr& root) {
    SettingsNodePtr node;
    if (root->GetChild(Element::kIcons, node)) {
      NeedFile(node, Attribute::kPath, L"icon");
      NeedFile(node, Attribute::kPathDi, L"icon");
    }
    if (!root->GetChild(Element::kImages, node)) {
      At(root, Severity::Error,
         L"the script has no <Images>: the installer cannot load its pictures and stops");
    } else {
      for (const SettingsNodePtr& image : Elements(node)) {
        NeedFile(image, Attribute::kPath, L"image");
        try {
          CommonTools::GetInt(image, Attribute::kId, 0);
        } catch (const std::exception&) {
          AtAttribute(image, Attribute::kId, Severity::Error,
                      L"the \"ID\" of a picture is not a number: the installer cannot load its "
                      L"pictures and stops");
        }
      }
    }
    if (root->GetChild(Element::kClient, node)) {
      SettingsNodePtr exec;
      if (node->GetChild(Element::kExec, exec)) {
        std::wstring name = PackageName(exec, Attribute::kPath, true);
        if (!name.empty() && !m_contents.HasFile(name))
          AtAttribute(exec, Attribute::kPath, Severity::Error,
                      L"client package \"" + name + L"\" is not in the package");
      }
    }
  }

  // ---- languages, texts and messages ----
  static void TextKeys(const SettingsNodePtr& node, const std::wstring& prefix,
                       std::map<std::wstring, std::wstring, platform::NoCaseLess>& keys) {
    for (const SettingsNodePtr& child : Elements(node)) {
      std::wstring key = prefix.empty() ? child->GetName() : prefix + L"/" + child->GetName();
      if (prefix.empty() && platform::EqualsNoCase(child->GetName(), Element::kMessages)) continue;
      keys.emplace(key, key);
      TextKeys(child, key, keys);
    }
  }

  std::wstring LanguageName(const SettingsNodePtr& language) {
    std::wstring title = CommonTools::GetText(language, Attribute::kTitle);
    return L"\"" + (title.empty() ? language->GetName() : title) + L"\"";
  }

  void CheckLanguages(const SettingsNodePtr& root) {
    SettingsNodePtr localization;
    if (!root->GetChild(Element::kLocalization, localization)) {
      At(root, Severity::Error, L"the script has no <Localization>: the installer cannot start");
      return;
    }
    SettingsNodeListPtr list;
    std::vector<SettingsNodePtr> languages;
    if (localization->GetChildren(list))
      for (int i = 0, n = list->GetCount(); i < n; ++i) {
        SettingsNodePtr item;
        if (!list->GetItem(i, item)) continue;
        if (!IsElement(item)) {
          At(localization, Severity::Error,
             L"<Localization> holds a " + item->GetName() +
                 L" node: the installer accepts language elements only there");
          continue;
        }
        languages.push_back(item);
      }
    if (languages.empty()) {
      At(localization, Severity::Error,
         L"<Localization> has no language: the installer cannot start");
      return;
    }
    for (const SettingsNodePtr& language : languages) {
      for (const wchar_t* name : {Attribute::kTitle, Attribute::kSystemName})
        if (CommonTools::GetText(language, name).empty())
          At(language, Severity::Error,
             L"language <" + language->GetName() + L"> has no \"" + name +
                 L"\": the installer refuses the languages");
      try {
        if (CommonTools::GetInt(language, Attribute::kId, -1) == -1)
          At(language, Severity::Error,
             L"language <" + language->GetName() +
                 L"> has no \"ID\": the installer refuses the languages");
      } catch (const std::exception&) {
        AtAttribute(language, Attribute::kId, Severity::Error,
                    L"the \"ID\" of language <" + language->GetName() + L"> is not a number");
      }
    }

    // Text keys present in one language and missing in another.
    std::vector<std::map<std::wstring, std::wstring, platform::NoCaseLess>> keys(languages.size());
    for (std::size_t i = 0; i < languages.size(); ++i) TextKeys(languages[i], L"", keys[i]);
    for (std::size_t i = 0; i < languages.size(); ++i)
      for (std::size_t j = 0; j < languages.size(); ++j) {
        if (i == j) continue;
        for (const auto& key : keys[j]) {
          if (keys[i].count(key.first)) continue;
          bool earlier = false;  // reported already for a language before j
          for (std::size_t k = 0; k < j && !earlier; ++k)
            earlier = k != i && keys[k].count(key.first);
          if (earlier) continue;
          At(languages[i], Severity::Warning,
             L"language " + LanguageName(languages[i]) + L" has no text \"" + key.first + L"\" (" +
                 LanguageName(languages[j]) + L" has it)");
        }
      }

    // Messages: those the installer asks for, those the script names, those any language has.
    std::set<std::wstring, platform::NoCaseLess> wanted(ScriptNames::Message::kAll.begin(),
                                                        ScriptNames::Message::kAll.end());
    std::function<void(const SettingsNodePtr&)> named = [&](const SettingsNodePtr& node) {
      for (const wchar_t* a : Attribute::kMessageIds) {
        std::wstring id = CommonTools::GetText(node, a);
        if (!id.empty()) wanted.insert(id);
      }
      for (const SettingsNodePtr& child : Elements(node)) named(child);
    };
    named(root);
    for (const SettingsNodePtr& language : languages) {
      SettingsNodePtr messages;
      if (language->GetChild(Element::kMessages, messages))
        for (const SettingsNodePtr& m : Elements(messages)) wanted.insert(m->GetName());
    }
    for (const SettingsNodePtr& language : languages) {
      SettingsNodePtr messages, message;
      bool has = language->GetChild(Element::kMessages, messages);
      // One line per language, however many it lacks.
      std::vector<std::wstring> missing;
      for (const std::wstring& id : wanted)
        if (!has || !messages->GetChild(id, message)) missing.push_back(id);
      if (!missing.empty()) {
        std::wstring list;
        for (const std::wstring& id : missing)
          list += (list.empty() ? L"\"" : L", \"") + id + L"\"";
        At(has ? messages : language, Severity::Warning,
           L"language " + LanguageName(language) +
               (missing.size() == 1 ? L" has no message " : L" has no messages ") + list);
      }
      // The licence file of the language.
      SettingsNodePtr section, license;
      if (language->GetChild(ScriptNames::Page::kLicense, section) &&
          section->GetChild(Element::kLicenseFile, license))
        NeedFile(license, Attribute::kPath, L"licence");
    }
  }

  void CheckDialogs(const SettingsNodePtr& root) {
    SettingsNodePtr dialogs;
    if (!root->GetChild(Element::kDialogs, dialogs)) return;
    for (const SettingsNodePtr& page : Elements(dialogs))
      if (!OneOf(page->GetName(), ScriptNames::Page::kAll))
        At(page, Severity::Warning,
           L"<DIALOGS> switch <" + page->GetName() + L"> names no page of the installer");
  }

  void CheckUninstaller(const SettingsNodePtr& root) {
    SettingsNodePtr uninstaller;
    if (!root->GetChild(Element::kUninstaller, uninstaller)) return;
    if (CommonTools::GetText(uninstaller, Attribute::kTitle).empty())
      At(uninstaller, Severity::Error,
         L"<UNINSTALLER> has no \"Title\": the product's entry in the list of programs would "
         L"have no name");
  }

  const PackageContents& m_contents;
  CommonTools::CXmlSettings m_doc;
  const std::string* m_text = nullptr;
  std::vector<long> m_lineStarts;
  std::vector<Diagnostic> m_out;
  CommonTools::Script::ProductDescription m_product;
  CommonTools::CMacroTable m_macros;
  std::vector<CommonTools::BuiltinVariable> m_builtins;
  std::wstring m_dataFolder;
  std::set<std::wstring> m_defined;  // macro names match exactly
};

}  // namespace

void PackageContents::Add(const std::wstring& raw) {
  std::wstring name = Backslashes(raw);
  if (name.empty()) return;
  bool directory = name.back() == L'\\';
  while (!name.empty() && name.back() == L'\\') name.pop_back();
  if (name.empty()) return;
  m_names.push_back(name);
  if (!directory)
    m_files.insert(name);
  else
    m_folders.insert(name);
  for (std::size_t slash = name.rfind(L'\\'); slash != std::wstring::npos && slash > 0;
       slash = name.rfind(L'\\', slash - 1))
    m_folders.insert(name.substr(0, slash));
}

bool PackageContents::HasFile(const std::wstring& name) const {
  return m_files.count(Backslashes(name)) != 0;
}

bool PackageContents::HasFolder(const std::wstring& name) const {
  std::wstring folder = Backslashes(name);
  while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
  return m_folders.count(folder) != 0;
}

std::vector<Diagnostic> CheckScript(const std::string& scriptBytes,
                                    const PackageContents& contents) {
  return Checker(contents).Run(scriptBytes);
}

std::vector<ScriptLanguage> ScriptLanguages(const std::string& scriptBytes) {
  std::vector<ScriptLanguage> out;
  CommonTools::CXmlSettings doc;
  SettingsNodePtr root, localization;
  SettingsNodeListPtr list;
  if (!doc.LoadFromBytes(scriptBytes) || !doc.GetRoot(root) || !root ||
      !root->GetChild(Element::kLocalization, localization) || !localization->GetChildren(list))
    return out;
  for (int i = 0, n = list->GetCount(); i < n; ++i) {
    SettingsNodePtr item;
    if (!list->GetItem(i, item) || !IsElement(item)) continue;
    ScriptLanguage language;
    try {
      language.id = CommonTools::GetInt(item, Attribute::kId, -1);
    } catch (const std::exception&) {
      continue;
    }
    language.title = CommonTools::GetText(item, Attribute::kTitle);
    language.systemName = CommonTools::GetText(item, Attribute::kSystemName);
    if (language.id <= 0 || language.title.empty() || language.systemName.empty()) continue;
    out.push_back(language);
  }
  return out;
}

std::vector<Diagnostic> CheckNames(const PackageContents& contents) {
  std::vector<Diagnostic> out;
  for (const std::wstring& name : contents.Names()) {
    bool usedDefault = false;
    std::string stored = platform::WideToAnsi(name, platform::CP_ACP, &usedDefault);
    if (usedDefault || platform::AnsiToWide(stored, platform::CP_ACP) != name)
      out.push_back({0, 0, Severity::Error,
                     L"the name \"" + name + L"\" has characters the code page " +
                         std::to_wstring(platform::GetACP()) +
                         L" lacks: the archive would hold another name"});
    else if (!DataStorage::IsSafeEntryName(name))
      out.push_back({0, 0, Severity::Error,
                     L"the name \"" + name + L"\" would land outside the installation folder"});
  }
  return out;
}

std::string FormatDiagnostic(const std::string& file, const Diagnostic& d) {
  std::string kind = d.severity == Severity::Error ? "error" : "warning";
  std::string place = file;
  if (d.line > 0) place += ":" + std::to_string(d.line) + ":" + std::to_string(d.column);
  return place + ": " + kind + ": " + platform::ToUtf8(d.text);
}

Counts CountOf(const std::vector<Diagnostic>& diagnostics) {
  Counts c;
  for (const Diagnostic& d : diagnostics) (d.severity == Severity::Error ? c.errors : c.warnings)++;
  return c;
}

int CheckStatus(const Counts& counts, bool strict) {
  if (counts.errors > 0) return 2;
  if (strict && counts.warnings > 0) return 1;
  return 0;
}

}  // namespace TlPack
