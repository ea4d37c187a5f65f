// Load, load-and-read and formatted save of a model-like document of about 20 MB through
// XMLDocument, against pugixml doing the same on the same bytes, measured in the same run.
//
//   build/bin/bench_xml [megabytes] [rounds]
//
// Prints the best processor time of each side (so that other work on the machine does not count)
// and the ratio wrapper / pugixml (aim: at most 1.5).
//
// "load and read" goes through the document as the model reader does (model/reader): children
// by index, tags and child sections compared without regard to case, the attributes it reads
// (names and descriptions as wide text, integers, colours), element texts read as numbers in
// the C locale. The pugixml side does the same work with pugixml's own calls: names compared
// with ASCII case folding, attribute look-up exact first and then without case, the texts the
// model keeps (names, descriptions, header texts) made wide, numbers read with from_chars. Both
// sides add up what they read, and the sums must agree.

#include "../common/CpuTiming.h"
#include "xml/XMLDocument.h"
#include "xml/XMLNode.h"
#include "xml/XmlText.h"

#include <pugixml.hpp>

#include <stdlib.h>
#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

// A model file: a header and a data section of nodes, shafts with sections and grooves, and
// parametric objects with matrices and parameters.
std::string MakeModel(std::size_t targetBytes) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Model>\n  <Header>\n"
      "    <FileDescription>Benchmark model</FileDescription>\n"
      "    <FileName>bench.xml</FileName>\n    <Author>bench</Author>\n  </Header>\n  <Data>\n";
  int n = 0;
  char buffer[512];
  while (out.size() < targetBytes) {
    ++n;
    std::snprintf(buffer, sizeof buffer,
                  "    <Node Name=\"Group %d\" Type=\"%s\">\n      <MatrixTransform>\n", n,
                  n % 3 == 0 ? "Shaft" : "Node");
    out += buffer;
    for (int r = 1; r <= 3; ++r) {
      for (int c = 1; c <= 4; ++c) {
        std::snprintf(buffer, sizeof buffer,
                      "        <Element Col=\"%d\" Row=\"%d\">%.6f</Element>\n", c, r,
                      r == c ? 1.0 : (c == 4 ? n * 12.5 : 0.0));
        out += buffer;
      }
    }
    out += "      </MatrixTransform>\n";
    for (int k = 0; k < 4; ++k) {
      std::snprintf(buffer, sizeof buffer,
                    "      <Object Type=\"%s\" Name=\"Part %d.%d &amp; co\" Color=\"#%02x8caf\">\n"
                    "        <GeometryParameters>\n",
                    k % 2 ? "Box" : "ShaftSection", n, k, (n * 7 + k) & 0xFF);
      out += buffer;
      for (const char* p : {"w", "h", "l", "dout1", "dout2", "lch1"}) {
        std::snprintf(
            buffer, sizeof buffer,
            "          <Param Name=\"%s\" Description=\"Parameter %s of part %d\">%.4f</Param>\n",
            p, p, n, (n % 97) * 0.5 + k);
        out += buffer;
      }
      out += "        </GeometryParameters>\n";
      if (k % 2 == 0) {
        out +=
            "        <GrooveObject Type=\"GrooveRectangular\"><GeometryParameters>"
            "<Param Name=\"x\">5</Param><Param "
            "Name=\"t\">1.5</Param></GeometryParameters></GrooveObject>\n";
      }
      out += "      </Object>\n";
    }
    out += "    </Node>\n";
  }
  out += "  </Data>\n</Model>\n";
  return out;
}

// The best time of each side; the two sides take turns so that a busy machine slows both alike.
std::pair<double, double> BestOfPair(int rounds, const std::function<void()>& reference,
                                     const std::function<void()>& ours) {
  double bestReference = 1e30, bestOurs = 1e30;
  for (int i = 0; i < rounds; ++i) {
    bestReference = std::min(bestReference, bench::Seconds(reference));
    bestOurs = std::min(bestOurs, bench::Seconds(ours));
  }
  return {bestReference, bestOurs};
}

// What a read found: counts, the sum of every number read and the length of the wide texts
// kept. Both sides must agree on all of it.
struct Tally {
  long objects = 0, nodes = 0, params = 0, elements = 0;
  double sum = 0;
  std::size_t textChars = 0;
  bool operator==(const Tally& o) const {
    return objects == o.objects && nodes == o.nodes && params == o.params &&
           elements == o.elements && sum == o.sum && textChars == o.textChars;
  }
};

const wchar_t* const kHeaderNames[] = {L"FileDescription", L"FileName", L"Author", L"Organization",
                                       L"Authorisation"};
const char* const kNarrowHeaderNames[] = {"FileDescription", "FileName", "Author", "Organization",
                                          "Authorisation"};

