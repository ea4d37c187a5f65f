// Colours on the faces and solids of exchange files: files written here with the kernel's
// document writers (a box with six differently coloured faces, a pin header whose black body
// and gold pins are solids of one part, a transparent box) are imported with their colours,
// drawn in them, and written back with the same colours on the same faces, which the kernel's
// own readers find again.
#include "EngineFixture.h"

#include <BRepGProp.hxx>
#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRep_Builder.hxx>
#include <GProp_GProps.hxx>
#include <IGESCAFControl_Reader.hxx>
#include <IGESCAFControl_Writer.hxx>
#include <Quantity_ColorRGBA.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <STEPCAFControl_Writer.hxx>
#include <TDocStd_Document.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <XCAFApp_Application.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <set>

using namespace engine_test;

namespace {

using Rgba = std::array<double, 4>;

Handle(TDocStd_Document) NewDoc() {
  Handle(TDocStd_Document) doc;
  XCAFApp_Application::GetApplication()->NewDocument("MDTV-XCAF", doc);
  return doc;
}

struct DocCloser {
  Handle(TDocStd_Document) doc;
  ~DocCloser() { XCAFApp_Application::GetApplication()->Close(doc); }
};

Quantity_ColorRGBA ToRgba(const Rgba& c) {
  return Quantity_ColorRGBA(Quantity_Color(c[0], c[1], c[2], Quantity_TOC_sRGB),
                            static_cast<float>(c[3]));
}

gp_Pnt FaceCentre(const TopoDS_Shape& face) {
  GProp_GProps props;
  BRepGProp::SurfaceProperties(face, props);
  return props.CentreOfMass();
}

// The six faces of the box: +x red, -y green, +z blue (the three the corner view shows), -x
// yellow, +y cyan, -z magenta.
const Rgba kRed{1, 0, 0, 1}, kGreen{0, 1, 0, 1}, kBlue{0, 0, 1, 1}, kYellow{1, 1, 0, 1},
    kCyan{0, 1, 1, 1}, kMagenta{1, 0, 1, 1};
const Rgba kBlack{0.016, 0.016, 0.016, 1}, kGold{0.83, 0.69, 0.22, 1};
const Rgba kGlass{0.2, 0.4, 0.9, 0.35}, kGlassTop{1, 1, 0, 0.6};

Rgba BoxFaceColour(const gp_Pnt& c, const gp_Pnt& lo, const gp_Pnt& hi) {
  const double t = 1e-6;
  if (std::abs(c.X() - hi.X()) < t) return kRed;
  if (std::abs(c.Y() - lo.Y()) < t) return kGreen;
  if (std::abs(c.Z() - hi.Z()) < t) return kBlue;
  if (std::abs(c.X() - lo.X()) < t) return kYellow;
  if (std::abs(c.Y() - hi.Y()) < t) return kCyan;
  return kMagenta;
}

// What a file should hold: which parts, and the colour every face shows (its own, else its
// solid's, else its part's), by the face's centre in model coordinates.
struct ColouredModel {
  bool box = false, header = false, glass = false, looseFaces = false, edge = false;
};

// Writes the chosen parts as free shapes of a kernel document, to STEP or IGES.
void WriteColouredFile(const std::string& path, ColouredModel what) {
  Handle(TDocStd_Document) doc = NewDoc();
  DocCloser closer{doc};
  Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  Handle(XCAFDoc_ColorTool) colors = XCAFDoc_DocumentTool::ColorTool(doc->Main());
  if (what.box) {
    // A 10 mm cube at the origin, grey itself, each face coloured.
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(gp_Pnt(0, 0, 0), gp_Pnt(10, 10, 10)).Shape();
    const TDF_Label part = shapes->AddShape(box, false);
    colors->SetColor(part, Quantity_Color(0.5, 0.5, 0.5, Quantity_TOC_sRGB), XCAFDoc_ColorSurf);
    for (TopExp_Explorer e(box, TopAbs_FACE); e.More(); e.Next()) {
      const TDF_Label face = shapes->AddSubShape(part, e.Current());
      colors->SetColor(
          face, ToRgba(BoxFaceColour(FaceCentre(e.Current()), gp_Pnt(0, 0, 0), gp_Pnt(10, 10, 10))),
          XCAFDoc_ColorSurf);
    }
  }
  if (what.header) {
    // A pin header of one part without a colour of its own: a black body (x 30..50, y 0..5,
    // z 0..8) and two gold pins standing out of its top; the solids carry the colours.
    BRep_Builder b;
    TopoDS_Compound header;
    b.MakeCompound(header);
    const TopoDS_Shape body = BRepPrimAPI_MakeBox(gp_Pnt(30, 0, 0), gp_Pnt(50, 5, 8)).Shape();
    b.Add(header, body);
    std::vector<TopoDS_Shape> pins;
    for (double x : {36.0, 44.0}) {
      pins.push_back(BRepPrimAPI_MakeBox(gp_Pnt(x - 1, 1.5, 8), gp_Pnt(x + 1, 3.5, 16)).Shape());
      b.Add(header, pins.back());
    }
    const TDF_Label part = shapes->AddShape(header, false);
    colors->SetColor(shapes->AddSubShape(part, body), ToRgba(kBlack), XCAFDoc_ColorSurf);
    for (const TopoDS_Shape& pin : pins)
      colors->SetColor(shapes->AddSubShape(part, pin), ToRgba(kGold), XCAFDoc_ColorSurf);
  }
  if (what.glass) {
    // A transparent box (x 60..70) whose top is a transparent yellow of its own.
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(gp_Pnt(60, 0, 0), gp_Pnt(70, 10, 10)).Shape();
    const TDF_Label part = shapes->AddShape(box, false);
    colors->SetColor(part, ToRgba(kGlass), XCAFDoc_ColorSurf);
    for (TopExp_Explorer e(box, TopAbs_FACE); e.More(); e.Next())
      if (std::abs(FaceCentre(e.Current()).Z() - 10) < 1e-6)
        colors->SetColor(shapes->AddSubShape(part, e.Current()), ToRgba(kGlassTop),
                         XCAFDoc_ColorSurf);
  }
  if (what.edge) {
    // A box (x 100..110) with one red edge.
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(gp_Pnt(100, 0, 0), gp_Pnt(110, 10, 10)).Shape();
    const TDF_Label part = shapes->AddShape(box, false);
    colors->SetColor(shapes->AddSubShape(part, TopExp_Explorer(box, TopAbs_EDGE).Current()),
                     Quantity_Color(1, 0, 0, Quantity_TOC_sRGB), XCAFDoc_ColorCurv);
  }
  if (what.looseFaces) {
    // The six faces of a cube (x 80..90) as loose faces of one part, each coloured.
    const TopoDS_Shape box = BRepPrimAPI_MakeBox(gp_Pnt(80, 0, 0), gp_Pnt(90, 10, 10)).Shape();
    BRep_Builder b;
    TopoDS_Compound faces;
    b.MakeCompound(faces);
    for (TopExp_Explorer e(box, TopAbs_FACE); e.More(); e.Next()) b.Add(faces, e.Current());
    const TDF_Label part = shapes->AddShape(faces, false);
    for (TopExp_Explorer e(faces, TopAbs_FACE); e.More(); e.Next())
      colors->SetColor(
          shapes->AddSubShape(part, e.Current()),
          ToRgba(BoxFaceColour(FaceCentre(e.Current()), gp_Pnt(80, 0, 0), gp_Pnt(90, 10, 10))),
          XCAFDoc_ColorSurf);
  }
  if (path.find(".ig") != std::string::npos) {
    IGESCAFControl_Writer w;
    w.SetColorMode(true);
    w.SetNameMode(true);
    ASSERT_TRUE(w.Transfer(doc));
    ASSERT_TRUE(w.Write(path.c_str()));
  } else {
    STEPCAFControl_Writer w;
    w.SetColorMode(true);
    w.SetNameMode(true);
    ASSERT_TRUE(w.Transfer(doc, STEPControl_AsIs));
    ASSERT_EQ(w.Write(path.c_str()), IFSelect_RetDone);
  }
}

struct FaceColour {
  gp_Pnt centre;
  Rgba colour;
};

// The colour each face of a file shows, as the kernel's document reader reads it: the face's
// own, else its solid's, else its part's (instance or product), else its assembly's.
std::vector<FaceColour> KernelFaceColours(const std::string& path) {
  Handle(TDocStd_Document) doc = NewDoc();
  DocCloser closer{doc};
  bool ok = false;
  if (path.find(".ig") != std::string::npos) {
    IGESCAFControl_Reader r;
    r.SetColorMode(true);
    ok = r.ReadFile(path.c_str()) == IFSelect_RetDone && r.Transfer(doc);
  } else {
    STEPCAFControl_Reader r;
    r.SetColorMode(true);
    ok = r.ReadFile(path.c_str()) == IFSelect_RetDone && r.Transfer(doc);
  }
  EXPECT_TRUE(ok) << path;
  Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  Handle(XCAFDoc_ColorTool) colors = XCAFDoc_DocumentTool::ColorTool(doc->Main());
  auto colourOf = [&](const TDF_Label& l, Rgba& out) {
    Quantity_ColorRGBA c;
    if (!colors->GetColor(l, XCAFDoc_ColorSurf, c) && !colors->GetColor(l, XCAFDoc_ColorGen, c))
      return false;
    Standard_Real r, g, b;
    c.GetRGB().Values(r, g, b, Quantity_TOC_sRGB);
    out = {r, g, b, c.Alpha()};
    return true;
  };
  std::vector<FaceColour> out;
  std::function<void(const TDF_Label&, const TopLoc_Location&, std::optional<Rgba>)> walk =
      [&](const TDF_Label& label, const TopLoc_Location& loc, std::optional<Rgba> inherited) {
        Rgba own;
        if (colourOf(label, own)) inherited = own;
        TDF_Label l = label;
        TopLoc_Location at = loc;
        if (XCAFDoc_ShapeTool::IsReference(label)) {
          XCAFDoc_ShapeTool::GetReferredShape(label, l);
          at = loc * XCAFDoc_ShapeTool::GetLocation(label);
          if (colourOf(l, own)) inherited = own;
        }
        if (XCAFDoc_ShapeTool::IsAssembly(l)) {
          TDF_LabelSequence children;
          XCAFDoc_ShapeTool::GetComponents(l, children);
          for (int i = 1; i <= children.Length(); ++i) walk(children(i), at, inherited);
          return;
        }
        const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(l).Located(TopLoc_Location());
        const TopLoc_Location place = at * XCAFDoc_ShapeTool::GetShape(l).Location();
        std::vector<std::pair<TopoDS_Shape, Rgba>> subs;
        TDF_LabelSequence subLabels;
        XCAFDoc_ShapeTool::GetSubShapes(l, subLabels);
        for (int i = 1; i <= subLabels.Length(); ++i)
          if (colourOf(subLabels(i), own))
            subs.emplace_back(XCAFDoc_ShapeTool::GetShape(subLabels(i)), own);
        auto find = [&](const TopoDS_Shape& s) -> std::optional<Rgba> {
          for (const auto& [sub, c] : subs)
            if (sub.IsSame(s) || sub.Moved(XCAFDoc_ShapeTool::GetShape(l).Location()).IsSame(s))
              return c;
          return std::nullopt;
        };
        auto addFace = [&](const TopoDS_Shape& face, std::optional<Rgba> around) {
          std::optional<Rgba> c = find(face);
          if (!c) c = around;
          if (c) out.push_back({FaceCentre(face.Moved(place)), *c});
        };
        for (TopExp_Explorer s(shape, TopAbs_SOLID); s.More(); s.Next()) {
          std::optional<Rgba> solid = find(s.Current());
          if (!solid) solid = inherited;
          for (TopExp_Explorer f(s.Current(), TopAbs_FACE); f.More(); f.Next())
            addFace(f.Current(), solid);
        }
        for (TopExp_Explorer f(shape, TopAbs_FACE, TopAbs_SOLID); f.More(); f.Next())
          addFace(f.Current(), inherited);
      };
  TDF_LabelSequence free;
  shapes->GetFreeShapes(free);
  for (int i = 1; i <= free.Length(); ++i) walk(free(i), TopLoc_Location(), std::nullopt);
  return out;
}

// Every face of `want` is found in `got` (by its centre) in the same colour; transparency is
// compared where the format keeps it.
void ExpectSameFaceColours(const std::vector<FaceColour>& want, const std::vector<FaceColour>& got,
                           bool alpha, const std::string& what) {
  EXPECT_EQ(got.size(), want.size()) << what;
  for (const FaceColour& w : want) {
    const FaceColour* match = nullptr;
    for (const FaceColour& g : got)
      if (g.centre.Distance(w.centre) < 1e-4) match = &g;
    ASSERT_TRUE(match) << what << ": no coloured face at " << w.centre.X() << ", " << w.centre.Y()
                       << ", " << w.centre.Z();
    for (int k = 0; k < (alpha ? 4 : 3); ++k)
      EXPECT_NEAR(match->colour[k], w.colour[k], 0.01)
          << what << ": component " << k << " of the face at " << w.centre.X() << ", "
          << w.centre.Y() << ", " << w.centre.Z();
  }
}

struct ImportedPart {
  ObjPtr<CAD::IShape> placed;  // the part's shape at its place in the model
  std::string name;
  bool hasColour = false;
  double rgb[3] = {0, 0, 0};
};

void CollectParts(CAD::IAssembly* a, const double* parent, CAD::IMatrixService* ms,
                  std::vector<ImportedPart>& out) {
  for (int i = 0; i < a->GetChildCount(); ++i) {
    ObjPtr<CAD::IItem> item = Child(a, i);
    double own[12], global[12];
    item->GetMatrix(own);
    ms->Multiply(parent, own, global);
    if (auto* sub = AsAssembly(item)) {
      CollectParts(sub, global, ms, out);
      continue;
    }
    auto* part = AsPart(item);
    ASSERT_TRUE(part);
    ImportedPart p;
    ObjPtr<CAD::IShape> shape(part->GetShape());
    p.placed = ObjPtr<CAD::IShape>(shape->Placed(global));
    p.name = NameOf(part);
    p.hasColour = part->GetColor(p.rgb);
    out.push_back(std::move(p));
  }
}

// The parts of what the context imported last, placed.
std::vector<ImportedPart> ImportedParts(CAD::ICADContext* ctx) {
  std::vector<ImportedPart> out;
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  double id[12];
  ctx->GetMatrixService()->Identity(id);
  CollectParts(doc.Get(), id, ctx->GetMatrixService(), out);
  return out;
}

std::vector<CAD::ShapeColor> ColoursOf(CAD::ICADContext* ctx, CAD::IShape* shape) {
  std::vector<CAD::ShapeColor> out;
  const int n = ctx->GetShapeColorCount(shape);
  for (int i = 0; i < n; ++i) {
    CAD::ShapeColor c{};
    EXPECT_TRUE(ctx->GetShapeColor(shape, i, &c));
    out.push_back(c);
  }
  CAD::ShapeColor past{};
  EXPECT_FALSE(ctx->GetShapeColor(shape, n, &past));
  EXPECT_FALSE(ctx->GetShapeColor(shape, -1, &past));
  return out;
}

// Writes the imported parts again as the viewer exports a model: each part's shape at its place
// with its name and colour, to STEP or IGES.
void ExportAsTheViewerDoes(const std::vector<ImportedPart>& parts, const std::string& path) {
  ObjPtr<CAD::ICADContext> out(Tools()->NewContext());
  ObjPtr<CAD::IAssembly> assembly(out->GetAssembly());
  for (const ImportedPart& p : parts) {
    ObjPtr<CAD::IPart> part(assembly->AddShape(p.placed.Get()));
    part->SetName(p.name.c_str());
    if (p.hasColour) part->SetColor(p.rgb[0], p.rgb[1], p.rgb[2]);
  }
  const bool iges = path.find(".ig") != std::string::npos;
  ASSERT_TRUE(iges ? out->ExportIGES(path.c_str()) : out->ExportSTEP(path.c_str()))
      << out->GetLastErrorText();
}

enum Hue { kHueNone, kHueRed, kHueGreen, kHueBlue, kHueYellow, kHueCyan, kHueMagenta, kHueGold };

// The hue a shaded pixel shows clearly (lighting scales the channels, so ratios decide).
Hue HueOf(const unsigned char* p) {
  const int r = p[0], g = p[1], b = p[2];
  const int hi = std::max({r, g, b});
  if (hi < 60) return kHueNone;
  auto high = [&](int v) { return v > hi * 0.75; };
  auto low = [&](int v) { return v < hi * 0.3; };
  if (high(r) && low(g) && low(b)) return kHueRed;
  if (high(g) && low(r) && low(b)) return kHueGreen;
  if (high(b) && low(r) && low(g)) return kHueBlue;
  if (high(r) && high(g) && low(b)) return r > g * 1.1 ? kHueGold : kHueYellow;
  if (high(g) && high(b) && low(r)) return kHueCyan;
  if (high(r) && high(b) && low(g)) return kHueMagenta;
  if (high(r) && g > r * 0.6 && g < r * 0.95 && b < r * 0.45) return kHueGold;
  return kHueNone;
}

std::map<Hue, size_t> HueCounts(const Png& png) {
  std::map<Hue, size_t> n;
  for (unsigned y = 0; y < png.height; ++y)
    for (unsigned x = 0; x < png.width; ++x) ++n[HueOf(png.At(x, y))];
  return n;
}

class ExchangeColoursTest : public EngineTest {};

// Draws the parts as the viewer does (each in its part's colour, sub-shapes in their own) into
// a PNG file; null when there is no display.
std::optional<Png> Render(CAD::ICADContext* ctx, const std::vector<ImportedPart>& parts,
                          const std::string& path) {
  if (!std::getenv("DISPLAY")) return std::nullopt;
  ObjPtr<CAD::IView> view(ctx->NewView(nullptr, CAD::eViewOffscreen));
  view->ResetView();
  for (const ImportedPart& p : parts) {
    ObjPtr<CAD::IShapeVis> vis(view->Display(p.placed.Get()));
    if (p.hasColour) vis->SetColor(p.rgb[0], p.rgb[1], p.rgb[2]);
  }
  view->ResetView();
  view->FitAll();
  EXPECT_TRUE(view->SaveImage(path.c_str(), 400, 300));
  if (const char* keep = std::getenv("ENGINE_TEST_KEEP_PNG"))
    std::filesystem::copy_file(path,
                               std::filesystem::path(keep) / std::filesystem::path(path).filename(),
                               std::filesystem::copy_options::overwrite_existing);
  return ReadPng(path);
}

}  // namespace

