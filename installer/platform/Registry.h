// The emulated registry of the machine: HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER (the
// current user's hive in HKEY_USERS) and HKEY_CLASSES_ROOT (HKEY_LOCAL_MACHINE\SOFTWARE\Classes).
//
// The functions carry the names, arguments and status codes of the Win32 registry API, so code
// written against that API reads the same here. Differences that follow from the host:
//   - wchar_t is 4 bytes here. Data of string types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) are
//     passed and returned as wchar_t arrays, so byte sizes are counted in sizeof(wchar_t) units
//     ((wcslen + 1) * sizeof(wchar_t) for a REG_SZ with its terminator, as code computes them).
//     A string value whose size is not a whole number of wchar_t is refused
//     (ERROR_INVALID_PARAMETER) instead of being stored torn.
//   - Key and value names may not contain NUL, CR or LF (ERROR_INVALID_PARAMETER): the hive
//     files could not keep them.
//
// Hives are kept in the machine root as text files in the registry editor's format:
//   <root>/registry/HKLM.reg          HKEY_LOCAL_MACHINE
//   <root>/registry/HKU/<name>.reg    HKEY_USERS\<name> (a user's SID, or .DEFAULT)
// Every change is written at once (read-modify-write under an flock lock on "<file>.lock",
// written to "<file>.tmp" and renamed over the hive), or once at the end of a RegistryBatch
// for all the changes inside it, and every call first reloads a hive that
// another process replaced, so several processes share one registry and lose nothing. A hive
// file that cannot be read makes every call on that hive fail with ERROR_REGISTRY_CORRUPT; the
// file is left in place (a copy is kept as "<file>.corrupt-N") and never replaced by an empty
// hive; HiveErrorText names the line.
//
// WOW64: when the machine's OS is 64-bit and the process 32-bit (MachineConfig::IsWow64), keys
// under HKLM\SOFTWARE are redirected to HKLM\SOFTWARE\WOW6432Node unless Windows shares them
// (the list of shared keys that Windows documents), as are the COM keys under
// SOFTWARE\Classes (CLSID, Interface, DirectShow, Media Type, MediaFoundation) in both HKLM and
// the user hives. KEY_WOW64_64KEY and KEY_WOW64_32KEY choose a view for one call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/RegistryTree.h"
#include "platform/Accounts.h"
#include "platform/Win32Errors.h"

namespace platform {

class Machine;
struct MachineConfig;

using LSTATUS = std::int32_t;
using REGSAM = DWORD;
using BYTE = std::uint8_t;

struct HKEY__;
using HKEY = HKEY__*;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000u});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001u});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002u});
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(std::uintptr_t{0x80000003u});

// Access rights of keys (winnt.h values).
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM KEY_WOW64_RES = 0x0300;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_EXECUTE = 0x20019;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0x0;
inline constexpr DWORD REG_OPTION_VOLATILE = 0x1;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// ---------------------------------------------------------------------------------------------
// The Win32 functions

LSTATUS RegOpenKeyExW(HKEY key, const wchar_t* subKey, DWORD options, REGSAM sam, HKEY* result);
// `disposition` receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY. Missing intermediate
// keys are created. `className` and `security` are accepted and ignored.
LSTATUS RegCreateKeyExW(HKEY key, const wchar_t* subKey, DWORD reserved, wchar_t* className,
                        DWORD options, REGSAM sam, const void* security, HKEY* result,
                        DWORD* disposition);
LSTATUS RegCloseKey(HKEY key);
// Sub-key `index` (ordered by upper-cased name); ERROR_NO_MORE_ITEMS past the end;
// ERROR_MORE_DATA when `nameChars` (in characters, including the terminator) is too small.
// On success `nameChars` is the length without the terminator. `className`, `classChars` and
// `lastWriteTime` may be null; keys keep no times, so a given FILETIME (8 bytes) is set to 0.
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* reserved,
                      wchar_t* className, DWORD* classChars, void* lastWriteTime);
// Value `index` in creation order; ERROR_NO_MORE_ITEMS past the end; ERROR_MORE_DATA when the
// name or the data buffer is too small (`dataBytes` then holds the size needed).
LSTATUS RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* dataBytes);
// ERROR_FILE_NOT_FOUND for a missing value; with `data` null only the size is returned; with a
// buffer that is too small ERROR_MORE_DATA and the size needed.
LSTATUS RegQueryValueExW(HKEY key, const wchar_t* valueName, DWORD* reserved, DWORD* type,
                         BYTE* data, DWORD* dataBytes);
