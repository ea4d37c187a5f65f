// A model tree written through the engine to STEP and STL and read back into a model tree.
#include "model/TreeObject.h"
#include "model/ShaftRecognition.h"
#include "model/TreeObjectPrimitives.h"

#include "TreeTestEngine.h"
#include "testing/TestFiles.h"

#include <filesystem>
#include <functional>

namespace {

using tree_test::NewEngineContext;

constexpr double kPi = 3.14159265358979323846;

// Leaves of a tree in order with their group path, name, colour and placed extent.
struct LeafInfo {
  std::wstring path;
  COLORREF color;
  std::array<double, 6> box;
};

void Collect(const CNode& node, const std::wstring& prefix, std::vector<LeafInfo>& out) {
  for (const auto& child : node.GetChildren()) {
    const std::wstring path = prefix + L"/" + child->GetName();
    if (child->IsNode()) {
      Collect(static_cast<const CNode&>(*child), path, out);
      continue;
    }
    const auto& leaf = static_cast<const CObject3D&>(*child);
    LeafInfo info{path, leaf.FindColorProperty(L"Color")->GetColor(), {}};
    auto shape = leaf.GetShape();
    EXPECT_TRUE(shape) << "no solid for leaf";
    if (shape) shape->GetBoundingBox(info.box.data());
    out.push_back(info);
  }
}

class TreeExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetBuildErrorReporter([this](const std::wstring& m) { messages.push_back(m); });
    ctx = NewEngineContext();
    ASSERT_TRUE(ctx) << "engine library not found at " << tree_test::EnginePath();
  }
  void TearDown() override { SetBuildErrorReporter(nullptr); }

  // Root: group "Frame" (a quarter turn about z, at x 100) holding the red box "Plate" and the
  // group "Inner" (up 20) holding the cylinder "Pin"; the sphere "Ball" at the root, at y 50.
  std::shared_ptr<CNodeRoot> BuildModel() {
    auto root = std::make_shared<CNodeRoot>();
    root->SetContext(ctx);
    auto frame = std::make_shared<CNode>();
    frame->SetValue(L"Name", CVariant(L"Frame"));
    Matrix12 m{};
    ctx->GetMatrixService()->Rotation(0, 0, 1, kPi / 2, m.data());
    m[3] = 100;
    frame->SetMatrix(m.data());
    root->AddChild(frame);
    auto plate = std::make_shared<CBox>();
    plate->SetValue(L"Name", CVariant(L"Plate"));
    plate->SetColor(L"Color", 0x000000FF);
    for (auto [n, v] : {std::pair{L"w", 40.0}, {L"h", 20.0}, {L"l", 5.0}})
      plate->SetValue(n, CVariant(v));
    frame->AddChild(plate);
    auto inner = std::make_shared<CNode>();
    inner->SetValue(L"Name", CVariant(L"Inner"));
    const Matrix12 up = [] {
      Matrix12 t = IdentityMatrix12();
      t[11] = 20;
      return t;
    }();
    inner->SetMatrix(up.data());
    frame->AddChild(inner);
    auto pin = std::make_shared<CCylinder>();
    pin->SetValue(L"Name", CVariant(L"Pin"));
    pin->SetValue(L"r", CVariant(3.0));
    pin->SetValue(L"l", CVariant(30.0));
    pin->SetColor(L"Color", 0x00336699);
    inner->AddChild(pin);
    auto ball = std::make_shared<CSphere>();
    ball->SetValue(L"Name", CVariant(L"Ball"));
    ball->SetValue(L"r", CVariant(7.0));
    Matrix12 at = IdentityMatrix12();
    at[7] = 50;
    ball->SetMatrix(at.data());
    root->AddChild(ball);
    return root;
  }

  // Writes the model through the test's context: "step" or "stl".
  bool Export(CNodeRoot& model, const std::string& path, bool step) {
    QZ::ObjPtr<QZ::CAD::IAssembly> assembly(ctx->GetAssembly());
    model.ExportToAssembly(assembly.Get());
    const bool ok = step ? ctx->ExportSTEP(path.c_str()) : ctx->ExportSTL(path.c_str());
    EXPECT_TRUE(ok) << ctx->GetLastErrorText();
    return ok;
  }

  // Adds every top item of the context's document below root.
  static void ImportAll(ICADContext* from, CNode& root, bool recognise, RecognitionList& list) {
    QZ::ObjPtr<QZ::CAD::IAssembly> doc(from->GetAssembly());
    for (int i = 0; i < doc->GetChildCount(); ++i) {
      QZ::ObjPtr<QZ::CAD::IItem> item(doc->GetChild(i));
      root.ImportItem(item.Get(), recognise ? &ShaftRecogniser() : nullptr, list);
    }
  }

  QZ::ObjPtr<ICADContext> ctx;
  std::vector<std::wstring> messages;
};

}  // namespace

