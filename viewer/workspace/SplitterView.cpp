#include "workspace/SplitterView.h"

#include "ui/MainFrame.h"
#include "ui/Object3DView.h"
#include "ui/PropertiesView.h"
#include "ui/TreeObjectView.h"

#include "ui/MlsString.h"
#include "ui/TextIds.h"

#include <wx/msgdlg.h>
#include <wx/progdlg.h>

#include <algorithm>
#include <chrono>
#include <memory>

CSplitterView::CSplitterView() = default;

bool CSplitterView::OpenXml(const std::wstring& path) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  std::unique_ptr<wxProgressDialog> dialog;
  // Driven from this thread while the engine builds: shown after a second, Cancel ends it.
  m_core.SetOpenProgress([&](int done, int total) {
    if (!dialog) {
      if (Clock::now() - start < std::chrono::seconds(1) || done >= total) return true;
      dialog = std::make_unique<wxProgressDialog>(
          wxString(CMlsString::GetResourceString(eMessages, TextId::AppTitle)),
          wxString(CMlsString::GetResourceString(eMessages, TextId::MsgBuildingSolids)),
          total > 0 ? total : 1, wxGetTopLevelParent(this),
          wxPD_APP_MODAL | wxPD_CAN_ABORT | wxPD_AUTO_HIDE | wxPD_ELAPSED_TIME |
              wxPD_REMAINING_TIME);
    }
    return dialog->Update(std::min(done, dialog->GetRange()));
  });
  // The frame tells the user that the file cannot be opened; why is kept for it.
  m_lastOpen = m_core.OpenXml(path);
  m_core.SetOpenProgress(nullptr);
  return static_cast<bool>(m_lastOpen);
}

CSplitterView::~CSplitterView() {
  // The panes go with the windows, after the core: neither may ask the other anything
  // meanwhile.
  m_core.SetPanes(nullptr, nullptr);
  if (m_wndTreeObjectView) {
    m_wndTreeObjectView->SetCore(nullptr);
    m_wndTreeObjectView->SetHideHandler(nullptr);
  }
  if (m_wndPropertiesView) {
    m_wndPropertiesView->SetCore(nullptr);
    m_wndPropertiesView->SetHideHandler(nullptr);
  }
  if (m_wndObject3DView) m_wndObject3DView->SetCore(nullptr);
}

bool CSplitterView::Create(wxWindow* parent, wxWindowID id) {
  if (!CreateStatic(parent, 1, 2, id)) return false;
  m_wndSplitterLeft = new CVHSplitter;
  if (!m_wndSplitterLeft->CreateStatic(this, 2, 1)) return false;
  m_wndTreeObjectView = new CTreeObjectView;
  m_wndPropertiesView = new CPropertiesView;
  m_wndObject3DView = new CObject3DView;
  // What each pane needs of the workspace is handed to it here: the core and, for the side
  // panes, how the workspace hides them.
  m_wndTreeObjectView->SetCore(&m_core);
  m_wndPropertiesView->SetCore(&m_core);
  m_wndObject3DView->SetCore(&m_core);
  m_wndTreeObjectView->SetHideHandler([this] { ShowTreeObjectView(false); });
  m_wndPropertiesView->SetHideHandler([this] { ShowPropertiesView(false); });
  // The left column is as wide as the panes' texts need (within 60 % of the workspace).
  m_wndTreeObjectView->SetFitHandler([this] { UpdatePaneFit(); });
  m_wndPropertiesView->SetFitHandler([this] { UpdatePaneFit(); });
  if (!m_wndTreeObjectView->Create(m_wndSplitterLeft, wxID_ANY) ||
      !m_wndPropertiesView->Create(m_wndSplitterLeft, wxID_ANY) ||
      !m_wndObject3DView->Create(this, wxID_ANY))
    return false;
  m_wndSplitterLeft->SetPanes(m_wndTreeObjectView, m_wndPropertiesView);
  SetPanes(m_wndSplitterLeft, m_wndObject3DView);
  SetRatio(m_dInitialRatioH);
  m_wndSplitterLeft->SetRatio(m_dInitialRatioV);
  m_core.SetPanes(m_wndTreeObjectView, m_wndPropertiesView);
  UpdatePaneFit();

  CMainFrame* frame = nullptr;
  for (wxWindow* w = parent; w && !frame; w = w->GetParent()) frame = dynamic_cast<CMainFrame*>(w);
  if (!frame) return true;
  m_core.SetMessageSink([frame](const std::wstring& text) { frame->ShowMessage(text); });
  m_core.SetTools(frame->GetCADTools());
  const auto& context = m_core.GetContext();
  if (!context) return true;
  QZ::ObjPtr<QZ::CAD::IView> view;
  try {
    if (QZ::CAD::XWindowHandle* handle = m_wndObject3DView->GetWindowHandle())
      view = QZ::ObjPtr<QZ::CAD::IView>(context->NewView(handle, QZ::CAD::eViewWindow));
  } catch (QZ::IException* e) {
    if (e) e->Release();
  }
  if (view) {
    m_core.SetView(view);
    m_wndObject3DView->SetViewer(view);
    view->ShowGrid(m_core.IsGridShown());
    view->ShowAxes(m_core.IsTrihedronShown());
  }
  return true;
}