TEST_F(ExchangeColoursTest, StepFaceAndSolidColoursAreReadKeptAndDrawn) {
  TempDir dir;
  const std::string file = dir / "coloured.step";
  WriteColouredFile(file, {true, true, true});
  ASSERT_TRUE(ctx->ImportSTEP(file.c_str())) << ctx->GetLastErrorText();
  const std::vector<ImportedPart> parts = ImportedParts(ctx.Get());

  // Each part's colours as the engine gives them, by part: the cube's six faces, the header's
  // three solids, the glass box's own colour and its top.
  int cubeFaces = 0, headerSolids = 0, glassParts = 0;
  std::set<std::array<int, 3>> cubeColours;
  for (const ImportedPart& p : parts) {
    double box[6];
    ASSERT_TRUE(p.placed->GetBoundingBox(box));
    const std::vector<CAD::ShapeColor> colours = ColoursOf(ctx.Get(), p.placed.Get());
    if (box[3] < 20) {  // the cube
      ASSERT_FALSE(colours.empty());
      EXPECT_EQ(colours[0].kind, CAD::eColorOfShape);
      EXPECT_NEAR(colours[0].rgba[0], 0.5, 1e-3);
      for (const auto& c : colours)
        if (c.kind == CAD::eColorOfFace) {
          ++cubeFaces;
          EXPECT_GE(c.index, 1);
          EXPECT_LE(c.index, 6);
          cubeColours.insert(
              {int(c.rgba[0] * 255 + 0.5), int(c.rgba[1] * 255 + 0.5), int(c.rgba[2] * 255 + 0.5)});
        }
      // The part's own colour stays what the file gives the part.
      ASSERT_TRUE(p.hasColour);
      EXPECT_NEAR(p.rgb[0], 0.5, 1e-3);
    } else if (box[3] < 55) {  // the header, or pieces of it
      for (const auto& c : colours) {
        EXPECT_NE(c.kind, CAD::eColorOfFace);
        if (c.kind == CAD::eColorOfSolid || c.kind == CAD::eColorOfShape) ++headerSolids;
      }
    } else {
      ++glassParts;
      bool own = false, top = false;
      for (const auto& c : colours) {
        if (c.kind == CAD::eColorOfShape) {
          own = true;
          EXPECT_NEAR(c.rgba[3], 0.35, 0.01);
        }
        if (c.kind == CAD::eColorOfFace) {
          top = true;
          EXPECT_NEAR(c.rgba[0], 1.0, 0.01);
          EXPECT_NEAR(c.rgba[3], 0.6, 0.01);
        }
      }
      EXPECT_TRUE(own);
      EXPECT_TRUE(top);
    }
  }
  EXPECT_EQ(cubeFaces, 6);
  EXPECT_EQ(cubeColours.size(), 6u);
  EXPECT_EQ(headerSolids, 3);
  EXPECT_EQ(glassParts, 1);
  // Built shapes carry none.
  ObjPtr<CAD::IShape> plain(ctx->Box(1, 1, 1));
  EXPECT_EQ(ctx->GetShapeColorCount(plain.Get()), 0);
  EXPECT_EQ(CodeOf([&] { ctx->GetShapeColorCount(nullptr); }), QZ::eCodeNullShape);

  // Written again as the viewer writes a model, the same faces have the same colours.
  const std::vector<FaceColour> original = KernelFaceColours(file);
  ASSERT_EQ(original.size(), 6u + 3 * 6 + 6u);
  const std::string again = dir / "again.step";
  ExportAsTheViewerDoes(parts, again);
  ExpectSameFaceColours(original, KernelFaceColours(again), true, "STEP written again");
  // And once more from what the engine reads of its own file.
  ObjPtr<CAD::ICADContext> second(Tools()->NewContext());
  ASSERT_TRUE(second->ImportSTEP(again.c_str())) << second->GetLastErrorText();
  const std::string third = dir / "third.step";
  ExportAsTheViewerDoes(ImportedParts(second.Get()), third);
  ExpectSameFaceColours(original, KernelFaceColours(third), true, "STEP written a second time");
  // To IGES (no transparency there).
  const std::string iges = dir / "again.igs";
  ExportAsTheViewerDoes(parts, iges);
  ExpectSameFaceColours(original, KernelFaceColours(iges), false, "IGES from STEP");
}

