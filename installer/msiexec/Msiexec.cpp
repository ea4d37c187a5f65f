#include "msiexec/Msiexec.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ctime>

#include "msiexec/Engine.h"
#include "msiexec/EngineCommon.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Text.h"

namespace Msi {

namespace {

using Properties = std::map<std::wstring, std::wstring>;

// The local time in the strftime form `format`.
std::wstring LocalTime(const char* format) {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, format, &tm);
  return platform::FromUtf8(buf);
}

std::wstring Now() { return LocalTime("%m/%d/%Y  %H:%M:%S"); }

// The Installer runs one installation at a time on a machine: the lock of the machine's
// installer service, held for the run.
class InstallLock {
 public:
  InstallLock() {
    const std::string path = platform::Machine::Current().StateDir() + "/msiexec.lock";
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    struct stat st {};
    if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(m_fd);
      m_fd = -1;
    }
    if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(m_fd);
      m_fd = -1;
    }
  }
  ~InstallLock() {
    if (m_fd >= 0) ::close(m_fd);
  }
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

}  // namespace

namespace {
volatile std::sig_atomic_t g_cancel = 0;
}  // namespace

void RequestCancel() { g_cancel = 1; }
bool CancelRequested() { return g_cancel != 0; }

std::string LocalDate() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y%m%d", &tm);
  return buf;
}

std::wstring LogClock() { return LocalTime("%H:%M:%S"); }

void RunLog::Line(const std::wstring& text, bool verbose) {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  wchar_t prefix[64];
  std::swprintf(prefix, 64, L"MSI (s) (%02X:%02X) [%ls:%03d]: ", ::getpid() & 0xff,
                (::getpid() >> 8) & 0xff, LocalTime("%H:%M:%S").c_str(),
                static_cast<int>(tv.tv_usec / 1000));
  m_lines.push_back(prefix + text);
  m_verbose.push_back(verbose);
}

void RunLog::Raw(const std::wstring& text, bool verbose) {
  m_lines.push_back(text);
  m_verbose.push_back(verbose);
}

void RunLog::WriteTo(const std::wstring& path, const std::wstring& flags) const {
  if (path.empty()) return;
  const bool verbose = flags.find_first_of(L"vV") != std::wstring::npos;
  std::string bytes;
  if (flags.find(L'+') != std::wstring::npos) platform::ReadWholeFile(path, bytes);
  for (std::size_t i = 0; i < m_lines.size(); ++i) {
    if (m_verbose[i] && !verbose) continue;
    std::wstring line = m_lines[i];
    if (!verbose && line.rfind(L"=== Verbose logging ", 0) == 0) line.replace(4, 16, L"Logging ");
    bytes += platform::ToUtf8(line) + "\r\n";
  }
  platform::WriteWholeFile(path, bytes);
}

std::wstring PackedGuid(const std::wstring& guid) {
  if (!IsGuid(guid)) return L"";
  std::wstring hex;
  for (wchar_t c : guid)
    if (std::iswxdigit(c)) hex += static_cast<wchar_t>(std::towupper(c));
  std::wstring out;
  auto reversed = [&](std::size_t from, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out += hex[from + count - 1 - i];
  };
  reversed(0, 8);
  reversed(8, 4);
  reversed(12, 4);
  for (std::size_t i = 16; i < 32; i += 2) {
    out += hex[i + 1];
    out += hex[i];
  }
  return out;
}

std::wstring UnpackedGuid(const std::wstring& packed) {
  if (packed.size() != 32) return L"";
  for (wchar_t c : packed)
    if (!std::iswxdigit(c)) return L"";
  // The packing reverses groups of digits, so packing the digits again unpacks them.
  const std::wstring p = platform::ToUpper(packed);
  const std::wstring braced = L"{" + p.substr(0, 8) + L"-" + p.substr(8, 4) + L"-" +
                              p.substr(12, 4) + L"-" + p.substr(16, 4) + L"-" + p.substr(20) + L"}";
  const std::wstring hex = PackedGuid(braced);
  return L"{" + hex.substr(0, 8) + L"-" + hex.substr(8, 4) + L"-" + hex.substr(12, 4) + L"-" +
         hex.substr(16, 4) + L"-" + hex.substr(20) + L"}";
}

