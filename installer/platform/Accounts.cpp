#include "platform/Accounts.h"

#include "platform/Machine.h"
#include "platform/Text.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace platform {

// ---------------------------------------------------------------------------------------------
// SIDs

namespace {

bool ValidBytes(const BYTE* p) {
  return p && p[0] == SID_REVISION && p[1] <= SID_MAX_SUB_AUTHORITIES;
}
std::size_t SidBytes(unsigned count) { return 8 + 4 * static_cast<std::size_t>(count); }

bool ParseDecimal(std::wstring_view text, std::uint64_t limit, std::uint64_t& value) {
  if (text.empty() || text.size() > 20) return false;
  value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<unsigned>(c - L'0');
    if (value > limit) return false;
  }
  return true;
}

struct Abbreviation {
  const wchar_t* code;
  const wchar_t* sid;  // text form; "" with a domain RID
  DWORD domainRid;
};
// The SDDL abbreviations of SIDs (the ones a descriptor of this machine may use).
constexpr Abbreviation kAbbreviations[] = {
    {L"WD", L"S-1-1-0", 0},
    {L"CO", L"S-1-3-0", 0},
    {L"CG", L"S-1-3-1", 0},
    {L"OW", L"S-1-3-4", 0},
    {L"NU", L"S-1-5-2", 0},
    {L"IU", L"S-1-5-4", 0},
    {L"SU", L"S-1-5-6", 0},
    {L"AN", L"S-1-5-7", 0},
    {L"AU", L"S-1-5-11", 0},
    {L"SY", L"S-1-5-18", 0},
    {L"LS", L"S-1-5-19", 0},
    {L"NS", L"S-1-5-20", 0},
    {L"BA", L"S-1-5-32-544", 0},
    {L"BU", L"S-1-5-32-545", 0},
    {L"BG", L"S-1-5-32-546", 0},
    {L"PU", L"S-1-5-32-547", 0},
    {L"BO", L"S-1-5-32-551", 0},
    {L"RD", L"S-1-5-32-555", 0},
    {L"NO", L"S-1-5-32-556", 0},
    {L"MU", L"S-1-5-32-558", 0},
    {L"LU", L"S-1-5-32-559", 0},
    {L"ER", L"S-1-5-32-573", 0},
    {L"AC", L"S-1-15-2-1", 0},
    {L"LW", L"S-1-16-4096", 0},
    {L"ME", L"S-1-16-8192", 0},
    {L"HI", L"S-1-16-12288", 0},
    {L"SI", L"S-1-16-16384", 0},
    {L"LA", L"", DOMAIN_USER_RID_ADMIN},
    {L"LG", L"", DOMAIN_USER_RID_GUEST},
    {L"DA", L"", DOMAIN_GROUP_RID_ADMINS},
    {L"DU", L"", DOMAIN_GROUP_RID_USERS},
    {L"DG", L"", DOMAIN_GROUP_RID_GUESTS},
    {L"DC", L"", DOMAIN_GROUP_RID_COMPUTERS},
    {L"SA", L"", DOMAIN_GROUP_RID_SCHEMA_ADMINS},
    {L"EA", L"", DOMAIN_GROUP_RID_ENTERPRISE_ADMINS},
};

}  // namespace

Sid::Sid(const SID_IDENTIFIER_AUTHORITY& authority, std::initializer_list<DWORD> subAuthorities) {
  bytes_.assign(SidBytes(static_cast<unsigned>(subAuthorities.size())), 0);
  bytes_[0] = SID_REVISION;
  bytes_[1] = static_cast<BYTE>(subAuthorities.size());
  std::memcpy(&bytes_[2], authority.Value, 6);
  std::size_t i = 0;
  for (DWORD s : subAuthorities) std::memcpy(&bytes_[8 + 4 * i++], &s, 4);
}

Sid Sid::FromPsid(const void* psid) {
  Sid s;
  const BYTE* p = static_cast<const BYTE*>(psid);
  if (!ValidBytes(p)) return s;
  s.bytes_.assign(p, p + SidBytes(p[1]));
  return s;
}

