// tlmsiexec: the host program behind msiexec.exe of the emulated machine.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "msiexec/Msiexec.h"
#include "platform/Text.h"

namespace {
void OnCancel(int) { Msi::RequestCancel(); }
}  // namespace

int main(int argc, char** argv) {
  // An interrupt (the console's Ctrl+C, a termination) cancels the installation as the user's
  // Cancel does: what was written is taken back and the status is 1602.
  std::signal(SIGINT, OnCancel);
  std::signal(SIGTERM, OnCancel);
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(platform::FromUtf8(argv[i]));
  Msi::Options options;
  std::wstring error;
  if (Msi::ParseCommandLine(args, options, error) != Msi::kSuccess) {
    std::fprintf(stderr, "msiexec: %s\n", platform::ToUtf8(error).c_str());
    return Msi::kInvalidCommandLine;
  }
  return Msi::Run(options);
}
