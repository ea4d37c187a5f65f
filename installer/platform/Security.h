// Security of the machine: the user's access token, security descriptors with their access
// lists, and the access checks that the file and registry operations make.
//
// Tokens come from machine.ini: the user and the groups of the account table (Accounts.h) with
// their attributes, the privileges of a standard user or of an administrator, the elevation type
// and, under UAC, the linked token (the limited token has Administrators as deny-only and medium
// integrity; the full one high integrity). GetTokenInformation fills the Windows structures, so
// code walks TOKEN_GROUPS and the others as it would on Windows.
//
// Security descriptors are handed out in the self-relative binary layout of Windows
// (SECURITY_DESCRIPTOR_RELATIVE, ACL, ACE_HEADER and the ACE bodies), freed with LocalFree, and
// kept as SDDL text: in the xattr "user.NTSD" of files and folders and beside each key in the
// hive. An object without a descriptor of its own has the one it inherits from the nearest
// ancestor that has one. A descriptor that cannot be read is reported (debug output, naming the
// object) and grants nothing; it is never taken as "no access list". An ACE of a type that the
// checks do not know is kept and skipped, as Windows skips it.
#pragma once

#include "platform/Accounts.h"
#include "platform/Files.h"
#include "platform/Registry.h"
#include "platform/Win32Errors.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct MachineConfig;

using WORD = std::uint16_t;
using ACCESS_MASK = DWORD;
using HANDLE = void*;
using PSECURITY_DESCRIPTOR = void*;
using SECURITY_INFORMATION = DWORD;

// Standard and generic rights (winnt.h).
inline constexpr ACCESS_MASK READ_CONTROL = 0x00020000;
inline constexpr ACCESS_MASK WRITE_DAC = 0x00040000;
inline constexpr ACCESS_MASK WRITE_OWNER = 0x00080000;
inline constexpr ACCESS_MASK SYNCHRONIZE = 0x00100000;
inline constexpr ACCESS_MASK STANDARD_RIGHTS_REQUIRED = 0x000F0000;
inline constexpr ACCESS_MASK ACCESS_SYSTEM_SECURITY = 0x01000000;
inline constexpr ACCESS_MASK MAXIMUM_ALLOWED = 0x02000000;

// File rights.
inline constexpr ACCESS_MASK FILE_LIST_DIRECTORY = 0x0001;
inline constexpr ACCESS_MASK FILE_ADD_FILE = 0x0002;
inline constexpr ACCESS_MASK FILE_ADD_SUBDIRECTORY = 0x0004;
inline constexpr ACCESS_MASK FILE_READ_EA = 0x0008;
inline constexpr ACCESS_MASK FILE_WRITE_EA = 0x0010;
inline constexpr ACCESS_MASK FILE_EXECUTE = 0x0020;
inline constexpr ACCESS_MASK FILE_DELETE_CHILD = 0x0040;
inline constexpr ACCESS_MASK FILE_ALL_ACCESS = 0x001F01FF;
inline constexpr ACCESS_MASK FILE_GENERIC_READ = 0x00120089;
inline constexpr ACCESS_MASK FILE_GENERIC_WRITE = 0x00120116;
inline constexpr ACCESS_MASK FILE_GENERIC_EXECUTE = 0x001200A0;

// How generic rights map to the rights of an object type.
struct GENERIC_MAPPING {
  ACCESS_MASK GenericRead, GenericWrite, GenericExecute, GenericAll;
};
inline constexpr GENERIC_MAPPING kFileMapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE,
                                                 FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
inline constexpr GENERIC_MAPPING kKeyMapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
// MapGenericMask.
ACCESS_MASK MapGenericMask(ACCESS_MASK mask, const GENERIC_MAPPING& mapping);

// ---------------------------------------------------------------------------------------------
// Tokens