TEST_F(ExchangeColoursTest, TheCubesFacesAndTheHeadersPinsAreDrawnInTheirOwnColours) {
  TempDir dir;
  const std::string file = dir / "cube.step";
  WriteColouredFile(file, {true, false, false});
  ASSERT_TRUE(ctx->ImportSTEP(file.c_str())) << ctx->GetLastErrorText();
  const auto cube = Render(ctx.Get(), ImportedParts(ctx.Get()), dir / "cube.png");
  if (!cube) GTEST_SKIP() << "no X display";
  // The corner view looks at +x, -y and +z: red, green and blue; the other three are hidden.
  auto hues = HueCounts(*cube);
  const size_t all = cube->width * cube->height;
  EXPECT_GT(hues[kHueRed], all / 50);
  EXPECT_GT(hues[kHueGreen], all / 50);
  EXPECT_GT(hues[kHueBlue], all / 50);
  // Where two faces meet, the smoothed edge blends their colours: a few such pixels, far fewer
  // than a face would show.
  const size_t least = std::min({hues[kHueRed], hues[kHueGreen], hues[kHueBlue]});
  EXPECT_LT(hues[kHueYellow] + hues[kHueCyan] + hues[kHueMagenta], least / 10);

  const std::string header = dir / "header.step";
  WriteColouredFile(header, {false, true, false});
  ObjPtr<CAD::ICADContext> other(Tools()->NewContext());
  ASSERT_TRUE(other->ImportSTEP(header.c_str())) << other->GetLastErrorText();
  const std::vector<ImportedPart> parts = ImportedParts(other.Get());
  const auto png = Render(other.Get(), parts, dir / "header.png");
  ASSERT_TRUE(png);
  // The gold pins' pixels differ from the black body's: both are there.
  hues = HueCounts(*png);
  size_t dark = 0;
  for (unsigned y = 0; y < png->height; ++y)
    for (unsigned x = 0; x < png->width; ++x) {
      const auto* p = png->At(x, y);
      if (std::max({p[0], p[1], p[2]}) < 50) ++dark;
    }
  EXPECT_GT(hues[kHueGold], all / 200) << "the pins are not drawn gold";
  EXPECT_GT(dark, all / 20) << "the body is not drawn black";
}

