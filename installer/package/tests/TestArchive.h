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
// lie, ZIP64 fields on small entries, headers that disagree, entries that share their data.
struct RawEntry {
  std::string name;
  std::string data;
  // The uncompressed size the headers declare (the data's size when not set).
  std::optional<std::uint64_t> declaredSize;
  bool zip64 = false;    // sizes in the ZIP64 extra field, 0xFFFFFFFF in the 32-bit ones
  bool deflate = false;  // compressed with deflate instead of stored
  // The method number the headers give (else 8 or 0 as `deflate` says); the data is stored.
  std::optional<int> method;
  std::uint16_t flags = 0;  // general purpose flags (bit 11: the name is UTF-8)
  // What the local header says when it disagrees with the central one.
  std::optional<std::string> localName;
  std::optional<std::uint64_t> localPacked;
  std::optional<std::uint64_t> localUnpacked;
  std::string centralExtra;  // more extra fields of the central header
  // The central header names the local header (and data) of this earlier entry instead of
  // its own; nothing of its own is written.
  std::optional<std::size_t> sameDataAs;
  std::uint64_t offsetDelta = 0;     // with `sameDataAs`: this many bytes further on
  std::optional<std::uint32_t> crc;  // else the CRC of `data`
  // The compressed size both headers declare (the stored data's size when not set).
  std::optional<std::uint64_t> declaredPacked;
};

// How the end of an archive built byte by byte looks.
struct RawEnd {
  // ZIP64 end record and locator, with the classic record's fields at their markers.
  bool zip64 = false;
  // The number of entries the end records declare (the real number when not set).
  std::optional<std::uint64_t> declaredCount;
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

inline std::uint32_t Crc(const std::string& data) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

inline void PutLe(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The Unicode path extra field (0x7075) for an entry whose header name is `headerName`, with
// the CRC of `crcOf` (a stale field when that is not the header name).
inline std::string UnicodePathField(const std::string& utf8, const std::string& crcOf) {
  std::string f;
  PutLe(f, 0x7075, 2);
  PutLe(f, 5 + utf8.size(), 2);
  PutLe(f, 1, 1);
  PutLe(f, Crc(crcOf), 4);
  return f + utf8;
}

inline std::string RawZip(const std::vector<RawEntry>& entries, const RawEnd& end = {}) {
  std::string file, central;
  std::vector<std::uint64_t> offsets;
  for (const RawEntry& e : entries) {
    const std::uint64_t usize = e.declaredSize ? *e.declaredSize : e.data.size();
    const bool deflated = !e.method && e.deflate;
    const std::string stored = deflated ? RawDeflate(e.data) : e.data;
    const std::uint64_t csize = e.declaredPacked ? *e.declaredPacked : stored.size();
    const std::uint32_t crc = e.crc ? *e.crc : Crc(e.data);
    const int method = e.method ? *e.method : deflated ? 8 : 0;
    const bool big = e.zip64 || usize >= 0xFFFFFFFFull;
    auto header = [&](std::string& out, bool isCentral, std::uint64_t offset) {
      const std::string& name = !isCentral && e.localName ? *e.localName : e.name;
      const std::uint64_t c = !isCentral && e.localPacked ? *e.localPacked : csize;
      const std::uint64_t u = !isCentral && e.localUnpacked ? *e.localUnpacked : usize;
      std::string extra;
      if (big) {
        PutLe(extra, 0x0001, 2);
        PutLe(extra, 16, 2);
        PutLe(extra, u, 8);
        PutLe(extra, c, 8);
      }
      if (isCentral) extra += e.centralExtra;
      PutLe(out, isCentral ? 0x02014b50 : 0x04034b50, 4);
      if (isCentral) PutLe(out, 45, 2);         // made by
      PutLe(out, big ? 45 : 20, 2);             // needed
      PutLe(out, e.flags, 2);                   // flags
      PutLe(out, method, 2);                    // method
      PutLe(out, 0, 2);                         // time
      PutLe(out, (44 << 9) | (1 << 5) | 1, 2);  // 2024-01-01
      PutLe(out, crc, 4);
      PutLe(out, big ? 0xFFFFFFFFu : c, 4);
      PutLe(out, big ? 0xFFFFFFFFu : u, 4);
      PutLe(out, name.size(), 2);
      PutLe(out, extra.size(), 2);
      if (isCentral) {
        PutLe(out, 0, 2);  // comment
        PutLe(out, 0, 2);  // disk
        PutLe(out, 0, 2);  // internal attributes
        PutLe(out, 0, 4);  // external attributes
        PutLe(out, offset, 4);
      }
      out += name;
      out += extra;
    };
    std::uint64_t offset = file.size();
    if (e.sameDataAs) {
      offset = offsets.at(*e.sameDataAs) + e.offsetDelta;
    } else {
      header(file, false, 0);
      file += stored;
    }
    offsets.push_back(offset);
    header(central, true, offset);
  }
  const std::uint64_t cdOffset = file.size();
  const std::uint64_t count = end.declaredCount ? *end.declaredCount : entries.size();
  file += central;
  if (end.zip64) {
    const std::uint64_t end64 = file.size();
    PutLe(file, 0x06064b50, 4);
    PutLe(file, 44, 8);
    PutLe(file, 45, 2);
    PutLe(file, 45, 2);
    PutLe(file, 0, 4);
    PutLe(file, 0, 4);
    PutLe(file, count, 8);
    PutLe(file, count, 8);
    PutLe(file, central.size(), 8);
    PutLe(file, cdOffset, 8);
    PutLe(file, 0x07064b50, 4);
    PutLe(file, 0, 4);
    PutLe(file, end64, 8);
    PutLe(file, 1, 4);
  }
  PutLe(file, 0x06054b50, 4);
  PutLe(file, 0, 2);
  PutLe(file, 0, 2);
  PutLe(file, end.zip64 ? 0xFFFF : count, 2);
  PutLe(file, end.zip64 ? 0xFFFF : count, 2);
  PutLe(file, end.zip64 ? 0xFFFFFFFFu : central.size(), 4);
  PutLe(file, end.zip64 ? 0xFFFFFFFFu : cdOffset, 4);
  PutLe(file, 0, 2);
  return file;
}

inline bool WriteRawZip(const std::string& hostPath, const std::vector<RawEntry>& entries,
                        const RawEnd& end = {}) {
  std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
  out << RawZip(entries, end);
  return static_cast<bool>(out);
}

}  // namespace tltest
