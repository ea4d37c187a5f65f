#include "model/PropertyValue.h"

#include "xml/XMLNode.h"
#include "xml/XmlText.h"

#include <cmath>
#include <limits>

CComError::CComError(long hr, const std::string& what) : std::runtime_error(what), m_hr(hr) {}

CVariant::CVariant(double value) : m_vt(VT_R8), m_dbl(value) {}
CVariant::CVariant(int value) : m_vt(VT_INT), m_int(value) {}
CVariant::CVariant(bool value) : m_vt(VT_BOOL), m_int(value ? VARIANT_TRUE : VARIANT_FALSE) {}
CVariant::CVariant(const wchar_t* text) : m_vt(VT_BSTR), m_text(text ? text : L"") {}
CVariant::CVariant(std::wstring text) : m_vt(VT_BSTR), m_text(std::move(text)) {}

CVariant CVariant::FromI2(short value) {
  CVariant v;
  v.m_vt = VT_I2;
  v.m_int = value;
  return v;
}
CVariant CVariant::FromI4(long value) {
  CVariant v;
  v.m_vt = VT_I4;
  v.m_int = static_cast<int>(value);
  return v;
}
CVariant CVariant::FromR4(float value) {
  CVariant v;
  v.m_vt = VT_R4;
  v.m_dbl = value;
  return v;
}
CVariant CVariant::FromUI1(unsigned char value) {
  CVariant v;
  v.m_vt = VT_UI1;
  v.m_int = value;
  return v;
}
CVariant CVariant::FromUI2(unsigned short value) {
  CVariant v;
  v.m_vt = VT_UI2;
  v.m_int = value;
  return v;
}
CVariant CVariant::FromUI4(unsigned long value) {
  CVariant v;
  v.m_vt = VT_UI4;
  v.m_int = static_cast<long long>(value & 0xFFFFFFFFul);
  return v;
}
CVariant CVariant::FromUInt(unsigned int value) {
  CVariant v;
  v.m_vt = VT_UINT;
  v.m_int = value;
  return v;
}
CVariant CVariant::FromBoolRaw(short value) {
  CVariant v;
  v.m_vt = VT_BOOL;
  v.m_int = value;
  return v;
}

bool CVariant::IsNumeric() const {
  switch (m_vt) {
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_INT:
    case VT_UINT: return true;
    default: return false;
  }
}

namespace {

[[noreturn]] void Mismatch(const char* what) {
  throw CComError(CComError::DISP_E_TYPEMISMATCH, what);
}
[[noreturn]] void Overflow(const char* what) { throw CComError(CComError::DISP_E_OVERFLOW, what); }

}  // namespace

double CVariant::ToDouble() const {
  switch (m_vt) {
    case VT_R8:
    case VT_R4: return m_dbl;
    case VT_I2:
    case VT_I4:
    case VT_INT:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT:
    case VT_BOOL: return static_cast<double>(m_int);
    case VT_EMPTY: return 0.0;
    case VT_BSTR: {
      double value = 0.0;
      if (!MorlaneText::ParseNumber(m_text, value)) Mismatch("text is not a number");
      return value;
    }
  }
  Mismatch("no conversion to double");
}

int CVariant::ToInt() const {
  const double value = ToDouble();
  if (!std::isfinite(value)) Overflow("value does not fit an integer");
  const double rounded = std::nearbyint(value);
  if (rounded < -2147483648.0 || rounded > 2147483647.0) Overflow("value does not fit an integer");
  return static_cast<int>(rounded);
}

unsigned int CVariant::ToUInt() const {
  const double value = ToDouble();
  if (!std::isfinite(value)) Overflow("value does not fit an unsigned integer");
  const double rounded = std::nearbyint(value);
  if (rounded < 0.0 || rounded > 4294967295.0) Overflow("value does not fit an unsigned integer");
  return static_cast<unsigned int>(rounded);
}

bool CVariant::ToBool() const {
  if (m_vt == VT_BSTR) {
    if (MorlaneText::EqualsNoCase(m_text, L"true") || MorlaneText::EqualsNoCase(m_text, L"#TRUE#"))
      return true;
    if (MorlaneText::EqualsNoCase(m_text, L"false") ||
        MorlaneText::EqualsNoCase(m_text, L"#FALSE#"))
      return false;
  }
  return ToDouble() != 0.0;
}

std::wstring CVariant::ToText() const {
  switch (m_vt) {
    case VT_BSTR: return m_text;
    case VT_EMPTY: return std::wstring();
    case VT_BOOL: return m_int ? L"True" : L"False";
    case VT_R8:
    case VT_R4: return XMLNode::FormatDouble(m_dbl);
    default: return std::to_wstring(m_int);
  }
}

bool CVariant::operator==(const CVariant& other) const {
  if (m_vt != other.m_vt) return false;
  switch (m_vt) {
    case VT_EMPTY: return true;
    case VT_R8:
    case VT_R4: return m_dbl == other.m_dbl;
    case VT_BSTR: return m_text == other.m_text;
    default: return m_int == other.m_int;
  }
}
