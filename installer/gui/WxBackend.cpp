#include "gui/WxBackend.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <map>

namespace InstallGui {

namespace {

wxWindow* Owner() {
  wxWindow* top = wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
  return top && top->IsShown() ? top : nullptr;
}

// The page window of this stage: the page's title, one line per value and the three buttons.
// The pages' own windows replace it.
class PlainPageDialog : public wxDialog {
 public:
  explicit PlainPageDialog(IPage& page)
      : wxDialog(Owner(), wxID_ANY, page.GetTitle()), m_page(page) {
    auto* top = new wxBoxSizer(wxVERTICAL);
    top->Add(new wxStaticText(this, wxID_ANY, page.GetTitle()), 0, wxALL, 10);
    auto* grid = new wxFlexGridSizer(2, 5, 5);
    for (const auto& name : page.FieldNames()) {
      grid->Add(new wxStaticText(this, wxID_ANY, name), 0, wxALIGN_CENTER_VERTICAL);
      auto* edit = new wxTextCtrl(this, wxID_ANY, page.GetField(name));
      m_edits[name] = edit;
      grid->Add(edit, 1, wxEXPAND);
    }
    top->Add(grid, 1, wxEXPAND | wxALL, 10);
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(new wxButton(this, wxID_BACKWARD, "< Back"), 0, wxALL, 5);
    buttons->Add(new wxButton(this, wxID_FORWARD, "Next >"), 0, wxALL, 5);
    buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"), 0, wxALL, 5);
    top->Add(buttons, 0, wxALIGN_RIGHT);
    SetSizerAndFit(top);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Leave(PageButton::Back); }, wxID_BACKWARD);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Leave(PageButton::Next); }, wxID_FORWARD);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { Leave(PageButton::Cancel); }, wxID_CANCEL);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Leave(PageButton::Cancel); });
  }

  PageButton button = PageButton::Cancel;

 private:
  void Leave(PageButton b) {
    for (auto& [name, edit] : m_edits) m_page.SetField(name, edit->GetValue().ToStdWstring());
    if (b == PageButton::Next && !m_page.CanLeaveWithNext()) return;
    button = b;
    EndModal(wxID_OK);
  }

  IPage& m_page;
  std::map<std::wstring, wxTextCtrl*> m_edits;
};

}  // namespace

std::wstring WxFilterFromWindowsFilter(const std::wstring& filter) {
  std::wstring f = filter;
  while (!f.empty() && f.back() == L'|') f.pop_back();
  return f;
}

int WxBackend::ShowMessageBox(const MessageRequest& request) {
  long style = 0;
  switch (request.style & MB_TYPEMASK) {
    case MB_OKCANCEL: style = wxOK | wxCANCEL; break;
    case MB_YESNO: style = wxYES_NO; break;
    case MB_YESNOCANCEL: style = wxYES_NO | wxCANCEL; break;
    case MB_RETRYCANCEL: style = wxOK | wxCANCEL; break;
    case MB_ABORTRETRYIGNORE: style = wxYES_NO | wxCANCEL; break;
    default: style = wxOK; break;
  }
  switch (request.style & MB_ICONMASK) {
    case MB_ICONERROR: style |= wxICON_ERROR; break;
    case MB_ICONQUESTION: style |= wxICON_QUESTION; break;
    case MB_ICONEXCLAMATION: style |= wxICON_EXCLAMATION; break;
    case MB_ICONINFORMATION: style |= wxICON_INFORMATION; break;
    default: break;
  }
  wxMessageDialog dlg(Owner(), request.text, request.caption, style);
  unsigned type = request.style & MB_TYPEMASK;
  if (type == MB_RETRYCANCEL) dlg.SetOKCancelLabels("Retry", "Cancel");
  if (type == MB_ABORTRETRYIGNORE) dlg.SetYesNoCancelLabels("Abort", "Retry", "Ignore");
  int r = dlg.ShowModal();
  switch (type) {
    case MB_RETRYCANCEL: return r == wxID_OK ? IDRETRY : IDCANCEL;
    case MB_ABORTRETRYIGNORE: return r == wxID_YES ? IDABORT : r == wxID_NO ? IDRETRY : IDIGNORE;
    default: break;
  }
  switch (r) {
    case wxID_YES: return IDYES;
    case wxID_NO: return IDNO;
    case wxID_CANCEL: return IDCANCEL;
    default: return IDOK;
  }
}

std::optional<std::wstring> WxBackend::ShowFileDialog(const FileDialogRequest& request) {
  long style = request.save ? wxFD_SAVE : wxFD_OPEN;
  if (request.flags & OFN_OVERWRITEPROMPT) style |= wxFD_OVERWRITE_PROMPT;
  if (request.flags & OFN_FILEMUSTEXIST) style |= wxFD_FILE_MUST_EXIST;
  wxFileDialog dlg(Owner(), request.title, wxEmptyString, request.fileName,
                   WxFilterFromWindowsFilter(request.filter), style);
  if (dlg.ShowModal() != wxID_OK) return std::nullopt;
  return dlg.GetPath().ToStdWstring();
}

PageButton WxBackend::RunPageModal(IPage& page) {
  PlainPageDialog dlg(page);
  dlg.ShowModal();
  page.OnLeave(dlg.button);
  return dlg.button;
}

}  // namespace InstallGui
