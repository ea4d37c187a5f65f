// Model tree objects: properties, groups, placements and the building of solids.
#include "model/TreeObject.h"
#include "model/TreeObjectPrimitives.h"

#include "TreeTestEngine.h"

#include <cmath>
#include <limits>

namespace {

using tree_test::NewEngineContext;

constexpr double kPi = 3.14159265358979323846;

// An engine exception of a chosen code that counts its releases.
class TestException final : public QZ::IException {
 public:
  explicit TestException(int code, int* released) : m_code(code), m_released(released) {}
  int GetCode() const override { return m_code; }
  void Release() override {
    ++*m_released;
    delete this;
  }
  const char* GetText() const override { return "test"; }

 private:
  int m_code;
  int* m_released;
};

// A leaf whose build throws what the test asks for.
class FailingObject final : public CObject3D {
 public:
  enum Mode { eEngineCode, eStdError, eNothing };
  FailingObject(Mode mode, int code, int* released)
      : m_mode(mode), m_code(code), m_released(released) {}
  void BuildShape() override {
    if (m_mode == eEngineCode)
      throw static_cast<QZ::IException*>(new TestException(m_code, m_released));
    if (m_mode == eStdError) throw std::runtime_error("boom");
  }

 private:
  Mode m_mode;
  int m_code;
  int* m_released;
};

class TreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetBuildErrorReporter([this](const std::wstring& m) { messages.push_back(m); });
  }
  void TearDown() override { SetBuildErrorReporter(nullptr); }
  std::vector<std::wstring> messages;
};

std::shared_ptr<CBox> MakeBox(const wchar_t* name, double w, double h, double l) {
  auto b = std::make_shared<CBox>();
  b->SetValue(L"Name", CVariant(name));
  b->SetValue(L"w", CVariant(w));
  b->SetValue(L"h", CVariant(h));
  b->SetValue(L"l", CVariant(l));
  return b;
}

std::array<double, 6> BoxOf(const CObject3D& o) {
  std::array<double, 6> b{};
  auto s = o.GetShape();
  EXPECT_TRUE(s);
  if (s) {
    EXPECT_TRUE(s->GetBoundingBox(b.data()));
  }
  return b;
}

void ExpectBox(const std::array<double, 6>& got, std::array<double, 6> want) {
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(got[i], want[i], 1e-6) << "entry " << i;
}

Matrix12 Translation(double x, double y, double z) {
  Matrix12 m = IdentityMatrix12();
  m[3] = x;
  m[7] = y;
  m[11] = z;
  return m;
}

}  // namespace

TEST_F(TreeTest, NewObjectsHaveTheirDefaultProperties) {
  CObject3D o;
  ASSERT_EQ(o.GetPropertyList().size(), 2u);
  EXPECT_EQ(o.GetPropertyList()[0]->GetName(), L"Name");
  EXPECT_EQ(o.GetPropertyList()[0]->GetLabel(), L"Name");
  EXPECT_EQ(o.GetValue(L"Name").ToText(), L"No name");
  auto color = o.FindColorProperty(L"Color");
  ASSERT_TRUE(color);
  EXPECT_EQ(color->GetColor(), 0x00AF8C00u);
  EXPECT_EQ(color->GetLabel(), L"Color");
  const auto rgb = o.GetColorRGB();
  EXPECT_DOUBLE_EQ(rgb[0], 0.0);
  EXPECT_DOUBLE_EQ(rgb[1], 140 / 255.0);
  EXPECT_DOUBLE_EQ(rgb[2], 175 / 255.0);
  EXPECT_EQ(o.GetType(), eTypeObject3D);
  EXPECT_FALSE(o.IsNode());
  EXPECT_EQ(o.GetCaption(), L"Object 3D");
  EXPECT_EQ(o.GetTypeName(), L"");
  EXPECT_FALSE(o.GetShape());
  EXPECT_EQ(o.GetParent(), nullptr);
  EXPECT_EQ(o.GetMatrix(), IdentityMatrix12());

  CBox box;
  std::vector<std::wstring> names;
  for (const auto& p : box.GetPropertyList()) names.push_back(p->GetName());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Name", L"Color", L"w", L"h", L"l"}));
  EXPECT_EQ(box.GetValue(L"w").Type(), VT_R8);
  EXPECT_EQ(box.GetValue(L"l").ToDouble(), 0.0);
  EXPECT_EQ(box.GetType(), eTypeBox);
  EXPECT_EQ(box.GetTypeName(), L"Box");
  EXPECT_EQ(box.GetCaption(), L"Box");
  EXPECT_EQ(CHollowCone().GetType(), eTypeHollowCone);
  EXPECT_EQ(CreatePrimitive(L"hollowcylinder")->GetType(), eTypeHollowCylinder);
  EXPECT_FALSE(CreatePrimitive(L"Gear"));

  CNode node;
  EXPECT_TRUE(node.IsNode());
  EXPECT_EQ(node.GetType(), eTypeNode);
  EXPECT_EQ(node.GetCaption(), L"Node");
  EXPECT_STREQ(node.GetArchiveTag(), "Node");
}

