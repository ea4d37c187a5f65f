// The engine's shapes.
#pragma once

#include "EngineBase.h"

#include <TopoDS_Shape.hxx>

namespace cad_engine {

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
  explicit CShape(const TopoDS_Shape& base) : m_base(base), m_shape(base) {}
  CShape(const TopoDS_Shape& base, const TopoDS_Shape& placed) : m_base(base), m_shape(placed) {}

  QZ::CAD::IShape* Placed(const double* matrix) override;
  bool GetBoundingBox(double* box6) override;
  double GetVolume() override;
  bool IsValid() override;
  int GetSolidCount() override;

  const TopoDS_Shape& Base() const { return m_base; }
  const TopoDS_Shape& Shape() const { return m_shape; }
  const TopoDS_Shape& Kernel() const override { return m_shape; }

 private:
  TopoDS_Shape m_base;
  TopoDS_Shape m_shape;
};

// The kernel shape behind an interface pointer; throws for a null or foreign shape.
const TopoDS_Shape& ShapeOf(QZ::CAD::IShape* shape);
// base placed by the transformation (location for rigid ones, a transformed copy otherwise).
TopoDS_Shape PlaceShape(const TopoDS_Shape& base, const gp_Trsf& trsf);
// The kernel's quick bound of s (its surfaces' and curves' own boxes, no optimisation): false
// when s is empty.
bool QuickBox(const TopoDS_Shape& s, double* box6);
// Throws unless the kernel made a valid shape (eCodeFailure for none, eCodeInvalidParameter for
// one that is not valid).
void CheckSolid(const TopoDS_Shape& s, const char* what);
// Wraps a freshly built solid, checking that the kernel made a valid one.
QZ::CAD::IShape* NewCheckedShape(const TopoDS_Shape& s, const char* what);

}  // namespace cad_engine
