// What a viewer process recognises without setting anything up: the engine loaded as the
// workspace loads it, and shafts recognised in a copy or an import come back as modelled
// shafts with their sections (the library's own builder is in place from the start).
#include "model/ShaftRecognition.h"
#include "model/elements/Shafts.h"
#include "workspace/CadEngineLibrary.h"

#include "testing/EngineLibrary.h"

#include <gtest/gtest.h>

namespace {

TEST(RecognitionSetup, ShaftsAreBuiltFromTheStartAndAnEmptyBuilderTurnsThatOff) {
  CCadEngineLibrary library;
  ASSERT_EQ(library.LoadFrom(morlane_test::EngineLibraryPath()), CCadEngineLibrary::eLoaded)
      << library.GetError();
  QZ::ObjPtr<ICADContext> ctx(library.GetTools()->NewContext());
  ASSERT_TRUE(ctx);
  // A modelled shaft of two adjoining sections, its solid held by a plain leaf.
  auto model = std::make_shared<CNodeRoot>();
  model->SetContext(ctx);
  auto shaft = std::make_shared<CShaft>();
  model->AddChild(shaft);
  for (double d : {40.0, 30.0}) {
    auto s = std::make_shared<CShaftSection>();
    s->SetValue(L"dout1", CVariant(d));
    s->SetValue(L"dout2", CVariant(d));
    s->SetValue(L"l", CVariant(50.0));
    shaft->AddChild(s);
  }
  CObject3D leaf;
  leaf.SetValue(L"Name", CVariant(L"Axle"));
  leaf.SetShape(QZ::ObjPtr<QZ::CAD::IShape>(shaft->GetShaftBuilder()->GetShape()));
  ASSERT_TRUE(leaf.GetShape());

  auto copy = std::make_shared<CNodeRoot>();
  copy->SetContext(ctx);
  QZ::ObjPtr<QZ::CAD::IRecognizeShaft> result;
  RecognizeState state = eRecognizeNoneAtZero;
  auto got =
      std::dynamic_pointer_cast<CShaft>(RecognizeModelLeaf(ctx.Get(), leaf, *copy, result, &state));
  ASSERT_TRUE(got);
  EXPECT_EQ(copy->GetChildCount(), 1);
  ASSERT_EQ(got->GetChildCount(), 2);
  EXPECT_EQ(got->GetChild(1)->GetName(), L"Axle_2");
  EXPECT_NEAR(got->GetChild(1)->GetValue(L"dout1").ToDouble(), 30, 1e-6);
  EXPECT_TRUE(std::dynamic_pointer_cast<CShaftSection>(got->GetChild(1))->GetShape());
  EXPECT_EQ(state, eRecognizeAllAtZero);

  // An empty builder: the engine still answers, but no shaft is added.
  SetRecognizedShaftBuilder(nullptr);
  auto plain = std::make_shared<CNodeRoot>();
  plain->SetContext(ctx);
  EXPECT_FALSE(RecognizeModelLeaf(ctx.Get(), leaf, *plain, result, &state));
  EXPECT_TRUE(result);
  EXPECT_EQ(plain->GetChildCount(), 0);
  SetRecognizedShaftBuilder(BuildRecognizedShaft);
  EXPECT_TRUE(RecognizeModelLeaf(ctx.Get(), leaf, *plain, result, &state));
  EXPECT_EQ(plain->GetChildCount(), 1);
}

}  // namespace
