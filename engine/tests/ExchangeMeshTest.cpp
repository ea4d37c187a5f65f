// glTF and OBJ exports read back by the kernel's own readers of those formats: the tree of
// nodes, the names, the colours (as the display colours they are) and the placed meshes; and
// what the exports refuse to write, and that they leave nothing behind but the files named.
#include "EngineFixture.h"

#include <BRepBndLib.hxx>
#include <BRep_Tool.hxx>
#include <Bnd_Box.hxx>
#include <Message_ProgressRange.hxx>
#include <Quantity_Color.hxx>
#include <RWGltf_CafReader.hxx>
#include <RWMesh_CoordinateSystem.hxx>
#include <RWObj_CafReader.hxx>
#include <TDataStd_Name.hxx>
#include <TDocStd_Document.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <XCAFApp_Application.hxx>
#include <XCAFDoc_ColorTool.hxx>
#include <XCAFDoc_DocumentTool.hxx>
#include <XCAFDoc_ShapeTool.hxx>
#include <XCAFDoc_VisMaterial.hxx>
#include <XCAFDoc_VisMaterialTool.hxx>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <set>

using namespace engine_test;

namespace {

namespace fs = std::filesystem;

// A part as a reader gives it back: its placed shape's box, its display colour, its triangles.
struct ReadPart {
  double box[6] = {0, 0, 0, 0, 0, 0};
  double rgb[3] = {-1, -1, -1};
  int triangles = 0;
};

struct ReadDoc {
  std::map<std::string, ReadPart> parts;  // by name (a path for OBJ groups)
  std::vector<std::string> tree;          // "name" of each item in tree order, groups as "name/"
};

std::string NameOf(const TDF_Label& label) {
  Handle(TDataStd_Name) name;
  if (!label.FindAttribute(TDataStd_Name::GetID(), name)) return "";
  return TCollection_AsciiString(name->Get()).ToCString();
}

// Walks a document the kernel's reader filled: assemblies into their components, parts with
// the box of their placed shape and the colour on the instance, the product or its faces.
ReadDoc Walk(const Handle(TDocStd_Document) & doc) {
  ReadDoc out;
  Handle(XCAFDoc_ShapeTool) shapes = XCAFDoc_DocumentTool::ShapeTool(doc->Main());
  Handle(XCAFDoc_ColorTool) colours = XCAFDoc_DocumentTool::ColorTool(doc->Main());
  Handle(XCAFDoc_VisMaterialTool) materials = XCAFDoc_DocumentTool::VisMaterialTool(doc->Main());
  // The readers of mesh formats give a label a material, or a colour.
  auto colourOf = [&](const TDF_Label& label, Quantity_Color& c) {
    if (colours->GetColor(label, XCAFDoc_ColorSurf, c) ||
        colours->GetColor(label, XCAFDoc_ColorGen, c))
      return true;
    const Handle(XCAFDoc_VisMaterial) m = materials->GetShapeMaterial(label);
    if (m.IsNull()) return false;
    c = m->BaseColor().GetRGB();
    return true;
  };
  std::function<void(const TDF_Label&, const TopLoc_Location&)> walk =
      [&](const TDF_Label& instance, const TopLoc_Location& parent) {
        TDF_Label product = instance;
        TopLoc_Location loc = parent;
        if (XCAFDoc_ShapeTool::IsReference(instance)) {
          XCAFDoc_ShapeTool::GetReferredShape(instance, product);
          loc = parent * XCAFDoc_ShapeTool::GetLocation(instance);
        }
        std::string name = NameOf(instance);
        if (name.empty()) name = NameOf(product);
        if (XCAFDoc_ShapeTool::IsAssembly(product)) {
          out.tree.push_back(name + "/");
          TDF_LabelSequence components;
          XCAFDoc_ShapeTool::GetComponents(product, components);
          for (int i = 1; i <= components.Length(); ++i) walk(components(i), loc);
          return;
        }
        out.tree.push_back(name);
        ReadPart part;
        const TopoDS_Shape shape = XCAFDoc_ShapeTool::GetShape(product).Moved(loc);
        Bnd_Box box;
        BRepBndLib::Add(shape, box, true);
        if (!box.IsVoid())
          box.Get(part.box[0], part.box[1], part.box[2], part.box[3], part.box[4], part.box[5]);
        Quantity_Color c;
        bool found = colourOf(instance, c) || colourOf(product, c);
        for (TopExp_Explorer e(shape, TopAbs_FACE); e.More(); e.Next()) {
          TopLoc_Location l;
          const auto t = BRep_Tool::Triangulation(TopoDS::Face(e.Current()), l);
          if (!t.IsNull()) part.triangles += t->NbTriangles();
          if (!found) found = colours->GetColor(e.Current(), XCAFDoc_ColorSurf, c);
        }
        TDF_LabelSequence subs;
        XCAFDoc_ShapeTool::GetSubShapes(product, subs);
        for (int i = 1; i <= subs.Length() && !found; ++i) found = colourOf(subs(i), c);
        if (found) c.Values(part.rgb[0], part.rgb[1], part.rgb[2], Quantity_TOC_sRGB);
        out.parts[name] = part;
      };
  TDF_LabelSequence free;
  shapes->GetFreeShapes(free);
  for (int i = 1; i <= free.Length(); ++i) walk(free(i), TopLoc_Location());
  return out;
}

Handle(TDocStd_Document) NewDoc() {
  Handle(TDocStd_Document) doc;
  XCAFApp_Application::GetApplication()->NewDocument("MDTV-XCAF", doc);
  return doc;
}

// The file read by the kernel's glTF reader into the model's millimetres and z up.
ReadDoc ReadGltf(const std::string& path) {
  Handle(TDocStd_Document) doc = NewDoc();
  RWGltf_CafReader reader;
  reader.SetDocument(doc);
  reader.SetSystemLengthUnit(0.001);
  reader.SetSystemCoordinateSystem(RWMesh_CoordinateSystem_Zup);
  EXPECT_TRUE(reader.Perform(path.c_str(), Message_ProgressRange())) << path;
  ReadDoc out = Walk(doc);
  XCAFApp_Application::GetApplication()->Close(doc);
  return out;
}

ReadDoc ReadObj(const std::string& path) {
  Handle(TDocStd_Document) doc = NewDoc();
  RWObj_CafReader reader;
  reader.SetDocument(doc);
  reader.SetSystemLengthUnit(0.001);
  reader.SetFileLengthUnit(0.001);
  EXPECT_TRUE(reader.Perform(path.c_str(), Message_ProgressRange())) << path;
  ReadDoc out = Walk(doc);
  XCAFApp_Application::GetApplication()->Close(doc);
  return out;
}

constexpr double kBoxColour[3] = {0.8, 0.2, 0.1};
constexpr double kPinColour[3] = {0.1, 0.5, 0.9};

// A box placed at x = 100 and, in a group, a cylinder: the model of the tests below.
void FillModel(CAD::ICADContext* ctx, const std::string& pinName = "Pin") {
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  ObjPtr<CAD::IShape> box(ctx->Box(10, 20, 30));
  double m[12];
  ctx->GetMatrixService()->Translation(100, 0, 0, m);
  ObjPtr<CAD::IShape> placed(box->Placed(m));
  ObjPtr<CAD::IPart> part(doc->AddShape(placed.Get()));
  part->SetName("Box");
  part->SetColor(kBoxColour[0], kBoxColour[1], kBoxColour[2]);
  ObjPtr<CAD::IAssembly> group(doc->AddAssembly());
  group->SetName("Group");
  ObjPtr<CAD::IShape> pin(ctx->Cylinder(5, 40));
  ObjPtr<CAD::IPart> pinPart(group->AddShape(pin.Get()));
  pinPart->SetName(pinName.c_str());
  pinPart->SetColor(kPinColour[0], kPinColour[1], kPinColour[2]);
}

void ExpectColour(const ReadPart& p, const double* want, const std::string& what) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(p.rgb[i], want[i], 2e-3) << what << " component " << i;
}

