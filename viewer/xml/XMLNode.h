#pragma once
// One node of an XMLDocument: mirrors one node of the document's DOM (pugixml) and owns the
// XMLNode objects of its children. Names, texts and attributes with typed conversions; children
// are created, inserted, replaced, merged, copied and deleted in step with the DOM.
//
// Node types of this layer (unbound nodes): 1 element, 4 CDATA, 5 processing instruction,
// 6 comment, 7 text. A bound node reports the DOM's numbers: 1 element, 3 text, 4 CDATA section,
// 7 processing instruction, 8 comment.

#include "MorlaneExport.h"

#include <pugixml.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class XMLDocument;

#ifndef MORLANE_COLORREF_DEFINED
#define MORLANE_COLORREF_DEFINED
using COLORREF = std::uint32_t;
#endif

class XMLNode;

namespace MorlaneXml {
struct NameEntry;

// The memory of child lists: short lists lie in the same chunks as the nodes (next to the nodes
// they list, and with no call of the system's allocator), long ones on the heap.
struct ChildListMemory {
  static void* Take(std::size_t bytes);
  static void Give(void* block, std::size_t bytes) noexcept;
};

template <class T>
struct ChildListAllocator {
  using value_type = T;
  ChildListAllocator() = default;
  template <class U>
  ChildListAllocator(const ChildListAllocator<U>&) {}
  T* allocate(std::size_t n) { return static_cast<T*>(ChildListMemory::Take(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { ChildListMemory::Give(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const ChildListAllocator<U>&) const {
    return true;
  }
};
}  // namespace MorlaneXml

class MORLANE_API XMLNode {
 public:
  // Layer type numbers.
  enum { eElement = 1, eCDATA = 4, eProcessingInstruction = 5, eComment = 6, eText = 7 };
  // DOM type numbers.
  enum {
    eDomElement = 1,
    eDomText = 3,
    eDomCDATA = 4,
    eDomProcessingInstruction = 7,
    eDomComment = 8,
    eDomDocumentType = 10
  };

  // An unbound node of document with that tag and type. The node is the caller's until it is
  // added to a parent; one that is never added must be deleted by the caller (before its
  // document).
  XMLNode(XMLDocument* document, const wchar_t* tag, int type);
  // A new node of the same document holding a copy of source (attributes, text, children).
  XMLNode(const XMLNode& source);
  XMLNode& operator=(const XMLNode&) = delete;
  ~XMLNode();

  // Nodes come from a per-thread pool: a loaded document makes and frees them by the million.
  static void* operator new(std::size_t size);
  static void operator delete(void* block, std::size_t size) noexcept;

  void SetXMLDOMElement(pugi::xml_node dom);
  pugi::xml_node GetXMLDOMElement() const { return m_dom; }
  bool IsBound() const { return static_cast<bool>(m_dom); }

  // The name as a reference that stays valid while the node keeps its name and its document
  // lives (names are kept once per document).
  const std::wstring& GetTag() const;
  // Renames the node. A bound element keeps its attributes, text and children (and every
  // XMLNode pointer to them stays valid).
  void SetTag(const std::wstring& tag);
  unsigned long GetType() const;
  void SetType(unsigned long type);
  std::wstring GetTypeString() const;
  static std::wstring GetTypeStringByID(unsigned long type);

  // The text of the node and its descendants.
  std::wstring GetTagValue() const;
  void GetContents(std::wstring& contents) const { contents = GetTagValue(); }
  // Replaces the node's content by one text node (an element's children are deleted, their
  // XMLNode objects too). Binds an unbound node first.
  void SetTagValue(const std::wstring& value);
  void SetTagValue(const wchar_t* value) { SetTagValue(std::wstring(value ? value : L"")); }
  void SetTagValue(int value);
  void SetTagValue(double value);
  void SetContents(const wchar_t* value) { SetTagValue(value); }

  int GetChildCount() const;
  XMLNode* GetChild(int index) const;
  // First child whose tag equals tag without regard to case.
  XMLNode* GetChild(std::wstring_view tag) const;
  XMLNode* GetChild(const wchar_t* tag) const {
    return GetChild(tag ? std::wstring_view(tag) : std::wstring_view());
  }
  XMLNode* GetParent() const { return m_parent; }

  XMLNode* NewChild(const wchar_t* tag, int type = eElement, pugi::xml_node dom = pugi::xml_node());
  int AddChild(XMLNode* child, int attach = 1);
  int InsertChild(XMLNode* child, XMLNode* before, int attach = 1);
  int ReplaceChild(XMLNode* newChild, XMLNode* oldChild);
  int MergeChild(const XMLNode* source);
  int Copy(const XMLNode* source, int keepTag = 0);
  void DeleteChild(XMLNode* child);
  void DeleteAllChild();
  // Empties the child list without deleting the children; they become the caller's.
  void ClearChilds();

  int GetAttrCount() const;
  bool GetAttr(int index, std::wstring& name, std::wstring& value) const;
  std::wstring GetStrAttr(std::wstring_view name,
                          const std::wstring& defaultValue = std::wstring()) const;
  // A value that is not a number that fits an int gives the default.
  int GetIntAttr(std::wstring_view name, int defaultValue = 0) const;
  double GetDblAttr(std::wstring_view name, double defaultValue = 0.0) const;
  // "#" is 0xFFFFFFFF; "#rrggbb" a colour; missing, empty or not "#" + hex digits: the default.
  COLORREF GetColorAttr(std::wstring_view name, COLORREF defaultValue = 0) const;

  void AddAttribute(const std::wstring& name, const std::wstring& value);
  void AddAttr(const std::wstring& name, const std::wstring& value) { AddAttribute(name, value); }
  void AddAttr(const std::wstring& name, const wchar_t* value) {
    AddAttribute(name, value ? value : L"");
  }
  void AddAttr(const std::wstring& name, int value);
  void AddAttr(const std::wstring& name, double value);
  void AddAttr(const std::wstring& name, COLORREF colour) { AddColorAttr(name, colour); }
  void AddColorAttr(const std::wstring& name, COLORREF colour);
  void AddStrAttr(const wchar_t* name, const wchar_t* value, const wchar_t* defaultValue);
  void AddIntAttr(const wchar_t* name, int value, int defaultValue);
  void AddDblAttr(const wchar_t* name, double value, double defaultValue);
  void DeleteAttr(const std::wstring& name);
  void DeleteAllAttr();

  XMLDocument* GetParentDocument() const { return m_document; }
  void SetParentDocument(XMLDocument* document);

  // The text form of doubles: fixed notation for 1e-7 < |x| < 1e7, "0" below 1e-206, otherwise
  // the exponent form with a sign and three exponent digits (1e-009, 1.2345678e+007); in each
  // case the shortest text that reads back as the same value.
  static std::wstring FormatDouble(double value);
  static std::wstring FormatColor(COLORREF colour);

  // When set, AddStrAttr/AddIntAttr/AddDblAttr also write values equal to their default.
  static int s_bVerboseOut;

 protected:
  pugi::xml_node CreateIXMLDOMElement(const wchar_t* name);
  pugi::xml_attribute GetAttributeInTemporaryPtr(std::wstring_view name) const;
  void RemoveChild(XMLNode* child);  // takes child out of the list, without deleting it
  void DestroyChildren();

 private:
  friend class XMLDocument;
  struct LoadTag {};
  XMLNode(LoadTag, XMLDocument* document, pugi::xml_node dom, XMLNode* parent);

  bool EnsureBound();
  bool AttachDom(XMLNode* child, XMLNode* before);
  int CopyContent(const XMLNode* source);
  void SetParent(XMLNode* parent);
  static void DestroySubtree(XMLNode* top);
  // What the destructor does for a node still linked: out of its parent, its document and the
  // DOM's holder of detached nodes, with its subtree.
  void Unlink();
  bool IsAncestorOrSelf(const XMLNode* node) const;
  // Makes the XMLNode objects of the DOM children of a loaded node, once.
  void Materialize() const {
    if (!m_childrenBuilt) BuildChildren();
  }
  void BuildChildren() const;
  // The kept name of a bound node (null when the document keeps no more names).
  const MorlaneXml::NameEntry* NameOf() const;
  std::wstring& TagStore() const;

  // The tag of an unbound node, or of a bound one when no name is kept; made when first needed,
  // so that the nodes of a loaded tree (which read their names from the document) stay small.
  mutable std::unique_ptr<std::wstring> m_tag;
  mutable const MorlaneXml::NameEntry* m_name = nullptr;  // kept by m_document
  using ChildList = std::vector<XMLNode*, MorlaneXml::ChildListAllocator<XMLNode*>>;

  mutable ChildList m_children;
  pugi::xml_node m_dom;
  std::uint32_t m_type = 0;
  mutable bool m_childrenBuilt = true;  // false until the children of a loaded node are made
  XMLDocument* m_document = nullptr;
  XMLNode* m_parent = nullptr;  // the node whose list holds this one
};

// Ties an XMLNode to an archive object while a model is read or written.
class MORLANE_API CXMLArchiveNode {
 public:
  // Always a new child element named name of parent.
  CXMLArchiveNode(void* archive, XMLNode* parent, const wchar_t* name);
  // With reuse set, an existing child of that name (without regard to case) is taken first.
  CXMLArchiveNode(void* archive, XMLNode* parent, const wchar_t* name, bool reuse);
  virtual ~CXMLArchiveNode();

  XMLNode* GetNode() const { return m_node; }
  void* GetArchive() const { return m_archive; }
  // Attribute exchange: storing writes value; loading reads it (empty default).
  void ExchangeAttr(bool storing, const wchar_t* name, std::wstring& value) const;

 private:
  XMLNode* m_node = nullptr;
  void* m_archive = nullptr;
};
