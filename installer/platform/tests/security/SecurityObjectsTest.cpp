// Security of files, folders and keys: the lists of a fresh machine, what the registry enforces,
// named security information with propagation, and unreadable descriptors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "SecurityMachine.h"
#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/System.h"
#include "platform/Text.h"

using namespace platform;
using tltest::SecurityMachine;

namespace {

std::wstring Sddl(const wchar_t* name, SE_OBJECT_TYPE type) {
  SecurityDescriptor sd;
  DWORD s = GetObjectSecurity(name, type, sd);
  EXPECT_EQ(s, ERROR_SUCCESS) << ToUtf8(name);
  return sd.ToSddl();
}

std::string Xattr(const std::string& host) {
  char buf[4096];
  ssize_t n = ::lgetxattr(host.c_str(), "user.NTSD", buf, sizeof buf);
  return n < 0 ? std::string() : std::string(buf, static_cast<std::size_t>(n));
}

MachineConfig Standard() {
  MachineConfig c = MachineConfig::Defaults();
  c.memberships = {L"Users"};
  return c;
}

// The primary group of the machine's local user: the computer's "None" group.
std::wstring DomainOrMachineUsers() { return MachineSid() + L"-513"; }

bool DebugOutputHas(const std::wstring& text) {
  for (const auto& line : DebugOutput())
    if (line.find(text) != std::wstring::npos) return true;
  return false;
}

}  // namespace

TEST(FreshMachineSecurity, FoldersAndRootKeysHaveTheListsOfWindows) {
  SecurityMachine m;
  EXPECT_NE(Xattr(m.C("Program Files")).find("(A;;0x1301bf;;;BA)"), std::string::npos);
  EXPECT_NE(Xattr(m.C("")).find("(A;OICI;FA;;;BA)"), std::string::npos);
  EXPECT_NE(Xattr(m.C("Users/User")).find(ToUtf8(CurrentUserSid())), std::string::npos);

  // A folder without its own list inherits: Program Files gives BUILTIN\Administrators full
  // control of what is below it, Users read and execute.
  ASSERT_EQ(CreateDirectoryW(L"C:\\Program Files\\Vendor"), ERROR_SUCCESS);
  SecurityDescriptor sd;
  ASSERT_EQ(GetObjectSecurity(L"C:\\Program Files\\Vendor", SE_FILE_OBJECT, sd), ERROR_SUCCESS);
  Token user = MakeUserToken(Standard());
  Token admin = *CurrentToken();
  EXPECT_TRUE(AccessCheck(sd, admin, FILE_ALL_ACCESS, kFileMapping));
  EXPECT_TRUE(AccessCheck(sd, user, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, kFileMapping));
  EXPECT_FALSE(AccessCheck(sd, user, FILE_ADD_FILE, kFileMapping));
  // On Program Files itself an administrator has modify rights, not full control.
  ASSERT_EQ(GetObjectSecurity(L"C:\\Program Files", SE_FILE_OBJECT, sd), ERROR_SUCCESS);
  EXPECT_FALSE(AccessCheck(sd, admin, FILE_ALL_ACCESS, kFileMapping));
  EXPECT_TRUE(AccessCheck(sd, admin, FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE,
                          kFileMapping));
  // The user's profile is the user's.
  ASSERT_EQ(GetObjectSecurity(L"C:\\Users\\User\\AppData\\Local\\Temp", SE_FILE_OBJECT, sd),
            ERROR_SUCCESS);
  EXPECT_TRUE(AccessCheck(sd, user, FILE_ALL_ACCESS, kFileMapping));

  // Registry roots.
  EXPECT_EQ(
      Sddl(L"MACHINE\\SOFTWARE", SE_REGISTRY_KEY),
      L"O:BAG:SYD:PAI(A;CIIO;KA;;;CO)(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)(A;CI;KR;;;AC)");
  ASSERT_EQ(GetObjectSecurity(L"HKLM\\SOFTWARE\\Microsoft\\Windows", SE_REGISTRY_KEY, sd),
            ERROR_SUCCESS);
  EXPECT_TRUE(AccessCheck(sd, user, KEY_READ, kKeyMapping));
  EXPECT_FALSE(AccessCheck(sd, user, KEY_SET_VALUE, kKeyMapping));
  ASSERT_EQ(GetObjectSecurity(L"CURRENT_USER\\Software", SE_REGISTRY_KEY, sd), ERROR_SUCCESS);
  EXPECT_TRUE(AccessCheck(sd, user, KEY_ALL_ACCESS, kKeyMapping));
}

TEST(RegistryEnforcement, AStandardUserCannotWriteTheMachinePart) {
  SecurityMachine m(Standard());
  RegKey k;
  EXPECT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                   KEY_READ | KEY_WRITE),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", KEY_READ),
            ERROR_SUCCESS);
  std::wstring dir;
  EXPECT_EQ(k.QueryString(L"ProgramFilesDir", dir), ERROR_SUCCESS);
  EXPECT_EQ(k.SetString(L"X", L"y"), ERROR_ACCESS_DENIED);  // the handle has no write access
  EXPECT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\Mine"),
            ERROR_ACCESS_DENIED);
  // The user's own hive is the user's.
  ASSERT_EQ(k.Create(HKEY_CURRENT_USER, L"Software\\Vendor\\App"), ERROR_SUCCESS);
  EXPECT_EQ(k.SetString(L"Lang", L"de"), ERROR_SUCCESS);
}

