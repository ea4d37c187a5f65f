#include "model/elements/Fasteners.h"

namespace {
QZ::CAD::IFastenerFactory* Factory(const QZ::ObjPtr<ICADContext>& c) {
  return c ? c->GetFastenerFactory() : nullptr;
}
}  // namespace

CBoltCarriage::CBoltCarriage() {
  AddParams(*this, {{L"d", 721},
                    {L"b", 722},
                    {L"ds", 723},
                    {L"ls", 724},
                    {L"d1", 725},
                    {L"k", 726},
                    {L"v", 727},
                    {L"f", 728}});
}
void CBoltCarriage::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltCarriage(Dbl(*this, L"d"), Dbl(*this, L"ds"), Dbl(*this, L"ls"),
                               Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"v"),
                               Dbl(*this, L"f"), Dbl(*this, L"k")));
}

CBoltEye::CBoltEye() {
  AddParams(*this,
            {{L"d", 731}, {L"b", 732}, {L"ls", 733}, {L"d1", 734}, {L"d2", 735}, {L"s", 736}});
}
void CBoltEye::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltEye(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ls"), Dbl(*this, L"d1"),
                          Dbl(*this, L"d2"), Dbl(*this, L"s")));
}

CBoltHex::CBoltHex() {
  AddParams(*this, {{L"d", 741},
                    {L"b", 742},
                    {L"ds", 743},
                    {L"ls", 744},
                    {L"s", 745},
                    {L"k", 746},
                    {L"dw", 747},
                    {L"c", 748}});
}
void CBoltHex::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHex(Dbl(*this, L"s"), Dbl(*this, L"k"), Dbl(*this, L"c"), Dbl(*this, L"dw"),
                          Dbl(*this, L"ls"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                          Dbl(*this, L"d")));
}

CBoltHexFlange::CBoltHexFlange() {
  AddParams(*this, {{L"d", 751},
                    {L"b", 752},
                    {L"ds", 753},
                    {L"ls", 754},
                    {L"d1", 755},
                    {L"s", 756},
                    {L"k", 757}});
}
void CBoltHexFlange::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHexFlange(Dbl(*this, L"d"), Dbl(*this, L"ds"), Dbl(*this, L"ls"),
                                Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"k"),
                                Dbl(*this, L"s")));
}

CBoltHexSetDogCone::CBoltHexSetDogCone() {
  AddParams(*this, {{L"d", 761},
                    {L"b", 762},
                    {L"ds", 763},
                    {L"ls", 764},
                    {L"s", 765},
                    {L"k", 766},
                    {L"dp", 767},
                    {L"zp", 768}});
}
void CBoltHexSetDogCone::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHexSetDogCone(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                                    Dbl(*this, L"ls"), Dbl(*this, L"k"), Dbl(*this, L"s"),
                                    Dbl(*this, L"dp"), Dbl(*this, L"zp")));
}

CBoltHexSetDogPoint::CBoltHexSetDogPoint() {
  AddParams(*this, {{L"d", 771},
                    {L"b", 772},
                    {L"ds", 773},
                    {L"ls", 774},
                    {L"s", 775},
                    {L"k", 776},
                    {L"dp", 777},
                    {L"zp", 778}});
}
void CBoltHexSetDogPoint::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHexSetDogPoint(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                                     Dbl(*this, L"ls"), Dbl(*this, L"k"), Dbl(*this, L"s"),
                                     Dbl(*this, L"dp"), Dbl(*this, L"zp")));
}

CBoltHexSocket::CBoltHexSocket() {
  AddParams(*this, {{L"d", 781},
                    {L"b", 782},
                    {L"ds", 783},
                    {L"ls", 784},
                    {L"d1", 785},
                    {L"k", 786},
                    {L"s", 787},
                    {L"t", 788}});
}
void CBoltHexSocket::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHexSocket(Dbl(*this, L"d"), Dbl(*this, L"ds"), Dbl(*this, L"ls"),
                                Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"k"),
                                Dbl(*this, L"s"), Dbl(*this, L"t")));
}

CBoltHexSocketCountersunk::CBoltHexSocketCountersunk() {
  AddParams(*this, {{L"d", 791},
                    {L"b", 792},
                    {L"ds", 793},
                    {L"ls", 794},
                    {L"d1", 795},
                    {L"s", 796},
                    {L"t", 797}});
}
void CBoltHexSocketCountersunk::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltHexSocketCountersunk(Dbl(*this, L"d"), Dbl(*this, L"ds"), Dbl(*this, L"ls"),
                                           Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"s"),
                                           Dbl(*this, L"t")));
}

