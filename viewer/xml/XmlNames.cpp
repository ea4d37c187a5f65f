#include "xml/XmlNames.h"

#include "xml/XmlText.h"

namespace MorlaneXml {

namespace {

std::uint64_t HashOf(std::string_view s) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  return h;
}

NameEntry MakeEntry(std::string_view utf8) {
  NameEntry e;
  e.utf8.assign(utf8);
  e.wide = MorlaneText::FromUtf8(utf8);
  FoldInto(e.wide, e.folded);
  return e;
}

}  // namespace

void FoldInto(std::wstring_view text, std::wstring& out) {
  out.resize(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    out[i] = c < 0x80 ? ((c >= L'A' && c <= L'Z') ? c + 32 : c)
                      : static_cast<wchar_t>(MorlaneText::FoldCase(static_cast<char32_t>(c)));
  }
}

const NameEntry* NameTable::Intern(std::string_view utf8) {
  for (const NameEntry* e : m_recent)
    if (e && e->utf8 == utf8) return e;
  const NameEntry* found = Find(utf8);
  if (found) {
    m_recent[m_nextRecent] = found;
    m_nextRecent = (m_nextRecent + 1) % kRecent;
  }
  return found;
}

const NameEntry* NameTable::Find(std::string_view utf8) {
  if (m_slots.empty()) m_slots.assign(256, 0);
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t k = HashOf(utf8) & mask;; k = (k + 1) & mask) {
    const std::uint32_t slot = m_slots[k];
    if (slot == 0) break;
    const NameEntry& e = m_entries[slot - 1];
    if (e.utf8 == utf8) return &e;
  }
  if (m_entries.size() >= kMaxNames) return nullptr;
  m_entries.push_back(MakeEntry(utf8));
  if (2 * m_entries.size() > m_slots.size()) {
    Grow();
  } else {
    std::size_t k = HashOf(utf8) & mask;
    while (m_slots[k]) k = (k + 1) & mask;
    m_slots[k] = static_cast<std::uint32_t>(m_entries.size());
  }
  return &m_entries.back();
}

void NameTable::Grow() {
  m_slots.assign(m_slots.size() * 2, 0);
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t i = 0; i < m_entries.size(); ++i) {
    std::size_t k = HashOf(m_entries[i].utf8) & mask;
    while (m_slots[k]) k = (k + 1) & mask;
    m_slots[k] = static_cast<std::uint32_t>(i + 1);
  }
}

const NameEntry* FixedName(pugi::xml_node_type type) {
  static const NameEntry text = MakeEntry("#text"), cdata = MakeEntry("#cdata-section"),
                         comment = MakeEntry("#comment"), document = MakeEntry("#document"),
                         declaration = MakeEntry("xml"), none = MakeEntry("");
  switch (type) {
    case pugi::node_pcdata: return &text;
    case pugi::node_cdata: return &cdata;
    case pugi::node_comment: return &comment;
    case pugi::node_document: return &document;
    case pugi::node_declaration: return &declaration;
    case pugi::node_element:
    case pugi::node_pi:
    case pugi::node_doctype: return nullptr;
    default: return &none;
  }
}

}  // namespace MorlaneXml
