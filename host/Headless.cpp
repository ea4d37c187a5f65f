#include "Headless.h"

#include "model/ShaftRecognition.h"
#include "model/TreeObject.h"
#include "model/elements/Shafts.h"
#include "model/reader/ModelReader.h"
#include "workspace/CadEngineLibrary.h"
#include "xml/XmlText.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace morlane {

namespace {

namespace CAD = QZ::CAD;

// A reason the command stops: a file it cannot read or write (exit 1), or a wrong command line
// (exit 2).
struct Failure {
  std::string line;
};
struct UsageError {
  std::string line;
};

enum class FileKind { Unknown, Model, Step, Iges, Stl };

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

FileKind KindOf(const std::string& path) {
  const auto dot = path.rfind('.');
  const auto slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return FileKind::Unknown;
  const std::string ext = Lower(path.substr(dot + 1));
  if (ext == "xml") return FileKind::Model;
  if (ext == "step" || ext == "stp") return FileKind::Step;
  if (ext == "iges" || ext == "igs") return FileKind::Iges;
  if (ext == "stl") return FileKind::Stl;
  return FileKind::Unknown;
}

// The file must be a readable regular file (a folder or a device is refused before any reader
// sees it).
void NeedReadableFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) throw Failure{path + ": " + std::strerror(errno)};
  struct stat st {};
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  close(fd);
  if (!regular) throw Failure{path + ": not a regular file"};
}

// ---- the engine and the model ----

// Progress lines on the error stream while a model's solids are built: "morlane: building
// solids: 120 of 1000", about once a second (only when the building takes that long), and the
// last one when all are built.
class ProgressLines {
 public:
  explicit ProgressLines(bool on) : m_on(on) {}
  ~ProgressLines() {
    if (m_printed && m_tty) std::fprintf(stderr, "\n");
  }
  CBuildBatch::Progress Callback() {
    if (!m_on) return {};
    m_start = Clock::now();
    return [this](int done, int total) {
      const Clock::time_point now = Clock::now();
      if (now - m_start < std::chrono::seconds(1)) return true;  // quick work shows nothing
      if (done == m_lastDone) return true;
      if (m_printed && now - m_last < std::chrono::seconds(1) && done < total) return true;
      std::fprintf(stderr, "%smorlane: building solids: %d of %d%s", m_tty ? "\r" : "", done, total,
                   m_tty ? "" : "\n");
      std::fflush(stderr);
      m_printed = true;
      m_last = now;
      m_lastDone = done;
      return true;
    };
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool m_on;
  bool m_tty = isatty(2) != 0;
  bool m_printed = false;
  int m_lastDone = -1;
  Clock::time_point m_start, m_last;
};

// Whether a command shows progress: asked with --progress, or the error stream is a terminal.
bool WantsProgress(bool asked) { return asked || isatty(2) != 0; }

class Session {
 public:
  Session() {
    if (m_library.Load() != CCadEngineLibrary::eLoaded)
      throw Failure{"cannot load the engine " + CCadEngineLibrary::DefaultPath() + ": " +
                    m_library.GetError()};
    // Build messages of single objects go to the error stream, the rest of the model is read.
    SetBuildErrorReporter([](const std::wstring& m) {
      std::fprintf(stderr, "morlane: %s\n", MorlaneText::ToUtf8(m).c_str());
    });
  }

  QZ::ObjPtr<ICADContext> NewContext() {
    QZ::ObjPtr<ICADContext> ctx(m_library.GetTools()->NewContext());
    if (!ctx) throw Failure{"the engine gives no context"};
    return ctx;
  }

