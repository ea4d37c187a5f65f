// Enumeration: FindFirstFileW / FindNextFileW in NTFS order with the DOS wildcard rules.
#include "platform/FilesInternal.h"

#include "platform/HandleTable.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/Text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

using namespace files_detail;

// ---------------------------------------------------------------------------------------------
// Enumeration

namespace {

constexpr wchar_t kDosStar = L'<';
constexpr wchar_t kDosQm = L'>';
constexpr wchar_t kDosDot = L'"';

// FindFirstFileW turns '?', '*' before '.', and '.' before a wildcard or at the end into the DOS
// wildcards of the file system's name matching.
std::wstring ToDosExpression(std::wstring_view pattern) {
  if (pattern == L"*.*") return L"*";
  std::wstring e(pattern);
  for (std::size_t i = 0; i < e.size(); ++i) {
    wchar_t next = i + 1 < pattern.size() ? pattern[i + 1] : L'\0';
    if (pattern[i] == L'?')
      e[i] = kDosQm;
    else if (pattern[i] == L'*' && next == L'.')
      e[i] = kDosStar;
    else if (pattern[i] == L'.' && (next == L'?' || next == L'*' || next == L'\0'))
      e[i] = kDosDot;
  }
  return e;
}

bool MatchExpr(std::wstring_view p, std::wstring_view n, std::size_t pi, std::size_t ni,
               std::vector<signed char>& memo) {
  const std::size_t W = n.size() + 1;
  signed char& m = memo[pi * W + ni];
  if (m >= 0) return m != 0;
  bool result = false;
  if (pi == p.size()) {
    result = ni == n.size();
  } else {
    wchar_t c = p[pi];
    if (c == L'*') {
      for (std::size_t k = ni; k <= n.size() && !result; ++k)
        result = MatchExpr(p, n, pi + 1, k, memo);
    } else if (c == kDosStar) {
      const std::size_t lastDot = n.rfind(L'.');
      for (std::size_t k = ni; k <= n.size() && !result; ++k) {
        result = MatchExpr(p, n, pi + 1, k, memo);
        if (k < n.size() && lastDot != std::wstring_view::npos && k == lastDot)
          break;  // the final '.' stops it
      }
    } else if (c == kDosQm) {
      if (ni < n.size() && n[ni] != L'.') {
        result = MatchExpr(p, n, pi + 1, ni + 1, memo);
      } else {
        std::size_t q = pi;
        while (q < p.size() && p[q] == kDosQm) ++q;
        result = MatchExpr(p, n, q, ni, memo);
      }
    } else if (c == kDosDot) {
      if (ni < n.size() && n[ni] == L'.')
        result = MatchExpr(p, n, pi + 1, ni + 1, memo);
      else if (ni == n.size())
        result = MatchExpr(p, n, pi + 1, ni, memo);
    } else if (c == L'?') {
      result = ni < n.size() && MatchExpr(p, n, pi + 1, ni + 1, memo);
    } else {
      result = ni < n.size() && UpperChar(c) == UpperChar(n[ni]) &&
               MatchExpr(p, n, pi + 1, ni + 1, memo);
    }
  }
  m = result ? 1 : 0;
  return result;
}

bool MatchDosExpression(std::wstring_view expr, std::wstring_view name) {
  if (expr == L"*") return true;
  if (expr.find_first_of(L"*?<>\"") == std::wstring_view::npos) return EqualsNoCase(expr, name);
  std::vector<signed char> memo((expr.size() + 1) * (name.size() + 1), -1);
  return MatchExpr(expr, name, 0, 0, memo);
}

}  // namespace

bool MatchDosPattern(std::wstring_view pattern, std::wstring_view name) {
  return MatchDosExpression(ToDosExpression(pattern), name);
}

