// The share service: the status codes of the share calls, the stored form of a share, paths
// through shares of this computer and of another one, and the share permissions a user who is no
// administrator meets.
#include "platform/Files.h"
#include "platform/Network.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/Shares.h"
#include "platform/Text.h"
#include "testing/MachineFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace platform;

namespace {

const wchar_t kSharesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";

SHARE_INFO_502 Record(const std::wstring& name, const std::wstring& path, DWORD permissions) {
  SHARE_INFO_502 s;
  s.shi502_netname = name;
  s.shi502_path = path;
  s.shi502_permissions = permissions;
  return s;
}

std::vector<std::wstring> Names(const std::vector<SHARE_INFO_502>& shares) {
  std::vector<std::wstring> out;
  for (const auto& s : shares) out.push_back(s.shi502_netname);
  return out;
}

std::string Read(const std::wstring& path) {
  std::string data;
  DWORD rc = ReadWholeFile(path, data);
  return rc == ERROR_SUCCESS ? data : "<" + std::to_string(rc) + ">";
}

// Everyone may do anything in the folder: only the share's own permissions can refuse.
void OpenToEveryone(const std::wstring& folder) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)",
                                                                   SDDL_REVISION_1, &sd, nullptr));
  bool present = false, defaulted = false;
  ACL* acl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted));
  ASSERT_EQ(SetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, acl, nullptr),
            ERROR_SUCCESS);
  LocalFree(sd);
}

class Shares : public tltest::MachineTest {};

}  // namespace

