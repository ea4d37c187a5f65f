#include "package/XmlSettings.h"

#include "package/FileAccess.h"
#include "platform/Text.h"

#include <pugixml.hpp>

#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <vector>

namespace CommonTools {

// Every change to the children of any node of the tree counts one; node lists index their
// children once and index again only when the count has moved.
struct XmlTree : pugi::xml_document {
  std::uint64_t childChanges = 0;
  std::string source;  // the UTF-8 text the tree was parsed from
};

namespace {

// Node kinds the tree shows: what the platform parser keeps as nodes.
const unsigned kParseOptions =
    pugi::parse_cdata | pugi::parse_escapes | pugi::parse_wconv_attribute | pugi::parse_eol |
    pugi::parse_declaration | pugi::parse_comments | pugi::parse_pi | pugi::parse_doctype;

std::wstring NodeName(const pugi::xml_node& n) {
  switch (n.type()) {
    case pugi::node_pcdata: return L"#text";
    case pugi::node_cdata: return L"#cdata-section";
    case pugi::node_comment: return L"#comment";
    case pugi::node_declaration: return L"xml";
    case pugi::node_document: return L"#document";
    default: return FromUtf8(n.name());
  }
}

// The element's attribute named exactly `name`. A name of plain ASCII is compared with the
// stored UTF-8 names as it stands; any other is converted to UTF-8 first.
pugi::xml_attribute FindAttribute(const pugi::xml_node& node, std::wstring_view name) {
  const bool ascii = !name.empty() && std::all_of(name.begin(), name.end(),
                                                  [](wchar_t c) { return c > 0 && c < 0x80; });
  if (!ascii) return node.attribute(platform::ToUtf8(name).c_str());
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    const char* stored = a.name();
    std::size_t i = 0;
    while (i < name.size() && static_cast<unsigned char>(stored[i]) == name[i]) ++i;
    if (i == name.size() && stored[i] == '\0') return a;
  }
  return {};
}

class CXmlSettingsNode : public ISettingsNode,
                         public std::enable_shared_from_this<CXmlSettingsNode> {
 public:
  CXmlSettingsNode(std::shared_ptr<XmlTree> doc, pugi::xml_node node)
      : m_doc(std::move(doc)), m_node(node) {}

  pugi::xml_node node() const { return m_node; }
  const std::shared_ptr<XmlTree>& doc() const { return m_doc; }

  std::wstring GetName() override { return NodeName(m_node); }

  Variant GetAttribute(const std::wstring& name, const Variant& def) override {
    if (m_node.type() != pugi::node_element) return def;
    pugi::xml_attribute a = FindAttribute(m_node, name);
    if (!a) return def;
    return Variant(FromUtf8(a.value()));
  }

  bool GetAttributeText(std::wstring_view name, std::wstring& out) override {
    if (m_node.type() != pugi::node_element) return false;
    pugi::xml_attribute a = FindAttribute(m_node, name);
    if (!a) return false;
    out = platform::FromUtf8(a.value());
    return true;
  }

  bool GetChild(const std::wstring& name, SettingsNodePtr& out) override {
    for (pugi::xml_node c = m_node.first_child(); c; c = c.next_sibling()) {
      if (EqualNoCase(NodeName(c), name)) {
        out = std::make_shared<CXmlSettingsNode>(m_doc, c);
        return true;
      }
    }
    return false;
  }

  bool GetChildren(SettingsNodeListPtr& out) override;

  bool SetAttribute(const std::wstring& name, const Variant& value) override {
    if (m_node.type() != pugi::node_element || name.empty()) return false;
    std::string n = ToUtf8(name);
    pugi::xml_attribute a = m_node.attribute(n.c_str());
    if (!a) a = m_node.append_attribute(n.c_str());
    return a && a.set_value(ToUtf8(value.toString()).c_str());
  }

  bool CreateChild(const std::wstring& name, SettingsNodePtr& out) override {
    if ((m_node.type() != pugi::node_element && m_node.type() != pugi::node_document) ||
        name.empty())
      return false;
    pugi::xml_node c = m_node.append_child(ToUtf8(name).c_str());
    if (!c) return false;
    ++m_doc->childChanges;
    out = std::make_shared<CXmlSettingsNode>(m_doc, c);
    return true;
  }

  bool RemoveChild(const SettingsNodePtr& child) override {
    auto* other = dynamic_cast<CXmlSettingsNode*>(child.get());
    if (!other || other->m_node.parent() != m_node) return false;
    ++m_doc->childChanges;
    return m_node.remove_child(other->m_node);
  }

  bool RemoveAttribute(const std::wstring& name) override {
    if (m_node.type() != pugi::node_element) return false;
    return m_node.remove_attribute(ToUtf8(name).c_str());
  }

  const void* GetDomNode() override { return m_node.internal_object(); }

 private:
  std::shared_ptr<XmlTree> m_doc;
  pugi::xml_node m_node;
};

// A live view of an element's children, as the platform's node lists are. The children are
// indexed on first use, so a loop over the items costs one walk of the siblings, not one per
// item; a change to the tree's children (through any node object) makes the next call index again.
class CXmlSettingsNodeList : public ISettingsNodeList {
 public:
  CXmlSettingsNodeList(std::shared_ptr<XmlTree> doc, pugi::xml_node parent)
      : m_doc(std::move(doc)), m_parent(parent) {}

