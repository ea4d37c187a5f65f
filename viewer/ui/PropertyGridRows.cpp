#include "ui/PropertyGridRows.h"

#include "xml/XmlText.h"

#include <wx/settings.h>

#include <charconv>
#include <cmath>
#include <cwchar>
#include <string>

namespace {

const wchar_t kErrorText[] = L"*** error ***";

// The precision of a "%.<n>f" format; nothing for any other format.
std::optional<int> FixedPrecision(const std::wstring& format) {
  if (format.size() < 4 || format.compare(0, 2, L"%.") != 0 || format.back() != L'f')
    return std::nullopt;
  int precision = 0;
  for (size_t i = 2; i + 1 < format.size(); ++i) {
    if (format[i] < L'0' || format[i] > L'9') return std::nullopt;
    precision = precision * 10 + (format[i] - L'0');
    if (precision > 17) return std::nullopt;
  }
  return precision;
}

// Fixed notation in the C locale, whatever the user's locale.
std::wstring Fixed(double value, int precision) {
  char buffer[400];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
  if (result.ec != std::errc()) return kErrorText;
  return std::wstring(buffer, result.ptr);
}

// A value of the toolkit's variant: the model's value as it is.
class CVariantData : public wxVariantData {
 public:
  explicit CVariantData(const CVariant& value) : m_value(value) {}
  bool Eq(wxVariantData& data) const override {
    auto* other = dynamic_cast<CVariantData*>(&data);
    return other && other->m_value == m_value && other->m_value.Type() == m_value.Type();
  }
  wxString GetType() const override { return wxT("MorlaneVariant"); }
  wxVariantData* Clone() const override { return new CVariantData(m_value); }
  CVariant m_value;
};

CVariant VariantOf(const wxVariant& value) {
  if (auto* data = dynamic_cast<CVariantData*>(value.GetData())) return data->m_value;
  return CVariant();
}

wxVariant Wrap(const CVariant& value) { return wxVariant(new CVariantData(value)); }

// Names in the grid are unique; what the user reads is the label.
wxString UniqueName() {
  static unsigned long counter = 0;
  return wxString::Format(wxT("row%lu"), ++counter);
}

}  // namespace

std::wstring FormatPropertyValue(const CVariant& value, const std::wstring& format) {
  switch (value.Type()) {
    case VT_I2:
    case VT_I4:
    case VT_INT: return std::to_wstring(value.IntegerValue());
    case VT_R4: return Fixed(value.DoubleValue(), 6);
    case VT_R8: {
      const auto precision = FixedPrecision(format);
      return precision ? Fixed(value.DoubleValue(), *precision) : kErrorText;
    }
    case VT_BSTR: return value.TextValue();
    case VT_BOOL: return value.BoolValue() == VARIANT_TRUE ? L"True" : L"False";
    case VT_UI1: {
      const auto byte = static_cast<unsigned char>(value.IntegerValue());
      return byte ? std::wstring(1, static_cast<wchar_t>(byte)) : std::wstring();
    }
    case VT_UI2:
    case VT_UI4:
    case VT_UINT: return std::to_wstring(static_cast<unsigned long long>(value.IntegerValue()));
    default: return kErrorText;
  }
}

std::optional<CVariant> ParsePropertyText(const CVariant& current, const std::wstring& text) {
  double number = 0.0;
  auto numeric = [&]() { return MorlaneText::ParseNumber(text, number) && std::isfinite(number); };
  auto whole = [&](double low, double high) {
    return numeric() && number == std::nearbyint(number) && number >= low && number <= high;
  };
  switch (current.Type()) {
    case VT_R8:
      if (!numeric()) return std::nullopt;
      return CVariant(number);
    case VT_R4:
      if (!numeric() || std::fabs(number) > 3.4e38) return std::nullopt;
      return CVariant::FromR4(static_cast<float>(number));
    case VT_INT:
      if (!whole(-2147483648.0, 2147483647.0)) return std::nullopt;
      return CVariant(static_cast<int>(number));
    case VT_I4:
      if (!whole(-2147483648.0, 2147483647.0)) return std::nullopt;
      return CVariant::FromI4(static_cast<long>(number));
    case VT_I2:
      if (!whole(-32768.0, 32767.0)) return std::nullopt;
      return CVariant::FromI2(static_cast<short>(number));
    case VT_UI2:
      if (!whole(0.0, 65535.0)) return std::nullopt;
      return CVariant::FromUI2(static_cast<unsigned short>(number));
    case VT_UI4:
      if (!whole(0.0, 4294967295.0)) return std::nullopt;
      return CVariant::FromUI4(static_cast<unsigned long>(number));
    case VT_UINT:
      if (!whole(0.0, 4294967295.0)) return std::nullopt;
      return CVariant::FromUInt(static_cast<unsigned int>(number));
    case VT_UI1:
      if (text.size() > 1 || (!text.empty() && text[0] > 0xFF)) return std::nullopt;
      return CVariant::FromUI1(text.empty() ? 0 : static_cast<unsigned char>(text[0]));
    case VT_BOOL: {
      const size_t first = text.find_first_not_of(L" \t");
      const std::wstring word = first == std::wstring::npos
                                    ? L""
                                    : text.substr(first, text.find_last_not_of(L" \t") - first + 1);
      if (MorlaneText::EqualsNoCase(word, L"true")) return CVariant(true);
      if (MorlaneText::EqualsNoCase(word, L"false")) return CVariant(false);
      return std::nullopt;
    }
    case VT_BSTR: return CVariant(text);
    default: return std::nullopt;
  }
}

