#pragma once
// A recording stand-in for the CAD engine: every factory operation records its name and its
// arguments (as doubles, in the order received) and returns a small shape, so that tests can
// check which operation an element calls and in which order it passes its parameters.
#include "workspace/CADEngine.h"

#include <atomic>
#include <initializer_list>
#include <string>
#include <vector>

namespace fake_engine {

struct Call {
  std::string name;
  std::vector<double> args;
};

class Recorder;

template <class I>
class Counted : public I {
 public:
  void AddRef() override { ++m_refs; }
  void Release() override {
    if (--m_refs == 0) delete this;
  }
  virtual ~Counted() = default;

 private:
  std::atomic<int> m_refs{1};
};

// A shape; also a section solid whose groove operations are recorded.
class FakeShape final : public Counted<QZ::CAD::ISectionShape> {
 public:
  explicit FakeShape(Recorder& r) : m_r(r) {}
  QZ::CAD::IShape* Placed(const double*) override { return new FakeShape(m_r); }
  bool GetBoundingBox(double*) override { return false; }
  double GetVolume() override { return 0; }
  bool IsValid() override { return true; }
  int GetSolidCount() override { return 1; }
  void AddGrooveRectangular(double x, double m, double t, double r) override;
  void AddNotchChevron(double x, double t) override;
  void AddGrooveCircular(double x, double t, double r) override;
  void AddCrossHole(double x, double t, double r, double angle) override;
  void AddGrooveParallelKey(double x, double l, double t, double r, double angle) override;
  void AddSlots(double x, double l, unsigned int n, double d, double win, double wout) override;

 private:
  Recorder& m_r;
};

class Recorder {
 public:
  std::vector<Call> calls;
  QZ::CAD::IShape* Shape(const char* name, std::initializer_list<double> args) {
    calls.push_back({name, args});
    return new FakeShape(*this);
  }
  void Note(const char* name, std::initializer_list<double> args) { calls.push_back({name, args}); }
  const Call* Last() const { return calls.empty() ? nullptr : &calls.back(); }
};

inline void FakeShape::AddGrooveRectangular(double x, double m, double t, double r) {
  m_r.Note("AddGrooveRectangular", {x, m, t, r});
}
inline void FakeShape::AddNotchChevron(double x, double t) { m_r.Note("AddNotchChevron", {x, t}); }
inline void FakeShape::AddGrooveCircular(double x, double t, double r) {
  m_r.Note("AddGrooveCircular", {x, t, r});
}
inline void FakeShape::AddCrossHole(double x, double t, double r, double angle) {
  m_r.Note("AddCrossHole", {x, t, r, angle});
}
inline void FakeShape::AddGrooveParallelKey(double x, double l, double t, double r, double angle) {
  m_r.Note("AddGrooveParallelKey", {x, l, t, r, angle});
}
inline void FakeShape::AddSlots(double x, double l, unsigned int n, double d, double win,
                                double wout) {
  m_r.Note("AddSlots", {x, l, double(n), d, win, wout});
}

class FakePointList final : public Counted<QZ::CAD::IPointList> {
 public:
  FakePointList(Recorder& r, int* alive) : m_r(r), m_alive(alive) { ++*m_alive; }
  ~FakePointList() override { --*m_alive; }
  void SetSpline(bool spline) override { m_r.Note("SetSpline", {double(spline)}); }
  int GetCount() override { return 0; }
  void AddPoint(double r, double angle) override { m_r.Note("AddPoint", {r, angle}); }

