#include "model/elements/Shafts.h"

#include "xml/XmlText.h"

// --- CShaft ------------------------------------------------------------------------------------

CShaft::CShaft() = default;
CShaft::~CShaft() = default;

bool CShaft::Update() {
  m_pShaftBuilder = nullptr;
  return CNode::Update();
}

QZ::ObjPtr<QZ::CAD::IShaftBuilder> CShaft::GetShaftBuilder() {
  if (!m_pShaftBuilder && m_pContext) {
    if (QZ::CAD::IShaftFactory* f = m_pContext->GetShaftFactory())
      m_pShaftBuilder = QZ::ObjPtr<QZ::CAD::IShaftBuilder>(f->NewShaftBuilder());
  }
  return m_pShaftBuilder;
}

// --- grooves -----------------------------------------------------------------------------------

CGrooveObject3D::CGrooveObject3D(CShaftSection* section) : m_pSection(section) {
  if (section) m_pOwner = section;
}

CGrooveRectangular::CGrooveRectangular(CShaftSection* s) : CGrooveObject3D(s) {
  AddParams(*this, {{L"x", TextId::GrooveRectangularX, TextId::DescDistance},
                    {L"m", TextId::GrooveRectangularM},
                    {L"t", TextId::GrooveRectangularT, TextId::DescDepth},
                    {L"r", TextId::GrooveRectangularR, TextId::DescRadius}});
}
CNotchChevron::CNotchChevron(CShaftSection* s) : CGrooveObject3D(s) {
  AddParams(*this, {{L"x", TextId::NotchChevronX, TextId::DescDistance},
                    {L"t", TextId::NotchChevronT, TextId::DescDepth}});
}
CGrooveCircular::CGrooveCircular(CShaftSection* s) : CGrooveObject3D(s) {
  AddParams(*this, {{L"x", TextId::GrooveCircularX, TextId::DescDistance},
                    {L"t", TextId::GrooveCircularT, TextId::DescDepth},
                    {L"r", TextId::GrooveCircularR, TextId::DescRadius}});
}
CCrossHole::CCrossHole(CShaftSection* s) : CGrooveObject3D(s) {
  AddParams(*this, {{L"x", TextId::CrossHoleX, TextId::DescDistance},
                    {L"t", TextId::CrossHoleT, TextId::DescDepth},
                    {L"r", TextId::CrossHoleR, TextId::DescRadius},
                    {L"angle", TextId::CrossHoleAngle, TextId::DescAngle}});
}
CGrooveParallelKey::CGrooveParallelKey(CShaftSection* s) : CGrooveObject3D(s) {
  AddParams(*this, {{L"x", TextId::GrooveParallelKeyX, TextId::DescDistance},
                    {L"l", TextId::GrooveParallelKeyL, TextId::DescLength},
                    {L"t", TextId::GrooveParallelKeyT, TextId::DescDepth},
                    {L"r", TextId::GrooveParallelKeyR, TextId::DescRadius},
                    {L"angle", TextId::GrooveParallelKeyAngle, TextId::DescAngle}});
}
CSlots::CSlots(CShaftSection* s) : CGrooveObject3D(s) {
  AddParams(*this, {{L"x", TextId::SlotsX, TextId::DescDistance},
                    {L"l", TextId::SlotsL, TextId::DescLength},
                    {L"n", TextId::SlotsN, TextId::DescSlotCount},
                    {L"d", TextId::SlotsD},
                    {L"win", TextId::SlotsWin, TextId::DescInnerWidth},
                    {L"wout", TextId::SlotsWout, TextId::DescOuterWidth}});
}

// --- CShaftSection -----------------------------------------------------------------------------

CShaftSection::CShaftSection() {
  AddParams(*this, {{L"pos", TextId::ShaftSectionPos, TextId::DescPosition},
                    {L"dout1", TextId::ShaftSectionDout1, TextId::DescOuterDiameter1},
                    {L"dout2", TextId::ShaftSectionDout2, TextId::DescOuterDiameter2},
                    {L"din1", TextId::ShaftSectionDin1, TextId::DescInnerDiameter1},
                    {L"din2", TextId::ShaftSectionDin2, TextId::DescInnerDiameter2},
                    {L"l", TextId::ShaftSectionL, TextId::DescLength},
                    {L"lch1", TextId::SectionEnd1, TextId::DescEnd1},
                    {L"lch2", TextId::SectionEnd2, TextId::DescEnd2}});
}

namespace {
template <class G>
std::shared_ptr<G> Append(CShaftSection* section,
                          std::vector<std::shared_ptr<CGrooveObject3D>>& grooves) {
  auto g = std::make_shared<G>(section);
  grooves.push_back(g);
  return g;
}
}  // namespace

std::shared_ptr<CGrooveRectangular> CShaftSection::AddGrooveRectangular() {
  return Append<CGrooveRectangular>(this, m_arGrooves);
}
std::shared_ptr<CNotchChevron> CShaftSection::AddNotchChevron() {
  return Append<CNotchChevron>(this, m_arGrooves);
}
std::shared_ptr<CGrooveCircular> CShaftSection::AddGrooveCircular() {
  return Append<CGrooveCircular>(this, m_arGrooves);
}
std::shared_ptr<CCrossHole> CShaftSection::AddCrossHole() {
  return Append<CCrossHole>(this, m_arGrooves);
}
std::shared_ptr<CGrooveParallelKey> CShaftSection::AddGrooveParallelKey() {
  return Append<CGrooveParallelKey>(this, m_arGrooves);
}
std::shared_ptr<CSlots> CShaftSection::AddSlots() { return Append<CSlots>(this, m_arGrooves); }