namespace {

// Change times older than this, in nanoseconds of the host's clock, are settled: the file
// system stamps a change with a clock that may stand still for a few milliseconds, so a file
// changed just now could be changed again under the same stamp; every change after the listing
// has a later one than a settled stamp.
std::uint64_t SettledBefore() {
  struct timespec now;
  if (clock_gettime(CLOCK_REALTIME_COARSE, &now) != 0 || now.tv_sec < 2) return 0;
  return static_cast<std::uint64_t>(now.tv_sec - 1) * 1000000000u +
         static_cast<std::uint64_t>(now.tv_nsec);
}

// The entry's file and its change time, as FindData keeps them (the time only when settled).
void NoteIdentity(const struct stat& st, std::uint64_t settled, FindData& d) {
  const std::uint64_t stamp = ChangeStampOf(st);
  if (stamp == 0 || stamp >= settled) return;
  d.volumeId = static_cast<std::uint64_t>(st.st_dev);
  d.fileId = static_cast<std::uint64_t>(st.st_ino);
  d.changeStamp = stamp;
}

}  // namespace

struct FileFinder::State {
  std::vector<FindData> entries;
  std::size_t next = 0;
};

FileFinder::FileFinder() = default;
FileFinder::FileFinder(FileFinder&&) noexcept = default;
FileFinder& FileFinder::operator=(FileFinder&&) noexcept = default;
FileFinder::~FileFinder() = default;

void FileFinder::Close() { state_.reset(); }

