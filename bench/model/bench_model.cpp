// Opening models of real elements, and shaft recognition.
//
// The models are what users open: generated here, about n elements (1,000 by default) of ten
// kinds in nested groups with placements: boxes, cylinders, hollow cylinders, spur gears,
// hexagon bolts, socket head screws, deep groove ball bearings, I-beams, L-beams and shafts of
// three sections with a rectangular groove, a key groove and a circular groove (a shaft counts
// its three sections), each kind in three sizes, as the parts of an assembly repeat. The same
// model with every element of its own sizes shows what building each one costs. The element
// catalogue sheet (examples/models/catalogue.xml) has 82 elements, no two alike.
//
// Each model is opened three ways, each in a process of its own (so that its peak memory is its
// own): built (the model file read, every solid built and placed), as `morlane info` needs it
// (built, then the box of every solid), and shown (a workspace opening the file into an
// off-screen view: built, displayed, fitted and drawn once; needs an X display). Every line
// gives the wall-clock time, the processor time, the peak resident memory, and the ratio of the
// wall time against reading a model file of as many boxes in the same process. Aims on the
// 2-core machine: the catalogue in 2 s (info and shown), 1,000 mixed elements in 4 s (info)
// and 6 s (shown), 1,000 elements no two alike in 8 s, at most 1 GiB.
//
// The catalogue's gear elements are then opened one by one, each as a model of its own, with their
// boxes; then every element of the catalogue so (the shaft with its sections as one), costliest
// first, to show where the catalogue's time goes.
//
// Then one parameter of one element of the opened mixed model is changed and the element
// rebuilt and shown again (a shaft section rebuilds its shaft): milliseconds per change (aim
// 100 ms), wall and processor, with the whole scenes the view drew for it, against one whole
// draw of the view (the reference: a change should cost no more than that one draw); in the
// 640 x 480 off-screen view, then again in a 1400 x 860 window. Per family: 30 elements of their
// own sizes, microseconds each. Last, a shaft of 20 sections with 10 grooves is recognised, against
// building it.
//
// bench_model [elements]         every case, each in a child process
// bench_model --case NAME [n]    one case (what the children run)
#include "../common/CpuTiming.h"
#include "model/ShaftRecognition.h"
#include "model/elements/Shafts.h"
#include "model/reader/ModelReader.h"
#include "workspace/CadEngineLibrary.h"
#include "workspace/WorkspaceCore.h"

#include <X11/Xlib.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>
#include <vector>

namespace {

using bench::CpuNow;

double WallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Timing {
  double wall = 0, cpu = 0;
};

Timing Measure(const std::function<void()>& f) {
  const double w0 = WallNow(), c0 = CpuNow();
  f();
  return {WallNow() - w0, CpuNow() - c0};
}

double PeakMiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024.0;
}

std::string Param(const char* name, double v) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "<Param Name=\"%s\">%.10g</Param>", name, v);
  return buf;
}

std::string Object(const char* type, int i, const std::string& params,
                   const std::string& inner = std::string()) {
  char head[200];
  std::snprintf(head, sizeof head,
                "<Object Type=\"%s\" Name=\"E%d\"><MatrixTransform><Element Col=\"4\" "
                "Row=\"1\">%d</Element></MatrixTransform><GeometryParameters>",
                type, i, (i % 20) * 150);
  return head + params + "</GeometryParameters>" + inner + "</Object>\n";
}

std::string Groove(const char* type, const std::string& params) {
  return std::string("<GrooveObject Type=\"") + type + "\"><GeometryParameters>" + params +
         "</GeometryParameters></GrooveObject>";
}

const char* const kKinds[] = {"Box",     "Cylinder",          "HollowCylinder", "GearExternal",
                              "BoltHex", "BoltHexSocket",     "Bearing",        "BeamI",
                              "BeamL",   "Shaft (3 sections)"};
constexpr int kKindCount = 10;