CBoltU::CBoltU() { AddParams(*this, {{L"d", 801}, {L"b", 802}, {L"ls", 803}, {L"d1", 804}}); }
void CBoltU::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltU(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ls"), Dbl(*this, L"d1")));
}

CBoltRing::CBoltRing() {
  AddParams(*this,
            {{L"d", 811}, {L"b", 812}, {L"d1", 813}, {L"d2", 814}, {L"d3", 815}, {L"k", 816}});
}
void CBoltRing::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltRing(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"d2"),
                           Dbl(*this, L"d3"), Dbl(*this, L"k")));
}

CBoltT_Head::CBoltT_Head() {
  AddParams(*this, {{L"d", 821}, {L"b", 822}, {L"ls", 823}, {L"s1", 824}, {L"k", 825}});
}
void CBoltT_Head::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltT_Head(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ls"),
                             Dbl(*this, L"s1"), Dbl(*this, L"k")));
}

CBoltT_HeadSquareNeck::CBoltT_HeadSquareNeck() {
  AddParams(*this, {{L"d", 831}, {L"b", 832}, {L"ls", 833}, {L"s1", 834}, {L"k", 835}});
}
void CBoltT_HeadSquareNeck::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltT_HeadSquareNeck(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ls"),
                                       Dbl(*this, L"s1"), Dbl(*this, L"k")));
}

CBoltSpigot::CBoltSpigot() {
  AddParams(*this, {{L"d", 1001},
                    {L"b", 1002},
                    {L"ds", 1003},
                    {L"ls", 1004},
                    {L"d1", 1005},
                    {L"s", 1006},
                    {L"k", 1007}});
}
void CBoltSpigot::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->BoltSpigot(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                             Dbl(*this, L"ls"), Dbl(*this, L"d1"), Dbl(*this, L"s"),
                             Dbl(*this, L"k")));
}

CScrewCheeseSlotted::CScrewCheeseSlotted() {
  AddParams(*this, {{L"d", 841}, {L"b", 842}, {L"d1", 843}, {L"k", 844}, {L"n", 845}, {L"t", 846}});
}
void CScrewCheeseSlotted::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCheeseSlotted(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                     Dbl(*this, L"k"), Dbl(*this, L"n"), Dbl(*this, L"t")));
}

CScrewPanSlotted::CScrewPanSlotted() {
  AddParams(*this, {{L"d", 851}, {L"b", 852}, {L"d1", 853}, {L"k", 854}, {L"n", 855}, {L"t", 856}});
}
void CScrewPanSlotted::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewPanSlotted(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                  Dbl(*this, L"k"), Dbl(*this, L"n"), Dbl(*this, L"t")));
}

CScrewCountersunkSlotted::CScrewCountersunkSlotted() {
  AddParams(*this, {{L"d", 851}, {L"b", 852}, {L"d1", 853}, {L"n", 855}, {L"t", 856}});
}
void CScrewCountersunkSlotted::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCountersunkSlotted(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                          Dbl(*this, L"n"), Dbl(*this, L"t")));
}

CScrewCountersunkRaisedSlotted::CScrewCountersunkRaisedSlotted() {
  AddParams(*this, {{L"d", 871}, {L"b", 872}, {L"d1", 873}, {L"k", 874}, {L"n", 875}, {L"t", 876}});
}
void CScrewCountersunkRaisedSlotted::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCountersunkRaisedSlotted(Dbl(*this, L"d"), Dbl(*this, L"b"),
                                                Dbl(*this, L"d1"), Dbl(*this, L"k"),
                                                Dbl(*this, L"n"), Dbl(*this, L"t")));
}

CScrewFillisterCrossRecessed::CScrewFillisterCrossRecessed() {
  AddParams(*this, {{L"d", 881}, {L"b", 882}, {L"d1", 883}, {L"k", 884}, {L"a", 885}, {L"n", 886}});
}
void CScrewFillisterCrossRecessed::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewFillisterCrossRecessed(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                              Dbl(*this, L"a"), Dbl(*this, L"n"),
                                              Dbl(*this, L"k")));
}

CScrewCountersunkCrossRecessed::CScrewCountersunkCrossRecessed() {
  AddParams(*this, {{L"d", 891}, {L"b", 892}, {L"d1", 893}, {L"a", 894}, {L"n", 895}});
}
void CScrewCountersunkCrossRecessed::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCountersunkCrossRecessed(
        Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"), Dbl(*this, L"a"), Dbl(*this, L"n")));
}

