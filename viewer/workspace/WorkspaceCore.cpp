#include "workspace/WorkspaceCore.h"

#include "model/elements/Shafts.h"
#include "model/reader/ModelReader.h"
#include "ui/MlsString.h"
#include "ui/TextIds.h"
#include "workspace/ModelPreload.h"
#include "workspace/ViewShapes.h"
#include "xml/XmlText.h"

#include <iostream>

IWorkspaceTree::~IWorkspaceTree() = default;
IWorkspaceProperties::~IWorkspaceProperties() = default;

namespace {

enum class ExchangeFormat { None, Step, Iges, Stl };

ExchangeFormat FormatOf(const std::wstring& extension) {
  using MorlaneText::EqualsNoCase;
  if (EqualsNoCase(extension, L"stp") || EqualsNoCase(extension, L"step"))
    return ExchangeFormat::Step;
  if (EqualsNoCase(extension, L"igs") || EqualsNoCase(extension, L"iges"))
    return ExchangeFormat::Iges;
  if (EqualsNoCase(extension, L"stl")) return ExchangeFormat::Stl;
  return ExchangeFormat::None;
}

std::wstring Text(int id) { return CMlsString::GetResourceString(eMessages, id); }

std::wstring EngineText(const char* text) {
  return text ? MorlaneText::FromUtf8(text) : std::wstring();
}

// The first of the five header texts that the root holds: its header's, else its own.
std::wstring HeaderText(const CNodeRoot& root, const std::wstring& name) {
  std::wstring text;
  if (root.GetHeader()) text = root.GetHeader()->GetValue(name).ToText();
  if (text.empty()) text = root.GetValue(name).ToText();
  return text;
}

bool IsShaftSectionInShaft(const CTreeObject& object) {
  return object.GetType() == eTypeShaftSection && object.GetParent() &&
         object.GetParent()->GetType() == eTypeShaft;
}

void Relabel(CTreeObject& object, std::initializer_list<std::pair<const wchar_t*, int>> labels) {
  for (const auto& [name, id] : labels) object.SetDescriptionId(name, id);
}

}  // namespace

void RelabelShaftSection(CTreeObject& section) {
  if (!section.GetParent()) return;
  section.SetLabelId(L"Name", TextId::Name);
  section.SetColorLabelId(L"Color", TextId::Color);
  Relabel(section, {{L"pos", TextId::DescPosition},
                    {L"dout1", TextId::DescOuterDiameter1},
                    {L"dout2", TextId::DescOuterDiameter2},
                    {L"din1", TextId::DescInnerDiameter1},
                    {L"din2", TextId::DescInnerDiameter2},
                    {L"l", TextId::DescLength},
                    {L"lch1", TextId::DescEnd1},
                    {L"lch2", TextId::DescEnd2}});
  // The sign of an end says what it is: a chamfer below zero, a rounding above.
  auto number = [&](const wchar_t* name) {
    try {
      return section.GetValue(name).ToDouble();
    } catch (...) {
      return 0.0;
    }
  };
  const double lch1 = number(L"lch1"), lch2 = number(L"lch2");
  if (lch1 < -0.000001) section.SetDescriptionId(L"lch1", TextId::DescChamfer1);
  if (lch1 > 0.000001) section.SetDescriptionId(L"lch1", TextId::DescRounding1);
  if (lch2 < -0.000001) section.SetDescriptionId(L"lch2", TextId::DescChamfer2);
  if (lch2 > 0.000001) section.SetDescriptionId(L"lch2", TextId::DescRounding2);
  auto* shaftSection = dynamic_cast<CShaftSection*>(&section);
  if (!shaftSection) return;
  for (const auto& groove : shaftSection->GetGrooves()) {
    CGeometry& g = *groove;
    auto describe = [&](std::initializer_list<std::pair<const wchar_t*, int>> labels) {
      for (const auto& [name, id] : labels) g.SetDescriptionId(name, id);
    };
    switch (groove->GetGrooveType()) {
      case eGrooveRectangular:
        describe({{L"t", TextId::DescDepth}, {L"r", TextId::DescRadius}});
        break;
      case eNotchChevron:
        describe({{L"x", TextId::DescDistance}, {L"t", TextId::DescDepth}});
        break;
      case eGrooveCircular: break;
      case eCrossHole:
        describe({{L"x", TextId::DescDistance},
                  {L"t", TextId::DescDepth},
                  {L"r", TextId::DescRadius},
                  {L"angle", TextId::DescAngle}});
        break;
      case eGrooveParallelKey:
        describe({{L"x", TextId::DescDistance},
                  {L"l", TextId::DescLength},
                  {L"t", TextId::DescDepth},
                  {L"r", TextId::DescRadius},
                  {L"angle", TextId::DescAngle}});
        break;
      case eSlots:
        describe({{L"x", TextId::DescDistance},
                  {L"l", TextId::DescLength},
                  {L"n", TextId::DescSlotCount},
                  {L"win", TextId::DescInnerWidth},
                  {L"wout", TextId::DescOuterWidth}});
        break;
      default: break;
    }
  }
}

