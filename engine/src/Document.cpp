#include "Document.h"

#include "Shape.h"

#include <BRepBuilderAPI_Copy.hxx>
#include <BRep_Builder.hxx>
#include <Quantity_Color.hxx>
#include <Quantity_ColorRGBA.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TCollection_ExtendedString.hxx>
#include <TDataStd_Name.hxx>
#include <TDocStd_Application.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS_Compound.hxx>
#include <XCAFApp_Application.hxx>
#include <XCAFDoc_DocumentTool.hxx>

#include <algorithm>
#include <cmath>

namespace cad_engine {

namespace {

TDF_Label Referred(const TDF_Label& label) {
  TDF_Label ref;
  if (label.IsNull()) return label;
  if (XCAFDoc_ShapeTool::IsReference(label) && XCAFDoc_ShapeTool::GetReferredShape(label, ref))
    return ref;
  return label;
}

bool FindColor(const Handle(XCAFDoc_ColorTool) & tool, const TDF_Label& label, Quantity_Color& c) {
  return tool->GetColor(label, XCAFDoc_ColorSurf, c) ||
         tool->GetColor(label, XCAFDoc_ColorGen, c) || tool->GetColor(label, XCAFDoc_ColorCurv, c);
}

// A label's colour with its transparency and how it is used (surface, generic, curve: the first
// the label has).
bool FindColorRgba(const Handle(XCAFDoc_ColorTool) & tool, const TDF_Label& label,
                   Quantity_ColorRGBA& c, ColorUse& use) {
  if (tool->GetColor(label, XCAFDoc_ColorSurf, c)) {
    use = ColorUse::Surface;
  } else if (tool->GetColor(label, XCAFDoc_ColorGen, c)) {
    use = ColorUse::Generic;
  } else if (tool->GetColor(label, XCAFDoc_ColorCurv, c)) {
    use = ColorUse::Curve;
  } else {
    return false;
  }
  return true;
}

// The kernel keeps colours as linear floats: a component of k/255 (what the viewer's colours
// are) comes back from it a few millionths off, and the viewer's byte of it, truncated, one
// lower. Components that close to a byte value are given as that value.
double NearByte(double v) {
  const double byte = std::round(v * 255.0);
  return std::abs(v * 255.0 - byte) < 1e-3 ? byte / 255.0 : v;
}

void ToFloats(const Quantity_ColorRGBA& c, float* rgba) {
  Standard_Real r, g, b;
  c.GetRGB().Values(r, g, b, Quantity_TOC_sRGB);
  r = NearByte(r);
  g = NearByte(g);
  b = NearByte(b);
  rgba[0] = static_cast<float>(r);
  rgba[1] = static_cast<float>(g);
  rgba[2] = static_cast<float>(b);
  // A file's transparency may lie outside 0..1 (or be no number): held within the range.
  const float alpha = c.Alpha();
  rgba[3] = std::isnan(alpha) ? 1.0f : std::clamp(alpha, 0.0f, 1.0f);
}

Quantity_ColorRGBA FromFloats(const float* rgba) {
  return Quantity_ColorRGBA(Quantity_Color(rgba[0], rgba[1], rgba[2], Quantity_TOC_sRGB), rgba[3]);
}

XCAFDoc_ColorType ColorTypeOf(ColorUse use) {
  switch (use) {
    case ColorUse::Generic: return XCAFDoc_ColorGen;
    case ColorUse::Curve: return XCAFDoc_ColorCurv;
    default: return XCAFDoc_ColorSurf;
  }
}

// The colours of a part (an instance, or a top-level shape) as its shape carries them: its own,
// on the instance or else on the product, and those the product keeps on its sub-shapes
// (solids, shells, faces, edges), each named by its kind and index in the product's shape.
ShapeColorsPtr ReadColors(const DocState& state, const TDF_Label& instance,
                          const TopoDS_Shape& shape) {
  auto colors = std::make_shared<ShapeColors>();
  const TDF_Label ref = Referred(instance);
  Quantity_ColorRGBA c;
  ColorUse use = ColorUse::Surface;
  if (FindColorRgba(state.colors, instance, c, use) || FindColorRgba(state.colors, ref, c, use)) {
    colors->hasDefault = true;
    ToFloats(c, colors->defaultRgba);
  }
  TDF_LabelSequence subs;
  XCAFDoc_ShapeTool::GetSubShapes(ref, subs);
  std::vector<std::pair<TopAbs_ShapeEnum, TopTools_IndexedMapOfShape>> maps;
  maps.reserve(TopAbs_SHAPE + 1);  // never moved: one per kind at most
  for (int i = 1; i <= subs.Length(); ++i) {
    if (!FindColorRgba(state.colors, subs(i), c, use)) continue;
    const TopoDS_Shape sub = XCAFDoc_ShapeTool::GetShape(subs(i));
    if (sub.IsNull()) continue;
    const TopAbs_ShapeEnum kind = sub.ShapeType();
    auto it =
        std::find_if(maps.begin(), maps.end(), [&](const auto& m) { return m.first == kind; });
    if (it == maps.end()) {
      maps.emplace_back(kind, TopTools_IndexedMapOfShape());
      it = maps.end() - 1;
      TopExp::MapShapes(shape, kind, it->second);
    }
    int index = it->second.FindIndex(sub);
    // A sub-shape given relative to the product's shape rather than within it.
    if (index == 0 && !shape.Location().IsIdentity())
      index = it->second.FindIndex(sub.Moved(shape.Location()));
    if (index == 0) continue;  // not a sub-shape of this shape
    SubShapeColor entry;
    entry.kind = kind;
    entry.index = index;
    entry.use = use;
    ToFloats(c, entry.rgba);
    colors->subs.push_back(entry);
  }
  // Coarse kinds first (solids before their faces), so that finer colours win where they apply.
  std::stable_sort(colors->subs.begin(), colors->subs.end(),
                   [](const SubShapeColor& a, const SubShapeColor& b) { return a.kind < b.kind; });
  if (colors->Empty()) return nullptr;
  return colors;
}

// Puts the colours a shape carries on a product of the document: its own on the product, the
// others on sub-shape labels of the product's shape.
void WriteColors(const DocState& state, const TDF_Label& product, const TopoDS_Shape& shape,
                 const ShapeColors& colors) {
  if (colors.hasDefault)
    state.colors->SetColor(product, FromFloats(colors.defaultRgba), XCAFDoc_ColorSurf);
  for (const auto& [sub, entry] : ColoredSubShapes(shape, colors)) {
    const TDF_Label label = state.shapes->AddSubShape(product, sub);
    if (!label.IsNull())
      state.colors->SetColor(label, FromFloats(entry->rgba), ColorTypeOf(entry->use));
  }
}

class CItemInfo final : public RefCounted<QZ::CAD::IItemInfo> {
 public:
  explicit CItemInfo(std::string name) : m_name(std::move(name)) {}
  const char* GetName() override { return m_name.c_str(); }