CScrewCountersunkRaisedCrossRecessed::CScrewCountersunkRaisedCrossRecessed() {
  AddParams(*this, {{L"d", 901}, {L"b", 902}, {L"d1", 903}, {L"k", 904}, {L"a", 905}, {L"n", 906}});
}
void CScrewCountersunkRaisedCrossRecessed::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCountersunkRaisedCrossRecessed(Dbl(*this, L"d"), Dbl(*this, L"b"),
                                                      Dbl(*this, L"d1"), Dbl(*this, L"a"),
                                                      Dbl(*this, L"n"), Dbl(*this, L"k")));
}

CScrewHexSocketButton::CScrewHexSocketButton() {
  AddParams(*this, {{L"d", 911}, {L"b", 912}, {L"d1", 913}, {L"s", 914}, {L"t", 915}});
}
void CScrewHexSocketButton::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewHexSocketButton(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                       Dbl(*this, L"s"), Dbl(*this, L"t")));
}

CScrewCountersunkSquareNeck::CScrewCountersunkSquareNeck() {
  AddParams(*this, {{L"d", 921}, {L"b", 922}, {L"d1", 923}, {L"v", 924}, {L"f", 925}});
}
void CScrewCountersunkSquareNeck::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewCountersunkSquareNeck(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"d1"),
                                             Dbl(*this, L"v"), Dbl(*this, L"f")));
}

CScrewSquareCollar::CScrewSquareCollar() {
  AddParams(*this, {{L"d", 931},
                    {L"b", 932},
                    {L"ds", 933},
                    {L"ls", 934},
                    {L"s", 935},
                    {L"k", 936},
                    {L"d1", 937},
                    {L"c", 938}});
}
void CScrewSquareCollar::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewSquareCollar(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                                    Dbl(*this, L"ls"), Dbl(*this, L"s"), Dbl(*this, L"k"),
                                    Dbl(*this, L"d1"), Dbl(*this, L"c")));
}

CScrewThumb::CScrewThumb() {
  AddParams(*this,
            {{L"d", 941}, {L"b", 942}, {L"ds", 943}, {L"ls", 944}, {L"d1", 945}, {L"k", 946}});
}
void CScrewThumb::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewThumb(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"ds"),
                             Dbl(*this, L"ls"), Dbl(*this, L"d1"), Dbl(*this, L"k")));
}

CScrewSetSlottedDogPoint::CScrewSetSlottedDogPoint() {
  AddParams(*this,
            {{L"d", 951}, {L"b", 952}, {L"dp", 953}, {L"zp", 954}, {L"n", 955}, {L"t", 956}});
}
void CScrewSetSlottedDogPoint::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewSetSlottedDogPoint(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"dp"),
                                          Dbl(*this, L"zp"), Dbl(*this, L"n"), Dbl(*this, L"t")));
}

CScrewSetSlottedConePoint::CScrewSetSlottedConePoint() {
  AddParams(*this, {{L"d", 961}, {L"b", 962}, {L"n", 963}, {L"t", 964}});
}
void CScrewSetSlottedConePoint::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewSetSlottedConePoint(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"n"),
                                           Dbl(*this, L"t")));
}

CScrewSetHexSocketDogPoint::CScrewSetHexSocketDogPoint() {
  AddParams(*this,
            {{L"d", 971}, {L"b", 972}, {L"dp", 973}, {L"zp", 974}, {L"s", 975}, {L"t", 976}});
}
void CScrewSetHexSocketDogPoint::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewSetHexSocketDogPoint(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"dp"),
                                            Dbl(*this, L"zp"), Dbl(*this, L"s"), Dbl(*this, L"t")));
}

CScrewSetHexSocketConePoint::CScrewSetHexSocketConePoint() {
  AddParams(*this, {{L"d", 981}, {L"b", 982}, {L"s", 983}, {L"t", 984}});
}
void CScrewSetHexSocketConePoint::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ScrewSetHexSocketConePoint(Dbl(*this, L"d"), Dbl(*this, L"b"), Dbl(*this, L"s"),
                                             Dbl(*this, L"t")));
}

CStudDoubleEnd::CStudDoubleEnd() {
  AddParams(*this, {{L"d", 991}, {L"b1", 992}, {L"b2", 993}, {L"ls", 995}, {L"ds", 994}});
}
void CStudDoubleEnd::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->StudDoubleEnd(Dbl(*this, L"d"), Dbl(*this, L"b1"), Dbl(*this, L"b2"),
                                Dbl(*this, L"ds"), Dbl(*this, L"ls")));
}
