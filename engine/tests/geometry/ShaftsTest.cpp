// Shafts: sections with chamfers and roundings, the six grooves, the planet carrier, and the
// refusal of impossible sizes.
#include "GeometryFixture.h"

#include <array>
#include <cmath>
#include <functional>
#include <utility>

using namespace geometry_test;

namespace {

QZ::CAD::IShaftFactory* Shafts() { return cad_engine::ShaftFactory(); }

// Area that a rounding of radius r adds to a concave corner (or takes from a convex one).
double Spandrel(double r) { return (1 - kPi / 4) * r * r; }

}  // namespace

TEST(Shafts, SectionsAreSolidsOfRevolutionWithChamfersAndRoundings) {
  QZ::CAD::IShaftBuilder* b = Shafts()->NewShaftBuilder();
  ASSERT_TRUE(b);
  // A plain tube, a cone, a chamfered and a rounded cylinder, each adjoining the one before
  // (position 0), then a short cylinder 5 after the end of the rounded one.
  QZ::CAD::ISectionShape* tube = b->AddSection(0, 40, 40, 20, 20, 30, 0, 0);
  QZ::CAD::ISectionShape* cone = b->AddSection(0, 40, 20, 0, 0, 20, 0, 0);
  QZ::CAD::ISectionShape* chamfered = b->AddSection(0, 30, 30, 0, 0, 20, -2, -1);
  QZ::CAD::ISectionShape* rounded = b->AddSection(0, 30, 30, 10, 10, 20, 3, 0);
  QZ::CAD::ISectionShape* apart = b->AddSection(5, 20, 20, 0, 0, 10, 0, 0);
  EXPECT_EQ(b->GetSectionCount(), 5);
  for (auto* s : {tube, cone, chamfered, rounded, apart}) EXPECT_TRUE(s->IsValid());
  // Where each section lies along the axis: z from and to.
  const std::pair<QZ::CAD::ISectionShape*, std::array<double, 2>> spans[] = {{tube, {0, 30}},
                                                                             {cone, {30, 50}},
                                                                             {chamfered, {50, 70}},
                                                                             {rounded, {70, 90}},
                                                                             {apart, {95, 105}}};
  for (const auto& [section, z] : spans) {
    double span[6];
    ASSERT_TRUE(section->GetBoundingBox(span));
    EXPECT_NEAR(span[2], z[0], 1e-6);
    EXPECT_NEAR(span[5], z[1], 1e-6);
  }
  EXPECT_NEAR(tube->GetVolume(), kPi * (400 - 100) * 30, 1e-6 * 3e4);
  EXPECT_NEAR(cone->GetVolume(), kPi * 20 / 3 * (400 + 200 + 100), 1e-3);
  const double R = 15;
  const double chamferCut = 2 * kPi * (R - 2.0 / 3) * 2 + 2 * kPi * (R - 1.0 / 3) * 0.5;
  EXPECT_NEAR(chamfered->GetVolume(), kPi * R * R * 20 - chamferCut, 1e-3);
  const double roundCut = 2 * kPi * (R - (10 - 3 * kPi) / (12 - 3 * kPi) * 3) * Spandrel(3);
  EXPECT_NEAR(rounded->GetVolume(), kPi * (R * R - 25) * 20 - roundCut, 1e-3);
  double box[6];
  ASSERT_TRUE(cone->GetBoundingBox(box));
  EXPECT_NEAR(box[2], 30, 1e-6);
  EXPECT_NEAR(box[5], 50, 1e-6);
  EXPECT_NEAR(box[3], 20, 1e-6);
  QZ::CAD::IShape* all = b->GetShape();
  ASSERT_TRUE(all);
  EXPECT_EQ(all->GetSolidCount(), 5);
  all->Release();
  for (auto* s : {tube, cone, chamfered, rounded, apart}) s->Release();

  const int bad = QZ::eCodeInvalidParameter;
  EXPECT_EQ(ErrorOf([&] { return b->AddSection(0, 20, 20, 30, 10, 10, 0, 0); }), bad);
  EXPECT_EQ(ErrorOf([&] { return b->AddSection(0, 20, 20, 0, 0, 0, 0, 0); }), bad);
  EXPECT_EQ(ErrorOf([&] { return b->AddSection(0, 20, 20, 0, 0, 10, -6, 0); }), bad);
  EXPECT_EQ(ErrorOf([&] { return b->AddSection(0, -20, 20, 0, 0, 10, 0, 0); }), bad);
  b->Release();
}