std::shared_ptr<CGrooveObject3D> CShaftSection::AddGroove(const std::wstring& typeName) {
  using Adder = std::shared_ptr<CGrooveObject3D> (*)(CShaftSection&);
  struct Row {
    const wchar_t* type;
    Adder add;
  };
  static const Row kGrooves[] = {
      {L"GrooveRectangular",
       [](CShaftSection& s) -> std::shared_ptr<CGrooveObject3D> {
         return s.AddGrooveRectangular();
       }},
      {L"GrooveCircular",
       [](CShaftSection& s) -> std::shared_ptr<CGrooveObject3D> { return s.AddGrooveCircular(); }},
      {L"NotchChevron",
       [](CShaftSection& s) -> std::shared_ptr<CGrooveObject3D> { return s.AddNotchChevron(); }},
      {L"CrossHole",
       [](CShaftSection& s) -> std::shared_ptr<CGrooveObject3D> { return s.AddCrossHole(); }},
      {L"GrooveParallelKey",
       [](CShaftSection& s) -> std::shared_ptr<CGrooveObject3D> {
         return s.AddGrooveParallelKey();
       }},
      {L"Slots", [](CShaftSection& s) -> std::shared_ptr<CGrooveObject3D> { return s.AddSlots(); }},
  };
  for (const Row& row : kGrooves)
    if (MorlaneText::EqualsNoCase(typeName, row.type)) return row.add(*this);
  return nullptr;
}

std::shared_ptr<CProperty> CShaftSection::GetProperties() {
  auto top = CObject3D::GetProperties();
  auto* group = static_cast<CPropertyGroup*>(top.get());
  if (group->GetChildCount() == 0 || group->GetChild(0)->GetKind() != CProperty::eKindGroup)
    return top;
  auto inner = std::static_pointer_cast<CPropertyGroup>(group->GetChild(0));
  for (const auto& groove : m_arGrooves) {
    if (!groove) continue;
    auto g = std::make_shared<CPropertyGroup>(groove->GetOwner(), groove->GetCaption());
    for (const auto& p : groove->GetPropertyList()) g->AddChild(p);
    inner->AddChild(g);
  }
  return top;
}

void CShaftSection::BuildShape() {
  auto* shaft = dynamic_cast<CShaft*>(m_pParent);
  if (!shaft) return;
  QZ::ObjPtr<QZ::CAD::IShaftBuilder> builder = shaft->GetShaftBuilder();
  if (!builder) return;
  QZ::CAD::ISectionShape* section = builder->AddSection(
      Dbl(*this, L"pos"), Dbl(*this, L"dout1"), Dbl(*this, L"dout2"), Dbl(*this, L"din1"),
      Dbl(*this, L"din2"), Dbl(*this, L"l"), Dbl(*this, L"lch1"), Dbl(*this, L"lch2"));
  StoreShape(section);
  if (!section) return;
  for (const auto& g : m_arGrooves) {
    if (!g) continue;
    const CGeometry& v = *g;
    switch (g->GetGrooveType()) {
      case eGrooveRectangular:
        section->AddGrooveRectangular(Dbl(v, L"x"), Dbl(v, L"m"), Dbl(v, L"t"), Dbl(v, L"r"));
        break;
      case eNotchChevron: section->AddNotchChevron(Dbl(v, L"x"), Dbl(v, L"t")); break;
      case eGrooveCircular:
        section->AddGrooveCircular(Dbl(v, L"x"), Dbl(v, L"t"), Dbl(v, L"r"));
        break;
      case eCrossHole:
        section->AddCrossHole(Dbl(v, L"x"), Dbl(v, L"t"), Dbl(v, L"r"), Dbl(v, L"angle"));
        break;
      case eGrooveParallelKey:
        section->AddGrooveParallelKey(Dbl(v, L"x"), Dbl(v, L"l"), Dbl(v, L"t"), Dbl(v, L"r"),
                                      Dbl(v, L"angle"));
        break;
      case eSlots:
        section->AddSlots(Dbl(v, L"x"), Dbl(v, L"l"), UInt(v, L"n"), Dbl(v, L"d"), Dbl(v, L"win"),
                          Dbl(v, L"wout"));
        break;
      default: break;
    }
  }
}

// --- CPlanetCarrier ----------------------------------------------------------------------------

CPlanetCarrier::CPlanetCarrier() {
  AddParams(*this, {{L"n", TextId::PlanetCarrierN, 0, ParamKind::Integer},
                    {L"r", TextId::PlanetCarrierR},
                    {L"l", TextId::PlanetCarrierL}});
}
void CPlanetCarrier::BuildShape() {
  if (!m_pContext) return;
  if (QZ::CAD::IShaftFactory* f = m_pContext->GetShaftFactory())
    StoreShape(f->PlanetCarrier(UInt(*this, L"n"), Dbl(*this, L"r"), Dbl(*this, L"l")));
}
