// Where log lines of code below the application go. The application routes them into its run
// log; without a sink they are dropped. The text is complete and is treated as data, never as
// a format.
//
// The same place carries the two other links upward that the package code needs: the run
// log's "current file" (named by the result texts) and the raising of a run result.
#pragma once

#include <functional>
#include <string>

namespace CommonTools {

using LogSink = std::function<void(int level, const std::wstring& text)>;
void SetLogSink(LogSink sink);
void LogLine(int level, const std::wstring& text);

using CurrentFileSink = std::function<void(const std::wstring& file)>;
void SetCurrentFileSink(CurrentFileSink sink);
void SetCurrentFile(const std::wstring& file);

// What the package code raises to end a run with a result when no raiser is installed.
struct RunResultError {
  int result;
};
// The run controller installs its own way of raising a result; the raiser must throw.
using ResultRaiser = std::function<void(int result)>;
void SetResultRaiser(ResultRaiser raiser);
[[noreturn]] void RaiseRunResult(int result);

}  // namespace CommonTools
