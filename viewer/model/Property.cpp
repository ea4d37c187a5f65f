#include "model/Property.h"

#include "ui/MlsString.h"
#include "ui/TextIds.h"
#include "xml/XMLNode.h"
#include "xml/XmlText.h"

CProperty::CProperty(CGeometry* owner, std::wstring name, std::wstring label,
                     std::wstring description)
    : m_strName(std::move(name)),
      m_strLabel(std::move(label)),
      m_strDescription(std::move(description)),
      m_pOwner(owner) {}

CProperty::~CProperty() = default;

bool CProperty::IsNamed(std::wstring_view name) const {
  return MorlaneText::EqualsNoCase(m_strName, name);
}

std::wstring CProperty::TextOf(int id) {
  if (id == 0) return std::wstring();
  return CMlsString::GetResourceString(eMessages, id);
}

void CProperty::SetLabelId(int id) { m_strLabel = TextOf(id); }

void CProperty::SetDescriptionId(int id) { m_strDescription = TextOf(id); }

// ---------------------------------------------------------------------------------------------

CPropertyStandard::CPropertyStandard(CGeometry* owner, std::wstring name, int labelId,
                                     int descriptionId, const CVariant& value)
    : CProperty(owner, std::move(name), TextOf(labelId), TextOf(descriptionId)), m_value(value) {}

void CPropertyStandard::SetValue(const CVariant& value) {
  m_value = value;
  if (m_value.IsNumeric() && (IsNamed(L"lch1") || IsNamed(L"lch2")))
    UpdateEndLabels(m_value.ToDouble());
}

void CPropertyStandard::SetValueFromText(const std::wstring& text) {
  switch (m_value.Type()) {
    case VT_R8: SetValue(CVariant(MorlaneText::ParseDoublePrefix(text))); break;
    case VT_BOOL: SetValue(CVariant(MorlaneText::EqualsNoCase(text, L"True"))); break;
    case VT_INT:
    case VT_UINT: SetValue(CVariant(MorlaneText::ParseIntPrefix(text))); break;
    default: SetValue(CVariant(text)); break;
  }
}

void CPropertyStandard::Serialize(XMLNode* node, bool storing) {
  if (!node) return;
  if (storing) {
    node->AddAttribute(L"Name", m_strName);
    node->SetTagValue(m_value.ToText());
    node->AddAttribute(L"description", m_strDescription);
  } else {
    SetValueFromText(node->GetTagValue());
    m_strDescription = node->GetStrAttr(L"description", std::wstring());
  }
}

bool CPropertyStandard::UpdateEndLabels(double value) {
  int neutral, neutralDescription, chamfer, chamferDescription, rounding, roundingDescription;
  if (IsNamed(L"lch1")) {
    neutral = TextId::SectionEnd1;
    neutralDescription = TextId::DescEnd1;
    chamfer = TextId::SectionChamfer1;
    chamferDescription = TextId::DescChamfer1;
    rounding = TextId::SectionRounding1;
    roundingDescription = TextId::DescRounding1;
  } else if (IsNamed(L"lch2")) {
    neutral = TextId::SectionEnd2;
    neutralDescription = TextId::DescEnd2;
    chamfer = TextId::SectionChamfer2;
    chamferDescription = TextId::DescChamfer2;
    rounding = TextId::SectionRounding2;
    roundingDescription = TextId::DescRounding2;
  } else {
    return false;
  }
  SetLabelId(neutral);
  SetDescriptionId(neutralDescription);
  if (value < -0.000001) {
    SetLabelId(chamfer);
    SetDescriptionId(chamferDescription);
  } else if (value > 0.000001) {
    SetLabelId(rounding);
    SetDescriptionId(roundingDescription);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------

CPropertyColor::CPropertyColor(CGeometry* owner, std::wstring name, int labelId, int descriptionId,
                               COLORREF color)
    : CProperty(owner, std::move(name), TextOf(labelId), TextOf(descriptionId)), m_color(color) {}

// ---------------------------------------------------------------------------------------------

CPropertyGroup::CPropertyGroup(CGeometry* owner, std::wstring caption)
    : CProperty(owner, caption, caption, std::wstring()) {}

std::shared_ptr<CProperty> CPropertyGroup::GetChild(int index) const {
  if (index < 0 || index >= GetChildCount()) return nullptr;
  return m_arChildren[static_cast<std::size_t>(index)];
}

void CPropertyGroup::AddChild(std::shared_ptr<CProperty> child) {
  if (child) m_arChildren.push_back(std::move(child));
}
