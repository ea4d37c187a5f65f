#include "model/ShaftRecognition.h"

#include "model/elements/Shafts.h"
#include "xml/XmlText.h"

#include <cstdio>

namespace {

// The library's own builder until someone installs another: every workspace of the process
// turns recognised solids into modelled shafts without setting anything up.
RecognizedShaftBuilder& Builder() {
  static RecognizedShaftBuilder builder = BuildRecognizedShaft;
  return builder;
}

// Steps shared by both forms: the engine's answer into the slot, then the shaft (when there is
// a builder), named when the name is not empty.
std::shared_ptr<CTreeObject> Recognize(ICADContext* context, QZ::CAD::IShape* shape, CNode& group,
                                       const Matrix12& matrix, const std::wstring& name,
                                       QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result,
                                       RecognizeState* state) {
  result = nullptr;
  QZ::CAD::IShaftRecognizer* recognizer = context ? context->GetShaftRecognizer() : nullptr;
  if (!recognizer) return nullptr;
  try {
    result = QZ::ObjPtr<QZ::CAD::IRecognizeShaft>(recognizer->Recognize(shape));
  } catch (QZ::IException* e) {
    // An engine that cannot recognise this solid (or none at all yet) found no shaft: the part
    // is imported as it is rather than lost.
    if (e) e->Release();
    return nullptr;
  }
  if (!result || !Builder()) return nullptr;
  std::shared_ptr<CTreeObject> shaft = Builder()(result, group, matrix, state);
  if (shaft && !name.empty()) {
    shaft->SetValue(L"Name", CVariant(name));
    // Its sections: the name, an underscore and the section's number.
    if (auto* node = dynamic_cast<CNode*>(shaft.get()))
      for (int i = 0; i < node->GetChildCount(); ++i)
        node->GetChild(i)->SetValue(L"Name", CVariant(name + L"_" + std::to_wstring(i + 1)));
  }
  return shaft;
}

}  // namespace

void SetRecognizedShaftBuilder(RecognizedShaftBuilder builder) { Builder() = std::move(builder); }

std::shared_ptr<CTreeObject> RecognizeImportedPart(ICADContext* context, QZ::CAD::IPart* part,
                                                   CNode& group,
                                                   QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result) {
  result = nullptr;
  if (!part) return nullptr;
  QZ::ObjPtr<QZ::CAD::IShape> shape(part->GetShape());
  Matrix12 matrix = IdentityMatrix12();
  part->GetMatrix(matrix.data());
  std::wstring name;
  if (QZ::ObjPtr<QZ::CAD::IItemInfo> info{part->GetInfo()})
    name = MorlaneText::FromUtf8(info->GetName() ? info->GetName() : "");
  return Recognize(context, shape.Get(), group, matrix, name, result, nullptr);
}

std::shared_ptr<CTreeObject> RecognizeModelLeaf(ICADContext* context, CObject3D& leaf, CNode& group,
                                                QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result,
                                                RecognizeState* state) {
  result = nullptr;
  if (state) *state = eRecognizeNoneAtZero;
  QZ::ObjPtr<QZ::CAD::IShape> shape = leaf.GetShape();
  if (!shape) return nullptr;
  return Recognize(context, shape.Get(), group, IdentityMatrix12(), leaf.GetName(), result, state);
}

std::shared_ptr<CTreeObject> CShaftRecogniser::RecognizePart(
    ICADContext* context, QZ::CAD::IPart* part, CNode& group,
    QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result) const {
  return RecognizeImportedPart(context, part, group, result);
}

std::shared_ptr<CTreeObject> CShaftRecogniser::RecognizeLeaf(
    ICADContext* context, CObject3D& leaf, CNode& group,
    QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result, RecognizeState* state) const {
  return RecognizeModelLeaf(context, leaf, group, result, state);
}

const IPartRecogniser& ShaftRecogniser() {
  static const CShaftRecogniser recogniser;
  return recogniser;
}

