#pragma once
// Process-wide table of the viewer's user-visible texts. Texts come from a language file (an XML
// document holding several languages) and, where the file has none, from the library's own
// string table (ui/StringTable.h). All of it is static; an object only resets or clears the state.

#include "MorlaneExport.h"

#include <string>
#include <vector>

class XMLDocument;
class XMLNode;

enum eXmlSection { eMessages = 0, eDialogs = 1, eMenus = 2 };

// One Language element of the loaded file.
struct MORLANE_API MlsLanguageInfo {
  int index = 0;         // position among all children of the root element, from 0
  int code = 0;          // ID attribute
  std::wstring caption;  // Caption attribute
};

class MORLANE_API CMlsString {
 public:
  CMlsString();           // resets the state (see Clear) and selects code 2000
  virtual ~CMlsString();  // Clear()

  // Loads the language file at path and selects the language whose ID is code. A second call
  // without Clear first releases the earlier file and list. hInstance is accepted and unused.
  static bool Initialize(const wchar_t* path, int code, void* hInstance = nullptr);
  static bool IsMlsSupport();
  static void Clear();

  static int GetLanguagesCount();
  static void* GetLanguageInfo(int index);  // MlsLanguageInfo*, or null

  static bool SetLanguageLocation(const wchar_t* caption);
  static bool SetLanguageLocation(int code);

  static XMLNode* GetNodeSection(eXmlSection section);
  static XMLNode* GetSubNode(XMLNode* node, const wchar_t* name);
  static XMLNode* GetSubNode(XMLNode* node, int id);

  // The library's own string table; "" when it has no entry id.
  static std::wstring LoadResourceString(int id);

  static std::wstring GetResourceString(eXmlSection section, int id);
  static std::wstring GetResourceString(eXmlSection section, const wchar_t* name);
  static std::wstring GetResourceString(eXmlSection section, int id, const wchar_t* attribute);
  static std::wstring GetResourceString(eXmlSection section, const wchar_t* name,
                                        const wchar_t* attribute);
  static std::wstring GetResourceString(eXmlSection section, const wchar_t* group, int id);
  static std::wstring GetResourceString(eXmlSection section, int id, const wchar_t* group,
                                        const wchar_t* name);
  static std::wstring GetResourceString(eXmlSection section, int id, const wchar_t* name,
                                        const wchar_t* group, const wchar_t* subgroup);
  static std::wstring GetResourceString(eXmlSection section, const wchar_t* defaultText,
                                        const wchar_t* name, const wchar_t* group,
                                        const wchar_t* subgroup);

  static std::wstring GetResourceString2(eXmlSection section, int id, std::wstring& description,
                                         std::wstring& tooltip);
  static std::wstring GetResourceString2(eXmlSection section, const wchar_t* name,
                                         std::wstring& description, std::wstring& tooltip);

  // Backslash + n becomes a line feed, then backslash + t a tab.
  static std::wstring Unescape(std::wstring text);

  static XMLDocument* m_pXMLDocument;
  static XMLNode* m_pXMLRoot;
  static std::vector<MlsLanguageInfo*>* m_arLanguages;
  static int m_codeSelectedLanguage;
  static void* m_hInst;
  static XMLNode* m_xmlNodeLanguage;
  static XMLNode* m_xmlNodeMessages;
  static XMLNode* m_xmlNodeDialogs;
  static XMLNode* m_xmlNodeMenus;

 private:
  static void SelectLanguage(XMLNode* language);
};