void ExpectBox(const ReadPart& p, std::initializer_list<double> want, double tolerance,
               const std::string& what) {
  int i = 0;
  for (double w : want) EXPECT_NEAR(p.box[i++], w, tolerance) << what << " box value " << i - 1;
}

std::set<std::string> FilesIn(const fs::path& dir) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
  return out;
}

}  // namespace

TEST_F(EngineTest, GltfReadsBackWithTheTreeNamesColoursAndPlacedMeshes) {
  TempDir dir;
  FillModel(ctx.Get(), "Pin \"one\"");
  for (const bool binary : {true, false}) {
    const std::string path = dir / (binary ? "model.glb" : "model.gltf");
    ASSERT_TRUE(ctx->ExportGLTF(path.c_str(), binary)) << ctx->GetLastErrorText();
    EXPECT_EQ(ctx->GetLastErrorCode(), 0);
    const ReadDoc read = ReadGltf(path);
    // One root above the model's items, the group with its part below it.
    ASSERT_EQ(read.tree.size(), 4u) << path;
    EXPECT_EQ(read.tree[0].back(), '/');
    EXPECT_EQ(read.tree[1], "Box");
    EXPECT_EQ(read.tree[2], "Group/");
    EXPECT_EQ(read.tree[3], "Pin \"one\"");
    ASSERT_EQ(read.parts.count("Box"), 1u);
    ASSERT_EQ(read.parts.count("Pin \"one\""), 1u);
    const ReadPart& box = read.parts.at("Box");
    const ReadPart& pin = read.parts.at("Pin \"one\"");
    ExpectColour(box, kBoxColour, path + " Box");
    ExpectColour(pin, kPinColour, path + " Pin");
    // A box's mesh has its corners; the cylinder's lies on its surface, within the deflection
    // of its display (0.004 of 40 mm).
    ExpectBox(box, {100, 0, 0, 110, 20, 30}, 1e-3, path);
    ExpectBox(pin, {-5, -5, 0, 5, 5, 40}, 0.17, path);
    EXPECT_EQ(box.triangles, 12) << path;
    EXPECT_GT(pin.triangles, 40) << path;
  }
  // The binary file is one file; the text one has its buffer beside it, and nothing else is
  // left in the folder.
  EXPECT_EQ(FilesIn(dir.Path()), (std::set<std::string>{"model.glb", "model.gltf", "model.bin"}));
  EXPECT_EQ(ReadAll(dir / "model.glb").substr(0, 4), "glTF");
  EXPECT_NE(ReadAll(dir / "model.gltf").find("\"uri\":\"model.bin\""), std::string::npos);
}

