#include "platform/System.h"

#include "platform/Machine.h"
#include "platform/Text.h"

#include <sys/random.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace platform {

namespace {
std::atomic<long>& CachedProcessId() {
  static auto* pid = new std::atomic<long>(0);
  return *pid;
}
}  // namespace

void NoteMachineChange() {
  // Read once: the tests set it before the program starts.
  static const long long limit = [] {
    const char* text = std::getenv("TOLMERA_KILL_AFTER_CHANGES");
    if (!text || !*text) return 0LL;
    char* end = nullptr;
    const long long n = std::strtoll(text, &end, 10);
    return end && *end == '\0' && n > 0 ? n : 0LL;
  }();
  if (limit == 0) return;
  static std::atomic<long long> changes{0};
  if (changes.fetch_add(1) + 1 >= limit) ::kill(::getpid(), SIGKILL);
}

long GetCurrentProcessId() {
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, [] { CachedProcessId().store(0); });
    return true;
  }();
  (void)registered;
  long pid = CachedProcessId().load(std::memory_order_relaxed);
  if (pid == 0) {
    pid = ::getpid();
    CachedProcessId().store(pid, std::memory_order_relaxed);
  }
  return pid;
}

namespace {

std::mutex g_debugMutex;
std::vector<std::wstring> g_debug;

unsigned ServicePackMajor(const std::wstring& csd) {
  // "Service Pack 3" -> 3.
  std::size_t i = csd.find_last_of(L' ');
  if (i == std::wstring::npos) return 0;
  return static_cast<unsigned>(wtol(csd.substr(i + 1)));
}

}  // namespace

DWORD GetVersionExW(OSVERSIONINFOEXW& info) {
  try {
    const OsVersion& v = Machine::Current().Config().os;
    info.dwMajorVersion = v.major;
    info.dwMinorVersion = v.minor;
    info.dwBuildNumber = v.build;
    info.dwPlatformId = v.platformId;
    info.szCSDVersion = v.servicePack;
    info.wServicePackMajor = ServicePackMajor(v.servicePack);
    info.wServicePackMinor = 0;
    info.wSuiteMask = 0x0100;  // VER_SUITE_SINGLEUSERTS, as a workstation reports
    info.wProductType = v.productType;
    return Fail(ERROR_SUCCESS);
  } catch (const MachineError&) {
    return Fail(ERROR_NOT_READY);
  }
}

std::wstring GetComputerNameW() {
  try {
    return Machine::Current().Config().computerName;
  } catch (const MachineError&) {
    return std::wstring();
  }
}

std::wstring GetUserNameW() {
  try {
    return Machine::Current().Config().userName;
  } catch (const MachineError&) {
    return std::wstring();
  }
}

bool IsWow64Process() {
  try {
    return Machine::Current().Config().IsWow64();
  } catch (const MachineError&) {
    return false;
  }
}

int GetSystemMetrics(int index) {
  try {
    const MachineConfig& c = Machine::Current().Config();
    if (index == SM_CXSCREEN) return c.screenWidth;
    if (index == SM_CYSCREEN) return c.screenHeight;
  } catch (const MachineError&) {}
  return 0;
}

void OutputDebugStringW(std::wstring_view text) {
  std::lock_guard<std::mutex> lock(g_debugMutex);
  g_debug.emplace_back(text);
  if (const char* file = std::getenv("TOLMERA_DEBUG_OUTPUT"); file && *file) {
    int fd = open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
      std::string line = ToUtf8(text);
      if (write(fd, line.data(), line.size()) < 0) {
        // Debug output is best effort.
      }
      close(fd);
    }
  }
}

std::vector<std::wstring> DebugOutput() {
  std::lock_guard<std::mutex> lock(g_debugMutex);
  return g_debug;
}

void ClearDebugOutput() {
  std::lock_guard<std::mutex> lock(g_debugMutex);
  g_debug.clear();
}

HRESULT CoCreateGuid(GUID& guid) {
  std::uint8_t bytes[16];
  std::size_t done = 0;
  while (done < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + done, sizeof bytes - done, 0);
    if (n <= 0) return E_FAIL;
    done += static_cast<std::size_t>(n);
  }
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // the variant of RFC 4122
  std::memcpy(&guid.Data1, bytes, 4);
  std::memcpy(&guid.Data2, bytes + 4, 2);
  std::memcpy(&guid.Data3, bytes + 6, 2);
  std::memcpy(guid.Data4, bytes + 8, 8);
  return S_OK;
}

std::wstring StringFromGUID2(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return std::wstring(text, text + std::strlen(text));
}

}  // namespace platform
