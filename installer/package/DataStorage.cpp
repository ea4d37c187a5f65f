#include "package/DataStorage.h"

#include "package/LogSink.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Restart.h"
#include "platform/Text.h"
#include "platform/Time.h"

#include <unzip.h>
#include <zip.h>

#include <algorithm>
#include <vector>

namespace DataStorage {

namespace {

// Size of the copy buffer between an entry and its file.
constexpr std::size_t kCopyBlock = 64 * 1024;
// The general-purpose flag of an entry whose name is stored in UTF-8.
constexpr unsigned long kUtf8NameFlag = 0x800;
constexpr platform::DWORD kEntryAttributes =
    platform::FILE_ATTRIBUTE_READONLY | platform::FILE_ATTRIBUTE_HIDDEN |
    platform::FILE_ATTRIBUTE_SYSTEM | platform::FILE_ATTRIBUTE_ARCHIVE;

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  if (folder.back() == L'\\') return folder + name;
  return folder + L"\\" + name;
}

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

// ---------------------------------------------------------------------------------------------
// minizip's file access through the machine layer. The "file name" minizip hands over is the
// wide Windows path we gave it. No exception leaves these callbacks.

// minizip reads headers a few bytes at a time; the stream keeps a window of the file so that
// walking a large archive does not cost a system call per field.
struct Stream {
  platform::FileHandle handle;
  platform::DWORD error = platform::ERROR_SUCCESS;
  std::vector<char> window;
  std::uint64_t windowStart = 0;  // file offset of window[0]
  std::size_t windowLength = 0;
  std::uint64_t position = 0;  // the position minizip sees
  std::uint64_t handlePosition = 0;

  static constexpr std::size_t kWindow = 64 * 1024;

  bool SeekHandle(std::uint64_t to) {
    if (handlePosition == to) return true;
    platform::DWORD rc = handle.Seek(static_cast<std::int64_t>(to), platform::FILE_BEGIN);
    if (rc != platform::ERROR_SUCCESS) {
      error = rc;
      return false;
    }
    handlePosition = to;
    return true;
  }
  // Reads at the handle's position until `size` bytes or the end.
  std::size_t ReadRaw(char* p, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
      std::size_t done = 0;
      platform::DWORD rc = handle.Read(p + total, size - total, done);
      if (rc != platform::ERROR_SUCCESS) {
        error = rc;
        break;
      }
      if (done == 0) break;
      total += done;
    }
    handlePosition += total;
    return total;
  }
  std::size_t Read(char* p, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
      if (position >= windowStart && position < windowStart + windowLength) {
        std::size_t offset = static_cast<std::size_t>(position - windowStart);
        std::size_t n = std::min(size - total, windowLength - offset);
        std::copy(window.data() + offset, window.data() + offset + n, p + total);
        total += n;
        position += n;
        continue;
      }
      if (!SeekHandle(position)) break;
      if (size - total >= kWindow) {
        std::size_t n = ReadRaw(p + total, size - total);
        total += n;
        position += n;
        break;
      }
      window.resize(kWindow);
      windowStart = position;
      windowLength = ReadRaw(window.data(), kWindow);
      if (windowLength == 0) break;
    }
    return total;
  }
  bool Write(const void* p, std::size_t size) {
    windowLength = 0;
    if (!SeekHandle(position)) return false;
    platform::DWORD rc = handle.Write(p, size);
    if (rc != platform::ERROR_SUCCESS) {
      error = rc;
      return false;
    }
    position += size;
    handlePosition = position;
    return true;
  }
};

voidpf ZCALLBACK OpenStream(voidpf, const void* filename, int mode) noexcept {
  try {
    const auto* path = static_cast<const wchar_t*>(filename);
    auto stream = std::make_unique<Stream>();
    platform::DWORD rc;
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) == ZLIB_FILEFUNC_MODE_READ)
      rc = stream->handle.Open(path, platform::GENERIC_READ, platform::FILE_SHARE_READ,
                               platform::OPEN_EXISTING);
    else if (mode & ZLIB_FILEFUNC_MODE_EXISTING)
      rc = stream->handle.Open(path, platform::GENERIC_READ | platform::GENERIC_WRITE, 0,
                               platform::OPEN_EXISTING);
    else
      rc = stream->handle.Open(path, platform::GENERIC_READ | platform::GENERIC_WRITE, 0,
                               platform::CREATE_ALWAYS);
    if (rc != platform::ERROR_SUCCESS) return nullptr;
    return stream.release();
  } catch (...) {
    return nullptr;
  }
}