CWorkspaceCore::CWorkspaceCore() = default;

CWorkspaceCore::~CWorkspaceCore() {
  DropPreload();
  // The recognition results, the model, the context and the view, in this order.
  m_arRecognizeSelected.clear();
  m_arRecognizeData.clear();
  m_pRoot.reset();
  m_pContext = nullptr;
  m_pView = nullptr;
}

void CWorkspaceCore::SetTools(QZ::CAD::ICADTools* tools) {
  m_pTools = tools;
  ResetModel();
}

void CWorkspaceCore::SetView(QZ::ObjPtr<QZ::CAD::IView> view) { m_pView = std::move(view); }

void CWorkspaceCore::SetPanes(IWorkspaceTree* tree, IWorkspaceProperties* properties) {
  m_pTree = tree;
  m_pProperties = properties;
}

void CWorkspaceCore::Message(int textId) {
  std::wstring text = Text(textId);
  // The engine's reason of a failed exchange follows on a line of its own.
  if ((textId == TextId::MsgImportError || textId == TextId::MsgExportError) && m_pContext) {
    const std::wstring reason = EngineText(m_pContext->GetLastErrorText());
    if (!reason.empty()) text += L"\n" + reason;
  }
  ShowText(text);
}

void CWorkspaceCore::ShowText(const std::wstring& text) {
  if (m_messages)
    m_messages(text);
  else
    std::wcerr << text << L"\n";
}

void CWorkspaceCore::ResetModel() {
  if (!m_pTools) return;
  try {
    m_pContext = QZ::ObjPtr<ICADContext>(m_pTools->NewContext());
  } catch (QZ::IException* e) {
    if (e) e->Release();
  }
}

void CWorkspaceCore::ShowNewModel() {
  if (!m_pView) return;
  m_pView->EraseAll();
  m_pView->ResetView();
  PrepareShapes(m_pRoot.get());
  AddObjectsToViewer(m_pRoot);
  m_pView->FitAll();
  m_pView->Redraw();
}

void CWorkspaceCore::RefreshPanes() {
  if (m_pTree) m_pTree->UpdateTreeObjects(m_pRoot);
  if (m_pProperties) m_pProperties->UpdateObjectProperties(nullptr);
  if (m_pView) {
    m_pView->ShowGrid(m_bShowGrid);
    m_pView->ShowAxes(m_bShowTrihedron);
  }
}

void CWorkspaceCore::PreloadXml(const std::wstring& path) {
  AdoptPreload(CModelPreload::Start(m_pTools, path));
}

void CWorkspaceCore::AdoptPreload(std::unique_ptr<CModelPreload> preload) {
  DropPreload();
  m_preload = std::move(preload);
}

void CWorkspaceCore::DropPreload() { m_preload.reset(); }

std::wstring ModelOpenResult::Text() const {
  if (reason == ModelOpenError::None) return {};
  return read.Text();
}

ModelOpenResult CWorkspaceCore::OpenXml(const std::wstring& path) {
  ModelOpenResult result;
  std::shared_ptr<CNodeRoot> root;
  if (m_preload && m_preload->GetPath() == path) {
    result.preloaded = true;
    const std::unique_ptr<CModelPreload> preload = std::move(m_preload);
    root = preload->Take(m_openProgress);
    result.read = preload->GetReadResult();
  } else {
    result.droppedPreload = m_preload != nullptr;
    DropPreload();
    root = std::make_shared<CNodeRoot>();
    root->SetContext(m_pContext);
    result.read = ReadModelFile(path, root, nullptr, m_openProgress);
  }
  if (result.read && !root) {
    result.read.reason = ModelReadError::Failed;  // a preload taken already: nothing to show
  }
  if (!result.read) {
    // A cancelled open is a failed one: the previous model stays.
    result.reason = result.read.reason == ModelReadError::Cancelled ? ModelOpenError::Cancelled
                                                                    : ModelOpenError::NotRead;
    return result;
  }
  ResetModel();
  m_pRoot = root;
  ShowNewModel();
  RefreshPanes();
  return result;
}

