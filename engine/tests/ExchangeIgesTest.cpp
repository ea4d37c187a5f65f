// IGES: parts keep their names and colours through a round trip, open shells stay one part,
// refused files say why. Files as other systems write them (written here entity by entity with
// the kernel's IGES writer: colours by number and by colour definition, names by property and
// by label, loose surfaces in groups, subfigures placed by instances) come in with their colours,
// names and tree; the model tree goes out as subfigures and comes back the same.
#include "EngineFixture.h"

#include <BRepPrimAPI_MakeBox.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <IGESBasic_Name.hxx>
#include <IGESBasic_SingularSubfigure.hxx>
#include <IGESBasic_SubfigureDef.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Writer.hxx>
#include <IGESData_HArray1OfIGESEntity.hxx>
#include <IGESData_IGESEntity.hxx>
#include <IGESGeom_TransformationMatrix.hxx>
#include <IGESGraph_Color.hxx>
#include <Interface_Static.hxx>
#include <TColStd_HArray2OfReal.hxx>
#include <TopExp_Explorer.hxx>
#include <TransferBRep.hxx>
#include <TransferBRep_ShapeMapper.hxx>
#include <Transfer_FinderProcess.hxx>

#include <map>

using namespace engine_test;

namespace {

// --- Files of other writers, entity by entity --------------------------------------------------

// The kernel's plain IGES writer (no document): the shapes become entities, and the test gives
// them colours, names and structure the way other systems write them.
class EntityWriter {
 public:
  explicit EntityWriter(bool solids) {
    IGESControl_Controller::Init();
    m_mode = Interface_Static::IVal("write.iges.brep.mode");
    Interface_Static::SetIVal("write.iges.brep.mode", solids ? 1 : 0);
    m_writer = std::make_unique<IGESControl_Writer>("MM", solids ? 1 : 0);
  }
  // The kernel's setting is the process's: the engine's exports find it as it was.
  ~EntityWriter() { Interface_Static::SetIVal("write.iges.brep.mode", m_mode); }
  // The entity a shape became (added as a root of the file).
  Handle(IGESData_IGESEntity) Add(const TopoDS_Shape& shape) {
    m_writer->AddShape(shape);
    return EntityOf(shape);
  }
  Handle(IGESData_IGESEntity) EntityOf(const TopoDS_Shape& shape) const {
    const Handle(Transfer_FinderProcess) fp = m_writer->TransferProcess();
    Handle(IGESData_IGESEntity) e;
    fp->FindTypedTransient(TransferBRep::ShapeMapper(fp, shape), STANDARD_TYPE(IGESData_IGESEntity),
                           e);
    return e;
  }
  // A colour definition (314) in percent.
  Handle(IGESGraph_Color) Colour(double r, double g, double b) {
    Handle(IGESGraph_Color) c = new IGESGraph_Color();
    c->Init(r, g, b, new TCollection_HAsciiString("colour"));
    m_writer->AddEntity(c);
    return c;
  }
  // A name property (406 form 15).
  void Name(const Handle(IGESData_IGESEntity) & e, const char* name) {
    Handle(IGESBasic_Name) p = new IGESBasic_Name();
    p->Init(1, new TCollection_HAsciiString(name));
    e->AddProperty(p);
    m_writer->AddEntity(p);
  }
  void AddRoot(const Handle(IGESData_IGESEntity) & e) { m_writer->AddEntity(e); }
  void Write(const std::string& path) {
    m_writer->ComputeModel();
    ASSERT_TRUE(m_writer->Write(path.c_str())) << path;
  }