  // The file's model as the workspace builds it: a model file read into the tree, an exchange
  // file imported (its parts tried as shafts when recognise is set). With progress set, the
  // building of a model file's solids is shown on the error stream.
  std::shared_ptr<CNodeRoot> Read(const std::string& path, bool recognise = false,
                                  bool progress = false) {
    const FileKind kind = KindOf(path);
    if (kind == FileKind::Unknown)
      throw Failure{path + ": unknown kind of file (.xml, .step, .stp, .iges, .igs, .stl)"};
    NeedReadableFile(path);
    m_context = NewContext();
    auto root = std::make_shared<CNodeRoot>();
    root->SetContext(m_context);
    if (kind == FileKind::Model) {
      ProgressLines lines(progress);
      if (!ReadModelFile(MorlaneText::FromUtf8(path), root, nullptr, lines.Callback()))
        throw Failure{path + ": not a model file that can be read"};
      return root;
    }
    bool read = false;
    const char* what = kind == FileKind::Step ? "STEP" : kind == FileKind::Iges ? "IGES" : "STL";
    if (kind == FileKind::Step) read = m_context->ImportSTEP(path.c_str());
    if (kind == FileKind::Iges) read = m_context->ImportIGES(path.c_str());
    if (kind == FileKind::Stl) read = m_context->ImportSTL(path.c_str());
    if (!read) {
      const char* why = m_context->GetLastErrorText();
      throw Failure{path + ": cannot be read as " + what +
                    (why && *why ? ": " + OneLine(why) : "")};
    }
    QZ::ObjPtr<CAD::IAssembly> doc(m_context->GetAssembly());
    RecognitionList recognized;
    for (int i = 0; doc && i < doc->GetChildCount(); ++i) {
      QZ::ObjPtr<CAD::IItem> item(doc->GetChild(i));
      if (item) root->ImportItem(item.Get(), recognise ? &ShaftRecogniser() : nullptr, recognized);
    }
    return root;
  }

  const QZ::ObjPtr<ICADContext>& Context() const { return m_context; }

  static std::string OneLine(std::string s) {
    std::replace(s.begin(), s.end(), '\n', ' ');
    std::replace(s.begin(), s.end(), '\r', ' ');
    return s;
  }

