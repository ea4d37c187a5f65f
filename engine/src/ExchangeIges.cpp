// IGES exchange.
#include "ExchangeCommon.h"

#include <IGESBasic_Group.hxx>
#include <IGESBasic_GroupWithoutBackP.hxx>
#include <IGESBasic_SingularSubfigure.hxx>
#include <IGESBasic_SubfigureDef.hxx>
#include <IGESCAFControl_Reader.hxx>
#include <IGESData_HArray1OfIGESEntity.hxx>
#include <IGESData_IGESEntity.hxx>
#include <IGESData_TransfEntity.hxx>
#include <IGESGeom_CompositeCurve.hxx>
#include <IGESGeom_TransformationMatrix.hxx>
#include <Interface_InterfaceModel.hxx>
#include <Interface_Static.hxx>
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
#include <TColStd_HArray2OfReal.hxx>
#include <TDataStd_Name.hxx>
#include <TransferBRep_ShapeMapper.hxx>
#include <Transfer_FinderProcess.hxx>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
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

std::string Trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  const size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

// The kernel's IGES reader names the instances of subfigures that carry no name of their own
// by a link text ("=>[0:1:1:3]"): such names go, so that the item is called by its
// definition's name.
void ForgetLinkNames(const Handle(TDocStd_Document) & doc) {
  Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  TDF_LabelSequence labels;
  shapes->GetShapes(labels);
  std::vector<TDF_Label> all;
  for (int i = 1; i <= labels.Length(); ++i) {
    all.push_back(labels(i));
    TDF_LabelSequence components;
    XCAFDoc_ShapeTool::GetComponents(labels(i), components);
    for (int k = 1; k <= components.Length(); ++k) all.push_back(components(k));
  }
  for (const TDF_Label& label : all)
    if (XCAFDoc_ShapeTool::IsReference(label) && LabelName(label).rfind("=>", 0) == 0)
      label.ForgetAttribute(TDataStd_Name::GetID());
}

