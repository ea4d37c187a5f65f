// Shell links: written in the shell's binary layout, read back by us and by lnkinfo (an
// independent reader), network targets, refused texts, and damaged files that must not be
// trusted.
#include "platform/ShellLinks.h"

#include "platform/Files.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

using namespace platform;

namespace {

// lnkinfo's "Label : value" lines.
std::map<std::string, std::string> LnkInfo(const std::string& hostPath) {
  std::map<std::string, std::string> fields;
  std::string command = "lnkinfo '" + hostPath + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
  if (!pipe) return fields;
  std::array<char, 4096> line{};
  while (std::fgets(line.data(), line.size(), pipe.get())) {
    std::string text = line.data();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    // "\tLocal path\t\t\t: C:\..." (the label, tabs or spaces, ": ", the value)
    std::size_t colon = text.find(": ");
    while (colon != std::string::npos && colon > 0 && text[colon - 1] != '\t' &&
           text[colon - 1] != ' ')
      colon = text.find(": ", colon + 1);
    if (colon == std::string::npos) continue;
    std::string key = text.substr(0, colon), value = text.substr(colon + 2);
    auto trim = [](std::string s) {
      s.erase(0, s.find_first_not_of(" \t"));
      s.erase(s.find_last_not_of(" \t") + 1);
      return s;
    };
    fields[trim(key)] = trim(value);
  }
  return fields;
}

class ShellLinks : public tltest::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(CreateDirectoryWithParents(kFolder), ERROR_SUCCESS);
    ASSERT_EQ(WriteWholeFile(kTarget, "MZ program"), ERROR_SUCCESS);
  }
  ShellLink Sample() const {
    ShellLink link;
    link.target = kTarget;
    link.workingDirectory = kFolder;
    link.iconLocation = kTarget;
    link.iconIndex = 2;
    link.arguments = L"--open \"a b\"";
    link.description = L"Design 7";
    return link;
  }
  const std::wstring kFolder = L"C:\\Program Files (x86)\\Acme \u0424\u0438\u0440\u043c\u0430\\bin";
  const std::wstring kTarget = kFolder + L"\\Design.exe";
  const std::wstring kLink = L"C:\\Users\\Public\\Desktop\\Design 7.lnk";
};

}  // namespace

TEST_F(ShellLinks, ALinkKeepsItsTextsAndTheTargetsFileAndVolumeFacts) {
  ASSERT_EQ(WriteShellLink(kLink, Sample()), ERROR_SUCCESS);
  ShellLink back;
  ASSERT_EQ(ReadShellLink(kLink, back), ERROR_SUCCESS);
  EXPECT_EQ(back.target, kTarget);  // the Cyrillic name survives the ANSI code page 1252
  EXPECT_EQ(back.workingDirectory, kFolder);
  EXPECT_EQ(back.iconLocation, kTarget);
  EXPECT_EQ(back.iconIndex, 2);
  EXPECT_EQ(back.arguments, L"--open \"a b\"");
  EXPECT_EQ(back.description, L"Design 7");
  EXPECT_EQ(back.showCommand, 1);
  FileInfo info;
  ASSERT_EQ(GetFileAttributesExW(kTarget, info), ERROR_SUCCESS);
  EXPECT_EQ(back.fileSize, 10u);
  EXPECT_EQ(back.fileAttributes, info.attributes);
  EXPECT_EQ(back.writeTime, info.lastWriteTime);
  EXPECT_NE(back.writeTime, 0u);
  VolumeInfo volume;
  ASSERT_EQ(GetVolumeInformationW(L"C:\\", volume), ERROR_SUCCESS);
  EXPECT_EQ(back.driveType, DRIVE_FIXED);
  EXPECT_EQ(back.driveSerial, volume.serialNumber);
}

TEST_F(ShellLinks, LnkinfoReadsTheSameTargetFolderIconAndVolume) {
  ASSERT_EQ(WriteShellLink(kLink, Sample()), ERROR_SUCCESS);
  auto fields = LnkInfo(ToHostPath(kLink));
  ASSERT_FALSE(fields.empty()) << "lnkinfo (liblnk-utils, scripts/deps) did not run";
  EXPECT_EQ(fields["Local path"], ToUtf8(kTarget));
  EXPECT_EQ(fields["Working directory"], ToUtf8(kFolder));
  EXPECT_EQ(fields["Icon location"], ToUtf8(kTarget));
  EXPECT_EQ(fields["Command line arguments"], "--open \"a b\"");
  EXPECT_EQ(fields["Description"], "Design 7");
  EXPECT_EQ(fields["Icon index"], "2");
  EXPECT_EQ(fields["Drive type"], "Fixed (3)");
  EXPECT_EQ(fields["File size"], "10 bytes");
}

