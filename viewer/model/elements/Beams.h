#pragma once
// Beams: profiles swept along their length l, built by the engine's beam factory.

#include "model/elements/ElementBase.h"

class MORLANE_API CBeamRect : public CObject3D {
  MORLANE_ELEMENT(CBeamRect, L"BeamRect", eTypeBeamRect, TextId::BeamRect)
};
class MORLANE_API CBeamCircular : public CObject3D {
  MORLANE_ELEMENT(CBeamCircular, L"BeamCircle", eTypeBeamCircular, TextId::BeamCircular)
};
// Elliptical beams report the code of circular ones.
class MORLANE_API CBeamElliptical : public CObject3D {
  MORLANE_ELEMENT(CBeamElliptical, L"BeamEllipse", eTypeBeamCircular, TextId::BeamElliptical)
};
class MORLANE_API CBeamL : public CObject3D {
  MORLANE_ELEMENT(CBeamL, L"BeamL", eTypeBeamL, TextId::BeamL)
};
class MORLANE_API CBeamZ : public CObject3D {
  MORLANE_ELEMENT(CBeamZ, L"BeamZ", eTypeBeamZ, TextId::BeamZ)
};
class MORLANE_API CBeamT : public CObject3D {
  MORLANE_ELEMENT(CBeamT, L"BeamT", eTypeBeamT, TextId::BeamT)
};
class MORLANE_API CBeamI : public CObject3D {
  MORLANE_ELEMENT(CBeamI, L"BeamI", eTypeBeamI, TextId::BeamI)
};
// U beams report the code of T beams.
class MORLANE_API CBeamU : public CObject3D {
  MORLANE_ELEMENT(CBeamU, L"BeamU", eTypeBeamT, TextId::BeamU)
};
