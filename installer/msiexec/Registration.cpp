// The product's registration as Windows keeps it: the list of programs, the Installer's product,
// feature and component keys, the cached package and the record of what the product holds; and
// the counting of components across products.
#include <algorithm>
#include <cstdio>

#include "msiexec/Engine.h"
#include "msiexec/EngineCommon.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace Msi {

namespace {

constexpr int kComponentRegistryKeyPath = 0x0004;

}  // namespace

void Engine::RegisterComponents() {
  const std::wstring product = PackedGuid(m_productCode);
  for (const auto& [name, c] : m_components) {
    const std::wstring packed = PackedGuid(c.guid);
    if (packed.empty()) continue;  // a component without an id is not registered
    const std::wstring key = kUserDataKey + std::wstring(L"Components\\") + packed;
    const bool now =
        c.action == kStateLocal || (c.action == kStateUnknown && c.installed == kStateLocal);
    if (now && !m_removing) {
      platform::RegKey k;
      if (k.Create(platform::HKEY_LOCAL_MACHINE, key) != platform::ERROR_SUCCESS) continue;
      std::wstring keyPath = m_componentDirs[name];
      if (!c.keyPath.empty() && m_filePaths.count(c.keyPath)) keyPath = m_filePaths[c.keyPath];
      if (c.attributes & kComponentRegistryKeyPath) keyPath = L"registry:" + c.keyPath;
      k.SetString(product, keyPath);
    } else if (c.installed == kStateLocal) {
      platform::RegKey k;
      if (k.Open(platform::HKEY_LOCAL_MACHINE, key, platform::KEY_READ | platform::KEY_WRITE) !=
          platform::ERROR_SUCCESS)
        continue;
      k.DeleteValue(product);
      const bool empty = k.ValueList().empty() && k.SubKeyNames().empty();
      k.Close();
      if (empty) platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, key.c_str());
    }
  }
}

