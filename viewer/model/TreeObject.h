#pragma once
// Model tree objects: anything with a property list (CGeometry), the objects of the model tree
// (CTreeObject) with groups (CNode, the root CNodeRoot) and leaves with a solid (CObject3D), and
// the model file's header (CHeader).
//
// Every tree object holds a local placement (12 doubles, a 3x4 matrix row after row) relative to
// its parent, and the engine context of its workspace through which it builds its solid.
// Parents own their children through shared pointers; a child knows its parent by a plain
// pointer.

#include "MorlaneExport.h"
#include "model/Property.h"
#include "model/PropertyValue.h"
#include "workspace/CADEngine.h"

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using ICADContext = QZ::CAD::ICADContext;
using Matrix12 = std::array<double, 12>;

// Type codes returned by CTreeObject::GetType.
enum eTreeObjectType : int {
  eTypeObject3D = 0,  // CObject3D itself, gears and tooth profiles, screws, studs
  eTypeNode = 1,      // CNode, CNodeRoot
  eTypeShaft = 2,
  eTypeBox = 3,
  eTypeSphere = 4,
  eTypeCylinder = 5,
  eTypeCone = 6,
  eTypeTorus = 7,
  eTypeWedge = 8,
  eTypeHollowCylinder = 9,
  eTypeHollowCone = 10,
  eTypeRackGear = 12,
  eTypeConeGear = 13,
  eTypeBearing = 14,
  eTypePlanetCarrier = 15,
  eTypeShaftSection = 16,
  eTypeBeamRect = 17,
  eTypeBeamCircular = 18,  // and elliptical beams
  eTypeBeamL = 20,
  eTypeBeamZ = 21,
  eTypeBeamI = 22,
  eTypeBeamT = 23,  // and U beams
  eTypeBolt = 25,
};

// Default colour of a 3D object (red 0x00, green 0x8C, blue 0xAF).
constexpr COLORREF kDefaultObjectColor = 0x00AF8C00;

// An engine colour (red, green, blue from 0 to 1) as a COLORREF: each component times 255,
// truncated, its low 8 bits.
MORLANE_API COLORREF ColorFromRGB(const double* rgb3);

MORLANE_API Matrix12 IdentityMatrix12();

class MORLANE_API CGeometry {
 public:
  CGeometry();
  virtual ~CGeometry();
  CGeometry(const CGeometry&) = delete;
  CGeometry& operator=(const CGeometry&) = delete;

  // The property tree the property pane shows: a group "Root" (text 391) holding a group
  // captioned GetCaption() with every property in order.
  virtual std::shared_ptr<CProperty> GetProperties();
  virtual std::wstring GetCaption() const;    // "Geometry"
  virtual const char* GetArchiveTag() const;  // "GeometryParameters"

  std::shared_ptr<CPropertyStandard> AddProperty(const std::wstring& name, int labelId,
                                                 int descriptionId, const CVariant& value);
  std::shared_ptr<CPropertyColor> AddColorProperty(const std::wstring& name, int labelId,
                                                   COLORREF color);

  // Look-ups ignore case; the first match wins; null when there is none (or of another kind).
  std::shared_ptr<CProperty> FindProperty(const std::wstring& name) const;
  std::shared_ptr<CPropertyStandard> FindStandardProperty(const std::wstring& name) const;
  std::shared_ptr<CPropertyColor> FindColorProperty(const std::wstring& name) const;

  // A copy of the value; an empty value when there is no such property.
  CVariant GetValue(const std::wstring& name) const;
  // The Set operations do nothing when no matching property exists.
  void SetValue(const std::wstring& name, const CVariant& value);
  void SetColor(const std::wstring& name, COLORREF color);
  void SetLabelId(const std::wstring& name, int id);
  void SetColorLabelId(const std::wstring& name, int id);
  void SetDescriptionId(const std::wstring& name, int id);

  const std::vector<std::shared_ptr<CProperty>>& GetPropertyList() const { return m_arProperties; }
  CGeometry* GetOwner() const { return m_pOwner; }

