// msiexec of the emulated machine: installs, changes, repairs and removes a Windows Installer
// package on the current machine. It carries out the execute sequence in order, with its
// conditions: the standard actions of files, folders, registry values, shortcuts, INI entries,
// environment variables, moved and duplicated files and removed files and values, for the
// components of the features chosen (levels, INSTALLLEVEL, the Condition table, ADDLOCAL,
// REMOVE, REINSTALL on the command line), in the 32- or 64-bit places of each component; and the
// custom actions a machine can honour (set a property or a directory, run an installed program
// or a program of the machine, end with an error). Anything else a package asks for is named in
// the log and fails the run before the machine is changed; a run that fails on the way takes
// back what it wrote. The product is registered as Windows registers it (the list of programs,
// the Installer's product, feature and component keys, the cached package, SharedDLLs counts),
// and a component that another product also holds stays until the last one goes.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace Msi {

inline constexpr int kSuccess = 0;
inline constexpr int kUserExit = 1602;               // ERROR_INSTALL_USEREXIT
inline constexpr int kInstallFailure = 1603;         // ERROR_INSTALL_FAILURE
inline constexpr int kUnknownProduct = 1605;         // ERROR_UNKNOWN_PRODUCT
inline constexpr int kInstallAlreadyRunning = 1618;  // ERROR_INSTALL_ALREADY_RUNNING
inline constexpr int kPackageOpenFailed = 1619;      // ERROR_INSTALL_PACKAGE_OPEN_FAILED
inline constexpr int kPlatformUnsupported = 1633;    // ERROR_INSTALL_PLATFORM_UNSUPPORTED
inline constexpr int kRebootRequired = 3010;         // ERROR_SUCCESS_REBOOT_REQUIRED
inline constexpr int kInvalidCommandLine = 1639;     // ERROR_INVALID_COMMAND_LINE

struct Options {
  enum class Action { None, Install, Remove };
  Action action = Action::None;
  std::wstring target;  // a package path or a product code in braces
  bool quiet = false;   // /qn (the only user interface there is)
  std::wstring logFile;
  std::wstring logFlags;                            // what follows "/l": "*v", "v", "+", ...
  std::map<std::wstring, std::wstring> properties;  // NAME=value of the command line
};

// The arguments after the program name, as CommandLineToArgvW splits them: "/i" ("/package")
// and "/x" ("/uninstall") with the target attached or following, "/f[modes]" (a repair: every
// feature reinstalled in those modes, "pecms" when none), "/q" forms, "/quiet", "/passive",
// "/norestart", "/l" forms with the log file, NAME=value. kInvalidCommandLine with the reason in
// `error` for anything else.
int ParseCommandLine(const std::vector<std::wstring>& args, Options& options, std::wstring& error);

// Carries out the options on the current machine; the exit status of msiexec.
int Run(const Options& options);

// Asks the run in progress to stop before its next action (safe from a signal handler): it
// takes back what it wrote and ends with kUserExit.
void RequestCancel();
bool CancelRequested();

// The Installer's packed form of a GUID ("{12345678-ABCD-...}" -> "87654321DCBA..."); empty
// for a text that is no GUID in braces.
std::wstring PackedGuid(const std::wstring& guid);
// The other way: "{...}" from 32 packed hexadecimal digits; empty for anything else.
std::wstring UnpackedGuid(const std::wstring& packed);

// Formatted text of the Registry table: [NAME] is the property (empty when unset), [\x] the
// character x, [~] a null (the separator of a multi-string), [#file] the installed file's path,
// [$component] its folder, [%NAME] an environment variable; a bracket without its partner
// stays as it is. A property's value is inserted as it stands (not formatted again).
std::wstring FormatText(const std::wstring& text,
                        const std::map<std::wstring, std::wstring>& properties,
                        const std::map<std::wstring, std::wstring>& files = {},
                        const std::map<std::wstring, std::wstring>& components = {});

}  // namespace Msi
