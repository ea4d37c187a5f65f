// The Win32 registry functions on a fresh machine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <fstream>
#include <sstream>
#include <thread>

#include "testing/MachineFixture.h"
#include "platform/Registry.h"
#include "platform/Text.h"
#include <filesystem>
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Security.h"

using namespace platform;

namespace {

class RegistryApi : public tltest::MachineTest {};

std::wstring ReadString(HKEY root, const std::wstring& key, const std::wstring& name,
                        REGSAM sam = KEY_READ) {
  RegKey k;
  if (k.Open(root, key, sam) != ERROR_SUCCESS) return L"<no key>";
  std::wstring value;
  if (k.QueryString(name, value) != ERROR_SUCCESS) return L"<no value>";
  return value;
}

const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

}  // namespace

TEST_F(RegistryApi, CreateReportsCreatedThenOpenedAndMakesIntermediateKeys) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\A\\B", 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, &key, &disposition),
      ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);  // closed handles are recognised, not reused

  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"software\\tolmera\\a\\b", 0, nullptr, 0, KEY_READ,
                            nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(key);
  RegKey a;
  EXPECT_EQ(a.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\A"), ERROR_SUCCESS);
  // Names keep the case of creation.
  EXPECT_EQ(a.SubKeyNames(), std::vector<std::wstring>{L"B"});
  RegKey missing;
  EXPECT_EQ(missing.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TOLMERA\\Nope"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(missing);
  EXPECT_EQ(missing.Open(HKEY_LOCAL_MACHINE, L"\\SOFTWARE"), ERROR_BAD_PATHNAME);
}

TEST_F(RegistryApi, EnumerationEndsWith259AndReportsShortBuffers) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_CURRENT_USER, L"Software\\Enum"), ERROR_SUCCESS);
  for (const wchar_t* name : {L"zz", L"Aa", L"mm"}) {
    RegKey child;
    ASSERT_EQ(child.Create(k.Get(), name), ERROR_SUCCESS);
  }
  ASSERT_EQ(k.SetString(L"second", L"2"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"first", L"1"), ERROR_SUCCESS);

  wchar_t name[64];
  std::vector<std::wstring> keys;
  for (DWORD i = 0;; ++i) {
    DWORD chars = 64;
    LSTATUS s = RegEnumKeyExW(k.Get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (s == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(s, ERROR_SUCCESS);
    EXPECT_EQ(chars, std::wcslen(name));
    keys.push_back(name);
  }
  EXPECT_EQ(keys, (std::vector<std::wstring>{L"Aa", L"mm", L"zz"}));
  EXPECT_EQ(ERROR_NO_MORE_ITEMS, 259u);

  DWORD chars = 2;  // "Aa" needs 3 with its terminator
  EXPECT_EQ(RegEnumKeyExW(k.Get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);

  // Values come in creation order, with type and data.
  std::vector<std::wstring> values;
  for (DWORD i = 0;; ++i) {
    DWORD nameChars = 64, type = 0;
    BYTE data[64];
    DWORD bytes = sizeof data;
    LSTATUS s = RegEnumValueW(k.Get(), i, name, &nameChars, nullptr, &type, data, &bytes);
    if (s == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(s, ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(bytes, 2 * sizeof(wchar_t));
    values.push_back(name);
  }
  EXPECT_EQ(values, (std::vector<std::wstring>{L"second", L"first"}));
}

TEST_F(RegistryApi, QueryGivesSizesAndMoreData) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Q"), ERROR_SUCCESS);
  const wchar_t text[] = L"C:\\Program Files\\TOLMERA";
  ASSERT_EQ(
      RegSetValueExW(k.Get(), L"Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
      ERROR_SUCCESS);

  DWORD type = 0, bytes = 0;
  ASSERT_EQ(RegQueryValueExW(k.Get(), L"PATH", nullptr, &type, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(bytes, sizeof text);

  wchar_t small[4];
  bytes = sizeof small;
  EXPECT_EQ(
      RegQueryValueExW(k.Get(), L"Path", nullptr, &type, reinterpret_cast<BYTE*>(small), &bytes),
      ERROR_MORE_DATA);
  EXPECT_EQ(bytes, sizeof text);

  wchar_t buffer[64];
  bytes = sizeof buffer;
  ASSERT_EQ(
      RegQueryValueExW(k.Get(), L"Path", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes),
      ERROR_SUCCESS);
  EXPECT_STREQ(buffer, text);
  EXPECT_EQ(RegQueryValueExW(k.Get(), L"Missing", nullptr, &type, nullptr, &bytes),
            ERROR_FILE_NOT_FOUND);

  // Every type through the typed helpers.
  ASSERT_EQ(k.SetDword(L"d", 0x12345678), ERROR_SUCCESS);
  ASSERT_EQ(k.SetQword(L"q", 0x1122334455667788ull), ERROR_SUCCESS);
  ASSERT_EQ(k.SetMultiString(L"m", {L"a", L"bc"}), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"e", L"%TEMP%\\x", REG_EXPAND_SZ), ERROR_SUCCESS);
  ASSERT_EQ(k.SetBinary(L"b", {1, 2, 3}), ERROR_SUCCESS);
  DWORD d = 0;
  std::uint64_t q = 0;
  std::vector<std::wstring> m;
  std::wstring e;
  std::vector<BYTE> b;
  DWORD etype = 0;
  EXPECT_EQ(k.QueryDword(L"D", d), ERROR_SUCCESS);
  EXPECT_EQ(d, 0x12345678u);
  EXPECT_EQ(k.QueryQword(L"q", q), ERROR_SUCCESS);
  EXPECT_EQ(q, 0x1122334455667788ull);
  EXPECT_EQ(k.QueryMultiString(L"m", m), ERROR_SUCCESS);
  EXPECT_EQ(m, (std::vector<std::wstring>{L"a", L"bc"}));
  EXPECT_EQ(k.QueryString(L"e", e, &etype), ERROR_SUCCESS);
  EXPECT_EQ(etype, REG_EXPAND_SZ);
  EXPECT_EQ(e, L"%TEMP%\\x");
  EXPECT_EQ(k.QueryBinary(L"b", b), ERROR_SUCCESS);
  EXPECT_EQ(b, (std::vector<BYTE>{1, 2, 3}));
  EXPECT_EQ(k.QueryDword(L"e", d), ERROR_INVALID_DATA);

  DWORD subKeys = 9, values = 0, maxName = 0, maxData = 0;
  ASSERT_EQ(RegQueryInfoKeyW(k.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                             &values, &maxName, &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 6u);
  EXPECT_EQ(maxName, 4u);
  EXPECT_EQ(maxData, sizeof text);
}

TEST_F(RegistryApi, DeleteKeyRefusesSubKeysAndDeleteTreeTakesAll) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Del\\Child\\Grandchild"), ERROR_SUCCESS);
  k.Close();
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Del"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ERROR_ACCESS_DENIED, 5u);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Del\\Missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Del\\Child\\Grandchild"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Del"), ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Del"), ERROR_FILE_NOT_FOUND);

  // RegDeleteTreeW without a sub-key empties the key and keeps it.
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Del2\\x"), ERROR_SUCCESS);
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Del2"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"v", L"1"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeW(k.Get(), nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(k.SubKeyNames().empty());
  EXPECT_TRUE(k.ValueList().empty());
  EXPECT_EQ(RegFlushKey(k.Get()), ERROR_SUCCESS);

  // A handle to a deleted key says so.
  RegKey victim;
  ASSERT_EQ(victim.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Del3"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Del3"), ERROR_SUCCESS);
  EXPECT_EQ(victim.SetString(L"v", L"1"), ERROR_KEY_DELETED);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L""), ERROR_ACCESS_DENIED);  // a hive's root stays
}