TEST(RegistryEnforcement, AnAdministratorWithoutElevationIsRefusedToo) {
  MachineConfig c = MachineConfig::Defaults();
  c.elevated = false;
  SecurityMachine m(c);
  RegKey k;
  EXPECT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor"), ERROR_ACCESS_DENIED);
}

TEST(RegistryEnforcement, NewKeysOfAnAdministratorInheritWithTheCreatorAsOwner) {
  SecurityMachine m;
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\App", KEY_ALL_ACCESS), ERROR_SUCCESS);
  std::wstring own;
  ASSERT_EQ(RegGetKeySecuritySddl(k.Get(), own), ERROR_SUCCESS);
  // CREATOR OWNER became the creator's default owner (Administrators for an elevated token).
  EXPECT_EQ(own, L"O:BAG:" + DomainOrMachineUsers() +
                     L"D:AI(A;ID;KA;;;BA)(A;CIIOID;KA;;;CO)"
                     L"(A;CIID;KA;;;SY)(A;CIID;KA;;;BA)(A;CIID;KR;;;BU)(A;CIID;KR;;;AC)");
  EXPECT_EQ(k.SetDword(L"Build", 5), ERROR_SUCCESS);

  // machine.ini may lock a key; a malformed stored list denies and is reported with its key.
  ASSERT_EQ(RegSetKeySecuritySddl(k.Get(), L"D:(A;;KA;;;XX"), ERROR_SUCCESS);
  RegKey again;
  EXPECT_EQ(again.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\App", KEY_READ),
            ERROR_ACCESS_DENIED);
  EXPECT_TRUE(DebugOutputHas(L"HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Vendor\\App"));
  EXPECT_TRUE(DebugOutputHas(L"cannot be read"));
  SecurityDescriptor sd;
  EXPECT_EQ(GetObjectSecurity(L"MACHINE\\SOFTWARE\\Vendor\\App", SE_REGISTRY_KEY, sd),
            ERROR_INVALID_SECURITY_DESCR);
}

TEST(RegistryEnforcement, SetNamedSecurityInfoPropagatesToSubKeys) {
  SecurityMachine m;
  RegKey k;
  ASSERT_EQ(k.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Shared\\Below", KEY_ALL_ACCESS),
            ERROR_SUCCESS);
  // Let Users write everything below Shared.
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;CI;KA;;;BU)(A;CI;KA;;;BA)", SDDL_REVISION_1, &sd, nullptr));
  bool present, defaulted;
  ACL* dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  ASSERT_EQ(SetNamedSecurityInfoW(L"MACHINE\\SOFTWARE\\Shared", SE_REGISTRY_KEY,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr),
            ERROR_SUCCESS);
  LocalFree(sd);
  SecurityDescriptor below;
  ASSERT_EQ(GetObjectSecurity(L"MACHINE\\SOFTWARE\\Shared\\Below", SE_REGISTRY_KEY, below),
            ERROR_SUCCESS);
  Token user = MakeUserToken(Standard());
  EXPECT_TRUE(AccessCheck(below, user, KEY_ALL_ACCESS, kKeyMapping));
  // Below's inherited entries are those of the new list; the old ones are gone.
  EXPECT_EQ(below.ToSddl(DACL_SECURITY_INFORMATION), L"D:AI(A;CIID;KA;;;BU)(A;CIID;KA;;;BA)");
}

TEST(RegistryEnforcement, AStandardUserCannotChangeAList) {
  SecurityMachine m(Standard());
  alignas(4) BYTE buf[64];
  ACL* acl = reinterpret_cast<ACL*>(buf);
  InitializeAcl(acl, sizeof buf, ACL_REVISION);
  AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, EveryoneSid().Psid());
  EXPECT_EQ(SetNamedSecurityInfoW(L"MACHINE\\SOFTWARE", SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, acl, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetNamedSecurityInfoW(L"C:\\Windows", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, acl, nullptr),
            ERROR_ACCESS_DENIED);
}

