// STEP import of edited and hostile files: what is refused says why, what the reader survives is
// read (with warnings for what was left out), and every exchange stops at its time limit or when
// its progress callback says so.
#include "EngineFixture.h"

#include <regex>

using namespace engine_test;

namespace {

const char* kSampleStep = "/usr/share/opencascade/data/step/linkrods.step";

// A STEP file of the engine's own: one box named "Box".
std::string WriteBoxStep(CAD::ICADContext* ctx, const TempDir& dir) {
  const std::string path = dir / "box.step";
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  ObjPtr<CAD::IShape> box(ctx->Box(10, 20, 30));
  ObjPtr<CAD::IPart> part(doc->AddShape(box.Get()));
  part->SetName("Box");
  ctx->GetHeaderService()->SetFileDescription("a box");
  EXPECT_TRUE(ctx->ExportSTEP(path.c_str())) << ctx->GetLastErrorText();
  return path;
}

// The text with `insert` put right after the data section's opening.
std::string WithInstance(const std::string& text, const std::string& insert) {
  const size_t data = text.find("DATA;");
  EXPECT_NE(data, std::string::npos);
  return text.substr(0, data + 5) + "\n" + insert + text.substr(data + 5);
}

struct Refusal {
  std::string name;
  std::string text;
  int code;
  std::string reason;  // a part of the reason text
};

}  // namespace

TEST_F(EngineTest, RefusedStepFilesSayWhyAndKeepTheDocument) {
  TempDir dir;
  const std::string good = WriteBoxStep(ctx.Get(), dir);
  const std::string text = ReadAll(good);
  ASSERT_TRUE(ctx->ImportSTEP(good.c_str()));
  EXPECT_EQ(ctx->GetLastErrorCode(), 0);
  EXPECT_STREQ(ctx->GetLastErrorText(), "");

  std::vector<Refusal> cases;
  {
    // A point others use, renumbered: their references dangle.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, std::regex(R"(#(\d+) = CARTESIAN_POINT\()")));
    std::string t = text;
    t.replace(m.position(0), m[1].length() + 1, "#9999999");
    cases.push_back({"used-dangling.step", t, QZ::eCodeBadFile,
                     "which the file does not define, and other instances use it"});
  }
  {
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(text, m, std::regex(R"(#(\d+) = ORIENTED_EDGE\('',\*,\*,#(\d+),)")));
    std::string t = text;
    t.replace(m.position(2), m[2].length(), m[1].str());
    cases.push_back({"loop.step", t, QZ::eCodeBadFile, "a loop of references runs through #"});
  }
  cases.push_back({"overflow.step",
                   WithInstance(text, "#999990 = CARTESIAN_POINT('',(0.,1.E400,0.));\n"),
                   QZ::eCodeBadFile, "the number 1.E400 is out of range"});
  cases.push_back({"nan.step", WithInstance(text, "#999990 = CARTESIAN_POINT('',(0.,NaN,0.));\n"),
                   QZ::eCodeBadFile, "a value is not a finite number"});
  cases.push_back({"deep.step",
                   WithInstance(text, "#999990 = CARTESIAN_POINT(''," + std::string(150, '(') +
                                          std::string(150, ')') + ");\n"),
                   QZ::eCodeBadFile, "lists nested deeper than 100"});
  cases.push_back({"twice.step", WithInstance(text, "#1 = CARTESIAN_POINT('',(0.,0.,0.));\n"),
                   QZ::eCodeBadFile, " is defined twice"});
  cases.push_back({"open-string.step", text.substr(0, text.find("DATA;") + 5) + "\n#5 = PRODUCT('x",
                   QZ::eCodeBadFile, "a string is not closed"});
  cases.push_back({"header-only.step", text.substr(0, text.find("DATA;")), QZ::eCodeBadFile,
                   "no data section"});
  cases.push_back({"empty.step", "", QZ::eCodeBadFile, "the file is empty"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / c.name;
    WriteAll(path, c.text);
    EXPECT_FALSE(ctx->ImportSTEP(path.c_str()));
    EXPECT_EQ(ctx->GetLastErrorCode(), c.code);
    const std::string reason = ctx->GetLastErrorText();
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    EXPECT_NE(reason.find(path), std::string::npos) << reason;
  }
  EXPECT_FALSE(ctx->ImportSTEP((dir / "missing.step").c_str()));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeFileAccess);
  EXPECT_NE(std::string(ctx->GetLastErrorText()).find("no such file"), std::string::npos);
  // The document of the last good import stays.
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  ASSERT_EQ(doc->GetChildCount(), 1);
  EXPECT_EQ(NameOf(Child(doc.Get(), 0).Get()), "Box");
}

