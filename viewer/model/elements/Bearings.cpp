#include "model/elements/Bearings.h"

#include <iterator>

namespace {
const BearingKind kKinds[] = {
    {0, L"Sliding", TextId::BearingKindSliding + 0},
    {1, L"Roller", TextId::BearingKindSliding + 1},
    {2, L"SingleRowDeepGrooveBall", TextId::BearingKindSliding + 2},
    {3, L"DoubleRowDeepGrooveBall", TextId::BearingKindSliding + 3},
    {4, L"SingleRowAngularContactBall", TextId::BearingKindSliding + 4},
    {5, L"DoubleRowAngularContactBall", TextId::BearingKindSliding + 5},
    {6, L"SelfAligningBall", TextId::BearingKindSliding + 6},
    {7, L"FourPoint", TextId::BearingKindSliding + 7},
    {8, L"SingleDirectionThrustBall", TextId::BearingKindSliding + 8},
    {9, L"DoubleDirectionThrustBall", TextId::BearingKindSliding + 9},
    {10, L"SingleDirectionAngularContactThrustBall", TextId::BearingKindSliding + 10},
    {11, L"DoubleDirectionAngularContactThrustBall", TextId::BearingKindSliding + 11},
    {12, L"SingleRowCylindricalRoller", TextId::BearingKindSliding + 12},
    {13, L"DoubleRowCylindricalRoller", TextId::BearingKindSliding + 13},
    {14, L"TaperedRoller", TextId::BearingKindSliding + 14},
    {15, L"BarrelRoller", TextId::BearingKindSliding + 15},
    {16, L"SphericalRoller", TextId::BearingKindSliding + 16},
    {17, L"SingleDirectionCylindricalRollerThrust", TextId::BearingKindSliding + 17},
    {18, L"DoubleDirectionCylindricalRollerThrust", TextId::BearingKindSliding + 18},
    {19, L"SphericalRollerThrust", TextId::BearingKindSliding + 19},
    {20, L"NeedleRoller", TextId::BearingKindSliding + 20},
};
constexpr int kKindCount = static_cast<int>(std::size(kKinds));
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

CBearing::CBearing() { AddParams(*this, {{L"dout", 681}, {L"din", 682}, {L"B", 683}}); }

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
  if (m_nKind == 0)
    StoreShape(f->SlidingBearing(dout, din, b));
  else if (m_nKind == 1)
    StoreShape(f->RollerBearing(dout, din, b));
  else
    StoreShape(f->RollingBearing(dout, din, b, m_nKind - 2));
}
