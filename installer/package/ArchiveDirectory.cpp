#include "package/ArchiveDirectory.h"

#include "package/LogSink.h"
#include "platform/Format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <numeric>

namespace DataStorage {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kEnd64Signature = 0x06064b50;
constexpr std::uint32_t kLocatorSignature = 0x07064b50;
constexpr std::size_t kLocalSize = 30;
constexpr std::size_t kCentralSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kLocatorSize = 20;
constexpr std::size_t kEnd64Size = 56;
constexpr std::uint16_t kZip64Field = 0x0001;
constexpr std::uint16_t kUnicodePathField = 0x7075;
constexpr unsigned kUtf8NameFlag = 0x800;
constexpr unsigned kDescriptorFlag = 0x8;
constexpr std::uint32_t kMarker32 = 0xFFFFFFFFu;
constexpr std::uint16_t kMarker16 = 0xFFFF;
constexpr platform::DWORD kEntryAttributes =
    platform::FILE_ATTRIBUTE_READONLY | platform::FILE_ATTRIBUTE_HIDDEN |
    platform::FILE_ATTRIBUTE_SYSTEM | platform::FILE_ATTRIBUTE_ARCHIVE;
// Local headers closer together than this are read in one window of kWindow bytes.
constexpr std::uint64_t kNearby = 16 * 1024;
constexpr std::size_t kWindow = 64 * 1024;

std::uint64_t Get(const unsigned char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Reads headers at given offsets, keeping one window of the file so that neighbouring headers
// cost one read.
class HeaderReader {
 public:
  HeaderReader(platform::FileHandle& file, std::uint64_t size) : m_file(file), m_size(size) {}

  // `size` bytes at `offset`; on a miss, `window` bytes (at least `size`) are read from there.
  // Null when the file ends before or cannot be read. Valid until the next call.
  const unsigned char* At(std::uint64_t offset, std::size_t size, std::size_t window = 0) {
    if (offset > m_size || size > m_size - offset) return nullptr;
    if (offset >= m_start && offset - m_start + size <= m_length)
      return m_data.data() + (offset - m_start);
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(std::max(size, window), m_size - offset));
    m_data.resize(want);
    m_length = 0;
    m_start = offset;
    if (m_file.Seek(static_cast<std::int64_t>(offset), platform::FILE_BEGIN) !=
        platform::ERROR_SUCCESS)
      return nullptr;
    while (m_length < want) {
      std::size_t done = 0;
      if (m_file.Read(m_data.data() + m_length, want - m_length, done) != platform::ERROR_SUCCESS ||
          done == 0)
        break;
      m_length += done;
    }
    return m_length >= size ? m_data.data() : nullptr;
  }

 private:
  platform::FileHandle& m_file;
  std::uint64_t m_size;
  std::vector<unsigned char> m_data;
  std::uint64_t m_start = 0;
  std::size_t m_length = 0;
};

std::wstring BackslashName(std::wstring name) {
  for (auto& c : name)
    if (c == L'/') c = L'\\';
  return name;
}

std::wstring DecodeName(const std::string& bytes, unsigned flags) {
  return BackslashName((flags & kUtf8NameFlag)
                           ? platform::FromUtf8(bytes)
                           : platform::AnsiToWide(bytes, platform::CP_THREAD_ACP));
}

// The fields of a ZIP64 extra field (0x0001) that stand in for 32-bit ones holding 0xFFFFFFFF,
// in their order: uncompressed size, compressed size, local header offset. `found` tells
// whether the extra field held the entry's ZIP64 field at all.
// Where the central directory lies, as the end records say.
struct DirectoryPlace {
  std::uint64_t entries = 0;  // as the end record declares them
  bool countKnown = true;     // false: 65,535 or more, the directory says how many
  std::uint64_t directorySize = 0, directoryOffset = 0;
  std::uint64_t base = 0;            // bytes in front of the archive shift every offset
  std::uint64_t directoryStart = 0;  // in the file
};

// A central entry's name as stored and the length of its extra field.
struct RawName {
  std::string name;
  std::size_t extraLength;
};

struct Zip64Values {
  std::uint64_t unpacked, packed, offset;
};
Zip64Values ReadZip64(const unsigned char* extra, std::size_t length, Zip64Values values,
                      bool& complete) {
  const bool wantUnpacked = values.unpacked == kMarker32, wantPacked = values.packed == kMarker32,
             wantOffset = values.offset == kMarker32;
  complete = !wantUnpacked && !wantPacked && !wantOffset;
  for (std::size_t at = 0; at + 4 <= length;) {
    const std::uint64_t id = Get(extra + at, 2), size = Get(extra + at + 2, 2);
    const std::size_t data = at + 4;
    if (size > length - data) break;  // damaged or padding: the rest is not read
    if (id == kZip64Field) {
      std::size_t field = data;
      const std::size_t end = data + static_cast<std::size_t>(size);
      auto take = [&](std::uint64_t& value) {
        if (field + 8 > end) return false;
        value = Get(extra + field, 8);
        field += 8;
        return true;
      };
      complete = (!wantUnpacked || take(values.unpacked)) && (!wantPacked || take(values.packed)) &&
                 (!wantOffset || take(values.offset));
      break;
    }
    at = data + static_cast<std::size_t>(size);
  }
  return values;
}

// The Unicode path (0x7075): version 1, the CRC of the header's name, the name in UTF-8.
// `stale` tells a field whose CRC is not the one of the name (made before a tool renamed the
// entry): its name is not used.
bool UnicodePath(const unsigned char* extra, std::size_t length, const std::string& headerName,
                 std::string& utf8, bool& stale) {
  stale = false;
  for (std::size_t at = 0; at + 4 <= length;) {
    const std::uint64_t id = Get(extra + at, 2), size = Get(extra + at + 2, 2);
    const std::size_t data = at + 4;
    if (size > length - data) break;
    if (id == kUnicodePathField && size >= 5 && extra[data] == 1) {
      const auto crc =
          static_cast<std::uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(headerName.data()),
                                           static_cast<uInt>(headerName.size())));
      if (crc != static_cast<std::uint32_t>(Get(extra + data + 1, 4))) {
        stale = true;
        return false;
      }
      utf8.assign(reinterpret_cast<const char*>(extra + data + 5),
                  static_cast<std::size_t>(size) - 5);
      return true;
    }
    at = data + static_cast<std::size_t>(size);
  }
  return false;
}

}  // namespace

