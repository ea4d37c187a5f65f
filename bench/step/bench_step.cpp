// STEP exchange speed of the engine library against the kernel called directly.
//
// A sized public-domain test model is generated first (a grid of placed, coloured, named boxes,
// cylinders, cones and tori in sub-assemblies: a few thousand faces). Then, alternating to share
// any warm-up fairly, each path exports and imports the same model several times; the medians
// and their ratios are printed. The engine should stay within 1.1 times the kernel alone.
//
// A second model is a board of electronic components as component libraries give them (written
// with the kernel's document writer, as those libraries are): pin headers whose black body and
// gold pins are solids of one part, and packages whose body faces and leads carry colours of
// their own, face by face: thousands of coloured solids and faces. Its import through the
// engine, with every part's shape and colours taken as the viewer takes them, is measured
// against the kernel's plain reader, and so is its export.
#include "../common/CpuTiming.h"
#include "workspace/CADEngine.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <BRep_Builder.hxx>
#include <IFSelect_ReturnStatus.hxx>
#include <Quantity_Color.hxx>
#include <TDataStd_Name.hxx>
#include <TopoDS_Compound.hxx>
#include <XCAFDoc_ColorTool.hxx>
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

// The component board: `count` pin headers of 2 to 40 pins and as many quad flat packages,
// each a part placed on the board. Colours on the headers' solids; on every face of the
// packages (body black with a grey top, leads silver). Returns the coloured sub-shapes.
int WriteComponentBoard(const std::string& path, int count) {
  Handle(TDocStd_Document) doc = NewDoc();
  Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  Handle(XCAFDoc_ColorTool) colors = XCAFDoc_DocumentTool::ColorTool(doc->Main());
  const Quantity_Color black(0.016, 0.016, 0.016, Quantity_TOC_RGB);
  const Quantity_Color gold(0.83, 0.69, 0.22, Quantity_TOC_RGB);
  const Quantity_Color silver(0.82, 0.82, 0.82, Quantity_TOC_RGB);
  const Quantity_Color grey(0.25, 0.25, 0.25, Quantity_TOC_RGB);
  const TDF_Label board = shapes->NewShape();
  TDataStd_Name::Set(board, "Board");
  int coloured = 0;
  BRep_Builder b;
  for (int k = 0; k < count; ++k) {
    // A 1 x n pin header, 2.54 mm pitch.
    const int n = 2 + (k * 7) % 39;
    TopoDS_Compound header;
    b.MakeCompound(header);
    const double len = 2.54 * n;
    const TopoDS_Shape body = BRepPrimAPI_MakeBox(gp_Pnt(0, 0, 0), gp_Pnt(len, 2.54, 2.5)).Shape();
    b.Add(header, body);
    std::vector<TopoDS_Shape> pins;
    for (int i = 0; i < n; ++i) {
      const double x = 1.27 + 2.54 * i;
      pins.push_back(
          BRepPrimAPI_MakeBox(gp_Pnt(x - 0.32, 0.95, -3), gp_Pnt(x + 0.32, 1.59, 8.5)).Shape());
      b.Add(header, pins.back());
    }
    const TDF_Label part = shapes->AddShape(header, false);
    char name[64];
    std::snprintf(name, sizeof name, "PinHeader_1x%02d_P2.54mm", n);
    TDataStd_Name::Set(part, name);
    colors->SetColor(shapes->AddSubShape(part, body), black, XCAFDoc_ColorSurf);
    for (const TopoDS_Shape& pin : pins)
      colors->SetColor(shapes->AddSubShape(part, pin), gold, XCAFDoc_ColorSurf);
    coloured += 1 + n;
    gp_Trsf at;
    at.SetTranslation(gp_Vec(0, 12.0 * k, 0));
    shapes->AddComponent(board, part, TopLoc_Location(at));

    // A quad flat package: a body and 4 x m leads, every face coloured.
    const int m = 4 + k % 9;
    TopoDS_Compound qfp;
    b.MakeCompound(qfp);
    const double side = 0.8 * m + 2;
    const TopoDS_Shape pkg =
        BRepPrimAPI_MakeBox(gp_Pnt(0, 0, 0.1), gp_Pnt(side, side, 1.5)).Shape();
    b.Add(qfp, pkg);
    std::vector<TopoDS_Shape> leads;
    for (int i = 0; i < m; ++i) {
      const double c = 1.0 + 0.8 * i;
      leads.push_back(BRepPrimAPI_MakeBox(gp_Pnt(c, -1, 0), gp_Pnt(c + 0.3, 0, 0.2)).Shape());
      leads.push_back(
          BRepPrimAPI_MakeBox(gp_Pnt(c, side, 0), gp_Pnt(c + 0.3, side + 1, 0.2)).Shape());
      leads.push_back(BRepPrimAPI_MakeBox(gp_Pnt(-1, c, 0), gp_Pnt(0, c + 0.3, 0.2)).Shape());
      leads.push_back(
          BRepPrimAPI_MakeBox(gp_Pnt(side, c, 0), gp_Pnt(side + 1, c + 0.3, 0.2)).Shape());
    }
    for (const TopoDS_Shape& lead : leads) b.Add(qfp, lead);
    const TDF_Label qpart = shapes->AddShape(qfp, false);
    std::snprintf(name, sizeof name, "QFP-%d", 4 * m);
    TDataStd_Name::Set(qpart, name);
    int face = 0;  // the box's faces come as -x, +x, -y, +y, -z, +z
    for (TopExp_Explorer e(pkg, TopAbs_FACE); e.More(); e.Next(), ++coloured, ++face)
      colors->SetColor(shapes->AddSubShape(qpart, e.Current()), face == 5 ? grey : black,
                       XCAFDoc_ColorSurf);
    for (const TopoDS_Shape& lead : leads)
      for (TopExp_Explorer e(lead, TopAbs_FACE); e.More(); e.Next(), ++coloured)
        colors->SetColor(shapes->AddSubShape(qpart, e.Current()), silver, XCAFDoc_ColorSurf);
    at.SetTranslation(gp_Vec(120, 12.0 * k, 0));
    shapes->AddComponent(board, qpart, TopLoc_Location(at));
  }
  shapes->UpdateAssemblies();
  STEPCAFControl_Writer w;
  w.SetColorMode(true);
  w.SetNameMode(true);
  Check(w.Transfer(doc, STEPControl_AsIs), "writing the component board");
  Check(w.Write(path.c_str()) == IFSelect_RetDone, "writing the component board");
  CloseDoc(doc);
  return coloured;
}