TEST_F(EngineTest, GltfAndObjExportsLeaveTheDocumentsNamesAndColoursAsTheyWere) {
  TempDir dir;
  FillModel(ctx.Get(), "Pin one#\nv 1 2 3");
  ASSERT_TRUE(ctx->ExportOBJ((dir / "a.obj").c_str())) << ctx->GetLastErrorText();
  ASSERT_TRUE(ctx->ExportGLTF((dir / "a.glb").c_str(), true)) << ctx->GetLastErrorText();
  // The STEP export after them writes the names and colours given (the mesh exports change
  // them for their formats only while they write).
  ASSERT_TRUE(ctx->ExportSTEP((dir / "a.step").c_str())) << ctx->GetLastErrorText();
  ObjPtr<CAD::ICADContext> back(Tools()->NewContext());
  ASSERT_TRUE(back->ImportSTEP((dir / "a.step").c_str())) << back->GetLastErrorText();
  ObjPtr<CAD::IAssembly> doc(back->GetAssembly());
  std::map<std::string, std::vector<double>> found;
  std::function<void(CAD::IItem*)> walk = [&](CAD::IItem* item) {
    if (item->IsAssembly()) {
      auto* a = static_cast<CAD::IAssembly*>(item);
      for (int i = 0; i < a->GetChildCount(); ++i) {
        ObjPtr<CAD::IItem> c(a->GetChild(i));
        walk(c.Get());
      }
      return;
    }
    ObjPtr<CAD::IItemInfo> info(item->GetInfo());
    double rgb[3] = {-1, -1, -1};
    static_cast<CAD::IPart*>(item)->GetColor(rgb);
    found[info->GetName()] = {rgb[0], rgb[1], rgb[2]};
  };
  walk(doc.Get());
  ASSERT_EQ(found.count("Pin one#\nv 1 2 3"), 1u);
  ASSERT_EQ(found.count("Box"), 1u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(found["Box"][i], kBoxColour[i], 1e-6);
    EXPECT_NEAR(found["Pin one#\nv 1 2 3"][i], kPinColour[i], 1e-6);
  }
}