 private:
  std::string m_name;
};

QZ::CAD::IItem* NewItem(const std::shared_ptr<DocState>& state, const TDF_Label& label);

// Common part of assemblies and parts. `label` is the instance (a component of its parent) or,
// for the items of a document without a top assembly, a top-level shape.
template <class Iface>
class CItemBase : public RefCounted<Iface> {
 public:
  CItemBase(std::shared_ptr<DocState> state, TDF_Label label)
      : m_state(std::move(state)), m_label(label) {}

  void SetName(const char* name) override {
    Guard("SetName", [&] {
      const std::string text = name ? name : "";
      if (m_label.IsNull()) return;
      SetLabelName(m_label, text);
      if (Referred(m_label) != m_label) SetLabelName(Referred(m_label), text);
    });
  }
  QZ::CAD::IItemInfo* GetInfo() override {
    return Guard("GetInfo", [&]() -> QZ::CAD::IItemInfo* {
      // The product's name first; an instance name only when the product has none.
      std::string name = LabelName(Referred(m_label));
      if (name.empty()) name = LabelName(m_label);
      return new CItemInfo(name);
    });
  }
  double* GetMatrix(double* m) override {
    return Guard("GetMatrix", [&] {
      if (!m_label.IsNull() && XCAFDoc_ShapeTool::IsReference(m_label))
        FromTrsf(XCAFDoc_ShapeTool::GetLocation(m_label).Transformation(), m);
      else
        IdentityMatrix(m);
      return m;
    });
  }
  void SetMatrix(const double* m) override {
    Guard("SetMatrix", [&] {
      if (m_label.IsNull() || !XCAFDoc_ShapeTool::IsReference(m_label))
        Throw(QZ::eCodeInvalidUse, "a top item has no placement");
      const gp_Trsf t = ToTrsf(m);
      if (std::abs(t.ScaleFactor() - 1.0) > 1e-9)
        Throw(QZ::eCodeInvalidParameter, "placements of items must be rigid");
      // The shape attribute of a component carries its location.
      TopoDS_Shape s = XCAFDoc_ShapeTool::GetShape(Referred(m_label));
      m_state->shapes->SetShape(m_label, s.Moved(TopLoc_Location(t)));
      m_state->shapes->UpdateAssemblies();
    });
  }

