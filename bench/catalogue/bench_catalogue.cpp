// The element catalogue sheet through the viewer's model and the engine library.
//
// Timing: building every element of the sheet (reading the file, creating the objects, the
// engine builds and placements) against building as many boxes through the engine in the same
// run; a spur gear of 200 teeth against one box; and the processor time of a 100-tooth spur
// gear (which should stay below 0.5 s). With --render the sheet is drawn off-screen into a PNG.
#include "../common/CpuTiming.h"
#include "model/elements/Catalogue.h"
#include "model/reader/ModelReader.h"
#include "workspace/CadEngineLibrary.h"

#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using bench::CpuNow;
using bench::Median;
using bench::Seconds;

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void Leaves(const CNode& node, std::vector<CObject3D*>& out) {
  for (const auto& c : node.GetChildren()) {
    if (!c) continue;
    if (c->IsNode())
      Leaves(static_cast<const CNode&>(*c), out);
    else
      out.push_back(static_cast<CObject3D*>(c.get()));
  }
}

bool Render(QZ::CAD::ICADContext* ctx, const CNodeRoot& root, const std::string& png, int w,
            int h) {
  QZ::ObjPtr<QZ::CAD::IView> view(ctx->NewView(nullptr, QZ::CAD::eViewOffscreen));
  if (!view) return false;
  std::vector<CObject3D*> leaves;
  Leaves(root, leaves);
  for (CObject3D* leaf : leaves) {
    QZ::ObjPtr<QZ::CAD::IShape> shape = leaf->GetShape();
    if (!shape) continue;
    QZ::ObjPtr<QZ::CAD::IShapeVis> vis(view->Display(shape.Get()));
    const auto rgb = leaf->GetColorRGB();
    if (vis) vis->SetColor(rgb[0], rgb[1], rgb[2]);
  }
  view->FitAll();
  return view->SaveImage(png.c_str(), w, h);
}

}  // namespace

int main(int argc, char** argv) {
  std::string sheet = std::string(BENCH_SOURCE_DIR) + "/examples/models/catalogue.xml";
  std::string png;
  int width = 1600, height = 1000;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--render") == 0 && i + 1 < argc) {
      png = argv[++i];
      if (i + 2 < argc && std::atoi(argv[i + 1]) > 0) {
        width = std::atoi(argv[++i]);
        height = std::atoi(argv[++i]);
      }
    } else {
      sheet = argv[i];
    }
  }
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
    ++failures;
    std::fprintf(stderr, "%ls\n", m.c_str());
  });

  std::shared_ptr<CNodeRoot> root;
  int elements = 0;
  std::vector<double> sheetTimes, boxTimes;
  for (int run = 0; run < 3; ++run) {
    sheetTimes.push_back(Seconds([&] {
      root = std::make_shared<CNodeRoot>();
      root->SetContext(ctx);
      ModelReadReport report;
      elements = ReadModelFile(Wide(sheet), root, &report) ? report.objectsRead : -1;
    }));
    if (elements <= 0) {
      std::fprintf(stderr, "cannot read %s\n", sheet.c_str());
      return 1;
    }
    boxTimes.push_back(Seconds([&] {
      for (int i = 0; i < elements; ++i) QZ::ObjPtr<QZ::CAD::IShape> b(ctx->Box(10, 20, 30));
    }));
  }
  std::vector<double> gear200, box1, gear100;
  QZ::CAD::IGearFactory* gears = ctx->GetGearFactory();
  for (int run = 0; run < 3; ++run) {
    gear200.push_back(Seconds(
        [&] { QZ::ObjPtr<QZ::CAD::IShape> g(gears->ExternalGear(200, 1, 10, 20, 0, 0, 0, 20)); }));
    gear100.push_back(Seconds(
        [&] { QZ::ObjPtr<QZ::CAD::IShape> g(gears->ExternalGear(100, 1, 10, 20, 0, 0, 0, 20)); }));
    box1.push_back(Seconds([&] { QZ::ObjPtr<QZ::CAD::IShape> b(ctx->Box(10, 20, 30)); }));
  }
  const double s = Median(sheetTimes), b = Median(boxTimes);
  std::printf("catalogue sheet: %d elements in %.3f s; %d engine boxes in %.4f s; ratio %.0f\n",
              elements, s, elements, b, s / b);
  std::printf("spur gear of 200 teeth: %.3f s; one box: %.5f s; ratio %.0f\n", Median(gear200),
              Median(box1), Median(gear200) / Median(box1));
  std::printf("spur gear of 100 teeth: %.3f s (target below 0.5 s)\n", Median(gear100));
  std::printf("build errors: %d\n", failures);
  if (!png.empty()) {
    if (!Render(ctx.Get(), *root, png, width, height)) {
      std::fprintf(stderr, "cannot render %s\n", png.c_str());
      return 1;
    }
    std::printf("rendered %s (%dx%d)\n", png.c_str(), width, height);
  }
  SetBuildErrorReporter(nullptr);
  root.reset();
  return failures == 0 ? 0 : 2;
}