LSTATUS RegSetValueExW(HKEY key, const wchar_t* valueName, DWORD reserved, DWORD type,
                       const BYTE* data, DWORD dataBytes);
LSTATUS RegDeleteValueW(HKEY key, const wchar_t* valueName);
// Deletes a key without sub-keys; ERROR_ACCESS_DENIED (5) when it has some, ERROR_FILE_NOT_FOUND
// when it is missing.
LSTATUS RegDeleteKeyW(HKEY key, const wchar_t* subKey);
LSTATUS RegDeleteKeyExW(HKEY key, const wchar_t* subKey, REGSAM sam, DWORD reserved);
// Deletes a key with everything below it; with `subKey` null or empty, the contents of `key`
// (its values and sub-keys), leaving the key itself.
LSTATUS RegDeleteTreeW(HKEY key, const wchar_t* subKey);
// Any pointer may be null. Lengths are in characters without the terminator; the largest data
// size is in bytes.
LSTATUS RegQueryInfoKeyW(HKEY key, wchar_t* className, DWORD* classChars, DWORD* reserved,
                         DWORD* subKeys, DWORD* maxSubKeyChars, DWORD* maxClassChars, DWORD* values,
                         DWORD* maxValueNameChars, DWORD* maxValueBytes, DWORD* securityBytes,
                         void* lastWriteTime);
// Whether the key is reachable; ERROR_KEY_DELETED when another call or process deleted it.
LSTATUS RegFlushKey(HKEY key);

// The key's security descriptor in SDDL form (empty when the key has none of its own).
LSTATUS RegGetKeySecuritySddl(HKEY key, std::wstring& sddl);
LSTATUS RegSetKeySecuritySddl(HKEY key, const std::wstring& sddl);
// The descriptor that applies to the key: its own, or the one it inherits (empty: none at all).
LSTATUS RegGetKeyEffectiveSddl(HKEY key, std::wstring& sddl);

// ---------------------------------------------------------------------------------------------
// RAII handle with typed access

