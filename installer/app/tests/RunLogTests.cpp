#include "app/RunLog.h"
#include "testing/MachineFixture.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Time.h"

#include <gtest/gtest.h>

#include <regex>

using InstallManager::CRunLog;
using InstallManager::LogLevel;

namespace {

std::string ReadFile(const std::wstring& path) {
  std::string bytes;
  EXPECT_EQ(platform::ReadWholeFile(path, bytes), platform::ERROR_SUCCESS);
  return bytes;
}

const std::regex kEntry(R"(\d{4}\.\d{2}\.\d{2} - \d{2}:\d{2}:\d{2}  )");

}  // namespace

TEST(RunLog, EntriesHaveTimeLevelAndOnlyTheFirstHasTheDashes) {
  tltest::ScopedMachine machine;
  const std::wstring path = L"C:\\run.log";
  {
    CRunLog log;
    log.SetPath(path);
    log.Log(LogLevel::Info, L"Scenario build = %i", 42);
    log.Log(LogLevel::Warning, L"Folder = %s is not deleted", std::wstring(L"C:\\A"));
    log.Log(LogLevel::Error, L"plain");
    log.SetThreshold(9);
    log.Log(static_cast<LogLevel>(7), L"no prefix");
  }
  std::string text = ReadFile(path);
  std::vector<std::string> lines;
  size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "every line ends with CR LF";
  ASSERT_EQ(lines.size(), 6u) << text;
  EXPECT_EQ(lines[0], std::string(21, '-'));
  std::smatch m;
  const char* tails[] = {"INFO : Scenario build = 42", "WARNING : Folder = C:\\A is not deleted",
                         "ERROR : plain", "no prefix"};
  for (int i = 0; i < 4; ++i) {
    const std::string& line = lines[1 + i];
    ASSERT_TRUE(std::regex_search(line, m, kEntry)) << line;
    EXPECT_EQ(m.position(0), 0);
    EXPECT_EQ(line.substr(m.length(0)), tails[i]);
  }
  // The log's end at destruction: one more "\r\n".
  EXPECT_EQ(lines[5], "");
}

TEST(RunLog, LevelsThresholdAndErrorSeen) {
  CRunLog log;
  std::vector<std::wstring> out;
  log.SetDebugOutput([&](const std::wstring& s) { out.push_back(s); });
  EXPECT_FALSE(log.ErrorSeen());
  EXPECT_FALSE(log.AnyWritten());
  log.SetThreshold(-1);
  log.Log(LogLevel::Error, L"not written but seen");
  EXPECT_TRUE(log.ErrorSeen());
  EXPECT_TRUE(log.AnyWritten());
  EXPECT_TRUE(out.empty());
  log.SetThreshold(2);
  log.Log(LogLevel::Info, L"after");
  ASSERT_EQ(out.size(), 1u);
  // The first call already happened: no dashes now.
  EXPECT_EQ(out[0].find(L"---"), std::wstring::npos);
  EXPECT_NE(out[0].find(L"INFO : after\r\n"), std::wstring::npos);
}

TEST(RunLog, DataIsNeverAFormat) {
  CRunLog log;
  std::vector<std::wstring> out;
  log.SetDebugOutput([&](const std::wstring& s) { out.push_back(s); });
  log.Log(LogLevel::Info, L"IsFileExists: '%s' is NOT FOUND. Cause: %s",
          std::wstring(L"C:\\100%s%d.data"), std::wstring(L"x"));
  // A format with too few arguments is written as it stands, with the reason.
  log.Log(LogLevel::Info, L"Project %s version %i", std::wstring(L"PV"));
  log.Log(LogLevel::Info, L"100%% done");
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].substr(0, 23), L"---------------------\r\n");
  EXPECT_NE(out[0].find(L"INFO : IsFileExists: 'C:\\100%s%d.data' is NOT FOUND. Cause: x\r\n"),
            std::wstring::npos);
  EXPECT_NE(out[1].find(L"INFO : Project %s version %i [the text does not fit its arguments"),
            std::wstring::npos)
      << platform::ToUtf8(out[1]);
  EXPECT_NE(out[2].find(L"INFO : 100% done\r\n"), std::wstring::npos);
}

// The text an entry begins with for a local time.
static std::wstring StampOf(const platform::SYSTEMTIME& t) {
  return platform::Format(L"%d.%02d.%02d - %02d:%02d:%02d  ", int(t.wYear), int(t.wMonth),
                          int(t.wDay), int(t.wHour), int(t.wMinute), int(t.wSecond));
}

