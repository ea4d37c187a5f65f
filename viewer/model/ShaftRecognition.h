#pragma once
// Where shaft recognition meets the model tree: the two forms of recognition that a group tries
// when it is handed the shaft recogniser (ShaftRecogniser(), an IPartRecogniser): an imported
// part (CNode::ImportItem) and a leaf of another model (CNode::AppendCopy). The workspace hands
// it in for an import with recognition and for recognise-selected.
//
// Both forms ask the context's shaft recogniser for the solid and leave its answer (null
// included) in the result slot. Turning a recognised shaft into a modelled CShaft below the
// group is the job of the recognised-shaft builder: BuildRecognizedShaft from the start of the
// process, or another installed with SetRecognizedShaftBuilder; with none (an empty builder
// installed), nothing is added and both forms return null (the caller then adds the solid as
// it is). A recogniser that throws an engine error counts as one that found no shaft.
//
// A section's position is its distance from the end of the section before it (the shaft
// builder lays sections out one after the other), so the sections of a one-piece shaft are all
// at position 0.

#include "MorlaneExport.h"
#include "model/TreeObject.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CShaft;
class CShaftSection;

// The kind of a groove record (qz_RecognizeGroove::type). The engine's recognised grooves
// (IRecognizeGroove::GetType) use the same numbers, and one more of their own.
enum eRecognizeGrooveType : std::int32_t {
  eRecognizeGrooveNone = 0,  // no block: circular grooves too
  eRecognizeNotchChevron = 1,
  eRecognizeGrooveRectangular = 2,
  eRecognizeCrossHole = 3,
  eRecognizeGrooveParallelKey = 4,
  eRecognizeSlots = 5,
  // Only from the engine: a circular groove with its block; its record is of type none.
  eRecognizeEngineCircular = 6,
};

// Records of a modelled shaft as the host program reads them, packed to 4 bytes (a double may
// follow a 32-bit field directly).
#pragma pack(push, 4)
struct qz_RecognizeGroove {
  // An eRecognizeGrooveType from none to slots. Only the block of the type is filled; the
  // others are 0.
  std::int32_t type = eRecognizeGrooveNone;
  QZ::CAD::RecognizeNotchBlock notch{};
  QZ::CAD::RecognizeRectangularBlock rectangular{};
  QZ::CAD::RecognizeCrossHoleBlock crossHole{};
  QZ::CAD::RecognizeParallelKeyBlock parallelKey{};
  QZ::CAD::RecognizeSlotsBlock slots{};
};
struct qz_RecognizeSection {
  double pos = 0, dout1 = 0, dout2 = 0, din1 = 0, din2 = 0, l = 0, lch1 = 0, lch2 = 0;
  std::vector<qz_RecognizeGroove> grooves;  // in section order
};
#pragma pack(pop)
// The sections of one shaft in shaft order.
using qz_RecognizeShaft = std::vector<qz_RecognizeSection>;

static_assert(sizeof(QZ::CAD::RecognizeNotchBlock) == 16);
static_assert(sizeof(QZ::CAD::RecognizeRectangularBlock) == 32);
static_assert(sizeof(QZ::CAD::RecognizeCrossHoleBlock) == 32);
static_assert(sizeof(QZ::CAD::RecognizeParallelKeyBlock) == 40);
static_assert(sizeof(QZ::CAD::RecognizeSlotsBlock) == 44);
static_assert(offsetof(QZ::CAD::RecognizeSlotsBlock, n) == 16);
static_assert(offsetof(QZ::CAD::RecognizeSlotsBlock, d) == 20);
static_assert(offsetof(qz_RecognizeGroove, notch) == 4);
static_assert(offsetof(qz_RecognizeGroove, rectangular) == 20);
static_assert(offsetof(qz_RecognizeGroove, crossHole) == 52);
static_assert(offsetof(qz_RecognizeGroove, parallelKey) == 84);
static_assert(offsetof(qz_RecognizeGroove, slots) == 124);
static_assert(sizeof(qz_RecognizeGroove) == 168);
static_assert(offsetof(qz_RecognizeSection, lch2) == 56);
static_assert(offsetof(qz_RecognizeSection, grooves) == 64);

// The record of one shaft section: all 0 without grooves when the section has no parent.
MORLANE_API qz_RecognizeSection RecognizeSectionRecord(const CShaftSection& section);
// One record per shaft section among the shaft's children, in order (other children are no
// sections and give none).
MORLANE_API qz_RecognizeShaft RecognizeShaftRecord(const CShaft& shaft);

// What the host records leave out of a section's grooves, one entry per groove record in the
// same order: a circular groove's position x, depth t and radius r (its record stays of type
// none, as the host reads it), kept by the modelled groove. Other grooves' entries are of type
// none and all 0.
struct RecognizeGrooveExtension {
  std::int32_t type = eRecognizeGrooveNone;  // eRecognizeEngineCircular for a circular groove
  QZ::CAD::RecognizeCircularBlock circular{};
};
using RecognizeSectionExtensions = std::vector<RecognizeGrooveExtension>;
// Of one section: empty for a section without parent, as its record has no grooves.
MORLANE_API RecognizeSectionExtensions RecognizeSectionExtension(const CShaftSection& section);
// One per record of RecognizeShaftRecord, in the same order.
MORLANE_API std::vector<RecognizeSectionExtensions> RecognizeShaftExtension(const CShaft& shaft);

// Builds the modelled shaft for a recognised engine result, adds it to group with the given
// placement and returns it; state (copy form only, else null) receives the summary.
using RecognizedShaftBuilder = std::function<std::shared_ptr<CTreeObject>(
    const QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result, CNode& group, const Matrix12& matrix,
    RecognizeState* state)>;
MORLANE_API void SetRecognizedShaftBuilder(RecognizedShaftBuilder builder);

// The modelled shaft of an engine result: a CShaft at the given placement added to group, with
// one CShaftSection per engine section (its values and grooves), green when the section lies
// at position 0 (it adjoins the one before) and red otherwise (the engine section is then
// written back at position 0, closing the gap), all at the result's placement. The copy form's
// state follows the count of both colours. The builder in place from the start.
MORLANE_API std::shared_ptr<CTreeObject> BuildRecognizedShaft(
    const QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result, CNode& group, const Matrix12& matrix,
    RecognizeState* state);

// Import form: the part item's shape (passed on even when null) and placement; the shaft is
// named as the item, its sections as the item with an underscore and their number from 1.
MORLANE_API std::shared_ptr<CTreeObject> RecognizeImportedPart(
    ICADContext* context, QZ::CAD::IPart* part, CNode& group,
    QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result);

// Copy form: the leaf's solid at the identity placement; the state is set to
// eRecognizeNoneAtZero first, and a leaf without solid stops there (no engine call).
MORLANE_API std::shared_ptr<CTreeObject> RecognizeModelLeaf(
    ICADContext* context, CObject3D& leaf, CNode& group,
    QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result, RecognizeState* state);

// The two forms above as the recogniser a group is handed (CNode::ImportItem, AppendCopy).
class MORLANE_API CShaftRecogniser : public IPartRecogniser {
 public:
  std::shared_ptr<CTreeObject> RecognizePart(
      ICADContext* context, QZ::CAD::IPart* part, CNode& group,
      QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result) const override;
  std::shared_ptr<CTreeObject> RecognizeLeaf(ICADContext* context, CObject3D& leaf, CNode& group,
                                             QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result,
                                             RecognizeState* state) const override;
};
// The one shaft recogniser of the process (it holds nothing).
MORLANE_API const IPartRecogniser& ShaftRecogniser();
