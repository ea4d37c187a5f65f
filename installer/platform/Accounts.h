// Accounts of the machine: security identifiers (SIDs) in their binary and text forms, the
// well-known ones, the machine's and the domain's accounts with their relative IDs, and the
// look-ups Windows offers on them (LookupAccountSidW / LookupAccountNameW, GetUserNameExW), with
// the join and server information of the computer (NetGetJoinInformation, NetServerGetInfo).
//
// A SID in memory has the Windows layout (revision, sub-authority count, 6-byte identifier
// authority, 32-bit sub-authorities), so code may pass it as a PSID and walk it byte by byte.
// The account table is made from machine.ini: the local users (the machine's user, the second
// user, `[accounts] local_users`), the local groups (the built-in aliases and `[accounts]
// local_groups`), and for a computer joined to a domain the domain's users and groups. Every
// look-up ignores the case of names, as Windows does.
#pragma once

#include "platform/Win32Errors.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct MachineConfig;

using BYTE = std::uint8_t;
using PSID = void*;

struct SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
};
// The binary SID; SubAuthority has SubAuthorityCount entries.
struct SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[1];
};

inline constexpr BYTE SID_REVISION = 1;
inline constexpr BYTE SID_MAX_SUB_AUTHORITIES = 15;
inline constexpr DWORD SECURITY_MAX_SID_SIZE = 68;

inline constexpr SID_IDENTIFIER_AUTHORITY SECURITY_NULL_SID_AUTHORITY = {{0, 0, 0, 0, 0, 0}};
inline constexpr SID_IDENTIFIER_AUTHORITY SECURITY_WORLD_SID_AUTHORITY = {{0, 0, 0, 0, 0, 1}};
inline constexpr SID_IDENTIFIER_AUTHORITY SECURITY_LOCAL_SID_AUTHORITY = {{0, 0, 0, 0, 0, 2}};
inline constexpr SID_IDENTIFIER_AUTHORITY SECURITY_CREATOR_SID_AUTHORITY = {{0, 0, 0, 0, 0, 3}};
inline constexpr SID_IDENTIFIER_AUTHORITY SECURITY_NT_AUTHORITY = {{0, 0, 0, 0, 0, 5}};
inline constexpr SID_IDENTIFIER_AUTHORITY SECURITY_MANDATORY_LABEL_AUTHORITY = {
    {0, 0, 0, 0, 0, 16}};

inline constexpr DWORD SECURITY_BUILTIN_DOMAIN_RID = 32;
inline constexpr DWORD DOMAIN_ALIAS_RID_ADMINS = 544;
inline constexpr DWORD DOMAIN_ALIAS_RID_USERS = 545;
inline constexpr DWORD DOMAIN_ALIAS_RID_GUESTS = 546;
inline constexpr DWORD DOMAIN_ALIAS_RID_POWER_USERS = 547;
inline constexpr DWORD DOMAIN_USER_RID_ADMIN = 500;
inline constexpr DWORD DOMAIN_USER_RID_GUEST = 501;
inline constexpr DWORD DOMAIN_GROUP_RID_ADMINS = 512;
inline constexpr DWORD DOMAIN_GROUP_RID_USERS = 513;
inline constexpr DWORD DOMAIN_GROUP_RID_GUESTS = 514;
inline constexpr DWORD DOMAIN_GROUP_RID_COMPUTERS = 515;
inline constexpr DWORD DOMAIN_GROUP_RID_SCHEMA_ADMINS = 518;
inline constexpr DWORD DOMAIN_GROUP_RID_ENTERPRISE_ADMINS = 519;

inline constexpr DWORD SECURITY_MANDATORY_UNTRUSTED_RID = 0x0000;
inline constexpr DWORD SECURITY_MANDATORY_LOW_RID = 0x1000;
inline constexpr DWORD SECURITY_MANDATORY_MEDIUM_RID = 0x2000;
inline constexpr DWORD SECURITY_MANDATORY_HIGH_RID = 0x3000;
inline constexpr DWORD SECURITY_MANDATORY_SYSTEM_RID = 0x4000;

