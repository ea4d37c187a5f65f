// STL: one mesh per file, read by the kernel's reader (binary) or ours (text, as writers
// produce it), placed, measured and written again as it is, and written to STEP as a faceted
// solid.
#include "EngineFixture.h"

#include <unistd.h>

#include <array>
#include <cstdio>

using namespace engine_test;

namespace {

// A binary STL of the given triangles (nine floats each).
std::string BinaryStl(const std::vector<std::array<float, 9>>& triangles) {
  std::string data(80, ' ');
  const std::uint32_t count = static_cast<std::uint32_t>(triangles.size());
  data.append(reinterpret_cast<const char*>(&count), 4);
  for (const auto& t : triangles) {
    const float normal[3] = {0, 0, 0};
    data.append(reinterpret_cast<const char*>(normal), 12);
    data.append(reinterpret_cast<const char*>(t.data()), 36);
    data.append(2, '\0');
  }
  return data;
}

// The twelve triangles of the box [0,a]x[0,b]x[0,c], outward.
std::vector<std::array<float, 9>> BoxTriangles(float a, float b, float c) {
  const float p[8][3] = {{0, 0, 0}, {a, 0, 0}, {a, b, 0}, {0, b, 0},
                         {0, 0, c}, {a, 0, c}, {a, b, c}, {0, b, c}};
  const int f[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                        {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
  std::vector<std::array<float, 9>> out;
  for (const auto& t : f) {
    std::array<float, 9> tri{};
    for (int v = 0; v < 3; ++v)
      for (int k = 0; k < 3; ++k) tri[v * 3 + k] = p[t[v]][k];
    out.push_back(tri);
  }
  return out;
}

std::uint32_t BinaryCount(const std::string& path) {
  const std::string data = ReadAll(path);
  std::uint32_t count = 0;
  if (data.size() >= 84) std::memcpy(&count, data.data() + 80, 4);
  EXPECT_EQ(data.size(), 84u + 50u * count);
  return count;
}

// A closed torus of nu x nv quads (two triangles each) about z, radii 100 and 30.
std::string TorusStl(int nu, int nv) {
  std::vector<std::array<float, 9>> triangles;
  triangles.reserve(2u * nu * nv);
  auto point = [&](int i, int j, float* out) {
    const double u = 2 * M_PI * (i % nu) / nu, v = 2 * M_PI * (j % nv) / nv;
    out[0] = static_cast<float>((100 + 30 * std::cos(v)) * std::cos(u));
    out[1] = static_cast<float>((100 + 30 * std::cos(v)) * std::sin(u));
    out[2] = static_cast<float>(30 * std::sin(v));
  };
  auto put = [&](int a0, int a1, int b0, int b1, int c0, int c1) {
    std::array<float, 9> t{};
    point(a0, a1, t.data());
    point(b0, b1, t.data() + 3);
    point(c0, c1, t.data() + 6);
    triangles.push_back(t);
  };
  for (int i = 0; i < nu; ++i)
    for (int j = 0; j < nv; ++j) {
      put(i, j, i + 1, j, i + 1, j + 1);
      put(i, j, i + 1, j + 1, i, j + 1);
    }
  return BinaryStl(triangles);
}

// The resident memory of this process, in megabytes.
double ResidentMB() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Sets the face limit of surface exports for the life of the object.
class FaceLimit {
 public:
  explicit FaceLimit(const char* value) { setenv("CAD_ONDRAVEL_MAX_MESH_FACES", value, 1); }
  ~FaceLimit() { unsetenv("CAD_ONDRAVEL_MAX_MESH_FACES"); }
};

ObjPtr<CAD::IShape> OnlyShape(CAD::ICADContext* ctx) {
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  EXPECT_EQ(doc->GetChildCount(), 1);
  if (doc->GetChildCount() != 1) return nullptr;
  return ObjPtr<CAD::IShape>(AsPart(Child(doc.Get(), 0))->GetShape());
}

}  // namespace

TEST_F(EngineTest, TextStlAsWritersProduceItIsRead) {
  TempDir dir;
  // Upper-case keywords, no "endsolid", CRLF line ends.
  const std::string path = dir / "upper.stl";
  WriteAll(path,
           "SOLID part\r\n FACET NORMAL 0 0 1\r\n  OUTER LOOP\r\n   VERTEX 0 0 0\r\n   VERTEX 1 0 "
           "0\r\n   VERTEX 0 1 0\r\n  ENDLOOP\r\n ENDFACET\r\n");
  ASSERT_TRUE(ctx->ImportSTL(path.c_str())) << ctx->GetLastErrorText();
  ObjPtr<CAD::IShape> s = OnlyShape(ctx.Get());
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->IsValid());
  EXPECT_EQ(s->GetSolidCount(), 0);  // an open sheet
  EXPECT_EQ(s->GetVolume(), 0.0);
  double box[6];
  ASSERT_TRUE(s->GetBoundingBox(box));
  EXPECT_NEAR(box[3], 1, 1e-9);
  EXPECT_NEAR(box[4], 1, 1e-9);

  // Faults keep their line in the reason.
  const std::string bad = dir / "bad.stl";
  WriteAll(bad, "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 zero 0\n");
  EXPECT_FALSE(ctx->ImportSTL(bad.c_str()));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeBadFile);
  EXPECT_NE(std::string(ctx->GetLastErrorText()).find("line 5: \"zero\" is not a number"),
            std::string::npos)
      << ctx->GetLastErrorText();
  const std::string partial = dir / "partial.stl";
  WriteAll(partial, "solid x\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\n");
  EXPECT_FALSE(ctx->ImportSTL(partial.c_str()));
  EXPECT_NE(std::string(ctx->GetLastErrorText()).find("fewer than three vertices"),
            std::string::npos);
}