TEST_F(TreeTest, PropertyLookupIgnoresCaseAndMissingNamesAreHarmless) {
  CBox box;
  EXPECT_EQ(box.FindProperty(L"name"), box.FindProperty(L"Name"));
  EXPECT_TRUE(box.FindStandardProperty(L"W"));
  EXPECT_FALSE(box.FindColorProperty(L"w"));  // another kind
  EXPECT_FALSE(box.FindStandardProperty(L"color"));
  EXPECT_TRUE(box.FindColorProperty(L"COLOR"));
  box.SetValue(L"W", CVariant(12.5));
  EXPECT_EQ(box.GetValue(L"w").ToDouble(), 12.5);
  box.SetValue(L"missing", CVariant(1.0));
  box.SetColor(L"missing", 1);
  box.SetLabelId(L"missing", 394);
  EXPECT_EQ(box.GetPropertyList().size(), 5u);
  EXPECT_TRUE(box.GetValue(L"missing").IsEmpty());
  box.SetColor(L"color", 0x000000FF);
  EXPECT_DOUBLE_EQ(box.GetColorRGB()[0], 1.0);
  box.SetLabelId(L"w", 402);
  EXPECT_EQ(box.FindProperty(L"w")->GetLabel(), L"h");
  box.SetColorLabelId(L"Color", 394);
  EXPECT_EQ(box.FindProperty(L"Color")->GetLabel(), L"Name");
  box.SetDescriptionId(L"w", 0);
  EXPECT_EQ(box.FindProperty(L"w")->GetDescription(), L"");
}

TEST_F(TreeTest, RootCarriesNameAndHeaderTexts) {
  CNodeRoot root;
  std::vector<std::wstring> names, labels;
  for (const auto& p : root.GetPropertyList()) {
    names.push_back(p->GetName());
    labels.push_back(p->GetLabel());
    EXPECT_EQ(p->GetOwner(), &root);
  }
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Name", L"FileDescription", L"FileName", L"Author",
                                              L"Organization", L"Authorisation"}));
  EXPECT_EQ(labels, (std::vector<std::wstring>{L"Name", L"File Description", L"File Name",
                                               L"Author", L"Organization", L"Authorisation"}));
  EXPECT_EQ(root.GetValue(L"Author").ToText(), L"");
  EXPECT_EQ(root.GetCaption(), L"Root");
  EXPECT_STREQ(root.GetArchiveTag(), "NodeRoot");
  ASSERT_TRUE(root.GetHeader());
  EXPECT_EQ(root.GetHeader()->GetPropertyList().size(), 5u);
  for (const auto& p : root.GetHeader()->GetPropertyList()) EXPECT_EQ(p->GetOwner(), &root);
}

TEST_F(TreeTest, PropertyTreeHasRootAndCaptionGroups) {
  CBox box;
  auto top = std::dynamic_pointer_cast<CPropertyGroup>(box.GetProperties());
  ASSERT_TRUE(top);
  EXPECT_EQ(top->GetLabel(), L"Root");
  EXPECT_EQ(top->GetOwner(), &box);
  ASSERT_EQ(top->GetChildCount(), 1);
  auto inner = std::dynamic_pointer_cast<CPropertyGroup>(top->GetChild(0));
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->GetLabel(), L"Box");
  ASSERT_EQ(inner->GetChildCount(), 5);
  EXPECT_EQ(inner->GetChild(2), box.FindProperty(L"w"));  // the same property objects
}

