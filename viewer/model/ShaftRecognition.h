#pragma once
// Where shaft recognition meets the model tree: the two forms of recognition that
// CNode::ImportItem (an imported part) and CNode::AppendCopy (a leaf of another model) try.
//
// Both forms ask the context's shaft recogniser for the solid and leave its answer (null
// included) in the result slot. Turning a recognised shaft into a modelled CShaft below the
// group is the job of the shaft builder installed with SetRecognizedShaftBuilder; without one,
// nothing is added and both forms return null (the caller then adds the solid as it is). A
// recogniser that throws an engine error counts as one that found no shaft.

#include "MorlaneExport.h"
#include "model/TreeObject.h"

#include <functional>
#include <memory>

// Builds the modelled shaft for a recognised engine result, adds it to group with the given
// placement and returns it; state (copy form only, else null) receives the summary.
using RecognizedShaftBuilder = std::function<std::shared_ptr<CTreeObject>(
    const QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result, CNode& group, const Matrix12& matrix,
    RecognizeState* state)>;
MORLANE_API void SetRecognizedShaftBuilder(RecognizedShaftBuilder builder);

// Import form: the part item's shape (passed on even when null) and placement; the shaft is
// named as the item.
MORLANE_API std::shared_ptr<CTreeObject> RecognizeImportedPart(
    ICADContext* context, QZ::CAD::IPart* part, CNode& group,
    QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result);

// Copy form: the leaf's solid at the identity placement; the state is set to
// eRecognizeNoneAtZero first, and a leaf without solid stops there (no engine call).
MORLANE_API std::shared_ptr<CTreeObject> RecognizeModelLeaf(
    ICADContext* context, CObject3D& leaf, CNode& group,
    QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result, RecognizeState* state);
