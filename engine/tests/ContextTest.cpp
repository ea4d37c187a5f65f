// Primitive solids, shapes and placements, the matrix service and engine exceptions.
#include "EngineFixture.h"

#include <limits>

using namespace engine_test;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct PrimitiveCase {
  const char* name;
  std::function<CAD::IShape*(CAD::ICADContext*)> build;
  double volume;
  double box[6];  // expected bounding box
};

void ExpectBox(CAD::IShape* s, const double* want, double tol) {
  double box[6];
  ASSERT_TRUE(s->GetBoundingBox(box));
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(box[i], want[i], tol) << "bounding box entry " << i;
}

}  // namespace

TEST_F(EngineTest, EachPrimitiveIsAValidSolidOfTheRightVolumeAndExtent) {
  const double coneV = kPi * 30 / 3 * (10 * 10 + 10 * 4 + 4 * 4);
  const double hollowCone =
      kPi * 40 / 3 * (20 * 20 + 20 * 15 + 15 * 15) - kPi * 40 / 3 * (8 * 8 + 8 * 5 + 5 * 5);
  const std::vector<PrimitiveCase> cases = {
      {"box", [](CAD::ICADContext* c) { return c->Box(10, 20, 30); }, 6000, {0, 0, 0, 10, 20, 30}},
      {"sphere",
       [](CAD::ICADContext* c) { return c->Sphere(5); },
       4.0 / 3 * kPi * 125,
       {-5, -5, -5, 5, 5, 5}},
      {"cylinder",
       [](CAD::ICADContext* c) { return c->Cylinder(4, 10); },
       kPi * 16 * 10,
       {-4, -4, 0, 4, 4, 10}},
      {"cone",
       [](CAD::ICADContext* c) { return c->Cone(10, 4, 30); },
       coneV,
       {-10, -10, 0, 10, 10, 30}},
      {"pointed cone",
       [](CAD::ICADContext* c) { return c->Cone(6, 0, 9); },
       kPi * 36 * 9 / 3,
       {-6, -6, 0, 6, 6, 9}},
      {"torus",
       [](CAD::ICADContext* c) { return c->Torus(20, 5); },
       2 * kPi * kPi * 20 * 25,
       {-25, -25, -5, 25, 25, 5}},
      {"wedge",
       [](CAD::ICADContext* c) { return c->Wedge(10, 6, 8, 4); },
       8 * 6 * (10 + 4) / 2.0,
       {0, 0, 0, 10, 6, 8}},
      {"hollow cylinder",
       [](CAD::ICADContext* c) { return c->HollowCylinder(20, 12, 5); },
       kPi * (100 - 36) * 5,
       {-10, -10, 0, 10, 10, 5}},
      {"full hollow cylinder",
       [](CAD::ICADContext* c) { return c->HollowCylinder(20, 0, 5); },
       kPi * 100 * 5,
       {-10, -10, 0, 10, 10, 5}},
      {"hollow cone",
       [](CAD::ICADContext* c) { return c->HollowCone(40, 30, 16, 10, 40); },
       hollowCone,
       {-20, -20, 0, 20, 20, 40}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ObjPtr<CAD::IShape> s(c.build(ctx.Get()));
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->IsValid());
    EXPECT_EQ(s->GetSolidCount(), 1);
    EXPECT_NEAR(s->GetVolume(), c.volume, c.volume * 1e-6);
    ExpectBox(s.Get(), c.box, 1e-3 * std::max(1.0, c.box[3]));
  }
}

TEST_F(EngineTest, InvalidPrimitiveParametersRaiseInvalidParameter) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<const char*, std::function<void()>>> bad = {
      {"box zero w", [&] { ctx->Box(0, 1, 1); }},
      {"box negative l", [&] { ctx->Box(1, 1, -5); }},
      {"box NaN", [&] { ctx->Box(nan, 1, 1); }},
      {"box infinite", [&] { ctx->Box(1, inf, 1); }},
      {"sphere zero", [&] { ctx->Sphere(0); }},
      {"cylinder zero length", [&] { ctx->Cylinder(1, 0); }},
      {"cone both radii zero", [&] { ctx->Cone(0, 0, 5); }},
      {"cone negative radius", [&] { ctx->Cone(-1, 2, 5); }},
      {"torus tube too big", [&] { ctx->Torus(5, 5); }},
      {"torus zero", [&] { ctx->Torus(5, 0); }},
      {"wedge negative top", [&] { ctx->Wedge(5, 5, 5, -1); }},
      {"wedge zero height", [&] { ctx->Wedge(5, 0, 5, 1); }},
      {"hollow cylinder bore too wide", [&] { ctx->HollowCylinder(10, 10, 5); }},
      {"hollow cylinder negative bore", [&] { ctx->HollowCylinder(10, -1, 5); }},
      {"hollow cone bore too wide", [&] { ctx->HollowCone(10, 8, 4, 9, 5); }},
      {"hollow cone no outer", [&] { ctx->HollowCone(0, 0, 0, 0, 5); }},
  };
  for (const auto& [name, f] : bad) EXPECT_EQ(CodeOf(f), QZ::eCodeInvalidParameter) << name;
}

