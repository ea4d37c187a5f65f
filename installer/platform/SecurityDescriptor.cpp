// Security descriptors: SDDL text, the self-relative binary layout, the ACL functions, the access
// check, inheritance and explicit access entries.
#include "platform/Machine.h"
#include "platform/Security.h"
#include "platform/Text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

namespace platform {

namespace {

bool FailWith(DWORD code) {
  SetLastError(code);
  return false;
}
bool Ok() {
  SetLastError(ERROR_SUCCESS);
  return true;
}

// The domain whose relative SDDL abbreviations ("DA", "LA", ...) a descriptor of this machine
// uses: the domain for a domain account, else the computer's own.
Sid AbbreviationDomain() {
  const MachineConfig& c = CurrentConfig();
  return *Sid::Parse(UserIsDomainAccount(c) ? DomainSidOf(c) : MachineSidOf(c));
}

struct Code {
  const wchar_t* text;
  DWORD value;
};
constexpr Code kAceTypes[] = {
    {L"A", ACCESS_ALLOWED_ACE_TYPE},
    {L"D", ACCESS_DENIED_ACE_TYPE},
    {L"AU", SYSTEM_AUDIT_ACE_TYPE},
    {L"AL", SYSTEM_ALARM_ACE_TYPE},
    {L"OA", ACCESS_ALLOWED_OBJECT_ACE_TYPE},
    {L"OD", ACCESS_DENIED_OBJECT_ACE_TYPE},
    {L"OU", 0x7},
    {L"OL", 0x8},
    {L"XA", ACCESS_ALLOWED_CALLBACK_ACE_TYPE},
    {L"XD", 0xA},
    {L"ZA", 0xB},
    {L"XU", 0xD},
    {L"ML", SYSTEM_MANDATORY_LABEL_ACE_TYPE},
    {L"RA", 0x12},
    {L"SP", 0x13},
    {L"TL", 0x14},
};
constexpr Code kAceFlags[] = {
    {L"OI", OBJECT_INHERIT_ACE},
    {L"CI", CONTAINER_INHERIT_ACE},
    {L"NP", NO_PROPAGATE_INHERIT_ACE},
    {L"IO", INHERIT_ONLY_ACE},
    {L"ID", INHERITED_ACE},
    {L"SA", SUCCESSFUL_ACCESS_ACE_FLAG},
    {L"FA", FAILED_ACCESS_ACE_FLAG},
};
// Whole-mask names first (written when the mask is exactly one of them), then the single bits.
constexpr Code kWholeRights[] = {
    {L"FA", FILE_ALL_ACCESS},    {L"FR", FILE_GENERIC_READ},
    {L"FW", FILE_GENERIC_WRITE}, {L"FX", FILE_GENERIC_EXECUTE},
    {L"KA", KEY_ALL_ACCESS},     {L"KR", KEY_READ},
    {L"KW", KEY_WRITE},          {L"KX", KEY_EXECUTE},
};
constexpr Code kBitRights[] = {
    {L"GA", GENERIC_ALL},  {L"GR", GENERIC_READ}, {L"GW", GENERIC_WRITE}, {L"GX", GENERIC_EXECUTE},
    {L"RC", READ_CONTROL}, {L"SD", DELETE},       {L"WD", WRITE_DAC},     {L"WO", WRITE_OWNER},
    {L"RP", 0x10},         {L"WP", 0x20},         {L"CC", 0x1},           {L"DC", 0x2},
    {L"LC", 0x4},          {L"SW", 0x8},          {L"LO", 0x40},          {L"DT", 0x80},
    {L"CR", 0x100},        {L"NW", 0x1},          {L"NR", 0x2},           {L"NX", 0x4},
};

const wchar_t* TypeText(BYTE type) {
  for (const Code& c : kAceTypes)
    if (c.value == type) return c.text;
  return nullptr;
}

std::wstring Hex(DWORD v) {
  wchar_t buf[16];
  std::swprintf(buf, 16, L"0x%x", v);
  return buf;
}

bool ParseRights(std::wstring_view text, ACCESS_MASK& mask) {
  mask = 0;
  if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
    if (text.size() > 10) return false;
    for (wchar_t c : text.substr(2)) {
      int d = c >= L'0' && c <= L'9'   ? c - L'0'
              : c >= L'a' && c <= L'f' ? c - L'a' + 10
              : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                       : -1;
      if (d < 0) return false;
      mask = mask * 16 + static_cast<DWORD>(d);
    }
    return true;
  }
  if (!text.empty() && text[0] >= L'0' && text[0] <= L'9') {
    std::uint64_t v = 0;
    for (wchar_t c : text) {
      if (c < L'0' || c > L'9') return false;
      v = v * 10 + static_cast<unsigned>(c - L'0');
      if (v > 0xFFFFFFFFull) return false;
    }
    mask = static_cast<DWORD>(v);
    return true;
  }
  if (text.size() % 2) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    std::wstring code = ToUpper(text.substr(i, 2));
    bool found = false;
    for (const Code& c : kWholeRights)
      if (code == c.text) mask |= c.value, found = true;
    for (const Code& c : kBitRights)
      if (!found && code == c.text) mask |= c.value, found = true;
    if (!found) return false;
  }
  return true;
}

