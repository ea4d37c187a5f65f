#pragma once
// Bolts, screws and the double-end stud, each built by one operation of the engine's fastener
// factory (threads are shown as plain cylinders of the nominal diameter). Bolts report type
// code 25, screws and the stud code 0.

#include "model/elements/ElementBase.h"

class MORLANE_API CBoltCarriage : public CObject3D {
  MORLANE_ELEMENT(CBoltCarriage, L"BoltCarriage", eTypeBolt, TextId::BoltCarriage)
};
class MORLANE_API CBoltEye : public CObject3D {
  MORLANE_ELEMENT(CBoltEye, L"BoltEye", eTypeBolt, TextId::BoltEye)
};
class MORLANE_API CBoltHex : public CObject3D {
  MORLANE_ELEMENT(CBoltHex, L"BoltHex", eTypeBolt, TextId::BoltHex)
};
class MORLANE_API CBoltHexFlange : public CObject3D {
  MORLANE_ELEMENT(CBoltHexFlange, L"BoltHexFlange", eTypeBolt, TextId::BoltHexFlange)
};
class MORLANE_API CBoltHexSetDogCone : public CObject3D {
  MORLANE_ELEMENT(CBoltHexSetDogCone, L"BoltHexSetDogCone", eTypeBolt, TextId::BoltHexSetDogCone)
};
class MORLANE_API CBoltHexSetDogPoint : public CObject3D {
  MORLANE_ELEMENT(CBoltHexSetDogPoint, L"BoltHexSetDogPoint", eTypeBolt, TextId::BoltHexSetDogPoint)
};
class MORLANE_API CBoltHexSocket : public CObject3D {
  MORLANE_ELEMENT(CBoltHexSocket, L"BoltHexSocket", eTypeBolt, TextId::BoltHexSocket)
};
class MORLANE_API CBoltHexSocketCountersunk : public CObject3D {
  MORLANE_ELEMENT(CBoltHexSocketCountersunk, L"BoltHexSocketCountersunk", eTypeBolt,
                  TextId::BoltHexSocketCountersunk)
};
class MORLANE_API CBoltU : public CObject3D {
  MORLANE_ELEMENT(CBoltU, L"BoltU", eTypeBolt, TextId::BoltU)
};
class MORLANE_API CBoltRing : public CObject3D {
  MORLANE_ELEMENT(CBoltRing, L"BoltRing", eTypeBolt, TextId::BoltRing)
};
class MORLANE_API CBoltT_Head : public CObject3D {
  MORLANE_ELEMENT(CBoltT_Head, L"BoltT_Head", eTypeBolt, TextId::BoltT_Head)
};
class MORLANE_API CBoltT_HeadSquareNeck : public CObject3D {
  MORLANE_ELEMENT(CBoltT_HeadSquareNeck, L"BoltT_HeadSquareNeck", eTypeBolt,
                  TextId::BoltT_HeadSquareNeck)
};
class MORLANE_API CBoltSpigot : public CObject3D {
  MORLANE_ELEMENT(CBoltSpigot, L"BoltSpigot", eTypeBolt, TextId::BoltSpigot)
};
class MORLANE_API CScrewCheeseSlotted : public CObject3D {
  MORLANE_ELEMENT(CScrewCheeseSlotted, L"ScrewCheeseSlotted", eTypeObject3D,
                  TextId::ScrewCheeseSlotted)
};
class MORLANE_API CScrewPanSlotted : public CObject3D {
  MORLANE_ELEMENT(CScrewPanSlotted, L"ScrewPanSlotted", eTypeObject3D, TextId::ScrewPanSlotted)
};
class MORLANE_API CScrewCountersunkSlotted : public CObject3D {
  MORLANE_ELEMENT(CScrewCountersunkSlotted, L"ScrewCountersunkSlotted", eTypeObject3D,
                  TextId::ScrewCountersunkSlotted)
};
class MORLANE_API CScrewCountersunkRaisedSlotted : public CObject3D {
  MORLANE_ELEMENT(CScrewCountersunkRaisedSlotted, L"ScrewCountersunkRaisedSlotted", eTypeObject3D,
                  TextId::ScrewCountersunkRaisedSlotted)
};
class MORLANE_API CScrewFillisterCrossRecessed : public CObject3D {
  MORLANE_ELEMENT(CScrewFillisterCrossRecessed, L"ScrewFillisterCrossRecessed", eTypeObject3D,
                  TextId::ScrewFillisterCrossRecessed)
};
class MORLANE_API CScrewCountersunkCrossRecessed : public CObject3D {
  MORLANE_ELEMENT(CScrewCountersunkCrossRecessed, L"ScrewCountersunkCrossRecessed", eTypeObject3D,
                  TextId::ScrewCountersunkCrossRecessed)
};
class MORLANE_API CScrewCountersunkRaisedCrossRecessed : public CObject3D {
  MORLANE_ELEMENT(CScrewCountersunkRaisedCrossRecessed, L"ScrewCountersunkRaisedCrossRecessed",
                  eTypeObject3D, TextId::ScrewCountersunkRaisedCrossRecessed)
};
class MORLANE_API CScrewHexSocketButton : public CObject3D {
  MORLANE_ELEMENT(CScrewHexSocketButton, L"ScrewHexSocketButton", eTypeObject3D,
                  TextId::ScrewHexSocketButton)
};
class MORLANE_API CScrewCountersunkSquareNeck : public CObject3D {
  MORLANE_ELEMENT(CScrewCountersunkSquareNeck, L"ScrewCountersunkSquareNeck", eTypeObject3D,
                  TextId::ScrewCountersunkSquareNeck)
};
class MORLANE_API CScrewSquareCollar : public CObject3D {
  MORLANE_ELEMENT(CScrewSquareCollar, L"ScrewSquareCollar", eTypeObject3D,
                  TextId::ScrewSquareCollar)
};
class MORLANE_API CScrewThumb : public CObject3D {
  MORLANE_ELEMENT(CScrewThumb, L"ScrewThumb", eTypeObject3D, TextId::ScrewThumb)
};
class MORLANE_API CScrewSetSlottedDogPoint : public CObject3D {
  MORLANE_ELEMENT(CScrewSetSlottedDogPoint, L"ScrewSetSlottedDogPoint", eTypeObject3D,
                  TextId::ScrewSetSlottedDogPoint)
};
class MORLANE_API CScrewSetSlottedConePoint : public CObject3D {
  MORLANE_ELEMENT(CScrewSetSlottedConePoint, L"ScrewSetSlottedConePoint", eTypeObject3D,
                  TextId::ScrewSetSlottedConePoint)
};
class MORLANE_API CScrewSetHexSocketDogPoint : public CObject3D {
  MORLANE_ELEMENT(CScrewSetHexSocketDogPoint, L"ScrewSetHexSocketDogPoint", eTypeObject3D,
                  TextId::ScrewSetHexSocketDogPoint)
};
class MORLANE_API CScrewSetHexSocketConePoint : public CObject3D {
  MORLANE_ELEMENT(CScrewSetHexSocketConePoint, L"ScrewSetHexSocketConePoint", eTypeObject3D,
                  TextId::ScrewSetHexSocketConePoint)
};
class MORLANE_API CStudDoubleEnd : public CObject3D {
  MORLANE_ELEMENT(CStudDoubleEnd, L"StudDoubleEnd", eTypeObject3D, TextId::StudDoubleEnd)
};
