#pragma once
// The real CAD engine for the model tree tests, loaded the way the viewer loads it (full path,
// "EntryPoint"), from the build's library folder.
#include "workspace/CadEngineLibrary.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace tree_test {

inline std::string BuildLibDir() {
  if (const char* d = std::getenv("TOLMERA_LIB_DIR")) return d;
  // Run by hand: bin/<test> beside lib/.
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return ".";
  std::string path(exe, static_cast<size_t>(n));
  path = path.substr(0, path.rfind('/'));
  return path.substr(0, path.rfind('/')) + "/lib";
}

inline std::string EnginePath() { return BuildLibDir() + "/" + CCadEngineLibrary::FileName(); }

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