const wchar_t* MethodName(int method) {
  switch (method) {
    case 0: return L"stored";
    case 8: return L"deflate";
    case 9: return L"Deflate64";
    case 12: return L"BZIP2";
    case 14: return L"LZMA";
    case 93: return L"Zstandard";
    case 95: return L"XZ";
    case 98: return L"PPMd";
    case 99: return L"AES encryption";
    default: return L"unknown";
  }
}

void CArchiveDirectory::Clear() {
  m_entries.clear();
  m_byName.clear();
  m_refusedEntry.clear();
  m_reason.clear();
}

bool CArchiveDirectory::Refuse(const std::wstring& entry, const std::wstring& reason) {
  // `entry` may be the name of one of the entries dropped here.
  m_refusedEntry = entry;
  m_reason = reason;
  m_entries.clear();
  m_byName.clear();
  return false;
}

std::size_t CArchiveDirectory::Find(const std::wstring& name) const {
  auto it = m_byName.find(BackslashName(name));
  return it == m_byName.end() ? m_entries.size() : it->second;
}

namespace {

// Where the central directory is: the end record found (the ZIP64 one where there is one) and
// what it says. An empty text, or the reason the archive is refused.
std::wstring LocateDirectory(HeaderReader& reader, std::uint64_t fileSize, DirectoryPlace& place) {
  // The end record: the last one whose comment reaches the end of the file, else the last.
  const auto tailLength =
      static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, 0xFFFF + kEndSize));
  const std::uint64_t tailStart = fileSize - tailLength;
  const unsigned char* tail = reader.At(tailStart, tailLength);
  if (!tail) return (L"it cannot be read");
  std::size_t found = tailLength, exact = tailLength;
  for (std::size_t p = tailLength - kEndSize + 1; p-- > 0;) {
    if (tail[p] != 0x50 || Get(tail + p, 4) != kEndSignature) continue;
    if (found == tailLength) found = p;
    if (p + kEndSize + Get(tail + p + 20, 2) == tailLength) {
      exact = p;
      break;
    }
  }
  if (found == tailLength) return (L"it has no end record: it is not a ZIP archive");
  const std::size_t at = exact != tailLength ? exact : found;
  unsigned char end[kEndSize];
  std::memcpy(end, tail + at, kEndSize);
  const std::uint64_t endPos = tailStart + at;

  std::uint64_t disk = Get(end + 4, 2), directoryDisk = Get(end + 6, 2);
  std::uint64_t entriesHere = Get(end + 8, 2);
  std::uint64_t& entries = place.entries;
  std::uint64_t& directorySize = place.directorySize;
  std::uint64_t& directoryOffset = place.directoryOffset;
  entries = Get(end + 10, 2);
  directorySize = Get(end + 12, 4);
  directoryOffset = Get(end + 16, 4);
  const bool markers = disk == kMarker16 || directoryDisk == kMarker16 ||
                       entriesHere == kMarker16 || entries == kMarker16 ||
                       directorySize == kMarker32 || directoryOffset == kMarker32;
  std::uint64_t directoryEnd = endPos;  // where the central directory ends, as the records say
  bool& countKnown = place.countKnown;
  countKnown = true;
  const unsigned char* locator =
      endPos >= kLocatorSize ? reader.At(endPos - kLocatorSize, kLocatorSize) : nullptr;
  if (locator && Get(locator, 4) == kLocatorSignature) {
    const std::uint64_t end64 = Get(locator + 8, 8);
    // The ZIP64 end record lies before its locator.
    const unsigned char* record =
        endPos >= kLocatorSize + kEnd64Size && end64 <= endPos - kLocatorSize - kEnd64Size
            ? reader.At(end64, kEnd64Size)
            : nullptr;
    if (!record || Get(record, 4) != kEnd64Signature)
      return (L"its ZIP64 end record is missing or damaged");
    disk = Get(record + 16, 4);
    directoryDisk = Get(record + 20, 4);
    entriesHere = Get(record + 24, 8);
    entries = Get(record + 32, 8);
    directorySize = Get(record + 40, 8);
    directoryOffset = Get(record + 48, 8);
    directoryEnd = end64;
  } else if (markers) {
    if (directorySize == kMarker32 || directoryOffset == kMarker32 || disk == kMarker16 ||
        directoryDisk == kMarker16)
      return (L"its end record holds ZIP64 markers but there is no ZIP64 end record");
    // 65,535 entries or more without ZIP64 records: the directory itself says how many.
    countKnown = false;
  }
  if (disk != 0 || directoryDisk != 0 || (countKnown && entriesHere != entries))
    return (L"it spans several disks");
  if (directoryOffset > directoryEnd || directorySize > directoryEnd - directoryOffset)
    return (L"its central directory lies outside the file");
  // Bytes in front of the archive (a program it is appended to) shift every offset.
  place.base = directoryEnd - directoryOffset - directorySize;
  place.directoryStart = place.base + directoryOffset;
  return L"";
}

