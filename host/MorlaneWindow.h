#pragma once
// The windowed `morlane`: the viewer's frame with its menu and tool bar, a language file, and the
// files of the command line opened into it.
//
//   morlane [--lang FILE] [--language NAME|ID] [--snapshot OUT.png] [FILE...]
//
// A model file (.xml) opens in the left workspace, an exchange file (STEP, IGES, STL) is
// imported there; files are taken in order. --snapshot saves a picture of the window once the
// files are shown and closes it (no dialogs are shown then; messages go to the error stream).
// Without a display it says so in one line and returns non-zero.

namespace morlane {

int RunWindowed(int argc, char** argv);

}  // namespace morlane
