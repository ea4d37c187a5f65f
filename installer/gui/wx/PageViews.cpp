#include "gui/wx/PageViews.h"

#include "gui/Languages.h"
#include "gui/pages/DlgComponents.h"
#include "gui/pages/DlgDestination.h"
#include "gui/pages/DlgFinish.h"
#include "gui/pages/DlgGreeting.h"
#include "gui/pages/DlgLangSelect.h"
#include "gui/pages/DlgLicense.h"
#include "gui/pages/DlgSummary.h"
#include "gui/pages/OptionPages.h"
#include "gui/wx/BrowseDirDlg.h"
#include "gui/wx/Screen.h"
#include "gui/wx/TriStateCheckTree.h"
#include "package/ScriptVocabulary.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/evtloop.h>
#include <wx/listbox.h>
#include <wx/panel.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/utils.h>

namespace InstallGui {

std::wstring LanguageMessage(CommonTools::ILanguages* languages, const std::wstring& id) {
  CommonTools::SettingsNodePtr language, messages, message;
  if (!languages || !languages->GetCurrentNode(language) || !language ||
      !language->GetChild(L"MESSAGES", messages) || !messages || !messages->GetChild(id, message) ||
      !message)
    return L"";
  return CommonTools::GetText(message, L"Caption", L"");
}

namespace {

// A view with the helpers every page uses: texts that wrap, and the controls registered under
// their numbers so that the language and the presenter reach them.
class CPageView : public CBaseDialog {
 public:
  CPageView(wxWindow* parent, IPage& page, const PageViewContext& context)
      : CBaseDialog(parent, page, context, OwnBody{}) {
    m_sizer = new wxBoxSizer(wxVERTICAL);
    Content()->SetSizer(m_sizer);
  }

 protected:
  wxStaticText* Text(int id, int border = 6) {
    auto* t = new wxStaticText(Content(), id, wxEmptyString);
    AddControl(id, t);
    m_sizer->Add(t, 0, wxEXPAND | wxBOTTOM, border);
    return t;
  }
  template <class W>
  W* Add(int id, W* w, int proportion = 0, int border = 4) {
    AddControl(id, w);
    m_sizer->Add(w, proportion, wxEXPAND | wxBOTTOM, border);
    return w;
  }
  // The export row of the client package: its text, the folder last copied to, ">>".
  void ExportRow(CClientPackageExport& exporter, std::function<bool(const std::wstring&)> copy) {
    auto* label = new wxStaticText(Content(), kExportText, wxEmptyString);
    AddControl(kExportText, label);
    m_sizer->AddStretchSpacer();
    m_sizer->Add(label, 0, wxEXPAND | wxTOP, 6);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    m_exportFolder = new wxTextCtrl(Content(), kExportFolder, wxEmptyString, wxDefaultPosition,
                                    wxDefaultSize, wxTE_READONLY);
    AddControl(kExportFolder, m_exportFolder);
    auto* button = new wxButton(Content(), kExportButton, ">>", wxDefaultPosition,
                                ConvertDialogToPixels(wxSize(40, 14)));
    AddControl(kExportButton, button);
    row->Add(m_exportFolder, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    row->Add(button, 0, wxALIGN_CENTER_VERTICAL);
    m_sizer->Add(row, 0, wxEXPAND);
    button->Bind(wxEVT_BUTTON, [this, &exporter, copy](wxCommandEvent&) {
      auto* base = dynamic_cast<CBasePage*>(&Page());
      CBrowseDirDlg browser(
          this, LanguageMessage(Context().languages, ScriptNames::Message::kCaptionFolderBrowser));
      browser.SetStartFolder(exporter.StartFolder(*base));
      browser.SetCaption(base->ControlText(kExportText));
      browser.SetPrompt(PromptText(L"TEXT_BROWSE_EXPORTMSI"));
      if (browser.DoModal() == IDOK && !browser.Result().empty()) copy(browser.Result());
      ShowExport(exporter);
    });
  }
  void ShowExport(const CClientPackageExport& exporter) {
    if (m_exportFolder) m_exportFolder->ChangeValue(exporter.CopyMsiPath());
  }
  // A text of the page's section that no control shows.
  std::wstring PromptText(const std::wstring& key) {
    auto* base = dynamic_cast<CBasePage*>(&Page());
    if (!base || !Context().languages) return L"";
    CLocalizer localizer(*Context().languages);
    std::wstring text;
    if (localizer.SelectSection(base->GetSectionName())) localizer.GetText(key, text);
    return text;
  }
  wxBoxSizer* m_sizer = nullptr;
  wxTextCtrl* m_exportFolder = nullptr;
};

class CGreetingView : public CPageView {
 public:
  CGreetingView(wxWindow* parent, CDlgGreeting& page, const PageViewContext& context)
      : CPageView(parent, page, context) {
    Text(kGreetingText);
    FinishInit();
  }
};

class CLanguageView : public CPageView {
 public:
  CLanguageView(wxWindow* parent, CDlgLangSelect& page, const PageViewContext& context)
      : CPageView(parent, page, context), m_page(page) {
    Text(kLanguageText);
    m_list = Add(kLanguageList, new wxListBox(Content(), kLanguageList), 1);
    m_list->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) {
      // The whole wizard follows the language at once.
      m_page.Select(m_list->GetSelection());
      LocalizeAgain();
      m_list->SetFocus();
    });
    FinishInit();
  }

