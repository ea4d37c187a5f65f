#include "gui/UiBackend.h"

#include "gui/ScriptedBackend.h"
#include "gui/WxBackend.h"

#include <cstdlib>
#include <cwctype>

namespace InstallGui {

std::vector<int> AllowedAnswers(unsigned style) {
  switch (style & MB_TYPEMASK) {
    case MB_OK: return {IDOK};
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
  }
}

int DefaultAnswer(unsigned style) {
  const std::vector<int> allowed = AllowedAnswers(style);
  const std::size_t index = (style & MB_DEFMASK) == MB_DEFBUTTON2   ? 1
                            : (style & MB_DEFMASK) == MB_DEFBUTTON3 ? 2
                                                                    : 0;
  return index < allowed.size() ? allowed[index] : allowed.front();
}

std::wstring AnswerName(int answer) {
  switch (answer) {
    case IDOK: return L"OK";
    case IDCANCEL: return L"Cancel";
    case IDABORT: return L"Abort";
    case IDRETRY: return L"Retry";
    case IDIGNORE: return L"Ignore";
    case IDYES: return L"Yes";
    case IDNO: return L"No";
    default: return L"";
  }
}

int AnswerFromName(const std::wstring& name) {
  std::wstring up;
  for (wchar_t c : name) up += static_cast<wchar_t>(std::towupper(c));
  for (int id = IDOK; id <= IDNO; ++id) {
    std::wstring n;
    for (wchar_t c : AnswerName(id)) n += static_cast<wchar_t>(std::towupper(c));
    if (n == up) return id;
  }
  return 0;
}

const wchar_t* PageButtonName(PageButton b) {
  switch (b) {
    case PageButton::Back: return L"Back";
    case PageButton::Next: return L"Next";
    case PageButton::Cancel: return L"Cancel";
  }
  return L"";
}

bool IPage::Press(PageButton button) {
  switch (button) {
    case PageButton::Next:
      if (!CanLeaveWithNext()) return false;
      break;
    case PageButton::Back: break;
    case PageButton::Cancel:
      if (!CanCancel() || !ConfirmCancel()) return false;
      break;
  }
  OnLeave(button);
  return true;
}

std::unique_ptr<IUiBackend> CreateUiBackendFromEnvironment() {
  const char* answers = std::getenv("TOLMERA_ANSWERS");
  if (answers && *answers) return ScriptedBackend::FromFile(answers);
  return std::make_unique<WxBackend>();
}

}  // namespace InstallGui