 protected:
  std::vector<std::shared_ptr<CProperty>> m_arProperties;
  CGeometry* m_pOwner = nullptr;  // recorded as owner by every new property
};

class CObject3D;

// How the sections of the shafts recognised in a copy lie: none at position 0 (or nothing
// recognised), some, or all of them.
enum RecognizeState : std::uint32_t {
  eRecognizeNoneAtZero = 0,
  eRecognizeSomeAtZero = 1,
  eRecognizeAllAtZero = 2,
};

// The engine's recognition results an import or a copy collects, one per part or leaf tried
// (null where no shaft was found).
using RecognitionList = std::vector<QZ::ObjPtr<QZ::CAD::IRecognizeShaft>>;

class CNode;
class CTreeObject;

// What a group asks when it takes in an imported part (CNode::ImportItem) or copies a leaf of
// another model (CNode::AppendCopy) with recognition: whether the solid is something the model
// has a class for (the workspace hands in the shaft recogniser), and if so that object, added to
// the group. The caller hands it in; the group knows nothing of what is recognised.
class MORLANE_API IPartRecogniser {
 public:
  virtual ~IPartRecogniser();
  // Import form: the part's solid at the part's placement, named as the part. Leaves the
  // engine's answer (null included) in result; returns the object added to group, or null (the
  // group then adds the part as it is).
  virtual std::shared_ptr<CTreeObject> RecognizePart(
      ICADContext* context, QZ::CAD::IPart* part, CNode& group,
      QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result) const = 0;
  // Copy form: the leaf's solid. Sets *state (when given) for this leaf, eRecognizeNoneAtZero
  // when nothing is recognised; otherwise as RecognizePart.
  virtual std::shared_ptr<CTreeObject> RecognizeLeaf(ICADContext* context, CObject3D& leaf,
                                                     CNode& group,
                                                     QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result,
                                                     RecognizeState* state) const = 0;
};

class MORLANE_API CTreeObject : public CGeometry {
 public:
  CTreeObject();
  ~CTreeObject() override;

  virtual bool IsNode() const = 0;
  virtual int GetType() const = 0;
  // Rebuilds and places (leaves) or does so for every child (groups). Always true. A leaf
  // throws the error of its build (QZ::IException*, CComError...); a group builds every child
  // and then throws the first error one of them threw (so that the caller can undo the change
  // that caused it), after the others have been built.
  virtual bool Update() = 0;
  virtual void SetContext(QZ::ObjPtr<ICADContext> context);

  void SetMatrix(const double* matrix12);
  const Matrix12& GetMatrix() const { return m_matrix; }
  // Parent's global placement times the own one (through the engine's matrix service); the own
  // matrix for an object without parent or context.
  Matrix12 GetGlobalMatrix() const;

  const QZ::ObjPtr<ICADContext>& GetContext() const { return m_pContext; }
  CTreeObject* GetParent() const { return m_pParent; }
  void SetParent(CTreeObject* parent) { m_pParent = parent; }

  // The "Name" value as text.
  std::wstring GetName() const;

 protected:
  CTreeObject* m_pParent = nullptr;
  Matrix12 m_matrix;
  QZ::ObjPtr<ICADContext> m_pContext;
};

// How build errors of objects are reported (a message box in the frame). The message is the
// finished text, for example "Invalid parameter in 'Box 1'". The default reporter writes it to
// the standard error stream.
using BuildErrorReporter = std::function<void(const std::wstring& message)>;
MORLANE_API void SetBuildErrorReporter(BuildErrorReporter reporter);
// Hands a message to the reporter (the model reader's messages go the same way).
MORLANE_API void ReportBuildError(const std::wstring& message);
// While into is set, the messages reported on the calling thread are kept there, in order, for
// the thread that takes the model to report (the first 10,000). Null: reported as they come.
MORLANE_API void HoldBuildErrors(std::vector<std::wstring>* into);

