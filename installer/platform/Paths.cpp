#include "platform/Paths.h"

#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Text.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

std::vector<std::wstring_view> SplitElements(std::wstring_view s) {
  std::vector<std::wstring_view> out;
  std::size_t b = 0;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == L'\\') {
      out.push_back(s.substr(b, i - b));
      b = i + 1;
    }
  }
  return out;
}

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

std::size_t PathRootLength(std::wstring_view p) {
  if (p.size() >= 2 && IsDriveLetter(p[0]) && p[1] == L':')
    return (p.size() >= 3 && IsSlash(p[2])) ? 3 : 2;
  if (p.size() >= 2 && IsSlash(p[0]) && IsSlash(p[1])) {
    // \\server\share
    std::size_t i = 2;
    while (i < p.size() && !IsSlash(p[i])) ++i;
    if (i >= p.size()) return p.size();
    ++i;
    while (i < p.size() && !IsSlash(p[i])) ++i;
    return i;
  }
  if (!p.empty() && IsSlash(p[0])) return 1;
  return 0;
}

bool PathCanonicalizeW(std::wstring& out, std::wstring_view path) {
  if (path.size() >= MAX_PATH) return false;
  if (path.empty()) {
    out = L"\\";
    return true;
  }
  std::wstring root;
  std::wstring_view rest;
  bool unc = path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
  if (unc) {
    std::size_t r = PathRootLength(path);
    root = std::wstring(path.substr(0, r));
    rest = path.substr(r);
    if (!rest.empty() && rest[0] == L'\\')
      rest.remove_prefix(1);
    else if (rest.empty() && !root.empty()) {
      out = root;
      return true;
    }
  } else if (path.size() >= 2 && path[1] == L':') {
    root = std::wstring(path.substr(0, 2));
    rest = path.substr(2);
    if (!rest.empty() && rest[0] == L'\\') {
      root += L'\\';
      rest.remove_prefix(1);
    }
  } else if (path[0] == L'\\') {
    root = L"\\";
    rest = path.substr(1);
  } else {
    rest = path;
  }
  std::vector<std::wstring_view> stack;
  bool trailing = false;
  auto elems = SplitElements(rest);
  for (std::size_t i = 0; i < elems.size(); ++i) {
    std::wstring_view e = elems[i];
    const bool last = i + 1 == elems.size();
    if (e == L".") {
      trailing = false;
      continue;
    }
    if (e == L"..") {
      if (!stack.empty()) stack.pop_back();
      trailing = false;
      continue;
    }
    if (e.empty()) {
      // "a\\b" keeps no empty element; a final empty element is the trailing backslash.
      if (last && !stack.empty()) trailing = true;
      continue;
    }
    stack.push_back(e);
    trailing = false;
  }
  std::wstring result = root;
  if (unc && !stack.empty()) result += L'\\';
  for (std::size_t i = 0; i < stack.size(); ++i) {
    if (i) result += L'\\';
    result += stack[i];
  }
  if (trailing) result += L'\\';
  if (result.size() == 2 && result[1] == L':') result += L'\\';
  if (result.empty()) result = L"\\";
  if (result.size() >= MAX_PATH) return false;
  out = result;
  return true;
}

bool PathIsRelativeW(std::wstring_view path) {
  if (path.empty()) return true;
  return !(path[0] == L'\\' || (path.size() >= 2 && path[1] == L':'));
}

bool PathIsUNCW(std::wstring_view path) {
  if (path.size() < 2 || path[0] != L'\\' || path[1] != L'\\') return false;
  if (path.size() >= 4 && path[2] == L'?' && path[3] == L'\\')
    return path.size() >= 8 && EqualsNoCase(path.substr(4, 4), L"UNC\\");
  return true;
}

bool PathIsUNCServerW(std::wstring_view path) {
  if (path.size() < 2 || path[0] != L'\\' || path[1] != L'\\') return false;
  return path.substr(2).find(L'\\') == std::wstring_view::npos;
}

bool PathIsUNCServerShareW(std::wstring_view path) {
  if (path.size() < 2 || path[0] != L'\\' || path[1] != L'\\') return false;
  std::wstring_view r = path.substr(2);
  std::size_t s = r.find(L'\\');
  return s != std::wstring_view::npos && s > 0 && r.find(L'\\', s + 1) == std::wstring_view::npos;
}

bool PathIsRootW(std::wstring_view path) {
  if (path.empty()) return false;
  if (path[0] == L'\\') {
    if (path.size() == 1) return true;
    if (path[1] == L'\\') {
      bool seenSlash = false;
      for (std::size_t i = 2; i < path.size(); ++i) {
        if (path[i] == L'\\') {
          if (seenSlash) return false;
          seenSlash = true;
        }
      }
      return true;
    }
    return false;
  }
  return path.size() == 3 && path[1] == L':' && path[2] == L'\\';
}

