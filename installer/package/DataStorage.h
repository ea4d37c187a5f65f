// The package archive ("Setup.data", a ZIP file): opening, extraction into its temporary folder
// with the overwrite rules, measuring, and the packer of the uninstall packages.
//
// The ZIP files are opened and written by minizip through the machine layer's file handles
// (ZipFileAccess.h), so the archive sees Windows paths and an open archive is a file in use like
// any other. The directory of an archive is read and checked when it is opened
// (ArchiveDirectory.h): a hostile or unreadable one is not opened at all. An entry's data is read
// where the directory found it and inflated here, never past the size it declares.
#pragma once

#include "package/ArchiveDirectory.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Time.h"
#include "platform/Win32Errors.h"

#include <cstdint>
#include <memory>
#include <functional>
#include <set>
#include <unordered_set>
#include <vector>
#include <string>
#include <string_view>

namespace DataStorage {

// Where the unpacking reports its progress (the main window): the target of each entry as the
// item text, then the entry's unpacked size as the advance of the bar.
class IProgressSink {
 public:
  virtual ~IProgressSink() = default;
  virtual void SetProgressText(const std::wstring& text) = 0;
  virtual void StepProgress(std::uint64_t bytes) = 0;
};

class IDataStorage {
 public:
  virtual ~IDataStorage() = default;
  virtual bool Open(const std::wstring& path, const std::wstring* password) = 0;
  virtual void Close() = 0;
  virtual bool ExtractAll(const std::wstring& folder, std::wstring& path) = 0;
  virtual bool ExtractFile(const std::wstring& folder, const std::wstring& name,
                           std::wstring& path) = 0;
  virtual bool ExtractFolder(const std::wstring& folder, const std::wstring& prefix,
                             std::wstring& path, const std::wstring& overwriteName) = 0;
  virtual bool Measure(const std::wstring* prefix, std::uint64_t& count, std::uint64_t& packedBytes,
                       std::uint64_t& unpackedBytes) = 0;
  virtual int GetState() = 0;
  virtual std::wstring GetTempFolder() = 0;
  // Why the last extraction left files unwritten, when the disk did: ERROR_DISK_FULL (the
  // entries do not fit the free space, or a write found the disk full) or the status of another
  // failed write; ERROR_SUCCESS when nothing failed that way (a damaged or missing entry).
  virtual platform::DWORD LastWriteFailure() const { return platform::ERROR_SUCCESS; }
};

// The unpacker: one open archive, a destination root and the always-overwrite name.
class CUnzipper {
 public:
  CUnzipper();
  ~CUnzipper();
  CUnzipper(const CUnzipper&) = delete;
  CUnzipper& operator=(const CUnzipper&) = delete;

  // Opens the archive and reads its directory (ArchiveDirectory.h): an archive refused there
  // is not opened, and the entry and the reason are logged.
  bool Open(const std::wstring& archive);
  void Close();
  bool IsOpen() const { return m_zip != nullptr; }
  void SetRoot(const std::wstring& root) { m_root = root; }
  // One name between vertical bars ("|SETUP.INI|"); kept trimmed and in upper case.
  void SetOverwriteName(const std::wstring& name);

  // Walking the entries in archive order.
  bool GoToFirst();
  bool GoToNext();
  // Makes the entry `name` current: names compare without regard to case, "/" and "\" alike;
  // the first of that name in archive order.
  bool Locate(const std::wstring& name);
  bool GetCurrentInfo(EntryInfo& info);
  // Every entry in archive order, as the directory gives it.
  const std::vector<EntryInfo>& Entries() const { return m_directory.Entries(); }

  // Where an entry's bytes go: false stops the copy.
  using Sink = std::function<bool(const char* data, std::size_t size)>;
  // Reads the entry `info` (one of Entries()) whole into `sink`, never more than it declares;
  // false when it is damaged, holds more or less than it declares (`oversized`: more), is
  // encrypted, or the sink refuses. The data is read where the directory found it and
  // inflated here: minizip's reading of an entry stops at the declared size without telling
  // that the data holds more, and takes the 32-bit placeholders of ZIP64 sizes for sizes.
  bool ReadEntry(const EntryInfo& info, const std::wstring* password, const Sink& sink,
                 bool& oversized);

