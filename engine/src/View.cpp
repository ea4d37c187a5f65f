// Views drawn by the kernel's visualisation into a window, or into an invisible one.
#include "Context.h"
#include "Shape.h"

#include "DisplayMesh.h"
#include "Mesh.h"

#include <AIS_ColoredShape.hxx>
#include <AIS_InteractiveContext.hxx>
#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>
#include <Prs3d.hxx>
#include <NCollection_DataMap.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_ShapeMapHasher.hxx>
#include <AIS_Shape.hxx>
#include <Aspect_DisplayConnection.hxx>
#include <Aspect_Grid.hxx>
#include <Graphic3d_Group.hxx>
#include <Graphic3d_RenderingParams.hxx>
#include <Graphic3d_Structure.hxx>
#include <Graphic3d_StructureManager.hxx>
#include <Image_PixMap.hxx>
#include <OpenGl_GraphicDriver.hxx>
#include <Prs3d_Drawer.hxx>
#include <Quantity_Color.hxx>
#include <V3d_View.hxx>
#include <V3d_Viewer.hxx>
#include <Xw_Window.hxx>
#include <gp_Ax3.hxx>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace cad_engine {

namespace {

// A graphic driver of its own for each view: on the caller's X display (which the caller keeps
// open while the view lives), or on a connection of its own to $DISPLAY for off-screen views.
Handle(OpenGl_GraphicDriver) NewDriver(void* display) {
  Handle(Aspect_DisplayConnection) connection;
  if (display) {
    connection = new Aspect_DisplayConnection(static_cast<Aspect_XDisplay*>(display));
  } else {
    // Off-screen views share one connection of the process.
    static Handle(Aspect_DisplayConnection) own;
    if (own.IsNull()) own = new Aspect_DisplayConnection();
    connection = own;
  }
  if (!connection->GetDisplayAspect()) Throw(QZ::eCodeFailure, "NewView: no X display");
  return new OpenGl_GraphicDriver(connection, true);
}

bool WritePng(const Image_PixMap& pm, const char* path) {
  const size_t w = pm.SizeX(), h = pm.SizeY();
  const Image_Format fmt = pm.Format();
  const size_t bpp = pm.SizePixelBytes();
  const bool bgr = fmt == Image_Format_BGR || fmt == Image_Format_BGRA || fmt == Image_Format_BGR32;
  if (bpp < 3 || w == 0 || h == 0) return false;
  std::vector<unsigned char> raw;
  raw.reserve((w * 3 + 1) * h);
  for (size_t y = 0; y < h; ++y) {
    raw.push_back(0);                      // no filter
    const unsigned char* src = pm.Row(y);  // row 0 is the top row whatever the storage order
    for (size_t x = 0; x < w; ++x) {
      const unsigned char* p = src + x * bpp;
      raw.push_back(bgr ? p[2] : p[0]);
      raw.push_back(p[1]);
      raw.push_back(bgr ? p[0] : p[2]);
    }
  }
  uLongf packedSize = compressBound(raw.size());
  std::vector<unsigned char> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), raw.size(), 6) != Z_OK) return false;
  packed.resize(packedSize);

  std::FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  auto be32 = [](std::vector<unsigned char>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<unsigned char>(x >> s));
  };
  auto chunk = [&](const char* type, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> c;
    be32(c, static_cast<uint32_t>(data.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    const uint32_t crc = crc32(crc32(0, nullptr, 0), c.data() + 4, static_cast<uInt>(c.size() - 4));
    be32(c, crc);
    return std::fwrite(c.data(), 1, c.size(), f) == c.size();
  };
  static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  bool ok = std::fwrite(sig, 1, 8, f) == 8;
  std::vector<unsigned char> ihdr;
  be32(ihdr, static_cast<uint32_t>(w));
  be32(ihdr, static_cast<uint32_t>(h));
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB
  ok = ok && chunk("IHDR", ihdr) && chunk("IDAT", packed) && chunk("IEND", {});
  return std::fclose(f) == 0 && ok;
}

// What a view has made ready of a placed shape (its solid and location): the deflection its
// display asks of its mesh, and whether every face of it has its mesh.
struct PreparedShape {
  double deflection = 0;
  bool meshed = false;
};
using PreparedShapes = NCollection_DataMap<TopoDS_Shape, PreparedShape, TopTools_ShapeMapHasher>;

// The deflection the view's shaded display asks of a shape's mesh (what the kernel's shaded
// presentation computes from the drawer: relative to the size of the shape's box).
double DisplayDeflection(const TopoDS_Shape& s, const Handle(Prs3d_Drawer) & drawer) {
  if (drawer->TypeOfDeflection() != Aspect_TOD_RELATIVE) return drawer->MaximalChordialDeviation();
  Bnd_Box box;
  BRepBndLib::Add(s, box, false);
  return Prs3d::GetDeflection(box, drawer->DeviationCoefficient(),
                              drawer->MaximalChordialDeviation());
}

// Meshes the shapes for display on the machine's processors: each solid (its own topology,
// wherever it is placed) once, with the finest deflection any of its placements asks for, so that
// displaying any of them finds its mesh made. Solids that share faces or edges with another are
// meshed after the others, one at a time (two threads never mesh one face or edge).
// Gives back what was made ready of each placed shape, which Display then need not find again.
void PrepareMeshes(QZ::CAD::IShape* const* shapes, size_t count, const Handle(Prs3d_Drawer) & d,
                   PreparedShapes& found) {
  std::vector<TopoDS_Shape> placed;
  placed.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    if (!shapes[i]) continue;
    const TopoDS_Shape& s = ShapeOf(shapes[i]);
    if (!s.IsNull() && !IsMeshShape(s)) placed.push_back(s);
  }
  const int threads = MachineThreads();
  std::vector<double> deflection(placed.size());
  ParallelFor(placed.size(), threads,
              [&](size_t i) { deflection[i] = DisplayDeflection(placed[i], d); });
  struct Job {
    TopoDS_Shape shape;
    double deflection;
    size_t faces = 0;
    bool meshed = false;
  };
  std::vector<Job> jobs;
  std::vector<size_t> jobOf(placed.size());
  std::unordered_map<const TopoDS_TShape*, size_t> byTShape;
  for (size_t i = 0; i < placed.size(); ++i) {
    auto [it, added] = byTShape.emplace(placed[i].TShape().get(), jobs.size());
    if (added)
      jobs.push_back({placed[i], deflection[i]});
    else
      jobs[it->second].deflection = std::min(jobs[it->second].deflection, deflection[i]);
    jobOf[i] = it->second;
  }
  // Meshing writes the faces (their meshes) and the edges (their polygons on those meshes): a
  // solid sharing either with another is meshed on its own. (A boolean's result may keep an edge
  // of its argument whose faces it changed.)
  std::unordered_map<const TopoDS_TShape*, size_t> owner;
  std::vector<size_t> parallel, later;
  for (size_t j = 0; j < jobs.size(); ++j) {
    bool shared = false;
    for (const TopAbs_ShapeEnum kind : {TopAbs_FACE, TopAbs_EDGE}) {
      for (TopExp_Explorer e(jobs[j].shape, kind); e.More(); e.Next()) {
        auto [it, added] = owner.emplace(e.Current().TShape().get(), j);
        if (!added && it->second != j) shared = true;
        if (kind == TopAbs_FACE) ++jobs[j].faces;
      }
    }
    (shared ? later : parallel).push_back(j);
  }
  // The solids of most faces first (a gear takes a hundred times a box), so that no processor
  // is left meshing one of them while the others have finished.
  std::stable_sort(parallel.begin(), parallel.end(),
                   [&](size_t a, size_t b) { return jobs[a].faces > jobs[b].faces; });
  const double angle = d->DeviationAngle();
  // A solid meshed while no other is (one changed element, or one sharing faces) has its faces
  // meshed on all processors.
  auto mesh = [&](Job& job, bool alone) {
    job.meshed = MeshForDisplay(job.shape, job.deflection, angle, alone && threads > 1);
  };
  const bool alone = parallel.size() == 1;
  ParallelFor(parallel.size(), threads, [&](size_t j) { mesh(jobs[parallel[j]], alone); });
  for (size_t j : later) mesh(jobs[j], true);
  for (size_t i = 0; i < placed.size(); ++i)
    found.Bind(placed[i], {deflection[i], jobs[jobOf[i]].meshed});
}

