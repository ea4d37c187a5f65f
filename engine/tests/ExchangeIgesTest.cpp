// IGES: parts keep their names and colours through a round trip, open shells stay one part,
// refused files say why.
#include "EngineFixture.h"

using namespace engine_test;

namespace {

// An open sheet of two triangles, read from STL (a mesh, written to IGES as a faceted shell).
ObjPtr<CAD::IShape> Sheet(const TempDir& dir) {
  const std::string path = dir / "sheet.stl";
  WriteAll(path,
           "solid s\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 10 0 0\nvertex 10 10 "
           "0\nendloop\nendfacet\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 10 10 "
           "0\nvertex 0 10 0\nendloop\nendfacet\nendsolid s\n");
  ObjPtr<CAD::ICADContext> reader(Tools()->NewContext());
  EXPECT_TRUE(reader->ImportSTL(path.c_str())) << reader->GetLastErrorText();
  ObjPtr<CAD::IAssembly> doc(reader->GetAssembly());
  return ObjPtr<CAD::IShape>(AsPart(Child(doc.Get(), 0))->GetShape());
}

}  // namespace

TEST_F(EngineTest, IgesRoundTripKeepsPartsNamesColoursAndOpenShells) {
  TempDir dir;
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  ObjPtr<CAD::IShape> box(ctx->Box(10, 20, 30));
  ObjPtr<CAD::IPart> a(doc->AddShape(box.Get()));
  a->SetName("Block");
  a->SetColor(1, 0, 0);
  ObjPtr<CAD::IShape> sphere(ctx->Sphere(5));
  double m[12];
  Translation(m, 50, 0, 0);
  ObjPtr<CAD::IShape> placed(sphere->Placed(m));
  ObjPtr<CAD::IPart> b(doc->AddShape(placed.Get()));
  b->SetName("Ball");
  b->SetColor(0, 0, 1);
  ObjPtr<CAD::IShape> sheet = Sheet(dir);
  ASSERT_TRUE(sheet);
  ObjPtr<CAD::IPart> c(doc->AddShape(sheet.Get()));
  c->SetName("Sheet");
  const std::string path = dir / "parts.igs";
  ASSERT_TRUE(ctx->ExportIGES(path.c_str())) << ctx->GetLastErrorText();

  ObjPtr<CAD::ICADContext> in(Tools()->NewContext());
  ASSERT_TRUE(in->ImportIGES(path.c_str())) << in->GetLastErrorText();
  ObjPtr<CAD::IAssembly> back(in->GetAssembly());
  // The three parts, each with its name (the file holds them side by side).
  CAD::IAssembly* parts = back.Get();
  ASSERT_EQ(parts->GetChildCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(Child(parts, i)->IsAssembly()) << i;
  EXPECT_EQ(NameOf(Child(parts, 0).Get()), "Block");
  EXPECT_EQ(NameOf(Child(parts, 1).Get()), "Ball");
  EXPECT_EQ(NameOf(Child(parts, 2).Get()), "Sheet");
  ExpectColor(AsPart(Child(parts, 0)), 1, 0, 0);
  ExpectColor(AsPart(Child(parts, 1)), 0, 0, 1);
  ObjPtr<CAD::IShape> block(AsPart(Child(parts, 0))->GetShape());
  EXPECT_NEAR(block->GetVolume(), 6000, 1e-3);
  ExpectBoxNear(PlacedBox(AsPart(Child(parts, 1))), {45, -5, -5, 55, 5, 5}, 1e-3);
  ObjPtr<CAD::IShape> open(AsPart(Child(parts, 2))->GetShape());
  EXPECT_TRUE(open->IsValid());
  EXPECT_EQ(open->GetSolidCount(), 0);
  ExpectBoxNear(PlacedBox(AsPart(Child(parts, 2))), {0, 0, 0, 10, 10, 0}, 1e-3);
}

TEST_F(EngineTest, RefusedIgesFilesSayWhy) {
  TempDir dir;
  const std::string garbage = dir / "garbage.igs";
  WriteAll(garbage, std::string(2000, 'x'));
  EXPECT_FALSE(ctx->ImportIGES(garbage.c_str()));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeBadFile);
  EXPECT_NE(std::string(ctx->GetLastErrorText()).find(garbage), std::string::npos);
  EXPECT_FALSE(ctx->ImportIGES((dir / "none.igs").c_str()));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeFileAccess);
  EXPECT_FALSE(ctx->ExportIGES((dir / "no-such-folder/out.igs").c_str()));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeFileAccess);
  EXPECT_NE(std::string(ctx->GetLastErrorText()).find("cannot be written"), std::string::npos);
}
