#pragma once
// Loading of the CAD engine library ("libcad-ondravel.so") at run time: always by its full path
// beside the viewer library itself, never by a bare name that the current folder or the search
// path could answer. A library without "EntryPoint", or whose EntryPoint gives no tools object,
// is a failed load: the library is unloaded again and no engine is held.

#include "MorlaneExport.h"
#include "workspace/CADEngine.h"

#include <string>

class MORLANE_API CCadEngineLibrary {
 public:
  // File name of the engine library.
  static const char* FileName();
  // Folder of the viewer library (the shared object holding this code), with a trailing "/".
  static std::string ViewerFolder();
  // The full path the viewer loads the engine from.
  static std::string DefaultPath();
  // Whether the engine library exists beside the viewer library.
  static bool Exists();
  // The message shown when the engine library is missing: text 1119 ("%s not found !") with the
  // library's file name.
  static std::wstring NotFoundMessage();

  CCadEngineLibrary() = default;
  ~CCadEngineLibrary();  // keeps the library loaded (engine objects may still be alive)
  CCadEngineLibrary(const CCadEngineLibrary&) = delete;
  CCadEngineLibrary& operator=(const CCadEngineLibrary&) = delete;

  enum eLoadResult { eLoaded = 0, eNotFound = 1, eNoEntryPoint = 2, eNoTools = 3 };

  // Loads DefaultPath(); a second call after a success returns eLoaded at once.
  eLoadResult Load() { return LoadFrom(DefaultPath()); }
  eLoadResult LoadFrom(const std::string& fullPath);

  bool IsLoaded() const { return m_pTools != nullptr; }
  QZ::CAD::ICADTools* GetTools() const { return m_pTools; }
  // The loader's error text (dlerror) of the last failure.
  const std::string& GetError() const { return m_error; }

 private:
  void* m_hModule = nullptr;
  QZ::CAD::ICADTools* m_pTools = nullptr;
  std::string m_error;
};