uLong ZCALLBACK ReadStream(voidpf, voidpf opaque, void* buf, uLong size) noexcept {
  try {
    return static_cast<uLong>(static_cast<Stream*>(opaque)->Read(static_cast<char*>(buf), size));
  } catch (...) {
    return 0;
  }
}

uLong ZCALLBACK WriteStream(voidpf, voidpf opaque, const void* buf, uLong size) noexcept {
  try {
    return static_cast<Stream*>(opaque)->Write(buf, size) ? size : 0;
  } catch (...) {
    return 0;
  }
}

ZPOS64_T ZCALLBACK TellStream(voidpf, voidpf opaque) noexcept {
  return static_cast<Stream*>(opaque)->position;
}

long ZCALLBACK SeekStream(voidpf, voidpf opaque, ZPOS64_T offset, int origin) noexcept {
  try {
    auto* s = static_cast<Stream*>(opaque);
    std::uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
      base = s->position;
    } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
      if (s->handle.GetSize(base) != platform::ERROR_SUCCESS) return -1;
    }
    s->position = base + offset;
    return 0;
  } catch (...) {
    return -1;
  }
}

int ZCALLBACK CloseStream(voidpf, voidpf opaque) noexcept {
  try {
    auto* s = static_cast<Stream*>(opaque);
    int rc = s->handle.Close() == platform::ERROR_SUCCESS ? 0 : -1;
    delete s;
    return rc;
  } catch (...) {
    return -1;
  }
}

int ZCALLBACK ErrorStream(voidpf, voidpf opaque) noexcept {
  auto* s = static_cast<Stream*>(opaque);
  return s && s->error != platform::ERROR_SUCCESS ? 1 : 0;
}

zlib_filefunc64_def MachineFileFunctions() {
  zlib_filefunc64_def f{};
  f.zopen64_file = OpenStream;
  f.zread_file = ReadStream;
  f.zwrite_file = WriteStream;
  f.ztell64_file = TellStream;
  f.zseek64_file = SeekStream;
  f.zclose_file = CloseStream;
  f.zerror_file = ErrorStream;
  f.opaque = nullptr;
  return f;
}

std::wstring EntryName(const std::string& bytes, unsigned long flags) {
  std::wstring wide = (flags & kUtf8NameFlag)
                          ? platform::FromUtf8(bytes)
                          : platform::AnsiToWide(bytes, platform::CP_THREAD_ACP);
  return BackslashName(wide);
}