TEST(FileSecurity, NamedSecurityInfoPropagatesWithoutFollowingLinks) {
  SecurityMachine m;
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Data\\Sub"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\Sub\\a.txt", "a"), ERROR_SUCCESS);
  // A child with a list of its own, and a link to C:\Windows inside the tree.
  ::setxattr(m.C("Data/Sub/a.txt").c_str(), "user.NTSD", "D:AI(A;;FA;;;BU)(A;ID;FR;;;WD)", 30, 0);
  ASSERT_EQ(::symlink(m.C("Windows").c_str(), m.C("Data/Sub/win").c_str()), 0);
  const std::string windowsBefore = Xattr(m.C("Windows"));

  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;OICI;FA;;;BA)(A;OICI;FR;;;AU)", SDDL_REVISION_1, &sd, nullptr));
  bool present, defaulted;
  ACL* dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  ASSERT_EQ(SetNamedSecurityInfoW(L"C:\\Data", SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr),
            ERROR_SUCCESS);
  LocalFree(sd);
  const std::string data = Xattr(m.C("Data"));
  EXPECT_EQ(data.substr(data.find("D:")), "D:PAI(A;OICI;FA;;;BA)(A;OICI;FR;;;AU)");
  // The child keeps its own entry and gets the new inherited ones.
  EXPECT_EQ(Xattr(m.C("Data/Sub/a.txt")), "D:AI(A;;FA;;;BU)(A;ID;FA;;;BA)(A;ID;FR;;;AU)");
  // A folder without its own list inherits through its parent.
  EXPECT_EQ(
      Sddl(L"C:\\Data\\Sub", SE_FILE_OBJECT).find(L"(A;OICIID;FR;;;AU)") != std::wstring::npos,
      true);
  EXPECT_EQ(Xattr(m.C("Windows")), windowsBefore);

  // GetNamedSecurityInfoW hands out the binary form.
  PSID owner = nullptr;
  ACL* got = nullptr;
  PSECURITY_DESCRIPTOR block = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(L"C:\\Data", SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, &owner,
                                  nullptr, &got, nullptr, &block),
            ERROR_SUCCESS);
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->AceCount, 2);
  LocalFree(block);
  EXPECT_EQ(GetNamedSecurityInfoW(L"C:\\Missing", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &got, nullptr, &block),
            ERROR_FILE_NOT_FOUND);
}

TEST(FileSecurity, AnUnreadableListDeniesAndIsReported) {
  SecurityMachine m;
  ASSERT_EQ(CreateDirectoryW(L"C:\\Broken"), ERROR_SUCCESS);
  ::setxattr(m.C("Broken").c_str(), "user.NTSD", "D:(A;;FA;;;", 11, 0);
  SecurityDescriptor sd;
  EXPECT_EQ(GetObjectSecurity(L"C:\\Broken", SE_FILE_OBJECT, sd), ERROR_INVALID_SECURITY_DESCR);
  EXPECT_TRUE(DebugOutputHas(L"C:\\Broken"));
  EXPECT_EQ(CheckObjectAccess(L"C:\\Broken", SE_FILE_OBJECT, FILE_GENERIC_READ),
            ERROR_ACCESS_DENIED);
  // What lies below inherits the fault: denied as well, never "no list".
  ASSERT_EQ(::mkdir(m.C("Broken/inner").c_str(), 0755), 0);
  EXPECT_EQ(CheckObjectAccess(L"C:\\Broken\\inner", SE_FILE_OBJECT, FILE_GENERIC_READ),
            ERROR_ACCESS_DENIED);
}

