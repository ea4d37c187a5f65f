// bench_install_steps [files=5000] [megabytes=200] [folder=/tmp]
//
// Packs a product folder ("prod", files in 50 sub-folders) with CZipper, then times, best of
// three, in one run:
//   install: CommonStepFolders of the folder with an Access (extraction + rights + progress)
//            vs  unzip -q of the same archive into a fresh folder
//   remove:  CommonStepFolders in removal (DeleteFolder with progress and the climb)
//            vs  rm -rf of the unzipped tree
// and prints each time with the ratio ours / reference (aim: at most 1.3 and 1.5). The run log
// is written to a file of the machine, as in a real run.
#include "../common/Payload.h"
#include "app/Tools.h"
#include "manager/InstallManager.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

namespace {

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

int Run(const std::string& command) { return bench::RunCommand("bench_install_steps", command); }

class BenchManager : public InstallManager::CInstallManager {
 public:
  void UseStorage(std::shared_ptr<DataStorage::IDataStorage> s) { m_dataStorage = std::move(s); }
};

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 5000;
  long megabytes = argc > 2 ? std::atol(argv[2]) : 200;
  std::string base = bench::WorkFolder("tl-bench-steps-", argc > 3 ? argv[3] : nullptr);
  if (base.empty()) return 1;
  platform::Machine::SetCurrentForProcess(base + "/machine");
  platform::ResetEnvironment();

  std::mt19937 rng(11);
  std::size_t each =
      static_cast<std::size_t>(megabytes) * 1024 * 1024 / static_cast<std::size_t>(files);
  platform::CreateDirectoryWithParents(L"C:\\Payload\\prod");
  platform::CreateDirectoryWithParents(L"C:\\Pkg");
  DataStorage::CZipper zipper;
  if (!zipper.Open(L"C:\\Pkg\\Setup.data")) return 1;
  zipper.SetRoot(L"C:\\Payload");
  for (int i = 0; i < files; ++i) {
    std::wstring folder = L"C:\\Payload\\prod\\dir" + std::to_wstring(i % 50);
    if (i < 50) platform::CreateDirectoryWithParents(folder);
    std::wstring file = folder + L"\\file" + std::to_wstring(i) + L".dat";
    platform::WriteWholeFile(file, bench::Payload(rng, each));
    if (!zipper.AddFile(file, false)) return 1;
  }
  if (!zipper.Close()) return 1;
  std::string archive = platform::ToHostPath(L"C:\\Pkg\\Setup.data");
  std::printf("packed %d files, %ld MB\n", files, megabytes);

  platform::CreateDirectoryWithParents(L"C:\\ProgramData\\TOLMERA");
  InstallManager::GetInstallTools().Log().SetPath(L"C:\\ProgramData\\TOLMERA\\tlinstall.log");
  InstallSteps::SetupEntry entry;
  entry.name = L"prod";
  entry.access = L"r";
  const InstallSteps::SetupList list = {entry};

  double install = 1e9, remove = 1e9, unzip = 1e9, rm = 1e9;
  for (int round = 0; round < 3; ++round) {
    std::wstring target = L"C:\\Program Files (x86)\\Bench" + std::to_wstring(round);
    auto runOurs = [&]() -> bool {
      auto storage = std::make_shared<DataStorage::CDataStorage>();
      if (!storage->Open(L"C:\\Pkg\\Setup.data", nullptr)) return false;
      auto& window = InstallManager::GetGuiTools().MainWindow();
      storage->SetProgressSink(&window);
      BenchManager manager;
      manager.UseStorage(storage);
      manager.Scheduled().installFolders = list;
      window.SetProgressRange(manager.FolderWorkTotal(target));
      window.BeginProgress(0, false);
      auto t = std::chrono::steady_clock::now();
      manager.CommonStepFolders(list, false, target);
      install = std::min(install, Seconds(t));
      if (!platform::PathFileExistsW(target + L"\\prod\\dir0\\file0.dat")) return false;
      t = std::chrono::steady_clock::now();
      manager.CommonStepFolders(list, true, target);
      remove = std::min(remove, Seconds(t));
      window.EndProgress();
      storage->Close();
      return !platform::PathFileExistsW(target + L"\\prod");
    };
    auto runReference = [&]() -> bool {
      std::string host = base + "/unzip" + std::to_string(round);
      auto t = std::chrono::steady_clock::now();
      if (Run("unzip -q -o '" + archive + "' -d '" + host + "'") != 0) return false;
      unzip = std::min(unzip, Seconds(t));
      t = std::chrono::steady_clock::now();
      if (Run("rm -rf '" + host + "'") != 0) return false;
      rm = std::min(rm, Seconds(t));
      return true;
    };
    if (round % 2 == 0 ? !(runOurs() && runReference()) : !(runReference() && runOurs())) {
      std::fprintf(stderr, "bench_install_steps: round %d failed\n", round);
      return 1;
    }
  }
  std::printf("install: steps %.3f s, unzip %.3f s, ratio %.2f (aim <= 1.30)\n", install, unzip,
              install / unzip);
  std::printf("remove:  steps %.3f s, rm -rf %.3f s, ratio %.2f (aim <= 1.50)\n", remove, rm,
              remove / rm);
  platform::Machine::ResetCurrent();
  platform::hostio::RemoveTree(base);
  return 0;
}
