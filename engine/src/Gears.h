// Involute gear geometry shared by the gear factory and its tests.
//
// Every gear turns about the z axis, its face width runs from z = 0 to z = b. External gears
// have a tooth centred on the +x axis; internal gears a tooth space centred there. Sizes
// follow the usual involute gear formulas (transverse module mt = mn / cos(beta), transverse
// pressure angle tan(alpha_t) = tan(alpha_n) / cos(beta)):
//   reference radius   r  = z mt / 2             base radius rb = r cos(alpha_t)
//   external: tip  ra = r + mn (1 + x - k)       root rf = r - mn (1.25 - x)
//             tooth thickness on r: s = mt (pi/2 + 2 x tan(alpha_n))
//   internal: tip  ra = r - mn (1 - x - k)       root rf = r + mn (1.25 + x)
//             space width on r:     e = mt (pi/2 + 2 x tan(alpha_n))
// An internal gear's tip circle is never taken below its base circle (the involute starts
// there). Root fillets are circles of radius 0.38 mn (smaller where the space is too narrow)
// tangent to the flank and the root circle.
#pragma once

#include <TopoDS_Shape.hxx>
#include <TopoDS_Wire.hxx>

namespace cad_engine {

struct InvoluteGear {
  unsigned int z = 0;
  double mn = 0, alpha = 0, beta = 0, k = 0, x = 0;  // angles in radians
  bool internal = false;
  // Derived sizes (see above).
  double mt = 0, alphat = 0, r = 0, rb = 0, ra = 0, rf = 0;
  double halfAngle = 0;  // half the tooth (external) or space (internal) angle on r
  double fillet = 0;     // root fillet radius used
};

// Checks the parameters and derives the sizes; throws eCodeInvalidParameter with the reason
// (fewer than 3 teeth, a helix angle of 90 degrees or more, a pointed tooth, ...).
InvoluteGear MakeInvoluteGear(const char* element, unsigned int z, double mn, double alphaDeg,
                              double betaDeg, double k, double x, bool internal);

// Polar angle of the upper flank (the one at positive angles) at radius rho, rb <= rho.
double FlankAngle(const InvoluteGear& g, double rho);

// The closed transverse outline of all teeth at height z (counter-clockwise).
TopoDS_Wire GearOutline(const InvoluteGear& g, double z = 0.0);

// The gear's toothed solid between z0 and z0 + b, its transverse section turned by
// twist0 at z0 and growing by the helix (tan(beta) / r per unit of length); no bore, no rim.
TopoDS_Shape ToothedBody(const TopoDS_Wire& outline, double b, double twistPerLength,
                         double z0 = 0.0, double twist0 = 0.0);

}  // namespace cad_engine