TEST_F(Shares, AddCheckEnumerateAndDeleteWithTheirStatusCodes) {
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Srv\\Data"), ERROR_SUCCESS);
  DWORD parm = 0;
  EXPECT_EQ(NetShareAdd(nullptr, 502, Record(L"Data", L"C:\\srv\\data\\", ACCESS_READ), &parm),
            NERR_Success);
  // The same name in another case, and the default shares, are taken.
  EXPECT_EQ(NetShareAdd(nullptr, 502, Record(L"DATA", L"C:\\Srv", 0), &parm), NERR_DuplicateShare);
  EXPECT_EQ(NetShareAdd(nullptr, 502, Record(L"c$", L"C:\\Srv", 0), &parm), NERR_DuplicateShare);
  // A second share of the same folder is allowed.
  EXPECT_EQ(NetShareAdd(L"\\\\TOLMERA-PC", 2, Record(L"Data2", L"C:\\Srv\\Data", 3), &parm),
            NERR_Success);

  struct Bad {
    std::wstring name, path;
    DWORD type, status, parm;
  };
  for (const Bad& b : std::vector<Bad>{
           {L"", L"C:\\Srv", STYPE_DISKTREE, ERROR_INVALID_PARAMETER, SHARE_NETNAME_PARMNUM},
           {L"a\\b", L"C:\\Srv", STYPE_DISKTREE, ERROR_INVALID_PARAMETER, SHARE_NETNAME_PARMNUM},
           {L"a*", L"C:\\Srv", STYPE_DISKTREE, ERROR_INVALID_PARAMETER, SHARE_NETNAME_PARMNUM},
           {std::wstring(81, L'n'), L"C:\\Srv", STYPE_DISKTREE, ERROR_INVALID_PARAMETER,
            SHARE_NETNAME_PARMNUM},
           {L"Printer", L"C:\\Srv", STYPE_PRINTQ, ERROR_INVALID_PARAMETER, SHARE_TYPE_PARMNUM},
           {L"Missing", L"C:\\Srv\\Nothing", STYPE_DISKTREE, NERR_UnknownDevDir, 0},
           {L"Unc", L"\\\\TOLMERA-PC\\C$", STYPE_DISKTREE, NERR_UnknownDevDir, 0},
           {L"NoDrive", L"Q:\\Srv", STYPE_DISKTREE, NERR_UnknownDevDir, 0},
       }) {
    SHARE_INFO_502 r = Record(b.name, b.path, 0);
    r.shi502_type = b.type;
    parm = 0;
    EXPECT_EQ(NetShareAdd(nullptr, 502, r, &parm), b.status) << ToUtf8(b.name);
    EXPECT_EQ(parm, b.parm) << ToUtf8(b.name);
  }
  EXPECT_EQ(NetShareAdd(nullptr, 1, Record(L"Lvl", L"C:\\Srv", 0), &parm), ERROR_INVALID_LEVEL);
  EXPECT_EQ(NetShareAdd(L"NOBODY", 502, Record(L"X", L"C:\\Srv", 0), &parm), NERR_InvalidComputer);

  DWORD type = 99;
  EXPECT_EQ(NetShareCheck(nullptr, L"c:\\SRV\\Data", &type), NERR_Success);
  EXPECT_EQ(type, STYPE_DISKTREE);
  EXPECT_EQ(NetShareCheck(nullptr, L"C:\\Srv", &type), NERR_DeviceNotShared);

  std::vector<SHARE_INFO_502> all;
  ASSERT_EQ(NetShareEnum(nullptr, 502, all), NERR_Success);
  EXPECT_EQ(Names(all), (std::vector<std::wstring>{L"C$", L"IPC$", L"ADMIN$", L"Data", L"Data2"}));
  EXPECT_EQ(all[3].shi502_path, L"C:\\srv\\data") << "in full form, as it was written";
  EXPECT_EQ(all[3].shi502_permissions, ACCESS_READ);
  EXPECT_EQ(all[3].shi502_max_uses, SHI_USES_UNLIMITED);
  EXPECT_FALSE(all[3].shi502_security_descriptor.empty());
  EXPECT_EQ(all[0].shi502_type, STYPE_DISKTREE | STYPE_SPECIAL);
  EXPECT_EQ(all[0].shi502_remark, L"Default share");

  // Deleting: by name only; an empty name is no name, never the whole list.
  EXPECT_EQ(NetShareDel(nullptr, L"", 0), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(NetShareDel(nullptr, L"Nope", 0), NERR_NetNameNotFound);
  EXPECT_EQ(NetShareDel(nullptr, L"data2", 0), NERR_Success);
  EXPECT_EQ(NetShareDel(nullptr, L"Data2", 0), NERR_NetNameNotFound);
  ASSERT_EQ(NetShareEnum(nullptr, 0, all), NERR_Success);
  EXPECT_EQ(Names(all), (std::vector<std::wstring>{L"C$", L"IPC$", L"ADMIN$", L"Data"}));
  SHARE_INFO_502 info;
  EXPECT_EQ(NetShareGetInfo(nullptr, L"Data2", 2, info), NERR_NetNameNotFound);
  ASSERT_EQ(NetShareGetInfo(nullptr, L"data", 2, info), NERR_Success);
  EXPECT_EQ(info.shi502_netname, L"Data");
}

TEST_F(Shares, AreKeptInTheServerServiceKeyWithTheirSecurity) {
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Srv\\Data"), ERROR_SUCCESS);
  DWORD parm = 0;
  ASSERT_EQ(NetShareAdd(nullptr, 502, Record(L"Data", L"C:\\Srv\\Data", 3), &parm), NERR_Success);
  RegKey key;
  ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, kSharesKey), ERROR_SUCCESS);
  std::vector<std::wstring> items;
  ASSERT_EQ(key.QueryMultiString(L"Data", items), ERROR_SUCCESS);
  EXPECT_EQ(items, (std::vector<std::wstring>{L"CATimeout=0", L"CSCFlags=0", L"MaxUses=4294967295",
                                              L"Path=C:\\Srv\\Data", L"Permissions=3", L"Remark=",
                                              L"ShareName=Data", L"Type=0"}));
  RegKey security;
  ASSERT_EQ(security.Open(HKEY_LOCAL_MACHINE, std::wstring(kSharesKey) + L"\\Security"),
            ERROR_SUCCESS);
  std::vector<BYTE> bytes;
  DWORD type = 0;
  ASSERT_EQ(security.QueryBinary(L"Data", bytes, &type), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  auto sd = SecurityDescriptor::FromBinary(bytes.data());
  ASSERT_TRUE(sd);
  // Read and write for Everyone, full control for the administrators.
  EXPECT_EQ(sd->ToSddl(DACL_SECURITY_INFORMATION), L"D:(A;;FA;;;BA)(A;;0x1201bf;;;WD)");
  EXPECT_EQ(DefaultShareSddl(0), L"D:(A;;FA;;;BA)");
  EXPECT_EQ(DefaultShareSddl(ACCESS_ALL), L"D:(A;;FA;;;BA)(A;;0x1f01ff;;;WD)");

  // A descriptor given with the record is kept as given.
  auto own = SecurityDescriptor::FromSddl(L"D:(A;;0x1200a9;;;BU)");
  ASSERT_TRUE(own);
  SHARE_INFO_502 r = Record(L"Own", L"C:\\Srv", ACCESS_ALL);
  r.shi502_security_descriptor = own->ToBinary();
  ASSERT_EQ(NetShareAdd(nullptr, 502, r, &parm), NERR_Success);
  SHARE_INFO_502 info;
  ASSERT_EQ(NetShareGetInfo(nullptr, L"Own", 502, info), NERR_Success);
  auto back = SecurityDescriptor::FromBinary(info.shi502_security_descriptor.data());
  ASSERT_TRUE(back);
  EXPECT_EQ(back->ToSddl(DACL_SECURITY_INFORMATION), L"D:(A;;0x1200a9;;;BU)");
  // A malformed one is refused.
  r.shi502_netname = L"Broken";
  r.shi502_security_descriptor = std::vector<BYTE>(20, 0);
  r.shi502_security_descriptor[0] = 7;  // no revision of a descriptor
  EXPECT_EQ(NetShareAdd(nullptr, 502, r, &parm), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(parm, SHARE_FILE_SD_PARMNUM);

  // Deleting takes both values.
  ASSERT_EQ(NetShareDel(nullptr, L"Data", 0), NERR_Success);
  EXPECT_EQ(key.QueryMultiString(L"Data", items), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(security.QueryBinary(L"Data", bytes, &type), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(security.QueryBinary(L"Own", bytes, &type), ERROR_SUCCESS);
}

TEST_F(Shares, PathsThroughAShareReachItsFolderUntilTheShareGoes) {
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Srv\\Data"), ERROR_SUCCESS);
  ASSERT_EQ(WriteWholeFile(L"C:\\Srv\\Data\\a.txt", "in the folder"), ERROR_SUCCESS);
  DWORD parm = 0;
  ASSERT_EQ(NetShareAdd(nullptr, 502, Record(L"Data", L"C:\\Srv\\Data", 3), &parm), NERR_Success);
  EXPECT_EQ(Read(L"\\\\TOLMERA-PC\\Data\\a.txt"), "in the folder");
  EXPECT_EQ(Read(L"\\\\localhost\\data\\A.TXT"), "in the folder");
  ASSERT_EQ(WriteWholeFile(L"\\\\TOLMERA-PC\\Data\\b.txt", "through the share"), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"C:\\Srv\\Data\\b.txt"), "through the share");
  // ".." never climbs out of the shared folder.
  HostLocation loc;
  ASSERT_EQ(ResolvePath(L"\\\\TOLMERA-PC\\Data\\..\\..\\x.txt", loc), ERROR_SUCCESS);
  EXPECT_EQ(loc.hostPath, C("Srv/Data/x.txt"));
  ASSERT_EQ(NetShareDel(nullptr, L"Data", 0), NERR_Success);
  EXPECT_EQ(Read(L"\\\\TOLMERA-PC\\Data\\a.txt"), "<" + std::to_string(ERROR_BAD_NET_NAME) + ">");
}

TEST_F(Shares, AUserWhoIsNoAdministratorCanNeitherChangeSharesNorPassTheirPermissions) {
  // The server: shares made by its administrator.
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Srv\\Read"), ERROR_SUCCESS);
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Srv\\Change"), ERROR_SUCCESS);
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Srv\\Closed"), ERROR_SUCCESS);
  for (const wchar_t* f : {L"C:\\Srv\\Read", L"C:\\Srv\\Change", L"C:\\Srv\\Closed"}) {
    OpenToEveryone(f);
    ASSERT_EQ(WriteWholeFile(std::wstring(f) + L"\\f.txt", "server data"), ERROR_SUCCESS);
  }
  DWORD parm = 0;
  ASSERT_EQ(NetShareAdd(nullptr, 502, Record(L"Read", L"C:\\Srv\\Read", ACCESS_READ), &parm),
            NERR_Success);
  ASSERT_EQ(NetShareAdd(nullptr, 502,
                        Record(L"Change", L"C:\\Srv\\Change",
                               ACCESS_READ | ACCESS_WRITE | ACCESS_CREATE | ACCESS_DELETE),
                        &parm),
            NERR_Success);
  ASSERT_EQ(NetShareAdd(nullptr, 502, Record(L"Closed", L"C:\\Srv\\Closed", 0), &parm),
            NERR_Success);

  // The workstation B of a user without administrator rights, with the server in its network.
  const std::string server = root_;
  MachineConfig c = MachineConfig::Defaults();
  c.computerName = L"B";
  c.memberships = {L"Users"};
  c.elevated = false;
  c.network = {NetworkComputer{L"TOLMERA-PC", L"WORKGROUP", true, server}};
  tltest::ScopedMachine b(c);

  // Seen in the network neighbourhood.
  NetResource container;
  container.remoteName = L"\\\\TOLMERA-PC";
  NetEnumHandle h;
  ASSERT_EQ(WNetOpenEnumW(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &container, h), ERROR_SUCCESS);
  std::vector<NetResource> found;
  ASSERT_EQ(WNetEnumResourceW(h, static_cast<DWORD>(-1), found), ERROR_SUCCESS);
  std::vector<std::wstring> remote;
  for (const auto& r : found) remote.push_back(r.remoteName);
  EXPECT_EQ(remote, (std::vector<std::wstring>{L"\\\\TOLMERA-PC\\Change", L"\\\\TOLMERA-PC\\Closed",
                                               L"\\\\TOLMERA-PC\\Read"}));

  // Read: reading only.
  EXPECT_EQ(Read(L"\\\\TOLMERA-PC\\Read\\f.txt"), "server data");
  EXPECT_EQ(WriteWholeFile(L"\\\\TOLMERA-PC\\Read\\new.txt", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(WriteWholeFile(L"\\\\TOLMERA-PC\\Read\\f.txt", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteFileW(L"\\\\TOLMERA-PC\\Read\\f.txt"), ERROR_ACCESS_DENIED);
  // Change: read, write, create, delete.
  EXPECT_EQ(WriteWholeFile(L"\\\\TOLMERA-PC\\Change\\new.txt", "from B"), ERROR_SUCCESS);
  EXPECT_EQ(Read(L"\\\\TOLMERA-PC\\Change\\new.txt"), "from B");
  EXPECT_EQ(DeleteFileW(L"\\\\TOLMERA-PC\\Change\\f.txt"), ERROR_SUCCESS);
  // Closed (permissions 0): not even reached.
  EXPECT_EQ(Read(L"\\\\TOLMERA-PC\\Closed\\f.txt"),
            "<" + std::to_string(ERROR_ACCESS_DENIED) + ">");
  // The default shares are for administrators only.
  EXPECT_EQ(WriteWholeFile(L"\\\\TOLMERA-PC\\C$\\Srv\\Read\\x.txt", "x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(ShareRights(L"TOLMERA-PC", L"Closed"), 0u);
  EXPECT_EQ(ShareRights(L"TOLMERA-PC", L"Read") & FILE_GENERIC_WRITE & ~SYNCHRONIZE & ~READ_CONTROL,
            0u);

  // The share calls: enumeration at level 1 only; no change on this computer nor another one.
  std::vector<SHARE_INFO_502> all;
  EXPECT_EQ(NetShareEnum(nullptr, 502, all), ERROR_ACCESS_DENIED);
  EXPECT_EQ(NetShareEnum(L"TOLMERA-PC", 1, all), NERR_Success);
  EXPECT_EQ(Names(all),
            (std::vector<std::wstring>{L"C$", L"IPC$", L"ADMIN$", L"Change", L"Closed", L"Read"}));
  ASSERT_EQ(CreateDirectoryWithParents(L"C:\\Mine"), ERROR_SUCCESS);
  EXPECT_EQ(NetShareAdd(nullptr, 502, Record(L"Mine", L"C:\\Mine", 3), &parm), ERROR_ACCESS_DENIED);
  EXPECT_EQ(NetShareDel(L"TOLMERA-PC", L"Read", 0), ERROR_ACCESS_DENIED);
  DWORD type = 0;
  EXPECT_EQ(NetShareCheck(L"\\\\TOLMERA-PC", L"C:\\Srv\\Read", &type), NERR_Success);
}
