// Recognised shafts in the model tree and the host records of modelled shafts: results of the
// real engine for shafts the catalogue builds, and hand-made results for the rules.
#include "model/ShaftRecognition.h"
#include "model/elements/Shafts.h"
#include "model/tests/TreeTestEngine.h"
#include "testing/TestFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

using QZ::ObjPtr;
using tree_test::NewEngineContext;
namespace CAD = QZ::CAD;

constexpr COLORREF kGreen = 0x00008000, kRed = 0x000000FF;

// Hand-made engine results (objects on the stack: references are not counted).
struct FakeGroove final : CAD::IRecognizeGroove {
  explicit FakeGroove(int t) : type(t) {}
  int type;
  void AddRef() override {}
  void Release() override {}
  int GetType() override { return type; }
  void* GetNotch(CAD::RecognizeNotchBlock* b) override { return *b = {1, 2}, b; }
  void* GetRectangular(CAD::RecognizeRectangularBlock* b) override {
    return *b = {1, 2, 0.5, 4}, b;
  }
  void* GetCrossHole(CAD::RecognizeCrossHoleBlock* b) override { return *b = {1, 2, 3, 4}, b; }
  void* GetParallelKey(CAD::RecognizeParallelKeyBlock* b) override {
    return *b = {1, 2, 3, 4, 5}, b;
  }
  void* GetSlots(CAD::RecognizeSlotsBlock* b) override { return *b = {1, 2, 7, 4, 5, 6}, b; }
  void* GetCircular(CAD::RecognizeCircularBlock* b) override { return *b = {1, 2, 3}, b; }
};
struct FakeSection final : CAD::IRecognizeSection {
  std::array<double, 8> v{};
  std::vector<FakeGroove> grooves;
  void AddRef() override {}
  void Release() override {}
  int GetGrooveCount() override { return static_cast<int>(grooves.size()); }
  CAD::IRecognizeGroove* GetGroove(int i) override { return &grooves[static_cast<size_t>(i)]; }
  double* GetValues(double* out) override {
    std::copy(v.begin(), v.end(), out);
    return out;
  }
  void SetValues(double a, double b, double c, double d, double e, double f, double g,
                 double h) override {
    v = {a, b, c, d, e, f, g, h};
  }
};
struct FakeShaft final : CAD::IRecognizeShaft {
  std::vector<FakeSection> sections;
  void AddRef() override {}
  void Release() override {}
  double* GetMatrix(double* out) override {
    Matrix12 m = IdentityMatrix12();
    m[11] = 7;
    std::copy(m.begin(), m.end(), out);
    return out;
  }
  int GetSectionCount() override { return static_cast<int>(sections.size()); }
  CAD::IRecognizeSection* GetSection(int i) override { return &sections[static_cast<size_t>(i)]; }
};

FakeSection Section(double pos, std::vector<int> grooveTypes = {}) {
  FakeSection s;
  s.v = {pos, 40, 40, 0, 0, 50, -1, 2};
  for (int t : grooveTypes) s.grooves.emplace_back(t);
  return s;
}

class RecognitionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx = NewEngineContext();
    ASSERT_TRUE(ctx);
    root = std::make_shared<CNodeRoot>();
    root->SetContext(ctx);
    SetBuildErrorReporter([this](const std::wstring& m) { messages.push_back(m); });
  }
  void TearDown() override {
    SetBuildErrorReporter(nullptr);
    SetRecognizedShaftBuilder(BuildRecognizedShaft);  // the default again
  }
  static COLORREF ColorOf(const CTreeObject& o) {
    return o.FindColorProperty(L"Color")->GetColor();
  }
  static std::shared_ptr<CShaftSection> SectionAt(const CNode& shaft, int i) {
    return std::dynamic_pointer_cast<CShaftSection>(shaft.GetChild(i));
  }

  // A modelled shaft with sections of the given (pos, dout, l) under root; pos is the distance
  // from the end of the section before (0: the sections adjoin).
  std::shared_ptr<CShaft> ModelShaft(const std::vector<std::array<double, 3>>& sections) {
    auto shaft = std::make_shared<CShaft>();
    root->AddChild(shaft);
    for (const auto& [pos, d, l] : sections) {
      auto s = std::make_shared<CShaftSection>();
      for (auto [n, v] : {std::pair{L"pos", pos}, {L"dout1", d}, {L"dout2", d}, {L"l", l}})
        s->SetValue(n, CVariant(v));
      shaft->AddChild(s);
    }
    return shaft;
  }

  ObjPtr<ICADContext> ctx;
  std::shared_ptr<CNodeRoot> root;
  std::vector<std::wstring> messages;
};

