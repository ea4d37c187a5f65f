// An INI file as lines of text, the way the IniFile table edits it: sections found and keys
// matched without regard to case, a key set in place or added at the end of its section, a
// section that loses its last key removed.
#pragma once

#include <string>
#include <vector>

#include "platform/Files.h"
#include "platform/Text.h"

namespace Msi {

struct IniText {
  std::vector<std::wstring> lines;
  static std::wstring Trim(std::wstring s) {
    while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.erase(s.begin());
    while (!s.empty() && (s.back() == L' ' || s.back() == L'\t' || s.back() == L'\r')) s.pop_back();
    return s;
  }
  bool Load(const std::wstring& path) {
    std::string bytes;
    if (platform::ReadWholeFile(path, bytes) != platform::ERROR_SUCCESS) return false;
    std::wstring text = platform::FromUtf8(bytes);
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find(L'\n', start);
      lines.push_back(Trim(text.substr(start, end == std::wstring::npos ? end : end - start)));
      if (end == std::wstring::npos) break;
      start = end + 1;
    }
    return true;
  }
  bool Save(const std::wstring& path) const {
    std::wstring text;
    for (const auto& l : lines) text += l + L"\r\n";
    return platform::WriteWholeFile(path, platform::ToUtf8(text)) == platform::ERROR_SUCCESS;
  }
  // The line of [section]; -1 when missing.
  int Section(const std::wstring& section) const {
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (lines[i].size() >= 2 && lines[i].front() == L'[' && lines[i].back() == L']' &&
          platform::EqualsNoCase(Trim(lines[i].substr(1, lines[i].size() - 2)), section))
        return static_cast<int>(i);
    return -1;
  }
  int End(int section) const {
    std::size_t i = section + 1;
    while (i < lines.size() && !(lines[i].size() >= 1 && lines[i].front() == L'[')) ++i;
    return static_cast<int>(i);
  }
  int Key(const std::wstring& section, const std::wstring& key) const {
    int s = Section(section);
    if (s < 0) return -1;
    for (int i = s + 1; i < End(s); ++i) {
      std::size_t eq = lines[i].find(L'=');
      if (eq != std::wstring::npos && platform::EqualsNoCase(Trim(lines[i].substr(0, eq)), key))
        return i;
    }
    return -1;
  }
  std::wstring Value(int line) const {
    return Trim(lines[line].substr(lines[line].find(L'=') + 1));
  }
  void Set(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    int k = Key(section, key);
    if (k >= 0) {
      lines[k] = key + L"=" + value;
      return;
    }
    int s = Section(section);
    if (s < 0) {
      lines.push_back(L"[" + section + L"]");
      lines.push_back(key + L"=" + value);
      return;
    }
    int end = End(s);
    while (end > s + 1 && lines[end - 1].empty()) --end;
    lines.insert(lines.begin() + end, key + L"=" + value);
  }
  void Remove(const std::wstring& section, const std::wstring& key) {
    int k = Key(section, key);
    if (k >= 0) lines.erase(lines.begin() + k);
    int s = Section(section);
    if (s < 0) return;
    bool empty = true;
    for (int i = s + 1; i < End(s); ++i) empty = empty && lines[i].empty();
    if (empty) lines.erase(lines.begin() + s, lines.begin() + End(s));
  }
  bool Blank() const {
    for (const auto& l : lines)
      if (!l.empty()) return false;
    return true;
  }
};

}  // namespace Msi