 private:
  Recorder& m_r;
  int* m_alive;
};

class FakeBeamFactory final : public QZ::CAD::IBeamFactory {
 public:
  explicit FakeBeamFactory(Recorder& r) : m_r(r) {}
  QZ::CAD::IShape* Rectangular(double h, double b, double l, double t) override {
    return m_r.Shape("Rectangular", {double(h), double(b), double(l), double(t)});
  }
  QZ::CAD::IShape* Circular(double d, double l, double t) override {
    return m_r.Shape("Circular", {double(d), double(l), double(t)});
  }
  QZ::CAD::IShape* Elliptical(double d1, double d2, double l, double t) override {
    return m_r.Shape("Elliptical", {double(d1), double(d2), double(l), double(t)});
  }
  QZ::CAD::IShape* BeamL(double h, double b, double t, double r, double l) override {
    return m_r.Shape("BeamL", {double(h), double(b), double(t), double(r), double(l)});
  }
  QZ::CAD::IShape* BeamZ(double h, double b, double t, double s, double r1, double r2,
                         double l) override {
    return m_r.Shape(
        "BeamZ", {double(h), double(b), double(t), double(s), double(r1), double(r2), double(l)});
  }
  QZ::CAD::IShape* BeamI(double h, double b, double t, double s, double r1, double r2, double l,
                         bool taper) override {
    return m_r.Shape("BeamI", {double(h), double(b), double(t), double(s), double(r1), double(r2),
                               double(l), double(taper)});
  }
  QZ::CAD::IShape* BeamU(double h, double b, double t, double s, double r1, double r2, double l,
                         bool taper) override {
    return m_r.Shape("BeamU", {double(h), double(b), double(t), double(s), double(r1), double(r2),
                               double(l), double(taper)});
  }
  QZ::CAD::IShape* BeamT(double h, double b, double t, double s, double r1, double r2, double r3,
                         double l, bool taper) override {
    return m_r.Shape("BeamT", {double(h), double(b), double(t), double(s), double(r1), double(r2),
                               double(r3), double(l), double(taper)});
  }

