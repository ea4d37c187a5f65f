#pragma once
// Files for the tests of the viewer and the engine: a temporary folder of the test's own (made
// with mkdtemp, so tests that run at the same time never share one), removed with everything in
// it afterwards, and the bytes of files read and written whole.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

// The whole content of a file; empty when it cannot be read.
inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "morlane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::filesystem::path File(const std::string& name) const { return m_path / name; }
  std::wstring WFile(const std::string& name) const { return File(name).wstring(); }
  // The path of a file in the folder as narrow text (what the engine's calls take).
  std::string operator/(const std::string& name) const { return File(name).string(); }

  void Write(const std::string& name, const std::string& bytes) const {
    WriteAll(File(name), bytes);
  }
  std::string Read(const std::string& name) const { return ReadAll(File(name)); }

 private:
  std::filesystem::path m_path;
};

// Bytes of a UTF-16 text, for files written by hand in tests.
inline std::string Utf16LE(const std::u16string& text, bool mark) {
  std::string out;
  if (mark) out += "\xFF\xFE";
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

inline std::string Utf16BE(const std::u16string& text, bool mark) {
  std::string out;
  if (mark) out += "\xFE\xFF";
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c >> 8));
    out.push_back(static_cast<char>(c & 0xFF));
  }
  return out;
}
