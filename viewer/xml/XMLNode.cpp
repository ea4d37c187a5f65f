#include "xml/XMLNode.h"

#include "xml/XMLDocument.h"
#include "xml/XmlNames.h"
#include "xml/XmlText.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <type_traits>

using MorlaneText::EqualsNoCase;
using MorlaneText::FromUtf8;
using MorlaneText::IsWithin;
using MorlaneText::ToUtf8;

int XMLNode::s_bVerboseOut = 0;

namespace {

// A DOM handle is one pointer to the parser's node, null for no node (the handle is made to be
// passed by value). Read and cleared here without a call into the parser's library, which a
// walk over a large tree would make for every node.
static_assert(sizeof(pugi::xml_node) == sizeof(void*) &&
              std::is_trivially_copyable_v<pugi::xml_node>);

inline bool HasNode(const pugi::xml_node& node) {
  const void* object;
  std::memcpy(&object, &node, sizeof object);
  return object != nullptr;
}

inline void ClearNode(pugi::xml_node& node) {
  const void* none = nullptr;
  std::memcpy(static_cast<void*>(&node), &none, sizeof none);
}

}  // namespace

namespace {

unsigned long DomType(const pugi::xml_node& n) {
  switch (n.type()) {
    case pugi::node_element: return XMLNode::eDomElement;
    case pugi::node_pcdata: return XMLNode::eDomText;
    case pugi::node_cdata: return XMLNode::eDomCDATA;
    case pugi::node_pi:
    case pugi::node_declaration: return XMLNode::eDomProcessingInstruction;
    case pugi::node_comment: return XMLNode::eDomComment;
    case pugi::node_doctype: return XMLNode::eDomDocumentType;
    case pugi::node_document: return 9;
    default: return 0;
  }
}

const wchar_t* DomTypeString(const pugi::xml_node& n) {
  switch (n.type()) {
    case pugi::node_element: return L"element";
    case pugi::node_pcdata: return L"text";
    case pugi::node_cdata: return L"cdatasection";
    case pugi::node_pi:
    case pugi::node_declaration: return L"processinginstruction";
    case pugi::node_comment: return L"comment";
    case pugi::node_doctype: return L"documenttype";
    case pugi::node_document: return L"document";
    default: return L"";
  }
}

// The DOM name of a node, as UTF-8.
std::string DomName(const pugi::xml_node& n) {
  switch (n.type()) {
    case pugi::node_element:
    case pugi::node_pi: return n.name();
    case pugi::node_declaration: return "xml";
    case pugi::node_pcdata: return "#text";
    case pugi::node_cdata: return "#cdata-section";
    case pugi::node_comment: return "#comment";
    case pugi::node_document: return "#document";
    case pugi::node_doctype: {
      std::string v = n.value();
      const std::size_t end = v.find_first_of(" \t\r\n[");
      return end == std::string::npos ? v : v.substr(0, end);
    }
    default: return std::string();
  }
}

bool IsNameStart(char32_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0xC0;
}

bool IsNameChar(char32_t c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 0xB7;
}

// A name the serialiser can write back as a name (the XML Name production, with every character
// from U+00C0 up allowed).
bool IsXmlName(const std::wstring& name) {
  if (name.empty() || !IsNameStart(static_cast<char32_t>(name[0]))) return false;
  for (wchar_t c : name) {
    if (!IsNameChar(static_cast<char32_t>(c))) return false;
  }
  return true;
}

// Text of a node and its descendants (text and CDATA), in document order, without recursion.
std::wstring DescendantText(const pugi::xml_node& top) {
  const pugi::xml_node first = top.first_child();
  if (!first) return std::wstring();
  if (!first.next_sibling()) {
    // Mostly one text child, read straight into the result.
    const pugi::xml_node_type type = first.type();
    if (type == pugi::node_pcdata || type == pugi::node_cdata) return FromUtf8(first.value());
    if (type != pugi::node_element) return std::wstring();
  }
  std::string out;
  pugi::xml_node n = top.first_child();
  while (n) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) out += n.value();
    n = MorlaneText::NextInDocument(n, top, n.type() == pugi::node_element);
  }
  return FromUtf8(out);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Allocation

