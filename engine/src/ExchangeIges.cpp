// IGES exchange.
#include "ExchangeCommon.h"

#include <IGESCAFControl_Reader.hxx>
#include <IGESData_IGESEntity.hxx>
#include <Interface_InterfaceModel.hxx>
#include <NCollection_DataMap.hxx>
#include <TopTools_DataMapOfShapeListOfShape.hxx>
#include <TopTools_ShapeMapHasher.hxx>
#include <TransferBRep.hxx>
#include <Transfer_TransientProcess.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XSControl_TransferReader.hxx>
#include <XSControl_WorkSession.hxx>
#include <IGESCAFControl_Writer.hxx>
#include <Quantity_Color.hxx>
#include <Quantity_ColorRGBA.hxx>
#include <BRepBuilderAPI_Sewing.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Iterator.hxx>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cad_engine {

namespace {

// The kernel's IGES reader gives the faces of a shell written as such as loose faces. A part
// whose shape holds faces only (no shell, no solid) is sewn: where they join into fewer
// shells, those replace the faces. `faceAfter` gives the face of the result that a face of the
// part became.
TopoDS_Shape SewnFaces(const TopoDS_Shape& shape,
                       std::function<TopoDS_Shape(const TopoDS_Shape&)>& faceAfter) {
  if (shape.IsNull() || shape.ShapeType() != TopAbs_COMPOUND) return shape;
  int faces = 0;
  for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) ++faces;
  if (faces < 2) return shape;
  if (TopExp_Explorer(shape, TopAbs_SHELL).More()) return shape;
  auto sewing = std::make_shared<BRepBuilderAPI_Sewing>(1e-6);
  for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) sewing->Add(e.Current());
  Handle(ExchangeProgress) progress = new ExchangeProgress();
  sewing->Perform(progress->Start());
  CheckStop();
  const TopoDS_Shape sewn = sewing->SewedShape();
  if (sewn.IsNull()) return shape;
  int shells = 0, loose = 0;
  for (TopExp_Explorer e(sewn, TopAbs_SHELL); e.More(); e.Next()) ++shells;
  for (TopExp_Explorer e(sewn, TopAbs_FACE, TopAbs_SHELL); e.More(); e.Next()) ++loose;
  if (shells == 0 || shells + loose >= faces) return shape;
  faceAfter = [sewing](const TopoDS_Shape& face) {
    return sewing->IsModified(face) ? sewing->Modified(face) : face;
  };
  return sewn;
}

// The kernel's IGES reader gives a file's top compound as one part, named as the compound
// only. When every piece of such a compound carries a name of its own in the file (as our
// exports write them), the compound becomes a group of its pieces, each a part with its name
// and colour, so that a round trip keeps them. Compounds of unnamed pieces (most files of other
// systems) stay as the reader gave them.
void NamePieces(IGESCAFControl_Reader& reader, const Handle(TDocStd_Document) & doc) {
  const Handle(XSControl_TransferReader) tr = reader.WS()->TransferReader();
  if (tr.IsNull()) return;
  const Handle(Transfer_TransientProcess) tp = tr->TransientProcess();
  const Handle(Interface_InterfaceModel) model = reader.WS()->Model();
  if (tp.IsNull() || model.IsNull()) return;
  // Shapes the file names, by the shape without its placement.
  NCollection_DataMap<TopoDS_Shape, std::string, TopTools_ShapeMapHasher> names;
  for (int i = 1; i <= model->NbEntities(); ++i) {
    Handle(IGESData_IGESEntity) ent = Handle(IGESData_IGESEntity)::DownCast(model->Value(i));
    if (ent.IsNull() || !ent->HasName()) continue;
    const Handle(TCollection_HAsciiString) name = ent->NameValue();
    if (name.IsNull() || name->Length() == 0) continue;
    TopoDS_Shape shape = TransferBRep::ShapeResult(tp, ent);
    if (shape.IsNull()) continue;
    shape.Location(TopLoc_Location());
    if (!names.IsBound(shape)) names.Bind(shape, name->ToCString());
  }
  if (names.IsEmpty()) return;
  Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  Handle(XCAFDoc_ColorTool) colors = XCAFDoc_DocumentTool::ColorTool(doc->Main());
  TDF_LabelSequence free;
  shapes->GetFreeShapes(free);
  for (int f = 1; f <= free.Length(); ++f) {
    const TDF_Label top = free(f);
    if (XCAFDoc_ShapeTool::IsAssembly(top)) continue;
    const TopoDS_Shape compound = XCAFDoc_ShapeTool::GetShape(top);
    if (compound.IsNull() || compound.ShapeType() != TopAbs_COMPOUND) continue;
    std::vector<std::pair<TopoDS_Shape, std::string>> pieces;
    bool allNamed = true;
    for (TopoDS_Iterator it(compound, false, false); it.More() && allNamed; it.Next()) {
      TopoDS_Shape bare = it.Value();
      bare.Location(TopLoc_Location());
      if (!names.IsBound(bare))
        allNamed = false;
      else
        pieces.emplace_back(it.Value(), names.Find(bare));
    }
    if (!allNamed || pieces.size() < 2) continue;
    // Colours first: once the pieces have labels of their own, a look-up by shape finds those.
    std::vector<std::pair<bool, Quantity_Color>> colours;
    for (const auto& [piece, name] : pieces) {
      TopoDS_Shape bare = piece;
      bare.Location(TopLoc_Location());
      Quantity_Color c;
      const bool has = colors->GetColor(piece, XCAFDoc_ColorSurf, c) ||
                       colors->GetColor(piece, XCAFDoc_ColorGen, c) ||
                       colors->GetColor(bare, XCAFDoc_ColorSurf, c) ||
                       colors->GetColor(bare, XCAFDoc_ColorGen, c);
      colours.emplace_back(has, c);
    }
    const TDF_Label group = shapes->NewShape();
    SetLabelName(group, LabelName(top));
    for (size_t k = 0; k < pieces.size(); ++k) {
      const auto& [piece, name] = pieces[k];
      TopoDS_Shape bare = piece;
      bare.Location(TopLoc_Location());
      const TDF_Label part = shapes->AddShape(bare, false, false);
      SetLabelName(part, name);
      if (colours[k].first) colors->SetColor(part, colours[k].second, XCAFDoc_ColorGen);
      shapes->AddComponent(group, part, piece.Location().Multiplied(compound.Location()));
    }
    shapes->RemoveShape(top, false);
  }
  shapes->UpdateAssemblies();
}

