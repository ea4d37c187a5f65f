#include "ui/MlsString.h"

#include "ui/StringTable.h"
#include "xml/XMLDocument.h"
#include "xml/XMLNode.h"
#include "xml/XmlText.h"

#include <sys/stat.h>

using MorlaneText::EqualsNoCase;
using MorlaneText::ToUtf8;

XMLDocument* CMlsString::m_pXMLDocument = nullptr;
XMLNode* CMlsString::m_pXMLRoot = nullptr;
std::vector<MlsLanguageInfo*>* CMlsString::m_arLanguages = nullptr;
int CMlsString::m_codeSelectedLanguage = 2000;
void* CMlsString::m_hInst = nullptr;
XMLNode* CMlsString::m_xmlNodeLanguage = nullptr;
XMLNode* CMlsString::m_xmlNodeMessages = nullptr;
XMLNode* CMlsString::m_xmlNodeDialogs = nullptr;
XMLNode* CMlsString::m_xmlNodeMenus = nullptr;

namespace {

// The module whose string table serves as fallback: the library itself.
int s_moduleMarker = 0;

bool IsElementNamed(const XMLNode* node, const wchar_t* name) {
  return node->GetType() == XMLNode::eDomElement && EqualsNoCase(node->GetTag(), name ? name : L"");
}

bool IsEmpty(const wchar_t* text) { return !text || !*text; }

}  // namespace

CMlsString::CMlsString() {
  Clear();
  m_hInst = nullptr;
  m_codeSelectedLanguage = 2000;
  m_arLanguages = new std::vector<MlsLanguageInfo*>();
}

CMlsString::~CMlsString() { Clear(); }

void CMlsString::Clear() {
  delete m_pXMLDocument;
  m_pXMLDocument = nullptr;
  m_pXMLRoot = nullptr;
  m_xmlNodeLanguage = nullptr;
  m_xmlNodeMessages = nullptr;
  m_xmlNodeDialogs = nullptr;
  m_xmlNodeMenus = nullptr;
  if (m_arLanguages) {
    for (MlsLanguageInfo* info : *m_arLanguages) delete info;
    delete m_arLanguages;
    m_arLanguages = nullptr;
  }
}

void CMlsString::SelectLanguage(XMLNode* language) {
  m_xmlNodeLanguage = language;
  m_xmlNodeDialogs = GetSubNode(language, L"Dialogs");
  m_xmlNodeMessages = GetSubNode(language, L"Messages");
  m_xmlNodeMenus = GetSubNode(language, L"Menus");
}

bool CMlsString::Initialize(const wchar_t* path, int code, void* /*hInstance*/) {
  // A second file without Clear first: the earlier one is released, so no language is listed
  // twice and no document is left behind.
  if (m_pXMLDocument || (m_arLanguages && !m_arLanguages->empty())) Clear();
  m_hInst = &s_moduleMarker;
  if (!m_arLanguages) m_arLanguages = new std::vector<MlsLanguageInfo*>();

  m_pXMLDocument = nullptr;
  struct stat st;
  if (IsEmpty(path) || stat(ToUtf8(path).c_str(), &st) != 0) return false;

  m_pXMLDocument = new XMLDocument(path);
  m_pXMLRoot = m_pXMLDocument->GetRoot();
  if (m_pXMLRoot) {
    for (int i = 0; i < m_pXMLRoot->GetChildCount(); ++i) {
      XMLNode* child = m_pXMLRoot->GetChild(i);
      if (!IsElementNamed(child, L"Language")) continue;
      const int id = MorlaneText::ParseIntPrefix(child->GetStrAttr(L"ID", L"0"));
      if (id == code) {
        m_codeSelectedLanguage = code;
        SelectLanguage(child);
      }
      auto* info = new MlsLanguageInfo;
      info->index = i;
      info->code = id;
      info->caption = child->GetStrAttr(L"Caption", L"");
      m_arLanguages->push_back(info);
    }
  }
  if (m_xmlNodeMessages && !m_arLanguages->empty()) return true;

  delete m_pXMLDocument;
  m_pXMLDocument = nullptr;
  m_pXMLRoot = nullptr;
  m_xmlNodeLanguage = nullptr;
  m_xmlNodeMessages = nullptr;
  m_xmlNodeDialogs = nullptr;
  m_xmlNodeMenus = nullptr;
  return false;
}

