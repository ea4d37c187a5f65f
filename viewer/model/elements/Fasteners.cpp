#include "model/elements/Fasteners.h"

namespace {
QZ::CAD::IFastenerFactory* Factory(const QZ::ObjPtr<ICADContext>& c) {
  return c ? c->GetFastenerFactory() : nullptr;
}
}  // namespace

CBoltCarriage::CBoltCarriage() {
  AddParams(*this, {{L"d", TextId::BoltCarriageD},
                    {L"b", TextId::BoltCarriageB},
                    {L"ds", TextId::BoltCarriageDs},
                    {L"ls", TextId::BoltCarriageLs},
                    {L"d1", TextId::BoltCarriageD1},
                    {L"k", TextId::BoltCarriageK},
                    {L"v", TextId::BoltCarriageV},
                    {L"f", TextId::BoltCarriageF}});
}
void CBoltCarriage::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltCarriage(Dbl(*this, L"d"), Dbl(*this, L"ds"), Dbl(*this, L"ls"),
                               Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"v"),
                               Dbl(*this, L"f"), Dbl(*this, L"k")));
}

CBoltEye::CBoltEye() {
  AddParams(*this, {{L"d", TextId::BoltEyeD},
                    {L"b", TextId::BoltEyeB},
                    {L"ls", TextId::BoltEyeLs},
                    {L"d1", TextId::BoltEyeD1},
                    {L"d2", TextId::BoltEyeD2},
                    {L"s", TextId::BoltEyeS}});
}
void CBoltEye::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltEye(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ls"), Dbl(*this, L"d1"),
                          Dbl(*this, L"d2"), Dbl(*this, L"s")));
}

CBoltHex::CBoltHex() {
  AddParams(*this, {{L"d", TextId::BoltHexD},
                    {L"b", TextId::BoltHexB},
                    {L"ds", TextId::BoltHexDs},
                    {L"ls", TextId::BoltHexLs},
                    {L"s", TextId::BoltHexS},
                    {L"k", TextId::BoltHexK},
                    {L"dw", TextId::BoltHexDw},
                    {L"c", TextId::BoltHexC}});
}
void CBoltHex::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHex(Dbl(*this, L"s"), Dbl(*this, L"k"), Dbl(*this, L"c"), Dbl(*this, L"dw"),
                          Dbl(*this, L"ls"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                          Dbl(*this, L"d")));
}

CBoltHexFlange::CBoltHexFlange() {
  AddParams(*this, {{L"d", TextId::BoltHexFlangeD},
                    {L"b", TextId::BoltHexFlangeB},
                    {L"ds", TextId::BoltHexFlangeDs},
                    {L"ls", TextId::BoltHexFlangeLs},
                    {L"d1", TextId::BoltHexFlangeD1},
                    {L"s", TextId::BoltHexFlangeS},
                    {L"k", TextId::BoltHexFlangeK}});
}
void CBoltHexFlange::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHexFlange(Dbl(*this, L"d"), Dbl(*this, L"ds"), Dbl(*this, L"ls"),
                                Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"k"),
                                Dbl(*this, L"s")));
}

CBoltHexSetDogCone::CBoltHexSetDogCone() {
  AddParams(*this, {{L"d", TextId::BoltHexSetDogConeD},
                    {L"b", TextId::BoltHexSetDogConeB},
                    {L"ds", TextId::BoltHexSetDogConeDs},
                    {L"ls", TextId::BoltHexSetDogConeLs},
                    {L"s", TextId::BoltHexSetDogConeS},
                    {L"k", TextId::BoltHexSetDogConeK},
                    {L"dp", TextId::BoltHexSetDogConeDp},
                    {L"zp", TextId::BoltHexSetDogConeZp}});
}
void CBoltHexSetDogCone::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHexSetDogCone(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                                    Dbl(*this, L"ls"), Dbl(*this, L"k"), Dbl(*this, L"s"),
                                    Dbl(*this, L"dp"), Dbl(*this, L"zp")));
}

