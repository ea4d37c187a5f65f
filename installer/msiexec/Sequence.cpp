// The execute sequence: its actions in order under their conditions, the standard actions and
// the custom actions a machine can honour.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "msiexec/Engine.h"
#include "msiexec/EngineCommon.h"
#include "platform/Files.h"
#include "platform/Processes.h"

namespace Msi {

namespace {

constexpr int kActionContinue = 0x40;  // msidbCustomActionTypeContinue: the result is ignored

struct Sequenced {
  int order;
  std::wstring action, condition;
};

}  // namespace

int Engine::RunSequence() {
  const Table& table = m_database.Get(L"InstallExecuteSequence");
  std::vector<Sequenced> steps;
  for (std::size_t i = 0; i < table.rows.size(); ++i) {
    const int order = Number(table.Cell(i, L"Sequence"), -1);
    if (order <= 0) continue;  // the sequence's special numbers (-1 success, ...) run no action
    steps.push_back({order, table.Cell(i, L"Action"), table.Cell(i, L"Condition")});
  }
  if (steps.empty()) {
    // A package without a sequence: the standard actions in their documented order.
    int order = 100;
    for (const wchar_t* a :
         {L"LaunchConditions", L"CostFinalize", L"InstallValidate", L"RemoveEnvironmentStrings",
          L"RemoveIniValues", L"RemoveRegistryValues", L"RemoveShortcuts", L"RemoveFiles",
          L"RemoveFolders", L"CreateFolders", L"MoveFiles", L"InstallFiles", L"DuplicateFiles",
          L"WriteRegistryValues", L"WriteIniValues", L"WriteEnvironmentStrings",
          L"CreateShortcuts"})
      steps.push_back({order += 100, a, L""});
  }
  std::stable_sort(steps.begin(), steps.end(),
                   [](const Sequenced& a, const Sequenced& b) { return a.order < b.order; });
  for (const auto& step : steps) {
    // Directories and choices are settled by CostFinalize at the latest.
    if (!m_directoriesResolved && (step.action == L"CostFinalize" || step.order >= 1000) &&
        !Settle())
      return kInstallFailure;
    if (CancelRequested()) {
      m_log.Line(L"The installation was cancelled before " + step.action, false);
      return kUserExit;
    }
    const ConditionResult holds = Evaluate(step.condition);
    if (holds == ConditionResult::Error) return kInstallFailure;
    if (holds == ConditionResult::False) {
      m_log.Line(L"Skipping action: " + step.action + L" (condition is false)");
      continue;
    }
    m_log.Line(L"Doing action: " + step.action);
    m_log.Raw(L"Action start " + LogClock() + L": " + step.action + L".");
    int result = StandardAction(step.action);
    if (result < 0) result = CustomAction(step.action);
    m_log.Raw(L"Action ended " + LogClock() + L": " + step.action + L". Return value " +
              std::to_wstring(result == kSuccess ? 1 : 3) + L".");
    if (result != kSuccess) return result;
  }
  if (!m_directoriesResolved && !Settle()) return kInstallFailure;
  return kSuccess;
}

// The directories and the choice of features, once; false when the package names a folder or
// file with a name that is no single element (it would land elsewhere than it says).
bool Engine::Settle() {
  ResolveDirectories();
  ChooseFeatures();
  for (const auto& bad : m_badNames) m_log.Line(bad, false);
  return m_badNames.empty();
}

// A standard action: its result, or -1 when `action` is none.
int Engine::StandardAction(const std::wstring& action) {
  if (action == L"CostFinalize")
    return m_directoriesResolved || Settle() ? kSuccess : kInstallFailure;
  if (action == L"LaunchConditions") {
    const Table& t = m_database.Get(L"LaunchCondition");
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
      if (m_removing) break;
      if (!ConditionHolds(Evaluate(t.Cell(i, L"Condition")))) {
        m_log.Line(Format(t.Cell(i, L"Description")), false);
        return kInstallFailure;
      }
    }
    return kSuccess;
  }
  if (action == L"InstallFiles") return InstallFiles() ? kSuccess : kInstallFailure;
  if (action == L"WriteRegistryValues") return WriteRegistry(), kSuccess;
  if (action == L"RemoveRegistryValues") {
    RemoveItems(std::wstring{kValue, kTree, kKey});
    RemoveRegistry();
    return kSuccess;
  }
  if (action == L"CreateShortcuts") return CreateShortcuts(), kSuccess;
  if (action == L"RemoveShortcuts") return RemoveItems(std::wstring{kLink}), kSuccess;
  if (action == L"RemoveFiles") {
    RemoveFileTable(false);
    RemoveItems(std::wstring{kSharedDll, kFile, kFolder});
    RemoveFileTable(true);
    return kSuccess;
  }
  if (action == L"RemoveFolders") return RemoveItems(std::wstring{kFolder}), kSuccess;
  if (action == L"CreateFolders") return CreateFolders(), kSuccess;
  if (action == L"WriteIniValues") return WriteIni(), kSuccess;
  if (action == L"RemoveIniValues") return RemoveItems(std::wstring{kIni}), kSuccess;
  if (action == L"WriteEnvironmentStrings") return WriteEnvironment(), kSuccess;
  if (action == L"RemoveEnvironmentStrings") return RemoveItems(std::wstring{kEnv}), kSuccess;
  if (action == L"MoveFiles") return MoveFiles(), kSuccess;
  if (action == L"DuplicateFiles") return DuplicateFiles(), kSuccess;
  if (action == L"RemoveDuplicateFiles") return kSuccess;  // with RemoveFiles
  if (action == L"AppSearch") return AppSearch();
  if (action == L"FindRelatedProducts") return FindRelatedProducts(), kSuccess;
  if (action == L"RemoveExistingProducts") return RemoveExistingProducts();
  if (action == L"ScheduleReboot" || action == L"ForceReboot") {
    m_rebootNeeded = true;
    return kSuccess;
  }
  // Actions whose work is done elsewhere here (registration at the end) or that a machine
  // without a user interface and without a source list has nothing for.
  static const wchar_t* const kNothingToDo[] = {L"ValidateProductID",
                                                L"CostInitialize",
                                                L"FileCost",
                                                L"InstallValidate",
                                                L"InstallInitialize",
                                                L"InstallFinalize",
                                                L"ProcessComponents",
                                                L"UnpublishFeatures",
                                                L"UnpublishComponents",
                                                L"RegisterUser",
                                                L"RegisterProduct",
                                                L"PublishFeatures",
                                                L"PublishProduct",
                                                L"PublishComponents",
                                                L"MigrateFeatureStates",
                                                L"InstallExecute",
                                                L"InstallExecuteAgain",
                                                L"InstallAdminPackage",
                                                L"ResolveSource",
                                                L"CCPSearch",
                                                L"RMCCPSearch",
                                                L"InstallSFPCatalogFile",
                                                L"AllocateRegistrySpace",
                                                L"SetODBCFolders",
                                                L"DeleteServices",
                                                L"StopServices",
                                                L"StartServices",
                                                L"UnregisterComPlus",
                                                L"RegisterComPlus",
                                                L"SelfUnregModules",
                                                L"SelfRegModules",
                                                L"UnregisterTypeLibraries",
                                                L"RegisterTypeLibraries",
                                                L"UnregisterClassInfo",
                                                L"RegisterClassInfo",
                                                L"UnregisterExtensionInfo",
                                                L"RegisterExtensionInfo",
                                                L"UnregisterProgIdInfo",
                                                L"RegisterProgIdInfo",
                                                L"UnregisterMIMEInfo",
                                                L"RegisterMIMEInfo",
                                                L"UnregisterFonts",
                                                L"RegisterFonts",
                                                L"RemoveODBC",
                                                L"InstallODBC",
                                                L"IsolateComponents",
                                                L"BindImage",
                                                L"PatchFiles",
                                                L"MsiPublishAssemblies",
                                                L"MsiUnpublishAssemblies",
                                                L"InstallServices",
                                                L"MsiConfigureServices",
                                                L"DisableRollback",
                                                L"SetODBCFolders"};
  for (const wchar_t* name : kNothingToDo)
    if (action == name) return kSuccess;
  return -1;
}

