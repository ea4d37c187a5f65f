#include "MorlaneFrame.h"

#include "ui/MlsString.h"
#include "ui/TextIds.h"
#include "xml/XmlText.h"

#include <wx/artprov.h>
#include <wx/utils.h>
#include <wx/dialog.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace morlane {

namespace {

std::wstring Number(double v) {
  wchar_t buffer[64];
  std::swprintf(buffer, 64, L"%g", v);
  return buffer;
}

const wchar_t* GrooveName(int type) {
  switch (type) {
    case eRecognizeNotchChevron: return L"chevron notch";
    case eRecognizeGrooveRectangular: return L"rectangular groove";
    case eRecognizeCrossHole: return L"cross hole";
    case eRecognizeGrooveParallelKey: return L"parallel-key groove";
    case eRecognizeSlots: return L"slots";
    default: return L"none";
  }
}

std::wstring DescribeGroove(const qz_RecognizeGroove& g) {
  std::wstring text = GrooveName(g.type);
  switch (g.type) {
    case eRecognizeNotchChevron:
      text += L" x=" + Number(g.notch.x) + L" t=" + Number(g.notch.t);
      break;
    case eRecognizeGrooveRectangular:
      text += L" x=" + Number(g.rectangular.x) + L" m=" + Number(g.rectangular.m) + L" t=" +
              Number(g.rectangular.t) + L" r=" + Number(g.rectangular.r);
      break;
    case eRecognizeCrossHole:
      text += L" x=" + Number(g.crossHole.x) + L" t=" + Number(g.crossHole.t) + L" r=" +
              Number(g.crossHole.r) + L" angle=" + Number(g.crossHole.angle);
      break;
    case eRecognizeGrooveParallelKey:
      text += L" x=" + Number(g.parallelKey.x) + L" l=" + Number(g.parallelKey.l) + L" t=" +
              Number(g.parallelKey.t) + L" r=" + Number(g.parallelKey.r) + L" angle=" +
              Number(g.parallelKey.angle);
      break;
    case eRecognizeSlots:
      text += L" x=" + Number(g.slots.x) + L" l=" + Number(g.slots.l) + L" n=" +
              std::to_wstring(g.slots.n) + L" d=" + Number(g.slots.d) + L" win=" +
              Number(g.slots.win) + L" wout=" + Number(g.slots.wout);
      break;
    default: break;
  }
  return text;
}

}  // namespace

std::wstring DescribeShafts(const std::vector<qz_RecognizeShaft>& shafts) {
  if (shafts.empty()) return L"No shaft in the selection.\n";
  std::wstring text;
  for (size_t i = 0; i < shafts.size(); ++i) {
    text += L"Shaft " + std::to_wstring(i + 1) + L", sections: " +
            std::to_wstring(shafts[i].size()) + L"\n";
    for (size_t j = 0; j < shafts[i].size(); ++j) {
      const qz_RecognizeSection& s = shafts[i][j];
      text += L"  " + std::to_wstring(j + 1) + L". pos=" + Number(s.pos) + L" D1=" +
              Number(s.dout1) + L" D2=" + Number(s.dout2) + L" d1=" + Number(s.din1) + L" d2=" +
              Number(s.din2) + L" l=" + Number(s.l) + L" c1=" + Number(s.lch1) + L" c2=" +
              Number(s.lch2) + L"\n";
      for (const auto& g : s.grooves) text += L"       " + DescribeGroove(g) + L"\n";
    }
  }
  return text;
}

CMorlaneFrame::CMorlaneFrame() = default;
CMorlaneFrame::~CMorlaneFrame() = default;

bool CMorlaneFrame::Create() {
  if (!CMainFrame::Create(nullptr, wxID_ANY, wxDefaultPosition, wxSize(1400, 860))) return false;
  BuildMenu();
  BuildToolBar();
  CreateStatusBar();
  SetStatusText(wxString(CMlsString::GetResourceString(eMessages, TextId::AppTitle)));
  for (int id = kCmdOpen; id <= kCmdExit; ++id)
    Bind(
        wxEVT_MENU, [this, id](wxCommandEvent&) { RunCommand(id); }, id);
  return true;
}

