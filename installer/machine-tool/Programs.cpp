#include "Programs.h"

#include <algorithm>

#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Text.h"

namespace tlmachine {

using namespace platform;

namespace {

constexpr const wchar_t* kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

void Collect(HKEY root, REGSAM view, const wchar_t* rootName, std::vector<ProgramEntry>& out) {
  RegKey list;
  if (list.Open(root, kUninstall, KEY_READ | view) != ERROR_SUCCESS) return;
  for (const auto& name : list.SubKeyNames()) {
    RegKey k;
    if (k.Open(list.Get(), name, KEY_READ | view) != ERROR_SUCCESS) continue;
    ProgramEntry e;
    e.key = name;
    e.root = rootName;
    if (k.QueryString(L"DisplayName", e.name) != ERROR_SUCCESS || e.name.empty()) continue;
    DWORD system = 0;
    if (k.QueryDword(L"SystemComponent", system) == ERROR_SUCCESS && system == 1) continue;
    k.QueryString(L"DisplayVersion", e.version);
    k.QueryString(L"Publisher", e.publisher);
    k.QueryString(L"InstallLocation", e.location);
    k.QueryString(L"UninstallString", e.uninstallString);
    out.push_back(std::move(e));
  }
}

}  // namespace

std::vector<ProgramEntry> ListPrograms() {
  std::vector<ProgramEntry> out;
  std::wstring wow64;
  const bool os64 = GetSystemWow64DirectoryW(wow64) == ERROR_SUCCESS;
  Collect(HKEY_LOCAL_MACHINE, os64 ? KEY_WOW64_64KEY : 0, L"HKLM", out);
  if (os64) Collect(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"HKLM (32-bit)", out);
  Collect(HKEY_CURRENT_USER, 0, L"HKCU", out);
  std::stable_sort(out.begin(), out.end(), [](const ProgramEntry& a, const ProgramEntry& b) {
    return CompareNoCase(a.name, b.name) < 0;
  });
  return out;
}

bool FindProgramEntry(const std::wstring& keyOrName, ProgramEntry& entry) {
  const auto all = ListPrograms();
  for (const auto& e : all)
    if (EqualsNoCase(e.key, keyOrName)) return entry = e, true;
  for (const auto& e : all)
    if (EqualsNoCase(e.name, keyOrName)) return entry = e, true;
  return false;
}

}  // namespace tlmachine
