#include "package/LogSink.h"

namespace CommonTools {

namespace {
LogSink& Sink() {
  static LogSink sink;
  return sink;
}
FormatSink& Formatted() {
  static FormatSink sink;
  return sink;
}
CurrentFileSink& FileSink() {
  static CurrentFileSink sink;
  return sink;
}
ResultRaiser& Raiser() {
  static ResultRaiser raiser;
  return raiser;
}
}  // namespace

void SetLogSink(LogSink sink) { Sink() = std::move(sink); }

void LogLine(LogLevel level, const std::wstring& text) {
  if (Sink()) Sink()(level, text);
}

void SetFormatSink(FormatSink sink) { Formatted() = std::move(sink); }

void LogFormat(LogLevel level, std::wstring_view format,
               std::span<const platform::FormatArg> args) {
  if (Formatted()) {
    Formatted()(level, format, args);
    return;
  }
  if (!Sink()) return;
  Sink()(level, platform::FormatArgs(format, args));
}

void SetCurrentFileSink(CurrentFileSink sink) { FileSink() = std::move(sink); }

void SetCurrentFile(const std::wstring& file) {
  if (FileSink()) FileSink()(file);
}

void SetResultRaiser(ResultRaiser raiser) { Raiser() = std::move(raiser); }

void RaiseRunResult(eInstallResult result) {
  if (Raiser()) Raiser()(result);
  // A raiser that returned, or none: the package's own result error.
  throw RunResultError{result};
}

}  // namespace CommonTools