 private:
  CCadEngineLibrary m_library;
  QZ::ObjPtr<ICADContext> m_context;
};

// Every leaf below o with a solid, in tree order.
void Leaves(CTreeObject& o, std::vector<CObject3D*>& out) {
  if (auto* node = dynamic_cast<CNode*>(&o)) {
    for (const auto& child : node->GetChildren())
      if (child) Leaves(*child, out);
  } else if (auto* leaf = dynamic_cast<CObject3D*>(&o); leaf && leaf->GetShape()) {
    out.push_back(leaf);
  }
}

std::string Utf8(const std::wstring& s) { return MorlaneText::ToUtf8(s); }

std::string TypeOf(const CTreeObject& o) {
  if (dynamic_cast<const CNodeRoot*>(&o)) return "Model";
  if (dynamic_cast<const CShaft*>(&o)) return "Shaft";
  if (o.IsNode()) return "Node";
  const auto* leaf = dynamic_cast<const CObject3D*>(&o);
  const std::wstring t = leaf ? leaf->GetTypeName() : std::wstring();
  return t.empty() ? "Object3D" : Utf8(t);
}

// Lengths to the micrometre (boxes carry the kernel's tolerance of 1e-7), angles alike.
std::string Number(double v) {
  if (!std::isfinite(v)) return "null";
  v = std::round(v * 1e6) / 1e6;
  if (v == 0) v = 0;  // no "-0"
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

template <class Range>
std::string JsonNumbers(const Range& values) {
  std::string out = "[";
  bool first = true;
  for (double v : values) {
    out += (first ? "" : ", ") + Number(v);
    first = false;
  }
  return out + "]";
}

// ---- render ----

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

// The off-screen view always looks from the corner (+x, -y, +z) with z up. Another view is had
// by turning the model instead: the rotation that takes the wanted view's frame (right, up,
// towards the eye) onto that corner view's frame.
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

// An X server for the off-screen view when the session has none: Xvfb of the system, started
// for this run and stopped at its end.
//
// The engine keeps its connection to the display until the process ends, so the server must
// outlive every use of it: it is told to stop when this process ends (the parent-death signal),
// never before.
class OwnDisplay {
 public:
  void Ensure() {
    const char* d = std::getenv("DISPLAY");
    if (d && *d) return;
    const char* server = "/usr/bin/Xvfb";
    if (access(server, X_OK) != 0)
      throw Failure{"render needs an X display: DISPLAY is not set and " + std::string(server) +
                    " is not installed"};
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      throw Failure{"cannot start Xvfb: " + std::string(strerror(errno))};
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) throw Failure{"cannot start Xvfb: " + std::string(strerror(errno))};
    if (pid == 0) {
      // The child: ends with this process; the write end as descriptor 3 for -displayfd,
      // nothing else inherited.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (getppid() != parent) _exit(127);
      dup2(fds[1], 3);
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
      }
      execl(server, "Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 20000) > 0) {
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
      throw Failure{"Xvfb did not start"};
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
  }
};

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

int Render(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  int w = 800, h = 600;
  std::string viewName = "iso";
  bool progress = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--progress") {
      progress = true;
    } else if (args[i] == "--size" && i + 1 < args.size()) {
      ParseSize(args[++i], w, h);
    } else if (args[i] == "--view" && i + 1 < args.size()) {
      viewName = args[++i];
    } else if (!args[i].empty() && args[i][0] == '-') {
      throw UsageError{"render: unknown option " + args[i]};
    } else {
      files.push_back(args[i]);
    }
  }
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
  OwnDisplay display;
  display.Ensure();
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

// ---- convert ----

int Convert(const std::vector<std::string>& args) {
  if (args.size() != 2) throw UsageError{"convert wants IN OUT"};
  const FileKind out = KindOf(args[1]);
  if (out != FileKind::Step && out != FileKind::Iges && out != FileKind::Stl)
    throw UsageError{"convert writes STEP, IGES or STL (.step, .stp, .iges, .igs, .stl): " +
                     args[1]};
  Session session;
  auto root = session.Read(args[0]);
  std::vector<CObject3D*> leaves;
  Leaves(*root, leaves);
  if (leaves.empty()) throw Failure{args[0] + ": holds no solid to convert"};
  QZ::ObjPtr<ICADContext> target = session.NewContext();
  QZ::ObjPtr<CAD::IAssembly> assembly(target->GetAssembly());
  root->ExportToAssembly(assembly.Get());
  const char* path = args[1].c_str();
  const bool written = out == FileKind::Step   ? target->ExportSTEP(path)
                       : out == FileKind::Iges ? target->ExportIGES(path)
                                               : target->ExportSTL(path);
  if (!written) {
    const char* why = target->GetLastErrorText();
    throw Failure{"cannot write " + args[1] + (why && *why ? ": " + Session::OneLine(why) : "")};
  }
  return 0;
}

// ---- info ----

struct Box {
  bool set = false;
  std::array<double, 6> v{};
  void Add(const double* b) {
    if (!set) {
      std::copy(b, b + 6, v.begin());
      set = true;
      return;
    }
    for (int k = 0; k < 3; ++k) {
      v[k] = std::min(v[k], b[k]);
      v[k + 3] = std::max(v[k + 3], b[k + 3]);
    }
  }
};

std::string ColourText(const CTreeObject& o) {
  auto colour = o.FindColorProperty(L"Color");
  if (!colour) return {};
  const COLORREF c = colour->GetColor();
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02X%02X%02X", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
  return buf;
}

// The colours an exchange file gives a part's faces, solids, shells and edges (the part's own
// colour is its "color"): how many sub-shapes of each kind carry one, and the colours they use.
struct SubColours {
  bool any = false;
  bool hasOwn = false;
  std::string own;
  double opacity = 1.0;
  int solids = 0, shells = 0, faces = 0, edges = 0, others = 0;
  std::vector<std::string> distinct;  // at most kMaxListed, in the order first met
  bool more = false;                  // more distinct colours than listed
};
constexpr size_t kMaxListed = 32;

// As the model turns the engine's colours into its own (so that a part's colour and the same
// colour on its faces read alike).
std::string HexColour(const double* rgb) {
  const COLORREF c = ColorFromRGB(rgb);
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02X%02X%02X", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
  return buf;
}

SubColours SubColoursOf(ICADContext* context, CTreeObject& o) {
  SubColours out;
  auto* leaf = dynamic_cast<CObject3D*>(&o);
  if (!context || !leaf) return out;
  QZ::ObjPtr<CAD::IShape> shape = leaf->GetShape();
  if (!shape) return out;
  const int n = context->GetShapeColorCount(shape.Get());
  for (int i = 0; i < n; ++i) {
    CAD::ShapeColor c{};
    if (!context->GetShapeColor(shape.Get(), i, &c)) continue;
    out.any = true;
    const std::string hex = HexColour(c.rgba);
    switch (c.kind) {
      case CAD::eColorOfShape:
        out.hasOwn = true;
        out.own = hex;
        out.opacity = c.rgba[3];
        continue;
      case CAD::eColorOfSolid: ++out.solids; break;
      case CAD::eColorOfShell: ++out.shells; break;
      case CAD::eColorOfFace: ++out.faces; break;
      case CAD::eColorOfEdge: ++out.edges; break;
      default: ++out.others; break;
    }
    if (std::find(out.distinct.begin(), out.distinct.end(), hex) != out.distinct.end()) continue;
    if (out.distinct.size() < kMaxListed)
      out.distinct.push_back(hex);
    else
      out.more = true;
  }
  return out;
}

std::string SubColoursText(const SubColours& c) {
  std::string out;
  auto add = [&](int n, const char* one, const char* many) {
    if (n == 0) return;
    out += (out.empty() ? "" : ", ") + std::to_string(n) + " " + (n == 1 ? one : many);
  };
  add(c.solids, "solid", "solids");
  add(c.shells, "shell", "shells");
  add(c.faces, "face", "faces");
  add(c.edges, "edge", "edges");
  add(c.others, "other", "others");
  if (out.empty()) return out;
  std::string list;
  for (const auto& d : c.distinct) list += (list.empty() ? "" : " ") + d;
  if (c.more) list += " ...";
  return " colours on " + out + " (" + list + ")";
}

std::string SubColoursJson(const SubColours& c) {
  if (!c.any) return "null";
  std::string out =
      "{\"default\": " + (c.hasOwn ? JsonString(c.own) : std::string("null")) +
      ", \"opacity\": " + Number(c.opacity) + ", \"solids\": " + std::to_string(c.solids) +
      ", \"shells\": " + std::to_string(c.shells) + ", \"faces\": " + std::to_string(c.faces) +
      ", \"edges\": " + std::to_string(c.edges) + ", \"others\": " + std::to_string(c.others) +
      ", \"distinct\": [";
  for (size_t i = 0; i < c.distinct.size(); ++i) out += (i ? ", " : "") + JsonString(c.distinct[i]);
  return out + "], \"more\": " + (c.more ? "true" : "false") + "}";
}

// How info measures boxes: exact (the kernel's optimal box, slow for freeform surfaces such as
// tooth flanks) or the kernel's quick bound (never smaller, within a little of it).
struct BoxMode {
  ICADContext* context = nullptr;  // the quick bound's; null: exact boxes
  ICADContext* colours = nullptr;  // the context that tells the parts' sub-shape colours
  // Each object's box, measured once (a group's box is asked again for every group above it).
  std::unordered_map<const CTreeObject*, Box> known;
};

// The object's box (a group's: of everything below it) in model coordinates.
Box BoxOf(CTreeObject& o, BoxMode& mode) {
  if (auto it = mode.known.find(&o); it != mode.known.end()) return it->second;
  Box box;
  if (auto* node = dynamic_cast<CNode*>(&o)) {
    for (const auto& child : node->GetChildren())
      if (child) {
        Box b = BoxOf(*child, mode);
        if (b.set) box.Add(b.v.data());
      }
  } else if (auto* leaf = dynamic_cast<CObject3D*>(&o)) {
    double b[6];
    if (auto shape = leaf->GetShape()) {
      const bool got =
          mode.context ? mode.context->GetQuickBox(shape.Get(), b) : shape->GetBoundingBox(b);
      if (got) box.Add(b);
    }
  }
  mode.known.emplace(&o, box);
  return box;
}

void InfoText(CTreeObject& o, int depth, BoxMode& mode, std::string& out) {
  const Matrix12 m = o.GetGlobalMatrix();
  std::string line(static_cast<size_t>(2 * depth), ' ');
  line += TypeOf(o) + " \"" + Utf8(o.GetName()) + "\"";
  const std::string colour = ColourText(o);
  if (!colour.empty()) line += " colour " + colour;
  line += SubColoursText(SubColoursOf(mode.colours, o));
  line += " at (" + Number(m[3]) + ", " + Number(m[7]) + ", " + Number(m[11]) + ")";
  const Box box = BoxOf(o, mode);
  if (box.set) {
    line += " box (" + Number(box.v[0]) + ", " + Number(box.v[1]) + ", " + Number(box.v[2]) +
            ") - (" + Number(box.v[3]) + ", " + Number(box.v[4]) + ", " + Number(box.v[5]) + ")";
  } else if (!o.IsNode()) {
    line += " no solid";
  }
  out += line + "\n";
  if (auto* node = dynamic_cast<CNode*>(&o))
    for (const auto& child : node->GetChildren())
      if (child) InfoText(*child, depth + 1, mode, out);
}

std::string InfoJson(CTreeObject& o, int depth, BoxMode& mode) {
  const std::string in(static_cast<size_t>(2 * depth + 2), ' ');
  std::string out = "{\n";
  out += in + "\"name\": " + JsonString(Utf8(o.GetName())) + ",\n";
  out += in + "\"type\": " + JsonString(TypeOf(o)) + ",\n";
  const std::string colour = ColourText(o);
  out += in + "\"color\": " + (colour.empty() ? "null" : JsonString(colour)) + ",\n";
  if (!o.IsNode())
    out += in + "\"colors\": " + SubColoursJson(SubColoursOf(mode.colours, o)) + ",\n";
  out += in + "\"matrix\": " + JsonNumbers(o.GetGlobalMatrix()) + ",\n";
  const Box box = BoxOf(o, mode);
  out += in + "\"box\": " + (box.set ? JsonNumbers(box.v) : "null");
  if (auto* node = dynamic_cast<CNode*>(&o)) {
    out += ",\n" + in + "\"children\": [";
    bool first = true;
    for (const auto& child : node->GetChildren()) {
      if (!child) continue;
      out += (first ? "\n" : ",\n") + in + "  " + InfoJson(*child, depth + 2, mode);
      first = false;
    }
    out += first ? "]" : "\n" + in + "]";
  }
  return out + "\n" + std::string(static_cast<size_t>(2 * depth), ' ') + "}";
}

int Info(const std::vector<std::string>& args) {
  bool json = false, exact = false, progress = false;
  std::vector<std::string> files;
  for (const auto& a : args) {
    if (a == "--json")
      json = true;
    else if (a == "--exact")
      exact = true;
    else if (a == "--progress")
      progress = true;
    else if (!a.empty() && a[0] == '-')
      throw UsageError{"info: unknown option " + a};
    else
      files.push_back(a);
  }
  if (files.size() != 1) throw UsageError{"info wants FILE"};
  Session session;
  auto root = session.Read(files[0], false, WantsProgress(progress));
  BoxMode mode;
  if (!exact) mode.context = session.Context().Get();
  mode.colours = session.Context().Get();
  std::string out;
  if (json) {
    out = InfoJson(*root, 0, mode) + "\n";
  } else {
    for (const auto& name : HeaderPropertyNames()) {
      const std::wstring v = root->GetHeader()->GetValue(name).ToText();
      if (!v.empty()) out += Utf8(name) + ": " + Utf8(v) + "\n";
    }
    InfoText(*root, 0, mode, out);
  }
  std::fputs(out.c_str(), stdout);
  return 0;
}

// ---- recognize ----

struct FoundShaft {
  std::string name;
  qz_RecognizeShaft records;
};

// The shafts of the model: its modelled shafts as they are, and every other solid (not a
// section of one) tried by the engine's recogniser.
void Shafts(ICADContext* ctx, CTreeObject& o, CNode& scratch, std::vector<FoundShaft>& out) {
  if (auto* shaft = dynamic_cast<CShaft*>(&o)) {
    out.push_back({Utf8(shaft->GetName()), RecognizeShaftRecord(*shaft)});
    return;
  }
  if (auto* node = dynamic_cast<CNode*>(&o)) {
    for (const auto& child : node->GetChildren())
      if (child) Shafts(ctx, *child, scratch, out);
    return;
  }
  auto* leaf = dynamic_cast<CObject3D*>(&o);
  if (!leaf || dynamic_cast<CShaftSection*>(leaf) || !leaf->GetShape()) return;
  QZ::ObjPtr<CAD::IRecognizeShaft> result;
  RecognizeState state = eRecognizeNoneAtZero;
  if (auto got = std::dynamic_pointer_cast<CShaft>(
          RecognizeModelLeaf(ctx, *leaf, scratch, result, &state)))
    out.push_back({Utf8(leaf->GetName()), RecognizeShaftRecord(*got)});
}

struct GrooveFields {
  const char* kind;
  std::vector<std::pair<const char*, double>> values;
};

GrooveFields FieldsOf(const qz_RecognizeGroove& g) {
  switch (g.type) {
    case 1: return {"chevron notch", {{"x", g.notch.x}, {"t", g.notch.t}}};
    case 2:
      return {"rectangular groove",
              {{"x", g.rectangular.x},
               {"t", g.rectangular.t},
               {"r", g.rectangular.r},
               {"m", g.rectangular.m}}};
    case 3:
      return {"cross hole",
              {{"x", g.crossHole.x},
               {"t", g.crossHole.t},
               {"r", g.crossHole.r},
               {"angle", g.crossHole.angle}}};
    case 4:
      return {"parallel-key groove",
              {{"x", g.parallelKey.x},
               {"l", g.parallelKey.l},
               {"t", g.parallelKey.t},
               {"r", g.parallelKey.r},
               {"angle", g.parallelKey.angle}}};
    case 5:
      return {"slots",
              {{"x", g.slots.x},
               {"l", g.slots.l},
               {"n", static_cast<double>(g.slots.n)},
               {"d", g.slots.d},
               {"win", g.slots.win},
               {"wout", g.slots.wout}}};
    default: return {"none", {}};
  }
}

std::vector<std::pair<const char*, double>> SectionFields(const qz_RecognizeSection& s) {
  return {{"pos", s.pos},   {"dout1", s.dout1}, {"dout2", s.dout2}, {"din1", s.din1},
          {"din2", s.din2}, {"l", s.l},         {"lch1", s.lch1},   {"lch2", s.lch2}};
}

std::string RecognizeText(const std::vector<FoundShaft>& shafts) {
  if (shafts.empty()) return "no shaft recognised\n";
  std::string out;
  for (const auto& shaft : shafts) {
    out += "shaft \"" + shaft.name + "\": " + std::to_string(shaft.records.size()) +
           (shaft.records.size() == 1 ? " section\n" : " sections\n");
    int i = 0;
    for (const auto& s : shaft.records) {
      out += "  section " + std::to_string(++i) + ":";
      for (const auto& [n, v] : SectionFields(s)) out += std::string(" ") + n + " " + Number(v);
      out += "\n";
      for (const auto& g : s.grooves) {
        const GrooveFields f = FieldsOf(g);
        out += "    groove type " + std::to_string(g.type) + " (" + f.kind + ")";
        for (const auto& [n, v] : f.values) out += std::string(" ") + n + " " + Number(v);
        out += "\n";
      }
    }
  }
  return out;
}

std::string RecognizeJson(const std::vector<FoundShaft>& shafts) {
  std::string out = "[";
  bool firstShaft = true;
  for (const auto& shaft : shafts) {
    out += std::string(firstShaft ? "\n" : ",\n") + "  {\n    \"name\": " + JsonString(shaft.name) +
           ",\n    \"sections\": [";
    firstShaft = false;
    bool firstSection = true;
    for (const auto& s : shaft.records) {
      out += std::string(firstSection ? "\n" : ",\n") + "      {";
      firstSection = false;
      for (const auto& [n, v] : SectionFields(s))
        out += std::string("\"") + n + "\": " + Number(v) + ", ";
      out += "\"grooves\": [";
      bool firstGroove = true;
      for (const auto& g : s.grooves) {
        const GrooveFields f = FieldsOf(g);
        out += std::string(firstGroove ? "" : ", ") + "{\"type\": " + std::to_string(g.type);
        firstGroove = false;
        for (const auto& [n, v] : f.values) out += std::string(", \"") + n + "\": " + Number(v);
        out += "}";
      }
      out += "]}";
    }
    out += firstSection ? "]\n  }" : "\n    ]\n  }";
  }
  return out + (firstShaft ? "]\n" : "\n]\n");
}

int Recognize(const std::vector<std::string>& args) {
  bool json = false;
  std::vector<std::string> files;
  for (const auto& a : args) {
    if (a == "--json")
      json = true;
    else if (!a.empty() && a[0] == '-')
      throw UsageError{"recognize: unknown option " + a};
    else
      files.push_back(a);
  }
  if (files.size() != 1) throw UsageError{"recognize wants FILE"};
  Session session;
  // An exchange file's parts are tried as shafts while they are imported; a model file's
  // solids afterwards.
  auto root = session.Read(files[0], KindOf(files[0]) != FileKind::Model);
  CNodeRoot scratch;
  scratch.SetContext(session.Context());
  std::vector<FoundShaft> shafts;
  Shafts(session.Context().Get(), *root, scratch, shafts);
  std::fputs((json ? RecognizeJson(shafts) : RecognizeText(shafts)).c_str(), stdout);
  return 0;
}

}  // namespace

