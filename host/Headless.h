#pragma once
// The commands of `morlane` that need no window: render, convert, info and recognize. They use
// the viewer library and the engine beside it as the windowed program does; each reads one
// file and says in one line on the standard error stream why it cannot. Their table is in
// Headless.cpp, each command in a file of its own (Command.h says what they share).

namespace morlane {

// Whether argv[1] names one of the commands of the table.
bool IsHeadlessCommand(const char* name);

// Runs the command argv[1] with its arguments; the program's exit code (0 when done, 1 when a
// file cannot be read or written, 2 for a wrong command line or a name that is no command).
int RunHeadless(int argc, char** argv);

// The command lines of the program, for --help and wrong command lines.
const char* Usage();

}  // namespace morlane
