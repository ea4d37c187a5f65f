#pragma once
// The working part of one workspace: its model, its engine context and view, the recognition
// results, and the selection flow between its panes. It holds no window: the panes are reached
// through the two small interfaces below, messages through a callback, so that the workspace
// runs in tests with the real engine and an off-screen view. CSplitterView (the workspace's
// window) owns one and hands its panes to it.
//
// Selection flows one way round: a pick in the 3D view selects the tree item (OnPick); the
// tree's selection selects the shapes in the view and fills the property pane
// (OnTreeSelectionChanged); a value changed in the property pane is written into the model and
// rebuilds its owner, which is shown again, or renames the tree item (ChangeProperty).
//
// Every command that changes the model is the workspace's: delete (DeleteSelected,
// DeleteObject), rename (Rename), a changed value (ChangeProperty), recognition. The panes ask
// for them and are told what changed through their interfaces; no pane reaches another.

#include "MorlaneExport.h"
#include "model/ShaftRecognition.h"
#include "model/TreeObject.h"
#include "model/reader/ModelReader.h"
#include "workspace/ModelPreload.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What the workspace needs of its model tree pane.
class MORLANE_API IWorkspaceTree {
 public:
  virtual ~IWorkspaceTree();
  // Shows the model (null: nothing); the selection is cleared.
  virtual void UpdateTreeObjects(const std::shared_ptr<CNodeRoot>& root) = 0;
  // The object of the selected item; null when no item is selected.
  virtual CTreeObject* GetSelectedObject() const = 0;
  // The object of the root item; null when the tree has no item.
  virtual CTreeObject* GetRootObject() const = 0;
  // Selects the item of the object (null: no item) and reports the change to the workspace.
  virtual void SelectObject(CTreeObject* object) = 0;
  // The text of the root item.
  virtual void SetRootText(const std::wstring& text) = 0;
  virtual void RefreshTexts() = 0;  // redraw after a language change
  // The selected item takes the name of its object.
  virtual void UpdateSelName() = 0;
  // The item of the object takes the name of its object; nothing when no item holds it.
  virtual void UpdateItemName(CTreeObject* object) = 0;
  // The item of the object and every item below it go (the model is not touched); nothing when
  // no item holds the object.
  virtual void RemoveItem(CTreeObject* object) = 0;
  // Every item below the object's item goes; its own item stays.
  virtual void RemoveChildItems(CTreeObject* object) = 0;
};

// What became of a value changed in the property pane.
enum class PropertyChange {
  Ignored,      // no property or no owner: nothing written
  Written,      // written into an object without parent (the model root): nothing else
  Renamed,      // "Name": the tree item renamed, nothing rebuilt
  Recoloured,   // "Color": the solid shown again in its new colour
  Rebuilt,      // the owner (a section's whole shaft) rebuilt and shown again
  Restored,     // the rebuild failed: "Invalid parameter!", the old value back and rebuilt
  KeptInvalid,  // the old value failed too: the new value stays in the model
};

// What the workspace needs of its property pane.
class MORLANE_API IWorkspaceProperties {
 public:
  virtual ~IWorkspaceProperties();
  // Shows the properties of the object (null: none).
  virtual void UpdateObjectProperties(CTreeObject* object) = 0;
  virtual void RemoveAll() = 0;
  virtual void RefreshTexts() = 0;
};

// Why opening a model file in a workspace failed.
enum class ModelOpenError {
  None,       // opened: the new model is on display
  NotRead,    // the reader refused the file (read says why)
  Cancelled,  // the open's progress cancelled it, while reading or waiting for a preload
};

// What became of CWorkspaceCore::OpenXml; true when the model was opened. On a failure the
// workspace keeps its previous model, context and display.
struct MORLANE_API ModelOpenResult {
  ModelOpenError reason = ModelOpenError::None;
  // The reading's own result; for a file read ahead, the preload's.
  ModelReadResult read;
  bool preloaded = false;       // the model was (to be) taken from a reading started ahead
  bool droppedPreload = false;  // a reading of another file started ahead was dropped

