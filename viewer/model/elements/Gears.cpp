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
  AddParams(*this, {{L"z", 492, 0, ParamKind::Integer},
                    {L"mn", 493},
                    {L"b", 494},
                    {L"alpha", 495},
                    {L"beta", 496},
                    {L"k", 497},
                    {L"x", 498},
                    {L"d", 499}});
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
  AddParams(*this, {{L"z", 492, 0, ParamKind::Integer},
                    {L"mn", 493},
                    {L"b", 494},
                    {L"bn", 501},
                    {L"alpha", 495},
                    {L"beta", 496},
                    {L"k", 497},
                    {L"x", 498},
                    {L"d", 499},
                    {L"dn", 502}});
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
  AddParams(*this, {{L"r", 1011}, {L"angle", 1012}});
}

CGearToothProfile::CGearToothProfile() : CGearToothProfile(false) {}

CGearToothProfile::CGearToothProfile(bool doubleHelical) {
  if (doubleHelical)
    AddParams(*this, {{L"z", 492, 0, ParamKind::Integer},
                      {L"b", 494},
                      {L"bn", 501},
                      {L"beta", 496},
                      {L"d", 499},
                      {L"dn", 502},
                      {L"spline", 500, 0, ParamKind::Boolean}});
  else
    AddParams(*this, {{L"z", 492, 0, ParamKind::Integer},
                      {L"b", 494},
                      {L"beta", 496},
                      {L"d", 499},
                      {L"spline", 500, 0, ParamKind::Boolean}});
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

void CGearToothProfile::BuildWith(int operation) {
  auto* f = Factory(m_pContext);
  if (!f) return;
  PointListHolder points{f->NewPointList()};
  if (!points.list) return;
  for (const auto& p : m_arPoints)
    if (p) points.list->AddPoint(Dbl(*p, L"r"), Dbl(*p, L"angle") * kPi / 180);
  points.list->SetSpline(Bool(*this, L"spline"));
  const bool twoHalves = operation == 4 || operation == 6;
  QZ::CAD::ToothProfileValues v{UInt(*this, L"z"),
                                Dbl(*this, L"b"),
                                Dbl(*this, L"beta"),
                                Dbl(*this, L"d"),
                                twoHalves ? Dbl(*this, L"bn") : 0.0,
                                twoHalves ? Dbl(*this, L"dn") : 0.0};
  switch (operation) {
    case 0: StoreShape(f->ExternalToothProfile(points.list, v)); break;
    case 2: StoreShape(f->InternalToothProfile(points.list, v)); break;
    case 4: StoreShape(f->DoubleExternalToothProfile(points.list, v)); break;
    case 6: StoreShape(f->DoubleInternalToothProfile(points.list, v)); break;
    default: break;
  }
}

CRackGear::CRackGear() { AddParams(*this, {{L"mn", 511}, {L"b", 512}, {L"h", 513}, {L"l", 514}}); }
void CRackGear::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(
        f->RackGear(Dbl(*this, L"mn"), Dbl(*this, L"b"), Dbl(*this, L"h"), Dbl(*this, L"l")));
}

CConeGear::CConeGear() {
  AddParams(*this, {{L"z", 521, 0, ParamKind::Integer},
                    {L"me", 522},
                    {L"angle", 523},
                    {L"db", 524},
                    {L"dc", 525},
                    {L"a", 526},
                    {L"c", 527},
                    {L"e", 528}});
}
void CConeGear::BuildShape() {
  if (auto* f = Factory(m_pContext))
    StoreShape(f->ConeGear(UInt(*this, L"z"), Dbl(*this, L"me"), Dbl(*this, L"angle"),
                           Dbl(*this, L"db"), Dbl(*this, L"dc"), Dbl(*this, L"a"), Dbl(*this, L"c"),
                           Dbl(*this, L"e")));
}
