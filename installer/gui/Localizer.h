// The texts of a window in the current language: a section of the language element (one per
// window), its "Caption" as the window title and one child per text key. The switches under
// "DIALOGS" that hide pages and controls.
#pragma once

#include "gui/Languages.h"
#include "package/Settings.h"

#include <string>
#include <vector>

namespace InstallGui {

// What a window offers to the localiser; the wx pages implement it over their controls.
class ILocalizedWindow {
 public:
  virtual ~ILocalizedWindow() = default;
  virtual void SetTitle(const std::wstring& text) = 0;
  virtual bool HasControl(int controlId) = 0;
  virtual void SetControlText(int controlId, const std::wstring& text) = 0;
};

// "\n" (backslash, n) pairs of a script text become line feeds; nothing else is an escape.
std::wstring ExpandLineBreaks(std::wstring text);

class CLocalizer {
 public:
  explicit CLocalizer(CommonTools::ILanguages& languages) : m_languages(languages) {}

  // Takes the section `name` of the current language; false (and no section) without it.
  bool SelectSection(const std::wstring& name);
  void AddControl(const std::wstring& key, int controlId);
  void AddString(const std::wstring& key, std::wstring* target);
  // Drops the first entry of this control, then adds the key for it.
  void ReplaceControl(const std::wstring& key, int controlId);
  // Fills the title and the texts; a missing key is logged ("Node %s/%s not found!") and
  // skipped. False without a section.
  bool Apply(ILocalizedWindow* window);

  // The text of one key of the selected section, or false (logged like Apply) without it.
  bool GetText(const std::wstring& key, std::wstring& text);
  // The section's own "Caption" (line breaks expanded), empty without a section.
  std::wstring GetCaption();

 private:
  struct Entry {
    std::wstring key;
    int kind = 1;  // 1 control text, 2 text into a string
    int controlId = 0;
    std::wstring* target = nullptr;
  };
  CommonTools::ILanguages& m_languages;
  CommonTools::SettingsNodePtr m_section;
  std::wstring m_sectionName;
  std::vector<Entry> m_entries;
};

// The switches under DIALOGS: "Show" equal to "n" in any case hides; anything else, or a
// missing element, shows.
bool IsDialogShown(const CommonTools::SettingsNodePtr& root, const std::wstring& sectionName);
bool IsControlShown(const CommonTools::SettingsNodePtr& root, const std::wstring& sectionName,
                    const std::wstring& key);

}  // namespace InstallGui