void Engine::Register() {
  const std::wstring code = m_productCode;
  const std::wstring packed = PackedGuid(code);
  const std::wstring name = Property(L"ProductName");
  const std::wstring version = Property(L"ProductVersion");
  const std::wstring publisher = Property(L"Manufacturer");

  // The Installer keeps its own copy of the package for a repair and the removal.
  const std::wstring cache = platform::GetWindowsDirectoryW() + L"\\Installer";
  platform::CreateDirectoryWithParents(cache);
  const std::wstring cached = cache + L"\\" + packed + L".msi";
  if (!platform::EqualsNoCase(cached, m_packagePath))
    platform::CopyFileW(m_packagePath, cached, false);

  platform::DWORD packedVersion = 0;
  {
    unsigned major = 0, minor = 0, build = 0;
    std::swscanf(version.c_str(), L"%u.%u.%u", &major, &minor, &build);
    packedVersion = ((major & 0xff) << 24) | ((minor & 0xff) << 16) | (build & 0xffff);
  }
  platform::RegKey entry;
  if (entry.Create(platform::HKEY_LOCAL_MACHINE, kUninstallKey + code) == platform::ERROR_SUCCESS) {
    entry.SetString(L"DisplayName", name);
    entry.SetString(L"DisplayVersion", version);
    entry.SetString(L"Publisher", publisher);
    std::wstring folder = m_packagePath;
    platform::PathRemoveFileSpecW(folder);
    entry.SetString(L"InstallSource", WithSlash(folder));
    std::wstring date;
    if (entry.QueryString(L"InstallDate", date) != platform::ERROR_SUCCESS || date.empty())
      entry.SetString(L"InstallDate", platform::FromUtf8(LocalDate()));
    entry.SetString(L"UninstallString", L"MsiExec.exe /X" + code);
    entry.SetString(L"ModifyPath", L"MsiExec.exe /X" + code);
    entry.SetDword(L"WindowsInstaller", 1);
    entry.SetDword(L"Version", packedVersion);
    const std::wstring location = Property(L"ARPINSTALLLOCATION");
    if (!location.empty()) entry.SetString(L"InstallLocation", location);
  }
  platform::RegKey product;
  if (product.Create(platform::HKEY_LOCAL_MACHINE, kProductsKey + packed) ==
      platform::ERROR_SUCCESS) {
    product.SetString(L"ProductName", name);
    product.SetDword(L"Language", static_cast<platform::DWORD>(std::wcstoul(
                                      Property(L"ProductLanguage").c_str(), nullptr, 10)));
    product.SetDword(L"Version", packedVersion);
    product.SetDword(L"Assignment", m_perMachine ? 1 : 0);
  }
  // The features the product has now, with their parents.
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, (kFeaturesKey + packed).c_str());
  platform::RegKey features;
  if (features.Create(platform::HKEY_LOCAL_MACHINE, kFeaturesKey + packed) ==
      platform::ERROR_SUCCESS)
    for (const auto& n : m_featureOrder) {
      const FeatureInfo& f = m_features[n];
      if ((f.action == kStateUnknown ? f.installed : f.action) == kStateLocal)
        features.SetString(n, f.parent);
    }
  platform::RegKey properties;
  if (properties.Create(platform::HKEY_LOCAL_MACHINE, kUserDataKey + std::wstring(L"Products\\") +
                                                          packed + L"\\InstallProperties") ==
      platform::ERROR_SUCCESS) {
    properties.SetString(L"LocalPackage", cached);
    properties.SetString(L"DisplayName", name);
    properties.SetString(L"DisplayVersion", version);
    properties.SetString(L"Publisher", publisher);
    std::vector<std::wstring> texts;
    for (const auto& item : m_items) texts.push_back(item.Encode());
    properties.SetMultiString(kItemsValue, texts);
    std::vector<std::wstring> told;
    const Table& directories = m_database.Get(L"Directory");
    for (std::size_t i = 0; i < directories.rows.size(); ++i) {
      const std::wstring id = directories.Cell(i, L"Directory");
      if (m_directoryOverrides.count(id) && m_directories.count(id))
        told.push_back(id + L"=" + m_directories[id]);
    }
    properties.SetMultiString(kDirectoriesValue, told);
    properties.DeleteValue(kOldFilesValue);
    properties.DeleteValue(kOldValuesValue);
  }
  // The upgrade code's list of products: what a later version's Upgrade table finds.
  const std::wstring upgrade = PackedGuid(platform::ToUpper(Property(L"UpgradeCode")));
  platform::RegKey upgrades;
  if (!upgrade.empty() && upgrades.Create(platform::HKEY_LOCAL_MACHINE,
                                          kUpgradeCodesKey + upgrade) == platform::ERROR_SUCCESS)
    upgrades.SetString(packed, L"");
  RegisterComponents();
}

std::vector<std::wstring> Engine::RelatedProducts(const std::wstring& upgradeCode) const {
  std::vector<std::wstring> codes;
  platform::RegKey key;
  const std::wstring packed = PackedGuid(upgradeCode);
  if (packed.empty() ||
      key.Open(platform::HKEY_LOCAL_MACHINE, kUpgradeCodesKey + packed) != platform::ERROR_SUCCESS)
    return codes;
  for (const auto& v : key.ValueList()) {
    const std::wstring code = UnpackedGuid(v.name);
    if (!code.empty()) codes.push_back(code);
  }
  return codes;
}

