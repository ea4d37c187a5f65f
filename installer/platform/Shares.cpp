#include "platform/Shares.h"

#include "platform/Files.h"
#include "platform/HostIo.h"
#include "platform/Machine.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/RegistryTree.h"
#include "platform/Security.h"
#include "platform/Text.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>

namespace platform {

namespace {

const wchar_t kSharesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";
const wchar_t kSecurityKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares\\Security";

// ---------------------------------------------------------------------------------------------
// The stored form of one share

std::vector<std::wstring> ToItems(const SHARE_INFO_502& s) {
  return {L"CATimeout=0",
          L"CSCFlags=0",
          L"MaxUses=" + UIntToWide(s.shi502_max_uses),
          L"Path=" + s.shi502_path,
          L"Permissions=" + UIntToWide(s.shi502_permissions),
          L"Remark=" + s.shi502_remark,
          L"ShareName=" + s.shi502_netname,
          L"Type=" + UIntToWide(s.shi502_type)};
}

DWORD ItemNumber(const std::wstring& text, DWORD def) {
  std::uint32_t v = 0;
  return VariantToUInt32(text, v) == S_OK ? v : def;
}

SHARE_INFO_502 FromItems(const std::wstring& valueName, const std::vector<std::wstring>& items) {
  SHARE_INFO_502 s;
  s.shi502_netname = valueName;
  for (const std::wstring& item : items) {
    std::size_t eq = item.find(L'=');
    if (eq == std::wstring::npos) continue;
    std::wstring key = item.substr(0, eq), value = item.substr(eq + 1);
    if (EqualsNoCase(key, L"Path"))
      s.shi502_path = value;
    else if (EqualsNoCase(key, L"Remark"))
      s.shi502_remark = value;
    else if (EqualsNoCase(key, L"Permissions"))
      s.shi502_permissions = ItemNumber(value, 0);
    else if (EqualsNoCase(key, L"MaxUses"))
      s.shi502_max_uses = ItemNumber(value, SHI_USES_UNLIMITED);
    else if (EqualsNoCase(key, L"Type"))
      s.shi502_type = ItemNumber(value, STYPE_DISKTREE);
  }
  return s;
}

// A share's value: the multi-string the server service writes, or a single "Path=..." text.
bool IsShareValue(const reg::Value& v) { return v.type == REG_MULTI_SZ || v.type == REG_SZ; }
std::vector<std::wstring> Items(const reg::Value& v) {
  if (v.type == REG_SZ) return {reg::DataToString(v.data)};
  return reg::DataToMultiString(v.data);
}

// The shares of a parsed hive's Shares key (with the descriptors of its Security sub-key).
std::vector<SHARE_INFO_502> FromKey(const reg::Key* shares) {
  std::vector<SHARE_INFO_502> out;
  if (!shares) return out;
  const reg::Key* security = shares->Child(L"Security");
  for (const reg::Value& v : shares->Values()) {
    if (v.name.empty() || !IsShareValue(v)) continue;
    SHARE_INFO_502 s = FromItems(v.name, Items(v));
    if (security)
      if (const reg::Value* sd = security->FindValue(v.name); sd && sd->type == REG_BINARY)
        s.shi502_security_descriptor = sd->data;
    out.push_back(std::move(s));
  }
  return out;
}

void SortByName(std::vector<SHARE_INFO_502>& shares) {
  std::stable_sort(shares.begin(), shares.end(),
                   [](const SHARE_INFO_502& a, const SHARE_INFO_502& b) {
                     return CompareNoCase(a.shi502_netname, b.shi502_netname) < 0;
                   });
}

std::vector<SHARE_INFO_502> CurrentShares() {
  std::vector<SHARE_INFO_502> out;
  RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kSharesKey, KEY_READ) != ERROR_SUCCESS) return out;
  std::map<std::wstring, std::vector<BYTE>, NoCaseLess> descriptors;
  RegKey security;
  if (security.Open(HKEY_LOCAL_MACHINE, kSecurityKey, KEY_READ) == ERROR_SUCCESS)
    for (const reg::Value& v : security.ValueList())
      if (v.type == REG_BINARY) descriptors[v.name] = v.data;
  for (const reg::Value& v : key.ValueList()) {
    if (v.name.empty() || !IsShareValue(v)) continue;
    SHARE_INFO_502 s = FromItems(v.name, Items(v));
    if (auto it = descriptors.find(v.name); it != descriptors.end())
      s.shi502_security_descriptor = it->second;
    out.push_back(std::move(s));
  }
  SortByName(out);
  return out;
}