// The central directory's bytes as they are in the file; false when they cannot be read.
bool ReadDirectoryBytes(platform::FileHandle& file, const DirectoryPlace& place,
                        std::vector<unsigned char>& directory) {
  directory.resize(static_cast<std::size_t>(place.directorySize));
  {
    std::size_t done = 0, total = 0;
    if (file.Seek(static_cast<std::int64_t>(place.directoryStart), platform::FILE_BEGIN) !=
        platform::ERROR_SUCCESS)
      return false;
    while (total < directory.size() &&
           file.Read(directory.data() + total, directory.size() - total, done) ==
               platform::ERROR_SUCCESS &&
           done > 0)
      total += done;
    if (total != directory.size()) return false;
  }

  return true;
}

}  // namespace

namespace {

// A refusal of ReadEntries: the entry refused (empty: the archive) and the reason.
struct Refusal {
  std::wstring entry, reason;
  bool Set(const std::wstring& refused, const std::wstring& why) {
    entry = refused;
    reason = why;
    return false;
  }
};

// The central entries read and checked one by one into `out`, with the raw names and extra
// lengths the local headers are compared with; false with the refusal.
bool ReadEntries(const std::vector<unsigned char>& directory, const DirectoryPlace& place,
                 const std::wstring& archive, std::vector<EntryInfo>& out,
                 std::vector<RawName>& raws, Refusal& refusal) {
  const std::uint64_t entries = place.entries, directorySize = place.directorySize;
  const std::uint64_t directoryOffset = place.directoryOffset;
  const bool countKnown = place.countKnown;
  // The central entries.
  const auto reserve = static_cast<std::size_t>(std::min<std::uint64_t>(
      countKnown ? entries : directorySize / kCentralSize, directorySize / kCentralSize));
  out.reserve(reserve);
  raws.reserve(reserve);
  std::size_t pos = 0;
  while (countKnown ? out.size() < entries : pos < directory.size()) {
    const std::size_t left = directory.size() - pos;
    const unsigned char* h = directory.data() + pos;
    std::size_t length = kCentralSize;
    if (left >= kCentralSize && Get(h, 4) == kCentralSignature)
      length += Get(h + 28, 2) + Get(h + 30, 2) + Get(h + 32, 2);
    if (left < kCentralSize || Get(h, 4) != kCentralSignature || length > left) {
      if (!countKnown) return refusal.Set(L"", L"its central directory is damaged");
      return refusal.Set(L"",
                         platform::Format(L"its central directory ends after %I64u of the %I64u "
                                          L"entries its end record declares",
                                          static_cast<std::uint64_t>(out.size()), entries));
    }
    const unsigned flags = static_cast<unsigned>(Get(h + 8, 2));
    const auto nameLength = static_cast<std::size_t>(Get(h + 28, 2));
    const auto extraLength = static_cast<std::size_t>(Get(h + 30, 2));
    const unsigned char* extra = h + kCentralSize + nameLength;
    RawName raw{std::string(reinterpret_cast<const char*>(h + kCentralSize), nameLength),
                extraLength};

    EntryInfo e;
    std::string utf8;
    bool stale = false;
    if (UnicodePath(extra, extraLength, raw.name, utf8, stale))
      e.name = BackslashName(platform::FromUtf8(utf8));
    else
      e.name = DecodeName(raw.name, flags);
    if (stale)
      CommonTools::LogLine(CommonTools::LogLevel::Warning,
                           L"CUnzipper::Open entry = " + e.name + L" in " + archive +
                               L": its Unicode path is not the one of its name and is ignored");
    e.method = static_cast<int>(Get(h + 10, 2));
    e.dosTime = static_cast<std::uint16_t>(Get(h + 12, 2));
    e.dosDate = static_cast<std::uint16_t>(Get(h + 14, 2));
    e.crc = static_cast<std::uint32_t>(Get(h + 16, 4));
    e.encrypted = (flags & 1) != 0;
    bool complete = false;
    const Zip64Values values =
        ReadZip64(extra, extraLength, {Get(h + 24, 4), Get(h + 20, 4), Get(h + 42, 4)}, complete);
    // Without its ZIP64 field a 32-bit marker is taken as the value it says.
    e.unpackedSize = values.unpacked;
    e.packedSize = values.packed;
    e.headerOffset = values.offset;
    const platform::DWORD external = static_cast<platform::DWORD>(Get(h + 38, 4));
    e.attributes = external & kEntryAttributes;
    e.isDirectory = (external & platform::FILE_ATTRIBUTE_DIRECTORY) != 0 ||
                    (!e.name.empty() && e.name.back() == L'\\');
    while (!e.name.empty() && e.name.back() == L'\\') e.name.pop_back();
    e.index = out.size();
    e.directoryPos = directoryOffset + pos;
    if (e.method != 0 && e.method != 8)
      return refusal.Set(e.name, platform::Format(L"method %d (%s) is not supported", e.method,
                                                  std::wstring(MethodName(e.method))));
    if (Get(h + 34, 2) != 0 && Get(h + 34, 2) != kMarker16)
      return refusal.Set(e.name, L"it lies on another disk");
    out.push_back(std::move(e));
    raws.push_back(std::move(raw));
    pos += length;
  }
  if (countKnown && directory.size() - pos >= 4 &&
      Get(directory.data() + pos, 4) == kCentralSignature)
    return refusal.Set(L"", platform::Format(L"its central directory holds more entries than the "
                                             L"%I64u its end record declares",
                                             entries));

  return true;
}

}  // namespace