// What the view draws of a shape: the shape in one colour (SetColor), or, for a shape read with
// colours on its sub-shapes, those drawn in their own colours and transparency over the shape's
// colour. The shape's own transparency applies to all of it.
Handle(AIS_Shape) Presentation(const TopoDS_Shape& s, const ShapeColorsPtr& colors) {
  if (!colors) return new AIS_Shape(s);
  Handle(AIS_ColoredShape) ais = new AIS_ColoredShape(s);
  if (colors->hasDefault) {
    const float* c = colors->defaultRgba;
    ais->SetColor(Quantity_Color(c[0], c[1], c[2], Quantity_TOC_sRGB));
    if (c[3] < 1.0f) ais->SetTransparency(1.0 - c[3]);
  }
  for (const auto& [sub, entry] : ColoredSubShapes(s, *colors)) {
    // A colour meant for curves leaves the surfaces of faces and solids as they are.
    if (entry->use == ColorUse::Curve && entry->kind <= TopAbs_FACE) continue;
    const float* c = entry->rgba;
    ais->SetCustomColor(sub, Quantity_Color(c[0], c[1], c[2], Quantity_TOC_sRGB));
    if (c[3] < 1.0f || (colors->hasDefault && colors->defaultRgba[3] < 1.0f))
      ais->SetCustomTransparency(sub, 1.0 - c[3]);
  }
  return ais;
}

