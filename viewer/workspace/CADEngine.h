// Interface of the CAD engine library ("libcad-ondravel.so", export "EntryPoint").
//
// The viewer knows the engine only through this header. Every interface is a table of virtual
// operations whose order is part of the binary contract between the viewer and the engine:
// never reorder, insert or remove an operation, only append. None of the interfaces has a
// virtual destructor (it would take table slots); objects are freed by Release.
//
// Reference counting: slot 0 adds a reference, slot 1 drops one. Every object an operation
// returns carries one reference for the caller; QZ::ObjPtr<T> holds one. The services a
// context hands out (matrix, header, the factories, the shaft recogniser) belong to the
// context, start their operations at slot 0 and are never released.
//
// Matrices are 12 doubles: a 3x4 placement stored row after row, the rotation part in columns
// 1 to 3 and the translation in column 4. Colours are three doubles from 0 to 1 (red, green,
// blue). Paths and header texts are narrow (UTF-8 on this platform).
//
// Errors are thrown as QZ::IException*; the catcher reads the code and calls Release.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#if defined(_WIN32)
#define QZ_CAD_VISIBLE
#else
#define QZ_CAD_VISIBLE __attribute__((visibility("default")))
#endif

namespace QZ {

// Error codes carried by IException.
enum : int {
  eCodeNotImplemented = 0x4001,  // the engine does not offer this operation (yet)
  eCodeFailure = 0x4002,         // the geometric kernel failed
  eCodeOutOfRange = 0x4003,      // an index outside the valid range
  eCodePermission = 0x4004,      // the object may not be created
  eCodeNullShape = 0x4005,       // an operation needs a shape and got none
  eCodeFileAccess = 0x4006,      // an exchange file cannot be opened, read or written
  eCodeInvalidParameter = 0x4007,
  eCodeInvalidUse = 0x4008,
  eCodeTimeLimit = 0x4009,  // an import or export ran past its time limit
  eCodeCancelled = 0x400A,  // an import or export was cancelled by its progress callback
  eCodeBadFile = 0x400B,    // the content of an exchange file is refused (with the reason why)
  eCodeTooLarge = 0x400C,   // an export refused before it starts: it would be too large to make
};

// Thrown by pointer; the catcher owns it and calls Release.
class QZ_CAD_VISIBLE IException {
 public:
  virtual int GetCode() const = 0;          // 0
  virtual void Release() = 0;               // 1
  virtual const char* GetText() const = 0;  // 2: an English description, never null
};

// Base of all reference-counted engine objects.
class QZ_CAD_VISIBLE IObject {
 public:
  virtual void AddRef() = 0;   // 0
  virtual void Release() = 0;  // 1
};

// Holds one reference to an engine object.
template <class T>
class ObjPtr {
 public:
  ObjPtr() noexcept = default;
  ObjPtr(std::nullptr_t) noexcept {}
  // Takes over the reference the pointer carries (the way engine results are returned).
  explicit ObjPtr(T* p) noexcept : m_p(p) {}
  ObjPtr(const ObjPtr& o) noexcept : m_p(o.m_p) {
    if (m_p) m_p->AddRef();
  }
  ObjPtr(ObjPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ~ObjPtr() { Reset(); }
  ObjPtr& operator=(const ObjPtr& o) noexcept {
    if (o.m_p) o.m_p->AddRef();
    Reset();
    m_p = o.m_p;
    return *this;
  }
  ObjPtr& operator=(ObjPtr&& o) noexcept {
    if (this != &o) {
      Reset();
      m_p = std::exchange(o.m_p, nullptr);
    }
    return *this;
  }
  ObjPtr& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }
  // Shares a pointer someone else holds: adds a reference.
  static ObjPtr Share(T* p) noexcept {
    if (p) p->AddRef();
    return ObjPtr(p);
  }
  void Reset() noexcept {
    if (m_p) std::exchange(m_p, nullptr)->Release();
  }
  // Hands the reference to the caller.
  T* Detach() noexcept { return std::exchange(m_p, nullptr); }
  // A new reference for the caller (what GetShape-like accessors return).
  T* AddRefGet() const noexcept {
    if (m_p) m_p->AddRef();
    return m_p;
  }
  T* Get() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  T& operator*() const noexcept { return *m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }
  bool operator==(const ObjPtr& o) const noexcept { return m_p == o.m_p; }
  bool operator==(std::nullptr_t) const noexcept { return m_p == nullptr; }

