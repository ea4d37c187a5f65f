// Elements of the same sizes share one built solid (SolidMemo), and elements are built on
// several threads at once: both must give exactly the solids that building each element alone,
// one after the other and without sharing, gives. Measured on the kernel shapes: volume, exact
// box, faces, solids and validity.
#include "GeometryFixture.h"

#include <BRepBndLib.hxx>
#include <Bnd_Box.hxx>

#include <array>
#include <functional>
#include <thread>
#include <vector>

namespace geometry_test {
namespace {

struct Measures {
  double volume = 0;
  std::array<double, 6> box{};
  int faces = 0, solids = 0;
  bool valid = false;
};

Measures Measure(const TopoDS_Shape& s) {
  Measures m;
  m.volume = Volume(s);
  Bnd_Box b;
  BRepBndLib::AddOptimal(s, b, false, false);
  b.SetGap(0);
  b.Get(m.box[0], m.box[1], m.box[2], m.box[3], m.box[4], m.box[5]);
  for (TopExp_Explorer e(s, TopAbs_FACE); e.More(); e.Next()) ++m.faces;
  for (TopExp_Explorer e(s, TopAbs_SOLID); e.More(); e.Next()) ++m.solids;
  m.valid = Valid(s);
  return m;
}

void ExpectSame(const Measures& a, const Measures& b, const std::string& what) {
  EXPECT_NEAR(a.volume, b.volume, 1e-9 * a.volume) << what;
  for (int k = 0; k < 6; ++k) EXPECT_NEAR(a.box[k], b.box[k], 1e-9) << what << " box " << k;
  EXPECT_EQ(a.faces, b.faces) << what;
  EXPECT_EQ(a.solids, b.solids) << what;
  EXPECT_EQ(a.valid, b.valid) << what;
}

struct Element {
  const char* name;
  std::function<QZ::CAD::IShape*()> build;
};

// Elements of every family the engine keeps, primitives included.
std::vector<Element> Elements(QZ::CAD::ICADContext* ctx) {
  using namespace cad_engine;
  return {
      {"box", [ctx] { return ctx->Box(40, 30, 20); }},
      {"hollow cylinder", [ctx] { return ctx->HollowCylinder(40, 25, 30); }},
      {"torus", [ctx] { return ctx->Torus(30, 5); }},
      {"hexagon bolt",
       [] { return FastenerFactory()->BoltHex(16, 6.4, 0.6, 14.6, 20, 26, 10, 10); }},
      {"socket screw", [] { return FastenerFactory()->BoltHexSocket(8, 8, 16, 24, 12, 8, 6, 4); }},
      {"ball bearing", [] { return BearingFactory()->RollingBearing(62, 30, 16, 0); }},
      {"tapered roller bearing", [] { return BearingFactory()->RollingBearing(72, 35, 20, 12); }},
      {"spur gear", [] { return GearFactory()->ExternalGear(24, 2, 20, 20, 0, 0, 0, 12); }},
      {"helical gear", [] { return GearFactory()->ExternalGear(19, 2, 15, 20, 12, 0, 0, 10); }},
      {"I-beam", [] { return BeamFactory()->BeamI(100, 50, 6, 4, 5, 2, 300, false); }},
  };
}

class SharedSolids : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx = QZ::ObjPtr<QZ::CAD::ICADContext>(EntryPoint()->NewContext());
    ASSERT_TRUE(ctx);
    // What each element is when built alone, nothing shared.
    cad_engine::SolidMemo::SetEnabled(false);
    for (const Element& e : Elements(ctx.Get())) {
      auto b = Build(e.build);
      ASSERT_TRUE(b) << e.name;
      alone.push_back(Measure(b->Kernel()));
    }
    cad_engine::SolidMemo::SetEnabled(true);
    cad_engine::SolidMemo::Clear();
  }
  void TearDown() override {
    cad_engine::SolidMemo::SetEnabled(true);
    cad_engine::SolidMemo::Clear();
  }
  QZ::ObjPtr<QZ::CAD::ICADContext> ctx;
  std::vector<Measures> alone;
};