// The distance between grid lines for a box whose largest side is size: 1, 2 or 5 times a power
// of ten, the first at least a tenth of the size.
double GridSpacing(double size) {
  const double want = size / 10;
  const double decade = std::pow(10.0, std::floor(std::log10(want)));
  for (const double m : {1.0, 2.0, 5.0})
    if (m * decade >= want * (1 - 1e-9)) return m * decade;
  return 10 * decade;
}

// The grid under a box (GetGrid in the interface says where): lines at whole multiples of the
// spacing, at least one spacing beyond the box on each side, an even number of cells in each
// direction (the kernel draws the grid's lines from its centre out), the plane a fiftieth of
// the box's largest side below its lowest point.
QZ::CAD::GridPlacement GridUnder(const Bnd_Box& box) {
  constexpr QZ::CAD::GridPlacement kEmpty{-100, -100, 100, 100, 0, 10};
  if (box.IsVoid() || box.IsOpen()) return kEmpty;
  double x0, y0, z0, x1, y1, z1;
  box.Get(x0, y0, z0, x1, y1, z1);
  for (const double v : {x0, y0, z0, x1, y1, z1})
    if (!std::isfinite(v)) return kEmpty;
  const double size = std::max({x1 - x0, y1 - y0, z1 - z0, 1e-3});
  const double spacing = GridSpacing(size);
  QZ::CAD::GridPlacement g{};
  g.spacing = spacing;
  g.z = z0 - size / 50;
  // A side on a multiple (within rounding) has its margin from that multiple.
  auto span = [&](double lo, double hi, double& from, double& to) {
    from = (std::floor(lo / spacing + 1e-9) - 1) * spacing;
    to = (std::ceil(hi / spacing - 1e-9) + 1) * spacing;
    if (static_cast<long long>(std::llround((to - from) / spacing)) % 2 != 0) to += spacing;
  };
  span(x0, x1, g.xmin, g.xmax);
  span(y0, y1, g.ymin, g.ymax);
  // Far from the origin the multiples lose their precision: a grid of a bounded number of
  // lines around the box instead.
  const double cells = std::max(g.xmax - g.xmin, g.ymax - g.ymin) / spacing;
  if (!(cells <= 1000)) {
    const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, half = size / 2 + spacing;
    g.xmin = cx - half;
    g.xmax = cx + half;
    g.ymin = cy - half;
    g.ymax = cy + half;
    g.spacing = half / 10;
  }
  return g;
}

bool SameGrid(const QZ::CAD::GridPlacement& a, const QZ::CAD::GridPlacement& b) {
  return a.xmin == b.xmin && a.ymin == b.ymin && a.xmax == b.xmax && a.ymax == b.ymax &&
         a.z == b.z && a.spacing == b.spacing;
}

struct ViewState {
  // In the order of creation, so that they are released in the opposite one.
  Handle(OpenGl_GraphicDriver) driver;
  Handle(Xw_Window) window;
  Handle(V3d_Viewer) viewer;
  Handle(V3d_View) view;
  Handle(AIS_InteractiveContext) context;
  // An off-screen view's picture: drawn into a frame buffer of its own, so that what it shows
  // can be read back as it was drawn.
  Handle(Standard_Transient) picture;
  // What was made ready of the shapes not shown yet.
  PreparedShapes prepared;
  // Something drawn in the kept picture of the scene erased, coloured or moved to the front,
  // something shown in the scene's own layer, or the camera moved, since the scene was last
  // drawn: the next draw must draw it whole.
  bool changed = true;
  long sceneDraws = 0;
  // The off-screen picture holds what the view showed at its last draw (a picture saved at
  // another size since is drawn into it).
  bool shown = false;
  // Shapes displayed since the scene was last drawn whole: not in its kept picture. Those still
  // shown in the scene's layer at the next draw make it draw the scene whole.
  std::vector<Handle(AIS_InteractiveObject)> pending;
  // Shapes the caller keeps in front besides the selected ones (KeepInFront).
  std::vector<Handle(AIS_InteractiveObject)> kept;

