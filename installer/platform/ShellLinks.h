// Shell links: ".lnk" files in the binary layout of the Windows shell (the shell link format:
// header, link information, string data, extra data), written and read back.
//
// A link written here holds the header (link flags, the target's attributes, size and times,
// the icon index and the show command), the link information with the target's volume (drive
// type, serial number and label) and its local base path (or, for a "\\server\share\..." target,
// the network share and the rest of the path), and the string data (description, working folder,
// arguments, icon location) in UTF-16. It has no item-id list: readers take the target from the
// link information, as the shell does when it resolves a link. Texts are refused when the format
// cannot hold them (more than 65,535 UTF-16 units, or paths of MAX_PATH and more).
#pragma once

#include <cstdint>
#include <string>

#include "platform/Win32Errors.h"

namespace platform {

struct ShellLink {
  std::wstring target;  // absolute Windows path of the target ("C:\..." or "\\server\share\...")
  std::wstring arguments;
  std::wstring description;
  std::wstring workingDirectory;
  std::wstring iconLocation;
  int iconIndex = 0;
  int showCommand = 1;  // SW_SHOWNORMAL
  // Filled from the target when the link is written (and read back from the file).
  DWORD fileAttributes = 0;
  std::uint64_t fileSize = 0;
  std::uint64_t creationTime = 0, accessTime = 0, writeTime = 0;  // FILETIME, UTC
  unsigned driveType = 0;
  DWORD driveSerial = 0;
};

// Writes the link file at `linkPath` (created or replaced; its folder must exist). The target's
// attributes, size and times and its volume's type, serial and label are taken from the machine
// when the target exists. ERROR_INVALID_PARAMETER for an empty or relative target or a negative
// show command, ERROR_FILENAME_EXCED_RANGE for texts the format cannot hold; the file layer's
// codes otherwise.
DWORD WriteShellLink(const std::wstring& linkPath, ShellLink link);
// The bytes of such a link (what WriteShellLink writes), for tests and tools.
DWORD BuildShellLink(const ShellLink& link, std::string& bytes);
// Reads a link file back: the target from its link information, the strings, the header's
// fields. ERROR_BAD_FORMAT for a file that is not a shell link or is cut short or inconsistent.
DWORD ReadShellLink(const std::wstring& linkPath, ShellLink& link);
DWORD ParseShellLink(const std::string& bytes, ShellLink& link);

}  // namespace platform
