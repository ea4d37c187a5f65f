#include "gui/WxBackend.h"

#include "gui/wx/Drawing.h"
#include "gui/WindowPlacement.h"
#include "gui/wx/DlgMain.h"
#include "gui/wx/MessageBox.h"
#include "gui/wx/Screen.h"
#include "package/LogSink.h"
#include "platform/System.h"
#include "platform/Text.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/timer.h>
#include <wx/utils.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstdio>
#include <map>

namespace InstallGui {

namespace {

// Lets the windows map and draw themselves before a screenshot.
void Settle(wxWindow* window) {
  for (int i = 0; i < 10; ++i) {
    if (window) window->Update();
    if (auto* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_ALL);
    wxMilliSleep(15);
  }
}

// Where a page or a message box and its buttons are on a person's display, in the run log:
// what a report of a window out of reach needs. "x,y widthxheight" in screen pixels.
std::wstring RectText(const wxRect& r) {
  return std::to_wstring(r.x) + L"," + std::to_wstring(r.y) + L" " + std::to_wstring(r.width) +
         L"x" + std::to_wstring(r.height);
}

void LogPlacement(CBaseDialog& dlg, const std::wstring& name) {
  const auto& rect = RectText;
  std::wstring line = L"Page " + name + L" placed at " + rect(dlg.GetScreenRect());
  if (dlg.Scrolls()) line += L", scrolled";
  const std::pair<int, const wchar_t*> buttons[] = {
      {kControlBack, L"Back"}, {kControlNext, L"Next"}, {kControlCancel, L"Cancel"}};
  for (const auto& [id, label] : buttons)
    if (wxWindow* b = dlg.Control(id); b && b->IsShown())
      line += std::wstring(L"; ") + label + L" " + rect(b->GetScreenRect());
  // The page's own buttons, check boxes and option buttons, by their control numbers.
  for (const auto& [id, window] : dlg.Controls()) {
    if (id == kControlBack || id == kControlNext || id == kControlCancel) continue;
    if (!window->IsShownOnScreen() ||
        !(dynamic_cast<wxButton*>(window) || dynamic_cast<wxCheckBox*>(window) ||
          dynamic_cast<wxRadioButton*>(window)))
      continue;
    line += L"; #" + std::to_wstring(id) + L" " + rect(window->GetScreenRect());
  }
  CommonTools::LogLine(CommonTools::LogLevel::Info, line);
}

// A window in front of the main window for as long as it is shown.
class InFront {
 public:
  InFront(std::vector<wxWindow*>& windows, wxWindow* window) : m_windows(windows) {
    m_windows.push_back(window);
  }
  ~InFront() { m_windows.pop_back(); }

 private:
  std::vector<wxWindow*>& m_windows;
};

}  // namespace

std::wstring WxFilterFromWindowsFilter(const std::wstring& filter) {
  std::wstring f = filter;
  while (!f.empty() && f.back() == L'|') f.pop_back();
  return f;
}

std::string ScreenshotName(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) {
    if (out.size() >= 60) break;
    bool keep = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                c == L'-' || c == L'_';
    out += keep ? static_cast<char>(c) : '-';
  }
  return out;
}

