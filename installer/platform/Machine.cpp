#include "platform/Machine.h"

#include "platform/HostIo.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Restart.h"
#include "platform/Security.h"
#include "platform/Shares.h"
#include "platform/ShellFolders.h"
#include "platform/Text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// machine.ini is a page of settings; anything larger is not one.
constexpr std::size_t kMaxMachineIniBytes = 1u << 20;

// The text of machine.ini, a regular file of at most kMaxMachineIniBytes.
std::string ReadIni(const std::string& ini) {
  std::string text, why;
  if (hostio::ReadRegularFile(ini, text, kMaxMachineIniBytes, &why) != ERROR_SUCCESS)
    throw MachineError(ini + ": cannot be read: " + why);
  return text;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string TrimAscii(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

// Parsing context: names the file and the line in every error.
struct IniContext {
  std::string file;
  int line = 0;
  std::string text;

  [[noreturn]] void Fail(const std::string& what) const {
    std::string msg = file + ", line " + std::to_string(line) + ": " + what;
    if (!text.empty()) msg += " (\"" + text + "\")";
    throw MachineError(msg);
  }

  bool Bool(const std::string& v) const {
    std::string l = Lower(v);
    if (l == "yes" || l == "true" || l == "1" || l == "on") return true;
    if (l == "no" || l == "false" || l == "0" || l == "off") return false;
    Fail("\"" + v + "\" is not yes or no");
  }

  std::uint64_t Number(const std::string& v, std::uint64_t max) const {
    if (v.empty()) Fail("a number is missing");
    std::uint64_t r = 0;
    std::size_t i = 0;
    int radix = 10;
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
      radix = 16;
      i = 2;
    }
    for (; i < v.size(); ++i) {
      char c = v[i];
      int d;
      if (c >= '0' && c <= '9')
        d = c - '0';
      else if (radix == 16 && c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
      else if (radix == 16 && c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
      else
        Fail("\"" + v + "\" is not a number");
      if (r > (max - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(radix))
        Fail("\"" + v + "\" is too large");
      r = r * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(d);
    }
    return r;
  }

  std::int64_t Signed(const std::string& v, std::int64_t lo, std::int64_t hi) const {
    bool neg = !v.empty() && v[0] == '-';
    std::string digits = (neg || (!v.empty() && v[0] == '+')) ? v.substr(1) : v;
    std::int64_t r =
        static_cast<std::int64_t>(Number(digits, static_cast<std::uint64_t>(INT64_MAX)));
    if (neg) r = -r;
    if (r < lo || r > hi) Fail("\"" + v + "\" is out of range");
    return r;
  }
};

std::vector<std::wstring> SplitList(const std::wstring& v) {
  std::vector<std::wstring> out;
  std::wstring cur;
  for (wchar_t c : v) {
    if (c == L',') {
      std::wstring t = Trim(cur);
      if (!t.empty()) out.push_back(t);
      cur.clear();
    } else {
      cur += c;
    }
  }
  std::wstring t = Trim(cur);
  if (!t.empty()) out.push_back(t);
  return out;
}

struct FlagName {
  const char* name;
  DWORD flag;
};
constexpr FlagName kFlagNames[] = {
    {"case_sensitive_search", FILE_CASE_SENSITIVE_SEARCH},
    {"case_preserved_names", FILE_CASE_PRESERVED_NAMES},
    {"unicode_on_disk", FILE_UNICODE_ON_DISK},
    {"persistent_acls", FILE_PERSISTENT_ACLS},
    {"file_compression", FILE_FILE_COMPRESSION},
    {"volume_quotas", FILE_VOLUME_QUOTAS},
    {"reparse_points", FILE_SUPPORTS_REPARSE_POINTS},
    {"named_streams", FILE_NAMED_STREAMS},
    {"read_only_volume", FILE_READ_ONLY_VOLUME},
};

std::string FlagsToText(DWORD flags) {
  std::string out;
  for (const FlagName& f : kFlagNames) {
    if (flags & f.flag) {
      if (!out.empty()) out += ", ";
      out += f.name;
      flags &= ~f.flag;
    }
  }
  if (flags) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%X", flags);
    if (!out.empty()) out += ", ";
    out += buf;
  }
  return out;
}

const char* DriveTypeName(unsigned t) {
  switch (t) {
    case DRIVE_REMOVABLE: return "removable";
    case DRIVE_REMOTE: return "remote";
    case DRIVE_CDROM: return "cdrom";
    case DRIVE_RAMDISK: return "ramdisk";
    default: return "fixed";
  }
}

std::string Hex4(unsigned v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", v);
  return buf;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  if (passwd* pw = getpwuid(getuid())) return pw->pw_dir;
  return "/tmp";
}

std::string AbsoluteHostPath(const std::string& p) {
  std::string path = p;
  if (path.empty()) return path;
  if (path[0] != '/') {
    char buf[4096];
    if (getcwd(buf, sizeof buf)) path = std::string(buf) + "/" + path;
  }
  // Normalise "." and ".." and double slashes, without touching the disk.
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(path);
  while (std::getline(in, part, '/')) {
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  std::string out;
  for (const auto& x : parts) out += "/" + x;
  return out.empty() ? "/" : out;
}

// The process-wide state is never destroyed: destructors of other static objects (the run log
// writing its last line at exit) may still use the machine after main has returned.
std::mutex& CurrentMutex() {
  static auto* m = new std::mutex;
  return *m;
}
std::unique_ptr<Machine>& CurrentSlot() {
  static auto* m = new std::unique_ptr<Machine>;
  return *m;
}
std::vector<std::pair<std::string, Machine::InitHook>>& Hooks() {
  static auto* h = new std::vector<std::pair<std::string, Machine::InitHook>>;
  return *h;
}
std::mutex& HooksMutex() {
  static auto* m = new std::mutex;
  return *m;
}

// A lock on the root folder itself, held while a machine is created.
class RootLock {
 public:
  explicit RootLock(const std::string& root) {
    fd_ = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0) flock(fd_, LOCK_EX);
  }
  ~RootLock() {
    if (fd_ >= 0) {
      flock(fd_, LOCK_UN);
      close(fd_);
    }
  }
  bool Ok() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

const DriveConfig* MachineConfig::Drive(wchar_t letter) const {
  wchar_t up = UpperChar(letter);
  for (const DriveConfig& d : drives)
    if (d.letter == up) return &d;
  return nullptr;
}

MachineConfig MachineConfig::Defaults() {
  MachineConfig c;
  DriveConfig cDrive;
  cDrive.letter = L'C';
  cDrive.type = DRIVE_FIXED;
  cDrive.fileSystem = L"NTFS";
  cDrive.flags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK |
                 FILE_PERSISTENT_ACLS | FILE_FILE_COMPRESSION | FILE_VOLUME_QUOTAS |
                 FILE_SUPPORTS_REPARSE_POINTS | FILE_NAMED_STREAMS;
  cDrive.label = L"Windows";
  cDrive.serial = 0x7A3C15E2;
  DriveConfig zDrive;
  zDrive.letter = L'Z';
  zDrive.type = DRIVE_FIXED;
  zDrive.hostPath = "/";
  zDrive.fileSystem = L"NTFS";
  zDrive.flags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK |
                 FILE_READ_ONLY_VOLUME;
  zDrive.readOnly = true;
  zDrive.label = L"Host";
  zDrive.serial = 0x00005A00;
  c.drives = {cDrive, zDrive};
  c.network.push_back(NetworkComputer{L"TOLMERA-SRV", L"WORKGROUP", true, std::nullopt});
  return c;
}

namespace {

// The reading of machine.ini, one line after the other: the section headers, the keys of each
// section, and the checks of the whole at the end.
struct ConfigParser {
  ConfigParser(MachineConfig& config, const std::string& file) : c(config), fileName(file) {
    c.network.clear();
    ctx.file = fileName;
    drives.reserve(26);
    c.network.reserve(64);
  }
  void Line(std::string raw, int lineNo);
  void Header(const std::string& line);
  void Entry(const std::string& line);
  void MachineKey(const std::string& key, const std::string& value, const std::wstring& wvalue);
  void OsKey(const std::string& key, const std::string& value, const std::wstring& wvalue);
  void InstallerKey(const std::string& key, const std::string& value, const std::wstring& wvalue);
  void LocaleKey(const std::string& key, const std::string& value, const std::wstring& wvalue);
  void ScreenKey(const std::string& key, const std::string& value, const std::wstring& wvalue);
  void UserKey(const std::string& key, const std::string& value, const std::wstring& wvalue);
  void UacKey(const std::string& key, const std::string& value, const std::wstring& wvalue);
  void DriveKey(const std::string& key, const std::string& value, const std::wstring& wvalue);
  void ComputerKey(const std::string& key, const std::string& value, const std::wstring& wvalue);
  void Finish();

  MachineConfig& c;
  std::string fileName;
  IniContext ctx;
  std::string section;  // lower case, e.g. "drive c"
  DriveConfig* drive = nullptr;
  NetworkComputer* computer = nullptr;
  std::vector<std::string> seenSections;
  std::vector<DriveConfig> drives;
};

void ConfigParser::Line(std::string raw, int lineNo) {
  if (lineNo == 1 && raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
  ctx.line = lineNo;
  ctx.text = TrimAscii(raw);
  const std::string line = ctx.text;
  if (line.empty() || line[0] == ';' || line[0] == '#') return;
  if (std::any_of(line.begin(), line.end(), [](char ch) { return ch == '\0'; }))
    ctx.Fail("the line holds a zero byte");
  if (FromUtf8(line).find(L'\xFFFD') != std::wstring::npos) ctx.Fail("the line is not valid UTF-8");
  if (line[0] == '[')
    Header(line);
  else
    Entry(line);
}

void ConfigParser::Header(const std::string& line) {
  if (line.back() != ']') ctx.Fail("a section header must end with \"]\"");
  std::string name = TrimAscii(line.substr(1, line.size() - 2));
  std::string lname = Lower(name);
  if (name.empty()) ctx.Fail("empty section name");
  // Collapse inner blanks: "[drive   c]" is "[drive c]".
  std::string kind = lname.substr(0, lname.find(' '));
  std::string arg =
      lname.find(' ') == std::string::npos ? "" : TrimAscii(name.substr(name.find(' ') + 1));
  drive = nullptr;
  computer = nullptr;
  if (kind == "drive") {
    if (arg.size() == 2 && arg[1] == ':') arg.pop_back();
    if (arg.size() != 1 || !std::isalpha(static_cast<unsigned char>(arg[0])))
      ctx.Fail("a drive section is written [drive C]");
    wchar_t letter = static_cast<wchar_t>(std::toupper(static_cast<unsigned char>(arg[0])));
    for (const DriveConfig& d : drives)
      if (d.letter == letter)
        ctx.Fail("drive " + std::string(1, static_cast<char>(letter)) + ": is described twice");
    drives.push_back(DriveConfig{});
    drive = &drives.back();
    drive->letter = letter;
    drive->flags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    lname = "drive " + std::string(1, static_cast<char>(std::tolower(arg[0])));
  } else if (kind == "computer") {
    if (arg.empty()) ctx.Fail("a computer section is written [computer NAME]");
    std::wstring cname = ToUpper(FromUtf8(arg));
    for (const NetworkComputer& n : c.network)
      if (n.name == cname) ctx.Fail("computer " + arg + " is described twice");
    c.network.push_back(NetworkComputer{cname, L"WORKGROUP", false, std::nullopt});
    computer = &c.network.back();
    lname = "computer " + Lower(arg);
  } else if (!arg.empty() ||
             (kind != "machine" && kind != "os" && kind != "installer" && kind != "locale" &&
              kind != "screen" && kind != "user" && kind != "uac")) {
    // A section of a later service: kept in `raw`, not interpreted here.
  }
  if (std::find(seenSections.begin(), seenSections.end(), lname) != seenSections.end() &&
      kind != "drive" && kind != "computer")
    ctx.Fail("section [" + name + "] appears twice");
  seenSections.push_back(lname);
  section = lname;
}

void ConfigParser::Entry(const std::string& line) {
  std::size_t eq = line.find('=');
  if (eq == std::string::npos) ctx.Fail("expected key = value");
  std::string key = Lower(TrimAscii(line.substr(0, eq)));
  std::string value = TrimAscii(line.substr(eq + 1));
  if (key.empty()) ctx.Fail("a key name is missing before \"=\"");
  if (section.empty()) ctx.Fail("key \"" + key + "\" comes before any [section]");
  std::wstring wvalue = FromUtf8(value);
  if (c.raw.count(section + "/" + key))
    ctx.Fail("key \"" + key + "\" appears twice in [" + section + "]");
  c.raw[section + "/" + key] = wvalue;

  if (section == "machine")
    MachineKey(key, value, wvalue);
  else if (section == "os")
    OsKey(key, value, wvalue);
  else if (section == "installer")
    InstallerKey(key, value, wvalue);
  else if (section == "locale")
    LocaleKey(key, value, wvalue);
  else if (section == "screen")
    ScreenKey(key, value, wvalue);
  else if (section == "user")
    UserKey(key, value, wvalue);
  else if (section == "uac")
    UacKey(key, value, wvalue);
  else if (drive)
    DriveKey(key, value, wvalue);
  else if (computer)
    ComputerKey(key, value, wvalue);
}

void ConfigParser::MachineKey(const std::string& key, const std::string& value,
                              const std::wstring& wvalue) {
  if (key == "computer") {
    if (wvalue.empty() || wvalue.size() > 15)
      ctx.Fail("the computer name must have 1 to 15 characters");
    c.computerName = ToUpper(wvalue);
  } else if (key == "user") {
    if (wvalue.empty()) ctx.Fail("the user name is empty");
    c.userName = wvalue;
  } else if (key == "workgroup")
    c.workgroup = ToUpper(wvalue);
  else if (key == "domain")
    c.domain = ToUpper(wvalue);
  else if (key == "join") {
    std::string l = Lower(value);
    if (l == "unjoined")
      c.join = JoinStatus::Unjoined;
    else if (l == "workgroup")
      c.join = JoinStatus::Workgroup;
    else if (l == "domain")
      c.join = JoinStatus::Domain;
    else if (l == "unknown")
      c.join = JoinStatus::Unknown;
    else
      ctx.Fail("join must be unjoined, workgroup, domain or unknown");
  } else if (key == "server")
    c.server = ctx.Bool(value);
}

void ConfigParser::OsKey(const std::string& key, const std::string& value,
                         const std::wstring& wvalue) {
  if (key == "major")
    c.os.major = static_cast<DWORD>(ctx.Number(value, 100));
  else if (key == "minor")
    c.os.minor = static_cast<DWORD>(ctx.Number(value, 100));
  else if (key == "build")
    c.os.build = static_cast<DWORD>(ctx.Number(value, 0xFFFFFFFFu));
  else if (key == "platform")
    c.os.platformId = static_cast<DWORD>(ctx.Number(value, 3));
  else if (key == "product_type") {
    std::string l = Lower(value);
    if (l == "workstation")
      c.os.productType = 1;
    else if (l == "domain_controller")
      c.os.productType = 2;
    else if (l == "server")
      c.os.productType = 3;
    else {
      std::uint64_t n = ctx.Number(value, 3);
      if (n == 0) ctx.Fail("product_type must be workstation, server or domain_controller");
      c.os.productType = static_cast<unsigned>(n);
    }
  } else if (key == "architecture") {
    std::string l = Lower(value);
    if (l == "x64" || l == "amd64")
      c.os.is64Bit = true;
    else if (l == "x86")
      c.os.is64Bit = false;
    else
      ctx.Fail("architecture must be x64 or x86");
  } else if (key == "name")
    c.os.productName = wvalue;
  else if (key == "service_pack")
    c.os.servicePack = wvalue;
  else if (key == "display_version")
    c.os.displayVersion = wvalue;
}

void ConfigParser::InstallerKey(const std::string& key, const std::string& value,
                                const std::wstring& wvalue) {
  if (key == "bitness") {
    if (value == "32")
      c.process32Bit = true;
    else if (value == "64")
      c.process32Bit = false;
    else
      ctx.Fail("bitness must be 32 or 64");
  }
}

void ConfigParser::LocaleKey(const std::string& key, const std::string& value,
                             const std::wstring& wvalue) {
  if (key == "time_zone")
    c.timeZone.name = wvalue;
  else if (key == "bias")
    c.timeZone.biasMinutes = static_cast<int>(ctx.Signed(value, -14 * 60, 14 * 60));
  else if (key == "daylight_bias")
    c.timeZone.daylightBiasMinutes = static_cast<int>(ctx.Signed(value, -120, 120));
  else if (key == "dst") {
    std::string l = Lower(value);
    if (l != "eu" && l != "us" && l != "none") ctx.Fail("dst must be eu, us or none");
    c.timeZone.dstRule = FromUtf8(l);
  } else if (key == "system_language")
    c.systemLcid = static_cast<std::uint16_t>(ctx.Number(value, 0xFFFF));
  else if (key == "user_language")
    c.userLcid = static_cast<std::uint16_t>(ctx.Number(value, 0xFFFF));
  else if (key == "ui_language")
    c.uiLanguage = static_cast<std::uint16_t>(ctx.Number(value, 0xFFFF));
  else if (key == "ansi_code_page") {
    unsigned cp = static_cast<unsigned>(ctx.Number(value, 65535));
    if (!IsValidCodePage(cp) || cp == 437 || cp == 866)  // the DOS ones are OEM code pages
      ctx.Fail("code page " + value +
               " is not an ANSI code page this machine knows (1250, 1251, 1252, 1254, 28591, "
               "65001)");
    c.ansiCodePage = cp;
  } else if (key == "oem_code_page") {
    unsigned cp = static_cast<unsigned>(ctx.Number(value, 65535));
    if (!IsValidCodePage(cp)) ctx.Fail("unknown OEM code page " + value);
    c.oemCodePage = cp;
  }
}

void ConfigParser::ScreenKey(const std::string& key, const std::string& value,
                             const std::wstring& wvalue) {
  if (key == "width")
    c.screenWidth = static_cast<int>(ctx.Signed(value, 320, 32768));
  else if (key == "height")
    c.screenHeight = static_cast<int>(ctx.Signed(value, 200, 32768));
}

void ConfigParser::UserKey(const std::string& key, const std::string& value,
                           const std::wstring& wvalue) {
  if (key == "memberships")
    c.memberships = SplitList(wvalue);
  else if (key == "elevated")
    c.elevated = ctx.Bool(value);
  else if (key == "integrity") {
    std::string l = Lower(value);
    if (l != "low" && l != "medium" && l != "high" && l != "system")
      ctx.Fail("integrity must be low, medium, high or system");
    c.integrity = FromUtf8(l);
  }
}

void ConfigParser::UacKey(const std::string& key, const std::string& value,
                          const std::wstring& wvalue) {
  if (key == "enabled") c.uacEnabled = ctx.Bool(value);
}

void ConfigParser::DriveKey(const std::string& key, const std::string& value,
                            const std::wstring& wvalue) {
  if (key == "type") {
    std::string l = Lower(value);
    if (l == "fixed")
      drive->type = DRIVE_FIXED;
    else if (l == "remote")
      drive->type = DRIVE_REMOTE;
    else if (l == "cdrom")
      drive->type = DRIVE_CDROM;
    else if (l == "removable")
      drive->type = DRIVE_REMOVABLE;
    else if (l == "ramdisk")
      drive->type = DRIVE_RAMDISK;
    else
      ctx.Fail("unknown drive type \"" + value + "\"");
  } else if (key == "path") {
    if (!value.empty()) {
      if (value[0] != '/') ctx.Fail("a drive path must be an absolute host path");
      drive->hostPath = AbsoluteHostPath(value);
    }
  } else if (key == "file_system") {
    if (wvalue.empty()) ctx.Fail("file_system is empty");
    drive->fileSystem = wvalue;
  } else if (key == "flags") {
    DWORD flags = 0;
    for (const std::wstring& item : SplitList(wvalue)) {
      std::string n = Lower(ToUtf8(item));
      bool found = false;
      for (const FlagName& f : kFlagNames)
        if (n == f.name) {
          flags |= f.flag;
          found = true;
        }
      if (!found) flags |= static_cast<DWORD>(ctx.Number(n, 0xFFFFFFFFu));
    }
    drive->flags = flags;
  } else if (key == "read_only")
    drive->readOnly = ctx.Bool(value);
  else if (key == "label")
    drive->label = wvalue;
  else if (key == "serial")
    drive->serial = static_cast<DWORD>(ctx.Number(value, 0xFFFFFFFFu));
  else if (key == "free_bytes") {
    if (!value.empty()) drive->freeBytes = ctx.Number(value, UINT64_MAX);
  } else if (key == "total_bytes") {
    if (!value.empty()) drive->totalBytes = ctx.Number(value, UINT64_MAX);
  }
}

void ConfigParser::ComputerKey(const std::string& key, const std::string& value,
                               const std::wstring& wvalue) {
  if (key == "workgroup" || key == "domain")
    computer->workgroup = ToUpper(wvalue);
  else if (key == "server")
    computer->server = ctx.Bool(value);
  else if (key == "root") {
    if (!value.empty()) {
      if (value[0] != '/') ctx.Fail("a computer's root must be an absolute host path");
      computer->machineRoot = AbsoluteHostPath(value);
    }
  }
}

void ConfigParser::Finish() {
  ctx.line = 0;
  ctx.text.clear();
  auto failFile = [&](const std::string& what) { throw MachineError(fileName + ": " + what); };
  std::sort(drives.begin(), drives.end(),
            [](const DriveConfig& a, const DriveConfig& b) { return a.letter < b.letter; });
  c.drives = drives;
  if (!c.Drive(L'C')) failFile("there is no [drive C] section; the system drive C: is required");
  if (c.Drive(L'C')->readOnly) failFile("the system drive C: cannot be read-only");
  if (!c.os.is64Bit && !c.process32Bit)
    failFile(
        "a 64-bit installer cannot run on 32-bit Windows (bitness = 64 with architecture = x86)");
  for (const DriveConfig& d : c.drives)
    if (d.freeBytes && d.totalBytes && *d.freeBytes > *d.totalBytes)
      failFile(std::string("drive ") + static_cast<char>(d.letter) +
               ": has more free bytes than total bytes");
  if (c.join == JoinStatus::Domain && c.domain.empty())
    failFile("join = domain needs a domain name");
  for (const NetworkComputer& n : c.network)
    if (EqualsNoCase(n.name, c.computerName))
      failFile("computer " + ToUtf8(n.name) + " is this computer itself");
}

}  // namespace

MachineConfig MachineConfig::Parse(const std::string& text, const std::string& fileName) {
  MachineConfig c;
  ConfigParser parser(c, fileName);
  std::size_t pos = 0;
  int lineNo = 0;
  while (pos <= text.size()) {
    std::size_t nl = text.find('\n', pos);
    std::string raw = text.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
    pos = nl == std::string::npos ? text.size() + 1 : nl + 1;
    parser.Line(std::move(raw), ++lineNo);
  }
  parser.Finish();
  return c;
}

std::string MachineConfig::ToIni() const {
  std::ostringstream o;
  auto yn = [](bool b) { return b ? "yes" : "no"; };
  o << "; The emulated Windows machine of this folder. Read by every program of the machine\n"
       "; layer; edit it while no program runs. Lines are \"key = value\"; \";\" starts a "
       "comment.\n\n";
  o << "[machine]\n"
    << "computer = " << ToUtf8(computerName) << "\n"
    << "user = " << ToUtf8(userName) << "\n"
    << "; join = unjoined | workgroup | domain\n"
    << "join = "
    << (join == JoinStatus::Unjoined  ? "unjoined"
        : join == JoinStatus::Domain  ? "domain"
        : join == JoinStatus::Unknown ? "unknown"
                                      : "workgroup")
    << "\n"
    << "workgroup = " << ToUtf8(workgroup) << "\n"
    << "domain = " << ToUtf8(domain) << "\n"
    << "server = " << yn(server) << "\n\n";
  o << "[os]\n"
    << "name = " << ToUtf8(os.productName) << "\n"
    << "major = " << os.major << "\nminor = " << os.minor << "\nbuild = " << os.build << "\n"
    << "platform = " << os.platformId << "\n"
    << "; product_type = workstation | server | domain_controller\n"
    << "product_type = "
    << (os.productType == 1   ? "workstation"
        : os.productType == 2 ? "domain_controller"
        : os.productType == 3 ? "server"
                              : std::to_string(os.productType))
    << "\n"
    << "architecture = " << (os.is64Bit ? "x64" : "x86") << "\n"
    << "service_pack = " << ToUtf8(os.servicePack) << "\n"
    << "display_version = " << ToUtf8(os.displayVersion) << "\n\n";
  o << "[installer]\n; 32: Setup runs as a 32-bit process (WOW64 on 64-bit Windows)\n"
    << "bitness = " << (process32Bit ? 32 : 64) << "\n\n";
  o << "[locale]\n"
    << "time_zone = " << ToUtf8(timeZone.name) << "\n"
    << "; UTC = local time + bias (minutes); dst = eu | us | none\n"
    << "bias = " << timeZone.biasMinutes << "\n"
    << "daylight_bias = " << timeZone.daylightBiasMinutes << "\n"
    << "dst = " << ToUtf8(timeZone.dstRule) << "\n"
    << "system_language = " << Hex4(systemLcid) << "\n"
    << "user_language = " << Hex4(userLcid) << "\n"
    << "ui_language = " << Hex4(uiLanguage) << "\n"
    << "ansi_code_page = " << ansiCodePage << "\n"
    << "oem_code_page = " << oemCodePage << "\n\n";
  o << "[screen]\nwidth = " << screenWidth << "\nheight = " << screenHeight << "\n\n";
  for (const DriveConfig& d : drives) {
    o << "[drive " << static_cast<char>(d.letter) << "]\n"
      << "; type = fixed | remote | cdrom | removable | ramdisk; path: empty = <root>/drive_"
      << static_cast<char>(std::tolower(static_cast<int>(d.letter))) << "\n"
      << "type = " << DriveTypeName(d.type) << "\n"
      << "path = " << d.hostPath << "\n"
      << "file_system = " << ToUtf8(d.fileSystem) << "\n"
      << "flags = " << FlagsToText(d.flags) << "\n"
      << "read_only = " << yn(d.readOnly) << "\n"
      << "label = " << ToUtf8(d.label) << "\n"
      << "serial = "
      << "0x" << std::hex << std::uppercase << d.serial << std::dec << "\n"
      << "; free_bytes / total_bytes: empty = the host's figures\n"
      << "free_bytes = " << (d.freeBytes ? std::to_string(*d.freeBytes) : "") << "\n"
      << "total_bytes = " << (d.totalBytes ? std::to_string(*d.totalBytes) : "") << "\n\n";
  }
  o << "[user]\n; local groups of the user, comma separated\nmemberships = ";
  for (std::size_t i = 0; i < memberships.size(); ++i)
    o << (i ? ", " : "") << ToUtf8(memberships[i]);
  o << "\nelevated = " << yn(elevated) << "\n"
    << "; integrity = low | medium | high | system\n"
    << "integrity = " << ToUtf8(integrity) << "\n\n";
  o << "[uac]\nenabled = " << yn(uacEnabled) << "\n";
  for (const NetworkComputer& n : network) {
    o << "\n[computer " << ToUtf8(n.name) << "]\n"
      << "workgroup = " << ToUtf8(n.workgroup) << "\n"
      << "server = " << yn(n.server) << "\n"
      << "; root: host path of that computer's own machine root (empty: none)\n"
      << "root = " << (n.machineRoot ? *n.machineRoot : "") << "\n";
  }
  // Settings of later services, kept as they were.
  std::string lastSection;
  for (const auto& [k, v] : raw) {
    std::string sec = k.substr(0, k.find('/'));
    std::string kind = sec.substr(0, sec.find(' '));
    if (kind == "machine" || kind == "os" || kind == "installer" || kind == "locale" ||
        kind == "screen" || kind == "drive" || kind == "user" || kind == "uac" ||
        kind == "computer")
      continue;
    if (sec != lastSection) {
      o << "\n[" << sec << "]\n";
      lastSection = sec;
    }
    o << k.substr(k.find('/') + 1) << " = " << ToUtf8(v) << "\n";
  }
  return o.str();
}

std::vector<std::wstring> FreshMachineFolders(const MachineConfig& c) {
  std::vector<std::wstring> f = {L"C:\\Windows",
                                 L"C:\\Windows\\System32",
                                 L"C:\\Windows\\Temp",
                                 L"C:\\Windows\\Fonts",
                                 L"C:\\Windows\\Installer",
                                 L"C:\\Windows\\System32\\drivers\\etc",
                                 L"C:\\Program Files",
                                 L"C:\\Program Files\\Common Files"};
  if (c.os.is64Bit) {
    f.push_back(L"C:\\Windows\\SysWOW64");
    f.push_back(L"C:\\Program Files (x86)");
    f.push_back(L"C:\\Program Files (x86)\\Common Files");
  }
  if (c.os.major >= 6) {
    const std::wstring u = L"C:\\Users\\" + c.userName;
    for (const std::wstring& p :
         {std::wstring(L"C:\\ProgramData"), std::wstring(L"C:\\Users"),
          std::wstring(L"C:\\Users\\Public"), std::wstring(L"C:\\Users\\Default"), u,
          u + L"\\AppData", u + L"\\AppData\\Local", u + L"\\AppData\\Local\\Temp",
          u + L"\\AppData\\Roaming", u + L"\\Desktop", u + L"\\Documents"})
      f.push_back(p);
  } else {
    const std::wstring u = L"C:\\Documents and Settings\\" + c.userName;
    for (const std::wstring& p :
         {std::wstring(L"C:\\Documents and Settings"),
          std::wstring(L"C:\\Documents and Settings\\All Users"),
          std::wstring(L"C:\\Documents and Settings\\All Users\\Application Data"),
          std::wstring(L"C:\\Documents and Settings\\Default User"), u, u + L"\\Application Data",
          u + L"\\Local Settings", u + L"\\Local Settings\\Temp",
          u + L"\\Local Settings\\Application Data", u + L"\\Desktop", u + L"\\My Documents"})
      f.push_back(p);
  }
  return f;
}

// ---------------------------------------------------------------------------------------------

namespace {
std::uint64_t NextRevision() {
  static std::atomic<std::uint64_t> last{0};
  return ++last;
}
}  // namespace

Machine::Machine(std::string root, MachineConfig config)
    : root_(std::move(root)), config_(std::move(config)), revision_(NextRevision()) {}

std::string Machine::StateDir() const {
  std::string d = root_ + "/state";
  hostio::MakeDirs(d);
  return d;
}

std::string Machine::DriveHostPath(wchar_t letter) const {
  const DriveConfig* d = config_.Drive(letter);
  if (!d) return std::string();
  if (!d->hostPath.empty()) return d->hostPath;
  return root_ + "/drive_" + static_cast<char>(std::tolower(static_cast<int>(d->letter)));
}

void Machine::Reload() {
  config_ = MachineConfig::Parse(ReadIni(IniPath()), IniPath());
  revision_ = NextRevision();
}

namespace {

// The machine's services, in start-up order. `fresh` adds the service's contents to a newly made
// machine (after the folder skeleton exists); `attach` connects the service to the file layer
// whenever a machine becomes this process's current one. A new service is one more line here.
struct MachineService {
  const char* name;
  void (*fresh)(const Machine&);
  void (*attach)();
};
constexpr MachineService kMachineServices[] = {
    {"registry", &CreateFreshRegistry, nullptr},
    {"profiles", &CreateProfiles, nullptr},
    {"restart", nullptr, &InstallRestartService},
    {"security", &ApplyDefaultSecurity, &InstallSecurityService},
    {"shares", nullptr, &InstallShareService},
    {"programs", &InstallSystemPrograms, nullptr},
};

void AttachServices() {
  for (const MachineService& s : kMachineServices)
    if (s.attach) s.attach();
}

}  // namespace

void Machine::AddInitHook(const std::string& name, InitHook hook) {
  std::lock_guard<std::mutex> lock(HooksMutex());
  for (auto& h : Hooks())
    if (h.first == name) {
      h.second = std::move(hook);
      return;
    }
  Hooks().emplace_back(name, std::move(hook));
}

namespace {

std::string DriveFolder(const std::string& root, const DriveConfig& d) {
  if (!d.hostPath.empty()) return d.hostPath;
  return root + "/drive_" + static_cast<char>(std::tolower(static_cast<int>(d.letter)));
}

void CreateSkeleton(const std::string& root, const MachineConfig& config) {
  for (const DriveConfig& d : config.drives)
    if (d.hostPath.empty() && !hostio::MakeDirs(DriveFolder(root, d)))
      throw MachineError(DriveFolder(root, d) + ": cannot create the drive folder (" +
                         std::strerror(errno) + ")");
  const std::string c = DriveFolder(root, *config.Drive(L'C'));
  for (const std::wstring& w : FreshMachineFolders(config)) {
    std::string rel = ToUtf8(w.substr(3));
    for (char& ch : rel)
      if (ch == '\\') ch = '/';
    if (!hostio::MakeDirs(c + "/" + rel))
      throw MachineError(c + "/" + rel + ": cannot create (" + std::strerror(errno) + ")");
  }
  hostio::MakeDirs(root + "/state");
}

}  // namespace

std::unique_ptr<Machine> Machine::Init(const std::string& rootIn, const MachineConfig& config) {
  const std::string root = AbsoluteHostPath(rootIn);
  if (root.empty() || root == "/")
    throw MachineError("\"" + rootIn + "\" cannot be a machine root");
  if (!hostio::MakeDirs(root))
    throw MachineError(root + ": cannot create the machine folder (" + std::strerror(errno) + ")");
  RootLock lock(root);
  if (!lock.Ok())
    throw MachineError(root + ": cannot open the machine folder (" + std::strerror(errno) + ")");
  if (hostio::Exists(root + "/machine.ini"))
    throw MachineError(root + " already holds a machine (machine.ini exists)");
  if (!config.Drive(L'C')) throw MachineError("a machine needs a drive C:");
  // Validate by a round trip, so that what is written can always be read back.
  const std::string text = config.ToIni();
  MachineConfig parsed = MachineConfig::Parse(text, root + "/machine.ini");
  CreateSkeleton(root, parsed);
  if (!hostio::WriteFileAtomic(root + "/machine.ini", text))
    throw MachineError(root + "/machine.ini: cannot be written (" + std::strerror(errno) + ")");
  auto m = std::make_unique<Machine>(root, parsed);
  for (const MachineService& s : kMachineServices)
    if (s.fresh) s.fresh(*m);
  std::vector<std::pair<std::string, InitHook>> hooks;
  {
    std::lock_guard<std::mutex> hl(HooksMutex());
    hooks = Hooks();
  }
  for (auto& h : hooks) h.second(*m);
  return m;
}

std::unique_ptr<Machine> Machine::Open(const std::string& rootIn, bool create) {
  const std::string root = AbsoluteHostPath(rootIn);
  if (root.empty()) throw MachineError("no machine folder given");
  const std::string ini = root + "/machine.ini";
  if (!hostio::Exists(ini)) {
    if (!create) throw MachineError(root + " is not a machine (there is no machine.ini)");
    if (hostio::Exists(root) && !hostio::IsDirectory(root))
      throw MachineError(root + " is not a folder");
    if (!hostio::IsEmptyDirectory(root)) {
      // Never spread a machine over a folder that holds other things; only the lock race with
      // another process creating the same machine is tolerated.
      RootLock lock(root);
      if (!hostio::Exists(ini))
        throw MachineError(
            root + " is not empty and holds no machine.ini; refusing to make a machine there");
    } else {
      try {
        return Init(root, MachineConfig::Defaults());
      } catch (const MachineError&) {
        if (!hostio::Exists(ini)) throw;  // another process won the race: open its machine
      }
    }
  }
  MachineConfig config = MachineConfig::Parse(ReadIni(ini), ini);
  // Drive folders the configuration names inside the root are made if missing.
  for (const DriveConfig& d : config.drives)
    if (d.hostPath.empty()) hostio::MakeDirs(DriveFolder(root, d));
  return std::make_unique<Machine>(root, std::move(config));
}

std::string Machine::SelectedRootPath() {
  const char* env = std::getenv("TOLMERA_MACHINE");
  if (env && *env) return AbsoluteHostPath(env);
  return HomeFolder() + "/.local/share/tolmera/machine";
}

Machine& Machine::Current() {
  {
    std::lock_guard<std::mutex> lock(CurrentMutex());
    if (CurrentSlot()) return *CurrentSlot();
  }
  // Opened without the lock: creating a machine runs the init hooks, which may use the machine
  // layer (and so Current()) themselves.
  auto m = Open(SelectedRootPath(), true);
  AttachServices();
  std::lock_guard<std::mutex> lock(CurrentMutex());
  if (!CurrentSlot()) CurrentSlot() = std::move(m);
  return *CurrentSlot();
}

Machine& Machine::SetCurrentForProcess(const std::string& root) {
  auto m = Open(root, true);
  AttachServices();
  std::lock_guard<std::mutex> lock(CurrentMutex());
  CurrentSlot() = std::move(m);
  return *CurrentSlot();
}

void Machine::ResetCurrent() {
  std::lock_guard<std::mutex> lock(CurrentMutex());
  CurrentSlot().reset();
}

}  // namespace platform
