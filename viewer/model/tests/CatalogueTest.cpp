// The element catalogue: every type name's class with its parameters in order, the engine
// operation each one calls and the order of its arguments, bearings by kind, tooth profiles
// with their points, shafts with their sections and grooves.
#include "model/TreeObject.h"
#include "model/elements/Bearings.h"
#include "model/elements/Catalogue.h"
#include "model/elements/Gears.h"
#include "model/elements/Shafts.h"

#include "RecordingEngine.h"
#include "TreeTestEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

namespace {

using fake_engine::FakeContext;

constexpr double kPi = 3.14159265358979323846;

enum Kind { kDbl, kInt, kBool };

struct Param {
  const wchar_t* name;
  Kind kind;
};

struct Row {
  const wchar_t* type;
  int code;
  int caption;
  std::vector<Param> params;
  const char* call;
  std::vector<const wchar_t*> args;  // parameter names in the order of the call; "0" is zero
};

// From the catalogue's tables: type name, type code, caption, parameters in order, and the
// engine operation with its arguments.
const std::vector<Row>& Rows() {
  static const std::vector<Row> rows = {
      {L"Box", 3, 400, {{L"w", kDbl}, {L"h", kDbl}, {L"l", kDbl}}, "Box", {L"w", L"h", L"l"}},
      {L"Sphere", 4, 410, {{L"r", kDbl}}, "Sphere", {L"r"}},
      {L"Cylinder", 5, 420, {{L"r", kDbl}, {L"l", kDbl}}, "Cylinder", {L"r", L"l"}},
      {L"Cone", 6, 430, {{L"r1", kDbl}, {L"r2", kDbl}, {L"l", kDbl}}, "Cone", {L"r1", L"r2", L"l"}},
      {L"Torus", 7, 440, {{L"r1", kDbl}, {L"r2", kDbl}}, "Torus", {L"r1", L"r2"}},
      {L"Wedge",
       8,
       450,
       {{L"wb", kDbl}, {L"h", kDbl}, {L"l", kDbl}, {L"wt", kDbl}},
       "Wedge",
       {L"wb", L"h", L"l", L"wt"}},
      {L"HollowCylinder",
       9,
       460,
       {{L"dout", kDbl}, {L"din", kDbl}, {L"l", kDbl}},
       "HollowCylinder",
       {L"dout", L"din", L"l"}},
      {L"HollowCone",
       10,
       470,
       {{L"dout1", kDbl}, {L"dout2", kDbl}, {L"din1", kDbl}, {L"din2", kDbl}, {L"l", kDbl}},
       "HollowCone",
       {L"dout1", L"dout2", L"din1", L"din2", L"l"}},
      {L"PlanetCarrier",
       15,
       480,
       {{L"n", kInt}, {L"r", kDbl}, {L"l", kDbl}},
       "PlanetCarrier",
       {L"n", L"r", L"l"}},
      {L"RackGear",
       12,
       510,
       {{L"mn", kDbl}, {L"b", kDbl}, {L"h", kDbl}, {L"l", kDbl}},
       "RackGear",
       {L"mn", L"b", L"h", L"l"}},
      {L"ConeGear",
       13,
       520,
       {{L"z", kInt},
        {L"me", kDbl},
        {L"angle", kDbl},
        {L"db", kDbl},
        {L"dc", kDbl},
        {L"a", kDbl},
        {L"c", kDbl},
        {L"e", kDbl}},
       "ConeGear",
       {L"z", L"me", L"angle", L"db", L"dc", L"a", L"c", L"e"}},
      {L"GearExternal",
       0,
       491,
       {{L"z", kInt},
        {L"mn", kDbl},
        {L"b", kDbl},
        {L"alpha", kDbl},
        {L"beta", kDbl},
        {L"k", kDbl},
        {L"x", kDbl},
        {L"d", kDbl}},
       "ExternalGear",
       {L"z", L"mn", L"b", L"alpha", L"beta", L"k", L"x", L"d"}},
      {L"GearInternal",
       0,
       490,
       {{L"z", kInt},
        {L"mn", kDbl},
        {L"b", kDbl},
        {L"alpha", kDbl},
        {L"beta", kDbl},
        {L"k", kDbl},
        {L"x", kDbl},
        {L"d", kDbl}},
       "InternalGear",
       {L"z", L"mn", L"b", L"alpha", L"beta", L"k", L"x", L"d"}},
      {L"GearDoubleExternal",
       0,
       504,
       {{L"z", kInt},
        {L"mn", kDbl},
        {L"b", kDbl},
        {L"bn", kDbl},
        {L"alpha", kDbl},
        {L"beta", kDbl},
        {L"k", kDbl},
        {L"x", kDbl},
        {L"d", kDbl},
        {L"dn", kDbl}},
       "DoubleExternalGear",
       {L"z", L"mn", L"b", L"alpha", L"beta", L"k", L"x", L"d", L"bn", L"dn"}},
      {L"GearDoubleInternal",
       0,
       503,
       {{L"z", kInt},
        {L"mn", kDbl},
        {L"b", kDbl},
        {L"bn", kDbl},
        {L"alpha", kDbl},
        {L"beta", kDbl},
        {L"k", kDbl},
        {L"x", kDbl},
        {L"d", kDbl},
        {L"dn", kDbl}},
       "DoubleInternalGear",
       {L"z", L"mn", L"b", L"alpha", L"beta", L"k", L"x", L"d", L"bn", L"dn"}},
      {L"GearExternalToothProfile",
       0,
       491,
       {{L"z", kInt}, {L"b", kDbl}, {L"beta", kDbl}, {L"d", kDbl}, {L"spline", kBool}},
       "ExternalToothProfile",
       {L"z", L"b", L"beta", L"d", L"0", L"0"}},
      {L"GearInternalToothProfile",
       0,
       490,
       {{L"z", kInt}, {L"b", kDbl}, {L"beta", kDbl}, {L"d", kDbl}, {L"spline", kBool}},
       "InternalToothProfile",
       {L"z", L"b", L"beta", L"d", L"0", L"0"}},
      {L"GearDoubleExternalToothProfile",
       0,
       504,
       {{L"z", kInt},
        {L"b", kDbl},
        {L"bn", kDbl},
        {L"beta", kDbl},
        {L"d", kDbl},
        {L"dn", kDbl},
        {L"spline", kBool}},
       "DoubleExternalToothProfile",
       {L"z", L"b", L"beta", L"d", L"bn", L"dn"}},
      {L"GearDoubleInternalToothProfile",
       0,
       503,
       {{L"z", kInt},
        {L"b", kDbl},
        {L"bn", kDbl},
        {L"beta", kDbl},
        {L"d", kDbl},
        {L"dn", kDbl},
        {L"spline", kBool}},
       "DoubleInternalToothProfile",
       {L"z", L"b", L"beta", L"d", L"bn", L"dn"}},
      {L"BeamRect",
       17,
       530,
       {{L"h", kDbl}, {L"b", kDbl}, {L"l", kDbl}, {L"t", kDbl}},
       "Rectangular",
       {L"h", L"b", L"l", L"t"}},
      {L"BeamCircle",
       18,
       540,
       {{L"d", kDbl}, {L"l", kDbl}, {L"t", kDbl}},
       "Circular",
       {L"d", L"l", L"t"}},
      {L"BeamEllipse",
       18,
       550,
       {{L"d1", kDbl}, {L"d2", kDbl}, {L"l", kDbl}, {L"t", kDbl}},
       "Elliptical",
       {L"d1", L"d2", L"l", L"t"}},
      {L"BeamL",
       20,
       560,
       {{L"h", kDbl}, {L"b", kDbl}, {L"t", kDbl}, {L"r", kDbl}, {L"l", kDbl}},
       "BeamL",
       {L"h", L"b", L"t", L"r", L"l"}},
      {L"BeamZ",
       21,
       570,
       {{L"h", kDbl},
        {L"b", kDbl},
        {L"t", kDbl},
        {L"s", kDbl},
        {L"r1", kDbl},
        {L"r2", kDbl},
        {L"l", kDbl}},
       "BeamZ",
       {L"h", L"b", L"t", L"s", L"r1", L"r2", L"l"}},
      {L"BeamT",
       23,
       580,
       {{L"h", kDbl},
        {L"b", kDbl},
        {L"t", kDbl},
        {L"s", kDbl},
        {L"r1", kDbl},
        {L"r2", kDbl},
        {L"r3", kDbl},
        {L"l", kDbl},
        {L"taper", kBool}},
       "BeamT",
       {L"h", L"b", L"t", L"s", L"r1", L"r2", L"r3", L"l", L"taper"}},
      {L"BeamI",
       22,
       590,
       {{L"h", kDbl},
        {L"b", kDbl},
        {L"t", kDbl},
        {L"s", kDbl},
        {L"r1", kDbl},
        {L"r2", kDbl},
        {L"l", kDbl},
        {L"taper", kBool}},
       "BeamI",
       {L"h", L"b", L"t", L"s", L"r1", L"r2", L"l", L"taper"}},
      {L"BeamU",
       23,
       600,
       {{L"h", kDbl},
        {L"b", kDbl},
        {L"t", kDbl},
        {L"s", kDbl},
        {L"r1", kDbl},
        {L"r2", kDbl},
        {L"l", kDbl},
        {L"taper", kBool}},
       "BeamU",
       {L"h", L"b", L"t", L"s", L"r1", L"r2", L"l", L"taper"}},
      {L"BoltCarriage",
       25,
       720,
       {{L"d", kDbl},
        {L"b", kDbl},
        {L"ds", kDbl},
        {L"ls", kDbl},
        {L"d1", kDbl},
        {L"k", kDbl},
        {L"v", kDbl},
        {L"f", kDbl}},
       "BoltCarriage",
       {L"d", L"ds", L"ls", L"b", L"d1", L"v", L"f", L"k"}},
      {L"BoltEye",
       25,
       730,
       {{L"d", kDbl}, {L"b", kDbl}, {L"ls", kDbl}, {L"d1", kDbl}, {L"d2", kDbl}, {L"s", kDbl}},
       "BoltEye",
       {L"d", L"b", L"ls", L"d1", L"d2", L"s"}},
      {L"BoltHex",
       25,
       740,
       {{L"d", kDbl},
        {L"b", kDbl},
        {L"ds", kDbl},
        {L"ls", kDbl},
        {L"s", kDbl},
        {L"k", kDbl},
        {L"dw", kDbl},
        {L"c", kDbl}},
       "BoltHex",
       {L"s", L"k", L"c", L"dw", L"ls", L"b", L"ds", L"d"}},
      {L"BoltHexFlange",
       25,
       750,
       {{L"d", kDbl},
        {L"b", kDbl},
        {L"ds", kDbl},
        {L"ls", kDbl},
        {L"d1", kDbl},
        {L"s", kDbl},
        {L"k", kDbl}},
       "BoltHexFlange",
       {L"d", L"ds", L"ls", L"b", L"d1", L"k", L"s"}},
      {L"BoltHexSetDogCone",
       25,
       760,
       {{L"d", kDbl},
        {L"b", kDbl},
        {L"ds", kDbl},
        {L"ls", kDbl},
        {L"s", kDbl},
        {L"k", kDbl},
        {L"dp", kDbl},
        {L"zp", kDbl}},
       "BoltHexSetDogCone",
       {L"d", L"b", L"ds", L"ls", L"k", L"s", L"dp", L"zp"}},
      {L"BoltHexSetDogPoint",
       25,
       770,
       {{L"d", kDbl},
        {L"b", kDbl},
        {L"ds", kDbl},
        {L"ls", kDbl},
        {L"s", kDbl},
        {L"k", kDbl},
        {L"dp", kDbl},
        {L"zp", kDbl}},
       "BoltHexSetDogPoint",
       {L"d", L"b", L"ds", L"ls", L"k", L"s", L"dp", L"zp"}},
      {L"BoltHexSocket",
       25,
       780,
       {{L"d", kDbl},
        {L"b", kDbl},
        {L"ds", kDbl},
        {L"ls", kDbl},
        {L"d1", kDbl},
        {L"k", kDbl},
        {L"s", kDbl},
        {L"t", kDbl}},
       "BoltHexSocket",
       {L"d", L"ds", L"ls", L"b", L"d1", L"k", L"s", L"t"}},
      {L"BoltHexSocketCountersunk",
       25,
       790,
       {{L"d", kDbl},
        {L"b", kDbl},
        {L"ds", kDbl},
        {L"ls", kDbl},
        {L"d1", kDbl},
        {L"s", kDbl},
        {L"t", kDbl}},
       "BoltHexSocketCountersunk",
       {L"d", L"ds", L"ls", L"b", L"d1", L"s", L"t"}},
      {L"BoltU",
       25,
       800,
       {{L"d", kDbl}, {L"b", kDbl}, {L"ls", kDbl}, {L"d1", kDbl}},
       "BoltU",
       {L"d", L"b", L"ls", L"d1"}},
      {L"BoltRing",
       25,
       810,
       {{L"d", kDbl}, {L"b", kDbl}, {L"d1", kDbl}, {L"d2", kDbl}, {L"d3", kDbl}, {L"k", kDbl}},
       "BoltRing",
       {L"d", L"b", L"d1", L"d2", L"d3", L"k"}},
      {L"BoltT_Head",
       25,
       820,
       {{L"d", kDbl}, {L"b", kDbl}, {L"ls", kDbl}, {L"s1", kDbl}, {L"k", kDbl}},
       "BoltT_Head",
       {L"d", L"b", L"ls", L"s1", L"k"}},
      {L"BoltT_HeadSquareNeck",
       25,
       830,
       {{L"d", kDbl}, {L"b", kDbl}, {L"ls", kDbl}, {L"s1", kDbl}, {L"k", kDbl}},
       "BoltT_HeadSquareNeck",
       {L"d", L"b", L"ls", L"s1", L"k"}},
      {L"BoltSpigot",
       25,
       1000,
       {{L"d", kDbl},
        {L"b", kDbl},
        {L"ds", kDbl},
        {L"ls", kDbl},
        {L"d1", kDbl},
        {L"s", kDbl},
        {L"k", kDbl}},
       "BoltSpigot",
       {L"d", L"b", L"ds", L"ls", L"d1", L"s", L"k"}},
      {L"ScrewCheeseSlotted",
       0,
       840,
       {{L"d", kDbl}, {L"b", kDbl}, {L"d1", kDbl}, {L"k", kDbl}, {L"n", kDbl}, {L"t", kDbl}},
       "ScrewCheeseSlotted",
       {L"d", L"b", L"d1", L"k", L"n", L"t"}},
      {L"ScrewPanSlotted",
       0,
       850,
       {{L"d", kDbl}, {L"b", kDbl}, {L"d1", kDbl}, {L"k", kDbl}, {L"n", kDbl}, {L"t", kDbl}},
       "ScrewPanSlotted",
       {L"d", L"b", L"d1", L"k", L"n", L"t"}},
      {L"ScrewCountersunkSlotted",
       0,
       860,
       {{L"d", kDbl}, {L"b", kDbl}, {L"d1", kDbl}, {L"n", kDbl}, {L"t", kDbl}},
       "ScrewCountersunkSlotted",
       {L"d", L"b", L"d1", L"n", L"t"}},
      {L"ScrewCountersunkRaisedSlotted",
       0,
       870,
       {{L"d", kDbl}, {L"b", kDbl}, {L"d1", kDbl}, {L"k", kDbl}, {L"n", kDbl}, {L"t", kDbl}},
       "ScrewCountersunkRaisedSlotted",
       {L"d", L"b", L"d1", L"k", L"n", L"t"}},
      {L"ScrewFillisterCrossRecessed",
       0,
       880,
       {{L"d", kDbl}, {L"b", kDbl}, {L"d1", kDbl}, {L"k", kDbl}, {L"a", kDbl}, {L"n", kDbl}},
       "ScrewFillisterCrossRecessed",
       {L"d", L"b", L"d1", L"a", L"n", L"k"}},
      {L"ScrewCountersunkCrossRecessed",
       0,
       890,
       {{L"d", kDbl}, {L"b", kDbl}, {L"d1", kDbl}, {L"a", kDbl}, {L"n", kDbl}},
       "ScrewCountersunkCrossRecessed",
       {L"d", L"b", L"d1", L"a", L"n"}},
      {L"ScrewCountersunkRaisedCrossRecessed",
       0,
       900,
       {{L"d", kDbl}, {L"b", kDbl}, {L"d1", kDbl}, {L"k", kDbl}, {L"a", kDbl}, {L"n", kDbl}},
       "ScrewCountersunkRaisedCrossRecessed",
       {L"d", L"b", L"d1", L"a", L"n", L"k"}},
      {L"ScrewHexSocketButton",
       0,
       910,
       {{L"d", kDbl}, {L"b", kDbl}, {L"d1", kDbl}, {L"s", kDbl}, {L"t", kDbl}},
       "ScrewHexSocketButton",
       {L"d", L"b", L"d1", L"s", L"t"}},
      {L"ScrewCountersunkSquareNeck",
       0,
       920,
       {{L"d", kDbl}, {L"b", kDbl}, {L"d1", kDbl}, {L"v", kDbl}, {L"f", kDbl}},
       "ScrewCountersunkSquareNeck",
       {L"d", L"b", L"d1", L"v", L"f"}},
      {L"ScrewSquareCollar",
       0,
       930,
       {{L"d", kDbl},
        {L"b", kDbl},
        {L"ds", kDbl},
        {L"ls", kDbl},
        {L"s", kDbl},
        {L"k", kDbl},
        {L"d1", kDbl},
        {L"c", kDbl}},
       "ScrewSquareCollar",
       {L"d", L"b", L"ds", L"ls", L"s", L"k", L"d1", L"c"}},
      {L"ScrewThumb",
       0,
       940,
       {{L"d", kDbl}, {L"b", kDbl}, {L"ds", kDbl}, {L"ls", kDbl}, {L"d1", kDbl}, {L"k", kDbl}},
       "ScrewThumb",
       {L"d", L"b", L"ds", L"ls", L"d1", L"k"}},
      {L"ScrewSetSlottedDogPoint",
       0,
       950,
       {{L"d", kDbl}, {L"b", kDbl}, {L"dp", kDbl}, {L"zp", kDbl}, {L"n", kDbl}, {L"t", kDbl}},
       "ScrewSetSlottedDogPoint",
       {L"d", L"b", L"dp", L"zp", L"n", L"t"}},
      {L"ScrewSetSlottedConePoint",
       0,
       960,
       {{L"d", kDbl}, {L"b", kDbl}, {L"n", kDbl}, {L"t", kDbl}},
       "ScrewSetSlottedConePoint",
       {L"d", L"b", L"n", L"t"}},
      {L"ScrewSetHexSocketDogPoint",
       0,
       970,
       {{L"d", kDbl}, {L"b", kDbl}, {L"dp", kDbl}, {L"zp", kDbl}, {L"s", kDbl}, {L"t", kDbl}},
       "ScrewSetHexSocketDogPoint",
       {L"d", L"b", L"dp", L"zp", L"s", L"t"}},
      {L"ScrewSetHexSocketConePoint",
       0,
       980,
       {{L"d", kDbl}, {L"b", kDbl}, {L"s", kDbl}, {L"t", kDbl}},
       "ScrewSetHexSocketConePoint",
       {L"d", L"b", L"s", L"t"}},
      {L"StudDoubleEnd",
       0,
       990,
       {{L"d", kDbl}, {L"b1", kDbl}, {L"b2", kDbl}, {L"ls", kDbl}, {L"ds", kDbl}},
       "StudDoubleEnd",
       {L"d", L"b1", L"b2", L"ds", L"ls"}},
  };
  return rows;
}

struct Fixture : ::testing::Test {
  void SetUp() override {
    SetBuildErrorReporter([this](const std::wstring& m) { messages.push_back(m); });
    context = new FakeContext();
    root = std::make_shared<CNodeRoot>();
    root->SetContext(QZ::ObjPtr<ICADContext>::Share(context));
  }
  void TearDown() override {
    root.reset();
    context->Release();
    SetBuildErrorReporter(nullptr);
  }
  const fake_engine::Call* Last() const { return context->rec.Last(); }
  FakeContext* context = nullptr;
  std::shared_ptr<CNodeRoot> root;
  std::vector<std::wstring> messages;
};

std::vector<std::wstring> NamesOf(const CGeometry& g) {
  std::vector<std::wstring> names;
  for (const auto& p : g.GetPropertyList()) names.push_back(p->GetName());
  return names;
}

}  // namespace