TEST_F(EngineTest, PlacedCopyDependsOnTheMatrixOnly) {
  ObjPtr<CAD::IShape> box(ctx->Box(10, 10, 10));
  double m[12];
  Translation(m, 100, 0, 0);
  ObjPtr<CAD::IShape> moved(box->Placed(m));
  const double movedBox[6] = {100, 0, 0, 110, 10, 10};
  ExpectBox(moved.Get(), movedBox, 1e-6);
  // Placing the placed copy again replaces the placement instead of adding to it.
  Translation(m, 0, 50, 0);
  ObjPtr<CAD::IShape> again(moved->Placed(m));
  const double againBox[6] = {0, 50, 0, 10, 60, 10};
  ExpectBox(again.Get(), againBox, 1e-6);
  // The original is unchanged and a placement keeps the volume.
  const double origin[6] = {0, 0, 0, 10, 10, 10};
  ExpectBox(box.Get(), origin, 1e-6);
  EXPECT_NEAR(again->GetVolume(), 1000, 1e-6);

  // A quarter turn about z.
  double rot[12];
  ctx->GetMatrixService()->Rotation(0, 0, 1, kPi / 2, rot);
  ObjPtr<CAD::IShape> turned(box->Placed(rot));
  const double turnedBox[6] = {-10, 0, 0, 0, 10, 10};
  ExpectBox(turned.Get(), turnedBox, 1e-6);
}

TEST_F(EngineTest, BadMatricesAreRefused) {
  ObjPtr<CAD::IShape> box(ctx->Box(1, 1, 1));
  double m[12];
  Translation(m, 0, 0, 0);
  m[3] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(CodeOf([&] { ObjPtr<CAD::IShape>(box->Placed(m)); }), QZ::eCodeInvalidParameter);
  Translation(m, 0, 0, 0);
  m[5] = std::numeric_limits<double>::infinity();
  EXPECT_EQ(CodeOf([&] { ObjPtr<CAD::IShape>(box->Placed(m)); }), QZ::eCodeInvalidParameter);
  Translation(m, 0, 0, 0);
  m[0] = 0;  // singular
  EXPECT_EQ(CodeOf([&] { ObjPtr<CAD::IShape>(box->Placed(m)); }), QZ::eCodeInvalidParameter);
  Translation(m, 0, 0, 0);
  m[1] = 0.5;  // shear
  EXPECT_EQ(CodeOf([&] { ObjPtr<CAD::IShape>(box->Placed(m)); }), QZ::eCodeInvalidParameter);
  Translation(m, 0, 0, 0);
  m[0] = -1;  // mirror
  EXPECT_EQ(CodeOf([&] { ObjPtr<CAD::IShape>(box->Placed(m)); }), QZ::eCodeInvalidParameter);
  EXPECT_EQ(CodeOf([&] { ObjPtr<CAD::IShape>(box->Placed(nullptr)); }), QZ::eCodeInvalidParameter);

  // A uniform scale is a valid placement and scales the solid.
  Translation(m, 0, 0, 0);
  m[0] = m[5] = m[10] = 2;
  ObjPtr<CAD::IShape> big(box->Placed(m));
  EXPECT_NEAR(big->GetVolume(), 8, 1e-6);
  EXPECT_TRUE(big->IsValid());
}

TEST_F(EngineTest, MatrixServiceMultipliesParentFirst) {
  CAD::IMatrixService* ms = ctx->GetMatrixService();
  ASSERT_NE(ms, nullptr);
  EXPECT_EQ(ms, ctx->GetMatrixService());  // a service of the context, always the same
  double parent[12], own[12], out[12];
  ms->Rotation(0, 0, 1, kPi / 2, parent);  // x -> y
  ms->Translation(10, 0, 0, own);
  EXPECT_EQ(ms->Multiply(parent, own, out), out);
  // The child's origin sits at parent * (10, 0, 0) = (0, 10, 0).
  EXPECT_NEAR(out[3], 0, 1e-12);
  EXPECT_NEAR(out[7], 10, 1e-12);
  EXPECT_NEAR(out[11], 0, 1e-12);
  // The other order gives a different placement.
  double other[12];
  ms->Multiply(own, parent, other);
  EXPECT_NEAR(other[3], 10, 1e-12);
  EXPECT_NEAR(other[7], 0, 1e-12);
  // Inverse undoes.
  double inv[12], id[12];
  ms->Inverse(out, inv);
  ms->Multiply(out, inv, id);
  for (int i = 0; i < 12; ++i)
    EXPECT_NEAR(id[i], (i == 0 || i == 5 || i == 10) ? 1 : 0, 1e-12) << i;
  const double p[3] = {1, 0, 0};
  double q[3];
  ms->TransformPoint(out, p, q);
  EXPECT_NEAR(q[0], 0, 1e-12);
  EXPECT_NEAR(q[1], 11, 1e-12);
  EXPECT_EQ(CodeOf([&] { ms->Rotation(0, 0, 0, 1, out); }), QZ::eCodeInvalidParameter);
}

