#include "model/elements/Catalogue.h"

#include "model/TreeObjectPrimitives.h"
#include "model/elements/Bearings.h"
#include "model/elements/Beams.h"
#include "model/elements/Fasteners.h"
#include "model/elements/Gears.h"
#include "model/elements/Shafts.h"
#include "xml/XmlText.h"

#include <iterator>

namespace {

template <class T>
std::shared_ptr<CObject3D> Make() {
  return std::make_shared<T>();
}

const ElementType kTypes[] = {
    {L"Box", &Make<CBox>},
    {L"Sphere", &Make<CSphere>},
    {L"Cylinder", &Make<CCylinder>},
    {L"Cone", &Make<CCone>},
    {L"Torus", &Make<CTorus>},
    {L"Wedge", &Make<CWedge>},
    {L"HollowCylinder", &Make<CHollowCylinder>},
    {L"HollowCone", &Make<CHollowCone>},
    {L"RackGear", &Make<CRackGear>},
    {L"ConeGear", &Make<CConeGear>},
    {L"PlanetCarrier", &Make<CPlanetCarrier>},
    {L"BeamRect", &Make<CBeamRect>},
    {L"BeamCircle", &Make<CBeamCircular>},
    {L"BeamEllipse", &Make<CBeamElliptical>},
    {L"BeamI", &Make<CBeamI>},
    {L"BeamT", &Make<CBeamT>},
    {L"BeamZ", &Make<CBeamZ>},
    {L"BeamU", &Make<CBeamU>},
    {L"BeamL", &Make<CBeamL>},
    {L"ShaftSection", &Make<CShaftSection>},
    {L"BoltCarriage", &Make<CBoltCarriage>},
    {L"BoltEye", &Make<CBoltEye>},
    {L"BoltHex", &Make<CBoltHex>},
    {L"BoltHexFlange", &Make<CBoltHexFlange>},
    {L"BoltHexSetDogCone", &Make<CBoltHexSetDogCone>},
    {L"BoltHexSetDogPoint", &Make<CBoltHexSetDogPoint>},
    {L"BoltHexSocket", &Make<CBoltHexSocket>},
    {L"BoltHexSocketCountersunk", &Make<CBoltHexSocketCountersunk>},
    {L"BoltRing", &Make<CBoltRing>},
    {L"BoltT_Head", &Make<CBoltT_Head>},
    {L"BoltT_HeadSquareNeck", &Make<CBoltT_HeadSquareNeck>},
    {L"BoltU", &Make<CBoltU>},
    {L"BoltSpigot", &Make<CBoltSpigot>},
    {L"ScrewCheeseSlotted", &Make<CScrewCheeseSlotted>},
    {L"ScrewPanSlotted", &Make<CScrewPanSlotted>},
    {L"ScrewCountersunkSlotted", &Make<CScrewCountersunkSlotted>},
    {L"ScrewCountersunkRaisedSlotted", &Make<CScrewCountersunkRaisedSlotted>},
    {L"ScrewFillisterCrossRecessed", &Make<CScrewFillisterCrossRecessed>},
    {L"ScrewCountersunkCrossRecessed", &Make<CScrewCountersunkCrossRecessed>},
    {L"ScrewCountersunkRaisedCrossRecessed", &Make<CScrewCountersunkRaisedCrossRecessed>},
    {L"ScrewHexSocketButton", &Make<CScrewHexSocketButton>},
    {L"ScrewCountersunkSquareNeck", &Make<CScrewCountersunkSquareNeck>},
    {L"ScrewSquareCollar", &Make<CScrewSquareCollar>},
    {L"ScrewThumb", &Make<CScrewThumb>},
    {L"ScrewSetSlottedDogPoint", &Make<CScrewSetSlottedDogPoint>},
    {L"ScrewSetSlottedConePoint", &Make<CScrewSetSlottedConePoint>},
    {L"ScrewSetHexSocketDogPoint", &Make<CScrewSetHexSocketDogPoint>},
    {L"ScrewSetHexSocketConePoint", &Make<CScrewSetHexSocketConePoint>},
    {L"StudDoubleEnd", &Make<CStudDoubleEnd>},
    {L"GearExternal", &Make<CGearExt>},
    {L"GearInternal", &Make<CGearInt>},
    {L"GearExternalToothProfile", &Make<CGearExtToothProfile>},
    {L"GearInternalToothProfile", &Make<CGearIntToothProfile>},
    {L"GearDoubleInternal", &Make<CGearDoubleInt>},
    {L"GearDoubleExternal", &Make<CGearDoubleExt>},
    {L"GearDoubleInternalToothProfile", &Make<CGearDoubleIntToothProfile>},
    {L"GearDoubleExternalToothProfile", &Make<CGearDoubleExtToothProfile>},
    {L"Bearing", &Make<CBearing>},
};

constexpr int kTypeCount = static_cast<int>(std::size(kTypes));
constexpr int kBearingRow = kTypeCount - 1;

}  // namespace

const ElementType* ElementTypes(int& count) {
  count = kTypeCount;
  return kTypes;
}

std::shared_ptr<CObject3D> CreateElement(const std::wstring& typeName) {
  for (int i = 0; i < kBearingRow; ++i)
    if (MorlaneText::EqualsNoCase(typeName, kTypes[i].typeName)) return kTypes[i].make();
  if (typeName.rfind(L"Bearing", 0) == 0) {
    auto bearing = std::make_shared<CBearing>();
    const int kind = BearingKindOfType(typeName);
    if (kind >= 0) bearing->SetKind(kind);
    return bearing;
  }
  return nullptr;
}