TEST(FileSecurity, MachineIniListsAndVolumesWithoutLists) {
  MachineConfig c =
      SecurityMachine::With({{"security/c:\\program files", L"D:P(D;OICI;FA;;;BU)(A;OICI;FA;;;BA)"},
                             {"security/hklm\\software\\locked", L"D:P(A;;KR;;;WD)"}});
  c.process32Bit = false;  // keys in machine.ini are named as stored (the 64-bit view)
  SecurityMachine m(c);
  EXPECT_EQ(Xattr(m.C("Program Files")), "D:P(D;OICI;FA;;;BU)(A;OICI;FA;;;BA)");
  EXPECT_EQ(Sddl(L"MACHINE\\SOFTWARE\\Locked", SE_REGISTRY_KEY), L"D:P(A;;KR;;;WD)");
  RegKey k;
  EXPECT_EQ(k.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Locked", KEY_WRITE), ERROR_ACCESS_DENIED);

  // A malformed list in machine.ini stops the machine with the entry named.
  MachineConfig bad = SecurityMachine::With({{"security/c:\\windows", L"D:(A;;FA;;;"}});
  char pattern[] = "/tmp/tl-security-bad-XXXXXX";
  std::string root = std::string(::mkdtemp(pattern)) + "/m";
  try {
    Machine::Init(root, bad);
    ADD_FAILURE() << "a malformed list was taken";
  } catch (const MachineError& e) {
    EXPECT_NE(std::string(e.what()).find("c:\\windows"), std::string::npos) << e.what();
  }
  std::filesystem::remove_all(std::filesystem::path(root).parent_path());

  // A FAT drive keeps no lists: everything is allowed and nothing can be set.
  MachineConfig fat = MachineConfig::Defaults();
  DriveConfig d;
  d.letter = L'E';
  d.fileSystem = L"FAT32";
  d.flags = FILE_CASE_PRESERVED_NAMES;
  fat.drives.push_back(d);
  SecurityMachine f(fat);
  ASSERT_EQ(CreateDirectoryW(L"E:\\Stuff"), ERROR_SUCCESS);
  SecurityDescriptor sd;
  ASSERT_EQ(GetObjectSecurity(L"E:\\Stuff", SE_FILE_OBJECT, sd), ERROR_SUCCESS);
  EXPECT_FALSE(sd.dacl);
  alignas(4) BYTE buf[64];
  ACL* acl = reinterpret_cast<ACL*>(buf);
  InitializeAcl(acl, sizeof buf, ACL_REVISION);
  EXPECT_EQ(SetNamedSecurityInfoW(L"E:\\Stuff", SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, acl, nullptr),
            ERROR_NOT_SUPPORTED);
}

TEST(FileEnforcement, AStandardUserCannotChangeWindowsOrProgramFiles) {
  SecurityMachine m(Standard());
  EXPECT_EQ(WriteWholeFile(L"C:\\Windows\\evil.dll", "x"), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(PathFileExistsW(L"C:\\Windows\\evil.dll"));
  EXPECT_EQ(CreateDirectoryW(L"C:\\Program Files\\Vendor"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteFileW(L"C:\\Windows\\System32\\drivers\\etc\\hosts"), ERROR_FILE_NOT_FOUND);
  // Files that exist (made on the host, as Windows shipped them): not to be opened for writing,
  // deleted or renamed.
  tltest::SecurityMachine::WriteHostFile(m.C("Windows/win.ini"), "[fonts]\n");
  FileHandle h;
  EXPECT_EQ(h.Open(L"C:\\Windows\\win.ini", GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_ACCESS_DENIED);
  EXPECT_EQ(h.Open(L"C:\\Windows\\win.ini", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING),
            ERROR_SUCCESS);
  h.Close();
  EXPECT_EQ(DeleteFileW(L"C:\\Windows\\win.ini"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MoveFileExW(L"C:\\Windows\\win.ini", L"C:\\Users\\User\\win.ini", 0),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RemoveDirectoryW(L"C:\\Windows\\Temp"), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(PathFileExistsW(L"C:\\Windows\\win.ini"));
  // The user's own profile, the machine's temporary folder and ProgramData are writable.
  EXPECT_EQ(WriteWholeFile(L"C:\\Users\\User\\AppData\\Local\\Temp\\a.txt", "a"), ERROR_SUCCESS);
  EXPECT_EQ(MoveFileExW(L"C:\\Users\\User\\AppData\\Local\\Temp\\a.txt",
                        L"C:\\Users\\User\\Documents\\a.txt", 0),
            ERROR_SUCCESS);
  EXPECT_EQ(DeleteFileW(L"C:\\Users\\User\\Documents\\a.txt"), ERROR_SUCCESS);
  EXPECT_EQ(WriteWholeFile(L"C:\\Windows\\Temp\\mine.tmp", "t"), ERROR_SUCCESS);
  EXPECT_EQ(CreateDirectoryW(L"C:\\ProgramData\\Vendor"), ERROR_SUCCESS);
  EXPECT_EQ(WriteWholeFile(L"C:\\ProgramData\\Vendor\\settings.cfg", "s"), ERROR_SUCCESS);
  // Another user's profile is not.
  EXPECT_EQ(WriteWholeFile(L"C:\\Users\\User2\\Documents\\x.txt", "x"), ERROR_ACCESS_DENIED);
}

TEST(FileEnforcement, WhatTheCreatorMakesIsTheCreators) {
  SecurityMachine m(Standard());
  // Windows\Temp gives CREATOR OWNER full control: the new file stores the user as its owner
  // and full control for the user.
  ASSERT_EQ(WriteWholeFile(L"C:\\Windows\\Temp\\mine.tmp", "t"), ERROR_SUCCESS);
  const std::string stored = Xattr(m.C("Windows/Temp/mine.tmp"));
  EXPECT_NE(stored.find("O:" + ToUtf8(CurrentUserSid())), std::string::npos) << stored;
  EXPECT_NE(stored.find("(A;ID;FA;;;" + ToUtf8(CurrentUserSid()) + ")"), std::string::npos)
      << stored;
  FileHandle h;
  EXPECT_EQ(h.Open(L"C:\\Windows\\Temp\\mine.tmp", GENERIC_WRITE, 0, OPEN_EXISTING), ERROR_SUCCESS);
  h.Close();
  EXPECT_EQ(DeleteFileW(L"C:\\Windows\\Temp\\mine.tmp"), ERROR_SUCCESS);
  // In the user's profile nothing depends on the creator: nothing is stored.
  ASSERT_EQ(WriteWholeFile(L"C:\\Users\\User\\Documents\\b.txt", "b"), ERROR_SUCCESS);
  EXPECT_EQ(Xattr(m.C("Users/User/Documents/b.txt")), "");
}

TEST(FileEnforcement, AnElevatedAdministratorInstallsAndALimitedOneCannot) {
  {
    SecurityMachine m;
    ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Program Files (x86)\\Vendor\\App"), ERROR_SUCCESS);
    EXPECT_EQ(WriteWholeFile(L"C:\\Program Files (x86)\\Vendor\\App\\app.exe", "MZ"),
              ERROR_SUCCESS);
    EXPECT_EQ(DeleteFileW(L"C:\\Program Files (x86)\\Vendor\\App\\app.exe"), ERROR_SUCCESS);
    EXPECT_EQ(WriteWholeFile(L"C:\\Windows\\System32\\tl.dll", "MZ"), ERROR_SUCCESS);
  }
  {
    MachineConfig c = MachineConfig::Defaults();
    c.elevated = false;
    SecurityMachine m(c);
    EXPECT_EQ(CreateDirectoryW(L"C:\\Program Files (x86)\\Vendor"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(WriteWholeFile(L"C:\\Windows\\tl.dll", "MZ"), ERROR_ACCESS_DENIED);
  }
}

// An open that was granted is not asked again while nothing it depends on changed; every change
// of a descriptor, of the hive on disk, of the batch or of the caller is honoured at the next open.
TEST(RegistryEnforcement, AGrantedOpenIsAskedAgainAfterEveryChangeItDependsOn) {
  SecurityMachine m;
  const wchar_t* kKey = L"Software\\Vendor\\App";
  const std::wstring kDenied = L"O:BAG:BAD:(A;;KA;;;SY)";  // the system account alone
  auto open = [&](REGSAM sam = KEY_READ) {
    RegKey k;
    return k.Open(HKEY_CURRENT_USER, kKey, sam);
  };
  RegKey app;
  ASSERT_EQ(app.Create(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS), ERROR_SUCCESS);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(open(), ERROR_SUCCESS);

  // The key's own descriptor, through a handle opened before.
  ASSERT_EQ(RegSetKeySecuritySddl(app.Get(), kDenied), ERROR_SUCCESS);
  EXPECT_EQ(open(), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegSetKeySecuritySddl(app.Get(), L""), ERROR_SUCCESS);
  ASSERT_EQ(open(), ERROR_SUCCESS);

  // A parent's descriptor, which the key inherits.
  RegKey vendor;
  ASSERT_EQ(vendor.Open(HKEY_CURRENT_USER, L"Software\\Vendor", KEY_ALL_ACCESS), ERROR_SUCCESS);
  ASSERT_EQ(RegSetKeySecuritySddl(vendor.Get(), L"O:BAG:BAD:(A;CI;KA;;;SY)"), ERROR_SUCCESS);
  EXPECT_EQ(open(), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegSetKeySecuritySddl(vendor.Get(), L""), ERROR_SUCCESS);
  ASSERT_EQ(open(), ERROR_SUCCESS);

  // Inside a batch, between value writes, the same.
  {
    RegistryBatch batch;
    ASSERT_EQ(open(KEY_ALL_ACCESS), ERROR_SUCCESS);
    EXPECT_EQ(app.SetString(L"Lang", L"de"), ERROR_SUCCESS);
    ASSERT_EQ(open(KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeySecuritySddl(app.Get(), kDenied), ERROR_SUCCESS);
    EXPECT_EQ(open(KEY_ALL_ACCESS), ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegSetKeySecuritySddl(app.Get(), L""), ERROR_SUCCESS);
    EXPECT_EQ(open(KEY_ALL_ACCESS), ERROR_SUCCESS);
  }

  // The hive changed on disk by another process.
  ASSERT_EQ(open(), ERROR_SUCCESS);
  pid_t child = fork();
  if (child == 0) {
    RegKey k;
    bool ok = k.Open(HKEY_CURRENT_USER, kKey, KEY_ALL_ACCESS) == ERROR_SUCCESS &&
              RegSetKeySecuritySddl(k.Get(), kDenied) == ERROR_SUCCESS;
    _exit(ok ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(open(), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegSetKeySecuritySddl(app.Get(), L""), ERROR_SUCCESS);  // the handle keeps its access
  EXPECT_EQ(open(), ERROR_SUCCESS);

  // The caller: machine.ini reloaded without elevation.
  RegKey machineKey;
  ASSERT_EQ(machineKey.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor"), ERROR_SUCCESS);
  RegKey again;
  ASSERT_EQ(again.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor", KEY_WRITE), ERROR_SUCCESS);
  std::string ini = Machine::Current().Config().ToIni();
  ini.replace(ini.find("elevated = yes"), 14, "elevated = no");
  SecurityMachine::WriteHostFile(Machine::Current().IniPath(), ini);
  Machine::Current().Reload();
  EXPECT_EQ(again.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor", KEY_WRITE), ERROR_ACCESS_DENIED);
  EXPECT_EQ(again.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor", KEY_READ), ERROR_SUCCESS);
}

namespace {

// Sets the owner, the list or both of `path` (SDDL parts; empty ones are left alone).
DWORD SetFileSddl(const wchar_t* path, const wchar_t* sddl, SECURITY_INFORMATION info) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr))
    return GetLastError();
  PSID owner = nullptr;
  ACL* dacl = nullptr;
  bool present = false, defaulted = false;
  GetSecurityDescriptorOwner(sd, &owner, &defaulted);
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  const DWORD rc = SetNamedSecurityInfoW(path, SE_FILE_OBJECT, info, owner, nullptr, dacl, nullptr);
  LocalFree(sd);
  return rc;
}

// The SDDL form of the owner of new objects ("BA" for the administrators).
std::wstring TokenOwnerInSddl() {
  SecurityDescriptor sd;
  sd.owner = CurrentToken()->owner;
  const std::wstring text = sd.ToSddl();  // "O:BA" and what follows, "D:..." for one
  const std::size_t next = text.find(L':', 2);
  return text.substr(2, next == std::wstring::npos ? std::wstring::npos : next - 3);
}

// What a file made now in `folder` by the process's token gets from it: the folder's inheritable
// entries, CREATOR OWNER and CREATOR GROUP taken by the token's owner and group.
std::wstring GivenByFolder(const wchar_t* folder) {
  SecurityDescriptor parent;
  EXPECT_EQ(GetObjectSecurity(folder, SE_FILE_OBJECT, parent), ERROR_SUCCESS);
  return InheritDescriptor(parent, false, *CurrentToken(), kFileMapping).ToSddl();
}

// The list of a file as every reading call gives it: the object's descriptor, and
// GetNamedSecurityInfoW's binary form turned back into text.
std::wstring ReadEveryWay(const wchar_t* path) {
  const std::wstring object = Sddl(path, SE_FILE_OBJECT);
  PSECURITY_DESCRIPTOR block = nullptr;
  EXPECT_EQ(GetNamedSecurityInfoW(
                path, SE_FILE_OBJECT,
                OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                nullptr, nullptr, nullptr, nullptr, &block),
            ERROR_SUCCESS);
  std::wstring binary;
  if (block) {
    auto parsed = SecurityDescriptor::FromBinary(block);
    EXPECT_TRUE(parsed.has_value());
    if (parsed) binary = parsed->ToSddl();
    LocalFree(block);
  }
  EXPECT_EQ(binary, object) << ToUtf8(path);
  return object;
}

}  // namespace

// A folder the administrator made below C:\ (whose list gives CREATOR OWNER full control below)
// is the administrator's, and so are the files made in it: what they inherit is read from the
// folder, and is what a file that stored its list would hold.
TEST(InheritedFileLists, FilesOfTheFoldersOwnerReadWhatTheyWereGivenWithoutKeepingIt) {
  SecurityMachine m;
  ASSERT_EQ(CreateDirectoryW(L"C:\\Data"), ERROR_SUCCESS);
  ASSERT_FALSE(Xattr(m.C("Data")).empty());
  const std::wstring given = GivenByFolder(L"C:\\Data");
  const std::wstring owner = TokenOwnerInSddl();
  // The creator's entry is there, for the administrator who made the file.
  ASSERT_NE(given.find(L"O:" + owner), std::wstring::npos) << ToUtf8(given);
  ASSERT_NE(given.find(L"(A;ID;FA;;;" + owner + L")"), std::wstring::npos) << ToUtf8(given);

  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\by-handle.txt", "h"), ERROR_SUCCESS);
  NewFileWriter w;
  ASSERT_EQ(w.Begin(L"C:\\Data\\by-writer.txt", FILE_ATTRIBUTE_ARCHIVE), ERROR_SUCCESS);
  ASSERT_EQ(w.Write("w", 1), ERROR_SUCCESS);
  ASSERT_EQ(w.Finish(0), ERROR_SUCCESS);
  ASSERT_EQ(CopyFileW(L"C:\\Data\\by-handle.txt", L"C:\\Data\\copy.txt", true), ERROR_SUCCESS);
  for (const wchar_t* name : {L"by-handle.txt", L"by-writer.txt", L"copy.txt"}) {
    const std::wstring path = std::wstring(L"C:\\Data\\") + name;
    EXPECT_EQ(Xattr(m.C("Data/" + ToUtf8(name))), "") << ToUtf8(name);
    EXPECT_EQ(ReadEveryWay(path.c_str()), given) << ToUtf8(name);
    EXPECT_EQ(CheckObjectAccess(path, SE_FILE_OBJECT, FILE_ALL_ACCESS), ERROR_SUCCESS);
  }

  // A sub-folder keeps its list, as before; its files read theirs from it.
  ASSERT_EQ(CreateDirectoryW(L"C:\\Data\\Sub"), ERROR_SUCCESS);
  EXPECT_FALSE(Xattr(m.C("Data/Sub")).empty());
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\Sub\\a.txt", "a"), ERROR_SUCCESS);
  EXPECT_EQ(Xattr(m.C("Data/Sub/a.txt")), "");
  EXPECT_EQ(ReadEveryWay(L"C:\\Data\\Sub\\a.txt"), GivenByFolder(L"C:\\Data\\Sub"));
}

// On Windows an inherited list is the file's from its creation on: a later change of the
// folder's owner or list passes on the folder's inheritable entries (propagation) but does not
// make the file's creator another.
TEST(InheritedFileLists, AFileKeepsWhatItHadWhenTheFoldersListChanges) {
  SecurityMachine m;
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Data\\Sub"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\a.txt", "a"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\Sub\\b.txt", "b"), ERROR_SUCCESS);
  // A folder made on the host, without a list: its file reads through it.
  ASSERT_EQ(::mkdir(m.C("Data/Plain").c_str(), 0755), 0);
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\Plain\\c.txt", "c"), ERROR_SUCCESS);
  const std::wstring a = ReadEveryWay(L"C:\\Data\\a.txt");
  const std::wstring b = ReadEveryWay(L"C:\\Data\\Sub\\b.txt");
  const std::wstring c = ReadEveryWay(L"C:\\Data\\Plain\\c.txt");
  const std::wstring owner = TokenOwnerInSddl();

  // SYSTEM becomes the folder's owner: the files stay the administrator's, with the
  // administrator's full control from CREATOR OWNER.
  ASSERT_EQ(SetFileSddl(L"C:\\Data", L"O:SY", OWNER_SECURITY_INFORMATION), ERROR_SUCCESS);
  EXPECT_NE(Sddl(L"C:\\Data", SE_FILE_OBJECT).find(L"O:SY"), std::wstring::npos);
  EXPECT_EQ(ReadEveryWay(L"C:\\Data\\a.txt"), a);
  EXPECT_EQ(ReadEveryWay(L"C:\\Data\\Sub\\b.txt"), b);
  EXPECT_EQ(ReadEveryWay(L"C:\\Data\\Plain\\c.txt"), c);
  EXPECT_NE(a.find(L"O:" + owner), std::wstring::npos) << ToUtf8(a);
  // A file made now is SYSTEM's folder's file of the administrator: it stores its own.
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\new.txt", "n"), ERROR_SUCCESS);
  EXPECT_FALSE(Xattr(m.C("Data/new.txt")).empty());
  EXPECT_EQ(ReadEveryWay(L"C:\\Data\\new.txt"), GivenByFolder(L"C:\\Data"));

  // A protected list without CREATOR OWNER: the files take the new inheritable entries in place
  // of the inherited ones, and keep their owner.
  ASSERT_EQ(SetFileSddl(L"C:\\Data", L"D:(A;OICI;FA;;;SY)(A;OICI;FR;;;WD)",
                        DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION),
            ERROR_SUCCESS);
  for (const wchar_t* path :
       {L"C:\\Data\\a.txt", L"C:\\Data\\Sub\\b.txt", L"C:\\Data\\Plain\\c.txt"}) {
    const std::wstring now = ReadEveryWay(path);
    EXPECT_NE(now.find(L"O:" + owner), std::wstring::npos) << ToUtf8(now);
    EXPECT_NE(now.find(L"(A;ID;FA;;;SY)(A;ID;FR;;;WD)"), std::wstring::npos) << ToUtf8(now);
    EXPECT_EQ(now.find(L"(A;ID;FA;;;" + owner + L")"), std::wstring::npos) << ToUtf8(now);
    SecurityDescriptor sd;
    ASSERT_EQ(GetObjectSecurity(path, SE_FILE_OBJECT, sd), ERROR_SUCCESS);
    EXPECT_FALSE(AccessCheck(sd, *CurrentToken(), FILE_GENERIC_WRITE, kFileMapping));
  }
}

// A file given a list of its own keeps it; a moved file keeps what it had, also inside a moved
// folder without a list; a copy gets what a new file gets where it lands.
TEST(InheritedFileLists, OwnListsMovesAndCopies) {
  SecurityMachine m;
  ASSERT_EQ(CreateDirectoryW(L"C:\\Data"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\own.txt", "o"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\moved.txt", "m"), ERROR_SUCCESS);
  ASSERT_EQ(::mkdir(m.C("Data/Plain").c_str(), 0755), 0);
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\Plain\\inner.txt", "i"), ERROR_SUCCESS);
  ASSERT_EQ(SetFileSddl(L"C:\\Data\\own.txt", L"D:(A;;FA;;;BU)", DACL_SECURITY_INFORMATION),
            ERROR_SUCCESS);
  const std::wstring own = ReadEveryWay(L"C:\\Data\\own.txt");
  EXPECT_NE(own.find(L"D:AI(A;;FA;;;BU)(A;ID;"), std::wstring::npos) << ToUtf8(own);
  EXPECT_FALSE(Xattr(m.C("Data/own.txt")).empty());
  const std::wstring moved = ReadEveryWay(L"C:\\Data\\moved.txt");
  const std::wstring inner = ReadEveryWay(L"C:\\Data\\Plain\\inner.txt");

  // The user's profile hands on no entry of the creator, and the user owns it.
  ASSERT_EQ(MoveFileExW(L"C:\\Data\\moved.txt", L"C:\\Users\\User\\moved.txt", 0), ERROR_SUCCESS);
  ASSERT_EQ(MoveFileExW(L"C:\\Data\\Plain", L"C:\\Users\\User\\Plain", 0), ERROR_SUCCESS);
  EXPECT_EQ(ReadEveryWay(L"C:\\Users\\User\\moved.txt"), moved);
  EXPECT_EQ(ReadEveryWay(L"C:\\Users\\User\\Plain\\inner.txt"), inner);
  // Renamed in its folder, a file reads the same and stores nothing.
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\x.txt", "x"), ERROR_SUCCESS);
  const std::wstring x = ReadEveryWay(L"C:\\Data\\x.txt");
  ASSERT_EQ(MoveFileExW(L"C:\\Data\\x.txt", L"C:\\Data\\y.txt", 0), ERROR_SUCCESS);
  EXPECT_EQ(ReadEveryWay(L"C:\\Data\\y.txt"), x);
  EXPECT_EQ(Xattr(m.C("Data/y.txt")), "");

  // The folder's owner changes: the file with its own list keeps its own entry and owner.
  ASSERT_EQ(SetFileSddl(L"C:\\Data", L"O:SY", OWNER_SECURITY_INFORMATION), ERROR_SUCCESS);
  EXPECT_EQ(ReadEveryWay(L"C:\\Data\\own.txt"), own);

  // Copies into the profile are new files there.
  ASSERT_EQ(CopyFileW(L"C:\\Data\\y.txt", L"C:\\Users\\User\\copy.txt", true), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Users\\User\\fresh.txt", "f"), ERROR_SUCCESS);
  EXPECT_EQ(ReadEveryWay(L"C:\\Users\\User\\copy.txt"),
            ReadEveryWay(L"C:\\Users\\User\\fresh.txt"));
}

// The rights step adds entries to a folder its owner keeps: the files that read their list from
// the folder take the new entries as inherited ones, and still need none of their own.
TEST(InheritedFileLists, AnEntryAddedToTheFolderReachesItsFilesWithoutListsOfTheirOwn) {
  SecurityMachine m;
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Data\\Sub"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\a.txt", "a"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\Sub\\b.txt", "b"), ERROR_SUCCESS);
  const std::wstring a = ReadEveryWay(L"C:\\Data\\a.txt");
  ASSERT_EQ(a.find(L";;;WD)"), std::wstring::npos) << ToUtf8(a);

  // Everyone's read as the folder's own entry; the inherited ones come back by themselves.
  ASSERT_EQ(SetFileSddl(L"C:\\Data", L"D:(A;OICI;0x1200a9;;;WD)", DACL_SECURITY_INFORMATION),
            ERROR_SUCCESS);
  for (const wchar_t* path : {L"C:\\Data\\a.txt", L"C:\\Data\\Sub\\b.txt"}) {
    const std::wstring now = ReadEveryWay(path);
    EXPECT_NE(now.find(L"(A;ID;0x1200a9;;;WD)"), std::wstring::npos) << ToUtf8(now);
    EXPECT_NE(now.find(L"O:" + TokenOwnerInSddl()), std::wstring::npos) << ToUtf8(now);
    // The creator's full control is still there.
    EXPECT_NE(now.find(L"(A;ID;FA;;;" + TokenOwnerInSddl() + L")"), std::wstring::npos)
        << ToUtf8(now);
  }
  EXPECT_EQ(ReadEveryWay(L"C:\\Data\\a.txt"), GivenByFolder(L"C:\\Data"));
  EXPECT_EQ(ReadEveryWay(L"C:\\Data\\Sub\\b.txt"), GivenByFolder(L"C:\\Data\\Sub"));
  EXPECT_EQ(Xattr(m.C("Data/a.txt")), "");
  EXPECT_EQ(Xattr(m.C("Data/Sub/b.txt")), "");
  // What a file made now reads is what the older ones read.
  ASSERT_EQ(WriteWholeFile(L"C:\\Data\\new.txt", "n"), ERROR_SUCCESS);
  EXPECT_EQ(ReadEveryWay(L"C:\\Data\\new.txt"), ReadEveryWay(L"C:\\Data\\a.txt"));
}

TEST(FileSecurity, AFolderStoredWithoutAnOwnerStaysReadableUnderAFolderThatHandsOnCreatorEntries) {
  SecurityMachine m;
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Data\\Plain"), ERROR_SUCCESS);
  // The folder above hands an entry for the creator on; the folder's own text names no owner.
  ::setxattr(m.C("Data").c_str(), "user.NTSD", "O:BAG:SYD:PAI(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)",
             47, 0);
  ::setxattr(m.C("Data/Plain").c_str(), "user.NTSD", "D:AI(A;OICI;FA;;;WD)", 20, 0);
  ASSERT_EQ(SetFileSddl(L"C:\\Data\\Plain", L"D:(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)",
                        DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION),
            ERROR_SUCCESS);
  const std::string text = Xattr(m.C("Data/Plain"));
  EXPECT_EQ(text.find(";;;)"), std::string::npos) << "an entry for no one: " << text;
  SecurityDescriptor read;
  ASSERT_EQ(GetObjectSecurity(L"C:\\Data\\Plain", SE_FILE_OBJECT, read), ERROR_SUCCESS) << text;
  ASSERT_TRUE(read.dacl.has_value());
  // The creator's entry reads as the system's, as the owner of such a text does.
  bool systemsEntry = false;
  for (const Ace& a : *read.dacl)
    systemsEntry = systemsEntry || ((a.flags & INHERITED_ACE) && a.sid == LocalSystemSid());
  EXPECT_TRUE(systemsEntry) << text;
}