struct LUID {
  DWORD LowPart;
  std::int32_t HighPart;
};
struct LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
};
struct SID_AND_ATTRIBUTES {
  PSID Sid;
  DWORD Attributes;
};
struct TOKEN_USER {
  SID_AND_ATTRIBUTES User;
};
struct TOKEN_GROUPS {
  DWORD GroupCount;
  SID_AND_ATTRIBUTES Groups[1];
};
struct TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
};
struct TOKEN_OWNER {
  PSID Owner;
};
struct TOKEN_PRIMARY_GROUP {
  PSID PrimaryGroup;
};
struct TOKEN_ELEVATION {
  DWORD TokenIsElevated;
};
struct TOKEN_LINKED_TOKEN {
  HANDLE LinkedToken;
};
struct TOKEN_MANDATORY_LABEL {
  SID_AND_ATTRIBUTES Label;
};
struct TOKEN_GROUPS_AND_PRIVILEGES {
  DWORD SidCount;
  DWORD SidLength;
  SID_AND_ATTRIBUTES* Sids;  // the user first, then the groups
  DWORD RestrictedSidCount;
  DWORD RestrictedSidLength;
  SID_AND_ATTRIBUTES* RestrictedSids;
  DWORD PrivilegeCount;
  DWORD PrivilegeLength;
  LUID_AND_ATTRIBUTES* Privileges;
  LUID AuthenticationId;
};
struct PRIVILEGE_SET {
  DWORD PrivilegeCount;
  DWORD Control;
  LUID_AND_ATTRIBUTES Privilege[1];
};

enum TOKEN_INFORMATION_CLASS {
  TokenUser = 1,
  TokenGroups = 2,
  TokenPrivileges = 3,
  TokenOwner = 4,
  TokenPrimaryGroup = 5,
  TokenType = 8,
  TokenImpersonationLevel = 9,
  TokenGroupsAndPrivileges = 13,
  TokenElevationType = 18,
  TokenLinkedToken = 19,
  TokenElevation = 20,
  TokenIntegrityLevel = 25,
};
enum TOKEN_ELEVATION_TYPE {
  TokenElevationTypeDefault = 1,
  TokenElevationTypeFull = 2,
  TokenElevationTypeLimited = 3,
};
enum TOKEN_TYPE { TokenPrimary = 1, TokenImpersonation = 2 };
enum SECURITY_IMPERSONATION_LEVEL {
  SecurityAnonymous,
  SecurityIdentification,
  SecurityImpersonation,
  SecurityDelegation,
};

inline constexpr DWORD SE_GROUP_MANDATORY = 0x00000001;
inline constexpr DWORD SE_GROUP_ENABLED_BY_DEFAULT = 0x00000002;
inline constexpr DWORD SE_GROUP_ENABLED = 0x00000004;
inline constexpr DWORD SE_GROUP_OWNER = 0x00000008;
inline constexpr DWORD SE_GROUP_USE_FOR_DENY_ONLY = 0x00000010;
inline constexpr DWORD SE_GROUP_INTEGRITY = 0x00000020;
inline constexpr DWORD SE_GROUP_INTEGRITY_ENABLED = 0x00000040;
inline constexpr DWORD SE_GROUP_RESOURCE = 0x20000000;
inline constexpr DWORD SE_GROUP_LOGON_ID = 0xC0000000;

inline constexpr DWORD SE_PRIVILEGE_ENABLED_BY_DEFAULT = 0x00000001;
inline constexpr DWORD SE_PRIVILEGE_ENABLED = 0x00000002;
inline constexpr DWORD SE_PRIVILEGE_REMOVED = 0x00000004;
inline constexpr DWORD PRIVILEGE_SET_ALL_NECESSARY = 1;

inline constexpr DWORD TOKEN_DUPLICATE = 0x0002;
inline constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
inline constexpr DWORD TOKEN_QUERY = 0x0008;
inline constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
inline constexpr DWORD TOKEN_ALL_ACCESS = 0x000F01FF;

// One group of a token.
struct TokenGroup {
  Sid sid;
  DWORD attributes = 0;
};
// One privilege of a token ("SeShutdownPrivilege") with its SE_PRIVILEGE_* attributes.
struct TokenPrivilege {
  std::wstring name;
  DWORD attributes = 0;
};

