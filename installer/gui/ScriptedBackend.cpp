#include "gui/ScriptedBackend.h"

#include "package/LogSink.h"
#include "package/ScriptVocabulary.h"
#include "package/XmlSettings.h"
#include "platform/HostIo.h"
#include "platform/Text.h"
#include "platform/Win32Errors.h"

#include <cstdlib>
#include <sstream>

namespace InstallGui {

namespace {

std::wstring Trim(const std::wstring& s) {
  size_t b = s.find_first_not_of(L" \t\r\n");
  if (b == std::wstring::npos) return L"";
  size_t e = s.find_last_not_of(L" \t\r\n");
  return s.substr(b, e - b + 1);
}

// A value written in double quotes keeps its blanks; the quotes are removed.
std::wstring Unquote(const std::wstring& s, bool* quoted = nullptr) {
  if (s.size() >= 2 && s.front() == L'"' && s.back() == L'"') {
    if (quoted) *quoted = true;
    return s.substr(1, s.size() - 2);
  }
  if (quoted) *quoted = false;
  return s;
}

std::wstring Upper(const std::wstring& s) {
  std::wstring r = s;
  for (auto& c : r)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return r;
}

std::string Narrow(const std::wstring& s) { return CommonTools::ToUtf8(s); }

const int kRepeatLimit = 100;
// An answer file answers a run's questions in a few pages of text; anything larger is not one.
constexpr std::size_t kMaxAnswerFileBytes = 1u << 20;

}  // namespace

const std::wstring* AnswerSection::Find(const std::wstring& key) const {
  for (const auto& kv : values)
    if (CommonTools::EqualNoCase(kv.first, key)) return &kv.second;
  return nullptr;
}

ScriptedBackend::ScriptedBackend(const std::string& text, std::wstring sourceName)
    : m_source(std::move(sourceName)) {
  std::wstring all = CommonTools::FromUtf8(text);
  if (!all.empty() && all[0] == 0xFEFF) all.erase(0, 1);
  std::wistringstream in(all);
  std::wstring raw;
  int lineNo = 0;
  auto bad = [&](const std::wstring& why) {
    throw std::runtime_error(Narrow(m_source + L", line " + std::to_wstring(lineNo) + L": " + why));
  };
  while (std::getline(in, raw)) {
    ++lineNo;
    std::wstring line = Trim(raw);
    if (line.empty() || line[0] == L'#' || line[0] == L';') continue;
    if (line[0] == L'[') {
      if (line.back() != L']') bad(L"a section header must end with \"]\"");
      std::wstring inner = Trim(line.substr(1, line.size() - 2));
      size_t sp = inner.find_first_of(L" \t");
      AnswerSection sec;
      sec.line = lineNo;
      sec.kind = Upper(sp == std::wstring::npos ? inner : inner.substr(0, sp));
      sec.name = sp == std::wstring::npos ? L"" : Unquote(Trim(inner.substr(sp + 1)), &sec.quoted);
      bool named = sec.kind == L"PAGE" || sec.kind == L"MESSAGE" || sec.kind == L"FILE-DIALOG" ||
                   sec.kind == L"PROGRESS";
      bool unnamed = sec.kind == L"SCREENSHOTS" || sec.kind == L"DEFAULTS";
      if (!named && !unnamed)
        bad(L"unknown section kind \"" + sec.kind +
            L"\" (page, message, file-dialog, progress, screenshots or defaults)");
      if (sec.kind == L"PROGRESS" && !CommonTools::EqualNoCase(sec.name, L"Escape"))
        bad(L"a progress section is [progress Escape]");
      if (named && sec.name.empty()) bad(L"the section needs a name");
      if (unnamed && !sec.name.empty()) bad(L"the section [" + sec.kind + L"] takes no name");
      m_sections.push_back(std::move(sec));
      continue;
    }
    size_t eq = line.find(L'=');
    if (eq == std::wstring::npos) bad(L"expected \"name = value\" or a section header");
    if (m_sections.empty()) bad(L"a value outside any section");
    std::wstring key = Trim(line.substr(0, eq));
    if (key.empty()) bad(L"a value without a name");
    m_sections.back().values.emplace_back(key, Unquote(Trim(line.substr(eq + 1))));
    if (m_sections.back().kind == L"DEFAULTS") {
      const std::wstring& value = m_sections.back().values.back().second;
      if (!CommonTools::EqualNoCase(key, L"button") || !CommonTools::EqualNoCase(value, L"default"))
        bad(L"[defaults] takes \"button = default\" only");
      m_defaults = true;
    }
  }
}

std::string ScriptedBackend::ScreenshotFolder() const {
  for (const auto& s : m_sections)
    if (s.kind == L"SCREENSHOTS")
      if (const std::wstring* folder = s.Find(L"folder"); folder && !folder->empty())
        return Narrow(*folder);
  const char* env = std::getenv("TOLMERA_SCREENSHOTS");
  return env ? env : "";
}

bool ScriptedBackend::AnswersMessage(const std::wstring& id) const {
  for (const auto& s : m_sections)
    if (s.kind == L"MESSAGE" && !s.quoted && CommonTools::EqualNoCase(s.name, id)) return true;
  return false;
}

std::unique_ptr<ScriptedBackend> ScriptedBackend::FromFile(const std::string& hostPath) {
  std::string text, why;
  if (platform::hostio::ReadRegularFile(hostPath, text, kMaxAnswerFileBytes, &why) !=
      platform::ERROR_SUCCESS)
    throw std::runtime_error("The answer file " + hostPath + " cannot be read: " + why);
  return std::make_unique<ScriptedBackend>(text, CommonTools::FromUtf8(hostPath));
}

const AnswerSection* ScriptedBackend::Take(const std::wstring& kind, const std::wstring& name,
                                           bool quoted) {
  std::wstring key = kind + L"\n" + (quoted ? L"\"" : L"") + Upper(name);
  int used = m_used[key];
  const AnswerSection* found = nullptr;
  int seen = 0;
  for (const auto& s : m_sections) {
    if (s.kind != kind || s.quoted != quoted) continue;
    bool match = quoted ? s.name == name : CommonTools::EqualNoCase(s.name, name);
    if (!match) continue;
    found = &s;
    if (seen++ == used) break;
  }
  if (found) {
    // The last section keeps answering; an answer that brings the same question back
    // without end would make the run endless.
    if (used >= seen + kRepeatLimit)
      Fail(L"The " + platform::ToLower(kind) + L" " + name + L" came back " +
           std::to_wstring(used) + L" times with the same answer; the run would not end");
    m_used[key] = used + 1;
  }
  return found;
}

void CScriptedProgress::SetStageText(const std::wstring& stageId, const std::wstring& text) {
  CProgressState::SetStageText(stageId, text);
  if (!m_stage.empty() && CommonTools::EqualNoCase(stageId, m_stage)) m_due = true;
}

void CScriptedProgress::SetItemText(const std::wstring& text) {
  CProgressState::SetItemText(text);
  if (text.find_first_not_of(L' ') == std::wstring::npos) return;
  ++m_seen;
  if (m_items > 0 && m_seen >= m_items) m_due = true;
}

void CScriptedProgress::PumpMessages() {
  if (!m_due || m_pressed) return;
  if (!IsActive() || !IsEscapeAllowed() || ItemText().empty()) return;
  m_pressed = true;
  CommonTools::LogLine(CommonTools::LogLevel::Info,
                       L"Escape pressed at stage " + StageId() + L", item " + ItemText());
  PressEscape();
}

std::shared_ptr<IProgressDisplay> ScriptedBackend::MakeMainWindow() const {
  std::wstring stage;
  unsigned items = 0;
  for (const auto& s : m_sections) {
    if (s.kind != L"PROGRESS") continue;
    if (const std::wstring* v = s.Find(L"stage")) stage = *v;
    if (const std::wstring* v = s.Find(L"items")) {
      try {
        long n = std::stol(*v);
        items = n > 0 ? static_cast<unsigned>(n) : 0;
      } catch (const std::exception&) {
        Fail(L"The value items = " + *v + L" of [progress Escape] is not a number");
      }
    }
  }
  return std::make_shared<CScriptedProgress>(stage, items);
}

int ScriptedBackend::UseCount(const std::wstring& kind, const std::wstring& name) const {
  int n = 0;
  for (const auto& [k, v] : m_used) {
    size_t nl = k.find(L'\n');
    std::wstring n2 = k.substr(nl + 1);
    if (!n2.empty() && n2[0] == L'"') n2 = n2.substr(1);
    if (k.substr(0, nl) == Upper(kind) && CommonTools::EqualNoCase(n2, name)) n += v;
  }
  return n;
}

void ScriptedBackend::Fail(const std::wstring& what) const {
  throw UnansweredQuestion(Narrow(what + L" (answer file " + m_source + L")"));
}

int ScriptedBackend::ShowMessageBox(const MessageRequest& request) {
  const AnswerSection* sec = nullptr;
  if (!request.id.empty()) sec = Take(L"MESSAGE", request.id, false);
  if (!sec) sec = Take(L"MESSAGE", request.text, true);
  std::vector<int> allowed = AllowedAnswers(request.style);
  std::wstring label = request.id.empty() ? L"\"" + request.text + L"\"" : request.id;
  int answer = 0;
  if (sec) {
    const std::wstring* a = sec->Find(L"answer");
    if (!a) Fail(L"The answer for the message box " + label + L" has no \"answer\" value");
    answer = AnswerFromName(*a);
    bool ok = false;
    for (int x : allowed) ok = ok || x == answer;
    if (!ok) Fail(L"The answer \"" + *a + L"\" does not fit the message box " + label);
  } else if ((request.style & MB_TYPEMASK) == MB_OK) {
    answer = IDOK;
  } else if (m_defaults) {
    answer = DefaultAnswer(request.style);
  } else {
    Fail(L"No answer for the message box " + label + L": " + request.text);
  }
  CommonTools::LogLine(CommonTools::LogLevel::Info,
                       L"Message box: " + request.text + L" -> " + AnswerName(answer));
  return answer;
}

std::optional<std::wstring> ScriptedBackend::ShowFileDialog(const FileDialogRequest& request) {
  const AnswerSection* sec = nullptr;
  if (!request.titleId.empty()) sec = Take(L"FILE-DIALOG", request.titleId, false);
  if (!sec) sec = Take(L"FILE-DIALOG", request.save ? L"save" : L"open", false);
  if (!sec) Fail(L"No answer for the file dialog \"" + request.title + L"\"");
  const std::wstring* path = sec->Find(L"path");
  const std::wstring* a = sec->Find(L"answer");
  if (a && AnswerFromName(*a) == IDCANCEL) {
    CommonTools::LogLine(CommonTools::LogLevel::Info,
                         L"File dialog: " + request.title + L" -> Cancel");
    return std::nullopt;
  }
  if (!path || path->empty())
    Fail(L"The answer for the file dialog \"" + request.title +
         L"\" has neither \"path\" nor \"answer = Cancel\"");
  CommonTools::LogLine(CommonTools::LogLevel::Info,
                       L"File dialog: " + request.title + L" -> " + *path);
  return *path;
}

PageButton ScriptedBackend::RunPageModal(IPage& page) {
  // The page is set up as for a window: its texts, its switches, what the run gave it.
  page.OnInit();
  for (;;) {
    const AnswerSection* sec = Take(L"PAGE", page.GetName(), false);
    if (!sec && m_defaults) {
      // The default button of every page is Next (Finish on the last), with what it offers.
      if (!page.CanLeaveWithNext())
        Fail(L"The page " + page.GetName() + L" does not accept Next with the values it offers");
      page.OnLeave(PageButton::Next);
      CommonTools::LogLine(CommonTools::LogLevel::Info,
                           L"Page " + page.GetName() + L" -> " + PageButtonName(PageButton::Next));
      return PageButton::Next;
    }
    if (!sec) Fail(L"No answer for the page " + page.GetName());
    const std::wstring* buttonText = nullptr;
    for (const auto& [k, v] : sec->values) {
      if (CommonTools::EqualNoCase(k, L"button")) {
        buttonText = &v;
        continue;
      }
      if (!page.SetField(k, v))
        Fail(L"The page " + page.GetName() + L" has no value \"" + k + L"\" or does not accept \"" +
             v + L"\"");
    }
    if (!buttonText) Fail(L"The answer for the page " + page.GetName() + L" names no button");
    PageButton button;
    if (CommonTools::EqualNoCase(*buttonText, L"Next"))
      button = PageButton::Next;
    else if (CommonTools::EqualNoCase(*buttonText, L"Back"))
      button = PageButton::Back;
    else if (CommonTools::EqualNoCase(*buttonText, L"Cancel"))
      button = PageButton::Cancel;
    else
      Fail(L"Unknown button \"" + *buttonText + L"\" for the page " + page.GetName());
    // A page that refuses Next would keep a person on it; an answer file cannot try again.
    if (button == PageButton::Next && !page.CanLeaveWithNext())
      Fail(L"The page " + page.GetName() + L" does not accept the answer's values");
    if (button == PageButton::Cancel) {
      if (!page.CanCancel()) Fail(L"The page " + page.GetName() + L" does not close with Cancel");
      // "button = Cancel" is the person's Cancel and Yes to the question; a file that answers
      // the question itself gets it asked, and No keeps the page for its next answer.
      if (AnswersMessage(ScriptNames::Message::kCancelInstallation) && !page.ConfirmCancel()) {
        CommonTools::LogLine(CommonTools::LogLevel::Info,
                             L"Page " + page.GetName() + L" -> Cancel, not confirmed");
        continue;
      }
    }
    page.OnLeave(button);
    CommonTools::LogLine(CommonTools::LogLevel::Info,
                         L"Page " + page.GetName() + L" -> " + PageButtonName(button));
    return button;
  }
}

}  // namespace InstallGui