TEST_F(TreeExchangeTest, StepRoundTripKeepsTreeNamesColoursAndPlacements) {
  TempDir dir;
  auto model = BuildModel();
  ASSERT_TRUE(messages.empty());
  // A leaf whose build failed stays in the model without a solid and is left out of the export.
  auto broken = std::make_shared<CBox>();
  broken->SetValue(L"Name", CVariant(L"Broken"));
  ASSERT_TRUE(model->AddChild(broken));
  ASSERT_EQ(messages.size(), 1u);
  ASSERT_FALSE(broken->GetShape());
  messages.clear();
  ASSERT_TRUE(Export(*model, dir / "model.step", true));
  auto in = NewEngineContext();
  ASSERT_TRUE(in->ImportSTEP((dir / "model.step").c_str()));
  RecognitionList recognized;
  auto back = std::make_shared<CNodeRoot>();
  back->SetContext(in);
  ImportAll(in.Get(), *back, false, recognized);
  EXPECT_TRUE(messages.empty());

  ASSERT_TRUE(model->RemoveChild(broken.get()));  // Collect wants solids
  std::vector<LeafInfo> before, after;
  Collect(*model, L"", before);
  Collect(*back, L"", after);
  ASSERT_EQ(before.size(), 3u);
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(after[i].path, before[i].path);
    EXPECT_EQ(after[i].color, before[i].color);
    for (int k = 0; k < 6; ++k)
      EXPECT_NEAR(after[i].box[k], before[i].box[k], 1e-4) << "entry " << k;
  }
  EXPECT_EQ(before[0].path, L"/Frame/Plate");
  EXPECT_EQ(before[1].path, L"/Frame/Inner/Pin");
  EXPECT_EQ(before[2].path, L"/Ball");
  // The box of 40 x 20 turned a quarter and moved to x 100: x from 80 to 100, y from 0 to 40.
  EXPECT_NEAR(before[0].box[0], 80, 1e-6);
  EXPECT_NEAR(before[0].box[4], 40, 1e-6);
  // Groups come back at identity, their leaves at their global placement.
  auto frame = std::dynamic_pointer_cast<CNode>(back->GetChild(0));
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->GetMatrix(), IdentityMatrix12());
}

TEST_F(TreeExchangeTest, StlImportGivesOneObjectWithTheDefaultColour) {
  TempDir dir;
  auto model = BuildModel();
  ASSERT_TRUE(Export(*model, dir / "model.stl", false));
  auto in = NewEngineContext();
  ASSERT_TRUE(in->ImportSTL((dir / "model.stl").c_str()));
  RecognitionList recognized;
  auto back = std::make_shared<CNodeRoot>();
  back->SetContext(in);
  QZ::ObjPtr<QZ::CAD::IAssembly> doc(in->GetAssembly());
  ASSERT_EQ(doc->GetChildCount(), 1);
  QZ::ObjPtr<QZ::CAD::IItem> item(doc->GetChild(0));
  back->ImportItem(item.Get(), nullptr, recognized);
  ASSERT_EQ(back->GetChildCount(), 1);
  auto leaf = std::dynamic_pointer_cast<CObject3D>(back->GetChild(0));
  ASSERT_TRUE(leaf);
  EXPECT_EQ(leaf->GetName(), L"model");
  EXPECT_EQ(leaf->FindColorProperty(L"Color")->GetColor(), kDefaultObjectColor);
  std::array<double, 6> box{};
  ASSERT_TRUE(leaf->GetShape()->GetBoundingBox(box.data()));
  // The three solids together: x from -7 (ball) to 103 (pin), z from -7 to 50 (pin top).
  EXPECT_NEAR(box[0], -7, 0.05);
  EXPECT_NEAR(box[3], 103, 0.05);
  EXPECT_NEAR(box[5], 50, 0.05);
}

