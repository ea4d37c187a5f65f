// Building a model's leaves together (CBuildBatch, as the model reader does) with the real
// engine: on several threads and with elements of the same sizes sharing their solid, the model
// must be the one that building each leaf as it is added, alone and unshared, gives: the same
// tree, the same solids (volumes, boxes, solid counts), the same messages in the same order and
// the same report; a cancelled read leaves nothing of the file.
#include "model/TreeObject.h"
#include "model/elements/Shafts.h"
#include "model/reader/ModelReader.h"
#include "model/tests/TreeTestEngine.h"
#include "testing/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

using tree_test::NewEngineContext;

std::string Param(const char* name, double v) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "<Param Name=\"%s\">%.10g</Param>", name, v);
  return buf;
}

std::string Object(const std::string& type, const std::string& name, const std::string& params,
                   double x, const std::string& inner = std::string()) {
  char m[160];
  std::snprintf(m, sizeof m,
                "<MatrixTransform><Element Col=\"4\" Row=\"1\">%g</Element></MatrixTransform>", x);
  return "<Object Type=\"" + type + "\" Name=\"" + name + "\">" + m + "<GeometryParameters>" +
         params + "</GeometryParameters>" + inner + "</Object>\n";
}

// A model of the kinds users open, sizes repeated, with a leaf whose sizes the engine refuses
// (kept without solid), one whose value is not a number (left out by the reader), and shafts.
std::string MixedModel() {
  std::string data;
  for (int i = 0; i < 24; ++i) {
    const double k = 1 + (i % 3) * 0.25;
    const std::string n = std::to_string(i);
    data += "<Node Name=\"G" + n + "\">";
    data += Object("Box", "box" + n, Param("w", 40 * k) + Param("h", 30) + Param("l", 20), i);
    data += Object("GearExternal", "gear" + n,
                   Param("z", 20 + (i % 3) * 7) + Param("mn", 2) + Param("b", 20) +
                       Param("alpha", 20) + Param("beta", 0) + Param("d", 10),
                   100 + i);
    data +=
        Object("BoltHex", "bolt" + n,
               Param("s", 16 * k) + Param("k", 6.4 * k) + Param("c", 0.6) + Param("dw", 14.6 * k) +
                   Param("ls", 20) + Param("b", 26) + Param("ds", 10 * k) + Param("d", 10 * k),
               200);
    if (i % 4 == 0)
      data += Object("BearingSingleRowDeepGrooveBall", "bearing" + n,
                     Param("dout", 62) + Param("din", 30) + Param("B", 16 + i % 2), 300);
    if (i % 6 == 1) {
      data += "<Node Type=\"Shaft\" Name=\"shaft" + n + "\">";
      for (int j = 0; j < 3; ++j) {
        const std::string groove =
            j == 1
                ? "<GrooveObject Type=\"GrooveParallelKey\"><GeometryParameters>" + Param("x", 10) +
                      Param("l", 30) + Param("t", 3) + Param("r", 5) +
                      "</GeometryParameters></GrooveObject>"
                : "<GrooveObject Type=\"GrooveRectangular\"><GeometryParameters>" + Param("x", 10) +
                      Param("m", 3) + Param("t", 1) + "</GeometryParameters></GrooveObject>";
        data += Object("ShaftSection", "section" + n + "." + std::to_string(j),
                       Param("dout1", 40 - 4 * j) + Param("dout2", 40 - 4 * j) + Param("l", 50) +
                           Param("lch1", -1),
                       0, groove);
      }
      data += "</Node>";
    }
    if (i == 5) data += Object("Box", "refused", Param("w", 0) + Param("h", 1) + Param("l", 1), 0);
    if (i == 9)
      data += Object("Box", "not a number", "<Param Name=\"w\">inf</Param>" + Param("h", 1), 0);
    data += "</Node>\n";
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Model><Data>" + data + "</Data></Model>";
}

struct Leaf {
  std::wstring path;
  bool solid = false;
  double volume = 0;
  double box[6] = {};
  int solids = 0;
};

void Walk(const CTreeObject& o, const std::wstring& path, std::vector<Leaf>& out) {
  const std::wstring here = path + L"/" + o.GetName();
  if (o.IsNode()) {
    out.push_back({here + L" (group)"});
    for (const auto& c : static_cast<const CNode&>(o).GetChildren()) Walk(*c, here, out);
    return;
  }
  Leaf leaf{here};
  if (auto shape = static_cast<const CObject3D&>(o).GetShape()) {
    leaf.solid = true;
    leaf.volume = shape->GetVolume();
    shape->GetBoundingBox(leaf.box);
    leaf.solids = shape->GetSolidCount();
  }
  out.push_back(leaf);
}

struct Reading {
  bool read = false;
  std::vector<Leaf> leaves;
  std::vector<std::wstring> messages;
  ModelReadReport report;
};

Reading ReadWith(const std::wstring& file, int threads, bool shared,
                 const CBuildBatch::Progress& progress = {}) {
  Reading r;
  QZ::ObjPtr<ICADContext> ctx = NewEngineContext();
  if (!ctx) return r;
  ctx->SetBuildThreads(threads);
  ctx->SetSharedSolids(shared);
  auto root = std::make_shared<CNodeRoot>();
  root->SetContext(ctx);
  SetBuildErrorReporter([&](const std::wstring& m) { r.messages.push_back(m); });
  r.read = static_cast<bool>(ReadModelFile(file, root, &r.report, progress));
  SetBuildErrorReporter(nullptr);
  ctx->SetSharedSolids(true);
  Walk(*root, L"", r.leaves);
  return r;
}

class BuildBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(NewEngineContext()) << "engine not loaded from " << tree_test::EnginePath();
    dir.Write("mixed.xml", MixedModel());
    file = dir.WFile("mixed.xml");
  }
  TempDir dir;
  std::wstring file;
};