TEST_F(ExchangeColoursTest, IgesFaceAndSolidColoursAreReadAndWrittenBack) {
  TempDir dir;
  const std::string file = dir / "coloured.igs";
  WriteColouredFile(file, {true, true, false, true});
  // The loose faces come back sewn into a shell, their colours on the faces they became.
  const std::vector<FaceColour> original = KernelFaceColours(file);
  ASSERT_EQ(original.size(), 6u + 3 * 6 + 6u);
  ASSERT_TRUE(ctx->ImportIGES(file.c_str())) << ctx->GetLastErrorText();
  const std::vector<ImportedPart> parts = ImportedParts(ctx.Get());
  int faceColours = 0;
  for (const ImportedPart& p : parts)
    for (const auto& c : ColoursOf(ctx.Get(), p.placed.Get()))
      if (c.kind == CAD::eColorOfFace) ++faceColours;
  // The kernel's IGES writer puts the colours on every face, solids' faces included.
  EXPECT_EQ(faceColours, static_cast<int>(original.size()));
  const std::string again = dir / "again.igs";
  ExportAsTheViewerDoes(parts, again);
  ExpectSameFaceColours(original, KernelFaceColours(again), false, "IGES written again");
  const std::string step = dir / "again.step";
  ExportAsTheViewerDoes(parts, step);
  ExpectSameFaceColours(original, KernelFaceColours(step), false, "STEP from IGES");
  // And from what the engine reads of its own IGES file (whose pieces are parts again).
  ObjPtr<CAD::ICADContext> second(Tools()->NewContext());
  ASSERT_TRUE(second->ImportIGES(again.c_str())) << second->GetLastErrorText();
  const std::string third = dir / "third.step";
  ExportAsTheViewerDoes(ImportedParts(second.Get()), third);
  ExpectSameFaceColours(original, KernelFaceColours(third), false, "IGES read again");
}