// Removal of a key and its emptied parents as the registry step does it: a parent without
// sub-keys goes even when it holds values; one with another sub-key stays.
TEST_F(RegistryApi, ClimbingEmptyParentsWorksWithTheApi) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\Product\\Settings"), ERROR_SUCCESS);
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\Product"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"Kept", L"value"), ERROR_SUCCESS);
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\Other"), ERROR_SUCCESS);
  k.Close();

  std::wstring path = L"SOFTWARE\\Vendor\\Product\\Settings";
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);
  while (true) {
    auto cut = path.rfind(L'\\');
    if (cut == std::wstring::npos) break;
    path.resize(cut);
    RegKey parent;
    if (parent.Open(HKEY_LOCAL_MACHINE, path, KEY_READ | KEY_WRITE) != ERROR_SUCCESS) break;
    wchar_t name[256];
    DWORD chars = 256;
    if (RegEnumKeyExW(parent.Get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_NO_MORE_ITEMS)
      break;
    parent.Close();
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()), ERROR_SUCCESS);
  }
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\Product"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor"), ERROR_SUCCESS);
  EXPECT_EQ(k.SubKeyNames(), std::vector<std::wstring>{L"Other"});
}

TEST_F(RegistryApi, AccessRightsOfTheHandleAreEnforced) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Rights"), ERROR_SUCCESS);
  RegKey reader;
  ASSERT_EQ(reader.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Rights", KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(reader.SetString(L"v", L"x"), ERROR_ACCESS_DENIED);
  RegKey child;
  EXPECT_EQ(child.Create(reader.Get(), L"child"), ERROR_ACCESS_DENIED);
  RegKey writer;
  ASSERT_EQ(writer.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Rights", KEY_SET_VALUE), ERROR_SUCCESS);
  EXPECT_EQ(writer.SetString(L"v", L"x"), ERROR_SUCCESS);
  std::wstring value;
  EXPECT_EQ(writer.QueryString(L"v", value), ERROR_ACCESS_DENIED);
  EXPECT_EQ(reader.QueryString(L"v", value), ERROR_SUCCESS);
}

TEST_F(RegistryApi, BadInputGetsClearStatusAndChangesNothing) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Bad"), ERROR_SUCCESS);
  std::wstring nulName(L"a\0b", 3);
  EXPECT_EQ(k.SetString(nulName, L"x"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(k.SetString(L"line\nbreak", L"x"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(k.SetString(std::wstring(16384, L'n'), L"x"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(k.SetString(std::wstring(16383, L'n'), L"x"), ERROR_SUCCESS);
  RegKey sub;
  EXPECT_EQ(sub.Create(k.Get(), std::wstring(256, L'k')), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(sub.Create(k.Get(), L"a\\\\b"), ERROR_BAD_PATHNAME);
  // A string whose size is not whole characters is refused rather than torn.
  const wchar_t text[] = L"abc";
  EXPECT_EQ(RegSetValueExW(k.Get(), L"torn", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 5),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExW(k.Get(), L"null", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(
      RegQueryValueExW(reinterpret_cast<HKEY>(0x1234), L"x", nullptr, nullptr, nullptr, nullptr),
      ERROR_INVALID_HANDLE);
  EXPECT_EQ(k.ValueList().size(), 1u);

  // A REG_MULTI_SZ written without its terminator is kept as written and still read.
  std::wstring raw = L"one";
  raw.push_back(L'\0');
  raw += L"two";
  ASSERT_EQ(
      RegSetValueExW(k.Get(), L"multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(raw.data()),
                     static_cast<DWORD>(raw.size() * sizeof(wchar_t))),
      ERROR_SUCCESS);
  std::vector<std::wstring> items;
  EXPECT_EQ(k.QueryMultiString(L"multi", items), ERROR_SUCCESS);
  EXPECT_EQ(items, (std::vector<std::wstring>{L"one", L"two"}));
  DWORD bytes = 0;
  EXPECT_EQ(RegQueryValueExW(k.Get(), L"multi", nullptr, nullptr, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, raw.size() * sizeof(wchar_t));
}

TEST_F(RegistryApi, DeepKeysAndLargeValuesPersist) {
  std::wstring path = L"SOFTWARE\\Deep";
  for (int i = 0; i < 300; ++i) path += L"\\L" + std::to_wstring(i);
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, path), ERROR_SUCCESS);
  std::vector<BYTE> big(10 * 1024 * 1024, 0x5A);
  big[12345] = 1;
  ASSERT_EQ(k.SetBinary(L"big", big), ERROR_SUCCESS);
  k.Close();
  ResetRegistryCache();  // read back from the file
  ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, path), ERROR_SUCCESS);
  std::vector<BYTE> back;
  ASSERT_EQ(k.QueryBinary(L"big", back), ERROR_SUCCESS);
  EXPECT_TRUE(back == big);
  std::wstring tooDeep = L"SOFTWARE";
  for (int i = 0; i < 512; ++i) tooDeep += L"\\x";
  EXPECT_EQ(k.Create(HKEY_LOCAL_MACHINE, tooDeep), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryApi, Wow64RedirectsTheUninstallKeyOfA32BitProcess) {
  // The default machine: 64-bit Windows, 32-bit installer.
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, kUninstall + L"\\TOLMERA"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"DisplayName", L"TOLMERA 32"), ERROR_SUCCESS);
  k.Close();
  // Seen in the 32-bit view, and physically under WOW6432Node.
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kUninstall + L"\\TOLMERA", L"DisplayName"),
            L"TOLMERA 32");
  EXPECT_EQ(
      ReadString(HKEY_LOCAL_MACHINE,
                 L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TOLMERA",
                 L"DisplayName", KEY_READ | KEY_WOW64_64KEY),
      L"TOLMERA 32");
  // Not in the 64-bit view.
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, kUninstall + L"\\TOLMERA", KEY_READ | KEY_WOW64_64KEY),
            ERROR_FILE_NOT_FOUND);
  // A 64-bit write through KEY_WOW64_64KEY is invisible to the 32-bit view.
  ASSERT_EQ(
      k.Create(HKEY_LOCAL_MACHINE, kUninstall + L"\\Native", KEY_ALL_ACCESS | KEY_WOW64_64KEY),
      ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, kUninstall + L"\\Native"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, kUninstall + L"\\Native", KEY_READ | KEY_WOW64_64KEY),
            ERROR_SUCCESS);

  // Relative opens from a 32-bit handle stay in the 32-bit view.
  RegKey software;
  ASSERT_EQ(software.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft"), ERROR_SUCCESS);
  EXPECT_EQ(
      ReadString(software.Get(), L"Windows\\CurrentVersion\\Uninstall\\TOLMERA", L"DisplayName"),
      L"TOLMERA 32");

  // Shared keys are not redirected: ProfileList, Policies, and HKCR outside the COM keys.
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE,
                       L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                       L"ProfilesDirectory"),
            L"%SystemDrive%\\Users");
  ASSERT_EQ(k.Create(HKEY_CLASSES_ROOT, L".tlm"), ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\.tlm", KEY_READ | KEY_WOW64_64KEY),
            ERROR_SUCCESS);
  ASSERT_EQ(k.Create(HKEY_CLASSES_ROOT, L"CLSID\\{TL}"), ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\WOW6432Node\\CLSID\\{TL}",
                   KEY_READ | KEY_WOW64_64KEY),
            ERROR_SUCCESS);

  // The 32-bit view sees the x86 program files folder, the 64-bit view the native one.
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                       L"ProgramFilesDir"),
            L"C:\\Program Files (x86)");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                       L"ProgramFilesDir", KEY_READ | KEY_WOW64_64KEY),
            L"C:\\Program Files");
  // Keys outside SOFTWARE are never redirected.
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SYSTEM\\TL"), ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\TL", KEY_READ | KEY_WOW64_64KEY), ERROR_SUCCESS);
}

