// A group that takes in imported parts and copies of leaves with the recogniser it is handed: a
// stand-in that answers by name, without any of the shaft code, decides what takes the place of
// a part; no recogniser means no recognition at all.
#include "model/TreeObject.h"
#include "model/TreeObjectPrimitives.h"

#include "TreeTestEngine.h"
#include "testing/TestFiles.h"
#include "xml/XmlText.h"

#include <set>
#include <string>
#include <vector>

namespace {

using tree_test::NewEngineContext;

// Recognises the parts and leaves whose names it was given: for each it adds a group named
// "recognised <name>" to the group it is asked for, hands back the marker as the engine's
// answer and tells the copy form that all sections lie at position 0. Everything else gets a
// null answer and no object (and the state is not touched: the group resets it).
class NameRecogniser : public IPartRecogniser {
 public:
  NameRecogniser(std::set<std::wstring> names, QZ::ObjPtr<QZ::CAD::IRecognizeShaft> marker)
      : m_names(std::move(names)), m_marker(std::move(marker)) {}

  struct Question {
    std::wstring name;
    CNode* group;
    ICADContext* context;
  };
  mutable std::vector<Question> asked;

  std::shared_ptr<CTreeObject> RecognizePart(
      ICADContext* context, QZ::CAD::IPart* part, CNode& group,
      QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result) const override {
    std::wstring name;
    if (QZ::ObjPtr<QZ::CAD::IItemInfo> info{part->GetInfo()})
      name = MorlaneText::FromUtf8(info->GetName() ? info->GetName() : "");
    return Answer(name, context, group, result, nullptr);
  }

  std::shared_ptr<CTreeObject> RecognizeLeaf(ICADContext* context, CObject3D& leaf, CNode& group,
                                             QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result,
                                             RecognizeState* state) const override {
    return Answer(leaf.GetName(), context, group, result, state);
  }

 private:
  std::shared_ptr<CTreeObject> Answer(const std::wstring& name, ICADContext* context, CNode& group,
                                      QZ::ObjPtr<QZ::CAD::IRecognizeShaft>& result,
                                      RecognizeState* state) const {
    asked.push_back({name, &group, context});
    result = nullptr;
    if (!m_names.count(name)) return nullptr;
    result = m_marker;
    auto node = std::make_shared<CNode>();
    node->SetValue(L"Name", CVariant(L"recognised " + name));
    group.AddChild(node);
    if (state) *state = eRecognizeAllAtZero;
    return node;
  }

