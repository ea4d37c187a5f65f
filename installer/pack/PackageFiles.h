// The package author's files: a throwaway machine for the tool, the listing of a package folder
// or archive, one entry read out of an archive, and the writing of a package archive from a
// folder with the installer's own packer (names in the machine's code page, "\" in the script's
// names stored as the reader expects, deflate, the files' times and attributes kept).
#pragma once

#include "pack/ScriptCheck.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {
class Machine;
}

namespace TlPack {

// A fresh machine in a temporary folder of its own, current for the process while the object
// lives and removed with it. A package folder may be given as its drive S: (read-only, so a link
// inside it never leads out of it) and an output folder as drive W: (writable).
class ToolMachine {
 public:
  explicit ToolMachine(const std::string& sourceFolder = "", const std::string& outputFolder = "");
  ~ToolMachine();
  ToolMachine(const ToolMachine&) = delete;
  ToolMachine& operator=(const ToolMachine&) = delete;

  static constexpr const wchar_t* kSource = L"S:\\";
  static constexpr const wchar_t* kOutput = L"W:\\";

 private:
  std::string m_folder;
};

// The files below a folder of the machine, with their names relative to it ("\" between
// folders), in NTFS order. Links are not followed and not listed (`skipped` names them); the
// walk ends with an error past 64 levels or a million files.
struct FolderListing {
  PackageContents contents;
  std::vector<std::wstring> skipped;
};
bool ListFolder(const std::wstring& folder, FolderListing& listing, std::wstring& error);

// The entries of a package archive.
bool ListArchive(const std::wstring& archive, PackageContents& contents, std::wstring& error);

// The bytes of one entry of an archive (found as the installer finds it).
bool ReadArchiveEntry(const std::wstring& archive, const std::wstring& name, std::string& bytes,
                      std::wstring& error);

// Packs the names below `folder` into `archive`: written under a temporary name beside it and
// renamed over it only when complete, so a failed build leaves any earlier archive as it was.
bool WriteArchive(const std::wstring& folder, const std::vector<std::wstring>& names,
                  const std::wstring& archive, std::wstring& error);

}  // namespace TlPack
