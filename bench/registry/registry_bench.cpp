// Registry writes and reads per second on a hive of 10,000 values, each with a ratio against a
// reference measured in the same run:
//   write: RegSetValueExW (read-modify-write of the hive under its lock, atomic rewrite) against
//          the bare atomic rewrite of a file of the same size (write a temporary file, rename);
//   read:  RegQueryValueExW (change check of the hive file, look-up, copy) against the bare
//          change check (one stat) plus a look-up in an unordered_map of the same names.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_map>

#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/Text.h"

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int kValues = 10000;
  const int kWrites = argc > 1 ? std::atoi(argv[1]) : 200;
  const int kReads = 200000;

  char pattern[] = "/tmp/tl-registry-bench-XXXXXX";
  std::string temp = ::mkdtemp(pattern);
  std::string root = temp + "/machine";
  Machine::Init(root);
  Machine::SetCurrentForProcess(root);

  RegKey key;
  if (key.Create(HKEY_CURRENT_USER, L"Software\\Bench") != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot create the key\n");
    return 1;
  }
  // Fill the hive in one go through the text form (fast), then reload it.
  {
    std::string hive = root + "/registry/HKU/" + ToUtf8(CurrentUserSid()) + ".reg";
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\" +
                       ToUtf8(CurrentUserSid()) + "\\Software\\Bench]\r\n";
    for (int i = 0; i < kValues; ++i)
      text +=
          "\"value" + std::to_string(i) + "\"=\"some text of value " + std::to_string(i) + "\"\r\n";
    std::ofstream(hive + ".new", std::ios::binary) << text;
    std::filesystem::rename(hive + ".new", hive);
  }
  if (key.ValueList().size() != static_cast<std::size_t>(kValues)) {
    std::fprintf(stderr, "the hive did not load (%zu values)\n", key.ValueList().size());
    return 1;
  }
  std::string hiveFile = root + "/registry/HKU/" + ToUtf8(CurrentUserSid()) + ".reg";

  // Writes.
  auto t0 = Clock::now();
  for (int i = 0; i < kWrites; ++i)
    key.SetDword(L"value" + std::to_wstring(i % kValues), static_cast<DWORD>(i));
  auto t1 = Clock::now();
  std::string bytes;
  {
    std::ifstream in(hiveFile, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::string refFile = temp + "/reference.bin";
  auto t2 = Clock::now();
  for (int i = 0; i < kWrites; ++i) {
    FILE* f = std::fopen((refFile + ".tmp").c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::rename((refFile + ".tmp").c_str(), refFile.c_str());
  }
  auto t3 = Clock::now();

  // Reads.
  std::unordered_map<std::wstring, DWORD> map;
  for (int i = 0; i < kValues; ++i) map[L"VALUE" + std::to_wstring(i)] = static_cast<DWORD>(i);
  std::vector<std::wstring> names;
  for (int i = 0; i < kValues; ++i) names.push_back(L"value" + std::to_wstring(i));
  auto t4 = Clock::now();
  DWORD sum = 0;
  for (int i = 0; i < kReads; ++i) {
    DWORD v = 0, size = sizeof v;
    RegQueryValueExW(key.Get(), names[i % kValues].c_str(), nullptr, nullptr,
                     reinterpret_cast<BYTE*>(&v), &size);
    sum += v;
  }
  auto t5 = Clock::now();
  std::wstring upper;
  for (int i = 0; i < kReads; ++i) {
    struct stat st;
    ::stat(hiveFile.c_str(), &st);
    upper = L"VALUE" + std::to_wstring(i % kValues);
    auto it = map.find(upper);
    sum += it == map.end() ? 0 : it->second;
  }
  auto t6 = Clock::now();

  double writeRate = kWrites / Seconds(t0, t1), refWriteRate = kWrites / Seconds(t2, t3);
  double readRate = kReads / Seconds(t4, t5), refReadRate = kReads / Seconds(t5, t6);
  std::printf("hive of %d values, %zu bytes on disk\n", kValues, bytes.size());
  std::printf(
      "writes: %10.0f per second; reference (atomic rewrite of the same bytes) %10.0f per second; "
      "time ratio %.2f\n",
      writeRate, refWriteRate, refWriteRate / writeRate);
  std::printf(
      "reads:  %10.0f per second; reference (stat + hash look-up)              %10.0f per second; "
      "time ratio %.2f\n",
      readRate, refReadRate, refReadRate / readRate);
  std::printf("(checksum %u)\n", sum);
  Machine::ResetCurrent();
  std::filesystem::remove_all(temp);
  return 0;
}
