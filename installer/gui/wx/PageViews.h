// The windows of the wizard pages: one view per presenter of gui/pages, each on the page
// template of CBaseDialog, each only showing its presenter's state and passing the person's
// clicks to it (CBaseDialog::Make picks the view).
#pragma once

#include "gui/pages/DlgClientAttributes.h"
#include "gui/wx/BaseDialog.h"

#include <wx/dialog.h>

class wxListBox;

namespace InstallGui {

// The computer list of the client attributes page (template 142).
class CComputerSelectView : public wxDialog, public ILocalizedWindow {
 public:
  CComputerSelectView(wxWindow* parent, CDlgComputerSelect& model,
                      CommonTools::ILanguages* languages);
  void SetTitle(const std::wstring& text) override { wxDialog::SetTitle(text); }
  bool HasControl(int id) override { return FindWindow(id) != nullptr; }
  void SetControlText(int id, const std::wstring& text) override;

 private:
  CDlgComputerSelect& m_model;
  wxListBox* m_list = nullptr;
};

// The script's message `id` of the current language ("" without one).
std::wstring LanguageMessage(CommonTools::ILanguages* languages, const std::wstring& id);

}  // namespace InstallGui