class RegKey {
 public:
  RegKey() = default;
  explicit RegKey(HKEY key) : key_(key) {}
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  RegKey(RegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
  RegKey& operator=(RegKey&& other) noexcept;
  ~RegKey() { Close(); }

  LSTATUS Open(HKEY parent, const std::wstring& subKey, REGSAM sam = KEY_READ);
  LSTATUS Create(HKEY parent, const std::wstring& subKey, REGSAM sam = KEY_READ | KEY_WRITE,
                 DWORD* disposition = nullptr);
  void Close();
  HKEY Get() const { return key_; }
  HKEY Release() { return std::exchange(key_, nullptr); }
  explicit operator bool() const { return key_ != nullptr; }

  // Typed reads: ERROR_FILE_NOT_FOUND when missing, ERROR_INVALID_DATA for another type.
  LSTATUS QueryString(const std::wstring& name, std::wstring& value, DWORD* type = nullptr) const;
  LSTATUS QueryDword(const std::wstring& name, DWORD& value) const;
  LSTATUS QueryQword(const std::wstring& name, std::uint64_t& value) const;
  LSTATUS QueryMultiString(const std::wstring& name, std::vector<std::wstring>& value) const;
  LSTATUS QueryBinary(const std::wstring& name, std::vector<BYTE>& value,
                      DWORD* type = nullptr) const;

  LSTATUS SetString(const std::wstring& name, const std::wstring& value, DWORD type = REG_SZ);
  LSTATUS SetDword(const std::wstring& name, DWORD value);
  LSTATUS SetQword(const std::wstring& name, std::uint64_t value);
  LSTATUS SetMultiString(const std::wstring& name, const std::vector<std::wstring>& value);
  LSTATUS SetBinary(const std::wstring& name, const std::vector<BYTE>& value,
                    DWORD type = REG_BINARY);
  LSTATUS DeleteValue(const std::wstring& name);
  LSTATUS DeleteSubKey(const std::wstring& name);
  LSTATUS DeleteTree(const std::wstring& name);

  std::vector<std::wstring> SubKeyNames() const;
  std::vector<reg::Value> ValueList() const;

 private:
  HKEY key_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Batches

// A scope in which the changes of the calling thread to the registry are written together: the
// first change to a hive takes its file lock and loads it, later calls work on the loaded hive,
// and the end of the scope writes each changed hive once (temporary file and rename), then lets
// the locks go. A step of N values thus costs one load and one atomic save instead of N. Other
// processes keep reading the hive as it was until the scope ends and never see part of the
// batch; their writes wait for the lock. So a batch must not wait for another process that
// writes the registry. Calls of this thread inside the scope see the batch's changes.
// Scopes nest; the outermost one writes. A save that fails drops the batch's changes of that
// hive (the next call reloads the file) and is the result of Commit.
class RegistryBatch {
 public:
  RegistryBatch();
  ~RegistryBatch();  // commits when Commit was not called
  RegistryBatch(const RegistryBatch&) = delete;
  RegistryBatch& operator=(const RegistryBatch&) = delete;
  // Ends the scope now: ERROR_SUCCESS, or the first failure of a save (ERROR_REGISTRY_IO_FAILED).
  LSTATUS Commit();

 private:
  bool open_ = true;
};

// ---------------------------------------------------------------------------------------------
// Machine-level services

// Path forms: "HKLM\SOFTWARE\X", "HKEY_LOCAL_MACHINE\SOFTWARE\X", HKCU, HKCR, HKU.
// Splits a full key path into its predefined root and the rest; false for an unknown root.
bool SplitRootKey(const std::wstring& path, HKEY& root, std::wstring& subKey);

// The hive files of the machine registry with their text names
// ("HKEY_LOCAL_MACHINE", "HKEY_USERS\S-1-5-18"), host file paths and state.
struct HiveInfo {
  std::wstring rootPath;
  std::string file;
  DWORD status = ERROR_SUCCESS;  // ERROR_REGISTRY_CORRUPT when the file cannot be read
  std::wstring errorText;        // "<file>, line N: <what>" when corrupt
};
std::vector<HiveInfo> ListHives();

// The text of the last load failure of the hive that holds `key` ("" when it loaded).
std::wstring HiveErrorText(HKEY key);

// A full key path with its sub-tree as registry editor text (UTF-16LE with BOM); the view flags
// as in RegOpenKeyExW. Used by `tlmachine reg export`.
LSTATUS ExportKey(HKEY root, const std::wstring& subKey, REGSAM view, std::string& text);

// Fills the registry of a fresh machine (the keys of a Windows 10 machine, or Windows XP when
// machine.ini says so, that installers read). Called by Machine::Init from the machine's start-up
// list; also run when a machine without a registry folder opens its registry for the first time.
void CreateFreshRegistry(const Machine& machine);
// Sets the stored descriptor of a key of `machine` (which need not be the current one), made with
// its parents when missing: `hive` empty is HKEY_LOCAL_MACHINE, else the user hive of that name;
// no access check (used when a machine is made).
LSTATUS SetStoredKeySecurity(const Machine& machine, const std::wstring& hive,
                             const std::wstring& subKey, const std::wstring& sddl);

// Key security, supplied by the security service (none by default: every access is granted and
// new keys get no descriptor of their own).
struct RegistrySecurityHooks {
  // Inheritance from the descriptor of a parent (`parentSddl`) to a key below it; `keyPath` is the
  // full physical name ("HKEY_LOCAL_MACHINE\SOFTWARE\X"). With `store` false: the descriptor the
  // key inherits; with `store` true (a key being created): the descriptor the new key must keep
  // as its own, or empty when the inherited one (computed again when asked) is the same.
  std::function<std::wstring(const std::wstring& parentSddl, const std::wstring& keyPath,
                             bool store)>
      inherit;
  // The access check of an open or create: the descriptor that applies to the key, the key's full
  // physical name and the access asked for (KEY_CREATE_SUB_KEY on the deepest existing key when
  // keys are created); ERROR_SUCCESS or ERROR_ACCESS_DENIED.
  std::function<DWORD(const std::wstring& sddl, const std::wstring& keyPath, REGSAM desired)> check;
  // Who asks: a number that changes whenever `check` or `inherit` may answer the same question
  // otherwise (the caller's token changed). With it, opening a key again whose hive kept its keys
  // and descriptors reuses the access granted last time; without it every open asks `check`.
  std::function<std::uint64_t()> identity;
};
void SetRegistrySecurityHooks(RegistrySecurityHooks hooks);

// Forgets cached hives and open state of the process (after a test switched machines; hives
// reload by themselves when their files change).
void ResetRegistryCache();

}  // namespace platform
