#include "gui/pages/BasePage.h"

#include "package/ScriptVocabulary.h"
#include "platform/Format.h"

namespace InstallGui {

namespace {

// Passes the texts on and formats the title on its way.
class TitleFormatting : public ILocalizedWindow {
 public:
  TitleFormatting(ILocalizedWindow& window, const CBasePage& page, std::wstring& title)
      : m_window(window), m_page(page), m_title(title) {}
  void SetTitle(const std::wstring& text) override {
    m_title = m_page.FormatTitle(text);
    m_window.SetTitle(m_title);
  }
  bool HasControl(int controlId) override { return m_window.HasControl(controlId); }
  void SetControlText(int controlId, const std::wstring& text) override {
    m_window.SetControlText(controlId, text);
  }

 private:
  ILocalizedWindow& m_window;
  const CBasePage& m_page;
  std::wstring& m_title;
};

}  // namespace

CBasePage::CBasePage(std::wstring sectionName, PageKind kind, bool showBack)
    : m_section(std::move(sectionName)), m_kind(kind), m_showBack(showBack) {}

void CBasePage::OnLeave(PageButton button) {
  if (button != PageButton::Cancel) SaveSettings();
}

std::wstring CBasePage::FormatTitle(const std::wstring& caption) const {
  std::wstring out;
  platform::FormatArg args[] = {m_scenarioBuild};
  platform::ArgKind kinds[] = {platform::ArgKind::Int};
  if (!platform::CheckFormat(caption, kinds, nullptr) ||
      platform::TryFormat(caption, args, out, nullptr) != platform::ERROR_SUCCESS)
    return caption;
  return out;
}

void CBasePage::LocalizeCommon(CLocalizer& localizer, ILocalizedWindow& window) {
  if (!localizer.SelectSection(ScriptNames::Element::kCommon)) return;
  localizer.AddControl(ScriptNames::Control::kButtonCancel, kControlCancel);
  localizer.AddControl(ScriptNames::Control::kButtonBack, kControlBack);
  localizer.AddControl(ScriptNames::Control::kButtonNext, kControlNext);
  localizer.Apply(&window);
}

bool CBasePage::HasSection(CommonTools::ILanguages& languages) const {
  CLocalizer localizer(languages);
  return localizer.SelectSection(m_section);
}

bool CBasePage::Localize(CommonTools::ILanguages& languages, ILocalizedWindow& window) {
  {
    CLocalizer common(languages);
    LocalizeCommon(common, window);
  }
  CLocalizer own(languages);
  if (!own.SelectSection(m_section)) return false;
  LocalizePage(own);
  TitleFormatting formatting(window, *this, m_title);
  return own.Apply(&formatting);
}

}  // namespace InstallGui