TEST_F(BuildBatchTest, BuildingTogetherGivesTheModelOfBuildingEachAlone) {
  // Each leaf built as it is added, one after the other, nothing shared: what to compare with.
  const Reading alone = ReadWith(file, 0, false);
  ASSERT_TRUE(alone.read);
  ASSERT_GT(alone.report.objectsRead, 60);
  ASSERT_EQ(alone.messages.size(), 2u);  // the refused box, the value that is not a number
  for (int threads : {1, 2, 4}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    const Reading together = ReadWith(file, threads, true);
    ASSERT_TRUE(together.read);
    EXPECT_EQ(together.messages, alone.messages);
    EXPECT_EQ(together.report.objectsRead, alone.report.objectsRead);
    EXPECT_EQ(together.report.objectsSkipped, alone.report.objectsSkipped);
    ASSERT_EQ(together.report.entries.size(), alone.report.entries.size());
    for (size_t i = 0; i < alone.report.entries.size(); ++i)
      EXPECT_EQ(together.report.entries[i].message, alone.report.entries[i].message);
    ASSERT_EQ(together.leaves.size(), alone.leaves.size());
    for (size_t i = 0; i < alone.leaves.size(); ++i) {
      const Leaf &a = alone.leaves[i], &b = together.leaves[i];
      ASSERT_EQ(b.path, a.path);
      ASSERT_EQ(b.solid, a.solid) << i;
      if (!a.solid) continue;
      EXPECT_NEAR(b.volume, a.volume, 1e-9 * a.volume) << i;
      for (int k = 0; k < 6; ++k) EXPECT_NEAR(b.box[k], a.box[k], 1e-7) << i;
      EXPECT_EQ(b.solids, a.solids) << i;
    }
  }
}

TEST_F(BuildBatchTest, ACancelledReadLeavesNothingOfTheFile) {
  // Cancelled before the first build, and while the builds run.
  for (int after : {0, 1}) {
    int calls = 0;
    const Reading r = ReadWith(file, 2, true, [&](int done, int total) {
      EXPECT_LE(done, total);
      return ++calls <= after;
    });
    EXPECT_FALSE(r.read);
    EXPECT_GT(calls, after);
    ASSERT_EQ(r.leaves.size(), 1u);  // the root alone
    EXPECT_TRUE(r.messages.empty());
  }
  // Progress that lets it go on: called with the count of solids to build, last with all built.
  std::vector<std::pair<int, int>> seen;
  const Reading r = ReadWith(file, 2, true, [&](int done, int total) {
    seen.emplace_back(done, total);
    return true;
  });
  EXPECT_TRUE(r.read);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.front().first, 0);
  EXPECT_EQ(seen.back().first, seen.back().second);
  EXPECT_GE(seen.back().second, r.report.objectsRead);
}

}  // namespace
