// The components page: the product's libraries in a tree with check boxes. Checking a library
// checks what it needs; clearing one that a selected library needs leaves it checked. The
// choice is kept as "SelectedLibraries" (the IDs of the selected libraries, ";" between them).
#pragma once

#include "gui/pages/BasePage.h"
#include "gui/pages/ComponentsTree.h"
#include "package/Libraries.h"
#include "package/ScriptVocabulary.h"

namespace InstallGui {

inline constexpr int kComponentsText = 1029;
inline constexpr int kComponentsTree = 1030;

class CDlgComponents : public CBasePage {
 public:
  explicit CDlgComponents(CommonTools::CLibraries& libraries)
      : CBasePage(ScriptNames::Page::kComponents, PageKind::Components), m_libraries(libraries) {}

  // "SelectedLibraries": the IDs to have selected, ";" between them, reached as a person would
  // by clicking; a selection the rules do not allow (a read-only library, a library another
  // one needs) is refused.
  bool SetField(const std::wstring& name, const std::wstring& value) override;
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override {
    return {ScriptNames::Attribute::kSelectedLibraries};
  }
  int TextControl() const override { return kComponentsText; }

  const CComponentsDataProv& Provider() const { return m_provider; }
  // A click or Space on the item; the dependency rule follows. False when nothing changed.
  bool Toggle(IItemData& item);
  // The tree's notice that the user changed the item (the dependency rule of the libraries).
  void OnItemChanged(IItemData& item);

  void LoadSettings() override;
  void SaveSettings() override;

 protected:
  void LocalizePage(CLocalizer& localizer) override {
    localizer.AddControl(L"TEXT", kComponentsText);
  }

 private:
  std::wstring Selection() const;
  CommonTools::CLibraries& m_libraries;
  CComponentsDataProv m_provider;
};

}  // namespace InstallGui