 private:
  Recorder& m_r;
};

class FakeFastenerFactory final : public QZ::CAD::IFastenerFactory {
 public:
  explicit FakeFastenerFactory(Recorder& r) : m_r(r) {}
  QZ::CAD::IShape* BoltHex(double s, double k, double c, double dw, double ls, double b, double ds,
                           double d) override {
    return m_r.Shape("BoltHex", {double(s), double(k), double(c), double(dw), double(ls), double(b),
                                 double(ds), double(d)});
  }
  QZ::CAD::IShape* BoltHexSocket(double d, double ds, double ls, double b, double d1, double k,
                                 double s, double t) override {
    return m_r.Shape("BoltHexSocket", {double(d), double(ds), double(ls), double(b), double(d1),
                                       double(k), double(s), double(t)});
  }
  QZ::CAD::IShape* BoltHexSocketCountersunk(double d, double ds, double ls, double b, double d1,
                                            double s, double t) override {
    return m_r.Shape("BoltHexSocketCountersunk", {double(d), double(ds), double(ls), double(b),
                                                  double(d1), double(s), double(t)});
  }
  QZ::CAD::IShape* BoltHexFlange(double d, double ds, double ls, double b, double d1, double k,
                                 double s) override {
    return m_r.Shape("BoltHexFlange", {double(d), double(ds), double(ls), double(b), double(d1),
                                       double(k), double(s)});
  }
  QZ::CAD::IShape* BoltCarriage(double d, double ds, double ls, double b, double d1, double v,
                                double f, double k) override {
    return m_r.Shape("BoltCarriage", {double(d), double(ds), double(ls), double(b), double(d1),
                                      double(v), double(f), double(k)});
  }
  QZ::CAD::IShape* BoltHexSetDogPoint(double d, double b, double ds, double ls, double k, double s,
                                      double dp, double zp) override {
    return m_r.Shape("BoltHexSetDogPoint", {double(d), double(b), double(ds), double(ls), double(k),
                                            double(s), double(dp), double(zp)});
  }
  QZ::CAD::IShape* BoltHexSetDogCone(double d, double b, double ds, double ls, double k, double s,
                                     double dp, double zp) override {
    return m_r.Shape("BoltHexSetDogCone", {double(d), double(b), double(ds), double(ls), double(k),
                                           double(s), double(dp), double(zp)});
  }
  QZ::CAD::IShape* BoltT_Head(double d, double b, double ls, double s1, double k) override {
    return m_r.Shape("BoltT_Head", {double(d), double(b), double(ls), double(s1), double(k)});
  }
  QZ::CAD::IShape* BoltT_HeadSquareNeck(double d, double b, double ls, double s1,
                                        double k) override {
    return m_r.Shape("BoltT_HeadSquareNeck",
                     {double(d), double(b), double(ls), double(s1), double(k)});
  }
  QZ::CAD::IShape* BoltSpigot(double d, double b, double ds, double ls, double d1, double s,
                              double k) override {
    return m_r.Shape("BoltSpigot", {double(d), double(b), double(ds), double(ls), double(d1),
                                    double(s), double(k)});
  }
  QZ::CAD::IShape* BoltEye(double d, double b, double ls, double d1, double d2, double s) override {
    return m_r.Shape("BoltEye",
                     {double(d), double(b), double(ls), double(d1), double(d2), double(s)});
  }
  QZ::CAD::IShape* BoltU(double d, double b, double ls, double d1) override {
    return m_r.Shape("BoltU", {double(d), double(b), double(ls), double(d1)});
  }
  QZ::CAD::IShape* BoltRing(double d, double b, double d1, double d2, double d3,
                            double k) override {
    return m_r.Shape("BoltRing",
                     {double(d), double(b), double(d1), double(d2), double(d3), double(k)});
  }
  QZ::CAD::IShape* ScrewCheeseSlotted(double d, double b, double d1, double k, double n,
                                      double t) override {
    return m_r.Shape("ScrewCheeseSlotted",
                     {double(d), double(b), double(d1), double(k), double(n), double(t)});
  }
  QZ::CAD::IShape* ScrewPanSlotted(double d, double b, double d1, double k, double n,
                                   double t) override {
    return m_r.Shape("ScrewPanSlotted",
                     {double(d), double(b), double(d1), double(k), double(n), double(t)});
  }
  QZ::CAD::IShape* ScrewCountersunkSlotted(double d, double b, double d1, double n,
                                           double t) override {
    return m_r.Shape("ScrewCountersunkSlotted",
                     {double(d), double(b), double(d1), double(n), double(t)});
  }
  QZ::CAD::IShape* ScrewCountersunkRaisedSlotted(double d, double b, double d1, double k, double n,
                                                 double t) override {
    return m_r.Shape("ScrewCountersunkRaisedSlotted",
                     {double(d), double(b), double(d1), double(k), double(n), double(t)});
  }
  QZ::CAD::IShape* ScrewFillisterCrossRecessed(double d, double b, double d1, double a, double n,
                                               double k) override {
    return m_r.Shape("ScrewFillisterCrossRecessed",
                     {double(d), double(b), double(d1), double(a), double(n), double(k)});
  }
  QZ::CAD::IShape* ScrewCountersunkCrossRecessed(double d, double b, double d1, double a,
                                                 double n) override {
    return m_r.Shape("ScrewCountersunkCrossRecessed",
                     {double(d), double(b), double(d1), double(a), double(n)});
  }
  QZ::CAD::IShape* ScrewCountersunkRaisedCrossRecessed(double d, double b, double d1, double a,
                                                       double n, double k) override {
    return m_r.Shape("ScrewCountersunkRaisedCrossRecessed",
                     {double(d), double(b), double(d1), double(a), double(n), double(k)});
  }
  QZ::CAD::IShape* ScrewHexSocketButton(double d, double b, double d1, double s,
                                        double t) override {
    return m_r.Shape("ScrewHexSocketButton",
                     {double(d), double(b), double(d1), double(s), double(t)});
  }
  QZ::CAD::IShape* ScrewCountersunkSquareNeck(double d, double b, double d1, double v,
                                              double f) override {
    return m_r.Shape("ScrewCountersunkSquareNeck",
                     {double(d), double(b), double(d1), double(v), double(f)});
  }
  QZ::CAD::IShape* ScrewSquareCollar(double d, double b, double ds, double ls, double s, double k,
                                     double d1, double c) override {
    return m_r.Shape("ScrewSquareCollar", {double(d), double(b), double(ds), double(ls), double(s),
                                           double(k), double(d1), double(c)});
  }
  QZ::CAD::IShape* ScrewThumb(double d, double b, double ds, double ls, double d1,
                              double k) override {
    return m_r.Shape("ScrewThumb",
                     {double(d), double(b), double(ds), double(ls), double(d1), double(k)});
  }
  QZ::CAD::IShape* ScrewSetSlottedDogPoint(double d, double b, double dp, double zp, double n,
                                           double t) override {
    return m_r.Shape("ScrewSetSlottedDogPoint",
                     {double(d), double(b), double(dp), double(zp), double(n), double(t)});
  }
  QZ::CAD::IShape* ScrewSetSlottedConePoint(double d, double b, double n, double t) override {
    return m_r.Shape("ScrewSetSlottedConePoint", {double(d), double(b), double(n), double(t)});
  }
  QZ::CAD::IShape* ScrewSetHexSocketDogPoint(double d, double b, double dp, double zp, double s,
                                             double t) override {
    return m_r.Shape("ScrewSetHexSocketDogPoint",
                     {double(d), double(b), double(dp), double(zp), double(s), double(t)});
  }
  QZ::CAD::IShape* ScrewSetHexSocketConePoint(double d, double b, double s, double t) override {
    return m_r.Shape("ScrewSetHexSocketConePoint", {double(d), double(b), double(s), double(t)});
  }
  QZ::CAD::IShape* StudDoubleEnd(double d, double b1, double b2, double ds, double ls) override {
    return m_r.Shape("StudDoubleEnd", {double(d), double(b1), double(b2), double(ds), double(ls)});
  }