namespace {

constexpr COLORREF kAtZero = 0x00008000;   // dark green
constexpr COLORREF kOffZero = 0x000000FF;  // red
constexpr double kZero = 0.000001;

void SetDoubles(CGeometry& g, std::initializer_list<std::pair<const wchar_t*, double>> values) {
  for (const auto& [name, v] : values) g.SetValue(name, CVariant(v));
}

// The section of one engine section: its eight values, then its grooves in order.
std::shared_ptr<CShaftSection> SectionOf(QZ::CAD::IRecognizeSection& engine) {
  auto section = std::make_shared<CShaftSection>();
  double v[8] = {};
  engine.GetValues(v);
  SetDoubles(*section, {{L"pos", v[0]},
                        {L"din1", v[3]},
                        {L"din2", v[4]},
                        {L"dout1", v[1]},
                        {L"dout2", v[2]},
                        {L"l", v[5]},
                        {L"lch1", v[6]},
                        {L"lch2", v[7]}});
  // The ends are labelled as chamfers or roundings by their sign.
  for (const wchar_t* end : {L"lch1", L"lch2"})
    if (auto p = section->FindStandardProperty(end)) p->UpdateEndLabels(p->GetValue().ToDouble());
  const int count = engine.GetGrooveCount();
  for (int g = 0; g < count; ++g) {
    QZ::ObjPtr<QZ::CAD::IRecognizeGroove> groove(engine.GetGroove(g));
    if (!groove) continue;
    switch (groove->GetType()) {
      case eRecognizeNotchChevron: {
        QZ::CAD::RecognizeNotchBlock b{};
        groove->GetNotch(&b);
        SetDoubles(*section->AddNotchChevron(), {{L"x", b.x}, {L"t", b.t}});
        break;
      }
      case eRecognizeGrooveRectangular: {
        QZ::CAD::RecognizeRectangularBlock b{};
        groove->GetRectangular(&b);
        SetDoubles(*section->AddGrooveRectangular(),
                   {{L"x", b.x}, {L"m", b.m}, {L"t", b.t}, {L"r", b.r}});
        break;
      }
      case eRecognizeCrossHole: {
        QZ::CAD::RecognizeCrossHoleBlock b{};
        groove->GetCrossHole(&b);
        SetDoubles(*section->AddCrossHole(),
                   {{L"x", b.x}, {L"t", b.t}, {L"r", b.r}, {L"angle", b.angle}});
        break;
      }
      case eRecognizeGrooveParallelKey: {
        QZ::CAD::RecognizeParallelKeyBlock b{};
        groove->GetParallelKey(&b);
        SetDoubles(*section->AddGrooveParallelKey(),
                   {{L"x", b.x}, {L"l", b.l}, {L"t", b.t}, {L"r", b.r}, {L"angle", b.angle}});
        break;
      }
      case eRecognizeSlots: {
        QZ::CAD::RecognizeSlotsBlock b{};
        groove->GetSlots(&b);
        auto slots = section->AddSlots();
        SetDoubles(*slots, {{L"x", b.x}, {L"l", b.l}});
        slots->SetValue(L"n", CVariant::FromUInt(b.n));
        SetDoubles(*slots, {{L"d", b.d}, {L"win", b.win}, {L"wout", b.wout}});
        break;
      }
      case eRecognizeEngineCircular: {
        // The engine's circular grooves (the host records have no block for them).
        QZ::CAD::RecognizeCircularBlock b{};
        groove->GetCircular(&b);
        SetDoubles(*section->AddGrooveCircular(), {{L"x", b.x}, {L"t", b.t}, {L"r", b.r}});
        break;
      }
      default: break;  // no groove of ours
    }
  }
  return section;
}

}  // namespace

std::shared_ptr<CTreeObject> BuildRecognizedShaft(
    const QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result, CNode& group, const Matrix12& matrix,
    RecognizeState* state) {
  if (!result) return nullptr;
  auto shaft = std::make_shared<CShaft>();
  shaft->SetMatrix(matrix.data());
  group.AddChild(shaft);
  Matrix12 placement = IdentityMatrix12();
  result->GetMatrix(placement.data());
  int offZero = 0, atZero = 0;
  const int count = result->GetSectionCount();
  for (int i = 0; i < count; ++i) {
    QZ::ObjPtr<QZ::CAD::IRecognizeSection> engine(result->GetSection(i));
    if (!engine) continue;
    double v[8] = {};
    engine->GetValues(v);
    COLORREF color = kAtZero;
    if (v[0] > kZero) {
      ++offZero;
      engine->SetValues(0, v[1], v[2], v[3], v[4], v[5], v[6], v[7]);
      color = kOffZero;
    } else {
      ++atZero;
    }
    std::shared_ptr<CShaftSection> section = SectionOf(*engine);
    section->SetColor(L"Color", color);
    section->SetMatrix(placement.data());
    shaft->AddChild(section);
  }
  if (state) {
    if (offZero > 0)
      *state = atZero > 0 ? eRecognizeSomeAtZero : eRecognizeNoneAtZero;
    else
      *state = atZero > 0 ? eRecognizeAllAtZero : eRecognizeNoneAtZero;
  }
  return shaft;
}