// The kernel's IGES reader may give a definition (308) the name of one of its instances (a
// label of a 408 in the file) when it meets the instance after the definition: each
// definition's product is named as the definition again.
void NameDefinitions(IGESCAFControl_Reader& reader, const Handle(TDocStd_Document) & doc) {
  const Handle(XSControl_TransferReader) tr = reader.WS()->TransferReader();
  const Handle(Interface_InterfaceModel) model = reader.WS()->Model();
  if (tr.IsNull() || tr->TransientProcess().IsNull() || model.IsNull()) return;
  const Handle(Transfer_TransientProcess) tp = tr->TransientProcess();
  Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  for (int i = 1; i <= model->NbEntities(); ++i) {
    const Handle(IGESBasic_SubfigureDef) def =
        Handle(IGESBasic_SubfigureDef)::DownCast(model->Value(i));
    if (def.IsNull()) continue;
    const std::string name = Trimmed(Text(def->Name()));
    TopoDS_Shape shape = TransferBRep::ShapeResult(tp, def);
    if (name.empty() || shape.IsNull()) continue;
    shape.Location(TopLoc_Location());
    TDF_Label label;
    if (shapes->FindShape(shape, label) && !XCAFDoc_ShapeTool::IsReference(label))
      SetLabelName(label, name);
  }
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
    const std::string name = Trimmed(Text(ent->NameValue()));
    if (name.empty()) continue;
    TopoDS_Shape shape = TransferBRep::ShapeResult(tp, ent);
    if (shape.IsNull()) continue;
    shape.Location(TopLoc_Location());
    if (!names.IsBound(shape)) names.Bind(shape, name);
  }
  if (names.IsEmpty()) return;
  Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  Handle(XCAFDoc_ColorTool) colors = XCAFDoc_DocumentTool::ColorTool(doc->Main());
  TDF_LabelSequence free;
  shapes->GetFreeShapes(free);
  for (int f = 1; f <= free.Length(); ++f) {
    const TDF_Label top = free(f);
    // Subfigures placed by instances are the kernel's assemblies and references already.
    if (XCAFDoc_ShapeTool::IsAssembly(top) || XCAFDoc_ShapeTool::IsReference(top)) continue;
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

// The kernel's transfer follows groups, subfigures and their instances, composite curves and
// chains of transformation matrices recursively: a file in which one of them contains itself
// would never be read (or overflow the stack), and so would one nested without end. Such files
// are refused before the transfer, with the reason.
constexpr int kMaxIgesNesting = 100;

void CheckIgesReferences(const std::string& path, const Handle(Interface_InterfaceModel) & model) {
  if (model.IsNull()) return;
  Graph edges;
  auto link = [&](const Handle(Standard_Transient) & from, const Handle(Standard_Transient) & to) {
    if (!to.IsNull()) edges[from.get()].push_back(to.get());
  };
  for (int i = 1; i <= model->NbEntities(); ++i) {
    const Handle(IGESData_IGESEntity) ent = Handle(IGESData_IGESEntity)::DownCast(model->Value(i));
    if (ent.IsNull()) continue;
    if (ent->HasTransf()) link(ent, ent->Transf());
    if (auto def = Handle(IGESBasic_SubfigureDef)::DownCast(ent)) {
      for (int k = 1; k <= def->NbEntities(); ++k) link(ent, def->AssociatedEntity(k));
    } else if (auto instance = Handle(IGESBasic_SingularSubfigure)::DownCast(ent)) {
      link(ent, instance->Subfigure());
    } else if (auto group = Handle(IGESBasic_Group)::DownCast(ent)) {
      for (int k = 1; k <= group->NbEntities(); ++k) link(ent, group->Entity(k));
    } else if (auto group7 = Handle(IGESBasic_GroupWithoutBackP)::DownCast(ent)) {
      for (int k = 1; k <= group7->NbEntities(); ++k) link(ent, group7->Entity(k));
    } else if (auto curve = Handle(IGESGeom_CompositeCurve)::DownCast(ent)) {
      for (int k = 1; k <= curve->NbCurves(); ++k) link(ent, curve->Curve(k));
    }
  }
  if (edges.empty()) return;
  if (GraphHasCycle(edges))
    Fail(QZ::eCodeBadFile, path +
                               ": a group, subfigure, composite curve or transformation of the "
                               "file contains itself");
  // The longest chain of links (the graph has no loop now), iteratively.
  std::unordered_map<const Standard_Transient*, int> depth;  // of the chain below, once known
  for (const auto& [start, _] : edges) {
    if (depth.count(start)) continue;
    std::vector<std::pair<const Standard_Transient*, size_t>> stack{{start, 0}};
    while (!stack.empty()) {
      const Standard_Transient* node = stack.back().first;
      const size_t next = stack.back().second;
      const auto it = edges.find(node);
      if (it == edges.end() || next >= it->second.size()) {
        int d = 0;
        if (it != edges.end())
          for (const Standard_Transient* child : it->second) d = std::max(d, depth[child] + 1);
        depth[node] = d;
        if (d > kMaxIgesNesting)
          Fail(QZ::eCodeBadFile, path + ": groups, subfigures or curves nested deeper than " +
                                     std::to_string(kMaxIgesNesting));
        stack.pop_back();
        continue;
      }
      ++stack.back().second;
      const Standard_Transient* child = it->second[next];
      if (!depth.count(child)) stack.emplace_back(child, 0);
    }
  }
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

namespace {

// IGES strings hold ASCII: a name's other letters are written as '_', as the kernel's writer
// writes them in its name properties.
std::string AsciiName(const std::string& utf8, bool& changed) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    changed = true;
    out.push_back('_');
    ++i;
    while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
  }
  return out;
}

// The model tree as IGES subfigures: every part a definition (308) that holds the entity the
// kernel's writer made of its shape (with the colours and names it writes), every group a
// definition of the instances (408) of its children, each instance placed by a transformation
// matrix (124) of its own, and the top items instances of their definitions. A part placed
// several times is one definition. An empty group has nothing to define (IGES refuses empty
// subfigures): it is left out, with a warning.
class SubfigureWriter {
 public:
  SubfigureWriter(IGESCAFControl_Writer& writer, const DocState& state)
      : m_writer(writer), m_state(state) {}

  // The items the document item shows: the components of a new document's top assembly, the
  // top items of an imported one.
  std::vector<TDF_Label> TopItems() const {
    std::vector<TDF_Label> out;
    if (!m_state.imported && !m_state.root.IsNull()) {
      TDF_LabelSequence seq;
      XCAFDoc_ShapeTool::GetComponents(m_state.root, seq, false);
      for (int i = 1; i <= seq.Length(); ++i) out.push_back(seq(i));
    } else {
      out = m_state.topItems;
    }
    return out;
  }

  // The parts' products under the given items, each once, in the order met.
  void CollectParts(const std::vector<TDF_Label>& items, TDF_LabelSequence& parts) {
    for (const TDF_Label& item : items) Collect(Product(item), parts, 0);
  }

  // The instances of the top items (null entries for left-out groups are dropped).
  std::vector<Handle(IGESBasic_SingularSubfigure)> Instances(const std::vector<TDF_Label>& items) {
    std::vector<Handle(IGESBasic_SingularSubfigure)> out;
    for (const TDF_Label& item : items) {
      Handle(IGESBasic_SingularSubfigure) instance = Instance(item, 0);
      if (!instance.IsNull()) out.push_back(instance);
    }
    return out;
  }

  bool NamesChanged() const { return m_namesChanged; }

 private:
  static constexpr int kMaxDepth = 256;  // nesting of groups (a loop would never end)

  static TDF_Label Product(const TDF_Label& item) {
    TDF_Label referred;
    if (XCAFDoc_ShapeTool::IsReference(item) && XCAFDoc_ShapeTool::GetReferredShape(item, referred))
      return referred;
    return item;
  }

  static std::vector<TDF_Label> Components(const TDF_Label& assembly) {
    std::vector<TDF_Label> out;
    TDF_LabelSequence seq;
    XCAFDoc_ShapeTool::GetComponents(assembly, seq, false);
    for (int i = 1; i <= seq.Length(); ++i) out.push_back(seq(i));
    return out;
  }

  void Collect(const TDF_Label& product, TDF_LabelSequence& parts, int depth) {
    if (depth > kMaxDepth) Fail(QZ::eCodeBadFile, "the groups are nested too deep for IGES");
    if (XCAFDoc_ShapeTool::IsAssembly(product)) {
      for (const TDF_Label& c : Components(product)) Collect(Product(c), parts, depth + 1);
      return;
    }
    if (XCAFDoc_ShapeTool::GetShape(product).IsNull() || m_seen.Contains(product)) return;
    m_seen.Add(product);
    parts.Append(product);
  }

  Handle(TCollection_HAsciiString) NameOf(const TDF_Label& item, const TDF_Label& product) {
    std::string name = LabelName(product);
    if (name.empty()) name = LabelName(item);
    if (name.rfind("=>", 0) == 0) name.clear();  // a link text, not a name
    return Ascii(AsciiName(name, m_namesChanged));
  }

  // The entity the kernel's writer made of a part's shape.
  Handle(IGESData_IGESEntity) EntityOf(const TopoDS_Shape& shape) const {
    const Handle(Transfer_FinderProcess) fp = m_writer.TransferProcess();
    Handle(IGESData_IGESEntity) entity;
    Handle(TransferBRep_ShapeMapper) mapper = TransferBRep::ShapeMapper(fp, shape);
    if (!fp->FindTypedTransient(mapper, STANDARD_TYPE(IGESData_IGESEntity), entity)) {
      mapper = TransferBRep::ShapeMapper(fp, shape.Located(TopLoc_Location()));
      fp->FindTypedTransient(mapper, STANDARD_TYPE(IGESData_IGESEntity), entity);
    }
    return entity;
  }

  // The definition of a part or group (null: nothing to define).
  Handle(IGESBasic_SubfigureDef)
      Definition(const TDF_Label& item, const TDF_Label& product, int depth) {
    if (m_defs.IsBound(product)) return m_defs.Find(product);
    if (depth > kMaxDepth) Fail(QZ::eCodeBadFile, "the groups are nested too deep for IGES");
    CheckStop();
    Handle(IGESBasic_SubfigureDef) def;
    std::vector<Handle(IGESData_IGESEntity)> entities;
    int nesting = 0;
    if (XCAFDoc_ShapeTool::IsAssembly(product)) {
      for (const TDF_Label& c : Components(product)) {
        Handle(IGESBasic_SingularSubfigure) instance = Instance(c, depth + 1);
        if (instance.IsNull()) continue;
        entities.push_back(instance);
        nesting = std::max(nesting, instance->Subfigure()->Depth() + 1);
      }
    } else {
      const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(product);
      const Handle(IGESData_IGESEntity) entity = shape.IsNull() ? nullptr : EntityOf(shape);
      if (!entity.IsNull()) entities.push_back(entity);
    }
    const Handle(TCollection_HAsciiString) name = NameOf(item, product);
    if (entities.empty()) {
      std::string what = "without a name";
      if (name->Length() > 0) what.assign(1, '"').append(Text(name)).push_back('"');
      Warn(XCAFDoc_ShapeTool::IsAssembly(product) || IsEmptyCompoundLabel(product)
               ? "the group " + what + " holds nothing and is left out (IGES has no empty group)"
               : "the part " + what + " has no shape IGES can hold and is left out");
      m_defs.Bind(product, def);
      return def;
    }
    Handle(IGESData_HArray1OfIGESEntity) list =
        new IGESData_HArray1OfIGESEntity(1, static_cast<int>(entities.size()));
    for (size_t i = 0; i < entities.size(); ++i)
      list->SetValue(static_cast<int>(i) + 1, entities[i]);
    def = new IGESBasic_SubfigureDef();
    def->Init(nesting, name, list);
    m_defs.Bind(product, def);
    return def;
  }

  static bool IsEmptyCompoundLabel(const TDF_Label& label) {
    const TopoDS_Shape s = XCAFDoc_ShapeTool::GetShape(label);
    return s.IsNull() || (s.ShapeType() == TopAbs_COMPOUND && s.NbChildren() == 0);
  }

  // An instance of an item's definition where the item is placed: the whole placement in a
  // transformation matrix, no translation of its own (readers differ in how they combine the
  // two).
  Handle(IGESBasic_SingularSubfigure) Instance(const TDF_Label& item, int depth) {
    const TDF_Label product = Product(item);
    const Handle(IGESBasic_SubfigureDef) def = Definition(item, product, depth);
    if (def.IsNull()) return nullptr;
    Handle(IGESBasic_SingularSubfigure) instance = new IGESBasic_SingularSubfigure();
    instance->Init(def, gp_XYZ(0, 0, 0), false, 1.0);
    const gp_Trsf t = XCAFDoc_ShapeTool::IsReference(item)
                          ? XCAFDoc_ShapeTool::GetLocation(item).Transformation()
                          : gp_Trsf();
    if (t.Form() != gp_Identity) {
      Handle(TColStd_HArray2OfReal) m = new TColStd_HArray2OfReal(1, 3, 1, 4);
      for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) m->SetValue(r, c, t.Value(r, c));
      Handle(IGESGeom_TransformationMatrix) matrix = new IGESGeom_TransformationMatrix();
      matrix->Init(m);
      instance->InitTransf(matrix);
    }
    return instance;
  }

  IGESCAFControl_Writer& m_writer;
  const DocState& m_state;
  TDF_LabelMap m_seen;
  NCollection_DataMap<TDF_Label, Handle(IGESBasic_SubfigureDef), TDF_LabelMapHasher> m_defs;
  bool m_namesChanged = false;
};

