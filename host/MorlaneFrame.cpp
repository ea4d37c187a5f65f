#include "MorlaneFrame.h"

#include "ProgramTexts.h"
#include "ui/MlsString.h"
#include "ui/TextIds.h"
#include "xml/XmlText.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/utils.h>
#include <wx/dialog.h>
#include <wx/filename.h>
#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>

#include <algorithm>
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

std::wstring GrooveName(int type) {
  switch (type) {
    case eRecognizeNotchChevron: return ProgramTextOf(ProgramText::GrooveChevronNotch);
    case eRecognizeGrooveRectangular: return ProgramTextOf(ProgramText::GrooveRectangular);
    case eRecognizeCrossHole: return ProgramTextOf(ProgramText::GrooveCrossHole);
    case eRecognizeGrooveParallelKey: return ProgramTextOf(ProgramText::GrooveParallelKey);
    case eRecognizeSlots: return ProgramTextOf(ProgramText::GrooveSlots);
    default: return ProgramTextOf(ProgramText::GrooveNone);
  }
}

// The menu and the tool bar: each command with its menu item, shortcut, tool label, help (the
// tooltip and the status line's text) and picture. Tools of 0 have no tool bar button.
struct CommandTexts {
  int command;
  int item;
  const wchar_t* shortcut;
  int tool;
  int help;
  const char* art;
};

const CommandTexts kCommands[] = {
    {kCmdOpen, ProgramText::ItemOpen, L"Ctrl+O", ProgramText::ToolOpen, ProgramText::HelpOpen,
     wxART_FILE_OPEN},
    {kCmdImport, ProgramText::ItemImport, L"Ctrl+I", ProgramText::ToolImport,
     ProgramText::HelpImport, wxART_GO_DIR_UP},
    {kCmdExportLeft, ProgramText::ItemExportLeft, L"Ctrl+E", ProgramText::ToolExportLeft,
     ProgramText::HelpExportLeft, wxART_FILE_SAVE},
    {kCmdExportRight, ProgramText::ItemExportRight, L"Ctrl+Shift+E", ProgramText::ToolExportRight,
     ProgramText::HelpExportRight, wxART_FILE_SAVE_AS},
    {kCmdRecognize, ProgramText::ItemRecognize, L"Ctrl+R", ProgramText::ToolRecognize,
     ProgramText::HelpRecognize, wxART_FIND},
    {kCmdRecognizeSelection, ProgramText::ItemRecognizeSelection, L"Ctrl+Shift+R",
     ProgramText::ToolRecognizeSelection, ProgramText::HelpRecognizeSelection,
     wxART_FIND_AND_REPLACE},
    {kCmdShaftData, ProgramText::ItemShaftData, L"Ctrl+D", ProgramText::ToolShaftData,
     ProgramText::HelpShaftData, wxART_REPORT_VIEW},
    {kCmdGrid, ProgramText::ItemGrid, L"Ctrl+G", ProgramText::ToolGrid, ProgramText::HelpGrid,
     wxART_LIST_VIEW},
    {kCmdAxes, ProgramText::ItemAxes, L"Ctrl+T", ProgramText::ToolAxes, ProgramText::HelpAxes,
     wxART_PLUS},
    {kCmdExit, ProgramText::ItemExit, L"Ctrl+Q", 0, ProgramText::HelpExit, nullptr},
    {kCmdAbout, ProgramText::ItemAbout, nullptr, 0, ProgramText::HelpAbout, nullptr},
};

const CommandTexts* FindCommand(int command) {
  for (const CommandTexts& c : kCommands)
    if (c.command == command) return &c;
  return nullptr;
}

wxString ItemLabel(const CommandTexts& c) {
  wxString label(ProgramTextOf(c.item));
  if (c.shortcut) label += wxString(L"\t") + c.shortcut;
  return label;
}