  int GetCount() override { return static_cast<int>(Children().size()); }

  bool GetItem(int index, SettingsNodePtr& out) override {
    const std::vector<pugi::xml_node>& children = Children();
    if (index < 0 || static_cast<std::size_t>(index) >= children.size()) return false;
    out = std::make_shared<CXmlSettingsNode>(m_doc, children[static_cast<std::size_t>(index)]);
    return true;
  }

  int Find(const std::wstring& name, int startIndex, SettingsNodePtr& out) override {
    const std::vector<pugi::xml_node>& children = Children();
    for (std::size_t i = startIndex < 0 ? 0 : static_cast<std::size_t>(startIndex);
         i < children.size(); ++i) {
      if (EqualNoCase(NodeName(children[i]), name)) {
        out = std::make_shared<CXmlSettingsNode>(m_doc, children[i]);
        return static_cast<int>(i);
      }
    }
    return -1;
  }

 private:
  const std::vector<pugi::xml_node>& Children() {
    if (!m_indexed || m_indexedAt != m_doc->childChanges) {
      m_children.clear();
      for (pugi::xml_node c = m_parent.first_child(); c; c = c.next_sibling())
        m_children.push_back(c);
      m_indexedAt = m_doc->childChanges;
      m_indexed = true;
    }
    return m_children;
  }

  std::shared_ptr<XmlTree> m_doc;
  pugi::xml_node m_parent;
  std::vector<pugi::xml_node> m_children;
  std::uint64_t m_indexedAt = 0;
  bool m_indexed = false;
};

bool CXmlSettingsNode::GetChildren(SettingsNodeListPtr& out) {
  if (m_node.type() != pugi::node_element && m_node.type() != pugi::node_document) return false;
  out = std::make_shared<CXmlSettingsNodeList>(m_doc, m_node);
  return true;
}

bool Iconv(const std::string& from, const char* fromCode, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", fromCode);
  if (cd == (iconv_t)-1) return false;
  out.clear();
  std::string in = from;
  char* ip = in.data();
  size_t il = in.size();
  std::string buf(in.size() * 4 + 16, '\0');
  char* op = buf.data();
  size_t ol = buf.size();
  size_t r = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (r == (size_t)-1) return false;
  buf.resize(buf.size() - ol);
  out = std::move(buf);
  return true;
}

void LineColumn(const std::string& text, size_t offset, int& line, int& column) {
  line = 1;
  column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
  }
}

