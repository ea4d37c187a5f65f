#include "ui/PropertiesView.h"

#include "ui/MlsString.h"
#include "ui/PaneCaption.h"
#include "ui/TextIds.h"

#include <wx/dcbuffer.h>

CPropertiesView::CPropertiesView() = default;
CPropertiesView::~CPropertiesView() = default;

bool CPropertiesView::Create(wxWindow* parent, wxWindowID id) {
  if (!wxWindow::Create(parent, id, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE))
    return false;
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &CPropertiesView::OnPaint, this);
  return true;
}

void CPropertiesView::UpdateObjectProperties(CTreeObject* object) {
  m_pObject = object;
  wxWindow::Refresh();
}

void CPropertiesView::RemoveAll() {
  m_pObject = nullptr;
  wxWindow::Refresh();
}

void CPropertiesView::RefreshTexts() { wxWindow::Refresh(); }

void CPropertiesView::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  std::wstring line;
  if (m_pObject) line = m_pObject->GetCaption() + L": " + m_pObject->GetName();
  PaneCaption::Draw(dc, GetClientSize(),
                    CMlsString::GetResourceString(eMessages, TextId::ModelGeometry), line);
}
