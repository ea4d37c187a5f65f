#include "platform/Environment.h"

#include "platform/Machine.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace platform {

namespace {

using Block = std::vector<std::pair<std::wstring, std::wstring>>;

struct EnvState {
  std::mutex mutex;
  bool built = false;
  bool inheritedUsed = false;
  std::string root;  // the machine the block was built for
  Block block;
};

EnvState& State() {
  static EnvState s;
  return s;
}

void SortBlock(Block& b) {
  std::stable_sort(b.begin(), b.end(), [](const auto& x, const auto& y) {
    return CompareNoCase(x.first, y.first) < 0;
  });
}

// Builds the block on first use and again when the current machine has changed.
Block& Ensure(EnvState& s) {
  std::string root;
  try {
    root = Machine::Current().Root();
  } catch (...) {
    root.clear();
  }
  if (s.built && s.root == root) return s.block;
  s.block.clear();
  const char* inherited = std::getenv("TOLMERA_ENVIRONMENT");
  if (!s.inheritedUsed && inherited && *inherited) {
    s.block = ParseSerializedEnvironment(inherited);
  } else if (!root.empty()) {
    s.block = DefaultEnvironment();
  }
  s.inheritedUsed = true;
  SortBlock(s.block);
  s.root = root;
  s.built = true;
  return s.block;
}

}  // namespace

Block DefaultEnvironment() {
  const MachineConfig& c = Machine::Current().Config();
  Block b;
  auto add = [&](const wchar_t* n, const std::wstring& v) { b.emplace_back(n, v); };
  const bool vista = c.os.major >= 6;
  const std::wstring profile =
      vista ? L"C:\\Users\\" + c.userName : L"C:\\Documents and Settings\\" + c.userName;
  const std::wstring temp =
      vista ? profile + L"\\AppData\\Local\\Temp" : profile + L"\\Local Settings\\Temp";
  const bool wow = c.IsWow64();
  add(L"ALLUSERSPROFILE", vista ? L"C:\\ProgramData" : L"C:\\Documents and Settings\\All Users");
  add(L"APPDATA", vista ? profile + L"\\AppData\\Roaming" : profile + L"\\Application Data");
  if (vista) add(L"LOCALAPPDATA", profile + L"\\AppData\\Local");
  if (vista) add(L"ProgramData", L"C:\\ProgramData");
  if (vista) add(L"PUBLIC", L"C:\\Users\\Public");
  if (c.os.is64Bit) {
    add(L"ProgramFiles", wow ? L"C:\\Program Files (x86)" : L"C:\\Program Files");
    add(L"ProgramFiles(x86)", L"C:\\Program Files (x86)");
    add(L"ProgramW6432", L"C:\\Program Files");
    add(L"CommonProgramFiles",
        wow ? L"C:\\Program Files (x86)\\Common Files" : L"C:\\Program Files\\Common Files");
    add(L"CommonProgramFiles(x86)", L"C:\\Program Files (x86)\\Common Files");
    add(L"CommonProgramW6432", L"C:\\Program Files\\Common Files");
    add(L"PROCESSOR_ARCHITECTURE", wow ? L"x86" : L"AMD64");
    if (wow) add(L"PROCESSOR_ARCHITEW6432", L"AMD64");
  } else {
    add(L"ProgramFiles", L"C:\\Program Files");
    add(L"CommonProgramFiles", L"C:\\Program Files\\Common Files");
    add(L"PROCESSOR_ARCHITECTURE", L"x86");
  }
  add(L"COMPUTERNAME", c.computerName);
  add(L"ComSpec", L"C:\\Windows\\system32\\cmd.exe");
  add(L"HOMEDRIVE", L"C:");
  add(L"HOMEPATH", profile.substr(2));
  add(L"LOGONSERVER", L"\\\\" + c.computerName);
  long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  add(L"NUMBER_OF_PROCESSORS", std::to_wstring(cpus > 0 ? cpus : 1));
  add(L"OS", L"Windows_NT");
  add(L"Path",
      L"C:\\Windows\\system32;C:\\Windows;C:\\Windows\\System32\\Wbem;C:"
      L"\\Windows\\System32\\WindowsPowerShell\\v1.0\\");
  add(L"PATHEXT", L".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC");
  add(L"SystemDrive", L"C:");
  add(L"SystemRoot", L"C:\\Windows");
  add(L"TEMP", temp);
  add(L"TMP", temp);
  add(L"USERDOMAIN", c.join == JoinStatus::Domain && !c.domain.empty() ? c.domain : c.computerName);
  add(L"USERNAME", c.userName);
  add(L"USERPROFILE", profile);
  add(L"windir", L"C:\\Windows");
  SortBlock(b);
  return b;
}