bool RemoveFileNow(const std::wstring& path) {
  platform::DWORD attrs = platform::GetFileAttributesW(path);
  if (attrs != platform::INVALID_FILE_ATTRIBUTES && (attrs & platform::FILE_ATTRIBUTE_READONLY))
    platform::SetFileAttributesW(path, platform::FILE_ATTRIBUTE_NORMAL);
  return platform::DeleteFileW(path) == platform::ERROR_SUCCESS;
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

CUnzipper::CUnzipper() = default;

CUnzipper::~CUnzipper() { Close(); }

bool CUnzipper::Open(const std::wstring& archive) {
  Close();
  zlib_filefunc64_def functions = MachineFileFunctions();
  unzFile zip = unzOpen2_64(archive.c_str(), &functions);
  if (!zip) return false;
  m_zip = zip;
  m_archive = archive;
  return true;
}

void CUnzipper::Close() {
  if (m_zip) {
    unzClose(static_cast<unzFile>(m_zip));
    m_zip = nullptr;
  }
  m_archive.clear();
}

void CUnzipper::BeginBatch() {
  m_knownFolders.clear();
  m_freshFolders.clear();
  m_written.clear();
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
  return true;
}

void CUnzipper::SetOverwriteName(const std::wstring& name) {
  m_overwriteName = platform::ToUpper(platform::Trim(name));
}

bool CUnzipper::GoToFirst() {
  return m_zip && unzGoToFirstFile(static_cast<unzFile>(m_zip)) == UNZ_OK;
}

bool CUnzipper::GoToNext() {
  return m_zip && unzGoToNextFile(static_cast<unzFile>(m_zip)) == UNZ_OK;
}

bool CUnzipper::GetCurrentInfo(EntryInfo& info) {
  if (!m_zip) return false;
  unz_file_info64 fi{};
  char buffer[512];
  if (unzGetCurrentFileInfo64(static_cast<unzFile>(m_zip), &fi, buffer, sizeof buffer, nullptr, 0,
                              nullptr, 0) != UNZ_OK)
    return false;
  std::string name;
  if (fi.size_filename < sizeof buffer) {
    name.assign(buffer, fi.size_filename);
  } else {
    // A long name: read it whole rather than cut it.
    name.resize(fi.size_filename + 1);
    if (unzGetCurrentFileInfo64(static_cast<unzFile>(m_zip), &fi, name.data(),
                                static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0) != UNZ_OK)
      return false;
    name.resize(fi.size_filename);
  }
  info.name = EntryName(name, fi.flag);
  info.packedSize = fi.compressed_size;
  info.unpackedSize = fi.uncompressed_size;
  info.dosDate = static_cast<std::uint16_t>(fi.dosDate >> 16);
  info.dosTime = static_cast<std::uint16_t>(fi.dosDate & 0xFFFF);
  info.attributes = static_cast<platform::DWORD>(fi.external_fa & kEntryAttributes);
  info.isDirectory = (fi.external_fa & platform::FILE_ATTRIBUTE_DIRECTORY) != 0 ||
                     (!info.name.empty() && info.name.back() == L'\\');
  while (!info.name.empty() && info.name.back() == L'\\') info.name.pop_back();
  return true;
}

bool CUnzipper::Locate(const std::wstring& name) {
  std::wstring wanted = BackslashName(name);
  for (bool more = GoToFirst(); more; more = GoToNext()) {
    EntryInfo info;
    if (GetCurrentInfo(info) && platform::EqualsNoCase(info.name, wanted)) return true;
  }
  return false;
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

bool CUnzipper::CopyEntry(const std::wstring& target, const EntryInfo& info,
                          const std::wstring* password) {
  unzFile zip = static_cast<unzFile>(m_zip);
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

  std::string pw = password && !password->empty()
                       ? platform::WideToAnsi(*password, platform::CP_THREAD_ACP)
                       : "";
  bool ok = unzOpenCurrentFilePassword(zip, pw.empty() ? nullptr : pw.c_str()) == UNZ_OK;
  if (ok) {
    std::vector<char> block(kCopyBlock);
    for (;;) {
      int n = unzReadCurrentFile(zip, block.data(), static_cast<unsigned>(block.size()));
      if (n < 0) {
        ok = false;
        break;
      }
      if (n == 0) break;
      if (file.Write(block.data(), static_cast<std::size_t>(n)) != platform::ERROR_SUCCESS) {
        ok = false;
        break;
      }
    }
    // The CRC is checked when the entry is closed after being read to its end.
    if (unzCloseCurrentFile(zip) != UNZ_OK) ok = false;
  }
  if (ok) {
    platform::FileTime local = 0;
    if (platform::DosDateTimeToFileTime(info.dosDate, info.dosTime, local))
      file.SetLastWriteTime(platform::LocalFileTimeToFileTime(local));
  }
  file.Close();
  if (!ok) {
    // A partial file would later count as "newer" than the archive's: it goes.
    CommonTools::LogLine(
        CommonTools::LogLevel::Error,
        L"CUnzipper::UnzipFile File = " + target + L" is not unpacked: the entry cannot be read");
    RemoveFileNow(target);
    return false;
  }
  // A new file has the archive attribute; other attributes of the entry are set afterwards.
  // An entry without DOS attributes (packed on another system) leaves the new file's.
  if (info.attributes != 0 && info.attributes != platform::FILE_ATTRIBUTE_ARCHIVE)
    platform::SetFileAttributesW(target, info.attributes);
  return true;
}

bool CUnzipper::UnzipFile(const std::wstring* destination, bool flatten,
                          const std::wstring* password, std::wstring* target) {
  if (!m_zip) return false;
  std::wstring dest = destination ? *destination : m_root;
  EntryInfo info;
  if (!GetCurrentInfo(info)) return false;
  if (!flatten && !IsSafeEntryName(info.name)) {
    CommonTools::LogLine(CommonTools::LogLevel::Error, L"CUnzipper::UnzipFile entry = " +
                                                           info.name + L" leads outside " + dest +
                                                           L" and is refused");
    return false;
  }
  if (!EnsureFolder(dest)) return false;
  if (info.isDirectory) {
    if (flatten) return true;
    std::wstring folder = Join(dest, info.name);
    if (target) *target = folder;
    return EnsureFolder(folder);
  }
  std::wstring name = flatten ? FileNameOf(info.name) : info.name;
  if (name.empty() || !IsSafeEntryName(name)) {
    CommonTools::LogLine(CommonTools::LogLevel::Error, L"CUnzipper::UnzipFile entry = " +
                                                           info.name + L" leads outside " + dest +
                                                           L" and is refused");
    return false;
  }
  std::wstring path = Join(dest, name);
  if (target) *target = path;
  // In a folder this batch created, only a file the batch wrote itself can be in the way.
  std::wstring folder = FolderOf(path);
  bool mayExist = !m_freshFolders.count(folder) || m_written.count(path);
  if (mayExist && KeepExisting(path, info)) return true;
  m_written.insert(path);
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
  int mode =
      append && platform::PathFileExistsW(archive) ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE;
  zipFile zip = zipOpen2_64(archive.c_str(), mode, nullptr, &functions);
  if (!zip) return false;
  m_zip = zip;
  return true;
}

bool CZipper::Close() {
  if (!m_zip) return true;
  bool ok = zipClose(static_cast<zipFile>(m_zip), nullptr) == ZIP_OK;
  m_zip = nullptr;
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
               ? Join(m_root, path.rfind(L".\\", 0) == 0 ? path.substr(2) : path)
               : path;

  platform::FileInfo fi;
  if (platform::GetFileAttributesExW(source, fi) != platform::ERROR_SUCCESS ||
      (fi.attributes & platform::FILE_ATTRIBUTE_DIRECTORY))
    return false;
  platform::FileHandle file;
  if (file.Open(source, platform::GENERIC_READ, platform::FILE_SHARE_READ,
                platform::OPEN_EXISTING) != platform::ERROR_SUCCESS)
    return false;

  zip_fileinfo info{};
  std::uint16_t dosDate = 0, dosTime = 0;
  if (!platform::FileTimeToDosDateTime(platform::FileTimeToLocalFileTime(fi.lastWriteTime), dosDate,
                                       dosTime)) {
    dosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01
    dosTime = 0;
  }
  info.dosDate = (static_cast<uLong>(dosDate) << 16) | dosTime;
  info.external_fa = fi.attributes & kEntryAttributes & ~platform::FILE_ATTRIBUTE_READONLY;

  std::string name;
  for (wchar_t c : stored)
    name += c == L'\\' ? std::string("/")
                       : platform::WideToAnsi(std::wstring(1, c), platform::CP_THREAD_ACP);
  zipFile zip = static_cast<zipFile>(m_zip);
  int zip64 = fi.size >= 0xFFFFFFFFull ? 1 : 0;
  if (zipOpenNewFileInZip4_64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                              Z_DEFAULT_STRATEGY, nullptr, 0,
                              0 /* made by FAT: the attributes are DOS ones */, 0, zip64) != ZIP_OK)
    return false;
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
  if (path.empty() || !platform::PathFileExistsW(path) || platform::PathIsDirectoryW(path))
    return false;
  if (!m_unzipper.Open(path)) return false;
  m_archivePath = path;
  m_state = 1;
  std::wstring base(platform::PathFindFileNameW(path));
  platform::PathRemoveExtensionW(base);
  m_tempFolder = Join(platform::GetTempPathW(), base);
  m_unzipper.SetRoot(m_tempFolder);
  return true;
}

void CDataStorage::Close() {
  m_unzipper.Close();
  m_password.clear();
  if (m_state == 2 && !m_tempFolder.empty()) DeleteFolderTree(m_tempFolder);
  m_state = 0;
  m_archivePath.clear();
}

bool CDataStorage::ExtractFile(const std::wstring& folder, const std::wstring& name,
                               std::wstring& path) {
  if (m_state < 1 || !m_unzipper.IsOpen()) return false;
  std::wstring destination = Destination(folder);
  std::wstring stored = BackslashName(name);
  if (!IsSafeEntryName(stored)) {
    CommonTools::LogLine(CommonTools::LogLevel::Error, L"CDataStorage::ExtractFile entry = " +
                                                           name + L" leads outside " + destination +
                                                           L" and is refused");
    return false;
  }
  if (!m_unzipper.Locate(stored)) return false;
  std::wstring folderPart = FolderOf(stored);
  std::wstring target = folderPart.empty() ? destination : Join(destination, folderPart);
  m_state = 2;
  m_unzipper.BeginBatch();
  m_unzipper.SetOverwriteName(L"");
  if (!m_unzipper.UnzipFile(&target, true, &m_password)) return false;
  path = Join(destination, stored);
  return true;
}

bool CDataStorage::ExtractAll(const std::wstring& folder, std::wstring& path) {
  if (m_state < 1 || !m_unzipper.IsOpen()) return false;
  std::wstring destination = Destination(folder);
  m_state = 2;
  m_unzipper.BeginBatch();
  m_unzipper.SetOverwriteName(L"");
  bool ok = true;
  for (bool more = m_unzipper.GoToFirst(); more; more = m_unzipper.GoToNext())
    ok = m_unzipper.UnzipFile(&destination, false, &m_password) && ok;
  path = destination;
  return ok;
}

bool CDataStorage::ExtractFolder(const std::wstring& folder, const std::wstring& prefix,
                                 std::wstring& path, const std::wstring& overwriteName) {
  if (m_state < 1 || !m_unzipper.IsOpen()) return false;
  std::wstring destination = Destination(folder);
  std::wstring wanted = BackslashName(prefix);
  m_state = 2;
  m_unzipper.BeginBatch();
  m_unzipper.SetOverwriteName(overwriteName);
  bool ok = true;
  for (bool more = m_unzipper.GoToFirst(); more; more = m_unzipper.GoToNext()) {
    EntryInfo info;
    if (!m_unzipper.GetCurrentInfo(info)) {
      ok = false;
      continue;
    }
    if (!platform::StartsWithNoCase(info.name, wanted)) continue;
    if (m_progress) m_progress->SetProgressText(Join(destination, info.name));
    ok = m_unzipper.UnzipFile(&destination, false, &m_password) && ok;
    if (m_progress) m_progress->StepProgress(info.unpackedSize);
  }
  m_unzipper.SetOverwriteName(L"");
  path = Join(destination, wanted);
  return ok;
}

bool CDataStorage::Measure(const std::wstring* prefix, std::uint64_t& count,
                           std::uint64_t& packedBytes, std::uint64_t& unpackedBytes) {
  count = packedBytes = unpackedBytes = 0;
  if (m_state < 1 || !m_unzipper.IsOpen()) return false;
  std::wstring wanted = prefix ? BackslashName(*prefix) : L"";
  for (bool more = m_unzipper.GoToFirst(); more; more = m_unzipper.GoToNext()) {
    EntryInfo info;
    if (!m_unzipper.GetCurrentInfo(info)) return false;
    if (info.isDirectory || (prefix && !platform::StartsWithNoCase(info.name, wanted))) continue;
    ++count;
    packedBytes += info.packedSize;
    unpackedBytes += info.unpackedSize;
  }
  return true;
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
