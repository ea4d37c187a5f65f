// Where log lines of code below the application go. The application routes them into its run
// log; without a sink they are dropped. The text is complete and is treated as data, never as
// a format.
//
// The same place carries the two other links upward that the package code needs: the run
// log's "current file" (named by the result texts) and the raising of a run result.
#pragma once

#include "platform/Format.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace CommonTools {

// The level of a log line. A run log writes the lines up to its threshold (the script's log
// level) and says the level in the line's prefix; an Error line makes the run offer to keep its
// log at the end.
enum class LogLevel : int { Error = 0, Warning = 1, Info = 2 };

using LogSink = std::function<void(LogLevel level, const std::wstring& text)>;
void SetLogSink(LogSink sink);
void LogLine(LogLevel level, const std::wstring& text);

// Where formatted lines go: the format with its arguments (the Windows meaning of the
// conversions), for the run log to check that they fit. Without it a line is formatted here
// and handed to the line sink.
using FormatSink = std::function<void(LogLevel level, std::wstring_view format,
                                      std::span<const platform::FormatArg> args)>;
void SetFormatSink(FormatSink sink);
void LogFormat(LogLevel level, std::wstring_view format, std::span<const platform::FormatArg> args);

// The one Log of the installer: a line from a format and its arguments; a text that carries
// data is passed as an argument of "%s", never as the format.
template <class... A>
void Log(LogLevel level, std::wstring_view format, const A&... args) {
  const platform::FormatArg list[] = {platform::FormatArg(args)..., platform::FormatArg(0)};
  LogFormat(level, format, std::span<const platform::FormatArg>(list, sizeof...(A)));
}

using CurrentFileSink = std::function<void(const std::wstring& file)>;
void SetCurrentFileSink(CurrentFileSink sink);
void SetCurrentFile(const std::wstring& file);

// The results of a run, by their names; the run controller reports the number.
enum eInstallResult : int {
  irSuccess = 0,
  irCancelled = 1,
  irInitFailed = 2,
  irRights = 3,
  irOsVersion = 4,
  irDataStorageNotFound = 5,
  irDataStorageNotUnpacked = 6,
  irScriptFile = 7,
  irScenario = 8,
  irInstalledProducts = 9,
  irLanguages = 10,
  irGraphics = 11,
  irOldInstall = 12,
  irErrorDuringInstall = 13,
  irSendEmail = 14,
  irDeleteFolder = 15,
  irCreateFile = 16,
};

// What the package code raises to end a run with a result when no raiser is installed.
struct RunResultError {
  int result;
};
// The run controller installs its own way of raising a result; the raiser must throw.
using ResultRaiser = std::function<void(int result)>;
void SetResultRaiser(ResultRaiser raiser);
[[noreturn]] void RaiseRunResult(eInstallResult result);

}  // namespace CommonTools
