// Loads the engine library the way the viewer does (dlopen by full path, "EntryPoint") and
// offers small helpers shared by the engine's tests.
#pragma once

#include "testing/EngineLibrary.h"
#include "testing/TestFiles.h"
#include "workspace/CADEngine.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

namespace engine_test {

using QZ::ObjPtr;
namespace CAD = QZ::CAD;

inline CAD::ICADTools* Tools() {
  static CAD::ICADTools* tools = [] {
    const std::string path = morlane_test::EngineLibraryPath();
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) throw std::runtime_error(std::string("cannot load ") + path + ": " + dlerror());
    auto entry = reinterpret_cast<QZCadEntryPoint>(dlsym(lib, "EntryPoint"));
    if (!entry) throw std::runtime_error("no EntryPoint");
    return entry();
  }();
  return tools;
}

// Runs f and returns the code of the engine exception it throws (releasing it), 0 if none.
inline int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (QZ::IException* e) {
    const int code = e->GetCode();
    e->Release();
    return code;
  }
  return 0;
}

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx = ObjPtr<CAD::ICADContext>(Tools()->NewContext());
    ASSERT_TRUE(ctx);
  }
  ObjPtr<CAD::ICADContext> ctx;
};

inline void Translation(double* m, double x, double y, double z) {
  for (int i = 0; i < 12; ++i) m[i] = 0;
  m[0] = m[5] = m[10] = 1;
  m[3] = x;
  m[7] = y;
  m[11] = z;
}

}  // namespace engine_test