TEST_F(Fixture, EveryTypeNameMakesItsClassWithItsParametersInOrder) {
  int count = 0;
  const ElementType* types = ElementTypes(count);
  ASSERT_EQ(count, 58);
  EXPECT_STREQ(types[0].typeName, L"Box");
  EXPECT_STREQ(types[57].typeName, L"Bearing");
  for (const Row& row : Rows()) {
    SCOPED_TRACE(testing::Message() << std::string(row.type, row.type + wcslen(row.type)));
    std::shared_ptr<CObject3D> e = CreateElement(row.type);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->GetTypeName(), row.type);
    EXPECT_EQ(e->GetType(), row.code);
    EXPECT_EQ(e->GetCaption(), CProperty::TextOf(row.caption));
    std::vector<std::wstring> want = {L"Name", L"Color"};
    for (const Param& p : row.params) want.push_back(p.name);
    EXPECT_EQ(NamesOf(*e), want);
    for (const Param& p : row.params) {
      const CVariant v = e->GetValue(p.name);
      switch (p.kind) {
        case kDbl: EXPECT_EQ(v, CVariant(0.0)); break;
        case kInt: EXPECT_EQ(v, CVariant(0)); break;
        case kBool: EXPECT_EQ(v, CVariant(false)); break;
      }
      // Labels are the parameter names in the shipped texts.
      EXPECT_EQ(e->FindProperty(p.name)->GetLabel(), p.name);
    }
    // Type names compare without regard to case.
    std::wstring lower = row.type;
    for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(c));
    ASSERT_TRUE(CreateElement(lower));
    EXPECT_EQ(CreateElement(lower)->GetTypeName(), row.type);
  }
  EXPECT_FALSE(CreateElement(L"Gear"));
  EXPECT_FALSE(CreateElement(L""));
}