// CreateWellKnownSid (winnt.h values).
enum WELL_KNOWN_SID_TYPE {
  WinNullSid = 0,
  WinWorldSid = 1,
  WinLocalSid = 2,
  WinCreatorOwnerSid = 3,
  WinCreatorGroupSid = 4,
  WinNtAuthoritySid = 6,
  WinNetworkSid = 13,
  WinInteractiveSid = 17,
  WinServiceSid = 18,
  WinAuthenticatedUserSid = 19,
  WinLocalSystemSid = 22,
  WinLocalServiceSid = 23,
  WinNetworkServiceSid = 24,
  WinBuiltinDomainSid = 25,
  WinBuiltinAdministratorsSid = 26,
  WinBuiltinUsersSid = 27,
  WinBuiltinGuestsSid = 28,
  WinBuiltinPowerUsersSid = 29,
  WinAccountAdministratorSid = 38,
  WinAccountGuestSid = 39,
  WinAccountDomainAdminsSid = 41,
  WinAccountDomainUsersSid = 42,
  WinAccountDomainGuestsSid = 43,
  WinAccountComputersSid = 44,
  WinAccountSchemaAdminsSid = 47,
  WinAccountEnterpriseAdminsSid = 48,
  WinThisOrganizationSid = 60,
  WinLowLabelSid = 66,
  WinMediumLabelSid = 67,
  WinHighLabelSid = 68,
  WinSystemLabelSid = 69,
  WinConsoleLogonSid = 81,
  WinCreatorOwnerRightsSid = 71,
  WinBuiltinAnyPackageSid = 84,
};

// What kind of account a SID names (LookupAccountSidW).
enum SID_NAME_USE {
  SidTypeUser = 1,
  SidTypeGroup,
  SidTypeDomain,
  SidTypeAlias,
  SidTypeWellKnownGroup,
  SidTypeDeletedAccount,
  SidTypeInvalid,
  SidTypeUnknown,
  SidTypeComputer,
  SidTypeLabel,
};

// ---------------------------------------------------------------------------------------------
// SIDs

// A SID held by value (its bytes in the Windows layout).
class Sid {
 public:
  Sid() = default;
  Sid(const SID_IDENTIFIER_AUTHORITY& authority, std::initializer_list<DWORD> subAuthorities);
  // Copies a binary SID; an invalid one gives an empty Sid.
  static Sid FromPsid(const void* psid);
  // "S-1-5-32-544" and the SDDL abbreviations ("BA", "WD", ...; "DA", "LA" and the like need the
  // domain, `domain` is used for them). Empty result for a malformed text.
  static std::optional<Sid> Parse(std::wstring_view text, const Sid* domain = nullptr);

  bool Empty() const { return bytes_.empty(); }
  PSID Psid() const { return const_cast<BYTE*>(bytes_.data()); }
  DWORD Length() const { return static_cast<DWORD>(bytes_.size()); }
  const std::vector<BYTE>& Bytes() const { return bytes_; }
  std::wstring ToString() const;  // "S-1-5-21-1-2-3-1001"
  unsigned SubAuthorityCount() const { return bytes_.empty() ? 0 : bytes_[1]; }
  DWORD SubAuthority(unsigned i) const;
  DWORD Rid() const;  // the last sub-authority (0 for none)
  // The same SID with `rid` appended, or with the last sub-authority replaced.
  Sid WithRid(DWORD rid) const;
  Sid WithLastReplaced(DWORD rid) const;
  // The SID without its last sub-authority (the domain of an account SID).
  Sid Prefix() const;

  friend bool operator==(const Sid& a, const Sid& b) { return a.bytes_ == b.bytes_; }
  friend bool operator!=(const Sid& a, const Sid& b) { return a.bytes_ != b.bytes_; }
  friend bool operator<(const Sid& a, const Sid& b) { return a.bytes_ < b.bytes_; }

 private:
  std::vector<BYTE> bytes_;
};