bool PathCombineW(std::wstring& out, std::wstring_view dir, std::wstring_view file) {
  std::wstring tmp;
  bool useBoth = false, strip = false;
  if (file.empty()) {
    tmp = std::wstring(dir);
  } else if (dir.empty() || !PathIsRelativeW(file)) {
    if (dir.empty() || file[0] != L'\\' || PathIsUNCW(file))
      tmp = std::wstring(file);
    else
      useBoth = strip = true;
  } else {
    useBoth = true;
  }
  if (useBoth) {
    tmp = std::wstring(dir);
    if (strip) {
      PathStripToRootW(tmp);
      file.remove_prefix(1);
    }
    if (!PathAddBackslashW(tmp) || tmp.size() + file.size() >= MAX_PATH) {
      out.clear();
      return false;
    }
    tmp += file;
  }
  std::wstring canon;
  if (!PathCanonicalizeW(canon, tmp)) {
    out.clear();
    return false;
  }
  out = canon;
  return true;
}

bool PathAppendW(std::wstring& path, std::wstring_view more) {
  if (!PathIsUNCW(more))
    while (!more.empty() && more[0] == L'\\') more.remove_prefix(1);
  std::wstring out;
  // Unlike the original, a failure leaves `path` as it was instead of emptying it, so that a
  // caller that ignores the result never goes on with an empty (current-folder) path.
  if (!PathCombineW(out, path, more)) return false;
  path = out;
  return true;
}

bool PathRemoveFileSpecW(std::wstring& path) {
  std::size_t i = 0;
  std::size_t cut = 0;
  const std::size_t n = path.size();
  if (i < n && path[i] == L'\\') cut = ++i;
  if (i < n && path[i] == L'\\') cut = ++i;
  while (i < n) {
    if (path[i] == L'\\') {
      cut = i;
    } else if (path[i] == L':') {
      cut = ++i;
      if (i < n && path[i] == L'\\') ++cut;
      if (i >= n) break;
    }
    ++i;
  }
  if (cut < n) {
    path.resize(cut);
    return true;
  }
  return false;
}

std::wstring_view PathFindExtensionW(std::wstring_view path) {
  std::size_t last = std::wstring_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == L'\\' || path[i] == L' ')
      last = std::wstring_view::npos;
    else if (path[i] == L'.')
      last = i;
  }
  if (last == std::wstring_view::npos) return path.substr(path.size());
  return path.substr(last);
}

std::wstring_view PathFindFileNameW(std::wstring_view path) {
  std::size_t last = 0;
  for (std::size_t i = 0; i < path.size(); ++i) {
    wchar_t c = path[i];
    if ((c == L'\\' || c == L'/' || c == L':') && i + 1 < path.size() && path[i + 1] != L'\\' &&
        path[i + 1] != L'/')
      last = i + 1;
  }
  return path.substr(last);
}

bool PathAddExtensionW(std::wstring& path, std::wstring_view ext) {
  if (!PathFindExtensionW(path).empty()) return false;
  if (ext.empty()) ext = L".exe";
  if (path.size() + ext.size() >= MAX_PATH) return false;
  path += ext;
  return true;
}

void PathRemoveExtensionW(std::wstring& path) {
  std::wstring_view ext = PathFindExtensionW(path);
  path.resize(path.size() - ext.size());
}

bool PathRenameExtensionW(std::wstring& path, std::wstring_view ext) {
  std::size_t base = path.size() - PathFindExtensionW(path).size();
  if (base + ext.size() >= MAX_PATH) return false;
  path.resize(base);
  path += ext;
  return true;
}

bool PathQuoteSpacesW(std::wstring& path) {
  if (path.find(L' ') == std::wstring::npos) return false;
  if (path.size() + 1 + 2 >= MAX_PATH) return false;
  path = L"\"" + path + L"\"";
  return true;
}

void PathUnquoteSpacesW(std::wstring& path) {
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
    path = path.substr(1, path.size() - 2);
}

int PathGetDriveNumberW(std::wstring_view path) {
  if (path.size() >= 4 && path[0] == L'\\' && path[1] == L'\\' && path[2] == L'?' &&
      path[3] == L'\\')
    path.remove_prefix(4);
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':')
    return static_cast<int>(UpperChar(path[0]) - L'A');
  return -1;
}

bool PathIsURLW(std::wstring_view path) {
  std::size_t colon = path.find(L':');
  if (colon == std::wstring_view::npos || colon < 2) return false;
  for (std::size_t i = 0; i < colon; ++i) {
    wchar_t c = path[i];
    bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
              c == L'+' || c == L'-' || c == L'.';
    if (!ok) return false;
  }
  return true;
}

