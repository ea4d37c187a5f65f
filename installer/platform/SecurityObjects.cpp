// Security of named objects: files and folders (xattr "user.NTSD"), registry keys (the hive's
// descriptor lines), the registry's hooks, the access lists of a fresh machine, and the readable
// listings used by tlmachine.
#include "platform/Machine.h"
#include "platform/Security.h"
#include "platform/Shares.h"
#include "platform/ShellFolders.h"
#include "platform/System.h"
#include "platform/Text.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace platform {

namespace {

constexpr const char kNtsd[] = "user.NTSD";

void Report(const std::wstring& object, const std::wstring& sddl, const std::wstring& why) {
  OutputDebugStringW(L"Security: " + object + L": the stored security descriptor \"" + sddl +
                     L"\" cannot be read (" + why + L"); access is denied\n");
}

// Parsed descriptors by their text (bounded; the same few texts come back all the time).
struct Parsed {
  std::optional<SecurityDescriptor> sd;
  std::wstring error;
};
std::shared_ptr<const Parsed> Parse(const std::wstring& sddl) {
  static std::mutex mutex;
  static auto* cache = new std::unordered_map<std::wstring, std::shared_ptr<const Parsed>>();
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache->find(sddl);
    if (it != cache->end()) return it->second;
  }
  auto p = std::make_shared<Parsed>();
  p->sd = SecurityDescriptor::FromSddl(sddl, &p->error);
  std::lock_guard<std::mutex> lock(mutex);
  if (cache->size() > 4096) cache->clear();
  cache->emplace(sddl, p);
  return p;
}

Token OwnerOnly(const SecurityDescriptor& sd) {
  Token t;
  t.owner = sd.owner.value_or(LocalSystemSid());
  t.primaryGroup = sd.group.value_or(LocalSystemSid());
  return t;
}

bool HasCreatorEntries(const SecurityDescriptor& sd) {
  if (!sd.dacl) return false;
  for (const Ace& a : *sd.dacl)
    if ((a.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) &&
        (a.sid == CreatorOwnerSid() || a.sid == CreatorGroupSid()))
      return true;
  return false;
}

// ---- files

// The stored descriptor's bytes ("<too long>" for one longer than any that is read).
std::optional<std::string> ReadNtsdBytes(const std::string& host) {
  char buf[8192];
  ssize_t n = ::lgetxattr(host.c_str(), kNtsd, buf, sizeof buf);
  if (n < 0) {
    if (errno == ERANGE) return std::string("<too long>");
    return std::nullopt;
  }
  return std::string(buf, static_cast<std::size_t>(n));
}

std::optional<std::wstring> ReadNtsd(const std::string& host) {
  std::optional<std::string> bytes = ReadNtsdBytes(host);
  if (!bytes) return std::nullopt;
  return FromUtf8(*bytes);
}

bool IsDir(const std::string& host) {
  struct stat st {};
  return ::lstat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ParentOf(const std::string& host) {
  std::size_t slash = host.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? "/" : host.substr(0, slash);
}

// The descriptor of the host object `host` on the drive whose root is `driveRoot`. `source`,
// when given, receives what the descriptor follows from alone, as a text: the object's own
// stored text, or its folder's and its kind; "" when that takes more (a longer way up, no
// descriptor anywhere, a failure).
DWORD FileSecurity(const std::string& host, const std::string& driveRoot,
                   const std::wstring& windowsName, SecurityDescriptor& out,
                   std::wstring* source = nullptr) {
  if (source) source->clear();
  std::vector<std::string> chain;  // the object, then its parents up to the drive root
  std::string p = host;
  std::optional<std::wstring> found;
  while (true) {
    chain.push_back(p);
    found = ReadNtsd(p);
    if (found || p.size() <= driveRoot.size() || p == "/") break;
    p = ParentOf(p);
  }
  if (!found) {
    out = SecurityDescriptor{};  // no descriptor anywhere: a volume without access lists
    return ERROR_SUCCESS;
  }
  auto parsed = Parse(*found);
  if (!parsed->sd) {
    std::wstring object = chain.size() == 1 ? windowsName : FromUtf8(chain.back());
    Report(object, *found, parsed->error);
    return ERROR_INVALID_SECURITY_DESCR;
  }
  if (chain.size() == 1) {
    out = *parsed->sd;
    if (source) *source = L"own:" + *found;
    return ERROR_SUCCESS;
  }
  if (chain.size() == 2) {
    // An object without a list of its own in a folder with one: what it reads follows from the
    // folder's text and its kind, and the objects of a folder mostly ask in a row.
    const bool dir = IsDir(chain[0]);
    static std::mutex mutex;
    static auto* cache =
        new std::unordered_map<std::wstring, std::shared_ptr<const SecurityDescriptor>>();
    const std::wstring key = (dir ? L"dir:" : L"file:") + *found;
    std::shared_ptr<const SecurityDescriptor> inherited;
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto it = cache->find(key);
      if (it != cache->end()) inherited = it->second;
    }
    if (!inherited) {
      inherited = std::make_shared<const SecurityDescriptor>(
          InheritDescriptor(*parsed->sd, dir, OwnerOnly(*parsed->sd), kFileMapping));
      std::lock_guard<std::mutex> lock(mutex);
      if (cache->size() >= 256) cache->clear();
      cache->emplace(key, inherited);
    }
    out = *inherited;
    if (source) *source = key;
    return ERROR_SUCCESS;
  }
  SecurityDescriptor sd = *parsed->sd;
  for (std::size_t i = chain.size() - 1; i-- > 0;)
    sd = InheritDescriptor(sd, IsDir(chain[i]), OwnerOnly(sd), kFileMapping);
  out = std::move(sd);
  return ERROR_SUCCESS;
}

