// What the parts of the engine share: the Installer's keys, the record's names and the small
// readings of table cells (numbers, long names, names that must stay one path element).
#pragma once

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/Text.h"

namespace Msi {

inline constexpr const wchar_t* kUninstallKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr const wchar_t* kProductsKey = L"SOFTWARE\\Classes\\Installer\\Products\\";
inline constexpr const wchar_t* kUpgradeCodesKey = L"SOFTWARE\\Classes\\Installer\\UpgradeCodes\\";
inline constexpr const wchar_t* kFeaturesKey = L"SOFTWARE\\Classes\\Installer\\Features\\";
// The machine's installations: "Products\<packed code>\InstallProperties" and
// "Components\<packed component id>" with one value per product that holds the component.
inline constexpr const wchar_t* kUserDataKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\";
// What the product holds, kept with its install properties; an older record kept only the
// files and the values of the whole product.
inline constexpr const wchar_t* kItemsValue = L"TolmeraItems";
// The folders the installation was told ("INSTALLDIR=..."), as "ID=path": a change or a repair
// works in them again.
inline constexpr const wchar_t* kDirectoriesValue = L"TolmeraDirectories";
inline constexpr const wchar_t* kOldFilesValue = L"TolmeraFiles";
inline constexpr const wchar_t* kOldValuesValue = L"TolmeraRegistry";
inline constexpr const wchar_t* kSharedDllsKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
inline constexpr const wchar_t* kSystemEnvironmentKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
inline constexpr const wchar_t* kUserEnvironmentKey = L"Environment";

inline bool IsGuid(const std::wstring& s) {
  if (s.size() != 38 || s.front() != L'{' || s.back() != L'}') return false;
  for (std::size_t i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (s[i] != L'-') return false;
    } else if (!std::iswxdigit(s[i])) {
      return false;
    }
  }
  return true;
}

inline std::wstring WithSlash(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path;
}

inline int Number(const std::wstring& text, int fallback = 0) {
  if (text.empty()) return fallback;
  try {
    return std::stoi(text);
  } catch (...) {
    return fallback;
  }
}

// The long name of a DefaultDir or FileName cell ("short|long", "target:source").
inline std::wstring LongName(std::wstring cell) {
  std::size_t colon = cell.find(L':');
  if (colon != std::wstring::npos) cell = cell.substr(0, colon);
  std::size_t bar = cell.find(L'|');
  if (bar != std::wstring::npos) cell = cell.substr(bar + 1);
  return cell;
}

inline bool SafeElement(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(L"\\/:*?\"<>|") == std::wstring::npos;
}

// A wildcard of the RemoveFile and MoveFile tables: one element, '*' and '?' allowed.
inline bool SafePattern(const std::wstring& name) {
  return !name.empty() && name != L"." && name != L".." &&
         name.find_first_of(L"\\/:\"<>|") == std::wstring::npos;
}

inline std::wstring WithoutSlash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

// A registry key as the layer takes it: no "\" at either end, none doubled.
inline std::wstring CleanKey(const std::wstring& key) {
  std::wstring out;
  for (wchar_t c : key) {
    if (c == L'\\' && (out.empty() || out.back() == L'\\')) continue;
    out += c;
  }
  while (!out.empty() && out.back() == L'\\') out.pop_back();
  return out;
}

inline platform::REGSAM View(const std::wstring& view) {
  if (view == L"64") return platform::KEY_WOW64_64KEY;
  if (view == L"32") return platform::KEY_WOW64_32KEY;
  return 0;
}

// Keys a package may not take away whole: a root's first two levels and the system's own.
inline bool KeyTooHighToDelete(const std::wstring& key) {
  const auto depth = std::count(key.begin(), key.end(), L'\\');
  if (depth < 1) return true;
  const std::wstring upper = platform::ToUpper(key);
  for (const wchar_t* top :
       {L"SOFTWARE\\MICROSOFT", L"SOFTWARE\\CLASSES", L"SOFTWARE\\POLICIES",
        L"SOFTWARE\\WOW6432NODE", L"SYSTEM\\", L"SOFTWARE\\MICROSOFT\\WINDOWS"})
    if (upper == top || (upper.rfind(top, 0) == 0 && depth < 3)) return true;
  return false;
}

inline std::vector<std::wstring> SplitOn(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(separator, start);
    if (end == std::wstring::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

inline std::wstring JoinOn(const std::vector<std::wstring>& parts, wchar_t separator) {
  std::wstring out;
  for (const auto& p : parts) {
    if (p.empty()) continue;
    if (!out.empty()) out += separator;
    out += p;
  }
  return out;
}

inline std::vector<std::wstring> SplitList(const std::wstring& text) {
  std::vector<std::wstring> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(L',', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring part = text.substr(start, end - start);
    while (!part.empty() && part.front() == L' ') part.erase(part.begin());
    while (!part.empty() && part.back() == L' ') part.pop_back();
    if (!part.empty()) out.push_back(part);
    start = end + 1;
  }
  return out;
}

}  // namespace Msi
