// The directory of a package archive, read and checked before anything is unpacked.
//
// The end record is found at the end of the file; whenever one of its fields holds its ZIP64
// marker (0xFFFF, 0xFFFFFFFF) the ZIP64 end record is read in its place. Then every central
// entry, and every entry's local header, which must agree with its central one on the name,
// the method and the sizes. An archive is refused as a whole, with the entry and the reason,
// when its entries overlap in the file (the data of one entry holds the header of another, two
// entries name the same data), when an entry is in a method the unpacker cannot read, or when
// the directory cannot be read at all: such an archive is never taken for an empty one.
//
// Only headers are read, never the entries' data: the central directory once, then the local
// headers in file order (the sort makes it O(entries log entries)).
//
// Names: the Unicode path extra field (0x7075) gives the name when its CRC is the one of the
// header's name; else a name flagged UTF-8 (general purpose bit 11) is read as UTF-8; else the
// name is in the thread's ANSI code page. "/" becomes "\".
#pragma once

#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Win32Errors.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace DataStorage {

// What the unpacker knows of one entry.
struct EntryInfo {
  std::wstring name;  // stored name in wide form, "/" turned into "\"
  std::uint64_t packedSize = 0;
  std::uint64_t unpackedSize = 0;
  std::uint16_t dosDate = 0;
  std::uint16_t dosTime = 0;
  platform::DWORD attributes = 0;  // DOS attributes of the entry (0 when it has none)
  bool isDirectory = false;
  std::uint32_t crc = 0;
  int method = 0;  // 0 stored, 8 deflated
  bool encrypted = false;
  // Where it lies: its number in archive order, its central header as minizip counts it (from
  // the directory's declared offset), its local header and its data (offsets in the file).
  std::uint64_t index = 0;
  std::uint64_t directoryPos = 0;
  std::uint64_t headerOffset = 0;
  std::uint64_t dataOffset = 0;
};

// The name of a compression method for messages: "deflate", "Deflate64", ... or "unknown".
const wchar_t* MethodName(int method);

class CArchiveDirectory {
 public:
  // Reads and checks the directory of the archive open in `file` (`archive` names it in log
  // lines). False when it is refused; RefusedEntry() and Reason() then say why.
  bool Read(platform::FileHandle& file, const std::wstring& archive);
  void Clear();

  const std::vector<EntryInfo>& Entries() const { return m_entries; }
  // The first entry in archive order named `name` (without regard to case, "/" and "\" alike);
  // Entries().size() when there is none.
  std::size_t Find(const std::wstring& name) const;

  // The entry refused (empty when the archive itself is) and the reason, in log form.
  const std::wstring& RefusedEntry() const { return m_refusedEntry; }
  const std::wstring& Reason() const { return m_reason; }

 private:
  bool Refuse(const std::wstring& entry, const std::wstring& reason);

  std::vector<EntryInfo> m_entries;
  std::unordered_map<std::wstring, std::size_t, platform::NoCaseHash, platform::NoCaseEqual>
      m_byName;
  std::wstring m_refusedEntry;
  std::wstring m_reason;
};

}  // namespace DataStorage
