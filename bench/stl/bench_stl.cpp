// A large mesh through the engine library against the kernel alone, along the paths of
// `morlane info`, `render` and `convert`.
//
// A closed mesh (a torus of 1,000,000 triangles by default, written as binary STL) goes through
// each path from its file, by both sides, alternating, three times each; the medians of
// processor time and their ratio are printed (target: at most 1.5). The kernel alone is its
// mesh reader (RWStl) into one triangulation on a face, and then:
//   info:    the face's bounding box (the engine: import, the part's shape and its box);
//   display: the face shown by its interactive context in a viewer like the engine's, one redraw
//            of a fitted view;
//   render:  the same drawn into an 800 x 600 image (the engine also writes it as PNG);
//   STL out: its binary writer (the engine: import and its STL export).
// An export to STEP, which would make a face of every triangle, is refused: its time and the
// memory it takes are printed, and the cost of one such face is measured on a smaller mesh
// (the constant the refusal estimates with). Memory: the growth of the resident size while the
// engine holds the imported, displayed mesh, against the mesh's own size (nodes and triangles);
// target at most 3 times.
#include "../common/CpuTiming.h"
#include "workspace/CADEngine.h"

#include <AIS_InteractiveContext.hxx>
#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <Image_PixMap.hxx>
#include <AIS_Shape.hxx>
#include <Aspect_DisplayConnection.hxx>
#include <BRep_Builder.hxx>
#include <OpenGl_GraphicDriver.hxx>
#include <Poly_Triangulation.hxx>
#include <OSD_Path.hxx>
#include <RWStl.hxx>
#include <TopoDS_Face.hxx>
#include <V3d_View.hxx>
#include <V3d_Viewer.hxx>
#include <Xw_Window.hxx>

#include <dlfcn.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace CAD = QZ::CAD;
using QZ::ObjPtr;

namespace {

using bench::CpuNow;
using bench::Median;
using bench::Seconds;

double ResidentMB() {
  long pages = 0, resident = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "bench_stl: %s failed\n", what);
    std::exit(1);
  }
}

// A closed torus of about `triangles` triangles (nu x nv quads, two triangles each).
void WriteTorus(const std::string& path, long triangles, long& nodes) {
  const int nv = std::max(3, static_cast<int>(std::sqrt(triangles / 4.0)));
  const int nu = std::max(3, static_cast<int>(triangles / (2 * nv)));
  nodes = static_cast<long>(nu) * nv;
  const double R = 100, r = 30;
  auto point = [&](int i, int j, float* out) {
    const double u = 2 * M_PI * (i % nu) / nu, v = 2 * M_PI * (j % nv) / nv;
    out[0] = static_cast<float>((R + r * std::cos(v)) * std::cos(u));
    out[1] = static_cast<float>((R + r * std::cos(v)) * std::sin(u));
    out[2] = static_cast<float>(r * std::sin(v));
  };
  std::ofstream o(path, std::ios::binary);
  char header[80] = {};
  std::strcpy(header, "bench torus");
  o.write(header, 80);
  const std::uint32_t count = 2u * nu * nv;
  o.write(reinterpret_cast<const char*>(&count), 4);
  std::vector<char> facet(50, 0);
  auto put = [&](int a0, int a1, int b0, int b1, int c0, int c1) {
    float* f = reinterpret_cast<float*>(facet.data());
    f[0] = f[1] = f[2] = 0;
    point(a0, a1, f + 3);
    point(b0, b1, f + 6);
    point(c0, c1, f + 9);
    o.write(facet.data(), 50);
  };
  for (int i = 0; i < nu; ++i)
    for (int j = 0; j < nv; ++j) {
      put(i, j, i + 1, j, i + 1, j + 1);
      put(i, j, i + 1, j + 1, i, j + 1);
    }
  Check(static_cast<bool>(o), "writing the mesh");
}