  // The front: the selected shapes are drawn in the kernel's layer over the scene's, with the
  // depth of the scene's kept picture, so that their change is drawn over that picture alone
  // (the one whole draw was made when they were selected). Both layers test and write depth
  // the same way, so occlusion by and of the rest is the whole draw's.
  bool InFront(const Handle(AIS_InteractiveObject) & ais) const {
    return context->GetZLayer(ais) == Graphic3d_ZLayerId_Top;
  }
  // A change of a shape (erased, coloured, moved between the layers), told before it is made:
  // the scene is drawn whole when its kept picture shows the shape.
  void Touched(const Handle(AIS_InteractiveObject) & ais) {
    if (changed || !context->IsDisplayed(ais) || InFront(ais)) return;
    if (std::find(pending.begin(), pending.end(), ais) == pending.end()) changed = true;
  }
  void ToFront(const Handle(AIS_InteractiveObject) & ais) {
    if (InFront(ais)) return;
    Touched(ais);
    context->SetZLayer(ais, Graphic3d_ZLayerId_Top);
  }
  bool Kept(const Handle(AIS_InteractiveObject) & ais) const {
    return std::find(kept.begin(), kept.end(), ais) != kept.end();
  }
  // Back into the scene's layer, unless selected or kept in front.
  void ToScene(const Handle(AIS_InteractiveObject) & ais) {
    if (!InFront(ais) || context->IsSelected(ais) || Kept(ais)) return;
    context->SetZLayer(ais, Graphic3d_ZLayerId_Default);
    if (context->IsDisplayed(ais)) changed = true;
  }

  // The depth range the next whole draw would fit to the scene (the kernel fits it to what is
  // shown before every whole draw): when a change in front moves it, the kept picture's depth
  // no longer matches, and the scene is drawn whole.
  bool DepthRangeMoved() {
    if (!view->AutoZFitMode()) return false;
    const Handle(Graphic3d_Camera)& camera = view->Camera();
    const double zNear = camera->ZNear(), zFar = camera->ZFar();
    view->AutoZFit();
    return camera->ZNear() != zNear || camera->ZFar() != zFar;
  }

  // What is made ready just before the scene is drawn whole (the grid put under what is shown):
  // a change of the front alone, drawn over the kept picture, leaves it for the next whole draw.
  std::function<void()> beforeWholeDraw;

  // Draws the scene whole when it changed; otherwise the kernel draws the front again over its
  // kept picture of the rest (and draws it whole itself when the window lost it).
  void Draw() {
    shown = true;
    if (!changed)
      for (const Handle(AIS_InteractiveObject) & ais : pending)
        if (context->IsDisplayed(ais) && !InFront(ais)) changed = true;
    pending.clear();
    if (changed || view->IsInvalidated() || DepthRangeMoved()) {
      changed = false;
      ++sceneDraws;
      if (beforeWholeDraw) beforeWholeDraw();
      view->Redraw();
    } else {
      view->RedrawImmediate();
    }
  }
};

class CView;

class CShapeVis final : public RefCounted<QZ::CAD::IShapeVis> {
 public:
  CShapeVis(std::shared_ptr<ViewState> state, Handle(AIS_Shape) ais,
            QZ::ObjPtr<QZ::CAD::IShape> shape)
      : m_state(std::move(state)), m_ais(std::move(ais)), m_shape(std::move(shape)) {}

  void SetColor(double r, double g, double b) override {
    Guard("SetColor", [&] {
      for (double v : {r, g, b})
        if (!(v >= 0.0 && v <= 1.0))
          Throw(QZ::eCodeInvalidParameter, "colour components lie between 0 and 1");
      m_state->Touched(m_ais);
      m_state->context->SetColor(m_ais, Quantity_Color(r, g, b, Quantity_TOC_sRGB), false);
    });
  }
  QZ::CAD::IShape* GetShape() override { return m_shape.AddRefGet(); }
  bool IsSame(QZ::CAD::IShapeVis* other) override {
    auto* o = dynamic_cast<CShapeVis*>(other);
    return o && o->m_ais == m_ais;
  }
  bool IsDisplayed() override { return m_state->context->IsDisplayed(m_ais); }

  const Handle(AIS_Shape) & Ais() const { return m_ais; }
  // The box of the shape, found once: from its display mesh where it has one (the quick box
  // elsewhere).
  const Bnd_Box& Box() {
    if (!m_boxFound) {
      const TopoDS_Shape& s = ShapeOf(m_shape.Get());
      if (!s.IsNull()) BRepBndLib::Add(s, m_box, true);
      m_boxFound = true;
    }
    return m_box;
  }

 private:
  std::shared_ptr<ViewState> m_state;
  Handle(AIS_Shape) m_ais;
  QZ::ObjPtr<QZ::CAD::IShape> m_shape;
  Bnd_Box m_box;
  bool m_boxFound = false;
};