// An access token.
struct Token {
  Sid user;
  std::vector<TokenGroup> groups;  // the logon SID and the integrity label among them
  std::vector<TokenPrivilege> privileges;
  Sid owner;         // the default owner of new objects
  Sid primaryGroup;  // the default group of new objects
  TOKEN_TYPE type = TokenPrimary;
  SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
  bool hasElevation = true;  // Windows Vista and later know elevation and integrity levels
  TOKEN_ELEVATION_TYPE elevationType = TokenElevationTypeDefault;
  bool elevated = false;
  DWORD integrity = SECURITY_MANDATORY_HIGH_RID;
  LUID logonId{0x3E7A1, 0};
  std::shared_ptr<const Token> linked;  // under UAC: the other half of the split token

  // Is `sid` the user or an enabled group (deny-only groups count only with `forDeny`)?
  bool Matches(const Sid& sid, bool forDeny) const;
  bool IsMember(const Sid& sid) const { return Matches(sid, false); }
  const TokenPrivilege* Privilege(std::wstring_view name) const;
};

// The token that the machine's user runs `Setup` with, and its linked token under UAC:
// machine.ini [user] memberships, elevated, integrity (default: high for a full administrator
// token, medium otherwise); [uac] enabled; Windows before Vista ([os] major < 6) has neither
// elevation nor integrity.
Token MakeUserToken(const MachineConfig& config);
// The current machine's user token (made again when machine.ini changed).
std::shared_ptr<const Token> CurrentToken();

// Pseudo handles of the emulated process and thread.
HANDLE GetCurrentProcess();
HANDLE GetCurrentThread();
// OpenProcessToken: a handle to the user token. OpenThreadToken: ERROR_NO_TOKEN (the thread does
// not impersonate). Handles are closed with CloseHandle.
bool OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
bool OpenThreadToken(HANDLE thread, DWORD access, bool openAsSelf, HANDLE* token);
bool CloseHandle(HANDLE handle);
// GetTokenInformation with the Windows layouts; ERROR_INSUFFICIENT_BUFFER and `*returned` the size
// needed for a short buffer; the elevation and integrity classes are ERROR_INVALID_PARAMETER
// before Windows Vista; TokenLinkedToken of a token without one is ERROR_NO_SUCH_LOGON_SESSION.
// The linked token handed out is an identification token (close it with CloseHandle).
bool GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, void* buffer,
                         DWORD length, DWORD* returned);
// The token behind a handle (nullptr for a bad handle).
std::shared_ptr<const Token> TokenOf(HANDLE token);
// DuplicateToken: an impersonation token of the given level.
bool DuplicateToken(HANDLE token, SECURITY_IMPERSONATION_LEVEL level, HANDLE* duplicate);
// CheckTokenMembership: `token` null is the process token; otherwise it must be an impersonation
// token (ERROR_NO_IMPERSONATION_TOKEN).
bool CheckTokenMembership(HANDLE token, PSID sid, bool* isMember);
// PrivilegeCheck: whether the privileges of `set` are enabled (all, with
// PRIVILEGE_SET_ALL_NECESSARY, else any).
bool PrivilegeCheck(HANDLE token, PRIVILEGE_SET* set, bool* result);
// AdjustTokenPrivileges of the user token (enable or disable); ERROR_NOT_ALL_ASSIGNED when the
// token lacks one.
bool AdjustTokenPrivileges(HANDLE token, bool disableAll, const TOKEN_PRIVILEGES* state);
// Privilege names, their LUIDs and display names ("Shut down the system").
bool LookupPrivilegeValueW(const wchar_t* systemName, const wchar_t* name, LUID* luid);
bool LookupPrivilegeNameW(const wchar_t* systemName, const LUID* luid, wchar_t* name, DWORD* chars);
bool LookupPrivilegeDisplayNameW(const wchar_t* systemName, const wchar_t* name,
                                 wchar_t* displayName, DWORD* chars, DWORD* languageId);

// ---------------------------------------------------------------------------------------------
// Security descriptors and access lists (binary layout)