  explicit operator bool() const { return reason == ModelOpenError::None; }
  // One line for a log (the reading's, ModelReadResult::Text); empty when opened.
  std::wstring Text() const;
};

class MORLANE_API CWorkspaceCore {
 public:
  using MessageSink = std::function<void(const std::wstring& text)>;

  CWorkspaceCore();
  ~CWorkspaceCore();
  CWorkspaceCore(const CWorkspaceCore&) = delete;
  CWorkspaceCore& operator=(const CWorkspaceCore&) = delete;

  // The engine's tools object that fresh contexts come from; the first context is taken at once.
  void SetTools(QZ::CAD::ICADTools* tools);
  QZ::CAD::ICADTools* GetTools() const { return m_pTools; }
  // The view the model is shown in (an off-screen one in tests).
  void SetView(QZ::ObjPtr<QZ::CAD::IView> view);
  void SetPanes(IWorkspaceTree* tree, IWorkspaceProperties* properties);
  // Where error messages go (a message box with the error icon in the windows); the default
  // writes them to the standard error stream.
  void SetMessageSink(MessageSink sink) { m_messages = std::move(sink); }

  const QZ::ObjPtr<QZ::CAD::IView>& GetView() const { return m_pView; }
  const QZ::ObjPtr<ICADContext>& GetContext() const { return m_pContext; }
  std::shared_ptr<CNodeRoot> GetRoot() const { return m_pRoot; }

  // Reads the model file into a new model that replaces the old one; on a failure (the result
  // says why) nothing changes.
  ModelOpenResult OpenXml(const std::wstring& path);
  // Starts reading the model file and building its solids on a thread of their own (in a
  // context of their own), while the caller does other things, such as bringing its window up.
  // OpenXml of the same path then takes that model, waiting for it with the open's progress
  // (which can cancel it as it cancels an open) and reporting its messages on its own thread.
  // Any other open, import, recognition or reset drops it, and so does the workspace's end.
  void PreloadXml(const std::wstring& path);
  // The same with a reading started elsewhere (before the workspace existed).
  void AdoptPreload(std::unique_ptr<CModelPreload> preload);
  bool ImportFile(const std::wstring& path, const std::wstring& extension, bool recognise);
  bool ExportFile(const std::wstring& path, const std::wstring& extension);
  void Reset();
  void ResetModel();
  void EnableGrid(bool show);
  void EnableTrihedron(bool show);
  bool IsGridShown() const { return m_bShowGrid; }
  bool IsTrihedronShown() const { return m_bShowTrihedron; }

  QZ::ObjPtr<QZ::CAD::IRecognizeShaft> RecognizeShape(const QZ::ObjPtr<QZ::CAD::IShape>& shape);
  void RecognizeAllShapes(const std::shared_ptr<CTreeObject>& object);
  RecognitionList GetRecognizeData() const { return m_arRecognizeData; }
  bool RecognizeSelected(CTreeObject* object, RecognizeState& state);
  bool IsSelectedItem() const;
  // The object of the tree's selected item, else that of its root item; null for an empty tree.
  CTreeObject* GetSelectedOrRootObject() const;
  void GetDataSelected(CTreeObject* object, std::vector<qz_RecognizeShaft>& output) const;
  std::vector<qz_RecognizeShaft> GetRecognizeDataSelected();

  void UpdateTreeObjectView();
  void UpdatePropertiesView();
  void FillLanguageProperties(CTreeObject* object);

  // The selection flow.
  void OnPick(QZ::CAD::IShapeVis* vis);
  void OnTreeSelectionChanged(CTreeObject* object);
  void OnObjectChanged(CObject3D* object);
  // A value edited in the property pane: written into the property, then by its name the tree
  // item renamed ("Name"), the solid recoloured ("Color") or the owner rebuilt (a shaft section:
  // its whole shaft) and shown again. A failed rebuild shows "Invalid parameter!" and puts the
  // previous value back (and rebuilds with it). The property's label and description follow an
  // edge value's sign (lch1, lch2).
  PropertyChange ChangeProperty(CPropertyStandard& property, const CVariant& value);
  PropertyChange ChangeProperty(CPropertyColor& property, COLORREF color);
  // The leaf of the model whose visual is vis; null when none.
  CObject3D* FindObjectOfVisual(QZ::CAD::IShapeVis* vis) const;
  // Whether the object is part of this workspace's model (its root included).
  bool Holds(const CTreeObject* object) const;

