#include "model/elements/Bearings.h"

#include <iterator>

namespace {
const BearingKind kKinds[] = {
    {0, L"Sliding", 690},
    {1, L"Roller", 691},
    {2, L"SingleRowDeepGrooveBall", 692},
    {3, L"DoubleRowDeepGrooveBall", 693},
    {4, L"SingleRowAngularContactBall", 694},
    {5, L"DoubleRowAngularContactBall", 695},
    {6, L"SelfAligningBall", 696},
    {7, L"FourPoint", 697},
    {8, L"SingleDirectionThrustBall", 698},
    {9, L"DoubleDirectionThrustBall", 699},
    {10, L"SingleDirectionAngularContactThrustBall", 700},
    {11, L"DoubleDirectionAngularContactThrustBall", 701},
    {12, L"SingleRowCylindricalRoller", 702},
    {13, L"DoubleRowCylindricalRoller", 703},
    {14, L"TaperedRoller", 704},
    {15, L"BarrelRoller", 705},
    {16, L"SphericalRoller", 706},
    {17, L"SingleDirectionCylindricalRollerThrust", 707},
    {18, L"DoubleDirectionCylindricalRollerThrust", 708},
    {19, L"SphericalRollerThrust", 709},
    {20, L"NeedleRoller", 710},
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
  return CProperty::TextOf(680) + L": " + kind;
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
