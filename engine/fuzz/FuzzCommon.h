// Shared part of the engine's reader fuzz targets: each input becomes a file that one of the
// context's imports reads. Built with clang the targets are libFuzzer programs; with another
// compiler they get a small main that runs the inputs named on the command line.
#pragma once

#include "workspace/CADEngine.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace engine_fuzz {

inline const std::string& ScratchFile(const char* suffix) {
  static std::string path = [&] {
    std::string tmpl = std::string("/tmp/engine-fuzz-XXXXXX") + suffix;
    int fd = mkstemps(tmpl.data(), static_cast<int>(std::char_traits<char>::length(suffix)));
    if (fd >= 0) close(fd);
    std::atexit([] { std::remove(ScratchFile("").c_str()); });
    return tmpl;
  }();
  return path;
}

// Writes the input and runs the import; engine exceptions are allowed outcomes, anything else
// (a crash, a hang, another exception) is a finding.
template <class Import>
int RunOne(const uint8_t* data, size_t size, const char* suffix, Import import) {
  static QZ::CAD::ICADContext* ctx = EntryPoint()->NewContext();
  const std::string& path = ScratchFile(suffix);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    if (import(ctx, path.c_str())) {
      // Walk what was read, as the viewer does.
      QZ::ObjPtr<QZ::CAD::IAssembly> doc(ctx->GetAssembly());
      std::vector<QZ::ObjPtr<QZ::CAD::IItem>> todo;
      for (int i = 0; i < doc->GetChildCount(); ++i) todo.emplace_back(doc->GetChild(i));
      for (size_t k = 0; k < todo.size() && k < 10000; ++k) {
        double m[12];
        todo[k]->GetMatrix(m);
        if (auto* a = dynamic_cast<QZ::CAD::IAssembly*>(todo[k].Get())) {
          for (int i = 0; i < a->GetChildCount(); ++i) todo.emplace_back(a->GetChild(i));
        } else if (auto* p = dynamic_cast<QZ::CAD::IPart*>(todo[k].Get())) {
          QZ::ObjPtr<QZ::CAD::IShape> s(p->GetShape());
          double box[6];
          if (s) s->GetBoundingBox(box);
        }
      }
    }
  } catch (QZ::IException* e) {
    e->Release();
  }
  return 0;
}

}  // namespace engine_fuzz

#ifndef ENGINE_FUZZ_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::printf("%s: done\n", argv[i]);
  }
  return 0;
}
#endif
