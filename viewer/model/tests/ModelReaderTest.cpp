// The model file reader over files written by the tests, with the real engine building solids.
#include "model/elements/Bearings.h"
#include "model/elements/Beams.h"
#include "model/elements/Gears.h"
#include "model/elements/Shafts.h"
#include "model/TreeObjectPrimitives.h"
#include "model/reader/ModelReader.h"
#include "model/tests/TreeTestEngine.h"
#include "testing/TestFiles.h"
#include "xml/XMLDocument.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

using tree_test::NewEngineContext;

class ModelReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx = NewEngineContext();
    ASSERT_TRUE(ctx);
    root = std::make_shared<CNodeRoot>();
    root->SetContext(ctx);
    SetBuildErrorReporter([this](const std::wstring& m) { messages.push_back(m); });
  }
  void TearDown() override { SetBuildErrorReporter(nullptr); }

  // Reads a model file with the given content into root.
  ModelReadResult Read(const std::string& xml) {
    dir.Write("model.xml", xml);
    report = ModelReadReport{};
    return ReadModelFile(dir.WFile("model.xml"), root, &report);
  }
  static std::string Model(const std::string& data, const std::string& header = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Model>" + header + "<Data>" + data +
           "</Data></Model>";
  }
  template <class T>
  std::shared_ptr<T> Child(const CNode& group, int i) const {
    return std::dynamic_pointer_cast<T>(group.GetChild(i));
  }

  QZ::ObjPtr<ICADContext> ctx;
  std::shared_ptr<CNodeRoot> root;
  std::vector<std::wstring> messages;
  ModelReadReport report;
  TempDir dir;
};

const char* kBox =
    "<Object Type=\"box\" Name=\"B\" Color=\"255\"><GeometryParameters>"
    "<Param Name=\"w\">10</Param><Param Name=\"H\">20</Param><Param Name=\"l\">30</Param>"
    "</GeometryParameters></Object>";

TEST_F(ModelReaderTest, RootElementHeaderAndTypes) {
  // The root element compares without case; Models is no model and leaves the root alone.
  ASSERT_TRUE(Read("<model><Data>" + std::string(kBox) + "</Data></model>"));
  ASSERT_EQ(root->GetChildCount(), 1);
  auto box = Child<CBox>(*root, 0);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->GetName(), L"B");
  EXPECT_DOUBLE_EQ(box->GetValue(L"h").ToDouble(), 20);
  EXPECT_TRUE(box->GetShape());
  EXPECT_FALSE(Read("<Models><Data>" + std::string(kBox) + "</Data></Models>"));
  EXPECT_EQ(root->GetChildCount(), 1);
  EXPECT_FALSE(Read("<Model><Data>"));  // malformed

  // Header fields by name without case; other fields are ignored.
  root = std::make_shared<CNodeRoot>();
  root->SetContext(ctx);
  ASSERT_TRUE(Read(Model("",
                         "<Header><author>Ann</author><FileName>f.xml</FileName>"
                         "<Colour>x</Colour></Header>")));
  EXPECT_EQ(root->GetHeader()->GetValue(L"Author").ToText(), L"Ann");
  EXPECT_EQ(root->GetHeader()->GetValue(L"FileName").ToText(), L"f.xml");

  // An Object without Type and one of an unknown type are skipped silently; XBearing is none.
  root = std::make_shared<CNodeRoot>();
  root->SetContext(ctx);
  ASSERT_TRUE(
      Read(Model("<Object Name=\"none\"/><Object Type=\"Gizmo\"/>"
                 "<Object Type=\"XBearing\"/>" +
                 std::string(kBox))));
  EXPECT_EQ(root->GetChildCount(), 1);
  EXPECT_EQ(report.objectsSkipped, 3);
  EXPECT_EQ(report.objectsRead, 1);
  EXPECT_TRUE(messages.empty());
}