// Runs object.Update(), catching every error of the build. On an error: reports the message
// for the object's name and returns false; keep (when given) tells whether the object may stay
// in the model (invalid parameters and invalid use: yes; anything else: no).
MORLANE_API bool UpdateReportingErrors(CTreeObject& object, bool* keep = nullptr);
// The same for an error already caught (std::current_exception of a build): reports it for the
// object as UpdateReportingErrors does; null: nothing to report, true.
MORLANE_API bool ReportBuildFailure(CTreeObject& object, std::exception_ptr error,
                                    bool* keep = nullptr);

// Building the leaves of a whole model at once. While a batch is open on this thread (the model
// reader opens one for a file), CNode::AddChild places a leaf in its group without building it
// and queues it here. Finish builds every queued leaf on as many threads as the engine context
// allows (ICADContext::GetBuildThreads; all leaves of one shaft in order on one thread, as its
// sections share the shaft's builder), then, on this thread and in the order the leaves were
// added, reports each failure as AddChild would have, takes out of its group a leaf AddChild
// would not have kept, and runs the steps queued with Then in their places between them. So the
// model, its order and its messages are those of building each leaf as it is added; only the
// time differs. The engine's objects are used by one thread at a time; nothing of the model is
// touched by two threads. With an engine that builds on the caller's thread only (0 threads),
// the batch defers nothing and AddChild builds at once.
class MORLANE_API CBuildBatch {
 public:
  // done: leaves built so far, total: leaves queued; false cancels.
  using Progress = std::function<bool(int done, int total)>;

  explicit CBuildBatch(const QZ::ObjPtr<ICADContext>& context);
  ~CBuildBatch();  // Finish without progress, when it was not called
  CBuildBatch(const CBuildBatch&) = delete;
  CBuildBatch& operator=(const CBuildBatch&) = delete;

  // The batch open on this thread that defers builds; null when none.
  static CBuildBatch* Current();

  // Queues a leaf its group has just taken (CNode::AddChild).
  void Add(CNode& group, std::shared_ptr<CTreeObject> leaf);
  // Runs leftOut at Finish if the leaf added last is taken out of its group again.
  void WhenLeftOut(std::function<void()> leftOut);
  // A step run at Finish in its place among the reports (a message of the reader's own).
  void Then(std::function<void()> step);
  int Queued() const { return static_cast<int>(m_builds); }

  // Builds, reports and takes out (above); true when done. progress, when given, is called on
  // this thread about ten times a second while the builds run; when it returns false, no
  // further build starts, those under way end, nothing is reported and Finish returns false
  // (the caller drops the model).
  bool Finish(const Progress& progress = {});

 private:
  struct Entry {
    CNode* group = nullptr;
    std::shared_ptr<CTreeObject> leaf;  // null: a step
    std::function<void()> step;
    std::function<void()> leftOut;
  };
  std::vector<Entry> m_entries;
  size_t m_builds = 0;
  int m_threads = 0;
  bool m_finished = false;
  CBuildBatch* m_previous = nullptr;
};

class MORLANE_API CNode : public CTreeObject {
 public:
  CNode();
  ~CNode() override;

  bool IsNode() const override { return true; }
  int GetType() const override { return eTypeNode; }
  bool Update() override;
  std::wstring GetCaption() const override;  // text 390 "Node"
  const char* GetArchiveTag() const override { return "Node"; }

  // The child takes this group's context and the group as its parent; a leaf is built and
  // placed at once (errors reported; a child whose error is not about its parameters is not
  // added). Returns whether the child was added.
  virtual bool AddChild(std::shared_ptr<CTreeObject> child);
  // Removes the first child that is `child`, keeping the order of the others.
  bool RemoveChild(CTreeObject* child);