// What the kernel's IGES writer cannot keep of the parts' colours, said once each: colours of
// edges (it writes colours on solids and faces only) and transparency (the format has none).
void WarnColoursIgesLoses(const DocState& state, const TDF_LabelSequence& parts) {
  int edges = 0;
  bool transparent = false;
  auto look = [&](const TDF_Label& label, bool isEdge) {
    for (XCAFDoc_ColorType type : {XCAFDoc_ColorSurf, XCAFDoc_ColorGen, XCAFDoc_ColorCurv}) {
      Quantity_ColorRGBA c;
      if (!state.colors->GetColor(label, type, c)) continue;
      if (isEdge) ++edges;
      if (c.Alpha() < 1.0f) transparent = true;
      return;
    }
  };
  for (int i = 1; i <= parts.Length(); ++i) {
    look(parts(i), false);
    TDF_LabelSequence subs;
    XCAFDoc_ShapeTool::GetSubShapes(parts(i), subs);
    for (int k = 1; k <= subs.Length(); ++k) {
      const TopoDS_Shape sub = XCAFDoc_ShapeTool::GetShape(subs(k));
      look(subs(k), !sub.IsNull() && sub.ShapeType() == TopAbs_EDGE);
    }
  }
  if (edges > 0)
    Warn("IGES keeps no colour of an edge: " + std::to_string(edges) +
         (edges == 1 ? " edge colour is" : " edge colours are") + " not written");
  if (transparent) Warn("IGES keeps no transparency: transparent colours are written opaque");
}

}  // namespace