  // Deletes the object of the tree's selected item (DeleteObject); false when nothing is
  // selected.
  bool DeleteSelected();
  // Deletes an object of the model: its shapes are erased from the view, it leaves its group
  // and its item (with the items below it) leaves the tree; nothing is selected afterwards and
  // the property pane is empty. A shaft section leaves its shaft, whose other sections stay as
  // they are. The model root stays with its item: every object below it goes, and a selected
  // root stays selected and shown. False, and nothing changed, for null or an object of
  // another model.
  bool DeleteObject(CTreeObject* object);
  // Gives the object a new name (its "Name" property) and its tree item the same text; a
  // selected object's properties are shown again. Ignored for null, an object of another model
  // or one without a name; otherwise Renamed.
  PropertyChange Rename(CTreeObject* object, const std::wstring& name);

  // What the 3D pane does with the shapes of model objects in the workspace's view: select
  // every leaf below the object (and finish the selection), add them to the selection, erase
  // them, show a leaf again after its solid changed (ViewShapes). Engine errors are dropped.
  void SelectShapes(CTreeObject* object);
  void AddToSelection(CTreeObject* object);
  void EraseShapes(CTreeObject* object);
  void ShowAgain(CObject3D* object);

  // Shows every solid below the object in the view.
  void AddObjectsToViewer(const std::shared_ptr<CTreeObject>& object);
  // Has the view make ready what it will show of every solid below the object (their meshes,
  // made on all processors; IView::Prepare).
  void PrepareShapes(CTreeObject* object);
  // Called while OpenXml builds the model's solids (on this thread, with the solids built and
  // the solids to build); returning false cancels the open, which then fails and leaves the
  // previous model as it was. Null: none.
  void SetOpenProgress(CBuildBatch::Progress progress) { m_openProgress = std::move(progress); }
  // Hands the root's five header texts to the context's header service.
  void LoadHeader(const std::shared_ptr<CNodeRoot>& root);

 private:
  void ShowNewModel();
  void RefreshPanes();
  void Message(int textId);
  void ShowText(const std::wstring& text);
  // Steps after the write of ChangeProperty; old is the previous value of a standard one.
  PropertyChange CarryPropertyChange(CProperty& property, CTreeObject& owner,
                                     CPropertyStandard* standard, const CVariant& old,
                                     const CVariant& value);

  void DropPreload();
  // Clears the selection in the tree, the view and the property pane.
  void ClearSelection();
  // Runs a call of the view; its engine errors are dropped (a command never stops half-way
  // through the windows that asked for it).
  template <class F>
  void InView(const F& call);

  std::unique_ptr<CModelPreload> m_preload;
  QZ::CAD::ICADTools* m_pTools = nullptr;
  IWorkspaceTree* m_pTree = nullptr;
  IWorkspaceProperties* m_pProperties = nullptr;
  MessageSink m_messages;
  CBuildBatch::Progress m_openProgress;
  bool m_bShowTrihedron = true;
  bool m_bShowGrid = true;
  QZ::ObjPtr<QZ::CAD::IView> m_pView;
  QZ::ObjPtr<ICADContext> m_pContext;
  std::shared_ptr<CNodeRoot> m_pRoot;
  RecognitionList m_arRecognizeData;
  std::vector<qz_RecognizeShaft> m_arRecognizeSelected;
};

template <class F>
void CWorkspaceCore::InView(const F& call) {
  if (!m_pView) return;
  try {
    call(m_pView.Get());
  } catch (QZ::IException* e) {
    if (e) e->Release();
  }
}

// The shaft section's labels and descriptions in the current language (only for a section
// with a parent).
MORLANE_API void RelabelShaftSection(CTreeObject& section);
