// The machine root: an emulated Windows machine that lives in a folder, and its configuration
// (machine.ini). Every other service of the machine layer works inside the current machine.
//
// Selection: the environment variable TOLMERA_MACHINE names the root folder; without it the root
// is ~/.local/share/tolmera/machine. The root is created with a default machine.ini and the
// folder skeleton of a fresh Windows 10 machine on first use. A malformed machine.ini is reported
// (MachineError naming the line) and never overwritten.
#pragma once

#include "platform/Win32Errors.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// A failure to open or create a machine (unreadable root, malformed machine.ini ...).
// what() is a complete sentence for the user, e.g.
// "/home/me/m/machine.ini, line 12: unknown drive type "flopy"".
class MachineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Drive types of GetDriveTypeW.
inline constexpr unsigned DRIVE_UNKNOWN = 0;
inline constexpr unsigned DRIVE_NO_ROOT_DIR = 1;
inline constexpr unsigned DRIVE_REMOVABLE = 2;
inline constexpr unsigned DRIVE_FIXED = 3;
inline constexpr unsigned DRIVE_REMOTE = 4;
inline constexpr unsigned DRIVE_CDROM = 5;
inline constexpr unsigned DRIVE_RAMDISK = 6;

// File-system flags of GetVolumeInformationW.
inline constexpr DWORD FILE_CASE_SENSITIVE_SEARCH = 0x00000001;
inline constexpr DWORD FILE_CASE_PRESERVED_NAMES = 0x00000002;
inline constexpr DWORD FILE_UNICODE_ON_DISK = 0x00000004;
inline constexpr DWORD FILE_PERSISTENT_ACLS = 0x00000008;
inline constexpr DWORD FILE_FILE_COMPRESSION = 0x00000010;
inline constexpr DWORD FILE_VOLUME_QUOTAS = 0x00000020;
inline constexpr DWORD FILE_SUPPORTS_REPARSE_POINTS = 0x00000080;
inline constexpr DWORD FILE_NAMED_STREAMS = 0x00040000;
inline constexpr DWORD FILE_READ_ONLY_VOLUME = 0x00080000;

// One drive letter of the machine ([drive C] section).
struct DriveConfig {
  wchar_t letter = L'C';        // upper case 'A'..'Z'
  unsigned type = DRIVE_FIXED;  // DRIVE_* (type = fixed | remote | cdrom | removable | ramdisk)
  std::string hostPath;         // absolute host folder; empty = <root>/drive_<letter>
  std::wstring fileSystem = L"NTFS";  // file_system = NTFS | FAT32 | ...
  DWORD flags = 0;                    // FILE_* flags; "flags = persistent_acls, ..." or a number
  bool readOnly = false;  // read_only = yes: every change fails with ERROR_WRITE_PROTECT
  std::wstring label;     // volume label
  DWORD serial = 0;       // volume serial number
  std::optional<std::uint64_t> freeBytes;   // fixed free space; default: the host's
  std::optional<std::uint64_t> totalBytes;  // fixed size; default: the host's
  bool PersistentAcls() const { return (flags & FILE_PERSISTENT_ACLS) != 0; }
};

// Another computer of the network ([computer NAME] section).
struct NetworkComputer {
  std::wstring name;                       // NetBIOS name, upper case
  std::wstring workgroup;                  // its workgroup or domain
  bool server = false;                     // a server (NetServerEnum SV_TYPE_SERVER_NT)
  std::optional<std::string> machineRoot;  // host path of that computer's own machine root
};

// How the computer is joined (NetGetJoinInformation).
enum class JoinStatus { Unknown, Unjoined, Workgroup, Domain };

// Version of the emulated Windows (GetVersionExW / RtlGetVersion).
struct OsVersion {
  DWORD major = 10;
  DWORD minor = 0;
  DWORD build = 19045;
  DWORD platformId = 2;      // VER_PLATFORM_WIN32_NT
  unsigned productType = 1;  // VER_NT_WORKSTATION 1, VER_NT_DOMAIN_CONTROLLER 2, VER_NT_SERVER 3
  bool is64Bit = true;       // architecture = x64 | x86
  std::wstring productName = L"Windows 10 Pro";
  std::wstring servicePack;  // CSD version, e.g. L"Service Pack 3"; empty for none
  std::wstring displayVersion = L"22H2";
};

// Time zone of the machine: UTC = local time + biasMinutes (Windows' sign convention).
struct TimeZoneConfig {
  std::wstring name = L"W. Europe Standard Time";
  int biasMinutes = -60;
  int daylightBiasMinutes = -60;  // added to the bias while daylight saving time is in force
  std::wstring dstRule = L"eu";   // eu | us | none
};

// Everything machine.ini says. Defaults are those of a fresh machine.
struct MachineConfig {
  // [machine]
  std::wstring computerName = L"TOLMERA-PC";
  std::wstring userName = L"User";
  std::wstring workgroup = L"WORKGROUP";  // used when join = workgroup
  std::wstring domain;                    // used when join = domain
  JoinStatus join = JoinStatus::Workgroup;
  bool server = false;  // this computer is a server (file shares offered)