class CView final : public RefCounted<QZ::CAD::IView> {
 public:
  CView(void* handle, int kind) : m_state(std::make_shared<ViewState>()) {
    void* display = nullptr;
    unsigned long window = 0;
    if (kind == QZ::CAD::eViewWindow) {
      auto* h = static_cast<QZ::CAD::XWindowHandle*>(handle);
      if (!h || !h->display || !h->window)
        Throw(QZ::eCodeInvalidParameter, "NewView: no window handle");
      display = h->display;
      window = h->window;
    } else if (kind != QZ::CAD::eViewOffscreen) {
      Throw(QZ::eCodeInvalidParameter, "NewView: unknown kind of view");
    }
    m_state->driver = NewDriver(display);
    const Handle(OpenGl_GraphicDriver)& driver = m_state->driver;
    m_state->viewer = new V3d_Viewer(driver);
    m_state->viewer->SetDefaultLights();
    m_state->viewer->SetLightOn();
    m_state->viewer->SetDefaultTypeOfView(V3d_ORTHOGRAPHIC);
    m_state->view = m_state->viewer->CreateView();
    if (kind == QZ::CAD::eViewWindow) {
      m_state->window =
          new Xw_Window(driver->GetDisplayConnection(), static_cast<Aspect_Drawable>(window));
    } else {
      m_state->window =
          new Xw_Window(driver->GetDisplayConnection(), "cad-ondravel offscreen", 0, 0, 640, 480);
      m_state->window->SetVirtual(true);
    }
    m_state->view->SetWindow(m_state->window);
    if (kind == QZ::CAD::eViewOffscreen) {
      // Without a frame buffer the view draws into its invisible window, as before.
      m_state->picture = m_state->view->View()->FBOCreate(640, 480);
      if (!m_state->picture.IsNull()) m_state->view->View()->SetFBO(m_state->picture);
    }
    m_state->view->SetBackgroundColor(Quantity_NOC_WHITE);
    m_state->view->ChangeRenderingParams().IsAntialiasingEnabled = true;
    m_state->view->ChangeRenderingParams().NbMsaaSamples = 4;
    m_state->context = new AIS_InteractiveContext(m_state->viewer);
    m_state->context->SetDisplayMode(AIS_Shaded, false);
    m_state->context->DefaultDrawer()->SetFaceBoundaryDraw(true);
    // A selected shape is drawn whole in a colour no model part has by default.
    const Handle(Prs3d_Drawer)& selected = m_state->context->SelectionStyle();
    selected->SetColor(Quantity_NOC_ORANGE);
    selected->SetDisplayMode(AIS_Shaded);
    ResetView();
    // Room in depth (below), an empty structure whose box the kernel's depth fit takes in.
    m_room = new Graphic3d_Structure(m_state->viewer->StructureManager());
    m_room->SetInfiniteState(true);
    m_roomGroup = m_room->NewGroup();
    m_state->beforeWholeDraw = [this] {
      PlaceGrid();
      PlaceRoom();
      // The depth range fitted to the scene as it now is (the fit made to decide the draw saw
      // the grid and the room where they were).
      if (m_state->view->AutoZFitMode()) m_state->view->AutoZFit();
    };
  }
  ~CView() override {
    try {
      m_state->beforeWholeDraw = nullptr;
      if (!m_room.IsNull()) m_room->Erase();
      ReleaseAll();
      if (!m_state->picture.IsNull()) {
        m_state->view->View()->SetFBO(Handle(Standard_Transient)());
        m_state->view->View()->FBORelease(m_state->picture);
      }
      m_state->view->Remove();
    } catch (...) {}
  }

