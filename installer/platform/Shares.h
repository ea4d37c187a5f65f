// The network shares of the machine (the server service: NetShareAdd, NetShareCheck, NetShareDel,
// NetShareEnum, NetShareGetInfo) and what they mean for paths of the form \\COMPUTER\share\...
//
// Shares are kept where Windows keeps them: one REG_MULTI_SZ value per share, named by the share,
// in HKLM\SYSTEM\CurrentControlSet\Services\LanmanServer\Shares ("CATimeout=0", "CSCFlags=0",
// "MaxUses=4294967295", "Path=C:\Data", "Permissions=3", "Remark=", "ShareName=Data", "Type=0"),
// and the share's security descriptor as a REG_BINARY value of the same name in its sub-key
// "Security" (self-relative layout). The default shares (C$ and the other fixed drives, ADMIN$,
// IPC$) are not stored; the enumeration adds them as the server service does.
//
// Share security. A share created with a security descriptor keeps it. A share created without
// one gets the descriptor its permission bits (ACCESS_READ, ACCESS_WRITE, ...) stand for:
// Administrators full control and Everyone the rights of the bits (no entry for Everyone when the
// bits are 0). A path through the share (\\THIS\Data\x, or \\OTHER\Data\x for another computer of
// machine.ini that has a machine root) resolves to the shared folder on that computer; the user's
// token must be granted by the share's descriptor whatever the folder's own access list allows:
// reaching the share at all needs read access, and each change (write, create, delete, rights)
// needs the matching right of the share as well as of the file.
#pragma once

#include "platform/Win32Errors.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using BYTE = std::uint8_t;

// Share types and legacy permission bits (lmshare.h, lmaccess.h).
inline constexpr DWORD STYPE_DISKTREE = 0;
inline constexpr DWORD STYPE_PRINTQ = 1;
inline constexpr DWORD STYPE_DEVICE = 2;
inline constexpr DWORD STYPE_IPC = 3;
inline constexpr DWORD STYPE_SPECIAL = 0x80000000;
inline constexpr DWORD ACCESS_READ = 0x01;
inline constexpr DWORD ACCESS_WRITE = 0x02;
inline constexpr DWORD ACCESS_CREATE = 0x04;
inline constexpr DWORD ACCESS_EXEC = 0x08;
inline constexpr DWORD ACCESS_DELETE = 0x10;
inline constexpr DWORD ACCESS_ATRIB = 0x20;
inline constexpr DWORD ACCESS_PERM = 0x40;
inline constexpr DWORD ACCESS_ALL = 0x7F;
inline constexpr DWORD SHI_USES_UNLIMITED = 0xFFFFFFFF;
// The argument a failing NetShareAdd names in `parmError`.
inline constexpr DWORD SHARE_NETNAME_PARMNUM = 1;
inline constexpr DWORD SHARE_TYPE_PARMNUM = 3;
inline constexpr DWORD SHARE_REMARK_PARMNUM = 4;
inline constexpr DWORD SHARE_PERMISSIONS_PARMNUM = 5;
inline constexpr DWORD SHARE_PATH_PARMNUM = 8;
inline constexpr DWORD SHARE_FILE_SD_PARMNUM = 501;
inline constexpr std::size_t NNLEN = 80;          // longest share name
inline constexpr std::size_t MAXCOMMENTSZ = 256;  // longest remark

// SHARE_INFO_502 (levels 0, 1 and 2 fill the fields they have and leave the others alone).
struct SHARE_INFO_502 {
  std::wstring shi502_netname;
  DWORD shi502_type = STYPE_DISKTREE;
  std::wstring shi502_remark;
  DWORD shi502_permissions = 0;
  DWORD shi502_max_uses = SHI_USES_UNLIMITED;
  DWORD shi502_current_uses = 0;
  std::wstring shi502_path;
  std::wstring shi502_passwd;
  DWORD shi502_reserved = 0;
  // The self-relative security descriptor; empty for none.
  std::vector<BYTE> shi502_security_descriptor;
};

// `server` is nullptr, empty, or this computer ("NAME" or "\\NAME"); another computer of
// machine.ini can be read (NetShareEnum, NetShareGetInfo, NetShareCheck) when it has a machine
// root, never changed (ERROR_ACCESS_DENIED); an unknown one is NERR_InvalidComputer.
//
// NetShareAdd at level 2 or 502 (else ERROR_INVALID_LEVEL): a disk share of an existing folder
// of this computer. ERROR_ACCESS_DENIED unless the token is an enabled member of Administrators;
// ERROR_INVALID_PARAMETER with `parmError` for a bad name (empty, longer than NNLEN, or holding
// one of \ / [ ] : | < > + ; , ? * = " or a control character), another type than a disk share,
// a remark longer than MAXCOMMENTSZ or a malformed descriptor; NERR_DuplicateShare when a share
// of that name (in any case) exists; NERR_UnknownDevDir when the path is not an existing folder of
// a drive of this computer. The record keeps the folder's full path.
DWORD NetShareAdd(const wchar_t* server, DWORD level, const SHARE_INFO_502& info, DWORD* parmError);
// NERR_Success (and `*type`) when a share of this folder exists; NERR_DeviceNotShared otherwise.
// Paths compare in full form without regard to case.
DWORD NetShareCheck(const wchar_t* server, const std::wstring& device, DWORD* type);
// Deletes one share by name: ERROR_ACCESS_DENIED for a user who is no administrator,
// ERROR_INVALID_PARAMETER for an empty name, NERR_NetNameNotFound when there is none of that name.
DWORD NetShareDel(const wchar_t* server, const std::wstring& name, DWORD reserved);
// Every share at level 0, 1, 2 or 502 (levels 2 and 502 need an administrator), the default
// shares first, then the stored ones in the order of their names.
DWORD NetShareEnum(const wchar_t* server, DWORD level, std::vector<SHARE_INFO_502>& shares);
DWORD NetShareGetInfo(const wchar_t* server, const std::wstring& name, DWORD level,
                      SHARE_INFO_502& info);

// The stored shares of the machine whose root is `machineRoot` (its hive file read directly; the
// current machine's root reads the current registry). No default shares, no access check.
std::vector<SHARE_INFO_502> StoredShares(const std::string& machineRoot);
// The rights the share's descriptor grants the current token on files (FILE_* rights), for the
// share `name` of the computer `computer` ("" for none: unknown share or computer).
DWORD ShareRights(const std::wstring& computer, const std::wstring& name);
// The share check of a change through a UNC path (\\COMPUTER\share\...): ERROR_SUCCESS when the
// share grants `desired` (generic rights mapped to file rights) or the path is no UNC path,
// ERROR_ACCESS_DENIED otherwise. The file layer's security check asks it.
DWORD CheckShareAccess(const std::wstring& windowsPath, DWORD desired);
// The share's descriptor as its permission bits give it (see above), as SDDL text.
std::wstring DefaultShareSddl(DWORD permissions);
// The `net share` listing of this computer's shares.
std::wstring DescribeShares();

// Connects the share service to the file layer (UNC paths to shares); idempotent.
void InstallShareService();

}  // namespace platform
