// A small tagged value in the manner of a VARIANT: empty, a string or an integer. Settings
// nodes hand attribute values out as Variants; callers give typed defaults and convert.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace CommonTools {

// Raised by a conversion that cannot be done, as the platform's VariantChangeType fails.
// The message is the text the platform's COM error gives for the failure code.
class SettingsError : public std::runtime_error {
 public:
  enum class Code { TypeMismatch, Overflow };
  SettingsError(Code code, const std::string& what) : std::runtime_error(what), m_code(code) {}
  Code code() const { return m_code; }

 private:
  Code m_code;
};

class Variant {
 public:
  enum class Type { Empty, String, Int };

  Variant() = default;
  Variant(const std::wstring& s) : m_type(Type::String), m_str(s) {}
  Variant(const wchar_t* s) : m_type(Type::String), m_str(s ? s : L"") {}
  Variant(int v) : m_type(Type::Int), m_int(v) {}

  Type type() const { return m_type; }
  bool isEmpty() const { return m_type == Type::Empty; }
  bool isString() const { return m_type == Type::String; }
  bool isInt() const { return m_type == Type::Int; }

  // The value converted to an integer the way VariantChangeType(VT_INT) converts: an integer
  // as it is; a number written as text (blanks around it, a sign, thousands separators, a
  // fraction rounded half to even); an empty value gives 0; any other text (an empty one
  // included) raises SettingsError::TypeMismatch, a number outside the int range
  // SettingsError::Overflow.
  int toInt() const;

  // The value converted to text: a string as it is, an integer in decimal, empty as "".
  std::wstring toString() const;

  bool operator==(const Variant& o) const;

 private:
  Type m_type = Type::Empty;
  std::wstring m_str;
  int m_int = 0;
};

// The conversion toInt() uses, on a text.
int ConvertTextToInt(const std::wstring& text);

// wtol: the leading (optionally signed) digits after leading white space; 0 without digits.
long Wtol(const std::wstring& text);

}  // namespace CommonTools
