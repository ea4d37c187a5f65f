#pragma once
// Gears: involute gears (CGear and CGearDouble families), gears from a tooth profile of points
// (CGearToothProfile family, with CPointCircle points), the rack and the bevel gear. The plain
// bases carry the shared parameters, show caption 392 and build no solid.

#include "model/elements/ElementBase.h"

#include <memory>
#include <vector>

class MORLANE_API CGear : public CObject3D {
 public:
  CGear();
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::Object3D); }

 protected:
  // z, mn, b, alpha, beta, k, x, d as the engine's gear operations take them.
  struct Values {
    unsigned int z;
    double mn, b, alpha, beta, k, x, d;
  };
  Values Read() const;
};

class MORLANE_API CGearExt : public CGear {
 public:
  static std::wstring GetTypeNameStatic() { return L"GearExternal"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::GearExternal); }
  void BuildShape() override;
};

class MORLANE_API CGearInt : public CGear {
 public:
  static std::wstring GetTypeNameStatic() { return L"GearInternal"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::GearInternal); }
  void BuildShape() override;
};

class MORLANE_API CGearDouble : public CObject3D {
 public:
  CGearDouble();
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::Object3D); }

 protected:
  struct Values {
    unsigned int z;
    double mn, b, alpha, beta, k, x, d, bn, dn;
  };
  Values Read() const;
};

class MORLANE_API CGearDoubleExt : public CGearDouble {
 public:
  static std::wstring GetTypeNameStatic() { return L"GearDoubleExternal"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::GearDoubleExternal); }
  void BuildShape() override;
};

class MORLANE_API CGearDoubleInt : public CGearDouble {
 public:
  static std::wstring GetTypeNameStatic() { return L"GearDoubleInternal"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::GearDoubleInternal); }
  void BuildShape() override;
};

// One point of a tooth profile: radius r and polar angle in degrees. Its parameters record the
// profile as their owner, so that a change rebuilds the gear.
class MORLANE_API CPointCircle : public CGeometry {
 public:
  explicit CPointCircle(CGeometry* owner);
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::PointOfProfile); }
};

class MORLANE_API CGearToothProfile : public CObject3D {
 public:
  CGearToothProfile();
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::Object3D); }
  // The profile's own parameters, then one "Point of profile" group per point.
  std::shared_ptr<CProperty> GetProperties() override;

  // A new point owned by this profile, appended to the point list (the reader fills it).
  std::shared_ptr<CPointCircle> AddPoint();
  const std::vector<std::shared_ptr<CPointCircle>>& GetPoints() const { return m_arPoints; }

 protected:
  explicit CGearToothProfile(bool doubleHelical);
  // The gear-factory operations that build tooth profiles, by their numbers in the factory.
  enum ProfileOperation : int {
    eExternalProfile = 0,
    eInternalProfile = 2,
    eDoubleExternalProfile = 4,
    eDoubleInternalProfile = 6,
  };
  void BuildWith(ProfileOperation operation);

  std::vector<std::shared_ptr<CPointCircle>> m_arPoints;
};

class MORLANE_API CGearExtToothProfile : public CGearToothProfile {
 public:
  static std::wstring GetTypeNameStatic() { return L"GearExternalToothProfile"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::GearExternal); }
  void BuildShape() override { BuildWith(eExternalProfile); }
};

class MORLANE_API CGearIntToothProfile : public CGearToothProfile {
 public:
  static std::wstring GetTypeNameStatic() { return L"GearInternalToothProfile"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::GearInternal); }
  void BuildShape() override { BuildWith(eInternalProfile); }
};

class MORLANE_API CGearDoubleToothProfile : public CGearToothProfile {
 public:
  CGearDoubleToothProfile() : CGearToothProfile(true) {}
};

class MORLANE_API CGearDoubleExtToothProfile : public CGearDoubleToothProfile {
 public:
  static std::wstring GetTypeNameStatic() { return L"GearDoubleExternalToothProfile"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::GearDoubleExternal); }
  void BuildShape() override { BuildWith(eDoubleExternalProfile); }
};

class MORLANE_API CGearDoubleIntToothProfile : public CGearDoubleToothProfile {
 public:
  static std::wstring GetTypeNameStatic() { return L"GearDoubleInternalToothProfile"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  std::wstring GetCaption() const override { return CProperty::TextOf(TextId::GearDoubleInternal); }
  void BuildShape() override { BuildWith(eDoubleInternalProfile); }
};

class MORLANE_API CRackGear : public CObject3D {
  MORLANE_ELEMENT(CRackGear, L"RackGear", eTypeRackGear, TextId::RackGear)
};

// The bevel gear's caption is text 520, which the shipped string table words "Rack gear".
class MORLANE_API CConeGear : public CObject3D {
  MORLANE_ELEMENT(CConeGear, L"ConeGear", eTypeConeGear, TextId::ConeGear)
};