TEST_F(ModelReaderTest, BearingKindsNamesColoursAndMatrices) {
  const std::string bearing =
      "<GeometryParameters><Param Name=\"dout\">62</Param><Param Name=\"din\">30</Param>"
      "<Param Name=\"B\">16</Param></GeometryParameters>";
  ASSERT_TRUE(Read(
      Model("<Object Type=\"BearingNeedleRoller\">" + bearing +
            "</Object>"
            "<Object Type=\"Bearing\">" +
            bearing +
            "</Object>"
            "<Object Type=\"BearingSphericalRollerThrust\">" +
            bearing +
            "</Object>"
            "<Object Type=\"Box\" Name=\"Moved\"><MatrixTransform>"
            "<Element Col=\"4\" Row=\"1\">100</Element><Element Col=\"5\" Row=\"1\">7</Element>"
            "<Element Col=\"1\" Row=\"4\">7</Element></MatrixTransform>"
            "<GeometryParameters><Param Name=\"w\">1</Param><Param Name=\"h\">1</Param>"
            "<Param Name=\"l\">1</Param></GeometryParameters></Object>")));
  ASSERT_EQ(root->GetChildCount(), 4);
  EXPECT_EQ(Child<CBearing>(*root, 0)->GetKind(), 20);
  EXPECT_EQ(Child<CBearing>(*root, 1)->GetKind(), CBearing().GetKind());
  EXPECT_EQ(Child<CBearing>(*root, 2)->GetKind(), 19);
  // The default colour and name.
  auto first = Child<CBearing>(*root, 0);
  EXPECT_EQ(first->FindColorProperty(L"Color")->GetColor(), kDefaultObjectColor);
  EXPECT_EQ(first->GetName(), L"");
  // Col 4 Row 1 moves the object along the first axis; Col 5 and Row 4 are ignored.
  auto moved = root->GetChild(3);
  Matrix12 want = IdentityMatrix12();
  want[3] = 100;
  EXPECT_EQ(moved->GetMatrix(), want);
  double box[6];
  ASSERT_TRUE(Child<CObject3D>(*root, 3)->GetShape()->GetBoundingBox(box));
  EXPECT_NEAR(box[0], 100, 1e-6);
}

TEST_F(ModelReaderTest, ParameterKindsDescriptionsAndSectionEnds) {
  ASSERT_TRUE(
      Read(Model("<Object Type=\"BeamT\"><GeometryParameters><Param Name=\"taper\">true</Param>"
                 "<Param Name=\"h\" Description=\"height\">50</Param><Param Name=\"b\">x</Param>"
                 "</GeometryParameters></Object>"
                 "<Object Type=\"BeamT\"><GeometryParameters><Param Name=\"taper\">yes</Param>"
                 "<Param Name=\"h\">50</Param></GeometryParameters></Object>"
                 "<Node Type=\"SHAFT\" Name=\"S\">"
                 "<Object Type=\"ShaftSection\"><GeometryParameters><Param Name=\"lch1\">-1</Param>"
                 "<Param Name=\"lch2\">0</Param></GeometryParameters></Object>"
                 "<Object Type=\"ShaftSection\"><GeometryParameters><Param Name=\"lch1\">0</Param>"
                 "<Param Name=\"lch2\">2</Param></GeometryParameters></Object>"
                 "<Object Type=\"ShaftSection\"><GeometryParameters><Param Name=\"lch1\">2</Param>"
                 "</GeometryParameters></Object></Node>")));
  auto a = Child<CBeamT>(*root, 0);
  auto b = Child<CBeamT>(*root, 1);
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(a->GetValue(L"taper").ToBool());
  EXPECT_FALSE(b->GetValue(L"taper").ToBool());
  EXPECT_EQ(a->FindStandardProperty(L"h")->GetDescription(), L"height");
  // Without Description the description is emptied.
  EXPECT_EQ(b->FindStandardProperty(L"h")->GetDescription(), L"");
  EXPECT_DOUBLE_EQ(a->GetValue(L"b").ToDouble(), 0);  // not a number: 0
  auto shaft = Child<CShaft>(*root, 2);
  ASSERT_TRUE(shaft);
  ASSERT_EQ(shaft->GetChildCount(), 3);
  auto label = [&](int i, const wchar_t* name) {
    return Child<CShaftSection>(*shaft, i)->FindStandardProperty(name)->GetLabel();
  };
  EXPECT_EQ(label(0, L"lch1"), L"c1 x 45\u00B0");
  EXPECT_EQ(label(1, L"lch1"), L"c1 (r1)");
  EXPECT_EQ(label(2, L"lch1"), L"r1");
  EXPECT_EQ(label(0, L"lch2"), L"c2 (r2)");
  EXPECT_EQ(label(1, L"lch2"), L"r2");
}