std::wstring FormatText(const std::wstring& text, const Properties& properties,
                        const std::map<std::wstring, std::wstring>& files,
                        const std::map<std::wstring, std::wstring>& components) {
  std::wstring out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != L'[') {
      out += text[i++];
      continue;
    }
    std::size_t close = text.find(L']', i + 1);
    // "[\]]" escapes a closing bracket.
    if (close == i + 2 && text[i + 1] == L'\\' && close + 1 < text.size() &&
        text[close + 1] == L']')
      close = close + 1;
    if (close == std::wstring::npos) {
      out += text.substr(i);
      break;
    }
    const std::wstring inner = text.substr(i + 1, close - i - 1);
    i = close + 1;
    if (inner.empty()) {
      out += L"[]";
      continue;
    }
    if (inner[0] == L'\\') {
      out += inner.substr(1, 1);
    } else if (inner == L"~") {
      out += L'\0';
    } else if (inner[0] == L'#' || inner[0] == L'!') {
      auto f = files.find(inner.substr(1));
      if (f != files.end()) out += f->second;
    } else if (inner[0] == L'$') {
      auto c = components.find(inner.substr(1));
      if (c != components.end()) out += c->second;
    } else if (inner[0] == L'%') {
      std::wstring value;
      if (platform::GetEnvironmentVariableW(inner.substr(1), value) == platform::ERROR_SUCCESS)
        out += value;
    } else {
      auto p = properties.find(inner);
      // The value goes in as it stands: references inside it are not formatted again.
      if (p != properties.end()) out += p->second;
    }
  }
  return out;
}

int ParseCommandLine(const std::vector<std::wstring>& args, Options& options, std::wstring& error) {
  options = Options{};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::wstring& a = args[i];
    if (a.size() >= 2 && (a[0] == L'/' || a[0] == L'-')) {
      wchar_t option = static_cast<wchar_t>(std::towlower(a[1]));
      std::wstring attached = a.substr(2);
      std::wstring word = a.substr(1);
      for (auto& c : word) c = static_cast<wchar_t>(std::towlower(c));
      // The long forms of the documented switches.
      if (word == L"package" || word == L"uninstall") {
        option = word == L"package" ? L'i' : L'x';
        attached.clear();
      } else if (word == L"quiet" || word == L"passive") {
        options.quiet = true;
        continue;
      } else if (word == L"norestart") {
        continue;
      }
      // /f[modes] repairs: a reinstallation of every feature in those modes.
      if (option == L'f') {
        if (attached.find_first_not_of(L"pPoOeEdDcCaAuUmMsSvV") != std::wstring::npos) {
          error = L"unknown repair mode in " + a;
          return kInvalidCommandLine;
        }
        options.properties[L"REINSTALLMODE"] = attached.empty() ? L"pecms" : attached;
        options.properties[L"REINSTALL"] = L"ALL";
        option = L'i';
        attached.clear();
      }
      if (option == L'i' || option == L'x') {
        if (options.action != Options::Action::None) {
          error = L"more than one action";
          return kInvalidCommandLine;
        }
        options.action = option == L'i' ? Options::Action::Install : Options::Action::Remove;
        if (attached.empty()) {
          if (i + 1 >= args.size()) {
            error = a + L" without a package or product";
            return kInvalidCommandLine;
          }
          attached = args[++i];
        }
        options.target = attached;
        continue;
      }
      if (option == L'q') {
        options.quiet = true;
        continue;
      }
      if (option == L'l') {
        if (i + 1 >= args.size()) {
          error = L"/l without a log file";
          return kInvalidCommandLine;
        }
        options.logFlags = attached;
        options.logFile = args[++i];
        continue;
      }
      error = L"unknown option " + a;
      return kInvalidCommandLine;
    }
    std::size_t eq = a.find(L'=');
    if (eq == std::wstring::npos || eq == 0) {
      error = L"unexpected argument " + a;
      return kInvalidCommandLine;
    }
    options.properties[platform::ToUpper(a.substr(0, eq))] = a.substr(eq + 1);
  }
  if (options.action == Options::Action::None || options.target.empty()) {
    error = L"no action";
    return kInvalidCommandLine;
  }
  return kSuccess;
}

int Run(const Options& options) {
  RunLog log;
  log.Raw(L"=== Verbose logging started: " + Now() +
              L"  Build type: SHIP UNICODE 5.00.10011.00  Calling process: " +
              platform::GetSystemDirectoryW() + L"\\msiexec.exe ===",
          false);
  int result = kInstallFailure;
  InstallLock lock;
  if (!lock.Held()) {
    log.Line(L"Another installation is in progress: this one waits for none", false);
    result = kInstallAlreadyRunning;
  } else {
    try {
      Engine engine(options, log);
      result = engine.Run();
    } catch (const std::exception& e) {
      log.Line(platform::FromUtf8(e.what()), false);
      result = kInstallFailure;
    }
  }
  log.Line(L"MainEngineThread is returning " + std::to_wstring(result), false);
  log.Raw(L"=== Verbose logging stopped: " + Now() + L" ===", false);
  log.WriteTo(options.logFile, options.logFlags);
  return result;
}

}  // namespace Msi