TEST_F(SharedSolids, ElementsOfTheSameSizesShareTheSolidBuiltAlone) {
  const auto elements = Elements(ctx.Get());
  for (size_t i = 0; i < elements.size(); ++i) {
    auto first = Build(elements[i].build);
    auto second = Build(elements[i].build);
    ASSERT_TRUE(first && second) << elements[i].name;
    EXPECT_NE(first->shape, second->shape);
    // One solid, placed twice: the kernel's instancing (its topology is the same object).
    EXPECT_TRUE(first->Kernel().IsSame(second->Kernel())) << elements[i].name;
    ExpectSame(alone[i], Measure(second->Kernel()), elements[i].name);
    // Placing one does not move the other.
    const double at[12] = {1, 0, 0, 500, 0, 1, 0, 0, 0, 0, 1, 0};
    Built moved(second->shape->Placed(at));
    const Measures m = Measure(moved.Kernel()), f = Measure(first->Kernel());
    EXPECT_NEAR(m.box[0], f.box[0] + 500, 1e-6) << elements[i].name;
    EXPECT_NEAR(f.box[0], alone[i].box[0], 1e-9) << elements[i].name;
  }
}

TEST_F(SharedSolids, ElementsBuiltOnSeveralThreadsAreTheSolidsBuiltAlone) {
  const auto elements = Elements(ctx.Get());
  // Four threads each build every element (all asking for the same sizes at about the same time,
  // in different orders), twice over: one of them builds, the others wait and share.
  constexpr int kThreads = 4;
  std::vector<std::vector<std::unique_ptr<Built>>> got(kThreads);
  std::vector<std::thread> pool;
  for (int t = 0; t < kThreads; ++t)
    pool.emplace_back([&, t] {
      for (int round = 0; round < 2; ++round)
        for (size_t k = 0; k < elements.size(); ++k) {
          const size_t i = (k + t) % elements.size();
          try {
            got[t].push_back(std::make_unique<Built>(elements[i].build()));
          } catch (QZ::IException* e) {
            e->Release();
            got[t].push_back(nullptr);
          }
        }
    });
  for (auto& th : pool) th.join();
  std::vector<const TopoDS_Shape*> one(elements.size(), nullptr);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(got[t].size(), 2 * elements.size());
    for (size_t k = 0; k < got[t].size(); ++k) {
      const size_t i = (k % elements.size() + t) % elements.size();
      ASSERT_TRUE(got[t][k]) << elements[i].name;
      ExpectSame(alone[i], Measure(got[t][k]->Kernel()), elements[i].name);
      // Every thread got the one solid that was built.
      if (!one[i]) one[i] = &got[t][k]->Kernel();
      EXPECT_TRUE(got[t][k]->Kernel().IsSame(*one[i])) << elements[i].name;
    }
  }
  // One solid per size is kept, however many threads asked.
  EXPECT_EQ(cad_engine::SolidMemo::Count(), elements.size());
}

TEST_F(SharedSolids, AnotherSizeIsBuiltAgainAndFailuresAreNotKept) {
  using namespace cad_engine;
  auto a = Build([] { return FastenerFactory()->BoltHex(16, 6.4, 0.6, 14.6, 20, 26, 10, 10); });
  auto b = Build([] { return FastenerFactory()->BoltHex(16, 6.4, 0.6, 14.6, 20, 30, 10, 10); });
  ASSERT_TRUE(a && b);
  EXPECT_FALSE(a->Kernel().IsSame(b->Kernel()));
  EXPECT_NEAR(Volume(b->Kernel()) - Volume(a->Kernel()), kPi * 25 * 4, 1.0);  // 4 more of thread
  const size_t kept = SolidMemo::Count();
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(ErrorOf([] { return FastenerFactory()->BoltHex(8, 6.4, 0.6, 14.6, 20, 26, 10, 10); }),
              QZ::eCodeInvalidParameter);
  EXPECT_EQ(SolidMemo::Count(), kept);
}

TEST(SolidMemoBounds, AtMostTheBoundIsKeptAndTheLeastRecentlyUsedGoFirst) {
  using cad_engine::SolidMemo;
  SolidMemo::Clear();
  const TopoDS_Shape box = cad_engine::BoxXYZ(0, 0, 0, 1, 1, 1);
  const std::string first = SolidMemo::Key("t", {0.0});
  SolidMemo::Keep(first, box);
  for (size_t i = 1; i < SolidMemo::kMaxKept + 20; ++i) {
    SolidMemo::Keep(SolidMemo::Key("t", {double(i)}), box);
    SolidMemo::Find(first);  // used again and again: stays
  }
  EXPECT_EQ(SolidMemo::Count(), SolidMemo::kMaxKept);
  EXPECT_FALSE(SolidMemo::Find(first).IsNull());
  EXPECT_TRUE(SolidMemo::Find(SolidMemo::Key("t", {1.0})).IsNull());  // the oldest went
  EXPECT_FALSE(SolidMemo::Find(SolidMemo::Key("t", {double(SolidMemo::kMaxKept + 19)})).IsNull());
  SolidMemo::Clear();
  EXPECT_EQ(SolidMemo::Count(), 0u);
}

}  // namespace
}  // namespace geometry_test
