#pragma once
// What the 3D pane does with the shapes of model objects in its engine view: select a subtree,
// erase it, and show an object again after its solid was rebuilt. No window is involved, so the
// workspace and its tests use the same operations as the pane.

#include "MorlaneExport.h"
#include "model/TreeObject.h"

namespace ViewShapes {

// Clears the view's selection, adds the visual of every leaf below the object (the object
// itself when it is a leaf) and finishes the selection. The sections of a selected section's
// shaft are kept in front with it (IView::KeepInFront): a change of the section shows all of
// them again.
MORLANE_API void SelectShape(QZ::CAD::IView* view, CTreeObject* object);
// Adds the visuals of the leaves below the object to the selection; nothing for null.
MORLANE_API void SelectRecurs(QZ::CAD::IView* view, CTreeObject* object);
// Erases the visuals of the leaves below the object from the view; nothing for null.
MORLANE_API void Erase(QZ::CAD::IView* view, CTreeObject* object);
// Shows a leaf again after its solid changed. A shaft section redisplays every leaf of its
// shaft (the sections share one builder, so all of them may have moved); any other leaf
// replaces the selected visuals by its new one. The object's new visual ends selected, then the
// view is updated and redrawn.
MORLANE_API void UpdateSelectedObject(QZ::CAD::IView* view, CObject3D* object);
// Displays the leaf's solid (when it has one) in the view with the leaf's colour and stores the
// visual in the leaf, releasing the old one; false for a leaf without solid.
MORLANE_API bool DisplayLeaf(QZ::CAD::IView* view, CObject3D& leaf);

}  // namespace ViewShapes
