#include "app/Tools.h"

#include "gui/Localizer.h"
#include "package/LogSink.h"
#include "package/ScriptVocabulary.h"

namespace InstallManager {

namespace Msg = ScriptNames::Message;

namespace {

// Lifetime of a process-wide object: made on first use, destroyed by the exit handlers, and
// never made again once destroyed.
template <class T>
struct Holder {
  std::unique_ptr<T> object;
  bool gone = false;
  ~Holder() {
    object.reset();
    gone = true;
  }
};

Holder<CInstallTools>& InstallHolder() {
  static Holder<CInstallTools> holder;
  return holder;
}

Holder<CGuiTools>& GuiHolder() {
  static Holder<CGuiTools> holder;
  return holder;
}

}  // namespace

CInstallTools::CInstallTools()
    : m_log(std::make_unique<CRunLog>()), m_script(std::make_unique<CommonTools::CXmlSettings>()) {
  ConnectSinks();
}

void CInstallTools::ConnectSinks() {
  // Code below the application logs through this run log; data texts stay arguments.
  CommonTools::SetLogSink(
      [this](LogLevel level, const std::wstring& text) { m_log->Log(level, L"%s", text); });
  CommonTools::SetFormatSink(
      [this](LogLevel level, std::wstring_view format, std::span<const platform::FormatArg> args) {
        m_log->LogArgs(level, &format, args);
      });
  CommonTools::SetCurrentFileSink(
      [this](const std::wstring& file) { m_log->SetCurrentFile(file); });
}

void CInstallTools::Reset() {
  m_log = std::make_unique<CRunLog>();
  m_script = std::make_unique<CommonTools::CXmlSettings>();
  ConnectSinks();
}

InstallGui::IProgressDisplay& CGuiTools::MainWindow() {
  if (m_mainWindow) return *m_mainWindow;
  return m_silentWindow;
}

void CGuiTools::Reset() {
  m_mainWindow.reset();
  m_silentWindow = InstallGui::CProgressState();
  m_languages->Clear();
  m_languages->SetCurrent(0);
  m_graphics->Clear();
}

CInstallTools::~CInstallTools() {
  CommonTools::SetLogSink(nullptr);
  CommonTools::SetFormatSink(nullptr);
  CommonTools::SetCurrentFileSink(nullptr);
}

CGuiTools::CGuiTools()
    : m_languages(std::make_unique<InstallGui::GuiSettings::CLanguages>(
          [](CommonTools::SettingsNodePtr& root) {
            return GetInstallTools().GetScriptRoot(root);
          })),
      m_graphics(std::make_unique<InstallGui::GuiSettings::CGraphics>(
          [](CommonTools::SettingsNodePtr& root) {
            return GetInstallTools().GetScriptRoot(root);
          })) {}

CInstallTools& GetInstallTools() {
  // The GUI tools use the install tools while they live: make them first so that they are
  // destroyed last.
  auto& h = InstallHolder();
  if (h.gone) throw ToolsGone("CInstallTools used after process exit began");
  if (!h.object) h.object = std::make_unique<CInstallTools>();
  return *h.object;
}

CGuiTools& GetGuiTools() {
  GetInstallTools();
  auto& h = GuiHolder();
  if (h.gone) throw ToolsGone("CGuiTools used after process exit began");
  if (!h.object) h.object = std::make_unique<CGuiTools>();
  return *h.object;
}

std::wstring CGuiTools::GetMessage(const std::wstring& id) {
  CommonTools::SettingsNodePtr lang, messages, message;
  std::wstring text;
  bool found = false;
  try {
    if (m_languages->GetCount() > 0 && m_languages->GetCurrentNode(lang) && lang &&
        lang->GetChild(ScriptNames::Element::kMessages, messages) &&
        messages->GetChild(id, message)) {
      text = CommonTools::GetText(message, ScriptNames::Attribute::kCaption);
      found = true;
    }
  } catch (const CommonTools::SettingsError&) {
    found = false;
  }
  if (!found) {
    Log(LogLevel::Warning, L"Message with ID = '%s' was not found in script!", id);
    return L"";
  }
  return InstallGui::ExpandLineBreaks(text);
}

int CGuiTools::ShowBox(const std::wstring& id, const std::wstring& text, unsigned style) {
  std::wstring caption = GetMessage(Msg::kCaption);
  if (caption.empty()) caption = L"Ondravel Installer";
  InstallGui::MessageRequest request{id, text, caption, style};
  // Whatever the log holds is in the file before anyone waits on the question.
  GetInstallTools().Log().Flush();
  if (!m_ui) {
    if ((style & InstallGui::MB_TYPEMASK) == InstallGui::MB_OK) return InstallGui::IDOK;
    throw InstallGui::UnansweredQuestion("No user interface to answer the message box: " +
                                         CommonTools::ToUtf8(text));
  }
  return m_ui->ShowMessageBox(request);
}

int CGuiTools::ShowText(const std::wstring& text, unsigned style) {
  return ShowBox(L"", text, style);
}

int CGuiTools::ShowMessage(const std::wstring& id, unsigned style) {
  std::wstring text = GetMessage(id);
  return ShowBox(id, text.empty() ? id : text, style);
}

// The text of a stage in the main window's current language; empty when the language has none.
std::wstring StageText(const wchar_t* id) {
  if (!id || !*id) return L"";
  try {
    CommonTools::SettingsNodePtr lang, section, item;
    if (!GetGuiTools().Languages().GetCurrentNode(lang) || !lang) return L"";
    if (!lang->GetChild(ScriptNames::Page::kProgress, section) || !section) return L"";
    if (!section->GetChild(id, item) || !item) return L"";
    return CommonTools::GetText(item, ScriptNames::Attribute::kCaption, L"");
  } catch (const CommonTools::SettingsError&) {
    return L"";
  }
}

void ShowStage(const wchar_t* id) {
  GetGuiTools().MainWindow().SetStageText(id ? id : L"", StageText(id));
}

}  // namespace InstallManager