 private:
  Recorder& m_r;
};
class FakeGearFactory final : public QZ::CAD::IGearFactory {
 public:
  explicit FakeGearFactory(Recorder& r) : m_r(r) {}
  QZ::CAD::IShape* ExternalToothProfile(QZ::CAD::IPointList*,
                                        const QZ::CAD::ToothProfileValues& v) override {
    return Profile("ExternalToothProfile", v);
  }
  QZ::CAD::IShape* ExternalGear(unsigned int z, double mn, double b, double alpha, double beta,
                                double k, double x, double d) override {
    return m_r.Shape("ExternalGear", {double(z), mn, b, alpha, beta, k, x, d});
  }
  QZ::CAD::IShape* InternalToothProfile(QZ::CAD::IPointList*,
                                        const QZ::CAD::ToothProfileValues& v) override {
    return Profile("InternalToothProfile", v);
  }
  QZ::CAD::IShape* InternalGear(unsigned int z, double mn, double b, double alpha, double beta,
                                double k, double x, double d) override {
    return m_r.Shape("InternalGear", {double(z), mn, b, alpha, beta, k, x, d});
  }
  QZ::CAD::IShape* DoubleExternalToothProfile(QZ::CAD::IPointList*,
                                              const QZ::CAD::ToothProfileValues& v) override {
    return Profile("DoubleExternalToothProfile", v);
  }
  QZ::CAD::IShape* DoubleExternalGear(unsigned int z, double mn, double b, double alpha,
                                      double beta, double k, double x, double d, double bn,
                                      double dn) override {
    return m_r.Shape("DoubleExternalGear", {double(z), mn, b, alpha, beta, k, x, d, bn, dn});
  }
  QZ::CAD::IShape* DoubleInternalToothProfile(QZ::CAD::IPointList*,
                                              const QZ::CAD::ToothProfileValues& v) override {
    return Profile("DoubleInternalToothProfile", v);
  }
  QZ::CAD::IShape* DoubleInternalGear(unsigned int z, double mn, double b, double alpha,
                                      double beta, double k, double x, double d, double bn,
                                      double dn) override {
    return m_r.Shape("DoubleInternalGear", {double(z), mn, b, alpha, beta, k, x, d, bn, dn});
  }
  QZ::CAD::IShape* RackGear(double mn, double b, double h, double l) override {
    return m_r.Shape("RackGear", {mn, b, h, l});
  }
  QZ::CAD::IShape* ConeGear(unsigned int z, double me, double angle, double db, double dc, double a,
                            double c, double e) override {
    return m_r.Shape("ConeGear", {double(z), me, angle, db, dc, a, c, e});
  }
  QZ::CAD::IPointList* NewPointList() override { return new FakePointList(m_r, &pointListsAlive); }
  int pointListsAlive = 0;

