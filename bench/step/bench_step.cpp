// STEP exchange speed of the engine library against the kernel called directly.
//
// A sized public-domain test model is generated first (a grid of placed, coloured, named boxes,
// cylinders, cones and tori in sub-assemblies: a few thousand faces). Then, alternating to share
// any warm-up fairly, each path exports and imports the same model several times; the medians
// and their ratios are printed. The engine should stay within 1.1 times the kernel alone.
#include "../common/CpuTiming.h"
#include "workspace/CADEngine.h"

#include <IFSelect_ReturnStatus.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <TDocStd_Document.hxx>
#include <TopExp_Explorer.hxx>
#include <XCAFApp_Application.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace CAD = QZ::CAD;
using QZ::ObjPtr;

namespace {

// Processor time of the process: the machine is shared, so wall time would measure the others.
using bench::CpuNow;
using bench::Median;
using bench::Seconds;

Handle(TDocStd_Document) NewDoc() {
  Handle(TDocStd_Document) doc;
  XCAFApp_Application::GetApplication()->NewDocument("BinXCAF", doc);
  return doc;
}

// Documents stay in the application until closed (the engine closes its own).
void CloseDoc(const Handle(TDocStd_Document) & doc) {
  XCAFApp_Application::GetApplication()->Close(doc);
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "bench_step: %s failed\n", what);
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int side = argc > 1 ? std::max(2, std::atoi(argv[1])) : 26;
  const char* libDir = std::getenv("TOLMERA_LIB_DIR");
  const std::string lib =
      std::string(libDir ? libDir : BENCH_DEFAULT_LIB_DIR) + "/libcad-ondravel.so";
  void* handle = dlopen(lib.c_str(), RTLD_NOW);
  Check(handle != nullptr, "loading the engine");
  auto entry = reinterpret_cast<QZCadEntryPoint>(dlsym(handle, "EntryPoint"));
  Check(entry != nullptr, "EntryPoint");
  CAD::ICADTools* tools = entry();

  char tmpl[] = "/tmp/bench-step-XXXXXX";
  Check(mkdtemp(tmpl) != nullptr, "mkdtemp");
  const std::filesystem::path dir = tmpl;
  const std::string model = (dir / "model.step").string();

  // The test model.
  try {
    ObjPtr<CAD::ICADContext> ctx(tools->NewContext());
    CAD::IMatrixService* ms = ctx->GetMatrixService();
    ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
    for (int row = 0; row < side; ++row) {
      ObjPtr<CAD::IAssembly> sub(doc->AddAssembly());
      char name[64];
      std::snprintf(name, sizeof name, "Row %d", row);
      sub->SetName(name);
      for (int col = 0; col < side; ++col) {
        ObjPtr<CAD::IShape> s;
        switch ((row + col) % 4) {
          case 0: s = ObjPtr<CAD::IShape>(ctx->Box(8, 6, 4 + col % 3)); break;
          case 1: s = ObjPtr<CAD::IShape>(ctx->Cylinder(3, 5 + row % 4)); break;
          case 2: s = ObjPtr<CAD::IShape>(ctx->Cone(4, 1, 6)); break;
          default: s = ObjPtr<CAD::IShape>(ctx->HollowCylinder(8, 4, 5)); break;
        }
        double m[12];
        ms->Translation(col * 12.0, row * 12.0, 0, m);
        ObjPtr<CAD::IShape> placed(s->Placed(m));
        ObjPtr<CAD::IPart> part(sub->AddShape(placed.Get()));
        std::snprintf(name, sizeof name, "P%d_%d", row, col);
        part->SetName(name);
        part->SetColor((row % 5) / 4.0, (col % 5) / 4.0, 0.5);
      }
    }
    Check(ctx->ExportSTEP(model.c_str()), "writing the model");
  } catch (QZ::IException* e) {
    std::fprintf(stderr, "bench_step: engine error %d: %s\n", e->GetCode(), e->GetText());
    e->Release();
    return 1;
  }

  // Faces of the model, as the kernel reads it.
  int faces = 0;
  {
    STEPCAFControl_Reader r;
    Check(r.ReadFile(model.c_str()) == IFSelect_RetDone, "reading the model");
    Handle(TDocStd_Document) doc = NewDoc();
    Check(r.Transfer(doc), "transferring the model");
    TDF_LabelSequence free;
    XCAFDoc_DocumentTool::ShapeTool(doc->Main())->GetFreeShapes(free);
    for (int i = 1; i <= free.Length(); ++i)
      for (TopExp_Explorer e(XCAFDoc_ShapeTool::GetShape(free(i)), TopAbs_FACE); e.More(); e.Next())
        ++faces;
    CloseDoc(doc);
  }
  std::printf("model: %d parts, %d faces, %.1f kB\n", side * side, faces,
              std::filesystem::file_size(model) / 1024.0);

  // Documents to export: the same file read once by each path (not timed).
  ObjPtr<CAD::ICADContext> engineDoc(tools->NewContext());
  Check(engineDoc->ImportSTEP(model.c_str()), "engine import");
  Handle(TDocStd_Document) occtDoc = NewDoc();
  {
    STEPCAFControl_Reader r;
    r.ReadFile(model.c_str());
    r.Transfer(occtDoc);
  }

  const int runs = 3;
  std::vector<double> engImport, occImport, engExport, occExport;
  for (int i = 0; i < runs; ++i) {
    engImport.push_back(Seconds([&] {
      ObjPtr<CAD::ICADContext> c(tools->NewContext());
      Check(c->ImportSTEP(model.c_str()), "engine import");
      ObjPtr<CAD::IAssembly> d(c->GetAssembly());
      Check(d->GetChildCount() == side, "engine import tree");
    }));
    occImport.push_back(Seconds([&] {
      STEPCAFControl_Reader r;
      r.SetColorMode(true);
      r.SetNameMode(true);
      r.SetLayerMode(false);
      Check(r.ReadFile(model.c_str()) == IFSelect_RetDone, "kernel read");
      Handle(TDocStd_Document) d = NewDoc();
      Check(r.Transfer(d), "kernel transfer");
      CloseDoc(d);
    }));
    const std::string outE = (dir / "e.step").string(), outO = (dir / "o.step").string();
    engExport.push_back(
        Seconds([&] { Check(engineDoc->ExportSTEP(outE.c_str()), "engine export"); }));
    occExport.push_back(Seconds([&] {
      STEPCAFControl_Writer w;
      w.SetColorMode(true);
      w.SetNameMode(true);
      w.SetLayerMode(false);
      Check(w.Transfer(occtDoc, STEPControl_AsIs), "kernel transfer");
      Check(w.Write(outO.c_str()) == IFSelect_RetDone, "kernel write");
    }));
  }
  const double ri = Median(engImport) / Median(occImport);
  const double re = Median(engExport) / Median(occExport);
  CloseDoc(occtDoc);
  std::printf("processor time, median of %d runs each\n", runs);
  std::printf("STEP import: engine %.3f s, kernel alone %.3f s, ratio %.3f (target <= 1.1)\n",
              Median(engImport), Median(occImport), ri);
  std::printf("STEP export: engine %.3f s, kernel alone %.3f s, ratio %.3f (target <= 1.1)\n",
              Median(engExport), Median(occExport), re);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