 private:
  std::unique_ptr<IGESControl_Writer> m_writer;
  int m_mode = 1;
};

Handle(IGESBasic_SubfigureDef)
    Definition(const char* name, std::vector<Handle(IGESData_IGESEntity)> members, int depth) {
  Handle(IGESData_HArray1OfIGESEntity) list =
      new IGESData_HArray1OfIGESEntity(1, static_cast<int>(members.size()));
  for (size_t i = 0; i < members.size(); ++i) list->SetValue(static_cast<int>(i) + 1, members[i]);
  Handle(IGESBasic_SubfigureDef) def = new IGESBasic_SubfigureDef();
  def->Init(depth, new TCollection_HAsciiString(name), list);
  return def;
}

// An instance of a definition: a translation of its own, or a rotation of a quarter turn about
// z with a translation, as a transformation matrix.
Handle(IGESBasic_SingularSubfigure) Instance(const Handle(IGESBasic_SubfigureDef) & def,
                                             const gp_XYZ& at, bool quarterTurn = false) {
  Handle(IGESBasic_SingularSubfigure) i = new IGESBasic_SingularSubfigure();
  if (!quarterTurn) {
    i->Init(def, at, false, 1.0);
    return i;
  }
  i->Init(def, gp_XYZ(0, 0, 0), false, 1.0);
  Handle(TColStd_HArray2OfReal) m = new TColStd_HArray2OfReal(1, 3, 1, 4, 0.0);
  m->SetValue(1, 2, -1);
  m->SetValue(2, 1, 1);
  m->SetValue(3, 3, 1);
  m->SetValue(1, 4, at.X());
  m->SetValue(2, 4, at.Y());
  m->SetValue(3, 4, at.Z());
  Handle(IGESGeom_TransformationMatrix) t = new IGESGeom_TransformationMatrix();
  t->Init(m);
  i->InitTransf(t);
  return i;
}

// How many entities of each type a file's directory holds.
std::map<int, int> EntityTypes(const std::string& path) {
  std::map<int, int> out;
  std::istringstream in(ReadAll(path));
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (line.size() < 73 || line[72] != 'D') continue;
    if (first) ++out[std::stoi(line.substr(0, 8))];
    first = !first;
  }
  return out;
}

// The colour a part gives (its own, else its first sub-shape's).
std::array<double, 3> ColourOf(CAD::IItem* item) {
  std::array<double, 3> rgb{-1, -1, -1};
  auto* part = dynamic_cast<CAD::IPart*>(item);
  if (part) part->GetColor(rgb.data());
  return rgb;
}

// The tree of a document as text: "name{child,child}" for groups, "name" for parts, with the
// parts' colours as bytes and their boxes where they are placed.
struct TreeWalk {
  CAD::ICADContext* ctx;
  std::string tree;
  std::vector<std::string> parts;  // "name #rrggbb box"
  void Walk(CAD::IAssembly* a, const double* parent) {
    for (int i = 0; i < a->GetChildCount(); ++i) {
      if (i) tree += ",";
      ObjPtr<CAD::IItem> item = Child(a, i);
      double own[12], global[12];
      item->GetMatrix(own);
      ctx->GetMatrixService()->Multiply(parent, own, global);
      const std::string name = NameOf(item.Get());
      tree += name;
      if (item->IsAssembly()) {
        tree += "{";
        Walk(AsAssembly(item), global);
        tree += "}";
        continue;
      }
      ObjPtr<CAD::IShape> shape(AsPart(item)->GetShape());
      ObjPtr<CAD::IShape> placed(shape->Placed(global));
      double box[6] = {0, 0, 0, 0, 0, 0};
      EXPECT_TRUE(placed->GetBoundingBox(box)) << name;
      const std::array<double, 3> c = ColourOf(item.Get());
      char text[160];
      std::snprintf(text, sizeof text, "%s #%02X%02X%02X %.3f %.3f %.3f %.3f %.3f %.3f",
                    name.c_str(), int(c[0] * 255 + 0.5), int(c[1] * 255 + 0.5),
                    int(c[2] * 255 + 0.5), box[0], box[1], box[2], box[3], box[4], box[5]);
      parts.push_back(text);
    }
  }
};

TreeWalk WalkDocument(CAD::ICADContext* ctx) {
  TreeWalk w{ctx, {}, {}};
  double identity[12];
  ctx->GetMatrixService()->Identity(identity);
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  w.Walk(doc.Get(), identity);
  return w;
}

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

