// Elements of the same sizes are built once: the second is the very solid the engine kept, placed
// on its own; two such parts still stay two parts (names, colours, places) through an exchange
// file; sizes that fail are refused every time.
#include "EngineFixture.h"

namespace engine_test {
namespace {

TEST_F(EngineTest, ElementsOfTheSameSizesStayPartsOfTheirOwn) {
  CAD::IFastenerFactory* f = ctx->GetFastenerFactory();
  ObjPtr<CAD::IShape> first(f->BoltHex(16, 6.4, 0.6, 14.6, 20, 26, 10, 10));
  ObjPtr<CAD::IShape> second(f->BoltHex(16, 6.4, 0.6, 14.6, 20, 26, 10, 10));
  ObjPtr<CAD::IShape> other(f->BoltHex(16, 6.4, 0.6, 14.6, 20, 30, 10, 10));
  ASSERT_TRUE(first && second && other);
  EXPECT_NE(first.Get(), second.Get());
  EXPECT_TRUE(second->IsValid());
  EXPECT_NEAR(second->GetVolume(), first->GetVolume(), 1e-9 * first->GetVolume());
  EXPECT_GT(other->GetVolume(), first->GetVolume() + 1);  // 4 more of thread
  double a[6], b[6];
  ASSERT_TRUE(first->GetBoundingBox(a));
  ASSERT_TRUE(second->GetBoundingBox(b));
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(a[k], b[k], 1e-9) << k;

  // Two parts of one document, placed apart, named and coloured each its own way.
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  const double at[12] = {1, 0, 0, 100, 0, 1, 0, 0, 0, 0, 1, 0};
  ObjPtr<CAD::IShape> moved(second->Placed(at));
  ObjPtr<CAD::IPart> p1(doc->AddShape(first.Get()));
  ObjPtr<CAD::IPart> p2(doc->AddShape(moved.Get()));
  p1->SetName("Left");
  p1->SetColor(1, 0, 0);
  p2->SetName("Right");
  p2->SetColor(0, 0, 1);
  TempDir dir;
  const std::string path = dir / "bolts.step";
  ASSERT_TRUE(ctx->ExportSTEP(path.c_str()));
  ObjPtr<CAD::ICADContext> in(Tools()->NewContext());
  ASSERT_TRUE(in->ImportSTEP(path.c_str()));
  ObjPtr<CAD::IAssembly> back(in->GetAssembly());
  ASSERT_EQ(back->GetChildCount(), 2);
  ObjPtr<CAD::IItem> left = Child(back.Get(), 0), right = Child(back.Get(), 1);
  EXPECT_EQ(NameOf(left.Get()), "Left");
  EXPECT_EQ(NameOf(right.Get()), "Right");
  ExpectColor(AsPart(left), 1, 0, 0);
  ExpectColor(AsPart(right), 0, 0, 1);
  const std::vector<double> l = PlacedBox(AsPart(left)), r = PlacedBox(AsPart(right));
  ASSERT_EQ(l.size(), 6u);
  ASSERT_EQ(r.size(), 6u);
  EXPECT_NEAR(r[0] - l[0], 100, 1e-4);

  // Sizes that give no solid fail again and again (nothing is kept of a failure).
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(CodeOf([&] { ObjPtr<CAD::IShape> s(f->BoltHex(8, 6.4, 0.6, 14.6, 20, 26, 10, 10)); }),
              QZ::eCodeInvalidParameter);
}

}  // namespace
}  // namespace engine_test
