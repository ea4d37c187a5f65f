#include "ui/MainFrame.h"

#include "ui/MlsString.h"
#include "ui/TextIds.h"
#include "ui/VHSplitter.h"
#include "workspace/CadEngineLibrary.h"
#include "xml/XmlText.h"

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

namespace {

std::wstring Text(int id) { return CMlsString::GetResourceString(eMessages, id); }

// The engine library of the process: loaded once, kept loaded (engine objects may outlive any
// frame).
CCadEngineLibrary& EngineLibrary() {
  static CCadEngineLibrary library;
  return library;
}

// A filter of the dialogs ("a|b|c|d||") as the toolkit takes it ("a|b|c|d").
wxString ToolkitFilter(std::wstring filter) {
  while (!filter.empty() && filter.back() == L'|') filter.pop_back();
  return wxString(filter);
}

bool IsRecognisableExtension(const std::wstring& ext) {
  using MorlaneText::EqualsNoCase;
  return EqualsNoCase(ext, L"stp") || EqualsNoCase(ext, L"step") || EqualsNoCase(ext, L"xml");
}

std::wstring FileNameOf(const std::wstring& path) {
  return wxFileName(wxString(path)).GetFullName().ToStdWstring();
}

}  // namespace

CMainFrame::CMainFrame() = default;
CMainFrame::~CMainFrame() {
  m_arRecognizeSelected.clear();
  m_arRecognizeData.clear();
}

bool CMainFrame::FindCadOndravelDLL(bool showMessage) {
  if (CCadEngineLibrary::Exists()) return true;
  if (showMessage) ShowMessage(CCadEngineLibrary::NotFoundMessage());
  return false;
}

bool CMainFrame::LoadCadOndravelDLL(bool showMessage) {
  if (m_hCadModule) return true;
  CCadEngineLibrary& library = EngineLibrary();
  const CCadEngineLibrary::eLoadResult result = library.Load();
  if (result == CCadEngineLibrary::eNotFound) {
    if (showMessage) ShowMessage(CCadEngineLibrary::NotFoundMessage());
    return false;
  }
  if (result != CCadEngineLibrary::eLoaded) return false;
  m_hCadModule = true;
  m_pCADTools = library.GetTools();
  return true;
}

int CMainFrame::LoadLocation(const wchar_t* path, int code, void* instance) {
  return CMlsString::Initialize(path, code, instance) ? 1 : 0;
}

bool CMainFrame::Create(wxWindow* parent, wxWindowID id, const wxPoint& position,
                        const wxSize& size, long style) {
  if (!LoadCadOndravelDLL(true)) return false;
  if (!wxFrame::Create(parent, id, wxString(Text(TextId::AppTitle)), position, size, style))
    return false;
  Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
  return OnCreateClient();
}

bool CMainFrame::OnCreateClient() {
  m_wndSplitter = new CVHSplitter;
  if (!m_wndSplitter->CreateStatic(this, 1, 2)) return false;
  m_wndView1 = new CSplitterView;
  m_wndView2 = new CSplitterView;
  if (!m_wndView1->Create(m_wndSplitter, wxID_ANY) || !m_wndView2->Create(m_wndSplitter, wxID_ANY))
    return false;
  // Half and half to begin with, whatever SetSplitPercent said before the window existed.
  m_wndSplitter->SetRatio(0.5);
  m_wndSplitter->SetPanes(m_wndView1, m_wndView2);
  m_bSplitterCreated = true;
  return true;
}

void CMainFrame::SetSplitPercent(double percent) {
  m_dSplitPercent = percent;
  if (m_wndSplitter) m_wndSplitter->SetRatio(percent);
}

void CMainFrame::UpdateAll() {
  m_wndView1->UpdateTreeObjectView();
  m_wndView2->UpdateTreeObjectView();
  m_wndView1->UpdatePropertiesView();
  m_wndView2->UpdatePropertiesView();
}

void CMainFrame::ShowMessage(const std::wstring& text) {
  wxMessageBox(wxString(text), wxString(Text(TextId::AppTitle)), wxOK | wxICON_ERROR, this);
}