TEST_F(TreeTest, ChildrenAreKeptInOrder) {
  CNode group;
  auto a = std::make_shared<CNode>(), b = std::make_shared<CNode>(), c = std::make_shared<CNode>();
  EXPECT_TRUE(group.AddChild(a));
  EXPECT_TRUE(group.AddChild(b));
  EXPECT_TRUE(group.AddChild(c));
  EXPECT_EQ(a->GetParent(), &group);
  EXPECT_EQ(group.GetChildCount(), 3);
  EXPECT_FALSE(group.GetChild(3));
  EXPECT_FALSE(group.GetChild(-1));
  CNode stranger;
  EXPECT_FALSE(group.RemoveChild(&stranger));
  EXPECT_EQ(group.GetChildCount(), 3);
  EXPECT_TRUE(group.RemoveChild(b.get()));
  EXPECT_EQ(b->GetParent(), nullptr);
  ASSERT_EQ(group.GetChildCount(), 2);
  EXPECT_EQ(group.GetChild(0), a);
  EXPECT_EQ(group.GetChild(1), c);
  EXPECT_FALSE(group.RemoveChild(b.get()));
  EXPECT_FALSE(group.AddChild(nullptr));
}

TEST_F(TreeTest, GlobalMatrixIsTheEngineProductParentFirst) {
  auto ctx = NewEngineContext();
  ASSERT_TRUE(ctx) << "engine library not found at " << tree_test::EnginePath();
  CNodeRoot root;
  root.SetContext(ctx);
  Matrix12 rootM{};
  ctx->GetMatrixService()->Rotation(0, 0, 1, kPi / 2, rootM.data());
  rootM[3] = 5;
  root.SetMatrix(rootM.data());
  auto group = std::make_shared<CNode>();
  const Matrix12 groupM = Translation(10, 0, 0);
  group->SetMatrix(groupM.data());
  ASSERT_TRUE(root.AddChild(group));
  auto leaf = std::make_shared<CObject3D>();
  const Matrix12 leafM = Translation(0, 0, 7);
  leaf->SetMatrix(leafM.data());
  ASSERT_TRUE(group->AddChild(leaf));

  Matrix12 expectGroup{}, expectLeaf{};
  ctx->GetMatrixService()->Multiply(rootM.data(), groupM.data(), expectGroup.data());
  ctx->GetMatrixService()->Multiply(expectGroup.data(), leafM.data(), expectLeaf.data());
  EXPECT_EQ(group->GetGlobalMatrix(), expectGroup);
  EXPECT_EQ(leaf->GetGlobalMatrix(), expectLeaf);
  // The group's origin: the root turns (10, 0, 0) to (0, 10, 0) and moves it by 5 in x.
  EXPECT_NEAR(expectGroup[3], 5, 1e-12);
  EXPECT_NEAR(expectGroup[7], 10, 1e-12);
  EXPECT_NEAR(expectLeaf[11], 7, 1e-12);
  EXPECT_EQ(root.GetGlobalMatrix(), rootM);

  // Without parent or without context the own matrix is the global one.
  CObject3D loose;
  loose.SetMatrix(leafM.data());
  EXPECT_EQ(loose.GetGlobalMatrix(), leafM);
}

TEST_F(TreeTest, FailedBuildsAreReportedAndDecideWhetherTheChildStays) {
  struct Case {
    FailingObject::Mode mode;
    int code;
    bool kept;
    std::wstring message;
  };
  const std::vector<Case> cases = {
      {FailingObject::eEngineCode, QZ::eCodeInvalidParameter, true, L"Invalid parameter in 'Part'"},
      {FailingObject::eEngineCode, QZ::eCodeInvalidUse, true, L"Invalid use 'Part'"},
      {FailingObject::eEngineCode, QZ::eCodePermission, false,
       L"Permission denied for create object 'Part'"},
      {FailingObject::eEngineCode, 0x1234, false, L"Unknown error in 'Part'"},
      {FailingObject::eStdError, 0, false, L"Unknown error in 'Part'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    messages.clear();
    int released = 0;
    CNode group;
    auto leaf = std::make_shared<FailingObject>(c.mode, c.code, &released);
    leaf->SetValue(L"Name", CVariant(L"Part"));
    EXPECT_EQ(group.AddChild(leaf), c.kept);
    EXPECT_EQ(group.GetChildCount(), c.kept ? 1 : 0);
    EXPECT_EQ(leaf->GetParent(), c.kept ? &group : nullptr);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], c.message);
    if (c.mode == FailingObject::eEngineCode) {
      EXPECT_EQ(released, 1) << "the exception object is released";
    }
  }
  // A name holding "%" signs is shown as it stands.
  messages.clear();
  int released = 0;
  CNode group;
  auto leaf = std::make_shared<FailingObject>(FailingObject::eEngineCode, QZ::eCodeInvalidParameter,
                                              &released);
  leaf->SetValue(L"Name", CVariant(L"%s %d %n"));
  group.AddChild(leaf);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], L"Invalid parameter in '%s %d %n'");
}

