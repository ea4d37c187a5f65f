// The execute sequence: its actions in order under their conditions, the standard actions and
// the custom actions a machine can honour.
#include <algorithm>

#include "msiexec/Engine.h"
#include "msiexec/EngineCommon.h"
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
    if (!m_directoriesResolved && (step.action == L"CostFinalize" || step.order >= 1000)) {
      ResolveDirectories();
      ChooseFeatures();
    }
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
  if (!m_directoriesResolved) {
    ResolveDirectories();
    ChooseFeatures();
  }
  return kSuccess;
}

// A standard action: its result, or -1 when `action` is none.
int Engine::StandardAction(const std::wstring& action) {
  if (action == L"CostFinalize") {
    if (!m_directoriesResolved) {
      ResolveDirectories();
      ChooseFeatures();
    }
    return kSuccess;
  }
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
                                                L"FindRelatedProducts",
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
                                                L"AppSearch",
                                                L"RemoveExistingProducts",
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

}  // namespace Msi