// Every part of an engine document taken as the viewer takes it on import: its shape, its
// colour and the colours of its sub-shapes. Returns the sub-shape colours found.
int TakeParts(CAD::ICADContext* ctx, CAD::IAssembly* a) {
  int colours = 0;
  for (int i = 0; i < a->GetChildCount(); ++i) {
    ObjPtr<CAD::IItem> item(a->GetChild(i));
    if (auto* sub = dynamic_cast<CAD::IAssembly*>(item.Get())) {
      colours += TakeParts(ctx, sub);
    } else if (auto* part = dynamic_cast<CAD::IPart*>(item.Get())) {
      ObjPtr<CAD::IShape> shape(part->GetShape());
      double rgb[3];
      part->GetColor(rgb);
      colours += ctx->GetShapeColorCount(shape.Get());
    }
  }
  return colours;
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

  // The component board.
  const std::string boardFile = (dir / "board.step").string();
  const int boardParts = argc > 2 ? std::max(1, std::atoi(argv[2])) : 24;
  const int colouredSubs = WriteComponentBoard(boardFile, boardParts);
  int boardColours = 0;
  std::vector<double> engBoard, occBoard, engBoardExport, occBoardExport;
  ObjPtr<CAD::ICADContext> boardDoc(tools->NewContext());
  Check(boardDoc->ImportSTEP(boardFile.c_str()), "engine import of the board");
  Handle(TDocStd_Document) occtBoard = NewDoc();
  {
    STEPCAFControl_Reader r;
    r.ReadFile(boardFile.c_str());
    r.Transfer(occtBoard);
  }
  for (int i = 0; i < runs; ++i) {
    engBoard.push_back(Seconds([&] {
      ObjPtr<CAD::ICADContext> c(tools->NewContext());
      Check(c->ImportSTEP(boardFile.c_str()), "engine import of the board");
      ObjPtr<CAD::IAssembly> d(c->GetAssembly());
      boardColours = TakeParts(c.Get(), d.Get());
    }));
    occBoard.push_back(Seconds([&] {
      STEPCAFControl_Reader r;
      r.SetColorMode(true);
      r.SetNameMode(true);
      r.SetLayerMode(false);
      Check(r.ReadFile(boardFile.c_str()) == IFSelect_RetDone, "kernel read of the board");
      Handle(TDocStd_Document) d = NewDoc();
      Check(r.Transfer(d), "kernel transfer of the board");
      CloseDoc(d);
    }));
    const std::string outE = (dir / "be.step").string(), outO = (dir / "bo.step").string();
    engBoardExport.push_back(
        Seconds([&] { Check(boardDoc->ExportSTEP(outE.c_str()), "engine export of the board"); }));
    occBoardExport.push_back(Seconds([&] {
      STEPCAFControl_Writer w;
      w.SetColorMode(true);
      w.SetNameMode(true);
      w.SetLayerMode(false);
      Check(w.Transfer(occtBoard, STEPControl_AsIs), "kernel transfer of the board");
      Check(w.Write(outO.c_str()) == IFSelect_RetDone, "kernel write of the board");
    }));
  }
  CloseDoc(occtBoard);
  Check(boardColours >= colouredSubs, "the board's colours");
  const double rb = Median(engBoard) / Median(occBoard);
  const double rbe = Median(engBoardExport) / Median(occBoardExport);
  std::printf("processor time, median of %d runs each\n", runs);
  std::printf("STEP import: engine %.3f s, kernel alone %.3f s, ratio %.3f (target <= 1.1)\n",
              Median(engImport), Median(occImport), ri);
  std::printf("STEP export: engine %.3f s, kernel alone %.3f s, ratio %.3f (target <= 1.1)\n",
              Median(engExport), Median(occExport), re);
  std::printf("component board: %d parts, %d coloured solids and faces, %.1f kB\n", 2 * boardParts,
              colouredSubs, std::filesystem::file_size(boardFile) / 1024.0);
  std::printf(
      "board import (with every part's shape and colours): engine %.3f s, kernel alone %.3f s, "
      "ratio %.3f (target <= 1.1)\n",
      Median(engBoard), Median(occBoard), rb);
  std::printf("board export: engine %.3f s, kernel alone %.3f s, ratio %.3f (target <= 1.1)\n",
              Median(engBoardExport), Median(occBoardExport), rbe);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