TEST(TreeColors, EngineColoursBecomeColorrefs) {
  const double red[3] = {1, 0, 0};
  EXPECT_EQ(ColorFromRGB(red), 0x000000FFu);
  const double mixed[3] = {0.2, 0.4, 0.6};  // 51, 102, 153
  EXPECT_EQ(ColorFromRGB(mixed), 0x00996633u);
  const double over[3] = {256.0 / 255.0, 0.999,
                          0};  // 256 keeps its low 8 bits (0); 254.7 truncates
  EXPECT_EQ(ColorFromRGB(over), 0x0000FE00u);
}

namespace {

// An engine result that says "a shaft" and nothing more.
class FakeShaftResult final : public QZ::CAD::IRecognizeShaft {
 public:
  void AddRef() override { ++m_refs; }
  void Release() override {
    if (--m_refs == 0) delete this;
  }
  double* GetMatrix(double* out12) override { return out12; }
  int GetSectionCount() override { return 0; }
  QZ::CAD::IRecognizeSection* GetSection(int) override { return nullptr; }

 private:
  int m_refs = 1;
};

// Recognises every solid whose volume lies in a band; counts the calls.
class FakeRecognizer final : public QZ::CAD::IShaftRecognizer {
 public:
  FakeRecognizer(double minVolume, double maxVolume) : m_min(minVolume), m_max(maxVolume) {}
  QZ::CAD::IRecognizeShaft* Recognize(QZ::CAD::IShape* shape) override {
    ++calls;
    if (!shape) return nullptr;
    const double v = shape->GetVolume();
    if (v < m_min || v > m_max) return nullptr;
    return new FakeShaftResult();
  }
  int calls = 0;