TEST_F(EngineTest, ClosedMeshIsOneValidSolidMeasuredFromItsTriangles) {
  TempDir dir;
  const std::string path = dir / "box.stl";
  WriteAll(path, BinaryStl(BoxTriangles(2, 3, 4)));
  ASSERT_TRUE(ctx->ImportSTL(path.c_str())) << ctx->GetLastErrorText();
  ObjPtr<CAD::IShape> s = OnlyShape(ctx.Get());
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->IsValid());
  EXPECT_EQ(s->GetSolidCount(), 1);
  EXPECT_NEAR(s->GetVolume(), 24, 1e-6);
  double box[6];
  ASSERT_TRUE(s->GetBoundingBox(box));
  ExpectBoxNear({box, box + 6}, {0, 0, 0, 2, 3, 4}, 1e-6);

  // Placed: a move is a placement, a uniform scale scales the nodes.
  double m[12];
  Translation(m, 10, 0, 0);
  ObjPtr<CAD::IShape> moved(s->Placed(m));
  ASSERT_TRUE(moved->GetBoundingBox(box));
  ExpectBoxNear({box, box + 6}, {10, 0, 0, 12, 3, 4}, 1e-6);
  Translation(m, 0, 0, 0);
  m[0] = m[5] = m[10] = 2;
  ObjPtr<CAD::IShape> scaled(s->Placed(m));
  ASSERT_TRUE(scaled->GetBoundingBox(box));
  ExpectBoxNear({box, box + 6}, {0, 0, 0, 4, 6, 8}, 1e-6);
  EXPECT_NEAR(scaled->GetVolume(), 192, 1e-6);
  EXPECT_EQ(scaled->GetSolidCount(), 1);

  // Written to STL as it is: the same twelve triangles.
  const std::string out = dir / "again.stl";
  ASSERT_TRUE(ctx->ExportSTL(out.c_str())) << ctx->GetLastErrorText();
  EXPECT_EQ(BinaryCount(out), 12u);

  // Written to STEP and IGES as a faceted solid of the same volume.
  for (const char* ext : {"step", "igs"}) {
    SCOPED_TRACE(ext);
    const std::string file = dir / (std::string("box.") + ext);
    const bool step = std::string(ext) == "step";
    ASSERT_TRUE(step ? ctx->ExportSTEP(file.c_str()) : ctx->ExportIGES(file.c_str()))
        << ctx->GetLastErrorText();
    ObjPtr<CAD::ICADContext> in(Tools()->NewContext());
    ASSERT_TRUE(step ? in->ImportSTEP(file.c_str()) : in->ImportIGES(file.c_str()))
        << in->GetLastErrorText();
    ObjPtr<CAD::IAssembly> doc(in->GetAssembly());
    ASSERT_EQ(doc->GetChildCount(), 1);
    EXPECT_EQ(NameOf(Child(doc.Get(), 0).Get()), "box");
    ObjPtr<CAD::IShape> back(AsPart(Child(doc.Get(), 0))->GetShape());
    EXPECT_EQ(back->GetSolidCount(), 1);
    EXPECT_TRUE(back->IsValid());
    EXPECT_NEAR(back->GetVolume(), 24, 1e-3);
  }
  // The context's own document still holds the mesh, not the faceted solid.
  EXPECT_TRUE(ctx->ExportSTL(out.c_str()));
  EXPECT_EQ(BinaryCount(out), 12u);
}