wxString ToolTip(const CommandTexts& c) {
  wxString tip(ProgramTextOf(c.help));
  if (c.shortcut) tip += wxString(L" (") + c.shortcut + L")";
  return tip;
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
  if (shafts.empty()) return ProgramTextOf(ProgramText::NoShaft) + L"\n";
  std::wstring text;
  const std::wstring shaft = ProgramTextOf(ProgramText::ShaftWord),
                     sections = ProgramTextOf(ProgramText::SectionsWord);
  for (size_t i = 0; i < shafts.size(); ++i) {
    text += shaft + L" " + std::to_wstring(i + 1) + L", " + sections + L": " +
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
  // A window manager keeps the window at least this large: the tool bar, the menu and the
  // panes still lay themselves out (smaller, GTK's tool bar refuses the room it is given).
  SetMinSize(wxSize(kMinWidth, kMinHeight));
  SetStatusText(wxString(CMlsString::GetResourceString(eMessages, TextId::AppTitle)));
  for (int id = kCmdOpen; id <= kCmdAbout; ++id)
    Bind(
        wxEVT_MENU, [this, id](wxCommandEvent&) { RunCommand(id); }, id);
  return true;
}

void CMorlaneFrame::BuildMenu() {
  auto item = [](wxMenu* menu, int command) {
    const CommandTexts& c = *FindCommand(command);
    return menu->Append(command, ItemLabel(c), wxString(ProgramTextOf(c.help)),
                        command == kCmdGrid || command == kCmdAxes ? wxITEM_CHECK : wxITEM_NORMAL);
  };
  auto* file = new wxMenu;
  item(file, kCmdOpen);
  item(file, kCmdImport);
  item(file, kCmdExportLeft);
  item(file, kCmdExportRight);
  file->AppendSeparator();
  item(file, kCmdExit);
  auto* shafts = new wxMenu;
  item(shafts, kCmdRecognize);
  item(shafts, kCmdRecognizeSelection);
  item(shafts, kCmdShaftData);
  auto* view = new wxMenu;
  item(view, kCmdGrid)->Check(m_bGrid);
  item(view, kCmdAxes)->Check(m_bAxes);
  auto* help = new wxMenu;
  item(help, kCmdAbout);
  auto* bar = new wxMenuBar;
  bar->Append(file, wxString(ProgramTextOf(ProgramText::MenuFile)));
  bar->Append(shafts, wxString(ProgramTextOf(ProgramText::MenuShafts)));
  bar->Append(view, wxString(ProgramTextOf(ProgramText::MenuView)));
  bar->Append(help, wxString(ProgramTextOf(ProgramText::MenuHelp)));
  SetMenuBar(bar);
}

void CMorlaneFrame::BuildToolBar() {
  wxToolBar* tools = CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT | wxTB_TEXT);
  const wxSize size(24, 24);
  for (const CommandTexts& c : kCommands) {
    if (!c.tool) continue;
    if (c.command == kCmdRecognize || c.command == kCmdGrid) tools->AddSeparator();
    const wxBitmap bitmap = wxArtProvider::GetBitmap(c.art, wxART_TOOLBAR, size);
    if (c.command == kCmdGrid || c.command == kCmdAxes)
      tools->AddCheckTool(c.command, wxString(ProgramTextOf(c.tool)), bitmap, wxNullBitmap,
                          ToolTip(c), wxString(ProgramTextOf(c.help)));
    else
      tools->AddTool(c.command, wxString(ProgramTextOf(c.tool)), bitmap, ToolTip(c), wxITEM_NORMAL);
  }
  tools->ToggleTool(kCmdGrid, m_bGrid);
  tools->ToggleTool(kCmdAxes, m_bAxes);
  tools->Realize();
}