std::optional<Sid> Sid::Parse(std::wstring_view text, const Sid* domain) {
  if (text.size() == 2) {
    for (const Abbreviation& a : kAbbreviations) {
      if (!EqualsNoCase(std::wstring(text), a.code)) continue;
      if (a.domainRid) {
        if (!domain || domain->Empty()) return std::nullopt;
        return domain->WithRid(a.domainRid);
      }
      return Parse(a.sid);
    }
    return std::nullopt;
  }
  if (text.size() < 4 || (text[0] != L'S' && text[0] != L's') || text[1] != L'-')
    return std::nullopt;
  std::vector<std::wstring_view> parts;
  std::size_t start = 2;
  while (true) {
    std::size_t dash = text.find(L'-', start);
    parts.push_back(text.substr(start, dash == std::wstring_view::npos ? dash : dash - start));
    if (dash == std::wstring_view::npos) break;
    start = dash + 1;
  }
  if (parts.size() < 2 || parts.size() - 2 > SID_MAX_SUB_AUTHORITIES) return std::nullopt;
  std::uint64_t revision = 0, authority = 0;
  if (!ParseDecimal(parts[0], 255, revision) || revision != SID_REVISION) return std::nullopt;
  // The authority is decimal, or hexadecimal ("0x...") when it does not fit 32 bits.
  if (parts[1].size() > 2 && parts[1][0] == L'0' && (parts[1][1] == L'x' || parts[1][1] == L'X')) {
    authority = 0;
    for (wchar_t c : parts[1].substr(2)) {
      int d = c >= L'0' && c <= L'9'   ? c - L'0'
              : c >= L'a' && c <= L'f' ? c - L'a' + 10
              : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                       : -1;
      if (d < 0 || authority > (0xFFFFFFFFFFFFull >> 4)) return std::nullopt;
      authority = authority * 16 + static_cast<unsigned>(d);
    }
  } else if (!ParseDecimal(parts[1], 0xFFFFFFFFull, authority)) {
    return std::nullopt;
  }
  Sid s;
  s.bytes_.assign(SidBytes(static_cast<unsigned>(parts.size() - 2)), 0);
  s.bytes_[0] = SID_REVISION;
  s.bytes_[1] = static_cast<BYTE>(parts.size() - 2);
  for (int i = 0; i < 6; ++i) s.bytes_[2 + i] = static_cast<BYTE>(authority >> (8 * (5 - i)));
  for (std::size_t i = 2; i < parts.size(); ++i) {
    std::uint64_t v = 0;
    if (!ParseDecimal(parts[i], 0xFFFFFFFFull, v)) return std::nullopt;
    DWORD d = static_cast<DWORD>(v);
    std::memcpy(&s.bytes_[8 + 4 * (i - 2)], &d, 4);
  }
  return s;
}

std::wstring Sid::ToString() const {
  if (bytes_.empty()) return L"";
  std::uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | bytes_[2 + i];
  std::wstring out = L"S-1-";
  if (authority >> 32) {
    wchar_t buf[24];
    std::swprintf(buf, 24, L"0x%012llX", static_cast<unsigned long long>(authority));
    out += buf;
  } else {
    out += std::to_wstring(authority);
  }
  for (unsigned i = 0; i < SubAuthorityCount(); ++i) out += L"-" + std::to_wstring(SubAuthority(i));
  return out;
}

DWORD Sid::SubAuthority(unsigned i) const {
  if (i >= SubAuthorityCount()) return 0;
  DWORD d;
  std::memcpy(&d, &bytes_[8 + 4 * i], 4);
  return d;
}

DWORD Sid::Rid() const { return SubAuthorityCount() ? SubAuthority(SubAuthorityCount() - 1) : 0; }

Sid Sid::WithRid(DWORD rid) const {
  Sid s = *this;
  if (s.Empty() || s.SubAuthorityCount() >= SID_MAX_SUB_AUTHORITIES) return Sid();
  s.bytes_[1]++;
  s.bytes_.resize(SidBytes(s.bytes_[1]));
  std::memcpy(&s.bytes_[s.bytes_.size() - 4], &rid, 4);
  return s;
}

Sid Sid::WithLastReplaced(DWORD rid) const {
  Sid s = *this;
  if (s.SubAuthorityCount() == 0) return Sid();
  std::memcpy(&s.bytes_[s.bytes_.size() - 4], &rid, 4);
  return s;
}

Sid Sid::Prefix() const {
  Sid s = *this;
  if (s.SubAuthorityCount() == 0) return Sid();
  s.bytes_[1]--;
  s.bytes_.resize(SidBytes(s.bytes_[1]));
  return s;
}

Sid EveryoneSid() { return Sid(SECURITY_WORLD_SID_AUTHORITY, {0}); }
Sid BuiltinAdministratorsSid() {
  return Sid(SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
}
Sid BuiltinUsersSid() {
  return Sid(SECURITY_NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS});
}
Sid AuthenticatedUsersSid() { return Sid(SECURITY_NT_AUTHORITY, {11}); }
Sid LocalSystemSid() { return Sid(SECURITY_NT_AUTHORITY, {18}); }
Sid CreatorOwnerSid() { return Sid(SECURITY_CREATOR_SID_AUTHORITY, {0}); }
Sid CreatorGroupSid() { return Sid(SECURITY_CREATOR_SID_AUTHORITY, {1}); }
Sid IntegrityLabelSid(DWORD level) { return Sid(SECURITY_MANDATORY_LABEL_AUTHORITY, {level}); }

