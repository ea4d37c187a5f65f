#include "pack/PackageFiles.h"

#include "package/DataStorage.h"
#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"

#include <algorithm>
#include <stdexcept>

namespace TlPack {

namespace {

constexpr int kMaxDepth = 64;
constexpr std::size_t kMaxFiles = 1000000;

platform::DriveConfig ExtraDrive(const platform::MachineConfig& config, wchar_t letter,
                                 const std::string& hostPath, bool readOnly) {
  platform::DriveConfig drive;
  if (const platform::DriveConfig* c = config.Drive(L'C')) drive = *c;
  drive.letter = letter;
  drive.hostPath = hostPath;
  drive.readOnly = readOnly;
  drive.label.clear();
  drive.freeBytes.reset();
  drive.totalBytes.reset();
  return drive;
}

bool Walk(const std::wstring& folder, const std::wstring& relative, int depth,
          FolderListing& listing, std::wstring& error) {
  if (depth > kMaxDepth) {
    error = L"the folder " + folder + relative + L" lies more than 64 levels deep";
    return false;
  }
  std::vector<platform::FindData> entries;
  platform::DWORD status = platform::FindAll(folder + relative + L"*", entries);
  if (status != platform::ERROR_SUCCESS) {
    error = folder + relative + L": " + platform::SystemErrorText(status);
    return false;
  }
  for (const platform::FindData& e : entries) {
    std::wstring name = relative + e.fileName;
    if (e.attributes & platform::FILE_ATTRIBUTE_REPARSE_POINT) {
      listing.skipped.push_back(name);
      continue;
    }
    if (e.attributes & platform::FILE_ATTRIBUTE_DIRECTORY) {
      if (!Walk(folder, name + L"\\", depth + 1, listing, error)) return false;
      continue;
    }
    if (listing.contents.Names().size() >= kMaxFiles) {
      error = L"the folder holds more than a million files";
      return false;
    }
    listing.contents.Add(name);
  }
  return true;
}

}  // namespace

ToolMachine::ToolMachine(const std::string& sourceFolder, const std::string& outputFolder) {
  m_folder = platform::hostio::MakeTempDir("tlpack-");
  if (m_folder.empty()) throw platform::MachineError("tlpack: no temporary folder can be made");
  platform::MachineConfig config = platform::MachineConfig::Defaults();
  if (!sourceFolder.empty()) config.drives.push_back(ExtraDrive(config, L'S', sourceFolder, true));
  if (!outputFolder.empty()) config.drives.push_back(ExtraDrive(config, L'W', outputFolder, false));
  std::sort(config.drives.begin(), config.drives.end(),
            [](const auto& a, const auto& b) { return a.letter < b.letter; });
  const std::string root = m_folder + "/machine";
  try {
    platform::Machine::Init(root, config);
    platform::Machine::SetCurrentForProcess(root);
  } catch (...) {
    platform::hostio::RemoveTree(m_folder);
    throw;
  }
}

ToolMachine::~ToolMachine() {
  platform::Machine::ResetCurrent();
  platform::hostio::RemoveTree(m_folder);
}

bool ListFolder(const std::wstring& folder, FolderListing& listing, std::wstring& error) {
  std::wstring base = folder;
  if (!base.empty() && base.back() != L'\\') base += L'\\';
  if (!platform::PathIsDirectoryW(base)) {
    error = folder + L" is not a folder";
    return false;
  }
  return Walk(base, L"", 0, listing, error);
}

bool ListArchive(const std::wstring& archive, PackageContents& contents, std::wstring& error) {
  DataStorage::CUnzipper unzipper;
  if (!unzipper.Open(archive)) {
    error = archive + L" cannot be opened as a package archive";
    return false;
  }
  for (bool more = unzipper.GoToFirst(); more; more = unzipper.GoToNext()) {
    DataStorage::EntryInfo info;
    if (!unzipper.GetCurrentInfo(info)) {
      error = archive + L": an entry cannot be read";
      return false;
    }
    contents.Add(info.isDirectory ? info.name + L"\\" : info.name);
  }
  return true;
}

bool ReadArchiveEntry(const std::wstring& archive, const std::wstring& name, std::string& bytes,
                      std::wstring& error) {
  DataStorage::CDataStorage storage;
  if (!storage.Open(archive, nullptr)) {
    error = archive + L" cannot be opened as a package archive";
    return false;
  }
  std::wstring path;
  bool ok = storage.ExtractFile(L"", name, path);
  if (!ok) {
    error = archive + L" holds no " + name;
  } else if (platform::DWORD status = platform::ReadWholeFile(path, bytes);
             status != platform::ERROR_SUCCESS) {
    error = path + L": " + platform::SystemErrorText(status);
    ok = false;
  }
  storage.Close();
  return ok;
}

bool WriteArchive(const std::wstring& folder, const std::vector<std::wstring>& names,
                  const std::wstring& archive, std::wstring& error) {
  std::wstring partial = archive;
  const std::size_t slash = partial.rfind(L'\\');
  partial.insert(slash == std::wstring::npos ? 0 : slash + 1, L".");
  partial += L".partial";
  platform::DeleteFileW(partial);
  DataStorage::CZipper zipper;
  if (!zipper.Open(partial)) {
    error = partial + L" cannot be created";
    return false;
  }
  zipper.SetRoot(folder);
  std::wstring base = folder;
  if (!base.empty() && base.back() != L'\\') base += L'\\';
  for (const std::wstring& name : names) {
    if (!zipper.AddFile(base + name, false)) {
      error = name + L" cannot be packed";
      zipper.Close();
      platform::DeleteFileW(partial);
      return false;
    }
  }
  if (!zipper.Close()) {
    error = archive + L" cannot be completed";
    platform::DeleteFileW(partial);
    return false;
  }
  platform::DWORD status =
      platform::MoveFileExW(partial, archive, platform::MOVEFILE_REPLACE_EXISTING);
  if (status != platform::ERROR_SUCCESS) {
    error = archive + L": " + platform::SystemErrorText(status);
    platform::DeleteFileW(partial);
    return false;
  }
  return true;
}

}  // namespace TlPack