struct ACL {
  BYTE AclRevision;
  BYTE Sbz1;
  WORD AclSize;
  WORD AceCount;
  WORD Sbz2;
};
struct ACE_HEADER {
  BYTE AceType;
  BYTE AceFlags;
  WORD AceSize;
};
struct ACCESS_ALLOWED_ACE {
  ACE_HEADER Header;
  ACCESS_MASK Mask;
  DWORD SidStart;
};
using ACCESS_DENIED_ACE = ACCESS_ALLOWED_ACE;
using SYSTEM_AUDIT_ACE = ACCESS_ALLOWED_ACE;
using SYSTEM_MANDATORY_LABEL_ACE = ACCESS_ALLOWED_ACE;
struct SECURITY_DESCRIPTOR_RELATIVE {
  BYTE Revision;
  BYTE Sbz1;
  WORD Control;
  DWORD Owner;  // offsets from the start; 0 for none
  DWORD Group;
  DWORD Sacl;
  DWORD Dacl;
};
struct ACL_SIZE_INFORMATION {
  DWORD AceCount;
  DWORD AclBytesInUse;
  DWORD AclBytesFree;
};
struct ACL_REVISION_INFORMATION {
  DWORD AclRevision;
};
enum ACL_INFORMATION_CLASS { AclRevisionInformation = 1, AclSizeInformation = 2 };

inline constexpr BYTE ACL_REVISION = 2;
inline constexpr BYTE ACL_REVISION_DS = 4;
inline constexpr BYTE SECURITY_DESCRIPTOR_REVISION = 1;
inline constexpr DWORD SDDL_REVISION_1 = 1;

inline constexpr BYTE ACCESS_ALLOWED_ACE_TYPE = 0x0;
inline constexpr BYTE ACCESS_DENIED_ACE_TYPE = 0x1;
inline constexpr BYTE SYSTEM_AUDIT_ACE_TYPE = 0x2;
inline constexpr BYTE SYSTEM_ALARM_ACE_TYPE = 0x3;
inline constexpr BYTE ACCESS_ALLOWED_OBJECT_ACE_TYPE = 0x5;
inline constexpr BYTE ACCESS_DENIED_OBJECT_ACE_TYPE = 0x6;
inline constexpr BYTE ACCESS_ALLOWED_CALLBACK_ACE_TYPE = 0x9;
inline constexpr BYTE SYSTEM_MANDATORY_LABEL_ACE_TYPE = 0x11;

inline constexpr BYTE OBJECT_INHERIT_ACE = 0x01;
inline constexpr BYTE CONTAINER_INHERIT_ACE = 0x02;
inline constexpr BYTE NO_PROPAGATE_INHERIT_ACE = 0x04;
inline constexpr BYTE INHERIT_ONLY_ACE = 0x08;
inline constexpr BYTE INHERITED_ACE = 0x10;
inline constexpr BYTE SUCCESSFUL_ACCESS_ACE_FLAG = 0x40;
inline constexpr BYTE FAILED_ACCESS_ACE_FLAG = 0x80;
inline constexpr DWORD SUB_CONTAINERS_AND_OBJECTS_INHERIT = 0x3;

inline constexpr DWORD SYSTEM_MANDATORY_LABEL_NO_WRITE_UP = 0x1;

inline constexpr WORD SE_OWNER_DEFAULTED = 0x0001;
inline constexpr WORD SE_GROUP_DEFAULTED = 0x0002;
inline constexpr WORD SE_DACL_PRESENT = 0x0004;
inline constexpr WORD SE_DACL_DEFAULTED = 0x0008;
inline constexpr WORD SE_SACL_PRESENT = 0x0010;
inline constexpr WORD SE_DACL_AUTO_INHERIT_REQ = 0x0100;
inline constexpr WORD SE_SACL_AUTO_INHERIT_REQ = 0x0200;
inline constexpr WORD SE_DACL_AUTO_INHERITED = 0x0400;
inline constexpr WORD SE_SACL_AUTO_INHERITED = 0x0800;
inline constexpr WORD SE_DACL_PROTECTED = 0x1000;
inline constexpr WORD SE_SACL_PROTECTED = 0x2000;
inline constexpr WORD SE_SELF_RELATIVE = 0x8000;