// Another machine's shares from its hive file, parsed again only when the file changed.
std::vector<SHARE_INFO_502> OtherShares(const std::string& machineRoot) {
  struct Cached {
    long long mtime = -1;
    long long size = -1;
    std::vector<SHARE_INFO_502> shares;
  };
  static std::mutex mutex;
  static auto* cache = new std::map<std::string, Cached>;
  const std::string file = machineRoot + "/registry/HKLM.reg";
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) return {};
  const long long mtime =
      static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache->find(file);
    if (it != cache->end() && it->second.mtime == mtime && it->second.size == st.st_size)
      return it->second.shares;
  }
  std::string bytes;
  if (!hostio::ReadFile(file, bytes)) return {};
  reg::ParseError error;
  std::unique_ptr<reg::Key> root = reg::ParseHive(bytes, L"HKEY_LOCAL_MACHINE", &error);
  const reg::Key* key = root.get();
  for (const wchar_t* part :
       {L"SYSTEM", L"CurrentControlSet", L"Services", L"LanmanServer", L"Shares"})
    key = key ? key->Child(part) : nullptr;
  std::vector<SHARE_INFO_502> shares = FromKey(key);
  SortByName(shares);
  std::lock_guard<std::mutex> lock(mutex);
  if (cache->size() > 64) cache->clear();
  (*cache)[file] = Cached{mtime, static_cast<long long>(st.st_size), shares};
  return shares;
}

// ---------------------------------------------------------------------------------------------
// Computers

struct Target {
  DWORD status = NERR_Success;
  bool local = true;
  std::string root;  // the computer's machine root
};

std::wstring StripServer(const wchar_t* server) {
  std::wstring s = server ? server : L"";
  if (s.size() >= 2 && s[0] == L'\\' && s[1] == L'\\') s = s.substr(2);
  return s;
}

bool IsThisComputer(const std::wstring& name, const MachineConfig& c) {
  return name.empty() || EqualsNoCase(name, c.computerName) || EqualsNoCase(name, L"localhost") ||
         name == L"." || name == L"127.0.0.1";
}

Target FindComputer(const std::wstring& name) {
  Target t;
  Machine& machine = Machine::Current();
  if (IsThisComputer(name, machine.Config())) {
    t.root = machine.Root();
    return t;
  }
  t.local = false;
  for (const NetworkComputer& n : machine.Config().network)
    if (EqualsNoCase(n.name, name)) {
      if (!n.machineRoot) break;
      t.root = *n.machineRoot;
      return t;
    }
  t.status = NERR_InvalidComputer;
  return t;
}

std::vector<SHARE_INFO_502> SharesOf(const Target& t) {
  return t.local ? CurrentShares() : OtherShares(t.root);
}

bool IsAdministrator() { return CurrentToken()->IsMember(BuiltinAdministratorsSid()); }

