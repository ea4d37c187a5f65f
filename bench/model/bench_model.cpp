// Model files and shaft recognition.
//
// Reading: model files of 100, 1,000 and 10,000 elements of mixed families (generated here:
// primitives, beams, bolts, shafts of three sections with grooves, in nested groups with
// placements) are read with every solid built; the time per element at each size, the ratio of
// the largest to the smallest (flat means about 1) and the ratio against building as many boxes
// through the engine in the same run. The 1,000-element file should take under 2 s. The elements
// of a family share their sizes (the engine builds each size once); the same files with every
// element of its own sizes show what building each one costs.
//
// Recognition: a shaft of 20 sections with 10 grooves built by the engine's shaft builder is
// recognised; its time against building the shaft, and in seconds (under 0.5 s).
#include "../common/CpuTiming.h"
#include "model/ShaftRecognition.h"
#include "model/reader/ModelReader.h"
#include "workspace/CadEngineLibrary.h"

#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using bench::CpuNow;
using bench::Seconds;

std::string Param(const char* name, double v) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "<Param Name=\"%s\">%g</Param>", name, v);
  return buf;
}

std::string Object(const char* type, int i, const std::string& params) {
  char head[160];
  std::snprintf(head, sizeof head,
                "<Object Type=\"%s\" Name=\"E%d\"><MatrixTransform><Element Col=\"4\" "
                "Row=\"1\">%d</Element></MatrixTransform><GeometryParameters>",
                type, i, (i % 50) * 100);
  return head + params + "</GeometryParameters></Object>\n";
}

// One element of the mix (a shaft counts its three sections). With distinct set, every element
// gets a length of its own (no two alike, so nothing the engine built before can be used
// again); otherwise the elements of a family share their sizes, as the bolts of an assembly do.
std::string Element(int i, int& count, int family, bool distinct) {
  const double d = distinct ? 0.01 * i : 0.0;
  switch (family >= 0 ? family : i % 8) {
    case 0: ++count; return Object("Box", i, Param("w", 40) + Param("h", 30) + Param("l", 20 + d));
    case 1: ++count; return Object("Cylinder", i, Param("r", 15) + Param("l", 60 + d));
    case 2:
      ++count;
      return Object("HollowCone", i,
                    Param("dout1", 40) + Param("dout2", 30) + Param("din1", 20) +
                        Param("din2", 10) + Param("l", 50 + d));
    case 3:
      ++count;
      return Object("BeamRect", i,
                    Param("h", 40) + Param("b", 30) + Param("l", 200 + d) + Param("t", 3));
    case 4:
      ++count;
      return Object("BeamI", i,
                    Param("h", 100) + Param("b", 50) + Param("t", 6) + Param("s", 4) +
                        Param("r1", 5) + Param("r2", 2) + Param("l", 300 + d));
    case 5:
      ++count;
      return Object("BoltHex", i,
                    Param("s", 16) + Param("k", 6.4) + Param("c", 0.6) + Param("dw", 14.6) +
                        Param("ls", 20) + Param("b", 26 + d) + Param("ds", 10) + Param("d", 10));
    case 6: ++count; return Object("Torus", i, Param("r1", 30 + d) + Param("r2", 5));
    default: {
      count += 3;
      std::string s = "<Node Type=\"Shaft\" Name=\"S" + std::to_string(i) + "\">";
      for (int k = 0; k < 3; ++k) {
        std::string p = Param("pos", 0) + Param("dout1", 40 - 5 * k) + Param("dout2", 40 - 5 * k) +
                        Param("l", 50 + d) + Param("lch1", -1);
        std::string o = Object("ShaftSection", i * 10 + k, p);
        o.insert(o.rfind("</Object>"),
                 "<GrooveObject Type=\"GrooveRectangular\"><GeometryParameters>" + Param("x", 20) +
                     Param("m", 4) + Param("t", 1) + "</GeometryParameters></GrooveObject>");
        s += o;
      }
      return s + "</Node>\n";
    }
  }
}

const char* const kFamilies[] = {"Box",   "Cylinder", "HollowCone", "BeamRect",
                                 "BeamI", "BoltHex",  "Torus",      "Shaft (3 sections)"};