qz_RecognizeSection RecognizeSectionRecord(const CShaftSection& section) {
  qz_RecognizeSection r;
  if (!section.GetParent()) return r;
  r.pos = Dbl(section, L"pos");
  r.dout1 = Dbl(section, L"dout1");
  r.dout2 = Dbl(section, L"dout2");
  r.din1 = Dbl(section, L"din1");
  r.din2 = Dbl(section, L"din2");
  r.l = Dbl(section, L"l");
  r.lch1 = Dbl(section, L"lch1");
  r.lch2 = Dbl(section, L"lch2");
  for (const auto& groove : section.GetGrooves()) {
    qz_RecognizeGroove g;
    const CGeometry& p = *groove;
    switch (groove->GetGrooveType()) {
      case eGrooveRectangular:
        g.type = eRecognizeGrooveRectangular;
        g.rectangular = {Dbl(p, L"x"), Dbl(p, L"t"), Dbl(p, L"r"), Dbl(p, L"m")};
        break;
      case eNotchChevron:
        g.type = eRecognizeNotchChevron;
        g.notch = {Dbl(p, L"x"), Dbl(p, L"t")};
        break;
      case eCrossHole:
        g.type = eRecognizeCrossHole;
        g.crossHole = {Dbl(p, L"x"), Dbl(p, L"t"), Dbl(p, L"r"), Dbl(p, L"angle")};
        break;
      case eGrooveParallelKey:
        g.type = eRecognizeGrooveParallelKey;
        g.parallelKey = {Dbl(p, L"x"), Dbl(p, L"l"), Dbl(p, L"t"), Dbl(p, L"r"), Dbl(p, L"angle")};
        break;
      case eSlots:
        g.type = eRecognizeSlots;
        g.slots.x = Dbl(p, L"x");
        g.slots.l = Dbl(p, L"l");
        g.slots.n = static_cast<std::uint32_t>(p.GetValue(L"n").ToInt());
        g.slots.d = Dbl(p, L"d");
        g.slots.win = Dbl(p, L"win");
        g.slots.wout = Dbl(p, L"wout");
        break;
      default: break;  // circular grooves and any other: eRecognizeGrooveNone, all 0
    }
    r.grooves.push_back(g);
  }
  return r;
}

RecognizeSectionExtensions RecognizeSectionExtension(const CShaftSection& section) {
  RecognizeSectionExtensions out;
  if (!section.GetParent()) return out;
  for (const auto& groove : section.GetGrooves()) {
    RecognizeGrooveExtension e;
    if (groove->GetGrooveType() == eGrooveCircular) {
      const CGeometry& p = *groove;
      e.type = eRecognizeEngineCircular;
      e.circular = {Dbl(p, L"x"), Dbl(p, L"t"), Dbl(p, L"r")};
    }
    out.push_back(e);
  }
  return out;
}

std::vector<RecognizeSectionExtensions> RecognizeShaftExtension(const CShaft& shaft) {
  std::vector<RecognizeSectionExtensions> out;
  for (const auto& child : shaft.GetChildren())
    if (auto* section = dynamic_cast<const CShaftSection*>(child.get()))
      out.push_back(RecognizeSectionExtension(*section));
  return out;
}

qz_RecognizeShaft RecognizeShaftRecord(const CShaft& shaft) {
  qz_RecognizeShaft out;
  for (const auto& child : shaft.GetChildren())
    if (auto* section = dynamic_cast<const CShaftSection*>(child.get()))
      out.push_back(RecognizeSectionRecord(*section));
  return out;
}