// Every parameter the catalogue makes, walked from the catalogue itself (every type, every
// bearing kind, every groove, a profile's point), shows a label from the texts: its own name,
// but for the bearing's B ("b") and the section ends; a label number without a default text
// shows an empty label. Section and groove parameters carry their descriptions.
TEST_F(Fixture, EveryParameterOfTheCatalogueShowsItsLabel) {
  const std::map<std::wstring, std::wstring> otherLabels = {
      {L"B", L"b"}, {L"lch1", L"c1 (r1)"}, {L"lch2", L"c2 (r2)"}};
  int checked = 0;
  auto expectLabels = [&](const CGeometry& g, const std::wstring& what, bool described) {
    SCOPED_TRACE(testing::Message() << std::string(what.begin(), what.end()));
    for (const auto& p : g.GetPropertyList()) {
      const std::wstring name = p->GetName();
      if (name == L"Name" || name == L"Color") continue;
      ++checked;
      const auto other = otherLabels.find(name);
      EXPECT_EQ(p->GetLabel(), other == otherLabels.end() ? name : other->second)
          << std::string(name.begin(), name.end());
      // A rectangular groove's m and the slots' d have no description.
      const bool none =
          (what == L"GrooveRectangular" && name == L"m") || (what == L"Slots" && name == L"d");
      if (described && !none) {
        EXPECT_FALSE(p->GetDescription().empty()) << std::string(name.begin(), name.end());
      }
      if (!described || none) {
        EXPECT_TRUE(p->GetDescription().empty()) << std::string(name.begin(), name.end());
      }
    }
  };
  int count = 0;
  const ElementType* types = ElementTypes(count);
  for (int i = 0; i < count; ++i) {
    auto e = types[i].make();
    ASSERT_TRUE(e) << i;
    expectLabels(*e, types[i].typeName, e->GetTypeName() == L"ShaftSection");
    EXPECT_FALSE(e->GetCaption().empty()) << i;
  }
  int kinds = 0;
  const BearingKind* kind = BearingKinds(kinds);
  for (int k = 0; k < kinds; ++k) {
    auto b = CreateElement(std::wstring(L"Bearing") + kind[k].name);
    ASSERT_TRUE(b) << k;
    expectLabels(*b, b->GetTypeName(), false);
    // The kind's name follows "Bearing: ".
    EXPECT_GT(b->GetCaption().size(), std::wstring(L"Bearing: ").size()) << k;
  }
  CShaftSection section;
  for (const wchar_t* groove : {L"GrooveRectangular", L"GrooveCircular", L"NotchChevron",
                                L"CrossHole", L"GrooveParallelKey", L"Slots"}) {
    auto g = section.AddGroove(groove);
    ASSERT_TRUE(g);
    expectLabels(*g, groove, true);
    EXPECT_FALSE(g->GetCaption().empty());
  }
  CGearExtToothProfile profile;
  expectLabels(*profile.AddPoint(), L"point", false);
  // 333 parameters in the element types, 3 for each bearing kind, 24 in the grooves, 2 in the
  // point.
  EXPECT_EQ(checked, 333 + 3 * kinds + 24 + 2);
}

