#pragma once
// Shafts: the shaft group (CShaft) with its engine shaft builder, its sections (CShaftSection)
// with their grooves, notches, holes and slots (CGrooveObject3D family), and the planet
// carrier.

#include "model/elements/ElementBase.h"

#include <memory>
#include <string>
#include <vector>

// A group of shaft sections. The sections of one shaft are added one after another to one
// engine shaft builder, obtained on demand; Update drops it first so that a rebuild of the
// shaft starts from a fresh builder.
class MORLANE_API CShaft : public CNode {
 public:
  CShaft();
  ~CShaft() override;
  int GetType() const override { return eTypeShaft; }
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::Shaft); }
  bool Update() override;
  // The builder held, or a new one from the context's shaft factory (null without context).
  QZ::ObjPtr<QZ::CAD::IShaftBuilder> GetShaftBuilder();

 protected:
  QZ::ObjPtr<QZ::CAD::IShaftBuilder> m_pShaftBuilder;
};

class CShaftSection;

// Groove codes (GetGrooveType) in the order of the section solid's operations.
enum eGrooveType : int {
  eGrooveRectangular = 0,
  eNotchChevron = 1,
  eGrooveCircular = 2,
  eCrossHole = 3,
  eGrooveParallelKey = 4,
  eSlots = 5,
};

// What a section cuts into its solid. Its parameters record the section as their owner.
class MORLANE_API CGrooveObject3D : public CGeometry {
 public:
  explicit CGrooveObject3D(CShaftSection* section);
  virtual int GetGrooveType() const = 0;
  CShaftSection* GetSection() const { return m_pSection; }

 protected:
  CShaftSection* m_pSection;
};

#define MORLANE_GROOVE(Class, TypeName, Code, CaptionId)       \
 public:                                                       \
  explicit Class(CShaftSection* section);                      \
  static std::wstring GetTypeNameStatic() { return TypeName; } \
  int GetGrooveType() const override { return Code; }          \
  std::wstring GetCaption() const override { return CProperty::TextOf(CaptionId); }

class MORLANE_API CGrooveRectangular : public CGrooveObject3D {
  MORLANE_GROOVE(CGrooveRectangular, L"GrooveRectangular", eGrooveRectangular,
                 TextId::GrooveRectangular)
};
class MORLANE_API CNotchChevron : public CGrooveObject3D {
  MORLANE_GROOVE(CNotchChevron, L"NotchChevron", eNotchChevron, TextId::NotchChevron)
};
class MORLANE_API CGrooveCircular : public CGrooveObject3D {
  MORLANE_GROOVE(CGrooveCircular, L"GrooveCircular", eGrooveCircular, TextId::GrooveCircular)
};
class MORLANE_API CCrossHole : public CGrooveObject3D {
  MORLANE_GROOVE(CCrossHole, L"CrossHole", eCrossHole, TextId::CrossHole)
};
class MORLANE_API CGrooveParallelKey : public CGrooveObject3D {
  MORLANE_GROOVE(CGrooveParallelKey, L"GrooveParallelKey", eGrooveParallelKey,
                 TextId::GrooveParallelKey)
};
class MORLANE_API CSlots : public CGrooveObject3D {
  MORLANE_GROOVE(CSlots, L"Slots", eSlots, TextId::Slots)
};

// One section of a shaft: a cone or cylinder from pos to pos + l with outer and inner diameters
// at both ends, chamfered (negative lch) or rounded (positive lch) at its ends, and its grooves.
class MORLANE_API CShaftSection : public CObject3D {
  MORLANE_ELEMENT(CShaftSection, L"ShaftSection", eTypeShaftSection, TextId::ShaftSection)

 public:
  // The section's own parameters, then one group per groove (captioned with the groove's
  // caption) in the section's caption group.
  std::shared_ptr<CProperty> GetProperties() override;

  std::shared_ptr<CGrooveRectangular> AddGrooveRectangular();
  std::shared_ptr<CNotchChevron> AddNotchChevron();
  std::shared_ptr<CGrooveCircular> AddGrooveCircular();
  std::shared_ptr<CCrossHole> AddCrossHole();
  std::shared_ptr<CGrooveParallelKey> AddGrooveParallelKey();
  std::shared_ptr<CSlots> AddSlots();
  // The groove of a model file's groove type (compared without regard to case), appended; null
  // for another type.
  std::shared_ptr<CGrooveObject3D> AddGroove(const std::wstring& typeName);

  const std::vector<std::shared_ptr<CGrooveObject3D>>& GetGrooves() const { return m_arGrooves; }

 protected:
  std::vector<std::shared_ptr<CGrooveObject3D>> m_arGrooves;
};

class MORLANE_API CPlanetCarrier : public CObject3D {
  MORLANE_ELEMENT(CPlanetCarrier, L"PlanetCarrier", eTypePlanetCarrier, TextId::PlanetCarrier)
};