 protected:
  std::shared_ptr<DocState> m_state;
  TDF_Label m_label;
};

class CPart final : public CItemBase<QZ::CAD::IPart> {
 public:
  using CItemBase::CItemBase;
  int GetKind() override { return QZ::CAD::eItemPart; }
  bool IsAssembly() override { return false; }
  QZ::CAD::IShape* GetShape() override {
    return Guard("GetShape", [&]() -> QZ::CAD::IShape* {
      TopoDS_Shape s = XCAFDoc_ShapeTool::GetShape(Referred(m_label));
      if (s.IsNull()) return nullptr;
      return new CShape(s, ReadColors(*m_state, m_label, s));
    });
  }
  bool GetColor(double* rgb) override {
    return Guard("GetColor", [&] {
      Quantity_Color c;
      const TDF_Label ref = Referred(m_label);
      bool found = FindColor(m_state->colors, m_label, c) || FindColor(m_state->colors, ref, c);
      if (!found) {
        // Colours kept on the faces or solids of the part: the first one.
        TDF_LabelSequence subs;
        XCAFDoc_ShapeTool::GetSubShapes(ref, subs);
        for (int i = 1; i <= subs.Length() && !found; ++i)
          found = FindColor(m_state->colors, subs(i), c);
      }
      if (!found) {
        const TopoDS_Shape s = XCAFDoc_ShapeTool::GetShape(ref);
        for (TopExp_Explorer e(s, TopAbs_FACE); e.More() && !found; e.Next())
          found = m_state->colors->GetColor(e.Current(), XCAFDoc_ColorSurf, c) ||
                  m_state->colors->GetColor(e.Current(), XCAFDoc_ColorGen, c);
      }
      if (!found) return false;
      c.Values(rgb[0], rgb[1], rgb[2], Quantity_TOC_sRGB);
      for (int k = 0; k < 3; ++k) rgb[k] = NearByte(rgb[k]);
      return true;
    });
  }
  void SetColor(double r, double g, double b) override {
    Guard("SetColor", [&] {
      for (double v : {r, g, b})
        if (!(v >= 0.0 && v <= 1.0))
          Throw(QZ::eCodeInvalidParameter, "colour components lie between 0 and 1");
      // The transparency the part has keeps.
      const TDF_Label ref = Referred(m_label);
      Quantity_ColorRGBA old;
      const float alpha =
          m_state->colors->GetColor(ref, XCAFDoc_ColorSurf, old) ? old.Alpha() : 1.0f;
      m_state->colors->SetColor(
          ref, Quantity_ColorRGBA(Quantity_Color(r, g, b, Quantity_TOC_sRGB), alpha),
          XCAFDoc_ColorSurf);
    });
  }
};

class CAssembly final : public CItemBase<QZ::CAD::IAssembly> {
 public:
  // isDocument: the document item, whose children are the document's top items.
  CAssembly(std::shared_ptr<DocState> state, TDF_Label label, bool isDocument)
      : CItemBase(std::move(state), label), m_isDocument(isDocument) {}
  int GetKind() override { return QZ::CAD::eItemAssembly; }
  bool IsAssembly() override { return true; }