// ---- through XMLDocument, with the calls the model reader makes ----

bool TagIs(const XMLNode* node, const wchar_t* tag) {
  return node && MorlaneText::EqualsNoCase(node->GetTag(), tag);
}

void OurParams(XMLNode* element, Tally& t) {
  XMLNode* params = element->GetChild(L"GeometryParameters");
  if (!params) return;
  for (int i = 0, n = params->GetChildCount(); i < n; ++i) {
    XMLNode* param = params->GetChild(i);
    if (!TagIs(param, L"Param")) continue;
    const std::wstring name = param->GetStrAttr(L"Name", std::wstring());
    const std::wstring text = param->GetTagValue();
    t.sum += MorlaneText::ParseDoublePrefix(text);
    const std::wstring description = param->GetStrAttr(L"Description", std::wstring());
    t.textChars += name.size() + description.size();
    ++t.params;
  }
}

void OurPlace(XMLNode* element, Tally& t) {
  XMLNode* matrix = element->GetChild(L"MatrixTransform");
  if (!matrix) return;
  for (int i = 0, n = matrix->GetChildCount(); i < n; ++i) {
    XMLNode* e = matrix->GetChild(i);
    if (!TagIs(e, L"Element")) continue;
    const int col = e->GetIntAttr(L"Col", 0);
    const int row = e->GetIntAttr(L"Row", 0);
    if (col < 1 || col > 4 || row < 1 || row > 3) continue;
    t.sum += MorlaneText::ParseDoublePrefix(e->GetTagValue()) * ((row - 1) * 4 + col);
    ++t.elements;
  }
}

Tally OurRead(const std::filesystem::path& input, bool& ok) {
  Tally t;
  XMLDocument document(input.wstring().c_str());
  XMLNode* model = document.GetRootElement();
  if (!model || !MorlaneText::EqualsNoCase(model->GetTag(), L"Model")) {
    ok = false;
    return t;
  }
  if (XMLNode* header = model->GetChild(L"Header")) {
    for (int i = 0, n = header->GetChildCount(); i < n; ++i) {
      XMLNode* field = header->GetChild(i);
      const std::wstring tag = field->GetTag();
      for (const wchar_t* name : kHeaderNames) {
        if (!MorlaneText::EqualsNoCase(tag, name)) continue;
        t.textChars += field->GetTagValue().size();
        t.textChars += field->GetStrAttr(L"Description", std::wstring()).size();
      }
    }
  }
  XMLNode* data = model->GetChild(L"Data");
  if (!data) return t;
  struct Frame {
    XMLNode* element;
    int next;
  };
  std::vector<Frame> stack{{data, 0}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next >= top.element->GetChildCount()) {
      stack.pop_back();
      continue;
    }
    XMLNode* child = top.element->GetChild(top.next++);
    if (TagIs(child, L"Object")) {
      const std::wstring type = child->GetStrAttr(L"Type", std::wstring());
      OurParams(child, t);
      if (MorlaneText::EqualsNoCase(type, L"ShaftSection")) {
        for (int i = 0, n = child->GetChildCount(); i < n; ++i) {
          XMLNode* groove = child->GetChild(i);
          if (!TagIs(groove, L"GrooveObject")) continue;
          t.textChars += groove->GetStrAttr(L"Type", std::wstring()).size();
          OurParams(groove, t);
        }
      }
      t.textChars += child->GetStrAttr(L"Name", std::wstring()).size();
      t.sum += child->GetColorAttr(L"Color", 0x00AF8C00);
      OurPlace(child, t);
      ++t.objects;
    } else if (TagIs(child, L"Node")) {
      if (MorlaneText::EqualsNoCase(child->GetStrAttr(L"Type", std::wstring()), L"Shaft"))
        t.sum += 1;
      t.textChars += child->GetStrAttr(L"Name", std::wstring()).size();
      OurPlace(child, t);
      ++t.nodes;
      stack.push_back({child, 0});
    }
  }
  return t;
}

// ---- the same with pugixml's own calls ----

// UTF-8 to a wide string, as a reader keeping its texts wide must do.
std::wstring Widen(const char* s) {
  std::wstring out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p;) {
    char32_t c = *p;
    int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
    if (extra) c &= 0x3F >> extra;
    ++p;
    for (; extra > 0 && (*p & 0xC0) == 0x80; --extra) c = (c << 6) | (*p++ & 0x3F);
    out.push_back(static_cast<wchar_t>(c));
  }
  return out;
}

bool NameIs(const pugi::xml_node& n, const char* name) {
  return n.type() == pugi::node_element && strcasecmp(n.name(), name) == 0;
}