  // Fills an engine assembly with this group's content, in order: a leaf with a solid becomes a
  // part with the leaf's name and colour, a group a named sub-assembly filled the same way;
  // leaves without solid are skipped.
  virtual void ExportToAssembly(QZ::CAD::IAssembly* assembly);
  // Adds an imported engine item below this group: an assembly as a named group at the item's
  // placement with its children, a part as a CObject3D with the item's name, colour (when it
  // has one), solid and placement. With a recogniser, a part is first handed to it: the
  // engine's answer, null or not, is appended to recognized, and what it recognised takes the
  // part's place. Null: no recognition, nothing appended. Errors of one item are reported and
  // the rest goes on.
  virtual void ImportItem(QZ::CAD::IItem* item, const IPartRecogniser* recogniser,
                          RecognitionList& recognized);
  // Adds a copy of an object of another model below this group: a group as a named group at
  // the identity placement with copies of its children, a leaf (first handed to the recogniser
  // when there is one, its answer appended to recognized) as a CObject3D with the source's
  // name, colour and solid at the source's global placement. The copy is flat in placement.
  // state ends as the last leaf left it (eRecognizeNoneAtZero for a leaf not recognised, and
  // for every leaf without recogniser). The source is only read.
  virtual void AppendCopy(CTreeObject* source, const IPartRecogniser* recogniser,
                          RecognitionList& recognized, RecognizeState* state);

  std::shared_ptr<CTreeObject> GetChild(int index) const;  // null outside 0..count-1
  int GetChildCount() const { return static_cast<int>(m_arChildren.size()); }
  const std::vector<std::shared_ptr<CTreeObject>>& GetChildren() const { return m_arChildren; }

 protected:
  std::vector<std::shared_ptr<CTreeObject>> m_arChildren;
};

class MORLANE_API CHeader : public CGeometry {
 public:
  // owner: the root whose header this is (the properties record it as their owner).
  explicit CHeader(CGeometry* owner = nullptr);
  std::wstring GetCaption() const override;
  const char* GetArchiveTag() const override { return "Header"; }
};

// Names of the five header texts, in order.
MORLANE_API const std::vector<std::wstring>& HeaderPropertyNames();

class MORLANE_API CNodeRoot : public CNode {
 public:
  CNodeRoot();
  ~CNodeRoot() override;
  std::wstring GetCaption() const override;  // text 391 "Root"
  const char* GetArchiveTag() const override { return "NodeRoot"; }
  const std::shared_ptr<CHeader>& GetHeader() const { return m_pHeader; }

 protected:
  std::shared_ptr<CHeader> m_pHeader;
};

class MORLANE_API CObject3D : public CTreeObject {
 public:
  CObject3D();
  ~CObject3D() override;

  bool IsNode() const override { return false; }
  int GetType() const override { return eTypeObject3D; }
  // BuildShape, then the solid placed at GetGlobalMatrix().
  bool Update() override;
  std::wstring GetCaption() const override;  // text 392 "Object 3D"

  virtual std::wstring GetTypeName() const { return {}; }
  // Builds the solid through the engine; nothing in CObject3D itself.
  virtual void BuildShape() {}

  // New references to the solid and to its displayed visual (null when none).
  QZ::ObjPtr<QZ::CAD::IShape> GetShape() const { return m_pShape; }
  QZ::ObjPtr<QZ::CAD::IShapeVis> GetShapeVis() const { return m_pShapeVis; }
  void SetShape(QZ::ObjPtr<QZ::CAD::IShape> shape) { m_pShape = std::move(shape); }
  void SetShapeVis(QZ::ObjPtr<QZ::CAD::IShapeVis> vis) { m_pShapeVis = std::move(vis); }

  // The "Color" value as red, green, blue from 0 to 1 (red from the lowest byte).
  std::array<double, 3> GetColorRGB() const;

 protected:
  // Replaces the solid by what the engine returned (null included).
  void StoreShape(QZ::CAD::IShape* built) { m_pShape = QZ::ObjPtr<QZ::CAD::IShape>(built); }

  QZ::ObjPtr<QZ::CAD::IShape> m_pShape;
  QZ::ObjPtr<QZ::CAD::IShapeVis> m_pShapeVis;
};