// The default shares of a computer: C$ and the other fixed drives, ADMIN$, IPC$.
std::vector<SHARE_INFO_502> DefaultShares(const MachineConfig& config) {
  std::vector<SHARE_INFO_502> out;
  auto add = [&](std::wstring name, std::wstring path, std::wstring remark, DWORD type) {
    SHARE_INFO_502 s;
    s.shi502_netname = std::move(name);
    s.shi502_path = std::move(path);
    s.shi502_remark = std::move(remark);
    s.shi502_type = type | STYPE_SPECIAL;
    out.push_back(std::move(s));
  };
  for (const DriveConfig& d : config.drives)
    if (d.type == DRIVE_FIXED && !d.readOnly)
      add(std::wstring(1, d.letter) + L"$", std::wstring(1, d.letter) + L":\\", L"Default share",
          STYPE_DISKTREE);
  add(L"IPC$", L"", L"Remote IPC", STYPE_IPC);
  add(L"ADMIN$", L"C:\\Windows", L"Remote Admin", STYPE_DISKTREE);
  return out;
}

SHARE_INFO_502 AtLevel(const SHARE_INFO_502& s, DWORD level) {
  SHARE_INFO_502 r;
  r.shi502_netname = s.shi502_netname;
  if (level == 0) return r;
  r.shi502_type = s.shi502_type;
  r.shi502_remark = s.shi502_remark;
  if (level == 1) return r;
  r.shi502_permissions = s.shi502_permissions;
  r.shi502_max_uses = s.shi502_max_uses;
  r.shi502_current_uses = s.shi502_current_uses;
  r.shi502_path = s.shi502_path;
  if (level == 502) r.shi502_security_descriptor = s.shi502_security_descriptor;
  return r;
}

bool IsBadNameChar(wchar_t c) {
  return c < 0x20 || std::wstring_view(L"\\/[]:|<>+;,?*=\"").find(c) != std::wstring_view::npos;
}

// The folder of a share path in full form, or empty when it is no folder of this computer.
std::wstring ShareFolder(const std::wstring& path) {
  if (path.empty() || PathIsUNCW(path)) return L"";
  std::wstring full;
  if (GetFullPathNameW(path, full) != ERROR_SUCCESS) return L"";
  if (full.size() < 3 || full[1] != L':' || full[2] != L'\\') return L"";
  if (!CurrentConfig().Drive(full[0])) return L"";
  PathRemoveBackslashW(full);
  full[0] = UpperChar(full[0]);
  if (!PathIsDirectoryW(full)) return L"";
  return full;
}

std::wstring Canonical(const std::wstring& path) {
  std::wstring full;
  if (GetFullPathNameW(path, full) != ERROR_SUCCESS) full = path;
  PathRemoveBackslashW(full);
  return full;
}

// The rights of legacy permission bits on files.
ACCESS_MASK RightsOfPermissions(DWORD permissions) {
  if ((permissions & ACCESS_ALL) == ACCESS_ALL) return FILE_ALL_ACCESS;
  ACCESS_MASK m = 0;
  if (permissions & ACCESS_READ) m |= FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
  if (permissions & ACCESS_WRITE) m |= FILE_GENERIC_WRITE;
  if (permissions & ACCESS_CREATE) m |= FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | SYNCHRONIZE;
  if (permissions & ACCESS_EXEC) m |= FILE_GENERIC_EXECUTE;
  if (permissions & ACCESS_DELETE) m |= DELETE | FILE_DELETE_CHILD | SYNCHRONIZE;
  if (permissions & ACCESS_ATRIB)
    m |= FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA | SYNCHRONIZE;
  if (permissions & ACCESS_PERM) m |= READ_CONTROL | WRITE_DAC | WRITE_OWNER | SYNCHRONIZE;
  return m;
}

ACCESS_MASK RightsOfShare(const SHARE_INFO_502& s) {
  std::optional<SecurityDescriptor> sd;
  if (!s.shi502_security_descriptor.empty())
    sd = SecurityDescriptor::FromBinary(s.shi502_security_descriptor.data());
  else
    sd = SecurityDescriptor::FromSddl(DefaultShareSddl(s.shi502_permissions));
  if (!sd) return 0;  // a descriptor that cannot be read grants nothing
  return GrantedAccess(*sd, *CurrentToken(), kFileMapping);
}