 private:
  double m_min, m_max;
};

// The real engine context with a recogniser of the test's own.
class RecognizingContext final : public ICADContext {
 public:
  RecognizingContext(QZ::ObjPtr<ICADContext> inner, QZ::CAD::IShaftRecognizer* recognizer)
      : m_inner(std::move(inner)), m_recognizer(recognizer) {}
  void AddRef() override { ++m_refs; }
  void Release() override {
    if (--m_refs == 0) delete this;
  }
  QZ::CAD::IAssembly* GetAssembly() override { return m_inner->GetAssembly(); }
  QZ::CAD::IMatrixService* GetMatrixService() override { return m_inner->GetMatrixService(); }
  QZ::CAD::IHeaderService* GetHeaderService() override { return m_inner->GetHeaderService(); }
  QZ::CAD::IBearingFactory* GetBearingFactory() override { return m_inner->GetBearingFactory(); }
  QZ::CAD::IGearFactory* GetGearFactory() override { return m_inner->GetGearFactory(); }
  QZ::CAD::IBeamFactory* GetBeamFactory() override { return m_inner->GetBeamFactory(); }
  QZ::CAD::IShaftFactory* GetShaftFactory() override { return m_inner->GetShaftFactory(); }
  QZ::CAD::IFastenerFactory* GetFastenerFactory() override { return m_inner->GetFastenerFactory(); }
  QZ::CAD::IShaftRecognizer* GetShaftRecognizer() override { return m_recognizer; }
  bool ExportSTEP(const char* p) override { return m_inner->ExportSTEP(p); }
  bool ExportIGES(const char* p) override { return m_inner->ExportIGES(p); }
  bool ExportSTL(const char* p) override { return m_inner->ExportSTL(p); }
  bool ImportSTEP(const char* p) override { return m_inner->ImportSTEP(p); }
  bool ImportIGES(const char* p) override { return m_inner->ImportIGES(p); }
  bool ImportSTL(const char* p) override { return m_inner->ImportSTL(p); }
  QZ::CAD::IShape* Box(double w, double h, double l) override { return m_inner->Box(w, h, l); }
  QZ::CAD::IShape* Sphere(double r) override { return m_inner->Sphere(r); }
  QZ::CAD::IShape* Cylinder(double r, double l) override { return m_inner->Cylinder(r, l); }
  QZ::CAD::IShape* Cone(double r1, double r2, double l) override {
    return m_inner->Cone(r1, r2, l);
  }
  QZ::CAD::IShape* Torus(double r1, double r2) override { return m_inner->Torus(r1, r2); }
  QZ::CAD::IShape* Wedge(double wb, double h, double l, double wt) override {
    return m_inner->Wedge(wb, h, l, wt);
  }
  QZ::CAD::IShape* HollowCylinder(double dout, double din, double l) override {
    return m_inner->HollowCylinder(dout, din, l);
  }
  QZ::CAD::IShape* HollowCone(double a, double b, double c, double d, double l) override {
    return m_inner->HollowCone(a, b, c, d, l);
  }
  QZ::CAD::IView* NewView(void* handle, int kind) override {
    return m_inner->NewView(handle, kind);
  }
  int GetLastErrorCode() override { return m_inner->GetLastErrorCode(); }
  const char* GetLastErrorText() override { return m_inner->GetLastErrorText(); }
  int GetWarningCount() override { return m_inner->GetWarningCount(); }
  const char* GetWarning(int index) override { return m_inner->GetWarning(index); }
  void SetTimeLimit(double seconds) override { m_inner->SetTimeLimit(seconds); }
  void SetProgressCallback(bool (*callback)(void*, double), void* user) override {
    m_inner->SetProgressCallback(callback, user);
  }
  int GetBuildThreads() override { return m_inner->GetBuildThreads(); }
  void SetBuildThreads(int threads) override { m_inner->SetBuildThreads(threads); }
  void SetSharedSolids(bool share) override { m_inner->SetSharedSolids(share); }
  bool GetQuickBox(QZ::CAD::IShape* shape, double* box6) override {
    return m_inner->GetQuickBox(shape, box6);
  }
  int GetShapeColorCount(QZ::CAD::IShape* shape) override {
    return m_inner->GetShapeColorCount(shape);
  }
  bool GetShapeColor(QZ::CAD::IShape* shape, int index, QZ::CAD::ShapeColor* out) override {
    return m_inner->GetShapeColor(shape, index, out);
  }
  bool ExportGLTF(const char* path, bool binary) override {
    return m_inner->ExportGLTF(path, binary);
  }
  bool ExportOBJ(const char* path) override { return m_inner->ExportOBJ(path); }

 private:
  QZ::ObjPtr<ICADContext> m_inner;
  QZ::CAD::IShaftRecognizer* m_recognizer;
  int m_refs = 1;
};

// Stands in for the shaft builder of the recognition: a group named "shaft" at the placement.
struct BuilderCalls {
  int count = 0;
  std::vector<Matrix12> matrices;
};

// No builder of recognised shafts while it lives (the default one again afterwards).
struct NoShaftBuilder {
  NoShaftBuilder() { SetRecognizedShaftBuilder(nullptr); }
  ~NoShaftBuilder() { SetRecognizedShaftBuilder(BuildRecognizedShaft); }
};

void InstallGroupShaftBuilder(BuilderCalls& calls) {
  SetRecognizedShaftBuilder([&calls](const QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result,
                                     CNode& group, const Matrix12& matrix,
                                     RecognizeState* state) -> std::shared_ptr<CTreeObject> {
    EXPECT_TRUE(result);
    ++calls.count;
    calls.matrices.push_back(matrix);
    auto shaft = std::make_shared<CNode>();
    shaft->SetMatrix(matrix.data());
    if (state) *state = eRecognizeAllAtZero;
    group.AddChild(shaft);
    return shaft;
  });
}

}  // namespace