int Engine::CustomAction(const std::wstring& action) {
  const Table& t = m_database.Get(L"CustomAction");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    if (t.Cell(i, L"Action") != action) continue;
    const int type = Number(t.Cell(i, L"Type"));
    const std::wstring source = t.Cell(i, L"Source");
    const std::wstring target = Format(t.Cell(i, L"Target"));
    const int base = type & 0x3f;
    if (base == 51) {  // a property
      SetProperty(source, target);
      if (!m_directoriesResolved && !target.empty()) m_directoryOverrides[source] = target;
      return kSuccess;
    }
    if (base == 35) {  // a directory
      SetProperty(source, target);
      m_directoryOverrides[source] = target;
      if (m_directoriesResolved) {
        // Its folders below move with it.
        for (const auto& [id, path] : m_directories)
          if (!m_directoryOverrides.count(id) || id == source) m_properties.erase(id);
        ResolveDirectories();
      }
      return kSuccess;
    }
    if (base == 19) {  // an error that ends the run
      m_log.Line(L"Error: " + target, false);
      return kInstallFailure;
    }
    if (base == 18 || base == 34 || base == 50) {  // an installed program, a program in a folder
      std::wstring program, folder;
      if (base == 18) {
        auto f = m_filePaths.find(source);
        program = f == m_filePaths.end() ? L"" : f->second;
      } else if (base == 50) {
        program = Property(source);
      }
      std::wstring line = base == 34 ? target : L"\"" + program + L"\" " + target;
      if (base == 34) folder = Directory(source);
      if (base != 34 && program.empty()) {
        m_log.Line(L"The program of the action " + action + L" is not known", false);
        return (type & kActionContinue) ? kSuccess : kInstallFailure;
      }
      m_log.Line(L"Running " + line);
      platform::ProcessHandle process;
      platform::StartupInfo startup;
      platform::DWORD code = 1;
      platform::DWORD started = platform::CreateProcessW(line, folder, startup, process);
      if (started == platform::ERROR_SUCCESS) {
        platform::WaitForSingleObject(process, platform::INFINITE);
        platform::GetExitCodeProcess(process, code);
        platform::CloseHandle(process);
      }
      if (started != platform::ERROR_SUCCESS || code != 0) {
        m_log.Line(L"The action " + action + L" " +
                       (started != platform::ERROR_SUCCESS
                            ? L"could not start its program: " + platform::SystemErrorText(started)
                            : L"ended with " + std::to_wstring(code)),
                   false);
        if (!(type & kActionContinue)) return kInstallFailure;
      }
      return kSuccess;
    }
    m_log.Line(L"The custom action " + action + L" of type " + std::to_wstring(type) +
                   L" is not supported by this msiexec" +
                   ((type & kActionContinue) ? L"; it is skipped" : L""),
               false);
    return (type & kActionContinue) ? kSuccess : kInstallFailure;
  }
  m_log.Line(L"The action " + action + L" is not supported by this msiexec", false);
  return kInstallFailure;
}