bool CMlsString::IsMlsSupport() { return m_pXMLDocument != nullptr; }

int CMlsString::GetLanguagesCount() {
  return m_arLanguages ? static_cast<int>(m_arLanguages->size()) : 0;
}

void* CMlsString::GetLanguageInfo(int index) {
  if (!m_arLanguages || index < 0 || index >= static_cast<int>(m_arLanguages->size()))
    return nullptr;
  return (*m_arLanguages)[static_cast<std::size_t>(index)];
}

bool CMlsString::SetLanguageLocation(const wchar_t* caption) {
  if (!m_pXMLDocument || !m_pXMLRoot) return false;
  const std::wstring wanted = caption ? caption : L"";
  for (int i = 0; i < m_pXMLRoot->GetChildCount(); ++i) {
    XMLNode* child = m_pXMLRoot->GetChild(i);
    if (!IsElementNamed(child, L"Language")) continue;
    if (EqualsNoCase(child->GetStrAttr(L"Caption", L""), wanted)) {
      SelectLanguage(child);
      return true;
    }
  }
  return false;
}

bool CMlsString::SetLanguageLocation(int code) {
  if (!m_pXMLDocument || !m_pXMLRoot) return false;
  for (int i = 0; i < m_pXMLRoot->GetChildCount(); ++i) {
    XMLNode* child = m_pXMLRoot->GetChild(i);
    if (!IsElementNamed(child, L"Language")) continue;
    if (MorlaneText::ParseIntPrefix(child->GetStrAttr(L"ID", L"0")) == code) {
      SelectLanguage(child);
      m_codeSelectedLanguage = code;
      return true;
    }
  }
  return false;
}

XMLNode* CMlsString::GetNodeSection(eXmlSection section) {
  switch (section) {
    case eMessages: return m_xmlNodeMessages;
    case eDialogs: return m_xmlNodeDialogs;
    case eMenus: return m_xmlNodeMenus;
    default: return nullptr;
  }
}

XMLNode* CMlsString::GetSubNode(XMLNode* node, const wchar_t* name) {
  if (!node || !name) return nullptr;
  for (int i = 0; i < node->GetChildCount(); ++i) {
    XMLNode* child = node->GetChild(i);
    if (IsElementNamed(child, name)) return child;
  }
  return nullptr;
}

XMLNode* CMlsString::GetSubNode(XMLNode* node, int id) {
  if (!node) return nullptr;
  for (int i = 0; i < node->GetChildCount(); ++i) {
    XMLNode* child = node->GetChild(i);
    if (child->GetType() != XMLNode::eDomElement) continue;
    const int value = MorlaneText::ParseIntPrefix(child->GetStrAttr(L"ID", L""));
    if (value != 0 && value == id) return child;
  }
  return nullptr;
}

std::wstring CMlsString::LoadResourceString(int id) {
  const wchar_t* text = MorlaneBuiltInString(id);
  if (!text) return std::wstring();
  std::wstring result(text);
  // A string-table text is read into a buffer of 10000 characters: never more than 9999.
  if (result.size() > 9999) result.resize(9999);
  return result;
}

std::wstring CMlsString::Unescape(std::wstring text) {
  for (std::size_t at = text.find(L"\\n"); at != std::wstring::npos; at = text.find(L"\\n", at + 1))
    text.replace(at, 2, L"\n");
  for (std::size_t at = text.find(L"\\t"); at != std::wstring::npos; at = text.find(L"\\t", at + 1))
    text.replace(at, 2, L"\t");
  return text;
}

namespace {

std::wstring CaptionOf(XMLNode* item) {
  if (!item) return std::wstring();
  std::wstring text = item->GetStrAttr(L"Caption", L"");
  return text.empty() ? text : CMlsString::Unescape(text);
}

std::wstring AttributeOrCaption(XMLNode* item, const wchar_t* attribute) {
  if (!item) return std::wstring();
  std::wstring text = attribute ? item->GetStrAttr(attribute, L"") : std::wstring();
  if (text.empty()) text = item->GetStrAttr(L"Caption", L"");
  return text.empty() ? text : CMlsString::Unescape(text);
}

}  // namespace

std::wstring CMlsString::GetResourceString(eXmlSection section, int id) {
  std::wstring text = CaptionOf(GetSubNode(GetNodeSection(section), id));
  return text.empty() ? LoadResourceString(id) : text;
}