TEST_F(TreeExchangeTest, ImportWithRecognitionTriesEveryPartAndKeepsTheAnswers) {
  TempDir dir;
  auto model = BuildModel();  // Plate (volume 4000), Pin (848), Ball (1437)
  ASSERT_TRUE(Export(*model, dir / "model.step", true));
  FakeRecognizer recognizer(900.0, 1e9);  // all but the pin
  QZ::ObjPtr<ICADContext> in(new RecognizingContext(NewEngineContext(), &recognizer));
  ASSERT_TRUE(in->ImportSTEP((dir / "model.step").c_str()));
  BuilderCalls calls;
  InstallGroupShaftBuilder(calls);

  auto back = std::make_shared<CNodeRoot>();
  back->SetContext(in);
  RecognitionList recognized;
  ImportAll(in.Get(), *back, true, recognized);
  SetRecognizedShaftBuilder(BuildRecognizedShaft);  // the default again

  // One answer per part, in the order of the parts: Plate, Pin, Ball.
  EXPECT_EQ(recognizer.calls, 3);
  ASSERT_EQ(recognized.size(), 3u);
  EXPECT_TRUE(recognized[0]);   // Plate
  EXPECT_FALSE(recognized[1]);  // Pin
  EXPECT_TRUE(recognized[2]);   // Ball
  EXPECT_EQ(calls.count, 2);
  // The recognised parts became the builder's shafts, named as the items; the pin stayed a
  // solid.
  auto frame = std::dynamic_pointer_cast<CNode>(back->GetChild(0));
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->GetChildCount(), 2);
  EXPECT_TRUE(frame->GetChild(0)->IsNode());
  EXPECT_EQ(frame->GetChild(0)->GetName(), L"Plate");
  auto inner = std::dynamic_pointer_cast<CNode>(frame->GetChild(1));
  ASSERT_TRUE(inner);
  ASSERT_EQ(inner->GetChildCount(), 1);
  EXPECT_FALSE(inner->GetChild(0)->IsNode());
  EXPECT_EQ(inner->GetChild(0)->GetName(), L"Pin");
  ASSERT_EQ(back->GetChildCount(), 2);
  EXPECT_EQ(back->GetChild(1)->GetName(), L"Ball");
  EXPECT_TRUE(back->GetChild(1)->IsNode());
  // The ball's shaft sits where the ball sat (y 50).
  EXPECT_NEAR(calls.matrices[1][7], 50, 1e-9);

  // Without the flag nothing is tried and the list is left alone.
  auto plain = std::make_shared<CNodeRoot>();
  plain->SetContext(in);
  RecognitionList untouched;
  ImportAll(in.Get(), *plain, false, untouched);
  EXPECT_TRUE(untouched.empty());
  EXPECT_EQ(recognizer.calls, 3);
}

TEST_F(TreeExchangeTest, ImportWithRecognitionKeepsPartsTheEngineCannotRecognise) {
  // The engine recognises the pin (a plain cylinder) and neither the plate nor the ball; with no
  // shaft builder installed, every part is still imported as it is.
  NoShaftBuilder none;
  TempDir dir;
  auto model = BuildModel();
  ASSERT_TRUE(Export(*model, dir / "model.step", true));
  auto in = NewEngineContext();
  ASSERT_TRUE(in->ImportSTEP((dir / "model.step").c_str()));
  auto back = std::make_shared<CNodeRoot>();
  back->SetContext(in);
  RecognitionList recognized;
  ImportAll(in.Get(), *back, true, recognized);
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(recognized.size(), 3u);
  EXPECT_FALSE(recognized[0]);
  ASSERT_TRUE(recognized[1]);
  EXPECT_EQ(recognized[1]->GetSectionCount(), 1);
  EXPECT_FALSE(recognized[2]);
  std::vector<LeafInfo> leaves;
  Collect(*back, L"", leaves);
  ASSERT_EQ(leaves.size(), 3u);
  EXPECT_EQ(leaves[0].path, L"/Frame/Plate");
  EXPECT_EQ(leaves[1].path, L"/Frame/Inner/Pin");
  EXPECT_EQ(leaves[2].path, L"/Ball");
}