TEST_F(EngineTest, IgesSolidsOfOtherWritersKeepTheirColoursAndNames) {
  // A block coloured by a colour definition of 90 % red and named by a name property, one of its
  // faces yellow by colour number (5); a pin green by colour number (3), named by its label only
  // (eight characters, padded with spaces in the file).
  TempDir dir;
  const std::string path = dir / "solids.igs";
  const TopoDS_Shape block = BRepPrimAPI_MakeBox(10, 20, 30).Shape();
  const TopoDS_Shape pin =
      BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(50, 0, 0), gp::DZ()), 5, 20).Shape();
  {
    EntityWriter w(true);
    Handle(IGESData_IGESEntity) b = w.Add(block), p = w.Add(pin);
    ASSERT_FALSE(b.IsNull());
    ASSERT_FALSE(p.IsNull());
    b->InitColor(w.Colour(90, 10, 10), 0);
    w.Name(b, "Red block");
    p->InitColor(nullptr, 3);
    p->SetLabel(new TCollection_HAsciiString("PIN"));
    Handle(IGESData_IGESEntity) face = w.EntityOf(TopExp_Explorer(block, TopAbs_FACE).Current());
    ASSERT_FALSE(face.IsNull());
    face->InitColor(nullptr, 5);
    w.Write(path);
  }
  ASSERT_NE(ReadAll(path).find("PIN     "), std::string::npos);  // the label as files pad it
  ASSERT_TRUE(ctx->ImportIGES(path.c_str())) << ctx->GetLastErrorText();
  const TreeWalk w = WalkDocument(ctx.Get());
  EXPECT_EQ(w.tree, "Red block,PIN");
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  ASSERT_EQ(doc->GetChildCount(), 2);
  // The colours as the file gives them (percentages of the definition, the numbered colours).
  ExpectColor(AsPart(Child(doc.Get(), 0)), 0.9, 0.1, 0.1);
  ExpectColor(AsPart(Child(doc.Get(), 1)), 0, 1, 0);
  ObjPtr<CAD::IShape> shape(AsPart(Child(doc.Get(), 0))->GetShape());
  const int n = ctx->GetShapeColorCount(shape.Get());
  int faces = 0;
  for (int i = 0; i < n; ++i) {
    CAD::ShapeColor c{};
    ASSERT_TRUE(ctx->GetShapeColor(shape.Get(), i, &c));
    if (c.kind != CAD::eColorOfFace) continue;
    ++faces;
    EXPECT_NEAR(c.rgba[0], 1, 1e-6);
    EXPECT_NEAR(c.rgba[1], 1, 1e-6);
    EXPECT_NEAR(c.rgba[2], 0, 1e-6);
  }
  EXPECT_EQ(faces, 1);
  // Written again: the same names and colours.
  const std::string again = dir / "again.igs";
  ASSERT_TRUE(ctx->ExportIGES(again.c_str())) << ctx->GetLastErrorText();
  ObjPtr<CAD::ICADContext> in(Tools()->NewContext());
  ASSERT_TRUE(in->ImportIGES(again.c_str())) << in->GetLastErrorText();
  const TreeWalk back = WalkDocument(in.Get());
  EXPECT_EQ(back.tree, w.tree);
  EXPECT_EQ(back.parts, w.parts);
}