bool CWorkspaceCore::ImportFile(const std::wstring& path, const std::wstring& extension,
                                bool recognise) {
  DropPreload();
  ResetModel();
  const ExchangeFormat format = FormatOf(extension);
  if (format != ExchangeFormat::None) {
    if (!m_pContext) {
      Message(TextId::MsgImportError);
      return false;
    }
    const std::string narrow = MorlaneText::ToUtf8(path);
    bool imported = false;
    try {
      switch (format) {
        case ExchangeFormat::Step: imported = m_pContext->ImportSTEP(narrow.c_str()); break;
        case ExchangeFormat::Iges: imported = m_pContext->ImportIGES(narrow.c_str()); break;
        default: imported = m_pContext->ImportSTL(narrow.c_str()); break;
      }
    } catch (QZ::IException* e) {
      if (e) e->Release();
      imported = false;
    }
    if (!imported) {
      // The old model stays, with its own context, on display.
      Message(TextId::MsgImportError);
      return false;
    }
    auto root = std::make_shared<CNodeRoot>();
    root->SetContext(m_pContext);
    if (format == ExchangeFormat::Step) {
      QZ::CAD::IHeaderService* header = m_pContext->GetHeaderService();
      if (header) {
        const std::wstring texts[] = {
            EngineText(header->GetFileDescription()), EngineText(header->GetFileName()),
            EngineText(header->GetAuthor()), EngineText(header->GetOrganization()),
            EngineText(header->GetAuthorisation())};
        const auto& names = HeaderPropertyNames();
        for (size_t i = 0; i < names.size() && i < 5; ++i) {
          root->SetValue(names[i], CVariant(texts[i]));
          if (root->GetHeader()) root->GetHeader()->SetValue(names[i], CVariant(texts[i]));
        }
      }
    }
    m_arRecognizeData.clear();
    const IPartRecogniser* recogniser = recognise ? &ShaftRecogniser() : nullptr;
    QZ::ObjPtr<QZ::CAD::IAssembly> document(m_pContext->GetAssembly());
    if (document) {
      const int count = document->GetChildCount();
      for (int i = 0; i < count; ++i) {
        QZ::ObjPtr<QZ::CAD::IItem> item(document->GetChild(i));
        if (item) root->ImportItem(item.Get(), recogniser, m_arRecognizeData);
      }
    }
    m_pRoot = root;
    ShowNewModel();
  }
  RefreshPanes();
  return true;
}

bool CWorkspaceCore::ExportFile(const std::wstring& path, const std::wstring& extension) {
  ResetModel();
  const ExchangeFormat format = FormatOf(extension);
  if (format == ExchangeFormat::None) return true;
  if (!m_pRoot || !m_pContext) {
    Message(TextId::MsgExportError);
    return false;
  }
  bool exported = false;
  try {
    QZ::ObjPtr<QZ::CAD::IAssembly> assembly(m_pContext->GetAssembly());
    if (assembly) m_pRoot->ExportToAssembly(assembly.Get());
    LoadHeader(m_pRoot);
    const std::string narrow = MorlaneText::ToUtf8(path);
    switch (format) {
      case ExchangeFormat::Step: exported = m_pContext->ExportSTEP(narrow.c_str()); break;
      case ExchangeFormat::Iges: exported = m_pContext->ExportIGES(narrow.c_str()); break;
      default: exported = m_pContext->ExportSTL(narrow.c_str()); break;
    }
  } catch (QZ::IException* e) {
    if (e) e->Release();
    exported = false;
  }
  if (!exported) {
    Message(TextId::MsgExportError);
    return false;
  }
  return true;
}

void CWorkspaceCore::LoadHeader(const std::shared_ptr<CNodeRoot>& root) {
  if (!root || !m_pContext) return;
  QZ::CAD::IHeaderService* header = m_pContext->GetHeaderService();
  if (!header) return;
  const auto& names = HeaderPropertyNames();
  using Setter = void (QZ::CAD::IHeaderService::*)(const char*);
  const Setter setters[] = {
      &QZ::CAD::IHeaderService::SetFileDescription, &QZ::CAD::IHeaderService::SetFileName,
      &QZ::CAD::IHeaderService::SetAuthor, &QZ::CAD::IHeaderService::SetOrganization,
      &QZ::CAD::IHeaderService::SetAuthorisation};
  for (size_t i = 0; i < names.size() && i < 5; ++i) {
    const std::string text = MorlaneText::ToUtf8(HeaderText(*root, names[i]));
    (header->*setters[i])(text.c_str());
  }
}

