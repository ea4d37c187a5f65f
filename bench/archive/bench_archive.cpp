// bench_archive [files=5000] [megabytes=200] [folder=/tmp]
//
// Packs a product-like payload (text-like, compressible data) with CZipper, then times, best of
// three, in one run:
//   extract: CDataStorage::ExtractAll into a fresh folder   vs  unzip -q into a fresh folder
//   measure: CDataStorage::Measure over the whole archive    vs  unzip -l > /dev/null
//   open:    CDataStorage::Open (its directory read and checked, local headers included)
//                                                              vs  unzip -l > /dev/null
// and prints each time with the ratio ours / reference (aim: at most 1.0 for extraction, both with
// many small files and with few large ones).
#include "../common/Payload.h"
#include "package/DataStorage.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

double Seconds(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

int Run(const std::string& command) { return bench::RunCommand("bench_archive", command); }

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 5000;
  long megabytes = argc > 2 ? std::atol(argv[2]) : 200;
  std::string base = bench::WorkFolder("tl-bench-archive-", argc > 3 ? argv[3] : nullptr);
  if (base.empty()) return 1;
  platform::Machine::SetCurrentForProcess(base + "/machine");
  platform::ResetEnvironment();

  // The payload, written into the machine and packed with CZipper.
  std::mt19937 rng(7);
  std::size_t each =
      static_cast<std::size_t>(megabytes) * 1024 * 1024 / static_cast<std::size_t>(files);
  platform::CreateDirectoryWithParents(L"C:\\Payload");
  platform::CreateDirectoryWithParents(L"C:\\Pkg");
  DataStorage::CZipper zipper;
  if (!zipper.Open(L"C:\\Pkg\\Setup.data")) return 1;
  zipper.SetRoot(L"C:\\Payload");
  auto packStart = std::chrono::steady_clock::now();
  for (int i = 0; i < files; ++i) {
    std::wstring folder = L"C:\\Payload\\dir" + std::to_wstring(i % 50);
    std::wstring file = folder + L"\\file" + std::to_wstring(i) + L".dat";
    if (i < 50) platform::CreateDirectoryWithParents(folder);
    platform::WriteWholeFile(file, bench::Payload(rng, each));
    if (!zipper.AddFile(file, false)) return 1;
  }
  if (!zipper.Close()) return 1;
  std::printf("packed %d files, %ld MB in %.2f s\n", files, megabytes, Seconds(packStart));
  std::string archive = platform::ToHostPath(L"C:\\Pkg\\Setup.data");

  double ours = 1e9, theirs = 1e9, measure = 1e9, list = 1e9, open = 1e9;
  for (int round = 0; round < 3; ++round) {
    auto runOurs = [&]() -> bool {
      DataStorage::CDataStorage storage;
      auto t = std::chrono::steady_clock::now();
      if (!storage.Open(L"C:\\Pkg\\Setup.data", nullptr)) return false;
      open = std::min(open, Seconds(t));
      std::wstring target = L"C:\\Out" + std::to_wstring(round), path;
      t = std::chrono::steady_clock::now();
      if (!storage.ExtractAll(target, path)) return false;
      ours = std::min(ours, Seconds(t));

      std::uint64_t count = 0, packed = 0, unpacked = 0;
      t = std::chrono::steady_clock::now();
      if (!storage.Measure(nullptr, count, packed, unpacked) ||
          count != static_cast<std::uint64_t>(files))
        return false;
      measure = std::min(measure, Seconds(t));
      storage.Close();

      return true;
    };
    auto runUnzip = [&]() -> bool {
      std::string host = base + "/unzip" + std::to_string(round);
      auto t = std::chrono::steady_clock::now();
      if (Run("unzip -q -o '" + archive + "' -d '" + host + "'") != 0) return false;
      theirs = std::min(theirs, Seconds(t));
      t = std::chrono::steady_clock::now();
      if (Run("unzip -l '" + archive + "' > /dev/null") != 0) return false;
      list = std::min(list, Seconds(t));
      return true;
    };
    if (round % 2 == 0 ? !(runOurs() && runUnzip()) : !(runUnzip() && runOurs())) return 1;
    platform::hostio::RemoveTree(platform::ToHostPath(L"C:\\Out" + std::to_wstring(round)));
    platform::hostio::RemoveTree(base + "/unzip" + std::to_string(round));
  }
  // What the file layer alone costs: the same number of files created empty through it.
  double floor = 1e9;
  for (int round = 0; round < 3; ++round) {
    std::wstring target = L"C:\\Floor" + std::to_wstring(round);
    auto t = std::chrono::steady_clock::now();
    for (int i = 0; i < files; ++i) {
      std::wstring folder = target + L"\\dir" + std::to_wstring(i % 50);
      if (i < 50) platform::CreateDirectoryWithParents(folder);
      platform::FileHandle h;
      if (h.Open(folder + L"\\file" + std::to_wstring(i) + L".dat", platform::GENERIC_WRITE, 0,
                 platform::CREATE_ALWAYS) != platform::ERROR_SUCCESS)
        return 1;
    }
    floor = std::min(floor, Seconds(t));
    platform::hostio::RemoveTree(platform::ToHostPath(target));
  }
  std::printf("file layer alone (create %d empty files): %.3f s, %.2f of unzip's time\n", files,
              floor, floor / theirs);
  std::printf("extract: CDataStorage %.3f s, unzip %.3f s, ratio %.2f (aim <= 1.00)\n", ours,
              theirs, ours / theirs);
  std::printf("measure: CDataStorage %.4f s, unzip -l %.4f s, ratio %.2f\n", measure, list,
              measure / list);
  std::printf(
      "open (directory read and checked): CDataStorage %.4f s, unzip -l %.4f s, ratio %.2f\n", open,
      list, open / list);
  platform::Machine::ResetCurrent();
  platform::hostio::RemoveTree(base);
  return 0;
}