std::wstring RightsText(ACCESS_MASK mask, BYTE type) {
  if (type == SYSTEM_MANDATORY_LABEL_ACE_TYPE) {
    std::wstring out;
    if (mask & 1) out += L"NW";
    if (mask & 2) out += L"NR";
    if (mask & 4) out += L"NX";
    return (mask & ~7u) || out.empty() ? Hex(mask) : out;
  }
  for (const Code& c : kWholeRights)
    if (mask == c.value) return c.text;
  if (mask && !(mask & ~(GENERIC_ALL | GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | DELETE |
                         READ_CONTROL | WRITE_DAC | WRITE_OWNER))) {
    std::wstring out;
    for (std::size_t i = 0; i < 8; ++i)
      if (mask & kBitRights[i].value) out += kBitRights[i].text;
    return out;
  }
  return Hex(mask);
}

std::wstring SidText(const Sid& s) {
  static constexpr const wchar_t* kShort[] = {L"WD", L"CO", L"CG", L"OW", L"NU", L"IU", L"SU",
                                              L"AN", L"AU", L"SY", L"LS", L"NS", L"BA", L"BU",
                                              L"BG", L"PU", L"BO", L"RD", L"NO", L"MU", L"LU",
                                              L"ER", L"AC", L"LW", L"ME", L"HI", L"SI"};
  // The short forms name fixed SIDs: parsed once, not for every SID written.
  static const auto& known = *[] {
    auto* list = new std::vector<std::pair<std::optional<Sid>, const wchar_t*>>();
    for (const wchar_t* code : kShort) list->emplace_back(Sid::Parse(code), code);
    return list;
  }();
  for (const auto& [sid, code] : known)
    if (sid == s) return code;
  return s.ToString();
}

struct SddlReader {
  std::wstring_view text;
  std::size_t pos = 0;
  std::wstring error;
  const Sid* domain = nullptr;

  bool FailWith(const std::wstring& why) {
    if (error.empty()) error = why + L" at character " + std::to_wstring(pos + 1);
    return false;
  }
  bool ParseAce(Ace& ace) {
    // "(type;flags;rights;object;inherited object;account[;resource])"
    std::size_t close = text.find(L')', pos);
    if (close == std::wstring_view::npos) return FailWith(L"an entry without \")\"");
    std::wstring_view body = text.substr(pos, close - pos);
    std::vector<std::wstring_view> f;
    std::size_t start = 0;
    while (true) {
      std::size_t semi = body.find(L';', start);
      f.push_back(body.substr(start, semi == std::wstring_view::npos ? semi : semi - start));
      if (semi == std::wstring_view::npos) break;
      start = semi + 1;
    }
    if (f.size() < 6 || f.size() > 7) return FailWith(L"an entry needs six fields");
    bool typeOk = false;
    for (const Code& c : kAceTypes)
      if (ToUpper(f[0]) == c.text) ace.type = static_cast<BYTE>(c.value), typeOk = true;
    if (!typeOk) return FailWith(L"unknown entry type \"" + std::wstring(f[0]) + L"\"");
    ace.flags = 0;
    for (std::size_t i = 0; i < f[1].size(); i += 2) {
      std::wstring code = ToUpper(f[1].substr(i, 2));
      bool ok = false;
      for (const Code& c : kAceFlags)
        if (code == c.text) ace.flags |= static_cast<BYTE>(c.value), ok = true;
      if (!ok) return FailWith(L"unknown entry flag \"" + code + L"\"");
    }
    if (!ParseRights(f[2], ace.mask))
      return FailWith(L"bad rights \"" + std::wstring(f[2]) + L"\"");
    auto sid = Sid::Parse(f[5], domain);
    if (!sid) return FailWith(L"bad account \"" + std::wstring(f[5]) + L"\"");
    ace.sid = *sid;
    ace.extra.clear();
    if (!f[3].empty() || !f[4].empty() || f.size() == 7) {
      ace.extra = std::wstring(f[3]) + L";" + std::wstring(f[4]);
      if (f.size() == 7) ace.extra += L";" + std::wstring(f[6]);
    }
    pos = close + 1;
    return true;
  }
  bool ParseAcl(std::vector<Ace>& acl, WORD& control, bool dacl) {
    // Flags up to the first "(" or the next part.
    while (pos < text.size() && text[pos] != L'(' &&
           !(pos + 1 < text.size() && text[pos + 1] == L':')) {
      std::wstring_view rest = text.substr(pos);
      if (rest.substr(0, 2) == L"AI") {
        control |= dacl ? SE_DACL_AUTO_INHERITED : SE_SACL_AUTO_INHERITED;
        pos += 2;
      } else if (rest.substr(0, 2) == L"AR") {
        control |= dacl ? SE_DACL_AUTO_INHERIT_REQ : SE_SACL_AUTO_INHERIT_REQ;
        pos += 2;
      } else if (rest.substr(0, 1) == L"P") {
        control |= dacl ? SE_DACL_PROTECTED : SE_SACL_PROTECTED;
        pos += 1;
      } else {
        return FailWith(L"unknown list flag");
      }
    }
    while (pos < text.size() && text[pos] == L'(') {
      ++pos;
      Ace ace;
      if (!ParseAce(ace)) return false;
      acl.push_back(ace);
    }
    return true;
  }
};

}  // namespace