// One element of kind `kind` in size 0, 1 or 2 (scale 1, 1.25, 1.6); d is added to one length
// (0 for the shared sizes). Returns the elements it makes (a shaft's sections).
std::string Element(int i, int kind, int size, double d, int& count) {
  const double k = size == 0 ? 1.0 : size == 1 ? 1.25 : 1.6;
  switch (kind) {
    case 0:
      ++count;
      return Object("Box", i, Param("w", 40 * k) + Param("h", 30 * k) + Param("l", 20 * k + d));
    case 1: ++count; return Object("Cylinder", i, Param("r", 15 * k) + Param("l", 60 * k + d));
    case 2:
      ++count;
      return Object("HollowCylinder", i,
                    Param("dout", 40 * k) + Param("din", 25 * k) + Param("l", 30 * k + d));
    case 3: {
      ++count;
      const int z[] = {24, 31, 40};
      return Object("GearExternal", i,
                    Param("z", z[size]) + Param("mn", 2) + Param("b", 20 * k + d) +
                        Param("alpha", 20) + Param("beta", 0) + Param("k", 0) + Param("x", 0) +
                        Param("d", 12 * k));
    }
    case 4: {
      ++count;
      const double m = 10 * k;
      return Object("BoltHex", i,
                    Param("s", 1.6 * m) + Param("k", 0.64 * m) + Param("c", 0.06 * m) +
                        Param("dw", 1.46 * m) + Param("ls", 2 * m) + Param("b", 2.6 * m + d) +
                        Param("ds", m) + Param("d", m));
    }
    case 5: {
      ++count;
      const double m = 8 * k;
      return Object("BoltHexSocket", i,
                    Param("d", m) + Param("ds", m) + Param("ls", 2 * m) + Param("b", 3 * m + d) +
                        Param("d1", 1.5 * m) + Param("k", m) + Param("s", 0.75 * m) +
                        Param("t", 0.5 * m));
    }
    case 6: {
      ++count;
      const double dout[] = {62, 72, 90}, din[] = {30, 35, 45}, b[] = {16, 17, 20};
      return Object("BearingSingleRowDeepGrooveBall", i,
                    Param("dout", dout[size]) + Param("din", din[size]) + Param("B", b[size] + d));
    }
    case 7:
      ++count;
      return Object("BeamI", i,
                    Param("h", 100 * k) + Param("b", 50 * k) + Param("t", 6 * k) +
                        Param("s", 4 * k) + Param("r1", 5 * k) + Param("r2", 2 * k) +
                        Param("l", 300 + d));
    case 8:
      ++count;
      return Object("BeamL", i,
                    Param("h", 50 * k) + Param("b", 40 * k) + Param("t", 5 * k) +
                        Param("r", 4 * k) + Param("l", 250 + d));
    default: {
      count += 3;
      std::string s = "<Node Type=\"Shaft\" Name=\"S" + std::to_string(i) + "\">";
      const double dia[] = {40 * k, 50 * k, 36 * k};
      for (int j = 0; j < 3; ++j) {
        const double l = (j == 1 ? 80 : 50) * k + d;
        std::string p = Param("pos", 0) + Param("dout1", dia[j]) + Param("dout2", dia[j]) +
                        Param("din1", 0) + Param("din2", 0) + Param("l", l) +
                        Param("lch1", j == 0 ? -1 : 0) + Param("lch2", j == 2 ? 1.5 : 0);
        std::string g;
        if (j == 0)
          g = Groove("GrooveRectangular",
                     Param("x", 20 * k) + Param("m", 3 * k) + Param("t", 1.5) + Param("r", 0.2));
        else if (j == 1)
          g = Groove("GrooveParallelKey", Param("x", 15 * k) + Param("l", 40 * k) +
                                              Param("t", 4 * k) + Param("r", 6 * k) +
                                              Param("angle", 0));
        else
          g = Groove("GrooveCircular", Param("x", 25 * k) + Param("t", 1) + Param("r", 2));
        s += Object("ShaftSection", i * 10 + j, p, g);
      }
      return s + "</Node>\n";
    }
  }
}

// A model file of about n elements in groups of 20; kind -1 mixes the ten kinds, sizes rotate
// through three; distinct gives every element sizes of its own. Returns the element count.
int WriteModel(const std::string& path, int n, int kind = -1, bool distinct = false) {
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
    const int k = kind >= 0 ? kind : i % kKindCount;
    const int size = (i / kKindCount) % 3;
    out << Element(i, k, size, distinct ? 0.001 * (i + 1) : 0.0, count);
  }
  out << "</Node></Data></Model>\n";
  return count;
}