TEST_F(TreeExchangeTest, AppendCopyIsFlatInPlacementAndKeepsNamesAndColours) {
  NoShaftBuilder none;
  auto model = BuildModel();
  std::vector<LeafInfo> before;
  Collect(*model, L"", before);

  auto copy = std::make_shared<CNodeRoot>();
  copy->SetContext(NewEngineContext());
  RecognitionList recognized;
  RecognizeState state = eRecognizeAllAtZero;
  for (const auto& child : model->GetChildren())
    copy->AppendCopy(child.get(), &ShaftRecogniser(), recognized, &state);
  EXPECT_TRUE(messages.empty());
  // One answer per leaf: only the pin is a shaft for the engine; with no shaft builder
  // installed nothing is turned into a shaft, the state stays 0 and every leaf is copied.
  ASSERT_EQ(recognized.size(), 3u);
  EXPECT_FALSE(recognized[0]);
  ASSERT_TRUE(recognized[1]);
  double values[8];
  QZ::ObjPtr<QZ::CAD::IRecognizeSection> pin(recognized[1]->GetSection(0));
  pin->GetValues(values);
  EXPECT_NEAR(values[1], 6, 1e-6);   // the pin's diameter
  EXPECT_NEAR(values[5], 30, 1e-6);  // its length
  EXPECT_FALSE(recognized[2]);
  EXPECT_EQ(state, eRecognizeNoneAtZero);

  std::vector<LeafInfo> after;
  Collect(*copy, L"", after);
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(after[i].path, before[i].path);
    EXPECT_EQ(after[i].color, before[i].color);
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(after[i].box[k], before[i].box[k], 1e-6);
  }
  // Groups at identity, leaves at their global placement.
  auto frame = std::dynamic_pointer_cast<CNode>(copy->GetChild(0));
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->GetMatrix(), IdentityMatrix12());
  auto inner = std::dynamic_pointer_cast<CNode>(frame->GetChild(1));
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->GetMatrix(), IdentityMatrix12());
  auto pinSource = std::dynamic_pointer_cast<CNode>(
      std::dynamic_pointer_cast<CNode>(model->GetChild(0))->GetChild(1));
  EXPECT_EQ(inner->GetChild(0)->GetMatrix(), pinSource->GetChild(0)->GetGlobalMatrix());
  // The source is only read.
  std::vector<LeafInfo> again;
  Collect(*model, L"", again);
  EXPECT_EQ(again.size(), before.size());
  EXPECT_EQ(model->GetChildCount(), 2);
}

TEST_F(TreeExchangeTest, AppendCopyReplacesRecognisedLeavesAndEndsWithTheLastLeafsState) {
  auto model = BuildModel();
  FakeRecognizer recognizer(1000.0, 2000.0);  // only the ball
  QZ::ObjPtr<ICADContext> target(new RecognizingContext(NewEngineContext(), &recognizer));
  BuilderCalls calls;
  InstallGroupShaftBuilder(calls);
  auto copy = std::make_shared<CNodeRoot>();
  copy->SetContext(target);
  RecognitionList recognized;
  RecognizeState state = eRecognizeSomeAtZero;
  copy->AppendCopy(model.get(), &ShaftRecogniser(), recognized,
                   &state);                         // a root: copied as a group
  SetRecognizedShaftBuilder(BuildRecognizedShaft);  // the default again
  ASSERT_EQ(recognized.size(), 3u);
  EXPECT_FALSE(recognized[0]);
  EXPECT_FALSE(recognized[1]);
  EXPECT_TRUE(recognized[2]);
  EXPECT_EQ(calls.count, 1);
  EXPECT_EQ(calls.matrices[0], IdentityMatrix12());  // the copy form places at identity
  EXPECT_EQ(state, eRecognizeAllAtZero);             // the ball, the last leaf, set it
  ASSERT_EQ(copy->GetChildCount(), 1);
  auto top = std::dynamic_pointer_cast<CNode>(copy->GetChild(0));
  ASSERT_TRUE(top);
  ASSERT_EQ(top->GetChildCount(), 2);
  EXPECT_TRUE(top->GetChild(1)->IsNode());
  EXPECT_EQ(top->GetChild(1)->GetName(), L"Ball");

  // A leaf without solid is not asked about; it still resets the state.
  auto empty = std::make_shared<CObject3D>();
  RecognitionList more;
  state = eRecognizeAllAtZero;
  copy->AppendCopy(empty.get(), &ShaftRecogniser(), more, &state);
  EXPECT_EQ(state, eRecognizeNoneAtZero);
  ASSERT_EQ(more.size(), 1u);
  EXPECT_FALSE(more[0]);
  EXPECT_EQ(recognizer.calls, 3);
}