wxVariant MakeGridValue(const CVariant& value) { return Wrap(value); }

wxColour ToColour(COLORREF color) {
  return wxColour(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

COLORREF ToColorRef(const wxColour& colour) {
  return static_cast<COLORREF>(colour.Red()) | (static_cast<COLORREF>(colour.Green()) << 8) |
         (static_cast<COLORREF>(colour.Blue()) << 16);
}

// --- Value rows --------------------------------------------------------------------------------

CMFCPropertyGridPropertyFormat::CMFCPropertyGridPropertyFormat(const wxString& name,
                                                               const CVariant& value,
                                                               const wxString& description,
                                                               CProperty* data,
                                                               const wxString& format)
    : wxPGProperty(name, UniqueName()), m_strFormat(format) {
  m_value = Wrap(value);
  SetHelpString(description);
  SetClientData(data);
}

CMFCPropertyGridPropertyFormat::~CMFCPropertyGridPropertyFormat() = default;

CVariant CMFCPropertyGridPropertyFormat::GetVariant() const { return VariantOf(m_value); }

void CMFCPropertyGridPropertyFormat::SetVariant(const CVariant& value) { SetValue(Wrap(value)); }

wxString CMFCPropertyGridPropertyFormat::FormatProperty() const {
  return FormatPropertyValue(GetVariant(), m_strFormat.ToStdWstring());
}

wxString CMFCPropertyGridPropertyFormat::ValueToString(wxVariant& value, int) const {
  return FormatPropertyValue(VariantOf(value), m_strFormat.ToStdWstring());
}

bool CMFCPropertyGridPropertyFormat::StringToValue(wxVariant& variant, const wxString& text,
                                                   int) const {
  const CVariant current = VariantOf(m_value);
  // A text left as it is shown changes nothing (a rounded number stays as the model has it).
  if (text == FormatPropertyValue(current, m_strFormat.ToStdWstring())) return false;
  const auto parsed = ParsePropertyText(current, text.ToStdWstring());
  if (!parsed || *parsed == current) return false;
  variant = Wrap(*parsed);
  return true;
}

// --- Groups and colours ------------------------------------------------------------------------

CPropertyGridGroup::CPropertyGridGroup(const wxString& name, CProperty* data)
    : wxPropertyCategory(name, UniqueName()) {
  SetClientData(data);
}

namespace {
const char* const kColourLabels[] = {"Default", "Other...", nullptr};
const long kColourValues[] = {wxSYS_COLOUR_BTNFACE, wxPG_COLOUR_CUSTOM};
wxPGChoices g_colourChoices;
}  // namespace

CPropertyGridColorProperty::CPropertyGridColorProperty(const wxString& name, COLORREF color,
                                                       CProperty* data)
    : wxSystemColourProperty(name, UniqueName(), kColourLabels, kColourValues, &g_colourChoices,
                             ToColour(color)) {
  SetClientData(data);
}

COLORREF CPropertyGridColorProperty::GetColor() const { return ToColorRef(GetVal().m_colour); }

void CPropertyGridColorProperty::SetColor(COLORREF color) {
  wxVariant value;
  value << wxColourPropertyValue(wxPG_COLOUR_CUSTOM, ToColour(color));
  SetValue(value);
}

CProperty* RowProperty(wxPGProperty* row) {
  return row ? static_cast<CProperty*>(row->GetClientData()) : nullptr;
}
