#include "Snapshot.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "platform/Files.h"
#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/Security.h"
#include "platform/Text.h"

using namespace platform;

namespace tlmachine {

namespace {

std::string AttributeLetters(DWORD a) {
  static const struct {
    DWORD bit;
    char letter;
  } kLetters[] = {{FILE_ATTRIBUTE_READONLY, 'R'},
                  {FILE_ATTRIBUTE_HIDDEN, 'H'},
                  {FILE_ATTRIBUTE_SYSTEM, 'S'},
                  {FILE_ATTRIBUTE_DIRECTORY, 'D'},
                  {FILE_ATTRIBUTE_ARCHIVE, 'A'},
                  {FILE_ATTRIBUTE_TEMPORARY, 'T'},
                  {FILE_ATTRIBUTE_COMPRESSED, 'C'},
                  {FILE_ATTRIBUTE_OFFLINE, 'O'},
                  {FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 'I'}};
  char buf[16];
  std::size_t n = 0;
  for (const auto& l : kLetters)
    if (a & l.bit) buf[n++] = l.letter;
  if (n == 0) buf[n++] = 'N';
  return std::string(buf, n);
}

std::string SecurityOf(const std::wstring& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &sd) != ERROR_SUCCESS)
    return " security=?";
  std::wstring sddl;
  const bool ok = ConvertSecurityDescriptorToStringSecurityDescriptorW(
      sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, sddl);
  LocalFree(sd);
  return ok ? " security=" + ToUtf8(sddl) : " security=?";
}

void WalkFolder(const std::wstring& folder, Snapshot& out, bool security) {
  std::vector<FindData> entries;
  if (FindAll(folder + L"\\*", entries) != ERROR_SUCCESS) return;
  for (const auto& e : entries) {
    std::wstring path = folder + L"\\" + e.fileName;
    std::string id = ToUtf8(path);
    if (e.attributes & FILE_ATTRIBUTE_DIRECTORY) {
      out["D " + id] =
          "attr=" + AttributeLetters(e.attributes) + (security ? SecurityOf(path) : std::string());
      // A link is listed, never walked (it may lead back up the tree).
      if (!(e.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) WalkFolder(path, out, security);
    } else {
      out["F " + id] = "size=" + std::to_string(e.size) +
                       " attr=" + AttributeLetters(e.attributes) +
                       " time=" + std::to_string(e.lastWriteTime) +
                       (security ? SecurityOf(path) : std::string());
    }
  }
}

std::string ValueDetails(const reg::Value& v) {
  std::string data = ToUtf8(reg::FormatValueData(v));
  if (data.size() > 240) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : v.data) {
      h ^= c;
      h *= 1099511628211ull;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, " ... (%zu bytes, hash %016llx)", v.data.size(),
                  static_cast<unsigned long long>(h));
    data = data.substr(0, 200) + buf;
  }
  return TypeName(v.type) + " " + data;
}

void WalkKey(const reg::Key& key, const std::wstring& path, Snapshot& out) {
  std::string id = ToUtf8(path);
  out["K " + id] = key.sddl.empty() ? std::string() : "security=" + ToUtf8(key.sddl);
  for (const auto& v : key.Values()) {
    std::string valueId = "V ";
    valueId.append(id).append(" : ");
    if (v.name.empty())
      valueId.push_back('@');
    else
      valueId.append(1, '"').append(ToUtf8(v.name)).append(1, '"');
    out[valueId] = ValueDetails(v);
  }
  for (const auto& [folded, child] : key.Children())
    WalkKey(*child, path + L"\\" + child->Name(), out);
}

void SnapshotHive(HKEY root, const std::wstring& subKey, const std::wstring& rootPath,
                  Snapshot& out) {
  std::string text;
  LSTATUS status = ExportKey(root, subKey, KEY_WOW64_64KEY, text);
  if (status != ERROR_SUCCESS) {
    RegKey probe;
    std::wstring why =
        probe.Open(root, subKey) == ERROR_SUCCESS ? std::wstring() : HiveErrorText(root);
    throw std::runtime_error("cannot read " + ToUtf8(rootPath) + ": " +
                             ToUtf8(SystemErrorText(status)) +
                             (why.empty() ? "" : " (" + ToUtf8(why) + ")"));
  }
  reg::ParseError error;
  auto tree = reg::ParseHive(text, rootPath, &error);
  if (!tree)
    throw std::runtime_error("cannot read " + ToUtf8(rootPath) + ": " + ToUtf8(error.message));
  WalkKey(*tree, rootPath, out);
}

}  // namespace

Snapshot TakeSnapshot(bool security) {
  Snapshot out;
  const Machine& machine = Machine::Current();
  for (const DriveConfig& drive : machine.Config().drives) {
    // Only drives inside the machine root belong to it (Z: maps the host's "/").
    std::string host = machine.DriveHostPath(drive.letter);
    if (host.compare(0, machine.Root().size() + 1, machine.Root() + "/") != 0) continue;
    std::wstring root = std::wstring(1, drive.letter) + L":";
    WalkFolder(root, out, security);
  }
  // HKLM, then every user hive.
  for (const HiveInfo& hive : ListHives()) {
    if (hive.status != ERROR_SUCCESS)
      throw std::runtime_error("the hive " + hive.file +
                               " cannot be read: " + ToUtf8(hive.errorText));
    if (hive.rootPath == L"HKEY_LOCAL_MACHINE") {
      SnapshotHive(HKEY_LOCAL_MACHINE, L"", hive.rootPath, out);
    } else {
      std::wstring name = hive.rootPath.substr(std::wstring(L"HKEY_USERS\\").size());
      SnapshotHive(HKEY_USERS, name, hive.rootPath, out);
    }
  }
  return out;
}

void WriteSnapshot(const Snapshot& snapshot, std::ostream& out) {
  out << "# tlmachine snapshot 1\n";
  for (const auto& [id, details] : snapshot) out << id << '\t' << details << '\n';
}

Snapshot ReadSnapshot(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot be read");
  std::string line;
  if (!std::getline(in, line) || line != "# tlmachine snapshot 1")
    throw std::runtime_error(path + ", line 1: not a tlmachine snapshot");
  Snapshot snapshot;
  std::size_t lineNo = 1;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty()) continue;
    auto tab = line.find('\t');
    if (tab == std::string::npos || line.size() < 3 || line[1] != ' ' ||
        std::string("FDKV").find(line[0]) == std::string::npos)
      throw std::runtime_error(path + ", line " + std::to_string(lineNo) + ": malformed entry");
    snapshot[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return snapshot;
}

DiffCounts PrintDiff(const Snapshot& before, const Snapshot& after, std::ostream& out) {
  DiffCounts counts;
  auto a = before.begin();
  auto b = after.begin();
  while (a != before.end() || b != after.end()) {
    if (b == after.end() || (a != before.end() && a->first < b->first)) {
      out << "- " << a->first << '\t' << a->second << '\n';
      ++counts.removed;
      ++a;
    } else if (a == before.end() || b->first < a->first) {
      out << "+ " << b->first << '\t' << b->second << '\n';
      ++counts.added;
      ++b;
    } else {
      if (a->second != b->second) {
        out << "~ " << a->first << '\t' << a->second << " -> " << b->second << '\n';
        ++counts.changed;
      }
      ++a;
      ++b;
    }
  }
  return counts;
}

std::string TypeName(std::uint32_t type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN: return "REG_DWORD_BIG_ENDIAN";
    case REG_LINK: return "REG_LINK";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "REG_" + std::to_string(type);
  }
}

}  // namespace tlmachine
