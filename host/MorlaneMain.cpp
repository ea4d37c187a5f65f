// The `morlane` program: the viewer window (MorlaneWindow.h).
#include "MorlaneWindow.h"

int main(int argc, char** argv) { return morlane::RunWindowed(argc, argv); }
