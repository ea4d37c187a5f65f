#include "platform/ShellLinks.h"

#include <cstring>

#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace platform {

namespace {

// Link flags of the header.
constexpr DWORD kHasLinkTargetIdList = 0x01;
constexpr DWORD kHasLinkInfo = 0x02;
constexpr DWORD kHasName = 0x04;
constexpr DWORD kHasRelativePath = 0x08;
constexpr DWORD kHasWorkingDir = 0x10;
constexpr DWORD kHasArguments = 0x20;
constexpr DWORD kHasIconLocation = 0x40;
constexpr DWORD kIsUnicode = 0x80;

// Link information flags.
constexpr DWORD kVolumeIdAndLocalBasePath = 0x1;
constexpr DWORD kCommonNetworkRelativeLinkAndPathSuffix = 0x2;

constexpr DWORD kHeaderSize = 0x4C;
constexpr DWORD kLinkInfoHeaderSize = 0x24;  // with the offsets of the UTF-16 paths
constexpr unsigned char kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr std::size_t kMaxStringUnits = 0xFFFF;

void Put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Put64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void Set32(std::string& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::string Utf16Z(const std::wstring& text) { return ToUtf16LEBytes(text) + std::string(2, '\0'); }
std::string AnsiZ(const std::wstring& text) { return WideToAnsi(text, CP_ACP) + '\0'; }

// The link information block of a local or a network target.
std::string LinkInfo(const ShellLink& link, const std::wstring& label) {
  const bool unc = PathIsUNCW(link.target);
  std::wstring base = link.target, suffix;
  std::string block(kLinkInfoHeaderSize, '\0');
  DWORD flags = 0;
  std::size_t volumeOffset = 0, baseOffset = 0, networkOffset = 0, suffixOffset = 0;
  std::size_t baseUnicodeOffset = 0, suffixUnicodeOffset = 0;
  if (!unc) {
    flags = kVolumeIdAndLocalBasePath;
    volumeOffset = block.size();
    std::string volume;
    std::string name = AnsiZ(label);
    Put32(volume, static_cast<std::uint32_t>(16 + name.size()));
    Put32(volume, link.driveType);
    Put32(volume, link.driveSerial);
    Put32(volume, 16);  // the label follows the four fields
    volume += name;
    block += volume;
    baseOffset = block.size();
    block += AnsiZ(base);
  } else {
    // "\\server\share" is the network name, the rest the common path suffix.
    flags = kCommonNetworkRelativeLinkAndPathSuffix;
    std::wstring share = link.target;
    std::size_t slash = share.find(L'\\', 2);
    slash = slash == std::wstring::npos ? slash : share.find(L'\\', slash + 1);
    if (slash != std::wstring::npos) {
      suffix = share.substr(slash + 1);
      share.resize(slash);
    }
    networkOffset = block.size();
    std::string network;
    std::string name = AnsiZ(share);
    Put32(network, static_cast<std::uint32_t>(20 + name.size()));
    Put32(network, 0);   // no device name, no provider type
    Put32(network, 20);  // the network name follows the five fields
    Put32(network, 0);
    Put32(network, 0);
    network += name;
    block += network;
  }
  suffixOffset = block.size();
  block += AnsiZ(suffix);
  if (!unc) {
    baseUnicodeOffset = block.size();
    block += Utf16Z(base);
  }
  suffixUnicodeOffset = block.size();
  block += Utf16Z(suffix);
  Set32(block, 0, static_cast<std::uint32_t>(block.size()));
  Set32(block, 4, kLinkInfoHeaderSize);
  Set32(block, 8, flags);
  Set32(block, 12, static_cast<std::uint32_t>(volumeOffset));
  Set32(block, 16, static_cast<std::uint32_t>(baseOffset));
  Set32(block, 20, static_cast<std::uint32_t>(networkOffset));
  Set32(block, 24, static_cast<std::uint32_t>(suffixOffset));
  Set32(block, 28, static_cast<std::uint32_t>(baseUnicodeOffset));
  Set32(block, 32, static_cast<std::uint32_t>(suffixUnicodeOffset));
  return block;
}

bool FitsString(const std::wstring& text) { return ToUtf16(text).size() <= kMaxStringUnits; }
bool FitsPath(const std::wstring& path) { return path.size() < MAX_PATH; }

// Reading, with every offset checked against the bytes.
class Reader {
 public:
  explicit Reader(const std::string& bytes) : b_(bytes) {}
  bool Has(std::size_t at, std::size_t n) const { return at <= b_.size() && n <= b_.size() - at; }
  std::uint16_t U16(std::size_t at) const {
    return static_cast<std::uint16_t>(Byte(at) | (Byte(at + 1) << 8));
  }
  std::uint32_t U32(std::size_t at) const {
    return static_cast<std::uint32_t>(Byte(at)) | (static_cast<std::uint32_t>(Byte(at + 1)) << 8) |
           (static_cast<std::uint32_t>(Byte(at + 2)) << 16) |
           (static_cast<std::uint32_t>(Byte(at + 3)) << 24);
  }
  std::uint64_t U64(std::size_t at) const {
    return static_cast<std::uint64_t>(U32(at)) | (static_cast<std::uint64_t>(U32(at + 4)) << 32);
  }
  // A NUL-terminated ANSI text inside [at, end).
  bool AnsiZ(std::size_t at, std::size_t end, std::wstring& out) const {
    if (at >= end || end > b_.size()) return false;
    const void* nul = std::memchr(b_.data() + at, '\0', end - at);
    if (!nul) return false;
    out = AnsiToWide(
        std::string_view(b_.data() + at, static_cast<const char*>(nul) - (b_.data() + at)), CP_ACP);
    return true;
  }
  // A NUL-terminated UTF-16 text inside [at, end).
  bool Utf16Z(std::size_t at, std::size_t end, std::wstring& out) const {
    if (at >= end || end > b_.size()) return false;
    for (std::size_t p = at; p + 1 < end; p += 2) {
      if (U16(p) == 0) {
        out = FromUtf16LEBytes(std::string_view(b_.data() + at, p - at));
        return true;
      }
    }
    return false;
  }
  std::string_view View(std::size_t at, std::size_t n) const { return {b_.data() + at, n}; }

 private:
  unsigned Byte(std::size_t at) const { return static_cast<unsigned char>(b_[at]); }
  const std::string& b_;
};

}  // namespace

DWORD BuildShellLink(const ShellLink& link, std::string& bytes) {
  if (link.target.empty() || link.showCommand < 0) return ERROR_INVALID_PARAMETER;
  const bool absolute =
      PathIsUNCW(link.target) ||
      (link.target.size() >= 3 && link.target[1] == L':' && link.target[2] == L'\\');
  if (!absolute) return ERROR_INVALID_PARAMETER;
  if (!FitsPath(link.target) || !FitsPath(link.workingDirectory) || !FitsPath(link.iconLocation) ||
      !FitsString(link.arguments) || !FitsString(link.description))
    return ERROR_FILENAME_EXCED_RANGE;
  std::wstring label;
  if (!PathIsUNCW(link.target)) {
    VolumeInfo volume;
    std::wstring root = link.target.substr(0, 3);
    if (GetVolumeInformationW(root, volume) == ERROR_SUCCESS) label = volume.volumeName;
  }

  DWORD flags = kHasLinkInfo | kIsUnicode;
  if (!link.description.empty()) flags |= kHasName;
  if (!link.workingDirectory.empty()) flags |= kHasWorkingDir;
  if (!link.arguments.empty()) flags |= kHasArguments;
  if (!link.iconLocation.empty()) flags |= kHasIconLocation;

  bytes.clear();
  Put32(bytes, kHeaderSize);
  bytes.append(reinterpret_cast<const char*>(kLinkClsid), sizeof kLinkClsid);
  Put32(bytes, flags);
  Put32(bytes, link.fileAttributes);
  Put64(bytes, link.creationTime);
  Put64(bytes, link.accessTime);
  Put64(bytes, link.writeTime);
  Put32(bytes,
        static_cast<std::uint32_t>(link.fileSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : link.fileSize));
  Put32(bytes, static_cast<std::uint32_t>(link.iconIndex));
  Put32(bytes, static_cast<std::uint32_t>(link.showCommand));
  Put16(bytes, 0);  // no hot key
  Put16(bytes, 0);
  Put32(bytes, 0);
  Put32(bytes, 0);
  bytes += LinkInfo(link, label);
  // The string data, in the format's order.
  for (const std::wstring* text :
       {&link.description, &link.workingDirectory, &link.arguments, &link.iconLocation}) {
    if (text->empty()) continue;
    std::string units = ToUtf16LEBytes(*text);
    Put16(bytes, static_cast<std::uint16_t>(units.size() / 2));
    bytes += units;
  }
  Put32(bytes, 0);  // the terminal block of the extra data
  return ERROR_SUCCESS;
}

DWORD WriteShellLink(const std::wstring& linkPath, ShellLink link) {
  if (linkPath.empty()) return ERROR_INVALID_PARAMETER;
  if (!PathIsUNCW(link.target) && link.target.size() >= 3) {
    FileInfo info;
    if (GetFileAttributesExW(link.target, info) == ERROR_SUCCESS) {
      link.fileAttributes = info.attributes;
      link.fileSize = info.size;
      link.creationTime = info.creationTime;
      link.accessTime = info.lastAccessTime;
      link.writeTime = info.lastWriteTime;
    }
    std::wstring root = link.target.substr(0, 3);
    link.driveType = GetDriveTypeW(root);
    VolumeInfo volume;
    if (GetVolumeInformationW(root, volume) == ERROR_SUCCESS)
      link.driveSerial = volume.serialNumber;
  } else if (PathIsUNCW(link.target)) {
    link.driveType = DRIVE_REMOTE;
  }
  std::string bytes;
  DWORD status = BuildShellLink(link, bytes);
  if (status != ERROR_SUCCESS) return status;
  return WriteWholeFile(linkPath, bytes);
}

DWORD ParseShellLink(const std::string& bytes, ShellLink& link) {
  Reader r(bytes);
  if (!r.Has(0, kHeaderSize) || r.U32(0) != kHeaderSize ||
      std::memcmp(bytes.data() + 4, kLinkClsid, sizeof kLinkClsid) != 0)
    return ERROR_BAD_FORMAT;
  link = ShellLink();
  const DWORD flags = r.U32(20);
  link.fileAttributes = r.U32(24);
  link.creationTime = r.U64(28);
  link.accessTime = r.U64(36);
  link.writeTime = r.U64(44);
  link.fileSize = r.U32(52);
  link.iconIndex = static_cast<int>(r.U32(56));
  link.showCommand = static_cast<int>(r.U32(60));
  std::size_t at = kHeaderSize;
  if (flags & kHasLinkTargetIdList) {
    if (!r.Has(at, 2)) return ERROR_BAD_FORMAT;
    std::size_t size = r.U16(at);
    if (!r.Has(at + 2, size)) return ERROR_BAD_FORMAT;
    at += 2 + size;
  }
  if (flags & kHasLinkInfo) {
    if (!r.Has(at, 28)) return ERROR_BAD_FORMAT;
    const std::size_t size = r.U32(at), header = r.U32(at + 4);
    if (size < 28 || header < 0x1C || header > size || !r.Has(at, size)) return ERROR_BAD_FORMAT;
    const std::size_t end = at + size;
    const DWORD infoFlags = r.U32(at + 8);
    const std::size_t volume = r.U32(at + 12), base = r.U32(at + 16), network = r.U32(at + 20),
                      suffix = r.U32(at + 24);
    const std::size_t baseUnicode = header >= 0x24 ? r.U32(at + 28) : 0;
    const std::size_t suffixUnicode = header >= 0x24 ? r.U32(at + 32) : 0;
    std::wstring suffixText;
    if (suffixUnicode ? !r.Utf16Z(at + suffixUnicode, end, suffixText)
                      : (suffix && !r.AnsiZ(at + suffix, end, suffixText)))
      return ERROR_BAD_FORMAT;
    if (infoFlags & kVolumeIdAndLocalBasePath) {
      std::wstring baseText;
      if (baseUnicode ? !r.Utf16Z(at + baseUnicode, end, baseText)
                      : !r.AnsiZ(at + base, end, baseText))
        return ERROR_BAD_FORMAT;
      if (!volume || !r.Has(at + volume, 16) || at + volume + 16 > end) return ERROR_BAD_FORMAT;
      link.driveType = r.U32(at + volume + 4);
      link.driveSerial = r.U32(at + volume + 8);
      link.target = baseText + suffixText;
    } else if (infoFlags & kCommonNetworkRelativeLinkAndPathSuffix) {
      if (!network || !r.Has(at + network, 20) || at + network + 20 > end) return ERROR_BAD_FORMAT;
      const std::size_t nameOffset = r.U32(at + network + 8);
      std::wstring share;
      if (!r.AnsiZ(at + network + nameOffset, end, share)) return ERROR_BAD_FORMAT;
      link.target = suffixText.empty() ? share : share + L"\\" + suffixText;
      link.driveType = DRIVE_REMOTE;
    }
    at = end;
  }
  const bool unicode = (flags & kIsUnicode) != 0;
  std::wstring relativePath;
  std::wstring* fields[] = {&link.description, &relativePath, &link.workingDirectory,
                            &link.arguments, &link.iconLocation};
  const DWORD fieldFlags[] = {kHasName, kHasRelativePath, kHasWorkingDir, kHasArguments,
                              kHasIconLocation};
  for (int i = 0; i < 5; ++i) {
    if (!(flags & fieldFlags[i])) continue;
    if (!r.Has(at, 2)) return ERROR_BAD_FORMAT;
    std::size_t count = r.U16(at);
    std::size_t size = unicode ? count * 2 : count;
    if (!r.Has(at + 2, size)) return ERROR_BAD_FORMAT;
    *fields[i] =
        unicode ? FromUtf16LEBytes(r.View(at + 2, size)) : AnsiToWide(r.View(at + 2, size), CP_ACP);
    at += 2 + size;
  }
  if (link.target.empty() && !relativePath.empty()) link.target = relativePath;
  return ERROR_SUCCESS;
}

DWORD ReadShellLink(const std::wstring& linkPath, ShellLink& link) {
  std::string bytes;
  DWORD status = ReadWholeFile(linkPath, bytes);
  if (status != ERROR_SUCCESS) return status;
  return ParseShellLink(bytes, link);
}

}  // namespace platform