TEST_F(ExchangeColoursTest, TransparencyOutsideItsRangeIsHeldWithinIt) {
  // A file whose transparencies say 7 and -3 (a transparency runs from 0 to 1).
  TempDir dir;
  const std::string file = dir / "glass.step";
  WriteColouredFile(file, {false, false, true});
  std::string text = ReadAll(file);
  size_t replaced = 0;
  for (const char* wrong : {"7.", "-3."}) {
    const size_t at = text.find("SURFACE_STYLE_TRANSPARENT(");
    ASSERT_NE(at, std::string::npos) << "the kernel wrote no transparency";
    const size_t open = at + std::strlen("SURFACE_STYLE_TRANSPARENT(");
    const size_t close = text.find(')', open);
    text.replace(at, close + 1 - at, std::string("SURFACE_STYLE_TRANSPARENX(") + wrong + ")");
    ++replaced;
  }
  for (size_t at; (at = text.find("SURFACE_STYLE_TRANSPARENX(")) != std::string::npos;)
    text.replace(at, 26, "SURFACE_STYLE_TRANSPARENT(");
  ASSERT_EQ(replaced, 2u);
  WriteAll(file, text);
  ASSERT_TRUE(ctx->ImportSTEP(file.c_str())) << ctx->GetLastErrorText();
  const std::vector<ImportedPart> parts = ImportedParts(ctx.Get());
  ASSERT_EQ(parts.size(), 1u);
  const auto colours = ColoursOf(ctx.Get(), parts[0].placed.Get());
  ASSERT_FALSE(colours.empty());
  for (const auto& c : colours)
    for (double v : c.rgba) {
      EXPECT_GE(v, 0.0);
      EXPECT_LE(v, 1.0);
    }
  // Drawn and written as colours within their range.
  if (std::getenv("DISPLAY")) {
    EXPECT_TRUE(Render(ctx.Get(), parts, dir / "glass.png"));
  }
  ExportAsTheViewerDoes(parts, dir / "again.step");
  for (const FaceColour& f : KernelFaceColours(dir / "again.step"))
    EXPECT_TRUE(f.colour[3] >= 0.0 && f.colour[3] <= 1.0) << f.colour[3];
}

