#include "model/TreeObjectPrimitives.h"

#include "ui/TextIds.h"
#include "xml/XmlText.h"

CBox::CBox() {
  AddProperty(L"w", TextId::BoxW, 0, CVariant(0.0));
  AddProperty(L"h", TextId::BoxH, 0, CVariant(0.0));
  AddProperty(L"l", TextId::BoxL, 0, CVariant(0.0));
}

std::wstring CBox::GetCaption() const { return CProperty::TextOf(TextId::Box); }

void CBox::BuildShape() {
  if (!m_pContext) return;
  const double w = GetValue(L"w").ToDouble();
  const double h = GetValue(L"h").ToDouble();
  const double l = GetValue(L"l").ToDouble();
  StoreShape(m_pContext->Box(w, h, l));
}

CSphere::CSphere() { AddProperty(L"r", TextId::SphereR, 0, CVariant(0.0)); }

std::wstring CSphere::GetCaption() const { return CProperty::TextOf(TextId::Sphere); }

void CSphere::BuildShape() {
  if (!m_pContext) return;
  const double r = GetValue(L"r").ToDouble();
  StoreShape(m_pContext->Sphere(r));
}

CCylinder::CCylinder() {
  AddProperty(L"r", TextId::CylinderR, 0, CVariant(0.0));
  AddProperty(L"l", TextId::CylinderL, 0, CVariant(0.0));
}

std::wstring CCylinder::GetCaption() const { return CProperty::TextOf(TextId::Cylinder); }

void CCylinder::BuildShape() {
  if (!m_pContext) return;
  const double r = GetValue(L"r").ToDouble();
  const double l = GetValue(L"l").ToDouble();
  StoreShape(m_pContext->Cylinder(r, l));
}

CCone::CCone() {
  AddProperty(L"r1", TextId::ConeR1, 0, CVariant(0.0));
  AddProperty(L"r2", TextId::ConeR2, 0, CVariant(0.0));
  AddProperty(L"l", TextId::ConeL, 0, CVariant(0.0));
}

std::wstring CCone::GetCaption() const { return CProperty::TextOf(TextId::Cone); }

void CCone::BuildShape() {
  if (!m_pContext) return;
  const double r1 = GetValue(L"r1").ToDouble();
  const double r2 = GetValue(L"r2").ToDouble();
  const double l = GetValue(L"l").ToDouble();
  StoreShape(m_pContext->Cone(r1, r2, l));
}

CTorus::CTorus() {
  AddProperty(L"r1", TextId::TorusR1, 0, CVariant(0.0));
  AddProperty(L"r2", TextId::TorusR2, 0, CVariant(0.0));
}

std::wstring CTorus::GetCaption() const { return CProperty::TextOf(TextId::Torus); }

void CTorus::BuildShape() {
  if (!m_pContext) return;
  const double r1 = GetValue(L"r1").ToDouble();
  const double r2 = GetValue(L"r2").ToDouble();
  StoreShape(m_pContext->Torus(r1, r2));
}

CWedge::CWedge() {
  AddProperty(L"wb", TextId::WedgeWb, 0, CVariant(0.0));
  AddProperty(L"h", TextId::WedgeH, 0, CVariant(0.0));
  AddProperty(L"l", TextId::WedgeL, 0, CVariant(0.0));
  AddProperty(L"wt", TextId::WedgeWt, 0, CVariant(0.0));
}

std::wstring CWedge::GetCaption() const { return CProperty::TextOf(TextId::Wedge); }

void CWedge::BuildShape() {
  if (!m_pContext) return;
  const double wb = GetValue(L"wb").ToDouble();
  const double h = GetValue(L"h").ToDouble();
  const double l = GetValue(L"l").ToDouble();
  const double wt = GetValue(L"wt").ToDouble();
  StoreShape(m_pContext->Wedge(wb, h, l, wt));
}

CHollowCylinder::CHollowCylinder() {
  AddProperty(L"dout", TextId::HollowCylinderDout, 0, CVariant(0.0));
  AddProperty(L"din", TextId::HollowCylinderDin, 0, CVariant(0.0));
  AddProperty(L"l", TextId::HollowCylinderL, 0, CVariant(0.0));
}

std::wstring CHollowCylinder::GetCaption() const {
  return CProperty::TextOf(TextId::HollowCylinder);
}

void CHollowCylinder::BuildShape() {
  if (!m_pContext) return;
  const double dout = GetValue(L"dout").ToDouble();
  const double din = GetValue(L"din").ToDouble();
  const double l = GetValue(L"l").ToDouble();
  StoreShape(m_pContext->HollowCylinder(dout, din, l));
}

CHollowCone::CHollowCone() {
  AddProperty(L"dout1", TextId::HollowConeDout1, 0, CVariant(0.0));
  AddProperty(L"dout2", TextId::HollowConeDout2, 0, CVariant(0.0));
  AddProperty(L"din1", TextId::HollowConeDin1, 0, CVariant(0.0));
  AddProperty(L"din2", TextId::HollowConeDin2, 0, CVariant(0.0));
  AddProperty(L"l", TextId::HollowConeL, 0, CVariant(0.0));
}

std::wstring CHollowCone::GetCaption() const { return CProperty::TextOf(TextId::HollowCone); }

void CHollowCone::BuildShape() {
  if (!m_pContext) return;
  const double dout1 = GetValue(L"dout1").ToDouble();
  const double dout2 = GetValue(L"dout2").ToDouble();
  const double din1 = GetValue(L"din1").ToDouble();
  const double din2 = GetValue(L"din2").ToDouble();
  const double l = GetValue(L"l").ToDouble();
  StoreShape(m_pContext->HollowCone(dout1, dout2, din1, din2, l));
}

std::shared_ptr<CObject3D> CreatePrimitive(const std::wstring& typeName) {
  if (MorlaneText::EqualsNoCase(typeName, L"Box")) return std::make_shared<CBox>();
  if (MorlaneText::EqualsNoCase(typeName, L"Sphere")) return std::make_shared<CSphere>();
  if (MorlaneText::EqualsNoCase(typeName, L"Cylinder")) return std::make_shared<CCylinder>();
  if (MorlaneText::EqualsNoCase(typeName, L"Cone")) return std::make_shared<CCone>();
  if (MorlaneText::EqualsNoCase(typeName, L"Torus")) return std::make_shared<CTorus>();
  if (MorlaneText::EqualsNoCase(typeName, L"Wedge")) return std::make_shared<CWedge>();
  if (MorlaneText::EqualsNoCase(typeName, L"HollowCylinder"))
    return std::make_shared<CHollowCylinder>();
  if (MorlaneText::EqualsNoCase(typeName, L"HollowCone")) return std::make_shared<CHollowCone>();
  return nullptr;
}