void CSplitterView::UpdatePaneFit() {
  if (!m_wndTreeObjectView || !m_wndPropertiesView || !m_wndSplitterLeft) return;
  // Called by the panes from their creation on: both must exist to be measured.
  if (!m_wndTreeObjectView->GetHandle() || !m_wndPropertiesView->GetHandle()) return;
  // The splitter's left pane holds the left splitter, which adds nothing beside the panes.
  SetFirstPaneFit(std::max(m_wndTreeObjectView->GetFitWidth(), m_wndPropertiesView->GetFitWidth()));
}

void CSplitterView::ShowTreeObjectView(bool show) {
  const bool T = m_bShowTreeObjectView, P = m_bShowPropertiesView;
  CVHSplitter& left = *m_wndSplitterLeft;
  if (show) {
    if (!(T && P)) {
      left.ShowRow();
      if (!P) left.HideRow(1);
    }
  } else {
    if (!P) {
      HideColumn();
      m_bShowTreeObjectView = show;
      return;
    }
    if (!T) left.ShowRow();
    left.HideRow(0);
  }
  if (!T && !P) ShowColumn();
  m_bShowTreeObjectView = show;
}

void CSplitterView::ShowPropertiesView(bool show) {
  const bool T = m_bShowTreeObjectView, P = m_bShowPropertiesView;
  CVHSplitter& left = *m_wndSplitterLeft;
  if (show) {
    if (!(T && P)) {
      left.ShowRow();
      if (!T) left.HideRow(0);
    }
  } else {
    if (!T) {
      HideColumn();
      m_bShowPropertiesView = show;
      return;
    }
    if (!P) left.ShowRow();
    left.HideRow(1);
  }
  if (!T && !P) ShowColumn();
  m_bShowPropertiesView = show;
}

void CSplitterView::SetInitialRatioH(double ratio) {
  m_dInitialRatioH = ratio;
  SetRatio(ratio);
}

void CSplitterView::SetInitialRatioV(double ratio) {
  m_dInitialRatioV = ratio;
  if (m_wndSplitterLeft) m_wndSplitterLeft->SetRatio(ratio);
}

double CSplitterView::GetInitialRatioH() {
  m_dInitialRatioH = GetRatio();
  return m_dInitialRatioH;
}

double CSplitterView::GetInitialRatioV() {
  if (m_wndSplitterLeft) m_dInitialRatioV = m_wndSplitterLeft->GetRatio();
  return m_dInitialRatioV;
}
