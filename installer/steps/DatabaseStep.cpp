// The ODBC data source step: a machine data source of the Access driver for a database file of
// the product, registered in the registry as the ODBC setup functions keep it, or removed again.
#include "steps/DatabaseStep.h"

#include "app/Tools.h"
#include "steps/RegistryStep.h"
#include "steps/StepGuard.h"
#include "package/ScriptVocabulary.h"
#include "platform/Odbc.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/ShellFolders.h"
#include "platform/Text.h"

namespace InstallSteps {

using namespace InstallManager;

using CommonTools::SettingsNodePtr;
namespace Attribute = ScriptNames::Attribute;

namespace {

constexpr const wchar_t* kAccessDriver = L"Microsoft Access Driver (*.mdb)";
constexpr platform::REGSAM kAccess = platform::KEY_READ | platform::KEY_WRITE;

// A name the data source's key can be made of: not empty, none of the characters ODBC refuses
// in a data source name (a "\" would name another key), and not the list key itself. An empty
// name would otherwise stand for ODBC.INI, the key of every data source.
bool IsDataSourceName(const std::wstring& dsn) {
  if (platform::Trim(dsn).empty() || dsn.size() > 255) return false;
  if (dsn.find_first_of(L"[]{}(),;?*=!@\\") != std::wstring::npos) return false;
  for (wchar_t c : dsn)
    if (c < 0x20) return false;
  return !platform::EqualsNoCase(dsn, L"ODBC Data Sources");
}

void SetText(platform::HKEY key, const wchar_t* name, const std::wstring& value) {
  platform::RegSetValueExW(key, name, 0, platform::REG_SZ,
                           reinterpret_cast<const platform::BYTE*>(value.c_str()),
                           static_cast<platform::DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void SetNumber(platform::HKEY key, const wchar_t* name, platform::DWORD value) {
  platform::RegSetValueExW(key, name, 0, platform::REG_DWORD,
                           reinterpret_cast<const platform::BYTE*>(&value), sizeof value);
}

}  // namespace

void DatabaseStep::Run(const SettingsNodePtr& node, bool remove, const std::wstring& basePath) {
  try {
    if (m_ctx.IsIgnored(node)) return;
    const std::wstring dsn = m_ctx.ReadAttribute(node, Attribute::kDsn, L"", true);
    const std::wstring dsnKey = std::wstring(platform::kOdbcIniKey) + L"\\" + dsn + L"\\";
    if (!IsDataSourceName(dsn)) {
      Log(LogLevel::Warning,
          L"CommonStepDatabase: DSN = '%s' is no data source name; nothing is "
          L"changed",
          dsn);
      return;
    }
    platform::RegistryBatch batch;
    if (remove) {
      Log(LogLevel::Info, L"CommonStepDatabase: delete key = %s ", dsnKey);
      DeleteKeyTree(platform::HKEY_LOCAL_MACHINE,
                    std::wstring(platform::kOdbcIniKey) + L"\\" + dsn);
      Log(LogLevel::Info, L"CommonStepDatabase: delete value %s from key = %s ", dsn,
          std::wstring(platform::kOdbcDataSourcesKey));
      StepGuard::DeleteValue(platform::HKEY_LOCAL_MACHINE, platform::kOdbcDataSourcesKey, dsn);
      return;
    }

    Log(LogLevel::Info, L"CommonStepDatabase: create key DsnDataSources = %s attributes = %s",
        std::wstring(platform::kOdbcDataSourcesKey), std::wstring(kAccessDriver));
    platform::HKEY list = nullptr;
    if (platform::RegCreateKeyExW(platform::HKEY_LOCAL_MACHINE, platform::kOdbcDataSourcesKey, 0,
                                  nullptr, 0, kAccess, nullptr, &list,
                                  nullptr) == platform::ERROR_SUCCESS) {
      SetText(list, dsn.c_str(), kAccessDriver);
      platform::RegCloseKey(list);
    }
    Log(LogLevel::Info, L"CommonStepDatabase: create key DbDsnRegPath = %s ", dsnKey);
    platform::HKEY key = nullptr;
    if (platform::RegCreateKeyExW(platform::HKEY_LOCAL_MACHINE, dsnKey.c_str(), 0, nullptr, 0,
                                  kAccess, nullptr, &key, nullptr) != platform::ERROR_SUCCESS)
      return;
    const std::wstring file = m_ctx.ReadAttribute(node, Attribute::kFile, L"", true);
    SetText(key, L"DefaultDir", basePath);
    std::wstring dbq = basePath;
    platform::PathAppendW(dbq, file);
    SetText(key, L"DBQ", dbq);
    Log(LogLevel::Info, L"CommonStepDatabase: attribute = %s ", dbq);
    SetText(key, L"UID", L"");
    std::wstring system;
    if (platform::SHGetSpecialFolderPathW(nullptr, system, platform::CSIDL_SYSTEM, true)) {
      platform::PathAppendW(system, L"odbcjt32.dll");
      SetText(key, L"Driver", system);
    }
    SetNumber(key, L"DriverId", 0x19);
    SetNumber(key, L"SafeTransactions", 0);
    platform::HKEY jet = nullptr;
    if (platform::RegCreateKeyExW(platform::HKEY_LOCAL_MACHINE,
                                  (dsnKey + L"Engines\\Jet\\").c_str(), 0, nullptr, 0, kAccess,
                                  nullptr, &jet, nullptr) == platform::ERROR_SUCCESS) {
      SetText(jet, L"ImplicitCommitSync", L"");
      SetText(jet, L"UserCommitSync", L"Yes");
      SetNumber(jet, L"MaxBufferSize", 0x800);
      SetNumber(jet, L"PageTimeout", 5);
      SetNumber(jet, L"Threads", 3);
      platform::RegCloseKey(jet);
    }
    platform::RegCloseKey(key);
  } catch (const CommonTools::SettingsError&) {
    // The settings tree failed: the step ends, the run goes on.
  }
}

}  // namespace InstallSteps