TEST_F(EngineTest, HeaderServiceKeepsItsTexts) {
  CAD::IHeaderService* h = ctx->GetHeaderService();
  EXPECT_STREQ(h->GetAuthor(), "");
  h->SetFileDescription("desc");
  h->SetFileName("name");
  h->SetAuthor("me");
  h->SetOrganization("org");
  h->SetAuthorisation("auth");
  h->SetAuthor(nullptr);  // null is an empty text
  EXPECT_STREQ(h->GetFileDescription(), "desc");
  EXPECT_STREQ(h->GetFileName(), "name");
  EXPECT_STREQ(h->GetAuthor(), "");
  EXPECT_STREQ(h->GetOrganization(), "org");
  EXPECT_STREQ(h->GetAuthorisation(), "auth");
  // Another context has its own texts.
  ObjPtr<CAD::ICADContext> other(Tools()->NewContext());
  EXPECT_STREQ(other->GetHeaderService()->GetFileName(), "");
}

TEST_F(EngineTest, FamilyFactoriesBuildThroughTheContext) {
  ObjPtr<CAD::IShape> beam(ctx->GetBeamFactory()->Rectangular(10, 10, 100, 1));
  ASSERT_TRUE(beam);
  EXPECT_TRUE(beam->IsValid());
  EXPECT_NEAR(beam->GetVolume(), (100 - 64) * 100, 1e-6);
  ObjPtr<CAD::IShaftBuilder> builder(ctx->GetShaftFactory()->NewShaftBuilder());
  ASSERT_TRUE(builder);
  ObjPtr<CAD::ISectionShape> section(builder->AddSection(0, 20, 20, 0, 0, 10, 0, 0));
  ASSERT_TRUE(section);
  EXPECT_EQ(builder->GetSectionCount(), 1);
  ObjPtr<CAD::IShape> gear(ctx->GetGearFactory()->ExternalGear(20, 1, 5, 20, 0, 0, 0, 0));
  EXPECT_TRUE(gear && gear->IsValid());
  ObjPtr<CAD::IShape> bearing(ctx->GetBearingFactory()->RollingBearing(52, 25, 15, 0));
  EXPECT_TRUE(bearing && bearing->IsValid());
  ObjPtr<CAD::IShape> bolt(ctx->GetFastenerFactory()->BoltHex(10, 4, 0.5, 8.9, 20, 18, 6, 6));
  EXPECT_TRUE(bolt && bolt->IsValid());
  EXPECT_EQ(CodeOf([&] { ctx->GetBeamFactory()->Rectangular(10, 10, 100, 6); }),
            QZ::eCodeInvalidParameter);
  // The recogniser is offered: a box is no shaft.
  ObjPtr<CAD::IShape> box(ctx->Box(1, 1, 1));
  EXPECT_EQ(ctx->GetShaftRecognizer()->Recognize(box.Get()), nullptr);
}

TEST_F(EngineTest, ExceptionsCarryCodeAndText) {
  try {
    ctx->Box(-1, 1, 1);
    FAIL() << "no exception";
  } catch (QZ::IException* e) {
    EXPECT_EQ(e->GetCode(), QZ::eCodeInvalidParameter);
    EXPECT_NE(std::string(e->GetText()).find("w"), std::string::npos);
    e->Release();
  }
}

TEST(EngineObjPtr, CountsReferences) {
  ObjPtr<CAD::ICADContext> ctx(Tools()->NewContext());
  ObjPtr<CAD::IShape> a(ctx->Box(1, 2, 3));
  {
    ObjPtr<CAD::IShape> b = a;  // shares
    ObjPtr<CAD::IShape> c = std::move(b);
    EXPECT_FALSE(b);
    EXPECT_EQ(c.Get(), a.Get());
  }
  // a still holds a live object.
  EXPECT_NEAR(a->GetVolume(), 6, 1e-9);
  CAD::IShape* raw = a.AddRefGet();
  a = nullptr;
  EXPECT_NEAR(raw->GetVolume(), 6, 1e-9);  // alive through the extra reference
  raw->Release();
  // The context outlives the shapes made from it only as long as someone holds it; shapes do
  // not need it.
  ObjPtr<CAD::IShape> keep(ctx->Sphere(1));
  ctx = nullptr;
  EXPECT_TRUE(keep->IsValid());
}
