#include "xml/XMLDocument.h"

#include "xml/XMLNode.h"
#include "xml/XmlEncoding.h"
#include "xml/XmlNames.h"
#include "xml/XmlScanner.h"
#include "xml/XmlText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

using MorlaneText::EqualsNoCase;
using MorlaneText::FromUtf8;
using MorlaneText::ToUtf8;
using namespace MorlaneXml;

namespace {

struct StringWriter : pugi::xml_writer {
  std::string& out;
  explicit StringWriter(std::string& target) : out(target) {}
  void write(const void* data, size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};

pugi::xml_node FindDocumentElement(const pugi::xml_document& dom, pugi::xml_node limbo) {
  for (pugi::xml_node n = dom.first_child(); n; n = n.next_sibling()) {
    if (n.type() == pugi::node_element && n != limbo) return n;
  }
  return pugi::xml_node();
}

}  // namespace

// ---------------------------------------------------------------------------------------------

XMLDocument::XMLDocument(const wchar_t* fileName) {
  SetAutomaticIndentation(1, 0, 4);
  if (!CreateInstance()) return;
  if (fileName) {
    m_fileName = fileName;
    Load(fileName);
    return;
  }
  pugi::xml_node decl = m_dom->append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  pugi::xml_node element = m_dom->append_child(pugi::node_element);
  element.set_name("Document");
  m_root = new XMLNode(XMLNode::LoadTag{}, this, element, nullptr);
}

XMLDocument::XMLDocument(const XMLDocument& source) { CopyFrom(source); }

XMLDocument& XMLDocument::operator=(const XMLDocument& source) {
  if (this != &source) {
    ReleaseTree();
    CopyFrom(source);
  }
  return *this;
}

XMLDocument::~XMLDocument() {
  ReleaseTree();
  // Nodes the caller still holds outlive the document as unbound nodes of no document.
  for (XMLNode* node : m_loose) {
    std::vector<XMLNode*> stack{node};
    while (!stack.empty()) {
      XMLNode* n = stack.back();
      stack.pop_back();
      n->m_document = nullptr;
      n->m_name = nullptr;
      stack.insert(stack.end(), n->m_children.begin(), n->m_children.end());
    }
  }
  m_loose.clear();
}

void XMLDocument::CopyFrom(const XMLDocument& source) {
  m_modified = source.m_modified;
  m_windows1252 = source.m_windows1252;
  m_fileName = source.m_fileName;
  m_encoding = source.m_encoding;
  m_indent = source.m_indent;
  m_indentA = source.m_indentA;
  m_indentB = source.m_indentB;
  m_errorReason = source.m_errorReason;
  m_errorLine = source.m_errorLine;
  m_errorColumn = source.m_errorColumn;
  m_errorSource = source.m_errorSource;
  if (!source.m_dom) {
    m_dom.reset();
    m_parserVersion = 0;
    return;
  }
  CreateInstance();
  m_dom->reset(*source.m_dom);
  // The copy of the holder of detached nodes is not part of the document.
  if (source.m_limbo) {
    int index = 0;
    for (pugi::xml_node n = source.m_dom->first_child(); n && n != source.m_limbo;
         n = n.next_sibling())
      ++index;
    pugi::xml_node n = m_dom->first_child();
    for (int k = 0; k < index && n; ++k) n = n.next_sibling();
    if (n) m_dom->remove_child(n);
  }
  if (source.m_root) {
    pugi::xml_node element = FindDocumentElement(*m_dom, pugi::xml_node());
    if (element) {
      m_root = new XMLNode(XMLNode::LoadTag{}, this, element, nullptr);
      Load(m_root);
    }
  }
}

int XMLDocument::CreateInstance() {
  m_dom = std::make_unique<pugi::xml_document>();
  m_limbo = pugi::xml_node();
  m_parserVersion = 60;
  return 1;
}

MorlaneXml::NameTable& XMLDocument::Names() {
  if (!m_names) m_names = std::make_unique<MorlaneXml::NameTable>();
  return *m_names;
}

pugi::xml_node XMLDocument::Limbo() {
  if (!m_dom) return pugi::xml_node();
  if (!m_limbo) {
    m_limbo = m_dom->append_child(pugi::node_element);
    m_limbo.set_name("morlane-detached");
  }
  return m_limbo;
}

void XMLDocument::ReleaseTree() {
  delete m_root;
  m_root = nullptr;
  // Nodes the caller still holds lose their DOM nodes with the tree; they stay usable (unbound).
  UnbindLoose(pugi::xml_node());
  m_limbo = pugi::xml_node();
}

void XMLDocument::UnbindLoose(pugi::xml_node within) {
  for (XMLNode* node : m_loose) {
    if (within && !(node->m_dom && MorlaneText::IsWithin(node->m_dom, within))) continue;
    std::vector<XMLNode*> stack{node};
    while (!stack.empty()) {
      XMLNode* n = stack.back();
      stack.pop_back();
      if (n->m_dom) {
        n->TagStore() = n->GetTag();
        n->m_type = static_cast<std::uint32_t>(n->GetType());
        n->m_dom = pugi::xml_node();
        n->m_name = nullptr;
      }
      stack.insert(stack.end(), n->m_children.begin(), n->m_children.end());
    }
  }
}

void XMLDocument::Load(XMLNode* top) {
  // The XMLNode objects of the children are made when they are first asked for (see
  // XMLNode::Materialize); the tree they form is the DOM's, node for node.
  if (top) top->m_childrenBuilt = false;
}

void XMLDocument::Adopt(std::unique_ptr<pugi::xml_document> dom) {
  ReleaseTree();
  m_dom = std::move(dom);
  m_limbo = pugi::xml_node();
  m_parserVersion = 60;
  pugi::xml_node first = m_dom->first_child();
  std::wstring encoding;
  if (first && first.type() == pugi::node_declaration)
    encoding = FromUtf8(first.attribute("encoding").value());
  m_encoding = encoding.empty() ? std::wstring(L"UTF-16") : encoding;
  m_windows1252 = EqualsNoCase(encoding, L"windows-1252") ? 1 : 0;
  m_root =
      new XMLNode(XMLNode::LoadTag{}, this, FindDocumentElement(*m_dom, pugi::xml_node()), nullptr);
  Load(m_root);
  m_errorReason.clear();
  m_errorLine = m_errorColumn = 0;
  m_errorSource.clear();
}

void XMLDocument::SetError(const std::string& reason, const std::string* text, std::size_t offset) {
  m_errorReason = FromUtf8(reason);
  m_errorLine = 0;
  m_errorColumn = 0;
  m_errorSource.clear();
  if (!text) return;
  if (offset > text->size()) offset = text->size();
  int line = 1;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if ((*text)[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  int column = 1;
  for (std::size_t i = lineStart; i < offset; ++i) {
    if ((static_cast<unsigned char>((*text)[i]) & 0xC0) != 0x80) ++column;
  }
  std::size_t lineEnd = text->find('\n', lineStart);
  if (lineEnd == std::string::npos) lineEnd = text->size();
  if (lineEnd > lineStart && (*text)[lineEnd - 1] == '\r') --lineEnd;
  constexpr std::size_t kMaxSource = 4096;
  if (lineEnd - lineStart > kMaxSource) lineEnd = lineStart + kMaxSource;
  m_errorLine = line;
  m_errorColumn = column;
  m_errorSource = FromUtf8(std::string_view(*text).substr(lineStart, lineEnd - lineStart));
}

namespace {
char* AllocateBuffer(std::size_t size) {
  return static_cast<char*>(pugi::get_memory_allocation_function()(size ? size : 1));
}

void FreeBuffer(char* buffer) { pugi::get_memory_deallocation_function()(buffer); }

char* BufferOf(const std::string& text) {
  char* buffer = AllocateBuffer(text.size());
  std::memcpy(buffer, text.data(), text.size());
  return buffer;
}

bool ReadFile(const std::string& path, char*& buffer, std::size_t& size) {
  // Without O_NONBLOCK the open of a fifo waits for a writer; it is refused below like every
  // other thing that is no plain file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  size = static_cast<std::size_t>(st.st_size);
  buffer = AllocateBuffer(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t r = ::read(fd, buffer + done, size - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<std::size_t>(r);
  }
  ::close(fd);
  size = done;
  return true;
}

}  // namespace

bool XMLDocument::ParseUtf8(char* buffer, std::size_t size,
                            const std::function<std::string()>& source) {
  auto fail = [&](const std::string& reason, std::size_t offset) {
    const std::string text = source();
    SetError(reason, &text, offset);
    return false;
  };
  const std::size_t control = ForbiddenControlAt(buffer, size);
  if (control < size) {
    const int code = static_cast<unsigned char>(buffer[control]);
    FreeBuffer(buffer);
    return fail("An invalid character was found in text content (control character " +
                    std::to_string(code) + ").",
                control);
  }
  // Most documents hold only references that are good wherever they stand: then the quick look
  // at them is enough before the parser, and the depth is measured on the tree. Otherwise the
  // full scan decides, with the exact place of the fault.
  ScanResult scan;
  const bool quick = QuickScan(buffer, size, scan);
  if (!quick) {
    scan = ScanText(buffer, size, MaxDepth);
    if (!scan.ok) {
      FreeBuffer(buffer);
      return fail(scan.error, scan.offset);
    }
  }
  auto dom = std::make_unique<pugi::xml_document>();
  // The document owns the buffer from here on, whatever the result. Without the old micro
  // signs the parser decodes the references itself (the scan has checked them all).
  const unsigned options = scan.legacy ? kParseOptions : kParseOptions | pugi::parse_escapes;
  const pugi::xml_parse_result result =
      dom->load_buffer_inplace_own(buffer, size, options, pugi::encoding_utf8);
  if (!result) {
    if (quick) {
      // The faults of the full scan (a nesting too deep) are the ones to report first, as they
      // are for every document the quick look does not settle.
      const std::string text = source();
      const ScanResult full = ScanText(text.data(), text.size(), MaxDepth);
      if (!full.ok) return fail(full.error, full.offset);
    }
    return fail(result.description(), static_cast<std::size_t>(result.offset));
  }
  if (quick) {
    if (const pugi::xml_node deep = FirstTooDeep(dom->root(), MaxDepth)) {
      const std::ptrdiff_t at = ElementOffset(deep);
      return fail("Elements are nested too deeply.",
                  at < 0 ? std::string::npos : static_cast<std::size_t>(at));
    }
  }
  if (!scan.legacy) {
    int elements = 0;
    for (pugi::xml_node n = dom->first_child(); n; n = n.next_sibling()) {
      const pugi::xml_node_type type = n.type();
      if (type == pugi::node_element && ++elements > 1)
        return fail("Only one top level element is allowed.",
                    static_cast<std::size_t>(n.offset_debug()));
      if (type == pugi::node_pcdata || type == pugi::node_cdata)
        return fail("Invalid at the top level of the document.",
                    static_cast<std::size_t>(n.offset_debug()));
    }
    if (elements == 0)
      return fail("XML document must have a top level element.", std::string::npos);
    if (scan.charRefsInText) DropBlankText(dom->root());
    Adopt(std::move(dom));
    return true;
  }

  // The old micro signs: walk the whole tree without recursion and decode the references of
  // every text and attribute value here (top-level content is checked on the way; the depth
  // has been).
  const pugi::xml_node top = dom->root();
  int elements = 0;
  int depth = 1;
  std::string error;
  std::size_t errorAt = 0;
  pugi::xml_node n = top.first_child();
  while (n) {
    const pugi::xml_node_type type = n.type();
    if (depth == 1) {
      if (type == pugi::node_element && ++elements > 1)
        return fail("Only one top level element is allowed.",
                    static_cast<std::size_t>(n.offset_debug()));
      if (type == pugi::node_pcdata || type == pugi::node_cdata)
        return fail("Invalid at the top level of the document.",
                    static_cast<std::size_t>(n.offset_debug()));
    }
    if (type == pugi::node_element) {
      for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
        char* value = const_cast<char*>(a.value());
        if (std::strchr(value, '&') && !DecodeEntities(value, error, errorAt))
          return fail(error, static_cast<std::size_t>(n.offset_debug()));
      }
    } else if (type == pugi::node_pcdata) {
      char* value = const_cast<char*>(n.value());
      if (std::strchr(value, '&') && !DecodeEntities(value, error, errorAt)) {
        const std::ptrdiff_t at = n.offset_debug();
        return fail(error, at < 0 ? 0 : static_cast<std::size_t>(at) + errorAt);
      }
    }
    if (n.first_child()) {
      ++depth;
      n = n.first_child();
      continue;
    }
    while (n && !n.next_sibling()) {
      n = n.parent();
      --depth;
      if (n == top) n = pugi::xml_node();
    }
    if (n) n = n.next_sibling();
  }
  if (elements == 0) return fail("XML document must have a top level element.", std::string::npos);
  if (scan.charRefsInText) DropBlankText(dom->root());
  Adopt(std::move(dom));
  return true;
}

int XMLDocument::LoadBytes(const void* data, std::size_t size) {
  const unsigned char* b = static_cast<const unsigned char*>(data);
  if (!b || size < 3) {
    SetError("The file is too short to hold a document.", nullptr, 0);
    return 0;
  }
  std::string text, reason;
  std::size_t errorAt = 0;
  const Decoding decoding = DecodeBytes(b, size, text, reason, errorAt);
  if (decoding == Decoding::Failed) {
    const std::string raw(static_cast<const char*>(data), size);
    SetError(reason, errorAt ? &raw : nullptr, errorAt);
    return 0;
  }
  char* buffer = decoding == Decoding::AsIs
                     ? BufferOf(std::string(static_cast<const char*>(data), size))
                     : BufferOf(text);
  const std::size_t length = decoding == Decoding::AsIs ? size : text.size();
  return ParseUtf8(buffer, length, [&] { return DecodedText(b, size); }) ? 1 : 0;
}

void XMLDocument::Load(const wchar_t* fileName) {
  if (!fileName || !*fileName) return;
  if (!m_dom && !CreateInstance()) return;
  const std::string path = ToUtf8(fileName);
  char* bytes = nullptr;
  std::size_t size = 0;
  if (!ReadFile(path, bytes, size)) {
    SetError("The system cannot locate the object specified.", nullptr, 0);
    return;
  }
  if (size < 3) {
    FreeBuffer(bytes);
    SetError("The file is too short to hold a document.", nullptr, 0);
    return;
  }
  const unsigned char* b = reinterpret_cast<const unsigned char*>(bytes);
  std::string text, reason;
  std::size_t errorAt = 0;
  const Decoding decoding = DecodeBytes(b, size, text, reason, errorAt);
  bool ok;
  if (decoding == Decoding::Failed) {
    const std::string raw(bytes, size);
    FreeBuffer(bytes);
    SetError(reason, errorAt ? &raw : nullptr, errorAt);
    ok = false;
  } else if (decoding == Decoding::AsIs) {
    // The file's bytes are parsed where they were read; on an error they are read again.
    ok = ParseUtf8(bytes, size, [&] {
      char* again = nullptr;
      std::size_t length = 0;
      if (!ReadFile(path, again, length)) return std::string();
      std::string copy(again, length);
      FreeBuffer(again);
      return copy;
    });
  } else {
    FreeBuffer(bytes);
    ok = ParseUtf8(BufferOf(text), text.size(), [&] { return text; });
  }
  if (ok) m_fileName = fileName;
}

int XMLDocument::LoadXml(const wchar_t* text) {
  if (!text) return 0;
  if (!m_dom && !CreateInstance()) return 0;
  const std::string utf8 = ToUtf8(text);
  return ParseUtf8(BufferOf(utf8), utf8.size(), [&] { return utf8; }) ? 1 : 0;
}

namespace {

enum class OutputKind { Utf16, Utf8, Other };

OutputKind KindOf(const std::wstring& encoding) {
  if (encoding.empty() || IsUtf16Name(encoding)) return OutputKind::Utf16;
  if (IsUtf8Name(encoding)) return OutputKind::Utf8;
  return OutputKind::Other;
}

// Writes to a file descriptor through a buffer and remembers a failed write.
class FdWriter : public pugi::xml_writer {
 public:
  explicit FdWriter(int fd) : m_fd(fd) { m_buffer.reserve(kSize); }
  ~FdWriter() override = default;
  void write(const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    if (m_buffer.size() + size > kSize) Flush();
    if (size >= kSize) {
      Put(p, size);
      return;
    }
    m_buffer.append(p, size);
  }
  bool Finish() {
    Flush();
    return m_good;
  }

 private:
  static constexpr std::size_t kSize = 1 << 16;
  void Flush() {
    Put(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
  }
  void Put(const char* p, std::size_t size) {
    while (m_good && size > 0) {
      const ssize_t w = ::write(m_fd, p, size);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        m_good = false;
        return;
      }
      p += w;
      size -= static_cast<std::size_t>(w);
    }
  }
  int m_fd;
  bool m_good = true;
  std::string m_buffer;
};

}  // namespace

namespace {

// Whether every letter of the UTF-8 text exists in the encoding (the converter writes the
// others as character references).
bool Representable(const char* utf8, const std::string& encoding) {
  const std::string_view text(utf8);
  if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) return true;
  std::string bytes;
  return MorlaneText::ConvertFromUtf8(text, encoding, bytes) &&
         bytes.find("&#") == std::string::npos;
}

// The first piece of markup that the encoding cannot carry: character references are text,
// so names and CDATA sections must hold only letters of the encoding. Empty when all can.
std::string UnwritableMarkup(const pugi::xml_node& top, pugi::xml_node limbo,
                             const std::string& encoding) {
  for (pugi::xml_node n = top.first_child(); n;) {
    if (n == limbo) {
      n = MorlaneText::NextInDocument(n, top, false);
      continue;
    }
    const pugi::xml_node_type type = n.type();
    if ((type == pugi::node_element || type == pugi::node_pi) && !Representable(n.name(), encoding))
      return std::string("the name '") + n.name() + "'";
    if (type == pugi::node_element) {
      for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute())
        if (!Representable(a.name(), encoding))
          return std::string("the attribute name '") + a.name() + "'";
    }
    if (type == pugi::node_cdata && !Representable(n.value(), encoding)) return "a CDATA section";
    n = MorlaneText::NextInDocument(n, top);
  }
  return std::string();
}

}  // namespace

bool XMLDocument::Write(pugi::xml_writer& writer, bool formatted,
                        const std::wstring& encoding) const {
  m_saveError.clear();
  if (!m_dom) return false;
  std::wstring target = encoding;
  std::string head;
  if (formatted) {
    if (target.empty()) target = L"UTF-16";
    head = "<?xml version=\"1.0\" encoding=\"" + ToUtf8(target) + "\" standalone=\"yes\"?>\n";
  } else {
    // The DOM's own form: as it stands, in the encoding its declaration names (UTF-8 without one).
    target = L"UTF-8";
    pugi::xml_node first = m_dom->first_child();
    if (first && first.type() == pugi::node_declaration && *first.attribute("encoding").value())
      target = FromUtf8(first.attribute("encoding").value());
  }
  const OutputKind kind = KindOf(target);
  if (kind == OutputKind::Other) {
    const std::string bad = UnwritableMarkup(*m_dom, m_limbo, ToUtf8(target));
    if (!bad.empty()) {
      m_saveError = FromUtf8(bad + " cannot be written in " + ToUtf8(target) +
                             ": the encoding lacks some of its letters");
      return false;
    }
  }
  std::string rendered;
  StringWriter toString(rendered);
  pugi::xml_writer& out =
      kind == OutputKind::Other ? static_cast<pugi::xml_writer&>(toString) : writer;
  const pugi::xml_encoding pugiEncoding =
      kind == OutputKind::Utf16 ? pugi::encoding_utf16_le : pugi::encoding_utf8;
  const auto text = [&](const std::string& utf8) {
    if (kind == OutputKind::Utf16) {
      const std::string wide = MorlaneText::Utf8ToUtf16LE(utf8);
      out.write(wide.data(), wide.size());
    } else {
      out.write(utf8.data(), utf8.size());
    }
  };
  if (kind == OutputKind::Utf16) out.write("\xFF\xFE", 2);
  text(head);
  const unsigned flags = formatted && m_indent ? pugi::format_indent : pugi::format_raw;
  for (pugi::xml_node n = m_dom->first_child(); n; n = n.next_sibling()) {
    if (n == m_limbo || (formatted && n.type() == pugi::node_declaration)) continue;
    n.print(out, "\t", flags, pugiEncoding, 0);
    if (flags == pugi::format_raw) text("\n");
  }
  if (kind == OutputKind::Other) {
    std::string bytes;
    if (!MorlaneText::ConvertFromUtf8(rendered, ToUtf8(target), bytes)) return false;
    writer.write(bytes.data(), bytes.size());
  }
  return true;
}

bool XMLDocument::Serialize(std::string& bytes, bool formatted,
                            const std::wstring& encoding) const {
  bytes.clear();
  StringWriter writer(bytes);
  return Write(writer, formatted, encoding);
}

std::wstring XMLDocument::GetXMLContent() const {
  if (!m_dom) return std::wstring();
  std::string text;
  StringWriter writer(text);
  for (pugi::xml_node n = m_dom->first_child(); n; n = n.next_sibling()) {
    if (n == m_limbo) continue;
    n.print(writer, "", pugi::format_raw, pugi::encoding_utf8, 0);
    text.push_back('\n');
  }
  return FromUtf8(text);
}

std::wstring XMLDocument::GetXMLContentWithFormatted() const {
  if (!m_dom) return std::wstring();
  std::string text;
  if (!Serialize(text, true, L"UTF-8")) return std::wstring();
  // The declaration names the document's own encoding.
  const std::size_t end = text.find("?>");
  const std::string decl = "<?xml version=\"1.0\" encoding=\"" +
                           ToUtf8(m_encoding.empty() ? std::wstring(L"UTF-16") : m_encoding) +
                           "\" standalone=\"yes\"";
  if (end != std::string::npos) text.replace(0, end, decl);
  return FromUtf8(text);
}

void XMLDocument::GetParsingErrorInformation(std::wstring& reason, CParsePoint& position,
                                             CParsePoint& /*unused*/,
                                             std::wstring* sourceText) const {
  reason = m_errorReason;
  position.SetLineNumber(m_errorLine);
  position.SetLineIndex(m_errorColumn);
  if (sourceText) *sourceText = m_errorSource;
}

void XMLDocument::SetAutomaticIndentation(int indent, unsigned long a, unsigned long b) {
  m_indent = indent ? 1 : 0;
  m_indentA = a;
  m_indentB = b;
}

void XMLDocument::SetWriteOptions(unsigned long options) {
  if (options & 0x80) {
    m_windows1252 = 1;
    m_encoding = L"windows-1252";
  } else if (options & 0x4) {
    m_windows1252 = 0;
    m_encoding = L"UTF-16";
  }
}

int XMLDocument::SaveToFile(const std::wstring& fileName,
                            const std::function<bool(pugi::xml_writer&)>& produce) {
  if (fileName.empty()) return 0;
  const std::string path = ToUtf8(fileName);
  std::string tmp = path + ".XXXXXX";
  const int fd = mkstemp(tmp.data());
  if (fd < 0) return 0;
  // The new file gets the mode of the file it replaces, else the usual mode of a new file.
  struct stat st;
  mode_t mode;
  if (stat(path.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
  FdWriter writer(fd);
  bool good = produce(writer);
  good = writer.Finish() && good;
  if (::close(fd) != 0) good = false;
  if (good && std::rename(tmp.c_str(), path.c_str()) != 0) good = false;
  if (!good) {
    std::remove(tmp.c_str());
    return 0;
  }
  return 1;
}

int XMLDocument::SaveStreamToFile(const std::string& bytes, const std::wstring& fileName) {
  return SaveToFile(fileName, [&](pugi::xml_writer& writer) {
    writer.write(bytes.data(), bytes.size());
    return true;
  });
}

int XMLDocument::SaveWithFormatted(const std::wstring& fileName, const std::wstring& encoding) {
  if (!SaveToFile(fileName,
                  [&](pugi::xml_writer& writer) { return Write(writer, true, encoding); }))
    return 0;
  m_fileName = fileName;
  return 1;
}

int XMLDocument::Save(const wchar_t* fileName, int formatted) {
  const std::wstring target = (fileName && *fileName) ? std::wstring(fileName) : m_fileName;
  if (target.empty() || !m_dom) return 0;
  int ok;
  if (formatted) {
    ok = SaveWithFormatted(target, m_encoding);
  } else {
    ok = SaveToFile(target,
                    [&](pugi::xml_writer& writer) { return Write(writer, false, std::wstring()); });
  }
  if (ok) m_modified = 0;
  return ok;
}

int XMLDocument::UpDate(const wchar_t* fileName) {
  if (!fileName || !*fileName) return 0;
  {
    XMLDocument file(fileName);
    XMLNode* theirs = file.GetRoot();
    if (theirs && m_root) {
      for (int i = 0; i < theirs->GetChildCount(); ++i) {
        XMLNode* section = theirs->GetChild(i);
        if (section->GetType() != XMLNode::eDomElement) continue;
        const std::wstring tag = section->GetTag();
        if (m_root->GetChild(tag)) continue;
        if (XMLNode* added = m_root->NewChild(tag.c_str(), XMLNode::eElement))
          added->Copy(section, 0);
      }
    }
  }
  const int ok = Save(fileName, 1);
  if (ok) m_modified = 0;
  return ok;
}
