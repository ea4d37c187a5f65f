// Load and formatted save of a model-like document of about 20 MB through XMLDocument, against
// pugixml loading and saving the same bytes directly, measured in the same run.
//
//   build/bin/bench_xml [megabytes] [rounds]
//
// Prints the best time of each side and the ratio wrapper / pugixml (aim: at most 1.5).

#include "xml/XMLDocument.h"
#include "xml/XMLNode.h"

#include <pugixml.hpp>

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
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

double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best time of each side; the two sides take turns so that a busy machine slows both alike.
std::pair<double, double> BestOfPair(int rounds, const std::function<void()>& reference,
                                     const std::function<void()>& ours) {
  double bestReference = 1e30, bestOurs = 1e30;
  for (int i = 0; i < rounds; ++i) {
    bestReference = std::min(bestReference, Seconds(reference));
    bestOurs = std::min(bestOurs, Seconds(ours));
  }
  return {bestReference, bestOurs};
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

  bool ok = true;
  const auto [refLoad, ourLoad] = BestOfPair(
      rounds,
      [&] {
        pugi::xml_document doc;
        ok &= static_cast<bool>(doc.load_file(
            input.c_str(),
            pugi::parse_default | pugi::parse_comments | pugi::parse_pi | pugi::parse_declaration));
      },
      [&] {
        XMLDocument doc(input.wstring().c_str());
        ok &= doc.GetRoot() != nullptr;
      });

  // Loading and then visiting every node (the way the model reader goes through a file).
  std::size_t refNodes = 0, ourNodes = 0;
  const auto [refWalk, ourWalk] = BestOfPair(
      rounds,
      [&] {
        pugi::xml_document doc;
        ok &= static_cast<bool>(doc.load_file(
            input.c_str(),
            pugi::parse_default | pugi::parse_comments | pugi::parse_pi | pugi::parse_declaration));
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
  std::printf("formatted save pugixml %8.1f ms   XMLDocument %8.1f ms   ratio %.2f\n",
              refSave * 1e3, ourSave * 1e3, ourSave / refSave);
  std::printf("output sizes   pugixml %.1f MB   XMLDocument %.1f MB\n",
              std::filesystem::file_size(refOut) / 1048576.0,
              std::filesystem::file_size(ourOut) / 1048576.0);
  std::filesystem::remove_all(dir);
  if (!ok) {
    std::printf("FAILED: a load or save did not succeed\n");
    return 1;
  }
  return 0;
}
