#include "model/elements/Beams.h"

namespace {
QZ::CAD::IBeamFactory* Factory(const QZ::ObjPtr<ICADContext>& c) {
  return c ? c->GetBeamFactory() : nullptr;
}
}  // namespace

CBeamRect::CBeamRect() {
  AddParams(*this, {{L"h", TextId::BeamRectH},
                    {L"b", TextId::BeamRectB},
                    {L"l", TextId::BeamRectL},
                    {L"t", TextId::BeamRectT}});
}
void CBeamRect::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(
        f->Rectangular(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"l"), Dbl(*this, L"t")));
}

CBeamCircular::CBeamCircular() {
  AddParams(*this, {{L"d", TextId::BeamCircularD},
                    {L"l", TextId::BeamCircularL},
                    {L"t", TextId::BeamCircularT}});
}
void CBeamCircular::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->Circular(Dbl(*this, L"d"), Dbl(*this, L"l"), Dbl(*this, L"t")));
}

CBeamElliptical::CBeamElliptical() {
  AddParams(*this, {{L"d1", TextId::BeamEllipticalD1},
                    {L"d2", TextId::BeamEllipticalD2},
                    {L"l", TextId::BeamEllipticalL},
                    {L"t", TextId::BeamEllipticalT}});
}
void CBeamElliptical::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(
        f->Elliptical(Dbl(*this, L"d1"), Dbl(*this, L"d2"), Dbl(*this, L"l"), Dbl(*this, L"t")));
}

CBeamL::CBeamL() {
  AddParams(*this, {{L"h", TextId::BeamLH},
                    {L"b", TextId::BeamLB},
                    {L"t", TextId::BeamLT},
                    {L"r", TextId::BeamLR},
                    {L"l", TextId::BeamLL}});
}
void CBeamL::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BeamL(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"t"), Dbl(*this, L"r"),
                        Dbl(*this, L"l")));
}

CBeamZ::CBeamZ() {
  AddParams(*this, {{L"h", TextId::BeamZH},
                    {L"b", TextId::BeamZB},
                    {L"t", TextId::BeamZT},
                    {L"s", TextId::BeamZS},
                    {L"r1", TextId::BeamZR1},
                    {L"r2", TextId::BeamZR2},
                    {L"l", TextId::BeamZL}});
}
void CBeamZ::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BeamZ(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"t"), Dbl(*this, L"s"),
                        Dbl(*this, L"r1"), Dbl(*this, L"r2"), Dbl(*this, L"l")));
}

CBeamT::CBeamT() {
  AddParams(*this, {{L"h", TextId::BeamTH},
                    {L"b", TextId::BeamTB},
                    {L"t", TextId::BeamTT},
                    {L"s", TextId::BeamTS},
                    {L"r1", TextId::BeamTR1},
                    {L"r2", TextId::BeamTR2},
                    {L"r3", TextId::BeamTR3},
                    {L"l", TextId::BeamTL},
                    {L"taper", TextId::BeamTTaper, 0, ParamKind::Boolean}});
}
void CBeamT::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BeamT(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"t"), Dbl(*this, L"s"),
                        Dbl(*this, L"r1"), Dbl(*this, L"r2"), Dbl(*this, L"r3"), Dbl(*this, L"l"),
                        Bool(*this, L"taper")));
}

CBeamI::CBeamI() {
  AddParams(*this, {{L"h", TextId::BeamIH},
                    {L"b", TextId::BeamIB},
                    {L"t", TextId::BeamIT},
                    {L"s", TextId::BeamIS},
                    {L"r1", TextId::BeamIR1},
                    {L"r2", TextId::BeamIR2},
                    {L"l", TextId::BeamIL},
                    {L"taper", TextId::BeamITaper, 0, ParamKind::Boolean}});
}
void CBeamI::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BeamI(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"t"), Dbl(*this, L"s"),
                        Dbl(*this, L"r1"), Dbl(*this, L"r2"), Dbl(*this, L"l"),
                        Bool(*this, L"taper")));
}

CBeamU::CBeamU() {
  AddParams(*this, {{L"h", TextId::BeamUH},
                    {L"b", TextId::BeamUB},
                    {L"t", TextId::BeamUT},
                    {L"s", TextId::BeamUS},
                    {L"r1", TextId::BeamUR1},
                    {L"r2", TextId::BeamUR2},
                    {L"l", TextId::BeamUL},
                    {L"taper", TextId::BeamUTaper, 0, ParamKind::Boolean}});
}
void CBeamU::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BeamU(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"t"), Dbl(*this, L"s"),
                        Dbl(*this, L"r1"), Dbl(*this, L"r2"), Dbl(*this, L"l"),
                        Bool(*this, L"taper")));
}
