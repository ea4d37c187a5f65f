// Builds small package archives for tests.
#pragma once

#include <zip.h>
#include <zlib.h>

#include <cstdint>
#include <optional>

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

namespace tltest {

// One entry of an archive built byte by byte, for archives no writer would make: sizes that
// lie, ZIP64 fields on small entries.
struct RawEntry {
  std::string name;
  std::string data;
  // The uncompressed size the headers declare (the data's size when not set).
  std::optional<std::uint64_t> declaredSize;
  bool zip64 = false;    // sizes in the ZIP64 extra field, 0xFFFFFFFF in the 32-bit ones
  bool deflate = false;  // compressed with deflate instead of stored
};

inline std::string RawDeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline void PutLe(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline bool WriteRawZip(const std::string& hostPath, const std::vector<RawEntry>& entries) {
  std::string file, central;
  for (const RawEntry& e : entries) {
    const std::uint64_t offset = file.size();
    const std::uint64_t usize = e.declaredSize ? *e.declaredSize : e.data.size();
    const std::string stored = e.deflate ? RawDeflate(e.data) : e.data;
    const std::uint64_t csize = stored.size();
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
    const bool big = e.zip64 || usize >= 0xFFFFFFFFull;
    std::string extra;
    if (big) {
      PutLe(extra, 0x0001, 2);
      PutLe(extra, 16, 2);
      PutLe(extra, usize, 8);
      PutLe(extra, csize, 8);
    }
    auto header = [&](std::string& out, bool isCentral) {
      PutLe(out, isCentral ? 0x02014b50 : 0x04034b50, 4);
      if (isCentral) PutLe(out, 45, 2);         // made by
      PutLe(out, big ? 45 : 20, 2);             // needed
      PutLe(out, 0, 2);                         // flags
      PutLe(out, e.deflate ? 8 : 0, 2);         // method
      PutLe(out, 0, 2);                         // time
      PutLe(out, (44 << 9) | (1 << 5) | 1, 2);  // 2024-01-01
      PutLe(out, crc, 4);
      PutLe(out, big ? 0xFFFFFFFFu : csize, 4);
      PutLe(out, big ? 0xFFFFFFFFu : usize, 4);
      PutLe(out, e.name.size(), 2);
      PutLe(out, extra.size(), 2);
      if (isCentral) {
        PutLe(out, 0, 2);  // comment
        PutLe(out, 0, 2);  // disk
        PutLe(out, 0, 2);  // internal attributes
        PutLe(out, 0, 4);  // external attributes
        PutLe(out, offset, 4);
      }
      out += e.name;
      out += extra;
    };
    header(file, false);
    file += stored;
    header(central, true);
  }
  const std::uint64_t cdOffset = file.size();
  file += central;
  PutLe(file, 0x06054b50, 4);
  PutLe(file, 0, 2);
  PutLe(file, 0, 2);
  PutLe(file, entries.size(), 2);
  PutLe(file, entries.size(), 2);
  PutLe(file, central.size(), 4);
  PutLe(file, cdOffset, 4);
  PutLe(file, 0, 2);
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out << file;
  return static_cast<bool>(out);
}

}  // namespace tltest
