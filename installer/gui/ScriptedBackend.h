// The scripted back-end: answers pages, message boxes and file dialogs from an answer file.
// The format is described in ANSWERS.md beside this file.
#pragma once

#include "gui/UiBackend.h"

#include <map>
#include <string>
#include <vector>

namespace InstallGui {

struct AnswerSection {
  std::wstring kind;    // "page", "message" or "file-dialog"
  std::wstring name;    // page name, message ID or quoted text, "save" or "open" or a title ID
  bool quoted = false;  // the name was written in quotes (a literal message text)
  std::vector<std::pair<std::wstring, std::wstring>> values;  // in file order
  int line = 0;                                               // line of the section header
  const std::wstring* Find(const std::wstring& key) const;
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

  // How many times each section was used (for tests and for the log).
  int UseCount(const std::wstring& kind, const std::wstring& name) const;

 private:
  // The next section of this kind and name: occurrences are used in file order; the last one
  // keeps answering. nullptr when there is none.
  const AnswerSection* Take(const std::wstring& kind, const std::wstring& name, bool quoted);
  [[noreturn]] void Fail(const std::wstring& what) const;

  std::wstring m_source;
  std::vector<AnswerSection> m_sections;
  std::map<std::wstring, int> m_used;  // key: kind + "\n" + upper-cased name
};

}  // namespace InstallGui
