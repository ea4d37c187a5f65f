#include "workspace/ViewShapes.h"

#include <vector>

namespace ViewShapes {

namespace {

template <class Leaf>
void ForEachLeaf(CTreeObject* object, const Leaf& leaf) {
  if (!object) return;
  if (object->IsNode()) {
    // A copy of the child list: the callback never changes the tree, but it may run engine
    // code that reports through the model.
    const auto children = static_cast<CNode*>(object)->GetChildren();
    for (const auto& child : children) ForEachLeaf(child.get(), leaf);
    return;
  }
  leaf(static_cast<CObject3D&>(*object));
}

// The shaft a section belongs to, or null.
CNode* ShaftOfSection(CTreeObject* object) {
  if (!object || object->GetType() != eTypeShaftSection) return nullptr;
  CTreeObject* shaft = object->GetParent();
  return shaft && shaft->IsNode() ? static_cast<CNode*>(shaft) : nullptr;
}

// A section's change redisplays every section of its shaft: the view keeps all of them in
// front with the selected one, so that the change draws only them again. Nothing for any other
// object.
void KeepShaftInFront(QZ::CAD::IView* view, CTreeObject* object) {
  std::vector<QZ::ObjPtr<QZ::CAD::IShapeVis>> held;
  if (CNode* shaft = ShaftOfSection(object)) {
    const auto children = shaft->GetChildren();
    for (const auto& child : children)
      if (!child->IsNode())
        if (auto vis = static_cast<CObject3D&>(*child).GetShapeVis())
          held.push_back(std::move(vis));
  }
  std::vector<QZ::CAD::IShapeVis*> visuals;
  for (const auto& vis : held) visuals.push_back(vis.Get());
  view->KeepInFront(visuals.data(), static_cast<int>(visuals.size()));
}

}  // namespace

bool DisplayLeaf(QZ::CAD::IView* view, CObject3D& leaf) {
  if (!view) return false;
  QZ::ObjPtr<QZ::CAD::IShape> shape = leaf.GetShape();
  if (!shape) return false;
  QZ::ObjPtr<QZ::CAD::IShapeVis> vis(view->Display(shape.Get()));
  if (vis) {
    const auto rgb = leaf.GetColorRGB();
    vis->SetColor(rgb[0], rgb[1], rgb[2]);
  }
  leaf.SetShapeVis(std::move(vis));
  return true;
}

void SelectRecurs(QZ::CAD::IView* view, CTreeObject* object) {
  if (!view) return;
  ForEachLeaf(object, [&](CObject3D& leaf) {
    if (auto vis = leaf.GetShapeVis()) view->Select(vis.Get());
  });
}

void SelectShape(QZ::CAD::IView* view, CTreeObject* object) {
  if (!view) return;
  view->ClearSelection();
  SelectRecurs(view, object);
  KeepShaftInFront(view, object);
  view->FinishSelection();
}

void Erase(QZ::CAD::IView* view, CTreeObject* object) {
  if (!view) return;
  ForEachLeaf(object, [&](CObject3D& leaf) {
    if (auto vis = leaf.GetShapeVis()) view->Erase(vis.Get());
  });
}

void UpdateSelectedObject(QZ::CAD::IView* view, CObject3D* object) {
  if (!view || !object) return;
  if (CNode* shaft = ShaftOfSection(object)) {
    const auto children = shaft->GetChildren();
    for (const auto& child : children) {
      if (child->IsNode()) continue;
      auto& leaf = static_cast<CObject3D&>(*child);
      if (auto old = leaf.GetShapeVis()) view->Erase(old.Get());
      leaf.SetShapeVis(nullptr);
      DisplayLeaf(view, leaf);
    }
    KeepShaftInFront(view, object);
  } else {
    view->DeleteSelected();
    object->SetShapeVis(nullptr);
    DisplayLeaf(view, *object);
  }
  if (auto vis = object->GetShapeVis()) view->Select(vis.Get());
  // One draw of the scene: nothing else changed, so no refit.
  view->Redraw();
}

}  // namespace ViewShapes