void CWorkspaceCore::AddObjectsToViewer(const std::shared_ptr<CTreeObject>& object) {
  if (!object || !m_pView) return;
  if (object->IsNode()) {
    for (const auto& child : static_cast<CNode&>(*object).GetChildren()) AddObjectsToViewer(child);
    return;
  }
  try {
    ViewShapes::DisplayLeaf(m_pView.Get(), static_cast<CObject3D&>(*object));
  } catch (QZ::IException* e) {
    // A solid the view cannot show is left out; the rest is shown.
    if (e) e->Release();
  }
}

void CWorkspaceCore::PrepareShapes(CTreeObject* object) {
  if (!object || !m_pView) return;
  std::vector<QZ::ObjPtr<QZ::CAD::IShape>> shapes;
  std::vector<CTreeObject*> pending{object};
  while (!pending.empty()) {
    CTreeObject* o = pending.back();
    pending.pop_back();
    if (o->IsNode()) {
      for (const auto& child : static_cast<CNode*>(o)->GetChildren())
        if (child) pending.push_back(child.get());
    } else if (auto shape = static_cast<CObject3D*>(o)->GetShape()) {
      shapes.push_back(std::move(shape));
    }
  }
  if (shapes.empty()) return;
  std::vector<QZ::CAD::IShape*> raw;
  raw.reserve(shapes.size());
  for (const auto& s : shapes) raw.push_back(s.Get());
  try {
    m_pView->Prepare(raw.data(), static_cast<int>(raw.size()));
  } catch (QZ::IException* e) {
    // Display makes what was not made ready.
    if (e) e->Release();
  }
}

void CWorkspaceCore::Reset() {
  DropPreload();
  m_pRoot = std::make_shared<CNodeRoot>();
  m_pRoot->SetContext(m_pContext);
  if (m_pView) {
    m_pView->EraseAll();
    m_pView->ResetView();
    m_pView->ShowGrid(m_bShowGrid);
    m_pView->ShowAxes(m_bShowTrihedron);
    m_pView->UpdateView();
    m_pView->Redraw();
  }
  if (m_pTree) m_pTree->UpdateTreeObjects(m_pRoot);
  if (m_pProperties) {
    m_pProperties->RemoveAll();
    m_pProperties->RefreshTexts();
  }
}

void CWorkspaceCore::EnableGrid(bool show) {
  m_bShowGrid = show;
  if (m_pView) {
    m_pView->ShowGrid(show);
    m_pView->Redraw();
  }
}

void CWorkspaceCore::EnableTrihedron(bool show) {
  m_bShowTrihedron = show;
  if (m_pView) {
    m_pView->ShowAxes(show);
    m_pView->Redraw();
  }
}

QZ::ObjPtr<QZ::CAD::IRecognizeShaft> CWorkspaceCore::RecognizeShape(
    const QZ::ObjPtr<QZ::CAD::IShape>& shape) {
  if (!shape || !m_pContext) return nullptr;
  QZ::CAD::IShaftRecognizer* recognizer = m_pContext->GetShaftRecognizer();
  if (!recognizer) return nullptr;
  try {
    return QZ::ObjPtr<QZ::CAD::IRecognizeShaft>(recognizer->Recognize(shape.Get()));
  } catch (QZ::IException* e) {
    if (e) e->Release();
    return nullptr;
  }
}

void CWorkspaceCore::RecognizeAllShapes(const std::shared_ptr<CTreeObject>& object) {
  if (!object) return;
  if (object->IsNode()) {
    for (const auto& child : static_cast<CNode&>(*object).GetChildren()) RecognizeAllShapes(child);
    return;
  }
  auto shape = static_cast<CObject3D&>(*object).GetShape();
  if (shape) m_arRecognizeData.push_back(RecognizeShape(shape));
}