// The main window's progress display as the run sees it. It passes everything to the window
// (while there is one) and, when an answer file drives the windows, to the file's display too,
// which presses Escape where the file says. It saves the main window at the first item of each
// stage (stage and item line both showing).
class WxBackend::ProgressWatch : public IProgressDisplay {
 public:
  ProgressWatch(WxBackend& owner, std::shared_ptr<IProgressDisplay> script)
      : m_owner(&owner), m_script(std::move(script)) {}
  // The back-end goes before the run's tools: nothing is passed to its window after that.
  void Detach() { m_owner = nullptr; }
  void SetProgressRange(std::uint64_t count) override {
    Each([&](IProgressDisplay& d) { d.SetProgressRange(count); });
  }
  void BeginProgress(std::uint64_t position, bool wrap) override {
    Each([&](IProgressDisplay& d) { d.BeginProgress(position, wrap); });
  }
  void StepProgress(std::uint64_t delta) override {
    Each([&](IProgressDisplay& d) { d.StepProgress(delta); });
  }
  void FillProgress() override {
    Each([&](IProgressDisplay& d) { d.FillProgress(); });
  }
  void EndProgress() override {
    Each([&](IProgressDisplay& d) { d.EndProgress(); });
  }
  void SetStageText(const std::wstring& stageId, const std::wstring& text) override {
    if (CDlgMain* main = Main(); main && text != main->StageText())
      m_shotThisStage = m_shotProgress = false;
    // Files are named by the stage's ID, the same in every language.
    m_stageName = stageId.empty() ? text : stageId;
    Each([&](IProgressDisplay& d) { d.SetStageText(stageId, text); });
  }
  void SetItemText(const std::wstring& text) override {
    Each([&](IProgressDisplay& d) { d.SetItemText(text); });
    CDlgMain* main = Main();
    if (main && !m_shotThisStage && main->CProgressState::IsActive() &&
        !main->StageText().empty() && text.find_first_not_of(L' ') != std::wstring::npos) {
      m_shotThisStage = true;
      m_owner->Screenshot(main, L"main-" + m_stageName);
    } else if (main && m_shotThisStage && !m_shotProgress && main->CProgressState::IsActive() &&
               main->Range() > 0 && main->Position() * 3 >= main->Range()) {
      // Once more when a third of the bar is done.
      m_shotProgress = true;
      m_owner->Screenshot(main, L"main-" + m_stageName + L"-progress");
    }
  }
  void SetEscapeAllowed(bool allowed) override {
    Each([&](IProgressDisplay& d) { d.SetEscapeAllowed(allowed); });
  }
  void SetEscapeHandler(std::function<void()> handler) override {
    Each([&](IProgressDisplay& d) { d.SetEscapeHandler(handler); });
  }
  void DestroyMainWindow() override {
    if (m_script) m_script->DestroyMainWindow();
    if (m_owner) m_owner->DestroyMainWindow();
  }

 private:
  template <class F>
  void Each(F f) {
    if (m_script) f(*m_script);
    if (CDlgMain* main = Main()) f(static_cast<IProgressDisplay&>(*main));
  }
  CDlgMain* Main() const { return m_owner ? m_owner->m_main : nullptr; }
  WxBackend* m_owner;
  std::shared_ptr<IProgressDisplay> m_script;
  bool m_shotThisStage = false;
  bool m_shotProgress = false;
  std::wstring m_stageName;
};

WxBackend::WxBackend() = default;

const PixelRect& WxBackend::PersonsScreen() {
  // A person's display: the windows go where the person can see them. Measured once, when the
  // first window is made.
  if (!m_answers && !m_pageContext.screen.IsPositive())
    m_pageContext.screen =
        WizardScreen(DisplayWorkArea(nullptr), platform::GetSystemMetrics(platform::SM_CXSCREEN),
                     platform::GetSystemMetrics(platform::SM_CYSCREEN));
  return m_pageContext.screen;
}

wxWindow* WxBackend::Owner() const {
  // The page in front owns what it asks (its question stays above it, and the main window
  // behind it is not raised over it); without a page, the main window.
  for (auto it = m_pages.rbegin(); it != m_pages.rend(); ++it)
    if ((*it)->IsShown()) return *it;
  wxWindow* top = wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
  return top && top->IsShown() ? top : nullptr;
}

WxBackend::WxBackend(std::shared_ptr<ScriptedBackend> answers, std::string screenshotFolder)
    : m_answers(std::move(answers)), m_folder(std::move(screenshotFolder)) {
  if (!m_folder.empty()) wxFileName::Mkdir(wxString::FromUTF8(m_folder), 0755, wxPATH_MKDIR_FULL);
}

WxBackend::~WxBackend() {
  if (m_watch) m_watch->Detach();
  DestroyMainWindow();
}

void WxBackend::Screenshot(wxWindow* window, const std::wstring& what) {
  if (m_folder.empty() || !window) return;
  Settle(window);
  char number[16];
  std::snprintf(number, sizeof number, "%02zu-", m_shots.size() + 1);
  std::string path = m_folder + "/" + number + ScreenshotName(what) + ".png";
  if (SaveWindowPng(window, path)) {
    m_shots.push_back(path);
    CommonTools::LogLine(CommonTools::LogLevel::Info, L"Screenshot " + platform::FromUtf8(path));
  } else {
    CommonTools::LogLine(CommonTools::LogLevel::Warning,
                         L"Screenshot " + platform::FromUtf8(path) + L" could not be saved");
  }
}

std::shared_ptr<IProgressDisplay> WxBackend::CreateMainWindow(const MainWindowRequest& request) {
  m_pageContext.languages = request.languages;
  m_pageContext.graphics = request.graphics;
  if (!m_main) {
    m_main = new CDlgMain(request);
    wxTheApp->SetTopWindow(m_main);
    m_main->UseScreen(PersonsScreen());
  }
  if (!m_watch)
    m_watch =
        std::make_shared<ProgressWatch>(*this, m_answers ? m_answers->MakeMainWindow() : nullptr);
  m_main->PrepareWnd();
  if (m_pageContext.screen.IsPositive())
    CommonTools::LogLine(
        CommonTools::LogLevel::Info,
        L"Main window placed at " + RectText(m_main->GetScreenRect()) + L" on the screen " +
            RectText(wxRect(m_pageContext.screen.left, m_pageContext.screen.top,
                            m_pageContext.screen.Width(), m_pageContext.screen.Height())));
  Screenshot(m_main, L"main-start");
  return m_watch;
}