namespace {

// Nodes are handed out one after the other from chunks of kChunkBytes, aligned to their size so
// that a node finds its chunk from its address: the nodes made together (the children of one node
// as a loaded document is walked) lie side by side, and a walk reads them in that order. A chunk
// counts the nodes it still has to take back: all its slots when it is taken into use, less each
// node freed (on whichever thread) and, when its thread ends, the slots never handed out. At zero
// the chunk goes back to the system.
constexpr std::size_t kChunkBytes = 256 * 1024;
// Nodes and lists of node pointers are all the chunks hold: both need no more than a pointer's
// alignment, and a node takes no more room than its size.
constexpr std::size_t kAlign = alignof(void*);
static_assert(alignof(XMLNode) <= kAlign && sizeof(XMLNode) % kAlign == 0);

struct ChunkHeader {
  std::atomic<std::size_t> pending;
};
constexpr std::size_t kHeaderBytes = (sizeof(ChunkHeader) + kAlign - 1) / kAlign * kAlign;
// A chunk's count while its thread still hands out from it: more than it can ever hand out.
constexpr std::size_t kOpen = std::size_t(1) << 40;
// Lists up to this size are taken from the chunks.
constexpr std::size_t kMaxListBytes = 512;

ChunkHeader* ChunkOf(const void* block) {
  return reinterpret_cast<ChunkHeader*>(reinterpret_cast<std::uintptr_t>(block) &
                                        ~static_cast<std::uintptr_t>(kChunkBytes - 1));
}

void ReleaseBlocks(ChunkHeader* chunk, std::size_t count);

// Chunks that came back are kept for the next nodes of their thread, up to kKeptChunks (a
// document loaded after another then finds its memory ready, without the system clearing it).
constexpr std::size_t kKeptChunks = 64;

struct NodeChunks {
  ChunkHeader* current = nullptr;
  std::size_t offset = kChunkBytes;  // bytes of current handed out
  std::size_t handed = 0;            // blocks of current handed out
  std::vector<void*> kept;
  bool ended = false;

  void* Take(std::size_t bytes) { return TakeRun(bytes, 1); }
  // count blocks of bytes each, side by side in one chunk (bytes * count fits in a chunk); each
  // is given back on its own.
  void* TakeRun(std::size_t bytes, std::size_t count) {
    bytes = (bytes + kAlign - 1) / kAlign * kAlign * count;
    if (offset + bytes > kChunkBytes) {
      Retire();
      void* memory = nullptr;
      if (!kept.empty()) {
        memory = kept.back();
        kept.pop_back();
      } else {
        memory = std::aligned_alloc(kChunkBytes, kChunkBytes);
        if (!memory) throw std::bad_alloc();
      }
      current = new (memory) ChunkHeader{kOpen};
      offset = kHeaderBytes;
      handed = 0;
    }
    void* block = reinterpret_cast<char*>(current) + offset;
    offset += bytes;
    handed += count;
    return block;
  }
  // The chunk's count becomes the number of its blocks still in use.
  void Retire() {
    ChunkHeader* last = current;
    current = nullptr;
    offset = kChunkBytes;
    if (last) ReleaseBlocks(last, kOpen - handed);
  }
  void Give(ChunkHeader* chunk) {
    chunk->~ChunkHeader();
    if (!ended && kept.size() < kKeptChunks) {
      kept.push_back(chunk);
      return;
    }
    std::free(chunk);
  }
  ~NodeChunks() {
    ended = true;  // a node made after this (at exit) starts a chunk of its own
    for (void* chunk : kept) std::free(chunk);
    kept.clear();
    Retire();
  }
};

thread_local NodeChunks t_chunks;

void ReleaseBlocks(ChunkHeader* chunk, std::size_t count) {
  if (chunk->pending.fetch_sub(count, std::memory_order_acq_rel) == count) t_chunks.Give(chunk);
}

// Under the address sanitizer every node is an allocation of its own, so that a node used after
// its deletion is caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUseChunks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUseChunks = false;
#else
constexpr bool kUseChunks = true;
#endif
#else
constexpr bool kUseChunks = true;
#endif

// Gives back the memory of destroyed nodes, one count per run of nodes of the same chunk.
class NodeReleaser {
 public:
  NodeReleaser() = default;
  NodeReleaser(const NodeReleaser&) = delete;
  NodeReleaser& operator=(const NodeReleaser&) = delete;
  ~NodeReleaser() { Flush(); }
  void Add(void* block) {
    if (!kUseChunks) {
      ::operator delete(block);
      return;
    }
    ChunkHeader* chunk = ChunkOf(block);
    if (chunk != m_chunk) {
      Flush();
      m_chunk = chunk;
    }
    ++m_count;
  }

 private:
  void Flush() {
    if (m_count) ReleaseBlocks(m_chunk, m_count);
    m_count = 0;
  }
  ChunkHeader* m_chunk = nullptr;
  std::size_t m_count = 0;
};

// While a tree is destroyed, the lists of its nodes join the release of the nodes (a list lies
// in the chunk of the nodes made with it), instead of a count given back for each list.
thread_local NodeReleaser* t_releaser = nullptr;

class ReleaseLists {
 public:
  explicit ReleaseLists(NodeReleaser& release) : m_previous(t_releaser) { t_releaser = &release; }
  ReleaseLists(const ReleaseLists&) = delete;
  ReleaseLists& operator=(const ReleaseLists&) = delete;
  ~ReleaseLists() { t_releaser = m_previous; }