TEST_F(EngineTest, IgesSurfacesOfOtherWritersAreNamedColouredPartsSewnIntoShells) {
  // Each solid written as a group of trimmed surfaces (as systems without solids write them),
  // the group named, the surfaces coloured: the block's blue by a definition, the pin's one by
  // one in red and cyan.
  TempDir dir;
  const std::string path = dir / "surfaces.igs";
  const TopoDS_Shape block = BRepPrimAPI_MakeBox(10, 20, 30).Shape();
  const TopoDS_Shape pin =
      BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(50, 0, 0), gp::DZ()), 5, 20).Shape();
  {
    EntityWriter w(false);
    Handle(IGESData_IGESEntity) b = w.Add(block), p = w.Add(pin);
    ASSERT_FALSE(b.IsNull());
    ASSERT_FALSE(p.IsNull());
    w.Name(b, "Blue block");
    p->SetLabel(new TCollection_HAsciiString("PIN"));
    const Handle(IGESGraph_Color) blue = w.Colour(20, 40, 80);
    for (TopExp_Explorer e(block, TopAbs_FACE); e.More(); e.Next()) {
      Handle(IGESData_IGESEntity) f = w.EntityOf(e.Current());
      ASSERT_FALSE(f.IsNull());
      f->InitColor(blue, 0);
    }
    int k = 0;
    for (TopExp_Explorer e(pin, TopAbs_FACE); e.More(); e.Next(), ++k) {
      Handle(IGESData_IGESEntity) f = w.EntityOf(e.Current());
      ASSERT_FALSE(f.IsNull());
      f->InitColor(nullptr, k == 0 ? 2 : 7);
    }
    w.Write(path);
  }
  ASSERT_EQ(EntityTypes(path)[186], 0);  // no solid in the file
  ASSERT_GT(EntityTypes(path)[144], 0);
  ASSERT_TRUE(ctx->ImportIGES(path.c_str())) << ctx->GetLastErrorText();
  const TreeWalk w = WalkDocument(ctx.Get());
  EXPECT_EQ(w.tree, "Blue block,PIN");
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  ASSERT_EQ(doc->GetChildCount(), 2);
  const std::vector<std::array<double, 3>> blue(6, {0.2, 0.4, 0.8});
  const std::vector<std::array<double, 3>> pinColours{{1, 0, 0}, {0, 1, 1}, {0, 1, 1}};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    ObjPtr<CAD::IShape> shape(AsPart(Child(doc.Get(), i))->GetShape());
    EXPECT_EQ(shape->GetSolidCount(), 0);  // sewn into a closed shell
    std::vector<std::array<double, 3>> got;
    for (int k = 0; k < ctx->GetShapeColorCount(shape.Get()); ++k) {
      CAD::ShapeColor c{};
      ASSERT_TRUE(ctx->GetShapeColor(shape.Get(), k, &c));
      EXPECT_EQ(c.kind, CAD::eColorOfFace);
      got.push_back({std::round(c.rgba[0] * 1000) / 1000, std::round(c.rgba[1] * 1000) / 1000,
                     std::round(c.rgba[2] * 1000) / 1000});
    }
    std::sort(got.begin(), got.end());
    std::vector<std::array<double, 3>> want = i == 0 ? blue : pinColours;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
  }
}

TEST_F(EngineTest, IgesSubfiguresOfOtherWritersAreTheTree) {
  // A bolt defined once ("BOLT", gold) and placed twice in a pair ("PAIR", the second instance
  // named by its label), the pair placed once turned a quarter about z and raised by 100. The
  // bolt a solid, or a group of trimmed surfaces each coloured.
  for (bool solids : {true, false}) {
    SCOPED_TRACE(solids ? "solids" : "surfaces");
    TempDir dir;
    const std::string path = dir / "subfigures.igs";
    {
      EntityWriter w(solids);
      const TopoDS_Shape bolt =
          BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(50, 0, 0), gp::DZ()), 5, 20).Shape();
      Handle(IGESData_IGESEntity) b = w.Add(bolt);
      const Handle(IGESGraph_Color) gold = w.Colour(80, 70, 20);
      if (solids) {
        b->InitColor(gold, 0);
      } else {
        for (TopExp_Explorer e(bolt, TopAbs_FACE); e.More(); e.Next())
          w.EntityOf(e.Current())->InitColor(gold, 0);
      }
      Handle(IGESBasic_SubfigureDef) boltDef = Definition("BOLT", {b}, 0);
      Handle(IGESBasic_SingularSubfigure) first = Instance(boltDef, gp_XYZ(0, 0, 0));
      Handle(IGESBasic_SingularSubfigure) second = Instance(boltDef, gp_XYZ(0, 30, 0));
      second->SetLabel(new TCollection_HAsciiString("BOLT-2"));
      Handle(IGESBasic_SubfigureDef) pair = Definition("PAIR", {first, second}, 1);
      w.AddRoot(Instance(pair, gp_XYZ(0, 0, 100), true));
      w.Write(path);
    }
    ASSERT_TRUE(ctx->ImportIGES(path.c_str())) << ctx->GetLastErrorText();
    const TreeWalk w = WalkDocument(ctx.Get());
    EXPECT_EQ(w.tree, "PAIR{BOLT,BOLT}");
    // x' = -y, y' = x: the bolts at (50, 0) and (50, 30) go to (0, 50) and (-30, 50).
    EXPECT_EQ(w.parts, (std::vector<std::string>{
                           "BOLT #CCB333 -5.000 45.000 100.000 5.000 55.000 120.000",
                           "BOLT #CCB333 -35.000 45.000 100.000 -25.000 55.000 120.000"}));
  }
}

