#pragma once
// The windowed `morlane`: the viewer's frame with its menu and tool bar, a language file, and the
// files of the command line opened into it.
//
//   morlane [--lang FILE] [--language NAME|ID] [--snapshot OUT.png]
//           [--left FILE] [--right FILE] [FILE...]
//
// A model file (.xml) opens in the left workspace, an exchange file (STEP, IGES, STL) is
// imported there; files are taken in order. Files named with --right go into the right
// workspace the same way, after the left's (--left FILE is the same as a plain FILE). A file
// that is not opened is said in one line (one for the right workspace that does not exist: "no
// such file"); the others are still opened, and the result is 1. --snapshot saves a picture of the
// window once the files are shown and closes it (no dialogs are shown then; messages go to the
// error stream). Without a display it says so in one line and returns non-zero.

#include <string>
#include <vector>

namespace morlane {

struct WindowOptions {
  std::string languageFile;
  std::string language;
  std::string snapshot;
  std::vector<std::string> files;       // the left workspace's, in order (--left FILE or FILE)
  std::vector<std::string> rightFiles;  // the right workspace's (--right FILE)
};

// The window's command line (argv[1] on); false, with the reason in error, for an option it
// does not know or one without its value.
bool ParseWindowOptions(int argc, char** argv, WindowOptions& options, std::string& error);

int RunWindowed(int argc, char** argv);

}  // namespace morlane
