// The folder browser: a tree of the machine's drives and network (computers and their shares)
// with their folders, opened at the start folder; OK gives the chosen folder. It shows the
// machine's file system through the machine layer, never the host's.
#pragma once

#include "gui/pages/FolderBrowser.h"

#include <wx/dialog.h>

#include <string>

class wxTreeCtrl;
class wxTreeEvent;
class wxStaticText;
class wxTreeItemId;

namespace InstallGui {

class CBrowseDirDlg : public wxDialog {
 public:
  // `scriptCaption`: the script's folder-browser caption, used when no caption is set.
  CBrowseDirDlg(wxWindow* owner, const std::wstring& scriptCaption = L"");
  void SetStartFolder(const std::wstring& folder) { m_start = folder; }
  void SetCaption(const std::wstring& text) { m_caption = text; }
  void SetPrompt(const std::wstring& text) { m_prompt = text; }
  // IDOK (1) with Result() set, or IDCANCEL (2).
  int DoModal();
  const std::wstring& Result() const { return m_result; }
  // Builds the tree and selects the start folder (DoModal does it; tests call it directly).
  void Prepare();
  std::wstring SelectedPath() const;
  // Selects the entry of `path` in the tree, expanding what leads to it; false when missing.
  bool SelectPath(const std::wstring& path);

 private:
  void Fill(const wxTreeItemId& item);
  std::wstring m_start, m_caption, m_prompt, m_scriptCaption, m_result;
  CFolderBrowser m_browser;
  wxTreeCtrl* m_tree = nullptr;
  wxStaticText* m_promptText = nullptr;
  wxStaticText* m_status = nullptr;
};

}  // namespace InstallGui
