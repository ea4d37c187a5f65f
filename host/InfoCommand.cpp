// morlane info FILE [--json] [--exact] [--progress]
// The model tree: names, types, colours (the parts' own and their sub-shapes'), placements and
// boxes, as lines or as JSON.
#include "Command.h"
#include "JsonWriter.h"

#include "model/TreeObject.h"
#include "model/elements/Shafts.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <unordered_map>

namespace morlane {

namespace {

namespace CAD = QZ::CAD;

std::string TypeOf(const CTreeObject& o) {
  if (dynamic_cast<const CNodeRoot*>(&o)) return "Model";
  if (dynamic_cast<const CShaft*>(&o)) return "Shaft";
  if (o.IsNode()) return "Node";
  const auto* leaf = dynamic_cast<const CObject3D*>(&o);
  const std::wstring t = leaf ? leaf->GetTypeName() : std::wstring();
  return t.empty() ? "Object3D" : Utf8(t);
}

// A box in model coordinates: (xmin, ymin, zmin, xmax, ymax, zmax), unset while nothing is in it.
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

void SubColoursJson(const SubColours& c, JsonWriter& json) {
  if (!c.any) {
    json.Null();
    return;
  }
  json.BeginObject(JsonWriter::Layout::Inline).Key("default");
  if (c.hasOwn)
    json.String(c.own);
  else
    json.Null();
  json.Key("opacity").Number(c.opacity);
  json.Key("solids").Integer(c.solids).Key("shells").Integer(c.shells);
  json.Key("faces").Integer(c.faces).Key("edges").Integer(c.edges);
  json.Key("others").Integer(c.others);
  json.Key("distinct").BeginArray(JsonWriter::Layout::Inline);
  for (const auto& d : c.distinct) json.String(d);
  json.End().Key("more").Bool(c.more).End();
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

void InfoJson(CTreeObject& o, BoxMode& mode, JsonWriter& json) {
  json.BeginObject(JsonWriter::Layout::Lines);
  json.Key("name").String(Utf8(o.GetName()));
  json.Key("type").String(TypeOf(o));
  const std::string colour = ColourText(o);
  json.Key("color");
  if (colour.empty())
    json.Null();
  else
    json.String(colour);
  if (!o.IsNode()) SubColoursJson(SubColoursOf(mode.colours, o), json.Key("colors"));
  const Matrix12 m = o.GetGlobalMatrix();
  json.Key("matrix").Numbers(m.data(), m.size());
  const Box box = BoxOf(o, mode);
  json.Key("box");
  if (box.set)
    json.Numbers(box.v.data(), box.v.size());
  else
    json.Null();
  if (auto* node = dynamic_cast<CNode*>(&o)) {
    json.Key("children").BeginArray(JsonWriter::Layout::Lines);
    for (const auto& child : node->GetChildren())
      if (child) InfoJson(*child, mode, json);
    json.End();
  }
  json.End();
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
  bool json = false, exact = false, progress = false;
  const std::vector<std::string> files =
      ParseOptions("info",
                   {{"--json", false, [&](const std::string&) { json = true; }},
                    {"--exact", false, [&](const std::string&) { exact = true; }},
                    {"--progress", false, [&](const std::string&) { progress = true; }}},
                   args);
  if (files.size() != 1) throw UsageError{"info wants FILE"};
  Session session;
  auto root = session.Read(files[0], false, WantsProgress(progress));
  BoxMode mode;
  if (!exact) mode.context = session.Context().Get();
  mode.colours = session.Context().Get();
  std::string out;
  if (json) {
    JsonWriter writer;
    InfoJson(*root, mode, writer);
    out = writer.Text() + "\n";
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

}  // namespace morlane