std::wstring CMainFrame::AskFileName(const FileDialogRequest& request) {
  long style =
      request.save ? (wxFD_SAVE | wxFD_OVERWRITE_PROMPT) : (wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  wxFileDialog dialog(this, wxString(request.title), wxEmptyString, wxEmptyString,
                      ToolkitFilter(request.filter), style);
  if (dialog.ShowModal() != wxID_OK) return {};
  std::wstring path = dialog.GetPath().ToStdWstring();
  // A name typed without extension in a save dialog takes the default one.
  if (request.save && wxFileName(wxString(path)).GetExt().empty()) {
    std::wstring ext = request.defaultExtension;
    if (ext.rfind(L"*", 0) == 0) ext.erase(0, 1);
    path += ext;
  }
  return path;
}

void CMainFrame::ChooseAndRemember(const std::wstring& path) {
  m_strPathName = path;
  m_strFileExt = wxFileName(wxString(path)).GetExt().ToStdWstring();
}

void CMainFrame::SetTitleEx(const std::wstring& fileName) {
  SetTitle(wxString(fileName + L" - " + Text(TextId::AppTitle)));
}

void CMainFrame::OnFileOpen() {
  const std::wstring path =
      AskFileName({false, L"*.xml", CMlsString::LoadResourceString(TextId::DlgModelFilter),
                   Text(TextId::DlgOpen)});
  if (path.empty()) return;
  bool opened;
  {
    wxBusyCursor wait;
    opened = m_wndView1->OpenXml(path);
  }
  if (!opened) {
    std::wstring text = Text(TextId::MsgCannotOpenModel);
    if (text.empty()) text = L"The model file cannot be opened.";
    ShowMessage(text + L"\n" + path);
    return;
  }
  ChooseAndRemember(path);
  SetTitleEx(FileNameOf(path));
}

void CMainFrame::OnFileImport() {
  const std::wstring path =
      AskFileName({false, L"*.stp", Text(TextId::DlgExchangeFilter), Text(TextId::DlgImport)});
  if (path.empty()) return;
  ChooseAndRemember(path);
  {
    wxBusyCursor wait;
    m_wndView1->ImportFile(path, m_strFileExt, false);
  }
  SetTitleEx(FileNameOf(path));
}

void CMainFrame::OnFileExportL() {
  if (!m_wndView1->GetRoot()) return;
  const std::wstring path =
      AskFileName({true, L"*.stp", Text(TextId::DlgExchangeFilter), Text(TextId::DlgExport)});
  if (path.empty()) return;
  wxBusyCursor wait;
  m_wndView1->ExportFile(path, wxFileName(wxString(path)).GetExt().ToStdWstring());
}

void CMainFrame::OnFileExportR() {
  if (!m_wndView2->GetRoot()) return;
  const std::wstring path =
      AskFileName({true, L"*.stp", Text(TextId::DlgExchangeFilter), Text(TextId::DlgExport)});
  if (path.empty()) return;
  wxBusyCursor wait;
  m_wndView2->ExportFile(path, wxFileName(wxString(path)).GetExt().ToStdWstring());
}

void CMainFrame::OnFileRecognize() {
  const std::wstring path =
      AskFileName({false, L"*.stp", Text(TextId::DlgStepFilter), Text(TextId::DlgRecognize)});
  if (path.empty()) return;
  ChooseAndRemember(path);
  {
    wxBusyCursor wait;
    m_wndView1->ImportFile(path, m_strFileExt, false);
    m_wndView2->ImportFile(path, m_strFileExt, true);
    m_arRecognizeData = m_wndView2->GetRecognizeData();
  }
  SetTitleEx(FileNameOf(path));
}

void CMainFrame::OnFileRecognizeSelect() {
  if (m_strPathName.empty() || m_strFileExt.empty() || !IsRecognisableExtension(m_strFileExt))
    return;
  CTreeObject* object = m_wndView1->GetCore().GetSelectedOrRootObject();
  if (!object) {
    ShowMessage(Text(TextId::MsgNothingSelected));
    return;
  }
  wxBusyCursor wait;
  RecognizeState state = eRecognizeNoneAtZero;
  if (m_wndView2->RecognizeSelected(object, state)) m_recognizeState = state;
}

void CMainFrame::OnGetDataRecognizeSelect() {
  m_arRecognizeSelected = m_wndView2->GetRecognizeDataSelected();
}

void CMainFrame::ViewerShowGrid(bool show) {
  m_wndView1->EnableGrid(show);
  m_wndView2->EnableGrid(show);
}

void CMainFrame::ViewerShowAxis(bool show) {
  m_wndView1->EnableTrihedron(show);
  m_wndView2->EnableTrihedron(show);
}

void CMainFrame::OnClose(wxCloseEvent& event) {
  CMlsString::Clear();
  event.Skip();
}