std::optional<SecurityDescriptor> SecurityDescriptor::FromSddl(std::wstring_view sddl,
                                                               std::wstring* error) {
  SecurityDescriptor sd;
  Sid domain = AbbreviationDomain();
  SddlReader r{sddl, 0, L"", &domain};
  bool seen[4] = {};
  auto fail = [&]() -> std::optional<SecurityDescriptor> {
    if (error) *error = r.error;
    return std::nullopt;
  };
  if (sddl.empty()) {
    r.error = L"empty security descriptor";
    return fail();
  }
  while (r.pos < sddl.size()) {
    if (r.pos + 1 >= sddl.size() || sddl[r.pos + 1] != L':') {
      r.FailWith(L"expected O:, G:, D: or S:");
      return fail();
    }
    wchar_t part = sddl[r.pos];
    r.pos += 2;
    int index = part == L'O' ? 0 : part == L'G' ? 1 : part == L'D' ? 2 : part == L'S' ? 3 : -1;
    if (index < 0 || seen[index]) {
      r.FailWith(index < 0 ? L"unknown part" : L"a part given twice");
      return fail();
    }
    seen[index] = true;
    if (index < 2) {
      std::size_t end = r.pos;
      while (end < sddl.size() && !(end + 1 < sddl.size() && sddl[end + 1] == L':')) ++end;
      auto sid = Sid::Parse(sddl.substr(r.pos, end - r.pos), &domain);
      if (!sid) {
        r.FailWith(L"bad " + std::wstring(index ? L"group" : L"owner"));
        return fail();
      }
      (index ? sd.group : sd.owner) = *sid;
      r.pos = end;
    } else {
      std::vector<Ace> acl;
      // "D:NO_ACCESS_CONTROL" is the NULL DACL.
      if (sddl.substr(r.pos, 17) == L"NO_ACCESS_CONTROL") {
        r.pos += 17;
        if (index == 3) sd.sacl.reset();
        continue;
      }
      if (!r.ParseAcl(acl, sd.control, index == 2)) return fail();
      (index == 2 ? sd.dacl : sd.sacl) = std::move(acl);
    }
  }
  return sd;
}

std::wstring SecurityDescriptor::ToSddl(SECURITY_INFORMATION parts) const {
  std::wstring out;
  if ((parts & OWNER_SECURITY_INFORMATION) && owner) out += L"O:" + SidText(*owner);
  if ((parts & GROUP_SECURITY_INFORMATION) && group) out += L"G:" + SidText(*group);
  auto list = [&](const std::vector<Ace>& acl, bool dacl) {
    std::wstring s;
    if (control & (dacl ? SE_DACL_PROTECTED : SE_SACL_PROTECTED)) s += L"P";
    if (control & (dacl ? SE_DACL_AUTO_INHERIT_REQ : SE_SACL_AUTO_INHERIT_REQ)) s += L"AR";
    if (control & (dacl ? SE_DACL_AUTO_INHERITED : SE_SACL_AUTO_INHERITED)) s += L"AI";
    for (const Ace& a : acl) {
      const wchar_t* type = TypeText(a.type);
      s += L"(";
      s += type ? type : Hex(a.type).c_str();
      s += L";";
      for (const Code& c : kAceFlags)
        if (a.flags & c.value) s += c.text;
      s += L";" + RightsText(a.mask, a.type) + L";";
      if (a.extra.empty()) {
        s += L";;" + SidText(a.sid);
      } else {
        std::size_t semi = a.extra.find(L';');
        std::size_t semi2 = a.extra.find(L';', semi + 1);
        s += a.extra.substr(0, semi2) + L";" + SidText(a.sid);
        if (semi2 != std::wstring::npos) s += a.extra.substr(semi2);
      }
      s += L")";
    }
    return s;
  };
  if (parts & DACL_SECURITY_INFORMATION)
    out += dacl ? L"D:" + list(*dacl, true) : std::wstring(L"D:NO_ACCESS_CONTROL");
  if ((parts & (SACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION)) && sacl) {
    std::vector<Ace> kept;
    for (const Ace& a : *sacl)
      if ((parts & SACL_SECURITY_INFORMATION) || a.type == SYSTEM_MANDATORY_LABEL_ACE_TYPE)
        kept.push_back(a);
    out += L"S:" + list(kept, false);
  }
  return out;
}

namespace {

std::size_t AceBytes(const Ace& a) { return (8 + a.sid.Length() + 3) / 4 * 4; }

std::size_t AclBytes(const std::vector<Ace>& acl) {
  std::size_t n = sizeof(ACL);
  for (const Ace& a : acl) n += AceBytes(a);
  return n;
}

void WriteAcl(BYTE* p, const std::vector<Ace>& acl) {
  ACL header{ACL_REVISION, 0, static_cast<WORD>(AclBytes(acl)), static_cast<WORD>(acl.size()), 0};
  std::memcpy(p, &header, sizeof header);
  p += sizeof header;
  for (const Ace& a : acl) {
    ACE_HEADER h{a.type, a.flags, static_cast<WORD>(AceBytes(a))};
    std::memset(p, 0, h.AceSize);
    std::memcpy(p, &h, sizeof h);
    std::memcpy(p + 4, &a.mask, 4);
    std::memcpy(p + 8, a.sid.Psid(), a.sid.Length());
    p += h.AceSize;
  }
}

bool ReadAcl(const BYTE* p, std::size_t limit, std::vector<Ace>& out) {
  if (limit < sizeof(ACL)) return false;
  ACL header;
  std::memcpy(&header, p, sizeof header);
  if ((header.AclRevision != ACL_REVISION && header.AclRevision != ACL_REVISION_DS) ||
      header.AclSize < sizeof(ACL) || header.AclSize > limit)
    return false;
  std::size_t at = sizeof(ACL);
  for (WORD i = 0; i < header.AceCount; ++i) {
    if (at + sizeof(ACE_HEADER) > header.AclSize) return false;
    ACE_HEADER h;
    std::memcpy(&h, p + at, sizeof h);
    if (h.AceSize < 8 || at + h.AceSize > header.AclSize) return false;
    Ace a;
    a.type = h.AceType;
    a.flags = h.AceFlags;
    std::memcpy(&a.mask, p + at + 4, 4);
    if (h.AceSize >= 16) {
      Sid s = Sid::FromPsid(p + at + 8);
      if (!s.Empty() && 8 + s.Length() <= h.AceSize) a.sid = s;
    }
    out.push_back(a);
    at += h.AceSize;
  }
  return true;
}

}  // namespace

