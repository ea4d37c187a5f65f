#pragma once
// One workspace on screen: a splitter with the model tree above the property pane in its left
// column and the 3D view in its right one. The workspace's work (model, engine context and
// view, recognition, selection flow) is done by its CWorkspaceCore; this class creates the
// windows, hands them to the core, and shows and hides the side panes.

#include "MorlaneExport.h"
#include "ui/VHSplitter.h"
#include "workspace/WorkspaceCore.h"

class CTreeObjectView;
class CPropertiesView;
class CObject3DView;

class MORLANE_API CSplitterView : public CVHSplitter {
 public:
  CSplitterView();
  ~CSplitterView() override;

  // Creates the windows in parent. The engine context and the view come from the frame
  // (CMainFrame) found among parent and its ancestors; without one, the workspace has neither.
  bool Create(wxWindow* parent, wxWindowID id);

  CTreeObjectView& GetTreeObjectView() { return *m_wndTreeObjectView; }
  CObject3DView& GetObject3DView() { return *m_wndObject3DView; }
  CPropertiesView& GetPropertiesView() { return *m_wndPropertiesView; }
  CVHSplitter& GetLeftSplitter() { return *m_wndSplitterLeft; }
  CWorkspaceCore& GetCore() { return m_core; }
  const CWorkspaceCore& GetCore() const { return m_core; }

  std::shared_ptr<CNodeRoot> GetRoot() const { return m_core.GetRoot(); }
  void SetID(int id) { m_nID = id; }
  int GetID() const { return m_nID; }

  // Opens a model file; once building its solids takes more than a second, a progress dialog
  // with Cancel shows how far it is (cancelled: false, the previous model stays).
  bool OpenXml(const std::wstring& path);
  // What became of the last OpenXml: for a failed one, why (ModelOpenResult::Text).
  const ModelOpenResult& GetLastOpenResult() const { return m_lastOpen; }
  bool ImportFile(const std::wstring& path, const std::wstring& extension, bool recognise) {
    return m_core.ImportFile(path, extension, recognise);
  }
  bool ExportFile(const std::wstring& path, const std::wstring& extension) {
    return m_core.ExportFile(path, extension);
  }
  void Reset() { m_core.Reset(); }
  void ResetModel() { m_core.ResetModel(); }
  void EnableGrid(bool show) { m_core.EnableGrid(show); }
  void EnableTrihedron(bool show) { m_core.EnableTrihedron(show); }

  QZ::ObjPtr<QZ::CAD::IRecognizeShaft> RecognizeShape(const QZ::ObjPtr<QZ::CAD::IShape>& shape) {
    return m_core.RecognizeShape(shape);
  }
  void RecognizeAllShapes(const std::shared_ptr<CTreeObject>& object) {
    m_core.RecognizeAllShapes(object);
  }
  RecognitionList GetRecognizeData() const { return m_core.GetRecognizeData(); }
  bool RecognizeSelected(CTreeObject* object, RecognizeState& state) {
    return m_core.RecognizeSelected(object, state);
  }
  bool IsSelectedItem() const { return m_core.IsSelectedItem(); }
  void GetDataSelected(CTreeObject* object, std::vector<qz_RecognizeShaft>& output) const {
    m_core.GetDataSelected(object, output);
  }
  std::vector<qz_RecognizeShaft> GetRecognizeDataSelected() {
    return m_core.GetRecognizeDataSelected();
  }

  // One pane alone fills the left column; hiding both hides the column.
  void ShowTreeObjectView(bool show);
  void ShowPropertiesView(bool show);
  bool GetShowTreeObjectView() const { return m_bShowTreeObjectView; }
  bool GetShowPropertiesView() const { return m_bShowPropertiesView; }

  // The share of the left column and of the tree in it; a set takes effect at the next layout,
  // a get reads the current share (which a drag of the bar changes) and keeps it.
  void SetInitialRatioH(double ratio);
  void SetInitialRatioV(double ratio);
  double GetInitialRatioH();
  double GetInitialRatioV();

  // The left column's width from the side panes' texts (CVHSplitter::SetFirstPaneFit); the
  // panes call it when their texts change.
  void UpdatePaneFit();

  void UpdateTreeObjectView() { m_core.UpdateTreeObjectView(); }
  void UpdatePropertiesView() { m_core.UpdatePropertiesView(); }
  void FillLanguageProperties(CTreeObject* object) { m_core.FillLanguageProperties(object); }

 private:
  CWorkspaceCore m_core;
  ModelOpenResult m_lastOpen;
  CVHSplitter* m_wndSplitterLeft = nullptr;
  int m_nID = 0;
  CTreeObjectView* m_wndTreeObjectView = nullptr;
  CObject3DView* m_wndObject3DView = nullptr;
  CPropertiesView* m_wndPropertiesView = nullptr;
  bool m_bShowTreeObjectView = true;
  bool m_bShowPropertiesView = true;
  double m_dInitialRatioH = 0.25;
  double m_dInitialRatioV = 0.5;
};