 private:
  NodeReleaser* m_previous;
};

}  // namespace

void* XMLNode::operator new(std::size_t size) {
  if (!kUseChunks || size != sizeof(XMLNode)) return ::operator new(size);
  return t_chunks.Take(size);
}

void XMLNode::operator delete(void* block, std::size_t size) noexcept {
  if (!block) return;
  if (!kUseChunks || size != sizeof(XMLNode)) {
    ::operator delete(block);
    return;
  }
  ReleaseBlocks(ChunkOf(block), 1);
}

void* MorlaneXml::ChildListMemory::Take(std::size_t bytes) {
  if (!kUseChunks || bytes > kMaxListBytes) return ::operator new(bytes);
  return t_chunks.Take(bytes);
}

void MorlaneXml::ChildListMemory::Give(void* block, std::size_t bytes) noexcept {
  if (!block) return;
  if (!kUseChunks || bytes > kMaxListBytes) {
    ::operator delete(block);
    return;
  }
  if (t_releaser) {
    t_releaser->Add(block);
    return;
  }
  ReleaseBlocks(ChunkOf(block), 1);
}

// ---------------------------------------------------------------------------------------------
// Construction and lifetime

XMLNode::XMLNode(XMLDocument* document, const wchar_t* tag, int type)
    : m_tag(tag && *tag ? std::make_unique<std::wstring>(tag) : nullptr),
      m_type(static_cast<std::uint32_t>(type)),
      m_document(document) {
  if (m_document) m_document->RegisterLoose(this);
}

XMLNode::XMLNode(LoadTag, XMLDocument* document, pugi::xml_node dom, XMLNode* parent)
    : m_dom(dom),  // the type is the DOM's (GetType) while the node is bound
      m_childrenBuilt(false),
      m_document(document),
      m_parent(parent) {}

void XMLNode::BuildChildren() const {
  m_childrenBuilt = true;
  if (!HasNode(m_dom)) return;
  // The DOM children once, then the list at its length and the nodes side by side.
  thread_local std::vector<pugi::xml_node> found;
  found.clear();
  for (pugi::xml_node c = m_dom.first_child(); HasNode(c); c = c.next_sibling()) found.push_back(c);
  if (found.empty()) return;
  m_children.reserve(m_children.size() + found.size());
  XMLNode* self = const_cast<XMLNode*>(this);
  // The nodes in one run of a chunk when they fit in one (each is deleted on its own later).
  constexpr std::size_t kMaxRun = (kChunkBytes - kHeaderBytes) / sizeof(XMLNode);
  if (kUseChunks && found.size() <= kMaxRun) {
    XMLNode* run = static_cast<XMLNode*>(t_chunks.TakeRun(sizeof(XMLNode), found.size()));
    for (const pugi::xml_node& c : found)
      m_children.push_back(::new (static_cast<void*>(run++))
                               XMLNode(LoadTag{}, m_document, c, self));
  } else {
    for (const pugi::xml_node& c : found)
      m_children.push_back(new XMLNode(LoadTag{}, m_document, c, self));
  }
  if (found.capacity() > 4096) found = std::vector<pugi::xml_node>();  // keeps no large list
}

int XMLNode::GetChildCount() const {
  Materialize();
  return static_cast<int>(m_children.size());
}

XMLNode::XMLNode(const XMLNode& source)
    : m_tag(std::make_unique<std::wstring>(source.GetTag())),
      m_type(static_cast<std::uint32_t>(source.GetType())),
      m_document(source.m_document) {
  if (!m_document) return;
  m_document->RegisterLoose(this);
  if (!source.m_dom || !m_document->m_dom) return;
  pugi::xml_node limbo = m_document->Limbo();
  pugi::xml_node created = limbo.append_child(source.m_dom.type());
  if (!created) return;
  if (source.m_dom.type() == pugi::node_element || source.m_dom.type() == pugi::node_pi)
    created.set_name(source.m_dom.name());
  SetXMLDOMElement(created);
  Copy(&source, 1);
}

XMLNode::~XMLNode() {
  // A node of a tree being destroyed (DestroySubtree) has been unlinked already: nothing to do.
  if (m_parent || m_document || HasNode(m_dom) || !m_children.empty()) Unlink();
}

void XMLNode::Unlink() {
  if (m_parent) {
    auto& list = m_parent->m_children;
    auto it = std::find(list.rbegin(), list.rend(), this);
    if (it != list.rend()) list.erase(std::next(it).base());
    m_parent = nullptr;
  }
  if (m_document) {
    m_document->UnregisterLoose(this);
    pugi::xml_node limbo = m_document->m_limbo;
    if (m_dom && limbo && m_dom.parent() == limbo) {
      // A node that never joined the tree takes its DOM node with it.
      m_document->UnbindLoose(m_dom);
      limbo.remove_child(m_dom);
    }
  }
  m_dom = pugi::xml_node();
  DestroySubtree(this);
}

