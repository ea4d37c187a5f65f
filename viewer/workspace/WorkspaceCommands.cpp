// The commands of a workspace that change its model's tree (delete, rename), and what the 3D
// pane does with the shapes of model objects in the workspace's view.
#include "workspace/ViewShapes.h"
#include "workspace/WorkspaceCore.h"

namespace {

// A parent chain longer than this is no model's: the walk stops there.
constexpr int kMaxDepth = 100000;

}  // namespace

bool CWorkspaceCore::Holds(const CTreeObject* object) const {
  if (!object || !m_pRoot) return false;
  const CTreeObject* top = object;
  for (int depth = 0; top->GetParent(); ++depth) {
    if (depth >= kMaxDepth) return false;
    top = top->GetParent();
  }
  return top == m_pRoot.get();
}

CTreeObject* CWorkspaceCore::GetSelectedOrRootObject() const {
  if (!m_pTree) return nullptr;
  CTreeObject* object = m_pTree->GetSelectedObject();
  return object ? object : m_pTree->GetRootObject();
}

void CWorkspaceCore::ClearSelection() {
  if (m_pTree)
    m_pTree->SelectObject(nullptr);
  else
    OnTreeSelectionChanged(nullptr);
}

bool CWorkspaceCore::DeleteSelected() {
  return m_pTree && DeleteObject(m_pTree->GetSelectedObject());
}

bool CWorkspaceCore::DeleteObject(CTreeObject* object) {
  if (!Holds(object)) return false;
  CTreeObject* parent = object->GetParent();
  if (!parent) {
    // The model root: everything below it goes, it stays with its item.
    if (!object->IsNode()) return false;
    auto* root = static_cast<CNode*>(object);
    const bool selected = m_pTree && m_pTree->GetSelectedObject() == object;
    EraseShapes(root);
    // A selection below the root goes with it.
    if (!selected) ClearSelection();
    // Held until the tree has let go of their items.
    const auto children = root->GetChildren();
    while (root->GetChildCount() > 0) root->RemoveChild(root->GetChild(0).get());
    if (m_pTree) m_pTree->RemoveChildItems(root);
    if (selected)
      OnTreeSelectionChanged(root);  // shown again, with nothing below it
    else
      InView([](QZ::CAD::IView* view) { view->Redraw(); });
    return true;
  }
  if (!parent->IsNode()) return false;
  auto* group = static_cast<CNode*>(parent);
  std::shared_ptr<CTreeObject> held;
  for (const auto& child : group->GetChildren())
    if (child.get() == object) held = child;
  if (!held) return false;
  // Its shapes go first, then the selection (one draw of what is left); nothing may point into
  // the object once it has left the model: the view's selection, the property rows, the item.
  EraseShapes(object);
  ClearSelection();
  group->RemoveChild(object);
  if (m_pTree) m_pTree->RemoveItem(object);
  InView([](QZ::CAD::IView* view) { view->Redraw(); });
  return true;
}

PropertyChange CWorkspaceCore::Rename(CTreeObject* object, const std::wstring& name) {
  if (!Holds(object)) return PropertyChange::Ignored;
  auto property = object->FindStandardProperty(L"Name");
  if (!property) return PropertyChange::Ignored;
  property->SetValue(CVariant(name));
  if (m_pTree) {
    m_pTree->UpdateItemName(object);
    if (m_pProperties && m_pTree->GetSelectedObject() == object)
      m_pProperties->UpdateObjectProperties(object);
  }
  return PropertyChange::Renamed;
}

void CWorkspaceCore::SelectShapes(CTreeObject* object) {
  InView([&](QZ::CAD::IView* view) { ViewShapes::SelectShape(view, object); });
}

void CWorkspaceCore::AddToSelection(CTreeObject* object) {
  InView([&](QZ::CAD::IView* view) { ViewShapes::SelectRecurs(view, object); });
}

void CWorkspaceCore::EraseShapes(CTreeObject* object) {
  InView([&](QZ::CAD::IView* view) { ViewShapes::Erase(view, object); });
}

void CWorkspaceCore::ShowAgain(CObject3D* object) {
  InView([&](QZ::CAD::IView* view) { ViewShapes::UpdateSelectedObject(view, object); });
}