// --- Related products ------------------------------------------------------------------------

namespace {

// The first three fields of a version, as the Installer compares them.
std::vector<int> VersionFields(const std::wstring& text) {
  std::vector<int> fields(3, 0);
  std::size_t start = 0;
  for (int i = 0; i < 3 && start < text.size(); ++i) {
    std::size_t end = text.find(L'.', start);
    fields[i] = Number(text.substr(start, end == std::wstring::npos ? end : end - start));
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return fields;
}

constexpr int kUpgradeOnlyDetect = 0x2;
constexpr int kUpgradeMinInclusive = 0x100;
constexpr int kUpgradeMaxInclusive = 0x200;

}  // namespace

// The Upgrade table: the products of the same upgrade codes whose versions lie in a row's range
// go into the row's property, as a list of product codes.
void Engine::FindRelatedProducts() {
  const Table& t = m_database.Get(L"Upgrade");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    const std::wstring property = t.Cell(i, L"ActionProperty");
    if (property.empty()) continue;
    const int attributes = Number(t.Cell(i, L"Attributes"));
    const std::wstring low = t.Cell(i, L"VersionMin"), high = t.Cell(i, L"VersionMax");
    for (const auto& code : RelatedProducts(platform::ToUpper(t.Cell(i, L"UpgradeCode")))) {
      if (code == m_productCode) continue;
      platform::RegKey entry;
      std::wstring version;
      if (entry.Open(platform::HKEY_LOCAL_MACHINE, kUninstallKey + code) !=
              platform::ERROR_SUCCESS ||
          entry.QueryString(L"DisplayVersion", version) != platform::ERROR_SUCCESS)
        continue;
      const auto v = VersionFields(version);
      if (!low.empty()) {
        const auto l = VersionFields(low);
        if (v < l || (v == l && !(attributes & kUpgradeMinInclusive))) continue;
      }
      if (!high.empty()) {
        const auto h = VersionFields(high);
        if (v > h || (v == h && !(attributes & kUpgradeMaxInclusive))) continue;
      }
      const std::wstring now = Property(property);
      if (now.find(code) != std::wstring::npos) continue;
      m_log.Line(L"Found the related product " + code + L" " + version + L" for " + property,
                 false);
      SetProperty(property, now.empty() ? code : now + L";" + code);
    }
  }
}