  QZ::CAD::IShapeVis* Display(QZ::CAD::IShape* shape) override {
    return Guard("Display", [&]() -> QZ::CAD::IShapeVis* {
      const TopoDS_Shape& s = ShapeOf(shape);
      if (s.IsNull()) Throw(QZ::eCodeNullShape, "Display: null shape");
      const ShapeColorsPtr colors = ColorsOf(shape);
      Handle(AIS_Shape) ais = Presentation(s, colors);
      // A one-colour shape made ready takes the deflection found for it then, the one its
      // shading and selection would find again from its box.
      PreparedShape prepared;
      if (m_state->prepared.Find(s, prepared)) {
        m_state->prepared.UnBind(s);
        if (!colors) {
          ais->Attributes()->SetTypeOfDeflection(Aspect_TOD_ABSOLUTE);
          ais->Attributes()->SetMaximalChordialDeviation(prepared.deflection);
          // Its mesh is made: the shading takes it as it is. (It would mesh again, in vain,
          // every face where the mesher cannot come within the deflection.)
          if (prepared.meshed) ais->Attributes()->SetAutoTriangulation(false);
        }
      }
      m_state->context->Display(ais, AIS_Shaded, 0, false);
      m_state->pending.push_back(ais);
      m_gridStale = true;
      auto* vis = new CShapeVis(m_state, ais, QZ::ObjPtr<QZ::CAD::IShape>::Share(shape));
      m_shown.push_back(vis);  // the view's own reference
      vis->AddRef();           // the caller's
      return vis;
    });
  }
  void Paint() override {
    Guard("Paint", [&] { Draw(); });
  }
  void Zoom(double& factor) override {
    Guard("Zoom", [&] {
      if (!(std::isfinite(factor) && factor > 0))
        Throw(QZ::eCodeInvalidParameter, "Zoom: factor must be positive");
      m_state->changed = true;
      m_state->view->SetZoom(factor, true);
    });
  }
  void ButtonDown(int& x, int& y) override {
    Guard("ButtonDown", [&] {
      m_lastX = x;
      m_lastY = y;
      if (m_dragMode == QZ::CAD::eDragRotate) m_state->view->StartRotation(x, y);
    });
  }
  void RightButtonDown(int& x, int& y) override {
    m_zoomX = x;
    m_zoomY = y;
  }
  void Drag(int& x, int& y) override {
    Guard("Drag", [&] {
      m_state->changed = true;
      if (m_dragMode == QZ::CAD::eDragRotate)
        m_state->view->Rotation(x, y);
      else
        m_state->view->Pan(x - m_lastX, m_lastY - y);
      m_lastX = x;
      m_lastY = y;
    });
  }
  // Zooms in while the mouse moves up or to the right, out while it moves back.
  void RightDrag(int& x, int& y) override {
    Guard("RightDrag", [&] {
      m_state->changed = true;
      m_state->view->Zoom(m_zoomX, m_zoomY, x, y);
      m_zoomX = x;
      m_zoomY = y;
    });
  }
  void SetDragMode(int mode) override {
    Guard("SetDragMode", [&] {
      if (mode != QZ::CAD::eDragPan && mode != QZ::CAD::eDragRotate)
        Throw(QZ::eCodeInvalidParameter, "SetDragMode: unknown mode");
      m_dragMode = mode;
    });
  }
  void Resized() override {
    Guard("Resized", [&] {
      m_state->changed = true;
      m_state->window->DoResize();
      m_state->view->MustBeResized();
    });
  }
  void ShowGrid(bool show) override {
    Guard("ShowGrid", [&] {
      m_state->changed = true;
      m_gridShown = show;
      if (show) {
        m_gridStale = true;
        PlaceGrid();
        m_state->viewer->ActivateGrid(Aspect_GT_Rectangular, Aspect_GDM_Lines);
      } else {
        m_state->viewer->DeactivateGrid();
      }
    });
  }
  void ShowAxes(bool show) override {
    Guard("ShowAxes", [&] {
      m_state->changed = true;
      if (show)
        m_state->view->TriedronDisplay(Aspect_TOTP_LEFT_LOWER, Quantity_NOC_BLACK, 0.08,
                                       V3d_ZBUFFER);
      else
        m_state->view->TriedronErase();
    });
  }
  void Select(QZ::CAD::IShapeVis* vis) override {
    Guard("Select", [&] {
      auto* v = Mine(vis);
      if (!v) return;
      if (!m_state->context->IsSelected(v->Ais())) {
        m_state->ToFront(v->Ais());
        m_state->context->AddOrRemoveSelected(v->Ais(), false);
      }
    });
  }
  QZ::CAD::IShapeVis* Pick(int x, int y) override {
    return Guard("Pick", [&]() -> QZ::CAD::IShapeVis* {
      m_state->context->MoveTo(x, y, m_state->view, false);
      if (!m_state->context->HasDetected()) return nullptr;
      Handle(AIS_InteractiveObject) hit = m_state->context->DetectedInteractive();
      m_state->context->ClearDetected(false);
      for (CShapeVis* v : m_shown) {
        if (v->Ais() == hit) {
          v->AddRef();
          return v;
        }
      }
      return nullptr;
    });
  }
  void Erase(QZ::CAD::IShapeVis* vis) override {
    Guard("Erase", [&] {
      auto* v = Mine(vis);
      if (!v) return;
      m_state->Touched(v->Ais());
      m_state->context->Remove(v->Ais(), false);
      Forget(v);
    });
  }
  void ClearSelection() override {
    Guard("ClearSelection", [&] {
      const Handle(AIS_InteractiveContext)& context = m_state->context;
      if (context->NbSelected() == 0) return;
      std::vector<Handle(AIS_InteractiveObject)> selected;
      for (context->InitSelected(); context->MoreSelected(); context->NextSelected())
        selected.push_back(context->SelectedInteractive());
      context->ClearSelected(false);
      for (const Handle(AIS_InteractiveObject) & ais : selected) m_state->ToScene(ais);
      m_state->changed = true;  // the highlight goes
    });
  }
  void FinishSelection() override {
    Guard("FinishSelection", [&] { Draw(); });
  }
  void DeleteSelected() override {
    Guard("DeleteSelected", [&] {
      std::vector<CShapeVis*> selected;
      for (CShapeVis* v : m_shown)
        if (m_state->context->IsSelected(v->Ais())) selected.push_back(v);
      for (CShapeVis* v : selected) {
        m_state->Touched(v->Ais());
        m_state->context->Remove(v->Ais(), false);
        Forget(v);
      }
    });
  }
  void Redraw() override {
    Guard("Redraw", [&] { Draw(); });
  }
  void FitAll() override {
    Guard("FitAll", [&] {
      m_state->changed = true;
      m_state->view->FitAll(0.05, false);
      m_state->view->ZFitAll();
    });
  }
  void UpdateView() override {
    Guard("UpdateView", [&] { Draw(); });
  }
  void EraseAll() override {
    Guard("EraseAll", [&] { ReleaseAll(); });
  }
  void ResetView() override {
    Guard("ResetView", [&] {
      m_state->changed = true;
      m_state->view->SetProj(V3d_XposYnegZpos);
      m_state->view->SetZoom(1.0, true);
      m_state->view->FitAll(0.05, false);
      m_state->view->ZFitAll();
    });
  }
  bool SaveImage(const char* path, int width, int height) override {
    return Guard("SaveImage", [&] {
      if (!path || width <= 0 || height <= 0 || width > 8192 || height > 8192)
        Throw(QZ::eCodeInvalidParameter, "SaveImage: bad path or size");
      Image_PixMap pm;
      // The picture is drawn off the window, with buffers of its own size: the window's is
      // drawn whole the next time.
      PlaceGrid();
      m_state->changed = true;
      m_state->shown = false;
      if (!m_state->view->ToPixMap(pm, width, height, Graphic3d_BT_RGB)) return false;
      return WritePng(pm, path);
    });
  }
  void KeepInFront(QZ::CAD::IShapeVis* const* visuals, int count) override {
    Guard("KeepInFront", [&] {
      if (count < 0 || (count > 0 && !visuals))
        Throw(QZ::eCodeInvalidParameter, "KeepInFront: no visuals");
      std::vector<Handle(AIS_InteractiveObject)> kept;
      for (int i = 0; i < count; ++i)
        if (CShapeVis* v = Mine(visuals[i])) kept.push_back(v->Ais());
      std::swap(m_state->kept, kept);
      for (const Handle(AIS_InteractiveObject) & ais : kept) m_state->ToScene(ais);
      for (const Handle(AIS_InteractiveObject) & ais : m_state->kept) m_state->ToFront(ais);
    });
  }
  bool SaveShownImage(const char* path) override {
    return Guard("SaveShownImage", [&] {
      if (!path) Throw(QZ::eCodeInvalidParameter, "SaveShownImage: no path");
      if (m_state->picture.IsNull() || !m_state->shown) return false;
      const Handle(Graphic3d_CView)& view = m_state->view->View();
      Standard_Integer width = 0, height = 0, widthMax = 0, heightMax = 0;
      view->FBOGetDimensions(m_state->picture, width, height, widthMax, heightMax);
      Image_PixMap pm;
      if (width <= 0 || height <= 0 ||
          !pm.InitZero(Image_Format_RGB, static_cast<Standard_Size>(width),
                       static_cast<Standard_Size>(height)))
        return false;
      if (!view->BufferDump(pm, Graphic3d_BT_RGB)) return false;
      return WritePng(pm, path);
    });
  }
  void Prepare(QZ::CAD::IShape* const* shapes, int count) override {
    Guard("Prepare", [&] {
      if (!shapes || count <= 0) return;
      const Handle(Prs3d_Drawer)& drawer = m_state->context->DefaultDrawer();
      PrepareMeshes(shapes, static_cast<size_t>(count), drawer, m_state->prepared);
    });
  }
  int GetDisplayedCount() override { return static_cast<int>(m_shown.size()); }
  long GetSceneDrawCount() override { return m_state->sceneDraws; }
  int GetSelectedCount() override {
    return Guard("GetSelectedCount", [&] { return m_state->context->NbSelected(); });
  }
  double GetScale() override {
    return Guard("GetScale", [&] { return m_state->view->Scale(); });
  }
  bool GetGrid(QZ::CAD::GridPlacement* out) override {
    return Guard("GetGrid", [&] {
      if (!out) Throw(QZ::eCodeInvalidParameter, "GetGrid: no placement");
      if (!m_gridShown) return false;
      FindGrid();
      *out = m_wantedGrid;
      return true;
    });
  }

