#pragma once
// Named, labelled values of the model objects (CProperty family). A property has a program name
// (looked up without regard to case), a label and a description in the current language, an
// owner (the model object to rebuild when the value changes) and a value. Groups hold other
// properties and form the tree that the property pane shows.

#include "MorlaneExport.h"
#include "model/PropertyValue.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class CGeometry;  // model/TreeObject.h
class XMLNode;

class MORLANE_API CProperty {
 public:
  enum Kind { eKindGroup = 0, eKindStandard = 1, eKindColor = 2 };

  virtual ~CProperty();
  CProperty(const CProperty&) = default;
  CProperty& operator=(const CProperty&) = default;

  virtual int GetKind() const = 0;
  virtual const char* GetArchiveTag() const { return "param"; }

  std::wstring GetName() const { return m_strName; }
  std::wstring GetLabel() const { return m_strLabel; }
  std::wstring GetDescription() const { return m_strDescription; }
  // True when the program name equals name without regard to case.
  bool IsNamed(std::wstring_view name) const;

  // Replace the label / description by text number id of the messages section in the current
  // language (CMlsString); id 0 gives an empty text.
  void SetLabelId(int id);
  void SetDescriptionId(int id);
  // Replace the label / description by a given text (the model reader sets descriptions read
  // from the file this way).
  void SetLabel(std::wstring label) { m_strLabel = std::move(label); }
  void SetDescription(std::wstring description) { m_strDescription = std::move(description); }

  CGeometry* GetOwner() const { return m_pOwner; }
  void SetOwner(CGeometry* owner) { m_pOwner = owner; }

  // The text of message id in the current language ("" for 0).
  static std::wstring TextOf(int id);

 protected:
  CProperty(CGeometry* owner, std::wstring name, std::wstring label, std::wstring description);

  std::wstring m_strName;
  std::wstring m_strLabel;
  std::wstring m_strDescription;
  CGeometry* m_pOwner = nullptr;
};

// A value-bearing property (kind 1).
class MORLANE_API CPropertyStandard : public CProperty {
 public:
  CPropertyStandard(CGeometry* owner, std::wstring name, int labelId, int descriptionId,
                    const CVariant& value);

  int GetKind() const override { return eKindStandard; }

  CVariant GetValue() const { return m_value; }
  // Copies value over the old one. For the shaft-section ends "lch1" and "lch2" the label and
  // the description then follow the sign of the new value (UpdateEndLabels).
  void SetValue(const CVariant& value);

  // Stores text converted by the kind of the current value, as model files are read: double
  // (_wtof), boolean ("True" without regard to case is true, anything else false), integer
  // (_wtoi, stored as VT_INT), anything else the text itself.
  void SetValueFromText(const std::wstring& text);

  // Writes (storing) or reads the property as an element of an XML archive: attribute "Name",
  // the value as the element's text and attribute "description".
  void Serialize(XMLNode* node, bool storing);

  // Shaft-section ends: for a property named lch1 or lch2 set the neutral texts (617/1117,
  // 618/1118), then, for value < -1e-6, the chamfer texts (625/1113, 626/1114) or, for
  // value > 1e-6, the rounding texts (627/1115, 628/1116). Other properties are not touched.
  // Returns true when the property is one of the two.
  bool UpdateEndLabels(double value);

 private:
  CVariant m_value;
};

// A colour (kind 2).
class MORLANE_API CPropertyColor : public CProperty {
 public:
  CPropertyColor(CGeometry* owner, std::wstring name, int labelId, int descriptionId,
                 COLORREF color = 0);

  int GetKind() const override { return eKindColor; }
  COLORREF GetColor() const { return m_color; }
  void SetColor(COLORREF color) { m_color = color; }

 private:
  COLORREF m_color = 0;
};

// A group (kind 0): name and label are its caption, the description is empty.
class MORLANE_API CPropertyGroup : public CProperty {
 public:
  CPropertyGroup(CGeometry* owner, std::wstring caption);

  int GetKind() const override { return eKindGroup; }

  // index must be below GetChildCount(); an index out of range gives null.
  std::shared_ptr<CProperty> GetChild(int index) const;
  int GetChildCount() const { return static_cast<int>(m_arChildren.size()); }
  void AddChild(std::shared_ptr<CProperty> child);
  const std::vector<std::shared_ptr<CProperty>>& GetChildren() const { return m_arChildren; }

 private:
  std::vector<std::shared_ptr<CProperty>> m_arChildren;
};