TEST_F(RecognitionTest, ColoursPositionsAndStatesOfAResult) {
  FakeShaft r;
  r.sections = {Section(0), Section(0), Section(5)};
  RecognizeState state = eRecognizeNoneAtZero;
  auto built = BuildRecognizedShaft(ObjPtr<CAD::IRecognizeShaft>::Share(&r), *root,
                                    IdentityMatrix12(), &state);
  auto shaft = std::dynamic_pointer_cast<CShaft>(built);
  ASSERT_TRUE(shaft);
  EXPECT_EQ(root->GetChild(0), built);
  ASSERT_EQ(shaft->GetChildCount(), 3);
  EXPECT_EQ(ColorOf(*shaft->GetChild(0)), kGreen);
  EXPECT_EQ(ColorOf(*shaft->GetChild(1)), kGreen);
  EXPECT_EQ(ColorOf(*shaft->GetChild(2)), kRed);
  EXPECT_EQ(r.sections[2].v[0], 0);  // written back at position 0
  EXPECT_EQ(SectionAt(*shaft, 2)->GetValue(L"pos").ToDouble(), 0);
  EXPECT_EQ(state, eRecognizeSomeAtZero);
  // Every section at the result's placement, with its values and end labels.
  EXPECT_EQ(shaft->GetChild(1)->GetMatrix()[11], 7);
  EXPECT_EQ(SectionAt(*shaft, 0)->FindStandardProperty(L"lch1")->GetLabel(), L"c1 x 45\u00B0");
  EXPECT_EQ(SectionAt(*shaft, 0)->FindStandardProperty(L"lch2")->GetLabel(), L"r2");
  EXPECT_EQ(SectionAt(*shaft, 0)->GetValue(L"l").ToDouble(), 50);

  r.sections = {Section(0), Section(0)};
  BuildRecognizedShaft(ObjPtr<CAD::IRecognizeShaft>::Share(&r), *root, IdentityMatrix12(), &state);
  EXPECT_EQ(state, eRecognizeAllAtZero);
  r.sections = {Section(3), Section(5)};
  BuildRecognizedShaft(ObjPtr<CAD::IRecognizeShaft>::Share(&r), *root, IdentityMatrix12(), &state);
  EXPECT_EQ(state, eRecognizeNoneAtZero);
}

TEST_F(RecognitionTest, EngineGroovesBecomeSectionGrooves) {
  FakeShaft r;
  r.sections = {Section(0, {0, 1, 2, 3, 4, 5, 6, 7})};
  auto shaft = std::dynamic_pointer_cast<CShaft>(BuildRecognizedShaft(
      ObjPtr<CAD::IRecognizeShaft>::Share(&r), *root, IdentityMatrix12(), nullptr));
  ASSERT_TRUE(shaft);
  const auto& grooves = SectionAt(*shaft, 0)->GetGrooves();
  // Types 0 and 7 add nothing.
  ASSERT_EQ(grooves.size(), 6u);
  EXPECT_EQ(grooves[0]->GetGrooveType(), eNotchChevron);
  EXPECT_EQ(grooves[1]->GetGrooveType(), eGrooveRectangular);
  EXPECT_EQ(grooves[1]->GetValue(L"m").ToDouble(), 4);  // the block's order is x, t, r, m
  EXPECT_EQ(grooves[1]->GetValue(L"r").ToDouble(), 0.5);
  EXPECT_EQ(grooves[2]->GetGrooveType(), eCrossHole);
  EXPECT_EQ(grooves[2]->GetValue(L"angle").ToDouble(), 4);
  EXPECT_EQ(grooves[3]->GetGrooveType(), eGrooveParallelKey);
  EXPECT_EQ(grooves[3]->GetValue(L"angle").ToDouble(), 5);
  EXPECT_EQ(grooves[4]->GetGrooveType(), eSlots);
  EXPECT_EQ(grooves[4]->GetValue(L"n").Type(), VT_UINT);
  EXPECT_EQ(grooves[4]->GetValue(L"n").ToInt(), 7);
  EXPECT_EQ(grooves[4]->GetValue(L"wout").ToDouble(), 6);
  EXPECT_EQ(grooves[5]->GetGrooveType(), eGrooveCircular);
  EXPECT_EQ(grooves[5]->GetValue(L"r").ToDouble(), 3);
}