 private:
  // A grid that is to move makes the draw a whole one, unless the change is a shape shown again
  // in front (a selected element rebuilt, drawn over the kept picture): the grid then moves at
  // the next whole draw.
  void Draw() {
    if (m_gridShown) {
      FindGrid();
      if (!m_gridPlaced || !SameGrid(m_wantedGrid, m_grid)) {
        bool shownInFront = false;
        for (const Handle(AIS_InteractiveObject) & ais : m_state->pending)
          if (m_state->context->IsDisplayed(ais) && m_state->InFront(ais)) shownInFront = true;
        if (!shownInFront) m_state->changed = true;
      }
    }
    m_state->Draw();
  }
  // Where the grid is to lie under what the view shows, found again when that changed.
  void FindGrid() {
    if (!m_gridStale) return;
    m_gridStale = false;
    Bnd_Box box;
    for (CShapeVis* v : m_shown) box.Add(v->Box());
    box.SetGap(0.0);  // the faces' tolerances
    m_wantedGrid = GridUnder(box);
  }
  // Room in depth around what is shown, put before each whole draw: the model's box grown by
  // its largest side on every side. The depth range the kernel fits to the scene takes it in, so
  // that a shape of the front changed within it (a selected element made larger) leaves the
  // range, and so the kept picture's depth, as they are, and is drawn over that picture alone.
  void PlaceRoom() {
    Bnd_Box box;
    for (CShapeVis* v : m_shown) box.Add(v->Box());
    box.SetGap(0.0);
    if (box.IsVoid() || box.IsOpen()) {
      if (m_room->IsDisplayed()) m_room->Erase();
      return;
    }
    double x0, y0, z0, x1, y1, z1;
    box.Get(x0, y0, z0, x1, y1, z1);
    const double d = std::max({x1 - x0, y1 - y0, z1 - z0, 1.0});
    if (!std::isfinite(d)) return;
    m_roomGroup->SetMinMaxValues(x0 - d, y0 - d, z0 - d, x1 + d, y1 + d, z1 + d);
    m_room->CalculateBoundBox();
    if (!m_room->IsDisplayed())
      m_room->Display();
    else
      m_state->viewer->StructureManager()->Update(m_room->GetZLayer());  // the layer's box
  }
  // Puts the grid there (before a whole draw of the scene, which draws it).
  void PlaceGrid() {
    if (!m_gridShown) return;
    FindGrid();
    const QZ::CAD::GridPlacement& g = m_wantedGrid;
    if (m_gridPlaced && SameGrid(g, m_grid)) return;
    m_grid = g;
    m_gridPlaced = true;
    const Handle(V3d_Viewer)& viewer = m_state->viewer;
    // The grid's own origin at its centre (the kernel draws its lines from there), its plane
    // parallel to XY.
    const double cx = (g.xmin + g.xmax) / 2, cy = (g.ymin + g.ymax) / 2;
    viewer->SetPrivilegedPlane(gp_Ax3(gp_Pnt(cx, cy, g.z), gp::DZ(), gp::DX()));
    viewer->SetRectangularGridValues(0, 0, g.spacing, g.spacing, 0);
    // A little beyond the half sizes, so that the border lines are drawn too.
    const double over = g.spacing * 1e-3;
    viewer->SetRectangularGridGraphicValues((g.xmax - g.xmin) / 2 + over,
                                            (g.ymax - g.ymin) / 2 + over, 0);
  }

