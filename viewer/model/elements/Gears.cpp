#include "model/elements/Gears.h"

#include <cmath>

namespace {
constexpr double kPi = 3.14159265358979323846;

QZ::CAD::IGearFactory* Factory(const QZ::ObjPtr<ICADContext>& c) {
  return c ? c->GetGearFactory() : nullptr;
}

// Releases the point list however the build ends.
struct PointListHolder {
  QZ::CAD::IPointList* list;
  ~PointListHolder() {
    if (list) list->Release();
  }
};
}  // namespace

CGear::CGear() {
  AddParams(*this, {{L"z", TextId::GearZ, 0, ParamKind::Integer},
                    {L"mn", TextId::GearMn},
                    {L"b", TextId::GearB},
                    {L"alpha", TextId::GearAlpha},
                    {L"beta", TextId::GearBeta},
                    {L"k", TextId::GearK},
                    {L"x", TextId::GearX},
                    {L"d", TextId::GearD}});
}

CGear::Values CGear::Read() const {
  return {UInt(*this, L"z"),   Dbl(*this, L"mn"), Dbl(*this, L"b"), Dbl(*this, L"alpha"),
          Dbl(*this, L"beta"), Dbl(*this, L"k"),  Dbl(*this, L"x"), Dbl(*this, L"d")};
}

void CGearExt::BuildShape() {
  auto* f = Factory(m_pContext);
  if (!f) return;
  const Values v = Read();
  StoreShape(f->ExternalGear(v.z, v.mn, v.b, v.alpha, v.beta, v.k, v.x, v.d));
}

void CGearInt::BuildShape() {
  auto* f = Factory(m_pContext);
  if (!f) return;
  const Values v = Read();
  StoreShape(f->InternalGear(v.z, v.mn, v.b, v.alpha, v.beta, v.k, v.x, v.d));
}

CGearDouble::CGearDouble() {
  AddParams(*this, {{L"z", TextId::GearZ, 0, ParamKind::Integer},
                    {L"mn", TextId::GearMn},
                    {L"b", TextId::GearB},
                    {L"bn", TextId::GearBn},
                    {L"alpha", TextId::GearAlpha},
                    {L"beta", TextId::GearBeta},
                    {L"k", TextId::GearK},
                    {L"x", TextId::GearX},
                    {L"d", TextId::GearD},
                    {L"dn", TextId::GearDn}});
}

CGearDouble::Values CGearDouble::Read() const {
  return {UInt(*this, L"z"),   Dbl(*this, L"mn"), Dbl(*this, L"b"), Dbl(*this, L"alpha"),
          Dbl(*this, L"beta"), Dbl(*this, L"k"),  Dbl(*this, L"x"), Dbl(*this, L"d"),
          Dbl(*this, L"bn"),   Dbl(*this, L"dn")};
}

void CGearDoubleExt::BuildShape() {
  auto* f = Factory(m_pContext);
  if (!f) return;
  const Values v = Read();
  StoreShape(f->DoubleExternalGear(v.z, v.mn, v.b, v.alpha, v.beta, v.k, v.x, v.d, v.bn, v.dn));
}

void CGearDoubleInt::BuildShape() {
  auto* f = Factory(m_pContext);
  if (!f) return;
  const Values v = Read();
  StoreShape(f->DoubleInternalGear(v.z, v.mn, v.b, v.alpha, v.beta, v.k, v.x, v.d, v.bn, v.dn));
}

CPointCircle::CPointCircle(CGeometry* owner) {
  if (owner) m_pOwner = owner;
  AddParams(*this, {{L"r", TextId::PointOfProfileR}, {L"angle", TextId::PointOfProfileAngle}});
}

CGearToothProfile::CGearToothProfile() : CGearToothProfile(false) {}