TEST_F(ModelReaderTest, ShaftsSectionsGroovesAndToothProfiles) {
  const std::string section =
      "<GeometryParameters><Param Name=\"dout1\">40</Param><Param Name=\"dout2\">40</Param>"
      "<Param Name=\"l\">100</Param></GeometryParameters>";
  ASSERT_TRUE(Read(Model(
      "<Object Type=\"ShaftSection\">" + section +
      "</Object>"
      "<Node Type=\"Shaft\" Name=\"Main\"><Object Type=\"ShaftSection\">" +
      section +
      "<GrooveObject Type=\"grooverectangular\"><GeometryParameters><Param Name=\"x\">10</Param>"
      "<Param Name=\"m\">5</Param><Param Name=\"t\">2</Param></GeometryParameters></GrooveObject>"
      "<GrooveObject Type=\"Spiral\"/>"
      "<GrooveObject Type=\"Slots\"><GeometryParameters><Param Name=\"n\">4</Param>"
      "</GeometryParameters></GrooveObject></Object>"
      "<Object Type=\"Box\"/></Node>"
      "<Node Name=\"Group\"><Object Type=\"GearExternalToothProfile\"><ToothProfile>"
      "<PointCircle><GeometryParameters><Param Name=\"r\">10</Param><Param Name=\"angle\">0.5"
      "</Param></GeometryParameters></PointCircle><Other/><PointCircle/></ToothProfile>"
      "</Object></Node>")));
  // The section under Data is not in the model.
  ASSERT_EQ(root->GetChildCount(), 2);
  auto shaft = Child<CShaft>(*root, 0);
  ASSERT_TRUE(shaft);
  EXPECT_EQ(shaft->GetName(), L"Main");
  ASSERT_EQ(shaft->GetChildCount(), 2);
  auto s = Child<CShaftSection>(*shaft, 0);
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->GetShape());
  ASSERT_EQ(s->GetGrooves().size(), 2u);
  EXPECT_EQ(s->GetGrooves()[0]->GetGrooveType(), eGrooveRectangular);
  EXPECT_DOUBLE_EQ(s->GetGrooves()[0]->GetValue(L"m").ToDouble(), 5);
  EXPECT_EQ(s->GetGrooves()[1]->GetGrooveType(), eSlots);
  EXPECT_EQ(s->GetGrooves()[1]->GetValue(L"n").ToInt(), 4);
  // A plain object under a shaft node stays there, and is no section.
  EXPECT_FALSE(Child<CShaftSection>(*shaft, 1));
  auto group = Child<CNode>(*root, 1);
  ASSERT_TRUE(group);
  EXPECT_NE(group->GetType(), eTypeShaft);
  auto profile = Child<CGearToothProfile>(*group, 0);
  ASSERT_TRUE(profile);
  ASSERT_EQ(profile->GetPoints().size(), 2u);
  EXPECT_DOUBLE_EQ(profile->GetPoints()[0]->GetValue(L"r").ToDouble(), 10);
  EXPECT_DOUBLE_EQ(profile->GetPoints()[0]->GetValue(L"angle").ToDouble(), 0.5);
}

TEST_F(ModelReaderTest, ValuesThatAreNotFiniteLeaveTheirObjectOutWithAMessage) {
  auto box = [](const std::string& w) {
    return "<Object Type=\"Box\" Name=\"" + w + "\"><GeometryParameters><Param Name=\"w\">" + w +
           "</Param><Param Name=\"h\">1</Param><Param Name=\"l\">1</Param>"
           "</GeometryParameters></Object>";
  };
  ASSERT_TRUE(Read(Model(box("nan") + box("-INF") + box("1e400") + box("2.5") +
                         "<Object Type=\"Box\" Name=\"m\"><MatrixTransform><Element Col=\"4\" "
                         "Row=\"2\">inf</Element></MatrixTransform></Object>")));
  // Only the good box is in the model; every bad one has its message.
  ASSERT_EQ(root->GetChildCount(), 1);
  EXPECT_DOUBLE_EQ(root->GetChild(0)->GetValue(L"w").ToDouble(), 2.5);
  ASSERT_EQ(report.entries.size(), 4u);
  EXPECT_EQ(report.entries[0].name, L"nan");
  EXPECT_EQ(report.entries[0].type, L"Box");
  EXPECT_NE(report.entries[0].message.find(L"not a finite number"), std::wstring::npos);
  EXPECT_NE(report.entries[3].message.find(L"placement"), std::wstring::npos);
  EXPECT_EQ(messages.size(), 4u);
  EXPECT_EQ(report.objectsSkipped, 4);
}

