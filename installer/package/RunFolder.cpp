#include "package/RunFolder.h"

#include "package/DataStorage.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Processes.h"
#include "platform/Restart.h"
#include "platform/System.h"
#include "platform/Text.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <random>
#include <vector>

namespace DataStorage {

namespace {

constexpr wchar_t kNoteExtension[] = L".run";
constexpr char kNoteTitle[] = "TOLMERA Setup run folder";
constexpr std::uint64_t kMaxNoteBytes = 512;
constexpr std::size_t kSuffixDigits = 8;

std::wstring UniqueSuffix() {
  static std::mt19937_64 rng = [] {
    std::random_device rd;
    return std::mt19937_64((static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^
                           static_cast<std::uint64_t>(::getpid()));
  }();
  return platform::Format(L"%08x", static_cast<unsigned>(rng() & 0xFFFFFFFFu));
}

// "<base>-<8 lower-case hex digits>", as MakeRunFolder names its folders.
bool IsRunFolderName(const std::wstring& name) {
  if (name.size() < kSuffixDigits + 2 || name[name.size() - kSuffixDigits - 1] != L'-')
    return false;
  for (std::size_t i = name.size() - kSuffixDigits; i < name.size(); ++i)
    if (!((name[i] >= L'0' && name[i] <= L'9') || (name[i] >= L'a' && name[i] <= L'f')))
      return false;
  return true;
}

struct Note {
  std::string folder;
  long pid = 0;
  std::uint64_t started = 0;
};

std::string NoteText(const std::wstring& folderName, long pid, std::uint64_t started) {
  return std::string(kNoteTitle) + "\r\nfolder=" + platform::ToUtf8(folderName) +
         "\r\nprocess=" + std::to_string(pid) + "\r\nstarted=" + std::to_string(started) + "\r\n";
}

// A number as std::to_string writes it, and nothing else (no sign, blank or leading zero).
bool ParseWritten(const std::string& text, std::uint64_t& value) {
  if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || std::to_string(v) != text) return false;
  value = v;
  return true;
}

// The note as NoteText writes it, and nothing else.
bool ParseNote(const std::string& bytes, Note& note) {
  std::vector<std::string> lines;
  std::size_t start = 0, end;
  while ((end = bytes.find("\r\n", start)) != std::string::npos) {
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  if (start != bytes.size() || lines.size() != 4 || lines[0] != kNoteTitle) return false;
  auto field = [&](const std::string& line, const char* name, std::string& value) {
    const std::string prefix = std::string(name) + "=";
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    value = line.substr(prefix.size());
    return true;
  };
  std::string pid, started;
  std::uint64_t number = 0;
  if (!field(lines[1], "folder", note.folder) || !field(lines[2], "process", pid) ||
      !field(lines[3], "started", started) || !ParseWritten(pid, number) || number == 0 ||
      number > 0x7FFFFFFF)
    return false;
  note.pid = static_cast<long>(number);
  return ParseWritten(started, note.started) && note.started != 0;
}

bool WriteNewFile(const std::wstring& path, const std::string& bytes, platform::DWORD& status) {
  platform::FileHandle file;
  status = file.Open(path, platform::GENERIC_WRITE, 0, platform::CREATE_NEW);
  if (status != platform::ERROR_SUCCESS) return false;
  status = file.Write(bytes.data(), bytes.size());
  file.Close();
  if (status == platform::ERROR_SUCCESS) return true;
  platform::DeleteFileW(path);
  return false;
}

}  // namespace

std::wstring RunFolderNote(const std::wstring& folder) { return folder + kNoteExtension; }

std::wstring MakeRunFolder(const std::wstring& temp, const std::wstring& base, bool& noted) {
  noted = false;
  const long pid = platform::GetCurrentProcessId();
  const std::uint64_t started = platform::ProcessStartStamp(pid);
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::wstring name = base + L"-" + UniqueSuffix();
    const std::wstring folder = JoinName(temp, name);
    // The note first: a run stopped before the folder is made leaves a note of no folder,
    // which the next run takes away; never a folder that no note names.
    platform::DWORD status = platform::ERROR_SUCCESS;
    bool wrote =
        started != 0 && WriteNewFile(RunFolderNote(folder), NoteText(name, pid, started), status);
    if (!wrote &&
        (status == platform::ERROR_FILE_EXISTS || status == platform::ERROR_ALREADY_EXISTS))
      continue;  // a name someone else holds
    const platform::DWORD rc = platform::CreateDirectoryW(folder);
    if (rc == platform::ERROR_SUCCESS) {
      noted = wrote;
      return folder;
    }
    if (wrote) platform::DeleteFileW(RunFolderNote(folder));
    if (rc != platform::ERROR_ALREADY_EXISTS) break;
  }
  return L"";
}

void ReleaseRunFolder(const std::wstring& folder) {
  const std::wstring note = RunFolderNote(folder);
  if (platform::PathIsDirectoryW(folder)) {
    // Its removal waits for the next start; the note goes at that start after it.
    platform::ScheduleFileOperation(note, L"");
    return;
  }
  platform::DeleteFileW(note);
}

std::size_t RemoveEndedRunFolders(const std::wstring& temp, std::size_t maxNotes) {
  std::vector<platform::FindData> entries;
  if (temp.empty() || platform::FindAll(JoinName(temp, L"*"), entries, false,
                                        /*storedAttributes=*/false) != platform::ERROR_SUCCESS)
    return 0;
  std::map<std::wstring, platform::DWORD, platform::NoCaseLess> kinds;
  for (const auto& e : entries) kinds[e.fileName] = e.attributes;

  const std::wstring extension = kNoteExtension;
  std::size_t looked = 0, removed = 0;
  for (const auto& e : entries) {
    const std::wstring& name = e.fileName;
    if (name.size() <= extension.size() ||
        !platform::EqualsNoCase(std::wstring_view(name).substr(name.size() - extension.size()),
                                extension) ||
        (e.attributes &
         (platform::FILE_ATTRIBUTE_DIRECTORY | platform::FILE_ATTRIBUTE_REPARSE_POINT)))
      continue;
    const std::wstring folderName = name.substr(0, name.size() - extension.size());
    if (!IsRunFolderName(folderName)) continue;
    if (++looked > maxNotes) break;
    const std::wstring notePath = JoinName(temp, name);
    std::string bytes;
    Note note;
    if (platform::ReadWholeFile(notePath, bytes, kMaxNoteBytes) != platform::ERROR_SUCCESS ||
        !ParseNote(bytes, note) || note.folder != platform::ToUtf8(folderName))
      continue;  // no note of ours, or one of another folder
    if (platform::ProcessStartStamp(note.pid) == note.started) continue;  // the run goes on
    const auto folder = kinds.find(folderName);
    if (folder != kinds.end()) {
      // Only a folder: a link in its place (or a file) is no folder a run made.
      if (!(folder->second & platform::FILE_ATTRIBUTE_DIRECTORY) ||
          (folder->second & platform::FILE_ATTRIBUTE_REPARSE_POINT))
        continue;
      const std::wstring path = JoinName(temp, folderName);
      if (!DeleteFolderTree(path)) continue;  // the rest waits for the next start; so does the note
      ++removed;
    }
    platform::DeleteFileW(notePath);
  }
  return removed;
}

}  // namespace DataStorage