CGearToothProfile::CGearToothProfile(bool doubleHelical) {
  if (doubleHelical)
    AddParams(*this, {{L"z", TextId::GearZ, 0, ParamKind::Integer},
                      {L"b", TextId::GearB},
                      {L"bn", TextId::GearBn},
                      {L"beta", TextId::GearBeta},
                      {L"d", TextId::GearD},
                      {L"dn", TextId::GearDn},
                      {L"spline", TextId::GearSpline, 0, ParamKind::Boolean}});
  else
    AddParams(*this, {{L"z", TextId::GearZ, 0, ParamKind::Integer},
                      {L"b", TextId::GearB},
                      {L"beta", TextId::GearBeta},
                      {L"d", TextId::GearD},
                      {L"spline", TextId::GearSpline, 0, ParamKind::Boolean}});
}

std::shared_ptr<CPointCircle> CGearToothProfile::AddPoint() {
  auto p = std::make_shared<CPointCircle>(this);
  m_arPoints.push_back(p);
  return p;
}

std::shared_ptr<CProperty> CGearToothProfile::GetProperties() {
  auto top = CObject3D::GetProperties();
  auto* group = static_cast<CPropertyGroup*>(top.get());
  if (group->GetChildCount() == 0 || group->GetChild(0)->GetKind() != CProperty::eKindGroup)
    return top;
  auto inner = std::static_pointer_cast<CPropertyGroup>(group->GetChild(0));
  for (const auto& point : m_arPoints) {
    if (!point) continue;
    auto g = std::make_shared<CPropertyGroup>(point->GetOwner(), point->GetCaption());
    for (const auto& p : point->GetPropertyList()) g->AddChild(p);
    inner->AddChild(g);
  }
  return top;
}

void CGearToothProfile::BuildWith(ProfileOperation operation) {
  auto* f = Factory(m_pContext);
  if (!f) return;
  PointListHolder points{f->NewPointList()};
  if (!points.list) return;
  for (const auto& p : m_arPoints)
    if (p) points.list->AddPoint(Dbl(*p, L"r"), Dbl(*p, L"angle") * kPi / 180);
  points.list->SetSpline(Bool(*this, L"spline"));
  const bool twoHalves = operation == eDoubleExternalProfile || operation == eDoubleInternalProfile;
  QZ::CAD::ToothProfileValues v{UInt(*this, L"z"),
                                Dbl(*this, L"b"),
                                Dbl(*this, L"beta"),
                                Dbl(*this, L"d"),
                                twoHalves ? Dbl(*this, L"bn") : 0.0,
                                twoHalves ? Dbl(*this, L"dn") : 0.0};
  switch (operation) {
    case eExternalProfile: StoreShape(f->ExternalToothProfile(points.list, v)); break;
    case eInternalProfile: StoreShape(f->InternalToothProfile(points.list, v)); break;
    case eDoubleExternalProfile: StoreShape(f->DoubleExternalToothProfile(points.list, v)); break;
    case eDoubleInternalProfile: StoreShape(f->DoubleInternalToothProfile(points.list, v)); break;
    default: break;
  }
}

CRackGear::CRackGear() {
  AddParams(*this, {{L"mn", TextId::RackGearMn},
                    {L"b", TextId::RackGearB},
                    {L"h", TextId::RackGearH},
                    {L"l", TextId::RackGearL}});
}
void CRackGear::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(
        f->RackGear(Dbl(*this, L"mn"), Dbl(*this, L"b"), Dbl(*this, L"h"), Dbl(*this, L"l")));
}

CConeGear::CConeGear() {
  AddParams(*this, {{L"z", TextId::ConeGearZ, 0, ParamKind::Integer},
                    {L"me", TextId::ConeGearMe},
                    {L"angle", TextId::ConeGearAngle},
                    {L"db", TextId::ConeGearDb},
                    {L"dc", TextId::ConeGearDc},
                    {L"a", TextId::ConeGearA},
                    {L"c", TextId::ConeGearC},
                    {L"e", TextId::ConeGearE}});
}
void CConeGear::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ConeGear(UInt(*this, L"z"), Dbl(*this, L"me"), Dbl(*this, L"angle"),
                           Dbl(*this, L"db"), Dbl(*this, L"dc"), Dbl(*this, L"a"), Dbl(*this, L"c"),
                           Dbl(*this, L"e")));
}
