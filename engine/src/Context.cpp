#include "Context.h"

#include "ExchangeCommon.h"

#include "Shape.h"
#include "Solids.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCone.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <BRepPrimAPI_MakeSphere.hxx>
#include <BRepPrimAPI_MakeTorus.hxx>
#include <BRepPrimAPI_MakeWedge.hxx>
#include <gp_Ax1.hxx>
#include <gp_Pnt.hxx>

#include <algorithm>
#include <cmath>

namespace cad_engine {

namespace {

constexpr double kTiny = 1e-7;  // sizes closer than this count as equal

class CMatrixService final : public QZ::CAD::IMatrixService {
 public:
  double* Identity(double* out) override {
    IdentityMatrix(out);
    return out;
  }
  double* Translation(double x, double y, double z, double* out) override {
    return Guard("Translation", [&] {
      for (double v : {x, y, z})
        if (!std::isfinite(v)) Throw(QZ::eCodeInvalidParameter, "translation is not finite");
      IdentityMatrix(out);
      out[3] = x;
      out[7] = y;
      out[11] = z;
      return out;
    });
  }
  double* Rotation(double ax, double ay, double az, double angle, double* out) override {
    return Guard("Rotation", [&] {
      for (double v : {ax, ay, az, angle})
        if (!std::isfinite(v)) Throw(QZ::eCodeInvalidParameter, "rotation is not finite");
      if (std::sqrt(ax * ax + ay * ay + az * az) < 1e-12)
        Throw(QZ::eCodeInvalidParameter, "rotation axis is null");
      gp_Trsf t;
      t.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(ax, ay, az)), angle);
      FromTrsf(t, out);
      return out;
    });
  }
  double* Inverse(const double* m, double* out) override {
    return Guard("Inverse", [&] {
      FromTrsf(ToTrsf(m).Inverted(), out);
      return out;
    });
  }
  double* TransformPoint(const double* m, const double* p, double* out) override {
    double r[3];
    for (int row = 0; row < 3; ++row)
      r[row] = m[row * 4] * p[0] + m[row * 4 + 1] * p[1] + m[row * 4 + 2] * p[2] + m[row * 4 + 3];
    out[0] = r[0];
    out[1] = r[1];
    out[2] = r[2];
    return out;
  }
  // Plain 3x4 affine product: the parent's placement applied after the own one.
  double* Multiply(const double* a, const double* b, double* out) override {
    double r[12];
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 4; ++col) {
        double v = a[row * 4] * b[col] + a[row * 4 + 1] * b[4 + col] + a[row * 4 + 2] * b[8 + col];
        if (col == 3) v += a[row * 4 + 3];
        r[row * 4 + col] = v;
      }
    }
    for (int i = 0; i < 12; ++i) out[i] = r[i];
    return out;
  }
};

class CHeaderService final : public QZ::CAD::IHeaderService {
 public:
  explicit CHeaderService(HeaderTexts& texts) : m_t(texts) {}
  void SetFileDescription(const char* s) override { m_t.fileDescription = s ? s : ""; }
  void SetFileName(const char* s) override { m_t.fileName = s ? s : ""; }
  void SetAuthor(const char* s) override { m_t.author = s ? s : ""; }
  void SetOrganization(const char* s) override { m_t.organization = s ? s : ""; }
  void SetAuthorisation(const char* s) override { m_t.authorisation = s ? s : ""; }
  const char* GetFileDescription() override { return m_t.fileDescription.c_str(); }
  const char* GetFileName() override { return m_t.fileName.c_str(); }
  const char* GetAuthor() override { return m_t.author.c_str(); }
  const char* GetOrganization() override { return m_t.organization.c_str(); }
  const char* GetAuthorisation() override { return m_t.authorisation.c_str(); }

 private:
  HeaderTexts& m_t;
};

std::string PathText(const char* path) {
  if (!path || !*path) Throw(QZ::eCodeInvalidParameter, "no file path");
  return path;
}

class CContext final : public RefCounted<QZ::CAD::ICADContext> {
 public:
  CContext() : m_headerService(m_header) {}

  QZ::CAD::IAssembly* GetAssembly() override {
    return Guard("GetAssembly", [&] {
      if (!m_doc || !m_doc->imported) m_doc = NewDocument();
      return NewDocumentItem(m_doc);
    });
  }
  QZ::CAD::IMatrixService* GetMatrixService() override { return &m_matrix; }
  QZ::CAD::IHeaderService* GetHeaderService() override { return &m_headerService; }
  QZ::CAD::IBearingFactory* GetBearingFactory() override { return BearingFactory(); }
  QZ::CAD::IGearFactory* GetGearFactory() override { return GearFactory(); }
  QZ::CAD::IBeamFactory* GetBeamFactory() override { return BeamFactory(); }
  QZ::CAD::IShaftFactory* GetShaftFactory() override { return ShaftFactory(); }
  QZ::CAD::IFastenerFactory* GetFastenerFactory() override { return FastenerFactory(); }
  QZ::CAD::IShaftRecognizer* GetShaftRecognizer() override { return ShaftRecognizer(); }