// The encoding named by an ASCII-compatible XML declaration, upper-cased; empty without one.
std::string DeclaredEncoding(const std::string& bytes) {
  if (bytes.compare(0, 5, "<?xml") != 0) return {};
  size_t end = bytes.find("?>");
  if (end == std::string::npos) return {};
  std::string decl = bytes.substr(0, end);
  size_t e = decl.find("encoding");
  if (e == std::string::npos) return {};
  size_t q = decl.find_first_of("\"'", e);
  if (q == std::string::npos) return {};
  size_t q2 = decl.find(decl[q], q + 1);
  if (q2 == std::string::npos) return {};
  std::string name = decl.substr(q + 1, q2 - q - 1);
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return name;
}

class StringWriter : public pugi::xml_writer {
 public:
  std::string data;
  void write(const void* d, size_t size) override {
    data.append(static_cast<const char*>(d), size);
  }
};

}  // namespace

std::string ToUtf8(const std::wstring& s) { return platform::ToUtf8(s); }
std::wstring FromUtf8(const std::string& s) { return platform::FromUtf8(s); }
bool EqualNoCase(const std::wstring& a, const std::wstring& b) {
  return platform::EqualsNoCase(a, b);
}

bool XmlBytesToUtf8(const std::string& bytes, std::string& utf8, std::wstring& error) {
  auto starts = [&](const char* sig, size_t n) {
    return bytes.size() >= n && std::memcmp(bytes.data(), sig, n) == 0;
  };
  if (starts("\xEF\xBB\xBF", 3)) {
    utf8 = bytes.substr(3);
  } else if (starts("\xFF\xFE", 2) || starts("<\0?\0", 4)) {
    if (!Iconv(bytes.substr(starts("\xFF\xFE", 2) ? 2 : 0), "UTF-16LE", utf8)) {
      error = L"invalid UTF-16 text";
      return false;
    }
  } else if (starts("\xFE\xFF", 2) || starts("\0<\0?", 4)) {
    if (!Iconv(bytes.substr(starts("\xFE\xFF", 2) ? 2 : 0), "UTF-16BE", utf8)) {
      error = L"invalid UTF-16 text";
      return false;
    }
  } else {
    std::string enc = DeclaredEncoding(bytes);
    if (enc.empty() || enc == "UTF-8" || enc == "UTF8" || enc == "US-ASCII" || enc == "ASCII" ||
        enc == "UTF-16" || enc == "UNICODE") {
      utf8 = bytes;
    } else if (!Iconv(bytes, enc.c_str(), utf8)) {
      error =
          L"the encoding \"" + FromUtf8(enc) + L"\" is not supported or the text does not match it";
      return false;
    }
  }
  const size_t bad = platform::InvalidUtf8At(utf8);
  if (bad != std::string::npos) {
    int line = 0, column = 0;
    LineColumn(utf8, bad, line, column);
    error = L"line " + std::to_wstring(line) + L", column " + std::to_wstring(column) +
            L": an invalid character was found in text content";
    return false;
  }
  return true;
}

CXmlSettings::CXmlSettings()
    : m_doc(std::make_shared<XmlTree>()), m_readLimit(kMaxSettingsFileBytes) {}
CXmlSettings::~CXmlSettings() = default;

bool CXmlSettings::LoadFromBytes(const std::string& bytes) {
  m_error.clear();
  // A fresh tree, so that nodes handed out before keep the old one.
  m_doc = std::make_shared<XmlTree>();
  std::string utf8;
  if (!XmlBytesToUtf8(bytes, utf8, m_error)) return false;
  pugi::xml_parse_result r =
      m_doc->load_buffer(utf8.data(), utf8.size(), kParseOptions, pugi::encoding_utf8);
  m_doc->source = std::move(utf8);
  const std::string& text = m_doc->source;
  if (!r) {
    int line = 0, column = 0;
    LineColumn(text, static_cast<size_t>(r.offset), line, column);
    m_error = L"line " + std::to_wstring(line) + L", column " + std::to_wstring(column) + L": " +
              FromUtf8(r.description());
    m_doc->reset();
    return false;
  }
  if (!m_doc->document_element()) {
    m_error = L"the document has no element";
    m_doc->reset();
    return false;
  }
  return true;
}

