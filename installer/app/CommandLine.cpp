#include "app/CommandLine.h"

#include "app/Tools.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace InstallManager {

std::wstring HostPathToZ(const std::wstring& path) {
  if (path.empty() || path[0] != L'/') return path;
  std::wstring out = L"Z:" + path;
  for (auto& c : out)
    if (c == L'/') c = L'\\';
  return out;
}

std::wstring QuoteArgument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      out.append(backslashes * 2 + 1, L'\\');
    } else {
      out.append(backslashes, L'\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  out += L'"';
  return out;
}

std::wstring BuildCommandLine(const std::vector<std::wstring>& args) {
  std::wstring line;
  bool afterX = false;
  for (const auto& a : args) {
    std::wstring arg = afterX && a != L"/admin" ? HostPathToZ(a) : a;
    afterX = a == L"/X";
    if (!line.empty()) line += L' ';
    line += QuoteArgument(arg);
  }
  return line;
}

CommandLine ParseCommandLine(const std::wstring& line) {
  CommandLine cl;
  size_t x = line.find(L"/X");
  if (x != std::wstring::npos) {
    std::wstring path = platform::Trim(std::wstring_view(line).substr(x + 2));
    // "/X <path> /admin": the switch at the end is not part of the path.
    const std::wstring admin = L"/admin";
    if (path == admin)
      path.clear();
    else if (path.size() > admin.size() &&
             path.compare(path.size() - admin.size(), admin.size(), admin) == 0 &&
             platform::IsSpace(path[path.size() - admin.size() - 1]))
      path = platform::Trim(std::wstring_view(path).substr(0, path.size() - admin.size()));
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
      path = platform::Trim(std::wstring_view(path).substr(1, path.size() - 2));
    cl.archivePath = HostPathToZ(path);
  }
  cl.admin = line.find(L"/admin") != std::wstring::npos;
  return cl;
}

CommandLine PrepareCommandLine(const std::wstring& line) {
  CommandLine cl = ParseCommandLine(line);
  // A relative path means the caller's folder: made absolute now, before the run makes the
  // program's folder the current one.
  if (!cl.archivePath.empty()) {
    std::wstring full;
    if (platform::GetFullPathNameW(cl.archivePath, full) == platform::ERROR_SUCCESS)
      cl.archivePath = full;
  }
  if (!cl.archivePath.empty() && !platform::PathFileExistsW(cl.archivePath)) {
    platform::DWORD error = platform::GetLastError();
    if (error == platform::ERROR_SUCCESS) error = platform::ERROR_FILE_NOT_FOUND;
    Log(LogLevel::Info, L"IsFileExists: '%s' is NOT FOUND. Cause: %s", cl.archivePath,
        platform::SystemErrorText(error));
    cl.archivePath.clear();
  }
  return cl;
}

}  // namespace InstallManager