 protected:
  void ShowPage() override {
    m_list->Clear();
    for (const auto& title : m_page.Titles()) m_list->Append(title);
    if (m_page.Selection() >= 0 && m_page.Selection() < static_cast<int>(m_list->GetCount()))
      m_list->SetSelection(m_page.Selection());
  }

 private:
  CDlgLangSelect& m_page;
  wxListBox* m_list;
};

class CLicenseView : public CPageView {
 public:
  CLicenseView(wxWindow* parent, CDlgLicense& page, const PageViewContext& context)
      : CPageView(parent, page, context), m_page(page) {
    auto* caption = Text(kLicenseCaption, 4);
    caption->SetFont(caption->GetFont().Bold());
    m_edit = Add(kLicenseEdit,
                 new wxTextCtrl(Content(), kLicenseEdit, wxEmptyString, wxDefaultPosition,
                                wxDefaultSize, wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH2),
                 1);
    m_accept = Add(kLicenseAccept, new wxCheckBox(Content(), kLicenseAccept, "I accept"), 0, 0);
    m_accept->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) {
      m_page.SetAccepted(m_accept->GetValue());
      ApplyPageState();
      if (m_accept->GetValue())
        if (wxWindow* next = Control(kControlNext)) next->SetFocus();
    });
    m_edit->Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& e) {
      if (e.ControlDown() && (e.GetKeyCode() == 'A' || e.GetKeyCode() == 'a')) {
        m_edit->SetSelection(-1, -1);
        m_edit->ShowPosition(m_edit->GetInsertionPoint());
      } else {
        e.Skip();
      }
    });
    FinishInit();
  }

 protected:
  void ShowPage() override {
    m_edit->ChangeValue(m_page.Text());
    m_edit->ShowPosition(0);
    m_accept->SetValue(m_page.Accepted());
  }

 private:
  CDlgLicense& m_page;
  wxTextCtrl* m_edit;
  wxCheckBox* m_accept;
};

class COptionView : public CPageView {
 public:
  COptionView(wxWindow* parent, COptionPage& page, const PageViewContext& context)
      : CPageView(parent, page, context), m_page(page) {
    Text(page.TextLineControl());
    if (page.TextLineControl() == COptionPage::kTitleLine) Text(1024);
    // A radio group always has a button on; this hidden one is it while no row is chosen.
    m_none = new wxRadioButton(Content(), wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                               wxRB_GROUP);
    m_none->Hide();
    bool first = false;
    for (size_t i = 0; i < page.Rows().size(); ++i) {
      int id = page.Rows()[i].controlId;
      auto* radio = Add(id, new wxRadioButton(Content(), id, wxEmptyString, wxDefaultPosition,
                                              wxDefaultSize, first ? wxRB_GROUP : 0));
      first = false;
      m_radios.push_back(radio);
      radio->Bind(wxEVT_RADIOBUTTON, [this, i](wxCommandEvent&) {
        m_page.Choose(static_cast<int>(i));
        ApplyPageState();
      });
    }
    if (page.OffersExport())
      ExportRow(page.Export(),
                [this](const std::wstring& folder) { return m_page.ExportTo(folder); });
    FinishInit();
  }

