// The scripted back-end: answers pages, message boxes and file dialogs from an answer file.
// The format is described in ANSWERS.md beside this file.
#pragma once

#include "gui/ProgressDisplay.h"
#include "gui/UiBackend.h"

#include <map>
#include <string>
#include <vector>

namespace InstallGui {

struct AnswerSection {
  std::wstring kind;    // "page", "message", "file-dialog", "progress", "screenshots" or "defaults"
  std::wstring name;    // page name, message ID or quoted text, "save" or "open" or a title ID
  bool quoted = false;  // the name was written in quotes (a literal message text)
  std::vector<std::pair<std::wstring, std::wstring>> values;  // in file order
  int line = 0;                                               // line of the section header
  const std::wstring* Find(const std::wstring& key) const;
};

// A progress display that presses Escape once, as a person would: when the stage `stage`
// ("TEXT_INSTALL", ...) has begun, or when `items` item texts have been shown (0: no such
// trigger), at the first moment the key counts (Escape's own rules apply).
class CScriptedProgress : public CProgressState {
 public:
  CScriptedProgress(std::wstring stage, unsigned items)
      : m_stage(std::move(stage)), m_items(items) {}
  void SetStageText(const std::wstring& stageId, const std::wstring& text) override;
  void SetItemText(const std::wstring& text) override;
  void PumpMessages() override;
  bool Pressed() const { return m_pressed; }

 private:
  std::wstring m_stage;
  unsigned m_items = 0;
  unsigned m_seen = 0;
  bool m_due = false;
  bool m_pressed = false;
};

class ScriptedBackend : public IUiBackend {
 public:
  // Parses answer-file text (UTF-8). Throws std::runtime_error naming the line of a
  // malformed line.
  ScriptedBackend(const std::string& text, std::wstring sourceName);
  static std::unique_ptr<ScriptedBackend> FromFile(const std::string& hostPath);

  int ShowMessageBox(const MessageRequest& request) override;
  std::optional<std::wstring> ShowFileDialog(const FileDialogRequest& request) override;
  PageButton RunPageModal(IPage& page) override;
  bool IsScripted() const override { return true; }

  // The host folder for screenshots: "folder" of [screenshots], else the environment variable
  // TOLMERA_SCREENSHOTS; empty for none.
  std::string ScreenshotFolder() const;
  // Whether the file answers this message ID.
  bool AnswersMessage(const std::wstring& id) const;

  // The main window of an unattended run: it shows nothing and presses Escape where the
  // answer file's [progress Escape] section says (at a named stage, after a number of items).
  std::shared_ptr<IProgressDisplay> MakeMainWindow() const;

  // How many times each section was used (for tests and for the log).
  int UseCount(const std::wstring& kind, const std::wstring& name) const;

 private:
  // The next section of this kind and name: occurrences are used in file order; the last one
  // keeps answering. nullptr when there is none.
  const AnswerSection* Take(const std::wstring& kind, const std::wstring& name, bool quoted);
  [[noreturn]] void Fail(const std::wstring& what) const;

  std::wstring m_source;
  std::vector<AnswerSection> m_sections;
  bool m_defaults = false;             // [defaults] button = default: unanswered questions take it
  std::map<std::wstring, int> m_used;  // key: kind + "\n" + upper-cased name
};

}  // namespace InstallGui