void CMorlaneFrame::UpdateTexts() {
  if (wxMenuBar* bar = GetMenuBar()) {
    const int menus[] = {ProgramText::MenuFile, ProgramText::MenuShafts, ProgramText::MenuView,
                         ProgramText::MenuHelp};
    for (size_t i = 0; i < std::size(menus) && i < bar->GetMenuCount(); ++i)
      bar->SetMenuLabel(i, wxString(ProgramTextOf(menus[i])));
    for (const CommandTexts& c : kCommands)
      if (wxMenuItem* item = bar->FindItem(c.command)) {
        item->SetItemLabel(ItemLabel(c));
        item->SetHelp(wxString(ProgramTextOf(c.help)));
      }
  }
  if (wxToolBar* tools = GetToolBar()) {
    for (const CommandTexts& c : kCommands)
      if (wxToolBarToolBase* tool = c.tool ? tools->FindById(c.command) : nullptr) {
        tool->SetLabel(wxString(ProgramTextOf(c.tool)));
        tools->SetToolShortHelp(c.command, ToolTip(c));
        tools->SetToolLongHelp(c.command, wxString(ProgramTextOf(c.help)));
      }
    tools->Realize();
  }
  SetStatusText(wxString(CMlsString::GetResourceString(eMessages, TextId::AppTitle)));
  if (m_pShaftData) {
    m_pShaftData->SetTitle(wxString(ProgramTextOf(ProgramText::ShaftDataTitle)));
    if (m_pShaftOk) m_pShaftOk->SetLabel(wxString(ProgramTextOf(ProgramText::ButtonOk)));
  }
  UpdateAll();
}

void CMorlaneFrame::ShowAbout() {
  wxDialog dialog(this, wxID_ANY, wxString(ProgramTextOf(ProgramText::AboutTitle)));
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* name = new wxStaticText(
      &dialog, wxID_ANY, wxString(CMlsString::GetResourceString(eMessages, TextId::AppTitle)));
  wxFont bold = name->GetFont();
  bold.SetWeight(wxFONTWEIGHT_BOLD);
  bold.SetPointSize(bold.GetPointSize() + 2);
  name->SetFont(bold);
  sizer->Add(name, 0, wxALL, 12);
  auto* text = new wxStaticText(&dialog, wxID_ANY, wxString(ProgramTextOf(ProgramText::AboutText)));
  text->Wrap(dialog.FromDIP(420));
  sizer->Add(text, 0, wxLEFT | wxRIGHT, 12);
  sizer->Add(new wxStaticText(&dialog, wxID_ANY,
                              wxString(ProgramTextOf(ProgramText::AboutVersion)) + " " +
                                  MORLANE_PROGRAM_VERSION),
             0, wxALL, 12);
  auto* ok = new wxButton(&dialog, wxID_OK, wxString(ProgramTextOf(ProgramText::ButtonOk)));
  ok->SetDefault();
  sizer->Add(ok, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 12);
  dialog.SetSizerAndFit(sizer);
  dialog.CentreOnParent();
  if (m_bDialogs)
    dialog.ShowModal();
  else if (m_aboutShown)
    m_aboutShown(dialog);
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
    case kCmdAbout: ShowAbout(); break;
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
    m_pShaftData =
        new wxDialog(this, wxID_ANY, wxString(ProgramTextOf(ProgramText::ShaftDataTitle)),
                     wxDefaultPosition, wxSize(640, 420), wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER);
    m_pShaftText = new wxTextCtrl(m_pShaftData, wxID_ANY, wxEmptyString, wxDefaultPosition,
                                  wxDefaultSize, wxTE_MULTILINE | wxTE_READONLY | wxHSCROLL);
    m_pShaftText->SetFont(wxFont(wxFontInfo(10).Family(wxFONTFAMILY_TELETYPE)));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(m_pShaftText, 1, wxEXPAND | wxALL, 8);
    // The button's label is the program's own text, not the toolkit's.
    m_pShaftOk =
        new wxButton(m_pShaftData, wxID_OK, wxString(ProgramTextOf(ProgramText::ButtonOk)));
    sizer->Add(m_pShaftOk, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, 8);
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
