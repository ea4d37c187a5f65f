#pragma once
// Bearings: one class for the 21 kinds of the model files. The kind decides the caption
// ("Bearing: " and the kind's text) and the engine operation.

#include "model/elements/ElementBase.h"

#include <string>

// The bearing kinds in code order (0 sliding ... 20 needle roller) as the model files name them
// after "Bearing", with the text number of each kind's name (TextId::BearingKindSliding + code).
// The kinds with an engine operation of their own; from eBearingFirstRolling on, a kind is the
// rolling bearing of type code - eBearingFirstRolling.
enum eBearingKind : int {
  eBearingSliding = 0,
  eBearingRoller = 1,
  eBearingFirstRolling = 2,
};
struct BearingKind {
  int code;
  const wchar_t* name;
  int text;
};
MORLANE_API const BearingKind* BearingKinds(int& count);
// The kind a model file's type names ("BearingTaperedRoller" gives 14): every kind whose name
// occurs after the first character is a hit and the last hit wins, so the most specific name
// decides. -1 when no kind's name occurs.
MORLANE_API int BearingKindOfType(const std::wstring& typeName);

class MORLANE_API CBearing : public CObject3D {
 public:
  CBearing();
  static std::wstring GetTypeNameStatic() { return L"Bearing"; }
  std::wstring GetTypeName() const override;  // "Bearing" and the kind's name
  int GetType() const override { return eTypeBearing; }
  std::wstring GetCaption() const override;
  // 0 sliding, 1 roller, 2 to 20 the rolling bearing of type kind - 2; any other kind keeps the
  // solid it has.
  void BuildShape() override;

  int GetKind() const { return m_nKind; }
  void SetKind(int kind) { m_nKind = kind; }

 protected:
  int m_nKind = 0;
};