// Well-known SIDs.
Sid EveryoneSid();                   // S-1-1-0
Sid BuiltinAdministratorsSid();      // S-1-5-32-544
Sid BuiltinUsersSid();               // S-1-5-32-545
Sid AuthenticatedUsersSid();         // S-1-5-11
Sid LocalSystemSid();                // S-1-5-18
Sid CreatorOwnerSid();               // S-1-3-0
Sid CreatorGroupSid();               // S-1-3-1
Sid IntegrityLabelSid(DWORD level);  // S-1-16-<level>

// The Win32 functions on binary SIDs. They return false with the last error set on failure.
bool AllocateAndInitializeSid(const SID_IDENTIFIER_AUTHORITY* authority, BYTE count, DWORD s0,
                              DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7,
                              PSID* sid);
void* FreeSid(PSID sid);  // returns nullptr
// Frees what the layer allocated for the caller (SIDs from ConvertStringSidToSidW, security
// descriptors). Returns nullptr.
void* LocalFree(void* memory);
// `domainSid` is needed for the account SIDs (WinAccount...); `*size` in bytes, in and out:
// ERROR_INSUFFICIENT_BUFFER with the size needed.
bool CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domainSid, PSID sid, DWORD* size);
bool IsValidSid(PSID sid);
DWORD GetLengthSid(PSID sid);
bool EqualSid(PSID a, PSID b);
bool CopySid(DWORD size, PSID destination, PSID source);
BYTE* GetSidSubAuthorityCount(PSID sid);
DWORD* GetSidSubAuthority(PSID sid, DWORD index);
// The text form; ERROR_INVALID_SID for a bad SID.
bool ConvertSidToStringSidW(PSID sid, std::wstring& text);
// `*sid` is freed with LocalFree; ERROR_INVALID_SID for a malformed text.
bool ConvertStringSidToSidW(std::wstring_view text, PSID* sid);

// ---------------------------------------------------------------------------------------------
// Account SIDs of the machine (ProfileList, HKEY_USERS)

// The machine SID comes from machine.ini ("[accounts] machine_sid = S-1-5-21-a-b-c") or is derived
// from the computer name; the user is RID 1001 (a local account) and the second user RID 1002.
// The domain SID ("[accounts] domain_sid") is derived from the domain name when not given. A user
// of the domain (the default on a computer joined to a domain, "[accounts] user_account =
// local | domain") has the domain SID and "[accounts] user_rid" (default 1105).
std::wstring MachineSid();
std::wstring CurrentUserSid();
// The second local user of a fresh machine (machine.ini "[accounts] second_user", default
// "User2") and its SID.
std::wstring SecondUserName();
std::wstring SecondUserSid();

// The same for a given machine configuration (the machine need not be the current one).
std::wstring MachineSidOf(const MachineConfig& config);
std::wstring DomainSidOf(const MachineConfig& config);  // "" when not joined to a domain
std::wstring UserSidOf(const MachineConfig& config);
std::wstring SecondUserNameOf(const MachineConfig& config);
std::wstring SecondUserSidOf(const MachineConfig& config);
// Is the machine's user an account of the domain?
bool UserIsDomainAccount(const MachineConfig& config);

// ---------------------------------------------------------------------------------------------
// The account table

struct Account {
  Sid sid;
  std::wstring domain;  // "BUILTIN", "NT AUTHORITY", the computer, the domain, "" (Everyone)
  std::wstring name;
  SID_NAME_USE use = SidTypeUnknown;
};

class AccountTable {
 public:
  // The accounts of a machine configuration. Throws MachineError for a malformed [accounts] entry.
  static AccountTable For(const MachineConfig& config);
  // The current machine's (made again when machine.ini changed).
  static const AccountTable& Current();

  const Account* FindSid(const Sid& sid) const;
  // "NAME", "DOMAIN\NAME" (the computer's name for local accounts, "BUILTIN", "NT AUTHORITY").
  // A bare name is looked up in this order, as Windows does: well-known, built-in, the
  // computer's accounts, the domain's.
  const Account* FindName(std::wstring_view name) const;
  const std::vector<Account>& All() const { return accounts_; }