TEST_F(ModelReaderTest, DeeplyNestedNodesAreReadWithoutRecursion) {
  // Nesting close to the XML layer's limit.
  const int depth = 2000;
  std::string data;
  for (int i = 0; i < depth; ++i) data += "<Node>";
  data += kBox;
  for (int i = 0; i < depth; ++i) data += "</Node>";
  ASSERT_TRUE(Read(Model(data)));
  const CNode* g = root.get();
  int levels = 0;
  while (g->GetChildCount() == 1) {
    auto next = std::dynamic_pointer_cast<CNode>(g->GetChild(0));
    if (!next) break;
    g = next.get();
    ++levels;
  }
  EXPECT_EQ(levels, depth);
  EXPECT_TRUE(std::dynamic_pointer_cast<CBox>(g->GetChild(0)));
}

std::wstring Example(const char* name) {
  const std::string path = std::string(TOLMERA_TEST_SOURCE_DIR) + "/examples/models/" + name;
  return std::wstring(path.begin(), path.end());
}

TEST_F(ModelReaderTest, ExampleFiles) {
  // A shaft with every groove kind.
  ASSERT_TRUE(ReadModelFile(Example("shaft-grooves.xml"), root, &report));
  EXPECT_TRUE(messages.empty());
  ASSERT_EQ(root->GetChildCount(), 1);
  auto shaft = Child<CShaft>(*root, 0);
  ASSERT_TRUE(shaft);
  ASSERT_EQ(shaft->GetChildCount(), 4);
  const size_t grooves[] = {2, 2, 1, 1};
  // The sections at position 0 follow one another: z 0-40, 40-120, 120-170, 170-210.
  const double ends[] = {0, 40, 120, 170, 210};
  for (int i = 0; i < 4; ++i) {
    auto s = Child<CShaftSection>(*shaft, i);
    ASSERT_TRUE(s && s->GetShape());
    EXPECT_EQ(s->GetGrooves().size(), grooves[i]);
    double span[6];
    ASSERT_TRUE(s->GetShape()->GetBoundingBox(span));
    EXPECT_NEAR(span[2], ends[i], 1e-6) << i;
    EXPECT_NEAR(span[5], ends[i + 1], 1e-6) << i;
  }
  EXPECT_EQ(Child<CShaftSection>(*shaft, 1)->FindStandardProperty(L"lch1")->GetLabel(), L"r1");

  // Nested groups with placements: the second pin lies at its global place.
  root = std::make_shared<CNodeRoot>();
  root->SetContext(ctx);
  ASSERT_TRUE(ReadModelFile(Example("assembly.xml"), root, &report));
  EXPECT_TRUE(messages.empty());
  auto frame = Child<CNode>(*root, 0);
  ASSERT_TRUE(frame);
  auto pins = Child<CNode>(*frame, 1);
  ASSERT_TRUE(pins);
  auto pin = Child<CObject3D>(*pins, 1);
  ASSERT_TRUE(pin && pin->GetShape());
  double box[6];
  ASSERT_TRUE(pin->GetShape()->GetBoundingBox(box));
  // Local (70, 50) turned by 90 degrees is (-50, 70), moved by 100 along x; lifted by 8.
  EXPECT_NEAR((box[0] + box[3]) / 2, 50, 1e-6);
  EXPECT_NEAR((box[1] + box[4]) / 2, 70, 1e-6);
  EXPECT_NEAR(box[2], 8, 1e-6);

  // Edge cases: what is unusable is left out, the rest is read.
  root = std::make_shared<CNodeRoot>();
  root->SetContext(ctx);
  ASSERT_TRUE(ReadModelFile(Example("edge-cases.xml"), root, &report));
  EXPECT_EQ(root->GetHeader()->GetValue(L"FileDescription").ToText(), L"Edge cases");
  ASSERT_EQ(root->GetChildCount(), 4);
  EXPECT_TRUE(Child<CBox>(*root, 0));
  EXPECT_DOUBLE_EQ(root->GetChild(0)->GetValue(L"w").ToDouble(), 10);
  EXPECT_TRUE(Child<CCylinder>(*root, 1));  // kept without solid: its value can be corrected
  EXPECT_FALSE(Child<CCylinder>(*root, 1)->GetShape());
  EXPECT_TRUE(Child<CShaft>(*root, 2));
  ASSERT_TRUE(Child<CBearing>(*root, 3));
  EXPECT_EQ(Child<CBearing>(*root, 3)->GetKind(), 20);
  ASSERT_EQ(report.entries.size(), 1u);
  EXPECT_NE(report.entries[0].message.find(L"1e400"), std::wstring::npos);
  EXPECT_EQ(messages.size(), 2u);  // the sphere's value and the cylinder's build

  // A file in windows-1252.
  root = std::make_shared<CNodeRoot>();
  root->SetContext(ctx);
  ASSERT_TRUE(ReadModelFile(Example("windows-1252.xml"), root, &report));
  ASSERT_EQ(root->GetChildCount(), 1);
  EXPECT_EQ(root->GetChild(0)->GetName(), L"Welle \u00D840");
  EXPECT_EQ(root->GetHeader()->GetValue(L"Author").ToText(), L"J\u00FCrgen M\u00FCller");
}