  int GetChildCount() override {
    return Guard("GetChildCount", [&] { return static_cast<int>(Children().size()); });
  }
  QZ::CAD::IItem* GetChild(int index) override {
    return Guard("GetChild", [&]() -> QZ::CAD::IItem* {
      const auto children = Children();
      if (index < 0 || index >= static_cast<int>(children.size())) return nullptr;
      return NewItem(m_state, children[index]);
    });
  }
  QZ::CAD::IPart* AddShape(QZ::CAD::IShape* shape) override {
    return Guard("AddShape", [&]() -> QZ::CAD::IPart* {
      const TopoDS_Shape placed = ShapeOf(shape);
      if (placed.IsNull()) Throw(QZ::eCodeNullShape, "AddShape: null shape");
      const TDF_Label target = Target();
      // The part's product holds the unplaced shape; the instance holds the placement. Elements
      // of the same sizes share one built solid (SolidMemo): each gets a copy of its own here,
      // so that it stays a part of its own with its own name and colour.
      TopoDS_Shape product0 = placed.Located(TopLoc_Location());
      TDF_Label already;
      if (m_state->shapes->FindShape(product0, already)) {
        BRepBuilderAPI_Copy copy(product0, false, false);
        if (!copy.IsDone()) Throw(QZ::eCodeFailure, "AddShape: the part could not be copied");
        product0 = copy.Shape();
      }
      const TDF_Label product = m_state->shapes->AddShape(product0, false, false);
      const TDF_Label component = m_state->shapes->AddComponent(target, product, placed.Location());
      if (component.IsNull()) Throw(QZ::eCodeFailure, "AddShape: the part could not be added");
      // Colours read with the shape go with it (a placed or transformed copy keeps the order
      // of its sub-shapes, and so does the copy above).
      if (const ShapeColorsPtr colors = ColorsOf(shape))
        WriteColors(*m_state, product, product0, *colors);
      m_state->shapes->UpdateAssemblies();
      return new CPart(m_state, component);
    });
  }
  QZ::CAD::IAssembly* AddAssembly() override {
    return Guard("AddAssembly", [&]() -> QZ::CAD::IAssembly* {
      const TDF_Label target = Target();
      const TDF_Label sub = m_state->shapes->NewShape();
      const TDF_Label component = m_state->shapes->AddComponent(target, sub, TopLoc_Location());
      if (component.IsNull())
        Throw(QZ::eCodeFailure, "AddAssembly: the assembly could not be added");
      m_state->shapes->UpdateAssemblies();
      return new CAssembly(m_state, component, false);
    });
  }

 private:
  TDF_Label Target() const {
    if (m_isDocument) {
      if (m_state->imported || m_state->root.IsNull())
        Throw(QZ::eCodeInvalidUse, "an imported document cannot be extended");
      return m_state->root;
    }
    return Referred(m_label);
  }
  std::vector<TDF_Label> Children() const {
    if (m_isDocument) {
      if (!m_state->imported) {
        std::vector<TDF_Label> out;
        TDF_LabelSequence seq;
        XCAFDoc_ShapeTool::GetComponents(m_state->root, seq, false);
        for (int i = 1; i <= seq.Length(); ++i) out.push_back(seq(i));
        return out;
      }
      return m_state->topItems;
    }
    std::vector<TDF_Label> out;
    TDF_LabelSequence seq;
    XCAFDoc_ShapeTool::GetComponents(Referred(m_label), seq, false);
    for (int i = 1; i <= seq.Length(); ++i) out.push_back(seq(i));
    return out;
  }

