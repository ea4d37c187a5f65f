// bench_install_steps [files=5000] [megabytes=200] [folder=/tmp] [one-folder=100000] [rounds=3]
//
// Packs a product folder ("prod", files in 50 sub-folders) with CZipper, then times, best of
// `rounds`, in one run:
//   install:   CommonStepFolders of the folder with an Access (extraction + rights + progress)
//              vs  unzip -q of the same archive into a fresh folder
//   remove:    CommonStepFolders in removal (DeleteFolder with progress and the climb)
//              vs  rm -rf of the unzipped tree
//   setup:     the whole Setup run that installs a package of that folder into a machine of
//              its own vs  unzip -q of the package
//   uninstall: the whole removal from the list of programs (`tlmachine uninstall`, which runs
//              the kept uninstaller) vs  rm -rf of the unzipped package
// and the same two whole runs for a package whose folder holds `one-folder` small files in one
// folder (best of two; 0 leaves it out). Each line gives the wall time and the processor time
// (the process's own for the steps, the children's for the programs) with their ratios ours /
// reference (aims: install 1.3, removal 1.5); on a machine that others share the processor
// ratio is the steadier one.
//
// Every tree of every round is made first and removed only after all are made (and written to
// the disk), both sides in turn: a file system that is slow to hand out inodes freed a moment
// ago (an ext4 without a journal) would otherwise charge one side's creation with the other
// side's deletion, and a deletion of files still being written waits for the disk.
#include "../common/Payload.h"
#include "app/Tools.h"
#include "manager/InstallManager.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

int Run(const std::string& command) { return bench::RunCommand("bench_install_steps", command); }

class BenchManager : public InstallManager::CInstallManager {
 public:
  void UseStorage(std::shared_ptr<DataStorage::IDataStorage> s) { m_dataStorage = std::move(s); }
};

// Wall and processor time of one piece of work; the processor time is this process's own and
// that of the children it waited for.
struct Cost {
  double wall = 1e9;
  double cpu = 1e9;
};

double CpuSeconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage u{};
    getrusage(who, &u);
    total += static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
             static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
  }
  return total;
}

// Times `work` and keeps the best of the rounds in `best`; false when the work failed.
bool Timed(Cost& best, const std::function<bool()>& work) {
  const auto wall = std::chrono::steady_clock::now();
  const double cpu = CpuSeconds();
  if (!work()) return false;
  best.cpu = std::min(best.cpu, CpuSeconds() - cpu);
  best.wall = std::min(
      best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count());
  return true;
}

void Print(const char* what, const char* ours, const Cost& a, const char* reference, const Cost& b,
           double aim) {
  std::printf(
      "%-10s %s %.3f s (cpu %.3f), %s %.3f s (cpu %.3f), ratio %.2f (cpu %.2f; aim <= %.2f)\n",
      what, ours, a.wall, a.cpu, reference, b.wall, b.cpu, a.wall / b.wall, a.cpu / b.cpu, aim);
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// The folder of this program, where Setup and tlmachine are built too.
std::string ProgramFolder() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string self(path, static_cast<std::size_t>(n));
  return self.substr(0, self.rfind('/'));
}

// A product of one folder "prod" with its entry in the list of programs, installed and removed
// without questions.
const char* kScript = R"(<?xml version="1.0" encoding="UTF-8"?>
<SCENARIO Name="Tolmera Bench" PV="TBENCH" RegKey="TolmeraBench" Version="1" Build="1" InstallType="Install" DirName="Bench">
  <Localization>
    <ENGLISH ID="1033" Title="English" SystemName="English">
      <Common><BUTTON_NEXT Caption="Next"/><BUTTON_BACK Caption="Back"/><BUTTON_CANCEL Caption="Cancel"/></Common>
      <DLG_GREETING Caption="Welcome"><TEXT Caption="Welcome."/></DLG_GREETING>
      <MESSAGES><MsgCaption Caption="Tolmera Bench"/><MsgUninstall Caption="Remove?"/></MESSAGES>
    </ENGLISH>
  </Localization>
  <Images/>
  <DIALOGS><DLG_GREETING Show="y"/><DLG_LICENSE Show="n"/><DLG_DESTINATION Show="n"/></DIALOGS>
  <INSTALL>
    <COMMONINFO RegKeyInstall="SOFTWARE\TOLMERA\Common"/>
    <DIRECTORY Name="prod"/>
  </INSTALL>
  <UNINSTALLER Company="Bench" Title="Tolmera Bench" Publisher="Bench" VersionMajor="1" VersionMinor="0"/>
  <SERVER/>
  <CLIENT/>
</SCENARIO>
)";
const char* kInstallAnswers =
    "[page DLG_GREETING]\nbutton = Next\n[page DLG_INSTALL_TYPE]\nInstallType = Local\n"
    "button = Next\n[page DLG_SUMMARY]\nbutton = Next\n[page DLG_FINISH]\nbutton = Next\n";
const char* kUninstallAnswers =
    "[page DLG_REPAIR_TRUNCATED]\nInstallType = Uninstall\nbutton = Next\n"
    "[message MsgUninstall]\nanswer = Yes\n[page DLG_FINISH]\nbutton = Next\n";