TEST_F(Fixture, EachElementCallsItsEngineOperationWithItsParametersInTheEngineOrder) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(testing::Message() << std::string(row.type, row.type + wcslen(row.type)));
    std::shared_ptr<CObject3D> e = CreateElement(row.type);
    ASSERT_TRUE(e);
    // Distinct values for every parameter.
    std::vector<std::pair<std::wstring, double>> values;
    int i = 0;
    for (const Param& p : row.params) {
      ++i;
      switch (p.kind) {
        case kDbl:
          e->SetValue(p.name, CVariant(1.5 + i));
          values.push_back({p.name, 1.5 + i});
          break;
        case kInt:
          e->SetValue(p.name, CVariant(3 + i));
          values.push_back({p.name, 3.0 + i});
          break;
        case kBool:
          e->SetValue(p.name, CVariant(true));
          values.push_back({p.name, 1.0});
          break;
      }
    }
    ASSERT_TRUE(root->AddChild(e));
    const fake_engine::Call* call = Last();
    ASSERT_TRUE(call);
    EXPECT_EQ(call->name, row.call);
    std::vector<double> want;
    for (const wchar_t* a : row.args) {
      double v = 0;
      for (const auto& [name, value] : values)
        if (name == a) v = value;
      want.push_back(v);
    }
    EXPECT_EQ(call->args, want);
    EXPECT_TRUE(e->GetShape());
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(Fixture, BearingsBuildByKindAndTheirCaptionNamesTheKind) {
  auto plain = std::dynamic_pointer_cast<CBearing>(CreateElement(L"Bearing"));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->GetKind(), 0);
  EXPECT_EQ(plain->GetCaption(), L"Bearing: Sliding");
  EXPECT_EQ(plain->GetType(), 14);
  // The third parameter is B, labelled b, and found by b.
  EXPECT_EQ(plain->FindProperty(L"B")->GetLabel(), L"b");
  plain->SetValue(L"dout", CVariant(52.0));
  plain->SetValue(L"din", CVariant(25.0));
  plain->SetValue(L"b", CVariant(15.0));
  ASSERT_TRUE(root->AddChild(plain));
  ASSERT_TRUE(Last());
  EXPECT_EQ(Last()->name, "SlidingBearing");
  EXPECT_EQ(Last()->args, (std::vector<double>{52, 25, 15}));

  struct KindCase {
    const wchar_t* type;
    int kind;
    const char* call;
    double rollingType;
    const wchar_t* caption;
  };
  for (const KindCase& k : std::vector<KindCase>{
           {L"BearingRoller", 1, "RollerBearing", -1, L"Bearing: Roller"},
           {L"BearingSingleRowDeepGrooveBall", 2, "RollingBearing", 0,
            L"Bearing: Single row deep groove ball"},
           {L"BearingTaperedRoller", 14, "RollingBearing", 12, L"Bearing: Tapered roller"},
           {L"BearingSphericalRollerThrust", 19, "RollingBearing", 17,
            L"Bearing: Spherical roller thrust"},
           {L"BearingNeedleRoller", 20, "RollingBearing", 18, L"Bearing: Needle roller"},
       }) {
    auto b = std::dynamic_pointer_cast<CBearing>(CreateElement(k.type));
    ASSERT_TRUE(b);
    EXPECT_EQ(b->GetKind(), k.kind);
    EXPECT_EQ(b->GetCaption(), k.caption);
    b->SetValue(L"dout", CVariant(100.0));
    b->SetValue(L"din", CVariant(50.0));
    b->SetValue(L"B", CVariant(20.0));
    ASSERT_TRUE(root->AddChild(b));
    EXPECT_EQ(Last()->name, k.call);
    std::vector<double> want = {100, 50, 20};
    if (k.rollingType >= 0) want.push_back(k.rollingType);
    EXPECT_EQ(Last()->args, want);
  }
  // The prefix is compared with case, and must start the type.
  EXPECT_FALSE(CreateElement(L"XBearing"));
  EXPECT_FALSE(CreateElement(L"bearingRoller"));
  // A kind outside 0 to 20 has no kind text and keeps the solid it has.
  CBearing odd;
  odd.SetKind(21);
  EXPECT_EQ(odd.GetCaption(), L"Bearing: ");
  int n = 0;
  BearingKinds(n);
  EXPECT_EQ(n, 21);
  EXPECT_EQ(BearingKindOfType(L"Bearing"), -1);
  EXPECT_EQ(BearingKindOfType(L"BearingDoubleDirectionCylindricalRollerThrust"), 18);
  auto kept = std::make_shared<CBearing>();
  kept->SetValue(L"dout", CVariant(10.0));
  ASSERT_TRUE(root->AddChild(kept));
  const size_t calls = context->rec.calls.size();
  kept->SetKind(-3);
  kept->Update();
  EXPECT_EQ(context->rec.calls.size(), calls);
  EXPECT_TRUE(kept->GetShape());
}