TEST_F(RecognitionTest, RecordsOfAModelledShaft) {
  auto shaft = ModelShaft({{0, 40, 100}, {4, 30, 50}});
  auto first = SectionAt(*shaft, 0);
  auto circular = first->AddGrooveCircular();
  auto slots = first->AddSlots();
  for (auto [n, v] :
       {std::pair{L"x", 5.0}, {L"l", 20.0}, {L"d", 30.0}, {L"win", 4.0}, {L"wout", 6.0}})
    slots->SetValue(n, CVariant(v));
  slots->SetValue(L"n", CVariant(4));
  circular->SetValue(L"x", CVariant(50.0));
  // A plain object under the shaft is no section.
  root->AddChild(std::make_shared<CObject3D>());
  shaft->AddChild(std::make_shared<CObject3D>());

  const qz_RecognizeShaft rec = RecognizeShaftRecord(*shaft);
  ASSERT_EQ(rec.size(), 2u);
  EXPECT_EQ(rec[1].pos, 4);
  EXPECT_EQ(rec[1].dout1, 30);
  EXPECT_EQ(rec[1].l, 50);
  ASSERT_EQ(rec[0].grooves.size(), 2u);
  const qz_RecognizeGroove& c = rec[0].grooves[0];
  EXPECT_EQ(c.type, 0);
  const auto* bytes = reinterpret_cast<const unsigned char*>(&c);
  for (size_t i = 4; i < sizeof c; ++i) ASSERT_EQ(bytes[i], 0) << i;
  const qz_RecognizeGroove& s = rec[0].grooves[1];
  EXPECT_EQ(s.type, 5);
  EXPECT_EQ(s.slots.n, 4u);
  EXPECT_EQ(s.slots.d, 30);
  EXPECT_EQ(s.slots.wout, 6);
  EXPECT_EQ(s.notch.x, 0);
  // A section without parent gives zeros.
  CShaftSection lone;
  lone.SetValue(L"l", CVariant(9.0));
  const qz_RecognizeSection z = RecognizeSectionRecord(lone);
  EXPECT_EQ(z.l, 0);
  EXPECT_TRUE(z.grooves.empty());
}