namespace {
class Registry64BitProcess : public tltest::MachineTest {
  MachineConfig Config() override {
    MachineConfig c = MachineConfig::Defaults();
    c.process32Bit = false;
    return c;
  }
};
class Registry32BitWindows : public tltest::MachineTest {
  MachineConfig Config() override {
    MachineConfig c = MachineConfig::Defaults();
    c.os.is64Bit = false;
    return c;
  }
};
}  // namespace

TEST_F(Registry64BitProcess, SeesTheNativeViewAndReachesThe32BitOneOnRequest) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, kUninstall + L"\\X64"), ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, kUninstall + L"\\X64", KEY_READ | KEY_WOW64_64KEY),
            ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, kUninstall + L"\\X64", KEY_READ | KEY_WOW64_32KEY),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, kUninstall + L"\\X86", KEY_ALL_ACCESS | KEY_WOW64_32KEY),
            ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE,
                   L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\X86"),
            ERROR_SUCCESS);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                       L"ProgramFilesDir"),
            L"C:\\Program Files");
}

TEST_F(Registry32BitWindows, HasNoRedirectionAndNoWow6432Node) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, kUninstall + L"\\X", KEY_ALL_ACCESS | KEY_WOW64_32KEY),
            ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, kUninstall + L"\\X"), ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\WOW6432Node"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApi, CurrentUserAndUsersShareTheUserHive) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_CURRENT_USER, L"Software\\TOLMERA"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetString(L"Lang", L"de"), ERROR_SUCCESS);
  EXPECT_EQ(ReadString(HKEY_USERS, CurrentUserSid() + L"\\Software\\TOLMERA", L"Lang"), L"de");
  // The user hive lives in its own file.
  std::ifstream file(root_ + "/registry/HKU/" + ToUtf8(CurrentUserSid()) + ".reg",
                     std::ios::binary);
  ASSERT_TRUE(file.good());
  // HKEY_USERS lists the hives of a fresh machine and refuses keys of its own.
  RegKey users;
  ASSERT_EQ(users.Open(HKEY_USERS, L""), ERROR_SUCCESS);
  auto names = users.SubKeyNames();
  EXPECT_NE(std::find(names.begin(), names.end(), CurrentUserSid()), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), SecondUserSid()), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), L".DEFAULT"), names.end());
  EXPECT_EQ(k.Create(HKEY_USERS, L"NotAHive\\x"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(users.SetString(L"v", L"x"), ERROR_ACCESS_DENIED);
  // The user's shell folders are in the hive.
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER,
                       L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                       L"AppData"),
            L"C:\\Users\\User\\AppData\\Roaming");
}

