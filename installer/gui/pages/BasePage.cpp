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

// Keeps the texts the language gives, by control.
class TextRecorder : public ILocalizedWindow {
 public:
  explicit TextRecorder(std::map<int, std::wstring>& texts) : m_texts(texts) {}
  void SetTitle(const std::wstring&) override {}
  bool HasControl(int) override { return true; }
  void SetControlText(int controlId, const std::wstring& text) override {
    m_texts[controlId] = text;
  }

 private:
  std::map<int, std::wstring>& m_texts;
};

}  // namespace

void CBasePage::OnInit() {
  if (m_services.languages) {
    m_controlTexts.clear();
    TextRecorder recorder(m_controlTexts);
    Localize(*m_services.languages, recorder);
  }
  InitPage();
}

std::wstring CBasePage::ControlText(int controlId, const std::wstring& fallback) const {
  auto it = m_controlTexts.find(controlId);
  return it == m_controlTexts.end() ? fallback : it->second;
}

bool CBasePage::IsControlShown(const std::wstring& key) const {
  CommonTools::SettingsNodePtr root;
  if (!m_services.root || !m_services.root(root) || !root) return true;
  return InstallGui::IsControlShown(root, m_section, key);
}

std::wstring CBasePage::GetSetting(const std::wstring& name, const std::wstring& def) const {
  if (!m_services.settings) return def;
  return m_services.settings->Get(name, CommonTools::Variant(def)).toString();
}

int CBasePage::GetSettingInt(const std::wstring& name, int def) const {
  if (!m_services.settings) return def;
  CommonTools::Variant v = m_services.settings->Get(name, CommonTools::Variant(def));
  try {
    return v.toInt();
  } catch (const CommonTools::SettingsError&) {
    return def;  // a stored text that is no number reads as nothing stored
  }
}

void CBasePage::SetSetting(const std::wstring& name, const CommonTools::Variant& value) const {
  if (m_services.settings) m_services.settings->Set(name, value);
}

int CBasePage::ShowMessage(const std::wstring& id, unsigned style) const {
  return m_services.showMessage ? m_services.showMessage(id, style) : IDOK;
}

int CBasePage::ShowText(const std::wstring& text, unsigned style) const {
  return m_services.showText ? m_services.showText(text, style) : IDOK;
}

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
