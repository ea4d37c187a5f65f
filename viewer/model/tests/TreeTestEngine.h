#pragma once
// The real CAD engine for the model tree tests, loaded the way the viewer loads it (full path,
// "EntryPoint"), from the build's library folder (testing/EngineLibrary.h).
#include "testing/EngineLibrary.h"
#include "workspace/CadEngineLibrary.h"

#include <gtest/gtest.h>

#include <string>

namespace tree_test {

inline std::string EnginePath() { return morlane_test::EngineLibraryPath(); }

inline QZ::CAD::ICADTools* EngineTools() {
  static CCadEngineLibrary library;
  if (!library.IsLoaded()) library.LoadFrom(EnginePath());
  return library.GetTools();
}

inline QZ::ObjPtr<QZ::CAD::ICADContext> NewEngineContext() {
  QZ::CAD::ICADTools* tools = EngineTools();
  if (!tools) return nullptr;
  return QZ::ObjPtr<QZ::CAD::ICADContext>(tools->NewContext());
}

}  // namespace tree_test
