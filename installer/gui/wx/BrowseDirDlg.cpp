#include "gui/wx/BrowseDirDlg.h"

#include "gui/UiBackend.h"
#include "gui/wx/BaseDialog.h"
#include "gui/wx/Screen.h"
#include "platform/Text.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/treectrl.h>

namespace InstallGui {

namespace {

class PathRef : public wxTreeItemData {
 public:
  explicit PathRef(std::wstring p) : path(std::move(p)) {}
  std::wstring path;
  bool filled = false;
};

PathRef* RefOf(wxTreeCtrl* tree, const wxTreeItemId& id) {
  return id.IsOk() ? dynamic_cast<PathRef*>(tree->GetItemData(id)) : nullptr;
}

}  // namespace

CBrowseDirDlg::CBrowseDirDlg(wxWindow* owner, const std::wstring& scriptCaption)
    : wxDialog(owner, wxID_ANY, wxEmptyString, wxDefaultPosition, wxSize(420, 460),
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER),
      m_scriptCaption(scriptCaption) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  m_promptText = new wxStaticText(this, wxID_ANY, wxEmptyString);
  sizer->Add(m_promptText, 0, wxEXPAND | wxALL, 8);
  m_tree = new wxTreeCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                          wxTR_HIDE_ROOT | wxTR_HAS_BUTTONS | wxTR_SINGLE | wxTR_LINES_AT_ROOT);
  sizer->Add(m_tree, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);
  m_status = new wxStaticText(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                              wxST_ELLIPSIZE_MIDDLE);
  sizer->Add(m_status, 0, wxEXPAND | wxALL, 8);
  auto* buttons = new wxStdDialogButtonSizer;
  buttons->AddButton(new wxButton(this, wxID_OK));
  buttons->AddButton(new wxButton(this, wxID_CANCEL));
  buttons->Realize();
  sizer->Add(buttons, 0, wxEXPAND | wxBOTTOM | wxLEFT | wxRIGHT, 8);
  SetSizer(sizer);

  m_tree->Bind(wxEVT_TREE_ITEM_EXPANDING, [this](wxTreeEvent& e) { Fill(e.GetItem()); });
  m_tree->Bind(wxEVT_TREE_SEL_CHANGED, [this](wxTreeEvent&) {
    std::wstring path = SelectedPath();
    bool folder = CFolderBrowser::IsFileSystemFolder(path);
    m_status->SetLabel(folder ? path : L"");
    if (wxWindow* ok = FindWindow(wxID_OK)) ok->Enable(folder);
  });
}

void CBrowseDirDlg::Fill(const wxTreeItemId& item) {
  PathRef* ref = RefOf(m_tree, item);
  if (!ref || ref->filled) return;
  ref->filled = true;
  m_tree->DeleteChildren(item);
  wxBusyCursor busy;
  for (const auto& child : m_browser.Children(ref->path)) {
    wxTreeItemId id =
        m_tree->AppendItem(item, CFolderBrowser::Label(child), -1, -1, new PathRef(child));
    // Whether it has folders is learnt when it is opened.
    m_tree->SetItemHasChildren(id, true);
  }
  if (!m_tree->ItemHasChildren(item) || m_tree->GetChildrenCount(item, false) == 0)
    m_tree->SetItemHasChildren(item, false);
}

void CBrowseDirDlg::Prepare() {
  SetTitle(CFolderBrowser::Title(m_caption, m_scriptCaption));
  m_promptText->SetLabel(m_prompt);
  m_promptText->Show(!m_prompt.empty());
  m_tree->DeleteAllItems();
  wxTreeItemId root = m_tree->AddRoot(wxEmptyString);
  for (const auto& r : m_browser.Roots()) {
    wxTreeItemId id = m_tree->AppendItem(root, CFolderBrowser::Label(r), -1, -1, new PathRef(r));
    m_tree->SetItemHasChildren(id, true);
  }
  if (!m_start.empty()) SelectPath(m_start);
  Layout();
}

bool CBrowseDirDlg::SelectPath(const std::wstring& path) {
  wxTreeItemId at = m_tree->GetRootItem();
  for (const auto& step : CFolderBrowser::PathChain(path)) {
    Fill(at);
    wxTreeItemIdValue cookie;
    wxTreeItemId found;
    for (wxTreeItemId c = m_tree->GetFirstChild(at, cookie); c.IsOk();
         c = m_tree->GetNextChild(at, cookie))
      if (PathRef* ref = RefOf(m_tree, c); ref && platform::EqualsNoCase(ref->path, step)) {
        found = c;
        break;
      }
    if (!found.IsOk()) return false;
    if (at != m_tree->GetRootItem()) m_tree->Expand(at);
    at = found;
  }
  if (at == m_tree->GetRootItem()) return false;
  m_tree->SelectItem(at);
  m_tree->EnsureVisible(at);
  return true;
}

std::wstring CBrowseDirDlg::SelectedPath() const {
  PathRef* ref = RefOf(m_tree, m_tree->GetSelection());
  return ref ? ref->path : L"";
}

int CBrowseDirDlg::DoModal() {
  Prepare();
  // On a person's display it stays on the screen its page was fitted to.
  if (auto* page = dynamic_cast<CBaseDialog*>(GetParent())) KeepOnScreen(*this, page->Screen());
  if (ShowModal() != wxID_OK) return IDCANCEL;
  std::wstring path = SelectedPath();
  if (!CFolderBrowser::IsFileSystemFolder(path)) return IDCANCEL;
  m_result = path;
  return IDOK;
}

}  // namespace InstallGui