  std::set<std::wstring> m_names;
  QZ::ObjPtr<QZ::CAD::IRecognizeShaft> m_marker;
};

class TreeRecogniserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetBuildErrorReporter([this](const std::wstring& m) { messages.push_back(m); });
    ctx = NewEngineContext();
    ASSERT_TRUE(ctx) << "engine library not found at " << tree_test::EnginePath();
    // Any engine answer will do as the marker; the engine finds a shaft in a plain cylinder.
    CCylinder pin;
    pin.SetValue(L"r", CVariant(3.0));
    pin.SetValue(L"l", CVariant(30.0));
    pin.SetContext(ctx);
    ASSERT_TRUE(UpdateReportingErrors(pin));
    QZ::ObjPtr<QZ::CAD::IShape> shape = pin.GetShape();
    ASSERT_TRUE(shape);
    marker =
        QZ::ObjPtr<QZ::CAD::IRecognizeShaft>(ctx->GetShaftRecognizer()->Recognize(shape.Get()));
    ASSERT_TRUE(marker);
  }
  void TearDown() override { SetBuildErrorReporter(nullptr); }

  // Root: the box "Plate" and the group "Frame" (at x 100) holding the sphere "Ball" and the
  // cylinder "Pin", in this order.
  std::shared_ptr<CNodeRoot> BuildModel() {
    auto root = std::make_shared<CNodeRoot>();
    root->SetContext(ctx);
    auto plate = std::make_shared<CBox>();
    plate->SetValue(L"Name", CVariant(L"Plate"));
    plate->SetColor(L"Color", 0x000000FF);
    for (auto [n, v] : {std::pair{L"w", 40.0}, {L"h", 20.0}, {L"l", 5.0}})
      plate->SetValue(n, CVariant(v));
    root->AddChild(plate);
    auto frame = std::make_shared<CNode>();
    frame->SetValue(L"Name", CVariant(L"Frame"));
    Matrix12 at = IdentityMatrix12();
    at[3] = 100;
    frame->SetMatrix(at.data());
    root->AddChild(frame);
    auto ball = std::make_shared<CSphere>();
    ball->SetValue(L"Name", CVariant(L"Ball"));
    ball->SetValue(L"r", CVariant(7.0));
    frame->AddChild(ball);
    auto pin = std::make_shared<CCylinder>();
    pin->SetValue(L"Name", CVariant(L"Pin"));
    pin->SetValue(L"r", CVariant(3.0));
    pin->SetValue(L"l", CVariant(30.0));
    pin->SetColor(L"Color", 0x00336699);
    frame->AddChild(pin);
    return root;
  }

  // The model written to STEP and read into a fresh context whose document is handed back.
  QZ::ObjPtr<ICADContext> Imported(const TempDir& dir) {
    auto model = BuildModel();
    QZ::ObjPtr<QZ::CAD::IAssembly> assembly(ctx->GetAssembly());
    model->ExportToAssembly(assembly.Get());
    EXPECT_TRUE(ctx->ExportSTEP((dir / "model.step").c_str())) << ctx->GetLastErrorText();
    auto in = NewEngineContext();
    EXPECT_TRUE(in->ImportSTEP((dir / "model.step").c_str())) << in->GetLastErrorText();
    return in;
  }

  static void ImportAll(ICADContext* from, CNode& root, const IPartRecogniser* recogniser,
                        RecognitionList& list) {
    QZ::ObjPtr<QZ::CAD::IAssembly> doc(from->GetAssembly());
    for (int i = 0; i < doc->GetChildCount(); ++i) {
      QZ::ObjPtr<QZ::CAD::IItem> item(doc->GetChild(i));
      root.ImportItem(item.Get(), recogniser, list);
    }
  }

  // "name" for a leaf with a solid, "[name]" for a group without children, "name{...}" for a
  // group with its children; siblings separated by commas.
  static std::wstring Outline(const CNode& node) {
    std::wstring out;
    for (const auto& child : node.GetChildren()) {
      if (!out.empty()) out += L",";
      if (child->IsNode()) {
        const auto& group = static_cast<const CNode&>(*child);
        out += group.GetChildCount() ? child->GetName() + L"{" + Outline(group) + L"}"
                                     : L"[" + child->GetName() + L"]";
      } else {
        out += child->GetName();
        if (!static_cast<const CObject3D&>(*child).GetShape()) out += L"(no solid)";
      }
    }
    return out;
  }

  QZ::ObjPtr<ICADContext> ctx;
  QZ::ObjPtr<QZ::CAD::IRecognizeShaft> marker;
  std::vector<std::wstring> messages;
};

}  // namespace

TEST_F(TreeRecogniserTest, ImportHandsEveryPartToTheRecogniserAndTakesWhatItRecognised) {
  TempDir dir;
  QZ::ObjPtr<ICADContext> in = Imported(dir);
  auto back = std::make_shared<CNodeRoot>();
  back->SetContext(in);
  NameRecogniser recogniser({L"Pin"}, marker);
  RecognitionList recognized;
  ImportAll(in.Get(), *back, &recogniser, recognized);
  EXPECT_TRUE(messages.empty());

  // Asked once per part, in order, with the group the part goes to and that group's context.
  ASSERT_EQ(recogniser.asked.size(), 3u);
  EXPECT_EQ(recogniser.asked[0].name, L"Plate");
  EXPECT_EQ(recogniser.asked[0].group, back.get());
  EXPECT_EQ(recogniser.asked[1].name, L"Ball");
  EXPECT_EQ(recogniser.asked[2].name, L"Pin");
  ASSERT_EQ(back->GetChildCount(), 2);
  EXPECT_EQ(recogniser.asked[2].group, back->GetChild(1).get());
  for (const auto& q : recogniser.asked) EXPECT_EQ(q.context, in.Get());
  // Its answers in the list, null included; what it recognised took the pin's place, the rest
  // are plain solids with their names and colours.
  ASSERT_EQ(recognized.size(), 3u);
  EXPECT_FALSE(recognized[0]);
  EXPECT_FALSE(recognized[1]);
  EXPECT_EQ(recognized[2].Get(), marker.Get());
  EXPECT_EQ(Outline(*back), L"Plate,Frame{Ball,[recognised Pin]}");
  auto plate = std::dynamic_pointer_cast<CObject3D>(back->GetChild(0));
  ASSERT_TRUE(plate);
  EXPECT_EQ(plate->FindColorProperty(L"Color")->GetColor(), 0x000000FFu);
}