void SplitUnc(const std::wstring& path, std::wstring& server, std::wstring& share) {
  std::size_t s1 = path.find(L'\\', 2);
  server = path.substr(2, s1 == std::wstring::npos ? std::wstring::npos : s1 - 2);
  if (s1 == std::wstring::npos) return;
  std::size_t s2 = path.find(L'\\', s1 + 1);
  share = path.substr(s1 + 1, s2 == std::wstring::npos ? std::wstring::npos : s2 - s1 - 1);
}

bool IsAdminShare(const std::wstring& share) {
  return EqualsNoCase(share, L"ADMIN$") ||
         (share.size() == 2 && share[1] == L'$' &&
          ((share[0] >= L'A' && share[0] <= L'Z') || (share[0] >= L'a' && share[0] <= L'z')));
}

DWORD ResolveShare(std::wstring_view computer, std::wstring_view share, std::wstring& folder,
                   std::string& machineRoot) {
  Target t = FindComputer(std::wstring(computer));
  if (t.status != NERR_Success) return ERROR_BAD_NETPATH;
  for (const SHARE_INFO_502& s : SharesOf(t)) {
    if (!EqualsNoCase(s.shi502_netname, share)) continue;
    if ((s.shi502_type & ~STYPE_SPECIAL) != STYPE_DISKTREE) return NERR_NetNameNotFound;
    if (!(RightsOfShare(s) & FILE_LIST_DIRECTORY)) return ERROR_ACCESS_DENIED;
    folder = s.shi502_path;
    machineRoot = t.local ? std::string() : t.root;
    return ERROR_SUCCESS;
  }
  return NERR_NetNameNotFound;
}

}  // namespace

std::wstring DefaultShareSddl(DWORD permissions) {
  std::wstring sddl = L"D:(A;;FA;;;BA)";
  ACCESS_MASK m = RightsOfPermissions(permissions);
  if (m) sddl += L"(A;;0x" + UIntToWide(m, 16) + L";;;WD)";
  return sddl;
}

std::vector<SHARE_INFO_502> StoredShares(const std::string& machineRoot) {
  try {
    if (machineRoot == Machine::Current().Root()) return CurrentShares();
  } catch (const MachineError&) {}
  return OtherShares(machineRoot);
}

DWORD NetShareAdd(const wchar_t* server, DWORD level, const SHARE_INFO_502& info,
                  DWORD* parmError) {
  auto bad = [&](DWORD parm) {
    if (parmError) *parmError = parm;
    return Fail(ERROR_INVALID_PARAMETER);
  };
  if (level != 2 && level != 502) return Fail(ERROR_INVALID_LEVEL);
  Target t = FindComputer(StripServer(server));
  if (t.status != NERR_Success) return Fail(t.status);
  if (!t.local || !IsAdministrator()) return Fail(ERROR_ACCESS_DENIED);
  const std::wstring& name = info.shi502_netname;
  if (name.empty() || name.size() > NNLEN || std::any_of(name.begin(), name.end(), IsBadNameChar) ||
      Trim(name).empty())
    return bad(SHARE_NETNAME_PARMNUM);
  if (info.shi502_type != STYPE_DISKTREE) return bad(SHARE_TYPE_PARMNUM);
  if (info.shi502_remark.size() > MAXCOMMENTSZ) return bad(SHARE_REMARK_PARMNUM);
  std::vector<BYTE> security;
  if (level == 502 && !info.shi502_security_descriptor.empty()) {
    auto sd = SecurityDescriptor::FromBinary(info.shi502_security_descriptor.data());
    if (!sd) return bad(SHARE_FILE_SD_PARMNUM);
    security = sd->ToBinary();
  } else {
    auto sd = SecurityDescriptor::FromSddl(DefaultShareSddl(info.shi502_permissions));
    if (sd) security = sd->ToBinary();
  }
  for (const SHARE_INFO_502& s : CurrentShares())
    if (EqualsNoCase(s.shi502_netname, name)) return Fail(NERR_DuplicateShare);
  for (const SHARE_INFO_502& s : DefaultShares(CurrentConfig()))
    if (EqualsNoCase(s.shi502_netname, name)) return Fail(NERR_DuplicateShare);
  const std::wstring folder = ShareFolder(info.shi502_path);
  if (folder.empty()) return Fail(NERR_UnknownDevDir);

  SHARE_INFO_502 stored = info;
  stored.shi502_path = folder;
  stored.shi502_current_uses = 0;
  RegistryBatch batch;
  RegKey shares, sec;
  if (LSTATUS rc = shares.Create(HKEY_LOCAL_MACHINE, kSharesKey); rc != ERROR_SUCCESS)
    return Fail(static_cast<DWORD>(rc));
  if (LSTATUS rc = shares.SetMultiString(name, ToItems(stored)); rc != ERROR_SUCCESS)
    return Fail(static_cast<DWORD>(rc));
  if (sec.Create(HKEY_LOCAL_MACHINE, kSecurityKey) == ERROR_SUCCESS && !security.empty())
    sec.SetBinary(name, security);
  if (LSTATUS rc = batch.Commit(); rc != ERROR_SUCCESS) return Fail(static_cast<DWORD>(rc));
  return NERR_Success;
}

