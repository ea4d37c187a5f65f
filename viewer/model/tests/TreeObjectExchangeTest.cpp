// A model tree written through the engine to STEP and STL and read back into a model tree.
#include "model/TreeObject.h"
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
  {
    QZ::ObjPtr<QZ::CAD::IAssembly> assembly(ctx->GetAssembly());
    model->ExportToAssembly(assembly.Get());
    ASSERT_TRUE(ctx->ExportSTEP((dir / "model.step").c_str()));
  }
  auto in = NewEngineContext();
  ASSERT_TRUE(in->ImportSTEP((dir / "model.step").c_str()));
  auto back = std::make_shared<CNodeRoot>();
  back->SetContext(in);
  QZ::ObjPtr<QZ::CAD::IAssembly> doc(in->GetAssembly());
  for (int i = 0; i < doc->GetChildCount(); ++i) {
    QZ::ObjPtr<QZ::CAD::IItem> item(doc->GetChild(i));
    back->ImportItem(item.Get());
  }
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
  {
    QZ::ObjPtr<QZ::CAD::IAssembly> assembly(ctx->GetAssembly());
    model->ExportToAssembly(assembly.Get());
    ASSERT_TRUE(ctx->ExportSTL((dir / "model.stl").c_str()));
  }
  auto in = NewEngineContext();
  ASSERT_TRUE(in->ImportSTL((dir / "model.stl").c_str()));
  auto back = std::make_shared<CNodeRoot>();
  back->SetContext(in);
  QZ::ObjPtr<QZ::CAD::IAssembly> doc(in->GetAssembly());
  ASSERT_EQ(doc->GetChildCount(), 1);
  QZ::ObjPtr<QZ::CAD::IItem> item(doc->GetChild(0));
  back->ImportItem(item.Get());
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
