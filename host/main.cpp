// The viewer host program `morlane`: the headless commands, or else the window.
#include "Headless.h"
#include "MorlaneWindow.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc >= 2 && morlane::IsHeadlessCommand(argv[1])) return morlane::RunHeadless(argc, argv);
  if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
    std::fputs(morlane::Usage(), stdout);
    return 0;
  }
  return morlane::RunWindowed(argc, argv);
}
