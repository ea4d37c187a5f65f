// The installer's only access to XML: a document, its elements and lists of child nodes.
// Node and list objects are shared pointers that keep their part of the tree alive on their
// own; they cache nothing, so two node objects for one element see each other's changes.
#pragma once

#include "package/Variant.h"

#include <memory>
#include <string>
#include <string_view>

namespace CommonTools {

class ISettingsNode;
class ISettingsNodeList;
using SettingsNodePtr = std::shared_ptr<ISettingsNode>;
using SettingsNodeListPtr = std::shared_ptr<ISettingsNodeList>;

class ISettings {
 public:
  virtual bool Load(const std::wstring& path) = 0;
  virtual bool Save(const std::wstring& path) = 0;
  // The node that follows the document's first child (the declaration in front of the root).
  virtual bool GetRoot(SettingsNodePtr& node) = 0;
  // A new first node (the XML declaration) and then the element `name`.
  virtual bool CreateRoot(const std::wstring& name, SettingsNodePtr& node) = 0;
  virtual ~ISettings() = default;
};

class ISettingsNode {
 public:
  virtual std::wstring GetName() = 0;
  // The attribute as a string, or a copy of `def` (with its type) when the node is not an
  // element or has no such attribute. Attribute names match exactly.
  virtual Variant GetAttribute(const std::wstring& name, const Variant& def) = 0;
  // The same as text without a Variant, for readers of many values: true with the attribute's
  // text in `out`, or false (and `out` as it was) where GetAttribute would give its default.
  virtual bool GetAttributeText(std::wstring_view name, std::wstring& out) = 0;
  // The first child, in document order, whose name equals `name` without regard to case.
  virtual bool GetChild(const std::wstring& name, SettingsNodePtr& node) = 0;
  // Every child: elements, comments and non-blank text.
  virtual bool GetChildren(SettingsNodeListPtr& list) = 0;
  virtual bool SetAttribute(const std::wstring& name, const Variant& value) = 0;
  virtual bool CreateChild(const std::wstring& name, SettingsNodePtr& node) = 0;
  virtual bool RemoveChild(const SettingsNodePtr& node) = 0;
  virtual bool RemoveAttribute(const std::wstring& name) = 0;
  // The underlying node (for code that needs the tree itself); an opaque handle here.
  virtual const void* GetDomNode() = 0;
  virtual ~ISettingsNode() = default;
};

class ISettingsNodeList {
 public:
  virtual int GetCount() = 0;
  virtual bool GetItem(int index, SettingsNodePtr& node) = 0;
  // From startIndex on, the index of the first item whose name equals `name` without regard
  // to case, or -1.
  virtual int Find(const std::wstring& name, int startIndex, SettingsNodePtr& node) = 0;
  virtual int FindFirst(const std::wstring& name, SettingsNodePtr& node) {
    return Find(name, 0, node);
  }
  virtual ~ISettingsNodeList() = default;
};

// Helpers for callers: typed reads with the conventions every reader follows.
// A text attribute (default empty).
std::wstring GetText(const SettingsNodePtr& node, std::wstring_view name,
                     const std::wstring& def = L"");
// An integer attribute; a text that does not convert raises SettingsError.
int GetInt(const SettingsNodePtr& node, const std::wstring& name, int def);

}  // namespace CommonTools