// The kernel alone: its reader, one face, its interactive context in an off-screen viewer.
struct KernelView {
  Handle(Aspect_DisplayConnection) connection = new Aspect_DisplayConnection();
  Handle(OpenGl_GraphicDriver) driver = new OpenGl_GraphicDriver(connection, true);
  Handle(V3d_Viewer) viewer = new V3d_Viewer(driver);
  Handle(V3d_View) view;
  Handle(Xw_Window) window;
  Handle(AIS_InteractiveContext) context;
  KernelView() {
    viewer->SetDefaultLights();
    viewer->SetLightOn();
    view = viewer->CreateView();
    window = new Xw_Window(connection, "bench", 0, 0, 640, 480);
    window->SetVirtual(true);
    view->SetWindow(window);
    view->ChangeRenderingParams().IsAntialiasingEnabled = true;
    view->ChangeRenderingParams().NbMsaaSamples = 4;
    context = new AIS_InteractiveContext(viewer);
  }
  ~KernelView() {
    context->RemoveAll(false);
    view->Remove();
  }
};

// The mesh as the kernel reads it, one face carrying the triangulation.
TopoDS_Face KernelFace(const std::string& path) {
  Handle(Poly_Triangulation) mesh = RWStl::ReadFile(path.c_str());
  Check(!mesh.IsNull(), "the kernel's reader");
  TopoDS_Face face;
  BRep_Builder().MakeFace(face, mesh);
  return face;
}

// The face shown shaded in an off-screen view, fitted.
void KernelShow(KernelView& v, const TopoDS_Face& face) {
  Handle(AIS_Shape) ais = new AIS_Shape(face);
  v.context->Display(ais, AIS_Shaded, 0, false);
  v.view->FitAll();
}

void KernelPath(const std::string& path) {
  const TopoDS_Face face = KernelFace(path);
  KernelView v;
  KernelShow(v, face);
  v.view->Redraw();
}

void KernelInfo(const std::string& path, double box[6]) {
  const TopoDS_Face face = KernelFace(path);
  Bnd_Box b;
  BRepBndLib::Add(face, b, true);
  b.Get(box[0], box[1], box[2], box[3], box[4], box[5]);
}

void KernelRender(const std::string& path) {
  const TopoDS_Face face = KernelFace(path);
  KernelView v;
  KernelShow(v, face);
  Image_PixMap image;
  Check(v.view->ToPixMap(image, 800, 600, Graphic3d_BT_RGB), "the kernel's image");
}

void KernelStl(const std::string& path, const std::string& out) {
  Handle(Poly_Triangulation) mesh = RWStl::ReadFile(path.c_str());
  Check(!mesh.IsNull(), "the kernel's reader");
  Check(RWStl::WriteBinary(mesh, OSD_Path(out.c_str())), "the kernel's writer");
}

ObjPtr<CAD::IShape> EngineImport(CAD::ICADTools* tools, const std::string& path,
                                 ObjPtr<CAD::ICADContext>& ctx) {
  ctx = ObjPtr<CAD::ICADContext>(tools->NewContext());
  Check(ctx->ImportSTL(path.c_str()), "the engine's import");
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  Check(doc->GetChildCount() == 1, "one part");
  ObjPtr<CAD::IItem> item(doc->GetChild(0));
  auto* part = dynamic_cast<CAD::IPart*>(item.Get());
  Check(part != nullptr, "a part");
  return ObjPtr<CAD::IShape>(part->GetShape());
}

void EngineInfo(CAD::ICADTools* tools, const std::string& path, double box[6]) {
  ObjPtr<CAD::ICADContext> ctx;
  ObjPtr<CAD::IShape> shape = EngineImport(tools, path, ctx);
  Check(shape->GetBoundingBox(box), "the engine's box");
}

void EngineRender(CAD::ICADTools* tools, const std::string& path, const std::string& png) {
  ObjPtr<CAD::ICADContext> ctx;
  ObjPtr<CAD::IShape> shape = EngineImport(tools, path, ctx);
  ObjPtr<CAD::IView> view(ctx->NewView(nullptr, CAD::eViewOffscreen));
  ObjPtr<CAD::IShapeVis> vis(view->Display(shape.Get()));
  view->FitAll();
  Check(view->SaveImage(png.c_str(), 800, 600), "the engine's image");
}

void EngineStl(CAD::ICADTools* tools, const std::string& path, const std::string& out) {
  ObjPtr<CAD::ICADContext> ctx;
  EngineImport(tools, path, ctx);
  Check(ctx->ExportSTL(out.c_str()), "the engine's STL export");
}

