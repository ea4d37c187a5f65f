#include "model/elements/Bearings.h"

#include <iterator>

namespace {
constexpr BearingKind kKinds[] = {
    {eBearingSliding, L"Sliding", TextId::BearingKindSliding},
    {eBearingRoller, L"Roller", TextId::BearingKindRoller},
    {eBearingFirstRolling, L"SingleRowDeepGrooveBall", TextId::BearingKindSingleRowDeepGrooveBall},
    {3, L"DoubleRowDeepGrooveBall", TextId::BearingKindDoubleRowDeepGrooveBall},
    {4, L"SingleRowAngularContactBall", TextId::BearingKindSingleRowAngularContactBall},
    {5, L"DoubleRowAngularContactBall", TextId::BearingKindDoubleRowAngularContactBall},
    {6, L"SelfAligningBall", TextId::BearingKindSelfAligningBall},
    {7, L"FourPoint", TextId::BearingKindFourPoint},
    {8, L"SingleDirectionThrustBall", TextId::BearingKindSingleDirectionThrustBall},
    {9, L"DoubleDirectionThrustBall", TextId::BearingKindDoubleDirectionThrustBall},
    {10, L"SingleDirectionAngularContactThrustBall",
     TextId::BearingKindSingleDirectionAngularContactThrustBall},
    {11, L"DoubleDirectionAngularContactThrustBall",
     TextId::BearingKindDoubleDirectionAngularContactThrustBall},
    {12, L"SingleRowCylindricalRoller", TextId::BearingKindSingleRowCylindricalRoller},
    {13, L"DoubleRowCylindricalRoller", TextId::BearingKindDoubleRowCylindricalRoller},
    {14, L"TaperedRoller", TextId::BearingKindTaperedRoller},
    {15, L"BarrelRoller", TextId::BearingKindBarrelRoller},
    {16, L"SphericalRoller", TextId::BearingKindSphericalRoller},
    {17, L"SingleDirectionCylindricalRollerThrust",
     TextId::BearingKindSingleDirectionCylindricalRollerThrust},
    {18, L"DoubleDirectionCylindricalRollerThrust",
     TextId::BearingKindDoubleDirectionCylindricalRollerThrust},
    {19, L"SphericalRollerThrust", TextId::BearingKindSphericalRollerThrust},
    {20, L"NeedleRoller", TextId::BearingKindNeedleRoller},
};
constexpr int kKindCount = static_cast<int>(std::size(kKinds));

// A kind's name is text BearingKindSliding plus its code, and the rows are in code order.
constexpr bool KindsInCodeOrder() {
  for (int i = 0; i < kKindCount; ++i)
    if (kKinds[i].code != i || kKinds[i].text != TextId::BearingKindSliding + i) return false;
  return true;
}
static_assert(KindsInCodeOrder());
}  // namespace

const BearingKind* BearingKinds(int& count) {
  count = kKindCount;
  return kKinds;
}

int BearingKindOfType(const std::wstring& typeName) {
  int kind = -1;
  if (typeName.size() < 2) return kind;
  for (const BearingKind& k : kKinds)
    if (typeName.find(k.name, 1) != std::wstring::npos) kind = k.code;
  return kind;
}

CBearing::CBearing() {
  AddParams(
      *this,
      {{L"dout", TextId::BearingDout}, {L"din", TextId::BearingDin}, {L"B", TextId::BearingB}});
}

std::wstring CBearing::GetTypeName() const {
  std::wstring name = L"Bearing";
  if (m_nKind >= 0 && m_nKind < kKindCount) name += kKinds[m_nKind].name;
  return name;
}

std::wstring CBearing::GetCaption() const {
  std::wstring kind;
  if (m_nKind >= 0 && m_nKind < kKindCount) kind = CProperty::TextOf(kKinds[m_nKind].text);
  return CProperty::TextOf(TextId::Bearing) + L": " + kind;
}

void CBearing::BuildShape() {
  if (!m_pContext) return;
  QZ::CAD::IBearingFactory* f = m_pContext->GetBearingFactory();
  if (!f || m_nKind < 0 || m_nKind >= kKindCount) return;
  const double dout = Dbl(*this, L"dout"), din = Dbl(*this, L"din"), b = Dbl(*this, L"B");
  if (m_nKind == eBearingSliding)
    StoreShape(f->SlidingBearing(dout, din, b));
  else if (m_nKind == eBearingRoller)
    StoreShape(f->RollerBearing(dout, din, b));
  else
    StoreShape(f->RollingBearing(dout, din, b, m_nKind - eBearingFirstRolling));
}
