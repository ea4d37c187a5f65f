// The STEP, IGES and STL files that ship with the geometric kernel (the occt-misc package,
// installed by scripts/deps): each imports with the parts, names and colours the kernel's own
// document reader finds, renders, and comes back from STEP, IGES and STL with the same.
#include "EngineFixture.h"

#include <IGESCAFControl_Reader.hxx>
#include <Quantity_Color.hxx>
#include <STEPCAFControl_Reader.hxx>
#include <TDataStd_Name.hxx>
#include <TDocStd_Document.hxx>
#include <XCAFApp_Application.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>

#include <algorithm>
#include <map>

using namespace engine_test;

namespace {

const std::string kData = "/usr/share/opencascade/data/";

struct Counts {
  int parts = 0;
  std::vector<std::string> names;  // of the parts, sorted
  int coloured = 0;
  bool operator==(const Counts& o) const {
    return parts == o.parts && names == o.names && coloured == o.coloured;
  }
};

std::ostream& operator<<(std::ostream& os, const Counts& c) {
  os << c.parts << " parts, " << c.coloured << " coloured, names:";
  for (const auto& n : c.names) os << " [" << n << "]";
  return os;
}

// What the kernel's document reader gives for a file, walked as the engine walks its items.
Counts KernelCounts(const std::string& path) {
  Handle(TDocStd_Document) doc;
  XCAFApp_Application::GetApplication()->NewDocument("MDTV-XCAF", doc);
  bool ok = false;
  if (path.find(".ig") != std::string::npos) {
    IGESCAFControl_Reader reader;
    reader.SetColorMode(true);
    reader.SetNameMode(true);
    ok = reader.ReadFile(path.c_str()) == IFSelect_RetDone && reader.Transfer(doc);
  } else {
    STEPCAFControl_Reader reader;
    reader.SetColorMode(true);
    reader.SetNameMode(true);
    ok = reader.ReadFile(path.c_str()) == IFSelect_RetDone && reader.Transfer(doc);
  }
  EXPECT_TRUE(ok) << path;
  Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  Handle(XCAFDoc_ColorTool) colors = XCAFDoc_DocumentTool::ColorTool(doc->Main());
  Counts c;
  std::function<void(const TDF_Label&)> walk = [&](const TDF_Label& label) {
    TDF_Label l = label;
    if (XCAFDoc_ShapeTool::IsReference(l)) XCAFDoc_ShapeTool::GetReferredShape(label, l);
    if (XCAFDoc_ShapeTool::IsAssembly(l)) {
      TDF_LabelSequence children;
      XCAFDoc_ShapeTool::GetComponents(l, children);
      for (int i = 1; i <= children.Length(); ++i) walk(children(i));
      return;
    }
    ++c.parts;
    Handle(TDataStd_Name) name;
    if (l.FindAttribute(TDataStd_Name::GetID(), name))
      c.names.push_back(TCollection_AsciiString(name->Get(), '?').ToCString());
    Quantity_Color colour;
    if (colors->GetColor(l, XCAFDoc_ColorGen, colour) ||
        colors->GetColor(l, XCAFDoc_ColorSurf, colour))
      ++c.coloured;
  };
  TDF_LabelSequence free;
  shapes->GetFreeShapes(free);
  for (int i = 1; i <= free.Length(); ++i) walk(free(i));
  XCAFApp_Application::GetApplication()->Close(doc);
  std::sort(c.names.begin(), c.names.end());
  return c;
}

Counts EngineCounts(CAD::ICADContext* ctx) {
  Counts c;
  std::function<void(CAD::IAssembly*)> walk = [&](CAD::IAssembly* a) {
    for (int i = 0; i < a->GetChildCount(); ++i) {
      ObjPtr<CAD::IItem> item = Child(a, i);
      if (item->IsAssembly()) {
        walk(AsAssembly(item));
        continue;
      }
      ++c.parts;
      const std::string name = NameOf(item.Get());
      if (!name.empty()) c.names.push_back(name);
      double rgb[3];
      if (AsPart(item)->GetColor(rgb)) ++c.coloured;
    }
  };
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  walk(doc.Get());
  std::sort(c.names.begin(), c.names.end());
  return c;
}

bool Import(CAD::ICADContext* ctx, const std::string& path) {
  const std::string ext = std::filesystem::path(path).extension().string();
  if (ext == ".stl") return ctx->ImportSTL(path.c_str());
  if (ext == ".igs" || ext == ".iges") return ctx->ImportIGES(path.c_str());
  return ctx->ImportSTEP(path.c_str());
}

// The document's parts drawn in red off-screen: the share of the picture they cover.
double RenderedShare(CAD::ICADContext* ctx, const std::string& png) {
  ObjPtr<CAD::IView> view(ctx->NewView(nullptr, CAD::eViewOffscreen));
  std::function<void(CAD::IAssembly*, const double*)> show = [&](CAD::IAssembly* a,
                                                                 const double* parent) {
    for (int i = 0; i < a->GetChildCount(); ++i) {
      ObjPtr<CAD::IItem> item = Child(a, i);
      double own[12], global[12];
      item->GetMatrix(own);
      ctx->GetMatrixService()->Multiply(parent, own, global);
      if (item->IsAssembly()) {
        show(AsAssembly(item), global);
        continue;
      }
      ObjPtr<CAD::IShape> shape(AsPart(item)->GetShape());
      ObjPtr<CAD::IShape> placed(shape->Placed(global));
      ObjPtr<CAD::IShapeVis> vis(view->Display(placed.Get()));
      vis->SetColor(1, 0, 0);
    }
  };
  double identity[12];
  ctx->GetMatrixService()->Identity(identity);
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  show(doc.Get(), identity);
  view->FitAll();
  EXPECT_TRUE(view->SaveImage(png.c_str(), 400, 300));
  return RedShare(ReadPng(png));
}

class SampleFiles : public EngineTest {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kData + "step/screw.step"))
      GTEST_SKIP() << "the kernel's sample files (occt-misc) are not installed";
    EngineTest::SetUp();
  }
};

}  // namespace

