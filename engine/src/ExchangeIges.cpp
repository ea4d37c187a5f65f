// IGES exchange.
#include "ExchangeCommon.h"

#include <IGESCAFControl_Reader.hxx>
#include <IGESCAFControl_Writer.hxx>
#include <Quantity_Color.hxx>
#include <TopoDS_Iterator.hxx>

#include <vector>

namespace cad_engine {

namespace {

// IGES files hold no assembly structure: the kernel reads them as one compound. Its pieces
// become the document's parts, each with the name and colour the file gave it.
void ExpandTopCompounds(DocState& state) {
  std::vector<TDF_Label> items;
  for (const TDF_Label& top : state.topItems) {
    const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(top);
    if (XCAFDoc_ShapeTool::IsAssembly(top) || shape.IsNull() ||
        shape.ShapeType() != TopAbs_COMPOUND) {
      items.push_back(top);
      continue;
    }
    int pieces = 0;
    for (TopoDS_Iterator it(shape); it.More(); it.Next()) ++pieces;
    if (pieces < 2) {
      items.push_back(top);
      continue;
    }
    for (TopoDS_Iterator it(shape); it.More(); it.Next()) {
      TDF_Label sub;
      if (!state.shapes->FindSubShape(top, it.Value(), sub))
        sub = state.shapes->AddSubShape(top, it.Value());
      if (sub.IsNull()) {
        items.push_back(top);  // keep the whole compound rather than lose pieces
        break;
      }
      Quantity_Color c;
      if (!state.colors->IsSet(sub, XCAFDoc_ColorSurf) &&
          !state.colors->IsSet(sub, XCAFDoc_ColorGen) &&
          state.colors->GetColor(it.Value(), XCAFDoc_ColorSurf, c))
        state.colors->SetColor(sub, c, XCAFDoc_ColorSurf);
      items.push_back(sub);
    }
  }
  state.topItems = std::move(items);
}

}  // namespace

bool WriteIGES(const DocState& state, const std::string& path) {
  InitExchange();
  state.shapes->UpdateAssemblies();
  IGESCAFControl_Writer writer;
  writer.SetColorMode(true);
  writer.SetNameMode(true);
  writer.SetLayerMode(false);
  if (!writer.Transfer(state.doc)) return false;
  return writer.Write(path.c_str());
}

std::shared_ptr<DocState> ReadIGES(const std::string& path) {
  InitExchange();
  if (!FileReadable(path)) return nullptr;
  auto state =
      ReadDocument<IGESCAFControl_Reader>(path, [](IGESCAFControl_Reader&) { return true; });
  if (!state) return nullptr;
  ExpandTopCompounds(*state);
  return state;
}

}  // namespace cad_engine
