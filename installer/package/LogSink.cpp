#include "package/LogSink.h"

namespace CommonTools {

namespace {
LogSink& Sink() {
  static LogSink sink;
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
