// The run log: every part of the installer writes its start, decisions and failures here.
//
// An entry is the machine's local time ("%d.%02d.%02d - %02d:%02d:%02d  "), the level's prefix
// ("ERROR : ", "WARNING : ", "INFO : "), the caller's text and "\r\n"; the first entry of the
// object has a line of 21 dashes in front. Each entry is appended in the machine's ANSI code
// page as an open for writing that shares reading would append it, and the file is closed for
// the machine's other processes between entries (they may read, move or delete it; the next
// entry then finds what is at the name). While the path is empty, entries go to the
// debugger output, which is stderr here. A file that cannot be written never ends the run: the
// log says so once on the debugger output and goes on there.
#pragma once

#include "package/LogSink.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Time.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace InstallManager {

using CommonTools::LogLevel;

class CRunLog {
 public:
  CRunLog() = default;
  ~CRunLog();
  CRunLog(const CRunLog&) = delete;
  CRunLog& operator=(const CRunLog&) = delete;

  // Writes one entry. The caller's text is a format for `args` with the Windows meaning of
  // the conversions; a text that carries data is passed as an argument of "%s", never as the
  // format. A format that does not fit its arguments is written as it stands, with the reason.
  template <class... A>
  void Log(LogLevel level, std::wstring_view format, const A&... args) {
    const platform::FormatArg list[] = {platform::FormatArg(args)..., platform::FormatArg(0)};
    LogArgs(level, &format, std::span<const platform::FormatArg>(list, sizeof...(A)));
  }
  // The entry with no format at all only counts as written.
  void LogArgs(LogLevel level, const std::wstring_view* format,
               std::span<const platform::FormatArg> args);

  const std::wstring& GetPath() const { return m_path; }
  void SetPath(const std::wstring& path) {
    Flush();
    m_path = path;
    m_fileFailed = false;
  }
  const std::wstring& GetCurrentFile() const { return m_currentFile; }
  void SetCurrentFile(const std::wstring& file) { m_currentFile = file; }
  bool ErrorSeen() const { return m_errorSeen; }
  bool AnyWritten() const { return m_anyWritten; }
  int GetThreshold() const { return m_threshold; }
  void SetThreshold(int threshold) { m_threshold = threshold; }

  // While a Batch lives, entries are gathered and appended together rather than each on its
  // own: when the outermost batch ends, when 64 KiB are held, when the oldest held entry is a
  // quarter of a second old, and at once with an error or a warning (which thus never waits).
  // A step that works through thousands of files or values writes its lines this way; each
  // entry would otherwise be an append of its own with the file's checks. Nothing else changes:
  // the entries, their order and their times are those of the calls.
  class Batch {
   public:
    explicit Batch(CRunLog& log) : m_log(log) { ++m_log.m_batches; }
    ~Batch() {
      if (--m_log.m_batches == 0) m_log.Flush();
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    CRunLog& m_log;
  };
  // Appends what a batch holds now (before the file is read or copied, or a question waits).
  void Flush();

  // Where debugger output goes (stderr by default; tests catch it here).
  using DebugOutput = std::function<void(const std::wstring&)>;
  void SetDebugOutput(DebugOutput out) { m_debug = std::move(out); }

  // The text of an entry without time and separator: the level's prefix and the text.
  static std::wstring LevelPrefix(LogLevel level);

 private:
  // The local time as an entry begins with it: "%d.%02d.%02d - %02d:%02d:%02d  ".
  const std::wstring& TimeStamp();
  void Emit(const std::wstring& entry, bool atOnce);
  void Write(const std::wstring& text);
  void Debug(const std::wstring& text);

  std::wstring m_path;
  std::wstring m_currentFile;
  int m_threshold = 2;
  bool m_errorSeen = false;
  bool m_anyWritten = false;
  bool m_fileFailed = false;  // the current path could not be written; said once
  DebugOutput m_debug;
  platform::FileAppender m_appender;
  std::wstring m_stamp;  // the last time stamp made, for the second of m_stampTime
  platform::SYSTEMTIME m_stampTime;
  std::uint64_t m_stampSecond = 0;  // the UTC second and zone m_stamp was last made or checked for
  platform::TimeZoneRule m_stampZone;
  // The buffers an entry is made in, kept between entries; busy while an entry is on its way.
  std::wstring m_spareEntry;
  std::wstring m_spareText;
  bool m_entryBusy = false;
  int m_batches = 0;
  std::wstring m_held;  // entries of a batch not yet appended
  std::chrono::steady_clock::time_point m_heldSince;
};

// Appends bytes to a file of the machine (created when missing). False with the system's text.
// With `appender`, through it (for one file written again and again).
bool AppendToMachineFile(const std::wstring& path, const std::string& bytes, std::wstring& error,
                         platform::FileAppender* appender = nullptr);

// Whether the start of a file (its first bytes) is that of a run log: the 21-dash line and an
// entry after it, or an entry at once (a log whose first entries went to the debugger output).
bool IsRunLogText(std::string_view head);
// Whether the file of the machine at `path` is a run log (its first 4 KiB read, never more); a
// folder, a file that cannot be read and any other file are not.
bool IsRunLogFile(const std::wstring& path);

}  // namespace InstallManager