TEST_F(Fixture, ToothProfilesPassTheirPointsInRadiansAndShowThemAsGroups) {
  auto gear = std::make_shared<CGearExtToothProfile>();
  gear->SetValue(L"z", CVariant(12));
  gear->SetValue(L"b", CVariant(8.0));
  gear->SetValue(L"spline", CVariant(true));
  auto p1 = gear->AddPoint();
  p1->SetValue(L"r", CVariant(20.0));
  p1->SetValue(L"angle", CVariant(90.0));
  auto p2 = gear->AddPoint();
  p2->SetValue(L"r", CVariant(22.0));
  p2->SetValue(L"angle", CVariant(-45.0));
  EXPECT_EQ(p1->GetCaption(), L"Point of profile");
  EXPECT_EQ(NamesOf(*p1), (std::vector<std::wstring>{L"r", L"angle"}));
  EXPECT_EQ(p1->FindProperty(L"r")->GetOwner(), gear.get());
  ASSERT_TRUE(root->AddChild(gear));
  const auto& calls = context->rec.calls;
  ASSERT_GE(calls.size(), 4u);
  const size_t n = calls.size();
  EXPECT_EQ(calls[n - 4].name, "AddPoint");
  EXPECT_EQ(calls[n - 4].args[0], 20.0);
  EXPECT_DOUBLE_EQ(calls[n - 4].args[1], kPi / 2);
  EXPECT_EQ(calls[n - 3].name, "AddPoint");
  EXPECT_DOUBLE_EQ(calls[n - 3].args[1], -kPi / 4);
  EXPECT_EQ(calls[n - 2].name, "SetSpline");
  EXPECT_EQ(calls[n - 2].args[0], 1.0);
  EXPECT_EQ(calls[n - 1].name, "ExternalToothProfile");
  EXPECT_EQ(calls[n - 1].args[0], 12.0);
  EXPECT_EQ(context->gears.pointListsAlive, 0);  // the point list was released

  auto top = std::static_pointer_cast<CPropertyGroup>(gear->GetProperties());
  ASSERT_EQ(top->GetChildCount(), 1);
  auto inner = std::static_pointer_cast<CPropertyGroup>(top->GetChild(0));
  EXPECT_EQ(inner->GetLabel(), L"External gear");
  // Name, Color, z, b, beta, d, spline, then one group per point.
  ASSERT_EQ(inner->GetChildCount(), 9);
  auto g1 = inner->GetChild(7);
  ASSERT_EQ(g1->GetKind(), CProperty::eKindGroup);
  EXPECT_EQ(g1->GetLabel(), L"Point of profile");
  auto pg = std::static_pointer_cast<CPropertyGroup>(g1);
  ASSERT_EQ(pg->GetChildCount(), 2);
  EXPECT_EQ(pg->GetChild(0)->GetName(), L"r");
  EXPECT_EQ(pg->GetChild(1)->GetOwner(), gear.get());
  EXPECT_EQ(pg->GetChild(0).get(), p1->FindProperty(L"r").get());

  // The plain bases show caption 392 and build nothing.
  CGearToothProfile base;
  EXPECT_EQ(base.GetCaption(), CProperty::TextOf(392));
  CGear plainGear;
  EXPECT_EQ(plainGear.GetCaption(), L"Object 3D");
  EXPECT_EQ(plainGear.GetType(), 0);
}