TEST_F(TreeTest, ModelOfGroupsAndPrimitivesBuildsAndPlacesEverySolid) {
  auto ctx = NewEngineContext();
  ASSERT_TRUE(ctx) << "engine library not found at " << tree_test::EnginePath();
  auto root = std::make_shared<CNodeRoot>();
  root->SetContext(ctx);
  const Matrix12 up = Translation(0, 0, 100);
  root->SetMatrix(up.data());

  auto group = std::make_shared<CNode>();
  Matrix12 turn{};
  ctx->GetMatrixService()->Rotation(0, 0, 1, kPi / 2, turn.data());  // x -> y
  group->SetMatrix(turn.data());
  ASSERT_TRUE(root->AddChild(group));

  auto box = MakeBox(L"Plate", 10, 20, 30);
  const Matrix12 right = Translation(50, 0, 0);
  box->SetMatrix(right.data());
  ASSERT_TRUE(group->AddChild(box));
  auto sphere = std::make_shared<CSphere>();
  sphere->SetValue(L"r", CVariant(5.0));
  ASSERT_TRUE(root->AddChild(sphere));
  auto cone = std::make_shared<CCone>();
  cone->SetValue(L"r1", CVariant(4.0));
  cone->SetValue(L"r2", CVariant(2.0));
  cone->SetValue(L"l", CVariant(L"6"));  // a text that converts
  ASSERT_TRUE(group->AddChild(cone));
  auto torus = std::make_shared<CTorus>();
  torus->SetValue(L"r1", CVariant(10.0));
  torus->SetValue(L"r2", CVariant(2.0));
  ASSERT_TRUE(root->AddChild(torus));
  auto wedge = std::make_shared<CWedge>();
  for (auto [n, v] : {std::pair{L"wb", 4.0}, {L"h", 2.0}, {L"l", 3.0}, {L"wt", 1.0}})
    wedge->SetValue(n, CVariant(v));
  ASSERT_TRUE(root->AddChild(wedge));
  auto tube = std::make_shared<CHollowCylinder>();
  for (auto [n, v] : {std::pair{L"dout", 10.0}, {L"din", 6.0}, {L"l", 4.0}})
    tube->SetValue(n, CVariant(v));
  ASSERT_TRUE(root->AddChild(tube));
  auto hcone = std::make_shared<CHollowCone>();
  for (auto [n, v] :
       {std::pair{L"dout1", 10.0}, {L"dout2", 8.0}, {L"din1", 4.0}, {L"din2", 2.0}, {L"l", 5.0}})
    hcone->SetValue(n, CVariant(v));
  ASSERT_TRUE(root->AddChild(hcone));
  auto cyl = std::make_shared<CCylinder>();
  cyl->SetValue(L"r", CVariant(1.0));
  cyl->SetValue(L"l", CVariant(2.0));
  ASSERT_TRUE(root->AddChild(cyl));
  EXPECT_TRUE(messages.empty());

  // Box: turned a quarter (its 10 x 20 footprint becomes 20 x 10 at x -20..0), moved by the
  // turned (50, 0, 0) = (0, 50, 0), then lifted by the root.
  ExpectBox(BoxOf(*box), {-20, 50, 100, 0, 60, 130});
  ExpectBox(BoxOf(*sphere), {-5, -5, 95, 5, 5, 105});
  ExpectBox(BoxOf(*cone), {-4, -4, 100, 4, 4, 106});
  EXPECT_NEAR(box->GetShape()->GetVolume(), 6000, 1e-6);
  EXPECT_NEAR(cone->GetShape()->GetVolume(), kPi * 6 / 3 * (16 + 8 + 4), 1e-6);
  EXPECT_NEAR(torus->GetShape()->GetVolume(), 2 * kPi * kPi * 10 * 4, 1e-6);
  EXPECT_NEAR(wedge->GetShape()->GetVolume(), 3 * 2 * (4 + 1) / 2.0, 1e-9);
  EXPECT_NEAR(tube->GetShape()->GetVolume(), kPi * (25 - 9) * 4, 1e-6);
  EXPECT_NEAR(hcone->GetShape()->GetVolume(),
              kPi * 5 / 3 * (25 + 20 + 16) - kPi * 5 / 3 * (4 + 2 + 1), 1e-6);
  EXPECT_NEAR(cyl->GetShape()->GetVolume(), kPi * 2, 1e-9);
  for (CObject3D* o : {static_cast<CObject3D*>(box.get()), static_cast<CObject3D*>(sphere.get())})
    EXPECT_TRUE(o->GetShape()->IsValid());

  // Changing a parameter and updating the model rebuilds the solid at the same place.
  box->SetValue(L"w", CVariant(1.0));
  EXPECT_TRUE(root->Update());
  EXPECT_NEAR(box->GetShape()->GetVolume(), 600, 1e-6);
  ExpectBox(BoxOf(*box), {-20, 50, 100, 0, 51, 130});
}