void SewLooseFaces(DocState& state) {
  TDF_LabelSequence labels;
  state.shapes->GetShapes(labels);
  bool changed = false;
  for (int i = 1; i <= labels.Length(); ++i) {
    const TDF_Label& label = labels(i);
    if (XCAFDoc_ShapeTool::IsAssembly(label) || XCAFDoc_ShapeTool::IsReference(label)) continue;
    const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(label);
    std::function<TopoDS_Shape(const TopoDS_Shape&)> faceAfter;
    const TopoDS_Shape sewn = SewnFaces(shape, faceAfter);
    if (sewn.IsSame(shape)) continue;
    // The colours of the faces go to the faces they became; the old sub-shapes go.
    struct Kept {
      TopoDS_Shape face;
      Quantity_ColorRGBA colour;
      XCAFDoc_ColorType type;
    };
    std::vector<Kept> kept;
    TDF_LabelSequence subs;
    XCAFDoc_ShapeTool::GetSubShapes(label, subs);
    for (int k = 1; k <= subs.Length(); ++k) {
      const TopoDS_Shape sub = XCAFDoc_ShapeTool::GetShape(subs(k));
      for (XCAFDoc_ColorType type : {XCAFDoc_ColorSurf, XCAFDoc_ColorGen, XCAFDoc_ColorCurv}) {
        Quantity_ColorRGBA c;
        if (!sub.IsNull() && sub.ShapeType() == TopAbs_FACE && faceAfter &&
            state.colors->GetColor(subs(k), type, c))
          kept.push_back({faceAfter(sub), c, type});
      }
      subs(k).ForgetAllAttributes();
    }
    state.shapes->SetShape(label, sewn);
    for (const Kept& k : kept) {
      if (k.face.IsNull()) continue;
      const TDF_Label sub = state.shapes->AddSubShape(label, k.face);
      if (!sub.IsNull()) state.colors->SetColor(sub, k.colour, k.type);
    }
    changed = true;
  }
  if (changed) state.shapes->UpdateAssemblies();
}

}  // namespace

// The kernel's IGES writer names each piece by its component label, which carries a link text
// ("=>[0:1:1:3]") rather than the part's name: the components get their parts' names.
// It also writes no name below a top shape that has none: an unnamed top takes the file's name.
void NameComponents(const DocState& state, const std::string& path) {
  TDF_LabelSequence free;
  state.shapes->GetFreeShapes(free);
  for (int i = 1; i <= free.Length(); ++i)
    if (LabelName(free(i)).empty())
      SetLabelName(free(i), std::filesystem::path(path).stem().string());
  TDF_LabelSequence labels;
  state.shapes->GetShapes(labels);
  for (int i = 1; i <= labels.Length(); ++i) {
    if (!XCAFDoc_ShapeTool::IsAssembly(labels(i))) continue;
    TDF_LabelSequence components;
    XCAFDoc_ShapeTool::GetComponents(labels(i), components);
    for (int k = 1; k <= components.Length(); ++k) {
      TDF_Label referred;
      if (!XCAFDoc_ShapeTool::GetReferredShape(components(k), referred)) continue;
      const std::string own = LabelName(components(k));
      const std::string name = LabelName(referred);
      if (!name.empty() && (own.empty() || own.rfind("=>", 0) == 0))
        SetLabelName(components(k), name);
    }
  }
}

void WriteIGES(const DocState& state, const std::string& path) {
  InitExchange();
  CheckFacetedSize(state, "IGES");
  state.shapes->UpdateAssemblies();
  NameComponents(state, path);
  FacetedMeshes faceted(state);
  IGESCAFControl_Writer writer;
  writer.SetColorMode(true);
  writer.SetNameMode(true);
  writer.SetLayerMode(false);
  Handle(ExchangeProgress) progress = new ExchangeProgress();
  if (!writer.Transfer(state.doc, progress->Start()))
    FailOrStopped(QZ::eCodeFailure, path + ": the shapes cannot be written as IGES");
  CheckStop(0.8);
  if (!writer.Write(path.c_str()))
    Fail(QZ::eCodeFileAccess, path + ": the IGES file cannot be written");
}

std::shared_ptr<DocState> ReadIGES(const std::string& path) {
  InitExchange();
  if (!FileReadable(path)) Fail(QZ::eCodeFileAccess, path + ": no such file");
  auto state = ReadDocument<IGESCAFControl_Reader>(
      path, "IGES", [](IGESCAFControl_Reader&) { return true; }, NamePieces);
  SewLooseFaces(*state);
  return state;
}

}  // namespace cad_engine