// The values the records leave out: a circular groove's position, depth and radius beside its
// record of type none, one entry per record in the records' order.
TEST_F(RecognitionTest, CircularGroovesKeepTheirValuesBesideTheRecords) {
  auto shaft = ModelShaft({{0, 40, 100}, {0, 30, 50}});
  auto first = SectionAt(*shaft, 0);
  first->AddNotchChevron()->SetValue(L"x", CVariant(12.5));
  auto circular = first->AddGrooveCircular();
  for (auto [n, v] : {std::pair{L"x", 32.125}, {L"t", 1.75}, {L"r", 0.625}})
    circular->SetValue(n, CVariant(v));
  auto second = SectionAt(*shaft, 1)->AddGrooveCircular();
  second->SetValue(L"x", CVariant(7.0));
  second->SetValue(L"t", CVariant(2.5));
  shaft->AddChild(std::make_shared<CObject3D>());  // no section: no entry

  const qz_RecognizeShaft rec = RecognizeShaftRecord(*shaft);
  const std::vector<RecognizeSectionExtensions> ext = RecognizeShaftExtension(*shaft);
  ASSERT_EQ(ext.size(), rec.size());
  ASSERT_EQ(ext[0].size(), rec[0].grooves.size());
  ASSERT_EQ(ext[0].size(), 2u);
  EXPECT_EQ(ext[0][0].type, eRecognizeGrooveNone);  // the notch has its record
  EXPECT_EQ(ext[0][0].circular.x, 0);
  EXPECT_EQ(rec[0].grooves[1].type, eRecognizeGrooveNone);  // the record stays as the host's
  EXPECT_EQ(ext[0][1].type, eRecognizeEngineCircular);
  EXPECT_EQ(ext[0][1].circular.x, 32.125);
  EXPECT_EQ(ext[0][1].circular.t, 1.75);
  EXPECT_EQ(ext[0][1].circular.r, 0.625);
  ASSERT_EQ(ext[1].size(), 1u);
  EXPECT_EQ(ext[1][0].type, eRecognizeEngineCircular);
  EXPECT_EQ(ext[1][0].circular.x, 7);
  EXPECT_EQ(ext[1][0].circular.t, 2.5);
  // A section without parent: no grooves, as its record.
  CShaftSection lone;
  lone.AddGrooveCircular();
  EXPECT_TRUE(RecognizeSectionExtension(lone).empty());
}

TEST_F(RecognitionTest, CopyFormNamesSectionsAfterTheLeaf) {
  SetRecognizedShaftBuilder(BuildRecognizedShaft);
  // Two adjoining sections, then one 6 after the end of the second.
  auto shaft = ModelShaft({{0, 40, 50}, {0, 30, 30}, {6, 20, 20}});
  ASSERT_TRUE(messages.empty());
  // One leaf holding the sections' solids.
  auto leaf = std::make_shared<CObject3D>();
  leaf->SetValue(L"Name", CVariant(L"Drive"));
  leaf->SetShape(ObjPtr<CAD::IShape>(shaft->GetShaftBuilder()->GetShape()));
  auto copy = std::make_shared<CNodeRoot>();
  copy->SetContext(ctx);
  ObjPtr<CAD::IRecognizeShaft> result;
  RecognizeState state = eRecognizeAllAtZero;
  auto got = std::dynamic_pointer_cast<CShaft>(
      RecognizeModelLeaf(ctx.Get(), *leaf, *copy, result, &state));
  ASSERT_TRUE(got);
  ASSERT_TRUE(result);
  EXPECT_EQ(got->GetName(), L"Drive");
  ASSERT_EQ(got->GetChildCount(), 3);
  EXPECT_EQ(got->GetChild(0)->GetName(), L"Drive_1");
  EXPECT_EQ(got->GetChild(1)->GetName(), L"Drive_2");
  EXPECT_EQ(got->GetChild(2)->GetName(), L"Drive_3");
  // The second adjoins the first: green at position 0. The third starts 6 after the second's
  // end: red, written back at 0 (in the engine's result and in the model), so it now adjoins.
  EXPECT_EQ(ColorOf(*got->GetChild(0)), kGreen);
  EXPECT_EQ(ColorOf(*got->GetChild(1)), kGreen);
  EXPECT_EQ(ColorOf(*got->GetChild(2)), kRed);
  EXPECT_EQ(state, eRecognizeSomeAtZero);
  EXPECT_NEAR(SectionAt(*got, 1)->GetValue(L"dout1").ToDouble(), 30, 1e-6);
  EXPECT_NEAR(SectionAt(*got, 1)->GetValue(L"l").ToDouble(), 30, 1e-6);
  EXPECT_NEAR(SectionAt(*got, 1)->GetValue(L"pos").ToDouble(), 0, 1e-6);
  EXPECT_EQ(SectionAt(*got, 2)->GetValue(L"pos").ToDouble(), 0);
  ObjPtr<CAD::IRecognizeSection> third(result->GetSection(2));
  double values[8];
  third->GetValues(values);
  EXPECT_EQ(values[0], 0);
  EXPECT_NEAR(values[5], 20, 1e-6);
  // Rebuilt, the third section now starts where the second ends (80), no longer at 86.
  double span[6];
  ASSERT_TRUE(SectionAt(*got, 2)->GetShape()->GetBoundingBox(span));
  EXPECT_NEAR(span[2], 80, 1e-6);
  EXPECT_NEAR(span[5], 100, 1e-6);

  // A leaf without solid: no engine call, state 0.
  CObject3D empty;
  state = eRecognizeAllAtZero;
  EXPECT_FALSE(RecognizeModelLeaf(ctx.Get(), empty, *copy, result, &state));
  EXPECT_FALSE(result);
  EXPECT_EQ(state, eRecognizeNoneAtZero);
}