  CShapeVis* Mine(QZ::CAD::IShapeVis* vis) {
    auto* v = dynamic_cast<CShapeVis*>(vis);
    if (!v) return nullptr;
    return std::find(m_shown.begin(), m_shown.end(), v) != m_shown.end() ? v : nullptr;
  }
  void Forget(CShapeVis* v) {
    auto& kept = m_state->kept;
    kept.erase(std::remove(kept.begin(), kept.end(), v->Ais()), kept.end());
    m_shown.erase(std::remove(m_shown.begin(), m_shown.end(), v), m_shown.end());
    v->Release();
    m_gridStale = true;
  }
  void ReleaseAll() {
    m_state->context->RemoveAll(false);
    m_state->prepared.Clear();
    m_state->pending.clear();
    m_state->kept.clear();
    m_state->changed = true;
    for (CShapeVis* v : m_shown) v->Release();
    m_shown.clear();
    m_gridStale = true;
  }

  std::shared_ptr<ViewState> m_state;
  std::vector<CShapeVis*> m_shown;
  int m_lastX = 0, m_lastY = 0;
  int m_zoomX = 0, m_zoomY = 0;
  int m_dragMode = QZ::CAD::eDragPan;
  // The grid: shown or not, where it is to lie (found again when what is shown changed) and
  // where it was put.
  bool m_gridShown = false;
  bool m_gridStale = true;
  QZ::CAD::GridPlacement m_wantedGrid{};
  bool m_gridPlaced = false;
  QZ::CAD::GridPlacement m_grid{};
  Handle(Graphic3d_Structure) m_room;
  Handle(Graphic3d_Group) m_roomGroup;
};

}  // namespace

QZ::CAD::IView* NewView(void* handle, int kind) { return new CView(handle, kind); }

}  // namespace cad_engine