void XMLNode::DestroySubtree(XMLNode* top) {
  if (top->m_children.empty()) {
    if (top->m_children.capacity()) top->m_children = ChildList();
    return;
  }
  std::vector<XMLNode*> stack(top->m_children.begin(), top->m_children.end());
  NodeReleaser release;
  const ReleaseLists lists(release);
  top->m_children = ChildList();
  while (!stack.empty()) {
    XMLNode* n = stack.back();
    stack.pop_back();
    stack.insert(stack.end(), n->m_children.begin(), n->m_children.end());
    n->m_children = ChildList();
    ClearNode(n->m_dom);
    n->m_parent = nullptr;
    n->m_document = nullptr;
    n->~XMLNode();  // what delete does, with the memory given back by runs
    release.Add(n);
  }
}

void XMLNode::SetParentDocument(XMLDocument* document) {
  if (document == m_document) return;
  m_name = nullptr;  // kept by the old document
  if (!m_parent && m_document) m_document->UnregisterLoose(this);
  m_document = document;
  if (!m_parent && m_document && m_document->GetRoot() != this) m_document->RegisterLoose(this);
}

void XMLNode::SetParent(XMLNode* parent) {
  if (m_parent == parent) return;
  if (m_parent) {
    auto& list = m_parent->m_children;
    auto it = std::find(list.rbegin(), list.rend(), this);
    if (it != list.rend()) list.erase(std::next(it).base());
  } else if (m_document) {
    m_document->UnregisterLoose(this);
  }
  m_parent = parent;
  if (!m_parent && m_document) m_document->RegisterLoose(this);
}

