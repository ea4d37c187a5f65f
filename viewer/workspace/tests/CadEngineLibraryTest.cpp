// Loading the engine library: full path only, EntryPoint required, clean failures.
#include "workspace/CadEngineLibrary.h"

#include "testing/EngineLibrary.h"
#include "testing/TestFiles.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>
#include <stdlib.h>

#include <filesystem>

namespace {

// The file of a shared library this process has loaded (one without "EntryPoint").
std::string LoadedLibraryFile(const char* symbolInIt) {
  Dl_info info{};
  void* sym = dlsym(RTLD_DEFAULT, symbolInIt);
  if (!sym || !dladdr(sym, &info) || !info.dli_fname) return {};
  return info.dli_fname;
}

}  // namespace

TEST(EngineLibraryLoader, LoadsTheEngineByFullPathOnce) {
  CCadEngineLibrary lib;
  EXPECT_FALSE(lib.IsLoaded());
  EXPECT_EQ(lib.GetTools(), nullptr);
  ASSERT_EQ(lib.LoadFrom(morlane_test::EngineLibraryPath()), CCadEngineLibrary::eLoaded)
      << lib.GetError();
  ASSERT_NE(lib.GetTools(), nullptr);
  QZ::CAD::ICADTools* tools = lib.GetTools();
  // A second load keeps the first.
  EXPECT_EQ(lib.LoadFrom("/nonexistent/libcad-ondravel.so"), CCadEngineLibrary::eLoaded);
  EXPECT_EQ(lib.GetTools(), tools);
  QZ::ObjPtr<QZ::CAD::ICADContext> ctx(tools->NewContext());
  ASSERT_TRUE(ctx);
  QZ::ObjPtr<QZ::CAD::IShape> box(ctx->Box(1, 2, 3));
  EXPECT_NEAR(box->GetVolume(), 6, 1e-9);
  // Engine exceptions cross the library boundary as QZ::IException*.
  int code = 0;
  try {
    ctx->Box(-1, 1, 1);
  } catch (QZ::IException* e) {
    code = e->GetCode();
    e->Release();
  }
  EXPECT_EQ(code, QZ::eCodeInvalidParameter);
}

TEST(EngineLibraryLoader, FailuresLeaveNoEngine) {
  TempDir dir;
  CCadEngineLibrary missing;
  EXPECT_EQ(missing.LoadFrom((dir.Path() / CCadEngineLibrary::FileName()).string()),
            CCadEngineLibrary::eNotFound);
  EXPECT_FALSE(missing.IsLoaded());

  // A bare name is never handed to the loader, even when the current folder holds the file.
  CCadEngineLibrary bare;
  EXPECT_EQ(bare.LoadFrom(CCadEngineLibrary::FileName()), CCadEngineLibrary::eNotFound);
  EXPECT_EQ(bare.LoadFrom(""), CCadEngineLibrary::eNotFound);
  EXPECT_FALSE(bare.IsLoaded());

  // A shared library of the right name without EntryPoint.
  std::string other = LoadedLibraryFile("gzopen");
  for (const char* candidate :
       {"/usr/lib/x86_64-linux-gnu/libz.so.1", "/lib/x86_64-linux-gnu/libz.so.1"})
    if (other.empty() && std::filesystem::exists(candidate)) other = candidate;
  ASSERT_FALSE(other.empty()) << "no zlib to stand in for a foreign library";
  const auto fake = dir.Path() / CCadEngineLibrary::FileName();
  std::filesystem::copy_file(other, fake);
  CCadEngineLibrary noEntry;
  EXPECT_EQ(noEntry.LoadFrom(fake.string()), CCadEngineLibrary::eNoEntryPoint);
  EXPECT_FALSE(noEntry.IsLoaded());
  EXPECT_EQ(noEntry.GetTools(), nullptr);
  // And a later load from the right place still works.
  EXPECT_EQ(noEntry.LoadFrom(morlane_test::EngineLibraryPath()), CCadEngineLibrary::eLoaded);
}

TEST(EngineLibraryLoader, LooksBesideTheViewerAndNamesTheFileWhenMissing) {
  const std::string folder = CCadEngineLibrary::ViewerFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(CCadEngineLibrary::DefaultPath(), folder + "libcad-ondravel.so");
  EXPECT_EQ(CCadEngineLibrary::NotFoundMessage(), L"libcad-ondravel.so not found !");
}