// Host path of a Windows path of `machine` (not necessarily the current one), names matched
// without regard to case; "" when it does not exist.
std::string HostPathOf(const Machine& machine, const std::wstring& windowsPath) {
  if (windowsPath.size() < 2 || windowsPath[1] != L':') return "";
  std::string host = machine.DriveHostPath(UpperChar(windowsPath[0]));
  if (host.empty()) return "";
  std::size_t start = 2;
  while (start < windowsPath.size()) {
    while (start < windowsPath.size() && windowsPath[start] == L'\\') ++start;
    if (start >= windowsPath.size()) break;
    std::size_t end = windowsPath.find(L'\\', start);
    std::wstring part = windowsPath.substr(start, end == std::wstring::npos ? end : end - start);
    start = end == std::wstring::npos ? windowsPath.size() : end;
    DIR* d = ::opendir(host.c_str());
    if (!d) return "";
    std::string match;
    while (dirent* e = ::readdir(d))
      if (EqualsNoCase(FromUtf8(e->d_name), part)) match = e->d_name;
    ::closedir(d);
    if (match.empty()) return "";
    host += "/" + match;
  }
  return host;
}

// ---- registry

struct KeyName {
  HKEY root = nullptr;
  std::wstring subKey;
};
bool SplitObjectKey(std::wstring_view name, KeyName& out) {
  static const std::pair<const wchar_t*, HKEY> kRoots[] = {{L"MACHINE", HKEY_LOCAL_MACHINE},
                                                           {L"CURRENT_USER", HKEY_CURRENT_USER},
                                                           {L"USERS", HKEY_USERS},
                                                           {L"CLASSES_ROOT", HKEY_CLASSES_ROOT}};
  std::wstring n(name);
  std::size_t slash = n.find(L'\\');
  std::wstring first = ToUpper(n.substr(0, slash));
  for (const auto& [text, key] : kRoots) {
    if (first == text) {
      out.root = key;
      out.subKey = slash == std::wstring::npos ? L"" : n.substr(slash + 1);
      return true;
    }
  }
  return SplitRootKey(n, out.root, out.subKey);
}

DWORD KeySecurity(const KeyName& k, const std::wstring& name, SecurityDescriptor& out) {
  HKEY key = k.root;
  bool opened = false;
  if (!k.subKey.empty()) {
    LSTATUS s = RegOpenKeyExW(k.root, k.subKey.c_str(), 0, 0, &key);
    if (s != ERROR_SUCCESS) return static_cast<DWORD>(s);
    opened = true;
  }
  std::wstring sddl;
  LSTATUS s = RegGetKeyEffectiveSddl(key, sddl);
  if (opened) RegCloseKey(key);
  if (s != ERROR_SUCCESS) return static_cast<DWORD>(s);
  if (sddl.empty()) {
    out = SecurityDescriptor{};
    return ERROR_SUCCESS;
  }
  auto parsed = Parse(sddl);
  if (!parsed->sd) {
    Report(name, sddl, parsed->error);
    return ERROR_INVALID_SECURITY_DESCR;
  }
  out = *parsed->sd;
  return ERROR_SUCCESS;
}

// Hands a descriptor out as Windows does: one block, the parts pointing into it.
DWORD HandOut(const SecurityDescriptor& sd, SECURITY_INFORMATION info, PSID* owner, PSID* group,
              ACL** dacl, ACL** sacl, PSECURITY_DESCRIPTOR* out) {
  SecurityDescriptor part;
  part.control = sd.control;
  if (info & OWNER_SECURITY_INFORMATION) part.owner = sd.owner;
  if (info & GROUP_SECURITY_INFORMATION) part.group = sd.group;
  if (info & DACL_SECURITY_INFORMATION) part.dacl = sd.dacl;
  if (info & (SACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION)) part.sacl = sd.sacl;
  std::vector<BYTE> bytes = part.ToBinary();
  void* block = std::malloc(bytes.size());
  if (!block) return ERROR_NOT_ENOUGH_MEMORY;
  std::memcpy(block, bytes.data(), bytes.size());
  bool present = false, defaulted = false;
  if (owner) GetSecurityDescriptorOwner(block, owner, &defaulted);
  if (group) GetSecurityDescriptorGroup(block, group, &defaulted);
  if (dacl) GetSecurityDescriptorDacl(block, &present, dacl, &defaulted);
  if (sacl) {
    const auto* h = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(block);
    *sacl = h->Sacl ? reinterpret_cast<ACL*>(static_cast<BYTE*>(block) + h->Sacl) : nullptr;
  }
  if (out)
    *out = block;
  else
    std::free(block);
  return ERROR_SUCCESS;
}

std::optional<std::vector<Ace>> AclOf(const ACL* acl) {
  if (!acl) return std::nullopt;
  SecurityDescriptor sd;
  PSECURITY_DESCRIPTOR block = MakeSecurityDescriptor(nullptr, nullptr, acl, 0);
  auto parsed = SecurityDescriptor::FromBinary(block);
  LocalFree(block);
  return parsed ? parsed->dacl : std::nullopt;
}

SecurityDescriptor Merge(SecurityDescriptor sd, SECURITY_INFORMATION info, PSID owner, PSID group,
                         const ACL* dacl, const ACL* sacl) {
  if ((info & OWNER_SECURITY_INFORMATION) && IsValidSid(owner)) sd.owner = Sid::FromPsid(owner);
  if ((info & GROUP_SECURITY_INFORMATION) && IsValidSid(group)) sd.group = Sid::FromPsid(group);
  if (info & DACL_SECURITY_INFORMATION) {
    sd.dacl = AclOf(dacl);
    // Explicit entries only: the inherited ones come from the parent again below.
    if (sd.dacl)
      sd.dacl->erase(std::remove_if(sd.dacl->begin(), sd.dacl->end(),
                                    [](const Ace& a) { return (a.flags & INHERITED_ACE) != 0; }),
                     sd.dacl->end());
    if (info & PROTECTED_DACL_SECURITY_INFORMATION) sd.control |= SE_DACL_PROTECTED;
    if (info & UNPROTECTED_DACL_SECURITY_INFORMATION) sd.control &= ~SE_DACL_PROTECTED;
  }
  if ((info & SACL_SECURITY_INFORMATION) && sacl) sd.sacl = AclOf(sacl);
  return sd;
}