// Packs `files` below C:\Payload\<name>\prod (in `folders` sub-folders, or all in prod itself
// when `folders` is 0) of `each` bytes into C:\Pkg\<name>.data, with the script when `script`.
bool Pack(const std::wstring& name, int files, int folders, std::size_t each, bool script) {
  std::mt19937 rng(11);
  const std::wstring root = L"C:\\Payload\\" + name;
  platform::CreateDirectoryWithParents(root + L"\\prod");
  platform::CreateDirectoryWithParents(L"C:\\Pkg");
  DataStorage::CZipper zipper;
  if (!zipper.Open(L"C:\\Pkg\\" + name + L".data")) return false;
  zipper.SetRoot(root);
  if (script) {
    platform::WriteWholeFile(root + L"\\InstallScript.cfg", kScript);
    if (!zipper.AddFile(root + L"\\InstallScript.cfg", false)) return false;
  }
  for (int i = 0; i < files; ++i) {
    std::wstring folder = root + L"\\prod";
    if (folders > 0) {
      folder += L"\\dir" + std::to_wstring(i % folders);
      if (i < folders) platform::CreateDirectoryWithParents(folder);
    }
    std::wstring file = folder + L"\\file" + std::to_wstring(i) + L".dat";
    platform::WriteWholeFile(file, bench::Payload(rng, each));
    if (!zipper.AddFile(file, false)) return false;
  }
  return zipper.Close();
}

// The whole runs of one package: machines made for it, Setup's installation into each, and the
// removal from the list of programs; the references unzip it and remove what unzip made.
struct WholeRuns {
  WholeRuns(std::string base_, std::string archive_, std::string label_, int rounds_)
      : base(std::move(base_)),
        bin(ProgramFolder()),
        archive(std::move(archive_)),
        label(std::move(label_)),
        rounds(rounds_) {}
  std::string base, bin, archive, label;
  int rounds = 3;
  Cost setup, unzip, uninstall, rm;