  bool ExportSTEP(const char* path) override {
    return Exchange("ExportSTEP", path,
                    [&](const std::string& p) { WriteSTEP(Doc(), m_header, p); });
  }
  bool ExportIGES(const char* path) override {
    return Exchange("ExportIGES", path, [&](const std::string& p) { WriteIGES(Doc(), p); });
  }
  bool ExportSTL(const char* path) override {
    return Exchange("ExportSTL", path, [&](const std::string& p) { WriteSTL(Doc(), p); });
  }
  bool ImportSTEP(const char* path) override {
    return Exchange("ImportSTEP", path, [&](const std::string& p) {
      HeaderTexts header;
      auto doc = ReadSTEP(p, header);
      m_doc = doc;
      m_header = header;
    });
  }
  bool ImportIGES(const char* path) override {
    return Exchange("ImportIGES", path, [&](const std::string& p) { Take(ReadIGES(p)); });
  }
  bool ImportSTL(const char* path) override {
    return Exchange("ImportSTL", path, [&](const std::string& p) { Take(ReadSTL(p)); });
  }

  QZ::CAD::IShape* Box(double w, double h, double l) override {
    return Guard("Box", [&] {
      CheckPositive("w", w);
      CheckPositive("h", h);
      CheckPositive("l", l);
      return Primitive("Box", {w, h, l}, [&] { return BRepPrimAPI_MakeBox(w, h, l).Shape(); });
    });
  }
  QZ::CAD::IShape* Sphere(double r) override {
    return Guard("Sphere", [&] {
      CheckPositive("r", r);
      return Primitive("Sphere", {r}, [&] { return BRepPrimAPI_MakeSphere(r).Shape(); });
    });
  }
  QZ::CAD::IShape* Cylinder(double r, double l) override {
    return Guard("Cylinder", [&] {
      CheckPositive("r", r);
      CheckPositive("l", l);
      return Primitive("Cylinder", {r, l}, [&] { return BRepPrimAPI_MakeCylinder(r, l).Shape(); });
    });
  }
  QZ::CAD::IShape* Cone(double r1, double r2, double l) override {
    return Guard("Cone", [&] {
      CheckNotNegative("r1", r1);
      CheckNotNegative("r2", r2);
      CheckPositive("l", l);
      if (r1 < kTiny && r2 < kTiny) Throw(QZ::eCodeInvalidParameter, "Cone: both radii are zero");
      return Primitive("Cone", {r1, r2, l}, [&] { return ConeSolid(r1, r2, l); });
    });
  }
  QZ::CAD::IShape* Torus(double r1, double r2) override {
    return Guard("Torus", [&] {
      CheckPositive("r1", r1);
      CheckPositive("r2", r2);
      if (r2 >= r1 - kTiny)
        Throw(QZ::eCodeInvalidParameter, "Torus: the tube radius r2 must be below r1");
      return Primitive("Torus", {r1, r2}, [&] { return BRepPrimAPI_MakeTorus(r1, r2).Shape(); });
    });
  }
  QZ::CAD::IShape* Wedge(double wb, double h, double l, double wt) override {
    return Guard("Wedge", [&] {
      CheckPositive("wb", wb);
      CheckPositive("h", h);
      CheckPositive("l", l);
      CheckNotNegative("wt", wt);
      return Primitive("Wedge", {wb, h, l, wt},
                       [&] { return BRepPrimAPI_MakeWedge(wb, h, l, wt).Shape(); });
    });
  }
  QZ::CAD::IShape* HollowCylinder(double dout, double din, double l) override {
    return Guard("HollowCylinder", [&] {
      CheckPositive("dout", dout);
      CheckNotNegative("din", din);
      CheckPositive("l", l);
      if (din >= dout - kTiny)
        Throw(QZ::eCodeInvalidParameter, "HollowCylinder: din must be below dout");
      if (din < kTiny)
        return Primitive("HollowCylinder", {dout, din, l},
                         [&] { return BRepPrimAPI_MakeCylinder(dout / 2, l).Shape(); });
      return Primitive("HollowCylinder", {dout, din, l},
                       [&] { return Ring(din / 2, dout / 2, dout / 2, din / 2, l); });
    });
  }
  QZ::CAD::IShape* HollowCone(double dout1, double dout2, double din1, double din2,
                              double l) override {
    return Guard("HollowCone", [&] {
      CheckNotNegative("dout1", dout1);
      CheckNotNegative("dout2", dout2);
      CheckNotNegative("din1", din1);
      CheckNotNegative("din2", din2);
      CheckPositive("l", l);
      if (dout1 < kTiny && dout2 < kTiny)
        Throw(QZ::eCodeInvalidParameter, "HollowCone: both outer diameters are zero");
      // The bore lies inside the outer cone: at each end it is narrower (or both are zero there).
      if ((din1 > 0 && din1 >= dout1 - kTiny) || (din2 > 0 && din2 >= dout2 - kTiny))
        Throw(QZ::eCodeInvalidParameter,
              "HollowCone: the inner diameters must be below the outer ones");
      if (din1 < kTiny && din2 < kTiny)
        return Primitive("HollowCone", {dout1, dout2, din1, din2, l},
                         [&] { return ConeSolid(dout1 / 2, dout2 / 2, l); });
      return Primitive("HollowCone", {dout1, dout2, din1, din2, l},
                       [&] { return Ring(din1 / 2, dout1 / 2, dout2 / 2, din2 / 2, l); });
    });
  }