std::wstring CMlsString::GetResourceString(eXmlSection section, const wchar_t* name) {
  return CaptionOf(GetSubNode(GetNodeSection(section), name));
}

std::wstring CMlsString::GetResourceString(eXmlSection section, int id, const wchar_t* attribute) {
  std::wstring text = AttributeOrCaption(GetSubNode(GetNodeSection(section), id), attribute);
  return text.empty() ? LoadResourceString(id) : text;
}

std::wstring CMlsString::GetResourceString(eXmlSection section, const wchar_t* name,
                                           const wchar_t* attribute) {
  return AttributeOrCaption(GetSubNode(GetNodeSection(section), name), attribute);
}

std::wstring CMlsString::GetResourceString(eXmlSection section, const wchar_t* group, int id) {
  std::wstring text = CaptionOf(GetSubNode(GetSubNode(GetNodeSection(section), group), id));
  return text.empty() ? LoadResourceString(id) : text;
}

std::wstring CMlsString::GetResourceString(eXmlSection section, int id, const wchar_t* group,
                                           const wchar_t* name) {
  std::wstring text = CaptionOf(GetSubNode(GetSubNode(GetNodeSection(section), group), name));
  return text.empty() ? LoadResourceString(id) : text;
}

std::wstring CMlsString::GetResourceString(eXmlSection section, int id, const wchar_t* name,
                                           const wchar_t* group, const wchar_t* subgroup) {
  XMLNode* node = GetSubNode(GetNodeSection(section), group);
  if (node && !IsEmpty(subgroup)) node = GetSubNode(node, subgroup);
  XMLNode* item = node ? GetSubNode(node, name) : nullptr;
  if (!item) return id != 0 ? LoadResourceString(id) : std::wstring();
  return CaptionOf(item);
}

std::wstring CMlsString::GetResourceString(eXmlSection section, const wchar_t* defaultText,
                                           const wchar_t* name, const wchar_t* group,
                                           const wchar_t* subgroup) {
  XMLNode* node = GetSubNode(GetNodeSection(section), group);
  if (node && !IsEmpty(subgroup)) node = GetSubNode(node, subgroup);
  XMLNode* item = node ? GetSubNode(node, name) : nullptr;
  if (!item) return defaultText ? std::wstring(defaultText) : std::wstring();
  return CaptionOf(item);
}

namespace {

void FillFromItem(XMLNode* item, std::wstring& caption, std::wstring& description,
                  std::wstring& tooltip) {
  caption = CaptionOf(item);
  std::wstring d = item->GetStrAttr(L"Description", L"");
  description = d.empty() ? d : CMlsString::Unescape(d);
  tooltip = item->GetStrAttr(L"Tooltip", L"");
  if (!tooltip.empty()) {
    tooltip = CMlsString::Unescape(tooltip);
  } else {
    tooltip = caption;
    const std::size_t lf = tooltip.find(L'\n');
    if (lf != std::wstring::npos) tooltip.resize(lf);
    for (std::size_t at = tooltip.find(L"\\t"); at != std::wstring::npos;
         at = tooltip.find(L"\\t", at + 1))
      tooltip.replace(at, 2, L"\t");
  }
}

}  // namespace

std::wstring CMlsString::GetResourceString2(eXmlSection section, int id, std::wstring& description,
                                            std::wstring& tooltip) {
  description.clear();
  tooltip.clear();
  std::wstring caption;
  if (XMLNode* item = GetSubNode(GetNodeSection(section), id))
    FillFromItem(item, caption, description, tooltip);
  if (caption.empty()) {
    caption = LoadResourceString(id);
    if (!caption.empty()) {
      const std::size_t lf = caption.find(L'\n');
      if (lf != std::wstring::npos) {
        description = caption.substr(0, lf);
        caption = caption.substr(lf + 1);
      } else {
        description.clear();
      }
      tooltip = caption;
    }
  }
  return caption;
}

std::wstring CMlsString::GetResourceString2(eXmlSection section, const wchar_t* name,
                                            std::wstring& description, std::wstring& tooltip) {
  description.clear();
  tooltip.clear();
  std::wstring caption;
  if (XMLNode* item = GetSubNode(GetNodeSection(section), name))
    FillFromItem(item, caption, description, tooltip);
  return caption;
}