TEST_F(RegistryApi, HivesAndHandlesStayRightAcrossSpellingsResetsAndCloses) {
  // The user hive by its SID in two spellings, asked for in turn, is one hive.
  std::wstring lower = CurrentUserSid();
  for (auto& c : lower) c = static_cast<wchar_t>(std::towlower(c));
  RegKey upperKey, lowerKey;
  ASSERT_EQ(upperKey.Create(HKEY_USERS, CurrentUserSid() + L"\\Software\\Spell"), ERROR_SUCCESS);
  ASSERT_EQ(lowerKey.Open(HKEY_USERS, lower + L"\\Software\\Spell", KEY_ALL_ACCESS), ERROR_SUCCESS);
  for (int i = 0; i < 4; ++i) {
    RegKey& k = i % 2 ? lowerKey : upperKey;
    ASSERT_EQ(k.SetDword(L"n" + std::to_wstring(i), i), ERROR_SUCCESS);
  }
  RegKey viaUser;
  ASSERT_EQ(viaUser.Open(HKEY_CURRENT_USER, L"Software\\Spell"), ERROR_SUCCESS);
  EXPECT_EQ(viaUser.ValueList().size(), 4u);
  DWORD n3 = 0;
  EXPECT_EQ(viaUser.QueryDword(L"n3", n3), ERROR_SUCCESS);
  EXPECT_EQ(n3, 3u);

  // After the stores are forgotten, the predefined keys reach the hives anew.
  ResetRegistryCache();
  RegKey after;
  ASSERT_EQ(after.Create(HKEY_CURRENT_USER, L"Software\\Spell"), ERROR_SUCCESS);
  ASSERT_EQ(after.SetString(L"after", L"reset"), ERROR_SUCCESS);
  ResetRegistryCache();
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, L"Software\\Spell", L"after"), L"reset");
  EXPECT_EQ(ReadString(HKEY_USERS, lower + L"\\Software\\Spell", L"after"), L"reset");

  // A handle closed while another thread uses it: each call either works or finds the handle
  // gone, and a closed handle stays invalid.
  HKEY shared = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Spell", 0, KEY_ALL_ACCESS, &shared),
            ERROR_SUCCESS);
  std::atomic<bool> bad{false};
  std::atomic<int> done{0};
  std::thread writer([&] {
    const DWORD one = 1;
    for (int i = 0; i < 2000; ++i) {
      LSTATUS s = RegSetValueExW(shared, L"t", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                                 sizeof one);
      if (s != ERROR_SUCCESS && s != ERROR_INVALID_HANDLE) bad = true;
      ++done;
    }
  });
  while (done < 50) std::this_thread::yield();
  EXPECT_EQ(RegCloseKey(shared), ERROR_SUCCESS);
  writer.join();
  EXPECT_FALSE(bad);
  EXPECT_EQ(RegCloseKey(shared), ERROR_INVALID_HANDLE);
  const DWORD one = 1;
  EXPECT_EQ(
      RegSetValueExW(shared, L"t", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
      ERROR_INVALID_HANDLE);
}