// The related products found for removal (rows that do not only detect) are removed first.
int Engine::RemoveExistingProducts() {
  if (m_removing) return kSuccess;
  const Table& t = m_database.Get(L"Upgrade");
  for (std::size_t i = 0; i < t.rows.size(); ++i) {
    if (Number(t.Cell(i, L"Attributes")) & kUpgradeOnlyDetect) continue;
    const std::wstring codes = Property(t.Cell(i, L"ActionProperty"));
    std::size_t start = 0;
    while (start < codes.size()) {
      std::size_t end = codes.find(L';', start);
      const std::wstring code =
          codes.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
      start = end == std::wstring::npos ? codes.size() : end + 1;
      if (!IsGuid(code) || code == m_productCode) continue;
      m_log.Line(L"Removing the related product " + code, false);
      Options removal;
      removal.action = Options::Action::Remove;
      removal.target = code;
      removal.quiet = true;
      Engine older(removal, m_log);
      const int result = older.Run();
      if (result != kSuccess && result != kRebootRequired && result != kUnknownProduct) {
        m_log.Line(
            L"The related product " + code + L" cannot be removed: " + std::to_wstring(result),
            false);
        return kInstallFailure;
      }
      if (result == kRebootRequired) m_rebootNeeded = true;
    }
  }
  return kSuccess;
}

// --- Searches --------------------------------------------------------------------------------

// AppSearch through the registry (RegLocator): a raw value in the Installer's text form, or a
// folder or file the value names when it exists. Other searches fail the run.
int Engine::AppSearch() {
  const Table& search = m_database.Get(L"AppSearch");
  const Table& locators = m_database.Get(L"RegLocator");
  const Table& signatures = m_database.Get(L"Signature");
  for (std::size_t i = 0; i < search.rows.size(); ++i) {
    const std::wstring property = search.Cell(i, L"Property");
    const std::wstring signature = search.Cell(i, L"Signature_");
    std::size_t row = locators.rows.size();
    for (std::size_t r = 0; r < locators.rows.size(); ++r)
      if (locators.Cell(r, L"Signature_") == signature) row = r;
    bool fileSignature = false;
    for (std::size_t r = 0; r < signatures.rows.size(); ++r)
      fileSignature = fileSignature || signatures.Cell(r, L"Signature") == signature;
    const int type = row < locators.rows.size() ? Number(locators.Cell(row, L"Type")) : -1;
    if (row == locators.rows.size() || fileSignature || (type & 0x0f) > 2) {
      m_log.Line(L"The search " + signature + L" for " + property +
                     L" is not one this msiexec carries out (a registry value, folder or file)",
                 false);
      return kInstallFailure;
    }
    const std::wstring rootText = locators.Cell(row, L"Root");
    const platform::HKEY root = rootText == L"0"   ? platform::HKEY_CLASSES_ROOT
                                : rootText == L"1" ? platform::HKEY_CURRENT_USER
                                : rootText == L"3" ? platform::HKEY_USERS
                                                   : platform::HKEY_LOCAL_MACHINE;
    const platform::REGSAM view =
        (type & 0x10) ? platform::KEY_WOW64_64KEY : platform::KEY_WOW64_32KEY;
    platform::RegKey key;
    if (key.Open(root, CleanKey(Format(locators.Cell(row, L"Key"))), platform::KEY_READ | view) !=
        platform::ERROR_SUCCESS)
      continue;
    const std::wstring name = Format(locators.Cell(row, L"Name"));
    std::wstring found;
    for (const auto& v : key.ValueList()) {
      if (!platform::EqualsNoCase(v.name, name)) continue;
      std::wstring text;
      if (v.type == platform::REG_SZ || v.type == platform::REG_EXPAND_SZ) {
        key.QueryString(v.name, text);
        found = (v.type == platform::REG_EXPAND_SZ && (type & 0x0f) == 2 ? L"#%" : L"") + text;
      } else if (v.type == platform::REG_DWORD) {
        platform::DWORD n = 0;
        key.QueryDword(v.name, n);
        found = L"#" + std::to_wstring(static_cast<std::int32_t>(n));
      } else if (v.type == platform::REG_MULTI_SZ) {
        std::vector<std::wstring> items;
        key.QueryMultiString(v.name, items);
        for (const auto& item : items) found += (found.empty() ? L"" : L"[~]") + item;
      } else {
        found = L"#x";
        for (auto b : v.data) {
          wchar_t hex[3];
          std::swprintf(hex, 3, L"%02X", static_cast<unsigned>(b));
          found += hex;
        }
      }
      break;
    }
    if (found.empty()) continue;
    if ((type & 0x0f) == 0) {  // a folder that exists
      if (!platform::PathIsDirectoryW(found)) continue;
      found = WithSlash(found);
    } else if ((type & 0x0f) == 1) {  // a file that exists
      if (!platform::PathFileExistsW(found) || platform::PathIsDirectoryW(found)) continue;
    }
    SetProperty(property, found);
    if (!m_directoriesResolved) m_directoryOverrides[property] = found;
  }
  return kSuccess;
}

}  // namespace Msi