void CMorlaneFrame::BuildMenu() {
  auto* file = new wxMenu;
  file->Append(kCmdOpen, "&Open model...\tCtrl+O");
  file->Append(kCmdImport, "&Import...\tCtrl+I");
  file->Append(kCmdExportLeft, "&Export left...\tCtrl+E");
  file->Append(kCmdExportRight, "Export &right...\tCtrl+Shift+E");
  file->AppendSeparator();
  file->Append(kCmdExit, "E&xit\tCtrl+Q");
  auto* shafts = new wxMenu;
  shafts->Append(kCmdRecognize, "&Recognize shafts...\tCtrl+R");
  shafts->Append(kCmdRecognizeSelection, "Recognize the &selection\tCtrl+Shift+R");
  shafts->Append(kCmdShaftData, "Shaft &data of the selection\tCtrl+D");
  auto* view = new wxMenu;
  view->AppendCheckItem(kCmdGrid, "&Grid\tCtrl+G")->Check(m_bGrid);
  view->AppendCheckItem(kCmdAxes, "&Axes\tCtrl+T")->Check(m_bAxes);
  auto* bar = new wxMenuBar;
  bar->Append(file, "&File");
  bar->Append(shafts, "&Shafts");
  bar->Append(view, "&View");
  SetMenuBar(bar);
}

void CMorlaneFrame::BuildToolBar() {
  wxToolBar* tools = CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT | wxTB_TEXT);
  const wxSize size(24, 24);
  tools->AddTool(kCmdOpen, "Open", wxArtProvider::GetBitmap(wxART_FILE_OPEN, wxART_TOOLBAR, size),
                 "Open a model file (Ctrl+O)");
  tools->AddTool(kCmdImport, "Import",
                 wxArtProvider::GetBitmap(wxART_GO_DIR_UP, wxART_TOOLBAR, size),
                 "Import a STEP, IGES or STL file (Ctrl+I)");
  tools->AddTool(kCmdExportLeft, "Export left",
                 wxArtProvider::GetBitmap(wxART_FILE_SAVE, wxART_TOOLBAR, size),
                 "Export the left model (Ctrl+E)");
  tools->AddTool(kCmdExportRight, "Export right",
                 wxArtProvider::GetBitmap(wxART_FILE_SAVE_AS, wxART_TOOLBAR, size),
                 "Export the right model (Ctrl+Shift+E)");
  tools->AddSeparator();
  tools->AddTool(kCmdRecognize, "Recognize",
                 wxArtProvider::GetBitmap(wxART_FIND, wxART_TOOLBAR, size),
                 "Import a STEP file and recognise its shafts (Ctrl+R)");
  tools->AddTool(kCmdRecognizeSelection, "Recognize selection",
                 wxArtProvider::GetBitmap(wxART_FIND_AND_REPLACE, wxART_TOOLBAR, size),
                 "Recognise the shafts of the left selection (Ctrl+Shift+R)");
  tools->AddTool(kCmdShaftData, "Shaft data",
                 wxArtProvider::GetBitmap(wxART_REPORT_VIEW, wxART_TOOLBAR, size),
                 "The shaft data of the right selection (Ctrl+D)");
  tools->AddSeparator();
  tools->AddCheckTool(kCmdGrid, "Grid",
                      wxArtProvider::GetBitmap(wxART_LIST_VIEW, wxART_TOOLBAR, size), wxNullBitmap,
                      "Grid (Ctrl+G)");
  tools->AddCheckTool(kCmdAxes, "Axes", wxArtProvider::GetBitmap(wxART_PLUS, wxART_TOOLBAR, size),
                      wxNullBitmap, "Axes (Ctrl+T)");
  tools->ToggleTool(kCmdGrid, m_bGrid);
  tools->ToggleTool(kCmdAxes, m_bAxes);
  tools->Realize();
}

void CMorlaneFrame::RunCommand(int id) {
  switch (id) {
    case kCmdOpen: OnFileOpen(); break;
    case kCmdImport: OnFileImport(); break;
    case kCmdExportLeft: OnFileExportL(); break;
    case kCmdExportRight: OnFileExportR(); break;
    case kCmdRecognize: OnFileRecognize(); break;
    case kCmdRecognizeSelection: OnFileRecognizeSelect(); break;
    case kCmdShaftData:
      OnGetDataRecognizeSelect();
      ShowShaftData();
      break;
    case kCmdGrid:
    case kCmdAxes: {
      bool& flag = id == kCmdGrid ? m_bGrid : m_bAxes;
      flag = !flag;
      if (id == kCmdGrid)
        ViewerShowGrid(flag);
      else
        ViewerShowAxis(flag);
      if (wxMenuBar* bar = GetMenuBar())
        if (wxMenuItem* item = bar->FindItem(id)) item->Check(flag);
      if (wxToolBar* tools = GetToolBar()) tools->ToggleTool(id, flag);
      break;
    }
    case kCmdExit: Close(); break;
    default: break;
  }
}