TEST_F(EngineTest, MillionTriangleMeshImports) {
  // A sheet of 500 x 1000 squares, two triangles each, at z = x / 100.
  TempDir dir;
  const int nx = 500, ny = 1000;
  std::string data(80, ' ');
  const std::uint32_t count = 2u * nx * ny;
  data.append(reinterpret_cast<const char*>(&count), 4);
  data.reserve(84 + 50ull * count);
  auto put = [&](float x0, float y0, float x1, float y1, float x2, float y2) {
    const float v[12] = {0, 0, 1, x0, y0, x0 / 100, x1, y1, x1 / 100, x2, y2, x2 / 100};
    data.append(reinterpret_cast<const char*>(v), 48);
    data.append(2, '\0');
  };
  for (int i = 0; i < nx; ++i)
    for (int j = 0; j < ny; ++j) {
      const float x = static_cast<float>(i), y = static_cast<float>(j);
      put(x, y, x + 1, y, x + 1, y + 1);
      put(x, y, x + 1, y + 1, x, y + 1);
    }
  const std::string path = dir / "million.stl";
  WriteAll(path, data);
  data.clear();
  data.shrink_to_fit();
  ASSERT_TRUE(ctx->ImportSTL(path.c_str())) << ctx->GetLastErrorText();
  ObjPtr<CAD::IShape> s = OnlyShape(ctx.Get());
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->IsValid());
  double box[6];
  ASSERT_TRUE(s->GetBoundingBox(box));
  ExpectBoxNear({box, box + 6}, {0, 0, 0, 500, 1000, 5}, 1e-3);
  EXPECT_EQ(s->GetSolidCount(), 0);
  const std::string out = dir / "again.stl";
  ASSERT_TRUE(ctx->ExportSTL(out.c_str()));
  EXPECT_EQ(BinaryCount(out), count);
}

TEST_F(EngineTest, MeshIsDrawnAndPickedLikeAnySolid) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display";
  TempDir dir;
  const std::string path = dir / "box.stl";
  WriteAll(path, BinaryStl(BoxTriangles(20, 20, 20)));
  ASSERT_TRUE(ctx->ImportSTL(path.c_str())) << ctx->GetLastErrorText();
  ObjPtr<CAD::IShape> mesh = OnlyShape(ctx.Get());
  ASSERT_TRUE(mesh);
  ObjPtr<CAD::IView> view(ctx->NewView(nullptr, CAD::eViewOffscreen));
  ObjPtr<CAD::IShapeVis> vis(view->Display(mesh.Get()));
  vis->SetColor(1, 0, 0);
  view->FitAll();
  view->Redraw();
  ObjPtr<CAD::IShapeVis> hit(view->Pick(320, 240));
  ASSERT_TRUE(hit);
  EXPECT_TRUE(hit->IsSame(vis.Get()));
  EXPECT_FALSE(ObjPtr<CAD::IShapeVis>(view->Pick(2, 2)));
  const std::string png = dir / "mesh.png";
  ASSERT_TRUE(view->SaveImage(png.c_str(), 320, 240));
  EXPECT_GT(RedShare(ReadPng(png)), 0.1);
}

