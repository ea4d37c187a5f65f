// The command line of Setup: "/X" followed by the package archive's path (the rest of the line,
// trimmed), and "/admin" anywhere. Both are case-sensitive; nothing else is recognised.
#pragma once

#include <string>
#include <vector>

namespace InstallManager {

struct CommandLine {
  std::wstring archivePath;  // empty: "Setup.data" beside the program
  bool admin = false;
};

// Reads a whole Windows command line (without the program's own name). Surrounding quotes of
// the path are removed; a host path ("/home/me/Setup.data") is taken as its Z: path.
CommandLine ParseCommandLine(const std::wstring& line);

// This host hands the program separate arguments: they are joined into one Windows command
// line, each argument quoted by the Windows rules when it needs it. A host path that follows
// "/X" becomes its Z: path first.
std::wstring BuildCommandLine(const std::vector<std::wstring>& args);

// The command line as the run takes it: parsed, a relative archive path made absolute against
// the current folder (the caller's), and an archive path that names no existing file dropped
// (logged at level 2 with the system's text for the error), so that the package beside the program
// is used.
CommandLine PrepareCommandLine(const std::wstring& line);

// "/home/me/x" -> "Z:\home\me\x"; other texts unchanged.
std::wstring HostPathToZ(const std::wstring& path);

// Quotes one argument the way CommandLineToArgvW reads it back.
std::wstring QuoteArgument(const std::wstring& arg);

}  // namespace InstallManager