CBoltHexSetDogPoint::CBoltHexSetDogPoint() {
  AddParams(*this, {{L"d", TextId::BoltHexSetDogPointD},
                    {L"b", TextId::BoltHexSetDogPointB},
                    {L"ds", TextId::BoltHexSetDogPointDs},
                    {L"ls", TextId::BoltHexSetDogPointLs},
                    {L"s", TextId::BoltHexSetDogPointS},
                    {L"k", TextId::BoltHexSetDogPointK},
                    {L"dp", TextId::BoltHexSetDogPointDp},
                    {L"zp", TextId::BoltHexSetDogPointZp}});
}
void CBoltHexSetDogPoint::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHexSetDogPoint(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                                     Dbl(*this, L"ls"), Dbl(*this, L"k"), Dbl(*this, L"s"),
                                     Dbl(*this, L"dp"), Dbl(*this, L"zp")));
}

CBoltHexSocket::CBoltHexSocket() {
  AddParams(*this, {{L"d", TextId::BoltHexSocketD},
                    {L"b", TextId::BoltHexSocketB},
                    {L"ds", TextId::BoltHexSocketDs},
                    {L"ls", TextId::BoltHexSocketLs},
                    {L"d1", TextId::BoltHexSocketD1},
                    {L"k", TextId::BoltHexSocketK},
                    {L"s", TextId::BoltHexSocketS},
                    {L"t", TextId::BoltHexSocketT}});
}
void CBoltHexSocket::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHexSocket(Dbl(*this, L"d"), Dbl(*this, L"ds"), Dbl(*this, L"ls"),
                                Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"k"),
                                Dbl(*this, L"s"), Dbl(*this, L"t")));
}

CBoltHexSocketCountersunk::CBoltHexSocketCountersunk() {
  AddParams(*this, {{L"d", TextId::BoltHexSocketCountersunkD},
                    {L"b", TextId::BoltHexSocketCountersunkB},
                    {L"ds", TextId::BoltHexSocketCountersunkDs},
                    {L"ls", TextId::BoltHexSocketCountersunkLs},
                    {L"d1", TextId::BoltHexSocketCountersunkD1},
                    {L"s", TextId::BoltHexSocketCountersunkS},
                    {L"t", TextId::BoltHexSocketCountersunkT}});
}
void CBoltHexSocketCountersunk::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHexSocketCountersunk(Dbl(*this, L"d"), Dbl(*this, L"ds"), Dbl(*this, L"ls"),
                                           Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"s"),
                                           Dbl(*this, L"t")));
}

CBoltU::CBoltU() {
  AddParams(*this, {{L"d", TextId::BoltUD},
                    {L"b", TextId::BoltUB},
                    {L"ls", TextId::BoltULs},
                    {L"d1", TextId::BoltUD1}});
}
void CBoltU::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltU(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ls"), Dbl(*this, L"d1")));
}

CBoltRing::CBoltRing() {
  AddParams(*this, {{L"d", TextId::BoltRingD},
                    {L"b", TextId::BoltRingB},
                    {L"d1", TextId::BoltRingD1},
                    {L"d2", TextId::BoltRingD2},
                    {L"d3", TextId::BoltRingD3},
                    {L"k", TextId::BoltRingK}});
}
void CBoltRing::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltRing(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"d2"),
                           Dbl(*this, L"d3"), Dbl(*this, L"k")));
}

CBoltT_Head::CBoltT_Head() {
  AddParams(*this, {{L"d", TextId::BoltT_HeadD},
                    {L"b", TextId::BoltT_HeadB},
                    {L"ls", TextId::BoltT_HeadLs},
                    {L"s1", TextId::BoltT_HeadS1},
                    {L"k", TextId::BoltT_HeadK}});
}
void CBoltT_Head::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltT_Head(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ls"),
                             Dbl(*this, L"s1"), Dbl(*this, L"k")));
}

