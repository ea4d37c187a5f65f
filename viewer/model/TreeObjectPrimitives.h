#pragma once
// The primitive solids of the element catalogue. Each reads its sizes (converted to double, a
// value that does not convert raises CComError) and builds its solid by one call of the engine
// context; the engine refuses sizes that give no valid solid.

#include "model/TreeObject.h"

class MORLANE_API CBox : public CObject3D {
 public:
  CBox();
  static std::wstring GetTypeNameStatic() { return L"Box"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  int GetType() const override { return eTypeBox; }
  std::wstring GetCaption() const override;
  void BuildShape() override;
};

class MORLANE_API CSphere : public CObject3D {
 public:
  CSphere();
  static std::wstring GetTypeNameStatic() { return L"Sphere"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  int GetType() const override { return eTypeSphere; }
  std::wstring GetCaption() const override;
  void BuildShape() override;
};

class MORLANE_API CCylinder : public CObject3D {
 public:
  CCylinder();
  static std::wstring GetTypeNameStatic() { return L"Cylinder"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  int GetType() const override { return eTypeCylinder; }
  std::wstring GetCaption() const override;
  void BuildShape() override;
};

class MORLANE_API CCone : public CObject3D {
 public:
  CCone();
  static std::wstring GetTypeNameStatic() { return L"Cone"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  int GetType() const override { return eTypeCone; }
  std::wstring GetCaption() const override;
  void BuildShape() override;
};

class MORLANE_API CTorus : public CObject3D {
 public:
  CTorus();
  static std::wstring GetTypeNameStatic() { return L"Torus"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  int GetType() const override { return eTypeTorus; }
  std::wstring GetCaption() const override;
  void BuildShape() override;
};

class MORLANE_API CWedge : public CObject3D {
 public:
  CWedge();
  static std::wstring GetTypeNameStatic() { return L"Wedge"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  int GetType() const override { return eTypeWedge; }
  std::wstring GetCaption() const override;
  void BuildShape() override;
};

class MORLANE_API CHollowCylinder : public CObject3D {
 public:
  CHollowCylinder();
  static std::wstring GetTypeNameStatic() { return L"HollowCylinder"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  int GetType() const override { return eTypeHollowCylinder; }
  std::wstring GetCaption() const override;
  void BuildShape() override;
};

class MORLANE_API CHollowCone : public CObject3D {
 public:
  CHollowCone();
  static std::wstring GetTypeNameStatic() { return L"HollowCone"; }
  std::wstring GetTypeName() const override { return GetTypeNameStatic(); }
  int GetType() const override { return eTypeHollowCone; }
  std::wstring GetCaption() const override;
  void BuildShape() override;
};

// A new primitive for a type name of the model files ("Box", "Sphere", ...), compared without
// regard to case; null for other names.
MORLANE_API std::shared_ptr<CObject3D> CreatePrimitive(const std::wstring& typeName);