std::vector<BYTE> SecurityDescriptor::ToBinary() const {
  std::size_t size = sizeof(SECURITY_DESCRIPTOR_RELATIVE);
  SECURITY_DESCRIPTOR_RELATIVE h{
      SECURITY_DESCRIPTOR_REVISION, 0, static_cast<WORD>(control | SE_SELF_RELATIVE), 0, 0, 0, 0};
  if (sacl) {
    h.Sacl = static_cast<DWORD>(size);
    h.Control |= SE_SACL_PRESENT;
    size += AclBytes(*sacl);
  }
  if (dacl) {
    h.Dacl = static_cast<DWORD>(size);
    size += AclBytes(*dacl);
  }
  h.Control |= SE_DACL_PRESENT;  // a NULL DACL is "present" with offset 0
  if (owner) {
    h.Owner = static_cast<DWORD>(size);
    size += owner->Length();
  }
  if (group) {
    h.Group = static_cast<DWORD>(size);
    size += group->Length();
  }
  std::vector<BYTE> out(size, 0);
  std::memcpy(out.data(), &h, sizeof h);
  if (sacl) WriteAcl(out.data() + h.Sacl, *sacl);
  if (dacl) WriteAcl(out.data() + h.Dacl, *dacl);
  if (owner) std::memcpy(out.data() + h.Owner, owner->Psid(), owner->Length());
  if (group) std::memcpy(out.data() + h.Group, group->Psid(), group->Length());
  return out;
}