TEST_F(ExchangeColoursTest, ColourComponentsOutsideTheirRangeAreHeldWithinItNotRefused) {
  // One face colour of the cube a little above 1 in red and below 0 in green (rounding in the
  // writing program): the kernel's reader would refuse the whole file for it.
  TempDir dir;
  const std::string file = dir / "cube.step";
  WriteColouredFile(file, {true, false, false});
  std::string text = ReadAll(file);
  const size_t at = text.find("COLOUR_RGB(");
  ASSERT_NE(at, std::string::npos);
  const size_t end = text.find(';', at);
  text.replace(at, end - at, "COLOUR_RGB ( 'it''s',\n 1.0000001, -0.2 ,0.5 )");
  WriteAll(file, text);
  ASSERT_TRUE(ctx->ImportSTEP(file.c_str())) << ctx->GetLastErrorText();
  bool warned = false;
  for (int i = 0; i < ctx->GetWarningCount(); ++i)
    warned = warned || std::string(ctx->GetWarning(i)).find("outside 0..1") != std::string::npos;
  EXPECT_TRUE(warned);
  const std::vector<ImportedPart> parts = ImportedParts(ctx.Get());
  ASSERT_EQ(parts.size(), 1u);
  bool held = false;
  for (const auto& c : ColoursOf(ctx.Get(), parts[0].placed.Get()))
    held = held || (std::abs(c.rgba[0] - 1.0) < 1e-6 && std::abs(c.rgba[1]) < 1e-6 &&
                    std::abs(c.rgba[2] - 0.5) < 1e-4);
  EXPECT_TRUE(held);
}

