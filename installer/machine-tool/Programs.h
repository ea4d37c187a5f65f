// The machine's list of programs, as the Control Panel shows it: the entries below the Uninstall
// keys of HKEY_LOCAL_MACHINE (both registry views) and of the user, each with a display name.
#pragma once

#include <string>
#include <vector>

namespace tlmachine {

struct ProgramEntry {
  std::wstring key;   // the entry's key name below "...\CurrentVersion\Uninstall"
  std::wstring root;  // "HKLM" (64-bit view), "HKLM (32-bit)" or "HKCU"
  std::wstring name, version, publisher, location, uninstallString;
};

// Entries with a "DisplayName" that are not system components ("SystemComponent" 1), by name.
std::vector<ProgramEntry> ListPrograms();
// The entry whose key name or display name is `keyOrName` (without regard to case); false when
// there is none.
bool FindProgramEntry(const std::wstring& keyOrName, ProgramEntry& entry);

}  // namespace tlmachine