CBoltT_HeadSquareNeck::CBoltT_HeadSquareNeck() {
  AddParams(*this, {{L"d", TextId::BoltT_HeadSquareNeckD},
                    {L"b", TextId::BoltT_HeadSquareNeckB},
                    {L"ls", TextId::BoltT_HeadSquareNeckLs},
                    {L"s1", TextId::BoltT_HeadSquareNeckS1},
                    {L"k", TextId::BoltT_HeadSquareNeckK}});
}
void CBoltT_HeadSquareNeck::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltT_HeadSquareNeck(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ls"),
                                       Dbl(*this, L"s1"), Dbl(*this, L"k")));
}

CBoltSpigot::CBoltSpigot() {
  AddParams(*this, {{L"d", TextId::BoltSpigotD},
                    {L"b", TextId::BoltSpigotB},
                    {L"ds", TextId::BoltSpigotDs},
                    {L"ls", TextId::BoltSpigotLs},
                    {L"d1", TextId::BoltSpigotD1},
                    {L"s", TextId::BoltSpigotS},
                    {L"k", TextId::BoltSpigotK}});
}
void CBoltSpigot::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltSpigot(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                             Dbl(*this, L"ls"), Dbl(*this, L"d1"), Dbl(*this, L"s"),
                             Dbl(*this, L"k")));
}

CScrewCheeseSlotted::CScrewCheeseSlotted() {
  AddParams(*this, {{L"d", TextId::ScrewCheeseSlottedD},
                    {L"b", TextId::ScrewCheeseSlottedB},
                    {L"d1", TextId::ScrewCheeseSlottedD1},
                    {L"k", TextId::ScrewCheeseSlottedK},
                    {L"n", TextId::ScrewCheeseSlottedN},
                    {L"t", TextId::ScrewCheeseSlottedT}});
}
void CScrewCheeseSlotted::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCheeseSlotted(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                     Dbl(*this, L"k"), Dbl(*this, L"n"), Dbl(*this, L"t")));
}

CScrewPanSlotted::CScrewPanSlotted() {
  AddParams(*this, {{L"d", TextId::ScrewPanSlottedD},
                    {L"b", TextId::ScrewPanSlottedB},
                    {L"d1", TextId::ScrewPanSlottedD1},
                    {L"k", TextId::ScrewPanSlottedK},
                    {L"n", TextId::ScrewPanSlottedN},
                    {L"t", TextId::ScrewPanSlottedT}});
}
void CScrewPanSlotted::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewPanSlotted(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                  Dbl(*this, L"k"), Dbl(*this, L"n"), Dbl(*this, L"t")));
}

CScrewCountersunkSlotted::CScrewCountersunkSlotted() {
  AddParams(*this, {{L"d", TextId::ScrewCountersunkSlottedD},
                    {L"b", TextId::ScrewCountersunkSlottedB},
                    {L"d1", TextId::ScrewCountersunkSlottedD1},
                    {L"n", TextId::ScrewCountersunkSlottedN},
                    {L"t", TextId::ScrewCountersunkSlottedT}});
}
void CScrewCountersunkSlotted::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCountersunkSlotted(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                          Dbl(*this, L"n"), Dbl(*this, L"t")));
}

CScrewCountersunkRaisedSlotted::CScrewCountersunkRaisedSlotted() {
  AddParams(*this, {{L"d", TextId::ScrewCountersunkRaisedSlottedD},
                    {L"b", TextId::ScrewCountersunkRaisedSlottedB},
                    {L"d1", TextId::ScrewCountersunkRaisedSlottedD1},
                    {L"k", TextId::ScrewCountersunkRaisedSlottedK},
                    {L"n", TextId::ScrewCountersunkRaisedSlottedN},
                    {L"t", TextId::ScrewCountersunkRaisedSlottedT}});
}
void CScrewCountersunkRaisedSlotted::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCountersunkRaisedSlotted(Dbl(*this, L"d"), Dbl(*this, L"b"),
                                                Dbl(*this, L"d1"), Dbl(*this, L"k"),
                                                Dbl(*this, L"n"), Dbl(*this, L"t")));
}