DWORD GetEnvironmentVariableW(std::wstring_view name, std::wstring& value) {
  if (name.empty()) return Fail(ERROR_ENVVAR_NOT_FOUND);
  EnvState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  for (const auto& [n, v] : Ensure(s)) {
    if (EqualsNoCase(n, name)) {
      value = v;
      return Fail(ERROR_SUCCESS);
    }
  }
  return Fail(ERROR_ENVVAR_NOT_FOUND);
}

std::optional<std::wstring> GetEnv(std::wstring_view name) {
  std::wstring v;
  if (GetEnvironmentVariableW(name, v) != ERROR_SUCCESS) return std::nullopt;
  return v;
}

DWORD SetEnvironmentVariableW(std::wstring_view name, std::optional<std::wstring_view> value) {
  if (name.empty() || name.substr(1).find(L'=') != std::wstring_view::npos ||
      name.find(L'\0') != std::wstring_view::npos || name.find(L'\x1E') != std::wstring_view::npos)
    return Fail(ERROR_INVALID_PARAMETER);
  if (value && (value->find(L'\0') != std::wstring_view::npos ||
                value->find(L'\x1E') != std::wstring_view::npos))
    return Fail(ERROR_INVALID_PARAMETER);
  EnvState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  Block& b = Ensure(s);
  auto it =
      std::find_if(b.begin(), b.end(), [&](const auto& e) { return EqualsNoCase(e.first, name); });
  if (!value) {
    if (it != b.end()) b.erase(it);
    return Fail(ERROR_SUCCESS);
  }
  if (it != b.end())
    it->second = std::wstring(*value);
  else {
    b.emplace_back(std::wstring(name), std::wstring(*value));
    SortBlock(b);
  }
  return Fail(ERROR_SUCCESS);
}

std::wstring ExpandEnvironmentStringsW(std::wstring_view text) {
  std::wstring out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != L'%') {
      out += text[i++];
      continue;
    }
    std::size_t end = text.find(L'%', i + 1);
    if (end == std::wstring_view::npos) {
      out += text.substr(i);
      break;
    }
    std::wstring_view name = text.substr(i + 1, end - i - 1);
    std::wstring value;
    if (!name.empty() && GetEnvironmentVariableW(name, value) == ERROR_SUCCESS) {
      out += value;
      i = end + 1;
    } else {
      // Unknown: the first '%' stays and the scan goes on at the second, which may open a name.
      out += text.substr(i, end - i);
      i = end;
    }
  }
  SetLastError(ERROR_SUCCESS);
  return out;
}

Block GetEnvironmentStringsW() {
  EnvState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return Ensure(s);
}

std::string SerializeEnvironment() {
  std::string out;
  for (const auto& [n, v] : GetEnvironmentStringsW()) {
    if (!out.empty()) out += '\x1E';
    out += ToUtf8(n) + "=" + ToUtf8(v);
  }
  return out;
}

Block ParseSerializedEnvironment(std::string_view text) {
  Block b;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\x1E', pos);
    std::string_view entry =
        text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    pos = end == std::string_view::npos ? text.size() + 1 : end + 1;
    if (entry.empty()) continue;
    // "=C:=C:\x" keeps its leading '=' in the name.
    std::size_t eq = entry.find('=', 1);
    if (eq == std::string_view::npos) continue;
    std::wstring name = FromUtf8(entry.substr(0, eq));
    std::wstring value = FromUtf8(entry.substr(eq + 1));
    auto it = std::find_if(b.begin(), b.end(),
                           [&](const auto& e) { return EqualsNoCase(e.first, name); });
    if (it != b.end())
      it->second = value;
    else
      b.emplace_back(name, value);
  }
  SortBlock(b);
  return b;
}

void ResetEnvironment() {
  EnvState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.built = false;
  s.inheritedUsed = false;
  s.block.clear();
}

}  // namespace platform