void WriteIGES(const DocState& state, const std::string& path) {
  InitExchange();
  CheckFacetedSize(state, "IGES");
  state.shapes->UpdateAssemblies();
  FacetedMeshes faceted(state);
  // Solids as solids (the kernel's setting is the process's: other code may have changed it).
  Interface_Static::SetIVal("write.iges.brep.mode", 1);
  IGESCAFControl_Writer writer;
  writer.SetColorMode(true);
  writer.SetNameMode(true);
  writer.SetLayerMode(false);
  SubfigureWriter subfigures(writer, state);
  const std::vector<TDF_Label> items = subfigures.TopItems();
  TDF_LabelSequence parts;
  subfigures.CollectParts(items, parts);
  Handle(ExchangeProgress) progress = new ExchangeProgress();
  // The parts' shapes, each once, with their colours and names, by the kernel's writer; then
  // the tree of subfigures over them.
  if (parts.IsEmpty()) {
    if (!writer.Transfer(state.doc, progress->Start()))
      FailOrStopped(QZ::eCodeFailure, path + ": the shapes cannot be written as IGES");
  } else {
    WarnColoursIgesLoses(state, parts);
    if (!writer.Transfer(parts, progress->Start()))
      FailOrStopped(QZ::eCodeFailure, path + ": the shapes cannot be written as IGES");
    CheckStop(0.7);
    for (const Handle(IGESBasic_SingularSubfigure) & instance : subfigures.Instances(items))
      writer.AddEntity(instance);
    writer.ComputeModel();
  }
  if (subfigures.NamesChanged())
    Warn("IGES names are ASCII: letters outside it are written as '_'");
  CheckStop(0.8);
  if (!writer.Write(path.c_str()))
    Fail(QZ::eCodeFileAccess, path + ": the IGES file cannot be written");
}