CScrewFillisterCrossRecessed::CScrewFillisterCrossRecessed() {
  AddParams(*this, {{L"d", TextId::ScrewFillisterCrossRecessedD},
                    {L"b", TextId::ScrewFillisterCrossRecessedB},
                    {L"d1", TextId::ScrewFillisterCrossRecessedD1},
                    {L"k", TextId::ScrewFillisterCrossRecessedK},
                    {L"a", TextId::ScrewFillisterCrossRecessedA},
                    {L"n", TextId::ScrewFillisterCrossRecessedN}});
}
void CScrewFillisterCrossRecessed::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewFillisterCrossRecessed(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                              Dbl(*this, L"a"), Dbl(*this, L"n"),
                                              Dbl(*this, L"k")));
}

CScrewCountersunkCrossRecessed::CScrewCountersunkCrossRecessed() {
  AddParams(*this, {{L"d", TextId::ScrewCountersunkCrossRecessedD},
                    {L"b", TextId::ScrewCountersunkCrossRecessedB},
                    {L"d1", TextId::ScrewCountersunkCrossRecessedD1},
                    {L"a", TextId::ScrewCountersunkCrossRecessedA},
                    {L"n", TextId::ScrewCountersunkCrossRecessedN}});
}
void CScrewCountersunkCrossRecessed::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCountersunkCrossRecessed(
        Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"a"), Dbl(*this, L"n")));
}

CScrewCountersunkRaisedCrossRecessed::CScrewCountersunkRaisedCrossRecessed() {
  AddParams(*this, {{L"d", TextId::ScrewCountersunkRaisedCrossRecessedD},
                    {L"b", TextId::ScrewCountersunkRaisedCrossRecessedB},
                    {L"d1", TextId::ScrewCountersunkRaisedCrossRecessedD1},
                    {L"k", TextId::ScrewCountersunkRaisedCrossRecessedK},
                    {L"a", TextId::ScrewCountersunkRaisedCrossRecessedA},
                    {L"n", TextId::ScrewCountersunkRaisedCrossRecessedN}});
}
void CScrewCountersunkRaisedCrossRecessed::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCountersunkRaisedCrossRecessed(Dbl(*this, L"d"), Dbl(*this, L"b"),
                                                      Dbl(*this, L"d1"), Dbl(*this, L"a"),
                                                      Dbl(*this, L"n"), Dbl(*this, L"k")));
}

CScrewHexSocketButton::CScrewHexSocketButton() {
  AddParams(*this, {{L"d", TextId::ScrewHexSocketButtonD},
                    {L"b", TextId::ScrewHexSocketButtonB},
                    {L"d1", TextId::ScrewHexSocketButtonD1},
                    {L"s", TextId::ScrewHexSocketButtonS},
                    {L"t", TextId::ScrewHexSocketButtonT}});
}
void CScrewHexSocketButton::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewHexSocketButton(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                       Dbl(*this, L"s"), Dbl(*this, L"t")));
}

CScrewCountersunkSquareNeck::CScrewCountersunkSquareNeck() {
  AddParams(*this, {{L"d", TextId::ScrewCountersunkSquareNeckD},
                    {L"b", TextId::ScrewCountersunkSquareNeckB},
                    {L"d1", TextId::ScrewCountersunkSquareNeckD1},
                    {L"v", TextId::ScrewCountersunkSquareNeckV},
                    {L"f", TextId::ScrewCountersunkSquareNeckF}});
}
void CScrewCountersunkSquareNeck::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCountersunkSquareNeck(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                             Dbl(*this, L"v"), Dbl(*this, L"f")));
}

CScrewSquareCollar::CScrewSquareCollar() {
  AddParams(*this, {{L"d", TextId::ScrewSquareCollarD},
                    {L"b", TextId::ScrewSquareCollarB},
                    {L"ds", TextId::ScrewSquareCollarDs},
                    {L"ls", TextId::ScrewSquareCollarLs},
                    {L"s", TextId::ScrewSquareCollarS},
                    {L"k", TextId::ScrewSquareCollarK},
                    {L"d1", TextId::ScrewSquareCollarD1},
                    {L"c", TextId::ScrewSquareCollarC}});
}
void CScrewSquareCollar::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewSquareCollar(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                                    Dbl(*this, L"ls"), Dbl(*this, L"s"), Dbl(*this, L"k"),
                                    Dbl(*this, L"d1"), Dbl(*this, L"c")));
}

