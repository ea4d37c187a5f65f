// The stored hives against damage and planted links: a hive cut short or deleted is reported as
// corrupt, never read as a smaller or empty registry; the hive's bookkeeping files never follow a
// link placed at their names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/Registry.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

using namespace platform;

namespace {

class RegistryHive : public tltest::MachineTest {
 protected:
  std::string ReadHost(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void WriteHostBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
  LSTATUS ReadOne(std::wstring& value) {
    RegKey k;
    LSTATUS s = k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                       KEY_READ | KEY_WOW64_64KEY);
    if (s != ERROR_SUCCESS) return s;
    return k.QueryString(L"ProgramFilesDir", value);
  }
};

}  // namespace

TEST_F(RegistryHive, AHiveCutAtALineBoundaryIsCorrupt) {
  {
    RegKey k;
    ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Zzz\\Last"), ERROR_SUCCESS);
    ASSERT_EQ(k.SetString(L"v", L"the last key of the file"), ERROR_SUCCESS);
  }
  std::string bytes = ReadHost(HivePath());
  // UTF-16LE: cut after the last complete line before the end ("\r\n" is 4 bytes).
  const std::string crlf("\r\0\n\0", 4);
  std::size_t cut = bytes.rfind(crlf, bytes.size() - 5);
  ASSERT_NE(cut, std::string::npos);
  cut = bytes.rfind(crlf, cut - 1);  // drop the last line or two, keeping whole lines
  ASSERT_NE(cut, std::string::npos);
  ResetRegistryCache();
  WriteHostBytes(HivePath(), bytes.substr(0, cut + 4));
  std::wstring value;
  EXPECT_EQ(ReadOne(value), ERROR_REGISTRY_CORRUPT);
  EXPECT_NE(HiveErrorText(HKEY_LOCAL_MACHINE).find(L"cut short"), std::wstring::npos)
      << ToUtf8(HiveErrorText(HKEY_LOCAL_MACHINE));
  // Mended, it works again.
  WriteHostBytes(HivePath(), bytes);
  EXPECT_EQ(ReadOne(value), ERROR_SUCCESS);
  EXPECT_EQ(value, L"C:\\Program Files");
}

TEST_F(RegistryHive, AHandWrittenHiveWithoutTheMarksIsStillRead) {
  ResetRegistryCache();
  std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\"
      "Windows\\CurrentVersion]\r\n\"ProgramFilesDir\"=\"D:\\\\Apps\"\r\n";
  WriteHostBytes(HivePath(), text);
  std::wstring value;
  ASSERT_EQ(ReadOne(value), ERROR_SUCCESS);
  EXPECT_EQ(value, L"D:\\Apps");
}

TEST_F(RegistryHive, ADeletedHiveOfAnExistingMachineIsCorruptNotEmpty) {
  ResetRegistryCache();
  ASSERT_EQ(::unlink(HivePath().c_str()), 0);
  std::wstring value;
  EXPECT_EQ(ReadOne(value), ERROR_REGISTRY_CORRUPT);
  RegKey k;
  EXPECT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\New"), ERROR_REGISTRY_CORRUPT);
  struct stat st {};
  EXPECT_NE(::stat(HivePath().c_str(), &st), 0);  // nothing written over it
  EXPECT_NE(HiveErrorText(HKEY_LOCAL_MACHINE).find(L"missing"), std::wstring::npos);
  // A user hive deleted while in use is corrupt as well.
  ASSERT_EQ(k.Create(HKEY_CURRENT_USER, L"Software\\Mine"), ERROR_SUCCESS);
  k.Close();
  std::string userHive = root_ + "/registry/HKU/" + ToUtf8(CurrentUserSid()) + ".reg";
  ASSERT_EQ(::unlink(userHive.c_str()), 0);
  EXPECT_EQ(k.Open(HKEY_CURRENT_USER, L"Software\\Mine"), ERROR_REGISTRY_CORRUPT);
}

TEST_F(RegistryHive, TheBookkeepingFilesNeverFollowAPlantedLink) {
  const std::string victim = temp_ + "/victim.txt";
  WriteHostBytes(victim, "precious");
  // Links planted at the temporary file's and the lock's names.
  ASSERT_EQ(::symlink(victim.c_str(), (HivePath() + ".tmp").c_str()), 0);
  ::unlink((HivePath() + ".lock").c_str());
  ResetRegistryCache();
  ASSERT_EQ(::symlink(victim.c_str(), (HivePath() + ".lock").c_str()), 0);
  RegKey k;
  LSTATUS s = k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\AfterTheLinks");
  EXPECT_EQ(ReadHost(victim), "precious");
  // The write either went through a temporary file of its own or was refused; never through the
  // link.
  if (s == ERROR_SUCCESS) {
    struct stat st {};
    ASSERT_EQ(::lstat(HivePath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
  }
  struct stat st {};
  ASSERT_EQ(::lstat(victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 8);
}
