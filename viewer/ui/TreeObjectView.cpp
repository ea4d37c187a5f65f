#include "ui/TreeObjectView.h"

#include "ui/MlsString.h"
#include "ui/Object3DView.h"
#include "ui/PaneCaption.h"
#include "ui/TextIds.h"
#include "workspace/SplitterView.h"

#include <wx/dcbuffer.h>

CTreeObjectView::CTreeObjectView() = default;
CTreeObjectView::~CTreeObjectView() = default;

bool CTreeObjectView::Create(wxWindow* parent, wxWindowID id) {
  if (!wxWindow::Create(parent, id, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE))
    return false;
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &CTreeObjectView::OnPaint, this);
  return true;
}

CSplitterView* CTreeObjectView::GetSplitterView() const {
  for (wxWindow* w = GetParent(); w; w = w->GetParent())
    if (auto* view = dynamic_cast<CSplitterView*>(w)) return view;
  return nullptr;
}

void CTreeObjectView::UpdateTreeObjects(const std::shared_ptr<CNodeRoot>& root) {
  m_pRoot = root;
  m_pSelected = nullptr;
  // The root item reads the root's caption until the language refresh names it.
  m_rootText = root ? root->GetCaption() : std::wstring();
  wxWindow::Refresh();
}

void CTreeObjectView::SelectObject(CTreeObject* object) {
  m_pSelected = object;
  wxWindow::Refresh();
  if (CSplitterView* view = GetSplitterView()) view->GetCore().OnTreeSelectionChanged(object);
}

void CTreeObjectView::SetRootText(const std::wstring& text) {
  m_rootText = text;
  wxWindow::Refresh();
}

void CTreeObjectView::RefreshTexts() { wxWindow::Refresh(); }

void CTreeObjectView::DeleteSelectedItem() {
  CTreeObject* object = m_pSelected;
  if (!object || !object->GetParent() || !object->GetParent()->IsNode()) return;
  CSplitterView* view = GetSplitterView();
  if (view) view->GetObject3DView().Erase(object);
  m_pSelected = nullptr;
  if (view) view->GetCore().OnTreeSelectionChanged(nullptr);
  static_cast<CNode*>(object->GetParent())->RemoveChild(object);
  wxWindow::Refresh();
}

void CTreeObjectView::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  std::wstring line;
  if (m_pRoot) line = m_rootText.empty() ? m_pRoot->GetCaption() : m_rootText;
  if (m_pSelected) line += L"  >  " + m_pSelected->GetName();
  PaneCaption::Draw(dc, GetClientSize(),
                    CMlsString::GetResourceString(eMessages, TextId::ModelStructure), line);
}