TEST_F(EngineTest, StepFaultsTheReaderSurvivesImportWithWarnings) {
  TempDir dir;
  const std::string good = WriteBoxStep(ctx.Get(), dir);
  const std::string text = ReadAll(good);
  struct Edited {
    std::string name, text, warning;
  };
  std::string headerWithData = text;
  const size_t description = headerWithData.find("'a box'");
  ASSERT_NE(description, std::string::npos);
  headerWithData.replace(description, 7, "'a box; DATA; ENDSEC; #1=X(#2);'");
  const std::vector<Edited> edited = {
      // Nothing uses the instance whose reference dangles: it is left out.
      {"unused-dangling.step", WithInstance(text, "#999990 = VERTEX_POINT('',#888888);\n"),
       "#999990 refers to #888888, which the file does not define; left out"},
      // A value the reader cannot take, in an instance nothing uses.
      {"unused-broken.step", WithInstance(text, "#999991 = CARTESIAN_POINT('',(0.,'text',0.));\n"),
       "#999991"},
      // The header's texts are strings, whatever they say.
      {"header-data.step", headerWithData, ""},
  };
  for (const auto& e : edited) {
    SCOPED_TRACE(e.name);
    const std::string path = dir / e.name;
    WriteAll(path, e.text);
    ObjPtr<CAD::ICADContext> in(Tools()->NewContext());
    ASSERT_TRUE(in->ImportSTEP(path.c_str())) << in->GetLastErrorText();
    ObjPtr<CAD::IAssembly> doc(in->GetAssembly());
    ASSERT_EQ(doc->GetChildCount(), 1);
    EXPECT_EQ(NameOf(Child(doc.Get(), 0).Get()), "Box");
    ObjPtr<CAD::IShape> shape(AsPart(Child(doc.Get(), 0))->GetShape());
    EXPECT_NEAR(shape->GetVolume(), 6000, 1e-6);
    if (e.warning.empty()) {
      EXPECT_EQ(in->GetWarningCount(), 0);
      EXPECT_STREQ(in->GetHeaderService()->GetFileDescription(), "a box; DATA; ENDSEC; #1=X(#2);");
    } else {
      ASSERT_EQ(in->GetWarningCount(), 1);
      EXPECT_NE(std::string(in->GetWarning(0)).find(e.warning), std::string::npos)
          << in->GetWarning(0);
      EXPECT_EQ(in->GetWarning(1), nullptr);
    }
  }
}

namespace {

struct ProgressLog {
  int calls = 0;
  double last = -1;
  bool monotonic = true;
  int stopAfter = -1;  // answer false from this call on
};

bool Record(void* user, double done) {
  auto* log = static_cast<ProgressLog*>(user);
  if (done < log->last - 1e-9) log->monotonic = false;
  log->last = done;
  ++log->calls;
  return log->stopAfter < 0 || log->calls < log->stopAfter;
}

}  // namespace

