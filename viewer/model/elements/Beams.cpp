#include "model/elements/Beams.h"

namespace {
QZ::CAD::IBeamFactory* Factory(const QZ::ObjPtr<ICADContext>& c) {
  return c ? c->GetBeamFactory() : nullptr;
}
}  // namespace

CBeamRect::CBeamRect() { AddParams(*this, {{L"h", 531}, {L"b", 532}, {L"l", 533}, {L"t", 534}}); }
void CBeamRect::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(
        f->Rectangular(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"l"), Dbl(*this, L"t")));
}

CBeamCircular::CBeamCircular() { AddParams(*this, {{L"d", 541}, {L"l", 542}, {L"t", 543}}); }
void CBeamCircular::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->Circular(Dbl(*this, L"d"), Dbl(*this, L"l"), Dbl(*this, L"t")));
}

CBeamElliptical::CBeamElliptical() {
  AddParams(*this, {{L"d1", 551}, {L"d2", 552}, {L"l", 553}, {L"t", 554}});
}
void CBeamElliptical::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(
        f->Elliptical(Dbl(*this, L"d1"), Dbl(*this, L"d2"), Dbl(*this, L"l"), Dbl(*this, L"t")));
}

CBeamL::CBeamL() {
  AddParams(*this, {{L"h", 561}, {L"b", 562}, {L"t", 563}, {L"r", 564}, {L"l", 565}});
}
void CBeamL::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BeamL(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"t"), Dbl(*this, L"r"),
                        Dbl(*this, L"l")));
}

CBeamZ::CBeamZ() {
  AddParams(*this, {{L"h", 571},
                    {L"b", 572},
                    {L"t", 573},
                    {L"s", 574},
                    {L"r1", 575},
                    {L"r2", 576},
                    {L"l", 577}});
}
void CBeamZ::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BeamZ(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"t"), Dbl(*this, L"s"),
                        Dbl(*this, L"r1"), Dbl(*this, L"r2"), Dbl(*this, L"l")));
}

CBeamT::CBeamT() {
  AddParams(*this, {{L"h", 581},
                    {L"b", 582},
                    {L"t", 583},
                    {L"s", 584},
                    {L"r1", 585},
                    {L"r2", 586},
                    {L"r3", 587},
                    {L"l", 588},
                    {L"taper", 589, 0, ParamKind::Boolean}});
}
void CBeamT::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BeamT(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"t"), Dbl(*this, L"s"),
                        Dbl(*this, L"r1"), Dbl(*this, L"r2"), Dbl(*this, L"r3"), Dbl(*this, L"l"),
                        Bool(*this, L"taper")));
}

CBeamI::CBeamI() {
  AddParams(*this, {{L"h", 591},
                    {L"b", 592},
                    {L"t", 593},
                    {L"s", 594},
                    {L"r1", 595},
                    {L"r2", 596},
                    {L"l", 597},
                    {L"taper", 598, 0, ParamKind::Boolean}});
}
void CBeamI::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BeamI(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"t"), Dbl(*this, L"s"),
                        Dbl(*this, L"r1"), Dbl(*this, L"r2"), Dbl(*this, L"l"),
                        Bool(*this, L"taper")));
}

CBeamU::CBeamU() {
  AddParams(*this, {{L"h", 601},
                    {L"b", 602},
                    {L"t", 603},
                    {L"s", 604},
                    {L"r1", 605},
                    {L"r2", 606},
                    {L"l", 607},
                    {L"taper", 608, 0, ParamKind::Boolean}});
}
void CBeamU::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BeamU(Dbl(*this, L"h"), Dbl(*this, L"b"), Dbl(*this, L"t"), Dbl(*this, L"s"),
                        Dbl(*this, L"r1"), Dbl(*this, L"r2"), Dbl(*this, L"l"),
                        Bool(*this, L"taper")));
}