 private:
  QZ::CAD::IShape* Profile(const char* name, const QZ::CAD::ToothProfileValues& v) {
    return m_r.Shape(name, {double(v.z), v.b, v.beta, v.d, v.bn, v.dn});
  }
  Recorder& m_r;
};

class FakeBearingFactory final : public QZ::CAD::IBearingFactory {
 public:
  explicit FakeBearingFactory(Recorder& r) : m_r(r) {}
  QZ::CAD::IShape* RollerBearing(double dout, double din, double B) override {
    return m_r.Shape("RollerBearing", {dout, din, B});
  }
  QZ::CAD::IShape* SlidingBearing(double dout, double din, double B) override {
    return m_r.Shape("SlidingBearing", {dout, din, B});
  }
  QZ::CAD::IShape* RollingBearing(double dout, double din, double B, int type) override {
    return m_r.Shape("RollingBearing", {dout, din, B, double(type)});
  }

 private:
  Recorder& m_r;
};

class FakeShaftBuilder final : public Counted<QZ::CAD::IShaftBuilder> {
 public:
  FakeShaftBuilder(Recorder& r, int id) : m_r(r), m_id(id) {}
  int GetSectionCount() override { return m_sections; }
  QZ::CAD::IShape* GetShape() override { return nullptr; }
  QZ::CAD::ISectionShape* AddSection(double pos, double dout1, double dout2, double din1,
                                     double din2, double l, double lch1, double lch2) override {
    ++m_sections;
    m_r.Note("AddSection", {pos, dout1, dout2, din1, din2, l, lch1, lch2, double(m_id)});
    return new FakeShape(m_r);
  }

 private:
  Recorder& m_r;
  int m_id;
  int m_sections = 0;
};

class FakeShaftFactory final : public QZ::CAD::IShaftFactory {
 public:
  explicit FakeShaftFactory(Recorder& r) : m_r(r) {}
  QZ::CAD::IShaftBuilder* NewShaftBuilder() override {
    m_r.Note("NewShaftBuilder", {});
    return new FakeShaftBuilder(m_r, ++m_builders);
  }
  QZ::CAD::IShape* PlanetCarrier(unsigned int n, double r, double l) override {
    return m_r.Shape("PlanetCarrier", {double(n), r, l});
  }

 private:
  Recorder& m_r;
  int m_builders = 0;
};

class FakeMatrixService final : public QZ::CAD::IMatrixService {
 public:
  double* Identity(double* o) override {
    for (int i = 0; i < 12; ++i) o[i] = (i % 5 == 0) ? 1.0 : 0.0;
    return o;
  }
  double* Translation(double, double, double, double* o) override { return Identity(o); }
  double* Rotation(double, double, double, double, double* o) override { return Identity(o); }
  double* Inverse(const double*, double* o) override { return Identity(o); }
  double* TransformPoint(const double*, const double* p, double* o) override {
    o[0] = p[0];
    o[1] = p[1];
    o[2] = p[2];
    return o;
  }
  double* Multiply(const double*, const double* own, double* o) override {
    for (int i = 0; i < 12; ++i) o[i] = own[i];
    return o;
  }
};

// The context: primitives are recorded too; exchange and views are not offered.
class FakeContext final : public Counted<QZ::CAD::ICADContext> {
 public:
  Recorder rec;
  FakeBeamFactory beams{rec};
  FakeFastenerFactory fasteners{rec};
  FakeGearFactory gears{rec};
  FakeBearingFactory bearings{rec};
  FakeShaftFactory shafts{rec};
  FakeMatrixService matrices;