TEST(Shafts, EachGrooveCutsWhereAndAsDeepAsItsSizesSay) {
  QZ::CAD::IShaftBuilder* b = Shafts()->NewShaftBuilder();
  QZ::CAD::ISectionShape* s = b->AddSection(10, 40, 40, 0, 0, 200, -1, 2);
  const double before = s->GetVolume();
  s->AddGrooveRectangular(20, 4, 2, 0);  // z 30..34, down to radius 18
  EXPECT_NEAR(before - s->GetVolume(), kPi * (400 - 324) * 4, 1e-3);
  s->AddGrooveRectangular(40, 6, 3, 1);
  s->AddNotchChevron(60, 2);                  // at z 70
  s->AddGrooveCircular(80, 1.5, 2);           // at z 90
  s->AddCrossHole(100, 50, 3, 90);            // through, along y at z 110
  s->AddGrooveParallelKey(120, 30, 4, 3, 0);  // z 130..160 on +x, 4 deep
  s->AddSlots(170, 25, 6, 32, 4, 5);          // z 180..205, bottom at radius 16
  const TopoDS_Shape& k = cad_engine::ShapeOf(s);
  EXPECT_TRUE(Valid(k));
  EXPECT_EQ(SolidCount(k), 1);
  EXPECT_TRUE(Outside(k, gp_Pnt(19, 0, 32)));
  EXPECT_TRUE(Inside(k, gp_Pnt(17.9, 0, 32)));
  EXPECT_TRUE(Outside(k, gp_Pnt(0, 19.5, 70)));
  EXPECT_TRUE(Inside(k, gp_Pnt(0, 19.5, 72.5)));
  EXPECT_TRUE(Outside(k, gp_Pnt(-18.6, 0, 90)));
  EXPECT_TRUE(Inside(k, gp_Pnt(-18.4, 0, 90)));
  EXPECT_TRUE(Outside(k, gp_Pnt(0, 0, 110)));    // the hole runs through the axis
  EXPECT_TRUE(Outside(k, gp_Pnt(0, -19, 110)));  // and out the other side
  EXPECT_TRUE(Inside(k, gp_Pnt(19, 0, 110)));
  EXPECT_TRUE(Outside(k, gp_Pnt(17, 0, 145)));
  EXPECT_TRUE(Inside(k, gp_Pnt(15.9, 0, 145)));
  EXPECT_TRUE(Inside(k, gp_Pnt(-17, 0, 145)));   // only on the key's side
  EXPECT_TRUE(Inside(k, gp_Pnt(17, 3.5, 145)));  // and only 2 r wide
  EXPECT_TRUE(Outside(k, gp_Pnt(18, 0, 190)));   // a slot on +x
  EXPECT_TRUE(Inside(k, gp_Pnt(15.9, 0, 190)));
  EXPECT_TRUE(Outside(k, gp_Pnt(18 * std::cos(kPi / 3), 18 * std::sin(kPi / 3), 190)));
  EXPECT_TRUE(Inside(k, gp_Pnt(18 * std::cos(kPi / 6), 18 * std::sin(kPi / 6), 190)));

  // Grooves that do not fit refuse and leave the solid as it was.
  const double now = s->GetVolume();
  auto refuse = [&](const std::function<void()>& f) {
    try {
      f();
      return 0;
    } catch (QZ::IException* e) {
      const int code = e->GetCode();
      e->Release();
      return code;
    }
  };
  const int bad = QZ::eCodeInvalidParameter;
  EXPECT_EQ(refuse([&] { s->AddGrooveRectangular(198, 4, 1, 0); }), bad);    // beyond the end
  EXPECT_EQ(refuse([&] { s->AddGrooveRectangular(20, 4, 25, 0); }), bad);    // past the axis
  EXPECT_EQ(refuse([&] { s->AddGrooveCircular(20, 3, 1); }), bad);           // t > r
  EXPECT_EQ(refuse([&] { s->AddGrooveParallelKey(20, 4, 2, 3, 0); }), bad);  // 2 r > l
  EXPECT_EQ(refuse([&] { s->AddSlots(20, 10, 0, 30, 2, 2); }), bad);
  EXPECT_EQ(refuse([&] { s->AddSlots(20, 10, 60, 30, 4, 4); }), bad);  // overlapping
  EXPECT_EQ(refuse([&] { s->AddCrossHole(-1, 5, 2, 0); }), bad);
  EXPECT_NEAR(s->GetVolume(), now, 1e-9);
  s->Release();
  b->Release();
}