// The most memory the process has held since the last call (the kernel's peak counter reset).
double PeakSinceMB() {
  double peak = 0;
  if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::strncmp(line, "VmHWM:", 6) == 0) peak = std::atof(line + 6) / 1024.0;
    std::fclose(f);
  }
  if (std::FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", f);
    std::fclose(f);
  }
  return peak;
}

struct EngineRun {
  ObjPtr<CAD::ICADContext> ctx;
  ObjPtr<CAD::IView> view;
  ObjPtr<CAD::IShapeVis> vis;
};

void EnginePath(CAD::ICADTools* tools, const std::string& path, EngineRun& run) {
  run.ctx = ObjPtr<CAD::ICADContext>(tools->NewContext());
  Check(run.ctx->ImportSTL(path.c_str()), "the engine's import");
  ObjPtr<CAD::IAssembly> doc(run.ctx->GetAssembly());
  Check(doc->GetChildCount() == 1, "one part");
  ObjPtr<CAD::IItem> item(doc->GetChild(0));
  auto* part = dynamic_cast<CAD::IPart*>(item.Get());
  Check(part != nullptr, "a part");
  ObjPtr<CAD::IShape> shape(part->GetShape());
  run.view = ObjPtr<CAD::IView>(run.ctx->NewView(nullptr, CAD::eViewOffscreen));
  run.vis = ObjPtr<CAD::IShapeVis>(run.view->Display(shape.Get()));
  run.view->FitAll();
  run.view->Redraw();
}

}  // namespace

