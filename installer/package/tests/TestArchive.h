// Builds small package archives for tests.
#pragma once

#include <zip.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tltest {

// Writes a ZIP file at a host path with the given entries (name as stored, contents).
inline bool WriteZip(const std::string& hostPath,
                     const std::vector<std::pair<std::string, std::string>>& entries) {
  zipFile zip = zipOpen64(hostPath.c_str(), APPEND_STATUS_CREATE);
  if (!zip) return false;
  bool ok = true;
  for (const auto& [name, data] : entries) {
    zip_fileinfo info{};
    info.tmz_date.tm_year = 2024;
    info.tmz_date.tm_mon = 0;
    info.tmz_date.tm_mday = 1;
    ok = ok && zipOpenNewFileInZip(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                   Z_DEFLATED, Z_DEFAULT_COMPRESSION) == ZIP_OK;
    ok = ok && zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK;
    ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

inline std::string ReadHostFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace tltest
