// The shell's ShellExecuteW for documents and addresses. Nothing may leave the machine: an
// opened address or file is not started but recorded, one line per call, in the machine's
// state folder (state/shell-opened.txt, "<verb>\t<file>", UTF-8), where tests and people can
// see what a run opened.
#pragma once

#include <string>
#include <vector>

namespace platform {

inline constexpr int SW_SHOW = 5;

// True when the call was recorded (the shell's "more than 32" answer); false for an empty file.
bool ShellExecuteW(const std::wstring& verb, const std::wstring& file, int showCommand);
// What was opened on this machine, oldest first.
std::vector<std::wstring> ShellOpened();

}  // namespace platform