DWORD NetShareCheck(const wchar_t* server, const std::wstring& device, DWORD* type) {
  Target t = FindComputer(StripServer(server));
  if (t.status != NERR_Success) return Fail(t.status);
  if (device.empty()) return Fail(NERR_DeviceNotShared);
  const std::wstring wanted = Canonical(device);
  for (const SHARE_INFO_502& s : SharesOf(t))
    if (!s.shi502_path.empty() && EqualsNoCase(Canonical(s.shi502_path), wanted)) {
      if (type) *type = s.shi502_type;
      return NERR_Success;
    }
  return Fail(NERR_DeviceNotShared);
}

DWORD NetShareDel(const wchar_t* server, const std::wstring& name, DWORD reserved) {
  (void)reserved;
  Target t = FindComputer(StripServer(server));
  if (t.status != NERR_Success) return Fail(t.status);
  if (!t.local || !IsAdministrator()) return Fail(ERROR_ACCESS_DENIED);
  // An empty name is no share: it never stands for the whole list.
  if (name.empty()) return Fail(ERROR_INVALID_PARAMETER);
  bool found = false;
  for (const SHARE_INFO_502& s : CurrentShares())
    found = found || EqualsNoCase(s.shi502_netname, name);
  if (!found) return Fail(NERR_NetNameNotFound);
  RegistryBatch batch;
  RegKey shares, sec;
  if (LSTATUS rc = shares.Open(HKEY_LOCAL_MACHINE, kSharesKey, KEY_READ | KEY_WRITE);
      rc != ERROR_SUCCESS)
    return Fail(static_cast<DWORD>(rc));
  if (LSTATUS rc = shares.DeleteValue(name); rc != ERROR_SUCCESS)
    return Fail(rc == ERROR_FILE_NOT_FOUND ? NERR_NetNameNotFound : static_cast<DWORD>(rc));
  if (sec.Open(HKEY_LOCAL_MACHINE, kSecurityKey, KEY_READ | KEY_WRITE) == ERROR_SUCCESS)
    sec.DeleteValue(name);
  if (LSTATUS rc = batch.Commit(); rc != ERROR_SUCCESS) return Fail(static_cast<DWORD>(rc));
  return NERR_Success;
}