TEST_F(ModelReaderTest, TheCatalogueSheetReadsWhole) {
  const std::wstring wpath = Example("catalogue.xml");
  const std::string path(wpath.begin(), wpath.end());
  const std::string text = ReadAll(path);
  ASSERT_FALSE(text.empty());
  size_t objects = 0;
  for (size_t at = text.find("<Object "); at != std::string::npos;
       at = text.find("<Object ", at + 1))
    ++objects;
  ASSERT_TRUE(ReadModelFile(wpath, root, &report));
  EXPECT_TRUE(messages.empty()) << (messages.empty()
                                        ? ""
                                        : std::string(messages[0].begin(), messages[0].end()));
  EXPECT_EQ(report.objectsRead, static_cast<int>(objects));
  EXPECT_EQ(report.objectsSkipped, 0);
  EXPECT_EQ(root->GetHeader()->GetValue(L"Organization").ToText(), L"TOLMERA");
}

// What a file that was not read leaves: its reason, the path, and a root as it was.
TEST_F(ModelReaderTest, AFileThatIsNotReadSaysWhyAndLeavesTheRootAlone) {
  ASSERT_TRUE(Read(Model(kBox, "<Header><Author>Ann</Author></Header>")));
  ASSERT_EQ(root->GetChildCount(), 1);
  auto unchanged = [&] {
    EXPECT_EQ(root->GetChildCount(), 1);
    EXPECT_EQ(root->GetHeader()->GetValue(L"Author").ToText(), L"Ann");
  };
  auto contains = [](const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
  };

  const std::wstring missing = dir.WFile("missing.xml");
  ModelReadResult r = ReadModelFile(missing, root);
  EXPECT_FALSE(r);
  EXPECT_EQ(r.reason, ModelReadError::Missing);
  EXPECT_EQ(r.path, missing);
  EXPECT_EQ(r.Text(), missing + L": no such file");
  EXPECT_EQ(ReadModelFile(L"", root).reason, ModelReadError::Missing);
  EXPECT_EQ(ReadModelFile(dir.WFile("model.xml/below"), root).reason, ModelReadError::Missing);
  unchanged();

  // A folder and a fifo are no files; the fifo is not opened (that would wait for a writer).
  std::filesystem::create_directory(dir.File("folder.xml"));
  EXPECT_EQ(ReadModelFile(dir.WFile("folder.xml"), root).reason, ModelReadError::NotAFile);
  ASSERT_EQ(::mkfifo((dir / "fifo.xml").c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  r = ReadModelFile(dir.WFile("fifo.xml"), root);
  EXPECT_EQ(r.reason, ModelReadError::NotAFile);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(contains(r.Text(), L"not a file"));
  unchanged();

  // Links that lead round in a loop, and (for a user the rights hold back) a file without
  // rights: the system's reason comes with it.
  std::filesystem::create_symlink("loop-b.xml", dir.File("loop-a.xml"));
  std::filesystem::create_symlink("loop-a.xml", dir.File("loop-b.xml"));
  r = ReadModelFile(dir.WFile("loop-a.xml"), root);
  EXPECT_EQ(r.reason, ModelReadError::Unreadable);
  EXPECT_FALSE(r.detail.empty());
  EXPECT_TRUE(contains(r.Text(), L"cannot be opened for reading: " + r.detail));
  if (::geteuid() != 0) {
    dir.Write("locked.xml", Model(kBox));
    ASSERT_EQ(::chmod((dir / "locked.xml").c_str(), 0), 0);
    EXPECT_EQ(ReadModelFile(dir.WFile("locked.xml"), root).reason, ModelReadError::Unreadable);
  }
  unchanged();

  // Text the XML layer refuses: its own reason and position.
  const std::string broken =
      "<?xml version=\"1.0\"?>\n<Model>\n<Data>\n  <Object Type=\"Box\"></Data>\n</Model>\n";
  dir.Write("broken.xml", broken);
  r = ReadModelFile(dir.WFile("broken.xml"), root);
  EXPECT_EQ(r.reason, ModelReadError::NotWellFormed);
  XMLDocument document(dir.WFile("broken.xml").c_str());
  std::wstring reason;
  CParsePoint at, unused;
  document.GetParsingErrorInformation(reason, at, unused, nullptr);
  ASSERT_FALSE(reason.empty());
  EXPECT_EQ(r.detail, reason);
  EXPECT_EQ(r.line, 4);
  EXPECT_EQ(r.line, at.GetLineNumber());
  EXPECT_EQ(r.column, at.GetLineIndex());
  EXPECT_GT(r.column, 0);
  EXPECT_EQ(r.Text(), dir.WFile("broken.xml") + L": not well-formed XML (line 4, column " +
                          std::to_wstring(r.column) + L"): " + reason);
  // Too short to hold a document: refused by the XML layer too, without a position.
  dir.Write("short.xml", "<a");
  r = ReadModelFile(dir.WFile("short.xml"), root);
  EXPECT_EQ(r.reason, ModelReadError::NotWellFormed);
  EXPECT_FALSE(r.detail.empty());
  unchanged();

  // A document of another kind: its root element's name.
  dir.Write("drawing.xml",
            "<?xml version=\"1.0\"?><Models><Data>" + std::string(kBox) + "</Data></Models>");
  r = ReadModelFile(dir.WFile("drawing.xml"), root);
  EXPECT_EQ(r.reason, ModelReadError::NotAModel);
  EXPECT_EQ(r.detail, L"Models");
  EXPECT_EQ(r.Text(), dir.WFile("drawing.xml") + L": not a model file: its root element is Models");
  unchanged();

  // No root to read into.
  EXPECT_EQ(ReadModelFile(dir.WFile("model.xml"), nullptr).reason, ModelReadError::NoRoot);

  // Every reason has a word of its own for logs.
  std::set<std::wstring> words;
  for (ModelReadError e :
       {ModelReadError::None, ModelReadError::NoRoot, ModelReadError::Missing,
        ModelReadError::NotAFile, ModelReadError::Unreadable, ModelReadError::NotWellFormed,
        ModelReadError::NotAModel, ModelReadError::Cancelled, ModelReadError::Failed})
    EXPECT_TRUE(words.insert(ModelReadErrorName(e)).second) << ModelReadErrorName(e);
}

TEST_F(ModelReaderTest, AReadingCancelledByItsProgressSaysSoAndKeepsTheRootsTextsAndChildren) {
  ASSERT_TRUE(Read(Model(kBox, "<Header><Author>Ann</Author></Header>")));
  dir.Write("next.xml", Model(std::string(kBox) + kBox, "<Header><Author>Bob</Author></Header>"));
  int calls = 0;
  const ModelReadResult r = ReadModelFile(dir.WFile("next.xml"), root, nullptr, [&](int, int) {
    ++calls;
    return false;
  });
  EXPECT_GT(calls, 0);
  EXPECT_EQ(r.reason, ModelReadError::Cancelled);
  EXPECT_EQ(r.Text(), dir.WFile("next.xml") + L": reading cancelled");
  EXPECT_EQ(root->GetChildCount(), 1);
  EXPECT_EQ(root->GetHeader()->GetValue(L"Author").ToText(), L"Ann");

  // Let through, the same file is read whole: no reason, no text.
  const ModelReadResult read =
      ReadModelFile(dir.WFile("next.xml"), root, nullptr, [](int, int) { return true; });
  EXPECT_TRUE(read);
  EXPECT_EQ(read.reason, ModelReadError::None);
  EXPECT_EQ(read.Text(), L"");
  EXPECT_EQ(root->GetChildCount(), 3);
  EXPECT_EQ(root->GetHeader()->GetValue(L"Author").ToText(), L"Bob");
}

}  // namespace