TEST_F(Fixture, ShaftSectionsShareTheShaftBuilderUntilTheShaftIsRebuilt) {
  auto shaft = std::make_shared<CShaft>();
  EXPECT_EQ(shaft->GetType(), 2);
  EXPECT_EQ(shaft->GetCaption(), L"Shaft");
  EXPECT_TRUE(shaft->IsNode());
  EXPECT_STREQ(shaft->GetArchiveTag(), "Node");
  EXPECT_FALSE(shaft->GetShaftBuilder());  // no context yet
  ASSERT_TRUE(root->AddChild(shaft));

  auto s1 = std::make_shared<CShaftSection>();
  const wchar_t* names[] = {L"pos", L"dout1", L"dout2", L"din1", L"din2", L"l", L"lch1", L"lch2"};
  double v = 1;
  for (const wchar_t* n : names) s1->SetValue(n, CVariant(v++));
  auto rect = s1->AddGrooveRectangular();
  rect->SetValue(L"x", CVariant(1.0));
  rect->SetValue(L"m", CVariant(2.0));
  rect->SetValue(L"t", CVariant(3.0));
  rect->SetValue(L"r", CVariant(4.0));
  auto slots = std::dynamic_pointer_cast<CSlots>(s1->AddGroove(L"slots"));
  ASSERT_TRUE(slots);
  slots->SetValue(L"n", CVariant(6.0));
  slots->SetValue(L"wout", CVariant(9.0));
  auto key = s1->AddGroove(L"GROOVEPARALLELKEY");
  ASSERT_TRUE(key);
  key->SetValue(L"angle", CVariant(30.0));
  EXPECT_FALSE(s1->AddGroove(L"Keyway"));
  ASSERT_EQ(s1->GetGrooves().size(), 3u);
  EXPECT_EQ(rect->GetSection(), s1.get());
  EXPECT_EQ(rect->FindProperty(L"x")->GetOwner(), s1.get());
  EXPECT_EQ(rect->FindProperty(L"x")->GetDescription(), CProperty::TextOf(1105));

  ASSERT_TRUE(shaft->AddChild(s1));
  auto s2 = std::make_shared<CShaftSection>();
  s2->SetValue(L"pos", CVariant(8.0));
  ASSERT_TRUE(shaft->AddChild(s2));

  auto& calls = context->rec.calls;
  std::vector<std::string> order;
  for (const auto& c : calls) order.push_back(c.name);
  EXPECT_EQ(order,
            (std::vector<std::string>{"NewShaftBuilder", "AddSection", "AddGrooveRectangular",
                                      "AddSlots", "AddGrooveParallelKey", "AddSection"}));
  EXPECT_EQ(calls[1].args, (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 1}));
  EXPECT_EQ(calls[2].args, (std::vector<double>{1, 2, 3, 4}));
  EXPECT_EQ(calls[3].args, (std::vector<double>{0, 0, 6, 0, 0, 9}));
  EXPECT_EQ(calls[4].args, (std::vector<double>{0, 0, 0, 0, 30}));
  EXPECT_EQ(calls[5].args.back(), 1.0);  // the same builder

  // Rebuilding the shaft starts a new builder and re-adds every section in order.
  calls.clear();
  shaft->Update();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, "NewShaftBuilder");
  EXPECT_EQ(calls[1].name, "AddSection");
  EXPECT_EQ(calls[1].args.back(), 2.0);
  EXPECT_EQ(calls.back().name, "AddSection");
  EXPECT_EQ(calls.back().args[0], 8.0);

  // A section outside a shaft builds nothing.
  calls.clear();
  auto group = std::make_shared<CNode>();
  ASSERT_TRUE(root->AddChild(group));
  auto lone = std::make_shared<CShaftSection>();
  ASSERT_TRUE(group->AddChild(lone));
  EXPECT_TRUE(calls.empty());
  EXPECT_FALSE(lone->GetShape());

  // The property tree holds one group per groove, captioned with the groove's caption.
  auto top = std::static_pointer_cast<CPropertyGroup>(s1->GetProperties());
  auto inner = std::static_pointer_cast<CPropertyGroup>(top->GetChild(0));
  EXPECT_EQ(inner->GetLabel(), L"Shaft section");
  ASSERT_EQ(inner->GetChildCount(), 2 + 8 + 3);
  EXPECT_EQ(inner->GetChild(10)->GetLabel(), L"Groove rectangular");
  EXPECT_EQ(inner->GetChild(11)->GetLabel(), L"Slots");
  EXPECT_EQ(inner->GetChild(12)->GetLabel(), L"Groove parallel key");
  EXPECT_EQ(inner->GetChild(10)->GetOwner(), s1.get());
  auto slotGroup = std::static_pointer_cast<CPropertyGroup>(inner->GetChild(11));
  ASSERT_EQ(slotGroup->GetChildCount(), 6);
  EXPECT_EQ(slotGroup->GetChild(2)->GetName(), L"n");
  EXPECT_EQ(slotGroup->GetChild(2)->GetDescription(), L"Number of slots");

  // Groove codes follow the section solid's operations.
  CShaftSection s;
  std::vector<int> codes;
  codes.push_back(s.AddGrooveRectangular()->GetGrooveType());
  codes.push_back(s.AddNotchChevron()->GetGrooveType());
  codes.push_back(s.AddGrooveCircular()->GetGrooveType());
  codes.push_back(s.AddCrossHole()->GetGrooveType());
  codes.push_back(s.AddGrooveParallelKey()->GetGrooveType());
  codes.push_back(s.AddSlots()->GetGrooveType());
  EXPECT_EQ(codes, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(s.GetGrooves()[1]->GetCaption(), L"Notch chevron");
  EXPECT_EQ(s.GetGrooves()[3]->GetCaption(), L"Cross hole");
}

