#include "manager/InstalledProducts.h"

#include "app/Tools.h"
#include "package/FileAccess.h"
#include "package/XmlSettings.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Text.h"

#include <limits>

namespace InstallManager {

using CommonTools::SettingsNodeListPtr;
using CommonTools::SettingsNodePtr;
using CommonTools::Variant;

namespace {

// Names of the record file.
constexpr const wchar_t* kRoot = L"Settings";
constexpr const wchar_t* kProject = L"Project";
constexpr const wchar_t* kApplication = L"Application";
constexpr const wchar_t* kPath = L"Path";
constexpr const wchar_t* kVersion = L"Version";
constexpr const wchar_t* kType = L"Type";
constexpr const wchar_t* kBuild = L"Build";
constexpr const wchar_t* kPv = L"PV";
constexpr const wchar_t* kRegistry = L"Registry";
constexpr const wchar_t* kLanguage = L"Language";
constexpr const wchar_t* kLibraries = L"Libraries";
constexpr const wchar_t* kCfPath = L"CFPath";
// The common-files counter.
constexpr const wchar_t* kCount = L"Count";
constexpr const wchar_t* kCounterPath = L"Path";

constexpr platform::REGSAM kAccess = platform::KEY_READ | platform::KEY_WRITE;
// Copies of unreadable records kept aside, at most (".bad" to ".bad.999").
constexpr int kMaxBadCopies = 1000;
// A record of every product of the family on a computer takes a few kilobytes; a file larger
// than this is not a record and is not read.
constexpr std::uint64_t kMaxRecordFileBytes = 4u << 20;

}  // namespace

int InstalledProducts::LanguageIndex(std::uint32_t value) const {
  unsigned count = m_languages ? m_languages->GetCount() : 0;
  if (value < 1000) return value < count ? static_cast<int>(value) : 0;
  if (!m_languages || value > static_cast<std::uint32_t>(std::numeric_limits<int>::max())) return 0;
  unsigned index = m_languages->FindById(static_cast<int>(value));
  return index < count ? static_cast<int>(index) : 0;
}

int InstalledProducts::LanguageId(int index) const {
  if (m_languages && index >= 0 && static_cast<unsigned>(index) < m_languages->GetCount())
    return m_languages->GetId(static_cast<unsigned>(index));
  return index;
}

bool InstalledProducts::Load(const std::wstring& filePath, const std::wstring& pathKey,
                             const std::wstring& pathValue) {
  m_entries.clear();
  m_unreadableFile.clear();
  CommonTools::CXmlSettings file;
  file.SetReadLimit(kMaxRecordFileBytes);
  SettingsNodePtr root;
  if (!file.Load(filePath) || !file.GetRoot(root)) {
    if (CommonTools::FileAccess::Exists(filePath)) {
      Log(LogLevel::Warning, L"InstalledProducts: %s cannot be read (%s) and counts as empty",
          filePath, file.LastError());
      m_unreadableFile = filePath;
    }
    return true;
  }
  try {
    m_application = CommonTools::GetText(root, kApplication);
    m_path = CommonTools::GetText(root, kPath);
    SettingsNodeListPtr list;
    if (!root->GetChildren(list)) return true;
    int n = list->GetCount();
    for (int i = 0; i < n; ++i) {
      SettingsNodePtr item;
      if (!list->GetItem(i, item)) continue;
      InstalledProduct e;
      e.build = CommonTools::GetInt(item, kBuild, 0);
      e.path = CommonTools::GetText(item, kPath);
      e.pv = CommonTools::GetText(item, kPv);
      e.registry = CommonTools::GetText(item, kRegistry);
      e.type = CommonTools::GetText(item, kType);
      e.version = platform::wtol(CommonTools::GetText(item, kVersion, L"0"));
      e.libraries = CommonTools::GetText(item, kLibraries);
      std::uint32_t language = 0;
      if (platform::VariantToUInt32(CommonTools::GetText(item, kLanguage, L"0"), language) !=
          platform::S_OK)
        throw CommonTools::SettingsError(CommonTools::SettingsError::Code::TypeMismatch,
                                         "Type mismatch.");
      e.language = LanguageIndex(language);
      e.cfPath = CommonTools::GetText(item, kCfPath);
      if (e.path.empty() && !pathKey.empty() && !pathValue.empty()) {
        platform::RegKey key;
        if (key.Open(platform::HKEY_LOCAL_MACHINE, pathKey, kAccess) == platform::ERROR_SUCCESS) {
          std::wstring value;
          if (key.QueryString(pathValue, value) == platform::ERROR_SUCCESS)
            e.path = value.substr(0, 1000);
        }
      }
      if (!SetProduct(e.pv, e.version, e, false)) {
        m_entries.clear();
        return false;
      }
    }
  } catch (const CommonTools::SettingsError& error) {
    Log(LogLevel::Error, L"InstalledProducts: %s: %S", filePath, std::string(error.what()));
    m_entries.clear();
    return false;
  }
  return true;
}

bool InstalledProducts::Save(const std::wstring& filePath) {
  if (filePath.empty()) return false;
  try {
    CommonTools::CXmlSettings doc;
    SettingsNodePtr root;
    if (!doc.CreateRoot(kRoot, root)) return false;
    bool ok = root->SetAttribute(kApplication, Variant(m_application)) &&
              root->SetAttribute(kPath, Variant(m_path));
    for (const auto& e : m_entries) {
      SettingsNodePtr item;
      if (!ok || !root->CreateChild(kProject, item)) return false;
      ok = item->SetAttribute(kVersion, Variant(e.version)) &&
           item->SetAttribute(kPath, Variant(e.path)) && item->SetAttribute(kType, Variant(e.type));
      if (ok && e.build != 0) ok = item->SetAttribute(kBuild, Variant(e.build));
      if (ok && !e.pv.empty()) ok = item->SetAttribute(kPv, Variant(e.pv));
      if (ok && !e.registry.empty()) ok = item->SetAttribute(kRegistry, Variant(e.registry));
      if (ok) ok = item->SetAttribute(kLanguage, Variant(LanguageId(e.language)));
      if (ok && !e.libraries.empty() && !platform::EqualsNoCase(e.type, L"Client"))
        ok = item->SetAttribute(kLibraries, Variant(e.libraries));
      if (ok && !e.cfPath.empty()) ok = item->SetAttribute(kCfPath, Variant(e.cfPath));
    }
    if (!ok) return false;

    // A file that Load could not read may hold entries of other products: it is kept
    // beside the new one instead of being written over.
    if (!m_unreadableFile.empty() && platform::EqualsNoCase(m_unreadableFile, filePath) &&
        CommonTools::FileAccess::Exists(filePath)) {
      // Each copy kept aside stays: the first free of ".bad", ".bad.1", ".bad.2", ...
      std::wstring bad;
      platform::DWORD rc = platform::ERROR_ALREADY_EXISTS;
      for (int n = 0; n < kMaxBadCopies &&
                      (rc == platform::ERROR_ALREADY_EXISTS || rc == platform::ERROR_FILE_EXISTS);
           ++n) {
        bad = filePath + L".bad" + (n == 0 ? std::wstring() : L"." + std::to_wstring(n));
        rc = platform::MoveFileExW(filePath, bad, 0);
      }
      if (rc != platform::ERROR_SUCCESS) {
        Log(LogLevel::Error,
            L"InstalledProducts: the unreadable %s cannot be kept as %s and is not written over",
            filePath, bad);
        return false;
      }
      Log(LogLevel::Error, L"InstalledProducts: the unreadable %s is kept as %s", filePath, bad);
      m_unreadableFile.clear();
    }

    std::wstring temporary = filePath + L".tmp";
    if (!doc.Save(temporary)) {
      platform::DeleteFileW(temporary);
      return false;
    }
    if (platform::MoveFileExW(temporary, filePath, platform::MOVEFILE_REPLACE_EXISTING) !=
        platform::ERROR_SUCCESS) {
      platform::DeleteFileW(temporary);
      return false;
    }
    return true;
  } catch (const CommonTools::SettingsError&) {
    return false;
  }
}

int InstalledProducts::Find(const std::wstring& pv, int version, InstalledProduct& entry) const {
  for (size_t i = 0; i < m_entries.size(); ++i) {
    if (m_entries[i].pv == pv && m_entries[i].version == version) {
      entry = m_entries[i];
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool InstalledProducts::GetAt(int index, InstalledProduct& entry) const {
  if (index < 0 || index >= Count()) return false;
  entry = m_entries[static_cast<size_t>(index)];
  return true;
}

bool InstalledProducts::SetAt(int index, const InstalledProduct& entry) {
  if (index < 0 || index >= Count()) return false;
  m_entries[static_cast<size_t>(index)] = entry;
  return true;
}

bool InstalledProducts::SetProduct(const std::wstring& pv, int version,
                                   const InstalledProduct& entry, bool counts) {
  // The entry is kept under its pair, whatever the copy handed in says.
  InstalledProduct e = entry;
  e.pv = pv;
  e.version = version;
  InstalledProduct existing;
  int index = Find(pv, version, existing);
  if (index >= 0) {
    m_entries[static_cast<size_t>(index)] = e;
    return true;
  }
  m_entries.push_back(e);
  if (counts) UpdateCounter(true, m_path);
  return true;
}

bool InstalledProducts::RemoveProduct(const std::wstring& pv, int version) {
  InstalledProduct existing;
  int index = Find(pv, version, existing);
  if (index < 0) return false;
  m_entries.erase(m_entries.begin() + index);
  UpdateCounter(false, L"");
  return true;
}

void InstalledProducts::UpdateCounter(bool increment, const std::wstring& folder) {
  if (m_commonKey.empty()) return;
  platform::RegistryBatch batch;  // the counter and its folder: one load, one save
  platform::RegKey key;
  if (key.Open(platform::HKEY_LOCAL_MACHINE, m_commonKey, kAccess) != platform::ERROR_SUCCESS &&
      key.Create(platform::HKEY_LOCAL_MACHINE, m_commonKey, kAccess) != platform::ERROR_SUCCESS)
    return;
  platform::DWORD count = 0;
  if (key.QueryDword(kCount, count) != platform::ERROR_SUCCESS) count = 0;
  if (increment) {
    if (count < std::numeric_limits<platform::DWORD>::max()) ++count;
  } else if (count > 0) {
    --count;
  }
  key.SetDword(kCount, count);
  if (!folder.empty()) key.SetString(kCounterPath, folder);
}

int InstalledProducts::GetCommonUsage(std::wstring& folder, const std::wstring& name) {
  folder.clear();
  if (m_commonKey.empty()) return 0;
  platform::RegKey key;
  if (key.Open(platform::HKEY_LOCAL_MACHINE, m_commonKey, kAccess) != platform::ERROR_SUCCESS)
    return 0;
  std::wstring path;
  if (key.QueryString(kCounterPath, path) == platform::ERROR_SUCCESS) {
    if (path.size() > 260) path.resize(260);
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    if (!name.empty() && !platform::EqualsNoCase(platform::PathFindFileNameW(path), name))
      platform::PathAppendW(path, name);
    folder = path;
  }
  platform::DWORD count = 0;
  if (key.QueryDword(kCount, count) != platform::ERROR_SUCCESS) return 0;
  if (count == 0) folder.clear();
  return count > static_cast<platform::DWORD>(std::numeric_limits<int>::max())
             ? std::numeric_limits<int>::max()
             : static_cast<int>(count);
}

}  // namespace InstallManager