int main(int argc, char** argv) {
  const long triangles = argc > 1 ? std::max(100L, std::atol(argv[1])) : 1000000L;
  Check(std::getenv("DISPLAY") != nullptr, "finding an X display (DISPLAY)");
  const char* libDir = std::getenv("TOLMERA_LIB_DIR");
  const std::string lib =
      std::string(libDir ? libDir : BENCH_DEFAULT_LIB_DIR) + "/libcad-ondravel.so";
  void* handle = dlopen(lib.c_str(), RTLD_NOW);
  Check(handle != nullptr, "loading the engine");
  auto entry = reinterpret_cast<QZCadEntryPoint>(dlsym(handle, "EntryPoint"));
  Check(entry != nullptr, "EntryPoint");
  CAD::ICADTools* tools = entry();

  char tmpl[] = "/tmp/bench-stl-XXXXXX";
  Check(mkdtemp(tmpl) != nullptr, "mkdtemp");
  const std::filesystem::path dir = tmpl;
  const std::string path = (dir / "torus.stl").string();
  long nodes = 0;
  WriteTorus(path, triangles, nodes);
  const long count = static_cast<long>(std::filesystem::file_size(path) - 84) / 50;
  // The mesh's own size: nodes as three doubles, triangles as three indices.
  const double meshMB = (nodes * 24.0 + count * 12.0) / (1024.0 * 1024.0);
  std::printf("mesh: %ld triangles, %ld nodes, %.1f MB as a triangulation, file %.1f MB\n", count,
              nodes, meshMB, std::filesystem::file_size(path) / (1024.0 * 1024.0));

  // Memory: the libraries and the first view (its graphic context) are set up by a small mesh
  // first; then the growth while each path holds the large mesh, imported and shown.
  const std::string small = (dir / "small.stl").string();
  long smallNodes = 0;
  WriteTorus(small, 200, smallNodes);
  {
    EngineRun warm;
    EnginePath(tools, small, warm);
    KernelPath(small);
  }
  malloc_trim(0);
  double before = ResidentMB();
  {
    ObjPtr<CAD::ICADContext> ctx(tools->NewContext());
    Check(ctx->ImportSTL(path.c_str()), "the engine's import");
    malloc_trim(0);
    const double held = ResidentMB() - before;
    std::printf("engine memory while the mesh is imported (not shown): %.1f MB, %.2f x the mesh\n",
                held, held / meshMB);
  }
  malloc_trim(0);
  before = ResidentMB();
  {
    EngineRun run;
    EnginePath(tools, path, run);
    malloc_trim(0);
    const double held = ResidentMB() - before;
    std::printf(
        "engine memory while the mesh is imported and shown: %.1f MB, %.2f x the mesh "
        "(target <= 3)\n",
        held, held / meshMB);
  }
  malloc_trim(0);
  before = ResidentMB();
  {
    Handle(Poly_Triangulation) mesh = RWStl::ReadFile(path.c_str());
    TopoDS_Face face;
    BRep_Builder().MakeFace(face, mesh);
    KernelView v;
    Handle(AIS_Shape) ais = new AIS_Shape(face);
    v.context->Display(ais, AIS_Shaded, 0, false);
    v.view->FitAll();
    v.view->Redraw();
    malloc_trim(0);
    const double held = ResidentMB() - before;
    std::printf("kernel alone, the same: %.1f MB, %.2f x the mesh\n", held, held / meshMB);
  }

  // The paths of the commands, each side from the file, alternating.
  const std::string out = (dir / "out.stl").string(), png = (dir / "out.png").string();
  double engineBox[6] = {}, kernelBox[6] = {};
  struct Path {
    const char* name;
    std::function<void()> kernel, engine;
  };
  const Path paths[] = {
      {"info (import, box)", [&] { KernelInfo(path, kernelBox); },
       [&] { EngineInfo(tools, path, engineBox); }},
      {"import and display", [&] { KernelPath(path); },
       [&] {
         EngineRun run;
         EnginePath(tools, path, run);
       }},
      {"render (800 x 600)", [&] { KernelRender(path); }, [&] { EngineRender(tools, path, png); }},
      {"STL export", [&] { KernelStl(path, out); }, [&] { EngineStl(tools, path, out); }},
  };
  std::printf("processor time, median of 3 runs each (target: ratio <= 1.5)\n");
  for (const Path& p : paths) {
    std::vector<double> engine, kernel;
    for (int i = 0; i < 3; ++i) {
      kernel.push_back(Seconds(p.kernel));
      engine.push_back(Seconds(p.engine));
    }
    const double e = Median(engine), k = Median(kernel);
    std::printf("%-20s engine %.3f s, kernel alone %.3f s, ratio %.3f\n", p.name, e, k, e / k);
  }
  for (int c = 0; c < 6; ++c)
    Check(std::fabs(engineBox[c] - kernelBox[c]) < 1e-3 * (1 + std::fabs(kernelBox[c])),
          "the same box on both sides");
  Check(std::filesystem::file_size(out) == 84 + 50ull * static_cast<unsigned long long>(count),
        "every triangle written");

  // STEP: the cost of a face per triangle on a mesh of 20,000 triangles, then the refusal of
  // the large one.
  {
    const std::string medium = (dir / "medium.stl").string();
    long mediumNodes = 0;
    WriteTorus(medium, 20000, mediumNodes);
    const long faces = static_cast<long>(std::filesystem::file_size(medium) - 84) / 50;
    ObjPtr<CAD::ICADContext> ctx;
    EngineImport(tools, medium, ctx);
    malloc_trim(0);
    const double base = ResidentMB();
    PeakSinceMB();
    setenv("CAD_ONDRAVEL_MAX_MESH_FACES", "100000000", 1);
    const std::string step = (dir / "medium.step").string();
    const double t = Seconds([&] { Check(ctx->ExportSTEP(step.c_str()), "STEP export"); });
    unsetenv("CAD_ONDRAVEL_MAX_MESH_FACES");
    const double peak = PeakSinceMB() - base;
    std::printf(
        "STEP export, %ld triangles: %.2f s (%.3f ms a face), peak memory %.0f MB (%.1f kB a "
        "face), file %.1f kB a face\n",
        faces, t, t * 1e3 / faces, peak, peak * 1024 / faces,
        std::filesystem::file_size(step) / 1024.0 / faces);
  }
  {
    ObjPtr<CAD::ICADContext> ctx;
    EngineImport(tools, path, ctx);
    malloc_trim(0);
    const double base = ResidentMB();
    PeakSinceMB();
    const std::string step = (dir / "big.step").string();
    bool written = true;
    const double t = Seconds([&] { written = ctx->ExportSTEP(step.c_str()); });
    const double peak = PeakSinceMB() - base;
    Check(!written && ctx->GetLastErrorCode() == QZ::eCodeTooLarge, "the refusal");
    Check(!std::filesystem::exists(step), "no file written");
    std::printf("STEP export, %ld triangles: refused in %.3f s, peak memory growth %.0f MB: %s\n",
                count, t, peak, ctx->GetLastErrorText());
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