TEST_F(TreeRecogniserTest, ImportWithARecogniserThatFindsNothingOrWithoutOneKeepsEveryPart) {
  TempDir dir;
  QZ::ObjPtr<ICADContext> in = Imported(dir);

  NameRecogniser nothing({}, marker);
  auto asked = std::make_shared<CNodeRoot>();
  asked->SetContext(in);
  RecognitionList answers;
  ImportAll(in.Get(), *asked, &nothing, answers);
  EXPECT_EQ(nothing.asked.size(), 3u);
  ASSERT_EQ(answers.size(), 3u);
  for (const auto& a : answers) EXPECT_FALSE(a);
  EXPECT_EQ(Outline(*asked), L"Plate,Frame{Ball,Pin}");

  // No recogniser: nothing tried, the list left alone, the same tree.
  auto plain = std::make_shared<CNodeRoot>();
  plain->SetContext(in);
  RecognitionList untouched;
  ImportAll(in.Get(), *plain, nullptr, untouched);
  EXPECT_TRUE(untouched.empty());
  EXPECT_EQ(Outline(*plain), L"Plate,Frame{Ball,Pin}");
  EXPECT_TRUE(messages.empty());
}

TEST_F(TreeRecogniserTest, CopyHandsEveryLeafToTheRecogniserAndEndsWithTheLastLeafsState) {
  auto model = BuildModel();
  auto copy = std::make_shared<CNodeRoot>();
  copy->SetContext(NewEngineContext());

  // The ball is recognised; the pin after it is not, and its copy resets the state although
  // the recogniser leaves it alone.
  NameRecogniser ball({L"Ball"}, marker);
  RecognitionList recognized;
  RecognizeState state = eRecognizeSomeAtZero;
  copy->AppendCopy(model.get(), &ball, recognized, &state);
  EXPECT_EQ(state, eRecognizeNoneAtZero);
  ASSERT_EQ(ball.asked.size(), 3u);
  EXPECT_EQ(ball.asked[0].name, L"Plate");
  EXPECT_EQ(ball.asked[1].name, L"Ball");
  EXPECT_EQ(ball.asked[2].name, L"Pin");
  for (const auto& q : ball.asked) EXPECT_EQ(q.context, copy->GetContext().Get());
  ASSERT_EQ(recognized.size(), 3u);
  EXPECT_FALSE(recognized[0]);
  EXPECT_EQ(recognized[1].Get(), marker.Get());
  EXPECT_FALSE(recognized[2]);
  // A root is copied as a group (with the root's own name).
  EXPECT_EQ(Outline(*copy), model->GetName() + L"{Plate,Frame{[recognised Ball],Pin}}");
  // The pin's copy sits at its global placement.
  auto top = std::dynamic_pointer_cast<CNode>(copy->GetChild(0));
  ASSERT_TRUE(top);
  auto frame = std::dynamic_pointer_cast<CNode>(top->GetChild(1));
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->GetMatrix(), IdentityMatrix12());
  EXPECT_DOUBLE_EQ(frame->GetChild(1)->GetMatrix()[3], 100);

  // The pin recognised last: its state stays.
  NameRecogniser pin({L"Pin"}, marker);
  auto second = std::make_shared<CNodeRoot>();
  second->SetContext(ctx);
  RecognitionList more;
  state = eRecognizeSomeAtZero;
  second->AppendCopy(model.get(), &pin, more, &state);
  EXPECT_EQ(state, eRecognizeAllAtZero);
  ASSERT_EQ(more.size(), 3u);
  EXPECT_EQ(more[2].Get(), marker.Get());
  EXPECT_TRUE(messages.empty());
}

TEST_F(TreeRecogniserTest, CopyWithoutRecogniserCopiesEveryLeafAsItIs) {
  auto model = BuildModel();
  auto copy = std::make_shared<CNodeRoot>();
  copy->SetContext(ctx);
  RecognitionList untouched;
  RecognizeState state = eRecognizeAllAtZero;
  for (const auto& child : model->GetChildren())
    copy->AppendCopy(child.get(), nullptr, untouched, &state);
  EXPECT_TRUE(untouched.empty());
  EXPECT_EQ(state, eRecognizeNoneAtZero);
  EXPECT_EQ(Outline(*copy), L"Plate,Frame{Ball,Pin}");
  auto plate = std::dynamic_pointer_cast<CObject3D>(copy->GetChild(0));
  ASSERT_TRUE(plate);
  EXPECT_EQ(plate->FindColorProperty(L"Color")->GetColor(), 0x000000FFu);
  EXPECT_TRUE(messages.empty());
}
