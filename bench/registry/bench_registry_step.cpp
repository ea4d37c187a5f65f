// bench_registry_step [values=1000] [hive-values=10000] [step]  ("step": leave out the slow
// comparison without a batch, for profiling)
//
// A registry step (ProcessRegistry in install mode) that writes 1,000 values into a user hive
// that already holds 10,000, timed against one atomic save of the same hive in the same run
// (the hive's text written from memory to a temporary file and renamed over the hive file it
// replaces), best of five.
// The step works in one registry batch, so it should cost little more than that one save: aim
// at most 2x. For comparison the same values are also written one call at a time without a
// batch (each call rewrites the hive), as every value write did before batches. The run log is
// written to a file of the machine, as in a real run.
#include "app/Tools.h"
#include "manager/InstallManager.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/Text.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteHost(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  const int values = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int hiveValues = argc > 2 ? std::atoi(argv[2]) : 10000;
  std::string base = platform::hostio::MakeTempDir("tl-bench-regstep-");
  if (base.empty()) return 1;
  const std::string root = base + "/machine";
  platform::Machine::SetCurrentForProcess(root);
  platform::ResetEnvironment();
  platform::CreateDirectoryWithParents(L"C:\\ProgramData\\TOLMERA");
  InstallManager::GetInstallTools().Log().SetPath(L"C:\\ProgramData\\TOLMERA\\tlinstall.log");
  InstallManager::GetInstallTools().Log().SetDebugOutput([](const std::wstring&) {});

  // The user hive with `hiveValues` values, written as text and loaded once.
  const std::wstring sid = platform::CurrentUserSid();
  const std::string hive = root + "/registry/HKU/" + platform::ToUtf8(sid) + ".reg";
  {
    platform::RegKey key;
    if (key.Create(platform::HKEY_CURRENT_USER, L"Software\\Bench") != platform::ERROR_SUCCESS)
      return 1;
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\" +
                       platform::ToUtf8(sid) + "\\Software\\Bench]\r\n";
    for (int i = 0; i < hiveValues; ++i)
      text +=
          "\"value" + std::to_string(i) + "\"=\"some text of value " + std::to_string(i) + "\"\r\n";
    WriteHost(hive + ".new", text);
    std::filesystem::rename(hive + ".new", hive);
    if (key.ValueList().size() != static_cast<std::size_t>(hiveValues)) return 1;
  }
  const std::string filled = ReadHost(hive);  // the stored form (as the layer saved it)
  {
    platform::RegKey key;  // one write so the file is the layer's own sealed form
    key.Open(platform::HKEY_CURRENT_USER, L"Software\\Bench", platform::KEY_ALL_ACCESS);
    key.SetString(L"value0", L"some text of value 0");
  }
  const std::string stored = ReadHost(hive);
  (void)filled;

  // The script: one REGISTRY element with `values` HKCU values.
  std::wstring xml =
      L"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SCENARIO Name=\"Bench\" PV=\"B\" "
      L"Version=\"1\" Build=\"1\"><INSTALL><REGISTRY>";
  for (int i = 0; i < values; ++i)
    xml += L"<HKCU KeyName=\"Software\\Bench\\Step\" ValueName=\"new" + std::to_wstring(i) +
           L"\" TextValue=\"C:/Program Files/Bench/" + std::to_wstring(i) + L"\"/>";
  xml += L"</REGISTRY></INSTALL></SCENARIO>\n";
  if (!InstallManager::GetInstallTools().Script().LoadFromBytes(platform::ToUtf8(xml))) return 1;
  CommonTools::SettingsNodePtr scriptRoot, install;
  if (!InstallManager::GetInstallTools().GetScriptRoot(scriptRoot) ||
      !scriptRoot->GetChild(L"INSTALL", install))
    return 1;
  InstallManager::CInstallManager manager;

  auto restore = [&] {
    WriteHost(hive + ".new", stored);
    std::filesystem::rename(hive + ".new", hive);
  };
  auto check = [&](const wchar_t* key, int expected) {
    platform::RegKey k;
    if (k.Open(platform::HKEY_CURRENT_USER, key) != platform::ERROR_SUCCESS ||
        k.ValueList().size() != static_cast<std::size_t>(expected)) {
      std::fprintf(stderr, "bench_registry_step: the values did not arrive\n");
      std::exit(1);
    }
  };

  double step = 1e9, save = 1e9, unbatched = 1e9, quiet = 1e9, calls = 1e9;
  double callsBeforeSave = 0, batchSave = 0;  // the best batch of calls, split at its save
  for (int round = 0; round < 5; ++round) {
    // The registry calls of the step alone (no script, no log), in one batch.
    restore();
    {
      platform::RegKey warm;
      warm.Open(platform::HKEY_CURRENT_USER, L"Software\\Bench");
      auto t = Clock::now();
      {
        platform::RegistryBatch batch;
        for (int i = 0; i < values; ++i) {
          platform::RegKey k;
          k.Create(platform::HKEY_CURRENT_USER, L"Software\\Bench\\Step");
          k.SetString(L"new" + std::to_wstring(i),
                      L"C:\\Program Files\\Bench\\" + std::to_wstring(i));
        }
        const double before = Since(t);
        const auto commit = Clock::now();
        batch.Commit();
        if (before + Since(commit) < calls) {
          callsBeforeSave = before;
          batchSave = Since(commit);
        }
      }
      calls = std::min(calls, Since(t));
      check(L"Software\\Bench\\Step", values);
    }
    // The step with its run log kept in memory only: what the registry costs without the file
    // the log lines go to.
    restore();
    {
      InstallManager::GetInstallTools().Log().SetPath(L"");
      platform::RegKey warm;
      warm.Open(platform::HKEY_CURRENT_USER, L"Software\\Bench");
      auto t = Clock::now();
      manager.ProcessRegistry(install, 0);
      quiet = std::min(quiet, Since(t));
      check(L"Software\\Bench\\Step", values);
      InstallManager::GetInstallTools().Log().SetPath(L"C:\\ProgramData\\TOLMERA\\tlinstall.log");
    }
    restore();
    platform::RegKey warm;  // the hive loaded before the clock starts, as in a run
    warm.Open(platform::HKEY_CURRENT_USER, L"Software\\Bench");
    auto t = Clock::now();
    manager.ProcessRegistry(install, 0);
    step = std::min(step, Since(t));
    check(L"Software\\Bench\\Step", values);

    // The reference: one atomic save of the same hive (its text from memory, temporary file,
    // rename), with the tree as the step left it.
    platform::reg::ParseError error;
    auto tree = platform::reg::ParseHive(ReadHost(hive), L"HKEY_USERS\\" + sid, &error);
    if (!tree) return 1;
    // The save replaces a hive file as large as the one the step replaced, in the hive's own
    // folder, as every save of a stored hive does: the first round would otherwise only create a
    // file, the release of the old file's blocks is part of every real save, and a file system
    // may take longer to make a file in a folder where files were deleted a moment ago.
    const std::string tmp = hive + ".reference.tmp", target = hive + ".reference";
    WriteHost(target, stored);
    t = Clock::now();
    std::string bytes = platform::reg::WriteHive(*tree, L"HKEY_USERS\\" + sid, true);
    WriteHost(tmp, bytes);
    std::rename(tmp.c_str(), target.c_str());
    save = std::min(save, Since(t));
  }
  // The same values one write at a time without a batch (each rewrites the hive): once.
  const bool stepOnly = argc > 3 && std::string(argv[3]) == "step";
  if (!stepOnly) {
    restore();
    platform::RegKey warm;
    warm.Open(platform::HKEY_CURRENT_USER, L"Software\\Bench");
    auto t = Clock::now();
    for (int i = 0; i < values; ++i) {
      platform::RegKey k;
      k.Create(platform::HKEY_CURRENT_USER, L"Software\\Bench\\Step");
      k.SetString(L"new" + std::to_wstring(i), L"C:\\Program Files\\Bench\\" + std::to_wstring(i));
    }
    unbatched = Since(t);
    check(L"Software\\Bench\\Step", values);
  }

  std::printf("hive of %d values (%zu bytes on disk); %d values written\n", hiveValues,
              stored.size(), values);
  std::printf("registry step, one batch:          %8.4f s\n", step);
  std::printf("  the same without the log file:   %8.4f s   (the run log's lines: %.3f s)\n", quiet,
              step - quiet);
  std::printf("  its registry calls alone, batched:%8.4f s\n", calls);
  std::printf("one atomic save of the hive:       %8.4f s   step / save = %.2f (aim <= 2)\n", save,
              step / save);
  std::printf("  registry calls alone / save = %.2f\n", calls / save);
  std::printf("    (the calls before the batch's save %.4f s, the batch's save %.4f s)\n",
              callsBeforeSave, batchSave);
  std::printf(
      "the same writes without a batch:   %8.4f s   (%.0f writes per second; %.1fx the "
      "step)\n",
      unbatched, values / unbatched, unbatched / step);
  platform::Machine::ResetCurrent();
  std::filesystem::remove_all(base);
  return 0;
}
