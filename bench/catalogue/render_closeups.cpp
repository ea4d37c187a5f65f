// Close-up pictures of the element geometry, drawn off-screen by the engine's own view: a
// pinion and a wheel in mesh, a bearing with a quarter cut away, a hexagon bolt, and a shaft
// with every kind of groove. Built with the project, not registered with ctest (needs an X
// display):
//   build-<x>/bin/render_closeups <output folder>
#include "Context.h"
#include "Shape.h"
#include "Solids.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using cad_engine::kPi;

struct Piece {
  TopoDS_Shape shape;
  double r, g, b;
};

bool Draw(const std::string& png, const std::vector<Piece>& pieces, int w, int h) {
  QZ::ObjPtr<QZ::CAD::IView> view(cad_engine::NewView(nullptr, QZ::CAD::eViewOffscreen));
  for (const Piece& p : pieces) {
    QZ::ObjPtr<QZ::CAD::IShape> s(new cad_engine::CShape(p.shape));
    QZ::ObjPtr<QZ::CAD::IShapeVis> vis(view->Display(s.Get()));
    if (vis) vis->SetColor(p.r, p.g, p.b);
  }
  view->FitAll();
  const bool ok = view->SaveImage(png.c_str(), w, h);
  std::printf("%s %s\n", ok ? "rendered" : "FAILED", png.c_str());
  return ok;
}

TopoDS_Shape Kernel(QZ::CAD::IShape* s) {
  TopoDS_Shape k = cad_engine::ShapeOf(s);
  s->Release();
  return k;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string out = argc > 1 ? argv[1] : ".";
  try {
    cad_engine::SilenceKernel();
    bool ok = true;
    // A 17-tooth pinion and a 40-tooth wheel at their centre distance, turned into mesh.
    {
      QZ::CAD::IGearFactory* g = cad_engine::GearFactory();
      const TopoDS_Shape pinion = Kernel(g->ExternalGear(17, 2, 12, 20, 0, 0, 0, 8));
      const TopoDS_Shape wheel = Kernel(g->ExternalGear(40, 2, 12, 20, 0, 0, 0, 16));
      gp_Trsf place = cad_engine::Translation(57, 0, 0) * cad_engine::RotationZ(kPi + kPi / 40);
      ok &= Draw(out + "/gear-pair.png",
                 {{pinion, 0.8, 0.45, 0.15}, {cad_engine::PlaceShape(wheel, place), 0.2, 0.5, 0.7}},
                 1000, 700);
    }
    // A tapered roller bearing and a deep groove ball bearing, a quarter cut away.
    {
      QZ::CAD::IBearingFactory* b = cad_engine::BearingFactory();
      const TopoDS_Shape quarter = cad_engine::BoxXYZ(0, -100, -1, 100, 0, 100);
      const TopoDS_Shape ball = cad_engine::Cut(Kernel(b->RollingBearing(62, 30, 16, 0)), quarter);
      const TopoDS_Shape taper =
          cad_engine::Cut(Kernel(b->RollingBearing(62, 30, 16, 12)), quarter);
      ok &=
          Draw(out + "/bearings-cut.png",
               {{ball, 0.6, 0.6, 0.65},
                {cad_engine::PlaceShape(taper, cad_engine::Translation(80, 0, 0)), 0.7, 0.55, 0.3}},
               1000, 600);
    }
    // A hexagon bolt M12 x 60 with its washer face.
    {
      const TopoDS_Shape bolt =
          Kernel(cad_engine::FastenerFactory()->BoltHex(18, 7.5, 0.6, 16.6, 30, 30, 12, 12));
      ok &= Draw(out + "/hex-bolt.png", {{bolt, 0.55, 0.55, 0.6}}, 700, 900);
    }
    // A shaft of four sections with every groove.
    {
      QZ::CAD::IShaftBuilder* sb = cad_engine::ShaftFactory()->NewShaftBuilder();
      std::vector<Piece> pieces;
      auto add = [&](QZ::CAD::ISectionShape* s, double shade) {
        pieces.push_back({cad_engine::ShapeOf(s), shade, shade, shade + 0.1});
        s->Release();
      };
      QZ::CAD::ISectionShape* s1 = sb->AddSection(0, 30, 30, 0, 0, 40, -1.5, 0);
      s1->AddGrooveRectangular(10, 3, 1.5, 0.3);
      s1->AddNotchChevron(25, 1.5);
      QZ::CAD::ISectionShape* s2 = sb->AddSection(0, 40, 40, 0, 0, 60, 0, 2);
      s2->AddGrooveParallelKey(10, 30, 4, 4, 270);
      s2->AddCrossHole(50, 50, 3, 0);
      QZ::CAD::ISectionShape* s3 = sb->AddSection(0, 30, 25, 0, 0, 40, 0, -1);
      s3->AddGrooveCircular(15, 1, 1.5);
      QZ::CAD::ISectionShape* s4 = sb->AddSection(0, 28, 28, 12, 12, 40, 0, -1);
      s4->AddSlots(5, 30, 6, 22, 4, 5);
      add(s1, 0.6);
      add(s2, 0.7);
      add(s3, 0.6);
      add(s4, 0.7);
      sb->Release();
      gp_Trsf lay;
      lay.SetRotation(gp::OY(), kPi / 2);
      for (auto& p : pieces) p.shape = cad_engine::PlaceShape(p.shape, lay);
      ok &= Draw(out + "/shaft-grooves.png", pieces, 1400, 500);
    }
    return ok ? 0 : 1;
  } catch (QZ::IException* e) {
    std::fprintf(stderr, "engine error %x: %s\n", e->GetCode(), e->GetText());
    e->Release();
    return 1;
  }
}