  // [os]
  OsVersion os;

  // [installer]
  bool process32Bit = true;  // the installer runs as a 32-bit process (WOW64 on 64-bit Windows)

  // [locale]
  TimeZoneConfig timeZone;
  std::uint16_t systemLcid = 0x0409;  // GetSystemDefaultLCID
  std::uint16_t userLcid = 0x0409;    // GetUserDefaultLCID
  std::uint16_t uiLanguage = 0x0409;  // GetUserDefaultUILanguage
  unsigned ansiCodePage = 1252;       // GetACP / CP_ACP / CP_THREAD_ACP
  unsigned oemCodePage = 437;         // GetOEMCP

  // [screen]
  int screenWidth = 1920;
  int screenHeight = 1080;

  // [drive X] sections, in letter order. Default: C: NTFS (persistent ACLs) in <root>/drive_c,
  // Z: the host's "/", read-only.
  std::vector<DriveConfig> drives;

  // [user]
  std::vector<std::wstring> memberships = {L"Administrators", L"Users"};  // local groups
  bool elevated = true;              // the installer's token is elevated (full administrator token)
  std::wstring integrity = L"high";  // low | medium | high | system

  // [uac]
  bool uacEnabled = true;

  // [computer NAME] sections.
  std::vector<NetworkComputer> network;

  // Every key=value of the file, also unknown ones, by lower-case "section/key" (for example
  // "user/sid"), so that later services can keep their own settings in machine.ini.
  std::map<std::string, std::wstring> raw;

  // The drive with this letter (case-insensitive), or nullptr.
  const DriveConfig* Drive(wchar_t letter) const;
  // Is the OS 64-bit and the installer process 32-bit (IsWow64Process)?
  bool IsWow64() const { return os.is64Bit && process32Bit; }
  // The configuration a fresh machine gets (defaults plus the default drives C: and Z:).
  static MachineConfig Defaults();
  // Reads machine.ini text. Throws MachineError naming `fileName` and the line on any
  // malformed line or value.
  static MachineConfig Parse(const std::string& text, const std::string& fileName = "machine.ini");
  // Writes the configuration as documented, commented machine.ini text (Parse reads it back).
  std::string ToIni() const;
};

class Machine {
 public:
  // The machine of this process: the one set by SetCurrentForProcess, else TOLMERA_MACHINE,
  // else the default root; opened (and created if missing) on first use. Throws MachineError.
  static Machine& Current();
  // Points Current() at `root` (created if missing) for the rest of the process, or until
  // ResetCurrent(). Used by tests and by tools that take a machine on their command line.
  static Machine& SetCurrentForProcess(const std::string& root);
  // Forgets the current machine; the next Current() selects again.
  static void ResetCurrent();
  // The root Current() would select now (TOLMERA_MACHINE or ~/.local/share/tolmera/machine).
  static std::string SelectedRootPath();

  // Opens the machine at `root`. With `create`, a missing root (or an existing empty folder)
  // becomes a fresh machine with the default configuration. Throws MachineError.
  static std::unique_ptr<Machine> Open(const std::string& root, bool create = true);
  // Creates a fresh machine at `root` with `config`: writes machine.ini and the folder skeleton,
  // then starts the machine's services on it (registry hives, profiles: the list in
  // Machine.cpp), then runs any extra init hooks. Fails (MachineError) if `root` holds a
  // machine.ini.
  static std::unique_ptr<Machine> Init(const std::string& root,
                                       const MachineConfig& config = MachineConfig::Defaults());

  // Extra steps for a fresh machine (tools and tests; the machine's own services are in its
  // start-up list): Init runs them in registration order after the services. Registering a name
  // again replaces its hook.
  using InitHook = std::function<void(Machine&)>;
  static void AddInitHook(const std::string& name, InitHook hook);

  const std::string& Root() const { return root_; }  // absolute host path, no final '/'
  const MachineConfig& Config() const { return config_; }
  std::string IniPath() const { return root_ + "/machine.ini"; }
  // Folder for the machine's own bookkeeping (handle table, locks): <root>/state, created.
  std::string StateDir() const;
  // Host folder of a drive's root ("" when the machine has no such drive).
  std::string DriveHostPath(wchar_t letter) const;
  // Re-reads machine.ini (after a tool changed it). Throws MachineError; keeps the old
  // configuration on failure.
  void Reload();
  // A number that is this machine's configuration's alone in the process: another Machine, or a
  // reload, gets a new one. What is made of the configuration (the user's token and SID) is kept
  // with it and made again only when it changed.
  std::uint64_t Revision() const { return revision_; }

  Machine(std::string root, MachineConfig config);

 private:
  std::string root_;
  MachineConfig config_;
  std::uint64_t revision_ = 0;
};

// Short-hands for the current machine.
inline const MachineConfig& CurrentConfig() { return Machine::Current().Config(); }

// Folder skeleton of a fresh machine (Windows paths, created by Init on drive C:).
std::vector<std::wstring> FreshMachineFolders(const MachineConfig& config);

}  // namespace platform