TEST_F(ExchangeColoursTest, ATransparentPartIsDrawnSeeThrough) {
  // The glass box drawn as the file says, and drawn again from a copy of the file that makes
  // it opaque: the see-through one lets the white background through.
  TempDir dir;
  const std::string file = dir / "glass.step", opaque = dir / "opaque.step";
  WriteColouredFile(file, {false, false, true});
  std::string text = ReadAll(file);
  const std::string key = "SURFACE_STYLE_TRANSPARENT(";
  size_t made = 0;
  for (size_t at = 0; (at = text.find(key, at)) != std::string::npos; ++made) {
    text.replace(at, text.find(')', at) + 1 - at, key + "0.)");
    at += key.size();
  }
  ASSERT_GE(made, 1u);
  WriteAll(opaque, text);
  auto brightness = [&](const std::string& path, const std::string& png) -> double {
    ObjPtr<CAD::ICADContext> c(Tools()->NewContext());
    EXPECT_TRUE(c->ImportSTEP(path.c_str())) << c->GetLastErrorText();
    const auto picture = Render(c.Get(), ImportedParts(c.Get()), png);
    if (!picture) return -1;
    // The mean of the pixels that are not the background.
    double sum = 0;
    size_t n = 0;
    for (unsigned y = 0; y < picture->height; ++y)
      for (unsigned x = 0; x < picture->width; ++x) {
        const auto* p = picture->At(x, y);
        if (p[0] > 250 && p[1] > 250 && p[2] > 250) continue;
        sum += (p[0] + p[1] + p[2]) / 3.0;
        ++n;
      }
    EXPECT_GT(n, 1000u);
    return n ? sum / n : 0;
  };
  const double seeThrough = brightness(file, dir / "glass.png");
  if (seeThrough < 0) GTEST_SKIP() << "no X display";
  const double solid = brightness(opaque, dir / "opaque.png");
  EXPECT_GT(seeThrough, solid + 30) << "see-through " << seeThrough << ", opaque " << solid;
}

// The three numbers of the COLOUR_RGB instance at `at` (after its name string).
static bool ColourRgbAt(const std::string& text, size_t at, std::array<double, 3>& c) {
  const size_t open = text.find('\'', at);
  const size_t close = open == std::string::npos ? open : text.find('\'', open + 1);
  if (close == std::string::npos) return false;
  return std::sscanf(text.c_str() + close + 1, " ,%lf ,%lf ,%lf", &c[0], &c[1], &c[2]) == 3;
}

