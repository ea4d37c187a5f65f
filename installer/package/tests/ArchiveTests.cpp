// The package archive: overwrite rules, hostile and broken archives, measuring, the packer, and
// batches of many entries (any order, a full disk, a cut).
#include "package/DataStorage.h"
#include "package/LogSink.h"
#include "package/tests/TestArchive.h"
#include "testing/MachineFixture.h"
#include "platform/Environment.h"
#include "platform/Files.h"
#include "platform/Restart.h"
#include "platform/Text.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <zip.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

// The entries of the archives built byte by byte name only the fields they change.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using DataStorage::CDataStorage;

namespace {

constexpr std::uint16_t kDate = ((2024 - 1980) << 9) | (1 << 5) | 1;  // 2024-01-01
constexpr std::uint16_t kTime = 12 << 11;                             // 12:00:00

struct Entry {
  std::string name;
  std::string data;
  std::uint32_t attributes = 0;
  bool store = false;  // no compression (so tests can find the bytes in the file)
  std::uint16_t date = kDate;
  std::uint16_t time = kTime;
};

bool WriteEntries(const std::string& hostPath, const std::vector<Entry>& entries) {
  zipFile zip = zipOpen64(hostPath.c_str(), APPEND_STATUS_CREATE);
  if (!zip) return false;
  bool ok = true;
  for (const auto& e : entries) {
    zip_fileinfo info{};
    info.dosDate = (static_cast<uLong>(e.date) << 16) | e.time;
    info.external_fa = e.attributes;
    ok = ok && zipOpenNewFileInZip4_64(
                   zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                   e.store ? 0 : Z_DEFLATED, e.store ? 0 : Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS,
                   DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0, 0, 0) == ZIP_OK;
    ok = ok &&
         zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) == ZIP_OK;
    ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

void MakeArchive(const std::wstring& path, const std::vector<Entry>& entries) {
  std::wstring folder = path.substr(0, path.rfind(L'\\'));
  platform::CreateDirectoryWithParents(folder);
  ASSERT_TRUE(WriteEntries(platform::ToHostPath(path), entries));
}

platform::FileTime EntryTimeUtc() {
  platform::FileTime local = 0;
  EXPECT_TRUE(platform::DosDateTimeToFileTime(kDate, kTime, local));
  return platform::LocalFileTimeToFileTime(local);
}

std::string Read(const std::wstring& path) {
  std::string bytes;
  EXPECT_EQ(platform::ReadWholeFile(path, bytes), platform::ERROR_SUCCESS)
      << platform::ToUtf8(path);
  return bytes;
}

// Collects the package's log lines for one test.
struct LogCapture {
  LogCapture() {
    CommonTools::SetLogSink([this](CommonTools::LogLevel level, const std::wstring& text) {
      lines.push_back(std::to_string(static_cast<int>(level)) + " " + platform::ToUtf8(text));
    });
    CommonTools::SetCurrentFileSink([this](const std::wstring& file) { currentFile = file; });
  }
  ~LogCapture() {
    CommonTools::SetLogSink(nullptr);
    CommonTools::SetCurrentFileSink(nullptr);
  }
  int Count(const std::string& part) const {
    int n = 0;
    for (const auto& l : lines) n += l.find(part) != std::string::npos;
    return n;
  }
  std::vector<std::string> lines;
  std::wstring currentFile;
};

struct ProgressRecorder : DataStorage::IProgressSink {
  void SetProgressText(const std::wstring& text) override { texts.push_back(text); }
  void StepProgress(std::uint64_t bytes) override { total += bytes; }
  std::vector<std::wstring> texts;
  std::uint64_t total = 0;
};

}  // namespace

TEST(ArchiveOverwrite, NewerKeptUnlessNamedSameKeptOlderReadOnlyReplaced) {
  tltest::ScopedMachine machine;
  LogCapture log;
  MakeArchive(
      L"C:\\Pkg\\Setup.data",
      {{"bin/app.ini", "from-zip"}, {"bin/same.txt", "ZIPDATA"}, {"bin/old.txt", "new contents"}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  platform::CreateDirectoryWithParents(L"C:\\Dest\\bin");

  // An existing copy written now is later than the entry: kept, logged, still a success.
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Dest\\bin\\app.ini", "edited by the user"),
            platform::ERROR_SUCCESS);
  // The same time and size: not rewritten.
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Dest\\bin\\same.txt", "MINEMIN"),
            platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::SetFileLastWriteTime(L"C:\\Dest\\bin\\same.txt", EntryTimeUtc()),
            platform::ERROR_SUCCESS);
  // An older read-only copy: replaced.
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Dest\\bin\\old.txt", "old"), platform::ERROR_SUCCESS);
  ASSERT_EQ(
      platform::SetFileLastWriteTime(L"C:\\Dest\\bin\\old.txt", EntryTimeUtc() - 864000000000ull),
      platform::ERROR_SUCCESS);
  ASSERT_EQ(
      platform::SetFileAttributesW(L"C:\\Dest\\bin\\old.txt", platform::FILE_ATTRIBUTE_READONLY),
      platform::ERROR_SUCCESS);

  std::wstring path;
  EXPECT_TRUE(storage.ExtractFolder(L"C:\\Dest", L"BIN/", path, L""));
  EXPECT_EQ(path, L"C:\\Dest\\BIN\\");
  EXPECT_EQ(Read(L"C:\\Dest\\bin\\app.ini"), "edited by the user");
  EXPECT_EQ(Read(L"C:\\Dest\\bin\\same.txt"), "MINEMIN");
  EXPECT_EQ(Read(L"C:\\Dest\\bin\\old.txt"), "new contents");
  platform::FileInfo info;
  ASSERT_EQ(platform::GetFileAttributesExW(L"C:\\Dest\\bin\\old.txt", info),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(info.lastWriteTime, EntryTimeUtc());
  EXPECT_EQ(info.attributes & platform::FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(log.Count("1 CUnzipper::UnzipFile File = C:\\Dest\\bin\\app.ini is NOT UPDATED: file "
                      "is later than file "
                      "from ZIP or not changed "),
            1);
  EXPECT_EQ(log.Count("1 CUnzipper::UnzipFile File = C:\\Dest\\bin\\same.txt is NOT UPDATED"), 1);
  EXPECT_EQ(log.Count("2 CUnzipper::UnzipFile may file = C:\\Dest\\bin\\old.txt be overwritten?"),
            1);
  EXPECT_EQ(log.Count("old.txt is NOT UPDATED"), 0);

  // Named as the always-overwrite name (any case, blanks around), the newer copy is replaced;
  // the full stored name serves too.
  EXPECT_TRUE(storage.ExtractFolder(L"C:\\Dest", L"bin", path, L"  |App.INI| "));
  EXPECT_EQ(Read(L"C:\\Dest\\bin\\app.ini"), "from-zip");
  EXPECT_TRUE(storage.ExtractFolder(L"C:\\Dest", L"bin", path, L"|BIN\\SAME.TXT|"));
  EXPECT_EQ(Read(L"C:\\Dest\\bin\\same.txt"), "ZIPDATA");
  // The name is forgotten afterwards: a newer copy is kept again.
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Dest\\bin\\app.ini", "edited again"),
            platform::ERROR_SUCCESS);
  EXPECT_TRUE(storage.ExtractFolder(L"C:\\Dest", L"bin", path, L""));
  EXPECT_EQ(Read(L"C:\\Dest\\bin\\app.ini"), "edited again");
}

TEST(ArchiveExtraction, FoldersAttributesTimesAndProgress) {
  tltest::ScopedMachine machine;
  MakeArchive(
      L"C:\\Pkg\\Setup.data",
      {{"Data/", ""},
       {"Data/sub/deep/a.txt", "aaa"},
       {"data\\b.txt", "bb", platform::FILE_ATTRIBUTE_HIDDEN | platform::FILE_ATTRIBUTE_READONLY},
       {"Other/c.txt", "c"}});
  CDataStorage storage;
  ProgressRecorder progress;
  storage.SetProgressSink(&progress);
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  ASSERT_TRUE(storage.ExtractFolder(L"", L"data", path, L""));
  std::wstring temp = storage.GetTempFolder();
  EXPECT_EQ(path, temp + L"\\data");
  EXPECT_EQ(Read(temp + L"\\Data\\sub\\deep\\a.txt"), "aaa");
  EXPECT_EQ(Read(temp + L"\\data\\b.txt"), "bb");
  EXPECT_FALSE(platform::PathFileExistsW(temp + L"\\Other"));
  EXPECT_EQ(platform::GetFileAttributesW(temp + L"\\data\\b.txt") &
                (platform::FILE_ATTRIBUTE_HIDDEN | platform::FILE_ATTRIBUTE_READONLY),
            platform::FILE_ATTRIBUTE_HIDDEN | platform::FILE_ATTRIBUTE_READONLY);
  platform::FileInfo info;
  ASSERT_EQ(platform::GetFileAttributesExW(temp + L"\\Data\\sub\\deep\\a.txt", info),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(info.lastWriteTime, EntryTimeUtc());
  ASSERT_EQ(progress.texts.size(), 3u);
  EXPECT_EQ(progress.texts[1], temp + L"\\Data\\sub\\deep\\a.txt");
  EXPECT_EQ(progress.total, 5u);

  // A repair over its own read-only hidden files: the older ones are replaced, not result 16.
  ASSERT_EQ(platform::SetFileAttributesW(temp + L"\\data\\b.txt", platform::FILE_ATTRIBUTE_HIDDEN),
            platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::SetFileLastWriteTime(temp + L"\\data\\b.txt", EntryTimeUtc() - 10000000),
            platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(temp + L"\\data\\b.txt", "ol"), platform::ERROR_ACCESS_DENIED);
  ASSERT_EQ(platform::SetFileLastWriteTime(temp + L"\\data\\b.txt", EntryTimeUtc() - 10000000),
            platform::ERROR_SUCCESS);
  EXPECT_TRUE(storage.ExtractFolder(L"", L"data", path, L""));
  platform::FileInfo again;
  ASSERT_EQ(platform::GetFileAttributesExW(temp + L"\\data\\b.txt", again),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(again.lastWriteTime, EntryTimeUtc());

  // Everything, with the folders kept.
  ASSERT_TRUE(storage.ExtractAll(L"C:\\All", path));
  EXPECT_EQ(path, L"C:\\All");
  EXPECT_EQ(Read(L"C:\\All\\Other\\c.txt"), "c");
  EXPECT_EQ(Read(L"C:\\All\\Data\\sub\\deep\\a.txt"), "aaa");

  storage.Close();
  EXPECT_FALSE(platform::PathFileExistsW(temp));
  EXPECT_TRUE(platform::PathFileExistsW(L"C:\\All\\Other\\c.txt"));
}

TEST(ArchiveExtraction, MeasureCountsFileEntriesBelowAPrefix) {
  tltest::ScopedMachine machine;
  MakeArchive(L"C:\\Pkg\\Setup.data", {{"Data/", ""},
                                       {"Data/a.bin", std::string(1000, 'a')},
                                       {"data/b.bin", "xyz"},
                                       {"Database.txt", "12"},
                                       {"Other/c", "c"}});
  CDataStorage storage;
  std::uint64_t count = 9, packed = 9, unpacked = 9;
  EXPECT_FALSE(storage.Measure(nullptr, count, packed, unpacked));
  EXPECT_EQ(count, 0u);
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  ASSERT_TRUE(storage.Measure(nullptr, count, packed, unpacked));
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(unpacked, 1000u + 3 + 2 + 1);
  EXPECT_LT(packed, unpacked);
  std::wstring prefix = L"DATA\\";
  ASSERT_TRUE(storage.Measure(&prefix, count, packed, unpacked));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(unpacked, 1003u);
  // A plain text prefix, as the steps give it, also takes "Database.txt".
  prefix = L"data";
  ASSERT_TRUE(storage.Measure(&prefix, count, packed, unpacked));
  EXPECT_EQ(count, 3u);
}

TEST(ArchiveHostile, EntriesLeadingOutsideAreRefusedAndNothingIsWrittenOutside) {
  tltest::ScopedMachine machine;
  LogCapture log;
  MakeArchive(L"C:\\Pkg\\Setup.data", {{"../escape.txt", "x"},
                                       {"good/../../escape2.txt", "x"},
                                       {"/rooted.txt", "x"},
                                       {"C:/Windows/win.ini", "x"},
                                       {"c:drive-relative.txt", "x"},
                                       {"//server/share/unc.txt", "x"},
                                       {"good/..../dots.txt", "x"},
                                       {"good/ok.txt", "fine"}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  EXPECT_FALSE(storage.ExtractAll(L"C:\\Dest\\inner", path));
  EXPECT_EQ(Read(L"C:\\Dest\\inner\\good\\ok.txt"), "fine");
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Dest\\escape.txt"));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\escape2.txt"));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Dest\\escape2.txt"));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\rooted.txt"));
  std::string winIni;
  platform::ReadWholeFile(L"C:\\Windows\\win.ini", winIni);
  EXPECT_NE(winIni, "x");
  // Refused at warning level: a damaged entry the run does not need must not fail the run.
  EXPECT_GE(log.Count("1 CUnzipper::UnzipFile entry = "), 6);
  EXPECT_EQ(log.Count("0 CUnzipper::UnzipFile entry = "), 0);
  std::vector<platform::FindData> found;
  platform::FindAll(L"C:\\Dest\\inner\\*", found);
  ASSERT_EQ(found.size(), 1u);  // only "good"
  EXPECT_EQ(found[0].fileName, L"good");

  EXPECT_FALSE(storage.ExtractFolder(L"C:\\Dest\\inner", L"..", path, L""));
  EXPECT_FALSE(storage.ExtractFile(L"C:\\Dest", L"good\\..\\..\\escape2.txt", path));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\escape2.txt"));

  EXPECT_TRUE(DataStorage::IsSafeEntryName(L"a\\b.c"));
  EXPECT_TRUE(DataStorage::IsSafeEntryName(L"a..b\\..c"));
  EXPECT_FALSE(DataStorage::IsSafeEntryName(L"a/../b"));
  EXPECT_FALSE(DataStorage::IsSafeEntryName(L".. \\b"));
  EXPECT_FALSE(DataStorage::IsSafeEntryName(L"\\\\srv\\s\\b"));
}

TEST(ArchiveBroken, CrcErrorTruncationAndEmptyArchives) {
  tltest::ScopedMachine machine;
  LogCapture log;
  std::string payload(5000, 'P');
  MakeArchive(L"C:\\Pkg\\Setup.data", {{"good.txt", "good"}, {"bad.txt", payload, 0, true}});
  // Damage one byte of the stored entry: its CRC no longer matches.
  std::string host = platform::ToHostPath(L"C:\\Pkg\\Setup.data");
  std::string bytes = tltest::ReadHostFile(host);
  size_t at = bytes.find(payload);
  ASSERT_NE(at, std::string::npos);
  bytes[at + 2500] = 'Q';
  {
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out << bytes;
  }
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  EXPECT_FALSE(storage.ExtractFile(L"C:\\Dest", L"bad.txt", path));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Dest\\bad.txt"));  // no partial file left
  EXPECT_EQ(log.Count("1 CUnzipper::UnzipFile File = C:\\Dest\\bad.txt is not unpacked"), 1);
  EXPECT_EQ(log.Count("0 CUnzipper::UnzipFile File = C:\\Dest\\bad.txt"), 0);
  EXPECT_TRUE(storage.ExtractFile(L"C:\\Dest", L"good.txt", path));
  EXPECT_FALSE(storage.ExtractAll(L"C:\\Dest2", path));
  EXPECT_TRUE(platform::PathFileExistsW(L"C:\\Dest2\\good.txt"));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Dest2\\bad.txt"));
  storage.Close();

  // Cut in half: the central directory is gone.
  {
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out << bytes.substr(0, bytes.size() / 2);
  }
  EXPECT_FALSE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  EXPECT_EQ(storage.GetState(), 0);
  // Zero length.
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Pkg\\Setup.data", ""), platform::ERROR_SUCCESS);
  EXPECT_FALSE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  // Only the central directory is damaged past the entry data: the names are unreadable.
  {
    std::string broken = bytes;
    size_t central = broken.rfind(std::string("PK\x01\x02", 4));
    ASSERT_NE(central, std::string::npos);
    broken[central + 1] = 'X';
    std::ofstream out(host, std::ios::binary | std::ios::trunc);
    out << broken;
  }
  if (storage.Open(L"C:\\Pkg\\Setup.data", nullptr)) {
    std::uint64_t count, packed, unpacked;
    EXPECT_FALSE(storage.ExtractAll(L"C:\\Dest3", path) &&
                 storage.Measure(nullptr, count, packed, unpacked) && count == 2);
  }
}

TEST(ArchiveBroken, TargetThatCannotBeCreatedRaisesResult16) {
  tltest::ScopedMachine machine;
  LogCapture log;
  MakeArchive(L"C:\\Pkg\\Setup.data", {{"lib/tool.dll", "dll"}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  // A folder stands where the file should go.
  platform::CreateDirectoryWithParents(L"C:\\Dest\\lib\\tool.dll");
  std::wstring path;
  try {
    storage.ExtractFolder(L"C:\\Dest", L"lib", path, L"");
    ADD_FAILURE() << "no result raised";
  } catch (const CommonTools::RunResultError& e) {
    EXPECT_EQ(e.result, 16);
  }
  EXPECT_EQ(log.currentFile, L"C:\\Dest\\lib\\tool.dll");
  EXPECT_EQ(log.Count("0 CUnzipper::UnzipFile File = C:\\Dest\\lib\\tool.dll is not create"), 1);

  // A raiser installed by the run controller decides what is thrown.
  struct Raised {
    int result;
  };
  CommonTools::SetResultRaiser([](int result) { throw Raised{result}; });
  EXPECT_THROW(storage.ExtractFolder(L"C:\\Dest", L"lib", path, L""), Raised);
  CommonTools::SetResultRaiser(nullptr);
}

TEST(ArchiveInUse, OpenArchiveIsAFileInUseAndLockedFilesWaitForTheRestart) {
  tltest::ScopedMachine machine;
  MakeArchive(L"C:\\Pkg\\Setup.data", {{"InstallScript.cfg", "<x/>"}, {"img/a.png", "png"}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  EXPECT_EQ(platform::DeleteFileW(L"C:\\Pkg\\Setup.data"), platform::ERROR_SHARING_VIOLATION);
  std::wstring path;
  ASSERT_TRUE(storage.ExtractFile(L"", L"img/a.png", path));
  platform::FileHandle locked;
  ASSERT_EQ(locked.Open(path, platform::GENERIC_READ, 0, platform::OPEN_EXISTING),
            platform::ERROR_SUCCESS);
  std::wstring temp = storage.GetTempFolder();
  storage.Close();
  auto pending = platform::PendingFileOperations();
  bool fileScheduled = false, folderScheduled = false;
  for (const auto& op : pending) {
    fileScheduled |= platform::EqualsNoCase(op.source, path) && op.destination.empty();
    folderScheduled |= platform::EqualsNoCase(op.source, temp) && op.destination.empty();
  }
  EXPECT_TRUE(fileScheduled);
  EXPECT_TRUE(folderScheduled);
  // The archive is free again.
  locked.Close();
  EXPECT_EQ(platform::DeleteFileW(L"C:\\Pkg\\Setup.data"), platform::ERROR_SUCCESS);
}

TEST(ArchiveMany, HundredThousandTinyEntries) {
  tltest::ScopedMachine machine;
  std::vector<Entry> entries;
  entries.reserve(100000);
  for (int i = 0; i < 100000; ++i)
    entries.push_back(
        {(i % 1000 == 0 ? "pick/" : "many/") + std::to_string(i) + ".t", "z", 0, true});
  MakeArchive(L"C:\\Pkg\\Setup.data", entries);
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::uint64_t count = 0, packed = 0, unpacked = 0;
  ASSERT_TRUE(storage.Measure(nullptr, count, packed, unpacked));
  EXPECT_EQ(count, 100000u);
  EXPECT_EQ(unpacked, 100000u);
  std::wstring path;
  ASSERT_TRUE(storage.ExtractFolder(L"C:\\Dest", L"pick", path, L""));
  std::vector<platform::FindData> found;
  platform::FindAll(L"C:\\Dest\\pick\\*", found);
  EXPECT_EQ(found.size(), 100u);
  ASSERT_TRUE(storage.ExtractFile(L"C:\\Dest", L"many/99999.t", path));
  EXPECT_EQ(Read(L"C:\\Dest\\many\\99999.t"), "z");
}

TEST(Zipper, PackedFilesComeBackWithTheirNamesTimesAndAttributes) {
  tltest::ScopedMachine machine;
  platform::CreateDirectoryWithParents(L"C:\\Prod\\bin");
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Prod\\bin\\tool.exe", std::string(20000, 'T')),
            platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Prod\\readme.txt", "read me"), platform::ERROR_SUCCESS);
  ASSERT_EQ(
      platform::SetFileAttributesW(L"C:\\Prod\\readme.txt", platform::FILE_ATTRIBUTE_READONLY |
                                                                platform::FILE_ATTRIBUTE_HIDDEN),
      platform::ERROR_SUCCESS);
  platform::FileTime when = EntryTimeUtc();
  ASSERT_EQ(platform::SetFileLastWriteTime(L"C:\\Prod\\bin\\tool.exe", when),
            platform::ERROR_SUCCESS);
  platform::CreateDirectoryWithParents(L"C:\\Other");
  ASSERT_EQ(platform::WriteWholeFile(L"C:\\Other\\x.txt", "x"), platform::ERROR_SUCCESS);

  DataStorage::CZipper zipper;
  EXPECT_FALSE(zipper.Open(L"C:\\Out\\SetupTT.data"));  // its folder is missing
  platform::CreateDirectoryWithParents(L"C:\\Out");
  ASSERT_TRUE(zipper.Open(L"C:\\Out\\SetupTT.data"));
  zipper.SetRoot(L"C:\\Prod\\");
  EXPECT_TRUE(zipper.AddFile(L"c:\\prod\\bin\\tool.exe", false));
  EXPECT_TRUE(zipper.AddFile(L".\\readme.txt", false));
  EXPECT_TRUE(zipper.AddFile(L"C:\\Other\\x.txt", true));
  EXPECT_FALSE(zipper.AddFile(L"C:\\Other\\x.txt", false));  // outside the root
  EXPECT_FALSE(zipper.AddFile(L"..\\Other\\x.txt", false));  // leads out
  EXPECT_FALSE(zipper.AddFile(L"C:\\Prod\\missing.txt", false));
  EXPECT_FALSE(zipper.AddFile(L"C:\\Prod\\bin", false));  // a folder
  ASSERT_TRUE(zipper.Close());

  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Out\\SetupTT.data", nullptr));
  std::uint64_t count = 0, packed = 0, unpacked = 0;
  ASSERT_TRUE(storage.Measure(nullptr, count, packed, unpacked));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(unpacked, 20000u + 7 + 1);
  std::wstring path;
  ASSERT_TRUE(storage.ExtractAll(L"C:\\Back", path));
  EXPECT_EQ(Read(L"C:\\Back\\bin\\tool.exe"), std::string(20000, 'T'));
  EXPECT_EQ(Read(L"C:\\Back\\readme.txt"), "read me");
  EXPECT_EQ(Read(L"C:\\Back\\x.txt"), "x");
  platform::FileInfo info;
  ASSERT_EQ(platform::GetFileAttributesExW(L"C:\\Back\\bin\\tool.exe", info),
            platform::ERROR_SUCCESS);
  EXPECT_EQ(info.lastWriteTime, when);
  platform::DWORD attrs = platform::GetFileAttributesW(L"C:\\Back\\readme.txt");
  EXPECT_TRUE(attrs & platform::FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(attrs & platform::FILE_ATTRIBUTE_READONLY);  // read-only is not packed
}

TEST(ArchiveNames, AnsiCodePageNamesBothWays) {
  tltest::ScopedMachine machine;
  // "Größe.txt" stored in code page 1252 (the machine's), and a UTF-8 name with its flag.
  MakeArchive(L"C:\\Pkg\\Setup.data", {{"docs/Gr\xF6\xDF"
                                        "e.txt",
                                        "1252"}});
  {
    std::string host = platform::ToHostPath(L"C:\\Pkg\\Utf8.data");
    zipFile zip = zipOpen64(host.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    zip_fileinfo info{};
    ASSERT_EQ(zipOpenNewFileInZip4_64(zip, "docs/\xD0\xA0\xD1\x83\xD1\x81.txt", &info, nullptr, 0,
                                      nullptr, 0, nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0,
                                      -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                                      0x800, 0),
              ZIP_OK);
    ASSERT_EQ(zipWriteInFileInZip(zip, "utf8", 4), ZIP_OK);
    ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
  }
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  ASSERT_TRUE(storage.ExtractFile(L"C:\\Dest", L"DOCS\\GRößE.TXT", path));
  EXPECT_EQ(Read(L"C:\\Dest\\docs\\Größe.txt"), "1252");
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Utf8.data", nullptr));
  ASSERT_TRUE(storage.ExtractAll(L"C:\\Dest", path));
  EXPECT_EQ(Read(L"C:\\Dest\\docs\\Рус.txt"), "utf8");

  // The packer stores names in the code page again.
  DataStorage::CZipper zipper;
  ASSERT_TRUE(zipper.Open(L"C:\\Pkg\\Packed.data"));
  zipper.SetRoot(L"C:\\Dest");
  ASSERT_TRUE(zipper.AddFile(L"C:\\Dest\\docs\\Größe.txt", false));
  ASSERT_TRUE(zipper.Close());
  std::string packed = tltest::ReadHostFile(platform::ToHostPath(L"C:\\Pkg\\Packed.data"));
  EXPECT_NE(packed.find("docs/Gr\xF6\xDF"
                        "e.txt"),
            std::string::npos);
}

TEST(ArchiveNames, LongNamesAreReadWhole) {
  tltest::ScopedMachine machine;
  std::string longName = "deep/" + std::string(600, 'n') + ".txt";
  MakeArchive(L"C:\\Pkg\\Setup.data", {{longName, "long"}, {"short.txt", "s"}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring whole = platform::AnsiToWide("deep\\" + std::string(600, 'n') + ".txt");
  std::uint64_t count = 0, packed = 0, unpacked = 0;
  ASSERT_TRUE(storage.Measure(&whole, count, packed, unpacked));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(unpacked, 4u);
}

namespace {

// A machine whose drive C: says it has `free` bytes free.
platform::MachineConfig WithFreeSpace(std::uint64_t free) {
  auto config = platform::MachineConfig::Defaults();
  for (auto& d : config.drives)
    if (d.letter == L'C') d.freeBytes = free;
  return config;
}

void MakeRawArchive(const std::wstring& path, const std::vector<tltest::RawEntry>& entries,
                    const tltest::RawEnd& end = {}) {
  platform::CreateDirectoryWithParents(path.substr(0, path.rfind(L'\\')));
  ASSERT_TRUE(tltest::WriteRawZip(platform::ToHostPath(path), entries, end));
}

}  // namespace

TEST(ArchiveZip64, SmallZip64EntriesAreReadWithTheirRealSizes) {
  tltest::ScopedMachine machine;
  MakeRawArchive(L"C:\\Pkg\\Setup.data",
                 {{"plain.txt", "plain", std::nullopt, false},
                  {"dir/wide.txt", "sixty-four", std::nullopt, true},
                  {"dir/packed.txt", std::string(100000, 'z') + "end", std::nullopt, true, true}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::uint64_t count = 0, packed = 0, unpacked = 0;
  ASSERT_TRUE(storage.Measure(nullptr, count, packed, unpacked));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(unpacked, 5u + 10u + 100003u);  // never 4294967295 from the 32-bit fields
  std::wstring path;
  ASSERT_TRUE(storage.ExtractAll(L"C:\\Dest", path));
  EXPECT_EQ(Read(L"C:\\Dest\\dir\\wide.txt"), "sixty-four");
  EXPECT_EQ(Read(L"C:\\Dest\\plain.txt"), "plain");
  EXPECT_EQ(Read(L"C:\\Dest\\dir\\packed.txt"), std::string(100000, 'z') + "end");
}

TEST(ArchiveBomb, DeclaredSizesBeyondTheFreeSpaceAreRefusedBeforeAnythingIsWritten) {
  // 16 GiB declared (ZIP64) in an archive of a few bytes, on a drive with 64 MB free.
  tltest::ScopedMachine machine(WithFreeSpace(64ull << 20));
  LogCapture log;
  MakeRawArchive(L"C:\\Pkg\\Setup.data",
                 {{"small.txt", "small"}, {"bomb/huge.bin", "not really 16 GiB", 16ull << 30}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::uint64_t count = 0, packed = 0, unpacked = 0;
  ASSERT_TRUE(storage.Measure(nullptr, count, packed, unpacked));
  EXPECT_EQ(unpacked, (16ull << 30) + 5u);  // the declared ZIP64 size, above 4 GiB
  std::wstring path;
  EXPECT_FALSE(storage.ExtractAll(L"C:\\Dest", path));
  EXPECT_FALSE(storage.ExtractFolder(L"C:\\Dest", L"bomb", path, L""));
  EXPECT_FALSE(storage.ExtractFile(L"C:\\Dest", L"bomb/huge.bin", path));
  // Nothing at all was unpacked, not even the small entry.
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Dest"));
  EXPECT_EQ(log.Count("0 CDataStorage: the entries to unpack declare 17179869189 bytes, more "
                      "than the 67108864 bytes free at C:\\Dest; nothing is unpacked"),
            1);
  // What fits is unpacked as before.
  ASSERT_TRUE(storage.ExtractFile(L"C:\\Dest", L"small.txt", path));
  EXPECT_EQ(Read(L"C:\\Dest\\small.txt"), "small");
}

TEST(ArchiveBomb, AnEntryNeverWritesMoreThanItDeclares) {
  tltest::ScopedMachine machine;
  LogCapture log;
  // Stored data of 4096 bytes under headers that declare 16.
  MakeRawArchive(L"C:\\Pkg\\Setup.data", {{"liar.bin", std::string(4096, 'L'), 16}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  EXPECT_FALSE(storage.ExtractFile(L"C:\\Dest", L"liar.bin", path));
  platform::FileInfo info;
  EXPECT_NE(platform::GetFileAttributesExW(L"C:\\Dest\\liar.bin", info), platform::ERROR_SUCCESS)
      << "left behind with " << info.size << " bytes";
  EXPECT_EQ(log.Count("1 CUnzipper::UnzipFile File = C:\\Dest\\liar.bin is not unpacked"), 1);
}

TEST(ArchiveZip64, ZipperWritesArchivesOfMoreThan65535EntriesThatOthersRead) {
  tltest::ScopedMachine machine;
  platform::CreateDirectoryWithParents(L"C:\\Pkg");
  DataStorage::CZipper zipper;
  ASSERT_TRUE(zipper.Open(L"C:\\Pkg\\Many.data"));
  const platform::FileTime time = EntryTimeUtc();
  for (int i = 0; i < 100000; ++i)
    ASSERT_TRUE(zipper.AddData(L"d" + std::to_wstring(i % 100) + L"\\" + std::to_wstring(i) + L".t",
                               "x", time));
  ASSERT_TRUE(zipper.Close());
  const std::string host = platform::ToHostPath(L"C:\\Pkg\\Many.data");
  if (std::system("command -v unzip >/dev/null 2>&1") != 0) GTEST_SKIP() << "no unzip";
  EXPECT_EQ(std::system(("unzip -tq '" + host + "' >/dev/null 2>&1").c_str()), 0);
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Many.data", nullptr));
  std::uint64_t count = 0, packed = 0, unpacked = 0;
  ASSERT_TRUE(storage.Measure(nullptr, count, packed, unpacked));
  EXPECT_EQ(count, 100000u);
  std::wstring path;
  ASSERT_TRUE(storage.ExtractFile(L"C:\\Dest", L"d99\\99999.t", path));
  EXPECT_EQ(Read(L"C:\\Dest\\d99\\99999.t"), "x");
}

TEST(ArchiveHostile, APipeOrADeviceAsThePackageIsRefusedWithoutWaiting) {
  tltest::ScopedMachine machine;
  platform::CreateDirectoryWithParents(L"C:\\Pkg");
  const std::string fifo = platform::ToHostPath(L"C:\\Pkg") + "/Setup.data";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  // In a child with an alarm: a hang must fail the test, not stop the suite.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(10);
    bool logged = false;
    CommonTools::SetLogSink([&](CommonTools::LogLevel level, const std::wstring& text) {
      logged |= level == CommonTools::LogLevel::Error &&
                text ==
                    L"CDataStorage::Open C:\\Pkg\\Setup.data is not a regular file and is "
                    L"refused";
    });
    CDataStorage storage;
    bool opened = storage.Open(L"C:\\Pkg\\Setup.data", nullptr);
    platform::FileHandle h;
    bool handle = h.Open(L"C:\\Pkg\\Setup.data", platform::GENERIC_READ, platform::FILE_SHARE_READ,
                         platform::OPEN_EXISTING) == platform::ERROR_SUCCESS;
    ::_exit(!opened && !handle && logged ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the open waited on the pipe";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(platform::GetFileAttributesW(L"C:\\Pkg\\Setup.data") & platform::FILE_ATTRIBUTE_DEVICE,
            0u);
}

// ---------------------------------------------------------------------------------------------
// Archives whose directory is hostile or cannot be read: refused at the open, as a whole, with
// the entry and the reason; nothing is unpacked.

namespace {

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const auto& l : lines) all += l + "\n";
  return all;
}

// The archive at C:\Pkg\Setup.data is refused with the log line `line`: it is not opened,
// and nothing is unpacked anywhere.
void ExpectRefused(const LogCapture& log, const std::string& line) {
  CDataStorage storage;
  EXPECT_FALSE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  EXPECT_EQ(storage.GetState(), 0);
  EXPECT_TRUE(storage.GetTempFolder().empty());
  EXPECT_EQ(log.Count(line), 1) << Joined(log.lines);
  std::wstring path;
  std::uint64_t count = 0, packed = 0, unpacked = 0;
  EXPECT_FALSE(storage.ExtractAll(L"C:\\Dest", path));
  EXPECT_FALSE(storage.Measure(nullptr, count, packed, unpacked));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Dest"));
  DataStorage::CUnzipper unzipper;
  EXPECT_FALSE(unzipper.Open(L"C:\\Pkg\\Setup.data"));
  EXPECT_FALSE(unzipper.GoToFirst());
}

const std::string kRefused = "0 CUnzipper::Open entry = ";
const std::string kIn = " in C:\\Pkg\\Setup.data is refused: ";

}  // namespace

TEST(ArchiveHostile, EntriesThatOverlapInTheFileAreRefusedAtTheOpen) {
  // One deflate stream of 1 MiB named by eight central entries: 8 MiB out of a few kB, all of
  // which fits on the disk.
  const std::string zeros(1 << 20, '\0');
  std::vector<tltest::RawEntry> bomb{{.name = "bomb0.bin", .data = zeros, .deflate = true}};
  std::vector<tltest::RawEntry> sameName{{.name = "bomb.bin", .data = zeros, .deflate = true}};
  for (int i = 1; i < 8; ++i) {
    bomb.push_back({.name = "bomb" + std::to_string(i) + ".bin",
                    .data = zeros,
                    .deflate = true,
                    .sameDataAs = 0});
    sameName.push_back({.name = "bomb.bin", .data = zeros, .deflate = true, .sameDataAs = 0});
  }
  // A whole local header with its data hidden inside the data of a stored entry, named by a
  // central entry of its own.
  const std::string hidden = tltest::RawZip({{"hidden.txt", "hid"}}).substr(0, 30 + 10 + 3);
  const std::string carrier = std::string(16, 'A') + hidden + std::string(16, 'B');
  const std::vector<tltest::RawEntry> nested{
      {.name = "carrier.bin", .data = carrier},
      {.name = "hidden.txt", .data = "hid", .sameDataAs = 0, .offsetDelta = 30 + 11 + 16}};
  struct Case {
    const char* what;
    std::vector<tltest::RawEntry> entries;
    std::string line;
  };
  const Case cases[] = {
      {"eight entries on one stream", bomb,
       kRefused + "bomb1.bin" + kIn + "it shares its data with entry = bomb0.bin"},
      {"the same, under one name", sameName,
       kRefused + "bomb.bin" + kIn + "it shares its data with entry = bomb.bin"},
      {"a local header inside the data of another entry", nested,
       kRefused + "hidden.txt" + kIn +
           "its local header lies inside the data of entry = carrier.bin"},
      {"data that runs on into the central directory",
       {{"first.txt", "first"}, {.name = "long.bin", .data = "abc", .declaredPacked = 100000}},
       kRefused + "long.bin" + kIn + "its data runs into the central directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tltest::ScopedMachine machine;
    LogCapture log;
    MakeRawArchive(L"C:\\Pkg\\Setup.data", c.entries);
    EXPECT_LT(tltest::ReadHostFile(platform::ToHostPath(L"C:\\Pkg\\Setup.data")).size(), 20000u);
    ExpectRefused(log, c.line);
  }
}

TEST(ArchiveHostile, LocalAndCentralHeadersThatDisagreeAreRefused) {
  struct Case {
    const char* what;
    tltest::RawEntry entry;
    std::string reason;  // empty: the archive is read
  };
  const Case cases[] = {
      {"another name",
       {.name = "bin/app.dll", .data = "12345", .localName = "bin/evil.dll"},
       "its local header names bin\\evil.dll"},
      {"another compressed size",
       {.name = "bin/app.dll", .data = "12345", .localPacked = 3},
       "its local header declares 3 bytes packed, the directory 5"},
      {"another uncompressed size",
       {.name = "bin/app.dll", .data = "12345", .localUnpacked = 999},
       "its local header declares 999 bytes unpacked, the directory 5"},
      {"another size in the local ZIP64 field",
       {.name = "bin/app.dll", .data = "12345", .zip64 = true, .localUnpacked = 1ull << 33},
       "its local header declares 8589934592 bytes unpacked, the directory 5"},
      {"sizes left at 0 for a data descriptor",
       {.name = "bin/app.dll", .data = "12345", .flags = 8, .localPacked = 0, .localUnpacked = 0},
       ""},
      {"the same sizes with a data descriptor",
       {.name = "bin/app.dll", .data = "12345", .deflate = true, .flags = 8},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tltest::ScopedMachine machine;
    LogCapture log;
    MakeRawArchive(L"C:\\Pkg\\Setup.data", {{"first.txt", "first"}, c.entry});
    if (!c.reason.empty()) {
      ExpectRefused(log, kRefused + "bin\\app.dll" + kIn + c.reason);
      continue;
    }
    CDataStorage storage;
    ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr)) << Joined(log.lines);
    std::wstring path;
    ASSERT_TRUE(storage.ExtractAll(L"C:\\Dest", path));
    EXPECT_EQ(Read(L"C:\\Dest\\bin\\app.dll"), "12345");
    EXPECT_EQ(log.Count("0 "), 0) << Joined(log.lines);
  }
}

TEST(ArchiveHostile, EntriesInMethodsTheUnpackerCannotReadAreRefusedByName) {
  const std::pair<int, std::string> methods[] = {
      {9, "Deflate64"}, {12, "BZIP2"}, {14, "LZMA"},           {93, "Zstandard"},
      {95, "XZ"},       {98, "PPMd"},  {99, "AES encryption"}, {7, "unknown"},
  };
  for (const auto& [method, name] : methods) {
    SCOPED_TRACE(name);
    tltest::ScopedMachine machine;
    LogCapture log;
    MakeRawArchive(L"C:\\Pkg\\Setup.data",
                   {{"first.txt", "first"}, {.name = "big.bin", .data = "xxxx", .method = method}});
    ExpectRefused(log, kRefused + "big.bin" + kIn + "method " + std::to_string(method) + " (" +
                           name + ") is not supported");
  }
}

TEST(ArchiveZip64, EndRecordsWithMarkersAreReadAndUnreadableOnesAreErrors) {
  const std::vector<tltest::RawEntry> entries{
      {"a.txt", "alpha"},
      {"dir/b.txt", std::string(70000, 'b'), std::nullopt, true, true},
      {"dir/c.txt", "gamma", std::nullopt, false, true}};
  {
    // The classic end record holds only markers: the ZIP64 one says where and how many.
    tltest::ScopedMachine machine;
    LogCapture log;
    MakeRawArchive(L"C:\\Pkg\\Setup.data", entries, {.zip64 = true});
    const std::string bytes = tltest::ReadHostFile(platform::ToHostPath(L"C:\\Pkg\\Setup.data"));
    ASSERT_EQ(bytes.substr(bytes.size() - 14, 12), std::string(12, '\xFF'));
    CDataStorage storage;
    ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr)) << Joined(log.lines);
    std::uint64_t count = 0, packed = 0, unpacked = 0;
    ASSERT_TRUE(storage.Measure(nullptr, count, packed, unpacked));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(unpacked, 5u + 70000u + 5u);
    std::wstring path;
    ASSERT_TRUE(storage.ExtractAll(L"C:\\Dest", path));
    EXPECT_EQ(Read(L"C:\\Dest\\a.txt"), "alpha");
    EXPECT_EQ(Read(L"C:\\Dest\\dir\\b.txt"), std::string(70000, 'b'));
    EXPECT_EQ(Read(L"C:\\Dest\\dir\\c.txt"), "gamma");
  }
  {
    // Counts at their marker and no ZIP64 records (65,535 entries or more from a writer that
    // knows no ZIP64): the central directory itself says how many.
    tltest::ScopedMachine machine;
    LogCapture log;
    MakeRawArchive(L"C:\\Pkg\\Setup.data", entries, {.declaredCount = 0xFFFF});
    CDataStorage storage;
    ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr)) << Joined(log.lines);
    std::uint64_t count = 0, packed = 0, unpacked = 0;
    ASSERT_TRUE(storage.Measure(nullptr, count, packed, unpacked));
    EXPECT_EQ(count, 3u);
  }
  const std::string archiveRefused = "0 CUnzipper::Open C:\\Pkg\\Setup.data is refused: ";
  struct Case {
    const char* what;
    tltest::RawEnd end;
    std::string reason;
    // Cuts the ZIP64 records out (markers left behind), or points the locator elsewhere.
    enum { None, CutZip64, LocatorToZero } damage = None;
  };
  const Case cases[] = {
      {"no entries declared",
       {.declaredCount = 0},
       "its central directory holds more entries than the 0 its end record declares"},
      {"no entries declared in the ZIP64 record",
       {.zip64 = true, .declaredCount = 0},
       "its central directory holds more entries than the 0 its end record declares"},
      {"more entries declared",
       {.declaredCount = 5},
       "its central directory ends after 3 of the 5 entries its end record declares"},
      {"markers without ZIP64 records",
       {.zip64 = true},
       "its end record holds ZIP64 markers but there is no ZIP64 end record",
       Case::CutZip64},
      {"a locator that leads nowhere",
       {.zip64 = true},
       "its ZIP64 end record is missing or damaged",
       Case::LocatorToZero},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tltest::ScopedMachine machine;
    LogCapture log;
    MakeRawArchive(L"C:\\Pkg\\Setup.data", entries, c.end);
    if (c.damage != Case::None) {
      const std::string host = platform::ToHostPath(L"C:\\Pkg\\Setup.data");
      std::string bytes = tltest::ReadHostFile(host);
      const std::size_t end = bytes.size() - 22, locator = end - 20;
      if (c.damage == Case::CutZip64)
        bytes = bytes.substr(0, locator - 56) + bytes.substr(end);
      else
        bytes.replace(locator + 8, 8, std::string(8, '\0'));
      std::ofstream(host, std::ios::binary | std::ios::trunc) << bytes;
    }
    ExpectRefused(log, archiveRefused + c.reason);
  }
}

TEST(ArchiveBomb, AnEntryThatInflatesBeyondItsDeclaredSizeStopsThereAndFails) {
  tltest::ScopedMachine machine;
  LogCapture log;
  // 1 MiB of data in a stream whose headers declare 4 kB, with the CRC of those 4 kB: only the
  // stream itself tells that it holds more.
  const std::string data(1 << 20, 'B');
  MakeRawArchive(L"C:\\Pkg\\Setup.data", {{"small.txt", "small"},
                                          {.name = "bomb/liar.bin",
                                           .data = data,
                                           .declaredSize = 4096,
                                           .deflate = true,
                                           .crc = tltest::Crc(data.substr(0, 4096))}});
  DataStorage::CUnzipper unzipper;
  ASSERT_TRUE(unzipper.Open(L"C:\\Pkg\\Setup.data"));
  ASSERT_TRUE(unzipper.Locate(L"BOMB\\liar.bin"));
  DataStorage::EntryInfo info;
  ASSERT_TRUE(unzipper.GetCurrentInfo(info));
  EXPECT_EQ(info.unpackedSize, 4096u);
  std::uint64_t delivered = 0;
  bool oversized = false;
  EXPECT_FALSE(unzipper.ReadEntry(
      info, nullptr,
      [&](const char*, std::size_t n) {
        delivered += n;
        return true;
      },
      oversized));
  EXPECT_TRUE(oversized);
  EXPECT_LE(delivered, 4096u);
  unzipper.Close();

  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  EXPECT_FALSE(storage.ExtractAll(L"C:\\Dest", path));
  EXPECT_EQ(Read(L"C:\\Dest\\small.txt"), "small");
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Dest\\bomb\\liar.bin"));
  EXPECT_EQ(log.Count("1 CUnzipper::UnzipFile File = C:\\Dest\\bomb\\liar.bin is not unpacked: the "
                      "entry holds more than it declares"),
            1)
      << Joined(log.lines);
}

TEST(ArchiveBomb, EntriesAfterOnesStoppedMidStreamOrBrokenComeOutWhole) {
  tltest::ScopedMachine machine;
  LogCapture log;
  // Entries one after another through the same unpacker: one stopped in the middle of its
  // stream (it holds more than it declares), one whose stream is not deflate at all, and good
  // ones of several sizes around them, the first large enough to fill the inflate window.
  std::string large;
  for (int i = 0; large.size() < 200000; ++i) large += "line " + std::to_string(i * 7919) + "\n";
  const std::string bomb(1 << 20, 'B');
  MakeRawArchive(
      L"C:\\Pkg\\Setup.data",
      {{.name = "a/large.txt", .data = large, .deflate = true},
       {.name = "a/liar.bin",
        .data = bomb,
        .declaredSize = 4096,
        .deflate = true,
        .crc = tltest::Crc(bomb.substr(0, 4096))},
       {.name = "a/two.txt", .data = "second entry, after the one cut short", .deflate = true},
       {.name = "a/noise.bin", .data = std::string("\xFF\xFF\x00\x13 not deflate"), .method = 8},
       {.name = "a/empty.txt", .data = "", .deflate = true},
       {.name = "a/three.txt", .data = large.substr(1000, 5000), .deflate = true},
       {.name = "a/stored.txt", .data = "kept as it stands"}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  EXPECT_FALSE(storage.ExtractAll(L"C:\\Dest", path));
  EXPECT_EQ(Read(L"C:\\Dest\\a\\large.txt"), large);
  EXPECT_EQ(Read(L"C:\\Dest\\a\\two.txt"), "second entry, after the one cut short");
  EXPECT_EQ(Read(L"C:\\Dest\\a\\empty.txt"), "");
  EXPECT_EQ(Read(L"C:\\Dest\\a\\three.txt"), large.substr(1000, 5000));
  EXPECT_EQ(Read(L"C:\\Dest\\a\\stored.txt"), "kept as it stands");
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Dest\\a\\liar.bin"));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Dest\\a\\noise.bin"));
  EXPECT_EQ(log.Count("1 CUnzipper::UnzipFile File = C:\\Dest\\a\\noise.bin is not unpacked: the "
                      "entry cannot be read"),
            1)
      << Joined(log.lines);
  // The same archive read again after a close: the unpacker starts over as fresh.
  storage.Close();
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  EXPECT_FALSE(storage.ExtractAll(L"C:\\Again", path));
  EXPECT_EQ(Read(L"C:\\Again\\a\\three.txt"), large.substr(1000, 5000));
}

TEST(ArchiveNames, UnicodePathFieldsAndUtf8FlaggedNames) {
  const std::string ansi = "docs/Caf\xE9.txt";                           // "Café.txt" in 1252
  const std::string utf8 = "docs/\xD0\x9A\xD0\xB0\xD1\x84\xD0\xB5.txt";  // "Кафе.txt"
  struct Case {
    const char* what;
    tltest::RawEntry entry;
    std::wstring expected;  // where the entry lands below C:\Dest
    std::string warning;    // a log line at level 1, when one is expected
  };
  const Case cases[] = {
      {"a Unicode path whose CRC is the one of the name",
       {.name = ansi, .data = "x", .centralExtra = tltest::UnicodePathField(utf8, ansi)},
       L"docs\\Кафе.txt",
       ""},
      {"a Unicode path left over from another name",
       {.name = ansi, .data = "x", .centralExtra = tltest::UnicodePathField(utf8, "docs/old.txt")},
       L"docs\\Café.txt",
       "1 CUnzipper::Open entry = docs\\Café.txt in C:\\Pkg\\Setup.data: its Unicode path is not "
       "the one of its name and is ignored"},
      {"a name flagged UTF-8", {.name = utf8, .data = "x", .flags = 0x800}, L"docs\\Кафе.txt", ""},
      {"an unflagged name in the ANSI code page",
       {.name = ansi, .data = "x"},
       L"docs\\Café.txt",
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tltest::ScopedMachine machine;
    LogCapture log;
    MakeRawArchive(L"C:\\Pkg\\Setup.data", {c.entry});
    CDataStorage storage;
    ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr)) << Joined(log.lines);
    std::wstring path;
    ASSERT_TRUE(storage.ExtractAll(L"C:\\Dest", path));
    EXPECT_EQ(Read(L"C:\\Dest\\" + c.expected), "x");
    std::vector<platform::FindData> found;
    platform::FindAll(L"C:\\Dest\\docs\\*", found);
    EXPECT_EQ(found.size(), 1u);
    if (!c.warning.empty()) {
      EXPECT_EQ(log.Count(c.warning), 1) << Joined(log.lines);
    }
  }

  // The name a Unicode path gives is checked like any other: it leads nowhere outside.
  tltest::ScopedMachine machine;
  LogCapture log;
  MakeRawArchive(L"C:\\Pkg\\Setup.data",
                 {{.name = "docs/ok.txt",
                   .data = "x",
                   .centralExtra = tltest::UnicodePathField("../../evil.txt", "docs/ok.txt")}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  EXPECT_FALSE(storage.ExtractAll(L"C:\\Dest\\inner", path));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\evil.txt"));
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Dest\\evil.txt"));
  EXPECT_EQ(log.Count("1 CUnzipper::UnzipFile entry = ..\\..\\evil.txt leads outside"), 1)
      << Joined(log.lines);
}

TEST(ArchiveReal, ArchivesMadeByZipAndByOurPackerStillRead) {
  tltest::ScopedMachine machine;
  const std::string big = [] {
    std::string s;
    for (int i = 0; s.size() < 300000; ++i) s += "line " + std::to_string(i * 7919 % 1000) + "\n";
    return s;
  }();
  const std::vector<std::pair<std::wstring, std::string>> files{
      {L"a.txt", "hello"}, {L"sub\\b.txt", big}, {L"sub\\deep\\empty.txt", ""}};
  platform::CreateDirectoryWithParents(L"C:\\Src\\sub\\deep");
  for (const auto& [name, data] : files)
    ASSERT_EQ(platform::WriteWholeFile(L"C:\\Src\\" + name, data), platform::ERROR_SUCCESS);
  platform::CreateDirectoryWithParents(L"C:\\Pkg");

  std::vector<std::wstring> archives;
  // Our packer, as tlpack and the uninstaller registration use it.
  {
    DataStorage::CZipper zipper;
    ASSERT_TRUE(zipper.Open(L"C:\\Pkg\\Packer.data"));
    zipper.SetRoot(L"C:\\Src");
    for (const auto& [name, data] : files) ASSERT_TRUE(zipper.AddFile(name, false));
    ASSERT_TRUE(zipper.Close());
    archives.push_back(L"C:\\Pkg\\Packer.data");
  }
  if (std::system("command -v zip >/dev/null 2>&1") == 0) {
    const std::string src = platform::ToHostPath(L"C:\\Src"),
                      pkg = platform::ToHostPath(L"C:\\Pkg");
    const std::pair<const char*, std::string> made[] = {
        {"Zip.data", "zip -q -r '" + pkg + "/Zip.data' ."},
        {"Stored.data", "zip -q -0 -r '" + pkg + "/Stored.data' ."},
        {"Zip64.data", "zip -q -fz -r '" + pkg + "/Zip64.data' ."},
        // Written to a pipe: sizes in data descriptors after the data.
        {"Streamed.data",
         "zip -q - a.txt sub/b.txt sub/deep/empty.txt | cat > '" + pkg + "/Streamed.data'"},
    };
    for (const auto& [name, command] : made) {
      ASSERT_EQ(std::system(("cd '" + src + "' && " + command).c_str()), 0) << command;
      archives.push_back(L"C:\\Pkg\\" + platform::AnsiToWide(name));
    }
  } else {
    ADD_FAILURE() << "zip is not installed (scripts/deps)";
  }
  int round = 0;
  for (const std::wstring& archive : archives) {
    SCOPED_TRACE(platform::ToUtf8(archive));
    LogCapture log;
    CDataStorage storage;
    ASSERT_TRUE(storage.Open(archive, nullptr)) << Joined(log.lines);
    const std::wstring out = L"C:\\Out" + std::to_wstring(++round);
    std::wstring path;
    ASSERT_TRUE(storage.ExtractAll(out, path)) << Joined(log.lines);
    for (const auto& [name, data] : files) EXPECT_EQ(Read(out + L"\\" + name), data);
    std::uint64_t count = 0, packed = 0, unpacked = 0;
    ASSERT_TRUE(storage.Measure(nullptr, count, packed, unpacked));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(unpacked, 5u + big.size());
    EXPECT_EQ(log.Count("0 "), 0) << Joined(log.lines);
  }
}

namespace {

// A machine with a drive D: that has `free` bytes of room.
platform::MachineConfig WithDriveD(std::uint64_t free) {
  auto config = platform::MachineConfig::Defaults();
  platform::DriveConfig d;
  d.letter = L'D';
  d.freeBytes = free;
  config.drives.push_back(d);
  std::sort(config.drives.begin(), config.drives.end(),
            [](const auto& a, const auto& b) { return a.letter < b.letter; });
  return config;
}

}  // namespace

TEST(ArchiveDiskFull, AWriteThatFindsTheDiskFullStopsTheBatchAndLeavesNoPart) {
  tltest::ScopedMachine machine(WithDriveD(5000));
  LogCapture log;
  MakeArchive(L"C:\\Pkg\\Setup.data", {{"first/a.bin", std::string(3000, 'a')},
                                       {"second/b1.bin", std::string(1000, '1')},
                                       {"second/b2.bin", std::string(2000, '2')},
                                       {"second/b3.bin", std::string(500, '3')},
                                       {"huge/h.bin", std::string(6000, 'h')}});
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  ASSERT_TRUE(storage.ExtractFolder(L"D:\\Dest", L"first", path, L""));
  EXPECT_EQ(storage.LastWriteFailure(), platform::ERROR_SUCCESS);
  // Each folder fits the free space the volume reports, both together do not: the second one
  // finds the disk full in the middle of its second file.
  EXPECT_FALSE(storage.ExtractFolder(L"D:\\Dest", L"second", path, L""));
  EXPECT_EQ(storage.LastWriteFailure(), platform::ERROR_DISK_FULL);
  EXPECT_EQ(Read(L"D:\\Dest\\second\\b1.bin"), std::string(1000, '1'));
  EXPECT_FALSE(platform::PathFileExistsW(L"D:\\Dest\\second\\b2.bin")) << "no half file";
  EXPECT_FALSE(platform::PathFileExistsW(L"D:\\Dest\\second\\b3.bin")) << "the batch stopped";
  EXPECT_EQ(log.Count("0 CUnzipper::UnzipFile File = D:\\Dest\\second\\b2.bin is not written: "
                      "There is not enough space on the disk."),
            1);
  EXPECT_EQ(log.Count("is not written"), 1);
  EXPECT_EQ(log.currentFile, L"D:\\Dest\\second\\b2.bin");
  // Entries that declare more than the free space are refused before a byte is written, for
  // the same reason; the next extraction starts without the failure of the last.
  EXPECT_FALSE(storage.ExtractFolder(L"D:\\Dest", L"huge", path, L""));
  EXPECT_EQ(storage.LastWriteFailure(), platform::ERROR_DISK_FULL);
  ASSERT_TRUE(storage.ExtractFile(L"C:\\Dest", L"second/b3.bin", path));
  EXPECT_EQ(storage.LastWriteFailure(), platform::ERROR_SUCCESS);
  // An entry that is not in the archive is no failure of the disk.
  EXPECT_FALSE(storage.ExtractFile(L"D:\\Dest", L"missing.bin", path));
  EXPECT_EQ(storage.LastWriteFailure(), platform::ERROR_SUCCESS);
}

TEST(ArchiveDiskFull, AFileThatCannotBeReplacedWholeKeepsWhatItHeld) {
  tltest::ScopedMachine machine(WithDriveD(5000));
  LogCapture log;
  MakeArchive(L"C:\\Pkg\\Setup.data",
              {{"bin/app.exe", std::string(2500, 'n')}, {"bin/lib.dll", std::string(100, 'l')}});
  // An installed copy, older than the package's, and a disk that is nearly full.
  platform::CreateDirectoryWithParents(L"D:\\Prod\\bin");
  ASSERT_EQ(platform::WriteWholeFile(L"D:\\Prod\\bin\\app.exe", "the installed program"),
            platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::SetFileLastWriteTime(L"D:\\Prod\\bin\\app.exe", EntryTimeUtc() - 1000000000),
            platform::ERROR_SUCCESS);
  ASSERT_EQ(platform::WriteWholeFile(L"D:\\filler.bin", std::string(3000, 'f')),
            platform::ERROR_SUCCESS);
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  EXPECT_FALSE(storage.ExtractFolder(L"D:\\Prod", L"bin", path, L""));
  EXPECT_EQ(storage.LastWriteFailure(), platform::ERROR_DISK_FULL);
  EXPECT_EQ(Read(L"D:\\Prod\\bin\\app.exe"), "the installed program");
  std::vector<platform::FindData> left;
  platform::FindAll(L"D:\\Prod\\bin\\*", left, false);
  ASSERT_EQ(left.size(), 1u) << "nothing written beside the program";
  EXPECT_EQ(left[0].fileName, L"app.exe");
}

namespace {

constexpr platform::DWORD kDosAttributes =
    platform::FILE_ATTRIBUTE_READONLY | platform::FILE_ATTRIBUTE_HIDDEN |
    platform::FILE_ATTRIBUTE_SYSTEM | platform::FILE_ATTRIBUTE_ARCHIVE;

// Tiny entries of every kind: empty to a few hundred bytes, stored and deflated, binary and
// text, in folders of several depths, with DOS attributes and times of their own.
std::vector<Entry> TinyEntries(int count) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> size(0, 600), byte(0, 255);
  const std::uint32_t kinds[] = {
      0, platform::FILE_ATTRIBUTE_ARCHIVE, platform::FILE_ATTRIBUTE_READONLY,
      platform::FILE_ATTRIBUTE_HIDDEN | platform::FILE_ATTRIBUTE_SYSTEM,
      platform::FILE_ATTRIBUTE_READONLY | platform::FILE_ATTRIBUTE_ARCHIVE};
  std::vector<Entry> entries;
  for (int i = 0; i < count; ++i) {
    Entry e;
    const int folder = i % 7;
    e.name = (folder < 3 ? "res/set" : "lib/m/deep") + std::to_string(folder) + "/f" +
             std::to_string(i) + (i % 2 ? ".txt" : ".bin");
    const int n = size(rng);
    for (int k = 0; k < n; ++k)
      e.data += i % 2 ? static_cast<char>('a' + k % 7) : static_cast<char>(byte(rng));
    e.attributes = kinds[i % 5];
    e.store = i % 3 == 0;
    e.date = static_cast<std::uint16_t>(((2020 + i % 5 - 1980) << 9) | ((1 + i % 12) << 5) |
                                        (1 + i % 28));
    e.time = static_cast<std::uint16_t>(((i % 24) << 11) | ((i % 60) << 5) | (i % 30));
    entries.push_back(e);
  }
  return entries;
}

std::wstring WindowsName(const std::string& stored) {
  std::wstring name = platform::FromUtf8(stored);
  std::replace(name.begin(), name.end(), L'/', L'\\');
  return name;
}

// The files below `folder`, with their paths relative to it.
void ListFiles(const std::wstring& folder, const std::wstring& relative,
               std::vector<std::wstring>& files) {
  std::vector<platform::FindData> found;
  platform::FindAll(folder + L"\\*", found, false);
  for (const auto& f : found) {
    if (f.fileName == L"." || f.fileName == L"..") continue;
    const std::wstring rel = relative.empty() ? f.fileName : relative + L"\\" + f.fileName;
    if (f.attributes & platform::FILE_ATTRIBUTE_DIRECTORY)
      ListFiles(folder + L"\\" + f.fileName, rel, files);
    else
      files.push_back(platform::ToUpper(rel));
  }
}

// Every entry is a file below `root` with its bytes, size, time and attributes (an entry's own
// DOS attributes, else the archive attribute of a new file), and nothing else is there.
void ExpectUnpacked(const std::wstring& root, const std::vector<Entry>& entries) {
  std::vector<std::wstring> expected, found;
  for (const Entry& e : entries) {
    const std::wstring path = root + L"\\" + WindowsName(e.name);
    expected.push_back(platform::ToUpper(WindowsName(e.name)));
    platform::FileInfo info;
    ASSERT_EQ(platform::GetFileAttributesExW(path, info), platform::ERROR_SUCCESS) << e.name;
    EXPECT_EQ(info.size, e.data.size()) << e.name;
    EXPECT_EQ(Read(path), e.data) << e.name;
    platform::FileTime local = 0;
    ASSERT_TRUE(platform::DosDateTimeToFileTime(e.date, e.time, local));
    EXPECT_EQ(info.lastWriteTime, platform::LocalFileTimeToFileTime(local)) << e.name;
    EXPECT_EQ(info.attributes & kDosAttributes,
              e.attributes ? e.attributes : platform::FILE_ATTRIBUTE_ARCHIVE)
        << e.name;
  }
  ListFiles(root, L"", found);
  std::sort(expected.begin(), expected.end());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, expected);
}

struct CutShort : DataStorage::IProgressSink {
  explicit CutShort(int after) : left(after) {}
  void SetProgressText(const std::wstring&) override {}
  void StepProgress(std::uint64_t) override {
    if (--left == 0) throw std::runtime_error("cancelled");
  }
  int left;
};

}  // namespace

TEST(ArchiveBatch, ManyTinyEntriesComeOutTheSameInAnyOrderAndAsWhenUnpackedOneByOne) {
  tltest::ScopedMachine machine;
  const std::vector<Entry> entries = TinyEntries(1500);
  std::vector<Entry> shuffled = entries;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(5));
  MakeArchive(L"C:\\Pkg\\Setup.data", entries);
  MakeArchive(L"C:\\Pkg\\Shuffled.data", shuffled);
  std::wstring path;
  {
    CDataStorage storage;
    ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
    ASSERT_TRUE(storage.ExtractAll(L"C:\\InOrder", path));
    // One entry at a time, each an extraction of its own.
    for (const Entry& e : entries)
      ASSERT_TRUE(storage.ExtractFile(L"C:\\OneByOne", platform::FromUtf8(e.name), path)) << e.name;
    // A folder at a time, with the progress shown.
    ProgressRecorder progress;
    storage.SetProgressSink(&progress);
    ASSERT_TRUE(storage.ExtractFolder(L"C:\\Folders", L"res", path, L""));
    ASSERT_TRUE(storage.ExtractFolder(L"C:\\Folders", L"lib", path, L""));
    EXPECT_EQ(progress.texts.size(), entries.size());
    std::uint64_t bytes = 0;
    for (const Entry& e : entries) bytes += e.data.size();
    EXPECT_EQ(progress.total, bytes);
  }
  {
    CDataStorage storage;
    ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Shuffled.data", nullptr));
    ASSERT_TRUE(storage.ExtractAll(L"C:\\Shuffled", path));
  }
  ExpectUnpacked(L"C:\\InOrder", entries);
  ExpectUnpacked(L"C:\\OneByOne", entries);
  ExpectUnpacked(L"C:\\Folders", entries);
  ExpectUnpacked(L"C:\\Shuffled", entries);
}

TEST(ArchiveBatch, EntriesTheFastWayCannotTakeGoTheWholeWayInTheirPlaceInTheBatch) {
  tltest::ScopedMachine machine;
  LogCapture log;
  std::vector<Entry> entries = TinyEntries(400);
  for (Entry& e : entries) e.name = "odd/" + e.name;
  // A name Windows changes (the trailing dot goes), written through a handle.
  entries[100].name = "odd/res/set2/dotted.";
  // The same name three times in a folder the batch makes: the later entry replaces the
  // earlier one; an older one leaves it (giving it its attributes).
  constexpr std::uint32_t kHidden =
      platform::FILE_ATTRIBUTE_HIDDEN | platform::FILE_ATTRIBUTE_ARCHIVE;
  entries[150] = {"odd/res/set3/twice.txt", "first", 0, false, kDate, kTime};
  entries[250] = {"odd/res/set3/twice.txt", "second, later", kHidden, false, kDate + 1, kTime};
  entries[350] = {"odd/res/set3/twice.txt", "third, older", kHidden, false,
                  kDate - (1 << 9),         kTime};
  // An entry that cannot be read (its bytes changed after packing) is left out with its
  // warning.
  entries[200] = {"odd/res/set4/broken.bin", std::string(300, 'x'), 0, true};
  MakeArchive(L"C:\\Pkg\\Setup.data", entries);
  {
    std::string bytes = tltest::ReadHostFile(machine.C("Pkg/Setup.data"));
    const std::size_t data = bytes.find(std::string(300, 'x'));
    ASSERT_NE(data, std::string::npos);
    bytes[data + 7] = 'y';
    std::ofstream(machine.C("Pkg/Setup.data"), std::ios::binary | std::ios::trunc) << bytes;
  }
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  std::wstring path;
  EXPECT_FALSE(storage.ExtractAll(L"C:\\Out", path)) << "one entry was not unpacked";
  EXPECT_EQ(storage.LastWriteFailure(), platform::ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\Out\\odd\\res\\set2\\dotted"), entries[100].data);
  EXPECT_EQ(Read(L"C:\\Out\\odd\\res\\set3\\twice.txt"), "second, later");
  EXPECT_FALSE(platform::PathFileExistsW(L"C:\\Out\\odd\\res\\set4\\broken.bin"));
  EXPECT_EQ(log.Count("1 CUnzipper::UnzipFile File = C:\\Out\\odd\\res\\set4\\broken.bin is not "
                      "unpacked: the entry cannot be read"),
            1);
  EXPECT_EQ(log.Count("C:\\Out\\odd\\res\\set3\\twice.txt is NOT UPDATED"), 1);
  // The log reads as the entries come: the warnings of entries 200 and 350 in that order.
  std::size_t broken = log.lines.size(), kept = log.lines.size();
  for (std::size_t i = 0; i < log.lines.size(); ++i) {
    if (log.lines[i].find("broken.bin is not unpacked") != std::string::npos) broken = i;
    if (log.lines[i].find("is NOT UPDATED") != std::string::npos) kept = i;
  }
  EXPECT_LT(broken, kept);
  // Everything else as the archive says.
  std::vector<Entry> rest;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (i != 100 && i != 150 && i != 200 && i != 250 && i != 350) rest.push_back(entries[i]);
  Entry dotted = entries[100];
  dotted.name = "odd/res/set2/dotted";
  rest.push_back(dotted);
  rest.push_back(entries[250]);
  ExpectUnpacked(L"C:\\Out", rest);
}

namespace {

// A machine with drive D: of `free` bytes, whose TEMP lies on D:.
struct MachineWithTempOnD {
  explicit MachineWithTempOnD(std::uint64_t free) : machine(WithDriveD(free)) {
    EXPECT_EQ(platform::CreateDirectoryW(L"D:\\Temp"), platform::ERROR_SUCCESS);
    platform::SetEnvironmentVariableW(L"TMP", std::wstring_view(L"D:\\Temp"));
    platform::SetEnvironmentVariableW(L"TEMP", std::wstring_view(L"D:\\Temp"));
  }
  tltest::ScopedMachine machine;
};

std::vector<Entry> Numbered(const std::string& folder, int count, std::size_t size) {
  std::vector<Entry> entries;
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/f%03d.bin", i);
    entries.push_back({folder + name, std::string(size, static_cast<char>('a' + i % 26))});
  }
  return entries;
}

}  // namespace

TEST(ArchiveBatch, AFullDiskStopsTheBatchAtItsFileAndEveryFileMadeIsKnown) {
  MachineWithTempOnD d(30000);
  LogCapture log;
  std::vector<Entry> entries = Numbered("first", 140, 200);
  const std::vector<Entry> second = Numbered("second", 140, 200);
  entries.insert(entries.end(), second.begin(), second.end());
  MakeArchive(L"C:\\Pkg\\Setup.data", entries);
  CDataStorage storage;
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  const std::wstring temp = storage.GetTempFolder();
  ASSERT_EQ(temp.rfind(L"D:\\Temp\\", 0), 0u) << platform::ToUtf8(temp);
  // The run's note beside its folder takes its bytes of the drive first.
  const std::size_t note = Read(temp + L".run").size();
  ASSERT_GT(note, 0u);
  ASSERT_LT(note, 1000u);
  const int fit = static_cast<int>((2000 - note) / 200);
  ASSERT_GE(fit, 5);
  char stopped[32];
  std::snprintf(stopped, sizeof stopped, "\\second\\f%03d.bin", fit);
  std::wstring path;
  // 28,000 bytes: all of them fit. The second folder fits the free space the volume reports,
  // but only the files in the 2,000 bytes left beside the note fit what is left.
  ASSERT_TRUE(storage.ExtractFolder(L"", L"first", path, L""));
  EXPECT_FALSE(storage.ExtractFolder(L"", L"second", path, L""));
  EXPECT_EQ(storage.LastWriteFailure(), platform::ERROR_DISK_FULL);
  for (int i = 0; i < fit; ++i)
    EXPECT_EQ(Read(temp + L"\\" + WindowsName(second[i].name)), second[i].data) << i;
  std::vector<std::wstring> left;
  ListFiles(temp + L"\\second", L"", left);
  EXPECT_EQ(left.size(), static_cast<std::size_t>(fit))
      << "nothing of the file the disk stopped, nothing after it";
  EXPECT_EQ(log.Count("is not written"), 1);
  EXPECT_EQ(log.Count("0 CUnzipper::UnzipFile File = " + platform::ToUtf8(temp) + stopped +
                      " is not written: There is not enough space on the disk."),
            1);
  EXPECT_EQ(log.currentFile, temp + platform::FromUtf8(stopped));
  // The run's own folder goes whole at the close: every file made was known as made.
  storage.Close();
  EXPECT_FALSE(platform::PathFileExistsW(temp));
  EXPECT_FALSE(platform::PathFileExistsW(temp + L".run"));
}

TEST(ArchiveBatch, AnExtractionCutShortLeavesWholeFilesOnlyAndEveryOneKnown) {
  tltest::ScopedMachine machine;
  const std::vector<Entry> entries = TinyEntries(600);
  MakeArchive(L"C:\\Pkg\\Setup.data", entries);
  CDataStorage storage;
  CutShort cut(250);
  storage.SetProgressSink(&cut);
  ASSERT_TRUE(storage.Open(L"C:\\Pkg\\Setup.data", nullptr));
  const std::wstring temp = storage.GetTempFolder();
  std::wstring path;
  EXPECT_THROW(storage.ExtractFolder(L"", L"", path, L""), std::runtime_error);
  // The entries before the cut are there whole, none after it.
  ExpectUnpacked(temp, std::vector<Entry>(entries.begin(), entries.begin() + 250));
  storage.Close();
  EXPECT_FALSE(platform::PathFileExistsW(temp));
}
