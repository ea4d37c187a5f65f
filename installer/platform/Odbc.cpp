#include "platform/Odbc.h"

#include "platform/Machine.h"
#include "platform/Registry.h"
#include "platform/Text.h"

#include <cstring>

namespace platform {

namespace {

std::wstring ValueText(const reg::Value& v) {
  if (IsStringType(v.type)) {
    if (v.type != REG_MULTI_SZ) return reg::DataToString(v.data);
    std::wstring out;
    for (const std::wstring& item : reg::DataToMultiString(v.data))
      out += (out.empty() ? L"" : L"; ") + item;
    return out;
  }
  if (v.type == REG_DWORD && v.data.size() == 4) {
    std::uint32_t d;
    std::memcpy(&d, v.data.data(), 4);
    return UIntToWide(d);
  }
  if (v.type == REG_QWORD && v.data.size() == 8) {
    std::uint64_t q;
    std::memcpy(&q, v.data.data(), 8);
    return UIntToWide(q);
  }
  std::wstring out;
  for (std::uint8_t b : v.data) {
    std::wstring h = UIntToWide(b, 16);
    out += (h.size() < 2 ? L"0" : L"") + ToUpper(h);
  }
  return out;
}

void ReadTree(const RegKey& key, const std::wstring& prefix, REGSAM view, OdbcDataSource& source,
              int depth) {
  for (const reg::Value& v : key.ValueList())
    source.attributes.emplace_back(prefix + v.name, ValueText(v));
  if (depth > 8) return;
  for (const std::wstring& sub : key.SubKeyNames()) {
    RegKey child;
    if (child.Open(key.Get(), sub, KEY_READ | view) != ERROR_SUCCESS) continue;
    ReadTree(child, prefix + sub + L"\\", view, source, depth + 1);
  }
}

void ReadView(REGSAM view, bool is64Bit, std::vector<OdbcDataSource>& out) {
  RegKey list;
  if (list.Open(HKEY_LOCAL_MACHINE, kOdbcDataSourcesKey, KEY_READ | view) != ERROR_SUCCESS) return;
  for (const reg::Value& v : list.ValueList()) {
    if (v.name.empty()) continue;
    OdbcDataSource s;
    s.name = v.name;
    s.driver = IsStringType(v.type) ? reg::DataToString(v.data) : std::wstring();
    s.is64Bit = is64Bit;
    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, std::wstring(kOdbcIniKey) + L"\\" + v.name, KEY_READ | view) ==
        ERROR_SUCCESS) {
      s.hasKey = true;
      ReadTree(key, L"", view, s, 0);
    }
    out.push_back(std::move(s));
  }
}

}  // namespace

std::wstring OdbcDataSource::Attribute(const std::wstring& attributeName) const {
  for (const auto& a : attributes)
    if (EqualsNoCase(a.first, attributeName)) return a.second;
  return L"";
}

std::vector<OdbcDataSource> SystemDataSources() {
  std::vector<OdbcDataSource> out;
  if (CurrentConfig().os.is64Bit) {
    ReadView(KEY_WOW64_64KEY, true, out);
    ReadView(KEY_WOW64_32KEY, false, out);
  } else {
    ReadView(0, false, out);
  }
  return out;
}

std::wstring DescribeSystemDataSources() {
  std::vector<OdbcDataSource> sources = SystemDataSources();
  auto pad = [](std::wstring s, std::size_t width) {
    if (s.size() >= width) return s + L" ";
    return s + std::wstring(width - s.size(), L' ');
  };
  std::wstring out = L"System data sources\n\n" + pad(L"Name", 24) + pad(L"Platform", 10) +
                     L"Driver\n" + std::wstring(79, L'-') + L"\n";
  for (const OdbcDataSource& s : sources) {
    out += pad(s.name, 24) + pad(s.is64Bit ? L"64-bit" : L"32-bit", 10) + s.driver + L"\n";
    if (!s.hasKey) out += L"    (no key of its own)\n";
    for (const auto& a : s.attributes) out += L"    " + a.first + L" = " + a.second + L"\n";
  }
  if (sources.empty()) out += L"(none)\n";
  return out;
}

}  // namespace platform
