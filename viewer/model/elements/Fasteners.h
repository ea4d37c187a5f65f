#pragma once
// Bolts, screws and the double-end stud, each built by one operation of the engine's fastener
// factory (threads are shown as plain cylinders of the nominal diameter). Bolts report type
// code 25, screws and the stud code 0.

#include "model/elements/ElementBase.h"

class MORLANE_API CBoltCarriage : public CObject3D {
  MORLANE_ELEMENT(CBoltCarriage, L"BoltCarriage", eTypeBolt, 720)
};
class MORLANE_API CBoltEye : public CObject3D {
  MORLANE_ELEMENT(CBoltEye, L"BoltEye", eTypeBolt, 730)
};
class MORLANE_API CBoltHex : public CObject3D {
  MORLANE_ELEMENT(CBoltHex, L"BoltHex", eTypeBolt, 740)
};
class MORLANE_API CBoltHexFlange : public CObject3D {
  MORLANE_ELEMENT(CBoltHexFlange, L"BoltHexFlange", eTypeBolt, 750)
};
class MORLANE_API CBoltHexSetDogCone : public CObject3D {
  MORLANE_ELEMENT(CBoltHexSetDogCone, L"BoltHexSetDogCone", eTypeBolt, 760)
};
class MORLANE_API CBoltHexSetDogPoint : public CObject3D {
  MORLANE_ELEMENT(CBoltHexSetDogPoint, L"BoltHexSetDogPoint", eTypeBolt, 770)
};
class MORLANE_API CBoltHexSocket : public CObject3D {
  MORLANE_ELEMENT(CBoltHexSocket, L"BoltHexSocket", eTypeBolt, 780)
};
class MORLANE_API CBoltHexSocketCountersunk : public CObject3D {
  MORLANE_ELEMENT(CBoltHexSocketCountersunk, L"BoltHexSocketCountersunk", eTypeBolt, 790)
};
class MORLANE_API CBoltU : public CObject3D {
  MORLANE_ELEMENT(CBoltU, L"BoltU", eTypeBolt, 800)
};
class MORLANE_API CBoltRing : public CObject3D {
  MORLANE_ELEMENT(CBoltRing, L"BoltRing", eTypeBolt, 810)
};
class MORLANE_API CBoltT_Head : public CObject3D {
  MORLANE_ELEMENT(CBoltT_Head, L"BoltT_Head", eTypeBolt, 820)
};
class MORLANE_API CBoltT_HeadSquareNeck : public CObject3D {
  MORLANE_ELEMENT(CBoltT_HeadSquareNeck, L"BoltT_HeadSquareNeck", eTypeBolt, 830)
};
class MORLANE_API CBoltSpigot : public CObject3D {
  MORLANE_ELEMENT(CBoltSpigot, L"BoltSpigot", eTypeBolt, 1000)
};
class MORLANE_API CScrewCheeseSlotted : public CObject3D {
  MORLANE_ELEMENT(CScrewCheeseSlotted, L"ScrewCheeseSlotted", eTypeObject3D, 840)
};
class MORLANE_API CScrewPanSlotted : public CObject3D {
  MORLANE_ELEMENT(CScrewPanSlotted, L"ScrewPanSlotted", eTypeObject3D, 850)
};
class MORLANE_API CScrewCountersunkSlotted : public CObject3D {
  MORLANE_ELEMENT(CScrewCountersunkSlotted, L"ScrewCountersunkSlotted", eTypeObject3D, 860)
};
class MORLANE_API CScrewCountersunkRaisedSlotted : public CObject3D {
  MORLANE_ELEMENT(CScrewCountersunkRaisedSlotted, L"ScrewCountersunkRaisedSlotted", eTypeObject3D,
                  870)
};
class MORLANE_API CScrewFillisterCrossRecessed : public CObject3D {
  MORLANE_ELEMENT(CScrewFillisterCrossRecessed, L"ScrewFillisterCrossRecessed", eTypeObject3D, 880)
};
class MORLANE_API CScrewCountersunkCrossRecessed : public CObject3D {
  MORLANE_ELEMENT(CScrewCountersunkCrossRecessed, L"ScrewCountersunkCrossRecessed", eTypeObject3D,
                  890)
};
class MORLANE_API CScrewCountersunkRaisedCrossRecessed : public CObject3D {
  MORLANE_ELEMENT(CScrewCountersunkRaisedCrossRecessed, L"ScrewCountersunkRaisedCrossRecessed",
                  eTypeObject3D, 900)
};
class MORLANE_API CScrewHexSocketButton : public CObject3D {
  MORLANE_ELEMENT(CScrewHexSocketButton, L"ScrewHexSocketButton", eTypeObject3D, 910)
};
class MORLANE_API CScrewCountersunkSquareNeck : public CObject3D {
  MORLANE_ELEMENT(CScrewCountersunkSquareNeck, L"ScrewCountersunkSquareNeck", eTypeObject3D, 920)
};
class MORLANE_API CScrewSquareCollar : public CObject3D {
  MORLANE_ELEMENT(CScrewSquareCollar, L"ScrewSquareCollar", eTypeObject3D, 930)
};
class MORLANE_API CScrewThumb : public CObject3D {
  MORLANE_ELEMENT(CScrewThumb, L"ScrewThumb", eTypeObject3D, 940)
};
class MORLANE_API CScrewSetSlottedDogPoint : public CObject3D {
  MORLANE_ELEMENT(CScrewSetSlottedDogPoint, L"ScrewSetSlottedDogPoint", eTypeObject3D, 950)
};
class MORLANE_API CScrewSetSlottedConePoint : public CObject3D {
  MORLANE_ELEMENT(CScrewSetSlottedConePoint, L"ScrewSetSlottedConePoint", eTypeObject3D, 960)
};
class MORLANE_API CScrewSetHexSocketDogPoint : public CObject3D {
  MORLANE_ELEMENT(CScrewSetHexSocketDogPoint, L"ScrewSetHexSocketDogPoint", eTypeObject3D, 970)
};
class MORLANE_API CScrewSetHexSocketConePoint : public CObject3D {
  MORLANE_ELEMENT(CScrewSetHexSocketConePoint, L"ScrewSetHexSocketConePoint", eTypeObject3D, 980)
};
class MORLANE_API CStudDoubleEnd : public CObject3D {
  MORLANE_ELEMENT(CStudDoubleEnd, L"StudDoubleEnd", eTypeObject3D, 990)
};