  QZ::CAD::IAssembly* GetAssembly() override { return nullptr; }
  QZ::CAD::IMatrixService* GetMatrixService() override { return &matrices; }
  QZ::CAD::IHeaderService* GetHeaderService() override { return nullptr; }
  QZ::CAD::IBearingFactory* GetBearingFactory() override { return &bearings; }
  QZ::CAD::IGearFactory* GetGearFactory() override { return &gears; }
  QZ::CAD::IBeamFactory* GetBeamFactory() override { return &beams; }
  QZ::CAD::IShaftFactory* GetShaftFactory() override { return &shafts; }
  QZ::CAD::IFastenerFactory* GetFastenerFactory() override { return &fasteners; }
  QZ::CAD::IShaftRecognizer* GetShaftRecognizer() override { return nullptr; }
  bool ExportSTEP(const char*) override { return false; }
  bool ExportIGES(const char*) override { return false; }
  bool ExportSTL(const char*) override { return false; }
  bool ImportSTEP(const char*) override { return false; }
  bool ImportIGES(const char*) override { return false; }
  bool ImportSTL(const char*) override { return false; }
  QZ::CAD::IShape* Box(double w, double h, double l) override {
    return rec.Shape("Box", {w, h, l});
  }
  QZ::CAD::IShape* Sphere(double r) override { return rec.Shape("Sphere", {r}); }
  QZ::CAD::IShape* Cylinder(double r, double l) override { return rec.Shape("Cylinder", {r, l}); }
  QZ::CAD::IShape* Cone(double r1, double r2, double l) override {
    return rec.Shape("Cone", {r1, r2, l});
  }
  QZ::CAD::IShape* Torus(double r1, double r2) override { return rec.Shape("Torus", {r1, r2}); }
  QZ::CAD::IShape* Wedge(double wb, double h, double l, double wt) override {
    return rec.Shape("Wedge", {wb, h, l, wt});
  }
  QZ::CAD::IShape* HollowCylinder(double dout, double din, double l) override {
    return rec.Shape("HollowCylinder", {dout, din, l});
  }
  QZ::CAD::IShape* HollowCone(double a, double b, double c, double d, double l) override {
    return rec.Shape("HollowCone", {a, b, c, d, l});
  }
  QZ::CAD::IView* NewView(void*, int) override { return nullptr; }
  int GetLastErrorCode() override { return 0; }
  const char* GetLastErrorText() override { return ""; }
  int GetWarningCount() override { return 0; }
  const char* GetWarning(int) override { return nullptr; }
  void SetTimeLimit(double) override {}
  void SetProgressCallback(bool (*)(void*, double), void*) override {}
  // One build at a time, on the caller's thread: the calls are recorded in their order.
  int GetBuildThreads() override { return 0; }
  void SetBuildThreads(int) override {}
  void SetSharedSolids(bool) override {}
  bool GetQuickBox(QZ::CAD::IShape* shape, double* box6) override {
    return shape && shape->GetBoundingBox(box6);
  }
  // The fake's shapes carry no colours of their own.
  int GetShapeColorCount(QZ::CAD::IShape*) override { return 0; }
  bool GetShapeColor(QZ::CAD::IShape*, int, QZ::CAD::ShapeColor*) override { return false; }
  bool ExportGLTF(const char*, bool) override { return false; }
  bool ExportOBJ(const char*) override { return false; }
};

}  // namespace fake_engine