std::optional<SecurityDescriptor> SecurityDescriptor::FromBinary(const void* sd) {
  if (!sd) return std::nullopt;
  const BYTE* p = static_cast<const BYTE*>(sd);
  SECURITY_DESCRIPTOR_RELATIVE h;
  std::memcpy(&h, p, sizeof h);
  if (h.Revision != SECURITY_DESCRIPTOR_REVISION || !(h.Control & SE_SELF_RELATIVE))
    return std::nullopt;
  constexpr std::size_t kLimit = 0x10000 + 64;  // an ACL is at most 64 KB
  SecurityDescriptor out;
  out.control = h.Control & ~(SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_SACL_PRESENT);
  if (h.Owner) {
    Sid s = Sid::FromPsid(p + h.Owner);
    if (s.Empty()) return std::nullopt;
    out.owner = s;
  }
  if (h.Group) {
    Sid s = Sid::FromPsid(p + h.Group);
    if (s.Empty()) return std::nullopt;
    out.group = s;
  }
  if ((h.Control & SE_DACL_PRESENT) && h.Dacl) {
    std::vector<Ace> acl;
    if (!ReadAcl(p + h.Dacl, kLimit, acl)) return std::nullopt;
    out.dacl = std::move(acl);
  }
  if ((h.Control & SE_SACL_PRESENT) && h.Sacl) {
    std::vector<Ace> acl;
    if (!ReadAcl(p + h.Sacl, kLimit, acl)) return std::nullopt;
    out.sacl = std::move(acl);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// The access check

ACCESS_MASK RightsFromAcl(const std::vector<Ace>* dacl, const Token& token) {
  if (!dacl) return 0xFFFFFFFFu;
  ACCESS_MASK granted = 0, denied = 0;
  for (const Ace& a : *dacl) {
    if (a.flags & INHERIT_ONLY_ACE) continue;
    if (a.type == ACCESS_ALLOWED_ACE_TYPE) {
      if (token.Matches(a.sid, false)) granted |= a.mask & ~denied;
    } else if (a.type == ACCESS_DENIED_ACE_TYPE) {
      if (token.Matches(a.sid, true)) denied |= a.mask & ~granted;
    }
    // Entries of other types are kept but do not take part, as on Windows.
  }
  return granted;
}

ACCESS_MASK GrantedAccess(const SecurityDescriptor& sd, const Token& token,
                          const GENERIC_MAPPING& mapping) {
  ACCESS_MASK granted;
  if (!sd.dacl) {
    granted = mapping.GenericAll | ACCESS_SYSTEM_SECURITY;
  } else {
    std::vector<Ace> mapped = *sd.dacl;
    for (Ace& a : mapped) a.mask = MapGenericMask(a.mask, mapping);
    granted = RightsFromAcl(&mapped, token);
    if (sd.owner && token.Matches(*sd.owner, false)) granted |= READ_CONTROL | WRITE_DAC;
  }
  // Mandatory integrity: a token below the object's label gets no write rights (an object
  // without a label counts as medium, no write up).
  DWORD label = SECURITY_MANDATORY_MEDIUM_RID;
  if (sd.sacl)
    for (const Ace& a : *sd.sacl)
      if (a.type == SYSTEM_MANDATORY_LABEL_ACE_TYPE && !(a.flags & INHERIT_ONLY_ACE))
        label = a.sid.Rid();
  if (token.hasElevation && token.integrity < label)
    granted &= ~((mapping.GenericWrite & ~(READ_CONTROL | SYNCHRONIZE)) | DELETE | WRITE_DAC |
                 WRITE_OWNER);
  const TokenPrivilege* take = token.Privilege(L"SeTakeOwnershipPrivilege");
  if (take && (take->attributes & SE_PRIVILEGE_ENABLED)) granted |= WRITE_OWNER;
  return granted;
}

bool AccessCheck(const SecurityDescriptor& sd, const Token& token, ACCESS_MASK desired,
                 const GENERIC_MAPPING& mapping) {
  const ACCESS_MASK granted = GrantedAccess(sd, token, mapping);
  if (desired & MAXIMUM_ALLOWED) return granted != 0;
  desired = MapGenericMask(desired, mapping);
  return (desired & ~granted) == 0;
}

SecurityDescriptor InheritDescriptor(const SecurityDescriptor& parent, bool isContainer,
                                     const Token& creator, const GENERIC_MAPPING& mapping) {
  SecurityDescriptor sd;
  sd.owner = creator.owner;
  sd.group = creator.primaryGroup;
  sd.control = SE_DACL_AUTO_INHERITED;
  std::vector<Ace> dacl;
  if (parent.dacl) {
    for (const Ace& a : *parent.dacl) {
      const BYTE inheritable = isContainer ? CONTAINER_INHERIT_ACE : OBJECT_INHERIT_ACE;
      const bool viaObject = isContainer && (a.flags & OBJECT_INHERIT_ACE) &&
                             !(a.flags & CONTAINER_INHERIT_ACE) &&
                             !(a.flags & NO_PROPAGATE_INHERIT_ACE);
      if (!(a.flags & inheritable) && !viaObject) continue;
      const bool creatorSid = a.sid == CreatorOwnerSid() || a.sid == CreatorGroupSid();
      Ace effective = a;
      effective.flags = INHERITED_ACE;
      if (creatorSid) effective.sid = a.sid == CreatorOwnerSid() ? *sd.owner : *sd.group;
      effective.mask = MapGenericMask(a.mask, mapping);
      // The entry that applies to the new object itself.
      if (!viaObject) dacl.push_back(effective);
      // A container passes an entry on to its own children unless it stops there.
      if (isContainer && !(a.flags & NO_PROPAGATE_INHERIT_ACE) &&
          (creatorSid || MapGenericMask(a.mask, mapping) != a.mask || viaObject)) {
        Ace onward = a;
        onward.flags = static_cast<BYTE>((a.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) |
                                         INHERIT_ONLY_ACE | INHERITED_ACE);
        dacl.push_back(onward);
      } else if (isContainer && !(a.flags & NO_PROPAGATE_INHERIT_ACE) && !viaObject) {
        dacl.back().flags |= a.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
      }
    }
  }
  sd.dacl = std::move(dacl);
  if (parent.sacl) {
    std::vector<Ace> sacl;
    for (const Ace& a : *parent.sacl) {
      if (!(a.flags & (isContainer ? CONTAINER_INHERIT_ACE : OBJECT_INHERIT_ACE))) continue;
      Ace e = a;
      e.flags = static_cast<BYTE>(INHERITED_ACE |
                                  (isContainer && !(a.flags & NO_PROPAGATE_INHERIT_ACE)
                                       ? a.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)
                                       : 0));
      sacl.push_back(e);
    }
    if (!sacl.empty()) sd.sacl = std::move(sacl);
  }
  return sd;
}

SecurityDescriptor ReinheritDescriptor(const SecurityDescriptor& child,
                                       const SecurityDescriptor& parent, bool isContainer,
                                       const GENERIC_MAPPING& mapping) {
  if (child.control & SE_DACL_PROTECTED) return child;
  // A descriptor stored without an owner or group reads as the system's (as everywhere else):
  // an entry for the creator never names no one.
  Token owner;
  owner.owner = child.owner.value_or(LocalSystemSid());
  owner.primaryGroup = child.group.value_or(LocalSystemSid());
  SecurityDescriptor inherited = InheritDescriptor(parent, isContainer, owner, mapping);
  SecurityDescriptor out = child;
  std::vector<Ace> dacl;
  if (child.dacl)
    for (const Ace& a : *child.dacl)
      if (!(a.flags & INHERITED_ACE)) dacl.push_back(a);
  for (const Ace& a : *inherited.dacl) dacl.push_back(a);
  out.dacl = std::move(dacl);
  out.control |= SE_DACL_AUTO_INHERITED;
  return out;
}

// ---------------------------------------------------------------------------------------------
// ACL functions on the binary layout

bool InitializeAcl(ACL* acl, DWORD length, DWORD revision) {
  if (!acl || length < sizeof(ACL) || length > 0xFFFF ||
      (revision != ACL_REVISION && revision != ACL_REVISION_DS))
    return FailWith(!acl || length < sizeof(ACL) ? ERROR_INSUFFICIENT_BUFFER
                                                 : ERROR_INVALID_PARAMETER);
  *acl = ACL{static_cast<BYTE>(revision), 0, static_cast<WORD>(length & ~3u), 0, 0};
  return Ok();
}

namespace {
// Bytes in use: the header and the entries (false for a broken list).
bool UsedBytes(const ACL* acl, std::size_t& used) {
  if (!acl || acl->AclSize < sizeof(ACL)) return false;
  const BYTE* p = reinterpret_cast<const BYTE*>(acl);
  used = sizeof(ACL);
  for (WORD i = 0; i < acl->AceCount; ++i) {
    if (used + sizeof(ACE_HEADER) > acl->AclSize) return false;
    ACE_HEADER h;
    std::memcpy(&h, p + used, sizeof h);
    if (h.AceSize < sizeof(ACE_HEADER) || used + h.AceSize > acl->AclSize) return false;
    used += h.AceSize;
  }
  return true;
}
}  // namespace

bool IsValidAcl(const ACL* acl) {
  std::size_t used;
  return acl && (acl->AclRevision == ACL_REVISION || acl->AclRevision == ACL_REVISION_DS) &&
         UsedBytes(acl, used);
}

bool GetAclInformation(const ACL* acl, void* info, DWORD length, ACL_INFORMATION_CLASS c) {
  std::size_t used;
  if (!IsValidAcl(acl) || !UsedBytes(acl, used)) return FailWith(ERROR_INVALID_ACL);
  if (c == AclSizeInformation) {
    if (!info || length < sizeof(ACL_SIZE_INFORMATION)) return FailWith(ERROR_INSUFFICIENT_BUFFER);
    *static_cast<ACL_SIZE_INFORMATION*>(info) = {acl->AceCount, static_cast<DWORD>(used),
                                                 static_cast<DWORD>(acl->AclSize - used)};
    return Ok();
  }
  if (c == AclRevisionInformation) {
    if (!info || length < sizeof(ACL_REVISION_INFORMATION))
      return FailWith(ERROR_INSUFFICIENT_BUFFER);
    static_cast<ACL_REVISION_INFORMATION*>(info)->AclRevision = acl->AclRevision;
    return Ok();
  }
  return FailWith(ERROR_INVALID_PARAMETER);
}

bool GetAce(const ACL* acl, DWORD index, void** ace) {
  if (!ace || !IsValidAcl(acl) || index >= acl->AceCount) return FailWith(ERROR_INVALID_PARAMETER);
  const BYTE* p = reinterpret_cast<const BYTE*>(acl) + sizeof(ACL);
  for (DWORD i = 0; i < index; ++i) {
    ACE_HEADER h;
    std::memcpy(&h, p, sizeof h);
    p += h.AceSize;
  }
  *ace = const_cast<BYTE*>(p);
  return Ok();
}

bool AddAce(ACL* acl, DWORD revision, DWORD startIndex, const void* aceList, DWORD length) {
  std::size_t used;
  if (!IsValidAcl(acl) || !UsedBytes(acl, used) || !aceList)
    return FailWith(ERROR_INVALID_PARAMETER);
  if (revision > acl->AclRevision && revision != ACL_REVISION_DS)
    return FailWith(ERROR_REVISION_MISMATCH);
  // Count and check the new entries.
  const BYTE* in = static_cast<const BYTE*>(aceList);
  DWORD count = 0;
  for (DWORD at = 0; at < length; ++count) {
    if (at + sizeof(ACE_HEADER) > length) return FailWith(ERROR_INVALID_PARAMETER);
    ACE_HEADER h;
    std::memcpy(&h, in + at, sizeof h);
    if (h.AceSize < sizeof(ACE_HEADER) || at + h.AceSize > length)
      return FailWith(ERROR_INVALID_PARAMETER);
    at += h.AceSize;
  }
  if (used + length > acl->AclSize) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  BYTE* base = reinterpret_cast<BYTE*>(acl);
  std::size_t insertAt = sizeof(ACL);
  for (DWORD i = 0; i < acl->AceCount && i < startIndex; ++i) {
    ACE_HEADER h;
    std::memcpy(&h, base + insertAt, sizeof h);
    insertAt += h.AceSize;
  }
  std::memmove(base + insertAt + length, base + insertAt, used - insertAt);
  std::memcpy(base + insertAt, in, length);
  acl->AceCount = static_cast<WORD>(acl->AceCount + count);
  if (revision > acl->AclRevision) acl->AclRevision = static_cast<BYTE>(revision);
  return Ok();
}

bool DeleteAce(ACL* acl, DWORD index) {
  std::size_t used;
  void* ace = nullptr;
  if (!GetAce(acl, index, &ace) || !UsedBytes(acl, used)) return FailWith(ERROR_INVALID_PARAMETER);
  ACE_HEADER h;
  std::memcpy(&h, ace, sizeof h);
  BYTE* p = static_cast<BYTE*>(ace);
  BYTE* end = reinterpret_cast<BYTE*>(acl) + used;
  std::memmove(p, p + h.AceSize, static_cast<std::size_t>(end - p - h.AceSize));
  acl->AceCount--;
  return Ok();
}

namespace {
bool AddSimpleAce(ACL* acl, DWORD revision, BYTE type, DWORD flags, ACCESS_MASK mask, PSID sid) {
  if (!IsValidSid(sid)) return FailWith(ERROR_INVALID_SID);
  Ace a;
  a.type = type;
  a.flags = static_cast<BYTE>(flags);
  a.mask = mask;
  a.sid = Sid::FromPsid(sid);
  std::vector<BYTE> bytes(AclBytes({a}));
  WriteAcl(bytes.data(), {a});
  return AddAce(acl, revision, 0xFFFFFFFFu, bytes.data() + sizeof(ACL),
                static_cast<DWORD>(bytes.size() - sizeof(ACL)));
}
}  // namespace

bool AddAccessAllowedAce(ACL* acl, DWORD revision, ACCESS_MASK mask, PSID sid) {
  return AddSimpleAce(acl, revision, ACCESS_ALLOWED_ACE_TYPE, 0, mask, sid);
}
bool AddAccessAllowedAceEx(ACL* acl, DWORD revision, DWORD flags, ACCESS_MASK mask, PSID sid) {
  return AddSimpleAce(acl, revision, ACCESS_ALLOWED_ACE_TYPE, flags, mask, sid);
}
bool AddAccessDeniedAce(ACL* acl, DWORD revision, ACCESS_MASK mask, PSID sid) {
  return AddSimpleAce(acl, revision, ACCESS_DENIED_ACE_TYPE, 0, mask, sid);
}
bool AddAccessDeniedAceEx(ACL* acl, DWORD revision, DWORD flags, ACCESS_MASK mask, PSID sid) {
  return AddSimpleAce(acl, revision, ACCESS_DENIED_ACE_TYPE, flags, mask, sid);
}

bool IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR sd) {
  return SecurityDescriptor::FromBinary(sd).has_value();
}

