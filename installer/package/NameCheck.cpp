#include "package/NameCheck.h"

#include "platform/Text.h"

#include <array>
#include <vector>

namespace CommonTools {

namespace {

std::vector<std::wstring> Parts(std::wstring_view name) {
  std::vector<std::wstring> parts;
  std::wstring part;
  for (wchar_t c : name) {
    if (c == L'\\' || c == L'/') {
      parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  parts.push_back(part);
  return parts;
}

// The part as Windows reads it: blanks and dots at its end do not count.
std::wstring Trimmed(const std::wstring& part) {
  std::wstring t = part;
  while (!t.empty() && (t.back() == L' ' || t.back() == L'.')) t.pop_back();
  return t;
}

bool IsDeviceName(const std::wstring& part) {
  // The device is the part before its first dot ("nul.txt" is NUL too), blanks cut.
  std::wstring base = part.substr(0, part.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  base = platform::ToUpper(base);
  static const std::array<const wchar_t*, 6> kFixed = {L"CON", L"PRN",    L"AUX",
                                                       L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* d : kFixed)
    if (base == d) return true;
  if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
      base[3] >= L'0' && base[3] <= L'9')
    return true;
  return false;
}

}  // namespace

std::wstring NameOutsideReason(std::wstring_view name, int climbs, bool absolute) {
  if (name.empty()) return L"";
  if (name.size() >= 2 && (name[0] == L'\\' || name[0] == L'/') &&
      (name[1] == L'\\' || name[1] == L'/')) {
    if (name.size() >= 3 && (name[2] == L'.' || name[2] == L'?')) return L"it names a device";
    return L"it is a network path";
  }
  const bool full = IsFullPath(name);
  if (name.size() >= 2 && name[1] == L':' && !(absolute && full)) return L"it is an absolute path";
  if (name.find(L':', full ? 2 : 0) != std::wstring_view::npos)
    return L"it names a stream or a drive";
  if (!full && (name[0] == L'\\' || name[0] == L'/')) return L"it is an absolute path";
  int depth = 0;
  bool first = true;
  for (const std::wstring& part : Parts(full ? name.substr(3) : name)) {
    if (part.empty() || part == L".") continue;
    const std::wstring read = Trimmed(part);
    if (read.empty()) {
      // "..", "...", ". ." all climb; only the allowed leading levels of "..", and only in a
      // relative name.
      if (part == L".." && first && !full && climbs > 0) {
        --climbs;
        continue;
      }
      return L"it climbs out with \"..\"";
    }
    first = false;
    if (IsDeviceName(part)) return L"it names a device";
    ++depth;
  }
  (void)depth;
  return L"";
}

std::wstring KeyOutsideReason(std::wstring_view key) {
  if (key.empty()) return L"";
  if (key[0] == L'\\') return L"it starts at a root";
  std::wstring upper = platform::ToUpper(std::wstring(key.substr(0, 5)));
  if (upper == L"HKEY_") return L"it names a root";
  const std::vector<std::wstring> parts = Parts(key);
  for (std::size_t i = 0; i < parts.size(); ++i)
    if (parts[i].empty() && i + 1 != parts.size()) return L"it has an empty part";
  return L"";
}

}  // namespace CommonTools