 protected:
  void ShowPage() override {
    if (m_page.Selection() < 0) m_none->SetValue(true);
    for (size_t i = 0; i < m_radios.size(); ++i)
      if (static_cast<int>(i) == m_page.Selection()) m_radios[i]->SetValue(true);
    if (auto* update = dynamic_cast<CDlgUpdate*>(&m_page))
      SetControlText(COptionPage::kTitleLine, update->BuildLine());
    ShowExport(m_page.Export());
  }

 private:
  COptionPage& m_page;
  wxRadioButton* m_none = nullptr;
  std::vector<wxRadioButton*> m_radios;
};

class CDestinationView : public CPageView {
 public:
  CDestinationView(wxWindow* parent, CDlgDestination& page, const PageViewContext& context)
      : CPageView(parent, page, context), m_page(page) {
    Text(kDestinationText, 10);
    auto* box = new wxStaticBox(Content(), kDestinationGroup, wxEmptyString);
    AddControl(kDestinationGroup, box);
    auto* group = new wxStaticBoxSizer(box, wxHORIZONTAL);
    m_edit = new wxTextCtrl(box, kDestinationEdit, wxEmptyString);
    AddControl(kDestinationEdit, m_edit);
    auto* browse = new wxButton(box, kDestinationBrowse, "Browse...");
    AddControl(kDestinationBrowse, browse);
    group->Add(m_edit, 1, wxALIGN_CENTER_VERTICAL | wxALL, 4);
    group->Add(browse, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
    m_sizer->Add(group, 0, wxEXPAND | wxBOTTOM, 10);
    m_required = Text(kSpaceRequiredLine, 2);
    m_available = Text(kSpaceAvailableLine, 2);
    m_edit->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
      m_page.SetInstallPath(m_edit->GetValue().ToStdWstring());
      ShowSpace();
    });
    browse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
      CBrowseDirDlg browser(
          this, LanguageMessage(Context().languages, ScriptNames::Message::kCaptionFolderBrowser));
      browser.SetStartFolder(m_page.InstallPath());
      browser.SetCaption(m_page.BrowseCaption());
      browser.SetPrompt(m_page.BrowsePrompt());
      if (browser.DoModal() == IDOK) {
        m_page.AcceptBrowsedFolder(browser.Result());
        ShowPage();
      }
    });
    FinishInit();
  }

 protected:
  void ShowPage() override {
    m_edit->ChangeValue(m_page.InstallPath());
    ShowSpace();
  }

 private:
  void ShowSpace() {
    m_required->SetLabel(m_page.SpaceRequiredLine());
    m_available->SetLabel(m_page.SpaceAvailableLine());
  }
  CDlgDestination& m_page;
  wxTextCtrl* m_edit;
  wxStaticText* m_required;
  wxStaticText* m_available;
};

class CComponentsView : public CPageView {
 public:
  CComponentsView(wxWindow* parent, CDlgComponents& page, const PageViewContext& context)
      : CPageView(parent, page, context), m_page(page) {
    Text(kComponentsText);
    m_tree = Add(kComponentsTree, new CTriStateCheckTree(Content(), kComponentsTree), 1);
    m_tree->SetDataProvider(const_cast<CComponentsDataProv*>(&page.Provider()));
    m_tree->onToggle = [this](IItemData& item) { return m_page.Toggle(item); };
    FinishInit();
  }

 protected:
  void ShowPage() override { m_tree->Rebuild(); }

 private:
  CDlgComponents& m_page;
  CTriStateCheckTree* m_tree;
};