DWORD GetSecurityDescriptorLength(PSECURITY_DESCRIPTOR sd) {
  auto parsed = SecurityDescriptor::FromBinary(sd);
  return parsed ? static_cast<DWORD>(parsed->ToBinary().size()) : 0;
}

bool GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR sd, WORD* control, DWORD* revision) {
  if (!sd || !control || !revision) return FailWith(ERROR_INVALID_PARAMETER);
  const auto* h = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(sd);
  *control = h->Control;
  *revision = h->Revision;
  return Ok();
}

bool GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR sd, bool* present, ACL** dacl,
                               bool* defaulted) {
  if (!sd || !present || !dacl) return FailWith(ERROR_INVALID_PARAMETER);
  const auto* h = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(sd);
  *present = (h->Control & SE_DACL_PRESENT) != 0;
  *dacl = *present && h->Dacl ? reinterpret_cast<ACL*>(static_cast<BYTE*>(sd) + h->Dacl) : nullptr;
  if (defaulted) *defaulted = (h->Control & SE_DACL_DEFAULTED) != 0;
  return Ok();
}

bool GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR sd, PSID* owner, bool* defaulted) {
  if (!sd || !owner) return FailWith(ERROR_INVALID_PARAMETER);
  const auto* h = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(sd);
  *owner = h->Owner ? static_cast<BYTE*>(sd) + h->Owner : nullptr;
  if (defaulted) *defaulted = (h->Control & SE_OWNER_DEFAULTED) != 0;
  return Ok();
}

