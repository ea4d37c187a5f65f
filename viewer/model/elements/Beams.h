#pragma once
// Beams: profiles swept along their length l, built by the engine's beam factory.

#include "model/elements/ElementBase.h"

class MORLANE_API CBeamRect : public CObject3D {
  MORLANE_ELEMENT(CBeamRect, L"BeamRect", eTypeBeamRect, 530)
};
class MORLANE_API CBeamCircular : public CObject3D {
  MORLANE_ELEMENT(CBeamCircular, L"BeamCircle", eTypeBeamCircular, 540)
};
// Elliptical beams report the code of circular ones.
class MORLANE_API CBeamElliptical : public CObject3D {
  MORLANE_ELEMENT(CBeamElliptical, L"BeamEllipse", eTypeBeamCircular, 550)
};
class MORLANE_API CBeamL : public CObject3D {
  MORLANE_ELEMENT(CBeamL, L"BeamL", eTypeBeamL, 560)
};
class MORLANE_API CBeamZ : public CObject3D {
  MORLANE_ELEMENT(CBeamZ, L"BeamZ", eTypeBeamZ, 570)
};
class MORLANE_API CBeamT : public CObject3D {
  MORLANE_ELEMENT(CBeamT, L"BeamT", eTypeBeamT, 580)
};
class MORLANE_API CBeamI : public CObject3D {
  MORLANE_ELEMENT(CBeamI, L"BeamI", eTypeBeamI, 590)
};
// U beams report the code of T beams.
class MORLANE_API CBeamU : public CObject3D {
  MORLANE_ELEMENT(CBeamU, L"BeamU", eTypeBeamT, 600)
};