TEST_F(Fixture, AParameterThatDoesNotConvertIsReportedAndTheElementStays) {
  auto gear = CreateElement(L"GearExternal");
  gear->SetValue(L"z", CVariant(L"many"));
  EXPECT_TRUE(root->AddChild(gear));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find(L"Invalid parameter"), std::wstring::npos);
  EXPECT_FALSE(gear->GetShape());
  // A negative tooth count does not become a huge unsigned one.
  auto other = CreateElement(L"GearExternal");
  other->SetValue(L"z", CVariant(-5));
  EXPECT_TRUE(root->AddChild(other));
  EXPECT_EQ(messages.size(), 2u);
}

TEST(ElementsWithTheRealEngine, CatalogueElementsBuildValidSolids) {
  auto context = tree_test::NewEngineContext();
  ASSERT_TRUE(context);
  std::vector<std::wstring> messages;
  SetBuildErrorReporter([&](const std::wstring& m) { messages.push_back(m); });
  auto root = std::make_shared<CNodeRoot>();
  root->SetContext(context);
  auto gear = CreateElement(L"GearExternal");
  gear->SetValue(L"z", CVariant(20));
  gear->SetValue(L"mn", CVariant(2.0));
  gear->SetValue(L"b", CVariant(10.0));
  gear->SetValue(L"alpha", CVariant(20.0));
  gear->SetValue(L"d", CVariant(10.0));
  ASSERT_TRUE(root->AddChild(gear));
  ASSERT_TRUE(gear->GetShape());
  EXPECT_TRUE(gear->GetShape()->IsValid());
  double box[6];
  ASSERT_TRUE(gear->GetShape()->GetBoundingBox(box));
  EXPECT_NEAR(box[3], 22.0, 1e-6);  // tip radius r + mn
  // Impossible parameters: an engine error reported for the element, which stays.
  auto bad = CreateElement(L"GearExternal");
  bad->SetValue(L"z", CVariant(2));
  bad->SetValue(L"mn", CVariant(2.0));
  bad->SetValue(L"b", CVariant(10.0));
  bad->SetValue(L"alpha", CVariant(20.0));
  EXPECT_TRUE(root->AddChild(bad));
  EXPECT_FALSE(bad->GetShape());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find(L"Invalid parameter"), std::wstring::npos);
  SetBuildErrorReporter(nullptr);
}