class CSummaryView : public CPageView {
 public:
  CSummaryView(wxWindow* parent, CDlgSummary& page, const PageViewContext& context)
      : CPageView(parent, page, context), m_page(page) {
    auto* box = new wxStaticBox(Content(), kSummaryGroup, wxEmptyString);
    AddControl(kSummaryGroup, box);
    auto* group = new wxStaticBoxSizer(box, wxVERTICAL);
    m_text = new wxStaticText(box, kSummaryText, wxEmptyString);
    AddControl(kSummaryText, m_text);
    m_list = new wxListBox(box, kSummaryList);
    AddControl(kSummaryList, m_list);
    group->Add(m_text, 0, wxEXPAND | wxALL, 4);
    group->Add(m_list, 1, wxEXPAND | wxALL, 4);
    m_sizer->Add(group, 1, wxEXPAND);
    // The list is for reading only: clicks and keys aimed at it do nothing.
    for (auto type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_DCLICK, wxEVT_RIGHT_DOWN})
      m_list->Bind(type, [](wxMouseEvent&) {});
    m_list->Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& e) {
      if (e.GetKeyCode() != WXK_TAB) return;
      if (wxWindow* to = Control(e.ShiftDown() ? kControlCancel : kControlBack)) to->SetFocus();
    });
    FinishInit();
    if (wxWindow* next = Control(kControlNext)) next->SetFocus();
  }

 protected:
  void ShowPage() override {
    std::wstring text = m_page.Text();
    for (size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;) text.replace(at, 2, L"\n");
    m_text->SetLabel(text);
    m_list->Clear();
    for (const auto& line : m_page.Lines()) m_list->Append(line);
    m_list->Show(!m_page.Lines().empty());
  }

 private:
  CDlgSummary& m_page;
  wxStaticText* m_text;
  wxListBox* m_list;
};

class CFinishView : public CPageView {
 public:
  CFinishView(wxWindow* parent, CDlgFinish& page, const PageViewContext& context)
      : CPageView(parent, page, context), m_page(page) {
    auto* title = Text(kFinishTitle, 8);
    title->SetFont(title->GetFont().Bold().Larger());
    Text(kFinishText, 10);
    Text(kRestartQuestion, 4);
    m_now = Add(kRestartNow, new wxRadioButton(Content(), kRestartNow, "Restart now",
                                               wxDefaultPosition, wxDefaultSize, wxRB_GROUP));
    m_later = Add(kRestartLater, new wxRadioButton(Content(), kRestartLater, "Restart later"));
    m_now->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { m_page.SetRestartNow(true); });
    m_later->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { m_page.SetRestartNow(false); });
    ExportRow(page.Export(),
              [this](const std::wstring& folder) { return m_page.ExportTo(folder); });
    FinishInit();
  }

 protected:
  void ShowPage() override {
    m_now->SetValue(m_page.RestartNow());
    m_later->SetValue(!m_page.RestartNow());
    ShowExport(m_page.Export());
  }

 private:
  CDlgFinish& m_page;
  wxRadioButton* m_now;
  wxRadioButton* m_later;
};

class CClientAttributesView : public CPageView {
 public:
  CClientAttributesView(wxWindow* parent, CDlgClientAttributes& page,
                        const PageViewContext& context)
      : CPageView(parent, page, context), m_page(page) {
    Text(kClientText, 10);
    Text(kServerLabel, 2);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    m_edit = new wxTextCtrl(Content(), kServerEdit, wxEmptyString);
    AddControl(kServerEdit, m_edit);
    m_browse = new wxButton(Content(), kBrowseComputers, ">>", wxDefaultPosition,
                            ConvertDialogToPixels(wxSize(30, 14)));
    AddControl(kBrowseComputers, m_browse);
    row->Add(m_edit, 1, wxALIGN_CENTER_VERTICAL | wxRIGHT, 4);
    row->Add(m_browse, 0, wxALIGN_CENTER_VERTICAL);
    m_sizer->Add(row, 0, wxEXPAND | wxBOTTOM, 8);
    m_scan = Text(kScanLine, 2);
    m_edit->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
      m_page.SetServerName(m_edit->GetValue().ToStdWstring());
    });
    m_browse->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Browse(); });
    FinishInit();
    m_scan->Hide();
  }

 protected:
  void ShowPage() override { m_edit->ChangeValue(m_page.ServerName()); }

 private:
  void Browse() {
    const int ids[] = {kBrowseComputers, kServerEdit, kControlNext, kControlBack, kControlCancel};
    for (int id : ids)
      if (wxWindow* w = Control(id)) w->Disable();
    bool listed = true;
    if (!m_page.Computers() || m_page.Computers()->empty()) {
      m_scan->Show();
      Content()->Layout();
      wxBusyCursor busy;
      bool escape = false;
      auto watch = [&escape](wxKeyEvent& e) {
        if (e.GetKeyCode() == WXK_ESCAPE)
          escape = true;
        else
          e.Skip();
      };
      Bind(wxEVT_CHAR_HOOK, watch);
      listed = m_page.PrepareComputerList([&escape] {
        if (auto* loop = wxEventLoopBase::GetActive()) loop->YieldFor(wxEVT_CATEGORY_ALL);
        return escape;
      });
      Unbind(wxEVT_CHAR_HOOK, watch);
      m_scan->Hide();
    }
    if (listed) {
      CDlgComputerSelect model(*m_page.Computers());
      CComputerSelectView view(this, model, Context().languages);
      if (view.ShowModal() == wxID_OK && model.Selection() >= 0) {
        m_page.ChooseComputer(model.Selection());
        ShowPage();
      }
    }
    for (int id : ids)
      if (wxWindow* w = Control(id)) w->Enable();
    ApplyPageState();
  }
  CDlgClientAttributes& m_page;
  wxTextCtrl* m_edit;
  wxButton* m_browse;
  wxStaticText* m_scan;
};

}  // namespace

