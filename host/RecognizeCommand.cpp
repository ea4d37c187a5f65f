// morlane recognize FILE [--json]
// The shafts of a file: a model file's modelled shafts as the host records hold them and its
// other solids tried by the engine's recogniser; an exchange file's parts that the engine
// recognises while importing. Their sections and grooves, as lines or as JSON.
#include "Command.h"
#include "JsonWriter.h"

#include "model/ShaftRecognition.h"
#include "model/elements/Shafts.h"

#include <cstdio>

namespace morlane {

namespace {

namespace CAD = QZ::CAD;

struct FoundShaft {
  std::string name;
  qz_RecognizeShaft records;
  // What the records leave out (circular grooves' values), one per record.
  std::vector<RecognizeSectionExtensions> extensions;
};

FoundShaft Found(const std::wstring& name, const CShaft& shaft) {
  return {Utf8(name), RecognizeShaftRecord(shaft), RecognizeShaftExtension(shaft)};
}

// The shafts of the model: its modelled shafts as they are, and every other solid (not a
// section of one) tried by the engine's recogniser.
void Shafts(ICADContext* ctx, CTreeObject& o, CNode& scratch, std::vector<FoundShaft>& out) {
  if (auto* shaft = dynamic_cast<CShaft*>(&o)) {
    out.push_back(Found(shaft->GetName(), *shaft));
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
    out.push_back(Found(leaf->GetName(), *got));
}

struct GrooveFields {
  const char* kind;
  std::vector<std::pair<const char*, double>> values;
};

GrooveFields FieldsOf(const qz_RecognizeGroove& g) {
  switch (g.type) {
    case eRecognizeNotchChevron: return {"chevron notch", {{"x", g.notch.x}, {"t", g.notch.t}}};
    case eRecognizeGrooveRectangular:
      return {"rectangular groove",
              {{"x", g.rectangular.x},
               {"t", g.rectangular.t},
               {"r", g.rectangular.r},
               {"m", g.rectangular.m}}};
    case eRecognizeCrossHole:
      return {"cross hole",
              {{"x", g.crossHole.x},
               {"t", g.crossHole.t},
               {"r", g.crossHole.r},
               {"angle", g.crossHole.angle}}};
    case eRecognizeGrooveParallelKey:
      return {"parallel-key groove",
              {{"x", g.parallelKey.x},
               {"l", g.parallelKey.l},
               {"t", g.parallelKey.t},
               {"r", g.parallelKey.r},
               {"angle", g.parallelKey.angle}}};
    case eRecognizeSlots:
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

// The values of a groove beyond its host record, marked as such: a circular groove's (its record
// is of type none).
GrooveFields ExtensionOf(const RecognizeGrooveExtension& e) {
  if (e.type != eRecognizeEngineCircular) return {nullptr, {}};
  return {"circular groove", {{"x", e.circular.x}, {"t", e.circular.t}, {"r", e.circular.r}}};
}

const RecognizeGrooveExtension& ExtensionAt(const FoundShaft& shaft, size_t section,
                                            size_t groove) {
  static const RecognizeGrooveExtension none;
  if (section >= shaft.extensions.size() || groove >= shaft.extensions[section].size()) return none;
  return shaft.extensions[section][groove];
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
    for (size_t i = 0; i < shaft.records.size(); ++i) {
      const qz_RecognizeSection& s = shaft.records[i];
      out += "  section " + std::to_string(i + 1) + ":";
      for (const auto& [n, v] : SectionFields(s)) out += std::string(" ") + n + " " + Number(v);
      out += "\n";
      for (size_t k = 0; k < s.grooves.size(); ++k) {
        const qz_RecognizeGroove& g = s.grooves[k];
        const GrooveFields f = FieldsOf(g);
        out += "    groove type " + std::to_string(g.type) + " (" + f.kind + ")";
        for (const auto& [n, v] : f.values) out += std::string(" ") + n + " " + Number(v);
        out += "\n";
        // Beyond the record, on a line of its own: the record's line stays as the host reads it.
        const RecognizeGrooveExtension& e = ExtensionAt(shaft, i, k);
        const GrooveFields x = ExtensionOf(e);
        if (!x.kind) continue;
        out += "      extension: type " + std::to_string(e.type) + " (" + x.kind + ")";
        for (const auto& [n, v] : x.values) out += std::string(" ") + n + " " + Number(v);
        out += "\n";
      }
    }
  }
  return out;
}

std::string RecognizeJson(const std::vector<FoundShaft>& shafts) {
  using Layout = JsonWriter::Layout;
  JsonWriter json;
  json.BeginArray(Layout::Lines);
  for (const auto& shaft : shafts) {
    json.BeginObject(Layout::Lines).Key("name").String(shaft.name);
    json.Key("sections").BeginArray(Layout::Lines);
    for (size_t i = 0; i < shaft.records.size(); ++i) {
      const qz_RecognizeSection& s = shaft.records[i];
      json.BeginObject(Layout::Inline);
      for (const auto& [n, v] : SectionFields(s)) json.Key(n).Number(v);
      json.Key("grooves").BeginArray(Layout::Inline);
      for (size_t k = 0; k < s.grooves.size(); ++k) {
        const qz_RecognizeGroove& g = s.grooves[k];
        const GrooveFields f = FieldsOf(g);
        json.BeginObject(Layout::Inline).Key("type").Integer(g.type);
        for (const auto& [n, v] : f.values) json.Key(n).Number(v);
        // Beyond the record, in a member of its own: the record's members stay as they are.
        const RecognizeGrooveExtension& e = ExtensionAt(shaft, i, k);
        const GrooveFields x = ExtensionOf(e);
        if (x.kind) {
          json.Key("extension").BeginObject(Layout::Inline).Key("type").Integer(e.type);
          json.Key("kind").String(x.kind);
          for (const auto& [n, v] : x.values) json.Key(n).Number(v);
          json.End();
        }
        json.End();
      }
      json.End().End();
    }
    json.End().End();
  }
  return json.End().Text() + "\n";
}

}  // namespace

int RunRecognize(const std::vector<std::string>& args) {
  bool json = false;
  const std::vector<std::string> files = ParseOptions(
      "recognize", {{"--json", false, [&](const std::string&) { json = true; }}}, args);
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

}  // namespace morlane