TEST_F(EngineTest, IgesExportKeepsTheTreeAsSubfigures) {
  // Groups in groups, a part turned a quarter, one placed twice by two parts of the same
  // solid, colours between 0 and 1, an empty group (which IGES cannot keep: a warning says so).
  TempDir dir;
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  ObjPtr<CAD::IAssembly> frame(doc->AddAssembly());
  frame->SetName("Frame");
  ObjPtr<CAD::IShape> plateShape(ctx->Box(60, 80, 8));
  double m[12];
  Translation(m, 40, 0, 0);
  ObjPtr<CAD::IShape> plateAt(plateShape->Placed(m));
  ObjPtr<CAD::IPart> plate(frame->AddShape(plateAt.Get()));
  plate->SetName("Plate");
  plate->SetColor(192 / 255.0, 48 / 255.0, 48 / 255.0);
  ObjPtr<CAD::IAssembly> pins(frame->AddAssembly());
  pins->SetName("Pins");
  ObjPtr<CAD::IShape> pinShape(ctx->Cylinder(4, 30));
  for (int i = 0; i < 2; ++i) {
    Translation(m, 50 + 40 * i, 10 + 60 * i, 8);
    ObjPtr<CAD::IShape> at(pinShape->Placed(m));
    ObjPtr<CAD::IPart> pin(pins->AddShape(at.Get()));
    pin->SetName(i == 0 ? "Pin 1" : "Pin 2");
    pin->SetColor(0.376, 0.376, 0.376);
  }
  ObjPtr<CAD::IAssembly> empty(frame->AddAssembly());
  empty->SetName("Nothing");
  // A wedge turned a quarter about z and moved.
  ObjPtr<CAD::IShape> wedge(ctx->Box(10, 20, 5));
  const double turned[12] = {0, -1, 0, -20, 1, 0, 0, 5, 0, 0, 1, 0};
  ObjPtr<CAD::IShape> wedgeAt(wedge->Placed(turned));
  ObjPtr<CAD::IPart> key(doc->AddShape(wedgeAt.Get()));
  key->SetName("Key");
  key->SetColor(0.69, 0.5, 0.125);
  const std::string path = dir / "tree.igs";
  ASSERT_TRUE(ctx->ExportIGES(path.c_str())) << ctx->GetLastErrorText();
  bool warned = false;
  for (int i = 0; i < ctx->GetWarningCount(); ++i)
    warned = warned || std::string(ctx->GetWarning(i)).find("\"Nothing\"") != std::string::npos;
  EXPECT_TRUE(warned);
  // What the file holds: a definition per part and group (five, the empty group none), an
  // instance per placed item (six), a matrix for each placement but the identity ones.
  std::map<int, int> types = EntityTypes(path);
  EXPECT_EQ(types[308], 6);
  EXPECT_EQ(types[408], 6);
  EXPECT_EQ(types[186], 4);
  EXPECT_GE(types[124], 4);

  // Read back: the same tree, names, colours and places; STEP gives the same.
  ObjPtr<CAD::ICADContext> in(Tools()->NewContext());
  ASSERT_TRUE(in->ImportIGES(path.c_str())) << in->GetLastErrorText();
  const TreeWalk back = WalkDocument(in.Get());
  EXPECT_EQ(back.tree, "Frame{Plate,Pins{Pin 1,Pin 2}},Key");
  EXPECT_EQ(back.parts,
            (std::vector<std::string>{"Plate #C03030 40.000 0.000 0.000 100.000 80.000 8.000",
                                      "Pin 1 #606060 46.000 6.000 8.000 54.000 14.000 38.000",
                                      "Pin 2 #606060 86.000 66.000 8.000 94.000 74.000 38.000",
                                      "Key #B08020 -40.000 5.000 0.000 -20.000 15.000 5.000"}));
  // A colour of bytes (as the viewer's colours are) gives the same bytes, truncated.
  ObjPtr<CAD::IAssembly> backDoc(in->GetAssembly());
  ObjPtr<CAD::IItem> backFrame = Child(backDoc.Get(), 0);
  ASSERT_TRUE(backFrame->IsAssembly());
  ObjPtr<CAD::IItem> backPlate = Child(AsAssembly(backFrame), 0);
  ASSERT_FALSE(backPlate->IsAssembly());
  double bytes[3];
  ASSERT_TRUE(AsPart(backPlate)->GetColor(bytes));
  EXPECT_EQ(int(bytes[0] * 255), 192);
  EXPECT_EQ(int(bytes[1] * 255), 48);
  EXPECT_EQ(int(bytes[2] * 255), 48);
  const std::string step = dir / "tree.step";
  ASSERT_TRUE(ctx->ExportSTEP(step.c_str())) << ctx->GetLastErrorText();
  ObjPtr<CAD::ICADContext> fromStep(Tools()->NewContext());
  ASSERT_TRUE(fromStep->ImportSTEP(step.c_str())) << fromStep->GetLastErrorText();
  const TreeWalk viaStep = WalkDocument(fromStep.Get());
  EXPECT_EQ(viaStep.parts, back.parts);
  // And written again from what was read, the same once more.
  const std::string again = dir / "again.igs";
  ASSERT_TRUE(in->ExportIGES(again.c_str())) << in->GetLastErrorText();
  ObjPtr<CAD::ICADContext> in2(Tools()->NewContext());
  ASSERT_TRUE(in2->ImportIGES(again.c_str())) << in2->GetLastErrorText();
  const TreeWalk back2 = WalkDocument(in2.Get());
  EXPECT_EQ(back2.tree, back.tree);
  EXPECT_EQ(back2.parts, back.parts);
}