bool GetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR sd, PSID* group, bool* defaulted) {
  if (!sd || !group) return FailWith(ERROR_INVALID_PARAMETER);
  const auto* h = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(sd);
  *group = h->Group ? static_cast<BYTE*>(sd) + h->Group : nullptr;
  if (defaulted) *defaulted = (h->Control & SE_GROUP_DEFAULTED) != 0;
  return Ok();
}

namespace {
void* CopyToHeap(const std::vector<BYTE>& bytes) {
  void* p = std::malloc(bytes.empty() ? 1 : bytes.size());
  if (p) std::memcpy(p, bytes.data(), bytes.size());
  return p;
}
std::optional<std::vector<Ace>> AclValue(const ACL* acl) {
  if (!acl) return std::nullopt;
  std::vector<Ace> out;
  ReadAcl(reinterpret_cast<const BYTE*>(acl), acl->AclSize, out);
  return out;
}
}  // namespace

PSECURITY_DESCRIPTOR MakeSecurityDescriptor(PSID owner, PSID group, const ACL* dacl, WORD control) {
  SecurityDescriptor sd;
  if (IsValidSid(owner)) sd.owner = Sid::FromPsid(owner);
  if (IsValidSid(group)) sd.group = Sid::FromPsid(group);
  sd.dacl = AclValue(dacl);
  sd.control = control;
  return CopyToHeap(sd.ToBinary());
}

bool ConvertStringSecurityDescriptorToSecurityDescriptorW(std::wstring_view sddl, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* sd, DWORD* size) {
  if (!sd || revision != SDDL_REVISION_1) return FailWith(ERROR_INVALID_PARAMETER);
  auto parsed = SecurityDescriptor::FromSddl(sddl);
  if (!parsed) return FailWith(ERROR_INVALID_PARAMETER);
  std::vector<BYTE> bytes = parsed->ToBinary();
  *sd = CopyToHeap(bytes);
  if (size) *size = static_cast<DWORD>(bytes.size());
  return Ok();
}

bool ConvertSecurityDescriptorToStringSecurityDescriptorW(PSECURITY_DESCRIPTOR sd, DWORD revision,
                                                          SECURITY_INFORMATION parts,
                                                          std::wstring& sddl) {
  if (revision != SDDL_REVISION_1) return FailWith(ERROR_UNKNOWN_REVISION);
  auto parsed = SecurityDescriptor::FromBinary(sd);
  if (!parsed) return FailWith(ERROR_INVALID_SECURITY_DESCR);
  sddl = parsed->ToSddl(parts);
  return Ok();
}

