#include "platform/Registry.h"
#include "platform/Security.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <mutex>
#include <utility>
#include <unordered_map>

#include "platform/Machine.h"
#include "platform/RegistryHive.h"
#include "platform/Text.h"

namespace platform {

using reg::Fold;
using reg::Key;

namespace {

// ---------------------------------------------------------------------------------------------
// Handles

enum class Area { Machine, User, UsersRoot };

struct KeyHandle {
  std::shared_ptr<reg::Store> store;
  Area area = Area::Machine;
  std::wstring userHive;           // Area::User
  std::vector<std::wstring> path;  // physical path inside the hive
  REGSAM sam = KEY_ALL_ACCESS;
  bool os64 = true;
  bool process32 = true;
};

// Open handles: the handle is the address of its state, which never changes after the open; a
// call holds the state it uses, so a handle closed meanwhile does not pull it away.
using HandleState = std::shared_ptr<const KeyHandle>;
std::mutex gHandlesMutex;
std::unordered_map<const KeyHandle*, HandleState>& LiveHandles() {
  static auto* handles = new std::unordered_map<const KeyHandle*, HandleState>();
  return *handles;
}

bool IsPredefined(HKEY key) {
  return key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE ||
         key == HKEY_USERS;
}

std::shared_ptr<reg::Store> StoreOf(const Machine& machine);

// The state of a predefined key on the current machine.
KeyHandle PredefinedState(HKEY key, const Machine& machine) {
  KeyHandle out;
  out.store = StoreOf(machine);
  out.os64 = machine.Config().os.is64Bit;
  out.process32 = machine.Config().process32Bit;
  out.sam = KEY_ALL_ACCESS;
  if (key == HKEY_LOCAL_MACHINE) {
    out.area = Area::Machine;
  } else if (key == HKEY_CLASSES_ROOT) {
    out.area = Area::Machine;
    out.path = {L"SOFTWARE", L"Classes"};
  } else if (key == HKEY_USERS) {
    out.area = Area::UsersRoot;
  } else {
    out.area = Area::User;
    out.userHive = CurrentUserSid();
  }
  return out;
}

// The state behind a handle. The states of the predefined keys are made once per machine
// configuration (every call on HKEY_CURRENT_USER asks for one). What is kept here lives as long as
// the process: registry calls made while it ends (a restart run at exit) still find it.
DWORD Lookup(HKEY key, HandleState& out) {
  if (IsPredefined(key)) {
    struct Kept {
      std::uint64_t revision = 0, resets = 0;
      HandleState state;
    };
    static auto* mutex = new std::mutex;
    static auto* kept = new std::array<Kept, 4>;
    const std::size_t index = key == HKEY_CLASSES_ROOT    ? 0
                              : key == HKEY_CURRENT_USER  ? 1
                              : key == HKEY_LOCAL_MACHINE ? 2
                                                          : 3;
    Machine& machine = Machine::Current();
    const std::uint64_t resets = reg::Store::Resets();
    {
      std::lock_guard<std::mutex> lock(*mutex);
      const Kept& slot = (*kept)[index];
      if (slot.state && slot.revision == machine.Revision() && slot.resets == resets) {
        out = slot.state;
        return ERROR_SUCCESS;
      }
    }
    // Made outside the lock: a machine's first call fills its registry through these calls.
    out = std::make_shared<const KeyHandle>(PredefinedState(key, machine));
    std::lock_guard<std::mutex> lock(*mutex);
    (*kept)[index] = Kept{machine.Revision(), resets, out};
    return ERROR_SUCCESS;
  }
  std::lock_guard<std::mutex> lock(gHandlesMutex);
  auto it = LiveHandles().find(reinterpret_cast<const KeyHandle*>(key));
  if (!key || it == LiveHandles().end()) return ERROR_INVALID_HANDLE;
  out = it->second;
  return ERROR_SUCCESS;
}

HKEY NewHandle(KeyHandle state) {
  auto handle = std::make_shared<const KeyHandle>(std::move(state));
  const KeyHandle* address = handle.get();
  std::lock_guard<std::mutex> lock(gHandlesMutex);
  LiveHandles().emplace(address, std::move(handle));
  return reinterpret_cast<HKEY>(const_cast<KeyHandle*>(address));
}

// ---------------------------------------------------------------------------------------------
// Names and paths

bool BadNameChar(wchar_t c) { return c == L'\0' || c == L'\r' || c == L'\n'; }

DWORD CheckValueName(const std::wstring& name) {
  if (name.size() > kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
  if (std::any_of(name.begin(), name.end(), BadNameChar)) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

// Splits a sub-key path, appending its parts to `parts`. A leading "\" is ERROR_BAD_PATHNAME; a
// trailing one is ignored. On failure `parts` is as it was.
DWORD SplitSubKey(const std::wstring& subKey, std::vector<std::wstring>& parts) {
  if (subKey.empty()) return ERROR_SUCCESS;
  if (subKey[0] == L'\\') return ERROR_BAD_PATHNAME;
  const std::size_t before = parts.size();
  std::size_t start = 0;
  while (start < subKey.size()) {
    std::size_t end = subKey.find(L'\\', start);
    if (end == std::wstring::npos) end = subKey.size();
    DWORD bad = ERROR_SUCCESS;
    if (end == start)
      bad = ERROR_BAD_PATHNAME;  // "a\\b"
    else if (end - start > kMaxKeyNameChars ||
             std::any_of(subKey.begin() + static_cast<std::ptrdiff_t>(start),
                         subKey.begin() + static_cast<std::ptrdiff_t>(end), BadNameChar))
      bad = ERROR_INVALID_PARAMETER;
    if (bad != ERROR_SUCCESS) {
      parts.resize(before);
      return bad;
    }
    parts.emplace_back(subKey, start, end - start);
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

// Keys below HKLM\SOFTWARE that the 32-bit and 64-bit views share (as Windows 7 and later list
// them in "Registry Keys Affected by WOW64").
const std::vector<std::vector<std::wstring>>& SharedSoftwareKeys() {
  static const std::vector<std::vector<std::wstring>> keys = [] {
    const wchar_t* list[] = {
        L"Classes",
        L"Clients",
        L"Microsoft\\COM3",
        L"Microsoft\\Cryptography\\Calais\\Current",
        L"Microsoft\\Cryptography\\Calais\\Readers",
        L"Microsoft\\Cryptography\\Services",
        L"Microsoft\\CTF\\SystemShared",
        L"Microsoft\\CTF\\TIP",
        L"Microsoft\\DFS",
        L"Microsoft\\Driver Signing",
        L"Microsoft\\EnterpriseCertificates",
        L"Microsoft\\EventSystem",
        L"Microsoft\\MSMQ",
        L"Microsoft\\Non-Driver Signing",
        L"Microsoft\\Notepad\\DefaultFonts",
        L"Microsoft\\OLE",
        L"Microsoft\\RAS",
        L"Microsoft\\RPC",
        L"Microsoft\\Shared Tools\\MSInfo",
        L"Microsoft\\SystemCertificates",
        L"Microsoft\\TermServLicensing",
        L"Microsoft\\Transaction Server",
        L"Microsoft\\Windows\\CurrentVersion\\App Paths",
        L"Microsoft\\Windows\\CurrentVersion\\Control Panel\\Cursors\\Schemes",
        L"Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers",
        L"Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons",
        L"Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap",
        L"Microsoft\\Windows\\CurrentVersion\\Group Policy",
        L"Microsoft\\Windows\\CurrentVersion\\Policies",
        L"Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
        L"Microsoft\\Windows\\CurrentVersion\\Setup",
        L"Microsoft\\Windows\\CurrentVersion\\Telephony",
        L"Microsoft\\Windows NT\\CurrentVersion\\CCF",
        L"Microsoft\\Windows NT\\CurrentVersion\\DiskDiagnostics",
        L"Microsoft\\Windows NT\\CurrentVersion\\NetworkCards",
        L"Microsoft\\Windows NT\\CurrentVersion\\Perflib",
        L"Microsoft\\Windows NT\\CurrentVersion\\Ports",
        L"Microsoft\\Windows NT\\CurrentVersion\\Print",
        L"Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
        L"Microsoft\\Windows NT\\CurrentVersion\\Time Zones",
        L"Policies",
        L"RegisteredApplications",
    };
    std::vector<std::vector<std::wstring>> out;
    for (const wchar_t* entry : list) {
      std::vector<std::wstring> parts;
      SplitSubKey(entry, parts);
      for (auto& p : parts) p = Fold(p);
      out.push_back(std::move(parts));
    }
    return out;
  }();
  return keys;
}

bool IsComClassesKey(const std::wstring& name) {
  return EqualsNoCase(name, L"CLSID") || EqualsNoCase(name, L"Interface") ||
         EqualsNoCase(name, L"DirectShow") || EqualsNoCase(name, L"Media Type") ||
         EqualsNoCase(name, L"MediaFoundation");
}

// Applies WOW64 redirection to a physical path of HKLM or a user hive, in place.
void Redirect(Area area, std::vector<std::wstring>& path, bool view32) {
  if (!view32 || path.empty() || !EqualsNoCase(path[0], L"SOFTWARE")) return;
  // SOFTWARE\Classes\{CLSID,...} -> SOFTWARE\Classes\WOW6432Node\..., in HKLM and user hives.
  if (path.size() >= 3 && EqualsNoCase(path[1], L"CLASSES") && IsComClassesKey(path[2])) {
    path.insert(path.begin() + 2, L"WOW6432Node");
    return;
  }
  if (area != Area::Machine) return;
  if (path.size() >= 2 &&
      (EqualsNoCase(path[1], L"WOW6432NODE") || EqualsNoCase(path[1], L"CLASSES")))
    return;
  if (path.size() >= 2) {
    for (const auto& shared : SharedSoftwareKeys()) {
      if (path.size() - 1 >= shared.size() &&
          std::equal(shared.begin(), shared.end(), path.begin() + 1,
                     [](const std::wstring& folded, const std::wstring& part) {
                       return EqualsNoCase(part, folded);
                     }))
        return;
    }
  }
  path.insert(path.begin() + 1, L"WOW6432Node");
}

bool View32(const KeyHandle& h, REGSAM sam) {
  if (!h.os64) return false;
  if (sam & KEY_WOW64_64KEY) return false;
  if (sam & KEY_WOW64_32KEY) return true;
  return h.process32;
}

const Key* Find(const Key& root, const std::vector<std::wstring>& path) {
  const Key* key = &root;
  for (const auto& part : path) {
    key = key->Child(part);
    if (!key) return nullptr;
  }
  return key;
}

Key* FindMutable(Key& root, const std::vector<std::wstring>& path) {
  return const_cast<Key*>(Find(root, path));
}

// The hive that a handle (or a path below HKEY_USERS) lives in.
reg::Hive* HiveOf(const KeyHandle& h) {
  if (h.area == Area::Machine) return &h.store->Machine();
  if (h.area == Area::User) return &h.store->User(h.userHive);
  return nullptr;
}

bool UserHiveExists(reg::Store& store, const std::wstring& name) {
  if (reg::NamesEqual(name, CurrentUserSid())) return true;
  for (const auto& existing : store.UserHiveNames())
    if (reg::NamesEqual(existing, name)) return true;
  return false;
}

// Resolves `subKey` below the handle `base` into a target handle state (not yet checked for
// existence). ERROR_FILE_NOT_FOUND for a missing user hive.
DWORD Resolve(const KeyHandle& base, const std::wstring& subKey, REGSAM sam, KeyHandle& target) {
  target = base;
  target.sam = sam & ~KEY_WOW64_RES;
  if (base.area != Area::UsersRoot) {
    if (DWORD status = SplitSubKey(subKey, target.path); status != ERROR_SUCCESS) return status;
  } else {
    std::vector<std::wstring> parts;
    if (DWORD status = SplitSubKey(subKey, parts); status != ERROR_SUCCESS) return status;
    if (parts.empty()) return ERROR_SUCCESS;
    if (parts[0] == L"." || parts[0] == L".." || parts[0].find(L'/') != std::wstring::npos)
      return ERROR_FILE_NOT_FOUND;
    if (!UserHiveExists(*base.store, parts[0])) return ERROR_FILE_NOT_FOUND;
    target.area = Area::User;
    target.userHive = parts[0];
    target.path.assign(std::make_move_iterator(parts.begin() + 1),
                       std::make_move_iterator(parts.end()));
  }
  if (target.path.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  Redirect(target.area, target.path, View32(base, sam));
  if (target.path.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

std::shared_ptr<reg::Store> StoreOf(const Machine& machine) {
  auto store = reg::Store::For(machine.Root());
  // A machine made before its registry existed gets the fresh contents on first use (checked once
  // per store, that is per process and machine root).
  if (!store->freshChecked.load(std::memory_order_acquire)) {
    static auto* freshMutex = new std::mutex;
    std::lock_guard<std::mutex> lock(*freshMutex);
    if (!store->freshChecked.load(std::memory_order_relaxed)) {
      struct stat st {};
      if (::stat(store->RegistryDir().c_str(), &st) != 0) CreateFreshRegistry(machine);
      store->freshChecked.store(true, std::memory_order_release);
    }
  }
  return store;
}

// The hooks in force, shared with the calls that use them (a call keeps its snapshot, so a
// change of the hooks never meets a call half-way; copying the functions on every call would cost
// more than the call).
std::mutex gSecurityMutex;
std::shared_ptr<const RegistrySecurityHooks>& SecurityHooksSlot() {
  static auto* hooks =
      new std::shared_ptr<const RegistrySecurityHooks>(std::make_shared<RegistrySecurityHooks>());
  return *hooks;
}
std::shared_ptr<const RegistrySecurityHooks> SecurityHooks() {
  std::lock_guard<std::mutex> lock(gSecurityMutex);
  return SecurityHooksSlot();
}

std::wstring HiveRootName(const KeyHandle& h) {
  return h.area == Area::Machine ? L"HKEY_LOCAL_MACHINE" : L"HKEY_USERS\\" + h.userHive;
}

// The descriptor that applies to the key at the first `depth` components of `path`: its own, or
// the one it inherits from the nearest ancestor that has one (`name` is the hive root's name;
// without an inheritance hook the ancestor's descriptor itself).
std::wstring EffectiveSddl(const Key& root, const std::vector<std::wstring>& path,
                           std::size_t depth, const std::wstring& rootName,
                           const RegistrySecurityHooks& hooks) {
  std::wstring sddl = root.sddl;
  std::wstring name = rootName;
  const Key* k = &root;
  for (std::size_t i = 0; i < depth && k; ++i) {
    k = k->Child(path[i]);
    name += L"\\" + path[i];
    if (k && !k->sddl.empty())
      sddl = k->sddl;
    else if (hooks.inherit && !sddl.empty())
      sddl = hooks.inherit(sddl, name, false);
  }
  return sddl;
}

// The last accesses granted to opens: a key opened again and again (a step writes
// each of its values through a handle of its own) is checked once while its hive keeps its keys
// and descriptors, the hooks stay and the caller is the same. Only grants are kept: a refusal is
// asked again, so that it is reported each time.
class GrantMemo {
 public:
  struct Question {
    const reg::Hive* hive = nullptr;
    std::uint64_t stamp = 0;
    const RegistrySecurityHooks* hooks = nullptr;
    std::uint64_t identity = 0;
    REGSAM wanted = 0;
    bool operator==(const Question& o) const {
      return hive == o.hive && stamp == o.stamp && hooks == o.hooks && identity == o.identity &&
             wanted == o.wanted;
    }
  };
  static bool Granted(const Question& question, const std::vector<std::wstring>& path) {
    Memo& memo = Get();
    std::lock_guard<std::mutex> lock(memo.mutex);
    for (const Entry& e : memo.entries)
      if (e.hooks && e.question == question && e.path == path) return true;
    return false;
  }
  static void Remember(const Question& question, const std::vector<std::wstring>& path,
                       std::shared_ptr<const RegistrySecurityHooks> hooks) {
    Memo& memo = Get();
    std::shared_ptr<const RegistrySecurityHooks> replaced;  // let go outside the lock
    std::lock_guard<std::mutex> lock(memo.mutex);
    Entry& e = memo.entries[memo.next++ % memo.entries.size()];
    e.question = question;
    e.path = path;
    replaced = std::exchange(e.hooks, std::move(hooks));  // held: its address names them alone
  }

 private:
  struct Entry {
    Question question;
    std::vector<std::wstring> path;
    std::shared_ptr<const RegistrySecurityHooks> hooks;
  };
  struct Memo {
    std::mutex mutex;
    std::array<Entry, 4> entries;
    std::size_t next = 0;
  };
  static Memo& Get() {
    static auto* memo = new Memo;  // lives as long as the process, as the hooks do
    return *memo;
  }
};

LSTATUS OpenOrCreate(HKEY key, const std::wstring& subKey, REGSAM sam, bool create, HKEY* result,
                     DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  HandleState baseState;
  DWORD status = Lookup(key, baseState);
  if (status != ERROR_SUCCESS) return status;
  const KeyHandle& base = *baseState;
  if (create && !IsPredefined(key) && !(base.sam & KEY_CREATE_SUB_KEY) && !subKey.empty())
    return ERROR_ACCESS_DENIED;
  KeyHandle target;
  status = Resolve(base, subKey, sam, target);
  if (status != ERROR_SUCCESS) return status;
  reg::Hive* hive = HiveOf(target);
  if (!hive) {  // HKEY_USERS itself
    if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
    *result = NewHandle(target);
    return ERROR_SUCCESS;
  }
  const std::vector<std::wstring> basePath =
      base.area == target.area ? base.path : std::vector<std::wstring>{};
  DWORD disp = REG_OPENED_EXISTING_KEY;
  const auto hooks = SecurityHooks();
  const RegistrySecurityHooks& security = *hooks;
  const REGSAM wanted = sam & ~KEY_WOW64_RES;
  auto checkOpen = [&](const Key& root) -> DWORD {
    if (!security.check || target.path.empty()) return ERROR_SUCCESS;
    GrantMemo::Question question{hive, hive->Stamp(), hooks.get(),
                                 security.identity ? security.identity() : 0, wanted};
    if (security.identity && GrantMemo::Granted(question, target.path)) return ERROR_SUCCESS;
    std::wstring name = HiveRootName(target);
    for (const auto& part : target.path) name += L"\\" + part;
    const DWORD granted = security.check(
        EffectiveSddl(root, target.path, target.path.size(), HiveRootName(target), security), name,
        wanted);
    if (granted == ERROR_SUCCESS && security.identity)
      GrantMemo::Remember(question, target.path, hooks);
    return granted;
  };
  if (!create) {
    status = hive->Read([&](const Key& root) -> DWORD {
      if (!IsPredefined(key) && base.area != Area::UsersRoot && !Find(root, base.path))
        return ERROR_KEY_DELETED;
      if (!Find(root, target.path)) return ERROR_FILE_NOT_FOUND;
      return checkOpen(root);
    });
  } else {
    status = hive->Write([&](Key& root, bool& changed) -> DWORD {
      if (!IsPredefined(key) && base.area != Area::UsersRoot && !Find(root, base.path))
        return ERROR_KEY_DELETED;
      if (Find(root, target.path)) return checkOpen(root);
      // The deepest existing key must let us create below it.
      Key* k = &root;
      std::size_t depth = 0;
      for (; depth < target.path.size(); ++depth) {
        Key* child = k->Child(target.path[depth]);
        if (!child) break;
        k = child;
      }
      std::wstring inherited =
          EffectiveSddl(root, target.path, depth, HiveRootName(target), security);
      std::wstring name = HiveRootName(target);
      for (std::size_t i = 0; i < depth; ++i) name += L"\\" + target.path[i];
      if (security.check) {
        DWORD s = security.check(inherited, name, KEY_CREATE_SUB_KEY);
        if (s != ERROR_SUCCESS) return s;
      }
      for (; depth < target.path.size(); ++depth) {
        k = k->AddChild(target.path[depth]);
        name += L"\\" + target.path[depth];
        if (security.inherit) {
          k->sddl = security.inherit(inherited, name, true);
          if (!k->sddl.empty())
            inherited = k->sddl;
          else if (!inherited.empty())
            inherited = security.inherit(inherited, name, false);
        }
      }
      changed = true;
      disp = REG_CREATED_NEW_KEY;
      return ERROR_SUCCESS;
    });
  }
  if (status != ERROR_SUCCESS) return status;
  if (disposition) *disposition = disp;
  *result = NewHandle(target);
  return ERROR_SUCCESS;
}

// Runs a read on the key behind a handle.
template <class F>
DWORD ReadKey(HKEY key, REGSAM need, F&& f) {
  HandleState state;
  DWORD status = Lookup(key, state);
  if (status != ERROR_SUCCESS) return status;
  const KeyHandle& h = *state;
  if (need && (h.sam & need) != need) return ERROR_ACCESS_DENIED;
  reg::Hive* hive = HiveOf(h);
  if (!hive) {
    // HKEY_USERS: its sub-keys are the user hives; it holds no values.
    Key users;
    for (const auto& name : h.store->UserHiveNames()) users.AddChild(name);
    return f(static_cast<const Key&>(users));
  }
  return hive->Read([&](const Key& root) -> DWORD {
    const Key* k = Find(root, h.path);
    if (!k) return ERROR_KEY_DELETED;
    return f(*k);
  });
}

template <class F>
DWORD WriteKey(HKEY key, REGSAM need, F&& f, reg::Touches touches = reg::Touches::Keys) {
  HandleState state;
  DWORD status = Lookup(key, state);
  if (status != ERROR_SUCCESS) return status;
  const KeyHandle& h = *state;
  if (need && (h.sam & need) != need) return ERROR_ACCESS_DENIED;
  reg::Hive* hive = HiveOf(h);
  if (!hive) return ERROR_ACCESS_DENIED;
  return hive->Write(
      [&](Key& root, bool& changed) -> DWORD {
        Key* k = FindMutable(root, h.path);
        if (!k) return ERROR_KEY_DELETED;
        return f(*k, changed);
      },
      touches);
}

std::wstring FromCString(const wchar_t* s) { return s ? std::wstring(s) : std::wstring(); }

DWORD CopyName(const std::wstring& name, wchar_t* out, DWORD* chars) {
  if (!chars) return ERROR_INVALID_PARAMETER;
  if (!out || *chars < name.size() + 1) {
    *chars = static_cast<DWORD>(name.size());
    return out ? ERROR_MORE_DATA : ERROR_INVALID_PARAMETER;
  }
  std::memcpy(out, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
  *chars = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

DWORD CopyData(const reg::Value& v, DWORD* type, BYTE* data, DWORD* bytes) {
  if (type) *type = v.type;
  if (!bytes) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  DWORD need = static_cast<DWORD>(v.data.size());
  if (!data) {
    *bytes = need;
    return ERROR_SUCCESS;
  }
  if (*bytes < need) {
    *bytes = need;
    return ERROR_MORE_DATA;
  }
  if (need) std::memcpy(data, v.data.data(), need);
  *bytes = need;
  return ERROR_SUCCESS;
}

DWORD DeleteKeyImpl(HKEY key, const std::wstring& subKey, REGSAM sam, bool tree) {
  HandleState baseState;
  DWORD status = Lookup(key, baseState);
  if (status != ERROR_SUCCESS) return status;
  const KeyHandle& base = *baseState;
  KeyHandle target;
  status = Resolve(base, subKey, sam, target);
  if (status != ERROR_SUCCESS) return status;
  reg::Hive* hive = HiveOf(target);
  if (!hive || target.path.empty()) return ERROR_ACCESS_DENIED;  // a hive's root stays
  return hive->Write([&](Key& root, bool& changed) -> DWORD {
    if (!IsPredefined(key) && base.area == target.area && !Find(root, base.path))
      return ERROR_KEY_DELETED;
    std::vector<std::wstring> parentPath(target.path.begin(), target.path.end() - 1);
    Key* parent = FindMutable(root, parentPath);
    Key* victim = parent ? parent->Child(target.path.back()) : nullptr;
    if (!victim) return ERROR_FILE_NOT_FOUND;
    if (!tree && victim->ChildCount() != 0) return ERROR_ACCESS_DENIED;
    parent->RemoveChild(target.path.back());
    changed = true;
    return ERROR_SUCCESS;
  });
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Win32 functions

LSTATUS RegOpenKeyExW(HKEY key, const wchar_t* subKey, DWORD options, REGSAM sam, HKEY* result) {
  return static_cast<LSTATUS>(OpenOrCreate(key, FromCString(subKey), sam, false, result, nullptr));
}

LSTATUS RegCreateKeyExW(HKEY key, const wchar_t* subKey, DWORD reserved, wchar_t* className,
                        DWORD options, REGSAM sam, const void* security, HKEY* result,
                        DWORD* disposition) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return static_cast<LSTATUS>(OpenOrCreate(key, subKey, sam, true, result, disposition));
}

LSTATUS RegCloseKey(HKEY key) {
  if (IsPredefined(key)) return ERROR_SUCCESS;
  HandleState closed;  // let go outside the lock
  {
    std::lock_guard<std::mutex> lock(gHandlesMutex);
    auto it = LiveHandles().find(reinterpret_cast<const KeyHandle*>(key));
    if (!key || it == LiveHandles().end()) return ERROR_INVALID_HANDLE;
    closed = std::move(it->second);
    LiveHandles().erase(it);
  }
  return ERROR_SUCCESS;
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* reserved,
                      wchar_t* className, DWORD* classChars, void* lastWriteTime) {
  if (lastWriteTime) std::memset(lastWriteTime, 0, sizeof(std::uint64_t));  // times are not kept
  if (classChars) {
    if (className && *classChars) className[0] = L'\0';
    *classChars = 0;
  }
  return static_cast<LSTATUS>(ReadKey(key, KEY_ENUMERATE_SUB_KEYS, [&](const Key& k) -> DWORD {
    if (index >= k.ChildCount()) return ERROR_NO_MORE_ITEMS;
    auto it = k.Children().begin();
    std::advance(it, index);
    return CopyName(it->second->Name(), name, nameChars);
  }));
}

LSTATUS RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* dataBytes) {
  return static_cast<LSTATUS>(ReadKey(key, KEY_QUERY_VALUE, [&](const Key& k) -> DWORD {
    if (index >= k.Values().size()) return ERROR_NO_MORE_ITEMS;
    const reg::Value& v = k.Values()[index];
    DWORD status = CopyName(v.name, name, nameChars);
    if (status != ERROR_SUCCESS) {
      if (dataBytes) *dataBytes = static_cast<DWORD>(v.data.size());
      return status;
    }
    return CopyData(v, type, data, dataBytes);
  }));
}

LSTATUS RegQueryValueExW(HKEY key, const wchar_t* valueName, DWORD* reserved, DWORD* type,
                         BYTE* data, DWORD* dataBytes) {
  std::wstring name = FromCString(valueName);
  return static_cast<LSTATUS>(ReadKey(key, KEY_QUERY_VALUE, [&](const Key& k) -> DWORD {
    const reg::Value* v = k.FindValue(name);
    if (!v) return ERROR_FILE_NOT_FOUND;
    return CopyData(*v, type, data, dataBytes);
  }));
}

namespace {
DWORD SetValueImpl(HKEY key, const std::wstring& name, DWORD type, std::vector<std::uint8_t> data) {
  DWORD status = CheckValueName(name);
  if (status != ERROR_SUCCESS) return status;
  if (IsStringType(type) && data.size() % sizeof(wchar_t) != 0) return ERROR_INVALID_PARAMETER;
  return WriteKey(
      key, KEY_SET_VALUE,
      [&](Key& k, bool& changed) -> DWORD {
        k.SetValue(name, type, std::move(data));
        changed = true;
        return ERROR_SUCCESS;
      },
      reg::Touches::ValuesOnly);
}
}  // namespace

LSTATUS RegSetValueExW(HKEY key, const wchar_t* valueName, DWORD reserved, DWORD type,
                       const BYTE* data, DWORD dataBytes) {
  if (!data && dataBytes) return ERROR_INVALID_PARAMETER;
  std::vector<std::uint8_t> bytes(data, data + (data ? dataBytes : 0));
  return static_cast<LSTATUS>(SetValueImpl(key, FromCString(valueName), type, std::move(bytes)));
}

LSTATUS RegDeleteValueW(HKEY key, const wchar_t* valueName) {
  std::wstring name = FromCString(valueName);
  return static_cast<LSTATUS>(WriteKey(
      key, KEY_SET_VALUE,
      [&](Key& k, bool& changed) -> DWORD {
        if (!k.RemoveValue(name)) return ERROR_FILE_NOT_FOUND;
        changed = true;
        return ERROR_SUCCESS;
      },
      reg::Touches::ValuesOnly));
}

LSTATUS RegDeleteKeyW(HKEY key, const wchar_t* subKey) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return static_cast<LSTATUS>(DeleteKeyImpl(key, subKey, 0, false));
}

LSTATUS RegDeleteKeyExW(HKEY key, const wchar_t* subKey, REGSAM sam, DWORD reserved) {
  if (!subKey) return ERROR_INVALID_PARAMETER;
  return static_cast<LSTATUS>(DeleteKeyImpl(key, subKey, sam, false));
}

LSTATUS RegDeleteTreeW(HKEY key, const wchar_t* subKey) {
  std::wstring sub = FromCString(subKey);
  if (!sub.empty()) return static_cast<LSTATUS>(DeleteKeyImpl(key, sub, 0, true));
  return static_cast<LSTATUS>(WriteKey(key, 0, [&](Key& k, bool& changed) -> DWORD {
    std::vector<std::wstring> children;
    for (const auto& entry : k.Children()) children.push_back(entry.second->Name());
    for (const auto& c : children) k.RemoveChild(c);
    std::vector<std::wstring> values;
    for (const auto& v : k.Values()) values.push_back(v.name);
    for (const auto& v : values) k.RemoveValue(v);
    changed = !children.empty() || !values.empty();
    return ERROR_SUCCESS;
  }));
}

LSTATUS RegQueryInfoKeyW(HKEY key, wchar_t* className, DWORD* classChars, DWORD* reserved,
                         DWORD* subKeys, DWORD* maxSubKeyChars, DWORD* maxClassChars, DWORD* values,
                         DWORD* maxValueNameChars, DWORD* maxValueBytes, DWORD* securityBytes,
                         void* lastWriteTime) {
  if (lastWriteTime) std::memset(lastWriteTime, 0, sizeof(std::uint64_t));  // times are not kept
  if (classChars) {
    if (className && *classChars) className[0] = L'\0';
    *classChars = 0;
  }
  return static_cast<LSTATUS>(ReadKey(key, 0, [&](const Key& k) -> DWORD {
    std::size_t maxSub = 0, maxName = 0, maxData = 0;
    for (const auto& entry : k.Children()) maxSub = std::max(maxSub, entry.second->Name().size());
    for (const auto& v : k.Values()) {
      maxName = std::max(maxName, v.name.size());
      maxData = std::max(maxData, v.data.size());
    }
    if (subKeys) *subKeys = static_cast<DWORD>(k.ChildCount());
    if (maxSubKeyChars) *maxSubKeyChars = static_cast<DWORD>(maxSub);
    if (maxClassChars) *maxClassChars = 0;
    if (values) *values = static_cast<DWORD>(k.Values().size());
    if (maxValueNameChars) *maxValueNameChars = static_cast<DWORD>(maxName);
    if (maxValueBytes) *maxValueBytes = static_cast<DWORD>(maxData);
    if (securityBytes) *securityBytes = static_cast<DWORD>(k.sddl.size() * sizeof(wchar_t));
    return ERROR_SUCCESS;
  }));
}

LSTATUS RegFlushKey(HKEY key) {
  return static_cast<LSTATUS>(ReadKey(key, 0, [](const Key&) -> DWORD { return ERROR_SUCCESS; }));
}

LSTATUS RegGetKeySecuritySddl(HKEY key, std::wstring& sddl) {
  return static_cast<LSTATUS>(ReadKey(key, 0, [&](const Key& k) -> DWORD {
    sddl = k.sddl;
    return ERROR_SUCCESS;
  }));
}

LSTATUS RegGetKeyEffectiveSddl(HKEY key, std::wstring& sddl) {
  HandleState state;
  DWORD status = Lookup(key, state);
  if (status != ERROR_SUCCESS) return static_cast<LSTATUS>(status);
  const KeyHandle& h = *state;
  const auto hooks = SecurityHooks();
  const RegistrySecurityHooks& security = *hooks;
  reg::Hive* hive = HiveOf(h);
  if (!hive) {
    sddl.clear();
    return ERROR_SUCCESS;
  }
  return static_cast<LSTATUS>(hive->Read([&](const Key& root) -> DWORD {
    if (!Find(root, h.path)) return ERROR_KEY_DELETED;
    sddl = EffectiveSddl(root, h.path, h.path.size(), HiveRootName(h), security);
    return ERROR_SUCCESS;
  }));
}

LSTATUS RegSetKeySecuritySddl(HKEY key, const std::wstring& sddl) {
  if (std::any_of(sddl.begin(), sddl.end(), BadNameChar)) return ERROR_INVALID_PARAMETER;
  return static_cast<LSTATUS>(WriteKey(key, 0, [&](Key& k, bool& changed) -> DWORD {
    changed = k.sddl != sddl;
    k.sddl = sddl;
    return ERROR_SUCCESS;
  }));
}

// ---------------------------------------------------------------------------------------------
// Batches

RegistryBatch::RegistryBatch() { reg::BeginBatch(); }

RegistryBatch::~RegistryBatch() { Commit(); }

LSTATUS RegistryBatch::Commit() {
  if (!open_) return ERROR_SUCCESS;
  open_ = false;
  return static_cast<LSTATUS>(reg::EndBatchScope());
}

// ---------------------------------------------------------------------------------------------
// RegKey

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    Close();
    key_ = std::exchange(other.key_, nullptr);
  }
  return *this;
}

LSTATUS RegKey::Open(HKEY parent, const std::wstring& subKey, REGSAM sam) {
  Close();
  if (subKey.find(L'\0') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
  return RegOpenKeyExW(parent, subKey.c_str(), 0, sam, &key_);
}

LSTATUS RegKey::Create(HKEY parent, const std::wstring& subKey, REGSAM sam, DWORD* disposition) {
  Close();
  if (subKey.find(L'\0') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
  return RegCreateKeyExW(parent, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr,
                         &key_, disposition);
}

void RegKey::Close() {
  if (key_) RegCloseKey(key_);
  key_ = nullptr;
}

namespace {
DWORD QueryRaw(HKEY key, const std::wstring& name, reg::Value& out) {
  if (name.find(L'\0') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
  return ReadKey(key, KEY_QUERY_VALUE, [&](const Key& k) -> DWORD {
    const reg::Value* v = k.FindValue(name);
    if (!v) return ERROR_FILE_NOT_FOUND;
    out = *v;
    return ERROR_SUCCESS;
  });
}
}  // namespace

LSTATUS RegKey::QueryString(const std::wstring& name, std::wstring& value, DWORD* type) const {
  reg::Value v;
  DWORD status = QueryRaw(key_, name, v);
  if (status != ERROR_SUCCESS) return status;
  if (type) *type = v.type;
  if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  value = reg::DataToString(v.data);
  return ERROR_SUCCESS;
}

LSTATUS RegKey::QueryDword(const std::wstring& name, DWORD& value) const {
  reg::Value v;
  DWORD status = QueryRaw(key_, name, v);
  if (status != ERROR_SUCCESS) return status;
  if (v.type != REG_DWORD || v.data.size() != 4) return ERROR_INVALID_DATA;
  std::memcpy(&value, v.data.data(), 4);
  return ERROR_SUCCESS;
}

LSTATUS RegKey::QueryQword(const std::wstring& name, std::uint64_t& value) const {
  reg::Value v;
  DWORD status = QueryRaw(key_, name, v);
  if (status != ERROR_SUCCESS) return status;
  if (v.type != REG_QWORD || v.data.size() != 8) return ERROR_INVALID_DATA;
  std::memcpy(&value, v.data.data(), 8);
  return ERROR_SUCCESS;
}

LSTATUS RegKey::QueryMultiString(const std::wstring& name, std::vector<std::wstring>& value) const {
  reg::Value v;
  DWORD status = QueryRaw(key_, name, v);
  if (status != ERROR_SUCCESS) return status;
  if (v.type != REG_MULTI_SZ) return ERROR_INVALID_DATA;
  value = reg::DataToMultiString(v.data);
  return ERROR_SUCCESS;
}

LSTATUS RegKey::QueryBinary(const std::wstring& name, std::vector<BYTE>& value, DWORD* type) const {
  reg::Value v;
  DWORD status = QueryRaw(key_, name, v);
  if (status != ERROR_SUCCESS) return status;
  if (type) *type = v.type;
  value = v.data;
  return ERROR_SUCCESS;
}

LSTATUS RegKey::SetString(const std::wstring& name, const std::wstring& value, DWORD type) {
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_PARAMETER;
  return SetValueImpl(key_, name, type, reg::StringData(value));
}

LSTATUS RegKey::SetDword(const std::wstring& name, DWORD value) {
  std::vector<std::uint8_t> data(4);
  std::memcpy(data.data(), &value, 4);
  return SetValueImpl(key_, name, REG_DWORD, std::move(data));
}

LSTATUS RegKey::SetQword(const std::wstring& name, std::uint64_t value) {
  std::vector<std::uint8_t> data(8);
  std::memcpy(data.data(), &value, 8);
  return SetValueImpl(key_, name, REG_QWORD, std::move(data));
}

LSTATUS RegKey::SetMultiString(const std::wstring& name, const std::vector<std::wstring>& value) {
  for (const auto& item : value)
    if (item.empty() || item.find(L'\0') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
  return SetValueImpl(key_, name, REG_MULTI_SZ, reg::MultiStringData(value));
}

LSTATUS RegKey::SetBinary(const std::wstring& name, const std::vector<BYTE>& value, DWORD type) {
  return SetValueImpl(key_, name, type, value);
}

LSTATUS RegKey::DeleteValue(const std::wstring& name) {
  if (name.find(L'\0') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
  return RegDeleteValueW(key_, name.c_str());
}

LSTATUS RegKey::DeleteSubKey(const std::wstring& name) {
  if (name.find(L'\0') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
  return RegDeleteKeyW(key_, name.c_str());
}

LSTATUS RegKey::DeleteTree(const std::wstring& name) {
  if (name.find(L'\0') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
  return RegDeleteTreeW(key_, name.c_str());
}

std::vector<std::wstring> RegKey::SubKeyNames() const {
  std::vector<std::wstring> names;
  ReadKey(key_, KEY_ENUMERATE_SUB_KEYS, [&](const Key& k) -> DWORD {
    for (const auto& entry : k.Children()) names.push_back(entry.second->Name());
    return ERROR_SUCCESS;
  });
  return names;
}

std::vector<reg::Value> RegKey::ValueList() const {
  std::vector<reg::Value> values;
  ReadKey(key_, KEY_QUERY_VALUE, [&](const Key& k) -> DWORD {
    values = k.Values();
    return ERROR_SUCCESS;
  });
  return values;
}

// ---------------------------------------------------------------------------------------------
// Machine-level services

bool SplitRootKey(const std::wstring& path, HKEY& root, std::wstring& subKey) {
  std::size_t slash = path.find(L'\\');
  std::wstring head = Fold(path.substr(0, slash));
  subKey = slash == std::wstring::npos ? std::wstring() : path.substr(slash + 1);
  while (!subKey.empty() && subKey.back() == L'\\') subKey.pop_back();
  if (head == L"HKLM" || head == L"HKEY_LOCAL_MACHINE")
    root = HKEY_LOCAL_MACHINE;
  else if (head == L"HKCU" || head == L"HKEY_CURRENT_USER")
    root = HKEY_CURRENT_USER;
  else if (head == L"HKCR" || head == L"HKEY_CLASSES_ROOT")
    root = HKEY_CLASSES_ROOT;
  else if (head == L"HKU" || head == L"HKEY_USERS")
    root = HKEY_USERS;
  else
    return false;
  return true;
}

std::vector<HiveInfo> ListHives() {
  std::vector<HiveInfo> out;
  auto store = StoreOf(Machine::Current());
  for (reg::Hive* hive : store->ExistingHives()) {
    HiveInfo info;
    info.rootPath = hive->RootPath();
    info.file = hive->File();
    info.status = hive->Status(&info.errorText);
    out.push_back(std::move(info));
  }
  return out;
}

std::wstring HiveErrorText(HKEY key) {
  HandleState state;
  if (Lookup(key, state) != ERROR_SUCCESS) return {};
  const KeyHandle& h = *state;
  reg::Hive* hive = HiveOf(h);
  if (!hive) return {};
  std::wstring text;
  hive->Status(&text);
  return text;
}

LSTATUS ExportKey(HKEY root, const std::wstring& subKey, REGSAM view, std::string& text) {
  RegKey key;
  LSTATUS status = key.Open(root, subKey, KEY_READ | (view & KEY_WOW64_RES));
  if (status != ERROR_SUCCESS) return status;
  HandleState state;
  if (Lookup(key.Get(), state) != ERROR_SUCCESS) return ERROR_INVALID_HANDLE;
  const KeyHandle& h = *state;
  std::wstring prefix;
  if (h.area == Area::Machine)
    prefix = L"HKEY_LOCAL_MACHINE";
  else if (h.area == Area::User)
    prefix = L"HKEY_USERS\\" + h.userHive;
  else
    prefix = L"HKEY_USERS";
  for (const auto& part : h.path) prefix += L"\\" + part;
  return static_cast<LSTATUS>(ReadKey(key.Get(), 0, [&](const Key& k) -> DWORD {
    text = reg::WriteHive(k, prefix);
    return ERROR_SUCCESS;
  }));
}

void ResetRegistryCache() { reg::Store::ResetAll(); }

void SetRegistrySecurityHooks(RegistrySecurityHooks hooks) {
  std::shared_ptr<const RegistrySecurityHooks> installed =
      std::make_shared<const RegistrySecurityHooks>(std::move(hooks));
  {
    std::lock_guard<std::mutex> lock(gSecurityMutex);
    SecurityHooksSlot().swap(installed);
  }
  // The hooks replaced go when the last call that uses them ends (here, outside the lock).
}

void CreateFreshRegistry(const Machine& machine) {
  auto store = reg::Store::For(machine.Root());
  const MachineConfig& config = machine.Config();
  store->Machine().Write([&](Key& root, bool& changed) -> DWORD {
    reg::FillMachineHive(root, config);
    changed = true;
    return ERROR_SUCCESS;
  });
  struct UserEntry {
    std::wstring hive;
    std::wstring user;  // empty for the system's own hives
  };
  std::vector<UserEntry> users = {{L".DEFAULT", L""},
                                  {L"S-1-5-18", L""},
                                  {UserSidOf(config), config.userName},
                                  {SecondUserSidOf(config), SecondUserNameOf(config)}};
  for (const auto& u : users) {
    store->User(u.hive).Write([&](Key& root, bool& changed) -> DWORD {
      reg::FillUserHive(root, config, u.user);
      changed = true;
      return ERROR_SUCCESS;
    });
  }
}

LSTATUS SetStoredKeySecurity(const Machine& machine, const std::wstring& hive,
                             const std::wstring& subKey, const std::wstring& sddl) {
  if (std::any_of(sddl.begin(), sddl.end(), BadNameChar)) return ERROR_INVALID_PARAMETER;
  std::vector<std::wstring> path;
  if (!subKey.empty()) {
    std::size_t start = 0;
    while (true) {
      std::size_t slash = subKey.find(L'\\', start);
      std::wstring part = subKey.substr(start, slash == std::wstring::npos ? slash : slash - start);
      if (part.empty()) return ERROR_BAD_PATHNAME;
      path.push_back(part);
      if (slash == std::wstring::npos) break;
      start = slash + 1;
    }
  }
  auto store = reg::Store::For(machine.Root());
  reg::Hive& h = hive.empty() ? store->Machine() : store->User(hive);
  return static_cast<LSTATUS>(h.Write([&](Key& root, bool& changed) -> DWORD {
    Key* k = &root;
    for (const auto& part : path) {
      Key* child = k->Child(part);
      k = child ? child : k->AddChild(part);
    }
    k->sddl = sddl;
    changed = true;
    return ERROR_SUCCESS;
  }));
}

}  // namespace platform