// Turned grooves are drawn into the section's outline while it has nothing but turned grooves,
// and cut with a turned tool once a cross hole is in it: both give the same solid (volume to
// 1e-9, exact box, faces and their kinds), on a cylinder and on a cone, with chamfered and
// rounded ends and grooves next to them.
TEST(Shafts, TurnedGroovesGiveTheSameSolidDrawnOrCut) {
  struct Groove {
    const char* name;
    std::function<void(QZ::CAD::ISectionShape*)> add;
  };
  const Groove grooves[] = {
      {"rectangular", [](auto* s) { s->AddGrooveRectangular(20, 6, 2, 0.5); }},
      {"sharp rectangular", [](auto* s) { s->AddGrooveRectangular(30, 3, 1, 0); }},
      {"chevron", [](auto* s) { s->AddNotchChevron(45, 1.5); }},
      {"circular", [](auto* s) { s->AddGrooveCircular(60, 1.2, 2); }},
      {"circular half", [](auto* s) { s->AddGrooveCircular(70, 2, 2); }},
      {"circular shallow", [](auto* s) { s->AddGrooveCircular(50, 0.3, 3); }},
      {"circular wide", [](auto* s) { s->AddGrooveCircular(38, 3.5, 5); }},
      {"circular small", [](auto* s) { s->AddGrooveCircular(12, 0.4, 0.5); }},
      {"next to the start", [](auto* s) { s->AddGrooveRectangular(0.5, 2, 1, 0); }},
      {"next to the end", [](auto* s) { s->AddGrooveRectangular(95, 4, 1, 0); }},
  };
  // (dout1, dout2, lch1, lch2): a cylinder chamfered at both ends, a cone rounded at both.
  const std::array<double, 4> bodies[] = {{40, 40, -1, -1.5}, {40, 32, 2, 1}};
  for (const auto& [d1, d2, c1, c2] : bodies) {
    for (const Groove& g : grooves) {
      SCOPED_TRACE(std::string(g.name) + (d1 == d2 ? " on a cylinder" : " on a cone"));
      QZ::CAD::IShaftBuilder* b = Shafts()->NewShaftBuilder();
      QZ::CAD::ISectionShape* drawn = b->AddSection(0, d1, d2, 8, 8, 100, c1, c2);
      g.add(drawn);
      drawn->AddCrossHole(85, 30, 1, 0);
      QZ::CAD::ISectionShape* cut = b->AddSection(-100, d1, d2, 8, 8, 100, c1, c2);
      cut->AddCrossHole(85, 30, 1, 0);
      g.add(cut);
      EXPECT_TRUE(Valid(cad_engine::ShapeOf(drawn)));
      EXPECT_EQ(SolidCount(cad_engine::ShapeOf(drawn)), 1);
      EXPECT_NEAR(drawn->GetVolume(), cut->GetVolume(), 1e-9 * cut->GetVolume());
      double a[6], c[6];
      ASSERT_TRUE(drawn->GetBoundingBox(a));
      ASSERT_TRUE(cut->GetBoundingBox(c));
      for (int k = 0; k < 6; ++k) EXPECT_NEAR(a[k], c[k], 1e-6) << k;
      // The same faces of the same kinds (a circular groove on the cutting tool's torus).
      ExpectSameSolids(MeasureSolids(cad_engine::ShapeOf(drawn)),
                       MeasureSolids(cad_engine::ShapeOf(cut)));
      drawn->Release();
      cut->Release();
      b->Release();
    }
  }
}

TEST(Shafts, ThePlanetCarrierHoldsItsPinsOnTheirCircle) {
  auto carrier = Build([] { return Shafts()->PlanetCarrier(3, 30, 40); });
  ASSERT_TRUE(carrier);
  EXPECT_TRUE(Valid(carrier->Kernel()));
  EXPECT_EQ(SolidCount(carrier->Kernel()), 1);
  double box[6];
  BoxOf(carrier->shape, box);
  EXPECT_NEAR(box[3], 1.35 * 30, 1e-6);
  EXPECT_NEAR(box[2], 0, 1e-6);
  EXPECT_NEAR(box[5], 40, 1e-6);
  for (int i = 0; i < 3; ++i) {
    const double a = 2 * kPi * i / 3;
    EXPECT_TRUE(Inside(carrier->Kernel(), gp_Pnt(30 * std::cos(a), 30 * std::sin(a), 30)));
  }
  EXPECT_TRUE(Outside(carrier->Kernel(), gp_Pnt(0, 0, 4)));  // the bore
  EXPECT_EQ(ErrorOf([] { return Shafts()->PlanetCarrier(0, 30, 40); }), QZ::eCodeInvalidParameter);
  EXPECT_EQ(ErrorOf([] { return Shafts()->PlanetCarrier(3, 0, 40); }), QZ::eCodeInvalidParameter);
}