// ---------------------------------------------------------------------------------------------
// Trustees and explicit access

namespace {

DWORD TrusteeSid(const TRUSTEE_W* t, Sid& sid, bool& currentUser) {
  currentUser = false;
  if (!t || t->pMultipleTrustee || t->MultipleTrusteeOperation != NO_MULTIPLE_TRUSTEE)
    return ERROR_INVALID_PARAMETER;
  if (t->TrusteeForm == TRUSTEE_IS_SID) {
    if (!IsValidSid(const_cast<wchar_t*>(t->ptstrName))) return ERROR_INVALID_SID;
    sid = Sid::FromPsid(t->ptstrName);
    return ERROR_SUCCESS;
  }
  if (t->TrusteeForm != TRUSTEE_IS_NAME || !t->ptstrName) return ERROR_INVALID_PARAMETER;
  if (std::wstring(t->ptstrName) == L"CURRENT_USER") {
    currentUser = true;
    sid = CurrentToken()->user;
    return ERROR_SUCCESS;
  }
  const Account* a = AccountTable::Current().FindName(t->ptstrName);
  if (!a) return ERROR_NONE_MAPPED;
  sid = a->sid;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD SetEntriesInAclW(DWORD count, const EXPLICIT_ACCESS_W* entries, const ACL* old, ACL** acl) {
  if (!acl || (count && !entries)) return ERROR_INVALID_PARAMETER;
  std::vector<Ace> explicitDeny, explicitAllow, inherited;
  if (old) {
    if (!IsValidAcl(old)) return ERROR_INVALID_ACL;
    const auto entries = AclValue(old);
    for (const Ace& a : *entries) {
      if (a.flags & INHERITED_ACE)
        inherited.push_back(a);
      else if (a.type == ACCESS_DENIED_ACE_TYPE)
        explicitDeny.push_back(a);
      else
        explicitAllow.push_back(a);
    }
  }
  for (DWORD i = 0; i < count; ++i) {
    const EXPLICIT_ACCESS_W& e = entries[i];
    Sid sid;
    bool current = false;
    DWORD status = TrusteeSid(&e.Trustee, sid, current);
    if (status != ERROR_SUCCESS) return status;
    auto drop = [&](std::vector<Ace>& list) {
      list.erase(
          std::remove_if(list.begin(), list.end(), [&](const Ace& a) { return a.sid == sid; }),
          list.end());
    };
    Ace a;
    a.sid = sid;
    a.mask = e.grfAccessPermissions;
    a.flags = static_cast<BYTE>(e.grfInheritance & 0x1F);
    switch (e.grfAccessMode) {
      case NOT_USED_ACCESS: break;
      case GRANT_ACCESS: {
        bool merged = false;
        for (Ace& x : explicitAllow)
          if (x.sid == sid && x.flags == a.flags && x.type == ACCESS_ALLOWED_ACE_TYPE)
            x.mask |= a.mask, merged = true;
        if (!merged) explicitAllow.push_back(a);
        break;
      }
      case SET_ACCESS:
        drop(explicitAllow);
        drop(explicitDeny);
        explicitAllow.push_back(a);
        break;
      case DENY_ACCESS:
        a.type = ACCESS_DENIED_ACE_TYPE;
        explicitDeny.push_back(a);
        break;
      case REVOKE_ACCESS:
        drop(explicitAllow);
        drop(explicitDeny);
        break;
      default: return ERROR_INVALID_PARAMETER;
    }
  }
  std::vector<Ace> all = explicitDeny;
  all.insert(all.end(), explicitAllow.begin(), explicitAllow.end());
  all.insert(all.end(), inherited.begin(), inherited.end());
  std::vector<BYTE> bytes(AclBytes(all));
  if (bytes.size() > 0xFFFF) return ERROR_INVALID_PARAMETER;
  WriteAcl(bytes.data(), all);
  *acl = static_cast<ACL*>(CopyToHeap(bytes));
  return *acl ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

DWORD GetEffectiveRightsFromAclW(const ACL* acl, const TRUSTEE_W* trustee, ACCESS_MASK* rights) {
  if (!rights) return ERROR_INVALID_PARAMETER;
  Sid sid;
  bool current = false;
  DWORD status = TrusteeSid(trustee, sid, current);
  if (status != ERROR_SUCCESS) return status;
  if (!acl) {
    *rights = 0xFFFFFFFFu;  // a NULL list grants everything
    return ERROR_SUCCESS;
  }
  if (!IsValidAcl(acl)) return ERROR_INVALID_ACL;
  Token who;
  if (current) {
    who = *CurrentToken();
  } else {
    who.user = sid;
    const AccountTable& accounts = AccountTable::Current();
    if (sid == accounts.User().sid)
      for (const Sid& g : accounts.UserGroups()) who.groups.push_back({g, SE_GROUP_ENABLED});
    who.groups.push_back({EveryoneSid(), SE_GROUP_ENABLED});
    const Account* a = accounts.FindSid(sid);
    if (a && a->use == SidTypeUser)
      who.groups.push_back({AuthenticatedUsersSid(), SE_GROUP_ENABLED});
  }
  auto list = AclValue(acl);
  *rights = RightsFromAcl(&*list, who);
  return ERROR_SUCCESS;
}

}  // namespace platform
