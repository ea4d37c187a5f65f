#pragma once
// The rows of the property pane's grid. A value row (CMFCPropertyGridPropertyFormat) shows a
// model value (CVariant) by its type: doubles through the row's printf-style format ("%.2f",
// "%.6f" for angles), integers as integers, booleans as "True" only for VARIANT_TRUE, texts as
// they are; the text typed into it is read back in the value's own type, and a text that does
// not read as that type is refused by the grid. A colour row (CPropertyGridColorProperty) is a
// colour picker with "Default" (the button face colour) and "Other..." (the colour dialog).
// Every row carries, as its client data, a plain pointer to the model property it shows.

#include "MorlaneExport.h"
#include "model/Property.h"

#include <wx/propgrid/advprops.h>
#include <wx/propgrid/property.h>

#include <optional>
#include <string>

// The text a value row shows for value: the table of the row's FormatProperty, with format
// applied to doubles. Only formats of the form "%.<n>f" are applied; any other gives
// "*** error ***", as a value of a type the table does not cover does.
MORLANE_API std::wstring FormatPropertyValue(const CVariant& value, const std::wstring& format);

// The value that text typed into a row gives, in the type of current; nothing when the text
// does not read as that type (a number that is not finite or out of range included).
MORLANE_API std::optional<CVariant> ParsePropertyText(const CVariant& current,
                                                      const std::wstring& text);

// A model value as the grid's rows hold it (what a changed row's value is made of).
MORLANE_API wxVariant MakeGridValue(const CVariant& value);

// A COLORREF (red in the lowest byte) as a toolkit colour and back.
MORLANE_API wxColour ToColour(COLORREF color);
MORLANE_API COLORREF ToColorRef(const wxColour& colour);

class MORLANE_API CMFCPropertyGridPropertyFormat : public wxPGProperty {
 public:
  CMFCPropertyGridPropertyFormat(const wxString& name, const CVariant& value,
                                 const wxString& description, CProperty* data,
                                 const wxString& format);
  ~CMFCPropertyGridPropertyFormat() override;

  // The text shown for the row's value.
  wxString FormatProperty() const;
  CVariant GetVariant() const;
  void SetVariant(const CVariant& value);
  CProperty* GetData() const { return static_cast<CProperty*>(GetClientData()); }
  const wxString& GetFormat() const { return m_strFormat; }

  wxString ValueToString(wxVariant& value, int argFlags = 0) const override;
  bool StringToValue(wxVariant& variant, const wxString& text, int argFlags = 0) const override;

 private:
  wxString m_strFormat;
};

// A group row: a category holding its children.
class MORLANE_API CPropertyGridGroup : public wxPropertyCategory {
 public:
  CPropertyGridGroup(const wxString& name, CProperty* data);
  CProperty* GetData() const { return static_cast<CProperty*>(GetClientData()); }
};

class MORLANE_API CPropertyGridColorProperty : public wxSystemColourProperty {
 public:
  CPropertyGridColorProperty(const wxString& name, COLORREF color, CProperty* data);
  COLORREF GetColor() const;
  void SetColor(COLORREF color);
  CProperty* GetData() const { return static_cast<CProperty*>(GetClientData()); }
};

// The model property a row shows; null for a row without one.
MORLANE_API CProperty* RowProperty(wxPGProperty* row);
