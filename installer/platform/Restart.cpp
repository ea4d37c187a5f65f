#include "platform/Restart.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>

#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/RegistryHive.h"
#include "platform/Text.h"

namespace platform {

namespace {

const std::vector<std::wstring> kSessionManager = {L"SYSTEM", L"CurrentControlSet", L"Control",
                                                   L"Session Manager"};
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

std::wstring StripNtPrefix(std::wstring path) {
  if (path.rfind(L"\\??\\", 0) == 0) path.erase(0, 4);
  return path;
}

// The pairs of a PendingFileRenameOperations value. Empty strings are destinations ("delete"),
// so the list is read pair by pair; an empty source ends it.
std::vector<PendingFileOperation> ParsePending(const std::vector<std::uint8_t>& data) {
  std::wstring text(data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
  std::vector<PendingFileOperation> ops;
  std::size_t pos = 0;
  auto next = [&](std::wstring& out) {
    std::size_t nul = text.find(L'\0', pos);
    if (nul == std::wstring::npos) nul = text.size();
    out = text.substr(pos, nul - pos);
    pos = nul + 1;
  };
  while (pos < text.size()) {
    std::wstring source, destination;
    next(source);
    if (source.empty()) break;
    if (pos <= text.size()) next(destination);
    PendingFileOperation op;
    op.source = StripNtPrefix(source);
    if (!destination.empty() && destination[0] == L'!') {
      op.replaceExisting = true;
      destination.erase(0, 1);
    }
    op.destination = StripNtPrefix(destination);
    ops.push_back(std::move(op));
  }
  return ops;
}

std::vector<std::uint8_t> WritePending(const std::vector<PendingFileOperation>& ops) {
  std::wstring text;
  for (const auto& op : ops) {
    text += L"\\??\\" + op.source;
    text.push_back(L'\0');
    if (!op.destination.empty())
      text += (op.replaceExisting ? L"!\\??\\" : L"\\??\\") + op.destination;
    text.push_back(L'\0');
  }
  text.push_back(L'\0');
  std::vector<std::uint8_t> data(text.size() * sizeof(wchar_t));
  std::memcpy(data.data(), text.data(), data.size());
  return data;
}

reg::Key* SessionManager(reg::Key& root, bool create) {
  reg::Key* key = &root;
  for (const auto& part : kSessionManager) {
    reg::Key* child = key->Child(part);
    if (!child) {
      if (!create) return nullptr;
      child = key->AddChild(part);
    }
    key = child;
  }
  return key;
}

std::wstring FullPath(const std::wstring& path) {
  if (path.empty()) return path;
  std::wstring full;
  if (GetFullPathNameW(path, full) == ERROR_SUCCESS && !full.empty()) return full;
  return path;
}

void AppendRestartLog(const std::string& line) {
  std::string dir = Machine::Current().StateDir();
  std::ofstream out(dir + "/restarts.log", std::ios::app);
  out << line << "\n";
}

std::atomic<bool> gRestartRequested{false};
std::once_flag gAtExitOnce;

void AtExitRestart() {
  try {
    RunRequestedRestart();
  } catch (...) {
    // Nothing may leave an exit handler.
  }
}

}  // namespace

DWORD ScheduleFileOperation(const std::wstring& source, const std::wstring& destination,
                            bool replaceExisting) {
  if (source.empty()) return ERROR_INVALID_PARAMETER;
  PendingFileOperation op{FullPath(source), FullPath(destination),
                          replaceExisting && !destination.empty()};
  // Make sure the machine's registry exists (and is fresh-filled) before writing into it.
  {
    RegKey probe;
    probe.Open(HKEY_LOCAL_MACHINE, L"SYSTEM");
  }
  auto store = reg::Store::For(Machine::Current().Root());
  return store->Machine().Write([&](reg::Key& root, bool& changed) -> DWORD {
    reg::Key* key = SessionManager(root, true);
    std::vector<PendingFileOperation> ops;
    if (const reg::Value* v = key->FindValue(kPendingValue)) ops = ParsePending(v->data);
    ops.push_back(op);
    key->SetValue(kPendingValue, REG_MULTI_SZ, WritePending(ops));
    changed = true;
    return ERROR_SUCCESS;
  });
}

DWORD CancelScheduledDeletion(const std::wstring& path) {
  if (path.empty()) return ERROR_INVALID_PARAMETER;
  const std::wstring full = FullPath(path);
  // Read first: a name that waits for nothing costs no write of the hive.
  bool waiting = false;
  for (const auto& op : PendingFileOperations())
    waiting = waiting || (op.destination.empty() && EqualsNoCase(op.source, full));
  if (!waiting) return ERROR_SUCCESS;
  auto store = reg::Store::For(Machine::Current().Root());
  return store->Machine().Write([&](reg::Key& root, bool& changed) -> DWORD {
    reg::Key* key = SessionManager(root, false);
    const reg::Value* v = key ? key->FindValue(kPendingValue) : nullptr;
    if (!v) return ERROR_SUCCESS;
    std::vector<PendingFileOperation> ops = ParsePending(v->data);
    const std::size_t before = ops.size();
    ops.erase(std::remove_if(ops.begin(), ops.end(),
                             [&](const PendingFileOperation& op) {
                               return op.destination.empty() && EqualsNoCase(op.source, full);
                             }),
              ops.end());
    if (ops.size() == before) return ERROR_SUCCESS;
    if (ops.empty())
      key->RemoveValue(kPendingValue);
    else
      key->SetValue(kPendingValue, REG_MULTI_SZ, WritePending(ops));
    changed = true;
    return ERROR_SUCCESS;
  });
}

std::vector<PendingFileOperation> PendingFileOperations() {
  RegKey key;
  std::vector<PendingFileOperation> ops;
  if (key.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
               KEY_READ | KEY_WOW64_64KEY) != ERROR_SUCCESS)
    return ops;
  std::vector<BYTE> data;
  DWORD type = 0;
  if (key.QueryBinary(kPendingValue, data, &type) == ERROR_SUCCESS && type == REG_MULTI_SZ)
    ops = ParsePending(data);
  return ops;
}

std::vector<RestartResult> RestartMachine() {
  // Take the list and clear it in one step, so that operations scheduled while the restart runs
  // wait for the next one.
  std::vector<PendingFileOperation> ops;
  {
    RegKey probe;
    probe.Open(HKEY_LOCAL_MACHINE, L"SYSTEM");
  }
  auto store = reg::Store::For(Machine::Current().Root());
  store->Machine().Write([&](reg::Key& root, bool& changed) -> DWORD {
    reg::Key* key = SessionManager(root, false);
    if (!key) return ERROR_SUCCESS;
    if (const reg::Value* v = key->FindValue(kPendingValue)) {
      ops = ParsePending(v->data);
      key->RemoveValue(kPendingValue);
      changed = true;
    }
    return ERROR_SUCCESS;
  });

  std::vector<RestartResult> results;
  for (const auto& op : ops) {
    RestartResult r;
    r.operation = op;
    if (op.destination.empty()) {
      if (PathIsDirectoryW(op.source)) {
        r.status = RemoveDirectoryW(op.source);  // only an empty folder goes
      } else {
        DWORD attributes = GetFileAttributesW(op.source);
        if (attributes != 0xFFFFFFFFu && (attributes & 0x1u))  // read-only
          SetFileAttributesW(op.source, attributes & ~0x1u);
        r.status = DeleteFileW(op.source);
      }
    } else {
      r.status = MoveFileExW(op.source, op.destination,
                             op.replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0);
    }
    results.push_back(std::move(r));
  }
  std::size_t failed = 0;
  for (const auto& r : results) failed += r.status != ERROR_SUCCESS;
  char stamp[64];
  std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  AppendRestartLog(std::string(stamp) + " restart: " + std::to_string(results.size()) +
                   " pending operations, " + std::to_string(failed) + " failed");
  gRestartRequested = false;
  return results;
}

bool ExitWindowsEx(unsigned flags, DWORD reason) {
  if ((flags & (EWX_REBOOT | EWX_SHUTDOWN | EWX_POWEROFF)) == 0) {
    AppendRestartLog("logoff requested");
    return true;
  }
  gRestartRequested = true;
  std::call_once(gAtExitOnce, [] { std::atexit(AtExitRestart); });
  return true;
}

bool IsRestartPending() { return gRestartRequested; }

void RunRequestedRestart() {
  if (gRestartRequested.exchange(false)) RestartMachine();
}

unsigned RestartCount() {
  std::ifstream in(Machine::Current().StateDir() + "/restarts.log");
  std::string line;
  unsigned count = 0;
  while (std::getline(in, line))
    if (line.find(" restart: ") != std::string::npos) ++count;
  return count;
}

void InstallRestartService() {
  SetDelayedMoveHandler([](std::wstring_view from, std::wstring_view to) -> DWORD {
    return ScheduleFileOperation(std::wstring(from), std::wstring(to));
  });
}

}  // namespace platform