TEST_F(RegistryApi, FreshMachineHasTheKeysInstallersRead) {
  const std::wstring cv = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, cv, L"ProductName"), L"Windows 10 Pro");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, cv, L"CurrentBuild"), L"19045");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, cv, L"CurrentVersion"), L"6.3");
  RegKey k;
  ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, cv), ERROR_SUCCESS);
  DWORD major = 0;
  EXPECT_EQ(k.QueryDword(L"CurrentMajorVersionNumber", major), ERROR_SUCCESS);
  EXPECT_EQ(major, 10u);
  ASSERT_EQ(
      k.Open(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System"),
      ERROR_SUCCESS);
  DWORD lua = 7;
  EXPECT_EQ(k.QueryDword(L"EnableLUA", lua), ERROR_SUCCESS);
  EXPECT_EQ(lua, 1u);
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE,
                       L"SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName",
                       L"ComputerName"),
            L"TOLMERA-PC");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, cv + L"\\ProfileList\\" + CurrentUserSid(),
                       L"ProfileImagePath"),
            L"C:\\Users\\User");
  EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE,
                       L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                       L"Common AppData"),
            L"C:\\ProgramData");
  EXPECT_EQ(
      ReadString(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", L"ACP"),
      L"1252");
  EXPECT_EQ(
      k.Open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares"),
      ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, kUninstall, KEY_READ | KEY_WOW64_64KEY), ERROR_SUCCESS);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, kUninstall), ERROR_SUCCESS);
}