namespace {

std::vector<QZ::CAD::ShapeColor> ShapeColours(ICADContext* ctx, QZ::CAD::IShape* shape) {
  std::vector<QZ::CAD::ShapeColor> out;
  for (int i = 0; i < ctx->GetShapeColorCount(shape); ++i) {
    QZ::CAD::ShapeColor c{};
    EXPECT_TRUE(ctx->GetShapeColor(shape, i, &c));
    out.push_back(c);
  }
  return out;
}

}  // namespace

TEST_F(TreeExchangeTest, ColoursOfSolidsStayWithTheLeafWhereverItGoesAndAreWrittenBack) {
  // The pin header's black body and gold pins are solids of one part.
  const std::string header =
      std::string(TOLMERA_TEST_SOURCE_DIR) + "/examples/exchange/pin-header-1x04.step";
  auto in = NewEngineContext();
  ASSERT_TRUE(in->ImportSTEP(header.c_str())) << in->GetLastErrorText();
  auto model = std::make_shared<CNodeRoot>();
  model->SetContext(in);
  RecognitionList recognized;
  ImportAll(in.Get(), *model, false, recognized);
  ASSERT_EQ(model->GetChildCount(), 1);
  auto leaf = std::dynamic_pointer_cast<CObject3D>(model->GetChild(0));
  ASSERT_TRUE(leaf);
  const auto original = ShapeColours(in.Get(), leaf->GetShape().Get());
  ASSERT_EQ(original.size(), 5u);
  for (const auto& c : original) EXPECT_EQ(c.kind, QZ::CAD::eColorOfSolid);
  // The part has no colour of its own: the leaf shows the first solid's (the body's black).
  EXPECT_EQ(leaf->FindColorProperty(L"Color")->GetColor(), static_cast<COLORREF>(0x222222));

  // Moved and given another colour by the user, the solids keep theirs, through the export.
  Matrix12 m = IdentityMatrix12();
  m[3] = 25;
  leaf->SetMatrix(m.data());
  leaf->SetColor(L"Color", static_cast<COLORREF>(0x0000C8));
  leaf->Update();
  EXPECT_EQ(ShapeColours(in.Get(), leaf->GetShape().Get()).size(), original.size());
  TempDir dir;
  ASSERT_TRUE(Export(*model, dir / "header.step", true));
  auto back = NewEngineContext();
  ASSERT_TRUE(back->ImportSTEP((dir / "header.step").c_str())) << back->GetLastErrorText();
  auto again = std::make_shared<CNodeRoot>();
  again->SetContext(back);
  ImportAll(back.Get(), *again, false, recognized);
  ASSERT_EQ(again->GetChildCount(), 1);
  auto leaf2 = std::dynamic_pointer_cast<CObject3D>(again->GetChild(0));
  ASSERT_TRUE(leaf2);
  // Every solid has a colour of its own, so the part's own red shows nowhere: the kernel's
  // writer leaves it out, and the part comes back in its body's black.
  std::vector<QZ::CAD::ShapeColor> written;
  for (const auto& c : ShapeColours(back.Get(), leaf2->GetShape().Get()))
    if (c.kind != QZ::CAD::eColorOfShape) written.push_back(c);
  ASSERT_EQ(written.size(), original.size());
  for (size_t i = 0; i < original.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(written[i].kind, original[i].kind);
    EXPECT_EQ(written[i].index, original[i].index);
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(written[i].rgba[k], original[i].rgba[k], 1e-3);
  }
  std::array<double, 6> box{};
  ASSERT_TRUE(leaf2->GetShape()->GetBoundingBox(box.data()));
  EXPECT_NEAR(box[0], 25, 1e-4);
}
