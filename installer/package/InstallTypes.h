// Install types and the results of a run.
//
// The same integer values serve as "InstallType" of the script, of the user settings and of
// the installed-products record. The script and the record write the script names; the log
// writes its own names.
#pragma once

#include "package/LogSink.h"

#include <string>

namespace InstallManager {

enum InstallType : int {
  kInstallNone = -1,
  kInstall = 0,
  kUpdate = 1,
  kOnlyUpdate = 2,
  kServer = 3,
  kLocal = 4,
  kClient = 5,
  kRepair = 7,
  kChange = 8,
  kUninstall = 9,
};

// The value of a script or record name, without regard to case; -1 for an unknown name.
// Besides the names of the table the script format's "Full" (an installation) and
// "OnlyUpdate" are accepted.
int InstallTypeFromName(const std::wstring& name);
// "Install", "Update", "Server", ... ; "" for a value without a script name (2 and unknown).
std::wstring InstallTypeScriptName(int type);
// "Full", "Update", "OnlyUpdate", ... ; "Unknown" for anything else (8 included).
std::wstring InstallTypeLogName(int type);

// The results of a run (eInstallResult, kept beside the raising of a result in the package's
// LogSink.h). Raised as InstallResultError inside a run and caught once by Run.
using CommonTools::eInstallResult;
using enum CommonTools::eInstallResult;

struct InstallResultError {
  int result;
};

[[noreturn]] inline void RaiseResult(int result) { throw InstallResultError{result}; }

// The message ID of a result ("" for 0 and 1) and its default text.
std::wstring ResultMessageId(int result);
std::wstring ResultDefaultText(int result);

}  // namespace InstallManager
