// IGES import speed of the engine library against the kernel's readers called directly, in one
// process: the kernel's plain reader (one shape, no names or colours), its document reader
// (colours and names on, as the engine reads), and the engine's import with every part's shape
// and colours taken as the viewer takes them. Given the folder of another build of the engine,
// that engine is loaded beside this one and timed in turn, so that a change is measured
// against what it replaces under the same load:
//   bench_iges [FILE] [OTHER_LIB_DIR]
// FILE defaults to the largest IGES file of the kernel's samples. Processor time, medians of
// five rounds taken in turns.
#include "../common/CpuTiming.h"
#include "workspace/CADEngine.h"

#include <IFSelect_ReturnStatus.hxx>
#include <IGESCAFControl_Reader.hxx>
#include <IGESControl_Reader.hxx>
#include <TDocStd_Document.hxx>
#include <XCAFApp_Application.hxx>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace CAD = QZ::CAD;
using bench::Median;
using bench::Seconds;
using QZ::ObjPtr;

namespace {

void Check(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "bench_iges: %s failed\n", what.c_str());
    std::exit(1);
  }
}

CAD::ICADTools* LoadEngine(const std::string& dir) {
  const std::string lib = dir + "/libcad-ondravel.so";
  void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  Check(handle != nullptr, "loading " + lib + (handle ? "" : std::string(": ") + dlerror()));
  auto entry = reinterpret_cast<QZCadEntryPoint>(dlsym(handle, "EntryPoint"));
  Check(entry != nullptr, "EntryPoint of " + lib);
  return entry();
}

// The parts' shapes and their colours, as the viewer takes them after an import.
int Walk(CAD::ICADContext* ctx, CAD::IAssembly* a) {
  int parts = 0;
  for (int i = 0; i < a->GetChildCount(); ++i) {
    ObjPtr<CAD::IItem> item(a->GetChild(i));
    if (item->IsAssembly()) {
      parts += Walk(ctx, dynamic_cast<CAD::IAssembly*>(item.Get()));
      continue;
    }
    auto* part = dynamic_cast<CAD::IPart*>(item.Get());
    ObjPtr<CAD::IShape> shape(part->GetShape());
    double rgb[3];
    part->GetColor(rgb);
    ctx->GetShapeColorCount(shape.Get());
    ++parts;
  }
  return parts;
}

double EngineImport(CAD::ICADTools* tools, const std::string& file, int& parts) {
  return Seconds([&] {
    ObjPtr<CAD::ICADContext> ctx(tools->NewContext());
    Check(ctx->ImportIGES(file.c_str()), "the engine's import of " + file);
    ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
    parts = Walk(ctx.Get(), doc.Get());
  });
}

}  // namespace

int main(int argc, char** argv) {
  const std::string file = argc > 1 ? argv[1] : "/usr/share/opencascade/data/iges/bearing.iges";
  Check(std::filesystem::is_regular_file(file), "finding " + file);
  const char* libDir = std::getenv("TOLMERA_LIB_DIR");
  CAD::ICADTools* engine = LoadEngine(libDir ? libDir : BENCH_DEFAULT_LIB_DIR);
  CAD::ICADTools* other = argc > 2 ? LoadEngine(argv[2]) : nullptr;

  std::vector<double> plain, xde, eng, eng2;
  int parts = 0, parts2 = 0;
  for (int round = 0; round < 5; ++round) {
    plain.push_back(Seconds([&] {
      IGESControl_Reader r;
      Check(r.ReadFile(file.c_str()) == IFSelect_RetDone, "the kernel's plain reader");
      r.TransferRoots();
      Check(!r.OneShape().IsNull(), "the kernel's plain transfer");
    }));
    xde.push_back(Seconds([&] {
      Handle(TDocStd_Document) doc;
      XCAFApp_Application::GetApplication()->NewDocument("BinXCAF", doc);
      IGESCAFControl_Reader r;
      r.SetColorMode(true);
      r.SetNameMode(true);
      r.SetLayerMode(false);
      Check(r.ReadFile(file.c_str()) == IFSelect_RetDone && r.Transfer(doc),
            "the kernel's document reader");
      XCAFApp_Application::GetApplication()->Close(doc);
    }));
    eng.push_back(EngineImport(engine, file, parts));
    if (other) eng2.push_back(EngineImport(other, file, parts2));
  }
  std::printf("IGES import of %s (%ju bytes), processor seconds, medians of 5:\n", file.c_str(),
              static_cast<uintmax_t>(std::filesystem::file_size(file)));
  std::printf("  kernel, plain reader:       %.3f\n", Median(plain));
  std::printf("  kernel, document reader:    %.3f (%.2f x plain)\n", Median(xde),
              Median(xde) / Median(plain));
  std::printf("  engine (%d parts):          %.3f (%.2f x plain, %.2f x document reader)\n", parts,
              Median(eng), Median(eng) / Median(plain), Median(eng) / Median(xde));
  if (other)
    std::printf("  other engine (%d parts):    %.3f; this engine / other: %.3f\n", parts2,
                Median(eng2), Median(eng) / Median(eng2));
  return 0;
}
