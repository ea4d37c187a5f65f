#include "FuzzCommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return engine_fuzz::RunOne(
      data, size, ".stl", [](QZ::CAD::ICADContext* c, const char* p) { return c->ImportSTL(p); });
}