TEST_F(EngineTest, IgesFilesWithoutColoursGiveNoColours) {
  // The kernel's sample bearing (no colour in it) and a file of plain solids.
  TempDir dir;
  const std::string plain = dir / "plain.igs";
  {
    EntityWriter w(true);
    w.Add(BRepPrimAPI_MakeBox(10, 20, 30).Shape());
    w.Add(BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(50, 0, 0), gp::DZ()), 5, 20).Shape());
    w.Write(plain);
  }
  std::vector<std::string> files{plain};
  const std::string bearing = "/usr/share/opencascade/data/iges/bearing.iges";
  if (std::filesystem::exists(bearing)) files.push_back(bearing);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    ASSERT_TRUE(ctx->ImportIGES(file.c_str())) << ctx->GetLastErrorText();
    ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
    ASSERT_GT(doc->GetChildCount(), 0);
    for (int i = 0; i < doc->GetChildCount(); ++i) {
      ObjPtr<CAD::IItem> item = Child(doc.Get(), i);
      ASSERT_FALSE(item->IsAssembly());
      double rgb[3];
      EXPECT_FALSE(AsPart(item)->GetColor(rgb));
      ObjPtr<CAD::IShape> shape(AsPart(item)->GetShape());
      EXPECT_EQ(ctx->GetShapeColorCount(shape.Get()), 0);
    }
  }
}