bool CArchiveDirectory::Read(platform::FileHandle& file, const std::wstring& archive) {
  Clear();
  std::uint64_t fileSize = 0;
  if (file.GetSize(fileSize) != platform::ERROR_SUCCESS)
    return Refuse(L"", L"its size cannot be read");
  if (fileSize < kEndSize) return Refuse(L"", L"it is too short for a ZIP archive");
  HeaderReader reader(file, fileSize);
  DirectoryPlace place;
  const std::wstring misplaced = LocateDirectory(reader, fileSize, place);
  if (!misplaced.empty()) return Refuse(L"", misplaced);
  const std::uint64_t base = place.base, directoryStart = place.directoryStart;
  std::vector<unsigned char> directory;
  if (!ReadDirectoryBytes(file, place, directory))
    return Refuse(L"", L"its central directory cannot be read");
  std::vector<RawName> raws;
  Refusal refusal;
  if (!ReadEntries(directory, place, archive, m_entries, raws, refusal))
    return Refuse(refusal.entry, refusal.reason);

  // The local headers, in file order: each agrees with its central header, and each entry
  // (header and data) ends before the next one begins.
  std::vector<std::size_t> order(m_entries.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
    return m_entries[a].headerOffset < m_entries[b].headerOffset ||
           (m_entries[a].headerOffset == m_entries[b].headerOffset && a < b);
  });
  std::uint64_t reached = 0;  // the end of the entries met so far
  std::size_t reachedBy = m_entries.size();
  for (std::size_t k = 0; k < order.size(); ++k) {
    EntryInfo& e = m_entries[order[k]];
    const RawName& raw = raws[order[k]];
    if (e.headerOffset > directoryStart - base)
      return Refuse(e.name, L"its local header offset lies past the central directory");
    const std::uint64_t header = base + e.headerOffset;
    if (reachedBy < m_entries.size() && header < reached) {
      const EntryInfo& other = m_entries[reachedBy];
      return Refuse(e.name,
                    header == other.headerOffset
                        ? L"it shares its data with entry = " + other.name
                        : L"its local header lies inside the data of entry = " + other.name);
    }
    const std::uint64_t next =
        k + 1 < order.size() ? base + m_entries[order[k + 1]].headerOffset : directoryStart;
    const std::size_t expected = kLocalSize + raw.name.size() + raw.extraLength + 64;
    const unsigned char* l = reader.At(
        header, kLocalSize, next >= header && next - header <= kNearby ? kWindow : expected);
    if (!l || Get(l, 4) != kLocalSignature)
      return Refuse(e.name,
                    platform::Format(L"its local header is missing at offset %I64u", header));
    unsigned char fixed[kLocalSize];
    std::memcpy(fixed, l, kLocalSize);
    const auto nameLength = static_cast<std::size_t>(Get(fixed + 26, 2));
    const auto extraLength = static_cast<std::size_t>(Get(fixed + 28, 2));
    const unsigned char* whole = reader.At(header, kLocalSize + nameLength + extraLength, expected);
    if (!whole) return Refuse(e.name, L"its local header runs past the end of the file");
    const unsigned flags = static_cast<unsigned>(Get(fixed + 6, 2));
    const std::string name(reinterpret_cast<const char*>(whole + kLocalSize), nameLength);
    if (name != raw.name)
      return Refuse(e.name, L"its local header names " + DecodeName(name, flags));
    const int method = static_cast<int>(Get(fixed + 8, 2));
    if (method != e.method)
      return Refuse(e.name, platform::Format(L"its local header declares method %d, the "
                                             L"directory %d",
                                             method, e.method));
    bool complete = false;
    const Zip64Values local = ReadZip64(whole + kLocalSize + nameLength, extraLength,
                                        {Get(fixed + 22, 4), Get(fixed + 18, 4), 0}, complete);
    // With a data descriptor the local header may leave a size at 0 (the one it did not know).
    const bool descriptor = (flags & kDescriptorFlag) != 0;
    if (local.packed != e.packedSize && !(descriptor && local.packed == 0))
      return Refuse(e.name, platform::Format(L"its local header declares %I64u bytes packed, "
                                             L"the directory %I64u",
                                             local.packed, e.packedSize));
    if (local.unpacked != e.unpackedSize && !(descriptor && local.unpacked == 0))
      return Refuse(e.name, platform::Format(L"its local header declares %I64u bytes "
                                             L"unpacked, the directory %I64u",
                                             local.unpacked, e.unpackedSize));
    e.headerOffset = header;
    e.dataOffset = header + kLocalSize + nameLength + extraLength;
    if (e.dataOffset > directoryStart || e.packedSize > directoryStart - e.dataOffset)
      return Refuse(e.name, L"its data runs into the central directory");
    if (reachedBy == m_entries.size() || e.dataOffset + e.packedSize > reached) {
      reached = e.dataOffset + e.packedSize;
      reachedBy = order[k];
    }
  }

  m_byName.reserve(m_entries.size());
  for (const EntryInfo& e : m_entries) m_byName.emplace(e.name, e.index);
  return true;
}

}  // namespace DataStorage