pugi::xml_node ChildNoCase(const pugi::xml_node& n, const char* name) {
  for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
    if (NameIs(c, name)) return c;
  return pugi::xml_node();
}

pugi::xml_attribute AttrNoCase(const pugi::xml_node& n, const char* name) {
  if (pugi::xml_attribute a = n.attribute(name)) return a;
  for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute())
    if (strcasecmp(a.name(), name) == 0) return a;
  return pugi::xml_attribute();
}

double NumberOf(const char* s) {
  while (*s == ' ' || *s == '\t' || *s == '\r' || *s == '\n') ++s;
  if (*s == '+') ++s;
  double v = 0;
  std::from_chars(s, s + std::strlen(s), v);
  return v;
}

int IntOf(const pugi::xml_attribute& a, int fallback) {
  const char* s = a.value();
  int v = fallback;
  if (!a || std::from_chars(s, s + std::strlen(s), v).ec != std::errc()) return fallback;
  return v;
}

unsigned long ColourOf(const pugi::xml_attribute& a, unsigned long fallback) {
  const char* s = a.value();
  if (!a || s[0] != '#') return fallback;
  if (!s[1]) return 0xFFFFFFFFul;
  unsigned long v = 0;
  if (std::from_chars(s + 1, s + std::strlen(s), v, 16).ec != std::errc()) return fallback;
  return ((v >> 16) & 0xFF) | (v & 0xFF00) | ((v & 0xFF) << 16);
}

void RefParams(const pugi::xml_node& element, Tally& t) {
  const pugi::xml_node params = ChildNoCase(element, "GeometryParameters");
  for (pugi::xml_node param = params.first_child(); param; param = param.next_sibling()) {
    if (!NameIs(param, "Param")) continue;
    const std::wstring name = Widen(AttrNoCase(param, "Name").value());
    t.sum += NumberOf(param.child_value());
    const std::wstring description = Widen(AttrNoCase(param, "Description").value());
    t.textChars += name.size() + description.size();
    ++t.params;
  }
}

void RefPlace(const pugi::xml_node& element, Tally& t) {
  const pugi::xml_node matrix = ChildNoCase(element, "MatrixTransform");
  for (pugi::xml_node e = matrix.first_child(); e; e = e.next_sibling()) {
    if (!NameIs(e, "Element")) continue;
    const int col = IntOf(AttrNoCase(e, "Col"), 0);
    const int row = IntOf(AttrNoCase(e, "Row"), 0);
    if (col < 1 || col > 4 || row < 1 || row > 3) continue;
    t.sum += NumberOf(e.child_value()) * ((row - 1) * 4 + col);
    ++t.elements;
  }
}