// A model file of about n elements in groups of 20 (of one family, or mixed when family is -1);
// returns the element count.
int WriteModel(const std::string& path, int n, int family = -1, bool distinct = false) {
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Model><Header><FileName>bench</FileName>"
         "</Header><Data>\n";
  int count = 0;
  for (int i = 0; count < n; ++i) {
    if (i % 20 == 0) {
      if (i) out << "</Node>\n";
      out << "<Node Name=\"G" << i / 20 << "\"><MatrixTransform><Element Col=\"4\" Row=\"2\">"
          << (i / 20) * 200 << "</Element></MatrixTransform>\n";
    }
    out << Element(i, count, family, distinct);
  }
  out << "</Node></Data></Model>\n";
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  const int largest = argc > 1 ? std::max(100, std::atoi(argv[1])) : 10000;
  const char* libDir = std::getenv("TOLMERA_LIB_DIR");
  CCadEngineLibrary library;
  const std::string lib =
      std::string(libDir ? libDir : BENCH_DEFAULT_LIB_DIR) + "/" + CCadEngineLibrary::FileName();
  if (library.LoadFrom(lib) != CCadEngineLibrary::eLoaded || !library.GetTools()) {
    std::fprintf(stderr, "cannot load %s\n", lib.c_str());
    return 1;
  }
  QZ::ObjPtr<QZ::CAD::ICADContext> ctx(library.GetTools()->NewContext());
  int failures = 0;
  SetBuildErrorReporter([&](const std::wstring& m) {
    if (++failures <= 5) std::fprintf(stderr, "%ls\n", m.c_str());
  });
  char dirTemplate[] = "/tmp/bench-model-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;

  for (bool distinct : {false, true}) {
    std::printf(distinct ? "the same files with no two elements alike (CPU seconds):\n"
                         : "model files, every solid built (CPU seconds):\n");
    std::vector<double> perElement;
    for (int n = 100; n <= largest; n *= 10) {
      const std::string path = dir + "/model-" + std::to_string(n) + ".xml";
      const int count = WriteModel(path, n, -1, distinct);
      ModelReadReport report;
      auto root = std::make_shared<CNodeRoot>();
      root->SetContext(ctx);
      const double read =
          Seconds([&] { ReadModelFile(std::wstring(path.begin(), path.end()), root, &report); });
      const double boxes = Seconds([&] {
        for (int i = 0; i < count; ++i) QZ::ObjPtr<QZ::CAD::IShape> b(ctx->Box(10, 20, 30));
      });
      root.reset();
      perElement.push_back(read / count);
      std::printf(
          "  %6d elements: %.3f s read (%d read, %d skipped), %.1f us per element, "
          "%.1fx the time of as many boxes\n",
          count, read, report.objectsRead, report.objectsSkipped, 1e6 * read / count,
          read / std::max(boxes, 1e-9));
      std::remove(path.c_str());
    }
    if (perElement.size() > 1)
      std::printf("  per-element time, largest / smallest file: %.2f\n",
                  perElement.back() / perElement.front());
  }
  std::printf("per family, 100 elements each, no two alike (CPU us per element):\n");
  for (int family = 0; family < 8; ++family) {
    const std::string path = dir + "/family.xml";
    const int count = WriteModel(path, 100, family, true);
    auto root = std::make_shared<CNodeRoot>();
    root->SetContext(ctx);
    const double read =
        Seconds([&] { ReadModelFile(std::wstring(path.begin(), path.end()), root, nullptr); });
    std::printf("  %-20s %8.1f\n", kFamilies[family], 1e6 * read / count);
    std::remove(path.c_str());
  }

  // Recognition of a 20-section shaft with 10 grooves.
  QZ::ObjPtr<QZ::CAD::IShape> shaft;
  const double build = Seconds([&] {
    QZ::ObjPtr<QZ::CAD::IShaftBuilder> b(ctx->GetShaftFactory()->NewShaftBuilder());
    for (int i = 0; i < 20; ++i) {
      const double d = i % 2 ? 40 : 36;
      QZ::ObjPtr<QZ::CAD::ISectionShape> s(b->AddSection(0, d, d, 8, 8, 40, -1, 0));
      if (i % 2 == 0) s->AddGrooveRectangular(15, 5, 1.5, 0.3);
    }
    shaft = QZ::ObjPtr<QZ::CAD::IShape>(b->GetShape());
  });
  int sections = 0;
  const int repeats = 5;
  const double recognise =
      Seconds([&] {
        for (int k = 0; k < repeats; ++k) {
          QZ::ObjPtr<QZ::CAD::IRecognizeShaft> r(ctx->GetShaftRecognizer()->Recognize(shaft.Get()));
          sections = r ? r->GetSectionCount() : 0;
        }
      }) /
      repeats;
  std::printf(
      "recognition of 20 sections with 10 grooves: %.4f s (%d sections found), %.2fx "
      "the time of building the shaft\n",
      recognise, sections, recognise / std::max(build, 1e-9));
  rmdir(dir.c_str());
  if (failures) std::printf("%d build messages\n", failures);
  return 0;
}