bool CXmlSettings::Load(const std::wstring& path) {
  m_path = path;
  std::string bytes;
  std::wstring error;
  if (!FileAccess::ReadAll(path, bytes, error, m_readLimit)) {
    m_doc = std::make_shared<XmlTree>();
    m_error = error;
    return false;
  }
  return LoadFromBytes(bytes);
}

std::string CXmlSettings::SaveToBytes() const {
  // The writer puts its own declaration first; the document's declaration is not repeated.
  StringWriter w;
  for (pugi::xml_node n = m_doc->first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_declaration) continue;
    n.print(w, "\t", pugi::format_indent, pugi::encoding_utf8);
  }
  std::string utf8 = "<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"yes\"?>\n" + w.data;
  return std::string("\xFF\xFE", 2) + platform::ToUtf16LEBytes(platform::FromUtf8(utf8));
}

bool CXmlSettings::Save(const std::wstring& path) {
  if (!m_doc || path.empty() || !m_doc->first_child()) return false;
  size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 0) {
    std::wstring folder = path.substr(0, slash);
    if (!(folder.size() == 2 && folder[1] == L':')) FileAccess::CreateFolderTree(folder);
  }
  std::wstring error;
  if (!FileAccess::WriteAll(path, SaveToBytes(), error)) {
    LogLine(LogLevel::Error, L"Save With Formatted( " + path + L" ) failed:" + error);
    return false;
  }
  return true;
}

bool CXmlSettings::GetRoot(SettingsNodePtr& node) {
  pugi::xml_node first = m_doc->first_child();
  if (!first) return false;
  pugi::xml_node root = first.next_sibling();
  if (!root) return false;
  node = std::make_shared<CXmlSettingsNode>(m_doc, root);
  return true;
}

const std::string& CXmlSettings::SourceText() const { return m_doc->source; }

long CXmlSettings::SourceOffset(const SettingsNodePtr& node) const {
  auto* own = dynamic_cast<CXmlSettingsNode*>(node.get());
  if (!own || own->doc() != m_doc) return -1;
  std::ptrdiff_t at = own->node().offset_debug();
  if (at < 0 || static_cast<std::size_t>(at) > m_doc->source.size()) return -1;
  // An element's offset is that of its name; step back to its "<".
  if (own->node().type() == pugi::node_element && at > 0 && m_doc->source[at - 1] == '<') --at;
  return static_cast<long>(at);
}

bool CXmlSettings::GetDocumentElement(SettingsNodePtr& node) {
  pugi::xml_node e = m_doc->document_element();
  if (!e) return false;
  node = std::make_shared<CXmlSettingsNode>(m_doc, e);
  return true;
}

bool CXmlSettings::CreateRoot(const std::wstring& name, SettingsNodePtr& node) {
  if (name.empty()) return false;
  ++m_doc->childChanges;
  pugi::xml_node decl = m_doc->append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  pugi::xml_node root = m_doc->append_child(ToUtf8(name).c_str());
  if (!root) return false;
  node = std::make_shared<CXmlSettingsNode>(m_doc, root);
  return true;
}

std::wstring GetText(const SettingsNodePtr& node, std::wstring_view name, const std::wstring& def) {
  std::wstring text;
  if (!node || !node->GetAttributeText(name, text)) return def;
  return text;
}

int GetInt(const SettingsNodePtr& node, const std::wstring& name, int def) {
  if (!node) return def;
  return node->GetAttribute(name, Variant(def)).toInt();
}

}  // namespace CommonTools
