// bench_archive [files=5000] [megabytes=200] [folder=/tmp] [tiny=100000]
//
// Packs two product-like payloads with CZipper:
//   large: `files` files of `megabytes` in all (text-like, compressible data) in 50 folders;
//   tiny:  `tiny` entries of a few bytes to a few hundred (icons, message catalogues, scripts)
//          in 250 folders, packed folder after folder as a product tree is (0 leaves it out);
// then times for each, best of three, in one run:
//   extract: CDataStorage::ExtractAll into a fresh folder   vs  unzip -q into a fresh folder
//   measure: CDataStorage::Measure over the whole archive    vs  unzip -l > /dev/null
//   open:    CDataStorage::Open (its directory read and checked, local headers included)
//                                                              vs  unzip -l > /dev/null
// and prints each time with the ratio ours / reference (aim: at most 1.0 for extraction, both with
// many small files and with few large ones). Last, the file layer alone: as many empty files
// created through FileHandle as the large payload has.
//
// Fairness: every tree made (ours, unzip's, the file layer's) stays until the very end, so no
// side creates its files right after the other side's were deleted (a file system that skips
// recently freed inodes would bill that to whoever comes next); both sides' trees are siblings
// in the machine's drive folder, so they draw on the same inode groups; and the two sides take
// turns at going first.
#include "../common/Payload.h"
#include "package/DataStorage.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Time.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
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

struct Times {
  double ours = 1e9, theirs = 1e9, measure = 1e9, list = 1e9, open = 1e9;
};

// Three rounds of extraction of `archive` (a Windows path of the machine), ours into
// "C:\<tag>Out<round>", unzip's into "<tag>Unzip<round>" beside it in the drive's own folder:
// both trees hang below the same parent, so the file system places their inodes alike.
// Nothing is removed here.
bool TimeCase(const std::wstring& archive, const std::string& tag, std::uint64_t entries,
              Times& times) {
  const std::string host = platform::ToHostPath(archive);
  const std::string drive = platform::ToHostPath(L"C:\\");
  const std::wstring wideTag(tag.begin(), tag.end());
  for (int round = 0; round < 3; ++round) {
    auto runOurs = [&]() -> bool {
      DataStorage::CDataStorage storage;
      auto t = std::chrono::steady_clock::now();
      if (!storage.Open(archive, nullptr)) return false;
      times.open = std::min(times.open, Seconds(t));
      std::wstring target = L"C:\\" + wideTag + L"Out" + std::to_wstring(round), path;
      t = std::chrono::steady_clock::now();
      if (!storage.ExtractAll(target, path)) return false;
      times.ours = std::min(times.ours, Seconds(t));

      std::uint64_t count = 0, packed = 0, unpacked = 0;
      t = std::chrono::steady_clock::now();
      if (!storage.Measure(nullptr, count, packed, unpacked) || count != entries) return false;
      times.measure = std::min(times.measure, Seconds(t));
      storage.Close();
      return true;
    };
    auto runUnzip = [&]() -> bool {
      std::string tree = drive + "/" + tag + "Unzip" + std::to_string(round);
      auto t = std::chrono::steady_clock::now();
      if (Run("unzip -q -o '" + host + "' -d '" + tree + "'") != 0) return false;
      times.theirs = std::min(times.theirs, Seconds(t));
      t = std::chrono::steady_clock::now();
      if (Run("unzip -l '" + host + "' > /dev/null") != 0) return false;
      times.list = std::min(times.list, Seconds(t));
      return true;
    };
    if (round % 2 == 0 ? !(runOurs() && runUnzip()) : !(runUnzip() && runOurs())) return false;
  }
  return true;
}

