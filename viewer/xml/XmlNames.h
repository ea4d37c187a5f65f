#pragma once
// The node names of one document, each kept once with its wide form and its case folding, so that
// XMLNode::GetTag hands out a reference instead of a new string and child look-ups by name compare
// folded names without converting anything. Internal to the viewer library.

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace MorlaneXml {

struct NameEntry {
  std::string utf8;     // the DOM's name
  std::wstring wide;    // what GetTag returns
  std::wstring folded;  // wide, case folded (MorlaneText::FoldCase)
};

// Names stay (and references to them stay valid) as long as the table; the table holds at most
// kMaxNames of them, so that a document of a million different names cannot make it grow
// without end (Intern then gives null and the node keeps its own copy).
class NameTable {
 public:
  static constexpr std::size_t kMaxNames = 1 << 16;

  const NameEntry* Intern(std::string_view utf8);

 private:
  const NameEntry* Find(std::string_view utf8);
  void Grow();
  // Siblings mostly share their names: the last few found are tried before the hash.
  static constexpr std::size_t kRecent = 4;
  const NameEntry* m_recent[kRecent] = {};
  std::size_t m_nextRecent = 0;
  std::deque<NameEntry> m_entries;
  std::vector<std::uint32_t> m_slots;  // index + 1 into m_entries, 0 when free
};

// The fixed name of a kind of node ("#text", "#comment", "xml", ...); null for the kinds whose
// nodes have names of their own (elements, processing instructions, document types).
const NameEntry* FixedName(pugi::xml_node_type type);

// The case folding of text into out (cleared first).
void FoldInto(std::wstring_view text, std::wstring& out);

}  // namespace MorlaneXml
