#pragma once
// What the workspace tests share: the sample models, and a workspace core with the real engine,
// an off-screen view and the two side panes of the test's choice, whose messages are kept.
// Without a display the tests skip: the engine's views need one even off-screen.

#include "workspace/WorkspaceCore.h"

#include "model/tests/TreeTestEngine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace workspace_test {

// A model of examples/models.
inline std::wstring ExampleModel(const char* name) {
  const char* src = std::getenv("TOLMERA_SOURCE_DIR");
  return (std::filesystem::path(src ? src : TOLMERA_TEST_SOURCE_DIR) / "examples/models" / name)
      .wstring();
}

// Tree is an IWorkspaceTree with a member `CWorkspaceCore* core` (set to the fixture's core),
// Properties an IWorkspaceProperties.
template <class Tree, class Properties>
class WorkspaceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "the engine's views need a display";
    tools = tree_test::EngineTools();
    ASSERT_NE(tools, nullptr) << "engine not loaded from " << tree_test::EnginePath();
    core.SetTools(tools);
    QZ::ObjPtr<ICADContext> viewContext(tools->NewContext());
    QZ::ObjPtr<QZ::CAD::IView> view;
    try {
      view = QZ::ObjPtr<QZ::CAD::IView>(viewContext->NewView(nullptr, QZ::CAD::eViewOffscreen));
    } catch (QZ::IException* e) {
      // Said with the engine's reason: a bare "unknown exception" tells nothing of what failed.
      const std::string text = e ? e->GetText() : "null";
      const int code = e ? e->GetCode() : 0;
      if (e) e->Release();
      FAIL() << "the engine made no off-screen view (code " << code << "): " << text;
    }
    core.SetView(view);
    tree.core = &core;
    core.SetPanes(&tree, &properties);
    core.SetMessageSink([this](const std::wstring& text) { messages.push_back(text); });
  }
  // Whether SetUp went through (it returns early on a skip or a failure).
  bool Ready() const { return !IsSkipped() && !HasFatalFailure(); }

  int Displayed() { return core.GetView()->GetDisplayedCount(); }

  QZ::CAD::ICADTools* tools = nullptr;
  CWorkspaceCore core;
  Tree tree;
  Properties properties;
  std::vector<std::wstring> messages;
};

}  // namespace workspace_test
