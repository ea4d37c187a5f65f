#pragma once
// Tagged value of a model property: the VARIANT kinds the model uses (double, integer, boolean,
// text) plus the few others the property pane formats. Conversions follow the platform's VARIANT
// rules as far as the model needs them and report a failed conversion with CComError.

#include "MorlaneExport.h"

#include <cstdint>
#include <stdexcept>
#include <string>

#ifndef MORLANE_COLORREF_DEFINED
#define MORLANE_COLORREF_DEFINED
// 0x00BBGGRR: red in the lowest byte. 0xFFFFFFFF means "no colour".
using COLORREF = std::uint32_t;
#endif

// Value types (the numbers of the platform's VARTYPE).
enum VarType : unsigned short {
  VT_EMPTY = 0,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_INT = 22,
  VT_UINT = 23,
};

constexpr short VARIANT_TRUE = -1;
constexpr short VARIANT_FALSE = 0;

// Error of a value conversion (the platform's COM error). hr is the HRESULT the platform gives.
class MORLANE_API CComError : public std::runtime_error {
 public:
  static constexpr long DISP_E_TYPEMISMATCH = static_cast<long>(0x80020005L);
  static constexpr long DISP_E_OVERFLOW = static_cast<long>(0x8002000AL);
  CComError(long hr, const std::string& what);
  long Error() const { return m_hr; }

 private:
  long m_hr;
};

class MORLANE_API CVariant {
 public:
  CVariant() = default;           // VT_EMPTY
  CVariant(double value);         // VT_R8
  CVariant(int value);            // VT_INT
  CVariant(bool value);           // VT_BOOL (VARIANT_TRUE / VARIANT_FALSE)
  CVariant(const wchar_t* text);  // VT_BSTR (null gives the empty text)
  CVariant(std::wstring text);    // VT_BSTR

  // Values of the other types, as the platform may hand them over.
  static CVariant FromI2(short value);
  static CVariant FromI4(long value);
  static CVariant FromR4(float value);
  static CVariant FromUI1(unsigned char value);
  static CVariant FromUI2(unsigned short value);
  static CVariant FromUI4(unsigned long value);
  static CVariant FromUInt(unsigned int value);
  // A VT_BOOL holding any short: only VARIANT_TRUE (-1) counts as true when shown.
  static CVariant FromBoolRaw(short value);

  VarType Type() const { return m_vt; }
  bool IsEmpty() const { return m_vt == VT_EMPTY; }
  bool IsNumeric() const;  // any integer, float or double type

  // Raw access by type (the value must have that type; otherwise 0 / empty).
  double DoubleValue() const { return m_vt == VT_R8 || m_vt == VT_R4 ? m_dbl : 0.0; }
  long long IntegerValue() const { return m_int; }
  short BoolValue() const { return m_vt == VT_BOOL ? static_cast<short>(m_int) : VARIANT_FALSE; }
  const std::wstring& TextValue() const { return m_text; }

  // Conversions in the manner of VariantChangeType (C locale, decimal point "."). Text converts
  // when it is a whole number in the target's form; booleans give -1/0 as numbers; a text or a
  // number that does not fit raises CComError.
  double ToDouble() const;
  int ToInt() const;
  unsigned int ToUInt() const;
  bool ToBool() const;
  std::wstring ToText() const;

  bool operator==(const CVariant& other) const;
  bool operator!=(const CVariant& other) const { return !(*this == other); }

 private:
  VarType m_vt = VT_EMPTY;
  double m_dbl = 0.0;
  long long m_int = 0;
  std::wstring m_text;
};