void Print(const char* label, const Times& t) {
  std::printf("%s extract: CDataStorage %.3f s, unzip %.3f s, ratio %.2f (aim <= 1.00)\n", label,
              t.ours, t.theirs, t.ours / t.theirs);
  std::printf("%s measure: CDataStorage %.4f s, unzip -l %.4f s, ratio %.2f\n", label, t.measure,
              t.list, t.measure / t.list);
  std::printf(
      "%s open (directory read and checked): CDataStorage %.4f s, unzip -l %.4f s, ratio %.2f\n",
      label, t.open, t.list, t.open / t.list);
}

// The tiny payload: folder after folder, as a packer walking a product tree adds them. A third
// of the folders hold icons (binary, little to gain from deflate), a third message catalogues,
// a third scripts (text).
bool PackTiny(const std::wstring& archive, int entries, std::mt19937& rng) {
  constexpr int kFolders = 250;
  DataStorage::CZipper zipper;
  if (!zipper.Open(archive)) return false;
  std::uniform_int_distribution<int> size(3, 600), byte(0, 255);
  const platform::FileTime when = platform::GetSystemTimeAsFileTime();
  const int perFolder = std::max(1, (entries + kFolders - 1) / kFolders);
  for (int i = 0; i < entries; ++i) {
    const int folder = i / perFolder;
    std::wstring name;
    std::string bytes;
    const auto n = static_cast<std::size_t>(size(rng));
    switch (folder % 3) {
      case 0:
        name =
            L"res\\icons\\set" + std::to_wstring(folder) + L"\\icon" + std::to_wstring(i) + L".png";
        for (std::size_t k = 0; k < n; ++k) bytes += static_cast<char>(byte(rng));
        break;
      case 1:
        name = L"locale\\lang" + std::to_wstring(folder) + L"\\LC_MESSAGES\\msg" +
               std::to_wstring(i) + L".mo";
        bytes = bench::Payload(rng, n);
        break;
      default:
        name = L"scripts\\lib" + std::to_wstring(folder) + L"\\mod" + std::to_wstring(i) + L".py";
        bytes = bench::Payload(rng, n);
        break;
    }
    if (!zipper.AddData(name, bytes, when)) return false;
  }
  return zipper.Close();
}

}  // namespace

int main(int argc, char** argv) {
  int files = argc > 1 ? std::atoi(argv[1]) : 5000;
  long megabytes = argc > 2 ? std::atol(argv[2]) : 200;
  std::string base = bench::WorkFolder("tl-bench-archive-", argc > 3 ? argv[3] : nullptr);
  int tiny = argc > 4 ? std::atoi(argv[4]) : 100000;
  if (base.empty() || files <= 0 || megabytes <= 0 || tiny < 0) return 1;
  platform::Machine::SetCurrentForProcess(base + "/machine");
  platform::ResetEnvironment();

  // The large payload, written into the machine and packed with CZipper.
  std::mt19937 rng(7);
  std::size_t each =
      static_cast<std::size_t>(megabytes) * 1024 * 1024 / static_cast<std::size_t>(files);
  platform::CreateDirectoryWithParents(L"C:\\Payload");
  platform::CreateDirectoryWithParents(L"C:\\Pkg");
  {
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
  }
  if (tiny > 0) {
    auto packStart = std::chrono::steady_clock::now();
    if (!PackTiny(L"C:\\Pkg\\Tiny.data", tiny, rng)) return 1;
    std::printf("packed %d tiny entries in %.2f s\n", tiny, Seconds(packStart));
  }

  Times large, small;
  if (!TimeCase(L"C:\\Pkg\\Setup.data", "", static_cast<std::uint64_t>(files), large)) return 1;
  if (tiny > 0 && !TimeCase(L"C:\\Pkg\\Tiny.data", "Tiny", static_cast<std::uint64_t>(tiny), small))
    return 1;

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
  }
  std::printf("file layer alone (create %d empty files): %.3f s, %.2f of unzip's time\n", files,
              floor, floor / large.theirs);
  Print("large", large);
  if (tiny > 0) Print("tiny", small);
  std::fflush(stdout);
  platform::Machine::ResetCurrent();
  platform::hostio::RemoveTree(base);
  return 0;
}