DWORD NetShareEnum(const wchar_t* server, DWORD level, std::vector<SHARE_INFO_502>& shares) {
  shares.clear();
  if (level != 0 && level != 1 && level != 2 && level != 502) return Fail(ERROR_INVALID_LEVEL);
  Target t = FindComputer(StripServer(server));
  if (t.status != NERR_Success) return Fail(t.status);
  if ((level == 2 || level == 502) && !IsAdministrator()) return Fail(ERROR_ACCESS_DENIED);
  std::vector<SHARE_INFO_502> all;
  if (t.local) {
    all = DefaultShares(CurrentConfig());
  } else {
    try {
      all = DefaultShares(Machine::Open(t.root, false)->Config());
    } catch (const MachineError&) {}
  }
  for (SHARE_INFO_502& s : SharesOf(t)) all.push_back(std::move(s));
  for (const SHARE_INFO_502& s : all) shares.push_back(AtLevel(s, level));
  return NERR_Success;
}

DWORD NetShareGetInfo(const wchar_t* server, const std::wstring& name, DWORD level,
                      SHARE_INFO_502& info) {
  std::vector<SHARE_INFO_502> all;
  if (DWORD rc = NetShareEnum(server, level, all); rc != NERR_Success) return rc;
  for (const SHARE_INFO_502& s : all)
    if (EqualsNoCase(s.shi502_netname, name)) {
      info = s;
      return NERR_Success;
    }
  return Fail(NERR_NetNameNotFound);
}

namespace {

// The rights of a share of the share service, or nothing when it knows no such share.
std::optional<ACCESS_MASK> KnownShareRights(const std::wstring& computer,
                                            const std::wstring& name) {
  Target t = FindComputer(computer);
  if (t.status != NERR_Success) return std::nullopt;
  if (IsAdminShare(name)) return IsAdministrator() ? FILE_ALL_ACCESS : 0;
  for (const SHARE_INFO_502& s : SharesOf(t))
    if (EqualsNoCase(s.shi502_netname, name)) return RightsOfShare(s);
  return std::nullopt;
}

}  // namespace

DWORD ShareRights(const std::wstring& computer, const std::wstring& name) {
  return KnownShareRights(computer, name).value_or(0);
}

DWORD CheckShareAccess(const std::wstring& windowsPath, DWORD desired) {
  if (windowsPath.size() < 3 || windowsPath[0] != L'\\' || windowsPath[1] != L'\\')
    return ERROR_SUCCESS;
  std::wstring server, share;
  SplitUnc(windowsPath, server, share);
  // A share this service does not know was resolved by another resolver, which decides.
  std::optional<ACCESS_MASK> granted = KnownShareRights(server, share);
  if (!granted) return ERROR_SUCCESS;
  ACCESS_MASK wanted = MapGenericMask(desired, kFileMapping) & ~(SYNCHRONIZE | MAXIMUM_ALLOWED);
  if (desired & MAXIMUM_ALLOWED) return *granted ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
  return (*granted & wanted) == wanted ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

std::wstring DescribeShares() {
  std::vector<SHARE_INFO_502> all;
  DWORD rc = NetShareEnum(nullptr, 2, all);
  if (rc == ERROR_ACCESS_DENIED) rc = NetShareEnum(nullptr, 1, all);
  if (rc != NERR_Success) return L"System error " + UIntToWide(rc) + L" has occurred.\n";
  auto pad = [](std::wstring s, std::size_t width) {
    if (s.size() >= width) return s + L" ";
    return s + std::wstring(width - s.size(), L' ');
  };
  std::wstring out = pad(L"Share name", 13) + pad(L"Resource", 32) + L"Remark\n\n" +
                     std::wstring(79, L'-') + L"\n";
  for (const SHARE_INFO_502& s : all) {
    std::wstring line = pad(s.shi502_netname, 13) + pad(s.shi502_path, 32) + s.shi502_remark;
    while (!line.empty() && line.back() == L' ') line.pop_back();
    out += line + L"\n";
  }
  out += L"The command completed successfully.\n";
  return out;
}

void InstallShareService() { SetShareResolver(&ResolveShare); }

}  // namespace platform
