#include "package/Variant.h"

#include "platform/Text.h"

namespace CommonTools {

int ConvertTextToInt(const std::wstring& text) {
  std::int32_t value = 0;
  platform::HRESULT hr = platform::VariantToInt32(text, value);
  if (hr == platform::DISP_E_OVERFLOW)
    throw SettingsError(SettingsError::Code::Overflow, "Overflow.");
  if (hr != platform::S_OK)
    throw SettingsError(SettingsError::Code::TypeMismatch, "Type mismatch.");
  return value;
}

long Wtol(const std::wstring& text) { return platform::wtol(text); }

int Variant::toInt() const {
  switch (m_type) {
    case Type::Int: return m_int;
    case Type::String: return ConvertTextToInt(m_str);
    case Type::Empty: break;
  }
  // VT_EMPTY converts to 0 with VariantChangeType.
  return 0;
}

std::wstring Variant::toString() const {
  switch (m_type) {
    case Type::Int: return std::to_wstring(m_int);
    case Type::String: return m_str;
    case Type::Empty: break;
  }
  return L"";
}

bool Variant::operator==(const Variant& o) const {
  if (m_type != o.m_type) return false;
  if (m_type == Type::Int) return m_int == o.m_int;
  if (m_type == Type::String) return m_str == o.m_str;
  return true;
}

}  // namespace CommonTools