Tally RefRead(const std::filesystem::path& input, unsigned options, bool& ok) {
  Tally t;
  pugi::xml_document doc;
  ok &= static_cast<bool>(doc.load_file(input.c_str(), options));
  const pugi::xml_node model = doc.document_element();
  if (!NameIs(model, "Model")) {
    ok = false;
    return t;
  }
  for (pugi::xml_node field = ChildNoCase(model, "Header").first_child(); field;
       field = field.next_sibling()) {
    for (const char* name : kNarrowHeaderNames) {
      if (!NameIs(field, name)) continue;
      t.textChars += Widen(field.child_value()).size();
      t.textChars += Widen(AttrNoCase(field, "Description").value()).size();
    }
  }
  const pugi::xml_node data = ChildNoCase(model, "Data");
  std::vector<pugi::xml_node> stack{data.first_child()};
  while (!stack.empty()) {
    pugi::xml_node& top = stack.back();
    if (!top) {
      stack.pop_back();
      continue;
    }
    const pugi::xml_node child = top;
    top = top.next_sibling();
    if (NameIs(child, "Object")) {
      const char* type = AttrNoCase(child, "Type").value();
      RefParams(child, t);
      if (strcasecmp(type, "ShaftSection") == 0) {
        for (pugi::xml_node groove = child.first_child(); groove; groove = groove.next_sibling()) {
          if (!NameIs(groove, "GrooveObject")) continue;
          t.textChars += Widen(AttrNoCase(groove, "Type").value()).size();
          RefParams(groove, t);
        }
      }
      t.textChars += Widen(AttrNoCase(child, "Name").value()).size();
      t.sum += ColourOf(AttrNoCase(child, "Color"), 0x00AF8C00);
      RefPlace(child, t);
      ++t.objects;
    } else if (NameIs(child, "Node")) {
      if (strcasecmp(AttrNoCase(child, "Type").value(), "Shaft") == 0) t.sum += 1;
      t.textChars += Widen(AttrNoCase(child, "Name").value()).size();
      RefPlace(child, t);
      ++t.nodes;
      stack.push_back(child.first_child());  // top is no longer valid from here
    }
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;

  std::string folder = (std::filesystem::temp_directory_path() / "bench-xml-XXXXXX").string();
  if (!mkdtemp(folder.data())) return 1;
  const std::filesystem::path dir(folder);
  const std::filesystem::path input = dir / "model.xml";
  {
    const std::string model = MakeModel(megabytes * 1024 * 1024);
    std::ofstream(input, std::ios::binary)
        .write(model.data(), static_cast<std::streamsize>(model.size()));
    std::printf("document: %.1f MB\n", model.size() / 1048576.0);
  }
  const std::filesystem::path refOut = dir / "ref.xml";
  const std::filesystem::path ourOut = dir / "ours.xml";

  constexpr unsigned kRefOptions =
      pugi::parse_default | pugi::parse_comments | pugi::parse_pi | pugi::parse_declaration;
  bool ok = true;
  const auto [refLoad, ourLoad] = BestOfPair(
      rounds,
      [&] {
        pugi::xml_document doc;
        ok &= static_cast<bool>(doc.load_file(input.c_str(), kRefOptions));
      },
      [&] {
        XMLDocument doc(input.wstring().c_str());
        ok &= doc.GetRoot() != nullptr;
      });

  // Loading and then visiting every node by index.
  std::size_t refNodes = 0, ourNodes = 0;
  const auto [refWalk, ourWalk] = BestOfPair(
      rounds,
      [&] {
        pugi::xml_document doc;
        ok &= static_cast<bool>(doc.load_file(input.c_str(), kRefOptions));
        std::vector<pugi::xml_node> stack{doc.document_element()};
        refNodes = 0;
        while (!stack.empty()) {
          pugi::xml_node n = stack.back();
          stack.pop_back();
          ++refNodes;
          for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) stack.push_back(c);
        }
      },
      [&] {
        XMLDocument doc(input.wstring().c_str());
        std::vector<XMLNode*> stack{doc.GetRoot()};
        ourNodes = 0;
        while (!stack.empty()) {
          XMLNode* n = stack.back();
          stack.pop_back();
          ++ourNodes;
          for (int i = 0, count = n->GetChildCount(); i < count; ++i)
            stack.push_back(n->GetChild(i));
        }
      });
  ok &= refNodes == ourNodes;

  // Loading and then reading as the model reader does.
  Tally refTally, ourTally;
  const auto [refRead, ourRead] = BestOfPair(
      rounds, [&] { refTally = RefRead(input, kRefOptions, ok); },
      [&] { ourTally = OurRead(input, ok); });
  const bool sameRead = refTally == ourTally && ourTally.params > 0;
  ok &= sameRead;

  pugi::xml_document refDoc;
  refDoc.load_file(input.c_str());
  XMLDocument ourDoc(input.wstring().c_str());
  ourDoc.SetEncoding(L"UTF-16");  // the same output encoding as the reference
  const auto [refSave, ourSave] = BestOfPair(
      rounds,
      [&] {
        ok &= refDoc.save_file(refOut.c_str(), "\t", pugi::format_indent | pugi::format_write_bom,
                               pugi::encoding_utf16_le);
      },
      [&] { ok &= ourDoc.Save(ourOut.wstring().c_str(), 1) == 1; });

  std::printf("load           pugixml %8.1f ms   XMLDocument %8.1f ms   ratio %.2f\n",
              refLoad * 1e3, ourLoad * 1e3, ourLoad / refLoad);
  std::printf("load and walk  pugixml %8.1f ms   XMLDocument %8.1f ms   ratio %.2f   (%zu nodes)\n",
              refWalk * 1e3, ourWalk * 1e3, ourWalk / refWalk, ourNodes);
  std::printf(
      "load and read  pugixml %8.1f ms   XMLDocument %8.1f ms   ratio %.2f   (%ld objects, "
      "%ld parameters)\n",
      refRead * 1e3, ourRead * 1e3, ourRead / refRead, ourTally.objects, ourTally.params);
  std::printf("formatted save pugixml %8.1f ms   XMLDocument %8.1f ms   ratio %.2f\n",
              refSave * 1e3, ourSave * 1e3, ourSave / refSave);
  std::printf("output sizes   pugixml %.1f MB   XMLDocument %.1f MB\n",
              std::filesystem::file_size(refOut) / 1048576.0,
              std::filesystem::file_size(ourOut) / 1048576.0);
  std::filesystem::remove_all(dir);
  if (!ok) {
    std::printf(sameRead ? "FAILED: a load or save did not succeed\n"
                         : "FAILED: the two reads did not find the same\n");
    return 1;
  }
  return 0;
}