inline constexpr SECURITY_INFORMATION OWNER_SECURITY_INFORMATION = 0x00000001;
inline constexpr SECURITY_INFORMATION GROUP_SECURITY_INFORMATION = 0x00000002;
inline constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x00000004;
inline constexpr SECURITY_INFORMATION SACL_SECURITY_INFORMATION = 0x00000008;
inline constexpr SECURITY_INFORMATION LABEL_SECURITY_INFORMATION = 0x00000010;
inline constexpr SECURITY_INFORMATION PROTECTED_DACL_SECURITY_INFORMATION = 0x80000000;
inline constexpr SECURITY_INFORMATION UNPROTECTED_DACL_SECURITY_INFORMATION = 0x20000000;

// One access control entry. Entries of a type the checks do not know keep their bytes in `raw`.
struct Ace {
  BYTE type = ACCESS_ALLOWED_ACE_TYPE;
  BYTE flags = 0;
  ACCESS_MASK mask = 0;
  Sid sid;
  std::wstring extra;  // the SDDL fields of an object or callback entry that are not kept above
};

// A security descriptor held by value. `dacl` empty (nullopt) is a NULL DACL: full access for
// everyone; an empty list grants nothing.
struct SecurityDescriptor {
  std::optional<Sid> owner;
  std::optional<Sid> group;
  std::optional<std::vector<Ace>> dacl;
  std::optional<std::vector<Ace>> sacl;
  WORD control = 0;  // SE_DACL_PROTECTED, SE_DACL_AUTO_INHERITED, ...

  // SDDL text ("O:BAG:SYD:PAI(A;OICI;FA;;;BA)..."); `error` receives what is wrong with it.
  static std::optional<SecurityDescriptor> FromSddl(std::wstring_view sddl,
                                                    std::wstring* error = nullptr);
  std::wstring ToSddl(SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION |
                                                   GROUP_SECURITY_INFORMATION |
                                                   DACL_SECURITY_INFORMATION |
                                                   SACL_SECURITY_INFORMATION) const;
  // The self-relative binary form, and back (nullopt for a malformed one).
  std::vector<BYTE> ToBinary() const;
  static std::optional<SecurityDescriptor> FromBinary(const void* sd);
};

// The rights `token` gets from `sd` (generic rights of the entries mapped with `mapping`): the
// list's rights, READ_CONTROL and WRITE_DAC for the owner, WRITE_OWNER with the take-ownership
// privilege enabled, and no write rights for a token below the object's integrity label (medium
// when the object has none). A NULL DACL grants everything.
ACCESS_MASK GrantedAccess(const SecurityDescriptor& sd, const Token& token,
                          const GENERIC_MAPPING& mapping);
// Are all rights of `desired` (generic ones mapped; MAXIMUM_ALLOWED: any right) granted?
bool AccessCheck(const SecurityDescriptor& sd, const Token& token, ACCESS_MASK desired,
                 const GENERIC_MAPPING& mapping);
// The rights an access list grants to a set of SIDs (deny-only ones count only for deny entries).
ACCESS_MASK RightsFromAcl(const std::vector<Ace>* dacl, const Token& token);

// The descriptor a new object gets below a parent with `parent` (inheritable entries become
// inherited ones, CREATOR OWNER and CREATOR GROUP become the creator's, generic rights are
// mapped), owned by the token's default owner.
SecurityDescriptor InheritDescriptor(const SecurityDescriptor& parent, bool isContainer,
                                     const Token& creator, const GENERIC_MAPPING& mapping);
// The descriptor of an existing child after its parent's changed: its own (explicit) entries
// kept, the inherited ones replaced; a protected child is left as it is.
SecurityDescriptor ReinheritDescriptor(const SecurityDescriptor& child,
                                       const SecurityDescriptor& parent, bool isContainer,
                                       const GENERIC_MAPPING& mapping);