const char* Usage() {
  return "usage:\n"
         "  morlane [--lang FILE] [--language NAME|ID] [--snapshot OUT.png] [FILE...]\n"
         "                                     the viewer window (a model file into the left "
         "workspace,\n"
         "                                     exchange files imported)\n"
         "  morlane render FILE OUT.png [--size WxH] [--view iso|front|back|left|right|top|"
         "bottom]\n"
         "                                     [--progress]\n"
         "  morlane convert IN OUT             IN: model file (.xml), STEP, IGES or STL; OUT: "
         "STEP, IGES\n"
         "                                     or STL by its extension\n"
         "  morlane info FILE [--json] [--exact] [--progress]\n"
         "                                     the model tree: names, types, colours, "
         "placements, boxes\n"
         "                                     (the kernel's quick bounds; --exact: exact boxes)\n"
         "  morlane recognize FILE [--json]    the recognised shafts with their sections and "
         "grooves\n";
}

bool IsHeadlessCommand(const char* name) {
  if (!name) return false;
  for (const char* c : {"render", "convert", "info", "recognize"})
    if (!std::strcmp(name, c)) return true;
  return false;
}

int RunHeadless(int argc, char** argv) {
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  try {
    try {
      if (command == "render") return Render(args);
      if (command == "convert") return Convert(args);
      if (command == "info") return Info(args);
      if (command == "recognize") return Recognize(args);
    } catch (QZ::IException* e) {
      // An engine failure outside the model's own reporting: one line with its code.
      const int code = e ? e->GetCode() : 0;
      if (e) e->Release();
      throw Failure{command + ": the engine failed (code " + std::to_string(code) + ")"};
    }
  } catch (const UsageError& e) {
    std::fprintf(stderr, "morlane: %s\n%s", e.line.c_str(), Usage());
    return 2;
  } catch (const Failure& e) {
    std::fprintf(stderr, "morlane: %s\n", e.line.c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "morlane: %s: %s\n", command.c_str(), e.what());
    return 1;
  }
  return 2;
}

}  // namespace morlane
