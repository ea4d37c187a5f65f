// The beam factory: eight sections drawn in the xy plane and extruded along z by the length l.
// Open sections (L, Z, I, U, T) lie in x from 0 (the Z section to 2 b - s), y from 0 to h; the
// tubes are centred on the z axis. Root radii round the inner corners between web and flange,
// toe radii the inner corners at the flange tips. Tapered flanges slope by the usual rolled
// section slopes: I 14 %, U 8 %, T 2 % (flanges) and 4 % (web), with the nominal thickness
// measured half-way along the sloped face.
#include "Context.h"
#include "Solids.h"

#include <BRepBuilderAPI_MakeEdge.hxx>
#include <BRepBuilderAPI_MakeWire.hxx>
#include <gp_Ax2.hxx>
#include <gp_Elips.hxx>

#include <algorithm>
#include <cmath>

namespace cad_engine {

namespace {

TopoDS_Shape Extrude(const Outline& o, double l) { return Prism(o.Face(0, 0), l); }

TopoDS_Wire EllipseWire(double a, double b) {
  // gp_Elips wants the major radius first: turn the axes when b is the larger one.
  gp_Ax2 axes(gp::Origin(), gp::DZ(), a >= b ? gp::DX() : gp::DY());
  gp_Elips e(axes, std::max(a, b), std::min(a, b));
  return BRepBuilderAPI_MakeWire(BRepBuilderAPI_MakeEdge(e).Edge()).Wire();
}

void CheckLength(const char* element, double l) { NeedPositive(element, "l", l); }

// Slope of a tapered face as (thickness at the toe, thickness at the root).
struct Taper {
  double toe, root;
};
Taper Slope(bool taper, double t, double run, double slope) {
  if (!taper) return {t, t};
  return {t - slope * run / 2, t + slope * run / 2};
}

class CBeamFactory final : public QZ::CAD::IBeamFactory {
 public:
  QZ::CAD::IShape* Rectangular(double h, double b, double l, double t) override {
    return BuildCached("BeamRect", {h, b, l, t}, [&] {
      const char* e = "BeamRect";
      NeedPositive(e, "h", h);
      NeedPositive(e, "b", b);
      CheckLength(e, l);
      NeedNotNegative(e, "t", t);
      Outline outer = RoundedPolygon(e, {{0, 0}, {b, 0}, {b, h}, {0, h}});
      if (t == 0) return Extrude(outer, l);
      NeedBelow(e, "2 t", 2 * t, "the smaller of h and b", std::min(h, b));
      Outline inner = RoundedPolygon(e, {{t, t}, {b - t, t}, {b - t, h - t}, {t, h - t}});
      return Prism(FaceWithHoles(outer.Wire(), {inner.Wire()}), l);
    });
  }
  QZ::CAD::IShape* Circular(double d, double l, double t) override {
    return BuildCached("BeamCircle", {d, l, t}, [&] {
      const char* e = "BeamCircle";
      NeedPositive(e, "d", d);
      CheckLength(e, l);
      NeedNotNegative(e, "t", t);
      if (t == 0) return CylinderZ(d / 2, 0, l);
      NeedBelow(e, "2 t", 2 * t, "d", d);
      return Prism(FaceWithHoles(CircleWire(d / 2), {CircleWire(d / 2 - t)}), l);
    });
  }
  QZ::CAD::IShape* Elliptical(double d1, double d2, double l, double t) override {
    return BuildCached("BeamEllipse", {d1, d2, l, t}, [&] {
      const char* e = "BeamEllipse";
      NeedPositive(e, "d1", d1);
      NeedPositive(e, "d2", d2);
      CheckLength(e, l);
      NeedNotNegative(e, "t", t);
      const TopoDS_Wire outer = EllipseWire(d1 / 2, d2 / 2);
      if (t == 0) return Prism(FaceWithHoles(outer, {}), l);
      NeedBelow(e, "2 t", 2 * t, "the smaller of d1 and d2", std::min(d1, d2));
      return Prism(FaceWithHoles(outer, {EllipseWire(d1 / 2 - t, d2 / 2 - t)}), l);
    });
  }
  QZ::CAD::IShape* BeamL(double h, double b, double t, double r, double l) override {
    return BuildCached("BeamL", {h, b, t, r, l}, [&] {
      const char* e = "BeamL";
      NeedPositive(e, "h", h);
      NeedPositive(e, "b", b);
      NeedPositive(e, "t", t);
      NeedNotNegative(e, "r", r);
      CheckLength(e, l);
      NeedBelow(e, "t", t, "the smaller of h and b", std::min(h, b));
      return Extrude(RoundedPolygon(e, {{0, 0}, {b, 0}, {b, t}, {t, t, r}, {t, h}, {0, h}}), l);
    });
  }
  QZ::CAD::IShape* BeamZ(double h, double b, double t, double s, double r1, double r2,
                         double l) override {
    return BuildCached("BeamZ", {h, b, t, s, r1, r2, l}, [&] {
      const char* e = "BeamZ";
      CheckOpen(e, h, b, t, s, r1, r2, l);
      NeedBelow(e, "s", s, "b", b);
      const double w = 2 * b - s;
      return Extrude(RoundedPolygon(e, {{0, 0},
                                        {b, 0},
                                        {b, h - t, r1},
                                        {w, h - t, r2},
                                        {w, h},
                                        {b - s, h},
                                        {b - s, t, r1},
                                        {0, t, r2}}),
                     l);
    });
  }
  QZ::CAD::IShape* BeamI(double h, double b, double t, double s, double r1, double r2, double l,
                         bool taper) override {
    return BuildCached("BeamI", {h, b, t, s, r1, r2, l, double(taper)}, [&] {
      const char* e = "BeamI";
      CheckOpen(e, h, b, t, s, r1, r2, l);
      NeedBelow(e, "s", s, "b", b);
      const Taper f = Slope(taper, t, (b - s) / 2, 0.14);
      if (f.toe <= kSizeTolerance) Refuse(e, "the tapered flanges vanish at their tips");
      const double x0 = (b - s) / 2, x1 = (b + s) / 2;
      return Extrude(RoundedPolygon(e, {{0, 0},
                                        {b, 0},
                                        {b, f.toe, r2},
                                        {x1, f.root, r1},
                                        {x1, h - f.root, r1},
                                        {b, h - f.toe, r2},
                                        {b, h},
                                        {0, h},
                                        {0, h - f.toe, r2},
                                        {x0, h - f.root, r1},
                                        {x0, f.root, r1},
                                        {0, f.toe, r2}}),
                     l);
    });
  }
  QZ::CAD::IShape* BeamU(double h, double b, double t, double s, double r1, double r2, double l,
                         bool taper) override {
    return BuildCached("BeamU", {h, b, t, s, r1, r2, l, double(taper)}, [&] {
      const char* e = "BeamU";
      CheckOpen(e, h, b, t, s, r1, r2, l);
      NeedBelow(e, "s", s, "b", b);
      const Taper f = Slope(taper, t, b - s, 0.08);
      if (f.toe <= kSizeTolerance) Refuse(e, "the tapered flanges vanish at their tips");
      return Extrude(RoundedPolygon(e, {{0, 0},
                                        {b, 0},
                                        {b, f.toe, r2},
                                        {s, f.root, r1},
                                        {s, h - f.root, r1},
                                        {b, h - f.toe, r2},
                                        {b, h},
                                        {0, h}}),
                     l);
    });
  }
  QZ::CAD::IShape* BeamT(double h, double b, double t, double s, double r1, double r2, double r3,
                         double l, bool taper) override {
    return BuildCached("BeamT", {h, b, t, s, r1, r2, r3, l, double(taper)}, [&] {
      const char* e = "BeamT";
      CheckOpen(e, h, b, t, s, r1, r2, l);
      NeedNotNegative(e, "r3", r3);
      NeedBelow(e, "s", s, "b", b);
      const Taper f = Slope(taper, t, (b - s) / 2, 0.02);
      const Taper w = Slope(taper, s, h - t, 0.04);
      if (f.toe <= kSizeTolerance || w.toe <= kSizeTolerance)
        Refuse(e, "the tapered flange or web vanishes at its tip");
      const double c = b / 2;
      return Extrude(RoundedPolygon(e, {{b, h},
                                        {0, h},
                                        {0, h - f.toe, r2},
                                        {c - w.root / 2, h - f.root, r1},
                                        {c - w.toe / 2, 0, r3},
                                        {c + w.toe / 2, 0, r3},
                                        {c + w.root / 2, h - f.root, r1},
                                        {b, h - f.toe, r2}}),
                     l);
    });
  }

 private:
  static void CheckOpen(const char* e, double h, double b, double t, double s, double r1, double r2,
                        double l) {
    NeedPositive(e, "h", h);
    NeedPositive(e, "b", b);
    NeedPositive(e, "t", t);
    NeedPositive(e, "s", s);
    NeedNotNegative(e, "r1", r1);
    NeedNotNegative(e, "r2", r2);
    CheckLength(e, l);
    NeedBelow(e, "2 t", 2 * t, "h", h);
  }
};

}  // namespace

QZ::CAD::IBeamFactory* BeamFactory() {
  static CBeamFactory factory;
  return &factory;
}

}  // namespace cad_engine
