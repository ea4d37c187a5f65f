#include "app/RunLog.h"

#include "platform/Text.h"
#include "platform/Time.h"

#include <cstdio>

namespace InstallManager {

namespace {

std::wstring_view PrefixOf(LogLevel level) {
  switch (level) {
    case LogLevel::Error: return L"ERROR : ";
    case LogLevel::Warning: return L"WARNING : ";
    case LogLevel::Info: return L"INFO : ";
  }
  return L"";  // a finer level than Info has no prefix
}

constexpr std::uint64_t kTicksPerSecond = 10000000;

}  // namespace

std::wstring CRunLog::LevelPrefix(LogLevel level) { return std::wstring(PrefixOf(level)); }

const std::wstring& CRunLog::TimeStamp() {
  // Entries come far faster than once a second in a long step: the clock is read for each, but
  // broken down into the local time only when its second or the machine's zone has moved.
  const platform::FileTime now = platform::GetSystemTimeAsFileTime();
  const platform::TimeZoneRule zone = platform::CurrentTimeZoneRule();
  const std::uint64_t second = now / kTicksPerSecond;
  if (!m_stamp.empty() && second == m_stampSecond && zone == m_stampZone) return m_stamp;
  const platform::SYSTEMTIME t = platform::LocalTimeOf(now, zone);
  m_stampSecond = second;
  m_stampZone = zone;
  const auto same = [&](const platform::SYSTEMTIME& a) {
    return a.wSecond == t.wSecond && a.wMinute == t.wMinute && a.wHour == t.wHour &&
           a.wDay == t.wDay && a.wMonth == t.wMonth && a.wYear == t.wYear;
  };
  if (m_stamp.empty() || !same(m_stampTime)) {
    m_stamp = platform::Format(L"%d.%02d.%02d - %02d:%02d:%02d  ", int(t.wYear), int(t.wMonth),
                               int(t.wDay), int(t.wHour), int(t.wMinute), int(t.wSecond));
    m_stampTime = t;
  }
  return m_stamp;
}

void CRunLog::LogArgs(LogLevel level, const std::wstring_view* format,
                      std::span<const platform::FormatArg> args) {
  if (level == LogLevel::Error) m_errorSeen = true;
  if (static_cast<int>(level) > m_threshold || !format) {
    m_anyWritten = true;
    return;
  }
  // The text first, then the time stamp, then the entry, in buffers used again and again (an
  // entry made while one is on its way, from the debugger output say, makes its own).
  std::wstring ownText, ownEntry;
  const bool reuse = !m_entryBusy;
  std::wstring& text = reuse ? m_spareText : ownText;
  std::wstring& entry = reuse ? m_spareEntry : ownEntry;
  struct Busy {
    bool& flag;
    const bool was;
    ~Busy() { flag = was; }
  } busy{m_entryBusy, m_entryBusy};
  m_entryBusy = true;

  text.clear();
  std::wstring why;
  if (platform::TryFormatAppend(*format, args, text, &why) != platform::ERROR_SUCCESS) {
    text.assign(*format);
    text += L" [the text does not fit its arguments: ";
    text += why;
    text += L"]";
  }
  const std::wstring& stamp = TimeStamp();
  entry.clear();
  if (!m_anyWritten) entry += L"---------------------\r\n";
  entry += stamp;
  entry += PrefixOf(level);
  entry += text;
  entry += L"\r\n";
  Emit(entry, level != LogLevel::Info);
  m_anyWritten = true;
}

namespace {
constexpr std::size_t kHeldLimit = 64 * 1024;
constexpr auto kHeldFor = std::chrono::milliseconds(250);
}  // namespace

void CRunLog::Emit(const std::wstring& entry, bool atOnce) {
  if (m_path.empty() || m_fileFailed) {
    Debug(entry);
    return;
  }
  if (m_batches == 0) {
    Write(entry);
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (m_held.empty()) m_heldSince = now;
  m_held += entry;
  if (atOnce || m_held.size() >= kHeldLimit || now - m_heldSince >= kHeldFor) Flush();
}

void CRunLog::Flush() {
  if (m_held.empty()) return;
  std::wstring held;
  held.swap(m_held);
  if (m_path.empty() || m_fileFailed)
    Debug(held);
  else
    Write(held);
}

void CRunLog::Write(const std::wstring& text) {
  std::wstring error;
  if (!AppendToMachineFile(m_path, platform::WideToAnsi(text, platform::CP_THREAD_ACP), error,
                           &m_appender)) {
    m_fileFailed = true;
    Debug(L"The run log " + m_path + L" cannot be written (" + error +
          L"); its entries go to the debugger output\r\n");
    Debug(text);
  }
}

void CRunLog::Debug(const std::wstring& text) {
  if (m_debug) {
    m_debug(text);
    return;
  }
  std::string utf8 = platform::ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), stderr);
  std::fflush(stderr);
}

CRunLog::~CRunLog() {
  Flush();
  if (m_anyWritten && !m_path.empty() && !m_fileFailed) {
    std::wstring error;
    AppendToMachineFile(m_path, "\r\n", error, &m_appender);
  }
}

}  // namespace InstallManager

#include "platform/Files.h"

#include <regex>

namespace InstallManager {

bool AppendToMachineFile(const std::wstring& path, const std::string& bytes, std::wstring& error,
                         platform::FileAppender* appender) {
  platform::DWORD rc =
      appender ? appender->Append(path, bytes) : platform::AppendToFile(path, bytes);
  if (rc == platform::ERROR_FILE_NOT_FOUND) {
    platform::FileHandle file;
    rc = file.Open(path, platform::GENERIC_WRITE, platform::FILE_SHARE_READ, platform::CREATE_NEW);
    // Made by someone else meanwhile: appended to as it is.
    if (rc == platform::ERROR_FILE_EXISTS || rc == platform::ERROR_SHARING_VIOLATION)
      rc = platform::AppendToFile(path, bytes);
    else if (rc == platform::ERROR_SUCCESS &&
             (rc = file.Write(bytes.data(), bytes.size())) == platform::ERROR_SUCCESS)
      rc = file.Close();
  }
  if (rc != platform::ERROR_SUCCESS) {
    error = platform::SystemErrorText(rc);
    return false;
  }
  return true;
}

}  // namespace InstallManager

namespace InstallManager {

bool IsRunLogText(std::string_view head) {
  // The time stamp of an entry: "%d.%02d.%02d - %02d:%02d:%02d  ".
  static const std::regex kEntry(R"(^\d+\.\d{2,}\.\d{2,} - \d{2,}:\d{2,}:\d{2,}  )");
  const std::string_view dashes = "---------------------\r\n";
  if (head.substr(0, dashes.size()) == dashes) head.remove_prefix(dashes.size());
  std::string first(head.substr(0, head.find("\r\n")));
  return std::regex_search(first, kEntry);
}

bool IsRunLogFile(const std::wstring& path) {
  platform::FileHandle file;
  if (file.Open(path, platform::GENERIC_READ,
                platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE,
                platform::OPEN_EXISTING) != platform::ERROR_SUCCESS)
    return false;
  std::string head(4096, '\0');
  size_t got = 0;
  while (got < head.size()) {
    size_t done = 0;
    if (file.Read(head.data() + got, head.size() - got, done) != platform::ERROR_SUCCESS)
      return false;
    if (done == 0) break;
    got += done;
  }
  head.resize(got);
  return IsRunLogText(head);
}

}  // namespace InstallManager
