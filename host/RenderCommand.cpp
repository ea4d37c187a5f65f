// morlane render FILE OUT.png [--size WxH] [--view iso|front|back|left|right|top|bottom]
//                             [--progress]
// The model drawn off-screen by the engine into a PNG picture.
#include "Command.h"
#include "PrivateDisplay.h"

#include <array>
#include <cmath>
#include <cstdlib>

namespace morlane {

namespace {

namespace CAD = QZ::CAD;

// Rows of a 3 x 4 placement times another.
Matrix12 Times(const Matrix12& a, const Matrix12& b) {
  Matrix12 m{};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) {
      double v = c == 3 ? a[r * 4 + 3] : 0.0;
      for (int k = 0; k < 3; ++k) v += a[r * 4 + k] * b[k * 4 + c];
      m[r * 4 + c] = v;
    }
  return m;
}

using Vec = std::array<double, 3>;
Vec Cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec Unit(Vec v) {
  const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  return {v[0] / n, v[1] / n, v[2] / n};
}

}  // namespace

// The rotation that takes the wanted view's frame (right, up, towards the eye) onto the corner
// view's frame.
bool ViewRotation(const std::string& name, Matrix12& m) {
  struct Side {
    const char* name;
    Vec eye, up;
  };
  static const Side kSides[] = {
      {"front", {0, -1, 0}, {0, 0, 1}}, {"back", {0, 1, 0}, {0, 0, 1}},
      {"left", {-1, 0, 0}, {0, 0, 1}},  {"right", {1, 0, 0}, {0, 0, 1}},
      {"top", {0, 0, 1}, {0, 1, 0}},    {"bottom", {0, 0, -1}, {0, -1, 0}},
  };
  m = IdentityMatrix12();
  if (name == "iso") return true;
  const Side* side = nullptr;
  for (const Side& s : kSides)
    if (name == s.name) side = &s;
  if (!side) return false;
  const Vec ei = Unit({1, -1, 1}), ui = Unit({-1, 1, 2}), ri = Cross(ui, ei);
  const Vec& ef = side->eye;
  const Vec& uf = side->up;
  const Vec rf = Cross(uf, ef);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[r * 4 + c] = ri[r] * rf[c] + ui[r] * uf[c] + ei[r] * ef[c];
  return true;
}

namespace {

void ParseSize(const std::string& text, int& w, int& h) {
  const auto x = text.find('x');
  char* end = nullptr;
  if (x != std::string::npos) {
    const long a = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() + x) {
      const long b = std::strtol(text.c_str() + x + 1, &end, 10);
      if (*end == 0 && a >= 16 && a <= 8192 && b >= 16 && b <= 8192) {
        w = static_cast<int>(a);
        h = static_cast<int>(b);
        return;
      }
    }
  }
  throw UsageError{"--size wants WIDTHxHEIGHT, each from 16 to 8192: " + text};
}

}  // namespace

int RunRender(const std::vector<std::string>& args) {
  int w = 800, h = 600;
  std::string viewName = "iso";
  bool progress = false;
  const std::vector<std::string> files =
      ParseOptions("render",
                   {{"--progress", false, [&](const std::string&) { progress = true; }},
                    {"--size", true, [&](const std::string& v) { ParseSize(v, w, h); }},
                    {"--view", true, [&](const std::string& v) { viewName = v; }}},
                   args);
  if (files.size() != 2) throw UsageError{"render wants FILE OUT.png"};
  Matrix12 turn;
  if (!ViewRotation(viewName, turn))
    throw UsageError{"--view is one of iso, front, back, left, right, top, bottom: " + viewName};
  if (Lower(files[1]).size() < 4 || Lower(files[1]).substr(files[1].size() - 4) != ".png")
    throw UsageError{"render writes a .png file: " + files[1]};
  Session session;
  auto root = session.Read(files[0], false, WantsProgress(progress));
  std::vector<CObject3D*> leaves;
  Leaves(*root, leaves);
  if (leaves.empty()) throw Failure{files[0] + ": holds no solid to show"};
  if (const std::string why = EnsureDisplay(); !why.empty()) throw Failure{why};
  QZ::ObjPtr<CAD::IView> view(session.Context()->NewView(nullptr, CAD::eViewOffscreen));
  if (!view) throw Failure{"the engine gives no off-screen view"};
  view->ResetView();
  std::vector<QZ::ObjPtr<CAD::IShape>> shapes;
  for (CObject3D* leaf : leaves) {
    QZ::ObjPtr<CAD::IShape> shape = leaf->GetShape();
    if (viewName != "iso")
      shape = QZ::ObjPtr<CAD::IShape>(shape->Placed(Times(turn, leaf->GetGlobalMatrix()).data()));
    shapes.push_back(shape);
  }
  // The meshes of every solid made at once, on all processors.
  std::vector<CAD::IShape*> raw;
  for (const auto& s : shapes) raw.push_back(s.Get());
  view->Prepare(raw.data(), static_cast<int>(raw.size()));
  for (size_t i = 0; i < leaves.size(); ++i) {
    CObject3D* leaf = leaves[i];
    QZ::ObjPtr<CAD::IShapeVis> vis(view->Display(shapes[i].Get()));
    const auto rgb = leaf->GetColorRGB();
    if (vis) vis->SetColor(rgb[0], rgb[1], rgb[2]);
  }
  view->ResetView();
  view->FitAll();
  if (!view->SaveImage(files[1].c_str(), w, h)) throw Failure{"cannot write " + files[1]};
  return 0;
}

}  // namespace morlane
