#pragma once
// An X server for a command that draws off-screen when the session has none: the system's
// Xvfb, started for this run with a display number of its choosing, and ended with the
// process.
//
// The engine keeps its connection to the display until the process ends, so the server must
// outlive every use of it: it is told to end when this process ends, by the kernel (the
// parent-death signal), on every path out: a normal exit, an error exit, a signal that ends the
// process, even SIGKILL. It is never ended before.

#include <string>

namespace morlane {

// Leaves a set DISPLAY alone; otherwise starts /usr/bin/Xvfb and sets DISPLAY to it. Empty
// when there is a display, else the reason there is none ("Xvfb did not start", ...). A server
// that did not come up is ended and waited for before this returns.
std::string EnsureDisplay();

}  // namespace morlane