  bool m_isDocument;
};

// An empty compound is what an empty assembly becomes in a file: it stays an assembly.
bool IsEmptyCompound(const TDF_Label& label) {
  const TopoDS_Shape s = XCAFDoc_ShapeTool::GetShape(label);
  return !s.IsNull() && s.ShapeType() == TopAbs_COMPOUND && s.NbChildren() == 0;
}

QZ::CAD::IItem* NewItem(const std::shared_ptr<DocState>& state, const TDF_Label& label) {
  const TDF_Label ref = Referred(label);
  if (XCAFDoc_ShapeTool::IsAssembly(ref) || IsEmptyCompound(ref))
    return new CAssembly(state, label, false);
  return new CPart(state, label);
}

}  // namespace

Handle(TDocStd_Document) NewXdeDocument() {
  Handle(TDocStd_Document) doc;
  XCAFApp_Application::GetApplication()->NewDocument("BinXCAF", doc);
  return doc;
}

DocState::~DocState() {
  try {
    if (!doc.IsNull() && doc->IsOpened()) XCAFApp_Application::GetApplication()->Close(doc);
  } catch (...) {}
}

std::string LabelName(const TDF_Label& label) {
  Handle(TDataStd_Name) name;
  if (label.IsNull() || !label.FindAttribute(TDataStd_Name::GetID(), name)) return {};
  const TCollection_ExtendedString& text = name->Get();
  std::string out(text.LengthOfCString(), '\0');
  Standard_PCharacter buffer = out.data();
  const int n = text.ToUTF8CString(buffer);
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

void SetLabelName(const TDF_Label& label, const std::string& name) {
  TDataStd_Name::Set(label, TCollection_ExtendedString(name.c_str(), true));
}

std::shared_ptr<DocState> NewDocument() {
  auto state = std::make_shared<DocState>();
  state->doc = NewXdeDocument();
  state->shapes = XCAFDoc_DocumentTool::ShapeTool(state->doc->Main());
  state->colors = XCAFDoc_DocumentTool::ColorTool(state->doc->Main());
  state->root = state->shapes->NewShape();
  return state;
}

std::shared_ptr<DocState> WrapImported(const Handle(TDocStd_Document) & doc) {
  auto state = std::make_shared<DocState>();
  state->doc = doc;
  state->shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  state->colors = XCAFDoc_DocumentTool::ColorTool(doc->Main());
  state->imported = true;
  TDF_LabelSequence free;
  state->shapes->GetFreeShapes(free);
  if (free.Length() == 1 && XCAFDoc_ShapeTool::IsAssembly(free(1))) {
    // One top assembly (what our own exports write): its components are the document's items.
    state->root = free(1);
    TDF_LabelSequence seq;
    XCAFDoc_ShapeTool::GetComponents(free(1), seq, false);
    for (int i = 1; i <= seq.Length(); ++i) state->topItems.push_back(seq(i));
  } else {
    for (int i = 1; i <= free.Length(); ++i) state->topItems.push_back(free(i));
  }
  return state;
}

QZ::CAD::IAssembly* NewDocumentItem(const std::shared_ptr<DocState>& state) {
  return new CAssembly(state, state->root, true);
}

TopoDS_Shape DocumentShape(const DocState& state) {
  TDF_LabelSequence free;
  state.shapes->GetFreeShapes(free);
  BRep_Builder b;
  TopoDS_Compound c;
  b.MakeCompound(c);
  for (int i = 1; i <= free.Length(); ++i) {
    TopoDS_Shape s = XCAFDoc_ShapeTool::GetShape(free(i));
    if (!s.IsNull()) b.Add(c, s);
  }
  return c;
}

}  // namespace cad_engine