TEST_F(EngineTest, BrokenIgesFilesFailWithTheirReason) {
  TempDir dir;
  // A subfigure that holds an instance of itself: the kernel's transfer would never end.
  const std::string loop = dir / "loop.igs";
  {
    EntityWriter w(true);
    Handle(IGESData_IGESEntity) b = w.Add(BRepPrimAPI_MakeBox(10, 20, 30).Shape());
    Handle(IGESBasic_SubfigureDef) def = Definition("LOOP", {b}, 1);
    Handle(IGESBasic_SingularSubfigure) inner = Instance(def, gp_XYZ(1, 0, 0));
    Handle(IGESData_HArray1OfIGESEntity) list = new IGESData_HArray1OfIGESEntity(1, 2);
    list->SetValue(1, b);
    list->SetValue(2, inner);
    def->Init(1, new TCollection_HAsciiString("LOOP"), list);
    w.AddRoot(Instance(def, gp_XYZ(0, 0, 0)));
    w.Write(loop);
  }
  // Subfigures nested 150 deep.
  const std::string deep = dir / "deep.igs";
  {
    EntityWriter w(true);
    Handle(IGESData_IGESEntity) inner = w.Add(BRepPrimAPI_MakeBox(1, 1, 1).Shape());
    for (int i = 0; i < 150; ++i) {
      Handle(IGESBasic_SubfigureDef) def = Definition("LEVEL", {inner}, i);
      inner = Instance(def, gp_XYZ(0, 0, 1));
    }
    w.AddRoot(inner);
    w.Write(deep);
  }
  // A real file cut in the middle of its entities, and one whose directory is garbled.
  const std::string sample = "/usr/share/opencascade/data/iges/hammer.iges";
  const std::string cut = dir / "cut.igs", garbled = dir / "garbled.igs";
  std::string text = std::filesystem::exists(sample) ? ReadAll(sample) : ReadAll(loop);
  WriteAll(cut, text.substr(0, text.size() / 2));
  for (size_t at = text.find("D0000"); at != std::string::npos && at < text.size();
       at = text.find("D0000", at + 400))
    text.replace(at - 72, 8, "  -99999");
  WriteAll(garbled, text);

  for (const auto& [file, why] : std::vector<std::pair<std::string, std::string>>{
           {loop, "contains itself"}, {deep, "nested deeper than 100"}}) {
    SCOPED_TRACE(file);
    EXPECT_FALSE(ctx->ImportIGES(file.c_str()));
    EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeBadFile);
    EXPECT_NE(std::string(ctx->GetLastErrorText()).find(why), std::string::npos)
        << ctx->GetLastErrorText();
  }
  // The damaged files: read as far as they go (the one cut short says so), or refused with a
  // reason; the engine goes on.
  for (const std::string& file : {cut, garbled}) {
    SCOPED_TRACE(file);
    if (ctx->ImportIGES(file.c_str())) {
      ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
      EXPECT_GT(doc->GetChildCount(), 0);
      bool warned = false;
      for (int i = 0; i < ctx->GetWarningCount(); ++i)
        warned = warned ||
                 std::string(ctx->GetWarning(i)).find("no terminate section") != std::string::npos;
      EXPECT_EQ(warned, file == cut);
    } else {
      EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeBadFile);
      EXPECT_NE(std::string(ctx->GetLastErrorText()).find(file), std::string::npos)
          << ctx->GetLastErrorText();
    }
  }
  ASSERT_TRUE(ctx->ImportIGES(loop.c_str()) == false);
  ObjPtr<CAD::IShape> box(ctx->Box(1, 2, 3));
  EXPECT_NEAR(box->GetVolume(), 6, 1e-9);
}
