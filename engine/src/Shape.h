// The engine's shapes.
#pragma once

#include "EngineBase.h"

#include <TopAbs_ShapeEnum.hxx>
#include <TopoDS_Shape.hxx>

#include <memory>
#include <vector>

namespace cad_engine {

// How an exchange file uses a colour (the document's colour types).
enum class ColorUse : int { Generic = 0, Surface = 1, Curve = 2 };

// A colour of a sub-shape: the sub-shape is the index-th (from 1) of its kind in the shape's map
// of sub-shapes of that kind (TopExp::MapShapes), which stays the same for a placed, moved or
// transformed copy of the shape.
struct SubShapeColor {
  TopAbs_ShapeEnum kind = TopAbs_FACE;
  int index = 0;
  float rgba[4] = {0, 0, 0, 1};
  ColorUse use = ColorUse::Surface;
};

// The colours a part of an exchange file gives its shape: its own (the default for every
// sub-shape without one) and those of its solids, shells, faces and edges. Sub-shape colours
// are kept with their kinds in the order solid, shell, face, wire, edge (a face's colour comes
// after its solid's, so it wins).
struct ShapeColors {
  bool hasDefault = false;
  float defaultRgba[4] = {0, 0, 0, 1};
  std::vector<SubShapeColor> subs;
  bool Empty() const { return !hasDefault && subs.empty(); }
};
using ShapeColorsPtr = std::shared_ptr<const ShapeColors>;

// The sub-shape an entry names in shape (null when the shape has no such sub-shape).
TopoDS_Shape ColoredSubShape(const TopoDS_Shape& shape, const SubShapeColor& entry);
// Every sub-shape an entry names, resolved in one pass over shape (null ones left out).
std::vector<std::pair<TopoDS_Shape, const SubShapeColor*>> ColoredSubShapes(
    const TopoDS_Shape& shape, const ShapeColors& colors);

// What every engine shape gives: the kernel shape as placed.
class KernelShape {
 public:
  virtual const TopoDS_Shape& Kernel() const = 0;

 protected:
  ~KernelShape() = default;
};

class CShape : public RefCounted<QZ::CAD::IShape>, public KernelShape {
 public:
  // base: the shape as built (placements apply on top of it); shape: the placed shape.
  explicit CShape(const TopoDS_Shape& base, ShapeColorsPtr colors = nullptr)
      : m_base(base), m_shape(base), m_colors(std::move(colors)) {}
  CShape(const TopoDS_Shape& base, const TopoDS_Shape& placed, ShapeColorsPtr colors = nullptr)
      : m_base(base), m_shape(placed), m_colors(std::move(colors)) {}

  QZ::CAD::IShape* Placed(const double* matrix) override;
  bool GetBoundingBox(double* box6) override;
  double GetVolume() override;
  bool IsValid() override;
  int GetSolidCount() override;

  const TopoDS_Shape& Base() const { return m_base; }
  const TopoDS_Shape& Shape() const { return m_shape; }
  const TopoDS_Shape& Kernel() const override { return m_shape; }
  // The colours read with the shape (null for shapes built by the engine); placed copies keep
  // them.
  const ShapeColorsPtr& Colors() const { return m_colors; }

 private:
  TopoDS_Shape m_base;
  TopoDS_Shape m_shape;
  ShapeColorsPtr m_colors;
};

// The kernel shape behind an interface pointer; throws for a null or foreign shape.
const TopoDS_Shape& ShapeOf(QZ::CAD::IShape* shape);
// The colours an engine shape carries (null when none, or for a shape of another kind).
ShapeColorsPtr ColorsOf(QZ::CAD::IShape* shape);
// base placed by the transformation (location for rigid ones, a transformed copy otherwise).
TopoDS_Shape PlaceShape(const TopoDS_Shape& base, const gp_Trsf& trsf);
// The kernel's quick bound of s (its surfaces' and curves' own boxes, no optimisation): false
// when s is empty.
bool QuickBox(const TopoDS_Shape& s, double* box6);
// Throws unless the kernel made a valid shape (eCodeFailure for none, eCodeInvalidParameter for
// one that is not valid). The pieces of a compound that are one solid placed again by rigid
// locations are analysed once.
void CheckSolid(const TopoDS_Shape& s, const char* what);
// Wraps a freshly built solid, checking that the kernel made a valid one.
QZ::CAD::IShape* NewCheckedShape(const TopoDS_Shape& s, const char* what);

}  // namespace cad_engine