void WriteBoxes(const std::string& path, int n) {
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Model><Data>\n";
  for (int i = 0; i < n; ++i) {
    if (i % 20 == 0) out << (i ? "</Node>\n" : "") << "<Node Name=\"G" << i / 20 << "\">\n";
    int unused = 0;
    out << Element(i, 0, 0, 0.0, unused);
  }
  out << "</Node></Data></Model>\n";
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void Leaves(CTreeObject& o, std::vector<CObject3D*>& out) {
  if (o.IsNode()) {
    for (const auto& c : static_cast<CNode&>(o).GetChildren())
      if (c) Leaves(*c, out);
  } else if (static_cast<CObject3D&>(o).GetShape()) {
    out.push_back(static_cast<CObject3D*>(&o));
  }
}

struct Engine {
  CCadEngineLibrary library;
  QZ::ObjPtr<QZ::CAD::ICADContext> ctx;
  bool Load() {
    const char* libDir = std::getenv("TOLMERA_LIB_DIR");
    const std::string lib =
        std::string(libDir ? libDir : BENCH_DEFAULT_LIB_DIR) + "/" + CCadEngineLibrary::FileName();
    if (library.LoadFrom(lib) != CCadEngineLibrary::eLoaded || !library.GetTools()) {
      std::fprintf(stderr, "cannot load %s\n", lib.c_str());
      return false;
    }
    ctx = QZ::ObjPtr<QZ::CAD::ICADContext>(library.GetTools()->NewContext());
    return bool(ctx);
  }
};

int g_messages = 0;

// Reads the file into a new root; the element count.
int Read(Engine& e, const std::string& path, std::shared_ptr<CNodeRoot>& root) {
  root = std::make_shared<CNodeRoot>();
  root->SetContext(e.ctx);
  ModelReadReport report;
  if (!ReadModelFile(Wide(path), root, &report)) return -1;
  return report.objectsRead;
}

// The box of every solid, as `morlane info` prints them (the kernel's quick bound).
void Boxes(QZ::CAD::ICADContext* ctx, CTreeObject& root) {
  std::vector<CObject3D*> leaves;
  Leaves(root, leaves);
  double sum = 0;
  for (CObject3D* leaf : leaves) {
    double b[6];
    if (ctx->GetQuickBox(leaf->GetShape().Get(), b)) sum += b[3] - b[0];
  }
  if (sum < 0) std::printf("?");
}

bool HaveDisplay() {
  const char* d = std::getenv("DISPLAY");
  return d && *d;
}

// What a case does with its model file: 0 build, 1 info, 2 shown.
int RunCase(Engine& e, const std::string& file, int how, const std::string& dir, Timing& t) {
  int count = 0;
  std::shared_ptr<CNodeRoot> root;
  if (how < 2) {
    t = Measure([&] {
      count = Read(e, file, root);
      if (how == 1 && count > 0) Boxes(e.ctx.Get(), *root);
    });
    return count;
  }
  CWorkspaceCore ws;
  ws.SetTools(e.library.GetTools());
  ws.SetView(
      QZ::ObjPtr<QZ::CAD::IView>(ws.GetContext()->NewView(nullptr, QZ::CAD::eViewOffscreen)));
  const std::string png = dir + "/shown.png";
  t = Measure([&] {
    if (!ws.OpenXml(Wide(file))) return;
    ws.GetView()->SaveImage(png.c_str(), 800, 600);
  });
  std::remove(png.c_str());
  if (!ws.GetRoot()) return -1;
  std::vector<CObject3D*> leaves;
  Leaves(*ws.GetRoot(), leaves);
  return static_cast<int>(leaves.size());
}

// The top-level elements of the catalogue sheet (objects, and the shaft's node with its sections),
// each as a model of its own: the sheet's text up to <Data>, the one element, the closing tags.
// gearsOnly: only the gear elements (gears, bevel gear, rack, planet carrier).
std::vector<std::pair<std::string, std::string>> CatalogueElements(const std::string& sheet,
                                                                   bool gearsOnly) {
  std::ifstream in(sheet, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t data = text.find("<Data>"), end = text.find("</Data>");
  std::vector<std::pair<std::string, std::string>> models;
  if (data == std::string::npos || end == std::string::npos) return models;
  const std::string head = text.substr(0, data + 6);
  int depth = 0;
  size_t start = 0;
  auto opens = [&](size_t at, const char* tag, size_t n) {
    return text.compare(at, n, tag) == 0 && std::isspace(static_cast<unsigned char>(text[at + n]));
  };
  for (size_t at = text.find("<", data + 6); at != std::string::npos && at < end;
       at = text.find("<", at + 1)) {
    if (text.compare(at, 8, "</Object") == 0 || text.compare(at, 6, "</Node") == 0) {
      if (--depth != 0) continue;
      const size_t close = text.find('>', at) + 1;
      const std::string object = text.substr(start, close - start);
      const size_t t = object.find("Type=\"") + 6;
      const std::string type = object.substr(t, object.find('"', t) - t);
      const size_t n = object.find("Name=\"") + 6;
      const std::string name = n < 6 ? type : object.substr(n, object.find('"', n) - n);
      const bool gear = type.rfind("Gear", 0) == 0 || type == "ConeGear" || type == "RackGear" ||
                        type == "PlanetCarrier";
      if (gear || !gearsOnly)
        models.emplace_back(type + " (" + name + ")", head + "\n" + object + "\n</Data></Model>\n");
    } else if (opens(at, "<Object", 7) || opens(at, "<Node", 5)) {
      const size_t close = text.find('>', at);
      if (close != std::string::npos && text[close - 1] == '/') continue;  // an empty element
      if (depth++ == 0) start = at;
    }
  }
  return models;
}

// One property change of one element of an opened model, rebuilt and shown again: in the
// off-screen view, or in the window given (with other values, so that its solids are new to
// the engine too).
void RunRebuilds(Engine& e, const std::string& file, QZ::CAD::XWindowHandle* window = nullptr) {
  CWorkspaceCore ws;
  ws.SetTools(e.library.GetTools());
  if (HaveDisplay())
    ws.SetView(QZ::ObjPtr<QZ::CAD::IView>(
        ws.GetContext()->NewView(window, window ? QZ::CAD::eViewWindow : QZ::CAD::eViewOffscreen)));
  if (!ws.OpenXml(Wide(file))) return;
  std::vector<CObject3D*> leaves;
  Leaves(*ws.GetRoot(), leaves);
  struct Change {
    const wchar_t* type;
    const wchar_t* param;
    const char* what;
  };
  const Change changes[] = {{L"Box", L"w", "box"},
                            {L"GearExternal", L"z", "spur gear, z"},
                            {L"Bearing", L"dout", "bearing, dout"},
                            {L"BoltHex", L"b", "hexagon bolt, b"},
                            {L"ShaftSection", L"dout1", "shaft section (whole shaft), dout1"}};
  if (ws.GetView()) {
    // The reference: the whole view drawn once again.
    ws.GetView()->ShowAxes(true);  // as it is: only a reason to draw the scene again
    const Timing draw = Measure([&] { ws.GetView()->Redraw(); });
    std::printf("  %-38s %7.1f ms (%ld draws of the scene so far), %7.1f ms processor\n",
                "the whole view drawn once", 1e3 * draw.wall, ws.GetView()->GetSceneDrawCount(),
                1e3 * draw.cpu);
  }
  for (const Change& c : changes) {
    CObject3D* target = nullptr;
    for (CObject3D* leaf : leaves)
      if (leaf->GetTypeName().rfind(c.type, 0) == 0) {
        target = leaf;
        break;
      }
    if (!target) continue;
    auto property = target->FindStandardProperty(c.param);
    if (!property) continue;
    ws.OnTreeSelectionChanged(target);
    const CVariant old = property->GetValue();
    const CVariant next = old.Type() == VT_INT
                              ? CVariant(old.ToInt() + (window ? 2 : 1))
                              : CVariant(old.ToDouble() * (window ? 1.0291 : 1.0137));
    // The rebuild alone (a section's: its whole shaft), then the change as the property pane
    // makes it: written, rebuilt, shown again and drawn.
    CTreeObject* rebuilt = target->GetType() == eTypeShaftSection ? target->GetParent() : target;
    property->SetValue(next);
    const Timing build = Measure([&] { rebuilt->Update(); });
    property->SetValue(old);
    rebuilt->Update();
    PropertyChange result = PropertyChange::Ignored;
    const long draws = ws.GetView() ? ws.GetView()->GetSceneDrawCount() : 0;
    const Timing t = Measure([&] { result = ws.ChangeProperty(*property, next); });
    const long drawn = ws.GetView() ? ws.GetView()->GetSceneDrawCount() - draws : 0;
    std::printf(
        "  %-38s %7.1f ms rebuilt, %7.1f ms with the view drawn again (%ld draws), %7.1f ms "
        "processor%s\n",
        c.what, 1e3 * build.wall, 1e3 * t.wall, drawn, 1e3 * t.cpu,
        result == PropertyChange::Rebuilt ? "" : " (not rebuilt!)");
  }
}

int OneCase(const std::string& name, int n) {
  Engine e;
  if (!e.Load()) return 1;
  SetBuildErrorReporter([&](const std::wstring& m) {
    if (++g_messages <= 5) std::fprintf(stderr, "%ls\n", m.c_str());
  });
  char dirTemplate[] = "/tmp/bench-model-XXXXXX";
  if (!mkdtemp(dirTemplate)) return 1;
  const std::string dir = dirTemplate;
  const std::string file = dir + "/model.xml", boxes = dir + "/boxes.xml";
  int rc = 0;
  if (name == "catalogue-gears" || name == "catalogue-each") {
    const bool gears = name == "catalogue-gears";
    std::printf("the catalogue's %s, each opened alone with its box (as morlane info)%s:\n",
                gears ? "gear elements" : "elements", gears ? "" : ", costliest first");
    struct Line {
      std::string what;
      Timing t;
    };
    std::vector<Line> lines;
    Timing sum;
    for (const auto& [type, text] : CatalogueElements(
             std::string(BENCH_SOURCE_DIR) + "/examples/models/catalogue.xml", gears)) {
      std::ofstream(file, std::ios::binary) << text;
      Timing t;
      if (RunCase(e, file, 1, dir, t) < 1) rc = 1;
      lines.push_back({type, t});
      sum.wall += t.wall;
      sum.cpu += t.cpu;
    }
    if (!gears)
      std::stable_sort(lines.begin(), lines.end(),
                       [](const Line& a, const Line& b) { return a.t.cpu > b.t.cpu; });
    for (const Line& l : lines)
      std::printf("  %-62s %7.3f s wall, %7.3f s cpu\n", l.what.c_str(), l.t.wall, l.t.cpu);
    if (!gears)
      std::printf("  %-62s %7.3f s wall, %7.3f s cpu\n", "all of them, one after the other",
                  sum.wall, sum.cpu);
  } else if (name == "families") {
    std::printf(
        "per family, 30 elements each, no two alike (wall and processor us per element):\n");
    for (int kind = 0; kind < kKindCount; ++kind) {
      const int count = WriteModel(file, 30, kind, true);
      std::shared_ptr<CNodeRoot> root;
      const Timing t = Measure([&] { Read(e, file, root); });
      std::printf("  %-20s %9.0f %9.0f\n", kKinds[kind], 1e6 * t.wall / count, 1e6 * t.cpu / count);
    }
  } else if (name == "rebuild") {
    WriteModel(file, n);
    std::printf("one property changed in the opened %d-element mixed model, rebuilt%s:\n", n,
                HaveDisplay() ? " and shown again" : " (no display: not shown)");
    RunRebuilds(e, file);
    // The same in a window of the size of the program's snapshots, as a person sees it.
    if (Display* display = HaveDisplay() ? XOpenDisplay(nullptr) : nullptr) {
      const Window w =
          XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1400, 860, 0, 0, 0xFFFFFF);
      XMapWindow(display, w);
      XSync(display, False);
      std::printf("the same in a 1400 x 860 window:\n");
      QZ::CAD::XWindowHandle handle{display, w};
      RunRebuilds(e, file, &handle);
      XDestroyWindow(display, w);
      XCloseDisplay(display);
    }
  } else if (name == "recognise") {
    QZ::ObjPtr<QZ::CAD::IShape> shaft;
    const Timing build = Measure([&] {
      QZ::ObjPtr<QZ::CAD::IShaftBuilder> b(e.ctx->GetShaftFactory()->NewShaftBuilder());
      for (int i = 0; i < 20; ++i) {
        const double d = i % 2 ? 40 : 36;
        QZ::ObjPtr<QZ::CAD::ISectionShape> s(b->AddSection(0, d, d, 8, 8, 40, -1, 0));
        if (i % 2 == 0) s->AddGrooveRectangular(15, 5, 1.5, 0.3);
      }
      shaft = QZ::ObjPtr<QZ::CAD::IShape>(b->GetShape());
    });
    int sections = 0;
    const Timing rec = Measure([&] {
      QZ::ObjPtr<QZ::CAD::IRecognizeShaft> r(e.ctx->GetShaftRecognizer()->Recognize(shaft.Get()));
      sections = r ? r->GetSectionCount() : 0;
    });
    std::printf(
        "recognition of 20 sections with 10 grooves: %.4f s (%d sections found), %.2fx the time "
        "of building the shaft\n",
        rec.wall, sections, rec.wall / std::max(build.wall, 1e-9));
  } else {
    // <model>-<how>: model mixed, distinct or catalogue; how build, info or shown.
    const auto dash = name.rfind('-');
    const std::string model = name.substr(0, dash), howName = name.substr(dash + 1);
    const int how = howName == "build" ? 0 : howName == "info" ? 1 : 2;
    std::string path = file;
    if (model == "catalogue")
      path = std::string(BENCH_SOURCE_DIR) + "/examples/models/catalogue.xml";
    else
      WriteModel(file, n, -1, model == "distinct");
    if (how == 2 && !HaveDisplay()) {
      std::printf("  %-18s (no X display: not measured)\n", name.c_str());
    } else {
      Timing t;
      const int count = RunCase(e, path, how, dir, t);
      // The reference: a model file of as many boxes, read in this process.
      WriteBoxes(boxes, std::max(count, 1));
      std::shared_ptr<CNodeRoot> root;
      const Timing ref = Measure([&] { Read(e, boxes, root); });
      root.reset();
      std::printf(
          "  %-18s %5d elements: %7.3f s wall, %7.3f s cpu, peak %6.0f MiB, %6.1fx the wall "
          "time of as many boxes\n",
          name.c_str(), count, t.wall, t.cpu, PeakMiB(), t.wall / std::max(ref.wall, 1e-9));
      if (count <= 0) rc = 1;
    }
  }
  std::remove(file.c_str());
  std::remove(boxes.c_str());
  rmdir(dir.c_str());
  if (g_messages) std::printf("  (%d build messages)\n", g_messages);
  SetBuildErrorReporter(nullptr);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[1], "--case") == 0)
    return OneCase(argv[2], argc > 3 ? std::max(10, std::atoi(argv[3])) : 1000);
  const int n = argc > 1 ? std::max(10, std::atoi(argv[1])) : 1000;
  const std::string count = std::to_string(n);
  std::printf("opening models (wall and processor seconds, peak resident memory):\n");
  std::fflush(stdout);
  const char* cases[] = {"catalogue-build", "catalogue-info", "catalogue-shown", "catalogue-gears",
                         "catalogue-each",  "mixed-build",    "mixed-info",      "mixed-shown",
                         "distinct-build",  "distinct-info",  "distinct-shown",  "rebuild",
                         "families",        "recognise"};
  int failures = 0;
  for (const char* c : cases) {
    const pid_t pid = fork();
    if (pid == 0) {
      execl("/proc/self/exe", argv[0], "--case", c, count.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::printf("  %s failed\n", c);
      ++failures;
    }
    std::fflush(stdout);
  }
  return failures ? 1 : 0;
}
