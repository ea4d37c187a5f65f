// msiexec of the emulated machine: installs, repairs and removes a Windows Installer package on
// the current machine. What it carries out of a package: the Property table (with the public
// properties of the command line over it), the Directory, Component and File tables (every
// component is installed), the Registry table with its formatted keys and values, and the custom
// actions that only set a property. The product is registered as Windows registers it: its
// entry in the list of programs, the Installer's product key and its install properties with the
// cached package; a removal takes back exactly what the installation wrote.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace Msi {

inline constexpr int kSuccess = 0;
inline constexpr int kInstallFailure = 1603;      // ERROR_INSTALL_FAILURE
inline constexpr int kUnknownProduct = 1605;      // ERROR_UNKNOWN_PRODUCT
inline constexpr int kPackageOpenFailed = 1619;   // ERROR_INSTALL_PACKAGE_OPEN_FAILED
inline constexpr int kInvalidCommandLine = 1639;  // ERROR_INVALID_COMMAND_LINE

struct Options {
  enum class Action { None, Install, Remove };
  Action action = Action::None;
  std::wstring target;  // a package path or a product code in braces
  bool quiet = false;   // /qn (the only user interface there is)
  std::wstring logFile;
  std::map<std::wstring, std::wstring> properties;  // NAME=value of the command line
};

// The arguments after the program name, as CommandLineToArgvW splits them: "/i" and "/x" with
// the target attached or following, "/q" forms, "/l" forms with the log file, NAME=value.
// kInvalidCommandLine with the reason in `error` for anything else.
int ParseCommandLine(const std::vector<std::wstring>& args, Options& options, std::wstring& error);

// Carries out the options on the current machine; the exit status of msiexec.
int Run(const Options& options);

// The Installer's packed form of a GUID ("{12345678-ABCD-...}" -> "87654321DCBA..."); empty
// for a text that is no GUID in braces.
std::wstring PackedGuid(const std::wstring& guid);

// Formatted text of the Registry table: [NAME] is the property (empty when unset), [\x] the
// character x, [~] a null (the separator of a multi-string), [#file] the installed file's path,
// [$component] its folder, [%NAME] an environment variable; a bracket without its partner
// stays as it is. A property's value is inserted as it stands (not formatted again).
std::wstring FormatText(const std::wstring& text,
                        const std::map<std::wstring, std::wstring>& properties,
                        const std::map<std::wstring, std::wstring>& files = {},
                        const std::map<std::wstring, std::wstring>& components = {});

}  // namespace Msi