bool CWorkspaceCore::RecognizeSelected(CTreeObject* object, RecognizeState& state) {
  // The object may belong to this workspace's own model: keep that model alive while it is
  // copied.
  const std::shared_ptr<CNodeRoot> previous = m_pRoot;
  DropPreload();
  ResetModel();
  auto root = std::make_shared<CNodeRoot>();
  root->SetContext(m_pContext);
  m_pRoot = root;
  m_arRecognizeData.clear();
  if (object) {
    if (!object->GetParent() && object->IsNode()) {
      const auto children = static_cast<CNode*>(object)->GetChildren();
      for (const auto& child : children)
        root->AppendCopy(child.get(), &ShaftRecogniser(), m_arRecognizeData, &state);
    } else if (object->GetParent()) {
      root->AppendCopy(object, &ShaftRecogniser(), m_arRecognizeData, &state);
    }
  }
  ShowNewModel();
  RefreshPanes();
  return true;
}

bool CWorkspaceCore::IsSelectedItem() const { return m_pTree && m_pTree->GetSelectedObject(); }

void CWorkspaceCore::GetDataSelected(CTreeObject* object,
                                     std::vector<qz_RecognizeShaft>& output) const {
  if (!object) return;
  if (!object->IsNode()) {
    if (IsShaftSectionInShaft(*object))
      output.push_back(RecognizeShaftRecord(static_cast<const CShaft&>(*object->GetParent())));
    return;
  }
  const auto& children = static_cast<CNode*>(object)->GetChildren();
  if (object->GetType() == eTypeShaft) {
    if (!children.empty()) GetDataSelected(children.front().get(), output);
    return;
  }
  for (const auto& child : children) GetDataSelected(child.get(), output);
}

std::vector<qz_RecognizeShaft> CWorkspaceCore::GetRecognizeDataSelected() {
  CTreeObject* object = GetSelectedOrRootObject();
  if (!object) {
    Message(TextId::MsgNothingSelected);
    return m_arRecognizeSelected;
  }
  m_arRecognizeSelected.clear();
  if (object->GetParent()) {
    GetDataSelected(object, m_arRecognizeSelected);
  } else if (object->IsNode()) {
    for (const auto& child : static_cast<CNode*>(object)->GetChildren())
      GetDataSelected(child.get(), m_arRecognizeSelected);
  }
  return m_arRecognizeSelected;
}

void CWorkspaceCore::UpdateTreeObjectView() {
  if (m_pTree) m_pTree->RefreshTexts();
  if (!m_pRoot) return;
  m_pRoot->SetValue(L"Name", CVariant(Text(TextId::Root)));
  if (m_pTree) m_pTree->SetRootText(m_pRoot->GetName());
}

void CWorkspaceCore::UpdatePropertiesView() {
  if (m_pProperties) m_pProperties->RefreshTexts();
  CTreeObject* object = m_pTree ? m_pTree->GetRootObject() : nullptr;
  if (object) {
    if (!object->GetParent()) {
      object->SetLabelId(L"Name", TextId::Name);
      int id = TextId::FileDescription;
      for (const auto& name : HeaderPropertyNames()) object->SetLabelId(name, id++);
      if (object->IsNode())
        for (const auto& child : static_cast<CNode*>(object)->GetChildren())
          FillLanguageProperties(child.get());
    } else {
      FillLanguageProperties(object);
    }
  }
  if (m_pTree && m_pProperties)
    if (CTreeObject* selected = m_pTree->GetSelectedObject())
      m_pProperties->UpdateObjectProperties(selected);
}

void CWorkspaceCore::FillLanguageProperties(CTreeObject* object) {
  if (!object) return;
  if (object->IsNode()) {
    object->SetLabelId(L"Name", TextId::Name);
    const auto& children = static_cast<CNode*>(object)->GetChildren();
    if (object->GetType() == eTypeShaft) {
      if (!children.empty()) FillLanguageProperties(children.front().get());
      return;
    }
    for (const auto& child : children) FillLanguageProperties(child.get());
    return;
  }
  if (IsShaftSectionInShaft(*object)) {
    for (const auto& sibling : static_cast<CNode*>(object->GetParent())->GetChildren())
      if (sibling->GetType() == eTypeShaftSection) RelabelShaftSection(*sibling);
    return;
  }
  object->SetLabelId(L"Name", TextId::Name);
  object->SetColorLabelId(L"Color", TextId::Color);
}