TEST_F(SampleFiles, StepAndIgesFilesImportAsTheKernelsReaderGivesThemAndRoundTrip) {
  TempDir dir;
  const bool display = std::getenv("DISPLAY") != nullptr;
  for (const char* file :
       {"step/screw.step", "step/linkrods.step", "iges/bearing.iges", "iges/hammer.iges"}) {
    SCOPED_TRACE(file);
    const std::string path = kData + file;
    const Counts kernel = KernelCounts(path);
    ASSERT_GT(kernel.parts, 0);
    ASSERT_TRUE(Import(ctx.Get(), path)) << ctx->GetLastErrorText();
    const Counts engine = EngineCounts(ctx.Get());
    EXPECT_EQ(engine, kernel);
    if (display) {
      const std::string png = dir / (std::filesystem::path(path).stem().string() + ".png");
      const double share = RenderedShare(ctx.Get(), png);
      EXPECT_GT(share, 0.02) << png;
      EXPECT_LT(share, 0.95) << png;
    }
    // STEP and IGES round trips keep the parts, names and colours; STL keeps the one mesh,
    // named by its file.
    for (const char* ext : {".step", ".igs", ".stl"}) {
      SCOPED_TRACE(ext);
      const std::string stem = engine.parts == 1 && !engine.names.empty() ? engine.names[0] : "all";
      const std::string out = dir / (stem + ext);
      const bool written = std::string(ext) == ".step"  ? ctx->ExportSTEP(out.c_str())
                           : std::string(ext) == ".igs" ? ctx->ExportIGES(out.c_str())
                                                        : ctx->ExportSTL(out.c_str());
      ASSERT_TRUE(written) << ctx->GetLastErrorText();
      ObjPtr<CAD::ICADContext> in(Tools()->NewContext());
      ASSERT_TRUE(Import(in.Get(), out)) << in->GetLastErrorText();
      const Counts back = EngineCounts(in.Get());
      if (std::string(ext) == ".stl") {
        EXPECT_EQ(back.parts, 1);
        if (engine.parts == 1) EXPECT_EQ(back.names, engine.names);
      } else {
        EXPECT_EQ(back, engine);
      }
    }
  }
}

TEST_F(SampleFiles, StlFilesImportAsOneMeshAndRender) {
  TempDir dir;
  const bool display = std::getenv("DISPLAY") != nullptr;
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kData + "stl")) {
    const std::string path = entry.path().string();
    if (entry.path().extension() != ".stl") continue;
    SCOPED_TRACE(path);
    ASSERT_TRUE(ctx->ImportSTL(path.c_str())) << ctx->GetLastErrorText();
    const Counts engine = EngineCounts(ctx.Get());
    EXPECT_EQ(engine.parts, 1);
    EXPECT_EQ(engine.names, std::vector<std::string>{entry.path().stem().string()});
    EXPECT_EQ(engine.coloured, 0);
    ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
    ObjPtr<CAD::IShape> shape(AsPart(Child(doc.Get(), 0))->GetShape());
    EXPECT_TRUE(shape->IsValid());
    double box[6];
    ASSERT_TRUE(shape->GetBoundingBox(box));
    EXPECT_GT(box[3] - box[0] + box[4] - box[1] + box[5] - box[2], 0);
    if (display) {
      const std::string png = dir / (entry.path().stem().string() + ".png");
      EXPECT_GT(RenderedShare(ctx.Get(), png), 0.02) << png;
    }
    // The smallest file also through STEP, IGES and STL (a faceted solid or shell of ~500
    // triangles; the larger meshes would make files of tens of megabytes).
    if (entry.path().stem() == "shape") {
      const double volume = shape->GetVolume();
      for (const char* ext : {".step", ".igs", ".stl"}) {
        SCOPED_TRACE(ext);
        const std::string out = dir / (std::string("shape") + ext);
        const std::string e = ext;
        ASSERT_TRUE(e == ".step"  ? ctx->ExportSTEP(out.c_str())
                    : e == ".igs" ? ctx->ExportIGES(out.c_str())
                                  : ctx->ExportSTL(out.c_str()))
            << ctx->GetLastErrorText();
        ObjPtr<CAD::ICADContext> in(Tools()->NewContext());
        ASSERT_TRUE(Import(in.Get(), out)) << in->GetLastErrorText();
        EXPECT_EQ(EngineCounts(in.Get()), engine);
        ObjPtr<CAD::IAssembly> back(in->GetAssembly());
        ASSERT_EQ(back->GetChildCount(), 1);
        const std::vector<double> got = PlacedBox(AsPart(Child(back.Get(), 0)));
        for (int k = 0; k < 6; ++k) EXPECT_NEAR(got[k], box[k], 1e-3) << k;
        ObjPtr<CAD::IShape> backShape(AsPart(Child(back.Get(), 0))->GetShape());
        EXPECT_NEAR(backShape->GetVolume(), volume, 1e-3 * (volume + 1));
      }
    }
    ++checked;
  }
  EXPECT_GE(checked, 10);
}