  // Unpacks the current entry below `destination` (the root when null): with `flatten` under
  // its file name alone, else with its folders. `target` receives the file written (or kept).
  // A target that cannot be created raises irCreateFile through CommonTools::RaiseRunResult.
  // `current`, when given, is the entry's information as the caller has just read it.
  bool UnzipFile(const std::wstring* destination, bool flatten, const std::wstring* password,
                 std::wstring* target = nullptr, const EntryInfo* current = nullptr);
  // Starts one extraction: forgets which folders are known to exist and the last write failure.
  void BeginBatch();
  // The status of the write that stopped an entry in this batch (the entry's file was not left
  // behind, nor a file it was to replace changed), or ERROR_SUCCESS.
  platform::DWORD WriteFailure() const { return m_writeFailure; }
  // What this unpacker created (files written, folders made) since the last ForgetCreated.
  // Names without regard to case, in no order.
  using NameSet = std::unordered_set<std::wstring, platform::NoCaseHash, platform::NoCaseEqual>;
  const NameSet& CreatedFiles() const { return m_createdFiles; }
  const NameSet& CreatedFolders() const { return m_createdFolders; }
  void ForgetCreated() {
    m_createdFiles.clear();
    m_createdFolders.clear();
  }

 private:
  bool KeepExisting(const std::wstring& target, const EntryInfo& info);
  bool CopyEntry(const std::wstring& target, const EntryInfo& info, const std::wstring* password);
  // Creates a folder with its parents, remembering it for the rest of the batch.
  bool EnsureFolder(const std::wstring& folder);
  // A write into `target` failed with `status`: logged and kept as the batch's failure; false.
  bool WriteFailed(const std::wstring& target, platform::DWORD status);

  // Folders known to exist in this batch, and those of them this batch created (a file in
  // those can only be one the batch wrote itself).
  NameSet m_knownFolders;
  NameSet m_freshFolders;
  NameSet m_createdFiles;
  NameSet m_createdFolders;
  // Reads up to `size` bytes of the archive at `offset` through the buffer; 0 at the end.
  std::size_t ReadArchive(std::uint64_t offset, const char*& data, std::size_t size);

  // The archive's bytes, read ahead in one buffer (the data of small entries that follow one
  // another comes in one read), and the buffer of inflated bytes.
  std::vector<char> m_block;
  std::uint64_t m_blockStart = 0;
  std::size_t m_blockLength = 0;
  std::vector<char> m_inflated;
  struct Inflater;
  std::unique_ptr<Inflater> m_inflater;
  // New files of the batch: written unnamed into the folders kept open, named when whole.
  platform::NewFileWriter m_writer;

  void* m_zip = nullptr;        // unzFile
  platform::FileHandle m_file;  // the entries' data is read through this handle
  CArchiveDirectory m_directory;
  std::size_t m_current = 0;  // the current entry of Entries()
  std::wstring m_archive;
  std::wstring m_root;
  std::wstring m_overwriteName;
  platform::DWORD m_writeFailure = platform::ERROR_SUCCESS;
};

// The packer of the uninstall packages.
class CZipper {
 public:
  CZipper();
  ~CZipper();
  CZipper(const CZipper&) = delete;
  CZipper& operator=(const CZipper&) = delete;

  // Creates the archive (or adds to an existing one with `append`).
  bool Open(const std::wstring& archive, bool append = false);
  // The folder against which absolute names are made relative and relative names are read.
  void SetRoot(const std::wstring& root) { m_root = root; }
  bool AddFile(const std::wstring& path, bool flatten);
  // Adds an entry made from bytes in memory under `storedName` ("\" or "/" between folders),
  // with its last-write time (UTC) and DOS attributes.
  bool AddData(const std::wstring& storedName, std::string_view bytes, platform::FileTime lastWrite,
               platform::DWORD attributes = 0);
  // Writes the central directory (with the ZIP64 end records when the archive has more
  // entries than the 16-bit fields hold); false when the archive could not be completed.
  bool Close();
  bool IsOpen() const { return m_zip != nullptr; }

 private:
  bool OpenEntry(const std::wstring& storedName, platform::FileTime lastWrite,
                 platform::DWORD attributes, std::uint64_t size);

