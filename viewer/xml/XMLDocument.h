#pragma once
// The viewer's XML document: loads a document from a file or a string, exposes its root element
// as a tree of XMLNode objects, saves it plainly or indented, reports parse errors with their
// position and can merge its top-level sections into an existing file.
//
// Loading never resolves external entities and never fails by a crash: malformed text, a NUL or
// other control character, undefined entities, nesting deeper than MaxDepth levels or an unknown
// encoding give a failed load with a position (GetParsingErrorInformation), and the previous tree
// stays. The XMLNode objects of a loaded tree are made as they are first asked for; the tree they
// show is always the DOM's.

#include "MorlaneExport.h"

#include <pugixml.hpp>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>

class XMLNode;
namespace MorlaneXml {
class NameTable;
}

class MORLANE_API CParsePoint {
 public:
  CParsePoint() = default;
  CParsePoint(int line, int index) : lineNumber(line), lineIndex(index) {}
  int GetLineNumber() const { return lineNumber; }
  void SetLineNumber(int line) { lineNumber = line; }
  int GetLineIndex() const { return lineIndex; }
  void SetLineIndex(int index) { lineIndex = index; }

 private:
  int lineNumber = 0;
  int lineIndex = 0;
};

class MORLANE_API XMLDocument {
 public:
  // Nesting depth above which a document is refused.
  static constexpr int MaxDepth = 4096;

  // With a file name: Load(fileName). With null: a new document holding the declaration and an
  // empty root element "Document".
  explicit XMLDocument(const wchar_t* fileName = nullptr);
  // Copies are deep: the copy gets its own DOM and node tree, so each tree has one owner.
  XMLDocument(const XMLDocument& source);
  XMLDocument& operator=(const XMLDocument& source);
  virtual ~XMLDocument();

  XMLNode* GetRoot() const { return m_root; }
  XMLNode* GetRootElement() const { return m_root; }

  // Loads a file: UTF-16 (with or without a mark, either byte order), UTF-8 with a mark, else
  // the encoding the declaration names, else UTF-8 when the bytes are UTF-8, else the ANSI code
  // page (windows-1252). "&181;" and "&amp;181;" read as the micro sign. Success shows as a root;
  // on failure the previous tree stays.
  void Load(const wchar_t* fileName);
  int LoadXml(const wchar_t* text);
  // Bytes of a file as Load reads them (used by Load; handy for tools and tests).
  int LoadBytes(const void* data, std::size_t size);

  // Saves to fileName (or the remembered name when it is null or empty). Written through a
  // temporary file and a rename; 0 when the file cannot be written.
  int Save(const wchar_t* fileName, int formatted);
  // Adds the top-level sections of the file that this root lacks, then saves formatted there.
  // A section both have is the one of this document afterwards: the file's copy is overwritten,
  // as hosts that merge their settings this way expect. Always 1. (The name, with its capital
  // D, is the exported one hosts call.)
  int UpDate(const wchar_t* fileName);

  std::wstring GetXMLContent() const;
  std::wstring GetXMLContentWithFormatted() const;
  void GetParsingErrorInformation(std::wstring& reason, CParsePoint& position, CParsePoint& unused,
                                  std::wstring* sourceText) const;

  void SetAutomaticIndentation(int indent, unsigned long a, unsigned long b);
  void SetWriteOptions(unsigned long options);
  unsigned long GetWriteOptions() const { return m_windows1252 ? 0x80 : 0x4; }
  void SetEncoding(const wchar_t* encoding) { m_encoding = encoding ? encoding : L""; }
  std::wstring GetEncoding() const { return m_encoding; }

  std::wstring GetFileName() const { return m_fileName; }
  int IsModified() const { return m_modified; }
  void SetModified(int modified) { m_modified = modified; }
  int GetParserVersion() const { return m_parserVersion; }
  pugi::xml_document* GetIXMLDOMDocument2Ptr() const { return m_dom.get(); }

  // The document's text as bytes, the way Save writes it (formatted or plain).
  bool Serialize(std::string& bytes, bool formatted, const std::wstring& encoding) const;
  // Why the last Save or Serialize wrote nothing: a name (of an element, an attribute or a
  // processing instruction) or CDATA text with letters the target encoding lacks, which no
  // reader could read back ("" after a success or a failure of the file itself).
  const std::wstring& GetSaveError() const { return m_saveError; }

 private:
  friend class XMLNode;

  int CreateInstance();
  void Load(XMLNode* node);
  int SaveWithFormatted(const std::wstring& fileName, const std::wstring& encoding);
  static int SaveStreamToFile(const std::string& bytes, const std::wstring& fileName);
  // Writes through a temporary file beside fileName that is renamed over it when complete.
  static int SaveToFile(const std::wstring& fileName,
                        const std::function<bool(pugi::xml_writer&)>& produce);
  bool Write(pugi::xml_writer& writer, bool formatted, const std::wstring& encoding) const;

  // Parses a UTF-8 buffer allocated with pugixml's allocator (the document takes it over);
  // source gives the same text again for the position of an error.
  bool ParseUtf8(char* buffer, std::size_t size, const std::function<std::string()>& source);
  void SetError(const std::string& reason, const std::string* text, std::size_t offset);
  void Adopt(std::unique_ptr<pugi::xml_document> dom);
  void CopyFrom(const XMLDocument& source);
  void ReleaseTree();
  pugi::xml_node Limbo();
  MorlaneXml::NameTable& Names();
  void RegisterLoose(XMLNode* node) { m_loose.insert(node); }
  void UnregisterLoose(XMLNode* node) { m_loose.erase(node); }
  // Unbinds the nodes the caller holds whose DOM lies within `within` (all when it is empty),
  // before that DOM goes away.
  void UnbindLoose(pugi::xml_node within);

  int m_modified = 0;
  XMLNode* m_root = nullptr;
  int m_windows1252 = 0;
  std::wstring m_fileName;
  int m_parserVersion = 0;
  std::unique_ptr<pugi::xml_document> m_dom;
  pugi::xml_node m_limbo;  // holder of DOM nodes not yet inserted in the tree
  std::wstring m_encoding = L"UTF-16";
  int m_indent = 1;
  unsigned long m_indentA = 0;
  unsigned long m_indentB = 4;

  std::unordered_set<XMLNode*> m_loose;            // nodes that belong to no parent (the caller's)
  std::unique_ptr<MorlaneXml::NameTable> m_names;  // the names of the nodes, made on first use

  std::wstring m_errorReason;
  mutable std::wstring m_saveError;
  int m_errorLine = 0;
  int m_errorColumn = 0;
  std::wstring m_errorSource;
};