TEST_F(RegistryApi, SecurityDescriptorsAreKeptBesideTheKey) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Secure"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetKeySecuritySddl(k.Get(), L"O:BAG:SYD:(A;CI;KA;;;BA)"), ERROR_SUCCESS);
  k.Close();
  ResetRegistryCache();
  ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Secure"), ERROR_SUCCESS);
  std::wstring sddl;
  ASSERT_EQ(RegGetKeySecuritySddl(k.Get(), sddl), ERROR_SUCCESS);
  EXPECT_EQ(sddl, L"O:BAG:SYD:(A;CI;KA;;;BA)");
}

TEST_F(RegistryApi, ExportAndRootNames) {
  HKEY root = nullptr;
  std::wstring sub;
  ASSERT_TRUE(SplitRootKey(L"hkcu\\Software\\X\\", root, sub));
  EXPECT_EQ(root, HKEY_CURRENT_USER);
  EXPECT_EQ(sub, L"Software\\X");
  ASSERT_TRUE(SplitRootKey(L"HKEY_LOCAL_MACHINE", root, sub));
  EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
  EXPECT_TRUE(sub.empty());
  EXPECT_FALSE(SplitRootKey(L"HKXX\\y", root, sub));

  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, kUninstall + L"\\Exp"), ERROR_SUCCESS);
  ASSERT_EQ(k.SetDword(L"n", 3), ERROR_SUCCESS);
  std::string text;
  ASSERT_EQ(ExportKey(HKEY_LOCAL_MACHINE, kUninstall + L"\\Exp", 0, text), ERROR_SUCCESS);
  auto tree = reg::ParseHive(text, L"HKEY_LOCAL_MACHINE", nullptr);
  ASSERT_TRUE(tree);  // the export is a valid hive text with the physical (redirected) path
  const reg::Key* wow =
      tree->Child(L"SOFTWARE") ? tree->Child(L"SOFTWARE")->Child(L"WOW6432Node") : nullptr;
  ASSERT_TRUE(wow);
}

namespace {
class RegistryAccounts : public tltest::MachineTest {
  MachineConfig Config() override {
    MachineConfig c = MachineConfig::Defaults();
    c.userName = L"Maria";
    c.raw["accounts/machine_sid"] = L"S-1-5-21-111-222-333";
    c.raw["accounts/second_user"] = L"Anna";
    return c;
  }
};
}  // namespace