namespace {

enum class OpenKind { None, Model, Exchange };

// What the frame's commands open the file as, by its extension.
OpenKind OpenKindOf(const std::wstring& ext) {
  using MorlaneText::EqualsNoCase;
  if (EqualsNoCase(ext, L"xml")) return OpenKind::Model;
  for (const wchar_t* e : {L"stp", L"step", L"igs", L"iges", L"stl"})
    if (EqualsNoCase(ext, e)) return OpenKind::Exchange;
  return OpenKind::None;
}

}  // namespace

bool CMorlaneFrame::OpenFile(const std::wstring& path) {
  const OpenKind kind = OpenKindOf(wxFileName(wxString(path)).GetExt().ToStdWstring());
  if (kind == OpenKind::None) return false;
  const bool model = kind == OpenKind::Model;
  m_answers.push_front(path);
  const size_t before = m_messages.size();
  if (model)
    OnFileOpen();
  else
    OnFileImport();
  return m_messages.size() == before;
}

bool CMorlaneFrame::OpenFileRight(const std::wstring& path) {
  const std::wstring ext = wxFileName(wxString(path)).GetExt().ToStdWstring();
  const OpenKind kind = OpenKindOf(ext);
  if (kind == OpenKind::None) return false;
  const size_t before = m_messages.size();
  wxBusyCursor wait;
  if (kind == OpenKind::Model) {
    if (!GetView2().OpenXml(path)) {
      // As the open of the left workspace says it.
      std::wstring text = CMlsString::GetResourceString(eMessages, TextId::MsgCannotOpenModel);
      if (text.empty()) text = L"The model file cannot be opened.";
      ShowMessage(text + L"\n" + path);
    }
  } else {
    GetView2().ImportFile(path, ext, false);  // the workspace says what fails
  }
  return m_messages.size() == before;
}

std::wstring CMorlaneFrame::AskFileName(const FileDialogRequest& request) {
  if (!m_answers.empty()) {
    std::wstring path = m_answers.front();
    m_answers.pop_front();
    return path;
  }
  if (!m_bDialogs) return {};
  return CMainFrame::AskFileName(request);
}

void CMorlaneFrame::ShowMessage(const std::wstring& text) {
  if (m_messages.size() < 1000) m_messages.push_back(text);
  std::wcerr << L"morlane: " << text << L"\n";
  if (m_bDialogs) CMainFrame::ShowMessage(text);
}

void CMorlaneFrame::ShowShaftData() {
  const std::wstring text = DescribeShafts(GetRecognizeSelected());
  if (!m_pShaftData) {
    m_pShaftData = new wxDialog(this, wxID_ANY, "Shaft data", wxDefaultPosition, wxSize(640, 420),
                                wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    m_pShaftText = new wxTextCtrl(m_pShaftData, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                  wxDefaultSize, wxTE_MULTILINE | wxTE_READONLY | wxHSCROLL);
    m_pShaftText->SetFont(wxFont(wxFontInfo(10).Family(wxFONTFAMILY_TELETYPE)));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(m_pShaftText, 1, wxEXPAND | wxALL, 8);
    sizer->Add(m_pShaftData->CreateButtonSizer(wxOK), 0, wxEXPAND | wxALL, 8);
    m_pShaftData->SetSizer(sizer);
    // OK hides the dialog; the next request shows it again with new data.
    m_pShaftData->Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { m_pShaftData->Hide(); }, wxID_OK);
  }
  m_pShaftText->SetValue(wxString(text));
  m_pShaftData->Show();
  m_pShaftData->Raise();
}

wxString CMorlaneFrame::GetShaftDataText() const {
  return m_pShaftText ? m_pShaftText->GetValue() : wxString();
}

}  // namespace morlane