bool PathStripToRootW(std::wstring& path) {
  while (!PathIsRootW(path))
    if (!PathRemoveFileSpecW(path)) return false;
  return true;
}

std::size_t PathRemoveBackslashW(std::wstring& path) {
  if (path.empty()) return 0;
  std::size_t last = path.size() - 1;
  if (!PathIsRootW(path) && path[last] == L'\\') path.resize(last);
  return last;
}

bool PathAddBackslashW(std::wstring& path) {
  if (path.empty()) return true;
  if (path.back() == L'\\') return path.size() < MAX_PATH;
  if (path.size() + 1 >= MAX_PATH) return false;
  path += L'\\';
  return true;
}

void PathStripPathW(std::wstring& path) {
  std::wstring_view f = PathFindFileNameW(path);
  path = std::wstring(f);
}

bool IsDosDeviceName(std::wstring_view element) {
  std::wstring_view base = element.substr(0, element.find(L'.'));
  while (!base.empty() && (base.back() == L' ' || base.back() == L'.')) base.remove_suffix(1);
  if (base.size() == 3) {
    return EqualsNoCase(base, L"CON") || EqualsNoCase(base, L"PRN") || EqualsNoCase(base, L"AUX") ||
           EqualsNoCase(base, L"NUL");
  }
  if (base.size() == 4 && (StartsWithNoCase(base, L"COM") || StartsWithNoCase(base, L"LPT")))
    return base[3] >= L'1' && base[3] <= L'9';
  if (base.size() == 6 && EqualsNoCase(base, L"CONIN$")) return true;
  if (base.size() == 7 && EqualsNoCase(base, L"CONOUT$")) return true;
  return false;
}

bool PathHasDeviceName(std::wstring_view path) {
  std::size_t b = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSlash(path[i])) {
      std::wstring_view e = path.substr(b, i - b);
      if (!e.empty() && IsDosDeviceName(e)) return true;
      b = i + 1;
    }
  }
  return false;
}