TEST_F(RegistryAccounts, MachineIniNamesTheAccountsTheRegistryAndProfilesUse) {
  EXPECT_EQ(CurrentUserSid(), L"S-1-5-21-111-222-333-1001");
  EXPECT_EQ(SecondUserSid(), L"S-1-5-21-111-222-333-1002");
  const std::wstring list = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
  EXPECT_EQ(
      ReadString(HKEY_LOCAL_MACHINE, list + L"S-1-5-21-111-222-333-1001", L"ProfileImagePath"),
      L"C:\\Users\\Maria");
  EXPECT_EQ(
      ReadString(HKEY_LOCAL_MACHINE, list + L"S-1-5-21-111-222-333-1002", L"ProfileImagePath"),
      L"C:\\Users\\Anna");
  EXPECT_EQ(ReadString(HKEY_USERS, L"S-1-5-21-111-222-333-1002\\Volatile Environment", L"USERNAME"),
            L"Anna");
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, L"Volatile Environment", L"USERPROFILE"),
            L"C:\\Users\\Maria");
  EXPECT_TRUE(PathIsDirectoryW(L"C:\\Users\\Anna\\AppData\\Roaming"));
  EXPECT_TRUE(PathIsDirectoryW(L"C:\\Users\\Maria\\Documents"));
}

namespace {
// Hooks as a security service would set them: inheritance appends an ACE; keys whose descriptor
// says "deny writes" refuse KEY_SET_VALUE and KEY_CREATE_SUB_KEY.
class RegistrySecurity : public tltest::MachineTest {
 protected:
  void SetUp() override {
    tltest::MachineTest::SetUp();
    // These hooks stand for a security service on a registry without descriptors of its own.
    for (const wchar_t* key : {L"", L"SOFTWARE", L"SOFTWARE\\WOW6432Node", L"SYSTEM"})
      ASSERT_EQ(SetStoredKeySecurity(Machine::Current(), L"", key, L""), ERROR_SUCCESS);
    RegistrySecurityHooks hooks;
    hooks.inherit = [this](const std::wstring& parent, const std::wstring& path, bool store) {
      if (store) inheritedPaths_.push_back(path);
      return parent.empty() ? std::wstring(L"D:(A;CI;KA;;;BA)") : parent;
    };
    hooks.check = [](const std::wstring& sddl, const std::wstring&, REGSAM desired) -> DWORD {
      bool locked = sddl.find(L"(D;;KW;;;WD)") != std::wstring::npos;
      return locked && (desired & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) ? ERROR_ACCESS_DENIED
                                                                        : ERROR_SUCCESS;
    };
    SetRegistrySecurityHooks(hooks);
  }
  void TearDown() override {
    InstallSecurityService();
    tltest::MachineTest::TearDown();
  }
  std::vector<std::wstring> inheritedPaths_;
};
}  // namespace

TEST_F(RegistrySecurity, NewKeysInheritAndOpensAreChecked) {
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Sec\\A"), ERROR_SUCCESS);
  // Each created key (not the existing SOFTWARE) went through inheritance, with its full name.
  EXPECT_EQ(inheritedPaths_,
            (std::vector<std::wstring>{L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Sec",
                                       L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Sec\\A"}));
  std::wstring sddl;
  ASSERT_EQ(RegGetKeySecuritySddl(k.Get(), sddl), ERROR_SUCCESS);
  EXPECT_EQ(sddl, L"D:(A;CI;KA;;;BA)");

  // Lock the key: writing opens and creating below it are refused, reading still works.
  ASSERT_EQ(RegSetKeySecuritySddl(k.Get(), L"D:(D;;KW;;;WD)"), ERROR_SUCCESS);
  RegKey other;
  EXPECT_EQ(other.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Sec\\A", KEY_READ | KEY_WRITE),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(other.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Sec\\A", KEY_READ), ERROR_SUCCESS);
  EXPECT_EQ(other.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Sec\\A\\B\\C"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(other.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Sec\\A\\B"),
            ERROR_FILE_NOT_FOUND);  // nothing half-made
  // A sibling keeps its own descriptor.
  EXPECT_EQ(other.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Sec\\Open"), ERROR_SUCCESS);
}