void Engine::Unregister() {
  RegisterComponents();
  const std::wstring packed = PackedGuid(m_productCode);
  std::wstring cached;
  {
    platform::RegKey properties;
    if (properties.Open(platform::HKEY_LOCAL_MACHINE, kUserDataKey + std::wstring(L"Products\\") +
                                                          packed + L"\\InstallProperties") ==
        platform::ERROR_SUCCESS)
      properties.QueryString(L"LocalPackage", cached);
  }
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, (kUninstallKey + m_productCode).c_str());
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, (kProductsKey + packed).c_str());
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE, (kFeaturesKey + packed).c_str());
  platform::RegDeleteTreeW(platform::HKEY_LOCAL_MACHINE,
                           (kUserDataKey + std::wstring(L"Products\\") + packed).c_str());
  const std::wstring upgrade =
      kUpgradeCodesKey + PackedGuid(platform::ToUpper(Property(L"UpgradeCode")));
  platform::RegKey upgrades;
  if (upgrades.Open(platform::HKEY_LOCAL_MACHINE, upgrade,
                    platform::KEY_READ | platform::KEY_WRITE) == platform::ERROR_SUCCESS) {
    upgrades.DeleteValue(packed);
    const bool empty = upgrades.ValueList().empty() && upgrades.SubKeyNames().empty();
    upgrades.Close();
    if (empty) platform::RegDeleteKeyW(platform::HKEY_LOCAL_MACHINE, upgrade.c_str());
  }
  // Only the Installer's own copy goes, never a package the caller named.
  const std::wstring cache = platform::GetWindowsDirectoryW() + L"\\Installer\\";
  if (!cached.empty() && platform::EqualsNoCase(cached, cache + packed + L".msi"))
    platform::DeleteFileW(cached);
  // The Installer's own keys go when they hold nothing more (its cache folder is Windows').
  for (const wchar_t* key :
       {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Components",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer",
        L"SOFTWARE\\Classes\\Installer\\Features", L"SOFTWARE\\Classes\\Installer\\Products",
        L"SOFTWARE\\Classes\\Installer\\UpgradeCodes", L"SOFTWARE\\Classes\\Installer"}) {
    platform::RegKey k;
    if (k.Open(platform::HKEY_LOCAL_MACHINE, key) != platform::ERROR_SUCCESS) continue;
    const bool empty = k.ValueList().empty() && k.SubKeyNames().empty();
    k.Close();
    if (empty) platform::RegDeleteKeyW(platform::HKEY_LOCAL_MACHINE, key);
  }
}

bool Engine::ComponentHeldElsewhere(const std::wstring& component) const {
  const ComponentInfo* c = Component(component);
  if (!c) return false;
  const std::wstring packed = PackedGuid(c->guid);
  if (packed.empty()) return false;
  platform::RegKey key;
  if (key.Open(platform::HKEY_LOCAL_MACHINE,
               kUserDataKey + std::wstring(L"Components\\") + packed) != platform::ERROR_SUCCESS)
    return false;
  const std::wstring product = PackedGuid(m_productCode);
  for (const auto& v : key.ValueList())
    if (!platform::EqualsNoCase(v.name, product)) return true;
  return false;
}

// Adds `item` to the records of the other products that hold its component.
void Engine::HandOver(const Item& item) {
  const ComponentInfo* c = Component(item.component);
  if (!c) return;
  const std::wstring base = kUserDataKey;
  platform::RegKey key;
  if (key.Open(platform::HKEY_LOCAL_MACHINE, base + L"Components\\" + PackedGuid(c->guid)) !=
      platform::ERROR_SUCCESS)
    return;
  const std::wstring self = PackedGuid(m_productCode);
  for (const auto& v : key.ValueList()) {
    if (platform::EqualsNoCase(v.name, self)) continue;
    platform::RegKey properties;
    if (properties.Open(platform::HKEY_LOCAL_MACHINE,
                        base + L"Products\\" + v.name + L"\\InstallProperties",
                        platform::KEY_READ | platform::KEY_WRITE) != platform::ERROR_SUCCESS)
      continue;
    std::vector<std::wstring> texts;
    properties.QueryMultiString(kItemsValue, texts);
    const std::wstring text = item.Encode();
    if (std::find(texts.begin(), texts.end(), text) != texts.end()) continue;
    texts.push_back(text);
    properties.SetMultiString(kItemsValue, texts);
  }
}

// Takes back what this run wrote, when the run fails on the way.
void Engine::Rollback() {
  if (m_written.empty()) return;
  m_log.Line(L"Rolling back what this run wrote", false);
  for (auto it = m_written.rbegin(); it != m_written.rend(); ++it) {
    if (it->kind == kFolder || it->kind == kKey) continue;
    RemoveItem(*it);
  }
  for (auto it = m_written.rbegin(); it != m_written.rend(); ++it)
    if (it->kind == kFolder || it->kind == kKey) RemoveItem(*it);
}

}  // namespace Msi
