// What the folder browser shows, without any toolkit: the machine's drives and its network
// (computers and their shares), the folders below each, the chain of folders that leads to the
// start folder, and which entries are folders one may choose. Everything comes from the
// machine layer (its drives, files and network), never from the host.
#pragma once

#include "gui/pages/DlgClientAttributes.h"

#include <string>
#include <vector>

namespace InstallGui {

class CFolderBrowser {
 public:
  // The entry that stands for the network ("\\").
  static constexpr const wchar_t* kNetwork = L"\\\\";

  // The drive roots ("C:\", ...) and the network.
  std::vector<std::wstring> Roots() const;
  // The folders below `path` (full paths, in the file system's order); below the network its
  // computers ("\\NAME", scanned once, `pump` keeps the windows alive and may stop it), below a
  // computer its shares.
  std::vector<std::wstring> Children(const std::wstring& path, const ScanPump& pump = nullptr);
  // The entries from a root down to `start` ("\\srv\share\P": the network, \\srv, \\srv\share,
  // \\srv\share\P); empty for a start that names no drive or computer.
  static std::vector<std::wstring> PathChain(const std::wstring& start);
  // The text shown for an entry: a drive or computer as it is, a folder by its name.
  static std::wstring Label(const std::wstring& path);
  // Whether the entry is a folder of the file system that may be chosen (not the network and
  // not a computer).
  static bool IsFileSystemFolder(const std::wstring& path);
  // The browser's title: `caption`, else the script's folder-browser caption, else
  // "Select folder".
  static std::wstring Title(const std::wstring& caption, const std::wstring& scriptCaption);

 private:
  ComputerList m_computers;
  bool m_scanned = false;
};

}  // namespace InstallGui