  std::string Machine(int round) const { return base + "/m-" + label + std::to_string(round); }
  std::string Reference(int round) const { return base + "/u-" + label + std::to_string(round); }
  std::string Env(int round, const char* answers) const {
    return "TOLMERA_MACHINE=" + Quoted(Machine(round)) +
           " TOLMERA_ANSWERS=" + Quoted(base + "/" + answers) + " ";
  }
  bool Prepare() {
    std::ofstream(base + "/install.txt") << kInstallAnswers;
    std::ofstream(base + "/uninstall.txt") << kUninstallAnswers;
    for (int round = 0; round < rounds; ++round)
      if (Run(Quoted(bin + "/tlmachine") + " init " + Quoted(Machine(round)) + " >/dev/null") != 0)
        return false;
    return true;
  }
  bool Install(int round) {
    return Timed(setup, [&] {
      return Run(Env(round, "install.txt") + Quoted(bin + "/Setup") + " /X " + Quoted(archive)) ==
             0;
    });
  }
  bool Unzip(int round) {
    return Timed(unzip, [&] {
      return Run("unzip -q -o " + Quoted(archive) + " -d " + Quoted(Reference(round))) == 0;
    });
  }
  bool Uninstall(int round) {
    const std::string product = Machine(round) + "/drive_c/Program Files (x86)/Tolmera Bench";
    if (!platform::hostio::IsDirectory(product)) return false;
    return Timed(uninstall,
                 [&] {
                   return Run(Env(round, "uninstall.txt") + Quoted(bin + "/tlmachine") +
                              " uninstall TolmeraBench >/dev/null") == 0;
                 }) &&
           !platform::hostio::Exists(product);
  }
  bool Remove(int round) {
    return Timed(rm, [&] { return Run("rm -rf " + Quoted(Reference(round))) == 0; });
  }
  void Report(const char* title) const {
    std::printf("%s\n", title);
    Print("setup:", "Setup", setup, "unzip", unzip, 1.3);
    Print("uninstall:", "tlmachine uninstall", uninstall, "rm -rf", rm, 1.5);
  }
};

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 5000;
  long megabytes = argc > 2 ? std::atol(argv[2]) : 200;
  std::string base = bench::WorkFolder("tl-bench-steps-", argc > 3 ? argv[3] : nullptr);
  const int oneFolder = argc > 4 ? std::atoi(argv[4]) : 100000;
  const int rounds = std::max(1, argc > 5 ? std::atoi(argv[5]) : 3);
  if (base.empty() || files <= 0) return 1;
  platform::Machine::SetCurrentForProcess(base + "/machine");
  platform::ResetEnvironment();

  std::size_t each =
      static_cast<std::size_t>(megabytes) * 1024 * 1024 / static_cast<std::size_t>(files);
  if (!Pack(L"steps", files, 50, each, false) || !Pack(L"product", files, 50, each, true) ||
      (oneFolder > 0 && !Pack(L"onefolder", oneFolder, 0, 700, true))) {
    std::fprintf(stderr, "bench_install_steps: the packages cannot be made\n");
    return 1;
  }
  std::string archive = platform::ToHostPath(L"C:\\Pkg\\steps.data");
  std::printf("packed %d files, %ld MB; %d files of 700 bytes in one folder\n", files, megabytes,
              oneFolder);
  // The payloads are not needed any more; their inodes are long free when the rounds begin.
  platform::hostio::RemoveTree(platform::ToHostPath(L"C:\\Payload"));

  platform::CreateDirectoryWithParents(L"C:\\ProgramData\\TOLMERA");
  InstallManager::GetInstallTools().Log().SetPath(L"C:\\ProgramData\\TOLMERA\\tlinstall.log");
  InstallSteps::SetupEntry entry;
  entry.name = L"prod";
  entry.access = L"r";
  const InstallSteps::SetupList list = {entry};
  auto target = [](int round) {
    return L"C:\\Program Files (x86)\\Bench" + std::to_wstring(round);
  };

  Cost install, remove, unzip, rm;
  auto failed = [](const char* what, int round) {
    std::fprintf(stderr, "bench_install_steps: %s of round %d failed\n", what, round);
    return 1;
  };
  WholeRuns product(base, platform::ToHostPath(L"C:\\Pkg\\product.data"), "product", rounds);
  WholeRuns single(base, platform::ToHostPath(L"C:\\Pkg\\onefolder.data"), "onefolder",
                   std::min(rounds, 2));
  if (!product.Prepare() || (oneFolder > 0 && !single.Prepare())) return 1;

  // ---- every tree is made ----
  for (int round = 0; round < rounds; ++round) {
    auto ours = [&] {
      return Timed(install, [&] {
        auto storage = std::make_shared<DataStorage::CDataStorage>();
        if (!storage->Open(L"C:\\Pkg\\steps.data", nullptr)) return false;
        auto& window = InstallManager::GetGuiTools().MainWindow();
        storage->SetProgressSink(&window);
        BenchManager manager;
        manager.UseStorage(storage);
        manager.Scheduled().installFolders = list;
        window.SetProgressRange(manager.FolderWorkTotal(target(round)));
        window.BeginProgress(0, false);
        manager.CommonStepFolders(list, false, target(round));
        window.EndProgress();
        storage->Close();
        return platform::PathFileExistsW(target(round) + L"\\prod\\dir0\\file0.dat");
      });
    };
    auto reference = [&] {
      return Timed(unzip, [&] {
        return Run("unzip -q -o " + Quoted(archive) + " -d " +
                   Quoted(base + "/unzip" + std::to_string(round))) == 0;
      });
    };
    if (round % 2 == 0 ? !(ours() && reference()) : !(reference() && ours()))
      return failed("the installation", round);
    if (round % 2 == 0 ? !(product.Install(round) && product.Unzip(round))
                       : !(product.Unzip(round) && product.Install(round)))
      return failed("the whole installation", round);
    if (oneFolder > 0 && round < single.rounds &&
        (round % 2 == 0 ? !(single.Install(round) && single.Unzip(round))
                        : !(single.Unzip(round) && single.Install(round))))
      return failed("the installation of one folder", round);
  }

  // ---- every tree is removed ----
  // Written out first: a file whose pages are still being written makes its deletion wait for
  // the disk, which would charge whichever side comes first with the other's writes.
  ::sync();
  for (int round = 0; round < rounds; ++round) {
    auto ours = [&] {
      return Timed(remove, [&] {
        BenchManager manager;
        manager.Scheduled().removeFolders = list;
        auto& window = InstallManager::GetGuiTools().MainWindow();
        window.SetProgressRange(manager.FolderWorkTotal(target(round)));
        window.BeginProgress(0, false);
        manager.CommonStepFolders(list, true, target(round));
        window.EndProgress();
        return !platform::PathFileExistsW(target(round) + L"\\prod");
      });
    };
    auto reference = [&] {
      return Timed(rm, [&] {
        return Run("rm -rf " + Quoted(base + "/unzip" + std::to_string(round))) == 0;
      });
    };
    if (round % 2 == 0 ? !(ours() && reference()) : !(reference() && ours()))
      return failed("the removal", round);
    if (round % 2 == 0 ? !(product.Uninstall(round) && product.Remove(round))
                       : !(product.Remove(round) && product.Uninstall(round)))
      return failed("the whole removal", round);
    if (oneFolder > 0 && round < single.rounds &&
        (round % 2 == 0 ? !(single.Uninstall(round) && single.Remove(round))
                        : !(single.Remove(round) && single.Uninstall(round))))
      return failed("the removal of one folder", round);
  }

  std::printf("the folder steps:\n");
  Print("install:", "steps", install, "unzip", unzip, 1.3);
  Print("remove:", "steps", remove, "rm -rf", rm, 1.5);
  product.Report("the whole runs of Setup:");
  if (oneFolder > 0) single.Report("the whole runs, one folder of small files:");
  platform::Machine::ResetCurrent();
  platform::hostio::RemoveTree(base);
  return 0;
}
