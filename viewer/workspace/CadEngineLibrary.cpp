#include "workspace/CadEngineLibrary.h"

#include "ui/MlsString.h"
#include "ui/TextIds.h"

#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <string>

namespace {
// An object of this library whose address dladdr resolves to the library's file.
const char kAnchor = 0;
}  // namespace

const char* CCadEngineLibrary::FileName() { return "libcad-ondravel.so"; }

std::string CCadEngineLibrary::ViewerFolder() {
  Dl_info info{};
  if (!dladdr(&kAnchor, &info) || !info.dli_fname) return std::string();
  std::string path = info.dli_fname;
  // The loader may report the name as it was given (relative for a program started by a
  // relative path): make it absolute.
  if (char* real = realpath(info.dli_fname, nullptr)) {
    path = real;
    free(real);
  }
  if (path.empty() || path.front() != '/') return std::string();
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  return path.substr(0, slash + 1);
}

std::string CCadEngineLibrary::DefaultPath() {
  const std::string folder = ViewerFolder();
  if (folder.empty()) return std::string();
  return folder + FileName();
}

bool CCadEngineLibrary::Exists() {
  const std::string path = DefaultPath();
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::wstring CCadEngineLibrary::NotFoundMessage() {
  std::wstring text = CMlsString::GetResourceString(eMessages, TextId::NotFound);
  const std::string file = FileName();
  const auto at = text.find(L"%s");
  if (at != std::wstring::npos) text.replace(at, 2, std::wstring(file.begin(), file.end()));
  return text;
}

CCadEngineLibrary::~CCadEngineLibrary() = default;

CCadEngineLibrary::eLoadResult CCadEngineLibrary::LoadFrom(const std::string& fullPath) {
  if (m_pTools) return eLoaded;
  m_error.clear();
  // Only a full path: a bare name would let the search path or the current folder decide.
  if (fullPath.empty() || fullPath.front() != '/') {
    m_error = "not a full path: " + fullPath;
    return eNotFound;
  }
  void* module = dlopen(fullPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* e = dlerror();
    m_error = e ? e : "cannot load";
    return eNotFound;
  }
  auto entry = reinterpret_cast<QZCadEntryPoint>(dlsym(module, "EntryPoint"));
  if (!entry) {
    m_error = "no EntryPoint";
    dlclose(module);
    return eNoEntryPoint;
  }
  QZ::CAD::ICADTools* tools = nullptr;
  try {
    tools = entry();
  } catch (QZ::IException* e) {
    if (e) e->Release();
  } catch (...) {}
  if (!tools) {
    m_error = "EntryPoint gave no tools object";
    dlclose(module);
    return eNoTools;
  }
  m_hModule = module;
  m_pTools = tools;
  return eLoaded;
}