CComputerSelectView::CComputerSelectView(wxWindow* parent, CDlgComputerSelect& model,
                                         CommonTools::ILanguages* languages)
    : wxDialog(parent, wxID_ANY, "Server", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      m_model(model) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new wxStaticText(this, kComputerListText, wxEmptyString), 0, wxEXPAND | wxALL, 8);
  m_list = new wxListBox(this, kComputerList, wxDefaultPosition,
                         ConvertDialogToPixels(wxSize(160, 100)));
  for (const auto& name : model.List()) m_list->Append(name);
  if (!model.List().empty()) m_list->SetSelection(0);
  sizer->Add(m_list, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);
  auto* buttons = new wxStdDialogButtonSizer;
  buttons->AddButton(new wxButton(this, wxID_OK));
  buttons->AddButton(new wxButton(this, wxID_CANCEL));
  buttons->Realize();
  sizer->Add(buttons, 0, wxEXPAND | wxALL, 8);
  SetSizerAndFit(sizer);
  if (languages) CDlgComputerSelect::Localize(*languages, *this);
  auto finish = [this] {
    m_model.Select(m_list->GetSelection() == wxNOT_FOUND ? -1 : m_list->GetSelection());
    EndModal(wxID_OK);
  };
  Bind(
      wxEVT_BUTTON, [finish](wxCommandEvent&) { finish(); }, wxID_OK);
  m_list->Bind(wxEVT_LISTBOX_DCLICK, [finish](wxCommandEvent&) { finish(); });
  CentreOnParent();
  if (auto* page = dynamic_cast<CBaseDialog*>(parent)) KeepOnScreen(*this, page->Screen());
}

void CComputerSelectView::SetControlText(int id, const std::wstring& text) {
  int target = id == kControlNext ? wxID_OK : id == kControlCancel ? wxID_CANCEL : id;
  if (wxWindow* w = FindWindow(target)) w->SetLabel(text);
}

namespace {

using ViewMaker = CBaseDialog* (*)(wxWindow* parent, IPage& page, const PageViewContext& context);

// The view of a presenter of class `Page`; null for a presenter of another class.
template <class Page, class View>
CBaseDialog* ViewOf(wxWindow* parent, IPage& page, const PageViewContext& context) {
  auto* p = dynamic_cast<Page*>(&page);
  return p ? new View(parent, *p, context) : nullptr;
}

// The table of views: the presenter's class picks its window (the option pages share one).
const ViewMaker kViews[] = {
    ViewOf<CDlgGreeting, CGreetingView>,
    ViewOf<CDlgLangSelect, CLanguageView>,
    ViewOf<CDlgLicense, CLicenseView>,
    ViewOf<COptionPage, COptionView>,
    ViewOf<CDlgDestination, CDestinationView>,
    ViewOf<CDlgComponents, CComponentsView>,
    ViewOf<CDlgSummary, CSummaryView>,
    ViewOf<CDlgFinish, CFinishView>,
    ViewOf<CDlgClientAttributes, CClientAttributesView>,
};

}  // namespace

CBaseDialog* CBaseDialog::Make(wxWindow* parent, IPage& page, const PageViewContext& context) {
  for (ViewMaker make : kViews)
    if (CBaseDialog* view = make(parent, page, context)) return view;
  return new CBaseDialog(parent, page, context);
}

}  // namespace InstallGui