TEST_F(EngineTest, ObjReadsBackWithGroupsMaterialsAndNoStatementFromAName) {
  TempDir dir;
  FillModel(ctx.Get(), "Pin one#\nv 1 2 3");
  // A name with spaces: the material file takes a plain name that the OBJ file refers to.
  const std::string path = dir / "my model.obj";
  ASSERT_TRUE(ctx->ExportOBJ(path.c_str())) << ctx->GetLastErrorText();
  EXPECT_EQ(FilesIn(dir.Path()), (std::set<std::string>{"my model.obj", "my_model.mtl"}));
  const std::string text = ReadAll(path);
  EXPECT_NE(text.find("mtllib my_model.mtl\n"), std::string::npos);
  // The name's line break and spaces stay inside the group's name.
  EXPECT_NE(text.find("\ng Group/Pin_one__v_1_2_3\n"), std::string::npos);
  EXPECT_EQ(text.find("\nv 1 2 3"), std::string::npos);
  int vertices = 0, faces = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    vertices += line.rfind("v ", 0) == 0;
    faces += line.rfind("f ", 0) == 0;
  }
  EXPECT_NE(text.find("#  Vertices: " + std::to_string(vertices) + "\n"), std::string::npos);
  EXPECT_NE(text.find("#     Faces: " + std::to_string(faces) + "\n"), std::string::npos);

  const ReadDoc read = ReadObj(path);
  ASSERT_EQ(read.parts.size(), 2u);
  ASSERT_EQ(read.parts.count("Box"), 1u);
  ASSERT_EQ(read.parts.count("Group/Pin_one__v_1_2_3"), 1u);
  const ReadPart& box = read.parts.at("Box");
  ExpectColour(box, kBoxColour, "Box");
  ExpectColour(read.parts.at("Group/Pin_one__v_1_2_3"), kPinColour, "Pin");
  ExpectBox(box, {100, 0, 0, 110, 20, 30}, 1e-3, "obj");
  EXPECT_EQ(box.triangles + read.parts.at("Group/Pin_one__v_1_2_3").triangles, faces);
}

TEST_F(EngineTest, MeshExportsWriteOnlyPlainFilesTheyAreNamed) {
  TempDir dir;
  TempDir outside;
  outside.Write("kept.txt", "kept");
  FillModel(ctx.Get());
  auto refused = [&](const std::string& path, bool binary, const std::string& reason) {
    const bool ok = path.size() > 4 && path.substr(path.size() - 4) == ".obj"
                        ? ctx->ExportOBJ(path.c_str())
                        : ctx->ExportGLTF(path.c_str(), binary);
    EXPECT_FALSE(ok) << path;
    EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeFileAccess) << path;
    EXPECT_NE(std::string(ctx->GetLastErrorText()).find(reason), std::string::npos)
        << path << ": " << ctx->GetLastErrorText();
  };
  // A link at the name, or at the name of the file beside it, is not written through.
  fs::create_symlink(outside / "kept.txt", dir.File("link.glb"));
  refused(dir / "link.glb", true, "symbolic link");
  fs::create_symlink(outside / "kept.txt", dir.File("text.bin"));
  refused(dir / "text.gltf", false, "symbolic link");
  fs::create_symlink(outside / "kept.txt", dir.File("shape.mtl"));
  refused(dir / "shape.obj", false, "symbolic link");
  EXPECT_EQ(outside.Read("kept.txt"), "kept");
  // A folder, a fifo, a folder that is not there.
  fs::create_directory(dir.File("folder.glb"));
  refused(dir / "folder.glb", true, "not a plain file");
  ASSERT_EQ(::mkfifo(dir.File("fifo.glb").c_str(), 0600), 0);
  refused(dir / "fifo.glb", true, "not a plain file");
  refused(dir / "missing/model.glb", true, "does not exist");
  refused((dir.Path() / "..").string(), true, "names no file");
  EXPECT_EQ(FilesIn(dir.Path()),
            (std::set<std::string>{"link.glb", "text.bin", "shape.mtl", "folder.glb", "fifo.glb"}));
  // A plain file is replaced; a name that is no plain URI gives its buffer a plain name, which
  // the file refers to.
  dir.Write("old.glb", "old");
  ASSERT_TRUE(ctx->ExportGLTF((dir / "old.glb").c_str(), true)) << ctx->GetLastErrorText();
  EXPECT_EQ(dir.Read("old.glb").substr(0, 4), "glTF");
  ASSERT_TRUE(ctx->ExportGLTF((dir / "a b#1?.gltf").c_str(), false)) << ctx->GetLastErrorText();
  EXPECT_NE(dir.Read("a b#1?.gltf").find("\"uri\":\"a_b_1_.bin\""), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(dir.File("a_b_1_.bin")));
  EXPECT_EQ(ReadGltf(dir / "a b#1?.gltf").parts.size(), 2u);
  // No private folder stays behind.
  for (const auto& name : FilesIn(dir.Path())) EXPECT_NE(name.rfind(".morlane", 0), 0u) << name;
}

TEST_F(EngineTest, MeshExportOfAnEmptyDocumentSaysThereIsNothingToWrite) {
  TempDir dir;
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  EXPECT_FALSE(ctx->ExportGLTF((dir / "empty.glb").c_str(), true));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeBadFile);
  EXPECT_NE(std::string(ctx->GetLastErrorText()).find("no shape"), std::string::npos);
  EXPECT_FALSE(ctx->ExportOBJ((dir / "empty.obj").c_str()));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeBadFile);
  EXPECT_TRUE(FilesIn(dir.Path()).empty());
}