CScrewThumb::CScrewThumb() {
  AddParams(*this, {{L"d", TextId::ScrewThumbD},
                    {L"b", TextId::ScrewThumbB},
                    {L"ds", TextId::ScrewThumbDs},
                    {L"ls", TextId::ScrewThumbLs},
                    {L"d1", TextId::ScrewThumbD1},
                    {L"k", TextId::ScrewThumbK}});
}
void CScrewThumb::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewThumb(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                             Dbl(*this, L"ls"), Dbl(*this, L"d1"), Dbl(*this, L"k")));
}

CScrewSetSlottedDogPoint::CScrewSetSlottedDogPoint() {
  AddParams(*this, {{L"d", TextId::ScrewSetSlottedDogPointD},
                    {L"b", TextId::ScrewSetSlottedDogPointB},
                    {L"dp", TextId::ScrewSetSlottedDogPointDp},
                    {L"zp", TextId::ScrewSetSlottedDogPointZp},
                    {L"n", TextId::ScrewSetSlottedDogPointN},
                    {L"t", TextId::ScrewSetSlottedDogPointT}});
}
void CScrewSetSlottedDogPoint::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewSetSlottedDogPoint(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"dp"),
                                          Dbl(*this, L"zp"), Dbl(*this, L"n"), Dbl(*this, L"t")));
}

CScrewSetSlottedConePoint::CScrewSetSlottedConePoint() {
  AddParams(*this, {{L"d", TextId::ScrewSetSlottedConePointD},
                    {L"b", TextId::ScrewSetSlottedConePointB},
                    {L"n", TextId::ScrewSetSlottedConePointN},
                    {L"t", TextId::ScrewSetSlottedConePointT}});
}
void CScrewSetSlottedConePoint::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewSetSlottedConePoint(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"n"),
                                           Dbl(*this, L"t")));
}

CScrewSetHexSocketDogPoint::CScrewSetHexSocketDogPoint() {
  AddParams(*this, {{L"d", TextId::ScrewSetHexSocketDogPointD},
                    {L"b", TextId::ScrewSetHexSocketDogPointB},
                    {L"dp", TextId::ScrewSetHexSocketDogPointDp},
                    {L"zp", TextId::ScrewSetHexSocketDogPointZp},
                    {L"s", TextId::ScrewSetHexSocketDogPointS},
                    {L"t", TextId::ScrewSetHexSocketDogPointT}});
}
void CScrewSetHexSocketDogPoint::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewSetHexSocketDogPoint(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"dp"),
                                            Dbl(*this, L"zp"), Dbl(*this, L"s"), Dbl(*this, L"t")));
}

CScrewSetHexSocketConePoint::CScrewSetHexSocketConePoint() {
  AddParams(*this, {{L"d", TextId::ScrewSetHexSocketConePointD},
                    {L"b", TextId::ScrewSetHexSocketConePointB},
                    {L"s", TextId::ScrewSetHexSocketConePointS},
                    {L"t", TextId::ScrewSetHexSocketConePointT}});
}
void CScrewSetHexSocketConePoint::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewSetHexSocketConePoint(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"s"),
                                             Dbl(*this, L"t")));
}

CStudDoubleEnd::CStudDoubleEnd() {
  AddParams(*this, {{L"d", TextId::StudDoubleEndD},
                    {L"b1", TextId::StudDoubleEndB1},
                    {L"b2", TextId::StudDoubleEndB2},
                    {L"ls", TextId::StudDoubleEndLs},
                    {L"ds", TextId::StudDoubleEndDs}});
}
void CStudDoubleEnd::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->StudDoubleEnd(Dbl(*this, L"d"), Dbl(*this, L"b1"), Dbl(*this, L"b2"),
                                Dbl(*this, L"ds"), Dbl(*this, L"ls")));
}
