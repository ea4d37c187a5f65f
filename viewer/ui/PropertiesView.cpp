#include "ui/PropertiesView.h"

#include "ui/MlsString.h"
#include "ui/PropertyGridRows.h"
#include "ui/TextIds.h"
#include "xml/XmlText.h"

#include <wx/propgrid/manager.h>
#include <wx/propgrid/propgrid.h>
#include <wx/settings.h>

#include <algorithm>

namespace {

// The grid keeps its descriptions in its own area: none goes to the frame's status line.
class CPaneGrid : public wxPropertyGrid {
 public:
  wxStatusBar* GetStatusBar() override { return nullptr; }
};

class CPaneGridManager : public wxPropertyGridManager {
 public:
  // Created in two steps, so that the manager makes the pane's own grid (a virtual call that a
  // constructor of the base would not send here).
  bool Create(wxWindow* parent, wxWindowID id, const wxPoint& position, const wxSize& size,
              long style) {
    // The toolkit's manager lays out its description area at its first size event with a width
    // it does not know yet (a negative one, which GTK refuses): it is made without the area,
    // and the area is added once the manager has its size.
    if (!wxPropertyGridManager::Create(parent, id, position, size, style & ~wxPG_DESCRIPTION))
      return false;
    if (m_width < 0) {
      const wxSize client = GetClientSize();
      RecalculatePositions(std::max(client.x, kPaneControlMinWidth),
                           std::max(client.y, kPaneControlMinWidth));
    }
    if (style & wxPG_DESCRIPTION) SetWindowStyleFlag(GetWindowStyleFlag() | wxPG_DESCRIPTION);
    return true;
  }

 protected:
  wxPropertyGrid* CreatePropertyGrid() const override { return new CPaneGrid; }
};

}  // namespace

CPropertiesView::CPropertiesView() = default;
CPropertiesView::~CPropertiesView() = default;

bool CPropertiesView::Create(wxWindow* parent, wxWindowID id) {
  if (!wxWindow::Create(parent, id, wxDefaultPosition, wxDefaultSize, wxFULL_REPAINT_ON_RESIZE))
    return false;
  // No header row, the description area below the rows, changed values in bold.
  auto* grid = new CPaneGridManager;
  m_wndPropList = grid;
  if (!grid->Create(
          this, kGridId, wxPoint(0, kPaneHeaderHeight), wxDefaultSize,
          wxPG_DESCRIPTION | wxPG_BOLD_MODIFIED | wxPG_SPLITTER_AUTO_CENTER | wxBORDER_NONE))
    return false;
  // One page holds the rows.
  if (m_wndPropList->GetPageCount() == 0) m_wndPropList->AddPage();
  m_wndPropList->SelectPage(0);
  BindHeader();
  InitPropList();
  m_wndPropList->Bind(wxEVT_PG_CHANGED, &CPropertiesView::OnGridChanged, this);
  Bind(wxEVT_SET_FOCUS, &CPropertiesView::OnSetFocus, this);
  Bind(
      wxEVT_MENU, [this](wxCommandEvent&) { m_wndPropList->ExpandAll(true); }, kCmdExpandAll);
  Bind(
      wxEVT_MENU,
      [this](wxCommandEvent&) {
        m_bAlphabetic = !m_bAlphabetic;
        GetGrid().EnableCategories(!m_bAlphabetic);
        if (m_bAlphabetic) GetGrid().Sort();
      },
      kCmdSort);
  Bind(
      wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Check(m_bAlphabetic); }, kCmdSort);
  for (int cmd : {152, 153}) {
    Bind(
        wxEVT_MENU, [](wxCommandEvent&) {}, cmd);
    Bind(
        wxEVT_UPDATE_UI, [](wxUpdateUIEvent&) {}, cmd);
  }
  InitBtn();
  UpdateCaption();
  AdjustLayout();
  return true;
}

void CPropertiesView::InitPropList() {
  if (!m_wndPropList) return;
  m_wndPropList->ShowHeader(false);
  SetVSDotNetLook(true);
}

wxPropertyGrid& CPropertiesView::GetGrid() const { return *m_wndPropList->GetGrid(); }

void CPropertiesView::SetVSDotNetLook(bool set) {
  wxPropertyGrid& grid = GetGrid();
  if (set) {
    grid.SetCaptionBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
    grid.SetCaptionTextColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNTEXT));
    grid.SetMarginColour(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE));
  } else {
    grid.ResetColours();
  }
  grid.Refresh();
}

wxWindow* CPropertiesView::GetPaneControl() const { return m_wndPropList; }

std::wstring CPropertiesView::GetCaption() const {
  return CMlsString::GetResourceString(eMenus, TextId::ModelGeometry, L"ToolDoc", L"ModelGeom");
}

