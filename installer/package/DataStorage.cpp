#include "package/DataStorage.h"

#include "package/LogSink.h"
#include "package/RunFolder.h"
#include "package/ZipFileAccess.h"
#include "platform/Format.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Restart.h"
#include "platform/Text.h"
#include "platform/Time.h"

#include <unzip.h>
#include <zlib.h>
#include <zip.h>

#include <algorithm>
#include <vector>

namespace DataStorage {

namespace {

// Size of the copy buffer between an entry and its file.
constexpr std::size_t kCopyBlock = 64 * 1024;
constexpr platform::DWORD kEntryAttributes =
    platform::FILE_ATTRIBUTE_READONLY | platform::FILE_ATTRIBUTE_HIDDEN |
    platform::FILE_ATTRIBUTE_SYSTEM | platform::FILE_ATTRIBUTE_ARCHIVE;

std::wstring BackslashName(std::wstring name) {
  for (auto& c : name)
    if (c == L'/') c = L'\\';
  return name;
}

std::wstring FileNameOf(const std::wstring& name) {
  size_t slash = name.rfind(L'\\');
  return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.rfind(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool MakeFolder(const std::wstring& folder) {
  if (folder.empty()) return true;
  platform::DWORD rc = platform::CreateDirectoryWithParents(folder);
  return rc == platform::ERROR_SUCCESS ||
         (rc == platform::ERROR_ALREADY_EXISTS && platform::PathIsDirectoryW(folder));
}

bool RemoveFileNow(const std::wstring& path) {
  platform::DWORD attrs = platform::GetFileAttributesW(path);
  if (attrs != platform::INVALID_FILE_ATTRIBUTES && (attrs & platform::FILE_ATTRIBUTE_READONLY))
    platform::SetFileAttributesW(path, platform::FILE_ATTRIBUTE_NORMAL);
  return platform::DeleteFileW(path) == platform::ERROR_SUCCESS;
}

// Puts the whole new file `fresh` in the place of `target`. A read-only, hidden or system
// target is replaced too; when the move fails it keeps its attributes.
bool ReplaceFileWith(const std::wstring& target, const std::wstring& fresh) {
  if (platform::MoveFileExW(fresh, target, platform::MOVEFILE_REPLACE_EXISTING) ==
      platform::ERROR_SUCCESS)
    return true;
  constexpr platform::DWORD kProtected = platform::FILE_ATTRIBUTE_READONLY |
                                         platform::FILE_ATTRIBUTE_HIDDEN |
                                         platform::FILE_ATTRIBUTE_SYSTEM;
  const platform::DWORD attrs = platform::GetFileAttributesW(target);
  if (attrs == platform::INVALID_FILE_ATTRIBUTES || (attrs & platform::FILE_ATTRIBUTE_DIRECTORY) ||
      !(attrs & kProtected))
    return false;
  platform::SetFileAttributesW(target, platform::FILE_ATTRIBUTE_NORMAL);
  if (platform::MoveFileExW(fresh, target, platform::MOVEFILE_REPLACE_EXISTING) ==
      platform::ERROR_SUCCESS)
    return true;
  platform::SetFileAttributesW(target, attrs);
  return false;
}

}  // namespace

bool IsSafeEntryName(const std::wstring& raw) {
  std::wstring name = BackslashName(raw);
  if (name.empty() || name[0] == L'\\' || name.find(L':') != std::wstring::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find(L'\\', start);
    if (end == std::wstring::npos) end = name.size();
    // Windows drops trailing dots and blanks of an element: "..  " and "..." mean "..".
    std::wstring element = name.substr(start, end - start);
    while (!element.empty() && (element.back() == L' ' || element.back() == L'.') &&
           element != L"..")
      element.pop_back();
    if (element == L".." || (element.empty() && end > start)) return false;
    start = end + 1;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// CUnzipper

struct CUnzipper::Inflater {
  z_stream z{};
  bool ready = false;  // z was initialised and must be ended
  ~Inflater() {
    if (ready) inflateEnd(&z);
  }
};

CUnzipper::CUnzipper() = default;

CUnzipper::~CUnzipper() { Close(); }

bool CUnzipper::Open(const std::wstring& archive) {
  Close();
  if (m_file.Open(archive, platform::GENERIC_READ, platform::FILE_SHARE_READ,
                  platform::OPEN_EXISTING) != platform::ERROR_SUCCESS)
    return false;
  if (!m_directory.Read(m_file, archive)) {
    const std::wstring& entry = m_directory.RefusedEntry();
    CommonTools::LogLine(
        CommonTools::LogLevel::Error,
        entry.empty() ? L"CUnzipper::Open " + archive + L" is refused: " + m_directory.Reason()
                      : L"CUnzipper::Open entry = " + entry + L" in " + archive + L" is refused: " +
                            m_directory.Reason());
    Close();
    return false;
  }
  // minizip holds the archive too: what it cannot open is not opened.
  zlib_filefunc64_def functions = MachineFileFunctions();
  unzFile zip = unzOpen2_64(archive.c_str(), &functions);
  if (!zip) {
    CommonTools::LogLine(CommonTools::LogLevel::Error,
                         L"CUnzipper::Open " + archive + L" is refused: it cannot be read");
    Close();
    return false;
  }
  m_zip = zip;
  m_archive = archive;
  m_current = 0;
  return true;
}

void CUnzipper::Close() {
  m_writer.Reset();
  m_inflater.reset();
  if (m_zip) {
    unzClose(static_cast<unzFile>(m_zip));
    m_zip = nullptr;
  }
  m_file.Close();
  m_blockLength = 0;
  m_directory.Clear();
  m_current = 0;
  m_archive.clear();
}

void CUnzipper::BeginBatch() {
  m_writer.Reset();
  m_writeFailure = platform::ERROR_SUCCESS;
  m_knownFolders.clear();
  m_freshFolders.clear();
}

bool CUnzipper::EnsureFolder(const std::wstring& folder) {
  if (folder.empty() || m_knownFolders.count(folder)) return true;
  if (platform::PathIsDirectoryW(folder)) {
    m_knownFolders.insert(folder);
    return true;
  }
  if (!MakeFolder(folder)) return false;
  m_knownFolders.insert(folder);
  m_freshFolders.insert(folder);
  m_createdFolders.insert(folder);
  return true;
}

void CUnzipper::SetOverwriteName(const std::wstring& name) {
  m_overwriteName = platform::ToUpper(platform::Trim(name));
}

bool CUnzipper::GoToFirst() {
  m_current = 0;
  return m_zip && !Entries().empty();
}

bool CUnzipper::GoToNext() {
  if (!m_zip || m_current >= Entries().size()) return false;
  return ++m_current < Entries().size();
}

bool CUnzipper::GetCurrentInfo(EntryInfo& info) {
  if (!m_zip || m_current >= Entries().size()) return false;
  info = Entries()[m_current];
  return true;
}

bool CUnzipper::Locate(const std::wstring& name) {
  if (!m_zip) return false;
  const std::size_t found = m_directory.Find(name);
  if (found >= Entries().size()) return false;
  m_current = found;
  return true;
}

bool CUnzipper::KeepExisting(const std::wstring& target, const EntryInfo& info) {
  platform::FileInfo existing;
  if (platform::GetFileAttributesExW(target, existing) != platform::ERROR_SUCCESS) return false;
  if (existing.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) return false;
  CommonTools::LogLine(CommonTools::LogLevel::Info,
                       L"CUnzipper::UnzipFile may file = " + target + L" be overwritten?");
  if (!m_overwriteName.empty()) {
    std::wstring file = L"|" + platform::ToUpper(FileNameOf(info.name)) + L"|";
    std::wstring full = L"|" + platform::ToUpper(info.name) + L"|";
    if (m_overwriteName == file || m_overwriteName == full) return false;
  }
  platform::FileTime local = 0;
  if (!platform::DosDateTimeToFileTime(info.dosDate, info.dosTime, local)) return false;
  platform::FileTime entryTime = platform::LocalFileTimeToFileTime(local);
  bool later = existing.lastWriteTime > entryTime;
  bool same = existing.lastWriteTime == entryTime && existing.size == info.unpackedSize;
  if (!later && !same) return false;
  platform::SetFileAttributesW(target,
                               info.attributes ? info.attributes : platform::FILE_ATTRIBUTE_NORMAL);
  // The trailing blank of this line is part of the log text that readers match; keep it.
  CommonTools::LogLine(CommonTools::LogLevel::Warning,
                       L"CUnzipper::UnzipFile File = " + target +
                           L" is NOT UPDATED: file is later than file from ZIP or not changed ");
  return true;
}

std::size_t CUnzipper::ReadArchive(std::uint64_t offset, const char*& data, std::size_t size) {
  if (offset < m_blockStart || offset >= m_blockStart + m_blockLength) {
    if (m_block.size() < kCopyBlock) m_block.resize(kCopyBlock);
    m_blockStart = offset;
    m_blockLength = 0;
    if (m_file.Seek(static_cast<std::int64_t>(offset), platform::FILE_BEGIN) !=
        platform::ERROR_SUCCESS)
      return 0;
    while (m_blockLength < m_block.size()) {
      std::size_t done = 0;
      if (m_file.Read(m_block.data() + m_blockLength, m_block.size() - m_blockLength, done) !=
              platform::ERROR_SUCCESS ||
          done == 0)
        break;
      m_blockLength += done;
    }
  }
  const auto at = static_cast<std::size_t>(offset - m_blockStart);
  data = m_block.data() + at;
  return std::min(size, m_blockLength - at);
}

bool CUnzipper::ReadEntry(const EntryInfo& info, const std::wstring* password, const Sink& sink,
                          bool& oversized) {
  oversized = false;
  if (!m_zip || !m_file.IsOpen() || info.encrypted) return false;
  const bool deflated = info.method == Z_DEFLATED;
  if (!deflated && info.method != 0) return false;
  if (m_inflated.size() < kCopyBlock) m_inflated.resize(kCopyBlock);
  // One inflate stream serves every entry of the archive, reset for each: its state and window
  // are not made and freed per entry.
  z_stream* zs = nullptr;
  if (deflated) {
    if (!m_inflater) {
      auto made = std::make_unique<Inflater>();
      if (inflateInit2(&made->z, -MAX_WBITS) != Z_OK) return false;
      made->ready = true;
      m_inflater = std::move(made);
    } else if (inflateReset(&m_inflater->z) != Z_OK) {
      m_inflater.reset();
      return false;
    }
    zs = &m_inflater->z;
  }
  z_stream none{};  // a stored entry is copied as it stands
  z_stream& z = zs ? *zs : none;
  std::uint64_t at = info.dataOffset, packedLeft = info.packedSize, written = 0;
  uLong crc = crc32(0L, Z_NULL, 0);
  // An empty entry may have no deflate stream at all.
  bool ok = true, ended = !deflated || packedLeft == 0;
  // Never more than the entry declares: the free-space check counted the declared sizes.
  auto emit = [&](const char* p, std::size_t n) {
    if (n > info.unpackedSize - written) {
      oversized = true;
      return false;
    }
    written += n;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(p), static_cast<uInt>(n));
    return n == 0 || sink(p, n);
  };
  while (ok && packedLeft > 0 && !(deflated && ended)) {
    const char* data = nullptr;
    const std::size_t n = ReadArchive(
        at, data, static_cast<std::size_t>(std::min<std::uint64_t>(kCopyBlock, packedLeft)));
    if (n == 0) {
      ok = false;  // the file ends (or cannot be read) before the entry does
      break;
    }
    at += n;
    packedLeft -= n;
    if (!deflated) {
      ok = emit(data, n);
      continue;
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = reinterpret_cast<Bytef*>(m_inflated.data());
      z.avail_out = static_cast<uInt>(m_inflated.size());
      const int rc = inflate(&z, Z_NO_FLUSH);
      const std::size_t produced = m_inflated.size() - z.avail_out;
      if (rc == Z_BUF_ERROR && produced == 0) break;  // wants more input
      if (rc != Z_OK && rc != Z_STREAM_END) {
        ok = false;
        break;
      }
      ok = emit(m_inflated.data(), produced);
      ended = rc == Z_STREAM_END;
    } while (ok && !ended && (z.avail_in > 0 || z.avail_out == 0));
  }
  return ok && ended && written == info.unpackedSize && static_cast<std::uint32_t>(crc) == info.crc;
}

bool CUnzipper::WriteFailed(const std::wstring& target, platform::DWORD status) {
  m_writeFailure = status;
  CommonTools::LogLine(CommonTools::LogLevel::Error, L"CUnzipper::UnzipFile File = " + target +
                                                         L" is not written: " +
                                                         platform::SystemErrorText(status));
  CommonTools::SetCurrentFile(target);
  return false;
}

bool CUnzipper::CopyEntry(const std::wstring& target, const EntryInfo& info,
                          const std::wstring* password) {
  platform::FileTime lastWrite = 0;
  {
    platform::FileTime local = 0;
    if (platform::DosDateTimeToFileTime(info.dosDate, info.dosTime, local))
      lastWrite = platform::LocalFileTimeToFileTime(local);
  }
  // A new file has the archive attribute; an entry's own attributes replace it. An entry
  // without DOS attributes (packed on another system) leaves the new file's.
  const bool ownAttributes =
      info.attributes != 0 && info.attributes != platform::FILE_ATTRIBUTE_ARCHIVE;
  bool oversized = false;
  // A damaged entry is a warning here; a run that needs the entry fails with its own result.
  auto NotUnpacked = [&] {
    CommonTools::LogLine(CommonTools::LogLevel::Warning,
                         L"CUnzipper::UnzipFile File = " + target +
                             (oversized ? L" is not unpacked: the entry holds more than it declares"
                                        : L" is not unpacked: the entry cannot be read"));
  };

  // A name that is free is written unnamed and appears whole. A file in the way is replaced
  // only by a whole new one, written the same way beside it: a write that fails (a full disk)
  // leaves the file as it was. Anything else (a name or volume the fast way does not take, a
  // file that cannot be replaced) goes through a handle.
  const platform::DWORD attributes =
      ownAttributes ? info.attributes : platform::FILE_ATTRIBUTE_ARCHIVE;
  std::wstring beside;
  platform::DWORD begun = m_writer.Begin(target, attributes);
  if (begun == platform::ERROR_FILE_EXISTS) {
    beside = target + L".~new";
    begun = m_writer.Begin(beside, attributes);
  }
  if (begun == platform::ERROR_SUCCESS) {
    m_createdFiles.insert(target);
    platform::DWORD written = platform::ERROR_SUCCESS;
    const bool ok = ReadEntry(
        info, password,
        [this, &written](const char* p, std::size_t n) {
          written = m_writer.Write(p, n);
          return written == platform::ERROR_SUCCESS;
        },
        oversized);
    if (!ok) {
      m_writer.Abandon();
      m_createdFiles.erase(target);
      if (written != platform::ERROR_SUCCESS) return WriteFailed(target, written);
      NotUnpacked();
      return false;
    }
    const platform::DWORD named = m_writer.Finish(lastWrite);
    if (named == platform::ERROR_SUCCESS && beside.empty()) return true;
    if (named == platform::ERROR_SUCCESS) {
      if (ReplaceFileWith(target, beside)) return true;
      RemoveFileNow(beside);
    }
    // Taken meanwhile, its folder gone, or not to be named this way: the entry is written
    // again through a handle below, which reports what stands in the way.
    m_createdFiles.erase(target);
    if (named == platform::ERROR_PATH_NOT_FOUND) m_writer.Reset();
  }

  platform::FileHandle file;
  platform::DWORD rc = file.Open(target, platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS);
  if (rc != platform::ERROR_SUCCESS) {
    // A read-only (or hidden or system) copy of an earlier installation is replaced.
    platform::DWORD attrs = platform::GetFileAttributesW(target);
    constexpr platform::DWORD kProtected = platform::FILE_ATTRIBUTE_READONLY |
                                           platform::FILE_ATTRIBUTE_HIDDEN |
                                           platform::FILE_ATTRIBUTE_SYSTEM;
    if (attrs != platform::INVALID_FILE_ATTRIBUTES &&
        !(attrs & platform::FILE_ATTRIBUTE_DIRECTORY) && (attrs & kProtected)) {
      platform::SetFileAttributesW(target, platform::FILE_ATTRIBUTE_NORMAL);
      platform::DeleteFileW(target);
      rc = file.Open(target, platform::GENERIC_WRITE, 0, platform::CREATE_ALWAYS);
    }
  }
  if (rc != platform::ERROR_SUCCESS) {
    // "is not create" is the log's established wording (not "created"); keep it as it is.
    CommonTools::LogLine(CommonTools::LogLevel::Error,
                         L"CUnzipper::UnzipFile File = " + target + L" is not create");
    CommonTools::SetCurrentFile(target);
    CommonTools::RaiseRunResult(CommonTools::irCreateFile);
  }

  m_createdFiles.insert(target);
  platform::DWORD written = platform::ERROR_SUCCESS;
  bool ok = ReadEntry(
      info, password,
      [&file, &written](const char* p, std::size_t n) {
        written = file.Write(p, n);
        return written == platform::ERROR_SUCCESS;
      },
      oversized);
  if (ok && lastWrite != 0) file.SetLastWriteTime(lastWrite);
  file.Close();
  if (!ok) {
    // A partial file would later count as "newer" than the archive's: it goes.
    if (written == platform::ERROR_SUCCESS) NotUnpacked();
    if (RemoveFileNow(target)) m_createdFiles.erase(target);
    if (written != platform::ERROR_SUCCESS) return WriteFailed(target, written);
    return false;
  }
  if (ownAttributes) platform::SetFileAttributesW(target, info.attributes);
  return true;
}

bool CUnzipper::UnzipFile(const std::wstring* destination, bool flatten,
                          const std::wstring* password, std::wstring* target,
                          const EntryInfo* current) {
  if (!m_zip) return false;
  std::wstring dest = destination ? *destination : m_root;
  EntryInfo read;
  if (!current && !GetCurrentInfo(read)) return false;
  const EntryInfo& info = current ? *current : read;
  if (!flatten && !IsSafeEntryName(info.name)) {
    CommonTools::LogLine(CommonTools::LogLevel::Warning, L"CUnzipper::UnzipFile entry = " +
                                                             info.name + L" leads outside " + dest +
                                                             L" and is refused");
    return false;
  }
  if (!EnsureFolder(dest)) return false;
  if (info.isDirectory) {
    if (flatten) return true;
    std::wstring folder = JoinName(dest, info.name);
    if (target) *target = folder;
    return EnsureFolder(folder);
  }
  std::wstring name = flatten ? FileNameOf(info.name) : info.name;
  if (name.empty() || !IsSafeEntryName(name)) {
    CommonTools::LogLine(CommonTools::LogLevel::Warning, L"CUnzipper::UnzipFile entry = " +
                                                             info.name + L" leads outside " + dest +
                                                             L" and is refused");
    return false;
  }
  std::wstring path = JoinName(dest, name);
  if (target) *target = path;
  // In a folder this batch created, only a file the batch wrote itself can be in the way.
  std::wstring folder = FolderOf(path);
  bool mayExist = !m_freshFolders.count(folder) || m_createdFiles.count(path);
  if (mayExist && KeepExisting(path, info)) return true;
  if (!EnsureFolder(folder)) {
    CommonTools::LogLine(CommonTools::LogLevel::Error,
                         L"CUnzipper::UnzipFile File = " + path + L" is not create");
    CommonTools::SetCurrentFile(path);
    CommonTools::RaiseRunResult(CommonTools::irCreateFile);
  }
  return CopyEntry(path, info, password);
}

// ---------------------------------------------------------------------------------------------
// CZipper

CZipper::CZipper() = default;

CZipper::~CZipper() { Close(); }

bool CZipper::Open(const std::wstring& archive, bool append) {
  Close();
  zlib_filefunc64_def functions = MachineFileFunctions();
  const bool adding = append && platform::PathFileExistsW(archive);
  m_entries = 0;
  if (adding) {
    // The entries it has already count for the end records.
    if (unzFile existing = unzOpen2_64(archive.c_str(), &functions)) {
      unz_global_info64 global{};
      if (unzGetGlobalInfo64(existing, &global) == UNZ_OK) m_entries = global.number_entry;
      unzClose(existing);
    }
  }
  zipFile zip = zipOpen2_64(archive.c_str(), adding ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE,
                            nullptr, &functions);
  if (!zip) return false;
  m_zip = zip;
  m_archive = archive;
  return true;
}

namespace {

void PutLittle(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t GetLittle(const char* p, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

// An archive of more than 65,535 entries needs the ZIP64 end records: the 16-bit entry counts
// of the classic end record cannot hold its number. When the writer left them out, they are put
// in front of the end record, which then says "see ZIP64" (0xFFFF).
bool AddZip64EndRecords(const std::wstring& archive, std::uint64_t entries) {
  constexpr std::uint32_t kEnd = 0x06054b50, kLocator = 0x07064b50, kEnd64 = 0x06064b50;
  constexpr std::size_t kEndSize = 22, kLocatorSize = 20;
  platform::FileHandle file;
  if (file.Open(archive, platform::GENERIC_READ | platform::GENERIC_WRITE, 0,
                platform::OPEN_EXISTING) != platform::ERROR_SUCCESS)
    return false;
  std::uint64_t size = 0;
  if (file.GetSize(size) != platform::ERROR_SUCCESS || size < kEndSize + kLocatorSize) return false;
  std::string tail(kEndSize + kLocatorSize, '\0');
  std::size_t done = 0;
  const std::uint64_t tailStart = size - tail.size();
  if (file.Seek(static_cast<std::int64_t>(tailStart), platform::FILE_BEGIN) !=
          platform::ERROR_SUCCESS ||
      file.Read(tail.data(), tail.size(), done) != platform::ERROR_SUCCESS || done != tail.size())
    return false;
  const char* end = tail.data() + kLocatorSize;
  if (GetLittle(end, 4) != kEnd) return false;             // the writer's own end record
  if (GetLittle(tail.data(), 4) == kLocator) return true;  // it wrote the ZIP64 ones itself
  const std::uint64_t cdSize = GetLittle(end + 12, 4), cdOffset = GetLittle(end + 16, 4);
  const std::uint64_t end64Offset = size - kEndSize;
  std::string records;
  PutLittle(records, kEnd64, 4);
  PutLittle(records, 44, 8);  // size of the rest of this record
  PutLittle(records, 45, 2);  // made by: version 4.5
  PutLittle(records, 45, 2);  // needed: version 4.5
  PutLittle(records, 0, 4);   // this disk
  PutLittle(records, 0, 4);   // disk of the central directory
  PutLittle(records, entries, 8);
  PutLittle(records, entries, 8);
  PutLittle(records, cdSize, 8);
  PutLittle(records, cdOffset, 8);
  PutLittle(records, kLocator, 4);
  PutLittle(records, 0, 4);
  PutLittle(records, end64Offset, 8);
  PutLittle(records, 1, 4);  // one disk
  PutLittle(records, kEnd, 4);
  PutLittle(records, 0, 2);
  PutLittle(records, 0, 2);
  PutLittle(records, 0xFFFF, 2);
  PutLittle(records, 0xFFFF, 2);
  PutLittle(records, cdSize, 4);
  PutLittle(records, cdOffset, 4);
  PutLittle(records, 0, 2);  // no comment
  return file.Seek(static_cast<std::int64_t>(end64Offset), platform::FILE_BEGIN) ==
             platform::ERROR_SUCCESS &&
         file.Write(records.data(), records.size()) == platform::ERROR_SUCCESS &&
         file.Close() == platform::ERROR_SUCCESS;
}

}  // namespace

bool CZipper::Close() {
  if (!m_zip) return true;
  bool ok = zipClose(static_cast<zipFile>(m_zip), nullptr) == ZIP_OK;
  m_zip = nullptr;
  if (ok && m_entries > 0xFFFF) ok = AddZip64EndRecords(m_archive, m_entries);
  m_archive.clear();
  return ok;
}

bool CZipper::OpenEntry(const std::wstring& stored, platform::FileTime lastWrite,
                        platform::DWORD attributes, std::uint64_t size) {
  zip_fileinfo info{};
  std::uint16_t dosDate = 0, dosTime = 0;
  if (!platform::FileTimeToDosDateTime(platform::FileTimeToLocalFileTime(lastWrite), dosDate,
                                       dosTime)) {
    dosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01
    dosTime = 0;
  }
  info.dosDate = (static_cast<uLong>(dosDate) << 16) | dosTime;
  info.external_fa = attributes & kEntryAttributes & ~platform::FILE_ATTRIBUTE_READONLY;

  std::string name;
  for (wchar_t c : stored)
    name += c == L'\\' ? std::string("/")
                       : platform::WideToAnsi(std::wstring(1, c), platform::CP_THREAD_ACP);
  zipFile zip = static_cast<zipFile>(m_zip);
  int zip64 = size >= 0xFFFFFFFFull ? 1 : 0;
  if (zipOpenNewFileInZip4_64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                              Z_DEFAULT_STRATEGY, nullptr, 0,
                              0 /* made by FAT: the attributes are DOS ones */, 0, zip64) != ZIP_OK)
    return false;
  ++m_entries;
  return true;
}

bool CZipper::AddData(const std::wstring& storedName, std::string_view bytes,
                      platform::FileTime lastWrite, platform::DWORD attributes) {
  if (!m_zip) return false;
  std::wstring stored = BackslashName(storedName);
  if (stored.empty() || !IsSafeEntryName(stored)) return false;
  if (!OpenEntry(stored, lastWrite, attributes, bytes.size())) return false;
  zipFile zip = static_cast<zipFile>(m_zip);
  bool ok = true;
  for (std::size_t off = 0; off < bytes.size() && ok; off += kCopyBlock) {
    std::size_t n = std::min(kCopyBlock, bytes.size() - off);
    ok = zipWriteInFileInZip(zip, bytes.data() + off, static_cast<unsigned>(n)) == ZIP_OK;
  }
  if (zipCloseFileInZip(zip) != ZIP_OK) ok = false;
  return ok;
}

bool CZipper::AddFile(const std::wstring& rawPath, bool flatten) {
  if (!m_zip) return false;
  std::wstring path = BackslashName(rawPath);
  if (!flatten && path.rfind(L"..\\", 0) == 0) return false;
  std::wstring stored;
  std::wstring source;
  if (flatten) {
    stored = FileNameOf(path);
  } else if (path.find(L':') != std::wstring::npos) {
    std::wstring root = m_root;
    while (!root.empty() && root.back() == L'\\') root.pop_back();
    if (root.empty() || path.size() <= root.size() || !platform::StartsWithNoCase(path, root) ||
        path[root.size()] != L'\\')
      return false;
    stored = path.substr(root.size() + 1);
  } else {
    stored = path.rfind(L".\\", 0) == 0 ? path.substr(2) : path;
  }
  size_t first = stored.find_first_not_of(L" \\");
  size_t last = stored.find_last_not_of(L" \\");
  stored = first == std::wstring::npos ? L"" : stored.substr(first, last - first + 1);
  if (stored.empty() || (!flatten && !IsSafeEntryName(stored))) return false;
  // Relative paths are read from the root folder.
  bool relative = path.find(L':') == std::wstring::npos && !platform::PathIsUNCW(path);
  source = relative && !m_root.empty()
               ? JoinName(m_root, path.rfind(L".\\", 0) == 0 ? path.substr(2) : path)
               : path;

  platform::FileInfo fi;
  if (platform::GetFileAttributesExW(source, fi) != platform::ERROR_SUCCESS ||
      (fi.attributes & platform::FILE_ATTRIBUTE_DIRECTORY))
    return false;
  platform::FileHandle file;
  if (file.Open(source, platform::GENERIC_READ, platform::FILE_SHARE_READ,
                platform::OPEN_EXISTING) != platform::ERROR_SUCCESS)
    return false;
  if (!OpenEntry(stored, fi.lastWriteTime, fi.attributes, fi.size)) return false;
  zipFile zip = static_cast<zipFile>(m_zip);
  bool ok = true;
  std::vector<char> block(kCopyBlock);
  for (;;) {
    std::size_t done = 0;
    if (file.Read(block.data(), block.size(), done) != platform::ERROR_SUCCESS) {
      ok = false;
      break;
    }
    if (done == 0) break;
    if (zipWriteInFileInZip(zip, block.data(), static_cast<unsigned>(done)) != ZIP_OK) {
      ok = false;
      break;
    }
  }
  if (zipCloseFileInZip(zip) != ZIP_OK) ok = false;
  return ok;
}

// ---------------------------------------------------------------------------------------------
// CDataStorage

namespace {

// The nearest folder of `path` (itself or a parent) that exists.
std::wstring ExistingFolderOf(std::wstring path) {
  while (!path.empty() && !platform::PathIsDirectoryW(path)) {
    std::wstring parent = FolderOf(path);
    if (parent == path) break;
    path = parent;
  }
  return path;
}

}  // namespace

CDataStorage::CDataStorage() = default;

CDataStorage::~CDataStorage() {
  try {
    Close();
  } catch (...) {}
}

bool CDataStorage::Open(const std::wstring& path, const std::wstring* password) {
  if (m_unzipper.IsOpen() && platform::EqualsNoCase(path, m_archivePath)) return true;
  Close();
  m_password = password ? *password : L"";
  m_state = 0;
  platform::FileInfo info;
  if (path.empty() || platform::GetFileAttributesExW(path, info) != platform::ERROR_SUCCESS ||
      (info.attributes & platform::FILE_ATTRIBUTE_DIRECTORY))
    return false;
  if (info.attributes & platform::FILE_ATTRIBUTE_DEVICE) {
    // A pipe or a device would be waited on for ever; only a file can be a package.
    CommonTools::LogLine(CommonTools::LogLevel::Error,
                         L"CDataStorage::Open " + path + L" is not a regular file and is refused");
    return false;
  }
  if (!m_unzipper.Open(path)) return false;
  m_archivePath = path;
  m_state = 1;
  MakeTempFolder(path);
  m_unzipper.SetRoot(m_tempFolder);
  return true;
}

bool CDataStorage::MakeTempFolder(const std::wstring& archivePath) {
  std::wstring base(platform::PathFindFileNameW(archivePath));
  platform::PathRemoveExtensionW(base);
  const std::wstring temp = platform::GetTempPathW();
  // What runs killed on the way left there goes first.
  RemoveEndedRunFolders(temp);
  // A name of its own, made by this run: a folder found under some other name (an earlier
  // run's, or planted) is never used, whatever it holds.
  bool noted = false;
  const std::wstring folder = MakeRunFolder(temp, base, noted);
  if (!folder.empty()) {
    m_tempFolder = folder;
    m_ownTempFolder = true;
    m_tempFolderNoted = noted;
    return true;
  }
  CommonTools::LogLine(CommonTools::LogLevel::Error,
                       L"CDataStorage::Open no temporary folder can be made in " + temp);
  m_tempFolder.clear();
  m_ownTempFolder = false;
  return false;
}

void CDataStorage::RemoveExtracted() {
  if (!m_ownTempFolder || m_tempFolder.empty()) return;
  const std::wstring prefix = m_tempFolder + L"\\";
  std::set<std::wstring, platform::NoCaseLess> folders;
  for (const std::wstring& file : m_unzipper.CreatedFiles()) {
    if (!platform::StartsWithNoCase(file, prefix)) continue;
    for (std::wstring f = FolderOf(file); f.size() > m_tempFolder.size(); f = FolderOf(f))
      folders.insert(f);
    if (!platform::PathFileExistsW(file)) continue;
    if (!RemoveFileNow(file)) platform::ScheduleFileOperation(file, L"");  // in use
  }
  for (const std::wstring& folder : m_unzipper.CreatedFolders())
    if (platform::StartsWithNoCase(folder, prefix))
      for (std::wstring f = folder; f.size() > m_tempFolder.size(); f = FolderOf(f))
        folders.insert(f);
  // Deepest first; a folder that still holds something (a file in use, or what someone else
  // put there) stays; those in use go at the next start once empty.
  std::vector<std::wstring> ordered(folders.begin(), folders.end());
  std::sort(ordered.begin(), ordered.end(),
            [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
  ordered.push_back(m_tempFolder);
  for (const std::wstring& folder : ordered) {
    if (!platform::PathIsDirectoryW(folder)) continue;
    if (platform::RemoveDirectoryW(folder) != platform::ERROR_SUCCESS)
      platform::ScheduleFileOperation(folder, L"");
  }
  if (m_tempFolderNoted) ReleaseRunFolder(m_tempFolder);
  m_tempFolderNoted = false;
  m_unzipper.ForgetCreated();
}

void CDataStorage::Close() {
  m_unzipper.Close();
  m_password.clear();
  RemoveExtracted();
  m_unzipper.ForgetCreated();
  m_tempFolder.clear();
  m_ownTempFolder = false;
  m_state = 0;
  m_archivePath.clear();
}

bool CDataStorage::FitsFreeSpace(const std::wstring& destination, std::uint64_t declared) {
  if (declared == 0) return true;
  std::wstring existing = ExistingFolderOf(destination);
  std::uint64_t free = 0;
  if (existing.empty() ||
      platform::GetDiskFreeSpaceExW(existing, &free, nullptr, nullptr) != platform::ERROR_SUCCESS)
    return true;  // no answer: the bounded writes still hold
  if (declared <= free) return true;
  m_spaceRefused = true;
  CommonTools::LogLine(
      CommonTools::LogLevel::Error,
      platform::Format(L"CDataStorage: the entries to unpack declare %I64u bytes, more than the "
                       L"%I64u bytes free at %s; nothing is unpacked",
                       declared, free, destination));
  return false;
}

bool CDataStorage::ExtractFile(const std::wstring& folder, const std::wstring& name,
                               std::wstring& path) {
  if (m_state < 1 || !m_unzipper.IsOpen()) return false;
  std::wstring destination = Destination(folder);
  if (destination.empty()) return false;
  std::wstring stored = BackslashName(name);
  if (!IsSafeEntryName(stored)) {
    CommonTools::LogLine(CommonTools::LogLevel::Warning, L"CDataStorage::ExtractFile entry = " +
                                                             name + L" leads outside " +
                                                             destination + L" and is refused");
    return false;
  }
  m_spaceRefused = false;
  m_unzipper.BeginBatch();
  if (!m_unzipper.Locate(stored)) return false;
  EntryInfo info;
  if (!m_unzipper.GetCurrentInfo(info) || !FitsFreeSpace(destination, info.unpackedSize))
    return false;
  std::wstring folderPart = FolderOf(stored);
  std::wstring target = folderPart.empty() ? destination : JoinName(destination, folderPart);
  m_state = 2;
  m_unzipper.SetOverwriteName(L"");
  if (!m_unzipper.UnzipFile(&target, true, &m_password)) return false;
  path = JoinName(destination, stored);
  return true;
}

bool CDataStorage::ExtractAll(const std::wstring& folder, std::wstring& path) {
  path = Destination(folder);
  return ExtractEntries(path, L"", L"", false);
}

bool CDataStorage::ExtractFolder(const std::wstring& folder, const std::wstring& prefix,
                                 std::wstring& path, const std::wstring& overwriteName) {
  std::wstring destination = Destination(folder);
  std::wstring wanted = BackslashName(prefix);
  path = JoinName(destination, wanted);
  return ExtractEntries(destination, wanted, overwriteName, true);
}

bool CDataStorage::ExtractEntries(const std::wstring& destination, const std::wstring& wanted,
                                  const std::wstring& overwriteName, bool showProgress) {
  if (m_state < 1 || !m_unzipper.IsOpen() || destination.empty()) return false;
  m_spaceRefused = false;
  m_unzipper.BeginBatch();
  IProgressSink* progress = showProgress ? m_progress : nullptr;
  // The entries to unpack and their declared sizes, from the directory read at the open.
  std::vector<const EntryInfo*> items;
  std::uint64_t declared = 0;
  for (const EntryInfo& info : m_unzipper.Entries()) {
    if (!platform::StartsWithNoCase(info.name, wanted)) continue;
    if (!info.isDirectory) declared += info.unpackedSize;
    items.push_back(&info);
  }
  if (!FitsFreeSpace(destination, declared)) return false;
  m_state = 2;
  m_unzipper.SetOverwriteName(overwriteName);
  bool ok = true;
  for (const EntryInfo* item : items) {
    if (progress) progress->SetProgressText(JoinName(destination, item->name));
    ok = m_unzipper.UnzipFile(&destination, false, &m_password, nullptr, item) && ok;
    // A full disk stops the batch: every later entry would fail the same way.
    if (m_unzipper.WriteFailure() != platform::ERROR_SUCCESS) break;
    if (progress) progress->StepProgress(item->unpackedSize);
  }
  m_unzipper.SetOverwriteName(L"");
  return ok;
}

bool CDataStorage::Measure(const std::wstring* prefix, std::uint64_t& count,
                           std::uint64_t& packedBytes, std::uint64_t& unpackedBytes) {
  count = packedBytes = unpackedBytes = 0;
  if (m_state < 1 || !m_unzipper.IsOpen()) return false;
  std::wstring wanted = prefix ? BackslashName(*prefix) : L"";
  for (const EntryInfo& info : m_unzipper.Entries()) {
    if (info.isDirectory || (prefix && !platform::StartsWithNoCase(info.name, wanted))) continue;
    ++count;
    packedBytes += info.packedSize;
    unpackedBytes += info.unpackedSize;
  }
  return true;
}

std::wstring JoinName(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  if (folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

bool DeleteFolderTree(const std::wstring& folder) {
  std::vector<platform::FindData> entries;
  platform::FindAll(folder + L"\\*", entries, false);
  bool ok = true;
  for (const auto& e : entries) {
    if (e.fileName == L"." || e.fileName == L"..") continue;
    std::wstring p = folder + L"\\" + e.fileName;
    if ((e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) &&
        (e.attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT)) {
      // A folder link goes as the link: what it points to is never walked.
      if (platform::RemoveDirectoryW(p) != platform::ERROR_SUCCESS) ok = false;
    } else if (e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) {
      ok = DeleteFolderTree(p) && ok;
    } else if (!RemoveFileNow(p)) {
      // In use: removed at the next start of Windows.
      platform::ScheduleFileOperation(p, L"");
      ok = false;
    }
  }
  if (platform::RemoveDirectoryW(folder) != platform::ERROR_SUCCESS) {
    if (platform::PathIsDirectoryW(folder)) platform::ScheduleFileOperation(folder, L"");
    ok = false;
  }
  return ok;
}

}  // namespace DataStorage