 private:
  T* m_p = nullptr;
};

namespace CAD {

class IShape;
class IShapeVis;
class IView;
class IAssembly;
class IPart;
class IItem;

// Address of the window handle handed to ICADContext::NewView on X11.
struct XWindowHandle {
  void* display;         // Display*
  unsigned long window;  // Window
};

// Kinds of view for ICADContext::NewView.
enum : int {
  eViewOffscreen = 0,  // an invisible window of its own; the handle may be null
  eViewWindow = 1,     // draws into the window the handle names
};

// A solid (or any shape) of the engine. Immutable except the section solids of a shaft.
class QZ_CAD_VISIBLE IShape : public IObject {
 public:
  // A copy placed by the matrix. The placement replaces the one the shape had: the result
  // depends on the matrix only, also for a shape that was placed before.
  virtual IShape* Placed(const double* matrix) = 0;  // 2
  // xmin, ymin, zmin, xmax, ymax, zmax of the placed shape; false when empty.
  virtual bool GetBoundingBox(double* box6) = 0;  // 3
  virtual double GetVolume() = 0;                 // 4: of the solids, mm^3
  virtual bool IsValid() = 0;                     // 5: a valid, non-empty shape
  virtual int GetSolidCount() = 0;                // 6
};

// A section solid returned by the shaft builder; the grooves modify it in place.
class QZ_CAD_VISIBLE ISectionShape : public IShape {
 public:
  virtual void AddGrooveRectangular(double x, double m, double t, double r) = 0;  // 7
  virtual void AddNotchChevron(double x, double t) = 0;                           // 8
  virtual void AddGrooveCircular(double x, double t, double r) = 0;               // 9
  virtual void AddCrossHole(double x, double t, double r, double angle) = 0;      // 10
  virtual void AddGrooveParallelKey(double x, double l, double t, double r,
                                    double angle) = 0;  // 11
  virtual void AddSlots(double x, double l, unsigned int n, double d, double win,
                        double wout) = 0;  // 12
};

// What a view shows for one shape.
class QZ_CAD_VISIBLE IShapeVis : public IObject {
 public:
  virtual void SetColor(double r, double g, double b) = 0;  // 2
  virtual IShape* GetShape() = 0;                           // 3
  virtual bool IsSame(IShapeVis* other) = 0;                // 4
  virtual bool IsDisplayed() = 0;                           // 5
};

// Where a view's grid lies (IView::GetGrid): its extent in X and Y, the height of its plane and
// the distance between its lines, in millimetres.
struct GridPlacement {
  double xmin, ymin, xmax, ymax, z, spacing;
};

// What the view's drag (ButtonDown, Drag) does: turn the model or move it.
enum : int {
  eDragPan = 0,  // the default
  eDragRotate = 1,
};

// The 3D view drawing into one window. The right drag (RightButtonDown, RightDrag) zooms.
class QZ_CAD_VISIBLE IView : public IObject {
 public:
  virtual IShapeVis* Display(IShape* shape) = 0;     // 2
  virtual void Paint() = 0;                          // 3
  virtual void Zoom(double& factor) = 0;             // 4
  virtual void ButtonDown(int& x, int& y) = 0;       // 5
  virtual void RightButtonDown(int& x, int& y) = 0;  // 6
  virtual void Drag(int& x, int& y) = 0;             // 7: pan or rotate (SetDragMode)
  virtual void RightDrag(int& x, int& y) = 0;        // 8: zoom
  virtual void Resized() = 0;                        // 9
  virtual void ShowGrid(bool show) = 0;              // 10
  virtual void ShowAxes(bool show) = 0;              // 11
  virtual void Select(IShapeVis* vis) = 0;           // 12
  virtual IShapeVis* Pick(int x, int y) = 0;         // 13: null when nothing is there
  virtual void Erase(IShapeVis* vis) = 0;            // 14
  virtual void ClearSelection() = 0;                 // 15
  virtual void FinishSelection() = 0;                // 16
  virtual void DeleteSelected() = 0;                 // 17
  virtual void Redraw() = 0;                         // 18
  virtual void FitAll() = 0;                         // 19
  virtual void UpdateView() = 0;                     // 20
  virtual void EraseAll() = 0;                       // 21
  virtual void ResetView() = 0;                      // 22
  // Renders the view at the given size into a PNG file.
  virtual bool SaveImage(const char* path, int width, int height) = 0;  // 23
  virtual int GetDisplayedCount() = 0;                                  // 24
  virtual int GetSelectedCount() = 0;                                   // 25
  virtual double GetScale() = 0;                                        // 26
  // What the next ButtonDown starts and Drag continues (eDragPan, eDragRotate).
  virtual void SetDragMode(int mode) = 0;  // 27
  // Makes ready what Display will draw of these shapes: the meshes of shapes that a model
  // shows are made here, on as many threads as the machine has, each solid once however many
  // elements share it (the same meshes Display would make one after the other). Optional:
  // Display of a shape not made ready makes its mesh itself.
  virtual void Prepare(IShape* const* shapes, int count) = 0;  // 28
  // How many times the view has drawn its whole scene. Paint, Redraw, UpdateView and
  // FinishSelection draw it again only when something shown, selected, coloured or the camera
  // changed since the last time (or the window lost its picture); otherwise the last picture
  // is shown again.
  virtual long GetSceneDrawCount() = 0;  // 29
  // Writes the picture an off-screen view shows, as its last Paint, Redraw, UpdateView or
  // FinishSelection drew it (nothing is drawn again), into a PNG file of the view's size. False
  // for a window's view, before the first draw, and after a SaveImage until the next draw.
  virtual bool SaveShownImage(const char* path) = 0;  // 30
  // The selected visuals are drawn over the kept picture of the rest of the scene, so that a
  // change of them (erased, shown again, coloured) draws only them again; the one whole draw is
  // the one of their selection. These visuals are kept there as well, until the next call
  // (none: count 0): those that change with a selected one. Visuals the view does not show are
  // left out. The pictures are those of a whole draw.
  virtual void KeepInFront(IShapeVis* const* visuals, int count) = 0;  // 31
  // Where the grid (ShowGrid) lies: a rectangle of lines parallel to the X and Y axes in a
  // plane just below the lowest point of the box of everything the view shows, spanning that
  // box with a margin of at least one spacing on each side, with lines at whole multiples of
  // the spacing (1, 2 or 5 times a power of ten, about a tenth of the box's largest side). It
  // follows what is shown (Display, Erase, DeleteSelected, EraseAll): this gives where it lies
  // for what is shown now; the next draw puts it there and draws the scene whole, except after
  // a shape shown again in front (a selected element rebuilt, drawn over the kept picture),
  // when it moves at the next whole draw.
  // With nothing shown: 200 by 200 around the origin at z 0, spacing 10. False, and out
  // unchanged, while the grid is not shown.
  virtual bool GetGrid(GridPlacement* out) = 0;  // 32
};

// Name of an item of an assembly tree.
class QZ_CAD_VISIBLE IItemInfo : public IObject {
 public:
  virtual const char* GetName() = 0;  // 2
};

// Kinds of sub-shape a colour can sit on (ShapeColor::kind).
enum : int {
  eColorOfShape = 0,  // the whole shape: the part's own colour, the default of its sub-shapes
  eColorOfSolid = 1,
  eColorOfShell = 2,
  eColorOfFace = 3,
  eColorOfEdge = 4,
  eColorOfOther = 5,  // compounds, wires and vertices
};

// How an exchange file uses a colour (ShapeColor::use).
enum : int { eColorGeneric = 0, eColorSurface = 1, eColorCurve = 2 };

// A colour a shape read from an exchange file carries (ICADContext::GetShapeColor).
struct ShapeColor {
  int kind;        // eColorOfShape, eColorOfSolid, ...
  int index;       // the sub-shape: the index-th (from 1) of its kind in the shape; 0 for the shape
  int use;         // eColorGeneric, eColorSurface, eColorCurve
  double rgba[4];  // red, green, blue and opacity (1 opaque), each from 0 to 1
};

// Kinds of item.
enum : int { eItemPart = 0, eItemAssembly = 1 };

// An item of an assembly tree: an assembly (a document's root included) or a part.
class QZ_CAD_VISIBLE IItem : public IObject {
 public:
  virtual int GetKind() = 0;                           // 2
  virtual void SetName(const char* name) = 0;          // 3
  virtual IItemInfo* GetInfo() = 0;                    // 4
  virtual double* GetMatrix(double* matrix12) = 0;     // 5: placement in the parent
  virtual bool IsAssembly() = 0;                       // 6
  virtual void SetMatrix(const double* matrix12) = 0;  // 7
};

class QZ_CAD_VISIBLE IAssembly : public IItem {
 public:
  virtual int GetChildCount() = 0;             // 8
  virtual IItem* GetChild(int index) = 0;      // 9: null outside 0..count-1
  virtual IPart* AddShape(IShape* shape) = 0;  // 10
  virtual IAssembly* AddAssembly() = 0;        // 11
};

class QZ_CAD_VISIBLE IPart : public IItem {
 public:
  virtual IShape* GetShape() = 0;           // 8: unplaced (the placement is GetMatrix)
  virtual bool GetColor(double* rgb3) = 0;  // 9
  virtual void SetColor(double r, double g, double b) = 0;  // 10
};

// Context service: matrices.
class QZ_CAD_VISIBLE IMatrixService {
 public:
  virtual double* Identity(double* out12) = 0;                                   // 0
  virtual double* Translation(double x, double y, double z, double* out12) = 0;  // 1
  // Rotation by an angle in radians about an axis through the origin.
  virtual double* Rotation(double ax, double ay, double az, double angle, double* out12) = 0;  // 2
  virtual double* Inverse(const double* m12, double* out12) = 0;                               // 3
  virtual double* TransformPoint(const double* m12, const double* p3, double* out3) = 0;       // 4
  // parent x own; out may alias neither input. Returns out.
  virtual double* Multiply(const double* parent12, const double* own12, double* out12) = 0;  // 5
};

// Context service: the five texts written into and read from STEP headers.
class QZ_CAD_VISIBLE IHeaderService {
 public:
  virtual void SetFileDescription(const char* text) = 0;  // 0
  virtual void SetFileName(const char* text) = 0;         // 1
  virtual void SetAuthor(const char* text) = 0;           // 2
  virtual void SetOrganization(const char* text) = 0;     // 3
  virtual void SetAuthorisation(const char* text) = 0;    // 4
  virtual const char* GetFileDescription() = 0;           // 5
  virtual const char* GetFileName() = 0;                  // 6
  virtual const char* GetAuthor() = 0;                    // 7
  virtual const char* GetOrganization() = 0;              // 8
  virtual const char* GetAuthorisation() = 0;             // 9
};

// Points of a tooth profile.
class QZ_CAD_VISIBLE IPointList : public IObject {
 public:
  virtual void SetSpline(bool spline) = 0;            // 2
  virtual int GetCount() = 0;                         // 3
  virtual void AddPoint(double r, double angle) = 0;  // 4: angle in radians
};

class QZ_CAD_VISIBLE IShaftBuilder : public IObject {
 public:
  virtual int GetSectionCount() = 0;  // 2
  virtual IShape* GetShape() = 0;     // 3: all sections together, null when none
  virtual ISectionShape* AddSection(double pos, double dout1, double dout2, double din1,
                                    double din2, double l, double lch1, double lch2) = 0;  // 4
};

class QZ_CAD_VISIBLE IBeamFactory {
 public:
  virtual IShape* Rectangular(double h, double b, double l, double t) = 0;      // 0
  virtual IShape* Circular(double d, double l, double t) = 0;                   // 1
  virtual IShape* Elliptical(double d1, double d2, double l, double t) = 0;     // 2
  virtual IShape* BeamL(double h, double b, double t, double r, double l) = 0;  // 3
  virtual IShape* BeamZ(double h, double b, double t, double s, double r1, double r2,
                        double l) = 0;  // 4
  virtual IShape* BeamI(double h, double b, double t, double s, double r1, double r2, double l,
                        bool taper) = 0;  // 5
  virtual IShape* BeamU(double h, double b, double t, double s, double r1, double r2, double l,
                        bool taper) = 0;  // 6
  virtual IShape* BeamT(double h, double b, double t, double s, double r1, double r2, double r3,
                        double l, bool taper) = 0;  // 7
};

// The numbers that follow the point list in the tooth-profile operations.
struct ToothProfileValues {
  unsigned int z;
  double b;
  double beta;
  double d;
  double bn;  // double helical only
  double dn;  // double helical only
};

class QZ_CAD_VISIBLE IGearFactory {
 public:
  virtual IShape* ExternalToothProfile(IPointList* points, const ToothProfileValues& v) = 0;  // 0
  virtual IShape* ExternalGear(unsigned int z, double mn, double b, double alpha, double beta,
                               double k, double x, double d) = 0;                             // 1
  virtual IShape* InternalToothProfile(IPointList* points, const ToothProfileValues& v) = 0;  // 2
  virtual IShape* InternalGear(unsigned int z, double mn, double b, double alpha, double beta,
                               double k, double x, double d) = 0;  // 3
  virtual IShape* DoubleExternalToothProfile(IPointList* points,
                                             const ToothProfileValues& v) = 0;  // 4
  virtual IShape* DoubleExternalGear(unsigned int z, double mn, double b, double alpha, double beta,
                                     double k, double x, double d, double bn, double dn) = 0;  // 5
  virtual IShape* DoubleInternalToothProfile(IPointList* points,
                                             const ToothProfileValues& v) = 0;  // 6
  virtual IShape* DoubleInternalGear(unsigned int z, double mn, double b, double alpha, double beta,
                                     double k, double x, double d, double bn, double dn) = 0;  // 7
  virtual IShape* RackGear(double mn, double b, double h, double l) = 0;                       // 8
  virtual IShape* ConeGear(unsigned int z, double me, double angle, double db, double dc, double a,
                           double c, double e) = 0;  // 9
  virtual IPointList* NewPointList() = 0;            // 10
};

class QZ_CAD_VISIBLE IBearingFactory {
 public:
  virtual IShape* RollerBearing(double dout, double din, double B) = 0;             // 0
  virtual IShape* SlidingBearing(double dout, double din, double B) = 0;            // 1
  virtual IShape* RollingBearing(double dout, double din, double B, int type) = 0;  // 2
};

class QZ_CAD_VISIBLE IShaftFactory {
 public:
  virtual IShaftBuilder* NewShaftBuilder() = 0;                           // 0
  virtual IShape* PlanetCarrier(unsigned int n, double r, double l) = 0;  // 1
};

class QZ_CAD_VISIBLE IFastenerFactory {
 public:
  virtual IShape* BoltHex(double s, double k, double c, double dw, double ls, double b, double ds,
                          double d) = 0;  // 0
  virtual IShape* BoltHexSocket(double d, double ds, double ls, double b, double d1, double k,
                                double s, double t) = 0;  // 1
  virtual IShape* BoltHexSocketCountersunk(double d, double ds, double ls, double b, double d1,
                                           double s, double t) = 0;  // 2
  virtual IShape* BoltHexFlange(double d, double ds, double ls, double b, double d1, double k,
                                double s) = 0;  // 3
  virtual IShape* BoltCarriage(double d, double ds, double ls, double b, double d1, double v,
                               double f, double k) = 0;  // 4
  virtual IShape* BoltHexSetDogPoint(double d, double b, double ds, double ls, double k, double s,
                                     double dp, double zp) = 0;  // 5
  virtual IShape* BoltHexSetDogCone(double d, double b, double ds, double ls, double k, double s,
                                    double dp, double zp) = 0;                         // 6
  virtual IShape* BoltT_Head(double d, double b, double ls, double s1, double k) = 0;  // 7
  virtual IShape* BoltT_HeadSquareNeck(double d, double b, double ls, double s1,
                                       double k) = 0;  // 8
  virtual IShape* BoltSpigot(double d, double b, double ds, double ls, double d1, double s,
                             double k) = 0;                                                    // 9
  virtual IShape* BoltEye(double d, double b, double ls, double d1, double d2, double s) = 0;  // 10
  virtual IShape* BoltU(double d, double b, double ls, double d1) = 0;                         // 11
  virtual IShape* BoltRing(double d, double b, double d1, double d2, double d3,
                           double k) = 0;  // 12
  virtual IShape* ScrewCheeseSlotted(double d, double b, double d1, double k, double n,
                                     double t) = 0;  // 13
  virtual IShape* ScrewPanSlotted(double d, double b, double d1, double k, double n,
                                  double t) = 0;  // 14
  virtual IShape* ScrewCountersunkSlotted(double d, double b, double d1, double n,
                                          double t) = 0;  // 15
  virtual IShape* ScrewCountersunkRaisedSlotted(double d, double b, double d1, double k, double n,
                                                double t) = 0;  // 16
  virtual IShape* ScrewFillisterCrossRecessed(double d, double b, double d1, double a, double n,
                                              double k) = 0;  // 17
  virtual IShape* ScrewCountersunkCrossRecessed(double d, double b, double d1, double a,
                                                double n) = 0;  // 18
  virtual IShape* ScrewCountersunkRaisedCrossRecessed(double d, double b, double d1, double a,
                                                      double n, double k) = 0;  // 19
  virtual IShape* ScrewHexSocketButton(double d, double b, double d1, double s,
                                       double t) = 0;  // 20
  virtual IShape* ScrewCountersunkSquareNeck(double d, double b, double d1, double v,
                                             double f) = 0;  // 21
  virtual IShape* ScrewSquareCollar(double d, double b, double ds, double ls, double s, double k,
                                    double d1, double c) = 0;  // 22
  virtual IShape* ScrewThumb(double d, double b, double ds, double ls, double d1,
                             double k) = 0;  // 23
  virtual IShape* ScrewSetSlottedDogPoint(double d, double b, double dp, double zp, double n,
                                          double t) = 0;                                 // 24
  virtual IShape* ScrewSetSlottedConePoint(double d, double b, double n, double t) = 0;  // 25
  virtual IShape* ScrewSetHexSocketDogPoint(double d, double b, double dp, double zp, double s,
                                            double t) = 0;                                  // 26
  virtual IShape* ScrewSetHexSocketConePoint(double d, double b, double s, double t) = 0;   // 27
  virtual IShape* StudDoubleEnd(double d, double b1, double b2, double ds, double ls) = 0;  // 28
};

// Blocks of a recognised groove, packed to 4 bytes like the host records.
#pragma pack(push, 4)
struct RecognizeNotchBlock {
  double x, t;
};
struct RecognizeRectangularBlock {
  double x, t, r, m;
};
struct RecognizeCrossHoleBlock {
  double x, t, r, angle;
};
struct RecognizeParallelKeyBlock {
  double x, l, t, r, angle;
};
struct RecognizeSlotsBlock {
  double x, l;
  std::uint32_t n;
  double d, win, wout;
};
struct RecognizeCircularBlock {
  double x, t, r;
};
#pragma pack(pop)

class QZ_CAD_VISIBLE IRecognizeGroove : public IObject {
 public:
  // 0 none, 1 chevron notch, 2 rectangular, 3 cross hole, 4 parallel key, 5 slots, 6 circular.
  // The host records have no block for circular grooves (type 0 there); the engine offers one.
  virtual int GetType() = 0;                                         // 2
  virtual void* GetNotch(RecognizeNotchBlock* out) = 0;              // 3
  virtual void* GetRectangular(RecognizeRectangularBlock* out) = 0;  // 4
  virtual void* GetCrossHole(RecognizeCrossHoleBlock* out) = 0;      // 5
  virtual void* GetParallelKey(RecognizeParallelKeyBlock* out) = 0;  // 6
  virtual void* GetSlots(RecognizeSlotsBlock* out) = 0;              // 7
  virtual void* GetCircular(RecognizeCircularBlock* out) = 0;        // 8
};

class QZ_CAD_VISIBLE IRecognizeSection : public IObject {
 public:
  virtual int GetGrooveCount() = 0;                    // 2
  virtual IRecognizeGroove* GetGroove(int index) = 0;  // 3
  // pos, dout1, dout2, din1, din2, l, lch1, lch2
  virtual double* GetValues(double* out8) = 0;  // 4
  virtual void SetValues(double pos, double dout1, double dout2, double din1, double din2, double l,
                         double lch1, double lch2) = 0;  // 5
};

class QZ_CAD_VISIBLE IRecognizeShaft : public IObject {
 public:
  virtual double* GetMatrix(double* out12) = 0;          // 2
  virtual int GetSectionCount() = 0;                     // 3
  virtual IRecognizeSection* GetSection(int index) = 0;  // 4
};

class QZ_CAD_VISIBLE IShaftRecognizer {
 public:
  virtual IRecognizeShaft* Recognize(IShape* shape) = 0;  // 0: null when not a shaft
};

class QZ_CAD_VISIBLE ICADContext : public IObject {
 public:
  // A new, empty assembly whose content the exports write; after a successful import, the
  // imported document (its children are the top items of the file).
  virtual IAssembly* GetAssembly() = 0;                                   // 2
  virtual IMatrixService* GetMatrixService() = 0;                         // 3
  virtual IHeaderService* GetHeaderService() = 0;                         // 4
  virtual IBearingFactory* GetBearingFactory() = 0;                       // 5
  virtual IGearFactory* GetGearFactory() = 0;                             // 6
  virtual IBeamFactory* GetBeamFactory() = 0;                             // 7
  virtual IShaftFactory* GetShaftFactory() = 0;                           // 8
  virtual IFastenerFactory* GetFastenerFactory() = 0;                     // 9
  virtual IShaftRecognizer* GetShaftRecognizer() = 0;                     // 10
  virtual bool ExportSTEP(const char* path) = 0;                          // 11
  virtual bool ExportIGES(const char* path) = 0;                          // 12
  virtual bool ExportSTL(const char* path) = 0;                           // 13
  virtual bool ImportSTEP(const char* path) = 0;                          // 14
  virtual bool ImportIGES(const char* path) = 0;                          // 15
  virtual bool ImportSTL(const char* path) = 0;                           // 16
  virtual IShape* Box(double w, double h, double l) = 0;                  // 17
  virtual IShape* Sphere(double r) = 0;                                   // 18
  virtual IShape* Cylinder(double r, double l) = 0;                       // 19
  virtual IShape* Cone(double r1, double r2, double l) = 0;               // 20
  virtual IShape* Torus(double r1, double r2) = 0;                        // 21
  virtual IShape* Wedge(double wb, double h, double l, double wt) = 0;    // 22
  virtual IShape* HollowCylinder(double dout, double din, double l) = 0;  // 23
  virtual IShape* HollowCone(double dout1, double dout2, double din1, double din2,
                             double l) = 0;  // 24
  // handle: the address of the window handle (an XWindowHandle on X11); kind: eViewWindow,
  // or eViewOffscreen for an invisible view (handle may be null).
  virtual IView* NewView(void* handle, int kind) = 0;  // 25
  // The outcome of the last import or export: 0 and "" after a success, else its code
  // (eCodeFileAccess, eCodeBadFile, eCodeTimeLimit, eCodeCancelled, eCodeTooLarge,
  // eCodeFailure) and reason.
  virtual int GetLastErrorCode() = 0;          // 26
  virtual const char* GetLastErrorText() = 0;  // 27
  // What the last import or export left out or repaired, one text each (bounded in number).
  virtual int GetWarningCount() = 0;              // 28
  virtual const char* GetWarning(int index) = 0;  // 29: null outside 0..count-1
  // The time every import and export may take, in seconds (default 120; 0 or less: none).
  virtual void SetTimeLimit(double seconds) = 0;  // 30
  // Called during imports and exports with the share done (0 to 1); returning false cancels
  // the call, which then fails with eCodeCancelled. Null: none.
  virtual void SetProgressCallback(bool (*callback)(void* user, double done),
                                   void* user) = 0;  // 31
  // How many threads may build elements through this context's factories and primitives at
  // the same time (each thread its own elements; a shaft builder and its sections stay on one
  // thread). 0: only one build at a time, on the caller's thread.
  virtual int GetBuildThreads() = 0;  // 32
  // Sets that number: 0 builds one at a time on the caller's thread; below 0 the engine's own
  // choice (the machine's processors, the default).
  virtual void SetBuildThreads(int threads) = 0;  // 33
  // Whether elements of the very same sizes share one built solid, placed by a location of
  // its own (on by default). For the whole engine library, not only this context.
  virtual void SetSharedSolids(bool share) = 0;  // 34
  // A box that encloses the placed shape, from the kernel's quick bound (its surfaces' and
  // curves' own bounds): never smaller than GetBoundingBox, mostly the same, larger around tori
  // and rounded ends, and quick where the exact box is slow (freeform surfaces such as tooth
  // flanks). False when empty.
  virtual bool GetQuickBox(IShape* shape, double* box6) = 0;  // 35
  // The colours a shape read from an exchange file carries (parts' shapes and their placed
  // copies): the part's own colour first when it has one, then those of its sub-shapes, coarse
  // kinds before fine ones (a face's colour wins over its solid's). 0 for shapes the engine
  // built.
  virtual int GetShapeColorCount(IShape* shape) = 0;  // 36
  // One of those colours (0..count-1); false outside.
  virtual bool GetShapeColor(IShape* shape, int index, ShapeColor* out) = 0;  // 37
  // Writes the document (what ExportSTEP writes) as meshes for display programs: its solids
  // meshed as the view meshes them, each part a mesh with its name and colours, the
  // assemblies as the tree of nodes. glTF 2.0 (metres, y up, as the format says): the binary
  // form (.glb) when binary is set, else the JSON text with its data in a ".bin" file beside
  // it. Only the named file (and that companion) is written, and only where the name is a
  // plain file or nothing yet; what cannot be written fails with eCodeFileAccess.
  virtual bool ExportGLTF(const char* path, bool binary) = 0;  // 38
  // Wavefront OBJ in the model's millimetres and axes, its colours as materials in a ".mtl"
  // file beside it; otherwise as ExportGLTF.
  virtual bool ExportOBJ(const char* path) = 0;  // 39
};

class QZ_CAD_VISIBLE ICADTools : public IObject {
 public:
  virtual const char* GetVersion() = 0;   // 2
  virtual ICADContext* NewContext() = 0;  // 3
};

}  // namespace CAD
}  // namespace QZ

// The one export of the engine library: the process-wide tools object (the caller may
// AddRef/Release it; the object stays alive while the library is loaded).
extern "C" QZ_CAD_VISIBLE QZ::CAD::ICADTools* EntryPoint();
using QZCadEntryPoint = QZ::CAD::ICADTools* (*)();