void CPropertiesView::OnSetFocus(wxFocusEvent& event) {
  event.Skip();
  if (m_wndPropList) m_wndPropList->GetGrid()->SetFocus();
}

// --- Filling -----------------------------------------------------------------------------------

void CPropertiesView::RemoveAll() {
  m_wndPropList->ClearPage(0);
  m_pObject = nullptr;
  m_pShownTree.reset();
  m_wndPropList->Refresh();
}

void CPropertiesView::RefreshTexts() {
  UpdateCaption();
  Refresh();
  m_wndPropList->Refresh();
}

void CPropertiesView::UpdateObjectProperties(CTreeObject* object) {
  m_wndPropList->Freeze();
  m_wndPropList->ClearPage(0);
  m_pShownTree.reset();
  m_pObject = object;
  if (object) {
    m_pShownTree = object->GetProperties();
    if (m_pShownTree && m_pShownTree->GetKind() == CProperty::eKindGroup)
      for (const auto& child : static_cast<CPropertyGroup&>(*m_pShownTree).GetChildren())
        FillProperties(child, nullptr);
  }
  m_wndPropList->Thaw();
  m_wndPropList->Refresh();
}

void CPropertiesView::FillProperties(const std::shared_ptr<CProperty>& property,
                                     wxPGProperty* parent) {
  if (!property) return;
  wxPGProperty* row = nullptr;
  switch (property->GetKind()) {
    case CProperty::eKindGroup:
      row = new CPropertyGridGroup(property->GetLabel(), property.get());
      break;
    case CProperty::eKindStandard: {
      const wchar_t* format = property->IsNamed(L"angle") ? L"%.6f" : L"%.2f";
      auto& standard = static_cast<CPropertyStandard&>(*property);
      row = new CMFCPropertyGridPropertyFormat(property->GetLabel(), standard.GetValue(),
                                               property->GetDescription(), property.get(), format);
      break;
    }
    case CProperty::eKindColor:
      row = new CPropertyGridColorProperty(
          property->GetLabel(), static_cast<CPropertyColor&>(*property).GetColor(), property.get());
      break;
    default: return;
  }
  wxPGProperty* added = parent ? parent->AppendChild(row) : m_wndPropList->GetPage(0)->Append(row);
  if (property->GetKind() == CProperty::eKindGroup)
    for (const auto& child : static_cast<CPropertyGroup&>(*property).GetChildren())
      FillProperties(child, added);
}

wxPGProperty* CPropertiesView::FindRow(const CProperty* property) const {
  if (!property) return nullptr;
  for (wxPropertyGridIterator it = GetGrid().GetIterator(wxPG_ITERATE_ALL); !it.AtEnd(); ++it)
    if (RowProperty(*it) == property) return *it;
  return nullptr;
}

// --- Writing back ------------------------------------------------------------------------------

void CPropertiesView::OnGridChanged(wxPropertyGridEvent& event) {
  OnPropertyChanged(kGridId, event.GetProperty());
}

void CPropertiesView::OnPropertyChanged(int id, wxPGProperty* row) {
  if (id != kGridId || m_bUpdating) return;
  m_bUpdating = 1;
  CProperty* property = RowProperty(row);
  if (!property || !property->GetOwner()) {
    m_bUpdating = 0;
    return;
  }
  auto* valueRow = dynamic_cast<CMFCPropertyGridPropertyFormat*>(row);
  auto* colourRow = dynamic_cast<CPropertyGridColorProperty*>(row);
  PropertyChange change = PropertyChange::Ignored;
  if (valueRow && property->GetKind() == CProperty::eKindStandard) {
    auto& standard = static_cast<CPropertyStandard&>(*property);
    if (m_pCore) change = m_pCore->ChangeProperty(standard, valueRow->GetVariant());
    if (change == PropertyChange::Ignored) {
      // Nothing written: the row shows what the model holds.
      valueRow->SetVariant(standard.GetValue());
      GetGrid().RefreshProperty(valueRow);
    } else if (change != PropertyChange::Written && change != PropertyChange::Renamed) {
      // The row shows what the model holds now; an edge row tells what its value means.
      valueRow->SetVariant(standard.GetValue());
      if (property->IsNamed(L"lch1") || property->IsNamed(L"lch2")) {
        valueRow->SetLabel(property->GetLabel());
        valueRow->SetHelpString(property->GetDescription());
      }
      GetGrid().RefreshProperty(valueRow);
      GetGrid().Refresh();
    }
  } else if (colourRow && property->GetKind() == CProperty::eKindColor) {
    auto& colour = static_cast<CPropertyColor&>(*property);
    if (m_pCore) change = m_pCore->ChangeProperty(colour, colourRow->GetColor());
    if (change == PropertyChange::Ignored) {
      colourRow->SetColor(colour.GetColor());
      GetGrid().RefreshProperty(colourRow);
    }
  }
  m_bUpdating = 0;
}
