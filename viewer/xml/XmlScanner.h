#pragma once
// The XML layer's own pass over the raw UTF-8 text, before and after the parser: forbidden
// controls, nesting depth and references (with the exact offset of a fault), decoding of
// references, and the removal of blank text. Internal to the viewer library.

#include <pugixml.hpp>

#include <cstddef>
#include <string>

namespace MorlaneXml {

constexpr unsigned kParseOptions =
    pugi::parse_cdata | pugi::parse_wconv_attribute | pugi::parse_eol | pugi::parse_comments |
    pugi::parse_pi | pugi::parse_declaration | pugi::parse_doctype | pugi::parse_fragment;
// Parsed as a fragment so that text outside the root element is seen and refused by the walk.
// Entities are decoded by the layer itself (see DecodeEntities), so that an undefined entity is
// an error and "&181;" reads as the micro sign.

// A quick look over the raw text before the parser runs: the nesting depth and every reference in
// text and attribute values, with the exact offset of a fault. Constructs left open are left to
// the parser to report.
struct ScanResult {
  bool ok = true;
  bool legacy = false;          // "&181;" or "&amp;181;" occurs
  bool charRefsInText = false;  // a character reference in text, which may make blank text
  std::string error;
  std::size_t offset = 0;
};

// The offset of the first character that XML does not allow anywhere (the controls other than tab,
// line feed and carriage return, NUL included), or n.
std::size_t ForbiddenControlAt(const char* text, std::size_t n);

// The scan itself; maxDepth bounds the nesting of elements.
ScanResult ScanText(const char* text, std::size_t n, int maxDepth);

// A quick look at every '&' of the text, wherever it stands, without following the markup: true
// when each one starts a reference the layer reads, so that no reference can fail whatever its
// place (legacy and charRefsInText are then set as ScanText would set them, or also for a
// reference in a comment, where they only cost a slower path). False: ScanText must decide.
// The nesting depth is not looked at: FirstTooDeep does that on the parsed tree.
bool QuickScan(const char* text, std::size_t n, ScanResult& result);

// The first element below top, in document order, that lies deeper than maxDepth levels (top's
// children are level 1); null when there is none.
pugi::xml_node FirstTooDeep(const pugi::xml_node& top, int maxDepth);

// The offset of the '<' that starts an element parsed in place (-1 when it is not known).
std::ptrdiff_t ElementOffset(const pugi::xml_node& element);

// Decodes the references of a text or attribute value in place (the result is never longer).
// Returns false with the offset of the bad reference.
bool DecodeEntities(char* s, std::string& error, std::size_t& errorAt);

// Blank text is not kept by a load, however it is written: text that is blank only once its
// character references are decoded ("&#x20;") goes too, as it would go on the next load after a
// save. Elements only; the text outside the root element has been refused already.
void DropBlankText(pugi::xml_node top);

}  // namespace MorlaneXml