// Every groove kind: a modelled shaft of three adjoining sections of different diameters (the
// groove in the middle one, which starts 40 from the shaft's start) -> its solid (directly, and
// through a STEP file) -> recognition -> a shaft of the same values within 1 micrometre, every
// section at position 0 and green.
TEST_F(RecognitionTest, EveryGrooveKindRoundTripsInAShaftOfSeveralSections) {
  SetRecognizedShaftBuilder(BuildRecognizedShaft);
  using Params = std::vector<std::pair<const wchar_t*, double>>;
  struct Kind {
    const wchar_t* type;
    Params params;
  };
  const std::vector<Kind> kinds = {
      {L"GrooveRectangular", {{L"x", 10}, {L"m", 6}, {L"t", 2}, {L"r", 0.5}}},
      {L"NotchChevron", {{L"x", 30}, {L"t", 1.2}}},
      {L"GrooveCircular", {{L"x", 45}, {L"t", 1.5}, {L"r", 2}}},
      {L"CrossHole", {{L"x", 60}, {L"t", 8}, {L"r", 2.5}, {L"angle", 30}}},
      {L"GrooveParallelKey", {{L"x", 70}, {L"l", 20}, {L"t", 4}, {L"r", 3}, {L"angle", 90}}},
      {L"Slots", {{L"x", 5}, {L"l", 20}, {L"d", 30}, {L"win", 4}, {L"wout", 6}}},
  };
  TempDir dir;
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(std::string(kind.type, kind.type + wcslen(kind.type)));
    root = std::make_shared<CNodeRoot>();
    root->SetContext(ctx);
    // z 0-40 (d 30, chamfered start), 40-140 (d 40, rounded end, the groove), 140-190 (d 34,
    // chamfered end); a bore of 8 through all.
    auto shaft = ModelShaft({{0, 30, 40}, {0, 40, 100}, {0, 34, 50}});
    const double ends[][2] = {{-1, 0}, {0, 2}, {0, -1.5}};
    for (int i = 0; i < 3; ++i) {
      auto s = SectionAt(*shaft, i);
      s->SetValue(L"lch1", CVariant(ends[i][0]));
      s->SetValue(L"lch2", CVariant(ends[i][1]));
      s->SetValue(L"din1", CVariant(8.0));
      s->SetValue(L"din2", CVariant(8.0));
    }
    auto section = SectionAt(*shaft, 1);
    auto groove = section->AddGroove(kind.type);
    ASSERT_TRUE(groove);
    for (const auto& [n, v] : kind.params) groove->SetValue(n, CVariant(v));
    if (groove->GetGrooveType() == eSlots) groove->SetValue(L"n", CVariant(4));
    ASSERT_TRUE(UpdateReportingErrors(*shaft));
    ASSERT_TRUE(messages.empty()) << messages.front().size();
    const qz_RecognizeShaft want = RecognizeShaftRecord(*shaft);
    ASSERT_EQ(want.size(), 3u);

    auto check = [&](const std::shared_ptr<CTreeObject>& got) {
      auto back = std::dynamic_pointer_cast<CShaft>(got);
      ASSERT_TRUE(back);
      const qz_RecognizeShaft have = RecognizeShaftRecord(*back);
      ASSERT_EQ(have.size(), want.size());
      for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& a = have[i];
        const auto& b = want[i];
        for (auto [x, y] : {std::pair{a.pos, b.pos},
                            {a.dout1, b.dout1},
                            {a.dout2, b.dout2},
                            {a.din1, b.din1},
                            {a.din2, b.din2},
                            {a.l, b.l},
                            {a.lch1, b.lch1},
                            {a.lch2, b.lch2}})
          EXPECT_NEAR(x, y, 1e-6);
        EXPECT_EQ(a.grooves.size(), i == 1 ? 1u : 0u);
        EXPECT_EQ(ColorOf(*back->GetChild(static_cast<int>(i))), kGreen);
      }
      auto backSection = SectionAt(*back, 1);
      ASSERT_EQ(backSection->GetGrooves().size(), 1u);
      const auto& g = backSection->GetGrooves()[0];
      EXPECT_EQ(g->GetGrooveType(), groove->GetGrooveType());
      for (const auto& [n, v] : kind.params) EXPECT_NEAR(g->GetValue(n).ToDouble(), v, 1e-6) << n;
      if (g->GetGrooveType() == eSlots) {
        EXPECT_EQ(g->GetValue(L"n").ToInt(), 4);
      }
      // Rebuilt from what was recognised, the sections lie along the axis as the modelled
      // ones do: each from and to the same distance from the shaft's start.
      double wasStart[6], isStart[6];
      ASSERT_TRUE(SectionAt(*shaft, 0)->GetShape()->GetBoundingBox(wasStart));
      ASSERT_TRUE(SectionAt(*back, 0)->GetShape()->GetBoundingBox(isStart));
      const double along[] = {0, 40, 140, 190};
      for (int i = 0; i < 3; ++i) {
        double was[6], is[6];
        ASSERT_TRUE(SectionAt(*shaft, i)->GetShape()->GetBoundingBox(was));
        ASSERT_TRUE(SectionAt(*back, i)->GetShape()->GetBoundingBox(is));
        EXPECT_NEAR(was[2] - wasStart[2], along[i], 1e-6) << i;
        EXPECT_NEAR(was[5] - wasStart[2], along[i + 1], 1e-6) << i;
        EXPECT_NEAR(is[2] - isStart[2], was[2] - wasStart[2], 1e-6) << i;
        EXPECT_NEAR(is[5] - isStart[2], was[5] - wasStart[2], 1e-6) << i;
      }
    };
    // The shaft's solid as one leaf.
    auto leaf = std::make_shared<CObject3D>();
    leaf->SetShape(ObjPtr<CAD::IShape>(shaft->GetShaftBuilder()->GetShape()));
    auto copy = std::make_shared<CNodeRoot>();
    copy->SetContext(ctx);
    ObjPtr<CAD::IRecognizeShaft> result;
    RecognizeState state = eRecognizeNoneAtZero;
    check(RecognizeModelLeaf(ctx.Get(), *leaf, *copy, result, &state));
    EXPECT_EQ(state, eRecognizeAllAtZero);
    // Through a STEP file, as an imported part.
    auto out = NewEngineContext();
    ObjPtr<CAD::IAssembly> assembly(out->GetAssembly());
    ObjPtr<CAD::IPart> part(assembly->AddShape(leaf->GetShape().Get()));
    part->SetName("Axle");
    const std::string path = dir / "shaft.step";
    ASSERT_TRUE(out->ExportSTEP(path.c_str()));
    auto in = NewEngineContext();
    ASSERT_TRUE(in->ImportSTEP(path.c_str()));
    ObjPtr<CAD::IAssembly> doc(in->GetAssembly());
    ASSERT_EQ(doc->GetChildCount(), 1);
    ObjPtr<CAD::IItem> item(doc->GetChild(0));
    auto imported = std::make_shared<CNodeRoot>();
    imported->SetContext(in);
    auto got =
        RecognizeImportedPart(in.Get(), dynamic_cast<CAD::IPart*>(item.Get()), *imported, result);
    check(got);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->GetName(), L"Axle");
    EXPECT_EQ(std::dynamic_pointer_cast<CShaft>(got)->GetChild(1)->GetName(), L"Axle_2");
  }
}

}  // namespace
