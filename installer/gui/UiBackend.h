// Every question the installer asks goes through one interface: message boxes, file dialogs
// and wizard pages run modally. Two back-ends implement it: real wx windows for people, and a
// scripted back-end that takes every answer from an answer file (TOLMERA_ANSWERS) and never
// waits. The page itself is a toolkit-free presenter; a back-end only shows it.
#pragma once

#include "gui/ProgressDisplay.h"
#include "package/Settings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace CommonTools {
class ILanguages;
class IGraphics;
}  // namespace CommonTools

namespace InstallGui {

// Message-box styles and answers, with the platform's values.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_ABORTRETRYIGNORE = 0x2;
inline constexpr unsigned MB_YESNOCANCEL = 0x3;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_RETRYCANCEL = 0x5;
inline constexpr unsigned MB_TYPEMASK = 0xF;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr unsigned MB_ICONMASK = 0xF0;
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;
inline constexpr unsigned MB_DEFBUTTON3 = 0x200;
inline constexpr unsigned MB_DEFMASK = 0xF00;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// File-dialog flags.
inline constexpr unsigned OFN_OVERWRITEPROMPT = 0x2;
inline constexpr unsigned OFN_HIDEREADONLY = 0x4;
inline constexpr unsigned OFN_FILEMUSTEXIST = 0x1000;

// The answers a message box of `style` allows, in button order.
std::vector<int> AllowedAnswers(unsigned style);
// The answer of the button that is the default of a message box of `style` (the first one unless
// the style names the second or the third).
int DefaultAnswer(unsigned style);
// "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"; "" for anything else.
std::wstring AnswerName(int answer);
// The answer named (any case), or 0.
int AnswerFromName(const std::wstring& name);

struct MessageRequest {
  std::wstring id;       // the script message ID, empty for a literal text
  std::wstring text;     // the text shown
  std::wstring caption;  // the caption shown
  unsigned style = MB_OK;
};

struct FileDialogRequest {
  bool save = true;      // Save-file dialog, else Open-file dialog
  std::wstring titleId;  // the script message ID of the title, if any
  std::wstring title;
  std::wstring fileName;  // suggested file name
  std::wstring filter;    // "Text|*.x|All|*.*|" as the platform writes it
  unsigned flags = 0;     // OFN_*
};

enum class PageButton { Back, Next, Cancel };
const wchar_t* PageButtonName(PageButton b);

// A wizard page's presenter as a back-end sees it: a name, named values the user can set,
// and what the page does with the button pressed.
class IPage {
 public:
  virtual ~IPage() = default;
  // The page's name (its section in the script, e.g. "DLG_GREETING").
  virtual std::wstring GetName() const = 0;
  // The title a window shows.
  virtual std::wstring GetTitle() const { return GetName(); }
  // Sets a named value as the user would; false for a name the page does not have or a
  // value it does not accept.
  virtual bool SetField(const std::wstring& name, const std::wstring& value) = 0;
  virtual std::wstring GetField(const std::wstring& name) const = 0;
  virtual std::vector<std::wstring> FieldNames() const = 0;
  // A text the run hands the page to show (the finish page's closing message); empty: the
  // page shows its section's text.
  virtual std::wstring MessageText() const { return L""; }
  // Called by a back-end before the page is shown (the page reads its texts and sets itself up).
  virtual void OnInit() {}
  // Whether the person may change the field (a read-only one is not offered for editing).
  virtual bool IsFieldEditable(const std::wstring& name) const { return true; }
  // The values a field offers, in order, when it is a choice; empty for free text.
  virtual std::vector<std::wstring> FieldChoices(const std::wstring& name) const { return {}; }
  // The page's checks before it is left with Next; false keeps the user on the page (the
  // page has told the user why).
  virtual bool CanLeaveWithNext() { return true; }
  // The page keeps its values (writes them into the user settings) when it is left.
  virtual void OnLeave(PageButton button) {}
  // Whether Cancel may leave the page at all (the finish page ignores it).
  virtual bool CanCancel() const { return true; }
  // The question asked before Cancel leaves the page; false keeps the page open.
  virtual bool ConfirmCancel() { return true; }
  // What pressing `button` does, the same for every back-end: true when the page is left with
  // it (Next after the page's checks, Back, Cancel when allowed and confirmed); the values are
  // kept on Next and Back, never on Cancel.
  bool Press(PageButton button);
};

// A question the answer file does not answer, or answers in a way the question does not allow.
// The run ends with a clear log line; it never waits.
class UnansweredQuestion : public std::runtime_error {
 public:
  explicit UnansweredQuestion(const std::string& what) : std::runtime_error(what) {}
};

// What the main window is made from.
struct MainWindowRequest {
  std::wstring installType;  // the script's "InstallType" ("Uninstall" picks the removal icon)
  std::wstring iconPath;     // the icon file (a path of the machine), may be empty
  CommonTools::ILanguages* languages = nullptr;  // for DLG_PROGRESS of the current language
  CommonTools::IGraphics* graphics = nullptr;    // the background picture
  std::function<bool(CommonTools::SettingsNodePtr&)> root;  // the script's root ("ProgressBar")
};

class IUiBackend {
 public:
  virtual ~IUiBackend() = default;
  // Returns IDOK, IDYES ... as the platform's MessageBoxW does.
  virtual int ShowMessageBox(const MessageRequest& request) = 0;
  // The chosen path, or nothing when the dialog was cancelled.
  virtual std::optional<std::wstring> ShowFileDialog(const FileDialogRequest& request) = 0;
  // Runs the page until it is left; returns the button that left it.
  virtual PageButton RunPageModal(IPage& page) = 0;
  // True for a back-end that needs no display.
  virtual bool IsScripted() const = 0;

  // The main window: made (or prepared again) for the run, and its progress display, which the
  // run reports to from then on; none from a back-end without windows (the run keeps the
  // display it has). Localised again after a change of language.
  virtual std::shared_ptr<IProgressDisplay> CreateMainWindow(const MainWindowRequest& request) {
    return nullptr;
  }
  virtual void LocalizeMainWindow() {}
};

// The back-end for this process: the scripted one when TOLMERA_ANSWERS names an answer file,
// else the wx one. Throws std::runtime_error when the answer file cannot be read.
std::unique_ptr<IUiBackend> CreateUiBackendFromEnvironment();

}  // namespace InstallGui