// Adds the entries the object inherits from `parent` (when it is not protected).
SecurityDescriptor WithInherited(SecurityDescriptor sd,
                                 const std::optional<SecurityDescriptor>& parent, bool isContainer,
                                 const GENERIC_MAPPING& mapping) {
  if (!parent || !sd.dacl) return sd;
  return ReinheritDescriptor(sd, *parent, isContainer, mapping);
}

// A file without a list of its own reads what its folder passes on with the folder's owner as
// the creator. Where the folder hands on entries of the creator, that is what the file was given
// when it was made (a creator other than the folder's owner stores its own), and the file must
// keep it whatever happens to the folder later: before the folder's list changes, or the file
// leaves the folder, that list is written on the file.
bool FilesKeepWhatTheyHad(const SecurityDescriptor& folder) { return HasCreatorEntries(folder); }

SecurityDescriptor AsInherited(const SecurityDescriptor& folder, bool isDir) {
  return InheritDescriptor(folder, isDir, OwnerOnly(folder), kFileMapping);
}

bool WriteNtsd(const std::string& host, const SecurityDescriptor& sd) {
  const std::string text = ToUtf8(sd.ToSddl());
  return ::lsetxattr(host.c_str(), kNtsd, text.data(), text.size(), 0) == 0;
}

// The names in `folder` but "." and ".." (links included; the callers skip them).
std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d))
    if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) names.push_back(e->d_name);
  ::closedir(d);
  return names;
}

// Writes down the lists of the files below `folder` (whose list is `sd`) that have none of their
// own, through the folders that have none either: `folder` is about to read another list. False
// when a list could not be written.
bool KeepFilesLists(const std::string& folder, const SecurityDescriptor& sd) {
  const bool keep = FilesKeepWhatTheyHad(sd);
  const SecurityDescriptor files = AsInherited(sd, false);
  bool ok = true;
  for (const auto& name : NamesIn(folder)) {
    const std::string child = folder + "/" + name;
    struct stat st {};
    if (::lstat(child.c_str(), &st) != 0 || S_ISLNK(st.st_mode) || ReadNtsd(child)) continue;
    if (S_ISDIR(st.st_mode))
      ok = KeepFilesLists(child, AsInherited(sd, true)) && ok;
    else if (keep)
      ok = WriteNtsd(child, files) && ok;
  }
  return ok;
}