  QZ::CAD::IView* NewView(void* handle, int kind) override {
    return Guard("NewView", [&] { return cad_engine::NewView(handle, kind); });
  }
  int GetLastErrorCode() override { return m_lastCode; }
  const char* GetLastErrorText() override { return m_lastText.c_str(); }
  int GetWarningCount() override { return static_cast<int>(m_warnings.size()); }
  const char* GetWarning(int index) override {
    if (index < 0 || index >= GetWarningCount()) return nullptr;
    return m_warnings[static_cast<size_t>(index)].c_str();
  }
  void SetTimeLimit(double seconds) override {
    m_control.timeLimit = std::isfinite(seconds) ? seconds : 0.0;
  }
  void SetProgressCallback(bool (*callback)(void*, double), void* user) override {
    m_control.callback = callback;
    m_control.user = user;
  }
  int GetBuildThreads() override { return m_buildThreads; }
  void SetBuildThreads(int threads) override {
    m_buildThreads = std::min(threads >= 0 ? threads : MachineThreads(), kMaxBuildThreads);
  }
  void SetSharedSolids(bool share) override { SolidMemo::SetEnabled(share); }
  bool GetQuickBox(QZ::CAD::IShape* shape, double* box6) override {
    return Guard("GetQuickBox", [&] { return QuickBox(ShapeOf(shape), box6); });
  }
  int GetShapeColorCount(QZ::CAD::IShape* shape) override {
    return Guard("GetShapeColorCount", [&] {
      ShapeOf(shape);
      const ShapeColorsPtr colors = ColorsOf(shape);
      if (!colors) return 0;
      return static_cast<int>(colors->subs.size()) + (colors->hasDefault ? 1 : 0);
    });
  }
  bool GetShapeColor(QZ::CAD::IShape* shape, int index, QZ::CAD::ShapeColor* out) override {
    return Guard("GetShapeColor", [&] {
      ShapeOf(shape);
      if (!out) Throw(QZ::eCodeInvalidParameter, "GetShapeColor: no place for the colour");
      const ShapeColorsPtr colors = ColorsOf(shape);
      if (!colors || index < 0) return false;
      const float* rgba = nullptr;
      if (colors->hasDefault && index == 0) {
        out->kind = QZ::CAD::eColorOfShape;
        out->index = 0;
        out->use = QZ::CAD::eColorSurface;
        rgba = colors->defaultRgba;
      } else {
        const size_t k = static_cast<size_t>(index - (colors->hasDefault ? 1 : 0));
        if (k >= colors->subs.size()) return false;
        const SubShapeColor& e = colors->subs[k];
        switch (e.kind) {
          case TopAbs_SOLID: out->kind = QZ::CAD::eColorOfSolid; break;
          case TopAbs_SHELL: out->kind = QZ::CAD::eColorOfShell; break;
          case TopAbs_FACE: out->kind = QZ::CAD::eColorOfFace; break;
          case TopAbs_EDGE: out->kind = QZ::CAD::eColorOfEdge; break;
          default: out->kind = QZ::CAD::eColorOfOther; break;
        }
        out->index = e.index;
        out->use = static_cast<int>(e.use);
        rgba = e.rgba;
      }
      for (int i = 0; i < 4; ++i) out->rgba[i] = rgba[i];
      return true;
    });
  }
  bool ExportGLTF(const char* path, bool binary) override {
    return Exchange("ExportGLTF", path, [&](const std::string& p) { WriteGLTF(Doc(), p, binary); });
  }
  bool ExportOBJ(const char* path) override {
    return Exchange("ExportOBJ", path, [&](const std::string& p) { WriteOBJ(Doc(), p); });
  }