TEST_F(ExchangeColoursTest, ColoursAreTheValuesTheFileWrites) {
  // The COLOUR_RGB values of the cube's file (its grey and its faces' colours) are what the
  // engine gives, and a part coloured 0.75 / 0.5 / 0.25 is written with those very values.
  TempDir dir;
  const std::string cube = dir / "cube.step";
  WriteColouredFile(cube, {true, false, false});
  const std::string text = ReadAll(cube);
  std::vector<std::array<double, 3>> inFile;
  for (size_t at = text.find("COLOUR_RGB("); at != std::string::npos;
       at = text.find("COLOUR_RGB(", at + 1)) {
    std::array<double, 3> c{};
    ASSERT_TRUE(ColourRgbAt(text, at, c)) << text.substr(at, 80);
    inFile.push_back(c);
  }
  ASSERT_GE(inFile.size(), 1u);  // the grey; the faces' pure colours are named ones
  ASSERT_TRUE(ctx->ImportSTEP(cube.c_str())) << ctx->GetLastErrorText();
  const std::vector<ImportedPart> parts = ImportedParts(ctx.Get());
  ASSERT_EQ(parts.size(), 1u);
  int given = 0, between = 0;
  for (const auto& c : ColoursOf(ctx.Get(), parts[0].placed.Get())) {
    ++given;
    const auto pure = [](double v) { return std::abs(v) < 1e-6 || std::abs(v - 1) < 1e-6; };
    if (pure(c.rgba[0]) && pure(c.rgba[1]) && pure(c.rgba[2])) continue;
    ++between;
    bool known = false;
    for (const auto& f : inFile)
      known = known || (std::abs(f[0] - c.rgba[0]) < 1e-6 && std::abs(f[1] - c.rgba[1]) < 1e-6 &&
                        std::abs(f[2] - c.rgba[2]) < 1e-6);
    EXPECT_TRUE(known) << c.rgba[0] << " " << c.rgba[1] << " " << c.rgba[2];
  }
  EXPECT_EQ(given, 7);  // the cube's own and its six faces'
  EXPECT_GE(between, 1);

  ObjPtr<CAD::ICADContext> out(Tools()->NewContext());
  ObjPtr<CAD::IAssembly> doc(out->GetAssembly());
  ObjPtr<CAD::IShape> box(out->Box(1, 2, 3));
  ObjPtr<CAD::IPart> part(doc->AddShape(box.Get()));
  part->SetColor(0.75, 0.5, 0.25);
  const std::string path = dir / "box.step";
  ASSERT_TRUE(out->ExportSTEP(path.c_str())) << out->GetLastErrorText();
  const std::string written = ReadAll(path);
  const size_t at = written.find("COLOUR_RGB(");
  ASSERT_NE(at, std::string::npos);
  std::array<double, 3> c{};
  ASSERT_TRUE(ColourRgbAt(written, at, c)) << written.substr(at, 80);
  EXPECT_NEAR(c[0], 0.75, 1e-6);
  EXPECT_NEAR(c[1], 0.5, 1e-6);
  EXPECT_NEAR(c[2], 0.25, 1e-6);
}

TEST_F(ExchangeColoursTest, WhatIgesCannotKeepOfTheColoursIsSaid) {
  // A transparent box and a box with a coloured edge, read from STEP and written as IGES: a
  // warning each; the opaque cube with its face colours gives none.
  TempDir dir;
  const std::string lossy = dir / "lossy.step", cube = dir / "cube.step";
  WriteColouredFile(lossy, {false, false, true, false, true});
  WriteColouredFile(cube, {true, false, false});
  ASSERT_TRUE(ctx->ImportSTEP(lossy.c_str())) << ctx->GetLastErrorText();
  ASSERT_TRUE(ctx->ExportIGES((dir / "lossy.igs").c_str())) << ctx->GetLastErrorText();
  std::vector<std::string> warnings;
  for (int i = 0; i < ctx->GetWarningCount(); ++i) warnings.push_back(ctx->GetWarning(i));
  const auto has = [&](const std::string& text) {
    return std::any_of(warnings.begin(), warnings.end(),
                       [&](const std::string& w) { return w.find(text) != std::string::npos; });
  };
  EXPECT_TRUE(has("IGES keeps no colour of an edge: 1 edge colour is not written"));
  EXPECT_TRUE(has("IGES keeps no transparency"));
  ASSERT_TRUE(ctx->ImportSTEP(cube.c_str())) << ctx->GetLastErrorText();
  ASSERT_TRUE(ctx->ExportIGES((dir / "cube.igs").c_str())) << ctx->GetLastErrorText();
  EXPECT_EQ(ctx->GetWarningCount(), 0) << (ctx->GetWarningCount() ? ctx->GetWarning(0) : "");
}