void WxBackend::BringToFront() {
  if (!m_main) return;
  m_main->Iconize(false);
  m_main->Raise();
  for (wxWindow* page : m_pages)
    if (page->IsShown()) page->Raise();
}

void WxBackend::LocalizeMainWindow() {
  if (m_main) m_main->LocalizeResources();
}

void WxBackend::DestroyMainWindow() {
  if (m_main) {
    m_main->CProgressState::DestroyMainWindow();
    m_main->Destroy();
    m_main = nullptr;
  }
}

int WxBackend::ShowMessageBox(const MessageRequest& request) {
  if (m_answers) return m_answers->ShowMessageBox(request);
  CMessageBox box(Owner(), request, PersonsScreen());
  wxTimer settle;
  if (m_pageContext.screen.IsPositive()) {
    settle.Bind(wxEVT_TIMER, [&box, &request](wxTimerEvent&) {
      std::wstring line =
          L"Message box: " + request.text + L" placed at " + RectText(box.GetScreenRect());
      for (int answer : AllowedAnswers(request.style))
        if (wxButton* b = box.ButtonFor(answer))
          line += L"; " + AnswerName(answer) + L" " + RectText(b->GetScreenRect());
      CommonTools::LogLine(CommonTools::LogLevel::Info, line);
    });
    settle.StartOnce(250);
  }
  int answer = 0;
  {
    InFront front(m_pages, &box);
    answer = box.Ask();
  }
  settle.Stop();
  // The answer a person gave, as a run from a file records it.
  CommonTools::LogLine(CommonTools::LogLevel::Info,
                       L"Message box: " + request.text + L" -> " + AnswerName(answer));
  return answer;
}

std::optional<std::wstring> WxBackend::ShowFileDialog(const FileDialogRequest& request) {
  if (m_answers) return m_answers->ShowFileDialog(request);
  long style = request.save ? wxFD_SAVE : wxFD_OPEN;
  if (request.flags & OFN_OVERWRITEPROMPT) style |= wxFD_OVERWRITE_PROMPT;
  if (request.flags & OFN_FILEMUSTEXIST) style |= wxFD_FILE_MUST_EXIST;
  wxFileDialog dlg(Owner(), request.title, wxEmptyString, request.fileName,
                   WxFilterFromWindowsFilter(request.filter), style);
  if (dlg.ShowModal() != wxID_OK) return std::nullopt;
  return dlg.GetPath().ToStdWstring();
}

PageButton WxBackend::RunPageModal(IPage& page) {
  PersonsScreen();
  std::unique_ptr<CBaseDialog, void (*)(CBaseDialog*)> view(
      CBaseDialog::Make(Owner(), page, m_pageContext), [](CBaseDialog* d) { d->Destroy(); });
  CBaseDialog& dlg = *view;
  wxTimer timer;
  if (m_answers) {
    // The page is shown as a person sees it, saved, then answered from the file; the timer
    // gives the window the time to appear on the screen.
    timer.Bind(wxEVT_TIMER, [this, &dlg, &page](wxTimerEvent&) {
      try {
        Screenshot(&dlg, L"page-" + page.GetName());
        dlg.EndWith(m_answers->RunPageModal(page));
      } catch (...) {
        dlg.EndWithError(std::current_exception());
      }
    });
    timer.StartOnce(m_folder.empty() ? 1 : 200);
  }
  wxTimer settle;
  if (m_pageContext.screen.IsPositive()) {
    // On a person's display: the focus starts on the default button, and once the window
    // manager has framed the page it is placed again if the frame made it too large.
    dlg.CallAfter([&dlg] { dlg.FocusDefault(); });
    settle.Bind(wxEVT_TIMER, [&dlg, &page](wxTimerEvent&) {
      dlg.Settled();
      LogPlacement(dlg, page.GetName());
    });
    settle.StartOnce(250);
  }
  {
    InFront front(m_pages, &dlg);
    dlg.ShowModal();
  }
  settle.Stop();
  timer.Stop();
  dlg.RethrowIfFailed();
  return dlg.LeftWith();
}

}  // namespace InstallGui