bool IsValidFileName(std::wstring_view element) {
  if (element.empty()) return false;
  for (wchar_t c : element) {
    if (c < 0x20) return false;
    switch (c) {
      case L'<':
      case L'>':
      case L':':
      case L'"':
      case L'/':
      case L'\\':
      case L'|':
      case L'?':
      case L'*': return false;
      default: break;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Current directories

namespace {

struct CwdState {
  std::mutex mutex;
  std::optional<std::wstring> cwd;
};

CwdState& Cwd() {
  static CwdState s;
  return s;
}

std::wstring InitialCurrentDirectory() {
  if (const char* env = std::getenv("TOLMERA_CURRENT_DIRECTORY"); env && *env) {
    std::wstring w = FromUtf8(env);
    if (w.size() >= 3 && IsDriveLetter(w[0]) && w[1] == L':' && w[2] == L'\\') return w;
    if (w.size() >= 2 && w[0] == L'\\' && w[1] == L'\\') return w;
  }
  char buf[4096];
  if (getcwd(buf, sizeof buf)) {
    std::wstring w = HostToWindowsPath(buf);
    if (!w.empty()) return w;
  }
  return L"C:\\";
}

std::wstring CurrentLocked(CwdState& s) {
  if (!s.cwd) s.cwd = InitialCurrentDirectory();
  return *s.cwd;
}

// Removes trailing dots and blanks of an element, as Win32 path normalisation does.
std::wstring_view TrimElement(std::wstring_view e) {
  if (e == L"." || e == L"..") return e;
  while (!e.empty() && (e.back() == L'.' || e.back() == L' ')) e.remove_suffix(1);
  return e;
}

// Joins `root` and the elements of `rest`, resolving "." and ".." (never above the root).
std::wstring Normalise(const std::wstring& root, std::wstring_view rest) {
  std::vector<std::wstring_view> stack;
  auto elems = SplitElements(rest);
  bool trailing = false;
  for (std::size_t i = 0; i < elems.size(); ++i) {
    std::wstring_view e = elems[i];
    const bool last = i + 1 == elems.size();
    if (e.empty()) {
      if (last) trailing = !stack.empty();
      continue;
    }
    std::wstring_view t = TrimElement(e);
    trailing = false;
    if (t == L".") continue;
    if (t == L"..") {
      if (!stack.empty()) stack.pop_back();
      continue;
    }
    if (t.empty()) continue;  // "..." and "  " vanish
    stack.push_back(t);
  }
  std::wstring out = root;
  for (std::size_t i = 0; i < stack.size(); ++i) {
    if (!out.empty() && out.back() != L'\\') out += L'\\';
    out += stack[i];
  }
  if (trailing && (out.empty() || out.back() != L'\\')) out += L'\\';
  return out;
}

}  // namespace

std::wstring GetCurrentDirectoryW() {
  CwdState& s = Cwd();
  std::lock_guard<std::mutex> lock(s.mutex);
  return CurrentLocked(s);
}

std::wstring GetCurrentDirectoryOfDrive(wchar_t drive) {
  drive = UpperChar(drive);
  std::wstring cwd = GetCurrentDirectoryW();
  if (cwd.size() >= 2 && cwd[1] == L':' && UpperChar(cwd[0]) == drive) return cwd;
  std::wstring name = L"=";
  name += drive;
  name += L':';
  std::wstring value;
  if (GetEnvironmentVariableW(name, value) == ERROR_SUCCESS && value.size() >= 3 &&
      UpperChar(value[0]) == drive && value[1] == L':' && value[2] == L'\\')
    return value;
  std::wstring root;
  root += drive;
  root += L":\\";
  return root;
}

void ResetCurrentDirectories() {
  CwdState& s = Cwd();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.cwd.reset();
}

DWORD GetFullPathNameW(std::wstring_view nameIn, std::wstring& full) {
  if (nameIn.empty()) return Fail(ERROR_INVALID_NAME);
  std::wstring name(nameIn);
  for (wchar_t& c : name)
    if (c == L'/') c = L'\\';
  if (name.find(L'\0') != std::wstring::npos) return Fail(ERROR_INVALID_NAME);
  // Paths in the device namespace are taken as they stand.
  if (name.size() >= 4 && name[0] == L'\\' && name[1] == L'\\' &&
      (name[2] == L'?' || name[2] == L'.') && name[3] == L'\\') {
    if (name.size() >= 32767) return Fail(ERROR_FILENAME_EXCED_RANGE);
    full = name;
    return Fail(ERROR_SUCCESS);
  }
  // A DOS device as the last element names the device itself.
  {
    std::wstring_view last = name;
    std::size_t s = last.find_last_of(L"\\:");
    if (s != std::wstring_view::npos) last = last.substr(s + 1);
    if (!last.empty() && IsDosDeviceName(last)) {
      std::wstring_view base = last.substr(0, last.find(L'.'));
      while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
      full = L"\\\\.\\" + ToUpper(base);
      return Fail(ERROR_SUCCESS);
    }
  }
  std::wstring root, rest;
  if (name.size() >= 2 && name[0] == L'\\' && name[1] == L'\\') {
    std::size_t r = PathRootLength(name);
    root = name.substr(0, r);
    rest = name.substr(r);
  } else if (name.size() >= 2 && IsDriveLetter(name[0]) && name[1] == L':') {
    wchar_t d = UpperChar(name[0]);
    if (name.size() >= 3 && name[2] == L'\\') {
      root = std::wstring(1, d) + L":\\";
      rest = name.substr(3);
    } else {
      std::wstring base = GetCurrentDirectoryOfDrive(d);
      std::size_t r = PathRootLength(base);
      root = base.substr(0, r);
      rest = base.substr(r);
      if (name.size() > 2) rest += L"\\" + name.substr(2);
    }
  } else {
    std::wstring cwd = GetCurrentDirectoryW();
    std::size_t r = PathRootLength(cwd);
    root = cwd.substr(0, r);
    if (name[0] == L'\\')
      rest = name.substr(1);
    else
      rest = cwd.substr(r) + L"\\" + name;
  }
  if (root.size() == 2 && root[1] == L':') root += L'\\';
  if (root.size() >= 2 && root[0] == L'\\' && root[1] == L'\\' && root.back() != L'\\' &&
      !rest.empty() && rest[0] != L'\\')
    rest = L"\\" + rest;
  std::wstring result = Normalise(root, rest);
  if (result.size() >= 32767) return Fail(ERROR_FILENAME_EXCED_RANGE);
  full = result;
  return Fail(ERROR_SUCCESS);
}

DWORD SetCurrentDirectoryW(std::wstring_view path) {
  std::wstring full;
  if (DWORD rc = GetFullPathNameW(path, full); rc != ERROR_SUCCESS) return rc;
  FileInfo info;
  DWORD rc = GetFileAttributesExW(full, info);
  if (rc == ERROR_FILE_NOT_FOUND) return Fail(ERROR_FILE_NOT_FOUND);
  if (rc != ERROR_SUCCESS) return Fail(rc);
  if (!(info.attributes & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_DIRECTORY);
  if (full.size() > 3 && full.back() == L'\\' && !(full[0] == L'\\' && PathIsRootW(full)))
    full.pop_back();
  {
    CwdState& s = Cwd();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.cwd = full;
  }
  if (full.size() >= 2 && full[1] == L':') {
    std::wstring var = L"=";
    var += UpperChar(full[0]);
    var += L':';
    SetEnvironmentVariableW(var, std::wstring_view(full));
  }
  return Fail(ERROR_SUCCESS);
}

}  // namespace platform