TEST_F(EngineTest, ExchangesStopAtTheirTimeLimitOrWhenCancelled) {
  if (!std::filesystem::exists(kSampleStep)) GTEST_SKIP() << kSampleStep << " is not installed";
  TempDir dir;
  // A generous limit and a callback that lets the import go on: it succeeds and reports.
  ProgressLog log;
  ctx->SetProgressCallback(&Record, &log);
  ctx->SetTimeLimit(300);
  ASSERT_TRUE(ctx->ImportSTEP(kSampleStep)) << ctx->GetLastErrorText();
  EXPECT_GT(log.calls, 0);
  EXPECT_TRUE(log.monotonic);
  EXPECT_LE(log.last, 1.0);

  // A callback that says stop: the import fails as cancelled, the document stays.
  ProgressLog stop;
  stop.stopAfter = 1;
  ctx->SetProgressCallback(&Record, &stop);
  EXPECT_FALSE(ctx->ImportSTEP(kSampleStep));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeCancelled);
  EXPECT_STREQ(ctx->GetLastErrorText(), "cancelled");
  EXPECT_FALSE(ctx->ExportSTEP((dir / "out.step").c_str()));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeCancelled);
  EXPECT_FALSE(ctx->ImportSTL("/usr/share/opencascade/data/stl/shape.stl"));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeCancelled);

  // A limit already past: every exchange fails with its own code and says which limit.
  ctx->SetProgressCallback(nullptr, nullptr);
  ctx->SetTimeLimit(1e-9);
  EXPECT_FALSE(ctx->ImportSTEP(kSampleStep));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeTimeLimit);
  EXPECT_NE(std::string(ctx->GetLastErrorText()).find("time limit"), std::string::npos);
  EXPECT_FALSE(ctx->ExportIGES((dir / "out.igs").c_str()));
  EXPECT_EQ(ctx->GetLastErrorCode(), QZ::eCodeTimeLimit);

  // The context goes on working once the limit allows it.
  ctx->SetTimeLimit(0);
  ASSERT_TRUE(ctx->ExportSTEP((dir / "out.step").c_str())) << ctx->GetLastErrorText();
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  EXPECT_EQ(doc->GetChildCount(), 1);
  ASSERT_TRUE(ctx->ImportSTEP((dir / "out.step").c_str()));
  EXPECT_EQ(ctx->GetLastErrorCode(), 0);
}

TEST_F(EngineTest, StepHeaderTextsOutsideAsciiAreEscapedAndReadBack) {
  TempDir dir;
  const std::string path = dir / "texts.step";
  ObjPtr<CAD::IAssembly> doc(ctx->GetAssembly());
  ObjPtr<CAD::IShape> box(ctx->Box(1, 1, 1));
  ObjPtr<CAD::IPart> part(doc->AddShape(box.Get()));
  part->SetName("\xd0\x92\xd0\xb0\xd0\xbb 1");                         // "Вал 1"
  ctx->GetHeaderService()->SetAuthor("Ren\xc3\xa9 \xf0\x9f\x94\xa7");  // a letter, an emoji
  ctx->GetHeaderService()->SetFileName("plan \\ 1");
  ASSERT_TRUE(ctx->ExportSTEP(path.c_str()));
  const std::string text = ReadAll(path);
  EXPECT_EQ(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; }), 0);
  EXPECT_NE(text.find("'\\X2\\04120430043B\\X0\\ 1'"), std::string::npos);
  EXPECT_NE(text.find("Ren\\X2\\00E9\\X0\\ \\X4\\0001F527\\X0\\"), std::string::npos);
  ObjPtr<CAD::ICADContext> in(Tools()->NewContext());
  ASSERT_TRUE(in->ImportSTEP(path.c_str())) << in->GetLastErrorText();
  EXPECT_STREQ(in->GetHeaderService()->GetAuthor(), "Ren\xc3\xa9 \xf0\x9f\x94\xa7");
  ObjPtr<CAD::IAssembly> back(in->GetAssembly());
  ASSERT_EQ(back->GetChildCount(), 1);
  EXPECT_EQ(NameOf(Child(back.Get(), 0).Get()), "\xd0\x92\xd0\xb0\xd0\xbb 1");
}