  // The running user's account and the SIDs of the groups the user belongs to (local groups from
  // `[user] memberships`, the domain groups of a domain account), in that order.
  const Account& User() const { return accounts_[userIndex_]; }
  const std::vector<Sid>& UserGroups() const { return userGroups_; }

 private:
  std::vector<Account> accounts_;
  std::size_t userIndex_ = 0;
  std::vector<Sid> userGroups_;
};

// LookupAccountSidW / LookupAccountNameW on this computer (`systemName` null or this computer's
// name; another computer is RPC_S_SERVER_UNAVAILABLE). Sizes in characters
// (names) or bytes (the SID), including the terminator; a short buffer is
// ERROR_INSUFFICIENT_BUFFER with every size set to what is needed; an unknown account is
// ERROR_NONE_MAPPED.
bool LookupAccountSidW(const wchar_t* systemName, PSID sid, wchar_t* name, DWORD* nameChars,
                       wchar_t* domain, DWORD* domainChars, SID_NAME_USE* use);
bool LookupAccountNameW(const wchar_t* systemName, const wchar_t* accountName, PSID sid,
                        DWORD* sidBytes, wchar_t* domain, DWORD* domainChars, SID_NAME_USE* use);

// GetUserNameExW: NameSamCompatible ("DOMAIN\user", "COMPUTER\user" for a local account).
// Other formats of a local account are ERROR_NONE_MAPPED, as Windows gives them.
enum EXTENDED_NAME_FORMAT {
  NameUnknown = 0,
  NameFullyQualifiedDN = 1,
  NameSamCompatible = 2,
  NameDisplay = 3,
  NameUserPrincipal = 8
};
bool GetUserNameExW(EXTENDED_NAME_FORMAT format, wchar_t* buffer, DWORD* size);

// ---------------------------------------------------------------------------------------------
// Network management

using NET_API_STATUS = DWORD;

enum NETSETUP_JOIN_STATUS {
  NetSetupUnknownStatus = 0,
  NetSetupUnjoined,
  NetSetupWorkgroupName,
  NetSetupDomainName,
};
// NetGetJoinInformation of this computer (`server` null or this computer's name): the workgroup
// or domain and the status from machine.ini ([machine] join).
NET_API_STATUS NetGetJoinInformation(const wchar_t* server, std::wstring& name,
                                     NETSETUP_JOIN_STATUS& status);

inline constexpr DWORD SV_TYPE_WORKSTATION = 0x00000001;
inline constexpr DWORD SV_TYPE_SERVER = 0x00000002;
inline constexpr DWORD SV_TYPE_DOMAIN_CTRL = 0x00000008;
inline constexpr DWORD SV_TYPE_DOMAIN_BAKCTRL = 0x00000010;
inline constexpr DWORD SV_TYPE_NT = 0x00001000;
inline constexpr DWORD SV_TYPE_SERVER_NT = 0x00008000;
inline constexpr DWORD SV_TYPE_POTENTIAL_BROWSER = 0x00010000;
inline constexpr DWORD PLATFORM_ID_NT = 500;

struct SERVER_INFO_101 {
  DWORD sv101_platform_id = PLATFORM_ID_NT;
  std::wstring sv101_name;
  DWORD sv101_version_major = 0;
  DWORD sv101_version_minor = 0;
  DWORD sv101_type = 0;
  std::wstring sv101_comment;
};
// NetServerGetInfo at level 101 (others are ERROR_INVALID_LEVEL). The type bits follow
// machine.ini: a workstation, a server ([machine] server = yes, or a server product type) with
// SV_TYPE_SERVER_NT, a domain controller with SV_TYPE_DOMAIN_CTRL; "[accounts] server_type" gives
// the bits as a number, or "fail" to make the call fail with ERROR_ACCESS_DENIED.
NET_API_STATUS NetServerGetInfo(const wchar_t* server, DWORD level, SERVER_INFO_101& info);

}  // namespace platform