bool XMLNode::IsAncestorOrSelf(const XMLNode* node) const {
  for (const XMLNode* n = node; n; n = n->m_parent) {
    if (n == this) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Binding

void XMLNode::SetXMLDOMElement(pugi::xml_node dom) {
  m_dom = dom;
  m_name = nullptr;
  if (m_dom) {
    m_type = static_cast<std::uint32_t>(DomType(m_dom));
    // The children of a DOM node bound from outside appear as nodes when first asked for.
    if (m_children.empty()) m_childrenBuilt = false;
  }
}

pugi::xml_node XMLNode::CreateIXMLDOMElement(const wchar_t* name) {
  if (!m_document || !m_document->m_dom) return pugi::xml_node();
  pugi::xml_node limbo = m_document->Limbo();
  pugi::xml_node created;
  switch (GetType()) {
    case eElement: {
      const std::wstring n = name ? name : L"";
      if (!IsXmlName(n)) return pugi::xml_node();
      created = limbo.append_child(pugi::node_element);
      created.set_name(ToUtf8(n).c_str());
      break;
    }
    case eCDATA: created = limbo.append_child(pugi::node_cdata); break;
    case eComment: created = limbo.append_child(pugi::node_comment); break;
    default:
      // A processing instruction needs a target; other types have no DOM node of their own.
      return pugi::xml_node();
  }
  SetXMLDOMElement(created);
  return created;
}

bool XMLNode::EnsureBound() {
  if (m_dom) return true;
  const std::wstring tag = m_tag ? *m_tag : std::wstring();
  CreateIXMLDOMElement(tag.c_str());
  return static_cast<bool>(m_dom);
}

// ---------------------------------------------------------------------------------------------
// Name, type, text

const MorlaneXml::NameEntry* XMLNode::NameOf() const {
  const pugi::xml_node_type type = m_dom.type();
  if (const MorlaneXml::NameEntry* fixed = MorlaneXml::FixedName(type)) return fixed;
  if (type == pugi::node_doctype) {
    if (!m_document) return nullptr;
    const std::string name = DomName(m_dom);
    if (!m_name || m_name->utf8 != name) m_name = m_document->Names().Intern(name);
    return m_name;
  }
  // The kept name holds while the DOM's name is the same text (whoever renamed the DOM node).
  const char* name = m_dom.name();
  if (m_name && std::strcmp(m_name->utf8.c_str(), name) == 0) return m_name;
  m_name = m_document ? m_document->Names().Intern(name) : nullptr;
  return m_name;
}

std::wstring& XMLNode::TagStore() const {
  if (!m_tag) m_tag = std::make_unique<std::wstring>();
  return *m_tag;
}

const std::wstring& XMLNode::GetTag() const {
  static const std::wstring kNoTag;
  if (!m_dom) return m_tag ? *m_tag : kNoTag;
  if (const MorlaneXml::NameEntry* name = NameOf()) return name->wide;
  return TagStore() = FromUtf8(DomName(m_dom));  // no name kept for it: remembered in the node
}

void XMLNode::SetTag(const std::wstring& tag) {
  if (EqualsNoCase(tag, GetTag())) return;
  if (m_dom) {
    const pugi::xml_node_type type = m_dom.type();
    if (type != pugi::node_element && type != pugi::node_pi) return;  // names of text are fixed
    if (!IsXmlName(tag)) return;
    m_dom.set_name(ToUtf8(tag).c_str());
  }
  TagStore() = tag;
}

unsigned long XMLNode::GetType() const { return m_dom ? DomType(m_dom) : m_type; }

void XMLNode::SetType(unsigned long type) { m_type = static_cast<std::uint32_t>(type); }

std::wstring XMLNode::GetTypeString() const {
  return m_dom ? DomTypeString(m_dom) : std::wstring();
}

std::wstring XMLNode::GetTypeStringByID(unsigned long type) {
  switch (type) {
    case eElement: return L"element";
    case eCDATA: return L"CDATA";
    case eProcessingInstruction: return L"ProcessingInstruction";
    case eComment: return L"comment";
    case eText: return L"text";
    default: return L"None";
  }
}

std::wstring XMLNode::GetTagValue() const {
  if (!m_dom) return std::wstring();
  if (m_dom.type() == pugi::node_element || m_dom.type() == pugi::node_document)
    return DescendantText(m_dom);
  return FromUtf8(m_dom.value());
}

void XMLNode::SetTagValue(const std::wstring& value) {
  m_childrenBuilt = true;  // children not yet made have no XMLNode objects to delete
  if (!EnsureBound()) return;
  const std::string text = ToUtf8(value);
  if (m_dom.type() != pugi::node_element) {
    m_dom.set_value(text.c_str());
    return;
  }
  DeleteAllChild();
  // DOM children that no XMLNode of this list mirrors go too; nodes the caller holds on them
  // become unbound rather than dangling.
  while (pugi::xml_node c = m_dom.last_child()) {
    if (m_document) m_document->UnbindLoose(c);
    m_dom.remove_child(c);
  }
  if (text.empty()) return;
  pugi::xml_node pcdata = m_dom.append_child(pugi::node_pcdata);
  pcdata.set_value(text.c_str());
  m_children.push_back(new XMLNode(LoadTag{}, m_document, pcdata, this));
}

void XMLNode::SetTagValue(int value) { SetTagValue(std::to_wstring(value)); }

void XMLNode::SetTagValue(double value) { SetTagValue(FormatDouble(value)); }

// ---------------------------------------------------------------------------------------------
// Children

XMLNode* XMLNode::GetChild(int index) const {
  Materialize();
  if (index < 0 || index >= static_cast<int>(m_children.size())) return nullptr;
  return m_children[static_cast<std::size_t>(index)];
}

XMLNode* XMLNode::GetChild(std::wstring_view tag) const {
  Materialize();
  // The wanted name folded once; each child's folded name is kept with its name.
  thread_local std::wstring folded;
  MorlaneXml::FoldInto(tag, folded);
  const std::wstring_view wanted(folded);
  for (XMLNode* child : m_children) {
    if (child->m_dom) {
      if (const MorlaneXml::NameEntry* name = child->NameOf()) {
        if (name->folded.size() == wanted.size() && std::wstring_view(name->folded) == wanted)
          return child;
        continue;
      }
    }
    if (EqualsNoCase(child->GetTag(), tag)) return child;
  }
  return nullptr;
}

bool XMLNode::AttachDom(XMLNode* child, XMLNode* before) {
  if (!m_dom || !child->m_dom) return false;
  if (child->m_dom.root() != m_dom.root()) return false;  // DOM nodes never cross documents
  pugi::xml_node moved;
  if (before && before->m_dom && before->m_dom.parent() == m_dom && before->m_dom != child->m_dom)
    moved = m_dom.insert_move_before(child->m_dom, before->m_dom);
  else
    moved = m_dom.append_move(child->m_dom);
  return static_cast<bool>(moved);
}

XMLNode* XMLNode::NewChild(const wchar_t* tag, int type, pugi::xml_node dom) {
  XMLNode* node = new XMLNode(m_document, tag, type);
  if (dom)
    node->SetXMLDOMElement(dom);
  else
    node->CreateIXMLDOMElement(tag);
  if (!node->m_dom || !AddChild(node, 1)) {
    if (dom) node->m_dom = pugi::xml_node();  // a DOM node the caller handed over stays
    delete node;
    return nullptr;
  }
  return node;
}

int XMLNode::AddChild(XMLNode* child, int attach) {
  Materialize();
  if (!child || child->IsAncestorOrSelf(this)) return 0;
  if (child->m_parent == this) return 1;
  if (attach) {
    if (!m_dom) return 0;
    if (!child->EnsureBound()) return 0;
    if (!AttachDom(child, nullptr)) return 0;
  }
  child->SetParent(this);
  m_children.push_back(child);
  return 1;
}

int XMLNode::InsertChild(XMLNode* child, XMLNode* before, int attach) {
  Materialize();
  if (!before) return AddChild(child, attach);
  if (!child || child->IsAncestorOrSelf(this)) return 0;
  if (child->m_parent == this) return 1;
  auto position = std::find(m_children.begin(), m_children.end(), before);
  const bool beforeIsChild = position != m_children.end();
  if (attach) {
    if (!m_dom) return 0;
    if (!child->EnsureBound()) return 0;
    if (!AttachDom(child, beforeIsChild ? before : nullptr)) return 0;
  }
  child->SetParent(this);
  position =
      std::find(m_children.begin(), m_children.end(), before);  // SetParent may shift the list
  m_children.insert(position, child);
  return 1;
}

int XMLNode::ReplaceChild(XMLNode* newChild, XMLNode* oldChild) {
  Materialize();
  if (!newChild || !oldChild || newChild == oldChild) return 0;
  auto position = std::find(m_children.begin(), m_children.end(), oldChild);
  if (position == m_children.end() || newChild->m_parent == this) return 0;
  if (!m_dom || !oldChild->m_dom) return 0;
  if (newChild->IsAncestorOrSelf(this)) return 0;
  if (!newChild->EnsureBound()) return 0;
  if (newChild->m_dom.root() != m_dom.root() || IsWithin(newChild->m_dom, oldChild->m_dom))
    return 0;
  XMLNode* next = (position + 1) != m_children.end() ? *(position + 1) : nullptr;
  DeleteChild(oldChild);
  return InsertChild(newChild, next, 1);
}

int XMLNode::MergeChild(const XMLNode* source) {
  if (!source) return 1;
  source->Materialize();
  const std::vector<XMLNode*> children(source->m_children.begin(), source->m_children.end());
  for (XMLNode* child : children) {
    const std::wstring tag = child->GetTag();
    if (GetChild(tag)) continue;
    unsigned long type = child->GetType();
    if (child->m_dom && type == eDomComment) type = eComment;
    if (XMLNode* added = NewChild(tag.c_str(), static_cast<int>(type))) added->Copy(child, 0);
  }
  return 1;
}

int XMLNode::Copy(const XMLNode* source, int keepTag) {
  if (!source || !m_dom || !source->m_dom || source == this) return 0;
  // Copying a node into its own subtree would never end.
  if (IsWithin(m_dom, source->m_dom)) return 0;
  if (m_dom.type() != source->m_dom.type()) return 0;
  if (!keepTag) SetTag(source->GetTag());
  return CopyContent(source);
}

int XMLNode::CopyContent(const XMLNode* source) {
  // Without recursion: pairs of (destination, source) still to fill.
  std::vector<std::pair<XMLNode*, const XMLNode*>> pending{{this, source}};
  while (!pending.empty()) {
    auto [to, from] = pending.back();
    pending.pop_back();
    const pugi::xml_node dom = from->m_dom;
    if (to->m_dom.type() != pugi::node_element) {
      to->m_dom.set_value(dom.value());
      continue;
    }
    for (pugi::xml_attribute a = dom.first_attribute(); a; a = a.next_attribute())
      to->AddAttribute(FromUtf8(a.name()), FromUtf8(a.value()));
    // The destination's own content is replaced by copies of the source's children, one by
    // one, so that each text is copied once.
    to->SetTagValue(std::wstring());
    from->Materialize();
    for (XMLNode* child : from->m_children) {
      if (!child->m_dom) {
        to->NewChild(child->GetTag().c_str(), static_cast<int>(child->m_type));
        continue;
      }
      const pugi::xml_node_type type = child->m_dom.type();
      if (type == pugi::node_element) {
        if (XMLNode* added = to->NewChild(FromUtf8(child->m_dom.name()).c_str(), eElement))
          pending.emplace_back(added, child);
        continue;
      }
      pugi::xml_node created = to->m_dom.append_child(type);
      if (!created) continue;
      if (type == pugi::node_pi) created.set_name(child->m_dom.name());
      created.set_value(child->m_dom.value());
      to->m_children.push_back(new XMLNode(LoadTag{}, to->m_document, created, to));
    }
  }
  return 1;
}

void XMLNode::RemoveChild(XMLNode* child) {
  Materialize();
  auto it = std::find(m_children.rbegin(), m_children.rend(), child);
  if (it == m_children.rend()) return;
  m_children.erase(std::next(it).base());
  child->m_parent = nullptr;
  if (child->m_document) child->m_document->RegisterLoose(child);
}

void XMLNode::DeleteChild(XMLNode* child) {
  Materialize();
  if (!child) return;
  auto it = std::find(m_children.rbegin(), m_children.rend(), child);
  if (it == m_children.rend()) return;
  m_children.erase(std::next(it).base());
  child->m_parent = nullptr;
  if (m_dom && child->m_dom && child->m_dom.parent() == m_dom) {
    pugi::xml_node dom = child->m_dom;
    child->m_dom = pugi::xml_node();
    DestroySubtree(child);
    if (m_document) m_document->UnbindLoose(dom);
    m_dom.remove_child(dom);
  }
  delete child;
}

void XMLNode::DeleteAllChild() {
  Materialize();
  while (!m_children.empty()) DeleteChild(m_children.back());
}

void XMLNode::DestroyChildren() { DeleteAllChild(); }

void XMLNode::ClearChilds() {
  Materialize();
  ChildList children;
  children.swap(m_children);
  for (XMLNode* child : children) {
    child->m_parent = nullptr;
    if (child->m_document) child->m_document->RegisterLoose(child);
  }
}

// ---------------------------------------------------------------------------------------------
// Attributes

pugi::xml_attribute XMLNode::GetAttributeInTemporaryPtr(std::wstring_view name) const {
  if (!m_dom || m_dom.type() != pugi::node_element) return pugi::xml_attribute();
  // One pass: the attribute of exactly that name, else the first that differs only in case.
  pugi::xml_attribute noCase;
  for (pugi::xml_attribute a = m_dom.first_attribute(); a; a = a.next_attribute()) {
    const MorlaneText::NameMatch match = MorlaneText::MatchName(a.name(), name);
    if (match == MorlaneText::NameMatch::Exact) return a;
    if (match == MorlaneText::NameMatch::NoCase && !noCase) noCase = a;
  }
  return noCase;
}

int XMLNode::GetAttrCount() const {
  if (!m_dom || m_dom.type() != pugi::node_element) return 0;
  int count = 0;
  for (pugi::xml_attribute a = m_dom.first_attribute(); a; a = a.next_attribute()) ++count;
  return count;
}

bool XMLNode::GetAttr(int index, std::wstring& name, std::wstring& value) const {
  if (!m_dom || m_dom.type() != pugi::node_element || index < 0) return false;
  int k = 0;
  for (pugi::xml_attribute a = m_dom.first_attribute(); a; a = a.next_attribute(), ++k) {
    if (k == index) {
      name = FromUtf8(a.name());
      value = FromUtf8(a.value());
      return true;
    }
  }
  return false;
}

std::wstring XMLNode::GetStrAttr(std::wstring_view name, const std::wstring& defaultValue) const {
  const pugi::xml_attribute a = GetAttributeInTemporaryPtr(name);
  return a ? FromUtf8(a.value()) : defaultValue;
}

int XMLNode::GetIntAttr(std::wstring_view name, int defaultValue) const {
  const pugi::xml_attribute a = GetAttributeInTemporaryPtr(name);
  if (!a) return defaultValue;
  double value = 0.0;
  if (!MorlaneText::ParseNumber(std::string_view(a.value()), value) || !std::isfinite(value))
    return defaultValue;
  const double rounded = std::nearbyint(value);  // to even, as the platform's conversion rounds
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return defaultValue;
  return static_cast<int>(rounded);
}

double XMLNode::GetDblAttr(std::wstring_view name, double defaultValue) const {
  const pugi::xml_attribute a = GetAttributeInTemporaryPtr(name);
  if (!a) return defaultValue;
  return MorlaneText::ParseDoublePrefix(std::string_view(a.value()));
}

COLORREF XMLNode::GetColorAttr(std::wstring_view name, COLORREF defaultValue) const {
  const pugi::xml_attribute a = GetAttributeInTemporaryPtr(name);
  if (!a) return defaultValue;
  const char* v = a.value();
  if (!*v) return defaultValue;
  if (std::strcmp(v, "#") == 0) return 0xFFFFFFFFu;
  if (v[0] != '#') return defaultValue;
  unsigned long value = 0;
  int digits = 0;
  for (const char* p = v + 1; *p; ++p) {
    int d;
    if (*p >= '0' && *p <= '9')
      d = *p - '0';
    else if (*p >= 'a' && *p <= 'f')
      d = *p - 'a' + 10;
    else if (*p >= 'A' && *p <= 'F')
      d = *p - 'A' + 10;
    else
      break;
    value = (value << 4) | static_cast<unsigned long>(d);
    value &= 0xFFFFFFFFul;
    ++digits;
  }
  if (digits == 0) return defaultValue;
  const COLORREF red = (value >> 16) & 0xFF, green = (value >> 8) & 0xFF, blue = value & 0xFF;
  return red | (green << 8) | (blue << 16);
}

void XMLNode::AddAttribute(const std::wstring& name, const std::wstring& value) {
  if (!EnsureBound() || m_dom.type() != pugi::node_element) return;
  pugi::xml_attribute a = GetAttributeInTemporaryPtr(name);
  if (!a) {
    if (!IsXmlName(name)) return;
    a = m_dom.append_attribute(ToUtf8(name).c_str());
  }
  a.set_value(ToUtf8(value).c_str());
}

void XMLNode::AddAttr(const std::wstring& name, int value) {
  AddAttribute(name, std::to_wstring(value));
}

void XMLNode::AddAttr(const std::wstring& name, double value) {
  AddAttribute(name, FormatDouble(value));
}

void XMLNode::AddColorAttr(const std::wstring& name, COLORREF colour) {
  AddAttribute(name, FormatColor(colour));
}

void XMLNode::AddStrAttr(const wchar_t* name, const wchar_t* value, const wchar_t* defaultValue) {
  const wchar_t* v = value ? value : L"";
  const wchar_t* d = defaultValue ? defaultValue : L"";
  if (!s_bVerboseOut && std::wcscmp(v, d) == 0) return;
  AddAttribute(name ? name : L"", v);
}

void XMLNode::AddIntAttr(const wchar_t* name, int value, int defaultValue) {
  if (!s_bVerboseOut && value == defaultValue) return;
  AddAttr(name ? name : L"", value);
}

void XMLNode::AddDblAttr(const wchar_t* name, double value, double defaultValue) {
  if (!s_bVerboseOut && value == defaultValue) return;
  AddAttr(name ? name : L"", value);
}

void XMLNode::DeleteAttr(const std::wstring& name) {
  const pugi::xml_attribute a = GetAttributeInTemporaryPtr(name);
  if (a) m_dom.remove_attribute(a);
}

void XMLNode::DeleteAllAttr() {
  if (!m_dom || m_dom.type() != pugi::node_element) return;
  while (pugi::xml_attribute a = m_dom.last_attribute()) m_dom.remove_attribute(a);
}

// ---------------------------------------------------------------------------------------------
// Number and colour texts

std::wstring XMLNode::FormatDouble(double value) {
  char buffer[64];
  const double magnitude = std::fabs(value);
  if (!std::isfinite(value)) {
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
    return FromUtf8(std::string_view(buffer, static_cast<std::size_t>(r.ptr - buffer)));
  }
  if (magnitude > 1e-7 && magnitude < 1e7) {
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return FromUtf8(std::string_view(buffer, static_cast<std::size_t>(r.ptr - buffer)));
  }
  if (magnitude < 1e-206) return L"0";
  const auto r =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string text(buffer, static_cast<std::size_t>(r.ptr - buffer));
  // The exponent with its sign and at least three digits: 1e-009, 1.5e+010.
  const std::size_t e = text.find('e');
  if (e != std::string::npos) {
    std::string mantissa = text.substr(0, e);
    char sign = '+';
    std::size_t k = e + 1;
    if (k < text.size() && (text[k] == '+' || text[k] == '-')) sign = text[k++];
    std::string digits = text.substr(k);
    while (digits.size() < 3) digits.insert(digits.begin(), '0');
    text = mantissa + "e" + sign + digits;
  }
  return FromUtf8(text);
}

std::wstring XMLNode::FormatColor(COLORREF colour) {
  if (colour == 0xFFFFFFFFu) return L"#";
  wchar_t buffer[16];
  std::swprintf(buffer, 16, L"#%02x%02x%02x", colour & 0xFF, (colour >> 8) & 0xFF,
                (colour >> 16) & 0xFF);
  return buffer;
}

// ---------------------------------------------------------------------------------------------
// CXMLArchiveNode

CXMLArchiveNode::CXMLArchiveNode(void* archive, XMLNode* parent, const wchar_t* name)
    : m_archive(archive) {
  if (parent) m_node = parent->NewChild(name, XMLNode::eElement);
}

CXMLArchiveNode::CXMLArchiveNode(void* archive, XMLNode* parent, const wchar_t* name, bool reuse)
    : m_archive(archive) {
  if (!parent) return;
  if (reuse) m_node = parent->GetChild(name);
  if (!m_node) m_node = parent->NewChild(name, XMLNode::eElement);
}

CXMLArchiveNode::~CXMLArchiveNode() = default;

void CXMLArchiveNode::ExchangeAttr(bool storing, const wchar_t* name, std::wstring& value) const {
  if (!m_node || !name) return;
  if (storing)
    m_node->AddAttribute(name, value);
  else
    value = m_node->GetStrAttr(name, std::wstring());
}