// A file ends with its terminate section (a line marked 'T' in column 73): without it, the file
// was most likely cut short, and the reader reads what there is.
bool EndsWithTerminateSection(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size <= 0) return false;
  const std::streamoff tail = std::min<std::streamoff>(size, 400);
  in.seekg(size - tail);
  std::string text(static_cast<size_t>(tail), '\0');
  in.read(text.data(), tail);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\0'))
    text.pop_back();
  const size_t start =
      text.find_last_of("\r\n") == std::string::npos ? 0 : text.find_last_of("\r\n") + 1;
  const std::string last = text.substr(start);
  return last.size() >= 73 && last[72] == 'T';
}

std::shared_ptr<DocState> ReadIGES(const std::string& path) {
  InitExchange();
  if (!FileReadable(path)) Fail(QZ::eCodeFileAccess, path + ": no such file");
  if (!EndsWithTerminateSection(path))
    Warn(path +
         ": the file has no terminate section at its end (cut short?): what it holds "
         "is read");
  auto state = ReadDocument<IGESCAFControl_Reader>(
      path, "IGES",
      [&](IGESCAFControl_Reader& reader) {
        CheckIgesReferences(path, reader.WS()->Model());
        return true;
      },
      [](IGESCAFControl_Reader& reader, const Handle(TDocStd_Document) & doc) {
        NamePieces(reader, doc);
        NameDefinitions(reader, doc);
        ForgetLinkNames(doc);
      });
  SewLooseFaces(*state);
  return state;
}

}  // namespace cad_engine