// Passes a folder's inheritable entries on to everything below it that has a descriptor of its
// own (the others inherit when asked); `before` is the folder's list until now, which the files
// that keep it without storing it had (see FilesKeepWhatTheyHad). Links are never followed.
void PropagateFiles(const std::string& folder, const SecurityDescriptor& before,
                    const SecurityDescriptor& sd) {
  // The files without a list of their own need one written only when what they keep differs
  // from what they would read from the folder's new list (its owner or group changed).
  bool keep = FilesKeepWhatTheyHad(before);
  if (keep && ReinheritDescriptor(AsInherited(before, false), sd, false, kFileMapping).ToSddl() ==
                  AsInherited(sd, false).ToSddl())
    keep = false;
  // The files of a folder mostly store the same few texts: each one's new text is made once
  // (none for one that cannot be read), and a text that stays is not written again.
  std::unordered_map<std::string, std::optional<std::string>> fileTexts;
  for (const auto& name : NamesIn(folder)) {
    std::string child = folder + "/" + name;
    struct stat st {};
    if (::lstat(child.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    const bool dir = S_ISDIR(st.st_mode);
    std::optional<SecurityDescriptor> had;
    std::optional<std::string> stored = ReadNtsdBytes(child);
    if (stored && !dir) {
      auto it = fileTexts.find(*stored);
      if (it == fileTexts.end()) {
        std::optional<std::string> text;
        auto parsed = Parse(FromUtf8(*stored));
        if (parsed->sd)
          text = ToUtf8(ReinheritDescriptor(*parsed->sd, sd, false, kFileMapping).ToSddl());
        if (fileTexts.size() >= 64) fileTexts.clear();
        it = fileTexts.emplace(*stored, std::move(text)).first;
      }
      // Unreadable: left as it is, still denying.
      if (it->second && *it->second != *stored)
        ::lsetxattr(child.c_str(), kNtsd, it->second->data(), it->second->size(), 0);
      continue;
    }
    if (stored) {
      auto parsed = Parse(FromUtf8(*stored));
      if (!parsed->sd) continue;  // unreadable: left as it is, still denying
      had = *parsed->sd;
    } else if (!dir && keep) {
      had = AsInherited(before, false);
    }
    if (had) {
      SecurityDescriptor childSd = ReinheritDescriptor(*had, sd, dir, kFileMapping);
      WriteNtsd(child, childSd);
      if (dir && !(childSd.control & SE_DACL_PROTECTED)) PropagateFiles(child, *had, childSd);
    } else if (dir) {
      PropagateFiles(child, AsInherited(before, true), AsInherited(sd, true));
    }
  }
}

}  // namespace

DWORD GetObjectSecurity(std::wstring_view name, SE_OBJECT_TYPE type, SecurityDescriptor& sd) {
  if (type == SE_FILE_OBJECT) {
    HostLocation loc;
    DWORD s = ResolvePath(name, loc);
    if (s != ERROR_SUCCESS) return s;
    if (!loc.exists) return ERROR_FILE_NOT_FOUND;
    return FileSecurity(loc.hostPath, loc.driveRoot, loc.windowsPath, sd);
  }
  if (type == SE_REGISTRY_KEY) {
    KeyName k;
    if (!SplitObjectKey(name, k)) return ERROR_INVALID_PARAMETER;
    return KeySecurity(k, std::wstring(name), sd);
  }
  return ERROR_INVALID_PARAMETER;
}

DWORD GetNamedSecurityInfoW(const wchar_t* name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                            PSID* owner, PSID* group, ACL** dacl, ACL** sacl,
                            PSECURITY_DESCRIPTOR* sd) {
  if (!name) return ERROR_INVALID_PARAMETER;
  SecurityDescriptor value;
  DWORD s = GetObjectSecurity(name, type, value);
  if (s != ERROR_SUCCESS) return s;
  return HandOut(value, info, owner, group, dacl, sacl, sd);
}

DWORD GetSecurityInfo(HKEY key, SE_OBJECT_TYPE type, SECURITY_INFORMATION info, PSID* owner,
                      PSID* group, ACL** dacl, ACL** sacl, PSECURITY_DESCRIPTOR* sd) {
  if (type != SE_REGISTRY_KEY) return ERROR_INVALID_PARAMETER;
  std::wstring sddl;
  LSTATUS s = RegGetKeyEffectiveSddl(key, sddl);
  if (s != ERROR_SUCCESS) return static_cast<DWORD>(s);
  SecurityDescriptor value;
  if (!sddl.empty()) {
    auto parsed = Parse(sddl);
    if (!parsed->sd) {
      Report(L"registry key", sddl, parsed->error);
      return ERROR_INVALID_SECURITY_DESCR;
    }
    value = *parsed->sd;
  }
  return HandOut(value, info, owner, group, dacl, sacl, sd);
}

namespace {

// Whether the current token may change the parts `info` of an object whose descriptor is
// `current`: ERROR_SUCCESS or ERROR_ACCESS_DENIED.
DWORD MayChange(const SecurityDescriptor& current, SECURITY_INFORMATION info,
                const GENERIC_MAPPING& mapping) {
  ACCESS_MASK need = 0;
  if (info & (DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION |
              UNPROTECTED_DACL_SECURITY_INFORMATION))
    need |= WRITE_DAC;
  if (info & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) need |= WRITE_OWNER;
  if (info & SACL_SECURITY_INFORMATION) need |= ACCESS_SYSTEM_SECURITY;
  auto token = CurrentToken();
  ACCESS_MASK granted = GrantedAccess(current, *token, mapping);
  if (need & ACCESS_SYSTEM_SECURITY) {
    const TokenPrivilege* p = token->Privilege(L"SeSecurityPrivilege");
    if (p) granted |= ACCESS_SYSTEM_SECURITY;
  }
  return (need & ~granted) != 0 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

// The descriptor of the existing file or folder at `loc` (`source` as FileSecurity gives it).
DWORD LocatedFileSecurity(const HostLocation& loc, SecurityDescriptor& sd,
                          std::wstring* source = nullptr) {
  if (!loc.exists) return ERROR_FILE_NOT_FOUND;
  return FileSecurity(loc.hostPath, loc.driveRoot, loc.windowsPath, sd, source);
}

// The text a file's new list is stored as, by what it follows from: the file's old descriptor
// and its folder's (their sources), the parts written and the new list's bytes. A tree granted
// entry by entry asks for the same few again and again. Bounded; the lock makes it safe for
// more than one thread.
class StoredTexts {
 public:
  static StoredTexts& Instance() {
    static auto* texts = new StoredTexts();
    return *texts;
  }
  // The key, or "" when the inputs do not make one.
  static std::wstring Key(const std::wstring& object, const std::wstring& folder,
                          SECURITY_INFORMATION info, const ACL* dacl) {
    if (object.empty() || folder.empty() || !dacl) return L"";
    const DWORD error = GetLastError();
    ACL_SIZE_INFORMATION size{};
    const bool valid = GetAclInformation(dacl, &size, sizeof size, AclSizeInformation);
    SetLastError(error);
    if (!valid) return L"";
    // Fixed-width numbers: the parts cannot run into each other.
    auto number = [](std::wstring& out, std::uint32_t v) {
      for (int shift = 28; shift >= 0; shift -= 4) out += L"0123456789abcdef"[(v >> shift) & 15];
    };
    std::wstring key;
    key.reserve(object.size() + folder.size() + size.AclBytesInUse + 24);
    number(key, info);
    number(key, static_cast<std::uint32_t>(object.size()));
    key += object;
    number(key, static_cast<std::uint32_t>(folder.size()));
    key += folder;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(dacl);
    for (DWORD i = 0; i < size.AclBytesInUse; ++i) key += static_cast<wchar_t>(bytes[i]);
    return key;
  }
  // The text kept for `key` into `text`; false when none is kept.
  bool Find(const std::wstring& key, std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = texts_.find(key);
    if (it == texts_.end()) return false;
    text = it->second;
    return true;
  }
  void Keep(const std::wstring& key, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (texts_.size() >= 256) texts_.clear();
    texts_.emplace(key, text);
  }

 private:
  std::mutex mutex_;
  std::unordered_map<std::wstring, std::string> texts_;
};

// SetNamedSecurityInfoW on the file or folder at `loc`, whose descriptor is `current` (which
// follows from `source` alone, "" when not known).
DWORD SetLocatedFileSecurity(const HostLocation& loc, SecurityDescriptor current,
                             SECURITY_INFORMATION info, PSID owner, PSID group, const ACL* dacl,
                             const ACL* sacl, const std::wstring& source = L"") {
  if (DWORD s = MayChange(current, info, kFileMapping)) return s;
  if (loc.readOnlyVolume) return ERROR_WRITE_PROTECT;
  const DriveConfig* drive = loc.drive ? CurrentConfig().Drive(loc.drive) : nullptr;
  if (drive && !drive->PersistentAcls()) return ERROR_NOT_SUPPORTED;
  const bool dir = IsDir(loc.hostPath);
  std::optional<SecurityDescriptor> parent;
  std::wstring parentSource;
  if (loc.hostPath.size() > loc.driveRoot.size()) {
    SecurityDescriptor p;
    if (FileSecurity(ParentOf(loc.hostPath), loc.driveRoot, loc.windowsPath, p, &parentSource) ==
        ERROR_SUCCESS)
      parent = std::move(p);
  }
  // A file's new text follows from its old descriptor, its folder's and the list written alone
  // when only the list is written; a folder's descriptor is passed on below it as well.
  const std::wstring key = dir || owner || group || sacl || !parent
                               ? std::wstring()
                               : StoredTexts::Key(source, parentSource, info, dacl);
  std::string text;
  if (key.empty() || !StoredTexts::Instance().Find(key, text)) {
    if (!current.dacl) current.dacl = std::vector<Ace>{};
    SecurityDescriptor updated = Merge(current, info, owner, group, dacl, sacl);
    if ((info & DACL_SECURITY_INFORMATION) && dacl)
      updated = WithInherited(updated, parent, dir, kFileMapping);
    text = ToUtf8(updated.ToSddl());
    if (!key.empty()) StoredTexts::Instance().Keep(key, text);
    if (dir) {
      if (::lsetxattr(loc.hostPath.c_str(), kNtsd, text.data(), text.size(), 0) != 0)
        return ERROR_ACCESS_DENIED;
      PropagateFiles(loc.hostPath, current, updated);
      return ERROR_SUCCESS;
    }
  }
  if (::lsetxattr(loc.hostPath.c_str(), kNtsd, text.data(), text.size(), 0) != 0)
    return ERROR_ACCESS_DENIED;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD EditFileDacl(std::wstring_view path, const FileDaclEdit& edit, DaclEditStage& stage) {
  stage = DaclEditStage::read;
  HostLocation loc;
  SecurityDescriptor current;
  std::wstring source;
  DWORD s = ResolvePath(path, loc);
  if (s == ERROR_SUCCESS) s = LocatedFileSecurity(loc, current, &source);
  PSECURITY_DESCRIPTOR block = nullptr;
  ACL* dacl = nullptr;
  if (s == ERROR_SUCCESS)
    s = HandOut(current, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &block);
  if (s != ERROR_SUCCESS) return s;
  stage = DaclEditStage::edit;
  SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
  const ACL* acl = nullptr;
  s = edit(block, dacl, what, acl);
  LocalFree(block);
  if (s != ERROR_SUCCESS) return s;
  stage = DaclEditStage::write;
  return SetLocatedFileSecurity(loc, std::move(current), what, nullptr, nullptr, acl, nullptr,
                                source);
}

DWORD SetNamedSecurityInfoW(const wchar_t* name, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                            PSID owner, PSID group, const ACL* dacl, const ACL* sacl) {
  if (!name) return ERROR_INVALID_PARAMETER;
  if (type == SE_FILE_OBJECT) {
    HostLocation loc;
    SecurityDescriptor current;
    std::wstring source;
    DWORD s = ResolvePath(name, loc);
    if (s == ERROR_SUCCESS) s = LocatedFileSecurity(loc, current, &source);
    if (s != ERROR_SUCCESS) return s == ERROR_INVALID_SECURITY_DESCR ? ERROR_ACCESS_DENIED : s;
    return SetLocatedFileSecurity(loc, std::move(current), info, owner, group, dacl, sacl, source);
  }
  SecurityDescriptor current;
  DWORD s = GetObjectSecurity(name, type, current);
  if (s != ERROR_SUCCESS) return s == ERROR_INVALID_SECURITY_DESCR ? ERROR_ACCESS_DENIED : s;
  if ((s = MayChange(current, info, kKeyMapping)) != ERROR_SUCCESS) return s;
  if (!current.dacl) current.dacl = std::vector<Ace>{};
  SecurityDescriptor updated = Merge(current, info, owner, group, dacl, sacl);

  if (type == SE_REGISTRY_KEY) {
    KeyName k;
    if (!SplitObjectKey(name, k)) return ERROR_INVALID_PARAMETER;
    HKEY key = k.root;
    if (!k.subKey.empty()) {
      LSTATUS ls = RegOpenKeyExW(k.root, k.subKey.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &key);
      if (ls != ERROR_SUCCESS) return static_cast<DWORD>(ls);
    }
    // The parent's descriptor gives the inherited entries.
    if ((info & DACL_SECURITY_INFORMATION) && dacl && !k.subKey.empty()) {
      std::wstring parentName(name);
      parentName = parentName.substr(0, parentName.find_last_of(L'\\'));
      SecurityDescriptor p;
      if (GetObjectSecurity(parentName, SE_REGISTRY_KEY, p) == ERROR_SUCCESS && p.dacl)
        updated = WithInherited(updated, p, true, kKeyMapping);
    }
    // Sub-keys without a descriptor of their own inherit when asked; those with one are
    // brought up to date.
    std::function<void(HKEY, const SecurityDescriptor&)> propagate =
        [&](HKEY parentKey, const SecurityDescriptor& parentSd) {
          std::vector<std::wstring> subKeys;
          for (DWORD i = 0;; ++i) {
            wchar_t subName[256];
            DWORD chars = 256;
            if (RegEnumKeyExW(parentKey, i, subName, &chars, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
              break;
            subKeys.emplace_back(subName, chars);
          }
          for (const auto& sub : subKeys) {
            HKEY child = nullptr;
            if (RegOpenKeyExW(parentKey, sub.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &child) !=
                ERROR_SUCCESS)
              continue;
            std::wstring own;
            RegGetKeySecuritySddl(child, own);
            SecurityDescriptor childSd;
            if (!own.empty()) {
              auto parsed = Parse(own);
              if (parsed->sd) {
                childSd = ReinheritDescriptor(*parsed->sd, parentSd, true, kKeyMapping);
                RegSetKeySecuritySddl(child, childSd.ToSddl());
              }
            } else {
              childSd = InheritDescriptor(parentSd, true, OwnerOnly(parentSd), kKeyMapping);
            }
            if (!(childSd.control & SE_DACL_PROTECTED)) propagate(child, childSd);
            RegCloseKey(child);
          }
        };
    LSTATUS ls = RegSetKeySecuritySddl(key, updated.ToSddl());
    if (ls == ERROR_SUCCESS) propagate(key, updated);
    if (key != k.root) RegCloseKey(key);
    return static_cast<DWORD>(ls);
  }
  return ERROR_INVALID_PARAMETER;
}

DWORD CheckObjectAccess(std::wstring_view name, SE_OBJECT_TYPE type, ACCESS_MASK desired) {
  if (!desired) return ERROR_SUCCESS;
  SecurityDescriptor sd;
  DWORD s = GetObjectSecurity(name, type, sd);
  if (s == ERROR_INVALID_SECURITY_DESCR) return ERROR_ACCESS_DENIED;
  if (s != ERROR_SUCCESS) return s;
  return AccessCheck(sd, *CurrentToken(), desired,
                     type == SE_FILE_OBJECT ? kFileMapping : kKeyMapping)
             ? ERROR_SUCCESS
             : ERROR_ACCESS_DENIED;
}

// ---------------------------------------------------------------------------------------------
// The file layer's hooks

namespace {

DWORD CheckFileAccess(const std::string& host, const std::string& driveRoot,
                      const std::wstring& windowsPath, DWORD desired) {
  SecurityDescriptor sd;
  if (FileSecurity(host, driveRoot, windowsPath, sd) != ERROR_SUCCESS) return ERROR_ACCESS_DENIED;
  if (sd.dacl && !AccessCheck(sd, *CurrentToken(), desired, kFileMapping))
    return ERROR_ACCESS_DENIED;
  // Through a share, the share's own descriptor must grant the change as well.
  return CheckShareAccess(windowsPath, desired);
}

// What a new object in the folder `parentHost` stores as its own descriptor ("" for nothing):
// it follows from the folder's own descriptor, its kind and the creator, and is kept for the
// folders met last, as an extraction creates one file after another in the same few folders.
// False when the folder's descriptor cannot be read.
bool InheritedText(const std::string& parentHost, const std::string& driveRoot, bool isDir,
                   std::string& text) {
  struct Inherited {
    std::shared_ptr<const Token> token;
    std::unordered_map<std::wstring, std::string> texts;  // "" when nothing is stored
  };
  static std::mutex mutex;
  static auto* cache = new Inherited();
  text.clear();
  const std::shared_ptr<const Token> token = CurrentToken();
  const std::optional<std::wstring> own = ReadNtsd(parentHost);
  const std::wstring key = own ? (isDir ? L"D" : L"F") + *own : std::wstring();
  if (own) {
    std::lock_guard<std::mutex> lock(mutex);
    if (cache->token != token) {
      cache->token = token;
      cache->texts.clear();
    }
    auto it = cache->texts.find(key);
    if (it != cache->texts.end()) {
      text = it->second;
      return true;
    }
  }
  SecurityDescriptor parent;
  if (FileSecurity(parentHost, driveRoot, L"", parent) != ERROR_SUCCESS) return false;
  // Only what depends on the creator is stored; the rest is inherited when asked. A file whose
  // creator is the folder's owner reads, without a list of its own, what it would store.
  const Token folderOwner = OwnerOnly(parent);
  const bool asFolderOwner =
      token->owner == folderOwner.owner && token->primaryGroup == folderOwner.primaryGroup;
  if (parent.dacl && HasCreatorEntries(parent) && (isDir || !asFolderOwner))
    text = ToUtf8(InheritDescriptor(parent, isDir, *token, kFileMapping).ToSddl());
  if (own) {
    std::lock_guard<std::mutex> lock(mutex);
    if (cache->texts.size() > 256) cache->texts.clear();
    if (cache->token == token) cache->texts.emplace(key, text);
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The registry's hooks

void InstallSecurityService() {
  RegistrySecurityHooks hooks;
  hooks.inherit = [](const std::wstring& parentSddl, const std::wstring&, bool store) {
    if (parentSddl.empty()) return std::wstring();
    auto parsed = Parse(parentSddl);
    if (!parsed->sd) return store ? std::wstring() : parentSddl;  // stays unreadable: denies
    if (store) {
      if (!HasCreatorEntries(*parsed->sd)) return std::wstring();
      return InheritDescriptor(*parsed->sd, true, *CurrentToken(), kKeyMapping).ToSddl();
    }
    static std::mutex mutex;
    static auto* cache = new std::unordered_map<std::wstring, std::wstring>();
    {
      std::lock_guard<std::mutex> lock(mutex);
      auto it = cache->find(parentSddl);
      if (it != cache->end()) return it->second;
    }
    std::wstring child =
        InheritDescriptor(*parsed->sd, true, OwnerOnly(*parsed->sd), kKeyMapping).ToSddl();
    std::lock_guard<std::mutex> lock(mutex);
    if (cache->size() > 4096) cache->clear();
    cache->emplace(parentSddl, child);
    return child;
  };
  hooks.check = [](const std::wstring& sddl, const std::wstring& keyPath, REGSAM desired) -> DWORD {
    desired &= ~KEY_WOW64_RES;
    if (sddl.empty() || !desired) return ERROR_SUCCESS;
    auto parsed = Parse(sddl);
    if (!parsed->sd) {
      Report(keyPath, sddl, parsed->error);
      return ERROR_ACCESS_DENIED;
    }
    return AccessCheck(*parsed->sd, *CurrentToken(), desired, kKeyMapping) ? ERROR_SUCCESS
                                                                           : ERROR_ACCESS_DENIED;
  };
  // The token is made of the machine's configuration alone.
  hooks.identity = [] { return Machine::Current().Revision(); };
  SetRegistrySecurityHooks(std::move(hooks));

  FileSecurityHooks files;
  files.check = CheckFileAccess;
  files.created = [](const std::string& host, const std::string& driveRoot, bool isDir) {
    if (host.size() <= driveRoot.size()) return;
    std::string text;
    if (InheritedText(ParentOf(host), driveRoot, isDir, text) && !text.empty())
      ::lsetxattr(host.c_str(), kNtsd, text.data(), text.size(), 0);
  };
  files.prepare = [](const std::string& folderHost, const std::string& driveRoot,
                     const std::wstring& windowsPath, bool isDir, std::string& stored) -> DWORD {
    stored.clear();
    const DWORD add = isDir ? 0x0004u /* FILE_ADD_SUBDIRECTORY */ : 0x0002u /* FILE_ADD_FILE */;
    if (DWORD rc = CheckFileAccess(folderHost, driveRoot, windowsPath, add)) return rc;
    InheritedText(folderHost, driveRoot, isDir, stored);
    return ERROR_SUCCESS;
  };
  files.leaving = [](const std::string& host, const std::string& driveRoot) -> DWORD {
    if (host.size() <= driveRoot.size() || ReadNtsd(host)) return ERROR_SUCCESS;
    SecurityDescriptor sd;
    bool ok = true;
    if (IsDir(host)) {
      if (FileSecurity(host, driveRoot, L"", sd) == ERROR_SUCCESS) ok = KeepFilesLists(host, sd);
    } else if (FileSecurity(ParentOf(host), driveRoot, L"", sd) == ERROR_SUCCESS &&
               FilesKeepWhatTheyHad(sd)) {
      ok = WriteNtsd(host, AsInherited(sd, false));
    }
    // Moved without it, the object would take another list.
    return ok ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
  };
  SetFileSecurityHooks(std::move(files));
}

// ---------------------------------------------------------------------------------------------
// A fresh machine

namespace {

const wchar_t kTrustedInstaller[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

std::wstring SystemFolderSddl() {
  std::wstring ti = kTrustedInstaller;
  return L"O:" + ti + L"G:" + ti + L"D:PAI(A;;FA;;;" + ti + L")(A;CIIO;GA;;;" + ti +
         L")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
         L"(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)"
         L"(A;OICIIO;GXGR;;;AC)";
}

}  // namespace

void ApplyDefaultSecurity(const Machine& machine) {
  const MachineConfig& c = machine.Config();
  const bool xp = c.os.major < 6;
  auto setFile = [&](const std::wstring& path, const std::wstring& sddl) {
    std::string host = HostPathOf(machine, path);
    if (host.empty()) return;
    std::string text = ToUtf8(sddl);
    ::lsetxattr(host.c_str(), kNtsd, text.data(), text.size(), 0);
  };
  const DriveConfig* drive = c.Drive(L'C');
  if (drive && drive->PersistentAcls() && !drive->readOnly) {
    setFile(L"C:\\",
            L"O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;;LC;;;AU)"
            L"(A;OICIIO;SDGXGWGR;;;AU)(A;OICIIO;GA;;;CO)");
    const std::wstring system = SystemFolderSddl();
    setFile(L"C:\\Windows", system);
    setFile(L"C:\\Program Files", system);
    if (c.os.is64Bit) setFile(L"C:\\Program Files (x86)", system);
    setFile(L"C:\\Windows\\Temp",
            L"O:SYG:SYD:PAI(A;OICIIO;GA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
            L"(A;CI;0x100026;;;BU)");
    const std::wstring common = SpecialFolderPath(c, CSIDL_COMMON_APPDATA);
    if (!xp)
      setFile(common,
              L"O:SYG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)"
              L"(A;OICI;0x1200a9;;;BU)(A;CI;0x100116;;;BU)");
    std::wstring profiles = xp ? L"C:\\Documents and Settings" : L"C:\\Users";
    setFile(profiles,
            L"O:SYG:SYD:PAI(A;OICIIO;GA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
            L"(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;WD)");
    for (const auto& [user, sid] :
         {std::pair{c.userName, UserSidOf(c)}, std::pair{SecondUserNameOf(c), SecondUserSidOf(c)}})
      setFile(SpecialFolderPath(c, CSIDL_PROFILE, user),
              L"O:" + sid + L"G:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + L")");
  }
  // The registry roots.
  SetStoredKeySecurity(machine, L"", L"",
                       L"O:SYG:SYD:PAI(A;CI;KR;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)(A;CI;KR;;;AC)");
  const std::wstring software =
      L"O:BAG:SYD:PAI(A;CIIO;KA;;;CO)(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)(A;CI;KR;;;AC)";
  SetStoredKeySecurity(machine, L"", L"SOFTWARE", software);
  // The 32-bit view has a list of its own, the same.
  if (c.os.is64Bit) SetStoredKeySecurity(machine, L"", L"SOFTWARE\\WOW6432Node", software);
  SetStoredKeySecurity(machine, L"", L"SYSTEM",
                       L"O:BAG:SYD:PAI(A;CI;KR;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)(A;CIIO;KA;;;CO)"
                       L"(A;CI;KR;;;AC)");
  for (const std::wstring& sid : {UserSidOf(c), SecondUserSidOf(c)})
    SetStoredKeySecurity(
        machine, sid, L"",
        L"O:" + sid + L"G:SYD:P(A;CI;KA;;;" + sid + L")(A;CI;KA;;;SY)(A;CI;KA;;;BA)");
  for (const wchar_t* hive : {L".DEFAULT", L"S-1-5-18"})
    SetStoredKeySecurity(machine, hive, L"",
                         L"O:SYG:SYD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)");

  // machine.ini [security]: "PATH = SDDL" and "HKLM\KEY = SDDL".
  for (const auto& [key, value] : c.raw) {
    if (key.rfind("security/", 0) != 0) continue;
    std::wstring object = FromUtf8(key.substr(9));
    std::wstring why;
    if (!SecurityDescriptor::FromSddl(value, &why))
      throw MachineError(machine.IniPath() + ": [security] " + ToUtf8(object) +
                         ": the security descriptor cannot be read (" + ToUtf8(why) + ")");
    HKEY root = nullptr;
    std::wstring sub;
    if (object.size() >= 2 && object[1] == L':') {
      std::string host = HostPathOf(machine, object);
      if (host.empty())
        throw MachineError(machine.IniPath() + ": [security] " + ToUtf8(object) +
                           ": no such file or folder");
      std::string text = ToUtf8(value);
      ::lsetxattr(host.c_str(), kNtsd, text.data(), text.size(), 0);
    } else if (SplitRootKey(object, root, sub) && root == HKEY_LOCAL_MACHINE) {
      SetStoredKeySecurity(machine, L"", sub, value);
    } else if (root == HKEY_CURRENT_USER) {
      SetStoredKeySecurity(machine, UserSidOf(c), sub, value);
    } else {
      throw MachineError(machine.IniPath() + ": [security] " + ToUtf8(object) +
                         ": a path (C:\\...) or a key (HKLM\\..., HKCU\\...) is expected");
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Readable listings

namespace {

std::wstring AccountName(const Sid& sid) {
  const Account* a = AccountTable::Current().FindSid(sid);
  if (!a) return sid.ToString();
  return a->domain.empty() ? a->name : a->domain + L"\\" + a->name;
}

std::wstring Hex8(DWORD v) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"0x%08X", v);
  return buf;
}

std::wstring RightsWords(ACCESS_MASK m, SE_OBJECT_TYPE type) {
  const GENERIC_MAPPING& map = type == SE_FILE_OBJECT ? kFileMapping : kKeyMapping;
  m = MapGenericMask(m, map);
  if (type == SE_FILE_OBJECT) {
    if (m == FILE_ALL_ACCESS) return L"full control";
    if (m == (FILE_ALL_ACCESS & ~(WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD))) return L"modify";
    if (m == (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE)) return L"read and execute";
    if (m == FILE_GENERIC_READ) return L"read";
  } else {
    if (m == KEY_ALL_ACCESS) return L"full control";
    if (m == KEY_READ) return L"read";
  }
  return L"special";
}

}  // namespace

std::wstring DescribeSecurity(const SecurityDescriptor& sd, SE_OBJECT_TYPE type) {
  std::wstring out;
  out += L"Owner: " + (sd.owner ? AccountName(*sd.owner) : std::wstring(L"(none)")) + L"\n";
  out += L"Group: " + (sd.group ? AccountName(*sd.group) : std::wstring(L"(none)")) + L"\n";
  if (!sd.dacl) return out + L"Access: no access list (full control for everyone)\n";
  out +=
      std::wstring(L"Access:") + (sd.control & SE_DACL_PROTECTED ? L" (protected)" : L"") + L"\n";
  if (sd.dacl->empty()) out += L"  (empty: no access for anyone)\n";
  for (const Ace& a : *sd.dacl) {
    std::wstring kind = a.type == ACCESS_ALLOWED_ACE_TYPE  ? L"Allow"
                        : a.type == ACCESS_DENIED_ACE_TYPE ? L"Deny "
                                                           : L"Other";
    std::wstring flags;
    if (a.flags & OBJECT_INHERIT_ACE) flags += L"(OI)";
    if (a.flags & CONTAINER_INHERIT_ACE) flags += L"(CI)";
    if (a.flags & NO_PROPAGATE_INHERIT_ACE) flags += L"(NP)";
    if (a.flags & INHERIT_ONLY_ACE) flags += L"(IO)";
    if (a.flags & INHERITED_ACE) flags += L"(I)";
    out += L"  " + kind + L"  " + AccountName(a.sid) + L"  " + Hex8(a.mask) + L" " +
           RightsWords(a.mask, type) + (flags.empty() ? L"" : L"  " + flags) + L"\n";
  }
  return out;
}

std::wstring DescribeToken(const Token& t) {
  std::wstring out = L"USER INFORMATION\n----------------\n";
  out += AccountName(t.user) + L"  " + t.user.ToString() +
         L"\n\nGROUP INFORMATION\n-----------------\n";
  for (const TokenGroup& g : t.groups) {
    const Account* a = AccountTable::Current().FindSid(g.sid);
    std::wstring type = !a                       ? L"Unknown"
                        : a->use == SidTypeAlias ? L"Alias"
                        : a->use == SidTypeGroup ? L"Group"
                        : a->use == SidTypeLabel ? L"Label"
                                                 : L"Well-known group";
    std::wstring attrs;
    auto add = [&](const wchar_t* text) {
      attrs += (attrs.empty() ? L"" : L", ") + std::wstring(text);
    };
    if (g.attributes & SE_GROUP_MANDATORY) add(L"Mandatory group");
    if (g.attributes & SE_GROUP_ENABLED_BY_DEFAULT) add(L"Enabled by default");
    if (g.attributes & SE_GROUP_ENABLED) add(L"Enabled group");
    if (g.attributes & SE_GROUP_OWNER) add(L"Group owner");
    if (g.attributes & SE_GROUP_USE_FOR_DENY_ONLY) add(L"Group used for deny only");
    if (g.attributes & SE_GROUP_RESOURCE) add(L"Local group");
    if (g.attributes & SE_GROUP_INTEGRITY) add(L"Integrity");
    out += AccountName(g.sid) + L"  " + type + L"  " + g.sid.ToString() + L"  " + attrs + L"\n";
  }
  out += L"\nPRIVILEGES INFORMATION\n----------------------\n";
  for (const TokenPrivilege& p : t.privileges) {
    wchar_t display[256];
    DWORD n = 256, lang = 0;
    LookupPrivilegeDisplayNameW(nullptr, p.name.c_str(), display, &n, &lang);
    out += p.name + L"  " + display + L"  " +
           (p.attributes & SE_PRIVILEGE_ENABLED ? L"Enabled" : L"Disabled") + L"\n";
  }
  out += L"\nElevation: ";
  if (!t.hasElevation)
    out += L"not known to this Windows";
  else
    out += std::wstring(t.elevated ? L"elevated" : L"not elevated") + L", type " +
           (t.elevationType == TokenElevationTypeFull      ? L"full"
            : t.elevationType == TokenElevationTypeLimited ? L"limited"
                                                           : L"default") +
           L", integrity " + AccountName(IntegrityLabelSid(t.integrity)) +
           (t.linked ? L", linked token present" : L"");
  return out + L"\n";
}

}  // namespace platform
