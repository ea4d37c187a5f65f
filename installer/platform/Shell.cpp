#include "platform/Shell.h"

#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Text.h"

#include <fstream>
#include <sstream>

namespace platform {

namespace {

std::string RecordPath() { return Machine::Current().StateDir() + "/shell-opened.txt"; }

// A line break in the file's name must not start a second record.
std::wstring OneLine(std::wstring s) {
  for (auto& c : s)
    if (c == L'\n' || c == L'\r' || c == L'\t') c = L' ';
  return s;
}

}  // namespace

bool ShellExecuteW(const std::wstring& verb, const std::wstring& file, int) {
  if (file.empty()) return false;
  std::ofstream out(RecordPath(), std::ios::app | std::ios::binary);
  if (!out) return false;
  out << ToUtf8(OneLine(verb.empty() ? L"open" : verb)) << '\t' << ToUtf8(OneLine(file)) << '\n';
  return static_cast<bool>(out);
}

std::vector<std::wstring> ShellOpened() {
  std::vector<std::wstring> lines;
  std::string text;
  if (!hostio::ReadFile(RecordPath(), text)) return lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    if (tab != std::string::npos) lines.push_back(FromUtf8(line.substr(tab + 1)));
  }
  return lines;
}

}  // namespace platform