// The Win32 functions on binary descriptors and lists.
bool InitializeAcl(ACL* acl, DWORD length, DWORD revision);
bool IsValidAcl(const ACL* acl);
bool GetAclInformation(const ACL* acl, void* info, DWORD length, ACL_INFORMATION_CLASS infoClass);
bool GetAce(const ACL* acl, DWORD index, void** ace);
// Inserts entries (a run of ACEs, `length` bytes) at `startIndex` (MAXDWORD: at the end).
bool AddAce(ACL* acl, DWORD revision, DWORD startIndex, const void* aceList, DWORD length);
bool DeleteAce(ACL* acl, DWORD index);
bool AddAccessAllowedAce(ACL* acl, DWORD revision, ACCESS_MASK mask, PSID sid);
bool AddAccessAllowedAceEx(ACL* acl, DWORD revision, DWORD flags, ACCESS_MASK mask, PSID sid);
bool AddAccessDeniedAce(ACL* acl, DWORD revision, ACCESS_MASK mask, PSID sid);
bool AddAccessDeniedAceEx(ACL* acl, DWORD revision, DWORD flags, ACCESS_MASK mask, PSID sid);
bool IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR sd);
DWORD GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR sd);
bool GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR sd, WORD* control, DWORD* revision);
bool GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, bool* present, ACL** dacl, bool* defaulted);
bool GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR sd, PSID* owner, bool* defaulted);
bool GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR sd, PSID* group, bool* defaulted);
// A binary descriptor from parts (any may be null; `dacl` null is a NULL DACL), freed with
// LocalFree.
PSECURITY_DESCRIPTOR MakeSecurityDescriptor(PSID owner, PSID group, const ACL* dacl, WORD control);
// SDDL both ways. The descriptor is freed with LocalFree.
bool ConvertStringSecurityDescriptorToSecurityDescriptorW(std::wstring_view sddl, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* sd, DWORD* size);
bool ConvertSecurityDescriptorToStringSecurityDescriptorW(PSECURITY_DESCRIPTOR sd, DWORD revision,
                                                          SECURITY_INFORMATION parts,
                                                          std::wstring& sddl);

// ---------------------------------------------------------------------------------------------
// Security of named objects

enum SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT = 1, SE_REGISTRY_KEY = 4 };

// GetNamedSecurityInfoW: files and folders by Windows path, keys as "MACHINE\SOFTWARE\X",
// "CURRENT_USER\...", "USERS\...", "CLASSES_ROOT\..." (the prefix of the full root names is also
// taken). The requested parts point into `*sd` (free it with LocalFree). Returns the status:
// ERROR_FILE_NOT_FOUND, ERROR_INVALID_SECURITY_DESCR for a stored descriptor that cannot be read.
DWORD GetNamedSecurityInfoW(const wchar_t* name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                            PSID* owner, PSID* group, ACL** dacl, ACL** sacl,
                            PSECURITY_DESCRIPTOR* sd);
// GetSecurityInfo of an open registry key.
DWORD GetSecurityInfo(HKEY key, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                      PSID* group, ACL** dacl, ACL** sacl, PSECURITY_DESCRIPTOR* sd);
// SetNamedSecurityInfoW: sets the given parts (WRITE_DAC / WRITE_OWNER needed, else
// ERROR_ACCESS_DENIED) and passes the inheritable entries on to the children below (files and
// folders without following links, sub-keys), except protected ones.
DWORD SetNamedSecurityInfoW(const wchar_t* name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                            PSID owner, PSID group, const ACL* dacl, const ACL* sacl);

// The descriptor of a named object as a value (the inherited one when it has none of its own).
DWORD GetObjectSecurity(std::wstring_view name, SE_OBJECT_TYPE type, SecurityDescriptor& sd);

// A read-modify-write of the DACL of one file or folder, its path resolved once: `edit` gets the
// descriptor as GetNamedSecurityInfoW(DACL_SECURITY_INFORMATION) hands it out (the block and its
// DACL, valid during the call) and sets what to write and the new list (`acl`, which stays
// valid until the function returns). That list is written as SetNamedSecurityInfoW(path,
// SE_FILE_OBJECT, what, nullptr, nullptr, acl, nullptr) would write it; a status other than
// ERROR_SUCCESS from `edit` leaves the object as it is and is returned. `stage` tells which step
// gave the status: the read (the status GetNamedSecurityInfoW gives), `edit`, or the write (the
// status SetNamedSecurityInfoW gives).
enum class DaclEditStage { read, edit, write };
using FileDaclEdit = std::function<DWORD(PSECURITY_DESCRIPTOR sd, ACL* dacl,
                                         SECURITY_INFORMATION& what, const ACL*& acl)>;