bool AllocateAndInitializeSid(const SID_IDENTIFIER_AUTHORITY* authority, BYTE count, DWORD s0,
                              DWORD s1, DWORD s2, DWORD s3, DWORD s4, DWORD s5, DWORD s6, DWORD s7,
                              PSID* sid) {
  if (!sid || !authority || count == 0 || count > 8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const DWORD subs[8] = {s0, s1, s2, s3, s4, s5, s6, s7};
  BYTE* p = static_cast<BYTE*>(std::calloc(1, SidBytes(count)));
  if (!p) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  p[0] = SID_REVISION;
  p[1] = count;
  std::memcpy(p + 2, authority->Value, 6);
  std::memcpy(p + 8, subs, 4 * static_cast<std::size_t>(count));
  *sid = p;
  SetLastError(ERROR_SUCCESS);
  return true;
}

void* FreeSid(PSID sid) {
  std::free(sid);
  return nullptr;
}

void* LocalFree(void* memory) {
  std::free(memory);
  return nullptr;
}

bool IsValidSid(PSID sid) { return ValidBytes(static_cast<const BYTE*>(sid)); }

DWORD GetLengthSid(PSID sid) {
  const BYTE* p = static_cast<const BYTE*>(sid);
  return ValidBytes(p) ? static_cast<DWORD>(SidBytes(p[1])) : 0;
}

bool EqualSid(PSID a, PSID b) {
  if (!IsValidSid(a) || !IsValidSid(b)) {
    SetLastError(ERROR_INVALID_SID);
    return false;
  }
  SetLastError(ERROR_SUCCESS);
  DWORD n = GetLengthSid(a);
  return n == GetLengthSid(b) && std::memcmp(a, b, n) == 0;
}

bool CopySid(DWORD size, PSID destination, PSID source) {
  if (!IsValidSid(source)) {
    SetLastError(ERROR_INVALID_SID);
    return false;
  }
  DWORD n = GetLengthSid(source);
  if (!destination || size < n) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memmove(destination, source, n);
  SetLastError(ERROR_SUCCESS);
  return true;
}

BYTE* GetSidSubAuthorityCount(PSID sid) { return static_cast<BYTE*>(sid) + 1; }

DWORD* GetSidSubAuthority(PSID sid, DWORD index) {
  return reinterpret_cast<DWORD*>(static_cast<BYTE*>(sid) + 8 +
                                  4 * static_cast<std::size_t>(index));
}

bool ConvertSidToStringSidW(PSID sid, std::wstring& text) {
  if (!IsValidSid(sid)) {
    SetLastError(ERROR_INVALID_SID);
    return false;
  }
  text = Sid::FromPsid(sid).ToString();
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool ConvertStringSidToSidW(std::wstring_view text, PSID* sid) {
  if (!sid) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Sid domain = Sid::Parse(UserIsDomainAccount(CurrentConfig()) ? DomainSidOf(CurrentConfig())
                                                               : MachineSidOf(CurrentConfig()))
                   .value_or(Sid());
  auto parsed = Sid::Parse(text, &domain);
  if (!parsed) {
    SetLastError(ERROR_INVALID_SID);
    return false;
  }
  void* p = std::malloc(parsed->Length());
  if (!p) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  std::memcpy(p, parsed->Psid(), parsed->Length());
  *sid = p;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool CreateWellKnownSid(WELL_KNOWN_SID_TYPE type, PSID domainSid, PSID sid, DWORD* size) {
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  Sid s;
  const auto nt = SECURITY_NT_AUTHORITY;
  auto account = [&](DWORD rid) {
    if (!IsValidSid(domainSid)) return Sid();
    return Sid::FromPsid(domainSid).WithRid(rid);
  };
  switch (type) {
    case WinNullSid: s = Sid(SECURITY_NULL_SID_AUTHORITY, {0}); break;
    case WinWorldSid: s = EveryoneSid(); break;
    case WinLocalSid: s = Sid(SECURITY_LOCAL_SID_AUTHORITY, {0}); break;
    case WinConsoleLogonSid: s = Sid(SECURITY_LOCAL_SID_AUTHORITY, {1}); break;
    case WinCreatorOwnerSid: s = CreatorOwnerSid(); break;
    case WinCreatorGroupSid: s = CreatorGroupSid(); break;
    case WinCreatorOwnerRightsSid: s = Sid(SECURITY_CREATOR_SID_AUTHORITY, {4}); break;
    case WinNtAuthoritySid: s = Sid(nt, {}); break;
    case WinNetworkSid: s = Sid(nt, {2}); break;
    case WinInteractiveSid: s = Sid(nt, {4}); break;
    case WinServiceSid: s = Sid(nt, {6}); break;
    case WinAuthenticatedUserSid: s = AuthenticatedUsersSid(); break;
    case WinThisOrganizationSid: s = Sid(nt, {15}); break;
    case WinLocalSystemSid: s = LocalSystemSid(); break;
    case WinLocalServiceSid: s = Sid(nt, {19}); break;
    case WinNetworkServiceSid: s = Sid(nt, {20}); break;
    case WinBuiltinDomainSid: s = Sid(nt, {SECURITY_BUILTIN_DOMAIN_RID}); break;
    case WinBuiltinAdministratorsSid: s = BuiltinAdministratorsSid(); break;
    case WinBuiltinUsersSid: s = BuiltinUsersSid(); break;
    case WinBuiltinGuestsSid: s = Sid(nt, {32, DOMAIN_ALIAS_RID_GUESTS}); break;
    case WinBuiltinPowerUsersSid: s = Sid(nt, {32, DOMAIN_ALIAS_RID_POWER_USERS}); break;
    case WinBuiltinAnyPackageSid: s = Sid({{0, 0, 0, 0, 0, 15}}, {2, 1}); break;
    case WinLowLabelSid: s = IntegrityLabelSid(SECURITY_MANDATORY_LOW_RID); break;
    case WinMediumLabelSid: s = IntegrityLabelSid(SECURITY_MANDATORY_MEDIUM_RID); break;
    case WinHighLabelSid: s = IntegrityLabelSid(SECURITY_MANDATORY_HIGH_RID); break;
    case WinSystemLabelSid: s = IntegrityLabelSid(SECURITY_MANDATORY_SYSTEM_RID); break;
    case WinAccountAdministratorSid: s = account(DOMAIN_USER_RID_ADMIN); break;
    case WinAccountGuestSid: s = account(DOMAIN_USER_RID_GUEST); break;
    case WinAccountDomainAdminsSid: s = account(DOMAIN_GROUP_RID_ADMINS); break;
    case WinAccountDomainUsersSid: s = account(DOMAIN_GROUP_RID_USERS); break;
    case WinAccountDomainGuestsSid: s = account(DOMAIN_GROUP_RID_GUESTS); break;
    case WinAccountComputersSid: s = account(DOMAIN_GROUP_RID_COMPUTERS); break;
    case WinAccountSchemaAdminsSid: s = account(DOMAIN_GROUP_RID_SCHEMA_ADMINS); break;
    case WinAccountEnterpriseAdminsSid: s = account(DOMAIN_GROUP_RID_ENTERPRISE_ADMINS); break;
    default: break;
  }
  if (s.Empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!sid || *size < s.Length()) {
    *size = s.Length();
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(sid, s.Psid(), s.Length());
  *size = s.Length();
  SetLastError(ERROR_SUCCESS);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Account SIDs of the machine

namespace {

std::wstring Setting(const MachineConfig& config, const char* key) {
  auto it = config.raw.find(std::string("accounts/") + key);
  return it == config.raw.end() ? std::wstring() : it->second;
}

[[noreturn]] void BadSetting(const char* key, const std::wstring& value, const char* why) {
  throw MachineError("machine.ini: [accounts] " + std::string(key) + " " + why + " (\"" +
                     ToUtf8(value) + "\")");
}

std::uint32_t Fnv(const std::wstring& text, std::uint32_t salt) {
  std::uint32_t h = 2166136261u ^ salt;
  for (wchar_t c : ToUpper(text)) {
    h ^= static_cast<std::uint32_t>(c);
    h *= 16777619u;
  }
  return h;
}

// A SID of the form S-1-5-21-a-b-c from machine.ini, or derived from `name` (numbers that look
// like those Windows draws, 9 to 10 digits).
std::wstring DomainStyleSid(const MachineConfig& config, const char* key, const std::wstring& name,
                            std::uint32_t salt) {
  std::wstring given = Setting(config, key);
  if (!given.empty()) {
    auto s = Sid::Parse(given);
    if (!s || s->SubAuthorityCount() != 4 || s->SubAuthority(0) != 21 ||
        given.compare(0, 9, L"S-1-5-21-") != 0)
      BadSetting(key, given, "must be a SID of the form S-1-5-21-a-b-c");
    return s->ToString();
  }
  auto part = [&](std::uint32_t k) {
    return std::to_wstring(1000000000u + Fnv(name, salt + k) % 3000000000u);
  };
  return L"S-1-5-21-" + part(1) + L"-" + part(2) + L"-" + part(3);
}

DWORD RidSetting(const MachineConfig& config, const char* key, DWORD fallback) {
  std::wstring v = Setting(config, key);
  if (v.empty()) return fallback;
  std::uint64_t n = 0;
  if (!ParseDecimal(v, 0xFFFFFFFFull, n) || n < 1000)
    BadSetting(key, v, "must be a relative ID of 1000 or more");
  return static_cast<DWORD>(n);
}

std::vector<std::wstring> ListSetting(const MachineConfig& config, const char* key) {
  std::vector<std::wstring> out;
  std::wstring v = Setting(config, key);
  std::size_t start = 0;
  while (start <= v.size()) {
    std::size_t comma = v.find(L',', start);
    std::wstring item = v.substr(start, comma == std::wstring::npos ? comma : comma - start);
    while (!item.empty() && (item.back() == L' ' || item.back() == L'\t')) item.pop_back();
    std::size_t b = item.find_first_not_of(L" \t");
    item = b == std::wstring::npos ? L"" : item.substr(b);
    if (!item.empty()) out.push_back(item);
    if (comma == std::wstring::npos) break;
    start = comma + 1;
  }
  return out;
}

}  // namespace

std::wstring MachineSidOf(const MachineConfig& config) {
  return DomainStyleSid(config, "machine_sid", config.computerName, 0);
}

std::wstring DomainSidOf(const MachineConfig& config) {
  if (config.join != JoinStatus::Domain) return L"";
  return DomainStyleSid(config, "domain_sid", config.domain, 10);
}

bool UserIsDomainAccount(const MachineConfig& config) {
  std::wstring kind = ToUpper(Setting(config, "user_account"));
  if (kind.empty()) return config.join == JoinStatus::Domain;
  if (kind == L"LOCAL") return false;
  if (kind != L"DOMAIN") BadSetting("user_account", kind, "must be local or domain");
  if (config.join != JoinStatus::Domain)
    BadSetting("user_account", kind, "can be domain only on a computer joined to a domain");
  return true;
}

namespace {

std::wstring ComputeUserSid(const MachineConfig& config) {
  if (UserIsDomainAccount(config))
    return DomainSidOf(config) + L"-" + std::to_wstring(RidSetting(config, "user_rid", 1105));
  return MachineSidOf(config) + L"-" + std::to_wstring(RidSetting(config, "user_rid", 1001));
}

// The settings the user's SID is made of, as they stood when it was made.
struct UserSidInputs {
  JoinStatus join = JoinStatus::Workgroup;
  std::wstring computerName, domain;
  std::wstring settings[4];
};

// Their names in machine.ini (made once and kept: exit handlers ask for the SID too).
const std::string* UserSidSettings() {
  static const auto* names = new std::string[4]{"accounts/user_account", "accounts/user_rid",
                                                "accounts/machine_sid", "accounts/domain_sid"};
  return names;
}

const std::wstring* RawSetting(const MachineConfig& config, const std::string& key) {
  auto it = config.raw.find(key);
  return it == config.raw.end() ? nullptr : &it->second;
}

bool SameInputs(const UserSidInputs& in, const MachineConfig& config) {
  if (in.join != config.join || in.computerName != config.computerName ||
      in.domain != config.domain)
    return false;
  for (int i = 0; i < 4; ++i) {
    const std::wstring* now = RawSetting(config, UserSidSettings()[i]);
    if ((now ? *now : std::wstring()) != in.settings[i]) return false;
  }
  return true;
}

}  // namespace

std::wstring UserSidOf(const MachineConfig& config) {
  // Asked for by every call on HKEY_CURRENT_USER: the last SID is kept with the settings it was
  // made of, and made again when any of them changed. (Kept for the whole process, as exit
  // handlers use the registry too.)
  struct Last {
    std::mutex mutex;
    bool valid = false;
    UserSidInputs inputs;
    std::wstring sid;
  };
  static auto* last = new Last();
  {
    std::lock_guard<std::mutex> lock(last->mutex);
    if (last->valid && SameInputs(last->inputs, config)) return last->sid;
  }
  std::wstring sid = ComputeUserSid(config);  // throws on a bad setting: nothing is kept
  UserSidInputs in;
  in.join = config.join;
  in.computerName = config.computerName;
  in.domain = config.domain;
  for (int i = 0; i < 4; ++i) {
    const std::wstring* now = RawSetting(config, UserSidSettings()[i]);
    if (now) in.settings[i] = *now;
  }
  std::lock_guard<std::mutex> lock(last->mutex);
  last->inputs = std::move(in);
  last->sid = sid;
  last->valid = true;
  return sid;
}

std::wstring SecondUserNameOf(const MachineConfig& config) {
  std::wstring v = Setting(config, "second_user");
  return v.empty() ? L"User2" : v;
}

std::wstring SecondUserSidOf(const MachineConfig& config) {
  DWORD userRid = UserIsDomainAccount(config) ? 0 : RidSetting(config, "user_rid", 1001);
  return MachineSidOf(config) + (userRid == 1002 ? L"-1001" : L"-1002");
}

std::wstring MachineSid() { return MachineSidOf(CurrentConfig()); }
std::wstring CurrentUserSid() {
  // Asked for by every call on HKEY_CURRENT_USER: kept with the configuration it was made of.
  struct Kept {
    std::mutex mutex;
    std::uint64_t revision = 0;
    std::wstring sid;
  };
  static auto* kept = new Kept();
  const Machine& machine = Machine::Current();
  {
    std::lock_guard<std::mutex> lock(kept->mutex);
    if (kept->revision == machine.Revision()) return kept->sid;
  }
  std::wstring sid = UserSidOf(machine.Config());
  std::lock_guard<std::mutex> lock(kept->mutex);
  kept->revision = machine.Revision();
  kept->sid = sid;
  return sid;
}
std::wstring SecondUserName() { return SecondUserNameOf(CurrentConfig()); }
std::wstring SecondUserSid() { return SecondUserSidOf(CurrentConfig()); }

// ---------------------------------------------------------------------------------------------
// The account table

namespace {

struct Named {
  const wchar_t* sid;
  const wchar_t* domain;
  const wchar_t* name;
  SID_NAME_USE use;
};
constexpr Named kWellKnown[] = {
    {L"S-1-0-0", L"", L"NULL SID", SidTypeWellKnownGroup},
    {L"S-1-1-0", L"", L"Everyone", SidTypeWellKnownGroup},
    {L"S-1-2-0", L"", L"LOCAL", SidTypeWellKnownGroup},
    {L"S-1-2-1", L"", L"CONSOLE LOGON", SidTypeWellKnownGroup},
    {L"S-1-3-0", L"", L"CREATOR OWNER", SidTypeWellKnownGroup},
    {L"S-1-3-1", L"", L"CREATOR GROUP", SidTypeWellKnownGroup},
    {L"S-1-3-4", L"", L"OWNER RIGHTS", SidTypeWellKnownGroup},
    {L"S-1-5-2", L"NT AUTHORITY", L"NETWORK", SidTypeWellKnownGroup},
    {L"S-1-5-4", L"NT AUTHORITY", L"INTERACTIVE", SidTypeWellKnownGroup},
    {L"S-1-5-6", L"NT AUTHORITY", L"SERVICE", SidTypeWellKnownGroup},
    {L"S-1-5-7", L"NT AUTHORITY", L"ANONYMOUS LOGON", SidTypeWellKnownGroup},
    {L"S-1-5-11", L"NT AUTHORITY", L"Authenticated Users", SidTypeWellKnownGroup},
    {L"S-1-5-15", L"NT AUTHORITY", L"This Organization", SidTypeWellKnownGroup},
    {L"S-1-5-18", L"NT AUTHORITY", L"SYSTEM", SidTypeWellKnownGroup},
    {L"S-1-5-19", L"NT AUTHORITY", L"LOCAL SERVICE", SidTypeWellKnownGroup},
    {L"S-1-5-20", L"NT AUTHORITY", L"NETWORK SERVICE", SidTypeWellKnownGroup},
    {L"S-1-5-64-10", L"NT AUTHORITY", L"NTLM Authentication", SidTypeWellKnownGroup},
    // The logon sessions of the user's token (full and limited).
    {L"S-1-5-5-0-256929", L"NT AUTHORITY", L"LogonSessionId_0_256929", SidTypeWellKnownGroup},
    {L"S-1-5-5-0-256930", L"NT AUTHORITY", L"LogonSessionId_0_256930", SidTypeWellKnownGroup},
    {L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", L"NT SERVICE",
     L"TrustedInstaller", SidTypeWellKnownGroup},
    {L"S-1-5-32", L"BUILTIN", L"BUILTIN", SidTypeDomain},
    {L"S-1-5-32-544", L"BUILTIN", L"Administrators", SidTypeAlias},
    {L"S-1-5-32-545", L"BUILTIN", L"Users", SidTypeAlias},
    {L"S-1-5-32-546", L"BUILTIN", L"Guests", SidTypeAlias},
    {L"S-1-5-32-547", L"BUILTIN", L"Power Users", SidTypeAlias},
    {L"S-1-5-32-551", L"BUILTIN", L"Backup Operators", SidTypeAlias},
    {L"S-1-5-32-555", L"BUILTIN", L"Remote Desktop Users", SidTypeAlias},
    {L"S-1-5-32-556", L"BUILTIN", L"Network Configuration Operators", SidTypeAlias},
    {L"S-1-5-32-558", L"BUILTIN", L"Performance Monitor Users", SidTypeAlias},
    {L"S-1-5-32-559", L"BUILTIN", L"Performance Log Users", SidTypeAlias},
    {L"S-1-5-32-573", L"BUILTIN", L"Event Log Readers", SidTypeAlias},
    {L"S-1-15-2-1", L"APPLICATION PACKAGE AUTHORITY", L"ALL APPLICATION PACKAGES",
     SidTypeWellKnownGroup},
    {L"S-1-16-4096", L"Mandatory Label", L"Low Mandatory Level", SidTypeLabel},
    {L"S-1-16-8192", L"Mandatory Label", L"Medium Mandatory Level", SidTypeLabel},
    {L"S-1-16-12288", L"Mandatory Label", L"High Mandatory Level", SidTypeLabel},
    {L"S-1-16-16384", L"Mandatory Label", L"System Mandatory Level", SidTypeLabel},
};

struct RidName {
  DWORD rid;
  const wchar_t* name;
  SID_NAME_USE use;
};
constexpr RidName kMachineAccounts[] = {
    {500, L"Administrator", SidTypeUser},  {501, L"Guest", SidTypeUser},
    {503, L"DefaultAccount", SidTypeUser}, {504, L"WDAGUtilityAccount", SidTypeUser},
    {513, L"None", SidTypeGroup},
};
constexpr RidName kDomainAccounts[] = {
    {500, L"Administrator", SidTypeUser},
    {501, L"Guest", SidTypeUser},
    {502, L"krbtgt", SidTypeUser},
    {512, L"Domain Admins", SidTypeGroup},
    {513, L"Domain Users", SidTypeGroup},
    {514, L"Domain Guests", SidTypeGroup},
    {515, L"Domain Computers", SidTypeGroup},
    {516, L"Domain Controllers", SidTypeGroup},
    {518, L"Schema Admins", SidTypeGroup},
    {519, L"Enterprise Admins", SidTypeGroup},
    {520, L"Group Policy Creator Owners", SidTypeGroup},
};

}  // namespace

AccountTable AccountTable::For(const MachineConfig& config) {
  AccountTable t;
  for (const Named& n : kWellKnown)
    t.accounts_.push_back({*Sid::Parse(n.sid), n.domain, n.name, n.use});
  const std::size_t builtinEnd = t.accounts_.size();

  const Sid machine = *Sid::Parse(MachineSidOf(config));
  const std::wstring computer = config.computerName;
  t.accounts_.push_back({machine, computer, computer, SidTypeDomain});
  auto addUnique = [&](const Account& a, const char* key) {
    for (const Account& b : t.accounts_)
      if (b.sid == a.sid || (EqualsNoCase(b.domain, a.domain) && EqualsNoCase(b.name, a.name)))
        BadSetting(key, a.name, "names an account that exists already");
    t.accounts_.push_back(a);
  };
  for (const RidName& r : kMachineAccounts)
    t.accounts_.push_back({machine.WithRid(r.rid), computer, r.name, r.use});

  const bool domainUser = UserIsDomainAccount(config);
  const Sid userSid = *Sid::Parse(UserSidOf(config));
  if (!domainUser) {
    addUnique({userSid, computer, config.userName, SidTypeUser}, "user_rid");
  }
  addUnique({*Sid::Parse(SecondUserSidOf(config)), computer, SecondUserNameOf(config), SidTypeUser},
            "second_user");
  DWORD next = 1003;
  auto nextRid = [&](const Sid& domain) {
    while (true) {
      Sid s = domain.WithRid(next++);
      bool used = false;
      for (const Account& a : t.accounts_) used = used || a.sid == s;
      if (!used) return s;
    }
  };
  for (const auto& name : ListSetting(config, "local_users"))
    addUnique({nextRid(machine), computer, name, SidTypeUser}, "local_users");
  for (const auto& name : ListSetting(config, "local_groups"))
    addUnique({nextRid(machine), computer, name, SidTypeAlias}, "local_groups");

  if (config.join == JoinStatus::Domain) {
    const Sid domain = *Sid::Parse(DomainSidOf(config));
    const std::wstring dname = ToUpper(config.domain);
    t.accounts_.push_back({domain, dname, dname, SidTypeDomain});
    for (const RidName& r : kDomainAccounts)
      t.accounts_.push_back({domain.WithRid(r.rid), dname, r.name, r.use});
    if (domainUser) addUnique({userSid, dname, config.userName, SidTypeUser}, "user_rid");
    next = 1106;
    for (const auto& name : ListSetting(config, "domain_users"))
      addUnique({nextRid(domain), dname, name, SidTypeUser}, "domain_users");
    for (const auto& name : ListSetting(config, "domain_groups"))
      addUnique({nextRid(domain), dname, name, SidTypeGroup}, "domain_groups");
  }
  for (std::size_t i = 0; i < t.accounts_.size(); ++i)
    if (t.accounts_[i].sid == userSid) t.userIndex_ = i;

  // The user's groups: the local ones (built-in aliases and the computer's groups) named by
  // [user] memberships; on a domain also the domain's groups named there and Domain Users for a
  // domain account, the computer's "None" for a local one.
  auto addGroup = [&](const Sid& s) {
    for (const Sid& g : t.userGroups_)
      if (g == s) return;
    t.userGroups_.push_back(s);
  };
  for (const auto& m : config.memberships) {
    for (std::size_t i = 0; i < t.accounts_.size(); ++i) {
      const Account& a = t.accounts_[i];
      bool group = a.use == SidTypeAlias || a.use == SidTypeGroup;
      bool local = a.use == SidTypeAlias;
      if (group && EqualsNoCase(a.name, m) && (local || i > builtinEnd)) {
        addGroup(a.sid);
        break;
      }
    }
  }
  if (domainUser)
    addGroup(*Sid::Parse(DomainSidOf(config) + L"-513"));
  else
    addGroup(machine.WithRid(513));
  return t;
}

const AccountTable& AccountTable::Current() {
  struct Cached {
    std::string root;
    MachineConfig config;
    std::shared_ptr<AccountTable> table;
  };
  static std::mutex mutex;
  static auto* cached = new Cached();
  thread_local std::shared_ptr<AccountTable> keep;
  Machine& machine = Machine::Current();
  const MachineConfig& c = machine.Config();
  std::lock_guard<std::mutex> lock(mutex);
  if (!cached->table || cached->root != machine.Root() || cached->config.raw != c.raw ||
      cached->config.computerName != c.computerName || cached->config.userName != c.userName ||
      cached->config.join != c.join || cached->config.domain != c.domain ||
      cached->config.memberships != c.memberships) {
    cached->table = std::make_shared<AccountTable>(For(c));
    cached->root = machine.Root();
    cached->config = c;
  }
  keep = cached->table;
  return *keep;
}

const Account* AccountTable::FindSid(const Sid& sid) const {
  for (const Account& a : accounts_)
    if (a.sid == sid) return &a;
  return nullptr;
}

const Account* AccountTable::FindName(std::wstring_view name) const {
  std::wstring n(name);
  std::size_t slash = n.find(L'\\');
  if (slash != std::wstring::npos) {
    std::wstring domain = n.substr(0, slash), account = n.substr(slash + 1);
    for (const Account& a : accounts_) {
      if (!EqualsNoCase(a.domain, domain)) continue;
      if (account.empty() ? a.use == SidTypeDomain : EqualsNoCase(a.name, account)) return &a;
    }
    return nullptr;
  }
  // Well-known and built-in first, then this computer's accounts, then the domain's: the table
  // is in that order.
  for (const Account& a : accounts_)
    if (EqualsNoCase(a.name, n)) return &a;
  return nullptr;
}

namespace {

bool IsThisComputer(const wchar_t* systemName) {
  if (!systemName || !*systemName) return true;
  std::wstring n = systemName;
  while (!n.empty() && n[0] == L'\\') n.erase(0, 1);
  return EqualsNoCase(n, CurrentConfig().computerName);
}

// Copies `text` into a buffer of `*chars` characters; false (and the size needed) when short.
bool Fits(const std::wstring& text, const wchar_t* buffer, DWORD* chars) {
  return buffer && chars && *chars > text.size();
}

}  // namespace

bool LookupAccountSidW(const wchar_t* systemName, PSID sid, wchar_t* name, DWORD* nameChars,
                       wchar_t* domain, DWORD* domainChars, SID_NAME_USE* use) {
  if (!IsValidSid(sid) || !nameChars || !domainChars) {
    SetLastError(!IsValidSid(sid) ? ERROR_INVALID_SID : ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!IsThisComputer(systemName)) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return false;
  }
  const Account* a = AccountTable::Current().FindSid(Sid::FromPsid(sid));
  if (!a) {
    SetLastError(ERROR_NONE_MAPPED);
    return false;
  }
  if (!Fits(a->name, name, nameChars) || !Fits(a->domain, domain, domainChars)) {
    *nameChars = static_cast<DWORD>(a->name.size() + 1);
    *domainChars = static_cast<DWORD>(a->domain.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::wmemcpy(name, a->name.c_str(), a->name.size() + 1);
  std::wmemcpy(domain, a->domain.c_str(), a->domain.size() + 1);
  *nameChars = static_cast<DWORD>(a->name.size());
  *domainChars = static_cast<DWORD>(a->domain.size());
  if (use) *use = a->use;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool LookupAccountNameW(const wchar_t* systemName, const wchar_t* accountName, PSID sid,
                        DWORD* sidBytes, wchar_t* domain, DWORD* domainChars, SID_NAME_USE* use) {
  if (!accountName || !sidBytes || !domainChars) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!IsThisComputer(systemName)) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return false;
  }
  const Account* a = AccountTable::Current().FindName(accountName);
  if (!a) {
    SetLastError(ERROR_NONE_MAPPED);
    return false;
  }
  if (!sid || *sidBytes < a->sid.Length() || !Fits(a->domain, domain, domainChars)) {
    *sidBytes = a->sid.Length();
    *domainChars = static_cast<DWORD>(a->domain.size() + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(sid, a->sid.Psid(), a->sid.Length());
  std::wmemcpy(domain, a->domain.c_str(), a->domain.size() + 1);
  *sidBytes = a->sid.Length();
  *domainChars = static_cast<DWORD>(a->domain.size());
  if (use) *use = a->use;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool GetUserNameExW(EXTENDED_NAME_FORMAT format, wchar_t* buffer, DWORD* size) {
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const MachineConfig& c = CurrentConfig();
  const Account& user = AccountTable::Current().User();
  std::wstring text;
  if (format == NameSamCompatible) {
    text = user.domain + L"\\" + user.name;
  } else if (format == NameUserPrincipal && UserIsDomainAccount(c)) {
    text = user.name + L"@" + ToLower(c.domain);
  } else if (format == NameDisplay) {
    text = user.name;
  } else {
    SetLastError(format == NameUserPrincipal || format == NameFullyQualifiedDN
                     ? ERROR_NONE_MAPPED
                     : ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!buffer || *size <= text.size()) {
    *size = static_cast<DWORD>(text.size() + 1);
    SetLastError(ERROR_MORE_DATA);
    return false;
  }
  std::wmemcpy(buffer, text.c_str(), text.size() + 1);
  *size = static_cast<DWORD>(text.size());
  SetLastError(ERROR_SUCCESS);
  return true;
}

NET_API_STATUS NetGetJoinInformation(const wchar_t* server, std::wstring& name,
                                     NETSETUP_JOIN_STATUS& status) {
  if (!IsThisComputer(server)) return RPC_S_SERVER_UNAVAILABLE;
  const MachineConfig& c = CurrentConfig();
  switch (c.join) {
    case JoinStatus::Unjoined:
      status = NetSetupUnjoined;
      name.clear();
      break;
    case JoinStatus::Workgroup:
      status = NetSetupWorkgroupName;
      name = c.workgroup;
      break;
    case JoinStatus::Domain:
      status = NetSetupDomainName;
      name = ToUpper(c.domain);
      break;
    default:
      status = NetSetupUnknownStatus;
      name.clear();
      break;
  }
  return NERR_Success;
}

NET_API_STATUS NetServerGetInfo(const wchar_t* server, DWORD level, SERVER_INFO_101& info) {
  if (!IsThisComputer(server)) return RPC_S_SERVER_UNAVAILABLE;
  if (level != 101) return ERROR_INVALID_LEVEL;
  const MachineConfig& c = CurrentConfig();
  DWORD type = SV_TYPE_WORKSTATION | SV_TYPE_SERVER | SV_TYPE_NT | SV_TYPE_POTENTIAL_BROWSER;
  if (c.server || c.os.productType != 1) type |= SV_TYPE_SERVER_NT;
  if (c.os.productType == 2) type |= SV_TYPE_DOMAIN_CTRL;
  std::wstring given = Setting(c, "server_type");
  if (EqualsNoCase(given, L"fail")) return ERROR_ACCESS_DENIED;
  if (!given.empty()) {
    wchar_t* end = nullptr;
    unsigned long v = std::wcstoul(given.c_str(), &end, 0);
    if (!end || *end || v > 0xFFFFFFFFul)
      BadSetting("server_type", given, "must be a number or \"fail\"");
    type = static_cast<DWORD>(v);
  }
  info = SERVER_INFO_101{};
  info.sv101_name = c.computerName;
  info.sv101_version_major = c.os.major;
  info.sv101_version_minor = c.os.minor;
  info.sv101_type = type;
  return NERR_Success;
}

}  // namespace platform