DWORD FileFinder::First(std::wstring_view pattern, FindData& data, bool storedAttributes) {
  state_.reset();
  if (pattern.empty()) return Fail(ERROR_PATH_NOT_FOUND);
  std::wstring pat(pattern);
  std::replace(pat.begin(), pat.end(), L'/', L'\\');
  // A pattern ending in a backslash names no file.
  if (pat.back() == L'\\') return Fail(ERROR_FILE_NOT_FOUND);
  // The last element is the pattern, taken as it stands (GetFullPathNameW would drop the final
  // dot of "*."); the rest names the folder.
  std::size_t cut = pat.find_last_of(L"\\:");
  std::wstring dirPart, filePatternText;
  if (cut == std::wstring::npos) {
    dirPart = L".";
    filePatternText = pat;
  } else {
    dirPart = pat.substr(0, cut + 1);
    filePatternText = pat.substr(cut + 1);
    if (dirPart.size() == 2 && dirPart[1] == L':') dirPart += L'.';  // "C:*.txt": drive C's folder
  }
  std::wstring_view filePattern = filePatternText;
  if (filePattern.empty()) return Fail(ERROR_FILE_NOT_FOUND);
  for (wchar_t c : filePattern)
    if (c < 0x20 || c == L'<' || c == L'>' || c == L'"' || c == L'|' || c == L'/')
      return Fail(ERROR_INVALID_NAME);
  Resolved r;
  try {
    r = Resolve(dirPart);
  } catch (const MachineError&) {
    return Fail(ERROR_NOT_READY);
  }
  if (r.status != ERROR_SUCCESS) return Fail(r.status);
  if (!r.loc.exists) return Fail(ERROR_PATH_NOT_FOUND);
  const std::string dirHost = r.loc.hostPath;
  struct stat dst;
  if (stat(dirHost.c_str(), &dst) != 0 || !S_ISDIR(dst.st_mode)) return Fail(ERROR_PATH_NOT_FOUND);
  const std::wstring expr = ToDosExpression(filePattern);
  const bool wild = filePattern.find_first_of(L"*?") != std::wstring_view::npos;

  auto st = std::make_unique<State>();
  const bool root = dirHost == r.loc.driveRoot;
  if (!root) {
    for (const wchar_t* dot : {L".", L".."}) {
      if (!MatchDosExpression(expr, dot)) continue;
      FindData d;
      d.fileName = dot;
      d.attributes = ReadAttributes(dirHost, dst);
      d.lastWriteTime = FileTimeFromUnix(dst.st_mtim.tv_sec, dst.st_mtim.tv_nsec);
      d.lastAccessTime = FileTimeFromUnix(dst.st_atim.tv_sec, dst.st_atim.tv_nsec);
      d.creationTime = d.lastWriteTime;
      st->entries.push_back(std::move(d));
    }
  }
  std::vector<FindData> found;
  if (!wild) {
    // An exact name: one look-up instead of a scan.
    std::string hostName;
    struct stat est;
    if (LookupChild(dirHost, std::wstring(filePattern), hostName, est) && filePattern != L"." &&
        filePattern != L"..") {
      std::string hp = JoinHost(dirHost, hostName);
      struct stat tst;
      const bool isLink = S_ISLNK(est.st_mode);
      if (isLink && stat(hp.c_str(), &tst) == 0) est = tst;
      FindData d;
      FileInfo info;
      FillInfo(hp, est, info);
      d.fileName = FromUtf8(hostName);
      d.attributes = info.attributes;
      if (isLink)
        d.attributes = (d.attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_REPARSE_POINT;
      d.size = info.size;
      d.lastWriteTime = info.lastWriteTime;
      d.lastAccessTime = info.lastAccessTime;
      d.creationTime = info.creationTime;
      if (!isLink) NoteIdentity(est, SettledBefore(), d);
      found.push_back(std::move(d));
    }
  } else {
    DIR* dir = opendir(dirHost.c_str());
    if (!dir) return Fail(Win32FromErrno(errno));
    const int dfd = dirfd(dir);
    const std::uint64_t settled = SettledBefore();
    while (dirent* e = readdir(dir)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      std::wstring name = FromUtf8(e->d_name);
      // Names that Windows could not hold (or that are not valid UTF-8) are not shown.
      if (name.find(L'\xFFFD') != std::wstring::npos || !IsValidFileName(name)) continue;
      if (!MatchDosExpression(expr, name)) continue;
      struct stat est;
      if (fstatat(dfd, e->d_name, &est, 0) != 0 &&
          fstatat(dfd, e->d_name, &est, AT_SYMLINK_NOFOLLOW) != 0)
        continue;
      FindData d;
      d.fileName = std::move(name);
      d.attributes = storedAttributes ? ReadAttributesAt(dfd, e->d_name, est) : HostAttributes(est);
      if (e->d_type == DT_LNK)
        d.attributes = (d.attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_REPARSE_POINT;
      d.size = S_ISDIR(est.st_mode) ? 0 : static_cast<std::uint64_t>(est.st_size);
      d.lastWriteTime = FileTimeFromUnix(est.st_mtim.tv_sec, est.st_mtim.tv_nsec);
      d.lastAccessTime = FileTimeFromUnix(est.st_atim.tv_sec, est.st_atim.tv_nsec);
      d.creationTime = d.lastWriteTime;
      if (e->d_type != DT_LNK && !S_ISLNK(est.st_mode)) NoteIdentity(est, settled, d);
      found.push_back(std::move(d));
    }
    closedir(dir);
    std::sort(found.begin(), found.end(), [](const FindData& a, const FindData& b) {
      int c = CompareNoCase(a.fileName, b.fileName);
      return c != 0 ? c < 0 : a.fileName < b.fileName;
    });
  }
  for (FindData& d : found) st->entries.push_back(std::move(d));
  if (st->entries.empty()) return Fail(ERROR_FILE_NOT_FOUND);
  state_ = std::move(st);
  data = state_->entries[0];
  state_->next = 1;
  return Fail(ERROR_SUCCESS);
}

DWORD FileFinder::Next(FindData& data) {
  if (!state_) return Fail(ERROR_INVALID_HANDLE);
  if (state_->next >= state_->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  data = state_->entries[state_->next++];
  return Fail(ERROR_SUCCESS);
}

DWORD FindAll(std::wstring_view pattern, std::vector<FindData>& entries, bool includeDots,
              bool storedAttributes) {
  entries.clear();
  FileFinder f;
  FindData d;
  DWORD rc = f.First(pattern, d, storedAttributes);
  if (rc == ERROR_FILE_NOT_FOUND) return Fail(ERROR_SUCCESS);
  if (rc != ERROR_SUCCESS) return rc;
  do {
    if (includeDots || (d.fileName != L"." && d.fileName != L"..")) entries.push_back(d);
  } while (f.Next(d) == ERROR_SUCCESS);
  return Fail(ERROR_SUCCESS);
}

}  // namespace platform