CObject3D* CWorkspaceCore::FindObjectOfVisual(QZ::CAD::IShapeVis* vis) const {
  if (!vis || !m_pRoot) return nullptr;
  std::vector<CTreeObject*> pending{m_pRoot.get()};
  while (!pending.empty()) {
    CTreeObject* object = pending.back();
    pending.pop_back();
    if (object->IsNode()) {
      const auto& children = static_cast<CNode*>(object)->GetChildren();
      for (auto it = children.rbegin(); it != children.rend(); ++it) pending.push_back(it->get());
      continue;
    }
    auto* leaf = static_cast<CObject3D*>(object);
    auto own = leaf->GetShapeVis();
    if (own && (own.Get() == vis || own->IsSame(vis))) return leaf;
  }
  return nullptr;
}

void CWorkspaceCore::OnPick(QZ::CAD::IShapeVis* vis) {
  CTreeObject* object = FindObjectOfVisual(vis);
  if (m_pTree)
    m_pTree->SelectObject(object);
  else
    OnTreeSelectionChanged(object);
}

void CWorkspaceCore::OnTreeSelectionChanged(CTreeObject* object) {
  InView([&](QZ::CAD::IView* view) {
    ViewShapes::SelectShape(view, object);
    view->Redraw();
  });
  if (m_pProperties) m_pProperties->UpdateObjectProperties(object);
}

void CWorkspaceCore::OnObjectChanged(CObject3D* object) {
  if (!object) return;
  // A section is built by its shaft's builder: the whole shaft is rebuilt.
  CTreeObject* rebuilt = IsShaftSectionInShaft(*object) ? object->GetParent() : object;
  UpdateReportingErrors(*rebuilt);
  if (m_pView) ViewShapes::UpdateSelectedObject(m_pView.Get(), object);
}

namespace {

// Runs the object's rebuild; false when it threw anything.
bool Rebuild(CTreeObject& object) {
  try {
    object.Update();
    return true;
  } catch (QZ::IException* e) {
    if (e) e->Release();
  } catch (...) {}
  return false;
}

CTreeObject* OwnerObject(const CProperty& property) {
  return dynamic_cast<CTreeObject*>(property.GetOwner());
}

}  // namespace

PropertyChange CWorkspaceCore::ChangeProperty(CPropertyStandard& property, const CVariant& value) {
  CTreeObject* owner = OwnerObject(property);
  if (!owner) return PropertyChange::Ignored;
  const CVariant old = property.GetValue();
  // The edge values relabel themselves by their sign as they are set.
  property.SetValue(value);
  return CarryPropertyChange(property, *owner, &property, old, value);
}

PropertyChange CWorkspaceCore::ChangeProperty(CPropertyColor& property, COLORREF color) {
  CTreeObject* owner = OwnerObject(property);
  if (!owner) return PropertyChange::Ignored;
  property.SetColor(color);
  return CarryPropertyChange(property, *owner, nullptr, CVariant(), CVariant());
}

PropertyChange CWorkspaceCore::CarryPropertyChange(CProperty& property, CTreeObject& owner,
                                                   CPropertyStandard* standard, const CVariant& old,
                                                   const CVariant& value) {
  if (!owner.GetParent()) return PropertyChange::Written;
  auto* leaf = owner.IsNode() ? nullptr : dynamic_cast<CObject3D*>(&owner);
  if (property.IsNamed(L"Name")) {
    if (m_pTree) m_pTree->UpdateSelName();
    return PropertyChange::Renamed;
  }
  if (property.IsNamed(L"Color")) {
    if (leaf && m_pView) ViewShapes::UpdateSelectedObject(m_pView.Get(), leaf);
    return PropertyChange::Recoloured;
  }
  // A section is built by its shaft's builder: the whole shaft is rebuilt.
  CTreeObject* target = &owner;
  if (owner.GetType() == eTypeShaftSection && owner.GetParent()) target = owner.GetParent();
  if (leaf && m_pView) ViewShapes::Erase(m_pView.Get(), target);
  PropertyChange result = PropertyChange::Rebuilt;
  if (!Rebuild(*target)) {
    // Deliberately the library's own text, not the language file's.
    ShowText(CMlsString::LoadResourceString(TextId::MsgInvalidParameter));
    result = PropertyChange::Restored;
    if (standard) {
      standard->SetValue(old);
      if (!Rebuild(*target)) {
        standard->SetValue(value);
        result = PropertyChange::KeptInvalid;
      }
    }
  }
  if (leaf && m_pView) {
    // Its display mesh made as an opened model's are (the view then takes it as it is).
    PrepareShapes(target);
    ViewShapes::UpdateSelectedObject(m_pView.Get(), leaf);
  }
  return result;
}