DWORD EditFileDacl(std::wstring_view path, const FileDaclEdit& edit, DaclEditStage& stage);

// Trustees and explicit access (SetEntriesInAclW, GetEffectiveRightsFromAclW).
enum TRUSTEE_FORM { TRUSTEE_IS_SID = 0, TRUSTEE_IS_NAME = 1 };
enum TRUSTEE_TYPE {
  TRUSTEE_IS_UNKNOWN = 0,
  TRUSTEE_IS_USER,
  TRUSTEE_IS_GROUP,
  TRUSTEE_IS_DOMAIN,
  TRUSTEE_IS_ALIAS,
  TRUSTEE_IS_WELL_KNOWN_GROUP,
};
enum MULTIPLE_TRUSTEE_OPERATION { NO_MULTIPLE_TRUSTEE = 0, TRUSTEE_IS_IMPERSONATE = 1 };
struct TRUSTEE_W {
  TRUSTEE_W* pMultipleTrustee = nullptr;
  MULTIPLE_TRUSTEE_OPERATION MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
  TRUSTEE_FORM TrusteeForm = TRUSTEE_IS_SID;
  TRUSTEE_TYPE TrusteeType = TRUSTEE_IS_UNKNOWN;
  const wchar_t* ptstrName = nullptr;  // a name, or a PSID with TRUSTEE_IS_SID
};
enum ACCESS_MODE {
  NOT_USED_ACCESS = 0,
  GRANT_ACCESS,
  SET_ACCESS,
  DENY_ACCESS,
  REVOKE_ACCESS,
};
struct EXPLICIT_ACCESS_W {
  ACCESS_MASK grfAccessPermissions = 0;
  ACCESS_MODE grfAccessMode = NOT_USED_ACCESS;
  DWORD grfInheritance = 0;
  TRUSTEE_W Trustee;
};
// A new list (freed with LocalFree) from `old` and the entries: explicit deny entries first, then
// explicit allow entries, then the inherited ones, as Windows orders them. A trustee name that is
// not an account is ERROR_NONE_MAPPED. Returns the status.
DWORD SetEntriesInAclW(DWORD count, const EXPLICIT_ACCESS_W* entries, const ACL* old, ACL** acl);
// The rights the list grants the trustee ("CURRENT_USER" is the user's token with its groups; an
// account name or SID is that account with the groups the account table knows). Returns the
// status.
DWORD GetEffectiveRightsFromAclW(const ACL* acl, const TRUSTEE_W* trustee, ACCESS_MASK* rights);

// ---------------------------------------------------------------------------------------------
// Machine-level services

// Access check of the current token on a named object (the file and registry layers call it):
// ERROR_SUCCESS or ERROR_ACCESS_DENIED.
DWORD CheckObjectAccess(std::wstring_view name, SE_OBJECT_TYPE type, ACCESS_MASK desired);

// The access lists of a fresh Windows 10 (or XP) machine for the drive root, Windows, Program
// Files, ProgramData, Users and the profiles, and the registry roots, then machine.ini's
// [security] entries ("C:\Program Files = <SDDL>", "HKLM\SOFTWARE\X = <SDDL>"). Throws
// MachineError for a malformed entry. Called when a machine is made.
void ApplyDefaultSecurity(const class Machine& machine);

// Installs the registry's inheritance and access-check hooks (done when a machine is made or
// opened; idempotent).
void InstallSecurityService();

// The readable listing of a descriptor ("Owner: BUILTIN\Administrators", one line per entry).
std::wstring DescribeSecurity(const SecurityDescriptor& sd, SE_OBJECT_TYPE type);
// The `whoami /all`-like account of a token.
std::wstring DescribeToken(const Token& token);

}  // namespace platform
