// tlmsiexec: the host program behind msiexec.exe of the emulated machine.
#include <cstdio>
#include <string>
#include <vector>

#include "msiexec/Msiexec.h"
#include "platform/Text.h"

int main(int argc, char** argv) {
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