TEST_F(EngineTest, MeshTooLargeForSurfaceFormatsIsRefusedBeforeAnythingIsBuilt) {
  // 72,000 triangles against a limit of 5,000 faces: refused with the sizes, no file, and the
  // memory of the process as it was (building the faces would take hundreds of megabytes).
  TempDir dir;
  const std::string path = dir / "torus.stl";
  WriteAll(path, TorusStl(300, 120));
  ASSERT_TRUE(ctx->ImportSTL(path.c_str())) << ctx->GetLastErrorText();
  ObjPtr<CAD::IShape> mesh = OnlyShape(ctx.Get());
  ASSERT_TRUE(mesh);
  double box[6];
  ASSERT_TRUE(mesh->GetBoundingBox(box));
  ExpectBoxNear({box, box + 6}, {-130, -130, -30, 130, 130, 30}, 0.05);
  EXPECT_EQ(mesh->GetSolidCount(), 1);
  const FaceLimit limit("5000");
  const double before = ResidentMB();
  for (const char* ext : {"step", "igs"}) {
    SCOPED_TRACE(ext);
    const std::string out = dir / (std::string("torus.") + ext);
    const bool step = std::string(ext) == "step";
    EXPECT_FALSE(step ? ctx->ExportSTEP(out.c_str()) : ctx->ExportIGES(out.c_str()));
    EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeTooLarge);
    const std::string why = ctx->GetLastErrorText();
    EXPECT_NE(why.find("the mesh has 72,000 triangles; " + std::string(step ? "STEP" : "IGES") +
                       " export of a mesh is limited to 5,000 faces"),
              std::string::npos)
        << why;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  EXPECT_LT(ResidentMB() - before, 20.0);
  // STL takes the mesh as it is, whatever its size: the same triangles.
  const std::string stl = dir / "again.stl";
  ASSERT_TRUE(ctx->ExportSTL(stl.c_str())) << ctx->GetLastErrorText();
  EXPECT_EQ(BinaryCount(stl), 72000u);
}

TEST_F(EngineTest, MeshWithinTheFaceLimitStillGoesToStepAndIges) {
  TempDir dir;
  const std::string path = dir / "ring.stl";
  WriteAll(path, TorusStl(24, 12));  // 576 triangles
  ASSERT_TRUE(ctx->ImportSTL(path.c_str())) << ctx->GetLastErrorText();
  const FaceLimit limit("576");  // exactly as many faces as triangles
  for (const char* ext : {"step", "igs"}) {
    SCOPED_TRACE(ext);
    const std::string out = dir / (std::string("ring.") + ext);
    const bool step = std::string(ext) == "step";
    ASSERT_TRUE(step ? ctx->ExportSTEP(out.c_str()) : ctx->ExportIGES(out.c_str()))
        << ctx->GetLastErrorText();
    ObjPtr<CAD::ICADContext> in(Tools()->NewContext());
    ASSERT_TRUE(step ? in->ImportSTEP(out.c_str()) : in->ImportIGES(out.c_str()))
        << in->GetLastErrorText();
    ObjPtr<CAD::IShape> back = OnlyShape(in.Get());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->GetSolidCount(), 1);
    double box[6];
    ASSERT_TRUE(back->GetBoundingBox(box));
    EXPECT_NEAR(box[3], 130, 0.5);
    EXPECT_NEAR(box[5], 30, 0.5);
  }
  // A limit that is no number is not taken: the default holds.
  const FaceLimit bad("-3");
  const std::string out = dir / "again.step";
  EXPECT_TRUE(ctx->ExportSTEP(out.c_str())) << ctx->GetLastErrorText();
}