TEST(RunLog, EveryEntryHasTheLocalTimeOfItsCallAcrossSecondsAndZones) {
  tltest::ScopedMachine machine;
  CRunLog log;
  std::vector<std::wstring> out;
  log.SetDebugOutput([&](const std::wstring& s) { out.push_back(s); });
  log.Log(LogLevel::Info, L"first");
  // An entry's stamp lies between the local times read just before and just after it.
  int checked = 0, moved = 0;
  auto entry = [&](int n) {
    out.clear();
    const platform::SYSTEMTIME before = platform::GetLocalTime();
    log.Log(LogLevel::Info, L"entry %i", n);
    const platform::SYSTEMTIME after = platform::GetLocalTime();
    EXPECT_EQ(out.size(), 1u);
    if (out.empty()) return;
    const std::wstring stamp = out.back().substr(0, StampOf(before).size());
    EXPECT_EQ(out.back().substr(stamp.size()), L"INFO : entry " + std::to_wstring(n) + L"\r\n");
    if (StampOf(before) == StampOf(after)) {
      EXPECT_EQ(stamp, StampOf(before)) << platform::ToUtf8(out.back());
      ++checked;
    } else {
      EXPECT_TRUE(stamp == StampOf(before) || stamp == StampOf(after))
          << platform::ToUtf8(out.back());
    }
  };
  // Entries until the second has moved on (a second at most), each checked.
  std::wstring last = StampOf(platform::GetLocalTime());
  for (int n = 0; moved < 1 && n < 5000000; ++n) {
    entry(n);
    const std::wstring now = out.back().substr(0, last.size());
    if (now != last) ++moved;
    last = now;
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_EQ(moved, 1);
  EXPECT_GT(checked, 10);

  // Another machine with another zone, in the same second: its entries follow it at once.
  for (int bias : {300, -570, 0}) {
    platform::MachineConfig c = platform::MachineConfig::Defaults();
    c.timeZone.biasMinutes = bias;
    c.timeZone.dstRule = bias ? L"us" : L"none";
    const std::string root = machine.Base() + "/zone" + std::to_string(bias + 1000);
    platform::Machine::Init(root, c);
    platform::Machine::SetCurrentForProcess(root);
    const int before = checked;
    for (int n = 0; n < 3; ++n) entry(n);
    EXPECT_GT(checked, before) << bias;
  }
}

TEST(RunLog, AnEntryMadeWhileAnotherIsOnItsWayLeavesBothWhole) {
  CRunLog log;
  std::vector<std::wstring> out;
  bool nested = false;
  log.SetDebugOutput([&](const std::wstring& s) {
    // The debugger output itself logs (as a caught message might): once, with a longer text.
    if (!nested) {
      nested = true;
      log.Log(LogLevel::Warning, L"inner %s %i", std::wstring(200, L'x'), 2);
    }
    out.push_back(s);
  });
  log.Log(LogLevel::Info, L"outer %s", std::wstring(L"one"));
  log.Log(LogLevel::Info, L"after");
  ASSERT_EQ(out.size(), 3u);
  const std::size_t stamp = StampOf(platform::GetLocalTime()).size();
  // Both were made before any entry was out, so both have the dashes.
  EXPECT_EQ(out[0].substr(0, 23), L"---------------------\r\n");
  EXPECT_EQ(out[0].substr(23 + stamp), L"WARNING : inner " + std::wstring(200, L'x') + L" 2\r\n");
  EXPECT_EQ(out[1].substr(0, 23), L"---------------------\r\n");
  EXPECT_EQ(out[1].substr(23 + stamp), L"INFO : outer one\r\n");
  EXPECT_EQ(out[2].substr(stamp), L"INFO : after\r\n");
}

TEST(RunLog, WrittenInTheMachineAnsiCodePage) {
  tltest::ScopedMachine machine;
  CRunLog log;
  log.SetPath(L"C:\\cp.log");
  log.Log(LogLevel::Info, L"%s", std::wstring(L"Caf\u00e9 \u0416"));
  std::string text = ReadFile(L"C:\\cp.log");
  // 1252: e-acute is one byte 0xE9, the Cyrillic letter has no byte and becomes "?".
  EXPECT_NE(text.find("Caf\xE9 ?\r\n"), std::string::npos) << text;
}

TEST(RunLog, AnUnwritableFileNeverEndsTheRun) {
  tltest::ScopedMachine machine;
  CRunLog log;
  std::vector<std::wstring> out;
  log.SetDebugOutput([&](const std::wstring& s) { out.push_back(s); });
  // Z: is read-only.
  log.SetPath(L"Z:\\tmp\\tl-no-such-folder\\x.log");
  log.Log(LogLevel::Info, L"one");
  log.Log(LogLevel::Error, L"two");
  ASSERT_EQ(out.size(), 3u);
  EXPECT_NE(out[0].find(L"The run log Z:\\tmp\\tl-no-such-folder\\x.log cannot be written"),
            std::wstring::npos)
      << platform::ToUtf8(out[0]);
  EXPECT_NE(out[1].find(L"INFO : one"), std::wstring::npos);
  EXPECT_NE(out[2].find(L"ERROR : two"), std::wstring::npos);
  EXPECT_TRUE(log.ErrorSeen());
  // A new path is tried again.
  log.SetPath(L"C:\\ok.log");
  log.Log(LogLevel::Info, L"three");
  EXPECT_EQ(out.size(), 3u);
  EXPECT_NE(ReadFile(L"C:\\ok.log").find("INFO : three"), std::string::npos);
}

TEST(RunLog, EachEntryReopensTheFile) {
  tltest::ScopedMachine machine;
  CRunLog log;
  log.SetPath(L"C:\\re.log");
  log.Log(LogLevel::Info, L"first");
  // Someone else removes the file between two entries: the next entry creates it anew.
  ASSERT_EQ(platform::DeleteFileW(L"C:\\re.log"), platform::ERROR_SUCCESS);
  log.Log(LogLevel::Info, L"second");
  std::string text = ReadFile(L"C:\\re.log");
  EXPECT_EQ(text.find("first"), std::string::npos);
  EXPECT_NE(text.find("INFO : second"), std::string::npos);
}

// Where each tail appears in `text` (npos when missing).
static std::vector<std::size_t> Positions(const std::string& text,
                                          std::initializer_list<const char*> tails) {
  std::vector<std::size_t> at;
  for (const char* t : tails) at.push_back(text.find(t));
  return at;
}

TEST(RunLog, ABatchAppendsItsEntriesTogetherInTheirOrderAndAWarningAtOnce) {
  tltest::ScopedMachine machine;
  const std::wstring path = L"C:\\batch.log";
  CRunLog log;
  log.SetPath(path);
  log.Log(LogLevel::Info, L"before");
  {
    CRunLog::Batch outer(log);
    log.Log(LogLevel::Info, L"one %i", 1);
    log.Log(LogLevel::Info, L"two");
    EXPECT_EQ(ReadFile(path).find("INFO : one 1"), std::string::npos)
        << "held while the batch runs";
    log.Log(LogLevel::Warning, L"careful");
    // The warning goes at once, with what was held before it.
    auto at = Positions(ReadFile(path),
                        {"INFO : before", "INFO : one 1", "INFO : two", "WARNING : careful"});
    for (std::size_t i = 0; i < at.size(); ++i) ASSERT_NE(at[i], std::string::npos) << i;
    EXPECT_LT(at[0], at[1]);
    EXPECT_LT(at[1], at[2]);
    EXPECT_LT(at[2], at[3]);
    log.Log(LogLevel::Info, L"three");
    {
      CRunLog::Batch inner(log);
      log.Log(LogLevel::Info, L"four");
    }
    // Only the outermost batch's end appends.
    EXPECT_EQ(ReadFile(path).find("INFO : three"), std::string::npos);
  }
  auto at = Positions(ReadFile(path), {"WARNING : careful", "INFO : three", "INFO : four"});
  ASSERT_NE(at[1], std::string::npos);
  ASSERT_NE(at[2], std::string::npos);
  EXPECT_LT(at[0], at[1]);
  EXPECT_LT(at[1], at[2]);
  // Exactly one dash line, and every entry once.
  const std::string text = ReadFile(path);
  EXPECT_EQ(text.find(std::string(21, '-'), 1), std::string::npos);
  EXPECT_EQ(text.find("INFO : two", text.find("INFO : two") + 1), std::string::npos);
}

TEST(RunLog, WhatABatchHoldsIsBoundedAndNeverLost) {
  tltest::ScopedMachine machine;
  const std::wstring path = L"C:\\bounded.log";
  {
    CRunLog log;
    log.SetPath(path);
    CRunLog::Batch batch(log);
    // Far more than a batch holds: the file grows while the batch runs.
    const std::wstring filler(200, L'x');
    for (int i = 0; i < 2000; ++i) log.Log(LogLevel::Info, L"%i %s", i, filler);
    const std::string partial = ReadFile(path);
    EXPECT_GT(partial.size(), 64u * 1024u);
    EXPECT_NE(partial.find(" 0 xxx"), std::string::npos);
    EXPECT_EQ(partial.find(" 1999 xxx"), std::string::npos) << "the last entries are held";
    // A flush asked for (before a question or a copy of the log) appends what is held.
    log.Log(LogLevel::Info, L"asked");
    log.Flush();
    EXPECT_NE(ReadFile(path).find("INFO : asked"), std::string::npos);
    // A new path takes what was held to the old file first.
    log.Log(LogLevel::Info, L"for the old file");
    log.SetPath(L"C:\\other.log");
    log.Log(LogLevel::Info, L"for the new file");
    EXPECT_NE(ReadFile(path).find("INFO : for the old file"), std::string::npos);
    // The log object ends inside its batch (as at an unexpected exit): nothing is lost.
  }
  EXPECT_NE(ReadFile(L"C:\\other.log").find("INFO : for the new file"), std::string::npos);
  const std::string text = ReadFile(path);
  for (int i : {0, 999, 1999})
    EXPECT_NE(text.find(" " + std::to_string(i) + " xxx"), std::string::npos) << i;

  // A file that cannot be written: the held entries reach the debugger output.
  CRunLog log;
  std::vector<std::wstring> out;
  log.SetDebugOutput([&](const std::wstring& s) { out.push_back(s); });
  log.SetPath(L"Z:\\tmp\\tl-no-such-folder\\y.log");
  {
    CRunLog::Batch batch(log);
    log.Log(LogLevel::Info, L"held one");
    log.Log(LogLevel::Info, L"held two");
  }
  std::wstring all;
  for (const auto& s : out) all += s;
  EXPECT_NE(all.find(L"cannot be written"), std::wstring::npos);
  EXPECT_NE(all.find(L"INFO : held one"), std::wstring::npos);
  EXPECT_NE(all.find(L"INFO : held two"), std::wstring::npos);
}

TEST(RunLog, WhatCountsAsARunLogFile) {
  using InstallManager::IsRunLogText;
  const std::string dashes = "---------------------\r\n";
  EXPECT_TRUE(IsRunLogText(dashes + "2026.12.09 - 13:56:23  INFO : Setup Version = 1\r\n"));
  EXPECT_TRUE(IsRunLogText(dashes + "2026.12.09 - 13:56:23  ERROR : x"));  // cut short
  // A log whose first entries went to the debugger output has no dashes in front.
  EXPECT_TRUE(IsRunLogText("2026.12.09 - 13:56:23  WARNING : y\r\n"));
  EXPECT_TRUE(IsRunLogText(dashes + "2026.12.09 - 13:56:23  no prefix\r\n"));

  const std::string others[] = {
      "",
      dashes,
      dashes + "my notes\r\n",
      "127.0.0.1 localhost\r\n",
      std::string(20, '-') + "\r\n2026.12.09 - 13:56:23  INFO : z\r\n",
      std::string(22, '-') + "\r\n2026.12.09 - 13:56:23  INFO : z\r\n",
      dashes + "2026.12.09 13:56:23  INFO : one blank and no dash\r\n",
      dashes + "2026.12.09 - 13:56:23 INFO : one blank only\r\n",
      "notes\r\n" + dashes + "2026.12.09 - 13:56:23  INFO : z\r\n",
      dashes + "\r\n2026.12.09 - 13:56:23  INFO : z\r\n",
  };
  for (const std::string& text : others) EXPECT_FALSE(IsRunLogText(text)) << text;

  // The file itself: a real log written by the log object is one; a folder is none.
  tltest::ScopedMachine machine;
  {
    CRunLog log;
    log.SetPath(L"C:\\real.log");
    log.Log(LogLevel::Info, L"an entry");
  }
  EXPECT_TRUE(InstallManager::IsRunLogFile(L"C:\\real.log"));
  ASSERT_EQ(platform::CreateDirectoryW(L"C:\\folder.log"), platform::ERROR_SUCCESS);
  EXPECT_FALSE(InstallManager::IsRunLogFile(L"C:\\folder.log"));
  EXPECT_FALSE(InstallManager::IsRunLogFile(L"C:\\missing.log"));
}