TEST_F(TreeTest, BadParametersAreReportedPerObjectAndTheRestGoesOn) {
  auto ctx = NewEngineContext();
  ASSERT_TRUE(ctx) << "engine library not found at " << tree_test::EnginePath();
  auto root = std::make_shared<CNodeRoot>();
  root->SetContext(ctx);

  auto zero = MakeBox(L"Zero", 0, 1, 1);  // the engine refuses it
  auto nan = MakeBox(L"NaN", std::numeric_limits<double>::quiet_NaN(), 1, 1);
  auto text = MakeBox(L"Text", 1, 1, 1);
  text->SetValue(L"h", CVariant(L"abc"));  // does not convert
  auto good = MakeBox(L"Good", 1, 2, 3);
  EXPECT_TRUE(root->AddChild(zero));
  EXPECT_TRUE(root->AddChild(nan));
  EXPECT_TRUE(root->AddChild(text));
  EXPECT_TRUE(root->AddChild(good));
  EXPECT_EQ(messages, (std::vector<std::wstring>{L"Invalid parameter in 'Zero'",
                                                 L"Invalid parameter in 'NaN'",
                                                 L"Invalid parameter in 'Text'"}));
  EXPECT_EQ(root->GetChildCount(), 4);
  EXPECT_FALSE(zero->GetShape());
  EXPECT_FALSE(nan->GetShape());
  EXPECT_FALSE(text->GetShape());
  ASSERT_TRUE(good->GetShape());
  EXPECT_NEAR(good->GetShape()->GetVolume(), 6, 1e-9);

  // A group's update still rebuilds every child, then throws the first child's error (the
  // caller reports it, and may undo the change that caused it).
  messages.clear();
  good->SetValue(L"l", CVariant(4.0));
  int code = 0;
  try {
    root->Update();
  } catch (QZ::IException* e) {
    code = e->GetCode();
    e->Release();
  }
  EXPECT_EQ(code, QZ::eCodeInvalidParameter);  // "Zero", the first to fail
  EXPECT_TRUE(messages.empty());
  EXPECT_NEAR(good->GetShape()->GetVolume(), 8, 1e-9);
  EXPECT_FALSE(UpdateReportingErrors(*root));
  EXPECT_EQ(messages, (std::vector<std::wstring>{L"Invalid parameter in 'No name'"}));

  // A placement that is no placement (NaN) leaves no solid at a wrong place.
  messages.clear();
  Matrix12 bad = IdentityMatrix12();
  bad[3] = std::numeric_limits<double>::quiet_NaN();
  good->SetMatrix(bad.data());
  EXPECT_FALSE(UpdateReportingErrors(*good));
  EXPECT_FALSE(good->GetShape());
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], L"Invalid parameter in 'Good'");
}
