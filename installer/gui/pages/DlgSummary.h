// The summary before the work starts: the folder the product goes into and the components
// chosen; the Next button reads as the install button.
#pragma once

#include "gui/pages/BasePage.h"
#include "package/Libraries.h"
#include "package/ScriptVocabulary.h"

namespace InstallGui {

inline constexpr int kSummaryGroup = 1018;
inline constexpr int kSummaryList = 1028;
inline constexpr int kSummaryText = 1030;

class CDlgSummary : public CBasePage {
 public:
  explicit CDlgSummary(const CommonTools::CLibraries& libraries)
      : CBasePage(ScriptNames::Page::kSummary, PageKind::Summary), m_libraries(libraries) {}
  bool SetField(const std::wstring&, const std::wstring&) override { return false; }
  std::wstring GetField(const std::wstring& name) const override;
  std::vector<std::wstring> FieldNames() const override { return {L"Text", L"Components"}; }
  bool IsFieldEditable(const std::wstring&) const override { return false; }
  int TextControl() const override { return kSummaryText; }

  // The text above the list, and one line per selected component ("  " and its caption).
  const std::wstring& Text() const { return m_text; }
  const std::vector<std::wstring>& Lines() const { return m_lines; }

 protected:
  void LocalizePage(CLocalizer& localizer) override;
  void InitPage() override;

 private:
  const CommonTools::CLibraries& m_libraries;
  std::wstring m_core, m_components;
  std::wstring m_text;
  std::vector<std::wstring> m_lines;
};

}  // namespace InstallGui
