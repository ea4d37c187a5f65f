// bench_script [megabytes=100] [rounds=3]
//
// Makes an install script of the given size in memory: sections of many small FOLDER and FILE
// elements, each behind a comment, some sections with thousands of children under one element,
// some with groups of a few. Then times, best of the rounds and in turns, in CPU time:
//   load:          CXmlSettings::LoadFromBytes          vs  pugixml load_buffer, same options
//   load and walk: the same, then every node visited    vs  the same with pugixml's nodes
//                  through GetChildren, GetCount,
//                  GetItem, GetName and GetAttribute
// and prints each time with the ratio ours / pugixml. Every node must be reached on both sides.
#include "../common/CpuTiming.h"
#include "package/XmlSettings.h"

#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The options the settings tree parses with: comments, declarations and text as nodes.
const unsigned kOptions = pugi::parse_cdata | pugi::parse_escapes | pugi::parse_wconv_attribute |
                          pugi::parse_eol | pugi::parse_declaration | pugi::parse_comments |
                          pugi::parse_pi | pugi::parse_doctype;

std::string MakeScript(std::size_t targetBytes) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Script Name=\"Bench\" Build=\"1450\">\n";
  char line[256];
  int section = 0;
  while (out.size() < targetBytes) {
    ++section;
    // A wide section: every child under one element (the shape that was quadratic).
    std::snprintf(line, sizeof line, "  <INSTALL Section=\"%d\">\n", section);
    out += line;
    for (int i = 0; i < 20000 && out.size() < targetBytes; ++i) {
      std::snprintf(line, sizeof line,
                    "    <!-- folder %d of section %d -->\n"
                    "    <FOLDER Name=\"prod\\dir%d\" Access=\"r\" IgnoreFor=\"Repair\"/>\n",
                    i, section, i);
      out += line;
    }
    out += "  </INSTALL>\n";
    // A deep section: groups of a few files.
    std::snprintf(line, sizeof line, "  <FILES Section=\"%d\">\n", section);
    out += line;
    for (int g = 0; g < 2000 && out.size() < targetBytes; ++g) {
      std::snprintf(line, sizeof line, "    <GROUP Name=\"g%d\"><!-- group %d -->\n", g, g);
      out += line;
      for (int f = 0; f < 4; ++f) {
        std::snprintf(line, sizeof line, "      <FILE Name=\"file%d_%d.dat\" Access=\"R\"/>\n", g,
                      f);
        out += line;
      }
      out += "    </GROUP>\n";
    }
    out += "  </FILES>\n";
  }
  out += "</Script>\n";
  return out;
}

// Every node below the root through the settings interface; names and one attribute are read as
// a step does. Returns the number of nodes visited and adds up the attribute lengths in `chars`.
std::size_t WalkOurs(CommonTools::CXmlSettings& settings, std::size_t& chars) {
  using namespace CommonTools;
  SettingsNodePtr root;
  if (!settings.GetRoot(root)) return 0;
  std::vector<SettingsNodePtr> stack{root};
  std::size_t nodes = 0;
  chars = 0;
  while (!stack.empty()) {
    SettingsNodePtr n = stack.back();
    stack.pop_back();
    ++nodes;
    chars += n->GetName().size();
    chars += n->GetAttribute(L"Name", Variant(L"")).toString().size();
    SettingsNodeListPtr list;
    if (!n->GetChildren(list)) continue;  // comments and text have none
    for (int i = 0, count = list->GetCount(); i < count; ++i) {
      SettingsNodePtr c;
      if (list->GetItem(i, c)) stack.push_back(c);
    }
  }
  return nodes;
}

std::size_t WalkPugi(const pugi::xml_document& doc, std::size_t& chars) {
  // The node after the declaration, as the settings tree's root.
  std::vector<pugi::xml_node> stack{doc.first_child().next_sibling()};
  std::size_t nodes = 0;
  chars = 0;
  while (!stack.empty()) {
    pugi::xml_node n = stack.back();
    stack.pop_back();
    ++nodes;
    chars += std::char_traits<char>::length(n.name());
    chars += std::char_traits<char>::length(n.attribute("Name").value());
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling()) stack.push_back(c);
  }
  return nodes;
}

}  // namespace

int main(int argc, char** argv) {
  const long megabytes = argc > 1 ? std::atol(argv[1]) : 100;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::string script = MakeScript(static_cast<std::size_t>(megabytes) * 1024 * 1024);

  double loadOurs = 1e30, loadPugi = 1e30, walkOurs = 1e30, walkPugi = 1e30;
  std::size_t nodesOurs = 0, nodesPugi = 0, charsOurs = 0, charsPugi = 0;
  bool ok = true;
  for (int round = 0; round < rounds; ++round) {
    auto ours = [&] {
      CommonTools::CXmlSettings settings;
      loadOurs = std::min(loadOurs, bench::Seconds([&] { ok &= settings.LoadFromBytes(script); }));
      walkOurs =
          std::min(walkOurs, bench::Seconds([&] { nodesOurs = WalkOurs(settings, charsOurs); }));
    };
    auto pugi = [&] {
      pugi::xml_document doc;
      loadPugi = std::min(loadPugi, bench::Seconds([&] {
                            ok &= static_cast<bool>(doc.load_buffer(script.data(), script.size(),
                                                                    kOptions, pugi::encoding_utf8));
                          }));
      walkPugi = std::min(walkPugi, bench::Seconds([&] { nodesPugi = WalkPugi(doc, charsPugi); }));
    };
    if (round % 2 == 0) {
      ours();
      pugi();
    } else {
      pugi();
      ours();
    }
  }
  std::printf("script: %.1f MB, %zu nodes below the root\n", script.size() / 1048576.0, nodesOurs);
  std::printf("load:  CXmlSettings %.3f s, pugixml %.3f s, ratio %.2f\n", loadOurs, loadPugi,
              loadOurs / loadPugi);
  std::printf("walk:  CXmlSettings %.3f s, pugixml %.3f s, ratio %.2f\n", walkOurs, walkPugi,
              walkOurs / walkPugi);
  std::printf("load and walk: CXmlSettings %.3f s, pugixml %.3f s, ratio %.2f\n",
              loadOurs + walkOurs, loadPugi + walkPugi,
              (loadOurs + walkOurs) / (loadPugi + walkPugi));
  // Both sides saw the same nodes; the element names and attributes add up alike apart from the
  // names the tree gives comments ("#comment") where pugixml gives none.
  if (!ok || nodesOurs != nodesPugi || nodesOurs == 0 || charsOurs < charsPugi) {
    std::fprintf(stderr, "bench_script: the two sides disagree (%zu vs %zu nodes)\n", nodesOurs,
                 nodesPugi);
    return 1;
  }
  return 0;
}