  void* m_zip = nullptr;  // zipFile
  std::wstring m_archive;
  std::wstring m_root;
  std::uint64_t m_entries = 0;  // entries in the archive, those it had before included
};

class CDataStorage : public IDataStorage {
 public:
  CDataStorage();
  ~CDataStorage() override;

  // Opens the ZIP file at a Windows path. The same path again (in any case) keeps it open. Only
  // a regular file is opened (a pipe or a device is refused, never waited on). The temporary
  // folder is a new folder of this run's own below the user's TEMP ("<archive name>-<unique>",
  // with its note: RunFolder.h), so nothing an earlier run or another program left there is
  // ever used; the folders of runs that were killed on the way are removed first.
  bool Open(const std::wstring& path, const std::wstring* password) override;
  // Closes the archive and removes what the run extracted into its temporary folder, then the
  // folder itself when nothing else is in it; files in use (and the folders that hold them)
  // are scheduled for removal at the next start. Nothing the run did not create is removed.
  void Close() override;
  // Every entry with its folders into `folder` (the temporary folder when empty).
  bool ExtractAll(const std::wstring& folder, std::wstring& path) override;
  // Unpacks the entry `name` (case-insensitive; "/" or "\" in the name) into `folder` (the
  // temporary folder when empty), keeping only the file name below the entry's folder part.
  bool ExtractFile(const std::wstring& folder, const std::wstring& name,
                   std::wstring& path) override;
  // Every entry whose name begins with `prefix`, with its folders; true only when all succeed.
  bool ExtractFolder(const std::wstring& folder, const std::wstring& prefix, std::wstring& path,
                     const std::wstring& overwriteName) override;
  // Number, packed and unpacked sizes of the file entries below `prefix` (all when null).
  bool Measure(const std::wstring* prefix, std::uint64_t& count, std::uint64_t& packedBytes,
               std::uint64_t& unpackedBytes) override;
  int GetState() override { return m_state; }
  std::wstring GetTempFolder() override { return m_tempFolder; }
  platform::DWORD LastWriteFailure() const override {
    return m_spaceRefused ? platform::ERROR_DISK_FULL : m_unzipper.WriteFailure();
  }
  const std::wstring& GetArchivePath() const { return m_archivePath; }

  // The main window's progress display while folders are unpacked (none by default).
  void SetProgressSink(IProgressSink* sink) { m_progress = sink; }

 private:
  std::wstring Destination(const std::wstring& folder) const {
    return folder.empty() ? m_tempFolder : folder;
  }
  // Do the declared sizes fit the free space below `destination`? Logs the refusal.
  bool FitsFreeSpace(const std::wstring& destination, std::uint64_t declared);
  bool MakeTempFolder(const std::wstring& archivePath);
  void RemoveExtracted();
  // Every entry whose name begins with `wanted` into `destination`, after the free-space check.
  bool ExtractEntries(const std::wstring& destination, const std::wstring& wanted,
                      const std::wstring& overwriteName, bool showProgress);

  CUnzipper m_unzipper;
  int m_state = 0;  // 0 closed, 1 open, 2 open and files extracted
  std::wstring m_archivePath;
  std::wstring m_tempFolder;
  bool m_ownTempFolder = false;    // m_tempFolder was created by this object
  bool m_tempFolderNoted = false;  // with its note beside it (RunFolder.h)
  std::wstring m_password;
  IProgressSink* m_progress = nullptr;
  bool m_spaceRefused = false;  // the last extraction did not fit the free space
};

// Removes a folder of the machine with everything in it; a link (to a folder or a file) inside
// it is removed as the link, never followed. What cannot be removed now (a file in use) is
// scheduled for removal at the next start; false when something stayed.
bool DeleteFolderTree(const std::wstring& folder);

// `name` below `folder` of the machine, with one backslash between them (`name` alone for an
// empty folder).
std::wstring JoinName(const std::wstring& folder, const std::wstring& name);

// Does an entry name (in "\" form) stay inside the folder it is unpacked into? Refused: "..",
// a rooted name, a drive letter or any ":", a UNC name.
bool IsSafeEntryName(const std::wstring& name);

}  // namespace DataStorage