 private:
  static TopoDS_Shape ConeSolid(double r1, double r2, double l) {
    if (std::fabs(r1 - r2) < kTiny) return BRepPrimAPI_MakeCylinder(r1, l).Shape();
    return BRepPrimAPI_MakeCone(r1, r2, l).Shape();
  }
  // A solid the kernel's primitives (or a turned outline of checked radii) give: valid by
  // construction once the sizes are checked, so it is not analysed again (the analysis costs
  // several times the building). Primitives of the same sizes share one solid, as the other
  // elements do (SolidMemo).
  template <class F>
  static QZ::CAD::IShape* Primitive(const char* what, std::initializer_list<double> sizes,
                                    F&& build) {
    auto make = [&] {
      const TopoDS_Shape s = build();
      if (s.IsNull()) Throw(QZ::eCodeFailure, std::string(what) + ": no shape built");
      return s;
    };
    if (!SolidMemo::Enabled()) return new CShape(make());
    return new CShape(SolidMemo::FindOrBuild(SolidMemo::Key(what, sizes), make));
  }
  // The solid between a bore from radius ri1 (z = 0) to ri2 (z = l) and an outer surface from
  // ro1 to ro2: its outline turned about z, the same solid as the bore cut from the outer cone
  // and far quicker to build. An end where both radii are 0 closes in a point on the axis.
  static TopoDS_Shape Ring(double ri1, double ro1, double ro2, double ri2, double l) {
    const gp_Pnt2d corners[] = {{ri1, 0}, {ro1, 0}, {ro2, l}, {ri2, l}};
    Outline o(corners[0]);
    gp_Pnt2d at = corners[0];
    for (int i = 1; i < 4; ++i) {
      if (corners[i].Distance(at) < kTiny) continue;
      o.LineTo(corners[i].X(), corners[i].Y());
      at = corners[i];
    }
    return Revolve(o.Face(1));
  }
  const DocState& Doc() {
    if (!m_doc) m_doc = NewDocument();
    return *m_doc;
  }
  void Take(std::shared_ptr<DocState> doc) {
    m_doc = std::move(doc);
    m_header = HeaderTexts{};
  }
  // Runs one import or export under the context's limits: true on success; false with the
  // code, reason and warnings kept for GetLastError*. A missing path is a wrong call, thrown.
  template <class F>
  bool Exchange(const char* what, const char* path, F&& f) {
    const std::string p = PathText(path);
    m_lastCode = 0;
    m_lastText.clear();
    bool ok = false;
    {
      ExchangeScope scope(m_control);
      try {
        Guard(what, [&] { f(p); });
        ok = true;
      } catch (QZ::IException* e) {
        m_lastCode = e ? e->GetCode() : QZ::eCodeFailure;
        m_lastText = e && e->GetText() ? e->GetText() : "failed";
        if (e) e->Release();
      }
    }
    m_warnings = m_control.warnings;
    return ok;
  }

  // Builds on this many threads at most, however many processors there are: beyond that the
  // memory of the elements under way grows faster than the time shrinks.
  static constexpr int kMaxBuildThreads = 16;
  int m_buildThreads = std::min(MachineThreads(), kMaxBuildThreads);
  std::shared_ptr<DocState> m_doc;
  HeaderTexts m_header;
  ExchangeControl m_control;
  int m_lastCode = 0;
  std::string m_lastText;
  std::vector<std::string> m_warnings;
  CMatrixService m_matrix;
  CHeaderService m_headerService;
};

class CTools final : public QZ::CAD::ICADTools {
 public:
  // The tools object lives as long as the library; references are counted for symmetry only.
  void AddRef() override {}
  void Release() override {}
  const char* GetVersion() override { return "cad-ondravel 1.0 (geometric kernel 7.6)"; }
  QZ::CAD::ICADContext* NewContext() override {
    return Guard("NewContext", [&]() -> QZ::CAD::ICADContext* {
      SilenceKernel();
      return new CContext();
    });
  }
};

}  // namespace

}  // namespace cad_engine

extern "C" QZ_CAD_VISIBLE QZ::CAD::ICADTools* EntryPoint() {
  static cad_engine::CTools tools;
  try {
    cad_engine::SilenceKernel();
  } catch (...) {}
  return &tools;
}