TEST_F(ShellLinks, ANetworkTargetIsKeptAsItsShareAndPath) {
  ShellLink link = Sample();
  link.target = L"\\\\TOLMERA-SRV\\Design\\bin\\Design.exe";
  ASSERT_EQ(WriteShellLink(kLink, link), ERROR_SUCCESS);
  ShellLink back;
  ASSERT_EQ(ReadShellLink(kLink, back), ERROR_SUCCESS);
  EXPECT_EQ(back.target, link.target);
  EXPECT_EQ(back.driveType, DRIVE_REMOTE);
  EXPECT_EQ(LnkInfo(ToHostPath(kLink))["Network path"], ToUtf8(link.target));
}

TEST_F(ShellLinks, TextsTheFormatCannotHoldAreRefusedAndNothingIsWritten) {
  struct Case {
    const char* what;
    void (*change)(ShellLink&);
    DWORD status;
  };
  const Case cases[] = {
      {"empty target", [](ShellLink& l) { l.target.clear(); }, ERROR_INVALID_PARAMETER},
      {"relative target", [](ShellLink& l) { l.target = L"bin\\Design.exe"; },
       ERROR_INVALID_PARAMETER},
      {"negative show command", [](ShellLink& l) { l.showCommand = -1; }, ERROR_INVALID_PARAMETER},
      {"target of MAX_PATH", [](ShellLink& l) { l.target = L"C:\\" + std::wstring(257, L'a'); },
       ERROR_FILENAME_EXCED_RANGE},
      {"folder of MAX_PATH",
       [](ShellLink& l) { l.workingDirectory = L"C:\\" + std::wstring(300, L'a'); },
       ERROR_FILENAME_EXCED_RANGE},
      {"arguments over 65,535 units", [](ShellLink& l) { l.arguments = std::wstring(70000, L'x'); },
       ERROR_FILENAME_EXCED_RANGE},
  };
  for (const auto& c : cases) {
    ShellLink link = Sample();
    c.change(link);
    EXPECT_EQ(WriteShellLink(kLink, link), c.status) << c.what;
    EXPECT_FALSE(PathFileExistsW(kLink)) << c.what;
  }
  EXPECT_EQ(WriteShellLink(L"", Sample()), ERROR_INVALID_PARAMETER);
}

TEST_F(ShellLinks, DamagedOrForeignFilesAreRefusedWithoutReadingPastTheirEnd) {
  std::string bytes;
  ASSERT_EQ(BuildShellLink(Sample(), bytes), ERROR_SUCCESS);
  ShellLink back;
  ASSERT_EQ(ParseShellLink(bytes, back), ERROR_SUCCESS);
  // Every cut before the string data ends is refused (the last four bytes are the end block).
  for (std::size_t n = 0; n + 4 < bytes.size(); ++n)
    EXPECT_EQ(ParseShellLink(bytes.substr(0, n), back), ERROR_BAD_FORMAT) << n;
  // Offsets and sizes pointing anywhere: refused or read within the bytes, never past them.
  for (std::size_t at = 0x4C; at < 0x4C + 0x24; ++at) {
    for (unsigned char v : {0x00, 0x7F, 0xFF}) {
      std::string broken = bytes;
      broken[at] = static_cast<char>(v);
      ParseShellLink(broken, back);  // must not crash; either answer is allowed
    }
  }
  EXPECT_EQ(ParseShellLink("not a link at all, just some text of a file", back), ERROR_BAD_FORMAT);
  ASSERT_EQ(WriteWholeFile(L"C:\\Users\\Public\\fake.lnk", "MZ\x90"), ERROR_SUCCESS);
  EXPECT_EQ(ReadShellLink(L"C:\\Users\\Public\\fake.lnk", back), ERROR_BAD_FORMAT);
  EXPECT_EQ(ReadShellLink(L"C:\\Users\\Public\\missing.lnk", back), ERROR_FILE_NOT_FOUND);
}
